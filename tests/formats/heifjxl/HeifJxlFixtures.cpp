#include "tests/formats/heifjxl/HeifJxlFixtures.h"

#include "imaging/Orientation.h"

#include <jpeglib.h>
#include <png.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace fs = std::filesystem;

TScratch::TScratch() {
  std::string Pattern = (fs::temp_directory_path() / "imbrel-heifjxl-XXXXXX").string();
  if (::mkdtemp(Pattern.data())) FDir = Pattern;
}

TScratch::~TScratch() {
  std::error_code Ignored;
  if (!FDir.empty()) fs::remove_all(FDir, Ignored);
}

std::string TScratch::Write(const std::string& Name, const TBytes& Bytes) const {
  const std::string P = Path(Name);
  std::ofstream(P, std::ios::binary) << Bytes;
  return P;
}

std::string FindTool(const std::string& Name) {
  const char* Path = std::getenv("PATH");
  std::stringstream Dirs(Path ? Path : "/usr/bin:/bin");
  std::string Dir;
  while (std::getline(Dirs, Dir, ':')) {
    const fs::path Candidate = fs::path(Dir.empty() ? "." : Dir) / Name;
    if (::access(Candidate.c_str(), X_OK) == 0) return Candidate.string();
  }
  return "";
}

bool RunTool(const std::vector<std::string>& Args) {
  std::vector<char*> Argv;
  for (const std::string& A : Args)
    Argv.push_back(const_cast<char*>(A.c_str()));
  Argv.push_back(nullptr);
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addopen(&Actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&Actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&Actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t Child = 0;
  const int Failed = posix_spawnp(&Child, Argv[0], &Actions, nullptr, Argv.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  if (Failed != 0) return false;
  int Status = 0;
  if (::waitpid(Child, &Status, 0) != Child) return false;
  return WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
}

TBytes ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream Out;
  Out << In.rdbuf();
  return Out.str();
}

// ---- Source pictures ------------------------------------------------------------

uint8_t TPicture::At(int X, int Y, int C) const {
  const size_t I = (size_t(Y) * size_t(Width) + size_t(X)) * size_t(Channels) + size_t(C);
  if (BitDepth == 8) return Pixels[I];
  const unsigned V = (unsigned(Pixels[2 * I]) << 8) | Pixels[2 * I + 1];
  return uint8_t((V * 255 + 32767) / 65535);
}

namespace {

void Put(TPicture& P, unsigned Value8) {
  if (P.BitDepth == 8) {
    P.Pixels.push_back(uint8_t(Value8));
  } else {
    const unsigned V = Value8 * 257;
    P.Pixels.push_back(uint8_t(V >> 8));
    P.Pixels.push_back(uint8_t(V & 0xFF));
  }
}

const char* const kBlockNames = "RGB/CMY";

uint32_t BlockColour(char Name) {
  switch (Name) {
  case 'R':
    return MakeRgb(255, 0, 0);
  case 'G':
    return MakeRgb(0, 255, 0);
  case 'B':
    return MakeRgb(0, 0, 255);
  case 'C':
    return MakeRgb(0, 255, 255);
  case 'M':
    return MakeRgb(255, 0, 255);
  default:
    return MakeRgb(255, 255, 0);
  }
}

} // namespace

TPicture Ramps(int Width, int Height, int Channels, int BitDepth) {
  TPicture P{Width, Height, Channels, BitDepth, {}};
  for (int Y = 0; Y < Height; ++Y)
    for (int X = 0; X < Width; ++X) {
      const unsigned Across = unsigned(X * 255 / std::max(1, Width - 1));
      const unsigned Down = unsigned(Y * 255 / std::max(1, Height - 1));
      if (Channels <= 2) {
        Put(P, (Across + Down) / 2);
      } else {
        Put(P, Across);
        Put(P, Down);
        Put(P, 96);
      }
      if (Channels == 2 || Channels == 4) Put(P, Across);
    }
  return P;
}

TPicture Blocks(int Block) {
  TPicture P{3 * Block, 2 * Block, 3, 8, {}};
  for (int Y = 0; Y < P.Height; ++Y)
    for (int X = 0; X < P.Width; ++X) {
      const uint32_t C = BlockColour(kBlockNames[(Y / Block) * 4 + X / Block]);
      P.Pixels.insert(P.Pixels.end(), {uint8_t(C >> 16), uint8_t(C >> 8), uint8_t(C)});
    }
  return P;
}

TPicture Solid(int Width, int Height, uint8_t Red, uint8_t Green, uint8_t Blue) {
  TPicture P{Width, Height, 3, 8, {}};
  for (int I = 0; I < Width * Height; ++I)
    P.Pixels.insert(P.Pixels.end(), {Red, Green, Blue});
  return P;
}

namespace {

void AppendToString(png_structp Png, png_bytep Data, size_t Length) {
  static_cast<TBytes*>(png_get_io_ptr(Png))->append(reinterpret_cast<const char*>(Data), Length);
}

void NoFlush(png_structp) {}

} // namespace

TBytes MakePng(const TPicture& P, const TPngExtras& Extras) {
  TBytes Out;
  png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop Info = png_create_info_struct(Png);
  if (setjmp(png_jmpbuf(Png)) != 0) {
    png_destroy_write_struct(&Png, &Info);
    return "";
  }
  static const int kColourTypes[] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                     PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
  png_set_write_fn(Png, &Out, AppendToString, NoFlush);
  png_set_IHDR(Png, Info, png_uint_32(P.Width), png_uint_32(P.Height), P.BitDepth,
               kColourTypes[P.Channels], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (Extras.Gamma > 0) png_set_gAMA(Png, Info, Extras.Gamma);
  if (Extras.Chromaticities.size() == 8) {
    const std::vector<double>& C = Extras.Chromaticities;
    png_set_cHRM(Png, Info, C[0], C[1], C[2], C[3], C[4], C[5], C[6], C[7]);
  }
  if (!Extras.Icc.empty())
    png_set_iCCP(Png, Info, "profile", PNG_COMPRESSION_TYPE_BASE,
                 reinterpret_cast<png_const_bytep>(Extras.Icc.data()),
                 png_uint_32(Extras.Icc.size()));
  png_write_info(Png, Info);
  const size_t RowBytes = size_t(P.Width) * size_t(P.Channels) * size_t(P.BitDepth / 8);
  for (int Y = 0; Y < P.Height; ++Y)
    png_write_row(Png, P.Pixels.data() + size_t(Y) * RowBytes);
  png_write_end(Png, Info);
  png_destroy_write_struct(&Png, &Info);
  return Out;
}

TBytes MakeExifJpeg(const TPicture& P, int Orientation) {
  // "Exif\0\0", then a little-endian TIFF header and one directory holding
  // the orientation.
  TBytes Exif("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 24);
  Exif += char(Orientation);
  Exif += TBytes(7, '\0'); // rest of the value, no next directory

  jpeg_compress_struct Info{};
  jpeg_error_mgr Errors{};
  Info.err = jpeg_std_error(&Errors);
  jpeg_create_compress(&Info);
  unsigned char* Buffer = nullptr;
  unsigned long Size = 0;
  jpeg_mem_dest(&Info, &Buffer, &Size);
  Info.image_width = JDIMENSION(P.Width);
  Info.image_height = JDIMENSION(P.Height);
  Info.input_components = 3;
  Info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&Info);
  jpeg_set_quality(&Info, 95, TRUE);
  jpeg_start_compress(&Info, TRUE);
  jpeg_write_marker(&Info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(Exif.data()),
                    unsigned(Exif.size()));
  while (Info.next_scanline < Info.image_height) {
    JSAMPROW Row = const_cast<JSAMPROW>(P.Pixels.data() + size_t(Info.next_scanline) * 3 * size_t(P.Width));
    jpeg_write_scanlines(&Info, &Row, 1);
  }
  jpeg_finish_compress(&Info);
  jpeg_destroy_compress(&Info);
  TBytes Out(reinterpret_cast<const char*>(Buffer), Size);
  std::free(Buffer);
  return Out;
}

bool ReadPng(const std::string& Path, TPicture& Out) {
  FILE* File = std::fopen(Path.c_str(), "rb");
  if (!File) return false;
  png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop Info = png_create_info_struct(Png);
  if (setjmp(png_jmpbuf(Png)) != 0) {
    png_destroy_read_struct(&Png, &Info, nullptr);
    std::fclose(File);
    return false;
  }
  png_init_io(Png, File);
  png_read_png(Png, Info, PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_GRAY_TO_RGB, nullptr);
  const int Width = int(png_get_image_width(Png, Info));
  const int Height = int(png_get_image_height(Png, Info));
  const int Channels = png_get_channels(Png, Info);
  const int Depth = png_get_bit_depth(Png, Info);
  png_bytepp Rows = png_get_rows(Png, Info);
  Out = TPicture{Width, Height, 4, 8, {}};
  Out.Pixels.reserve(size_t(Width) * size_t(Height) * 4);
  for (int Y = 0; Y < Height; ++Y)
    for (int X = 0; X < Width; ++X)
      for (int C = 0; C < 4; ++C) {
        if (C == 3 && Channels < 4) {
          Out.Pixels.push_back(255);
          continue;
        }
        const png_bytep S = Rows[Y] + (size_t(X) * size_t(Channels) + size_t(C)) * size_t(Depth / 8);
        const unsigned V = Depth == 16 ? ((unsigned(S[0]) << 8 | S[1]) * 255 + 32767) / 65535 : S[0];
        Out.Pixels.push_back(uint8_t(V));
      }
  png_destroy_read_struct(&Png, &Info, nullptr);
  std::fclose(File);
  return true;
}

// ---- Comparisons ------------------------------------------------------------------

uint32_t CompositedAt(const TPicture& R, int X, int Y, uint32_t Background) {
  const unsigned A = R.At(X, Y, 3);
  const auto Blend = [&](int C, unsigned Back) {
    return (unsigned(R.At(X, Y, C)) * A + Back * (255 - A) + 127) / 255;
  };
  return MakeRgb(uint8_t(Blend(0, (Background >> 16) & 0xFF)),
                 uint8_t(Blend(1, (Background >> 8) & 0xFF)), uint8_t(Blend(2, Background & 0xFF)));
}

int ColourDistance(uint32_t A, uint32_t B) {
  int Largest = 0;
  for (int Shift : {0, 8, 16})
    Largest = std::max(Largest, std::abs(int((A >> Shift) & 0xFF) - int((B >> Shift) & 0xFF)));
  return Largest;
}

int LargestDifference(const TDibGraphic& Decoded, const TPicture& Reference, uint32_t Background) {
  if (Decoded.Width() != Reference.Width || Decoded.Height() != Reference.Height) return -1;
  int Largest = 0;
  for (int Y = 0; Y < Reference.Height; ++Y)
    for (int X = 0; X < Reference.Width; ++X)
      Largest = std::max(Largest, ColourDistance(Decoded.GetPixelColor(X, Y),
                                                 CompositedAt(Reference, X, Y, Background)));
  return Largest;
}

std::string ShownBlocks(const TDibGraphic& G, int Block) {
  std::string Shown;
  for (int Y = 0; Y < G.Height() / Block; ++Y) {
    if (Y > 0) Shown += '/';
    for (int X = 0; X < G.Width() / Block; ++X) {
      const uint32_t C = G.GetPixelColor(X * Block + Block / 2, Y * Block + Block / 2);
      char Name = '?';
      for (const char N : std::string("RGBCMY"))
        if (ColourDistance(C, BlockColour(N)) < 60) Name = N;
      Shown += Name;
    }
  }
  return Shown;
}

const char* const kUprightBlocks[9] = {"",         "RGB/CMY",  "BGR/YMC",  "YMC/BGR", "CMY/RGB",
                                       "RC/GM/BY", "CR/MG/YB", "YB/MG/CR", "BY/GM/RC"};

TOrientationOff::TOrientationOff() {
  SetOrientationEnabled(false);
}
TOrientationOff::~TOrientationOff() {
  SetOrientationEnabled(true);
}

#include "tests/formats/lib/LibFixtures.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

extern "C" {
#include <jpeglib.h>
}

// ---- JPEG -------------------------------------------------------------------

TBytes MakeJpeg(const TJpegFixture& F) {
  jpeg_compress_struct Info{};
  jpeg_error_mgr Err{};
  Info.err = jpeg_std_error(&Err);
  jpeg_create_compress(&Info);
  unsigned char* Out = nullptr;
  unsigned long OutSize = 0;
  jpeg_mem_dest(&Info, &Out, &OutSize);
  Info.image_width = static_cast<JDIMENSION>(F.Width);
  Info.image_height = static_cast<JDIMENSION>(F.Height);
  Info.input_components = F.Components;
  Info.in_color_space =
      F.Components == 1 ? JCS_GRAYSCALE : (F.Components == 4 ? JCS_CMYK : JCS_RGB);
  jpeg_set_defaults(&Info);
  if (F.Components == 4) jpeg_set_colorspace(&Info, JCS_CMYK);
  jpeg_set_quality(&Info, F.Quality, TRUE);
  if (F.Progressive) jpeg_simple_progression(&Info);
  Info.density_unit = static_cast<UINT8>(F.DensityUnit);
  Info.X_density = static_cast<UINT16>(F.XDensity);
  Info.Y_density = static_cast<UINT16>(F.YDensity);
  jpeg_start_compress(&Info, TRUE);
  for (const std::vector<uint8_t>& Segment : F.App2)
    jpeg_write_marker(&Info, JPEG_APP0 + 2, Segment.data(), static_cast<unsigned>(Segment.size()));
  const size_t Stride = size_t(F.Width) * size_t(F.Components);
  while (Info.next_scanline < Info.image_height) {
    JSAMPROW Row = const_cast<JSAMPROW>(F.Pixels.data() + Stride * Info.next_scanline);
    jpeg_write_scanlines(&Info, &Row, 1);
  }
  jpeg_finish_compress(&Info);
  TBytes Result(reinterpret_cast<const char*>(Out), OutSize);
  jpeg_destroy_compress(&Info);
  std::free(Out);
  return Result;
}

std::vector<std::vector<uint8_t>> IccSegments(const std::vector<uint8_t>& Profile,
                                              size_t ChunkSize) {
  static const char Tag[12] = "ICC_PROFILE";
  const size_t Count = (Profile.size() + ChunkSize - 1) / ChunkSize;
  std::vector<std::vector<uint8_t>> Segments;
  for (size_t I = 0; I < Count; ++I) {
    std::vector<uint8_t> S(Tag, Tag + sizeof(Tag));
    S.push_back(static_cast<uint8_t>(I + 1));
    S.push_back(static_cast<uint8_t>(Count));
    const size_t From = I * ChunkSize, To = std::min(Profile.size(), From + ChunkSize);
    S.insert(S.end(), Profile.begin() + long(From), Profile.begin() + long(To));
    Segments.push_back(std::move(S));
  }
  return Segments;
}

// ---- PNG --------------------------------------------------------------------

namespace {
void AppendToString(png_structp Png, png_bytep Data, size_t Length) {
  static_cast<TBytes*>(png_get_io_ptr(Png))->append(reinterpret_cast<const char*>(Data), Length);
}
void NoFlush(png_structp) {}
} // namespace

TBytes MakePng(const TPngFixture& F) {
  TBytes Out;
  png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop Info = png_create_info_struct(Png);
  if (setjmp(png_jmpbuf(Png))) {
    png_destroy_write_struct(&Png, &Info);
    throw std::runtime_error("fixture PNG could not be written");
  }
  png_set_write_fn(Png, &Out, AppendToString, NoFlush);
  png_set_IHDR(Png, Info, F.Width, F.Height, F.BitDepth, F.ColorType,
               F.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!F.Palette.empty()) {
    std::vector<png_color> P;
    for (const TPngRgb& C : F.Palette)
      P.push_back({C.R, C.G, C.B});
    png_set_PLTE(Png, Info, P.data(), static_cast<int>(P.size()));
  }
  if (!F.PaletteAlpha.empty())
    png_set_tRNS(Png, Info, F.PaletteAlpha.data(), static_cast<int>(F.PaletteAlpha.size()),
                 nullptr);
  if (F.Gamma > 0) png_set_gAMA(Png, Info, F.Gamma);
  if (F.Srgb) png_set_sRGB(Png, Info, PNG_sRGB_INTENT_PERCEPTUAL);
  if (F.HasBackground) {
    png_color_16 B{};
    B.index = static_cast<png_byte>(F.BackIndex);
    B.gray = F.BackGrey;
    B.red = F.BackR;
    B.green = F.BackG;
    B.blue = F.BackB;
    png_set_bKGD(Png, Info, &B);
  }
  if (F.HasPhys) png_set_pHYs(Png, Info, F.PhysX, F.PhysY, F.PhysUnit);
  if (!F.Icc.empty())
    png_set_iCCP(Png, Info, "profile", PNG_COMPRESSION_TYPE_BASE, F.Icc.data(),
                 static_cast<png_uint_32>(F.Icc.size()));
  if (F.Chromaticities.size() == 8) {
    const std::vector<double>& C = F.Chromaticities;
    png_set_cHRM(Png, Info, C[0], C[1], C[2], C[3], C[4], C[5], C[6], C[7]);
  }
  png_write_info(Png, Info);
  const size_t RowBytes = png_get_rowbytes(Png, Info);
  std::vector<png_bytep> Rows(F.Height);
  for (uint32_t Y = 0; Y < F.Height; ++Y)
    Rows[Y] = const_cast<png_bytep>(F.Rows.data() + RowBytes * Y);
  png_write_image(Png, Rows.data());
  png_write_end(Png, Info);
  png_destroy_write_struct(&Png, &Info);
  return Out;
}

// ---- TIFF -------------------------------------------------------------------

namespace {
std::string TempName() {
  std::string Name = (std::filesystem::temp_directory_path() / "imbrel-libfmt-XXXXXX").string();
  const int Fd = mkstemp(Name.data());
  if (Fd >= 0) close(Fd);
  return Name;
}
} // namespace

TBytes ReadFileBytes(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

TBytes MakeTiff(const std::vector<TTiffPage>& Pages) {
  const std::string Path = TempName();
  TIFF* Tif = TIFFOpen(Path.c_str(), "w");
  if (Tif == nullptr) throw std::runtime_error("fixture TIFF could not be opened");
  for (const TTiffPage& P : Pages) {
    TIFFSetField(Tif, TIFFTAG_IMAGEWIDTH, P.Width);
    TIFFSetField(Tif, TIFFTAG_IMAGELENGTH, P.Height);
    TIFFSetField(Tif, TIFFTAG_BITSPERSAMPLE, P.BitsPerSample);
    TIFFSetField(Tif, TIFFTAG_SAMPLESPERPIXEL, P.SamplesPerPixel);
    TIFFSetField(Tif, TIFFTAG_PHOTOMETRIC, P.Photometric);
    TIFFSetField(Tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(Tif, TIFFTAG_COMPRESSION, P.Compression);
    if (P.RowsPerStrip != 0) TIFFSetField(Tif, TIFFTAG_ROWSPERSTRIP, P.RowsPerStrip);
    if (P.Extra) P.Extra(Tif);
    const tmsize_t Scan = TIFFScanlineSize(Tif);
    std::vector<uint8_t> Row(static_cast<size_t>(Scan));
    for (uint32_t Y = 0; Y < P.Height; ++Y) {
      std::memcpy(Row.data(), P.Rows.data() + size_t(Scan) * Y, Row.size());
      if (TIFFWriteScanline(Tif, Row.data(), Y, 0) < 0) {
        TIFFClose(Tif);
        std::remove(Path.c_str());
        throw std::runtime_error("fixture TIFF row could not be written");
      }
    }
    TIFFWriteDirectory(Tif);
  }
  TIFFClose(Tif);
  TBytes Bytes = ReadFileBytes(Path);
  std::remove(Path.c_str());
  return Bytes;
}

namespace {
void Put16(TBytes& B, size_t At, uint32_t V) {
  B[At] = static_cast<char>(V & 0xFF);
  B[At + 1] = static_cast<char>((V >> 8) & 0xFF);
}
void Put32(TBytes& B, size_t At, uint32_t V) {
  for (int I = 0; I < 4; ++I)
    B[At + size_t(I)] = static_cast<char>((V >> (8 * I)) & 0xFF);
}
} // namespace

TBytes RawTiff(std::vector<TRawTag> Tags, const std::vector<uint8_t>& Data) {
  Tags.push_back({273, 4, {0}});                                  // StripOffsets, filled below
  Tags.push_back({279, 4, {static_cast<uint32_t>(Data.size())}}); // StripByteCounts
  std::sort(Tags.begin(), Tags.end(),
            [](const TRawTag& A, const TRawTag& B) { return A.Tag < B.Tag; });
  auto Size = [](const TRawTag& T) { return T.Type == 3 ? 2u : 4u; };
  // Layout: header (8), IFD, out-of-line values, strip data.
  const size_t IfdSize = 2 + 12 * Tags.size() + 4;
  size_t Extra = 8 + IfdSize;
  TBytes B(Extra, '\0');
  B[0] = 'I';
  B[1] = 'I';
  Put16(B, 2, 42);
  Put32(B, 4, 8);
  Put16(B, 8, static_cast<uint32_t>(Tags.size()));
  std::vector<std::pair<size_t, size_t>> StripOffsetSlot; // (where to write, unused)
  for (size_t I = 0; I < Tags.size(); ++I) {
    const TRawTag& T = Tags[I];
    const size_t E = 10 + 12 * I;
    const uint32_t Count = T.Type == 5 ? uint32_t(T.Values.size() / 2) : uint32_t(T.Values.size());
    Put16(B, E, T.Tag);
    Put16(B, E + 2, T.Type);
    Put32(B, E + 4, Count);
    const size_t Bytes = T.Type == 5 ? 8 * Count : Size(T) * Count;
    size_t At = E + 8;
    if (Bytes > 4) {
      At = B.size();
      B.resize(B.size() + Bytes + (Bytes & 1), '\0');
      Put32(B, E + 8, static_cast<uint32_t>(At));
    }
    for (size_t V = 0; V < T.Values.size(); ++V) {
      if (T.Type == 3)
        Put16(B, At + 2 * V, T.Values[V]);
      else
        Put32(B, At + 4 * V, T.Values[V]);
    }
    if (T.Tag == 273) StripOffsetSlot.push_back({At, 0});
  }
  const size_t DataAt = B.size();
  B.append(reinterpret_cast<const char*>(Data.data()), Data.size());
  for (auto& S : StripOffsetSlot)
    Put32(B, S.first, static_cast<uint32_t>(DataAt));
  return B;
}

// ---- Streams ----------------------------------------------------------------

int64_t TPlainStream::Read(void* Buffer, int64_t Count) {
  ++ReadCalls;
  LargestRead = std::max(LargestRead, Count);
  if (FFailAfter >= 0 && FPos + Count > FFailAfter) throw EStreamError("Stream read error");
  const int64_t Left = static_cast<int64_t>(FData.size()) - FPos;
  const int64_t N = std::max<int64_t>(0, std::min(Count, Left));
  std::memcpy(Buffer, FData.data() + FPos, static_cast<size_t>(N));
  FPos += N;
  return N;
}

int64_t TPlainStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  switch (Origin) {
  case TSeekOrigin::soBeginning:
    FPos = Offset;
    break;
  case TSeekOrigin::soCurrent:
    FPos += Offset;
    break;
  case TSeekOrigin::soEnd:
    FPos = static_cast<int64_t>(FData.size()) + Offset;
    break;
  }
  return FPos;
}

TBytes SavedBytes(TDibGraphic& G) {
  TMemoryStream S;
  G.SaveToStream(S);
  return TBytes(reinterpret_cast<const char*>(S.Memory()), static_cast<size_t>(S.Size()));
}

// ---- Reference decodings ----------------------------------------------------------

bool ReadReferencePng(const std::string& Path, TRgbImage& Out) {
  png_image Image{};
  Image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&Image, Path.c_str()) == 0) return false;
  Image.format = PNG_FORMAT_RGB;
  Out.Width = static_cast<int>(Image.width);
  Out.Height = static_cast<int>(Image.height);
  Out.Rgb.assign(PNG_IMAGE_SIZE(Image), 0);
  if (png_image_finish_read(&Image, nullptr, Out.Rgb.data(), 0, nullptr) == 0) {
    png_image_free(&Image);
    return false;
  }
  return true;
}

uint8_t Red(uint32_t C) {
  return static_cast<uint8_t>((C >> 16) & 0xFF);
}
uint8_t Green(uint32_t C) {
  return static_cast<uint8_t>((C >> 8) & 0xFF);
}
uint8_t Blue(uint32_t C) {
  return static_cast<uint8_t>(C & 0xFF);
}

int ColourDistance(uint32_t A, uint32_t B) {
  return std::max(
      {std::abs(Red(A) - Red(B)), std::abs(Green(A) - Green(B)), std::abs(Blue(A) - Blue(B))});
}

uint16_t ScreenDpi() {
  TDibGraphic G;
  G.NewImage(1, 1, ifTrueColor, nullptr, 0, 0);
  return G.XDpi();
}

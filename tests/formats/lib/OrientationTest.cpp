// Photos the right way up: the EXIF reader on damaged and well-formed blocks,
// JPEG and TIFF files with each orientation loaded upright (and as stored
// when switched off), and the decode tool doing the same.

#include "formats/ExifReader.h"
#include "formats/JpegGraphic.h"
#include "imaging/Orientation.h"
#include "formats/TiffGraphic.h"

#include "tests/formats/lib/LibFixtures.h"

#include <tiffio.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// ---- EXIF blocks --------------------------------------------------------------

void Put16(TBytes& B, bool Big, uint32_t V) {
  const char Hi = char(V >> 8 & 0xFF), Lo = char(V & 0xFF);
  B += Big ? TBytes{Hi, Lo} : TBytes{Lo, Hi};
}
void Put32(TBytes& B, bool Big, uint32_t V) {
  Put16(B, Big, Big ? V >> 16 : V & 0xFFFF);
  Put16(B, Big, Big ? V & 0xFFFF : V >> 16);
}

struct TEntry {
  uint16_t Tag;
  uint16_t Type; // 3 SHORT, 4 LONG, 2 ASCII
  uint32_t Count;
  uint32_t Value; // held in the entry's value field
};

// TIFF-structured EXIF data: header, then the first directory at offset 8.
TBytes TiffData(bool Big, const std::vector<TEntry>& Entries) {
  TBytes B = Big ? "MM" : "II"; // off 0: byte order
  Put16(B, Big, 42);            // off 2: magic
  Put32(B, Big, 8);             // off 4: first directory
  Put16(B, Big, uint32_t(Entries.size()));
  for (const TEntry& E : Entries) {
    Put16(B, Big, E.Tag);
    Put16(B, Big, E.Type);
    Put32(B, Big, E.Count);
    if (E.Type == 3) { // a SHORT sits in the first two bytes of the field
      Put16(B, Big, E.Value);
      Put16(B, Big, 0);
    } else {
      Put32(B, Big, E.Value);
    }
  }
  Put32(B, Big, 0); // no next directory
  return B;
}

// The payload of an APP1 segment.
TBytes ExifPayload(bool Big, const std::vector<TEntry>& Entries) {
  return TBytes("Exif\0\0", 6) + TiffData(Big, Entries);
}

int Orientation(const TBytes& Payload) {
  return ExifOrientation(reinterpret_cast<const uint8_t*>(Payload.data()), Payload.size());
}

const TEntry kMake{0x010F, 2, 4, 0x00414243};
const TEntry kWidth{0x0100, 4, 1, 640};

// ---- Pictures -----------------------------------------------------------------

// Six blocks of distinct colours, three across and two down:
//   R G B
//   C M Y
constexpr int kBlock = 16;
const char* const kStored = "RGB/CMY";

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

// Top-down RGB bytes of the pattern, Block pixels per block.
std::vector<uint8_t> PatternRgb(int Block) {
  std::vector<uint8_t> Rgb;
  for (int Y = 0; Y < 2 * Block; ++Y)
    for (int X = 0; X < 3 * Block; ++X) {
      const uint32_t C = BlockColour(kStored[(Y / Block) * 4 + X / Block]);
      Rgb.insert(Rgb.end(), {Red(C), Green(C), Blue(C)});
    }
  return Rgb;
}

// The shown blocks, "RGB/CMY" style, probed at each block's centre; '?' for a
// colour that is none of the six.
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

TBytes JpegWithApp1(const TBytes& Payload) {
  TJpegFixture F;
  F.Width = 3 * kBlock;
  F.Height = 2 * kBlock;
  F.Pixels = PatternRgb(kBlock);
  const TBytes Jpeg = MakeJpeg(F);
  TBytes Segment("\xFF\xE1", 2);
  Put16(Segment, true, uint32_t(Payload.size() + 2));
  return Jpeg.substr(0, 2) + Segment + Payload + Jpeg.substr(2);
}

TBytes OrientedJpeg(int O) {
  return JpegWithApp1(ExifPayload(O % 2 == 0, {kMake, {0x0112, 3, 1, uint32_t(O)}, kWidth}));
}

TBytes OrientedTiff(int O, uint16_t Compression, int Block) {
  TTiffPage P;
  P.Width = uint32_t(3 * Block);
  P.Height = uint32_t(2 * Block);
  P.BitsPerSample = 8;
  P.SamplesPerPixel = 3;
  P.Photometric = PHOTOMETRIC_RGB;
  P.Compression = Compression;
  P.RowsPerStrip = uint32_t(2 * Block);
  P.Rows = PatternRgb(Block);
  P.Extra = [O](void* Tif) {
    TIFFSetField(static_cast<TIFF*>(Tif), TIFFTAG_ORIENTATION, uint16_t(O));
  };
  return MakeTiff({P});
}

// The shown blocks for each orientation (see the pattern above).
const char* const kUpright[9] = {"",         "RGB/CMY",  "BGR/YMC",  "YMC/BGR", "CMY/RGB",
                                 "RC/GM/BY", "CR/MG/YB", "YB/MG/CR", "BY/GM/RC"};

// Switches the orientation off for one scope.
struct TOrientationOff {
  TOrientationOff() { SetOrientationEnabled(false); }
  ~TOrientationOff() { SetOrientationEnabled(true); }
};

} // namespace

// ---- The EXIF reader ---------------------------------------------------------------

TEST(ExifReader, FindsTheOrientationInEitherByteOrder) {
  for (const bool Big : {false, true})
    for (int O = 1; O <= 8; ++O) {
      SCOPED_TRACE(std::string(Big ? "MM " : "II ") + std::to_string(O));
      EXPECT_EQ(Orientation(ExifPayload(Big, {kWidth, kMake, {0x0112, 3, 1, uint32_t(O)}})), O);
      // A LONG value is taken as well.
      EXPECT_EQ(Orientation(ExifPayload(Big, {{0x0112, 4, 1, uint32_t(O)}})), O);
    }
}

TEST(ExifReader, DamagedOrForeignBlocksGiveNoOrientation) {
  const struct {
    const char* What;
    TBytes Payload;
  } Cases[] = {
      {"no orientation entry", ExifPayload(false, {kMake, kWidth})},
      {"value 0", ExifPayload(false, {{0x0112, 3, 1, 0}})},
      {"value 9", ExifPayload(true, {{0x0112, 3, 1, 9}})},
      {"ASCII type", ExifPayload(false, {{0x0112, 2, 1, 6}})},
      {"two values", ExifPayload(false, {{0x0112, 3, 2, 6}})},
      {"not Exif", TBytes("Exig\0\0", 6) + TiffData(false, {{0x0112, 3, 1, 6}})},
      {"XMP", TBytes("http://ns.adobe.com/xap/1.0/\0", 29)},
      {"bad byte order", TBytes("Exif\0\0IM*\0\x08\0\0\0", 14)},
      {"bad magic", TBytes("Exif\0\0II+\0\x08\0\0\0", 14)},
      {"directory beyond the data", TBytes("Exif\0\0II*\0\xF0\0\0\0", 14)},
      {"directory offset near 4 GiB", TBytes("Exif\0\0II*\0\xFF\xFF\xFF\xFF", 14)},
      {"empty", TBytes()},
  };
  for (const auto& C : Cases)
    EXPECT_EQ(Orientation(C.Payload), 0) << C.What;

  // An entry count far beyond the data: the entries that are there are read,
  // and the reader stops at the end.
  TBytes Huge = ExifPayload(false, {{0x0112, 3, 1, 6}});
  Huge[6 + 8] = '\xFF';
  Huge[6 + 9] = '\xFF';
  EXPECT_EQ(Orientation(Huge), 6);
  TBytes HugeWithout = ExifPayload(false, {kMake});
  HugeWithout[6 + 8] = '\xFF';
  EXPECT_EQ(Orientation(HugeWithout), 0);
}

TEST(ExifReader, EveryCutOfABlockIsReadWithinIt) {
  // Each prefix is copied into a buffer of exactly its size, so that a read
  // past its end is caught by the sanitizer build.
  const TBytes Full = ExifPayload(true, {kMake, kWidth, {0x0112, 3, 1, 8}});
  const size_t EntryEnd = 6 + 8 + 2 + 3 * 12; // the orientation entry's last byte
  for (size_t Size = 0; Size <= Full.size(); ++Size) {
    std::vector<uint8_t> Cut(Full.begin(), Full.begin() + std::ptrdiff_t(Size));
    EXPECT_EQ(ExifOrientation(Cut.data(), Cut.size()), Size >= EntryEnd ? 8 : 0) << Size;
  }
}

// ---- JPEG and TIFF files -------------------------------------------------------------

TEST(PhotoOrientation, JpegShowsUprightForEveryValue) {
  for (int O = 1; O <= 8; ++O) {
    SCOPED_TRACE(O);
    const TBytes Bytes = OrientedJpeg(O);
    auto G = LoadFrom<TJpegGraphic>(Bytes);
    EXPECT_EQ(G->Width(), O >= 5 ? 2 * kBlock : 3 * kBlock);
    EXPECT_EQ(ShownBlocks(*G, kBlock), kUpright[O]);
    TOrientationOff Off;
    EXPECT_EQ(ShownBlocks(*LoadFrom<TJpegGraphic>(Bytes), kBlock), kStored);
  }
}

TEST(PhotoOrientation, DamagedExifLeavesTheJpegAsStored) {
  TBytes Cut = ExifPayload(false, {{0x0112, 3, 1, 6}});
  Cut.resize(Cut.size() - 10); // the entry's value is missing
  TBytes Wrong = ExifPayload(false, {{0x0112, 3, 1, 6}});
  Wrong[6 + 4] = '\x40'; // the directory lies beyond the block
  for (const TBytes& Payload : {Cut, Wrong, TBytes("Exif\0\0", 6), TBytes("XMP")}) {
    auto G = LoadFrom<TJpegGraphic>(JpegWithApp1(Payload));
    EXPECT_EQ(ShownBlocks(*G, kBlock), kStored);
  }
}

TEST(PhotoOrientation, TiffShowsUprightOnEveryReadingPath) {
  // Uncompressed RGB goes the strip path, JPEG-compressed the RGBA path,
  // which must not turn the picture a second time.
  const struct {
    const char* Path;
    uint16_t Compression;
    int Block;
  } Paths[] = {{"strips", COMPRESSION_NONE, 1}, {"RGBA", COMPRESSION_JPEG, kBlock}};
  for (const auto& P : Paths)
    for (int O = 1; O <= 8; ++O) {
      SCOPED_TRACE(std::string(P.Path) + " " + std::to_string(O));
      const TBytes Bytes = OrientedTiff(O, P.Compression, P.Block);
      auto G = LoadFrom<TTiffGraphic>(Bytes);
      EXPECT_EQ(ShownBlocks(*G, P.Block), kUpright[O]);
      // The file's settings survive the turn.
      EXPECT_EQ(G->Compression(),
                P.Compression == COMPRESSION_JPEG ? TTiffGraphic::tcJpeg : TTiffGraphic::tcNone);
      TOrientationOff Off;
      EXPECT_EQ(ShownBlocks(*LoadFrom<TTiffGraphic>(Bytes), P.Block), kStored);
    }
}

// ---- The decode tool --------------------------------------------------------------

namespace {
// Runs the decode tool on Bytes saved as Name; answers the PPM as an image.
std::unique_ptr<TDibGraphic> Decode(const TBytes& Bytes, const std::string& Name,
                                    const std::string& Options) {
  const auto Dir =
      std::filesystem::temp_directory_path() / ("imbrel-orient-" + std::to_string(::getpid()));
  std::filesystem::create_directories(Dir);
  const std::string In = (Dir / Name).string();
  const std::string Out = (Dir / (Name + ".ppm")).string();
  std::ofstream(In, std::ios::binary) << Bytes;
  const std::string Command = std::string("'") + IMBREL_DECODE_TOOL + "' '" + In + "' -o '" + Out +
                              "' " + Options + " >/dev/null";
  const int Status = std::system(Command.c_str());
  const TBytes Ppm = ReadFileBytes(Out);
  std::filesystem::remove_all(Dir);
  if (Status != 0) return nullptr;
  int W = 0, H = 0, Max = 0, Used = 0;
  if (std::sscanf(Ppm.c_str(), "P6 %d %d %d%n", &W, &H, &Max, &Used) != 3) return nullptr;
  auto G = std::make_unique<TDibGraphic>();
  G->NewImage(W, H, ifTrueColor, nullptr, 0, 0);
  const char* Px = Ppm.data() + Used + 1;
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X, Px += 3)
      G->SetPixelColor(X, Y, MakeRgb(uint8_t(Px[0]), uint8_t(Px[1]), uint8_t(Px[2])));
  return G;
}
} // namespace

TEST(PhotoOrientation, DecodeToolShowsUprightUnlessToldNot) {
  // The tool decodes through the same format classes as the tests above; a
  // few values (a mirror, the half turn, both quarter turns) show it turns.
  for (const int O : {2, 3, 6, 8}) {
    SCOPED_TRACE(O);
    auto Upright = Decode(OrientedJpeg(O), "photo.jpg", "");
    ASSERT_NE(Upright, nullptr);
    EXPECT_EQ(ShownBlocks(*Upright, kBlock), kUpright[O]);
  }
  auto Stored = Decode(OrientedJpeg(6), "photo.jpg", "--no-orient");
  ASSERT_NE(Stored, nullptr);
  EXPECT_EQ(ShownBlocks(*Stored, kBlock), kStored);
  // A page chosen by number is turned by its own orientation: page 1 of this
  // TIFF is stored upright, page 2 turned.
  TTiffPage Pages[2];
  for (int I = 0; I < 2; ++I) {
    Pages[I].Width = 3;
    Pages[I].Height = 2;
    Pages[I].BitsPerSample = 8;
    Pages[I].SamplesPerPixel = 3;
    Pages[I].Photometric = PHOTOMETRIC_RGB;
    Pages[I].Rows = PatternRgb(1);
  }
  Pages[1].Extra = [](void* Tif) {
    TIFFSetField(static_cast<TIFF*>(Tif), TIFFTAG_ORIENTATION, uint16_t(6));
  };
  const TBytes Tiff = MakeTiff({Pages[0], Pages[1]});
  for (const int Index : {1, 2}) {
    auto Page = Decode(Tiff, "scan.tif", "--index " + std::to_string(Index));
    ASSERT_NE(Page, nullptr);
    EXPECT_EQ(ShownBlocks(*Page, 1), Index == 1 ? kStored : kUpright[6]);
  }
}

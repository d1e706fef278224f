// The bridge and the format classes on top of the bitmap module: error texts,
// image formats and palettes, resolutions, the platform-decoder fallback, the
// DCX container, writing, and the registry rows.

#include "formats/BitmapGraphic.h"
#include "formats/bitmap_module/BmmBridge.h"
#include "tests/formats/bmm/BmmTestSupport.h"
#include "formats/DcxGraphic.h"
#include "formats/Formats.h"
#include "imaging/GraphicRegistry.h"
#include "formats/PcxGraphic.h"
#include "formats/TgaGraphic.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <type_traits>

#include <unistd.h>

using namespace bmmfix;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

static_assert(std::is_base_of_v<Exception, EBmmError> &&
              !std::is_base_of_v<EImageError, EBmmError>);
static_assert(std::is_base_of_v<Exception, EDcxError> && std::is_base_of_v<Exception, ETgaError>);

// Loads Bytes with graphic class T, the bytes placed after Offset bytes of
// junk at which the stream is positioned.
template <class T> std::unique_ptr<T> Load(const Bytes& File, int Offset = 0) {
  auto g = std::make_unique<T>();
  TMemoryStream s;
  const Bytes junk(std::size_t(Offset), 0xEE);
  if (Offset) s.WriteBuffer(junk.data(), Offset);
  s.WriteBuffer(File.data(), int64_t(File.size()));
  s.SetPosition(Offset);
  g->LoadFromStream(s);
  return g;
}

Bytes Saved(TDibGraphic& g) {
  TMemoryStream s;
  g.SaveToStream(s);
  return Bytes(s.Memory(), s.Memory() + s.Size());
}

Bytes Grey4Bmp() {
  BmpLayout s;
  s.width = 3;
  s.height = 2;
  s.bitCount = 4;
  for (int i = 0; i < 16; ++i)
    s.palette.push_back({uint8_t(i * 17), uint8_t(i * 17), uint8_t(i * 17)});
  s.data = {0x01, 0x20, 0, 0, 0xF0, 0x50, 0, 0};
  return BmpFile(s);
}

// ---- Bridge

TEST(BmmBridge, FixedErrorTexts) {
  struct Row {
    const char* what;
    Bytes file;
    const char* name;
    const char* text;
  } rows[] = {
      {"no extension", Grey4Bmp(), "File", "bmm_guess_filetype failed."},
      {"unknown extension", Grey4Bmp(), "File.gif", "bmm_guess_filetype failed."},
      {"bad header", Bytes{'B', 'X', 0, 0}, "File.bmp", "bmm_read_header failed."},
      {"palette step fails",
       [] {
         PcxLayout s;
         s.xmax = 1;
         s.bytesPerLine = 2;
         s.data = {1, 2};
         return PcxFile(s); // 8 bits without a trailer
       }(),
       "File.pcx", "bmm_read_header failed."},
      {"data step fails",
       [] {
         TgaLayout s;
         s.imageType = 11;
         s.depth = 8;
         s.width = 4;
         s.height = 4;
         s.data = {0x83, 1}; // one row of four, then the data end
         return TgaFile(s);
       }(),
       "File.tga", "bmm_read_data failed."},
  };
  for (const Row& r : rows) {
    TDibGraphic g;
    TBytesStream s(r.file.data(), int64_t(r.file.size()));
    EXPECT_THAT([&] { ReadBmmImage(s, g, r.name, ""); }, ThrowsMessage<EBmmError>(r.text))
        << r.what;
  }
  // The extension is matched without regard to case.
  const Bytes bmp = Grey4Bmp();
  for (const char* name : {"File.Bmp", "File.BMP", "x.dib"}) {
    TDibGraphic g;
    TBytesStream s(bmp.data(), int64_t(bmp.size()));
    EXPECT_NO_THROW(ReadBmmImage(s, g, name, "inv")) << name;
  }
}

// Where the module refuses a file of its own choice (the formats allow it,
// the module does not read it, or it would write outside the picture), the
// message names the format, the field and the place instead of the step.
TEST(BmmBridge, OwnRefusalsSayWhy) {
  auto rle4 = [](const Bytes& Data) {
    BmpLayout s;
    s.width = 4;
    s.height = 1;
    s.bitCount = 4;
    s.compression = 2;
    s.palette.assign(16, {1, 2, 3});
    s.data = Data;
    return BmpFile(s);
  };
  struct Row {
    const char* what;
    Bytes file;
    const char* name;
    const char* text;
  } rows[] = {
      {"PCX line too short",
       [] {
         PcxLayout s;
         s.xmax = 19; // 20 pixels of 8 bits
         s.bytesPerLine = 2;
         s.trailer = true;
         s.data = {1, 2};
         return PcxFile(s);
       }(),
       "File.pcx", "PCX header: 2 bytes per line are fewer than the 20 a row of 20 pixels needs"},
      {"top-down BMP",
       [] {
         BmpLayout s;
         s.width = 4;
         s.height = -2;
         s.palette = {{1, 2, 3}};
         s.data = Bytes(8, 0);
         return BmpFile(s);
       }(),
       "File.bmp", "BMP header: a negative height (-2) is not read by the bitmap module"},
      {"RLE8 run past the end", bmmtest::Rle8File(4, 2, {20, 7}), "File.bmp",
       "BMP RLE8 data: a run of 20 in row 0 at byte 0 leaves the picture"},
      {"RLE8 absolute run past the end", bmmtest::Rle8File(4, 2, {0, 4, 1, 2, 3, 4, 0, 5, 1}),
       "File.bmp", "BMP RLE8 data: an absolute run of 5 in row 0 at byte 4 leaves the picture"},
      {"RLE8 delta below the last row", bmmtest::Rle8File(4, 2, {0, 2, 1, 5}), "File.bmp",
       "BMP RLE8 data: a delta of (1, 5) in row 0 passes the last row"},
      {"RLE8 data ending early", bmmtest::Rle8File(4, 2, {2, 7, 0, 0, 1}), "File.bmp",
       "BMP RLE8 data: the data end in row 1 before the end-of-bitmap mark"},
      {"RLE4 run past the end", rle4({9, 0x12}), "File.bmp",
       "BMP RLE4 data: a run of 9 in row 0 at pixel 0 leaves the picture"},
      {"RLE4 absolute run past the end", rle4({0, 10, 0x11, 0x22, 0x33, 0x44, 0x55, 0}), "File.bmp",
       "BMP RLE4 data: an absolute run of 10 in row 0 at pixel 0 leaves the picture"},
  };
  for (const Row& r : rows) {
    TDibGraphic g;
    TBytesStream s(r.file.data(), int64_t(r.file.size()));
    EXPECT_THAT([&] { ReadBmmImage(s, g, r.name, ""); }, ThrowsMessage<EBmmError>(r.text))
        << r.what;
  }
}

TEST(BmmBridge, WriteErrors) {
  TDibGraphic g;
  g.NewImage(4, 2, ifColor16, nullptr, 0, 0);
  TMemoryStream s;
  EXPECT_THAT([&] { WriteBmmImage(s, g, "File.xyz"); },
              ThrowsMessage<EBmmError>("bmm_guess_filetype failed."));
  // Targa writes no 4-bit pictures.
  EXPECT_THAT([&] { WriteBmmImage(s, g, "File.tga"); },
              ThrowsMessage<EBmmError>("bmm_write failed."));
  TDibGraphic empty;
  EXPECT_THAT([&] { WriteBmmImage(s, empty, "File.bmp"); },
              ThrowsMessage<EBmmError>("bmm_write failed."));

  struct TBadFormat : TDibGraphic {
    void Break() { FImageFormat = static_cast<TImageFormat>(7); }
  } bad;
  bad.NewImage(2, 2, ifColor256, nullptr, 0, 0);
  bad.Break();
  EXPECT_THAT([&] { WriteBmmImage(s, bad, "File.bmp"); },
              ThrowsMessage<EBmmError>("Internal error: Invalid image format"));
}

TEST(BmmBridge, FormatsAndPalettes) {
  // A 4-bit file with a grey palette stays a colour-palette image.
  auto g4 = Load<TBitmapGraphic>(Grey4Bmp());
  EXPECT_EQ(g4->ImageFormat(), ifColor16);
  EXPECT_EQ(g4->LogPalette()->palNumEntries, 16);
  EXPECT_EQ(g4->LogPalette()->palVersion, 0x300);
  EXPECT_EQ(g4->GetPixelColor(0, 1), MakeRgb(0, 0, 0));
  EXPECT_EQ(g4->GetPixelColor(1, 1), MakeRgb(17, 17, 17));
  EXPECT_EQ(g4->GetPixelColor(0, 0), MakeRgb(255, 255, 255));
  EXPECT_EQ(g4->GetPixelColor(1, 0), MakeRgb(0, 0, 0));
  EXPECT_EQ(g4->GetPixelColor(2, 0), MakeRgb(85, 85, 85));

  // An 8-bit PCX has exactly 256 entries, a 1-bit one 2.
  PcxLayout p;
  p.xmax = 1;
  p.bytesPerLine = 2;
  p.data = {3, 0};
  p.trailer = true;
  p.trailerPalette = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {10, 20, 30}};
  auto g8 = Load<TPcxGraphic>(PcxFile(p));
  EXPECT_EQ(g8->ImageFormat(), ifColor256);
  EXPECT_EQ(g8->LogPalette()->palNumEntries, 256);
  EXPECT_EQ(g8->GetPixelColor(0, 0), MakeRgb(10, 20, 30));
  p.bitsPerPixel = 1;
  p.trailer = false;
  p.data = {0x40, 0};
  auto g1 = Load<TPcxGraphic>(PcxFile(p));
  EXPECT_EQ(g1->ImageFormat(), ifBlackWhite);
  EXPECT_EQ(g1->LogPalette()->palNumEntries, 2);
  EXPECT_EQ(g1->GetPixelColor(1, 0), MakeRgb(255, 255, 255));

  // Grey Targa: the (i, i, i) palette, as a colour-palette image.
  TgaLayout t;
  t.imageType = 3;
  t.depth = 8;
  t.width = 2;
  t.data = {7, 200};
  auto gt = Load<TTgaGraphic>(TgaFile(t));
  EXPECT_EQ(gt->ImageFormat(), ifColor256);
  EXPECT_EQ(gt->GetPixelColor(1, 0), MakeRgb(200, 200, 200));
  t.imageType = 2;
  t.depth = 24;
  t.data = {1, 2, 3, 4, 5, 6};
  auto g24 = Load<TTgaGraphic>(TgaFile(t));
  EXPECT_EQ(g24->ImageFormat(), ifTrueColor);
  EXPECT_EQ(g24->GetPixelColor(1, 0), MakeRgb(6, 5, 4));
}

// ---- BMP

TEST(BitmapGraphic, ResolutionAndOneBitPalette) {
  BmpLayout s;
  s.width = 8;
  s.height = 1;
  s.bitCount = 1;
  s.xPelsPerMeter = 3780;                   // 96 dpi
  s.yPelsPerMeter = 7874;                   // 200 dpi
  s.palette = {{255, 255, 255}, {0, 0, 0}}; // white first
  s.data = {0x0F, 0, 0, 0};
  auto g = Load<TBitmapGraphic>(BmpFile(s));
  EXPECT_EQ(g->XDpi(), 96);
  EXPECT_EQ(g->YDpi(), 200);
  // "inv" keeps the palette in file order: white where the bits are 0.
  EXPECT_EQ(g->GetPixelColor(0, 0), MakeRgb(255, 255, 255));
  EXPECT_EQ(g->GetPixelColor(7, 0), MakeRgb(0, 0, 0));
  // At a non-zero stream position the file is read from there.
  auto h = Load<TBitmapGraphic>(BmpFile(s), 5);
  EXPECT_EQ(h->XDpi(), 96);
  EXPECT_EQ(h->GetPixelColor(7, 0), MakeRgb(0, 0, 0));
}

// Bytes of this process's memory that are in RAM.
uint64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  uint64_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * uint64_t(sysconf(_SC_PAGESIZE));
}

// Pixel data cut short: what the file does not hold reads as 0, also in a
// reused buffer that held another picture, and a header that claims a huge
// picture over a few bytes of data is refused by what it holds, costing no
// memory.
TEST(BitmapGraphic, DataCutShortReadsAsZeroWithoutCommittingMemory) {
  BmpLayout full;
  full.width = 1500;
  full.height = 1000;
  full.bitCount = 24;
  full.data.assign(4500 * 1000, 0x7F);
  Load<TBitmapGraphic>(BmpFile(full)); // its pixels go back for reuse

  BmpLayout cut = full;
  cut.data = {1, 2, 3}; // the bottom-left pixel only
  auto g = Load<TBitmapGraphic>(BmpFile(cut));
  ASSERT_EQ(g->Width(), 1500);
  EXPECT_EQ(g->GetPixelColor(0, 999), MakeRgb(3, 2, 1));
  const uint8_t* bits = g->Bits();
  size_t nonZero = 0;
  for (size_t i = 3; i < size_t(4500) * 1000; ++i)
    nonZero += bits[i] != 0;
  EXPECT_EQ(nonZero, 0u);

  BmpLayout huge;
  huge.width = 8000;
  huge.height = 8000; // 192 MB of pixels
  huge.bitCount = 24;
  const uint64_t before = ResidentBytes();
  const Bytes File = BmpFile(huge);
  EXPECT_THAT([&] { Load<TBitmapGraphic>(File); },
              ThrowsMessage<EBmmError>(HasSubstr("BMP data too short: " +
                                                 std::to_string(File.size()) +
                                                 " bytes cannot fill a 8000 x 8000 picture")));
  EXPECT_LT(ResidentBytes() - std::min(before, ResidentBytes()), uint64_t(48) << 20);
}

TEST(BitmapGraphic, PlatformDecoderTakesWhatTheModuleRefuses) {
  // 16 bits, 5-5-5: (31, 0, 0) red, (0, 31, 0) green.
  BmpLayout s;
  s.width = 2;
  s.height = 1;
  s.bitCount = 16;
  s.xPelsPerMeter = 3780;
  s.data = {0x00, 0x7C, 0xE0, 0x03};
  auto g = Load<TBitmapGraphic>(BmpFile(s));
  EXPECT_EQ(g->ImageFormat(), ifTrueColor);
  EXPECT_EQ(g->GetPixelColor(0, 0), MakeRgb(0xF8, 0, 0));
  EXPECT_EQ(g->GetPixelColor(1, 0), MakeRgb(0, 0xF8, 0));
  EXPECT_EQ(g->XDpi(), 96);

  // A top-down 8-bit file: rows come top first.
  BmpLayout t;
  t.width = 2;
  t.height = -2;
  t.bitCount = 8;
  t.palette = {{1, 1, 1}, {200, 100, 50}};
  t.coloursUsed = 2;
  t.data = {1, 0, 0, 0, 0, 1, 0, 0};
  auto td = Load<TBitmapGraphic>(BmpFile(t));
  EXPECT_EQ(td->Height(), 2);
  EXPECT_EQ(td->GetPixelColor(0, 0), MakeRgb(200, 100, 50));
  EXPECT_EQ(td->GetPixelColor(1, 1), MakeRgb(200, 100, 50));
  EXPECT_EQ(td->GetPixelColor(1, 0), MakeRgb(1, 1, 1));

  // A 108-byte header.
  BmpLayout v4 = t;
  v4.height = 2;
  v4.cbFix = 108;
  v4.data = {1, 0, 0, 0, 0, 1, 0, 0};
  auto g4 = Load<TBitmapGraphic>(BmpFile(v4)); // V4 fields past 64 bytes are zero
  EXPECT_EQ(g4->GetPixelColor(1, 0), MakeRgb(200, 100, 50));
  EXPECT_EQ(g4->GetPixelColor(0, 1), MakeRgb(200, 100, 50));

  // Neither decoder can read it: the platform decoder's error comes out.
  EXPECT_THROW(Load<TBitmapGraphic>(Bytes{'B', 'M', 1, 2, 3}), EInvalidGraphic);
  EXPECT_THROW(Load<TBitmapGraphic>(Bytes{}), EInvalidGraphic);
}

TEST(BitmapGraphic, SaveToStreamRoundTripsEveryFormat) {
  for (TImageFormat f : {ifBlackWhite, ifGray16, ifGray256, ifColor16, ifColor256, ifTrueColor}) {
    TBitmapGraphic g;
    g.NewImage(13, 3, f, nullptr, 72, 300);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 13; ++x) {
        if (f == ifTrueColor)
          g.SetPixelColor(x, y, MakeRgb(uint8_t(x * 19), uint8_t(y * 80), uint8_t(x + y)));
        else
          g.SetPixelIndex(x, y,
                          (x + 3 * y) % (f == ifBlackWhite                   ? 2
                                         : (f == ifGray16 || f == ifColor16) ? 16
                                                                             : 256));
      }
    const Bytes file = Saved(g);
    const int colours = f == ifTrueColor ? 0 : g.LogPalette()->palNumEntries;
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[10] | file[11] << 8, 54 + 4 * colours);
    EXPECT_EQ(file.size(), std::size_t(54 + 4 * colours + 3 * g.BytesPerRow()));
    auto back = Load<TBitmapGraphic>(file);
    EXPECT_EQ(back->Width(), 13);
    EXPECT_EQ(back->XDpi(), 72);
    EXPECT_EQ(back->YDpi(), 300);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 13; ++x)
        ASSERT_EQ(back->GetPixelColor(x, y), g.GetPixelColor(x, y))
            << int(f) << " " << x << "," << y;
  }
  TBitmapGraphic empty;
  TMemoryStream s;
  EXPECT_THROW(empty.SaveToStream(s), EImageError);
}

// ---- PCX

TEST(PcxGraphic, ResolutionAndSaving) {
  PcxLayout p;
  p.planes = 3;
  p.xmax = 1;
  p.bytesPerLine = 2;
  p.hdpi = 150;
  p.vdpi = 75;
  p.data = {10, 20, 30, 40, 50, 60};
  auto g = Load<TPcxGraphic>(PcxFile(p), 3);
  EXPECT_EQ(g->XDpi(), 150);
  EXPECT_EQ(g->YDpi(), 75);
  EXPECT_EQ(g->GetPixelColor(0, 0), MakeRgb(10, 30, 50));
  for (TImageFormat f : {ifBlackWhite, ifColor16, ifGray16, ifColor256, ifTrueColor}) {
    TPcxGraphic w;
    w.NewImage(9, 4, f, nullptr, 0, 0);
    w.SetXDpi(120);
    w.SetYDpi(240);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 9; ++x) {
        if (f == ifTrueColor)
          w.SetPixelColor(x, y, MakeRgb(uint8_t(x * 20), uint8_t(y), 0xC5));
        else
          w.SetPixelIndex(x, y, (x * y) & (f == ifBlackWhite ? 1 : 15));
      }
    const Bytes file = Saved(w);
    EXPECT_EQ(file[12] | file[13] << 8, 120);
    EXPECT_EQ(file[14] | file[15] << 8, 240);
    auto back = Load<TPcxGraphic>(file);
    EXPECT_EQ(back->XDpi(), 120);
    EXPECT_EQ(back->YDpi(), 240);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 9; ++x)
        ASSERT_EQ(back->GetPixelColor(x, y), w.GetPixelColor(x, y)) << int(f);
  }
}

// ---- DCX

Bytes PcxPage(int width, uint8_t value) {
  PcxLayout p;
  p.xmax = uint16_t(width - 1);
  p.bytesPerLine = uint16_t(width + (width & 1));
  p.data.assign(p.bytesPerLine, value);
  p.trailer = true;
  p.trailerPalette.assign(256, {});
  p.trailerPalette[value] = {value, 1, 2};
  return PcxFile(p);
}

// A DCX file with the given pages and a table of exactly their offsets.
Bytes Dcx(const std::vector<Bytes>& pages, std::vector<uint32_t>* offsets = nullptr) {
  Bytes b;
  U32(b, 987654321);
  uint32_t at = uint32_t(4 + 4 * (pages.size() + 1));
  for (const Bytes& p : pages) {
    U32(b, at);
    if (offsets) offsets->push_back(at);
    at += uint32_t(p.size());
  }
  U32(b, 0);
  for (const Bytes& p : pages)
    Append(b, p);
  return b;
}

TEST(DcxGraphic, PagesAndTheirEnds) {
  const Bytes file = Dcx({PcxPage(2, 5), PcxPage(3, 6), PcxPage(4, 7)});
  TDcxGraphic g;
  TBytesStream s(file.data(), int64_t(file.size()));
  EXPECT_EQ(g.GetImageCount(s), 3);
  for (int i = 1; i <= 3; ++i) {
    TBytesStream t(file.data(), int64_t(file.size()));
    TDcxGraphic p;
    p.LoadImageFromStream(t, i);
    EXPECT_EQ(p.Width(), i + 1); // the last page runs to the end of the file
    EXPECT_EQ(p.GetPixelColor(0, 0), MakeRgb(uint8_t(4 + i), 1, 2));
    EXPECT_EQ(p.PageCount(), 3);
  }
  TBytesStream t(file.data(), int64_t(file.size()));
  EXPECT_THAT([&] { g.LoadImageFromStream(t, 4); },
              ThrowsMessage<EDcxError>("The DCX file header is not valid"));

  // Through the registry with image number 0: every page becomes a frame.
  RegisterImageFormats();
  TBytesStream r(file.data(), int64_t(file.size()));
  auto all = CreateGraphicFromStream(r, "x.dcx", 0);
  EXPECT_EQ(all->FrameCount(), 3);
  EXPECT_EQ(all->Width(), 2);
  EXPECT_EQ(all->Frames(3).Width(), 4);
}

TEST(DcxGraphic, BrokenTables) {
  const char* notValid = "The DCX file header is not valid";
  std::vector<uint32_t> at;
  const Bytes good = Dcx({PcxPage(2, 5), PcxPage(3, 6)}, &at);
  struct Row {
    const char* what;
    Bytes file;
    int index;
  } rows[] = {
      {"bad magic",
       [&] {
         Bytes b = good;
         b[0] ^= 1;
         return b;
       }(),
       1},
      {"table without its end", Bytes{0xB1, 0x68, 0xDE, 0x3A, 12, 0, 0}, 1},
      {"index 0", good, 0},
      {"page offsets going back",
       [&] {
         Bytes b = good;
         Put32At(b, 8, at[0] - 1);
         return b;
       }(),
       1},
      {"page offset inside the table",
       [&] {
         Bytes b = good;
         Put32At(b, 4, 4);
         return b;
       }(),
       1},
      {"page offset past the end",
       [&] {
         Bytes b = good;
         Put32At(b, 8, 100000);
         return b;
       }(),
       2},
      {"page end past the end",
       [&] {
         Bytes b = good;
         Put32At(b, 8, 100000);
         return b;
       }(),
       1},
  };
  for (const Row& r : rows) {
    TBytesStream s(r.file.data(), int64_t(r.file.size()));
    TDcxGraphic g;
    EXPECT_THAT([&] { g.LoadImageFromStream(s, r.index); }, ThrowsMessage<EDcxError>(notValid))
        << r.what;
  }
  TBytesStream bad(rows[0].file.data(), int64_t(rows[0].file.size()));
  TDcxGraphic g;
  EXPECT_THAT([&] { g.GetImageCount(bad); }, ThrowsMessage<EDcxError>(notValid));
  TBytesStream cut(rows[1].file.data(), int64_t(rows[1].file.size()));
  EXPECT_THAT([&] { g.GetImageCount(cut); }, ThrowsMessage<EDcxError>(notValid));
  const Bytes tiny = {0xB1, 0x68};
  TBytesStream t(tiny.data(), 2);
  EXPECT_THROW(g.GetImageCount(t), EStreamError);
  // A page that is no PCX fails as a PCX file.
  Bytes junkPage = Dcx({Bytes(200, 0x33)});
  TBytesStream j(junkPage.data(), int64_t(junkPage.size()));
  EXPECT_THAT([&] { g.LoadImageFromStream(j, 1); },
              ThrowsMessage<EBmmError>("bmm_read_header failed."));
}

TEST(DcxGraphic, SaveAndAppend) {
  TDcxGraphic a;
  a.NewImage(5, 2, ifColor256, nullptr, 0, 0);
  a.SetPixelIndex(0, 0, 9);
  TPcxGraphic b;
  TMemoryStream s;
  a.SaveToStream(s);
  const uint8_t* m = s.Memory();
  EXPECT_EQ(m[4] | m[5] << 8, 4100);
  EXPECT_EQ(s.Size() > 4100, true);
  TDcxGraphic c;
  c.NewImage(7, 3, ifTrueColor, nullptr, 0, 0);
  c.SetPixelColor(6, 2, MakeRgb(1, 2, 3));
  c.AppendToStream(s);
  c.AppendToStream(s);
  s.SetPosition(0);
  TDcxGraphic r;
  EXPECT_EQ(r.GetImageCount(s), 3);
  s.SetPosition(0);
  r.LoadImageFromStream(s, 1);
  EXPECT_EQ(r.Width(), 5);
  EXPECT_EQ(r.GetPixelIndex(0, 0), 9);
  s.SetPosition(0);
  r.LoadImageFromStream(s, 3);
  EXPECT_EQ(r.Width(), 7);
  EXPECT_EQ(r.GetPixelColor(6, 2), MakeRgb(1, 2, 3));

  // An empty stream gets a new file.
  TMemoryStream e;
  c.AppendToStream(e);
  e.SetPosition(0);
  EXPECT_EQ(r.GetImageCount(e), 1);

  // A table with no room left before the first page: magic, one entry, the
  // end 0, and the page right after.
  Bytes full;
  U32(full, 987654321);
  U32(full, 12);
  U32(full, 0);
  Append(full, PcxPage(2, 5));
  TMemoryStream f;
  f.WriteBuffer(full.data(), int64_t(full.size()));
  EXPECT_THAT([&] { c.AppendToStream(f); },
              ThrowsMessage<EDcxError>("The DCX file header is full"));
  f.SetPosition(0);
  TDcxGraphic still;
  still.LoadImageFromStream(f, 1); // the first page is untouched
  EXPECT_EQ(still.Width(), 2);
}

// ---- Targa

TEST(TgaGraphic, LoadAndSave) {
  TgaLayout t;
  t.imageType = 10;
  t.depth = 32;
  t.width = 2;
  t.height = 2;
  t.descriptor = 0x20;
  t.data = {0x81, 1, 2, 3, 0, 0x81, 4, 5, 6, 77}; // top row, then bottom row
  auto g = Load<TTgaGraphic>(TgaFile(t), 7);
  EXPECT_EQ(g->GetPixelColor(1, 0), MakeRgb(3, 2, 1));
  EXPECT_EQ(g->GetPixelColor(0, 1), MakeRgb(6, 5, 4));

  for (TImageFormat f : {ifGray256, ifColor256, ifTrueColor}) {
    TTgaGraphic w;
    w.NewImage(3, 2, f, nullptr, 0, 0);
    for (int x = 0; x < 3; ++x) {
      if (f == ifTrueColor)
        w.SetPixelColor(x, 1, MakeRgb(uint8_t(x), 9, 8));
      else
        w.SetPixelIndex(x, 1, 100 + x);
    }
    auto back = Load<TTgaGraphic>(Saved(w));
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(back->GetPixelColor(x, 1), w.GetPixelColor(x, 1)) << int(f);
  }
  for (TImageFormat f : {ifBlackWhite, ifGray16, ifColor16}) {
    TTgaGraphic w;
    w.NewImage(3, 2, f, nullptr, 0, 0);
    TMemoryStream s;
    EXPECT_THAT([&] { w.SaveToStream(s); },
                ThrowsMessage<ETgaError>("TARGA image must be true color or 8 bit with palette"));
  }
}

// ---- Registry

TEST(BmmRegistry, Rows) {
  RegisterImageFormats();
  struct Row {
    const char* ext;
    TDibGraphicClass cls;
    const char* description;
  } rows[] = {
      {"BMP", ClassOf<TBitmapGraphic>(), "Bitmap file"},
      {"PCX", ClassOf<TPcxGraphic>(), "ZSoft PC Paintbrush"},
      {"PCC", ClassOf<TPcxGraphic>(), "ZSoft PC Paintbrush"},
      {"DCX", ClassOf<TDcxGraphic>(), "DCX file"},
      {"TGA", ClassOf<TTgaGraphic>(), "Truevision Targa"},
      {"VST", ClassOf<TTgaGraphic>(), "Truevision Vista"},
      {"AFI", ClassOf<TTgaGraphic>(), "Truevision Targa"},
  };
  const auto all = RegisteredGraphicFormats();
  for (const Row& r : rows) {
    EXPECT_EQ(GraphicClassForFile(std::string("picture.") + r.ext), r.cls) << r.ext;
    bool found = false;
    for (const TGraphicFormatEntry& e : all)
      if (e.Extension == r.ext) {
        EXPECT_EQ(e.Description, r.description) << r.ext;
        found = true;
        break;
      }
    EXPECT_TRUE(found) << r.ext;
  }
  // The module's other extensions are not registered.
  EXPECT_EQ(GraphicClassForFile("x.rle"), nullptr);
  EXPECT_EQ(GraphicClassForFile("x.dib"), nullptr);
}

} // namespace

// The bitmap class: palettes, storage, pixels, resolution, Assign/AssignTo,
// the canvas, and the error texts. Frames and animation: DibFramesTest.cpp.

#include "imaging/DibGraphic.h"
#include "tests/imaging/TestHelpers.h"
#include "platform/MemoryBudget.h"

#include <QBuffer>
#include <QPainter>

#include <cstring>
#include <vector>

namespace {

struct TRgb {
  int R, G, B;
};

TRgb Entry(const TLogPalette* P, int I) {
  return TRgb{P->palPalEntry[I].peRed, P->palPalEntry[I].peGreen, P->palPalEntry[I].peBlue};
}

#define EXPECT_ENTRY(P, I, r, g, b)                                                                \
  do {                                                                                             \
    const TRgb e_ = Entry(P, I);                                                                   \
    EXPECT_EQ(e_.R, r) << "entry " << I;                                                           \
    EXPECT_EQ(e_.G, g) << "entry " << I;                                                           \
    EXPECT_EQ(e_.B, b) << "entry " << I;                                                           \
  } while (0)

// ---- Default palettes

TEST(DefaultPalettes, GreyAndBlackWhitePalettes) {
  const TLogPalette* bw = DefaultPalette(ifBlackWhite);
  EXPECT_EQ(bw->palNumEntries, 2);
  EXPECT_ENTRY(bw, 0, 0, 0, 0);
  EXPECT_ENTRY(bw, 1, 255, 255, 255);
  const TLogPalette* g16 = DefaultPalette(ifGray16);
  EXPECT_EQ(g16->palNumEntries, 16);
  for (int i = 0; i < 16; ++i)
    EXPECT_ENTRY(g16, i, i * 17, i * 17, i * 17);
  const TLogPalette* g256 = DefaultPalette(ifGray256);
  EXPECT_EQ(g256->palNumEntries, 256);
  for (int i = 0; i < 256; ++i)
    EXPECT_ENTRY(g256, i, i, i, i);
  EXPECT_EQ(DefaultPalette(ifTrueColor), nullptr);
}

TEST(DefaultPalettes, SixteenColours) {
  static const int expected[16][3] = {
      {0, 0, 0},     {0, 0, 170},     {0, 170, 0},    {0, 170, 170},  {170, 0, 0},   {170, 0, 170},
      {170, 85, 0},  {170, 170, 170}, {85, 85, 85},   {85, 85, 255},  {85, 255, 85}, {85, 255, 255},
      {255, 85, 85}, {255, 85, 255},  {255, 255, 85}, {255, 255, 255}};
  const TLogPalette* p = DefaultPalette(ifColor16);
  EXPECT_EQ(p->palNumEntries, 16);
  for (int i = 0; i < 16; ++i)
    EXPECT_ENTRY(p, i, expected[i][0], expected[i][1], expected[i][2]);
}

TEST(DefaultPalettes, Vga256) {
  const TLogPalette* p = DefaultPalette(ifColor256);
  const TLogPalette* p16 = DefaultPalette(ifColor16);
  EXPECT_EQ(p->palNumEntries, 256);
  EXPECT_EQ(p->palVersion, 0x300);
  for (int i = 0; i < 16; ++i)
    EXPECT_ENTRY(p, i, p16->palPalEntry[i].peRed, p16->palPalEntry[i].peGreen,
                 p16->palPalEntry[i].peBlue);
  // Grey ramp, 6-bit levels widened as 4v + v div 16.
  static const int grey[16] = {0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63};
  for (int i = 0; i < 16; ++i) {
    const int v = 4 * grey[i] + grey[i] / 16;
    EXPECT_ENTRY(p, 16 + i, v, v, v);
  }
  EXPECT_ENTRY(p, 17, 20, 20, 20);
  EXPECT_ENTRY(p, 30, 227, 227, 227);
  EXPECT_ENTRY(p, 31, 255, 255, 255);
  // The first ring: blue, magenta, red, yellow, green, cyan at steps of four.
  EXPECT_ENTRY(p, 32, 0, 0, 255);
  EXPECT_ENTRY(p, 33, 65, 0, 255);
  EXPECT_ENTRY(p, 36, 255, 0, 255);
  EXPECT_ENTRY(p, 40, 255, 0, 0);
  EXPECT_ENTRY(p, 44, 255, 255, 0);
  EXPECT_ENTRY(p, 48, 0, 255, 0);
  EXPECT_ENTRY(p, 52, 0, 255, 255);
  EXPECT_ENTRY(p, 55, 0, 65, 255);
  // Starts of the other rings (low level, low level, high level).
  EXPECT_ENTRY(p, 56, 125, 125, 255);
  EXPECT_ENTRY(p, 80, 182, 182, 255);
  EXPECT_ENTRY(p, 104, 0, 0, 113);
  EXPECT_ENTRY(p, 128, 56, 56, 113);
  EXPECT_ENTRY(p, 152, 81, 81, 113);
  EXPECT_ENTRY(p, 176, 0, 0, 65);
  EXPECT_ENTRY(p, 200, 32, 32, 65);
  EXPECT_ENTRY(p, 224, 44, 44, 65);
  EXPECT_ENTRY(p, 247, 44, 48, 65);
  for (int i = 248; i < 256; ++i)
    EXPECT_ENTRY(p, i, 0, 0, 0);
}

TEST(DefaultPalettes, NewImageWithoutPaletteTakesTheDefaultAndLeavesItUnchanged) {
  const TLogPalette before = *DefaultPalette(ifColor256);
  TDibGraphic g;
  g.NewImage(4, 4, ifColor256, nullptr, 96, 96);
  EXPECT_EQ(g.LogPalette()->palNumEntries, 256);
  EXPECT_EQ(g.LogPalette()->palVersion, 0x300);
  EXPECT_ENTRY(g.LogPalette(), 17, 20, 20, 20);
  EXPECT_ENTRY(g.LogPalette(), 247, 44, 48, 65);
  // The colour table holds the palette as blue, green, red, 0.
  const TRgbQuad& q = g.BitmapInfo().bmiColors[247];
  EXPECT_EQ(q.rgbBlue, 65);
  EXPECT_EQ(q.rgbGreen, 48);
  EXPECT_EQ(q.rgbRed, 44);
  EXPECT_EQ(q.rgbReserved, 0);
  // An image's palette is its own copy.
  g.SetPixelIndex(0, 0, 3);
  g.NewImage(2, 2, ifColor256, nullptr, 0, 0);
  EXPECT_EQ(std::memcmp(&before, DefaultPalette(ifColor256), sizeof before), 0);
}

// ---- Storage

struct TStrideCase {
  TImageFormat Format;
  int Width;
  int Stride;
};

TEST(DibStorage, BytesPerRowAndHeader) {
  const TStrideCase cases[] = {{ifColor16, 3, 4},     {ifTrueColor, 3, 12}, {ifBlackWhite, 33, 8},
                               {ifBlackWhite, 32, 4}, {ifGray256, 5, 8},    {ifGray16, 9, 8},
                               {ifTrueColor, 1, 4},   {ifColor256, 4, 4}};
  for (const TStrideCase& c : cases) {
    TDibGraphic g;
    g.NewImage(c.Width, 7, c.Format, nullptr, 96, 96);
    EXPECT_EQ(g.BytesPerRow(), c.Stride) << ImageFormatName(c.Format) << " width " << c.Width;
    const TBitmapInfoHeader& h = g.BitmapInfo().bmiHeader;
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, c.Width);
    EXPECT_EQ(h.biHeight, 7);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, BitsPerPixel(c.Format));
    EXPECT_EQ(h.biCompression, BI_RGB);
    EXPECT_EQ(h.biSizeImage, uint32_t(7 * c.Stride));
    EXPECT_EQ(h.biClrUsed, c.Format == ifTrueColor ? 0u : uint32_t(1u << BitsPerPixel(c.Format)));
    EXPECT_EQ(h.biClrImportant, 0u);
    EXPECT_EQ(g.ImageFormat(), c.Format);
    EXPECT_EQ(g.Width(), c.Width);
    EXPECT_EQ(g.Height(), 7);
    EXPECT_FALSE(g.Empty());
  }
}

TEST(DibStorage, RowsAreBottomUp) {
  TDibGraphic g;
  g.NewImage(5, 4, ifTrueColor, nullptr, 96, 96);
  EXPECT_EQ(g.ScanLine(0), g.Bits() + 3 * g.BytesPerRow());
  EXPECT_EQ(g.ScanLine(3), g.Bits());
  g.SetPixelColor(0, 0, 0x123456);
  const uint8_t* last = g.Bits() + 3 * g.BytesPerRow();
  EXPECT_EQ(last[0], 0x56);
  EXPECT_EQ(last[1], 0x34);
  EXPECT_EQ(last[2], 0x12);
}

TEST(DibStorage, ImpossibleSizesRaiseAndLeaveTheImageEmpty) {
  const int sizes[][2] = {{200000, 200000}, {0, 10},         {10, 0},         {-5, 10},
                          {10, -5},         {2147483647, 2}, {100000, 100000}};
  for (const auto& s : sizes) {
    TDibGraphic g;
    g.NewImage(3, 3, ifTrueColor, nullptr, 96, 96);
    EXPECT_THROW_MSG(g.NewImage(s[0], s[1], ifTrueColor, nullptr, 96, 96), EImageError,
                     "CreateDibSection failed");
    EXPECT_TRUE(g.Empty());
    EXPECT_EQ(g.Width(), 0);
    EXPECT_EQ(g.Height(), 0);
    EXPECT_EQ(g.Canvas(), nullptr);
  }
  TDibGraphic g;
  EXPECT_THROW_MSG(g.NewImage(200000, 200000, ifBlackWhite, nullptr, 0, 0), EImageError,
                   "CreateDibSection failed");
}

TEST(DibStorage, ClearImageEmptiesButKeepsFormatAndPalette) {
  TDibGraphic g;
  const TLogPalette pal = MakePalette({0xFF0000, 0x00FF00});
  g.NewImage(4, 4, ifBlackWhite, &pal, 96, 96);
  g.ClearImage();
  EXPECT_TRUE(g.Empty());
  EXPECT_EQ(g.Width(), 0);
  EXPECT_EQ(g.ImageFormat(), ifBlackWhite);
  EXPECT_EQ(g.LogPalette()->palNumEntries, 2);
  EXPECT_EQ(g.BytesPerRow(), 4);
}

TEST(DibStorage, InvalidFormatRaises) {
  TDibGraphic g;
  g.NewImage(2, 2, ifTrueColor, nullptr, 96, 96);
  EXPECT_THROW_MSG(g.NewImage(2, 2, TImageFormat(6), nullptr, 96, 96), EImageError,
                   "Internal error: Invalid image format");
  EXPECT_TRUE(g.Empty());
  EXPECT_THROW_MSG(BitsPerPixel(TImageFormat(9)), EImageError,
                   "Internal error: Invalid image format");
}

TEST(DibStorage, SizeCannotBeWrittenDirectly) {
  TDibGraphic g;
  g.NewImage(2, 2, ifTrueColor, nullptr, 96, 96);
  EXPECT_THROW_MSG(g.SetWidth(5), EImageError,
                   "Dimensions must be change with the NewImage method");
  EXPECT_THROW_MSG(g.SetHeight(5), EImageError,
                   "Dimensions must be change with the NewImage method");
  EXPECT_EQ(g.Width(), 2);
}

TEST(ImageFormats, NamesBitsAndBitCounts) {
  const struct {
    TImageFormat F;
    int Bits;
    const char* Name;
  } rows[] = {{ifBlackWhite, 1, "Black and white"}, {ifGray16, 4, "16 shades of gray"},
              {ifGray256, 8, "256 shades of gray"}, {ifColor16, 4, "16 color"},
              {ifColor256, 8, "256 color"},         {ifTrueColor, 24, "True color"}};
  for (const auto& r : rows) {
    EXPECT_EQ(BitsPerPixel(r.F), r.Bits);
    EXPECT_EQ(ImageFormatName(r.F), r.Name);
  }
  EXPECT_EQ(ImageFormatName(TImageFormat(6)), "");
  EXPECT_EQ(FormatFromBitCount(1), ifBlackWhite);
  EXPECT_EQ(FormatFromBitCount(4), ifColor16);
  EXPECT_EQ(FormatFromBitCount(8), ifColor256);
  EXPECT_EQ(FormatFromBitCount(24), ifTrueColor);
  for (int bad : {0, 2, 16, 32, -1})
    EXPECT_THROW_MSG(FormatFromBitCount(bad), EImageError, "Unsupported bit count");
  EXPECT_EQ(MakeRgb(0x12, 0x34, 0x56), 0x123456u);
}

// ---- Pixels

TEST(DibPixels, OneBitPacking) {
  TDibGraphic g;
  g.NewImage(12, 2, ifBlackWhite, nullptr, 96, 96);
  std::memset(g.Bits(), 0, size_t(g.BytesPerRow()) * 2);
  g.SetPixelIndex(0, 0, 1);
  g.SetPixelIndex(9, 0, 2); // any value above 0 sets the bit
  EXPECT_EQ(g.ScanLine(0)[0], 0x80);
  EXPECT_EQ(g.ScanLine(0)[1], 0x40);
  EXPECT_EQ(g.GetPixelIndex(9, 0), 1);
  g.SetPixelIndex(9, 0, 0);
  EXPECT_EQ(g.GetPixelIndex(9, 0), 0);
  g.SetPixelIndex(3, 1, 256); // low 8 bits: 0
  EXPECT_EQ(g.GetPixelIndex(3, 1), 0);
  g.SetPixelIndex(3, 1, 255);
  EXPECT_EQ(g.ScanLine(1)[0], 0x10);
  EXPECT_EQ(g.GetPixelColor(3, 1), 0xFFFFFFu);
  EXPECT_EQ(g.GetPixelColor(4, 1), 0u);
  // The installed writer itself: values of 0 or less clear.
  g.PixelWriter()(g.ScanLine(1), 3, uint32_t(-7));
  EXPECT_EQ(g.GetPixelIndex(3, 1), 0);
}

TEST(DibPixels, FourBitPackingKeepsTheOtherNibble) {
  TDibGraphic g;
  g.NewImage(5, 1, ifGray16, nullptr, 96, 96);
  std::memset(g.Bits(), 0, 4);
  g.SetPixelIndex(0, 0, 0xA);
  g.SetPixelIndex(1, 0, 0x5);
  g.SetPixelIndex(4, 0, 0xF);
  EXPECT_EQ(g.ScanLine(0)[0], 0xA5);
  EXPECT_EQ(g.ScanLine(0)[2], 0xF0);
  g.SetPixelIndex(0, 0, 0x3);
  EXPECT_EQ(g.ScanLine(0)[0], 0x35);
  EXPECT_EQ(g.GetPixelIndex(1, 0), 5);
  EXPECT_EQ(g.GetPixelColor(1, 0), MakeRgb(85, 85, 85));
}

TEST(DibPixels, EightAndTwentyFourBits) {
  TDibGraphic g;
  g.NewImage(3, 1, ifColor256, nullptr, 96, 96);
  g.SetPixelIndex(2, 0, 0x1FF);
  EXPECT_EQ(g.ScanLine(0)[2], 0xFF);
  g.SetPixelIndex(1, 0, 40);
  EXPECT_EQ(g.GetPixelColor(1, 0), 0xFF0000u);

  TDibGraphic t;
  t.NewImage(3, 2, ifTrueColor, nullptr, 96, 96);
  t.SetPixelColor(2, 1, 0x112233);
  const uint8_t* p = t.ScanLine(1) + 6;
  EXPECT_EQ(p[0], 0x33);
  EXPECT_EQ(p[1], 0x22);
  EXPECT_EQ(p[2], 0x11);
  EXPECT_EQ(t.GetPixelColor(2, 1), 0x112233u);
  EXPECT_EQ(t.PixelReader()(t.ScanLine(1), 2), 0x112233u);
}

TEST(DibPixels, ColoursWrittenIntoPaletteImagesTakeTheNearestEntry) {
  TDibGraphic g;
  g.NewImage(4, 1, ifColor16, nullptr, 96, 96);
  g.SetPixelColor(0, 0, 0xFFFFFF);
  g.SetPixelColor(1, 0, 0x000000);
  g.SetPixelColor(2, 0, MakeRgb(250, 0, 0)); // (170,0,0) is nearer than (255,85,85)
  g.SetPixelColor(3, 0, MakeRgb(90, 250, 80));
  EXPECT_EQ(g.GetPixelIndex(0, 0), 15);
  EXPECT_EQ(g.GetPixelIndex(1, 0), 0);
  EXPECT_EQ(g.GetPixelIndex(2, 0), 4);
  EXPECT_EQ(g.GetPixelIndex(3, 0), 10);
}

TEST(DibPixels, ErrorTexts) {
  TDibGraphic g;
  g.NewImage(2, 2, ifTrueColor, nullptr, 96, 96);
  EXPECT_THROW_MSG(g.GetPixelIndex(0, 0), EImageError, "The image does not have a palette");
  EXPECT_THROW_MSG(g.SetPixelIndex(0, 0, 1), EImageError, "The image does not have a palette");
  // Coordinates outside the image are refused rather than read or written.
  EXPECT_THROW(g.GetPixelColor(2, 0), EImageError);
  EXPECT_THROW(g.SetPixelColor(0, -1, 0), EImageError);
  TDibGraphic empty;
  EXPECT_THROW(empty.GetPixelColor(0, 0), EImageError);
}

// ---- Resolution

TEST(DibResolution, DotsPerInchRoundTripThroughPixelsPerMetre) {
  const int cases[][2] = {{96, 3780}, {72, 2835}, {300, 11811},    {600, 23622},
                          {1, 39},    {0, 0},     {65535, 2580118}};
  for (const auto& c : cases) {
    TDibGraphic g;
    g.NewImage(1, 1, ifTrueColor, nullptr, 96, 96);
    g.SetXDpi(uint16_t(c[0]));
    g.SetYDpi(uint16_t(c[0]));
    EXPECT_EQ(g.XPelsPerMeter(), c[1]);
    EXPECT_EQ(g.YPelsPerMeter(), c[1]);
    EXPECT_EQ(g.XDpi(), c[0]);
    EXPECT_EQ(g.YDpi(), c[0]);
  }
  // Rounding to nearest, ties to even.
  EXPECT_EQ(DpiToPelsPerMeter(0.5 / 39.37007874015748), 0);
  EXPECT_EQ(PelsPerMeterToDpi(3779), 96);
}

TEST(DibResolution, ZeroTakesTheScreensResolution) {
  TDibGraphic g;
  g.NewImage(1, 1, ifTrueColor, nullptr, 0, 150);
  EXPECT_EQ(g.XDpi(), ScreenLogPixelsX());
  EXPECT_EQ(g.YDpi(), 150);
}

// ---- Assign

class TOtherGraphic : public TGraphic {
public:
  void Draw(TCanvas& Canvas, const TRect& Rect) override {
    Canvas.Painter().fillRect(Rect.Left + 1, Rect.Top + 1, 2, 1, QColor(255, 0, 0));
  }
  bool GetEmpty() const override { return false; }
  int GetHeight() const override { return 3; }
  int GetWidth() const override { return 4; }
  void SetHeightValue(int) override {}
  void SetWidthValue(int) override {}
  void LoadFromStream(TStream&) override {}
  void SaveToStream(TStream&) override {}
  void LoadFromClipboardFormat(uint16_t, const TBitmapHandle&, const TPalette*) override {}
  void SaveToClipboardFormat(uint16_t&, TBitmapHandle&, const TPalette*&) override {}
};

class TNotAGraphic : public TPersistent {};

class TSubGraphic : public TDibGraphic {};

TEST(DibAssign, FromNoneOrEmptyEmpties) {
  TDibGraphic g, empty;
  FillPattern(g, 3, 3);
  g.Assign(&empty);
  EXPECT_TRUE(g.Empty());
  FillPattern(g, 3, 3);
  g.Assign(nullptr);
  EXPECT_TRUE(g.Empty());
}

TEST(DibAssign, FromAnotherDibCopiesPixelsPaletteResolutionAndDelayOnly) {
  const TLogPalette pal = MakePalette({0x102030, 0x405060, 0x708090, 0xA0B0C0});
  TSubGraphic src;
  FillIndexes(src, 7, 5, ifColor16, &pal);
  src.SetXDpi(300);
  src.SetYDpi(150);
  src.SetFrameDelay(55);
  src.SetImageIndex(4);
  src.SetLoadAllImages(true);
  TDibGraphic g;
  g.Assign(&src);
  EXPECT_EQ(g.ImageFormat(), ifColor16);
  EXPECT_EQ(g.Width(), 7);
  EXPECT_EQ(g.Height(), 5);
  EXPECT_EQ(g.LogPalette()->palNumEntries, 4);
  EXPECT_EQ(std::memcmp(g.LogPalette(), src.LogPalette(), sizeof(TLogPalette)), 0);
  EXPECT_EQ(std::memcmp(g.Bits(), src.Bits(), size_t(5 * src.BytesPerRow())), 0);
  EXPECT_EQ(g.XDpi(), 300);
  EXPECT_EQ(g.YDpi(), 150);
  EXPECT_EQ(g.FrameDelay(), 55);
  EXPECT_EQ(g.ImageIndex(), 1);
  EXPECT_FALSE(g.LoadAllImages());
  // The copy is independent.
  src.SetPixelIndex(0, 0, 3);
  EXPECT_EQ(g.GetPixelIndex(0, 0), 0);
  // A zero resolution stays zero (not the screen's).
  src.SetXDpi(0);
  g.Assign(&src);
  EXPECT_EQ(g.XDpi(), 0);
}

// TakeImage hands the storage over: the same pixel memory, charged once,
// with palette, resolution and colour description; the source is empty and
// the new owner's canvas and palette mapping work on the moved pixels.
TEST(DibTakeImage, MovesPixelsPaletteResolutionAndColourWithoutCopying) {
  const TLogPalette pal = MakePalette({0x102030, 0x405060, 0x708090, 0xA0B0C0});
  TSubGraphic src;
  FillIndexes(src, 7, 5, ifColor16, &pal);
  src.SetXDpi(300);
  src.SetYDpi(150);
  auto colour = std::make_shared<TColorDescription>();
  colour->Transfer = TColorDescription::tfLinear;
  src.SetColorDescription(colour);
  src.SetFrameDelay(55);
  const uint8_t* pixels = src.Bits();
  const uint64_t charged = TMemoryBudget::Used();

  TDibGraphic g;
  FillPattern(g, 2, 2); // replaced
  g.TakeImage(src);
  EXPECT_TRUE(src.Empty());
  EXPECT_EQ(src.Canvas(), nullptr);
  EXPECT_EQ(g.Bits(), pixels);
  EXPECT_EQ(TMemoryBudget::Used(), charged);
  EXPECT_EQ(g.ImageFormat(), ifColor16);
  EXPECT_EQ(g.Width(), 7);
  EXPECT_EQ(g.Height(), 5);
  EXPECT_EQ(std::memcmp(g.LogPalette(), &pal, sizeof(TLogPalette)), 0);
  EXPECT_EQ(g.XDpi(), 300);
  EXPECT_EQ(g.YDpi(), 150);
  EXPECT_EQ(g.ColorDescription().get(), colour.get());
  EXPECT_EQ(g.FrameDelay(), 200) << "settings stay with their object";
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      EXPECT_EQ(g.GetPixelIndex(x, y), (x + 3 * y) % 16);
  g.SetPixelColor(1, 1, 0xA0B0C1); // nearest entry of the moved palette
  EXPECT_EQ(g.GetPixelIndex(1, 1), 3);
  ASSERT_NE(g.Canvas(), nullptr);
  g.Canvas()->FillRect(Rect(0, 0, 7, 1), 0x708090);
  g.FlushCanvas();
  EXPECT_EQ(g.GetPixelIndex(6, 0), 2);

  // Drawing still pending on the source's canvas arrives with the pixels.
  TDibGraphic drawn, taker;
  FillPattern(drawn, 4, 4);
  drawn.Canvas()->FillRect(Rect(0, 0, 4, 4), 0x123456);
  taker.TakeImage(drawn);
  EXPECT_EQ(taker.GetPixelColor(3, 3), 0x123456u);
  // An empty source empties.
  TDibGraphic none;
  taker.TakeImage(none);
  EXPECT_TRUE(taker.Empty());
}

// TBitmap reads whatever picture the platform's reader recognises in the
// bytes, from the stream's position to its end.
TEST(BitmapLoad, ReadsThePictureTheBytesHoldFromThePosition) {
  QImage img(3, 2, QImage::Format_RGB32);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      img.setPixel(x, y, qRgb(x * 80, y * 200, 5));
  QByteArray png;
  QBuffer out(&png);
  out.open(QIODevice::WriteOnly);
  ASSERT_TRUE(img.save(&out, "PNG"));
  TMemoryStream m;
  m.WriteBuffer("junk", 4);
  m.WriteBuffer(png.constData(), png.size());
  m.SetPosition(4);
  TBitmap bmp;
  bmp.LoadFromStream(m);
  EXPECT_EQ(m.Position(), m.Size());
  ASSERT_EQ(bmp.Width(), 3);
  ASSERT_EQ(bmp.Height(), 2);
  TDibGraphic g;
  g.Assign(&bmp);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(g.GetPixelColor(x, y), MakeRgb(uint8_t(x * 80), uint8_t(y * 200), 5));

  const char garbage[] = "this is not a picture";
  TBytesStream bad(garbage, sizeof garbage);
  TBitmap refused;
  EXPECT_THROW_MSG(refused.LoadFromStream(bad), EInvalidGraphic, "Bitmap image is not valid");
  TBytesStream empty(nullptr, 0);
  EXPECT_THROW_MSG(refused.LoadFromStream(empty), EInvalidGraphic, "Bitmap image is not valid");
  EXPECT_TRUE(refused.Empty());
}

TEST(DibAssign, FromTrueColourBitmapKeepsPixels) {
  TBitmap bmp;
  bmp.SetPixelFormat(pf24bit);
  bmp.SetWidth(5);
  bmp.SetHeight(3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      uint8_t* p = bmp.Handle()->View().Row(y) + 3 * x;
      const uint32_t c = PatternColour(x, y);
      p[0] = uint8_t(c);
      p[1] = uint8_t(c >> 8);
      p[2] = uint8_t(c >> 16);
    }
  bmp.Handle()->Header().biXPelsPerMeter = 11811;
  TDibGraphic g;
  g.Assign(&bmp);
  ASSERT_EQ(g.ImageFormat(), ifTrueColor);
  EXPECT_EQ(g.XDpi(), 300);
  EXPECT_EQ(g.YDpi(), ScreenLogPixelsY()); // no resolution: the screen's
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(g.GetPixelColor(x, y), PatternColour(x, y));
}

TEST(DibAssign, FromBitmapsOfEveryDepth) {
  const TRgbQuad table[4] = {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}, {1, 2, 3, 0}};
  const struct {
    int Bits;
    TImageFormat Expected;
  } rows[] = {{1, ifBlackWhite}, {4, ifColor16},    {8, ifColor256},
              {16, ifTrueColor}, {24, ifTrueColor}, {32, ifTrueColor}};
  for (const auto& r : rows) {
    TBitmap bmp;
    bmp.SetHandle(TPlatformBitmap::Create(9, 2, r.Bits, table, r.Bits == 1 ? 2 : 4));
    const TDibView v = bmp.Handle()->View();
    // Pixel (1, 0): index 1 or colour (r=48, g=80, b=120) in 5-5-5 terms.
    if (r.Bits <= 8) {
      if (r.Bits == 1) v.Row(0)[0] = 0x40;
      if (r.Bits == 4) v.Row(0)[0] = 0x01;
      if (r.Bits == 8) v.Row(0)[1] = 1;
    } else if (r.Bits == 16) {
      const unsigned c = (6u << 10) | (10u << 5) | 15u; // 5-bit levels
      v.Row(0)[2] = uint8_t(c);
      v.Row(0)[3] = uint8_t(c >> 8);
    } else {
      uint8_t* p = v.Row(0) + (r.Bits / 8);
      p[0] = 120;
      p[1] = 80;
      p[2] = 48;
    }
    TDibGraphic g;
    g.Assign(&bmp);
    EXPECT_EQ(g.ImageFormat(), r.Expected) << r.Bits;
    if (r.Bits <= 8) {
      EXPECT_EQ(g.GetPixelIndex(1, 0), 1) << r.Bits;
      EXPECT_EQ(g.GetPixelColor(1, 0), MakeRgb(60, 50, 40)) << r.Bits;
      EXPECT_EQ(g.LogPalette()->palNumEntries, r.Bits == 1 ? 2 : 4) << r.Bits;
    } else if (r.Bits == 16) {
      EXPECT_EQ(g.GetPixelColor(1, 0), MakeRgb(49, 82, 123));
    } else {
      EXPECT_EQ(g.GetPixelColor(1, 0), MakeRgb(48, 80, 120)) << r.Bits;
    }
    EXPECT_EQ(g.GetPixelColor(0, 1), r.Bits <= 8 ? MakeRgb(30, 20, 10) : 0u) << r.Bits;
  }
}

TEST(DibAssign, BitmapErrors) {
  TBitmap twoBits;
  twoBits.SetHandle(TPlatformBitmap::Create(4, 4, 2));
  TDibGraphic g;
  EXPECT_THROW_MSG(g.Assign(&twoBits), EImageError, "Unsupported bit count");

  TBitmap empty;
  EXPECT_THROW_MSG(g.Assign(&empty), EInvalidGraphic, "Invalid bitmap");
  EXPECT_THROW_MSG(g.AssignBitmapHandle(nullptr), EInvalidGraphic, "Invalid bitmap");

  TBitmapHandle rle = TPlatformBitmap::Create(4, 4, 8);
  rle->Header().biCompression = BI_RLE8;
  EXPECT_THROW_MSG(g.AssignBitmapHandle(rle), EImageError, "Unsupported compression");
}

TEST(DibAssign, DeviceDependentBitmapTakesTheDefaultPalette) {
  // A monochrome bitmap has no header of its own: colours used is 0, so the
  // image gets the default black-and-white palette.
  TBitmapHandle mono = TPlatformBitmap::CreateMonochrome(10, 2);
  mono->View().Row(1)[1] = 0x80; // pixel (8, 1)
  TDibGraphic g;
  g.AssignBitmapHandle(mono);
  EXPECT_EQ(g.ImageFormat(), ifBlackWhite);
  EXPECT_EQ(g.GetPixelIndex(8, 1), 1);
  EXPECT_EQ(g.GetPixelColor(8, 1), 0xFFFFFFu);
  EXPECT_EQ(g.XDpi(), ScreenLogPixelsX());
}

TEST(DibAssign, AnyOtherGraphicIsDrawnIntoABlackTrueColourImage) {
  TOtherGraphic other;
  TDibGraphic g;
  g.Assign(&other);
  ASSERT_EQ(g.ImageFormat(), ifTrueColor);
  EXPECT_EQ(g.Width(), 4);
  EXPECT_EQ(g.Height(), 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(g.GetPixelColor(x, y), (y == 1 && (x == 1 || x == 2)) ? 0xFF0000u : 0u)
          << x << "," << y;
}

TEST(DibAssign, AnythingElseIsAConversionError) {
  TNotAGraphic other;
  TDibGraphic g;
  EXPECT_THROW_MSG(g.Assign(&other), EConvertError,
                   "Cannot assign a TNotAGraphic to a TDibGraphic");
}

TEST(DibAssign, ClipboardRoundTrip) {
  TDibGraphic src;
  FillPattern(src, 6, 4);
  Clipboard().Assign(&src);
  if (!ClipboardGetBitmap()) GTEST_SKIP() << "no clipboard on this platform";
  TDibGraphic g;
  g.Assign(&Clipboard());
  ASSERT_EQ(g.ImageFormat(), ifTrueColor);
  ASSERT_EQ(g.Width(), 6);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(g.GetPixelColor(x, y), PatternColour(x, y));
}

TEST(DibAssignTo, DibBitmapAndUnsupportedDestinations) {
  TDibGraphic src;
  FillPattern(src, 5, 4);
  TDibGraphic dib;
  src.AssignTo(&dib);
  EXPECT_EQ(dib.GetPixelColor(4, 3), PatternColour(4, 3));

  TBitmap bmp;
  bmp.Assign(&src); // the bitmap asks the image to assign itself
  EXPECT_EQ(bmp.PixelFormat(), pf24bit);
  ASSERT_EQ(bmp.Width(), 5);
  ASSERT_EQ(bmp.Height(), 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(bmp.Handle()->View().PixelColor(x, y), PatternColour(x, y));

  TDibGraphic palette;
  FillIndexes(palette, 3, 2, ifColor256);
  palette.AssignTo(&bmp);
  EXPECT_EQ(bmp.PixelFormat(), pf24bit);
  EXPECT_EQ(bmp.Handle()->View().PixelColor(2, 1), palette.GetPixelColor(2, 1));

  TNotAGraphic other;
  EXPECT_THROW_MSG(other.Assign(&src), EImageError,
                   "Cannot assign a TDibGraphic to a TNotAGraphic");
  EXPECT_THROW_MSG(src.AssignTo(&other), EImageError,
                   "Cannot assign a TDibGraphic to a TNotAGraphic");
}

TEST(DibAssignTo, IconExportGoesThroughTheHook) {
  static int calls = 0;
  SetIconExportHook([](const TDibGraphic& Source, TPersistent* Dest) {
    if (!dynamic_cast<TNotAGraphic*>(Dest)) return false;
    calls += Source.Width();
    return true;
  });
  TDibGraphic src;
  FillPattern(src, 3, 3);
  TNotAGraphic icon;
  src.AssignTo(&icon);
  EXPECT_EQ(calls, 3);
  SetIconExportHook(nullptr);
}

// ---- Canvas

TEST(DibCanvas, DrawingLandsInThePixelsAfterFlush) {
  TDibGraphic g;
  FillPattern(g, 8, 6);
  QPainter& p = g.Canvas()->Painter();
  p.fillRect(2, 1, 3, 2, QColor(0, 0, 255));
  g.Canvas()->Flush();
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
      EXPECT_EQ(g.GetPixelColor(x, y), inside ? 0x0000FFu : PatternColour(x, y)) << x << "," << y;
    }
}

TEST(DibCanvas, PaletteImagesMapDrawnColoursToTheirPalette) {
  TDibGraphic g;
  g.NewImage(4, 4, ifColor16, nullptr, 96, 96);
  std::memset(g.Bits(), 0x99, size_t(4 * g.BytesPerRow()));
  g.Canvas()->Painter().fillRect(0, 0, 2, 4, QColor(250, 0, 0));
  g.FlushCanvas();
  EXPECT_EQ(g.GetPixelIndex(0, 3), 4);
  EXPECT_EQ(g.GetPixelIndex(1, 0), 4);
  EXPECT_EQ(g.GetPixelIndex(2, 0), 9); // untouched pixels keep their index
}

TEST(DibCanvas, PaletteHandle) {
  TDibGraphic t;
  FillPattern(t, 2, 2);
  EXPECT_EQ(t.PaletteHandle(), nullptr);
  TDibGraphic g;
  g.NewImage(2, 2, ifGray16, nullptr, 96, 96);
  const TPalette* h = g.PaletteHandle();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h, g.PaletteHandle());
  EXPECT_EQ(h->Log().palNumEntries, 16);
  EXPECT_EQ(h->Log().palPalEntry[3].peRed, 51);
}

} // namespace

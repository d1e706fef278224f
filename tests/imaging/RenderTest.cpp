// Drawing an image on a canvas (1:1 and stretched), the platform's stretch
// modes, and the clipboard formats.

#include "imaging/DibGraphic.h"
#include "tests/imaging/TestHelpers.h"
#include "imaging/PaletteConverter.h"

#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

uint32_t ImageColour(const QImage& Img, int X, int Y) {
  return Img.pixel(X, Y) & 0xFFFFFFu;
}

TEST(Draw, OneToOneAtAnOffsetOntoAnImageCanvas) {
  TDibGraphic src;
  FillPattern(src, 4, 3);
  TDibGraphic dest;
  dest.NewImage(20, 30, ifTrueColor, nullptr, 96, 96);
  std::memset(dest.Bits(), 0, size_t(30 * dest.BytesPerRow()));
  src.Draw(*dest.Canvas(), Rect(10, 20, 14, 23));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 20; ++x) {
      const bool inside = x >= 10 && x < 14 && y >= 20 && y < 23;
      ASSERT_EQ(dest.GetPixelColor(x, y), inside ? PatternColour(x - 10, y - 20) : 0u)
          << x << "," << y;
    }
}

TEST(Draw, OneToOneThroughAPainterAndItsClip) {
  TDibGraphic src;
  FillPattern(src, 100, 80);
  QImage target(30, 30, QImage::Format_RGB32);
  target.fill(Qt::black);
  {
    QPainter p(&target);
    p.setClipRect(5, 5, 10, 10);
    TCanvas canvas(p);
    src.Draw(canvas, Rect(-50, -40, 50, 40)); // 100 x 80 at (-50, -40)
  }
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) {
      const bool inside = x >= 5 && x < 15 && y >= 5 && y < 15;
      ASSERT_EQ(ImageColour(target, x, y), inside ? PatternColour(x + 50, y + 40) : 0u)
          << x << "," << y;
    }
}

TEST(Draw, ThroughAScaledPainter) {
  TDibGraphic src;
  FillPattern(src, 2, 2);
  QImage target(4, 4, QImage::Format_RGB32);
  {
    QPainter p(&target);
    p.scale(2, 2);
    TCanvas canvas(p);
    src.Draw(canvas, Rect(0, 0, 2, 2));
  }
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(ImageColour(target, x, y), PatternColour(x / 2, y / 2));
}

TEST(Draw, EmptyImageDrawsNothingButStillReports) {
  TDibGraphic empty;
  int calls = 0;
  empty.OnAfterDraw = [&](TDibGraphic*) { ++calls; };
  QImage target(3, 3, QImage::Format_RGB32);
  target.fill(Qt::white);
  {
    TCanvas canvas(target);
    empty.Draw(canvas, Rect(0, 0, 3, 3));
  }
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ImageColour(target, 1, 1), 0xFFFFFFu);
}

TEST(Draw, PaletteImagesResolveTheirColours) {
  TDibGraphic src;
  FillIndexes(src, 5, 3, ifColor16);
  QImage target(5, 3, QImage::Format_RGB32);
  {
    TCanvas canvas(target);
    src.Draw(canvas, Rect(0, 0, 5, 3));
  }
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(ImageColour(target, x, y), src.GetPixelColor(x, y));
}

TEST(Draw, StretchModesAndNearestPixels) {
  TDibGraphic src;
  src.NewImage(2, 2, ifTrueColor, nullptr, 96, 96);
  src.SetPixelColor(0, 0, 0xFF0000);
  src.SetPixelColor(1, 0, 0x00FF00);
  src.SetPixelColor(0, 1, 0x0000FF);
  src.SetPixelColor(1, 1, 0xFFFFFF);
  TDibGraphic dest;
  dest.NewImage(4, 4, ifTrueColor, nullptr, 96, 96);
  dest.Canvas()->SetBrushOrg(3, 3);
  src.Draw(*dest.Canvas(), Rect(0, 0, 4, 4));
  EXPECT_EQ(dest.Canvas()->StretchBltMode(), COLORONCOLOR);
  EXPECT_EQ(dest.Canvas()->BrushOrgX(), 3); // only HALFTONE resets the brush origin
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(dest.GetPixelColor(x, y), src.GetPixelColor(x / 2, y / 2));

  TDibGraphic pal;
  FillIndexes(pal, 2, 2, ifColor256);
  pal.Draw(*dest.Canvas(), Rect(0, 0, 3, 3));
  EXPECT_EQ(dest.Canvas()->StretchBltMode(), HALFTONE);
  EXPECT_EQ(dest.Canvas()->BrushOrgX(), 0);
  EXPECT_EQ(dest.Canvas()->BrushOrgY(), 0);
}

TEST(Draw, StretchOntoAPainterCanvas) {
  TDibGraphic src;
  FillPattern(src, 3, 2);
  QImage target(9, 4, QImage::Format_RGB32);
  {
    QPainter p(&target);
    TCanvas canvas(p);
    src.Draw(canvas, Rect(0, 0, 9, 4));
  }
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x)
      EXPECT_EQ(ImageColour(target, x, y), PatternColour(x / 3, y / 2));
}

TEST(Draw, OnAfterDrawFiresOnceAfterThePixelsAreOut) {
  TDibGraphic src;
  FillPattern(src, 2, 2);
  TDibGraphic dest;
  dest.NewImage(2, 2, ifTrueColor, nullptr, 96, 96);
  std::memset(dest.Bits(), 0, size_t(2 * dest.BytesPerRow()));
  int calls = 0;
  src.OnAfterDraw = [&](TDibGraphic* G) {
    ++calls;
    EXPECT_EQ(G, &src);
    EXPECT_EQ(dest.GetPixelColor(1, 1), PatternColour(1, 1));
  };
  src.Draw(*dest.Canvas(), Rect(0, 0, 2, 2));
  EXPECT_EQ(calls, 1);
  src.Draw(*dest.Canvas(), Rect(0, 0, 2, 1));
  EXPECT_EQ(calls, 2);
}

TEST(Draw, PaletteDeviceGetsItsPaletteBack) {
  TDibGraphic src;
  FillIndexes(src, 2, 2, ifColor16);
  QImage target(2, 2, QImage::Format_RGB32);
  TCanvas canvas(target);
  canvas.SetPaletteDevice(true);
  const TPalette mine(*DefaultPalette(ifGray16));
  canvas.SelectPalette(&mine, false);
  const TPalette* during = nullptr;
  src.OnAfterDraw = [&](TDibGraphic*) { during = canvas.SelectedPalette(); };
  src.Draw(canvas, Rect(0, 0, 2, 2));
  EXPECT_EQ(canvas.SelectedPalette(), &mine);
  EXPECT_EQ(during, &mine); // put back before OnAfterDraw
  auto halftone = CreateHalftonePalette();
  EXPECT_EQ(halftone->Log().palNumEntries, 256);
  EXPECT_EQ(halftone->Log().palPalEntry[255].peRed, 255);
}

// ---- The platform's stretch modes

double AreaAverage(const TDibGraphic& Src, int Channel, double X0, double X1, double Y0,
                   double Y1) {
  double sum = 0, area = 0;
  for (int y = int(std::floor(Y0)); y < int(std::ceil(Y1)); ++y)
    for (int x = int(std::floor(X0)); x < int(std::ceil(X1)); ++x) {
      const double w = (std::min(X1, x + 1.0) - std::max(X0, double(x))) *
                       (std::min(Y1, y + 1.0) - std::max(Y0, double(y)));
      sum += w * ((Src.GetPixelColor(x, y) >> (8 * Channel)) & 0xFF);
      area += w;
    }
  return sum / area;
}

TEST(Stretch, HalftoneIsAnAreaAverage) {
  std::mt19937 rng(7);
  const int sizes[][4] = {{7, 5, 3, 2},     {37, 23, 5, 4},  {64, 48, 13, 11},
                          {5, 4, 12, 9},    {300, 7, 41, 3}, {1000, 6, 270, 2}, // a photo's 3.7 : 1
                          {161, 3, 160, 3}, {16, 2, 2, 1}};                     // lists of 2 and 8
  for (const auto& s : sizes) {
    TDibGraphic src;
    src.NewImage(s[0], s[1], ifTrueColor, nullptr, 96, 96);
    for (int y = 0; y < s[1]; ++y)
      for (int x = 0; x < s[0]; ++x)
        src.SetPixelColor(x, y, rng() & 0xFFFFFF);
    TDibGraphic dst;
    dst.NewImage(s[2], s[3], ifTrueColor, nullptr, 96, 96);
    DibStretch(src.DibView(), Rect(0, 0, s[0], s[1]), dst.DibView(), Rect(0, 0, s[2], s[3]),
               HALFTONE);
    const double sx = double(s[0]) / s[2], sy = double(s[1]) / s[3];
    for (int y = 0; y < s[3]; ++y)
      for (int x = 0; x < s[2]; ++x)
        for (int c = 0; c < 3; ++c) {
          const double want = AreaAverage(src, c, x * sx, (x + 1) * sx, y * sy, (y + 1) * sy);
          const int got = (dst.GetPixelColor(x, y) >> (8 * c)) & 0xFF;
          ASSERT_NEAR(got, want, 1.0) << s[0] << "x" << s[1] << " to " << s[2] << "x" << s[3]
                                      << " at " << x << "," << y << " channel " << c;
        }
  }
}

TEST(Stretch, HalftoneCountsEverySourcePixel) {
  // One white pixel in a black 30 x 30 image, shrunk to 7 x 7, shows in the
  // destination wherever it is.
  for (int py = 0; py < 30; ++py)
    for (int px = 0; px < 30; ++px) {
      TDibGraphic src;
      src.NewImage(30, 30, ifTrueColor, nullptr, 96, 96);
      std::memset(src.Bits(), 0, size_t(30 * src.BytesPerRow()));
      src.SetPixelColor(px, py, 0xFFFFFF);
      TDibGraphic dst;
      dst.NewImage(7, 7, ifTrueColor, nullptr, 96, 96);
      DibStretch(src.DibView(), Rect(0, 0, 30, 30), dst.DibView(), Rect(0, 0, 7, 7), HALFTONE);
      int total = 0;
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x)
          total += int(dst.GetPixelColor(x, y) & 0xFF);
      // 255 / (30 * 30 / 49) = 13.9 spread over the pixels it touches.
      ASSERT_GE(total, 11) << px << "," << py;
      ASSERT_LE(total, 17) << px << "," << py;
    }
}

TEST(Stretch, ColorOnColorPicksTheNearestSourcePixel) {
  TDibGraphic src;
  FillPattern(src, 13, 9);
  const int sizes[][2] = {{5, 4}, {29, 20}, {13, 9}, {1, 1}};
  for (const auto& s : sizes) {
    TDibGraphic dst;
    dst.NewImage(s[0], s[1], ifTrueColor, nullptr, 96, 96);
    DibStretch(src.DibView(), Rect(0, 0, 13, 9), dst.DibView(), Rect(0, 0, s[0], s[1]),
               COLORONCOLOR);
    for (int y = 0; y < s[1]; ++y)
      for (int x = 0; x < s[0]; ++x) {
        const int sx = (2 * x + 1) * 13 / (2 * s[0]), sy = (2 * y + 1) * 9 / (2 * s[1]);
        ASSERT_EQ(dst.GetPixelColor(x, y), PatternColour(sx, sy))
            << s[0] << "x" << s[1] << " at " << x << "," << y;
      }
  }
}

TEST(Stretch, MirroredDestinationAndClip) {
  TDibGraphic src;
  FillPattern(src, 4, 2);
  TDibGraphic dst;
  dst.NewImage(4, 2, ifTrueColor, nullptr, 96, 96);
  std::memset(dst.Bits(), 0, size_t(2 * dst.BytesPerRow()));
  const TRect clip = Rect(1, 0, 3, 2);
  DibStretch(src.DibView(), Rect(0, 0, 4, 2), dst.DibView(), Rect(4, 0, 0, 2), COLORONCOLOR,
             nullptr, &clip);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(dst.GetPixelColor(x, y), (x == 1 || x == 2) ? PatternColour(3 - x, y) : 0u)
          << x << "," << y;
}

TEST(Stretch, PaletteDestinationsGetNearestIndexes) {
  TDibGraphic src;
  src.NewImage(40, 40, ifTrueColor, nullptr, 96, 96);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x)
      src.SetPixelColor(x, y, x < 20 ? MakeRgb(250, 5, 5) : MakeRgb(3, 3, 160));
  for (TStretchMode mode : {COLORONCOLOR, HALFTONE}) {
    TDibGraphic dst;
    dst.NewImage(10, 10, ifColor16, nullptr, 96, 96);
    dst.Canvas()->SetStretchBltMode(mode);
    StretchDIBits(*dst.Canvas(), Rect(0, 0, 10, 10), Rect(0, 0, 40, 40), src.DibView());
    EXPECT_EQ(dst.GetPixelIndex(0, 0), 4);
    EXPECT_EQ(dst.GetPixelIndex(9, 9), 1);
  }
  // Palette to palette: the source's colours mapped once into the destination's table.
  TDibGraphic pal;
  const TLogPalette p = MakePalette({0x000000, 0xFFFFFF, 0xFF0000});
  pal.NewImage(4, 1, ifColor256, &p, 96, 96);
  for (int x = 0; x < 4; ++x)
    pal.SetPixelIndex(x, 0, x % 3);
  TDibGraphic dst;
  dst.NewImage(8, 1, ifColor16, nullptr, 96, 96);
  DibStretch(pal.DibView(), Rect(0, 0, 4, 1), dst.DibView(), Rect(0, 0, 8, 1), COLORONCOLOR,
             dst.Converter());
  const int want[8] = {0, 0, 15, 15, 4, 4, 0, 0};
  for (int x = 0; x < 8; ++x)
    EXPECT_EQ(dst.GetPixelIndex(x, 0), want[x]) << x;
}

TEST(Stretch, FourBitAndOneBitSources) {
  TDibGraphic bw;
  bw.NewImage(16, 2, ifBlackWhite, nullptr, 96, 96);
  for (int x = 0; x < 16; ++x) {
    bw.SetPixelIndex(x, 0, x < 8 ? 1 : 0);
    bw.SetPixelIndex(x, 1, x < 8 ? 1 : 0);
  }
  TDibGraphic dst;
  dst.NewImage(4, 1, ifTrueColor, nullptr, 96, 96);
  DibStretch(bw.DibView(), Rect(0, 0, 16, 2), dst.DibView(), Rect(0, 0, 4, 1), HALFTONE);
  EXPECT_EQ(dst.GetPixelColor(0, 0), 0xFFFFFFu);
  EXPECT_EQ(dst.GetPixelColor(3, 0), 0u);
  TDibGraphic g16;
  FillIndexes(g16, 6, 2, ifGray16);
  TDibGraphic out;
  out.NewImage(6, 2, ifTrueColor, nullptr, 96, 96);
  DibStretch(g16.DibView(), Rect(0, 0, 6, 2), out.DibView(), Rect(0, 0, 6, 2), HALFTONE);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(out.GetPixelColor(x, y), g16.GetPixelColor(x, y));
}

// ---- Clipboard formats

TEST(ClipboardFormats, ExportBitmaps) {
  TDibGraphic bw;
  FillIndexes(bw, 9, 3, ifBlackWhite);
  uint16_t format = 0;
  TBitmapHandle data;
  const TPalette* palette = nullptr;
  bw.SaveToClipboardFormat(format, data, palette);
  EXPECT_EQ(format, CF_BITMAP);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->BitCount(), 1);
  EXPECT_FALSE(data->IsDibSection());
  for (int x = 0; x < 9; ++x)
    EXPECT_EQ(data->View().PixelColor(x, 2), bw.GetPixelColor(x, 2));

  TDibGraphic c256;
  FillIndexes(c256, 5, 2, ifColor256);
  c256.SaveToClipboardFormat(format, data, palette);
  EXPECT_EQ(data->BitCount(), 32);
  EXPECT_FALSE(data->IsDibSection());
  EXPECT_EQ(data->View().PixelColor(4, 1), c256.GetPixelColor(4, 1));

  // And back: the bitmap's own layout.
  TDibGraphic back;
  back.LoadFromClipboardFormat(CF_BITMAP, data, nullptr);
  EXPECT_EQ(back.ImageFormat(), ifTrueColor);
  EXPECT_EQ(back.GetPixelColor(4, 1), c256.GetPixelColor(4, 1));
}

TEST(ClipboardFormats, UnknownFormatsAndMissingData) {
  TDibGraphic g;
  EXPECT_THROW_MSG(g.LoadFromClipboardFormat(8, TPlatformBitmap::Create(1, 1, 24), nullptr),
                   EInvalidGraphic, "Unknown clipboard format, 8");
  EXPECT_THROW_MSG(g.LoadFromClipboardFormat(CF_BITMAP, nullptr, nullptr), EInvalidGraphic,
                   "Unknown clipboard format, 2");
}

} // namespace

// Transforms: anti-alias, negative, resize (stretching and filtered
// resampling), crop, progress reports and the error texts.

#include "imaging/Transforms.h"
#include "tests/imaging/TestHelpers.h"
#include "imaging/PaletteConverter.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Records every progress report.
struct TProgressLog {
  std::vector<int> Percents;
  void Attach(TImageTransform& T) {
    T.OnProgress = [this](TImageTransform*, uint8_t P) { Percents.push_back(P); };
  }
  void ExpectWellFormed() const {
    ASSERT_FALSE(Percents.empty());
    EXPECT_EQ(Percents.front(), 0);
    EXPECT_EQ(Percents.back(), 100);
    for (size_t i = 0; i < Percents.size(); ++i) {
      EXPECT_LE(Percents[i], 100);
      if (i > 0) {
        EXPECT_NE(Percents[i], Percents[i - 1]) << "repeated at " << i;
      }
    }
  }
};

int Nibble(const TDibGraphic& G, int X, int Y) {
  return G.GetPixelIndex(X, Y);
}

// ---- Anti-alias

TEST(AntiAlias, TableHoldsRoundedShares) {
  const uint16_t* t = AntiAliasTable();
  EXPECT_EQ(t[0x00], 0x0000);
  EXPECT_EQ(t[0xFF], 0xFFFF);
  EXPECT_EQ(t[0x80], 0x4000); // b7 alone: 3.75 rounds to 4
  EXPECT_EQ(t[0xC0], 0x8400); // b7 b6: 8 in the first, 4 in the second
  EXPECT_EQ(t[0xCC], 0xF800); // b7 b6 b3 b2: 4 set -> 15; b6 b2: 2 -> 8
  EXPECT_EQ(t[0xE0], 0x8840); // b7 b6 b5: 2 -> 8, 2 -> 8, 1 -> 4
  EXPECT_EQ(t[0x11], 0x008F); // b4 b0: third nibble 2 -> 8, last (b4 + b0) * 7.5 = 15
  EXPECT_EQ(t[0x10], 0x0048); // b4 alone: 4 and 7.5 -> 8
  // Sums 0..4 give 0, 4, 8, 11, 15 in the first nibble (bits b7 b6 b3 b2).
  const int first[5] = {0x00, 0x80, 0xC0, 0xC8, 0xCC};
  const int expect[5] = {0, 4, 8, 11, 15};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(t[first[i]] >> 12, expect[i]) << i;
}

TEST(AntiAlias, AllSetTwoByTwoGivesWhite) {
  TDibGraphic src;
  src.NewImage(2, 2, ifBlackWhite, nullptr, 200, 100);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x)
      src.SetPixelIndex(x, y, 1);
  TDibGraphic dest;
  TAntiAliasTransform t;
  t.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.ImageFormat(), ifGray16);
  EXPECT_EQ(dest.XDpi(), 200);
  EXPECT_EQ(dest.YDpi(), 100);
  EXPECT_EQ(dest.LogPalette()->palPalEntry[15].peRed, 255);
  EXPECT_EQ(Nibble(dest, 0, 0), 15);
}

TEST(AntiAlias, BlocksNeverReachAcrossGroupsOfFour) {
  // Row 0 byte 0xF0 over row 1 byte 0x00: two set bits in each block of the
  // first four pixels; the fourth counts itself and the pixel below.
  TDibGraphic src;
  src.NewImage(8, 2, ifBlackWhite, nullptr, 96, 96);
  std::memset(src.Bits(), 0, size_t(2 * src.BytesPerRow()));
  src.ScanLine(0)[0] = 0xF0;
  TDibGraphic dest;
  TAntiAliasTransform().ApplyOnDest(src, dest);
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(Nibble(dest, x, 0), 8) << x;
  for (int x = 4; x < 8; ++x)
    EXPECT_EQ(Nibble(dest, x, 0), 0) << x;
  // The last row pairs with itself: 1 1 1 1 over 1 1 1 1.
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(Nibble(dest, x, 1), 0) << x;
  src.ScanLine(1)[0] = 0x18; // pixels 3 and 4 set in the last row
  TAntiAliasTransform().ApplyOnDest(src, dest);
  EXPECT_EQ(Nibble(dest, 3, 1), 15); // counts itself twice: (b4 + b0) * 7.5 with both set
  EXPECT_EQ(Nibble(dest, 2, 1), 8);  // itself unset, right neighbour set, in both rows: 2 of 4
  EXPECT_EQ(Nibble(dest, 4, 1), 8);
}

TEST(AntiAlias, OtherFormatsAreCopiedAndApplyLeavesThemAlone) {
  TDibGraphic src;
  FillIndexes(src, 5, 4, ifColor256);
  TDibGraphic dest;
  TProgressLog log;
  TAntiAliasTransform t;
  log.Attach(t);
  t.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.ImageFormat(), ifColor256);
  EXPECT_EQ(std::memcmp(dest.Bits(), src.Bits(), size_t(4 * src.BytesPerRow())), 0);
  log.ExpectWellFormed();
  t.Apply(src);
  EXPECT_EQ(src.ImageFormat(), ifColor256);

  TDibGraphic bw;
  FillIndexes(bw, 9, 3, ifBlackWhite);
  t.Apply(bw);
  EXPECT_EQ(bw.ImageFormat(), ifGray16);
  EXPECT_EQ(bw.Width(), 9);
}

TEST(AntiAlias, MatchesTheBlockShareEverywhere) {
  // Each grey is the share of set bits in the pixel's 2 x 2 block (the right
  // neighbour only inside its group of four), rounded as in the table.
  TDibGraphic src;
  src.NewImage(21, 5, ifBlackWhite, nullptr, 96, 96);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 21; ++x)
      src.SetPixelIndex(x, y, ((x * 7 + y * 3) % 5) < 2);
  TDibGraphic dest;
  TProgressLog log;
  TAntiAliasTransform t;
  log.Attach(t);
  t.ApplyOnDest(src, dest);
  log.ExpectWellFormed();
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 21; ++x) {
      const int yn = y + 1 < 5 ? y + 1 : y;
      int want;
      if (x % 4 == 3) {
        want = int(std::nearbyint((src.GetPixelIndex(x, y) + src.GetPixelIndex(x, yn)) * 7.5));
      } else {
        const int right =
            x + 1 < 21 ? src.GetPixelIndex(x + 1, y) + src.GetPixelIndex(x + 1, yn) : 0;
        want = int(
            std::nearbyint((src.GetPixelIndex(x, y) + src.GetPixelIndex(x, yn) + right) * 3.75));
      }
      ASSERT_EQ(Nibble(dest, x, y), want) << x << "," << y;
    }
}

// ---- Negative

TEST(Negative, PaletteColourImagesInvertThePaletteOnly) {
  const TLogPalette pal = MakePalette({0x102030, 0xFFFFFF, 0x000000});
  TDibGraphic g;
  g.NewImage(5, 3, ifColor256, &pal, 300, 300);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      g.SetPixelIndex(x, y, (x + y) % 3);
  std::vector<uint8_t> before(g.Bits(), g.Bits() + 3 * g.BytesPerRow());
  TNegativeTransform().Apply(g);
  EXPECT_EQ(std::vector<uint8_t>(g.Bits(), g.Bits() + 3 * g.BytesPerRow()), before);
  EXPECT_EQ(g.LogPalette()->palNumEntries, 3);
  EXPECT_EQ(g.GetPixelColor(0, 0), 0xEFDFCFu);
  EXPECT_EQ(g.GetPixelColor(1, 0), 0x000000u);
  EXPECT_EQ(g.XDpi(), 300);
}

TEST(Negative, GreyAndBlackWhiteImagesInvertEveryByte) {
  TDibGraphic g;
  FillIndexes(g, 3, 2, ifGray16);
  std::vector<uint8_t> before(g.Bits(), g.Bits() + 2 * g.BytesPerRow());
  TProgressLog log;
  TNegativeTransform t;
  log.Attach(t);
  t.Apply(g);
  log.ExpectWellFormed();
  for (size_t i = 0; i < before.size(); ++i)
    EXPECT_EQ(g.Bits()[i], uint8_t(~before[i])) << i;
  EXPECT_EQ(g.GetPixelIndex(0, 0), 15);
  EXPECT_EQ(g.LogPalette()->palPalEntry[15].peRed, 255); // the palette stays

  TDibGraphic bw;
  FillIndexes(bw, 10, 2, ifBlackWhite);
  TDibGraphic out;
  TNegativeTransform().ApplyOnDest(bw, out);
  for (int x = 0; x < 10; ++x)
    EXPECT_EQ(out.GetPixelIndex(x, 1), 1 - bw.GetPixelIndex(x, 1));
}

TEST(Negative, TrueColourInvertsEachChannel) {
  TDibGraphic g;
  FillPattern(g, 5, 3);
  TDibGraphic out;
  TNegativeTransform().ApplyOnDest(g, out);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(out.GetPixelColor(x, y), PatternColour(x, y) ^ 0xFFFFFFu);
  EXPECT_EQ(g.GetPixelColor(1, 1), PatternColour(1, 1)); // the source stays
}

// ---- Resize

TEST(Resize, DefaultsKeepFormatAndPalette) {
  TResizeTransform t;
  EXPECT_EQ(t.Width, 300);
  EXPECT_EQ(t.Height, 200);
  EXPECT_FALSE(t.Resample);
  EXPECT_FALSE(t.ConvertFormat);
  EXPECT_EQ(t.TargetFormat, ifTrueColor);
  EXPECT_EQ(t.Filter, rfTriangle);
  const TLogPalette pal = MakePalette({0x112233, 0x445566, 0x778899});
  TDibGraphic src;
  src.NewImage(30, 20, ifColor16, &pal, 150, 75);
  TDibGraphic dest;
  t.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.Width(), 300);
  EXPECT_EQ(dest.Height(), 200);
  EXPECT_EQ(dest.ImageFormat(), ifColor16);
  EXPECT_EQ(dest.LogPalette()->palNumEntries, 3);
  EXPECT_EQ(dest.GetPixelColor(0, 0), 0x112233u);
  EXPECT_EQ(dest.XDpi(), 150);
  EXPECT_EQ(dest.YDpi(), 75);
}

TEST(Resize, ConvertFormatTakesTheTargetsDefaultPalette) {
  TDibGraphic src;
  FillPattern(src, 8, 8);
  TResizeTransform t;
  t.Width = 4;
  t.Height = 4;
  t.ConvertFormat = true;
  t.TargetFormat = ifColor256;
  TDibGraphic dest;
  t.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.ImageFormat(), ifColor256);
  EXPECT_EQ(std::memcmp(dest.LogPalette(), DefaultPalette(ifColor256), sizeof(TLogPalette)), 0);
}

TEST(Resize, StretchingChoosesTheModeBySize) {
  // Up to 1024 pixels: nearest pixel; above and true colour: area average.
  TDibGraphic small;
  FillPattern(small, 32, 32); // 1024 pixels
  TResizeTransform t;
  t.Width = 16;
  t.Height = 16;
  TDibGraphic dest;
  t.ApplyOnDest(small, dest);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      ASSERT_EQ(dest.GetPixelColor(x, y), PatternColour(2 * x + 1, 2 * y + 1));

  TDibGraphic big;
  big.NewImage(33, 32, ifTrueColor, nullptr, 96, 96); // 1056 pixels
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 33; ++x)
      big.SetPixelColor(x, y, ((x + y) & 1) ? 0xFFFFFF : 0x000000);
  t.Width = 11;
  t.Height = 8;
  t.ApplyOnDest(big, dest);
  EXPECT_EQ(dest.Canvas()->StretchBltMode(), HALFTONE);
  const uint32_t c = dest.GetPixelColor(5, 4) & 0xFF;
  EXPECT_GE(c, 120u); // an average of the checkerboard, not one of its pixels
  EXPECT_LE(c, 136u);
}

TEST(Resize, ProgressOfStretching) {
  TDibGraphic src;
  FillPattern(src, 10, 10);
  TResizeTransform t;
  TProgressLog log;
  log.Attach(t);
  t.Width = 5;
  t.Height = 5;
  TDibGraphic dest;
  t.ApplyOnDest(src, dest);
  EXPECT_EQ(log.Percents, (std::vector<int>{0, 50, 100}));
}

TEST(Resample, FilterValues) {
  const struct {
    TResampleFilter F;
    float Support;
    float At0, AtHalf, At1p2;
  } rows[] = {{rfTriangle, 1.0f, 1.0f, 0.5f, 0.0f},
              {rfHermite, 1.0f, 1.0f, 0.5f, 0.0f},
              {rfBell, 1.5f, 0.75f, 0.5f, 0.045f},
              {rfBSpline, 2.0f, 2.0f / 3, 0.4791667f, 0.0853333f},
              {rfLanczos3, 3.0f, 1.0f, 0.6079271f, -0.1180005f},
              {rfMitchell, 2.0f, 0.8888889f, 0.5347222f, -0.0142222f}};
  for (const auto& r : rows) {
    EXPECT_EQ(ResampleFilterSupport(r.F), r.Support);
    EXPECT_NEAR(ResampleFilterWeight(r.F, 0.0f), r.At0, 1e-5) << int(r.F);
    EXPECT_NEAR(ResampleFilterWeight(r.F, 0.5f), r.AtHalf, 1e-5) << int(r.F);
    EXPECT_NEAR(ResampleFilterWeight(r.F, -0.5f), r.AtHalf, 1e-5) << int(r.F);
    EXPECT_NEAR(ResampleFilterWeight(r.F, 1.2f), r.At1p2, 1e-5) << int(r.F);
    EXPECT_EQ(ResampleFilterWeight(r.F, r.Support + 0.01f), 0.0f);
  }
}

void ExpectList(const std::vector<TResampleContributor>& List,
                std::vector<std::pair<int, float>> Want) {
  ASSERT_EQ(List.size(), Want.size());
  for (size_t i = 0; i < Want.size(); ++i) {
    EXPECT_EQ(List[i].Pixel, Want[i].first) << i;
    EXPECT_NEAR(List[i].Weight, Want[i].second, 1e-6) << i;
  }
}

TEST(Resample, WeightsEnlargingReducingAndMirroring) {
  // Enlarging 4 to 7: scale 2, destination 1 sits halfway between sources 0 and 1.
  auto up = ResampleContributions(4, 7, rfTriangle);
  ExpectList(up[0], {{0, 1.0f}});
  ExpectList(up[1], {{0, 0.5f}, {1, 0.5f}});
  ExpectList(up[6], {{3, 1.0f}});
  // Reducing 7 to 4: scale 0.5, the filter widened to 2 and scaled by 1/2;
  // column -1 is mirrored onto column 1.
  auto down = ResampleContributions(7, 4, rfTriangle);
  ExpectList(down[0], {{1, 0.25f}, {0, 0.5f}, {1, 0.25f}});
  ExpectList(down[1], {{1, 0.25f}, {2, 0.5f}, {3, 0.25f}});
  ExpectList(down[3], {{5, 0.25f}, {6, 0.5f}, {6, 0.25f}}); // column 7 mirrored onto 2 * 7 - 7 - 1
  // A 1-pixel source scales by the destination width: every weight on pixel 0.
  auto one = ResampleContributions(1, 3, rfTriangle);
  ExpectList(one[0], {{0, 1.0f}});
  for (const auto& l : one)
    for (const auto& c : l)
      EXPECT_EQ(c.Pixel, 0);
  // Lanczos on a 2-pixel source reaches beyond the mirror: those weights are 0.
  auto wide = ResampleContributions(2, 5, rfLanczos3);
  for (const auto& l : wide)
    for (const auto& c : l) {
      EXPECT_GE(c.Pixel, 0);
      EXPECT_LT(c.Pixel, 2);
    }
}

TEST(Resample, ResultsAndErrors) {
  TDibGraphic src;
  src.NewImage(9, 6, ifTrueColor, nullptr, 96, 96);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x)
      src.SetPixelColor(x, y, MakeRgb(uint8_t(20 * x), 100, uint8_t(40 * y)));
  TResizeTransform t;
  t.Resample = true;
  t.Width = 5;
  t.Height = 3;
  TDibGraphic dest;
  TProgressLog log;
  log.Attach(t);
  t.ApplyOnDest(src, dest);
  log.ExpectWellFormed();
  // Column 2 (centre 4, reducing by 2): red 0.25 * 60 + 0.5 * 80 + 0.25 * 100 = 80.
  // Row 1 (centre 2.5, reducing by 2.5): rows 1 to 4 weigh 0.16, 0.32, 0.32,
  // 0.16 (0.96 in all: reduction weights are not normalised), so red 76.8,
  // green 96, blue 40 * (0.16 + 0.64 + 0.96 + 0.64) = 96.
  EXPECT_EQ(dest.GetPixelColor(2, 1), MakeRgb(77, 96, 96));
  // Row 0 (centre 0): rows -2 to 2 weigh 0.08, 0.24, 0.4, 0.24, 0.08, mirrored: 1.04 * 100.
  EXPECT_EQ(dest.GetPixelColor(0, 0) & 0x00FF00u, uint32_t(104) << 8);
  const uint32_t trueColour = dest.GetPixelColor(3, 2);
  // Into a palette destination through the nearest entries.
  t.ConvertFormat = true;
  t.TargetFormat = ifColor16;
  t.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.ImageFormat(), ifColor16);
  EXPECT_EQ(dest.GetPixelIndex(3, 2),
            TRgbToPaletteConverter(dest.LogPalette()).NearestIndex(trueColour));

  t.ConvertFormat = false;
  t.Width = 1;
  EXPECT_THROW_MSG(t.ApplyOnDest(src, dest), EImageError, "Destination graphic too small");
  t.Width = 4;
  t.Height = 1;
  EXPECT_THROW_MSG(t.ApplyOnDest(src, dest), EImageError, "Destination graphic too small");
  TDibGraphic empty;
  t.Height = 4;
  EXPECT_THROW_MSG(t.ApplyOnDest(empty, dest), EImageError, "Source graphic too small");

  TDibGraphic column;
  column.NewImage(1, 3, ifTrueColor, nullptr, 96, 96);
  for (int y = 0; y < 3; ++y)
    column.SetPixelColor(0, y, 0x808080);
  t.Width = 4;
  t.Height = 3;
  t.ApplyOnDest(column, dest);
  for (int x = 0; x < 4; ++x)
    EXPECT_EQ(dest.GetPixelColor(x, 1), 0x808080u);
}

TEST(Resample, EnlargingKeepsAFlatColourFlatWithEveryFilter) {
  // Enlarging, each filter's weights add up to 1 (Lanczos nearly), so a
  // flat colour stays flat; zero channels stay exactly zero.
  TDibGraphic src;
  src.NewImage(7, 5, ifColor256, nullptr, 96, 96);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      src.SetPixelIndex(x, y, 40);
  for (TResampleFilter f : {rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell}) {
    TResizeTransform t;
    t.Resample = true;
    t.Filter = f;
    t.Width = 12;
    t.Height = 9;
    t.ConvertFormat = true;
    TDibGraphic dest;
    t.ApplyOnDest(src, dest);
    ASSERT_EQ(dest.ImageFormat(), ifTrueColor);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 12; ++x) {
        const uint32_t c = dest.GetPixelColor(x, y);
        ASSERT_GE(int(c >> 16), f == rfLanczos3 ? 248 : 254) << int(f) << " " << x << "," << y;
        ASSERT_EQ(c & 0xFFFFu, 0u) << int(f) << " " << x << "," << y;
      }
  }
}

// ---- Crop

TEST(Crop, CutsEachSide) {
  const TImageFormat formats[] = {ifTrueColor, ifBlackWhite, ifGray16, ifColor256};
  for (TImageFormat f : formats) {
    TDibGraphic src;
    if (f == ifTrueColor)
      FillPattern(src, 13, 7, 120);
    else
      FillIndexes(src, 13, 7, f);
    TCropTransform t;
    t.CutLeft = 3;
    t.CutTop = 2;
    t.CutRight = 1;
    t.CutBottom = 4;
    TDibGraphic dest;
    TProgressLog log;
    log.Attach(t);
    t.ApplyOnDest(src, dest);
    log.ExpectWellFormed();
    ASSERT_EQ(dest.Width(), 9);
    ASSERT_EQ(dest.Height(), 1);
    EXPECT_EQ(dest.ImageFormat(), f);
    EXPECT_EQ(dest.XDpi(), src.XDpi());
    for (int x = 0; x < 9; ++x)
      EXPECT_EQ(dest.GetPixelColor(x, 0), src.GetPixelColor(x + 3, 2)) << int(f) << " " << x;
  }
}

TEST(Crop, NoCutsCopiesAndBadCutsAreRefused) {
  TDibGraphic src;
  FillPattern(src, 6, 4);
  TCropTransform t;
  TDibGraphic dest;
  t.ApplyOnDest(src, dest);
  EXPECT_EQ(dest.Width(), 6);
  EXPECT_EQ(dest.GetPixelColor(5, 3), PatternColour(5, 3));
  t.CutLeft = 2;
  t.CutRight = 4;
  EXPECT_THROW_MSG(t.ApplyOnDest(src, dest), EImageError, "Invalid crop parameters");
  t.CutLeft = t.CutRight = 0;
  t.CutTop = 5;
  EXPECT_THROW_MSG(t.ApplyOnDest(src, dest), EImageError, "Invalid crop parameters");
  t.CutTop = -1;
  EXPECT_THROW_MSG(t.ApplyOnDest(src, dest), EImageError, "Invalid crop parameters");
  t.CutTop = 0;
  t.CutRight = -2;
  EXPECT_THROW_MSG(t.ApplyOnDest(src, dest), EImageError, "Invalid crop parameters");
}

TEST(Crop, InPlaceThroughTheBaseApply) {
  TDibGraphic g;
  FillPattern(g, 6, 4);
  TCropTransform t;
  t.CutLeft = 1;
  t.CutBottom = 3;
  t.Apply(g);
  ASSERT_EQ(g.Width(), 5);
  ASSERT_EQ(g.Height(), 1);
  EXPECT_EQ(g.GetPixelColor(0, 0), PatternColour(1, 0));
  // A one-row result reports through an empty range without dividing by zero.
  TProgressLog log;
  log.Attach(t);
  t.CutLeft = 0;
  t.CutBottom = 0;
  t.CutRight = 1;
  t.ApplyOnDest(g, g); // source and destination the same image
  log.ExpectWellFormed();
  EXPECT_EQ(g.Width(), 4);
  EXPECT_EQ(g.GetPixelColor(0, 0), PatternColour(1, 0));
}

// ---- Base class

class TPlainTransform : public TImageTransform {};

TEST(Transform, BaseApplyOnDestIsNotImplemented) {
  TPlainTransform t;
  TDibGraphic a, b;
  EXPECT_THROW_MSG(t.ApplyOnDest(a, b), EImageError,
                   "Method \"ApplyOnDest\" not implemented for TPlainTransform class");
  EXPECT_THROW_MSG(t.Apply(a), EImageError,
                   "Method \"ApplyOnDest\" not implemented for TPlainTransform class");
}

TEST(Transform, ResizeOntoItself) {
  TDibGraphic g;
  FillPattern(g, 4, 4);
  TResizeTransform t;
  t.Width = 8;
  t.Height = 8;
  t.ApplyOnDest(g, g);
  ASSERT_EQ(g.Width(), 8);
  EXPECT_EQ(g.GetPixelColor(7, 7), PatternColour(3, 3));
}

} // namespace

// Turning pictures by their stored orientation: the pixel packings below 8
// bits go their own way, so every format is checked against the true-colour
// result of the same pattern (which the JPEG tests check block by block).

#include "imaging/Orientation.h"

#include "tests/imaging/TestHelpers.h"

#include <vector>

namespace {

// An index pattern without symmetries, 13 x 3 so that 1-bit and 4-bit rows
// end inside a byte and cross byte boundaries both before and after a turn.
constexpr int kW = 13;
constexpr int kH = 3;
int PatternIndex(int X, int Y, int Mod) {
  return ((X + kW * Y) * 37 + 11) % 251 % Mod;
}

void FillPatternIndexes(TDibGraphic& G, TImageFormat F, const TLogPalette& Pal) {
  G.NewImage(kW, kH, F, &Pal, 150, 75);
  for (int Y = 0; Y < kH; ++Y)
    for (int X = 0; X < kW; ++X)
      G.SetPixelIndex(X, Y, PatternIndex(X, Y, 1 << BitsPerPixel(F)));
}

TLogPalette DistinctPalette(int Count) {
  TLogPalette P{};
  P.palVersion = 0x300;
  P.palNumEntries = uint16_t(Count);
  for (int I = 0; I < Count; ++I)
    P.palPalEntry[I] = {uint8_t(I * 16 + 5), uint8_t(255 - I * 13), uint8_t(I * 7), 0};
  return P;
}

} // namespace

TEST(OrientImage, EveryPackingTurnsLikeTrueColour) {
  for (const TImageFormat F : {ifBlackWhite, ifGray16, ifColor16, ifGray256, ifColor256}) {
    const int Mod = 1 << BitsPerPixel(F);
    const TLogPalette Pal = DistinctPalette(std::min(Mod, 256));
    for (int O = 1; O <= 8; ++O) {
      SCOPED_TRACE("format " + ImageFormatName(F) + ", orientation " + std::to_string(O));
      TDibGraphic Packed;
      FillPatternIndexes(Packed, F, Pal);
      TDibGraphic True;
      True.NewImage(kW, kH, ifTrueColor, nullptr, 150, 75);
      for (int Y = 0; Y < kH; ++Y)
        for (int X = 0; X < kW; ++X) {
          const TPaletteEntry& E = Pal.palPalEntry[PatternIndex(X, Y, Mod)];
          True.SetPixelColor(X, Y, MakeRgb(E.peRed, E.peGreen, E.peBlue));
        }

      OrientImage(Packed, O);
      OrientImage(True, O);
      ASSERT_EQ(Packed.Width(), True.Width());
      ASSERT_EQ(Packed.Height(), True.Height());
      EXPECT_EQ(Packed.Width(), O >= 5 ? kH : kW);
      EXPECT_EQ(Packed.ImageFormat(), F);
      EXPECT_EQ(Packed.LogPalette()->palNumEntries, Pal.palNumEntries);
      // The resolutions go with the axes.
      EXPECT_EQ(Packed.XDpi(), O >= 5 ? 75 : 150);
      EXPECT_EQ(True.YDpi(), O >= 5 ? 150 : 75);
      for (int Y = 0; Y < True.Height(); ++Y)
        for (int X = 0; X < True.Width(); ++X)
          ASSERT_EQ(Packed.GetPixelColor(X, Y), True.GetPixelColor(X, Y)) << X << "," << Y;
    }
  }
}

TEST(OrientImage, TurnsTrueColourAsTheOrientationSays) {
  // A 3 x 2 picture: a b c / d e f. Each row of the table is the shown
  // picture, its rows separated by '/'.
  const struct {
    int Orientation;
    const char* Shown;
  } Cases[] = {
      {1, "abc/def"},  {2, "cba/fed"},  {3, "fed/cba"},  {4, "def/abc"},
      {5, "ad/be/cf"}, {6, "da/eb/fc"}, {7, "fc/eb/da"}, {8, "cf/be/ad"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Orientation);
    TDibGraphic G;
    G.NewImage(3, 2, ifTrueColor, nullptr, 96, 96);
    for (int I = 0; I < 6; ++I)
      G.SetPixelColor(I % 3, I / 3, uint32_t('a' + I));
    OrientImage(G, C.Orientation);
    std::string Shown;
    for (int Y = 0; Y < G.Height(); ++Y) {
      if (Y > 0) Shown += '/';
      for (int X = 0; X < G.Width(); ++X)
        Shown += char(G.GetPixelColor(X, Y));
    }
    EXPECT_EQ(Shown, C.Shown);
  }
}

TEST(OrientImage, OtherValuesAndEmptyImagesStayAsTheyAre) {
  TDibGraphic G;
  FillPattern(G, 4, 3);
  for (const int O : {-1, 0, 1, 9, 65535}) {
    OrientImage(G, O);
    EXPECT_EQ(G.Width(), 4);
    EXPECT_EQ(G.GetPixelColor(0, 0), PatternColour(0, 0));
    EXPECT_EQ(G.GetPixelColor(3, 2), PatternColour(3, 2));
  }
  TDibGraphic Empty;
  OrientImage(Empty, 6);
  EXPECT_TRUE(Empty.Empty());
}

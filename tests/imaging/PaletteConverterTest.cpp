// Nearest-colour mapping: answers, ties, the cache and its collisions.

#include "imaging/PaletteConverter.h"
#include "tests/imaging/TestHelpers.h"

#include <random>

namespace {

// The first entry at the smallest squared distance, by a plain scan.
int Reference(const TLogPalette& P, uint32_t C) {
  const int r = (C >> 16) & 0xFF, g = (C >> 8) & 0xFF, b = C & 0xFF;
  int best = 0;
  long bestD = 1L << 40;
  for (int i = 0; i < P.palNumEntries; ++i) {
    const long dr = r - P.palPalEntry[i].peRed, dg = g - P.palPalEntry[i].peGreen,
               db = b - P.palPalEntry[i].peBlue;
    const long d = dr * dr + dg * dg + db * db;
    if (d < bestD) {
      bestD = d;
      best = i;
    }
  }
  return best;
}

TEST(PaletteConverter, WhiteAndBlackAgainstSixteenColours) {
  TRgbToPaletteConverter c(DefaultPalette(ifColor16));
  EXPECT_EQ(c.NearestIndex(0xFFFFFF), 15);
  EXPECT_EQ(c.NearestIndex(0x000000), 0);
  EXPECT_EQ(c.NearestIndex(MakeRgb(170, 85, 0)), 6);
}

TEST(PaletteConverter, TiesGoToTheLowerIndex) {
  const TLogPalette up = MakePalette({0x000000, 0x0A0000, 0x140000});
  TRgbToPaletteConverter a(&up);
  EXPECT_EQ(a.NearestIndex(0x050000), 0); // halfway between entries 0 and 1
  EXPECT_EQ(a.NearestIndex(0x0F0000), 1); // halfway between entries 1 and 2
  const TLogPalette down = MakePalette({0x140000, 0x0A0000, 0x000000});
  TRgbToPaletteConverter b(&down);
  EXPECT_EQ(b.NearestIndex(0x050000), 1);
  EXPECT_EQ(b.NearestIndex(0x0F0000), 0);
  // Duplicate entries: the first.
  const TLogPalette dup = MakePalette({0x808080, 0x00FF00, 0x00FF00});
  TRgbToPaletteConverter d(&dup);
  EXPECT_EQ(d.NearestIndex(0x00FF00), 1);
}

TEST(PaletteConverter, CacheSlotsAndCollisions) {
  TRgbToPaletteConverter c(DefaultPalette(ifColor16));
  EXPECT_EQ(c.NearestIndex(0x0000AA), 1);
  EXPECT_EQ(c.SearchCount(), 1u);
  EXPECT_EQ(c.NearestIndex(0x0000AA), 1); // from the cache
  EXPECT_EQ(c.SearchCount(), 1u);
  // 5 and 1025 share slot 5: each replaces the other.
  EXPECT_EQ(c.NearestIndex(5), 0);
  EXPECT_EQ(c.NearestIndex(1025), 0);
  EXPECT_EQ(c.NearestIndex(5), 0);
  EXPECT_EQ(c.SearchCount(), 4u);
  // Colours of different answers in one slot are answered correctly.
  const uint32_t white = 0xFFFFFF, other = white - 1020 * 3; // same slot as white
  EXPECT_EQ(white % 1020, other % 1020);
  EXPECT_EQ(c.NearestIndex(white), 15);
  EXPECT_EQ(c.NearestIndex(other), Reference(*DefaultPalette(ifColor16), other));
  EXPECT_EQ(c.NearestIndex(white), 15);
  // Slot 0 holds colour 0 after a search, not before: an empty slot never matches.
  TRgbToPaletteConverter fresh(DefaultPalette(ifColor16));
  EXPECT_EQ(fresh.NearestIndex(0), 0);
  EXPECT_EQ(fresh.SearchCount(), 1u);
}

TEST(PaletteConverter, EmptyPaletteAnswersZero) {
  TLogPalette none{};
  TRgbToPaletteConverter c(&none);
  EXPECT_EQ(c.NearestIndex(0x123456), 0);
}

TEST(PaletteConverter, ManySearchesAgreeWithAPlainScan) {
  // Past the first searches the converter narrows each search to the
  // entries that can win in the colour's part of the cube; the answers
  // (ties included) must stay those of a full scan.
  std::mt19937 rng(3);
  TLogPalette random{};
  random.palNumEntries = 256;
  for (int i = 0; i < 256; ++i) {
    const uint32_t v = rng();
    // Coarse values make many equal distances; some entries repeat.
    random.palPalEntry[i] = TPaletteEntry{uint8_t((v & 7) * 36), uint8_t(((v >> 3) & 7) * 36),
                                          uint8_t(((v >> 6) & 3) * 85), 0};
  }
  for (const TLogPalette* p :
       {DefaultPalette(ifColor256), DefaultPalette(ifColor16), DefaultPalette(ifGray256),
        static_cast<const TLogPalette*>(&random)}) {
    TRgbToPaletteConverter c(p);
    for (int i = 0; i < 60000; ++i) {
      const uint32_t colour = (i < 30000) ? (rng() & 0xFFFFFF) : (rng() & 0xF0F0F0);
      ASSERT_EQ(c.NearestIndex(colour), Reference(*p, colour)) << std::hex << colour;
    }
  }
}

} // namespace

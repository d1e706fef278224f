// The small shared routines.

#include "tests/imaging/TestHelpers.h"
#include "imaging/AlphaComposite.h"

#include <cstring>

namespace {

TEST(Misc, Clamp) {
  EXPECT_EQ(Clamp(5, 0, 10), 5);
  EXPECT_EQ(Clamp(-3, 0, 10), 0);
  EXPECT_EQ(Clamp(12, 0, 10), 10);
  EXPECT_EQ(Clamp(5, 8, 2), 2); // Low first, then High
}

TEST(Misc, SwapRgbSwapsWholeGroupsOnly) {
  uint8_t buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  SwapRgb(buf, 8);
  const uint8_t want[8] = {3, 2, 1, 6, 5, 4, 7, 8};
  EXPECT_EQ(std::memcmp(buf, want, 8), 0);
  SwapRgb(buf, 2);
  EXPECT_EQ(std::memcmp(buf, want, 8), 0);
}

TEST(Misc, CeilAndFloor) {
  const struct {
    double X;
    int C, F;
  } rows[] = {{1.0, 1, 1}, {1.2, 2, 1},    {-1.2, -1, -2}, {-1.0, -1, -1},
              {0.0, 0, 0}, {2.9999, 3, 2}, {-0.5, 0, -1}};
  for (const auto& r : rows) {
    EXPECT_EQ(Ceil(r.X), r.C) << r.X;
    EXPECT_EQ(Floor(r.X), r.F) << r.X;
  }
}

TEST(Misc, GlobalsAndErrors) {
  EXPECT_DOUBLE_EQ(DisplayGamma, 2.2);
  EXPECT_THROW_MSG(LzwError(), EImageError, "LZW compression not supported");
}

} // namespace

// Transparent pixels blend onto the background as Colour * a + Back * (255 - a)
// over 255, rounded; both channel orders.
TEST(AlphaComposite, BlendsOntoBackgroundInBothChannelOrders) {
  struct TCase {
    uint8_t R, G, B, A;
    uint32_t Background;
    uint8_t WantB, WantG, WantR;
  };
  const TCase cases[] = {
      {200, 100, 50, 255, 0xFFFFFF, 50, 100, 200},   // opaque: the colour as it is
      {200, 100, 50, 0, 0x102030, 0x30, 0x20, 0x10}, // clear: the background
      {255, 255, 255, 128, 0x000000, 128, 128, 128}, // half over black
      {0, 0, 0, 1, 0xFFFFFF, 254, 254, 254},         {10, 20, 30, 77, 0x804020, 31, 51, 92},
  };
  for (const TCase& c : cases) {
    const uint8_t rgba[4] = {c.R, c.G, c.B, c.A};
    const uint8_t bgra[4] = {c.B, c.G, c.R, c.A};
    uint8_t fromRgba[3] = {}, fromBgra[3] = {};
    CompositeRgbaRow(rgba, 1, c.Background, fromRgba);
    CompositeBgraRow(bgra, 1, c.Background, fromBgra);
    EXPECT_EQ(fromRgba[0], c.WantB);
    EXPECT_EQ(fromRgba[1], c.WantG);
    EXPECT_EQ(fromRgba[2], c.WantR);
    EXPECT_EQ(std::vector<uint8_t>(fromRgba, fromRgba + 3),
              std::vector<uint8_t>(fromBgra, fromBgra + 3));
  }
}

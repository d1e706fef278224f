#pragma once
// Small helpers shared by the image model's tests.

#include "imaging/DibGraphic.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

// Expects Statement to throw exactly the exception class E with message Text.
#define EXPECT_THROW_MSG(Statement, E, Text)                                                       \
  EXPECT_THAT([&] { Statement; }, ::testing::ThrowsMessage<E>(::testing::StrEq(Text)))

// A deterministic pattern colour for pixel (x, y).
inline uint32_t PatternColour(int x, int y) {
  return MakeRgb(uint8_t(x * 37 + y * 11), uint8_t(x * 5 + y * 71), uint8_t(x * 13 ^ y * 29));
}

// A true-colour image filled with PatternColour.
inline void FillPattern(TDibGraphic& G, int W, int H, uint16_t Dpi = 72) {
  G.NewImage(W, H, ifTrueColor, nullptr, Dpi, Dpi);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      G.SetPixelColor(x, y, PatternColour(x, y));
}

// A palette image whose pixel (x, y) has index (x + 3 * y) mod 2^bits.
inline void FillIndexes(TDibGraphic& G, int W, int H, TImageFormat F,
                        const TLogPalette* Pal = nullptr) {
  G.NewImage(W, H, F, Pal, 96, 96);
  const int mod = 1 << BitsPerPixel(F);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      G.SetPixelIndex(x, y, (x + 3 * y) % mod);
}

inline TLogPalette MakePalette(std::initializer_list<uint32_t> Colours) {
  TLogPalette p{};
  p.palVersion = 0x300;
  for (uint32_t c : Colours) {
    p.palPalEntry[p.palNumEntries++] =
        TPaletteEntry{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 0};
  }
  return p;
}

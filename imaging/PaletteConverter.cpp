#include "imaging/PaletteConverter.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <limits>

TRgbToPaletteConverter::TRgbToPaletteConverter(const TLogPalette* Palette) : FPalette(Palette) {
  FCount = Palette ? std::min<int>(Palette->palNumEntries, 256) : 0;
  for (int i = 0; i < FCount; ++i) {
    FRed[i] = Palette->palPalEntry[i].peRed;
    FGreen[i] = Palette->palPalEntry[i].peGreen;
    FBlue[i] = Palette->palPalEntry[i].peBlue;
  }
}

namespace {
constexpr uint64_t kSearchesBeforeCells = 64;
}

void TRgbToPaletteConverter::BuildCells() {
  FCellStart.assign(513, 0);
  FCellEntries.clear();
  FCellEntries.reserve(512 * 8);
  int32_t minD[256];
  for (int cell = 0; cell < 512; ++cell) {
    const int lo[3] = {(cell >> 6) * 32, ((cell >> 3) & 7) * 32, (cell & 7) * 32};
    const int32_t* comp[3] = {FRed, FGreen, FBlue};
    int32_t bound = INT32_MAX;
    for (int i = 0; i < FCount; ++i) {
      int32_t dmin = 0, dmax = 0;
      for (int c = 0; c < 3; ++c) {
        const int v = comp[c][i], a = lo[c], b = lo[c] + 31;
        const int below = v < a ? a - v : (v > b ? v - b : 0);
        const int far = std::max(std::abs(v - a), std::abs(v - b));
        dmin += below * below;
        dmax += far * far;
      }
      minD[i] = dmin;
      bound = std::min(bound, dmax);
    }
    FCellStart[size_t(cell)] = uint32_t(FCellEntries.size());
    for (int i = 0; i < FCount; ++i)
      if (minD[i] <= bound) FCellEntries.push_back(uint8_t(i));
  }
  FCellStart[512] = uint32_t(FCellEntries.size());
}

int16_t TRgbToPaletteConverter::Search(uint32_t Colour, Slot& S) {
  ++FSearches;
  const int32_t r = (Colour >> 16) & 0xFF, g = (Colour >> 8) & 0xFF, b = Colour & 0xFF;
  int best = 0;
  int32_t bestD = std::numeric_limits<int32_t>::max();
  if (FCellStart.empty() && FSearches > kSearchesBeforeCells && FCount > 8) BuildCells();
  if (!FCellStart.empty()) {
    // Only the entries that can be nearest within this colour's cell; they
    // include every entry at the smallest distance, in index order, so the
    // first minimum is the same as that of a full scan.
    const int cell = ((r >> 5) << 6) | ((g >> 5) << 3) | (b >> 5);
    for (uint32_t k = FCellStart[size_t(cell)], e = FCellStart[size_t(cell) + 1]; k < e; ++k) {
      const int i = FCellEntries[k];
      const int32_t dr = r - FRed[i], dg = g - FGreen[i], db = b - FBlue[i];
      const int32_t d = dr * dr + dg * dg + db * db;
      if (d < bestD) {
        bestD = d;
        best = i;
      }
    }
  } else {
    // The first entry at the smallest distance (the same answer as stopping
    // at the first exact match).
    for (int i = 0; i < FCount; ++i) {
      const int32_t dr = r - FRed[i], dg = g - FGreen[i], db = b - FBlue[i];
      const int32_t d = dr * dr + dg * dg + db * db;
      if (d < bestD) {
        bestD = d;
        best = i;
        if (d == 0) break;
      }
    }
  }
  S.Key = Colour;
  S.Index = int16_t(best);
  return S.Index;
}

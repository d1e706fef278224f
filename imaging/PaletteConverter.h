#pragma once
// Nearest-colour mapping of 0x00RRGGBB colours to the entries of a palette,
// with a direct-mapped cache of recent answers (1020 slots).

#include "Dib.h"

#include <cstdint>

class TRgbToPaletteConverter final : public TPaletteMapper {
public:
  static constexpr int CacheSize = 1020;

  // Palette must outlive the converter (it is the owning image's LogPalette).
  explicit TRgbToPaletteConverter(const TLogPalette* Palette);

  // The index of the first palette entry nearest to Colour (squared RGB
  // distance); 0 for a palette without entries.
  int16_t NearestIndex(uint32_t Colour) {
    Slot& s = FCache[Colour % CacheSize];
    if (s.Index >= 0 && s.Key == Colour) return s.Index;
    return Search(Colour, s);
  }
  int MapColor(uint32_t Colour) override { return NearestIndex(Colour); }

  // Number of palette searches made so far (cache misses).
  uint64_t SearchCount() const { return FSearches; }

private:
  struct Slot {
    uint32_t Key = 0;
    int16_t Index = -1;
  };
  int16_t Search(uint32_t Colour, Slot& S);

  const TLogPalette* FPalette;
  int FCount = 0;
  // The entries as separate components, for a fast scan.
  int32_t FRed[256];
  int32_t FGreen[256];
  int32_t FBlue[256];
  Slot FCache[CacheSize];
  uint64_t FSearches = 0;
};

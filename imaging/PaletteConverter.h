#pragma once
// Nearest-colour mapping of 0x00RRGGBB colours to the entries of a palette,
// with a direct-mapped cache of recent answers (1020 slots).

#include "platform/Dib.h"

#include <cstdint>
#include <vector>

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

  const TLogPalette* Palette() const { return FPalette; }
  // Number of palette searches made so far (cache misses).
  uint64_t SearchCount() const { return FSearches; }

private:
  struct Slot {
    uint32_t Key = 0;
    int16_t Index = -1;
  };
  int16_t Search(uint32_t Colour, Slot& S);
  void BuildCells();

  const TLogPalette* FPalette;
  int FCount = 0;
  // The entries as separate components, for a fast scan.
  int32_t FRed[256];
  int32_t FGreen[256];
  int32_t FBlue[256];
  Slot FCache[CacheSize];
  uint64_t FSearches = 0;
  // After a number of searches: for each cell of an 8 x 8 x 8 division of
  // the colour cube, the entries that can be nearest to some colour in it
  // (in index order), so a search scans a few entries instead of all.
  std::vector<uint8_t> FCellEntries;
  std::vector<uint32_t> FCellStart; // 513 offsets into FCellEntries
};

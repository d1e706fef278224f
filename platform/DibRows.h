#pragma once
// Pixel rows of any depth, shared by the 1:1 copy (Dib.cpp) and stretching
// (DibStretch.cpp): runs of pixels fetched and stored as blue, green, red
// bytes or as palette indexes, and palette translation.

#include "platform/Dib.h"

#include <cstdint>

namespace dib_rows {

inline bool IsPaletteDepth(int BitCount) {
  return BitCount == 1 || BitCount == 2 || BitCount == 4 || BitCount == 8;
}

// Colours of N pixels of row y from column X0 as blue, green, red bytes.
void FetchBgr(const TDibView& V, int y, int X0, int N, uint8_t* Out);
// Palette indexes of N pixels of row y from column X0.
void FetchIndexes(const TDibView& V, int y, int X0, int N, uint8_t* Out);
void StoreIndexes(const TDibView& V, int y, int X0, int N, const uint8_t* In);

// Maps colours to a destination's indexes, remembering the last answer.
struct TColorToIndex {
  TPaletteMapper* Mapper;
  uint32_t LastColour = 0xFFFFFFFFu;
  int LastIndex = 0;
  int operator()(uint32_t c) {
    if (c != LastColour) {
      LastColour = c;
      LastIndex = Mapper->MapColor(c);
    }
    return LastIndex;
  }
};

void StoreBgr(const TDibView& V, int y, int X0, int N, const uint8_t* In, TColorToIndex& Map);

// Translation of Src's colour table into Dst's indexes; identity when the tables are equal.
void BuildTranslation(const TDibView& Src, const TDibView& Dst, TPaletteMapper& Mapper,
                      uint8_t* Table, bool& Identity);

} // namespace dib_rows

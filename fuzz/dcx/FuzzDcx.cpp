// DCX files through TDcxGraphic: the page count, and every page (at most 8).

#include "BmmFuzz.h"
#include "DcxGraphic.h"

#include <cstring>

namespace {

// Whether the page that starts at the offset in table entry Index is small
// enough to decode (or not a PCX the module accepts).
bool PageAffordable(const uint8_t* Data, size_t Size, int Index) {
  const size_t at = 4 * size_t(Index);
  if (at + 4 > Size) return true;
  uint32_t start = 0;
  for (int i = 0; i < 4; ++i)
    start |= uint32_t(Data[at + i]) << (8 * i);
  if (start >= Size) return true;
  return bmmfuzz::Affordable(Data + start, Size - start, BMM_FORMAT_PCX);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  int pages = 0;
  try {
    TBytesStream s(Data, static_cast<int64_t>(Size));
    TDcxGraphic g;
    pages = g.GetImageCount(s);
  } catch (const std::exception&) {
    return 0;
  }
  for (int i = 1; i <= pages && i <= 8; ++i) {
    if (!PageAffordable(Data, Size, i)) continue;
    TBytesStream s(Data, static_cast<int64_t>(Size));
    TDcxGraphic g;
    try {
      g.LoadImageFromStream(s, i);
    } catch (const std::exception&) {
    }
  }
  return 0;
}

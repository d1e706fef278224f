// DCX files through TDcxGraphic: the page count, and every page (at most 8).

#include "fuzz/common/BmmFuzz.h"
#include "formats/DcxGraphic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzzlimits::Apply();
  int pages = 0;
  try {
    TBytesStream s(Data, static_cast<int64_t>(Size));
    TDcxGraphic g;
    pages = g.GetImageCount(s);
  } catch (const std::exception&) {
    return 0;
  }
  for (int i = 1; i <= pages && i <= 8; ++i) {
    TBytesStream s(Data, static_cast<int64_t>(Size));
    TDcxGraphic g;
    try {
      g.LoadImageFromStream(s, i);
    } catch (const std::exception&) {
    }
  }
  return 0;
}

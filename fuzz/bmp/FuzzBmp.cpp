// BMP files through TBitmapGraphic: the bitmap module, and the platform
// decoder for what the module refuses.

#include "formats/BitmapGraphic.h"
#include "fuzz/common/BmmFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const bool once = (bmmfuzz::LimitPlatformDecoder(), true);
  (void)once;
  fuzzlimits::Apply();
  TBytesStream s(Data, static_cast<int64_t>(Size));
  TBitmapGraphic g;
  try {
    g.LoadFromStream(s);
  } catch (const std::exception&) {
  }
  return 0;
}

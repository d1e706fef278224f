// JPEG files through TJpegGraphic (libjpeg with our error manager and source).

#include "JpegGraphic.h"

#include <cstddef>
#include <cstdint>

namespace {
// Pictures above this many pixels are skipped: decoding them only spends the
// fuzzer's memory and time on the size, not on the glue.
constexpr uint64_t kMaxPixels = uint64_t(1) << 22;

// Looks at every start-of-frame marker in the data (a cheap over-estimate of
// what libjpeg will see) and answers whether all frame sizes are affordable.
bool Affordable(const uint8_t* Data, size_t Size) {
  for (size_t I = 0; I + 9 <= Size; ++I) {
    if (Data[I] != 0xFF) continue;
    const uint8_t M = Data[I + 1];
    if (M < 0xC0 || M > 0xCF || M == 0xC4 || M == 0xC8 || M == 0xCC) continue;
    const uint64_t H = (uint64_t(Data[I + 5]) << 8) | Data[I + 6];
    const uint64_t W = (uint64_t(Data[I + 7]) << 8) | Data[I + 8];
    if (W * H > kMaxPixels) return false;
  }
  return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (!Affordable(Data, Size)) return 0;
  TBytesStream S(Data, static_cast<int64_t>(Size));
  TJpegGraphic G;
  try {
    G.LoadFromStream(S);
  } catch (const Exception&) {
  }
  return 0;
}

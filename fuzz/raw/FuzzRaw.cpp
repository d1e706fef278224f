// Camera RAW files through TRawGraphic: libraw opened on the bytes, then the
// preview decoded or the sensor's picture developed. Without a GUI
// application the screen counts as 1920 x 1080, so small files mostly take
// the developing path; previews as large as their sensor picture are shown.

#include "fuzz/common/FuzzLimits.h"
#include "formats/RawGraphic.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzzlimits::Apply();
  TBytesStream S(Data, static_cast<int64_t>(Size));
  TRawGraphic G;
  try {
    G.LoadFromStream(S);
  } catch (const Exception&) {
  }
  return 0;
}

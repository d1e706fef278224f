// JPEG files through TJpegGraphic (libjpeg with our error manager and source).

#include "fuzz/common/FuzzLimits.h"
#include "formats/JpegGraphic.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzzlimits::Apply();
  TBytesStream S(Data, static_cast<int64_t>(Size));
  TJpegGraphic G;
  try {
    G.LoadFromStream(S);
  } catch (const Exception&) {
  }
  return 0;
}

// HEIF files (HEIC, AVIF) through THeifGraphic: libheif reading from memory
// under our size limits, then our conversion of its pixels. libheif and its
// codecs are not instrumented: coverage shows our side only.

#include "fuzz/common/FuzzLimits.h"
#include "formats/HeifGraphic.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzzlimits::Apply();
  // The last byte picks the background, so both compositing colours run.
  const uint8_t Choice = Size > 0 ? Data[Size - 1] : 0;
  TBytesStream S(Data, static_cast<int64_t>(Size));
  THeifGraphic G;
  G.BackgroundColor = (Choice & 1) ? 0xFFFFFF : 0x336699;
  try {
    G.LoadFromStream(S);
  } catch (const Exception&) {
  }
  return 0;
}

// JPEG XL files through TJxlGraphic: libjxl's decoder driven by our event
// loop, colour choice, frames and orientation. libjxl is not instrumented:
// coverage shows our side only.

#include "fuzz/common/FuzzLimits.h"
#include "formats/JxlGraphic.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzzlimits::Apply();
  // The last byte picks the background and the frame asked for, so that the
  // compositing colours and the frame selection both run.
  const uint8_t Choice = Size > 0 ? Data[Size - 1] : 0;
  TBytesStream S(Data, static_cast<int64_t>(Size));
  TJxlGraphic G;
  G.BackgroundColor = (Choice & 1) ? 0xFFFFFF : 0x336699;
  G.SetImageIndex((Choice & 6) == 6 ? 2 : 1);
  try {
    G.LoadFromStream(S);
  } catch (const Exception&) {
  }
  return 0;
}

// WebP files through TWebPGraphic (libwebp's decoder, demuxer and animation
// decoder, the ICC and EXIF chunks). The last byte picks the background
// colour, the image index (1: the animation with every frame; 2 to 4: one
// frame alone) and whether pictures are turned by their EXIF orientation;
// every frame of an animation is shown once.

#include "formats/WebPGraphic.h"
#include "fuzz/common/FuzzLimits.h"
#include "imaging/Orientation.h"

#include <cstddef>
#include <cstdlib>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzzlimits::Apply();
  // An animation's frames are whole pictures: a tiny file may claim frames of
  // the whole limit. A lower one (the reader checks it the same way) keeps
  // the runs fast.
  static const bool Lower = [] {
    if (!std::getenv("IMBREL_MAX_PIXELS")) SetPixelLimit(uint64_t(1) << 22);
    return true;
  }();
  (void)Lower;
  const uint8_t Choice = Size > 0 ? Data[Size - 1] : 0;
  SetOrientationEnabled((Choice & 2) == 0);
  TBytesStream S(Data, static_cast<int64_t>(Size));
  TWebPGraphic G;
  G.BackgroundColor = (Choice & 1) ? 0xFFFFFF : 0;
  G.SetImageIndex(1 + (Choice >> 6));
  try {
    G.LoadFromStream(S);
    for (int I = G.FrameCount(); I >= 1; --I)
      G.SelectFrame(I);
  } catch (const Exception&) {
  }
  return 0;
}

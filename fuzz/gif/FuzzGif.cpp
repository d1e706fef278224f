// GIF files through TGifGraphic (giflib with the reader's two passes,
// compositing and disposal). The last byte picks the background colour and
// the image index (1: the animation with every frame; 2 to 4: one frame
// alone), and every frame of an animation is shown once.

#include "formats/GifGraphic.h"
#include "fuzz/common/FuzzLimits.h"

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
  TBytesStream S(Data, static_cast<int64_t>(Size));
  TGifGraphic G;
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

// PNG files through TPngGraphic (libpng with our callbacks and transformations).

#include "PngGraphic.h"

#include <cstddef>
#include <cstdint>

namespace {
// Pictures above this many pixels are skipped: decoding them only spends the
// fuzzer's memory and time on the size, not on the glue.
constexpr uint64_t kMaxPixels = uint64_t(1) << 22;

uint64_t BigEndian32(const uint8_t* P) {
  return (uint64_t(P[0]) << 24) | (uint64_t(P[1]) << 16) | (uint64_t(P[2]) << 8) | P[3];
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  // IHDR's width and height sit at offsets 16 and 20.
  if (Size >= 24 && BigEndian32(Data + 16) * BigEndian32(Data + 20) > kMaxPixels) return 0;
  // The last byte picks the background settings, so both compositing paths run.
  const uint8_t Choice = Size > 0 ? Data[Size - 1] : 0;
  TBytesStream S(Data, static_cast<int64_t>(Size));
  TPngGraphic G;
  G.BackgroundColor = (Choice & 1) ? 0xFFFFFF : 0x336699;
  G.ForceBackground = (Choice & 2) != 0;
  try {
    G.LoadFromStream(S);
  } catch (const Exception&) {
  }
  return 0;
}

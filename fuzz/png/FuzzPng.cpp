// PNG files through TPngGraphic (libpng with our callbacks and transformations).
// Built twice: fuzz_png as is, and fuzz_png_crc with a mutator that rewrites
// every chunk's CRC after mutation, so that mutated inputs get past libpng's
// CRC check into the decoder and our transformations.

#include "fuzz/common/FuzzLimits.h"
#include "formats/PngGraphic.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>

#ifdef FUZZ_PNG_FIX_CRC
extern "C" size_t LLVMFuzzerMutate(uint8_t* Data, size_t Size, size_t MaxSize);

namespace {

uint32_t BigEndian32(const uint8_t* P) {
  return (uint32_t(P[0]) << 24) | (uint32_t(P[1]) << 16) | (uint32_t(P[2]) << 8) | P[3];
}

// Walks the chunks after the 8-byte signature and stores each one's CRC (of
// its type and data), up to the first chunk that does not fit.
void FixCrcs(uint8_t* Data, size_t Size) {
  size_t At = 8;
  while (At + 12 <= Size) {
    const uint32_t Length = BigEndian32(Data + At);
    if (Length > Size - At - 12) break;
    const uint32_t Crc = uint32_t(crc32(crc32(0, nullptr, 0), Data + At + 4, Length + 4));
    uint8_t* Out = Data + At + 8 + Length;
    Out[0] = uint8_t(Crc >> 24);
    Out[1] = uint8_t(Crc >> 16);
    Out[2] = uint8_t(Crc >> 8);
    Out[3] = uint8_t(Crc);
    At += size_t(Length) + 12;
  }
}

} // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* Data, size_t Size, size_t MaxSize,
                                          unsigned int /*Seed*/) {
  const size_t NewSize = LLVMFuzzerMutate(Data, Size, MaxSize);
  FixCrcs(Data, NewSize);
  return NewSize;
}
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzzlimits::Apply();
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

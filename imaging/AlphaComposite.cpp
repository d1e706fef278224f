#include "imaging/AlphaComposite.h"

namespace {

// Colour * Alpha + Back * (255 - Alpha), divided by 255 and rounded.
inline uint8_t Blend(unsigned Colour, unsigned Alpha, unsigned Back) {
  const unsigned v = Colour * Alpha + Back * (255 - Alpha) + 128;
  return uint8_t((v + (v >> 8)) >> 8);
}

template <int RedAt, int BlueAt>
void CompositeRow(const uint8_t* Source, int Width, uint32_t Background, uint8_t* Dest) {
  const unsigned backRed = (Background >> 16) & 0xFF;
  const unsigned backGreen = (Background >> 8) & 0xFF;
  const unsigned backBlue = Background & 0xFF;
  for (int x = 0; x < Width; ++x, Source += 4, Dest += 3) {
    const unsigned a = Source[3];
    if (a == 255) {
      Dest[0] = Source[BlueAt];
      Dest[1] = Source[1];
      Dest[2] = Source[RedAt];
    } else {
      Dest[0] = Blend(Source[BlueAt], a, backBlue);
      Dest[1] = Blend(Source[1], a, backGreen);
      Dest[2] = Blend(Source[RedAt], a, backRed);
    }
  }
}

} // namespace

void CompositeRgbaRow(const uint8_t* Rgba, int Width, uint32_t Background, uint8_t* Dest) {
  CompositeRow<0, 2>(Rgba, Width, Background, Dest);
}

void CompositeBgraRow(const uint8_t* Bgra, int Width, uint32_t Background, uint8_t* Dest) {
  CompositeRow<2, 0>(Bgra, Width, Background, Dest);
}

// The default palettes of the palette formats, built once and shared.

#include "imaging/DibGraphic.h"

namespace {

uint8_t Widen(int v) {
  return uint8_t(4 * v + v / 16);
} // 6-bit VGA level to 8 bits

void SetEntry(TLogPalette& P, int I, int R, int G, int B) {
  P.palPalEntry[I] = TPaletteEntry{uint8_t(R), uint8_t(G), uint8_t(B), 0};
}

const uint8_t kColor16[16][3] = {{0, 0, 0},     {0, 0, 170},    {0, 170, 0},    {0, 170, 170},
                                 {170, 0, 0},   {170, 0, 170},  {170, 85, 0},   {170, 170, 170},
                                 {85, 85, 85},  {85, 85, 255},  {85, 255, 85},  {85, 255, 255},
                                 {255, 85, 85}, {255, 85, 255}, {255, 255, 85}, {255, 255, 255}};

// The VGA default 256-colour palette (video mode 13h): 16 colours, a grey
// ramp, nine rings of 24 hues (three brightnesses by three saturations),
// eight blacks. Each ring is given by its five 6-bit levels, low to high.
void BuildVga256(TLogPalette& P) {
  for (int i = 0; i < 16; ++i)
    SetEntry(P, i, kColor16[i][0], kColor16[i][1], kColor16[i][2]);
  static const int grey[16] = {0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63};
  for (int i = 0; i < 16; ++i)
    SetEntry(P, 16 + i, Widen(grey[i]), Widen(grey[i]), Widen(grey[i]));
  static const int rings[9][5] = {{0x00, 0x10, 0x1F, 0x2F, 0x3F}, {0x1F, 0x27, 0x2F, 0x37, 0x3F},
                                  {0x2D, 0x31, 0x36, 0x3A, 0x3F}, {0x00, 0x07, 0x0E, 0x15, 0x1C},
                                  {0x0E, 0x11, 0x15, 0x18, 0x1C}, {0x14, 0x16, 0x18, 0x1A, 0x1C},
                                  {0x00, 0x04, 0x08, 0x0C, 0x10}, {0x08, 0x0A, 0x0C, 0x0E, 0x10},
                                  {0x0B, 0x0C, 0x0D, 0x0F, 0x10}};
  int k = 32;
  for (const auto& L : rings) {
    const int lo = L[0], hi = L[4];
    // Blue to magenta, magenta to red, red to yellow, yellow to green,
    // green to cyan, cyan to blue: four steps each.
    for (int s = 0; s < 4; ++s)
      SetEntry(P, k++, Widen(L[s]), Widen(lo), Widen(hi));
    for (int s = 4; s > 0; --s)
      SetEntry(P, k++, Widen(hi), Widen(lo), Widen(L[s]));
    for (int s = 0; s < 4; ++s)
      SetEntry(P, k++, Widen(hi), Widen(L[s]), Widen(lo));
    for (int s = 4; s > 0; --s)
      SetEntry(P, k++, Widen(L[s]), Widen(hi), Widen(lo));
    for (int s = 0; s < 4; ++s)
      SetEntry(P, k++, Widen(lo), Widen(hi), Widen(L[s]));
    for (int s = 4; s > 0; --s)
      SetEntry(P, k++, Widen(lo), Widen(L[s]), Widen(hi));
  }
  for (; k < 256; ++k)
    SetEntry(P, k, 0, 0, 0);
}

struct TDefaultPalettes {
  TLogPalette Pal[5];
  TDefaultPalettes() {
    for (TLogPalette& p : Pal)
      p.palVersion = 0x300;
    Pal[ifBlackWhite].palNumEntries = 2;
    SetEntry(Pal[ifBlackWhite], 1, 255, 255, 255);
    Pal[ifGray16].palNumEntries = 16;
    for (int i = 0; i < 16; ++i)
      SetEntry(Pal[ifGray16], i, i * 17, i * 17, i * 17);
    Pal[ifGray256].palNumEntries = 256;
    for (int i = 0; i < 256; ++i)
      SetEntry(Pal[ifGray256], i, i, i, i);
    Pal[ifColor16].palNumEntries = 16;
    for (int i = 0; i < 16; ++i)
      SetEntry(Pal[ifColor16], i, kColor16[i][0], kColor16[i][1], kColor16[i][2]);
    Pal[ifColor256].palNumEntries = 256;
    BuildVga256(Pal[ifColor256]);
  }
};

} // namespace

const TLogPalette* DefaultPalette(TImageFormat Format) {
  static const TDefaultPalettes palettes;
  if (Format >= ifTrueColor) return nullptr;
  return &palettes.Pal[Format];
}

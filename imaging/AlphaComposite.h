#pragma once
// Pictures keep no alpha channel: readers of formats with transparency
// composite each row onto a background colour as they decode, as the PNG
// reader does (its transparent parts show black unless told otherwise).

#include <cstdint>

// Writes Width pixels of straight-alpha RGBA (8 bits each, red first) as
// 24-bit blue-green-red into Dest, blended onto Background (0x00RRGGBB).
void CompositeRgbaRow(const uint8_t* Rgba, int Width, uint32_t Background, uint8_t* Dest);

// The same for straight-alpha BGRA sources (blue first).
void CompositeBgraRow(const uint8_t* Bgra, int Width, uint32_t Background, uint8_t* Dest);

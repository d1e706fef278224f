#pragma once
// A look into a HEIF file's boxes for what libheif would allocate before it
// decodes anything: the canvas of a primary image that is derived from other
// images (a grid of tiles, or an overlay). libheif takes that canvas's size
// from the item's data and holds it only to a limit per side, so a file may
// declare a small picture and claim a huge canvas; the reader compares the
// two first.

#include <cstddef>
#include <cstdint>

struct THeifCanvas {
  bool Derived = false; // the primary item is a grid or an overlay
  bool Readable = false; // its canvas size was found in its data
  uint32_t Width = 0;
  uint32_t Height = 0;
};

// Reads the boxes of the HEIF file in Data (ftyp, meta with pitm, iinf, iloc
// and idat) for the primary item's canvas. Never reads outside the bytes.
THeifCanvas ReadHeifCanvas(const uint8_t* Data, size_t Size);

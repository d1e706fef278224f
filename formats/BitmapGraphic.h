#pragma once
// Windows and OS/2 bitmap files (.bmp), decoded by the bitmap module; files the
// module refuses (16 and 32 bits per pixel, bit fields, top-down rows, newer
// header kinds) go to the platform's own BMP decoder.

#include "imaging/DibGraphic.h"

class TBitmapGraphic : public TDibGraphic {
public:
  // Decodes the stream from its position; Index is ignored.
  void LoadImageFromStream(TStream& Stream, int Index) override;
  // Writes a BMP file: 14-byte file header, the image's 40-byte info header,
  // its colour table and its pixel rows.
  void SaveToStream(TStream& Stream) override;
};

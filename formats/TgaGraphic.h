#pragma once
// Truevision Targa and Vista files (.tga, .vst, .afi), decoded by the bitmap module.

#include "imaging/DibGraphic.h"
#include "platform/Exception.h"

class ETgaError : public Exception {
public:
  using Exception::Exception;
};

class TTgaGraphic : public TDibGraphic {
public:
  // Decodes the one picture of the stream from its position (no frames, no
  // image numbers).
  void LoadFromStream(TStream& Stream) override;
  // Writes an uncompressed Targa file; the image must be 8-bit with a palette
  // or true colour, else ETgaError.
  void SaveToStream(TStream& Stream) override;
};

#pragma once
// JPEG pictures through libjpeg: 256-grey or true-colour images.

#include "imaging/DibGraphic.h"

#include <cstdint>

// Raised for an unexpected number of decoded components and for images that
// cannot be saved as JPEG. Everything libjpeg itself rejects arrives as the
// general Exception carrying libjpeg's own message text.
class EJpegError : public Exception {
public:
  using Exception::Exception;
};

class TJpegGraphic : public TDibGraphic {
public:
  TJpegGraphic() = default;
  // Known to the image model even before registration, so that frames of
  // this class can be made.
  TDibGraphicClass ClassType() const override { return ClassOf<TJpegGraphic>(); }

  void LoadImageFromStream(TStream& Stream, int Index) override;
  void SaveToStream(TStream& Stream) override;

  // Settings used only when saving.
  uint8_t Quality = 80;        // 0..100, libjpeg's quality scale
  bool Progressive = false;    // write a progressive (multi-scan) file
  bool OptimizeCoding = false; // compute optimal Huffman tables
};

#pragma once
// HEIF pictures through libheif: HEIC (HEVC), AVIF (AV1) and the other codecs
// libheif reads. The file's primary image is shown with the transformations
// the file stores (rotation, mirroring, crop) applied, always: they are part
// of the picture, not a hint like EXIF's orientation. Higher bit depths are
// reduced to 8 bits; transparency is composited onto a background colour.

#include "imaging/DibGraphic.h"

#include <cstdint>

// Raised for files libheif refuses (with its own message, after the format's
// name) and for the reader's own checks.
class EHeifError : public Exception {
public:
  using Exception::Exception;
};

class THeifGraphic : public TDibGraphic {
public:
  THeifGraphic() = default;
  // Known to the image model even before registration, so that frames of
  // this class can be made.
  TDibGraphicClass ClassType() const override { return ClassOf<THeifGraphic>(); }

  // Decodes the primary image of the HEIF data from the stream's position to
  // its end; Index is ignored (a file's other top-level images, thumbnails
  // and depth maps are not shown).
  void LoadImageFromStream(TStream& Stream, int Index) override;

  // Colour (0x00RRGGBB) that transparent parts are composited onto.
  uint32_t BackgroundColor = 0;
};

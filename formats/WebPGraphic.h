#pragma once
// WebP pictures through libwebp and libwebpdemux: lossy, lossless, with
// alpha, and animated. Pictures are true colour, their transparent parts
// composited onto BackgroundColor (black unless told otherwise, as the PNG
// reader shows transparency without a background chunk). An animation is one
// image whose frames are whole pictures of the canvas, blended and disposed
// of by libwebp's animation decoder (see TDibGraphic::SetAnimationFrames),
// each with its own FrameDelay. The ICC profile becomes the picture's colour
// description; the EXIF orientation turns the picture upright, as for JPEG
// and TIFF, unless orientation is switched off.

#include "imaging/DibGraphic.h"

#include <cstdint>

// Raised for files libwebp or the reader's own checks refuse; the message
// names the format ("WebP: ...") or is the pixel limit's.
class EWebPError : public Exception {
public:
  using Exception::Exception;
};

class TWebPGraphic : public TDibGraphic {
public:
  TWebPGraphic() = default;
  TDibGraphicClass ClassType() const override { return ClassOf<TWebPGraphic>(); }

  // Decodes the WebP file that starts at the stream's position. Index 0 or
  // 1: the picture, with every frame of an animation (GetImageCount stays
  // 1). Index N > 1: frame N of an animation alone, as a still; EWebPError
  // when the file holds fewer frames.
  void LoadImageFromStream(TStream& Stream, int Index) override;

  // Colour (0x00RRGGBB) that transparent pixels are composited onto.
  uint32_t BackgroundColor = 0;
};

#pragma once
// GIF pictures through giflib: stills, interlaced, transparent and animated.
//
// A still with one colour table and no transparency that covers its logical
// screen is a palette image (ifColor256); everything else is true colour, its
// transparent parts composited onto BackgroundColor (black unless told
// otherwise, as the PNG reader shows transparency without a background
// chunk). An animation is one image whose frames are whole pictures of the
// logical screen's size, composited and disposed of by the reader (see
// TDibGraphic::SetAnimationFrames), each with its own FrameDelay.

#include "imaging/DibGraphic.h"

#include <cstdint>

// Raised for files giflib or the reader's own checks refuse; the message
// names the format ("GIF: ...") or is the pixel limit's.
class EGifError : public Exception {
public:
  using Exception::Exception;
};

class TGifGraphic : public TDibGraphic {
public:
  TGifGraphic() = default;
  TDibGraphicClass ClassType() const override { return ClassOf<TGifGraphic>(); }

  // Decodes the GIF data that start at the stream's position. Index 0 or 1:
  // the picture, with every frame of an animation (GetImageCount stays 1, so
  // an animation is never paged). Index N > 1: frame N of an animation alone,
  // as a still; EGifError when the file holds fewer frames.
  void LoadImageFromStream(TStream& Stream, int Index) override;

  // Colour (0x00RRGGBB) that transparent pixels, and the parts of the screen
  // no frame covers, are composited onto.
  uint32_t BackgroundColor = 0;
};

#pragma once
// JPEG XL pictures through libjxl's decoder: stills and animations, 8 bits per
// channel, transparency composited onto a background colour. Grey pictures
// without transparency stay 256-grey images.
//
// Colour: pixels come in the colour space the file stores them in, and the
// picture's colour description says which. Files coded in the decoder's XYB
// space have no stored RGB: the decoder renders them into the original
// colour space when the file names it by its primaries and curve (a linear
// curve becomes the sRGB curve, since 8 linear bits band), and into sRGB when
// the original is an ICC profile, which the decoder cannot render into. The
// description is always that of the pixels the decoder handed over.
//
// Orientation: the header's orientation is applied like EXIF's for JPEG and
// TIFF, when OrientationEnabled().
//
// The decoder runs on up to one thread per core (libjxl's runner, sized to
// the picture), all joined before LoadImageFromStream returns.

#include "imaging/DibGraphic.h"

#include <cstdint>

// Raised for files libjxl refuses (it gives no text of its own: the message
// says at which stage) and for the reader's own checks.
class EJxlError : public Exception {
public:
  using Exception::Exception;
};

class TJxlGraphic : public TDibGraphic {
public:
  TJxlGraphic() = default;
  // Known to the image model even before registration, so that frames of
  // this class can be made.
  TDibGraphicClass ClassType() const override { return ClassOf<TJxlGraphic>(); }

  // Decodes the JPEG XL data from the stream's position to its end. Index 0
  // or 1: the first frame; an animation also gets all its frames (Frames(),
  // each with its delay) and its loop count, unless they do not all fit the
  // memory budget, when the first frame is shown alone. Index N > 1: frame N
  // alone; EJxlError when the file has fewer frames.
  void LoadImageFromStream(TStream& Stream, int Index) override;

  // Colour (0x00RRGGBB) that transparent parts are composited onto.
  uint32_t BackgroundColor = 0;
};

#pragma once
// Camera RAW pictures (DNG and the camera makers' own formats) through libraw.
//
// What is shown: the largest preview the camera embedded in the file when it
// is at least as large as the screen (so a raw photo steps as fast as a
// JPEG), else the sensor's picture developed by libraw: demosaiced with the
// camera's white balance into 8-bit sRGB, at half the sensor's size when that
// still fills the screen (a quarter of the time and memory), else at full
// size. The picture's pixels are those of the preview or of that development:
// zooming to 100 % shows them, never the sensor's full resolution behind a
// preview. Pictures are turned upright by the file's orientation when
// OrientationEnabled(), once: a JPEG preview with an orientation of its own is
// turned by the JPEG reader, and one already stored upright is left alone.

#include "imaging/DibGraphic.h"

#include <cstdint>

// Everything that goes wrong with a RAW file: messages start with "Camera RAW"
// and carry libraw's own text where libraw refused. A picture above the pixel
// limit is refused with PixelLimitMessage alone.
class ERawError : public Exception {
public:
  using Exception::Exception;
};

class TRawGraphic : public TDibGraphic {
public:
  TRawGraphic() = default;
  TDibGraphicClass ClassType() const override { return ClassOf<TRawGraphic>(); }

  // Index is ignored: a RAW file gives one picture.
  void LoadImageFromStream(TStream& Stream, int Index) override;

  // Where the picture of the last load came from.
  enum TRawSource : uint8_t { rsNone, rsPreview, rsDeveloped };
  TRawSource Source() const { return FSource; }

private:
  TRawSource FSource = rsNone;
};

// The orientation (1..8, as EXIF counts) that libraw's flip code stands for;
// 1 for unknown codes.
int RawFlipToOrientation(int Flip);

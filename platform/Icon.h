#pragma once
// The platform's icon object: reads one image of a Windows icon file (.ico),
// draws it with its transparency onto a canvas or a QPainter, and writes an
// icon file made from a colour bitmap and a mask bitmap.
//
// Of a file with several images the largest one is loaded (by pixel count);
// of images of the same size, the one with the most bits per pixel. Images may
// be stored as bitmaps (1, 4, 8, 16, 24 or 32 bits per pixel, with an AND
// mask) or as PNG files.

#include "platform/Canvas.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

#include <memory>

class QImage;
class QPainter;

// Raised for files that are not icons or whose data are damaged.
class EIconError : public Exception {
public:
  using Exception::Exception;
};

// The standard icon size of the system (used when an image is saved as an
// icon): 32 x 32 pixels.
constexpr int kSystemIconSize = 32;

class TPlatformIcon {
public:
  TPlatformIcon() = default;

  // Reads an icon file from the stream's current position to its end.
  // Raises EIconError when the bytes are not a usable icon file.
  void LoadFromStream(TStream& Stream);
  // Same for bytes in memory.
  void LoadFromMemory(const uint8_t* Data, size_t Size);

  bool Empty() const { return FWidth <= 0 || FHeight <= 0; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // Bits per pixel of the loaded image (32 for PNG images).
  int BitCount() const { return FBitCount; }

  // Draws the icon at its own size with its top-left corner at (X, Y) in the
  // painter's coordinates. Images with an alpha channel are blended over what
  // is there; others are drawn as Windows draws them: the destination is
  // ANDed with the mask, then XORed with the colour bitmap, so transparent
  // parts keep the background.
  void Draw(QPainter& Painter, int X, int Y) const;
  // The same on a canvas (flush the canvas before reading its pixels).
  void Draw(TCanvas& Canvas, int X, int Y) const;

  // The icon as an ARGB image over a black background (what Draw gives on a
  // black surface).
  QImage ToImage() const;

  // Makes an icon from a colour bitmap and a mask bitmap of the same size;
  // mask pixels that are black (value 0) are opaque, white ones transparent.
  static TPlatformIcon CreateFromBitmaps(const QImage& Colour, const QImage& Mask);
  // A fully opaque icon of Width x Height pixels: black, with Picture (when
  // given and not empty) drawn at its own size at the top-left corner, cut
  // where it is larger.
  static TPlatformIcon CreateOpaque(int Width, int Height, const TDibView* Picture);

  // Writes the icon as an icon file with one 24-bit image and its AND mask.
  void SaveToStream(TStream& Stream) const;

private:
  struct TImages;                         // the colour and mask images (Icon.cpp)
  std::shared_ptr<const TImages> FImages; // shared between copies, never changed
  int FWidth = 0;
  int FHeight = 0;
  bool FHasAlpha = false;
  int FBitCount = 0;
};

#pragma once
// Small DNG files written with libtiff, for the RAW reader's tests, its
// benchmark and its fuzz seeds: a colour-mosaic (or linear RGB) sensor
// picture of a known scene, with JPEG or bitmap previews in sub-images.
//
// The scene and the previews show four quadrants, red top left, green top
// right, blue bottom left and white bottom right, as stored (sensor
// orientation), so that a turn or mirror of the shown picture shows.

#include <cstdint>
#include <string>
#include <vector>

namespace dngfixture {

// Colour of the quadrant pattern at (X, Y) of a W x H picture.
void QuadrantRgb(int X, int Y, int W, int H, uint8_t Rgb[3]);

// The stored pixel that a picture turned by Orientation (1..8, as EXIF) shows
// at upright (X, Y); StoredW x StoredH is the stored size.
void StoredPixelOf(int Orientation, int X, int Y, int StoredW, int StoredH, int& SX, int& SY);

struct TPreview {
  int Width = 0;
  int Height = 0;
  enum TKind { pkJpeg, pkBitmap } Kind = pkJpeg;
  // JPEG only: an EXIF segment with this orientation (0: none).
  int ExifOrientation = 0;
  // The camera turned the preview already: Width x Height is the upright size
  // and the pattern is the stored one turned by the file's orientation.
  bool Upright = false;
  int Quality = 90;
  // The preview's own RGB rows (top first) in place of the pattern, when not
  // empty: Width x Height x 3 bytes.
  std::vector<uint8_t> Pixels = {};
};

struct TDng {
  int Width = 64; // sensor, stored orientation
  int Height = 48;
  // Three samples per pixel (LinearRaw) instead of a red-green-blue mosaic.
  bool LinearRaw = false;
  int Orientation = 1;
  // Sub-images of the sensor's directory; with PreviewFirst the first of them
  // is the file's first directory instead, and the sensor picture a sub-image.
  std::vector<TPreview> Previews;
  bool PreviewFirst = false;
  // An EXIF directory with this ColorSpace value (1 sRGB, 2 Adobe RGB, as
  // some cameras write it); 0: none.
  int ExifColorSpace = 0;
};

// Writes Fixture to Path; "" on success, else what failed.
std::string WriteDng(const std::string& Path, const TDng& Fixture);

// A W x H RGB picture (rows top first) as JPEG bytes, with an EXIF segment
// holding Orientation when it is above 0.
std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& Rgb, int W, int H, int Quality,
                                int Orientation);

// The preview's pixels as RGB rows, top first.
std::vector<uint8_t> PreviewPixels(const TPreview& Preview, int FileOrientation);

} // namespace dngfixture

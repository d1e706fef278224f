#pragma once
// Photos the right way up: cameras store the picture as the sensor saw it and
// record in EXIF (or a TIFF's own Orientation tag) how to turn it. The format
// classes that know that record turn their picture right after decoding.

#include "imaging/DibGraphic.h"

// Whether decoders turn pictures by their stored orientation: on unless the
// program switches it off (for the whole session). Safe to read from any
// decoding thread.
bool OrientationEnabled();
void SetOrientationEnabled(bool Value);

// Turns Graphic by a TIFF/EXIF orientation value, which says where the stored
// picture's first row and first column belong:
//   1 as stored             5 transposed (first row becomes the left column)
//   2 mirrored left-right   6 turned a quarter clockwise
//   3 turned by 180 degrees 7 transposed the other way (transverse)
//   4 mirrored top-bottom   8 turned a quarter anticlockwise
// 5 to 8 swap width and height (and the two resolutions). Any other value and
// an empty image leave it unchanged. Format, palette and format-specific
// settings of the graphic's class are kept. Raises EImageError when the
// memory for a turn cannot be had.
void OrientImage(TDibGraphic& Graphic, int Orientation);

#pragma once
// A small reader of EXIF blocks: the photo's orientation (tag 0x0112 of the
// first image directory), the one EXIF field the viewer uses. Every read goes
// through a TByteReader over the block; damage gives "no orientation", never
// an error and never a read outside the block.

#include <cstddef>
#include <cstdint>

// The orientation 1..8 in TIFF-structured EXIF data (byte order mark, 42,
// offset of the first directory; offsets count from the mark). 0 when there
// is none, the data are damaged, or the value lies outside 1..8.
int TiffDataOrientation(const uint8_t* Data, size_t Size);

// The same for the payload of a JPEG APP1 segment: "Exif", two zero bytes,
// then the TIFF-structured data. 0 for other APP1 payloads (such as XMP).
int ExifOrientation(const uint8_t* Data, size_t Size);

#pragma once
// A small reader of EXIF blocks: the photo's orientation (tag 0x0112 of the
// first image directory), the one EXIF field the viewer uses. Every read goes
// through a bounds-checked reader of the block; damage gives "no orientation",
// never an error and never a read outside the block.

#include <cstddef>
#include <cstdint>

// Reads 16- and 32-bit values at offsets of a byte range in one byte order.
// A read that would leave the range answers 0 and sets a sticky failure flag.
class TEndianReader {
public:
  TEndianReader(const uint8_t* Data, size_t Size, bool BigEndian)
      : FData(Data), FSize(Size), FBigEndian(BigEndian) {}

  bool Has(size_t Offset, size_t Count) const { return Offset <= FSize && Count <= FSize - Offset; }
  bool Failed() const { return FFailed; }
  uint16_t U16(size_t Offset);
  uint32_t U32(size_t Offset);

private:
  const uint8_t* FData;
  size_t FSize;
  bool FBigEndian;
  bool FFailed = false;
};

// The orientation 1..8 in TIFF-structured EXIF data (byte order mark, 42,
// offset of the first directory; offsets count from the mark). 0 when there
// is none, the data are damaged, or the value lies outside 1..8.
int TiffDataOrientation(const uint8_t* Data, size_t Size);

// The same for the payload of a JPEG APP1 segment: "Exif", two zero bytes,
// then the TIFF-structured data. 0 for other APP1 payloads (such as XMP).
int ExifOrientation(const uint8_t* Data, size_t Size);

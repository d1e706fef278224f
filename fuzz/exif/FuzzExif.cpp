// EXIF blocks through the orientation reader: the bytes as the payload of a
// JPEG APP1 segment and as TIFF-structured data of their own. Each is copied
// into a buffer of exactly its size, so that any read past the end is caught.

#include "formats/ExifReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::vector<uint8_t> Bytes(Data, Data + Size);
  const int Exif = ExifOrientation(Bytes.data(), Bytes.size());
  const int Tiff = TiffDataOrientation(Bytes.data(), Bytes.size());
  // Orientations are 1..8; 0 means none.
  if (Exif < 0 || Exif > 8 || Tiff < 0 || Tiff > 8) std::abort();
  return 0;
}

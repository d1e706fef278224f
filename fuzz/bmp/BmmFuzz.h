#pragma once
// Shared by the bitmap-module fuzz targets: keeps inputs whose pixel storage
// would be larger than a fuzzing run can afford out of the decoders.

#include "Bmm.h"
#include "Stream.h"

#include <QImageReader>

#include <cstddef>
#include <cstdint>

namespace bmmfuzz {

constexpr int64_t kMaxImageBytes = 4 << 20;

// False when the module's header step accepts Data as format Format with a
// pixel buffer above the limit.
inline bool Affordable(const uint8_t* Data, std::size_t Size, int Format) {
  TBytesStream s(Data, static_cast<int64_t>(Size));
  BmmHeader h{};
  if (bmm_read_header("x", &s, Format, &h, "") != BMM_ERR_OK) return true;
  return bmm_image_size(h.width, h.height, h.bpp) <= kMaxImageBytes;
}

// The platform decoder's own allocation cap, in megabytes.
inline void LimitPlatformDecoder() {
  QImageReader::setAllocationLimit(32);
}

} // namespace bmmfuzz

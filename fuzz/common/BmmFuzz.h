#pragma once
// Shared by the bitmap-module fuzz targets: the run's limits, and a check for
// the targets that call the module directly (bypassing the readers' own
// pixel limit).

#include "formats/bitmap_module/Bmm.h"
#include "fuzz/common/FuzzLimits.h"
#include "platform/Stream.h"

#include <QImageReader>

#include <cstddef>
#include <cstdint>

namespace bmmfuzz {

// False when the module's header step accepts Data as format Format with a
// picture above the pixel limit.
inline bool Affordable(const uint8_t* Data, std::size_t Size, int Format,
                       const char* Options = "") {
  fuzzlimits::Apply();
  TBytesStream s(Data, static_cast<int64_t>(Size));
  BmmHeader h{};
  if (bmm_read_header("x", &s, Format, &h, Options) != BMM_ERR_OK) return true;
  return PixelsAllowed(h.width, h.height);
}

// The platform decoder's own allocation cap, in megabytes.
inline void LimitPlatformDecoder() {
  QImageReader::setAllocationLimit(32);
}

} // namespace bmmfuzz

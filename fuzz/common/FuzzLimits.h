#pragma once
// Shared by the fuzz targets: the limits a run decodes under. Pictures go up
// to the pixel limit (IMBREL_MAX_PIXELS, else 64 megapixels here so that a
// run stays fast; the readers refuse anything above it themselves), and the
// memory budget stays below libFuzzer's RSS limit, so that a file claiming a
// huge picture fails in the reader instead of ending the run.

#include "platform/MemoryBudget.h"

#include <cstdint>
#include <cstdlib>

namespace fuzzlimits {

constexpr uint64_t kDefaultPixels = uint64_t(1) << 26;
constexpr uint64_t kBudget = uint64_t(3) << 30;

inline void Apply() {
  static const bool Once = [] {
    if (!std::getenv("IMBREL_MAX_PIXELS")) SetPixelLimit(kDefaultPixels);
    if (!std::getenv("IMBREL_MEMORY_BUDGET")) TMemoryBudget::SetLimit(kBudget);
    return true;
  }();
  (void)Once;
}

} // namespace fuzzlimits

#include "platform/MemoryBudget.h"

#include "platform/Memory.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <limits>

namespace {

constexpr uint64_t kDefaultPixelLimit = 1'000'000'000;

std::atomic<uint64_t> GPixelLimit{0}; // 0: not settled yet
std::atomic<uint64_t> GBudget{0};     // 0: not settled yet
std::atomic<uint64_t> GUsed{0};
thread_local bool GBackground = false;

// A positive whole number from the environment, or 0.
uint64_t EnvNumber(const char* Name) {
  const char* v = std::getenv(Name);
  if (!v || !*v) return 0;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(v, &end, 10);
  return end && *end == 0 ? uint64_t(n) : 0;
}

uint64_t DefaultBudget() {
  if (const uint64_t mib = EnvNumber("IMBREL_MEMORY_BUDGET"))
    return mib > (std::numeric_limits<uint64_t>::max() >> 20) ? mib : mib << 20;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGESIZE);
  uint64_t total = pages > 0 && page > 0 ? uint64_t(pages) * uint64_t(page) : uint64_t(4) << 30;
  // A control group's limit is taken as the room at the first question.
  total = std::min(total, AvailableMemory());
  return std::max<uint64_t>(total / 4 * 3, uint64_t(64) << 20);
}

} // namespace

uint64_t PixelLimit() noexcept {
  uint64_t v = GPixelLimit.load(std::memory_order_relaxed);
  if (v == 0) {
    v = EnvNumber("IMBREL_MAX_PIXELS");
    if (v == 0) v = kDefaultPixelLimit;
    GPixelLimit.store(v, std::memory_order_relaxed);
  }
  return v;
}

void SetPixelLimit(uint64_t Pixels) noexcept {
  GPixelLimit.store(Pixels, std::memory_order_relaxed);
}

bool PixelsAllowed(int64_t Width, int64_t Height) noexcept {
  if (Width <= 0 || Height <= 0) return true;
  const uint64_t limit = PixelLimit();
  return uint64_t(Width) <= limit / uint64_t(Height);
}

std::string PixelLimitMessage(int64_t Width, int64_t Height) {
  return "Picture too large: " + std::to_string(Width) + " x " + std::to_string(Height) +
         " pixels exceeds the limit of " + std::to_string(PixelLimit()) + " pixels";
}

bool IsPixelLimitMessage(const std::string& Message) noexcept {
  return Message.rfind("Picture too large: ", 0) == 0;
}

namespace {
// Pictures up to this size pass whatever their data; above it the data must
// be able to fill 1 / kMeaningfulPart of the picture.
constexpr uint64_t kSmallPicture = uint64_t(16) << 20;
constexpr uint64_t kMeaningfulPart = 16;
constexpr const char* kShortData = " data too short: ";
} // namespace

bool DataCanFill(uint64_t DataBytes, uint64_t LeastBytes, uint64_t PictureBytes) noexcept {
  if (PictureBytes <= kSmallPicture) return true;
  const uint64_t Part = LeastBytes / kMeaningfulPart;
  return DataBytes >= Part;
}

std::string ShortDataMessage(const std::string& Format, uint64_t DataBytes, int64_t Width,
                             int64_t Height) {
  return Format + kShortData + std::to_string(DataBytes) + " bytes cannot fill a " +
         std::to_string(Width) + " x " + std::to_string(Height) + " picture";
}

bool IsShortDataMessage(const std::string& Message) noexcept {
  const auto At = Message.find(kShortData);
  return At != std::string::npos && Message.find(" bytes cannot fill a ", At) != std::string::npos;
}

uint64_t TMemoryBudget::Limit() noexcept {
  uint64_t v = GBudget.load(std::memory_order_relaxed);
  if (v == 0) {
    try {
      v = DefaultBudget();
    } catch (...) {
      v = uint64_t(1) << 30;
    }
    GBudget.store(v, std::memory_order_relaxed);
  }
  return v;
}

void TMemoryBudget::SetLimit(uint64_t Bytes) noexcept {
  GBudget.store(Bytes, std::memory_order_relaxed);
}

uint64_t TMemoryBudget::Used() noexcept {
  return GUsed.load(std::memory_order_relaxed);
}

uint64_t TMemoryBudget::Available() noexcept {
  const uint64_t limit = Limit(), used = Used();
  return used >= limit ? 0 : limit - used;
}

bool TMemoryBudget::TryReserve(uint64_t Bytes) noexcept {
  const uint64_t limit = Limit();
  const uint64_t keep = GBackground ? limit / 4 : 0;
  uint64_t used = GUsed.load(std::memory_order_relaxed);
  do {
    if (Bytes > limit || used > limit - Bytes || limit - Bytes - used < keep) return false;
  } while (!GUsed.compare_exchange_weak(used, used + Bytes, std::memory_order_relaxed));
  return true;
}

void TMemoryBudget::Release(uint64_t Bytes) noexcept {
  GUsed.fetch_sub(Bytes, std::memory_order_relaxed);
}

bool TMemoryBudget::RoomForBackground() noexcept {
  return Available() >= Limit() / 4;
}

TMemoryBudget::TBackgroundScope::TBackgroundScope() noexcept : FWas(GBackground) {
  GBackground = true;
}

TMemoryBudget::TBackgroundScope::~TBackgroundScope() {
  GBackground = FWas;
}

TMemoryReservation::TMemoryReservation(uint64_t Bytes) noexcept {
  if (Bytes != 0 && TMemoryBudget::TryReserve(Bytes)) FBytes = Bytes;
}

TMemoryReservation::TMemoryReservation(TMemoryReservation&& Other) noexcept : FBytes(Other.FBytes) {
  Other.FBytes = 0;
}

TMemoryReservation& TMemoryReservation::operator=(TMemoryReservation&& Other) noexcept {
  if (this != &Other) {
    Reset();
    FBytes = Other.FBytes;
    Other.FBytes = 0;
  }
  return *this;
}

void TMemoryReservation::Reset() noexcept {
  if (FBytes != 0) TMemoryBudget::Release(FBytes);
  FBytes = 0;
}

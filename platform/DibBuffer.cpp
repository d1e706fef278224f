// DIB memory: row strides and the pixel buffers every picture's pixels live
// in (charged to the memory budget, mapped fresh or reused from a small pool).
#include "platform/Dib.h"

#include "platform/Memory.h"
#include "platform/MemoryBudget.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include <sys/mman.h>

// ---- Strides

int64_t DibStride(int64_t Width, int BitCount) {
  if (Width < 0 || BitCount <= 0 || BitCount > 32) return -1;
  const int64_t bits = Width * BitCount; // Width < 2^31, BitCount <= 32: no overflow
  const int64_t stride = ((bits + 31) / 32) * 4;
  if (stride > std::numeric_limits<int32_t>::max()) return -1;
  return stride;
}

// ---- Pixel buffers

namespace {

constexpr size_t kMapThreshold = size_t(1) << 20; // below: heap memory
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kPoolLimitBytes = size_t(320) << 20;
constexpr size_t kPoolLimitCount = 2;

struct TFreeBuffer {
  uint8_t* Data;
  size_t Capacity;
};

struct TBufferPool {
  std::mutex Lock;
  std::vector<TFreeBuffer> Free; // most recent last
  size_t Bytes = 0;
};

TBufferPool& Pool() {
  static TBufferPool* pool = new TBufferPool; // never destroyed: buffers may be released at exit
  return *pool;
}

uint8_t* MapBuffer(size_t Capacity) noexcept {
  // Map one huge page more than needed and cut the start to a huge-page
  // boundary so that the whole buffer can be backed by huge pages.
  if (Capacity > std::numeric_limits<size_t>::max() - kHugePage) return nullptr;
  const size_t total = Capacity + kHugePage;
  void* p = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(p);
  const uintptr_t aligned = (start + kHugePage - 1) & ~(uintptr_t(kHugePage) - 1);
  const size_t head = aligned - start;
  if (head > 0) munmap(p, head);
  const size_t tail = total - head - Capacity;
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + Capacity), tail);
#ifdef MADV_HUGEPAGE
  madvise(reinterpret_cast<void*>(aligned), Capacity, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<uint8_t*>(aligned);
}

} // namespace

TPixelBuffer::~TPixelBuffer() {
  Release();
}

TPixelBuffer::TPixelBuffer(TPixelBuffer&& Other) noexcept
    : FData(Other.FData), FSize(Other.FSize), FCapacity(Other.FCapacity) {
  Other.FData = nullptr;
  Other.FSize = Other.FCapacity = 0;
}

TPixelBuffer& TPixelBuffer::operator=(TPixelBuffer&& Other) noexcept {
  if (this != &Other) {
    Release();
    FData = Other.FData;
    FSize = Other.FSize;
    FCapacity = Other.FCapacity;
    Other.FData = nullptr;
    Other.FSize = Other.FCapacity = 0;
  }
  return *this;
}

TPixelBuffer TPixelBuffer::Allocate(size_t Size) noexcept {
  TPixelBuffer b;
  if (Size == 0) return b;
  if (Size < kMapThreshold) {
    if (!TMemoryBudget::TryReserve(Size)) return b;
    b.FData = static_cast<uint8_t*>(std::malloc(Size));
    if (b.FData)
      b.FSize = Size;
    else
      TMemoryBudget::Release(Size);
    return b;
  }
  if (Size > std::numeric_limits<size_t>::max() - kHugePage) return b;
  const size_t capacity = (Size + kHugePage - 1) & ~(kHugePage - 1);
  // The process's budget first: a buffer past it is refused like one the
  // system cannot give.
  if (!TMemoryBudget::TryReserve(capacity)) {
    TrimCache();
    return b;
  }
  {
    // A kept buffer of the same capacity, or up to a quarter bigger.
    TBufferPool& pool = Pool();
    std::lock_guard<std::mutex> guard(pool.Lock);
    for (size_t i = pool.Free.size(); i-- > 0;) {
      const TFreeBuffer f = pool.Free[i];
      if (f.Capacity >= capacity && f.Capacity - capacity <= capacity / 4) {
        // The budget is charged what the buffer holds.
        if (f.Capacity != capacity && !TMemoryBudget::TryReserve(f.Capacity - capacity)) continue;
        pool.Free.erase(pool.Free.begin() + static_cast<ptrdiff_t>(i));
        pool.Bytes -= f.Capacity;
        b.FData = f.Data;
        b.FSize = Size;
        b.FCapacity = f.Capacity;
        return b;
      }
    }
  }
  // Fresh pages: only what the system can back (a kept buffer is backed already).
  if (MemoryCanBeHad(Size)) b.FData = MapBuffer(capacity);
  if (b.FData) {
    b.FSize = Size;
    b.FCapacity = capacity;
  } else {
    TMemoryBudget::Release(capacity);
  }
  return b;
}

TPixelBuffer TPixelBuffer::AllocateZeroed(size_t Size) noexcept {
  if (Size == 0) return TPixelBuffer();
  if (Size < kMapThreshold) {
    TPixelBuffer b;
    if (!TMemoryBudget::TryReserve(Size)) return b;
    b.FData = static_cast<uint8_t*>(std::calloc(1, Size));
    if (b.FData)
      b.FSize = Size;
    else
      TMemoryBudget::Release(Size);
    return b;
  }
  // Written, not handed back: a kept buffer's pages stay committed for reuse.
  TPixelBuffer b = Allocate(Size);
  if (b) std::memset(b.FData, 0, Size);
  return b;
}

void TPixelBuffer::Release() noexcept {
  if (!FData) return;
  TMemoryBudget::Release(FCapacity == 0 ? FSize : FCapacity);
  if (FCapacity == 0) {
    std::free(FData);
  } else {
    TBufferPool& pool = Pool();
    std::unique_lock<std::mutex> guard(pool.Lock);
    if (FCapacity <= kPoolLimitBytes) {
      pool.Free.push_back({FData, FCapacity});
      pool.Bytes += FCapacity;
      FData = nullptr;
    }
    std::vector<TFreeBuffer> drop;
    while (!pool.Free.empty() &&
           (pool.Free.size() > kPoolLimitCount || pool.Bytes > kPoolLimitBytes)) {
      drop.push_back(pool.Free.front());
      pool.Bytes -= pool.Free.front().Capacity;
      pool.Free.erase(pool.Free.begin());
    }
    guard.unlock();
    for (const TFreeBuffer& f : drop)
      munmap(f.Data, f.Capacity);
    if (FData) munmap(FData, FCapacity);
  }
  FData = nullptr;
  FSize = FCapacity = 0;
}

void TPixelBuffer::TrimCache() noexcept {
  TBufferPool& pool = Pool();
  std::vector<TFreeBuffer> drop;
  {
    std::lock_guard<std::mutex> guard(pool.Lock);
    drop.swap(pool.Free);
    pool.Bytes = 0;
  }
  for (const TFreeBuffer& f : drop)
    munmap(f.Data, f.Capacity);
}

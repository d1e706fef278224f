#include "platform/Memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

namespace {

// Ranges below this size are simply written.
constexpr size_t kPagedSize = size_t(1) << 20;

// The first number in a file, or -1 when it has none ("max" for no limit).
int64_t ReadNumber(const std::string& Path) {
  std::ifstream in(Path);
  int64_t v = -1;
  if (!(in >> v)) return -1;
  return v;
}

// The value of Key in a "key value" list such as memory.stat, or -1.
int64_t ReadKeyed(const std::string& Path, const std::string& Key) {
  std::ifstream in(Path);
  std::string k;
  int64_t v = 0;
  while (in >> k >> v)
    if (k == Key) return v;
  return -1;
}

// What the control group's limit leaves this process: the limit less the
// memory in use, page cache excepted (the system gives that back first).
// -1 when there is no limit or no control group to read.
int64_t ControlGroupRoom() {
  std::ifstream self("/proc/self/cgroup");
  std::string line, v2, v1;
  while (std::getline(self, line)) {
    const auto a = line.find(':');
    const auto b = a == std::string::npos ? a : line.find(':', a + 1);
    if (b == std::string::npos) continue;
    const std::string controllers = line.substr(a + 1, b - a - 1);
    const std::string path = line.substr(b + 1);
    if (line.compare(0, a, "0") == 0 && controllers.empty()) v2 = path;
    std::stringstream list(controllers);
    std::string c;
    while (std::getline(list, c, ','))
      if (c == "memory") v1 = path;
  }
  auto room = [](int64_t limit, int64_t usage, int64_t cache) -> int64_t {
    if (limit < 0 || usage < 0 || limit >= (int64_t(1) << 60)) return -1;
    return std::max<int64_t>(0, limit - (usage - std::max<int64_t>(cache, 0)));
  };
  // The group's own folder, or the mount's root inside a container that
  // shows its group as the root.
  for (const std::string& dir : {"/sys/fs/cgroup" + v2, std::string("/sys/fs/cgroup")}) {
    if (v2.empty()) break;
    const int64_t limit = ReadNumber(dir + "/memory.max");
    if (limit >= 0 || std::ifstream(dir + "/memory.max").good())
      return room(limit, ReadNumber(dir + "/memory.current"),
                  ReadKeyed(dir + "/memory.stat", "file"));
  }
  for (const std::string& dir :
       {"/sys/fs/cgroup/memory" + v1, std::string("/sys/fs/cgroup/memory")}) {
    if (v1.empty()) break;
    const int64_t limit = ReadNumber(dir + "/memory.limit_in_bytes");
    if (limit >= 0)
      return room(limit, ReadNumber(dir + "/memory.usage_in_bytes"),
                  ReadKeyed(dir + "/memory.stat", "total_cache"));
  }
  return -1;
}

} // namespace

uint64_t AvailableMemory() noexcept {
  try {
    std::ifstream in("/proc/meminfo");
    std::string key;
    uint64_t kib = 0, total = 0;
    bool found = false;
    while (in >> key >> kib) {
      if (key == "MemAvailable:" || key == "SwapFree:") {
        total += kib * 1024;
        found = true;
      }
      in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    if (!found) total = std::numeric_limits<uint64_t>::max(); // nothing known: no bound
    const int64_t group = ControlGroupRoom();
    if (group >= 0) total = std::min(total, uint64_t(group));
    return total;
  } catch (...) {
    return std::numeric_limits<uint64_t>::max();
  }
}

bool MemoryCanBeHad(uint64_t Bytes) noexcept {
  return Bytes < (uint64_t(256) << 20) || Bytes <= AvailableMemory();
}

void ZeroFill(void* Data, size_t Size) noexcept {
  if (Size == 0) return;
  const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  const uintptr_t start = reinterpret_cast<uintptr_t>(Data);
  const uintptr_t first = (start + page - 1) & ~(page - 1);
  const uintptr_t last = (start + Size) & ~(page - 1);
  if (Size < kPagedSize || last <= first) {
    std::memset(Data, 0, Size);
    return;
  }
  std::memset(Data, 0, first - start);
  if (madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED) != 0)
    std::memset(reinterpret_cast<void*>(first), 0, last - first);
  std::memset(reinterpret_cast<void*>(last), 0, start + Size - last);
}

void TuneHeapForPictures() noexcept {
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  mallopt(M_ARENA_MAX, int(std::max(2L, 2 * (cores > 0 ? cores : 1))));
}

void ReleaseFreeHeap() noexcept {
  // Trimming also discards the free pages inside every heap, the GUI
  // thread's included, whose next paint then takes them from the system
  // anew: 50 to 85 ms more for the first step after a pause. Stepping keeps
  // a few MiB free in the heaps (big blocks are mapped on their own), so
  // they are trimmed only when much more has gathered.
  constexpr size_t TrimAbove = size_t(32) << 20;
  if (mallinfo2().fordblks < TrimAbove) return;
  malloc_trim(0);
}

#pragma once
// Spreading the rows of a picture over the machine's cores.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

// Runs Body(first, last) over [0, Count) in bands, on up to the machine's
// cores when Work is at least MinWork (else on this thread). The rows are
// cut into small chunks taken in turn, so a thread that the system holds
// back (a busy machine) leaves its share to the others.
template <class F>
inline void ParallelRows(int Count, int64_t Work, F&& Body, int64_t MinWork = int64_t(1) << 19) {
  unsigned threads = std::thread::hardware_concurrency();
  if (threads == 0) threads = 1;
  threads = std::min(threads, 8u);
  if (Work < MinWork || Count < 16) threads = 1;
  threads = std::min<unsigned>(threads, static_cast<unsigned>(std::max(1, Count / 8)));
  if (threads <= 1) {
    Body(0, Count);
    return;
  }
  const int chunk = std::max(8, Count / int(threads * 8));
  std::atomic<int> next{0};
  auto worker = [&] {
    for (;;) {
      const int a = next.fetch_add(chunk);
      if (a >= Count) return;
      Body(a, std::min(Count, a + chunk));
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(worker);
    } catch (...) {
      break; // no thread to be had: the others do the work
    }
  }
  worker();
  for (std::thread& t : pool)
    t.join();
}

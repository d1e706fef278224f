// Pixel memory: sizes, zeroing, and reuse of big buffers.

#include "platform/Dib.h"
#include "platform/Memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(PixelBuffer, SizesAndFailures) {
  EXPECT_FALSE(TPixelBuffer::Allocate(0));
  TPixelBuffer small = TPixelBuffer::AllocateZeroed(1000);
  ASSERT_TRUE(small);
  EXPECT_EQ(small.Size(), 1000u);
  for (size_t i = 0; i < 1000; ++i)
    ASSERT_EQ(small.Data()[i], 0);
  // Far more than any machine has: an empty buffer, no exception.
  EXPECT_FALSE(TPixelBuffer::Allocate(size_t(1) << 62));
  EXPECT_EQ(DibStride(3, 24), 12);
  EXPECT_EQ(DibStride(33, 1), 8);
  EXPECT_EQ(DibStride(-1, 24), -1);
  EXPECT_EQ(DibStride(int64_t(1) << 31, 24), -1);
}

TEST(PixelBuffer, BigBuffersAreReusedAndZeroedOnRequest) {
  TPixelBuffer::TrimCache();
  const size_t size = size_t(24) << 20;
  uint8_t* first;
  {
    TPixelBuffer a = TPixelBuffer::Allocate(size);
    ASSERT_TRUE(a);
    first = a.Data();
    std::memset(a.Data(), 0xAB, size);
  }
  TPixelBuffer b = TPixelBuffer::Allocate(size - 4096); // same capacity class
  EXPECT_EQ(b.Data(), first);
  b.Release();
  TPixelBuffer c = TPixelBuffer::AllocateZeroed(size);
  ASSERT_TRUE(c);
  EXPECT_EQ(c.Data()[0], 0);
  EXPECT_EQ(c.Data()[size - 1], 0);
  TPixelBuffer moved = std::move(c);
  EXPECT_FALSE(c);
  EXPECT_TRUE(moved);
  TPixelBuffer::TrimCache();
}

// ZeroFill zeroes exactly the range, whole pages by handing them back: a
// page-unaligned range inside dirty memory, mapped and heap alike.
TEST(PixelBuffer, ZeroFillZeroesExactlyTheRange) {
  const size_t size = size_t(8) << 20;
  TPixelBuffer mapped = TPixelBuffer::Allocate(size);
  ASSERT_TRUE(mapped);
  std::vector<uint8_t> heap(size);
  for (uint8_t* p : {mapped.Data(), heap.data()}) {
    std::memset(p, 0xAB, size);
    const size_t from = 4093, to = size - 5000; // neither on a page boundary
    ZeroFill(p + from, to - from);
    EXPECT_EQ(p[from - 1], 0xAB);
    EXPECT_EQ(p[to], 0xAB);
    size_t nonZero = 0;
    for (size_t i = from; i < to; ++i)
      nonZero += p[i] != 0;
    EXPECT_EQ(nonZero, 0u);
    // Written again afterwards, the pages hold what is written.
    p[size / 2] = 7;
    EXPECT_EQ(p[size / 2], 7);
  }
}

// A big buffer the system could not back is refused rather than granted and
// left to end the process when its pages are touched.
TEST(PixelBuffer, RefusesMoreThanTheSystemCanGive) {
  const uint64_t available = AvailableMemory();
  ASSERT_GT(available, 0u);
  if (available > (uint64_t(1) << 40)) GTEST_SKIP() << "the system tells no available memory";
  EXPECT_FALSE(TPixelBuffer::Allocate(size_t(available + (uint64_t(64) << 20))));
  if (available > (uint64_t(1) << 30)) {
    TPixelBuffer fits = TPixelBuffer::Allocate(size_t(300) << 20);
    EXPECT_TRUE(fits);
  }
  TPixelBuffer::TrimCache();
}

} // namespace

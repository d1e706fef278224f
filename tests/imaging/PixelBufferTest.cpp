// Pixel memory: sizes, zeroing, and reuse of big buffers.

#include "Dib.h"

#include <gtest/gtest.h>

#include <cstring>

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

} // namespace

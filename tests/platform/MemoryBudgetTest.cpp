// The pixel limit and the process's memory budget.

#include "platform/MemoryBudget.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {

// Restores the default limits after each test.
class MemoryBudgetTest : public ::testing::Test {
protected:
  void TearDown() override {
    unsetenv("IMBREL_MAX_PIXELS");
    unsetenv("IMBREL_MEMORY_BUDGET");
    SetPixelLimit(0);
    TMemoryBudget::SetLimit(0);
  }
};

} // namespace

TEST_F(MemoryBudgetTest, PixelLimitDefaultsToAGigapixelAndFollowsTheEnvironment) {
  unsetenv("IMBREL_MAX_PIXELS");
  SetPixelLimit(0);
  EXPECT_EQ(PixelLimit(), 1'000'000'000u);
  EXPECT_TRUE(PixelsAllowed(40000, 25000));
  EXPECT_FALSE(PixelsAllowed(40000, 25001));
  EXPECT_FALSE(PixelsAllowed(65535, 65535));

  setenv("IMBREL_MAX_PIXELS", "1200", 1);
  SetPixelLimit(0); // read again
  EXPECT_EQ(PixelLimit(), 1200u);
  EXPECT_TRUE(PixelsAllowed(40, 30));
  EXPECT_FALSE(PixelsAllowed(41, 30));
  EXPECT_EQ(PixelLimitMessage(41, 30),
            "Picture too large: 41 x 30 pixels exceeds the limit of 1200 pixels");
  // Sizes the readers reject themselves pass; products past 64 bits do not wrap.
  EXPECT_TRUE(PixelsAllowed(0, 99999));
  EXPECT_TRUE(PixelsAllowed(-5, 99999));
  EXPECT_FALSE(PixelsAllowed(int64_t(1) << 40, int64_t(1) << 40));

  setenv("IMBREL_MAX_PIXELS", "lots", 1);
  SetPixelLimit(0);
  EXPECT_EQ(PixelLimit(), 1'000'000'000u) << "a value that is no number is ignored";
}

TEST_F(MemoryBudgetTest, ReservationsStayWithinTheBudget) {
  setenv("IMBREL_MEMORY_BUDGET", "10", 1); // MiB
  TMemoryBudget::SetLimit(0);
  const uint64_t Limit = TMemoryBudget::Limit();
  ASSERT_EQ(Limit, uint64_t(10) << 20);
  const uint64_t Before = TMemoryBudget::Used();
  ASSERT_LT(Before, Limit / 2);
  {
    TMemoryReservation A(Limit / 2);
    ASSERT_TRUE(A);
    TMemoryReservation TooMuch(Limit);
    EXPECT_FALSE(TooMuch);
    EXPECT_EQ(TMemoryBudget::Used(), Before + Limit / 2);
    TMemoryReservation Moved(std::move(A));
    EXPECT_FALSE(A);
    EXPECT_EQ(Moved.Bytes(), Limit / 2);
    EXPECT_EQ(TMemoryBudget::Used(), Before + Limit / 2);
  }
  EXPECT_EQ(TMemoryBudget::Used(), Before) << "every reservation handed back";
}

TEST_F(MemoryBudgetTest, BackgroundWorkLeavesAQuarterFree) {
  TMemoryBudget::SetLimit(uint64_t(100) << 20);
  const uint64_t Before = TMemoryBudget::Used();
  ASSERT_LT(Before, uint64_t(1) << 20);
  const uint64_t Free = TMemoryBudget::Available();
  bool Background = false, BackgroundSmaller = false, Foreground = false;
  std::thread([&] {
    const TMemoryBudget::TBackgroundScope Scope;
    // Taking all that is free would leave less than a quarter: refused.
    Background = TMemoryReservation(Free).operator bool();
    BackgroundSmaller = TMemoryReservation(Free / 2).operator bool();
  }).join();
  Foreground = TMemoryReservation(Free).operator bool();
  EXPECT_FALSE(Background);
  EXPECT_TRUE(BackgroundSmaller);
  EXPECT_TRUE(Foreground) << "the scope holds only on its own thread";

  TMemoryReservation Most(Free - (uint64_t(10) << 20));
  ASSERT_TRUE(Most);
  EXPECT_FALSE(TMemoryBudget::RoomForBackground());
  Most.Reset();
  EXPECT_TRUE(TMemoryBudget::RoomForBackground());
}

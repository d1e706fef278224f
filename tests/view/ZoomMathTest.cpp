#include "view/WheelNotches.h"
#include "view/ZoomMath.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ZoomMath, FitPercentKeepsSinglePrecision) {
  EXPECT_EQ(FitPercent(200, 400), 50.0f);
  EXPECT_EQ(FitPercent(200, 100), 200.0f);
  // 1/3 is stored as float first, then multiplied: not the same as 100/3.
  const float Third = static_cast<float>(1.0L / 3.0L);
  EXPECT_EQ(FitPercent(100, 300), static_cast<float>(100.0L * Third));
}

TEST(ZoomMath, FullPageTakesTheSmallerRatioAndCaps) {
  EXPECT_EQ(FullPagePercent(200, 200, 400, 300, false), 50.0f);
  EXPECT_EQ(FullPagePercent(200, 200, 300, 400, false), 50.0f);
  EXPECT_EQ(FullPagePercent(200, 200, 100, 50, false), 200.0f);
  EXPECT_EQ(FullPagePercent(200, 200, 100, 50, true), 100.0f);
  EXPECT_EQ(FullPagePercent(200, 200, 400, 300, true), 50.0f);
  // Empty client area: 0 percent (the display is then 1 x 1).
  EXPECT_EQ(FullPagePercent(0, 0, 400, 300, false), 0.0f);
}

// The zoom rule the view and decoding ahead share, mode by mode.
TEST(ZoomMath, ZoomRuleForEveryMode) {
  struct Case {
    TZoomMode Mode;
    int ClientWidth, ClientHeight, Width, Height;
    float Expected;
    bool HidesBars;
  } Cases[] = {
      {zmOriginalSize, 640, 480, 4000, 3000, 100.0f, false},
      {zmFullPage, 640, 480, 4000, 2000, 16.0f, true},  // the width limits
      {zmFullPage, 640, 480, 100, 100, 480.0f, true},   // enlarged
      {zmFitToPage, 640, 480, 100, 100, 100.0f, true},  // never enlarged
      {zmFitToPage, 640, 480, 1280, 480, 50.0f, true},
      {zmFitWidth, 600, 480, 1200, 9000, 50.0f, false}, // the height may overflow
      {zmFitHeight, 640, 300, 9000, 600, 50.0f, true},
      {zmPercent, 640, 480, 4000, 3000, 37.5f, false}, // the caller's own percent
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(int(C.Mode));
    EXPECT_FLOAT_EQ(ZoomPercentFor(C.Mode, 37.5f, C.ClientWidth, C.ClientHeight, C.Width, C.Height),
              C.Expected);
    EXPECT_EQ(ZoomHidesScrollBars(C.Mode), C.HidesBars);
  }
}

// Each bar shows exactly when its content exceeds what the other bar leaves.
TEST(ZoomMath, ScrollBarsSettle) {
  constexpr int Bar = 16;
  struct Case {
    const char* Name;
    int ContentWidth, ContentHeight;
    bool MayH, MayV;
    bool H, V;
  } Cases[] = {
      {"fits", 640, 480, true, true, false, false},
      {"wider only", 641, 400, true, true, true, false},
      {"wider, then too tall beside the bar", 641, 470, true, true, true, true},
      {"taller, then too wide beside the bar", 630, 481, true, true, true, true},
      {"just fits beside the other bar", 624, 481, true, true, false, true},
      {"both exceed", 2000, 2000, true, true, true, true},
      {"a bar that may not show", 2000, 2000, false, true, false, true},
      {"no bars at all", 2000, 2000, false, false, false, false},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    const TShownBars S =
        SettleScrollBars(C.ContentWidth, C.ContentHeight, C.MayH, C.MayV, 640, 480, Bar);
    EXPECT_EQ(S.Horizontal, C.H);
    EXPECT_EQ(S.Vertical, C.V);
  }
}

TEST(ZoomMath, DisplayExtentTruncatesAndNeverVanishes) {
  struct Case {
    int Extent;
    float Percent;
    int Expected;
  } Cases[] = {
      {400, 50.0f, 200}, {300, 50.0f, 150}, {100, 33.3f, 33}, {100, 0.5f, 1},
      {100, 0.0f, 1},    {3, 66.67f, 2},    {7, 100.0f, 7},   {1000, 248.83f, 2488},
  };
  for (const Case& C : Cases)
    EXPECT_EQ(DisplayExtent(C.Extent, C.Percent), C.Expected) << C.Extent << " at " << C.Percent;
  EXPECT_EQ(DisplayExtent(2000000000, 1000.0f), 2147483647);
}

TEST(ZoomMath, ChangeComparesTheRoundedOldValue) {
  EXPECT_FALSE(ZoomChanged(50.0f, 50.0f));
  EXPECT_TRUE(ZoomChanged(50.0f, 37.5f));
  // A fraction always looks changed against its own rounding.
  EXPECT_TRUE(ZoomChanged(37.5f, 37.5f));
  // Ties go to even: 36.5 rounds to 36, 37.5 to 38.
  EXPECT_FALSE(ZoomChanged(36.5f, 36.0f));
  EXPECT_FALSE(ZoomChanged(37.5f, 38.0f));
  EXPECT_TRUE(ZoomChanged(36.5f, 37.0f));
}

TEST(ZoomMath, CentredOffsetUsesTheOuterExtent) {
  EXPECT_EQ(CenteredOffset(200, 100), 50);
  EXPECT_EQ(CenteredOffset(201, 100), 50); // truncated
  EXPECT_EQ(CenteredOffset(200, 200), 0);
  EXPECT_EQ(CenteredOffset(200, 300), 0);
}

// Wheel reports add up to notches of 120: a high-resolution wheel or a
// touchpad makes one step per notch, a fast wheel several at once.
TEST(WheelNotches, ReportsAddUpToWholeNotches) {
  struct TReport {
    int Delta;
    uint64_t Time; // ms
    int Notches;   // answered
  };
  const struct {
    const char* What;
    std::vector<TReport> Reports;
  } Cases[] = {
      {"one notch each way", {{120, 10, 1}, {-120, 20, -1}}},
      {"eight eighths of a notch make one",
       {{15, 1, 0},
        {15, 2, 0},
        {15, 3, 0},
        {15, 4, 0},
        {15, 5, 0},
        {15, 6, 0},
        {15, 7, 0},
        {15, 8, 1}}},
      {"a fast wheel reports two notches at once, with a part left over",
       {{-250, 5, -2}, {-110, 6, -1}}},
      {"turning back drops the part left of the other way",
       {{100, 1, 0}, {-30, 2, 0}, {-90, 3, -1}}},
      {"a pause drops the part left", {{100, 1, 0}, {30, 1 + TWheelNotches::PauseMs + 1, 0}}},
      {"no pause, no drop", {{100, 1, 0}, {30, 1 + TWheelNotches::PauseMs, 1}}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.What);
    TWheelNotches Wheel;
    for (const TReport& R : C.Reports)
      EXPECT_EQ(Wheel.Add(R.Delta, R.Time), R.Notches) << R.Delta << " at " << R.Time;
  }
}

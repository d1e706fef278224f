// Animated pictures in the view: a GIF given to the view plays by itself,
// each frame for its own delay, as often as the file says, and stops on its
// last frame; a playing animation keeps zoom, scroll position and a drag; a
// picture put in its place stops it; one decoded elsewhere plays too.

#include "formats/Formats.h"
#include "imaging/DibGraphic.h"
#include "imaging/GraphicRegistry.h"
#include "platform/Stream.h"
#include "tests/formats/gifwebp/GifFixtures.h"
#include "tests/view/ViewTestSupport.h"
#include "view/ImageScrollBox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kColours[] = {0xC00000, 0x00C000, 0x0000C0};

// Three frames of W x H in the colours above, 20, 40 and 60 ms; Loop is the
// NETSCAPE2.0 count (-1: none).
std::string Animation(int W, int H, int Loop) {
  giffix::TGif D{W, H, {kColours[0], kColours[1], kColours[2], 0xFFFFFF}, Loop, {}};
  for (int I = 0; I < 3; ++I) {
    giffix::TFrame F = giffix::Solid(0, 0, W, H, uint8_t(I));
    F.DelayCs = 2 * (I + 1);
    D.Frames.push_back(F);
  }
  return giffix::Encode(D);
}

// What the view shows at one frame change: the frame, how long the timer
// waits before the next, and the colour of the display copy.
struct TStep {
  int Frame;
  int Interval;
  uint32_t Shown;
};

class ViewAnimationTest : public ViewFixture {
protected:
  void SetUp() override {
    ViewFixture::SetUp();
    RegisterImageFormats();
  }
  void LoadGif(const std::string& Bytes) {
    TBytesStream S(Bytes.data(), int64_t(Bytes.size()));
    View->LoadFromStream(S, "anim.gif", 1);
  }
  // The steps seen until the animation stops or Limit steps have been seen.
  std::vector<TStep> Watch(size_t Limit) {
    std::vector<TStep> Steps;
    int Last = -1;
    QElapsedTimer Clock;
    Clock.start();
    while (Steps.size() < Limit && Clock.elapsed() < 10000) {
      if (View->CurrentFrame() != Last) {
        Last = View->CurrentFrame();
        Steps.push_back({Last, View->FrameTimer().isActive() ? View->FrameTimer().interval() : 0,
                         View->DisplayGraphic().GetPixelColor(0, 0)});
      }
      if (!View->Animate()) break;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return Steps;
  }
};

TEST_F(ViewAnimationTest, PlaysEachFrameForItsDelayAsOftenAsTheFileSaysAndStopsOnTheLast) {
  // NETSCAPE2.0 count 1: shown once and repeated once.
  LoadGif(Animation(30, 20, 1));
  ASSERT_TRUE(View->Animate());
  const std::vector<TStep> Steps = Watch(20);
  const std::vector<TStep> Expected = {
      {1, 20, kColours[0]}, {2, 40, kColours[1]}, {3, 60, kColours[2]},
      {1, 20, kColours[0]}, {2, 40, kColours[1]}, {3, 60, kColours[2]},
  };
  EXPECT_EQ(Steps.size(), Expected.size());
  for (size_t I = 0; I < std::min(Steps.size(), Expected.size()); ++I) {
    SCOPED_TRACE("step " + std::to_string(I));
    EXPECT_EQ(Steps[I].Frame, Expected[I].Frame);
    EXPECT_EQ(Steps[I].Shown, Expected[I].Shown);
    EXPECT_EQ(Steps[I].Interval, Expected[I].Interval);
  }
  EXPECT_FALSE(View->Animate());
  EXPECT_FALSE(View->FrameTimer().isActive());
  EXPECT_EQ(View->CurrentFrame(), 3);
  EXPECT_EQ(View->PlaysDone(), 2);
  // Switched on again, a finished animation plays once more.
  View->SetAnimate(true);
  EXPECT_EQ(Watch(20).size(), 4u); // 3, then 1, 2, 3
}

TEST_F(ViewAnimationTest, LoopCountZeroAndNoLoopingExtension) {
  LoadGif(Animation(30, 20, 0)); // for ever
  EXPECT_EQ(Watch(8).size(), 8u);
  EXPECT_TRUE(View->Animate());
  EXPECT_GE(View->PlaysDone(), 2);
  LoadGif(Animation(30, 20, -1)); // without the extension: once
  EXPECT_EQ(View->CurrentFrame(), 1);
  EXPECT_EQ(View->PlaysDone(), 0);
  EXPECT_EQ(Watch(20).size(), 3u);
  EXPECT_FALSE(View->Animate());
  EXPECT_EQ(View->CurrentFrame(), 3);
}

TEST_F(ViewAnimationTest, FramesKeepZoomScrollPositionADragAndARubberBand) {
  LoadGif(Animation(400, 300, 0));
  View->SetZoomPercent(150.0f);
  View->HorzScrollBar().SetPosition(30);
  View->VertScrollBar().SetPosition(40);
  Press({100, 100});
  const int Start = View->CurrentFrame();
  ASSERT_TRUE(WaitFor([&] { return View->CurrentFrame() != Start; }, 5000));
  ASSERT_TRUE(WaitFor([&] { return View->CurrentFrame() != Start + 1; }, 5000));
  EXPECT_EQ(View->ZoomPercent(), 150.0f);
  EXPECT_EQ(View->DisplayGraphic().Width(), 600);
  EXPECT_EQ(View->DisplayGraphic().GetPixelColor(599, 449),
            kColours[size_t(View->CurrentFrame() - 1)]);
  EXPECT_EQ(View->HorzScrollBar().Position(), 30);
  EXPECT_EQ(View->VertScrollBar().Position(), 40);
  EXPECT_EQ(View->ImageControl().pos(), QPoint(-30, -40));
  // The drag begun before the frames changed goes on.
  Move({90, 95});
  EXPECT_EQ(View->HorzScrollBar().Position(), 40);
  EXPECT_EQ(View->VertScrollBar().Position(), 45);
  Release({90, 95});
  // A rubber band drawn on a playing animation stays while frames change.
  View->SetMouseMode(mmRubberband);
  Press({20, 20});
  Move({60, 50});
  ASSERT_TRUE(View->Overlay().HasBand());
  const int Now = View->CurrentFrame();
  ASSERT_TRUE(WaitFor([&] { return View->CurrentFrame() != Now; }, 5000));
  EXPECT_TRUE(View->Overlay().HasBand());
  Release({60, 50});
}

TEST_F(ViewAnimationTest, AnotherPictureStopsItAndOneShownAgainStartsFromItsFirstFrame) {
  LoadGif(Animation(30, 20, 0));
  ASSERT_TRUE(WaitFor([&] { return View->CurrentFrame() == 2; }, 5000));
  TLaidOutPicture Still;
  Still.Picture = std::make_unique<TDibGraphic>();
  Still.Picture->NewImage(10, 10, ifTrueColor, nullptr, 0, 0);
  TLaidOutPicture Old = View->LoadFromGraphic(std::move(Still));
  EXPECT_FALSE(View->Animate());
  EXPECT_FALSE(View->FrameTimer().isActive());
  ASSERT_TRUE(Old.Picture);
  EXPECT_EQ(Old.Picture->CurrentFrame(), 2);
  // Given back (as the main window does with the picture stepped away from).
  View->LoadFromGraphic(std::move(Old));
  EXPECT_TRUE(View->Animate());
  EXPECT_EQ(View->CurrentFrame(), 1);
  EXPECT_EQ(View->DisplayGraphic().GetPixelColor(0, 0), kColours[0]);
  // Cleared: nothing comes back.
  View->Clear();
  EXPECT_FALSE(View->Animate());
  QElapsedTimer Clock;
  Clock.start();
  while (Clock.elapsed() < 100)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_TRUE(View->Graphic().Empty());
  EXPECT_TRUE(View->DisplayGraphic().Empty());
}

TEST_F(ViewAnimationTest, APictureDecodedAheadWithItsDisplayCopyPlays) {
  const std::string Bytes = Animation(60, 40, 0);
  const TDisplayPlan Plan = View->DisplayPlan();
  TLaidOutPicture Ready;
  // Decoded and laid out on another thread, as the decode-ahead worker does.
  std::thread Worker([&] {
    TBytesStream S(Bytes.data(), int64_t(Bytes.size()));
    Ready.Picture = CreateGraphicFromStream(S, "anim.gif", 1);
    Ready.Display = MakePlannedDisplayCopy(*Ready.Picture, Plan);
    Ready.Plan = Plan;
  });
  Worker.join();
  ASSERT_TRUE(Ready.Display);
  View->LoadFromGraphic(std::move(Ready));
  EXPECT_TRUE(View->Animate());
  EXPECT_EQ(View->FrameTimer().interval(), 20);
  ASSERT_TRUE(WaitFor([&] { return View->CurrentFrame() == 3; }, 5000));
  EXPECT_EQ(View->DisplayGraphic().GetPixelColor(59, 39), kColours[2]);
}

} // namespace

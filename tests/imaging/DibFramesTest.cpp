// The bitmap class over streams: several images in one stream as frames, the
// frame shown, animation, and the stream slots of the base class.

#include "imaging/DibGraphic.h"
#include "tests/imaging/TestHelpers.h"

#include "platform/MemoryBudget.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstring>
#include <vector>

namespace {

// A format holding Count images: byte 0 is Count, image I is I pixels wide
// and one high, its pixels of colour I. It checks it is handed the stream at
// the picture's start.
class TMultiGraphic : public TDibGraphic {
public:
  static inline int Loads = 0;
  // A format positions itself: after counting, the stream is not sought back.
  int64_t FStart = -1;
  int GetImageCount(TStream& Stream) override {
    FStart = Stream.Position();
    uint8_t n = 0;
    Stream.ReadBuffer(&n, 1);
    return n;
  }
  void LoadImageFromStream(TStream& Stream, int Index) override {
    if (FStart >= 0) Stream.SetPosition(FStart);
    uint8_t n = 0;
    Stream.ReadBuffer(&n, 1);
    if (Index < 1 || Index > n) throw EImageError("no such image");
    ++Loads;
    NewImage(Index, 1, ifTrueColor, nullptr, 72, 72);
    for (int x = 0; x < Index; ++x)
      SetPixelColor(x, 0, uint32_t(Index));
    SetFrameDelay(10 * Index);
  }
};

class TFailingGraphic : public TDibGraphic {
public:
  void LoadImageFromStream(TStream&, int) override { throw EImageError("broken"); }
};

TEST(DibFrames, LoadAllImagesMakesFramesAndShowsTheFirst) {
  const uint8_t bytes[] = {9, 3};
  TBytesStream stream(bytes, 2);
  stream.SetPosition(1);
  TMultiGraphic g;
  ClassOf<TMultiGraphic>();
  g.SetLoadAllImages(true);
  g.LoadFromStream(stream);
  ASSERT_EQ(g.FrameCount(), 3);
  EXPECT_EQ(g.CurrentFrame(), 1);
  EXPECT_EQ(g.Width(), 1);
  EXPECT_EQ(g.FrameDelay(), 10);
  EXPECT_EQ(g.Frames(3).Width(), 3);
  EXPECT_EQ(g.Frames(2).ClassName(), "TMultiGraphic");
  int changes = 0;
  g.OnChange = [&](TGraphic*) { ++changes; };
  g.SetCurrentFrame(3);
  EXPECT_EQ(g.Width(), 3);
  EXPECT_EQ(g.GetPixelColor(2, 0), 3u);
  EXPECT_EQ(g.CurrentFrame(), 3);
  EXPECT_EQ(g.FrameDelay(), 30);
  EXPECT_EQ(changes, 1);
  g.SetCurrentFrame(3); // same frame: nothing happens
  EXPECT_EQ(changes, 1);
  EXPECT_THROW_MSG(g.Frames(0), EImageError, "Frame 0 does not exist");
  EXPECT_THROW_MSG(g.SetCurrentFrame(4), EImageError, "Frame 4 does not exist");
}

TEST(DibFrames, SingleImageStreamClearsLoadAllImages) {
  const uint8_t bytes[] = {1};
  TBytesStream stream(bytes, 1);
  TMultiGraphic g;
  g.SetLoadAllImages(true);
  g.LoadFromStream(stream);
  EXPECT_FALSE(g.LoadAllImages());
  EXPECT_EQ(g.FrameCount(), 0);
  EXPECT_EQ(g.Width(), 1);
  EXPECT_EQ(g.CurrentFrame(), -1);
}

TEST(DibFrames, ImageIndexSelectsTheImage) {
  const uint8_t bytes[] = {4};
  TBytesStream stream(bytes, 1);
  TMultiGraphic g;
  g.SetImageIndex(3);
  g.LoadFromStream(stream);
  EXPECT_EQ(g.Width(), 3);
  EXPECT_EQ(g.FrameCount(), 0);
}

TEST(DibFrames, NoImagesWithLoadAllImagesEndsInFrameOneMissing) {
  const uint8_t bytes[] = {0};
  TBytesStream stream(bytes, 1);
  ClassOf<TMultiGraphic>();
  TMultiGraphic g;
  g.SetLoadAllImages(true);
  EXPECT_THROW_MSG(g.LoadFromStream(stream), EImageError, "Frame 1 does not exist");
}

TEST(DibFrames, AClassWithoutReferenceCannotMakeFrames) {
  class TUnknownGraphic : public TMultiGraphic {};
  const uint8_t bytes[] = {2};
  TBytesStream stream(bytes, 1);
  TUnknownGraphic g;
  g.SetLoadAllImages(true);
  EXPECT_THROW(g.LoadFromStream(stream), EImageError);
  EXPECT_EQ(g.FrameCount(), 0);
}

TEST(DibFrames, CurrentFrameWithItsOwnValueDoesNothingEvenWithoutFrames) {
  TDibGraphic g;
  g.SetCurrentFrame(-1);
  EXPECT_EQ(g.CurrentFrame(), -1);
  EXPECT_THROW_MSG(g.SetCurrentFrame(1), EImageError, "Frame 1 does not exist");
}

TEST(DibFrames, LoadFromStreamRestoresAnimateAlsoOnFailure) {
  TFailingGraphic g;
  g.SetAnimate(true);
  const uint8_t bytes[] = {1};
  TBytesStream stream(bytes, 1);
  EXPECT_THROW_MSG(g.LoadFromStream(stream), EImageError, "broken");
  EXPECT_TRUE(g.Animate());
}

TEST(DibFrames, AnimationCyclesThroughTheFramesAndWraps) {
  const uint8_t bytes[] = {3};
  TBytesStream stream(bytes, 1);
  ClassOf<TMultiGraphic>();
  TMultiGraphic g;
  g.SetLoadAllImages(true);
  g.LoadFromStream(stream);
  std::vector<int> seen;
  g.OnChange = [&](TGraphic*) { seen.push_back(g.Width()); };
  g.SetFrameDelay(5);
  g.SetAnimate(true);
  QElapsedTimer timer;
  timer.start();
  while (seen.size() < 4 && timer.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  g.SetAnimate(false);
  ASSERT_GE(seen.size(), 4u);
  // After frame 1: 2, 3, then back to 1.
  EXPECT_EQ(seen[0], 2);
  EXPECT_EQ(seen[1], 3);
  EXPECT_EQ(seen[2], 1);
  const size_t n = seen.size();
  QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(seen.size(), n); // switched off: no more steps
}

// A still of one colour, Delay ms.
std::unique_ptr<TDibGraphic> Solid(int W, int H, uint32_t Colour, int Delay) {
  auto G = std::make_unique<TDibGraphic>();
  G->NewImage(W, H, ifTrueColor, nullptr, 96, 96);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      G->SetPixelColor(x, y, Colour);
  G->SetFrameDelay(Delay);
  return G;
}

std::vector<std::unique_ptr<TDibGraphic>> ThreeFrames() {
  std::vector<std::unique_ptr<TDibGraphic>> F;
  F.push_back(Solid(4, 3, 0x110000, 30));
  F.push_back(Solid(4, 3, 0x002200, 40));
  F.push_back(Solid(2, 5, 0x000033, 50));
  return F;
}

TEST(DibAnimation, FramesHandedOverShowTheFirstAndMakeTheImageAnimated) {
  TDibGraphic g;
  g.SetAnimationFrames(ThreeFrames());
  EXPECT_TRUE(g.Animated());
  ASSERT_EQ(g.FrameCount(), 3);
  EXPECT_EQ(g.CurrentFrame(), 1);
  EXPECT_EQ(g.Width(), 4);
  EXPECT_EQ(g.GetPixelColor(3, 2), 0x110000u);
  EXPECT_EQ(g.FrameDelay(), 30);
  // Pages loaded as frames are no animation.
  const uint8_t bytes[] = {3};
  TBytesStream stream(bytes, 1);
  ClassOf<TMultiGraphic>();
  TMultiGraphic pages;
  pages.SetLoadAllImages(true);
  pages.LoadFromStream(stream);
  EXPECT_EQ(pages.FrameCount(), 3);
  EXPECT_FALSE(pages.Animated());
}

TEST(DibAnimation, SelectFrameCopiesInPlaceAndProcessesNoEvents) {
  TDibGraphic g;
  g.SetAnimationFrames(ThreeFrames());
  const uint8_t* bits = g.Bits();
  bool posted = false;
  QTimer::singleShot(0, [&] { posted = true; });
  g.SelectFrame(2);
  EXPECT_FALSE(posted) << "no event is processed";
  EXPECT_EQ(g.Bits(), bits) << "same size and format: the same storage";
  EXPECT_EQ(g.GetPixelColor(0, 0), 0x002200u);
  EXPECT_EQ(g.FrameDelay(), 40);
  EXPECT_EQ(g.CurrentFrame(), 2);
  g.SelectFrame(3); // another size: new storage
  EXPECT_EQ(g.Width(), 2);
  EXPECT_EQ(g.Height(), 5);
  EXPECT_EQ(g.GetPixelColor(1, 4), 0x000033u);
  g.SetCurrentFrame(1); // the framework's way processes pending events
  EXPECT_TRUE(posted);
  EXPECT_EQ(g.GetPixelColor(0, 0), 0x110000u);
  EXPECT_THROW_MSG(g.SelectFrame(4), EImageError, "Frame 4 does not exist");
}

TEST(DibAnimation, CopyPixelsFromTakesThePaletteAlong) {
  const TLogPalette red = MakePalette({0x000000, 0xFF0000});
  const TLogPalette blue = MakePalette({0x000000, 0x0000FF});
  TDibGraphic a, b;
  FillIndexes(a, 5, 2, ifColor256, &red);
  FillIndexes(b, 5, 2, ifColor256, &blue);
  b.SetPixelIndex(0, 0, 1);
  ASSERT_TRUE(a.CopyPixelsFrom(b));
  EXPECT_EQ(a.GetPixelColor(0, 0), 0x0000FFu);
  // Colours written afterwards map to the new palette.
  a.SetPixelColor(1, 0, 0x0000F0);
  EXPECT_EQ(a.GetPixelIndex(1, 0), 1);
  // Another size or format is not copied in place.
  TDibGraphic c;
  FillPattern(c, 5, 2);
  EXPECT_FALSE(a.CopyPixelsFrom(c));
  EXPECT_EQ(a.ImageFormat(), ifColor256);
}

TEST(DibAnimation, LoadingAgainDropsTheAnimation) {
  ClassOf<TMultiGraphic>();
  TMultiGraphic g;
  g.SetAnimationFrames(ThreeFrames());
  const uint8_t bytes[] = {2};
  TBytesStream stream(bytes, 1);
  g.SetImageIndex(2);
  g.LoadFromStream(stream);
  EXPECT_FALSE(g.Animated());
  EXPECT_EQ(g.FrameCount(), 0);
  EXPECT_EQ(g.Width(), 2);
}

TEST(DibAnimation, FramesFitWithinThePixelLimitTheBudgetLeftAndTheirFile) {
  struct Restore {
    ~Restore() {
      SetPixelLimit(0);
      TMemoryBudget::SetLimit(0);
    }
  } restore;
  constexpr uint64_t kFile = 1 << 20; // holds the frames of every case but the last
  // 10 x 10 frames: 100 pixels and 320 bytes (rows of 32 bytes) each; the
  // picture showing one counts as well.
  SetPixelLimit(1000);
  std::string why;
  EXPECT_TRUE(AnimationFramesFit(10, 10, 9, kFile, 24, &why));
  EXPECT_FALSE(AnimationFramesFit(10, 10, 10, kFile, 24, &why));
  EXPECT_EQ(why, "10 frames of 10 x 10 pixels exceed the limit of 1000 pixels");
  SetPixelLimit(0);
  TMemoryBudget::SetLimit(TMemoryBudget::Used() + 3200);
  EXPECT_TRUE(AnimationFramesFit(10, 10, 9, kFile));
  EXPECT_FALSE(AnimationFramesFit(10, 10, 10, kFile, 24, &why));
  EXPECT_THAT(why, ::testing::StartsWith("10 frames of 10 x 10 pixels need 0 MB"));
  // Palette frames of 120 bytes: 25 of them and the picture fit.
  EXPECT_TRUE(AnimationFramesFit(10, 10, 25, kFile, 8));
  EXPECT_FALSE(AnimationFramesFit(10, 10, 26, kFile, 8));
  TMemoryBudget::SetLimit(0);
  // Frames after the first: at most 16384 pixels a byte of the file.
  EXPECT_TRUE(AnimationFramesFit(1024, 1024, 17, 1024));
  EXPECT_FALSE(AnimationFramesFit(1024, 1024, 18, 1024, 24, &why));
  EXPECT_EQ(why, "17 frames of 1024 x 1024 pixels after the first are more than a file of 1024 "
                 "bytes can hold");
  // Counts and sizes that would overflow a product do not fit.
  EXPECT_FALSE(AnimationFramesFit(65535, 65535, int64_t(1) << 40, UINT64_MAX));
}

TEST(DibStreams, BaseSlots) {
  TDibGraphic g;
  TMemoryStream m;
  EXPECT_EQ(g.GetImageCount(m), 1);
  g.SaveToStream(m);
  EXPECT_EQ(m.Size(), 0);
  EXPECT_THROW_MSG(g.AppendToStream(m), EImageError,
                   "The TDibGraphic format does not support multiple images");
  TMultiGraphic multi;
  EXPECT_THROW_MSG(multi.AppendToStream(m), EImageError,
                   "The TMultiGraphic format does not support multiple images");
}

TEST(DibStreams, ClassReferencesCreateTheirOwnClass) {
  TDibGraphicClass cls = ClassOf<TMultiGraphic>();
  EXPECT_EQ(cls->Name, "TMultiGraphic");
  std::unique_ptr<TDibGraphic> g = cls->Create();
  EXPECT_NE(dynamic_cast<TMultiGraphic*>(g.get()), nullptr);
  EXPECT_EQ(g->ClassType(), cls);
  EXPECT_TRUE(g->Empty());
  EXPECT_EQ(g->ImageIndex(), 1);
  EXPECT_EQ(g->FrameDelay(), 200);
  EXPECT_EQ(g->CurrentFrame(), -1);
  EXPECT_FALSE(g->Animate());
  EXPECT_FALSE(g->LoadAllImages());
}

} // namespace

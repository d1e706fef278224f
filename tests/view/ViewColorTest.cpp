// The view converts what it shows, not the picture: display copies (scaled,
// copied at 100 % and enlarged) go from the picture's colour description to
// the display's colour space; the decode-ahead layout gives the same copy;
// a new display space lays the picture out again; no display space shows
// stored values. Real profiles of colord-data; skipped when absent.

#include "imaging/ColorTransform.h"
#include "view/ImageScrollBox.h"
#include "tests/view/ViewTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

std::vector<uint8_t> ReadProfile(const std::string& Name) {
  std::ifstream F("/usr/share/color/icc/colord/" + Name, std::ios::binary);
  return {std::istreambuf_iterator<char>(F), {}};
}

#define REQUIRE_PROFILE(Var, Name)                                                                 \
  const std::vector<uint8_t> Var = ReadProfile(Name);                                              \
  if (Var.empty()) GTEST_SKIP() << "colord-data's " << Name << " is not installed"

// A W x H picture of one colour with an ICC description.
std::unique_ptr<TDibGraphic> Solid(int W, int H, uint32_t Colour, const std::vector<uint8_t>& Icc) {
  auto G = std::make_unique<TDibGraphic>();
  G->NewImage(W, H, ifTrueColor, nullptr, 96, 96);
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X)
      G->SetPixelColor(X, Y, Colour);
  if (!Icc.empty()) {
    auto D = std::make_shared<TColorDescription>();
    D->Icc = Icc;
    G->SetColorDescription(D);
  }
  return G;
}

// What the conversion makes of one colour.
uint32_t Converted(uint32_t Colour, const std::vector<uint8_t>& Icc, const TColorSpace& To) {
  auto G = Solid(1, 1, Colour, Icc);
  ConvertColors(*G, G->ColorDescription(), To);
  return G->GetPixelColor(0, 0);
}

class ViewColorTest : public ViewFixture {};

} // namespace

TEST_F(ViewColorTest, DisplayCopiesAreConvertedAtEveryZoom) {
  REQUIRE_PROFILE(Swapped, "SwappedRedAndGreen.icc");
  SetViewSize(200, 150);
  const uint32_t Red = MakeRgb(255, 0, 0);
  struct TCase {
    const char* Name;
    int W, H;
    TZoomMode Mode;
    float Percent;
  } Cases[] = {{"scaled down", 800, 600, zmFullPage, 0},
               {"100 %", 100, 80, zmOriginalSize, 0},
               {"enlarged", 40, 30, zmPercent, 300.0f}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    if (C.Mode == zmPercent) {
      View->LoadFromGraphic(Solid(C.W, C.H, Red, Swapped));
      View->SetZoomPercent(C.Percent);
    } else {
      View->SetZoomMode(C.Mode);
      View->LoadFromGraphic(Solid(C.W, C.H, Red, Swapped));
    }
    TDibGraphic& Shown = View->DisplayGraphic();
    ASSERT_FALSE(Shown.Empty());
    const uint32_t Centre = Shown.GetPixelColor(Shown.Width() / 2, Shown.Height() / 2);
    EXPECT_EQ(Centre, Converted(Red, Swapped, *SRGBColorSpace()));
    EXPECT_LE(std::abs(int((Centre >> 16) & 0xFF) - 0), 2);
    EXPECT_LE(std::abs(int((Centre >> 8) & 0xFF) - 255), 2);
    EXPECT_EQ(View->Graphic().GetPixelColor(0, 0), Red); // the picture stays as decoded
    // Decode-ahead's layout for the view's plan is the same copy.
    auto Ahead = MakePlannedDisplayCopy(View->Graphic(), View->DisplayPlan());
    ASSERT_TRUE(Ahead);
    ASSERT_EQ(Ahead->Width(), Shown.Width());
    EXPECT_EQ(std::memcmp(Ahead->Bits(), Shown.Bits(),
                          size_t(Shown.BytesPerRow()) * size_t(Shown.Height())),
              0);
  }
}

// A display profile given to the view converts to it at once; none shows
// the stored values; a copy laid out ahead for another display is not used.
TEST_F(ViewColorTest, DisplaySpaceChangesLayTheShownPictureOut) {
  REQUIRE_PROFILE(Adobe, "AdobeRGB1998.icc");
  REQUIRE_PROFILE(Swapped, "SwappedRedAndGreen.icc");
  std::string Why;
  const TColorSpacePtr SwappedDisplay = ColorSpaceFromIcc(Swapped, Why);
  ASSERT_TRUE(SwappedDisplay) << Why;
  SetViewSize(200, 150);
  View->SetZoomMode(zmOriginalSize);
  const uint32_t Colour = MakeRgb(200, 60, 40);
  View->LoadFromGraphic(Solid(50, 40, Colour, Adobe));
  auto Shown = [&] { return View->DisplayGraphic().GetPixelColor(10, 10); };
  EXPECT_EQ(Shown(), Converted(Colour, Adobe, *SRGBColorSpace()));
  EXPECT_NE(Shown(), Colour);

  // Laid out ahead for the sRGB display, then the display changes.
  TLaidOutPicture Ahead;
  Ahead.Picture = Solid(50, 40, Colour, Adobe);
  Ahead.Plan = View->DisplayPlan();
  Ahead.Display = MakePlannedDisplayCopy(*Ahead.Picture, Ahead.Plan);

  View->SetDisplayColorSpace(SwappedDisplay);
  EXPECT_EQ(Shown(), Converted(Colour, Adobe, *SwappedDisplay));
  View->LoadFromGraphic(std::move(Ahead));
  EXPECT_EQ(Shown(), Converted(Colour, Adobe, *SwappedDisplay));

  View->SetDisplayColorSpace(nullptr);
  EXPECT_EQ(Shown(), Colour);
  EXPECT_FALSE(View->DisplayPlan().Color);
  auto Stored = MakePlannedDisplayCopy(View->Graphic(), View->DisplayPlan());
  ASSERT_TRUE(Stored);
  EXPECT_EQ(Stored->GetPixelColor(10, 10), Colour);
}

// A damaged profile: the picture is shown as stored, and the worker's layout
// and the view's own say so once between them.
TEST_F(ViewColorTest, DamagedProfileShowsStoredValuesWithOneWarning) {
  REQUIRE_PROFILE(Adobe, "AdobeRGB1998.icc");
  std::vector<uint8_t> Damaged(Adobe.begin(), Adobe.begin() + 200);
  SetViewSize(200, 150);
  View->SetZoomMode(zmFullPage);
  auto Picture = Solid(400, 300, MakeRgb(200, 60, 40), Damaged);
  testing::internal::CaptureStderr();
  auto Ahead = MakePlannedDisplayCopy(*Picture, View->DisplayPlan());
  View->LoadFromGraphic(std::move(Picture));
  View->SetZoomPercent(33.0f);
  const std::string Err = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(Ahead);
  EXPECT_EQ(Ahead->GetPixelColor(5, 5), MakeRgb(200, 60, 40));
  EXPECT_EQ(View->DisplayGraphic().GetPixelColor(5, 5), MakeRgb(200, 60, 40));
  EXPECT_EQ(std::count(Err.begin(), Err.end(), '\n'), 1) << Err;
}

// Loading pictures into the view: from files through the registered format
// classes, and what a failed load leaves behind.

#include "formats/Formats.h"
#include "imaging/GraphicRegistry.h"
#include "imaging/ColorTransform.h"
#include "view/ImageScrollBox.h"
#include "platform/Stream.h"
#include "tests/view/ViewTestSupport.h"

#include <QTimer>

#include <gmock/gmock.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace fs = std::filesystem;

namespace {

class ViewLoadTest : public ViewFixture {
protected:
  void SetUp() override {
    ViewFixture::SetUp();
    RegisterImageFormats();
    Dir = fs::temp_directory_path() / ("imbrel-view-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
  }
  void TearDown() override {
    std::error_code Ignored;
    fs::remove_all(Dir, Ignored);
    ViewFixture::TearDown();
  }
  std::string WriteFile(const std::string& Name, const std::string& Bytes) {
    const fs::path P = Dir / Name;
    std::ofstream(P, std::ios::binary) << Bytes;
    return P.string();
  }
  static std::string TestData(const std::string& Relative) {
    const char* Root = std::getenv("IMBREL_TESTDATA");
    if (!Root) return {};
    const fs::path P = fs::path(Root) / Relative;
    return fs::exists(P) ? P.string() : std::string();
  }

  // Shows a 400 x 300 picture at 150 %, scrolled to (30, 40).
  void ShowScrolledPicture() {
    Load(TTestImage{400, 300, ifTrueColor, 42});
    View->SetZoomPercent(150.0f);
    View->HorzScrollBar().SetPosition(30);
    View->VertScrollBar().SetPosition(40);
    Graphic = &View->Graphic();
  }
  void ExpectScrolledPictureKept() {
    EXPECT_EQ(&View->Graphic(), Graphic);
    EXPECT_EQ(View->Graphic().Width(), 400);
    EXPECT_EQ(View->ZoomMode(), zmPercent);
    EXPECT_EQ(View->ZoomPercent(), 150.0f);
    EXPECT_EQ(View->DisplayGraphic().Width(), 600);
    EXPECT_EQ(View->DisplayGraphic().GetPixelColor(0, 0), MakeRgb(0, 0, 42));
    EXPECT_EQ(View->HorzScrollBar().Position(), 30);
    EXPECT_EQ(View->VertScrollBar().Position(), 40);
    EXPECT_EQ(View->ImageControl().pos(), QPoint(-30, -40));
  }

  fs::path Dir;
  TDibGraphic* Graphic = nullptr;
};

TEST_F(ViewLoadTest, LoadsAFileWithoutTakingItsName) {
  const std::string File = WriteFile("a.tst", MakeTestPicture({TTestImage{70, 50}}));
  View->SetZoomMode(zmFullPage);
  View->LoadFromFile(File, 1);
  EXPECT_EQ(View->Graphic().Width(), 70);
  EXPECT_EQ(View->DisplayGraphic().Width(), 200);
  EXPECT_TRUE(View->FileName().empty());

  const std::string Other = WriteFile("b.tst", MakeTestPicture({TTestImage{20, 10}}));
  View->SetFileName(Other); // the property loads the file and keeps the name
  EXPECT_EQ(View->FileName(), Other);
  EXPECT_EQ(View->Graphic().Width(), 20);
}

TEST_F(ViewLoadTest, AFailedDecodeKeepsPictureZoomAndScroll) {
  ShowScrolledPicture();
  const std::string Bad = WriteFile("bad.tst", "NOPE and some more bytes");
  EXPECT_THAT([&] { View->LoadFromFile(Bad, 1); },
              ThrowsMessage<EImageError>("Not a test picture"));
  ExpectScrolledPictureKept();
}

TEST_F(ViewLoadTest, AMissingFileOrUnknownFormatKeepsThePicture) {
  ShowScrolledPicture();
  EXPECT_THROW(View->LoadFromFile((Dir / "missing.tst").string(), 1), EStreamError);
  ExpectScrolledPictureKept();
  const std::string Unknown = WriteFile("c.qqq", "not a picture at all");
  EXPECT_ANY_THROW(View->LoadFromFile(Unknown, 1));
  ExpectScrolledPictureKept();
  TMemoryStream Empty;
  EXPECT_ANY_THROW(View->LoadFromStream(Empty, "tst", 1));
  ExpectScrolledPictureKept();
}

TEST_F(ViewLoadTest, AnimationIsPausedForALoadAndRestored) {
  const std::string Frames =
      WriteFile("f.tst", MakeTestPicture({TTestImage{10, 10, ifTrueColor, 1, 1000},
                                          TTestImage{12, 12, ifTrueColor, 2, 1000}}));
  View->LoadFromFile(Frames, 0);
  View->SetAnimate(true);
  ASSERT_TRUE(View->Animate());
  const std::string Bad = WriteFile("bad.tst", "NOPE");
  EXPECT_ANY_THROW(View->LoadFromFile(Bad, 1));
  EXPECT_TRUE(View->Animate());
  EXPECT_TRUE(View->FrameTimer().isActive());
  View->LoadFromFile(Frames, 0);
  EXPECT_TRUE(View->Animate());
}

TEST_F(ViewLoadTest, TakesAPictureDecodedElsewhere) {
  ShowScrolledPicture();
  View->LoadFromGraphic(nullptr); // nothing to show: nothing changes
  ExpectScrolledPictureKept();
  auto Stream = TestPictureStream({TTestImage{30, 20}});
  std::unique_ptr<TDibGraphic> Ready = CreateGraphicFromStream(*Stream, "x.tst", 1);
  TDibGraphic* Raw = Ready.get();
  View->LoadFromGraphic(std::move(Ready));
  EXPECT_EQ(&View->Graphic(), Raw);
  EXPECT_EQ(View->DisplayGraphic().Width(), 45); // still at 150 %
  EXPECT_EQ(View->HorzScrollBar().Position(), 0);
}

// Whether two pictures hold the same pixels.
bool SamePixels(const TDibGraphic& A, const TDibGraphic& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height() || A.BytesPerRow() != B.BytesPerRow())
    return false;
  for (int Y = 0; Y < A.Height(); ++Y)
    if (std::memcmp(A.ScanLine(Y), B.ScanLine(Y), size_t(A.BytesPerRow())) != 0) return false;
  return true;
}

TEST_F(ViewLoadTest, ADisplayCopyAloneIsShownAndItsPictureFetchedWhenNeeded) {
  SetViewSize(200, 150);
  View->SetZoomMode(zmFullPage);
  auto Decode = [] {
    auto S = TestPictureStream({TTestImage{400, 300, ifTrueColor, 42}});
    return CreateGraphicFromStream(*S, "x.tst", 1);
  };
  const auto Whole = Decode();
  // What needs the picture itself: each gets it, then shows what the view's
  // own layout of the whole picture shows.
  struct TCase {
    const char* What;
    std::function<void()> Act;
  } Cases[] = {
      {"zoom past the fitted size", [&] { View->SetZoomPercent(150); }},
      {"100 %", [&] { View->SetZoomMode(zmOriginalSize); }},
      {"the view resized", [&] { SetViewSize(300, 120); }},
      {"the picture asked for (a copy, a transform, a drag)", [&] { View->Graphic(); }},
      // The copy was converted for the display before: it is made anew.
      {"the display's colour space changed", [&] { View->SetDisplayColorSpace(nullptr); }},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.What);
    View->SetDisplayColorSpace(SRGBColorSpace());
    SetViewSize(200, 150);
    View->SetZoomMode(zmFullPage);
    View->Clear();
    TLaidOutPicture Laid;
    Laid.Plan = View->DisplayPlan();
    Laid.Display = MakePlannedDisplayCopy(*Whole, Laid.Plan);
    Laid.Facts = TPictureFacts{400, 300, 1};
    const TDibGraphic* Copy = Laid.Display.get();
    int Fetches = 0;
    View->LoadFromGraphic(std::move(Laid), [&] {
      ++Fetches;
      return Decode();
    });
    // Shown at once, as it is, standing for the 400 x 300 picture.
    EXPECT_TRUE(View->PicturePending());
    EXPECT_EQ(&View->DisplayGraphic(), Copy);
    EXPECT_EQ(View->PictureWidth(), 400);
    EXPECT_EQ(View->PictureHeight(), 300);
    EXPECT_EQ(View->ZoomPercent(), 50.0f);
    EXPECT_EQ(Fetches, 0);

    C.Act();
    EXPECT_EQ(Fetches, 1);
    EXPECT_FALSE(View->PicturePending());
    EXPECT_EQ(View->Graphic().Width(), 400);
    auto Own = MakePlannedDisplayCopy(*Whole, View->DisplayPlan());
    if (Own) EXPECT_TRUE(SamePixels(View->DisplayGraphic(), *Own));
    EXPECT_EQ(View->DisplayGraphic().Width(), DisplayExtent(400, View->ZoomPercent()));
  }

  // Handed in before anything needs it: nothing is fetched or laid out again.
  View->Clear();
  TLaidOutPicture Laid;
  Laid.Plan = View->DisplayPlan();
  Laid.Display = MakePlannedDisplayCopy(*Whole, Laid.Plan);
  Laid.Facts = TPictureFacts{400, 300, 1};
  const TDibGraphic* Copy = Laid.Display.get();
  int Fetches = 0;
  View->LoadFromGraphic(std::move(Laid), [&] {
    ++Fetches;
    return Decode();
  });
  auto Handed = Decode();
  const TDibGraphic* Raw = Handed.get();
  View->CompletePicture(std::move(Handed));
  EXPECT_FALSE(View->PicturePending());
  EXPECT_EQ(&View->Graphic(), Raw);
  EXPECT_EQ(&View->DisplayGraphic(), Copy);
  View->SetZoomPercent(80);
  EXPECT_EQ(Fetches, 0);
  EXPECT_EQ(View->DisplayGraphic().Width(), 320);

  // A copy laid out for another plan (the view changed since): the picture
  // is fetched at once and laid out for the present one.
  View->SetZoomMode(zmFullPage);
  Laid = TLaidOutPicture{};
  Laid.Plan = TDisplayPlan{zmFullPage, 0, 100, 100};
  Laid.Display = MakePlannedDisplayCopy(*Whole, Laid.Plan);
  Laid.Facts = TPictureFacts{400, 300, 1};
  View->LoadFromGraphic(std::move(Laid), [&] {
    ++Fetches;
    return Decode();
  });
  EXPECT_EQ(Fetches, 1);
  EXPECT_FALSE(View->PicturePending());
  EXPECT_EQ(View->DisplayGraphic().Width(), 200);

  // A fetch that fails leaves the view empty and says why.
  Laid = TLaidOutPicture{};
  Laid.Plan = View->DisplayPlan();
  Laid.Display = MakePlannedDisplayCopy(*Whole, Laid.Plan);
  Laid.Facts = TPictureFacts{400, 300, 1};
  View->LoadFromGraphic(std::move(Laid), []() -> std::unique_ptr<TDibGraphic> {
    throw EInvalidGraphic("the file is gone");
  });
  EXPECT_THAT([&] { View->SetZoomPercent(150); },
              ThrowsMessage<EInvalidGraphic>(HasSubstr("the file is gone")));
  EXPECT_FALSE(View->PicturePending());
  EXPECT_TRUE(View->PictureEmpty());
  EXPECT_TRUE(View->DisplayGraphic().Empty());
}

TEST_F(ViewLoadTest, ShowsARealBmpFittedAndCentred) {
  const std::string File = TestData("bmp/bmpsuite-g_rgb24.bmp");
  if (File.empty()) GTEST_SKIP() << "test pictures not available";
  ASSERT_TRUE(GraphicClassForFile(File)) << "the fixture registers every format";
  View->SetCentered(true);
  View->SetZoomMode(zmFullPage);
  View->LoadFromFile(File, 1);
  EXPECT_EQ(View->Graphic().Width(), 127);
  EXPECT_EQ(View->Graphic().Height(), 64);
  // 200 / 127 is the smaller ratio.
  EXPECT_FLOAT_EQ(View->ZoomPercent(), FitPercent(200, 127));
  EXPECT_EQ(View->DisplayGraphic().Width(), 200);
  EXPECT_EQ(View->DisplayGraphic().Height(), 100);
  EXPECT_EQ(View->ImageControl().pos(), QPoint(0, 50));
}

TEST_F(ViewLoadTest, ShowsARealJpeg) {
  const std::string File = TestData("jpg/pil_hopper.jpg");
  if (File.empty()) GTEST_SKIP() << "test pictures not available";
  ASSERT_TRUE(GraphicClassForFile(File)) << "the fixture registers every format";
  View->SetZoomMode(zmFitToPage);
  View->LoadFromFile(File, 1);
  EXPECT_FALSE(View->Graphic().Empty());
  EXPECT_LE(View->ZoomPercent(), 100.0f);
  EXPECT_LE(View->DisplayGraphic().Width(), 200);
  EXPECT_LE(View->DisplayGraphic().Height(), 200);
  EXPECT_TRUE(View->ImageControl().isVisible());
}

} // namespace

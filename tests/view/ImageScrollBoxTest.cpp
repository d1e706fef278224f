#include "view/ImageScrollBox.h"

#include "platform/MemoryBudget.h"
#include "view/MouseHandlers.h"
#include "tests/view/ViewTestSupport.h"

#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QTimer>

#include <gmock/gmock.h>

#include <vector>

using ::testing::ElementsAre;

namespace {

class ImageScrollBoxTest : public ViewFixture {};

TEST_F(ImageScrollBoxTest, StartsEmptyWithTheDragHandler) {
  EnsureTestEnvironment();
  QWidget Parent;
  TImageScrollBox Box(&Parent);
  EXPECT_EQ(Box.width(), 100);
  EXPECT_EQ(Box.height(), 100);
  EXPECT_EQ(Box.ZoomMode(), zmOriginalSize);
  EXPECT_EQ(Box.ZoomPercent(), 100.0f);
  EXPECT_FALSE(Box.Centered());
  EXPECT_FALSE(Box.AntiAliased());
  EXPECT_FALSE(Box.Animate());
  EXPECT_EQ(Box.MouseMode(), mmDrag);
  EXPECT_NE(dynamic_cast<TDragMouseHandler*>(Box.MouseHandler()), nullptr);
  EXPECT_EQ(Box.ImageControl().CursorNumber(), crHandOpened);
  EXPECT_TRUE(Box.Graphic().Empty());
  EXPECT_TRUE(Box.DisplayGraphic().Empty());
  EXPECT_TRUE(Box.ImageControl().isHidden());
  EXPECT_TRUE(Box.HorzScrollBar().Tracking());
  EXPECT_TRUE(Box.VertScrollBar().Tracking());
  EXPECT_FALSE(Box.HorzScrollBar().IsScrollBarVisible());
  EXPECT_FALSE(Box.FrameTimer().isActive());
}

// Zoom figures on a 200 x 200 client area.
struct ZoomCase {
  const char* Name;
  int Width, Height;
  TZoomMode Mode;
  float Percent; // set through ZoomPercent when Mode is zmPercent
  float ExpectedPercent;
  int ExpectedWidth, ExpectedHeight;
};

void PrintTo(const ZoomCase& C, std::ostream* Out) {
  *Out << C.Name;
}

class ZoomTable : public ViewFixture, public ::testing::WithParamInterface<ZoomCase> {};

TEST_P(ZoomTable, LaysOutTheDisplayCopy) {
  const ZoomCase& C = GetParam();
  Load(TTestImage{C.Width, C.Height});
  if (C.Mode == zmPercent)
    View->SetZoomPercent(C.Percent);
  else
    View->SetZoomMode(C.Mode);
  EXPECT_EQ(View->ZoomMode(), C.Mode);
  EXPECT_FLOAT_EQ(View->ZoomPercent(), C.ExpectedPercent);
  EXPECT_EQ(View->DisplayGraphic().Width(), C.ExpectedWidth);
  EXPECT_EQ(View->DisplayGraphic().Height(), C.ExpectedHeight);
  EXPECT_EQ(View->ImageControl().width(), C.ExpectedWidth);
  EXPECT_EQ(View->ImageControl().height(), C.ExpectedHeight);
  EXPECT_TRUE(View->ImageControl().isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    View, ZoomTable,
    ::testing::Values(ZoomCase{"FullPageReduces", 400, 300, zmFullPage, 0, 50.0f, 200, 150},
                      ZoomCase{"FullPageEnlarges", 100, 50, zmFullPage, 0, 200.0f, 200, 100},
                      ZoomCase{"FitToPageStopsAt100", 100, 50, zmFitToPage, 0, 100.0f, 100, 50},
                      ZoomCase{"FitToPageReduces", 400, 300, zmFitToPage, 0, 50.0f, 200, 150},
                      ZoomCase{"FitWidth", 400, 100, zmFitWidth, 0, 50.0f, 200, 50},
                      ZoomCase{"FitHeight", 100, 400, zmFitHeight, 0, 50.0f, 50, 200},
                      ZoomCase{"OriginalSize", 300, 120, zmOriginalSize, 0, 100.0f, 300, 120},
                      ZoomCase{"ThirdOfAPercent", 100, 100, zmPercent, 33.3f, 33.3f, 33, 33},
                      ZoomCase{"HalfAPercentKeepsOnePixel", 100, 100, zmPercent, 0.5f, 0.5f, 1, 1},
                      ZoomCase{"Enlarged", 30, 20, zmPercent, 250.0f, 250.0f, 75, 50}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(ImageScrollBoxTest, ScaledCopyKeepsTheFormatAndShowsThePicture) {
  Load(TTestImage{40, 20, ifTrueColor, 7});
  View->SetZoomPercent(200.0f);
  const TDibGraphic& D = View->DisplayGraphic();
  ASSERT_EQ(D.Width(), 80);
  EXPECT_EQ(D.ImageFormat(), ifTrueColor);
  // Enlarged by two: display pixel (2x + 1, 2y + 1) comes from picture pixel (x, y).
  EXPECT_EQ(D.GetPixelColor(21, 11), MakeRgb(10, 5, 7));
  View->SetZoomMode(zmOriginalSize);
  EXPECT_EQ(View->DisplayGraphic().GetPixelColor(39, 19), MakeRgb(39, 19, 7));
}

TEST_F(ImageScrollBoxTest, ZoomPercentIgnoresTinyValuesAndEmptyPictures) {
  View->SetZoomPercent(50.0f); // nothing loaded yet
  EXPECT_EQ(View->ZoomPercent(), 100.0f);
  EXPECT_EQ(View->ZoomMode(), zmOriginalSize);

  Load(TTestImage{100, 100});
  View->SetZoomMode(zmFullPage);
  EXPECT_EQ(View->ZoomPercent(), 200.0f);
  View->SetZoomPercent(0.05f);
  EXPECT_EQ(View->ZoomPercent(), 200.0f);
  EXPECT_EQ(View->ZoomMode(), zmFullPage);
  View->SetZoomPercent(0.0f);
  View->SetZoomPercent(-20.0f);
  EXPECT_EQ(View->ZoomMode(), zmFullPage);

  View->SetZoomPercent(0.2f);
  EXPECT_EQ(View->ZoomMode(), zmPercent);
  EXPECT_EQ(View->ZoomPercent(), 0.2f);
  EXPECT_EQ(View->DisplayGraphic().Width(), 1);
}

TEST_F(ImageScrollBoxTest, ZoomPastTheMemoryBudgetOrPixelLimitKeepsTheZoomAndSaysWhy) {
  Load(TTestImage{400, 300, ifTrueColor, 3});
  ASSERT_TRUE(View->SetZoomPercent(150.0f));
  std::vector<std::string> Refusals;
  View->OnZoomRefused = [&](TImageScrollBox&, const std::string& Why) { Refusals.push_back(Why); };
  // Room for the display copy at 200 % (800 x 600 x 3 bytes), not at 1000 %.
  TMemoryBudget::SetLimit(TMemoryBudget::Used() + 2'000'000);
  const bool Huge = View->SetZoomPercent(1000.0f);
  const bool Double = View->SetZoomPercent(200.0f);
  TMemoryBudget::SetLimit(0);
  EXPECT_FALSE(Huge);
  EXPECT_TRUE(Double);
  EXPECT_EQ(View->ZoomPercent(), 200.0f);
  EXPECT_EQ(View->DisplayGraphic().Width(), 800);
  ASSERT_EQ(Refusals.size(), 1u);
  EXPECT_THAT(Refusals[0],
              ::testing::StartsWith("Zoom refused: the picture at this zoom needs 34 MB"));

  // Zooming out is never refused; a display above the pixel limit is.
  SetPixelLimit(1'000'000);
  EXPECT_TRUE(View->SetZoomPercent(50.0f));
  EXPECT_FALSE(View->SetZoomPercent(400.0f));
  SetPixelLimit(0);
  EXPECT_EQ(View->ZoomPercent(), 50.0f);
  ASSERT_EQ(Refusals.size(), 2u);
  EXPECT_EQ(Refusals[1],
            "Zoom refused: Picture too large: 1600 x 1200 pixels exceeds the limit of 1000000 "
            "pixels");
}

TEST_F(ImageScrollBoxTest, ZoomChangeFiresWhenTheRoundedOldValueDiffers) {
  std::vector<float> Reported;
  View->OnZoomChange = [&](TImageScrollBox& Sender, float Zoom) {
    EXPECT_EQ(&Sender, View);
    Reported.push_back(Zoom);
  };
  Load(TTestImage{400, 300}); // 100 % at its own size: no change
  EXPECT_TRUE(Reported.empty());
  View->SetZoomMode(zmFullPage); // 50
  View->SetZoomMode(zmFullPage); // still 50: silent
  View->SetCentered(true);
  EXPECT_THAT(Reported, ElementsAre(50.0f));

  // 300 x 300 in 200 x 200: 66.66..., which never equals its own rounding.
  Reported.clear();
  Load(TTestImage{300, 300});
  View->SetZoomMode(zmFullPage);
  View->SetCentered(false);
  ASSERT_EQ(Reported.size(), 3u);
  EXPECT_FLOAT_EQ(Reported[0], 66.666664f);
  EXPECT_EQ(Reported[1], Reported[0]);

  Reported.clear();
  View->SetZoomMode(zmOriginalSize);
  EXPECT_THAT(Reported, ElementsAre(100.0f));
}

TEST_F(ImageScrollBoxTest, ZoomChangeResetsTheHandlerBeforeTheLayout) {
  std::vector<std::string> Order;
  View->SetMouseMode(mmRubberband);
  View->OnRubberbandChange = [&](const TRect&) { Order.push_back("reset"); };
  View->OnZoomChange = [&](TImageScrollBox&, float) { Order.push_back("zoom"); };
  View->OnRedraw = [&](TDibGraphic& G) {
    EXPECT_EQ(&G, &View->Graphic());
    Order.push_back("redraw");
  };
  Load(TTestImage{400, 300});
  View->SetZoomMode(zmFullPage);
  View->SetZoomMode(zmFullPage);
  EXPECT_THAT(Order, ElementsAre("reset", "redraw", "zoom", "reset", "redraw", "redraw"));
}

TEST_F(ImageScrollBoxTest, CentresByTheOuterSize) {
  View->SetCentered(true);
  Load(TTestImage{100, 50});
  EXPECT_EQ(View->ImageControl().pos(), QPoint(50, 75));

  // Wider than the view: left at 0, and the vertical position still counts
  // the view's outer height although the horizontal bar took some of it.
  Load(TTestImage{300, 51});
  ASSERT_TRUE(View->HorzScrollBar().IsScrollBarVisible());
  EXPECT_EQ(View->ImageControl().pos(), QPoint(0, 74));

  SetViewSize(201, 200);
  Load(TTestImage{100, 300});
  EXPECT_EQ(View->ImageControl().pos(), QPoint(50, 0));

  View->SetCentered(false);
  EXPECT_EQ(View->ImageControl().pos(), QPoint(0, 0));
}

struct BarCase {
  const char* Name;
  int Width, Height; // picture size shown at 100 % in a 200 x 200 view
  bool Horz, Vert;
};

void PrintTo(const BarCase& C, std::ostream* Out) {
  *Out << C.Name;
}

class ScrollBarTable : public ViewFixture, public ::testing::WithParamInterface<BarCase> {};

TEST_P(ScrollBarTable, BarsShowExactlyWhenTheDisplayExceedsTheClientArea) {
  const BarCase& C = GetParam();
  const int T = BarExtent();
  // Sizes below 0 are relative to the view minus one bar.
  const int W = C.Width < 0 ? 200 - T - C.Width - 1 : C.Width;
  const int H = C.Height < 0 ? 200 - T - C.Height - 1 : C.Height;
  Load(TTestImage{W, H});
  EXPECT_EQ(View->HorzScrollBar().IsScrollBarVisible(), C.Horz);
  EXPECT_EQ(View->VertScrollBar().IsScrollBarVisible(), C.Vert);
  EXPECT_EQ(View->HorzScrollBar().Bar()->isVisible(), C.Horz);
  EXPECT_EQ(View->ClientWidth(), 200 - (C.Vert ? T : 0));
  EXPECT_EQ(View->ClientHeight(), 200 - (C.Horz ? T : 0));
  EXPECT_EQ(View->Viewport()->width(), View->ClientWidth());
  // Every part of the picture can be scrolled into view.
  EXPECT_EQ(View->HorzScrollBar().MaxPosition(), std::max(0, W - View->ClientWidth()));
  EXPECT_EQ(View->VertScrollBar().MaxPosition(), std::max(0, H - View->ClientHeight()));
}

INSTANTIATE_TEST_SUITE_P(
    View, ScrollBarTable,
    ::testing::Values(BarCase{"Fits", 200, 200, false, false},
                      BarCase{"OneTooWide", 201, 100, true, false},
                      BarCase{"OneTooHigh", 100, 201, false, true},
                      BarCase{"WideAndFullHeight", 201, 200, true, true},
                      // One pixel wider than the room the vertical bar leaves.
                      BarCase{"VerticalBarForcesHorizontal", -1 - 1, 201, true, true},
                      BarCase{"JustFitsBesideVerticalBar", -1, 201, false, true}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(ImageScrollBoxTest, EveryLayoutResetsAndClampsTheScrollPositions) {
  Load(TTestImage{400, 300});
  View->HorzScrollBar().SetPosition(1000);
  View->VertScrollBar().SetPosition(30);
  EXPECT_EQ(View->HorzScrollBar().Position(), 400 - View->ClientWidth());
  EXPECT_EQ(View->VertScrollBar().Position(), 30);
  EXPECT_EQ(View->ImageControl().pos(), QPoint(-(400 - View->ClientWidth()), -30));
  EXPECT_EQ(View->HorzScrollBar().Bar()->value(), View->HorzScrollBar().Position());

  View->SetZoomPercent(150.0f);
  EXPECT_EQ(View->HorzScrollBar().Position(), 0);
  EXPECT_EQ(View->VertScrollBar().Position(), 0);
  EXPECT_EQ(View->ImageControl().pos(), QPoint(0, 0));

  // Moving the bar itself scrolls the picture.
  View->VertScrollBar().Bar()->setValue(25);
  EXPECT_EQ(View->VertScrollBar().Position(), 25);
  EXPECT_EQ(View->ImageControl().y(), -25);
}

TEST_F(ImageScrollBoxTest, ResizingRefitsTheFittingModes) {
  Load(TTestImage{400, 400});
  View->SetZoomMode(zmFullPage);
  EXPECT_EQ(View->ZoomPercent(), 50.0f);
  SetViewSize(100, 300);
  EXPECT_EQ(View->ZoomPercent(), 25.0f);
  EXPECT_EQ(View->DisplayGraphic().Width(), 100);
}

TEST_F(ImageScrollBoxTest, LayoutWaitsForAParentAndVisibility) {
  EnsureTestEnvironment();
  TImageScrollBox Orphan;
  auto Stream = TestPictureStream({TTestImage{50, 40}});
  Orphan.LoadFromStream(*Stream, "x.tst", 1);
  EXPECT_FALSE(Orphan.Graphic().Empty());
  EXPECT_TRUE(Orphan.DisplayGraphic().Empty()); // not laid out

  View->hide();
  Load(TTestImage{60, 30});
  EXPECT_TRUE(View->DisplayGraphic().Empty());
  View->show();
  View->SetZoomMode(zmOriginalSize); // the next setter lays it out
  EXPECT_EQ(View->DisplayGraphic().Width(), 60);
}

TEST_F(ImageScrollBoxTest, BusyFlagStopsReentryFromSizeChanges) {
  int Redraws = 0;
  View->OnRedraw = [&](TDibGraphic&) { ++Redraws; };
  View->OnZoomChange = [&](TImageScrollBox&, float) { View->resize(150, 150); };
  Load(TTestImage{400, 400});
  View->SetZoomMode(zmFullPage);
  EXPECT_EQ(Redraws, 2); // one per call, none from the resize inside
  EXPECT_EQ(View->width(), 150);
  EXPECT_EQ(View->ZoomPercent(), 50.0f); // computed before the resize
}

TEST_F(ImageScrollBoxTest, ClearAndFileNameEmptyTheView) {
  Load(TTestImage{300, 300});
  ASSERT_TRUE(View->HorzScrollBar().IsScrollBarVisible());
  View->Clear();
  EXPECT_TRUE(View->Graphic().Empty());
  EXPECT_TRUE(View->DisplayGraphic().Empty());
  EXPECT_TRUE(View->ImageControl().isHidden());
  EXPECT_FALSE(View->HorzScrollBar().IsScrollBarVisible());
  EXPECT_FALSE(View->VertScrollBar().IsScrollBarVisible());
  EXPECT_TRUE(View->FileName().empty());

  Load(TTestImage{30, 30});
  View->SetFileName("");
  EXPECT_TRUE(View->Graphic().Empty());
  EXPECT_TRUE(View->ImageControl().isHidden());
}

TEST_F(ImageScrollBoxTest, BlackAndWhitePicturesUseTheAntiAliasedCopyWhenAsked) {
  int Redraws = 0;
  View->OnRedraw = [&](TDibGraphic&) { ++Redraws; };
  Load(TTestImage{64, 32, ifBlackWhite});
  EXPECT_EQ(View->AntiAliasedGraphic().ImageFormat(), ifGray16);
  EXPECT_EQ(View->DisplayGraphic().ImageFormat(), ifBlackWhite);

  View->SetAntiAliased(true); // even at 100 % the grey copy shows
  EXPECT_EQ(View->DisplayGraphic().ImageFormat(), ifGray16);
  EXPECT_EQ(View->DisplayGraphic().Width(), 64);
  // A checkerboard: every 2 x 2 block holds two set pixels, 7.5 of 15 -> 8.
  EXPECT_EQ(View->DisplayGraphic().GetPixelIndex(0, 0), 8);
  View->SetZoomPercent(50.0f);
  EXPECT_EQ(View->DisplayGraphic().ImageFormat(), ifGray16);
  EXPECT_EQ(View->DisplayGraphic().Width(), 32);
  EXPECT_EQ(Redraws, 3);

  Load(TTestImage{20, 20});
  EXPECT_TRUE(View->AntiAliasedGraphic().Empty());
  Redraws = 0;
  View->SetAntiAliased(false); // a colour picture is not laid out again
  View->SetAntiAliased(true);
  EXPECT_EQ(Redraws, 0);
}

TEST_F(ImageScrollBoxTest, MouseModeSwitchesHandlersAndCursors) {
  TMouseHandler* Drag = View->MouseHandler();
  View->SetMouseMode(mmDrag); // same mode: the same handler stays
  EXPECT_EQ(View->MouseHandler(), Drag);

  View->SetMouseMode(mmQuickSelect);
  EXPECT_NE(dynamic_cast<TQuickSelectMouseHandler*>(View->MouseHandler()), nullptr);
  EXPECT_EQ(View->ImageControl().CursorNumber(), crDefault);
  View->SetMouseMode(mmRubberband);
  EXPECT_NE(dynamic_cast<TRubberbandMouseHandler*>(View->MouseHandler()), nullptr);
  View->SetMouseMode(mmNone);
  EXPECT_EQ(View->MouseHandler(), nullptr);
  EXPECT_EQ(View->MouseMode(), mmNone);
  View->SetMouseMode(mmDrag);
  EXPECT_EQ(View->ImageControl().CursorNumber(), crHandOpened);
  EXPECT_EQ(View->ImageControl().cursor().shape(), Qt::BitmapCursor);
}

TEST_F(ImageScrollBoxTest, RecreatedWindowHasNoHandlerUntilTheModeChanges) {
  QWidget Other;
  View->setParent(&Other); // the view's window is destroyed and made again
  EXPECT_EQ(View->MouseHandler(), nullptr);
  EXPECT_EQ(View->MouseMode(), mmDrag);
  View->SetMouseMode(mmDrag);
  EXPECT_EQ(View->MouseHandler(), nullptr);
  View->SetMouseMode(mmQuickSelect);
  EXPECT_NE(View->MouseHandler(), nullptr);
  View->setParent(Window.get());
}

TEST_F(ImageScrollBoxTest, MouseEventsReachHandlerThenEventsInImageCoordinates) {
  View->SetCentered(true);
  Load(TTestImage{100, 100}); // at (50, 50)
  std::vector<std::string> Seen;
  View->OnImageMouseDown = [&](QObject* Sender, TMouseButton B, TShiftState S, int X, int Y) {
    EXPECT_EQ(Sender, &View->ImageControl());
    EXPECT_EQ(B, mbRight);
    EXPECT_TRUE(S & ssRight);
    EXPECT_TRUE(View->MouseHandler()->MouseIsDown()); // the handler ran first
    Seen.push_back("down " + std::to_string(X) + "," + std::to_string(Y));
  };
  View->OnImageMouseMove = [&](QObject*, TShiftState, int X, int Y) {
    Seen.push_back("move " + std::to_string(X) + "," + std::to_string(Y));
  };
  View->OnImageMouseUp = [&](QObject*, TMouseButton B, TShiftState, int X, int Y) {
    EXPECT_FALSE(View->MouseHandler()->MouseIsDown());
    Seen.push_back("up " + std::to_string(X) + "," + std::to_string(Y) +
                   (B == mbRight ? " right" : ""));
  };
  Press({60, 70}, Qt::RightButton);
  Move({65, 75}, Qt::RightButton);
  Release({65, 75}, Qt::RightButton);
  EXPECT_THAT(Seen, ElementsAre("down 10,20", "move 15,25", "up 15,25 right"));
}

TEST_F(ImageScrollBoxTest, PaintsTheDisplayCopyOneToOne) {
  View->SetCentered(true);
  const TTestImage Picture{80, 60, ifTrueColor, 99};
  Load(Picture);
  const QImage Shot = View->grab().toImage().convertToFormat(QImage::Format_RGB32);
  // Centred at (60, 70).
  for (QPoint P : {QPoint(0, 0), QPoint(79, 59), QPoint(13, 41)})
    EXPECT_EQ(Shot.pixel(60 + P.x(), 70 + P.y()) & 0xFFFFFF, TestPixel(Picture, P.x(), P.y()))
        << P.x() << "," << P.y();
}

TEST_F(ImageScrollBoxTest, FramesShowAndAnimate) {
  Load({TTestImage{30, 20, ifTrueColor, 1, 15}, TTestImage{50, 10, ifTrueColor, 2, 15},
        TTestImage{10, 40, ifTrueColor, 3, 15}},
       0);
  ASSERT_EQ(View->FrameCount(), 3);
  EXPECT_EQ(View->CurrentFrame(), 1);
  View->ShowFrame(2);
  EXPECT_EQ(View->CurrentFrame(), 2);
  EXPECT_EQ(View->DisplayGraphic().Width(), 50);
  EXPECT_EQ(View->DisplayGraphic().GetPixelColor(0, 0), MakeRgb(0, 0, 2));

  View->SetAnimate(true);
  EXPECT_TRUE(View->Animate());
  EXPECT_TRUE(View->FrameTimer().isActive());
  EXPECT_EQ(View->FrameTimer().interval(), 15);
  // Room for the largest frame in each direction.
  EXPECT_EQ(View->ImageControl().width(), 50);
  EXPECT_EQ(View->ImageControl().height(), 40);
  // The frames cycle: 2 -> 3 -> 1.
  EXPECT_TRUE(WaitFor([&] { return View->CurrentFrame() == 1; }, 5000));
  View->SetAnimate(false);
  EXPECT_FALSE(View->FrameTimer().isActive());

  // A single picture cannot animate.
  Load(TTestImage{10, 10});
  View->SetAnimate(true);
  EXPECT_FALSE(View->Animate());
  EXPECT_FALSE(View->FrameTimer().isActive());
}

} // namespace

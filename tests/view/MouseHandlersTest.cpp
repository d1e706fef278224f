#include "view/MouseHandlers.h"

#include "tests/view/ViewTestSupport.h"

#include <QGuiApplication>
#include <QImage>

#include <gmock/gmock.h>

#include <set>
#include <utility>
#include <vector>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

// ---------------------------------------------------------------------------
// Drag

class DragHandlerTest : public ViewFixture {};

TEST_F(DragHandlerTest, WithoutScrollBarsPressingKeepsTheOpenHandAndMovesNothing) {
  Load(TTestImage{100, 100});
  Press({50, 50});
  EXPECT_EQ(ScreenCursor(), crDefault);
  EXPECT_EQ(View->ImageControl().CursorNumber(), crHandOpened);
  Move({10, 10});
  EXPECT_EQ(View->HorzScrollBar().Position(), 0);
  EXPECT_EQ(View->ImageControl().pos(), QPoint(0, 0));
  Release({10, 10});
}

TEST_F(DragHandlerTest, DraggingScrollsByTheDistanceWithinTheRange) {
  Load(TTestImage{400, 400});
  Press({100, 100});
  EXPECT_EQ(ScreenCursor(), crHandClosed);
  Move({70, 100}); // 30 pixels to the left
  EXPECT_EQ(View->HorzScrollBar().Position(), 30);
  EXPECT_EQ(View->VertScrollBar().Position(), 0);
  EXPECT_EQ(View->ImageControl().pos(), QPoint(-30, 0));
  // The picture moved with the scroll: the same point stays under the mouse.
  Move({70, 100});
  EXPECT_EQ(View->HorzScrollBar().Position(), 30);
  Move({70, 60});
  EXPECT_EQ(View->VertScrollBar().Position(), 40);
  // Far beyond the end: limited to the range.
  Move({-1000, -1000});
  EXPECT_EQ(View->HorzScrollBar().Position(), 400 - View->ClientWidth());
  EXPECT_EQ(View->VertScrollBar().Position(), 400 - View->ClientHeight());
  Release({-1000, -1000});
  EXPECT_EQ(ScreenCursor(), crDefault);
  // Moves without the button do nothing.
  Move({150, 150}, Qt::NoButton);
  EXPECT_EQ(View->HorzScrollBar().Position(), 400 - View->ClientWidth());
}

TEST_F(DragHandlerTest, ReleasePutsBackTheScreenCursorItFound) {
  Load(TTestImage{400, 400});
  SetScreenCursor(crHourGlass);
  Press({10, 10});
  EXPECT_EQ(ScreenCursor(), crHandClosed);
  Release({10, 10});
  EXPECT_EQ(ScreenCursor(), crHourGlass);

  // Someone else changed the screen cursor during the drag: it stays.
  Press({10, 10});
  SetScreenCursor(crCross);
  Release({10, 10});
  EXPECT_EQ(ScreenCursor(), crCross);
  SetScreenCursor(crDefault);
}

// ---------------------------------------------------------------------------
// Quick select

class QuickSelectTest : public ViewFixture {
protected:
  void SetUp() override {
    ViewFixture::SetUp();
    View->SetMouseMode(mmQuickSelect);
    View->OnQuickSelect = [this](TImageScrollBox& Sender, TDibGraphic& Graphic, const TRect& R) {
      EXPECT_EQ(&Sender, View);
      Rects.push_back(R);
      Sizes.push_back({Graphic.Width(), Graphic.Height()});
      Corner = Graphic.GetPixelColor(0, 0);
    };
  }
  std::vector<TRect> Rects;
  std::vector<std::pair<int, int>> Sizes;
  uint32_t Corner = 0;
};

TEST_F(QuickSelectTest, ReportsTheCropOfTheDisplayedPicture) {
  const TTestImage Picture{150, 120, ifTrueColor, 5};
  Load(Picture);
  Press({10, 20});
  Move({50, 40});
  EXPECT_THAT(View->Overlay().XorOutlines(), ElementsAre(TViewOverlay::TOutline{10, 20, 50, 40}));
  Move({60, 70});
  EXPECT_THAT(View->Overlay().XorOutlines(), ElementsAre(TViewOverlay::TOutline{10, 20, 60, 70}));
  Release({60, 70});
  EXPECT_TRUE(View->Overlay().XorOutlines().empty());
  EXPECT_THAT(Rects, ElementsAre(TRect{10, 20, 60, 70}));
  EXPECT_THAT(Sizes, ElementsAre(std::make_pair(50, 50)));
  EXPECT_EQ(Corner, TestPixel(Picture, 10, 20));
  EXPECT_FALSE(View->MouseHandler()->MouseIsDown());
}

TEST_F(QuickSelectTest, DraggingUpAndLeftIsOrdered) {
  Load(TTestImage{150, 120});
  Press({80, 90});
  Move({30, 40});
  Release({30, 40});
  EXPECT_THAT(Rects, ElementsAre(TRect{30, 40, 80, 90}));
}

TEST_F(QuickSelectTest, BeyondThePictureTheRectangleStopsAtItsEdge) {
  Load(TTestImage{150, 120});
  Press({100, 100});
  Move({190, 180}); // the view is larger than the picture
  // The outline stays on the last pixel.
  EXPECT_THAT(View->Overlay().XorOutlines(),
              ElementsAre(TViewOverlay::TOutline{100, 100, 149, 119}));
  Release({190, 180});
  EXPECT_THAT(Rects, ElementsAre(TRect{100, 100, 150, 120}));
  EXPECT_THAT(Sizes, ElementsAre(std::make_pair(50, 20)));
}

TEST_F(QuickSelectTest, AnEmptyDragReportsNothing) {
  Load(TTestImage{150, 120});
  Press({40, 40});
  Release({40, 40});
  Press({40, 40});
  Move({70, 40}); // a line, no area
  Release({70, 40});
  EXPECT_TRUE(Rects.empty());
  EXPECT_TRUE(View->Overlay().XorOutlines().empty());
}

TEST_F(QuickSelectTest, MovesWithoutTheLeftButtonDrawNothing) {
  Load(TTestImage{150, 120});
  Press({40, 40}, Qt::RightButton);
  Move({70, 70}, Qt::RightButton);
  EXPECT_TRUE(View->Overlay().XorOutlines().empty());
  Release({70, 70}, Qt::RightButton);
  EXPECT_THAT(Rects, ElementsAre(TRect{40, 40, 70, 70})); // the release still selects
}

TEST_F(QuickSelectTest, CentredPictureCountsFromItsCorner) {
  View->SetCentered(true);
  Load(TTestImage{100, 100}); // at (50, 50)
  Press({60, 70});
  Move({20, 20}); // outside: clamped to the picture's top left
  EXPECT_THAT(View->Overlay().XorOutlines(), ElementsAre(TViewOverlay::TOutline{60, 70, 50, 50}));
  Release({20, 20});
  EXPECT_THAT(Rects, ElementsAre(TRect{0, 0, 10, 20}));
}

TEST_F(QuickSelectTest, AFailingReceiverStillEndsTheSelection) {
  Load(TTestImage{100, 100});
  View->OnQuickSelect = [](TImageScrollBox&, TDibGraphic&, const TRect&) {
    throw EImageError("receiver failed");
  };
  TMouseHandler& Handler = *View->MouseHandler();
  Handler.MouseDown(mbLeft, ssLeft, 10, 10);
  Handler.MouseMove(ssLeft, 30, 30);
  EXPECT_THAT([&] { Handler.MouseUp(mbLeft, 0, 30, 30); },
              ThrowsMessage<EImageError>(HasSubstr("receiver failed")));
  EXPECT_FALSE(Handler.MouseIsDown());
  EXPECT_TRUE(View->Overlay().XorOutlines().empty());
}

TEST_F(QuickSelectTest, TheOutlineInvertsDottedPixelsAndGoesAwayCleanly) {
  Load(TTestImage{150, 120, ifTrueColor, 0});
  const QImage Before = View->grab().toImage().convertToFormat(QImage::Format_RGB32);
  Press({10, 10});
  Move({40, 30});
  const QImage During = View->grab().toImage().convertToFormat(QImage::Format_RGB32);
  // Dots of three pixels stay, the three-pixel gaps are inverted.
  for (int X = 10; X < 16; ++X) {
    const QRgb B = Before.pixel(X, 10) & 0xFFFFFF, D = During.pixel(X, 10) & 0xFFFFFF;
    EXPECT_EQ(D, X < 13 ? B : (B ^ 0xFFFFFF)) << X;
  }
  Release({40, 30});
  EXPECT_EQ(View->grab().toImage().convertToFormat(QImage::Format_RGB32), Before);
}

TEST(OverlayOutline, AClosedOutlineTouchesEachPixelOnce) {
  const auto Pixels = TViewOverlay::OutlinePixels({2, 3, 6, 5}, TViewOverlay::psSolid);
  std::set<std::pair<int, int>> Unique;
  for (const auto& P : Pixels)
    Unique.insert({P.X, P.Y});
  EXPECT_EQ(Pixels.size(), 12u); // 2 x (4 + 2)
  EXPECT_EQ(Unique.size(), Pixels.size());
  EXPECT_TRUE(Unique.count({6, 5}));
  EXPECT_TRUE(Unique.count({2, 5}));
  EXPECT_TRUE(TViewOverlay::OutlinePixels({4, 4, 4, 4}, TViewOverlay::psDot).empty());
}

// ---------------------------------------------------------------------------
// Rubber band

TEST(GrabHandles, CursorsAndMovementsByHandle) {
  const TCursor Cursors[] = {crSizeNWSE, crSizeNS, crSizeNESW, crSizeWE,
                             crSizeNWSE, crSizeNS, crSizeNESW, crSizeWE};
  const TBandMovement Moves[] = {bmFree, bmVertical, bmFree, bmHorizontal,
                                 bmFree, bmVertical, bmFree, bmHorizontal};
  for (int H = 0; H < 8; ++H) {
    EXPECT_EQ(GrabHandleToCursor(H), Cursors[H]) << H;
    EXPECT_EQ(GrabHandleToBandMovement(H), Moves[H]) << H;
  }
  EXPECT_THAT([] { GrabHandleToCursor(8); },
              ThrowsMessage<Exception>("Invalid GrabHandle, GrabHandleToCursor"));
  EXPECT_THAT([] { GrabHandleToBandMovement(8); },
              ThrowsMessage<Exception>("Invalid GrabHandle, GrabHandleToBandMovement"));
}

class RubberbandTest : public ViewFixture {
protected:
  void SetUp() override {
    ViewFixture::SetUp();
    View->SetMouseMode(mmRubberband);
    Band = dynamic_cast<TRubberbandMouseHandler*>(View->MouseHandler());
    ASSERT_NE(Band, nullptr);
    View->OnRubberbandChange = [this](const TRect& R) { Reports.push_back(R); };
    Load(TTestImage{180, 180});
    Reports.clear();
  }
  // Draws the band (50, 50) - (80, 90) and releases.
  void MakeBand() {
    Press({50, 50});
    Move({80, 90});
    Release({80, 90});
    Reports.clear();
  }
  TRubberbandMouseHandler* Band = nullptr;
  std::vector<TRect> Reports;
};

TEST_F(RubberbandTest, Defaults) {
  EXPECT_EQ(Band->BandColor(), 0x800000u);
  EXPECT_EQ(Band->BandBackground(), 0xFFFFFFu);
  EXPECT_EQ(Band->BandStyle(), 2);
  EXPECT_FALSE(Band->BandVisible());
  EXPECT_EQ(View->ImageControl().CursorNumber(), crDefault);
  EXPECT_THAT([&] { Band->SetBandStyle(5); },
              ThrowsMessage<EImageError>("Invalid Rubberband style"));
  Band->SetBandStyle(4);
  EXPECT_EQ(Band->BandStyle(), 4);
}

TEST_F(RubberbandTest, ANewBandGrowsOnlyRightAndDown) {
  Press({50, 50});
  Move({80, 90});
  EXPECT_TRUE(Band->BandVisible());
  Move({30, 20}); // left of and above the press point
  EXPECT_EQ(Band->Band(), (TRect{50, 50, 51, 51}));
  Move({60, 40});
  EXPECT_EQ(Band->Band(), (TRect{50, 50, 60, 51}));
  Release({60, 40});
  EXPECT_THAT(Reports,
              ElementsAre(TRect{50, 50, 80, 90}, TRect{50, 50, 51, 51}, TRect{50, 50, 60, 51}));
}

TEST_F(RubberbandTest, TheBandStaysOnThePicture) {
  Press({150, 150});
  Move({199, 199}); // beyond the 180 x 180 picture
  EXPECT_EQ(Band->Band(), (TRect{150, 150, 179, 179}));
}

TEST_F(RubberbandTest, HoverShowsTheHandleCursors) {
  MakeBand();
  struct {
    QPoint P;
    TCursor Cursor;
  } Cases[] = {
      {{83, 93}, crSizeNWSE}, {{47, 47}, crSizeNWSE}, {{80, 50}, crSizeNESW},
      {{50, 90}, crSizeNESW}, {{65, 52}, crSizeNS},   {{65, 88}, crSizeNS},
      {{48, 70}, crSizeWE},   {{81, 70}, crSizeWE},   {{65, 70}, crDefault},
      {{84, 94}, crDefault},  {{46, 70}, crDefault},
  };
  for (const auto& C : Cases) {
    Move(C.P, Qt::NoButton);
    EXPECT_EQ(View->ImageControl().CursorNumber(), C.Cursor) << C.P.x() << "," << C.P.y();
  }
}

TEST_F(RubberbandTest, PressingOutsideRemovesTheBandBeforeANewOne) {
  MakeBand();
  Press({120, 120});
  EXPECT_FALSE(Band->BandVisible());
  EXPECT_THAT(Reports, ElementsAre(TRect{0, 0, 0, 0}));
  Move({130, 125});
  Release({130, 125});
  EXPECT_THAT(Reports, ElementsAre(TRect{0, 0, 0, 0}, TRect{120, 120, 130, 125}));
}

TEST_F(RubberbandTest, GrabbingAnEdgeMovesOnlyThatSide) {
  MakeBand();
  Press({65, 90}); // bottom edge
  EXPECT_EQ(Band->Movement(), bmVertical);
  Move({10, 120});
  EXPECT_EQ(Band->Band(), (TRect{50, 50, 80, 120}));
  Release({10, 120});
  Press({80, 70}); // right edge
  EXPECT_EQ(Band->Movement(), bmHorizontal);
  Move({100, 5});
  Release({100, 5});
  EXPECT_THAT(Reports, ElementsAre(TRect{50, 50, 80, 120}, TRect{50, 50, 100, 120}));
}

TEST_F(RubberbandTest, ALeftOrTopSideStopsBeforeTheFixedSide) {
  MakeBand();
  Press({50, 50}); // top-left corner: the far corner stays
  EXPECT_EQ(Band->GrabHandle(), 0);
  Move({40, 45});
  EXPECT_THAT(Reports.back(), (TRect{40, 45, 80, 90}));
  Move({120, 150}); // past the right and bottom sides
  EXPECT_THAT(Reports.back(), (TRect{79, 89, 80, 90}));
  Release({120, 150});
  EXPECT_EQ(Band->Band(), (TRect{79, 89, 80, 90})); // ordered again

  // Top edge, moved below the bottom.
  MakeBand();
  Press({65, 50});
  Move({65, 170});
  EXPECT_THAT(Reports.back(), (TRect{50, 89, 80, 90}));
  Release({65, 170});
}

TEST_F(RubberbandTest, ACentredViewIgnoresMouseDown) {
  View->SetCentered(true);
  Press({60, 60});
  EXPECT_FALSE(Band->MouseIsDown());
  Move({90, 90});
  EXPECT_FALSE(Band->BandVisible());
  Release({90, 90});
}

TEST_F(RubberbandTest, AClickWithoutAMoveLeavesNoBand) {
  Press({60, 60});
  Release({60, 60});
  EXPECT_FALSE(Band->BandVisible());
  EXPECT_TRUE(Reports.empty());
}

TEST_F(RubberbandTest, ALayoutChangeErasesTheBandAndReportsAnEmptyRectangle) {
  MakeBand();
  View->SetZoomPercent(50.0f);
  EXPECT_FALSE(Band->BandVisible());
  EXPECT_FALSE(View->Overlay().HasBand());
  ASSERT_FALSE(Reports.empty());
  EXPECT_EQ(Reports.back(), (TRect{0, 0, 0, 0}));
}

TEST_F(RubberbandTest, TheBandIsDrawnInItsColoursAndFollowsTheScroll) {
  Load(TTestImage{400, 400, ifTrueColor, 0});
  Press({20, 20});
  Move({60, 40});
  Release({60, 40});
  QImage Shot = View->grab().toImage().convertToFormat(QImage::Format_RGB32);
  // Dotted: three navy pixels, then three in the background colour.
  EXPECT_EQ(Shot.pixel(20, 20) & 0xFFFFFF, 0x000080u);
  EXPECT_EQ(Shot.pixel(22, 20) & 0xFFFFFF, 0x000080u);
  EXPECT_EQ(Shot.pixel(23, 20) & 0xFFFFFF, 0xFFFFFFu);

  Band->SetBandStyle(0);
  Band->SetBandColor(0x0000FF); // red in the platform's order
  View->HorzScrollBar().SetPosition(10);
  Shot = View->grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(Shot.pixel(13, 20) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(Shot.pixel(23, 20) & 0xFFFFFF, 0xFF0000u);
  // The band's corners are in picture coordinates: hit testing adds the scroll.
  Move({50, 40}, Qt::NoButton);
  EXPECT_EQ(View->ImageControl().CursorNumber(), crSizeNWSE);
}

} // namespace

// The main window's zoom and display: zoom steps, checkable menu items, the
// view's mouse mode and scroll positions, and key releases without a press.

#include "tests/app/MainFormFixture.h"

#include <QAction>
#include <QTimer>
#include <QWheelEvent>

// ---------------------------------------------------------------------------
// Zoom and display

TEST_F(ThreePictures, ZoomStepsComeFromTheViewsPercent) {
  Start();
  Form->mnuZoom100Click();
  EXPECT_FALSE(Form->mnuAutosize->isChecked());
  EXPECT_EQ(Form->imgMain->ZoomMode(), zmOriginalSize);
  EXPECT_EQ(Panel(0), "Zoom: 100");
  const float Expected[] = {120.0f, 144.0f, 172.8f, 207.36f, 248.832f};
  for (float E : Expected) {
    KeyUp(Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_FLOAT_EQ(Form->imgMain->ZoomPercent(), E);
    EXPECT_NEAR(Form->FZoom, E, 1e-3);
  }
  EXPECT_EQ(Form->imgMain->ZoomMode(), zmPercent);
  EXPECT_EQ(Panel(0), "Zoom: 248");
  Form->mnuMainPopupPopup();
  EXPECT_EQ(Form->mnuZoomMain->text(), "Zoom  (248)");

  // Out then in from 100 gives 96, not 100.
  Form->mnuZoom100Click();
  KeyUp(Qt::Key_Minus, Qt::KeypadModifier);
  EXPECT_FLOAT_EQ(Form->imgMain->ZoomPercent(), 80.0f);
  Form->mnuZoomInClick();
  EXPECT_FLOAT_EQ(Form->imgMain->ZoomPercent(), 96.0f);
  EXPECT_EQ(Panel(0), "Zoom: 96");
  // The main keyboard's + is not a zoom key.
  KeyUp(Qt::Key_Plus);
  EXPECT_FLOAT_EQ(Form->imgMain->ZoomPercent(), 96.0f);

  // Autosize back on fits the picture again.
  Form->mnuAutosizeClick();
  EXPECT_TRUE(Form->mnuAutosize->isChecked());
  EXPECT_EQ(Form->imgMain->ZoomMode(), zmFullPage);
  EXPECT_TRUE(Panel(0).startsWith("Autosize ("));
  Form->mnuMainPopupPopup();
  EXPECT_EQ(Form->mnuZoomMain->text(), "Zoom");
}

// The menu items as the toolkit runs them: a checkable item's check mark is
// flipped before its handler, which must still act on the state before.
TEST_F(ThreePictures, CheckableMenuItemsToggleOncePerChoice) {
  Start();
  Form->mnuZoom100->trigger();
  ASSERT_EQ(Panel(0), "Zoom: 100");
  Form->mnuAutosize->trigger();
  EXPECT_TRUE(Form->mnuAutosize->isChecked());
  EXPECT_EQ(Form->imgMain->ZoomMode(), zmFullPage);
  const QString Fitted = QString::number(static_cast<int>(Form->imgMain->ZoomPercent()));
  EXPECT_EQ(Panel(0), "Autosize (" + Fitted + ")");
  Form->mnuAutosize->trigger(); // off while fitted: stays fitted, says Zoom
  EXPECT_FALSE(Form->mnuAutosize->isChecked());
  EXPECT_EQ(Form->imgMain->ZoomMode(), zmFullPage);
  EXPECT_EQ(Panel(0), "Zoom: " + Fitted);

  Form->mnuSlideShow->trigger();
  EXPECT_TRUE(Form->FSlideShow);
  EXPECT_TRUE(Form->mnuSlideShow->isChecked());
  Form->mnuSlideShow->trigger();
  EXPECT_FALSE(Form->FSlideShow);
  EXPECT_FALSE(Form->mnuSlideShow->isChecked());
  Form->mnuFullScreen->trigger();
  EXPECT_FALSE(Form->FFullScreen);
  EXPECT_FALSE(Form->mnuFullScreen->isChecked());
}

// A key whose press went to another window (a menu or dialog it closed) does
// nothing when its release reaches the main window.
TEST_F(ThreePictures, KeyReleaseWithoutItsPressDoesNothing) {
  Start();
  Form->SetSlideShow(true);
  QWidget Other;
  Other.show();
  for (Qt::Key K : {Qt::Key_Escape, Qt::Key_PageDown, Qt::Key_Plus, Qt::Key_Up}) {
    const Qt::KeyboardModifiers Mods = K == Qt::Key_Plus ? Qt::KeypadModifier : Qt::NoModifier;
    QTest::keyPress(&Other, K, Mods);
    QTest::keyRelease(Form->imgMain, K, Mods);
  }
  EXPECT_TRUE(Form->isVisible());
  EXPECT_EQ(CurrentName(), "a.png");
  EXPECT_TRUE(Form->mnuAutosize->isChecked());
  EXPECT_EQ(Form->tmMainTimer->interval(), 4000);
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  Form->imgMain->setFocus();
  KeyUp(Qt::Key_PageDown); // press and release in the window
  EXPECT_EQ(CurrentName(), "b.png");
}

TEST_F(MainFormTest, ZoomWithoutPictureChangesOnlyTheShellsPercent) {
  Start();
  Form->mnuZoomInClick();
  EXPECT_DOUBLE_EQ(Form->FZoom, 120);
  EXPECT_FLOAT_EQ(Form->imgMain->ZoomPercent(), 100.0f);
  EXPECT_EQ(Panel(0), "Zoom: 100"); // Autosize is off; the view's percent is unchanged
}

TEST_F(MainFormTest, MouseModeRuleAtExactlyThePaneSize) {
  const QSize Screen = QGuiApplication::primaryScreen()->geometry().size();
  WritePng(Tree.Path("a-exact.png"), Screen.width(), Screen.height() / 2);
  WritePng(Tree.Path("b-smaller.png"), Screen.width() - 1, Screen.height() - 1);
  Start();
  Form->mnuZoom100Click();
  EXPECT_EQ(Form->imgMain->MouseMode(), mmDrag); // as wide as the area: counts as larger
  Form->NextPicture();
  EXPECT_EQ(CurrentName(), "b-smaller.png");
  EXPECT_EQ(Form->imgMain->MouseMode(), mmQuickSelect);
  Form->mnuZoomInClick();
  EXPECT_EQ(Form->imgMain->MouseMode(), mmDrag);
  Form->mnuAutosizeClick();
  EXPECT_EQ(Form->imgMain->MouseMode(), mmQuickSelect);
  // Unchecking Autosize leaves the picture fitted and says Zoom.
  const float Fitted = Form->imgMain->ZoomPercent();
  Form->mnuAutosizeClick();
  EXPECT_EQ(Form->imgMain->ZoomMode(), zmFullPage);
  EXPECT_EQ(Panel(0), "Zoom: " + QString::number(static_cast<int>(Fitted)));
}

TEST_F(ThreePictures, ScrollPositionsKeptAcrossPictures) {
  WritePng(Tree.Path("d.png"), 1600, 1600);
  WritePng(Tree.Path("e.png"), 1600, 1600, qRgb(10, 20, 30));
  Start();
  Form->mtbPictures->Last(); // e.png
  Form->PreviousPicture();   // d.png
  Form->mnuZoom100Click();
  Form->imgMain->HorzScrollBar().SetPosition(700);
  Form->imgMain->VertScrollBar().SetPosition(500);
  Form->NextPicture();
  EXPECT_EQ(CurrentName(), "e.png");
  EXPECT_EQ(Form->imgMain->HorzScrollBar().Position(), 700);
  EXPECT_EQ(Form->imgMain->VertScrollBar().Position(), 500);
  Form->ZoomBy(20); // the positions scale with the zoom
  EXPECT_EQ(Form->imgMain->HorzScrollBar().Position(), 840);
  EXPECT_EQ(Form->imgMain->VertScrollBar().Position(), 600);
}

namespace {

// A wheel report over a client point of the view, as the window system sends it.
void Wheel(TImageScrollBox& View, QPoint At, QPoint Angle, Qt::KeyboardModifiers Mods = {},
           QPoint Pixels = {}) {
  static ulong Time = 100000;
  QWheelEvent Event(QPointF(At), QPointF(View.mapToGlobal(At)), Pixels, Angle, Qt::NoButton, Mods,
                    Qt::NoScrollPhase, false);
  Event.setTimestamp(Time += 20);
  QApplication::sendEvent(&View, &Event);
}

} // namespace

// The wheel over the picture: Ctrl+wheel zooms by the steps of the + and -
// keys keeping the point under the pointer in place; the wheel scrolls a
// picture larger than the view and steps through the list (towards the user:
// next) while the whole picture is in view; small reports add up to notches.
TEST_F(ThreePictures, WheelZoomsScrollsAndSteps) {
  WritePng(Tree.Path("d.png"), 2000, 1500);
  Start();
  TImageScrollBox& View = *Form->imgMain;
  const QPoint Middle = View.rect().center();
  // Fitted pictures: the wheel steps, one step per notch.
  Wheel(View, Middle, {0, -120});
  EXPECT_EQ(CurrentName(), "b.png");
  Wheel(View, Middle, {0, 120});
  EXPECT_EQ(CurrentName(), "a.png");
  Wheel(View, Middle, {0, 120}); // wraps like Page Up
  EXPECT_EQ(CurrentName(), "d.png");
  // A touchpad's eighths of a notch: one step once they add up to a notch.
  for (int I = 1; I <= 8; ++I) {
    Wheel(View, Middle, {0, -15});
    EXPECT_EQ(CurrentName(), I < 8 ? "d.png" : "a.png") << I;
  }
  Wheel(View, Middle, {0, 240}); // a fast wheel: two steps
  EXPECT_EQ(CurrentName(), "c.png");
  Form->NextPicture();
  ASSERT_EQ(CurrentName(), "d.png");

  // Ctrl+wheel up: the + key's step from the fitted percent, Autosize off.
  const float Fitted = View.ZoomPercent();
  const QPoint At(Middle.x() + 150, Middle.y() + 100);
  Wheel(View, At, {0, 120}, Qt::ControlModifier);
  EXPECT_FLOAT_EQ(View.ZoomPercent(), Fitted * 1.2f);
  EXPECT_FALSE(Form->mnuAutosize->isChecked());
  EXPECT_EQ(Panel(0), "Zoom: " + QString::number(static_cast<int>(View.ZoomPercent())));
  // Now only wider than the view: zoomed until it is larger both ways, the
  // picture point under the pointer stays there (to a display pixel).
  const QPointF Under = View.PicturePointAt(At);
  Wheel(View, At, {0, 240}, Qt::ControlModifier);
  EXPECT_FLOAT_EQ(View.ZoomPercent(), Fitted * 1.2f * 1.2f * 1.2f);
  ASSERT_GT(View.HorzScrollBar().MaxPosition(), 0);
  ASSERT_GT(View.VertScrollBar().MaxPosition(), 0);
  const double PixelsPerDisplay = 100.0 / View.ZoomPercent();
  EXPECT_NEAR(View.PicturePointAt(At).x(), Under.x(), PixelsPerDisplay);
  EXPECT_NEAR(View.PicturePointAt(At).y(), Under.y(), PixelsPerDisplay);
  EXPECT_GT(View.HorzScrollBar().Position(), 0);
  EXPECT_GT(View.VertScrollBar().Position(), 0);

  // Zoomed past the view: the wheel scrolls, and steps no more.
  const int Top = View.VertScrollBar().Position();
  Wheel(View, At, {0, -120});
  EXPECT_GT(View.VertScrollBar().Position(), Top);
  Wheel(View, At, {0, 120});
  EXPECT_EQ(View.VertScrollBar().Position(), Top);
  Wheel(View, At, {0, 0}, {}, {0, -7}); // a touchpad reporting pixels
  EXPECT_EQ(View.VertScrollBar().Position(), Top + 7);
  EXPECT_EQ(CurrentName(), "d.png");

  // Ctrl+wheel down: the - key's step.
  const float Before = View.ZoomPercent();
  Wheel(View, At, {0, -120}, Qt::ControlModifier);
  EXPECT_FLOAT_EQ(View.ZoomPercent(), Before * 0.8f);
}

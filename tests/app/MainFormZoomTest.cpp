// The main window's zoom and display: zoom steps, checkable menu items, the
// view's mouse mode and scroll positions, and key releases without a press.

#include "tests/app/MainFormFixture.h"

#include <QAction>
#include <QTimer>

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

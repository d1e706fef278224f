// The main window's commands: the slide show and its speed keys, full screen,
// Esc, the popup menu and Select All, and errors leaving start-up or a handler.

#include "tests/app/MainFormFixture.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>

// ---------------------------------------------------------------------------
// Slide show, full screen, keys, popup

TEST_F(ThreePictures, SlideShowSpeedKeys) {
  Start();
  for (int i = 0; i < 3; ++i)
    KeyUp(Qt::Key_Up);
  EXPECT_EQ(Form->tmMainTimer->interval(), 4000); // stopped: nothing
  Form->mnuSlideShowClick();
  ASSERT_TRUE(Form->tmMainTimer->isActive());
  for (int i = 0; i < 6; ++i)
    KeyUp(Qt::Key_Up);
  EXPECT_EQ(Form->tmMainTimer->interval(), 1000);
  KeyUp(Qt::Key_Up);
  EXPECT_EQ(Form->tmMainTimer->interval(), 1000);
  for (int i = 0; i < 20; ++i)
    KeyUp(Qt::Key_Down);
  EXPECT_EQ(Form->tmMainTimer->interval(), 11000);
  Form->mnuSlideShowClick();
  EXPECT_FALSE(Form->tmMainTimer->isActive());
  KeyUp(Qt::Key_Down);
  EXPECT_EQ(Form->tmMainTimer->interval(), 11000);
  Form->SetSlideShow(true);
  EXPECT_EQ(Form->tmMainTimer->interval(), 11000); // kept across stop and start
}

TEST_F(ThreePictures, SlideShowTicksStepTheCatalogue) {
  Start({"-Dir:" + Tree.Root(), "/slideshow"});
  Form->tmMainTimer->setInterval(10);
  EXPECT_TRUE(WaitFor([&] { return CurrentName() == "c.png"; }, 3000));
  EXPECT_TRUE(WaitFor([&] { return CurrentName() == "a.png"; }, 3000));
}

TEST_F(ThreePictures, FullScreenSavesAndRestoresBounds) {
  Start();
  EXPECT_EQ(Form->FSavedLeft, 356);
  EXPECT_EQ(Form->FSavedTop, 159);
  EXPECT_EQ(Form->FSavedWidth, 607);
  EXPECT_EQ(Form->FSavedHeight, 446);
  EXPECT_EQ(Form->FSavedListWidth, 201);
  EXPECT_TRUE(Form->mnuFullScreen->isChecked());

  Form->mnuFullScreenClick(); // leave
  Reactivate();
  EXPECT_FALSE(Form->FFullScreen);
  EXPECT_EQ(Form->geometry(), QRect(356, 159, 607, 446));
  EXPECT_EQ(Form->windowTitle(), "Tobbins' Imbrel");
  EXPECT_FALSE(Form->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(Form->pnlLHS->width(), 201);
  EXPECT_EQ(Form->splMain->geometry(), QRect(201, 0, 5, 446 - 19));
  EXPECT_EQ(Form->pnlRHS->geometry(), QRect(206, 0, 607 - 206, 446 - 19));
  EXPECT_EQ(Form->sbMain->geometry(), QRect(0, 446 - 19, 607, 19));
  EXPECT_EQ(Form->imgMain->geometry(), QRect(0, 0, 607 - 206, 446 - 19));
  EXPECT_TRUE(Form->dbgPictures->hasFocus());
  EXPECT_FALSE(Form->mnuFullScreen->isChecked());
  EXPECT_EQ(Panel(1), "1 of 3"); // the status bar is rewritten

  // Entering again from the normal state saves the new bounds.
  Form->setGeometry(100, 120, 500, 400);
  QCoreApplication::processEvents();
  const QRect Windowed = Form->geometry();
  KeyUp(Qt::Key_F, Qt::ControlModifier); // the shortcut works with the list focused
  EXPECT_TRUE(Form->FFullScreen);
  EXPECT_TRUE(Form->imgMain->hasFocus() || QApplication::focusWidget() == nullptr);
  EXPECT_EQ(Form->geometry().size(), Form->screen()->geometry().size());
  // A double-click on the picture leaves full screen like the menu entry.
  QTest::mouseDClick(&Form->imgMain->ImageControl(), Qt::LeftButton);
  EXPECT_FALSE(Form->FFullScreen);
  EXPECT_EQ(Form->size(), QSize(500, 400));
  // The offscreen platform places a re-framed window by its frame margins.
  EXPECT_LE((Form->geometry().topLeft() - Windowed.topLeft()).manhattanLength(), 4);
}

TEST_F(ThreePictures, EscClosesOnlyWhenTheListHasNoFocus) {
  Start();
  Form->mnuFullScreenClick(); // windowed, list focused
  Reactivate();
  ASSERT_TRUE(Form->dbgPictures->hasFocus());
  KeyUp(Qt::Key_PageDown); // the list's own key: moves the list, no wrap handling here
  KeyUp(Qt::Key_Escape);
  EXPECT_TRUE(Form->isVisible());
  Form->imgMain->setFocus();
  KeyUp(Qt::Key_Escape);
  EXPECT_FALSE(Form->isVisible());
}

TEST_F(ThreePictures, PopupCaptionsAndSelectAll) {
  Start();
  // A right click on the picture opens the window's popup with live captions.
  Form->mnuCurrentFile->setText("(current file)");
  const QPoint At(20, 20);
  QContextMenuEvent Click(QContextMenuEvent::Mouse, At, Form->imgMain->mapToGlobal(At));
  QApplication::sendEvent(Form->imgMain, &Click);
  EXPECT_TRUE(Form->mnuMainPopup->isVisible());
  EXPECT_EQ(Form->mnuCurrentFile->text(), "a.png");
  Form->mnuMainPopup->close();
  Form->mnuMainPopupPopup();
  EXPECT_EQ(Form->mnuCurrentFile->text(), "a.png");
  EXPECT_FALSE(Form->mnuSelectAll->isVisible()); // not in full screen
  EXPECT_EQ(Form->mnuZoomMain->text(), "Zoom");
  const QStringList Captions = [&] {
    QStringList L;
    for (QAction* A : Form->mnuMainPopup->actions())
      L << (A->isSeparator() ? "-" : A->text());
    return L;
  }();
  EXPECT_EQ(Captions, (QStringList{"a.png", "Select All", "-", "Full Screen", "Slide Show",
                                   "Next        (Page Down)", "Previous  (Page Up)", "-", "Zoom",
                                   "-", "Open...", "About...", "Exit          (Esc)"}));
  EXPECT_EQ(Form->mnuFullScreen->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));

  Form->mnuFullScreenClick();
  Form->mnuMainPopupPopup();
  EXPECT_TRUE(Form->mnuSelectAll->isVisible());
  Form->mnuSelectAll->trigger();
  EXPECT_EQ(Panel(1), "3 of 3 selected");
  EXPECT_EQ(CurrentName(), "c.png");    // the table ends on the last row
  EXPECT_EQ(Panel(2), "c.png (40x30)"); // ... while the view keeps the picture before
  EXPECT_EQ(Form->dbgPictures->SelectedRows().Count(), 3);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// ---------------------------------------------------------------------------
// Errors

TEST_F(ThreePictures, ErrorLeavingFormCreateSkipsTheRest) {
  BeforeCreate = [](TfrmMain& F) {
    F.mtbPictures->AfterScroll = [](TmtbCustomMemTable&) {
      throw Exception("broken after scroll");
    };
  };
  Start({"-Dir:" + Tree.Root(), "-slideshow"});
  EXPECT_EQ(ShownErrors, (std::vector<std::string>{"broken after scroll"}));
  EXPECT_FALSE(Form->FFullScreen);
  EXPECT_FALSE(Form->FSlideShow);
  EXPECT_FALSE(Form->AppMessageInstalled());
  EXPECT_EQ(Form->size(), QSize(607, 446));
  EXPECT_EQ(Form->windowTitle(), "Tobbins' Imbrel");
}

TEST_F(ThreePictures, ErrorLeavingAHandlerIsShownAndTheProgramCarriesOn) {
  Start();
  Form->mtbPictures->AfterScroll = [](TmtbCustomMemTable&) { throw Exception("cannot move"); };
  Form->mnuNext->trigger();
  KeyUp(Qt::Key_PageDown);
  EXPECT_EQ(ShownErrors, (std::vector<std::string>{"cannot move", "cannot move"}));
  EXPECT_TRUE(Form->isVisible());
}

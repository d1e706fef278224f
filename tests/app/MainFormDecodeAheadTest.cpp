// Decoding ahead in the main window: both directions in both layouts, what a
// sort change or a rescan drops, and a held key that outruns the decodes.

#include "tests/app/MainFormFixture.h"

#include <ctime>

#include "app/PicturePrefetch.h"

// ---------------------------------------------------------------------------
// Decoding ahead

TEST_F(ThreePictures, DecodesAheadBothWaysInBothLayouts) {
  WritePng(Tree.Path("d.png"), 70, 60);
  Start();
  ASSERT_TRUE(Form->FFullScreen);
  auto& Ahead = Form->Prefetch();
  // On a: the next (b) and the previous, round the end (d).
  ASSERT_TRUE(WaitFor([&] { return Ahead.Decoded(Tree.Path("b.png")) && Ahead.Idle(); }));
  EXPECT_TRUE(Ahead.Decoded(Tree.Path("d.png")));
  // A step swaps the ready picture and its display copy in: the copy is what
  // the view's own layout makes.
  auto ExpectLaidOut = [&] {
    auto Own = MakePlannedDisplayCopy(Shown(), Form->imgMain->DisplayPlan());
    ASSERT_NE(Own, nullptr);
    EXPECT_EQ(Form->imgMain->DisplayGraphic().Width(), Own->Width());
    EXPECT_EQ(Form->imgMain->DisplayGraphic().Height(), Own->Height());
  };
  KeyUp(Qt::Key_PageDown);
  EXPECT_EQ(Ahead.Hits(), 1);
  EXPECT_EQ(Panel(2), "b.png (50x40)");
  // Stepped onto its display copy alone; the worker then decodes the picture
  // whole, and it takes the copy's place.
  EXPECT_TRUE(Form->imgMain->PicturePending());
  ASSERT_TRUE(WaitFor([&] { return !Form->imgMain->PicturePending(); }));
  EXPECT_EQ(Shown().Width(), 50);
  ExpectLaidOut();
  // The picture stepped away from is kept for the way back.
  EXPECT_TRUE(Ahead.Decoded(Tree.Path("a.png")));
  ASSERT_TRUE(WaitFor([&] { return Ahead.Decoded(Tree.Path("c.png")) && Ahead.Idle(); }));
  EXPECT_FALSE(Ahead.Decoded(Tree.Path("d.png")));
  KeyUp(Qt::Key_PageUp);
  EXPECT_EQ(Ahead.Hits(), 2);
  EXPECT_EQ(Panel(2), "a.png (40x30)");
  ExpectLaidOut();

  // Windowed: the pictures ahead are laid out again for the smaller view,
  // and the list's own keys step through them as well.
  Form->mnuFullScreenClick();
  Reactivate();
  ASSERT_FALSE(Form->FFullScreen);
  ASSERT_TRUE(WaitFor([&] { return Ahead.Decoded(Tree.Path("b.png")) && Ahead.Idle(); }));
  Form->imgMain->setFocus();
  KeyUp(Qt::Key_Right);
  EXPECT_EQ(Ahead.Hits(), 3);
  EXPECT_EQ(Panel(2), "b.png (50x40)");
  ExpectLaidOut();
  ASSERT_TRUE(WaitFor([&] { return Ahead.Decoded(Tree.Path("c.png")) && Ahead.Idle(); }));
  Form->dbgPictures->setFocus();
  QTest::keyClick(Form->dbgPictures, Qt::Key_Down);
  EXPECT_EQ(CurrentName(), "c.png");
  EXPECT_EQ(Ahead.Hits(), 4);
  EXPECT_EQ(Panel(2), "c.png (60x50)");
  ExpectLaidOut();
  EXPECT_LE(Ahead.Held(), TPicturePrefetch::Budget);
}

TEST_F(ThreePictures, SortChangeAndRescanDropPicturesDecodedAhead) {
  WritePng(Tree.Path("d.png"), 70, 60);
  // Date order: a, c, d, b.
  const char* ByDate[] = {"a.png", "c.png", "d.png", "b.png"};
  const std::time_t Base = std::time(nullptr) - 3600;
  for (int i = 0; i < 4; ++i) {
    struct timespec Times[2] = {{Base, 0}, {Base + 10 * i, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Tree.Path(ByDate[i]).c_str(), Times, 0), 0);
  }
  Start();
  auto& Ahead = Form->Prefetch();
  auto Decoded = [&](const char* Name) { return Ahead.Decoded(Tree.Path(Name)); };
  ASSERT_TRUE(WaitFor([&] { return Decoded("b.png") && Decoded("d.png") && Ahead.Idle(); }));

  // By date a is first: its neighbours are c and b now; d is dropped.
  Form->SetSortColumn("Date");
  ASSERT_EQ(CurrentName(), "a.png");
  ASSERT_TRUE(WaitFor([&] { return Decoded("c.png") && Ahead.Idle(); }));
  EXPECT_TRUE(Decoded("b.png"));
  EXPECT_FALSE(Decoded("d.png"));
  KeyUp(Qt::Key_PageDown);
  EXPECT_EQ(CurrentName(), "c.png");
  EXPECT_EQ(Ahead.Hits(), 1);

  // A rescan drops everything decoded ahead before it walks the folder.
  ASSERT_TRUE(WaitFor([&] { return Decoded("d.png") && Ahead.Idle(); }));
  bool DroppedDuringScan = false;
  auto Previous = Form->mtbPictures->AfterScroll;
  Form->mtbPictures->AfterScroll = [&](TmtbCustomMemTable& T) {
    if (T.ControlsDisabled() && Ahead.Held() == 0) DroppedDuringScan = true;
    Previous(T);
  };
  Form->ScanFolder(Tree.Root());
  Form->mtbPictures->AfterScroll = Previous;
  EXPECT_TRUE(DroppedDuringScan);
  EXPECT_FALSE(Decoded("d.png"));
  EXPECT_EQ(CurrentName(), "a.png");
  // And aims again at the new catalogue.
  ASSERT_TRUE(WaitFor([&] { return Decoded("c.png") && Decoded("b.png") && Ahead.Idle(); }));
}

TEST_F(ThreePictures, HeldKeyMovesTheListAndEndsOnTheRightPicture) {
  for (char C = 'd'; C <= 'h'; ++C)
    WritePng(Tree.Path(std::string(1, C) + ".png"), 30 + 10 * (C - 'a'), 20);
  Start();
  Form->mnuFullScreenClick(); // windowed, the list focused
  Reactivate();
  ASSERT_TRUE(Form->dbgPictures->hasFocus());
  auto& Ahead = Form->Prefetch();
  ASSERT_TRUE(WaitFor([&] { return Ahead.Idle(); }));

  struct TCase {
    Qt::Key Key;
    int Repeats;
    const char* EndsOn;
    int Width, Height;
  } Cases[] = {{Qt::Key_Down, 5, "g.png", 90, 20}, {Qt::Key_Up, 3, "c.png", 60, 50}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.EndsOn);
    int Shows = 0;
    Form->imgMain->OnRedraw = [&](TDibGraphic&) { ++Shows; };
    QKeyEvent First(QEvent::KeyPress, C.Key, Qt::NoModifier);
    QApplication::sendEvent(Form->dbgPictures, &First);
    for (int i = 0; i < C.Repeats; ++i) {
      QKeyEvent Repeat(QEvent::KeyPress, C.Key, Qt::NoModifier, QString(), true);
      QApplication::sendEvent(Form->dbgPictures, &Repeat);
    }
    // The cursor has followed every press, and no row passed on the way was
    // decoded in between (the first press, not yet a repeat, shows its row).
    EXPECT_EQ(CurrentName(), C.EndsOn);
    EXPECT_LE(Shows, 1);
    Form->imgMain->OnRedraw = nullptr;
    QKeyEvent Release(QEvent::KeyRelease, C.Key, Qt::NoModifier);
    QApplication::sendEvent(Form->dbgPictures, &Release);
    ASSERT_TRUE(WaitFor([&] { return Form->ShownPath() == Tree.Path(C.EndsOn); }));
    EXPECT_EQ(Shown().Width(), C.Width);
    EXPECT_EQ(Panel(2), QString(C.EndsOn) + " (" + QString::number(C.Width) + "x" +
                            QString::number(C.Height) + ")");
    EXPECT_EQ(CurrentName(), C.EndsOn);
    QTest::qWait(50); // nothing shown late replaces it
    EXPECT_EQ(Form->ShownPath(), Tree.Path(C.EndsOn));
    EXPECT_LE(Ahead.Held(), TPicturePrefetch::Budget);
  }
}

TEST_F(ThreePictures, AViewChangedBetweenDecodingAheadAndSteppingShowsThePictureRight) {
  Start();
  auto& Ahead = Form->Prefetch();
  ASSERT_TRUE(WaitFor([&] { return Ahead.Decoded(Tree.Path("b.png")) && Ahead.Idle(); }));
  // The view changes size (a layout change, another screen) and the step
  // comes before decoding ahead has caught up: b's display copy was laid out
  // for the old size, so b itself is decoded and laid out for the new one.
  Form->imgMain->setFocus();
  Form->imgMain->resize(Form->imgMain->width() / 2, Form->imgMain->height() / 3);
  KeyUp(Qt::Key_PageDown);
  EXPECT_EQ(Panel(2), "b.png (50x40)");
  EXPECT_FALSE(Form->imgMain->PicturePending());
  auto Own = MakePlannedDisplayCopy(Shown(), Form->imgMain->DisplayPlan());
  ASSERT_NE(Own, nullptr);
  EXPECT_EQ(Form->imgMain->DisplayGraphic().Width(), Own->Width());
  EXPECT_EQ(Form->imgMain->DisplayGraphic().Height(), Own->Height());

  // Decoding ahead catches up with the new size, holding no whole picture
  // ahead: the next one is its display copy for the new plan alone.
  ASSERT_TRUE(WaitFor([&] { return Ahead.Idle() && Ahead.Decoded(Tree.Path("c.png")); }));
  EXPECT_LE(Ahead.Held(), TPicturePrefetch::Budget);
  auto Next = Ahead.Take(Tree.Path("c.png"), std::chrono::milliseconds(0));
  ASSERT_NE(Next, nullptr);
  EXPECT_EQ(Next->Laid.Picture, nullptr);
  ASSERT_NE(Next->Laid.Display, nullptr);
  EXPECT_EQ(Next->Laid.Plan, Form->imgMain->DisplayPlan());
  EXPECT_EQ(Next->Laid.Facts, (TPictureFacts{60, 50, 1}));
}

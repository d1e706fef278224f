// Stepping through the main window's list: wrapping, a single row and an empty
// table, pictures that fail, pictures decoded ahead and files in the tree that
// are no pictures.

#include "tests/app/MainFormFixture.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include <QAccessible>

#include "app/PicturePrefetch.h"

// ---------------------------------------------------------------------------
// Navigation

TEST_F(ThreePictures, PageKeysStepOneRowAndWrapBothWays) {
  Start();
  const struct {
    Qt::Key Key;
    const char* Name;
    int RecNo;
  } Steps[] = {
      {Qt::Key_PageDown, "b.png", 2}, {Qt::Key_Right, "c.png", 3}, {Qt::Key_PageDown, "a.png", 1},
      {Qt::Key_PageUp, "c.png", 3},   {Qt::Key_Left, "b.png", 2},  {Qt::Key_Left, "a.png", 1},
      {Qt::Key_Left, "c.png", 3},
  };
  for (const auto& S : Steps) {
    KeyUp(S.Key);
    EXPECT_EQ(CurrentName(), S.Name);
    EXPECT_EQ(Panel(1), QString::number(S.RecNo) + " of 3");
    EXPECT_TRUE(Panel(2).startsWith(S.Name));
    EXPECT_EQ(Shown().Width(), 40 + 10 * (S.Name[0] - 'a'));
  }
}

TEST_F(MainFormTest, OneRowReshownAndEmptyTableDoesNothing) {
  WritePng(Tree.Path("only.png"), 30, 20);
  Start();
  int Loads = 0;
  auto Previous = Form->mtbPictures->AfterScroll;
  Form->mtbPictures->AfterScroll = [&](TmtbCustomMemTable& T) {
    ++Loads;
    Previous(T);
  };
  Form->NextPicture();
  Form->PreviousPicture();
  EXPECT_GE(Loads, 2);
  EXPECT_EQ(Panel(2), "only.png (30x20)");
  EXPECT_EQ(Panel(1), "1 of 1");

  std::filesystem::remove(Tree.Path("only.png"));
  Form->ScanFolder(Tree.Root());
  Form->NextPicture();
  Form->PreviousPicture();
  EXPECT_EQ(Panel(1), "-1 of 0");
  EXPECT_TRUE(Shown().Empty());
}

TEST_F(ThreePictures, FailedLoadClearsViewAndKeepsStatusTexts) {
  Tree.File("b2.png", "this is not a PNG");
  Start();
  Form->NextPicture(); // a.png -> b.png
  ASSERT_EQ(Panel(2), "b.png (50x40)");
  Form->NextPicture(); // b2.png cannot be decoded
  EXPECT_EQ(CurrentName(), "b2.png");
  EXPECT_TRUE(Shown().Empty());
  EXPECT_EQ(Panel(1), "2 of 4");
  EXPECT_EQ(Panel(2), "b.png (50x40)");
  EXPECT_TRUE(ShownErrors.empty());
  Form->NextPicture(); // and the next good one shows again
  EXPECT_EQ(Panel(2), "c.png (60x50)");
  EXPECT_EQ(Panel(1), "4 of 4");
}

TEST_F(ThreePictures, DecodedAheadShowsTheSamePictureAndNoticesChanges) {
  Tree.File("d.png", "not a picture at all");
  Start();
  ASSERT_TRUE(Form->FFullScreen);
  auto& Ahead = Form->Prefetch();
  ASSERT_TRUE(WaitFor([&] { return Ahead.Decoded(Tree.Path("b.png")); }));
  Form->NextPicture();
  EXPECT_EQ(Ahead.Hits(), 1);
  EXPECT_EQ(Panel(2), "b.png (50x40)");
  EXPECT_EQ(Shown().Width(), 50);

  // c.png is decoded ahead, then replaced: the new file is shown.
  ASSERT_TRUE(WaitFor([&] { return Ahead.Decoded(Tree.Path("c.png")); }));
  WritePng(Tree.Path("c.png"), 70, 20);
  Form->NextPicture();
  EXPECT_EQ(Ahead.Hits(), 1);
  EXPECT_EQ(Ahead.Stale(), 1);
  EXPECT_EQ(Panel(2), "c.png (70x20)");

  // A picture that failed ahead fails again on its turn, silently.
  ASSERT_TRUE(WaitFor([&] { return Ahead.Decoded(Tree.Path("d.png")); }));
  Form->NextPicture();
  EXPECT_EQ(CurrentName(), "d.png");
  EXPECT_TRUE(Shown().Empty());
  EXPECT_EQ(Panel(2), "c.png (70x20)");
  EXPECT_TRUE(ShownErrors.empty());

  // The wrap-around is decoded ahead as well.
  ASSERT_TRUE(WaitFor([&] { return Ahead.Decoded(Tree.Path("a.png")); }));
  Form->NextPicture();
  EXPECT_EQ(Ahead.Hits(), 2);
  EXPECT_EQ(Panel(2), "a.png (40x30)");
  EXPECT_EQ(Panel(1), "1 of 4");
}

TEST_F(MainFormTest, FifoSocketAndDeviceInTheTreeFailLikeBadPicturesInBothLayouts) {
  // Opening any of them the usual way would block or never end: the test
  // run ends instead of hanging.
  ::alarm(90);
  WritePng(Tree.Path("a.png"), 40, 30);
  WritePng(Tree.Path("z.png"), 60, 50);
  ASSERT_EQ(::mkfifo(Tree.Path("m1.jpg").c_str(), 0600), 0);
  const int Sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  std::snprintf(Address.sun_path, sizeof Address.sun_path, "%s", Tree.Path("m2.png").c_str());
  ASSERT_EQ(::bind(Sock, reinterpret_cast<sockaddr*>(&Address), sizeof Address), 0);
  ASSERT_EQ(::symlink("/dev/zero", Tree.Path("m3.bmp").c_str()), 0);

  Start(); // full screen: decode-ahead meets each of them first
  ASSERT_EQ(Form->mtbPictures->RecordCount(), 5) << "the catalogue keeps listing them";
  for (const bool FullScreen : {true, false}) {
    SCOPED_TRACE(FullScreen ? "full screen" : "windowed");
    ASSERT_EQ(Form->FFullScreen, FullScreen);
    Form->mtbPictures->First();
    ASSERT_TRUE(WaitFor([&] { return Panel(2) == "a.png (40x30)"; }));
    for (const char* Name : {"m1.jpg", "m2.png", "m3.bmp"}) {
      Form->NextPicture();
      EXPECT_EQ(CurrentName(), Name);
      EXPECT_TRUE(Shown().Empty());
    }
    Form->NextPicture();
    EXPECT_EQ(Panel(2), "z.png (60x50)");
    EXPECT_TRUE(ShownErrors.empty());
    Form->mnuFullScreenClick();
  }
  Form.reset(); // exit does not wait on anything
  ::close(Sock);
  ::alarm(0);
}

// ---------------------------------------------------------------------------
// What a screen reader is told

// The picture area is an image named by the shown picture's status text and
// described by its zoom and place, after every picture shown, in full screen
// and windowed, a picture that fails included. (The announcements need a live
// accessibility bridge: the AT-SPI test hears them.)
TEST_F(ThreePictures, PictureAreaIsAnImageNamedByTheShownPicture) {
  Tree.File("b2.png", "not a PNG");
  Start();
  QAccessibleInterface* Image = QAccessible::queryAccessibleInterface(Form->imgMain);
  ASSERT_NE(Image, nullptr);
  EXPECT_EQ(Image->role(), QAccessible::Graphic);
  auto Zoom = [&] {
    return "Zoom " + QString::number(static_cast<int>(Form->imgMain->ZoomPercent())) + " %, ";
  };
  EXPECT_EQ(Image->text(QAccessible::Name), "a.png (40x30)");
  EXPECT_EQ(Image->text(QAccessible::Description), Zoom() + "picture 1 of 4");
  const struct {
    const char* What;
    std::function<void()> Step;
    QString Name;
    QString Place;
  } Steps[] = {
      {"Page Down in full screen", [&] { KeyUp(Qt::Key_PageDown); }, "b.png (50x40)",
       "picture 2 of 4"},
      {"a picture that fails: the row's name", [&] { KeyUp(Qt::Key_PageDown); }, "b2.png",
       "picture 3 of 4"},
      {"Page Up back to it", [&] { KeyUp(Qt::Key_PageUp); }, "b.png (50x40)", "picture 2 of 4"},
      {"windowed, a key in the list",
       [&] {
         Form->mnuFullScreenClick();
         QTest::keyClick(Form->dbgPictures, Qt::Key_End);
       },
       "c.png (60x50)", "picture 4 of 4"},
      {"zoomed in", [&] { Form->ZoomBy(20); }, "c.png (60x50)", "picture 4 of 4"},
      {"the last row deleted: nothing shown",
       [&] {
         Form->dbgPictures->OnConfirmDelete = [](const QString&) { return true; };
         Form->mnuSelectAllClick();
         Form->dbgPictures->DeleteRecords();
       },
       "", "no pictures"},
  };
  for (const auto& S : Steps) {
    SCOPED_TRACE(S.What);
    S.Step();
    EXPECT_EQ(Image->text(QAccessible::Name), S.Name);
    EXPECT_EQ(Image->text(QAccessible::Description), Zoom() + S.Place);
  }
}

// The main window's start-up: the command line's folder, paths and switches,
// the empty tree and the start picture.

#include "tests/app/MainFormFixture.h"

#include <QLabel>
#include <QTimer>

#include <ctime>
#include <filesystem>

// ---------------------------------------------------------------------------
// Start-up

TEST_F(MainFormTest, EmptyTreeOpensPickerThenRunsEmptyFullScreen) {
  Tree.File("notes.txt");
  Start();
  EXPECT_EQ(DialogCount, 1);
  EXPECT_EQ(Form->mtbPictures->RecordCount(), 0);
  EXPECT_EQ(Panel(1), "-1 of 0");
  EXPECT_EQ(Panel(2), "");
  EXPECT_EQ(Panel(0), "Autosize (100)");
  EXPECT_TRUE(Shown().Empty());
  EXPECT_TRUE(Form->FFullScreen);
  EXPECT_EQ(Form->windowTitle(), "");
  EXPECT_TRUE(Form->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(Form->FZoom, 100);
  EXPECT_FALSE(Form->FSlideShow);
  EXPECT_TRUE(Form->AppMessageInstalled());
  EXPECT_EQ(Form->lbDir->text().toStdString(), Tree.Root());
  // Full screen hides the list, the splitter and the status bar.
  EXPECT_FALSE(Form->pnlLHS->isVisible());
  EXPECT_FALSE(Form->sbMain->isVisible());
  EXPECT_EQ(Form->geometry().size(), Form->screen()->geometry().size());
}

TEST_F(ThreePictures, StartShowsFirstPictureSortedByNameWithSlideShow) {
  Start({"-Dir:" + Tree.Root(), "-slideshow"});
  EXPECT_EQ(DialogCount, 0);
  EXPECT_EQ(Panel(1), "1 of 3");
  EXPECT_EQ(Panel(2), "a.png (40x30)");
  EXPECT_EQ(Shown().Width(), 40);
  EXPECT_EQ(Form->FSortColumn, "Name");
  EXPECT_EQ(Markers(), (std::vector<unsigned>{1, 0, 0, 0}));
  EXPECT_TRUE(Form->FSlideShow);
  EXPECT_TRUE(Form->tmMainTimer->isActive());
  EXPECT_EQ(Form->tmMainTimer->interval(), 4000);
  EXPECT_TRUE(Form->mnuSlideShow->isChecked());
  // The view fitted the picture to the screen; the shell took its percent.
  EXPECT_FLOAT_EQ(static_cast<float>(Form->FZoom), Form->imgMain->ZoomPercent());
  EXPECT_GT(Form->FZoom, 100);
  EXPECT_EQ(Panel(0),
            "Autosize (" + QString::number(static_cast<int>(Form->imgMain->ZoomPercent())) + ")");
  EXPECT_TRUE(Form->imgMain->hasFocus());
}

TEST_F(ThreePictures, CommandLineFolderRelativeToProgramAndFallback) {
  // A folder text beginning with '.' names a folder below the program's own.
  Tree.Folder("prog/MyImages/deeper");
  WritePng(Tree.Path("prog/MyImages/deeper/x.png"), 10, 10);
  SetProgramFolderOverride(Tree.Path("prog"));
  Start({"-Dir:./MyImages"});
  EXPECT_EQ(Form->lbDir->text().toStdString(), Tree.Path("prog/MyImages/"));
  EXPECT_EQ(Form->mtbPictures->RecordCount(), 1);
  Form.reset();

  // A missing folder or a lower-case dir: falls back to the program's folder.
  for (const char* Arg : {"-Dir:/no/such/folder", "-dir:/tmp", "-Dir:"}) {
    Start({Arg});
    EXPECT_EQ(Form->lbDir->text().toStdString(), Tree.Path("prog/")) << Arg;
    EXPECT_EQ(Form->mtbPictures->RecordCount(), 1) << Arg;
    Form.reset();
  }
  EXPECT_EQ(DialogCount, 0);
}

TEST_F(ThreePictures, PlainPathsAloneAndWithDirAndSlideShow) {
  WritePng(Tree.Path("sub/d.png"), 70, 60);
  WritePng(Tree.Path("Other/x.png"), 20, 10);
  const std::string Root = Tree.Root();
  const struct {
    std::vector<std::string> Args;
    std::string Folder;  // catalogued
    std::string Current; // the row the cursor is on
    QString Position;    // status panel 1
    int ShownWidth;
    bool Slide;
  } Cases[] = {
      {{Root}, Root, "a.png", "1 of 5", 40, false},
      {{Root + "b.png"}, Root, "b.png", "2 of 5", 50, false},
      {{Root + "c.png", "-slideshow"}, Root, "c.png", "3 of 5", 60, true},
      {{"/slideshow", Root + "sub/d.png"}, Root + "sub/", "d.png", "1 of 1", 70, true},
      // An existing Dir: folder wins over a plain path; a missing one does not.
      {{"-Dir:" + Root + "Other", Root + "b.png"}, Root + "Other", "x.png", "1 of 1", 20, false},
      {{Root + "b.png", "-Dir:/no/such/folder"}, Root, "b.png", "2 of 5", 50, false},
      {{"-Dir:", Root + "c.png"}, Root, "c.png", "3 of 5", 60, false},
  };
  for (const auto& C : Cases) {
    std::string Joined;
    for (const auto& A : C.Args)
      Joined += "[" + A + "] ";
    SCOPED_TRACE(Joined);
    Start(C.Args);
    EXPECT_EQ(Form->lbDir->text().toStdString(), C.Folder);
    EXPECT_EQ(CurrentName(), C.Current);
    EXPECT_EQ(Panel(1), C.Position);
    EXPECT_EQ(Shown().Width(), C.ShownWidth);
    EXPECT_EQ(Form->FSlideShow, C.Slide);
    EXPECT_TRUE(Form->FFullScreen);
    // The next picture in the catalogue's order follows the start picture.
    const int RecNo = Form->mtbPictures->RecNo();
    Form->NextPicture();
    EXPECT_EQ(Form->mtbPictures->RecNo(),
              RecNo == Form->mtbPictures->RecordCount() ? 1 : RecNo + 1);
    Form.reset();
  }
  EXPECT_EQ(DialogCount, 0);
}

TEST_F(ThreePictures, StartPictureFollowsTheSortOrderAndIsUsedOnce) {
  // The list sorted by Date (set before the first scan here): the start
  // picture's row is where that order puts it.
  const std::time_t Now = std::time(nullptr);
  const std::pair<const char*, std::time_t> Dates[] = {
      {"a.png", Now - 100}, {"b.png", Now - 300}, {"c.png", Now - 200}};
  for (const auto& [Name, Time] : Dates) {
    const timespec Times[2] = {{Time, 0}, {Time, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Tree.Path(Name).c_str(), Times, 0), 0);
  }
  BeforeCreate = [](TfrmMain& F) { F.FSortColumn = "Date"; };
  Start({Tree.Path("c.png")});
  EXPECT_EQ(CurrentName(), "c.png");
  EXPECT_EQ(Panel(1), "2 of 3");
  EXPECT_EQ(Panel(2), "c.png (60x50)");
  EXPECT_EQ(Names(), (std::vector<std::string>{"b.png", "c.png", "a.png"}));
  // A later scan of the same folder starts on its first row again.
  Form->ScanFolder(Tree.Root());
  EXPECT_EQ(CurrentName(), "b.png");
}

// Started without a folder from a program folder without pictures (as an
// installed program is): the folder picker opens on the user's Pictures
// folder, as the XDG user folders name it, and OK there catalogues it.
TEST_F(MainFormTest, PictureLessProgramFolderOpensThePickerOnTheUsersPictures) {
  Tree.File("prog/TobbinsImbrel", "not a picture");
  WritePng(Tree.Path("home/Fotos/2024/summer.png"), 30, 20);
  WritePng(Tree.Path("home/elsewhere.png"), 30, 20);
  Tree.File("home/.config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Fotos\"\n");
  SetProgramFolderOverride(Tree.Path("prog"));
  // This test's home, put back when it ends.
  struct TSavedEnvironment {
    QByteArray Home = qgetenv("HOME");
    QByteArray Config = qgetenv("XDG_CONFIG_HOME");
    ~TSavedEnvironment() {
      qputenv("HOME", Home);
      if (Config.isNull())
        qunsetenv("XDG_CONFIG_HOME");
      else
        qputenv("XDG_CONFIG_HOME", Config);
    }
  } Saved;
  qputenv("HOME", QByteArray::fromStdString(Tree.Path("home")));
  qunsetenv("XDG_CONFIG_HOME");
  std::string Preselected;
  bool Confirmed = false;
  BeforeCreate = [&](TfrmMain& F) {
    F.brfldMain->OnDialogShown = [&](TBrowseFolderDialog& D) {
      ++DialogCount;
      Preselected = D.SelectedPath();
      EXPECT_TRUE(WaitFor([&] { return D.OkEnabled(); }, 10000));
      Confirmed = D.OkEnabled();
      if (Confirmed)
        D.accept();
      else
        D.reject();
    };
  };
  Start({"-noorient"}); // no folder named
  EXPECT_EQ(DialogCount, 1);
  EXPECT_EQ(Preselected, Tree.Path("home/Fotos"));
  ASSERT_TRUE(Confirmed);
  EXPECT_EQ(Form->lbDir->text().toStdString(), Tree.Path("home/Fotos/"));
  EXPECT_EQ(Form->mtbPictures->RecordCount(), 1);
  EXPECT_EQ(Panel(2), "summer.png (30x20)");
}

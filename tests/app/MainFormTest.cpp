// The main window end to end on the offscreen platform, against folder trees
// made by each test: start-up, scan, sort, display and zoom, navigation,
// slide show, full screen, keys, popup and error handling.

#include "MainForm.h"
#include "PicturePrefetch.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <ctime>

#include <sys/socket.h>
#include <sys/un.h>

#include "Application.h"
#include "BrowseFolder.h"
#include "DbAltGrid.h"
#include "DcxGraphic.h"
#include "DibGraphic.h"
#include "DropFileSource.h"
#include "FolderWalk.h"
#include "Formats.h"
#include "ImageScrollBox.h"
#include "JpegGraphic.h"
#include "Orientation.h"
#include "TempTree.h"
#include "TiffGraphic.h"

namespace {

std::vector<std::string> ShownErrors;

// Runs the event loop until Condition holds or Ms milliseconds have passed.
bool WaitFor(const std::function<bool()>& Condition, int Ms = 5000) {
  QElapsedTimer Clock;
  Clock.start();
  while (!Condition()) {
    if (Clock.elapsed() > Ms) return false;
    QTest::qWait(5);
  }
  return true;
}

void WritePng(const std::string& Path, int W, int H, QRgb Colour = qRgb(200, 120, 40)) {
  std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
  QImage Image(W, H, QImage::Format_RGB32);
  Image.fill(Colour);
  ASSERT_TRUE(Image.save(QString::fromStdString(Path), "PNG")) << Path;
}

// A file of several pages written by the format class itself; page I has the
// size Sizes[I].
template <class T> void WritePages(const std::string& Path, const std::vector<QSize>& Sizes) {
  TMemoryStream File;
  for (const QSize& S : Sizes) {
    T Page;
    Page.NewImage(S.width(), S.height(), ifColor256, nullptr, 96, 96);
    std::memset(Page.Bits(), 40, size_t(Page.BytesPerRow()) * size_t(S.height()));
    File.SetPosition(File.Size());
    Page.AppendToStream(File);
  }
  File.SaveToFile(Path);
}

// A 30 x 20 JPEG whose EXIF block asks for a quarter turn clockwise
// (orientation 6, little-endian).
void WriteTurnedJpeg(const std::string& Path) {
  TJpegGraphic G;
  G.NewImage(30, 20, ifTrueColor, nullptr, 96, 96);
  std::memset(G.Bits(), 128, size_t(G.BytesPerRow()) * 20);
  TMemoryStream Jpeg;
  G.SaveToStream(Jpeg);
  const std::string Bytes(reinterpret_cast<const char*>(Jpeg.Memory()), size_t(Jpeg.Size()));
  const std::string Exif("\xFF\xE1\x00\x22"         // APP1, 34 bytes with the length
                         "Exif\0\0"                 // EXIF header
                         "II*\0\x08\0\0\0"          // TIFF header, directory at 8
                         "\x01\0"                   // one entry
                         "\x12\x01\x03\0\x01\0\0\0" // orientation, SHORT, one value
                         "\x06\0\0\0"               // 6
                         "\0\0\0\0",                // no next directory
                         36);
  std::ofstream(Path, std::ios::binary) << Bytes.substr(0, 2) + Exif + Bytes.substr(2);
}

class MainFormTest : public ::testing::Test {
protected:
  void SetUp() override { ShownErrors.clear(); }

  void TearDown() override {
    Form.reset();
    TfrmMain::OnComponentsCreated = nullptr;
    SetProgramFolderOverride("");
  }

  // Starts the window on the tree (or on the given arguments); the folder
  // picker, when it opens, is cancelled and counted.
  void Start(std::vector<std::string> Args = {}) {
    if (Args.empty()) Args = {"-Dir:" + Tree.Root()};
    Args.insert(Args.begin(), "TobbinsImbrel");
    TfrmMain::OnComponentsCreated = [this](TfrmMain& F) {
      F.brfldMain->OnDialogShown = [this](TBrowseFolderDialog& D) {
        ++DialogCount;
        D.reject();
      };
      F.dropSourceImages->ExecuteHook = [](QMimeData*) { return TDragResult::drCancel; };
      if (BeforeCreate) BeforeCreate(F);
    };
    Form = std::make_unique<TfrmMain>(Args);
    Form->show();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  }

  // Changing the border re-creates the window; activating it again is the
  // window system's (or the user's) part.
  void Reactivate() {
    QApplication::setActiveWindow(Form.get());
    Form->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return QApplication::activeWindow() == Form.get(); }, 2000));
  }

  QString Panel(int I) const { return Form->sbMain->PanelText(I); }
  std::string CurrentName() const { return Form->mtbPicturesName->AsString(); }
  TDibGraphic& Shown() const { return Form->imgMain->Graphic(); }

  // The names in the table's current order.
  std::vector<std::string> Names() const {
    std::vector<std::string> Result;
    auto& T = *Form->mtbPictures;
    T.DisableControls();
    T.First();
    while (!T.Eof()) {
      Result.push_back(Form->mtbPicturesName->AsString());
      T.Next();
    }
    T.First();
    T.EnableControls();
    return Result;
  }

  std::vector<unsigned> Markers() const {
    std::vector<unsigned> M;
    auto& C = Form->dbgPictures->Columns();
    for (int i = 0; i < C.Count(); ++i)
      M.push_back(C[i].SortMarker());
    return M;
  }

  void KeyUp(Qt::Key Key, Qt::KeyboardModifiers Mods = Qt::NoModifier) {
    QWidget* Target =
        QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : Form.get();
    QTest::keyClick(Target, Key, Mods);
  }

  TTempTree Tree;
  std::unique_ptr<TfrmMain> Form;
  int DialogCount = 0;
  std::function<void(TfrmMain&)> BeforeCreate;
};

// Three decodable pictures of distinct sizes, named so that Name order is a, b, c.
class ThreePictures : public MainFormTest {
protected:
  void SetUp() override {
    MainFormTest::SetUp();
    WritePng(Tree.Path("a.png"), 40, 30);
    WritePng(Tree.Path("b.png"), 50, 40);
    WritePng(Tree.Path("c.png"), 60, 50);
  }
};

} // namespace

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

// ---------------------------------------------------------------------------
// Scan

TEST_F(MainFormTest, ScanCataloguesByWholeExtensionAndSkipsHidden) {
  const std::time_t When = 1'600'000'123; // an odd second: kept as it is
  Tree.File("PHOTO.JPG", "not really a jpeg", When);
  Tree.File("sub/a.Tiff", "", When);
  for (const char* Skipped :
       {"b.jpe", "c.jpg.bak", "README", ".png", ".hidden/x.png", "sub/.h.bmp"})
    Tree.File(Skipped);
  Start();
  ASSERT_EQ(Form->mtbPictures->RecordCount(), 2);
  // PHOTO.JPG fails to decode: the view stays empty, silently.
  EXPECT_TRUE(Shown().Empty());
  EXPECT_TRUE(ShownErrors.empty());
  std::vector<std::tuple<std::string, std::string, std::string>> Rows;
  auto& T = *Form->mtbPictures;
  T.First();
  while (!T.Eof()) {
    Rows.emplace_back(Form->mtbPicturesName->AsString(), Form->mtbPicturesLocation->AsString(),
                      Form->mtbPicturesType->AsString());
    std::tm Tm{};
    localtime_r(&When, &Tm);
    EXPECT_DOUBLE_EQ(Form->mtbPicturesDate->AsDateTime(),
                     EncodeDateTime(Tm.tm_year + 1900, Tm.tm_mon + 1, Tm.tm_mday, Tm.tm_hour,
                                    Tm.tm_min, Tm.tm_sec));
    T.Next();
  }
  std::sort(Rows.begin(), Rows.end());
  EXPECT_EQ(Rows, (std::vector<std::tuple<std::string, std::string, std::string>>{
                      {"PHOTO.JPG", Tree.Root(), "JPG"}, {"a.Tiff", Tree.Path("sub/"), "Tiff"}}));
}

TEST_F(MainFormTest, ScanReportsEveryHundredWhileTheLoopRuns) {
  Tree.File("seed.png");
  Start();
  for (int i = 0; i < 250; ++i)
    Tree.File("d" + std::to_string(i % 7) + "/p" + std::to_string(i) + ".png");
  Tree.File("seed.png"); // 251 with the seed: progress at 100 and 200 only

  std::vector<QString> Seen;
  int Ticks = 0;
  QTimer Probe;
  Probe.setInterval(0);
  QObject::connect(&Probe, &QTimer::timeout, [&] {
    ++Ticks;
    Seen.push_back(Panel(0));
    // Row moves made inside the pumps show no picture: the controls are off.
    EXPECT_TRUE(Form->mtbPictures->ControlsDisabled() || Panel(0) == "0 files added...");
  });
  Probe.start();
  Form->ScanFolder(Tree.Root());
  Probe.stop();
  // The event loop runs throughout the walk (as often as it likes); between
  // its passes it shows each hundred's count once, in order.
  Seen.erase(std::unique(Seen.begin(), Seen.end()), Seen.end());
  EXPECT_EQ(Seen,
            (std::vector<QString>{"0 files added...", "100 files added...", "200 files added..."}));
  EXPECT_GE(Ticks, 3);
  EXPECT_EQ(Panel(1), "1 of 251");
  EXPECT_FALSE(Form->mtbPictures->ControlsDisabled());
  EXPECT_TRUE(Form->dsPictures->Enabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormTest, LinkLoopScanEnds) {
  WritePng(Tree.Path("a/p.png"), 8, 8);
  Tree.Link("..", "a/loop");
  Tree.Link(Tree.Root(), "a/root");
  Start();
  EXPECT_EQ(Form->mtbPictures->RecordCount(), 1);
  EXPECT_EQ(Panel(1), "1 of 1");
}

// A start-up scan that outlasts the delay shows the window while it runs
// (busy cursor, progress text, the list off); the state after it is the
// usual one. Esc during it ends the program: the rest of the start-up is
// skipped. The delay is made 0 so that every scan outlasts it.
TEST_F(MainFormTest, SlowStartupScanShowsTheWindowAndEscEndsIt) {
  for (int i = 0; i < 400; ++i)
    Tree.File("d" + std::to_string(i % 5) + "/p" + std::to_string(i) + ".png");
  const int SavedDelay = TfrmMain::StartupShowDelayMs;
  TfrmMain::StartupShowDelayMs = 0;
  struct TRestore {
    int Value;
    ~TRestore() { TfrmMain::StartupShowDelayMs = Value; }
  } Restore{SavedDelay};
  for (const bool PressEsc : {false, true}) {
    SCOPED_TRACE(PressEsc ? "Esc pressed" : "left to end");
    bool SeenWhileScanning = false, EscSent = false;
    QString ProgressSeen;
    QTimer Probe;
    Probe.setInterval(0);
    BeforeCreate = [&](TfrmMain& F) {
      QObject::connect(&Probe, &QTimer::timeout, [&] {
        if (!F.isVisible() || !F.mtbPictures->ControlsDisabled()) return;
        SeenWhileScanning = true;
        ProgressSeen = F.sbMain->PanelText(0);
        EXPECT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_FALSE(F.dsPictures->Enabled());
        if (PressEsc && !EscSent) {
          EscSent = true;
          QWidget* Target = QApplication::focusWidget() ? QApplication::focusWidget() : &F;
          // A key acts on its release only when its press reached the window.
          QKeyEvent Press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
          QApplication::sendEvent(Target, &Press);
          QKeyEvent Release(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
          QApplication::sendEvent(Target, &Release);
        }
      });
      Probe.start();
    };
    TfrmMain::OnComponentsCreated = [this](TfrmMain& F) {
      F.brfldMain->OnDialogShown = [this](TBrowseFolderDialog& D) {
        ++DialogCount;
        D.reject();
      };
      if (BeforeCreate) BeforeCreate(F);
    };
    Form = std::make_unique<TfrmMain>(
        std::vector<std::string>{"TobbinsImbrel", "-Dir:" + Tree.Root()});
    Probe.stop();
    EXPECT_TRUE(SeenWhileScanning);
    EXPECT_TRUE(ProgressSeen.endsWith(" files added...")) << ProgressSeen.toStdString();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(Form->mtbPictures->ControlsDisabled());
    EXPECT_EQ(Form->ExitRequested(), PressEsc);
    if (PressEsc) {
      EXPECT_FALSE(Form->isVisible());
      EXPECT_FALSE(Form->FFullScreen) << "the rest of the start-up is skipped";
    } else {
      EXPECT_TRUE(Form->FFullScreen);
      EXPECT_EQ(Form->mtbPictures->RecordCount(), 400);
      EXPECT_EQ(Panel(1), "1 of 400");
      EXPECT_EQ(DialogCount, 0);
    }
    Form.reset();
  }
}

TEST_F(MainFormTest, ScanAskedInTheFirstPumpReplacesTheRunningOne) {
  Tree.File("one/p.png");
  TTempTree Other;
  WritePng(Other.Path("only.png"), 20, 10);
  Start();
  bool Asked = false;
  QTimer::singleShot(0, [&] {
    Asked = true;
    Form->ScanFolder(Other.Root());
  });
  Form->ScanFolder(Tree.Root());
  ASSERT_TRUE(Asked);
  EXPECT_EQ(Form->mtbPictures->RecordCount(), 1);
  EXPECT_EQ(Panel(2), "only.png (20x10)");
  EXPECT_EQ(Form->lbDir->text().toStdString(), Other.Root());
  // Afterwards scans run as usual.
  Form->ScanFolder(Tree.Root());
  EXPECT_EQ(Form->lbDir->text().toStdString(), Tree.Root());
}

TEST_F(MainFormTest, ScanFromInsideAScanPumpRunsAfterIt) {
  for (int i = 0; i < 300; ++i)
    Tree.File("one/p" + std::to_string(i) + ".png");
  TTempTree Other;
  WritePng(Other.Path("only.png"), 20, 10);
  Tree.File("seed.png");
  Start();
  bool Asked = false;
  QTimer Probe;
  Probe.setInterval(0);
  QObject::connect(&Probe, &QTimer::timeout, [&] {
    if (!Asked && Panel(0) == "100 files added...") {
      Asked = true;
      Form->ScanFolder(Other.Root());
    }
  });
  Probe.start();
  Form->ScanFolder(Tree.Root());
  Probe.stop();
  ASSERT_TRUE(Asked);
  EXPECT_EQ(Form->mtbPictures->RecordCount(), 1);
  EXPECT_EQ(Panel(2), "only.png (20x10)");
  EXPECT_EQ(Form->lbDir->text().toStdString(), Other.Root());
  EXPECT_FALSE(Form->mtbPictures->ControlsDisabled());
}

// ---------------------------------------------------------------------------
// Sort order

TEST_F(MainFormTest, TitleClickSortsWithMarkersAndRescanKeepsIt) {
  // Names, folders, dates and types chosen so that each order differs.
  Tree.File("z/b.png", "", 1'000'000'000);
  Tree.File("y/c.BMP", "", 1'200'000'000);
  Tree.File("x/a.tga", "", 1'100'000'000);
  Start();
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.tga", "b.png", "c.BMP"}));
  const struct {
    const char* Title;
    std::vector<std::string> Order;
    std::vector<unsigned> Markers;
  } Cases[] = {
      {"Location", {"a.tga", "c.BMP", "b.png"}, {0, 1, 0, 0}},
      {"Date", {"b.png", "a.tga", "c.BMP"}, {0, 0, 2, 0}},
      {"Type", {"c.BMP", "b.png", "a.tga"}, {0, 0, 0, 1}},
      {"Name", {"a.tga", "b.png", "c.BMP"}, {1, 0, 0, 0}},
  };
  auto& Columns = Form->dbgPictures->Columns();
  for (const auto& C : Cases) {
    TdagColumn* Column = nullptr;
    for (int i = 0; i < Columns.Count(); ++i)
      if (Columns[i].Title().Caption() == C.Title) Column = &Columns[i];
    ASSERT_NE(Column, nullptr) << C.Title;
    Form->dbgPicturesTitleClick(*Column);
    Form->dbgPicturesTitleClick(*Column); // a second click changes nothing
    // The position panel counts the current picture's row in the new order.
    const auto At = std::find(C.Order.begin(), C.Order.end(), CurrentName());
    ASSERT_NE(At, C.Order.end()) << C.Title;
    EXPECT_EQ(Panel(1), QString::number(At - C.Order.begin() + 1) + " of 3") << C.Title;
    EXPECT_EQ(Form->FSortColumn, C.Title);
    EXPECT_EQ(Names(), C.Order) << C.Title;
    EXPECT_EQ(Markers(), C.Markers) << C.Title;
  }

  // An unknown title changes nothing.
  Form->SetSortColumn("Type");
  Form->SetSortColumn("Size");
  EXPECT_EQ(Form->FSortColumn, "Type");
  EXPECT_EQ(Markers(), (std::vector<unsigned>{0, 0, 0, 1}));

  // A moved column still gets its marker; a rescan keeps the order.
  Columns.Move(3, 0);
  Tree.File("w/d.AFI", "", 1'300'000'000);
  Form->ScanFolder(Tree.Root());
  EXPECT_EQ(Names(), (std::vector<std::string>{"d.AFI", "c.BMP", "b.png", "a.tga"}));
  EXPECT_EQ(Markers(), (std::vector<unsigned>{1, 0, 0, 0}));
  EXPECT_EQ(Columns[0].Title().Caption(), "Type");
}

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
// Pages of multi-page files

class PagedPictures : public MainFormTest {
protected:
  void SetUp() override {
    MainFormTest::SetUp();
    WritePng(Tree.Path("a.png"), 40, 30);
    WritePages<TTiffGraphic>(Tree.Path("b.tif"), {{30, 20}, {40, 25}, {50, 30}});
    WritePages<TDcxGraphic>(Tree.Path("c.dcx"), {{24, 16}, {36, 12}});
  }
  // The popup's captions as it opens, "Page" for the Page submenu.
  QStringList PopupCaptions() {
    Form->mnuMainPopupPopup();
    QStringList L;
    for (QAction* A : Form->mnuMainPopup->actions())
      L << (A->isSeparator() ? "-" : A->text());
    return L;
  }
  bool PagePanelShown() const { return Form->sbMain->PanelVisible(3); }
};

TEST_F(PagedPictures, CtrlPageKeysStepThroughPagesAndWrap) {
  Start();
  EXPECT_FALSE(PagePanelShown()); // a.png: one page
  KeyUp(Qt::Key_PageDown);
  ASSERT_EQ(CurrentName(), "b.tif");
  const struct {
    Qt::Key Key;
    int Page;
    const char* Size;
  } Steps[] = {
      {Qt::Key_PageDown, 2, "(40x25)"}, {Qt::Key_PageDown, 3, "(50x30)"},
      {Qt::Key_PageDown, 1, "(30x20)"}, {Qt::Key_PageUp, 3, "(50x30)"},
      {Qt::Key_PageUp, 2, "(40x25)"},
  };
  EXPECT_EQ(Panel(3), "Page 1 of 3");
  EXPECT_TRUE(PagePanelShown());
  for (const auto& S : Steps) {
    KeyUp(S.Key, Qt::ControlModifier);
    SCOPED_TRACE(S.Page);
    EXPECT_EQ(CurrentName(), "b.tif"); // the row stays
    EXPECT_EQ(Panel(3), "Page " + QString::number(S.Page) + " of 3");
    // The three panels keep their texts: the zoom, the row, the name and the
    // size of the picture shown (the page); Autosize fits each page.
    EXPECT_EQ(Panel(0), "Autosize (" + QString::number(int(Form->imgMain->ZoomPercent())) + ")");
    EXPECT_EQ(Panel(1), "2 of 3");
    EXPECT_EQ(Panel(2), QString("b.tif ") + S.Size);
    EXPECT_EQ(Form->imgMain->ZoomMode(), zmFullPage);
  }
  // Ctrl let go before the page key: one page on, and the row stays.
  QWidget* Target = QApplication::focusWidget();
  ASSERT_NE(Target, nullptr);
  QTest::keyPress(Target, Qt::Key_PageDown, Qt::ControlModifier);
  QTest::keyRelease(Target, Qt::Key_PageDown, Qt::NoModifier);
  EXPECT_EQ(CurrentName(), "b.tif");
  EXPECT_EQ(Panel(3), "Page 3 of 3");
  // The next row starts on its first page; the DCX has two.
  KeyUp(Qt::Key_PageDown);
  EXPECT_EQ(Panel(2), "c.dcx (24x16)");
  EXPECT_EQ(Panel(3), "Page 1 of 2");
  KeyUp(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(Panel(2), "c.dcx (36x12)");
  EXPECT_EQ(Panel(3), "Page 2 of 2");
  KeyUp(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(Panel(2), "c.dcx (24x16)");
  // Back on a one-page file: no indicator, and the page keys do nothing.
  KeyUp(Qt::Key_PageDown);
  EXPECT_EQ(CurrentName(), "a.png");
  EXPECT_FALSE(PagePanelShown());
  KeyUp(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(CurrentName(), "a.png");
  EXPECT_EQ(Panel(2), "a.png (40x30)");
}

TEST_F(PagedPictures, PagesKeepTheZoomModeAndTheListFocus) {
  Start();
  Form->mnuFullScreenClick(); // windowed, list focused
  Reactivate();
  Form->NextPicture();
  ASSERT_EQ(CurrentName(), "b.tif");
  Form->mnuZoom100Click();
  ASSERT_TRUE(Form->dbgPictures->hasFocus());
  // The list keeps its row: the window takes Ctrl+Page Down from it.
  KeyUp(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(CurrentName(), "b.tif");
  EXPECT_EQ(Form->mtbPictures->RecNo(), 2);
  EXPECT_EQ(Panel(3), "Page 2 of 3");
  EXPECT_EQ(Panel(0), "Zoom: 100");
  EXPECT_EQ(Form->imgMain->ZoomMode(), zmOriginalSize);
  EXPECT_EQ(Form->imgMain->DisplayGraphic().Width(), 40);
  // The panel sits at the bar's right edge; the picture panel makes room.
  const QRect Page = Form->sbMain->PanelGeometry(3);
  EXPECT_EQ(Page.right(), Form->sbMain->width() - 1);
  EXPECT_EQ(Form->sbMain->PanelGeometry(2).right() + 1, Page.left());
  KeyUp(Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(Panel(3), "Page 1 of 3");
  EXPECT_EQ(Form->imgMain->DisplayGraphic().Width(), 30);
  // Without Ctrl the list's own keys still move it.
  KeyUp(Qt::Key_PageDown);
  EXPECT_NE(Form->mtbPictures->RecNo(), 2);
}

TEST_F(PagedPictures, PageSubmenuOnlyForMultiPageFiles) {
  Start();
  const QStringList Single = PopupCaptions();
  EXPECT_FALSE(Single.contains("Page"));
  Form->NextPicture(); // b.tif
  const QStringList Paged = PopupCaptions();
  ASSERT_EQ(Paged.size(), Single.size() + 1);
  EXPECT_EQ(Paged.indexOf("Page"), Paged.indexOf("Previous  (Page Up)") + 1);
  QStringList Items;
  for (QAction* A : Form->mnuPageMainMenu->actions())
    Items << A->text();
  EXPECT_EQ(Items, (QStringList{"Next page", "Previous page"}));
  Form->mnuPreviousPage->trigger();
  EXPECT_EQ(Panel(3), "Page 3 of 3");
  Form->mnuNextPage->trigger();
  EXPECT_EQ(Panel(3), "Page 1 of 3");
  Form->NextPicture(); // c.dcx: still paged
  EXPECT_TRUE(PopupCaptions().contains("Page"));
  Form->NextPicture(); // a.png
  EXPECT_EQ(PopupCaptions(), Single);
}

TEST_F(PagedPictures, PageThatCannotBeShownEmptiesTheViewAndSteppingGoesOn) {
  Start();
  Form->NextPicture(); // b.tif, three pages
  // The file is cut short: its pages cannot be read any more. The view
  // empties silently; the indicator names the page asked for.
  std::filesystem::resize_file(Tree.Path("b.tif"), 200);
  KeyUp(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_TRUE(ShownErrors.empty());
  EXPECT_TRUE(Shown().Empty());
  EXPECT_EQ(CurrentName(), "b.tif");
  EXPECT_EQ(Panel(3), "Page 2 of 3");
  KeyUp(Qt::Key_PageDown);
  EXPECT_EQ(Panel(2), "c.dcx (24x16)");
  EXPECT_EQ(Panel(3), "Page 1 of 2");
  // A scan that finds nothing leaves no page panel and no Page submenu.
  for (const char* Name : {"a.png", "b.tif", "c.dcx"})
    std::filesystem::remove(Tree.Path(Name));
  Form->ScanFolder(Tree.Root());
  EXPECT_FALSE(PagePanelShown());
  EXPECT_FALSE(PopupCaptions().contains("Page"));
}

TEST_F(MainFormTest, PhotosShowUprightUnlessSwitchedOff) {
  WriteTurnedJpeg(Tree.Path("photo.jpg"));
  Start();
  EXPECT_EQ(Panel(2), "photo.jpg (20x30)");
  EXPECT_TRUE(OrientationEnabled());
  Form.reset();
  Start({"-Dir:" + Tree.Root(), "-noorient"});
  EXPECT_EQ(Panel(2), "photo.jpg (30x20)");
  EXPECT_FALSE(OrientationEnabled());
  Form.reset();
  Start();
  EXPECT_EQ(Panel(2), "photo.jpg (20x30)");
}

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
    auto Own = TImageScrollBox::LayOut(Shown(), Form->imgMain->DisplayPlan());
    ASSERT_NE(Own, nullptr);
    EXPECT_EQ(Form->imgMain->DisplayGraphic().Width(), Own->Width());
    EXPECT_EQ(Form->imgMain->DisplayGraphic().Height(), Own->Height());
  };
  KeyUp(Qt::Key_PageDown);
  EXPECT_EQ(Ahead.Hits(), 1);
  EXPECT_EQ(Panel(2), "b.png (50x40)");
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

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TImbrelApplication App(argc, argv);
  RegisterImageFormats();
  // Errors that reach the error box are recorded, never shown modally.
  SetExceptionHandler([](const std::string& M) { ShownErrors.push_back(M); });
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

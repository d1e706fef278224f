// The main window's folder scan (what is catalogued, progress, scans asked for
// while one runs, the start-up scan's window and Esc) and the sort order.

#include "tests/app/MainFormFixture.h"

#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <ctime>

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

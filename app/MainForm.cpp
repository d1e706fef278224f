#include "MainForm.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWindow>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <utility>

#include "AboutBox.h"
#include "Application.h"
#include "Bitmap.h"
#include "BrowseFolder.h"
#include "DbAltGrid.h"
#include "DibGraphic.h"
#include "DropFileSource.h"
#include "FolderWalk.h"
#include "ImageScrollBox.h"
#include "Orientation.h"
#include "PicturePrefetch.h"
#include "MainFormAccessible.h"
#include "ScanWorker.h"

std::function<void(TfrmMain&)> TfrmMain::OnComponentsCreated;

namespace {

// Designed bounds of the window and sizes of the panes.
constexpr int DesignedLeft = 356;
constexpr int DesignedTop = 159;
constexpr int DesignedWidth = 607;
constexpr int DesignedHeight = 446;
constexpr int DefaultListWidth = 200; // windowed pane width when none was saved
constexpr int SplitterWidth = 5;
constexpr int StatusBarHeight = 19;
constexpr int ListTopHeight = 25;
constexpr int SplitterMinSize = 30;

const char* const MainCaption = "Tobbins' Imbrel";

// The busy cursor for the whole application while an object lives.
class TBusyCursor {
public:
  TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

QString Num(long long Value) {
  return QString::number(Value);
}

// Column title -> index and sort marker.
struct TSortEntry {
  const char* Title;
  const char* IndexName;
  unsigned Marker;
};
constexpr TSortEntry SortTable[] = {
    {"Name", "mtbidxNameLocation", 1},
    {"Location", "mtbidxLocationName", 1},
    {"Date", "mtbidxDateLocationName", 2},
    {"Type", "mtbidxTypeName", 1},
};

// The file's last-write time in local time, to the second, as the table's
// date-and-time value. False when it cannot be expressed.
bool LocalDateTime(std::time_t Time, TDateTime& Result) {
  std::tm Tm{};
  if (::localtime_r(&Time, &Tm) == nullptr) return false;
  try {
    Result = EncodeDateTime(Tm.tm_year + 1900, Tm.tm_mon + 1, Tm.tm_mday, Tm.tm_hour, Tm.tm_min,
                            Tm.tm_sec > 59 ? 59 : Tm.tm_sec);
  } catch (const EDatabaseError&) {
    return false;
  }
  return true;
}

// Forwards every event of the application to the main window's message hook.
class TAppMessageFilter : public QObject {
public:
  explicit TAppMessageFilter(TfrmMain& Form) : FForm(Form) {}
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    return FForm.AppMessage(Watched, Event);
  }

private:
  TfrmMain& FForm;
};

// Ctrl+Page Down and Ctrl+Page Up, the page keys.
bool IsPageKey(int Key, Qt::KeyboardModifiers Modifiers) {
  return (Modifiers & Qt::ControlModifier) &&
         (Key == TfrmMain::VK_NEXT || Key == TfrmMain::VK_PRIOR);
}

bool IsInside(const QObject* Object, const QWidget* Ancestor) {
  for (const QObject* O = Object; O != nullptr; O = O->parent())
    if (O == Ancestor) return true;
  return false;
}

} // namespace

// ---------------------------------------------------------------------------
// Panels, splitter, status bar

TPanel::TPanel(QWidget* Parent) : QWidget(Parent) {}

void TPanel::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  if (OnResize) OnResize();
}

TSplitter::TSplitter(QWidget* Parent) : QWidget(Parent) {
  setCursor(Qt::SplitHCursor);
}

void TSplitter::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) return;
  FPressed = true;
  FPressX = static_cast<int>(Event->globalPosition().x());
}

void TSplitter::mouseMoveEvent(QMouseEvent* Event) {
  if (!FPressed) return;
  const int X = static_cast<int>(Event->globalPosition().x());
  if (X != FPressX && OnMoved) OnMoved(X - FPressX);
  FPressX = X;
}

void TSplitter::mouseReleaseEvent(QMouseEvent*) {
  FPressed = false;
}

TStatusBar::TStatusBar(QWidget* Parent, std::vector<int> Widths, int StretchPanel)
    : QWidget(Parent), FWidths(std::move(Widths)), FVisible(FWidths.size(), true),
      FStretch(StretchPanel >= 0 ? StretchPanel : static_cast<int>(FWidths.size()) - 1) {
  for (std::size_t i = 0; i < FWidths.size(); ++i) {
    auto* L = new QLabel(this);
    L->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    L->setTextFormat(Qt::PlainText);
    L->setMargin(1);
    FLabels.push_back(L);
  }
}

bool TStatusBar::PanelVisible(int Index) const {
  return FVisible.at(static_cast<std::size_t>(Index));
}

void TStatusBar::SetPanelVisible(int Index, bool Visible) {
  if (PanelVisible(Index) == Visible) return;
  FVisible.at(static_cast<std::size_t>(Index)) = Visible;
  FLabels[static_cast<std::size_t>(Index)]->setVisible(Visible);
  Arrange();
}

QRect TStatusBar::PanelGeometry(int Index) const {
  return PanelVisible(Index) ? FLabels.at(static_cast<std::size_t>(Index))->geometry() : QRect();
}

QString TStatusBar::PanelText(int Index) const {
  return FLabels.at(static_cast<std::size_t>(Index))->text();
}

void TStatusBar::SetPanelText(int Index, const QString& Text) {
  FLabels.at(static_cast<std::size_t>(Index))->setText(Text);
}

void TStatusBar::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  Arrange();
}

void TStatusBar::Arrange() {
  int Fixed = 0;
  for (std::size_t i = 0; i < FLabels.size(); ++i)
    if (FVisible[i] && static_cast<int>(i) != FStretch) Fixed += FWidths[i];
  int Left = 0;
  for (std::size_t i = 0; i < FLabels.size(); ++i) {
    if (!FVisible[i]) continue;
    const int W = static_cast<int>(i) == FStretch ? std::max(0, width() - Fixed) : FWidths[i];
    FLabels[i]->setGeometry(Left, 0, W, height());
    Left += W;
  }
}

// ---------------------------------------------------------------------------
// Construction

TfrmMain::TfrmMain(std::vector<std::string> Args, QWidget* Parent)
    : QWidget(Parent), FArgs(std::move(Args)),
      FPrefetch(std::make_unique<TPicturePrefetch>(
          [](const std::string& Path) { return TImageScrollBox::DecodeFile(Path, 1); },
          &TImageScrollBox::LayOut)) {
  // The worker only starts a timer of this thread, by a queued call that Qt
  // makes and frees itself: the picture is taken here.
  // The screen's resolution, read here once for decodes on the worker.
  ScreenLogPixelsX();
  ScreenLogPixelsY();
  auto* Ready = new QTimer(this);
  Ready->setSingleShot(true);
  Ready->setInterval(0);
  QObject::connect(Ready, &QTimer::timeout, this, Guarded([this] { PrefetchReady(); }));
  FPrefetch->SetOnReady(
      [Ready] { QMetaObject::invokeMethod(Ready, "start", Qt::QueuedConnection); });
  FPrefetchTimer = new QTimer(this);
  FPrefetchTimer->setSingleShot(true);
  QObject::connect(FPrefetchTimer, &QTimer::timeout, this, Guarded([this] { PrefetchAim(); }));
  CreateComponents();
  if (OnComponentsCreated) OnComponentsCreated(*this);
  try {
    FormCreate();
  } catch (const std::exception& E) {
    HandleException(E);
  } catch (...) {
    HandleUnknownException();
  }
}

TfrmMain::~TfrmMain() {
  qApp->removeEventFilter(this);
  if (FAppMessageFilter) qApp->removeEventFilter(FAppMessageFilter.get());
  FDestroyed = true;
  tmMainTimer->stop();
  try {
    FormDestroy();
  } catch (...) {
    // The window goes away regardless.
  }
  // The grid's link and the view must not outlive the table and data source.
  dbgPictures->SetDataSource(nullptr);
  mtbPictures->AfterScroll = nullptr;
  delete pnlLHS;
  pnlLHS = nullptr;
  dbgPictures = nullptr;
  FPrefetch.reset(); // after this the worker posts nothing to the window
}

void TfrmMain::CreateComponents() {
  setObjectName("frmMain");
  setWindowTitle(MainCaption);
  QFont F(QStringLiteral("Sans Serif"));
  F.setStyleHint(QFont::SansSerif);
  F.setPointSize(8);
  setFont(F);
  setAutoFillBackground(true);
  QPalette Black = palette();
  Black.setColor(QPalette::Window, Qt::black);
  setPalette(Black);
  setGeometry(DesignedLeft, DesignedTop, DesignedWidth, DesignedHeight);

  // The picture table and its data source.
  mtbPictures = CreatePictureTable();
  mtbPicturesName = &mtbPictures->FieldByName("Name");
  mtbPicturesLocation = &mtbPictures->FieldByName("Location");
  mtbPicturesDate = &mtbPictures->FieldByName("Date");
  mtbPicturesThumb = &mtbPictures->FieldByName("Thumb");
  mtbPicturesType = &mtbPictures->FieldByName("Type");
  mtbPicturesName->SetDisplayWidth(20);
  mtbPicturesLocation->SetDisplayWidth(30);
  mtbPicturesType->SetDisplayWidth(7);
  mtbPictures->AfterScroll = [this](TmtbCustomMemTable& DataSet) {
    mtbPicturesAfterScroll(DataSet);
  };
  dsPictures = std::make_unique<TDataSource>("dsPictures");
  dsPictures->SetDataSet(mtbPictures.get());

  // Left pane: folder line and the list.
  pnlLHS = new QWidget(this);
  pnlLHS->setObjectName("pnlLHS");
  // The panes keep the usual light colours; only the window and the picture
  // pane are black. Every role is set so that nothing is taken from the window.
  QPalette Light = QApplication::palette();
  for (int Role = 0; Role < QPalette::NColorRoles; ++Role)
    for (auto Group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
      Light.setColor(Group, static_cast<QPalette::ColorRole>(Role),
                     QApplication::palette().color(Group, static_cast<QPalette::ColorRole>(Role)));
  pnlLHS->setAutoFillBackground(true);
  pnlLHS->setPalette(Light);
  pnlLHSTop = new QWidget(pnlLHS);
  pnlLHSTop->setObjectName("pnlLHSTop");
  lbDir = new QLabel(pnlLHSTop);
  lbDir->setObjectName("lbDir");
  lbDir->setTextFormat(Qt::PlainText);
  btnOpenDir = new QToolButton(pnlLHSTop);
  btnOpenDir->setObjectName("btnOpenDir");
  btnOpenDir->setAutoRaise(true);
  btnOpenDir->setIcon(style()->standardIcon(QStyle::SP_DirIcon));
  btnOpenDir->setFocusPolicy(Qt::NoFocus);
  QObject::connect(btnOpenDir, &QToolButton::clicked, this, Guarded([this] { btnOpenDirClick(); }));

  dbgPictures = new TDbAltGrid(pnlLHS);
  dbgPictures->setObjectName("dbgPictures");
  dbgPictures->setAccessibleName("Pictures");
  dbgPictures->SetOptions(PictureListOptions);
  TdagColors Colors = dbgPictures->AltColors();
  Colors.Stripe1 = 16776176;
  dbgPictures->SetAltColors(Colors);
  for (const char* FieldName : {"Name", "Location", "Date", "Type"})
    dbgPictures->Columns().Add().SetFieldName(FieldName);
  dbgPictures->SetDataSource(dsPictures.get());
  dbgPictures->OnTitleClick = [this](TdagColumn& Column) { dbgPicturesTitleClick(Column); };
  dbgPictures->OnCellClick = [this](TdagColumn& Column) { dbgPicturesCellClick(Column); };
  dbgPictures->OnSelectionChanged = [this] {
    // Only a count of selected rows is rewritten here; a row number follows
    // the picture shown (a picture that fails to load keeps the texts before).
    if (dbgPictures->SelectedRows().Count() > 1 || sbMain->PanelText(1).endsWith(" selected"))
      UpdateSelectionCount();
  };

  splMain = new TSplitter(this);
  splMain->setObjectName("splMain");
  splMain->OnMoved = [this](int Delta) {
    const int Max = std::max(SplitterMinSize, width() - FSplitterWidth - SplitterMinSize);
    SetListWidth(std::clamp(FListWidth + Delta, SplitterMinSize, Max));
  };

  // Right pane: the picture view.
  pnlRHS = new TPanel(this);
  pnlRHS->setObjectName("pnlRHS");
  pnlRHS->setAutoFillBackground(true);
  pnlRHS->setPalette(Black);
  imgMain = new TImageScrollBox(pnlRHS);
  imgMain->setObjectName("imgMain");
  imgMain->HorzScrollBar().SetVisible(false);
  imgMain->VertScrollBar().SetVisible(false);
  imgMain->HorzScrollBar().SetTracking(true);
  imgMain->VertScrollBar().SetTracking(true);
  imgMain->SetZoomMode(zmFullPage);
  imgMain->SetZoomPercent(100);
  imgMain->SetCentered(true);
  imgMain->setFocusPolicy(Qt::StrongFocus);
  imgMain->OnZoomChange = [this](TImageScrollBox&, float) { imgMainZoomChange(); };
  // Shown in the status bar, not in a box: a slide show goes on.
  imgMain->OnZoomRefused = [this](TImageScrollBox&, const std::string& Why) {
    SetPanel(2, QString::fromStdString(Why));
  };
  pnlRHS->OnResize = [this] { pnlRHSResize(); };

  // Panels 0 to 2 are the zoom, the row and the picture; panel 3, at the right
  // edge, is the page of a multi-page file and shows only for such files.
  sbMain = new TStatusBar(this, {120, 120, 50, 100}, 2);
  sbMain->SetPanelVisible(3, false);
  sbMain->setObjectName("sbMain");
  sbMain->setAutoFillBackground(true);
  sbMain->setPalette(Light);
  DescribeStatusBar(*sbMain, {"Zoom", "Position", "Picture", "Page"});

  CreateMenu();

  tmMainTimer = new QTimer(this);
  tmMainTimer->setObjectName("tmMainTimer");
  tmMainTimer->setInterval(4000);
  QObject::connect(tmMainTimer, &QTimer::timeout, this, Guarded([this] { tmMainTimerTimer(); }));

  brfldMain = std::make_unique<TBrowseFolder>(this);
  brfldMain->Flags = bfFileSysDirsOnly | bfStatusText;
  brfldMain->ShowPathInStatusArea = false;
  brfldMain->OnSelectionChanged = [this](TBrowseFolder& Sender, QWidget* Dialog,
                                         const std::string& Directory) {
    brfldMainSelectionChanged(Sender, Dialog, Directory);
  };
  dropSourceImages = std::make_unique<TDropFileSource>();
  dropSourceImages->DragTypes = dtCopy;

  // Key preview and the window's double-click: the window sees these before
  // the control that receives them.
  qApp->installEventFilter(this);
  LayoutPanes();
  FitView(); // the view has its pane's size before the first picture is laid out
}

void TfrmMain::CreateMenu() {
  mnuMainPopup = new QMenu(this);
  mnuMainPopup->setObjectName("mnuMainPopup");
  auto Item = [this](QMenu* Menu, const char* Name, const char* Caption, auto Handler) {
    QAction* A = Menu->addAction(QString::fromUtf8(Caption));
    A->setObjectName(Name);
    // The toolkit flips a checkable item's check mark before the handler
    // runs; the handlers set the mark themselves, so it is put back first.
    QObject::connect(A, &QAction::triggered, this, Guarded([A, Handler] {
                       if (A->isCheckable()) A->setChecked(!A->isChecked());
                       Handler();
                     }));
    return A;
  };
  auto Separator = [](QMenu* Menu, const char* Name) {
    QAction* A = Menu->addSeparator();
    A->setObjectName(Name);
    return A;
  };
  mnuCurrentFile = Item(mnuMainPopup, "mnuCurrentFile", "(current file)", [] {});
  mnuSelectAll = Item(mnuMainPopup, "mnuSelectAll", "Select All", [this] { mnuSelectAllClick(); });
  N2 = Separator(mnuMainPopup, "N2");
  mnuFullScreen =
      Item(mnuMainPopup, "mnuFullScreen", "Full Screen", [this] { mnuFullScreenClick(); });
  mnuFullScreen->setCheckable(true);
  mnuFullScreen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  mnuFullScreen->setShortcutContext(Qt::WindowShortcut);
  addAction(mnuFullScreen); // the shortcut works whatever control has the focus
  mnuSlideShow = Item(mnuMainPopup, "mnuSlideShow", "Slide Show", [this] { mnuSlideShowClick(); });
  mnuSlideShow->setCheckable(true);
  mnuNext = Item(mnuMainPopup, "mnuNext", "Next        (Page Down)", [this] { mnuNextClick(); });
  mnuPrevious =
      Item(mnuMainPopup, "mnuPrevious", "Previous  (Page Up)", [this] { mnuPreviousClick(); });
  // The Page submenu: made here, put into the popup only for a multi-page file.
  mnuPageMainMenu = new QMenu(QStringLiteral("Page"), this);
  mnuPageMainMenu->setObjectName("mnuPageMainMenu");
  mnuPageMain = mnuPageMainMenu->menuAction();
  mnuPageMain->setObjectName("mnuPageMain");
  mnuNextPage = Item(mnuPageMainMenu, "mnuNextPage", "Next page", [this] { NextPage(); });
  mnuPreviousPage =
      Item(mnuPageMainMenu, "mnuPreviousPage", "Previous page", [this] { PreviousPage(); });
  N3 = Separator(mnuMainPopup, "N3");
  mnuZoomMainMenu = mnuMainPopup->addMenu("Zoom");
  mnuZoomMainMenu->setObjectName("mnuZoomMainMenu");
  mnuZoomMain = mnuZoomMainMenu->menuAction();
  mnuZoomMain->setObjectName("mnuZoomMain");
  mnuAutosize = Item(mnuZoomMainMenu, "mnuAutosize", "Autosize", [this] { mnuAutosizeClick(); });
  mnuAutosize->setCheckable(true);
  mnuAutosize->setChecked(true);
  N4 = Separator(mnuZoomMainMenu, "N4");
  mnuZoomIn = Item(mnuZoomMainMenu, "mnuZoomIn", "In  (+)", [this] { mnuZoomInClick(); });
  mnuZoomOut = Item(mnuZoomMainMenu, "mnuZoomOut", "Out (-)", [this] { mnuZoomOutClick(); });
  mnuZoom100 = Item(mnuZoomMainMenu, "mnuZoom100", "100", [this] { mnuZoom100Click(); });
  N1 = Separator(mnuMainPopup, "N1");
  mnuDirectory = Item(mnuMainPopup, "mnuDirectory", "Open...", [this] { btnOpenDirClick(); });
  mnuAbout = Item(mnuMainPopup, "mnuAbout", "About...", [this] { mnuAboutClick(); });
  mnuExit = Item(mnuMainPopup, "mnuExit", "Exit          (Esc)", [this] { mnuExitClick(); });
  QObject::connect(mnuMainPopup, &QMenu::aboutToShow, this,
                   Guarded([this] { mnuMainPopupPopup(); }));
}

// Puts the status bar at the bottom, the left pane and the splitter at the
// left and the right pane in the rest, as the panes' alignments ask.
void TfrmMain::LayoutPanes() {
  const int W = width();
  const int H = std::max(0, height() - FStatusHeight);
  sbMain->setGeometry(0, H, W, FStatusHeight);
  sbMain->setVisible(FStatusHeight > 0);
  const int ListW = std::min(FListWidth, W);
  pnlLHS->setGeometry(0, 0, ListW, H);
  pnlLHS->setVisible(ListW > 0);
  pnlLHSTop->setGeometry(0, 0, ListW, ListTopHeight);
  lbDir->setGeometry(4, 6, std::max(0, ListW - 36), 13); // stretches with the pane
  btnOpenDir->setGeometry(ListW - 27, 1, 23, 22);        // anchored to the right edge
  dbgPictures->setGeometry(0, ListTopHeight, ListW, std::max(0, H - ListTopHeight));
  const int SplitW = std::min(FSplitterWidth, W - ListW);
  splMain->setGeometry(ListW, 0, SplitW, H);
  splMain->setVisible(SplitW > 0);
  const int RightLeft = ListW + SplitW;
  pnlRHS->setGeometry(RightLeft, 0, std::max(0, W - RightLeft), H);
}

void TfrmMain::SetListWidth(int Width) {
  FListWidth = std::max(0, Width);
  LayoutPanes();
}

void TfrmMain::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  LayoutPanes();
}

// ---------------------------------------------------------------------------
// Start-up and lifetime

void TfrmMain::FormCreate() {
  FFullScreen = false;
  mtbPictures->Open();
  const TCommandLine CommandLine = ParseCommandLine(FArgs, ProgramFolder());
  SetOrientationEnabled(!CommandLine.NoOrient);
  // IMBREL_DECODE_AHEAD=off switches decoding ahead off (to compare stepping
  // with and without it from outside).
  if (qEnvironmentVariable("IMBREL_DECODE_AHEAD") == QLatin1String("off")) SetPrefetchEnabled(false);
  // Double buffering: every widget paints through a back buffer here.
  {
    // A scan still running after a moment shows the window (see CatalogueTree).
    FStartupScan = true;
    struct TEnd {
      bool& Flag;
      ~TEnd() { Flag = false; }
    } End{FStartupScan};
    if (CommandLine.FolderFound) {
      ScanFolder(CommandLine.FolderText);
    } else if (!CommandLine.PathFolder.empty()) {
      // A folder or picture path (what "Open with" passes): the scan starts on
      // the picture when it was one.
      FStartLocation = CommandLine.PathFolder;
      FStartName = CommandLine.PathPicture;
      ScanFolder(CommandLine.PathFolder);
    } else {
      ScanFolder(ProgramFolder());
    }
  }
  if (FExitRequested) {
    hide();
    return;
  }
  if (mtbPictures->RecordCount() == 0) btnOpenDirClick();
  SetFullScreen(true);
  FZoom = imgMain->ZoomPercent();
  if (CommandLine.SlideShow) SetSlideShow(true);
  InstallAppMessage();
}

void TfrmMain::InstallAppMessage() {
  FAppMessageFilter = std::make_unique<TAppMessageFilter>(*this);
  qApp->installEventFilter(FAppMessageFilter.get());
}

void TfrmMain::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  if (Event->spontaneous()) return;
  if (!FShownOnce) {
    FShownOnce = true;
    // Placed at the screen centre when first shown in the windowed layout.
    if (!FFullScreen) {
      if (const QScreen* S = screen()) {
        const QRect R = S->geometry();
        move(R.x() + (R.width() - width()) / 2, R.y() + (R.height() - height()) / 2);
      }
    }
    try {
      FormShow();
    } catch (const std::exception& E) {
      HandleException(E);
    }
    // Decoding ahead starts once the first picture has had time to be painted.
    QTimer::singleShot(250, this, Guarded([this] { SchedulePrefetch(); }));
  }
}

void TfrmMain::FormShow() {
  if (FFullScreen)
    imgMain->setFocus();
  else
    dbgPictures->setFocus();
}

void TfrmMain::FormDestroy() {
  mtbPictures->Close();
}

// ---------------------------------------------------------------------------
// Catalogue scan

void TfrmMain::SetPanel(int Index, const QString& Text) {
  sbMain->SetPanelText(Index, Text);
}

void TfrmMain::ScanFolder(const std::string& Folder) {
  if (FScanning) {
    // Asked from a message pump of the running scan: that walk ends, and this
    // folder is catalogued after its clean-up.
    FPendingScan = Folder;
    FAbortScan = true;
    return;
  }
  FPrefetch->Clear();
  FAwaited.clear();
  FShownPath.clear();
  SetPanel(0, "0 files added...");
  SetPanel(1, "Reading directories...");
  SetPanel(2, "");
  imgMain->Clear();
  FPage = FPageCount = 1;
  UpdatePagePanel();

  bool Completed = false;
  {
    // From here a scan asked for in a message pump waits for this one.
    FScanning = true;
    struct TScanning {
      TfrmMain& F;
      ~TScanning() {
        F.FScanning = false;
        F.FAbortScan = false;
      }
    } Scanning{*this};
    QCoreApplication::processEvents();

    TBusyCursor Busy;
    dsPictures->SetEnabled(false);
    mtbPictures->DisableControls();
    // Clean-up on every path out of the walk.
    struct TCleanup {
      TfrmMain& F;
      ~TCleanup() {
        F.mtbPictures->EnableControls();
        F.dsPictures->SetEnabled(true);
      }
    } Cleanup{*this};
    mtbPictures->ClearRecords();

    const std::string Root = MakeRootPath(Folder);
    lbDir->setText(QString::fromStdString(Folder));
    Completed = !FAbortScan && CatalogueTree(Root);
  }

  if (FPendingScan) {
    const std::string Next = std::move(*FPendingScan);
    FPendingScan.reset();
    ScanFolder(Next);
    return;
  }
  if (!Completed) return;
  SetSortColumn(FSortColumn.empty() ? std::string("Name") : FSortColumn);
  if (!GoToStartPicture()) mtbPictures->First();
  UpdateStatusBar();
  // The other sort orders are made ready in the background for the first
  // click on a column title.
  mtbPictures->PrepareIndexes();
}

// Walks the tree on a worker thread and posts what it finds here, in the
// walk's order, while the event loop keeps running: the window repaints and
// answers keys throughout. Every 100th picture shows the count. Answers false
// when the walk was ended early (a new scan asked for, or the program ends).
bool TfrmMain::CatalogueTree(const std::string& Root) {
  TScanWorker Worker(Root);
  QEventLoop Loop;
  QTimer Tick;
  Tick.setInterval(1);
  std::vector<TFoundPicture> Found;
  size_t Next = 0; // the first picture of Found not posted yet
  long long Count = 0;
  bool Ended = false;
  std::exception_ptr Failure;
  QElapsedTimer Clock;
  Clock.start();
  QObject::connect(&Tick, &QTimer::timeout, [&] {
    try {
      if (FAbortScan) {
        Worker.Stop();
        Loop.quit();
        return;
      }
      // Posts up to the next hundred (whose count is shown, then painted
      // before the next tick), or for a few milliseconds at most.
      QElapsedTimer Budget;
      Budget.start();
      bool Done = false, Hundred = false;
      while (!Hundred && Budget.elapsed() < 15) {
        if (Next == Found.size()) {
          Found.clear();
          Next = 0;
          Done = Worker.Take(Found);
          if (Found.empty()) break;
        }
        for (; Next < Found.size() && !Hundred; ++Next) {
          const TFoundPicture& P = Found[Next];
          TDateTime Date = 0;
          if (!P.HasTime || !LocalDateTime(P.MTime, Date)) continue; // time unreadable: skipped
          mtbPictures->Insert();
          mtbPicturesName->SetAsString(P.Name);
          mtbPicturesLocation->SetAsString(*P.Folder);
          mtbPicturesDate->SetAsDateTime(Date);
          mtbPicturesType->SetAsString(P.Type);
          mtbPictures->Post();
          ++Count;
          if (Count % 100 == 0) {
            SetPanel(0, Num(Count) + " files added...");
            Hundred = true;
          }
        }
      }
      if (Done && Next == Found.size()) {
        Ended = true;
        Loop.quit();
      }
      // Waiting for the walk: look again shortly; with pictures at hand, at once.
      Tick.setInterval(Next < Found.size() || Hundred ? 0 : 2);
      // A start-up scan that takes long shows the window meanwhile.
      if (FStartupScan && !isVisible() && Clock.elapsed() >= StartupShowDelayMs) show();
    } catch (...) {
      Failure = std::current_exception();
      Worker.Stop();
      Loop.quit();
    }
  });
  Tick.start();
  Loop.exec();
  Tick.stop();
  if (Failure) std::rethrow_exception(Failure);
  return Ended && !FAbortScan;
}

bool TfrmMain::GoToStartPicture() {
  const std::string Location = std::exchange(FStartLocation, std::string());
  const std::string Name = std::exchange(FStartName, std::string());
  if (Name.empty()) return false;
  TBookmark Found;
  mtbPictures->DisableControls();
  {
    struct TEnable {
      TmtbMemTable& T;
      ~TEnable() { T.EnableControls(); }
    } Enable{*mtbPictures};
    for (mtbPictures->First(); !mtbPictures->Eof() && Found.empty(); mtbPictures->Next())
      if (mtbPicturesName->AsString() == Name && mtbPicturesLocation->AsString() == Location)
        Found = mtbPictures->Bookmark();
  }
  if (Found.empty()) return false;
  // Moving there with controls enabled shows the picture.
  mtbPictures->GotoBookmark(Found);
  return true;
}

// ---------------------------------------------------------------------------
// Sort order

void TfrmMain::SetSortColumn(const std::string& ColumnTitle) {
  const TSortEntry* Entry = nullptr;
  for (const auto& E : SortTable)
    if (ColumnTitle == E.Title) Entry = &E;
  if (Entry == nullptr) return;
  mtbPictures->SetIndexName(Entry->IndexName);
  FSortColumn = ColumnTitle;
  const QString Title = QString::fromStdString(ColumnTitle);
  TdagColumns& Columns = dbgPictures->Columns();
  TdagColumn* Sorted = nullptr;
  for (int i = 0; i < Columns.Count() && Sorted == nullptr; ++i)
    if (Columns[i].Title().Caption() == Title) Sorted = &Columns[i];
  for (int i = 0; i < Columns.Count(); ++i)
    if (&Columns[i] != Sorted) Columns[i].SetSortMarker(0);
  if (Sorted != nullptr) Sorted->SetSortMarker(Entry->Marker);
  SchedulePrefetch(); // the neighbours of the row are others now
}

void TfrmMain::dbgPicturesTitleClick(TdagColumn& Column) {
  SetSortColumn(Column.Title().Caption().toStdString());
  // The current row keeps its picture but has another position in the new order.
  UpdateSelectionCount();
}

// ---------------------------------------------------------------------------
// Display and zoom

bool TfrmMain::Autosize() const {
  return mnuAutosize->isChecked();
}

void TfrmMain::mtbPicturesAfterScroll(TmtbCustomMemTable& DataSet) {
  if (DataSet.ControlsDisabled()) return;
  if (mtbPicturesName->IsNull()) return;
  const std::string Path = mtbPicturesLocation->AsString() + mtbPicturesName->AsString();
  // Steps closer together than the pause hold decoding ahead back.
  const long long Now = QDateTime::currentMSecsSinceEpoch();
  FQuickSteps = Now - FLastStepMs < PrefetchPauseMs;
  FLastStepMs = Now;
  const int RecNo = mtbPictures->RecNo();
  FBackwards = RecNo == FLastRecNo - 1 ||
               (FLastRecNo == 1 && RecNo == mtbPictures->RecordCount() && RecNo > 2);
  FLastRecNo = RecNo;
  if (FKeyHeld && FPrefetchEnabled && !FPrefetch->Decoded(Path)) {
    // A held key moves the list at key speed: the worker decodes this row's
    // picture, and the view shows it when it is ready (PrefetchReady) unless
    // the cursor has moved on by then. Nothing waits here.
    FAwaited = Path;
    FPrefetch->Hurry(Path, imgMain->DisplayPlan());
    return;
  }
  ShowPicture(Path);
}

// Shows the file's picture: the one decoded ahead when it is this file,
// unchanged; otherwise (and after a failed decode ahead) the file is decoded
// here, failing here as well.
void TfrmMain::ShowPicture(const std::string& Path) {
  FAwaited.clear();
  const int H = imgMain->HorzScrollBar().Position();
  const int V = imgMain->VertScrollBar().Position();
  try {
    std::unique_ptr<TReadyPicture> Ready;
    if (FPrefetchEnabled) Ready = FPrefetch->Take(Path, TPicturePrefetch::WaitLimit);
    if (!Ready) {
      // Decoded here: the pictures decoded ahead for other rows go first, so
      // that this decode and the worker's stay within the budget of pictures.
      if (FPrefetchEnabled) FPrefetch->Clear();
      Ready = std::make_unique<TReadyPicture>();
      Ready->Path = Path;
      StampFile(Path, Ready->Stamp); // before decoding: a later write is noticed
      Ready->Laid.Picture = TImageScrollBox::DecodeFile(Path, 1);
    }
    const TFileStamp Stamp = Ready->Stamp;
    auto Old = std::make_unique<TReadyPicture>();
    Old->Laid = imgMain->LoadFromGraphic(std::move(Ready->Laid));
    // The picture stepped away from is the likely way back.
    if (FPrefetchEnabled) {
      if (FShownPath != Path) {
        Old->Path = FShownPath;
        Old->Stamp = FShownStamp;
      }
      FPrefetch->Keep(std::move(Old));
    }
    Old.reset();
    FShownPath = Path;
    FShownStamp = Stamp;
    FPage = 1;
    FPageCount = imgMain->Graphic().PageCount();
    FPagePath = Path;
    FitView();
    UpdateStatusBar();
  } catch (...) {
    // A picture that cannot be shown leaves the view empty, silently; the
    // status bar keeps the texts of the picture before, and no page panel.
    imgMain->Clear();
    FShownPath.clear();
    FPage = FPageCount = 1;
    UpdatePagePanel();
  }
  SchedulePrefetch();
  imgMain->HorzScrollBar().SetPosition(H);
  imgMain->VertScrollBar().SetPosition(V);
}

void TfrmMain::FitView() {
  const int AreaW = FFullScreen ? width() : pnlRHS->width();
  const int AreaH = FFullScreen ? height() : pnlRHS->height();
  if (Autosize()) {
    imgMain->SetMouseMode(mmQuickSelect);
  } else {
    TDibGraphic& G = imgMain->Graphic();
    const int Gw = G.Empty() ? 0 : G.Width();
    const int Gh = G.Empty() ? 0 : G.Height();
    const auto DisplayH = static_cast<long long>(std::trunc(Gh * FZoom / 100));
    const auto DisplayW = static_cast<long long>(std::trunc(Gw * FZoom / 100));
    imgMain->SetMouseMode(DisplayH >= AreaH || DisplayW >= AreaW ? mmDrag : mmQuickSelect);
  }
  imgMain->setGeometry(0, 0, pnlRHS->width(), pnlRHS->height());
  // A hidden window defers size changes until it is shown; the view lays
  // itself out with its new size now, as the start-up takes its percent.
  if (imgMain->testAttribute(Qt::WA_PendingResizeEvent)) {
    imgMain->setAttribute(Qt::WA_PendingResizeEvent, false);
    QResizeEvent Resize(imgMain->size(), QSize());
    QApplication::sendEvent(imgMain, &Resize);
  }
}

void TfrmMain::ZoomBy(int32_t Percent) {
  const int H = imgMain->HorzScrollBar().Position();
  const int V = imgMain->VertScrollBar().Position();
  const double Z = imgMain->ZoomPercent();
  const double F = Percent / 100.0;
  const double Zoom = Z + F * Z;
  // A zoom past the memory budget is refused (OnZoomRefused tells why): the
  // picture stays as it is.
  std::string Why;
  if (Percent > 0 && !imgMain->Graphic().Empty() &&
      !imgMain->ZoomFits(static_cast<float>(Zoom), Why)) {
    if (imgMain->OnZoomRefused) imgMain->OnZoomRefused(*imgMain, Why);
    return;
  }
  FZoom = Zoom;
  mnuAutosize->setChecked(false);
  if (imgMain->ZoomMode() != zmPercent) imgMain->SetZoomMode(zmPercent);
  imgMain->SetZoomPercent(static_cast<float>(FZoom));
  FitView();
  imgMain->HorzScrollBar().SetPosition(static_cast<int>(std::trunc(H + F * H)));
  imgMain->VertScrollBar().SetPosition(static_cast<int>(std::trunc(V + F * V)));
  // The view reports a new percent only when it is not a whole number (it
  // compares the rounded old percent with the new one after storing the new
  // one), so the status bar would keep naming the old zoom: rewrite it here.
  UpdateStatusBar();
}

void TfrmMain::mnuAutosizeClick() {
  mnuAutosize->setChecked(!mnuAutosize->isChecked());
  if (mnuAutosize->isChecked() && imgMain->ZoomMode() != zmFullPage)
    imgMain->SetZoomMode(zmFullPage);
  FitView();
  UpdateStatusBar();
}

void TfrmMain::mnuZoom100Click() {
  FZoom = 100;
  mnuAutosize->setChecked(false);
  imgMain->SetZoomMode(zmOriginalSize);
  FitView();
}

void TfrmMain::imgMainZoomChange() {
  UpdateStatusBar();
  imgMain->SetMouseMode(Autosize() ? mmQuickSelect : mmDrag);
}

void TfrmMain::pnlRHSResize() {
  if (imgMain != nullptr) FitView();
  if (FPrefetchTimer != nullptr) SchedulePrefetch(); // pictures ahead are laid out again
}

void TfrmMain::UpdateStatusBar() {
  const long long N = static_cast<long long>(std::trunc(imgMain->ZoomPercent()));
  SetPanel(0, Autosize() ? "Autosize (" + Num(N) + ")" : "Zoom: " + Num(N));
  UpdateSelectionCount();
  const QString Name = mtbPictures->IsEmpty() || mtbPicturesName->IsNull()
                           ? QString()
                           : QString::fromStdString(mtbPicturesName->AsString());
  TDibGraphic& G = imgMain->Graphic();
  if (!G.Empty())
    SetPanel(2, Name + " (" + Num(G.Width()) + "x" + Num(G.Height()) + ")");
  else
    SetPanel(2, Name);
  UpdatePagePanel();
}

// The fourth panel: "Page n of N" for a file of several pages, else hidden.
void TfrmMain::UpdatePagePanel() {
  if (FPageCount > 1) SetPanel(3, "Page " + Num(FPage) + " of " + Num(FPageCount));
  sbMain->SetPanelVisible(3, FPageCount > 1);
}

// Shows the page Delta pages on, wrapping within the file shown (which is not
// the current row's after Select All), as a row change shows a picture: in the picture's zoom mode,
// keeping the scroll positions; a page that cannot be shown leaves the view empty, silently.
void TfrmMain::StepPage(int Delta) {
  if (FPageCount < 2) return;
  FPage = ((FPage - 1 + Delta) % FPageCount + FPageCount) % FPageCount + 1;
  const int H = imgMain->HorzScrollBar().Position();
  const int V = imgMain->VertScrollBar().Position();
  try {
    imgMain->LoadFromFile(FPagePath, FPage);
    // The file may have been replaced by one with fewer pages since.
    FPageCount = imgMain->Graphic().PageCount();
    FPage = std::min(FPage, FPageCount);
    FitView();
    UpdateStatusBar();
  } catch (...) {
    imgMain->Clear();
    UpdatePagePanel();
  }
  imgMain->HorzScrollBar().SetPosition(H);
  imgMain->VertScrollBar().SetPosition(V);
}

// Panel 1. Also rewritten on its own once a key or press in the list has
// changed the selection, so the count includes the row a Shift move reached.
void TfrmMain::UpdateSelectionCount() {
  const int Selected = dbgPictures->SelectedRows().Count();
  const int Count = mtbPictures->RecordCount();
  if (Selected > 1)
    SetPanel(1, Num(Selected) + " of " + Num(Count) + " selected");
  else
    SetPanel(1, Num(mtbPictures->RecNo()) + " of " + Num(Count));
}

// ---------------------------------------------------------------------------
// Navigation, slide show, full screen

// On the last row Next would re-show that row's picture before First shows
// the first one; going to First at once shows the same, one load sooner.
// Previous on the first row likewise.
void TfrmMain::NextPicture() {
  const int Count = mtbPictures->RecordCount();
  if (Count > 0 && mtbPictures->RecNo() == Count) {
    mtbPictures->First();
    return;
  }
  mtbPictures->Next();
  if (mtbPictures->Eof()) mtbPictures->First();
}

void TfrmMain::PreviousPicture() {
  if (mtbPictures->RecordCount() > 0 && mtbPictures->RecNo() == 1) {
    mtbPictures->Last();
    return;
  }
  mtbPictures->Prior();
  if (mtbPictures->Bof()) mtbPictures->Last();
}

void TfrmMain::SetPrefetchEnabled(bool Value) {
  FPrefetchEnabled = Value;
  if (!Value) FPrefetch->Clear();
}

// After a picture is shown, the pictures a step would show next are decoded
// ahead, from the event loop: at once after a step that came after a pause,
// else once the steps have paused. A held key restarts the wait with every
// step, so nothing is decoded ahead while it moves the list.
void TfrmMain::SchedulePrefetch() {
  if (!FPrefetchEnabled || FDestroyed) return;
  FPrefetchTimer->start(FQuickSteps ? PrefetchPauseMs : 0);
}

void TfrmMain::PrefetchAim() {
  // Before the window is first shown nothing is decoded ahead: the start-up
  // picture's first paint comes first (see showEvent).
  if (!FPrefetchEnabled || FDestroyed || FScanning || !FShownOnce || !mtbPictures->Active() ||
      mtbPictures->ControlsDisabled())
    return;
  if (!FAwaited.empty()) return; // the row's own picture comes first
  const int Count = mtbPictures->RecordCount();
  const int Current = mtbPictures->RecNo();
  if (Count < 2 || Current < 1) {
    FPrefetch->Clear();
    return;
  }
  auto PathAt = [&](int RecNo) {
    return mtbPicturesLocation->AsStringAt(RecNo) + mtbPicturesName->AsStringAt(RecNo);
  };
  const std::string Next = PathAt(Current == Count ? 1 : Current + 1);
  const std::string Previous = PathAt(Current == 1 ? Count : Current - 1);
  std::vector<std::string> Paths;
  if (FSlideShow)
    Paths = {Next};
  else if (FBackwards)
    Paths = {Previous, Next};
  else
    Paths = {Next, Previous};
  if (Paths.size() == 2 && Paths[0] == Paths[1]) Paths.pop_back();
  // Each picture ahead takes about what the shown one takes, display copy
  // included; when that is not to be had, nothing is decoded ahead.
  const TDibGraphic& G = imgMain->Graphic();
  const uint64_t Bytes = G.Empty() ? 0 : 2ull * uint64_t(G.BytesPerRow()) * uint64_t(G.Height());
  if (MemoryShort(Bytes * Paths.size())) {
    FPrefetch->Clear();
    return;
  }
  FPrefetch->Aim(Paths, imgMain->DisplayPlan());
}

// The worker has stored a picture: the one the view waits for is shown when
// the cursor is still on its row.
void TfrmMain::PrefetchReady() {
  if (FDestroyed || FAwaited.empty() || mtbPictures->ControlsDisabled() ||
      mtbPicturesName->IsNull())
    return;
  const std::string Path = mtbPicturesLocation->AsString() + mtbPicturesName->AsString();
  if (Path != FAwaited) return;
  if (FPrefetch->Decoded(Path)) ShowPicture(Path);
}

// A key that repeats moves the list without waiting for pictures; once it is
// let go, the row it ended on is shown at once (decoded here when the worker
// is busy with a row passed on the way).
void TfrmMain::NoteHeldKey(QObject* Watched, QEvent* Event) {
  if (FDestroyed || !Watched->isWidgetType() || static_cast<QWidget*>(Watched)->window() != this)
    return;
  const auto* Key = static_cast<QKeyEvent*>(Event);
  if (Event->type() == QEvent::KeyPress && Key->isAutoRepeat()) {
    FKeyHeld = true;
  } else if (Event->type() == QEvent::KeyRelease && !Key->isAutoRepeat() && FKeyHeld) {
    FKeyHeld = false;
    QTimer::singleShot(0, this, Guarded([this] {
                         if (FKeyHeld || FAwaited.empty() || mtbPicturesName->IsNull()) return;
                         const std::string Path =
                             mtbPicturesLocation->AsString() + mtbPicturesName->AsString();
                         if (Path == FAwaited) ShowPicture(Path);
                       }));
  }
}

void TfrmMain::SetSlideShow(bool Value) {
  if (Value)
    tmMainTimer->start();
  else
    tmMainTimer->stop();
  FSlideShow = Value;
  mnuSlideShow->setChecked(Value);
}

// Changes the window's border in place. QWidget::setWindowFlags would hide the
// window and show it again; the window system then keeps its input focus on
// the window while the application forgets that the window is active (no
// focus widget, so the list shows no focus and assistive tools see no active
// window).
void TfrmMain::SetBorder(bool Value) {
  Qt::WindowFlags Flags = windowFlags();
  Flags.setFlag(Qt::FramelessWindowHint, !Value);
  if (QWindow* Native = windowHandle()) {
    overrideWindowFlags(Flags);
    Native->setFlags(Flags);
  } else {
    setWindowFlags(Flags);
  }
}

void TfrmMain::SetFullScreen(bool Value) {
  const bool WasVisible = isVisible();
  if (Value) {
    SetBorder(false); // border style none
    setWindowTitle(QString());
    if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))) {
      // Bounds of the window's area (without a window manager's frame).
      const QRect G = geometry();
      FSavedTop = G.y();
      FSavedLeft = G.x();
      FSavedHeight = G.height();
      FSavedWidth = G.width();
      FSavedListWidth = FListWidth;
    }
    const QScreen* S = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    const QRect R = S != nullptr ? S->geometry() : QRect(0, 0, 800, 600);
    setGeometry(0, 0, R.width(), R.height());
    FStatusHeight = 0;
    FListWidth = 0;
    FSplitterWidth = 0;
    FFullScreen = true;
  } else {
    SetBorder(true); // sizeable border
    setWindowTitle(MainCaption);
    setGeometry(FSavedLeft, FSavedTop, FSavedWidth, FSavedHeight);
    FSplitterWidth = SplitterWidth;
    FListWidth = FSavedListWidth > 0 ? FSavedListWidth : DefaultListWidth;
    FStatusHeight = StatusBarHeight;
    FFullScreen = false;
  }
  LayoutPanes();
  if (WasVisible && !isVisible()) {
    // Changing the border hides the window: show it again, active as before.
    show();
    activateWindow();
  }
  FitView();
  mnuFullScreen->setChecked(FFullScreen);
  UpdateStatusBar();
  SchedulePrefetch();
}

void TfrmMain::mnuFullScreenClick() {
  SetFullScreen(!FFullScreen);
  if (FFullScreen)
    imgMain->setFocus();
  else
    dbgPictures->setFocus();
}

// ---------------------------------------------------------------------------
// Keyboard and popup menu

int TfrmMain::VirtualKey(int QtKey, Qt::KeyboardModifiers Modifiers) {
  switch (QtKey) {
  case Qt::Key_Escape:
    return VK_ESCAPE;
  case Qt::Key_PageUp:
    return VK_PRIOR;
  case Qt::Key_PageDown:
    return VK_NEXT;
  case Qt::Key_Left:
    return VK_LEFT;
  case Qt::Key_Up:
    return VK_UP;
  case Qt::Key_Right:
    return VK_RIGHT;
  case Qt::Key_Down:
    return VK_DOWN;
  // Only the numeric keypad's + and - are zoom keys.
  case Qt::Key_Plus:
    return (Modifiers & Qt::KeypadModifier) ? VK_ADD : 0;
  case Qt::Key_Minus:
    return (Modifiers & Qt::KeypadModifier) ? VK_SUBTRACT : 0;
  default:
    return 0;
  }
}

void TfrmMain::FormKeyUp(int Key, Qt::KeyboardModifiers) {
  if (dbgPictures->hasFocus()) return; // the list handles its own keys
  switch (Key) {
  case VK_ESCAPE:
    close();
    break;
  case VK_PRIOR:
  case VK_LEFT:
    PreviousPicture();
    break;
  case VK_NEXT:
  case VK_RIGHT:
    NextPicture();
    break;
  case VK_UP:
    if (FSlideShow && tmMainTimer->interval() > 1000)
      tmMainTimer->setInterval(tmMainTimer->interval() - 500);
    break;
  case VK_DOWN:
    if (FSlideShow) tmMainTimer->setInterval(tmMainTimer->interval() + 500);
    break;
  case VK_ADD:
    ZoomBy(20);
    break;
  case VK_SUBTRACT:
    ZoomBy(-20);
    break;
  default:
    break;
  }
}

bool TfrmMain::eventFilter(QObject* Watched, QEvent* Event) {
  const QEvent::Type T = Event->type();
  if (T == QEvent::KeyPress || T == QEvent::KeyRelease) NoteHeldKey(Watched, Event);
  if (T != QEvent::KeyPress && T != QEvent::KeyRelease && T != QEvent::MouseButtonDblClick)
    return false;
  if (FDestroyed || !Watched->isWidgetType()) return false;
  const auto* W = static_cast<QWidget*>(Watched);
  if (T == QEvent::KeyPress) {
    // A key acts on its release only when its press reached this window too:
    // the release of an Esc (or Enter, Page Down...) that closed a menu, a
    // dialog or a drag must not act here.
    auto* Key = static_cast<QKeyEvent*>(Event);
    if (!Key->isAutoRepeat()) {
      const auto At = std::find(FPressedKeys.begin(), FPressedKeys.end(), Key->key());
      if (W->window() == this) {
        if (At == FPressedKeys.end()) FPressedKeys.push_back(Key->key());
      } else if (At != FPressedKeys.end()) {
        FPressedKeys.erase(At);
      }
    }
    if (W->window() != this) return false;
    // Ctrl+Page Down and Ctrl+Page Up page through a multi-page file, also
    // while the list has the focus. They act when pressed (Ctrl may well be
    // let go before the page key), and neither their presses nor their
    // releases reach the list or the key map.
    const int VKey = VirtualKey(Key->key(), Key->modifiers());
    if (!IsPageKey(VKey, Key->modifiers())) return false;
    if (!Key->isAutoRepeat()) {
      FPageKey = Key->key();
      if (VKey == VK_NEXT)
        NextPage();
      else
        PreviousPage();
    }
    return true;
  }
  if (W->window() != this) return false;
  // An event the framework passes on to the parents reaches this filter once
  // per widget; the window acts on its first delivery only.
  if (T == QEvent::KeyRelease) {
    QWidget* First = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : this;
    if (W != First) return false;
    auto* Key = static_cast<QKeyEvent*>(Event);
    if (Key->isAutoRepeat()) return false;
    const auto At = std::find(FPressedKeys.begin(), FPressedKeys.end(), Key->key());
    if (At == FPressedKeys.end()) return false;
    FPressedKeys.erase(At);
    if (FPageKey != 0 && Key->key() == FPageKey) {
      FPageKey = 0;
      return true;
    }
    if (FStartupScan && Key->key() == Qt::Key_Escape) {
      // Esc while the window shows the start-up scan: the program ends.
      FExitRequested = true;
      FAbortScan = true;
      return true;
    }
    FormKeyUp(VirtualKey(Key->key(), Key->modifiers()), Key->modifiers());
    return false;
  }
  auto* Mouse = static_cast<QMouseEvent*>(Event);
  if (Mouse->button() != Qt::LeftButton) return false;
  if (W != this && !IsInside(W, pnlRHS)) return false;
  if (Event == FLastFiltered && Mouse->timestamp() == FLastFilteredTime) return false;
  FLastFiltered = Event;
  FLastFilteredTime = Mouse->timestamp();
  imgMainDblClick();
  return false;
}

void TfrmMain::contextMenuEvent(QContextMenuEvent* Event) {
  mnuMainPopup->popup(Event->globalPos());
  Event->accept();
}

void TfrmMain::mnuMainPopupPopup() {
  if (Autosize())
    mnuZoomMain->setText("Zoom");
  else
    mnuZoomMain->setText("Zoom  (" + Num(static_cast<long long>(std::trunc(FZoom))) + ")");
  mnuCurrentFile->setText(mtbPictures->IsEmpty() || mtbPicturesName->IsNull()
                              ? QString()
                              : QString::fromStdString(mtbPicturesName->AsString()));
  mnuSelectAll->setVisible(!FFullScreen);
  // The Page submenu, after Previous, only while a multi-page file is shown.
  if (FPageCount > 1)
    mnuMainPopup->insertAction(N3, mnuPageMain);
  else
    mnuMainPopup->removeAction(mnuPageMain);
}

void TfrmMain::mnuSelectAllClick() {
  struct TCleanup {
    TfrmMain& F;
    ~TCleanup() {
      F.mtbPictures->EnableControls();
      QApplication::restoreOverrideCursor();
      try {
        F.UpdateStatusBar();
      } catch (...) {
        // The status bar keeps its texts; the walk's own error passes on.
      }
    }
  };
  QApplication::setOverrideCursor(Qt::WaitCursor);
  mtbPictures->DisableControls();
  TCleanup Cleanup{*this};
  mtbPictures->First();
  while (!mtbPictures->Eof()) {
    dbgPictures->SelectedRows().SetCurrentRowSelected(true);
    mtbPictures->Next();
  }
}

void TfrmMain::dbgPicturesCellClick(TdagColumn&) {
  UpdateStatusBar();
}

// The main window's construction: its components with their designed
// properties, the popup menu, the layout of the panes, and the start-up and
// lifetime handlers. MainFormPrivate.h names the files holding the rest.

#include "app/MainForm.h"
#include "app/DisplayProfile.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QResizeEvent>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <utility>

#include "app/AboutBox.h"
#include "app/Application.h"
#include "platform/ui/BrowseFolder.h"
#include "grid/DbAltGrid.h"
#include "platform/ui/DropFileSource.h"
#include "app/FolderWalk.h"
#include "view/ImageScrollBox.h"
#include "app/MainFormAccessible.h"
#include "app/MainFormPrivate.h"
#include "imaging/Orientation.h"
#include "app/PicturePrefetch.h"

using namespace mainform;

std::function<void(TfrmMain&)> TfrmMain::OnComponentsCreated;

namespace {

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

} // namespace

// ---------------------------------------------------------------------------
// Construction

TfrmMain::TfrmMain(std::vector<std::string> Args, QWidget* Parent)
    : QWidget(Parent), FArgs(std::move(Args)),
      FPrefetch(std::make_unique<TPicturePrefetch>(
          [](const std::string& Path) { return DecodePicture(Path, 1); },
          &MakePlannedDisplayCopy)) {
  // The worker only starts a timer of this thread, by a queued call that Qt
  // makes and frees itself: the picture is taken here.
  // The screen's resolution and size, read here once for decodes on the worker.
  ScreenLogPixelsX();
  ScreenLogPixelsY();
  int ScreenW = 0, ScreenH = 0;
  ScreenPixelSize(ScreenW, ScreenH);
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
  dbgPictures->OnRecordsDeleted = [this] { dbgPicturesRecordsDeleted(); };
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
  imgMain->OnWheelZoom = [this](TImageScrollBox&, int Notches, QPoint At) {
    imgMainWheelZoom(Notches, At);
  };
  imgMain->OnWheelStep = [this](TImageScrollBox&, int Notches) { imgMainWheelStep(Notches); };
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
  FCatalogueFormats = CommandLine.Formats;
  // What is shown is converted to the display's colour profile, read from X
  // and read again when it changes: the shown picture is laid out again and
  // the pictures decoded ahead are laid out anew for it.
  if (CommandLine.NoColor) {
    imgMain->SetDisplayColorSpace(nullptr);
  } else {
    FDisplayProfile = std::make_unique<TDisplayProfile>([this](const TColorSpacePtr& Space) {
      if (FDestroyed) return;
      imgMain->SetDisplayColorSpace(Space);
      SchedulePrefetch();
    });
    imgMain->SetDisplayColorSpace(FDisplayProfile->Current());
  }
  // IMBREL_DECODE_AHEAD=off switches decoding ahead off (to compare stepping
  // with and without it from outside).
  if (qEnvironmentVariable("IMBREL_DECODE_AHEAD") == QLatin1String("off"))
    SetPrefetchEnabled(false);
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
      FProgramFolderEmpty = mtbPictures->RecordCount() == 0 && !FExitRequested;
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

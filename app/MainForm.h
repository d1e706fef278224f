#pragma once
// The main window: a picture list on the left, the picture view on the right,
// the status bar below, the popup menu and the slide-show timer. It owns the
// picture table and every component, reads the command line, catalogues the
// start folder and carries the user's commands (navigation, zoom, full screen,
// sorting, slide show).

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "table/MemTable.h"
#include "app/FolderWalk.h"
#include "app/PicturePrefetch.h"

class TDisplayProfile;

class QAction;
class QLabel;
class QMenu;
class QTimer;
class QToolButton;
class TAboutBox;
class TBrowseFolder;
class TDbAltGrid;
class TDropFileSource;
class TImageScrollBox;
class TdagColumn;

// A plain panel: a widget that reports its size changes.
class TPanel : public QWidget {
public:
  explicit TPanel(QWidget* Parent = nullptr);
  std::function<void()> OnResize;

protected:
  void resizeEvent(QResizeEvent* Event) override;
};

// The splitter between the panes: dragging it changes the left pane's width.
class TSplitter : public QWidget {
public:
  explicit TSplitter(QWidget* Parent = nullptr);
  std::function<void(int Delta)> OnMoved; // pixels moved since the press

protected:
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

private:
  int FPressX = 0;
  bool FPressed = false;
};

// The status bar: text panels side by side, each of its fixed width but one
// (the last unless another is named) that takes the width the others leave.
// A hidden panel takes no room.
class TStatusBar : public QWidget {
public:
  TStatusBar(QWidget* Parent, std::vector<int> Widths, int StretchPanel = -1);
  int PanelCount() const { return static_cast<int>(FLabels.size()); }
  QString PanelText(int Index) const;
  void SetPanelText(int Index, const QString& Text);
  int PanelWidth(int Index) const { return FWidths.at(static_cast<std::size_t>(Index)); }
  bool PanelVisible(int Index) const;
  void SetPanelVisible(int Index, bool Visible);
  // Where the panel lies in the bar (empty for a hidden panel).
  QRect PanelGeometry(int Index) const;

protected:
  void resizeEvent(QResizeEvent* Event) override;

private:
  void Arrange();

  std::vector<int> FWidths;
  std::vector<QLabel*> FLabels;
  std::vector<bool> FVisible;
  int FStretch;
};

class TfrmMain : public QWidget {
public:
  // Builds every component with its designed properties, then runs FormCreate
  // (an exception leaving it is shown in the error box and skips the rest of
  // it). Args are the program's arguments as delivered, Args[0] its name.
  explicit TfrmMain(std::vector<std::string> Args, QWidget* Parent = nullptr);
  ~TfrmMain() override;

  // Runs after the components exist and before FormCreate; tests use it to
  // stub the folder picker and the drag loop.
  static std::function<void(TfrmMain&)> OnComponentsCreated;

  // --- Components
  QWidget* pnlLHS = nullptr;
  QWidget* pnlLHSTop = nullptr;
  QLabel* lbDir = nullptr;
  QToolButton* btnOpenDir = nullptr;
  TDbAltGrid* dbgPictures = nullptr;
  TSplitter* splMain = nullptr;
  TPanel* pnlRHS = nullptr;
  TImageScrollBox* imgMain = nullptr;
  TStatusBar* sbMain = nullptr;
  QMenu* mnuMainPopup = nullptr;
  QAction* mnuCurrentFile = nullptr;
  QAction* mnuSelectAll = nullptr;
  QAction* N2 = nullptr;
  QAction* mnuFullScreen = nullptr;
  QAction* mnuSlideShow = nullptr;
  QAction* mnuNext = nullptr;
  QAction* mnuPrevious = nullptr;
  QMenu* mnuPageMainMenu = nullptr; // the Page submenu, in the popup only for a multi-page file
  QAction* mnuPageMain = nullptr;
  QAction* mnuNextPage = nullptr;
  QAction* mnuPreviousPage = nullptr;
  QAction* N3 = nullptr;
  QMenu* mnuZoomMainMenu = nullptr; // the Zoom submenu; mnuZoomMain is its entry
  QAction* mnuZoomMain = nullptr;
  QAction* mnuAutosize = nullptr;
  QAction* N4 = nullptr;
  QAction* mnuZoomIn = nullptr;
  QAction* mnuZoomOut = nullptr;
  QAction* mnuZoom100 = nullptr;
  QAction* N1 = nullptr;
  QAction* mnuDirectory = nullptr;
  QAction* mnuAbout = nullptr;
  QAction* mnuExit = nullptr;
  QTimer* tmMainTimer = nullptr;
  std::unique_ptr<TmtbMemTable> mtbPictures;
  TField* mtbPicturesName = nullptr;
  TField* mtbPicturesLocation = nullptr;
  TField* mtbPicturesDate = nullptr;
  TField* mtbPicturesThumb = nullptr;
  TField* mtbPicturesType = nullptr;
  std::unique_ptr<TDataSource> dsPictures;
  std::unique_ptr<TBrowseFolder> brfldMain;
  std::unique_ptr<TDropFileSource> dropSourceImages;
  std::unique_ptr<TAboutBox> AboutBox;

  // --- State
  bool FFullScreen = false;
  bool FSlideShow = false;
  int32_t FSavedLeft = 0, FSavedTop = 0, FSavedWidth = 0, FSavedHeight = 0;
  int32_t FSavedListWidth = 0;
  std::string FSortColumn;
  double FZoom = 0;
  // The page shown (1-based) and the number of pages of the file shown; a
  // file that could not be shown counts as one page.
  int FPage = 1;
  int FPageCount = 1;
  std::string FPagePath; // the file whose pages these are

  // --- Start-up and lifetime
  void FormCreate();
  void FormShow();
  void FormDestroy();
  // The command line as read by FormCreate.
  const std::vector<std::string>& Arguments() const { return FArgs; }

  // --- Catalogue and sort order
  void ScanFolder(const std::string& Folder);
  // A start-up scan still running this long after it began shows the window.
  static inline int StartupShowDelayMs = 300;
  // Esc was pressed during the start-up scan: the program ends.
  bool ExitRequested() const { return FExitRequested; }
  void SetSortColumn(const std::string& ColumnTitle);
  void dbgPicturesTitleClick(TdagColumn& Column);

  // --- Display and zoom
  void mtbPicturesAfterScroll(TmtbCustomMemTable& DataSet);
  void FitView();
  void ZoomBy(int32_t Percent);
  void mnuAutosizeClick();
  void mnuZoomInClick() { ZoomBy(20); }
  void mnuZoomOutClick() { ZoomBy(-20); }
  void mnuZoom100Click();
  void imgMainZoomChange();
  void pnlRHSResize();
  // The mouse wheel over the picture: Ctrl+wheel zooms by the steps of + and
  // -, keeping the picture point under the pointer in place; the wheel steps
  // to the next (towards the user) or previous picture while the whole
  // picture is in view.
  void imgMainWheelZoom(int Notches, QPoint At);
  void imgMainWheelStep(int Notches);
  // Rows deleted from the list (Ctrl+Delete): the view and the status bar
  // follow the row that is current now.
  void dbgPicturesRecordsDeleted();
  void UpdateStatusBar();
  void UpdateSelectionCount(); // panel 1 alone
  bool Autosize() const;

  // --- Navigation, slide show, full screen, keyboard, popup
  void NextPicture();
  void PreviousPicture();
  void SetSlideShow(bool Value);
  void SetFullScreen(bool Value);
  void SetBorder(bool Value);
  void FormKeyUp(int Key, Qt::KeyboardModifiers Shift);
  void mnuMainPopupPopup();
  void mnuSelectAllClick();
  void dbgPicturesCellClick(TdagColumn& Column);
  void mnuFullScreenClick();
  void imgMainDblClick() { mnuFullScreenClick(); }
  void mnuSlideShowClick() { SetSlideShow(!FSlideShow); }
  void mnuNextClick() { NextPicture(); }
  void mnuPreviousClick() { PreviousPicture(); }
  void tmMainTimerTimer() { NextPicture(); }
  // Ctrl+Page Down / Ctrl+Page Up and the Page submenu: the next or previous
  // page of a multi-page file, wrapping within the file.
  void NextPage() { StepPage(1); }
  void PreviousPage() { StepPage(-1); }
  void mnuExitClick() { close(); }

  // Virtual-key codes of the key map.
  enum : int {
    VK_ESCAPE = 27,
    VK_PRIOR = 33,
    VK_NEXT = 34,
    VK_LEFT = 37,
    VK_UP = 38,
    VK_RIGHT = 39,
    VK_DOWN = 40,
    VK_ADD = 107,
    VK_SUBTRACT = 109
  };
  // The virtual-key code of a key event, 0 for keys the map does not know.
  static int VirtualKey(int QtKey, Qt::KeyboardModifiers Modifiers);

  // --- Folder picker, drag out, About box (MainFormFolder.cpp, MainFormDrag.cpp)
  void btnOpenDirClick();
  void brfldMainSelectionChanged(TBrowseFolder& Sender, QWidget* DialogHandle,
                                 const std::string& Directory);
  bool AppMessage(QObject* Target, QEvent* Event); // the message hook; returns Handled
  void mnuAboutClick();

  // Decoding ahead: the next and the previous picture of the list's order
  // (the next only in a slide show) once the user pauses; switched off, every
  // step decodes its picture in the foreground.
  TPicturePrefetch& Prefetch() { return *FPrefetch; }
  void SetPrefetchEnabled(bool Value);
  // How long steps must pause before pictures are decoded ahead again.
  static constexpr int PrefetchPauseMs = 200;
  // The file of the picture the view shows; empty when none or still on the
  // way (steps faster than a decode show their picture when it is ready).
  const std::string& ShownPath() const { return FShownPath; }

  // True once FormCreate has installed the message hook.
  bool AppMessageInstalled() const { return FAppMessageFilter != nullptr; }

protected:
  void showEvent(QShowEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void CreateComponents();
  void CreateMenu();
  void LayoutPanes();
  void InstallAppMessage();
  void SetPanel(int Index, const QString& Text);
  void StepPage(int Delta);
  void UpdatePagePanel();
  // Names the picture area for assistive technology by the shown picture's
  // status text (panel 2's rule, for the picture the view shows) and describes
  // its zoom and place in the list; each picture shown is announced once.
  void DescribePicture();
  int ListWidth() const { return FListWidth; }
  void SetListWidth(int Width);
  void ShowPicture(const std::string& Path);
  void SchedulePrefetch();
  void PrefetchAim();
  void AimAhead();
  std::unique_ptr<TDibGraphic> FetchWhole(const std::string& Path);
  void PrefetchReady();
  void NoteHeldKey(QObject* Watched, QEvent* Event);
  // Moves to the start picture the command line named, when the finished scan
  // catalogued it; answers false (leaving the cursor) otherwise. Asked once.
  bool GoToStartPicture();

  std::vector<std::string> FArgs;
  int FListWidth = 201;   // pnlLHS width
  int FSplitterWidth = 5; // splMain width
  int FStatusHeight = 19; // sbMain height
  bool FShownOnce = false;
  bool FDestroyed = false;
  // Scans: a scan asked for from inside a running scan's message pump ends the
  // running walk and runs after its clean-up.
  bool FScanning = false;
  bool FAbortScan = false;
  std::optional<std::string> FPendingScan;
  // The picture the next finished scan starts on (Location and Name), from a
  // picture path on the command line; empty otherwise.
  std::string FStartLocation;
  std::string FStartName;
  bool FStartFound = false; // the running scan posted the start picture
  // The extension table of the scan and of the folder dialog's OK rule: the
  // fifteen, or every registered extension (-formats:all, or a picture named
  // on the command line).
  TCatalogueFormats FCatalogueFormats = TCatalogueFormats::Default;
  void AddStartPicture();
  bool FStartupScan = false; // the scan of FormCreate runs
  bool FProgramFolderEmpty =
      false;                   // the start-up scan walked the program's folder, finding nothing
  bool FExitRequested = false; // Esc during it
  bool CatalogueTree(const std::string& Root);
  std::unique_ptr<QObject> FAppMessageFilter;
  std::vector<int> FPressedKeys;   // keys whose press reached this window, not yet released
  QEvent* FLastFiltered = nullptr; // the last double-click acted on
  unsigned long long FLastFilteredTime = 0;
  std::unique_ptr<TPicturePrefetch> FPrefetch;
  // The display's colour profile, watched unless -nocolor was given.
  std::unique_ptr<TDisplayProfile> FDisplayProfile;
  bool FPrefetchEnabled = true;
  int FPageKey = 0; // the Qt key of the page key held down: its release is no key-map key
  QTimer* FPrefetchTimer = nullptr;
  long long FLastStepMs = -1000000; // when the list's row last changed
  bool FQuickSteps = false;         // that change came within the pause of the one before
  int FLastRecNo = 0;
  bool FBackwards = false; // the last step went to the previous row
  bool FKeyHeld = false;   // a key repeats: pictures follow from the worker
  std::string FShownPath;
  TFileStamp FShownStamp;
  std::string FAwaited; // the row's picture the worker is decoding for the view
  // Pictures shown (or failed) so far, and the last of them announced to
  // assistive technology.
  unsigned long long FPictureShows = 0;
  unsigned long long FPictureAnnounced = 0;
};

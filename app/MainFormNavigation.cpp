// Moving through the main window's list: the next and previous picture,
// decoding ahead of the steps, the slide show and the full-screen layout.

#include "app/MainForm.h"

#include <QAction>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdlib>

#include "app/Application.h"
#include "grid/DbAltGrid.h"
#include "imaging/DibGraphic.h"
#include "view/ImageScrollBox.h"
#include "app/MainFormPrivate.h"

using namespace mainform;

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

void TfrmMain::imgMainWheelStep(int Notches) {
  for (int I = 0; I < std::abs(Notches); ++I) {
    if (Notches > 0)
      NextPicture();
    else
      PreviousPicture();
  }
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
  AimAhead();
  // The shown picture, stepped onto as a display copy, is decoded whole
  // after the pictures ahead; a whole one shown drops an earlier request.
  if (FPrefetchEnabled && !FDestroyed)
    FPrefetch->DecodeWhole(imgMain->PicturePending() ? FShownPath : std::string());
}

void TfrmMain::AimAhead() {
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
  // Decoding a picture ahead takes at most about what the shown one takes,
  // display copy included; when that is not to be had, nothing is decoded
  // ahead.
  const uint64_t Bytes =
      2ull * 3 * uint64_t(imgMain->PictureWidth()) * uint64_t(imgMain->PictureHeight());
  if (MemoryShort(Bytes * Paths.size())) {
    FPrefetch->Clear();
    return;
  }
  FPrefetch->Aim(Paths, imgMain->DisplayPlan());
}

// The worker has stored a picture: the one the view waits for is shown when
// the cursor is still on its row.
void TfrmMain::PrefetchReady() {
  if (FDestroyed) return;
  // The shown display copy's whole picture is there: it takes the copy's place.
  if (imgMain->PicturePending() && FPrefetch->WholeDecoded(FShownPath)) {
    TFileStamp Stamp;
    std::unique_ptr<TDibGraphic> Whole = FPrefetch->TakeWhole(FShownPath, Stamp, false);
    if (Whole) imgMain->CompletePicture(std::move(Whole), Stamp == FShownStamp);
  }
  if (FAwaited.empty() || mtbPictures->ControlsDisabled() ||
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

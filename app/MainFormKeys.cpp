// The main window's keyboard (the key map, page keys, double-clicks on the
// view) and its popup menu.

#include "app/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include "grid/DbAltGrid.h"
#include "app/MainFormPrivate.h"

using mainform::Num;

namespace {

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

// The grid's keyboard, mouse, wheel and focus handling.
#include "grid/DbAltGrid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>

#include "grid/DbAltGridAccessible.h"
#include "table/MemTable.h"

namespace {

constexpr int MoveThreshold = 3; // pixels a title must be dragged before it moves

} // namespace

// ---------------------------------------------------------------------------
// Keyboard

bool TCustomDbAltGrid::focusNextPrevChild(bool next) {
  // With dgTabs, Tab and Shift+Tab move between columns and reach keyPressEvent.
  if (FOptions.Contains(TDBGridOption::dgTabs)) return false;
  return QWidget::focusNextPrevChild(next);
}

void TCustomDbAltGrid::NotifySelectionChanged(unsigned long long changesBefore) {
  if (FSelectedRows.FChanges != changesBefore && OnSelectionChanged) OnSelectionChanged();
}

void TCustomDbAltGrid::keyPressEvent(QKeyEvent* event) {
  const unsigned long long before = FSelectedRows.FChanges;
  KeyDown(event);
  NotifySelectionChanged(before);
}

void TCustomDbAltGrid::KeyDown(QKeyEvent* event) {
  TmtbCustomMemTable* table = ActiveDataSet();
  const Qt::KeyboardModifiers mods = event->modifiers();
  const bool ctrl = mods & Qt::ControlModifier;
  const bool shift = mods & Qt::ShiftModifier;
  const bool alt = mods & Qt::AltModifier;
  if (!table) {
    QWidget::keyPressEvent(event);
    return;
  }
  const int lastRow = std::max(0, RowCount() - 1);
  const int lastColumn = std::max(0, FColumns.Count() - 1);
  const bool multi = FOptions.Contains(TDBGridOption::dgMultiSelect);
  switch (event->key()) {
  case Qt::Key_Up:
  case Qt::Key_Down: {
    const int direction = event->key() == Qt::Key_Up ? -1 : 1;
    if (shift && !ctrl && multi) {
      ShiftMove(direction);
    } else {
      if (!shift) ClearSelection();
      if (ctrl)
        MoveBy(direction < 0 ? -FActiveRow : lastRow - FActiveRow);
      else
        MoveBy(direction);
    }
    break;
  }
  case Qt::Key_Left:
  case Qt::Key_Right: {
    const bool left = event->key() == Qt::Key_Left;
    if (ctrl) {
      SetSelectedIndex(left ? 0 : lastColumn);
    } else {
      ClearSelection();
      MoveBy(left ? -1 : 1);
    }
    break;
  }
  case Qt::Key_PageUp:
  case Qt::Key_PageDown: {
    const bool up = event->key() == Qt::Key_PageUp;
    ClearSelection();
    if (ctrl)
      MoveBy(up ? -FActiveRow : lastRow - FActiveRow);
    else
      MoveBy(up ? -VisibleRowCount() : VisibleRowCount());
    break;
  }
  case Qt::Key_Home:
    ClearSelection();
    table->First();
    break;
  case Qt::Key_End:
    ClearSelection();
    table->Last();
    break;
  case Qt::Key_Tab:
  case Qt::Key_Backtab: {
    if (alt || !FOptions.Contains(TDBGridOption::dgTabs)) {
      QWidget::keyPressEvent(event);
      return;
    }
    const bool back = event->key() == Qt::Key_Backtab || shift;
    if (!back) {
      if (FSelectedIndex < lastColumn) {
        SetSelectedIndex(FSelectedIndex + 1);
      } else {
        ClearSelection();
        MoveBy(1);
        SetSelectedIndex(0);
      }
    } else {
      if (FSelectedIndex > 0) {
        SetSelectedIndex(FSelectedIndex - 1);
      } else {
        ClearSelection();
        MoveBy(-1);
        SetSelectedIndex(lastColumn);
      }
    }
    break;
  }
  case Qt::Key_Escape:
    // No insert or edit is ever pending here; the selection is cleared.
    ClearSelection();
    break;
  case Qt::Key_Delete:
    if (ctrl)
      DeleteRecords();
    else
      QWidget::keyPressEvent(event);
    return;
  case Qt::Key_Insert:
  case Qt::Key_F2:
    break; // editing is off
  default:
    QWidget::keyPressEvent(event);
    return;
  }
  event->accept();
}

// ---------------------------------------------------------------------------
// Mouse

void TCustomDbAltGrid::mousePressEvent(QMouseEvent* event) {
  const unsigned long long before = FSelectedRows.FChanges;
  MouseDown(event);
  NotifySelectionChanged(before);
}

void TCustomDbAltGrid::MouseDown(QMouseEvent* event) {
  if (focusPolicy() & Qt::ClickFocus && isEnabled() && !hasFocus()) {
    setFocus(Qt::MouseFocusReason);
    if (!hasFocus()) return;
  }
  const QPoint pos = event->position().toPoint();
  const TGridCoord cell = MouseCoord(pos.x(), pos.y());
  FState = TGridState::Normal;
  if (event->button() == Qt::LeftButton) {
    if (pos.y() < FTitleHeight && ClientRect().contains(pos)) {
      const int border =
          FOptions.Contains(TDBGridOption::dgColumnResize) ? ColumnBorderAt(pos.x()) : -1;
      if (border >= 0) {
        FState = TGridState::ColSizing;
        FSizingCol = border;
        FSizingStartWidth = FColumns[border].Width();
        FPressPos = pos;
        return;
      }
    }
    if (cell.Y == 0) {
      FState = TGridState::TitlePressed;
      FPressCol = cell.X;
      FPressPos = pos;
      return;
    }
    if (cell.Y >= 1) {
      FPressPos = pos;
      MoveBy(cell.Y - 1 - FActiveRow);
      SetSelectedIndex(cell.X);
      if (FOptions.Contains(TDBGridOption::dgMultiSelect) && ActiveDataSet()) {
        if (event->modifiers() & Qt::ControlModifier) {
          FSelectedRows.SetCurrentRowSelected(!FSelectedRows.CurrentRowSelected());
        } else {
          FSelectedRows.Clear();
          FSelectedRows.SetCurrentRowSelected(true);
        }
        FSelecting = false;
      }
      FState = TGridState::CellPressed;
    }
    return;
  }
  if (event->button() == Qt::RightButton && cell.Y >= 1 &&
      !FOptions.Contains(TDBGridOption::dgMultiSelect)) {
    MoveBy(cell.Y - 1 - FActiveRow);
    SetSelectedIndex(cell.X);
  }
}

void TCustomDbAltGrid::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  switch (FState) {
  case TGridState::ColSizing:
    if (FSizingCol >= 0 && FSizingCol < FColumns.Count())
      FColumns[FSizingCol].SetWidth(std::max(1, FSizingStartWidth + pos.x() - FPressPos.x()));
    return;
  case TGridState::TitlePressed:
    if (std::abs(pos.x() - FPressPos.x()) > MoveThreshold) {
      FState = TGridState::ColMoving;
      FMoveTarget = FPressCol;
      setCursor(Qt::SizeHorCursor);
    }
    return;
  case TGridState::ColMoving: {
    // Shows where the column would land: the left edge of the target column.
    int target = MouseCoord(std::clamp(pos.x(), 0, std::max(0, ClientRect().width() - 1)), 0).X;
    if (target < 0) target = pos.x() < ColumnLeft(0) ? 0 : FColumns.Count() - 1;
    if (target != FMoveTarget) {
      FMoveTarget = target;
      update(QRect(0, 0, width(), FTitleHeight));
    }
    return;
  }
  case TGridState::CellPressed:
    return;
  case TGridState::Normal:
    break;
  }
  const bool onBorder = FOptions.Contains(TDBGridOption::dgColumnResize) &&
                        pos.y() < FTitleHeight && ColumnBorderAt(pos.x()) >= 0;
  if (onBorder)
    setCursor(Qt::SplitHCursor);
  else
    unsetCursor();
}

void TCustomDbAltGrid::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint pos = event->position().toPoint();
  const TGridState state = FState;
  FState = TGridState::Normal;
  switch (state) {
  case TGridState::ColSizing:
    unsetCursor();
    return;
  case TGridState::ColMoving: {
    unsetCursor();
    FMoveTarget = -1;
    update(QRect(0, 0, width(), FTitleHeight));
    // The column lands at the column under the release point (the first or
    // last one when released beyond them).
    int target = MouseCoord(std::clamp(pos.x(), 0, ClientRect().width() - 1), 0).X;
    if (target < 0) target = pos.x() < ColumnLeft(0) ? 0 : FColumns.Count() - 1;
    if (FPressCol >= 0 && target >= 0 && target != FPressCol) {
      const bool selectedMoves = FSelectedIndex == FPressCol;
      FColumns.Move(FPressCol, target);
      if (selectedMoves) SetSelectedIndex(target);
    }
    return;
  }
  case TGridState::TitlePressed:
    if (pos == FPressPos && OnTitleClick && FPressCol >= 0 && FPressCol < FColumns.Count())
      OnTitleClick(FColumns[FPressCol]);
    return;
  case TGridState::CellPressed:
    if (pos == FPressPos && OnCellClick && FSelectedIndex >= 0 && FSelectedIndex < FColumns.Count())
      OnCellClick(FColumns[FSelectedIndex]);
    return;
  case TGridState::Normal:
    return;
  }
}

void TCustomDbAltGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click raises the event and does nothing else (no second press).
  if (event->button() == Qt::LeftButton && OnDblClick) OnDblClick();
}

void TCustomDbAltGrid::wheelEvent(QWheelEvent* event) {
  const int steps = event->angleDelta().y() / 120;
  if (steps != 0 && ActiveDataSet()) {
    MoveBy(-steps);
    event->accept();
  } else {
    event->ignore();
  }
}

void TCustomDbAltGrid::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
  DbAltGridAccessibleChanged(*this);
}

void TCustomDbAltGrid::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
  DbAltGridAccessibleChanged(*this);
}

#include "grid/DbAltGridAccessible.h"

#include <QTimer>
#include <algorithm>
#include <exception>

#include "grid/DbAltGrid.h"

namespace {

QAccessibleInterface* GridFactory(const QString&, QObject* object) {
  if (auto* grid = dynamic_cast<TCustomDbAltGrid*>(object)) return new TdagAccessibleGrid(grid);
  return nullptr;
}

TdagAccessibleGrid* GridInterface(QWidget* grid) {
  return grid ? dynamic_cast<TdagAccessibleGrid*>(QAccessible::queryAccessibleInterface(grid))
              : nullptr;
}

// Whether a data row (0-based) counts as selected: the rows the grid paints
// highlighted, that is the rows of its selection list and the current row,
// which the picture list always shows highlighted. Asked by assistive
// technology at any time, so a failing lookup answers "no" instead of
// throwing into the accessibility layer.
bool RowSelected(const TCustomDbAltGrid& grid, int row) {
  try {
    return grid.RowHighlighted(row + 1);
  } catch (const std::exception&) {
    return false;
  }
}

bool MultiSelect(const TCustomDbAltGrid& grid) {
  return grid.Options().Contains(TDBGridOption::dgMultiSelect);
}

} // namespace

void InstallDbAltGridAccessible() {
  static const bool installed = [] {
    QAccessible::installFactory(GridFactory);
    return true;
  }();
  (void)installed;
}

void DbAltGridAccessibleChanged(TCustomDbAltGrid& grid) {
  if (!QAccessible::isActive()) return;
  if (TdagAccessibleGrid* iface = GridInterface(&grid)) iface->ScheduleCheck();
}

// ---------------------------------------------------------------------------
// The table

TdagAccessibleGrid::TdagAccessibleGrid(TCustomDbAltGrid* grid) : QAccessibleWidget(grid) {
  // What the grid shows now is what assistive technology finds when it first asks.
  FShown = Snapshot();
}

TdagAccessibleGrid::~TdagAccessibleGrid() {
  for (const auto& [key, id] : FCells)
    QAccessible::deleteAccessibleInterface(id);
}

TCustomDbAltGrid* TdagAccessibleGrid::Grid() const {
  return static_cast<TCustomDbAltGrid*>(widget());
}

bool TdagAccessibleGrid::HasTitles() const {
  return Grid()->Options().Contains(TDBGridOption::dgTitles);
}

QAccessible::State TdagAccessibleGrid::state() const {
  QAccessible::State s = QAccessibleWidget::state();
  s.multiSelectable = MultiSelect(*Grid());
  return s;
}

int TdagAccessibleGrid::rowCount() const {
  return Grid()->RowCount();
}

int TdagAccessibleGrid::columnCount() const {
  return Grid()->Columns().Count();
}

int TdagAccessibleGrid::CellChildIndex(int row, int column) const {
  const int columns = columnCount();
  if (column < 0 || column >= columns || row < -1 || row >= rowCount()) return -1;
  const int headers = HasTitles() ? columns : 0;
  if (row < 0) return headers > 0 ? column : -1;
  return headers + row * columns + column;
}

int TdagAccessibleGrid::childCount() const {
  return (HasTitles() ? columnCount() : 0) + rowCount() * columnCount();
}

QAccessibleInterface* TdagAccessibleGrid::Cell(int row, int column) const {
  if (CellChildIndex(row, column) < 0) return nullptr;
  const auto key = std::make_pair(row, column);
  if (const auto found = FCells.find(key); found != FCells.end())
    return QAccessible::accessibleInterface(found->second);
  auto* cell = new TdagAccessibleCell(Grid(), row, column);
  FCells[key] = QAccessible::registerAccessibleInterface(cell);
  return cell;
}

QAccessibleInterface* TdagAccessibleGrid::child(int index) const {
  const int columns = columnCount();
  if (index < 0 || columns == 0 || index >= childCount()) return nullptr;
  if (HasTitles()) {
    if (index < columns) return Cell(-1, index);
    index -= columns;
  }
  return Cell(index / columns, index % columns);
}

int TdagAccessibleGrid::indexOfChild(const QAccessibleInterface* child) const {
  if (!child) return -1;
  for (const auto& [key, id] : FCells)
    if (QAccessible::accessibleInterface(id) == child) return CellChildIndex(key.first, key.second);
  return -1;
}

QAccessibleInterface* TdagAccessibleGrid::childAt(int x, int y) const {
  const TCustomDbAltGrid* grid = Grid();
  const QPoint local = grid->mapFromGlobal(QPoint(x, y));
  const TGridCoord coord = grid->MouseCoord(local.x(), local.y());
  if (coord.X < 0 || coord.Y < 0) return nullptr;
  return Cell(coord.Y - 1, coord.X);
}

QAccessibleInterface* TdagAccessibleGrid::focusChild() const {
  const TCustomDbAltGrid* grid = Grid();
  // No current row (an empty or closed table): no cell has the focus.
  if (!grid->hasFocus() || grid->CurrentRow() < 1) return nullptr;
  return Cell(grid->CurrentRow() - 1, grid->SelectedIndex());
}

void* TdagAccessibleGrid::interface_cast(QAccessible::InterfaceType type) {
  if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
  return QAccessibleWidget::interface_cast(type);
}

QAccessibleInterface* TdagAccessibleGrid::cellAt(int row, int column) const {
  return row < 0 ? nullptr : Cell(row, column);
}

QString TdagAccessibleGrid::columnDescription(int column) const {
  if (column < 0 || column >= columnCount()) return {};
  return Grid()->Columns()[column].Title().Caption();
}

QList<int> TdagAccessibleGrid::selectedRows() const {
  QList<int> rows;
  for (int r = 0; r < rowCount(); ++r)
    if (RowSelected(*Grid(), r)) rows.append(r);
  return rows;
}

int TdagAccessibleGrid::selectedRowCount() const {
  return static_cast<int>(selectedRows().size());
}

bool TdagAccessibleGrid::isRowSelected(int row) const {
  return row >= 0 && row < rowCount() && RowSelected(*Grid(), row);
}

int TdagAccessibleGrid::selectedCellCount() const {
  return selectedRowCount() * columnCount();
}

QList<QAccessibleInterface*> TdagAccessibleGrid::selectedCells() const {
  QList<QAccessibleInterface*> cells;
  for (const int r : selectedRows())
    for (int c = 0; c < columnCount(); ++c)
      cells.append(Cell(r, c));
  return cells;
}

bool TdagAccessibleGrid::SetRowSelected(int row, bool value) {
  TCustomDbAltGrid* grid = Grid();
  if (!MultiSelect(*grid) || row < 0 || row >= rowCount()) return false;
  try {
    grid->SelectedRows().Select(grid->RowBookmark(row + 1), value);
  } catch (const std::exception&) {
    return false;
  }
  grid->update();
  ScheduleCheck();
  return true;
}

bool TdagAccessibleGrid::selectRow(int row) {
  return SetRowSelected(row, true);
}

bool TdagAccessibleGrid::unselectRow(int row) {
  return SetRowSelected(row, false);
}

void TdagAccessibleGrid::modelChange(QAccessibleTableModelChangeEvent* event) {
  // Cells are read from the grid by position, so a cell stays right as long as
  // its position exists; those past the new end are released. A reset releases
  // every data cell.
  const bool reset = event->modelChangeType() == QAccessibleTableModelChangeEvent::ModelReset;
  const int rows = rowCount();
  const int columns = columnCount();
  for (auto it = FCells.begin(); it != FCells.end();) {
    const auto [row, column] = it->first;
    if ((reset && row >= 0) || row >= rows || column >= columns) {
      QAccessible::deleteAccessibleInterface(it->second);
      it = FCells.erase(it);
    } else {
      ++it;
    }
  }
}

// ---------------------------------------------------------------------------
// Change events

TdagAccessibleGrid::TShown TdagAccessibleGrid::Snapshot() const {
  const TCustomDbAltGrid& grid = *Grid();
  TShown shown;
  const int rows = grid.RowCount();
  shown.Columns = grid.Columns().Count();
  shown.Bookmarks.reserve(static_cast<std::size_t>(rows));
  shown.Texts.reserve(static_cast<std::size_t>(rows * shown.Columns));
  for (int r = 0; r < rows; ++r) {
    shown.Bookmarks.push_back(grid.RowBookmark(r + 1));
    for (int c = 0; c < shown.Columns; ++c)
      shown.Texts.push_back(grid.CellText(c, r + 1));
    shown.Selected.push_back(RowSelected(grid, r));
  }
  shown.CurrentRow = grid.CurrentRow() - 1;
  shown.CurrentColumn = grid.SelectedIndex();
  shown.CurrentBookmark = grid.RowBookmark(grid.CurrentRow());
  shown.Focused = grid.hasFocus();
  return shown;
}

void TdagAccessibleGrid::ScheduleCheck() {
  if (FCheckPending) return;
  FCheckPending = true;
  // Many changes in one go (a select-all, a scan) make one check.
  QTimer::singleShot(0, Grid(), [grid = Grid()] {
    if (TdagAccessibleGrid* iface = GridInterface(grid)) iface->Check();
  });
}

void TdagAccessibleGrid::Send(QAccessible::Event type, int row, int column) {
  const int index = CellChildIndex(row, column);
  if (index < 0) return;
  QAccessibleEvent event(Grid(), type);
  event.setChild(index);
  QAccessible::updateAccessibility(&event);
}

void TdagAccessibleGrid::Check() {
  FCheckPending = false;
  TShown now = Snapshot();
  const TShown before = std::move(FShown);
  FShown = now;
  if (!QAccessible::isActive()) return;

  const int oldRows = static_cast<int>(before.Bookmarks.size());
  const int newRows = static_cast<int>(now.Bookmarks.size());
  const int columns = now.Columns;
  if (columns != before.Columns) {
    QAccessibleTableModelChangeEvent event(Grid(), QAccessibleTableModelChangeEvent::ModelReset);
    QAccessible::updateAccessibility(&event);
  } else {
    if (newRows != oldRows) {
      QAccessibleTableModelChangeEvent event(
          Grid(), newRows > oldRows ? QAccessibleTableModelChangeEvent::RowsInserted
                                    : QAccessibleTableModelChangeEvent::RowsRemoved);
      event.setFirstRow(std::min(oldRows, newRows));
      event.setLastRow(std::max(oldRows, newRows) - 1);
      event.setFirstColumn(0);
      event.setLastColumn(columns - 1);
      QAccessible::updateAccessibility(&event);
    }
    // Rows both had that now show other records or texts (a scroll, a new sort order).
    const int common = std::min(oldRows, newRows);
    int first = -1;
    int last = -1;
    for (int r = 0; r < common; ++r) {
      const auto at = static_cast<std::size_t>(r * columns);
      const bool same = before.Bookmarks[static_cast<std::size_t>(r)] ==
                            now.Bookmarks[static_cast<std::size_t>(r)] &&
                        std::equal(before.Texts.begin() + static_cast<std::ptrdiff_t>(at),
                                   before.Texts.begin() + static_cast<std::ptrdiff_t>(at + columns),
                                   now.Texts.begin() + static_cast<std::ptrdiff_t>(at));
      if (same) continue;
      if (first < 0) first = r;
      last = r;
    }
    if (first >= 0) {
      QAccessibleTableModelChangeEvent event(Grid(), QAccessibleTableModelChangeEvent::DataChanged);
      event.setFirstRow(first);
      event.setLastRow(last);
      event.setFirstColumn(0);
      event.setLastColumn(columns - 1);
      QAccessible::updateAccessibility(&event);
      // Cells already handed out announce their new text; others are read fresh.
      for (int r = first; r <= last; ++r)
        for (int c = 0; c < columns; ++c) {
          const auto i = static_cast<std::size_t>(r * columns + c);
          if (before.Texts[i] != now.Texts[i] && FCells.count({r, c}))
            Send(QAccessible::NameChanged, r, c);
        }
    }
    // Rows whose selection changed.
    for (int r = 0; r < common; ++r) {
      if (before.Selected[static_cast<std::size_t>(r)] == now.Selected[static_cast<std::size_t>(r)])
        continue;
      const auto type = now.Selected[static_cast<std::size_t>(r)] ? QAccessible::SelectionAdd
                                                                  : QAccessible::SelectionRemove;
      for (int c = 0; c < columns; ++c)
        Send(type, r, c);
    }
    for (int r = common; r < newRows; ++r)
      if (now.Selected[static_cast<std::size_t>(r)])
        for (int c = 0; c < columns; ++c)
          Send(QAccessible::SelectionAdd, r, c);
  }
  // The current cell, while the grid has the focus: a new record, a new
  // position or the focus just come.
  const bool moved = now.CurrentRow != before.CurrentRow ||
                     now.CurrentColumn != before.CurrentColumn ||
                     now.CurrentBookmark != before.CurrentBookmark;
  if (now.Focused && now.CurrentRow >= 0 && (moved || !before.Focused))
    Send(QAccessible::Focus, now.CurrentRow, now.CurrentColumn);
}

// ---------------------------------------------------------------------------
// Cells

TdagAccessibleCell::TdagAccessibleCell(TCustomDbAltGrid* grid, int row, int column)
    : FGrid(grid), FRow(row), FColumn(column) {}

bool TdagAccessibleCell::isValid() const {
  if (!FGrid) return false;
  const auto* grid = static_cast<const TCustomDbAltGrid*>(FGrid.data());
  return FColumn >= 0 && FColumn < grid->Columns().Count() && FRow >= -1 &&
         FRow < grid->RowCount() &&
         (FRow >= 0 || grid->Options().Contains(TDBGridOption::dgTitles));
}

QWindow* TdagAccessibleCell::window() const {
  return FGrid ? FGrid->window()->windowHandle() : nullptr;
}

QAccessibleInterface* TdagAccessibleCell::parent() const {
  return FGrid ? QAccessible::queryAccessibleInterface(FGrid.data()) : nullptr;
}

QString TdagAccessibleCell::text(QAccessible::Text type) const {
  if (!isValid() || type != QAccessible::Name) return {};
  const auto* grid = static_cast<const TCustomDbAltGrid*>(FGrid.data());
  if (FRow < 0) return grid->Columns()[FColumn].Title().Caption();
  return grid->CellText(FColumn, FRow + 1);
}

QRect TdagAccessibleCell::rect() const {
  if (!isValid()) return {};
  const auto* grid = static_cast<const TCustomDbAltGrid*>(FGrid.data());
  const QRect cell = grid->CellRect(FColumn, FRow + 1);
  return QRect(grid->mapToGlobal(cell.topLeft()), cell.size());
}

QAccessible::Role TdagAccessibleCell::role() const {
  return FRow < 0 ? QAccessible::ColumnHeader : QAccessible::Cell;
}

QAccessible::State TdagAccessibleCell::state() const {
  QAccessible::State s;
  if (!isValid()) {
    s.invalid = true;
    return s;
  }
  const auto* grid = static_cast<const TCustomDbAltGrid*>(FGrid.data());
  const QRect cell = grid->CellRect(FColumn, FRow + 1);
  if (!grid->isVisible()) {
    s.invisible = true;
  } else if (!grid->ClientRect().intersects(cell)) {
    s.offscreen = true;
  }
  if (!grid->isEnabled()) s.disabled = true;
  if (FRow < 0) return s;
  s.focusable = true;
  s.selectable = grid->Options().Contains(TDBGridOption::dgMultiSelect);
  s.selected = isSelected();
  const bool current = FRow == grid->CurrentRow() - 1 && FColumn == grid->SelectedIndex();
  s.active = current;
  s.focused = current && grid->hasFocus();
  return s;
}

void* TdagAccessibleCell::interface_cast(QAccessible::InterfaceType type) {
  if (type == QAccessible::TableCellInterface)
    return static_cast<QAccessibleTableCellInterface*>(this);
  return nullptr;
}

bool TdagAccessibleCell::isSelected() const {
  return FRow >= 0 && isValid() &&
         RowSelected(*static_cast<const TCustomDbAltGrid*>(FGrid.data()), FRow);
}

QList<QAccessibleInterface*> TdagAccessibleCell::columnHeaderCells() const {
  if (FRow < 0 || !isValid()) return {};
  auto* table = dynamic_cast<TdagAccessibleGrid*>(parent());
  QAccessibleInterface* header = table ? table->Cell(-1, FColumn) : nullptr;
  if (!header) return {};
  return {header};
}

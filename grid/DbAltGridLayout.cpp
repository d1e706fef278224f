// The grid's geometry, scroll bars and cache of the rows it shows, and
// scrolling through the records and across the columns.
#include "grid/DbAltGrid.h"

#include <QFontMetrics>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>

#include "grid/DagGridDataLink.h"
#include "grid/DbAltGridAccessible.h"
#include "table/MemTable.h"

namespace {

constexpr int BorderGrip = 2; // pixels either side of a title border that start a resize

bool IsNumeric(TFieldType type) {
  switch (type) {
  case ftSmallint:
  case ftInteger:
  case ftWord:
  case ftFloat:
  case ftCurrency:
  case ftBCD:
  case ftAutoInc:
  case ftLargeint:
    return true;
  default:
    return false;
  }
}

} // namespace

// ---------------------------------------------------------------------------
// Layout

void TCustomDbAltGrid::UpdateColumnDefaults() {
  TmtbCustomMemTable* table = FDataLink->DataSet();
  for (int i = 0; i < FColumns.Count(); ++i) {
    TdagColumn& column = FColumns[i];
    const TField* field = table ? table->FindField(column.FieldName().toStdString()) : nullptr;
    column.FFieldIndex = field && field->Index() < table->FieldCount() ? field->Index() : -1;
    column.FDefaultCaption = field ? QString::fromStdString(field->DisplayName()) : QString();
    column.FFieldAlignment = field && IsNumeric(field->DataType()) ? Qt::AlignRight : Qt::AlignLeft;
    column.FDefaultWidth = 64;
    if (field && field->DisplayWidth() > 0) {
      // Display width x (width of "0" - overhang) + overhang + 4; the overhang is 0 here.
      const QFontMetrics fm(column.Font());
      column.FDefaultWidth = field->DisplayWidth() * fm.horizontalAdvance(QLatin1Char('0')) + 4;
    }
    if (FOptions.Contains(TDBGridOption::dgTitles)) {
      const QFontMetrics tfm(column.Title().Font());
      column.FDefaultWidth =
          std::max(column.FDefaultWidth, tfm.horizontalAdvance(column.Title().Caption()) + 4);
    }
  }
}

void TCustomDbAltGrid::UpdateLayout() {
  const bool rowLines = FOptions.Contains(TDBGridOption::dgRowLines);
  FTitleHeight = 0;
  if (FOptions.Contains(TDBGridOption::dgTitles))
    FTitleHeight = QFontMetrics(FTitleFont).height() + 4 + (rowLines ? FLineWidth : 0);
  FRowHeight = QFontMetrics(font()).height() + 3 + (rowLines ? 2 * FLineWidth : 0);
  UpdateScrollBars();
  update();
}

QRect TCustomDbAltGrid::ClientRect() const {
  const int w = width() - (FVertBar->isHidden() ? 0 : FVertBar->width());
  const int h = height() - (FHorzBar->isHidden() ? 0 : FHorzBar->height());
  return QRect(0, 0, std::max(0, w), std::max(0, h));
}

int TCustomDbAltGrid::VisibleRowCount() const {
  const int room = ClientRect().height() - FTitleHeight;
  return std::max(1, room / std::max(1, FRowHeight));
}

int TCustomDbAltGrid::ColumnsWidth() const {
  const int line = FOptions.Contains(TDBGridOption::dgColLines) ? FLineWidth : 0;
  int total = 0;
  for (int i = 0; i < FColumns.Count(); ++i)
    total += FColumns[i].Width() + line;
  return total;
}

int TCustomDbAltGrid::ColumnLeft(int col) const {
  const int line = FOptions.Contains(TDBGridOption::dgColLines) ? FLineWidth : 0;
  int x = -FHorzOffset;
  for (int i = 0; i < col && i < FColumns.Count(); ++i)
    x += FColumns[i].Width() + line;
  return x;
}

QRect TCustomDbAltGrid::CellRect(int col, int row) const {
  if (col < 0 || col >= FColumns.Count() || row < 0) return {};
  const int rowLine = FOptions.Contains(TDBGridOption::dgRowLines) ? FLineWidth : 0;
  const int x = ColumnLeft(col);
  if (row == 0) return QRect(x, 0, FColumns[col].Width(), FTitleHeight - rowLine);
  const int y = FTitleHeight + (row - 1) * FRowHeight;
  return QRect(x, y, FColumns[col].Width(), FRowHeight - rowLine);
}

void TCustomDbAltGrid::UpdateScrollBars() {
  if (FUpdatingScrollBars) return;
  FUpdatingScrollBars = true;
  const int vbarWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  // Min 1, page the visible rows, max count + page - 1: Qt's range is the
  // positions the bar can take, 1 to count. The bar is needed from two records on.
  const bool vertShown = FDataLink->Active() && FRecordCount > 1;
  const int clientWidth = width() - (vertShown ? vbarWidth : 0);
  const bool horzShown = ColumnsWidth() > clientWidth && FColumns.Count() > 0;
  FVertBar->setVisible(vertShown);
  FHorzBar->setVisible(horzShown);
  const QRect client = ClientRect();
  if (vertShown) FVertBar->setGeometry(client.right() + 1, 0, vbarWidth, client.height());
  if (horzShown) FHorzBar->setGeometry(0, client.bottom() + 1, client.width(), vbarWidth);

  const int pageRows = VisibleRowCount();
  if (vertShown) {
    FVertBar->setRange(1, FRecordCount);
    FVertBar->setPageStep(pageRows);
    FVertBar->setSingleStep(1);
    if (!FVertBar->isSliderDown()) FVertBar->setValue(std::max(1, FRecNo));
  }
  const int maxOffset = std::max(0, ColumnsWidth() - client.width());
  FHorzOffset = std::clamp(FHorzOffset, 0, maxOffset);
  if (horzShown) {
    FHorzBar->setRange(0, maxOffset);
    FHorzBar->setPageStep(std::max(1, client.width()));
    FHorzBar->setSingleStep(std::max(1, QFontMetrics(font()).horizontalAdvance(QLatin1Char('0'))));
    FHorzBar->setValue(FHorzOffset);
  }
  FUpdatingScrollBars = false;
  // The table refills its window for the new buffer count without a
  // notification; the grid re-reads what it shows itself.
  if (FDataLink->BufferCount() != pageRows) {
    FDataLink->SetBufferCount(pageRows);
    ReadRows();
    update();
  }
}

void TCustomDbAltGrid::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  UpdateScrollBars();
}

void TCustomDbAltGrid::ReadRows() {
  DbAltGridAccessibleChanged(*this);
  TmtbCustomMemTable* table = ActiveDataSet();
  if (!table) {
    FRows.clear();
    FActiveRow = 0;
    FRecNo = -1;
    FRecordCount = 0;
    return;
  }
  const int n = FDataLink->RecordCount();
  FRows.resize(static_cast<std::size_t>(std::max(0, n)));
  const int columns = FColumns.Count();
  for (int k = 0; k < n; ++k) {
    TRowCache& row = FRows[static_cast<std::size_t>(k)];
    row.Bookmark = FDataLink->RecordBookmark(k);
    row.Texts.resize(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) {
      const int fieldIndex = FColumns[c].FFieldIndex;
      QString& text = row.Texts[static_cast<std::size_t>(c)];
      if (fieldIndex >= 0 && fieldIndex < table->FieldCount())
        text = QString::fromStdString(FDataLink->DisplayText(k, table->Fields(fieldIndex)));
      else
        text.clear();
    }
  }
  FActiveRow = std::clamp(FDataLink->ActiveRecord(), 0, std::max(0, n - 1));
  FRecNo = table->RecNo();
  FRecordCount = table->RecordCount();
}

QString TCustomDbAltGrid::CellText(int col, int row) const {
  if (row < 1 || row > RowCount() || col < 0 || col >= FColumns.Count()) return {};
  const auto& texts = FRows[static_cast<std::size_t>(row - 1)].Texts;
  return static_cast<std::size_t>(col) < texts.size() ? texts[static_cast<std::size_t>(col)]
                                                      : QString();
}

const std::string& TCustomDbAltGrid::RowBookmark(int row) const {
  static const std::string none;
  if (row < 1 || row > RowCount()) return none;
  return FRows[static_cast<std::size_t>(row - 1)].Bookmark;
}

bool TCustomDbAltGrid::RowHighlighted(int row) const {
  if (row < 1 || row > RowCount()) return false;
  const std::string& bookmark = FRows[static_cast<std::size_t>(row - 1)].Bookmark;
  int index = 0;
  if (FSelectedRows.Count() > 0 && !bookmark.empty() && ActiveDataSet() &&
      FSelectedRows.Find(bookmark, index))
    return true;
  return row - 1 == FActiveRow &&
         (FOptions.Contains(TDBGridOption::dgAlwaysShowSelection) || hasFocus());
}

void TCustomDbAltGrid::InvalidateRow(int row) {
  if (row < 1) return;
  update(QRect(0, FTitleHeight + (row - 1) * FRowHeight, width(), FRowHeight));
}

TGridCoord TCustomDbAltGrid::MouseCoord(int x, int y) const {
  const QRect client = ClientRect();
  if (!client.contains(x, y)) return {};
  int row = -1;
  if (y < FTitleHeight) {
    row = 0;
  } else {
    const int r = (y - FTitleHeight) / std::max(1, FRowHeight);
    if (r < RowCount()) row = r + 1;
  }
  const int line = FOptions.Contains(TDBGridOption::dgColLines) ? FLineWidth : 0;
  int col = -1;
  int left = -FHorzOffset;
  for (int i = 0; i < FColumns.Count(); ++i) {
    const int right = left + FColumns[i].Width() + line;
    if (x >= left && x < right) {
      col = i;
      break;
    }
    left = right;
  }
  if (row < 0 || col < 0) return {};
  return {col, row};
}

int TCustomDbAltGrid::ColumnBorderAt(int x) const {
  for (int i = 0; i < FColumns.Count(); ++i) {
    const int border = ColumnLeft(i) + FColumns[i].Width();
    if (x >= border - BorderGrip && x <= border + BorderGrip) return i;
  }
  return -1;
}

void TCustomDbAltGrid::SetHorzOffset(int offset) {
  const int maxOffset = std::max(0, ColumnsWidth() - ClientRect().width());
  offset = std::clamp(offset, 0, maxOffset);
  if (offset == FHorzOffset) return;
  FHorzOffset = offset;
  if (!FHorzBar->isHidden() && FHorzBar->value() != offset) {
    FUpdatingScrollBars = true;
    FHorzBar->setValue(offset);
    FUpdatingScrollBars = false;
  }
  update();
}

// ---------------------------------------------------------------------------
// Scrolling

void TCustomDbAltGrid::VertScroll(TScrollCode code, int position) {
  TmtbCustomMemTable* table = ActiveDataSet();
  if (!table) return;
  const int shown = RowCount();
  switch (code) {
  case TScrollCode::LineUp:
    MoveBy(-FActiveRow - 1);
    break;
  case TScrollCode::LineDown:
    MoveBy(shown - FActiveRow);
    break;
  case TScrollCode::PageUp:
    MoveBy(-VisibleRowCount());
    break;
  case TScrollCode::PageDown:
    MoveBy(VisibleRowCount());
    break;
  case TScrollCode::ThumbPosition: {
    const int count = table->RecordCount();
    if (position <= 1)
      table->First();
    else if (position >= count)
      table->Last();
    else
      table->SetRecNo(position);
    break;
  }
  case TScrollCode::Top:
    table->First();
    break;
  case TScrollCode::Bottom:
    table->Last();
    break;
  }
}

void TCustomDbAltGrid::HorzScroll(THorzCode code, int position) {
  if (focusPolicy() != Qt::NoFocus && isEnabled()) setFocus(Qt::OtherFocusReason);
  const int dataWidth = ClientRect().width();
  const int zero = QFontMetrics(font()).horizontalAdvance(QLatin1Char('0'));
  int offset = FHorzOffset;
  switch (code) {
  case THorzCode::LineLeft:
    offset -= zero;
    break;
  case THorzCode::LineRight:
    offset += zero;
    break;
  case THorzCode::PageLeft:
    offset -= dataWidth;
    break;
  case THorzCode::PageRight:
    offset += dataWidth;
    break;
  case THorzCode::ThumbPosition:
    offset = position;
    break;
  case THorzCode::Left:
    offset = 0;
    break;
  case THorzCode::Right:
    offset = ColumnsWidth() - dataWidth;
    break;
  }
  SetHorzOffset(offset);
}

void TCustomDbAltGrid::MoveBy(int distance) {
  TmtbCustomMemTable* table = ActiveDataSet();
  if (table && distance != 0) table->MoveBy(distance);
}

void TCustomDbAltGrid::ClearSelection() {
  FSelectedRows.Clear();
  FSelecting = false;
  FSelectionAnchor.clear();
}

void TCustomDbAltGrid::ShiftMove(int direction) {
  TmtbCustomMemTable* table = ActiveDataSet();
  if (!table) return;
  bool selectReached = true;
  if (!FSelecting) {
    FSelectionAnchor = table->Bookmark();
    FSelectedRows.SetCurrentRowSelected(true);
    FSelecting = true;
  } else if (table->CompareBookmarks(table->Bookmark(), FSelectionAnchor) == -direction) {
    // Moving back towards the anchor: the row left is no longer in the range.
    FSelectedRows.SetCurrentRowSelected(false);
    selectReached = false;
  }
  MoveBy(direction);
  if (selectReached) FSelectedRows.SetCurrentRowSelected(true);
}

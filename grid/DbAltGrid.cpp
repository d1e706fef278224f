#include "DbAltGrid.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>

#include "DagGridDataLink.h"
#include "DbAltGridAccessible.h"
#include "MemTable.h"

static void InitGlyphResources() {
  Q_INIT_RESOURCE(glyphs);
}

namespace {

// Undoes DisableControls also when an operation fails.
class TControlsDisabler {
public:
  explicit TControlsDisabler(TmtbCustomMemTable& table) : FTable(table) {
    FTable.DisableControls();
  }
  ~TControlsDisabler() { FTable.EnableControls(); }
  TControlsDisabler(const TControlsDisabler&) = delete;
  TControlsDisabler& operator=(const TControlsDisabler&) = delete;

private:
  TmtbCustomMemTable& FTable;
};

constexpr int GlyphSize = 9;
constexpr int TextInsetX = 2;   // left and right
constexpr int TextInsetTop = 2; // 1, plus 1 more at the top
constexpr int TextInsetBottom = 1;
constexpr int GlyphGap = 6;      // caption text width + this = glyph's left edge
constexpr int MoveThreshold = 3; // pixels a title must be dragged before it moves
constexpr int BorderGrip = 2;    // pixels either side of a title border that start a resize

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

QFont DesignFont() {
  // The designed font, an 8-point sans serif, becomes the platform's sans serif at 8 points.
  QFont font(QStringLiteral("Sans Serif"), 8);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

} // namespace

// ---------------------------------------------------------------------------
// Link

void TdagGridDataLink::ActiveChanged() {
  FGrid.LinkActive(Active());
}
void TdagGridDataLink::DataSetChanged() {
  FGrid.DataChanged();
}
void TdagGridDataLink::DataSetScrolled(int) {
  FGrid.DataChanged();
}
void TdagGridDataLink::LayoutChanged() {
  FGrid.LayoutChanged();
}
void TdagGridDataLink::RecordChanged(TField*) {
  FGrid.DataChanged();
}

// ---------------------------------------------------------------------------
// Selected rows

TmtbCustomMemTable& TdagBookmarkList::CheckedDataSet() const {
  TmtbCustomMemTable* table = FGrid.ActiveDataSet();
  if (!table) throw EInvalidGridOperation("Cannot perform this operation on a closed dataset");
  return *table;
}

bool TdagBookmarkList::Find(const std::string& bookmark, int& index) const {
  if (FCacheValid && bookmark == FCacheBookmark) {
    index = FCacheIndex;
    return FCacheFound;
  }
  bool found = false;
  int lo = 0;
  int hi = Count() - 1;
  if (hi >= 0) {
    const TmtbCustomMemTable& table = CheckedDataSet();
    while (lo <= hi) {
      const int mid = lo + (hi - lo) / 2;
      const int order = table.CompareBookmarks(FList[static_cast<std::size_t>(mid)], bookmark);
      if (order < 0) {
        lo = mid + 1;
      } else if (order > 0) {
        hi = mid - 1;
      } else {
        lo = mid;
        found = true;
        break;
      }
    }
  }
  index = lo;
  FCacheBookmark = bookmark;
  FCacheIndex = lo;
  FCacheFound = found;
  FCacheValid = true;
  return found;
}

void TdagBookmarkList::Select(const std::string& bookmark, bool value) {
  if (bookmark.empty()) return;
  int index = 0;
  const bool found = Find(bookmark, index);
  if (value == found) return;
  if (value)
    FList.insert(FList.begin() + index, bookmark);
  else
    FList.erase(FList.begin() + index);
  Changed();
  DbAltGridAccessibleChanged(FGrid);
}

void TdagBookmarkList::Clear() {
  if (FList.empty()) return;
  FList.clear();
  Changed();
  FGrid.update();
  DbAltGridAccessibleChanged(FGrid);
}

bool TdagBookmarkList::CurrentRowSelected() const {
  const std::string bookmark = CheckedDataSet().Bookmark();
  if (bookmark.empty()) return false;
  int index = 0;
  return Find(bookmark, index);
}

void TdagBookmarkList::SetCurrentRowSelected(bool value) {
  const std::string bookmark = CheckedDataSet().Bookmark();
  Select(bookmark, value);
  FGrid.InvalidateRow(FGrid.CurrentRow());
}

void TdagBookmarkList::Delete() {
  TmtbCustomMemTable& table = CheckedDataSet();
  {
    TControlsDisabler disabler(table);
    while (!FList.empty()) {
      const std::string bookmark = FList.back();
      // A bookmark whose record is gone is dropped: going to it would leave the
      // cursor where it is and delete the wrong record.
      if (table.BookmarkValid(bookmark)) {
        table.GotoBookmark(bookmark);
        table.Delete();
      }
      FList.pop_back();
      Changed();
    }
  }
  FGrid.update();
}

void TdagBookmarkList::Resort() {
  if (FList.empty()) return;
  const TmtbCustomMemTable* table = FGrid.ActiveDataSet();
  if (!table) return;
  // Bookmarks of records that no longer exist compare equal to everything and
  // cannot be ordered; they are dropped.
  std::erase_if(FList, [&](const std::string& b) { return !table->BookmarkValid(b); });
  std::sort(FList.begin(), FList.end(), [&](const std::string& a, const std::string& b) {
    return table->CompareBookmarks(a, b) < 0;
  });
  Changed();
}

// ---------------------------------------------------------------------------
// Grid: construction and properties

TCustomDbAltGrid::TCustomDbAltGrid(QWidget* parent) : QWidget(parent) {
  InstallDbAltGridAccessible();
  FDataLink = std::make_unique<TdagGridDataLink>(*this);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);

  FVertBar = new QScrollBar(Qt::Vertical, this);
  FVertBar->setTracking(false); // the record changes when the thumb is released
  FVertBar->setFocusPolicy(Qt::NoFocus);
  FVertBar->hide();
  QObject::connect(FVertBar, &QAbstractSlider::actionTriggered, this, [this](int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
      VertScroll(TScrollCode::LineUp);
      break;
    case QAbstractSlider::SliderSingleStepAdd:
      VertScroll(TScrollCode::LineDown);
      break;
    case QAbstractSlider::SliderPageStepSub:
      VertScroll(TScrollCode::PageUp);
      break;
    case QAbstractSlider::SliderPageStepAdd:
      VertScroll(TScrollCode::PageDown);
      break;
    case QAbstractSlider::SliderToMinimum:
      VertScroll(TScrollCode::Top);
      break;
    case QAbstractSlider::SliderToMaximum:
      VertScroll(TScrollCode::Bottom);
      break;
    case QAbstractSlider::SliderMove:
      if (!FVertBar->isSliderDown())
        VertScroll(TScrollCode::ThumbPosition, FVertBar->sliderPosition());
      return; // while dragging the thumb only follows the mouse
    default:
      return;
    }
    // The bar shows the record number, not where the action would have put it.
    FVertBar->setSliderPosition(std::max(1, FRecNo));
  });
  QObject::connect(FVertBar, &QAbstractSlider::sliderReleased, this, [this] {
    // Released where it was taken: no move, but the bar must show RecNo again.
    if (FVertBar->sliderPosition() == FVertBar->value()) FVertBar->setValue(std::max(1, FRecNo));
  });

  FHorzBar = new QScrollBar(Qt::Horizontal, this);
  FHorzBar->setFocusPolicy(Qt::NoFocus);
  FHorzBar->hide();
  QObject::connect(FHorzBar, &QAbstractSlider::actionTriggered, this, [this](int) {
    if (focusPolicy() != Qt::NoFocus && isEnabled()) setFocus(Qt::OtherFocusReason);
  });
  QObject::connect(FHorzBar, &QAbstractSlider::valueChanged, this, [this](int value) {
    if (!FUpdatingScrollBars) SetHorzOffset(value);
  });

  FTitleFont = DesignFont();
  setFont(DesignFont());
  UpdateLayout();
}

TCustomDbAltGrid::~TCustomDbAltGrid() {
  // Detach first so that no notification reaches a half-destroyed grid.
  FDataLink->SetDataSource(nullptr);
}

TDataSource* TCustomDbAltGrid::DataSource() const {
  return FDataLink->DataSource();
}

void TCustomDbAltGrid::SetDataSource(TDataSource* source) {
  if (source == FDataLink->DataSource()) return;
  FDataLink->SetDataSource(source);
  // The link reports activity changes itself; a switch between two inactive
  // sources still needs the columns rebound.
  LayoutChanged();
}

TmtbCustomMemTable* TCustomDbAltGrid::ActiveDataSet() const {
  return FDataLink->Active() ? FDataLink->DataSet() : nullptr;
}

void TCustomDbAltGrid::SetOptions(TDBGridOptions options) {
  if (options == FOptions) return;
  FOptions = options;
  if (!FOptions.Contains(TDBGridOption::dgMultiSelect)) {
    FSelectedRows.Clear();
    FSelecting = false;
  }
  UpdateColumnDefaults();
  UpdateLayout();
}

void TCustomDbAltGrid::SetAltOptions(TdagAltOptions options) {
  FAltOptions = options;
  update();
}

void TCustomDbAltGrid::SetAltColors(const TdagColors& colors) {
  FAltColors = colors;
  update();
}

void TCustomDbAltGrid::SetColor(TdagColor color) {
  FColor = color;
  update();
}

void TCustomDbAltGrid::SetFixedColor(TdagColor color) {
  FFixedColor = color;
  update();
}

void TCustomDbAltGrid::SetTitleFont(const QFont& font) {
  FTitleFont = font;
  UpdateColumnDefaults();
  UpdateLayout();
}

void TCustomDbAltGrid::SetSelectedIndex(int index) {
  if (FColumns.Count() == 0) {
    FSelectedIndex = 0;
    return;
  }
  FSelectedIndex = std::clamp(index, 0, FColumns.Count() - 1);
  DbAltGridAccessibleChanged(*this);
}

// ---------------------------------------------------------------------------
// Notifications

void TCustomDbAltGrid::LinkActive(bool active) {
  // The selection holds bookmarks of the table as it was: a new activation starts empty.
  FSelectedRows.FList.clear();
  FSelectedRows.Changed();
  FSelecting = false;
  FSelectionAnchor.clear();
  if (!active && FAutoColumns) {
    FColumns.FItems.clear();
    FAutoColumns = false;
  }
  TmtbCustomMemTable* table = ActiveDataSet();
  FLastIndex = table ? &table->SelectedIndex() : nullptr;
  if (active && FColumns.Count() == 0 && table) {
    for (int i = 0; i < table->FieldCount(); ++i) {
      auto column = std::make_unique<TdagColumn>(this);
      column->FFieldName = QString::fromStdString(table->Fields(i).FieldName());
      FColumns.FItems.push_back(std::move(column));
    }
    FAutoColumns = FColumns.Count() > 0;
  }
  UpdateColumnDefaults();
  UpdateLayout();
  ReadRows();
  UpdateScrollBars();
  update();
}

void TCustomDbAltGrid::DataChanged() {
  if (TmtbCustomMemTable* table = ActiveDataSet()) {
    const TmtbIndex* index = &table->SelectedIndex();
    if (index != FLastIndex) {
      FLastIndex = index;
      FSelectedRows.Resort();
    }
  }
  ReadRows();
  UpdateScrollBars();
  update();
}

void TCustomDbAltGrid::LayoutChanged() {
  UpdateColumnDefaults();
  UpdateLayout();
  DataChanged();
}

void TCustomDbAltGrid::ColumnChanged(bool layout) {
  if (layout) {
    UpdateColumnDefaults();
    UpdateLayout();
    ReadRows();
  }
  SetSelectedIndex(FSelectedIndex);
  update();
}

void TCustomDbAltGrid::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  switch (event->type()) {
  case QEvent::FontChange:
    UpdateColumnDefaults();
    UpdateLayout();
    break;
  case QEvent::EnabledChange:
  case QEvent::PaletteChange:
    update();
    break;
  default:
    break;
  }
}

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

// ---------------------------------------------------------------------------
// Deleting

void TCustomDbAltGrid::DeleteRecords() {
  TmtbCustomMemTable* table = ActiveDataSet();
  if (!table || FReadOnly || table->ReadOnly() || table->IsEmpty()) return;
  if (FOptions.Contains(TDBGridOption::dgConfirmDelete)) {
    const QString text = FSelectedRows.Count() < 2 ? QStringLiteral("Delete record?")
                                                   : QStringLiteral("Delete all selected records?");
    bool ok = false;
    if (OnConfirmDelete) {
      ok = OnConfirmDelete(text);
    } else {
      QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text,
                      QMessageBox::Ok | QMessageBox::Cancel, this);
      box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
      box.button(QMessageBox::Cancel)->setText(QStringLiteral("Cancel"));
      box.setDefaultButton(QMessageBox::Ok);
      ok = box.exec() == QMessageBox::Ok;
    }
    if (!ok) return;
  }
  if (FSelectedRows.Count() == 0)
    table->Delete();
  else
    FSelectedRows.Delete();
}

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

// ---------------------------------------------------------------------------
// Glyphs and titles

const std::array<QPixmap, 9>& TCustomDbAltGrid::GlyphList() {
  static const std::array<QPixmap, 9> glyphs = [] {
    InitGlyphResources();
    static const char* const names[9] = {
        "ARROWCOLLAPSED",         "ARROWEXPANDED",           "ICONCOLLAPSED",
        "ICONEXPANDED",           "SORTASCENDING",           "SORTDESCENDING",
        "SORTAVAILABLEASCENDING", "SORTAVAILABLEDESCENDING", "SORTAVAILABLEBOTH"};
    std::array<QPixmap, 9> list;
    for (int i = 0; i < 9; ++i) {
      QImage image(QStringLiteral(":/glyphs/") + QLatin1String(names[i]));
      image = image.convertToFormat(QImage::Format_ARGB32);
      // Magenta is transparent.
      for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
          if ((line[x] & 0xFFFFFF) == 0xFF00FF) line[x] = 0;
      }
      list[static_cast<std::size_t>(i)] = QPixmap::fromImage(image);
    }
    return list;
  }();
  return glyphs;
}

int TCustomDbAltGrid::SortGlyphIndex(unsigned marker) {
  if (marker == 0) return -1;
  return 4 + static_cast<int>(std::min(marker, 5u)) - 1;
}

QRect TCustomDbAltGrid::SortGlyphRect(int col) const {
  if (col < 0 || col >= FColumns.Count() || !FOptions.Contains(TDBGridOption::dgTitles)) return {};
  const TdagColumn& column = FColumns[col];
  const QRect area = CellRect(col, 0);
  if (column.SortMarker() == 0 || area.width() <= GlyphSize) return {};
  const int textWidth =
      QFontMetrics(column.Title().Font()).horizontalAdvance(column.Title().Caption());
  const int left =
      std::min(area.left() + textWidth + GlyphGap, area.left() + area.width() - GlyphSize);
  const int top = area.top() + (area.height() - GlyphSize) / 2;
  return QRect(left, top, GlyphSize, GlyphSize);
}

QRect TCustomDbAltGrid::TitleCaptionRect(int col) const {
  if (col < 0 || col >= FColumns.Count()) return {};
  const QRect area = CellRect(col, 0);
  const QRect glyph = SortGlyphRect(col);
  // The caption ends 1 pixel left of the glyph, else at the text inset.
  const int right = glyph.isNull() ? area.left() + area.width() - TextInsetX : glyph.left() - 1;
  return QRect(QPoint(area.left() + TextInsetX, area.top() + TextInsetTop),
               QPoint(right - 1, area.bottom() - TextInsetBottom));
}

QString TCustomDbAltGrid::TitleCaptionText(int col) const {
  if (col < 0 || col >= FColumns.Count()) return {};
  const TdagColumn& column = FColumns[col];
  const QRect rect = TitleCaptionRect(col);
  return QFontMetrics(column.Title().Font())
      .elidedText(column.Title().Caption(), Qt::ElideRight, std::max(0, rect.width()));
}

// ---------------------------------------------------------------------------
// Painting

void TCustomDbAltGrid::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  const QRect client = ClientRect();
  p.setClipRect(client.intersected(event->rect()));
  PaintTitles(p, client);
  PaintRows(p, client);
  p.setClipping(false);
  if (!FVertBar->isHidden() && !FHorzBar->isHidden())
    p.fillRect(QRect(client.right() + 1, client.bottom() + 1, width() - client.width(),
                     height() - client.height()),
               DagColorToQColor(dagcl::BtnFace, palette()));
}

void TCustomDbAltGrid::PaintTitles(QPainter& p, const QRect& client) {
  if (!FOptions.Contains(TDBGridOption::dgTitles) || FTitleHeight <= 0) return;
  const QPalette& pal = palette();
  const QColor background = DagColorToQColor(FFixedColor, pal);
  const QColor lineColor = DagColorToQColor(FAltColors.FixedLine, pal);
  const QColor textColor =
      isEnabled() ? pal.color(QPalette::ButtonText) : DagColorToQColor(dagcl::GrayText, pal);
  const QColor light = pal.color(QPalette::Light);
  const bool colLines = FOptions.Contains(TDBGridOption::dgColLines);
  const bool rowLines = FOptions.Contains(TDBGridOption::dgRowLines);
  const int n = FColumns.Count();
  int right = -FHorzOffset;
  for (int c = 0; c < n; ++c) {
    const QRect cell = CellRect(c, 0);
    right = cell.left() + cell.width() + (colLines ? FLineWidth : 0);
    if (cell.left() > client.right() || right <= client.left()) continue;
    p.fillRect(cell, background);
    // Raised look: a light edge at the top and left of the title.
    p.fillRect(QRect(cell.left(), cell.top(), cell.width(), 1), light);
    p.fillRect(QRect(cell.left(), cell.top(), 1, cell.height()), light);
    if (colLines)
      p.fillRect(QRect(cell.left() + cell.width(), 0, FLineWidth, FTitleHeight), lineColor);

    const TdagColumn& column = FColumns[c];
    const QRect captionRect = TitleCaptionRect(c);
    if (captionRect.width() > 0) {
      p.save();
      p.setClipRect(captionRect.intersected(client));
      p.setFont(column.Title().Font());
      p.setPen(textColor);
      const QFontMetrics fm(column.Title().Font());
      p.drawText(QPoint(captionRect.left(), captionRect.top() + fm.ascent()), TitleCaptionText(c));
      p.restore();
    }
    const int glyphIndex = SortGlyphIndex(column.SortMarker());
    const QRect glyphRect = SortGlyphRect(c);
    if (glyphIndex >= 0 && !glyphRect.isNull()) {
      p.save();
      p.setClipRect(cell.intersected(client));
      p.drawPixmap(glyphRect.topLeft(), GlyphList()[static_cast<std::size_t>(glyphIndex)]);
      p.restore();
    }
  }
  // While a column is dragged: a bar where it would land.
  if (FState == TGridState::ColMoving && FMoveTarget >= 0 && FMoveTarget < n) {
    const QRect target = CellRect(FMoveTarget, 0);
    const int x = FMoveTarget > FPressCol ? target.left() + target.width() - 1 : target.left();
    p.fillRect(QRect(x - 1, 0, 3, FTitleHeight), pal.color(QPalette::Highlight));
  }
  // The title area right of the last column.
  if (right <= client.right())
    p.fillRect(QRect(right, 0, client.right() + 1 - right, FTitleHeight),
               DagColorToQColor(FAltColors.HeaderBlank, pal));
  if (rowLines)
    p.fillRect(QRect(client.left(), FTitleHeight - FLineWidth, std::min(right, client.right() + 1),
                     FLineWidth),
               lineColor);
}

void TCustomDbAltGrid::PaintRows(QPainter& p, const QRect& client) {
  const QPalette& pal = palette();
  const QRect dirty = p.clipBoundingRect().toAlignedRect();
  const bool colLines = FOptions.Contains(TDBGridOption::dgColLines);
  const bool rowLines = FOptions.Contains(TDBGridOption::dgRowLines);
  const int rowLine = rowLines ? FLineWidth : 0;
  const int colLine = colLines ? FLineWidth : 0;
  const QColor colLineColor = DagColorToQColor(FAltColors.ColLine, pal);
  const QColor rowLineColor = DagColorToQColor(FAltColors.RowLine, pal);
  const QColor blank = DagColorToQColor(FAltColors.RowBlank, pal);
  const bool focused = hasFocus();
  const bool noHighlight =
      FAltColors.Highlight == dagcl::None || FAltColors.HighlightText == dagcl::None;
  const QColor highlight = DagColorToQColor(FAltColors.Highlight, pal);
  const QColor highlightText = DagColorToQColor(FAltColors.HighlightText, pal);
  const QColor inactiveHighlight = DagColorToQColor(dagcl::InactiveBorder, pal);
  const QColor normalText = isEnabled() ? DagColorToQColor(dagcl::WindowText, pal)
                                        : DagColorToQColor(dagcl::GrayText, pal);
  const bool striped = FAltOptions.Contains(TdagAltOption::dagStripedRows) && isEnabled();
  const QColor stripe0 = DagColorToQColor(FAltColors.Stripe0, pal);
  const QColor stripe1 = DagColorToQColor(FAltColors.Stripe1, pal);

  const int n = FColumns.Count();
  // Per-column geometry, fonts and colours, computed once per paint.
  struct TColumnPaint {
    int Left, Width;
    QFont Font;
    int Ascent;
    QColor Color;
    bool GridColor;
    Qt::Alignment Alignment;
    int FontId; // columns with equal fonts share one, so the painter's font is set rarely
  };
  std::vector<TColumnPaint> cols;
  cols.reserve(static_cast<std::size_t>(n));
  int right = -FHorzOffset;
  for (int c = 0; c < n; ++c) {
    const TdagColumn& column = FColumns[c];
    const QFont f = column.Font();
    int fontId = c;
    for (const TColumnPaint& earlier : cols)
      if (earlier.Font == f) {
        fontId = earlier.FontId;
        break;
      }
    cols.push_back({right, column.Width(), f, QFontMetrics(f).ascent(),
                    DagColorToQColor(column.Color(), pal), column.Color() == FColor,
                    column.Alignment(), fontId});
    right += column.Width() + colLine;
  }
  const int firstRecNo = FRecNo > 0 ? FRecNo - FActiveRow : 1;

  int currentFont = -1; // the font id the painter has
  QColor currentPen;
  int y = FTitleHeight;
  const int rows = RowCount();
  for (int r = 0; r < rows && y <= client.bottom(); ++r, y += FRowHeight) {
    const int cellHeight = FRowHeight - rowLine;
    if (y + FRowHeight <= dirty.top() || y > dirty.bottom()) continue;
    const bool lit = RowHighlighted(r + 1);
    const TRowCache& row = FRows[static_cast<std::size_t>(r)];
    for (int c = 0; c < n; ++c) {
      const TColumnPaint& cp = cols[static_cast<std::size_t>(c)];
      if (cp.Left > client.right() || cp.Left + cp.Width + colLine <= client.left()) continue;
      const QRect cell(cp.Left, y, cp.Width, cellHeight);
      QColor background = cp.Color;
      if (striped && cp.GridColor) background = ((firstRecNo + r) % 2 == 0) ? stripe1 : stripe0;
      QColor text = normalText;
      if (lit && !noHighlight) {
        if (focused) {
          background = highlight;
          text = highlightText;
        } else {
          background = inactiveHighlight;
        }
      }
      p.fillRect(cell, background);
      if (colLines)
        p.fillRect(QRect(cell.left() + cell.width(), y, colLine, FRowHeight), colLineColor);
      const QString& value = row.Texts.size() > static_cast<std::size_t>(c)
                                 ? row.Texts[static_cast<std::size_t>(c)]
                                 : QString();
      if (value.isEmpty()) continue;
      const QRect textRect = cell.adjusted(TextInsetX, TextInsetTop, -TextInsetX, -TextInsetBottom);
      if (textRect.width() <= 0) continue;
      if (currentFont != cp.FontId) {
        p.setFont(cp.Font);
        currentFont = cp.FontId;
      }
      if (currentPen != text) {
        p.setPen(text);
        currentPen = text;
      }
      p.setClipRect(textRect.intersected(client).intersected(dirty));
      if (value.contains(QLatin1Char('\t')) || !(cp.Alignment & Qt::AlignLeft)) {
        p.drawText(textRect,
                   static_cast<int>((cp.Alignment & Qt::AlignHorizontal_Mask) | Qt::AlignTop |
                                    Qt::TextSingleLine | Qt::TextExpandTabs),
                   value);
      } else {
        p.drawText(QPoint(textRect.left(), textRect.top() + cp.Ascent), value);
      }
      p.setClipRect(client.intersected(dirty));
    }
    if (rowLines && right > 0)
      p.fillRect(QRect(client.left(), y + cellHeight, std::min(right, client.right() + 1), rowLine),
                 rowLineColor);
    if (right <= client.right())
      p.fillRect(QRect(right, y, client.right() + 1 - right, FRowHeight), blank);
  }
  // The area below the last row.
  if (y <= client.bottom())
    p.fillRect(QRect(client.left(), y, client.width(), client.bottom() + 1 - y), blank);
}

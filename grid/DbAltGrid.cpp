// The grid's link to the table, construction and properties, and the
// notifications from the table.
#include "grid/DbAltGrid.h"

#include <QScrollBar>
#include <algorithm>

#include "grid/DagGridDataLink.h"
#include "grid/DbAltGridAccessible.h"
#include "table/MemTable.h"

namespace {

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

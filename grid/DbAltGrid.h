#pragma once
// The picture list grid: a data-aware grid bound to the picture table through
// its attached-view link, showing one row per record with sort glyphs in the
// titles and a multiple selection held as bookmarks.

#include <QFont>
#include <QPixmap>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "grid/DagColumns.h"
#include "grid/DagTypes.h"

class QScrollBar;
class TCustomDbAltGrid;
class TdagGridDataLink;
class TDataSource;
class TmtbCustomMemTable;
class TmtbIndex;

// The selected rows: bookmarks kept sorted by the table's bookmark order.
class TdagBookmarkList {
public:
  explicit TdagBookmarkList(TCustomDbAltGrid& grid) : FGrid(grid) {}

  int Count() const { return static_cast<int>(FList.size()); }
  // The bookmark string at a position (0 to Count - 1).
  const std::string& Items(int index) const { return FList.at(static_cast<std::size_t>(index)); }
  const std::string& operator[](int index) const { return Items(index); }
  // Empties the list; repaints the grid if it was not empty.
  void Clear();
  // Whether the current record's bookmark is in the list.
  bool CurrentRowSelected() const;
  void SetCurrentRowSelected(bool value);
  // Deletes the records of all selected rows from the table.
  void Delete();
  // Binary search: whether the bookmark is present, and the position where it
  // is or would be inserted. A repeated search is answered from a cache.
  bool Find(const std::string& bookmark, int& index) const;
  // Inserts or removes a bookmark, keeping the order; an empty one changes nothing.
  void Select(const std::string& bookmark, bool value);

private:
  friend class TCustomDbAltGrid;
  void Changed() {
    FCacheValid = false;
    ++FChanges;
  }
  void Resort(); // after a change of the table's order
  TmtbCustomMemTable& CheckedDataSet() const;

  TCustomDbAltGrid& FGrid;
  std::vector<std::string> FList;
  mutable std::string FCacheBookmark;
  mutable int FCacheIndex = 0;
  mutable bool FCacheFound = false;
  mutable bool FCacheValid = false;
  unsigned long long FChanges = 0; // counts every change of the list
};

// The column and row of a cell; row 0 is the title row, -1 means no cell.
struct TGridCoord {
  int X = -1;
  int Y = -1;
  bool operator==(const TGridCoord&) const = default;
};

class TCustomDbAltGrid : public QWidget {
public:
  explicit TCustomDbAltGrid(QWidget* parent = nullptr);
  ~TCustomDbAltGrid() override;

  // The data source the grid shows; nullptr unbinds it.
  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* source);

  TdagColumns& Columns() { return FColumns; }
  const TdagColumns& Columns() const { return FColumns; }
  TdagBookmarkList& SelectedRows() { return FSelectedRows; }
  const TdagBookmarkList& SelectedRows() const { return FSelectedRows; }

  TDBGridOptions Options() const { return FOptions; }
  void SetOptions(TDBGridOptions options);
  TdagAltOptions AltOptions() const { return FAltOptions; }
  void SetAltOptions(TdagAltOptions options);
  const TdagColors& AltColors() const { return FAltColors; }
  void SetAltColors(const TdagColors& colors);
  // Cell background.
  TdagColor Color() const { return FColor; }
  void SetColor(TdagColor color);
  // Title background.
  TdagColor FixedColor() const { return FFixedColor; }
  void SetFixedColor(TdagColor color);
  QFont TitleFont() const { return FTitleFont; }
  void SetTitleFont(const QFont& font);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }

  // The column with the cell focus (whole rows are selected; the column only
  // matters for Tab and the cell click event).
  int SelectedIndex() const { return FSelectedIndex; }
  void SetSelectedIndex(int index);

  TGridCoord MouseCoord(int x, int y) const;

  // Geometry, in client pixels of the grid. Heights include the row line.
  int TitleRowHeight() const { return FTitleHeight; }
  int DataRowHeight() const { return FRowHeight; }
  int VisibleRowCount() const;
  // The cell rectangle of column col and row (0 title, 1.. data), without its lines.
  QRect CellRect(int col, int row) const;
  // The area the cells use, without the scroll bars.
  QRect ClientRect() const;
  int HorzOffset() const { return FHorzOffset; }
  QScrollBar* VertScrollBar() const { return FVertBar; }
  QScrollBar* HorzScrollBar() const { return FHorzBar; }

  // What the grid shows, as of its last re-read of the table: the number of
  // data rows, the current row (1-based, 0 when none) and a cell's text.
  int RowCount() const { return static_cast<int>(FRows.size()); }
  int CurrentRow() const { return FRows.empty() ? 0 : FActiveRow + 1; }
  QString CellText(int col, int row) const;
  const std::string& RowBookmark(int row) const;
  // Whether a data row (1-based) is painted highlighted.
  bool RowHighlighted(int row) const;

  // Where the sort glyph of a column's title goes (empty when none is shown),
  // the area left for the caption, and the caption as drawn there.
  QRect SortGlyphRect(int col) const;
  QRect TitleCaptionRect(int col) const;
  QString TitleCaptionText(int col) const;
  // The glyph image list: four arrows/icons, then the five sort glyphs.
  static const std::array<QPixmap, 9>& GlyphList();
  // Index into the glyph list for a sort marker, -1 for none.
  static int SortGlyphIndex(unsigned marker);

  // Events. The title click gets the title's column, the cell click the selected column.
  std::function<void(TdagColumn&)> OnTitleClick;
  std::function<void(TdagColumn&)> OnCellClick;
  std::function<void()> OnDblClick;
  // Raised once a key or a mouse press the grid handled has changed the
  // selected rows, after the whole change (the table's after-scroll, raised
  // in the middle of a Shift move, sees the list before the row reached).
  std::function<void()> OnSelectionChanged;
  // Asks the delete question; returns true for OK. Empty: a message box captioned "Confirm".
  std::function<bool(const QString& text)> OnConfirmDelete;
  // Raised once DeleteRecords has deleted (also when a delete failed part
  // way). Deleting the selected rows holds the table's notifications back, so
  // the moves made meanwhile reached no after-scroll handler that acts: this
  // tells the owner which row is current at the end.
  std::function<void()> OnRecordsDeleted;

  // Vertical scroll bar actions, as the scroll bar sends them (also usable directly).
  enum class TScrollCode { LineUp, LineDown, PageUp, PageDown, ThumbPosition, Top, Bottom };
  void VertScroll(TScrollCode code, int position = 0);
  enum class THorzCode { LineLeft, LineRight, PageLeft, PageRight, ThumbPosition, Left, Right };
  void HorzScroll(THorzCode code, int position = 0);

  // The Ctrl+Delete action without the key: asks, then deletes.
  void DeleteRecords();

  // The link to the table; used by the link itself.
  TdagGridDataLink& DataLink() { return *FDataLink; }

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool focusNextPrevChild(bool next) override;

private:
  friend class TdagGridDataLink;
  friend class TdagBookmarkList;
  friend class TdagColumn;
  friend class TdagColumnTitle;
  friend class TdagColumns;

  TmtbCustomMemTable* ActiveDataSet() const; // the table while the link is active, else nullptr

  // The key and press handling; the event handlers around them raise
  // OnSelectionChanged afterwards.
  void KeyDown(QKeyEvent* event);
  void MouseDown(QMouseEvent* event);
  void NotifySelectionChanged(unsigned long long changesBefore);

  // Notifications from the link.
  void LinkActive(bool active);
  void DataChanged();
  void LayoutChanged();
  void ColumnChanged(bool layout);

  void UpdateFonts();
  void UpdateLayout();         // row heights, column widths, scroll bars, buffer count
  void UpdateColumnDefaults(); // binds columns to fields, default widths and captions
  void UpdateScrollBars();
  void ReadRows(); // re-reads the shown records from the link
  void InvalidateRow(int row);
  int ColumnLeft(int col) const;   // left edge of a column's cell, scrolled
  int ColumnsWidth() const;        // total width of all columns with their lines
  int ColumnBorderAt(int x) const; // column whose right border is under x, or -1
  int DefaultColumnWidth(const TdagColumn& column) const;
  void SetHorzOffset(int offset);

  // Keyboard helpers.
  void ClearSelection();
  void MoveBy(int distance);
  void ShiftMove(int direction);

  void PaintTitles(class QPainter& p, const QRect& client);
  void PaintRows(class QPainter& p, const QRect& client);

  std::unique_ptr<TdagGridDataLink> FDataLink;
  TdagColumns FColumns{this};
  TdagBookmarkList FSelectedRows{*this};
  TDBGridOptions FOptions = PictureListOptions;
  TdagAltOptions FAltOptions = DefaultAltOptions;
  TdagColors FAltColors;
  TdagColor FColor = dagcl::Window;
  TdagColor FFixedColor = dagcl::BtnFace;
  QFont FTitleFont;
  bool FReadOnly = false;
  bool FAutoColumns = false; // columns made from the fields, not by the owner
  int FSelectedIndex = 0;

  // Geometry.
  int FTitleHeight = 0;
  int FRowHeight = 0;
  int FLineWidth = 1;
  int FHorzOffset = 0; // pixels the columns are scrolled to the left (>= 0)
  QScrollBar* FVertBar = nullptr;
  QScrollBar* FHorzBar = nullptr;
  bool FUpdatingScrollBars = false;

  // The shown records, re-read on every notification.
  struct TRowCache {
    std::string Bookmark;
    std::vector<QString> Texts; // one per column
  };
  std::vector<TRowCache> FRows;
  int FActiveRow = 0;
  int FRecNo = -1;
  int FRecordCount = 0;
  const TmtbIndex* FLastIndex = nullptr;

  // Range selection (Shift+Up/Down).
  bool FSelecting = false;
  std::string FSelectionAnchor;

  // Mouse states.
  enum class TGridState { Normal, TitlePressed, CellPressed, ColSizing, ColMoving };
  TGridState FState = TGridState::Normal;
  QPoint FPressPos;
  int FPressCol = -1;
  int FSizingCol = -1;
  int FSizingStartWidth = 0;
  int FMoveTarget = -1;
};

// The published grid: the picture list's class.
class TDbAltGrid : public TCustomDbAltGrid {
public:
  using TCustomDbAltGrid::TCustomDbAltGrid;
};

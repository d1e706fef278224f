#pragma once
// What assistive technology (screen readers, automation over AT-SPI) sees of
// the picture list grid: a table whose rows are the rows the grid shows (the
// window of records the table keeps for it), with a column header per column,
// the current cell as the focused cell, and as selected the rows the grid
// paints highlighted: the chosen rows and the current row.
// Texts are read from the grid on demand, so a table of any size costs
// nothing more than the rows on screen.

#include <QAccessibleWidget>
#include <QPointer>
#include <QString>
#include <map>
#include <string>
#include <vector>

class TCustomDbAltGrid;

// Registers the grid's accessible table with Qt; done once per process.
void InstallDbAltGridAccessible();

// Tells assistive technology that what the grid shows may have changed: its
// rows, the current cell, the selection or the focus. Cheap and callable for
// every record: it only marks the grid for one check at the next turn of the
// event loop, and does nothing while no assistive technology listens.
void DbAltGridAccessibleChanged(TCustomDbAltGrid& grid);

// The grid as a table. Children: the column headers (when titles are shown),
// then the data cells row by row.
class TdagAccessibleGrid : public QAccessibleWidget, public QAccessibleTableInterface {
public:
  explicit TdagAccessibleGrid(TCustomDbAltGrid* grid);
  ~TdagAccessibleGrid() override;

  // QAccessibleInterface
  QAccessible::Role role() const override { return QAccessible::Table; }
  QAccessible::State state() const override;
  int childCount() const override;
  QAccessibleInterface* child(int index) const override;
  int indexOfChild(const QAccessibleInterface* child) const override;
  QAccessibleInterface* childAt(int x, int y) const override;
  QAccessibleInterface* focusChild() const override;
  void* interface_cast(QAccessible::InterfaceType type) override;

  // QAccessibleTableInterface; rows and columns count from 0 here.
  QAccessibleInterface* caption() const override { return nullptr; }
  QAccessibleInterface* summary() const override { return nullptr; }
  QAccessibleInterface* cellAt(int row, int column) const override;
  int selectedCellCount() const override;
  QList<QAccessibleInterface*> selectedCells() const override;
  QString columnDescription(int column) const override;
  QString rowDescription(int) const override { return {}; }
  int selectedColumnCount() const override { return 0; }
  int selectedRowCount() const override;
  int columnCount() const override;
  int rowCount() const override;
  QList<int> selectedColumns() const override { return {}; }
  QList<int> selectedRows() const override;
  bool isColumnSelected(int) const override { return false; }
  bool isRowSelected(int row) const override;
  bool selectRow(int row) override;
  bool selectColumn(int) override { return false; }
  bool unselectRow(int row) override;
  bool unselectColumn(int) override { return false; }
  void modelChange(QAccessibleTableModelChangeEvent* event) override;

  TCustomDbAltGrid* Grid() const;
  // A data cell (row -1: the column's header) or nullptr when there is none.
  QAccessibleInterface* Cell(int row, int column) const;
  bool HasTitles() const;
  // Compares what the grid shows with what was last reported and sends the
  // events for the differences.
  void Check();
  void ScheduleCheck();

private:
  int CellChildIndex(int row, int column) const;
  bool SetRowSelected(int row, bool value);
  void Send(QAccessible::Event type, int row, int column);

  // What was last reported: the rows' bookmarks and texts, which are selected,
  // the current cell and whether the grid had the focus.
  struct TShown {
    std::vector<std::string> Bookmarks;
    std::vector<QString> Texts; // row by row
    std::vector<bool> Selected;
    int Columns = 0;
    int CurrentRow = -1;
    int CurrentColumn = -1;
    std::string CurrentBookmark;
    bool Focused = false;
  };
  TShown Snapshot() const;

  TShown FShown;
  bool FCheckPending = false;
  // Cell interfaces handed out, by (row, column); row -1 holds the headers.
  mutable std::map<std::pair<int, int>, QAccessible::Id> FCells;
};

// One cell of the grid, or a column header (row -1).
class TdagAccessibleCell : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
  TdagAccessibleCell(TCustomDbAltGrid* grid, int row, int column);

  // QAccessibleInterface
  bool isValid() const override;
  QObject* object() const override { return nullptr; }
  QWindow* window() const override;
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QAccessibleInterface* parent() const override;
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QString text(QAccessible::Text type) const override;
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override;
  QAccessible::Role role() const override;
  QAccessible::State state() const override;
  void* interface_cast(QAccessible::InterfaceType type) override;

  // QAccessibleTableCellInterface
  bool isSelected() const override;
  QList<QAccessibleInterface*> columnHeaderCells() const override;
  QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
  int columnIndex() const override { return FColumn; }
  int rowIndex() const override { return FRow; }
  int columnExtent() const override { return 1; }
  int rowExtent() const override { return 1; }
  QAccessibleInterface* table() const override { return parent(); }

private:
  QPointer<QWidget> FGrid; // the grid, as a widget; cleared when it is destroyed
  int FRow;
  int FColumn;
};

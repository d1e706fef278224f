// The picture list grid as assistive technology sees it: Qt's accessible
// table of the grid on the offscreen platform, with a picture table holding
// generated records. (The change events need a live accessibility bridge;
// the real-window test over AT-SPI sees them.)

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <memory>
#include <string>

#include "grid/DbAltGrid.h"
#include "table/MemTable.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "grid_accessible_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class GridAccessibleTest : public ::testing::Test {
protected:
  void SetUp() override {
    App();
    table = CreatePictureTable();
    table->Open();
    for (int i = 1; i <= RecordTotal; ++i) {
      table->Insert();
      table->FieldByName("Name").SetAsString(Name(i));
      table->FieldByName("Location").SetAsString("/pictures/holiday/");
      table->FieldByName("Date").SetAsDateTime(EncodeDateTime(2020, 1, 1 + i % 28, 10, 30, 0));
      table->FieldByName("Type").SetAsString(i % 2 ? "jpg" : "png");
      table->Post();
    }
    table->First();
    source = std::make_unique<TDataSource>("dsPictures");
    source->SetDataSet(table.get());
    grid = std::make_unique<TDbAltGrid>();
    for (const char* field : {"Name", "Location", "Date", "Type"})
      grid->Columns().Add().SetFieldName(QString::fromLatin1(field));
    grid->SetDataSource(source.get());
    grid->resize(640, 300);
    grid->show();
    grid->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(grid.get()));
    grid->setFocus();
    iface = QAccessible::queryAccessibleInterface(grid.get());
    ASSERT_NE(iface, nullptr);
    tableIface = iface->tableInterface();
    ASSERT_NE(tableIface, nullptr);
  }

  void TearDown() override {
    grid.reset();
    source.reset();
    table.reset();
  }

  static std::string Name(int i) {
    return QStringLiteral("pic%1.jpg").arg(i, 4, 10, QLatin1Char('0')).toStdString();
  }

  QString CellName(int row, int column) const {
    QAccessibleInterface* cell = tableIface->cellAt(row, column);
    return cell ? cell->text(QAccessible::Name) : QStringLiteral("<none>");
  }

  static constexpr int RecordTotal = 60;
  std::unique_ptr<TmtbMemTable> table;
  std::unique_ptr<TDataSource> source;
  std::unique_ptr<TDbAltGrid> grid;
  QAccessibleInterface* iface = nullptr;
  QAccessibleTableInterface* tableIface = nullptr;
};

TEST_F(GridAccessibleTest, TheGridIsATableOfTheShownRowsWithTheirTexts) {
  EXPECT_EQ(iface->role(), QAccessible::Table);
  EXPECT_TRUE(iface->state().multiSelectable);
  // The rows are those on screen, not every record of the table.
  const int shown = grid->RowCount();
  ASSERT_GT(shown, 3);
  ASSERT_LT(shown, RecordTotal);
  EXPECT_EQ(tableIface->rowCount(), shown);
  EXPECT_EQ(tableIface->columnCount(), 4);
  EXPECT_EQ(iface->childCount(), 4 + shown * 4);

  const QString titles[] = {"Name", "Location", "Date", "Type"};
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(tableIface->columnDescription(c), titles[c]);
    QAccessibleInterface* header = iface->child(c);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->role(), QAccessible::ColumnHeader);
    EXPECT_EQ(header->text(QAccessible::Name), titles[c]);
  }
  // Cells give what the grid draws, and know where they sit.
  struct {
    int Row, Column;
    QString Text;
  } const cases[] = {{0, 0, "pic0001.jpg"},
                     {0, 1, "/pictures/holiday/"},
                     {0, 3, "jpg"},
                     {1, 3, "png"},
                     {shown - 1, 0, QString::fromStdString(Name(shown))}};
  for (const auto& c : cases) {
    QAccessibleInterface* cell = tableIface->cellAt(c.Row, c.Column);
    ASSERT_NE(cell, nullptr) << c.Row << "," << c.Column;
    EXPECT_EQ(cell->role(), QAccessible::Cell);
    EXPECT_EQ(cell->text(QAccessible::Name), c.Text);
    EXPECT_EQ(cell->text(QAccessible::Name), grid->CellText(c.Column, c.Row + 1));
    EXPECT_EQ(cell->tableCellInterface()->rowIndex(), c.Row);
    EXPECT_EQ(cell->tableCellInterface()->columnIndex(), c.Column);
    EXPECT_EQ(cell->parent(), iface);
    EXPECT_EQ(iface->child(iface->indexOfChild(cell)), cell);
    const QList<QAccessibleInterface*> headers = cell->tableCellInterface()->columnHeaderCells();
    ASSERT_EQ(headers.size(), 1);
    EXPECT_EQ(headers[0]->text(QAccessible::Name), titles[c.Column]);
    // The point in the middle of the cell finds the cell again.
    EXPECT_EQ(iface->childAt(cell->rect().center().x(), cell->rect().center().y()), cell);
  }
  // The same cell is the same object each time, and there is nothing past the ends.
  EXPECT_EQ(tableIface->cellAt(2, 1), tableIface->cellAt(2, 1));
  EXPECT_EQ(tableIface->cellAt(shown, 0), nullptr);
  EXPECT_EQ(tableIface->cellAt(0, 4), nullptr);
  EXPECT_EQ(tableIface->cellAt(-1, 0), nullptr);
}

TEST_F(GridAccessibleTest, CurrentCellIsFocusedAndFollowsTheCursor) {
  ASSERT_TRUE(grid->hasFocus());
  QAccessibleInterface* focus = iface->focusChild();
  ASSERT_NE(focus, nullptr);
  EXPECT_EQ(focus, tableIface->cellAt(0, 0));
  EXPECT_TRUE(focus->state().focused);
  EXPECT_FALSE(tableIface->cellAt(1, 0)->state().focused);

  // Page Down moves the cursor to the last row on screen: that cell takes the focus.
  QTest::keyClick(grid.get(), Qt::Key_PageDown);
  const int current = grid->CurrentRow() - 1;
  ASSERT_GT(current, 0);
  focus = iface->focusChild();
  ASSERT_NE(focus, nullptr);
  EXPECT_EQ(focus->tableCellInterface()->rowIndex(), current);
  EXPECT_EQ(focus->text(QAccessible::Name),
            QString::fromStdString(table->FieldByName("Name").AsString()));
  EXPECT_FALSE(tableIface->cellAt(0, 0)->state().focused);

  // Tab moves the current cell to the next column of the same row.
  QTest::keyClick(grid.get(), Qt::Key_Tab);
  focus = iface->focusChild();
  ASSERT_NE(focus, nullptr);
  EXPECT_EQ(focus->tableCellInterface()->rowIndex(), current);
  EXPECT_EQ(focus->tableCellInterface()->columnIndex(), 1);

  // Without the keyboard focus there is no focused cell; the current one stays active.
  grid->clearFocus();
  EXPECT_EQ(iface->focusChild(), nullptr);
  EXPECT_FALSE(tableIface->cellAt(current, 1)->state().focused);
  EXPECT_TRUE(tableIface->cellAt(current, 1)->state().active);
}

TEST_F(GridAccessibleTest, SelectionIsTheRowsTheGridHighlights) {
  // Nothing chosen: the current row, which the grid paints highlighted, is the selection.
  EXPECT_EQ(tableIface->selectedRows(), QList<int>{0});
  EXPECT_EQ(tableIface->selectedCellCount(), 4);
  EXPECT_TRUE(tableIface->cellAt(0, 1)->state().selected);
  EXPECT_FALSE(tableIface->cellAt(1, 1)->state().selected);
  // It follows the cursor.
  QTest::keyClick(grid.get(), Qt::Key_Down);
  EXPECT_EQ(tableIface->selectedRows(), QList<int>{1});
  EXPECT_FALSE(tableIface->isRowSelected(0));
  EXPECT_TRUE(tableIface->cellAt(1, 0)->tableCellInterface()->isSelected());

  // Select all, as the popup menu does: every record, each shown row selected.
  table->DisableControls();
  table->First();
  while (!table->Eof()) {
    grid->SelectedRows().SetCurrentRowSelected(true);
    table->Next();
  }
  table->First();
  table->EnableControls();
  const int shown = grid->RowCount();
  EXPECT_EQ(tableIface->selectedRowCount(), shown);
  EXPECT_EQ(tableIface->selectedCellCount(), shown * 4);
  EXPECT_TRUE(tableIface->isRowSelected(shown - 1));
  EXPECT_TRUE(tableIface->cellAt(shown - 1, 2)->state().selected);

  // Ctrl-click on the third row takes it out of the chosen rows; as the
  // current row it stays highlighted, and selected. Ctrl-click on the fourth
  // (taking that one out too) leaves the third unselected.
  QTest::mouseClick(grid.get(), Qt::LeftButton, Qt::ControlModifier, grid->CellRect(0, 3).center());
  EXPECT_EQ(grid->SelectedRows().Count(), RecordTotal - 1);
  EXPECT_TRUE(tableIface->isRowSelected(2));
  QTest::mouseClick(grid.get(), Qt::LeftButton, Qt::ControlModifier, grid->CellRect(0, 4).center());
  EXPECT_EQ(grid->SelectedRows().Count(), RecordTotal - 2);
  EXPECT_FALSE(tableIface->isRowSelected(2));
  EXPECT_TRUE(tableIface->isRowSelected(1));
  EXPECT_TRUE(tableIface->isRowSelected(3));
  EXPECT_FALSE(tableIface->cellAt(2, 0)->tableCellInterface()->isSelected());
  EXPECT_FALSE(tableIface->cellAt(2, 0)->state().selected);
  EXPECT_EQ(tableIface->selectedRows().size(), shown - 1);
  EXPECT_FALSE(tableIface->selectedRows().contains(2));

  // Assistive technology can select and deselect rows itself; the grid's list follows.
  EXPECT_TRUE(tableIface->selectRow(2));
  EXPECT_EQ(grid->SelectedRows().Count(), RecordTotal - 1);
  EXPECT_TRUE(tableIface->unselectRow(0));
  EXPECT_EQ(grid->SelectedRows().Count(), RecordTotal - 2);
  EXPECT_FALSE(tableIface->isRowSelected(0));
  EXPECT_FALSE(tableIface->selectRow(shown)); // no such row
  EXPECT_FALSE(tableIface->selectColumn(0));  // whole rows only

  // Without multiple selection, rows cannot be selected from outside.
  TDBGridOptions options = grid->Options();
  options.Exclude(TDBGridOption::dgMultiSelect);
  grid->SetOptions(options);
  EXPECT_FALSE(iface->state().multiSelectable);
  EXPECT_FALSE(tableIface->selectRow(1));
  grid->SelectedRows().Clear();
  EXPECT_EQ(tableIface->selectedRows(), QList<int>{grid->CurrentRow() - 1});
}

TEST_F(GridAccessibleTest, ClosingTheTableLeavesAnEmptyTable) {
  ASSERT_NE(tableIface->cellAt(3, 0), nullptr);
  table->Close();
  EXPECT_EQ(tableIface->rowCount(), 0);
  EXPECT_EQ(tableIface->cellAt(0, 0), nullptr);
  EXPECT_EQ(iface->focusChild(), nullptr);
  EXPECT_EQ(tableIface->selectedRowCount(), 0);
}

} // namespace

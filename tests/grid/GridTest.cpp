// Widget tests of the picture list grid on the offscreen platform, with a
// picture table holding generated records.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "grid/DagGridDataLink.h"
#include "grid/DbAltGrid.h"
#include "table/MemTable.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "grid_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class GridTest : public ::testing::Test {
protected:
  static constexpr int RecordTotal = 200;

  void SetUp() override {
    App();
    table = CreatePictureTable();
    table->Open();
    for (int i = 1; i <= RecordTotal; ++i) {
      table->Insert();
      table->FieldByName("Name").SetAsString(
          QStringLiteral("pic%1.jpg").arg(i, 4, 10, QLatin1Char('0')).toStdString());
      table->FieldByName("Location").SetAsString("/pictures/holiday/");
      table->FieldByName("Date").SetAsDateTime(
          EncodeDateTime(2020, 1 + i % 12, 1 + i % 28, 10, 30, 0));
      table->FieldByName("Type").SetAsString("jpg");
      table->Post();
    }
    table->First();
    source = std::make_unique<TDataSource>("dsPictures");
    source->SetDataSet(table.get());
    grid = std::make_unique<TDbAltGrid>();
    for (const char* field : {"Name", "Location", "Date", "Type"})
      grid->Columns().Add().SetFieldName(QString::fromLatin1(field));
    grid->SetDataSource(source.get());
    grid->resize(640, 400);
    grid->show();
    grid->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(grid.get()));
    grid->setFocus();
    ASSERT_TRUE(grid->hasFocus());
    table->AfterScroll = [this](TmtbCustomMemTable&) { ++afterScrolls; };
  }

  void TearDown() override {
    grid.reset();
    source.reset();
    table.reset();
  }

  // The record number shown in a data row (1-based) of the grid.
  int RecNoOfRow(int row) const {
    return grid->CurrentRow() == 0 ? -1 : table->RecNo() - grid->CurrentRow() + row;
  }

  QPoint CellCenter(int col, int row) const { return grid->CellRect(col, row).center(); }

  void Click(int row, Qt::KeyboardModifiers mods = Qt::NoModifier, int col = 0) {
    QTest::mouseClick(grid.get(), Qt::LeftButton, mods, CellCenter(col, row));
  }

  void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(grid.get(), Qt::Key(key), mods);
  }

  // The record numbers of the selected rows, found by visiting their bookmarks.
  std::set<int> SelectedRecNos() {
    std::set<int> result;
    const std::string current = table->Bookmark();
    table->DisableControls();
    for (int i = 0; i < grid->SelectedRows().Count(); ++i) {
      table->GotoBookmark(grid->SelectedRows().Items(i));
      result.insert(table->RecNo());
    }
    table->GotoBookmark(current);
    table->EnableControls();
    return result;
  }

  std::unique_ptr<TmtbMemTable> table;
  std::unique_ptr<TDataSource> source;
  std::unique_ptr<TDbAltGrid> grid;
  int afterScrolls = 0;
};

// ---------------------------------------------------------------------------
// Layout

TEST_F(GridTest, RowHeightsAndColumnWidthsComeFromTheFonts) {
  const QFontMetrics fm(grid->font());
  const QFontMetrics tfm(grid->TitleFont());
  EXPECT_EQ(grid->TitleRowHeight(), tfm.height() + 4 + 1);
  EXPECT_EQ(grid->DataRowHeight(), fm.height() + 3 + 2);
  EXPECT_EQ(grid->font().pointSize(), 8);
  const int zero = fm.horizontalAdvance(QLatin1Char('0'));
  // Name 20, Location 30, Date 18 (the default of a date-time field), Type 7
  // characters, but never narrower than the caption plus 4.
  const int widths[] = {20, 30, 18, 7};
  for (int c = 0; c < 4; ++c) {
    const int expected = std::max(widths[c] * zero + 4,
                                  tfm.horizontalAdvance(grid->Columns()[c].Title().Caption()) + 4);
    EXPECT_EQ(grid->Columns()[c].Width(), expected) << c;
  }
  EXPECT_EQ(grid->Columns()[0].Title().Caption(), "Name");
  EXPECT_EQ(grid->Columns()[3].Title().Caption(), "Type");
  // The table keeps as many buffers as rows fit below the title row.
  const int rows = (grid->ClientRect().height() - grid->TitleRowHeight()) / grid->DataRowHeight();
  EXPECT_EQ(grid->VisibleRowCount(), rows);
  EXPECT_EQ(grid->DataLink().BufferCount(), rows);
  EXPECT_EQ(grid->RowCount(), rows);
  grid->resize(640, 200);
  EXPECT_EQ(grid->DataLink().BufferCount(), grid->VisibleRowCount());
  EXPECT_LT(grid->VisibleRowCount(), rows);
}

TEST_F(GridTest, DefaultColorsAndOptions) {
  const TdagColors colors;
  EXPECT_EQ(colors.BandLine, 12632256u);
  EXPECT_EQ(colors.ColLine, 12632256u);
  EXPECT_EQ(colors.RowLine, 12632256u);
  EXPECT_EQ(colors.Stripe1, 16776176u);
  EXPECT_EQ(colors.FixedLine, dagcl::WindowFrame);
  EXPECT_EQ(colors.HeaderBlank, dagcl::BtnFace);
  EXPECT_EQ(colors.RowBlank, dagcl::Window);
  EXPECT_EQ(DagColorToQColor(colors.Stripe1, QPalette()), QColor(240, 251, 255));
  EXPECT_TRUE(grid->AltOptions() == DefaultAltOptions);
  EXPECT_FALSE(grid->AltOptions().Contains(TdagAltOption::dagStripedRows));
  EXPECT_TRUE(grid->Options().Contains(TDBGridOption::dgMultiSelect));
  EXPECT_FALSE(grid->Options().Contains(TDBGridOption::dgEditing));
}

TEST_F(GridTest, MouseCoordGivesTitleDataAndOutside) {
  EXPECT_EQ(grid->MouseCoord(5, 2), (TGridCoord{0, 0}));
  EXPECT_EQ(grid->MouseCoord(5, grid->TitleRowHeight()), (TGridCoord{0, 1}));
  EXPECT_EQ(grid->MouseCoord(CellCenter(1, 3).x(), CellCenter(1, 3).y()), (TGridCoord{1, 3}));
  const int columnsRight = grid->CellRect(3, 0).right() + 2;
  EXPECT_EQ(grid->MouseCoord(columnsRight, 2), (TGridCoord{-1, -1})); // right of the last column
  EXPECT_EQ(grid->MouseCoord(-1, 20), (TGridCoord{-1, -1}));          // left of the grid
  EXPECT_EQ(grid->MouseCoord(5, grid->height() + 5), (TGridCoord{-1, -1})); // below it

  // Below the last record of a short table there is no cell.
  table->First();
  for (int i = 0; i < RecordTotal - 3; ++i)
    table->Delete();
  ASSERT_EQ(grid->RowCount(), 3);
  const int below = grid->TitleRowHeight() + 3 * grid->DataRowHeight() + 2;
  EXPECT_EQ(grid->MouseCoord(5, below).Y, -1);
  // The vertical bar is there from two records on.
  EXPECT_FALSE(grid->VertScrollBar()->isHidden());
  table->Delete();
  table->Delete();
  EXPECT_TRUE(grid->VertScrollBar()->isHidden());
}

// ---------------------------------------------------------------------------
// Mouse

TEST_F(GridTest, TitleClickOnlyWhenReleasedOnThePressedPixel) {
  std::vector<QString> clicked;
  grid->OnTitleClick = [&](TdagColumn& column) { clicked.push_back(column.Title().Caption()); };
  const QPoint p = CellCenter(2, 0);
  QTest::mousePress(grid.get(), Qt::LeftButton, Qt::NoModifier, p);
  QTest::mouseMove(grid.get(), p + QPoint(1, 0));
  QTest::mouseRelease(grid.get(), Qt::LeftButton, Qt::NoModifier, p + QPoint(1, 0));
  EXPECT_TRUE(clicked.empty());
  QTest::mouseClick(grid.get(), Qt::LeftButton, Qt::NoModifier, p);
  EXPECT_THAT(clicked, ::testing::ElementsAre("Date"));
  // The right button raises nothing.
  QTest::mouseClick(grid.get(), Qt::RightButton, Qt::NoModifier, p);
  EXPECT_EQ(clicked.size(), 1u);
}

TEST_F(GridTest, CellClickMovesToTheRowAndRaisesTheEventWithTheColumn) {
  std::vector<QString> cells;
  grid->OnCellClick = [&](TdagColumn& column) { cells.push_back(column.FieldName()); };
  afterScrolls = 0;
  Click(4, Qt::NoModifier, 1);
  EXPECT_EQ(table->RecNo(), 4);
  EXPECT_EQ(afterScrolls, 1); // one move by the difference of rows
  EXPECT_EQ(grid->CurrentRow(), 4);
  EXPECT_EQ(grid->SelectedIndex(), 1);
  EXPECT_THAT(cells, ::testing::ElementsAre("Location"));
  // Moved between press and release: the row is still taken, no event.
  const QPoint p = CellCenter(0, 6);
  QTest::mousePress(grid.get(), Qt::LeftButton, Qt::NoModifier, p);
  QTest::mouseMove(grid.get(), p + QPoint(0, 1));
  QTest::mouseRelease(grid.get(), Qt::LeftButton, Qt::NoModifier, p + QPoint(0, 1));
  EXPECT_EQ(table->RecNo(), 6);
  EXPECT_EQ(cells.size(), 1u);
}

TEST_F(GridTest, CtrlClickTogglesAndPlainOrShiftClickLeavesOneRow) {
  Click(2);
  EXPECT_EQ(SelectedRecNos(), (std::set<int>{2}));
  Click(4, Qt::ControlModifier);
  Click(6, Qt::ControlModifier);
  EXPECT_EQ(SelectedRecNos(), (std::set<int>{2, 4, 6}));
  Click(4, Qt::ControlModifier); // deselects
  EXPECT_EQ(SelectedRecNos(), (std::set<int>{2, 6}));
  EXPECT_FALSE(grid->SelectedRows().CurrentRowSelected());
  Click(3);
  EXPECT_EQ(SelectedRecNos(), (std::set<int>{3}));
  Click(5, Qt::ControlModifier);
  Click(7, Qt::ShiftModifier); // acts as a plain click
  EXPECT_EQ(SelectedRecNos(), (std::set<int>{7}));
  EXPECT_TRUE(grid->RowHighlighted(7));
  EXPECT_FALSE(grid->RowHighlighted(5));
  // The right button on a data cell does nothing while multi-select is on.
  QTest::mouseClick(grid.get(), Qt::RightButton, Qt::NoModifier, CellCenter(0, 2));
  EXPECT_EQ(table->RecNo(), 7);
  EXPECT_EQ(SelectedRecNos(), (std::set<int>{7}));
}

TEST_F(GridTest, DoubleClickRaisesOnlyTheEvent) {
  Click(3);
  int doubles = 0;
  grid->OnDblClick = [&] { ++doubles; };
  QTest::mouseDClick(grid.get(), Qt::LeftButton, Qt::NoModifier, CellCenter(0, 3));
  EXPECT_EQ(doubles, 1);
  EXPECT_EQ(table->RecNo(), 3);
}

TEST_F(GridTest, PressFirstTakesTheFocus) {
  QWidget other;
  other.setFocusPolicy(Qt::StrongFocus);
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  grid->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(grid.get()));
  grid->clearFocus();
  EXPECT_FALSE(grid->hasFocus());
  Click(5);
  EXPECT_TRUE(grid->hasFocus());
  EXPECT_EQ(table->RecNo(), 5);
}

TEST_F(GridTest, ApplicationFilterSeesAndCanConsumeRowPressesFirst) {
  // The drag code looks at presses on rows before the grid does, and may keep them.
  struct Filter : QObject {
    QWidget* target = nullptr;
    int seenRow = 0;
    bool consume = true;
    int selectedBefore = -1;
    TDbAltGrid* grid = nullptr;
    bool eventFilter(QObject* watched, QEvent* event) override {
      if (watched == target && event->type() == QEvent::MouseButtonPress) {
        const auto* me = static_cast<QMouseEvent*>(event);
        const QPoint p = me->position().toPoint();
        seenRow = grid->MouseCoord(p.x(), p.y()).Y;
        selectedBefore = grid->SelectedRows().Count();
        return consume;
      }
      return false;
    }
  } filter;
  filter.target = grid.get();
  filter.grid = grid.get();
  App().installEventFilter(&filter);
  Click(4);
  EXPECT_EQ(filter.seenRow, 4);
  EXPECT_EQ(table->RecNo(), 1); // consumed: the grid never saw it
  filter.consume = false;
  Click(4);
  EXPECT_EQ(table->RecNo(), 4);
  EXPECT_EQ(filter.selectedBefore, 0);
  App().removeEventFilter(&filter);
}

TEST_F(GridTest, DraggingATitleBorderResizesAndDraggingATitleMovesTheColumn) {
  int titleClicks = 0;
  grid->OnTitleClick = [&](TdagColumn&) { ++titleClicks; };
  const int oldWidth = grid->Columns()[0].Width();
  const QRect title = grid->CellRect(0, 0);
  const QPoint border(title.left() + title.width(), title.center().y());
  QTest::mousePress(grid.get(), Qt::LeftButton, Qt::NoModifier, border);
  QTest::mouseMove(grid.get(), border + QPoint(25, 0));
  QTest::mouseRelease(grid.get(), Qt::LeftButton, Qt::NoModifier, border + QPoint(25, 0));
  EXPECT_EQ(grid->Columns()[0].Width(), oldWidth + 25);
  // Back to where it started: still no click.
  QTest::mousePress(grid.get(), Qt::LeftButton, Qt::NoModifier, border + QPoint(25, 0));
  QTest::mouseRelease(grid.get(), Qt::LeftButton, Qt::NoModifier, border + QPoint(25, 0));
  EXPECT_EQ(titleClicks, 0);

  // Three pixels is not yet a move; the title click is lost all the same.
  const QPoint name = CellCenter(0, 0);
  QTest::mousePress(grid.get(), Qt::LeftButton, Qt::NoModifier, name);
  QTest::mouseMove(grid.get(), name + QPoint(3, 0));
  QTest::mouseRelease(grid.get(), Qt::LeftButton, Qt::NoModifier, name + QPoint(3, 0));
  EXPECT_EQ(grid->Columns()[0].FieldName(), "Name");
  EXPECT_EQ(titleClicks, 0);
  // Dragged onto the Date title: Name lands there.
  const QPoint date = CellCenter(2, 0);
  QTest::mousePress(grid.get(), Qt::LeftButton, Qt::NoModifier, name);
  QTest::mouseMove(grid.get(), name + QPoint(4, 0));
  QTest::mouseMove(grid.get(), date);
  QTest::mouseRelease(grid.get(), Qt::LeftButton, Qt::NoModifier, date);
  EXPECT_EQ(grid->Columns()[2].FieldName(), "Name");
  EXPECT_EQ(grid->Columns()[0].FieldName(), "Location");
  EXPECT_EQ(titleClicks, 0);
  EXPECT_EQ(grid->CellText(2, 1), "pic0001.jpg");
}

// ---------------------------------------------------------------------------
// Keyboard

TEST_F(GridTest, ShiftDownSelectsARangeAndShiftUpShrinksIt) {
  Click(5);
  grid->SelectedRows().Clear();
  for (int i = 0; i < 3; ++i)
    Key(Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(table->RecNo(), 8);
  EXPECT_EQ(SelectedRecNos(), (std::set<int>{5, 6, 7, 8}));
  Key(Qt::Key_Up, Qt::ShiftModifier);
  EXPECT_EQ(table->RecNo(), 7);
  EXPECT_EQ(SelectedRecNos(), (std::set<int>{5, 6, 7}));
  // Back past the anchor the range grows upwards.
  for (int i = 0; i < 4; ++i)
    Key(Qt::Key_Up, Qt::ShiftModifier);
  EXPECT_EQ(SelectedRecNos(), (std::set<int>{3, 4, 5}));
  // A plain move ends the range and clears it.
  Key(Qt::Key_Down);
  EXPECT_EQ(grid->SelectedRows().Count(), 0);
  Key(Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(SelectedRecNos(), (std::set<int>{4, 5}));
}

TEST_F(GridTest, ClearingKeysEmptyTheSelection) {
  struct Case {
    int key;
    Qt::KeyboardModifiers mods;
    int expectedRecNo; // from record 10 with one visible page of n rows: -1 for "n + 10"
  };
  const int page = grid->VisibleRowCount();
  const Case cases[] = {
      {Qt::Key_PageDown, Qt::NoModifier, 10 + page},
      {Qt::Key_PageUp, Qt::NoModifier, 1},
      {Qt::Key_Left, Qt::NoModifier, 9},
      {Qt::Key_Right, Qt::NoModifier, 11},
      {Qt::Key_Home, Qt::NoModifier, 1},
      {Qt::Key_End, Qt::NoModifier, RecordTotal},
      {Qt::Key_Home, Qt::ControlModifier, 1},
      {Qt::Key_End, Qt::ControlModifier, RecordTotal},
      {Qt::Key_Escape, Qt::NoModifier, 10},
      {Qt::Key_Down, Qt::NoModifier, 11},
  };
  for (const Case& c : cases) {
    table->SetRecNo(10);
    grid->SelectedRows().SetCurrentRowSelected(true);
    table->Next();
    grid->SelectedRows().SetCurrentRowSelected(true);
    table->Prior();
    ASSERT_EQ(grid->SelectedRows().Count(), 2);
    Key(c.key, c.mods);
    EXPECT_EQ(grid->SelectedRows().Count(), 0) << c.key;
    EXPECT_EQ(table->RecNo(), c.expectedRecNo) << c.key;
  }
}

TEST_F(GridTest, CtrlKeysMoveWithinTheVisibleRowsAndBetweenColumns) {
  const int page = grid->VisibleRowCount();
  table->SetRecNo(50); // somewhere in the middle of the window
  const int first = RecNoOfRow(1);
  const int last = RecNoOfRow(grid->RowCount());
  ASSERT_EQ(last - first + 1, page);
  Key(Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(table->RecNo(), last);
  Key(Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(table->RecNo(), first);
  Key(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(table->RecNo(), last);
  Key(Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(table->RecNo(), first);

  Key(Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(grid->SelectedIndex(), 3);
  EXPECT_EQ(table->RecNo(), first);
  Key(Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(grid->SelectedIndex(), 0);
  Key(Qt::Key_Insert);
  Key(Qt::Key_F2);
  EXPECT_EQ(table->RecNo(), first);
}

TEST_F(GridTest, TabWalksTheColumnsAndThenTheRecords) {
  table->SetRecNo(10);
  for (int i = 0; i < 3; ++i)
    Key(Qt::Key_Tab);
  EXPECT_EQ(grid->SelectedIndex(), 3);
  EXPECT_EQ(table->RecNo(), 10);
  grid->SelectedRows().SetCurrentRowSelected(true);
  Key(Qt::Key_Tab); // past the last column: clear and next record
  EXPECT_EQ(table->RecNo(), 11);
  EXPECT_EQ(grid->SelectedIndex(), 0);
  EXPECT_EQ(grid->SelectedRows().Count(), 0);
  Key(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(table->RecNo(), 10);
  EXPECT_EQ(grid->SelectedIndex(), 3);
  EXPECT_TRUE(grid->hasFocus()); // Tab stays in the grid
}

TEST_F(GridTest, CtrlDeleteAsksAndDeletesTheSelectedRecords) {
  std::vector<QString> asked;
  bool answer = false;
  grid->OnConfirmDelete = [&](const QString& text) {
    asked.push_back(text);
    return answer;
  };
  Click(3);
  Click(5, Qt::ControlModifier);
  Click(9, Qt::ControlModifier);
  std::vector<std::string> marks;
  for (int i = 0; i < 3; ++i)
    marks.push_back(grid->SelectedRows().Items(i));

  Key(Qt::Key_Delete, Qt::ControlModifier); // Cancel
  EXPECT_THAT(asked, ::testing::ElementsAre("Delete all selected records?"));
  EXPECT_EQ(table->RecordCount(), RecordTotal);
  EXPECT_EQ(grid->SelectedRows().Count(), 3);

  answer = true;
  Key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(table->RecordCount(), RecordTotal - 3);
  EXPECT_EQ(grid->SelectedRows().Count(), 0);
  for (const auto& b : marks)
    EXPECT_FALSE(table->BookmarkValid(b));
  EXPECT_FALSE(table->ControlsDisabled());
  // The grid was told once, after the deletes.
  EXPECT_EQ(grid->RowCount(), grid->VisibleRowCount());
  EXPECT_EQ(grid->CellText(0, 3), "pic0004.jpg");

  // No row selected: the current record goes, after "Delete record?".
  grid->SelectedRows().Clear();
  table->SetRecNo(1);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(asked.back(), "Delete record?");
  EXPECT_EQ(table->RecordCount(), RecordTotal - 4);
  EXPECT_EQ(grid->CellText(0, 1), "pic0002.jpg");

  // Read-only grid or table: nothing is asked.
  asked.clear();
  grid->SetReadOnly(true);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  grid->SetReadOnly(false);
  table->SetReadOnly(true);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(table->RecordCount(), RecordTotal - 4);
}

// ---------------------------------------------------------------------------
// Selection list

TEST_F(GridTest, SelectedRowsStayInBookmarkOrderWithoutDuplicates) {
  for (int r : {9, 2, 7, 2, 4}) {
    table->SetRecNo(r);
    grid->SelectedRows().SetCurrentRowSelected(true);
  }
  ASSERT_EQ(grid->SelectedRows().Count(), 4);
  for (int i = 1; i < grid->SelectedRows().Count(); ++i)
    EXPECT_LT(table->CompareBookmarks(grid->SelectedRows()[i - 1], grid->SelectedRows()[i]), 0);
  int index = -1;
  table->SetRecNo(7);
  EXPECT_TRUE(grid->SelectedRows().Find(table->Bookmark(), index));
  EXPECT_EQ(index, 2);
  table->SetRecNo(5);
  EXPECT_FALSE(grid->SelectedRows().Find(table->Bookmark(), index));
  EXPECT_EQ(index, 2);                               // where it would go
  grid->SelectedRows().SetCurrentRowSelected(false); // not there: nothing changes
  EXPECT_EQ(grid->SelectedRows().Count(), 4);
}

TEST_F(GridTest, SelectionIsClearedWhenTheLinkGoesInactiveOrActive) {
  Click(2);
  Click(3, Qt::ControlModifier);
  ASSERT_EQ(grid->SelectedRows().Count(), 2);
  source->SetEnabled(false);
  EXPECT_EQ(grid->SelectedRows().Count(), 0);
  EXPECT_EQ(grid->RowCount(), 0);
  EXPECT_THROW(grid->SelectedRows().SetCurrentRowSelected(true), EInvalidGridOperation);
  source->SetEnabled(true);
  EXPECT_EQ(grid->RowCount(), grid->VisibleRowCount());
  Click(2);
  ASSERT_EQ(grid->SelectedRows().Count(), 1);
  table->Close();
  EXPECT_EQ(grid->SelectedRows().Count(), 0);
  try {
    (void)grid->SelectedRows().CurrentRowSelected();
    FAIL() << "no error on a closed table";
  } catch (const EInvalidGridOperation& e) {
    EXPECT_EQ(e.Message(), "Cannot perform this operation on a closed dataset");
  }
}

TEST_F(GridTest, SelectionFollowsAChangeOfSortOrder) {
  // Name order and date order differ; the list is kept sorted by the order shown.
  for (int r : {3, 40, 77}) {
    table->SetRecNo(r);
    grid->SelectedRows().SetCurrentRowSelected(true);
  }
  table->SetIndexName("mtbidxDateLocationName");
  ASSERT_EQ(grid->SelectedRows().Count(), 3);
  for (int i = 1; i < 3; ++i)
    EXPECT_LT(table->CompareBookmarks(grid->SelectedRows()[i - 1], grid->SelectedRows()[i]), 0);
  for (int i = 0; i < 3; ++i) {
    table->GotoBookmark(grid->SelectedRows()[i]);
    EXPECT_TRUE(grid->SelectedRows().CurrentRowSelected());
  }
}

// ---------------------------------------------------------------------------
// Notification

TEST_F(GridTest, FollowsMovesUnderSuspendedNotificationOnlyWhenItResumes) {
  const QString firstName = grid->CellText(0, 1);
  table->DisableControls();
  table->DisableControls();
  table->SetRecNo(150);
  table->Next();
  EXPECT_EQ(grid->CellText(0, 1), firstName);
  EXPECT_EQ(grid->CurrentRow(), 1);
  EXPECT_EQ(grid->VertScrollBar()->value(), 1);
  table->EnableControls();
  EXPECT_EQ(grid->CellText(0, 1), firstName);
  table->EnableControls();
  EXPECT_EQ(grid->VertScrollBar()->value(), 151);
  EXPECT_EQ(grid->CellText(0, grid->CurrentRow()), "pic0151.jpg");
}

TEST_F(GridTest, CellTextsAreTheFieldsDisplayTexts) {
  EXPECT_EQ(grid->CellText(0, 1), "pic0001.jpg");
  EXPECT_EQ(grid->CellText(1, 1), "/pictures/holiday/");
  EXPECT_EQ(grid->CellText(2, 1), QString::fromStdString(table->FieldByName("Date").DisplayText()));
  EXPECT_EQ(grid->CellText(3, 1), "jpg");
  EXPECT_EQ(grid->CellText(0, 2), "pic0002.jpg");
}

// ---------------------------------------------------------------------------
// Scroll bars

TEST_F(GridTest, VerticalScrollBarMapsToRecNo) {
  QScrollBar* bar = grid->VertScrollBar();
  const int page = grid->VisibleRowCount();
  ASSERT_FALSE(bar->isHidden());
  EXPECT_EQ(bar->minimum(), 1);
  EXPECT_EQ(bar->maximum(), RecordTotal); // count + page - 1 in page-inclusive terms
  EXPECT_EQ(bar->pageStep(), page);
  EXPECT_EQ(bar->value(), 1);

  grid->VertScroll(TCustomDbAltGrid::TScrollCode::LineDown); // the record below the last visible
  EXPECT_EQ(table->RecNo(), page + 1);
  EXPECT_EQ(bar->value(), page + 1);
  const int firstShown = RecNoOfRow(1);
  grid->VertScroll(TCustomDbAltGrid::TScrollCode::LineUp); // the record above the first visible
  EXPECT_EQ(table->RecNo(), firstShown - 1);
  grid->VertScroll(TCustomDbAltGrid::TScrollCode::PageDown);
  EXPECT_EQ(table->RecNo(), firstShown - 1 + page);
  grid->VertScroll(TCustomDbAltGrid::TScrollCode::PageUp);
  EXPECT_EQ(table->RecNo(), firstShown - 1);
  grid->VertScroll(TCustomDbAltGrid::TScrollCode::ThumbPosition, 100);
  EXPECT_EQ(table->RecNo(), 100);
  grid->VertScroll(TCustomDbAltGrid::TScrollCode::ThumbPosition, 0);
  EXPECT_EQ(table->RecNo(), 1);
  grid->VertScroll(TCustomDbAltGrid::TScrollCode::ThumbPosition, RecordTotal + 5);
  EXPECT_EQ(table->RecNo(), RecordTotal);
  grid->VertScroll(TCustomDbAltGrid::TScrollCode::Top);
  EXPECT_EQ(table->RecNo(), 1);
  grid->VertScroll(TCustomDbAltGrid::TScrollCode::Bottom);
  EXPECT_EQ(table->RecNo(), RecordTotal);

  // Dragging the thumb moves the record only on release.
  bar->setSliderDown(true);
  bar->setSliderPosition(60);
  EXPECT_EQ(table->RecNo(), RecordTotal);
  bar->setSliderDown(false);
  EXPECT_EQ(table->RecNo(), 60);
  EXPECT_EQ(bar->value(), 60);
  // A click on the bar's arrow is a line step.
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(bar->value(), table->RecNo());
}

TEST_F(GridTest, HorizontalScrollingStaysWithinTheColumns) {
  grid->resize(300, 300);
  QScrollBar* bar = grid->HorzScrollBar();
  ASSERT_FALSE(bar->isHidden());
  int total = 0;
  for (int c = 0; c < 4; ++c)
    total += grid->Columns()[c].Width() + 1;
  const int dataWidth = grid->ClientRect().width();
  const int zero = QFontMetrics(grid->font()).horizontalAdvance(QLatin1Char('0'));
  grid->HorzScroll(TCustomDbAltGrid::THorzCode::LineRight);
  EXPECT_EQ(grid->HorzOffset(), zero);
  EXPECT_EQ(grid->CellRect(0, 1).left(), -zero);
  grid->HorzScroll(TCustomDbAltGrid::THorzCode::PageRight);
  EXPECT_EQ(grid->HorzOffset(), std::min(zero + dataWidth, total - dataWidth));
  grid->HorzScroll(TCustomDbAltGrid::THorzCode::Right);
  EXPECT_EQ(grid->HorzOffset(), total - dataWidth);
  EXPECT_EQ(grid->CellRect(3, 1).right() + 1 + 1, dataWidth); // last column line meets the border
  grid->HorzScroll(TCustomDbAltGrid::THorzCode::ThumbPosition, total * 2);
  EXPECT_EQ(grid->HorzOffset(), total - dataWidth);
  grid->HorzScroll(TCustomDbAltGrid::THorzCode::PageLeft);
  grid->HorzScroll(TCustomDbAltGrid::THorzCode::PageLeft);
  grid->HorzScroll(TCustomDbAltGrid::THorzCode::LineLeft);
  EXPECT_EQ(grid->HorzOffset(), 0);
  grid->HorzScroll(TCustomDbAltGrid::THorzCode::Right);
  grid->HorzScroll(TCustomDbAltGrid::THorzCode::Left);
  EXPECT_EQ(grid->HorzOffset(), 0);
  // Wide enough again: no offset, no bar.
  grid->HorzScroll(TCustomDbAltGrid::THorzCode::Right);
  grid->resize(total + 100, 300);
  EXPECT_EQ(grid->HorzOffset(), 0);
  EXPECT_TRUE(bar->isHidden());
}

// ---------------------------------------------------------------------------
// Titles and glyphs

// Colours as painted: 8 bits a channel, so a system colour may be off by one.
bool Near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) <= 1 && std::abs(a.green() - b.green()) <= 1 &&
         std::abs(a.blue() - b.blue()) <= 1;
}

// Whether the opaque pixels of a glyph appear at a place of an image.
bool GlyphDrawnAt(const QImage& image, const QPixmap& glyph, QPoint at) {
  const QImage g = glyph.toImage().convertToFormat(QImage::Format_ARGB32);
  int opaque = 0;
  for (int y = 0; y < g.height(); ++y)
    for (int x = 0; x < g.width(); ++x) {
      const QRgb px = g.pixel(x, y);
      if (qAlpha(px) == 0) continue;
      ++opaque;
      if ((image.pixel(at.x() + x, at.y() + y) & 0xFFFFFF) != (px & 0xFFFFFF)) return false;
    }
  return opaque > 0;
}

TEST_F(GridTest, GlyphListHasNineGlyphsWithMagentaTransparent) {
  const auto& glyphs = TCustomDbAltGrid::GlyphList();
  for (std::size_t i = 0; i < glyphs.size(); ++i) {
    EXPECT_EQ(glyphs[i].size(), QSize(9, 9));
    const QImage img = glyphs[i].toImage();
    bool anyTransparent = false;
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 9; ++x) {
        EXPECT_FALSE(qAlpha(img.pixel(x, y)) != 0 && (img.pixel(x, y) & 0xFFFFFF) == 0xFF00FFu);
        anyTransparent |= qAlpha(img.pixel(x, y)) == 0;
      }
    if (i >= 4) {
      EXPECT_TRUE(anyTransparent) << i; // the sort glyphs are drawn on the title
    }
  }
  // The ascending triangle: grey on its upper-left edge, white at its base.
  const QImage up = glyphs[4].toImage();
  EXPECT_EQ(up.pixel(4, 1) & 0xFFFFFF, 0x808080u);
  EXPECT_EQ(up.pixel(4, 7) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(GridTest, SortMarkersPickTheirGlyphs) {
  const struct {
    unsigned marker;
    int glyph;
  } cases[] = {{0, -1}, {1, 4}, {2, 5}, {3, 6}, {4, 7}, {5, 8}, {7, 8}, {255, 8}};
  for (const auto& c : cases)
    EXPECT_EQ(TCustomDbAltGrid::SortGlyphIndex(c.marker), c.glyph) << c.marker;

  grid->Columns()[1].SetSortMarker(7);
  const QRect rect = grid->SortGlyphRect(1);
  ASSERT_FALSE(rect.isNull());
  const QImage shot = grid->grab().toImage();
  EXPECT_TRUE(GlyphDrawnAt(shot, TCustomDbAltGrid::GlyphList()[8], rect.topLeft()));
  EXPECT_FALSE(GlyphDrawnAt(shot, TCustomDbAltGrid::GlyphList()[4], rect.topLeft()));
  // Placed after the caption text plus 6, centred in the title line.
  const QRect cell = grid->CellRect(1, 0);
  const int textWidth = QFontMetrics(grid->TitleFont()).horizontalAdvance("Location");
  EXPECT_EQ(rect.left(), cell.left() + textWidth + 6);
  EXPECT_EQ(rect.top(), cell.top() + (cell.height() - 9) / 2);
  EXPECT_EQ(grid->TitleCaptionText(1), "Location");

  grid->Columns()[1].RestoreDefaults();
  EXPECT_EQ(grid->Columns()[1].SortMarker(), 0u);
  EXPECT_TRUE(grid->SortGlyphRect(1).isNull());
}

TEST_F(GridTest, LongCaptionEndsInAnEllipsisLeftOfAGlyphFlushRight) {
  TdagColumn& column = grid->Columns()[3];
  column.Title().SetCaption("A caption far wider than its column");
  column.SetWidth(60);
  column.SetSortMarker(1);
  const QRect cell = grid->CellRect(3, 0);
  const QRect glyph = grid->SortGlyphRect(3);
  ASSERT_FALSE(glyph.isNull());
  EXPECT_EQ(glyph.right(), cell.right());
  const QString shown = grid->TitleCaptionText(3);
  EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
  EXPECT_LT(grid->TitleCaptionRect(3).right(), glyph.left() - 1);
  const QImage shot = grid->grab().toImage();
  EXPECT_TRUE(GlyphDrawnAt(shot, TCustomDbAltGrid::GlyphList()[4], glyph.topLeft()));
  // A column narrower than the glyph shows none.
  column.SetWidth(9);
  EXPECT_TRUE(grid->SortGlyphRect(3).isNull());
}

TEST_F(GridTest, PaintsHighlightLinesAndBlankArea) {
  grid->resize(800, 400);
  Click(2);
  Click(4, Qt::ControlModifier);
  const QImage shot = grid->grab().toImage();
  const QPalette pal = grid->palette();
  auto at = [&](QPoint p) { return QColor(shot.pixel(p)); };
#define EXPECT_COLOR(a, b)                                                                         \
  EXPECT_TRUE(Near(a, b)) << (a).name().toStdString() << " " << (b).name().toStdString()
  const QPoint inRow2 = grid->CellRect(1, 2).topLeft() + QPoint(1, 1);
  const QPoint inRow3 = grid->CellRect(1, 3).topLeft() + QPoint(1, 1);
  const QPoint inRow4 = grid->CellRect(1, 4).topLeft() + QPoint(1, 1);
  EXPECT_COLOR(at(inRow2), pal.color(QPalette::Highlight));
  EXPECT_COLOR(at(inRow4), pal.color(QPalette::Highlight)); // the current row
  EXPECT_COLOR(at(inRow3), pal.color(QPalette::Base));
  const QRect cell = grid->CellRect(0, 3);
  EXPECT_EQ(at(QPoint(cell.center().x(), cell.bottom() + 1)), QColor(192, 192, 192)); // row line
  EXPECT_EQ(at(QPoint(cell.right() + 1, cell.center().y())), QColor(192, 192, 192));  // column line
  EXPECT_COLOR(at(QPoint(grid->CellRect(3, 0).right() + 20, 3)),
               pal.color(QPalette::Button)); // header blank
  EXPECT_COLOR(at(QPoint(grid->CellRect(3, 3).right() + 20, cell.center().y())),
               pal.color(QPalette::Base));
  // Without the focus the selection is painted in the inactive colour.
  grid->clearFocus();
  const QImage unfocused = grid->grab().toImage();
  EXPECT_COLOR(QColor(unfocused.pixel(inRow2)), DagColorToQColor(dagcl::InactiveBorder, pal));
  // "No colour" as highlight paints nothing different.
  TdagColors colors;
  colors.Highlight = dagcl::None;
  grid->SetAltColors(colors);
  grid->setFocus();
  const QImage none = grid->grab().toImage();
  EXPECT_COLOR(QColor(none.pixel(inRow2)), pal.color(QPalette::Base));
}

TEST_F(GridTest, StripesStayWithTheirRecords) {
  grid->SetOptions(TDBGridOptions{TDBGridOption::dgTitles, TDBGridOption::dgColLines,
                                  TDBGridOption::dgRowLines, TDBGridOption::dgRowSelect});
  TdagAltOptions alt = grid->AltOptions();
  grid->SetAltOptions(alt.Include(TdagAltOption::dagStripedRows));
  grid->clearFocus();
  table->SetRecNo(100); // not highlighted at the top: scroll first, then look at rows 2 and 3
  const QColor stripe1(240, 251, 255);
  auto colourOfRecord = [&](int recNo) {
    const int row = recNo - RecNoOfRow(1) + 1;
    const QImage shot = grid->grab().toImage();
    return QColor(shot.pixel(grid->CellRect(1, row).topLeft() + QPoint(1, 1)));
  };
  const QColor a = colourOfRecord(98);
  const QColor b = colourOfRecord(99);
  EXPECT_NE(a, b);
  EXPECT_TRUE(Near(a, stripe1) || Near(b, stripe1));
  grid->VertScroll(TCustomDbAltGrid::TScrollCode::LineUp); // the window moves by an odd count
  EXPECT_EQ(colourOfRecord(98), a);
  EXPECT_EQ(colourOfRecord(99), b);
}

} // namespace

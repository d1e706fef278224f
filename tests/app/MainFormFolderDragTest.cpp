// The main window's folder picker and drag-out hook, end to end on the
// offscreen platform against folder trees made by each test.

#include "platform/ui/BrowseFolder.h"
#include "grid/DbAltGrid.h"
#include "platform/ui/DropFileSource.h"
#include "app/FolderWalk.h"
#include "app/MainForm.h"
#include "imaging/DibGraphic.h"
#include "view/ImageScrollBox.h"
#include "tests/lib/TestApp.h"
#include "tests/app/TempTree.h"

#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

void WritePng(const std::string& Path, int W, int H) {
  std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
  QImage image(W, H, QImage::Format_RGB32);
  image.fill(qRgb(90, 160, 30));
  ASSERT_TRUE(image.save(QString::fromStdString(Path), "PNG")) << Path;
}

// Waits until the dialog's picture search for the selected folder is over.
void WaitForSearch(TBrowseFolderDialog& D) {
  EXPECT_TRUE(QTest::qWaitFor([&] { return D.StatusText() != "Looking for pictures..."; }, 10000));
}

class FolderAndDrag : public ::testing::Test {
protected:
  void SetUp() override {
    TestApp();
    for (const char* name : {"p1.png", "p2.png", "p3.png", "p4.png", "p5.png"})
      WritePng(Tree.Path(std::string("start/") + name), 20, 20);
  }
  void TearDown() override {
    Form.reset();
    TfrmMain::OnComponentsCreated = nullptr;
  }

  void Start() {
    TfrmMain::OnComponentsCreated = [this](TfrmMain& F) {
      F.dropSourceImages->ExecuteHook = [this](QMimeData* data) {
        ++Drags;
        Offered.clear();
        for (const QUrl& u : data->urls())
          Offered.push_back(u.toLocalFile().toStdString());
        OfferedText = data->text().toStdString();
        OfferedFormats = data->formats().size();
        return TDragResult::drDropCopy;
      };
    };
    Form = std::make_unique<TfrmMain>(
        std::vector<std::string>{"TobbinsImbrel", "-Dir:" + Tree.Path("start/")});
    Form->SetFullScreen(false); // the list is visible
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    ASSERT_EQ(Form->mtbPictures->RecordCount(), 5);
  }

  QPoint RowPoint(int row) const { return Form->dbgPictures->CellRect(0, row).center(); }

  // A press on the grid as the window system delivers it: the hook sees it
  // first. Moves and releases that follow are queued before the press, since
  // the drag detection runs its own loop inside the press.
  void PressThen(int row, Qt::KeyboardModifiers mods, const std::function<void()>& during) {
    QTimer::singleShot(0, Form.get(), during);
    QTest::mousePress(Form->dbgPictures, Qt::LeftButton, mods, RowPoint(row));
    QCoreApplication::processEvents();
  }

  void Click(int row, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const QPoint p = RowPoint(row);
    PressThen(row, mods,
              [this, p, mods] { QTest::mouseRelease(Form->dbgPictures, Qt::LeftButton, mods, p); });
  }

  // Moves far from the press point after the 200 ms rule, then releases.
  void DragFrom(int row) {
    const QPoint p = RowPoint(row);
    PressThen(row, Qt::NoModifier, [this, p] {
      QTest::qWait(250);
      QTest::mouseMove(Form->dbgPictures, p + QPoint(60, 40));
      QTest::mouseRelease(Form->dbgPictures, Qt::LeftButton, Qt::NoModifier, p + QPoint(60, 40));
    });
  }

  std::string PathOfRow(int row) const {
    return Tree.Path("start/") + Form->dbgPictures->CellText(0, row).toStdString();
  }

  TTempTree Tree;
  std::unique_ptr<TfrmMain> Form;
  int Drags = 0;
  std::vector<std::string> Offered;
  std::string OfferedText;
  qsizetype OfferedFormats = -1;
};

} // namespace

TEST_F(FolderAndDrag, OkFollowsWhetherTheSelectedTreeHoldsAPicture) {
  WritePng(Tree.Path("deep/a/b/c/d/e/only.png"), 8, 8);
  WritePng(Tree.Path("hiddenonly/.secret.png"), 8, 8);
  WritePng(Tree.Path("hiddenonly/.dir/seen.png"), 8, 8);
  Tree.File("hiddenonly/notes.txt", "x");
  Tree.Folder("emptytree/x/y");
  Start();

  std::map<std::string, bool> ok;
  std::string title;
  Form->brfldMain->OnDialogShown = [&](TBrowseFolderDialog& D) {
    title = D.TitleText().toStdString();
    for (const char* folder : {"deep", "hiddenonly", "emptytree", "start"}) {
      D.SelectPath(Tree.Path(folder));
      WaitForSearch(D);
      ok[folder] = D.OkEnabled();
    }
    D.reject();
  };
  const int before = Form->mtbPictures->RecordCount();
  Form->btnOpenDirClick();
  EXPECT_EQ(title, "Select the folder with you image files below.");
  EXPECT_TRUE(ok["deep"]) << "a picture five levels down";
  EXPECT_FALSE(ok["hiddenonly"]) << "hidden pictures and folders do not count";
  EXPECT_FALSE(ok["emptytree"]);
  EXPECT_TRUE(ok["start"]);
  // Cancel changes nothing.
  EXPECT_EQ(Form->mtbPictures->RecordCount(), before);
  EXPECT_EQ(Form->lbDir->text().toStdString(), Tree.Path("start/"));
}

TEST_F(FolderAndDrag, FirstOpeningPreselectsTheProgramsFolderThenTheLastConfirmed) {
  Start();
  SetProgramFolderOverride(Tree.Path("start/"));
  std::string preselected;
  Form->brfldMain->OnDialogShown = [&](TBrowseFolderDialog& D) {
    preselected = D.SelectedPath();
    D.reject();
  };
  Form->brfldMain->Directory.clear();
  Form->btnOpenDirClick();
  SetProgramFolderOverride("");
  EXPECT_EQ(preselected + "/", Tree.Path("start/"));
}

TEST_F(FolderAndDrag, ConfirmedFolderIsRescannedWithTheSeparatorAndSelectionCleared) {
  WritePng(Tree.Path("other/x.png"), 8, 8);
  WritePng(Tree.Path("other/sub/y.png"), 8, 8);
  Start();
  Form->mnuSelectAllClick();
  ASSERT_EQ(Form->dbgPictures->SelectedRows().Count(), 5);

  Form->brfldMain->OnDialogShown = [&](TBrowseFolderDialog& D) {
    D.SelectPath(Tree.Path("other"));
    WaitForSearch(D);
    if (D.OkEnabled())
      D.accept();
    else
      D.reject();
  };
  Form->btnOpenDirClick();
  EXPECT_EQ(Form->mtbPictures->RecordCount(), 2);
  EXPECT_EQ(Form->lbDir->text().toStdString(), Tree.Path("other/"));
  EXPECT_EQ(Form->brfldMain->Directory + "/", Tree.Path("other/")) << "kept without the separator";
  EXPECT_EQ(Form->dbgPictures->SelectedRows().Count(), 0);
  EXPECT_EQ(Form->sbMain->PanelText(1), "1 of 2");

  // The next opening preselects the confirmed folder.
  std::string preselected;
  Form->brfldMain->OnDialogShown = [&](TBrowseFolderDialog& D) {
    preselected = D.SelectedPath();
    D.reject();
  };
  Form->btnOpenDirClick();
  EXPECT_EQ(preselected + "/", Tree.Path("other/"));
}

TEST_F(FolderAndDrag, DragOffersTheSelectedRowsInSelectionOrder) {
  Start();
  Click(4, Qt::ControlModifier);
  Click(1, Qt::ControlModifier);
  Click(3, Qt::ControlModifier);
  ASSERT_EQ(Form->dbgPictures->SelectedRows().Count(), 3);
  const std::string first = PathOfRow(1), third = PathOfRow(3), fourth = PathOfRow(4);

  DragFrom(2); // a press on an unselected row drags the rows selected before it
  ASSERT_EQ(Drags, 1);
  EXPECT_EQ(Offered, (std::vector<std::string>{first, third, fourth}));
  EXPECT_EQ(OfferedText, first);
  EXPECT_EQ(Form->dbgPictures->SelectedRows().Count(), 3) << "the press never reached the grid";
  EXPECT_FALSE(Form->mtbPictures->ControlsDisabled());
}

TEST_F(FolderAndDrag, TitleRowNeverDragsAndAStillPressIsAClick) {
  Start();
  Click(2, Qt::ControlModifier);
  Click(4, Qt::ControlModifier);
  ASSERT_EQ(Form->dbgPictures->SelectedRows().Count(), 2);

  DragFrom(0);
  EXPECT_EQ(Drags, 0);

  Click(3); // press and release without movement: an ordinary click
  EXPECT_EQ(Drags, 0);
  EXPECT_EQ(Form->dbgPictures->CurrentRow(), 3);
  EXPECT_EQ(Form->dbgPictures->SelectedRows().Count(), 1);
}

TEST_F(FolderAndDrag, DragWithNothingSelectedOffersNoFilesAndConsumesThePress) {
  Start();
  const int row = Form->dbgPictures->CurrentRow();
  DragFrom(3);
  ASSERT_EQ(Drags, 1);
  EXPECT_TRUE(Offered.empty());
  EXPECT_EQ(OfferedFormats, 0);
  EXPECT_EQ(Form->dbgPictures->CurrentRow(), row) << "the press was consumed";
  EXPECT_FALSE(Form->mtbPictures->ControlsDisabled());
}

// Ctrl+Delete (confirmed) leaves the view and the status bar on the row that is
// current afterwards, whichever way the rows were chosen: a row clicked with
// the mouse is a selected row, and selected rows are deleted with the table's
// notifications held back.
TEST_F(FolderAndDrag, DeletingLeavesViewAndStatusOnTheRowCurrentAfterwards) {
  const struct {
    const char* What;
    std::function<void()> Choose;
    std::string Asked;
    std::vector<std::string> Left; // the rows left, in order
    std::string Current;           // "" when none is left
  } Cases[] = {
      {"one row clicked",
       [this] { Click(2); },
       "Delete record?",
       {"p1.png", "p3.png", "p4.png", "p5.png"},
       "p3.png"},
      {"three rows with Shift",
       [this] {
         Click(2);
         QTest::keyClick(Form->dbgPictures, Qt::Key_Down, Qt::ShiftModifier);
         QTest::keyClick(Form->dbgPictures, Qt::Key_Down, Qt::ShiftModifier);
       },
       "Delete all selected records?",
       {"p1.png", "p5.png"},
       "p5.png"},
      {"the first and the last row with Ctrl",
       [this] {
         Click(5, Qt::ControlModifier);
         Click(1, Qt::ControlModifier);
         Click(3, Qt::ControlModifier);
         Click(3, Qt::ControlModifier); // chosen and taken out again
       },
       "Delete all selected records?",
       {"p2.png", "p3.png", "p4.png"},
       "p2.png"},
      {"every row", [this] { Form->mnuSelectAllClick(); }, "Delete all selected records?", {}, ""},
      {"the current row by keys, nothing chosen",
       [this] { QTest::keyClick(Form->dbgPictures, Qt::Key_Down); },
       "Delete record?",
       {"p1.png", "p3.png", "p4.png", "p5.png"},
       "p3.png"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.What);
    Start();
    Form->dbgPictures->setFocus();
    std::vector<std::string> Asked;
    Form->dbgPictures->OnConfirmDelete = [&](const QString& Text) {
      Asked.push_back(Text.toStdString());
      return true;
    };
    C.Choose();
    QTest::keyClick(Form->dbgPictures, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(Asked, std::vector<std::string>{C.Asked});
    std::vector<std::string> Left;
    for (int Row = 1; Row <= Form->dbgPictures->RowCount(); ++Row)
      Left.push_back(Form->dbgPictures->CellText(0, Row).toStdString());
    EXPECT_EQ(Left, C.Left);
    const int Count = static_cast<int>(C.Left.size());
    if (C.Current.empty()) {
      EXPECT_TRUE(Form->imgMain->Graphic().Empty());
      EXPECT_EQ(Form->ShownPath(), "");
      EXPECT_EQ(Form->sbMain->PanelText(1), "-1 of 0");
      EXPECT_EQ(Form->sbMain->PanelText(2), "");
    } else {
      const int At =
          static_cast<int>(std::find(C.Left.begin(), C.Left.end(), C.Current) - C.Left.begin() + 1);
      EXPECT_EQ(Form->mtbPicturesName->AsString(), C.Current);
      EXPECT_EQ(Form->ShownPath(), Tree.Path("start/" + C.Current));
      EXPECT_EQ(Form->sbMain->PanelText(1).toStdString(),
                std::to_string(At) + " of " + std::to_string(Count));
      EXPECT_EQ(Form->sbMain->PanelText(2).toStdString(), C.Current + " (20x20)");
    }
    EXPECT_EQ(Form->dbgPictures->SelectedRows().Count(), 0);
    Form.reset();
  }
}

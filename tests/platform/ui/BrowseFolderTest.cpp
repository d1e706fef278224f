#include "platform/ui/BrowseFolder.h"
#include "tests/lib/TestApp.h"

#include <QDir>
#include <QFileSystemModel>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

namespace {

struct Tree {
  QTemporaryDir root;
  Tree() {
    QDir(root.path()).mkpath("a/b");
    QDir(root.path()).mkpath("c");
  }
  std::string Path(const char* rel) const {
    return QDir::cleanPath(root.path() + "/" + rel).toStdString();
  }
};

// Whether the tree's current row is shown in its viewport.
bool CurrentRowInView(const QTreeView* View) {
  const QRect r = View->visualRect(View->currentIndex());
  return r.isValid() && View->viewport()->rect().contains(r.center());
}

} // namespace

TEST(BrowseFolder, PreselectsDirectoryAndReportsEverySelection) {
  TestApp();
  Tree t;
  TBrowseFolder bf(nullptr);
  bf.Title = "Pick one";
  bf.Directory = t.Path("a");
  std::vector<std::string> reported;
  QWidget* handle = nullptr;
  bf.OnSelectionChanged = [&](TBrowseFolder& sender, QWidget* dialog, const std::string& dir) {
    EXPECT_EQ(&sender, &bf);
    handle = dialog;
    reported.push_back(dir);
  };
  bool okWasEnabled = false;
  bf.OnDialogShown = [&](TBrowseFolderDialog& d) {
    EXPECT_EQ(d.TitleText(), "Pick one");
    EXPECT_EQ(d.SelectedPath(), t.Path("a"));
    d.SelectPath(t.Path("a/b"));
    okWasEnabled = d.OkEnabled();
    d.accept();
  };
  ASSERT_TRUE(bf.Execute());
  EXPECT_TRUE(okWasEnabled) << "a file-system folder enables OK before the handler speaks";
  ASSERT_GE(reported.size(), 2u);
  EXPECT_EQ(reported.front(), t.Path("a"));
  EXPECT_EQ(reported.back(), t.Path("a/b"));
  EXPECT_NE(handle, nullptr);
  EXPECT_EQ(bf.Directory, t.Path("a/b"));
  EXPECT_EQ(bf.Dialog(), nullptr);
}

TEST(BrowseFolder, PreselectedFolderIsExpandedIntoView) {
  TestApp();
  Tree t;
  TBrowseFolder bf(nullptr);
  bf.Directory = t.Path("a/b");
  bool visible = false;
  bf.OnDialogShown = [&](TBrowseFolderDialog& d) {
    QTreeView* tree = d.Tree();
    visible = QTest::qWaitFor([&] { return CurrentRowInView(tree); }, 5000);
    d.reject();
  };
  bf.Execute();
  EXPECT_TRUE(visible) << "the preselected folder is shown, its parents expanded";
}

// The model keeps loading and sorting folders after the dialog opens: the
// preselected folder stays in view through that, until the user scrolls; from
// then on folders that arrive leave the scroll position alone.
TEST(BrowseFolder, PreselectedFolderStaysInViewUntilTheUserScrolls) {
  TestApp();
  Tree t;
  TBrowseFolder bf(nullptr);
  bf.Directory = t.Path("a/b");
  bool settledInView = false;
  int range = -1, afterUserScroll = -1;
  bf.OnDialogShown = [&](TBrowseFolderDialog& d) {
    d.resize(340, 220); // fewer rows shown than the tree has
    QTreeView* tree = d.Tree();
    auto inView = [tree] { return CurrentRowInView(tree); };
    (void)QTest::qWaitFor(inView, 5000); // checked after the later loads below
    QTest::qWait(1500); // the later loads and sorts of the model
    settledInView = inView();
    QScrollBar* bar = tree->verticalScrollBar();
    range = bar->maximum();
    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    auto* model = static_cast<QFileSystemModel*>(tree->model());
    tree->expand(model->index(QString::fromStdString(t.Path("c"))));
    QTest::qWait(1000);
    afterUserScroll = bar->value();
    d.reject();
  };
  bf.Execute();
  EXPECT_TRUE(settledInView);
  ASSERT_GT(range, 0) << "the test needs a tree taller than the dialog";
  EXPECT_EQ(afterUserScroll, 0) << "a folder that arrived scrolled back to the selection";
}

TEST(BrowseFolder, HandlerHasTheLastWordOnOk) {
  TestApp();
  Tree t;
  TBrowseFolder bf(nullptr);
  bf.Directory = t.Path("c");
  bf.OnSelectionChanged = [&](TBrowseFolder& sender, QWidget* dialog, const std::string&) {
    sender.EnableOK(dialog, false);
  };
  bool ok = true;
  bf.OnDialogShown = [&](TBrowseFolderDialog& d) {
    ok = d.OkEnabled();
    d.reject();
  };
  EXPECT_FALSE(bf.Execute());
  EXPECT_FALSE(ok);
}

TEST(BrowseFolder, CancelLeavesDirectoryUnchanged) {
  TestApp();
  Tree t;
  TBrowseFolder bf(nullptr);
  bf.Directory = t.Path("a");
  bf.OnDialogShown = [&](TBrowseFolderDialog& d) {
    d.SelectPath(t.Path("c"));
    d.reject();
  };
  EXPECT_FALSE(bf.Execute());
  EXPECT_EQ(bf.Directory, t.Path("a"));
}

TEST(BrowseFolder, MissingDirectoryPreselectsNothingAndOkStaysOff) {
  TestApp();
  TBrowseFolder bf(nullptr);
  bf.Directory = "/no/such/folder/here";
  bool ok = true;
  std::string selected = "x";
  bf.OnDialogShown = [&](TBrowseFolderDialog& d) {
    ok = d.OkEnabled();
    selected = d.SelectedPath();
    d.reject();
  };
  EXPECT_FALSE(bf.Execute());
  EXPECT_FALSE(ok);
  EXPECT_EQ(selected, "");
}

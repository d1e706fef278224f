#pragma once
// The main window's test fixture: the window started on a folder tree made by
// each test (on the offscreen platform), with the folder picker cancelled and
// counted, dragging out cancelled, and errors that reach the error box recorded
// in ShownErrors (see MainFormTestMain.cpp).

#include "app/MainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Application.h"
#include "platform/ui/BrowseFolder.h"
#include "grid/DbAltGrid.h"
#include "imaging/DibGraphic.h"
#include "platform/ui/DropFileSource.h"
#include "app/FolderWalk.h"
#include "view/ImageScrollBox.h"
#include "tests/app/TempTree.h"

// The messages of the errors shown since the test began.
inline std::vector<std::string> ShownErrors;

// Runs the event loop until Condition holds or Ms milliseconds have passed.
inline bool WaitFor(const std::function<bool()>& Condition, int Ms = 5000) {
  QElapsedTimer Clock;
  Clock.start();
  while (!Condition()) {
    if (Clock.elapsed() > Ms) return false;
    QTest::qWait(5);
  }
  return true;
}

inline void WritePng(const std::string& Path, int W, int H, QRgb Colour = qRgb(200, 120, 40)) {
  std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
  QImage Image(W, H, QImage::Format_RGB32);
  Image.fill(Colour);
  ASSERT_TRUE(Image.save(QString::fromStdString(Path), "PNG")) << Path;
}

class MainFormTest : public ::testing::Test {
protected:
  void SetUp() override { ShownErrors.clear(); }

  void TearDown() override {
    Form.reset();
    TfrmMain::OnComponentsCreated = nullptr;
    SetProgramFolderOverride("");
  }

  // Starts the window on the tree (or on the given arguments); the folder
  // picker, when it opens, is cancelled and counted.
  void Start(std::vector<std::string> Args = {}) {
    if (Args.empty()) Args = {"-Dir:" + Tree.Root()};
    Args.insert(Args.begin(), "TobbinsImbrel");
    TfrmMain::OnComponentsCreated = [this](TfrmMain& F) {
      F.brfldMain->OnDialogShown = [this](TBrowseFolderDialog& D) {
        ++DialogCount;
        D.reject();
      };
      F.dropSourceImages->ExecuteHook = [](QMimeData*) { return TDragResult::drCancel; };
      if (BeforeCreate) BeforeCreate(F);
    };
    Form = std::make_unique<TfrmMain>(Args);
    Form->show();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  }

  // Changing the border re-creates the window; activating it again is the
  // window system's (or the user's) part.
  void Reactivate() {
    QApplication::setActiveWindow(Form.get());
    Form->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return QApplication::activeWindow() == Form.get(); }, 2000));
  }

  QString Panel(int I) const { return Form->sbMain->PanelText(I); }
  std::string CurrentName() const { return Form->mtbPicturesName->AsString(); }
  TDibGraphic& Shown() const { return Form->imgMain->Graphic(); }

  // The names in the table's current order.
  std::vector<std::string> Names() const {
    std::vector<std::string> Result;
    auto& T = *Form->mtbPictures;
    T.DisableControls();
    T.First();
    while (!T.Eof()) {
      Result.push_back(Form->mtbPicturesName->AsString());
      T.Next();
    }
    T.First();
    T.EnableControls();
    return Result;
  }

  std::vector<unsigned> Markers() const {
    std::vector<unsigned> M;
    auto& C = Form->dbgPictures->Columns();
    for (int i = 0; i < C.Count(); ++i)
      M.push_back(C[i].SortMarker());
    return M;
  }

  void KeyUp(Qt::Key Key, Qt::KeyboardModifiers Mods = Qt::NoModifier) {
    QWidget* Target =
        QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : Form.get();
    QTest::keyClick(Target, Key, Mods);
  }

  TTempTree Tree;
  std::unique_ptr<TfrmMain> Form;
  int DialogCount = 0;
  std::function<void(TfrmMain&)> BeforeCreate;
};

// Three decodable pictures of distinct sizes, named so that Name order is a, b, c.
class ThreePictures : public MainFormTest {
protected:
  void SetUp() override {
    MainFormTest::SetUp();
    WritePng(Tree.Path("a.png"), 40, 30);
    WritePng(Tree.Path("b.png"), 50, 40);
    WritePng(Tree.Path("c.png"), 60, 50);
  }
};

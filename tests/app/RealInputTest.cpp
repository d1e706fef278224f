// The main window on a real X server with a window manager, driven by real
// input: every key and click goes through the server (xdotool), so menus,
// dialogs and the window see them as they would from a user. Run by
// real-input-test.sh, which starts the server and the window manager.

#include "app/AboutBox.h"
#include "app/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/Application.h"
#include "platform/ui/BrowseFolder.h"
#include "grid/DbAltGrid.h"
#include "formats/Formats.h"
#include "view/ImageScrollBox.h"
#include "tests/app/TempTree.h"

namespace {

bool WaitFor(const std::function<bool()>& Condition, int Ms = 10000) {
  QElapsedTimer Clock;
  Clock.start();
  while (!Condition()) {
    if (Clock.elapsed() > Ms) return false;
    QTest::qWait(10);
  }
  return true;
}

// Runs xdotool and returns its output; the program's events wait in the
// server's queue until the test processes events again.
QString Xdo(const QStringList& Args) {
  QProcess P;
  P.start(QStringLiteral("xdotool"), Args);
  P.waitForFinished(10000);
  return QString::fromLocal8Bit(P.readAllStandardOutput());
}

void Key(const QString& Keys) {
  Xdo(QStringList{"key", "--delay", "40"} + Keys.split(' '));
}

void ClickAt(QPoint Global, int Button = 1) {
  Xdo({"mousemove", QString::number(Global.x()), QString::number(Global.y())});
  QTest::qWait(50);
  Xdo({"click", QString::number(Button)});
}

// A window's own area and its frame's edges, as the X server has them.
struct TPlaced {
  QRect Client;
  int Left = 0, Right = 0, Top = 0, Bottom = 0;
  QRect Frame() const { return Client.adjusted(-Left, -Top, Right, Bottom); }
};

TPlaced PlacedOnServer(WId Window) {
  TPlaced P;
  std::map<QString, int> V;
  for (const QString& Line :
       Xdo({"getwindowgeometry", "--shell", QString::number(Window)}).split('\n')) {
    const auto Parts = Line.split('=');
    if (Parts.size() == 2) V[Parts[0]] = Parts[1].toInt();
  }
  P.Client = QRect(V["X"], V["Y"], V["WIDTH"], V["HEIGHT"]);
  QProcess Prop;
  Prop.start(QStringLiteral("xprop"), {"-id", QString::number(Window), "_NET_FRAME_EXTENTS"});
  Prop.waitForFinished(10000);
  const QString Out = QString::fromLocal8Bit(Prop.readAllStandardOutput());
  const auto Eq = Out.indexOf('=');
  if (Eq >= 0) {
    const auto E = Out.mid(Eq + 1).split(',');
    if (E.size() == 4) {
      P.Left = E[0].trimmed().toInt();
      P.Right = E[1].trimmed().toInt();
      P.Top = E[2].trimmed().toInt();
      P.Bottom = E[3].trimmed().toInt();
    }
  }
  return P;
}

class RealInput : public ::testing::Test {
protected:
  void SetUp() override {
    for (int i = 1; i <= 10; ++i) {
      QImage Image(320 + i, 240, QImage::Format_RGB32);
      Image.fill(qRgb(20 * i, 100, 200 - 10 * i));
      ASSERT_TRUE(Image.save(
          QString::fromStdString(Tree.Path("p" + std::to_string(10 + i) + ".png")), "PNG"));
    }
    Form = std::make_unique<TfrmMain>(
        std::vector<std::string>{"TobbinsImbrel", "-Dir:" + Tree.Root()});
    Form->AboutBox = std::make_unique<TAboutBox>(Form.get());
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    Focus();
  }

  void TearDown() override {
    if (Form) Form->tmMainTimer->stop();
    Form.reset();
  }

  // Activates the window through the window manager and waits for the server
  // to report it active.
  void Focus() {
    const QString Id = QString::number(Form->winId());
    Xdo({"windowactivate", Id});
    ASSERT_TRUE(WaitFor([&] { return Xdo({"getactivewindow"}).trimmed() == Id; }));
    QTest::qWait(100);
  }

  // A point of a widget of the main window on the screen, from where the
  // server has the window (the toolkit's idea of a framed window's place can
  // lag behind the window manager's moves).
  QPoint OnScreen(QWidget* W, QPoint P) const {
    return PlacedOnServer(Form->winId()).Client.topLeft() + W->mapTo(Form.get(), P);
  }

  QString Panel(int I) const { return Form->sbMain->PanelText(I); }
  QString Fitted() const {
    return QString::number(static_cast<long long>(std::trunc(Form->imgMain->ZoomPercent())));
  }

  // Opens the popup with a right click on the picture.
  void OpenPopup() {
    const QPoint At = OnScreen(Form->imgMain, Form->imgMain->rect().center());
    // Apart by more than the double-click time: a second right click that
    // soon would be a double click, which opens no menu.
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    ClickAt(At, 3);
    ASSERT_TRUE(WaitFor([&] { return Form->mnuMainPopup->isVisible(); }));
  }

  // Clicks an item of an open menu where the menu shows it.
  static void ChooseItem(QMenu* Menu, QAction* Item) {
    ASSERT_TRUE(WaitFor([&] { return Menu->isVisible(); }));
    ClickAt(Menu->mapToGlobal(Menu->actionGeometry(Item).center()));
  }

  // Zoom > Item through the popup, as a user clicks it.
  void ZoomCommand(QAction* Item) {
    OpenPopup();
    ChooseItem(Form->mnuMainPopup, Form->mnuZoomMain);
    ChooseItem(Form->mnuZoomMainMenu, Item);
    ASSERT_TRUE(WaitFor([&] { return !Form->mnuMainPopup->isVisible(); }));
    QTest::qWait(100);
  }

  // The Zoom entry's caption as the next popup shows it; closes that popup.
  QString ZoomCaption() {
    OpenPopup();
    const QString Caption = Form->mnuZoomMain->text();
    Key("Escape");
    EXPECT_TRUE(WaitFor([&] { return !Form->mnuMainPopup->isVisible(); }));
    return Caption;
  }

  void LeaveFullScreen() {
    Key("ctrl+f");
    ASSERT_TRUE(WaitFor([&] { return !Form->FFullScreen && Form->isVisible(); }));
    QTest::qWait(300);
    Focus();
  }

  TTempTree Tree;
  std::unique_ptr<TfrmMain> Form;
};

} // namespace

TEST_F(RealInput, AutosizeFromThePopupAfterTheOtherZoomCommands) {
  for (QAction* Other : {Form->mnuZoom100, Form->mnuZoomIn, Form->mnuZoomOut}) {
    SCOPED_TRACE(Other->objectName().toStdString());
    ZoomCommand(Other);
    ASSERT_FALSE(Form->mnuAutosize->isChecked());
    if (Other == Form->mnuZoom100) {
      EXPECT_EQ(Panel(0), "Zoom: 100");
      EXPECT_EQ(ZoomCaption(), "Zoom  (100)");
    }
    ZoomCommand(Form->mnuAutosize);
    EXPECT_TRUE(Form->mnuAutosize->isChecked());
    EXPECT_EQ(Form->imgMain->ZoomMode(), zmFullPage);
    EXPECT_EQ(Panel(0), "Autosize (" + Fitted() + ")");
    EXPECT_EQ(ZoomCaption(), "Zoom");
  }
  // Unchecking Autosize while fitted: the picture stays fitted, the panel says Zoom.
  const QString Before = Fitted();
  ZoomCommand(Form->mnuAutosize);
  EXPECT_FALSE(Form->mnuAutosize->isChecked());
  EXPECT_EQ(Form->imgMain->ZoomMode(), zmFullPage);
  EXPECT_EQ(Panel(0), "Zoom: " + Before);
}

TEST_F(RealInput, EscClosingThePopupOrAPickerKeepsTheProgramThenEscOnTheViewEnds) {
  // Full screen, then windowed after a right click on the picture.
  for (bool Windowed : {false, true}) {
    SCOPED_TRACE(Windowed ? "windowed" : "full screen");
    if (Windowed) LeaveFullScreen();
    OpenPopup();
    Key("Escape");
    ASSERT_TRUE(WaitFor([&] { return !Form->mnuMainPopup->isVisible(); }));
    QTest::qWait(300);
    EXPECT_TRUE(Form->isVisible()) << "the Esc that closed the popup ended the program";
  }
  // The release-driven keys whose press went to a menu act nowhere else:
  // Page Down on the open popup does not step the picture.
  const int Row = Form->mtbPictures->RecNo();
  OpenPopup();
  Key("Next Escape");
  ASSERT_TRUE(WaitFor([&] { return !Form->mnuMainPopup->isVisible(); }));
  QTest::qWait(300);
  EXPECT_EQ(Form->mtbPictures->RecNo(), Row);

  // Esc closing the folder picker.
  for (const char* Closing : {"Escape"}) {
    SCOPED_TRACE(Closing);
    bool Shown = false;
    Form->brfldMain->OnDialogShown = [&](TBrowseFolderDialog& D) {
      Shown = true;
      const QString Id = QString::number(D.winId());
      Xdo({"windowactivate", Id});
      EXPECT_TRUE(WaitFor([&] { return Xdo({"getactivewindow"}).trimmed() == Id; }, 5000));
      QTest::qWait(200);
      Key(Closing);
      // A dialog the key did not close fails the test instead of hanging it.
      QTimer::singleShot(8000, &D, [&D] {
        ADD_FAILURE() << "the folder picker did not close";
        D.reject();
      });
    };
    Focus();
    OpenPopup();
    ChooseItem(Form->mnuMainPopup, Form->mnuDirectory);
    ASSERT_TRUE(WaitFor([&] { return Shown && Form->brfldMain->Dialog() == nullptr; }));
    QTest::qWait(300);
    EXPECT_TRUE(Form->isVisible());
  }

  // Esc on the view ends the program.
  Focus();
  Form->imgMain->setFocus();
  Key("Escape");
  EXPECT_TRUE(WaitFor([&] { return !Form->isVisible(); }));
}

TEST_F(RealInput, ShiftSelectionCountEqualsTheHighlightedRows) {
  LeaveFullScreen();
  TDbAltGrid* Grid = Form->dbgPictures;
  auto Highlighted = [&] {
    int N = 0;
    for (int Row = 1; Row <= Grid->RowCount(); ++Row)
      N += Grid->RowHighlighted(Row) ? 1 : 0;
    return N;
  };
  auto Count = [&] { return Grid->SelectedRows().Count(); };
  auto Shows = [&](int Selected) {
    return Panel(1) == QString::number(Selected) + " of 10 selected";
  };
  // The list takes the keys (leaving full screen focuses it); row 5 from the top.
  Grid->setFocus();
  Key("ctrl+Home Down Down Down Down");
  ASSERT_TRUE(WaitFor([&] { return Grid->CurrentRow() == 5; })) << Grid->CurrentRow();
  for (int Step = 1; Step <= 3; ++Step) {
    Key("shift+Down");
    ASSERT_TRUE(WaitFor([&] { return Count() == Step + 1; }));
    QTest::qWait(100);
    EXPECT_TRUE(Shows(Step + 1)) << Panel(1).toStdString();
    EXPECT_EQ(Highlighted(), Step + 1);
  }
  Key("shift+Up");
  ASSERT_TRUE(WaitFor([&] { return Count() == 3; }));
  QTest::qWait(100);
  EXPECT_TRUE(Shows(3)) << Panel(1).toStdString();
  EXPECT_EQ(Highlighted(), 3);

  // Page Down clears the selection.
  Key("Next");
  ASSERT_TRUE(WaitFor([&] { return Count() == 0; }));
  QTest::qWait(100);
  EXPECT_EQ(Panel(1), QString::number(Form->mtbPictures->RecNo()) + " of 10");
}

// Rows chosen with the mouse (a click makes the clicked row a selected row),
// then Ctrl+Delete and OK in the question box: the status bar and the view
// move on to the row that is current afterwards, as after any move.
TEST_F(RealInput, DeletingRowsChosenWithTheMouseShowsTheRowCurrentAfterwards) {
  LeaveFullScreen();
  TDbAltGrid* Grid = Form->dbgPictures;
  // Where the toolkit has the row (settled since the window left full screen).
  auto RowPoint = [&](int Row) { return Grid->mapToGlobal(Grid->CellRect(0, Row).center()); };
  auto Name = [&](int Row) { return Grid->CellText(0, Row).toStdString(); };
  // Presses OK in the question box once it shows.
  auto ConfirmWithEnter = [&] {
    auto* Confirm = new QTimer(Form.get());
    Confirm->setInterval(50);
    QObject::connect(Confirm, &QTimer::timeout, [Confirm] {
      QWidget* Box = QApplication::activeModalWidget();
      if (Box == nullptr || !Box->isVisible()) return;
      Confirm->stop();
      Confirm->deleteLater();
      QTest::qWait(300);
      Xdo({"windowfocus", "--sync", QString::number(Box->winId())});
      Key("Return");
    });
    Confirm->start();
  };
  const struct {
    const char* What;
    std::vector<int> Rows; // clicked, the later ones with Ctrl
    int Current;           // the row current afterwards, as numbered before
  } Cases[] = {
      {"one row clicked", {3}, 4},
      {"two rows, the second with Ctrl", {2, 5}, 3},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.What);
    const int Before = Form->mtbPictures->RecordCount();
    const std::string Expected = Name(C.Current);
    for (std::size_t I = 0; I < C.Rows.size(); ++I) {
      QTest::qWait(QApplication::doubleClickInterval() + 100); // no double click
      if (I == 0) {
        ClickAt(RowPoint(C.Rows[I]));
      } else {
        Xdo({"mousemove", QString::number(RowPoint(C.Rows[I]).x()),
             QString::number(RowPoint(C.Rows[I]).y())});
        Xdo({"keydown", "ctrl", "click", "1", "keyup", "ctrl"});
      }
      ASSERT_TRUE(WaitFor([&] { return Grid->CurrentRow() == C.Rows[I]; }))
          << "clicked row " << C.Rows[I] << ", current " << Grid->CurrentRow();
    }
    ASSERT_TRUE(WaitFor([&] { return Grid->SelectedRows().Count() == int(C.Rows.size()); }));
    QTest::qWait(200);
    ConfirmWithEnter();
    Key("ctrl+Delete");
    const int After = Before - static_cast<int>(C.Rows.size());
    ASSERT_TRUE(WaitFor([&] { return Form->mtbPictures->RecordCount() == After; }));
    QTest::qWait(200);
    EXPECT_EQ(Form->mtbPicturesName->AsString(), Expected);
    const QString Row = QString::number(Form->mtbPictures->RecNo());
    EXPECT_EQ(Panel(1), Row + " of " + QString::number(After));
    EXPECT_TRUE(Panel(2).startsWith(QString::fromStdString(Expected) + " ("))
        << Panel(2).toStdString();
    EXPECT_EQ(Form->ShownPath(), Tree.Root() + Expected);
  }
}

// The wheel over the picture, through the X server (buttons 4 and 5): while
// the whole picture is in view it steps, down to the next picture; Ctrl+wheel
// zooms by the steps of + and - and keeps the point under the pointer; a
// picture larger than the screen scrolls instead of stepping.
TEST_F(RealInput, WheelStepsZoomsAndScrollsThePicture) {
  TImageScrollBox* View = Form->imgMain;
  const QPoint At(View->width() / 2 + 120, View->height() / 2 + 80);
  Xdo({"mousemove", QString::number(OnScreen(View, At).x()),
       QString::number(OnScreen(View, At).y())});
  auto Wheel = [](const QString& Button, bool Ctrl = false) {
    if (Ctrl)
      Xdo({"keydown", "ctrl", "click", Button, "keyup", "ctrl"});
    else
      Xdo({"click", Button});
  };
  ASSERT_EQ(Form->mtbPictures->RecNo(), 1);
  Wheel("5");
  ASSERT_TRUE(WaitFor([&] { return Form->mtbPictures->RecNo() == 2; }));
  Wheel("4");
  ASSERT_TRUE(WaitFor([&] { return Form->mtbPictures->RecNo() == 1; }));
  Wheel("4"); // wraps to the last picture, as Page Up
  ASSERT_TRUE(WaitFor([&] { return Form->mtbPictures->RecNo() == 10; }));

  const float Fitted = View->ZoomPercent();
  const QPointF Under = View->PicturePointAt(At);
  Wheel("4", true);
  ASSERT_TRUE(WaitFor([&] { return View->ZoomPercent() > Fitted; }));
  EXPECT_FLOAT_EQ(View->ZoomPercent(), Fitted * 1.2f);
  EXPECT_FALSE(Form->mnuAutosize->isChecked());
  EXPECT_EQ(Panel(0), "Zoom: " + QString::number(static_cast<int>(View->ZoomPercent())));
  ASSERT_GT(View->VertScrollBar().MaxPosition(), 0) << "the picture is larger than the screen";
  const double Pixel = 100.0 / View->ZoomPercent();
  EXPECT_NEAR(View->PicturePointAt(At).x(), Under.x(), Pixel);
  EXPECT_NEAR(View->PicturePointAt(At).y(), Under.y(), Pixel);

  const int Top = View->VertScrollBar().Position();
  Wheel("5");
  ASSERT_TRUE(WaitFor([&] { return View->VertScrollBar().Position() > Top; }));
  QTest::qWait(200);
  EXPECT_EQ(Form->mtbPictures->RecNo(), 10) << "a wheel that scrolls does not step";

  const float Zoomed = View->ZoomPercent();
  Wheel("5", true);
  ASSERT_TRUE(WaitFor([&] { return View->ZoomPercent() < Zoomed; }));
  EXPECT_FLOAT_EQ(View->ZoomPercent(), Zoomed * 0.8f);
}

TEST_F(RealInput, AboutBoxOpensCentredOnTheScreen) {
  const QRect Screen = Form->screen()->geometry();
  std::vector<TPlaced> Seen;
  // Twice: the first showing learns the frame's size, the second knows it.
  for (int Showing = 0; Showing < 2; ++Showing) {
    QTimer Check;
    Check.setInterval(50);
    QObject::connect(&Check, &QTimer::timeout, [&] {
      TAboutBox* Box = Form->AboutBox.get();
      if (!Box->isVisible()) return;
      Check.stop();
      QTest::qWait(1500); // the window manager frames and the box settles
      Seen.push_back(PlacedOnServer(Box->winId()));
      Xdo({"windowfocus", "--sync", QString::number(Box->winId())});
      Key("Return");
    });
    Check.start();
    Focus();
    OpenPopup();
    ChooseItem(Form->mnuMainPopup, Form->mnuAbout);
    ASSERT_TRUE(WaitFor([&] {
      return Seen.size() == static_cast<std::size_t>(Showing + 1) && !Form->AboutBox->isVisible();
    }));
  }
  for (const TPlaced& P : Seen) {
    EXPECT_EQ(P.Client.size(), QSize(351, 433));
    const QRect F = P.Frame();
    // Centred to the pixel (an odd leftover may go either way).
    EXPECT_LE(std::abs(F.left() + F.right() - (Screen.left() + Screen.right())), 1)
        << F.left() << "," << F.top() << " " << F.width() << "x" << F.height();
    EXPECT_LE(std::abs(F.top() + F.bottom() - (Screen.top() + Screen.bottom())), 1)
        << F.left() << "," << F.top() << " " << F.width() << "x" << F.height();
  }
}

int main(int argc, char** argv) {
  TImbrelApplication App(argc, argv);
  RegisterImageFormats();
  // An error box would wait for a click nobody makes: errors fail the test.
  SetExceptionHandler([](const std::string& M) { ADD_FAILURE() << "error shown: " << M; });
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

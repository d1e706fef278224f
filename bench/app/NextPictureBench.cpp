// Stepping through a folder of 20 photos of 6000 x 4000 pixels in the real
// main window, with decoding ahead switched on and off, side by side in one
// run:
//   - Page Down and Page Up after a 300 ms pause, in full screen and in the
//     windowed layout (the view focused): key release to the new picture
//     painted;
//   - a held Down arrow in the list (auto-repeat at 30 per second) over all 20
//     pictures: first press to the last row's picture painted;
//   - the process's peak memory (VmHWM, reset before each mode) against the
//     pictures the stepping may hold.
// Ratios on/off are printed, and one `required:` line per required figure.
// The pictures are made once under the temporary folder (a synthetic
// photo-like picture saved at quality 90); the screen is 1920 x 1080.
// With --adobe-rgb the photos carry an Adobe RGB profile (colord-data's, else
// Qt's), so that every step converts its display copy to the display's
// colour space (sRGB here).

#include <QApplication>
#include <QColorSpace>
#include <QFile>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "app/Application.h"
#include "platform/ui/BrowseFolder.h"
#include "grid/DbAltGrid.h"
#include "imaging/DibGraphic.h"
#include "formats/Formats.h"
#include "view/ImageScrollBox.h"
#include "app/MainForm.h"
#include "app/PicturePrefetch.h"

namespace fs = std::filesystem;

namespace {

constexpr int PictureCount = 20;
constexpr int PauseMs = 300;
constexpr int RepeatMs = 33; // auto-repeat at 30 per second
constexpr int StepsEachWay = 6;

// Smooth colour fields with fine grain: decodes like a photograph.
void MakePicture(const std::string& Path, unsigned Seed, const QColorSpace& Space) {
  const int W = 6000, H = 4000;
  QImage Image(W, H, QImage::Format_RGB888);
  std::mt19937 Rng(Seed);
  std::uniform_int_distribution<int> Grain(-12, 12);
  for (int y = 0; y < H; ++y) {
    uchar* Row = Image.scanLine(y);
    for (int x = 0; x < W; ++x) {
      const double Fx = x / double(W), Fy = y / double(H);
      const int R = int(128 + 100 * std::sin(6 * Fx + Seed) * std::cos(4 * Fy)) + Grain(Rng);
      const int G = int(120 + 90 * std::sin(5 * Fy + 2 * Fx)) + Grain(Rng);
      const int B = int(140 + 80 * std::cos(7 * Fx * Fy + Seed)) + Grain(Rng);
      Row[3 * x] = uchar(std::clamp(R, 0, 255));
      Row[3 * x + 1] = uchar(std::clamp(G, 0, 255));
      Row[3 * x + 2] = uchar(std::clamp(B, 0, 255));
    }
  }
  if (Space.isValid()) Image.setColorSpace(Space); // written as ICC_PROFILE segments
  if (!Image.save(QString::fromStdString(Path), "JPEG", 90))
    throw std::runtime_error("cannot write " + Path);
}

long long StatusKiB(const char* Field) {
  std::ifstream In("/proc/self/status");
  std::string Line;
  while (std::getline(In, Line))
    if (Line.rfind(Field, 0) == 0) return std::atoll(Line.c_str() + std::strlen(Field) + 1);
  return -1;
}

void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

// Notes paints of the view's inner image control.
class TPaintWatch : public QObject {
public:
  bool Painted = false;
  bool eventFilter(QObject*, QEvent* Event) override {
    if (Event->type() == QEvent::Paint) Painted = true;
    return false;
  }
};

TfrmMain* Form = nullptr;
TPaintWatch* Watch = nullptr;

void Idle(int Ms) {
  QElapsedTimer T;
  T.start();
  while (T.elapsed() < Ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
}

std::string CurrentPath() {
  return Form->mtbPicturesLocation->AsString() + Form->mtbPicturesName->AsString();
}

// Runs the event loop until the current row's picture is shown and painted.
bool WaitPainted(int TimeoutMs = 10000) {
  QElapsedTimer T;
  T.start();
  for (;;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (Watch->Painted && Form->ShownPath() == CurrentPath()) return true;
    if (T.elapsed() > TimeoutMs) return false;
  }
}

QWidget* KeyTarget() {
  return QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : Form;
}

// Page Down (or Up) after a pause: key release to the new picture painted, ms.
std::vector<double> PageSteps(Qt::Key Key, int Count, int Pause = PauseMs) {
  std::vector<double> Result;
  for (int i = 0; i < Count; ++i) {
    Idle(Pause);
    const std::string Before = CurrentPath();
    // The key acts on its release, and only when its press reached the window.
    QKeyEvent Press(QEvent::KeyPress, Key, Qt::NoModifier);
    QApplication::sendEvent(KeyTarget(), &Press);
    Watch->Painted = false;
    QElapsedTimer T;
    T.start();
    QKeyEvent Release(QEvent::KeyRelease, Key, Qt::NoModifier);
    QApplication::sendEvent(KeyTarget(), &Release);
    if (!WaitPainted() || CurrentPath() == Before) {
      std::cerr << "the step did not show the next picture\n";
      std::exit(1);
    }
    Result.push_back(T.nsecsElapsed() / 1e6);
  }
  return Result;
}

// A held Down arrow in the list from the first row to the last: key presses
// come every RepeatMs whether or not the program keeps up (as a window system
// queues them), the last one followed by the release. First press to the last
// row's picture painted, ms.
double HeldKey() {
  Form->dbgPictures->setFocus();
  Form->mtbPictures->First();
  WaitPainted();
  Idle(500);
  const int Presses = PictureCount - 1;
  QElapsedTimer T;
  T.start();
  int Sent = 0;
  bool Released = false;
  while (!Released) {
    const qint64 Now = T.elapsed();
    while (Sent < Presses && Now >= qint64(Sent) * RepeatMs) {
      QKeyEvent Press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, QString(), Sent > 0);
      QApplication::sendEvent(Form->dbgPictures, &Press);
      ++Sent;
    }
    if (Sent == Presses && Now >= qint64(Presses) * RepeatMs) {
      QKeyEvent Release(QEvent::KeyRelease, Qt::Key_Down, Qt::NoModifier);
      QApplication::sendEvent(Form->dbgPictures, &Release);
      Released = true;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  if (Form->mtbPictures->RecNo() != PictureCount) {
    std::cerr << "the held key ended on row " << Form->mtbPictures->RecNo() << "\n";
    std::exit(1);
  }
  Watch->Painted = false;
  Form->imgMain->ImageControl().update();
  if (!WaitPainted(20000)) {
    std::cerr << "the last row's picture was not shown\n";
    std::exit(1);
  }
  return T.nsecsElapsed() / 1e6;
}

double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  return V.empty()      ? 0
         : V.size() % 2 ? V[V.size() / 2]
                        : (V[V.size() / 2 - 1] + V[V.size() / 2]) / 2;
}

double Max(const std::vector<double>& V) {
  return V.empty() ? 0 : *std::max_element(V.begin(), V.end());
}

struct TModeResult {
  double FullDown = 0, FullUp = 0, WinDown = 0, WinUp = 0;
  double FullMax = 0, WinMax = 0;
  double Held = 0;
  double SlowDown = 0, SlowUp = 0; // full screen after a 1.5 s pause
  long long PhasePeakKiB[3] = {};  // full screen, windowed, held key
  long long PeakKiB = 0;
  int Hits = 0;
};

TModeResult RunMode(bool Ahead) {
  TModeResult R;
  Form->SetPrefetchEnabled(Ahead);
  if (!Form->FFullScreen) Form->mnuFullScreenClick();
  QApplication::setActiveWindow(Form);
  Form->imgMain->setFocus();
  Form->mtbPictures->First();
  WaitPainted();
  Idle(1000);
  ResetPeak();
  const int HitsBefore = Form->Prefetch().Hits();

  auto Down = PageSteps(Qt::Key_PageDown, StepsEachWay);
  auto Up = PageSteps(Qt::Key_PageUp, StepsEachWay);
  R.FullDown = Median(Down);
  R.FullUp = Median(Up);
  R.FullMax = std::max(Max(Down), Max(Up));
  R.SlowDown = Median(PageSteps(Qt::Key_PageDown, 3, 1500));
  R.SlowUp = Median(PageSteps(Qt::Key_PageUp, 3, 1500));
  long long Peak = StatusKiB("VmHWM:");
  R.PhasePeakKiB[0] = Peak;

  ResetPeak();
  Form->mnuFullScreenClick();          // windowed; the list has the focus
  QApplication::setActiveWindow(Form); // changing the border made the window anew
  Form->imgMain->setFocus();           // Page Down and Up step pictures from the view
  Idle(1000);
  Down = PageSteps(Qt::Key_PageDown, StepsEachWay);
  Up = PageSteps(Qt::Key_PageUp, StepsEachWay);
  R.WinDown = Median(Down);
  R.WinUp = Median(Up);
  R.WinMax = std::max(Max(Down), Max(Up));
  R.PhasePeakKiB[1] = StatusKiB("VmHWM:");
  Peak = std::max(Peak, R.PhasePeakKiB[1]);
  ResetPeak();

  R.Held = HeldKey();
  Idle(1000);
  R.PhasePeakKiB[2] = StatusKiB("VmHWM:");
  R.PeakKiB = std::max(Peak, R.PhasePeakKiB[2]);
  R.Hits = Form->Prefetch().Hits() - HitsBefore;
  return R;
}

void Required(const char* Figure, double Measured, double Limit, const char* Unit) {
  std::printf("required: %s %.1f%s %.1f%s %s\n", Figure, Measured, Unit, Limit, Unit,
              Measured <= Limit ? "ok" : "short");
}

} // namespace

int main(int argc, char** argv) {
  const fs::path Config = fs::temp_directory_path() / "imbrel-step-bench-screen.json";
  std::ofstream(Config) << R"({"screens":[{"name":"bench","x":0,"y":0,"width":1920,)"
                        << R"("height":1080,"logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})";
  qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + Config.string()).c_str());
  const bool AdobeRgb = argc > 1 && std::strcmp(argv[argc - 1], "--adobe-rgb") == 0;
  TImbrelApplication App(argc, argv);
  RegisterImageFormats();

  QColorSpace Space;
  if (AdobeRgb) {
    QFile Profile("/usr/share/color/icc/colord/AdobeRGB1998.icc");
    Space = Profile.open(QIODevice::ReadOnly) ? QColorSpace::fromIccProfile(Profile.readAll())
                                              : QColorSpace(QColorSpace::AdobeRgb);
  }
  const std::string Folder =
      (fs::temp_directory_path() / (AdobeRgb ? "imbrel-step-bench-adobergb" : "imbrel-step-bench"))
          .string() +
      "/";
  fs::create_directories(Folder);
  for (int i = 0; i < PictureCount; ++i) {
    char Name[32];
    std::snprintf(Name, sizeof Name, "photo%02d.jpg", i);
    if (!fs::exists(Folder + Name)) {
      std::cerr << "making " << Folder + Name << "\n";
      MakePicture(Folder + Name, static_cast<unsigned>(i + 1), Space);
    }
  }

  TfrmMain::OnComponentsCreated = [](TfrmMain& F) {
    F.brfldMain->OnDialogShown = [](TBrowseFolderDialog& D) { D.reject(); };
  };
  TfrmMain Window({"TobbinsImbrel", "-Dir:" + Folder});
  Window.show();
  Window.activateWindow();
  Form = &Window;
  TPaintWatch PaintWatch;
  Watch = &PaintWatch;
  Window.imgMain->ImageControl().installEventFilter(&PaintWatch);
  std::printf("screen %dx%d, %d pictures of 6000x4000%s, pause %d ms, repeat every %d ms\n",
              Window.width(), Window.height(), PictureCount,
              AdobeRgb ? " in Adobe RGB (converted to sRGB)" : "", PauseMs, RepeatMs);

  const TModeResult On = RunMode(true);
  const TModeResult Off = RunMode(false);

  // What the stepping may hold: the shown picture, two decoded ahead and the
  // display copies of all three (full screen, the larger layout).
  TDibGraphic& G = Window.imgMain->Graphic();
  const double PictureMiB = double(G.BytesPerRow()) * G.Height() / 1048576.0;
  const double DisplayMiB = 1920.0 * 1080 * 3 / 1048576.0;
  const double Limit = 3 * PictureMiB + 3 * DisplayMiB + 60;

  std::printf("\n%-52s %10s %10s %8s\n", "figure (medians, ms)", "ahead on", "ahead off", "on/off");
  auto Row = [](const char* Name, double A, double B) {
    std::printf("%-52s %10.1f %10.1f %8.3f\n", Name, A, B, B > 0 ? A / B : 0.0);
  };
  Row("full screen: Page Down after a pause", On.FullDown, Off.FullDown);
  Row("full screen: Page Up after a pause", On.FullUp, Off.FullUp);
  Row("full screen: slowest step", On.FullMax, Off.FullMax);
  Row("full screen: Page Down after 1.5 s", On.SlowDown, Off.SlowDown);
  Row("full screen: Page Up after 1.5 s", On.SlowUp, Off.SlowUp);
  Row("windowed: Page Down after a pause", On.WinDown, Off.WinDown);
  Row("windowed: Page Up after a pause", On.WinUp, Off.WinUp);
  Row("windowed: slowest step", On.WinMax, Off.WinMax);
  Row("held Down arrow over 20 pictures: total", On.Held, Off.Held);
  Row("peak memory (MiB)", On.PeakKiB / 1024.0, Off.PeakKiB / 1024.0);
  std::printf(
      "peak memory by phase (MiB), ahead on: full screen %.1f, windowed %.1f, held key %.1f;"
      " ahead off: %.1f, %.1f, %.1f\n",
      On.PhasePeakKiB[0] / 1024.0, On.PhasePeakKiB[1] / 1024.0, On.PhasePeakKiB[2] / 1024.0,
      Off.PhasePeakKiB[0] / 1024.0, Off.PhasePeakKiB[1] / 1024.0, Off.PhasePeakKiB[2] / 1024.0);
  std::printf("pictures taken ready (ahead on): %d; one picture %.1f MiB, display copy %.1f MiB\n",
              On.Hits, PictureMiB, DisplayMiB);

  Required("full-screen-page-down-ms", On.FullDown, 30, "");
  Required("full-screen-page-up-ms", On.FullUp, 30, "");
  Required("windowed-page-down-ms", On.WinDown, 30, "");
  Required("windowed-page-up-ms", On.WinUp, 30, "");
  Required("held-key-20-pictures-ratio-to-ahead-off", Off.Held > 0 ? On.Held / Off.Held : 0, 1.1,
           "");
  Required("peak-memory-MiB", On.PeakKiB / 1024.0, Limit, "");
  Form = nullptr;
  return 0;
}

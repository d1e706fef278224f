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
// With --formats-all the folder holds, before the photos in the list's order,
// one picture of each of today's formats: an animated GIF (60 frames of
// 800 x 600, through giflib), a 12-megapixel WebP, HEIC, AVIF and JPEG XL
// (made once with cwebp, heif-enc, avifenc and cjxl), a 24-megapixel DNG with
// a full-size JPEG preview (the DNG fixture writer) and an SVG; the program
// runs with -formats:all, and the steps measured land on each of them.

#include <gif_lib.h>

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
#include "tools/dng_fixtures/DngWriter.h"

namespace fs = std::filesystem;

namespace {

constexpr int PictureCount = 20;
constexpr int PauseMs = 300;
constexpr int RepeatMs = 33; // auto-repeat at 30 per second
constexpr int StepsEachWay = 6;

// Smooth colour fields with fine grain: decodes like a photograph.
QImage PhotoImage(int W, int H, unsigned Seed) {
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
  return Image;
}

void MakePicture(const std::string& Path, unsigned Seed, const QColorSpace& Space) {
  QImage Image = PhotoImage(6000, 4000, Seed);
  if (Space.isValid()) Image.setColorSpace(Space); // written as ICC_PROFILE segments
  if (!Image.save(QString::fromStdString(Path), "JPEG", 90))
    throw std::runtime_error("cannot write " + Path);
}

int WriteToString(GifFileType* Gif, const GifByteType* Bytes, int Count) {
  static_cast<std::string*>(Gif->UserData)
      ->append(reinterpret_cast<const char*>(Bytes), size_t(Count));
  return Count;
}

// 60 frames of 800 x 600 that pan and change colour, looping, through
// giflib's encoder: the kind of animation a web page shows.
void MakeGif(const std::string& Path) {
  constexpr int W = 800, H = 600, Frames = 60;
  std::string Out;
  int Error = 0;
  GifFileType* Gif = EGifOpen(&Out, WriteToString, &Error);
  if (Gif == nullptr) throw std::runtime_error("EGifOpen failed");
  EGifSetGifVersion(Gif, true);
  std::vector<GifColorType> Colors(256);
  for (int I = 0; I < 256; ++I)
    Colors[size_t(I)] = {uint8_t(I / 32 * 36), uint8_t(I / 4 % 8 * 36), uint8_t(I % 4 * 85)};
  ColorMapObject* Map = GifMakeMapObject(256, Colors.data());
  EGifPutScreenDesc(Gif, W, H, 8, 0, Map);
  const uint8_t Loop[3] = {1, 0, 0};
  EGifPutExtensionLeader(Gif, APPLICATION_EXT_FUNC_CODE);
  EGifPutExtensionBlock(Gif, 11, "NETSCAPE2.0");
  EGifPutExtensionBlock(Gif, 3, Loop);
  EGifPutExtensionTrailer(Gif);
  std::vector<GifPixelType> Row(W);
  for (int T = 0; T < Frames; ++T) {
    GraphicsControlBlock Gcb{};
    Gcb.DisposalMode = DISPOSE_DO_NOT;
    Gcb.DelayTime = 4;
    Gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType Ext[4];
    EGifGCBToExtension(&Gcb, Ext);
    EGifPutExtension(Gif, GRAPHICS_EXT_FUNC_CODE, 4, Ext);
    EGifPutImageDesc(Gif, 0, 0, W, H, false, nullptr);
    for (int Y = 0; Y < H; ++Y) {
      for (int X = 0; X < W; ++X)
        Row[size_t(X)] = GifPixelType(((X + 7 * T) / 25 + (Y + 3 * T) / 25 * 3 + T) & 0xFF);
      EGifPutLine(Gif, Row.data(), W);
    }
  }
  EGifCloseFile(Gif, &Error);
  GifFreeMapObject(Map);
  std::ofstream(Path, std::ios::binary) << Out;
}

// One picture of each of today's formats in Folder, made once; false when a
// tool is missing or fails.
bool MakeTodaysFormats(const std::string& Folder) {
  const std::string Png = Folder + ".source.png";
  auto Encode = [&](const std::string& Name, const std::string& Command) {
    if (fs::exists(Folder + Name)) return true;
    if (!fs::exists(Png) && !PhotoImage(4032, 3024, 31).save(QString::fromStdString(Png), "PNG"))
      return false;
    std::cerr << "making " << Folder + Name << "\n";
    std::string Line = Command;
    Line.replace(Line.find("IN"), 2, "'" + Png + "'");
    Line.replace(Line.find("OUT"), 3, "'" + Folder + Name + ".part'");
    if (std::system((Line + " >/dev/null 2>&1").c_str()) != 0) return false;
    fs::rename(Folder + Name + ".part", Folder + Name);
    return true;
  };
  if (!fs::exists(Folder + "a-anim.gif")) MakeGif(Folder + "a-anim.gif");
  if (!Encode("b-phone.heic", "heif-enc -q 85 IN -o OUT") ||
      !Encode("c-web.avif", "avifenc -s 8 -j 2 IN OUT") || !Encode("d-photo.jxl", "cjxl IN OUT -d 1") ||
      !Encode("e-web.webp", "cwebp -q 85 IN -o OUT"))
    return false;
  if (!fs::exists(Folder + "f-camera.dng")) {
    // A 24-megapixel sensor picture with a full-size JPEG preview, as cameras write.
    dngfixture::TDng Fixture;
    Fixture.Width = 6000;
    Fixture.Height = 4000;
    dngfixture::TPreview Preview;
    Preview.Width = 6000;
    Preview.Height = 4000;
    const QImage Photo = PhotoImage(6000, 4000, 37);
    Preview.Pixels.resize(size_t(6000) * 4000 * 3);
    for (int Y = 0; Y < 4000; ++Y)
      std::memcpy(Preview.Pixels.data() + size_t(Y) * 6000 * 3, Photo.constScanLine(Y), 6000 * 3);
    Fixture.Previews.push_back(std::move(Preview));
    std::cerr << "making " << Folder + "f-camera.dng\n";
    if (!dngfixture::WriteDng(Folder + "f-camera.dng", Fixture).empty()) return false;
  }
  std::ofstream(Folder + "g-drawing.svg")
      << "<svg xmlns='http://www.w3.org/2000/svg' width='1024' height='768'>"
         "<defs><linearGradient id='g'><stop offset='0' stop-color='#204080'/>"
         "<stop offset='1' stop-color='#f0a020'/></linearGradient></defs>"
         "<rect width='1024' height='768' fill='url(#g)'/>"
         "<circle cx='512' cy='384' r='300' fill='#fff' fill-opacity='0.5'/></svg>";
  return true;
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

// The pictures the steps reached and their times, when asked for.
std::vector<std::pair<std::string, double>>* StepLog = nullptr;

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
    if (StepLog) StepLog->emplace_back(Form->mtbPicturesName->AsString(), Result.back());
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
  const int Rows = Form->mtbPictures->RecordCount();
  const int Presses = Rows - 1;
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
  if (Form->mtbPictures->RecNo() != Rows) {
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

TModeResult RunMode(bool Ahead, std::vector<std::pair<std::string, double>>* Log = nullptr) {
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
  StepLog = Log;

  auto Down = PageSteps(Qt::Key_PageDown, StepsEachWay);
  auto Up = PageSteps(Qt::Key_PageUp, StepsEachWay);
  R.FullDown = Median(Down);
  R.FullUp = Median(Up);
  StepLog = nullptr;
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
  bool AdobeRgb = false, FormatsAll = false;
  for (int i = 1; i < argc; ++i) {
    AdobeRgb = AdobeRgb || std::strcmp(argv[i], "--adobe-rgb") == 0;
    FormatsAll = FormatsAll || std::strcmp(argv[i], "--formats-all") == 0;
  }
  TImbrelApplication App(argc, argv);
  RegisterImageFormats();

  QColorSpace Space;
  if (AdobeRgb) {
    QFile Profile("/usr/share/color/icc/colord/AdobeRGB1998.icc");
    Space = Profile.open(QIODevice::ReadOnly) ? QColorSpace::fromIccProfile(Profile.readAll())
                                              : QColorSpace(QColorSpace::AdobeRgb);
  }
  const std::string Folder =
      (fs::temp_directory_path() / (AdobeRgb     ? "imbrel-step-bench-adobergb"
                                    : FormatsAll ? "imbrel-step-bench-formats"
                                                 : "imbrel-step-bench"))
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

  if (FormatsAll && !MakeTodaysFormats(Folder)) {
    std::cerr << "a picture of today's formats could not be made (cwebp, heif-enc, avifenc, cjxl)\n";
    return 1;
  }

  TfrmMain::OnComponentsCreated = [](TfrmMain& F) {
    F.brfldMain->OnDialogShown = [](TBrowseFolderDialog& D) { D.reject(); };
  };
  std::vector<std::string> Args{"TobbinsImbrel", "-Dir:" + Folder};
  if (FormatsAll) Args.push_back("-formats:all");
  TfrmMain Window(Args);
  Window.show();
  Window.activateWindow();
  Form = &Window;
  TPaintWatch PaintWatch;
  Watch = &PaintWatch;
  Window.imgMain->ImageControl().installEventFilter(&PaintWatch);
  std::printf("screen %dx%d, %d pictures of 6000x4000%s%s, pause %d ms, repeat every %d ms\n",
              Window.width(), Window.height(), PictureCount,
              AdobeRgb ? " in Adobe RGB (converted to sRGB)" : "",
              FormatsAll ? " after one GIF, HEIC, AVIF, JPEG XL, WebP, DNG and SVG (-formats:all)"
                         : "",
              PauseMs, RepeatMs);
  if (Window.mtbPictures->RecordCount() != PictureCount + (FormatsAll ? 7 : 0)) {
    std::cerr << "the list holds " << Window.mtbPictures->RecordCount() << " pictures\n";
    return 1;
  }

  std::vector<std::pair<std::string, double>> Steps;
  const TModeResult On = RunMode(true, &Steps);
  std::printf("full screen, decoding ahead on, each step after a pause:");
  for (const auto& [Name, Ms] : Steps)
    std::printf(" %s %.1f;", Name.c_str(), Ms);
  std::printf("\n");
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
  Row(FormatsAll ? "held Down arrow over 27 pictures: total"
                 : "held Down arrow over 20 pictures: total",
      On.Held, Off.Held);
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

// Page Down on a folder of 6000 x 4000 JPEGs, from the key release to the new
// picture laid out in the view, against decoding one such file alone, side by
// side in one run, with the ratio printed at the end. Between key presses the
// benchmark pauses (timing off) and lets the event loop run for a moment, as a
// user looks at a picture before pressing the next key.
//
// The pictures are made once under the temporary folder: a synthetic
// photo-like 24-megapixel image saved at quality 90, in several files.

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QThread>
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <string>

#include "Application.h"
#include "BrowseFolder.h"
#include "DibGraphic.h"
#include "FolderWalk.h"
#include "Formats.h"
#include "GraphicRegistry.h"
#include "ImageScrollBox.h"
#include "MainForm.h"
#include "PicturePrefetch.h"
#include "Stream.h"

namespace fs = std::filesystem;

namespace {

constexpr int PictureCount = 6;
std::string Folder;
TfrmMain* Form = nullptr;

// Smooth colour fields with fine grain: decodes like a photograph.
void MakePicture(const std::string& Path, unsigned Seed) {
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
  if (!Image.save(QString::fromStdString(Path), "JPEG", 90))
    throw std::runtime_error("cannot write " + Path);
}

void BM_DecodeOne(benchmark::State& State) {
  const std::string Path = Folder + "photo0.jpg";
  for (auto _ : State) {
    TFileStream Stream(Path, TFileMode::fmOpenRead);
    auto Graphic = CreateGraphicFromStream(Stream, Path, 1);
    benchmark::DoNotOptimize(Graphic->Bits());
  }
}

// Range(0): 1 decodes the next picture ahead (the program's way), 0 decodes
// on each step.
void BM_PageDown(benchmark::State& State) {
  Form->SetPrefetchEnabled(State.range(0) != 0);
  Form->Prefetch().Clear();
  for (auto _ : State) {
    // The user looks at the picture for a moment; the event loop runs.
    State.PauseTiming();
    QElapsedTimer Look;
    Look.start();
    while (Look.elapsed() < 400) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      QThread::msleep(5);
    }
    QWidget* Target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : Form;
    const std::string Before = Form->mtbPicturesName->AsString();
    State.ResumeTiming();

    QKeyEvent Release(QEvent::KeyRelease, Qt::Key_PageDown, Qt::NoModifier);
    QApplication::sendEvent(Target, &Release);

    State.PauseTiming();
    if (Form->mtbPicturesName->AsString() == Before || Form->imgMain->Graphic().Empty())
      State.SkipWithError("Page Down did not show the next picture");
    State.ResumeTiming();
  }
}

BENCHMARK(BM_DecodeOne)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);
BENCHMARK(BM_PageDown)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->Repetitions(3);

class TRatioReporter : public benchmark::ConsoleReporter {
public:
  std::map<std::string, double> Medians;    // wall time
  std::map<std::string, double> CpuMedians; // CPU time of the benchmark's thread
  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const auto& R : Runs)
      if (R.aggregate_name == "median") {
        Medians[R.run_name.function_name + "/" + R.run_name.args] = R.GetAdjustedRealTime();
        CpuMedians[R.run_name.function_name + "/" + R.run_name.args] = R.GetAdjustedCPUTime();
      }
  }
};

} // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TImbrelApplication App(argc, argv);
  RegisterImageFormats();
  benchmark::Initialize(&argc, argv);

  Folder = (fs::temp_directory_path() / "imbrel-next-bench").string() + "/";
  fs::create_directories(Folder);
  for (int i = 0; i < PictureCount; ++i) {
    const std::string Path = Folder + "photo" + std::to_string(i) + ".jpg";
    if (!fs::exists(Path)) {
      std::cerr << "making " << Path << "\n";
      MakePicture(Path, static_cast<unsigned>(i + 1));
    }
  }

  TfrmMain::OnComponentsCreated = [](TfrmMain& F) {
    F.brfldMain->OnDialogShown = [](TBrowseFolderDialog& D) { D.reject(); };
  };
  TfrmMain Window({"TobbinsImbrel", "-Dir:" + Folder});
  Window.show();
  Window.activateWindow();
  Form = &Window;

  TRatioReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  const double Decode = Reporter.Medians["BM_DecodeOne/"];
  if (Decode > 0) {
    for (const auto& [Name, Label] :
         {std::pair<std::string, const char*>{"BM_PageDown/1", "decoding ahead"},
          {"BM_PageDown/0", "decoding on each step"}})
      if (Reporter.Medians.count(Name))
        std::cout << "Page Down / one decode (medians), " << Label << ": wall "
                  << Reporter.Medians[Name] / Decode << ", CPU "
                  << Reporter.CpuMedians[Name] / Reporter.CpuMedians["BM_DecodeOne/"] << "\n";
  }
  Form = nullptr;
  benchmark::Shutdown();
  return 0;
}

// The view's cost on a 24-megapixel photo (6000 x 4000 JPEG, quality 90) in a
// view with a 1920 x 1080 client area:
//  - LoadFromFile fitted (zmFullPage) against decoding the same file alone;
//  - a zoom mode switch on the loaded picture (a full re-layout);
//  - peak memory of one picture shown fitted against its decoded size.
// The program prints the medians side by side and their ratios.

#include "imaging/DibGraphic.h"
#include "formats/Formats.h"
#include "imaging/GraphicRegistry.h"
#include "view/ImageScrollBox.h"
#include "platform/Stream.h"

#include <QApplication>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <jpeglib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int PhotoWidth = 6000;
constexpr int PhotoHeight = 4000;
constexpr int ClientWidth = 1920;
constexpr int ClientHeight = 1080;

std::string PhotoFile;

// A photo-like picture: colour gradients, fine texture and noise, so that the
// JPEG is about the size (some 10 MB) a camera would write at this quality.
void WritePhoto(const std::string& FileName) {
  FILE* Out = std::fopen(FileName.c_str(), "wb");
  if (!Out) throw std::runtime_error("cannot write " + FileName);
  jpeg_compress_struct C;
  jpeg_error_mgr Err;
  C.err = jpeg_std_error(&Err);
  jpeg_create_compress(&C);
  jpeg_stdio_dest(&C, Out);
  C.image_width = PhotoWidth;
  C.image_height = PhotoHeight;
  C.input_components = 3;
  C.in_color_space = JCS_RGB;
  jpeg_set_defaults(&C);
  jpeg_set_quality(&C, 90, TRUE);
  jpeg_start_compress(&C, TRUE);
  std::vector<uint8_t> Row(PhotoWidth * 3);
  std::mt19937 Random(7);
  std::uniform_int_distribution<int> Noise(-20, 20);
  while (C.next_scanline < C.image_height) {
    const int Y = static_cast<int>(C.next_scanline);
    for (int X = 0; X < PhotoWidth; ++X) {
      const double U = X / 6000.0, V = Y / 4000.0;
      const int Texture = static_cast<int>(18 * std::sin(X * 0.71) * std::cos(Y * 0.53));
      const int R =
          static_cast<int>(128 + 100 * std::sin(6.0 * U + 2.0 * V)) + Texture + Noise(Random);
      const int G =
          static_cast<int>(128 + 90 * std::cos(4.0 * V - 3.0 * U)) - Texture + Noise(Random);
      const int B = static_cast<int>(128 + 80 * std::sin(9.0 * U * V + 1.0)) + Noise(Random);
      Row[X * 3] = static_cast<uint8_t>(std::clamp(R, 0, 255));
      Row[X * 3 + 1] = static_cast<uint8_t>(std::clamp(G, 0, 255));
      Row[X * 3 + 2] = static_cast<uint8_t>(std::clamp(B, 0, 255));
    }
    JSAMPROW Rows[1] = {Row.data()};
    jpeg_write_scanlines(&C, Rows, 1);
  }
  jpeg_finish_compress(&C);
  jpeg_destroy_compress(&C);
  std::fclose(Out);
}

// A hidden window holding a view whose client area is 1920 x 1080.
struct TViewHost {
  QWidget Window;
  TImageScrollBox* View;
  TViewHost() : View(new TImageScrollBox(&Window)) {
    View->resize(ClientWidth, ClientHeight);
    View->SetZoomMode(zmFullPage);
  }
};

void BM_DecodeAlone(benchmark::State& State) {
  for (auto _ : State) {
    TFileStream Stream(PhotoFile, TFileMode::fmOpenRead);
    std::unique_ptr<TDibGraphic> Graphic = CreateGraphicFromStream(Stream, PhotoFile, 1);
    benchmark::DoNotOptimize(Graphic->Bits());
  }
}
BENCHMARK(BM_DecodeAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_LoadFromFileFitted(benchmark::State& State) {
  TViewHost Host;
  for (auto _ : State) {
    Host.View->LoadFromFile(PhotoFile, 1);
    benchmark::DoNotOptimize(Host.View->DisplayGraphic().Bits());
  }
  State.counters["display_w"] = Host.View->DisplayGraphic().Width();
  State.counters["display_h"] = Host.View->DisplayGraphic().Height();
}
BENCHMARK(BM_LoadFromFileFitted)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// One full re-layout per iteration, alternating between two fitting modes so
// that every iteration builds a new display copy.
void BM_ZoomModeSwitch(benchmark::State& State) {
  TViewHost Host;
  Host.View->LoadFromFile(PhotoFile, 1);
  bool Wide = false;
  for (auto _ : State) {
    Wide = !Wide;
    Host.View->SetZoomMode(Wide ? zmFitWidth : zmFullPage);
    benchmark::DoNotOptimize(Host.View->DisplayGraphic().Bits());
  }
}
BENCHMARK(BM_ZoomModeSwitch)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

// The layout alone that LoadFromFile adds to the decode: the fitted copy of
// the loaded picture rebuilt (the same mode again is a full re-layout).
void BM_FittedLayout(benchmark::State& State) {
  TViewHost Host;
  Host.View->LoadFromFile(PhotoFile, 1);
  for (auto _ : State) {
    Host.View->SetZoomMode(zmFullPage);
    benchmark::DoNotOptimize(Host.View->DisplayGraphic().Bits());
  }
}
BENCHMARK(BM_FittedLayout)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

// Switching to 100 %: the display copy is a plain copy of the whole picture.
void BM_ZoomTo100(benchmark::State& State) {
  TViewHost Host;
  Host.View->LoadFromFile(PhotoFile, 1);
  bool Full = false;
  for (auto _ : State) {
    Full = !Full;
    Host.View->SetZoomMode(Full ? zmOriginalSize : zmFullPage);
    benchmark::DoNotOptimize(Host.View->DisplayGraphic().Bits());
  }
}
BENCHMARK(BM_ZoomTo100)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

// One repaint of the view showing the picture at 100 %: only the visible
// 1920 x 1080 part may be converted and copied.
void BM_PaintOriginalSize(benchmark::State& State) {
  TViewHost Host;
  Host.View->SetZoomMode(zmOriginalSize);
  Host.View->LoadFromFile(PhotoFile, 1);
  Host.Window.resize(ClientWidth, ClientHeight);
  Host.Window.show();
  QApplication::processEvents();
  int Step = 0;
  for (auto _ : State) {
    Host.View->HorzScrollBar().SetPosition((++Step % 2) * 300); // a drag step
    Host.View->repaint();
  }
}
BENCHMARK(BM_PaintOriginalSize)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// Collects the median of every benchmark while printing as usual.
class TMedianReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& Reports) override {
    for (const Run& R : Reports)
      if (R.run_type == Run::RT_Aggregate && R.aggregate_name == "median") {
        Medians[R.run_name.function_name] = R.GetAdjustedRealTime();
        CpuMedians[R.run_name.function_name] = R.GetAdjustedCPUTime();
      }
    ConsoleReporter::ReportRuns(Reports);
  }
  std::map<std::string, double> Medians;    // wall time
  std::map<std::string, double> CpuMedians; // CPU time of all threads
};

long StatusKiB(const char* Field) {
  std::ifstream In("/proc/self/status");
  std::string Line;
  const std::string Key = std::string(Field) + ":";
  while (std::getline(In, Line))
    if (Line.rfind(Key, 0) == 0) return std::strtol(Line.c_str() + Key.size(), nullptr, 10);
  return -1;
}

// Peak resident memory added by loading the photo into a fitted view.
void MeasureMemory() {
  TViewHost Host;
  TPixelBuffer::TrimCache();
  const long Before = StatusKiB("VmRSS");
  std::ofstream("/proc/self/clear_refs") << "5"; // restart the peak count here
  Host.View->LoadFromFile(PhotoFile, 1);
  const long Peak = StatusKiB("VmHWM");
  const double Decoded = double(PhotoWidth) * PhotoHeight * 3 / 1024.0;
  const TDibGraphic& D = Host.View->DisplayGraphic();
  const double Display = double(D.BytesPerRow()) * D.Height() / 1024.0;
  const double Added = double(Peak - Before);
  std::printf(
      "memory: peak added %.1f MiB; decoded picture %.1f MiB; display copy %.1f MiB (%dx%d)\n",
      Added / 1024, Decoded / 1024, Display / 1024, D.Width(), D.Height());
  std::printf("memory: peak / (decoded + display) = %.3f; allowed 1.3 x decoded + display = %.1f "
              "MiB -> %s\n",
              Added / (Decoded + Display), (1.3 * Decoded + Display) / 1024,
              Added <= 1.3 * Decoded + Display ? "within" : "OVER");
}

} // namespace

int main(int Argc, char** Argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication App(Argc, Argv);
  RegisterImageFormats();
  if (!GraphicClassForFile("photo.jpg")) {
    std::printf("No JPEG format class is registered; nothing to measure.\n");
    return 0;
  }
  const std::filesystem::path Dir = std::filesystem::temp_directory_path() / "imbrel-view-bench";
  std::filesystem::create_directories(Dir);
  PhotoFile = (Dir / "photo-6000x4000-q90-textured.jpg").string();
  if (!std::filesystem::exists(PhotoFile)) WritePhoto(PhotoFile);
  std::printf("photo: %s, %.1f MiB\n", PhotoFile.c_str(),
              std::filesystem::file_size(PhotoFile) / 1048576.0);

  MeasureMemory();

  // Repetitions by default: the machine is shared, medians count.
  std::vector<char*> Args(Argv, Argv + Argc);
  std::string Reps = "--benchmark_repetitions=9";
  std::string Only = "--benchmark_report_aggregates_only=true";
  bool HasReps = false;
  for (int I = 1; I < Argc; ++I)
    if (std::string(Argv[I]).rfind("--benchmark_repetitions", 0) == 0) HasReps = true;
  if (!HasReps) {
    Args.push_back(Reps.data());
    Args.push_back(Only.data());
  }
  int N = static_cast<int>(Args.size());
  benchmark::Initialize(&N, Args.data());
  TMedianReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  benchmark::Shutdown();

  const auto& M = Reporter.Medians;
  const auto& C = Reporter.CpuMedians;
  auto Has = [&](const char* Name) { return M.count(Name) != 0; };
  if (Has("BM_DecodeAlone") && Has("BM_LoadFromFileFitted")) {
    const double Decode = M.at("BM_DecodeAlone"), Load = M.at("BM_LoadFromFileFitted");
    const double DecodeCpu = C.at("BM_DecodeAlone"), LoadCpu = C.at("BM_LoadFromFileFitted");
    std::printf("\nLoadFromFile fitted vs decode alone: wall %.1f / %.1f ms = %.3f; "
                "CPU %.1f / %.1f ms = %.3f (allowed 1.15)\n",
                Load, Decode, Load / Decode, LoadCpu, DecodeCpu, LoadCpu / DecodeCpu);
    if (Has("BM_FittedLayout")) {
      const double Layout = M.at("BM_FittedLayout"), LayoutCpu = C.at("BM_FittedLayout");
      std::printf("fitted layout alone vs decode alone: wall %.1f / %.1f ms = %.1f %%; "
                  "CPU %.1f / %.1f ms = %.1f %% (allowed 15 %%)\n",
                  Layout, Decode, 100 * Layout / Decode, LayoutCpu, DecodeCpu,
                  100 * LayoutCpu / DecodeCpu);
    }
  }
  if (Has("BM_ZoomModeSwitch"))
    std::printf("zoom mode switch (full re-layout): median %.1f ms wall, %.1f ms CPU\n",
                M.at("BM_ZoomModeSwitch"), C.at("BM_ZoomModeSwitch"));
  if (Has("BM_PaintOriginalSize"))
    std::printf("scroll and repaint at 100 %%: median %.1f ms wall, %.1f ms CPU\n",
                M.at("BM_PaintOriginalSize"), C.at("BM_PaintOriginalSize"));
  if (Has("BM_ZoomTo100"))
    std::printf("zoom switch between 100 %% and fitted: median %.1f ms wall, %.1f ms CPU\n",
                M.at("BM_ZoomTo100"), C.at("BM_ZoomTo100"));
  return 0;
}

// Image model benchmarks, each side by side with its comparison in one run:
//  - fitting a 6000 x 4000 photo-like picture into 1920 x 1080 with our
//    stretch (COLORONCOLOR, HALFTONE) against QImage::scaled (fast, smooth);
//  - Assign of the 72 MB picture against memcpy of the same bytes;
//  - the anti-alias transform (MB/s of 1-bit input);
//  - NearestIndex of photo colours against the 256-colour palette.
// Run with --benchmark_repetitions=3: the ratios printed at the end use the
// medians.

#include "imaging/DibGraphic.h"
#include "imaging/PaletteConverter.h"
#include "imaging/Transforms.h"

#include <QGuiApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <tuple>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kW = 6000, kH = 4000;
constexpr int kFitW = 1620, kFitH = 1080; // 6000 x 4000 fitted into 1920 x 1080

uint32_t gSeed = 12345;
inline uint32_t NextRandom() {
  gSeed ^= gSeed << 13;
  gSeed ^= gSeed >> 17;
  gSeed ^= gSeed << 5;
  return gSeed;
}

// A photo-like picture: smooth colour fields and shapes plus per-pixel noise.
struct TPhoto {
  TDibGraphic Dib;
  QImage Rgb32;
  TPhoto() {
    Dib.NewImage(kW, kH, ifTrueColor, nullptr, 300, 300);
    Rgb32 = QImage(kW, kH, QImage::Format_RGB32);
    // Separable tables keep the generation quick: sin(a + b) = sin a cos b + cos a sin b.
    std::vector<double> sa(kW), ca(kW), sb(kH), cb(kH);
    for (int x = 0; x < kW; ++x) {
      sa[size_t(x)] = std::sin(x * 9.0 / kW);
      ca[size_t(x)] = std::cos(x * 9.0 / kW);
    }
    for (int y = 0; y < kH; ++y) {
      const double b = std::cos(y * 7.0 / kH) * 2.0;
      sb[size_t(y)] = std::sin(b);
      cb[size_t(y)] = std::cos(b);
    }
    for (int y = 0; y < kH; ++y) {
      uint8_t* d = Dib.ScanLine(y);
      QRgb* q = reinterpret_cast<QRgb*>(Rgb32.scanLine(y));
      const double fy = y / double(kH);
      for (int x = 0; x < kW; ++x) {
        const double fx = x / double(kW);
        const double base =
            0.5 + 0.5 * (sa[size_t(x)] * cb[size_t(y)] + ca[size_t(x)] * sb[size_t(y)]);
        const double dist =
            std::sqrt((x - 3000.0) * (x - 3000.0) + (y - 1800.0) * (y - 1800.0)) / 150.0;
        const double ring = dist - std::floor(dist);
        const int n = int(NextRandom() % 41) - 20;
        const int r = std::clamp(int(200 * base + 40 * ring) + n, 0, 255);
        const int g = std::clamp(int(160 * fy + 60 * ring) + n, 0, 255);
        const int b = std::clamp(int(120 * (1 - base) + 100 * fx) + n, 0, 255);
        d[3 * x] = uint8_t(b);
        d[3 * x + 1] = uint8_t(g);
        d[3 * x + 2] = uint8_t(r);
        q[x] = qRgb(r, g, b);
      }
    }
  }
};

TPhoto& Photo() {
  static TPhoto photo;
  return photo;
}

void StretchInto(TDibGraphic& Dest, TStretchMode Mode) {
  TDibGraphic& src = Photo().Dib;
  Dest.NewImage(kFitW, kFitH, ifTrueColor, nullptr, 300, 300);
  TCanvas* c = Dest.Canvas();
  c->SetStretchBltMode(Mode);
  StretchDIBits(*c, Rect(0, 0, kFitW, kFitH), Rect(0, 0, kW, kH), src.DibView());
}

void BM_StretchColorOnColor(benchmark::State& state) {
  Photo();
  TDibGraphic dest;
  for (auto _ : state) {
    StretchInto(dest, COLORONCOLOR);
    benchmark::DoNotOptimize(dest.Bits());
  }
}
BENCHMARK(BM_StretchColorOnColor)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_QtScaledFast(benchmark::State& state) {
  const QImage& src = Photo().Rgb32;
  for (auto _ : state) {
    QImage out = src.scaled(kFitW, kFitH, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    benchmark::DoNotOptimize(out.constBits());
  }
}
BENCHMARK(BM_QtScaledFast)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_StretchHalftone(benchmark::State& state) {
  Photo();
  TDibGraphic dest;
  for (auto _ : state) {
    StretchInto(dest, HALFTONE);
    benchmark::DoNotOptimize(dest.Bits());
  }
}
BENCHMARK(BM_StretchHalftone)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_QtScaledSmooth(benchmark::State& state) {
  const QImage& src = Photo().Rgb32;
  for (auto _ : state) {
    QImage out = src.scaled(kFitW, kFitH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    benchmark::DoNotOptimize(out.constBits());
  }
}
BENCHMARK(BM_QtScaledSmooth)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

// The same comparisons, interleaved: every iteration runs ours, then Qt's,
// each timed on its own, so that the load of a shared machine falls on both
// alike. Counters: the median of the per-iteration ratios, and both medians.
template <class Ours, class Theirs>
void Paired(benchmark::State& State, Ours&& RunOurs, Theirs&& RunTheirs) {
  std::vector<double> ratios, ours, theirs;
  for (auto _ : State) {
    const auto t0 = std::chrono::steady_clock::now();
    RunOurs();
    const auto t1 = std::chrono::steady_clock::now();
    RunTheirs();
    const auto t2 = std::chrono::steady_clock::now();
    const double a = std::chrono::duration<double, std::milli>(t1 - t0).count();
    const double b = std::chrono::duration<double, std::milli>(t2 - t1).count();
    ours.push_back(a);
    theirs.push_back(b);
    ratios.push_back(a / b);
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  State.counters["ratio"] = median(ratios);
  State.counters["ours_ms"] = median(ours);
  State.counters["qt_ms"] = median(theirs);
}

void BM_PairedColorOnColor(benchmark::State& state) {
  Photo();
  TDibGraphic dest;
  const QImage& src = Photo().Rgb32;
  Paired(
      state, [&] { StretchInto(dest, COLORONCOLOR); },
      [&] {
        QImage out = src.scaled(kFitW, kFitH, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        benchmark::DoNotOptimize(out.constBits());
      });
}
BENCHMARK(BM_PairedColorOnColor)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(2.0);

void BM_PairedHalftone(benchmark::State& state) {
  Photo();
  TDibGraphic dest;
  const QImage& src = Photo().Rgb32;
  Paired(
      state, [&] { StretchInto(dest, HALFTONE); },
      [&] {
        QImage out = src.scaled(kFitW, kFitH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(out.constBits());
      });
}
BENCHMARK(BM_PairedHalftone)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(2.0);

void BM_PairedAssign(benchmark::State& state) {
  TDibGraphic& src = Photo().Dib;
  TDibGraphic dest;
  const size_t size = size_t(src.BytesPerRow()) * kH;
  std::vector<uint8_t> copy(size, 1);
  Paired(
      state,
      [&] {
        dest.Assign(&src);
        benchmark::DoNotOptimize(dest.Bits());
      },
      [&] {
        std::memcpy(copy.data(), src.Bits(), size);
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
      });
}
BENCHMARK(BM_PairedAssign)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(2.0);

// The view's path: the resize transform with default settings.
void BM_ResizeTransformFit(benchmark::State& state) {
  TDibGraphic& src = Photo().Dib;
  TDibGraphic dest;
  TResizeTransform t;
  t.Width = kFitW;
  t.Height = kFitH;
  for (auto _ : state) {
    t.ApplyOnDest(src, dest);
    benchmark::DoNotOptimize(dest.Bits());
  }
}
BENCHMARK(BM_ResizeTransformFit)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_Assign(benchmark::State& state) {
  TDibGraphic& src = Photo().Dib;
  TDibGraphic dest;
  for (auto _ : state) {
    dest.Assign(&src);
    benchmark::DoNotOptimize(dest.Bits());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * src.BytesPerRow() * kH);
}
BENCHMARK(BM_Assign)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_Memcpy(benchmark::State& state) {
  TDibGraphic& src = Photo().Dib;
  const size_t size = size_t(src.BytesPerRow()) * kH;
  std::vector<uint8_t> dest(size, 1);
  for (auto _ : state) {
    std::memcpy(dest.data(), src.Bits(), size);
    benchmark::DoNotOptimize(dest.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_AntiAlias(benchmark::State& state) {
  // A 1-bit page of 6000 x 4000 with text-like noise.
  static TDibGraphic page;
  if (page.Empty()) {
    page.NewImage(kW, kH, ifBlackWhite, nullptr, 300, 300);
    for (int y = 0; y < kH; ++y) {
      uint8_t* r = page.ScanLine(y);
      for (int i = 0; i < page.BytesPerRow(); ++i)
        r[i] = uint8_t(NextRandom() & (((y / 16) % 3) ? 0xFF : 0x00));
    }
  }
  TDibGraphic dest;
  TAntiAliasTransform t;
  for (auto _ : state) {
    t.ApplyOnDest(page, dest);
    benchmark::DoNotOptimize(dest.Bits());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * page.BytesPerRow() * kH);
}
BENCHMARK(BM_AntiAlias)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

void BM_NearestIndex(benchmark::State& state) {
  // 1,000,000 photo pixels (a 1000-pixel-wide strip of 1000 rows) per round.
  TDibGraphic& src = Photo().Dib;
  std::vector<uint32_t> colours;
  colours.reserve(1000000);
  for (int y = 1000; y < 2000; ++y)
    for (int x = 2000; x < 3000; ++x)
      colours.push_back(src.GetPixelColor(x, y));
  TRgbToPaletteConverter conv(DefaultPalette(ifColor256));
  for (auto _ : state) {
    int sum = 0;
    for (uint32_t c : colours)
      sum += conv.NearestIndex(c);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(colours.size()));
  state.counters["misses_per_px"] =
      double(conv.SearchCount()) / double(int64_t(state.iterations()) * int64_t(colours.size()));
}
BENCHMARK(BM_NearestIndex)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

// Keeps the median real time (ms) and rates of every benchmark.
class TCollector : public benchmark::ConsoleReporter {
public:
  struct TFigure {
    double Ms = 0;
    double CpuMs = 0; // all threads of the process
    double BytesPerSecond = 0;
    double ItemsPerSecond = 0;
    double Ratio = 0, OursMs = 0, QtMs = 0; // paired benchmarks
  };
  std::map<std::string, TFigure> Median, Single;

  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run& r : Runs) {
      TFigure f;
      f.Ms = r.GetAdjustedRealTime();
      f.CpuMs = r.GetAdjustedCPUTime();
      if (auto it = r.counters.find("bytes_per_second"); it != r.counters.end())
        f.BytesPerSecond = it->second;
      if (auto it = r.counters.find("items_per_second"); it != r.counters.end())
        f.ItemsPerSecond = it->second;
      if (auto it = r.counters.find("ratio"); it != r.counters.end()) f.Ratio = it->second;
      if (auto it = r.counters.find("ours_ms"); it != r.counters.end()) f.OursMs = it->second;
      if (auto it = r.counters.find("qt_ms"); it != r.counters.end()) f.QtMs = it->second;
      const std::string name = r.run_name.function_name;
      if (r.run_type == Run::RT_Aggregate) {
        if (r.aggregate_name == "median") Median[name] = f;
      } else {
        Single[name] = f;
      }
    }
  }
  TFigure Get(const std::string& Name) const {
    if (auto it = Median.find(Name); it != Median.end()) return it->second;
    if (auto it = Single.find(Name); it != Single.end()) return it->second;
    return TFigure{};
  }
};

} // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qargc = 1;
  char* qargv[] = {argv[0], nullptr};
  QGuiApplication app(qargc, qargv);
  benchmark::Initialize(&argc, argv);
  TCollector reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  auto ratio = [&](const char* A, const char* B) {
    const double a = reporter.Get(A).Ms, b = reporter.Get(B).Ms;
    return b > 0 ? a / b : 0.0;
  };
  auto cpuRatio = [&](const char* A, const char* B) {
    const double a = reporter.Get(A).CpuMs, b = reporter.Get(B).CpuMs;
    return b > 0 ? a / b : 0.0;
  };
  std::printf("\nMedians, ms wall (ms CPU of all threads):\n");
  for (const char* n :
       {"BM_StretchColorOnColor", "BM_QtScaledFast", "BM_StretchHalftone", "BM_QtScaledSmooth",
        "BM_ResizeTransformFit", "BM_Assign", "BM_Memcpy", "BM_AntiAlias", "BM_NearestIndex"})
    std::printf("  %-22s %8.2f (%8.2f)\n", n + 3, reporter.Get(n).Ms, reporter.Get(n).CpuMs);
  std::printf("Ratios, wall time (CPU time):\n");
  std::printf("  COLORONCOLOR / Qt FastTransformation:   %.2fx (%.2fx)  required <= 1.0\n",
              ratio("BM_StretchColorOnColor", "BM_QtScaledFast"),
              cpuRatio("BM_StretchColorOnColor", "BM_QtScaledFast"));
  std::printf("  HALFTONE / Qt SmoothTransformation:     %.2fx (%.2fx)  required <= 1.0\n",
              ratio("BM_StretchHalftone", "BM_QtScaledSmooth"),
              cpuRatio("BM_StretchHalftone", "BM_QtScaledSmooth"));
  std::printf("  Assign 72 MB / memcpy:                  %.2fx (%.2fx)  required <= 1.5\n",
              ratio("BM_Assign", "BM_Memcpy"), cpuRatio("BM_Assign", "BM_Memcpy"));
  std::printf("Interleaved pairs (median of per-iteration ratios; median ms ours / theirs):\n");
  for (const auto& [name, what, limit] :
       {std::tuple<const char*, const char*, const char*>{"BM_PairedColorOnColor",
                                                          "COLORONCOLOR / Qt Fast", "1.0"},
        {"BM_PairedHalftone", "HALFTONE / Qt Smooth", "1.0"},
        {"BM_PairedAssign", "Assign / memcpy", "1.5"}}) {
    const auto f = reporter.Get(name);
    std::printf("  %-40s %.2fx  (%.2f / %.2f ms)  required <= %s\n", what, f.Ratio, f.OursMs,
                f.QtMs, limit);
  }
  // Rates by wall time, and by the CPU time of the process (steadier on a busy machine).
  const auto aa = reporter.Get("BM_AntiAlias"), ni = reporter.Get("BM_NearestIndex");
  const double aaBytes = double((kW + 31) / 32 * 4) * kH; // the 1-bit page, row padding included
  std::printf(
      "  Anti-alias transform:                   %.0f MB/s wall (%.0f MB/s CPU) of 1-bit input\n",
      aa.BytesPerSecond / 1e6, aa.CpuMs > 0 ? aaBytes / (aa.CpuMs / 1e3) / 1e6 : 0.0);
  std::printf("  NearestIndex, photo vs 256 colours:     %.1f million pixels/s wall (%.1f CPU)\n",
              ni.ItemsPerSecond / 1e6, ni.CpuMs > 0 ? 1.0 / (ni.CpuMs / 1e3) : 0.0);
  benchmark::Shutdown();
  return 0;
}

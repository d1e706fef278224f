// Loading and rendering icons and metafiles: a 256 x 256 32-bit icon, and
// generated metafiles of 10,000 and 100,000 records played at their size,
// side by side; the ratio of the two record counts' times is printed (10
// means linear).

#include "formats/IconGraphic.h"
#include "tests/formats/iconmeta/MetaBuilder.h"
#include "formats/MetaFileGraphic.h"

#include <QGuiApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>

using namespace testmeta;

namespace {

std::vector<uint8_t> Icon256(bool Png) {
  TIconImage img;
  img.Width = img.Height = 256;
  img.BitCount = 32;
  img.Pixel = [](int x, int y) {
    return uint32_t(((x + y) & 0xFF) << 24 | x << 16 | y << 8 | 0x40);
  };
  if (Png) {
    QImage q(256, 256, QImage::Format_ARGB32);
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x)
        q.setPixel(x, y, img.Pixel(x, y));
    img.Png = PngBytes(q);
  }
  return IconFile({img});
}

// Groups of ten records: brush and pen selection, a rectangle, a line, a
// polygon, an ellipse, text colour, a short text, and a saved and restored
// state. Coordinates wander over an 800 x 600 picture.
std::vector<uint8_t> Emf(int Records) {
  TEmfBuilder b;
  b.Rec(EMR_CREATEBRUSHINDIRECT, {1, 0, int32_t(Rgb(200, 40, 40)), 0});
  b.Rec(EMR_CREATEPEN, {2, 0, 1, 0, int32_t(Rgb(0, 0, 120))});
  b.Raw(EMR_EXTCREATEFONTINDIRECTW, EmfFont(3, -12, u"DejaVu Sans"));
  b.Rec(EMR_SELECTOBJECT, {3});
  for (int i = 0; b.Count() < uint32_t(Records); ++i) {
    const int x = (i * 37) % 760, y = (i * 53) % 560;
    b.Rec(EMR_SELECTOBJECT, {1});
    b.Rec(EMR_SELECTOBJECT, {2});
    b.Rec(EMR_RECTANGLE, {x, y, x + 30, y + 20});
    b.Rec(EMR_MOVETOEX, {x, y + 30});
    b.Rec(EMR_LINETO, {x + 40, y + 5});
    b.Rec(EMR_POLYGON16,
          {x, y, x + 20, y + 20, 3, x | (y << 16), (x + 20) | (y << 16), x | ((y + 20) << 16)});
    b.Rec(EMR_ELLIPSE, {x + 5, y + 5, x + 25, y + 25});
    b.Rec(EMR_SETTEXTCOLOR, {int32_t(Rgb(i & 0xFF, 0, 0))});
    b.Raw(EMR_EXTTEXTOUTW, EmfText(x, y, u"ab"));
    b.Rec(EMR_SAVEDC, {});
    b.Rec(EMR_RESTOREDC, {-1});
  }
  return b.Finish(800, 600);
}

std::vector<uint8_t> Wmf(int Records) {
  TWmfBuilder b;
  b.Rec(META_CREATEBRUSHINDIRECT, {0, 0x28C8, 0x0028, 0});
  b.Rec(META_CREATEPENINDIRECT, {0, 1, 0, 0, 0x78});
  int count = 2;
  for (int i = 0; count < Records; ++i, count += 8) {
    const int x = (i * 37) % 760, y = (i * 53) % 560;
    b.Rec(META_SELECTOBJECT, {0});
    b.Rec(META_SELECTOBJECT, {1});
    b.Rec(META_RECTANGLE, {y + 20, x + 30, y, x});
    b.Rec(META_MOVETO, {y + 30, x});
    b.Rec(META_LINETO, {y + 5, x + 40});
    b.Rec(META_POLYGON, {3, x, y, x + 20, y, x, y + 20});
    b.Rec(META_SAVEDC, {});
    b.Rec(META_RESTOREDC, {-1});
  }
  return b.Finish(true, 0, 0, 800, 600, 96);
}

void LoadIcon(benchmark::State& State, bool Png) {
  const std::vector<uint8_t> bytes = Icon256(Png);
  for (auto _ : State) {
    TIconGraphic g;
    TBytesStream s(bytes.data(), int64_t(bytes.size()));
    g.LoadFromStream(s);
    benchmark::DoNotOptimize(g.Bits());
  }
}
void BM_Icon256Bmp32(benchmark::State& State) {
  LoadIcon(State, false);
}
void BM_Icon256Png(benchmark::State& State) {
  LoadIcon(State, true);
}

void PlayMeta(benchmark::State& State, const std::vector<uint8_t>& Bytes) {
  for (auto _ : State) {
    TMetaFileGraphic g;
    TBytesStream s(Bytes.data(), int64_t(Bytes.size()));
    g.LoadFromStream(s);
    benchmark::DoNotOptimize(g.Bits());
  }
  State.counters["records"] = double(State.range(0));
}
void BM_EmfRecords(benchmark::State& State) {
  static std::map<int64_t, std::vector<uint8_t>> files;
  auto& bytes = files[State.range(0)];
  if (bytes.empty()) bytes = Emf(int(State.range(0)));
  PlayMeta(State, bytes);
}
void BM_WmfRecords(benchmark::State& State) {
  static std::map<int64_t, std::vector<uint8_t>> files;
  auto& bytes = files[State.range(0)];
  if (bytes.empty()) bytes = Wmf(int(State.range(0)));
  PlayMeta(State, bytes);
}

BENCHMARK(BM_Icon256Bmp32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Icon256Png)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EmfRecords)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WmfRecords)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration so the ratios can be printed at the end.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    for (const Run& r : Runs)
      if (r.run_type == Run::RT_Iteration) Times[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(Runs);
  }
  std::map<std::string, double> Times;
};

} // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* kind : {"BM_EmfRecords", "BM_WmfRecords"}) {
    const auto small = reporter.Times.find(std::string(kind) + "/10000");
    const auto large = reporter.Times.find(std::string(kind) + "/100000");
    if (small != reporter.Times.end() && large != reporter.Times.end() && small->second > 0)
      std::printf("%s: 100000 records / 10000 records time ratio %.2f (linear: 10)\n", kind,
                  large->second / small->second);
  }
  benchmark::Shutdown();
  return 0;
}

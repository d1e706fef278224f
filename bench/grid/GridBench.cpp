// The picture list grid over a table of 1,000,000 records: a full repaint of a
// 1080-pixel-high grid, a Page Down and a thumb drag to the middle, each beside
// the same work without the grid's share (a plain widget's repaint, the table's
// move with a plain link of the same buffer count); and the grid's heap use at
// 10,000 and 1,000,000 records.
//
// Run: grid_bench (QT_QPA_PLATFORM=offscreen is set when unset).

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "grid/DbAltGrid.h"
#include "table/MemTable.h"

namespace {

constexpr int BigCount = 1000000;
constexpr int SmallCount = 10000;
constexpr int GridWidth = 900;
constexpr int GridHeight = 1080;

QApplication* TheApp = nullptr;

// Tables are built once per program: posting a million records takes seconds.
TmtbMemTable& Table(int count) {
  static std::map<int, std::unique_ptr<TmtbMemTable>> tables;
  auto& slot = tables[count];
  if (!slot) {
    slot = CreatePictureTable();
    slot->Open();
    slot->DisableControls();
    char name[32];
    for (int i = 0; i < count; ++i) {
      std::snprintf(name, sizeof name, "IMG_%07d.jpg", i);
      slot->Insert();
      slot->FieldByName("Name").SetAsString(name);
      slot->FieldByName("Location").SetAsString("/home/user/Pictures/2023 summer/");
      slot->FieldByName("Date").SetAsDateTime(
          EncodeDateTime(2023, 1 + i % 12, 1 + i % 28, i % 24, i % 60, 0));
      slot->FieldByName("Type").SetAsString("jpg");
      slot->Post();
    }
    slot->EnableControls();
    slot->First();
  }
  return *slot;
}

struct TGridSetup {
  explicit TGridSetup(TmtbMemTable& table) {
    source.SetDataSet(&table);
    for (const char* field : {"Name", "Location", "Date", "Type"})
      grid.Columns().Add().SetFieldName(QString::fromLatin1(field));
    grid.Columns()[0].SetSortMarker(1);
    grid.SetDataSource(&source);
    grid.resize(GridWidth, GridHeight);
    grid.show();
    grid.setFocus();
    QApplication::processEvents();
  }
  TDataSource source;
  TDbAltGrid grid;
};

// The same table work as a grid's, seen through a do-nothing view.
class TPlainLink : public TDataLink {};

struct TPlainSetup {
  TPlainSetup(TmtbMemTable& table, int buffers) {
    source.SetDataSet(&table);
    link.SetDataSource(&source);
    link.SetBufferCount(buffers);
  }
  ~TPlainSetup() { link.SetDataSource(nullptr); }
  TDataSource source;
  TPlainLink link;
};

// A widget of the same size that only fills itself: the framework's share of a repaint.
class TPlainWidget : public QWidget {
protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
  }
};

int PageRows() {
  static int rows = [] {
    TGridSetup setup(Table(SmallCount));
    return setup.grid.VisibleRowCount();
  }();
  return rows;
}

void BM_Repaint_Grid(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  TGridSetup setup(Table(count));
  setup.grid.VertScroll(TCustomDbAltGrid::TScrollCode::ThumbPosition, count / 3);
  for (auto _ : state)
    setup.grid.repaint();
  state.counters["rows"] = setup.grid.RowCount();
  state.counters["height"] = setup.grid.height();
}

void BM_Repaint_PlainWidget(benchmark::State& state) {
  TPlainWidget widget;
  widget.resize(GridWidth, GridHeight);
  widget.show();
  QApplication::processEvents();
  for (auto _ : state)
    widget.repaint();
}

void BM_PageDown_Grid(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  TmtbMemTable& table = Table(count);
  TGridSetup setup(table);
  table.First();
  const int limit = count - 2 * setup.grid.VisibleRowCount();
  int moved = 0;
  for (auto _ : state) {
    const int before = table.RecNo();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
    QApplication::sendEvent(&setup.grid, &press);
    moved += table.RecNo() - before == setup.grid.VisibleRowCount() &&
             setup.grid.CellText(0, setup.grid.CurrentRow()) ==
                 QString::fromStdString(table.FieldByName("Name").AsString());
    if (table.RecNo() > limit) {
      state.PauseTiming();
      table.First();
      state.ResumeTiming();
    }
  }
  // Every Page Down moved a page, and the grid shows the record reached.
  if (moved != static_cast<int>(state.iterations()))
    state.SkipWithError("a Page Down did not move a page");
}

void BM_PageDownAndRepaint_Grid(benchmark::State& state) {
  TmtbMemTable& table = Table(BigCount);
  TGridSetup setup(table);
  table.First();
  const int limit = BigCount - 2 * setup.grid.VisibleRowCount();
  for (auto _ : state) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
    QApplication::sendEvent(&setup.grid, &press);
    setup.grid.repaint();
    if (table.RecNo() > limit) {
      state.PauseTiming();
      table.First();
      state.ResumeTiming();
    }
  }
}

void BM_PageDown_TableOnly(benchmark::State& state) {
  TmtbMemTable& table = Table(BigCount);
  TPlainSetup setup(table, PageRows());
  table.First();
  const int limit = BigCount - 2 * PageRows();
  for (auto _ : state) {
    table.MoveBy(PageRows());
    if (table.RecNo() > limit) {
      state.PauseTiming();
      table.First();
      state.ResumeTiming();
    }
  }
}

void BM_ThumbToMiddle_Grid(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  TmtbMemTable& table = Table(count);
  TGridSetup setup(table);
  QScrollBar* bar = setup.grid.VertScrollBar();
  for (auto _ : state) {
    state.PauseTiming();
    table.First();
    state.ResumeTiming();
    bar->setSliderDown(true);
    bar->setSliderPosition(count / 2);
    bar->setSliderDown(false);
  }
  if (table.RecNo() != count / 2) state.SkipWithError("the thumb did not reach the middle");
}

void BM_ThumbToMiddle_TableOnly(benchmark::State& state) {
  TmtbMemTable& table = Table(BigCount);
  TPlainSetup setup(table, PageRows());
  for (auto _ : state) {
    state.PauseTiming();
    table.First();
    state.ResumeTiming();
    table.SetRecNo(BigCount / 2);
  }
}

size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Heap bytes held by a shown, painted and scrolled grid over a table of n records.
void BM_GridHeap(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  TmtbMemTable& table = Table(count);
  {
    TGridSetup warm(Table(SmallCount)); // font and glyph caches are the framework's, shared
    warm.grid.repaint();
  }
  size_t used = 0;
  for (auto _ : state) {
    table.First();
    const size_t before = HeapInUse();
    {
      TGridSetup setup(table);
      setup.grid.repaint();
      for (int i = 0; i < 10; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
        QApplication::sendEvent(&setup.grid, &press);
      }
      setup.grid.VertScroll(TCustomDbAltGrid::TScrollCode::ThumbPosition, count / 2);
      setup.grid.repaint();
      used = HeapInUse() - before;
    }
  }
  state.counters["grid_heap_KiB"] = static_cast<double>(used) / 1024.0;
}

BENCHMARK(BM_Repaint_Grid)
    ->Arg(SmallCount)
    ->Arg(BigCount)
    ->MinTime(2.0) // a few hundred repaints each: the machine is shared
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Repaint_PlainWidget)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageDown_Grid)
    ->Arg(SmallCount)
    ->Arg(BigCount)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageDownAndRepaint_Grid)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageDown_TableOnly)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThumbToMiddle_Grid)
    ->Arg(SmallCount)
    ->Arg(BigCount)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThumbToMiddle_TableOnly)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridHeap)
    ->Arg(SmallCount)
    ->Arg(BigCount)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration to print the comparisons at the end.
class TCollectingReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      // Keyed without a "/min_time:..." part, so every run is found by its
      // function, argument and timing.
      std::string key = run.benchmark_name();
      if (const size_t at = key.find("/min_time:"); at != std::string::npos)
        key.erase(at, key.find('/', at + 1) - at);
      Times[key] = run.GetAdjustedRealTime();
      CpuTimes[key] = run.GetAdjustedCPUTime();
      for (const auto& [name, counter] : run.counters)
        Counters[key + " " + name] = counter.value;
    }
  }
  std::map<std::string, double> Times;
  std::map<std::string, double> CpuTimes;
  std::map<std::string, double> Counters;
};

} // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  TheApp = &app;
  benchmark::Initialize(&argc, argv);
  TCollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Wall time and CPU time (of every thread of the process): on a loaded
  // machine the CPU time is the fairer measure of the work done.
  auto line = [&](const char* what, const std::string& grid, const std::string& base) {
    for (auto* times : {&reporter.Times, &reporter.CpuTimes}) {
      auto& t = *times;
      if (!t.count(grid) || !t.count(base)) return;
      std::printf(
          "%-30s %s: grid %.3f ms, without the grid %.3f ms, grid's own %.3f ms, ratio %.2f\n",
          what, times == &reporter.Times ? "wall" : "cpu ", t[grid], t[base], t[grid] - t[base],
          t[base] > 0 ? t[grid] / t[base] : 0.0);
    }
  };
  std::printf("\n");
  const std::string big = "/" + std::to_string(BigCount) + "/process_time";
  const std::string small = "/" + std::to_string(SmallCount) + "/process_time";
  line("full repaint (1080 px high):", "BM_Repaint_Grid" + big,
       "BM_Repaint_PlainWidget/process_time");
  line("Page Down:", "BM_PageDown_Grid" + big, "BM_PageDown_TableOnly/process_time");
  line("Page Down with its repaint:", "BM_PageDownAndRepaint_Grid/process_time",
       "BM_PageDown_TableOnly/process_time");
  line("thumb drag to the middle:", "BM_ThumbToMiddle_Grid" + big,
       "BM_ThumbToMiddle_TableOnly/process_time");
  const std::string heapSmall =
      "BM_GridHeap/" + std::to_string(SmallCount) + "/iterations:1 grid_heap_KiB";
  const std::string heapBig =
      "BM_GridHeap/" + std::to_string(BigCount) + "/iterations:1 grid_heap_KiB";
  if (reporter.Counters.count(heapSmall) && reporter.Counters.count(heapBig))
    std::printf("grid heap: %.1f KiB at %d records, %.1f KiB at %d records, ratio %.3f\n",
                reporter.Counters[heapSmall], SmallCount, reporter.Counters[heapBig], BigCount,
                reporter.Counters[heapBig] / reporter.Counters[heapSmall]);
  // The same work at 1,000,000 rows as at 10,000 (CPU time of the process:
  // the machine is shared), and the thumb drag's own time.
  auto& cpu = reporter.CpuTimes;
  auto required = [](const char* figure, double measured, double limit) {
    std::printf("required: %s %.3f %.3f %s\n", figure, measured, limit,
                measured <= limit ? "ok" : "short");
  };
  std::printf("1M / 10k rows (cpu):");
  for (const char* name : {"BM_Repaint_Grid", "BM_PageDown_Grid", "BM_ThumbToMiddle_Grid"})
    if (cpu.count(name + big) && cpu[name + small] > 0)
      std::printf(" %s %.3f / %.3f ms = %.2f;", name, cpu[name + big], cpu[name + small],
                  cpu[name + big] / cpu[name + small]);
  std::printf("\n");
  if (cpu.count("BM_Repaint_Grid" + big) && cpu["BM_Repaint_Grid" + small] > 0)
    required("repaint_1M_over_10k", cpu["BM_Repaint_Grid" + big] / cpu["BM_Repaint_Grid" + small],
             1.2);
  if (cpu.count("BM_PageDown_Grid" + big) && cpu["BM_PageDown_Grid" + small] > 0)
    required("page_down_1M_over_10k",
             cpu["BM_PageDown_Grid" + big] / cpu["BM_PageDown_Grid" + small], 1.2);
  if (reporter.Times.count("BM_ThumbToMiddle_Grid" + big))
    required("thumb_drag_1M_ms", reporter.Times["BM_ThumbToMiddle_Grid" + big], 2.0);
  benchmark::Shutdown();
  return 0;
}

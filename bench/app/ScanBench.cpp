// The catalogue scan against the floor: a bare opendir/readdir/stat walk of
// the same tree (100,000 files in 2,000 folders, 70 % pictures with mixed-case
// extensions) that then sorts the pictures' names with the locale's
// collation, side by side in one run, with the ratio printed at the end.
// The scan's responsiveness is reported as the number of pictures and the
// longest time between two passes of the event loop during the scan.
//
// The tree is made once under the temporary folder (or IMBREL_BENCH_TREE when
// set, which is then kept) and removed at the end.

#include <dirent.h>
#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/Application.h"
#include "platform/ui/BrowseFolder.h"
#include "platform/Collation.h"
#include "app/FolderWalk.h"
#include "formats/Formats.h"
#include "app/MainForm.h"
#include "table/MemTable.h"

namespace fs = std::filesystem;

namespace {

constexpr int FolderCount = 2000;
constexpr int FileCount = 100000;
std::string TreeRoot;
bool RemoveTree = false;
TfrmMain* Form = nullptr;
double MaxGapMs = -1;  // longest event-loop gap over every scan run
double IdleGapMs = -1; // the same with nothing running

// 40 folders at the top, each with 49 subfolders below it: 2,000 folders;
// 50 files in each. 70 % carry one of the picture extensions in a random
// letter case; the rest other extensions.
void MakeTree(const std::string& Root) {
  const char* const Pictures[] = {"jpg",  "jpeg", "png", "bmp", "tif",
                                  "tiff", "tga",  "pcx", "ico", "gif2"};
  const char* const Others[] = {"txt", "doc", "jpe", "bak", "xml", "tif2"};
  std::mt19937 Rng(12345);
  std::vector<std::string> Folders;
  for (int t = 0; t < 40; ++t) {
    const std::string Top = Root + "album" + std::to_string(t) + "/";
    Folders.push_back(Top);
    for (int s = 0; s < 49; ++s)
      Folders.push_back(Top + "Event " + std::to_string(s) + "/");
  }
  int Made = 0;
  for (const auto& F : Folders) {
    fs::create_directories(F);
    for (int i = 0; i < FileCount / FolderCount; ++i, ++Made) {
      std::string Ext;
      if (Made % 10 < 7) {
        Ext = Pictures[Rng() % 9]; // never "gif2": every picture is catalogued
      } else {
        Ext = Others[Rng() % 6];
      }
      for (char& C : Ext)
        if (Rng() % 3 == 0) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
      std::ofstream(F + "IMG_" + std::to_string(100000 + Made) + "." + Ext);
    }
  }
}

long long BareWalk(const std::string& Root, std::vector<std::string>* Names = nullptr) {
  long long Entries = 0;
  std::vector<std::string> Stack{Root};
  struct stat St {};
  while (!Stack.empty()) {
    const std::string Folder = std::move(Stack.back());
    Stack.pop_back();
    DIR* D = ::opendir(Folder.c_str());
    if (D == nullptr) continue;
    while (const dirent* E = ::readdir(D)) {
      if (E->d_name[0] == '.') continue;
      const std::string Path = Folder + E->d_name;
      if (::stat(Path.c_str(), &St) != 0) continue;
      ++Entries;
      if (S_ISDIR(St.st_mode))
        Stack.push_back(Path + "/");
      else if (Names != nullptr && IsPictureFileName(E->d_name))
        Names->push_back(E->d_name);
    }
    ::closedir(D);
  }
  return Entries;
}

// The floor: the walk with a stat per entry, then the picture names sorted
// by the locale's collation (one sort key per name, then memcmp).
void BM_BareWalk(benchmark::State& State) {
  long long Entries = 0;
  const TCollator Collator(1024);
  for (auto _ : State) {
    std::vector<std::string> Names;
    Entries = BareWalk(TreeRoot, &Names);
    std::vector<std::string> Keys(Names.size());
    for (size_t K = 0; K < Names.size(); ++K)
      Collator.AppendSortKey(Names[K], Keys[K]);
    std::sort(Keys.begin(), Keys.end());
    benchmark::DoNotOptimize(Keys.data());
  }
  State.counters["entries"] = static_cast<double>(Entries);
}

// The scan's own walk (pictures matched, times read and converted to the
// table's date values) without the table: where the scan stands without the
// cost of inserting the records.
void BM_CatalogueWalk(benchmark::State& State) {
  long long Pictures = 0;
  for (auto _ : State) {
    Pictures = 0;
    double Sum = 0;
    WalkPictureTree(TreeRoot, [&](const TWalkPicture& P) {
      std::tm Tm{};
      if (P.HasTime && ::localtime_r(&P.MTime, &Tm) != nullptr) {
        Sum += EncodeDateTime(Tm.tm_year + 1900, Tm.tm_mon + 1, Tm.tm_mday, Tm.tm_hour, Tm.tm_min,
                              Tm.tm_sec > 59 ? 59 : Tm.tm_sec);
        ++Pictures;
      }
      return true;
    });
    benchmark::DoNotOptimize(Sum);
  }
  State.counters["pictures"] = static_cast<double>(Pictures);
}

void BM_ScanFolder(benchmark::State& State) {
  // A zero-interval timer ticks on every pass of the event loop: the longest
  // gap between ticks is how long the window could not react.
  QTimer Probe;
  Probe.setInterval(0);
  QElapsedTimer Clock;
  qint64 Last = 0, MaxGap = 0;
  long long Ticks = 0;
  QObject::connect(&Probe, &QTimer::timeout, [&] {
    const qint64 Now = Clock.nsecsElapsed();
    if (Ticks > 0) MaxGap = std::max(MaxGap, Now - Last);
    Last = Now;
    ++Ticks;
  });
  for (auto _ : State) {
    Ticks = 0;
    MaxGap = 0;
    Clock.start();
    Probe.start();
    Form->ScanFolder(TreeRoot);
    Probe.stop();
  }
  State.counters["pictures"] = Form->mtbPictures->RecordCount();
  State.counters["pumps"] = static_cast<double>(Ticks);
  State.counters["max_gap_ms"] = static_cast<double>(MaxGap) / 1e6;
  MaxGapMs = std::max(MaxGapMs, static_cast<double>(MaxGap) / 1e6);
}

// The same probe with nothing else to do for a moment: the longest gap the
// machine itself causes (it is shared), to read the scan's figure against.
void BM_IdleLoop(benchmark::State& State) {
  QTimer Probe;
  Probe.setInterval(0);
  QElapsedTimer Clock;
  qint64 Last = -1, MaxGap = 0;
  QObject::connect(&Probe, &QTimer::timeout, [&] {
    const qint64 Now = Clock.nsecsElapsed();
    if (Last >= 0) MaxGap = std::max(MaxGap, Now - Last);
    Last = Now;
  });
  for (auto _ : State) {
    Clock.start();
    Last = -1;
    Probe.start();
    QEventLoop Loop;
    QTimer::singleShot(2000, &Loop, &QEventLoop::quit);
    Loop.exec();
    Probe.stop();
  }
  IdleGapMs = static_cast<double>(MaxGap) / 1e6;
  State.counters["max_gap_ms"] = IdleGapMs;
}

BENCHMARK(BM_IdleLoop)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_BareWalk)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(false);
BENCHMARK(BM_CatalogueWalk)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(false);
BENCHMARK(BM_ScanFolder)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(false);

// Prints every result as usual and keeps the medians for the ratio.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
  std::map<std::string, double> Medians;    // wall time
  std::map<std::string, double> CpuMedians; // CPU time of the benchmark's thread
  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const auto& R : Runs)
      if (R.aggregate_name == "median") {
        Medians[R.run_name.function_name] = R.GetAdjustedRealTime();
        CpuMedians[R.run_name.function_name] = R.GetAdjustedCPUTime();
      }
  }
};

} // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TImbrelApplication App(argc, argv);
  RegisterImageFormats();
  benchmark::Initialize(&argc, argv);

  if (const char* Given = std::getenv("IMBREL_BENCH_TREE")) {
    TreeRoot = MakeRootPath(Given);
  } else {
    TreeRoot =
        (fs::temp_directory_path() / ("imbrel-scan-bench-" + std::to_string(::getpid()))).string() +
        "/";
    RemoveTree = true;
  }
  if (!fs::exists(TreeRoot + "album0")) {
    std::cerr << "making " << FileCount << " files in " << FolderCount << " folders under "
              << TreeRoot << "\n";
    MakeTree(TreeRoot);
  }

  // The window starts on an empty folder; its picker is cancelled at once.
  const std::string Empty = TreeRoot + "album0/Event 0/";
  TfrmMain::OnComponentsCreated = [](TfrmMain& F) {
    F.brfldMain->OnDialogShown = [](TBrowseFolderDialog& D) { D.reject(); };
  };
  TfrmMain Window({"TobbinsImbrel", "-Dir:" + Empty});
  Window.show();
  Form = &Window;
  BareWalk(TreeRoot); // warm the file-system caches for both

  TRatioReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  const double Floor = Reporter.Medians["BM_BareWalk"];
  if (Floor > 0) {
    for (const char* Name : {"BM_CatalogueWalk", "BM_ScanFolder"})
      if (Reporter.Medians.count(Name))
        std::cout << Name << " / bare walk (medians): wall " << Reporter.Medians[Name] / Floor
                  << ", CPU " << Reporter.CpuMedians[Name] / Reporter.CpuMedians["BM_BareWalk"]
                  << "\n";
  }
  if (Floor > 0 && Reporter.Medians.count("BM_ScanFolder")) {
    const double Ratio = Reporter.Medians["BM_ScanFolder"] / Floor;
    std::cout << "required: scan_over_walk_stat_sort " << Ratio << " 1.3 "
              << (Ratio <= 1.3 ? "ok" : "short") << "\n";
  }
  if (IdleGapMs >= 0)
    std::cout << "longest event-loop gap with nothing running (the machine's share): " << IdleGapMs
              << " ms\n";
  if (MaxGapMs >= 0)
    std::cout << "required: scan_longest_event_gap_ms " << MaxGapMs << " 50 "
              << (MaxGapMs <= 50 ? "ok" : "short") << "\n";
  Form = nullptr;
  if (RemoveTree) fs::remove_all(TreeRoot);
  benchmark::Shutdown();
  return 0;
}

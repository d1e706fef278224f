// The main window's catalogue: scanning a folder tree into the picture table,
// the start picture of the command line, and the sort order the column titles
// choose.

#include "app/MainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include <sys/stat.h>

#include <ctime>
#include <exception>
#include <utility>

#include "grid/DbAltGrid.h"
#include "app/FolderWalk.h"
#include "view/ImageScrollBox.h"
#include "app/MainFormPrivate.h"
#include "app/ScanWorker.h"

using mainform::Num;

namespace {

// The busy cursor for the whole application while an object lives.
class TBusyCursor {
public:
  TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// Column title -> index and sort marker.
struct TSortEntry {
  const char* Title;
  const char* IndexName;
  unsigned Marker;
};
constexpr TSortEntry SortTable[] = {
    {"Name", "mtbidxNameLocation", 1},
    {"Location", "mtbidxLocationName", 1},
    {"Date", "mtbidxDateLocationName", 2},
    {"Type", "mtbidxTypeName", 1},
};

// The file's last-write time in local time, to the second, as the table's
// date-and-time value. False when it cannot be expressed.
bool LocalDateTime(std::time_t Time, TDateTime& Result) {
  std::tm Tm{};
  if (::localtime_r(&Time, &Tm) == nullptr) return false;
  try {
    Result = EncodeDateTime(Tm.tm_year + 1900, Tm.tm_mon + 1, Tm.tm_mday, Tm.tm_hour, Tm.tm_min,
                            Tm.tm_sec > 59 ? 59 : Tm.tm_sec);
  } catch (const EDatabaseError&) {
    return false;
  }
  return true;
}

} // namespace

// ---------------------------------------------------------------------------
// Catalogue scan

void TfrmMain::ScanFolder(const std::string& Folder) {
  if (FScanning) {
    // Asked from a message pump of the running scan: that walk ends, and this
    // folder is catalogued after its clean-up.
    FPendingScan = Folder;
    FAbortScan = true;
    return;
  }
  FPrefetch->Clear();
  FAwaited.clear();
  FShownPath.clear();
  SetPanel(0, "0 files added...");
  SetPanel(1, "Reading directories...");
  SetPanel(2, "");
  imgMain->Clear();
  FPage = FPageCount = 1;
  UpdatePagePanel();

  bool Completed = false;
  {
    // From here a scan asked for in a message pump waits for this one.
    FScanning = true;
    struct TScanning {
      TfrmMain& F;
      ~TScanning() {
        F.FScanning = false;
        F.FAbortScan = false;
      }
    } Scanning{*this};
    QCoreApplication::processEvents();

    TBusyCursor Busy;
    dsPictures->SetEnabled(false);
    mtbPictures->DisableControls();
    // Clean-up on every path out of the walk.
    struct TCleanup {
      TfrmMain& F;
      ~TCleanup() {
        F.mtbPictures->EnableControls();
        F.dsPictures->SetEnabled(true);
      }
    } Cleanup{*this};
    mtbPictures->ClearRecords();

    const std::string Root = MakeRootPath(Folder);
    lbDir->setText(QString::fromStdString(Folder));
    FStartFound = false;
    Completed = !FAbortScan && CatalogueTree(Root);
    if (Completed && !FStartFound && !FStartName.empty() && Root == FStartLocation)
      AddStartPicture();
  }

  if (FPendingScan) {
    const std::string Next = std::move(*FPendingScan);
    FPendingScan.reset();
    ScanFolder(Next);
    return;
  }
  if (!Completed) return;
  SetSortColumn(FSortColumn.empty() ? std::string("Name") : FSortColumn);
  if (!GoToStartPicture()) mtbPictures->First();
  UpdateStatusBar();
  // The other sort orders are made ready in the background for the first
  // click on a column title.
  mtbPictures->PrepareIndexes();
}

// Walks the tree on a worker thread and posts what it finds here, in the
// walk's order, while the event loop keeps running: the window repaints and
// answers keys throughout. Every 100th picture shows the count. Answers false
// when the walk was ended early (a new scan asked for, or the program ends).
bool TfrmMain::CatalogueTree(const std::string& Root) {
  TScanWorker Worker(Root, FCatalogueFormats);
  QEventLoop Loop;
  QTimer Tick;
  Tick.setInterval(1);
  std::vector<TFoundPicture> Found;
  size_t Next = 0; // the first picture of Found not posted yet
  long long Count = 0;
  bool Ended = false;
  std::exception_ptr Failure;
  QElapsedTimer Clock;
  Clock.start();
  QObject::connect(&Tick, &QTimer::timeout, [&] {
    try {
      if (FAbortScan) {
        Worker.Stop();
        Loop.quit();
        return;
      }
      // Posts up to the next hundred (whose count is shown, then painted
      // before the next tick), or for a few milliseconds at most.
      QElapsedTimer Budget;
      Budget.start();
      bool Done = false, Hundred = false;
      while (!Hundred && Budget.elapsed() < 15) {
        if (Next == Found.size()) {
          Found.clear();
          Next = 0;
          Done = Worker.Take(Found);
          if (Found.empty()) break;
        }
        for (; Next < Found.size() && !Hundred; ++Next) {
          const TFoundPicture& P = Found[Next];
          TDateTime Date = 0;
          if (!P.HasTime || !LocalDateTime(P.MTime, Date)) continue; // time unreadable: skipped
          mtbPictures->Insert();
          mtbPicturesName->SetAsString(P.Name);
          mtbPicturesLocation->SetAsString(*P.Folder);
          mtbPicturesDate->SetAsDateTime(Date);
          mtbPicturesType->SetAsString(P.Type);
          mtbPictures->Post();
          if (!FStartName.empty() && P.Name == FStartName && *P.Folder == FStartLocation)
            FStartFound = true;
          ++Count;
          if (Count % 100 == 0) {
            SetPanel(0, Num(Count) + " files added...");
            Hundred = true;
          }
        }
      }
      if (Done && Next == Found.size()) {
        Ended = true;
        Loop.quit();
      }
      // Waiting for the walk: look again shortly; with pictures at hand, at once.
      Tick.setInterval(Next < Found.size() || Hundred ? 0 : 2);
      // A start-up scan that takes long shows the window meanwhile.
      if (FStartupScan && !isVisible() && Clock.elapsed() >= StartupShowDelayMs) show();
    } catch (...) {
      Failure = std::current_exception();
      Worker.Stop();
      Loop.quit();
    }
  });
  Tick.start();
  Loop.exec();
  Tick.stop();
  if (Failure) std::rethrow_exception(Failure);
  return Ended && !FAbortScan;
}

// The picture named on the command line is catalogued even when the walk
// passed it over: a hidden file (its name begins with '.') that the user
// opened. One whose time cannot be read is left out, as the walk leaves it.
void TfrmMain::AddStartPicture() {
  if (!IsPictureFileName(FStartName, FCatalogueFormats)) return;
  const std::string Path = FStartLocation + FStartName;
  struct stat St {};
  if (::stat(Path.c_str(), &St) != 0 || !S_ISREG(St.st_mode)) return;
  TDateTime Date = 0;
  if (!LocalDateTime(St.st_mtim.tv_sec, Date)) return;
  mtbPictures->Insert();
  mtbPicturesName->SetAsString(FStartName);
  mtbPicturesLocation->SetAsString(FStartLocation);
  mtbPicturesDate->SetAsDateTime(Date);
  mtbPicturesType->SetAsString(std::string(FileExtension(FStartName).substr(1)));
  mtbPictures->Post();
}

bool TfrmMain::GoToStartPicture() {
  const std::string Location = std::exchange(FStartLocation, std::string());
  const std::string Name = std::exchange(FStartName, std::string());
  if (Name.empty()) return false;
  TBookmark Found;
  mtbPictures->DisableControls();
  {
    struct TEnable {
      TmtbMemTable& T;
      ~TEnable() { T.EnableControls(); }
    } Enable{*mtbPictures};
    for (mtbPictures->First(); !mtbPictures->Eof() && Found.empty(); mtbPictures->Next())
      if (mtbPicturesName->AsString() == Name && mtbPicturesLocation->AsString() == Location)
        Found = mtbPictures->Bookmark();
  }
  if (Found.empty()) return false;
  // Moving there with controls enabled shows the picture.
  mtbPictures->GotoBookmark(Found);
  return true;
}

// ---------------------------------------------------------------------------
// Sort order

void TfrmMain::SetSortColumn(const std::string& ColumnTitle) {
  const TSortEntry* Entry = nullptr;
  for (const auto& E : SortTable)
    if (ColumnTitle == E.Title) Entry = &E;
  if (Entry == nullptr) return;
  mtbPictures->SetIndexName(Entry->IndexName);
  FSortColumn = ColumnTitle;
  const QString Title = QString::fromStdString(ColumnTitle);
  TdagColumns& Columns = dbgPictures->Columns();
  TdagColumn* Sorted = nullptr;
  for (int i = 0; i < Columns.Count() && Sorted == nullptr; ++i)
    if (Columns[i].Title().Caption() == Title) Sorted = &Columns[i];
  for (int i = 0; i < Columns.Count(); ++i)
    if (&Columns[i] != Sorted) Columns[i].SetSortMarker(0);
  if (Sorted != nullptr) Sorted->SetSortMarker(Entry->Marker);
  SchedulePrefetch(); // the neighbours of the row are others now
}

void TfrmMain::dbgPicturesTitleClick(TdagColumn& Column) {
  SetSortColumn(Column.Title().Caption().toStdString());
  // The current row keeps its picture but has another position in the new order.
  UpdateSelectionCount();
}

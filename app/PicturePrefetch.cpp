#include "PicturePrefetch.h"

#include <sys/stat.h>

#include "DibGraphic.h"
#include "GraphicRegistry.h"
#include "Stream.h"

TPicturePrefetch::TPicturePrefetch() : FWorker([this] { Run(); }) {}

TPicturePrefetch::~TPicturePrefetch() {
  {
    const std::lock_guard<std::mutex> Guard(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  FWorker.join();
}

bool TPicturePrefetch::Identify(const std::string& Path, TFileId& Id) {
  struct stat St {};
  if (::stat(Path.c_str(), &St) != 0) return false;
  Id.Dev = St.st_dev;
  Id.Ino = St.st_ino;
  Id.Size = St.st_size;
  Id.MTimeNs = static_cast<long long>(St.st_mtim.tv_sec) * 1'000'000'000LL + St.st_mtim.tv_nsec;
  return true;
}

void TPicturePrefetch::Request(const std::string& Path) {
  {
    const std::lock_guard<std::mutex> Guard(FLock);
    if (Path.empty() || Path == FBusy || Path == FPending || (Path == FDonePath && FDone)) return;
    FPending = Path;
    FDone.reset(); // one picture at a time: free the old one first
    FDonePath.clear();
  }
  FChanged.notify_all();
}

std::unique_ptr<TDibGraphic> TPicturePrefetch::Take(const std::string& Path) {
  std::unique_lock<std::mutex> Guard(FLock);
  if (Path == FPending) {
    FPending.clear(); // not started: the caller decodes it at once instead
    return nullptr;
  }
  FChanged.wait(Guard, [&] { return FBusy != Path; });
  if (Path != FDonePath || !FDone) return nullptr;
  std::unique_ptr<TDibGraphic> Result = std::move(FDone);
  const TFileId Then = FDoneId;
  FDonePath.clear();
  Guard.unlock();
  TFileId Now;
  if (!Identify(Path, Now) || !(Now == Then)) return nullptr; // changed since: decode again
  ++FHits;
  return Result;
}

bool TPicturePrefetch::Decoded(const std::string& Path) {
  const std::lock_guard<std::mutex> Guard(FLock);
  return Path == FDonePath;
}

void TPicturePrefetch::Clear() {
  const std::lock_guard<std::mutex> Guard(FLock);
  FPending.clear();
  FDone.reset();
  FDonePath.clear();
}

void TPicturePrefetch::Run() {
  std::unique_lock<std::mutex> Guard(FLock);
  for (;;) {
    FChanged.wait(Guard, [&] { return FStop || !FPending.empty(); });
    if (FStop) return;
    FBusy = std::move(FPending);
    FPending.clear();
    const std::string Path = FBusy;
    Guard.unlock();

    std::unique_ptr<TDibGraphic> Picture;
    TFileId Id;
    try {
      if (Identify(Path, Id)) {
        TFileStream Stream(Path, TFileMode::fmOpenRead);
        Picture = CreateGraphicFromStream(Stream, Path, 1);
      }
    } catch (...) {
      Picture.reset(); // the main window meets the failure itself when it loads the file
    }

    Guard.lock();
    FDonePath = Path;
    FDone = std::move(Picture);
    FDoneId = Id;
    FBusy.clear();
    FChanged.notify_all();
  }
}

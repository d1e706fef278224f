#include "PicturePrefetch.h"

#include <sys/stat.h>

#include "DibGraphic.h"
#include "GraphicRegistry.h"
#include "MemoryBudget.h"
#include "Stream.h"

TPicturePrefetch::TPicturePrefetch() : FWorker([S = FState] { Run(S); }) {}

TPicturePrefetch::~TPicturePrefetch() {
  std::unique_lock<std::mutex> Guard(FState->Lock);
  FState->Stop = true;
  FState->Pending.clear();
  FState->Changed.notify_all();
  // A decode that does not end soon is left to finish on its own.
  const bool Ended =
      FState->Changed.wait_for(Guard, WaitLimit, [&] { return FState->Busy.empty(); });
  Guard.unlock();
  if (Ended)
    FWorker.join();
  else
    FWorker.detach();
}

bool TPicturePrefetch::Identify(const std::string& Path, TFileId& Id) {
  struct stat St {};
  if (::stat(Path.c_str(), &St) != 0 || !S_ISREG(St.st_mode)) return false;
  Id.Dev = St.st_dev;
  Id.Ino = St.st_ino;
  Id.Size = St.st_size;
  Id.MTimeNs = static_cast<long long>(St.st_mtim.tv_sec) * 1'000'000'000LL + St.st_mtim.tv_nsec;
  return true;
}

void TPicturePrefetch::Request(const std::string& Path) {
  TState& S = *FState;
  {
    const std::lock_guard<std::mutex> Guard(S.Lock);
    if (Path.empty() || (Path == S.Busy && !S.BusyDropped) || Path == S.Pending ||
        (Path == S.DonePath && S.Done))
      return;
    S.Pending = Path;
    S.Done.reset(); // one picture at a time: free the old one first
    S.DonePath.clear();
  }
  S.Changed.notify_all();
}

std::unique_ptr<TDibGraphic> TPicturePrefetch::Take(const std::string& Path) {
  TState& S = *FState;
  std::unique_lock<std::mutex> Guard(S.Lock);
  if (Path == S.Pending) {
    S.Pending.clear(); // not started: the caller decodes it at once instead
    return nullptr;
  }
  if (!S.Changed.wait_for(Guard, WaitLimit, [&] { return S.Busy != Path; })) {
    S.BusyDropped = true; // too slow: the caller decodes it, the result is dropped
    return nullptr;
  }
  if (Path != S.DonePath || !S.Done) return nullptr;
  std::unique_ptr<TDibGraphic> Result = std::move(S.Done);
  const TFileId Then = S.DoneId;
  S.DonePath.clear();
  Guard.unlock();
  TFileId Now;
  if (!Identify(Path, Now) || !(Now == Then)) return nullptr; // changed since: decode again
  ++FHits;
  return Result;
}

bool TPicturePrefetch::Decoded(const std::string& Path) {
  const std::lock_guard<std::mutex> Guard(FState->Lock);
  return Path == FState->DonePath;
}

void TPicturePrefetch::Clear() {
  const std::lock_guard<std::mutex> Guard(FState->Lock);
  FState->Pending.clear();
  FState->Done.reset();
  FState->DonePath.clear();
  FState->BusyDropped = !FState->Busy.empty();
}

void TPicturePrefetch::Run(const std::shared_ptr<TState>& State) {
  TState& S = *State;
  std::unique_lock<std::mutex> Guard(S.Lock);
  for (;;) {
    S.Changed.wait(Guard, [&] { return S.Stop || !S.Pending.empty(); });
    if (S.Stop) return;
    S.Busy = std::move(S.Pending);
    S.Pending.clear();
    S.BusyDropped = false;
    const std::string Path = S.Busy;
    Guard.unlock();

    std::unique_ptr<TDibGraphic> Picture;
    TFileId Id;
    // Under memory pressure nothing is decoded ahead: the main window decodes
    // the file when it is asked for.
    if (TMemoryBudget::RoomForBackground()) {
      const TMemoryBudget::TBackgroundScope Background;
      try {
        if (Identify(Path, Id)) {
          TFileStream Stream(Path, TFileMode::fmOpenRead);
          Picture = CreateGraphicFromStream(Stream, Path, 1);
        }
      } catch (...) {
        Picture.reset(); // the main window meets the failure itself when it loads the file
      }
    }

    Guard.lock();
    if (S.BusyDropped || S.Stop) Picture.reset();
    if (!S.Stop) {
      S.DonePath = Path;
      S.Done = std::move(Picture);
      S.DoneId = Id;
    }
    S.Busy.clear();
    S.BusyDropped = false;
    S.Changed.notify_all();
    if (S.Stop) {
      Guard.unlock();
      Picture.reset();
      return;
    }
  }
}

#include "app/PicturePrefetch.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/Dib.h"
#include "imaging/DibGraphic.h"
#include "platform/Memory.h"
#include "platform/MemoryBudget.h"

bool StampFile(const std::string& Path, TFileStamp& Stamp) {
  struct stat St {};
  if (::stat(Path.c_str(), &St) != 0 || !S_ISREG(St.st_mode)) return false;
  Stamp.Dev = St.st_dev;
  Stamp.Ino = St.st_ino;
  Stamp.Size = St.st_size;
  Stamp.MTimeNs = static_cast<long long>(St.st_mtim.tv_sec) * 1'000'000'000LL + St.st_mtim.tv_nsec;
  Stamp.CTimeNs = static_cast<long long>(St.st_ctim.tv_sec) * 1'000'000'000LL + St.st_ctim.tv_nsec;
  return true;
}

bool MemoryShort(uint64_t Bytes) {
  constexpr uint64_t Reserve = 256ull << 20; // left for everything else
  if (AvailableMemory() < Bytes + Reserve) return true;
  // The process's own budget: background work leaves a quarter of it free.
  return !TMemoryBudget::RoomForBackground() || TMemoryBudget::Available() < Bytes;
}

namespace {

// How long the destructor gives a decode in progress before leaving it.
constexpr auto ExitWait = std::chrono::milliseconds(1500);

// Frees pictures dropped from decoding ahead. Their pixel buffers go back to
// the bitmap layer's pool, which keeps what the next decodes reuse and hands
// the rest back to the system.
template <class T> void GiveBack(T& Dropped) {
  Dropped.clear();
}

// What a ready picture keeps of a decoded one: its display copy alone, with
// the facts of the picture it stands for, unless the picture is one the view
// shows without a copy made ahead (no copy) or an animation (its frames are
// needed to play). False: the picture is of no use ahead (a reduced decoding
// without its copy).
bool KeepDisplayOnly(TLaidOutPicture& Laid) {
  if (!Laid.Picture) return Laid.Display != nullptr;
  TDibGraphic& P = *Laid.Picture;
  Laid.Facts = TPictureFacts{P.WholeWidth(), P.WholeHeight(), P.PageCount()};
  if (P.FrameCount() > 1) return !P.Reduced();
  if (Laid.Display) {
    Laid.Picture.reset();
    return true;
  }
  return !P.Reduced();
}

} // namespace

struct TPicturePrefetch::TShared {
  TDecode Decode;
  TMakeCopy MakeCopy;
  std::function<void()> OnReady;

  struct TJob {
    std::string Path;
    TDisplayPlan Plan;
    std::unique_ptr<TReadyPicture> Relayout; // set: only lay this picture out again
  };

  std::mutex Lock;
  std::condition_variable Changed;
  bool Stop = false;
  // Set with Stop: a decode in progress gives up (the program is ending).
  std::atomic<bool> Abandon{false};
  // Set when the whole picture being decoded is asked for no more (the user
  // stepped on): its decode gives up and the pictures ahead come sooner.
  std::atomic<bool> AbandonWhole{false};
  bool Exited = false;
  std::deque<TJob> Queue;
  std::string Busy; // being worked on by the worker; empty: nothing
  bool BusyDropped = false;
  std::vector<std::unique_ptr<TReadyPicture>> Done; // a null picture: the decode failed

  // The shown picture, decoded whole after the pictures ahead.
  std::string WholePath; // asked for; empty: nothing
  bool WholeUrgent = false; // decoded before the pictures ahead
  bool WholeBusy = false;
  bool WholeDone = false;
  TFileStamp WholeStamp;
  std::unique_ptr<TDibGraphic> Whole; // null when done: the decode failed

  static bool Held(const TReadyPicture& R) { return R.Laid.Picture || R.Laid.Display; }
  int Pictures() const { // decoded pictures held here, ready or on the way
    int N = Busy.empty() ? 0 : 1;
    for (const auto& R : Done)
      N += Held(*R) ? 1 : 0;
    for (const auto& J : Queue)
      N += J.Relayout ? 1 : 0;
    return N;
  }
  std::vector<std::unique_ptr<TReadyPicture>>::iterator FindDone(const std::string& Path) {
    return std::find_if(Done.begin(), Done.end(), [&](const auto& R) { return R->Path == Path; });
  }

  void Run();
  void RunWhole(std::unique_lock<std::mutex>& Guard);
  void GiveBackWhenIdle(std::unique_lock<std::mutex>& Guard);
};

// Decodes the picture asked for with DecodeWhole; called with the lock held,
// which is let go while decoding.
void TPicturePrefetch::TShared::RunWhole(std::unique_lock<std::mutex>& Guard) {
  const std::string Path = WholePath;
  WholeBusy = true;
  AbandonWhole = Stop;
  Guard.unlock();
  TFileStamp Stamp;
  std::unique_ptr<TDibGraphic> Picture;
  try {
    const TDecodeStopScope Abandoned(&AbandonWhole);
    if (StampFile(Path, Stamp)) Picture = Decode(Path);
  } catch (...) {
    Picture.reset(); // the foreground meets the failure itself
  }
  Guard.lock();
  WholeBusy = false;
  std::unique_ptr<TDibGraphic> Drop;
  if (WholePath == Path && !Stop) {
    Whole = std::move(Picture);
    WholeStamp = Stamp;
    WholeDone = true;
    WholeUrgent = false;
  } else {
    Drop = std::move(Picture); // asked for no more
  }
  Changed.notify_all();
  if (!Stop && !Drop && OnReady) OnReady();
  Guard.unlock(); // big buffers are freed outside the lock
  Drop.reset();
  Guard.lock();
  GiveBackWhenIdle(Guard);
}

// Once nothing more is to be decoded, the pixel buffers kept for reuse and
// the heaps' free memory go back to the system: what a step freed does not
// stay with the process while the user looks (a long slide show does not
// creep). Buffers freed during a run of decodes are reused by the next.
void TPicturePrefetch::TShared::GiveBackWhenIdle(std::unique_lock<std::mutex>& Guard) {
  if (Stop || !Queue.empty() || (!WholePath.empty() && !WholeDone)) return;
  Guard.unlock();
  TPixelBuffer::TrimCache();
  ReleaseFreeHeap();
  Guard.lock();
}

void TPicturePrefetch::TShared::Run() {
  const TDecodeStopScope StopScope(&Abandon);
  std::unique_lock<std::mutex> Guard(Lock);
  auto WholeWaiting = [&] { return !WholePath.empty() && !WholeDone && !WholeBusy; };
  for (;;) {
    Changed.wait(Guard, [&] { return Stop || !Queue.empty() || WholeWaiting(); });
    if (Stop) break;
    // The pictures ahead come first, so that a step after a pause finds its
    // picture ready; the shown picture's whole decoding waits for them
    // unless something waits for it.
    if (WholeWaiting() && (WholeUrgent || Queue.empty())) {
      RunWhole(Guard);
      continue;
    }
    TJob Job = std::move(Queue.front());
    Queue.pop_front();
    Busy = Job.Path;
    BusyDropped = false;
    Guard.unlock();

    // The worker's pixel buffers are background reservations: they leave a
    // quarter of the memory budget to what the user asks for, and under
    // pressure nothing is decoded ahead (the foreground decodes the file when
    // it is asked for).
    const TMemoryBudget::TBackgroundScope Background;
    std::unique_ptr<TReadyPicture> Result = std::move(Job.Relayout);
    if (!Result) {
      Result = std::make_unique<TReadyPicture>();
      Result->Path = Job.Path;
      try {
        // Only regular files: a FIFO or a device could block the worker.
        // Decoded no larger than its display copy needs, where the reader
        // can: only the copy is kept.
        const TDisplayPlan Plan = Job.Plan;
        const TReducedDecodeScope Reduced([Plan](int W, int H) {
          return Plan.Width > 0 && Plan.Height > 0 ? PlannedScale(Plan, W, H)
                                                   : 1.0;
        });
        if (TMemoryBudget::RoomForBackground() && StampFile(Job.Path, Result->Stamp))
          Result->Laid.Picture = Decode(Job.Path);
        // An animation cut to its first frame here, where a quarter of the
        // budget stays free, may play when decoded in the foreground.
        if (Result->Laid.Picture && Result->Laid.Picture->FramesOmitted())
          Result->Laid.Picture.reset();
      } catch (...) {
        Result->Laid.Picture.reset(); // the foreground meets the failure itself
      }
    }
    Result->Laid.Display.reset();
    if (Result->Laid.Picture && Job.Plan.Width > 0 && Job.Plan.Height > 0 &&
        TMemoryBudget::RoomForBackground()) {
      try {
        Result->Laid.Display = MakeCopy(*Result->Laid.Picture, Job.Plan);
        Result->Laid.Plan = Job.Plan;
      } catch (...) {
        Result->Laid.Display.reset(); // the view lays the picture out itself
      }
    }
    if (!KeepDisplayOnly(Result->Laid)) {
      Result->Laid.Picture.reset();
      Result->Laid.Display.reset();
    }

    Guard.lock();
    std::unique_ptr<TReadyPicture> Drop;
    if (BusyDropped || Stop)
      Drop = std::move(Result);
    else
      Done.push_back(std::move(Result));
    Busy.clear();
    BusyDropped = false;
    Changed.notify_all();
    if (!Stop && OnReady) OnReady();
    Guard.unlock(); // big buffers are freed outside the lock
    Drop.reset();
    Guard.lock();
    GiveBackWhenIdle(Guard);
  }
  Exited = true;
  Changed.notify_all();
}

TPicturePrefetch::TPicturePrefetch(TDecode Decode, TMakeCopy MakeCopy)
    : FShared(std::make_shared<TShared>()) {
  FShared->Decode = std::move(Decode);
  FShared->MakeCopy = std::move(MakeCopy);
  std::thread([Shared = FShared] { Shared->Run(); }).detach();
}

TPicturePrefetch::~TPicturePrefetch() {
  std::vector<std::unique_ptr<TReadyPicture>> Drop;
  std::deque<TShared::TJob> DropQueue;
  std::unique_lock<std::mutex> Guard(FShared->Lock);
  FShared->Stop = true;
  FShared->Abandon = true;
  FShared->AbandonWhole = true;
  Drop.swap(FShared->Done);
  DropQueue.swap(FShared->Queue);
  std::unique_ptr<TDibGraphic> DropWhole = std::move(FShared->Whole);
  FShared->Changed.notify_all();
  // The worker holds its own reference to the shared state: one that is still
  // decoding after this wait finishes alone and drops its result.
  FShared->Changed.wait_for(Guard, ExitWait, [&] { return FShared->Exited; });
}

void TPicturePrefetch::SetOnReady(std::function<void()> OnReady) {
  const std::lock_guard<std::mutex> Guard(FShared->Lock);
  FShared->OnReady = std::move(OnReady);
}

void TPicturePrefetch::Aim(const std::vector<std::string>& Wanted, const TDisplayPlan& Plan) {
  std::vector<std::unique_ptr<TReadyPicture>> Drop;
  {
    TShared& S = *FShared;
    const std::lock_guard<std::mutex> Guard(S.Lock);
    std::vector<std::string> Paths(Wanted.begin(),
                                   Wanted.begin() + std::min<size_t>(Wanted.size(), Budget));
    auto IsWanted = [&](const std::string& P) {
      return std::find(Paths.begin(), Paths.end(), P) != Paths.end();
    };
    // Pictures waiting for a new layout are ready pictures again first.
    for (auto& Job : S.Queue)
      if (Job.Relayout) S.Done.push_back(std::move(Job.Relayout));
    S.Queue.clear();
    std::vector<std::unique_ptr<TReadyPicture>> Keep;
    for (auto& R : S.Done)
      (IsWanted(R->Path) ? Keep : Drop).push_back(std::move(R));
    S.Done = std::move(Keep);
    if (!S.Busy.empty() && !IsWanted(S.Busy)) S.BusyDropped = true;
    for (const std::string& P : Paths) {
      if (P.empty()) continue;
      auto Found = S.FindDone(P);
      if (Found != S.Done.end()) {
        TReadyPicture& R = **Found;
        const bool Laid = R.Laid.Display && R.Laid.Plan == Plan;
        if (!Laid && Plan.Width > 0 && Plan.Height > 0) {
          if (R.Laid.Picture) {
            S.Queue.push_back({P, Plan, std::move(*Found)});
          } else {
            // A display copy alone cannot be laid out again: decoded anew.
            Drop.push_back(std::move(*Found));
            S.Queue.push_back({P, Plan, nullptr});
          }
          S.Done.erase(Found);
        }
      } else if (S.Busy != P || S.BusyDropped) {
        S.Queue.push_back({P, Plan, nullptr});
      }
    }
  }
  FShared->Changed.notify_all();
  GiveBack(Drop);
}

void TPicturePrefetch::Hurry(const std::string& Path, const TDisplayPlan& Plan) {
  std::vector<std::unique_ptr<TReadyPicture>> Drop;
  {
    TShared& S = *FShared;
    const std::lock_guard<std::mutex> Guard(S.Lock);
    if (S.FindDone(Path) != S.Done.end()) return;
    if (S.Busy == Path && !S.BusyDropped) return;
    for (auto& Job : S.Queue)
      if (Job.Relayout) S.Done.push_back(std::move(Job.Relayout));
    S.Queue.clear();
    if (!S.Busy.empty()) S.BusyDropped = true; // the user has moved on
    // Room for the hurried picture within the budget: the oldest ready go.
    while (!S.Done.empty() && S.Pictures() + 1 > Budget) {
      Drop.push_back(std::move(S.Done.front()));
      S.Done.erase(S.Done.begin());
    }
    S.Queue.push_back({Path, Plan, nullptr});
  }
  FShared->Changed.notify_all();
  GiveBack(Drop);
}

std::unique_ptr<TReadyPicture> TPicturePrefetch::Take(const std::string& Path,
                                                      std::chrono::milliseconds Wait) {
  TShared& S = *FShared;
  std::unique_ptr<TReadyPicture> Result;
  {
    std::unique_lock<std::mutex> Guard(S.Lock);
    auto Queued =
        std::find_if(S.Queue.begin(), S.Queue.end(), [&](const auto& J) { return J.Path == Path; });
    if (Queued != S.Queue.end()) {
      // Not started: a picture only waiting for its layout is taken as it is,
      // a decode not begun is the caller's to do at once.
      Result = std::move(Queued->Relayout);
      S.Queue.erase(Queued);
    } else {
      if (S.Busy == Path && !S.BusyDropped) {
        if (!S.Changed.wait_for(Guard, Wait, [&] { return S.Busy != Path || S.Stop; }))
          S.BusyDropped = true; // not waited for any longer: the caller decodes it
      }
      auto Found = S.FindDone(Path);
      if (Found != S.Done.end()) {
        Result = std::move(*Found);
        S.Done.erase(Found);
      }
    }
  }
  if (!Result || !TShared::Held(*Result)) return nullptr;
  TFileStamp Now;
  if (!StampFile(Path, Now) || !(Now == Result->Stamp)) {
    ++FStale; // written again since: decoded again
    return nullptr;
  }
  ++FHits;
  return Result;
}

void TPicturePrefetch::Keep(std::unique_ptr<TReadyPicture> Picture) {
  if (!Picture || !TShared::Held(*Picture)) return;
  if (Picture->Laid.Picture) {
    // The picture stepped away from is kept as its display copy; without
    // one, only a picture the view shows without a copy stays whole.
    TDibGraphic& P = *Picture->Laid.Picture;
    const bool Whole = P.FrameCount() > 1 || P.ImageFormat() == ifBlackWhite;
    if (!Picture->Laid.Display && !Whole) return;
    if (!KeepDisplayOnly(Picture->Laid)) return;
  }
  TShared& S = *FShared;
  {
    const std::lock_guard<std::mutex> Guard(S.Lock);
    if (!Picture->Path.empty() && S.Pictures() + 1 <= Budget &&
        S.FindDone(Picture->Path) == S.Done.end() && S.Busy != Picture->Path) {
      S.Done.push_back(std::move(Picture));
      return;
    }
  }
  Picture.reset(); // no room within the budget
}

void TPicturePrefetch::DecodeWhole(const std::string& Path) {
  std::unique_ptr<TDibGraphic> Drop;
  {
    TShared& S = *FShared;
    const std::lock_guard<std::mutex> Guard(S.Lock);
    if (S.WholePath == Path) return;
    if (S.WholeBusy) S.AbandonWhole = true; // the one being decoded gives up
    S.WholePath = Path; // empty: none any more
    S.WholeDone = false;
    S.WholeUrgent = false;
    Drop = std::move(S.Whole);
  }
  FShared->Changed.notify_all();
}

std::unique_ptr<TDibGraphic> TPicturePrefetch::TakeWhole(const std::string& Path,
                                                         TFileStamp& Stamp, bool Wait) {
  TShared& S = *FShared;
  std::unique_ptr<TDibGraphic> Result;
  {
    std::unique_lock<std::mutex> Guard(S.Lock);
    if (S.WholePath != Path || Path.empty()) return nullptr;
    if (!S.WholeDone) {
      if (!Wait) return nullptr;
      S.WholeUrgent = true; // before anything queued ahead
      S.Changed.notify_all();
      S.Changed.wait(Guard, [&] { return S.WholeDone || S.Stop || S.WholePath != Path; });
      if (!S.WholeDone || S.WholePath != Path) return nullptr;
    }
    Result = std::move(S.Whole);
    Stamp = S.WholeStamp;
    S.WholePath.clear();
    S.WholeDone = false;
  }
  return Result;
}

bool TPicturePrefetch::WholeAwaited() {
  const std::lock_guard<std::mutex> Guard(FShared->Lock);
  return FShared->WholeUrgent;
}

bool TPicturePrefetch::WholeDecoded(const std::string& Path) {
  const std::lock_guard<std::mutex> Guard(FShared->Lock);
  return FShared->WholePath == Path && FShared->WholeDone;
}

void TPicturePrefetch::Clear() {
  std::unique_ptr<TDibGraphic> DropWhole;
  std::vector<std::unique_ptr<TReadyPicture>> Drop;
  std::deque<TShared::TJob> DropQueue;
  {
    TShared& S = *FShared;
    const std::lock_guard<std::mutex> Guard(S.Lock);
    Drop.swap(S.Done);
    DropQueue.swap(S.Queue);
    if (!S.Busy.empty()) S.BusyDropped = true;
    DropWhole = std::move(S.Whole);
    S.WholePath.clear();
    S.WholeDone = false;
  }
  GiveBack(DropQueue);
  GiveBack(Drop);
}

bool TPicturePrefetch::Decoded(const std::string& Path) {
  const std::lock_guard<std::mutex> Guard(FShared->Lock);
  return FShared->FindDone(Path) != FShared->Done.end();
}

bool TPicturePrefetch::Idle() {
  const std::lock_guard<std::mutex> Guard(FShared->Lock);
  const TShared& S = *FShared;
  return S.Queue.empty() && S.Busy.empty() && !S.WholeBusy &&
         (S.WholePath.empty() || S.WholeDone);
}

int TPicturePrefetch::Held() {
  const std::lock_guard<std::mutex> Guard(FShared->Lock);
  return FShared->Pictures();
}

#pragma once
// Decodes the picture the user will most likely ask for next on a worker
// thread, into a fresh TDibGraphic, while the shown one is looked at. The main
// window takes the decoded picture when that file is asked for; anything else
// (another file, a failed decode, a file changed since) is decoded as usual.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TDibGraphic;

class TPicturePrefetch {
public:
  TPicturePrefetch();
  // Stops the worker; a decode still running after a short wait is abandoned
  // (the worker ends on its own), so exit never hangs on a stuck file.
  ~TPicturePrefetch();
  TPicturePrefetch(const TPicturePrefetch&) = delete;
  TPicturePrefetch& operator=(const TPicturePrefetch&) = delete;

  // Decodes image 1 of Path next; a picture decoded before for another path
  // is dropped. Nothing happens when Path is already decoded or on its way.
  // The worker skips the decode when the memory budget is under pressure,
  // and its allocations leave room for what the user asks for.
  void Request(const std::string& Path);

  // The decoded picture of Path, waiting at most WaitLimit while it is being
  // decoded; null when Path was not requested, its decoding failed or took
  // longer (the caller decodes it itself), or the file changed since.
  std::unique_ptr<TDibGraphic> Take(const std::string& Path);

  // Drops whatever is decoded or waiting (a decode in progress finishes).
  void Clear();

  // For tests: whether a decode of Path has finished (successfully or not),
  // and the number of pictures handed out by Take.
  bool Decoded(const std::string& Path);
  int Hits() const { return FHits; }

  static constexpr std::chrono::milliseconds WaitLimit{3000};

private:
  struct TFileId {
    dev_t Dev = 0;
    ino_t Ino = 0;
    off_t Size = -1;
    long long MTimeNs = 0;
    bool operator==(const TFileId&) const = default;
  };
  // What the worker shares with the owner; it outlives the owner when the
  // worker is abandoned.
  struct TState {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Stop = false;
    std::string Pending;      // to decode next; empty: none
    std::string Busy;         // being decoded now; empty: none
    bool BusyDropped = false; // the decode in progress is no longer wanted
    std::string DonePath;
    std::unique_ptr<TDibGraphic> Done;
    TFileId DoneId;
  };
  static bool Identify(const std::string& Path, TFileId& Id);
  static void Run(const std::shared_ptr<TState>& S);

  std::shared_ptr<TState> FState = std::make_shared<TState>();
  int FHits = 0;
  std::thread FWorker; // last: starts after the fields above exist
};

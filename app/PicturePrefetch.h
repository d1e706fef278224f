#pragma once
// Decodes the picture the user will most likely ask for next on a worker
// thread, into a fresh TDibGraphic, while the shown one is looked at. The main
// window takes the decoded picture when that file is asked for; anything else
// (another file, a failed decode, a file changed since) is decoded as usual.

#include <sys/types.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TDibGraphic;

class TPicturePrefetch {
public:
  TPicturePrefetch();
  ~TPicturePrefetch(); // waits for a decode in progress
  TPicturePrefetch(const TPicturePrefetch&) = delete;
  TPicturePrefetch& operator=(const TPicturePrefetch&) = delete;

  // Decodes image 1 of Path next; a picture decoded before for another path
  // is dropped. Nothing happens when Path is already decoded or on its way.
  void Request(const std::string& Path);

  // The decoded picture of Path, waiting while it is being decoded; null when
  // Path was not requested, its decoding failed, or the file changed since.
  std::unique_ptr<TDibGraphic> Take(const std::string& Path);

  // Drops whatever is decoded or waiting (a decode in progress finishes).
  void Clear();

  // For tests: whether a decode of Path has finished (successfully or not),
  // and the number of pictures handed out by Take.
  bool Decoded(const std::string& Path);
  int Hits() const { return FHits; }

private:
  struct TFileId {
    dev_t Dev = 0;
    ino_t Ino = 0;
    off_t Size = -1;
    long long MTimeNs = 0;
    bool operator==(const TFileId&) const = default;
  };
  static bool Identify(const std::string& Path, TFileId& Id);
  void Run();

  std::mutex FLock;
  std::condition_variable FChanged;
  bool FStop = false;
  std::string FPending; // to decode next; empty: none
  std::string FBusy;    // being decoded now; empty: none
  std::string FDonePath;
  std::unique_ptr<TDibGraphic> FDone;
  TFileId FDoneId;
  int FHits = 0;
  std::thread FWorker; // last: starts after the fields above exist
};

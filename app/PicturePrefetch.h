#pragma once
// Decodes the pictures the user will most likely ask for next (the next and
// the previous one of the list's order) on a worker thread, each with its
// display copy laid out for the view's plan, while the shown one is looked at.
// A step then only swaps a ready picture in. The main window takes a ready
// picture when its file is asked for and unchanged; anything else (another
// file, a failed decode, a file changed since) is decoded as usual.
//
// Only the shown picture is kept whole. A ready picture is its display copy
// alone (decoded no larger than the copy needs, where the reader can), except
// for pictures the view does not lay out from a copy (black and white ones,
// the fit-width zoom) and animations, whose frames are needed to play: those
// are kept whole. After a step onto a display copy, the worker decodes the
// shown picture whole (DecodeWhole) once the pictures ahead are ready.
//
// The worker and the GUI thread share nothing mutable but the queue and the
// ready pictures below, always under one lock; a picture belongs to one side
// at a time and changes hands whole.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "view/DisplayCopy.h"

class TDibGraphic;

// What tells a file apart from the same path written again: device, inode,
// size, modification time and change time (a file written in place with its
// old size and modification time put back still gets a new change time).
struct TFileStamp {
  dev_t Dev = 0;
  ino_t Ino = 0;
  off_t Size = -1;
  long long MTimeNs = 0;
  long long CTimeNs = 0;
  bool operator==(const TFileStamp&) const = default;
};

// The stamp of a regular file; false for anything else (FIFOs, devices,
// folders) and when the file cannot be read.
bool StampFile(const std::string& Path, TFileStamp& Stamp);

// A decoded picture of a file and the stamp its file had before the decoding.
struct TReadyPicture {
  std::string Path;
  TFileStamp Stamp;
  TLaidOutPicture Laid;
};

// Whether Bytes more of memory would leave the system short: decoding ahead
// gives way then.
bool MemoryShort(uint64_t Bytes);

class TPicturePrefetch {
public:
  // Decoded pictures kept or being decoded beyond the shown one.
  static constexpr int Budget = 2;
  // The longest the GUI thread waits in Take for a picture being decoded.
  static constexpr std::chrono::milliseconds WaitLimit{3000};

  using TDecode = std::function<std::unique_ptr<TDibGraphic>(const std::string& Path)>;
  using TMakeCopy =
      std::function<std::unique_ptr<TDibGraphic>(TDibGraphic& Picture, const TDisplayPlan& Plan)>;

  // Decode is the foreground's own way to load a file; MakeCopy makes a
  // display copy. Both run on the worker.
  TPicturePrefetch(TDecode Decode, TMakeCopy MakeCopy);
  // Never waits for a decode without bound: a worker still busy after a short
  // while is left to finish on its own and drop its result.
  ~TPicturePrefetch();
  TPicturePrefetch(const TPicturePrefetch&) = delete;
  TPicturePrefetch& operator=(const TPicturePrefetch&) = delete;

  // Runs on the worker after each decode or layout has been stored; set it
  // before the first request. It must only post work to another thread.
  void SetOnReady(std::function<void()> OnReady);

  // Decodes ahead Paths (most wanted first; at most Budget), laid out for
  // Plan. Ready pictures of other paths are dropped, queued ones are taken
  // off the queue and one being decoded is dropped when it is done. Ready
  // pictures laid out for another plan are laid out again.
  void Aim(const std::vector<std::string>& Paths, const TDisplayPlan& Plan);

  // Decodes Path before anything else, for steps that come faster than a
  // decode (held keys): whatever is queued gives way to it.
  void Hurry(const std::string& Path, const TDisplayPlan& Plan);

  // The ready picture of Path when its file is unchanged since (same stamp);
  // while Path is being decoded, waits at most Wait for it. A picture queued
  // but not started is taken off the queue. Null when there is none: the
  // caller decodes the file itself.
  std::unique_ptr<TReadyPicture> Take(const std::string& Path, std::chrono::milliseconds Wait);

  // Keeps a decoded picture (the one a step replaced) as ready, as its
  // display copy alone where it has one, when it has a path and the budget
  // has room; otherwise it is freed.
  void Keep(std::unique_ptr<TReadyPicture> Picture);

  // Decodes Path whole (the shown picture, stepped onto as a display copy)
  // after the pictures queued ahead; replaces an earlier such request, which
  // an empty Path only drops.
  void DecodeWhole(const std::string& Path);
  // The whole picture of Path asked for with DecodeWhole, with the stamp its
  // file had; when Wait is true and it is not decoded yet, it is decoded
  // next and waited for. Null when Path was not asked for, or its decode
  // failed: the caller decodes it itself.
  std::unique_ptr<TDibGraphic> TakeWhole(const std::string& Path, TFileStamp& Stamp, bool Wait);
  // Whether the whole picture of Path is decoded (or failed), not taken yet.
  bool WholeDecoded(const std::string& Path);

  // Drops every ready and queued picture and a whole picture asked for; one
  // being decoded is dropped when it is done.
  void Clear();

  // For tests and benchmarks.
  bool Decoded(const std::string& Path); // decoded (or failed), not taken yet
  bool Idle();                           // nothing queued or being decoded
  int Hits() const { return FHits; }     // pictures handed out by Take
  int Stale() const { return FStale; }   // ready pictures refused: file changed
  int Held();                            // decoded pictures ready or on the way
  bool WholeAwaited();                   // TakeWhole waits for a whole picture

private:
  struct TShared;
  std::shared_ptr<TShared> FShared;
  int FHits = 0;
  int FStale = 0;
};

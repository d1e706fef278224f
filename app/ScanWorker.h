#pragma once
// The catalogue scan's walk on a worker thread: the pictures found are handed
// to the GUI thread in batches, which posts them to the table. No Qt here.

#include <atomic>
#include <ctime>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/FolderWalk.h"

struct TFoundPicture {
  std::shared_ptr<const std::string> Folder; // shared by the pictures of one folder
  std::string Name;
  std::string Type; // the extension without its dot, in the name's own case
  bool HasTime = false;
  std::time_t MTime = 0;
};

class TScanWorker {
public:
  // Starts walking the tree below Root (a root path made by MakeRootPath),
  // taking the files whose extension is in the table of Formats.
  TScanWorker(std::string Root, TCatalogueFormats Formats);
  // Stops the walk and waits for the thread.
  ~TScanWorker();
  TScanWorker(const TScanWorker&) = delete;
  TScanWorker& operator=(const TScanWorker&) = delete;

  // Asks the walk to end early; Take then reports it done soon.
  void Stop() { FStop = true; }
  // Appends what the walk found since the last call to Out, in the walk's
  // order. Answers true once the walk has ended and everything was taken;
  // a failure of the walk is raised here then.
  bool Take(std::vector<TFoundPicture>& Out);

private:
  void Run(const std::string& Root, TCatalogueFormats Formats);

  std::atomic<bool> FStop{false};
  std::mutex FLock;
  std::vector<TFoundPicture> FFound; // guarded by FLock
  bool FDone = false;                // guarded by FLock
  std::exception_ptr FFailure;       // guarded by FLock
  std::thread FThread;
};

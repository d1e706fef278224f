#pragma once
// Asks, on a worker thread, whether a folder tree holds a picture, so that the
// folder dialog keeps answering while a big tree is searched. Only the result
// of the newest search is delivered, on the GUI thread; a search that was
// replaced or cancelled delivers nothing.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/FolderWalk.h"

class QTimer;

class TPictureSearch {
public:
  TPictureSearch();
  ~TPictureSearch(); // cancels and waits for the worker
  TPictureSearch(const TPictureSearch&) = delete;
  TPictureSearch& operator=(const TPictureSearch&) = delete;

  // Starts a search of the tree below Folder (the scan's walk and rules, with
  // the extension table of Formats), abandoning the one running. OnDone(found)
  // runs later on the GUI thread.
  void Start(const std::string& Folder, TCatalogueFormats Formats,
             std::function<void(bool Found)> OnDone);
  // Abandons the running search; its result is dropped.
  void Cancel();
  // True from Start until the result is delivered or dropped.
  bool Running() const { return FRunning; }

private:
  struct TState;
  void Deliver();

  std::shared_ptr<TState> FState;
  std::function<void(bool Found)> FOnDone;
  // Started by the worker (a queued call by name, which Qt makes and frees on
  // its own): the result is then taken on the GUI thread.
  std::unique_ptr<QTimer> FDelivery;
  std::thread FWorker;
  bool FRunning = false;
};

#include "PictureSearch.h"

#include "FolderWalk.h"

#include <QCoreApplication>
#include <QMetaObject>

// Shared between the GUI thread and one worker: the worker's stop flag and
// whether its result is still wanted.
struct TPictureSearch::TState {
  std::atomic<bool> Stop{false};
};

TPictureSearch::~TPictureSearch() {
  Cancel();
}

void TPictureSearch::Cancel() {
  if (FState) FState->Stop = true;
  if (FWorker.joinable()) FWorker.join();
  FState.reset();
  FRunning = false;
}

void TPictureSearch::Start(const std::string& Folder, std::function<void(bool Found)> OnDone) {
  Cancel();
  auto state = std::make_shared<TState>();
  FState = state;
  FRunning = true;
  QCoreApplication* app = QCoreApplication::instance();
  FWorker = std::thread([this, state, Folder, OnDone = std::move(OnDone), app] {
    TWalkOptions options;
    options.ReadTimes = false;
    options.Stop = &state->Stop;
    bool stoppedAtPicture = false;
    const bool completed = WalkPictureTree(
        Folder,
        [&](const TWalkPicture&) {
          stoppedAtPicture = true;
          return false;
        },
        options);
    const bool found = !completed && stoppedAtPicture;
    if (state->Stop || !app) return;
    // Delivered on the GUI thread, and only while this search is the current one.
    QMetaObject::invokeMethod(
        app,
        [this, state, found, OnDone] {
          if (state->Stop || FState != state) return;
          FRunning = false;
          OnDone(found);
        },
        Qt::QueuedConnection);
  });
}

#include "app/PictureSearch.h"

#include "app/FolderWalk.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

// Shared between the GUI thread and one worker: the worker's stop flag, and
// its result once it has one.
struct TPictureSearch::TState {
  std::atomic<bool> Stop{false};
  std::atomic<bool> Done{false};
  std::atomic<bool> Found{false};
};

TPictureSearch::TPictureSearch() = default;

TPictureSearch::~TPictureSearch() {
  Cancel();
}

void TPictureSearch::Cancel() {
  if (FState) FState->Stop = true;
  if (FWorker.joinable()) FWorker.join();
  FState.reset();
  FRunning = false;
}

void TPictureSearch::Start(const std::string& Folder, TCatalogueFormats Formats,
                           std::function<void(bool Found)> OnDone) {
  Cancel();
  auto state = std::make_shared<TState>();
  FState = state;
  FOnDone = std::move(OnDone);
  FRunning = true;
  if (!FDelivery && QCoreApplication::instance() != nullptr) {
    FDelivery = std::make_unique<QTimer>();
    FDelivery->setSingleShot(true);
    FDelivery->setInterval(0);
    QObject::connect(FDelivery.get(), &QTimer::timeout, FDelivery.get(), [this] { Deliver(); });
  }
  QTimer* delivery = FDelivery.get();
  FWorker = std::thread([state, Folder, Formats, delivery] {
    TWalkOptions options;
    options.ReadTimes = false;
    options.Formats = Formats;
    options.Stop = &state->Stop;
    bool stoppedAtPicture = false;
    const bool completed = WalkPictureTree(
        Folder,
        [&](const TWalkPicture&) {
          stoppedAtPicture = true;
          return false;
        },
        options);
    if (state->Stop || delivery == nullptr) return;
    state->Found = !completed && stoppedAtPicture;
    state->Done = true;
    // The timer outlives this thread: Cancel joins it before anything goes.
    QMetaObject::invokeMethod(delivery, "start", Qt::QueuedConnection);
  });
}

// On the GUI thread: delivers the result of the current search once, and only
// while it is still wanted. A wake-up left from a search replaced since finds
// the new one not done and waits for its own.
void TPictureSearch::Deliver() {
  if (!FState || FState->Stop || !FState->Done || !FRunning) return;
  FRunning = false;
  const bool found = FState->Found;
  const std::function<void(bool)> onDone = FOnDone; // it may start another search
  onDone(found);
}

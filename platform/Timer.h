#pragma once
// Timers and the event loop of the GUI framework for code that does not deal
// with the framework itself: a repeating timer that calls a function, and
// handing pending events to their handlers (the framework's "process
// messages").

#include <functional>
#include <memory>

class QTimer;

// A timer that calls OnTimeout every Interval milliseconds while active. It
// fires through the event loop of the thread that made it; callbacks never run
// after the timer is destroyed.
class TPlatformTimer {
public:
  explicit TPlatformTimer(std::function<void()> OnTimeout);
  ~TPlatformTimer();
  TPlatformTimer(const TPlatformTimer&) = delete;
  TPlatformTimer& operator=(const TPlatformTimer&) = delete;

  // (Re)starts the timer with the given interval in milliseconds.
  void Start(int IntervalMs);
  void Stop();
  bool Active() const;

private:
  std::unique_ptr<QTimer> FTimer;
};

// Handles the events waiting in the calling thread's event queue (paints,
// timers, input); does nothing when there is no application object.
void ProcessPendingEvents();

#include "platform/Timer.h"

#include <QCoreApplication>
#include <QTimer>

#include <utility>

TPlatformTimer::TPlatformTimer(std::function<void()> OnTimeout)
    : FTimer(std::make_unique<QTimer>()) {
  QObject::connect(FTimer.get(), &QTimer::timeout, [f = std::move(OnTimeout)] { f(); });
}

TPlatformTimer::~TPlatformTimer() = default;

void TPlatformTimer::Start(int IntervalMs) {
  FTimer->setInterval(IntervalMs);
  FTimer->start();
}

void TPlatformTimer::Stop() {
  FTimer->stop();
}

bool TPlatformTimer::Active() const {
  return FTimer->isActive();
}

void ProcessPendingEvents() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

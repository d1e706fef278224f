#include "app/Application.h"

#include <QMessageBox>

namespace {
TExceptionHandler& Handler() {
  static TExceptionHandler H;
  return H;
}

void Show(const std::string& Message) {
  if (Handler()) {
    Handler()(Message);
    return;
  }
  QMessageBox::critical(nullptr, QString::fromUtf8(ApplicationTitle),
                        QString::fromStdString(Message));
}
} // namespace

void HandleException(const std::exception& E) {
  Show(E.what());
}
void HandleUnknownException() {
  Show("Unknown exception");
}
void SetExceptionHandler(TExceptionHandler H) {
  Handler() = std::move(H);
}

bool TImbrelApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (const std::exception& E) {
    HandleException(E);
  } catch (...) {
    HandleUnknownException();
  }
  return false;
}

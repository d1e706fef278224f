#pragma once
// The application object: an exception that leaves an event handler is shown
// in a message box with its text, and the program carries on.

#include <QApplication>

#include <exception>
#include <functional>
#include <string>

// The program's name: its file's name, the application name Qt reports (the
// class of its windows, WM_CLASS, which the desktop entry's StartupWMClass
// names) and the accessible application's name.
inline const char* const ApplicationName = "TobbinsImbrel";
// The desktop entry's file name without ".desktop".
inline const char* const DesktopFileName = "tobbins-imbrel";
// The application's title: the caption of the error box.
inline const char* const ApplicationTitle = "Tobbin's Imbrel";

class TImbrelApplication : public QApplication {
public:
  TImbrelApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {}
  bool notify(QObject* Receiver, QEvent* Event) override;
};

// Shows the text of an exception that left an event handler: by default a
// message box with the text and an OK button. Tests replace it.
void HandleException(const std::exception& E);
void HandleUnknownException();
using TExceptionHandler = std::function<void(const std::string& Message)>;
void SetExceptionHandler(TExceptionHandler Handler); // empty: the message box

// Wraps an event handler without arguments so that an exception leaving it
// goes to HandleException instead of through the framework's own code.
template <typename F> auto Guarded(F Handler) {
  return [Handler]() {
    try {
      Handler();
    } catch (const std::exception& E) {
      HandleException(E);
    } catch (...) {
      HandleUnknownException();
    }
  };
}

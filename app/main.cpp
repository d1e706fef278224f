// Program entry: the application's name, the main window (which catalogues the
// start folder), the hidden About box, then the event loop. --help, --version
// and unknown "--" options answer before any window system is needed.

#include <QLoggingCategory>

#include <cstdio>
#include <string>
#include <vector>

#include "app/AboutBox.h"
#include "app/Application.h"
#include "app/FolderWalk.h"
#include "formats/Formats.h"
#include "app/MainForm.h"
#include "platform/Memory.h"

int main(int argc, char** argv) {
  // The arguments as delivered, before the framework takes its own options out.
  std::vector<std::string> Args(argv, argv + argc);
  const TCommandLine CommandLine = ParseCommandLine(Args, ProgramFolder());
  switch (CommandLine.Option) {
  case TProgramOption::Help:
    std::fputs(CommandLineUsage().c_str(), stdout);
    return 0;
  case TProgramOption::Version:
    std::puts("TobbinsImbrel " IMBREL_VERSION);
    return 0;
  case TProgramOption::Unknown:
    std::fprintf(stderr, "TobbinsImbrel: unknown option %s\n\n%s",
                 CommandLine.UnknownOption.c_str(), CommandLineUsage().c_str());
    return 2;
  case TProgramOption::None:
    break;
  }
  // One name for the window system and the desktop entry; the title stays the
  // error box's caption.
  QApplication::setApplicationName(QString::fromUtf8(ApplicationName));
  QGuiApplication::setDesktopFileName(QString::fromUtf8(DesktopFileName));
  // Qt reads the display's ICC profile too and would report a damaged one
  // itself; the program's own warning says it once (app/DisplayProfile.cpp).
  QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.icc.warning=false"));
  TuneHeapForPictures();
  TImbrelApplication Application(argc, argv);
  RegisterImageFormats();

  TfrmMain frmMain(std::move(Args));
  if (frmMain.ExitRequested()) return 0; // Esc during the start-up scan
  frmMain.AboutBox = std::make_unique<TAboutBox>(&frmMain);
  frmMain.AboutBox->hide();
  frmMain.show();
  return Application.exec();
}

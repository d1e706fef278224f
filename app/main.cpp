// Program entry: the application title, the main window (which catalogues the
// start folder), the hidden About box, then the event loop.

#include <string>
#include <vector>

#include "AboutBox.h"
#include "Application.h"
#include "Formats.h"
#include "MainForm.h"

int main(int argc, char** argv) {
  // The arguments as delivered, before the framework takes its own options out.
  std::vector<std::string> Args(argv, argv + argc);
  TImbrelApplication Application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tobbin's Imbrel"));
  RegisterImageFormats();

  TfrmMain frmMain(std::move(Args));
  if (frmMain.ExitRequested()) return 0; // Esc during the start-up scan
  frmMain.AboutBox = std::make_unique<TAboutBox>(&frmMain);
  frmMain.AboutBox->hide();
  frmMain.show();
  return Application.exec();
}

// The folder picker of the main window: the folder button and "Open...", and
// the selection handler that enables OK only for folders whose tree holds a
// picture.

#include "app/MainForm.h"

#include "platform/ui/BrowseFolder.h"
#include "grid/DbAltGrid.h"
#include "app/FolderWalk.h"
#include "app/PictureSearch.h"
#include "app/UserFolders.h"

#include <QPointer>

namespace {
// The search of the dialog that is open, while btnOpenDirClick runs it.
TPictureSearch* gSearch = nullptr;
} // namespace

void TfrmMain::btnOpenDirClick() {
  brfldMain->Title = "Select the folder with you image files below.";
  if (brfldMain->Directory.empty()) {
    // The program's folder when it has pictures to show (a CD's own folder);
    // an installed program's folder never has, and the user's Pictures folder
    // (or home) is where a first choice is made. The start-up scan may have
    // walked the program's folder already.
    const std::string Program = ProgramFolder();
    const bool HasPicture = !FProgramFolderEmpty && TreeHasPicture(Program);
    brfldMain->Directory = FirstBrowseFolder(Program, HasPicture);
  }

  bool confirmed = false;
  {
    TPictureSearch search;
    gSearch = &search;
    struct TReset {
      ~TReset() { gSearch = nullptr; }
    } reset;
    confirmed = brfldMain->Execute();
  }
  if (!confirmed) return;

  dbgPictures->SelectedRows().Clear();
  std::string folder = brfldMain->Directory;
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  ScanFolder(folder);
  UpdateStatusBar();
}

void TfrmMain::brfldMainSelectionChanged(TBrowseFolder& Sender, QWidget* DialogHandle,
                                         const std::string& Directory) {
  if (!gSearch) {
    // Not inside btnOpenDirClick's dialog: decide at once.
    Sender.EnableOK(DialogHandle, TreeHasPicture(Directory));
    return;
  }
  // The tree is searched on a worker thread so that the dialog keeps
  // answering; OK stays off until the search for the folder still selected
  // finds a picture.
  Sender.EnableOK(DialogHandle, false);
  Sender.SetStatusText(DialogHandle, QStringLiteral("Looking for pictures..."));
  QPointer<QWidget> dialog = DialogHandle;
  TBrowseFolder* sender = &Sender;
  gSearch->Start(Directory, [dialog, sender](bool found) {
    if (!dialog) return;
    sender->EnableOK(dialog, found);
    sender->SetStatusText(dialog,
                          found ? QString() : QStringLiteral("No pictures in this folder."));
  });
}

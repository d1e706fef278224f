// Stand-ins for the folder picker's and the drag hook's window methods, used
// only while their own sources are not in the tree yet.

#include "AboutBox.h"
#include "BrowseFolder.h"
#include "DbAltGrid.h"
#include "FolderWalk.h"
#include "MainForm.h"

void TfrmMain::btnOpenDirClick() {
  brfldMain->Title = "Select the folder with you image files below.";
  if (brfldMain->Directory.empty()) brfldMain->Directory = ProgramFolder();
  if (!brfldMain->Execute()) return;
  dbgPictures->SelectedRows().Clear();
  ScanFolder(MakeRootPath(brfldMain->Directory));
  UpdateStatusBar();
}

void TfrmMain::brfldMainSelectionChanged(TBrowseFolder& Sender, QWidget* DialogHandle, const std::string& Directory) {
  Sender.EnableOK(DialogHandle, TreeHasPicture(Directory));
}

bool TfrmMain::AppMessage(QObject*, QEvent*) { return false; }

void TfrmMain::mnuAboutClick() {
  if (AboutBox) AboutBox->exec();
}

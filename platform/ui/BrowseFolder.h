#pragma once
// The folder picker: a modal dialog with a folder tree rooted at the file
// system's root ("/"), the user's home folder expanded and one click away, a
// title line above the tree, a status line below it, and OK and Cancel.
// TBrowseFolder wraps it as a component with the properties the program sets.

#include <QDialog>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <string>

class QLabel;
class QPushButton;
class QTreeView;
class QFileSystemModel;
class QModelIndex;

enum TBrowseFlag : uint32_t {
  bfFileSysDirsOnly = 1u << 0,
  bfDontGoBelowDomain = 1u << 1,
  bfStatusText = 1u << 2,
  bfFileSysAncestors = 1u << 3,
  bfBrowseForComputer = 1u << 4,
  bfBrowseForPrinter = 1u << 5,
};
using TBrowseFlags = uint32_t;

// Where the tree starts. Every value maps to the file system's root here, with
// the home folder expanded; the names are kept for the callers.
enum class TRootFolder {
  foDesktop,
  foDesktopExpanded,
  foPrograms,
  foControlPanel,
  foPrinters,
  foPersonal,
  foFavorites,
  foStartup,
  foRecent,
  foSendto,
  foRecycleBin,
  foStartMenu,
  foDesktopDirectory,
  foMyComputer,
  foNetwork,
  foNetworkNeighborhood,
  foFonts,
  foTemplates
};

class TBrowseFolder;

// The dialog itself. Its address is the "dialog handle" handed to the
// selection-changed event and to TBrowseFolder::EnableOK.
class TBrowseFolderDialog : public QDialog {
public:
  TBrowseFolderDialog(TBrowseFolder& Owner, QWidget* Parent);

  // Selects and shows the folder Path; false when it does not exist.
  bool SelectPath(const std::string& Path);
  // The file-system path of the selected item ("" when nothing is selected).
  std::string SelectedPath() const;
  void SetOkEnabled(bool Enable);
  bool OkEnabled() const;
  void SetStatusText(const QString& Text);
  QString StatusText() const;
  QString TitleText() const;
  QTreeView* Tree() const { return FTree; }

protected:
  void showEvent(QShowEvent* Event) override;
  // Ends the bringing into view once the user works in the tree.
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void SelectionChanged(const QModelIndex& Current);
  // Expands the folders above Path and brings it into view. The model reads
  // and sorts folders in the background, so this runs again as each folder
  // arrives or is sorted, until the user scrolls, clicks or types in the tree.
  void Reveal(const QString& Path, bool ExpandItself);

  TBrowseFolder& FOwner;
  QLabel* FTitle = nullptr;
  QLabel* FStatus = nullptr;
  QTreeView* FTree = nullptr;
  QFileSystemModel* FModel = nullptr;
  QPushButton* FOk = nullptr;
  QPushButton* FCancel = nullptr;
  QString FHome;       // expanded at the start
  QString FRevealPath; // the selected folder still to be brought into view
};

class TBrowseFolder {
public:
  using TSelectionChangedEvent = std::function<void(TBrowseFolder& Sender, QWidget* DialogHandle,
                                                    const std::string& Directory)>;

  explicit TBrowseFolder(QWidget* Owner) : FOwner(Owner) {}

  std::string Title;
  // On opening: the folder to preselect. After OK: the chosen folder's path.
  std::string Directory;
  TBrowseFlags Flags = bfFileSysDirsOnly | bfStatusText;
  TRootFolder RootFolder = TRootFolder::foDesktopExpanded;
  bool ShowPathInStatusArea = false;
  TSelectionChangedEvent OnSelectionChanged;

  // Called once the dialog exists and is placed, before it runs; tests use it
  // to drive the dialog (select folders, press OK or Cancel) from inside the
  // modal loop. Runs after the preselection.
  std::function<void(TBrowseFolderDialog& Dialog)> OnDialogShown;

  // Shows the modal dialog. True and Directory set when the user confirms;
  // false and Directory unchanged when the user cancels.
  bool Execute();

  // Enables or disables the OK button of the open dialog DialogHandle.
  void EnableOK(QWidget* DialogHandle, bool Enable);
  // Sets the status line of the open dialog DialogHandle.
  void SetStatusText(QWidget* DialogHandle, const QString& Text);

  QWidget* Owner() const { return FOwner; }
  // The dialog while Execute runs, else null.
  TBrowseFolderDialog* Dialog() const { return FDialog; }

private:
  friend class TBrowseFolderDialog;
  void SelectionChanged(TBrowseFolderDialog& Dialog, const std::string& Path);

  QWidget* FOwner;
  QPointer<TBrowseFolderDialog> FDialog;
};

#pragma once
// The picture catalogue's file-system side: the picture extensions, the folder
// root rule, the walk of a folder tree and the program's own folder. No Qt GUI
// calls here, so the walk may run on a worker thread.

#include <array>
#include <atomic>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The fifteen picture extensions, leading dot, lower case, in table order.
inline constexpr std::array<std::string_view, 15> PictureExtensions = {
    ".bmp", ".ico", ".jpg", ".jpeg", ".emf", ".wmf", ".pcx", ".pcc",
    ".dcx", ".png", ".tga", ".vst",  ".afi", ".tif", ".tiff"};

// The extension of a file name: from its last dot to the end, dot included;
// empty when the name has no dot.
std::string_view FileExtension(std::string_view Name);

// Index into PictureExtensions of the name's whole extension, compared without
// regard to the case of A-Z/a-z; -1 when the name is not a picture.
int PictureExtensionIndex(std::string_view Name);

// True when the name's whole extension is one of PictureExtensions.
inline bool IsPictureFileName(std::string_view Name) {
  return PictureExtensionIndex(Name) >= 0;
}

// The folder root rule: the folder text is kept whole and a '/' is appended
// when missing (an empty text gives "/").
std::string MakeRootPath(std::string_view Folder);

// True when Path names an existing folder (links followed).
bool DirectoryExists(const std::string& Path);

// One picture file met by the walk.
struct TWalkPicture {
  const std::string& Folder;  // the folder being walked, ending in '/'
  std::string_view Name;      // the entry's name as the file system returns it
  std::string_view Extension; // the matched extension with its dot, in the name's own case
  int ExtensionIndex;         // index into PictureExtensions
  bool HasTime;               // false when the last-write time could not be read
  std::time_t MTime;          // last-write time (seconds since the epoch) when HasTime
};

struct TWalkOptions {
  // Read each picture's last-write time (one stat per picture). The folder
  // picker only asks whether a picture exists and switches this off.
  bool ReadTimes = true;
  // When set, the walk ends (answering false) as soon as the flag turns true;
  // lets a search on a worker thread be abandoned.
  const std::atomic<bool>* Stop = nullptr;
};

// Returns false to stop the walk at once.
using TWalkCallback = std::function<bool(const TWalkPicture&)>;

// Walks the tree below Folder (the root made by MakeRootPath) and calls
// OnPicture for every picture file, in the catalogue's order: a last-in-first-out
// stack of folders, every file of a folder before any of its subfolders, the
// subfolder found last walked first. Entries whose name begins with '.' are
// skipped, "." and ".." included. A name is a folder when the path names an
// existing folder (links followed); a folder already walked in this walk (same
// device and inode) is not walked again, so link loops end. Folders that cannot
// be enumerated contribute nothing. Returns false when the callback stopped the
// walk. Exceptions from the callback pass out after the folder handles are
// closed. Thread-safe: uses only POSIX calls.
bool WalkPictureTree(std::string_view Folder, const TWalkCallback& OnPicture,
                     const TWalkOptions& Options = {});

// True when the tree below Folder holds at least one picture (stops at the first).
bool TreeHasPicture(std::string_view Folder);

// The program's own folder, ending in '/': the folder of /proc/self/exe (or the
// application's folder when that cannot be read). Tests may override it.
std::string ProgramFolder();
void SetProgramFolderOverride(std::string Folder); // empty: no override

// The "--" options: they answer without starting the window.
enum class TProgramOption { None, Help, Version, Unknown };

// The command line as the start-up reads it.
struct TCommandLine {
  std::string FolderText;   // text after the last "Dir:" (resolved when it began with '.')
  bool FolderFound = false; // set once any "Dir:" folder existed; stays set
  bool SlideShow = false;   // some argument contained "slideshow"
  // The last plain path (what a file manager's "Open with" passes): the folder
  // to catalogue, absolute and ending in '/', and for a picture file its name
  // in that folder, to start on. Both empty when there was none.
  std::string PathFolder;
  std::string PathPicture;
  // An unknown option wins over --help, which wins over --version.
  TProgramOption Option = TProgramOption::None;
  std::string UnknownOption; // the first unknown option, as given
  bool NoOrient = false;     // some argument was "-noorient": photos shown as stored
  bool NoColor = false;      // some argument was "-nocolor": stored colour values shown
};

// Reads arguments 1..N (Args[0] is the program name). The two substring tests
// apply to every argument as delivered: one containing "slideshow" sets the
// slide-show flag; one containing "Dir:" (case-sensitive) sets the folder text
// to what follows its first "Dir:", resolved relative to ProgramFolderPath
// (which ends in '/') when it begins with '.'. An argument containing neither
// is
//  - an option when it begins with "--" and comes before a lone "--":
//    "--help", "--version" or an unknown one;
//  - otherwise a plain path when it names an existing folder, or an existing
//    file with a picture extension (relative paths from the working folder);
//    anything else is ignored.
TCommandLine ParseCommandLine(const std::vector<std::string>& Args,
                              const std::string& ProgramFolderPath);

// The --help text, ending in a newline.
std::string CommandLineUsage();

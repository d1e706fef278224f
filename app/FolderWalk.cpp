#include "app/FolderWalk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <mutex>
#include <set>
#include <utility>

namespace {

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Closes a directory stream on every path out of the loop body.
struct TDirCloser {
  DIR* Dir;
  ~TDirCloser() {
    if (Dir != nullptr) closedir(Dir);
  }
};

std::mutex ProgramFolderLock;
std::string ProgramFolderOverride;

} // namespace

std::string_view FileExtension(std::string_view Name) {
  const auto Dot = Name.rfind('.');
  if (Dot == std::string_view::npos) return {};
  return Name.substr(Dot);
}

int PictureExtensionIndex(std::string_view Name) {
  const std::string_view Ext = FileExtension(Name);
  // The longest entry is ".jpeg"/".tiff": five characters.
  if (Ext.size() < 4 || Ext.size() > 5) return -1;
  char Lower[5];
  for (std::size_t i = 0; i < Ext.size(); ++i)
    Lower[i] = AsciiLower(Ext[i]);
  const std::string_view Key(Lower, Ext.size());
  for (std::size_t i = 0; i < PictureExtensions.size(); ++i)
    if (PictureExtensions[i] == Key) return static_cast<int>(i);
  return -1;
}

std::string MakeRootPath(std::string_view Folder) {
  std::string Root(Folder);
  if (Root.empty() || Root.back() != '/') Root += '/';
  return Root;
}

bool DirectoryExists(const std::string& Path) {
  struct stat St {};
  return !Path.empty() && ::stat(Path.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

bool WalkPictureTree(std::string_view Folder, const TWalkCallback& OnPicture,
                     const TWalkOptions& Options) {
  std::vector<std::string> Stack; // last in, first out
  Stack.push_back(MakeRootPath(Folder));
  std::set<std::pair<dev_t, ino_t>> Walked;

  while (!Stack.empty()) {
    if (Options.Stop && Options.Stop->load(std::memory_order_relaxed)) return false;
    const std::string Current = std::move(Stack.back());
    Stack.pop_back();

    TDirCloser Closer{::opendir(Current.c_str())};
    if (Closer.Dir == nullptr) continue; // cannot be enumerated: contributes nothing
    const int Fd = ::dirfd(Closer.Dir);
    struct stat DirInfo {};
    if (::fstat(Fd, &DirInfo) != 0) continue;
    if (!Walked.emplace(DirInfo.st_dev, DirInfo.st_ino).second)
      continue; // reached again through a link

    // Subfolders are pushed in the order found; the stack pops the last first.
    while (const dirent* Entry = ::readdir(Closer.Dir)) {
      if (Options.Stop && Options.Stop->load(std::memory_order_relaxed)) return false;
      const std::string_view Name(Entry->d_name);
      if (Name.empty() || Name.front() == '.') continue; // hidden, "." and ".."

      bool IsFolder = false;
      bool Known = false; // St holds the entry's (followed) status
      struct stat St {};
      switch (Entry->d_type) {
      case DT_DIR:
        IsFolder = true;
        break;
      case DT_REG:
        break;
      default: // links, unknown: the path decides
        if (::fstatat(Fd, Entry->d_name, &St, 0) == 0) {
          Known = true;
          IsFolder = S_ISDIR(St.st_mode);
        }
        break;
      }
      if (IsFolder) {
        std::string Sub;
        Sub.reserve(Current.size() + Name.size() + 1);
        Sub.append(Current).append(Name).push_back('/');
        Stack.push_back(std::move(Sub));
        continue;
      }

      const int Index = PictureExtensionIndex(Name);
      if (Index < 0) continue;
      bool HasTime = false;
      std::time_t MTime = 0;
      if (Options.ReadTimes) {
        if (!Known && ::fstatat(Fd, Entry->d_name, &St, 0) == 0) Known = true;
        if (Known) {
          HasTime = true;
          MTime = St.st_mtim.tv_sec;
        }
      }
      const TWalkPicture Picture{Current, Name, FileExtension(Name), Index, HasTime, MTime};
      if (!OnPicture(Picture)) return false;
    }
  }
  return true;
}

bool TreeHasPicture(std::string_view Folder) {
  TWalkOptions Options;
  Options.ReadTimes = false;
  return !WalkPictureTree(
      Folder, [](const TWalkPicture&) { return false; }, Options);
}

std::string ProgramFolder() {
  {
    const std::lock_guard<std::mutex> Guard(ProgramFolderLock);
    if (!ProgramFolderOverride.empty()) return ProgramFolderOverride;
  }
  std::string Path(PATH_MAX, '\0');
  const ssize_t N = ::readlink("/proc/self/exe", Path.data(), Path.size());
  if (N > 0 && static_cast<std::size_t>(N) < Path.size()) {
    Path.resize(static_cast<std::size_t>(N));
    const auto Slash = Path.rfind('/');
    if (Slash != std::string::npos) return Path.substr(0, Slash + 1);
  }
  // No /proc: the working folder is the best guess left.
  char Cwd[PATH_MAX];
  if (::getcwd(Cwd, sizeof Cwd) != nullptr) return MakeRootPath(Cwd);
  return "./";
}

void SetProgramFolderOverride(std::string Folder) {
  const std::lock_guard<std::mutex> Guard(ProgramFolderLock);
  ProgramFolderOverride = Folder.empty() ? std::string() : MakeRootPath(Folder);
}

namespace {

// A plain argument naming an existing folder or picture file: sets the folder
// to catalogue and the picture to start on; anything else leaves them alone.
void ReadPlainPath(const std::string& Arg, TCommandLine& Result) {
  if (Arg.empty()) return;
  struct stat St {};
  if (::stat(Arg.c_str(), &St) != 0) return;
  std::error_code Error;
  const std::filesystem::path Path =
      std::filesystem::absolute(std::filesystem::path(Arg), Error).lexically_normal();
  if (Error) return;
  if (S_ISDIR(St.st_mode)) {
    Result.PathFolder = MakeRootPath(Path.string());
    Result.PathPicture.clear();
  } else if (S_ISREG(St.st_mode) && IsPictureFileName(Path.filename().string())) {
    Result.PathFolder = MakeRootPath(Path.parent_path().string());
    Result.PathPicture = Path.filename().string();
  }
}

} // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& Args,
                              const std::string& ProgramFolderPath) {
  TCommandLine Result;
  bool OptionsEnded = false;
  for (std::size_t i = 1; i < Args.size(); ++i) {
    const std::string& Arg = Args[i];
    const bool SlideShow = Arg.find("slideshow") != std::string::npos;
    if (SlideShow) Result.SlideShow = true;
    const bool NoOrient = Arg == "-noorient";
    if (NoOrient) Result.NoOrient = true;
    const bool NoColor = Arg == "-nocolor";
    if (NoColor) Result.NoColor = true;
    const auto At = Arg.find("Dir:");
    if (At == std::string::npos && !SlideShow && !NoOrient && !NoColor) {
      if (!OptionsEnded && Arg == "--") {
        OptionsEnded = true;
      } else if (!OptionsEnded && Arg.rfind("--", 0) == 0) {
        if (Arg == "--help") {
          if (Result.Option != TProgramOption::Unknown) Result.Option = TProgramOption::Help;
        } else if (Arg == "--version") {
          if (Result.Option == TProgramOption::None) Result.Option = TProgramOption::Version;
        } else if (Result.Option != TProgramOption::Unknown) {
          Result.Option = TProgramOption::Unknown;
          Result.UnknownOption = Arg;
        }
      } else {
        ReadPlainPath(Arg, Result);
      }
    }
    if (At == std::string::npos) continue;
    std::string Text = Arg.substr(At + 4);
    if (!Text.empty() && Text.front() == '.') {
      // Relative to the program's folder: "." is the folder itself, "./x" a
      // folder below it, "../x" one beside it.
      std::string Resolved = MakeRootPath(ProgramFolderPath);
      if (Text == ".")
        Text.clear();
      else if (Text.rfind("./", 0) == 0)
        Text.erase(0, 2);
      Resolved += Text;
      Text = MakeRootPath(Resolved);
    }
    Result.FolderText = Text;
    if (DirectoryExists(Result.FolderText)) Result.FolderFound = true;
  }
  return Result;
}

std::string CommandLineUsage() {
  return "Usage: TobbinsImbrel [-Dir:FOLDER] [-slideshow] [-noorient] [-nocolor]\n"
         "                     [FOLDER | PICTURE]\n"
         "Catalogues every picture in a folder tree and shows them full screen.\n"
         "\n"
         "  -Dir:FOLDER  catalogue FOLDER; a FOLDER beginning with '.' is taken\n"
         "               relative to the program's own folder\n"
         "  -slideshow   start the slide show\n"
         "  -noorient    show photos as stored, not turned by their orientation\n"
         "  -nocolor     show stored colour values, not converted from the picture's\n"
         "               colour profile to the display's\n"
         "  FOLDER       catalogue FOLDER (when no -Dir: folder exists)\n"
         "  PICTURE      catalogue the picture's folder and start on the picture\n"
         "  --help       print this help and exit\n"
         "  --version    print the version and exit\n"
         "\n"
         "Without a folder the program's own folder is catalogued.\n";
}

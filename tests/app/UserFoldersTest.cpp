// The user's folders: reading XDG_PICTURES_DIR from user-dirs.dirs text, and
// the folder the folder dialog opens on first, from a real home folder tree.

#include "app/UserFolders.h"
#include "tests/app/TempTree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace {

struct TDirsCase {
  const char* What;
  const char* Text;
  const char* Expected; // with the home folder "/home/ann"
};

const TDirsCase DirsCases[] = {
    {"the usual line", "XDG_PICTURES_DIR=\"$HOME/Pictures\"\n", "/home/ann/Pictures"},
    {"among the others, with comments",
     "# This file is written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
     "XDG_PICTURES_DIR=\"$HOME/Bilder\"\nXDG_VIDEOS_DIR=\"$HOME/Videos\"\n",
     "/home/ann/Bilder"},
    {"an absolute path", "XDG_PICTURES_DIR=\"/srv/photos\"", "/srv/photos"},
    {"escapes undone, spaces kept", "XDG_PICTURES_DIR=\"$HOME/My \\\"Best\\\" \\$Pics\"\n",
     "/home/ann/My \"Best\" $Pics"},
    {"trailing slashes dropped", "XDG_PICTURES_DIR=\"/srv/photos//\"\n", "/srv/photos"},
    {"$HOME/ is the home folder itself", "XDG_PICTURES_DIR=\"$HOME/\"\n", "/home/ann"},
    {"the last line wins", "XDG_PICTURES_DIR=\"$HOME/a\"\nXDG_PICTURES_DIR=\"$HOME/b\"\n",
     "/home/ann/b"},
    {"a broken later line leaves the earlier",
     "XDG_PICTURES_DIR=\"$HOME/a\"\nXDG_PICTURES_DIR=\"relative\"\n", "/home/ann/a"},
    {"a commented line is no line", "# XDG_PICTURES_DIR=\"$HOME/Pictures\"\n", ""},
    {"another name only", "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n", ""},
    {"a longer name is another name", "XDG_PICTURES_DIRS=\"$HOME/x\"\n", ""},
    {"a relative path is refused", "XDG_PICTURES_DIR=\"Pictures\"\n", ""},
    {"$HOME glued to a name is refused", "XDG_PICTURES_DIR=\"$HOMEX/Pictures\"\n", ""},
    {"an unquoted value is refused", "XDG_PICTURES_DIR=$HOME/Pictures\n", ""},
    {"an unclosed quote is refused", "XDG_PICTURES_DIR=\"$HOME/Pictures\n", ""},
    {"text after the quote is refused", "XDG_PICTURES_DIR=\"$HOME/a\" rm -rf\n", ""},
    {"CRLF line ends are not blanks", "XDG_PICTURES_DIR=\"$HOME/a\"\r\n", ""},
    {"an empty file", "", ""},
};

TEST(UserDirs, PicturesLineTable) {
  for (const TDirsCase& C : DirsCases) {
    SCOPED_TRACE(C.What);
    EXPECT_EQ(ParseUserDirs(C.Text, "PICTURES", "/home/ann"), C.Expected);
  }
  // $HOME cannot be resolved without a home folder; an absolute path still can.
  EXPECT_EQ(ParseUserDirs("XDG_PICTURES_DIR=\"$HOME/Pictures\"\n", "PICTURES", ""), "");
  EXPECT_EQ(ParseUserDirs("XDG_PICTURES_DIR=\"/srv/p\"\n", "PICTURES", ""), "/srv/p");
}

// Sets an environment variable for one scope (unset when Value is empty), and
// puts back what was there.
class TEnvironment {
public:
  TEnvironment(const char* Name, std::optional<std::string> Value) : FName(Name) {
    if (const char* Old = std::getenv(Name)) FOld = Old;
    if (Value)
      ::setenv(Name, Value->c_str(), 1);
    else
      ::unsetenv(Name);
  }
  ~TEnvironment() {
    if (FOld)
      ::setenv(FName, FOld->c_str(), 1);
    else
      ::unsetenv(FName);
  }
  TEnvironment(const TEnvironment&) = delete;
  TEnvironment& operator=(const TEnvironment&) = delete;

private:
  const char* FName;
  std::optional<std::string> FOld;
};

struct TFirstCase {
  const char* What;
  bool ProgramHasPicture;
  const char* Home;       // relative to the tree
  const char* ConfigHome; // XDG_CONFIG_HOME; "@" starts a path in the tree; nullptr: unset
  const char* UserDirsAt; // where user-dirs.dirs is written, in the tree; nullptr: none
  const char* UserDirsText;
  const char* Expected; // relative to the tree
  bool Decoy = false;   // config/user-dirs.dirs (relative to the tree) names Pictures
};

TEST(UserDirs, FirstBrowseFolderFromARealHome) {
  TTempTree Tree;
  Tree.Folder("prog");
  Tree.Folder("home/Pictures");
  Tree.Folder("home/Bilder");
  Tree.Folder("config");
  const TFirstCase Cases[] = {
      {"the program's folder holds a picture", true, "home", nullptr, "home/.config",
       "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n", "prog/"},
      {"Pictures as user-dirs names it", false, "home", nullptr, "home/.config",
       "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n", "home/Bilder"},
      {"user-dirs under XDG_CONFIG_HOME", false, "home", "@config", "config",
       "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n", "home/Bilder"},
      {"a relative XDG_CONFIG_HOME is ignored", false, "home", "config", "home/.config",
       "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n", "home/Bilder", true},
      {"a named folder that does not exist: home", false, "home", nullptr, "home/.config",
       "XDG_PICTURES_DIR=\"$HOME/Fotos\"\n", "home"},
      {"no user-dirs file: home, not a guess", false, "home", nullptr, nullptr, "", "home"},
      {"no line for Pictures: home", false, "home", nullptr, "home/.config",
       "XDG_MUSIC_DIR=\"$HOME/Music\"\n", "home"},
      {"home missing too: the program's folder", false, "nohome", nullptr, nullptr, "", "prog/"},
  };
  for (const TFirstCase& C : Cases) {
    SCOPED_TRACE(C.What);
    std::error_code Ignored;
    std::filesystem::remove(Tree.Path("home/.config/user-dirs.dirs"), Ignored);
    std::filesystem::remove(Tree.Path("config/user-dirs.dirs"), Ignored);
    if (C.UserDirsAt) Tree.File(std::string(C.UserDirsAt) + "/user-dirs.dirs", C.UserDirsText);
    if (C.Decoy) Tree.File("config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Pictures\"\n");
    std::optional<std::string> Config;
    if (C.ConfigHome)
      Config = C.ConfigHome[0] == '@' ? Tree.Path(C.ConfigHome + 1) : std::string(C.ConfigHome);
    const TEnvironment Home("HOME", Tree.Path(C.Home));
    const TEnvironment ConfigHome("XDG_CONFIG_HOME", Config);
    // Run from the tree, so that a relative XDG_CONFIG_HOME would find a file there.
    const auto Before = std::filesystem::current_path();
    std::filesystem::current_path(Tree.Root());
    const std::string Found = FirstBrowseFolder(Tree.Path("prog/"), C.ProgramHasPicture);
    std::filesystem::current_path(Before);
    EXPECT_EQ(Found, Tree.Path(C.Expected));
  }
}

TEST(UserDirs, HomeFolderFromTheEnvironmentOrThePasswordEntry) {
  {
    const TEnvironment Home("HOME", std::string("/somewhere/ann/"));
    EXPECT_EQ(HomeFolder(), "/somewhere/ann");
  }
  const TEnvironment NoHome("HOME", std::nullopt);
  EXPECT_FALSE(HomeFolder().empty()) << "the password database names every user's home";
}

} // namespace

#include "app/UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/FolderWalk.h"

namespace {

std::string_view TrimLeft(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t'))
    Text.remove_prefix(1);
  return Text;
}

void DropTrailingSlashes(std::string& Path) {
  while (Path.size() > 1 && Path.back() == '/')
    Path.pop_back();
}

// The value of a line "<Key>\"...\"" read as a shell reads a double-quoted
// word: a backslash takes the next character as it is. False when the line is
// for another key or its value is not one quoted word.
bool LineValue(std::string_view Line, std::string_view Key, std::string& Value) {
  Line = TrimLeft(Line);
  if (Line.substr(0, Key.size()) != Key) return false;
  Line.remove_prefix(Key.size());
  if (Line.empty() || Line.front() != '"') return false;
  Line.remove_prefix(1);
  Value.clear();
  for (std::size_t i = 0; i < Line.size(); ++i) {
    const char C = Line[i];
    if (C == '"') {
      // Only blanks may follow the closing quote.
      return TrimLeft(Line.substr(i + 1)).empty();
    }
    if (C == '\\') {
      if (++i == Line.size()) return false;
      Value.push_back(Line[i]);
    } else {
      Value.push_back(C);
    }
  }
  return false; // no closing quote
}

std::string EnvironmentPath(const char* Name) {
  const char* Value = std::getenv(Name);
  return Value != nullptr ? std::string(Value) : std::string();
}

bool IsFolder(const std::string& Path) {
  return !Path.empty() && DirectoryExists(Path);
}

} // namespace

std::string ParseUserDirs(std::string_view Text, std::string_view Name, std::string_view Home) {
  const std::string Key = "XDG_" + std::string(Name) + "_DIR=";
  std::string Found;
  std::string Value;
  while (!Text.empty()) {
    const auto End = Text.find('\n');
    const std::string_view Line = Text.substr(0, End);
    Text.remove_prefix(End == std::string_view::npos ? Text.size() : End + 1);
    if (TrimLeft(Line).substr(0, 1) == "#" || !LineValue(Line, Key, Value)) continue;
    std::string Path;
    if (Value.rfind("$HOME", 0) == 0 && (Value.size() == 5 || Value[5] == '/')) {
      if (Home.empty()) continue;
      Path = std::string(Home) + Value.substr(5);
    } else if (!Value.empty() && Value.front() == '/') {
      Path = Value;
    } else {
      continue; // neither form the file allows
    }
    DropTrailingSlashes(Path);
    Found = Path; // a later line for the same name wins
  }
  return Found;
}

std::string HomeFolder() {
  std::string Home = EnvironmentPath("HOME");
  if (Home.empty()) {
    long Size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> Buffer(Size > 0 ? static_cast<std::size_t>(Size) : 16384);
    passwd Entry{};
    passwd* Result = nullptr;
    if (::getpwuid_r(::getuid(), &Entry, Buffer.data(), Buffer.size(), &Result) == 0 &&
        Result != nullptr && Result->pw_dir != nullptr)
      Home = Result->pw_dir;
  }
  DropTrailingSlashes(Home);
  return Home;
}

std::string UserPicturesFolder() {
  const std::string Home = HomeFolder();
  std::string Config = EnvironmentPath("XDG_CONFIG_HOME");
  // A relative XDG_CONFIG_HOME is to be ignored.
  if (Config.empty() || Config.front() != '/') {
    if (Home.empty()) return {};
    Config = Home + "/.config";
  }
  std::ifstream File(Config + "/user-dirs.dirs", std::ios::binary);
  if (!File) return {};
  std::ostringstream Text;
  Text << File.rdbuf();
  return ParseUserDirs(Text.str(), "PICTURES", Home);
}

std::string FirstBrowseFolder(const std::string& ProgramFolder, bool ProgramFolderHasPicture) {
  if (ProgramFolderHasPicture) return ProgramFolder;
  if (const std::string Pictures = UserPicturesFolder(); IsFolder(Pictures)) return Pictures;
  if (const std::string Home = HomeFolder(); IsFolder(Home)) return Home;
  return ProgramFolder;
}

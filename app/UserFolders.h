#pragma once
// The user's own folders as the desktop names them: the home folder and the
// XDG user folders listed in $XDG_CONFIG_HOME/user-dirs.dirs. POSIX calls only,
// no Qt. The folder dialog opens on one of them when the program's own folder
// (where an installed program never keeps pictures) has nothing to show.

#include <string>
#include <string_view>

// The folder one XDG_<Name>_DIR line of a user-dirs.dirs text names (Name is
// "PICTURES" for XDG_PICTURES_DIR): the quoted value with its backslash escapes
// undone and a leading "$HOME" replaced by Home. The file's own rules: a value
// is "$HOME/..." or an absolute path, nothing else; lines starting with '#' are
// comments; of several lines for one name the last counts, as when the file is
// read by a shell. Empty when no line names a usable folder. Trailing '/' are
// dropped ("$HOME/" gives Home itself, which the file uses for "none").
std::string ParseUserDirs(std::string_view Text, std::string_view Name, std::string_view Home);

// The user's home folder: $HOME, else the password database's entry; empty
// when neither names one.
std::string HomeFolder();

// The user's Pictures folder as user-dirs.dirs names it, read from
// $XDG_CONFIG_HOME (when set to an absolute path) or ~/.config; empty when the
// file or the line is missing. Whether the folder exists is not checked.
std::string UserPicturesFolder();

// Where the folder dialog opens the first time: the program's own folder when
// its tree holds a picture (ProgramFolderHasPicture), else the user's Pictures
// folder when it exists, else the home folder when it exists, else the
// program's folder.
std::string FirstBrowseFolder(const std::string& ProgramFolder, bool ProgramFolderHasPicture);

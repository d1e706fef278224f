#pragma once
// A scratch folder tree for one test: made empty in the constructor, removed in
// the destructor. Paths given to the helpers are relative to the root.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class TTempTree {
public:
  TTempTree() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "imbrel-app-XXXXXX").string();
    if (::mkdtemp(Pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    FRoot = Pattern + "/";
  }
  ~TTempTree() {
    std::error_code Ignored;
    std::filesystem::remove_all(FRoot, Ignored);
  }
  TTempTree(const TTempTree&) = delete;
  TTempTree& operator=(const TTempTree&) = delete;

  // The root folder, ending in '/'.
  const std::string& Root() const { return FRoot; }
  std::string Path(const std::string& Relative) const { return FRoot + Relative; }

  void Folder(const std::string& Relative) const {
    std::filesystem::create_directories(Path(Relative));
  }

  // Writes a file (making its folders); Bytes may be empty. MTime, when not 0,
  // becomes the file's last-write time.
  void File(const std::string& Relative, const std::string& Bytes = {},
            std::time_t MTime = 0) const {
    const std::filesystem::path P(Path(Relative));
    std::filesystem::create_directories(P.parent_path());
    std::ofstream(P, std::ios::binary) << Bytes;
    if (MTime != 0) {
      const timespec Times[2] = {{MTime, 0}, {MTime, 0}};
      ::utimensat(AT_FDCWD, P.c_str(), Times, 0);
    }
  }

  void Link(const std::string& Target, const std::string& Relative) const {
    std::filesystem::create_symlink(Target, Path(Relative));
  }

  void Copy(const std::string& From, const std::string& Relative) const {
    const std::filesystem::path P(Path(Relative));
    std::filesystem::create_directories(P.parent_path());
    std::filesystem::copy_file(From, P, std::filesystem::copy_options::overwrite_existing);
  }

private:
  std::string FRoot;
};

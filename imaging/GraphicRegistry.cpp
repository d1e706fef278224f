#include "imaging/GraphicRegistry.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TRegistry {
  std::mutex Lock;
  std::vector<TGraphicFormatEntry> Entries;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

std::string Upper(std::string S) {
  for (char& c : S)
    c = char(std::toupper(static_cast<unsigned char>(c)));
  return S;
}

bool IsFile(const std::string& Name) {
  struct stat st;
  return ::stat(Name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PathExists(const std::string& Name) {
  struct stat st;
  return ::lstat(Name.c_str(), &st) == 0;
}

} // namespace

std::string ExtractFileExt(const std::string& FileName) {
  const size_t slash = FileName.find_last_of('/');
  const size_t dot = FileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return FileName.substr(dot);
}

void RegisterGraphicFormat(const std::string& Extension, const std::string& Description,
                           TDibGraphicClass GraphicClass) {
  std::string ext = Extension;
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  r.Entries.push_back(TGraphicFormatEntry{Upper(ext), Description, GraphicClass});
}

std::vector<TGraphicFormatEntry> RegisteredGraphicFormats() {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  return r.Entries;
}

TDibGraphicClass GraphicClassForFile(const std::string& FileName) {
  std::string ext = Upper(ExtractFileExt(FileName));
  if (ext.empty()) ext = "." + Upper(FileName);
  ext.erase(0, 1);
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  for (const TGraphicFormatEntry& e : r.Entries)
    if (e.Extension == ext) return e.GraphicClass;
  return nullptr;
}

std::unique_ptr<TDibGraphic> CreateGraphicForFile(const std::string& FileName) {
  const TDibGraphicClass cls = GraphicClassForFile(FileName);
  if (!cls) {
    std::string msg = "Graphic files of %s format are not supported or not registered";
    msg.replace(msg.find("%s"), 2, ExtractFileExt(FileName));
    throw EImageError(msg);
  }
  return cls->Create();
}

std::unique_ptr<TDibGraphic> CreateGraphicFromStream(TStream& Stream,
                                                     const std::string& FileNameOrExt, int Index) {
  if (GraphicClassForFile(FileNameOrExt)) {
    std::unique_ptr<TDibGraphic> graphic = CreateGraphicForFile(FileNameOrExt);
    if (Index != 0)
      graphic->SetImageIndex(Index);
    else
      graphic->SetLoadAllImages(true);
    graphic->LoadFromStream(Stream); // on failure the graphic is freed on the way out
    return graphic;
  }

  // The platform's picture reader, which decides by the file's extension; it
  // reads the bytes from memory (no temporary file).
  // A name that is no file and has no extension is a bare extension.
  std::string ext = ExtractFileExt(FileNameOrExt);
  if (ext.empty() && !IsFile(FileNameOrExt) && !FileNameOrExt.empty())
    ext = FileNameOrExt[0] == '.' ? FileNameOrExt : "." + FileNameOrExt;
  const std::string suffix = ext.empty() ? std::string() : Upper(ext.substr(1));
  std::string format;
  for (const std::string& f : PictureReaderFormats())
    if (Upper(f) == suffix) format = f;
  if (format.empty()) throw EInvalidGraphic("Unknown picture file extension (" + ext + ")");
  // An existing file is read by name (as a regular file only), anything else
  // from the stream.
  std::unique_ptr<TFileStream> file;
  if (IsFile(FileNameOrExt))
    file = std::make_unique<TFileStream>(FileNameOrExt, TFileMode::fmOpenRead);
  const TStreamBytes bytes(file ? *file : Stream);
  std::string error;
  TBitmapHandle bitmap = ReadPictureData(bytes.Data(), bytes.Size(), format, error);
  if (!bitmap) throw EInvalidGraphic(error.empty() ? "Invalid graphic" : error);
  TBitmap container;
  container.SetHandle(bitmap);
  auto graphic = std::make_unique<TDibGraphic>();
  graphic->Assign(&container);
  return graphic;
}

std::string CreateTempFile(const std::string& Prefix, const std::string& Extension) {
  std::string folder = TempFolder();
  if (folder.empty()) throw Exception("QvMisc.CreateTempFile.GetTempPath failed");
  if (folder.back() != '/') folder += '/';
  std::string ext = Extension;
  if (!ext.empty() && ext[0] != '.') ext = "." + ext;
  for (unsigned long n = 0;; ++n) {
    const std::string candidate = folder + Prefix + std::to_string(n) + ext;
    if (!PathExists(candidate)) return candidate;
  }
}

#include "GraphicRegistry.h"

#include <QImageReader>

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

bool FileExists(const std::string& Name) {
  struct stat st;
  return !Name.empty() && ::stat(Name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PathExists(const std::string& Name) {
  struct stat st;
  return ::lstat(Name.c_str(), &st) == 0;
}

// Removes a file when the scope ends, whatever happens in it.
class TTempFileGuard {
public:
  explicit TTempFileGuard(std::string Name) : FName(std::move(Name)) {}
  ~TTempFileGuard() {
    if (!FName.empty()) ::unlink(FName.c_str());
  }

private:
  std::string FName;
};

constexpr const char* kTempPrefix = "im";

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

  // The platform's picture reader, which decides by the file's extension.
  std::string name = FileNameOrExt;
  std::string tempName;
  if (!FileExists(name)) {
    // A bare extension (or a name that is not a file): a temporary copy of
    // the stream's remaining bytes, with that extension.
    const std::string ext = ExtractFileExt(FileNameOrExt);
    tempName = CreateTempFile(kTempPrefix, ext.empty() ? FileNameOrExt : ext);
    name = tempName;
  }
  TTempFileGuard guard(tempName); // removes the temporary file on every way out
  if (!tempName.empty()) {
    TFileStream out(tempName, TFileMode::fmCreate);
    const int64_t left = Stream.Size() - Stream.Position();
    if (left > 0) out.CopyFrom(Stream, left);
  }
  const std::string ext = ExtractFileExt(name);
  const std::string suffix = ext.empty() ? std::string() : Upper(ext.substr(1));
  bool known = false;
  for (const QByteArray& f : QImageReader::supportedImageFormats())
    if (Upper(f.toStdString()) == suffix) known = true;
  if (!known) throw EInvalidGraphic("Unknown picture file extension (" + ext + ")");
  std::string error;
  TBitmapHandle bitmap = ReadPictureFile(name, error);
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

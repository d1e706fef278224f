// TIFF files through TTiffGraphic (libtiff with our client procedures), every
// page of the file.

#include "fuzz/common/FuzzLimits.h"
#include "formats/TiffGraphic.h"

#include <tiffio.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {
constexpr int kMaxPages = 16;

struct TMemory {
  const uint8_t* Data;
  uint64_t Size, Pos;
};
tmsize_t Read(thandle_t H, void* B, tmsize_t N) {
  auto* M = static_cast<TMemory*>(H);
  const uint64_t Left = M->Pos < M->Size ? M->Size - M->Pos : 0;
  const uint64_t Count = std::min<uint64_t>(Left, uint64_t(N));
  if (Count > 0) std::memcpy(B, M->Data + M->Pos, Count);
  M->Pos += Count;
  return tmsize_t(Count);
}
tmsize_t Write(thandle_t, void*, tmsize_t) {
  return -1;
}
toff_t Seek(thandle_t H, toff_t Off, int Whence) {
  auto* M = static_cast<TMemory*>(H);
  const int64_t Base = Whence == SEEK_SET   ? 0
                       : Whence == SEEK_CUR ? int64_t(M->Pos)
                                            : int64_t(M->Size);
  const int64_t To = Base + int64_t(Off);
  if (To < 0) return toff_t(-1);
  M->Pos = uint64_t(To);
  return toff_t(To);
}
int Close(thandle_t) {
  return 0;
}
toff_t Size(thandle_t H) {
  return static_cast<TMemory*>(H)->Size;
}
int Map(thandle_t, void**, toff_t*) {
  return 0;
}
void Unmap(thandle_t, void*, toff_t) {}
int Quiet(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

// Answers whether there are not too many pages (each page is decoded; the
// reader itself refuses pages above the pixel limit).
bool Affordable(const uint8_t* Data, size_t Bytes) {
  TMemory M{Data, Bytes, 0};
  TIFFOpenOptions* O = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(O, Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(O, Quiet, nullptr);
  TIFF* T = TIFFClientOpenExt("", "r", &M, Read, Write, Seek, Close, Size, Map, Unmap, O);
  TIFFOpenOptionsFree(O);
  if (T == nullptr) return true;
  bool Ok = true;
  int Pages = 0;
  do {
    Ok = ++Pages <= kMaxPages;
  } while (Ok && TIFFReadDirectory(T) != 0);
  TIFFClose(T);
  return Ok;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzzlimits::Apply();
  if (!Affordable(Data, Size)) return 0;
  TBytesStream S(Data, static_cast<int64_t>(Size));
  TTiffGraphic G;
  G.SetLoadAllImages(true);
  try {
    G.LoadFromStream(S);
  } catch (const Exception&) {
  }
  return 0;
}

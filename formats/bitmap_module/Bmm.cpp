// The bitmap module's common part: format table, type guess, error texts, the
// I/O callbacks and the buffered byte reader.

#include "formats/bitmap_module/Bmm.h"
#include "formats/bitmap_module/BmmFormat.h"

#include "platform/Stream.h"

#include <algorithm>
#include <limits>
#include <new>

namespace {

const BmmFormatOps* const kFormats[BMM_FORMAT_COUNT] = {&bmm_bmp_ops, &bmm_pcx_ops, &bmm_tga_ops};

const char* const kGeneralTexts[] = {
    "ok",
    "out of memory",
    "not supported",
    "bad option(s)",
    "not found",
    "bad magic number / signiture block",
    "bad bitmap size",
    "can't read file",
    "can't write file",
    "bad argument to bmm function",
};

// ---- Default I/O: the handle is a TStream. Stream errors never leave the
// module as exceptions; they become the failure results of the callbacks.

TStream* AsStream(BmmHandle h) {
  return static_cast<TStream*>(h);
}

BmmHandle DefaultOpen(const char* name, int) {
  if (!name) return nullptr;
  try {
    return new TFileStream(name, TFileMode::fmOpenRead);
  } catch (...) {
    return nullptr;
  }
}

BmmHandle DefaultCreate(const char* name, int) {
  if (!name) return nullptr;
  try {
    return new TFileStream(name, TFileMode::fmCreate);
  } catch (...) {
    return nullptr;
  }
}

int DefaultClose(BmmHandle h) {
  try {
    delete AsStream(h);
    return 0;
  } catch (...) {
    return -1;
  }
}

int64_t DefaultSeek(BmmHandle h, int64_t off, int whence) {
  const TSeekOrigin origin = whence == BMM_SEEK_CUR   ? TSeekOrigin::soCurrent
                             : whence == BMM_SEEK_END ? TSeekOrigin::soEnd
                                                      : TSeekOrigin::soBeginning;
  try {
    return AsStream(h)->Seek(off, origin);
  } catch (...) {
    return -1;
  }
}

int64_t DefaultRead(BmmHandle h, void* buf, int64_t n) {
  try {
    return AsStream(h)->Read(buf, n);
  } catch (...) {
    return -1;
  }
}

int64_t DefaultWrite(BmmHandle h, const void* buf, int64_t n) {
  try {
    return AsStream(h)->Write(buf, n);
  } catch (...) {
    return -1;
  }
}

constexpr BmmIo kIo = {DefaultOpen, DefaultCreate, DefaultClose,
                       DefaultSeek, DefaultRead,   DefaultWrite};

bool IsSeparator(char c) {
  return c == ' ' || c == '\t' || c == ',';
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameWord(const char* a, std::size_t alen, const char* b, std::size_t blen) {
  if (alen != blen) return false;
  for (std::size_t i = 0; i < alen; ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

// Calls Fn(word, length) for every word of a blank-, tab- or comma-separated
// list until it answers true; answers whether one did.
template <class Fn> bool AnyWord(const char* list, Fn fn) {
  const char* p = list;
  while (*p) {
    while (*p && IsSeparator(*p))
      ++p;
    const char* start = p;
    while (*p && !IsSeparator(*p))
      ++p;
    if (p > start && fn(start, static_cast<std::size_t>(p - start))) return true;
  }
  return false;
}

bool ValidFormat(int ft) {
  return ft >= 0 && ft < BMM_FORMAT_COUNT;
}

} // namespace

// ---- Shared helpers

int64_t bmm_stride(int32_t width, int32_t bpp) {
  if (width <= 0 || bpp <= 0) return -1;
  const int64_t bits = static_cast<int64_t>(width) * bpp; // at most 2^31 * 2^31: fits
  return (bits + 31) / 32 * 4;
}

int64_t bmm_image_size(int32_t width, int32_t height, int32_t bpp) {
  const int64_t stride = bmm_stride(width, bpp);
  if (stride < 0 || height <= 0) return -1;
  if (stride > std::numeric_limits<int64_t>::max() / height) return -1;
  const int64_t size = stride * height;
  if (static_cast<uint64_t>(size) > std::numeric_limits<std::size_t>::max()) return -1;
  return size;
}

bool BmmReadU8(BmmHandle fd, uint8_t& Value) {
  Value = 0;
  return BmmRead(fd, &Value, 1) == 1;
}

TByteReader BmmReadFields(BmmHandle fd, uint8_t* buf, int64_t n) {
  int64_t got = 0;
  while (got < n) {
    const int64_t r = BmmRead(fd, buf + got, n - got);
    if (r <= 0) break;
    got += std::min(r, n - got);
  }
  return TByteReader(buf, static_cast<std::size_t>(got));
}

int BmmCheckWriteHeader(const BmmHeader* hdr, int flags) {
  if (hdr->width <= 0 || hdr->height <= 0) return BMM_ERR_BAD_SIZE;
  int bit = 0;
  switch (hdr->bpp) {
  case 1:
    bit = BMM_FT_W1;
    break;
  case 4:
    bit = BMM_FT_W4;
    break;
  case 8:
    bit = BMM_FT_W8;
    break;
  case 24:
    bit = BMM_FT_W24;
    break;
  default:
    return BMM_ERR_NOT_SUPP;
  }
  if (!(flags & bit)) return BMM_ERR_NOT_SUPP;
  if (bmm_image_size(hdr->width, hdr->height, hdr->bpp) < 0) return BMM_ERR_BAD_SIZE;
  return BMM_ERR_OK;
}

bool bmm_option_present(const char* options, const char* word) {
  if (!options || !word) return false;
  const std::size_t wlen = std::strlen(word);
  return AnyWord(options,
                 [&](const char* w, std::size_t len) { return SameWord(w, len, word, wlen); });
}

// ---- I/O

const BmmIo& bmm_io() {
  return kIo;
}

// ---- Byte reader

BmmByteReader* BmmByteReader::Create(BmmHandle handle) {
  auto* reader = new (std::nothrow) BmmByteReader(handle);
  if (!reader) return nullptr;
  // A stream held in memory is read in place: same bytes, same end, no copies.
  if (handle) {
    TStream* s = AsStream(handle);
    const uint8_t* mem = nullptr;
    int64_t pos = 0;
    int64_t size = 0;
    try {
      mem = s->Memory();
      if (mem) {
        pos = s->Position();
        size = s->Size();
      }
    } catch (...) {
      mem = nullptr;
    }
    if (mem && pos >= 0 && size >= pos) {
      reader->FInMemory = true;
      reader->FData = mem + pos;
      reader->FFill = static_cast<std::size_t>(size - pos);
      // The stream's position moves to the end as a buffered read of the rest would.
      DefaultSeek(handle, 0, BMM_SEEK_END);
      return reader;
    }
  }
  reader->FBuffer = new (std::nothrow) uint8_t[kBufferSize];
  if (!reader->FBuffer) {
    delete reader;
    return nullptr;
  }
  reader->FData = reader->FBuffer;
  return reader;
}

BmmByteReader::~BmmByteReader() {
  delete[] FBuffer;
}

bool BmmByteReader::Refill() {
  if (FInMemory) return false;
  const int64_t n = BmmRead(FHandle, FBuffer, static_cast<int64_t>(kBufferSize));
  FPos = 0;
  FFill = n > 0 ? static_cast<std::size_t>(n) : 0;
  return FFill > 0;
}

std::size_t BmmByteReader::GetBlock(uint8_t* Dest, std::size_t Count) {
  std::size_t done = 0;
  while (done < Count) {
    if (FPos >= FFill && !Refill()) break;
    const std::size_t n = std::min(Count - done, FFill - FPos);
    std::memcpy(Dest + done, FData + FPos, n);
    FPos += n;
    done += n;
  }
  return done;
}

const uint8_t* BmmByteReader::Peek(std::size_t& Available) {
  if (FPos >= FFill && !Refill()) {
    Available = 0;
    return nullptr;
  }
  Available = FFill - FPos;
  return FData + FPos;
}

// ---- Module operations

int bmm_init() {
  return BMM_ERR_OK;
}
int bmm_deinit() {
  return BMM_ERR_OK;
}

int bmm_guess_filetype(const char* fn, int* ft) {
  if (!fn || !ft) return BMM_ERR_BAD_ARG;
  const char* dot = std::strrchr(fn, '.');
  const char* ext = dot ? dot + 1 : fn + std::strlen(fn);
  const std::size_t extlen = std::strlen(ext);
  for (int i = 0; i < BMM_FORMAT_COUNT; ++i) {
    if (AnyWord(kFormats[i]->info.extensions,
                [&](const char* w, std::size_t len) { return SameWord(w, len, ext, extlen); })) {
      *ft = i;
      return BMM_ERR_OK;
    }
  }
  return BMM_ERR_NOT_FOUND;
}

int bmm_format_info(int ft, BmmFormatInfo* info) {
  if (!info || !ValidFormat(ft)) return BMM_ERR_BAD_ARG;
  *info = kFormats[ft]->info;
  return BMM_ERR_OK;
}

int bmm_read_header(const char* fn, BmmHandle fd, int ft, BmmHeader* hdr, const char* opt,
                    std::string* reason) {
  if (!fd || !hdr || !ValidFormat(ft)) return BMM_ERR_BAD_ARG;
  return kFormats[ft]->rhdr(fn, fd, hdr, opt ? opt : "", reason);
}

int bmm_read_colours(BmmHandle fd, int ft, const BmmHeader* hdr, BmmPaletteEntry* pal,
                     std::string* reason) {
  if (!fd || !hdr || !pal || !ValidFormat(ft)) return BMM_ERR_BAD_ARG;
  return kFormats[ft]->rpal(fd, hdr, pal, reason);
}

int bmm_read_data(BmmHandle fd, int ft, const BmmHeader* hdr, uint8_t* data, std::string* reason) {
  if (!fd || !hdr || !data || !ValidFormat(ft)) return BMM_ERR_BAD_ARG;
  // The header step checked the size; a header altered since then is refused
  // here rather than trusted.
  if (bmm_image_size(hdr->width, hdr->height, hdr->bpp) < 0) return BMM_ERR_BAD_SIZE;
  return kFormats[ft]->rdata(fd, hdr, data, reason);
}

int bmm_write(const char* fn, BmmHandle fd, int ft, const BmmHeader* hdr,
              const BmmPaletteEntry* pal, const uint8_t* data, const char* opt) {
  if (!fd || !hdr || !pal || !data || !ValidFormat(ft)) return BMM_ERR_BAD_ARG;
  return kFormats[ft]->w(fn, fd, hdr, pal, data, opt ? opt : "");
}

const char* bmm_error_text(int rc) {
  if (rc >= 0 && rc <= BMM_ERR_BAD_ARG) return kGeneralTexts[rc];
  for (const BmmFormatOps* f : kFormats)
    if (const char* text = f->err(rc)) return text;
  return "general error";
}

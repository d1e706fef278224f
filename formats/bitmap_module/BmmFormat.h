#pragma once
// Internal to the bitmap module: the operations each format provides, and the
// small helpers the format readers and writers share.

#include "formats/bitmap_module/Bmm.h"
#include "platform/ByteReader.h"

#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

// Each format's six operations. The reading steps set *reason (when reason is
// not null) for a refusal that is this module's own choice, as the result
// codes have no text for it.
struct BmmFormatOps {
  BmmFormatInfo info;
  int (*rhdr)(const char* fn, BmmHandle fd, BmmHeader* hdr, const char* opt, std::string* reason);
  int (*rpal)(BmmHandle fd, const BmmHeader* hdr, BmmPaletteEntry* pal, std::string* reason);
  int (*rdata)(BmmHandle fd, const BmmHeader* hdr, uint8_t* data, std::string* reason);
  int (*w)(const char* fn, BmmHandle fd, const BmmHeader* hdr, const BmmPaletteEntry* pal,
           const uint8_t* data, const char* opt);
  const char* (*err)(int rc); // nullptr for codes the format does not own
};

extern const BmmFormatOps bmm_bmp_ops;
extern const BmmFormatOps bmm_pcx_ops;
extern const BmmFormatOps bmm_tga_ops;

// A format reader's state in the header's private area. Stored and loaded by
// copy, so the area needs no particular alignment.
template <class T> void BmmStorePrivate(BmmHeader* hdr, const T& state) {
  static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= kBmmPrivateSize);
  std::memcpy(hdr->priv, &state, sizeof(T));
}
template <class T> T BmmLoadPrivate(const BmmHeader* hdr) {
  static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= kBmmPrivateSize);
  T state;
  std::memcpy(&state, hdr->priv, sizeof(T));
  return state;
}

// Answers Code, with Text as the reason of the refusal when the caller asked
// for one.
inline int BmmRefuse(std::string* reason, int Code, std::string Text) {
  if (reason) *reason = std::move(Text);
  return Code;
}

// Calls through the module's I/O callbacks.
inline int64_t BmmRead(BmmHandle fd, void* buf, int64_t n) {
  return bmm_io().read(fd, buf, n);
}
inline int64_t BmmWrite(BmmHandle fd, const void* buf, int64_t n) {
  return bmm_io().write(fd, buf, n);
}
inline int64_t BmmSeek(BmmHandle fd, int64_t off, int whence) {
  return bmm_io().seek(fd, off, whence);
}

// Reads exactly n bytes; false on a short read.
inline bool BmmReadExact(BmmHandle fd, void* buf, int64_t n) {
  return BmmRead(fd, buf, n) == n;
}
inline bool BmmWriteExact(BmmHandle fd, const void* buf, int64_t n) {
  return BmmWrite(fd, buf, n) == n;
}

// One byte; false on a short read, leaving Value 0.
bool BmmReadU8(BmmHandle fd, uint8_t& Value);

// Reads up to n header bytes into buf, through as many reads as the I/O
// callbacks need, and answers a reader over the bytes that arrived: a field
// the file does not hold in full fails the reader.
TByteReader BmmReadFields(BmmHandle fd, uint8_t* buf, int64_t n);

// Checks a header handed to a writer: positive size, a bit depth the format
// writes, and a pixel buffer size that fits. Answers a result code.
int BmmCheckWriteHeader(const BmmHeader* hdr, int flags);

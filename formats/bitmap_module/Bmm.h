#pragma once
// The bitmap module: a small procedural reader and writer for BMP, PCX and
// Targa files. It knows nothing of the image classes: callers hand it a header
// record, a 256-entry palette and a pixel buffer in the layout of a
// bottom-up device-independent bitmap (rows padded to 4 bytes, the first row in
// memory is the bottom row, 24-bit pixels stored blue, green, red).
//
// Every operation answers a result code, 0 for success. All file access goes
// through the six I/O callbacks of BmmIo; the handle is the stream object.

#include <cstddef>
#include <cstdint>
#include <string>

// ---- Result codes

enum : int {
  BMM_ERR_OK = 0,
  BMM_ERR_MEM = 1,
  BMM_ERR_NOT_SUPP = 2,
  BMM_ERR_BAD_OPTION = 3,
  BMM_ERR_NOT_FOUND = 4,
  BMM_ERR_BAD_MAGIC = 5,
  BMM_ERR_BAD_SIZE = 6,
  BMM_ERR_READ = 7,
  BMM_ERR_WRITE = 8,
  BMM_ERR_BAD_ARG = 9,

  BMM_ERR_BMP_PLANES = 300,
  BMM_ERR_BMP_BITCOUNT = 301,
  BMM_ERR_BMP_CBFIX = 302,
  BMM_ERR_BMP_COMP = 303,
  BMM_ERR_BMP_OFFSET = 304,

  BMM_ERR_TGA_BAD_BPP = 400,
  BMM_ERR_TGA_BAD_TYPE = 401,
  BMM_ERR_TGA_BAD_PAL = 402,

  BMM_ERR_PCX_BAD_VERSION = 700,
  BMM_ERR_PCX_BAD_ENC = 701,
  BMM_ERR_PCX_BAD_BITS = 702,
  BMM_ERR_PCX_BAD_TRAILER = 703,
};

// ---- Format table

// Capability flags of a format: which bit depths it reads and writes.
enum : int {
  BMM_FT_R1 = 0x01,
  BMM_FT_R4 = 0x02,
  BMM_FT_R8 = 0x04,
  BMM_FT_R24 = 0x08,
  BMM_FT_W1 = 0x10,
  BMM_FT_W4 = 0x20,
  BMM_FT_W8 = 0x40,
  BMM_FT_W24 = 0x80,
};

// Format indexes: the position of each format in the table.
enum : int { BMM_FORMAT_BMP = 0, BMM_FORMAT_PCX = 1, BMM_FORMAT_TGA = 2, BMM_FORMAT_COUNT = 3 };

struct BmmFormatInfo {
  const char* shortname = nullptr; // "Bitmap", "PCX", "Targa"
  const char* longname = nullptr;
  const char* extensions = nullptr; // upper case, separated by blanks
  int flags = 0;                    // BMM_FT_* bits
};

// Size of the area a format's reader keeps between its header, palette and
// data steps.
inline constexpr std::size_t kBmmPrivateSize = 2000;

struct BmmHeader {
  int32_t width = 0;  // pixels per row
  int32_t height = 0; // rows
  int32_t bpp = 0;    // bits per pixel of the decoded data: 1, 4, 8 or 24
  // The fewest bytes of pixel data the file's coding needs for the whole
  // picture (every byte when uncompressed; one run per longest run when
  // run-length coded), for comparing with what the file holds. 0: no bound.
  int64_t leastData = 0;
  alignas(8) unsigned char priv[kBmmPrivateSize] = {}; // owned by the format's reader
};

struct BmmPaletteEntry {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
};
static_assert(sizeof(BmmPaletteEntry) == 3);

// Row stride of the pixel buffer: ((width * bpp + 31) div 32) * 4. Answers -1
// when the stride or height * stride does not fit into a signed 64-bit size.
int64_t bmm_stride(int32_t width, int32_t bpp);
int64_t bmm_image_size(int32_t width, int32_t height, int32_t bpp);

// ---- I/O callbacks

using BmmHandle = void*; // the stream object (a TStream*)
using BmmOpenFunc = BmmHandle (*)(const char* name, int flags);
using BmmCreateFunc = BmmHandle (*)(const char* name, int flags);
using BmmCloseFunc = int (*)(BmmHandle handle);
using BmmSeekFunc = int64_t (*)(BmmHandle handle, int64_t offset, int whence);
using BmmReadFunc = int64_t (*)(BmmHandle handle, void* buffer, int64_t count);
using BmmWriteFunc = int64_t (*)(BmmHandle handle, const void* buffer, int64_t count);

struct BmmIo {
  BmmOpenFunc open;
  BmmCreateFunc create;
  BmmCloseFunc close;
  BmmSeekFunc seek; // whence: 0 from the start, 1 from the current position, 2 from the end
  BmmReadFunc read;
  BmmWriteFunc write;
};

// Seek origins of the seek callback.
enum : int { BMM_SEEK_SET = 0, BMM_SEEK_CUR = 1, BMM_SEEK_END = 2 };

// The module's callbacks. They are fixed, so that reads on several threads at
// once (the decode-ahead worker beside the GUI thread) share no changeable
// state: seek, read and write work on TStream objects, open and create make
// file streams and close frees them.
const BmmIo& bmm_io();

// ---- Buffered byte source used by the run-length decoders

class BmmByteReader {
public:
  // Answers nullptr (out of memory) when the buffer can't be had. Reading
  // starts at the handle's current position.
  static BmmByteReader* Create(BmmHandle handle);
  ~BmmByteReader();
  BmmByteReader(const BmmByteReader&) = delete;
  BmmByteReader& operator=(const BmmByteReader&) = delete;

  // The next byte as 0 to 255, or -1 at the end of the data.
  int Get() {
    if (FPos < FFill) return FData[FPos++];
    return Refill() ? FData[FPos++] : -1;
  }
  // Copies up to Count bytes; answers how many were copied (fewer only at the
  // end of the data).
  std::size_t GetBlock(uint8_t* Dest, std::size_t Count);
  // The bytes available without another refill, and consuming them. Lets
  // decoders work on runs of bytes in place.
  const uint8_t* Peek(std::size_t& Available);
  void Skip(std::size_t Count) { FPos += Count; }

  static constexpr std::size_t kBufferSize = 16384;

private:
  explicit BmmByteReader(BmmHandle handle) : FHandle(handle) {}
  bool Refill();

  BmmHandle FHandle;
  uint8_t* FBuffer = nullptr;     // owned, when reading through the read callback
  const uint8_t* FData = nullptr; // the buffer, or the stream's own bytes
  std::size_t FPos = 0;
  std::size_t FFill = 0;
  bool FInMemory = false; // FData is the rest of an in-memory stream
};

// ---- Module operations

int bmm_init();
int bmm_deinit();

int bmm_guess_filetype(const char* fn, int* ft);
int bmm_format_info(int ft, BmmFormatInfo* info);
// The three reading steps. When reason is given, a refusal that is the
// module's own choice (a layout the file formats allow but this module does
// not read, or data that would leave the pixel buffer) also sets it to a text
// naming the format and the field; it stays as it was for the other results,
// whose codes say what went wrong.
int bmm_read_header(const char* fn, BmmHandle fd, int ft, BmmHeader* hdr, const char* opt,
                    std::string* reason = nullptr);
int bmm_read_colours(BmmHandle fd, int ft, const BmmHeader* hdr, BmmPaletteEntry* pal,
                     std::string* reason = nullptr);
// data must hold height * stride bytes for the header's width, height and bpp.
int bmm_read_data(BmmHandle fd, int ft, const BmmHeader* hdr, uint8_t* data,
                  std::string* reason = nullptr);
int bmm_write(const char* fn, BmmHandle fd, int ft, const BmmHeader* hdr,
              const BmmPaletteEntry* pal, const uint8_t* data, const char* opt);
const char* bmm_error_text(int rc);

// Whether Word is one of the words of Options (separated by blanks, tabs or
// commas), comparing whole words and ignoring the case of ASCII letters.
bool bmm_option_present(const char* options, const char* word);

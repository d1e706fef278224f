// The bitmap module's BMP reader and writer: OS/2 1.x (12-byte info header),
// Windows 3.0 and OS/2 2.x info headers of 16 to 64 bytes, uncompressed, RLE8
// and RLE4 data, and the first bitmap of a bitmap array.

#include "formats/bitmap_module/BmmFormat.h"
#include "platform/Memory.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr uint16_t kMagicBM = 0x4D42; // "BM"
constexpr uint16_t kMagicBA = 0x4142; // "BA", a bitmap array

enum : uint32_t { kCompNone = 0, kCompRle8 = 1, kCompRle4 = 2 };

// What the header step hands on to the palette and data steps.
struct BmpState {
  int64_t base;   // file offset of the "BM" magic
  uint32_t cbFix; // size of the info header
  uint32_t compression;
  uint32_t coloursUsed;
  uint32_t dataOffset; // of the pixel data, from the start of the file
  bool os2;            // 12-byte info header
  bool inv;            // keep a 1-bit palette in file order
  bool invb;           // invert every decoded byte
};

bool ValidBitCount(uint32_t n) {
  return n == 1 || n == 4 || n == 8 || n == 24;
}

int ReadHeader(const char*, BmmHandle fd, BmmHeader* hdr, const char* opt, std::string* reason) {
  BmpState st{};
  st.inv = bmm_option_present(opt, "inv");
  st.invb = bmm_option_present(opt, "invb");

  uint8_t buf[64];
  TByteReader in = BmmReadFields(fd, buf, 2);
  uint16_t magic = in.Le16();
  if (in.Failed()) return BMM_ERR_READ;
  if (magic == kMagicBA) {
    // Skip the rest of the 14-byte array header; the first bitmap follows.
    if (BmmSeek(fd, 12, BMM_SEEK_CUR) < 0) return BMM_ERR_READ;
    in = BmmReadFields(fd, buf, 2);
    magic = in.Le16();
    if (in.Failed()) return BMM_ERR_READ;
  }
  if (magic != kMagicBM) return BMM_ERR_BAD_MAGIC;
  const int64_t here = BmmSeek(fd, 0, BMM_SEEK_CUR);
  if (here < 2) return BMM_ERR_READ;
  st.base = here - 2;

  // The rest of the file header: file size (4), two reserved words, the offset
  // of the pixel data (4); then the info header's size.
  in = BmmReadFields(fd, buf, 16);
  in.Skip(8);
  st.dataOffset = in.Le32();
  st.cbFix = in.Le32();
  if (in.Failed()) return BMM_ERR_READ;

  int64_t width = 0;
  int64_t height = 0;
  uint32_t bitCount = 0;
  if (st.cbFix == 12) {
    in = BmmReadFields(fd, buf, 8);
    const uint16_t w = in.Le16();
    const uint16_t h = in.Le16();
    const uint16_t planes = in.Le16();
    const uint16_t bits = in.Le16();
    if (in.Failed()) return BMM_ERR_READ;
    if (w == 0 || h == 0) return BMM_ERR_BAD_SIZE;
    if (planes != 1) return BMM_ERR_BMP_PLANES;
    if (!ValidBitCount(bits)) return BMM_ERR_BMP_BITCOUNT;
    st.os2 = true;
    st.compression = kCompNone;
    width = w;
    height = h;
    bitCount = bits;
  } else {
    if (st.cbFix < 16 || st.cbFix > 64 || (st.cbFix % 4 != 0 && st.cbFix != 42 && st.cbFix != 46))
      return BMM_ERR_BMP_CBFIX;
    // The info header after its size field: width (0), height (4), planes (8),
    // bit count (10), compression (12), image size, resolutions, colours used
    // (28), and fields this reader does not use up to the header's end. The
    // whole header must be in the file.
    in = BmmReadFields(fd, buf, st.cbFix - 4);
    const uint32_t w = in.Le32();
    const uint32_t h = in.Le32();
    const uint16_t planes = in.Le16();
    const uint16_t bits = in.Le16();
    if (st.cbFix > 16) st.compression = in.Le32();
    uint32_t coloursUsed = 0;
    if (st.cbFix > 32) {
      in.Skip(12);
      coloursUsed = in.Le32();
    }
    in.Seek(st.cbFix - 4);
    if (in.Failed()) return BMM_ERR_READ;
    // Width and height are signed 32-bit values. A negative height (a top-down
    // bitmap) or width is refused: the pixel buffer is bottom-up.
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
    if (width == 0 || height == 0) return BMM_ERR_BAD_SIZE;
    if (planes != 1) return BMM_ERR_BMP_PLANES;
    if (!ValidBitCount(bits)) return BMM_ERR_BMP_BITCOUNT;
    if (width < 0 || height < 0)
      return BmmRefuse(reason, BMM_ERR_BAD_SIZE,
                       "BMP header: a negative " + std::string(width < 0 ? "width" : "height") +
                           " (" + std::to_string(width < 0 ? width : height) +
                           ") is not read by the bitmap module");
    bitCount = bits;
    const uint32_t maxColours = 1u << bitCount;
    if (st.cbFix <= 32 || (coloursUsed == 0 && bitCount != 24)) coloursUsed = maxColours;
    st.coloursUsed = std::min(coloursUsed, maxColours);
  }
  if (bmm_image_size(static_cast<int32_t>(width), static_cast<int32_t>(height),
                     static_cast<int32_t>(bitCount)) < 0)
    return BmmRefuse(reason, BMM_ERR_BAD_SIZE,
                     "BMP header: " + std::to_string(width) + " x " + std::to_string(height) +
                         " pixels at " + std::to_string(bitCount) +
                         " bits per pixel exceed what memory can address");
  hdr->width = static_cast<int32_t>(width);
  hdr->height = static_cast<int32_t>(height);
  hdr->bpp = static_cast<int32_t>(bitCount);
  // Run-length data code at best 255 pixels in two bytes (the escapes that
  // skip pixels leave them unset, which is no picture either).
  hdr->leastData = st.compression == kCompNone
                       ? bmm_image_size(hdr->width, hdr->height, hdr->bpp)
                       : width * height * 2 / 255;
  BmmStorePrivate(hdr, st);
  return BMM_ERR_OK;
}

int ReadPalette(BmmHandle fd, const BmmHeader* hdr, BmmPaletteEntry* pal, std::string*) {
  if (hdr->bpp == 24) return BMM_ERR_OK;
  const BmpState st = BmmLoadPrivate<BmpState>(hdr);
  const int entrySize = st.os2 ? 3 : 4;
  const uint32_t count = st.os2 ? (1u << hdr->bpp) : std::min<uint32_t>(st.coloursUsed, 256);
  if (BmmSeek(fd, st.base + (st.os2 ? 26 : 14 + int64_t(st.cbFix)), BMM_SEEK_SET) < 0)
    return BMM_ERR_OK; // entries the file can't supply stay black
  uint8_t raw[256 * 4] = {};
  // A palette cut short by the end of the file leaves its missing entries black.
  BmmRead(fd, raw, int64_t(count) * entrySize);
  TByteReader in(raw, sizeof raw);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t blue = in.U8();
    const uint8_t green = in.U8();
    const uint8_t red = in.U8();
    if (!st.os2) in.Skip(1); // reserved
    pal[i] = {red, green, blue};
  }
  if (hdr->bpp == 1 && !st.inv) std::swap(pal[0], pal[1]);
  return BMM_ERR_OK;
}

// Pixel buffer of the data step with bounds: every write goes through here.
struct Target {
  uint8_t* data;
  int64_t size; // height * stride
  int64_t stride;
  int32_t height;
};

// The run-length decoders' refusals, with the encoding and the place in the
// picture (rows count from the bottom, as stored) as their reason.
struct RleRefusal {
  const char* encoding; // "RLE8" or "RLE4"
  const char* unit;     // what x counts: "byte" or "pixel"
  std::string* reason;

  int DataEnd(int64_t row) const {
    return Refuse("the data end in row " + std::to_string(row) + " before the end-of-bitmap mark");
  }
  int Leaves(const char* what, int64_t count, int64_t row, int64_t x) const {
    return Refuse(std::string(what) + " of " + std::to_string(count) + " in row " +
                  std::to_string(row) + " at " + unit + " " + std::to_string(x) +
                  " leaves the picture");
  }
  int DeltaLeaves(int dx, int dy, int64_t row) const {
    return Refuse("a delta of (" + std::to_string(dx) + ", " + std::to_string(dy) + ") in row " +
                  std::to_string(row) + " passes the last row");
  }
  int Refuse(const std::string& what) const {
    return BmmRefuse(reason, BMM_ERR_READ, std::string("BMP ") + encoding + " data: " + what);
  }
};

// RLE8: two bytes per step (count, value). Positions are row * stride + x, so a
// run that passes the end of its row continues in the memory of the next row.
// Runs and absolute runs that would pass the end of the buffer, deltas that
// pass the last row and data that end before the bitmap does are refused with
// "can't read file"; zero fills are clipped at the buffer end.
int DecodeRle8(BmmByteReader& in, const Target& t, std::string* reason) {
  const RleRefusal refuse{"RLE8", "byte", reason};
  int64_t row = 0;
  int64_t x = 0;
  for (;;) {
    const int count = in.Get();
    const int value = in.Get();
    if (count < 0 || value < 0) return refuse.DataEnd(row);
    const int64_t pos = row * t.stride + x;
    if (count > 0) {
      if (pos + count > t.size) return refuse.Leaves("a run", count, row, x);
      std::memset(t.data + pos, value, static_cast<std::size_t>(count));
      x += count;
      continue;
    }
    switch (value) {
    case 0: // end of line
      if (x < t.stride) std::memset(t.data + pos, 0, static_cast<std::size_t>(t.stride - x));
      x = 0;
      if (++row == t.height) return BMM_ERR_OK;
      break;
    case 1: // end of bitmap: the rest stays palette entry 0
      if (pos < t.size) ZeroFill(t.data + pos, static_cast<std::size_t>(t.size - pos));
      return BMM_ERR_OK;
    case 2: { // delta: the skipped bytes become 0
      const int dx = in.Get();
      const int dy = in.Get();
      if (dx < 0 || dy < 0) return refuse.DataEnd(row);
      if (row + dy > t.height) return refuse.DeltaLeaves(dx, dy, row);
      const int64_t end = std::min(pos + dx + dy * t.stride, t.size);
      if (end > pos) ZeroFill(t.data + pos, static_cast<std::size_t>(end - pos));
      x += dx;
      row += dy;
      if (row == t.height) return BMM_ERR_OK;
      break;
    }
    default: // absolute run of `value` bytes, padded to a 16-bit boundary
      if (pos + value > t.size) return refuse.Leaves("an absolute run", value, row, x);
      if (in.GetBlock(t.data + pos, static_cast<std::size_t>(value)) !=
          static_cast<std::size_t>(value))
        return refuse.DataEnd(row);
      x += value;
      if ((value & 1) && in.Get() < 0) return refuse.DataEnd(row);
      break;
    }
  }
}

// RLE4 on a zeroed buffer, combining nibbles with bitwise or. x counts pixels;
// pixel x sits in byte row * stride + x / 2, the high nibble for even x. Limits
// as for RLE8; the spare nibble of an odd-length absolute run at an odd x is
// dropped when it would fall outside the buffer.
int DecodeRle4(BmmByteReader& in, const Target& t, std::string* reason) {
  const RleRefusal refuse{"RLE4", "pixel", reason};
  int64_t row = 0;
  int64_t x = 0;
  auto put = [&](int64_t px, int nibble) {
    const int64_t at = row * t.stride + px / 2;
    if (at >= t.size) return false;
    t.data[at] |= static_cast<uint8_t>((px & 1) ? nibble : nibble << 4);
    return true;
  };
  for (;;) {
    const int count = in.Get();
    const int value = in.Get();
    if (count < 0 || value < 0) return refuse.DataEnd(row);
    if (count > 0) {
      const int hi = value >> 4;
      const int lo = value & 0x0F;
      for (int i = 0; i < count; ++i)
        if (!put(x + i, (i & 1) ? lo : hi)) return refuse.Leaves("a run", count, row, x);
      x += count;
      continue;
    }
    switch (value) {
    case 0: // end of line
      x = 0;
      if (++row == t.height) return BMM_ERR_OK;
      break;
    case 1: // end of bitmap
      return BMM_ERR_OK;
    case 2: { // delta
      const int dx = in.Get();
      const int dy = in.Get();
      if (dx < 0 || dy < 0) return refuse.DataEnd(row);
      if (row + dy > t.height) return refuse.DeltaLeaves(dx, dy, row);
      x += dx;
      row += dy;
      if (row == t.height) return BMM_ERR_OK;
      break;
    }
    default: { // absolute run of `value` pixels, two per byte
      const int bytes = (value + 1) / 2;
      for (int i = 0; i < bytes; ++i) {
        const int b = in.Get();
        if (b < 0) return refuse.DataEnd(row);
        const int64_t px = x + 2 * i;
        const bool spare = 2 * i + 1 >= value; // the low nibble is past the run
        bool inside = true;
        if ((px & 1) == 0) {
          // Even x: the byte is stored whole.
          const int64_t at = row * t.stride + px / 2;
          inside = at < t.size;
          if (inside) t.data[at] |= static_cast<uint8_t>(b);
        } else {
          inside = put(px, b >> 4) && (put(px + 1, b & 0x0F) || spare);
        }
        if (!inside) return refuse.Leaves("an absolute run", value, row, x);
      }
      x += value;
      if ((bytes & 1) && in.Get() < 0) return refuse.DataEnd(row);
      break;
    }
    }
  }
}

int ReadData(BmmHandle fd, const BmmHeader* hdr, uint8_t* data, std::string* reason) {
  const BmpState st = BmmLoadPrivate<BmpState>(hdr);
  const int64_t stride = bmm_stride(hdr->width, hdr->bpp);
  const int64_t size = bmm_image_size(hdr->width, hdr->height, hdr->bpp);
  const uint32_t compression = st.os2 ? kCompNone : st.compression;
  if (compression != kCompNone && compression != kCompRle8 && compression != kCompRle4)
    return BMM_ERR_BMP_COMP;
  const bool seeked = BmmSeek(fd, st.dataOffset, BMM_SEEK_SET) >= 0;

  int rc = BMM_ERR_OK;
  if (compression == kCompNone) {
    // The file's rows are already bottom-up and padded. A short read is not an
    // error; what the file does not hold becomes 0.
    int64_t got = seeked ? BmmRead(fd, data, size) : 0;
    if (got < 0) got = 0;
    if (got < size) ZeroFill(data + got, static_cast<std::size_t>(size - got));
  } else {
    std::unique_ptr<BmmByteReader> in(BmmByteReader::Create(fd));
    if (!in) return BMM_ERR_MEM;
    const Target t{data, size, stride, hdr->height};
    if (compression == kCompRle8) {
      rc = DecodeRle8(*in, t, reason);
    } else {
      ZeroFill(data, static_cast<std::size_t>(size));
      rc = DecodeRle4(*in, t, reason);
    }
  }
  if (rc == BMM_ERR_OK && st.invb)
    for (int64_t i = 0; i < size; ++i)
      data[i] = static_cast<uint8_t>(~data[i]);
  return rc;
}

// ---- Writer

int Luminance(const BmmPaletteEntry& e) {
  return 30 * e.r + 60 * e.g + 10 * e.b;
}

int Write(const char*, BmmHandle fd, const BmmHeader* hdr, const BmmPaletteEntry* palIn,
          const uint8_t* data, const char* opt) {
  int rc = BmmCheckWriteHeader(hdr, bmm_bmp_ops.info.flags);
  if (rc != BMM_ERR_OK) return rc;
  const bool os2 = bmm_option_present(opt, "1.1");
  const bool win = bmm_option_present(opt, "win") || bmm_option_present(opt, "2.0");
  const bool inv = bmm_option_present(opt, "inv");
  const bool invb = bmm_option_present(opt, "invb");
  const bool darkfg = bmm_option_present(opt, "darkfg");
  const bool lightfg = bmm_option_present(opt, "lightfg");
  if ((os2 && win) || (darkfg && lightfg)) return BMM_ERR_BAD_OPTION;
  if (os2 && (hdr->width > 0xFFFF || hdr->height > 0xFFFF)) return BMM_ERR_BAD_SIZE;

  const int64_t stride = bmm_stride(hdr->width, hdr->bpp);
  const int64_t size = bmm_image_size(hdr->width, hdr->height, hdr->bpp);
  const int colours = hdr->bpp == 24 ? 0 : 1 << hdr->bpp;
  BmmPaletteEntry pal[256];
  std::copy(palIn, palIn + colours, pal);

  // darkfg / lightfg: the foreground is the colour of set bits. When the wanted
  // colour is at index 0, swap the entries and invert the bits, so the picture
  // stays the same.
  bool flipBits = false;
  if (hdr->bpp == 1 && (darkfg || lightfg)) {
    const bool zeroIsDarker = Luminance(pal[0]) < Luminance(pal[1]);
    if ((darkfg && zeroIsDarker) ||
        (lightfg && !zeroIsDarker && Luminance(pal[0]) != Luminance(pal[1]))) {
      std::swap(pal[0], pal[1]);
      flipBits = true;
    }
  }
  // The reader swaps a 1-bit palette unless "inv" is given; the writer does the
  // same so that reading with the writer's options gives the picture back.
  if (hdr->bpp == 1 && !inv) std::swap(pal[0], pal[1]);

  const int entrySize = os2 ? 3 : 4;
  const uint32_t cbFix = os2 ? 12 : 40;
  const uint32_t palBytes = static_cast<uint32_t>(colours * entrySize);
  const uint32_t offset = 14 + cbFix + palBytes;
  const uint64_t fileSize = uint64_t(offset) + uint64_t(size);

  std::vector<uint8_t> head;
  head.reserve(offset);
  TByteWriter out(head);
  out.Le16(kMagicBM);
  out.Le32(fileSize > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(fileSize));
  out.Le32(0); // reserved
  out.Le32(offset);
  out.Le32(cbFix);
  if (os2) {
    out.Le16(static_cast<uint32_t>(hdr->width));
    out.Le16(static_cast<uint32_t>(hdr->height));
    out.Le16(1);
    out.Le16(static_cast<uint32_t>(hdr->bpp));
  } else {
    out.LeI32(hdr->width);
    out.LeI32(hdr->height);
    out.Le16(1);
    out.Le16(static_cast<uint32_t>(hdr->bpp));
    out.Le32(kCompNone);
    out.Le32(size > 0xFFFFFFFF ? 0 : static_cast<uint32_t>(size));
    out.Zeros(8);                             // resolutions
    out.Le32(static_cast<uint32_t>(colours)); // colours used
    out.Le32(0);                              // colours important
  }
  for (int i = 0; i < colours; ++i) {
    out.U8(pal[i].b);
    out.U8(pal[i].g);
    out.U8(pal[i].r);
    if (!os2) out.U8(0);
  }
  if (!BmmWriteExact(fd, head.data(), static_cast<int64_t>(head.size()))) return BMM_ERR_WRITE;

  if (!flipBits && !invb) return BmmWriteExact(fd, data, size) ? BMM_ERR_OK : BMM_ERR_WRITE;
  std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[static_cast<std::size_t>(stride)]);
  if (!row) return BMM_ERR_MEM;
  const uint8_t mask = (flipBits != invb) ? 0xFF : 0x00;
  for (int32_t y = 0; y < hdr->height; ++y) {
    const uint8_t* src = data + y * stride;
    for (int64_t i = 0; i < stride; ++i)
      row[i] = src[i] ^ mask;
    if (!BmmWriteExact(fd, row.get(), stride)) return BMM_ERR_WRITE;
  }
  return BMM_ERR_OK;
}

const char* ErrorText(int rc) {
  switch (rc) {
  case BMM_ERR_BMP_PLANES:
    return "number of bitmap planes is not 1";
  case BMM_ERR_BMP_BITCOUNT:
    return "bit count not 1, 4, 8 or 24";
  case BMM_ERR_BMP_CBFIX:
    return "cbFix bad";
  case BMM_ERR_BMP_COMP:
    return "compression type not uncompressed, RLE4 or RLE8";
  case BMM_ERR_BMP_OFFSET:
    return "less bitmaps in file than index requested";
  default:
    return nullptr;
  }
}

} // namespace

const BmmFormatOps bmm_bmp_ops = {
    {"Bitmap", "OS/2 1.1, 1.2, 2.0 / Windows 3.0 bitmap", "BMP VGA BGA RLE DIB RL4 RL8", 0xFF},
    ReadHeader,
    ReadPalette,
    ReadData,
    Write,
    ErrorText,
};

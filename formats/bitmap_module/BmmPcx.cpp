// The bitmap module's PCX reader and writer: run-length encoded ZSoft files
// with 1 bit x 1 or 4 planes, 4 bits x 1 plane, 8 bits x 1 or 3 planes.

#include "formats/bitmap_module/BmmFormat.h"

#include <algorithm>
#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <memory>
#include <new>
#include <vector>

namespace {

// The 128-byte file header, little-endian: manufacturer (off 0, 1 byte,
// always 10), version (1), encoding (2, 1 = run-length), bits per pixel per
// plane (3), xmin, ymin, xmax, ymax (4, 6, 8, 10; 2 bytes each), horizontal
// and vertical dpi (12, 14), the 16-colour palette (16, 48 bytes of red, green,
// blue), reserved (64), planes (65), bytes per line per plane (66, 2), palette
// info (68, 2), filler to 128.
enum : int {
  kOffPalette = 16,
  kOffPlanes = 65,
  kHeaderRead = 70,  // the part the reader looks at
  kHeaderSize = 128, // pixel data start here
};

constexpr uint8_t kManufacturer = 10;
constexpr uint8_t kTrailerMark = 12; // before the 256-colour palette at the end
constexpr int kTrailerSize = 1 + 256 * 3;

struct PcxState {
  uint8_t version;
  uint8_t bitsPerPixel;
  uint8_t planes;
  uint16_t bytesPerLine;
  bool trunc; // runs end with each line
};

// The 8 bits of a plane byte spread over 4 bytes of 4-bit pixels: bit 7
// (pixel 0) to bit 4 of byte 0, bit 6 (pixel 1) to bit 0 of byte 0, and so on;
// byte j of the row is bits 8j to 8j + 7 of the value.
constexpr auto kSpread = [] {
  std::array<uint32_t, 256> t{};
  for (unsigned b = 0; b < 256; ++b) {
    uint32_t v = 0;
    for (unsigned p = 0; p < 8; ++p)
      if (b & (0x80u >> p)) v |= 1u << (8 * (p / 2) + ((p & 1) ? 0 : 4));
    t[b] = v;
  }
  return t;
}();

int DecodedBpp(int bits, int planes) {
  if (bits == 1 && planes == 1) return 1;
  if (bits == 1 && planes == 4) return 4;
  if (bits == 4 && planes == 1) return 4;
  if (bits == 8 && planes == 1) return 8;
  if (bits == 8 && planes == 3) return 24;
  return 0;
}

int ReadHeader(const char*, BmmHandle fd, BmmHeader* hdr, const char* opt, std::string* reason) {
  PcxState st{};
  st.trunc = bmm_option_present(opt, "trunc");
  uint8_t buf[kHeaderRead];
  TByteReader in = BmmReadFields(fd, buf, kHeaderRead);
  if (in.Size() < kHeaderRead) return BMM_ERR_READ;
  const uint8_t manufacturer = in.U8();
  st.version = in.U8();
  const uint8_t encoding = in.U8();
  st.bitsPerPixel = in.U8();
  const uint16_t xmin = in.Le16();
  const uint16_t ymin = in.Le16();
  const uint16_t xmax = in.Le16();
  const uint16_t ymax = in.Le16();
  in.Seek(kOffPlanes); // past the resolution, the palette and the reserved byte
  st.planes = in.U8();
  st.bytesPerLine = in.Le16();
  if (in.Failed()) return BMM_ERR_READ;
  if (manufacturer != kManufacturer) return BMM_ERR_BAD_MAGIC;
  if (st.version == 4 || st.version > 5) return BMM_ERR_PCX_BAD_VERSION;
  if (encoding != 1) return BMM_ERR_PCX_BAD_ENC;
  const int bpp = DecodedBpp(st.bitsPerPixel, st.planes);
  if (bpp == 0) return BMM_ERR_PCX_BAD_BITS;
  const int32_t width = int32_t(xmax) - xmin + 1;
  const int32_t height = int32_t(ymax) - ymin + 1;
  if (width <= 0 || height <= 0) return BMM_ERR_BAD_SIZE;
  // A line shorter than the width needs can't fill a row: refused as a bad size.
  const int64_t lineNeeds = (int64_t(width) * st.bitsPerPixel + 7) / 8;
  if (st.bytesPerLine < lineNeeds)
    return BmmRefuse(reason, BMM_ERR_BAD_SIZE,
                     "PCX header: " + std::to_string(st.bytesPerLine) +
                         " bytes per line are fewer than the " + std::to_string(lineNeeds) +
                         " a row of " + std::to_string(width) + " pixels needs");
  if (bmm_image_size(width, height, bpp) < 0) return BMM_ERR_BAD_SIZE;
  hdr->width = width;
  hdr->height = height;
  hdr->bpp = bpp;
  // A run codes at most 63 bytes of a line in two.
  hdr->leastData = int64_t(st.bytesPerLine) * st.planes * height * 2 / 63;
  BmmStorePrivate(hdr, st);
  return BMM_ERR_OK;
}

// Reads Count entries of red, green and blue.
void ReadEntries(TByteReader& in, BmmPaletteEntry* pal, int count) {
  for (int i = 0; i < count; ++i) {
    const uint8_t red = in.U8();
    const uint8_t green = in.U8();
    const uint8_t blue = in.U8();
    pal[i] = {red, green, blue};
  }
}

int ReadPalette(BmmHandle fd, const BmmHeader* hdr, BmmPaletteEntry* pal, std::string*) {
  switch (hdr->bpp) {
  case 1:
    // Monochrome files are always black and white.
    pal[0] = {0, 0, 0};
    pal[1] = {255, 255, 255};
    return BMM_ERR_OK;
  case 4: {
    uint8_t raw[16 * 3];
    if (BmmSeek(fd, kOffPalette, BMM_SEEK_SET) < 0 || !BmmReadExact(fd, raw, sizeof raw))
      return BMM_ERR_READ;
    TByteReader in(raw, sizeof raw);
    ReadEntries(in, pal, 16);
    return BMM_ERR_OK;
  }
  case 8: {
    uint8_t mark = 0;
    if (BmmSeek(fd, -kTrailerSize, BMM_SEEK_END) < 0 || !BmmReadU8(fd, mark) ||
        mark != kTrailerMark)
      return BMM_ERR_PCX_BAD_TRAILER;
    uint8_t raw[256 * 3];
    if (!BmmReadExact(fd, raw, sizeof raw)) return BMM_ERR_READ;
    TByteReader in(raw, sizeof raw);
    ReadEntries(in, pal, 256);
    return BMM_ERR_OK;
  }
  default:
    return BMM_ERR_OK;
  }
}

// Decodes lines of run-length data. A run longer than what a line still needs
// carries over into the next line unless trunc is set. The end of the data
// reads as runs of 63 bytes of 0xFF, so a file cut short fills with 0xFF.
class LineDecoder {
public:
  LineDecoder(BmmByteReader& in, bool trunc) : FIn(in), FTrunc(trunc) {}

  void Decode(uint8_t* dst, std::size_t need) {
    std::size_t o = 0;
    while (o < need) {
      if (FPending > 0) {
        const std::size_t k = std::min<std::size_t>(FPending, need - o);
        std::memset(dst + o, FPendingValue, k);
        o += k;
        FPending -= static_cast<int>(k);
        continue;
      }
      std::size_t avail = 0;
      const uint8_t* p = FIn.Peek(avail);
      if (!p) {
        SetRun(63, 0xFF, dst, o, need);
        continue;
      }
      // Fast path over the bytes at hand, while a run's value byte is there too.
      std::size_t i = 0;
      while (o < need && i + 1 < avail) {
#if defined(__SSE2__)
        // Sixteen bytes at a time: those before the first byte that starts a
        // run (0xC0 or above) stand for themselves.
        if (need - o >= 16 && avail - i >= 17) {
          const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
          const __m128i high = _mm_cmpeq_epi8(_mm_max_epu8(x, _mm_set1_epi8(char(0xC0))), x);
          const unsigned mask = unsigned(_mm_movemask_epi8(high));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o), x);
          const unsigned n = mask ? unsigned(__builtin_ctz(mask)) : 16u;
          o += n;
          i += n;
          if (n == 16) continue;
        }
#endif
        const uint8_t b = p[i];
        if (b < 0xC0) {
          dst[o++] = b;
          ++i;
        } else if (b == 0xC1) { // a run of one: how bytes of 0xC0 and above are stored
          dst[o++] = p[i + 1];
          i += 2;
        } else {
          i += 2;
          if (SetRun(b & 0x3F, p[i - 1], dst, o, need)) break;
        }
      }
      FIn.Skip(i);
      if (o < need && FPending == 0 && i + 1 == avail) {
        // One byte left in the buffer: take it, and a run's value, singly.
        const int b = FIn.Get();
        if (b < 0xC0) {
          dst[o++] = static_cast<uint8_t>(b);
        } else {
          const int v = FIn.Get();
          SetRun(b & 0x3F, static_cast<uint8_t>(v < 0 ? 0xFF : v), dst, o, need);
        }
      }
    }
    if (FTrunc) FPending = 0;
  }

  // Whether every further byte decodes as 0xFF: the data have ended and no
  // run of another value is pending.
  bool AtEnd() {
    if (FPending > 0 && FPendingValue != 0xFF) return false;
    std::size_t avail = 0;
    return FIn.Peek(avail) == nullptr;
  }

private:
  // Emits what of a run the line still needs; keeps the rest pending. Answers
  // whether some is left pending.
  bool SetRun(int count, uint8_t value, uint8_t* dst, std::size_t& o, std::size_t need) {
    const std::size_t k = std::min<std::size_t>(count, need - o);
    if (k <= 8) {
      // Short runs are the common ones in pictures: no call for them.
      for (std::size_t j = 0; j < k; ++j)
        dst[o + j] = value;
    } else {
      std::memset(dst + o, value, k);
    }
    o += k;
    FPending = count - static_cast<int>(k);
    FPendingValue = value;
    return FPending > 0;
  }

  BmmByteReader& FIn;
  bool FTrunc;
  int FPending = 0;
  uint8_t FPendingValue = 0;
};

int ReadData(BmmHandle fd, const BmmHeader* hdr, uint8_t* data, std::string*) {
  const PcxState st = BmmLoadPrivate<PcxState>(hdr);
  if (BmmSeek(fd, kHeaderSize, BMM_SEEK_SET) < 0) return BMM_ERR_READ;
  std::unique_ptr<BmmByteReader> in(BmmByteReader::Create(fd));
  if (!in) return BMM_ERR_MEM;
  const std::size_t bpl = st.bytesPerLine;
  const std::size_t stride = static_cast<std::size_t>(bmm_stride(hdr->width, hdr->bpp));
  const std::size_t width = static_cast<std::size_t>(hdr->width);
  const int planes = hdr->bpp == 24 ? 3 : (hdr->bpp == 4 && st.planes == 4 ? 4 : 1);
  std::unique_ptr<uint8_t[]> lines(new (std::nothrow) uint8_t[bpl * planes]);
  if (!lines) return BMM_ERR_MEM;
  LineDecoder dec(*in, st.trunc);

  // Decodes one file row into Row. With Fill the data have ended: every line
  // reads as 0xFF bytes, which is what decoding would give, without the work.
  auto decodeRow = [&](uint8_t* row, bool fill) {
    auto line = [&](uint8_t* dst, std::size_t n) {
      if (fill)
        std::memset(dst, 0xFF, n);
      else
        dec.Decode(dst, n);
    };
    if (planes == 1) {
      // A line longer than the row is cut at the row's end; the header step
      // made sure it is never shorter than the pixels need.
      if (bpl <= stride) {
        line(row, bpl);
        std::memset(row + bpl, 0, stride - bpl);
      } else {
        line(lines.get(), bpl);
        std::memcpy(row, lines.get(), stride);
      }
    } else if (planes == 3) {
      uint8_t* r = lines.get();
      uint8_t* g = r + bpl;
      uint8_t* b = g + bpl;
      line(r, bpl);
      line(g, bpl);
      line(b, bpl);
      uint8_t* px = row;
      for (std::size_t j = 0; j < width; ++j, px += 3) {
        px[0] = b[j];
        px[1] = g[j];
        px[2] = r[j];
      }
      std::memset(row + 3 * width, 0, stride - 3 * width);
    } else {
      // Four bit planes: bit k of a pixel comes from plane k. A plane byte
      // covers 8 pixels, which are 4 bytes of the row; the stride holds 4
      // bytes for every plane byte the width needs.
      for (int k = 0; k < 4; ++k)
        line(lines.get() + k * bpl, bpl);
      const std::size_t groups = (width + 7) / 8;
      for (std::size_t i = 0; i < groups; ++i) {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k)
          v |= kSpread[lines[k * bpl + i]] << k;
        for (int j = 0; j < 4; ++j)
          row[4 * i + j] = static_cast<uint8_t>(v >> 8 * j);
      }
      // Bits past the width in the last plane byte are not pixels.
      for (std::size_t x = width; x < 8 * groups; ++x)
        row[x / 2] &= (x & 1) ? 0xF0 : 0x0F;
      std::memset(row + 4 * groups, 0, stride - 4 * groups);
    }
  };

  for (int32_t y = 0; y < hdr->height; ++y) {
    uint8_t* row = data + std::size_t(hdr->height - 1 - y) * stride;
    if (!dec.AtEnd()) {
      decodeRow(row, false);
      continue;
    }
    // The data have ended (a file cut short): the rest of the rows are all
    // alike, so a long bytes-per-line value costs no decoding per row.
    decodeRow(row, true);
    for (int32_t z = y + 1; z < hdr->height; ++z)
      std::memcpy(data + std::size_t(hdr->height - 1 - z) * stride, row, stride);
    break;
  }
  return BMM_ERR_OK;
}

// ---- Writer

// Appends one run-length encoded line: runs of up to 63 equal bytes; a single
// byte below 0xC0 stands for itself.
void EncodeLine(const uint8_t* src, std::size_t n, std::vector<uint8_t>& out) {
  std::size_t i = 0;
  while (i < n) {
    const uint8_t v = src[i];
    std::size_t run = 1;
    while (i + run < n && run < 63 && src[i + run] == v)
      ++run;
    if (run > 1 || v >= 0xC0) out.push_back(static_cast<uint8_t>(0xC0 | run));
    out.push_back(v);
    i += run;
  }
}

int Write(const char*, BmmHandle fd, const BmmHeader* hdr, const BmmPaletteEntry* pal,
          const uint8_t* data, const char*) {
  int rc = BmmCheckWriteHeader(hdr, bmm_pcx_ops.info.flags);
  if (rc != BMM_ERR_OK) return rc;
  if (hdr->width > 0x10000 || hdr->height > 0x10000) return BMM_ERR_BAD_SIZE;
  const int bits = hdr->bpp == 24 ? 8 : hdr->bpp;
  const int planes = hdr->bpp == 24 ? 3 : 1;
  std::size_t bpl = (std::size_t(hdr->width) * bits + 7) / 8;
  bpl += bpl & 1; // lines have an even length
  if (bpl > 0xFFFF) return BMM_ERR_BAD_SIZE;
  const std::size_t stride = static_cast<std::size_t>(bmm_stride(hdr->width, hdr->bpp));
  const std::size_t width = static_cast<std::size_t>(hdr->width);
  const std::size_t lineBytes = (width * bits + 7) / 8; // the rest of a line stays 0

  std::vector<uint8_t> head;
  head.reserve(kHeaderSize);
  TByteWriter h(head);
  h.U8(kManufacturer);
  h.U8(5); // version
  h.U8(1); // run-length encoding
  h.U8(bits);
  h.Le16(0); // xmin
  h.Le16(0); // ymin
  h.Le16(static_cast<uint32_t>(hdr->width - 1));
  h.Le16(static_cast<uint32_t>(hdr->height - 1));
  h.PadTo(kOffPalette); // resolution: 0
  if (hdr->bpp <= 4) {
    for (int i = 0; i < (1 << hdr->bpp); ++i) {
      h.U8(pal[i].r);
      h.U8(pal[i].g);
      h.U8(pal[i].b);
    }
  }
  h.PadTo(kOffPlanes); // the rest of the palette and the reserved byte
  h.U8(planes);
  h.Le16(static_cast<uint32_t>(bpl));
  h.Le16(1); // palette info: colour
  h.PadTo(kHeaderSize);
  if (!BmmWriteExact(fd, head.data(), kHeaderSize)) return BMM_ERR_WRITE;

  std::vector<uint8_t> line(bpl, 0);
  std::vector<uint8_t> out;
  out.reserve(bpl * planes * 2 + 16);
  for (int32_t y = hdr->height - 1; y >= 0; --y) {
    const uint8_t* row = data + std::size_t(y) * stride;
    out.clear();
    if (planes == 1) {
      std::memcpy(line.data(), row, lineBytes);
      EncodeLine(line.data(), bpl, out);
    } else {
      for (int k = 0; k < 3; ++k) {
        const int c = 2 - k; // red, green, blue from blue-green-red pixels
        for (std::size_t j = 0; j < width; ++j)
          line[j] = row[3 * j + c];
        EncodeLine(line.data(), bpl, out);
      }
    }
    if (!BmmWriteExact(fd, out.data(), static_cast<int64_t>(out.size()))) return BMM_ERR_WRITE;
  }
  if (hdr->bpp == 8) {
    std::vector<uint8_t> trailer;
    TByteWriter t(trailer);
    t.U8(kTrailerMark);
    for (int i = 0; i < 256; ++i) {
      t.U8(pal[i].r);
      t.U8(pal[i].g);
      t.U8(pal[i].b);
    }
    if (!BmmWriteExact(fd, trailer.data(), kTrailerSize)) return BMM_ERR_WRITE;
  }
  return BMM_ERR_OK;
}

const char* ErrorText(int rc) {
  switch (rc) {
  case BMM_ERR_PCX_BAD_VERSION:
    return "version number not 4 or 5";
  case BMM_ERR_PCX_BAD_ENC:
    return "encoding mode not 1";
  case BMM_ERR_PCX_BAD_BITS:
    return "unsupported bpp/plane / plane combination";
  case BMM_ERR_PCX_BAD_TRAILER:
    return "corrupt file trailer";
  default:
    return nullptr;
  }
}

} // namespace

const BmmFormatOps bmm_pcx_ops = {
    {"PCX", "ZSoft PC Paintbrush Image format", "PCX PCC", 0xFF},
    ReadHeader,
    ReadPalette,
    ReadData,
    Write,
    ErrorText,
};

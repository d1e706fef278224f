// The bitmap module's Targa reader and writer: colour-mapped 8-bit, true-colour
// 16, 24 and 32-bit and 8-bit grey images, raw or run-length encoded, decoded
// to 8 or 24 bits per pixel.

#include "formats/bitmap_module/BmmFormat.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace {

// The 18-byte file header, little-endian: identification field length (off 0,
// 1 byte), colour map type (1, 0 none), image type (2), index of the first
// colour map entry (3, 2 bytes), colour map length in entries (5, 2), colour
// map entry size in bits (7), x and y origin (8 and 10, 2 each, not used),
// width (12, 2), height (14, 2), bits per pixel (16), image descriptor (17;
// bit 5: the first stored row is the top row).
constexpr int kHeaderSize = 18;
constexpr uint8_t kTopFirst = 0x20;

// The header fields the palette and data steps use.
struct TgaState {
  uint8_t idLength;
  uint8_t colourMapType;
  uint8_t imageType;
  uint16_t mapFirst;
  uint16_t mapLength;
  uint8_t mapEntrySize;
  uint8_t depth;
  uint8_t descriptor;
};

int ReadHeader(const char*, BmmHandle fd, BmmHeader* hdr, const char*, std::string*) {
  uint8_t buf[kHeaderSize];
  TByteReader in = BmmReadFields(fd, buf, kHeaderSize);
  TgaState st{};
  st.idLength = in.U8();
  st.colourMapType = in.U8();
  st.imageType = in.U8();
  st.mapFirst = in.Le16();
  st.mapLength = in.Le16();
  st.mapEntrySize = in.U8();
  in.Skip(4); // x and y origin
  const uint16_t width = in.Le16();
  const uint16_t height = in.Le16();
  st.depth = in.U8();
  st.descriptor = in.U8();
  if (in.Failed()) return BMM_ERR_READ;
  switch (st.imageType) {
  case 1:
  case 9:
    if (st.depth != 8) return BMM_ERR_TGA_BAD_BPP;
    if (st.mapEntrySize != 24) return BMM_ERR_TGA_BAD_PAL;
    break;
  case 2:
  case 10:
    if (st.depth != 16 && st.depth != 24 && st.depth != 32) return BMM_ERR_TGA_BAD_BPP;
    break;
  case 3:
  case 11:
    if (st.depth != 8) return BMM_ERR_TGA_BAD_BPP;
    break;
  default:
    return BMM_ERR_TGA_BAD_TYPE;
  }
  if (width < 1 || height < 1) return BMM_ERR_BAD_SIZE;
  hdr->width = width;
  hdr->height = height;
  hdr->bpp = st.depth == 8 ? 8 : 24;
  // Every pixel stored, or at best one packet byte and one pixel value for
  // a run of 128 pixels.
  const int64_t pixels = int64_t(width) * height, bytes = (st.depth + 7) / 8;
  hdr->leastData = st.imageType >= 9 ? pixels * (1 + bytes) / 128 : pixels * bytes;
  BmmStorePrivate(hdr, st);
  return BMM_ERR_OK;
}

int ReadPalette(BmmHandle fd, const BmmHeader* hdr, BmmPaletteEntry* pal, std::string*) {
  const TgaState st = BmmLoadPrivate<TgaState>(hdr);
  switch (st.imageType) {
  case 1:
  case 9: {
    for (int i = 0; i < 256; ++i)
      pal[i] = {0, 0, 0};
    if (BmmSeek(fd, kHeaderSize + st.idLength, BMM_SEEK_SET) < 0) return BMM_ERR_READ;
    std::vector<uint8_t> bytes(std::size_t(st.mapLength) * 3);
    if (!BmmReadExact(fd, bytes.data(), static_cast<int64_t>(bytes.size()))) return BMM_ERR_READ;
    TByteReader map(bytes.data(), bytes.size());
    // Entries past index 255 can't be reached by 8-bit pixels and are ignored.
    for (int i = st.mapFirst; i < st.mapFirst + st.mapLength && i < 256; ++i) {
      const uint8_t blue = map.U8();
      const uint8_t green = map.U8();
      const uint8_t red = map.U8();
      pal[i] = {red, green, blue};
    }
    return BMM_ERR_OK;
  }
  case 3:
  case 11:
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<uint8_t>(i);
      pal[i] = {v, v, v};
    }
    return BMM_ERR_OK;
  default:
    return BMM_ERR_OK;
  }
}

// Expands a row of 16-bit pixels stored from byte offset width into 3-byte
// pixels from the row's start. Each result lies before the source bytes still
// to be read, so this works in place.
void Expand16(uint8_t* row, std::size_t width) {
  TByteReader src(row + width, 2 * width);
  for (std::size_t i = 0; i < width; ++i) {
    const unsigned v = src.Le16();
    uint8_t* d = row + 3 * i;
    d[0] = static_cast<uint8_t>((v & 0x1F) << 3);         // blue
    d[1] = static_cast<uint8_t>(((v >> 5) & 0x1F) << 3);  // green
    d[2] = static_cast<uint8_t>(((v >> 10) & 0x1F) << 3); // red
  }
}

// Stores Count pixels of PixelBytes each from Src at pixel X of a row, in the
// row layout used while decoding (16-bit pixels raw from offset width, 32-bit
// pixels without their fourth byte).
void StorePixels(uint8_t* row, std::size_t width, int pixelBytes, std::size_t x, const uint8_t* src,
                 std::size_t count) {
  switch (pixelBytes) {
  case 1:
    std::memcpy(row + x, src, count);
    break;
  case 2:
    std::memcpy(row + width + 2 * x, src, 2 * count);
    break;
  case 3:
    std::memcpy(row + 3 * x, src, 3 * count);
    break;
  default: {
    uint8_t* d = row + 3 * x;
    for (std::size_t i = 0; i < count; ++i, d += 3, src += 4) {
      d[0] = src[0];
      d[1] = src[1];
      d[2] = src[2];
    }
  }
  }
}

void FillPixels(uint8_t* row, std::size_t width, int pixelBytes, std::size_t x,
                const uint8_t* value, std::size_t count) {
  switch (pixelBytes) {
  case 1:
    std::memset(row + x, value[0], count);
    break;
  case 2: {
    uint8_t* d = row + width + 2 * x;
    for (std::size_t i = 0; i < count; ++i, d += 2)
      std::memcpy(d, value, 2);
    break;
  }
  default: {
    uint8_t* d = row + 3 * x;
    for (std::size_t i = 0; i < count; ++i, d += 3)
      std::memcpy(d, value, 3);
  }
  }
}

// Run-length data: packets may run across row ends; pixels of a packet that
// go past the last row are dropped. A packet byte at the end of the data is an
// error; value bytes at the end of the data read as 0xFF.
int DecodeRle(BmmByteReader& in, uint8_t* data, std::size_t stride, std::size_t width,
              int32_t height, bool topFirst, int pixelBytes) {
  uint8_t tmp[128 * 4];
  auto rowAt = [&](int32_t r) {
    return data + std::size_t(topFirst ? height - 1 - r : r) * stride;
  };
  int32_t r = 0;
  std::size_t x = 0;
  uint8_t* row = rowAt(0);
  while (r < height) {
    const int p = in.Get();
    if (p < 0) return BMM_ERR_READ;
    const bool isRun = (p & 0x80) != 0;
    std::size_t n = std::size_t(p & 0x7F) + 1;
    const std::size_t need = isRun ? pixelBytes : n * pixelBytes;
    std::size_t avail = 0;
    const uint8_t* src = in.Peek(avail);
    if (src && avail >= need) {
      in.Skip(need);
    } else {
      const std::size_t got = in.GetBlock(tmp, need);
      std::memset(tmp + got, 0xFF, need - got);
      src = tmp;
    }
    while (n > 0 && r < height) {
      const std::size_t k = std::min(n, width - x);
      if (isRun) {
        FillPixels(row, width, pixelBytes, x, src, k);
      } else {
        StorePixels(row, width, pixelBytes, x, src, k);
        src += k * pixelBytes;
      }
      n -= k;
      x += k;
      if (x == width) {
        x = 0;
        if (++r < height) row = rowAt(r);
      }
    }
  }
  return BMM_ERR_OK;
}

int ReadData(BmmHandle fd, const BmmHeader* hdr, uint8_t* data, std::string*) {
  const TgaState st = BmmLoadPrivate<TgaState>(hdr);
  if (BmmSeek(fd, kHeaderSize + st.idLength, BMM_SEEK_SET) < 0) return BMM_ERR_READ;
  if (st.colourMapType != 0) {
    const int entryBits = st.mapEntrySize == 15 ? 16 : st.mapEntrySize;
    const int64_t mapBytes = int64_t(entryBits) * st.mapLength / 8;
    if (BmmSeek(fd, mapBytes, BMM_SEEK_CUR) < 0) return BMM_ERR_READ;
  }
  const int depth = st.depth;
  const int pixelBytes = depth / 8;
  const std::size_t stride = static_cast<std::size_t>(bmm_stride(hdr->width, hdr->bpp));
  const std::size_t width = static_cast<std::size_t>(hdr->width);
  const int32_t height = hdr->height;
  const bool topFirst = (st.descriptor & kTopFirst) != 0;
  const std::size_t used = width * (hdr->bpp / 8); // bytes of a decoded row
  auto rowAt = [&](int32_t r) {
    return data + std::size_t(topFirst ? height - 1 - r : r) * stride;
  };
  // Row padding is zero whatever the file holds.
  for (int32_t r = 0; r < height; ++r)
    std::memset(data + r * stride + used, 0, stride - used);

  const int type = st.imageType;
  if (type == 1 || type == 2 || type == 3) {
    std::unique_ptr<uint8_t[]> temp;
    if (depth == 32) {
      temp.reset(new (std::nothrow) uint8_t[width * 4]);
      if (!temp) return BMM_ERR_MEM;
    }
    for (int32_t r = 0; r < height; ++r) {
      uint8_t* row = rowAt(r);
      switch (depth) {
      case 8:
      case 24:
        if (!BmmReadExact(fd, row, int64_t(width) * pixelBytes)) return BMM_ERR_READ;
        break;
      case 16:
        if (!BmmReadExact(fd, row + width, int64_t(width) * 2)) return BMM_ERR_READ;
        Expand16(row, width);
        break;
      default:
        if (!BmmReadExact(fd, temp.get(), int64_t(width) * 4)) return BMM_ERR_READ;
        StorePixels(row, width, 4, 0, temp.get(), width);
      }
    }
    return BMM_ERR_OK;
  }

  std::unique_ptr<BmmByteReader> in(BmmByteReader::Create(fd));
  if (!in) return BMM_ERR_MEM;
  const int rc = DecodeRle(*in, data, stride, width, height, topFirst, pixelBytes);
  if (rc != BMM_ERR_OK) return rc;
  if (depth == 16)
    for (int32_t r = 0; r < height; ++r)
      Expand16(data + r * stride, width);
  return BMM_ERR_OK;
}

// ---- Writer

int Write(const char*, BmmHandle fd, const BmmHeader* hdr, const BmmPaletteEntry* pal,
          const uint8_t* data, const char* opt) {
  int rc = BmmCheckWriteHeader(hdr, bmm_tga_ops.info.flags);
  if (rc != BMM_ERR_OK) return rc;
  const bool o16 = bmm_option_present(opt, "16");
  const bool o24 = bmm_option_present(opt, "24");
  const bool o32 = bmm_option_present(opt, "32");
  const bool yup = bmm_option_present(opt, "yup");
  const bool ydown = bmm_option_present(opt, "ydown");
  const int depthWords = int(o16) + int(o24) + int(o32);
  if (depthWords > 1 || (hdr->bpp == 8 && depthWords > 0) || (yup && ydown))
    return BMM_ERR_BAD_OPTION;
  if (hdr->width > 0xFFFF || hdr->height > 0xFFFF) return BMM_ERR_BAD_SIZE;
  const int depth = hdr->bpp == 8 ? 8 : (o16 ? 16 : (o32 ? 32 : 24));

  const bool mapped = hdr->bpp == 8;
  std::vector<uint8_t> head;
  TByteWriter out(head);
  out.U8(0);              // no identification field
  out.U8(mapped ? 1 : 0); // colour map type
  out.U8(mapped ? 1 : 2); // image type: colour-mapped or true colour, raw
  out.Le16(0);            // first colour map entry
  out.Le16(mapped ? 256 : 0);
  out.U8(mapped ? 24 : 0); // colour map entry size
  out.Le16(0);             // x origin
  out.Le16(0);             // y origin
  out.Le16(static_cast<uint32_t>(hdr->width));
  out.Le16(static_cast<uint32_t>(hdr->height));
  out.U8(depth);
  out.U8((ydown ? kTopFirst : 0) | (depth == 32 ? 8 : 0)); // bits 0-3: alpha bits per pixel
  if (mapped) {
    for (int i = 0; i < 256; ++i) {
      out.U8(pal[i].b);
      out.U8(pal[i].g);
      out.U8(pal[i].r);
    }
  }
  if (!BmmWriteExact(fd, head.data(), static_cast<int64_t>(head.size()))) return BMM_ERR_WRITE;

  const std::size_t width = static_cast<std::size_t>(hdr->width);
  const std::size_t stride = static_cast<std::size_t>(bmm_stride(hdr->width, hdr->bpp));
  const std::size_t outBytes = width * (depth / 8);
  std::vector<uint8_t> line;
  line.reserve(outBytes);
  for (int32_t i = 0; i < hdr->height; ++i) {
    const int32_t y = ydown ? hdr->height - 1 - i : i;
    const uint8_t* row = data + std::size_t(y) * stride;
    const uint8_t* pixels = row; // 8 and 24 bits are written as stored
    if (depth == 16 || depth == 32) {
      line.clear();
      TByteWriter px(line);
      for (std::size_t j = 0; j < width; ++j) {
        const uint8_t blue = row[3 * j];
        const uint8_t green = row[3 * j + 1];
        const uint8_t red = row[3 * j + 2];
        if (depth == 16) {
          px.Le16((blue >> 3) | (green >> 3) << 5 | (red >> 3) << 10);
        } else {
          px.U8(blue);
          px.U8(green);
          px.U8(red);
          px.U8(0xFF);
        }
      }
      pixels = line.data();
    }
    if (!BmmWriteExact(fd, pixels, static_cast<int64_t>(outBytes))) return BMM_ERR_WRITE;
  }
  return BMM_ERR_OK;
}

const char* ErrorText(int rc) {
  switch (rc) {
  case BMM_ERR_TGA_BAD_BPP:
    return "bits per pixel not 8, 16, 24 or 32";
  case BMM_ERR_TGA_BAD_TYPE:
    return "unsupported compression type for bits per pixel";
  case BMM_ERR_TGA_BAD_PAL:
    return "color map entry size not 24 bits per pixel";
  default:
    return nullptr;
  }
}

} // namespace

const BmmFormatOps bmm_tga_ops = {
    {"Targa", "Truevision Targa/Vista bitmap", "TGA VST AFI", 0xCC},
    ReadHeader,
    ReadPalette,
    ReadData,
    Write,
    ErrorText,
};

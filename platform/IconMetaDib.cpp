#include "platform/IconMetaDib.h"

#include "platform/ByteReader.h"
#include "platform/MemoryBudget.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstring>

namespace {

// Position of the lowest set bit and the width of a colour mask, so that a
// masked value can be widened to 8 bits.
struct TMaskShift {
  int Shift = 0;
  int Bits = 0;
  explicit TMaskShift(uint32_t Mask) {
    if (Mask == 0) return;
    while (!(Mask & 1u)) {
      Mask >>= 1;
      ++Shift;
    }
    while (Mask & 1u) {
      Mask >>= 1;
      ++Bits;
    }
  }
  int Scale(uint32_t Value, uint32_t Mask) const {
    if (Bits == 0) return 0;
    const uint32_t v = (Value & Mask) >> Shift;
    const uint32_t max = Bits >= 32 ? 0xFFFFFFFFu : ((1u << Bits) - 1);
    return int((uint64_t(v) * 255 + max / 2) / max);
  }
};

QRgb PaletteColour(const TDibHeader& H, unsigned Index) {
  if (Index < H.Palette.size()) return H.Palette[Index];
  return qRgb(0, 0, 0);
}

// RLE8 and RLE4: runs and escapes, every write clipped to the picture. Data
// that stop early keep what was decoded.
bool DecodeRle(const TDibHeader& H, const uint8_t* Bits, size_t Size, QImage& Image) {
  const bool four = H.Compression == 2;
  int x = 0, y = 0; // y counts rows from the bottom
  auto put = [&](unsigned index) {
    if (x >= 0 && x < H.Width && y >= 0 && y < H.Height) {
      const int row = H.TopDown ? y : H.Height - 1 - y;
      reinterpret_cast<QRgb*>(Image.scanLine(row))[x] = PaletteColour(H, index);
    }
    ++x;
  };
  TByteReader in(Bits, Size);
  for (;;) {
    const uint8_t count = in.U8();
    const uint8_t value = in.U8();
    if (in.Failed()) break;
    if (count > 0) {
      for (int k = 0; k < count; ++k)
        put(four ? ((k & 1) ? (value & 0x0F) : (value >> 4)) : value);
      continue;
    }
    if (value == 0) { // end of line
      x = 0;
      ++y;
    } else if (value == 1) { // end of bitmap
      break;
    } else if (value == 2) { // delta
      const uint8_t dx = in.U8();
      const uint8_t dy = in.U8();
      if (in.Failed()) break;
      x += dx;
      y += dy;
    } else { // absolute run of `value` pixels, padded to 16 bits
      const size_t bytes = four ? (size_t(value) + 1) / 2 : value;
      const uint8_t* run = in.Bytes(bytes);
      if (!run) break;
      for (int k = 0; k < value; ++k) {
        const uint8_t b = run[four ? k / 2 : k];
        put(four ? ((k & 1) ? (b & 0x0F) : (b >> 4)) : b);
      }
      if (bytes & 1) in.Skip(1); // a missing pad byte ends the data
    }
    if (y >= H.Height) break;
  }
  return true;
}

} // namespace

bool ParseDibHeader(const uint8_t* Info, size_t Size, TDibHeader& H, std::string& Error,
                    bool DoubleHeight, bool PaletteIndices) {
  H = TDibHeader();
  TByteReader in(Info, Size);
  if (!in.Has(12)) {
    Error = "bitmap header is truncated";
    return false;
  }
  const uint32_t headerSize = in.Le32();
  int64_t height = 0;
  uint32_t coloursUsed = 0;
  bool core = false;
  if (headerSize == 12) {
    // Core header: width, height, planes, bit count, all 16-bit.
    core = true;
    H.Width = in.Le16();
    height = in.Le16();
    in.Skip(2);
    H.BitCount = in.Le16();
  } else if (headerSize >= 40 && headerSize <= Size) {
    // Info header: width, height, planes, bit count, compression, image size,
    // resolutions, colours used and important; from V2 on the masks follow.
    H.Width = in.LeI32();
    height = in.LeI32();
    in.Skip(2);
    H.BitCount = in.Le16();
    H.Compression = in.Le32();
    H.ImageSize = in.Le32();
    in.Skip(8);
    coloursUsed = in.Le32();
    in.Skip(4);
    if (headerSize >= 52) {
      H.Masks[0] = in.Le32();
      H.Masks[1] = in.Le32();
      H.Masks[2] = in.Le32();
      if (headerSize >= 56) H.Masks[3] = in.Le32();
    }
    in.Seek(headerSize);
  } else {
    Error = "unknown bitmap header size " + std::to_string(headerSize);
    return false;
  }
  if (height < 0) {
    H.TopDown = true;
    height = -height;
  }
  if (DoubleHeight) height /= 2;
  if (H.Width <= 0 || height <= 0 || H.Width > kMaxDibSide || height > kMaxDibSide ||
      int64_t(H.Width) * height > kMaxDibPixels) {
    Error = "bitmap size " + std::to_string(H.Width) + " x " + std::to_string(height) +
            " is out of range";
    return false;
  }
  H.Height = int(height);
  const int bc = H.BitCount;
  if (H.Compression == 4 || H.Compression == 5) {
    // JPEG or PNG data: the bit count says nothing about the pixels.
  } else if (bc != 1 && bc != 4 && bc != 8 && bc != 16 && bc != 24 && bc != 32) {
    Error = "unsupported bit count " + std::to_string(bc);
    return false;
  } else if (H.Compression > 3 || (H.Compression == 1 && bc != 8) ||
             (H.Compression == 2 && bc != 4) || (H.Compression == 3 && bc != 16 && bc != 32)) {
    Error = "unsupported bitmap compression " + std::to_string(H.Compression);
    return false;
  }
  if (H.Compression == 3 && headerSize == 40) {
    if (!in.Has(12)) {
      Error = "bitmap masks are truncated";
      return false;
    }
    H.Masks[0] = in.Le32();
    H.Masks[1] = in.Le32();
    H.Masks[2] = in.Le32();
  }
  size_t colours = 0;
  if (bc <= 8 && H.Compression != 4 && H.Compression != 5)
    colours = (coloursUsed > 0 && coloursUsed < (1u << bc)) ? coloursUsed : (size_t(1) << bc);
  else if (coloursUsed > 0 && coloursUsed <= 256)
    colours = coloursUsed; // an optional table beside true-colour pixels: skipped
  const size_t entry = PaletteIndices ? 2 : (core ? 3 : 4);
  // Some writers give a full table size but store fewer entries; keep what fits.
  colours = std::min(colours, in.Remaining() / entry);
  TByteReader table(in.Bytes(colours * entry), colours * entry);
  if (bc <= 8) {
    H.Palette.reserve(colours);
    for (size_t k = 0; k < colours; ++k) {
      if (PaletteIndices) {
        const int g = table.Le16() & 0xFF;
        H.Palette.push_back(qRgb(g, g, g));
      } else {
        const uint8_t* e = table.Bytes(entry);
        H.Palette.push_back(qRgb(e[2], e[1], e[0]));
      }
    }
  }
  H.InfoSize = in.Position();
  return true;
}

bool PngHeaderSize(const uint8_t* Data, size_t Size, uint32_t& Width, uint32_t& Height) {
  // The 8-byte signature, then the IHDR chunk, which libpng requires first:
  // length (4 bytes), type (4), width and height (4 each, big-endian), ...
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  TByteReader in(Data, Size);
  const uint8_t* signature = in.Bytes(sizeof kSignature);
  in.Skip(8); // the chunk's length and type
  Width = in.Be32();
  Height = in.Be32();
  return !in.Failed() && std::memcmp(signature, kSignature, sizeof kSignature) == 0;
}

bool DecodeEmbeddedPicture(const uint8_t* Data, size_t Size, const char* Format,
                           const std::string& Damaged, QImage& Image, std::string& Error) {
  QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(Data), qsizetype(Size));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, Format);
  reader.setDecideFormatFromContent(false);
  const QSize size = reader.size();
  if (!size.isValid()) {
    Error = Damaged;
    return false;
  }
  if (!PixelsAllowed(size.width(), size.height())) {
    Error = PixelLimitMessage(size.width(), size.height());
    return false;
  }
  if (size.width() > kMaxDibSide || size.height() > kMaxDibSide ||
      int64_t(size.width()) * size.height() > kMaxDibPixels) {
    Error = std::string("embedded ") + Format + " picture of " + std::to_string(size.width()) +
            " x " + std::to_string(size.height()) + " pixels is out of range";
    return false;
  }
  QImage decoded;
  if (!reader.read(&decoded)) {
    Error = Damaged;
    return false;
  }
  Image = decoded.convertToFormat(QImage::Format_ARGB32);
  return true;
}

bool DecodeDibPixels(const TDibHeader& H, const uint8_t* Bits, size_t Size, bool KeepAlpha,
                     QImage& Image, std::string& Error) {
  if (H.Compression == 4 || H.Compression == 5) {
    const size_t n = H.ImageSize > 0 && H.ImageSize <= Size ? H.ImageSize : Size;
    return DecodeEmbeddedPicture(Bits, n, H.Compression == 4 ? "JPG" : "PNG",
                                 "embedded compressed bitmap cannot be decoded", Image, Error);
  }
  const int64_t stride = H.Stride();
  if (H.Compression == 0 || H.Compression == 3) {
    if (stride * H.Height > int64_t(Size)) {
      Error = "bitmap pixel data are truncated";
      return false;
    }
  }
  // Run-length data can skip over large areas with a few bytes; a bitmap far
  // larger than its data could ever fill is refused.
  if ((H.Compression == 1 || H.Compression == 2) &&
      int64_t(H.Width) * H.Height > std::max<int64_t>(int64_t(1) << 20, int64_t(Size) * 256)) {
    Error = "run-length bitmap is too large for its data";
    return false;
  }
  Image = QImage(H.Width, H.Height, QImage::Format_ARGB32);
  if (Image.isNull()) {
    Error = "bitmap of " + std::to_string(H.Width) + " x " + std::to_string(H.Height) +
            " cannot be allocated";
    return false;
  }
  if (H.Compression == 1 || H.Compression == 2) {
    Image.fill(PaletteColour(H, 0));
    return DecodeRle(H, Bits, Size, Image);
  }
  uint32_t masks[4] = {H.Masks[0], H.Masks[1], H.Masks[2], H.Masks[3]};
  if (H.Compression == 0) {
    if (H.BitCount == 16) {
      masks[0] = 0x7C00;
      masks[1] = 0x03E0;
      masks[2] = 0x001F;
      masks[3] = 0;
    } else if (H.BitCount == 32) {
      masks[0] = 0x00FF0000;
      masks[1] = 0x0000FF00;
      masks[2] = 0x000000FF;
      masks[3] = 0xFF000000;
    }
  }
  const TMaskShift sr(masks[0]), sg(masks[1]), sb(masks[2]), sa(masks[3]);
  // Rows are stored bottom first unless the height was negative.
  TByteReader rows(Bits, Size);
  for (int y = 0; y < H.Height; ++y) {
    TByteReader row = rows.Sub(size_t(stride));
    QRgb* dst = reinterpret_cast<QRgb*>(Image.scanLine(H.TopDown ? y : H.Height - 1 - y));
    const uint8_t* src = row.Data();
    if (!src) {
      Error = "bitmap pixel data are truncated";
      return false;
    }
    switch (H.BitCount) {
    case 1:
      for (int x = 0; x < H.Width; ++x)
        dst[x] = PaletteColour(H, (src[x >> 3] >> (7 - (x & 7))) & 1);
      break;
    case 4:
      for (int x = 0; x < H.Width; ++x)
        dst[x] = PaletteColour(H, (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4));
      break;
    case 8:
      for (int x = 0; x < H.Width; ++x)
        dst[x] = PaletteColour(H, src[x]);
      break;
    case 24:
      for (int x = 0; x < H.Width; ++x)
        dst[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
      break;
    case 16:
    case 32: {
      for (int x = 0; x < H.Width; ++x) {
        const uint32_t v = H.BitCount == 16 ? row.Le16() : row.Le32();
        const int a = (KeepAlpha && masks[3]) ? sa.Scale(v, masks[3]) : 255;
        dst[x] = qRgba(sr.Scale(v, masks[0]), sg.Scale(v, masks[1]), sb.Scale(v, masks[2]), a);
      }
      break;
    }
    default:
      Error = "unsupported bit count";
      return false;
    }
  }
  return true;
}

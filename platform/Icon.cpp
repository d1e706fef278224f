#include "platform/Icon.h"

#include "platform/ByteReader.h"
#include "platform/IconMetaDib.h"
#include "platform/MemoryBudget.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>

#include <cstdint>
#include <vector>

namespace {

// Icon directory: reserved (off 0, 2 bytes, must be 0), type (off 2, 1 icon,
// 2 cursor), count (off 4); then one 16-byte entry per image: width (off 0,
// 1 byte, 0 = 256), height (1), colour count (2), reserved (3), planes (4, 2),
// bit count (6, 2), data size (8, 4), data offset (12, 4).
constexpr size_t kEntrySize = 16;

struct TCandidate {
  size_t Offset = 0;
  size_t Size = 0;
  bool Png = false;
  int Width = 0;
  int Height = 0;
  int BitCount = 0;
  int64_t Area() const { return int64_t(Width) * Height; }
};

// Reads the real size and depth of one directory entry from its image data;
// false when the entry's bytes are not inside the file or not readable.
bool ProbeEntry(const TByteReader& File, TByteReader Entry, TCandidate& C) {
  Entry.Skip(8);
  const uint32_t size = Entry.Le32();
  const uint32_t offset = Entry.Le32();
  const TByteReader image = File.Slice(offset, size);
  const uint8_t* p = image.Data();
  if (Entry.Failed() || image.Failed() || size < 12) return false;
  C.Offset = offset;
  C.Size = size;
  uint32_t w = 0, h = 0;
  if (size >= 33 && PngHeaderSize(p, size, w, h)) {
    // A size the decoder can't take makes the entry unreadable, unless the
    // pixel limit refuses it anyway: the caller then names the size.
    const bool decodable = w > 0 && h > 0 && w <= uint32_t(kMaxDibSide) &&
                           h <= uint32_t(kMaxDibSide) && int64_t(w) * h <= kMaxDibPixels;
    const bool refused =
        !PixelsAllowed(w, h) && w <= uint32_t(INT32_MAX) && h <= uint32_t(INT32_MAX);
    if (!decodable && !refused) return false;
    C.Png = true;
    C.Width = int(w);
    C.Height = int(h);
    C.BitCount = 32;
    return true;
  }
  TDibHeader header;
  std::string error;
  if (!ParseDibHeader(p, size, header, error, true)) return false;
  C.Width = header.Width;
  C.Height = header.Height;
  C.BitCount = header.BitCount;
  return true;
}

} // namespace

struct TPlatformIcon::TImages {
  QImage Colour; // ARGB32; alpha meaningful only when FHasAlpha
  QImage Mask;   // ARGB32, white where transparent, black where opaque
};

void TPlatformIcon::LoadFromStream(TStream& Stream) {
  const TStreamBytes bytes(Stream);
  if (bytes.Size() == 0) throw EIconError("Icon file is empty");
  LoadFromMemory(bytes.Data(), bytes.Size());
}

void TPlatformIcon::LoadFromMemory(const uint8_t* Data, size_t Size) {
  TByteReader dir(Data, Size);
  const uint16_t reserved = dir.Le16();
  const uint16_t type = dir.Le16();
  const unsigned count = dir.Le16();
  if (dir.Failed() || reserved != 0 || (type != 1 && type != 2))
    throw EIconError("Not an icon file");
  if (count == 0) throw EIconError("Icon file holds no image");
  if (!dir.Has(size_t(count) * kEntrySize)) throw EIconError("Icon directory is truncated");

  // The largest entry within the pixel limit, of those the deepest; the
  // largest entry above it is kept for the error when no other can be shown.
  const TByteReader file(Data, Size);
  TCandidate best, tooLarge;
  bool found = false, refused = false;
  for (unsigned i = 0; i < count; ++i) {
    TCandidate c;
    if (!ProbeEntry(file, dir.Sub(kEntrySize), c)) continue;
    if (!PixelsAllowed(c.Width, c.Height)) {
      if (!refused || c.Area() > tooLarge.Area()) tooLarge = c;
      refused = true;
      continue;
    }
    if (!found || c.Area() > best.Area() ||
        (c.Area() == best.Area() && c.BitCount > best.BitCount)) {
      best = c;
      found = true;
    }
  }
  if (!found && refused) throw EIconError(PixelLimitMessage(tooLarge.Width, tooLarge.Height));
  if (!found) throw EIconError("Icon file holds no readable image");

  const uint8_t* p = Data + best.Offset;
  QImage colour, mask;
  bool hasAlpha = false;
  std::string error;
  // Errors of the image data; the pixel limit's message is passed on as it is.
  auto failed = [&error] {
    return EIconError(IsPixelLimitMessage(error) ? error : "Icon image: " + error);
  };
  if (best.Png) {
    if (!DecodeEmbeddedPicture(p, best.Size, "PNG", "damaged PNG data", colour, error))
      throw failed();
    hasAlpha = true;
  } else {
    TDibHeader header;
    if (!ParseDibHeader(p, best.Size, header, error, true)) throw failed();
    const uint8_t* bits = p + header.InfoSize;
    const size_t available = best.Size - header.InfoSize;
    if (!DecodeDibPixels(header, bits, available, true, colour, error)) throw failed();
    if (header.BitCount == 32) {
      for (int y = 0; y < colour.height() && !hasAlpha; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(colour.constScanLine(y));
        for (int x = 0; x < colour.width(); ++x)
          if (qAlpha(row[x]) != 0) {
            hasAlpha = true;
            break;
          }
      }
    }
    if (!hasAlpha) {
      // The colour part is opaque; the AND mask follows it, 1 bit per pixel.
      for (int y = 0; y < colour.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(colour.scanLine(y));
        for (int x = 0; x < colour.width(); ++x)
          row[x] |= 0xFF000000u;
      }
      mask = QImage(colour.size(), QImage::Format_ARGB32);
      mask.fill(qRgb(0, 0, 0));
      const size_t xorSize = size_t(header.Stride()) * header.Height;
      const size_t maskStride = ((size_t(header.Width) + 31) / 32) * 4;
      TByteReader rest(bits, available);
      rest.Skip(xorSize);
      const uint8_t* maskBits = rest.Bytes(maskStride * header.Height);
      // A file that stops after the colour rows has no mask: fully opaque.
      if (header.Compression == 0 && maskBits) {
        for (int y = 0; y < header.Height; ++y) {
          const uint8_t* src = maskBits + (header.TopDown ? y : header.Height - 1 - y) * maskStride;
          QRgb* dst = reinterpret_cast<QRgb*>(mask.scanLine(y));
          for (int x = 0; x < header.Width; ++x)
            if ((src[x >> 3] >> (7 - (x & 7))) & 1) dst[x] = qRgb(255, 255, 255);
        }
      }
    }
  }
  FImages = std::make_shared<const TImages>(TImages{colour, mask});
  FWidth = colour.width();
  FHeight = colour.height();
  FHasAlpha = hasAlpha;
  FBitCount = best.BitCount;
}

void TPlatformIcon::Draw(TCanvas& Canvas, int X, int Y) const {
  Draw(Canvas.Painter(), X, Y);
}

void TPlatformIcon::Draw(QPainter& Painter, int X, int Y) const {
  if (Empty()) return;
  const QImage& colourImage = FImages->Colour;
  const QImage& maskImage = FImages->Mask;
  if (FHasAlpha) {
    Painter.drawImage(X, Y, colourImage);
    return;
  }
  // AND with the mask, then XOR with the colours, on the target's pixels when
  // the painter draws straight onto an image without scaling.
  QPaintDevice* device = Painter.device();
  const QTransform t = Painter.worldTransform();
  if (device && device->devType() == QInternal::Image && t.type() <= QTransform::TxTranslate) {
    QImage& target = *static_cast<QImage*>(device);
    const int ox = X + int(t.dx()), oy = Y + int(t.dy());
    for (int y = 0; y < Height(); ++y) {
      const int ty = oy + y;
      if (ty < 0 || ty >= target.height()) continue;
      const QRgb* c = reinterpret_cast<const QRgb*>(colourImage.constScanLine(y));
      const QRgb* m = reinterpret_cast<const QRgb*>(maskImage.constScanLine(y));
      for (int x = 0; x < Width(); ++x) {
        const int tx = ox + x;
        if (tx < 0 || tx >= target.width()) continue;
        const QRgb d = target.pixel(tx, ty);
        const QRgb result = ((d & m[x]) ^ c[x]) | 0xFF000000u;
        target.setPixel(tx, ty, result);
      }
    }
    return;
  }
  // Other surfaces: the mask becomes the alpha channel.
  QImage blended = colourImage;
  for (int y = 0; y < Height(); ++y) {
    QRgb* c = reinterpret_cast<QRgb*>(blended.scanLine(y));
    const QRgb* m = reinterpret_cast<const QRgb*>(maskImage.constScanLine(y));
    for (int x = 0; x < Width(); ++x)
      if (qRed(m[x])) c[x] &= 0x00FFFFFFu;
  }
  Painter.drawImage(X, Y, blended);
}

QImage TPlatformIcon::ToImage() const {
  QImage image(Width(), Height(), QImage::Format_RGB32);
  image.fill(qRgb(0, 0, 0));
  if (!Empty()) {
    QPainter painter(&image);
    Draw(painter, 0, 0);
  }
  return image;
}

TPlatformIcon TPlatformIcon::CreateFromBitmaps(const QImage& Colour, const QImage& Mask) {
  if (Colour.isNull() || Colour.size() != Mask.size())
    throw EIconError("Icon bitmaps must have the same size");
  TImages images{Colour.convertToFormat(QImage::Format_ARGB32),
                 QImage(Colour.size(), QImage::Format_ARGB32)};
  for (int y = 0; y < Colour.height(); ++y) {
    QRgb* c = reinterpret_cast<QRgb*>(images.Colour.scanLine(y));
    QRgb* m = reinterpret_cast<QRgb*>(images.Mask.scanLine(y));
    for (int x = 0; x < Colour.width(); ++x) {
      c[x] |= 0xFF000000u;
      m[x] = qGray(Mask.pixel(x, y)) >= 128 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
    }
  }
  TPlatformIcon icon;
  icon.FWidth = images.Colour.width();
  icon.FHeight = images.Colour.height();
  icon.FImages = std::make_shared<const TImages>(std::move(images));
  icon.FBitCount = 24;
  return icon;
}

TPlatformIcon TPlatformIcon::CreateOpaque(int Width, int Height, const TDibView* Picture) {
  QImage colour(Width, Height, QImage::Format_RGB32);
  colour.fill(qRgb(0, 0, 0));
  QImage mask(Width, Height, QImage::Format_RGB32);
  mask.fill(qRgb(0, 0, 0)); // black: every pixel opaque
  if (Picture && !Picture->Empty()) {
    QPainter painter(&colour);
    painter.drawImage(0, 0, DibToImage(*Picture));
  }
  return CreateFromBitmaps(colour, mask);
}

void TPlatformIcon::SaveToStream(TStream& Stream) const {
  if (Empty()) throw EIconError("Icon is empty");
  const int w = Width(), h = Height();
  if (w > 256 || h > 256) throw EIconError("Icon images are at most 256 x 256 pixels");
  const size_t colourStride = ((size_t(w) * 24 + 31) / 32) * 4;
  const size_t maskStride = ((size_t(w) + 31) / 32) * 4;
  const size_t imageSize = (colourStride + maskStride) * h;
  std::vector<uint8_t> bytes;
  bytes.reserve(22 + 40 + imageSize);
  TByteWriter out(bytes);
  out.Le16(0);
  out.Le16(1);
  out.Le16(1);
  out.U8(w == 256 ? 0 : w);
  out.U8(h == 256 ? 0 : h);
  out.U8(0);
  out.U8(0);
  out.Le16(1);
  out.Le16(24);
  out.Le32(uint32_t(40 + imageSize));
  out.Le32(22);
  // BITMAPINFOHEADER; the height counts colour and mask rows.
  out.Le32(40);
  out.Le32(uint32_t(w));
  out.Le32(uint32_t(2 * h));
  out.Le16(1);
  out.Le16(24);
  out.Le32(0);
  out.Le32(uint32_t(imageSize));
  for (int i = 0; i < 4; ++i)
    out.Le32(0);
  const QImage& colourImage = FImages->Colour;
  const QImage& maskImage = FImages->Mask;
  const bool alphaOnly = FHasAlpha || maskImage.isNull();
  for (int y = h - 1; y >= 0; --y) {
    const QRgb* c = reinterpret_cast<const QRgb*>(colourImage.constScanLine(y));
    size_t written = 0;
    for (int x = 0; x < w; ++x) {
      // Alpha images are saved as they look over black.
      QRgb v = c[x];
      if (alphaOnly) {
        const int a = qAlpha(v);
        v = qRgb(qRed(v) * a / 255, qGreen(v) * a / 255, qBlue(v) * a / 255);
      }
      out.U8(qBlue(v));
      out.U8(qGreen(v));
      out.U8(qRed(v));
      written += 3;
    }
    out.Zeros(colourStride - written);
  }
  for (int y = h - 1; y >= 0; --y) {
    std::vector<uint8_t> row(maskStride, 0);
    if (!alphaOnly) {
      const QRgb* m = reinterpret_cast<const QRgb*>(maskImage.constScanLine(y));
      for (int x = 0; x < w; ++x)
        if (qRed(m[x])) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    out.Bytes(row.data(), row.size());
  }
  Stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
}

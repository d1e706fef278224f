#include "platform/MetaFile.h"

#include "platform/Bitmap.h"
#include "platform/ByteReader.h"
#include "platform/MetaFilePlayer.h"

#include <QImage>
#include <QPainter>
#include <QRect>

#include <cmath>

void TMetafile::LoadFromStream(TStream& Stream) {
  const TStreamBytes bytes(Stream);
  if (bytes.Size() == 0) throw EMetafileError("Metafile is empty");
  LoadFromMemory(bytes.Data(), bytes.Size());
}

void TMetafile::LoadFromMemory(const uint8_t* Data, size_t Size) {
  SetBytes(Data, Size);
}

void TMetafile::SetBytes(const uint8_t* Data, size_t Size) {
  auto data = std::make_shared<TMetafileData>(ParseMetafile(Data, Size));
  // Each axis at its own resolution of the screen.
  int w = 0, h = 0, unusedW = 0, unusedH = 0;
  MetafilePixelSize(*data, ScreenLogPixelsX(), w, unusedH);
  MetafilePixelSize(*data, ScreenLogPixelsY(), unusedW, h);
  FData = std::move(data);
  FWidth = w;
  FHeight = h;
}

void TMetafile::Draw(QPainter& Painter, const QRect& Rect) const {
  if (!FData) return;
  PlayMetafile(*FData, Painter, QRectF(Rect));
}

void TMetafile::Draw(TCanvas& Canvas, const TRect& Rect) const {
  Draw(Canvas.Painter(), QRect(Rect.Left, Rect.Top, Rect.Width(), Rect.Height()));
}

void TMetafile::SaveToStream(TStream& Stream) const {
  if (!FData) throw EMetafileError("Metafile is empty");
  Stream.WriteBuffer(FData->Bytes.data(), int64_t(FData->Bytes.size()));
}

TMetafileCanvas::TMetafileCanvas(TMetafile& Target, int Width, int Height)
    : FTarget(Target), FWidth(Width), FHeight(Height) {
  if (Width <= 0 || Height <= 0 || Width > kMaxMetafileSide || Height > kMaxMetafileSide)
    throw EMetafileError("Metafile picture size " + std::to_string(Width) + " x " +
                         std::to_string(Height) + " is out of range");
}

TMetafileCanvas::~TMetafileCanvas() {
  try {
    Finish();
  } catch (...) {
    // A destructor must not throw; Finish() called explicitly reports errors.
  }
}

void TMetafileCanvas::DrawDib(int X, int Y, const TDibView& Dib) {
  DrawImage(X, Y, DibToImage(Dib));
}

void TMetafileCanvas::DrawImage(int X, int Y, const QImage& Image) {
  if (FFinished) throw EMetafileError("Metafile recording has finished");
  if (Image.isNull()) return;
  const QImage rgb = Image.convertToFormat(QImage::Format_RGB888);
  const int w = rgb.width(), h = rgb.height();
  const uint32_t stride = ((uint32_t(w) * 24 + 31) / 32) * 4;
  const uint64_t bitsSize = uint64_t(stride) * h;
  if (bitsSize > 0x7FFFFFFF - 200) throw EMetafileError("Image too large for a metafile record");
  // EMR_STRETCHDIBITS: type, size, bounds (8), xDest (24), yDest (28), xSrc,
  // ySrc, cxSrc, cySrc (32-44), offBmi (48), cbBmi (52), offBits (56),
  // cbBits (60), usage (64), rop (68), cxDest (72), cyDest (76), then the
  // 40-byte header (80) and the bottom-up pixel rows (120).
  const uint32_t recordSize = 80 + 40 + uint32_t(bitsSize);
  FRecords.reserve(FRecords.size() + recordSize);
  TByteWriter v(FRecords);
  v.Le32(81);
  v.Le32(recordSize);
  v.LeI32(X);
  v.LeI32(Y);
  v.LeI32(X + w - 1);
  v.LeI32(Y + h - 1);
  v.LeI32(X);
  v.LeI32(Y);
  v.LeI32(0);
  v.LeI32(0);
  v.LeI32(w);
  v.LeI32(h);
  v.Le32(80);
  v.Le32(40);
  v.Le32(120);
  v.Le32(uint32_t(bitsSize));
  v.Le32(0);          // DIB_RGB_COLORS
  v.Le32(0x00CC0020); // SRCCOPY
  v.LeI32(w);
  v.LeI32(h);
  v.Le32(40);
  v.LeI32(w);
  v.LeI32(h);
  v.Le16(1);
  v.Le16(24);
  v.Le32(0);
  v.Le32(uint32_t(bitsSize));
  for (int i = 0; i < 4; ++i)
    v.Le32(0);
  for (int y = h - 1; y >= 0; --y) {
    const uint8_t* row = rgb.constScanLine(y);
    for (int x = 0; x < w; ++x) {
      v.U8(row[3 * x + 2]);
      v.U8(row[3 * x + 1]);
      v.U8(row[3 * x]);
    }
    v.Zeros(stride - uint32_t(3 * w));
  }
  ++FRecordCount;
}

void TMetafileCanvas::Finish() {
  if (FFinished) return;
  FFinished = true;
  // The reference device is the screen: its pixels and its size in
  // millimetres at the screen's resolution, so that the picture reloads at
  // Width x Height pixels.
  const double dpiX = ScreenLogPixelsX(), dpiY = ScreenLogPixelsY();
  // 254 mm of the device are ten inches, so its pixels per millimetre are exact.
  const int32_t devW = int32_t(dpiX * 10), devH = int32_t(dpiY * 10);
  const int32_t mmW = 254, mmH = 254;
  const int32_t frameR = int32_t(std::lround(FWidth * 2540.0 / dpiX));
  const int32_t frameB = int32_t(std::lround(FHeight * 2540.0 / dpiY));
  std::vector<uint8_t> bytes;
  TByteWriter out(bytes);
  const uint32_t headerSize = 108;
  const uint32_t eofSize = 20;
  const uint64_t total = uint64_t(headerSize) + FRecords.size() + eofSize;
  if (total > 0xFFFFFFFFu) throw EMetafileError("Metafile too large");
  bytes.reserve(size_t(total));
  // EMR_HEADER: type (0), size (4), bounds (8), frame (24), signature (40),
  // version (44), bytes (48), records (52), handles (56), reserved (58),
  // description length and offset (60, 64), palette entries (68), device
  // size (72), device millimetres (80), pixel format size and offset (88,
  // 92), OpenGL flag (96), device micrometres (100).
  out.Le32(1);
  out.Le32(headerSize);
  out.LeI32(0);
  out.LeI32(0);
  out.LeI32(FWidth - 1);
  out.LeI32(FHeight - 1);
  out.LeI32(0);
  out.LeI32(0);
  out.LeI32(frameR);
  out.LeI32(frameB);
  out.Le32(0x464D4520);
  out.Le32(0x00010000);
  out.Le32(uint32_t(total));
  out.Le32(FRecordCount + 2);
  out.Le16(1);
  out.Le16(0);
  out.Le32(0);
  out.Le32(0);
  out.Le32(0);
  out.LeI32(devW);
  out.LeI32(devH);
  out.LeI32(mmW);
  out.LeI32(mmH);
  out.Le32(0);
  out.Le32(0);
  out.Le32(0);
  out.LeI32(mmW * 1000);
  out.LeI32(mmH * 1000);
  out.Bytes(FRecords.data(), FRecords.size());
  // EMR_EOF: type, size, palette entries, palette offset, size again.
  out.Le32(14);
  out.Le32(eofSize);
  out.Le32(0);
  out.Le32(16);
  out.Le32(eofSize);
  FRecords.clear();
  FTarget.SetBytes(bytes.data(), bytes.size());
}

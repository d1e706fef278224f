#include "platform/Canvas.h"

#include "platform/Bitmap.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <vector>

std::unique_ptr<TPalette> CreateHalftonePalette() {
  // The 20 static system colours at both ends, a 6x6x6 colour cube and a grey
  // ramp in between: 256 entries.
  TLogPalette log;
  log.palVersion = 0x300;
  log.palNumEntries = 256;
  static const uint8_t system[20][3] = {
      {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
      {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
      {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
      {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
  auto set = [&log](int i, int r, int g, int b) {
    log.palPalEntry[i] = TPaletteEntry{uint8_t(r), uint8_t(g), uint8_t(b), 0};
  };
  for (int i = 0; i < 10; ++i)
    set(i, system[i][0], system[i][1], system[i][2]);
  for (int i = 10; i < 20; ++i)
    set(236 + i, system[i][0], system[i][1], system[i][2]);
  int k = 10;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        set(k++, r * 51, g * 51, b * 51);
  // 10 + 216 = 226; ten greys up to entry 245.
  for (int i = 0; i < 20 && k < 246; ++i) {
    const int v = 11 + i * 24;
    if (v % 51 == 0) continue;
    set(k++, v, v, v);
  }
  while (k < 246)
    set(k++, 0, 0, 0);
  return std::make_unique<TPalette>(log);
}

// ---- TCanvas

TCanvas::TCanvas() = default;

TCanvas::TCanvas(QPainter& Painter) : FPainter(&Painter) {}

TCanvas::TCanvas(QPaintDevice& Device) : FDevice(&Device) {}

TCanvas::~TCanvas() {
  EndOwnPainter();
}

QPainter& TCanvas::Painter() {
  if (!FPainter) BeginOwnPainter(*FDevice);
  return *FPainter;
}

void TCanvas::Flush() {
  if (FOwnPainter) EndOwnPainter();
}

void TCanvas::BeginOwnPainter(QPaintDevice& Device) {
  FOwnPainter = std::make_unique<QPainter>(&Device);
  FPainter = FOwnPainter.get();
}

void TCanvas::EndOwnPainter() {
  if (FOwnPainter) {
    FOwnPainter->end();
    FOwnPainter.reset();
    FPainter = nullptr;
  }
}

TStretchMode TCanvas::SetStretchBltMode(TStretchMode Mode) {
  const TStretchMode old = FStretchMode;
  FStretchMode = Mode;
  return old;
}

const TPalette* TCanvas::SelectPalette(const TPalette* Palette, bool) {
  const TPalette* old = FPalette;
  FPalette = Palette;
  return old;
}

int TCanvas::RealizePalette() {
  return FPaletteDevice && FPalette ? FPalette->Log().palNumEntries : 0;
}

int TCanvas::LogPixelsX() {
  if (FPainter && FPainter->device()) return FPainter->device()->logicalDpiX();
  if (FDevice) return FDevice->logicalDpiX();
  return ScreenLogPixelsX();
}

int TCanvas::LogPixelsY() {
  if (FPainter && FPainter->device()) return FPainter->device()->logicalDpiY();
  if (FDevice) return FDevice->logicalDpiY();
  return ScreenLogPixelsY();
}

void TCanvas::FillRect(const TRect& R, uint32_t Colour) {
  if (R.IsEmpty()) return;
  if (const TDibView* dib = Dib(); dib && !Drawing()) {
    // Straight into the pixels: one row made once, copied down.
    const TRect r = IntersectRect(R, TRect{0, 0, dib->Width, dib->Height});
    if (r.IsEmpty()) return;
    if (dib->BitCount == 24) {
      const uint8_t b = Colour & 0xFF, g = (Colour >> 8) & 0xFF, rr = (Colour >> 16) & 0xFF;
      uint8_t* first = dib->Row(r.Top) + 3 * size_t(r.Left);
      for (int x = 0; x < r.Width(); ++x) {
        first[3 * x] = b;
        first[3 * x + 1] = g;
        first[3 * x + 2] = rr;
      }
      for (int y = r.Top + 1; y < r.Bottom; ++y)
        std::memcpy(dib->Row(y) + 3 * size_t(r.Left), first, 3 * size_t(r.Width()));
      return;
    }
  }
  Painter().fillRect(R.Left, R.Top, R.Width(), R.Height(),
                     QColor((Colour >> 16) & 0xFF, (Colour >> 8) & 0xFF, Colour & 0xFF));
}

// ---- TDibCanvas

TDibCanvas::TDibCanvas(const TDibView& Dib, TPaletteMapper* Mapper) : FDib(Dib), FMapper(Mapper) {
  const bool palette = Dib.BitCount <= 8;
  if (palette && !FMapper) {
    FOwnMapper = std::make_unique<TNearestColorMapper>(Dib.Colors, Dib.ColorCount);
    FMapper = FOwnMapper.get();
  }
}

TDibCanvas::~TDibCanvas() {
  // Pending drawing lands in the pixels; the DIB is still valid here because
  // its owner destroys the canvas before the storage.
  try {
    Flush();
  } catch (...) {
  }
}

QPainter& TDibCanvas::Painter() {
  if (!FPainter) {
    FSurface = std::make_unique<QImage>(DibToImage(FDib));
    BeginOwnPainter(*FSurface);
  }
  return *FPainter;
}

void TDibCanvas::Flush() {
  if (!FOwnPainter) return;
  EndOwnPainter();
  // Write the surface back: a top-down RGB32 image into the bottom-up DIB.
  const QImage& img = *FSurface;
  const int w = std::min(FDib.Width, img.width()), h = std::min(FDib.Height, img.height());
  std::vector<uint8_t> bgr(3 * size_t(std::max(w, 1)));
  TDibView row1 = FDib;
  for (int y = 0; y < h; ++y) {
    const QRgb* s = reinterpret_cast<const QRgb*>(img.constScanLine(y));
    for (int x = 0; x < w; ++x) {
      bgr[3 * size_t(x)] = uint8_t(qBlue(s[x]));
      bgr[3 * size_t(x) + 1] = uint8_t(qGreen(s[x]));
      bgr[3 * size_t(x) + 2] = uint8_t(qRed(s[x]));
    }
    // Reuse the copy routine for the layout conversion of one row.
    TDibView line{w, 1, 24, int(bgr.size()), bgr.data(), nullptr, 0};
    DibCopy(line, 0, 0, w, 1, row1, 0, y, FMapper);
  }
  FSurface.reset();
}

const TDibView* TDibCanvas::Dib() {
  Flush();
  return &FDib;
}

// ---- Conversions

QImage DibToImage(const TDibView& Src, bool AsRgb888) {
  if (Src.Empty()) return QImage();
  QImage img(Src.Width, Src.Height, AsRgb888 ? QImage::Format_RGB888 : QImage::Format_RGB32);
  if (img.isNull()) return img;
  std::vector<uint8_t> bgr(3 * size_t(Src.Width));
  for (int y = 0; y < Src.Height; ++y) {
    const uint8_t* p;
    if (Src.BitCount == 24) {
      p = Src.Row(y);
    } else {
      TDibView line{Src.Width, 1, 24, int(bgr.size()), bgr.data(), nullptr, 0};
      DibCopy(Src, 0, y, Src.Width, 1, line, 0, 0);
      p = bgr.data();
    }
    uchar* d = img.scanLine(y);
    if (AsRgb888) {
      for (int x = 0; x < Src.Width; ++x) {
        d[3 * x] = p[3 * x + 2];
        d[3 * x + 1] = p[3 * x + 1];
        d[3 * x + 2] = p[3 * x];
      }
    } else {
      QRgb* q = reinterpret_cast<QRgb*>(d);
      for (int x = 0; x < Src.Width; ++x)
        q[x] = qRgb(p[3 * x + 2], p[3 * x + 1], p[3 * x]);
    }
  }
  return img;
}

namespace {

// The part of the device (in the painter's logical coordinates) that drawing
// can reach: the painter's clip, the device, or the given rect when the
// painter transforms in ways we do not follow.
TRect VisibleRect(QPainter& P, const TRect& Dest) {
  TRect r = Dest;
  if (!P.transform().isIdentity() && P.transform().type() > QTransform::TxTranslate) return r;
  const QTransform t = P.transform();
  if (P.device()) {
    const QRectF dev =
        t.inverted().mapRect(QRectF(0, 0, P.device()->width(), P.device()->height()));
    r = IntersectRect(r, TRect{int(std::floor(dev.left())), int(std::floor(dev.top())),
                               int(std::ceil(dev.right())), int(std::ceil(dev.bottom()))});
  }
  if (P.hasClipping()) {
    const QRectF c = P.clipBoundingRect();
    r = IntersectRect(r, TRect{int(std::floor(c.left())), int(std::floor(c.top())),
                               int(std::ceil(c.right())), int(std::ceil(c.bottom()))});
  }
  return r;
}

} // namespace

void SetDIBitsToDevice(TCanvas& Canvas, int X, int Y, int W, int H, int SrcX, int SrcY,
                       const TDibView& Src) {
  if (Src.Empty() || W <= 0 || H <= 0) return;
  if (const TDibView* dib = Canvas.Dib()) {
    DibCopy(Src, SrcX, SrcY, W, H, *dib, X, Y, Canvas.Mapper());
    return;
  }
  // Clip to the source, then to what the painter can show, and convert only that.
  TRect dest{X, Y, X + W, Y + H};
  dest =
      IntersectRect(dest, TRect{X - SrcX, Y - SrcY, X - SrcX + Src.Width, Y - SrcY + Src.Height});
  QPainter& p = Canvas.Painter();
  dest = IntersectRect(dest, VisibleRect(p, dest));
  if (dest.IsEmpty()) return;
  // RGB32 is the painter's own layout, so drawing it is a plain copy.
  QImage img(dest.Width(), dest.Height(), QImage::Format_RGB32);
  if (img.isNull()) return;
  std::vector<uint8_t> line(Src.BitCount == 24 ? 0 : 3 * size_t(dest.Width()));
  TDibView lv{dest.Width(), 1, 24, int(line.size()), line.data(), nullptr, 0};
  for (int y = 0; y < dest.Height(); ++y) {
    const int sy = SrcY + dest.Top - Y + y, sx = SrcX + dest.Left - X;
    const uint8_t* s;
    if (Src.BitCount == 24) {
      s = Src.Row(sy) + 3 * size_t(sx);
    } else {
      DibCopy(Src, sx, sy, dest.Width(), 1, lv, 0, 0);
      s = line.data();
    }
    QRgb* d = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < dest.Width(); ++x)
      d[x] =
          0xFF000000u | (uint32_t(s[3 * x + 2]) << 16) | (uint32_t(s[3 * x + 1]) << 8) | s[3 * x];
  }
  p.drawImage(QPoint(dest.Left, dest.Top), img);
}

void StretchDIBits(TCanvas& Canvas, const TRect& Dest, const TRect& SrcRect, const TDibView& Src) {
  if (Src.Empty()) return;
  const TStretchMode mode = Canvas.StretchBltMode();
  if (const TDibView* dib = Canvas.Dib()) {
    DibStretch(Src, SrcRect, *dib, Dest, mode, Canvas.Mapper());
    return;
  }
  // Stretch the visible part of the destination into a 24-bit buffer, then
  // hand it to the painter 1:1.
  const TRect norm{std::min(Dest.Left, Dest.Right), std::min(Dest.Top, Dest.Bottom),
                   std::max(Dest.Left, Dest.Right), std::max(Dest.Top, Dest.Bottom)};
  QPainter& p = Canvas.Painter();
  const TRect vis = IntersectRect(norm, VisibleRect(p, norm));
  if (vis.IsEmpty()) return;
  const int64_t stride = DibStride(vis.Width(), 24);
  if (stride < 0) return;
  TPixelBuffer buf = TPixelBuffer::Allocate(size_t(stride) * size_t(vis.Height()));
  if (!buf) return;
  TDibView tmp{vis.Width(), vis.Height(), 24, int(stride), buf.Data(), nullptr, 0};
  const TRect local{Dest.Left - vis.Left, Dest.Top - vis.Top, Dest.Right - vis.Left,
                    Dest.Bottom - vis.Top};
  DibStretch(Src, SrcRect, tmp, local, mode);
  QImage img(vis.Width(), vis.Height(), QImage::Format_RGB32);
  if (img.isNull()) return;
  for (int y = 0; y < vis.Height(); ++y) {
    const uint8_t* s = tmp.Row(y);
    QRgb* d = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < vis.Width(); ++x)
      d[x] =
          0xFF000000u | (uint32_t(s[3 * x + 2]) << 16) | (uint32_t(s[3 * x + 1]) << 8) | s[3 * x];
  }
  p.drawImage(QPoint(vis.Left, vis.Top), img);
}

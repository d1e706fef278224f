#include "platform/Bitmap.h"
#include "platform/Canvas.h"
#include "platform/Memory.h"
#include "platform/MemoryBudget.h"

#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

// ---- TPlatformBitmap

TBitmapHandle TPlatformBitmap::Create(int Width, int Height, int BitCount, const TRgbQuad* Colors,
                                      int ColorCount, bool DibSection) {
  if (Width <= 0 || Height <= 0) return nullptr;
  if (BitCount != 1 && BitCount != 2 && BitCount != 4 && BitCount != 8 && BitCount != 16 &&
      BitCount != 24 && BitCount != 32)
    return nullptr;
  const int64_t stride = DibStride(Width, BitCount);
  if (stride < 0) return nullptr;
  const uint64_t size = uint64_t(stride) * uint64_t(Height);
  if (size > 0xFFFFFFFFull) return nullptr;
  TBitmapHandle b(new TPlatformBitmap());
  b->FPixels = TPixelBuffer::AllocateZeroed(size_t(size));
  if (!b->FPixels) return nullptr;
  TBitmapInfoHeader& h = b->FInfo.bmiHeader;
  h.biSize = 40;
  h.biWidth = Width;
  h.biHeight = Height;
  h.biPlanes = 1;
  h.biBitCount = uint16_t(BitCount);
  h.biCompression = BI_RGB;
  h.biSizeImage = uint32_t(size);
  b->FStride = int(stride);
  b->FDibSection = DibSection;
  if (BitCount <= 8) {
    const int n = std::clamp(ColorCount, 0, 1 << BitCount);
    if (Colors && n > 0) std::memcpy(b->FInfo.bmiColors, Colors, sizeof(TRgbQuad) * size_t(n));
    h.biClrUsed = uint32_t(n);
  }
  return b;
}

TBitmapHandle TPlatformBitmap::CreateCompatible(int Width, int Height) {
  return Create(Width, Height, 32, nullptr, 0, false);
}

TBitmapHandle TPlatformBitmap::CreateMonochrome(int Width, int Height) {
  const TRgbQuad bw[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  return Create(Width, Height, 1, bw, 2, false);
}

int TPlatformBitmap::ColorCount() const {
  if (BitCount() > 8) return 0;
  return FInfo.bmiHeader.biClrUsed
             ? int(std::min<uint32_t>(FInfo.bmiHeader.biClrUsed, 1u << BitCount()))
             : 1 << BitCount();
}

TDibView TPlatformBitmap::View() const {
  return TDibView{Width(),        Height(),        BitCount(),  FStride,
                  FPixels.Data(), FInfo.bmiColors, ColorCount()};
}

void TPlatformBitmap::MakeDeviceDependent() {
  if (!FDibSection) return;
  if (BitCount() == 32 || BitCount() == 1) {
    FDibSection = false;
    return;
  }
  // Convert to the screen's depth.
  TBitmapHandle ddb = Create(Width(), Height(), 32, nullptr, 0, false);
  if (!ddb) return;
  DibCopy(View(), 0, 0, Width(), Height(), ddb->View(), 0, 0);
  const TBitmapInfoHeader old = FInfo.bmiHeader;
  FInfo = ddb->FInfo;
  FInfo.bmiHeader.biXPelsPerMeter = old.biXPelsPerMeter;
  FInfo.bmiHeader.biYPelsPerMeter = old.biYPelsPerMeter;
  FStride = ddb->FStride;
  FPixels = std::move(ddb->FPixels);
  FDibSection = false;
}

bool GetBitmapObject(const TPlatformBitmap* Bitmap, TBitmapDescription& Out) {
  if (!Bitmap || !Bitmap->Bits() || Bitmap->Width() <= 0 || Bitmap->Height() <= 0) return false;
  Out = TBitmapDescription{};
  Out.Width = Bitmap->Width();
  Out.Height = Bitmap->Height();
  Out.WidthBytes = Bitmap->Stride();
  Out.Planes = 1;
  Out.BitsPixel = Bitmap->BitCount();
  Out.IsDibSection = Bitmap->IsDibSection();
  if (Out.IsDibSection) Out.DibHeader = Bitmap->Header();
  return true;
}

bool GetDIBits(const TPlatformBitmap& Bitmap, TBitmapInfo& Info, uint8_t* Bits) {
  TBitmapInfoHeader& h = Info.bmiHeader;
  if (!Bitmap.Bits() || !Bits || h.biCompression != BI_RGB) return false;
  if (h.biWidth != Bitmap.Width() || std::abs(int64_t(h.biHeight)) != Bitmap.Height()) return false;
  const int want = h.biBitCount;
  const int have = Bitmap.BitCount();
  const bool same = want == have;
  const bool toTrue = want == 24 && (have == 16 || have == 32);
  if (!same && !toTrue) return false;
  const int64_t stride = DibStride(h.biWidth, want);
  if (stride < 0) return false;
  const TDibView src = Bitmap.View();
  if (same) {
    for (int y = 0; y < src.Height; ++y)
      std::memcpy(Bits + size_t(y) * size_t(stride), src.Bits + size_t(y) * size_t(src.Stride),
                  size_t(std::min<int64_t>(stride, src.Stride)));
  } else {
    const TDibView dst{h.biWidth, src.Height, 24, int(stride), Bits, nullptr, 0};
    DibCopy(src, 0, 0, src.Width, src.Height, dst, 0, 0);
  }
  if (want <= 8) {
    const int n = 1 << want;
    std::fill_n(Info.bmiColors, n, TRgbQuad{});
    std::memcpy(Info.bmiColors, Bitmap.Colors(), sizeof(TRgbQuad) * size_t(Bitmap.ColorCount()));
    h.biClrUsed = uint32_t(Bitmap.ColorCount());
  }
  h.biSizeImage = uint32_t(stride * src.Height);
  return true;
}

TBitmapHandle BitmapFromImage(const QImage& Image) {
  if (Image.isNull()) return nullptr;
  const int w = Image.width(), h = Image.height();
  TBitmapHandle b;
  if (Image.format() == QImage::Format_Indexed8 || Image.format() == QImage::Format_Mono ||
      Image.format() == QImage::Format_MonoLSB) {
    const QList<QRgb> table = Image.colorTable();
    const int n = std::min<int>(int(table.size()), 256);
    TRgbQuad quads[256];
    for (int i = 0; i < n; ++i)
      quads[i] =
          TRgbQuad{uint8_t(qBlue(table[i])), uint8_t(qGreen(table[i])), uint8_t(qRed(table[i])), 0};
    const int bits = Image.format() == QImage::Format_Indexed8 ? 8 : 1;
    b = TPlatformBitmap::Create(w, h, bits, quads, std::max(n, 1));
    if (!b) return nullptr;
    const QImage src = bits == 1 ? Image.convertToFormat(QImage::Format_Mono) : Image;
    const TDibView v = b->View();
    const size_t rowBytes = bits == 8 ? size_t(w) : size_t((w + 7) / 8);
    for (int y = 0; y < h; ++y)
      std::memcpy(v.Row(y), src.constScanLine(y), rowBytes);
  } else {
    const QImage src = Image.convertToFormat(QImage::Format_RGB888);
    b = TPlatformBitmap::Create(w, h, 24);
    if (!b) return nullptr;
    const TDibView v = b->View();
    for (int y = 0; y < h; ++y) {
      const uchar* s = src.constScanLine(y);
      uint8_t* d = v.Row(y);
      for (int x = 0; x < w; ++x) {
        d[3 * x] = s[3 * x + 2];
        d[3 * x + 1] = s[3 * x + 1];
        d[3 * x + 2] = s[3 * x];
      }
    }
  }
  const int xppm = Image.dotsPerMeterX(), yppm = Image.dotsPerMeterY();
  b->Header().biXPelsPerMeter = xppm > 0 ? xppm : 0;
  b->Header().biYPelsPerMeter = yppm > 0 ? yppm : 0;
  return b;
}

QImage ImageFromBitmap(const TPlatformBitmap& Bitmap) {
  QImage img = DibToImage(Bitmap.View());
  if (!img.isNull()) {
    if (Bitmap.Header().biXPelsPerMeter > 0) img.setDotsPerMeterX(Bitmap.Header().biXPelsPerMeter);
    if (Bitmap.Header().biYPelsPerMeter > 0) img.setDotsPerMeterY(Bitmap.Header().biYPelsPerMeter);
  }
  return img;
}

// ---- Screen

namespace {
// Screens may only be asked on the GUI thread; other threads (decoding ahead)
// get what the GUI thread last read, 96 before it read anything.
std::atomic<int> LastDpiX{0}, LastDpiY{0};

bool OnGuiThread() {
  const QCoreApplication* App = QCoreApplication::instance();
  return qobject_cast<const QGuiApplication*>(App) != nullptr &&
         QThread::currentThread() == App->thread();
}

int ScreenDpi(bool X) {
  std::atomic<int>& Last = X ? LastDpiX : LastDpiY;
  if (!OnGuiThread()) {
    const int v = Last.load(std::memory_order_relaxed);
    return v > 0 ? v : 96;
  }
  const QScreen* s = QGuiApplication::primaryScreen();
  int v = s ? int((X ? s->logicalDotsPerInchX() : s->logicalDotsPerInchY()) + 0.5) : 96;
  if (v <= 0) v = 96;
  Last.store(v, std::memory_order_relaxed);
  return v;
}

// The last size read, width in the high half; 0 before any.
std::atomic<uint64_t> LastScreenSize{0};
} // namespace

void ScreenPixelSize(int& Width, int& Height) {
  if (OnGuiThread()) {
    if (const QScreen* s = QGuiApplication::primaryScreen()) {
      const QSize logical = s->size();
      const double ratio = std::max(1.0, s->devicePixelRatio());
      const int w = int(std::lround(logical.width() * ratio));
      const int h = int(std::lround(logical.height() * ratio));
      if (w > 0 && h > 0)
        LastScreenSize.store(uint64_t(uint32_t(w)) << 32 | uint32_t(h), std::memory_order_relaxed);
    }
  }
  const uint64_t v = LastScreenSize.load(std::memory_order_relaxed);
  Width = v ? int(v >> 32) : 1920;
  Height = v ? int(uint32_t(v)) : 1080;
}

int ScreenLogPixelsX() {
  return ScreenDpi(true);
}

int ScreenLogPixelsY() {
  return ScreenDpi(false);
}

bool ScreenIsPaletteDevice() {
  return false;
}

// ---- Clipboard

TBitmapHandle ClipboardGetBitmap() {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return nullptr;
  QClipboard* cb = QGuiApplication::clipboard();
  if (!cb) return nullptr;
  const QImage img = cb->image();
  if (img.isNull()) return nullptr;
  TBitmapHandle b = BitmapFromImage(img);
  if (b) b->MakeDeviceDependent();
  return b;
}

bool ClipboardSetBitmap(const TPlatformBitmap& Bitmap) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
  QClipboard* cb = QGuiApplication::clipboard();
  if (!cb) return false;
  cb->setImage(ImageFromBitmap(Bitmap));
  return true;
}

// ---- Picture files and folders

TBitmapHandle ReadPictureData(const uint8_t* Data, size_t Size, const std::string& Format,
                              std::string& Error, const TPictureReadOptions& Options) {
  QByteArray bytes =
      QByteArray::fromRawData(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, QByteArray::fromStdString(Format));
  reader.setDecideFormatFromContent(false);
  const QSize size = reader.size();
  if (size.isValid() && !PixelsAllowed(size.width(), size.height())) {
    Error = PixelLimitMessage(size.width(), size.height());
    return nullptr;
  }
  // A GIF's LZW codes at best 4096 pixels in a 12-bit code: a file far
  // shorter than that for the picture it claims holds no meaningful part.
  if (size.isValid() && Format == "gif") {
    const uint64_t pixels = uint64_t(size.width()) * uint64_t(size.height());
    if (!DataCanFill(Size, pixels * 12 / 8 / 4096, pixels * 4)) {
      Error = ShortDataMessage("GIF", Size, size.width(), size.height());
      return nullptr;
    }
  }
  // The reader's picture and the colour copy made from it are held from the
  // budget before anything is allocated; a reader that cannot tell the size
  // beforehand may take no more than what the budget has left.
  const QImage::Format format = reader.imageFormat();
  TMemoryReservation held;
  uint64_t limit = TMemoryBudget::Available();
  if (size.isValid()) {
    const uint64_t pixels = uint64_t(size.width()) * uint64_t(size.height());
    const int depth = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
    const bool indexed = format == QImage::Format_Indexed8 || format == QImage::Format_Mono ||
                         format == QImage::Format_MonoLSB;
    const uint64_t bytes = pixels * uint64_t(std::max(depth, 8)) / 8 + (indexed ? 0 : pixels * 3);
    held = TMemoryReservation(bytes);
    if (!held || !MemoryCanBeHad(bytes)) {
      Error = "Out of memory: a " + std::to_string(size.width()) + " x " +
              std::to_string(size.height()) + " picture needs " + std::to_string(bytes >> 20) +
              " MB, more than the memory budget has left";
      return nullptr;
    }
    limit = bytes;
  }
  reader.setAllocationLimit(int(std::min<uint64_t>((limit >> 20) + 1, INT32_MAX)));
  QImage img;
  if (Options.ZeroFill && size.isValid() && format != QImage::Format_Invalid) {
    img = QImage(size, format);
    if (!img.isNull()) img.fill(0);
  }
  if (!reader.read(&img)) {
    Error = reader.errorString().toStdString();
    return nullptr;
  }
  TBitmapHandle b = BitmapFromImage(img);
  if (!b) Error = "Out of memory";
  return b;
}

std::vector<std::string> PictureReaderFormats() {
  std::vector<std::string> formats;
  for (const QByteArray& f : QImageReader::supportedImageFormats())
    formats.push_back(f.toStdString());
  return formats;
}

std::string TempFolder() {
  const QString p = QDir::tempPath();
  return p.toStdString();
}

#include "imaging/DibGraphic.h"

#include "platform/MemoryBudget.h"
#include "imaging/PaletteConverter.h"

#include <cxxabi.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>

namespace {

std::string Demangle(const char* Name) {
  int status = 0;
  char* d = abi::__cxa_demangle(Name, nullptr, nullptr, &status);
  std::string s = (status == 0 && d) ? d : Name;
  std::free(d);
  const size_t colon = s.rfind("::");
  if (colon != std::string::npos) s.erase(0, colon + 2);
  return s;
}

std::string Fmt(const char* Format, const std::string& A) {
  std::string s = Format;
  const size_t p = s.find("%s");
  if (p != std::string::npos) s.replace(p, 2, A);
  return s;
}

TIconExportHook gIconExportHook = nullptr;

// ---- Pixel readers and writers, one pair per bit count.

uint32_t Read1(const uint8_t* Row, int X) {
  return (Row[X >> 3] >> (7 - (X & 7))) & 1;
}
void Write1(uint8_t* Row, int X, uint32_t Value) {
  const uint8_t mask = uint8_t(0x80 >> (X & 7));
  if (static_cast<int32_t>(Value) > 0)
    Row[X >> 3] |= mask;
  else
    Row[X >> 3] &= uint8_t(~mask);
}
uint32_t Read4(const uint8_t* Row, int X) {
  return (X & 1) ? (Row[X >> 1] & 0x0F) : (Row[X >> 1] >> 4);
}
void Write4(uint8_t* Row, int X, uint32_t Value) {
  uint8_t& b = Row[X >> 1];
  if (X & 1)
    b = uint8_t((b & 0xF0) | (Value & 0x0F));
  else
    b = uint8_t((b & 0x0F) | ((Value & 0x0F) << 4));
}
uint32_t Read8(const uint8_t* Row, int X) {
  return Row[X];
}
void Write8(uint8_t* Row, int X, uint32_t Value) {
  Row[X] = uint8_t(Value);
}
uint32_t Read24(const uint8_t* Row, int X) {
  const uint8_t* p = Row + 3 * X;
  return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}
void Write24(uint8_t* Row, int X, uint32_t Value) {
  uint8_t* p = Row + 3 * X;
  p[0] = uint8_t(Value);
  p[1] = uint8_t(Value >> 8);
  p[2] = uint8_t(Value >> 16);
}

// Class references known through ClassOf, by type.
struct TClassTable {
  std::mutex Lock;
  std::map<std::type_index, TGraphicClassInfo*> Classes;
};
TClassTable& ClassTable() {
  static TClassTable* t = new TClassTable; // lives to the end: class references are static
  return *t;
}

} // namespace

// ---------------------------------------------------------------------------
// Class references

TDibGraphicClass imaging_detail::RegisterClassInfo(std::type_index Type,
                                                   std::unique_ptr<TDibGraphic> (*Create)()) {
  TClassTable& t = ClassTable();
  std::lock_guard<std::mutex> guard(t.Lock);
  auto it = t.Classes.find(Type);
  if (it != t.Classes.end()) return it->second;
  auto* info = new TGraphicClassInfo{Type, Demangle(Type.name()), Create};
  t.Classes.emplace(Type, info);
  return info;
}

void SetIconExportHook(TIconExportHook Hook) {
  gIconExportHook = Hook;
}

// ---------------------------------------------------------------------------
// TDibGraphic

TDibGraphic::TDibGraphic() {
  FBitmapInfo = TBitmapInfo{};
  FLogPalette = TLogPalette{};
}

TDibGraphic::~TDibGraphic() {
  if (FFrameTimer) FFrameTimer->Stop();
  FFrameTimer.reset();
  FFrames.clear();
  ClearImage();
}

TDibGraphicClass TDibGraphic::ClassType() const {
  {
    TClassTable& t = ClassTable();
    std::lock_guard<std::mutex> guard(t.Lock);
    auto it = t.Classes.find(std::type_index(typeid(*this)));
    if (it != t.Classes.end()) return it->second;
  }
  return ClassOf<TDibGraphic>();
}

void TDibGraphic::SetHeightValue(int) {
  throw EImageError("Dimensions must be change with the NewImage method");
}
void TDibGraphic::SetWidthValue(int) {
  throw EImageError("Dimensions must be change with the NewImage method");
}

TDibView TDibGraphic::DibView() const {
  const TBitmapInfoHeader& h = FBitmapInfo.bmiHeader;
  return TDibView{h.biWidth,
                  h.biHeight,
                  h.biBitCount,
                  FBytesPerRow,
                  FBits,
                  FBitmapInfo.bmiColors,
                  FImageFormat == ifTrueColor ? 0 : int(h.biClrUsed)};
}

void TDibGraphic::FlushCanvas() const {
  if (FCanvas) FCanvas->Flush();
}

void TDibGraphic::SetWholeSize(int Width, int Height) {
  const bool Whole = Width <= 0 || Height <= 0 || (Width == this->Width() && Height == this->Height());
  FWholeWidth = Whole ? 0 : Width;
  FWholeHeight = Whole ? 0 : Height;
}

namespace {
thread_local const TReducedDecodeScope* GReducedDecode = nullptr;
} // namespace

TReducedDecodeScope::TReducedDecodeScope(TScale Scale)
    : FScale(std::move(Scale)), FOuter(GReducedDecode) {
  GReducedDecode = this;
}

TReducedDecodeScope::~TReducedDecodeScope() {
  GReducedDecode = FOuter;
}

double TReducedDecodeScope::ScaleFor(int Width, int Height) {
  if (!GReducedDecode || !GReducedDecode->FScale) return 1.0;
  const double Scale = GReducedDecode->FScale(Width, Height);
  return Scale > 0 ? Scale : 1.0;
}

namespace {
thread_local const std::atomic<bool>* GDecodeStop = nullptr;
} // namespace

TDecodeStopScope::TDecodeStopScope(const std::atomic<bool>* Stop) : FOuter(GDecodeStop) {
  GDecodeStop = Stop;
}

TDecodeStopScope::~TDecodeStopScope() {
  GDecodeStop = FOuter;
}

bool TDecodeStopScope::Requested() {
  return GDecodeStop && GDecodeStop->load(std::memory_order_relaxed);
}

void TDecodeStopScope::Check() {
  if (Requested()) throw EImageError("Decoding stopped");
}

void TDibGraphic::ClearImage() {
  FWholeWidth = FWholeHeight = 0;
  FCanvas.reset(); // flushes pending drawing while the pixels still exist
  FConverter.reset();
  FPaletteHandle.reset();
  FStorage.Release();
  FBits = nullptr;
  FBitmapInfo = TBitmapInfo{};
}

void TDibGraphic::NewImage(int Width, int Height, TImageFormat Format, const TLogPalette* Palette,
                           uint16_t XDpi, uint16_t YDpi) {
  ClearImage();
  try {
    if (Format > ifTrueColor) throw EImageError("Internal error: Invalid image format");
    FImageFormat = Format;
    if (Format != ifTrueColor && !Palette) Palette = DefaultPalette(Format);
    const int bits = BitsPerPixel(Format);

    // Storage first: sizes are checked before anything is computed from them.
    const int64_t stride = Width > 0 && Height > 0 ? DibStride(Width, bits) : -1;
    if (stride <= 0 || uint64_t(stride) * uint64_t(Height) > 0xFFFFFFFFull)
      throw EImageError("CreateDibSection failed");
    if (!PixelsAllowed(Width, Height)) throw EImageError(PixelLimitMessage(Width, Height));
    const size_t size = size_t(stride) * size_t(Height);
    // Small images start black; big ones come from fresh (zero) or reused pages.
    TPixelBuffer storage = size < (size_t(1) << 20) ? TPixelBuffer::AllocateZeroed(size)
                                                    : TPixelBuffer::Allocate(size);
    if (!storage) throw EImageError("CreateDibSection failed");

    TBitmapInfoHeader& h = FBitmapInfo.bmiHeader;
    h.biSize = 40;
    h.biWidth = Width;
    h.biHeight = Height;
    h.biPlanes = 1;
    h.biBitCount = uint16_t(bits);
    h.biCompression = BI_RGB;
    FBytesPerRow = int(stride);
    h.biSizeImage = uint32_t(size);
    h.biClrImportant = 0;

    FLogPalette = TLogPalette{};
    if (Format == ifTrueColor) {
      h.biClrUsed = 0;
    } else {
      const int count = std::min<int>(Palette->palNumEntries, 256);
      h.biClrUsed = uint32_t(count);
      FLogPalette.palVersion = 0x300;
      FLogPalette.palNumEntries = uint16_t(count);
      for (int i = 0; i < count; ++i) {
        const TPaletteEntry& e = Palette->palPalEntry[i];
        FLogPalette.palPalEntry[i] = e;
        FBitmapInfo.bmiColors[i] = TRgbQuad{e.peBlue, e.peGreen, e.peRed, 0};
      }
      FConverter = std::make_unique<TRgbToPaletteConverter>(&FLogPalette);
    }
    h.biXPelsPerMeter = DpiToPelsPerMeter(XDpi > 0 ? XDpi : ScreenLogPixelsX());
    h.biYPelsPerMeter = DpiToPelsPerMeter(YDpi > 0 ? YDpi : ScreenLogPixelsY());

    FStorage = std::move(storage);
    FBits = FStorage.Data();
    switch (bits) {
    case 1:
      FPixelReader = Read1;
      FPixelWriter = Write1;
      break;
    case 4:
      FPixelReader = Read4;
      FPixelWriter = Write4;
      break;
    case 8:
      FPixelReader = Read8;
      FPixelWriter = Write8;
      break;
    default:
      FPixelReader = Read24;
      FPixelWriter = Write24;
      break;
    }
    FCanvas = std::make_unique<TDibCanvas>(DibView(), FConverter.get());
  } catch (...) {
    ClearImage();
    throw;
  }
}

uint32_t TDibGraphic::GetPixelColor(int X, int Y) const {
  if (X < 0 || Y < 0 || X >= GetWidth() || Y >= GetHeight())
    throw EImageError("Pixel coordinates out of range");
  const uint32_t v = FPixelReader(ScanLine(Y), X);
  if (FImageFormat == ifTrueColor) return v;
  const TPaletteEntry& e = FLogPalette.palPalEntry[v & 0xFF];
  return MakeRgb(e.peRed, e.peGreen, e.peBlue);
}

void TDibGraphic::SetPixelColor(int X, int Y, uint32_t Colour) {
  if (X < 0 || Y < 0 || X >= GetWidth() || Y >= GetHeight())
    throw EImageError("Pixel coordinates out of range");
  if (FImageFormat == ifTrueColor)
    FPixelWriter(ScanLine(Y), X, Colour);
  else
    FPixelWriter(ScanLine(Y), X, uint32_t(FConverter->NearestIndex(Colour)));
}

int TDibGraphic::GetPixelIndex(int X, int Y) const {
  if (FImageFormat == ifTrueColor) throw EImageError("The image does not have a palette");
  if (X < 0 || Y < 0 || X >= GetWidth() || Y >= GetHeight())
    throw EImageError("Pixel coordinates out of range");
  return int(FPixelReader(ScanLine(Y), X));
}

void TDibGraphic::SetPixelIndex(int X, int Y, int Index) {
  if (FImageFormat == ifTrueColor) throw EImageError("The image does not have a palette");
  if (X < 0 || Y < 0 || X >= GetWidth() || Y >= GetHeight())
    throw EImageError("Pixel coordinates out of range");
  FPixelWriter(ScanLine(Y), X, uint32_t(Index & 0xFF));
}

uint16_t TDibGraphic::XDpi() const {
  return uint16_t(PelsPerMeterToDpi(FBitmapInfo.bmiHeader.biXPelsPerMeter));
}
uint16_t TDibGraphic::YDpi() const {
  return uint16_t(PelsPerMeterToDpi(FBitmapInfo.bmiHeader.biYPelsPerMeter));
}
void TDibGraphic::SetXDpi(uint16_t Value) {
  FBitmapInfo.bmiHeader.biXPelsPerMeter = DpiToPelsPerMeter(Value);
}
void TDibGraphic::SetYDpi(uint16_t Value) {
  FBitmapInfo.bmiHeader.biYPelsPerMeter = DpiToPelsPerMeter(Value);
}

const TPalette* TDibGraphic::PaletteHandle() {
  if (FImageFormat == ifTrueColor || GetEmpty()) return nullptr;
  if (!FPaletteHandle) FPaletteHandle = std::make_unique<TPalette>(FLogPalette);
  return FPaletteHandle.get();
}

// --- Assign

void TDibGraphic::TakeImage(TDibGraphic& Source) {
  if (&Source == this) return;
  ClearImage();
  if (Source.GetEmpty()) return;
  // Pending drawing goes into the pixels before they change hands, and the
  // source's canvas must not outlive its claim on them.
  Source.FlushCanvas();
  Source.FCanvas.reset();
  FImageFormat = Source.FImageFormat;
  FBitmapInfo = Source.FBitmapInfo;
  FLogPalette = Source.FLogPalette;
  FBytesPerRow = Source.FBytesPerRow;
  FStorage = std::move(Source.FStorage);
  FBits = FStorage.Data();
  FPixelReader = Source.FPixelReader;
  FPixelWriter = Source.FPixelWriter;
  FColorDescription = Source.FColorDescription;
  Source.ClearImage();
  if (FImageFormat != ifTrueColor)
    FConverter = std::make_unique<TRgbToPaletteConverter>(&FLogPalette);
  FCanvas = std::make_unique<TDibCanvas>(DibView(), FConverter.get());
}

void TDibGraphic::AssignFromDib(const TDibGraphic* Source) {
  if (Source == this) return;
  ClearImage();
  if (!Source || Source->GetWidth() <= 0 || Source->GetHeight() <= 0) return;
  Source->FlushCanvas();
  try {
    NewImage(Source->GetWidth(), Source->GetHeight(), Source->ImageFormat(), Source->LogPalette(),
             Source->XDpi(), Source->YDpi());
    SetXDpi(Source->XDpi());
    SetYDpi(Source->YDpi());
    FFrameDelay = Source->FFrameDelay;
    FColorDescription = Source->FColorDescription;
    std::memcpy(FBits, Source->FBits, size_t(GetHeight()) * size_t(FBytesPerRow));
  } catch (...) {
    ClearImage();
    throw;
  }
}

void TDibGraphic::AssignFromOther(const TGraphic& Source) {
  const int w = Source.Width(), h = Source.Height();
  NewImage(w, h, ifTrueColor, nullptr, 0, 0);
  std::memset(FBits, 0, size_t(h) * size_t(FBytesPerRow));
  const_cast<TGraphic&>(Source).Draw(*FCanvas, Rect(0, 0, w, h));
  FlushCanvas();
}

void TDibGraphic::Assign(const TPersistent* Source) {
  if (!Source) {
    AssignFromDib(nullptr);
    return;
  }
  if (const auto* dib = dynamic_cast<const TDibGraphic*>(Source)) {
    AssignFromDib(dib);
    return;
  }
  if (const auto* clip = dynamic_cast<const TClipboard*>(Source)) {
    const_cast<TClipboard*>(clip)->Open();
    try {
      LoadFromClipboardFormat(CF_BITMAP, clip->GetBitmapData(), clip->GetPaletteData());
    } catch (...) {
      const_cast<TClipboard*>(clip)->Close();
      throw;
    }
    const_cast<TClipboard*>(clip)->Close();
    return;
  }
  if (const auto* bmp = dynamic_cast<const TBitmap*>(Source)) {
    // A 16-bit bitmap goes through a device-dependent copy (the screen's
    // depth), every other one as the device-independent bitmap it is.
    TBitmapHandle handle = bmp->Handle();
    if (handle) {
      const_cast<TBitmap*>(bmp)->Canvas()->Flush();
      if (handle->BitCount() == 16) {
        handle = TPlatformBitmap::Create(handle->Width(), handle->Height(), 16, nullptr, 0, true);
        if (handle) {
          std::memcpy(handle->Bits(), bmp->Handle()->Bits(),
                      size_t(handle->Stride()) * size_t(handle->Height()));
          handle->Header().biXPelsPerMeter = bmp->Handle()->Header().biXPelsPerMeter;
          handle->Header().biYPelsPerMeter = bmp->Handle()->Header().biYPelsPerMeter;
          handle->MakeDeviceDependent();
        }
      }
    }
    AssignBitmapHandle(handle);
    return;
  }
  if (const auto* g = dynamic_cast<const TGraphic*>(Source)) {
    AssignFromOther(*g);
    return;
  }
  TGraphic::Assign(Source);
}

void TDibGraphic::AssignTo(TPersistent* Dest) const {
  if (auto* dib = dynamic_cast<TDibGraphic*>(Dest)) {
    dib->Assign(this);
    return;
  }
  if (auto* bmp = dynamic_cast<TBitmap*>(Dest)) {
    bmp->SetPixelFormat(pf24bit);
    bmp->SetWidth(GetWidth());
    bmp->SetHeight(GetHeight());
    if (TCanvas* c = bmp->Canvas()) {
      const_cast<TDibGraphic*>(this)->Draw(*c, Rect(0, 0, GetWidth(), GetHeight()));
      c->Flush();
    }
    return;
  }
  if (gIconExportHook && gIconExportHook(*this, Dest)) return;
  throw EImageError("Cannot assign a TDibGraphic to a " +
                    (Dest ? Dest->ClassName() : std::string("nil")));
}

void TDibGraphic::AssignBitmapHandle(const TBitmapHandle& Bitmap) {
  TBitmapDescription desc;
  if (!GetBitmapObject(Bitmap.get(), desc)) throw EInvalidGraphic("Invalid bitmap");

  TBitmapInfoHeader header{};
  if (desc.IsDibSection && desc.DibHeader.biSize >= 40) {
    header = desc.DibHeader;
    header.biSize = 40;
  } else {
    header.biSize = 40;
    header.biWidth = desc.Width;
    header.biHeight = desc.Height;
  }
  header.biBitCount = uint16_t(desc.Planes * desc.BitsPixel);
  header.biPlanes = 1;
  if (header.biBitCount == 16 || header.biBitCount == 32) {
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = 0;
  }
  if (header.biCompression != BI_RGB) throw EImageError("Unsupported compression");
  const int width = header.biWidth, height = std::abs(header.biHeight);
  const int64_t stride = DibStride(width, header.biBitCount);
  if (stride <= 0 || height <= 0 || uint64_t(stride) * uint64_t(height) > 0xFFFFFFFFull)
    throw EImageError("GetDIB failed");
  header.biSizeImage = uint32_t(stride * height);

  TBitmapInfo info{};
  info.bmiHeader = header;
  TPixelBuffer pixels = TPixelBuffer::Allocate(size_t(stride) * size_t(height));
  if (!pixels || !GetDIBits(*Bitmap, info, pixels.Data())) throw EImageError("GetDIB failed");
  info.bmiHeader = header; // only the colour table keeps what GetDIBits wrote

  TLogPalette palette{};
  const TLogPalette* pal = nullptr;
  if (header.biClrUsed >= 1 && header.biClrUsed <= 256) {
    palette.palVersion = 0x300;
    palette.palNumEntries = uint16_t(header.biClrUsed);
    for (uint32_t i = 0; i < header.biClrUsed; ++i)
      palette.palPalEntry[i] = TPaletteEntry{info.bmiColors[i].rgbRed, info.bmiColors[i].rgbGreen,
                                             info.bmiColors[i].rgbBlue, 0};
    pal = &palette;
  }
  auto dpi = [](int32_t ppm) -> uint16_t {
    if (ppm <= 0) return 0;
    const int d = PelsPerMeterToDpi(ppm);
    return d > 65535 ? 0 : uint16_t(d);
  };
  NewImage(width, height, FormatFromBitCount(header.biBitCount), pal, dpi(header.biXPelsPerMeter),
           dpi(header.biYPelsPerMeter));
  std::memcpy(FBits, pixels.Data(), size_t(stride) * size_t(height));
}

// --- Drawing and the clipboard

void TDibGraphic::Draw(TCanvas& Canvas, const TRect& Rect) {
  FlushCanvas();
  if (!GetEmpty()) {
    const bool halftone = FImageFormat != ifTrueColor;
    Canvas.SetStretchBltMode(halftone ? HALFTONE : COLORONCOLOR);
    if (halftone) Canvas.SetBrushOrg(0, 0);
    std::unique_ptr<TPalette> halftonePalette;
    const TPalette* previous = nullptr;
    if (Canvas.PaletteDevice()) {
      halftonePalette = CreateHalftonePalette();
      previous = Canvas.SelectPalette(halftonePalette.get(), false);
      Canvas.RealizePalette();
    }
    const TDibView v = DibView();
    try {
      if (Rect.Width() == v.Width && Rect.Height() == v.Height)
        SetDIBitsToDevice(Canvas, Rect.Left, Rect.Top, Rect.Width(), Rect.Height(), 0, 0, v);
      else
        StretchDIBits(Canvas, Rect, TRect{0, 0, v.Width, v.Height}, v);
    } catch (...) {
      if (halftonePalette) Canvas.SelectPalette(previous, false);
      throw;
    }
    if (halftonePalette) Canvas.SelectPalette(previous, false);
  }
  if (OnAfterDraw) OnAfterDraw(this);
}

void TDibGraphic::SaveToClipboardFormat(uint16_t& Format, TBitmapHandle& Data, const TPalette*&) {
  Format = CF_BITMAP;
  FlushCanvas();
  TBitmapHandle b = FImageFormat == ifBlackWhite
                        ? TPlatformBitmap::CreateMonochrome(GetWidth(), GetHeight())
                        : TPlatformBitmap::CreateCompatible(GetWidth(), GetHeight());
  if (!b) throw EImageError("CopyBitmap: CreateBitmap failed");
  DibCopy(DibView(), 0, 0, GetWidth(), GetHeight(), b->View(), 0, 0);
  Data = b;
}

void TDibGraphic::LoadFromClipboardFormat(uint16_t Format, const TBitmapHandle& Data,
                                          const TPalette* Palette) {
  if (Format != CF_BITMAP || !Data)
    throw EInvalidGraphic("Unknown clipboard format, " + std::to_string(Format));
  if (ScreenIsPaletteDevice()) {
    TBitmap bmp;
    bmp.LoadFromClipboardFormat(Format, Data, Palette);
    NewImage(bmp.Width(), bmp.Height(), ifTrueColor, nullptr, 0, 0);
    bmp.Draw(*FCanvas, Rect(0, 0, bmp.Width(), bmp.Height()));
    return;
  }
  AssignBitmapHandle(Data);
}

// --- Streams and frames

void TDibGraphic::SaveToStream(TStream&) {}

int TDibGraphic::GetImageCount(TStream&) {
  return 1;
}

void TDibGraphic::LoadImageFromStream(TStream&, int) {}

void TDibGraphic::AppendToStream(TStream&) {
  throw EImageError(Fmt("The %s format does not support multiple images", ClassName()));
}

void TDibGraphic::LoadFromStream(TStream& Stream) {
  const bool animate = FAnimate;
  SetAnimate(false);
  FColorDescription.reset();
  FFramesOmitted = false;
  if (FAnimated) {
    // An animation's frames belong to the file they came from.
    FFrames.clear();
    FCurrentFrame = -1;
    FAnimated = false;
  }
  try {
    int count = 0;
    int64_t start = 0;
    if (FLoadAllImages) {
      start = Stream.Position();
      count = GetImageCount(Stream);
      if (count == 1) FLoadAllImages = false;
    }
    if (FLoadAllImages) {
      const TDibGraphicClass cls = ClassType();
      // Frames must be of the image's own class; a class never made known
      // through ClassOf would silently give empty frames.
      if (cls->Type != std::type_index(typeid(*this)))
        throw EImageError("Class " + ClassName() + " has no class reference (ClassOf<" +
                          ClassName() + ">())");
      for (int i = 1; i <= count; ++i) {
        std::unique_ptr<TDibGraphic> frame = cls->Create();
        Stream.SetPosition(start);
        frame->LoadImageFromStream(Stream, i);
        FFrames.push_back(std::move(frame));
      }
      SetCurrentFrame(1);
    } else {
      LoadImageFromStream(Stream, FImageIndex);
    }
  } catch (...) {
    SetAnimate(animate);
    throw;
  }
  SetAnimate(animate);
}

TDibGraphic& TDibGraphic::Frames(int I) const {
  if (I < 1 || I > FrameCount())
    throw EImageError("Frame " + std::to_string(I) + " does not exist");
  return *FFrames[size_t(I - 1)];
}

void TDibGraphic::SetCurrentFrame(int Value) {
  if (Value == FCurrentFrame) return;
  TDibGraphic& frame = Frames(Value);
  if (!CopyPixelsFrom(frame)) AssignFromDib(&frame);
  Changed();
  ProcessPendingEvents();
  FCurrentFrame = Value;
}

void TDibGraphic::SelectFrame(int Value) {
  if (Value == FCurrentFrame) return;
  TDibGraphic& frame = Frames(Value);
  if (!CopyPixelsFrom(frame)) AssignFromDib(&frame);
  Changed();
  FCurrentFrame = Value;
}

bool TDibGraphic::CopyPixelsFrom(const TDibGraphic& Source) {
  if (&Source == this) return true;
  if (GetEmpty() || Source.GetEmpty() || Source.GetWidth() != GetWidth() ||
      Source.GetHeight() != GetHeight() || Source.FImageFormat != FImageFormat ||
      Source.FBytesPerRow != FBytesPerRow)
    return false;
  Source.FlushCanvas();
  FlushCanvas();
  if (FImageFormat != ifTrueColor) {
    const TLogPalette& p = Source.FLogPalette;
    const bool same = p.palNumEntries == FLogPalette.palNumEntries &&
                      std::memcmp(p.palPalEntry, FLogPalette.palPalEntry,
                                  sizeof(TPaletteEntry) * p.palNumEntries) == 0;
    if (!same) {
      // The converter and the canvas's colour mapping follow the new palette.
      FCanvas.reset();
      FPaletteHandle.reset();
      FLogPalette = p;
      FBitmapInfo.bmiHeader.biClrUsed = Source.FBitmapInfo.bmiHeader.biClrUsed;
      std::memcpy(FBitmapInfo.bmiColors, Source.FBitmapInfo.bmiColors,
                  sizeof(FBitmapInfo.bmiColors));
      FConverter = std::make_unique<TRgbToPaletteConverter>(&FLogPalette);
      FCanvas = std::make_unique<TDibCanvas>(DibView(), FConverter.get());
    }
  }
  std::memcpy(FBits, Source.FBits, size_t(GetHeight()) * size_t(FBytesPerRow));
  SetXDpi(Source.XDpi());
  SetYDpi(Source.YDpi());
  FFrameDelay = Source.FFrameDelay;
  FColorDescription = Source.FColorDescription;
  return true;
}

void TDibGraphic::SetAnimationFrames(std::vector<std::unique_ptr<TDibGraphic>> Frames) {
  FFrames = std::move(Frames);
  FCurrentFrame = -1;
  FAnimated = !FFrames.empty();
  if (FAnimated) SelectFrame(1);
}

void TDibGraphic::SetAnimate(bool Value) {
  FAnimate = Value;
  if (FAnimate && !FFrames.empty()) {
    if (!FFrameTimer) FFrameTimer = std::make_unique<TPlatformTimer>([this] { FrameTimerTick(); });
    FFrameTimer->Start(FFrameDelay);
  } else if (FFrameTimer) {
    FFrameTimer->Stop();
  }
}

void TDibGraphic::FrameTimerTick() {
  if (FFrames.empty()) return;
  FFrameTimer->Stop();
  try {
    SetCurrentFrame(FCurrentFrame == FrameCount() ? 1 : FCurrentFrame + 1);
  } catch (...) {
    // A failed frame step must not unwind into the event loop; the next tick tries again.
  }
  FFrameTimer->Start(FFrameDelay);
}

bool AnimationFramesFit(int64_t Width, int64_t Height, int64_t Count, uint64_t FileBytes,
                        int BitCount, std::string* Why) {
  if (Width <= 0 || Height <= 0 || Count <= 0) return true;
  const uint64_t pictures = uint64_t(Count) + 1;
  const uint64_t pixels = uint64_t(Width) * uint64_t(Height);
  const uint64_t bytes = uint64_t(DibStride(Width, BitCount)) * uint64_t(Height);
  const uint64_t later = uint64_t(Count) - 1;
  const uint64_t justified = FileBytes > std::numeric_limits<uint64_t>::max() / AnimationPixelsPerByte
                                 ? std::numeric_limits<uint64_t>::max()
                                 : FileBytes * AnimationPixelsPerByte;
  if (later > justified / pixels) {
    if (Why)
      *Why = std::to_string(later) + " frames of " + std::to_string(Width) + " x " +
             std::to_string(Height) + " pixels after the first are more than a file of " +
             std::to_string(FileBytes) + " bytes can hold";
    return false;
  }
  if (pictures > PixelLimit() / pixels) {
    if (Why)
      *Why = std::to_string(Count) + " frames of " + std::to_string(Width) + " x " +
             std::to_string(Height) + " pixels exceed the limit of " +
             std::to_string(PixelLimit()) + " pixels";
    return false;
  }
  if (pictures > TMemoryBudget::Available() / bytes) {
    if (Why)
      *Why = std::to_string(Count) + " frames of " + std::to_string(Width) + " x " +
             std::to_string(Height) + " pixels need " + std::to_string((bytes * pictures) >> 20) +
             " MB, only " + std::to_string(TMemoryBudget::Available() >> 20) +
             " MB of the memory budget are left";
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Class names

std::string DemangledClassName(const std::type_info& Type) {
  return Demangle(Type.name());
}

// TBitmap: a graphic held as a platform bitmap.
#include "imaging/DibGraphic.h"
#include "platform/ByteReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// A deep copy of a platform bitmap.
TBitmapHandle CloneBitmap(const TBitmapHandle& B) {
  if (!B) return nullptr;
  TBitmapHandle c = TPlatformBitmap::Create(B->Width(), B->Height(), B->BitCount(), B->Colors(),
                                            B->ColorCount(), B->IsDibSection());
  if (!c) return nullptr;
  std::memcpy(c->Bits(), B->Bits(), size_t(B->Stride()) * size_t(B->Height()));
  c->Header().biXPelsPerMeter = B->Header().biXPelsPerMeter;
  c->Header().biYPelsPerMeter = B->Header().biYPelsPerMeter;
  return c;
}

} // namespace

// ---------------------------------------------------------------------------
// TBitmap

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

void TBitmap::FlushCanvas() {
  if (FCanvas) FCanvas->Flush();
}

void TBitmap::SetHandle(TBitmapHandle Value) {
  FCanvas.reset();
  FHandle = std::move(Value);
  if (FHandle) {
    FBitCount = FHandle->BitCount();
    FWidth = FHandle->Width();
    FHeight = FHandle->Height();
  }
  Changed();
}

TPixelFormat TBitmap::PixelFormat() const {
  if (FHandle && !FHandle->IsDibSection()) return pfDevice;
  switch (FBitCount) {
  case 1:
    return pf1bit;
  case 4:
    return pf4bit;
  case 8:
    return pf8bit;
  case 16:
    return pf16bit;
  case 24:
    return pf24bit;
  case 32:
    return pf32bit;
  default:
    return pfCustom;
  }
}

void TBitmap::SetPixelFormat(TPixelFormat Value) {
  int bits = 24;
  switch (Value) {
  case pf1bit:
    bits = 1;
    break;
  case pf4bit:
    bits = 4;
    break;
  case pf8bit:
    bits = 8;
    break;
  case pf15bit:
  case pf16bit:
    bits = 16;
    break;
  case pf24bit:
    bits = 24;
    break;
  case pf32bit:
  case pfDevice:
    bits = 32;
    break;
  case pfCustom:
    return;
  }
  if (FHandle && FHandle->BitCount() == bits && FHandle->IsDibSection()) return;
  if (!FHandle) {
    FBitCount = bits;
    return;
  }
  Resize(FWidth, FHeight, bits);
}

TBitmapHandleType TBitmap::HandleType() const {
  return FHandle && !FHandle->IsDibSection() ? bmDDB : bmDIB;
}

void TBitmap::SetHandleType(TBitmapHandleType Value) {
  if (!FHandle || Value == HandleType()) return;
  FlushCanvas();
  FCanvas.reset();
  if (Value == bmDDB) {
    FHandle->MakeDeviceDependent();
  } else {
    TBitmapHandle dib =
        TPlatformBitmap::Create(FHandle->Width(), FHandle->Height(), FHandle->BitCount(),
                                FHandle->Colors(), FHandle->ColorCount(), true);
    if (!dib) throw EInvalidGraphic("Out of system resources");
    std::memcpy(dib->Bits(), FHandle->Bits(),
                size_t(FHandle->Stride()) * size_t(FHandle->Height()));
    FHandle = dib;
  }
  FBitCount = FHandle->BitCount();
}

TCanvas* TBitmap::Canvas() {
  if (!FHandle) return nullptr;
  if (!FCanvas) FCanvas = std::make_unique<TDibCanvas>(FHandle->View());
  return FCanvas.get();
}

void TBitmap::Resize(int Width, int Height, int BitCount) {
  FlushCanvas();
  FCanvas.reset();
  FBitCount = BitCount;
  FWidth = std::max(Width, 0);
  FHeight = std::max(Height, 0);
  if (Width <= 0 || Height <= 0) {
    FHandle.reset();
    return;
  }
  const TRgbQuad* colors = nullptr;
  int count = 0;
  TRgbQuad table[256];
  if (BitCount <= 8) {
    // Keep the old colour table when the depth allows it, else a grey ramp.
    count = 1 << BitCount;
    for (int i = 0; i < count; ++i) {
      const uint8_t v = uint8_t(i * 255 / (count - 1));
      table[i] = TRgbQuad{v, v, v, 0};
    }
    if (FHandle && FHandle->BitCount() == BitCount)
      std::memcpy(table, FHandle->Colors(), sizeof(TRgbQuad) * size_t(FHandle->ColorCount()));
    colors = table;
  }
  TBitmapHandle b = TPlatformBitmap::Create(Width, Height, BitCount, colors, count);
  if (!b) throw EInvalidGraphic("Out of system resources");
  if (FHandle) {
    DibCopy(FHandle->View(), 0, 0, std::min(Width, FHandle->Width()),
            std::min(Height, FHandle->Height()), b->View(), 0, 0);
    b->Header().biXPelsPerMeter = FHandle->Header().biXPelsPerMeter;
    b->Header().biYPelsPerMeter = FHandle->Header().biYPelsPerMeter;
  }
  FHandle = b;
  Changed();
}

void TBitmap::Assign(const TPersistent* Source) {
  if (const auto* b = dynamic_cast<const TBitmap*>(Source)) {
    if (b == this) return;
    const_cast<TBitmap*>(b)->FlushCanvas();
    FCanvas.reset();
    FHandle = CloneBitmap(b->FHandle);
    FBitCount = b->FBitCount;
    FWidth = b->FWidth;
    FHeight = b->FHeight;
    Changed();
    return;
  }
  if (!Source) {
    FCanvas.reset();
    FHandle.reset();
    FWidth = FHeight = 0;
    Changed();
    return;
  }
  TGraphic::Assign(Source);
}

void TBitmap::Draw(TCanvas& Canvas, const TRect& Rect) {
  if (!FHandle) return;
  FlushCanvas();
  const TDibView v = FHandle->View();
  if (Rect.Width() == v.Width && Rect.Height() == v.Height)
    SetDIBitsToDevice(Canvas, Rect.Left, Rect.Top, v.Width, v.Height, 0, 0, v);
  else
    StretchDIBits(Canvas, Rect, TRect{0, 0, v.Width, v.Height}, v);
}

bool TBitmap::GetEmpty() const {
  return !FHandle;
}
int TBitmap::GetHeight() const {
  return FHandle ? FHandle->Height() : FHeight;
}
int TBitmap::GetWidth() const {
  return FHandle ? FHandle->Width() : FWidth;
}
void TBitmap::SetHeightValue(int Value) {
  if (Value != GetHeight()) Resize(GetWidth(), Value, FBitCount);
}
void TBitmap::SetWidthValue(int Value) {
  if (Value != GetWidth()) Resize(Value, GetHeight(), FBitCount);
}

void TBitmap::LoadFromStream(TStream& Stream) {
  const int64_t left = Stream.Size() - Stream.Position();
  if (left <= 0 || left > int64_t(1) << 31) throw EInvalidGraphic("Bitmap image is not valid");
  // The platform's picture reader chooses the decoder from the bytes.
  const TStreamBytes bytes(Stream);
  std::string error;
  TBitmapHandle b = ReadPictureData(bytes.Data(), bytes.Size(), std::string(), error);
  if (!b) throw EInvalidGraphic("Bitmap image is not valid");
  SetHandle(b);
}

void TBitmap::SaveToStream(TStream& Stream) {
  if (!FHandle) return;
  FlushCanvas();
  const TPlatformBitmap& b = *FHandle;
  const uint32_t colors = uint32_t(b.ColorCount());
  const uint32_t bits = uint32_t(b.Stride()) * uint32_t(b.Height());
  const uint32_t offset = 14 + 40 + 4 * colors;
  const TBitmapInfoHeader& h = b.Header();
  std::vector<uint8_t> head;
  head.reserve(offset);
  TByteWriter out(head);
  out.U8('B');
  out.U8('M');
  out.Le32(offset + bits); // file size
  out.Le32(0);             // reserved
  out.Le32(offset);        // of the pixel data
  out.Le32(40);            // the info header's size
  out.LeI32(h.biWidth);
  out.LeI32(h.biHeight);
  out.Le16(h.biPlanes);
  out.Le16(h.biBitCount);
  out.Le32(BI_RGB);
  out.Le32(bits);
  out.LeI32(h.biXPelsPerMeter);
  out.LeI32(h.biYPelsPerMeter);
  out.Le32(colors);
  out.Le32(h.biClrImportant);
  for (uint32_t i = 0; i < colors; ++i) {
    const TRgbQuad& q = b.Colors()[i];
    out.U8(q.rgbBlue);
    out.U8(q.rgbGreen);
    out.U8(q.rgbRed);
    out.U8(q.rgbReserved);
  }
  Stream.WriteBuffer(head.data(), int64_t(head.size()));
  Stream.WriteBuffer(b.Bits(), bits);
}

void TBitmap::LoadFromClipboardFormat(uint16_t Format, const TBitmapHandle& Data, const TPalette*) {
  if (Format != CF_BITMAP || !Data)
    throw EInvalidGraphic("Unknown clipboard format, " + std::to_string(Format));
  SetHandle(CloneBitmap(Data));
}

void TBitmap::SaveToClipboardFormat(uint16_t& Format, TBitmapHandle& Data,
                                    const TPalette*& Palette) {
  FlushCanvas();
  Format = CF_BITMAP;
  Data = CloneBitmap(FHandle);
  Palette = nullptr;
}

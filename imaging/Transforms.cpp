#include "imaging/Transforms.h"

#include "imaging/PaletteConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

// ---------------------------------------------------------------------------
// TImageTransform

std::string TImageTransform::ClassName() const {
  return DemangledClassName(typeid(*this));
}

void TImageTransform::Apply(TDibGraphic& Graphic) {
  TDibGraphic temp;
  ApplyOnDest(Graphic, temp);
  Graphic.Assign(&temp);
}

void TImageTransform::ApplyOnDest(TDibGraphic&, TDibGraphic&) {
  throw EImageError("Method \"ApplyOnDest\" not implemented for " + ClassName() + " class");
}

void TImageTransform::BeginProgress() {
  FLastPercent = 255;
  Progress(0, 0, 100);
}

void TImageTransform::Progress(int64_t Current, int64_t Start, int64_t End) {
  if (!OnProgress) return;
  int64_t percent = End == Start ? 100 : (Current - Start) * 100 / (End - Start);
  percent = std::clamp<int64_t>(percent, 0, 100);
  if (uint8_t(percent) != FLastPercent) {
    FLastPercent = uint8_t(percent);
    OnProgress(this, uint8_t(percent));
  }
}

namespace {

// Runs Body on a copy of Source when Source and Dest are the same image, so
// that rebuilding Dest does not destroy the pixels being read.
template <class F> bool ViaCopyIfSame(TDibGraphic& Source, TDibGraphic& Dest, F&& Body) {
  if (&Source != &Dest) return false;
  TDibGraphic copy;
  copy.Assign(&Source);
  Body(copy, Dest);
  return true;
}

} // namespace

// ---------------------------------------------------------------------------
// TAntiAliasTransform

const uint16_t* AntiAliasTable() {
  static const struct TTable {
    uint16_t T[256];
    TTable() {
      auto round = [](double v) { return int(std::nearbyint(v)); };
      for (int i = 0; i < 256; ++i) {
        auto b = [i](int k) { return (i >> k) & 1; };
        const int n1 = round((b(7) + b(6) + b(3) + b(2)) * 3.75);
        const int n2 = round((b(6) + b(5) + b(2) + b(1)) * 3.75);
        const int n3 = round((b(5) + b(4) + b(1) + b(0)) * 3.75);
        const int n4 = round((b(4) + b(0)) * 7.5);
        T[i] = uint16_t((n1 << 12) | (n2 << 8) | (n3 << 4) | n4);
      }
    }
  } table;
  return table.T;
}

void TAntiAliasTransform::Apply(TDibGraphic& Graphic) {
  if (Graphic.ImageFormat() != ifBlackWhite || Graphic.Empty()) return;
  TImageTransform::Apply(Graphic);
}

void TAntiAliasTransform::ApplyOnDest(TDibGraphic& Source, TDibGraphic& Dest) {
  if (ViaCopyIfSame(Source, Dest, [this](TDibGraphic& s, TDibGraphic& d) { ApplyOnDest(s, d); }))
    return;
  BeginProgress();
  if (Source.ImageFormat() != ifBlackWhite || Source.Empty()) {
    Dest.Assign(&Source);
    Progress(100, 0, 100);
    return;
  }
  Source.FlushCanvas();
  const int w = Source.Width(), h = Source.Height();
  Dest.NewImage(w, h, ifGray16, nullptr, Source.XDpi(), Source.YDpi());
  const uint16_t* table = AntiAliasTable();
  const int bytes = (w + 7) / 8;
  // Four bytes in one store: the high entry's high byte first.
  auto put = [](uint8_t* d, uint16_t hi, uint16_t lo) {
    const uint8_t bytes[4] = {uint8_t(hi >> 8), uint8_t(hi), uint8_t(lo >> 8), uint8_t(lo)};
    std::memcpy(d, bytes, 4);
  };
  for (int y = 0; y + 1 < h; ++y) {
    const uint8_t* a = Source.ScanLine(y);
    const uint8_t* n = Source.ScanLine(y + 1);
    uint8_t* d = Dest.ScanLine(y);
    for (int j = 0; j < bytes; ++j) {
      const int hiIndex = (a[j] & 0xF0) | (n[j] >> 4);
      const int loIndex = ((a[j] & 0x0F) << 4) | (n[j] & 0x0F);
      put(d + 4 * j, table[hiIndex], table[loIndex]);
    }
    Progress(y, 0, h - 1);
  }
  // The last row pairs with itself.
  const uint8_t* a = Source.ScanLine(h - 1);
  uint8_t* d = Dest.ScanLine(h - 1);
  for (int j = 0; j < bytes; ++j) {
    const int v = a[j];
    put(d + 4 * j, table[(v & 0xF0) | (v >> 4)], table[((v & 0x0F) << 4) | (v & 0x0F)]);
  }
  Progress(100, 0, 100);
}

// ---------------------------------------------------------------------------
// TNegativeTransform

void TNegativeTransform::Apply(TDibGraphic& Graphic) {
  BeginProgress();
  if (Graphic.Empty()) {
    Progress(100, 0, 100);
    return;
  }
  Graphic.FlushCanvas();
  const int w = Graphic.Width(), h = Graphic.Height();
  switch (Graphic.ImageFormat()) {
  case ifBlackWhite:
  case ifGray16:
  case ifGray256: {
    // Every byte of every row, padding included.
    const int n = Graphic.BytesPerRow();
    for (int y = 0; y < h; ++y) {
      uint8_t* row = Graphic.ScanLine(y);
      for (int i = 0; i < n; ++i)
        row[i] = uint8_t(~row[i]);
      Progress(y, 0, h - 1);
    }
    break;
  }
  case ifTrueColor: {
    // Each of red, green and blue becomes 255 minus itself; padding stays.
    const int n = 3 * w;
    for (int y = 0; y < h; ++y) {
      uint8_t* row = Graphic.ScanLine(y);
      for (int i = 0; i < n; ++i)
        row[i] = uint8_t(~row[i]);
      Progress(y, 0, h - 1);
    }
    break;
  }
  case ifColor16:
  case ifColor256: {
    // The pixels stay; the palette is inverted.
    const size_t size = size_t(Graphic.BytesPerRow()) * size_t(h);
    TPixelBuffer saved = TPixelBuffer::Allocate(size);
    if (!saved) throw EImageError("CreateDibSection failed");
    std::memcpy(saved.Data(), Graphic.Bits(), size);
    TLogPalette pal = *Graphic.LogPalette();
    for (int i = 0; i < pal.palNumEntries; ++i) {
      TPaletteEntry& e = pal.palPalEntry[i];
      e = TPaletteEntry{uint8_t(255 - e.peRed), uint8_t(255 - e.peGreen), uint8_t(255 - e.peBlue),
                        0};
    }
    const uint16_t xdpi = Graphic.XDpi(), ydpi = Graphic.YDpi();
    Graphic.NewImage(w, h, Graphic.ImageFormat(), &pal, xdpi, ydpi);
    Graphic.SetXDpi(xdpi);
    Graphic.SetYDpi(ydpi);
    std::memcpy(Graphic.Bits(), saved.Data(), size);
    break;
  }
  }
  Progress(100, 0, 100);
}

void TNegativeTransform::ApplyOnDest(TDibGraphic& Source, TDibGraphic& Dest) {
  if (&Source != &Dest) Dest.Assign(&Source);
  Apply(Dest);
}

// ---------------------------------------------------------------------------
// TResizeTransform

float ResampleFilterSupport(TResampleFilter Filter) {
  switch (Filter) {
  case rfTriangle:
    return 1.0f;
  case rfHermite:
    return 1.0f;
  case rfBell:
    return 1.5f;
  case rfBSpline:
    return 2.0f;
  case rfLanczos3:
    return 3.0f;
  case rfMitchell:
    return 2.0f;
  }
  return 1.0f;
}

namespace {

float Sinc(float X) {
  if (X == 0.0f) return 1.0f;
  const float p = X * float(M_PI);
  return std::sin(p) / p;
}

} // namespace

float ResampleFilterWeight(TResampleFilter Filter, float X) {
  const float ax = std::fabs(X);
  const float x2 = X * X;
  switch (Filter) {
  case rfTriangle:
    return ax < 1.0f ? 1.0f - ax : 0.0f;
  case rfHermite:
    return ax < 1.0f ? (2.0f * ax - 3.0f) * x2 + 1.0f : 0.0f;
  case rfBell:
    if (ax < 0.5f) return 0.75f - x2;
    if (ax < 1.5f) return 0.5f * (ax - 1.5f) * (ax - 1.5f);
    return 0.0f;
  case rfBSpline:
    if (ax < 1.0f) return ax * x2 / 2.0f - x2 + 2.0f / 3.0f;
    if (ax < 2.0f) {
      const float t = 2.0f - ax;
      return t * t * t / 6.0f;
    }
    return 0.0f;
  case rfLanczos3:
    return ax < 3.0f ? Sinc(X) * Sinc(X / 3.0f) : 0.0f;
  case rfMitchell:
    if (ax < 1.0f) return (7.0f * ax * x2 - 12.0f * x2 + 16.0f / 3.0f) / 6.0f;
    if (ax < 2.0f) return (-7.0f / 3.0f * ax * x2 + 12.0f * x2 - 20.0f * ax + 32.0f / 3.0f) / 6.0f;
    return 0.0f;
  }
  return 0.0f;
}

std::vector<std::vector<TResampleContributor>> ResampleContributions(int SrcSize, int DstSize,
                                                                     TResampleFilter Filter) {
  std::vector<std::vector<TResampleContributor>> lists(size_t(std::max(DstSize, 0)));
  if (SrcSize < 1 || DstSize < 1) return lists;
  const float support = ResampleFilterSupport(Filter);
  // The first and last destination pixels map onto the first and last source pixels.
  const float scale =
      SrcSize == 1 ? float(DstSize) / float(SrcSize) : float(DstSize - 1) / float(SrcSize - 1);
  for (int i = 0; i < DstSize; ++i) {
    std::vector<TResampleContributor>& list = lists[size_t(i)];
    const float center = float(i) / scale;
    float width, fscale = 1.0f;
    if (scale >= 1.0f) {
      width = support;
    } else {
      width = support / scale;
      fscale = 1.0f / scale;
    }
    list.reserve(size_t(2 * width + 1));
    const int left = Floor(center - width), right = Ceil(center + width);
    for (int j = left; j <= right; ++j) {
      float weight = scale >= 1.0f
                         ? ResampleFilterWeight(Filter, center - float(j))
                         : ResampleFilterWeight(Filter, (center - float(j)) / fscale) / fscale;
      if (weight == 0.0f) continue;
      int n = j;
      if (n < 0)
        n = -n;
      else if (n >= SrcSize)
        n = 2 * SrcSize - n - 1;
      if (n < 0 || n >= SrcSize) {
        // Still outside after mirroring (a source narrower than the filter): no weight.
        weight = 0.0f;
        n = std::clamp(n, 0, SrcSize - 1);
      }
      list.push_back(TResampleContributor{n, weight});
    }
  }
  return lists;
}

namespace {

inline uint8_t ClampRound(float V) {
  if (V > 255.0f) return 255;
  if (V < 0.0f) return 0;
  return uint8_t(std::nearbyint(V));
}

} // namespace

void TResizeTransform::Resampling(TDibGraphic& Source, TDibGraphic& Dest) {
  const int SW = Source.Width(), SH = Source.Height();
  const int DW = Dest.Width(), DH = Dest.Height();
  if (SW < 1 || SH < 1) throw EImageError("Source graphic too small");
  if (DW <= 1 || DH <= 1) throw EImageError("Destination graphic too small");

  TDibGraphic work;
  work.NewImage(DW, SH, ifTrueColor, nullptr, 0, 0);

  // Horizontal weights, one list per destination column.
  const auto columns = ResampleContributions(SW, DW, Filter);
  for (int i = 0; i < DW; ++i)
    Progress(i, 0, 5 * int64_t(DW) - 5);

  // Horizontal pass: source rows into the work image.
  const bool trueColor = Source.ImageFormat() == ifTrueColor;
  std::vector<uint8_t> line(trueColor ? 0 : 3 * size_t(SW));
  for (int k = 0; k < SH; ++k) {
    const uint8_t* s;
    if (trueColor) {
      s = Source.ScanLine(k);
    } else {
      for (int x = 0; x < SW; ++x) {
        const uint32_t c = Source.GetPixelColor(x, k);
        line[3 * size_t(x)] = uint8_t(c);
        line[3 * size_t(x) + 1] = uint8_t(c >> 8);
        line[3 * size_t(x) + 2] = uint8_t(c >> 16);
      }
      s = line.data();
    }
    uint8_t* d = work.ScanLine(k);
    for (int i = 0; i < DW; ++i) {
      float r = 0, g = 0, b = 0;
      for (const TResampleContributor& c : columns[size_t(i)]) {
        const uint8_t* p = s + 3 * size_t(c.Pixel);
        b += c.Weight * p[0];
        g += c.Weight * p[1];
        r += c.Weight * p[2];
      }
      d[3 * i] = ClampRound(b);
      d[3 * i + 1] = ClampRound(g);
      d[3 * i + 2] = ClampRound(r);
    }
    Progress(k + int64_t(SH), 0, 5 * int64_t(SH) - 5);
  }

  // Vertical weights, one list per destination row.
  const auto rows = ResampleContributions(SH, DH, Filter);
  for (int i = 0; i < DH; ++i)
    Progress(i + 2 * int64_t(DH), 0, 5 * int64_t(DH) - 5);

  // Vertical pass: columns of the work image into Dest.
  const bool destTrue = Dest.ImageFormat() == ifTrueColor;
  const int64_t offset = int64_t(1.5 * DW), total = int64_t(2.5 * (DW - 1));
  for (int i = 0; i < DW; ++i) {
    for (int j = 0; j < DH; ++j) {
      float r = 0, g = 0, b = 0;
      for (const TResampleContributor& c : rows[size_t(j)]) {
        const uint8_t* p = work.ScanLine(c.Pixel) + 3 * size_t(i);
        b += c.Weight * p[0];
        g += c.Weight * p[1];
        r += c.Weight * p[2];
      }
      const uint32_t colour = MakeRgb(ClampRound(r), ClampRound(g), ClampRound(b));
      if (destTrue) {
        uint8_t* p = Dest.ScanLine(j) + 3 * size_t(i);
        p[0] = uint8_t(colour);
        p[1] = uint8_t(colour >> 8);
        p[2] = uint8_t(colour >> 16);
      } else {
        Dest.SetPixelColor(i, j, colour);
      }
    }
    Progress(i + offset, 0, total);
  }
}

void TResizeTransform::Stretch(TDibGraphic& Source, TDibGraphic& Dest) {
  Progress(50, 0, 100);
  const bool halftone =
      Source.ImageFormat() == ifTrueColor && int64_t(Source.Width()) * Source.Height() > 1024;
  TCanvas* canvas = Dest.Canvas();
  if (canvas && !Source.Empty()) {
    Source.FlushCanvas();
    canvas->SetStretchBltMode(halftone ? HALFTONE : COLORONCOLOR);
    canvas->SetBrushOrg(0, 0);
    StretchDIBits(*canvas, Rect(0, 0, Width, Height), Rect(0, 0, Source.Width(), Source.Height()),
                  Source.DibView());
  }
  Progress(100, 0, 100);
}

void TResizeTransform::ApplyOnDest(TDibGraphic& Source, TDibGraphic& Dest) {
  if (ViaCopyIfSame(Source, Dest, [this](TDibGraphic& s, TDibGraphic& d) { ApplyOnDest(s, d); }))
    return;
  BeginProgress();
  const TImageFormat format = ConvertFormat ? TargetFormat : Source.ImageFormat();
  const TLogPalette* palette = format == Source.ImageFormat() ? Source.LogPalette() : nullptr;
  Dest.NewImage(Width, Height, format, palette, Source.XDpi(), Source.YDpi());
  if (Resample) {
    Resampling(Source, Dest);
    Progress(100, 0, 100);
  } else {
    Stretch(Source, Dest);
  }
}

// ---------------------------------------------------------------------------
// TCropTransform

void TCropTransform::ApplyOnDest(TDibGraphic& Source, TDibGraphic& Dest) {
  if (ViaCopyIfSame(Source, Dest, [this](TDibGraphic& s, TDibGraphic& d) { ApplyOnDest(s, d); }))
    return;
  BeginProgress();
  if (CutTop == 0 && CutLeft == 0 && CutBottom == 0 && CutRight == 0) {
    Dest.Assign(&Source);
    Progress(100, 0, 100);
    return;
  }
  // Negative cuts would read outside the source: refused like an empty rectangle.
  const int64_t left = CutLeft, top = CutTop;
  const int64_t right = int64_t(Source.Width()) - CutRight,
                bottom = int64_t(Source.Height()) - CutBottom;
  if (CutTop < 0 || CutLeft < 0 || CutBottom < 0 || CutRight < 0 || !(bottom > top && right > left))
    throw EImageError("Invalid crop parameters");
  Source.FlushCanvas();
  const int w = int(right - left), h = int(bottom - top);
  Dest.NewImage(w, h, Source.ImageFormat(), Source.LogPalette(), Source.XDpi(), Source.YDpi());
  const bool trueColor = Source.ImageFormat() == ifTrueColor;
  const TPixelReader read = Source.PixelReader();
  const TPixelWriter write = Dest.PixelWriter();
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = Source.ScanLine(y + CutTop);
    uint8_t* d = Dest.ScanLine(y);
    if (trueColor) {
      std::memcpy(d, s + 3 * size_t(CutLeft), 3 * size_t(w));
    } else if (Source.BitCount() == 8) {
      std::memcpy(d, s + CutLeft, size_t(w));
    } else {
      for (int x = 0; x < w; ++x)
        write(d, x, read(s, x + CutLeft));
    }
    Progress(y, 0, h - 1);
  }
  Progress(100, 0, 100);
}

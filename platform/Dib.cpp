#include "platform/Dib.h"

#include "platform/DibRows.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

using namespace dib_rows;

// ---- Pixel access

namespace {

inline uint32_t QuadColor(const TRgbQuad& q) {
  return (uint32_t(q.rgbRed) << 16) | (uint32_t(q.rgbGreen) << 8) | q.rgbBlue;
}

inline int IndexAt(const uint8_t* Row, int x, int BitCount) {
  switch (BitCount) {
  case 1:
    return (Row[x >> 3] >> (7 - (x & 7))) & 1;
  case 2:
    return (Row[x >> 2] >> (6 - 2 * (x & 3))) & 3;
  case 4:
    return (x & 1) ? (Row[x >> 1] & 0x0F) : (Row[x >> 1] >> 4);
  default:
    return Row[x];
  }
}

inline void SetIndexAt(uint8_t* Row, int x, int BitCount, int Index) {
  switch (BitCount) {
  case 1: {
    const uint8_t mask = uint8_t(0x80 >> (x & 7));
    if (Index > 0)
      Row[x >> 3] |= mask;
    else
      Row[x >> 3] &= uint8_t(~mask);
    break;
  }
  case 2: {
    const int shift = 6 - 2 * (x & 3);
    Row[x >> 2] = uint8_t((Row[x >> 2] & ~(3 << shift)) | ((Index & 3) << shift));
    break;
  }
  case 4:
    if (x & 1)
      Row[x >> 1] = uint8_t((Row[x >> 1] & 0xF0) | (Index & 0x0F));
    else
      Row[x >> 1] = uint8_t((Row[x >> 1] & 0x0F) | ((Index & 0x0F) << 4));
    break;
  default:
    Row[x] = uint8_t(Index);
    break;
  }
}

inline uint32_t TableColor(const TDibView& V, int Index) {
  if (V.Colors && Index < V.ColorCount) return QuadColor(V.Colors[Index]);
  return 0;
}

} // namespace

namespace dib_rows {

// Colours of N pixels of row y from column X0 as blue, green, red bytes.
void FetchBgr(const TDibView& V, int y, int X0, int N, uint8_t* Out) {
  const uint8_t* row = V.Row(y);
  switch (V.BitCount) {
  case 24:
    std::memcpy(Out, row + 3 * static_cast<size_t>(X0), 3 * static_cast<size_t>(N));
    return;
  case 32:
    for (int i = 0; i < N; ++i) {
      const uint8_t* p = row + 4 * static_cast<size_t>(X0 + i);
      Out[3 * i] = p[0];
      Out[3 * i + 1] = p[1];
      Out[3 * i + 2] = p[2];
    }
    return;
  case 16:
    for (int i = 0; i < N; ++i) {
      const uint8_t* p = row + 2 * static_cast<size_t>(X0 + i);
      const unsigned v = unsigned(p[0]) | (unsigned(p[1]) << 8);
      const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
      Out[3 * i] = uint8_t((b << 3) | (b >> 2));
      Out[3 * i + 1] = uint8_t((g << 3) | (g >> 2));
      Out[3 * i + 2] = uint8_t((r << 3) | (r >> 2));
    }
    return;
  default: {
    uint8_t lut[256 * 3];
    const int n = std::min(V.ColorCount, 1 << V.BitCount);
    std::memset(lut, 0, sizeof lut);
    for (int i = 0; i < n; ++i) {
      lut[3 * i] = V.Colors[i].rgbBlue;
      lut[3 * i + 1] = V.Colors[i].rgbGreen;
      lut[3 * i + 2] = V.Colors[i].rgbRed;
    }
    if (V.BitCount == 8) {
      for (int i = 0; i < N; ++i)
        std::memcpy(Out + 3 * i, lut + 3 * row[X0 + i], 3);
    } else {
      for (int i = 0; i < N; ++i)
        std::memcpy(Out + 3 * i, lut + 3 * IndexAt(row, X0 + i, V.BitCount), 3);
    }
    return;
  }
  }
}

// Palette indexes of N pixels of row y from column X0.
void FetchIndexes(const TDibView& V, int y, int X0, int N, uint8_t* Out) {
  const uint8_t* row = V.Row(y);
  if (V.BitCount == 8) {
    std::memcpy(Out, row + X0, static_cast<size_t>(N));
    return;
  }
  for (int i = 0; i < N; ++i)
    Out[i] = uint8_t(IndexAt(row, X0 + i, V.BitCount));
}

void StoreIndexes(const TDibView& V, int y, int X0, int N, const uint8_t* In) {
  uint8_t* row = V.Row(y);
  if (V.BitCount == 8) {
    std::memcpy(row + X0, In, static_cast<size_t>(N));
    return;
  }
  for (int i = 0; i < N; ++i)
    SetIndexAt(row, X0 + i, V.BitCount, In[i]);
}

void StoreBgr(const TDibView& V, int y, int X0, int N, const uint8_t* In, TColorToIndex& Map) {
  uint8_t* row = V.Row(y);
  switch (V.BitCount) {
  case 24:
    std::memcpy(row + 3 * static_cast<size_t>(X0), In, 3 * static_cast<size_t>(N));
    return;
  case 32:
    for (int i = 0; i < N; ++i) {
      uint8_t* p = row + 4 * static_cast<size_t>(X0 + i);
      p[0] = In[3 * i];
      p[1] = In[3 * i + 1];
      p[2] = In[3 * i + 2];
      p[3] = 0;
    }
    return;
  case 16:
    for (int i = 0; i < N; ++i) {
      const unsigned v = ((unsigned(In[3 * i + 2]) >> 3) << 10) |
                         ((unsigned(In[3 * i + 1]) >> 3) << 5) | (unsigned(In[3 * i]) >> 3);
      row[2 * (X0 + i)] = uint8_t(v);
      row[2 * (X0 + i) + 1] = uint8_t(v >> 8);
    }
    return;
  default:
    for (int i = 0; i < N; ++i) {
      const uint32_t c =
          (uint32_t(In[3 * i + 2]) << 16) | (uint32_t(In[3 * i + 1]) << 8) | In[3 * i];
      SetIndexAt(row, X0 + i, V.BitCount, Map(c));
    }
    return;
  }
}

// Translation of Src's colour table into Dst's indexes; identity when the tables are equal.
void BuildTranslation(const TDibView& Src, const TDibView& Dst, TPaletteMapper& Mapper,
                      uint8_t* Table, bool& Identity) {
  const int n = 1 << Src.BitCount;
  Identity = Src.ColorCount == Dst.ColorCount && Src.Colors && Dst.Colors &&
             std::memcmp(Src.Colors, Dst.Colors,
                         sizeof(TRgbQuad) * static_cast<size_t>(Src.ColorCount)) == 0;
  for (int i = 0; i < n; ++i) {
    if (Identity && i < Src.ColorCount)
      Table[i] = uint8_t(i);
    else
      Table[i] = uint8_t(Mapper.MapColor(TableColor(Src, i)));
  }
  if (Identity && Src.ColorCount < n) Identity = false;
}

} // namespace dib_rows

uint32_t TDibView::PixelColor(int x, int y) const {
  const uint8_t* row = Row(y);
  switch (BitCount) {
  case 24: {
    const uint8_t* p = row + 3 * x;
    return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
  }
  case 32: {
    const uint8_t* p = row + 4 * x;
    return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
  }
  case 16: {
    uint8_t bgr[3];
    FetchBgr(*this, y, x, 1, bgr);
    return (uint32_t(bgr[2]) << 16) | (uint32_t(bgr[1]) << 8) | bgr[0];
  }
  default:
    return TableColor(*this, IndexAt(row, x, BitCount));
  }
}

TNearestColorMapper::TNearestColorMapper(const TRgbQuad* Colors, int Count)
    : FColors(Colors), FCount(Count) {}

int TNearestColorMapper::MapColor(uint32_t Colour) {
  const int r = (Colour >> 16) & 0xFF, g = (Colour >> 8) & 0xFF, b = Colour & 0xFF;
  int best = 0, bestD = std::numeric_limits<int>::max();
  for (int i = 0; i < FCount; ++i) {
    const int dr = r - FColors[i].rgbRed, dg = g - FColors[i].rgbGreen, db = b - FColors[i].rgbBlue;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestD) {
      bestD = d;
      best = i;
      if (d == 0) break;
    }
  }
  return best;
}

TRect IntersectRect(const TRect& A, const TRect& B) {
  TRect r{std::max(A.Left, B.Left), std::max(A.Top, B.Top), std::min(A.Right, B.Right),
          std::min(A.Bottom, B.Bottom)};
  if (r.IsEmpty()) return TRect{};
  return r;
}

// ---- 1:1 copy

void DibCopy(const TDibView& Src, int SrcX, int SrcY, int W, int H, const TDibView& Dst, int DstX,
             int DstY, TPaletteMapper* Mapper) {
  if (Src.Empty() || Dst.Empty() || W <= 0 || H <= 0) return;
  // Clip against the source, then against the destination (64-bit to avoid overflow).
  int64_t sx = SrcX, sy = SrcY, dx = DstX, dy = DstY, w = W, h = H;
  auto clip = [&](int64_t& a, int64_t& b, int64_t& len, int64_t limitA) {
    if (a < 0) {
      b -= a;
      len += a;
      a = 0;
    }
    if (a + len > limitA) len = limitA - a;
  };
  clip(sx, dx, w, Src.Width);
  clip(sy, dy, h, Src.Height);
  clip(dx, sx, w, Dst.Width);
  clip(dy, sy, h, Dst.Height);
  if (w <= 0 || h <= 0) return;
  const int n = int(w);

  std::unique_ptr<TNearestColorMapper> own;
  const bool dstPalette = IsPaletteDepth(Dst.BitCount);
  if (dstPalette && !Mapper) {
    own = std::make_unique<TNearestColorMapper>(Dst.Colors, Dst.ColorCount);
    Mapper = own.get();
  }
  // Same layout and byte-aligned columns: plain row copies.
  const bool sameTable =
      !dstPalette || (Src.ColorCount == Dst.ColorCount && Src.Colors && Dst.Colors &&
                      std::memcmp(Src.Colors, Dst.Colors, 4 * size_t(Src.ColorCount)) == 0);
  if (Src.BitCount == Dst.BitCount && sameTable && Src.BitCount >= 8) {
    const size_t bpp = size_t(Src.BitCount / 8);
    for (int64_t r = 0; r < h; ++r)
      std::memmove(Dst.Row(int(dy + r)) + bpp * size_t(dx), Src.Row(int(sy + r)) + bpp * size_t(sx),
                   bpp * size_t(n));
    return;
  }
  std::vector<uint8_t> buf(3 * size_t(n));
  if (dstPalette && IsPaletteDepth(Src.BitCount)) {
    uint8_t table[256];
    bool identity = false;
    BuildTranslation(Src, Dst, *Mapper, table, identity);
    for (int64_t r = 0; r < h; ++r) {
      FetchIndexes(Src, int(sy + r), int(sx), n, buf.data());
      if (!identity)
        for (int i = 0; i < n; ++i)
          buf[size_t(i)] = table[buf[size_t(i)]];
      StoreIndexes(Dst, int(dy + r), int(dx), n, buf.data());
    }
    return;
  }
  TColorToIndex map{Mapper};
  for (int64_t r = 0; r < h; ++r) {
    FetchBgr(Src, int(sy + r), int(sx), n, buf.data());
    StoreBgr(Dst, int(dy + r), int(dx), n, buf.data(), map);
  }
}

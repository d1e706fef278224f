#include "imaging/Orientation.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

namespace {

std::atomic<bool> Enabled{true};

// How a shown pixel (X, Y) finds its stored pixel: with Swap, U = Y and V = X,
// else U = X and V = Y; the stored column is U (width - 1 - U with FlipX) and
// the stored row V (height - 1 - V with FlipY).
struct TMapping {
  bool Swap;
  bool FlipX;
  bool FlipY;
};
constexpr TMapping Mappings[9] = {
    {false, false, false}, // (not an orientation)
    {false, false, false}, // 1
    {false, true, false},  // 2
    {false, true, true},   // 3
    {false, false, true},  // 4
    {true, false, false},  // 5
    {true, false, true},   // 6
    {true, true, true},    // 7
    {true, true, false},   // 8
};

// Rotations read the stored picture a column at a time; working in square
// tiles keeps both pictures' rows in the cache.
constexpr int kTile = 32;

void MirrorRows(TDibGraphic& G) {
  const size_t Bytes = size_t(G.BytesPerRow());
  std::vector<uint8_t> Row(Bytes);
  for (int Top = 0, Bottom = G.Height() - 1; Top < Bottom; ++Top, --Bottom) {
    std::memcpy(Row.data(), G.ScanLine(Top), Bytes);
    std::memcpy(G.ScanLine(Top), G.ScanLine(Bottom), Bytes);
    std::memcpy(G.ScanLine(Bottom), Row.data(), Bytes);
  }
}

void MirrorColumns(TDibGraphic& G) {
  const int W = G.Width();
  const int Bits = G.BitCount();
  std::vector<uint32_t> Values(Bits < 8 ? size_t(W) : 0);
  for (int Y = 0; Y < G.Height(); ++Y) {
    uint8_t* Row = G.ScanLine(Y);
    if (Bits == 8) {
      std::reverse(Row, Row + W);
    } else if (Bits == 24) {
      for (int L = 0, R = W - 1; L < R; ++L, --R)
        for (int C = 0; C < 3; ++C)
          std::swap(Row[3 * L + C], Row[3 * R + C]);
    } else {
      for (int X = 0; X < W; ++X)
        Values[size_t(X)] = G.PixelReader()(Row, X);
      for (int X = 0; X < W; ++X)
        G.PixelWriter()(Row, X, Values[size_t(W - 1 - X)]);
    }
  }
}

// Rebuilds G with width and height swapped from a copy of its pixels.
void Transpose(TDibGraphic& G, const TMapping& M) {
  const int W = G.Width();
  const int H = G.Height();
  const int Bits = G.BitCount();
  const size_t Stride = size_t(G.BytesPerRow());
  const TImageFormat Format = G.ImageFormat();
  const TLogPalette Palette = *G.LogPalette();
  const uint16_t XDpi = G.XDpi();
  const uint16_t YDpi = G.YDpi();
  const TPixelReader Read = G.PixelReader();

  TPixelBuffer Stored = TPixelBuffer::Allocate(Stride * size_t(H));
  if (!Stored) throw EImageError("Out of memory");
  std::memcpy(Stored.Data(), G.Bits(), Stride * size_t(H));
  // Stored rows are bottom-up, as in the image.
  auto StoredRow = [&](int Row) { return Stored.Data() + size_t(H - 1 - Row) * Stride; };

  // The base class's NewImage: a turn rearranges pixels and must not reset
  // what a format class keeps about its file (a TIFF's compression, say).
  G.TDibGraphic::NewImage(H, W, Format, Format == ifTrueColor ? nullptr : &Palette, YDpi, XDpi);

  const int NewW = H;
  const int NewH = W;
  for (int TileY = 0; TileY < NewH; TileY += kTile) {
    for (int TileX = 0; TileX < NewW; TileX += kTile) {
      const int EndY = std::min(NewH, TileY + kTile);
      const int EndX = std::min(NewW, TileX + kTile);
      for (int Y = TileY; Y < EndY; ++Y) {
        uint8_t* Dst = G.ScanLine(Y);
        const int Column = M.FlipX ? W - 1 - Y : Y;
        for (int X = TileX; X < EndX; ++X) {
          const uint8_t* Src = StoredRow(M.FlipY ? H - 1 - X : X);
          if (Bits == 24) {
            std::memcpy(Dst + 3 * X, Src + 3 * Column, 3);
          } else if (Bits == 8) {
            Dst[X] = Src[Column];
          } else {
            G.PixelWriter()(Dst, X, Read(Src, Column));
          }
        }
      }
    }
  }
}

} // namespace

bool OrientationEnabled() {
  return Enabled.load(std::memory_order_relaxed);
}

void SetOrientationEnabled(bool Value) {
  Enabled.store(Value, std::memory_order_relaxed);
}

void OrientImage(TDibGraphic& Graphic, int Orientation) {
  if (Orientation < 2 || Orientation > 8 || Graphic.Empty()) return;
  Graphic.FlushCanvas();
  const TMapping& M = Mappings[Orientation];
  if (M.Swap) {
    Transpose(Graphic, M);
    return;
  }
  if (M.FlipY) MirrorRows(Graphic);
  if (M.FlipX) MirrorColumns(Graphic);
}

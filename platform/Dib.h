#pragma once
// Device-independent bitmaps as plain memory: the header and colour-table
// records, pixel buffers, and our own 1:1 copy and stretching routines (the
// stand-ins for SetDIBitsToDevice and StretchDIBits).
//
// Coordinates: a DIB is stored bottom-up. Row 0 of the picture (its top row)
// is the last row in memory. TDibView::Row(y) takes y from the top.
// Colours are 0x00RRGGBB; pixels of 24-bit DIBs are stored blue, green, red.

#include <cstddef>
#include <cstdint>
#include <memory>

// Logical palette record with room for 256 entries (1028 bytes).
struct TPaletteEntry {
  uint8_t peRed = 0;
  uint8_t peGreen = 0;
  uint8_t peBlue = 0;
  uint8_t peFlags = 0;
};

struct TLogPalette {
  uint16_t palVersion = 0;
  uint16_t palNumEntries = 0;
  TPaletteEntry palPalEntry[256];
};
static_assert(sizeof(TLogPalette) == 1028);

// Colour-table entry: blue, green, red, reserved.
struct TRgbQuad {
  uint8_t rgbBlue = 0;
  uint8_t rgbGreen = 0;
  uint8_t rgbRed = 0;
  uint8_t rgbReserved = 0;
};

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

// The 40-byte bitmap header.
struct TBitmapInfoHeader {
  uint32_t biSize = 0;
  int32_t biWidth = 0;
  int32_t biHeight = 0;
  uint16_t biPlanes = 0;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};
static_assert(sizeof(TBitmapInfoHeader) == 40);

struct TBitmapInfo {
  TBitmapInfoHeader bmiHeader;
  TRgbQuad bmiColors[256];
};

// Row stride of a DIB: rows padded to 4 bytes. Answers -1 when the width or
// the bit count is out of range or the stride would not fit in 32 bits.
int64_t DibStride(int64_t Width, int BitCount);

// Pixel memory of a DIB. Small buffers come from the heap; big ones are mapped
// pages with transparent huge pages asked for, and a few recently released
// big buffers are kept for reuse (first touch of fresh pages is expensive).
// Allocation never throws: a buffer that cannot be had is answered empty, and
// so is a big one the system could not back with memory (the system would
// grant it and end the process when the pages are touched) and one that would
// take the process past its memory budget (MemoryBudget.h), which every
// buffer is charged for while it lives.
class TPixelBuffer {
public:
  TPixelBuffer() = default;
  ~TPixelBuffer();
  TPixelBuffer(TPixelBuffer&& Other) noexcept;
  TPixelBuffer& operator=(TPixelBuffer&& Other) noexcept;
  TPixelBuffer(const TPixelBuffer&) = delete;
  TPixelBuffer& operator=(const TPixelBuffer&) = delete;

  // Size bytes, contents undefined; empty on failure or when Size is 0.
  static TPixelBuffer Allocate(size_t Size) noexcept;
  // As Allocate, all bytes 0.
  static TPixelBuffer AllocateZeroed(size_t Size) noexcept;
  // Drops the buffers kept for reuse.
  static void TrimCache() noexcept;

  uint8_t* Data() const { return FData; }
  size_t Size() const { return FSize; }
  explicit operator bool() const { return FData != nullptr; }
  void Release() noexcept;

private:
  uint8_t* FData = nullptr;
  size_t FSize = 0;     // bytes asked for
  size_t FCapacity = 0; // bytes mapped (0 for heap memory)
};

// A view of DIB pixels owned by someone else.
struct TDibView {
  int Width = 0;
  int Height = 0;          // rows, positive: bottom-up storage
  int BitCount = 0;        // 1, 4, 8, 24 (the copy and stretch routines also read 16 and 32)
  int Stride = 0;          // bytes per row
  uint8_t* Bits = nullptr; // first byte in memory: the bottom row
  const TRgbQuad* Colors = nullptr; // colour table for 1, 4 and 8 bits
  int ColorCount = 0;

  bool Empty() const { return Bits == nullptr || Width <= 0 || Height <= 0; }
  // Row y counted from the top.
  uint8_t* Row(int y) const { return Bits + static_cast<ptrdiff_t>(Height - 1 - y) * Stride; }
  // The colour of pixel (x, y) as 0x00RRGGBB; no range check.
  uint32_t PixelColor(int x, int y) const;
};

// Maps a colour 0x00RRGGBB to an index of a destination's colour table.
class TPaletteMapper {
public:
  virtual ~TPaletteMapper() = default;
  virtual int MapColor(uint32_t Colour) = 0;
};

// Nearest colour of a colour table by squared RGB distance, first entry on
// ties; a fallback mapper for destinations that bring none of their own.
class TNearestColorMapper final : public TPaletteMapper {
public:
  TNearestColorMapper(const TRgbQuad* Colors, int Count);
  int MapColor(uint32_t Colour) override;

private:
  const TRgbQuad* FColors;
  int FCount;
};

// Integer rectangle, right and bottom exclusive: (Left, Top, Right, Bottom).
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  bool operator==(const TRect&) const = default;
};
inline TRect Rect(int Left, int Top, int Right, int Bottom) {
  return TRect{Left, Top, Right, Bottom};
}
TRect IntersectRect(const TRect& A, const TRect& B);

// Stretch modes, with the values of the GDI constants.
enum class TStretchMode : int {
  smBlackOnWhite = 1,
  smWhiteOnBlack = 2,
  smColorOnColor = 3, // nearest pixel
  smHalftone =
      4 // area average: every source pixel under a destination pixel counts by its covered area
};
constexpr TStretchMode COLORONCOLOR = TStretchMode::smColorOnColor;
constexpr TStretchMode HALFTONE = TStretchMode::smHalftone;

// Copies a W x H block from Src at (SrcX, SrcY) to Dst at (DstX, DstY), both
// counted from the top, clipped to both images. Pixels are converted to Dst's
// layout; colours written into a palette Dst go through Mapper (nearest entry
// of Dst's colour table when Mapper is null).
void DibCopy(const TDibView& Src, int SrcX, int SrcY, int W, int H, const TDibView& Dst, int DstX,
             int DstY, TPaletteMapper* Mapper = nullptr);

// Stretches the SrcRect part of Src onto the DstRect part of Dst. Only the
// destination pixels inside Clip (and inside Dst) are written; a Clip of null
// means all of Dst. Mode COLORONCOLOR picks the nearest source pixel (also
// used for the black/white modes); HALFTONE averages the covered source area.
// Big jobs are split over the machine's cores.
void DibStretch(const TDibView& Src, const TRect& SrcRect, const TDibView& Dst,
                const TRect& DstRect, TStretchMode Mode, TPaletteMapper* Mapper = nullptr,
                const TRect* Clip = nullptr);

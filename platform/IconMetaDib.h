#pragma once
// Device-independent bitmaps as they appear inside icon files and metafiles:
// a BITMAPINFOHEADER (or the old 12-byte BITMAPCOREHEADER), an optional colour
// table and the pixel rows. Every size is checked against the bytes given
// before anything is read or allocated.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class QImage;

// Largest bitmap we decode: each side and the pixel count are capped so that a
// damaged header cannot ask for gigabytes.
constexpr int kMaxDibSide = 32768;
constexpr int64_t kMaxDibPixels = int64_t(1) << 26;

struct TDibHeader {
  int Width = 0;
  int Height = 0;                   // rows of the picture, always positive
  bool TopDown = false;             // negative height in the file
  int BitCount = 0;                 // 1, 4, 8, 16, 24 or 32
  uint32_t Compression = 0;         // 0 none, 1 RLE8, 2 RLE4, 3 bit fields, 4 JPEG, 5 PNG
  uint32_t Masks[4] = {0, 0, 0, 0}; // red, green, blue, alpha for bit fields
  std::vector<uint32_t> Palette;    // opaque colours of the colour table (QRgb)
  size_t InfoSize = 0;              // header + masks + colour table, in bytes
  size_t ImageSize = 0;             // biSizeImage (0 for uncompressed files allowed)
  int64_t Stride() const { return ((int64_t(Width) * BitCount + 31) / 32) * 4; }
};

// Reads the header and colour table from Info (Size bytes). With
// DoubleHeight the stored height counts the colour rows and the mask rows of
// an icon image, and Height is set to half of it. PaletteIndices: the colour
// table holds 16-bit palette indices (DIB_PAL_COLORS); they are shown as greys
// since there is no palette to look them up in.
bool ParseDibHeader(const uint8_t* Info, size_t Size, TDibHeader& Header, std::string& Error,
                    bool DoubleHeight = false, bool PaletteIndices = false);

// The width and height in the header of a PNG file (the IHDR chunk, which
// must follow the signature); false when Data does not start with a PNG
// signature and those fields.
bool PngHeaderSize(const uint8_t* Data, size_t Size, uint32_t& Width, uint32_t& Height);

// Decodes a PNG or JPEG file embedded in an icon or a bitmap (Format "PNG" or
// "JPG") into an ARGB32 image. The size its header gives is checked first,
// before any pixel memory is taken: above the pixel limit Error is the pixel
// limit's message (PixelLimitMessage), above kMaxDibSide or kMaxDibPixels it
// says the size is out of range. Data that do not decode give Damaged.
bool DecodeEmbeddedPicture(const uint8_t* Data, size_t Size, const char* Format,
                           const std::string& Damaged, QImage& Image, std::string& Error);

// Decodes the pixel rows Bits (Size bytes) of a parsed header into an ARGB32
// image, top row first. Alpha is taken from 32-bit pixels (and from an alpha
// bit field) when KeepAlpha is set, else every pixel is opaque. Answers false
// with Error set when the data are too short or the layout is not supported;
// PNG and JPEG pixels go through DecodeEmbeddedPicture.
bool DecodeDibPixels(const TDibHeader& Header, const uint8_t* Bits, size_t Size, bool KeepAlpha,
                     QImage& Image, std::string& Error);

#pragma once
// Small builders for BMP, PCX and Targa test files, shared by the tests, the
// benchmarks and the fixture tool. Each builder writes the header fields one
// by one at their offsets; the encoders produce the run-length streams a
// conforming writer would.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace bmmfix {

using Bytes = std::vector<uint8_t>;

inline void U8(Bytes& b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v));
}
inline void U16(Bytes& b, unsigned v) {
  U8(b, v & 0xFF);
  U8(b, (v >> 8) & 0xFF);
}
inline void U32(Bytes& b, uint32_t v) {
  U16(b, v & 0xFFFF);
  U16(b, v >> 16);
}
inline void Append(Bytes& b, const Bytes& more) {
  b.insert(b.end(), more.begin(), more.end());
}
inline void Put32At(Bytes& b, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

inline int64_t Stride(int width, int bpp) {
  return (int64_t(width) * bpp + 31) / 32 * 4;
}

// ---- BMP

struct BmpLayout {
  uint32_t cbFix = 40; // 12 (OS/2 1.x) or 16 to 64
  int32_t width = 1;
  int32_t height = 1;
  uint16_t planes = 1;
  uint16_t bitCount = 8;
  uint32_t compression = 0; // 0 none, 1 RLE8, 2 RLE4
  uint32_t coloursUsed = 0; // written when the header covers it
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  std::vector<Rgb> palette; // written as given (3 bytes per entry for cbFix 12, else 4)
  Bytes data;               // pixel data as stored
  bool array = false;       // wrap in a 14-byte "BA" bitmap-array header
};

inline Bytes BmpFile(const BmpLayout& s) {
  Bytes b;
  if (s.array) {
    U16(b, 0x4142); // off 0: "BA"
    U32(b, 14);     // off 2: size of this array header
    U32(b, 0);      // off 6: offset of the next array entry (none)
    U16(b, 0);      // off 10: screen width
    U16(b, 0);      // off 12: screen height
  }
  const std::size_t base = b.size();
  const uint32_t entry = s.cbFix == 12 ? 3 : 4;
  const uint32_t offset = 14 + s.cbFix + entry * uint32_t(s.palette.size()) + uint32_t(base);
  U16(b, 0x4D42);                           // off 0: "BM"
  U32(b, offset + uint32_t(s.data.size())); // off 2: file size
  U16(b, 0);                                // off 6: reserved
  U16(b, 0);                                // off 8: reserved
  U32(b, offset);                           // off 10: pixel data offset
  U32(b, s.cbFix);                          // off 14: info header size
  if (s.cbFix == 12) {
    U16(b, uint16_t(s.width));  // off 18: width
    U16(b, uint16_t(s.height)); // off 20: height
    U16(b, s.planes);           // off 22: planes
    U16(b, s.bitCount);         // off 24: bit count
  } else {
    Bytes info;
    U32(info, uint32_t(s.width));         // +0: width
    U32(info, uint32_t(s.height));        // +4: height
    U16(info, s.planes);                  // +8: planes
    U16(info, s.bitCount);                // +10: bit count
    U32(info, s.compression);             // +12: compression
    U32(info, uint32_t(s.data.size()));   // +16: image size
    U32(info, uint32_t(s.xPelsPerMeter)); // +20: x pixels per metre
    U32(info, uint32_t(s.yPelsPerMeter)); // +24: y pixels per metre
    U32(info, s.coloursUsed);             // +28: colours used
    U32(info, 0);                         // +32: colours important
    info.resize(64, 0);                   // OS/2 2.x fields, all 0
    info.resize(s.cbFix - 4);
    Append(b, info);
  }
  for (const Rgb& c : s.palette) {
    U8(b, c.b);
    U8(b, c.g);
    U8(b, c.r);
    if (entry == 4) U8(b, 0);
  }
  Append(b, s.data);
  return b;
}

// RLE8 of bottom-up rows: runs of 3 or more equal bytes as encoded runs, the
// rest as absolute runs (or short encoded runs), an end of line after every
// row and an end of bitmap at the end.
inline Bytes EncodeRle8(const uint8_t* rows, int width, int height, int64_t stride) {
  Bytes out;
  out.reserve(std::size_t(width + width / 128 + 4) * height);
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = rows + y * stride;
    int x = 0;
    while (x < width) {
      int run = 1;
      while (x + run < width && run < 255 && p[x + run] == p[x])
        ++run;
      if (run >= 3) {
        U8(out, run);
        U8(out, p[x]);
        x += run;
        continue;
      }
      // Literal stretch up to the next run of 3.
      int n = 0;
      while (x + n < width && n < 255) {
        if (x + n + 2 < width && p[x + n] == p[x + n + 1] && p[x + n] == p[x + n + 2]) break;
        ++n;
      }
      if (n < 3) {
        for (int i = 0; i < n; ++i) {
          U8(out, 1);
          U8(out, p[x + i]);
        }
      } else {
        U8(out, 0);
        U8(out, n);
        out.insert(out.end(), p + x, p + x + n);
        if (n & 1) U8(out, 0);
      }
      x += n;
    }
    U8(out, 0);
    U8(out, y + 1 == height ? 1 : 0);
  }
  return out;
}

// ---- PCX

struct PcxLayout {
  uint8_t version = 5;
  uint8_t encoding = 1;
  uint8_t bitsPerPixel = 8;
  uint8_t planes = 1;
  uint16_t xmin = 0, ymin = 0, xmax = 0, ymax = 0;
  uint16_t hdpi = 0, vdpi = 0;
  uint16_t bytesPerLine = 0;
  std::vector<Rgb> headerPalette; // up to 16 entries
  Bytes data;                     // encoded lines
  bool trailer = false;           // 0x0C and 256 colours at the end
  std::vector<Rgb> trailerPalette;
  uint8_t trailerMark = 12;
};

inline Bytes PcxFile(const PcxLayout& s) {
  Bytes b;
  U8(b, 10);                     // off 0: manufacturer
  U8(b, s.version);              // off 1: version
  U8(b, s.encoding);             // off 2: encoding
  U8(b, s.bitsPerPixel);         // off 3: bits per pixel per plane
  U16(b, s.xmin);                // off 4
  U16(b, s.ymin);                // off 6
  U16(b, s.xmax);                // off 8
  U16(b, s.ymax);                // off 10
  U16(b, s.hdpi);                // off 12: horizontal dpi
  U16(b, s.vdpi);                // off 14: vertical dpi
  for (int i = 0; i < 16; ++i) { // off 16: 16-colour palette
    const Rgb c = i < int(s.headerPalette.size()) ? s.headerPalette[i] : Rgb{};
    U8(b, c.r);
    U8(b, c.g);
    U8(b, c.b);
  }
  U8(b, 0);               // off 64: reserved
  U8(b, s.planes);        // off 65: planes
  U16(b, s.bytesPerLine); // off 66: bytes per line per plane
  b.resize(128, 0);       // off 68: rest of the header
  Append(b, s.data);
  if (s.trailer) {
    U8(b, s.trailerMark);
    for (int i = 0; i < 256; ++i) {
      const Rgb c = i < int(s.trailerPalette.size()) ? s.trailerPalette[i] : Rgb{};
      U8(b, c.r);
      U8(b, c.g);
      U8(b, c.b);
    }
  }
  return b;
}

// PCX line encoding: runs of up to 63 equal bytes; single bytes below 0xC0 as
// themselves.
inline void EncodePcxLine(const uint8_t* p, std::size_t n, Bytes& out) {
  std::size_t i = 0;
  while (i < n) {
    std::size_t run = 1;
    while (i + run < n && run < 63 && p[i + run] == p[i])
      ++run;
    if (run > 1 || p[i] >= 0xC0) U8(out, 0xC0 | unsigned(run));
    U8(out, p[i]);
    i += run;
  }
}

// ---- Targa

struct TgaLayout {
  Bytes id; // identification field
  uint8_t colourMapType = 0;
  uint8_t imageType = 2;
  uint16_t mapFirst = 0;
  uint16_t mapLength = 0;
  uint8_t mapEntrySize = 0;
  uint16_t width = 1, height = 1;
  uint8_t depth = 24;
  uint8_t descriptor = 0; // 0x20: first stored row is the top row
  Bytes colourMap;        // as stored
  Bytes data;             // as stored
};

inline Bytes TgaFile(const TgaLayout& s) {
  Bytes b;
  U8(b, uint8_t(s.id.size())); // off 0: identification field length
  U8(b, s.colourMapType);      // off 1: colour map type
  U8(b, s.imageType);          // off 2: image type
  U16(b, s.mapFirst);          // off 3: first colour map entry
  U16(b, s.mapLength);         // off 5: colour map length
  U8(b, s.mapEntrySize);       // off 7: colour map entry size
  U16(b, 0);                   // off 8: x origin
  U16(b, 0);                   // off 10: y origin
  U16(b, s.width);             // off 12: width
  U16(b, s.height);            // off 14: height
  U8(b, s.depth);              // off 16: pixel depth
  U8(b, s.descriptor);         // off 17: image descriptor
  Append(b, s.id);
  Append(b, s.colourMap);
  Append(b, s.data);
  return b;
}

// Targa run-length packets over pixels of PixelBytes each, in file order: runs
// of 2 or more equal pixels as run packets, the rest as literal packets, at
// most 128 pixels a packet. Packets run across rows.
inline Bytes EncodeTgaRle(const uint8_t* px, std::size_t count, int pixelBytes) {
  Bytes out;
  out.reserve(count * pixelBytes + count / 64 + 16);
  auto same = [&](std::size_t a, std::size_t b) {
    return std::memcmp(px + a * pixelBytes, px + b * pixelBytes, pixelBytes) == 0;
  };
  std::size_t i = 0;
  while (i < count) {
    std::size_t run = 1;
    while (i + run < count && run < 128 && same(i, i + run))
      ++run;
    if (run >= 2) {
      U8(out, 0x80 | unsigned(run - 1));
      out.insert(out.end(), px + i * pixelBytes, px + (i + 1) * pixelBytes);
      i += run;
      continue;
    }
    std::size_t n = 1;
    while (i + n < count && n < 128 && !(i + n + 1 < count && same(i + n, i + n + 1)))
      ++n;
    U8(out, unsigned(n - 1));
    out.insert(out.end(), px + i * pixelBytes, px + (i + n) * pixelBytes);
    i += n;
  }
  return out;
}

// ---- Pictures

// A deterministic photo-like picture: smooth gradients with fine noise, as
// blue-green-red pixels, rows top first.
inline Bytes PhotoRgb(int width, int height, uint32_t seed = 12345) {
  Bytes px(std::size_t(width) * height * 3);
  uint32_t s = seed;
  for (int y = 0; y < height; ++y) {
    uint8_t* p = px.data() + std::size_t(y) * width * 3;
    for (int x = 0; x < width; ++x) {
      s = s * 1664525u + 1013904223u;
      const int noise = int((s >> 24) & 7) - 3;
      const int r = (x * 255 / (width > 1 ? width - 1 : 1) + noise);
      const int g = (y * 255 / (height > 1 ? height - 1 : 1) + noise);
      const int b = ((x + y) * 127 / (width + height) + 64 + noise);
      p[3 * x] = uint8_t(b < 0 ? 0 : b > 255 ? 255 : b);
      p[3 * x + 1] = uint8_t(g < 0 ? 0 : g > 255 ? 255 : g);
      p[3 * x + 2] = uint8_t(r < 0 ? 0 : r > 255 ? 255 : r);
    }
  }
  return px;
}

} // namespace bmmfix

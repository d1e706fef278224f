#pragma once
// Decoding and writing helpers and small pictures shared by the bitmap module
// tests.

#include "formats/bitmap_module/Bmm.h"
#include "platform/Stream.h"
#include "tools/bmm_fixtures/BmmFixtures.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace bmmtest {

using bmmfix::BmpFile;
using bmmfix::BmpLayout;
using bmmfix::Bytes;
using bmmfix::Stride;

// A stream over bytes that does not offer them in place, so the module reads
// through its buffered path.
class TPlainStream : public TBytesStream {
public:
  using TBytesStream::TBytesStream;
  const uint8_t* Memory() const override { return nullptr; }
};

struct Decoded {
  int rc = 0;
  char step = 0; // 'h', 'p' or 'd': the step that failed, 0 when all passed
  BmmHeader hdr{};
  BmmPaletteEntry pal[256] = {};
  std::vector<uint8_t> data;
  int64_t stride = 0;

  // Byte I of decoded row Y (Y = 0 is the first row in memory: the bottom row).
  uint8_t At(int Y, int I) const { return data[std::size_t(Y * stride + I)]; }
  // 4-bit pixel X of row Y.
  int Nibble(int Y, int X) const {
    const uint8_t b = At(Y, X / 2);
    return (X & 1) ? (b & 0x0F) : (b >> 4);
  }
};

// Runs header, palette (unless 24 bits) and data steps over File.
inline Decoded Decode(const Bytes& File, int Format, const char* Options = "", bool Plain = false) {
  Decoded d;
  std::unique_ptr<TStream> s;
  if (Plain)
    s = std::make_unique<TPlainStream>(File.data(), int64_t(File.size()));
  else
    s = std::make_unique<TBytesStream>(File.data(), int64_t(File.size()));
  d.rc = bmm_read_header("x", s.get(), Format, &d.hdr, Options);
  if (d.rc) {
    d.step = 'h';
    return d;
  }
  if (d.hdr.bpp != 24) {
    d.rc = bmm_read_colours(s.get(), Format, &d.hdr, d.pal);
    if (d.rc) {
      d.step = 'p';
      return d;
    }
  }
  d.stride = bmm_stride(d.hdr.width, d.hdr.bpp);
  // Filled with a marker so that bytes the decoder leaves alone show.
  d.data.assign(std::size_t(bmm_image_size(d.hdr.width, d.hdr.height, d.hdr.bpp)), 0xA5);
  d.rc = bmm_read_data(s.get(), Format, &d.hdr, d.data.data());
  if (d.rc) d.step = 'd';
  return d;
}

// Writes with the module's writer into memory.
inline Bytes Encode(int Format, int Width, int Height, int Bpp, const BmmPaletteEntry* Pal,
                    const std::vector<uint8_t>& Data, const char* Options, int* Rc = nullptr) {
  BmmHeader h{};
  h.width = Width;
  h.height = Height;
  h.bpp = Bpp;
  TMemoryStream out;
  const int rc = bmm_write("x", &out, Format, &h, Pal, Data.data(), Options);
  if (Rc) *Rc = rc;
  return Bytes(out.Memory(), out.Memory() + out.Size());
}

// RLE8 pictures of width 4 (stride 4).
inline Bytes Rle8File(int width, int height, const Bytes& rle) {
  BmpLayout s;
  s.width = width;
  s.height = height;
  s.bitCount = 8;
  s.compression = 1;
  s.palette = {{1, 2, 3}};
  s.data = rle;
  return BmpFile(s);
}

// A made-up picture with its palette, rows as the module reads and writes them;
// the round-trip tests write it and read it back.
struct Picture {
  int width, height, bpp;
  BmmPaletteEntry pal[256];
  Bytes data;
};

inline Picture MakePicture(int width, int height, int bpp, uint32_t seed) {
  Picture p{width, height, bpp, {}, {}};
  const int colours = bpp == 24 ? 0 : 1 << bpp;
  for (int i = 0; i < colours; ++i)
    p.pal[i] = {uint8_t(i * 37 + seed), uint8_t(i * 11), uint8_t(255 - i)};
  const int64_t stride = Stride(width, bpp);
  p.data.assign(std::size_t(stride * height), 0);
  uint32_t s = seed;
  const int64_t used = (int64_t(width) * bpp + 7) / 8;
  for (int y = 0; y < height; ++y)
    for (int64_t i = 0; i < used; ++i) {
      s = s * 1664525u + 1013904223u;
      // Some repeats so that the run-length writers make runs.
      p.data[std::size_t(y * stride + i)] = (i % 5 < 2) ? uint8_t(y) : uint8_t(s >> 24);
    }
  // Bits past the width in the last byte of a row are not part of the picture.
  const int tailBits = int((int64_t(width) * bpp) % 8);
  if (tailBits)
    for (int y = 0; y < height; ++y)
      p.data[std::size_t(y * stride + used - 1)] &= uint8_t(0xFF << (8 - tailBits));
  return p;
}

inline void ExpectSamePalette(const Picture& p, const Decoded& d, const std::string& what) {
  const int colours = p.bpp == 24 ? 0 : 1 << p.bpp;
  for (int i = 0; i < colours; ++i) {
    EXPECT_EQ(d.pal[i].r, p.pal[i].r) << what << " entry " << i;
    EXPECT_EQ(d.pal[i].g, p.pal[i].g) << what << " entry " << i;
    EXPECT_EQ(d.pal[i].b, p.pal[i].b) << what << " entry " << i;
  }
}

} // namespace bmmtest

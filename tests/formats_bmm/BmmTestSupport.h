#pragma once
// Decoding helpers for the bitmap module tests.

#include "Bmm.h"
#include "Stream.h"
#include "../../tools/bmm_fixtures/BmmFixtures.h"

#include <memory>
#include <string>
#include <vector>

namespace bmmtest {

using bmmfix::Bytes;

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

} // namespace bmmtest

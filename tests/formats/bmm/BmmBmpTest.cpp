// The bitmap module's BMP reader, its RLE decoders and its writer on small
// crafted files.

#include "tests/formats/bmm/BmmTestSupport.h"

#include <gtest/gtest.h>

using namespace bmmtest;
using namespace bmmfix;

namespace {

// ---- BMP

// A 4 x 2 picture, 8 bits, palette entries 0..3; rows bottom first.
BmpLayout Small8(uint32_t cbFix) {
  BmpLayout s;
  s.cbFix = cbFix;
  s.width = 4;
  s.height = 2;
  s.bitCount = 8;
  s.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 8, 7}};
  s.coloursUsed = 4;
  s.data = {0, 1, 2, 3, 3, 2, 1, 0};
  if (cbFix == 12) s.palette.resize(256); // OS/2 files carry 2^bits entries
  return s;
}

TEST(BmpReader, EveryHeaderKindReadsTheSamePicture) {
  for (uint32_t cbFix : {12u, 16u, 20u, 36u, 40u, 42u, 46u, 48u, 64u}) {
    BmpLayout s = Small8(cbFix);
    const Decoded d = Decode(BmpFile(s), 0);
    ASSERT_EQ(d.rc, 0) << cbFix << " step " << d.step;
    EXPECT_EQ(d.hdr.width, 4);
    EXPECT_EQ(d.hdr.height, 2);
    EXPECT_EQ(d.hdr.bpp, 8);
    EXPECT_EQ(std::vector<uint8_t>(d.data.begin(), d.data.end()), s.data) << cbFix;
    EXPECT_EQ(d.pal[1].g, 255) << cbFix;
    EXPECT_EQ(d.pal[2].b, 255) << cbFix;
    EXPECT_EQ(d.pal[3].r, 9) << cbFix;
    // Headers of 32 bytes or less carry no colours-used field: 256 entries are
    // read (here past the palette into the pixel data), otherwise only 4.
    if (cbFix > 32) {
      EXPECT_EQ(d.pal[4].r + d.pal[4].g + d.pal[4].b, 0) << cbFix;
    }
  }
}

TEST(BmpReader, HeaderRefusals) {
  struct Row {
    const char* what;
    void (*edit)(BmpLayout&);
    int rc;
  } rows[] = {
      {"cbFix 14", [](BmpLayout& s) { s.cbFix = 14; }, 302},
      {"cbFix 66", [](BmpLayout& s) { s.cbFix = 66; }, 302},
      {"cbFix 108 (V4)", [](BmpLayout& s) { s.cbFix = 108; }, 302},
      {"cbFix 43", [](BmpLayout& s) { s.cbFix = 43; }, 302},
      {"planes 2", [](BmpLayout& s) { s.planes = 2; }, 300},
      {"planes 2, os2",
       [](BmpLayout& s) {
         s.cbFix = 12;
         s.planes = 2;
       },
       300},
      {"16 bits", [](BmpLayout& s) { s.bitCount = 16; }, 301},
      {"30000 bits", [](BmpLayout& s) { s.bitCount = 30000; }, 301},
      {"2 bits, os2",
       [](BmpLayout& s) {
         s.cbFix = 12;
         s.bitCount = 2;
       },
       301},
      {"width 0", [](BmpLayout& s) { s.width = 0; }, 6},
      {"height 0, os2",
       [](BmpLayout& s) {
         s.cbFix = 12;
         s.height = 0;
       },
       6},
      {"top-down", [](BmpLayout& s) { s.height = -2; }, 6},
      {"negative width", [](BmpLayout& s) { s.width = -4; }, 6},
      {"huge",
       [](BmpLayout& s) {
         s.width = 0x7FFFFFFF;
         s.height = 0x7FFFFFFF;
         s.bitCount = 24;
       },
       6},
  };
  for (const Row& r : rows) {
    BmpLayout s = Small8(40);
    r.edit(s);
    const Decoded d = Decode(BmpFile(s), 0);
    EXPECT_EQ(d.rc, r.rc) << r.what;
    EXPECT_EQ(d.step, 'h') << r.what;
  }
  // Zero width wins over a bad plane count: checks run in the file's order.
  BmpLayout s = Small8(40);
  s.width = 0;
  s.planes = 3;
  EXPECT_EQ(Decode(BmpFile(s), 0).rc, 6);
}

TEST(BmpReader, MagicAndTruncatedHeaders) {
  Bytes file = BmpFile(Small8(40));
  Bytes bad = file;
  bad[0] = 'X';
  EXPECT_EQ(Decode(bad, 0).rc, 5);
  EXPECT_EQ(Decode(Bytes{}, 0).rc, 7);
  EXPECT_EQ(Decode(Bytes{'B'}, 0).rc, 7);
  // Cut inside the file header, and inside the info header.
  EXPECT_EQ(Decode(Bytes(file.begin(), file.begin() + 10), 0).rc, 7);
  EXPECT_EQ(Decode(Bytes(file.begin(), file.begin() + 30), 0).rc, 7);
  Bytes os2 = BmpFile(Small8(12));
  EXPECT_EQ(Decode(Bytes(os2.begin(), os2.begin() + 22), 0).rc, 7);
  // An array header followed by something other than "BM".
  EXPECT_EQ(Decode(Bytes{'B', 'A', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'B', 'X'}, 0).rc, 5);
}

TEST(BmpReader, BitmapArrayReadsItsFirstBitmap) {
  BmpLayout s = Small8(40);
  s.array = true;
  const Decoded d = Decode(BmpFile(s), 0);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.data, s.data);
  EXPECT_EQ(d.pal[3].r, 9); // the palette is found relative to the "BM" header
}

TEST(BmpReader, OneBitPaletteOrderAndInversion) {
  BmpLayout s;
  s.width = 8;
  s.height = 1;
  s.bitCount = 1;
  s.palette = {{255, 255, 255}, {0, 0, 0}}; // white first
  s.data = {0x0F, 0, 0, 0};
  const Bytes file = BmpFile(s);
  const Decoded plain = Decode(file, 0);
  ASSERT_EQ(plain.rc, 0);
  EXPECT_EQ(plain.pal[0].r, 0); // swapped without "inv"
  EXPECT_EQ(plain.pal[1].r, 255);
  const Decoded inv = Decode(file, 0, "inv");
  EXPECT_EQ(inv.pal[0].r, 255); // file order
  EXPECT_EQ(inv.pal[1].r, 0);
  EXPECT_EQ(inv.At(0, 0), 0x0F);
  const Decoded invb = Decode(file, 0, "inv invb");
  EXPECT_EQ(invb.At(0, 0), 0xF0);
  EXPECT_EQ(invb.At(0, 1), 0xFF); // padding bytes are inverted too
}

TEST(BmpReader, ColoursUsedRules) {
  // Zero means 2^bits; more than 2^bits is cut.
  for (uint32_t used : {0u, 1000u}) {
    BmpLayout s;
    s.width = 2;
    s.height = 1;
    s.bitCount = 4;
    s.coloursUsed = used;
    for (int i = 0; i < 16; ++i)
      s.palette.push_back({uint8_t(i + 1), 0, 0});
    s.data = {0x12, 0, 0, 0};
    const Decoded d = Decode(BmpFile(s), 0);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.pal[15].r, 16) << used;
  }
  // Fewer entries than 2^bits: the rest stay black.
  BmpLayout s;
  s.width = 2;
  s.height = 1;
  s.bitCount = 4;
  s.coloursUsed = 2;
  s.palette = {{1, 1, 1}, {2, 2, 2}};
  s.data = {0x12, 0, 0, 0};
  const Decoded d = Decode(BmpFile(s), 0);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.pal[1].r, 2);
  EXPECT_EQ(d.pal[2].r, 0);
}

TEST(BmpReader, PaletteCutShortStaysBlackAndShortDataIsZero) {
  BmpLayout s = Small8(40);
  s.data.clear();
  Bytes file = BmpFile(s);
  file.resize(file.size() - 5); // the last palette entry loses its bytes
  const Decoded d = Decode(file, 0);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.pal[2].b, 255);
  EXPECT_EQ(d.pal[3].r, 0);
  EXPECT_EQ(d.data, Bytes(8, 0)); // no pixel data at all: not an error, all 0

  BmpLayout s2 = Small8(40);
  s2.data.resize(5);
  const Decoded d2 = Decode(BmpFile(s2), 0);
  ASSERT_EQ(d2.rc, 0);
  EXPECT_EQ(d2.data, (Bytes{0, 1, 2, 3, 3, 0, 0, 0}));
}

TEST(BmpReader, TwentyFourBitsAndOtherCompression) {
  BmpLayout s;
  s.width = 2;
  s.height = 2;
  s.bitCount = 24;
  s.data = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  Decoded d = Decode(BmpFile(s), 0);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.data, s.data);
  s.compression = 3; // bit fields
  d = Decode(BmpFile(s), 0);
  EXPECT_EQ(d.rc, 303);
  EXPECT_EQ(d.step, 'd');
}

TEST(BmpRle8, Commands) {
  struct Row {
    const char* what;
    int width, height;
    Bytes rle;
    Bytes expect; // the whole buffer, bottom row first
  } rows[] = {
      {"runs and end of line", 4, 2, {2, 7, 1, 8, 0, 0, 4, 9, 0, 1}, {7, 7, 8, 0, 9, 9, 9, 9}},
      {"absolute run, odd length padded",
       4,
       2,
       {0, 3, 1, 2, 3, 0, 0, 0, 1, 5, 0, 1},
       {1, 2, 3, 0, 5, 0, 0, 0}},
      {"absolute run, even length", 4, 1, {0, 4, 1, 2, 3, 4, 0, 1}, {1, 2, 3, 4}},
      {"delta (1,1) leaves zeros", 4, 2, {1, 6, 0, 2, 1, 1, 1, 7, 0, 1}, {6, 0, 0, 0, 0, 0, 7, 0}},
      {"end of bitmap zeros the rest", 4, 3, {2, 5, 0, 1}, {5, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"a run past the row end continues in the next row",
       4,
       2,
       {6, 3, 0, 1},
       {3, 3, 3, 3, 3, 3, 0, 0}},
      {"end of line on the last row ends the bitmap", 4, 1, {1, 4, 0, 0, 9, 9}, {4, 0, 0, 0}},
      {"delta onto the last row end ends the bitmap",
       4,
       2,
       {1, 4, 0, 2, 0, 2, 9, 9},
       {4, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Row& r : rows) {
    for (bool plain : {false, true}) {
      const Decoded d = Decode(Rle8File(r.width, r.height, r.rle), 0, "", plain);
      ASSERT_EQ(d.rc, 0) << r.what;
      EXPECT_EQ(d.data, r.expect) << r.what << (plain ? " (buffered)" : "");
    }
  }
}

TEST(BmpRle8, EndOfBitmapOnRowTenOfHundred) {
  Bytes rle;
  for (int y = 0; y < 10; ++y)
    Append(rle, Bytes{4, 1, 0, 0});
  Append(rle, Bytes{2, 1, 0, 1}); // half of row 10, then end of bitmap
  const Decoded d = Decode(Rle8File(4, 100, rle), 0);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.At(9, 3), 1);
  EXPECT_EQ(d.At(10, 1), 1);
  EXPECT_EQ(d.At(10, 2), 0);
  for (int y = 11; y < 100; ++y)
    for (int i = 0; i < 4; ++i)
      ASSERT_EQ(d.At(y, i), 0) << y;
}

TEST(BmpRle8, DeltaThreeTwoLeavesZeros) {
  // Width 8 (stride 8): a byte, then delta (3, 2): 3 + 2 * 8 zero bytes follow.
  const Decoded d = Decode(Rle8File(8, 4, {1, 5, 0, 2, 3, 2, 1, 6, 0, 1}), 0);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.At(0, 0), 5);
  for (int i = 1; i <= 3 + 2 * 8; ++i)
    EXPECT_EQ(d.data[i], 0) << i;
  EXPECT_EQ(d.At(2, 4), 6);
}

TEST(BmpRle8, UnsafeStreamsAreRefused) {
  struct Row {
    const char* what;
    int height;
    Bytes rle;
  } rows[] = {
      {"data end before end of bitmap", 2, {2, 7}},
      {"data end inside a step", 2, {2}},
      {"run past the buffer end", 2, {9, 1}},
      {"run past the end on the last row", 2, {4, 1, 0, 0, 3, 1, 2, 1}},
      {"absolute run past the buffer end", 1, {0, 6, 1, 2, 3, 4, 5, 6}},
      {"absolute run cut by the data end", 2, {0, 4, 1, 2}},
      {"delta past the last row", 2, {0, 2, 0, 3}},
      {"delta cut by the data end", 2, {0, 2, 1}},
      {"many runs walking off the end", 2, {255, 1, 255, 1, 255, 1}},
  };
  for (const Row& r : rows) {
    for (bool plain : {false, true}) {
      const Decoded d = Decode(Rle8File(4, r.height, r.rle), 0, "", plain);
      EXPECT_EQ(d.rc, 7) << r.what;
      EXPECT_EQ(d.step, 'd') << r.what;
    }
  }
}

Bytes Rle4File(int width, int height, const Bytes& rle) {
  BmpLayout s;
  s.width = width;
  s.height = height;
  s.bitCount = 4;
  s.compression = 2;
  s.palette = {{1, 2, 3}};
  s.data = rle;
  return BmpFile(s);
}

TEST(BmpRle4, Commands) {
  // Width 8: stride 4.
  {
    // Delta (1,0), then a run of 3 with 0x12: pixels 1, 2, 1 at x = 1, 2, 3.
    const Decoded d = Decode(Rle4File(8, 1, {0, 2, 1, 0, 3, 0x12, 0, 1}), 0);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.Nibble(0, 0), 0);
    EXPECT_EQ(d.Nibble(0, 1), 1);
    EXPECT_EQ(d.Nibble(0, 2), 2);
    EXPECT_EQ(d.Nibble(0, 3), 1);
    EXPECT_EQ(d.Nibble(0, 4), 0);
  }
  {
    // Absolute run of 3 at x = 0: bytes stored whole (the spare nibble lands
    // in pixel 3), padded to an even number of bytes.
    const Decoded d = Decode(Rle4File(8, 2, {0, 3, 0x12, 0x34, 0, 0, 2, 0x77, 0, 1}), 0);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.At(0, 0), 0x12);
    EXPECT_EQ(d.At(0, 1), 0x34);
    EXPECT_EQ(d.At(1, 0), 0x77);
  }
  {
    // Absolute run of 4 at x = 1: nibbles shift by one pixel.
    const Decoded d = Decode(Rle4File(8, 1, {1, 0x90, 0, 4, 0x12, 0x34, 0, 1}), 0);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.At(0, 0), 0x91);
    EXPECT_EQ(d.At(0, 1), 0x23);
    EXPECT_EQ(d.At(0, 2), 0x40);
  }
  {
    // Absolute run of 3 at x = 1: one byte read pair, then one padding byte.
    const Decoded d = Decode(Rle4File(8, 2, {1, 0x50, 0, 3, 0xAB, 0xC0, 0, 0, 1, 0xE0, 0, 1}), 0);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.At(0, 0), 0x5A);
    EXPECT_EQ(d.At(0, 1), 0xBC);
    EXPECT_EQ(d.At(1, 0), 0xE0);
  }
  {
    // End of line and end of bitmap leave the zeroed buffer.
    const Decoded d = Decode(Rle4File(8, 3, {2, 0xFF, 0, 0, 0, 1}), 0);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.At(0, 0), 0xFF);
    EXPECT_EQ(d.At(0, 1), 0x00);
    EXPECT_EQ(d.At(1, 0), 0x00);
    EXPECT_EQ(d.At(2, 3), 0x00);
  }
}

TEST(BmpRle4, UnsafeStreamsAreRefused) {
  struct Row {
    const char* what;
    Bytes rle;
  } rows[] = {
      {"run past the buffer end", {0, 2, 0, 1, 17, 0x11}},
      {"absolute run past the buffer end", {0, 2, 6, 0, 0, 8, 1, 2, 3, 4}},
      {"delta past the last row", {0, 2, 0, 5}},
      {"data end", {2, 0x11}},
  };
  for (const Row& r : rows) {
    const Decoded d = Decode(Rle4File(8, 2, r.rle), 0);
    EXPECT_EQ(d.rc, 7) << r.what;
  }
  // A spare nibble past the end of the buffer is dropped, not refused: run of
  // 1 at the last pixel of the last row (x = 7, odd).
  const Decoded d = Decode(Rle4File(8, 1, {0, 2, 7, 0, 0, 3, 0xAB, 0xCD, 0, 1}), 0);
  EXPECT_EQ(d.rc, 7); // the second byte's pixels are inside the run: refused
  const Decoded e = Decode(Rle4File(8, 1, {0, 2, 7, 0, 0, 3, 0x9F, 0, 0, 1}), 0);
  EXPECT_NE(e.rc, 0); // 3 pixels from x = 7 leave the row of 8 pixels
  const Decoded ok = Decode(Rle4File(7, 1, {0, 2, 6, 0, 1, 0x90, 0, 1}), 0);
  ASSERT_EQ(ok.rc, 0);
  EXPECT_EQ(ok.Nibble(0, 6), 9);
}

TEST(BmpRle, LargePictureSameThroughBothPaths) {
  const int w = 300, h = 250;
  Bytes rows(std::size_t(Stride(w, 8)) * h, 0);
  uint32_t s = 1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      s = s * 1103515245u + 12345u;
      rows[y * Stride(w, 8) + x] = uint8_t((x / 7 + y / 5) % 3 == 0 ? 40 : (s >> 20));
    }
  const Bytes file = Rle8File(w, h, EncodeRle8(rows.data(), w, h, Stride(w, 8)));
  ASSERT_GT(file.size(), 2 * BmmByteReader::kBufferSize); // the reader refills
  for (bool plain : {false, true}) {
    const Decoded d = Decode(file, 0, "", plain);
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.data, rows) << plain;
  }
}

// ---- BMP writer

// The colour of pixel x of row y, through the palette for palette pictures.
uint32_t ColourAt(const Bytes& data, const BmmPaletteEntry* pal, int bpp, int width, int y, int x) {
  const uint8_t* row = data.data() + y * Stride(width, bpp);
  int index = 0;
  switch (bpp) {
  case 1:
    index = (row[x / 8] >> (7 - x % 8)) & 1;
    break;
  case 4:
    index = (x & 1) ? row[x / 2] & 15 : row[x / 2] >> 4;
    break;
  case 8:
    index = row[x];
    break;
  default:
    return uint32_t(row[3 * x + 2]) << 16 | row[3 * x + 1] << 8 | row[3 * x];
  }
  return uint32_t(pal[index].r) << 16 | pal[index].g << 8 | pal[index].b;
}

TEST(BmpWriter, RoundTripsEveryDepthAndLayout) {
  const char* layouts[] = {"", "win", "2.0", "1.1", "inv", "invb", "1.1,inv,invb"};
  for (int bpp : {1, 4, 8, 24}) {
    for (const char* opt : layouts) {
      const Picture p = MakePicture(13, 5, bpp, 7);
      int rc = -1;
      const Bytes file = Encode(0, p.width, p.height, bpp, p.pal, p.data, opt, &rc);
      ASSERT_EQ(rc, 0) << bpp << " " << opt;
      EXPECT_EQ(file[14], bmm_option_present(opt, "1.1") ? 12 : 40) << opt;
      const Decoded d = Decode(file, 0, opt);
      ASSERT_EQ(d.rc, 0) << bpp << " " << opt;
      EXPECT_EQ(d.hdr.bpp, bpp);
      const std::string what = std::to_string(bpp) + " '" + opt + "'";
      ExpectSamePalette(p, d, what);
      EXPECT_EQ(d.data, p.data) << what;
    }
  }
}

TEST(BmpWriter, ForegroundChoiceKeepsThePicture) {
  Picture p = MakePicture(16, 3, 1, 3);
  p.pal[0] = {250, 250, 250}; // light
  p.pal[1] = {10, 20, 30};    // dark
  for (const char* opt : {"darkfg", "lightfg"}) {
    int rc = -1;
    const Bytes file = Encode(0, p.width, p.height, 1, p.pal, p.data, opt, &rc);
    ASSERT_EQ(rc, 0);
    const Decoded d = Decode(file, 0, "");
    ASSERT_EQ(d.rc, 0);
    // The darker (or lighter) colour is the colour of set bits.
    const bool dark = std::string(opt) == "darkfg";
    EXPECT_EQ(d.pal[1].r, dark ? 10 : 250) << opt;
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x)
        ASSERT_EQ(ColourAt(d.data, d.pal, 1, p.width, y, x),
                  ColourAt(p.data, p.pal, 1, p.width, y, x))
            << opt << " " << x << "," << y;
  }
}

TEST(BmpWriter, Refusals) {
  const Picture p = MakePicture(4, 2, 8, 1);
  int rc = 0;
  Encode(0, 4, 2, 8, p.pal, p.data, "1.1 win", &rc);
  EXPECT_EQ(rc, 3);
  Encode(0, 4, 2, 8, p.pal, p.data, "darkfg lightfg", &rc);
  EXPECT_EQ(rc, 3);
  Encode(0, 0, 2, 8, p.pal, p.data, "", &rc);
  EXPECT_EQ(rc, 6);
  Encode(0, 4, 2, 16, p.pal, p.data, "", &rc);
  EXPECT_EQ(rc, 2);
  Encode(0, 70000, 1, 8, p.pal, Bytes(70000), "1.1", &rc);
  EXPECT_EQ(rc, 6);
  // A stream that takes no bytes.
  BmmHeader h{};
  h.width = 4;
  h.height = 2;
  h.bpp = 8;
  TBytesStream ro(nullptr, 0);
  EXPECT_EQ(bmm_write("x", &ro, 0, &h, p.pal, p.data.data(), ""), 8);
}

} // namespace

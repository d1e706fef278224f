// The bitmap module's PCX reader and writer on small crafted files.

#include "tests/formats/bmm/BmmTestSupport.h"

#include <gtest/gtest.h>

using namespace bmmtest;
using namespace bmmfix;

namespace {

// ---- PCX

// Width 4, height 2, 8 bits, one plane; lines of 4 bytes.
PcxLayout Pcx8() {
  PcxLayout s;
  s.xmax = 3;
  s.ymax = 1;
  s.bytesPerLine = 4;
  s.data = {0xC4, 0x07, 1, 2, 0xC1, 0xC5, 3}; // line 1: 7 7 7 7; line 2: 1 2 0xC5 3
  s.trailer = true;
  s.trailerPalette = {{1, 2, 3}, {4, 5, 6}};
  return s;
}

TEST(PcxReader, HeaderChecks) {
  struct Row {
    const char* what;
    void (*edit)(PcxLayout&);
    int rc;
  } rows[] = {
      {"version 4", [](PcxLayout& s) { s.version = 4; }, 700},
      {"version 6", [](PcxLayout& s) { s.version = 6; }, 700},
      {"encoding 0", [](PcxLayout& s) { s.encoding = 0; }, 701},
      {"2 bits x 1", [](PcxLayout& s) { s.bitsPerPixel = 2; }, 702},
      {"1 bit x 3",
       [](PcxLayout& s) {
         s.bitsPerPixel = 1;
         s.planes = 3;
       },
       702},
      {"8 bits x 4", [](PcxLayout& s) { s.planes = 4; }, 702},
      {"xmax < xmin", [](PcxLayout& s) { s.xmin = 5; }, 6},
      {"ymax < ymin", [](PcxLayout& s) { s.ymin = 2; }, 6},
      {"bytes per line below the width", [](PcxLayout& s) { s.bytesPerLine = 3; }, 6},
      {"bytes per line 0", [](PcxLayout& s) { s.bytesPerLine = 0; }, 6},
  };
  for (const Row& r : rows) {
    PcxLayout s = Pcx8();
    r.edit(s);
    const Decoded d = Decode(PcxFile(s), 1);
    EXPECT_EQ(d.rc, r.rc) << r.what;
    EXPECT_EQ(d.step, 'h') << r.what;
  }
  Bytes bad = PcxFile(Pcx8());
  bad[0] = 11;
  EXPECT_EQ(Decode(bad, 1).rc, 5);
  EXPECT_EQ(Decode(Bytes(bad.begin(), bad.begin() + 69), 1).rc, 7);
  for (uint8_t v : {0, 2, 3, 5}) {
    PcxLayout s = Pcx8();
    s.version = v;
    EXPECT_EQ(Decode(PcxFile(s), 1).rc, 0) << int(v);
  }
}

TEST(PcxReader, EightBitsWithTrailer) {
  const Decoded d = Decode(PcxFile(Pcx8()), 1);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.hdr.bpp, 8);
  // File rows come top first: the first line is the top (last in memory).
  EXPECT_EQ(Bytes(d.data.begin(), d.data.begin() + 4), (Bytes{1, 2, 0xC5, 3}));
  EXPECT_EQ(Bytes(d.data.begin() + 4, d.data.end()), (Bytes{7, 7, 7, 7}));
  EXPECT_EQ(d.pal[1].r, 4);
  EXPECT_EQ(d.pal[1].b, 6);
  PcxLayout s = Pcx8();
  s.trailerMark = 13;
  const Decoded bad = Decode(PcxFile(s), 1);
  EXPECT_EQ(bad.rc, 703);
  EXPECT_EQ(bad.step, 'p');
  s.trailer = false; // a file shorter than a trailer
  EXPECT_EQ(Decode(PcxFile(s), 1).rc, 703);
}

TEST(PcxReader, RunsCarryAcrossLinesUnlessTrunc) {
  PcxLayout s = Pcx8();
  s.data = {0xC6, 9, 1, 2}; // a run of 6: 4 for line 1, 2 carried into line 2
  const Decoded d = Decode(PcxFile(s), 1);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(Bytes(d.data.begin(), d.data.begin() + 4), (Bytes{9, 9, 1, 2}));
  const Decoded t = Decode(PcxFile(s), 1, "trunc");
  ASSERT_EQ(t.rc, 0);
  // With trunc the rest of the run is dropped; line 2 reads 1, 2 and then
  // reaches the trailer's bytes (0x0C, palette 1, 2, 3 ...).
  EXPECT_EQ(t.At(0, 0), 1);
  EXPECT_EQ(t.At(0, 1), 2);
  EXPECT_EQ(t.At(0, 2), 12);
}

TEST(PcxReader, TruncatedDataFillWithFF) {
  PcxLayout s = Pcx8();
  s.trailer = false;
  s.data = {0xC2, 5};
  // No trailer: the palette step fails, so decode the data of a 24-bit file.
  PcxLayout t;
  t.planes = 3;
  t.xmax = 1;
  t.ymax = 1;
  t.bytesPerLine = 2;
  t.data = {0xC3, 5, 0xC1}; // red line 5 5, green 5 then a run whose value is missing
  const Decoded d = Decode(PcxFile(t), 1);
  ASSERT_EQ(d.rc, 0);
  // Top row (last in memory): red 5, 5; green 5, 0xFF (value read at the end); blue 0xFF.
  EXPECT_EQ(d.At(1, 2), 5);
  EXPECT_EQ(d.At(1, 5), 5);
  EXPECT_EQ(d.At(1, 1), 5);
  EXPECT_EQ(d.At(1, 4), 0xFF);
  EXPECT_EQ(d.At(1, 0), 0xFF);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(d.At(0, i), 0xFF) << i;
  EXPECT_EQ(d.At(0, 6), 0); // row padding
}

TEST(PcxReader, RunPendingAtTheDataEndThenFF) {
  // 24 bits, width 4, one row of three lines: a run of 9 sevens covers the red
  // and green lines and the first blue byte; the data then end, so the rest
  // of the blue line is 0xFF.
  PcxLayout s;
  s.planes = 3; // 24 bits: no palette step
  s.xmax = 3;
  s.ymax = 0;
  s.bytesPerLine = 4;
  s.data = {0xC9, 7};
  const Decoded d = Decode(PcxFile(s), 1);
  ASSERT_EQ(d.rc, 0);
  // Red line 7 7 7 7, green 7 7 7 7, blue 7 then 0xFF.
  EXPECT_EQ(Bytes(d.data.begin(), d.data.begin() + 12),
            (Bytes{7, 7, 7, 0xFF, 7, 7, 0xFF, 7, 7, 0xFF, 7, 7}));
}

TEST(PcxReader, CutShortWithLongLinesFillsFast) {
  // 1 x 60000 pixels with 60000 bytes per line and no data: every row is the
  // 0xFF fill; decoding them all byte by byte would take billions of steps.
  PcxLayout s;
  s.planes = 3;
  s.xmax = 0;
  s.ymax = 59999;
  s.bytesPerLine = 60000;
  s.data = {0xC2, 0x10};
  const Decoded d = Decode(PcxFile(s), 1);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.At(59999, 2), 0x10); // top row: red from the run
  EXPECT_EQ(d.At(59999, 1), 0xFF);
  EXPECT_EQ(d.At(0, 0), 0xFF);
  EXPECT_EQ(d.At(0, 3), 0); // padding
}

TEST(PcxReader, OneBitIsAlwaysBlackAndWhite) {
  PcxLayout s;
  s.bitsPerPixel = 1;
  s.xmax = 9;
  s.bytesPerLine = 2;
  s.headerPalette = {{200, 0, 0}, {0, 200, 0}};
  s.data = {0xA5, 0x80};
  const Decoded d = Decode(PcxFile(s), 1);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.hdr.bpp, 1);
  EXPECT_EQ(d.pal[0].r + d.pal[0].g + d.pal[0].b, 0);
  EXPECT_EQ(d.pal[1].r, 255);
  EXPECT_EQ(d.pal[1].g, 255);
  EXPECT_EQ(d.At(0, 0), 0xA5);
  EXPECT_EQ(d.At(0, 1), 0x80);
  EXPECT_EQ(d.At(0, 2), 0);
}

TEST(PcxReader, FourPlanesWidthThirteen) {
  PcxLayout s;
  s.bitsPerPixel = 1;
  s.planes = 4;
  s.xmax = 12;
  s.bytesPerLine = 2;
  s.headerPalette.resize(16);
  for (int i = 0; i < 16; ++i)
    s.headerPalette[i] = {uint8_t(i * 16), 1, 2};
  // Planes 0..3; pixel 12 (bit 3 of the second byte) gets bits from all four
  // planes, bits past pixel 12 are ignored.
  s.data = {0x80, 0x08, 0x00, 0x0F, 0xC1, 0xFF, 0x08, 0x00, 0x08}; // 0xFF needs a run of 1
  const Decoded d = Decode(PcxFile(s), 1);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.hdr.bpp, 4);
  EXPECT_EQ(d.Nibble(0, 0), 1 | 4); // planes 0 and 2
  EXPECT_EQ(d.Nibble(0, 1), 4);
  EXPECT_EQ(d.Nibble(0, 12), 1 | 2 | 4 | 8);
  EXPECT_EQ(d.Nibble(0, 13), 0);
  EXPECT_EQ(d.pal[3].r, 48);
}

TEST(PcxReader, FourBitsOnePlaneAndLongLines) {
  PcxLayout s;
  s.bitsPerPixel = 4;
  s.xmax = 2;
  s.ymax = 1;
  s.bytesPerLine = 6; // longer than the row of 4 bytes: cut
  s.data = {0x12, 0x30, 9, 9, 9, 9, 0x45, 0x60, 9, 9, 9, 9};
  const Decoded d = Decode(PcxFile(s), 1);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.At(1, 0), 0x12);
  EXPECT_EQ(d.At(1, 1), 0x30);
  EXPECT_EQ(d.At(1, 3), 9);
  EXPECT_EQ(d.At(0, 0), 0x45); // the second line starts after all 6 bytes
}

TEST(PcxWriter, RoundTripsEveryDepth) {
  for (int bpp : {1, 4, 8, 24}) {
    for (int width : {1, 13, 64}) {
      const Picture p = MakePicture(width, 4, bpp, 5);
      int rc = -1;
      const Bytes file = Encode(1, p.width, p.height, bpp, p.pal, p.data, "", &rc);
      ASSERT_EQ(rc, 0);
      EXPECT_EQ(file[1], 5);
      EXPECT_EQ(file[65], bpp == 24 ? 3 : 1);
      const Decoded d = Decode(file, 1);
      ASSERT_EQ(d.rc, 0) << bpp;
      if (bpp == 4 || bpp == 8) ExpectSamePalette(p, d, "pcx " + std::to_string(bpp));
      EXPECT_EQ(d.data, p.data) << bpp << " " << width;
      // Runs never pass 63 bytes.
      for (std::size_t i = 128; i < file.size(); ++i)
        if (file[i] >= 0xC0) {
          EXPECT_LE(file[i] & 0x3F, 63);
          ++i;
        }
    }
  }
  BmmPaletteEntry pal[256] = {};
  int rc = 0;
  Encode(1, 70000, 1, 8, pal, Bytes(70000), "", &rc);
  EXPECT_EQ(rc, 6);
}

} // namespace

// The bitmap module's Targa reader and writer on small crafted files.

#include "tests/formats/bmm/BmmTestSupport.h"

#include <gtest/gtest.h>

using namespace bmmtest;
using namespace bmmfix;

namespace {

// ---- Targa

TgaLayout Tga(uint8_t type, uint8_t depth, uint16_t w, uint16_t h) {
  TgaLayout s;
  s.imageType = type;
  s.depth = depth;
  s.width = w;
  s.height = h;
  if (type == 1 || type == 9) {
    s.colourMapType = 1;
    s.mapLength = 2;
    s.mapEntrySize = 24;
    s.colourMap = {10, 20, 30, 40, 50, 60}; // entries 0, 1 as blue, green, red
  }
  return s;
}

TEST(TgaReader, HeaderChecks) {
  struct Row {
    const char* what;
    uint8_t type, depth, mapBits;
    uint16_t w, h;
    int rc;
  } rows[] = {
      {"mapped 16-bit entries", 1, 8, 16, 1, 1, 402},
      {"mapped depth 16", 1, 16, 24, 1, 1, 400},
      {"mapped rle depth 24", 9, 24, 24, 1, 1, 400},
      {"true colour 8", 2, 8, 0, 1, 1, 400},
      {"true colour 15", 10, 15, 0, 1, 1, 400},
      {"grey 16", 3, 16, 0, 1, 1, 400},
      {"grey rle 24", 11, 24, 0, 1, 1, 400},
      {"type 0", 0, 8, 0, 1, 1, 401},
      {"type 32", 32, 8, 0, 1, 1, 401},
      {"width 0", 2, 24, 0, 0, 1, 6},
      {"height 0", 3, 8, 0, 1, 0, 6},
  };
  for (const Row& r : rows) {
    TgaLayout s = Tga(r.type, r.depth, r.w, r.h);
    s.mapEntrySize = r.mapBits;
    const Decoded d = Decode(TgaFile(s), 2);
    EXPECT_EQ(d.rc, r.rc) << r.what;
  }
  EXPECT_EQ(Decode(Bytes(17, 0), 2).rc, 7);
}

TEST(TgaReader, ColourMapsAndGrey) {
  TgaLayout s = Tga(1, 8, 2, 1);
  s.id = {'h', 'i'};
  s.mapFirst = 254;
  s.mapLength = 4; // entries 256 and 257 can't be reached by 8-bit pixels
  s.colourMap = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  s.data = {254, 255};
  Decoded d = Decode(TgaFile(s), 2);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.pal[254].r, 3);
  EXPECT_EQ(d.pal[254].b, 1);
  EXPECT_EQ(d.pal[255].r, 6);
  EXPECT_EQ(d.pal[0].r, 0);
  EXPECT_EQ(d.At(0, 0), 254);
  s.colourMap.resize(10); // the map is cut short by the end of the file
  s.data.clear();
  d = Decode(TgaFile(s), 2);
  EXPECT_EQ(d.rc, 7);
  EXPECT_EQ(d.step, 'p');

  TgaLayout g = Tga(3, 8, 3, 1);
  g.data = {0, 128, 255};
  d = Decode(TgaFile(g), 2);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.hdr.bpp, 8);
  EXPECT_EQ(d.pal[128].r, 128);
  EXPECT_EQ(d.pal[128].g, 128);
  EXPECT_EQ(d.pal[200].b, 200);
}

TEST(TgaReader, SixteenAndThirtyTwoBitPixels) {
  TgaLayout s = Tga(2, 16, 3, 1);
  s.data = {0xFF, 0x7F, 0x00, 0x80, 0x1F, 0x00}; // 0x7FFF, 0x8000, 0x001F
  Decoded d = Decode(TgaFile(s), 2);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.hdr.bpp, 24);
  EXPECT_EQ(Bytes(d.data.begin(), d.data.begin() + 12),
            (Bytes{248, 248, 248, 0, 0, 0, 248, 0, 0, 0, 0, 0}));
  TgaLayout t = Tga(2, 32, 2, 1);
  t.data = {1, 2, 3, 0, 4, 5, 6, 255};
  d = Decode(TgaFile(t), 2);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(Bytes(d.data.begin(), d.data.begin() + 6), (Bytes{1, 2, 3, 4, 5, 6}));
}

TEST(TgaReader, PacketsRunsAndLiterals) {
  // Grey 3 x 3, run-length: a run 0x83 gives 4 pixels, a literal 0x02 three,
  // packets run across row ends.
  TgaLayout s = Tga(11, 8, 3, 3);
  s.data = {0x83, 7, 0x02, 1, 2, 3, 0x81, 9};
  Decoded d = Decode(TgaFile(s), 2);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.data, (Bytes{7, 7, 7, 0, 7, 1, 2, 0, 3, 9, 9, 0}));
  // Pixels past the last row are dropped.
  s.data = {0xFF, 4};
  d = Decode(TgaFile(s), 2);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.data, (Bytes{4, 4, 4, 0, 4, 4, 4, 0, 4, 4, 4, 0}));
  // Data that stop before the last row fail at the next packet byte; value
  // bytes missing inside the last packet read as 0xFF.
  s.data = {0x83, 7};
  EXPECT_EQ(Decode(TgaFile(s), 2).rc, 7);
  s.data = {0x83, 7, 0x04, 1};
  d = Decode(TgaFile(s), 2);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.data, (Bytes{7, 7, 7, 0, 7, 1, 0xFF, 0, 0xFF, 0xFF, 0xFF, 0}));
  // Raw data cut short.
  TgaLayout r = Tga(3, 8, 3, 3);
  r.data = {1, 2, 3, 4};
  d = Decode(TgaFile(r), 2);
  EXPECT_EQ(d.rc, 7);
  EXPECT_EQ(d.step, 'd');
}

TEST(TgaReader, ColourMapIsSkippedBeforeTheData) {
  // A true-colour file that carries a colour map of 3 entries of 15 bits
  // (counted as 16): 6 bytes to skip.
  TgaLayout s = Tga(2, 24, 1, 1);
  s.colourMapType = 1;
  s.mapLength = 3;
  s.mapEntrySize = 15;
  s.colourMap = {9, 9, 9, 9, 9, 9};
  s.id = {1, 2, 3};
  s.data = {10, 20, 30};
  const Decoded d = Decode(TgaFile(s), 2);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(Bytes(d.data.begin(), d.data.begin() + 3), (Bytes{10, 20, 30}));
}

// Pixels of a 5 x 3 picture at a file depth, rows top first, with repeats.
Bytes TgaPixels(int depth, int w, int h) {
  const int n = depth / 8;
  Bytes px(std::size_t(w) * h * n);
  for (std::size_t i = 0; i < px.size(); ++i)
    px[i] = uint8_t((i / n) % 4 == 1 ? 0x33 : i * 29 + 1);
  if (depth == 16)
    for (std::size_t i = 1; i < px.size(); i += 2)
      px[i] &= 0x7F;
  return px;
}

TEST(TgaReader, BothOrientationsAtEveryDepthRawAndRle) {
  const int w = 5, h = 3;
  struct Kind {
    uint8_t type, depth;
  } kinds[] = {{1, 8},   {9, 8},  {3, 8},   {11, 8}, {2, 16},
               {10, 16}, {2, 24}, {10, 24}, {2, 32}, {10, 32}};
  for (const Kind& k : kinds) {
    const Bytes top = TgaPixels(k.depth, w, h);
    // The same picture stored bottom row first.
    const std::size_t rowBytes = std::size_t(w) * k.depth / 8;
    Bytes bottom;
    for (int y = h - 1; y >= 0; --y)
      bottom.insert(bottom.end(), top.begin() + y * rowBytes, top.begin() + (y + 1) * rowBytes);
    const bool rle = k.type >= 9;
    TgaLayout a = Tga(k.type, k.depth, w, h);
    a.descriptor = 0x20;
    a.data = rle ? EncodeTgaRle(top.data(), std::size_t(w) * h, k.depth / 8) : top;
    TgaLayout b = Tga(k.type, k.depth, w, h);
    b.data = rle ? EncodeTgaRle(bottom.data(), std::size_t(w) * h, k.depth / 8) : bottom;
    const Decoded da = Decode(TgaFile(a), 2);
    const Decoded db = Decode(TgaFile(b), 2, "", true);
    ASSERT_EQ(da.rc, 0) << int(k.type) << "/" << int(k.depth);
    ASSERT_EQ(db.rc, 0) << int(k.type) << "/" << int(k.depth);
    EXPECT_EQ(da.data, db.data) << int(k.type) << "/" << int(k.depth);
    // The top row of the picture is the last row in memory.
    const uint8_t* topRow = da.data.data() + (h - 1) * da.stride;
    if (k.depth == 8) {
      EXPECT_EQ(topRow[0], top[0]);
      EXPECT_EQ(topRow[4], top[4]);
    } else if (k.depth == 24 || k.depth == 32) {
      const int n = k.depth / 8;
      EXPECT_EQ(topRow[3 * 4 + 2], top[4 * n + 2]);
      EXPECT_EQ(topRow[3], top[n]);
    } else {
      const unsigned v = top[2] | top[3] << 8;
      EXPECT_EQ(topRow[3], (v & 0x1F) << 3);
      EXPECT_EQ(topRow[5], ((v >> 10) & 0x1F) << 3);
    }
    EXPECT_EQ(da.At(0, int(da.stride) - 1), 0); // padding
  }
}

TEST(TgaWriter, RoundTripsAndOptions) {
  struct Row {
    int bpp;
    const char* opt;
    int depth;
    uint8_t descriptor;
  } rows[] = {
      {8, "", 8, 0},      {8, "ydown", 8, 0x20}, {24, "", 24, 0},   {24, "24", 24, 0},
      {24, "yup", 24, 0}, {24, "32", 32, 0x08},  {24, "16", 16, 0}, {24, "16,ydown", 16, 0x20},
  };
  for (const Row& r : rows) {
    const Picture p = MakePicture(7, 4, r.bpp, 9);
    int rc = -1;
    const Bytes file = Encode(2, p.width, p.height, r.bpp, p.pal, p.data, r.opt, &rc);
    ASSERT_EQ(rc, 0) << r.opt;
    EXPECT_EQ(file[2], r.bpp == 8 ? 1 : 2);
    EXPECT_EQ(file[16], r.depth) << r.opt;
    EXPECT_EQ(file[17], r.descriptor) << r.opt;
    const Decoded d = Decode(file, 2);
    ASSERT_EQ(d.rc, 0) << r.opt;
    if (r.bpp == 8) {
      ExpectSamePalette(p, d, "tga");
      EXPECT_EQ(d.data, p.data) << r.opt;
    } else if (r.depth == 16) {
      for (std::size_t i = 0; i < p.data.size(); ++i)
        ASSERT_EQ(d.data[i], p.data[i] & 0xF8) << r.opt << " " << i;
    } else {
      EXPECT_EQ(d.data, p.data) << r.opt;
    }
  }
  const Picture p8 = MakePicture(4, 2, 8, 1);
  const Picture p24 = MakePicture(4, 2, 24, 1);
  int rc = 0;
  for (const char* bad : {"16 32", "24,16", "yup ydown"}) {
    Encode(2, 4, 2, 24, p24.pal, p24.data, bad, &rc);
    EXPECT_EQ(rc, 3) << bad;
  }
  Encode(2, 4, 2, 8, p8.pal, p8.data, "24", &rc);
  EXPECT_EQ(rc, 3);
  const Picture p4 = MakePicture(4, 2, 4, 1);
  Encode(2, 4, 2, 4, p4.pal, p4.data, "", &rc);
  EXPECT_EQ(rc, 2);
  Encode(2, 70000, 1, 8, p8.pal, Bytes(70000), "", &rc);
  EXPECT_EQ(rc, 6);
}

} // namespace

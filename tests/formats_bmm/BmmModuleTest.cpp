// The bitmap module on its own: format table, type guess, error texts,
// options, and the BMP, PCX and Targa readers and writers on small crafted
// files.

#include "BmmTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace bmmtest;
using namespace bmmfix;

namespace {

// ---- Common model

TEST(BmmTable, FormatTableEntries) {
  struct Row {
    const char *shortname, *longname, *extensions;
    int flags;
  } rows[] = {
      {"Bitmap", "OS/2 1.1, 1.2, 2.0 / Windows 3.0 bitmap", "BMP VGA BGA RLE DIB RL4 RL8", 0xFF},
      {"PCX", "ZSoft PC Paintbrush Image format", "PCX PCC", 0xFF},
      {"Targa", "Truevision Targa/Vista bitmap", "TGA VST AFI", 0xCC},
  };
  for (int i = 0; i < 3; ++i) {
    BmmFormatInfo info;
    ASSERT_EQ(bmm_format_info(i, &info), 0);
    EXPECT_STREQ(info.shortname, rows[i].shortname);
    EXPECT_STREQ(info.longname, rows[i].longname);
    EXPECT_STREQ(info.extensions, rows[i].extensions);
    EXPECT_EQ(info.flags, rows[i].flags);
  }
  BmmFormatInfo info;
  EXPECT_EQ(bmm_format_info(3, &info), 9);
  EXPECT_EQ(bmm_format_info(-1, &info), 9);
  EXPECT_EQ(bmm_format_info(0, nullptr), 9);
}

TEST(BmmTable, GuessFiletype) {
  struct Row {
    const char* name;
    int rc, ft;
  } rows[] = {
      {"File.bmp", 0, 0}, {"x.Bmp", 0, 0},          {"X.BMP", 0, 0},     {"a.rl8", 0, 0},
      {"a.dib", 0, 0},    {"dir.x/File.pcx", 0, 1}, {"p.PCC", 0, 1},     {"t.tga", 0, 2},
      {"t.vst", 0, 2},    {"t.afi", 0, 2},          {"README", 4, -1},   {"x.", 4, -1},
      {"x.bm", 4, -1},    {"x.bmpx", 4, -1},        {"x.tga.gz", 4, -1}, {"a.bmp/readme", 4, -1},
  };
  for (const Row& r : rows) {
    int ft = -1;
    EXPECT_EQ(bmm_guess_filetype(r.name, &ft), r.rc) << r.name;
    EXPECT_EQ(ft, r.ft) << r.name;
  }
  int ft = 0;
  EXPECT_EQ(bmm_guess_filetype(nullptr, &ft), 9);
  EXPECT_EQ(bmm_guess_filetype("a.bmp", nullptr), 9);
}

TEST(BmmTable, ErrorTexts) {
  struct Row {
    int code;
    const char* text;
  } rows[] = {
      {0, "ok"},
      {1, "out of memory"},
      {2, "not supported"},
      {3, "bad option(s)"},
      {4, "not found"},
      {5, "bad magic number / signiture block"},
      {6, "bad bitmap size"},
      {7, "can't read file"},
      {8, "can't write file"},
      {9, "bad argument to bmm function"},
      {300, "number of bitmap planes is not 1"},
      {301, "bit count not 1, 4, 8 or 24"},
      {302, "cbFix bad"},
      {303, "compression type not uncompressed, RLE4 or RLE8"},
      {304, "less bitmaps in file than index requested"},
      {400, "bits per pixel not 8, 16, 24 or 32"},
      {401, "unsupported compression type for bits per pixel"},
      {402, "color map entry size not 24 bits per pixel"},
      {700, "version number not 4 or 5"},
      {701, "encoding mode not 1"},
      {702, "unsupported bpp/plane / plane combination"},
      {703, "corrupt file trailer"},
      {10, "general error"},
      {-1, "general error"},
      {305, "general error"},
      {403, "general error"},
      {704, "general error"},
  };
  for (const Row& r : rows)
    EXPECT_STREQ(bmm_error_text(r.code), r.text) << r.code;
}

TEST(BmmTable, OptionWords) {
  EXPECT_TRUE(bmm_option_present("inv", "inv"));
  EXPECT_TRUE(bmm_option_present("Inv", "inv"));
  EXPECT_TRUE(bmm_option_present("a,INV\tb", "inv"));
  EXPECT_TRUE(bmm_option_present("  invb , inv", "inv"));
  EXPECT_FALSE(bmm_option_present("invb", "inv"));
  EXPECT_FALSE(bmm_option_present("in", "inv"));
  EXPECT_FALSE(bmm_option_present("", "inv"));
  EXPECT_FALSE(bmm_option_present(nullptr, "inv"));
}

TEST(BmmTable, StartStopAndArguments) {
  EXPECT_EQ(bmm_init(), 0);
  EXPECT_EQ(bmm_deinit(), 0);
  BmmHeader h{};
  uint8_t buf[4];
  BmmPaletteEntry pal[256];
  TMemoryStream s;
  EXPECT_EQ(bmm_read_header("x", nullptr, 0, &h, ""), 9);
  EXPECT_EQ(bmm_read_header("x", &s, 0, nullptr, ""), 9);
  EXPECT_EQ(bmm_read_header("x", &s, 7, &h, ""), 9);
  EXPECT_EQ(bmm_read_colours(&s, 0, &h, nullptr), 9);
  EXPECT_EQ(bmm_read_data(&s, 0, &h, nullptr), 9);
  EXPECT_EQ(bmm_write("x", &s, 0, &h, pal, nullptr, ""), 9);
  // A header that was never filled (size 0) is refused by the data step.
  EXPECT_EQ(bmm_read_data(&s, 0, &h, buf), 6);
}

TEST(BmmTable, StrideAndSizeLimits) {
  EXPECT_EQ(bmm_stride(3, 4), 4);
  EXPECT_EQ(bmm_stride(3, 24), 12);
  EXPECT_EQ(bmm_stride(33, 1), 8);
  EXPECT_EQ(bmm_stride(0, 8), -1);
  EXPECT_EQ(bmm_image_size(0x7FFFFFFF, 0x7FFFFFFF, 24), -1);
  EXPECT_EQ(bmm_image_size(4, 3, 8), 12);
}

// ---- Byte reader

TEST(BmmByteReaderTest, BytesThenEndBothPaths) {
  Bytes bytes(40000);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = uint8_t(i * 7);
  for (bool plain : {false, true}) {
    std::unique_ptr<TStream> s;
    if (plain)
      s = std::make_unique<TPlainStream>(bytes.data(), int64_t(bytes.size()));
    else
      s = std::make_unique<TBytesStream>(bytes.data(), int64_t(bytes.size()));
    s->SetPosition(5);
    std::unique_ptr<BmmByteReader> r(BmmByteReader::Create(s.get()));
    ASSERT_TRUE(r);
    bool same = true;
    for (std::size_t i = 5; i < bytes.size(); ++i)
      same = same && r->Get() == bytes[i];
    EXPECT_TRUE(same) << plain;
    EXPECT_EQ(r->Get(), -1);
    EXPECT_EQ(r->Get(), -1);
  }
}

// ---- BMP

// A 4 x 2 picture, 8 bits, palette entries 0..3; rows bottom first.
BmpSpec Small8(uint32_t cbFix) {
  BmpSpec s;
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
    BmpSpec s = Small8(cbFix);
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
    void (*edit)(BmpSpec&);
    int rc;
  } rows[] = {
      {"cbFix 14", [](BmpSpec& s) { s.cbFix = 14; }, 302},
      {"cbFix 66", [](BmpSpec& s) { s.cbFix = 66; }, 302},
      {"cbFix 108 (V4)", [](BmpSpec& s) { s.cbFix = 108; }, 302},
      {"cbFix 43", [](BmpSpec& s) { s.cbFix = 43; }, 302},
      {"planes 2", [](BmpSpec& s) { s.planes = 2; }, 300},
      {"planes 2, os2",
       [](BmpSpec& s) {
         s.cbFix = 12;
         s.planes = 2;
       },
       300},
      {"16 bits", [](BmpSpec& s) { s.bitCount = 16; }, 301},
      {"30000 bits", [](BmpSpec& s) { s.bitCount = 30000; }, 301},
      {"2 bits, os2",
       [](BmpSpec& s) {
         s.cbFix = 12;
         s.bitCount = 2;
       },
       301},
      {"width 0", [](BmpSpec& s) { s.width = 0; }, 6},
      {"height 0, os2",
       [](BmpSpec& s) {
         s.cbFix = 12;
         s.height = 0;
       },
       6},
      {"top-down", [](BmpSpec& s) { s.height = -2; }, 6},
      {"negative width", [](BmpSpec& s) { s.width = -4; }, 6},
      {"huge",
       [](BmpSpec& s) {
         s.width = 0x7FFFFFFF;
         s.height = 0x7FFFFFFF;
         s.bitCount = 24;
       },
       6},
  };
  for (const Row& r : rows) {
    BmpSpec s = Small8(40);
    r.edit(s);
    const Decoded d = Decode(BmpFile(s), 0);
    EXPECT_EQ(d.rc, r.rc) << r.what;
    EXPECT_EQ(d.step, 'h') << r.what;
  }
  // Zero width wins over a bad plane count: checks run in the file's order.
  BmpSpec s = Small8(40);
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
  BmpSpec s = Small8(40);
  s.array = true;
  const Decoded d = Decode(BmpFile(s), 0);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.data, s.data);
  EXPECT_EQ(d.pal[3].r, 9); // the palette is found relative to the "BM" header
}

TEST(BmpReader, OneBitPaletteOrderAndInversion) {
  BmpSpec s;
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
    BmpSpec s;
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
  BmpSpec s;
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
  BmpSpec s = Small8(40);
  s.data.clear();
  Bytes file = BmpFile(s);
  file.resize(file.size() - 5); // the last palette entry loses its bytes
  const Decoded d = Decode(file, 0);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.pal[2].b, 255);
  EXPECT_EQ(d.pal[3].r, 0);
  EXPECT_EQ(d.data, Bytes(8, 0)); // no pixel data at all: not an error, all 0

  BmpSpec s2 = Small8(40);
  s2.data.resize(5);
  const Decoded d2 = Decode(BmpFile(s2), 0);
  ASSERT_EQ(d2.rc, 0);
  EXPECT_EQ(d2.data, (Bytes{0, 1, 2, 3, 3, 0, 0, 0}));
}

TEST(BmpReader, TwentyFourBitsAndOtherCompression) {
  BmpSpec s;
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

// RLE8 pictures of width 4 (stride 4).
Bytes Rle8File(int width, int height, const Bytes& rle) {
  BmpSpec s;
  s.width = width;
  s.height = height;
  s.bitCount = 8;
  s.compression = 1;
  s.palette = {{1, 2, 3}};
  s.data = rle;
  return BmpFile(s);
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
  BmpSpec s;
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

struct Picture {
  int width, height, bpp;
  BmmPaletteEntry pal[256];
  Bytes data;
};

Picture MakePicture(int width, int height, int bpp, uint32_t seed) {
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

void ExpectSamePalette(const Picture& p, const Decoded& d, const std::string& what) {
  const int colours = p.bpp == 24 ? 0 : 1 << p.bpp;
  for (int i = 0; i < colours; ++i) {
    EXPECT_EQ(d.pal[i].r, p.pal[i].r) << what << " entry " << i;
    EXPECT_EQ(d.pal[i].g, p.pal[i].g) << what << " entry " << i;
    EXPECT_EQ(d.pal[i].b, p.pal[i].b) << what << " entry " << i;
  }
}

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

// ---- PCX

// Width 4, height 2, 8 bits, one plane; lines of 4 bytes.
PcxSpec Pcx8() {
  PcxSpec s;
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
    void (*edit)(PcxSpec&);
    int rc;
  } rows[] = {
      {"version 4", [](PcxSpec& s) { s.version = 4; }, 700},
      {"version 6", [](PcxSpec& s) { s.version = 6; }, 700},
      {"encoding 0", [](PcxSpec& s) { s.encoding = 0; }, 701},
      {"2 bits x 1", [](PcxSpec& s) { s.bitsPerPixel = 2; }, 702},
      {"1 bit x 3",
       [](PcxSpec& s) {
         s.bitsPerPixel = 1;
         s.planes = 3;
       },
       702},
      {"8 bits x 4", [](PcxSpec& s) { s.planes = 4; }, 702},
      {"xmax < xmin", [](PcxSpec& s) { s.xmin = 5; }, 6},
      {"ymax < ymin", [](PcxSpec& s) { s.ymin = 2; }, 6},
      {"bytes per line below the width", [](PcxSpec& s) { s.bytesPerLine = 3; }, 6},
      {"bytes per line 0", [](PcxSpec& s) { s.bytesPerLine = 0; }, 6},
  };
  for (const Row& r : rows) {
    PcxSpec s = Pcx8();
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
    PcxSpec s = Pcx8();
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
  PcxSpec s = Pcx8();
  s.trailerMark = 13;
  const Decoded bad = Decode(PcxFile(s), 1);
  EXPECT_EQ(bad.rc, 703);
  EXPECT_EQ(bad.step, 'p');
  s.trailer = false; // a file shorter than a trailer
  EXPECT_EQ(Decode(PcxFile(s), 1).rc, 703);
}

TEST(PcxReader, RunsCarryAcrossLinesUnlessTrunc) {
  PcxSpec s = Pcx8();
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
  PcxSpec s = Pcx8();
  s.trailer = false;
  s.data = {0xC2, 5};
  // No trailer: the palette step fails, so decode the data of a 24-bit file.
  PcxSpec t;
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
  PcxSpec s;
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
  PcxSpec s;
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
  PcxSpec s;
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
  PcxSpec s;
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
  PcxSpec s;
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

// ---- Targa

TgaSpec Tga(uint8_t type, uint8_t depth, uint16_t w, uint16_t h) {
  TgaSpec s;
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
    TgaSpec s = Tga(r.type, r.depth, r.w, r.h);
    s.mapEntrySize = r.mapBits;
    const Decoded d = Decode(TgaFile(s), 2);
    EXPECT_EQ(d.rc, r.rc) << r.what;
  }
  EXPECT_EQ(Decode(Bytes(17, 0), 2).rc, 7);
}

TEST(TgaReader, ColourMapsAndGrey) {
  TgaSpec s = Tga(1, 8, 2, 1);
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

  TgaSpec g = Tga(3, 8, 3, 1);
  g.data = {0, 128, 255};
  d = Decode(TgaFile(g), 2);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.hdr.bpp, 8);
  EXPECT_EQ(d.pal[128].r, 128);
  EXPECT_EQ(d.pal[128].g, 128);
  EXPECT_EQ(d.pal[200].b, 200);
}

TEST(TgaReader, SixteenAndThirtyTwoBitPixels) {
  TgaSpec s = Tga(2, 16, 3, 1);
  s.data = {0xFF, 0x7F, 0x00, 0x80, 0x1F, 0x00}; // 0x7FFF, 0x8000, 0x001F
  Decoded d = Decode(TgaFile(s), 2);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.hdr.bpp, 24);
  EXPECT_EQ(Bytes(d.data.begin(), d.data.begin() + 12),
            (Bytes{248, 248, 248, 0, 0, 0, 248, 0, 0, 0, 0, 0}));
  TgaSpec t = Tga(2, 32, 2, 1);
  t.data = {1, 2, 3, 0, 4, 5, 6, 255};
  d = Decode(TgaFile(t), 2);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(Bytes(d.data.begin(), d.data.begin() + 6), (Bytes{1, 2, 3, 4, 5, 6}));
}

TEST(TgaReader, PacketsRunsAndLiterals) {
  // Grey 3 x 3, run-length: a run 0x83 gives 4 pixels, a literal 0x02 three,
  // packets run across row ends.
  TgaSpec s = Tga(11, 8, 3, 3);
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
  TgaSpec r = Tga(3, 8, 3, 3);
  r.data = {1, 2, 3, 4};
  d = Decode(TgaFile(r), 2);
  EXPECT_EQ(d.rc, 7);
  EXPECT_EQ(d.step, 'd');
}

TEST(TgaReader, ColourMapIsSkippedBeforeTheData) {
  // A true-colour file that carries a colour map of 3 entries of 15 bits
  // (counted as 16): 6 bytes to skip.
  TgaSpec s = Tga(2, 24, 1, 1);
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
    TgaSpec a = Tga(k.type, k.depth, w, h);
    a.descriptor = 0x20;
    a.data = rle ? EncodeTgaRle(top.data(), std::size_t(w) * h, k.depth / 8) : top;
    TgaSpec b = Tga(k.type, k.depth, w, h);
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

// ---- Replaceable I/O

int gReads = 0;
int64_t CountingRead(BmmHandle h, void* buf, int64_t n) {
  ++gReads;
  // Hands out at most 3 bytes per call: callers must cope with short reads
  // where the format allows them.
  return static_cast<TStream*>(h)->Read(buf, n < 3 ? n : 3);
}

TEST(BmmIoTest, ReplacedCallbacksAreUsedAndRestored) {
  gReads = 0;
  bmm_set_io(nullptr, nullptr, nullptr, nullptr, CountingRead, nullptr);
  const Decoded d = Decode(Rle8File(4, 2, {2, 7, 1, 8, 0, 0, 4, 9, 0, 1}), 0);
  bmm_set_io(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_GT(gReads, 0);
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.data, (Bytes{7, 7, 8, 0, 9, 9, 9, 9}));
  const int before = gReads;
  EXPECT_EQ(Decode(Rle8File(4, 2, {2, 7, 1, 8, 0, 0, 4, 9, 0, 1}), 0).rc, 0);
  EXPECT_EQ(gReads, before);
}

TEST(BmmIoTest, DefaultOpenCreateClose) {
  const BmmIo& io = bmm_io();
  EXPECT_EQ(io.open("/nonexistent/dir/x.bmp", 0), nullptr);
  const std::string name = ::testing::TempDir() + "bmm_io_test.tga";
  BmmHandle out = io.create(name.c_str(), 0);
  ASSERT_NE(out, nullptr);
  const Picture p = MakePicture(3, 2, 24, 4);
  BmmHeader h{};
  h.width = 3;
  h.height = 2;
  h.bpp = 24;
  EXPECT_EQ(bmm_write(name.c_str(), out, 2, &h, p.pal, p.data.data(), ""), 0);
  EXPECT_EQ(io.close(out), 0);
  BmmHandle in = io.open(name.c_str(), 0);
  ASSERT_NE(in, nullptr);
  BmmHeader r{};
  EXPECT_EQ(bmm_read_header(name.c_str(), in, 2, &r, ""), 0);
  Bytes data(std::size_t(bmm_image_size(3, 2, 24)));
  EXPECT_EQ(bmm_read_data(in, 2, &r, data.data()), 0);
  EXPECT_EQ(data, p.data);
  EXPECT_EQ(io.close(in), 0);
  std::remove(name.c_str());
}

} // namespace

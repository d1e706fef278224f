// The bitmap module's rules shared by every format: the format table, the
// type guess, error texts, options, the byte reader and its I/O.

#include "tests/formats/bmm/BmmTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

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

// ---- I/O

// A stream that hands out at most 3 bytes per read, counting the reads.
class TTrickleStream : public TPlainStream {
public:
  using TPlainStream::TPlainStream;
  int64_t Read(void* Buffer, int64_t Count) override {
    ++Reads;
    return TPlainStream::Read(Buffer, Count < 3 ? Count : 3);
  }
  int Reads = 0;
};

// Header fields and run-length data are read through as many reads as the
// stream needs, so a stream that delivers little at a time decodes the same.
TEST(BmmIoTest, ShortReadsOfTheStreamAreTakenInTurn) {
  const Bytes file = Rle8File(4, 2, {2, 7, 1, 8, 0, 0, 4, 9, 0, 1});
  TTrickleStream s(file.data(), int64_t(file.size()));
  BmmHeader h{};
  ASSERT_EQ(bmm_read_header("x", &s, 0, &h, ""), 0);
  EXPECT_EQ(h.width, 4);
  EXPECT_EQ(h.height, 2);
  Bytes data(std::size_t(bmm_image_size(4, 2, 8)));
  ASSERT_EQ(bmm_read_data(&s, 0, &h, data.data()), 0);
  EXPECT_EQ(data, (Bytes{7, 7, 8, 0, 9, 9, 9, 9}));
  EXPECT_GT(s.Reads, int(file.size() / 3));
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

#include "platform/ByteReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

enum class Op { U8, I8, Le16, LeI16, Le32, LeI32, Be16, BeI16, Be32, BeI32, Skip, Seek, Bytes };

// One call on the reader and what it must answer. For Bytes the answer is the
// first byte handed out, or -1 for none.
struct Step {
  Op Call;
  size_t Arg = 0;
  int64_t Want = 0;
};

struct Case {
  const char* Name;
  std::vector<uint8_t> Data;
  std::vector<Step> Steps;
  bool Failed;
  size_t Position;
};

int64_t Apply(TByteReader& R, const Step& S) {
  switch (S.Call) {
  case Op::U8:
    return R.U8();
  case Op::I8:
    return R.I8();
  case Op::Le16:
    return R.Le16();
  case Op::LeI16:
    return R.LeI16();
  case Op::Le32:
    return R.Le32();
  case Op::LeI32:
    return R.LeI32();
  case Op::Be16:
    return R.Be16();
  case Op::BeI16:
    return R.BeI16();
  case Op::Be32:
    return R.Be32();
  case Op::BeI32:
    return R.BeI32();
  case Op::Skip:
    R.Skip(S.Arg);
    return 0;
  case Op::Seek:
    R.Seek(S.Arg);
    return 0;
  case Op::Bytes: {
    const uint8_t* p = R.Bytes(S.Arg);
    return p ? *p : -1;
  }
  }
  return 0;
}

TEST(ByteReader, ReadsAndFailures) {
  const std::vector<Case> cases = {
      {"fields up to the last byte",
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
       {{Op::U8, 0, 1},
        {Op::Le16, 0, 0x0302},
        {Op::Le32, 0, 0x07060504},
        {Op::Le32, 0, 0x0B0A0908}},
       false,
       11},
      {"a field past the end answers 0 and keeps the position",
       {1, 2, 3},
       {{Op::Le16, 0, 0x0201}, {Op::Le16, 0, 0}},
       true,
       2},
      {"after a failure every read answers 0, even where bytes remain",
       {1, 2, 3, 4, 5},
       {{Op::Skip, 4}, {Op::Le16, 0, 0}, {Op::U8, 0, 0}, {Op::Seek, 0}, {Op::U8, 0, 0}},
       true,
       4},
      {"signed and big-endian fields",
       {0xFE, 0xFF, 0xFB, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 1},
       {{Op::LeI16, 0, -2}, {Op::LeI32, 0, -5}, {Op::Be32, 0, 0x80000001}},
       false,
       10},
      {"big-endian 16-bit and signed big-endian fields",
       {0x12, 0x34, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFB, 0x80},
       {{Op::Be16, 0, 0x1234}, {Op::BeI16, 0, -2}, {Op::BeI32, 0, -5}, {Op::I8, 0, -128}},
       false,
       9},
      {"a big-endian field past the end fails like a little-endian one",
       {1, 2, 3},
       {{Op::Be16, 0, 0x0102}, {Op::Be16, 0, 0}, {Op::U8, 0, 0}},
       true,
       2},
      {"seek to the end is allowed, a read there fails",
       {1, 2, 3},
       {{Op::Seek, 3}, {Op::U8, 0, 0}},
       true,
       3},
      {"seek past the end fails",
       {1, 2, 3},
       {{Op::Seek, 1}, {Op::Seek, 4}, {Op::U8, 0, 0}},
       true,
       1},
      {"skip past the end fails", {1, 2, 3}, {{Op::Skip, 4}, {Op::U8, 0, 0}}, true, 0},
      {"byte runs",
       {'a', 'b', 'c', 'd'},
       {{Op::Bytes, 2, 'a'}, {Op::Bytes, 2, 'c'}, {Op::Bytes, 1, -1}},
       true,
       4},
      {"a byte run longer than what remains", {'a', 'b', 'c'}, {{Op::Bytes, 4, -1}}, true, 0},
      {"an empty span", {}, {{Op::Seek, 0}, {Op::U8, 0, 0}}, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TByteReader r(c.Data.data(), c.Data.size());
    for (size_t i = 0; i < c.Steps.size(); ++i)
      EXPECT_EQ(Apply(r, c.Steps[i]), c.Steps[i].Want) << "step " << i;
    EXPECT_EQ(r.Failed(), c.Failed);
    EXPECT_EQ(r.Position(), c.Position);
    EXPECT_EQ(r.Remaining(), c.Data.size() - c.Position);
    EXPECT_EQ(r.Has(0), !c.Failed);
  }
}

TEST(ByteReader, FieldsInTheOrderTheFileStates) {
  const std::vector<uint8_t> bytes = {0x01, 0x02, 0x03, 0x04};
  for (const TByteOrder order : {TByteOrder::LittleEndian, TByteOrder::BigEndian}) {
    const bool big = order == TByteOrder::BigEndian;
    TByteReader r(bytes.data(), bytes.size());
    EXPECT_EQ(r.U16(order), big ? 0x0102 : 0x0201);
    r.Seek(0);
    EXPECT_EQ(r.U32(order), big ? 0x01020304u : 0x04030201u);
    EXPECT_EQ(r.U32(order), 0u); // nothing left
    EXPECT_TRUE(r.Failed());
  }
}

// Sub and Slice hand out readers that can't read outside their part of the
// span, however far the outer span goes.
TEST(ByteReader, SubRangesStayInsideTheirPart) {
  const std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8};
  TByteReader r(bytes.data(), bytes.size());
  r.Skip(1);
  TByteReader part = r.Sub(3); // bytes 2, 3, 4
  EXPECT_EQ(r.Position(), 4u);
  EXPECT_EQ(part.Size(), 3u);
  EXPECT_EQ(part.Le16(), 0x0302);
  EXPECT_EQ(part.Le16(), 0); // the 5 after it belongs to the outer reader
  EXPECT_TRUE(part.Failed());
  EXPECT_FALSE(r.Failed()); // a failing part leaves its parent as it was
  EXPECT_EQ(r.U8(), 5);

  // A part longer than what remains fails the reader asking and is empty.
  TByteReader tooLong = r.Sub(4);
  EXPECT_TRUE(tooLong.Failed());
  EXPECT_EQ(tooLong.Size(), 0u);
  EXPECT_EQ(tooLong.U8(), 0);
  EXPECT_TRUE(r.Failed());
  EXPECT_EQ(r.Position(), 5u);

  // Slices count from the span's start and leave the reader where it is.
  struct Row {
    size_t Offset, Count;
    bool Fails;
    int First; // the slice's first byte, or -1
  } rows[] = {
      {0, 8, false, 1}, {6, 2, false, 7}, {8, 0, false, -1},
      {7, 2, true, -1}, {9, 0, true, -1}, {SIZE_MAX, 2, true, -1},
  };
  const TByteReader whole(bytes.data(), bytes.size());
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.Offset) + " + " + std::to_string(row.Count));
    TByteReader slice = whole.Slice(row.Offset, row.Count);
    EXPECT_EQ(slice.Failed(), row.Fails);
    EXPECT_EQ(slice.Size(), row.Fails ? 0u : row.Count);
    const uint8_t first = slice.U8();
    EXPECT_EQ(slice.Failed() ? -1 : int(first), row.First);
  }
  EXPECT_EQ(whole.Position(), 0u);
  EXPECT_FALSE(whole.Failed());
}

TEST(ByteReader, FailIsStickyLikeAShortRead) {
  const std::vector<uint8_t> bytes = {1, 2, 3};
  TByteReader r(bytes.data(), bytes.size());
  EXPECT_EQ(r.U8(), 1);
  r.Fail();
  EXPECT_EQ(r.U8(), 0);
  EXPECT_EQ(r.Position(), 1u);
  EXPECT_FALSE(r.Has(0));
  EXPECT_TRUE(r.Sub(1).Failed());
}

TEST(ByteReader, WriterOutputReadsBack) {
  std::vector<uint8_t> bytes = {0xAA}; // the writer appends to what is there
  TByteWriter w(bytes);
  w.U8(0x1FF); // only the low byte
  w.Le16(0xBEEF);
  w.Le32(0x12345678);
  w.LeI32(-2);
  w.Be32(0x01020304);
  const uint8_t tail[] = {'x', 'y'};
  w.Bytes(tail, 2);
  w.Zeros(3);
  w.Be16(0xCAFE);
  w.LeI16(-3);
  w.PadTo(28); // the next field at offset 28
  w.PadTo(28); // already there: nothing added
  EXPECT_EQ(w.Size(), bytes.size());
  const std::vector<uint8_t> want = {0xAA, 0xFF, 0xEF, 0xBE, 0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF,
                                     0xFF, 0xFF, 1,    2,    3,    4,    'x',  'y',  0,    0,
                                     0,    0xCA, 0xFE, 0xFD, 0xFF, 0,    0,    0};
  EXPECT_EQ(bytes, want);

  TByteReader r(bytes.data(), bytes.size());
  r.Skip(1);
  EXPECT_EQ(r.U8(), 0xFF);
  EXPECT_EQ(r.Le16(), 0xBEEF);
  EXPECT_EQ(r.Le32(), 0x12345678u);
  EXPECT_EQ(r.LeI32(), -2);
  EXPECT_EQ(r.Be32(), 0x01020304u);
  const uint8_t* p = r.Bytes(2);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], 'x');
  EXPECT_EQ(p[1], 'y');
  r.Skip(3);
  EXPECT_EQ(r.Be16(), 0xCAFE);
  EXPECT_EQ(r.LeI16(), -3);
  r.Skip(3);
  EXPECT_FALSE(r.Failed());
  EXPECT_EQ(r.Remaining(), 0u);
}

} // namespace

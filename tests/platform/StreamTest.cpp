#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <vector>

TEST(MemoryStream, WriteSeekReadAndShortReadRaises) {
  TMemoryStream s;
  const char text[] = "abcdef";
  s.WriteBuffer(text, 6);
  EXPECT_EQ(s.Size(), 6);
  EXPECT_EQ(s.Position(), 6);
  s.SetPosition(2);
  char buf[4] = {};
  s.ReadBuffer(buf, 3);
  EXPECT_EQ(std::string(buf, 3), "cde");
  EXPECT_EQ(s.Read(buf, 4), 1);
  s.SetPosition(4);
  try {
    s.ReadBuffer(buf, 3);
    FAIL() << "expected a read error";
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(), "Stream read error");
  }
  EXPECT_THROW(s.Seek(-1, TSeekOrigin::soBeginning), EStreamError);
}

TEST(MemoryStream, WritingPastTheEndZeroFillsTheGap) {
  TMemoryStream s;
  s.SetPosition(3);
  const uint8_t b = 7;
  s.WriteBuffer(&b, 1);
  ASSERT_EQ(s.Size(), 4);
  EXPECT_EQ(s.Memory()[0], 0);
  EXPECT_EQ(s.Memory()[2], 0);
  EXPECT_EQ(s.Memory()[3], 7);
}

TEST(FileStream, RoundTripThroughFileIsReadNotMapped) {
  const auto path = std::filesystem::temp_directory_path() / "imbrel_stream_test.bin";
  std::vector<uint8_t> data(100000);
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<uint8_t>(i * 7);
  {
    TFileStream out(path.string(), TFileMode::fmCreate);
    out.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  }
  TFileStream in(path.string(), TFileMode::fmOpenRead);
  EXPECT_EQ(in.Size(), 100000);
  EXPECT_EQ(in.Memory(), nullptr) << "files are read, never mapped";
  TMemoryStream copy;
  in.SetPosition(10);
  copy.CopyFrom(in, 50);
  EXPECT_EQ(copy.Size(), 50);
  EXPECT_EQ(copy.Memory()[0], data[10]);
  EXPECT_EQ(in.Position(), 60);
  std::filesystem::remove(path);
}

TEST(FileStream, MissingFileRaisesWithName) {
  try {
    TFileStream f("/nonexistent-dir/x.jpg", TFileMode::fmOpenRead);
    FAIL();
  } catch (const EStreamError& e) {
    EXPECT_NE(e.Message().find("Cannot open file \"/nonexistent-dir/x.jpg\""), std::string::npos);
  }
}

TEST(StreamBytes, RestOfTheStreamWithOrWithoutACopy) {
  TMemoryStream mem;
  mem.WriteBuffer("0123456789", 10);
  mem.SetPosition(4);
  const TStreamBytes inMemory(mem);
  ASSERT_EQ(inMemory.Size(), 6u);
  EXPECT_EQ(inMemory.Data(), mem.Memory() + 4) << "no copy for a stream in memory";
  EXPECT_EQ(mem.Position(), 10);

  // A stream without Memory(): a file opened for writing is not mapped.
  const auto path = std::filesystem::temp_directory_path() / "imbrel_stream_bytes.bin";
  TFileStream file(path.string(), TFileMode::fmCreate);
  file.WriteBuffer("abcdef", 6);
  file.SetPosition(2);
  ASSERT_EQ(file.Memory(), nullptr);
  const TStreamBytes copied(file);
  ASSERT_EQ(copied.Size(), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(copied.Data()), 4), "cdef");
  EXPECT_EQ(file.Position(), 6);
  std::filesystem::remove(path);

  const TStreamBytes empty(mem); // at the end already
  EXPECT_EQ(empty.Size(), 0u);
}

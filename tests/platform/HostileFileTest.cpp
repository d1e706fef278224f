// Files that change or are not files: a file cut short while it is read, and
// FIFOs, sockets, devices and folders opened as pictures. None may fault or
// block; each fails with a clear EStreamError.

#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class HostileFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string Pattern = (fs::temp_directory_path() / "imbrel-hostile-XXXXXX").string();
    ASSERT_NE(::mkdtemp(Pattern.data()), nullptr);
    Dir = Pattern;
    // A blocked open or read would hang the test run: end it instead.
    ::alarm(20);
  }
  void TearDown() override {
    ::alarm(0);
    std::error_code Ignored;
    fs::remove_all(Dir, Ignored);
  }
  std::string Write(const std::string& Name, size_t Size) {
    const fs::path P = fs::path(Dir) / Name;
    std::ofstream Out(P, std::ios::binary);
    for (size_t I = 0; I < Size; ++I)
      Out.put(char(I * 13));
    return P.string();
  }
  std::string Dir;
};

struct TCutCase {
  const char* Name;
  int64_t FileSize, FirstRead, CutTo, SecondRead;
};

} // namespace

TEST_F(HostileFileTest, FileCutShortBetweenTwoReadsFailsCleanly) {
  const TCutCase Cases[] = {
      {"cut below the position", 1 << 20, 4096, 1000, 4096},
      {"cut inside the next read", 1 << 20, 4096, 6000, 4096},
      {"cut to nothing", 300000, 10, 0, 10},
  };
  for (const TCutCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Path = Write("cut.bin", size_t(C.FileSize));
    TFileStream In(Path, TFileMode::fmOpenRead);
    std::vector<uint8_t> Buffer(size_t(C.FirstRead + C.SecondRead));
    In.ReadBuffer(Buffer.data(), C.FirstRead);
    EXPECT_EQ(Buffer[1], uint8_t(13));
    fs::resize_file(Path, uintmax_t(C.CutTo));
    // The size stays what it was at opening; the missing bytes are an error.
    EXPECT_EQ(In.Size(), C.FileSize);
    try {
      In.ReadBuffer(Buffer.data(), C.SecondRead);
      ADD_FAILURE() << "read past the new end succeeded";
    } catch (const EStreamError& E) {
      EXPECT_EQ(E.Message(), "File \"" + Path + "\" changed while it was read");
    }
  }
}

TEST_F(HostileFileTest, FileCutShortWhileCopiedWholeFailsCleanly) {
  // The readers that take all bytes at once go through TStreamBytes.
  const std::string Path = Write("whole.bin", 200000);
  TFileStream In(Path, TFileMode::fmOpenRead);
  fs::resize_file(Path, 100);
  EXPECT_THROW(TStreamBytes Bytes(In), EStreamError);
}

TEST_F(HostileFileTest, OnlyRegularFilesOpenForReading) {
  const std::string Fifo = Dir + "/pipe.jpg";
  ASSERT_EQ(::mkfifo(Fifo.c_str(), 0600), 0);

  const std::string Socket = Dir + "/socket.png";
  const int Sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(Sock, 0);
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  ASSERT_LT(Socket.size(), sizeof Address.sun_path);
  std::strcpy(Address.sun_path, Socket.c_str());
  ASSERT_EQ(::bind(Sock, reinterpret_cast<sockaddr*>(&Address), sizeof Address), 0);

  const std::string Device = Dir + "/zero.bmp";
  ASSERT_EQ(::symlink("/dev/zero", Device.c_str()), 0);
  const std::string Folder = Dir + "/folder.tif";
  fs::create_directory(Folder);

  const struct {
    std::string Path;
    const char* Reason;
  } Cases[] = {
      {Fifo, "Not a regular file"},
      {Socket, "No such device or address"}, // a socket cannot be opened at all
      {Device, "Not a regular file"},
      {Folder, "Is a directory"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Path);
    try {
      TFileStream In(C.Path, TFileMode::fmOpenRead);
      ADD_FAILURE() << "opened";
    } catch (const EStreamError& E) {
      EXPECT_EQ(E.Message(), "Cannot open file \"" + C.Path + "\". " + C.Reason);
    }
  }
  ::close(Sock);
}

#include "platform/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

int64_t TStream::Size() {
  const int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  const int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count) throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  if (const uint8_t* mem = Source.Memory()) {
    const int64_t pos = Source.Position();
    if (Count > Source.Size() - pos) throw EStreamError("Stream read error");
    WriteBuffer(mem + pos, Count);
    Source.Seek(Count, TSeekOrigin::soCurrent);
    return Count;
  }
  constexpr int64_t kBlock = 1 << 16;
  auto buf = std::make_unique<uint8_t[]>(kBlock);
  int64_t left = Count;
  while (left > 0) {
    const int64_t n = std::min(left, kBlock);
    Source.ReadBuffer(buf.get(), n);
    WriteBuffer(buf.get(), n);
    left -= n;
  }
  return Count;
}

TStreamBytes::TStreamBytes(TStream& Stream) {
  const int64_t pos = Stream.Position();
  const int64_t size = Stream.Size() - pos;
  if (size <= 0) return;
  FSize = static_cast<size_t>(size);
  if (const uint8_t* mem = Stream.Memory()) {
    FData = mem + pos;
    Stream.Seek(size, TSeekOrigin::soCurrent);
    return;
  }
  FCopy.reset(new uint8_t[FSize]);
  Stream.ReadBuffer(FCopy.get(), size);
  FData = FCopy.get();
}

// ---- TMemoryStream

static int64_t NewPosition(int64_t Current, int64_t Size, int64_t Offset, TSeekOrigin Origin) {
  int64_t base = 0;
  switch (Origin) {
  case TSeekOrigin::soBeginning:
    base = 0;
    break;
  case TSeekOrigin::soCurrent:
    base = Current;
    break;
  case TSeekOrigin::soEnd:
    base = Size;
    break;
  }
  if ((Offset > 0 && base > std::numeric_limits<int64_t>::max() - Offset) ||
      (Offset < 0 && base + Offset < 0))
    throw EStreamError("Stream seek error");
  return base + Offset;
}

void TMemoryStream::Reserve(int64_t Capacity) {
  if (Capacity <= FCapacity) return;
  int64_t cap = std::max<int64_t>(Capacity, FCapacity + FCapacity / 2);
  cap = (cap + 4095) & ~int64_t(4095);
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[static_cast<size_t>(cap)]);
  if (!data) throw EStreamError("Out of memory while expanding memory stream");
  if (FSize > 0) std::memcpy(data.get(), FData.get(), static_cast<size_t>(FSize));
  FData = std::move(data);
  FCapacity = cap;
}

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || FPosition >= FSize) return 0;
  const int64_t n = std::min(Count, FSize - FPosition);
  std::memcpy(Buffer, FData.get() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  const int64_t end = FPosition + Count;
  if (end > FCapacity) Reserve(end);
  if (FPosition > FSize)
    std::memset(FData.get() + FSize, 0, static_cast<size_t>(FPosition - FSize));
  std::memcpy(FData.get() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = end;
  FSize = std::max(FSize, end);
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  FPosition = NewPosition(FPosition, FSize, Offset, Origin);
  return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) throw EStreamError("Stream size error");
  Reserve(NewSize);
  FSize = NewSize;
  if (FPosition > FSize) FPosition = FSize;
}

void TMemoryStream::Clear() {
  FData.reset();
  FSize = FCapacity = FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& Source) {
  Source.SetPosition(0);
  const int64_t n = Source.Size();
  SetSize(n);
  FPosition = 0;
  if (n > 0) Source.ReadBuffer(FData.get(), n);
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream f(FileName, TFileMode::fmOpenRead);
  LoadFromStream(f);
}

void TMemoryStream::SaveToStream(TStream& Dest) {
  if (FSize > 0) Dest.WriteBuffer(FData.get(), FSize);
}

void TMemoryStream::SaveToFile(const std::string& FileName) {
  TFileStream f(FileName, TFileMode::fmCreate);
  SaveToStream(f);
}

// ---- TBytesStream

int64_t TBytesStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || FPosition >= FSize) return 0;
  const int64_t n = std::min(Count, FSize - FPosition);
  std::memcpy(Buffer, FData + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TBytesStream::Write(const void*, int64_t) {
  return 0;
}

int64_t TBytesStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  FPosition = NewPosition(FPosition, FSize, Offset, Origin);
  return FPosition;
}

void TBytesStream::SetSize(int64_t) {
  throw EStreamError("Stream write error");
}

// ---- TFileStream

TFileStream::TFileStream(const std::string& FileName, TFileMode Mode) : FFileName(FileName) {
  int flags = O_CLOEXEC;
  switch (Mode) {
  case TFileMode::fmOpenRead:
    // Not blocking: opening a FIFO without a writer would wait forever.
    flags |= O_RDONLY | O_NONBLOCK | O_NOCTTY;
    break;
  case TFileMode::fmCreate:
    flags |= O_RDWR | O_CREAT | O_TRUNC;
    break;
  case TFileMode::fmOpenReadWrite:
    flags |= O_RDWR;
    break;
  }
  FHandle = ::open(FileName.c_str(), flags, 0666);
  if (FHandle < 0)
    throw EStreamError("Cannot open file \"" + FileName + "\". " + std::strerror(errno));
  if (Mode == TFileMode::fmOpenRead) {
    // Only regular files are read: FIFOs, sockets and devices could block a
    // reader or never end.
    struct stat st {};
    const char* refusal = nullptr;
    if (::fstat(FHandle, &st) != 0)
      refusal = std::strerror(errno);
    else if (S_ISDIR(st.st_mode))
      refusal = "Is a directory";
    else if (!S_ISREG(st.st_mode))
      refusal = "Not a regular file";
    if (refusal) {
      const std::string reason = refusal;
      ::close(FHandle);
      FHandle = -1;
      throw EStreamError("Cannot open file \"" + FileName + "\". " + reason);
    }
    FReadOnly = true;
    FReadSize = st.st_size;
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  if (FReadOnly) {
    // Files opened for reading are read as the size they had when opened; a
    // file that ends sooner changed while it was read.
    if (FPosition >= FReadSize) return 0;
    Count = std::min(Count, FReadSize - FPosition);
  }
  int64_t done = 0;
  auto* out = static_cast<uint8_t*>(Buffer);
  while (done < Count) {
    const ssize_t r = ::pread(FHandle, out + done, static_cast<size_t>(Count - done), FPosition);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && FReadOnly)
      throw EStreamError("Cannot read file \"" + FFileName + "\". " + std::strerror(errno));
    if (r == 0 && FReadOnly)
      throw EStreamError("File \"" + FFileName + "\" changed while it was read");
    if (r <= 0) break;
    done += r;
    FPosition += r;
  }
  return done;
}

int64_t TFileStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0 || FReadOnly) return 0;
  int64_t done = 0;
  const auto* in = static_cast<const uint8_t*>(Buffer);
  while (done < Count) {
    const ssize_t r = ::pwrite(FHandle, in + done, static_cast<size_t>(Count - done), FPosition);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += r;
    FPosition += r;
  }
  return done;
}

int64_t TFileStream::Size() {
  if (FReadOnly) return FReadSize;
  struct stat st {};
  if (::fstat(FHandle, &st) != 0) return 0;
  return st.st_size;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  FPosition = NewPosition(FPosition, Size(), Offset, Origin);
  return FPosition;
}

void TFileStream::SetSize(int64_t NewSize) {
  if (FReadOnly || NewSize < 0 || ::ftruncate(FHandle, NewSize) != 0)
    throw EStreamError("Stream size error");
  if (FPosition > NewSize) FPosition = NewSize;
}

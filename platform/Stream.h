#pragma once
// A small stream abstraction used by every reader and writer: a memory stream
// and a file stream with read, write, seek, position and size. Positions and
// sizes are in bytes.

#include "platform/Exception.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
  virtual ~TStream() = default;

  // Reads up to Count bytes; answers the number read (0 at the end).
  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  // Writes Count bytes; answers the number written.
  virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
  // Moves the position; answers the new position.
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  virtual int64_t Size();
  virtual void SetSize(int64_t NewSize) = 0;

  // The bytes of the whole stream when they are in memory (memory and byte
  // streams), else nullptr. Lets readers decode without a copy.
  virtual const uint8_t* Memory() const { return nullptr; }

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, TSeekOrigin::soBeginning); }

  // Read or write exactly Count bytes, or raise EStreamError
  // ("Stream read error" / "Stream write error").
  void ReadBuffer(void* Buffer, int64_t Count);
  void WriteBuffer(const void* Buffer, int64_t Count);

  // Copies Count bytes from Source's current position (Count 0: from its
  // start, the whole stream). Answers the number of bytes copied.
  int64_t CopyFrom(TStream& Source, int64_t Count);
};

// The bytes of a stream from its position to its end, for parsers that need
// them all at once: no copy when the stream is in memory (Memory()), else
// read into a buffer of its own. The stream's position moves to its end.
class TStreamBytes {
public:
  explicit TStreamBytes(TStream& Stream);
  const uint8_t* Data() const { return FData; }
  size_t Size() const { return FSize; }

private:
  std::unique_ptr<uint8_t[]> FCopy;
  const uint8_t* FData = nullptr;
  size_t FSize = 0;
};

// A growable stream in memory. Growth does not zero-fill the new bytes.
class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  ~TMemoryStream() override = default;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return FSize; }
  void SetSize(int64_t NewSize) override;
  const uint8_t* Memory() const override { return FData.get(); }
  uint8_t* MutableMemory() { return FData.get(); }

  void Clear();
  // Replaces the contents with the whole of a file (read straight into the
  // buffer) or of another stream; the position goes to 0.
  void LoadFromFile(const std::string& FileName);
  void LoadFromStream(TStream& Source);
  void SaveToFile(const std::string& FileName);
  void SaveToStream(TStream& Dest);

private:
  void Reserve(int64_t Capacity);

  std::unique_ptr<uint8_t[]> FData;
  int64_t FSize = 0;
  int64_t FCapacity = 0;
  int64_t FPosition = 0;
};

// A read-only stream over bytes owned by someone else.
class TBytesStream : public TStream {
public:
  TBytesStream(const void* Data, int64_t Size)
      : FData(static_cast<const uint8_t*>(Data)), FSize(Size) {}
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return FSize; }
  void SetSize(int64_t NewSize) override;
  const uint8_t* Memory() const override { return FData; }

private:
  const uint8_t* FData;
  int64_t FSize;
  int64_t FPosition = 0;
};

enum class TFileMode {
  fmOpenRead, // existing file, read only, shared with other readers and writers
  fmCreate,   // create or truncate, read and write
  fmOpenReadWrite
};

// A stream over a file. Files opened for reading must be regular files (not
// FIFOs, sockets or devices) and are read, never mapped: their size is taken
// when opened, and a file found shorter while read raises EStreamError
// ("File \"<name>\" changed while it was read") instead of faulting.
class TFileStream : public TStream {
public:
  // Raises EStreamError "Cannot open file \"<name>\". <reason>" on failure
  // ("Not a regular file" for FIFOs, sockets and devices).
  TFileStream(const std::string& FileName, TFileMode Mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override;
  void SetSize(int64_t NewSize) override;
  const std::string& FileName() const { return FFileName; }

private:
  std::string FFileName;
  int FHandle = -1;
  int64_t FPosition = 0;
  bool FReadOnly = false;
  int64_t FReadSize = 0; // read-only files: the size when opened
};

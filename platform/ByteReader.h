#pragma once
// Checked reads from a span of bytes and appends to a byte buffer: what the
// file readers and writers use for headers and records.
//
// TByteReader moves a position through (Data, Size). A read that needs more
// bytes than remain fails: it answers 0, leaves the position where it was and
// sets a failure flag that stays set; every later read answers 0 too. A reader
// reads a whole header and checks Failed() once.

#include "platform/ByteOrder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class TByteReader {
public:
  TByteReader() = default;
  TByteReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}

  const uint8_t* Data() const { return FData; }
  size_t Size() const { return FSize; }
  size_t Position() const { return FPos; }
  size_t Remaining() const { return FSize - FPos; }
  bool Failed() const { return FFailed; }
  // True when Count more bytes can be read.
  bool Has(size_t Count) const { return !FFailed && Count <= Remaining(); }

  // Moves to Position from the start; a position past the end fails.
  void Seek(size_t Position) {
    if (FFailed || Position > FSize)
      FFailed = true;
    else
      FPos = Position;
  }
  void Skip(size_t Count) { Take(Count); }

  uint8_t U8() {
    const uint8_t* p = Take(1);
    return p ? p[0] : 0;
  }
  uint16_t Le16() {
    const uint8_t* p = Take(2);
    return p ? LoadLe16(p) : 0;
  }
  int16_t LeI16() { return int16_t(Le16()); }
  uint32_t Le32() {
    const uint8_t* p = Take(4);
    return p ? LoadLe32(p) : 0;
  }
  int32_t LeI32() { return int32_t(Le32()); }
  uint32_t Be32() {
    const uint8_t* p = Take(4);
    return p ? LoadBe32(p) : 0;
  }
  // The next Count bytes, skipped over; nullptr when they are not all there.
  const uint8_t* Bytes(size_t Count) { return Take(Count); }

private:
  const uint8_t* Take(size_t Count) {
    if (!Has(Count)) {
      FFailed = true;
      return nullptr;
    }
    const uint8_t* p = FData + FPos;
    FPos += Count;
    return p;
  }

  const uint8_t* FData = nullptr;
  size_t FSize = 0;
  size_t FPos = 0;
  bool FFailed = false;
};

// Appends little- and big-endian fields to a byte buffer.
class TByteWriter {
public:
  explicit TByteWriter(std::vector<uint8_t>& Out) : FOut(Out) {}

  size_t Size() const { return FOut.size(); }
  void U8(uint32_t v) { FOut.push_back(static_cast<uint8_t>(v)); }
  void Le16(uint32_t v) { AppendLe16(FOut, v); }
  void Le32(uint32_t v) { AppendLe32(FOut, v); }
  void LeI32(int32_t v) { AppendLe32(FOut, uint32_t(v)); }
  void Be32(uint32_t v) {
    U8(v >> 24);
    U8(v >> 16);
    U8(v >> 8);
    U8(v);
  }
  void Bytes(const uint8_t* p, size_t Count) { FOut.insert(FOut.end(), p, p + Count); }
  void Zeros(size_t Count) { FOut.insert(FOut.end(), Count, 0); }

private:
  std::vector<uint8_t>& FOut;
};

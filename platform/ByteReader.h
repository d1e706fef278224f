#pragma once
// Checked reads from a span of bytes and appends to a byte buffer: the one
// place where the file readers and writers take fields apart and put them
// together, in either byte order.
//
// TByteReader moves a position through (Data, Size). A read that needs more
// bytes than remain fails: it answers 0, leaves the position where it was and
// sets a failure flag that stays set; every later read answers 0 too. A reader
// reads a whole header and checks Failed() once. Sub and Slice give readers
// over a part of the span (a record, a directory entry, an embedded file) that
// can never read outside that part.

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

// The byte order of a multi-byte field.
enum class TByteOrder { LittleEndian, BigEndian };

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
  // Marks the reader failed, for a field whose value the caller refuses.
  void Fail() { FFailed = true; }

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
  int8_t I8() { return int8_t(U8()); }

  uint16_t Le16() { return U16(TByteOrder::LittleEndian); }
  int16_t LeI16() { return int16_t(Le16()); }
  uint32_t Le32() { return U32(TByteOrder::LittleEndian); }
  int32_t LeI32() { return int32_t(Le32()); }
  uint16_t Be16() { return U16(TByteOrder::BigEndian); }
  int16_t BeI16() { return int16_t(Be16()); }
  uint32_t Be32() { return U32(TByteOrder::BigEndian); }
  int32_t BeI32() { return int32_t(Be32()); }

  // A 16- or 32-bit field in the given byte order (for formats that state
  // their order in the file, such as TIFF-structured data).
  uint16_t U16(TByteOrder Order) {
    const uint8_t* p = Take(2);
    if (!p) return 0;
    const bool big = Order == TByteOrder::BigEndian;
    const uint16_t high = big ? p[0] : p[1];
    const uint16_t low = big ? p[1] : p[0];
    return static_cast<uint16_t>(high << 8 | low);
  }
  uint32_t U32(TByteOrder Order) {
    if (!Has(4)) {
      FFailed = true;
      return 0;
    }
    const uint32_t first = U16(Order);
    const uint32_t second = U16(Order);
    return Order == TByteOrder::BigEndian ? first << 16 | second : second << 16 | first;
  }

  // The next Count bytes, skipped over; nullptr when they are not all there.
  const uint8_t* Bytes(size_t Count) { return Take(Count); }

  // A reader over the next Count bytes, which this reader skips. When they
  // are not all there this reader fails and so does the one answered (it
  // holds no bytes).
  TByteReader Sub(size_t Count) {
    const uint8_t* p = Take(Count);
    return p ? TByteReader(p, Count) : Failure();
  }
  // A reader over Count bytes from Offset of this reader's span, leaving this
  // reader as it is; a failed reader when that range is not inside the span.
  TByteReader Slice(size_t Offset, size_t Count) const {
    if (Offset > FSize || Count > FSize - Offset) return Failure();
    return TByteReader(FData + Offset, Count);
  }

private:
  static TByteReader Failure() {
    TByteReader r;
    r.FFailed = true;
    return r;
  }

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
  void Le16(uint32_t v) {
    U8(v);
    U8(v >> 8);
  }
  void Le32(uint32_t v) {
    Le16(v & 0xFFFF);
    Le16(v >> 16);
  }
  void LeI16(int32_t v) { Le16(uint32_t(v)); }
  void LeI32(int32_t v) { Le32(uint32_t(v)); }
  void Be16(uint32_t v) {
    U8(v >> 8);
    U8(v);
  }
  void Be32(uint32_t v) {
    Be16(v >> 16);
    Be16(v & 0xFFFF);
  }
  void Bytes(const uint8_t* p, size_t Count) { FOut.insert(FOut.end(), p, p + Count); }
  void Zeros(size_t Count) { FOut.insert(FOut.end(), Count, 0); }
  // Zeros up to Size bytes in the buffer: the next field starts at offset
  // Size. Writing fields past their offset is a programming error.
  void PadTo(size_t Size) {
    assert(FOut.size() <= Size);
    if (FOut.size() < Size) Zeros(Size - FOut.size());
  }

private:
  std::vector<uint8_t>& FOut;
};

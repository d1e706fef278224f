#include "formats/ExifReader.h"

#include "platform/ByteReader.h"

#include <cstring>

namespace {

// The TIFF header, offsets from the byte order mark: "II" (little-endian) or
// "MM" (big-endian) (off 0), 42 (2, 16 bits), offset of the first image
// directory (4, 32 bits). A directory: a 16-bit entry count, then 12-byte
// entries: tag (0, 16 bits), type (2, 16 bits: 3 SHORT, 4 LONG), number of
// values (4, 32 bits), the value itself when it has up to 4 bytes (8).
constexpr size_t kEntrySize = 12;

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;

// "Exif" and two zero bytes before the TIFF-structured data of an APP1 segment.
constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};

} // namespace

int TiffDataOrientation(const uint8_t* Data, size_t Size) {
  if (Data == nullptr) return 0;
  const TByteReader Block(Data, Size);
  TByteReader Header = Block.Slice(0, 8);
  const uint8_t* Mark = Header.Bytes(2);
  if (Mark == nullptr) return 0;
  TByteOrder Order;
  if (Mark[0] == 'I' && Mark[1] == 'I')
    Order = TByteOrder::LittleEndian;
  else if (Mark[0] == 'M' && Mark[1] == 'M')
    Order = TByteOrder::BigEndian;
  else
    return 0;
  const uint16_t Magic = Header.U16(Order);
  const uint32_t Directory = Header.U32(Order);
  if (Header.Failed() || Magic != 42) return 0;
  TByteReader Count = Block.Slice(Directory, 2);
  const uint16_t Entries = Count.U16(Order);
  if (Count.Failed()) return 0;
  // Only entries that lie wholly inside the data are looked at; a count
  // larger than the data allows ends at the data's end.
  for (size_t I = 0; I < Entries; ++I) {
    TByteReader Entry = Block.Slice(size_t(Directory) + 2 + I * kEntrySize, kEntrySize);
    const uint16_t Tag = Entry.U16(Order);
    const uint16_t Type = Entry.U16(Order);
    const uint32_t ValueCount = Entry.U32(Order);
    if (Entry.Failed()) return 0;
    if (Tag != kOrientationTag) continue;
    if (ValueCount != 1) return 0;
    // A value of up to 4 bytes is held in the entry itself.
    uint32_t Value = 0;
    if (Type == kTypeShort)
      Value = Entry.U16(Order);
    else if (Type == kTypeLong)
      Value = Entry.U32(Order);
    else
      return 0;
    return !Entry.Failed() && Value >= 1 && Value <= 8 ? int(Value) : 0;
  }
  return 0;
}

int ExifOrientation(const uint8_t* Data, size_t Size) {
  if (Data == nullptr || Size < sizeof kExifHeader ||
      std::memcmp(Data, kExifHeader, sizeof kExifHeader) != 0)
    return 0;
  return TiffDataOrientation(Data + sizeof kExifHeader, Size - sizeof kExifHeader);
}

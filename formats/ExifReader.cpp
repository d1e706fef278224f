#include "formats/ExifReader.h"

#include <cstring>

namespace {

// TIFF header fields, offsets from the byte order mark.
constexpr size_t kByteOrder = 0;      // "II" (little-endian) or "MM" (big-endian)
constexpr size_t kMagic = 2;          // 42
constexpr size_t kFirstDirectory = 4; // offset of the first image directory

// A directory: a 16-bit entry count, then 12-byte entries.
constexpr size_t kEntrySize = 12;
constexpr size_t kEntryTag = 0;   // 16 bits
constexpr size_t kEntryType = 2;  // 16 bits: 3 SHORT, 4 LONG
constexpr size_t kEntryCount = 4; // 32 bits: number of values
constexpr size_t kEntryValue = 8; // a value of up to 4 bytes is held here

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;

// "Exif" and two zero bytes before the TIFF-structured data of an APP1 segment.
constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};

} // namespace

uint16_t TEndianReader::U16(size_t Offset) {
  if (!Has(Offset, 2)) {
    FFailed = true;
    return 0;
  }
  const uint16_t First = FData[Offset];
  const uint16_t Second = FData[Offset + 1];
  return FBigEndian ? uint16_t(First << 8 | Second) : uint16_t(Second << 8 | First);
}

uint32_t TEndianReader::U32(size_t Offset) {
  if (!Has(Offset, 4)) {
    FFailed = true;
    return 0;
  }
  const uint32_t First = U16(Offset);
  const uint32_t Second = U16(Offset + 2);
  return FBigEndian ? First << 16 | Second : Second << 16 | First;
}

int TiffDataOrientation(const uint8_t* Data, size_t Size) {
  if (Data == nullptr || Size < 8) return 0;
  bool BigEndian;
  if (Data[kByteOrder] == 'I' && Data[kByteOrder + 1] == 'I')
    BigEndian = false;
  else if (Data[kByteOrder] == 'M' && Data[kByteOrder + 1] == 'M')
    BigEndian = true;
  else
    return 0;
  TEndianReader R(Data, Size, BigEndian);
  if (R.U16(kMagic) != 42) return 0;
  const size_t Directory = R.U32(kFirstDirectory);
  const size_t Entries = R.U16(Directory);
  if (R.Failed()) return 0;
  // Only entries that lie wholly inside the data are looked at; a count
  // larger than the data allows ends at the data's end.
  for (size_t I = 0; I < Entries; ++I) {
    const size_t Entry = Directory + 2 + I * kEntrySize;
    if (!R.Has(Entry, kEntrySize)) return 0;
    if (R.U16(Entry + kEntryTag) != kOrientationTag) continue;
    const uint16_t Type = R.U16(Entry + kEntryType);
    if (R.U32(Entry + kEntryCount) != 1) return 0;
    uint32_t Value = 0;
    if (Type == kTypeShort)
      Value = R.U16(Entry + kEntryValue);
    else if (Type == kTypeLong)
      Value = R.U32(Entry + kEntryValue);
    else
      return 0;
    return !R.Failed() && Value >= 1 && Value <= 8 ? int(Value) : 0;
  }
  return 0;
}

int ExifOrientation(const uint8_t* Data, size_t Size) {
  if (Data == nullptr || Size < sizeof kExifHeader ||
      std::memcmp(Data, kExifHeader, sizeof kExifHeader) != 0)
    return 0;
  return TiffDataOrientation(Data + sizeof kExifHeader, Size - sizeof kExifHeader);
}

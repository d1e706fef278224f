#pragma once
// Parser of Windows metafiles (WMF, with or without the placeable header) and
// enhanced metafiles (EMF): the headers and the list of records, each record's
// length checked against the file. It knows nothing of drawing; the player
// (MetaFilePlayer.h) reads the records' fields through TRecordReader.

#include "platform/ByteReader.h"
#include "platform/Exception.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Raised for bytes that are not a metafile, damaged headers and records, and
// absurd picture sizes.
class EMetafileError : public Exception {
public:
  using Exception::Exception;
};

// A field read past the end of one record. The player catches it and skips
// that record; it never leaves the player.
class ERecordTruncated : public Exception {
public:
  using Exception::Exception;
};

// Bounds-checked little-endian reads from one record. Offsets count from the
// record's first byte (the size field). Each read is a TByteReader placed at
// its offset; one that fails raises ERecordTruncated.
class TRecordReader {
public:
  TRecordReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
  size_t Size() const { return FSize; }
  const uint8_t* Data() const { return FData; }
  bool Has(size_t Offset, size_t Count) const { return At(Offset).Has(Count); }
  void Need(size_t Offset, size_t Count) const {
    TByteReader r = At(Offset);
    Checked(r, r.Bytes(Count));
  }
  uint8_t U8(size_t Off) const {
    TByteReader r = At(Off);
    return Checked(r, r.U8());
  }
  uint16_t U16(size_t Off) const {
    TByteReader r = At(Off);
    return Checked(r, r.Le16());
  }
  int16_t I16(size_t Off) const { return int16_t(U16(Off)); }
  uint32_t U32(size_t Off) const {
    TByteReader r = At(Off);
    return Checked(r, r.Le32());
  }
  int32_t I32(size_t Off) const { return int32_t(U32(Off)); }
  float F32(size_t Off) const {
    const uint32_t v = U32(Off);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
  }
  // Pointer to Count bytes at Off, checked.
  const uint8_t* Bytes(size_t Off, size_t Count) const {
    TByteReader r = At(Off);
    return Checked(r, r.Bytes(Count));
  }

private:
  TByteReader At(size_t Off) const {
    TByteReader r(FData, FSize);
    r.Seek(Off);
    return r;
  }
  template <class T> static T Checked(const TByteReader& R, T Value) {
    if (R.Failed()) throw ERecordTruncated("record field beyond the record");
    return Value;
  }

  const uint8_t* FData;
  size_t FSize;
};

enum class TMetafileKind { Wmf, Emf };

struct TMetaRecord {
  uint32_t Type = 0; // WMF function number or EMF record type
  size_t Offset = 0; // of the record's first byte in the file
  size_t Size = 0;   // whole record in bytes
};

struct TRectL {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

struct TMetafileData {
  TMetafileKind Kind = TMetafileKind::Wmf;
  std::vector<uint8_t> Bytes;
  std::vector<TMetaRecord> Records; // in file order, the end record excluded

  // WMF
  bool Placeable = false;
  TRectL BoundingBox; // placeable header, logical units
  unsigned UnitsPerInch = 0;
  unsigned ObjectCount = 0; // size of the object table the header asks for

  // EMF
  TRectL Bounds;                                 // reference device pixels, inclusive
  TRectL Frame;                                  // 0.01 mm, inclusive
  int32_t DeviceWidth = 0, DeviceHeight = 0;     // reference device, pixels
  int32_t DeviceWidthMM = 0, DeviceHeightMM = 0; // reference device, millimetres
  unsigned HandleCount = 0;

  TRecordReader Record(const TMetaRecord& R) const {
    return TRecordReader(Bytes.data() + R.Offset, R.Size);
  }
};

// Largest picture a metafile may ask for, in screen pixels: each side and the
// pixel count.
constexpr int kMaxMetafileSide = 16384;
constexpr int64_t kMaxMetafilePixels = int64_t(1) << 26;

// Parses the bytes of a WMF or EMF file; raises EMetafileError for anything
// that is not one, for damaged headers and for record lengths that leave the
// file. Records after a damaged one are not reached, so nothing is guessed.
TMetafileData ParseMetafile(const uint8_t* Data, size_t Size);

// The picture's size in screen pixels at Dpi dots per inch:
// - placeable WMF: the bounding box in its units per inch;
// - plain WMF: the window extent of its first SetWindowExt record, taken as
//   screen pixels (in the metric and English mapping modes, converted from
//   their units);
// - EMF: the frame rectangle in 0.01 mm (the bounds rectangle in reference
//   device pixels, converted by the device's size in millimetres, when the
//   frame is empty).
// Raises EMetafileError "Metafile picture size ... is out of range" for an
// empty or absurd size.
void MetafilePixelSize(const TMetafileData& M, double Dpi, int& Width, int& Height);

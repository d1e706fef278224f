#include "platform/MetaFileReader.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr uint32_t kEmfSignature = 0x464D4520; // " EMF"
constexpr uint32_t kEmrHeader = 1;
constexpr uint32_t kEmrEof = 14;
constexpr size_t kPlaceableSize = 22;
constexpr size_t kWmfHeaderSize = 18;
constexpr size_t kEmfMinHeader = 88;

std::string Hex(size_t v) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  do {
    s.insert(s.begin(), digits[v & 15]);
    v >>= 4;
  } while (v);
  return "0x" + s;
}

bool IsEmf(const TRecordReader& R) {
  return R.Has(0, kEmfMinHeader) && R.U32(0) == kEmrHeader && R.U32(40) == kEmfSignature;
}

TRectL ReadRect32(const TRecordReader& R, size_t Off) {
  return {R.I32(Off), R.I32(Off + 4), R.I32(Off + 8), R.I32(Off + 12)};
}

void ParseEmf(const TRecordReader& R, TMetafileData& M) {
  M.Kind = TMetafileKind::Emf;
  const uint32_t headerSize = R.U32(4);
  if (headerSize < kEmfMinHeader || headerSize > R.Size() || headerSize % 4 != 0)
    throw EMetafileError("Damaged enhanced metafile header");
  M.Bounds = ReadRect32(R, 8);
  M.Frame = ReadRect32(R, 24);
  M.HandleCount = R.U16(56);
  M.DeviceWidth = R.I32(72);
  M.DeviceHeight = R.I32(76);
  M.DeviceWidthMM = R.I32(80);
  M.DeviceHeightMM = R.I32(84);
  // Records: type (0), size in bytes (4), parameters.
  TByteReader in(R.Data(), R.Size());
  in.Seek(headerSize);
  while (in.Remaining() >= 8) {
    const size_t pos = in.Position();
    const uint32_t type = in.Le32();
    const uint32_t size = in.Le32();
    in.Seek(pos);
    if (size < 8 || size % 4 != 0 || !in.Has(size))
      throw EMetafileError("Damaged metafile record at offset " + Hex(pos));
    if (type == kEmrEof) break;
    M.Records.push_back({type, pos, size});
    in.Skip(size);
  }
}

void ParseWmf(const TRecordReader& R, TMetafileData& M) {
  M.Kind = TMetafileKind::Wmf;
  size_t pos = 0;
  if (R.Has(0, kPlaceableSize) && R.U32(0) == kPlaceableKey) {
    M.Placeable = true;
    // Placeable header: key (0), handle (4), left (6), top (8), right (10),
    // bottom (12), units per inch (14), reserved (16), checksum (20).
    M.BoundingBox = {R.I16(6), R.I16(8), R.I16(10), R.I16(12)};
    M.UnitsPerInch = R.U16(14);
    pos = kPlaceableSize;
  }
  // Metafile header: type (0, 1 memory or 2 disk), header size in words (2,
  // always 9), version (4), file size in words (6), object count (10), largest
  // record (12), unused (16).
  if (!R.Has(pos, kWmfHeaderSize)) throw EMetafileError("Not a metafile");
  const uint16_t type = R.U16(pos);
  const uint16_t headerWords = R.U16(pos + 2);
  const uint16_t version = R.U16(pos + 4);
  if ((type != 1 && type != 2) || headerWords != 9 || (version != 0x100 && version != 0x300))
    throw EMetafileError("Not a metafile");
  M.ObjectCount = R.U16(pos + 10);
  // Records: size in 16-bit words (0, 4 bytes), function (4, 2), parameters.
  TByteReader in(R.Data(), R.Size());
  in.Seek(pos + kWmfHeaderSize);
  while (in.Remaining() >= 6) {
    const size_t start = in.Position();
    const uint32_t words = in.Le32();
    const uint16_t function = in.Le16();
    if (function == 0) break; // end of file record
    in.Seek(start);
    if (words < 3 || !in.Has(size_t(words) * 2))
      throw EMetafileError("Damaged metafile record at offset " + Hex(start));
    M.Records.push_back({function, start, size_t(words) * 2});
    in.Skip(size_t(words) * 2);
  }
}

void CheckSize(double W, double H, int& Width, int& Height) {
  if (!(W > 0) || !(H > 0) || W > kMaxMetafileSide + 0.5 || H > kMaxMetafileSide + 0.5 ||
      W * H > double(kMaxMetafilePixels) * 1.01) {
    throw EMetafileError("Metafile picture size " +
                         std::to_string(std::llround(std::min(W, 1e12))) + " x " +
                         std::to_string(std::llround(std::min(H, 1e12))) + " is out of range");
  }
  Width = std::max(1, int(std::lround(W)));
  Height = std::max(1, int(std::lround(H)));
  if (int64_t(Width) * Height > kMaxMetafilePixels)
    throw EMetafileError("Metafile picture size " + std::to_string(Width) + " x " +
                         std::to_string(Height) + " is out of range");
}

// Millimetres per logical unit of the fixed mapping modes; 0 for the modes
// whose units are pixels or free.
double MillimetresPerUnit(unsigned MapMode) {
  switch (MapMode) {
  case 2:
    return 0.1; // low metric
  case 3:
    return 0.01; // high metric
  case 4:
    return 0.254; // low English, 0.01 inch
  case 5:
    return 0.0254; // high English, 0.001 inch
  case 6:
    return 25.4 / 1440; // twips
  default:
    return 0;
  }
}

} // namespace

TMetafileData ParseMetafile(const uint8_t* Data, size_t Size) {
  TMetafileData M;
  M.Bytes.assign(Data, Data + Size);
  const TRecordReader R(M.Bytes.data(), M.Bytes.size());
  if (IsEmf(R))
    ParseEmf(R, M);
  else
    ParseWmf(R, M);
  return M;
}

void MetafilePixelSize(const TMetafileData& M, double Dpi, int& Width, int& Height) {
  double w = 0, h = 0;
  if (M.Kind == TMetafileKind::Emf) {
    const double fw = double(M.Frame.Right) - M.Frame.Left;
    const double fh = double(M.Frame.Bottom) - M.Frame.Top;
    if (fw > 0 && fh > 0) {
      w = fw * Dpi / 2540.0;
      h = fh * Dpi / 2540.0;
    } else {
      const double bw = double(M.Bounds.Right) - M.Bounds.Left + 1;
      const double bh = double(M.Bounds.Bottom) - M.Bounds.Top + 1;
      if (M.DeviceWidth > 0 && M.DeviceHeight > 0 && M.DeviceWidthMM > 0 && M.DeviceHeightMM > 0) {
        w = bw * M.DeviceWidthMM / M.DeviceWidth * Dpi / 25.4;
        h = bh * M.DeviceHeightMM / M.DeviceHeight * Dpi / 25.4;
      } else {
        w = bw;
        h = bh;
      }
    }
  } else if (M.Placeable) {
    const double inch = M.UnitsPerInch ? M.UnitsPerInch : 1440;
    w = std::abs(double(M.BoundingBox.Right) - M.BoundingBox.Left) * Dpi / inch;
    h = std::abs(double(M.BoundingBox.Bottom) - M.BoundingBox.Top) * Dpi / inch;
  } else {
    unsigned mapMode = 1;
    bool found = false;
    for (const TMetaRecord& rec : M.Records) {
      const TRecordReader r = M.Record(rec);
      if (rec.Type == 0x0103 && r.Has(6, 2)) {
        mapMode = r.U16(6);
      } else if (rec.Type == 0x020C && r.Has(6, 4)) {
        h = std::abs(double(r.I16(6)));
        w = std::abs(double(r.I16(8)));
        found = true;
        break;
      }
    }
    if (!found) throw EMetafileError("Metafile has no picture size");
    if (const double mm = MillimetresPerUnit(mapMode)) {
      w = w * mm * Dpi / 25.4;
      h = h * mm * Dpi / 25.4;
    }
  }
  CheckSize(w, h, Width, Height);
}

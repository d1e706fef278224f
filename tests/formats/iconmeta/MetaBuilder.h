#pragma once
// Builders of small icon files and metafiles for tests, benchmarks and fuzz
// seeds. Every field is written where the file formats put it; the comments
// name the fields.

#include <QBuffer>
#include <QImage>

#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace testmeta {

inline void Put16(std::vector<uint8_t>& v, unsigned x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}
inline void PutF32(std::vector<uint8_t>& v, float f) {
  uint32_t u;
  static_assert(sizeof u == sizeof f);
  std::memcpy(&u, &f, 4);
  Put32(v, u);
}
// COLORREF: red, green, blue, 0.
inline uint32_t Rgb(int r, int g, int b) {
  return uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16);
}

// An enhanced metafile: header, records, end record. The reference device is
// 96 dpi (960 pixels are 254 mm), so a frame of W x H pixels at 96 dpi plays
// 1:1 into a W x H picture at 96 dpi.
class TEmfBuilder {
public:
  // A record of 32-bit parameters.
  TEmfBuilder& Rec(uint32_t Type, std::initializer_list<int32_t> Params) {
    Put32(FBody, Type);
    Put32(FBody, uint32_t(8 + 4 * Params.size()));
    for (int32_t p : Params)
      Put32(FBody, uint32_t(p));
    ++FCount;
    return *this;
  }
  // A record with raw parameter bytes (padded to 4).
  TEmfBuilder& Raw(uint32_t Type, std::vector<uint8_t> Params) {
    while (Params.size() % 4)
      Params.push_back(0);
    Put32(FBody, Type);
    Put32(FBody, uint32_t(8 + Params.size()));
    FBody.insert(FBody.end(), Params.begin(), Params.end());
    ++FCount;
    return *this;
  }
  // Raw bytes without any framing (for damaged files).
  TEmfBuilder& Bytes(const std::vector<uint8_t>& B) {
    FBody.insert(FBody.end(), B.begin(), B.end());
    return *this;
  }
  // Header with the frame of a Width x Height pixel picture at 96 dpi.
  std::vector<uint8_t> Finish(int Width, int Height) const {
    return FinishFrame(0, 0, Width * 2540 / 96, Height * 2540 / 96, Width, Height);
  }
  std::vector<uint8_t> FinishFrame(int32_t L, int32_t T, int32_t R, int32_t B, int BoundsW,
                                   int BoundsH) const {
    std::vector<uint8_t> v;
    Put32(v, 1);  // type
    Put32(v, 88); // size
    Put32(v, 0);
    Put32(v, 0);
    Put32(v, uint32_t(BoundsW - 1));
    Put32(v, uint32_t(BoundsH - 1));
    Put32(v, uint32_t(L));
    Put32(v, uint32_t(T));
    Put32(v, uint32_t(R));
    Put32(v, uint32_t(B));
    Put32(v, 0x464D4520); // signature
    Put32(v, 0x10000);    // version
    Put32(v, uint32_t(88 + FBody.size() + 20));
    Put32(v, FCount + 2);
    Put16(v, 16); // handles
    Put16(v, 0);
    Put32(v, 0);
    Put32(v, 0);
    Put32(v, 0); // description, palette entries
    Put32(v, 960);
    Put32(v, 960); // device pixels
    Put32(v, 254);
    Put32(v, 254); // device millimetres
    v.insert(v.end(), FBody.begin(), FBody.end());
    Put32(v, 14);
    Put32(v, 20);
    Put32(v, 0);
    Put32(v, 16);
    Put32(v, 20); // EOF
    return v;
  }
  uint32_t Count() const { return FCount; }

private:
  std::vector<uint8_t> FBody;
  uint32_t FCount = 0;
};

// EMF record types used by the tests.
enum : uint32_t {
  EMR_POLYGON = 3,
  EMR_POLYLINE = 4,
  EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10,
  EMR_SETVIEWPORTEXTEX = 11,
  EMR_SETVIEWPORTORGEX = 12,
  EMR_SETMAPMODE = 17,
  EMR_SETBKMODE = 18,
  EMR_SETTEXTALIGN = 22,
  EMR_SETTEXTCOLOR = 24,
  EMR_MOVETOEX = 27,
  EMR_INTERSECTCLIPRECT = 30,
  EMR_SAVEDC = 33,
  EMR_RESTOREDC = 34,
  EMR_SETWORLDTRANSFORM = 35,
  EMR_SELECTOBJECT = 37,
  EMR_CREATEPEN = 38,
  EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40,
  EMR_ELLIPSE = 42,
  EMR_RECTANGLE = 43,
  EMR_LINETO = 54,
  EMR_BEGINPATH = 59,
  EMR_ENDPATH = 60,
  EMR_FILLPATH = 62,
  EMR_EXTCREATEFONTINDIRECTW = 82,
  EMR_EXTTEXTOUTW = 84,
  EMR_POLYGON16 = 86,
  EMR_POLYPOLYGON16 = 91,
  EMR_STRETCHDIBITS = 81
};
constexpr int32_t kStockNullPen = int32_t(0x80000008u);
constexpr int32_t kStockBlackPen = int32_t(0x80000007u);
constexpr int32_t kStockNullBrush = int32_t(0x80000005u);

// ExtCreateFontIndirectW record parameters: handle, LOGFONTW.
inline std::vector<uint8_t> EmfFont(uint32_t Handle, int32_t Height, const std::u16string& Face) {
  std::vector<uint8_t> v;
  Put32(v, Handle);
  Put32(v, uint32_t(Height));
  Put32(v, 0);
  Put32(v, 0);
  Put32(v, 0);
  Put32(v, 400);
  v.push_back(0);
  v.push_back(0);
  v.push_back(0);
  v.push_back(0); // italic .. charset
  v.push_back(0);
  v.push_back(0);
  v.push_back(0);
  v.push_back(0); // precisions, quality, pitch
  for (size_t i = 0; i < 32; ++i)
    Put16(v, i < Face.size() ? Face[i] : 0);
  return v;
}

// ExtTextOutW parameters: bounds, graphics mode, scales, EMRTEXT, string.
inline std::vector<uint8_t> EmfText(int32_t X, int32_t Y, const std::u16string& Text) {
  std::vector<uint8_t> v;
  for (int i = 0; i < 4; ++i)
    Put32(v, 0); // bounds
  Put32(v, 1);   // GM_COMPATIBLE
  PutF32(v, 1);
  PutF32(v, 1);
  Put32(v, uint32_t(X));
  Put32(v, uint32_t(Y));
  Put32(v, uint32_t(Text.size()));
  Put32(v, 76); // string offset from the record start: 8 + 68
  Put32(v, 0);  // options
  for (int i = 0; i < 4; ++i)
    Put32(v, 0); // rectangle
  Put32(v, 0);   // no advance widths
  for (char16_t c : Text)
    Put16(v, c);
  return v;
}

// A Windows metafile; Finish adds the placeable header when asked.
class TWmfBuilder {
public:
  TWmfBuilder& Rec(uint16_t Function, std::initializer_list<int> Params) {
    Put32(FBody, uint32_t(3 + Params.size()));
    Put16(FBody, Function);
    for (int p : Params)
      Put16(FBody, unsigned(p) & 0xFFFF);
    ++FCount;
    return *this;
  }
  TWmfBuilder& Raw(uint16_t Function, std::vector<uint8_t> Params) {
    if (Params.size() % 2) Params.push_back(0);
    Put32(FBody, uint32_t(3 + Params.size() / 2));
    Put16(FBody, Function);
    FBody.insert(FBody.end(), Params.begin(), Params.end());
    ++FCount;
    return *this;
  }
  TWmfBuilder& Bytes(const std::vector<uint8_t>& B) {
    FBody.insert(FBody.end(), B.begin(), B.end());
    return *this;
  }
  std::vector<uint8_t> Finish(bool Placeable, int L = 0, int T = 0, int R = 0, int B = 0,
                              int Inch = 96) const {
    std::vector<uint8_t> v;
    if (Placeable) {
      Put32(v, 0x9AC6CDD7);
      Put16(v, 0);
      Put16(v, unsigned(L));
      Put16(v, unsigned(T));
      Put16(v, unsigned(R));
      Put16(v, unsigned(B));
      Put16(v, unsigned(Inch));
      Put32(v, 0);
      Put16(v, 0); // checksum (not checked)
    }
    Put16(v, 1); // memory metafile
    Put16(v, 9); // header words
    Put16(v, 0x300);
    Put32(v, uint32_t((18 + FBody.size() + 6) / 2));
    Put16(v, 16); // objects
    Put32(v, 0);
    Put16(v, 0);
    v.insert(v.end(), FBody.begin(), FBody.end());
    Put32(v, 3);
    Put16(v, 0); // end of file
    return v;
  }

private:
  std::vector<uint8_t> FBody;
  uint32_t FCount = 0;
};

// WMF functions used by the tests.
enum : uint16_t {
  META_SETBKMODE = 0x0102,
  META_SETMAPMODE = 0x0103,
  META_SAVEDC = 0x001E,
  META_RESTOREDC = 0x0127,
  META_SETWINDOWORG = 0x020B,
  META_SETWINDOWEXT = 0x020C,
  META_LINETO = 0x0213,
  META_MOVETO = 0x0214,
  META_POLYGON = 0x0324,
  META_RECTANGLE = 0x041B,
  META_ELLIPSE = 0x0418,
  META_SELECTOBJECT = 0x012D,
  META_DELETEOBJECT = 0x01F0,
  META_CREATEPENINDIRECT = 0x02FA,
  META_CREATEBRUSHINDIRECT = 0x02FC,
  META_INTERSECTCLIPRECT = 0x0416,
  META_TEXTOUT = 0x0521
};

// One icon image stored as a bitmap: BITMAPINFOHEADER with doubled height,
// colour table, colour rows and AND-mask rows, both bottom-up.
struct TIconImage {
  int Width = 0, Height = 0, BitCount = 32;
  std::vector<uint32_t> Palette;                 // 0x00RRGGBB, for 8 bits or fewer
  std::function<uint32_t(int x, int y)> Pixel;   // index, or 0xAARRGGBB for 24/32 bits
  std::function<bool(int x, int y)> Transparent; // AND-mask bit
  std::vector<uint8_t> Png;                      // PNG data instead of a bitmap
};

inline std::vector<uint8_t> IconBitmapData(const TIconImage& I) {
  std::vector<uint8_t> v;
  const size_t stride = ((size_t(I.Width) * I.BitCount + 31) / 32) * 4;
  const size_t maskStride = ((size_t(I.Width) + 31) / 32) * 4;
  Put32(v, 40);
  Put32(v, uint32_t(I.Width));
  Put32(v, uint32_t(2 * I.Height));
  Put16(v, 1);
  Put16(v, unsigned(I.BitCount));
  Put32(v, 0);
  Put32(v, uint32_t((stride + maskStride) * I.Height));
  Put32(v, 0);
  Put32(v, 0);
  Put32(v, uint32_t(I.Palette.size()));
  Put32(v, 0);
  for (uint32_t c : I.Palette)
    Put32(v, c);
  for (int y = I.Height - 1; y >= 0; --y) {
    std::vector<uint8_t> row(stride, 0);
    for (int x = 0; x < I.Width; ++x) {
      const uint32_t p = I.Pixel(x, y);
      switch (I.BitCount) {
      case 1:
        if (p) row[x / 8] |= uint8_t(0x80 >> (x % 8));
        break;
      case 4:
        row[x / 2] |= uint8_t((x % 2) ? (p & 15) : (p << 4));
        break;
      case 8:
        row[x] = uint8_t(p);
        break;
      case 24:
        row[3 * x] = uint8_t(p);
        row[3 * x + 1] = uint8_t(p >> 8);
        row[3 * x + 2] = uint8_t(p >> 16);
        break;
      default:
        row[4 * x] = uint8_t(p);
        row[4 * x + 1] = uint8_t(p >> 8);
        row[4 * x + 2] = uint8_t(p >> 16);
        row[4 * x + 3] = uint8_t(p >> 24);
      }
    }
    v.insert(v.end(), row.begin(), row.end());
  }
  for (int y = I.Height - 1; y >= 0; --y) {
    std::vector<uint8_t> row(maskStride, 0);
    for (int x = 0; x < I.Width; ++x)
      if (I.Transparent && I.Transparent(x, y)) row[x / 8] |= uint8_t(0x80 >> (x % 8));
    v.insert(v.end(), row.begin(), row.end());
  }
  return v;
}

inline std::vector<uint8_t> PngBytes(const QImage& Image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  Image.save(&buffer, "PNG");
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// An icon file of the given images, in that order.
inline std::vector<uint8_t> IconFile(const std::vector<TIconImage>& Images) {
  std::vector<std::vector<uint8_t>> datas;
  for (const TIconImage& i : Images)
    datas.push_back(i.Png.empty() ? IconBitmapData(i) : i.Png);
  std::vector<uint8_t> v;
  Put16(v, 0);
  Put16(v, 1);
  Put16(v, unsigned(Images.size()));
  uint32_t offset = uint32_t(6 + 16 * Images.size());
  for (size_t k = 0; k < Images.size(); ++k) {
    const TIconImage& i = Images[k];
    v.push_back(uint8_t(i.Width >= 256 ? 0 : i.Width));
    v.push_back(uint8_t(i.Height >= 256 ? 0 : i.Height));
    v.push_back(0);
    v.push_back(0);
    Put16(v, 1);
    Put16(v, unsigned(i.BitCount));
    Put32(v, uint32_t(datas[k].size()));
    Put32(v, offset);
    offset += uint32_t(datas[k].size());
  }
  for (const auto& d : datas)
    v.insert(v.end(), d.begin(), d.end());
  return v;
}

} // namespace testmeta

#pragma once
// The metafile player's own declarations, shared by the files that make it
// up: the record constants, the pen, brush, font, object and device-state
// structs, and the player class. MetaFilePlayer.cpp holds the constructor and
// the record loop; MetaFilePlayerContext.cpp the coordinate mapping, clipping,
// object table, saved states and paths; MetaFilePlayerDrawing.cpp pens,
// brushes, figures, bitmaps and text; MetaFilePlayerWmf.cpp and
// MetaFilePlayerEmf.cpp the set-up and the records of each kind of file.

#include "platform/MetaFileReader.h"

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRectF>
#include <QRegion>
#include <QString>
#include <QTransform>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class QPainter;

namespace metafile_player {

// Mapping modes.
enum : int {
  MM_TEXT = 1,
  MM_LOMETRIC,
  MM_HIMETRIC,
  MM_LOENGLISH,
  MM_HIENGLISH,
  MM_TWIPS,
  MM_ISOTROPIC,
  MM_ANISOTROPIC
};
// Text alignment bits.
constexpr uint32_t TA_UPDATECP = 1, TA_HMASK = 6, TA_RIGHT = 2, TA_CENTER = 6, TA_VMASK = 24,
                   TA_BOTTOM = 8, TA_BASELINE = 24;
// ExtTextOut options.
constexpr uint32_t ETO_OPAQUE = 2, ETO_CLIPPED = 4, ETO_GLYPH_INDEX = 0x10, ETO_PDY = 0x2000;
constexpr int OPAQUE_BK = 2;
// Region combination modes.
constexpr uint32_t RGN_AND = 1, RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4, RGN_COPY = 5;
// Raster operations with a meaning for us.
constexpr uint32_t R_SRCCOPY = 0x00CC0020, R_SRCAND = 0x008800C6, R_SRCPAINT = 0x00EE0086,
                   R_SRCINVERT = 0x00660046, R_NOTSRCCOPY = 0x00330008, R_SRCERASE = 0x00440328,
                   R_MERGEPAINT = 0x00BB0226, R_DSNA = 0x00220326, R_BLACKNESS = 0x00000042,
                   R_WHITENESS = 0x00FF0062, R_DSTINVERT = 0x00550009, R_PATINVERT = 0x005A0049;
// Largest table of graphics objects we keep.
constexpr size_t kMaxObjects = 65536;

// Where a WMF record's parameters begin: after its size (4 bytes) and
// function (2). EMF fields are read at their offsets from the record start.
constexpr size_t W = 6;

inline QColor ColorRef(uint32_t v) {
  return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

struct TPenDef {
  uint32_t Style = 0; // PS_* with end cap and join bits
  double Width = 0;   // logical units; 0 is one device pixel
  QColor Color = Qt::black;
  bool Cosmetic = true;
};

struct TBrushDef {
  uint32_t Style = 0; // 0 solid, 1 null, 2 hatched, 3/5/6 pattern
  QColor Color = Qt::white;
  uint32_t Hatch = 0;
  QImage Pattern;
};

struct TFontDef {
  double Height = 0;  // logical units; negative: character height
  int Escapement = 0; // tenths of a degree, counter-clockwise
  int Weight = 400;
  bool Italic = false, Underline = false, StrikeOut = false;
  int Charset = 0;
  QString Face;
};

enum class TObjKind { Empty, Pen, Brush, Font, Other };

struct TObject {
  TObjKind Kind = TObjKind::Empty;
  TPenDef Pen;
  TBrushDef Brush;
  TFontDef Font;
};

struct TState {
  int MapMode = MM_TEXT;
  QPointF WindowOrg, ViewportOrg;
  QSizeF WindowExt{1, 1}, ViewportExt{1, 1};
  QTransform World;
  TPenDef Pen;
  TBrushDef Brush;
  TFontDef Font;
  QColor TextColor = Qt::black, BkColor = Qt::white;
  int BkMode = OPAQUE_BK;
  uint32_t TextAlign = 0;
  int PolyFill = 1;     // 1 alternate, 2 winding
  int ArcDirection = 1; // 1 counter-clockwise, 2 clockwise
  int StretchMode = 1;
  QPointF Pos;
  bool HasClip = false;
  QRegion Clip; // in the coordinates of the destination rectangle's space
};

// One playing of a metafile onto a painter: the device state the records
// change, the object table, the saved states and the path being recorded.
class TPlayer {
public:
  TPlayer(const TMetafileData& M, QPainter& P, const QRectF& Dest);
  void Play();

private:
  // ---- coordinate mapping ----

  void SetupWmfPlayback();
  void SetupEmfPlayback();
  QTransform PageTransform(const TState& St) const;
  const QTransform& Transform();
  void StateChanged() { FTransformDirty = true; }
  void Prepare();

  // ---- clipping ----

  QRegion Whole() const { return QRegion(QRect(-(1 << 24), -(1 << 24), 1 << 25, 1 << 25)); }
  QRegion DeviceRect(const QRectF& Logical);
  void CombineClip(const QRegion& R, uint32_t Mode);
  QRegion ReadRegion(const TRecordReader& r, size_t Off, size_t Size);

  // ---- pens, brushes, drawing ----

  bool MakePen(QPen& Pen) const;
  bool MakeBrush(const TBrushDef& d, QBrush& Brush, std::optional<QBrush>& Background);
  void FillWith(const QPainterPath& Path, const TBrushDef& d);
  void Figure(QPainterPath Path, bool Fill, bool Stroke);
  QPolygonF ReadPoints(const TRecordReader& r, size_t Off, size_t Count, bool Short);
  void Polyline(const QPolygonF& Poly);
  void Polygon(const QPolygonF& Poly);
  void PolyPolygon(const std::vector<QPolygonF>& Polys);
  void LineTo(const QPointF& P);
  void MoveTo(const QPointF& P);
  void PolyTo(const QPolygonF& Pts, bool Bezier);
  void PolyBezier(const QPolygonF& Pts);
  void PolyDraw(const QPolygonF& Pts, const uint8_t* Types);
  static QRectF Box(double L, double T, double R, double B);
  void Rectangle(const QRectF& R);
  void RoundRect(const QRectF& R, double Cw, double Ch);
  void Ellipse(const QRectF& R);
  static double RayAngle(const QRectF& R, const QPointF& P);
  void ArcFigure(const QRectF& R, const QPointF& Start, const QPointF& End, int Kind);
  void PatBlt(const QRectF& R, uint32_t Rop);

  // ---- bitmaps ----

  enum class TBlend { Rop, Alpha, Transparent };

  void DrawDib(const uint8_t* Info, size_t InfoSize, const uint8_t* Bits, size_t BitsSize,
               uint32_t Usage, QRectF Src, bool BottomUpSource, const QRectF& DestL, uint32_t Rop,
               TBlend Blend = TBlend::Rop, uint32_t Extra = 0, bool WholeIfOutside = false);
  void DrawImage(QImage Image, QRectF Src, const QRectF& DestL, uint32_t Rop, TBlend Blend,
                 uint32_t Extra, bool WholeIfOutside = false);
  void DrawImageMapped(QImage Image, const QRectF& Src, const QTransform& ToLogical, uint32_t Rop,
                       TBlend Blend, uint32_t Extra);
  bool DecodeBitmap16(const TRecordReader& r, size_t Off, QImage& Image);
  void DrawPackedDib(const TRecordReader& r, size_t Off, uint32_t Usage, const QRectF& Src,
                     const QRectF& DestL, uint32_t Rop, bool WholeIfOutside = false);
  QImage PackedDibImage(const TRecordReader& r, size_t Off, uint32_t Usage);

  // ---- text ----

  void Text(QPointF Ref, const QString& Str, const std::vector<double>& Dx, uint32_t Options,
            const std::optional<QRectF>& Rect);

  // ---- objects ----

  TObject* ObjectAt(uint32_t Index);
  void AddWmfObject(const TObject& O);
  void Select(const TObject& O);
  void SelectStock(uint32_t Index);
  static TFontDef ReadFont(const TRecordReader& r, size_t Off, bool Wide);
  QString Decode8Bit(const uint8_t* Bytes, size_t Count) const;

  // ---- save and restore ----

  void SaveDC();
  void RestoreDC(int N);

  // ---- paths ----

  void EndPathUse();
  void FillStrokePath(bool Fill, bool Stroke);
  void SelectClipPath(uint32_t Mode);
  QRegion PathRegion(const QPainterPath& Path) const;

  // ---- WMF records ----

  void PlayWmf(uint32_t Fn, const TRecordReader& r);

  // ---- EMF records ----

  static QRectF BoxL(const TRecordReader& r, size_t Off);
  static QTransform ReadXform(const TRecordReader& r, size_t Off);
  void EmfPoly(uint32_t Type, const TRecordReader& r);
  void EmfPolyPoly(uint32_t Type, const TRecordReader& r);
  void EmfText(const TRecordReader& r, size_t T, bool Wide);
  static QRectF SourcePixels(const TRecordReader& r, size_t Off, const QRectF& Src);
  void EmfBlt(uint32_t Type, const TRecordReader& r);
  QImage RecordDib(const TRecordReader& r, size_t OffBmi, size_t CbBmi, size_t OffBits,
                   size_t CbBits, uint32_t Usage, bool KeepAlpha);
  static void ApplyMask(QImage& Image, const QImage& Mask, int MaskX, int MaskY, const QRectF& Src);
  void EmfMaskBlt(const TRecordReader& r);
  void EmfPlgBlt(const TRecordReader& r);
  void EmfGradient(const TRecordReader& r);
  void PlayEmf(uint32_t Type, const TRecordReader& r);
  void FillRegion(const QRegion& Region, const TBrushDef& Brush);
  const TMetafileData& FM;
  QPainter& FP;
  const QRectF FDest;
  const QTransform FBase;
  QTransform FPlayback;
  double FPixPerMmX = 96 / 25.4, FPixPerMmY = 96 / 25.4;
  TState S;
  std::vector<TState> FStack;
  std::vector<TObject> FObjects;
  QTransform FTransform;
  bool FTransformDirty = true;
  bool FClipDirty = true;
  bool FInPath = false;
  bool FPathNeedsMove = true;
  QPainterPath FPath;
  size_t FFirstFree = 0;
};

} // namespace metafile_player

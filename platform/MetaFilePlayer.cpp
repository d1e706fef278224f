#include "MetaFilePlayer.h"

#include "IconMetaDib.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace {

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

QColor ColorRef(uint32_t v) {
  return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

double MillimetresPerUnit(int MapMode) {
  switch (MapMode) {
  case MM_LOMETRIC:
    return 0.1;
  case MM_HIMETRIC:
    return 0.01;
  case MM_LOENGLISH:
    return 0.254;
  case MM_HIENGLISH:
    return 0.0254;
  case MM_TWIPS:
    return 25.4 / 1440;
  default:
    return 0;
  }
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

class TPlayer {
public:
  TPlayer(const TMetafileData& M, QPainter& P, const QRectF& Dest)
      : FM(M), FP(P), FDest(Dest), FBase(P.worldTransform()) {
    FObjects.resize(std::min<size_t>(kMaxObjects,
                                     M.Kind == TMetafileKind::Wmf ? M.ObjectCount : M.HandleCount));
    if (M.Kind == TMetafileKind::Wmf)
      SetupWmfPlayback();
    else
      SetupEmfPlayback();
  }

  void Play() {
    FP.save();
    FP.setRenderHint(QPainter::Antialiasing, false);
    FP.setRenderHint(QPainter::SmoothPixmapTransform, false);
    FP.setClipping(false);
    const bool wmf = FM.Kind == TMetafileKind::Wmf;
    for (const TMetaRecord& rec : FM.Records) {
      const TRecordReader r = FM.Record(rec);
      try {
        if (wmf)
          PlayWmf(rec.Type, r);
        else
          PlayEmf(rec.Type, r);
      } catch (const ERecordTruncated&) {
        // A record whose fields leave it is skipped.
      }
    }
    FP.restore();
  }

private:
  // ---- coordinate mapping ----

  // A WMF is played as Windows plays a placeable file: anisotropic mapping,
  // the window starting as the bounding box (or, in a plain file, as the
  // first window the file sets) and the viewport as that same window. The
  // window and viewport the file sets before its first drawing record give
  // the picture's rectangle in device units, which is mapped onto Dest; later
  // window and viewport records move and scale the drawing inside it.
  void SetupWmfPlayback() {
    S.MapMode = MM_ANISOTROPIC;
    if (FM.Placeable) {
      S.WindowOrg = QPointF(FM.BoundingBox.Left, FM.BoundingBox.Top);
      S.WindowExt = QSizeF(double(FM.BoundingBox.Right) - FM.BoundingBox.Left,
                           double(FM.BoundingBox.Bottom) - FM.BoundingBox.Top);
    }
    bool viewportOrgSet = false, viewportExtSet = false;
    for (const TMetaRecord& rec : FM.Records) {
      const TRecordReader r = FM.Record(rec);
      if (!r.Has(W, 4) && rec.Type != 0x0103) continue;
      bool stop = false;
      switch (rec.Type) {
      case 0x0103:
        if (r.Has(W, 2)) S.MapMode = r.U16(W);
        break;
      case 0x020B:
        S.WindowOrg = QPointF(r.I16(W + 2), r.I16(W));
        break;
      case 0x020C:
        if (r.I16(W) != 0 && r.I16(W + 2) != 0) S.WindowExt = QSizeF(r.I16(W + 2), r.I16(W));
        break;
      case 0x020D:
        S.ViewportOrg = QPointF(r.I16(W + 2), r.I16(W));
        viewportOrgSet = true;
        break;
      case 0x020E:
        if (r.I16(W) != 0 && r.I16(W + 2) != 0) {
          S.ViewportExt = QSizeF(r.I16(W + 2), r.I16(W));
          viewportExtSet = true;
        }
        break;
      default:
        // Attribute and object records may come first; anything else draws.
        stop = !(
            rec.Type == 0x0102 || rec.Type == 0x0104 || rec.Type == 0x0106 || rec.Type == 0x0107 ||
            rec.Type == 0x0108 || rec.Type == 0x012E || rec.Type == 0x0201 || rec.Type == 0x0209 ||
            rec.Type == 0x0231 || rec.Type == 0x0626 || rec.Type == 0x012D || rec.Type == 0x01F0 ||
            rec.Type == 0x02FA || rec.Type == 0x02FB || rec.Type == 0x02FC || rec.Type == 0x00F7 ||
            rec.Type == 0x0234 || rec.Type == 0x0035 || rec.Type == 0x0142 || rec.Type == 0x01F9);
      }
      if (stop) break;
    }
    if (S.WindowExt.width() == 0) S.WindowExt.setWidth(1);
    if (S.WindowExt.height() == 0) S.WindowExt.setHeight(1);
    if (!viewportOrgSet) S.ViewportOrg = S.WindowOrg;
    if (!viewportExtSet)
      S.ViewportExt = QSizeF(std::abs(S.WindowExt.width()), std::abs(S.WindowExt.height()));
    QRectF picture(S.WindowOrg, S.WindowExt);
    if (FM.Placeable)
      picture = QRectF(QPointF(FM.BoundingBox.Left, FM.BoundingBox.Top),
                       QPointF(FM.BoundingBox.Right, FM.BoundingBox.Bottom));
    const QRectF device = PageTransform(S).mapRect(picture.normalized());
    if (device.width() > 0 && device.height() > 0) {
      const double sx = FDest.width() / device.width(), sy = FDest.height() / device.height();
      FPlayback =
          QTransform(sx, 0, 0, sy, FDest.x() - device.left() * sx, FDest.y() - device.top() * sy);
    } else {
      FPlayback = QTransform::fromTranslate(FDest.x(), FDest.y());
    }
    // The records set all of this again as they are played; the mapping mode
    // starts anisotropic, the viewport as found.
    S.MapMode = MM_ANISOTROPIC;
    FTransformDirty = true;
  }

  void SetupEmfPlayback() {
    // Reference device pixels per millimetre, for the frame and the metric modes.
    if (FM.DeviceWidth > 0 && FM.DeviceHeight > 0 && FM.DeviceWidthMM > 0 &&
        FM.DeviceHeightMM > 0) {
      FPixPerMmX = double(FM.DeviceWidth) / FM.DeviceWidthMM;
      FPixPerMmY = double(FM.DeviceHeight) / FM.DeviceHeightMM;
    }
    double l, t, w, h;
    const double fw = double(FM.Frame.Right) - FM.Frame.Left;
    const double fh = double(FM.Frame.Bottom) - FM.Frame.Top;
    if (fw > 0 && fh > 0) {
      l = FM.Frame.Left / 100.0 * FPixPerMmX;
      t = FM.Frame.Top / 100.0 * FPixPerMmY;
      w = fw / 100.0 * FPixPerMmX;
      h = fh / 100.0 * FPixPerMmY;
    } else {
      l = FM.Bounds.Left;
      t = FM.Bounds.Top;
      w = double(FM.Bounds.Right) - FM.Bounds.Left + 1;
      h = double(FM.Bounds.Bottom) - FM.Bounds.Top + 1;
    }
    if (!(w > 0) || !(h > 0)) {
      l = t = 0;
      w = std::max(1.0, FDest.width());
      h = std::max(1.0, FDest.height());
    }
    const double sx = FDest.width() / w, sy = FDest.height() / h;
    FPlayback = QTransform(sx, 0, 0, sy, FDest.x() - l * sx, FDest.y() - t * sy);
  }

  // Window and viewport: logical coordinates to (reference) device units.
  QTransform PageTransform(const TState& St) const {
    double sx = 1, sy = 1;
    if (St.MapMode == MM_ISOTROPIC || St.MapMode == MM_ANISOTROPIC) {
      sx = St.WindowExt.width() ? St.ViewportExt.width() / St.WindowExt.width() : 1;
      sy = St.WindowExt.height() ? St.ViewportExt.height() / St.WindowExt.height() : 1;
      if (St.MapMode == MM_ISOTROPIC) {
        const double s = std::min(std::abs(sx), std::abs(sy));
        sx = std::copysign(s, sx);
        sy = std::copysign(s, sy);
      }
    } else if (const double mm = MillimetresPerUnit(St.MapMode)) {
      sx = mm * FPixPerMmX;
      sy = -mm * FPixPerMmY;
    }
    return QTransform(sx, 0, 0, sy, St.ViewportOrg.x() - St.WindowOrg.x() * sx,
                      St.ViewportOrg.y() - St.WindowOrg.y() * sy);
  }

  // Logical coordinates to the destination's space.
  const QTransform& Transform() {
    if (!FTransformDirty) return FTransform;
    FTransformDirty = false;
    FTransform = S.World * PageTransform(S) * FPlayback;
    return FTransform;
  }

  void StateChanged() { FTransformDirty = true; }

  // Puts the clip and the transform on the painter before drawing.
  void Prepare() {
    if (FClipDirty) {
      FClipDirty = false;
      FP.setWorldTransform(FBase);
      if (S.HasClip)
        FP.setClipRegion(S.Clip);
      else
        FP.setClipping(false);
    }
    FP.setWorldTransform(Transform() * FBase);
  }

  // ---- clipping ----

  QRegion Whole() const { return QRegion(QRect(-(1 << 24), -(1 << 24), 1 << 25, 1 << 25)); }

  QRegion DeviceRect(const QRectF& Logical) {
    const QRectF r = Transform().mapRect(Logical.normalized());
    const QPoint tl(int(std::lround(r.left())), int(std::lround(r.top())));
    const QPoint br(int(std::lround(r.right())) - 1, int(std::lround(r.bottom())) - 1);
    if (br.x() < tl.x() || br.y() < tl.y()) return QRegion();
    return QRegion(QRect(tl, br));
  }

  void CombineClip(const QRegion& R, uint32_t Mode) {
    const QRegion current = S.HasClip ? S.Clip : Whole();
    switch (Mode) {
    case RGN_AND:
      S.Clip = current.intersected(R);
      break;
    case RGN_OR:
      S.Clip = current.united(R);
      break;
    case RGN_XOR:
      S.Clip = current.xored(R);
      break;
    case RGN_DIFF:
      S.Clip = current.subtracted(R);
      break;
    default:
      S.Clip = R;
      break;
    }
    S.HasClip = true;
    FClipDirty = true;
  }

  // A RGNDATA block: rectangles in reference device units.
  QRegion ReadRegion(const TRecordReader& r, size_t Off, size_t Size) {
    r.Need(Off, Size);
    if (Size < 32) return QRegion();
    const uint32_t count = r.U32(Off + 8);
    if (count > (Size - 32) / 16) throw ERecordTruncated("region rectangles beyond the record");
    QRegion region;
    std::vector<QRect> rects;
    rects.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
      const size_t o = Off + 32 + size_t(i) * 16;
      const QRectF dev(QPointF(r.I32(o), r.I32(o + 4)), QPointF(r.I32(o + 8), r.I32(o + 12)));
      const QRectF m = FPlayback.mapRect(dev.normalized());
      const QPoint tl(int(std::lround(m.left())), int(std::lround(m.top())));
      const QPoint br(int(std::lround(m.right())) - 1, int(std::lround(m.bottom())) - 1);
      if (br.x() >= tl.x() && br.y() >= tl.y()) rects.emplace_back(tl, br);
    }
    region.setRects(rects.data(), int(rects.size()));
    return region;
  }

  // ---- pens, brushes, drawing ----

  bool MakePen(QPen& Pen) const {
    const TPenDef& d = S.Pen;
    const uint32_t style = d.Style & 0x0F;
    if (style == 5) return false; // null pen
    Pen = QPen(d.Color);
    if (d.Cosmetic || d.Width <= 0)
      Pen.setWidth(0);
    else
      Pen.setWidthF(d.Width);
    switch (style) {
    case 1:
      Pen.setStyle(Qt::DashLine);
      break;
    case 2:
      Pen.setStyle(Qt::DotLine);
      break;
    case 3:
      Pen.setStyle(Qt::DashDotLine);
      break;
    case 4:
      Pen.setStyle(Qt::DashDotDotLine);
      break;
    default:
      Pen.setStyle(Qt::SolidLine);
      break;
    }
    switch (d.Style & 0x0F00) {
    case 0x100:
      Pen.setCapStyle(Qt::SquareCap);
      break;
    case 0x200:
      Pen.setCapStyle(Qt::FlatCap);
      break;
    default:
      Pen.setCapStyle(Qt::RoundCap);
      break;
    }
    switch (d.Style & 0xF000) {
    case 0x1000:
      Pen.setJoinStyle(Qt::BevelJoin);
      break;
    case 0x2000:
      Pen.setJoinStyle(Qt::MiterJoin);
      break;
    default:
      Pen.setJoinStyle(Qt::RoundJoin);
      break;
    }
    return true;
  }

  // The current brush; hatches and patterns keep their size in device pixels.
  // Background: the fill behind hatch lines when the background mode is opaque.
  bool MakeBrush(const TBrushDef& d, QBrush& Brush, std::optional<QBrush>& Background) {
    Background.reset();
    QTransform unscale = Transform();
    unscale = QTransform(unscale.m11(), unscale.m12(), unscale.m21(), unscale.m22(), 0, 0);
    const bool invertible = unscale.isInvertible();
    switch (d.Style) {
    case 1:
      return false;
    case 2: {
      static const Qt::BrushStyle hatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                               Qt::FDiagPattern, Qt::BDiagPattern,
                                               Qt::CrossPattern, Qt::DiagCrossPattern};
      Brush = QBrush(d.Color, d.Hatch < 6 ? hatches[d.Hatch] : Qt::SolidPattern);
      if (S.BkMode == OPAQUE_BK) Background = QBrush(S.BkColor);
      break;
    }
    case 3:
    case 5:
    case 6:
      if (!d.Pattern.isNull())
        Brush = QBrush(d.Pattern);
      else
        Brush = QBrush(d.Color);
      break;
    default:
      Brush = QBrush(d.Color);
      return true;
    }
    if (invertible) Brush.setTransform(unscale.inverted());
    return true;
  }

  void FillWith(const QPainterPath& Path, const TBrushDef& d) {
    QBrush brush;
    std::optional<QBrush> background;
    if (!MakeBrush(d, brush, background)) return;
    if (background) FP.fillPath(Path, *background);
    FP.fillPath(Path, brush);
  }

  // Fills and/or outlines a figure in logical coordinates, or adds it to the
  // path being recorded.
  void Figure(QPainterPath Path, bool Fill, bool Stroke) {
    if (FInPath) {
      FPath.addPath(Path);
      return;
    }
    Prepare();
    Path.setFillRule(S.PolyFill == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    if (Fill) FillWith(Path, S.Brush);
    if (Stroke) {
      QPen pen;
      if (MakePen(pen)) FP.strokePath(Path, pen);
    }
  }

  QPolygonF ReadPoints(const TRecordReader& r, size_t Off, size_t Count, bool Short) {
    const size_t sz = Short ? 4 : 8;
    if (Count > r.Size() / sz) throw ERecordTruncated("point count beyond the record");
    r.Need(Off, Count * sz);
    QPolygonF poly;
    poly.reserve(qsizetype(Count));
    for (size_t i = 0; i < Count; ++i) {
      const size_t o = Off + i * sz;
      if (Short)
        poly.append(QPointF(r.I16(o), r.I16(o + 2)));
      else
        poly.append(QPointF(r.I32(o), r.I32(o + 4)));
    }
    return poly;
  }

  void Polyline(const QPolygonF& Poly) {
    if (Poly.size() < 2) return;
    QPainterPath path;
    path.addPolygon(Poly);
    Figure(path, false, true);
  }

  void Polygon(const QPolygonF& Poly) {
    if (Poly.size() < 2) return;
    QPainterPath path;
    path.addPolygon(Poly);
    path.closeSubpath();
    Figure(path, true, true);
  }

  void PolyPolygon(const std::vector<QPolygonF>& Polys) {
    QPainterPath path;
    for (const QPolygonF& p : Polys) {
      if (p.size() < 2) continue;
      path.addPolygon(p);
      path.closeSubpath();
    }
    Figure(path, true, true);
  }

  void LineTo(const QPointF& P) {
    if (FInPath) {
      if (FPath.elementCount() == 0 || FPathNeedsMove) FPath.moveTo(S.Pos);
      FPathNeedsMove = false;
      FPath.lineTo(P);
    } else {
      QPainterPath path(S.Pos);
      path.lineTo(P);
      Figure(path, false, true);
    }
    S.Pos = P;
  }

  void MoveTo(const QPointF& P) {
    S.Pos = P;
    if (FInPath) FPathNeedsMove = true;
  }

  // Lines or curves that continue from the current position.
  void PolyTo(const QPolygonF& Pts, bool Bezier) {
    if (Pts.isEmpty()) return;
    QPainterPath local(S.Pos);
    QPainterPath& path = FInPath ? FPath : local;
    if (FInPath && (FPath.elementCount() == 0 || FPathNeedsMove)) FPath.moveTo(S.Pos);
    FPathNeedsMove = false;
    if (Bezier) {
      for (qsizetype i = 0; i + 2 < Pts.size(); i += 3)
        path.cubicTo(Pts[i], Pts[i + 1], Pts[i + 2]);
      S.Pos = Pts[(Pts.size() / 3) * 3 - 1 >= 0 ? (Pts.size() / 3) * 3 - 1 : 0];
    } else {
      for (const QPointF& p : Pts)
        path.lineTo(p);
      S.Pos = Pts.back();
    }
    if (!FInPath) Figure(local, false, true);
  }

  void PolyBezier(const QPolygonF& Pts) {
    if (Pts.size() < 4) return;
    QPainterPath path(Pts[0]);
    for (qsizetype i = 1; i + 2 < Pts.size(); i += 3)
      path.cubicTo(Pts[i], Pts[i + 1], Pts[i + 2]);
    Figure(path, false, true);
  }

  void PolyDraw(const QPolygonF& Pts, const uint8_t* Types) {
    QPainterPath local;
    QPainterPath& path = FInPath ? FPath : local;
    path.moveTo(S.Pos);
    for (qsizetype i = 0; i < Pts.size(); ++i) {
      const uint8_t t = Types[i] & ~1;
      if (t == 6) {
        path.moveTo(Pts[i]);
      } else if (t == 2) {
        path.lineTo(Pts[i]);
      } else if (t == 4 && i + 2 < Pts.size()) {
        path.cubicTo(Pts[i], Pts[i + 1], Pts[i + 2]);
        i += 2;
      }
      if (Types[i] & 1) path.closeSubpath();
      S.Pos = Pts[i];
    }
    if (!FInPath) Figure(local, false, true);
  }

  static QRectF Box(double L, double T, double R, double B) {
    return QRectF(QPointF(L, T), QPointF(R, B)).normalized();
  }

  void Rectangle(const QRectF& R) {
    QPainterPath path;
    path.addRect(R);
    Figure(path, true, true);
  }

  void RoundRect(const QRectF& R, double Cw, double Ch) {
    QPainterPath path;
    path.addRoundedRect(R, std::abs(Cw) / 2, std::abs(Ch) / 2);
    Figure(path, true, true);
  }

  void Ellipse(const QRectF& R) {
    QPainterPath path;
    path.addEllipse(R);
    Figure(path, true, true);
  }

  // Parametric angle, in degrees, of the ray from the box's centre to P.
  static double RayAngle(const QRectF& R, const QPointF& P) {
    const QPointF c = R.center();
    const double rx = std::max(R.width() / 2, 1e-9), ry = std::max(R.height() / 2, 1e-9);
    return std::atan2(-(P.y() - c.y()) / ry, (P.x() - c.x()) / rx) * 180.0 / M_PI;
  }

  // Kind 0 arc, 1 chord, 2 pie, 3 arc continuing from the current position.
  void ArcFigure(const QRectF& R, const QPointF& Start, const QPointF& End, int Kind) {
    if (R.width() <= 0 || R.height() <= 0) return;
    const double a0 = RayAngle(R, Start), a1 = RayAngle(R, End);
    bool ccw = S.ArcDirection != 2;
    if (Transform().determinant() < 0) ccw = !ccw; // the direction is the one seen on screen
    double sweep = a1 - a0;
    if (ccw) {
      while (sweep <= 0)
        sweep += 360;
    } else {
      while (sweep >= 0)
        sweep -= 360;
    }
    QPainterPath path;
    if (Kind == 2) {
      path.moveTo(R.center());
      path.arcTo(R, a0, sweep);
      path.closeSubpath();
    } else {
      path.arcMoveTo(R, a0);
      if (Kind == 3) {
        const QPointF first = path.currentPosition();
        path = QPainterPath(S.Pos);
        path.lineTo(first);
      }
      path.arcTo(R, a0, sweep);
      if (Kind == 1) path.closeSubpath();
    }
    if (Kind == 3) {
      S.Pos = path.currentPosition();
      if (FInPath) {
        FPath.addPath(path);
        return;
      }
    }
    Figure(path, Kind == 1 || Kind == 2, true);
  }

  // Fills a rectangle with the current brush or a fixed colour, as PatBlt
  // and the blits without a source do.
  void PatBlt(const QRectF& R, uint32_t Rop) {
    if (FInPath) return;
    Prepare();
    QPainterPath path;
    path.addRect(R);
    switch (Rop) {
    case R_BLACKNESS:
      FP.fillPath(path, Qt::black);
      break;
    case R_WHITENESS:
      FP.fillPath(path, Qt::white);
      break;
    case R_DSTINVERT:
    case R_PATINVERT:
      FP.save();
      FP.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      FP.fillPath(path, Rop == R_DSTINVERT ? QColor(Qt::white) : S.Brush.Color);
      FP.restore();
      break;
    default:
      FillWith(path, S.Brush);
      break;
    }
  }

  // ---- bitmaps ----

  enum class TBlend { Rop, Alpha, Transparent };

  // Draws a DIB (header at Info, pixels at Bits) from the source rectangle
  // (pixels; from the bottom row when BottomUpSource and the DIB is bottom-up)
  // into the logical destination rectangle.
  void DrawDib(const uint8_t* Info, size_t InfoSize, const uint8_t* Bits, size_t BitsSize,
               uint32_t Usage, QRectF Src, bool BottomUpSource, const QRectF& DestL, uint32_t Rop,
               TBlend Blend = TBlend::Rop, uint32_t Extra = 0, bool WholeIfOutside = false) {
    if (FInPath) return;
    TDibHeader header;
    std::string error;
    if (!ParseDibHeader(Info, InfoSize, header, error, false, Usage == 1)) return;
    QImage image;
    if (!DecodeDibPixels(header, Bits, BitsSize, Blend == TBlend::Alpha, image, error)) return;
    if (Src.width() == 0 || Src.height() == 0) Src = QRectF(0, 0, image.width(), image.height());
    if (BottomUpSource && !header.TopDown) Src.moveTop(image.height() - Src.top() - Src.height());
    DrawImage(image, Src, DestL, Rop, Blend, Extra, WholeIfOutside);
  }

  // WholeIfOutside: for the blits that give one size for source and
  // destination (BitBlt, SetDIBitsToDevice). Writers put the destination's
  // logical size there, which leaves a small bitmap; the whole bitmap is then
  // stretched into the destination, as the writer meant.
  void DrawImage(QImage Image, QRectF Src, const QRectF& DestL, uint32_t Rop, TBlend Blend,
                 uint32_t Extra, bool WholeIfOutside = false) {
    if (WholeIfOutside && !QRectF(0, 0, Image.width(), Image.height()).contains(Src.normalized()))
      Src = QRectF(0, 0, Image.width(), Image.height());
    if (DestL.width() == 0 || DestL.height() == 0 || Src.width() == 0 || Src.height() == 0) return;
    // Source pixel coordinates to logical ones, mirrored when a size is negative.
    const double sx = DestL.width() / Src.width(), sy = DestL.height() / Src.height();
    const QTransform toLogical(sx, 0, 0, sy, DestL.x() - Src.x() * sx, DestL.y() - Src.y() * sy);
    DrawImageMapped(std::move(Image), Src, toLogical, Rop, Blend, Extra);
  }

  // Draws the Src part of Image with ToLogical taking source pixels to
  // logical coordinates.
  void DrawImageMapped(QImage Image, const QRectF& Src, const QTransform& ToLogical, uint32_t Rop,
                       TBlend Blend, uint32_t Extra) {
    Prepare();
    FP.save();
    if (Blend == TBlend::Alpha) {
      const int constantAlpha = (Extra >> 16) & 0xFF;
      if ((Extra >> 24) & 1) Image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
      FP.setOpacity(constantAlpha / 255.0);
    } else if (Blend == TBlend::Transparent) {
      const QRgb key = ColorRef(Extra).rgb() & 0xFFFFFF;
      for (int y = 0; y < Image.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(Image.scanLine(y));
        for (int x = 0; x < Image.width(); ++x)
          if ((row[x] & 0xFFFFFF) == key) row[x] = 0;
      }
    } else {
      switch (Rop) {
      case R_SRCAND:
        FP.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        break;
      case R_SRCPAINT:
        FP.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
        break;
      case R_SRCINVERT:
        FP.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        break;
      case R_NOTSRCCOPY:
        FP.setCompositionMode(QPainter::RasterOp_NotSource);
        break;
      case R_SRCERASE:
        FP.setCompositionMode(QPainter::RasterOp_SourceAndNotDestination);
        break;
      case R_MERGEPAINT:
        FP.setCompositionMode(QPainter::RasterOp_NotSourceOrDestination);
        break;
      case R_DSNA:
        FP.setCompositionMode(QPainter::RasterOp_NotSourceAndDestination);
        break;
      default:
        break;
      }
    }
    if (S.StretchMode == 4) FP.setRenderHint(QPainter::SmoothPixmapTransform, true);
    FP.setWorldTransform(ToLogical * Transform() * FBase);
    const QRectF clipped = Src.intersected(QRectF(0, 0, Image.width(), Image.height()));
    if (!clipped.isEmpty()) FP.drawImage(clipped, Image, clipped);
    FP.restore();
  }

  // An old device-dependent bitmap (WMF Bitmap16): 1, 4, 8, 24 or 32 bits,
  // rows top-down; monochrome bits 0 black, 1 white.
  bool DecodeBitmap16(const TRecordReader& r, size_t Off, QImage& Image) {
    const int w = r.I16(Off + 2), h = r.I16(Off + 4), widthBytes = r.I16(Off + 6);
    const int bpp = r.U8(Off + 9);
    if (w <= 0 || h <= 0 || widthBytes <= 0 || int64_t(w) * h > kMaxDibPixels) return false;
    if (int64_t(widthBytes) * 8 < int64_t(w) * bpp) return false;
    const size_t bitsOff = Off + 10;
    if (!r.Has(bitsOff, size_t(widthBytes) * h)) return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
    Image = QImage(w, h, QImage::Format_ARGB32);
    if (Image.isNull()) return false;
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = r.Data() + bitsOff + size_t(y) * widthBytes;
      QRgb* dst = reinterpret_cast<QRgb*>(Image.scanLine(y));
      for (int x = 0; x < w; ++x) {
        switch (bpp) {
        case 1:
          dst[x] = ((src[x >> 3] >> (7 - (x & 7))) & 1) ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
          break;
        case 4: {
          const int v = ((x & 1) ? (src[x >> 1] & 15) : (src[x >> 1] >> 4)) * 17;
          dst[x] = qRgb(v, v, v);
          break;
        }
        case 8:
          dst[x] = qRgb(src[x], src[x], src[x]);
          break;
        case 24:
          dst[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
          break;
        default:
          dst[x] = qRgb(src[4 * x + 2], src[4 * x + 1], src[4 * x]);
          break;
        }
      }
    }
    return true;
  }

  // A DIB stored whole (header, colours, pixels) from Off to the record's end.
  void DrawPackedDib(const TRecordReader& r, size_t Off, uint32_t Usage, const QRectF& Src,
                     const QRectF& DestL, uint32_t Rop, bool WholeIfOutside = false) {
    r.Need(Off, 12);
    const size_t size = r.Size() - Off;
    TDibHeader header;
    std::string error;
    if (!ParseDibHeader(r.Data() + Off, size, header, error, false, Usage == 1)) return;
    DrawDib(r.Data() + Off, size, r.Data() + Off + header.InfoSize, size - header.InfoSize, Usage,
            Src, true, DestL, Rop, TBlend::Rop, 0, WholeIfOutside);
  }

  QImage PackedDibImage(const TRecordReader& r, size_t Off, uint32_t Usage) {
    if (!r.Has(Off, 12)) return QImage();
    const size_t size = r.Size() - Off;
    TDibHeader header;
    std::string error;
    QImage image;
    if (!ParseDibHeader(r.Data() + Off, size, header, error, false, Usage == 1)) return QImage();
    if (!DecodeDibPixels(header, r.Data() + Off + header.InfoSize, size - header.InfoSize, false,
                         image, error))
      return QImage();
    return image;
  }

  // ---- text ----

  void Text(QPointF Ref, const QString& Str, const std::vector<double>& Dx, uint32_t Options,
            const std::optional<QRectF>& Rect) {
    if (FInPath) return;
    Prepare();
    const QTransform t = Transform();
    if ((Options & ETO_OPAQUE) && Rect) FP.fillRect(*Rect, S.BkColor);
    if (Str.isEmpty()) return;
    const bool updateCp = S.TextAlign & TA_UPDATECP;
    if (updateCp) Ref = S.Pos;
    const QPointF d = t.map(Ref);
    const double scaleX = std::hypot(t.m11(), t.m12());
    const double scaleY = std::hypot(t.m21(), t.m22());
    double px = std::abs(S.Font.Height) * scaleY;
    if (S.Font.Height > 0) px *= 0.85; // cell height to character height
    if (S.Font.Height == 0) px = 12;
    if (!(px >= 1)) px = 1;
    if (px > 2048) px = 2048;
    QFont font(S.Font.Face.isEmpty() ? QStringLiteral("Sans Serif") : S.Font.Face);
    font.setPixelSize(std::max(1, int(std::lround(px))));
    font.setWeight(QFont::Weight(std::clamp(S.Font.Weight == 0 ? 400 : S.Font.Weight, 100, 900)));
    font.setItalic(S.Font.Italic);
    font.setUnderline(S.Font.Underline);
    font.setStrikeOut(S.Font.StrikeOut);
    const QFontMetricsF fm(font);
    std::vector<double> offsets;
    double total = 0;
    if (!Dx.empty()) {
      offsets.reserve(Dx.size());
      for (double dx : Dx) {
        offsets.push_back(total);
        total += dx * scaleX;
      }
    } else {
      total = fm.horizontalAdvance(Str);
    }
    double x0 = 0;
    if ((S.TextAlign & TA_HMASK) == TA_RIGHT) x0 = -total;
    if ((S.TextAlign & TA_HMASK) == TA_CENTER) x0 = -total / 2;
    double base = fm.ascent();
    if ((S.TextAlign & TA_VMASK) == TA_BOTTOM) base = -fm.descent();
    if ((S.TextAlign & TA_VMASK) == TA_BASELINE) base = 0;
    FP.save();
    if ((Options & ETO_CLIPPED) && Rect) FP.setClipRect(*Rect, Qt::IntersectClip);
    QTransform local;
    local.translate(d.x(), d.y());
    local.rotate(-(S.Font.Escapement / 10.0)); // as a double: -INT_MIN does not fit an int
    FP.setWorldTransform(local * FBase);
    if (S.BkMode == OPAQUE_BK && !(Options & ETO_OPAQUE))
      FP.fillRect(QRectF(x0, base - fm.ascent(), total, fm.ascent() + fm.descent()), S.BkColor);
    FP.setFont(font);
    FP.setPen(S.TextColor);
    FP.setRenderHint(QPainter::TextAntialiasing, true);
    if (offsets.empty()) {
      FP.drawText(QPointF(x0, base), Str);
    } else {
      for (qsizetype i = 0; i < Str.size() && size_t(i) < offsets.size(); ++i)
        FP.drawText(QPointF(x0 + offsets[size_t(i)], base), QString(Str[i]));
    }
    FP.restore();
    if (updateCp && scaleX > 0) {
      const double advance = total / scaleX * (t.m11() < 0 ? -1 : 1);
      if ((S.TextAlign & TA_HMASK) == TA_RIGHT)
        S.Pos.rx() -= advance;
      else if ((S.TextAlign & TA_HMASK) != TA_CENTER)
        S.Pos.rx() += advance;
    }
  }

  // ---- objects ----

  TObject* ObjectAt(uint32_t Index) {
    if (Index >= FObjects.size()) {
      if (Index >= kMaxObjects) return nullptr;
      FObjects.resize(Index + 1);
    }
    return &FObjects[Index];
  }

  // WMF objects take the lowest free slot.
  // Slots below FFirstFree are all taken, so a file that creates many
  // objects does not rescan the table each time.
  void AddWmfObject(const TObject& O) {
    for (size_t i = FFirstFree; i < FObjects.size(); ++i)
      if (FObjects[i].Kind == TObjKind::Empty) {
        FObjects[i] = O;
        FFirstFree = i + 1;
        return;
      }
    FFirstFree = FObjects.size();
    if (FObjects.size() < kMaxObjects) {
      FObjects.push_back(O);
      FFirstFree = FObjects.size();
    }
  }

  void Select(const TObject& O) {
    switch (O.Kind) {
    case TObjKind::Pen:
      S.Pen = O.Pen;
      break;
    case TObjKind::Brush:
      S.Brush = O.Brush;
      break;
    case TObjKind::Font:
      S.Font = O.Font;
      break;
    default:
      break;
    }
  }

  void SelectStock(uint32_t Index) {
    TBrushDef b;
    TPenDef p;
    switch (Index & 0x7FFFFFFF) {
    case 0:
      b.Color = Qt::white;
      S.Brush = b;
      break;
    case 1:
      b.Color = QColor(192, 192, 192);
      S.Brush = b;
      break;
    case 2:
      b.Color = QColor(128, 128, 128);
      S.Brush = b;
      break;
    case 3:
      b.Color = QColor(64, 64, 64);
      S.Brush = b;
      break;
    case 4:
      b.Color = Qt::black;
      S.Brush = b;
      break;
    case 5:
      b.Style = 1;
      S.Brush = b;
      break;
    case 6:
      p.Color = Qt::white;
      S.Pen = p;
      break;
    case 7:
      S.Pen = p;
      break;
    case 8:
      p.Style = 5;
      S.Pen = p;
      break;
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
    case 16:
    case 17:
      S.Font = TFontDef();
      break;
    case 18:
      S.Brush = b;
      break;
    case 19:
      S.Pen = p;
      break;
    default:
      break;
    }
  }

  static TFontDef ReadFont(const TRecordReader& r, size_t Off, bool Wide) {
    TFontDef f;
    if (Wide) {
      f.Height = r.I32(Off);
      f.Escapement = r.I32(Off + 8);
      f.Weight = r.I32(Off + 16);
      f.Italic = r.U8(Off + 20);
      f.Underline = r.U8(Off + 21);
      f.StrikeOut = r.U8(Off + 22);
      f.Charset = r.U8(Off + 23);
      for (size_t i = 0; i < 32 && r.Has(Off + 28 + 2 * i, 2); ++i) {
        const uint16_t c = r.U16(Off + 28 + 2 * i);
        if (c == 0) break;
        f.Face.append(QChar(c));
      }
    } else {
      f.Height = r.I16(Off);
      f.Escapement = r.I16(Off + 4);
      f.Weight = r.I16(Off + 8);
      f.Italic = r.U8(Off + 10);
      f.Underline = r.U8(Off + 11);
      f.StrikeOut = r.U8(Off + 12);
      f.Charset = r.U8(Off + 13);
      for (size_t i = 0; i < 32 && r.Has(Off + 18 + i, 1); ++i) {
        const uint8_t c = r.U8(Off + 18 + i);
        if (c == 0) break;
        f.Face.append(QChar(c));
      }
    }
    return f;
  }

  QString Decode8Bit(const uint8_t* Bytes, size_t Count) const {
    return QString::fromLatin1(reinterpret_cast<const char*>(Bytes), qsizetype(Count));
  }

  // ---- save and restore ----

  void SaveDC() {
    if (FStack.size() < 100000) FStack.push_back(S);
  }

  void RestoreDC(int N) {
    // Negative: that many states back; positive: the N-th saved state.
    size_t target;
    if (N < 0) {
      if (size_t(-int64_t(N)) > FStack.size()) return;
      target = FStack.size() - size_t(-int64_t(N));
    } else {
      if (N == 0 || size_t(N) > FStack.size()) return;
      target = size_t(N) - 1;
    }
    S = FStack[target];
    FStack.resize(target);
    StateChanged();
    FClipDirty = true;
  }

  // ---- paths ----

  void EndPathUse() {
    FPath = QPainterPath();
    FInPath = false;
  }

  void FillStrokePath(bool Fill, bool Stroke) {
    FInPath = false;
    QPainterPath path = FPath;
    Figure(path, Fill, Stroke);
    EndPathUse();
  }

  void SelectClipPath(uint32_t Mode) {
    FInPath = false;
    QPainterPath path = FPath;
    path.setFillRule(S.PolyFill == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    CombineClip(PathRegion(Transform().map(path)), Mode);
    EndPathUse();
  }

  // The pixels a path in the destination's space covers, within the device.
  // The path is rasterised into a mask rather than handed to QRegion's
  // polygon code, which mishandles some degenerate polygons.
  QRegion PathRegion(const QPainterPath& Path) const {
    QRect device;
    if (const QPaintDevice* d = FP.device())
      device = FBase.inverted().mapRect(QRect(0, 0, d->width(), d->height()));
    const QRect bounds = Path.boundingRect().toAlignedRect().intersected(device);
    if (bounds.isEmpty()) return QRegion();
    QImage mask(bounds.size(), QImage::Format_Grayscale8);
    mask.fill(0);
    {
      QPainter painter(&mask);
      painter.translate(-bounds.topLeft());
      painter.fillPath(Path, Qt::white);
    }
    std::vector<QRect> rects;
    for (int y = 0; y < mask.height(); ++y) {
      const uchar* row = mask.constScanLine(y);
      for (int x = 0; x < mask.width();) {
        if (row[x] < 128) {
          ++x;
          continue;
        }
        const int start = x;
        while (x < mask.width() && row[x] >= 128)
          ++x;
        rects.emplace_back(bounds.left() + start, bounds.top() + y, x - start, 1);
      }
    }
    QRegion region;
    region.setRects(rects.data(), int(rects.size()));
    return region;
  }

  // ---- WMF records ----

  void PlayWmf(uint32_t Fn, const TRecordReader& r) {
    switch (Fn) {
    case 0x0102:
      S.BkMode = r.U16(W);
      break;
    case 0x0103:
      S.MapMode = r.U16(W);
      StateChanged();
      break;
    case 0x0106:
      S.PolyFill = r.U16(W);
      break;
    case 0x0107:
      S.StretchMode = r.U16(W);
      break;
    case 0x012E:
      S.TextAlign = r.U16(W);
      break;
    case 0x0201:
      S.BkColor = ColorRef(r.U32(W));
      break;
    case 0x0209:
      S.TextColor = ColorRef(r.U32(W));
      break;
    case 0x020B:
      S.WindowOrg = QPointF(r.I16(W + 2), r.I16(W));
      StateChanged();
      break;
    case 0x020C: {
      const double y = r.I16(W), x = r.I16(W + 2);
      if (x != 0 && y != 0) {
        S.WindowExt = QSizeF(x, y);
        StateChanged();
      }
      break;
    }
    case 0x020D:
      S.ViewportOrg = QPointF(r.I16(W + 2), r.I16(W));
      StateChanged();
      break;
    case 0x020E: {
      const double y = r.I16(W), x = r.I16(W + 2);
      if (x != 0 && y != 0) {
        S.ViewportExt = QSizeF(x, y);
        StateChanged();
      }
      break;
    }
    case 0x020F:
      S.WindowOrg += QPointF(r.I16(W + 2), r.I16(W));
      StateChanged();
      break;
    case 0x0211:
      S.ViewportOrg += QPointF(r.I16(W + 2), r.I16(W));
      StateChanged();
      break;
    case 0x0412: {
      const double yDen = r.I16(W), yNum = r.I16(W + 2), xDen = r.I16(W + 4), xNum = r.I16(W + 6);
      if (xDen != 0 && yDen != 0 && xNum != 0 && yNum != 0) {
        S.ViewportExt =
            QSizeF(S.ViewportExt.width() * xNum / xDen, S.ViewportExt.height() * yNum / yDen);
        StateChanged();
      }
      break;
    }
    case 0x0410: {
      const double yDen = r.I16(W), yNum = r.I16(W + 2), xDen = r.I16(W + 4), xNum = r.I16(W + 6);
      if (xDen != 0 && yDen != 0 && xNum != 0 && yNum != 0) {
        S.WindowExt = QSizeF(S.WindowExt.width() * xNum / xDen, S.WindowExt.height() * yNum / yDen);
        StateChanged();
      }
      break;
    }
    case 0x001E:
      SaveDC();
      break;
    case 0x0127:
      RestoreDC(r.I16(W));
      break;
    case 0x0213:
      LineTo(QPointF(r.I16(W + 2), r.I16(W)));
      break;
    case 0x0214:
      MoveTo(QPointF(r.I16(W + 2), r.I16(W)));
      break;
    case 0x0324:
      Polygon(ReadPoints(r, W + 2, r.U16(W), true));
      break;
    case 0x0325:
      Polyline(ReadPoints(r, W + 2, r.U16(W), true));
      break;
    case 0x0538: {
      const unsigned n = r.U16(W);
      r.Need(W + 2, size_t(n) * 2);
      std::vector<QPolygonF> polys;
      size_t off = W + 2 + size_t(n) * 2;
      for (unsigned i = 0; i < n; ++i) {
        const unsigned count = r.U16(W + 2 + 2 * i);
        polys.push_back(ReadPoints(r, off, count, true));
        off += size_t(count) * 4;
      }
      PolyPolygon(polys);
      break;
    }
    case 0x041B:
      Rectangle(Box(r.I16(W + 6), r.I16(W + 4), r.I16(W + 2), r.I16(W)));
      break;
    case 0x0418:
      Ellipse(Box(r.I16(W + 6), r.I16(W + 4), r.I16(W + 2), r.I16(W)));
      break;
    case 0x061C:
      RoundRect(Box(r.I16(W + 10), r.I16(W + 8), r.I16(W + 6), r.I16(W + 4)), r.I16(W + 2),
                r.I16(W));
      break;
    case 0x0817:
    case 0x0830:
    case 0x081A: {
      const QPointF end(r.I16(W + 2), r.I16(W)), start(r.I16(W + 6), r.I16(W + 4));
      const QRectF box = Box(r.I16(W + 14), r.I16(W + 12), r.I16(W + 10), r.I16(W + 8));
      ArcFigure(box, start, end, Fn == 0x0817 ? 0 : Fn == 0x0830 ? 1 : 2);
      break;
    }
    case 0x041F: {
      if (FInPath) break;
      Prepare();
      FP.fillRect(QRectF(r.I16(W + 6), r.I16(W + 4), 1, 1), ColorRef(r.U32(W)));
      break;
    }
    case 0x061D:
      PatBlt(QRectF(r.I16(W + 10), r.I16(W + 8), r.I16(W + 6), r.I16(W + 4)), r.U32(W));
      break;
    case 0x0415:
    case 0x0416: {
      const QRegion rect = DeviceRect(Box(r.I16(W + 6), r.I16(W + 4), r.I16(W + 2), r.I16(W)));
      CombineClip(rect, Fn == 0x0416 ? RGN_AND : RGN_DIFF);
      break;
    }
    case 0x0220:
      if (S.HasClip) {
        const QTransform& t = Transform();
        S.Clip.translate(int(std::lround(r.I16(W + 2) * t.m11())),
                         int(std::lround(r.I16(W) * t.m22())));
        FClipDirty = true;
      }
      break;
    case 0x012D: {
      const unsigned i = r.U16(W);
      if (i < FObjects.size()) Select(FObjects[i]);
      break;
    }
    case 0x01F0: {
      const unsigned i = r.U16(W);
      if (i < FObjects.size()) {
        FObjects[i] = TObject();
        FFirstFree = std::min<size_t>(FFirstFree, i);
      }
      break;
    }
    case 0x02FA: {
      TObject o;
      o.Kind = TObjKind::Pen;
      o.Pen.Style = r.U16(W);
      o.Pen.Width = r.I16(W + 2);
      o.Pen.Color = ColorRef(r.U32(W + 6));
      o.Pen.Cosmetic = o.Pen.Width <= 0;
      AddWmfObject(o);
      break;
    }
    case 0x02FC: {
      TObject o;
      o.Kind = TObjKind::Brush;
      o.Brush.Style = r.U16(W);
      o.Brush.Color = ColorRef(r.U32(W + 2));
      o.Brush.Hatch = r.U16(W + 6);
      AddWmfObject(o);
      break;
    }
    case 0x02FB: {
      TObject o;
      o.Kind = TObjKind::Font;
      o.Font = ReadFont(r, W, false);
      AddWmfObject(o);
      break;
    }
    case 0x0142: { // DIB pattern brush
      TObject o;
      o.Kind = TObjKind::Brush;
      o.Brush.Style = 5;
      o.Brush.Color = QColor(128, 128, 128);
      if (r.Has(W, 4)) {
        if (r.U16(W) == 3) {
          QImage image;
          if (DecodeBitmap16(r, W + 4, image)) o.Brush.Pattern = image;
        } else {
          o.Brush.Pattern = PackedDibImage(r, W + 4, r.U16(W + 2));
        }
      }
      AddWmfObject(o);
      break;
    }
    case 0x01F9: { // old pattern brush: a Bitmap16 and 18 unused bytes
      TObject o;
      o.Kind = TObjKind::Brush;
      o.Brush.Style = 3;
      o.Brush.Color = QColor(128, 128, 128);
      QImage image;
      if (r.Has(W, 10) && DecodeBitmap16(r, W, image)) o.Brush.Pattern = image;
      AddWmfObject(o);
      break;
    }
    case 0x00F7:   // palette
    case 0x06FF: { // region
      TObject o;
      o.Kind = TObjKind::Other;
      AddWmfObject(o);
      break;
    }
    case 0x0521: {
      const unsigned len = r.U16(W);
      const size_t strOff = W + 2;
      const size_t after = strOff + ((size_t(len) + 1) & ~size_t(1));
      const QString s = Decode8Bit(r.Bytes(strOff, len), len);
      Text(QPointF(r.I16(after + 2), r.I16(after)), s, {}, 0, std::nullopt);
      break;
    }
    case 0x0A32: {
      const QPointF ref(r.I16(W + 2), r.I16(W));
      const unsigned len = r.U16(W + 4);
      const unsigned opts = r.U16(W + 6);
      size_t off = W + 8;
      std::optional<QRectF> rect;
      if (opts & (ETO_OPAQUE | ETO_CLIPPED)) {
        rect = Box(r.I16(off), r.I16(off + 2), r.I16(off + 4), r.I16(off + 6));
        off += 8;
      }
      const QString s = Decode8Bit(r.Bytes(off, len), len);
      off += (size_t(len) + 1) & ~size_t(1);
      std::vector<double> dx;
      if (len > 0 && r.Has(off, size_t(len) * 2)) {
        dx.reserve(len);
        for (unsigned i = 0; i < len; ++i)
          dx.push_back(r.I16(off + 2 * i));
      }
      Text(ref, s, dx, opts, rect);
      break;
    }
    case 0x0922:
    case 0x0940: { // BitBlt, DIBBitBlt
      const bool noSource = r.Size() == (size_t(Fn >> 8) + 3) * 2;
      const uint32_t rop = r.U32(W);
      if (noSource) {
        PatBlt(QRectF(r.I16(W + 16), r.I16(W + 14), r.I16(W + 12), r.I16(W + 10)), rop);
        break;
      }
      const QRectF src(r.I16(W + 6), r.I16(W + 4), r.I16(W + 10), r.I16(W + 8));
      const QRectF dst(r.I16(W + 14), r.I16(W + 12), r.I16(W + 10), r.I16(W + 8));
      if (Fn == 0x0940) {
        DrawPackedDib(r, W + 16, 0, src, dst, rop, true);
      } else {
        QImage image;
        if (DecodeBitmap16(r, W + 16, image)) DrawImage(image, src, dst, rop, TBlend::Rop, 0, true);
      }
      break;
    }
    case 0x0B23:
    case 0x0B41: { // StretchBlt, DIBStretchBlt
      const bool noSource = r.Size() == (size_t(Fn >> 8) + 3) * 2;
      const uint32_t rop = r.U32(W);
      if (noSource) {
        PatBlt(QRectF(r.I16(W + 20), r.I16(W + 18), r.I16(W + 16), r.I16(W + 14)), rop);
        break;
      }
      const QRectF src(r.I16(W + 10), r.I16(W + 8), r.I16(W + 6), r.I16(W + 4));
      const QRectF dst(r.I16(W + 18), r.I16(W + 16), r.I16(W + 14), r.I16(W + 12));
      if (Fn == 0x0B41) {
        DrawPackedDib(r, W + 20, 0, src, dst, rop);
      } else {
        QImage image;
        if (DecodeBitmap16(r, W + 20, image)) DrawImage(image, src, dst, rop, TBlend::Rop, 0);
      }
      break;
    }
    case 0x0F43: { // StretchDIB
      const uint32_t rop = r.U32(W);
      const unsigned usage = r.U16(W + 4);
      const QRectF src(r.I16(W + 12), r.I16(W + 10), r.I16(W + 8), r.I16(W + 6));
      const QRectF dst(r.I16(W + 20), r.I16(W + 18), r.I16(W + 16), r.I16(W + 14));
      DrawPackedDib(r, W + 22, usage, src, dst, rop);
      break;
    }
    case 0x0D33: { // SetDIBitsToDevice
      const unsigned usage = r.U16(W);
      const QRectF src(r.I16(W + 8), r.I16(W + 6), r.I16(W + 12), r.I16(W + 10));
      const QRectF dst(r.I16(W + 16), r.I16(W + 14), r.I16(W + 12), r.I16(W + 10));
      DrawPackedDib(r, W + 18, usage, src, dst, R_SRCCOPY, true);
      break;
    }
    default:
      break; // palettes, escapes, regions and the rest: nothing to draw
    }
  }

  // ---- EMF records ----

  static QRectF BoxL(const TRecordReader& r, size_t Off) {
    return Box(r.I32(Off), r.I32(Off + 4), r.I32(Off + 8), r.I32(Off + 12));
  }

  static QTransform ReadXform(const TRecordReader& r, size_t Off) {
    const double m11 = r.F32(Off), m12 = r.F32(Off + 4), m21 = r.F32(Off + 8),
                 m22 = r.F32(Off + 12), dx = r.F32(Off + 16), dy = r.F32(Off + 20);
    for (double v : {m11, m12, m21, m22, dx, dy})
      if (!std::isfinite(v)) throw ERecordTruncated("transform is not finite");
    return QTransform(m11, m12, m21, m22, dx, dy);
  }

  void EmfPoly(uint32_t Type, const TRecordReader& r) {
    const bool shortPts = Type >= 85;
    const uint32_t count = r.U32(24);
    const QPolygonF pts = ReadPoints(r, 28, count, shortPts);
    switch (shortPts ? Type - 83 : Type) {
    case 2:
      PolyBezier(pts);
      break;
    case 3:
      Polygon(pts);
      break;
    case 4:
      Polyline(pts);
      break;
    case 5:
      PolyTo(pts, true);
      break;
    case 6:
      PolyTo(pts, false);
      break;
    default:
      break;
    }
  }

  void EmfPolyPoly(uint32_t Type, const TRecordReader& r) {
    const bool shortPts = Type >= 90;
    const uint32_t n = r.U32(24);
    const uint32_t total = r.U32(28);
    if (n > r.Size() / 4) throw ERecordTruncated("polygon count beyond the record");
    r.Need(32, size_t(n) * 4);
    size_t off = 32 + size_t(n) * 4;
    const QPolygonF all = ReadPoints(r, off, total, shortPts);
    std::vector<QPolygonF> polys;
    qsizetype used = 0;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t c = r.U32(32 + 4 * size_t(i));
      if (c > uint32_t(all.size() - used)) break;
      polys.push_back(all.mid(used, c));
      used += c;
    }
    if (Type == 8 || Type == 91) {
      PolyPolygon(polys);
    } else {
      QPainterPath path;
      for (const QPolygonF& p : polys)
        if (p.size() >= 2) path.addPolygon(p);
      Figure(path, false, true);
    }
  }

  void EmfText(const TRecordReader& r, size_t T, bool Wide) {
    const QPointF ref(r.I32(T), r.I32(T + 4));
    const uint32_t n = r.U32(T + 8);
    const uint32_t offString = r.U32(T + 12);
    const uint32_t opts = r.U32(T + 16);
    const QRectF rect = BoxL(r, T + 20);
    const uint32_t offDx = r.U32(T + 36);
    if (n > r.Size()) throw ERecordTruncated("text length beyond the record");
    QString s;
    if (Wide) {
      const uint8_t* p = r.Bytes(offString, size_t(n) * 2);
      s.resize(qsizetype(n));
      for (uint32_t i = 0; i < n; ++i)
        s[qsizetype(i)] = QChar(uint16_t(p[2 * i] | (p[2 * i + 1] << 8)));
    } else {
      s = Decode8Bit(r.Bytes(offString, n), n);
    }
    std::vector<double> dx;
    const size_t step = (opts & ETO_PDY) ? 8 : 4;
    if (offDx != 0 && n > 0 && r.Has(offDx, size_t(n) * step)) {
      dx.reserve(n);
      for (uint32_t i = 0; i < n; ++i)
        dx.push_back(r.I32(offDx + i * step));
    }
    std::optional<QRectF> box;
    if (opts & (ETO_OPAQUE | ETO_CLIPPED)) box = rect;
    // Glyph indices of the writer's font mean nothing in ours: only the
    // background is drawn.
    if (opts & ETO_GLYPH_INDEX) s.clear();
    Text(ref, s, dx, opts, box);
  }

  // The blits give their source rectangle in the source's logical units; the
  // source transform at Off takes them to the bitmap's pixels. A transform
  // that is not a plain scale and offset is ignored.
  static QRectF SourcePixels(const TRecordReader& r, size_t Off, const QRectF& Src) {
    QTransform x;
    try {
      x = ReadXform(r, Off);
    } catch (const ERecordTruncated&) {
      return Src;
    }
    if (x.m12() != 0 || x.m21() != 0 || x.m11() == 0 || x.m22() == 0 || std::abs(x.m11()) > 1e6 ||
        std::abs(x.m22()) > 1e6)
      return Src;
    const QPointF p = x.map(Src.topLeft());
    return QRectF(p.x(), p.y(), Src.width() * x.m11(), Src.height() * x.m22());
  }

  void EmfBlt(uint32_t Type, const TRecordReader& r) {
    const QRectF dst(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
    const uint32_t rop = r.U32(40);
    const uint32_t usage = r.U32(80);
    const uint32_t offBmi = r.U32(84), cbBmi = r.U32(88), offBits = r.U32(92), cbBits = r.U32(96);
    if (cbBmi == 0) {
      if (Type == 76 || Type == 77) PatBlt(dst, rop);
      return;
    }
    QRectF src(r.I32(44), r.I32(48), dst.width(), dst.height());
    if (Type != 76) src.setSize(QSizeF(r.I32(100), r.I32(104)));
    src = SourcePixels(r, 52, src);
    const TBlend blend = Type == 114   ? TBlend::Alpha
                         : Type == 116 ? TBlend::Transparent
                                       : TBlend::Rop;
    DrawDib(r.Bytes(offBmi, cbBmi), cbBmi, r.Bytes(offBits, cbBits), cbBits, usage, src, false, dst,
            rop, blend, rop, Type == 76);
  }

  // A DIB of a record given by its header and pixel offsets and sizes; null
  // when absent or not decodable.
  QImage RecordDib(const TRecordReader& r, size_t OffBmi, size_t CbBmi, size_t OffBits,
                   size_t CbBits, uint32_t Usage, bool KeepAlpha) {
    if (CbBmi == 0 || !r.Has(OffBmi, CbBmi) || !r.Has(OffBits, CbBits)) return QImage();
    TDibHeader header;
    std::string error;
    QImage image;
    if (!ParseDibHeader(r.Data() + OffBmi, CbBmi, header, error, false, Usage == 1) ||
        !DecodeDibPixels(header, r.Data() + OffBits, CbBits, KeepAlpha, image, error))
      return QImage();
    return image;
  }

  // Source pixels where the mask bit is 0 are left out (the usual background
  // operation keeps the destination there).
  static void ApplyMask(QImage& Image, const QImage& Mask, int MaskX, int MaskY,
                        const QRectF& Src) {
    if (Mask.isNull()) return;
    for (int y = 0; y < Image.height(); ++y) {
      QRgb* row = reinterpret_cast<QRgb*>(Image.scanLine(y));
      for (int x = 0; x < Image.width(); ++x) {
        const int mx = MaskX + x - int(Src.x()), my = MaskY + y - int(Src.y());
        if (mx >= 0 && my >= 0 && mx < Mask.width() && my < Mask.height() &&
            qGray(Mask.pixel(mx, my)) < 128)
          row[x] &= 0x00FFFFFFu;
      }
    }
  }

  void EmfMaskBlt(const TRecordReader& r) {
    if (FInPath) return;
    const QRectF dst(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
    const uint32_t rop = r.U32(40) & 0x00FFFFFF; // the foreground operation
    QImage image = RecordDib(r, r.U32(84), r.U32(88), r.U32(92), r.U32(96), r.U32(80), false);
    if (image.isNull()) return;
    const QRectF src = SourcePixels(r, 52, QRectF(r.I32(44), r.I32(48), dst.width(), dst.height()));
    const QImage mask =
        RecordDib(r, r.U32(112), r.U32(116), r.U32(120), r.U32(124), r.U32(108), false);
    ApplyMask(image, mask, r.I32(100), r.I32(104), src);
    DrawImage(image, src, dst, mask.isNull() ? rop : R_SRCCOPY, TBlend::Rop, 0, true);
  }

  // PlgBlt: the source rectangle onto the parallelogram of three points
  // (top-left, top-right, bottom-left).
  void EmfPlgBlt(const TRecordReader& r) {
    if (FInPath) return;
    const QPointF p0(r.I32(24), r.I32(28)), p1(r.I32(32), r.I32(36)), p2(r.I32(40), r.I32(44));
    const QRectF src(r.I32(48), r.I32(52), r.I32(56), r.I32(60));
    if (src.width() == 0 || src.height() == 0) return;
    QImage image = RecordDib(r, r.U32(96), r.U32(100), r.U32(104), r.U32(108), r.U32(92), false);
    if (image.isNull()) return;
    const QImage mask =
        RecordDib(r, r.U32(124), r.U32(128), r.U32(132), r.U32(136), r.U32(120), false);
    ApplyMask(image, mask, r.I32(112), r.I32(116), src);
    const double m11 = (p1.x() - p0.x()) / src.width(), m12 = (p1.y() - p0.y()) / src.width();
    const double m21 = (p2.x() - p0.x()) / src.height(), m22 = (p2.y() - p0.y()) / src.height();
    const QTransform toLogical(m11, m12, m21, m22, p0.x() - src.x() * m11 - src.y() * m21,
                               p0.y() - src.x() * m12 - src.y() * m22);
    DrawImageMapped(image, src, toLogical, R_SRCCOPY, TBlend::Rop, 0);
  }

  void EmfGradient(const TRecordReader& r) {
    const uint32_t nVer = r.U32(24), nTri = r.U32(28), mode = r.U32(32);
    if (nVer > r.Size() / 16 || nTri > r.Size() / 8) return;
    r.Need(36, size_t(nVer) * 16);
    auto vertex = [&](uint32_t i, QPointF& p, QColor& c) {
      if (i >= nVer) return false;
      const size_t o = 36 + size_t(i) * 16;
      p = QPointF(r.I32(o), r.I32(o + 4));
      c = QColor(r.U16(o + 8) >> 8, r.U16(o + 10) >> 8, r.U16(o + 12) >> 8);
      return true;
    };
    if (FInPath) return;
    Prepare();
    const size_t base = 36 + size_t(nVer) * 16;
    for (uint32_t k = 0; k < nTri; ++k) {
      QPointF p[3];
      QColor c[3];
      if (mode == 2) {
        const size_t o = base + size_t(k) * 12;
        if (!vertex(r.U32(o), p[0], c[0]) || !vertex(r.U32(o + 4), p[1], c[1]) ||
            !vertex(r.U32(o + 8), p[2], c[2]))
          continue;
        QPainterPath path;
        path.addPolygon(QPolygonF({p[0], p[1], p[2]}));
        const QColor avg((c[0].red() + c[1].red() + c[2].red()) / 3,
                         (c[0].green() + c[1].green() + c[2].green()) / 3,
                         (c[0].blue() + c[1].blue() + c[2].blue()) / 3);
        FP.fillPath(path, avg);
      } else {
        const size_t o = base + size_t(k) * 8;
        if (!vertex(r.U32(o), p[0], c[0]) || !vertex(r.U32(o + 4), p[1], c[1])) continue;
        const QRectF box = QRectF(p[0], p[1]).normalized();
        QLinearGradient g(p[0],
                          mode == 0 ? QPointF(p[1].x(), p[0].y()) : QPointF(p[0].x(), p[1].y()));
        g.setColorAt(0, c[0]);
        g.setColorAt(1, c[1]);
        FP.fillRect(box, g);
      }
    }
  }

  void PlayEmf(uint32_t Type, const TRecordReader& r) {
    switch (Type) {
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 85:
    case 86:
    case 87:
    case 88:
    case 89:
      EmfPoly(Type, r);
      break;
    case 7:
    case 8:
    case 90:
    case 91:
      EmfPolyPoly(Type, r);
      break;
    case 56:
    case 92: {
      const uint32_t count = r.U32(24);
      const bool shortPts = Type == 92;
      const QPolygonF pts = ReadPoints(r, 28, count, shortPts);
      const uint8_t* types = r.Bytes(28 + size_t(count) * (shortPts ? 4 : 8), count);
      PolyDraw(pts, types);
      break;
    }
    case 9: {
      const double cx = r.I32(8), cy = r.I32(12);
      if (cx != 0 && cy != 0) S.WindowExt = QSizeF(cx, cy);
      StateChanged();
      break;
    }
    case 10:
      S.WindowOrg = QPointF(r.I32(8), r.I32(12));
      StateChanged();
      break;
    case 11: {
      const double cx = r.I32(8), cy = r.I32(12);
      if (cx != 0 && cy != 0) S.ViewportExt = QSizeF(cx, cy);
      StateChanged();
      break;
    }
    case 12:
      S.ViewportOrg = QPointF(r.I32(8), r.I32(12));
      StateChanged();
      break;
    case 31:
    case 32: {
      const double xn = r.I32(8), xd = r.I32(12), yn = r.I32(16), yd = r.I32(20);
      if (xn == 0 || xd == 0 || yn == 0 || yd == 0) break;
      QSizeF& ext = Type == 31 ? S.ViewportExt : S.WindowExt;
      ext = QSizeF(ext.width() * xn / xd, ext.height() * yn / yd);
      StateChanged();
      break;
    }
    case 15: {
      if (FInPath) break;
      Prepare();
      FP.fillRect(QRectF(r.I32(8), r.I32(12), 1, 1), ColorRef(r.U32(16)));
      break;
    }
    case 17:
      S.MapMode = int(r.U32(8));
      StateChanged();
      break;
    case 18:
      S.BkMode = int(r.U32(8));
      break;
    case 19:
      S.PolyFill = int(r.U32(8));
      break;
    case 21:
      S.StretchMode = int(r.U32(8));
      break;
    case 22:
      S.TextAlign = r.U32(8);
      break;
    case 24:
      S.TextColor = ColorRef(r.U32(8));
      break;
    case 25:
      S.BkColor = ColorRef(r.U32(8));
      break;
    case 26:
      if (S.HasClip) {
        const QTransform& t = Transform();
        const QPointF o = t.map(QPointF(r.I32(8), r.I32(12))) - t.map(QPointF(0, 0));
        S.Clip.translate(int(std::lround(o.x())), int(std::lround(o.y())));
        FClipDirty = true;
      }
      break;
    case 27:
      MoveTo(QPointF(r.I32(8), r.I32(12)));
      break;
    case 29:
      CombineClip(DeviceRect(BoxL(r, 8)), RGN_DIFF);
      break;
    case 30:
      CombineClip(DeviceRect(BoxL(r, 8)), RGN_AND);
      break;
    case 33:
      SaveDC();
      break;
    case 34:
      RestoreDC(r.I32(8));
      break;
    case 35:
      S.World = ReadXform(r, 8);
      StateChanged();
      break;
    case 36: {
      const uint32_t mode = r.U32(32);
      if (mode == 1) {
        S.World = QTransform();
      } else {
        const QTransform x = ReadXform(r, 8);
        if (mode == 2)
          S.World = x * S.World;
        else if (mode == 3)
          S.World = S.World * x;
        else if (mode == 4)
          S.World = x;
      }
      StateChanged();
      break;
    }
    case 37: {
      const uint32_t i = r.U32(8);
      if (i & 0x80000000u)
        SelectStock(i);
      else if (i < FObjects.size())
        Select(FObjects[i]);
      break;
    }
    case 38: {
      TObject* o = ObjectAt(r.U32(8));
      if (!o) break;
      *o = TObject();
      o->Kind = TObjKind::Pen;
      o->Pen.Style = r.U32(12);
      o->Pen.Width = r.I32(16);
      o->Pen.Color = ColorRef(r.U32(24));
      o->Pen.Cosmetic = o->Pen.Width <= 0;
      break;
    }
    case 95: {
      TObject* o = ObjectAt(r.U32(8));
      if (!o) break;
      *o = TObject();
      o->Kind = TObjKind::Pen;
      const uint32_t style = r.U32(28);
      o->Pen.Style = style & 0xFFFF;
      o->Pen.Width = r.U32(32);
      o->Pen.Cosmetic = (style & 0xF0000) == 0;
      o->Pen.Color = ColorRef(r.U32(40));
      if (r.U32(36) == 1) o->Pen.Style = 5;                   // a null brush draws nothing
      if ((o->Pen.Style & 0x0F) == 7) o->Pen.Style &= ~0x0Fu; // user styles drawn solid
      break;
    }
    case 39: {
      TObject* o = ObjectAt(r.U32(8));
      if (!o) break;
      *o = TObject();
      o->Kind = TObjKind::Brush;
      o->Brush.Style = r.U32(12);
      o->Brush.Color = ColorRef(r.U32(16));
      o->Brush.Hatch = r.U32(20);
      break;
    }
    case 93:
    case 94: {
      TObject* o = ObjectAt(r.U32(8));
      if (!o) break;
      *o = TObject();
      o->Kind = TObjKind::Brush;
      o->Brush.Style = 5;
      o->Brush.Color = QColor(128, 128, 128);
      const uint32_t usage = r.U32(12), offBmi = r.U32(16), cbBmi = r.U32(20), offBits = r.U32(24),
                     cbBits = r.U32(28);
      TDibHeader header;
      std::string error;
      QImage image;
      if (ParseDibHeader(r.Bytes(offBmi, cbBmi), cbBmi, header, error, false, usage == 1) &&
          DecodeDibPixels(header, r.Bytes(offBits, cbBits), cbBits, false, image, error))
        o->Brush.Pattern = image;
      break;
    }
    case 82: {
      TObject* o = ObjectAt(r.U32(8));
      if (!o) break;
      *o = TObject();
      o->Kind = TObjKind::Font;
      o->Font = ReadFont(r, 12, true);
      break;
    }
    case 49: {
      TObject* o = ObjectAt(r.U32(8));
      if (o) {
        *o = TObject();
        o->Kind = TObjKind::Other;
      }
      break;
    }
    case 40: {
      const uint32_t i = r.U32(8);
      if (i < FObjects.size()) FObjects[i] = TObject();
      break;
    }
    case 41: { // AngleArc
      const QPointF c(r.I32(8), r.I32(12));
      const double radius = r.U32(16);
      const double start = r.F32(20), sweep = r.F32(24);
      if (!std::isfinite(start) || !std::isfinite(sweep) || radius > 1e9) break;
      const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
      QPainterPath path(S.Pos);
      QPainterPath arc;
      arc.arcMoveTo(box, start);
      path.lineTo(arc.currentPosition());
      path.arcTo(box, start, std::clamp(sweep, -3600.0, 3600.0));
      S.Pos = path.currentPosition();
      if (FInPath)
        FPath.addPath(path);
      else
        Figure(path, false, true);
      break;
    }
    case 42:
      Ellipse(BoxL(r, 8));
      break;
    case 43:
      Rectangle(BoxL(r, 8));
      break;
    case 44:
      RoundRect(BoxL(r, 8), r.I32(24), r.I32(28));
      break;
    case 45:
    case 46:
    case 47:
    case 55: {
      const QRectF box = BoxL(r, 8);
      const QPointF start(r.I32(24), r.I32(28)), end(r.I32(32), r.I32(36));
      ArcFigure(box, start, end, Type == 45 ? 0 : Type == 46 ? 1 : Type == 47 ? 2 : 3);
      break;
    }
    case 54:
      LineTo(QPointF(r.I32(8), r.I32(12)));
      break;
    case 57:
      S.ArcDirection = int(r.U32(8));
      break;
    case 59:
      FPath = QPainterPath();
      FInPath = true;
      FPathNeedsMove = true;
      break;
    case 60:
      FInPath = false;
      break;
    case 61:
      if (FInPath) FPath.closeSubpath();
      break;
    case 62:
      FillStrokePath(true, false);
      break;
    case 63:
      FillStrokePath(true, true);
      break;
    case 64:
      FillStrokePath(false, true);
      break;
    case 66: { // WidenPath: the outline the pen would draw
      QPen pen;
      if (MakePen(pen) && pen.widthF() > 0) {
        QPainterPathStroker stroker(pen);
        FPath = stroker.createStroke(FPath);
      }
      break;
    }
    case 67:
      SelectClipPath(r.U32(8));
      break;
    case 68:
      EndPathUse();
      break;
    case 71: { // FillRgn
      const uint32_t cb = r.U32(24), ih = r.U32(28);
      const QRegion region = ReadRegion(r, 32, cb);
      if (FInPath || ih >= FObjects.size() || FObjects[ih].Kind != TObjKind::Brush) break;
      FillRegion(region, FObjects[ih].Brush);
      break;
    }
    case 74: { // PaintRgn
      const QRegion region = ReadRegion(r, 28, r.U32(24));
      if (!FInPath) FillRegion(region, S.Brush);
      break;
    }
    case 75: { // ExtSelectClipRgn
      const uint32_t cb = r.U32(8), mode = r.U32(12);
      if (mode == RGN_COPY && cb == 0) {
        S.HasClip = false;
        S.Clip = QRegion();
        FClipDirty = true;
      } else if (cb == 0) {
        // No region with another mode: nothing to combine.
      } else {
        CombineClip(ReadRegion(r, 16, cb), mode);
      }
      break;
    }
    case 76:
    case 77:
    case 114:
    case 116:
      EmfBlt(Type, r);
      break;
    case 78:
      EmfMaskBlt(r);
      break;
    case 79:
      EmfPlgBlt(r);
      break;
    case 80: { // SetDIBitsToDevice
      const QRectF src(r.I32(32), r.I32(36), r.I32(40), r.I32(44));
      const QRectF dst(r.I32(24), r.I32(28), src.width(), src.height());
      const uint32_t offBmi = r.U32(48), cbBmi = r.U32(52), offBits = r.U32(56), cbBits = r.U32(60);
      DrawDib(r.Bytes(offBmi, cbBmi), cbBmi, r.Bytes(offBits, cbBits), cbBits, r.U32(64), src, true,
              dst, R_SRCCOPY, TBlend::Rop, 0, true);
      break;
    }
    case 81: { // StretchDIBits
      const QRectF src(r.I32(32), r.I32(36), r.I32(40), r.I32(44));
      const QRectF dst(r.I32(24), r.I32(28), r.I32(72), r.I32(76));
      const uint32_t offBmi = r.U32(48), cbBmi = r.U32(52), offBits = r.U32(56), cbBits = r.U32(60);
      if (cbBmi == 0) {
        PatBlt(dst, r.U32(68));
        break;
      }
      DrawDib(r.Bytes(offBmi, cbBmi), cbBmi, r.Bytes(offBits, cbBits), cbBits, r.U32(64), src, true,
              dst, r.U32(68));
      break;
    }
    case 83:
      EmfText(r, 36, false);
      break;
    case 84:
      EmfText(r, 36, true);
      break;
    case 96:
    case 97: {
      const uint32_t n = r.U32(36);
      if (n > r.Size() / 40) break;
      for (uint32_t i = 0; i < n; ++i)
        EmfText(r, 40 + size_t(i) * 40, Type == 97);
      break;
    }
    case 118:
      EmfGradient(r);
      break;
    default:
      break; // comments (EMF+ included), palettes, colour management and the rest
    }
  }

  void FillRegion(const QRegion& Region, const TBrushDef& Brush) {
    Prepare();
    QPainterPath path;
    path.addRegion(Region);
    // The region is in the destination's space already.
    const QTransform inverse = Transform().inverted();
    FillWith(inverse.map(path), Brush);
  }

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

} // namespace

void PlayMetafile(const TMetafileData& M, QPainter& Painter, const QRectF& Dest) {
  TPlayer player(M, Painter, Dest);
  player.Play();
}

// Playing an EMF: where its frame lies on the destination, and its records.

#include "platform/MetaFilePlayerState.h"

#include "platform/IconMetaDib.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace metafile_player {

void TPlayer::SetupEmfPlayback() {
  // Reference device pixels per millimetre, for the frame and the metric modes.
  if (FM.DeviceWidth > 0 && FM.DeviceHeight > 0 && FM.DeviceWidthMM > 0 && FM.DeviceHeightMM > 0) {
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

// ---- EMF records ----

QRectF TPlayer::BoxL(const TRecordReader& r, size_t Off) {
  return Box(r.I32(Off), r.I32(Off + 4), r.I32(Off + 8), r.I32(Off + 12));
}

QTransform TPlayer::ReadXform(const TRecordReader& r, size_t Off) {
  const double m11 = r.F32(Off), m12 = r.F32(Off + 4), m21 = r.F32(Off + 8), m22 = r.F32(Off + 12),
               dx = r.F32(Off + 16), dy = r.F32(Off + 20);
  for (double v : {m11, m12, m21, m22, dx, dy})
    if (!std::isfinite(v)) throw ERecordTruncated("transform is not finite");
  return QTransform(m11, m12, m21, m22, dx, dy);
}

void TPlayer::EmfPoly(uint32_t Type, const TRecordReader& r) {
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

void TPlayer::EmfPolyPoly(uint32_t Type, const TRecordReader& r) {
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

void TPlayer::EmfText(const TRecordReader& r, size_t T, bool Wide) {
  const QPointF ref(r.I32(T), r.I32(T + 4));
  const uint32_t n = r.U32(T + 8);
  const uint32_t offString = r.U32(T + 12);
  const uint32_t opts = r.U32(T + 16);
  const QRectF rect = BoxL(r, T + 20);
  const uint32_t offDx = r.U32(T + 36);
  if (n > r.Size()) throw ERecordTruncated("text length beyond the record");
  QString s;
  if (Wide) {
    // UTF-16 code units, little-endian.
    TByteReader units(r.Bytes(offString, size_t(n) * 2), size_t(n) * 2);
    s.resize(qsizetype(n));
    for (uint32_t i = 0; i < n; ++i) {
      const uint16_t unit = units.Le16();
      s[qsizetype(i)] = QChar(unit);
    }
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
QRectF TPlayer::SourcePixels(const TRecordReader& r, size_t Off, const QRectF& Src) {
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

void TPlayer::EmfBlt(uint32_t Type, const TRecordReader& r) {
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
QImage TPlayer::RecordDib(const TRecordReader& r, size_t OffBmi, size_t CbBmi, size_t OffBits,
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
void TPlayer::ApplyMask(QImage& Image, const QImage& Mask, int MaskX, int MaskY,
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

void TPlayer::EmfMaskBlt(const TRecordReader& r) {
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
void TPlayer::EmfPlgBlt(const TRecordReader& r) {
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

void TPlayer::EmfGradient(const TRecordReader& r) {
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

void TPlayer::PlayEmf(uint32_t Type, const TRecordReader& r) {
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

void TPlayer::FillRegion(const QRegion& Region, const TBrushDef& Brush) {
  Prepare();
  QPainterPath path;
  path.addRegion(Region);
  // The region is in the destination's space already.
  const QTransform inverse = Transform().inverted();
  FillWith(inverse.map(path), Brush);
}

} // namespace metafile_player

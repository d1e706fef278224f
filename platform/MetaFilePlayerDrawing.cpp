// The player's drawing: pens, brushes, figures, bitmaps and text.

#include "platform/MetaFilePlayerState.h"

#include "platform/IconMetaDib.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace metafile_player {

// ---- pens, brushes, drawing ----

bool TPlayer::MakePen(QPen& Pen) const {
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
bool TPlayer::MakeBrush(const TBrushDef& d, QBrush& Brush, std::optional<QBrush>& Background) {
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

void TPlayer::FillWith(const QPainterPath& Path, const TBrushDef& d) {
  QBrush brush;
  std::optional<QBrush> background;
  if (!MakeBrush(d, brush, background)) return;
  if (background) FP.fillPath(Path, *background);
  FP.fillPath(Path, brush);
}

// Fills and/or outlines a figure in logical coordinates, or adds it to the
// path being recorded.
void TPlayer::Figure(QPainterPath Path, bool Fill, bool Stroke) {
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

QPolygonF TPlayer::ReadPoints(const TRecordReader& r, size_t Off, size_t Count, bool Short) {
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

void TPlayer::Polyline(const QPolygonF& Poly) {
  if (Poly.size() < 2) return;
  QPainterPath path;
  path.addPolygon(Poly);
  Figure(path, false, true);
}

void TPlayer::Polygon(const QPolygonF& Poly) {
  if (Poly.size() < 2) return;
  QPainterPath path;
  path.addPolygon(Poly);
  path.closeSubpath();
  Figure(path, true, true);
}

void TPlayer::PolyPolygon(const std::vector<QPolygonF>& Polys) {
  QPainterPath path;
  for (const QPolygonF& p : Polys) {
    if (p.size() < 2) continue;
    path.addPolygon(p);
    path.closeSubpath();
  }
  Figure(path, true, true);
}

void TPlayer::LineTo(const QPointF& P) {
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

void TPlayer::MoveTo(const QPointF& P) {
  S.Pos = P;
  if (FInPath) FPathNeedsMove = true;
}

// Lines or curves that continue from the current position.
void TPlayer::PolyTo(const QPolygonF& Pts, bool Bezier) {
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

void TPlayer::PolyBezier(const QPolygonF& Pts) {
  if (Pts.size() < 4) return;
  QPainterPath path(Pts[0]);
  for (qsizetype i = 1; i + 2 < Pts.size(); i += 3)
    path.cubicTo(Pts[i], Pts[i + 1], Pts[i + 2]);
  Figure(path, false, true);
}

void TPlayer::PolyDraw(const QPolygonF& Pts, const uint8_t* Types) {
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

QRectF TPlayer::Box(double L, double T, double R, double B) {
  return QRectF(QPointF(L, T), QPointF(R, B)).normalized();
}

void TPlayer::Rectangle(const QRectF& R) {
  QPainterPath path;
  path.addRect(R);
  Figure(path, true, true);
}

void TPlayer::RoundRect(const QRectF& R, double Cw, double Ch) {
  QPainterPath path;
  path.addRoundedRect(R, std::abs(Cw) / 2, std::abs(Ch) / 2);
  Figure(path, true, true);
}

void TPlayer::Ellipse(const QRectF& R) {
  QPainterPath path;
  path.addEllipse(R);
  Figure(path, true, true);
}

// Parametric angle, in degrees, of the ray from the box's centre to P.
double TPlayer::RayAngle(const QRectF& R, const QPointF& P) {
  const QPointF c = R.center();
  const double rx = std::max(R.width() / 2, 1e-9), ry = std::max(R.height() / 2, 1e-9);
  return std::atan2(-(P.y() - c.y()) / ry, (P.x() - c.x()) / rx) * 180.0 / M_PI;
}

// Kind 0 arc, 1 chord, 2 pie, 3 arc continuing from the current position.
void TPlayer::ArcFigure(const QRectF& R, const QPointF& Start, const QPointF& End, int Kind) {
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
void TPlayer::PatBlt(const QRectF& R, uint32_t Rop) {
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

// Draws a DIB (header at Info, pixels at Bits) from the source rectangle
// (pixels; from the bottom row when BottomUpSource and the DIB is bottom-up)
// into the logical destination rectangle.
void TPlayer::DrawDib(const uint8_t* Info, size_t InfoSize, const uint8_t* Bits, size_t BitsSize,
                      uint32_t Usage, QRectF Src, bool BottomUpSource, const QRectF& DestL,
                      uint32_t Rop, TBlend Blend, uint32_t Extra, bool WholeIfOutside) {
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
void TPlayer::DrawImage(QImage Image, QRectF Src, const QRectF& DestL, uint32_t Rop, TBlend Blend,
                        uint32_t Extra, bool WholeIfOutside) {
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
void TPlayer::DrawImageMapped(QImage Image, const QRectF& Src, const QTransform& ToLogical,
                              uint32_t Rop, TBlend Blend, uint32_t Extra) {
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
bool TPlayer::DecodeBitmap16(const TRecordReader& r, size_t Off, QImage& Image) {
  const int w = r.I16(Off + 2), h = r.I16(Off + 4), widthBytes = r.I16(Off + 6);
  const int bpp = r.U8(Off + 9);
  if (w <= 0 || h <= 0 || widthBytes <= 0 || int64_t(w) * h > kMaxDibPixels) return false;
  if (int64_t(widthBytes) * 8 < int64_t(w) * bpp) return false;
  const size_t bitsOff = Off + 10;
  if (!r.Has(bitsOff, size_t(widthBytes) * h)) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
  Image = QImage(w, h, QImage::Format_ARGB32);
  if (Image.isNull()) return false;
  TByteReader rows(r.Bytes(bitsOff, size_t(widthBytes) * h), size_t(widthBytes) * h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = rows.Bytes(size_t(widthBytes)); // holds the w pixels (checked above)
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
void TPlayer::DrawPackedDib(const TRecordReader& r, size_t Off, uint32_t Usage, const QRectF& Src,
                            const QRectF& DestL, uint32_t Rop, bool WholeIfOutside) {
  r.Need(Off, 12);
  const size_t size = r.Size() - Off;
  TDibHeader header;
  std::string error;
  if (!ParseDibHeader(r.Data() + Off, size, header, error, false, Usage == 1)) return;
  DrawDib(r.Data() + Off, size, r.Data() + Off + header.InfoSize, size - header.InfoSize, Usage,
          Src, true, DestL, Rop, TBlend::Rop, 0, WholeIfOutside);
}

QImage TPlayer::PackedDibImage(const TRecordReader& r, size_t Off, uint32_t Usage) {
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

void TPlayer::Text(QPointF Ref, const QString& Str, const std::vector<double>& Dx, uint32_t Options,
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

} // namespace metafile_player

// Playing a WMF: where its picture lies on the destination, and its records.

#include "platform/MetaFilePlayerState.h"

#include <QPainter>

#include <cmath>

namespace metafile_player {

// A WMF is played as Windows plays a placeable file: anisotropic mapping,
// the window starting as the bounding box (or, in a plain file, as the
// first window the file sets) and the viewport as that same window. The
// window and viewport the file sets before its first drawing record give
// the picture's rectangle in device units, which is mapped onto Dest; later
// window and viewport records move and scale the drawing inside it.
void TPlayer::SetupWmfPlayback() {
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
      stop =
          !(rec.Type == 0x0102 || rec.Type == 0x0104 || rec.Type == 0x0106 || rec.Type == 0x0107 ||
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

// ---- WMF records ----

void TPlayer::PlayWmf(uint32_t Fn, const TRecordReader& r) {
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
    RoundRect(Box(r.I16(W + 10), r.I16(W + 8), r.I16(W + 6), r.I16(W + 4)), r.I16(W + 2), r.I16(W));
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

} // namespace metafile_player

// The player's device context: coordinate mapping, clipping, the object
// table, saved states and paths.

#include "platform/MetaFilePlayerState.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace metafile_player {

namespace {

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

} // namespace

// ---- coordinate mapping ----

// Window and viewport: logical coordinates to (reference) device units.
QTransform TPlayer::PageTransform(const TState& St) const {
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
const QTransform& TPlayer::Transform() {
  if (!FTransformDirty) return FTransform;
  FTransformDirty = false;
  FTransform = S.World * PageTransform(S) * FPlayback;
  return FTransform;
}

// Puts the clip and the transform on the painter before drawing.
void TPlayer::Prepare() {
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

QRegion TPlayer::DeviceRect(const QRectF& Logical) {
  const QRectF r = Transform().mapRect(Logical.normalized());
  const QPoint tl(int(std::lround(r.left())), int(std::lround(r.top())));
  const QPoint br(int(std::lround(r.right())) - 1, int(std::lround(r.bottom())) - 1);
  if (br.x() < tl.x() || br.y() < tl.y()) return QRegion();
  return QRegion(QRect(tl, br));
}

void TPlayer::CombineClip(const QRegion& R, uint32_t Mode) {
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
QRegion TPlayer::ReadRegion(const TRecordReader& r, size_t Off, size_t Size) {
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

// ---- objects ----

TObject* TPlayer::ObjectAt(uint32_t Index) {
  if (Index >= FObjects.size()) {
    if (Index >= kMaxObjects) return nullptr;
    FObjects.resize(Index + 1);
  }
  return &FObjects[Index];
}

// WMF objects take the lowest free slot.
// Slots below FFirstFree are all taken, so a file that creates many
// objects does not rescan the table each time.
void TPlayer::AddWmfObject(const TObject& O) {
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

void TPlayer::Select(const TObject& O) {
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

void TPlayer::SelectStock(uint32_t Index) {
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

TFontDef TPlayer::ReadFont(const TRecordReader& r, size_t Off, bool Wide) {
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

QString TPlayer::Decode8Bit(const uint8_t* Bytes, size_t Count) const {
  return QString::fromLatin1(reinterpret_cast<const char*>(Bytes), qsizetype(Count));
}

// ---- save and restore ----

void TPlayer::SaveDC() {
  if (FStack.size() < 100000) FStack.push_back(S);
}

void TPlayer::RestoreDC(int N) {
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

void TPlayer::EndPathUse() {
  FPath = QPainterPath();
  FInPath = false;
}

void TPlayer::FillStrokePath(bool Fill, bool Stroke) {
  FInPath = false;
  QPainterPath path = FPath;
  Figure(path, Fill, Stroke);
  EndPathUse();
}

void TPlayer::SelectClipPath(uint32_t Mode) {
  FInPath = false;
  QPainterPath path = FPath;
  path.setFillRule(S.PolyFill == 2 ? Qt::WindingFill : Qt::OddEvenFill);
  CombineClip(PathRegion(Transform().map(path)), Mode);
  EndPathUse();
}

// The pixels a path in the destination's space covers, within the device.
// The path is rasterised into a mask rather than handed to QRegion's
// polygon code, which mishandles some degenerate polygons.
QRegion TPlayer::PathRegion(const QPainterPath& Path) const {
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

} // namespace metafile_player

// The grid's glyphs, title layout and painting.
#include "grid/DbAltGrid.h"

#include <QFontMetrics>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

static void InitGlyphResources() {
  Q_INIT_RESOURCE(glyphs);
}

namespace {

constexpr int GlyphSize = 9;
constexpr int TextInsetX = 2;   // left and right
constexpr int TextInsetTop = 2; // 1, plus 1 more at the top
constexpr int TextInsetBottom = 1;
constexpr int GlyphGap = 6; // caption text width + this = glyph's left edge

} // namespace

// ---------------------------------------------------------------------------
// Glyphs and titles

const std::array<QPixmap, 9>& TCustomDbAltGrid::GlyphList() {
  static const std::array<QPixmap, 9> glyphs = [] {
    InitGlyphResources();
    static const char* const names[9] = {
        "ARROWCOLLAPSED",         "ARROWEXPANDED",           "ICONCOLLAPSED",
        "ICONEXPANDED",           "SORTASCENDING",           "SORTDESCENDING",
        "SORTAVAILABLEASCENDING", "SORTAVAILABLEDESCENDING", "SORTAVAILABLEBOTH"};
    std::array<QPixmap, 9> list;
    for (int i = 0; i < 9; ++i) {
      QImage image(QStringLiteral(":/glyphs/") + QLatin1String(names[i]));
      image = image.convertToFormat(QImage::Format_ARGB32);
      // Magenta is transparent.
      for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
          if ((line[x] & 0xFFFFFF) == 0xFF00FF) line[x] = 0;
      }
      list[static_cast<std::size_t>(i)] = QPixmap::fromImage(image);
    }
    return list;
  }();
  return glyphs;
}

int TCustomDbAltGrid::SortGlyphIndex(unsigned marker) {
  if (marker == 0) return -1;
  return 4 + static_cast<int>(std::min(marker, 5u)) - 1;
}

QRect TCustomDbAltGrid::SortGlyphRect(int col) const {
  if (col < 0 || col >= FColumns.Count() || !FOptions.Contains(TDBGridOption::dgTitles)) return {};
  const TdagColumn& column = FColumns[col];
  const QRect area = CellRect(col, 0);
  if (column.SortMarker() == 0 || area.width() <= GlyphSize) return {};
  const int textWidth =
      QFontMetrics(column.Title().Font()).horizontalAdvance(column.Title().Caption());
  const int left =
      std::min(area.left() + textWidth + GlyphGap, area.left() + area.width() - GlyphSize);
  const int top = area.top() + (area.height() - GlyphSize) / 2;
  return QRect(left, top, GlyphSize, GlyphSize);
}

QRect TCustomDbAltGrid::TitleCaptionRect(int col) const {
  if (col < 0 || col >= FColumns.Count()) return {};
  const QRect area = CellRect(col, 0);
  const QRect glyph = SortGlyphRect(col);
  // The caption ends 1 pixel left of the glyph, else at the text inset.
  const int right = glyph.isNull() ? area.left() + area.width() - TextInsetX : glyph.left() - 1;
  return QRect(QPoint(area.left() + TextInsetX, area.top() + TextInsetTop),
               QPoint(right - 1, area.bottom() - TextInsetBottom));
}

QString TCustomDbAltGrid::TitleCaptionText(int col) const {
  if (col < 0 || col >= FColumns.Count()) return {};
  const TdagColumn& column = FColumns[col];
  const QRect rect = TitleCaptionRect(col);
  return QFontMetrics(column.Title().Font())
      .elidedText(column.Title().Caption(), Qt::ElideRight, std::max(0, rect.width()));
}

// ---------------------------------------------------------------------------
// Painting

void TCustomDbAltGrid::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  const QRect client = ClientRect();
  p.setClipRect(client.intersected(event->rect()));
  PaintTitles(p, client);
  PaintRows(p, client);
  p.setClipping(false);
  if (!FVertBar->isHidden() && !FHorzBar->isHidden())
    p.fillRect(QRect(client.right() + 1, client.bottom() + 1, width() - client.width(),
                     height() - client.height()),
               DagColorToQColor(dagcl::BtnFace, palette()));
}

void TCustomDbAltGrid::PaintTitles(QPainter& p, const QRect& client) {
  if (!FOptions.Contains(TDBGridOption::dgTitles) || FTitleHeight <= 0) return;
  const QPalette& pal = palette();
  const QColor background = DagColorToQColor(FFixedColor, pal);
  const QColor lineColor = DagColorToQColor(FAltColors.FixedLine, pal);
  const QColor textColor =
      isEnabled() ? pal.color(QPalette::ButtonText) : DagColorToQColor(dagcl::GrayText, pal);
  const QColor light = pal.color(QPalette::Light);
  const bool colLines = FOptions.Contains(TDBGridOption::dgColLines);
  const bool rowLines = FOptions.Contains(TDBGridOption::dgRowLines);
  const int n = FColumns.Count();
  int right = -FHorzOffset;
  for (int c = 0; c < n; ++c) {
    const QRect cell = CellRect(c, 0);
    right = cell.left() + cell.width() + (colLines ? FLineWidth : 0);
    if (cell.left() > client.right() || right <= client.left()) continue;
    p.fillRect(cell, background);
    // Raised look: a light edge at the top and left of the title.
    p.fillRect(QRect(cell.left(), cell.top(), cell.width(), 1), light);
    p.fillRect(QRect(cell.left(), cell.top(), 1, cell.height()), light);
    if (colLines)
      p.fillRect(QRect(cell.left() + cell.width(), 0, FLineWidth, FTitleHeight), lineColor);

    const TdagColumn& column = FColumns[c];
    const QRect captionRect = TitleCaptionRect(c);
    if (captionRect.width() > 0) {
      p.save();
      p.setClipRect(captionRect.intersected(client));
      p.setFont(column.Title().Font());
      p.setPen(textColor);
      const QFontMetrics fm(column.Title().Font());
      p.drawText(QPoint(captionRect.left(), captionRect.top() + fm.ascent()), TitleCaptionText(c));
      p.restore();
    }
    const int glyphIndex = SortGlyphIndex(column.SortMarker());
    const QRect glyphRect = SortGlyphRect(c);
    if (glyphIndex >= 0 && !glyphRect.isNull()) {
      p.save();
      p.setClipRect(cell.intersected(client));
      p.drawPixmap(glyphRect.topLeft(), GlyphList()[static_cast<std::size_t>(glyphIndex)]);
      p.restore();
    }
  }
  // While a column is dragged: a bar where it would land.
  if (FState == TGridState::ColMoving && FMoveTarget >= 0 && FMoveTarget < n) {
    const QRect target = CellRect(FMoveTarget, 0);
    const int x = FMoveTarget > FPressCol ? target.left() + target.width() - 1 : target.left();
    p.fillRect(QRect(x - 1, 0, 3, FTitleHeight), pal.color(QPalette::Highlight));
  }
  // The title area right of the last column.
  if (right <= client.right())
    p.fillRect(QRect(right, 0, client.right() + 1 - right, FTitleHeight),
               DagColorToQColor(FAltColors.HeaderBlank, pal));
  if (rowLines)
    p.fillRect(QRect(client.left(), FTitleHeight - FLineWidth, std::min(right, client.right() + 1),
                     FLineWidth),
               lineColor);
}

void TCustomDbAltGrid::PaintRows(QPainter& p, const QRect& client) {
  const QPalette& pal = palette();
  const QRect dirty = p.clipBoundingRect().toAlignedRect();
  const bool colLines = FOptions.Contains(TDBGridOption::dgColLines);
  const bool rowLines = FOptions.Contains(TDBGridOption::dgRowLines);
  const int rowLine = rowLines ? FLineWidth : 0;
  const int colLine = colLines ? FLineWidth : 0;
  const QColor colLineColor = DagColorToQColor(FAltColors.ColLine, pal);
  const QColor rowLineColor = DagColorToQColor(FAltColors.RowLine, pal);
  const QColor blank = DagColorToQColor(FAltColors.RowBlank, pal);
  const bool focused = hasFocus();
  const bool noHighlight =
      FAltColors.Highlight == dagcl::None || FAltColors.HighlightText == dagcl::None;
  const QColor highlight = DagColorToQColor(FAltColors.Highlight, pal);
  const QColor highlightText = DagColorToQColor(FAltColors.HighlightText, pal);
  const QColor inactiveHighlight = DagColorToQColor(dagcl::InactiveBorder, pal);
  const QColor normalText = isEnabled() ? DagColorToQColor(dagcl::WindowText, pal)
                                        : DagColorToQColor(dagcl::GrayText, pal);
  const bool striped = FAltOptions.Contains(TdagAltOption::dagStripedRows) && isEnabled();
  const QColor stripe0 = DagColorToQColor(FAltColors.Stripe0, pal);
  const QColor stripe1 = DagColorToQColor(FAltColors.Stripe1, pal);

  const int n = FColumns.Count();
  // Per-column geometry, fonts and colours, computed once per paint.
  struct TColumnPaint {
    int Left, Width;
    QFont Font;
    int Ascent;
    QColor Color;
    bool GridColor;
    Qt::Alignment Alignment;
    int FontId; // columns with equal fonts share one, so the painter's font is set rarely
  };
  std::vector<TColumnPaint> cols;
  cols.reserve(static_cast<std::size_t>(n));
  int right = -FHorzOffset;
  for (int c = 0; c < n; ++c) {
    const TdagColumn& column = FColumns[c];
    const QFont f = column.Font();
    int fontId = c;
    for (const TColumnPaint& earlier : cols)
      if (earlier.Font == f) {
        fontId = earlier.FontId;
        break;
      }
    cols.push_back({right, column.Width(), f, QFontMetrics(f).ascent(),
                    DagColorToQColor(column.Color(), pal), column.Color() == FColor,
                    column.Alignment(), fontId});
    right += column.Width() + colLine;
  }
  const int firstRecNo = FRecNo > 0 ? FRecNo - FActiveRow : 1;

  int currentFont = -1; // the font id the painter has
  QColor currentPen;
  int y = FTitleHeight;
  const int rows = RowCount();
  for (int r = 0; r < rows && y <= client.bottom(); ++r, y += FRowHeight) {
    const int cellHeight = FRowHeight - rowLine;
    if (y + FRowHeight <= dirty.top() || y > dirty.bottom()) continue;
    const bool lit = RowHighlighted(r + 1);
    const TRowCache& row = FRows[static_cast<std::size_t>(r)];
    for (int c = 0; c < n; ++c) {
      const TColumnPaint& cp = cols[static_cast<std::size_t>(c)];
      if (cp.Left > client.right() || cp.Left + cp.Width + colLine <= client.left()) continue;
      const QRect cell(cp.Left, y, cp.Width, cellHeight);
      QColor background = cp.Color;
      if (striped && cp.GridColor) background = ((firstRecNo + r) % 2 == 0) ? stripe1 : stripe0;
      QColor text = normalText;
      if (lit && !noHighlight) {
        if (focused) {
          background = highlight;
          text = highlightText;
        } else {
          background = inactiveHighlight;
        }
      }
      p.fillRect(cell, background);
      if (colLines)
        p.fillRect(QRect(cell.left() + cell.width(), y, colLine, FRowHeight), colLineColor);
      const QString& value = row.Texts.size() > static_cast<std::size_t>(c)
                                 ? row.Texts[static_cast<std::size_t>(c)]
                                 : QString();
      if (value.isEmpty()) continue;
      const QRect textRect = cell.adjusted(TextInsetX, TextInsetTop, -TextInsetX, -TextInsetBottom);
      if (textRect.width() <= 0) continue;
      if (currentFont != cp.FontId) {
        p.setFont(cp.Font);
        currentFont = cp.FontId;
      }
      if (currentPen != text) {
        p.setPen(text);
        currentPen = text;
      }
      p.setClipRect(textRect.intersected(client).intersected(dirty));
      if (value.contains(QLatin1Char('\t')) || !(cp.Alignment & Qt::AlignLeft)) {
        p.drawText(textRect,
                   static_cast<int>((cp.Alignment & Qt::AlignHorizontal_Mask) | Qt::AlignTop |
                                    Qt::TextSingleLine | Qt::TextExpandTabs),
                   value);
      } else {
        p.drawText(QPoint(textRect.left(), textRect.top() + cp.Ascent), value);
      }
      p.setClipRect(client.intersected(dirty));
    }
    if (rowLines && right > 0)
      p.fillRect(QRect(client.left(), y + cellHeight, std::min(right, client.right() + 1), rowLine),
                 rowLineColor);
    if (right <= client.right())
      p.fillRect(QRect(right, y, client.right() + 1 - right, FRowHeight), blank);
  }
  // The area below the last row.
  if (y <= client.bottom())
    p.fillRect(QRect(client.left(), y, client.width(), client.bottom() + 1 - y), blank);
}

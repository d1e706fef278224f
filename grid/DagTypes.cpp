#include "grid/DagTypes.h"

#include <QColor>
#include <QPalette>

QColor DagColorToQColor(TdagColor color, const QPalette& palette) {
  if (color & 0x80000000u) {
    switch (color & 0xFFu) {
    case 5:
      return palette.color(QPalette::Base);
    case 6:
      return palette.color(QPalette::WindowText);
    case 8:
      return palette.color(QPalette::Text);
    case 11:
      return palette.color(QPalette::Midlight);
    case 13:
      return palette.color(QPalette::Highlight);
    case 14:
      return palette.color(QPalette::HighlightedText);
    case 15:
      return palette.color(QPalette::Button);
    case 17:
      return palette.color(QPalette::Disabled, QPalette::Text);
    default:
      return palette.color(QPalette::Window);
    }
  }
  return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                static_cast<int>((color >> 16) & 0xFF));
}

#include "view/ViewCursors.h"

#include <QGuiApplication>
#include <QPixmap>

// Resources of a static library are registered explicitly (the macro must be
// used outside any namespace).
static void InitViewResources() {
  static const bool Done = [] {
    Q_INIT_RESOURCE(view);
    return true;
  }();
  (void)Done;
}

namespace {

QCursor LoadHandCursor(const char* Path) {
  InitViewResources();
  QPixmap Pixmap(QString::fromLatin1(Path));
  if (Pixmap.isNull()) return QCursor(Qt::OpenHandCursor); // resources missing
  return QCursor(Pixmap, 0, 0);
}

const QCursor& HandOpened() {
  static const QCursor Cursor = LoadHandCursor(":/cursors/handopened.xpm");
  return Cursor;
}

const QCursor& HandClosed() {
  static const QCursor Cursor = LoadHandCursor(":/cursors/handclosed.xpm");
  return Cursor;
}

struct TShapeEntry {
  TCursor Number;
  Qt::CursorShape Shape;
};

constexpr TShapeEntry Shapes[] = {
    {crArrow, Qt::ArrowCursor},        {crCross, Qt::CrossCursor},
    {crSizeNESW, Qt::SizeBDiagCursor}, {crSizeNS, Qt::SizeVerCursor},
    {crSizeNWSE, Qt::SizeFDiagCursor}, {crSizeWE, Qt::SizeHorCursor},
    {crHourGlass, Qt::WaitCursor},
};

} // namespace

QCursor CursorFromNumber(TCursor Cursor) {
  if (Cursor == crHandOpened) return HandOpened();
  if (Cursor == crHandClosed) return HandClosed();
  for (const auto& Entry : Shapes)
    if (Entry.Number == Cursor) return QCursor(Entry.Shape);
  return QCursor(Qt::ArrowCursor);
}

TCursor ScreenCursor() {
  const QCursor* Current = QGuiApplication::overrideCursor();
  if (!Current) return crDefault;
  if (Current->shape() == Qt::BitmapCursor) {
    if (*Current == HandClosed()) return crHandClosed;
    if (*Current == HandOpened()) return crHandOpened;
    return crArrow;
  }
  for (const auto& Entry : Shapes)
    if (Entry.Shape == Current->shape()) return Entry.Number;
  return crArrow;
}

void SetScreenCursor(TCursor Cursor) {
  const bool HasOverride = QGuiApplication::overrideCursor() != nullptr;
  if (Cursor == crDefault) {
    // Qt keeps a stack of override cursors; the screen cursor is one value.
    while (QGuiApplication::overrideCursor())
      QGuiApplication::restoreOverrideCursor();
    return;
  }
  if (HasOverride)
    QGuiApplication::changeOverrideCursor(CursorFromNumber(Cursor));
  else
    QGuiApplication::setOverrideCursor(CursorFromNumber(Cursor));
}

#include "platform/ui/DropFileSource.h"

#include <QApplication>
#include <QDrag>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QRect>
#include <QUrl>
#include <QWidget>

#include <climits>
#include <unistd.h>

namespace {

// A file's address from its path's bytes. File names are bytes: each byte
// outside the unreserved set is percent-encoded as it is, so a name that is
// not valid UTF-8 (Latin-1 "caf\xE9.png") reaches the target exactly.
QUrl FileUrl(const std::string& Path) {
  QByteArray bytes = QByteArray::fromStdString(Path);
  if (!bytes.startsWith('/')) {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) != nullptr) {
      QByteArray folder(cwd);
      if (!folder.endsWith('/')) folder += '/';
      bytes.prepend(folder);
    }
  }
  return QUrl::fromEncoded("file://" + bytes.toPercentEncoding("/"), QUrl::StrictMode);
}

} // namespace

QMimeData* TDropFileSource::CreateMimeData() const {
  auto* data = new QMimeData;
  if (Files.empty()) return data;
  QList<QUrl> urls;
  urls.reserve(static_cast<qsizetype>(Files.size()));
  for (const std::string& f : Files)
    urls.push_back(FileUrl(f));
  data->setUrls(urls);
  // The first path's own bytes, not a text decoding of them.
  data->setData(QStringLiteral("text/plain"), QByteArray::fromStdString(Files.front()));
  return data;
}

TDragResult TDropFileSource::Execute(QWidget* Source) {
  QMimeData* data = CreateMimeData();
  if (ExecuteHook) {
    const TDragResult r = ExecuteHook(data);
    delete data;
    return r;
  }
  Qt::DropActions allowed;
  if (DragTypes & dtCopy) allowed |= Qt::CopyAction;
  if (DragTypes & dtMove) allowed |= Qt::MoveAction;
  if (DragTypes & dtLink) allowed |= Qt::LinkAction;
  auto* drag = new QDrag(Source); // owned by Source; Qt deletes it after exec
  drag->setMimeData(data);
  switch (drag->exec(allowed, Qt::CopyAction)) {
  case Qt::CopyAction:
    return TDragResult::drDropCopy;
  case Qt::MoveAction:
    return TDragResult::drDropMove;
  case Qt::LinkAction:
    return TDragResult::drDropLink;
  case Qt::IgnoreAction:
    return TDragResult::drCancel;
  default:
    return TDragResult::drUnknown;
  }
}

namespace {

// Application-wide filter that runs the drag detection's loop: it watches
// every mouse event while the detection runs and ends the loop on a decision.
class TDragDetector : public QObject {
public:
  TDragDetector(QRect Threshold, QEventLoop& Loop, QWidget* Target, bool KeepRelease)
      : FThreshold(Threshold), FLoop(Loop), FTarget(Target), FKeepRelease(KeepRelease) {
    FClock.start();
  }
  bool Dragging = false;
  std::unique_ptr<QMouseEvent> Release;

  bool eventFilter(QObject* Watched, QEvent* Event) override {
    // Mouse events reach a window first and then its widget; the widget's
    // copy is the one that counts.
    if (!Watched->isWidgetType() && Event->type() != QEvent::Quit) return false;
    switch (Event->type()) {
    case QEvent::MouseMove: {
      auto* me = static_cast<QMouseEvent*>(Event);
      if (!(me->buttons() & (Qt::LeftButton | Qt::RightButton))) {
        Finish(false);
        return false;
      }
      const QPoint p = me->globalPosition().toPoint();
      if (!FThreshold.contains(p) && FClock.elapsed() >= 200) Finish(true);
      return false;
    }
    case QEvent::MouseButtonRelease: {
      auto* me = static_cast<QMouseEvent*>(Event);
      if (me->button() == Qt::LeftButton || me->button() == Qt::RightButton) {
        const bool first = !FDone;
        Finish(false);
        if (first && FKeepRelease && Watched == FTarget) {
          Release.reset(static_cast<QMouseEvent*>(me->clone()));
          return true;
        }
      }
      return false;
    }
    case QEvent::Quit:
    case QEvent::Close:
    case QEvent::WindowDeactivate:
    case QEvent::UngrabMouse:
      Finish(false);
      return false;
    default:
      return false;
    }
  }

private:
  void Finish(bool Drag) {
    if (FDone) return;
    FDone = true;
    Dragging = Drag;
    FLoop.quit();
  }

  QRect FThreshold;
  QEventLoop& FLoop;
  QWidget* FTarget;
  bool FKeepRelease;
  QElapsedTimer FClock;
  bool FDone = false;
};

} // namespace

bool DragDetect(QWidget* W, QPoint Point, std::unique_ptr<QMouseEvent>* EndingRelease) {
  if (!W) return false;
  const int d = QApplication::startDragDistance();
  const QPoint p = W->mapToGlobal(Point);
  const QRect threshold(p.x() - d, p.y() - d, 2 * d + 1, 2 * d + 1);

  QEventLoop loop;
  TDragDetector detector(threshold, loop, W, EndingRelease != nullptr);
  QPointer<QWidget> previous = QWidget::mouseGrabber();
  QPointer<QWidget> guard = W;
  W->grabMouse();
  qApp->installEventFilter(&detector);
  loop.exec();
  qApp->removeEventFilter(&detector);
  if (guard) guard->releaseMouse();
  if (previous && previous != W) previous->grabMouse();
  if (EndingRelease) *EndingRelease = std::move(detector.Release);
  return detector.Dragging;
}

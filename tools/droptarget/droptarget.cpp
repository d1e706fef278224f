// usage: imbrel-droptarget OUTPUT_FILE X Y WIDTH HEIGHT
// Shows a window at the given place that accepts dropped files; on the first
// drop it writes the files' local paths to OUTPUT_FILE, one a line, then the
// line "text: " followed by the dropped plain text, the line "action: ", and
// "uri-list: " followed by the uri-list as received, and ends. Paths and text
// are written as the bytes they stand for.

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPainter>
#include <QUrl>
#include <QWidget>

#include <cstdio>

class TDropTarget : public QWidget {
public:
  explicit TDropTarget(QString Output) : FOutput(std::move(Output)) { setAcceptDrops(true); }

protected:
  void dragEnterEvent(QDragEnterEvent* Event) override {
    if (Event->mimeData()->hasUrls()) Event->acceptProposedAction();
  }
  void dragMoveEvent(QDragMoveEvent* Event) override {
    if (Event->mimeData()->hasUrls()) Event->acceptProposedAction();
  }
  void dropEvent(QDropEvent* Event) override {
    QFile f(FOutput);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
      // Paths and text as bytes: a file name need not be valid UTF-8.
      const QMimeData* data = Event->mimeData();
      for (const QUrl& u : data->urls())
        f.write(QByteArray::fromPercentEncoding(u.path(QUrl::FullyEncoded).toLatin1()) + '\n');
      f.write("text: " + data->data(QStringLiteral("text/plain")) + '\n');
      f.write(QByteArray("action: ") + (Event->dropAction() == Qt::CopyAction ? "copy" : "other") +
              '\n');
      f.write("uri-list: " + data->data(QStringLiteral("text/uri-list")));
    }
    Event->acceptProposedAction();
    QApplication::quit();
  }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(40, 90, 160));
    p.setPen(Qt::white);
    p.drawText(rect(), Qt::AlignCenter, QStringLiteral("Drop pictures here"));
    if (!FReported) {
      FReported = true;
      std::printf("ready\n");
      std::fflush(stdout);
    }
  }

private:
  QString FOutput;
  bool FReported = false;
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 6) {
    std::fprintf(stderr, "usage: imbrel-droptarget OUTPUT_FILE X Y WIDTH HEIGHT\n");
    return 2;
  }
  TDropTarget w(QString::fromLocal8Bit(argv[1]));
  w.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  w.setGeometry(atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), atoi(argv[5]));
  w.show();
  return app.exec();
}

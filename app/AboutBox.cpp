#include "app/AboutBox.h"

#include <QDesktopServices>
#include <QFontMetrics>

#include <algorithm>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimerEvent>
#include <QUrl>
#include <QGuiApplication>

const char* const TAboutBox::ProductUrl = "https://www.tobbins-imbrel.org/";

QString TAboutBox::Info2Text() {
  const QStringList lines = {
      QString(),
      QString(),
      QStringLiteral("Keyboard shortcuts:"),
      QString(),
      QStringLiteral("<Page-Down>, <right arrow>  next image"),
      QStringLiteral("<Page-U[>, <left arrow>          previous image"),
      QStringLiteral("<up arror>                               speed up slides"),
      QStringLiteral("<down arrow>                        slow down slides"),
      QStringLiteral("<esc>                                     exit"),
  };
  return lines.join(QLatin1Char('\n'));
}

QString TAboutBox::Info3Text() {
  const QStringList lines = {
      QStringLiteral("Command line options:"),
      QString(),
      QStringLiteral("-slideshow                starts TobbinsImbrel in slide show mode"),
      QStringLiteral("-Dir:<folder name>    opens a particular directory at startup"),
      QString(),
      QStringLiteral("For example, an autorun.inf file on your cd might contain:"),
      QString(),
      QStringLiteral("[autorun]"),
      QStringLiteral("open=TobbinsImbrel.exe -Dir:\".\\MyImages\""),
      QString(),
      QStringLiteral("to start TobbinsImbrel in the MyImages folder on your cd."),
  };
  return lines.join(QLatin1Char('\n'));
}

namespace {
// The help texts line up their second column with runs of spaces; the label
// keeps its designed box, so its font shrinks until the widest line fits.
void FitFontToWidth(QLabel* Label) {
  QFont f = Label->font();
  const QStringList lines = Label->text().split(QLatin1Char('\n'));
  auto widest = [&lines](const QFont& font) {
    const QFontMetrics m(font);
    int w = 0;
    for (const QString& line : lines)
      w = std::max(w, m.horizontalAdvance(line));
    return w;
  };
  while (f.pointSizeF() > 5.0 && widest(f) > Label->width())
    f.setPointSizeF(f.pointSizeF() - 0.25);
  Label->setFont(f);
}

QLabel* MakeLabel(QWidget* Parent, const QString& Text, int Left, int Top) {
  auto* l = new QLabel(Text, Parent);
  l->setTextFormat(Qt::PlainText);
  l->move(Left, Top);
  l->adjustSize();
  return l;
}
} // namespace

TAboutBox::TAboutBox(QWidget* Parent) : QDialog(Parent) {
  setWindowTitle(QStringLiteral("About Tobbins' Imbrel"));
  setObjectName(QStringLiteral("AboutBox"));
  QFont f(QStringLiteral("Sans Serif"));
  f.setStyleHint(QFont::SansSerif);
  f.setPointSize(8);
  setFont(f);
  setFixedSize(351, 433); // fixed dialog border: not resizable
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button)); // button-face background
  setPalette(pal);

  Panel1 = new QFrame(this);
  Panel1->setGeometry(5, 4, 340, 389);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setLineWidth(1);
  auto* inner = new QFrame(Panel1); // the raised inner bevel
  inner->setGeometry(1, 1, 338, 387);
  inner->setFrameStyle(QFrame::Panel | QFrame::Raised);
  inner->setLineWidth(1);

  ProgramIcon = new QLabel(Panel1);
  ProgramIcon->setGeometry(4, 4, 33, 37);
  ProgramIcon->setPixmap(QPixmap(QStringLiteral(":/icon/tobbins-imbrel-32.png")));
  ProgramIcon->setScaledContents(true); // stretched to the image's size

  ProductName = MakeLabel(Panel1, QStringLiteral("Tobbins' Imbrel"), 52, 8);
  Version = MakeLabel(Panel1, QStringLiteral("2.0"), 52, 24);
  lbVisit = MakeLabel(Panel1, QStringLiteral("Visit"), 12, 48);

  lbURL = MakeLabel(Panel1, QString::fromLatin1(ProductUrl), 40, 48);
  lbURL->resize(233, lbURL->height());
  QFont uf = lbURL->font();
  uf.setUnderline(true);
  lbURL->setFont(uf);
  QPalette up = lbURL->palette();
  up.setColor(QPalette::WindowText, Qt::blue);
  lbURL->setPalette(up);
  lbURL->setCursor(Qt::PointingHandCursor);
  lbURL->installEventFilter(this);

  lbInfo1 = MakeLabel(Panel1, QStringLiteral("for the latest version or information."), 12, 64);
  lbInfo2 = MakeLabel(Panel1, Info2Text(), 14, 88);
  lbInfo2->resize(273, 117);
  lbInfo2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  FitFontToWidth(lbInfo2);
  lbInfo3 = MakeLabel(Panel1, Info3Text(), 14, 220);
  lbInfo3->resize(299, 143);
  lbInfo3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  FitFontToWidth(lbInfo3);

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setGeometry(138, 400, 75, 25);
  OKButton->setDefault(true);
  OKButton->setAutoDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

  OpenUrl = [](const QString& Url) { return QDesktopServices::openUrl(QUrl(Url)); };
  ShowMessage = [this](const QString& Text) {
    QMessageBox::information(this, QString(), Text, QMessageBox::Ok);
  };
}

void TAboutBox::lbURLClick() {
  if (!OpenUrl(QString::fromLatin1(ProductUrl)))
    ShowMessage(QStringLiteral("Unable to start web browser."));
}

void TAboutBox::PlaceAtScreenCentre() {
  const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (s == nullptr) return;
  const QRect r = s->geometry();
  const QSize outer = frameGeometry().size();
  FCentredFrame = outer;
  // The position asked for is where the window manager puts the frame's
  // top-left corner (before the first showing the frame's size is not known
  // yet and the box's own size stands for it); this replaces the dialog's
  // own placement over its parent, which guesses the frame.
  setGeometry(QRect(
      QPoint(r.x() + (r.width() - outer.width()) / 2, r.y() + (r.height() - outer.height()) / 2),
      size()));
}

void TAboutBox::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  if (Event->spontaneous()) return;
  PlaceAtScreenCentre();
  // A window manager's frame becomes known once the box is mapped: placed
  // again then, when its size differs from the one used.
  FRecentreChecks = 40;
  FRecentreTimer.start(25, this);
}

void TAboutBox::timerEvent(QTimerEvent* Event) {
  if (Event->timerId() != FRecentreTimer.timerId()) {
    QDialog::timerEvent(Event);
    return;
  }
  if (!isVisible() || --FRecentreChecks <= 0) {
    FRecentreTimer.stop();
    return;
  }
  if (frameGeometry().size() != FCentredFrame) {
    FRecentreTimer.stop();
    PlaceAtScreenCentre();
  }
}

void TAboutBox::keyPressEvent(QKeyEvent* Event) {
  // There is no cancel button, so Esc does not close the box.
  if (Event->key() == Qt::Key_Escape) {
    Event->accept();
    return;
  }
  QDialog::keyPressEvent(Event);
}

bool TAboutBox::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == lbURL && Event->type() == QEvent::MouseButtonRelease) {
    auto* me = static_cast<QMouseEvent*>(Event);
    if (me->button() == Qt::LeftButton && lbURL->rect().contains(me->position().toPoint())) {
      lbURLClick();
      return true;
    }
  }
  return QDialog::eventFilter(Watched, Event);
}

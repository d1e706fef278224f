#pragma once
// The About box: program name, version, the keyboard and command-line help
// texts and a link to the product's web page. Created hidden at start-up and
// shown modally from the popup menu; hidden, not destroyed, between showings.

#include <QBasicTimer>
#include <QDialog>

#include <functional>

class QFrame;
class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
public:
  explicit TAboutBox(QWidget* Parent = nullptr);

  // The product's web page, shown by lbURL and opened by its click.
  static const char* const ProductUrl;

  // The two help texts, lines joined by line feeds.
  static QString Info2Text();
  static QString Info3Text();

  // lbURL's click: opens ProductUrl in the default browser; on failure shows
  // "Unable to start web browser." and the box stays open.
  void lbURLClick();

  // Replaceable for tests: opens a web address (default: the desktop's
  // handler) and shows the failure message (default: a message box).
  std::function<bool(const QString& Url)> OpenUrl;
  std::function<void(const QString& Text)> ShowMessage;

  QFrame* Panel1 = nullptr;
  QLabel* ProgramIcon = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Version = nullptr;
  QLabel* lbVisit = nullptr;
  QLabel* lbURL = nullptr;
  QLabel* lbInfo1 = nullptr;
  QLabel* lbInfo2 = nullptr;
  QLabel* lbInfo3 = nullptr;
  QPushButton* OKButton = nullptr;

  // Moves the box so that its outer window (frame included, once the window
  // system has told its size) is centred on its screen.
  void PlaceAtScreenCentre();

protected:
  void showEvent(QShowEvent* Event) override;
  void timerEvent(QTimerEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  // The frame size the box was last centred with; when the window system
  // reports another one soon after the box is shown, it is centred again.
  QSize FCentredFrame;
  QBasicTimer FRecentreTimer;
  int FRecentreChecks = 0;
};

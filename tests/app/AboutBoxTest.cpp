#include "app/AboutBox.h"
#include "tests/lib/TestApp.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct LabelRow {
  const char* name;
  int left, top;
  const char* text;
};

} // namespace

TEST(AboutBox, ComponentsSitWhereDesignedWithTheirTexts) {
  TestApp();
  TAboutBox box;
  EXPECT_EQ(box.windowTitle(), "About Tobbins' Imbrel");
  EXPECT_EQ(box.size(), QSize(351, 433));
  EXPECT_EQ(box.minimumSize(), box.maximumSize()) << "fixed dialog border";
  EXPECT_EQ(box.Panel1->geometry(), QRect(5, 4, 340, 389));
  EXPECT_EQ(box.ProgramIcon->geometry(), QRect(4, 4, 33, 37));
  EXPECT_FALSE(box.ProgramIcon->pixmap().isNull()) << "the program icon resource is linked";
  EXPECT_EQ(box.OKButton->geometry(), QRect(138, 400, 75, 25));
  EXPECT_EQ(box.OKButton->text(), "OK");
  EXPECT_TRUE(box.OKButton->isDefault());

  const LabelRow rows[] = {
      {"ProductName", 52, 8, "Tobbins' Imbrel"},
      {"Version", 52, 24, "2.0"},
      {"lbVisit", 12, 48, "Visit"},
      {"lbURL", 40, 48, TAboutBox::ProductUrl},
      {"lbInfo1", 12, 64, "for the latest version or information."},
  };
  const QLabel* labels[] = {box.ProductName, box.Version, box.lbVisit, box.lbURL, box.lbInfo1};
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(labels[i]->pos(), QPoint(rows[i].left, rows[i].top));
    EXPECT_EQ(labels[i]->text(), QString::fromUtf8(rows[i].text));
    EXPECT_EQ(labels[i]->parentWidget(), box.Panel1);
  }
  EXPECT_EQ(box.lbURL->width(), 233);
  EXPECT_TRUE(box.lbURL->font().underline());
  EXPECT_EQ(box.lbURL->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_EQ(box.lbURL->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(box.lbInfo2->geometry(), QRect(14, 88, 273, 117));
  EXPECT_EQ(box.lbInfo3->geometry(), QRect(14, 220, 299, 143));

  // Every help line is readable whole inside the designed box.
  for (const QLabel* info : {box.lbInfo2, box.lbInfo3}) {
    const QFontMetrics m(info->font());
    for (const QString& line : info->text().split('\n'))
      EXPECT_LE(m.horizontalAdvance(line), info->width()) << line.toStdString();
    EXPECT_LE(m.lineSpacing() * info->text().count('\n') + m.height(), info->height());
  }
}

TEST(AboutBox, HelpTextsLineByLine) {
  const QStringList info2 = TAboutBox::Info2Text().split('\n');
  const QStringList want2 = {"",
                             "",
                             "Keyboard shortcuts:",
                             "",
                             "<Page-Down>, <right arrow>  next image",
                             "<Page-U[>, <left arrow>          previous image",
                             "<up arror>                               speed up slides",
                             "<down arrow>                        slow down slides",
                             "<esc>                                     exit"};
  EXPECT_EQ(info2, want2);
  const QStringList info3 = TAboutBox::Info3Text().split('\n');
  const QStringList want3 = {"Command line options:",
                             "",
                             "-slideshow                starts TobbinsImbrel in slide show mode",
                             "-Dir:<folder name>    opens a particular directory at startup",
                             "",
                             "For example, an autorun.inf file on your cd might contain:",
                             "",
                             "[autorun]",
                             "open=TobbinsImbrel.exe -Dir:\".\\MyImages\"",
                             "",
                             "to start TobbinsImbrel in the MyImages folder on your cd."};
  EXPECT_EQ(info3, want3);
}

TEST(AboutBox, LinkOpensThePageEachClickAndReportsAFailedBrowser) {
  TestApp();
  TAboutBox box;
  QStringList opened;
  QStringList messages;
  bool browserWorks = true;
  box.OpenUrl = [&](const QString& url) {
    opened << url;
    return browserWorks;
  };
  box.ShowMessage = [&](const QString& text) { messages << text; };
  box.show();
  QTest::mouseClick(box.lbURL, Qt::LeftButton);
  QTest::mouseClick(box.lbURL, Qt::LeftButton);
  EXPECT_EQ(opened.size(), 2);
  EXPECT_EQ(opened.value(0), QString::fromLatin1(TAboutBox::ProductUrl));
  EXPECT_TRUE(messages.isEmpty());

  browserWorks = false;
  QTest::mouseClick(box.lbURL, Qt::LeftButton);
  EXPECT_EQ(messages, QStringList{"Unable to start web browser."});
  EXPECT_TRUE(box.isVisible()) << "a failed link leaves the box open";
}

TEST(AboutBox, EscDoesNotCloseButEnterPressesOk) {
  TestApp();
  TAboutBox box;
  box.show();
  QTest::keyClick(&box, Qt::Key_Escape);
  EXPECT_TRUE(box.isVisible());
  EXPECT_EQ(box.result(), 0);
  QTest::keyClick(&box, Qt::Key_Return);
  EXPECT_FALSE(box.isVisible());
  EXPECT_EQ(box.result(), QDialog::Accepted);
}

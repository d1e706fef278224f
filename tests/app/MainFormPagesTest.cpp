// How the main window shows a file's pictures: the pages of multi-page files
// (keys, zoom mode, the Page submenu, pages that fail) and photos turned
// upright.

#include "tests/app/MainFormFixture.h"

#include <QAction>
#include <QMenu>

#include <cstring>
#include <fstream>

#include "formats/DcxGraphic.h"
#include "formats/JpegGraphic.h"
#include "imaging/Orientation.h"
#include "formats/TiffGraphic.h"

namespace {

// A file of several pages written by the format class itself; page I has the
// size Sizes[I].
template <class T> void WritePages(const std::string& Path, const std::vector<QSize>& Sizes) {
  TMemoryStream File;
  for (const QSize& S : Sizes) {
    T Page;
    Page.NewImage(S.width(), S.height(), ifColor256, nullptr, 96, 96);
    std::memset(Page.Bits(), 40, size_t(Page.BytesPerRow()) * size_t(S.height()));
    File.SetPosition(File.Size());
    Page.AppendToStream(File);
  }
  File.SaveToFile(Path);
}

// A 30 x 20 JPEG whose EXIF block asks for a quarter turn clockwise
// (orientation 6, little-endian).
void WriteTurnedJpeg(const std::string& Path) {
  TJpegGraphic G;
  G.NewImage(30, 20, ifTrueColor, nullptr, 96, 96);
  std::memset(G.Bits(), 128, size_t(G.BytesPerRow()) * 20);
  TMemoryStream Jpeg;
  G.SaveToStream(Jpeg);
  const std::string Bytes(reinterpret_cast<const char*>(Jpeg.Memory()), size_t(Jpeg.Size()));
  const std::string Exif("\xFF\xE1\x00\x22"         // APP1, 34 bytes with the length
                         "Exif\0\0"                 // EXIF header
                         "II*\0\x08\0\0\0"          // TIFF header, directory at 8
                         "\x01\0"                   // one entry
                         "\x12\x01\x03\0\x01\0\0\0" // orientation, SHORT, one value
                         "\x06\0\0\0"               // 6
                         "\0\0\0\0",                // no next directory
                         36);
  std::ofstream(Path, std::ios::binary) << Bytes.substr(0, 2) + Exif + Bytes.substr(2);
}

} // namespace

// ---------------------------------------------------------------------------
// Pages of multi-page files

class PagedPictures : public MainFormTest {
protected:
  void SetUp() override {
    MainFormTest::SetUp();
    WritePng(Tree.Path("a.png"), 40, 30);
    WritePages<TTiffGraphic>(Tree.Path("b.tif"), {{30, 20}, {40, 25}, {50, 30}});
    WritePages<TDcxGraphic>(Tree.Path("c.dcx"), {{24, 16}, {36, 12}});
  }
  // The popup's captions as it opens, "Page" for the Page submenu.
  QStringList PopupCaptions() {
    Form->mnuMainPopupPopup();
    QStringList L;
    for (QAction* A : Form->mnuMainPopup->actions())
      L << (A->isSeparator() ? "-" : A->text());
    return L;
  }
  bool PagePanelShown() const { return Form->sbMain->PanelVisible(3); }
};

TEST_F(PagedPictures, CtrlPageKeysStepThroughPagesAndWrap) {
  Start();
  EXPECT_FALSE(PagePanelShown()); // a.png: one page
  KeyUp(Qt::Key_PageDown);
  ASSERT_EQ(CurrentName(), "b.tif");
  const struct {
    Qt::Key Key;
    int Page;
    const char* Size;
  } Steps[] = {
      {Qt::Key_PageDown, 2, "(40x25)"}, {Qt::Key_PageDown, 3, "(50x30)"},
      {Qt::Key_PageDown, 1, "(30x20)"}, {Qt::Key_PageUp, 3, "(50x30)"},
      {Qt::Key_PageUp, 2, "(40x25)"},
  };
  EXPECT_EQ(Panel(3), "Page 1 of 3");
  EXPECT_TRUE(PagePanelShown());
  for (const auto& S : Steps) {
    KeyUp(S.Key, Qt::ControlModifier);
    SCOPED_TRACE(S.Page);
    EXPECT_EQ(CurrentName(), "b.tif"); // the row stays
    EXPECT_EQ(Panel(3), "Page " + QString::number(S.Page) + " of 3");
    // The three panels keep their texts: the zoom, the row, the name and the
    // size of the picture shown (the page); Autosize fits each page.
    EXPECT_EQ(Panel(0), "Autosize (" + QString::number(int(Form->imgMain->ZoomPercent())) + ")");
    EXPECT_EQ(Panel(1), "2 of 3");
    EXPECT_EQ(Panel(2), QString("b.tif ") + S.Size);
    EXPECT_EQ(Form->imgMain->ZoomMode(), zmFullPage);
  }
  // Ctrl let go before the page key: one page on, and the row stays.
  QWidget* Target = QApplication::focusWidget();
  ASSERT_NE(Target, nullptr);
  QTest::keyPress(Target, Qt::Key_PageDown, Qt::ControlModifier);
  QTest::keyRelease(Target, Qt::Key_PageDown, Qt::NoModifier);
  EXPECT_EQ(CurrentName(), "b.tif");
  EXPECT_EQ(Panel(3), "Page 3 of 3");
  // The next row starts on its first page; the DCX has two.
  KeyUp(Qt::Key_PageDown);
  EXPECT_EQ(Panel(2), "c.dcx (24x16)");
  EXPECT_EQ(Panel(3), "Page 1 of 2");
  KeyUp(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(Panel(2), "c.dcx (36x12)");
  EXPECT_EQ(Panel(3), "Page 2 of 2");
  KeyUp(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(Panel(2), "c.dcx (24x16)");
  // Back on a one-page file: no indicator, and the page keys do nothing.
  KeyUp(Qt::Key_PageDown);
  EXPECT_EQ(CurrentName(), "a.png");
  EXPECT_FALSE(PagePanelShown());
  KeyUp(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(CurrentName(), "a.png");
  EXPECT_EQ(Panel(2), "a.png (40x30)");
}

TEST_F(PagedPictures, PagesKeepTheZoomModeAndTheListFocus) {
  Start();
  Form->mnuFullScreenClick(); // windowed, list focused
  Reactivate();
  Form->NextPicture();
  ASSERT_EQ(CurrentName(), "b.tif");
  Form->mnuZoom100Click();
  ASSERT_TRUE(Form->dbgPictures->hasFocus());
  // The list keeps its row: the window takes Ctrl+Page Down from it.
  KeyUp(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(CurrentName(), "b.tif");
  EXPECT_EQ(Form->mtbPictures->RecNo(), 2);
  EXPECT_EQ(Panel(3), "Page 2 of 3");
  EXPECT_EQ(Panel(0), "Zoom: 100");
  EXPECT_EQ(Form->imgMain->ZoomMode(), zmOriginalSize);
  EXPECT_EQ(Form->imgMain->DisplayGraphic().Width(), 40);
  // The panel sits at the bar's right edge; the picture panel makes room.
  const QRect Page = Form->sbMain->PanelGeometry(3);
  EXPECT_EQ(Page.right(), Form->sbMain->width() - 1);
  EXPECT_EQ(Form->sbMain->PanelGeometry(2).right() + 1, Page.left());
  KeyUp(Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(Panel(3), "Page 1 of 3");
  EXPECT_EQ(Form->imgMain->DisplayGraphic().Width(), 30);
  // Without Ctrl the list's own keys still move it.
  KeyUp(Qt::Key_PageDown);
  EXPECT_NE(Form->mtbPictures->RecNo(), 2);
}

TEST_F(PagedPictures, PageSubmenuOnlyForMultiPageFiles) {
  Start();
  const QStringList Single = PopupCaptions();
  EXPECT_FALSE(Single.contains("Page"));
  Form->NextPicture(); // b.tif
  const QStringList Paged = PopupCaptions();
  ASSERT_EQ(Paged.size(), Single.size() + 1);
  EXPECT_EQ(Paged.indexOf("Page"), Paged.indexOf("Previous  (Page Up)") + 1);
  QStringList Items;
  for (QAction* A : Form->mnuPageMainMenu->actions())
    Items << A->text();
  EXPECT_EQ(Items, (QStringList{"Next page", "Previous page"}));
  Form->mnuPreviousPage->trigger();
  EXPECT_EQ(Panel(3), "Page 3 of 3");
  Form->mnuNextPage->trigger();
  EXPECT_EQ(Panel(3), "Page 1 of 3");
  Form->NextPicture(); // c.dcx: still paged
  EXPECT_TRUE(PopupCaptions().contains("Page"));
  Form->NextPicture(); // a.png
  EXPECT_EQ(PopupCaptions(), Single);
}

TEST_F(PagedPictures, PageThatCannotBeShownEmptiesTheViewAndSteppingGoesOn) {
  Start();
  Form->NextPicture(); // b.tif, three pages
  // The file is cut short: its pages cannot be read any more. The view
  // empties silently; the indicator names the page asked for.
  std::filesystem::resize_file(Tree.Path("b.tif"), 200);
  KeyUp(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_TRUE(ShownErrors.empty());
  EXPECT_TRUE(Shown().Empty());
  EXPECT_EQ(CurrentName(), "b.tif");
  EXPECT_EQ(Panel(3), "Page 2 of 3");
  KeyUp(Qt::Key_PageDown);
  EXPECT_EQ(Panel(2), "c.dcx (24x16)");
  EXPECT_EQ(Panel(3), "Page 1 of 2");
  // A scan that finds nothing leaves no page panel and no Page submenu.
  for (const char* Name : {"a.png", "b.tif", "c.dcx"})
    std::filesystem::remove(Tree.Path(Name));
  Form->ScanFolder(Tree.Root());
  EXPECT_FALSE(PagePanelShown());
  EXPECT_FALSE(PopupCaptions().contains("Page"));
}

TEST_F(MainFormTest, PhotosShowUprightUnlessSwitchedOff) {
  WriteTurnedJpeg(Tree.Path("photo.jpg"));
  Start();
  EXPECT_EQ(Panel(2), "photo.jpg (20x30)");
  EXPECT_TRUE(OrientationEnabled());
  Form.reset();
  Start({"-Dir:" + Tree.Root(), "-noorient"});
  EXPECT_EQ(Panel(2), "photo.jpg (30x20)");
  EXPECT_FALSE(OrientationEnabled());
  Form.reset();
  Start();
  EXPECT_EQ(Panel(2), "photo.jpg (20x30)");
}

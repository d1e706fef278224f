#include "platform/ui/DropFileSource.h"
#include "tests/lib/TestApp.h"

#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

TEST(DropFileSource, OffersEveryFileInOrderAndTheFirstAsText) {
  TestApp();
  TDropFileSource source;
  source.Files = {"/pics/b/zebra.jpg", "/pics/a b/apple.png", "/pics/c/m\xC3\xBCnster.tif"};
  std::unique_ptr<QMimeData> data(source.CreateMimeData());
  ASSERT_TRUE(data->hasUrls());
  const QList<QUrl> urls = data->urls();
  ASSERT_EQ(urls.size(), 3);
  EXPECT_EQ(urls[0].toLocalFile(), "/pics/b/zebra.jpg");
  EXPECT_EQ(urls[1].toLocalFile(), "/pics/a b/apple.png");
  EXPECT_EQ(urls[2].toLocalFile(), QString::fromUtf8("/pics/c/m\xC3\xBCnster.tif"));
  EXPECT_EQ(data->text(), "/pics/b/zebra.jpg");
  EXPECT_EQ(source.DragTypes, static_cast<TDragTypes>(dtCopy)) << "copy only";
}

// File names are bytes: a Latin-1 name keeps its byte in the uri-list
// (percent-encoded as it is) and in the text, never a replacement character.
TEST(DropFileSource, NameThatIsNotUtf8KeepsItsBytes) {
  TestApp();
  TDropFileSource source;
  source.Files = {"/pics/caf\xE9.png", "/pics/a b/x.png"};
  std::unique_ptr<QMimeData> data(source.CreateMimeData());
  EXPECT_EQ(data->data("text/uri-list"),
            QByteArray("file:///pics/caf%E9.png\r\nfile:///pics/a%20b/x.png\r\n"));
  EXPECT_EQ(data->data("text/plain"), QByteArray("/pics/caf\xE9.png"));
}

TEST(DropFileSource, EmptyListOffersNothing) {
  TestApp();
  TDropFileSource source;
  std::unique_ptr<QMimeData> data(source.CreateMimeData());
  EXPECT_TRUE(data->formats().isEmpty());
}

TEST(DropFileSource, ExecuteHandsTheDataToTheLoop) {
  TestApp();
  TDropFileSource source;
  source.Files = {"/x/1.bmp"};
  QStringList seen;
  source.ExecuteHook = [&](QMimeData* d) {
    seen = d->formats();
    return TDragResult::drCancel;
  };
  EXPECT_EQ(source.Execute(nullptr), TDragResult::drCancel);
  EXPECT_TRUE(seen.contains("text/uri-list"));
  EXPECT_TRUE(seen.contains("text/plain"));
}

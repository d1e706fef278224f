// The format registry: lookups by name or bare extension, creation, loading
// from a stream, the fallback through the platform's picture reader, and
// temporary file names.

#include "imaging/GraphicRegistry.h"
#include "tests/imaging/TestHelpers.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class TZzaGraphic : public TDibGraphic {
public:
  void LoadImageFromStream(TStream& Stream, int Index) override {
    if (FStart >= 0) Stream.SetPosition(FStart);
    uint8_t n = 0;
    Stream.ReadBuffer(&n, 1);
    if (Index > n) throw EImageError("no image " + std::to_string(Index));
    NewImage(Index, 2, ifTrueColor, nullptr, 96, 96);
  }
  // A format positions itself: after counting, the stream is not sought back.
  int64_t FStart = -1;
  int GetImageCount(TStream& Stream) override {
    FStart = Stream.Position();
    uint8_t n = 0;
    Stream.ReadBuffer(&n, 1);
    return n;
  }
};
class TZzbGraphic : public TDibGraphic {};

void RegisterTestFormats() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterGraphicFormat("zza", "Test format A", ClassOf<TZzaGraphic>());
  RegisterGraphicFormat(".ZZB", "Test format B", ClassOf<TZzbGraphic>());
  RegisterGraphicFormat("zzb", "Test format B again", ClassOf<TZzaGraphic>());
}

// A private temporary folder for the test (the platform's temporary folder
// follows TMPDIR).
class RegistryTest : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterTestFormats();
    char tmpl[] = "/tmp/imaging-registry-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    FDir = tmpl;
    const char* old = std::getenv("TMPDIR");
    FOldTmp = old ? old : "";
    FHadTmp = old != nullptr;
    setenv("TMPDIR", FDir.c_str(), 1);
  }
  void TearDown() override {
    if (FHadTmp)
      setenv("TMPDIR", FOldTmp.c_str(), 1);
    else
      unsetenv("TMPDIR");
    for (const std::string& f : Files())
      ::unlink((FDir + "/" + f).c_str());
    ::rmdir(FDir.c_str());
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    if (DIR* d = opendir(FDir.c_str())) {
      while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') names.push_back(e->d_name);
      closedir(d);
    }
    return names;
  }
  static QByteArray Encode(const QImage& Img, const char* Format) {
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    Img.save(&buf, Format);
    return bytes;
  }
  std::string FDir, FOldTmp;
  bool FHadTmp = false;
};

TEST_F(RegistryTest, LookupByNameOrBareExtension) {
  for (const char* name : {"photo.ZZA", "photo.zza", "zza", "ZZA", "/some/dir.x/photo.Zza", ".zza"})
    EXPECT_EQ(GraphicClassForFile(name), ClassOf<TZzaGraphic>()) << name;
  EXPECT_EQ(GraphicClassForFile("photo.zzb"),
            ClassOf<TZzbGraphic>()); // the first registration wins
  EXPECT_EQ(GraphicClassForFile("README"), nullptr);
  EXPECT_EQ(GraphicClassForFile("dir.zza/file"), nullptr);
  EXPECT_EQ(GraphicClassForFile("photo.zza.bak"), nullptr);
  EXPECT_EQ(ExtractFileExt("/a.b/c.JpG"), ".JpG");
  EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
  bool listed = false;
  for (const TGraphicFormatEntry& e : RegisteredGraphicFormats())
    if (e.Extension == "ZZB" && e.Description == "Test format B") listed = true;
  EXPECT_TRUE(listed);
}

TEST_F(RegistryTest, CreateGraphicForFile) {
  std::unique_ptr<TDibGraphic> g = CreateGraphicForFile("x.zzb");
  EXPECT_NE(dynamic_cast<TZzbGraphic*>(g.get()), nullptr);
  EXPECT_TRUE(g->Empty());
  EXPECT_THROW_MSG(CreateGraphicForFile("x.abc"), EImageError,
                   "Graphic files of .abc format are not supported or not registered");
  EXPECT_THROW_MSG(CreateGraphicForFile("/tmp/Photo.AbC"), EImageError,
                   "Graphic files of .AbC format are not supported or not registered");
  EXPECT_THROW_MSG(CreateGraphicForFile("README"), EImageError,
                   "Graphic files of  format are not supported or not registered");
}

TEST_F(RegistryTest, CreateGraphicFromStreamWithARegisteredClass) {
  const uint8_t three[] = {3};
  TBytesStream s3(three, 1);
  std::unique_ptr<TDibGraphic> g = CreateGraphicFromStream(s3, "pic.zza", 2);
  EXPECT_EQ(g->ImageIndex(), 2);
  EXPECT_EQ(g->Width(), 2);
  EXPECT_EQ(g->FrameCount(), 0);

  TBytesStream all(three, 1);
  g = CreateGraphicFromStream(all, "zza", 0);
  EXPECT_EQ(g->FrameCount(), 3);
  EXPECT_EQ(g->CurrentFrame(), 1);
  EXPECT_EQ(dynamic_cast<TZzaGraphic*>(&g->Frames(3)) != nullptr, true);

  const uint8_t one[] = {1};
  TBytesStream s1(one, 1);
  g = CreateGraphicFromStream(s1, "zza", 0);
  EXPECT_EQ(g->FrameCount(), 0);
  EXPECT_FALSE(g->LoadAllImages());
  EXPECT_EQ(g->Width(), 1);

  TBytesStream bad(one, 1);
  EXPECT_THROW_MSG(CreateGraphicFromStream(bad, "zza", 5), EImageError, "no image 5");
}

TEST_F(RegistryTest, FallbackThroughThePlatformReader) {
  QImage img(5, 3, QImage::Format_RGB32);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      img.setPixel(x, y, qRgb(x * 50, y * 100, 7));
  const QByteArray png = Encode(img, "PNG");
  // The stream is read from its position on.
  TMemoryStream m;
  m.WriteBuffer("junk", 4);
  m.WriteBuffer(png.constData(), png.size());
  m.SetPosition(4);
  std::unique_ptr<TDibGraphic> g = CreateGraphicFromStream(m, "png", 1);
  EXPECT_EQ(g->ClassName(), "TDibGraphic");
  ASSERT_EQ(g->ImageFormat(), ifTrueColor);
  ASSERT_EQ(g->Width(), 5);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(g->GetPixelColor(x, y), MakeRgb(uint8_t(x * 50), uint8_t(y * 100), 7));
  EXPECT_TRUE(Files().empty()); // the temporary copy is gone

  // An indexed picture keeps its palette layout.
  QImage indexed(4, 2, QImage::Format_Indexed8);
  indexed.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(9, 9, 9)});
  indexed.fill(1);
  indexed.setPixel(3, 1, 2);
  const QByteArray bmp = Encode(indexed, "BMP");
  TBytesStream b(bmp.constData(), bmp.size());
  g = CreateGraphicFromStream(b, "picture.bmp", 1);
  EXPECT_EQ(g->ImageFormat(), ifColor256);
  EXPECT_EQ(g->GetPixelColor(0, 0), 0x0000FFu);
  EXPECT_EQ(g->GetPixelColor(3, 1), 0x090909u);
  EXPECT_TRUE(Files().empty());
}

TEST_F(RegistryTest, FallbackReadsAnExistingFileDirectly) {
  QImage img(2, 2, QImage::Format_RGB32);
  img.fill(qRgb(1, 2, 3));
  const std::string name = FDir + "/picture.png";
  ASSERT_TRUE(img.save(QString::fromStdString(name), "PNG"));
  TBytesStream empty(nullptr, 0);
  std::unique_ptr<TDibGraphic> g = CreateGraphicFromStream(empty, name, 1);
  EXPECT_EQ(g->GetPixelColor(1, 1), 0x010203u);
  EXPECT_EQ(Files(), std::vector<std::string>{"picture.png"});
}

TEST_F(RegistryTest, FallbackFailuresRemoveTheTemporaryFile) {
  const char garbage[] = "this is not a picture";
  TBytesStream s(garbage, sizeof garbage);
  EXPECT_THROW(CreateGraphicFromStream(s, "png", 1), EInvalidGraphic);
  EXPECT_TRUE(Files().empty());
  TBytesStream u(garbage, sizeof garbage);
  EXPECT_THROW_MSG(CreateGraphicFromStream(u, "qqq", 1), EInvalidGraphic,
                   "Unknown picture file extension (.qqq)");
  EXPECT_TRUE(Files().empty());
}

TEST_F(RegistryTest, CreateTempFileNames) {
  const std::string first = CreateTempFile("im", "bmp");
  EXPECT_EQ(first, FDir + "/im0.bmp");
  std::ofstream(first).put('x');
  EXPECT_EQ(CreateTempFile("im", ".bmp"), FDir + "/im1.bmp");
  EXPECT_EQ(CreateTempFile("im", ""), FDir + "/im0");
  EXPECT_EQ(Files().size(), 1u); // nothing created by the calls themselves
}

} // namespace

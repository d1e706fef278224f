// Every icon and metafile of the shared test pictures: each loads, or fails
// with an exception when the manifest marks it as corrupt. Icons are compared
// with their reference decodings (alpha over black). Set
// IMBREL_ICONMETA_RENDER_DIR to also write every decoded picture as PNG.

#include "formats/IconGraphic.h"
#include "formats/MetaFileGraphic.h"

#include <QImage>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace {

struct TRow {
  std::string File, Type, Note, Reference;
};

std::vector<TRow> ManifestRows(const std::string& Dir) {
  std::vector<TRow> rows;
  std::ifstream in(Dir + "/MANIFEST.tsv");
  std::string line;
  std::getline(in, line); // column titles
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t'))
      f.push_back(cell);
    if (f.size() < 4) continue;
    if (f[1] == "ico" || f[1] == "wmf" || f[1] == "emf") rows.push_back({f[0], f[1], f[2], f[3]});
  }
  return rows;
}

QImage ToQImage(const TDibGraphic& G) {
  QImage img(G.Width(), G.Height(), QImage::Format_RGB32);
  for (int y = 0; y < G.Height(); ++y)
    for (int x = 0; x < G.Width(); ++x)
      img.setPixel(x, y, 0xFF000000u | G.GetPixelColor(x, y));
  return img;
}

} // namespace

TEST(RealFilesTest, EveryIconAndMetafileLoadsOrFailsAsExpected) {
  const char* dir = std::getenv("IMBREL_TESTDATA");
  if (!dir || !std::ifstream(std::string(dir) + "/MANIFEST.tsv"))
    GTEST_SKIP() << "no shared test data";
  const char* renderDir = std::getenv("IMBREL_ICONMETA_RENDER_DIR");
  const std::vector<TRow> rows = ManifestRows(dir);
  ASSERT_FALSE(rows.empty());
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.File);
    const bool corrupt = row.Note.rfind("[corrupt]", 0) == 0;
    std::unique_ptr<TDibGraphic> g;
    if (row.Type == "ico")
      g = std::make_unique<TIconGraphic>();
    else
      g = std::make_unique<TMetaFileGraphic>();
    std::string error;
    try {
      TFileStream s(std::string(dir) + "/" + row.File, TFileMode::fmOpenRead);
      g->LoadFromStream(s);
    } catch (const Exception& e) {
      error = e.Message();
    }
    if (corrupt) {
      EXPECT_FALSE(error.empty()) << "a damaged file loaded";
      std::printf("%s: fails as expected: %s\n", row.File.c_str(), error.c_str());
      continue;
    }
    if (row.Type != "ico") std::printf("%s: %dx%d\n", row.File.c_str(), g->Width(), g->Height());
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_GT(g->Width(), 0);
    ASSERT_GT(g->Height(), 0);
    const QImage mine = ToQImage(*g);
    if (renderDir) {
      std::string name = row.File;
      for (char& c : name)
        if (c == '/') c = '_';
      mine.save(QString::fromStdString(std::string(renderDir) + "/" + name + ".png"));
    }
    if (row.Type != "ico" || row.Reference.empty()) continue;
    // Icons: same size and the same pixels as the reference, within rounding.
    QImage ref(QString::fromStdString(std::string(dir) + "/" + row.Reference));
    ASSERT_FALSE(ref.isNull());
    ref = ref.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(mine.size(), ref.size());
    int64_t total = 0;
    int worst = 0;
    for (int y = 0; y < ref.height(); ++y)
      for (int x = 0; x < ref.width(); ++x) {
        const QRgb a = mine.pixel(x, y), b = ref.pixel(x, y);
        const int d = std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                      std::abs(qBlue(a) - qBlue(b));
        total += d;
        worst = std::max(worst, d);
      }
    const double mean = double(total) / (3.0 * ref.width() * ref.height());
    EXPECT_LT(mean, 1.0);
    EXPECT_LE(worst, 6);
    RecordProperty(row.File, "mean " + std::to_string(mean) + " worst " + std::to_string(worst));
    std::printf("%s: %dx%d mean difference %.3f, largest %d\n", row.File.c_str(), mine.width(),
                mine.height(), mean, worst);
  }
}

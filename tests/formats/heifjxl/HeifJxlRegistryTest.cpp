// The HEIF and JPEG XL extensions reach their classes through the registry,
// and a file loads through it by extension, as one image or as all images.

#include "formats/Formats.h"
#include "formats/HeifGraphic.h"
#include "formats/JxlGraphic.h"
#include "imaging/GraphicRegistry.h"
#include "tests/formats/heifjxl/HeifJxlFixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <typeinfo>

TEST(HeifJxlFormats, ExtensionsFindTheirClasses) {
  RegisterImageFormats();
  const struct {
    const char* Name;
    TDibGraphicClass Class;
  } Rows[] = {
      {"photo.heic", ClassOf<THeifGraphic>()}, {"photo.HEIC", ClassOf<THeifGraphic>()},
      {"photo.heif", ClassOf<THeifGraphic>()}, {"photo.hif", ClassOf<THeifGraphic>()},
      {"photo.avif", ClassOf<THeifGraphic>()}, {"photo.jxl", ClassOf<TJxlGraphic>()},
      {"photo.JXL", ClassOf<TJxlGraphic>()},
  };
  for (const auto& Row : Rows)
    EXPECT_EQ(GraphicClassForFile(Row.Name), Row.Class) << Row.Name;
}

TEST(HeifJxlFormats, FilesLoadThroughTheRegistry) {
  const char* Source = std::getenv("IMBREL_SOURCE");
  if (!Source) GTEST_SKIP() << "no source folder";
  RegisterImageFormats();
  const struct {
    const char* File; // below the source folder
    const char* Class;
    int Frames;
  } Rows[] = {
      {"fuzz/corpus/fuzz_heif/still.heic", "THeifGraphic", 0},
      {"fuzz/corpus/fuzz_heif/still.avif", "THeifGraphic", 0},
      {"fuzz/corpus/fuzz_jxl/still.jxl", "TJxlGraphic", 0},
      {"fuzz/corpus/fuzz_jxl/anim.jxl", "TJxlGraphic", 3},
  };
  for (const auto& Row : Rows)
    for (const int Index : {0, 1}) {
      SCOPED_TRACE(std::string(Row.File) + ", index " + std::to_string(Index));
      const TBytes Bytes = ReadFile(std::string(Source) + "/" + Row.File);
      ASSERT_FALSE(Bytes.empty());
      TBytesStream S(Bytes.data(), int64_t(Bytes.size()));
      const auto G = CreateGraphicFromStream(S, Row.File, Index);
      EXPECT_EQ(G->ClassName(), Row.Class);
      EXPECT_EQ(G->Width(), 16);
      EXPECT_EQ(G->Height(), 16);
      // One image per file: index 0 (all images) loads the same picture.
      EXPECT_EQ(G->FrameCount(), Row.Frames);
    }
}

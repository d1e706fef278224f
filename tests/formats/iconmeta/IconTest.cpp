// Icons: the platform's icon reader (entry choice, bit depths, masks, alpha,
// PNG entries, damaged files) and TIconGraphic on top of it.

#include "formats/Formats.h"
#include "imaging/GraphicRegistry.h"
#include "platform/Icon.h"
#include "formats/IconGraphic.h"
#include "tests/formats/iconmeta/MetaBuilder.h"
#include "formats/MetaFileGraphic.h"

#include <QPainter>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace testmeta;
using ::testing::HasSubstr;

namespace {

std::unique_ptr<TIconGraphic> LoadIcon(const std::vector<uint8_t>& Bytes) {
  auto g = std::make_unique<TIconGraphic>();
  TBytesStream s(Bytes.data(), int64_t(Bytes.size()));
  g->LoadFromStream(s);
  return g;
}

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

// A square icon image of one colour, for the entry-choice tests.
TIconImage Plain(int Size, int BitCount, uint32_t Colour) {
  TIconImage i;
  i.Width = i.Height = Size;
  i.BitCount = BitCount;
  if (BitCount <= 8) {
    i.Palette = {0, Colour};
    i.Pixel = [](int, int) { return 1u; };
  } else {
    i.Pixel = [Colour, BitCount](int, int) { return Colour | (BitCount == 32 ? 0xFF000000u : 0); };
  }
  return i;
}

} // namespace

TEST(IconTest, TransparentAreasAreBlackAndKeepTheBackground) {
  // 4 x 4, 8 bits: the left half red and opaque, the right half transparent
  // (colour black, mask set), as icon editors write them.
  TIconImage img;
  img.Width = img.Height = 4;
  img.BitCount = 8;
  img.Palette = {0x000000, kRed};
  img.Pixel = [](int x, int) { return x < 2 ? 1u : 0u; };
  img.Transparent = [](int x, int) { return x >= 2; };
  const std::vector<uint8_t> file = IconFile({img});

  auto g = LoadIcon(file);
  EXPECT_EQ(g->Width(), 4);
  EXPECT_EQ(g->Height(), 4);
  EXPECT_EQ(g->ImageFormat(), ifTrueColor);
  EXPECT_EQ(g->GetPixelColor(0, 0), kRed);
  EXPECT_EQ(g->GetPixelColor(1, 3), kRed);
  EXPECT_EQ(g->GetPixelColor(2, 0), 0u);
  EXPECT_EQ(g->GetPixelColor(3, 3), 0u);

  // On another background the mask lets it show through.
  TPlatformIcon icon;
  icon.LoadFromMemory(file.data(), file.size());
  QImage white(4, 4, QImage::Format_RGB32);
  white.fill(Qt::white);
  {
    QPainter p(&white);
    icon.Draw(p, 0, 0);
  }
  EXPECT_EQ(white.pixel(0, 0) & 0xFFFFFF, kRed);
  EXPECT_EQ(white.pixel(3, 2) & 0xFFFFFF, 0xFFFFFFu);
}

TEST(IconTest, EveryBitmapDepthDecodes) {
  // 5 x 3 images (odd width: rows are padded) of each depth; every pixel checked.
  const std::vector<uint32_t> palette16 = {
      0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
      0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  for (int bpp : {1, 4, 8, 24, 32}) {
    SCOPED_TRACE("bits per pixel " + std::to_string(bpp));
    TIconImage img;
    img.Width = 5;
    img.Height = 3;
    img.BitCount = bpp;
    std::function<uint32_t(int, int)> expected;
    if (bpp <= 8) {
      const unsigned n = bpp == 1 ? 2 : 16;
      img.Palette.assign(palette16.begin(), palette16.begin() + n);
      if (bpp == 1) img.Palette = {0x102030, 0xF0E0D0};
      img.Pixel = [n](int x, int y) { return uint32_t((x + 2 * y) % n); };
      const auto pal = img.Palette;
      expected = [pal, n](int x, int y) { return pal[(x + 2 * y) % n]; };
    } else {
      // 32-bit pixels with every alpha 0: the AND mask decides, as for older icons.
      img.Pixel = [](int x, int y) { return uint32_t((x * 50) << 16 | (y * 90) << 8 | 200); };
      expected = [](int x, int y) { return uint32_t((x * 50) << 16 | (y * 90) << 8 | 200); };
    }
    auto g = LoadIcon(IconFile({img}));
    ASSERT_EQ(g->Width(), 5);
    ASSERT_EQ(g->Height(), 3);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x)
        EXPECT_EQ(g->GetPixelColor(x, y), expected(x, y)) << x << "," << y;
  }
}

TEST(IconTest, LargestThenDeepestEntryIsLoaded) {
  // The 32 x 32 32-bit image (green) wins over the same size at 4 and 8 bits
  // and over smaller images of any depth, wherever it stands in the directory.
  const std::vector<TIconImage> images = {Plain(16, 32, kRed), Plain(32, 4, kBlue),
                                          Plain(32, 32, kGreen), Plain(24, 32, kRed),
                                          Plain(32, 8, kBlue)};
  auto g = LoadIcon(IconFile(images));
  EXPECT_EQ(g->Width(), 32);
  EXPECT_EQ(g->Height(), 32);
  EXPECT_EQ(g->GetPixelColor(5, 5), kGreen);

  const std::vector<TIconImage> reversed(images.rbegin(), images.rend());
  EXPECT_EQ(LoadIcon(IconFile(reversed))->GetPixelColor(31, 31), kGreen);

  // Of equal sizes and depths, the first one.
  EXPECT_EQ(LoadIcon(IconFile({Plain(16, 8, kBlue), Plain(16, 8, kRed)}))->GetPixelColor(0, 0),
            kBlue);
}

TEST(IconTest, AlphaIsBlendedOverBlack) {
  // 32 bits with alpha: half-transparent red, fully transparent green, opaque blue.
  TIconImage img;
  img.Width = 3;
  img.Height = 1;
  img.BitCount = 32;
  img.Pixel = [](int x, int) { return x == 0 ? 0x80FF0000u : x == 1 ? 0x0000FF00u : 0xFF0000FFu; };
  // The AND mask says opaque everywhere; with alpha present it is not used.
  auto g = LoadIcon(IconFile({img}));
  const uint32_t half = g->GetPixelColor(0, 0);
  EXPECT_NEAR(int(half >> 16), 128, 2);
  EXPECT_EQ(half & 0xFFFF, 0u);
  EXPECT_EQ(g->GetPixelColor(1, 0), 0u);
  EXPECT_EQ(g->GetPixelColor(2, 0), kBlue);
}

TEST(IconTest, PngEntryIsDecodedAndChosenWhenLargest) {
  QImage png(48, 40, QImage::Format_ARGB32);
  png.fill(qRgba(0, 0, 255, 255));
  png.setPixel(10, 10, qRgba(255, 0, 0, 0)); // transparent: black
  png.setPixel(11, 10, qRgba(0, 255, 0, 255));
  TIconImage entry;
  entry.Width = 48;
  entry.Height = 40;
  entry.Png = PngBytes(png);
  auto g = LoadIcon(IconFile({Plain(32, 32, kRed), entry, Plain(16, 8, kRed)}));
  EXPECT_EQ(g->Width(), 48);
  EXPECT_EQ(g->Height(), 40);
  EXPECT_EQ(g->GetPixelColor(0, 0), kBlue);
  EXPECT_EQ(g->GetPixelColor(10, 10), 0u);
  EXPECT_EQ(g->GetPixelColor(11, 10), kGreen);
}

TEST(IconTest, DamagedFilesFailWithIconError) {
  const std::vector<uint8_t> good = IconFile({Plain(16, 8, kRed)});
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
    const char* Message;
  };
  std::vector<TCase> cases;
  cases.push_back({"empty", {}, "Icon file is empty"});
  cases.push_back({"not an icon", {'G', 'I', 'F', '8', '9', 'a', 0, 0}, "Not an icon file"});
  cases.push_back({"no images", {0, 0, 1, 0, 0, 0}, "Icon file holds no image"});
  {
    std::vector<uint8_t> b(good.begin(), good.begin() + 22);
    b[4] = 3; // three entries announced, one present
    cases.push_back({"directory cut", b, "Icon directory is truncated"});
  }
  {
    std::vector<uint8_t> b = good;
    b[21] = 0x70; // image offset (entry offset 12) far beyond the end
    cases.push_back({"offset beyond the file", b, "Icon file holds no readable image"});
  }
  {
    std::vector<uint8_t> b = good;
    b[15] = 0xF0; // image size (entry offset 8) beyond the end
    cases.push_back({"size beyond the file", b, "Icon file holds no readable image"});
  }
  {
    // The entry's size is honest but its pixel rows are cut short.
    std::vector<uint8_t> b(good.begin(), good.begin() + 22 + 40 + 8 + 100);
    b[14] = uint8_t(40 + 8 + 100); // image size (entry offset 8)
    b[15] = b[16] = b[17] = 0;
    cases.push_back({"pixels cut", b, "bitmap pixel data are truncated"});
  }
  {
    // A header asking for 65535 x 32767 pixels.
    std::vector<uint8_t> b = good;
    b[22 + 4] = 0xFF;
    b[22 + 5] = 0xFF;
    b[22 + 6] = 0;
    b[22 + 7] = 0;
    b[22 + 8] = 0xFE;
    b[22 + 9] = 0xFF;
    b[22 + 10] = 0;
    b[22 + 11] = 0;
    cases.push_back({"huge header", b, "Icon file holds no readable image"});
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TIconGraphic g;
    TBytesStream s(c.Bytes.data(), int64_t(c.Bytes.size()));
    EXPECT_THAT([&] { g.LoadFromStream(s); },
                ::testing::ThrowsMessage<EIconError>(HasSubstr(c.Message)));
  }
}

TEST(IconTest, SaveWritesAStandardSizeIcon) {
  // 40 x 20 red with a blue pixel: saved at 32 x 32, cut on the right and
  // padded with black below.
  TDibGraphic source;
  source.NewImage(40, 20, ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x)
      source.SetPixelColor(x, y, x == 3 && y == 4 ? kBlue : kRed);
  TIconGraphic icon;
  icon.Assign(&source);
  TMemoryStream out;
  icon.SaveToStream(out);
  ASSERT_GT(out.Size(), 22);
  EXPECT_EQ(out.Memory()[2], 1); // an icon file
  out.SetPosition(0);
  TIconGraphic back;
  back.LoadFromStream(out);
  ASSERT_EQ(back.Width(), 32);
  ASSERT_EQ(back.Height(), 32);
  EXPECT_EQ(back.GetPixelColor(31, 19), kRed);
  EXPECT_EQ(back.GetPixelColor(3, 4), kBlue);
  EXPECT_EQ(back.GetPixelColor(0, 20), 0u);
  EXPECT_EQ(back.GetPixelColor(31, 31), 0u);
}

TEST(IconTest, AssignToIconWritesThroughTheIconFormat) {
  SetIconExportHook(&AssignDibToIcon);
  TDibGraphic source;
  source.NewImage(8, 8, ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      source.SetPixelColor(x, y, kGreen);
  TIcon icon;
  source.AssignTo(&icon);
  ASSERT_EQ(icon.Width(), 32);
  const QImage shown = icon.Icon().ToImage();
  EXPECT_EQ(shown.pixel(7, 7) & 0xFFFFFF, kGreen);
  EXPECT_EQ(shown.pixel(8, 8) & 0xFFFFFF, 0u);
  EXPECT_THROW(icon.SetWidth(16), EInvalidGraphic);
}

TEST(IconTest, FormatRowsAreRegistered) {
  RegisterIconMetaFormats();
  EXPECT_EQ(GraphicClassForFile("a.ICO"), ClassOf<TIconGraphic>());
  EXPECT_EQ(GraphicClassForFile("wmf"), ClassOf<TMetaFileGraphic>());
  EXPECT_EQ(GraphicClassForFile("x/y.emf"), ClassOf<TMetaFileGraphic>());
  std::map<std::string, std::string> rows;
  for (const TGraphicFormatEntry& e : RegisteredGraphicFormats())
    rows[e.Extension] = e.Description;
  EXPECT_EQ(rows["ICO"], "Windows icon");
  EXPECT_EQ(rows["WMF"], "Windows meta file");
  EXPECT_EQ(rows["EMF"], "Enhanced meta file");
}

// Metafiles: sizes from the headers, playing of the common records (checked
// at known pixels of metafiles written here), damaged files, and
// TMetaFileGraphic's loading and recording.

#include "platform/Bitmap.h"
#include "tests/formats/iconmeta/MetaBuilder.h"
#include "platform/MetaFile.h"
#include "formats/MetaFileGraphic.h"

#include <QPainter>

#include <cmath>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace testmeta;
using ::testing::HasSubstr;

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF, kRedQ = 0xFFFF0000, kBlackQ = 0xFF000000;

// Plays a metafile into a white W x H image, frame or window to the whole image.
QImage Render(const std::vector<uint8_t>& Bytes, int W, int H) {
  TMetafile m;
  m.LoadFromMemory(Bytes.data(), Bytes.size());
  QImage img(W, H, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  m.Draw(p, QRect(0, 0, W, H));
  return img;
}

std::unique_ptr<TMetaFileGraphic> LoadGraphic(const std::vector<uint8_t>& Bytes) {
  auto g = std::make_unique<TMetaFileGraphic>();
  TBytesStream s(Bytes.data(), int64_t(Bytes.size()));
  g->LoadFromStream(s);
  return g;
}

// Red brush, null pen: the start of most drawing tests.
TEmfBuilder RedFill() {
  TEmfBuilder b;
  b.Rec(EMR_CREATEBRUSHINDIRECT, {1, 0, int32_t(Rgb(255, 0, 0)), 0});
  b.Rec(EMR_SELECTOBJECT, {1});
  b.Rec(EMR_SELECTOBJECT, {kStockNullPen});
  return b;
}

int CountNotWhite(const QImage& Img, const QRect& R) {
  int n = 0;
  for (int y = R.top(); y <= R.bottom(); ++y)
    for (int x = R.left(); x <= R.right(); ++x)
      if (Img.pixel(x, y) != kWhite) ++n;
  return n;
}

} // namespace

TEST(MetaFileTest, EmptyMetafilesGiveWhitePicturesOfTheirSize) {
  const double dpiX = ScreenLogPixelsX(), dpiY = ScreenLogPixelsY();
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
    int Width, Height;
  };
  const std::vector<TCase> cases = {
      // Frame of 50 x 30 pixels at 96 dpi, in 0.01 mm.
      {"emf", TEmfBuilder().Finish(50, 30), int(std::lround(50 * dpiX / 96)),
       int(std::lround(30 * dpiY / 96))},
      // Bounding box 1440 x 720 at 1440 units per inch: one inch by half an inch.
      {"placeable wmf", TWmfBuilder().Finish(true, 0, 0, 1440, 720, 1440), int(std::lround(dpiX)),
       int(std::lround(dpiY / 2))},
      // Plain WMF: the window extent, in pixels.
      {"plain wmf", TWmfBuilder().Rec(META_SETWINDOWEXT, {80, 120}).Finish(false), 120, 80},
      // Plain WMF in MM_LOMETRIC: 254 units of 0.1 mm are one inch.
      {"plain wmf, metric",
       TWmfBuilder().Rec(META_SETMAPMODE, {2}).Rec(META_SETWINDOWEXT, {254, 508}).Finish(false),
       int(std::lround(2 * dpiX)), int(std::lround(dpiY))},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto g = LoadGraphic(c.Bytes);
    ASSERT_EQ(g->Width(), c.Width);
    ASSERT_EQ(g->Height(), c.Height);
    EXPECT_EQ(g->ImageFormat(), ifTrueColor);
    int notWhite = 0;
    for (int y = 0; y < g->Height(); ++y)
      for (int x = 0; x < g->Width(); ++x)
        if (g->GetPixelColor(x, y) != 0xFFFFFF) ++notWhite;
    EXPECT_EQ(notWhite, 0);
  }
}

TEST(MetaFileTest, FilledRectangleHasItsColourAndEdges) {
  // Rectangle (10, 10, 30, 20) without a pen covers columns 10..29 and rows
  // 10..19, in both formats.
  const std::vector<uint8_t> emf = RedFill().Rec(EMR_RECTANGLE, {10, 10, 30, 20}).Finish(60, 40);
  const std::vector<uint8_t> wmf = TWmfBuilder()
                                       .Rec(META_CREATEBRUSHINDIRECT, {0, 0x00FF, 0x0000, 0})
                                       .Rec(META_CREATEPENINDIRECT, {5, 0, 0, 0, 0})
                                       .Rec(META_SELECTOBJECT, {0})
                                       .Rec(META_SELECTOBJECT, {1})
                                       .Rec(META_RECTANGLE, {20, 30, 10, 10})
                                       .Finish(true, 0, 0, 60, 40, 96);
  for (const auto* bytes : {&emf, &wmf}) {
    const QImage img = Render(*bytes, 60, 40);
    EXPECT_EQ(img.pixel(10, 10), kRedQ);
    EXPECT_EQ(img.pixel(29, 19), kRedQ);
    EXPECT_EQ(img.pixel(20, 15), kRedQ);
    EXPECT_EQ(img.pixel(9, 10), kWhite);
    EXPECT_EQ(img.pixel(30, 19), kWhite);
    EXPECT_EQ(img.pixel(10, 9), kWhite);
    EXPECT_EQ(img.pixel(29, 20), kWhite);
    EXPECT_EQ(CountNotWhite(img, img.rect()), 20 * 10);
  }
}

TEST(MetaFileTest, LinesReachTheirEndPoints) {
  TEmfBuilder b;
  b.Rec(EMR_SELECTOBJECT, {kStockBlackPen});
  b.Rec(EMR_MOVETOEX, {5, 5}).Rec(EMR_LINETO, {40, 5}).Rec(EMR_LINETO, {40, 30});
  const QImage img = Render(b.Finish(60, 40), 60, 40);
  EXPECT_EQ(img.pixel(5, 5), kBlackQ);
  EXPECT_EQ(img.pixel(22, 5), kBlackQ);
  EXPECT_EQ(img.pixel(39, 5), kBlackQ);
  EXPECT_EQ(img.pixel(40, 17), kBlackQ);
  EXPECT_EQ(img.pixel(40, 29), kBlackQ);
  EXPECT_EQ(img.pixel(4, 5), kWhite);
  EXPECT_EQ(img.pixel(22, 6), kWhite);
  EXPECT_EQ(img.pixel(41, 17), kWhite);
  EXPECT_EQ(img.pixel(40, 32), kWhite);

  // A polyline of 16-bit points in a WMF.
  TWmfBuilder w;
  w.Rec(0x0325, {3, 2, 2, 50, 2, 50, 35});
  const QImage wimg = Render(w.Finish(true, 0, 0, 60, 40, 96), 60, 40);
  EXPECT_EQ(wimg.pixel(2, 2), kBlackQ);
  EXPECT_EQ(wimg.pixel(50, 20), kBlackQ);
  EXPECT_EQ(wimg.pixel(25, 3), kWhite);
}

TEST(MetaFileTest, TextIsDrawnInsideItsBox) {
  TEmfBuilder b;
  b.Raw(EMR_EXTCREATEFONTINDIRECTW, EmfFont(1, -20, u"DejaVu Sans"));
  b.Rec(EMR_SELECTOBJECT, {1});
  b.Rec(EMR_SETBKMODE, {1}); // transparent
  b.Raw(EMR_EXTTEXTOUTW, EmfText(10, 10, u"HH"));
  const QImage img = Render(b.Finish(80, 50), 80, 50);
  // Two capitals of 20 pixels: ink between x 10 and about 40, y 10 and 30.
  EXPECT_GT(CountNotWhite(img, QRect(10, 10, 35, 22)), 40);
  EXPECT_EQ(CountNotWhite(img, QRect(0, 0, 80, 10)), 0);
  EXPECT_EQ(CountNotWhite(img, QRect(0, 0, 10, 50)), 0);
  EXPECT_EQ(CountNotWhite(img, QRect(50, 0, 30, 50)), 0);

  // Right alignment: the text ends at the reference point.
  TEmfBuilder r;
  r.Raw(EMR_EXTCREATEFONTINDIRECTW, EmfFont(1, -20, u"DejaVu Sans"));
  r.Rec(EMR_SELECTOBJECT, {1}).Rec(EMR_SETBKMODE, {1}).Rec(EMR_SETTEXTALIGN, {2});
  r.Raw(EMR_EXTTEXTOUTW, EmfText(70, 10, u"HH"));
  const QImage right = Render(r.Finish(80, 50), 80, 50);
  EXPECT_GT(CountNotWhite(right, QRect(40, 10, 30, 22)), 40);
  EXPECT_EQ(CountNotWhite(right, QRect(72, 0, 8, 50)), 0);

  // WMF TextOut in the text colour.
  TWmfBuilder w;
  w.Rec(0x02FB, {-20, 0, 0, 0, 400, 0, 0, 0, 0});
  w.Rec(META_SELECTOBJECT, {0}).Rec(META_SETBKMODE, {1});
  w.Rec(0x0209, {0x00FF, 0}); // red text
  w.Rec(META_TEXTOUT, {2, 'H' | ('H' << 8), 10, 10});
  const QImage wimg = Render(w.Finish(true, 0, 0, 80, 50, 96), 80, 50);
  int red = 0;
  for (int y = 10; y < 32; ++y)
    for (int x = 10; x < 45; ++x)
      if (qRed(wimg.pixel(x, y)) > 200 && qGreen(wimg.pixel(x, y)) < 100) ++red;
  EXPECT_GT(red, 20);
  EXPECT_EQ(CountNotWhite(wimg, QRect(0, 0, 80, 9)), 0);
}

TEST(MetaFileTest, MappingModesAndWindowsScaleTheDrawing) {
  // Anisotropic: window 1000 x 1000 onto viewport 60 x 60.
  TEmfBuilder a = RedFill();
  a.Rec(EMR_SETMAPMODE, {8})
      .Rec(EMR_SETWINDOWEXTEX, {1000, 1000})
      .Rec(EMR_SETVIEWPORTEXTEX, {60, 60});
  a.Rec(EMR_RECTANGLE, {0, 0, 500, 500});
  const QImage img = Render(a.Finish(60, 60), 60, 60);
  EXPECT_EQ(img.pixel(0, 0), kRedQ);
  EXPECT_EQ(img.pixel(29, 29), kRedQ);
  EXPECT_EQ(img.pixel(31, 31), kWhite);

  // The y axis turned upwards: the same rectangle lands bottom left.
  TEmfBuilder f = RedFill();
  f.Rec(EMR_SETMAPMODE, {8}).Rec(EMR_SETWINDOWEXTEX, {1000, 1000});
  f.Rec(EMR_SETVIEWPORTEXTEX, {60, -60}).Rec(EMR_SETVIEWPORTORGEX, {0, 60});
  f.Rec(EMR_RECTANGLE, {0, 0, 500, 500});
  const QImage flipped = Render(f.Finish(60, 60), 60, 60);
  EXPECT_EQ(flipped.pixel(5, 55), kRedQ);
  EXPECT_EQ(flipped.pixel(5, 5), kWhite);

  // A WMF window of 1000 units on a 96-pixel picture (placeable, 1000 per inch).
  TWmfBuilder w;
  w.Rec(META_CREATEBRUSHINDIRECT, {0, 0x00FF, 0, 0}).Rec(META_SELECTOBJECT, {0});
  w.Rec(META_CREATEPENINDIRECT, {5, 0, 0, 0, 0}).Rec(META_SELECTOBJECT, {1});
  w.Rec(META_SETWINDOWORG, {0, 0}).Rec(META_SETWINDOWEXT, {1000, 1000});
  w.Rec(META_RECTANGLE, {500, 500, 0, 0});
  const QImage wimg = Render(w.Finish(true, 0, 0, 1000, 1000, 1000), 96, 96);
  EXPECT_EQ(wimg.pixel(47, 47), kRedQ);
  EXPECT_EQ(wimg.pixel(49, 49), kWhite);

  // A WMF that sets its viewport to its window and then moves the viewport
  // origin 20 device units right draws there (as placeable files are played).
  TWmfBuilder v;
  v.Rec(META_CREATEBRUSHINDIRECT, {0, 0x00FF, 0, 0}).Rec(META_SELECTOBJECT, {0});
  v.Rec(META_CREATEPENINDIRECT, {5, 0, 0, 0, 0}).Rec(META_SELECTOBJECT, {1});
  v.Rec(META_SETMAPMODE, {8})
      .Rec(META_SETWINDOWEXT, {40, 60})
      .Rec(0x020E, {40, 60});                  // viewport extent
  v.Rec(META_SAVEDC, {}).Rec(0x0211, {0, 20}); // offset viewport origin by (20, 0)
  v.Rec(META_RECTANGLE, {10, 10, 0, 0}).Rec(META_RESTOREDC, {-1});
  v.Rec(META_RECTANGLE, {40, 10, 30, 0});
  const QImage moved = Render(v.Finish(true, 0, 0, 60, 40, 96), 60, 40);
  EXPECT_EQ(moved.pixel(25, 5), kRedQ);
  EXPECT_EQ(moved.pixel(5, 5), kWhite);
  EXPECT_EQ(moved.pixel(5, 35), kRedQ);

  // A world transform scaling by 2.
  TEmfBuilder s = RedFill();
  std::vector<uint8_t> xf;
  for (float v : {2.0f, 0.0f, 0.0f, 2.0f, 0.0f, 0.0f})
    PutF32(xf, v);
  s.Raw(EMR_SETWORLDTRANSFORM, xf).Rec(EMR_RECTANGLE, {0, 0, 10, 10});
  const QImage scaled = Render(s.Finish(40, 40), 40, 40);
  EXPECT_EQ(scaled.pixel(19, 19), kRedQ);
  EXPECT_EQ(scaled.pixel(21, 21), kWhite);
}

TEST(MetaFileTest, SavedStatesComeBack) {
  TEmfBuilder b = RedFill();
  b.Rec(EMR_SAVEDC, {});
  b.Rec(EMR_SETWINDOWORGEX, {-30, 0});             // moves drawing 30 pixels right
  b.Rec(EMR_SELECTOBJECT, {int32_t(0x80000004u)}); // black brush
  b.Rec(EMR_RECTANGLE, {0, 0, 10, 10});
  b.Rec(EMR_RESTOREDC, {-1});
  b.Rec(EMR_RECTANGLE, {0, 0, 10, 10});
  const QImage img = Render(b.Finish(60, 20), 60, 20);
  EXPECT_EQ(img.pixel(35, 5), kBlackQ);
  EXPECT_EQ(img.pixel(5, 5), kRedQ);
  EXPECT_EQ(img.pixel(15, 5), kWhite);
}

TEST(MetaFileTest, ClippingLimitsDrawing) {
  TEmfBuilder b = RedFill();
  b.Rec(EMR_INTERSECTCLIPRECT, {0, 0, 20, 20});
  b.Rec(EMR_RECTANGLE, {0, 0, 60, 40});
  const QImage img = Render(b.Finish(60, 40), 60, 40);
  EXPECT_EQ(img.pixel(10, 10), kRedQ);
  EXPECT_EQ(img.pixel(19, 19), kRedQ);
  EXPECT_EQ(img.pixel(20, 5), kWhite);
  EXPECT_EQ(img.pixel(5, 20), kWhite);

  // A clip path: a diamond, only its inside is painted.
  TEmfBuilder d = RedFill();
  d.Rec(EMR_BEGINPATH, {})
      .Rec(EMR_MOVETOEX, {20, 0})
      .Rec(EMR_LINETO, {40, 20})
      .Rec(EMR_LINETO, {20, 40});
  d.Rec(EMR_LINETO, {0, 20}).Rec(61, {}).Rec(EMR_ENDPATH, {}).Rec(67, {5});
  d.Rec(EMR_RECTANGLE, {0, 0, 60, 40});
  const QImage diamond = Render(d.Finish(60, 40), 60, 40);
  EXPECT_EQ(diamond.pixel(20, 20), kRedQ);
  EXPECT_EQ(diamond.pixel(20, 3), kRedQ);
  EXPECT_EQ(diamond.pixel(3, 3), kWhite);
  EXPECT_EQ(diamond.pixel(45, 20), kWhite);

  // The clip is part of the saved state.
  TEmfBuilder s = RedFill();
  s.Rec(EMR_SAVEDC, {}).Rec(EMR_INTERSECTCLIPRECT, {0, 0, 5, 5}).Rec(EMR_RESTOREDC, {-1});
  s.Rec(EMR_RECTANGLE, {0, 0, 60, 40});
  EXPECT_EQ(Render(s.Finish(60, 40), 60, 40).pixel(30, 30), kRedQ);
}

TEST(MetaFileTest, PolygonsEllipsesAndPathsAreFilled) {
  {
    TEmfBuilder b = RedFill();
    b.Rec(EMR_POLYGON16, {0, 0, 0, 0, 3, 0 | (0 << 16), 40, 40 << 16}); // (0,0) (40,0) (0,40)
    const QImage img = Render(b.Finish(60, 60), 60, 60);
    EXPECT_EQ(img.pixel(5, 5), kRedQ);
    EXPECT_EQ(img.pixel(35, 35), kWhite);
  }
  {
    // Two squares, one inside the other: the inner one is a hole (alternate fill).
    std::vector<uint8_t> p;
    for (int i = 0; i < 4; ++i)
      Put32(p, 0);
    Put32(p, 2);
    Put32(p, 8);
    Put32(p, 4);
    Put32(p, 4);
    for (int v : {0, 0, 40, 0, 40, 40, 0, 40, 10, 10, 30, 10, 30, 30, 10, 30})
      Put16(p, unsigned(v));
    TEmfBuilder b = RedFill();
    b.Raw(EMR_POLYPOLYGON16, p);
    const QImage img = Render(b.Finish(60, 60), 60, 60);
    EXPECT_EQ(img.pixel(5, 5), kRedQ);
    EXPECT_EQ(img.pixel(20, 20), kWhite);
    EXPECT_EQ(img.pixel(35, 35), kRedQ);
  }
  {
    TEmfBuilder b = RedFill();
    b.Rec(EMR_ELLIPSE, {0, 0, 40, 40});
    const QImage img = Render(b.Finish(60, 60), 60, 60);
    EXPECT_EQ(img.pixel(20, 20), kRedQ);
    EXPECT_EQ(img.pixel(20, 2), kRedQ);
    EXPECT_EQ(img.pixel(2, 2), kWhite);
  }
  {
    TEmfBuilder b = RedFill();
    b.Rec(EMR_BEGINPATH, {}).Rec(EMR_MOVETOEX, {0, 0}).Rec(EMR_LINETO, {40, 0});
    b.Rec(EMR_LINETO, {0, 40}).Rec(61, {}).Rec(EMR_ENDPATH, {});
    b.Rec(EMR_FILLPATH, {0, 0, 0, 0});
    const QImage img = Render(b.Finish(60, 60), 60, 60);
    EXPECT_EQ(img.pixel(5, 5), kRedQ);
    EXPECT_EQ(img.pixel(35, 35), kWhite);
  }
}

TEST(MetaFileTest, StretchedBitmapKeepsItsOrientation) {
  // A 2 x 2 bottom-up DIB (bottom row blue, green; top row red, white)
  // stretched onto 40 x 40.
  std::vector<uint8_t> p;
  for (int i = 0; i < 4; ++i)
    Put32(p, 0); // bounds
  for (int v : {0, 0, 0, 0, 2, 2})
    Put32(p, uint32_t(v)); // dest x, y; src x, y, cx, cy
  Put32(p, 80);            // offBmi
  Put32(p, 40);            // cbBmi
  Put32(p, 120);           // offBits
  Put32(p, 16);            // cbBits
  Put32(p, 0);             // usage
  Put32(p, 0x00CC0020);
  Put32(p, 40);
  Put32(p, 40);
  Put32(p, 40);
  Put32(p, 2);
  Put32(p, 2);
  Put16(p, 1);
  Put16(p, 24);
  Put32(p, 0);
  Put32(p, 16);
  for (int i = 0; i < 4; ++i)
    Put32(p, 0);
  for (uint8_t v : {255, 0, 0, 0, 255, 0, 0, 0})
    p.push_back(v); // blue, green (B, G, R)
  for (uint8_t v : {0, 0, 255, 255, 255, 255, 0, 0})
    p.push_back(v); // red, white
  TEmfBuilder b;
  b.Raw(EMR_STRETCHDIBITS, p);
  const QImage img = Render(b.Finish(40, 40), 40, 40);
  EXPECT_EQ(img.pixel(5, 5), kRedQ);
  EXPECT_EQ(img.pixel(35, 5), kWhite);
  EXPECT_EQ(img.pixel(5, 35), 0xFF0000FFu);
  EXPECT_EQ(img.pixel(35, 35), 0xFF00FF00u);
}

TEST(MetaFileTest, DamagedFilesFailCleanly) {
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
    const char* Message;
  };
  std::vector<TCase> cases;
  cases.push_back({"not a metafile",
                   {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                   "Not a metafile"});
  {
    std::vector<uint8_t> rec;
    Put32(rec, EMR_RECTANGLE);
    Put32(rec, 0x1000); // longer than the file
    cases.push_back({"emf record beyond the end", TEmfBuilder().Bytes(rec).Finish(10, 10),
                     "Damaged metafile record at offset 0x58"});
  }
  {
    std::vector<uint8_t> rec;
    Put32(rec, EMR_RECTANGLE);
    Put32(rec, 4); // shorter than its own header
    cases.push_back({"emf record too short", TEmfBuilder().Bytes(rec).Finish(10, 10),
                     "Damaged metafile record"});
  }
  {
    std::vector<uint8_t> rec;
    Put32(rec, 0); // zero words: would never advance
    Put16(rec, META_RECTANGLE);
    cases.push_back({"wmf record of length 0", TWmfBuilder().Bytes(rec).Finish(true, 0, 0, 10, 10),
                     "Damaged metafile record at offset 0x28"});
  }
  {
    std::vector<uint8_t> rec;
    Put32(rec, 0x7FFFFFFF);
    Put16(rec, META_RECTANGLE);
    cases.push_back({"wmf record beyond the end", TWmfBuilder().Bytes(rec).Finish(false),
                     "Damaged metafile record"});
  }
  cases.push_back({"huge placeable box", TWmfBuilder().Finish(true, 0, 0, 32000, 32000, 10),
                   "is out of range"});
  cases.push_back({"huge emf frame",
                   TEmfBuilder().FinishFrame(0, 0, 100000 * 2540 / 96, 100000 * 2540 / 96, 10, 10),
                   "is out of range"});
  cases.push_back({"empty emf frame and bounds", TEmfBuilder().FinishFrame(0, 0, 0, 0, 0, 0),
                   "is out of range"});
  cases.push_back(
      {"plain wmf without a size", TWmfBuilder().Finish(false), "Metafile has no picture size"});
  cases.push_back({"empty", {}, "Metafile is empty"});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TMetaFileGraphic g;
    TBytesStream s(c.Bytes.data(), int64_t(c.Bytes.size()));
    EXPECT_THAT([&] { g.LoadFromStream(s); },
                ::testing::ThrowsMessage<EMetafileError>(HasSubstr(c.Message)));
  }
}

TEST(MetaFileTest, RecordsWithDamagedFieldsAreSkipped) {
  TEmfBuilder b = RedFill();
  b.Rec(EMR_RECTANGLE, {0, 0});                 // too short for its box
  b.Rec(EMR_POLYGON, {0, 0, 0, 0, 0x7FFFFFFF}); // two billion points, none present
  std::vector<uint8_t> text = EmfText(0, 0, u"x");
  text[28] = 0xFF;
  text[29] = 0xFF;
  text[30] = 0xFF;
  text[31] = 0x0F; // character count beyond the record
  b.Raw(EMR_EXTTEXTOUTW, text);
  b.Rec(EMR_STRETCHDIBITS,
        {0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 80, 40, 0x7FFFFFF0, 16, 0, 0xCC0020, 40, 40});
  b.Rec(EMR_RECTANGLE, {20, 20, 30, 30}); // still drawn
  const QImage img = Render(b.Finish(40, 40), 40, 40);
  EXPECT_EQ(img.pixel(25, 25), kRedQ);
  EXPECT_EQ(img.pixel(5, 5), kWhite);
}

TEST(MetaFileTest, SavedMetafileReloadsWithTheSamePixels) {
  TDibGraphic source;
  source.NewImage(30, 20, ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x)
      source.SetPixelColor(x, y, uint32_t((x * 8) << 16 | (y * 12) << 8 | 77));
  TMetaFileGraphic g;
  g.Assign(&source);
  TMemoryStream out;
  g.SaveToStream(out);
  ASSERT_GT(out.Size(), 108);
  const uint8_t* m = out.Memory();
  EXPECT_EQ(m[40], 0x20); // " EMF" signature
  EXPECT_EQ(m[41], 'E');
  EXPECT_EQ(m[108], 81); // the first record after the header: StretchDIBits

  out.SetPosition(0);
  TMetaFileGraphic back;
  back.LoadFromStream(out);
  ASSERT_EQ(back.Width(), 30);
  ASSERT_EQ(back.Height(), 20);
  int differences = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x)
      if (back.GetPixelColor(x, y) != source.GetPixelColor(x, y)) ++differences;
  EXPECT_EQ(differences, 0);
}

TEST(MetaFileTest, ArcsChordsPiesAndCurves) {
  // The quarter from 0 degrees (right) to 90 degrees (top), counter-clockwise.
  auto quarter = [](uint32_t Type) {
    TEmfBuilder b = RedFill();
    b.Rec(EMR_SELECTOBJECT, {kStockBlackPen});
    b.Rec(Type, {0, 0, 40, 40, 40, 20, 20, 0});
    return Render(b.Finish(40, 40), 40, 40);
  };
  const QImage pie = quarter(47);
  EXPECT_EQ(pie.pixel(30, 10), kRedQ);
  EXPECT_EQ(pie.pixel(10, 10), kWhite);
  EXPECT_EQ(pie.pixel(10, 30), kWhite);
  EXPECT_EQ(pie.pixel(30, 30), kWhite);
  const QImage chord = quarter(46);
  EXPECT_EQ(chord.pixel(33, 8), kRedQ);   // between the arc and its chord
  EXPECT_EQ(chord.pixel(26, 14), kWhite); // on the centre's side of the chord
  const QImage arc = quarter(45);
  EXPECT_GT(CountNotWhite(arc, QRect(31, 3, 6, 6)), 0);
  EXPECT_EQ(CountNotWhite(arc, QRect(0, 10, 10, 30)), 0); // the rest of the circle is not drawn
  EXPECT_EQ(arc.pixel(30, 10), kWhite);                   // an arc is not filled

  // A cubic Bezier from (2, 2) to (38, 2) pulled down to y = 32 at its middle.
  TEmfBuilder b;
  b.Rec(EMR_SELECTOBJECT, {kStockBlackPen});
  b.Rec(85, {0, 0, 0, 0, 4, 2 | (2 << 16), 2 | (42 << 16), 38 | (42 << 16), 38 | (2 << 16)});
  const QImage curve = Render(b.Finish(40, 40), 40, 40);
  EXPECT_EQ(curve.pixel(2, 2), kBlackQ);
  EXPECT_EQ(curve.pixel(38, 2), kBlackQ);
  EXPECT_GT(CountNotWhite(curve, QRect(18, 31, 5, 3)), 0);
  EXPECT_EQ(CountNotWhite(curve, QRect(15, 10, 10, 15)), 0);
}

TEST(MetaFileTest, HatchedAndPatternBrushes) {
  auto fill = [](int BkMode, uint32_t BrushStyle) {
    TEmfBuilder b;
    b.Rec(EMR_CREATEBRUSHINDIRECT,
          {1, int32_t(BrushStyle), int32_t(Rgb(255, 0, 0)), 0}); // horizontal hatch
    b.Rec(EMR_SELECTOBJECT, {1}).Rec(EMR_SELECTOBJECT, {kStockNullPen});
    b.Rec(EMR_SETBKMODE, {BkMode}).Rec(25, {int32_t(Rgb(0, 0, 255))}); // blue background colour
    b.Rec(EMR_RECTANGLE, {0, 0, 40, 40});
    return Render(b.Finish(40, 40), 40, 40);
  };
  // Transparent background: red lines with white between them.
  const QImage transparent = fill(1, 2);
  int redRows = 0, whiteRows = 0;
  for (int y = 0; y < 40; ++y) {
    bool allRed = true, allWhite = true;
    for (int x = 0; x < 40; ++x) {
      allRed &= transparent.pixel(x, y) == kRedQ;
      allWhite &= transparent.pixel(x, y) == kWhite;
    }
    redRows += allRed;
    whiteRows += allWhite;
  }
  EXPECT_GT(redRows, 2);
  EXPECT_GT(whiteRows, 20);
  EXPECT_EQ(redRows + whiteRows, 40);
  // Opaque background: the gaps take the background colour.
  EXPECT_EQ(CountNotWhite(fill(2, 2), QRect(0, 0, 40, 40)), 1600);
  // A null brush fills nothing.
  EXPECT_EQ(CountNotWhite(fill(2, 1), QRect(0, 0, 40, 40)), 0);

  // A 2 x 2 checker DIB pattern brush (CreateDIBPatternBrushPt).
  std::vector<uint8_t> p;
  for (uint32_t v : {1u, 0u, 32u, 40u, 72u, 16u})
    Put32(p, v); // handle, usage, offBmi, cbBmi, offBits, cbBits
  Put32(p, 40);
  Put32(p, 2);
  Put32(p, 2);
  Put16(p, 1);
  Put16(p, 24);
  Put32(p, 0);
  Put32(p, 16);
  for (int i = 0; i < 4; ++i)
    Put32(p, 0);
  for (uint8_t v : {0, 0, 255, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0})
    p.push_back(v); // red blue / blue red
  TEmfBuilder b;
  b.Raw(94, p).Rec(EMR_SELECTOBJECT, {1}).Rec(EMR_SELECTOBJECT, {kStockNullPen});
  b.Rec(EMR_RECTANGLE, {0, 0, 40, 40});
  const QImage checker = Render(b.Finish(40, 40), 40, 40);
  EXPECT_NE(checker.pixel(10, 10), checker.pixel(11, 10));
  EXPECT_EQ(checker.pixel(10, 10), checker.pixel(11, 11));
  for (QRgb c : {checker.pixel(10, 10), checker.pixel(11, 10)})
    EXPECT_TRUE(c == kRedQ || c == 0xFF0000FFu) << std::hex << c;
}

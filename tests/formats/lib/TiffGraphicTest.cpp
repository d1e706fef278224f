#include "formats/TiffGraphic.h"

#include "tests/formats/lib/LibFixtures.h"

#include <tiffio.h>

#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;

namespace {

TTiffPage Page(uint32_t W, uint32_t H, uint16_t Bits, uint16_t Samples, uint16_t Photometric,
               uint16_t Compression, std::vector<uint8_t> Rows) {
  TTiffPage P;
  P.Width = W;
  P.Height = H;
  P.BitsPerSample = Bits;
  P.SamplesPerPixel = Samples;
  P.Photometric = Photometric;
  P.Compression = Compression;
  P.Rows = std::move(Rows);
  return P;
}

// 2 x 2 RGB: red, green / blue, white.
std::vector<uint8_t> RgbRows() {
  return {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
}

template <class E> void ExpectTiffError(const TBytes& Bytes, const std::string& Text) {
  try {
    LoadFrom<TTiffGraphic>(Bytes);
    ADD_FAILURE() << "loaded without an error, expected " << Text;
  } catch (const E& Error) {
    EXPECT_EQ(Error.Message(), Text);
  } catch (const Exception& Other) {
    ADD_FAILURE() << "other exception: " << Other.Message();
  }
}

// An uncompressed 8-bit grey strip of 3 x 2 pixels, as raw tags.
std::vector<TRawTag> GreyTags(bool WithPhotometric, bool WithRowsPerStrip) {
  std::vector<TRawTag> T = {
      {256, 3, {3}}, {257, 3, {2}}, {258, 3, {8}}, {259, 3, {1}}, {277, 3, {1}}, {284, 3, {1}},
  };
  if (WithPhotometric) T.push_back({262, 3, {1}});
  if (WithRowsPerStrip) T.push_back({278, 3, {2}});
  return T;
}

} // namespace

TEST(TiffGraphic, LzwIsRefusedBeforeAnyPixelIsRead) {
  ExpectTiffError<EImageError>(
      MakeTiff({Page(2, 2, 8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW, RgbRows())}),
      "LZW compression not supported");
}

TEST(TiffGraphic, MissingPhotometricMeansMinIsWhite) {
  const std::vector<uint8_t> Data = {0, 100, 255, 10, 20, 30};
  auto G = LoadFrom<TTiffGraphic>(RawTiff(GreyTags(false, true), Data));
  ASSERT_EQ(G->ImageFormat(), ifGray256);
  EXPECT_EQ(G->GetPixelIndex(0, 0), 255);
  EXPECT_EQ(G->GetPixelIndex(1, 0), 155);
  EXPECT_EQ(G->GetPixelIndex(2, 1), 225);
  auto Black = LoadFrom<TTiffGraphic>(RawTiff(GreyTags(true, true), Data));
  EXPECT_EQ(Black->GetPixelIndex(1, 0), 100);
}

TEST(TiffGraphic, MissingRowsPerStripReadsEveryRowOnce) {
  // 3 x 40 rows in one strip. libtiff fills in the missing tag with its own
  // layout, which is what is read and reported.
  std::vector<TRawTag> T = GreyTags(true, false);
  T[1] = {257, 3, {40}};
  std::vector<uint8_t> Data;
  for (int Y = 0; Y < 40; ++Y)
    Data.insert(Data.end(), {uint8_t(Y), uint8_t(Y + 100), uint8_t(200 - Y)});
  auto G = LoadFrom<TTiffGraphic>(RawTiff(T, Data));
  EXPECT_GE(G->RowsPerStrip, 40u);
  for (int Y = 0; Y < 40; ++Y) {
    ASSERT_EQ(G->GetPixelIndex(0, Y), Y);
    ASSERT_EQ(G->GetPixelIndex(2, Y), 200 - Y);
  }
}

TEST(TiffGraphic, FaxFilesTreatMinIsBlackAsMinIsWhite) {
  // One row: the left 8 pixels set, the right 8 clear.
  const std::vector<uint8_t> Rows = {0xFF, 0x00, 0xFF, 0x00};
  for (uint16_t Photometric : {PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK}) {
    auto G = LoadFrom<TTiffGraphic>(
        MakeTiff({Page(16, 2, 1, 1, Photometric, COMPRESSION_CCITTFAX4, Rows)}));
    ASSERT_EQ(G->ImageFormat(), ifBlackWhite);
    EXPECT_EQ(G->Compression(), TTiffGraphic::tcGroup4);
    // Stored set bits are black after the inversion, whatever the tag says.
    EXPECT_EQ(G->GetPixelIndex(0, 0), 0) << Photometric;
    EXPECT_EQ(G->GetPixelIndex(15, 1), 1) << Photometric;
  }
  // Group 3 needs its T4Options; bit 0 says 2-D.
  TTiffPage G3 = Page(16, 2, 1, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_CCITTFAX3, Rows);
  G3.Extra = [](void* T) {
    TIFFSetField(static_cast<TIFF*>(T), TIFFTAG_GROUP3OPTIONS, uint32_t(1));
  };
  auto Two = LoadFrom<TTiffGraphic>(MakeTiff({G3}));
  EXPECT_EQ(Two->Compression(), TTiffGraphic::tcGroup3_2D);
  EXPECT_EQ(Two->GetPixelIndex(0, 0), 0);
  G3.Extra = nullptr;
  auto One = LoadFrom<TTiffGraphic>(MakeTiff({G3}));
  EXPECT_EQ(One->Compression(), TTiffGraphic::tcGroup3_1D);
}

TEST(TiffGraphic, MinIsWhiteThroughRgbaIsInvertedOnce) {
  // JPEG data take libtiff's RGBA reading, which already maps min-is-white.
  std::vector<uint8_t> Rows(16 * 16, 200);
  TTiffPage P = Page(16, 16, 8, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_JPEG, Rows);
  P.RowsPerStrip = 16;
  auto G = LoadFrom<TTiffGraphic>(MakeTiff({P}));
  ASSERT_EQ(G->ImageFormat(), ifGray256);
  EXPECT_EQ(G->Compression(), TTiffGraphic::tcJpeg);
  EXPECT_NEAR(G->GetPixelIndex(8, 8), 55, 2);
  // The same picture uncompressed, inverted by the reader itself.
  auto Plain = LoadFrom<TTiffGraphic>(
      MakeTiff({Page(16, 16, 8, 1, PHOTOMETRIC_MINISWHITE, COMPRESSION_NONE, Rows)}));
  EXPECT_EQ(Plain->GetPixelIndex(8, 8), 55);
}

TEST(TiffGraphic, RgbStripsLoadAsTrueColourWithAlphaIgnored) {
  auto Rgb = LoadFrom<TTiffGraphic>(
      MakeTiff({Page(2, 2, 8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE, RgbRows())}));
  ASSERT_EQ(Rgb->ImageFormat(), ifTrueColor);
  EXPECT_EQ(Rgb->Compression(), TTiffGraphic::tcNone);
  EXPECT_EQ(Rgb->GetPixelColor(0, 0), 0xFF0000u);
  EXPECT_EQ(Rgb->GetPixelColor(1, 0), 0x00FF00u);
  EXPECT_EQ(Rgb->GetPixelColor(0, 1), 0x0000FFu);
  EXPECT_EQ(Rgb->GetPixelColor(1, 1), 0xFFFFFFu);

  TTiffPage Rgba =
      Page(2, 1, 8, 4, PHOTOMETRIC_RGB, COMPRESSION_DEFLATE, {10, 20, 30, 0, 40, 50, 60, 128});
  Rgba.Extra = [](void* T) {
    const uint16_t Extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(static_cast<TIFF*>(T), TIFFTAG_EXTRASAMPLES, 1, Extra);
  };
  auto A = LoadFrom<TTiffGraphic>(MakeTiff({Rgba}));
  ASSERT_EQ(A->ImageFormat(), ifTrueColor);
  EXPECT_EQ(A->Compression(), TTiffGraphic::tcZLib);
  EXPECT_EQ(A->GetPixelColor(0, 0), MakeRgb(10, 20, 30));
  EXPECT_EQ(A->GetPixelColor(1, 0), MakeRgb(40, 50, 60));
}

TEST(TiffGraphic, SixteenBitGreyGoesThroughRgbaToTrueColour) {
  auto G = LoadFrom<TTiffGraphic>(MakeTiff(
      {Page(2, 1, 16, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, {0x00, 0x12, 0xFF, 0xFF})}));
  ASSERT_EQ(G->ImageFormat(), ifTrueColor);
  // libtiff's RGBA reading scales 16-bit samples to 8 bits (0x1200 -> 0x12).
  EXPECT_EQ(G->GetPixelColor(0, 0), MakeRgb(0x12, 0x12, 0x12));
  EXPECT_EQ(G->GetPixelColor(1, 0), 0xFFFFFFu);
}

TEST(TiffGraphic, DeflateTag8ReadsLikeTheOtherDeflateTag) {
  // The same rows written with both Deflate tags, in several strips, with and
  // without the horizontal predictor (which libtiff allows from 8 bits on).
  const uint32_t W = 33, H = 17;
  const struct {
    const char* Name;
    uint16_t Bits, Samples, Photometric, Predictor;
    TImageFormat Format;
  } Cases[] = {
      {"RGB", 8, 3, PHOTOMETRIC_RGB, PREDICTOR_NONE, ifTrueColor},
      {"RGB, predictor", 8, 3, PHOTOMETRIC_RGB, PREDICTOR_HORIZONTAL, ifTrueColor},
      {"grey", 8, 1, PHOTOMETRIC_MINISBLACK, PREDICTOR_NONE, ifGray256},
      {"grey, predictor", 8, 1, PHOTOMETRIC_MINISBLACK, PREDICTOR_HORIZONTAL, ifGray256},
      {"black and white", 1, 1, PHOTOMETRIC_MINISBLACK, PREDICTOR_NONE, ifBlackWhite},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    const size_t RowBytes = (size_t(W) * C.Bits * C.Samples + 7) / 8;
    std::vector<uint8_t> Rows(RowBytes * H);
    for (size_t I = 0; I < Rows.size(); ++I)
      Rows[I] = static_cast<uint8_t>(I * 7 + I / RowBytes * 13);
    auto Load = [&](uint16_t Tag) {
      TTiffPage P = Page(W, H, C.Bits, C.Samples, C.Photometric, Tag, Rows);
      P.RowsPerStrip = 5;
      const uint16_t Predictor = C.Predictor;
      P.Extra = [Predictor](void* T) {
        TIFFSetField(static_cast<TIFF*>(T), TIFFTAG_PREDICTOR, Predictor);
      };
      return LoadFrom<TTiffGraphic>(MakeTiff({P}));
    };
    auto Eight = Load(COMPRESSION_ADOBE_DEFLATE);
    auto Other = Load(COMPRESSION_DEFLATE);
    ASSERT_EQ(Eight->ImageFormat(), C.Format);
    EXPECT_EQ(Eight->Compression(), TTiffGraphic::tcZLib);
    EXPECT_EQ(TTiffGraphic::CompressionText(Eight->Compression()), "ZLib");
    ASSERT_EQ(Eight->Width(), int(W));
    ASSERT_EQ(Eight->Height(), int(H));
    for (uint32_t Y = 0; Y < H; ++Y)
      for (uint32_t X = 0; X < W; ++X) {
        ASSERT_EQ(Eight->GetPixelColor(int(X), int(Y)), Other->GetPixelColor(int(X), int(Y)))
            << X << "," << Y;
        // And both are the rows written.
        const uint8_t* Row = Rows.data() + RowBytes * Y;
        uint32_t Expect;
        if (C.Format == ifTrueColor)
          Expect = MakeRgb(Row[X * 3], Row[X * 3 + 1], Row[X * 3 + 2]);
        else if (C.Format == ifGray256)
          Expect = MakeRgb(Row[X], Row[X], Row[X]);
        else
          Expect = (Row[X / 8] >> (7 - X % 8)) & 1 ? 0xFFFFFFu : 0u;
        ASSERT_EQ(Eight->GetPixelColor(int(X), int(Y)), Expect) << X << "," << Y;
      }
  }
}

TEST(TiffGraphic, JpegYCbCrWithSubsampledChromaDecodes) {
  // What scanners and cameras write: JPEG, photometric YCbCr, chroma
  // sampled 2x2. libtiff converts the RGB rows given here on writing.
  const uint32_t W = 48, H = 32;
  std::vector<uint8_t> Rows;
  for (uint32_t Y = 0; Y < H; ++Y)
    for (uint32_t X = 0; X < W; ++X)
      Rows.insert(Rows.end(), {uint8_t(40 + X * 4), uint8_t(200 - Y * 5), uint8_t(90 + X + Y)});
  TTiffPage P = Page(W, H, 8, 3, PHOTOMETRIC_YCBCR, COMPRESSION_JPEG, Rows);
  P.RowsPerStrip = 16;
  P.Extra = [](void* Handle) {
    TIFF* T = static_cast<TIFF*>(Handle);
    TIFFSetField(T, TIFFTAG_YCBCRSUBSAMPLING, uint16_t(2), uint16_t(2));
    TIFFSetField(T, TIFFTAG_JPEGQUALITY, 90);
    TIFFSetField(T, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  };
  auto G = LoadFrom<TTiffGraphic>(MakeTiff({P}));
  ASSERT_EQ(G->ImageFormat(), ifTrueColor);
  EXPECT_EQ(G->Compression(), TTiffGraphic::tcJpeg);
  ASSERT_EQ(G->Width(), int(W));
  ASSERT_EQ(G->Height(), int(H));
  int Worst = 0;
  for (uint32_t Y = 0; Y < H; ++Y)
    for (uint32_t X = 0; X < W; ++X) {
      const uint8_t* S = Rows.data() + (size_t(Y) * W + X) * 3;
      Worst = std::max(Worst,
                       ColourDistance(G->GetPixelColor(int(X), int(Y)), MakeRgb(S[0], S[1], S[2])));
    }
  EXPECT_LE(Worst, 12);
}

TEST(TiffGraphic, RefusedFilesRaiseTheirMessages) {
  ExpectTiffError<ETiffError>(
      MakeTiff({Page(4, 1, 2, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, {0x1B})}),
      "ETiffError Unsupported bit count: 2");
  // 8-bit grey with alpha: two bytes per pixel.
  ExpectTiffError<ETiffError>(
      MakeTiff({Page(2, 1, 8, 2, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, {1, 2, 3, 4})}),
      "ETiffError Unsupported bit count: 16");
  // 4-bit grey with three samples: rows of 1.5 bytes per pixel that would not
  // fit the 8-bit image they make.
  ExpectTiffError<ETiffError>(
      MakeTiff({Page(4, 1, 4, 3, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, {1, 2, 3, 4, 5, 6})}),
      "ETiffError Unsupported bit count: 8");
  // A compression libtiff knows but the compression setting has no value for.
  std::vector<TRawTag> Thunder = GreyTags(true, true);
  Thunder[3] = {259, 3, {COMPRESSION_THUNDERSCAN}};
  ExpectTiffError<ETiffError>(RawTiff(Thunder, {0, 0, 0, 0, 0, 0}),
                              "Unsupported compression tag, 32809");

  // JPEG-compressed 8-bit palette: refused by the compression setting.
  std::vector<TRawTag> Palette = {{256, 3, {2}}, {257, 3, {2}}, {258, 3, {8}}, {259, 3, {7}},
                                  {262, 3, {3}}, {277, 3, {1}}, {284, 3, {1}}, {278, 3, {2}}};
  TRawTag Map{320, 3, {}};
  for (int I = 0; I < 3 * 256; ++I)
    Map.Values.push_back(uint32_t(I % 256) * 257);
  Palette.push_back(Map);
  ExpectTiffError<EImageError>(RawTiff(Palette, {0, 0, 0, 0}),
                               "JPEG compression not supported with 256 color images");

  // Missing tags: no BitsPerSample outside the fax compressions, no width;
  // PlanarConfiguration defaults to contiguous. A palette without ColorMap is turned into grey by
  // libtiff 4 at 8 bits and refused by it below.
  std::vector<TRawTag> NoBits = GreyTags(true, true);
  NoBits.erase(NoBits.begin() + 2);
  ExpectTiffError<ETiffError>(RawTiff(NoBits, {0, 0, 0, 0, 0, 0}),
                              "ETiffError TIFFGetField: Tag = 258");
  std::vector<TRawTag> NoPlanar = GreyTags(true, true);
  NoPlanar.erase(NoPlanar.begin() + 5);
  EXPECT_EQ(LoadFrom<TTiffGraphic>(RawTiff(NoPlanar, {0, 7, 0, 0, 0, 0}))->GetPixelIndex(1, 0), 7);
  std::vector<TRawTag> NoWidth = GreyTags(true, true);
  NoWidth.erase(NoWidth.begin());
  ExpectTiffError<ETiffError>(RawTiff(NoWidth, {0, 0, 0, 0, 0, 0}), "ETiffError TIFFOpen");
  std::vector<TRawTag> NoMap = Palette;
  NoMap.pop_back();
  NoMap[3] = {259, 3, {1}};
  EXPECT_EQ(LoadFrom<TTiffGraphic>(RawTiff(NoMap, {0, 0, 0, 0}))->ImageFormat(), ifGray256);
  NoMap[2] = {258, 3, {4}};
  ExpectTiffError<ETiffError>(RawTiff(NoMap, {0, 0}), "ETiffError TIFFOpen");

  ExpectTiffError<ETiffError>("not a TIFF at all", "ETiffError TIFFOpen");
}

TEST(TiffGraphic, DamagedPixelDataFailsOnlyOnTheStripPath) {
  const std::vector<uint8_t> Garbage = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  auto Tags = [](uint32_t Compression, uint32_t Bits, uint32_t Photometric) {
    return std::vector<TRawTag>{
        {256, 3, {16}},          {257, 3, {4}}, {258, 3, {Bits}}, {259, 3, {Compression}},
        {262, 3, {Photometric}}, {277, 3, {1}}, {284, 3, {1}},    {278, 3, {4}}};
  };
  // Deflate strips that do not inflate.
  ExpectTiffError<ETiffError>(RawTiff(Tags(COMPRESSION_DEFLATE, 8, 1), Garbage),
                              "ETiffError TIFFReadEncodedStrip");
  // Fax rows that do not decode stay blank (white after the inversion).
  std::unique_ptr<TTiffGraphic> Fax;
  ASSERT_NO_THROW(Fax =
                      LoadFrom<TTiffGraphic>(RawTiff(Tags(COMPRESSION_CCITTFAX4, 1, 0), Garbage)));
  EXPECT_EQ(Fax->Height(), 4);
  EXPECT_EQ(Fax->GetPixelIndex(15, 3), 1);
  // A failing RGBA read leaves a blank image, without an error.
  std::unique_ptr<TTiffGraphic> Rgba;
  ASSERT_NO_THROW(Rgba = LoadFrom<TTiffGraphic>(RawTiff(Tags(COMPRESSION_JPEG, 8, 1), Garbage)));
  EXPECT_EQ(Rgba->GetPixelIndex(5, 2), 0);
}

TEST(TiffGraphic, ResolutionUnitsGiveDotsPerInch) {
  struct Case {
    uint16_t Unit;
    float X, Y;
    int ExpectX, ExpectY;
  } Cases[] = {{RESUNIT_CENTIMETER, 300, 100, 762, 254},
               {RESUNIT_NONE, 300, 300, 762, 762},
               {RESUNIT_INCH, 300, 72.4f, 300, 72}};
  for (const Case& C : Cases) {
    TTiffPage P = Page(2, 2, 8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE, RgbRows());
    P.Extra = [C](void* T) {
      TIFFSetField(static_cast<TIFF*>(T), TIFFTAG_RESOLUTIONUNIT, C.Unit);
      TIFFSetField(static_cast<TIFF*>(T), TIFFTAG_XRESOLUTION, C.X);
      TIFFSetField(static_cast<TIFF*>(T), TIFFTAG_YRESOLUTION, C.Y);
    };
    auto G = LoadFrom<TTiffGraphic>(MakeTiff({P}));
    EXPECT_EQ(G->XDpi(), C.ExpectX) << C.Unit;
    EXPECT_EQ(G->YDpi(), C.ExpectY) << C.Unit;
  }
  // No resolution: the screen's.
  auto G = LoadFrom<TTiffGraphic>(
      MakeTiff({Page(2, 2, 8, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE, RgbRows())}));
  EXPECT_EQ(G->XDpi(), ScreenDpi());
}

TEST(TiffGraphic, PagesAreImages) {
  std::vector<TTiffPage> Pages;
  for (uint32_t I = 1; I <= 3; ++I)
    Pages.push_back(Page(I, 1, 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_PACKBITS,
                         std::vector<uint8_t>(I, uint8_t(I * 50))));
  const TBytes Bytes = MakeTiff(Pages);
  TTiffGraphic Counter;
  TBytesStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  EXPECT_EQ(Counter.GetImageCount(S), 3);
  for (int Index = 1; Index <= 3; ++Index) {
    auto G = LoadFrom<TTiffGraphic>(Bytes, Index);
    EXPECT_EQ(G->Width(), Index);
    EXPECT_EQ(G->GetPixelIndex(0, 0), Index * 50);
    EXPECT_EQ(G->Compression(), TTiffGraphic::tcPackbits);
    EXPECT_EQ(G->PageCount(), 3);
  }
  EXPECT_EQ(LoadFrom<TTiffGraphic>(MakeTiff({Pages[0]}))->PageCount(), 1);
  // Every page as a frame, also when the TIFF starts inside the stream.
  const TBytes Shifted = "junk" + Bytes;
  TBytesStream Inner(Shifted.data(), static_cast<int64_t>(Shifted.size()));
  Inner.Seek(4, TSeekOrigin::soBeginning);
  TTiffGraphic All;
  All.SetLoadAllImages(true);
  All.LoadFromStream(Inner);
  ASSERT_EQ(All.FrameCount(), 3);
  EXPECT_EQ(All.Frames(3).Width(), 3);
  // The same through a stream that is not in memory.
  TPlainStream Plain(Shifted);
  Plain.Seek(4, TSeekOrigin::soBeginning);
  TTiffGraphic Second;
  Second.SetImageIndex(2);
  Second.LoadFromStream(Plain);
  EXPECT_EQ(Second.Width(), 2);
}

TEST(TiffGraphic, PalettesComeFromTheColorMap) {
  // 16-bit map values are scaled; maps whose values all fit 8 bits are taken as they are.
  struct Case {
    uint16_t Bits;
    TImageFormat Format;
    bool Narrow;
  } Cases[] = {{1, ifBlackWhite, false},
               {4, ifColor16, false},
               {8, ifColor256, false},
               {8, ifColor256, true}};
  for (const Case& C : Cases) {
    const int N = 1 << C.Bits;
    std::vector<uint8_t> Rows = {C.Bits == 1   ? uint8_t(0x40)
                                 : C.Bits == 4 ? uint8_t(0x01)
                                               : uint8_t(1)};
    if (C.Bits == 8) Rows = {0, 1};
    TTiffPage P = Page(2, 1, C.Bits, 1, PHOTOMETRIC_PALETTE, COMPRESSION_NONE, Rows);
    P.Extra = [N, C](void* T) {
      std::vector<uint16_t> R(size_t(N), 0), G(size_t(N), 0), B(size_t(N), 0);
      const uint16_t Scale = C.Narrow ? 1 : 257;
      R[0] = 10 * Scale, G[0] = 20 * Scale, B[0] = 30 * Scale;
      R[1] = 200 * Scale, G[1] = 150 * Scale, B[1] = 100 * Scale;
      TIFFSetField(static_cast<TIFF*>(T), TIFFTAG_COLORMAP, R.data(), G.data(), B.data());
    };
    auto G = LoadFrom<TTiffGraphic>(MakeTiff({P}));
    ASSERT_EQ(G->ImageFormat(), C.Format) << C.Bits;
    EXPECT_EQ(G->LogPalette()->palNumEntries, N);
    EXPECT_EQ(G->GetPixelColor(0, 0), MakeRgb(10, 20, 30)) << C.Bits;
    EXPECT_EQ(G->GetPixelColor(1, 0), MakeRgb(200, 150, 100)) << C.Bits;
  }
}

TEST(TiffGraphic, CompressionSettingFollowsTheImageFormat) {
  TTiffGraphic G;
  G.NewImage(4, 4, ifBlackWhite, nullptr, 0, 0);
  EXPECT_EQ(G.Compression(), TTiffGraphic::tcGroup4);
  G.NewImage(4, 4, ifColor256, nullptr, 0, 0);
  EXPECT_EQ(G.Compression(), TTiffGraphic::tcPackbits);
  try {
    G.SetCompression(TTiffGraphic::tcJpeg);
    ADD_FAILURE();
  } catch (const EImageError& E) {
    EXPECT_EQ(E.Message(), "JPEG compression not supported with 256 color images");
  }
  G.NewImage(4, 4, ifTrueColor, nullptr, 0, 0);
  try {
    G.SetCompression(TTiffGraphic::tcGroup3_2D);
    ADD_FAILURE();
  } catch (const EImageError& E) {
    EXPECT_EQ(E.Message(), "CCITT Group 3, 2D compression not supported with True color images");
  }
  const char* Texts[] = {
      "None", "Packbits", "CCITT Group 3, 1D", "CCITT Group 3, 2D", "CCITT Group 4",
      "ZLib", "JPEG"};
  for (int I = 0; I <= 6; ++I)
    EXPECT_EQ(TTiffGraphic::CompressionText(I), Texts[I]);

  TTiffGraphic Copy;
  G.RowsPerStrip = 5;
  Copy.Assign(&G);
  EXPECT_EQ(Copy.RowsPerStrip, 5u);
}

TEST(TiffGraphic, EveryFormatAndCompressionSurvivesASaveAndLoad) {
  for (TImageFormat Format :
       {ifBlackWhite, ifGray16, ifGray256, ifColor16, ifColor256, ifTrueColor}) {
    for (int Setting = 0; Setting <= 6; ++Setting) {
      if (!TTiffGraphic::CompressionAllowed(Format, Setting)) continue;
      TTiffGraphic Source;
      TLogPalette Pal;
      Pal.palVersion = 0x300;
      Pal.palNumEntries = Format == ifColor256 ? 256 : 16;
      for (int I = 0; I < Pal.palNumEntries; ++I)
        Pal.palPalEntry[I] = {uint8_t(I), uint8_t(255 - I), uint8_t(I * 3), 0};
      const bool OwnPalette = Format == ifColor16 || Format == ifColor256;
      Source.NewImage(37, 19, Format, OwnPalette ? &Pal : nullptr, 200, 100);
      for (int Y = 0; Y < 19; ++Y)
        for (int X = 0; X < 37; ++X) {
          if (Format == ifTrueColor)
            Source.SetPixelColor(X, Y, MakeRgb(uint8_t(X * 6), uint8_t(Y * 12), 128));
          else if (Format == ifBlackWhite)
            Source.SetPixelIndex(X, Y, (X / 3 + Y / 2) % 2);
          else
            Source.SetPixelIndex(X, Y, Format == ifGray256 ? X * 6 : (X + Y) % 16);
        }
      Source.SetCompression(Setting);
      Source.RowsPerStrip = 8;
      auto Back = LoadFrom<TTiffGraphic>(SavedBytes(Source));
      const std::string Name =
          ImageFormatName(Format) + " / " + TTiffGraphic::CompressionText(Setting);
      ASSERT_EQ(Back->ImageFormat(), Format) << Name;
      EXPECT_EQ(Back->Compression(), Setting) << Name;
      EXPECT_EQ(Back->RowsPerStrip, 8u) << Name;
      EXPECT_EQ(Back->XDpi(), 200) << Name;
      EXPECT_EQ(Back->YDpi(), 100) << Name;
      const int Tolerance = Setting == TTiffGraphic::tcJpeg ? 12 : 0;
      for (int Y = 0; Y < 19; ++Y)
        for (int X = 0; X < 37; ++X)
          ASSERT_LE(ColourDistance(Back->GetPixelColor(X, Y), Source.GetPixelColor(X, Y)),
                    Tolerance)
              << Name << " at " << X << "," << Y;
    }
  }
}

TEST(TiffGraphic, AppendAddsPages) {
  TMemoryStream S;
  for (int I = 1; I <= 3; ++I) {
    TTiffGraphic G;
    G.NewImage(I * 2, I, ifGray256, nullptr, 0, 0);
    for (int X = 0; X < I * 2; ++X)
      for (int Y = 0; Y < I; ++Y)
        G.SetPixelIndex(X, Y, I * 40);
    G.AppendToStream(S);
  }
  S.Seek(0, TSeekOrigin::soBeginning);
  TTiffGraphic Counter;
  EXPECT_EQ(Counter.GetImageCount(S), 3);
  const TBytes Bytes(reinterpret_cast<const char*>(S.Memory()), static_cast<size_t>(S.Size()));
  auto Third = LoadFrom<TTiffGraphic>(Bytes, 3);
  EXPECT_EQ(Third->Width(), 6);
  EXPECT_EQ(Third->GetPixelIndex(5, 2), 120);
}

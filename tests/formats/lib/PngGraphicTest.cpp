#include "formats/PngGraphic.h"

#include "tests/formats/lib/LibFixtures.h"

#include <png.h>
#include <zlib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

using ::testing::HasSubstr;

namespace {

void ExpectPngError(const TBytes& Bytes, const std::string& Text) {
  try {
    LoadFrom<TPngGraphic>(Bytes);
    ADD_FAILURE() << "loaded without an error, expected " << Text;
  } catch (const EPNGError& E) {
    EXPECT_THAT(E.Message(), HasSubstr(Text));
  }
}

// An sRGB file is not gamma-corrected, so its values come through unchanged.
TPngFixture Srgb(uint32_t W, uint32_t H, int Depth, int Type, std::vector<uint8_t> Rows) {
  TPngFixture F;
  F.Width = W;
  F.Height = H;
  F.BitDepth = Depth;
  F.ColorType = Type;
  F.Rows = std::move(Rows);
  F.Srgb = true;
  return F;
}

// One RGBA row: an opaque colour and a fully transparent pixel.
TPngFixture HalfTransparent() {
  return Srgb(2, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA, {10, 20, 30, 255, 200, 100, 50, 0});
}

uint32_t Be32(const TBytes& B, size_t At) {
  return (uint32_t(uint8_t(B[At])) << 24) | (uint32_t(uint8_t(B[At + 1])) << 16) |
         (uint32_t(uint8_t(B[At + 2])) << 8) | uint32_t(uint8_t(B[At + 3]));
}

// Rewrites the IHDR chunk's bit depth and colour type (and its CRC).
TBytes WithHeader(TBytes B, int Depth, int Type) {
  B[8 + 8 + 8] = static_cast<char>(Depth);
  B[8 + 8 + 9] = static_cast<char>(Type);
  const uLong Crc = crc32(0, reinterpret_cast<const Bytef*>(B.data() + 12), 4 + 13);
  for (int I = 0; I < 4; ++I)
    B[8 + 8 + 13 + size_t(I)] = static_cast<char>((Crc >> (24 - 8 * I)) & 0xFF);
  return B;
}

} // namespace

TEST(PngGraphic, BitDepthAndColourTypeChooseTheImageFormat) {
  const std::vector<TPngRgb> Palette4 = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  struct Case {
    int Depth, Type;
    TImageFormat Format;
  } Cases[] = {
      {1, 0, ifBlackWhite}, {1, 3, ifBlackWhite}, {2, 0, ifGray16},     {2, 3, ifColor16},
      {4, 0, ifGray16},     {4, 3, ifColor16},    {8, 0, ifGray256},    {8, 4, ifGray256},
      {8, 2, ifTrueColor},  {8, 6, ifTrueColor},  {8, 3, ifColor256},   {16, 0, ifGray256},
      {16, 4, ifGray256},   {16, 2, ifTrueColor}, {16, 6, ifTrueColor},
  };
  for (const Case& C : Cases) {
    TPngFixture F = Srgb(3, 2, C.Depth, C.Type, {});
    const int Channels = C.Type == 2 ? 3 : C.Type == 4 ? 2 : C.Type == 6 ? 4 : 1;
    const size_t RowBytes = (size_t(3) * Channels * C.Depth + 7) / 8;
    F.Rows.assign(RowBytes * 2, C.Type == 3 ? 0x00 : 0xFF);
    if (C.Type == 3) F.Palette.assign(Palette4.begin(), Palette4.begin() + (C.Depth == 1 ? 2 : 4));
    auto G = LoadFrom<TPngGraphic>(MakePng(F));
    EXPECT_EQ(G->ImageFormat(), C.Format) << "depth " << C.Depth << " type " << C.Type;
    EXPECT_EQ(G->Width(), 3);
    EXPECT_EQ(G->Height(), 2);
  }
}

TEST(PngGraphic, TwoBitPixelsBecomePaletteIndices) {
  // Values 0, 1, 2, 3 in one byte, most significant bits first.
  auto Grey = LoadFrom<TPngGraphic>(MakePng(Srgb(4, 1, 2, PNG_COLOR_TYPE_GRAY, {0x1B})));
  ASSERT_EQ(Grey->ImageFormat(), ifGray16);
  for (int X = 0; X < 4; ++X)
    EXPECT_EQ(Grey->GetPixelIndex(X, 0), X * 5);
  EXPECT_EQ(Grey->GetPixelColor(3, 0), MakeRgb(255, 255, 255));

  TPngFixture P = Srgb(4, 1, 2, PNG_COLOR_TYPE_PALETTE, {0xE4}); // 3, 2, 1, 0
  P.Palette = {{1, 2, 3}, {40, 50, 60}, {70, 80, 90}, {200, 210, 220}};
  auto Pal = LoadFrom<TPngGraphic>(MakePng(P));
  ASSERT_EQ(Pal->ImageFormat(), ifColor16);
  EXPECT_EQ(Pal->LogPalette()->palNumEntries, 4);
  for (int X = 0; X < 4; ++X)
    EXPECT_EQ(Pal->GetPixelIndex(X, 0), 3 - X);
  EXPECT_EQ(Pal->GetPixelColor(0, 0), MakeRgb(200, 210, 220));
}

TEST(PngGraphic, SixteenBitSamplesKeepTheirHighByte) {
  auto G = LoadFrom<TPngGraphic>(
      MakePng(Srgb(2, 1, 16, PNG_COLOR_TYPE_RGB,
                   {0x12, 0xAB, 0x34, 0xCD, 0x56, 0xEF, 0xFF, 0xFF, 0x00, 0x01, 0x80, 0x00})));
  ASSERT_EQ(G->ImageFormat(), ifTrueColor);
  EXPECT_EQ(G->GetPixelColor(0, 0), MakeRgb(0x12, 0x34, 0x56));
  EXPECT_EQ(G->GetPixelColor(1, 0), MakeRgb(0xFF, 0x00, 0x80));
  auto Grey =
      LoadFrom<TPngGraphic>(MakePng(Srgb(2, 1, 16, PNG_COLOR_TYPE_GRAY, {0x7F, 0xFF, 0x80, 0x00})));
  EXPECT_EQ(Grey->GetPixelIndex(0, 0), 0x7F);
  EXPECT_EQ(Grey->GetPixelIndex(1, 0), 0x80);
}

TEST(PngGraphic, TransparencyIsCompositedOntoTheChosenBackground) {
  struct Case {
    const char* Name;
    bool FileBackground;
    uint32_t BackgroundColor;
    bool Force;
    uint32_t Expected;
  } Cases[] = {
      {"no bKGD: black", false, 0x000000, false, 0x000000},
      {"no bKGD: BackgroundColor white", false, 0xFFFFFF, false, 0xFFFFFF},
      {"bKGD wins over BackgroundColor", true, 0xFFFFFF, false, MakeRgb(0, 128, 255)},
      {"ForceBackground", true, 0x336699, true, 0x336699},
  };
  for (const Case& C : Cases) {
    TPngFixture F = HalfTransparent();
    if (C.FileBackground) {
      F.HasBackground = true;
      F.BackR = 0;
      F.BackG = 128;
      F.BackB = 255;
    }
    TBytes Bytes = MakePng(F);
    TPngGraphic G;
    G.BackgroundColor = C.BackgroundColor;
    G.ForceBackground = C.Force;
    TBytesStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    G.LoadFromStream(S);
    ASSERT_EQ(G.ImageFormat(), ifTrueColor) << C.Name;
    EXPECT_EQ(G.GetPixelColor(0, 0), MakeRgb(10, 20, 30)) << C.Name;
    EXPECT_EQ(G.GetPixelColor(1, 0), C.Expected) << C.Name;
  }
}

TEST(PngGraphic, GreyTransparencyUsesTheBackgroundsGreyLevel) {
  // Grey with alpha: the background's grey level, not always black.
  TPngFixture F = Srgb(2, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {90, 255, 30, 0});
  const TBytes Bytes = MakePng(F);
  for (uint32_t Back : {0x000000u, 0xFFFFFFu}) {
    TPngGraphic G;
    G.BackgroundColor = Back;
    TBytesStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    G.LoadFromStream(S);
    EXPECT_EQ(G.GetPixelIndex(0, 0), 90);
    EXPECT_EQ(G.GetPixelIndex(1, 0), Back == 0 ? 0 : 255);
  }

  // A 1-bit palette with a transparent entry.
  TPngFixture P = Srgb(8, 1, 1, PNG_COLOR_TYPE_PALETTE, {0x0F});
  P.Palette = {{255, 0, 0}, {0, 0, 255}};
  P.PaletteAlpha = {0};
  const TBytes PalBytes = MakePng(P);
  TPngGraphic G;
  G.BackgroundColor = 0x00FF00;
  TBytesStream S(PalBytes.data(), static_cast<int64_t>(PalBytes.size()));
  G.LoadFromStream(S);
  ASSERT_EQ(G.ImageFormat(), ifBlackWhite);
  EXPECT_EQ(G.GetPixelColor(0, 0), 0x00FF00u); // the transparent entry, composited
  EXPECT_EQ(G.GetPixelColor(7, 0), 0x0000FFu);
}

TEST(PngGraphic, GammaIsCorrectedAgainstTheDisplayGamma) {
  struct Case {
    const char* Name;
    double FileGamma; // 0: none
    bool Srgb;
    double ExpectedGamma;
    int Expected; // the decoded value of 128
  } Cases[] = {
      {"gAMA 1/2.2 cancels", 0.45455, false, 0.45455, 128},
      {"gAMA 1.0", 1.0, false, 1.0, int(std::lround(255 * std::pow(128 / 255.0, 1 / 2.2)))},
      {"no gAMA: 0.5", 0.0, false, 0.5, int(std::lround(255 * std::pow(128 / 255.0, 1 / 1.1)))},
      {"sRGB: unchanged", 1.0, true, 0.25, 128},
  };
  for (const Case& C : Cases) {
    TPngFixture F = Srgb(1, 1, 8, PNG_COLOR_TYPE_RGB, {128, 128, 128});
    F.Srgb = C.Srgb;
    F.Gamma = C.Srgb ? 0.0 : C.FileGamma;
    const TBytes Bytes = MakePng(F);
    TPngGraphic G;
    G.Gamma = 0.25; // left alone by an sRGB file
    TBytesStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    G.LoadFromStream(S);
    EXPECT_NEAR(G.Gamma, C.ExpectedGamma, 1e-4) << C.Name;
    EXPECT_NEAR(Red(G.GetPixelColor(0, 0)), C.Expected, 1) << C.Name;
  }
  // 1- and 2-bit files are never corrected and leave Gamma as it was.
  TPngFixture Bits = Srgb(4, 1, 2, PNG_COLOR_TYPE_GRAY, {0x1B});
  Bits.Srgb = false;
  Bits.Gamma = 1.0;
  const TBytes Bytes = MakePng(Bits);
  TPngGraphic G;
  G.Gamma = 0.25;
  TBytesStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  G.LoadFromStream(S);
  EXPECT_EQ(G.Gamma, 0.25);
  EXPECT_EQ(G.GetPixelIndex(1, 0), 5);
}

TEST(PngGraphic, PhysicalPixelSizeGivesDotsPerInch) {
  struct Case {
    uint32_t X, Y;
    int Unit;
    int ExpectX, ExpectY; // -1: the screen's
  } Cases[] = {{3780, 3780, 1, 96, 96}, {11811, 2835, 1, 300, 72}, {3780, 3780, 0, -1, -1}};
  const uint16_t Screen = ScreenDpi();
  for (const Case& C : Cases) {
    TPngFixture F = Srgb(1, 1, 8, PNG_COLOR_TYPE_GRAY, {7});
    F.HasPhys = true;
    F.PhysX = C.X;
    F.PhysY = C.Y;
    F.PhysUnit = C.Unit;
    auto G = LoadFrom<TPngGraphic>(MakePng(F));
    EXPECT_EQ(G->XDpi(), C.ExpectX < 0 ? Screen : C.ExpectX);
    EXPECT_EQ(G->YDpi(), C.ExpectY < 0 ? Screen : C.ExpectY);
  }
}

TEST(PngGraphic, InterlacedFilesLoadCompletely) {
  // Sizes that leave some Adam7 passes empty, and a larger one.
  for (uint32_t Size : {1u, 3u, 13u}) {
    for (int Type : {PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_PALETTE}) {
      TPngFixture F = Srgb(Size, Size + 2, 8, Type, {});
      const int Channels = Type == PNG_COLOR_TYPE_RGB ? 3 : 1;
      for (uint32_t I = 0; I < Size * (Size + 2) * Channels; ++I)
        F.Rows.push_back(static_cast<uint8_t>(I * 37 + 11));
      if (Type == PNG_COLOR_TYPE_PALETTE)
        for (int I = 0; I < 256; ++I)
          F.Palette.push_back({uint8_t(I), uint8_t(255 - I), uint8_t(I / 2)});
      auto Plain = LoadFrom<TPngGraphic>(MakePng(F));
      F.Interlaced = true;
      auto Interlaced = LoadFrom<TPngGraphic>(MakePng(F));
      for (uint32_t Y = 0; Y < Size + 2; ++Y)
        for (uint32_t X = 0; X < Size; ++X) {
          const size_t At = (size_t(Y) * Size + X) * Channels;
          const uint32_t Expected = Type == PNG_COLOR_TYPE_RGB
                                        ? MakeRgb(F.Rows[At], F.Rows[At + 1], F.Rows[At + 2])
                                    : Type == PNG_COLOR_TYPE_GRAY
                                        ? MakeRgb(F.Rows[At], F.Rows[At], F.Rows[At])
                                        : MakeRgb(F.Palette[F.Rows[At]].R, F.Palette[F.Rows[At]].G,
                                                  F.Palette[F.Rows[At]].B);
          ASSERT_EQ(Interlaced->GetPixelColor(int(X), int(Y)), Expected)
              << Size << " " << X << "," << Y;
          ASSERT_EQ(Plain->GetPixelColor(int(X), int(Y)), Expected);
        }
    }
  }
}

TEST(PngGraphic, DamagedFilesRaiseLibpngsMessage) {
  const TBytes Good = MakePng(Srgb(4, 4, 8, PNG_COLOR_TYPE_GRAY, std::vector<uint8_t>(16, 9)));
  ExpectPngError("GIF89a...........", "PNG file is not valid or corrupted");
  ExpectPngError(TBytes(), "PNG file is not valid or corrupted");

  TBytes BadCrc = Good;
  BadCrc[29] = static_cast<char>(BadCrc[29] ^ 0x55); // inside the IHDR CRC
  ExpectPngError(BadCrc, "IHDR: CRC error");

  // libpng warns with the reason, then fails with its error text.
  ExpectPngError(WithHeader(Good, 16, 3), "Invalid IHDR data");
  ExpectPngError(WithHeader(Good, 3, 0), "Invalid IHDR data");

  // Cut inside the image data: the read error comes at once.
  const size_t Idat = Good.find("IDAT");
  ASSERT_NE(Idat, TBytes::npos);
  ExpectPngError(Good.substr(0, Idat + 4 + Be32(Good, Idat - 4) / 2), "Read Error");
  // A huge ancillary chunk cut short is not read through to its claimed end.
  TBytes Huge = Good.substr(0, Idat - 4);
  Huge += TBytes("\x7F\xFF\xFF\xF0teXt", 8) + "cut";
  ExpectPngError(Huge, "Read Error");
  // Everything after the image data (the end chunk) is never read.
  EXPECT_NO_THROW(LoadFrom<TPngGraphic>(Good.substr(0, Good.size() - 12)));
}

TEST(PngGraphic, StreamFailureInsideLibpngReachesTheCallerUnchanged) {
  const TBytes Bytes = MakePng(Srgb(4, 4, 8, PNG_COLOR_TYPE_GRAY, std::vector<uint8_t>(16, 9)));
  TPlainStream S(Bytes, 40);
  TPngGraphic G;
  EXPECT_THROW(G.LoadFromStream(S), EStreamError);
}

TEST(PngGraphic, WarningsAreCountedNotShown) {
  // A palette with more entries than 1-bit pixels can use: libpng warns.
  TPngFixture F = Srgb(8, 1, 8, PNG_COLOR_TYPE_PALETTE, std::vector<uint8_t>(8, 1));
  F.Palette = {{0, 0, 0}, {9, 9, 9}};
  TBytes Bytes = MakePng(F);
  // An unknown ancillary chunk with a bad CRC only raises a warning.
  const size_t Idat = Bytes.find("IDAT") - 4;
  const TBytes Chunk("\0\0\0\x01teSt\x01\0\0\0\0", 13);
  Bytes.insert(Idat, Chunk);
  TPngGraphic G;
  TBytesStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  ASSERT_NO_THROW(G.LoadFromStream(S));
  EXPECT_GE(G.WarningCount, 1);
  EXPECT_EQ(G.GetPixelColor(3, 0), MakeRgb(9, 9, 9));
}

TEST(PngGraphic, EveryFormatSurvivesASaveAndLoad) {
  for (TImageFormat Format :
       {ifBlackWhite, ifGray16, ifGray256, ifColor16, ifColor256, ifTrueColor}) {
    for (bool Interlaced : {false, true}) {
      TPngGraphic Source;
      TLogPalette Pal;
      Pal.palVersion = 0x300;
      Pal.palNumEntries = Format == ifBlackWhite ? 2 : 16;
      for (int I = 0; I < Pal.palNumEntries; ++I)
        Pal.palPalEntry[I] = {uint8_t(I * 16), uint8_t(255 - I * 3), uint8_t(I * 7), 0};
      const bool OwnPalette = Format == ifBlackWhite || Format == ifColor16 || Format == ifColor256;
      Source.NewImage(11, 7, Format, OwnPalette ? &Pal : nullptr, 120, 240);
      for (int Y = 0; Y < 7; ++Y)
        for (int X = 0; X < 11; ++X) {
          if (Format == ifTrueColor)
            Source.SetPixelColor(X, Y, MakeRgb(uint8_t(X * 20), uint8_t(Y * 30), uint8_t(X * Y)));
          else
            Source.SetPixelIndex(X, Y, (X + 3 * Y) % (Format == ifBlackWhite ? 2 : 16));
        }
      Source.Interlaced = Interlaced;
      Source.Gamma = 1 / 2.2; // no correction on the way back
      const TBytes Bytes = SavedBytes(Source);
      auto Back = LoadFrom<TPngGraphic>(Bytes);
      EXPECT_EQ(Back->ImageFormat(), Format == ifGray256 ? ifGray256 : Format) << int(Format);
      EXPECT_EQ(Back->XDpi(), 120);
      EXPECT_EQ(Back->YDpi(), 240);
      for (int Y = 0; Y < 7; ++Y)
        for (int X = 0; X < 11; ++X)
          ASSERT_EQ(Back->GetPixelColor(X, Y), Source.GetPixelColor(X, Y))
              << "format " << int(Format) << " interlaced " << Interlaced << " at " << X << ","
              << Y;
      // Interlacing is what the setting says (IHDR's last byte).
      EXPECT_EQ(Bytes[8 + 8 + 12], Interlaced ? 1 : 0);
    }
  }
}

TEST(PngGraphic, SaveSettingsWriteTheirChunks) {
  TPngGraphic Source;
  Source.NewImage(2, 1, ifColor256, nullptr, 0, 0);
  Source.SetPixelIndex(0, 0, 12); // VGA light red (255, 85, 85)
  Source.SetPixelIndex(1, 0, 9);  // VGA light blue
  Source.Transparent = true;
  Source.TransparentColor = MakeRgb(255, 85, 85);
  Source.WriteBackground = true;
  Source.BackgroundColor = MakeRgb(0, 170, 0); // entry 2
  const TBytes Bytes = SavedBytes(Source);
  EXPECT_NE(Bytes.find("tRNS"), TBytes::npos);
  EXPECT_NE(Bytes.find("bKGD"), TBytes::npos);
  EXPECT_NE(Bytes.find("gAMA"), TBytes::npos);
  // Read back, the transparent entry shows the file's background.
  Source.Gamma = 1 / 2.2;
  auto Back = LoadFrom<TPngGraphic>(SavedBytes(Source));
  EXPECT_EQ(Back->GetPixelColor(0, 0), MakeRgb(0, 170, 0));
  EXPECT_EQ(Back->GetPixelColor(1, 0), MakeRgb(85, 85, 255));

  // Compression levels: 0 is zlib level 1, 2 is level 9.
  TPngGraphic Big;
  Big.NewImage(200, 200, ifGray256, nullptr, 0, 0);
  for (int Y = 0; Y < 200; ++Y)
    for (int X = 0; X < 200; ++X)
      Big.SetPixelIndex(X, Y, (X * X + Y * 3) % 251);
  Big.Interlaced = false;
  Big.CompressionLevel = 0;
  const size_t Fast = SavedBytes(Big).size();
  Big.CompressionLevel = 2;
  EXPECT_LT(SavedBytes(Big).size(), Fast);

  TPngGraphic Grey;
  Grey.NewImage(2, 2, ifGray256, nullptr, 0, 0);
  Grey.Transparent = true;
  TMemoryStream S;
  try {
    Grey.SaveToStream(S);
    ADD_FAILURE() << "saved a transparent grey image";
  } catch (const EPNGError& E) {
    EXPECT_EQ(E.Message(), "Gray scale transparent PNG images are not supported.\rUse the "
                           "ifColor16 or ifColor256 image format "
                           "instead.");
  }
}

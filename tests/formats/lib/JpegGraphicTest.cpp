#include "formats/JpegGraphic.h"

#include "tests/formats/lib/LibFixtures.h"
#include "platform/Memory.h"
#include "platform/MemoryBudget.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>

using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

// Four flat 16x16 blocks (one colour MCU each): red, green, blue, white in
// the top half and four greys in the bottom half, so that every colour
// decodes almost exactly.
TJpegFixture ColourBlocks(int Components = 3) {
  TJpegFixture F;
  F.Width = 64;
  F.Height = 32;
  F.Components = Components;
  const uint8_t Colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  for (int Y = 0; Y < F.Height; ++Y)
    for (int X = 0; X < F.Width; ++X) {
      const int B = X / 16;
      uint8_t C[3] = {Colours[B][0], Colours[B][1], Colours[B][2]};
      if (Y >= 16) C[0] = C[1] = C[2] = static_cast<uint8_t>(40 + 50 * B);
      if (Components == 1) {
        F.Pixels.push_back(Y >= 16 ? C[0] : static_cast<uint8_t>(60 * B));
      } else {
        F.Pixels.insert(F.Pixels.end(), C, C + 3);
      }
    }
  return F;
}

// The centre of block B in the top (Bottom false) or bottom half.
int BlockX(int B) {
  return 16 * B + 8;
}
int BlockY(bool Bottom) {
  return Bottom ? 24 : 8;
}

// A 64x64 picture with detail everywhere, so that a cut file loses visible rows.
TJpegFixture Gradient() {
  TJpegFixture F;
  F.Width = 64;
  F.Height = 64;
  for (int Y = 0; Y < F.Height; ++Y)
    for (int X = 0; X < F.Width; ++X) {
      F.Pixels.push_back(static_cast<uint8_t>(X * 4));
      F.Pixels.push_back(static_cast<uint8_t>(Y * 4));
      F.Pixels.push_back(static_cast<uint8_t>(255 - X * 2));
    }
  return F;
}

void ExpectJpegMessage(const TBytes& Bytes, const std::string& Text) {
  try {
    LoadFrom<TJpegGraphic>(Bytes);
    FAIL() << "loaded without an error";
  } catch (const EJpegError& E) {
    FAIL() << "EJpegError is only for the component count: " << E.Message();
  } catch (const Exception& E) {
    EXPECT_THAT(E.Message(), HasSubstr(Text));
  }
}

} // namespace

TEST(JpegGraphic, ColourFileLoadsTrueColourInTheRightChannelOrder) {
  auto G = LoadFrom<TJpegGraphic>(MakeJpeg(ColourBlocks()));
  ASSERT_EQ(G->ImageFormat(), ifTrueColor);
  EXPECT_EQ(G->Width(), 64);
  EXPECT_EQ(G->Height(), 32);
  const uint32_t Expected[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  for (int B = 0; B < 4; ++B) {
    EXPECT_LE(ColourDistance(G->GetPixelColor(BlockX(B), BlockY(false)), Expected[B]), 3)
        << "block " << B;
    const uint8_t Grey = static_cast<uint8_t>(40 + 50 * B);
    EXPECT_LE(ColourDistance(G->GetPixelColor(BlockX(B), BlockY(true)), MakeRgb(Grey, Grey, Grey)),
              2)
        << "block " << B;
  }
  // The storage itself is blue, green, red: the red block's first byte is blue.
  const uint8_t* Row = G->ScanLine(BlockY(false));
  EXPECT_LE(Row[3 * BlockX(0)], 3);
  EXPECT_GE(Row[3 * BlockX(0) + 2], 252);
}

TEST(JpegGraphic, GreyFileLoadsAsGray256WithItsValues) {
  auto G = LoadFrom<TJpegGraphic>(MakeJpeg(ColourBlocks(1)));
  ASSERT_EQ(G->ImageFormat(), ifGray256);
  for (int B = 0; B < 4; ++B) {
    EXPECT_NEAR(G->GetPixelIndex(BlockX(B), BlockY(false)), 60 * B, 2);
    EXPECT_NEAR(G->GetPixelIndex(BlockX(B), BlockY(true)), 40 + 50 * B, 2);
  }
  // The default 256-grey palette.
  const int I = G->GetPixelIndex(BlockX(1), BlockY(true));
  EXPECT_EQ(G->GetPixelColor(BlockX(1), BlockY(true)), MakeRgb(I, I, I));
}

TEST(JpegGraphic, DensityUnitsGiveDotsPerInch) {
  struct Case {
    int Unit, X, Y;
    int ExpectX, ExpectY; // -1: the screen's resolution
  } Cases[] = {
      {1, 300, 200, 300, 200},
      {2, 118, 118, 300, 300}, // 118 x 2.54 = 299.72
      {2, 40, 20, 102, 51},
      {0, 1, 1, -1, -1},
  };
  const uint16_t Screen = ScreenDpi();
  for (const Case& C : Cases) {
    TJpegFixture F = ColourBlocks();
    F.DensityUnit = C.Unit;
    F.XDensity = C.X;
    F.YDensity = C.Y;
    auto G = LoadFrom<TJpegGraphic>(MakeJpeg(F));
    EXPECT_EQ(G->XDpi(), C.ExpectX < 0 ? Screen : C.ExpectX) << "unit " << C.Unit;
    EXPECT_EQ(G->YDpi(), C.ExpectY < 0 ? Screen : C.ExpectY) << "unit " << C.Unit;
  }
}

TEST(JpegGraphic, FileCutHalfwayStillLoadsWithTheTopIntact) {
  const TBytes Whole = MakeJpeg(Gradient());
  const TBytes Cut = Whole.substr(0, Whole.size() / 2);
  auto Full = LoadFrom<TJpegGraphic>(Whole);
  std::unique_ptr<TJpegGraphic> G;
  ASSERT_NO_THROW(G = LoadFrom<TJpegGraphic>(Cut));
  ASSERT_EQ(G->Width(), 64);
  ASSERT_EQ(G->Height(), 64);
  // The first rows are decoded as in the whole file; the last ones are
  // libjpeg's fill (flat grey), not the picture.
  EXPECT_EQ(G->GetPixelColor(10, 2), Full->GetPixelColor(10, 2));
  EXPECT_GT(ColourDistance(G->GetPixelColor(60, 62), Full->GetPixelColor(60, 62)), 40);
}

// A small progressive file whose header claims 65500 x 65500 pixels: libjpeg
// would take and zero about 26 GB of coefficients before the picture's own
// allocation could fail. It is refused at once by what it holds instead.
TEST(JpegGraphic, HugeClaimInAProgressiveFileFailsBeforeTakingTheMemory) {
  // Past the pixel limit the claim is refused sooner.
  SetPixelLimit(uint64_t(1) << 40);
  struct TRestore {
    ~TRestore() {
      SetPixelLimit(0);
      TMemoryBudget::SetLimit(0);
    }
  } Restore;
  TJpegFixture F = Gradient();
  F.Progressive = true;
  const TBytes Small = MakeJpeg(F);
  TBytes Bytes = Small;
  const auto Sof = Bytes.find("\xFF\xC2");
  ASSERT_NE(Sof, TBytes::npos);
  for (size_t At : {Sof + 5, Sof + 7}) { // height, then width, big-endian
    Bytes[At] = char(0xFF);
    Bytes[At + 1] = char(0xDC);
  }
  EXPECT_THAT([&] { LoadFrom<TJpegGraphic>(Bytes); },
              ThrowsMessage<EJpegError>(HasSubstr(
                  "JPEG data too short: " + std::to_string(Bytes.size()) +
                  " bytes cannot fill a 65500 x 65500 picture")));
  // A file that holds its data: the coefficients are held from the memory
  // budget, and a budget without room for them refuses the picture before
  // libjpeg takes them.
  TMemoryBudget::SetLimit(TMemoryBudget::Used() + 4096);
  EXPECT_THAT([&] { LoadFrom<TJpegGraphic>(Small); },
              ThrowsMessage<EJpegError>(HasSubstr("coefficients of a 64 x 64 progressive JPEG")));
  TMemoryBudget::SetLimit(0);
  EXPECT_EQ(LoadFrom<TJpegGraphic>(Small)->Width(), 64);
}

// Decoding for a display copy: libjpeg's M/8 scaling gives the least size
// that still covers the scale asked for, and the picture knows its whole size.
TEST(JpegGraphic, ReducedDecodingCoversTheShownSizeAndKnowsTheWholeSize) {
  const struct {
    double Scale;
    int Width; // of the 64 x 64 picture decoded
  } Cases[] = {{1.0, 64}, {2.0, 64}, {0.5, 32}, {0.3, 24}, {0.01, 8}};
  const TBytes Bytes = MakeJpeg(Gradient());
  auto Whole = LoadFrom<TJpegGraphic>(Bytes);
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Scale);
    const TReducedDecodeScope Scope([&](int W, int H) {
      EXPECT_EQ(W, 64);
      EXPECT_EQ(H, 64);
      return C.Scale;
    });
    auto G = LoadFrom<TJpegGraphic>(Bytes);
    EXPECT_EQ(G->Width(), C.Width);
    EXPECT_EQ(G->Height(), C.Width);
    EXPECT_EQ(G->Reduced(), C.Width < 64);
    EXPECT_EQ(G->WholeWidth(), 64);
    EXPECT_EQ(G->WholeHeight(), 64);
    // The same picture, smaller: the colour of a corner block stays.
    EXPECT_LT(ColourDistance(G->GetPixelColor(C.Width / 2, C.Width / 2),
                             Whole->GetPixelColor(32, 32)),
              40);
  }
  // Outside a scope: whole.
  EXPECT_FALSE(LoadFrom<TJpegGraphic>(Bytes)->Reduced());
}

TEST(JpegGraphic, DecodingGivesUpWhenToldToStop) {
  std::atomic<bool> Stop{false};
  const TDecodeStopScope Scope(&Stop);
  EXPECT_EQ(LoadFrom<TJpegGraphic>(MakeJpeg(Gradient()))->Width(), 64);
  Stop = true;
  EXPECT_THAT([&] { LoadFrom<TJpegGraphic>(MakeJpeg(Gradient())); },
              ThrowsMessage<EImageError>(HasSubstr("Decoding stopped")));
}

TEST(JpegGraphic, RejectedInputRaisesLibjpegsOwnMessage) {
  TJpegFixture Cmyk = ColourBlocks();
  Cmyk.Components = 4;
  Cmyk.Pixels.clear();
  for (int I = 0; I < Cmyk.Width * Cmyk.Height; ++I)
    Cmyk.Pixels.insert(Cmyk.Pixels.end(), {10, 200, 30, 0});
  ExpectJpegMessage(MakeJpeg(Cmyk), "Unsupported color conversion request");

  const TBytes Png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
  ExpectJpegMessage(Png, "Not a JPEG file: starts with 0x89 0x50");
  ExpectJpegMessage(TBytes(), "Empty input file");
  ExpectJpegMessage(TBytes("\xFF\xD8\xFF\xD9", 4), "JPEG datastream contains no image");
}

TEST(JpegGraphic, StreamWithoutMemoryIsReadIn4096ByteBlocks) {
  const TBytes Bytes = MakeJpeg(Gradient());
  auto FromMemory = LoadFrom<TJpegGraphic>(Bytes);
  TPlainStream S(Bytes);
  TJpegGraphic G;
  G.LoadFromStream(S);
  EXPECT_EQ(S.LargestRead, 4096);
  EXPECT_GE(S.ReadCalls, static_cast<int>(Bytes.size() / 4096));
  for (int Y = 0; Y < 64; Y += 7)
    for (int X = 0; X < 64; X += 5)
      ASSERT_EQ(G.GetPixelColor(X, Y), FromMemory->GetPixelColor(X, Y));
}

TEST(JpegGraphic, StreamFailureInsideLibjpegReachesTheCallerUnchanged) {
  const TBytes Bytes = MakeJpeg(Gradient());
  TPlainStream S(Bytes, 100);
  TJpegGraphic G;
  EXPECT_THROW(G.LoadFromStream(S), EStreamError);
}

TEST(JpegGraphic, DataStartingInsideAStreamAreFound) {
  const TBytes Jpeg = MakeJpeg(ColourBlocks());
  const TBytes Bytes = "0123456789" + Jpeg + "trailing";
  TBytesStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  S.Seek(10, TSeekOrigin::soBeginning);
  TJpegGraphic G;
  G.LoadFromStream(S);
  EXPECT_EQ(G.Width(), 64);
  EXPECT_LE(ColourDistance(G.GetPixelColor(BlockX(2), BlockY(false)), 0x0000FF), 3);
  // The stream is left just after the JPEG data.
  EXPECT_EQ(S.Position(), static_cast<int64_t>(10 + Jpeg.size()));
}

TEST(JpegGraphic, SavedFilesLoadBackWithTheirSettings) {
  auto Source = LoadFrom<TJpegGraphic>(MakeJpeg(ColourBlocks()));
  Source->SetXDpi(150);
  Source->SetYDpi(75);
  struct Case {
    bool Progressive, Optimize;
  } Cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
  for (const Case& C : Cases) {
    Source->Quality = 100;
    Source->Progressive = C.Progressive;
    Source->OptimizeCoding = C.Optimize;
    const TBytes Bytes = SavedBytes(*Source);
    // SOF2 marks a progressive file, SOF0 a baseline one.
    EXPECT_EQ(Bytes.find("\xFF\xC2") != TBytes::npos, C.Progressive);
    auto Back = LoadFrom<TJpegGraphic>(Bytes);
    ASSERT_EQ(Back->ImageFormat(), ifTrueColor);
    EXPECT_EQ(Back->XDpi(), 150);
    EXPECT_EQ(Back->YDpi(), 75);
    for (int B = 0; B < 4; ++B)
      EXPECT_LE(
          ColourDistance(Back->GetPixelColor(BlockX(B), 8), Source->GetPixelColor(BlockX(B), 8)),
          3);
  }
  // Lower quality makes a smaller file.
  Source->Progressive = Source->OptimizeCoding = false;
  const size_t Best = SavedBytes(*Source).size();
  Source->Quality = 10;
  EXPECT_LT(SavedBytes(*Source).size(), Best);

  auto Grey = LoadFrom<TJpegGraphic>(MakeJpeg(ColourBlocks(1)));
  auto GreyBack = LoadFrom<TJpegGraphic>(SavedBytes(*Grey));
  EXPECT_EQ(GreyBack->ImageFormat(), ifGray256);
  EXPECT_NEAR(GreyBack->GetPixelIndex(BlockX(2), 24), Grey->GetPixelIndex(BlockX(2), 24), 2);
}

TEST(JpegGraphic, OnlyGreyAndTrueColourImagesCanBeSaved) {
  for (TImageFormat F : {ifBlackWhite, ifGray16, ifColor16, ifColor256}) {
    TJpegGraphic G;
    G.NewImage(4, 4, F, nullptr, 0, 0);
    TMemoryStream S;
    try {
      G.SaveToStream(S);
      ADD_FAILURE() << "saved format " << int(F);
    } catch (const EJpegError& E) {
      EXPECT_EQ(E.Message(), "JPEG image must be gray scale or true color");
    }
  }
}

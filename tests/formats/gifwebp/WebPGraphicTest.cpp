// TWebPGraphic on files made by Debian's WebP tools (cwebp, img2webp,
// webpmux) from pictures the test writes, compared with the inputs and with
// dwebp's decoding; damaged, truncated and hostile files. Tests that need a
// missing tool are skipped.

#include "formats/Formats.h"
#include "formats/WebPGraphic.h"
#include "imaging/GraphicRegistry.h"
#include "imaging/Orientation.h"
#include "platform/MemoryBudget.h"
#include "platform/Stream.h"
#include "tests/formats/gifwebp/ToolSupport.h"
#include "tests/formats/hostile/HostileFixtures.h"

#include <gmock/gmock.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

using ::testing::ThrowsMessage;

namespace {

using tools::TRgba;

// A picture with smooth shading, hard edges and, when asked, an alpha ramp
// and a fully transparent corner. Step moves its square (animation frames).
TRgba Scene(int W, int H, bool Alpha, int Step = 0) {
  TRgba P{W, H, std::vector<uint8_t>(size_t(W) * size_t(H) * 4)};
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) {
      uint8_t* Px = &P.Pixels[(size_t(Y) * size_t(W) + size_t(X)) * 4];
      const bool Square = X >= 2 + 3 * Step && X < 8 + 3 * Step && Y >= 3 && Y < 9;
      Px[0] = Square ? 250 : uint8_t(X * 255 / W);
      Px[1] = Square ? 200 : uint8_t(Y * 255 / H);
      Px[2] = Square ? 20 : uint8_t((X + Y) * 3);
      Px[3] = 255;
      if (Alpha) {
        if (X < W / 4 && Y < H / 4) Px[3] = 0;
        else if (Y >= H / 2) Px[3] = uint8_t(255 * (X + 1) / W);
      }
    }
  return P;
}

std::unique_ptr<TWebPGraphic> Load(const std::string& Bytes, int Index = 1,
                                   uint32_t Background = 0) {
  TBytesStream S(Bytes.data(), int64_t(Bytes.size()));
  auto G = std::make_unique<TWebPGraphic>();
  G->BackgroundColor = Background;
  G->SetImageIndex(Index);
  G->LoadFromStream(S);
  return G;
}

class WebPGraphicTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* Name : {"cwebp", "dwebp", "img2webp", "webpmux"}) {
      Tools[Name] = tools::Find(Name);
      if (Tools[Name].empty()) GTEST_SKIP() << Name << " missing";
    }
  }
  void TearDown() override {
    SetPixelLimit(0);
    SetOrientationEnabled(true);
  }
  // Writes the picture as NAME.pam and runs cwebp on it with Options.
  std::string Encode(const std::string& Name, const TRgba& P, bool Alpha,
                     const std::vector<std::string>& Options) {
    tools::WriteFile(Dir / (Name + ".pam"), tools::Pnm(P, Alpha));
    std::vector<std::string> Args{Tools["cwebp"], "-quiet"};
    Args.insert(Args.end(), Options.begin(), Options.end());
    Args.insert(Args.end(), {Dir / (Name + ".pam"), "-o", Dir / (Name + ".webp")});
    EXPECT_EQ(tools::Run(Args), 0);
    return tools::ReadFile(Dir / (Name + ".webp"));
  }
  // What dwebp decodes of NAME.webp, with alpha.
  TRgba Dwebp(const std::string& Name) {
    EXPECT_EQ(tools::Run({Tools["dwebp"], "-pam", Dir / (Name + ".webp"), "-o", Dir / (Name + ".ref.pam")}), 0);
    return tools::ReadPnm(tools::ReadFile(Dir / (Name + ".ref.pam")));
  }
  // Three frames of 24 x 16 (the last with transparency), 5, 30 and 120 ms,
  // played twice, losslessly.
  std::string Animation(std::vector<TRgba>& Frames) {
    Frames = {Scene(24, 16, false, 0), Scene(24, 16, false, 2), Scene(24, 16, true, 4)};
    std::vector<std::string> Args{Tools["img2webp"], "-lossless", "-loop", "2"};
    const char* Delays[] = {"5", "30", "120"};
    for (size_t I = 0; I < Frames.size(); ++I) {
      const std::string File = Dir / ("frame" + std::to_string(I) + ".pam");
      tools::WriteFile(File, tools::Pnm(Frames[I], true));
      Args.insert(Args.end(), {"-d", Delays[I], File});
    }
    Args.insert(Args.end(), {"-o", Dir / "anim.webp"});
    EXPECT_EQ(tools::Run(Args), 0);
    return tools::ReadFile(Dir / "anim.webp");
  }

  tools::TScratch Dir;
  std::map<std::string, std::string> Tools;
};

TEST_F(WebPGraphicTest, StillsMatchTheirSourceAndDwebp) {
  const TRgba Photo = Scene(64, 48, false), Transparent = Scene(64, 48, true);
  const struct {
    const char* Name;
    const TRgba& Source;
    bool Alpha;
    std::vector<std::string> Options;
    bool ExactSource; // lossless: the source itself is the reference
    uint32_t Background;
  } kCases[] = {
      {"lossy", Photo, false, {"-q", "80"}, false, 0},
      {"lossless", Photo, false, {"-lossless"}, true, 0},
      {"lossless-alpha", Transparent, true, {"-lossless", "-exact"}, true, 0},
      {"lossless-alpha-on-colour", Transparent, true, {"-lossless", "-exact"}, true, 0x336699},
      {"lossy-alpha", Transparent, true, {"-q", "80", "-alpha_q", "100"}, false, 0},
  };
  for (const auto& C : kCases) {
    SCOPED_TRACE(C.Name);
    const std::string Bytes = Encode(C.Name, C.Source, C.Alpha, C.Options);
    ASSERT_FALSE(Bytes.empty());
    const auto G = Load(Bytes, 1, C.Background);
    EXPECT_EQ(G->ImageFormat(), ifTrueColor);
    EXPECT_FALSE(G->Animated());
    EXPECT_EQ(G->ColorDescription(), nullptr);
    // Blending rounds once here and once in the reference: one step apart at most.
    EXPECT_LE(tools::MaxDifference(*G, Dwebp(C.Name), C.Background), 1);
    if (C.ExactSource) {
      EXPECT_LE(tools::MaxDifference(*G, C.Source, C.Background), 1);
    }
  }
}

TEST_F(WebPGraphicTest, AnAnimationHoldsEveryFrameWholeWithItsDelayAndLoopCount) {
  std::vector<TRgba> Frames;
  const std::string Bytes = Animation(Frames);
  const auto G = Load(Bytes);
  ASSERT_TRUE(G->Animated());
  ASSERT_EQ(G->FrameCount(), 3);
  EXPECT_EQ(G->LoopCount(), 2);
  EXPECT_EQ(G->CurrentFrame(), 1);
  const int Delays[] = {100, 30, 120}; // 10 ms or less: 100 ms
  for (int I = 1; I <= 3; ++I) {
    SCOPED_TRACE("frame " + std::to_string(I));
    EXPECT_LE(tools::MaxDifference(G->Frames(I), Frames[size_t(I - 1)]), 1);
    EXPECT_EQ(G->Frames(I).FrameDelay(), Delays[I - 1]);
  }
  // Image N is frame N alone.
  const auto Second = Load(Bytes, 2);
  EXPECT_FALSE(Second->Animated());
  EXPECT_EQ(tools::MaxDifference(*Second, Frames[1]), 0);
  EXPECT_EQ(Second->FrameDelay(), 30);
  EXPECT_THAT([&] { Load(Bytes, 4); },
              ThrowsMessage<EWebPError>("WebP: frame 4 does not exist (the file holds 3 frames)"));
  // Frames past the pixel limit: the first frame, still.
  SetPixelLimit(4 * 24 * 16 - 1);
  const auto First = Load(Bytes);
  EXPECT_TRUE(First->FramesOmitted());
  EXPECT_FALSE(First->Animated());
  EXPECT_EQ(tools::MaxDifference(*First, Frames[0]), 0);
}

// A TIFF-structured EXIF block holding one orientation.
std::string ExifBlock(int Orientation, bool JpegPrefix) {
  std::string S = JpegPrefix ? std::string("Exif\0\0", 6) : "";
  S += std::string("II*\0\x08\0\0\0", 8);
  S += std::string("\x01\0", 2);                          // one entry
  S += std::string("\x12\x01\x03\0\x01\0\0\0", 8);         // orientation, short, count 1
  S += char(Orientation);
  S += std::string("\0\0\0", 3);
  S += std::string("\0\0\0\0", 4); // no next directory
  return S;
}

TEST_F(WebPGraphicTest, ExifOrientationTurnsThePictureUnlessSwitchedOff) {
  // 3 x 2: each pixel its own colour.
  TRgba P{3, 2, {}};
  for (int I = 0; I < 6; ++I)
    P.Pixels.insert(P.Pixels.end(), {uint8_t(10 + 40 * I), uint8_t(I), uint8_t(200 - I), 255});
  Encode("upright", P, false, {"-lossless"});
  auto Colour = [&](int X, int Y) {
    const uint8_t* C = P.At(X, Y);
    return MakeRgb(C[0], C[1], C[2]);
  };
  const struct {
    int Orientation;
    bool Prefix;
    bool Enabled;
    int Width, Height;
    uint32_t TopLeft, TopRight;
  } kCases[] = {
      {6, false, true, 2, 3, Colour(0, 1), Colour(0, 0)}, // a quarter clockwise
      {3, false, true, 3, 2, Colour(2, 1), Colour(0, 1)}, // half a turn
      {8, true, true, 2, 3, Colour(2, 0), Colour(2, 1)},  // "Exif" in front of the block
      {6, false, false, 3, 2, Colour(0, 0), Colour(2, 0)}, // orientation switched off
  };
  for (const auto& C : kCases) {
    SCOPED_TRACE(std::to_string(C.Orientation) + (C.Enabled ? "" : " off"));
    tools::WriteFile(Dir / "exif.bin", ExifBlock(C.Orientation, C.Prefix));
    ASSERT_EQ(tools::Run({Tools["webpmux"], "-set", "exif", Dir / "exif.bin", Dir / "upright.webp",
                          "-o", Dir / "turned.webp"}),
              0);
    SetOrientationEnabled(C.Enabled);
    const auto G = Load(tools::ReadFile(Dir / "turned.webp"));
    ASSERT_EQ(G->Width(), C.Width);
    ASSERT_EQ(G->Height(), C.Height);
    EXPECT_EQ(G->GetPixelColor(0, 0), C.TopLeft);
    EXPECT_EQ(G->GetPixelColor(C.Width - 1, 0), C.TopRight);
  }
}

TEST_F(WebPGraphicTest, TheIccProfileBecomesTheColourDescriptionOfEveryFrame) {
  std::string Profile(300, '\0');
  for (size_t I = 0; I < Profile.size(); ++I)
    Profile[I] = char(I * 7);
  tools::WriteFile(Dir / "profile.icc", Profile);
  std::vector<TRgba> Frames;
  Animation(Frames);
  Encode("still", Scene(8, 8, false), false, {"-lossless"});
  for (const char* Name : {"still", "anim"}) {
    SCOPED_TRACE(Name);
    ASSERT_EQ(tools::Run({Tools["webpmux"], "-set", "icc", Dir / "profile.icc",
                          Dir / (std::string(Name) + ".webp"), "-o", Dir / "icc.webp"}),
              0);
    const auto G = Load(tools::ReadFile(Dir / "icc.webp"));
    ASSERT_NE(G->ColorDescription(), nullptr);
    EXPECT_EQ(G->ColorDescription()->Icc, std::vector<uint8_t>(Profile.begin(), Profile.end()));
    for (int I = 1; I <= G->FrameCount(); ++I)
      EXPECT_EQ(G->Frames(I).ColorDescription(), G->ColorDescription());
  }
}

TEST_F(WebPGraphicTest, DamagedTruncatedAndHostileFilesAreRefusedNamingTheFormat) {
  const std::string Still = Encode("lossy", Scene(64, 48, false), false, {"-q", "80"});
  std::vector<TRgba> Frames;
  const std::string Anim = Animation(Frames);
  // A frame placed beyond the canvas it is put on.
  std::string Outside = hostile::WebP(1, 1);
  Outside[Outside.find("ANMF") + 8] = 1; // x / 2
  const struct {
    const char* Name;
    std::string Bytes;
    std::string Message;
  } kCases[] = {
      {"empty", "", "WebP: the file ends before its data (truncated)"},
      {"not a WebP", "GIF89a and then something else", "WebP: not a WebP file, or its data are damaged"},
      {"a still cut short", Still.substr(0, Still.size() / 2),
       "WebP: the file ends before its data (truncated)"},
      {"an animation cut short", Anim.substr(0, Anim.size() - 20),
       "WebP: the file ends before its data (truncated)"},
      {"a frame outside the canvas", Outside, "WebP: the file's chunks are damaged"},
      {"canvas bomb", hostile::WebP(60000, 60000), PixelLimitMessage(60000, 60000)},
  };
  for (const auto& C : kCases) {
    SCOPED_TRACE(C.Name);
    const uint64_t Before = TMemoryBudget::Used();
    EXPECT_THAT([&] { Load(C.Bytes); }, ThrowsMessage<EWebPError>(C.Message));
    EXPECT_EQ(TMemoryBudget::Used(), Before);
  }
}

TEST(WebPRegistry, TheRegistryNamesTheClassForWebPFiles) {
  RegisterImageFormats();
  EXPECT_EQ(GraphicClassForFile("photo.WebP"), ClassOf<TWebPGraphic>());
  const std::string Bytes = hostile::WebP(3, 2);
  TBytesStream S(Bytes.data(), int64_t(Bytes.size()));
  const auto G = CreateGraphicFromStream(S, "x.webp", 1);
  EXPECT_EQ(G->ClassName(), "TWebPGraphic");
  EXPECT_EQ(G->Width(), 3);
  EXPECT_EQ(G->GetPixelColor(0, 0), MakeRgb(1, 2, 3)); // the one 1 x 1 frame
  EXPECT_EQ(G->GetPixelColor(2, 1), 0u);                // the rest of the canvas
}

} // namespace

// JPEG XL pictures through TJxlGraphic: files made by cjxl decoded as djxl
// decodes them; animations (frames, delays, loop count, frame by index);
// the header's orientation; the colour description matching the pixels;
// damaged files; the memory budget and the bound on frames per byte.

#include "formats/JxlGraphic.h"
#include "imaging/Orientation.h"
#include "platform/MemoryBudget.h"
#include "tests/formats/heifjxl/HeifJxlFixtures.h"
#include "tests/formats/hostile/HostileFixtures.h"

#include <jxl/encode.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using ::testing::StartsWith;

namespace {

#define REQUIRE_TOOLS(...)                                                                          \
  for (const char* Tool : {__VA_ARGS__})                                                            \
    if (FindTool(Tool).empty()) GTEST_SKIP() << Tool << " is not installed";

std::unique_ptr<TJxlGraphic> Decode(const TBytes& Bytes, int Index = 1, uint32_t Background = 0) {
  auto G = std::make_unique<TJxlGraphic>();
  G->BackgroundColor = Background;
  G->SetImageIndex(Index);
  TBytesStream S(Bytes.data(), int64_t(Bytes.size()));
  G->LoadFromStream(S);
  return G;
}

// The message of the EJxlError that decoding raises; "" when it decodes.
std::string Failure(const TBytes& Bytes, int Index = 1) {
  try {
    Decode(Bytes, Index);
  } catch (const EJxlError& E) {
    return E.Message();
  }
  return "";
}

// cjxl with Options on a PNG (or, for ".jpg" and ".gif" names, the given
// bytes); the file's bytes, empty when cjxl failed.
TBytes Cjxl(const TScratch& Dir, const std::string& SourceName, const TBytes& Source,
            std::vector<std::string> Options) {
  const std::string In = Dir.Write(SourceName, Source);
  std::vector<std::string> Args = {"cjxl", In, Dir.Path("out.jxl")};
  Args.insert(Args.end(), Options.begin(), Options.end());
  if (!RunTool(Args)) return "";
  return ReadFile(Dir.Path("out.jxl"));
}

// djxl's decoding of a file (16-bit files as 16-bit PNGs, rounded to 8 bits
// when read).
bool Djxl(const TScratch& Dir, const TBytes& File, TPicture& Out) {
  const std::string In = Dir.Write("reference.jxl", File);
  return RunTool({"djxl", In, Dir.Path("reference.png")}) &&
         ReadPng(Dir.Path("reference.png"), Out);
}

// A lossless animation written with libjxl's encoder (cjxl does not carry a
// loop count): Colours.size() frames of solid colours over W x H, with the
// given durations in milliseconds. With Patch above 0, the frames after the
// first are Patch x Patch squares at the top left corner, replacing that part
// of the canvas.
TBytes EncodeAnimation(uint32_t W, uint32_t H, const std::vector<uint32_t>& Colours,
                       const std::vector<uint32_t>& DurationsMs, uint32_t Loops,
                       uint32_t Patch = 0) {
  JxlEncoder* Encoder = JxlEncoderCreate(nullptr);
  JxlBasicInfo Info;
  JxlEncoderInitBasicInfo(&Info);
  Info.xsize = W;
  Info.ysize = H;
  Info.bits_per_sample = 8;
  Info.num_color_channels = 3;
  Info.uses_original_profile = JXL_TRUE;
  Info.have_animation = JXL_TRUE;
  Info.animation.tps_numerator = 1000;
  Info.animation.tps_denominator = 1;
  Info.animation.num_loops = Loops;
  JxlColorEncoding Srgb;
  JxlColorEncodingSetToSRGB(&Srgb, JXL_FALSE);
  TBytes Out;
  if (JxlEncoderSetBasicInfo(Encoder, &Info) == JXL_ENC_SUCCESS &&
      JxlEncoderSetColorEncoding(Encoder, &Srgb) == JXL_ENC_SUCCESS) {
    JxlEncoderFrameSettings* Settings = JxlEncoderFrameSettingsCreate(Encoder, nullptr);
    JxlEncoderSetFrameLossless(Settings, JXL_TRUE);
    JxlEncoderFrameSettingsSetOption(Settings, JXL_ENC_FRAME_SETTING_EFFORT, 1);
    const JxlPixelFormat Format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    bool Ok = true;
    for (size_t I = 0; I < Colours.size() && Ok; ++I) {
      JxlFrameHeader Header;
      JxlEncoderInitFrameHeader(&Header);
      Header.duration = DurationsMs[I];
      const bool Patched = I > 0 && Patch > 0;
      if (Patched) {
        Header.layer_info.have_crop = JXL_TRUE;
        Header.layer_info.xsize = Header.layer_info.ysize = Patch;
        Header.layer_info.blend_info.blendmode = JXL_BLEND_REPLACE;
      }
      const TPicture Frame = Solid(int(Patched ? Patch : W), int(Patched ? Patch : H),
                                   uint8_t(Colours[I] >> 16), uint8_t(Colours[I] >> 8),
                                   uint8_t(Colours[I]));
      Ok = JxlEncoderSetFrameHeader(Settings, &Header) == JXL_ENC_SUCCESS &&
           JxlEncoderAddImageFrame(Settings, &Format, Frame.Pixels.data(), Frame.Pixels.size()) ==
               JXL_ENC_SUCCESS;
    }
    JxlEncoderCloseInput(Encoder);
    std::vector<uint8_t> Buffer(1 << 16);
    uint8_t* Next = Buffer.data();
    size_t Left = Buffer.size();
    JxlEncoderStatus Status = JXL_ENC_NEED_MORE_OUTPUT;
    while (Ok && Status == JXL_ENC_NEED_MORE_OUTPUT) {
      Status = JxlEncoderProcessOutput(Encoder, &Next, &Left);
      const size_t Used = size_t(Next - Buffer.data());
      if (Status == JXL_ENC_NEED_MORE_OUTPUT) {
        Buffer.resize(Buffer.size() * 2);
        Next = Buffer.data() + Used;
        Left = Buffer.size() - Used;
      }
    }
    if (Ok && Status == JXL_ENC_SUCCESS)
      Out.assign(reinterpret_cast<const char*>(Buffer.data()), size_t(Next - Buffer.data()));
  }
  JxlEncoderDestroy(Encoder);
  return Out;
}

} // namespace

TEST(JxlGraphic, DecodesLikeDjxl) {
  REQUIRE_TOOLS("cjxl", "djxl");
  const struct {
    const char* Name;
    TPicture Source;
    std::vector<std::string> Options;
    TImageFormat Format;
    int SourceTolerance; // to the picture that was encoded
  } Rows[] = {
      {"lossy", Ramps(64, 48, 3), {"-d", "1"}, ifTrueColor, 24},
      {"lossless", Ramps(64, 48, 3), {"-d", "0"}, ifTrueColor, 0},
      {"lossless, 16 bits", Ramps(64, 48, 3, 16), {"-d", "0"}, ifTrueColor, 0},
      {"lossy with alpha", Ramps(64, 48, 4), {"-d", "1"}, ifTrueColor, 24},
      {"lossless with alpha", Ramps(64, 48, 4), {"-d", "0"}, ifTrueColor, 0},
      {"grey, lossless", Ramps(64, 48, 1), {"-d", "0"}, ifGray256, 0},
      {"grey, lossy", Ramps(64, 48, 1), {"-d", "1"}, ifGray256, 24},
      {"grey with alpha", Ramps(64, 48, 2), {"-d", "0"}, ifTrueColor, 0},
  };
  TScratch Dir;
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    const TBytes File = Cjxl(Dir, "source.png", MakePng(Row.Source), Row.Options);
    ASSERT_FALSE(File.empty()) << "cjxl failed";
    TPicture Reference, Source;
    ASSERT_TRUE(Djxl(Dir, File, Reference));
    ASSERT_TRUE(ReadPng(Dir.Path("source.png"), Source));
    const auto G = Decode(File);
    EXPECT_EQ(G->ImageFormat(), Row.Format);
    EXPECT_EQ(LargestDifference(*G, Reference), 0);
    EXPECT_LE(LargestDifference(*G, Source), Row.SourceTolerance);
    EXPECT_EQ(G->FrameCount(), 0);
    EXPECT_EQ(G->ColorDescription(), nullptr) << "sRGB";
  }
}

TEST(JxlGraphic, TransparencyIsCompositedOntoTheBackgroundColour) {
  REQUIRE_TOOLS("cjxl");
  TScratch Dir;
  const TBytes File = Cjxl(Dir, "source.png", MakePng(Ramps(64, 48, 4)), {"-d", "0"});
  ASSERT_FALSE(File.empty());
  TPicture Source;
  ASSERT_TRUE(ReadPng(Dir.Path("source.png"), Source));
  for (const uint32_t Background : {0x000000u, 0xFFFFFFu, 0x336699u}) {
    SCOPED_TRACE(Background);
    const auto G = Decode(File, 1, Background);
    EXPECT_LE(LargestDifference(*G, Source, Background), 1);
    EXPECT_EQ(G->GetPixelColor(0, 10), Background) << "the transparent left column";
  }
}

TEST(JxlGraphic, AnimationsHaveEveryFrameWithItsDelay) {
  REQUIRE_TOOLS("cjxl", "convert");
  TScratch Dir;
  // An animated GIF of three solid frames (delays in hundredths of a second),
  // made by ImageMagick; cjxl keeps its frames losslessly.
  ASSERT_TRUE(RunTool({"convert", "-delay", "10", "-size", "32x24", "xc:red", "xc:lime", "-delay", "25",
                   "xc:blue", "-loop", "0", Dir.Path("three.gif")}));
  const TBytes File = Cjxl(Dir, "three.gif", ReadFile(Dir.Path("three.gif")), {});
  ASSERT_FALSE(File.empty());

  const auto G = Decode(File);
  ASSERT_EQ(G->FrameCount(), 3);
  const uint32_t Colours[] = {0xFF0000, 0x00FF00, 0x0000FF};
  const int Delays[] = {100, 100, 250};
  for (int I = 1; I <= 3; ++I) {
    SCOPED_TRACE(I);
    EXPECT_EQ(G->Frames(I).Width(), 32);
    EXPECT_EQ(G->Frames(I).Height(), 24);
    EXPECT_EQ(G->Frames(I).GetPixelColor(16, 12), Colours[I - 1]);
    EXPECT_EQ(G->Frames(I).GetPixelColor(31, 23), Colours[I - 1]);
    EXPECT_EQ(G->Frames(I).FrameDelay(), Delays[I - 1]);
  }
  // The picture itself is the first frame, shown as an animation plays it.
  EXPECT_TRUE(G->Animated());
  EXPECT_FALSE(G->FramesOmitted());
  EXPECT_EQ(G->CurrentFrame(), 1);
  EXPECT_EQ(G->GetPixelColor(16, 12), 0xFF0000u);
  EXPECT_EQ(G->FrameDelay(), 100);
  EXPECT_EQ(G->LoopCount(), 0);

  // A frame by index, alone.
  for (int I = 2; I <= 3; ++I) {
    SCOPED_TRACE(I);
    const auto One = Decode(File, I);
    EXPECT_EQ(One->FrameCount(), 0);
    EXPECT_EQ(One->GetPixelColor(16, 12), Colours[I - 1]);
    EXPECT_EQ(One->FrameDelay(), Delays[I - 1]);
  }
  EXPECT_EQ(Failure(File, 4), "Frame 4 does not exist");

  // The loop count and millisecond durations as the file stores them.
  const TBytes Looped = EncodeAnimation(16, 16, {0x102030, 0x405060}, {40, 1500}, 3);
  ASSERT_FALSE(Looped.empty());
  const auto L = Decode(Looped);
  ASSERT_EQ(L->FrameCount(), 2);
  EXPECT_EQ(L->LoopCount(), 3);
  EXPECT_EQ(L->Frames(1).FrameDelay(), 40);
  EXPECT_EQ(L->Frames(2).FrameDelay(), 1500);
  EXPECT_EQ(L->Frames(2).GetPixelColor(8, 8), 0x405060u);
}

TEST(JxlGraphic, TheHeadersOrientationIsAppliedUnlessSwitchedOff) {
  REQUIRE_TOOLS("cjxl", "djxl");
  constexpr int kBlock = 16;
  TScratch Dir;
  for (int O = 1; O <= 8; ++O) {
    SCOPED_TRACE(O);
    // cjxl moves a JPEG's EXIF orientation into the codestream header, both
    // when it keeps the JPEG's coefficients and when it codes the pixels.
    for (const char* Transcode : {"1", "0"}) {
      SCOPED_TRACE(std::string("lossless_jpeg=") + Transcode);
      const TBytes File = Cjxl(Dir, "source.jpg", MakeExifJpeg(Blocks(kBlock), O),
                               {"--lossless_jpeg=" + std::string(Transcode)});
      ASSERT_FALSE(File.empty());
      const auto G = Decode(File);
      EXPECT_EQ(ShownBlocks(*G, kBlock), kUprightBlocks[O]);
      EXPECT_EQ(G->Width(), O >= 5 ? 2 * kBlock : 3 * kBlock);
      // djxl turns the picture the same way.
      TPicture Reference;
      ASSERT_TRUE(Djxl(Dir, File, Reference));
      EXPECT_LE(LargestDifference(*G, Reference), 1);

      const TOrientationOff Off;
      EXPECT_EQ(ShownBlocks(*Decode(File), kBlock), kUprightBlocks[1]);
    }
  }
}

TEST(JxlGraphic, TheColourDescriptionIsThatOfThePixels) {
  REQUIRE_TOOLS("cjxl", "djxl");
  TScratch Dir;
  const TBytes RommIcc = ReadFile("/usr/share/color/icc/colord/ProPhotoRGB.icc");
  const TPicture Grey = Solid(32, 32, 128, 128, 128);
  const std::vector<double> Primaries = {0.3127, 0.3290, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060};
  const struct {
    const char* Name;
    TPngExtras Extras;
    std::vector<std::string> Options;
    bool Described;
    double RedX;
    TColorDescription::TTransfer Transfer;
    double Gamma;
    int Shown; // the grey shown for the stored 128
  } Rows[] = {
      // Pixels as stored, described by the file's curve and primaries.
      {"gamma 2.2, lossless", {1 / 2.2, {}, {}}, {"-d", "0"}, true, 0.64,
       TColorDescription::tfGamma, 2.2, 128},
      {"P3 primaries, gamma 2.2, lossless", {1 / 2.2, Primaries, {}}, {"-d", "0"}, true, 0.680,
       TColorDescription::tfGamma, 2.2, 128},
      // XYB: rendered into the original space when the file names it...
      {"P3 primaries, gamma 2.2, lossy", {1 / 2.2, Primaries, {}}, {"-d", "1"}, true, 0.680,
       TColorDescription::tfGamma, 2.2, 128},
      // ... with the sRGB curve in place of a linear one (8 linear bits band):
      // the stored linear 128 is 188 on the sRGB curve.
      {"linear, lossy", {1.0, {}, {}}, {"-d", "1"}, false, 0, TColorDescription::tfSRGB, 0, 188},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    const TBytes File = Cjxl(Dir, "source.png", MakePng(Grey, Row.Extras), Row.Options);
    ASSERT_FALSE(File.empty());
    const auto G = Decode(File);
    EXPECT_LE(ColourDistance(G->GetPixelColor(16, 16), MakeRgb(uint8_t(Row.Shown), uint8_t(Row.Shown), uint8_t(Row.Shown))), 2);
    const TColorDescriptionPtr D = G->ColorDescription();
    ASSERT_EQ(D != nullptr, Row.Described);
    if (!D) continue;
    EXPECT_TRUE(D->Icc.empty());
    EXPECT_NEAR(D->RedX, Row.RedX, 0.001);
    EXPECT_EQ(D->Transfer, Row.Transfer);
    EXPECT_NEAR(D->Gamma, Row.Gamma, 0.001);
    // The same pixels as djxl, which renders into the file's own space.
    TPicture Reference;
    ASSERT_TRUE(Djxl(Dir, File, Reference));
    EXPECT_LE(LargestDifference(*G, Reference), 0);
  }

  if (RommIcc.empty()) GTEST_SKIP() << "colord's ProPhotoRGB.icc is not installed";
  // An ICC profile: kept with the stored pixels when they are stored...
  const TBytes Lossless = Cjxl(Dir, "source.png", MakePng(Grey, {0, {}, RommIcc}), {"-d", "0"});
  ASSERT_FALSE(Lossless.empty());
  const auto Kept = Decode(Lossless);
  ASSERT_TRUE(Kept->ColorDescription());
  EXPECT_FALSE(Kept->ColorDescription()->Icc.empty());
  EXPECT_EQ(Kept->GetPixelColor(16, 16), MakeRgb(128, 128, 128));
  // ... while an XYB file whose original is a profile is rendered into sRGB:
  // ProPhoto's 128 (gamma 1.8) is about 146 in sRGB.
  const TBytes Lossy = Cjxl(Dir, "source.png", MakePng(Grey, {0, {}, RommIcc}), {"-d", "1"});
  ASSERT_FALSE(Lossy.empty());
  const auto Rendered = Decode(Lossy);
  EXPECT_EQ(Rendered->ColorDescription(), nullptr);
  EXPECT_LE(ColourDistance(Rendered->GetPixelColor(16, 16), MakeRgb(146, 146, 146)), 3);
}

TEST(JxlGraphic, DamagedFilesAreRefusedWithTheStageTheyFailedIn) {
  REQUIRE_TOOLS("cjxl");
  TScratch Dir;
  const TBytes Still = Cjxl(Dir, "source.png", MakePng(Ramps(64, 48, 3)), {"-d", "0"});
  const TBytes Animation = EncodeAnimation(16, 16, {0xFF0000, 0x00FF00, 0x0000FF}, {10, 10, 10}, 0);
  ASSERT_FALSE(Still.empty());
  ASSERT_FALSE(Animation.empty());
  TBytes Scrambled = Still;
  for (size_t I = Scrambled.size() / 2; I < Scrambled.size(); ++I)
    Scrambled[I] = char(I * 53);
  const struct {
    const char* Name;
    TBytes Bytes;
    const char* Message;
  } Rows[] = {
      {"empty", "", "JPEG XL file is not valid: no JPEG XL signature"},
      {"a PNG", MakePng(Ramps(8, 8, 3)), "JPEG XL file is not valid: no JPEG XL signature"},
      {"signature only", Still.substr(0, 2), "JPEG XL file is truncated in its header"},
      {"cut in its pixels", Still.substr(0, Still.size() - 8), "JPEG XL file is truncated in frame 1"},
      {"cut in its last frame", Animation.substr(0, Animation.size() - 4),
       "JPEG XL file is truncated in frame 3"},
      {"scrambled pixels", Scrambled, "JPEG XL file is not valid or corrupted in frame 1"},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    EXPECT_EQ(Failure(Row.Bytes), Row.Message);
  }
}

TEST(JxlGraphic, StaysWithinTheMemoryBudgetAndWhatItsDataJustify) {
  const uint64_t Before = TMemoryBudget::Used();
  // A 40-byte header claiming 60000 x 60000 fails before anything is taken.
  EXPECT_EQ(Failure(hostile::Jxl(60000, 60000)), PixelLimitMessage(60000, 60000));
  EXPECT_EQ(TMemoryBudget::Used(), Before);

  // A still whose decoding memory does not fit.
  const TBytes Still = EncodeAnimation(64, 64, {0x808080}, {0}, 0);
  ASSERT_FALSE(Still.empty());
  TMemoryBudget::SetLimit(Before + 4096);
  EXPECT_EQ(Failure(Still), "JPEG XL picture of 64 x 64 pixels does not fit in the memory budget");
  TMemoryBudget::SetLimit(0);
  EXPECT_EQ(TMemoryBudget::Used(), Before);

  // Frames that do not all fit: the first frame is shown alone.
  const TBytes Frames = EncodeAnimation(512, 512, {0xFF0000, 0x00FF00, 0x0000FF}, {10, 10, 10}, 0);
  ASSERT_FALSE(Frames.empty());
  const uint64_t Working = 512 * 512 * 3 * 4 * 2;
  const uint64_t Frame = 512 * 512 * 3;
  TMemoryBudget::SetLimit(Before + Working + Frame + Frame / 2);
  {
    const auto G = Decode(Frames);
    EXPECT_EQ(G->FrameCount(), 0);
    EXPECT_FALSE(G->Animated());
    EXPECT_TRUE(G->FramesOmitted()) << "left to a decode with the whole budget";
    EXPECT_EQ(G->GetPixelColor(100, 100), 0xFF0000u);
  }
  TMemoryBudget::SetLimit(0);
  EXPECT_EQ(Decode(Frames)->FrameCount(), 3) << "with room, every frame";
  EXPECT_EQ(TMemoryBudget::Used(), Before);

  // Many frames over a large canvas in a few hundred bytes (each frame
  // changes one pixel): more frame pixels than the data can justify, so the
  // first frame is shown alone.
  std::vector<uint32_t> Colours, Durations;
  for (int I = 0; I < 40; ++I) {
    Colours.push_back(I % 2 ? 0xFFFFFF : 0x000000);
    Durations.push_back(20);
  }
  const TBytes Blink = EncodeAnimation(2000, 2000, Colours, Durations, 0, 1);
  ASSERT_FALSE(Blink.empty());
  ASSERT_LT(Blink.size() * 16384, 39u * 2000 * 2000) << "the file is not small enough";
  const auto G = Decode(Blink);
  EXPECT_EQ(G->FrameCount(), 0);
  EXPECT_TRUE(G->FramesOmitted());
  EXPECT_EQ(G->Width(), 2000);
  EXPECT_EQ(G->GetPixelColor(0, 0), 0u);
  // The same changes over a small canvas are a real animation.
  const auto Small = Decode(EncodeAnimation(20, 20, Colours, Durations, 0, 1));
  ASSERT_EQ(Small->FrameCount(), 40);
  EXPECT_EQ(Small->Frames(2).GetPixelColor(0, 0), 0xFFFFFFu);
  EXPECT_EQ(Small->Frames(2).GetPixelColor(1, 0), 0u);
}

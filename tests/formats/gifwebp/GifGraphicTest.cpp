// TGifGraphic on small files written with giflib's encoder: the picture's
// format, its pixels, an animation's frames with their delays, disposal and
// loop count, and what damaged, truncated and hostile files give.

#include "formats/Formats.h"
#include "formats/GifGraphic.h"
#include "imaging/GraphicRegistry.h"
#include "platform/MemoryBudget.h"
#include "platform/Stream.h"
#include "tests/formats/gifwebp/GifFixtures.h"

#include <gmock/gmock.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

namespace {

using giffix::Encode;
using giffix::Solid;
using giffix::TFrame;
using giffix::TGif;

constexpr uint32_t Red = 0xFF0000, Green = 0x00FF00, Blue = 0x0000FF, White = 0xFFFFFF,
                   Black = 0x000000;
const std::vector<uint32_t> kColors = {Red, Green, Blue, White};

std::unique_ptr<TGifGraphic> Load(const std::string& Bytes, int Index = 1,
                                  uint32_t Background = 0) {
  TBytesStream S(Bytes.data(), int64_t(Bytes.size()));
  auto G = std::make_unique<TGifGraphic>();
  G->BackgroundColor = Background;
  G->SetImageIndex(Index);
  G->LoadFromStream(S);
  return G;
}

// Every pixel's colour, rows top first.
std::vector<uint32_t> Pixels(const TDibGraphic& G) {
  std::vector<uint32_t> P;
  for (int Y = 0; Y < G.Height(); ++Y)
    for (int X = 0; X < G.Width(); ++X)
      P.push_back(G.GetPixelColor(X, Y));
  return P;
}

// Screen 4 x 2; five frames exercising each disposal, transparency, the
// delay rules and a frame without a control block.
TGif DisposalAnimation(int Loop) {
  TGif D{4, 2, kColors, Loop, {}};
  TFrame F1 = Solid(0, 0, 4, 2, 0); // all red, left in place
  F1.Disposal = DISPOSE_DO_NOT;
  F1.DelayCs = 5;
  TFrame F2 = Solid(1, 0, 2, 1, 0); // green, blue; then cleared to the background
  F2.Pixels = {1, 2};
  F2.Disposal = DISPOSE_BACKGROUND;
  F2.DelayCs = 0;
  TFrame F3 = Solid(0, 1, 1, 1, 3); // white; then the pixel as it was before
  F3.Disposal = DISPOSE_PREVIOUS;
  F3.DelayCs = 1;
  TFrame F4 = Solid(3, 1, 1, 1, 2); // wholly transparent: nothing changes
  F4.Transparent = 2;
  F4.DelayCs = 7;
  TFrame F5 = Solid(3, 0, 1, 1, 1); // green, without a control block
  F5.Control = false;
  D.Frames = {F1, F2, F3, F4, F5};
  return D;
}

// What each frame of DisposalAnimation shows, and for how long.
const std::vector<std::vector<uint32_t>> kDisposalFrames = {
    {Red, Red, Red, Red, Red, Red, Red, Red},
    {Red, Green, Blue, Red, Red, Red, Red, Red},
    {Red, Black, Black, Red, White, Red, Red, Red},
    {Red, Black, Black, Red, Red, Red, Red, Red},
    {Red, Black, Black, Green, Red, Red, Red, Red},
};
const std::vector<int> kDisposalDelays = {50, 100, 100, 70, 200};

TEST(GifGraphic, AnAnimationHoldsEveryFrameWholeWithItsDelay) {
  const auto G = Load(Encode(DisposalAnimation(0)));
  ASSERT_TRUE(G->Animated());
  ASSERT_EQ(G->FrameCount(), 5);
  EXPECT_EQ(G->CurrentFrame(), 1);
  EXPECT_EQ(G->ImageFormat(), ifTrueColor);
  EXPECT_EQ(Pixels(*G), kDisposalFrames[0]);
  for (int I = 1; I <= 5; ++I) {
    SCOPED_TRACE("frame " + std::to_string(I));
    const TDibGraphic& F = G->Frames(I);
    EXPECT_EQ(F.Width(), 4);
    EXPECT_EQ(F.Height(), 2);
    EXPECT_EQ(Pixels(F), kDisposalFrames[size_t(I - 1)]);
    EXPECT_EQ(F.FrameDelay(), kDisposalDelays[size_t(I - 1)]);
  }
  G->SelectFrame(3);
  EXPECT_EQ(Pixels(*G), kDisposalFrames[2]);
  EXPECT_EQ(G->FrameDelay(), 100);
}

TEST(GifGraphic, FramesArePaletteImagesWhenNothingCanShowTheBackground) {
  // Two frames: a whole red screen, then a green square.
  auto Base = [] {
    TGif D{4, 2, kColors, 0, {Solid(0, 0, 4, 2, 0), Solid(1, 0, 1, 1, 1)}};
    return D;
  };
  const struct {
    const char* Name;
    std::function<void(TGif&)> Change;
    TImageFormat Format;
    uint32_t Corner; // frame 2's top right pixel
  } kCases[] = {
      {"one table, opaque, covered", [](TGif&) {}, ifColor256, Red},
      {"a frame's own table", [](TGif& D) { D.Frames[1].Colors = kColors; }, ifTrueColor, Red},
      {"transparency after the first frame", [](TGif& D) { D.Frames[1].Transparent = 3; },
       ifColor256, Red},
      {"transparency in the first frame", [](TGif& D) { D.Frames[0].Transparent = 3; },
       ifTrueColor, Red},
      {"the first frame leaves part of the screen",
       [](TGif& D) {
         D.Frames[0].Width = 3;
         D.Frames[0].Pixels.resize(6);
       },
       ifTrueColor, Black},
      {"cleared to the background", [](TGif& D) { D.Frames[0].Disposal = DISPOSE_BACKGROUND; },
       ifTrueColor, Black},
      {"the empty screen restored", [](TGif& D) { D.Frames[0].Disposal = DISPOSE_PREVIOUS; },
       ifTrueColor, Black},
      {"the last frame cleared", [](TGif& D) { D.Frames[1].Disposal = DISPOSE_BACKGROUND; },
       ifColor256, Red},
  };
  for (const auto& C : kCases) {
    SCOPED_TRACE(C.Name);
    TGif D = Base();
    C.Change(D);
    const auto G = Load(Encode(D));
    ASSERT_EQ(G->FrameCount(), 2);
    EXPECT_EQ(G->Frames(2).ImageFormat(), C.Format);
    EXPECT_EQ(G->ImageFormat(), C.Format);
    EXPECT_EQ(G->Frames(2).GetPixelColor(1, 0), Green);
    EXPECT_EQ(G->Frames(2).GetPixelColor(3, 0), C.Corner);
  }
}

TEST(GifGraphic, IndexNIsFrameNAloneAndFramesPastTheEndDoNotExist) {
  const std::string Bytes = Encode(DisposalAnimation(0));
  for (int I = 2; I <= 5; ++I) {
    SCOPED_TRACE("index " + std::to_string(I));
    const auto G = Load(Bytes, I);
    EXPECT_FALSE(G->Animated());
    EXPECT_EQ(G->FrameCount(), 0);
    EXPECT_EQ(Pixels(*G), kDisposalFrames[size_t(I - 1)]);
    EXPECT_EQ(G->FrameDelay(), kDisposalDelays[size_t(I - 1)]);
  }
  EXPECT_THAT([&] { Load(Bytes, 6); },
              ThrowsMessage<EGifError>("GIF: frame 6 does not exist (the file holds 5 frames)"));
  // Index 0 (every image as a frame) is the animation too: one image.
  TBytesStream S(Bytes.data(), int64_t(Bytes.size()));
  TGifGraphic All;
  All.SetLoadAllImages(true);
  All.LoadFromStream(S);
  EXPECT_TRUE(All.Animated());
  EXPECT_EQ(All.FrameCount(), 5);
}

TEST(GifGraphic, LoopCountFollowsTheNetscapeExtension) {
  // Without the extension browsers play an animation once; its count says
  // how often it repeats after the first showing, 0 for ever.
  const struct {
    int Loop;
    int Plays;
  } kCases[] = {{-1, 1}, {0, 0}, {1, 2}, {4, 5}, {65535, 65536}};
  for (const auto& C : kCases) {
    SCOPED_TRACE("loop " + std::to_string(C.Loop));
    EXPECT_EQ(Load(Encode(DisposalAnimation(C.Loop)))->LoopCount(), C.Plays);
  }
}

// Stills: which image format, and every pixel.
struct TStillCase {
  const char* Name;
  TGif Gif;
  uint32_t Background;
  TImageFormat Format;
  int Width, Height;
  std::vector<uint32_t> Expected;
};

std::vector<TStillCase> StillCases() {
  std::vector<TStillCase> Cases;
  {
    TGif D{3, 2, kColors, -1, {Solid(0, 0, 3, 2, 0)}};
    D.Frames[0].Pixels = {0, 1, 2, 3, 2, 1};
    Cases.push_back({"one table, opaque, covering: palette", D, 0, ifColor256, 3, 2,
                     {Red, Green, Blue, White, Blue, Green}});
  }
  {
    // "Restore to previous" after the only frame changes nothing shown.
    TGif D{3, 1, kColors, -1, {Solid(0, 0, 3, 1, 0)}};
    D.Frames[0].Pixels = {3, 2, 1};
    D.Frames[0].Disposal = DISPOSE_PREVIOUS;
    Cases.push_back({"a still restoring what was before", D, 0, ifColor256, 3, 1,
                     {White, Blue, Green}});
  }
  {
    TGif D{2, 2, {}, -1, {Solid(0, 0, 2, 2, 1)}};
    D.Frames[0].Colors = {0x102030, 0x405060};
    D.Frames[0].Pixels = {0, 1, 1, 0};
    Cases.push_back({"local table only", D, 0, ifColor256, 2, 2,
                     {0x102030, 0x405060, 0x405060, 0x102030}});
  }
  {
    // Rows 0..9 of one column, written in interlaced order (passes 0, 4, 2, 1).
    TGif D{1, 10, kColors, -1, {Solid(0, 0, 1, 10, 0)}};
    D.Frames[0].Interlace = true;
    D.Frames[0].Pixels = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1};
    Cases.push_back({"interlaced", D, 0, ifColor256, 1, 10,
                     {Red, Green, Blue, White, Red, Green, Blue, White, Red, Green}});
  }
  {
    TGif D{3, 1, kColors, -1, {Solid(0, 0, 3, 1, 0)}};
    D.Frames[0].Pixels = {0, 2, 1};
    D.Frames[0].Transparent = 2;
    Cases.push_back({"transparent on black", D, 0, ifTrueColor, 3, 1, {Red, Black, Green}});
    Cases.push_back({"transparent on a chosen colour", D, 0x123456, ifTrueColor, 3, 1,
                     {Red, 0x123456, Green}});
  }
  {
    // A frame hanging over the screen's corner: only its inside shows.
    TGif D{3, 3, kColors, -1, {Solid(2, 2, 3, 3, 1)}};
    Cases.push_back({"clipped to the screen", D, 0, ifTrueColor, 3, 3,
                     {Black, Black, Black, Black, Black, Black, Black, Black, Green}});
  }
  {
    TGif D{0, 0, kColors, -1, {Solid(1, 1, 2, 1, 3)}};
    Cases.push_back({"screen of no size: the frames' extent", D, 0, ifTrueColor, 3, 2,
                     {Black, Black, Black, Black, White, White}});
  }
  {
    TGif D{2, 1, {Blue, White}, -1, {Solid(0, 0, 2, 1, 0)}};
    D.Frames[0].Colors = {Green, Red, Blue, White};
    D.Frames[0].Pixels = {1, 3};
    Cases.push_back({"local table over the global one", D, 0, ifColor256, 2, 1, {Red, White}});
  }
  return Cases;
}

// The file of a 3 x 1 still with the indices 0, 1, 3 and no colour table:
// written with a four-colour global table that is then taken out.
std::string WithoutColourTable() {
  TGif D{3, 1, kColors, -1, {Solid(0, 0, 3, 1, 0)}};
  D.Frames[0].Pixels = {0, 1, 3};
  D.Frames[0].Control = false;
  std::string Bytes = Encode(D);
  Bytes[10] = char(Bytes[10] & 0x7F); // no global table
  Bytes.erase(13, 12);
  return Bytes;
}

TEST(GifGraphic, StillsTakeTheFormatTheirColoursNeed) {
  for (const TStillCase& C : StillCases()) {
    SCOPED_TRACE(C.Name);
    const std::string Bytes = Encode(C.Gif);
    ASSERT_FALSE(Bytes.empty());
    const auto G = Load(Bytes, 1, C.Background);
    EXPECT_FALSE(G->Animated());
    EXPECT_EQ(G->FrameCount(), 0);
    EXPECT_EQ(G->ImageFormat(), C.Format);
    ASSERT_EQ(G->Width(), C.Width);
    ASSERT_EQ(G->Height(), C.Height);
    EXPECT_EQ(Pixels(*G), C.Expected);
  }
  // Without any colour table the indices are shades of grey.
  const auto G = Load(WithoutColourTable());
  EXPECT_EQ(Pixels(*G), (std::vector<uint32_t>{0x000000, 0x010101, 0x030303}));
}

// Bytes of a GIF header: signature, screen, an optional two-colour table.
std::string Header(uint16_t W, uint16_t H, bool Table) {
  std::string S = "GIF89a";
  S += char(W & 0xFF);
  S += char(W >> 8);
  S += char(H & 0xFF);
  S += char(H >> 8);
  S += char(Table ? 0x80 : 0x00); // global table of 2 entries
  S += '\0';                      // background index
  S += '\0';                      // aspect ratio
  if (Table) S.append("\0\0\0\xFF\xFF\xFF", 6);
  return S;
}
// An image descriptor and a few bytes of LZW data for a 2 x 1 picture.
std::string Image(uint16_t W, uint16_t H) {
  std::string S = ",";
  S.append(4, '\0'); // left, top
  S += char(W & 0xFF);
  S += char(W >> 8);
  S += char(H & 0xFF);
  S += char(H >> 8);
  S += '\0';
  S.append("\x02\x02\x44\x01\x00", 5);
  return S;
}

TEST(GifGraphic, DamagedTruncatedAndHostileFilesAreRefusedNamingTheFormat) {
  const std::string Good = Encode(TGif{2, 1, kColors, -1, {Solid(0, 0, 2, 1, 1)}});
  ASSERT_GT(Good.size(), 30u);
  const struct {
    const char* Name;
    std::string Bytes;
    std::string Message;
  } kCases[] = {
      {"empty", "", "GIF: the file ends before its data (truncated)"},
      {"not a GIF", "BM this is something else", "GIF: Data is not in GIF format"},
      {"header only", Header(2, 1, true) + ";", "GIF: the file holds no image"},
      {"cut in the first frame", Good.substr(0, Good.size() - 4),
       "GIF: the file ends before its data (truncated)"},
      {"a wrong record", Header(2, 1, true) + "\x07", "GIF: Wrong record type detected"},
      {"screen bomb", Header(60000, 60000, true) + Image(2, 1),
       PixelLimitMessage(60000, 60000)},
      {"frame bomb", Header(10, 10, true) + Image(60000, 60000),
       PixelLimitMessage(60000, 60000)},
  };
  for (const auto& C : kCases) {
    SCOPED_TRACE(C.Name);
    const uint64_t Before = TMemoryBudget::Used();
    EXPECT_THAT([&] { Load(C.Bytes); }, ThrowsMessage<EGifError>(C.Message));
    EXPECT_EQ(TMemoryBudget::Used(), Before);
  }
  // A file without its trailer, as many are, loads.
  EXPECT_EQ(Load(Good.substr(0, Good.size() - 1))->Width(), 2);
}

TEST(GifGraphic, AnAnimationCutShortPlaysTheFramesBeforeTheCut) {
  TGif D = DisposalAnimation(0);
  const std::string Whole = Encode(D);
  D.Frames.resize(2);
  D.Trailer = false;
  const std::string TwoFrames = Encode(D);
  // Into the third frame's data: its control block (8 bytes), descriptor
  // (10) and two bytes of data.
  const auto Cut = Load(Whole.substr(0, TwoFrames.size() + 20));
  ASSERT_TRUE(Cut->Animated());
  ASSERT_EQ(Cut->FrameCount(), 2);
  EXPECT_EQ(Pixels(Cut->Frames(2)), kDisposalFrames[1]);
  // Cut in the second frame: one frame is left, a still.
  const auto Still = Load(Whole.substr(0, TwoFrames.size() - 2));
  EXPECT_FALSE(Still->Animated());
  EXPECT_EQ(Pixels(*Still), kDisposalFrames[0]);
  // The frame asked for by its index must be whole.
  EXPECT_THAT([&] { Load(Whole.substr(0, TwoFrames.size() - 2), 2); },
              ThrowsMessage<EGifError>("GIF: frame 2 does not exist (the file holds 1 frame)"));
}

class GifLimitsTest : public ::testing::Test {
protected:
  void TearDown() override {
    SetPixelLimit(0);
    TMemoryBudget::SetLimit(0);
  }
};

TEST_F(GifLimitsTest, FramesBeyondThePixelLimitOrTheBudgetLeaveTheFirstFrameStill) {
  const std::string Bytes = Encode(DisposalAnimation(0));
  // Five frames and the picture showing one: 6 x 8 pixels, 6 x 24 bytes.
  SetPixelLimit(47);
  auto G = Load(Bytes);
  EXPECT_FALSE(G->Animated());
  EXPECT_TRUE(G->FramesOmitted());
  EXPECT_EQ(G->FrameCount(), 0);
  EXPECT_EQ(Pixels(*G), kDisposalFrames[0]);
  SetPixelLimit(48);
  G = Load(Bytes);
  EXPECT_FALSE(G->FramesOmitted());
  EXPECT_EQ(G->FrameCount(), 5);
  SetPixelLimit(0);

  G.reset();
  TMemoryBudget::SetLimit(TMemoryBudget::Used() + 6 * 24 - 1);
  G = Load(Bytes);
  EXPECT_TRUE(G->FramesOmitted());
  EXPECT_EQ(Pixels(*G), kDisposalFrames[0]);
  G.reset();
  TMemoryBudget::SetLimit(TMemoryBudget::Used() + 6 * 24);
  G = Load(Bytes);
  EXPECT_FALSE(G->FramesOmitted());
  EXPECT_EQ(G->FrameCount(), 5);
}

TEST_F(GifLimitsTest, AFrameWhoseAllocationFailsLeavesTheFirstFrameStill) {
  // Pixel buffers of a megabyte and more are charged in whole 2 MB pages,
  // more than the frames' own bytes the check before decoding counts: the
  // third frame's buffer fails although the check let the frames in.
  TGif D{1000, 400, kColors, 0, {Solid(0, 0, 1000, 400, 0), Solid(0, 0, 1000, 400, 1),
                                 Solid(0, 0, 1000, 400, 2)}};
  D.Frames[0].Transparent = 3; // true-colour frames
  const std::string Bytes = Encode(D);
  ASSERT_FALSE(Bytes.empty());
  const uint64_t Frame = 1000 * 400 * 3;
  TMemoryBudget::SetLimit(TMemoryBudget::Used() + 4 * Frame + 1000);
  const auto G = Load(Bytes);
  EXPECT_TRUE(G->FramesOmitted());
  EXPECT_FALSE(G->Animated());
  EXPECT_EQ(G->GetPixelColor(999, 399), Red);
}

TEST(GifGraphic, ATinyFileCannotMakeFramesOutOfProportionToItsData) {
  // Ten frames of one pixel on a 2000 x 2000 screen: a few hundred bytes
  // claiming 36 million pixels of frames after the first.
  TGif D{2000, 2000, kColors, 0, {}};
  for (int I = 0; I < 10; ++I)
    D.Frames.push_back(Solid(I, 0, 1, 1, uint8_t(I % 4)));
  const std::string Bytes = Encode(D);
  ASSERT_LT(Bytes.size(), 1000u);
  const auto G = Load(Bytes);
  EXPECT_TRUE(G->FramesOmitted());
  EXPECT_EQ(G->FrameCount(), 0);
  EXPECT_EQ(G->GetPixelColor(0, 0), Red);
}

TEST(GifGraphic, ATinyFileCannotClaimMoreFramesThanTheLimit) {
  TGif D{1, 1, kColors, 0, {}};
  for (int I = 0; I < MaxAnimationFrames + 5; ++I)
    D.Frames.push_back(Solid(0, 0, 1, 1, uint8_t(I % 4)));
  const auto G = Load(Encode(D));
  EXPECT_EQ(G->FrameCount(), MaxAnimationFrames);
  EXPECT_EQ(G->Frames(MaxAnimationFrames).GetPixelColor(0, 0), kColors[(MaxAnimationFrames - 1) % 4]);
}

TEST(GifGraphic, TheRegistryNamesTheClassForGifFiles) {
  RegisterImageFormats();
  EXPECT_EQ(GraphicClassForFile("anim.GIF"), ClassOf<TGifGraphic>());
  const std::string Bytes = Encode(DisposalAnimation(0));
  TBytesStream S(Bytes.data(), int64_t(Bytes.size()));
  const auto G = CreateGraphicFromStream(S, "x.gif", 1);
  EXPECT_EQ(G->ClassName(), "TGifGraphic");
  EXPECT_EQ(G->FrameCount(), 5);
}

} // namespace

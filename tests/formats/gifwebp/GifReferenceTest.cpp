// GIF animations as another decoder shows them: files written by Pillow and
// optimised by gifsicle (tests/formats/gifwebp/gif-references.py), every
// frame compared with Pillow's, and optimised rewrites compared with the
// animations they were made from. Skipped when Pillow or gifsicle is missing.

#include "formats/GifGraphic.h"
#include "platform/Stream.h"
#include "tests/formats/gifwebp/ToolSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

std::unique_ptr<TGifGraphic> LoadFile(const std::string& Path) {
  TFileStream S(Path, TFileMode::fmOpenRead);
  auto G = std::make_unique<TGifGraphic>();
  G->LoadFromStream(S);
  return G;
}

// The picture's frames, or the picture itself when it is a still.
std::vector<const TDibGraphic*> FramesOf(const TDibGraphic& G) {
  std::vector<const TDibGraphic*> F;
  for (int I = 1; I <= G.FrameCount(); ++I)
    F.push_back(&G.Frames(I));
  if (F.empty()) F.push_back(&G);
  return F;
}

std::vector<std::string> Lines(const std::string& Path) {
  std::vector<std::string> L;
  std::ifstream In(Path);
  for (std::string Line; std::getline(In, Line);)
    if (!Line.empty()) L.push_back(Line);
  return L;
}

class GifReferenceTest : public ::testing::Test {
protected:
  void SetUp() override {
    const char* Source = std::getenv("IMBREL_SOURCE");
    if (!Source) GTEST_SKIP() << "no source folder";
    // The system's Python, where Debian installs Pillow.
    const std::string Python =
        ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : tools::Find("python3");
    if (Python.empty()) GTEST_SKIP() << "python3 missing";
    const int Status = tools::Run(
        {Python, std::string(Source) + "/tests/formats/gifwebp/gif-references.py", Dir.Dir()});
    if (Status == 77) GTEST_SKIP() << "Pillow or gifsicle missing";
    ASSERT_EQ(Status, 0);
  }
  tools::TScratch Dir;
};

TEST_F(GifReferenceTest, EveryFrameMatchesPillowWithItsDelay) {
  const std::vector<std::string> Names = Lines(Dir / "references.txt");
  ASSERT_GE(Names.size(), 5u);
  for (const std::string& Name : Names) {
    SCOPED_TRACE(Name);
    const auto G = LoadFile(Dir / (Name + ".gif"));
    const std::vector<std::string> Durations = Lines(Dir / (Name + ".txt"));
    const std::vector<const TDibGraphic*> Frames = FramesOf(*G);
    ASSERT_EQ(Frames.size(), Durations.size());
    EXPECT_EQ(G->Animated(), Frames.size() > 1);
    for (size_t I = 0; I < Frames.size(); ++I) {
      SCOPED_TRACE("frame " + std::to_string(I + 1));
      const tools::TRgba Reference =
          tools::ReadPnm(tools::ReadFile(Dir / (Name + "." + std::to_string(I + 1) + ".ppm")));
      EXPECT_EQ(tools::MaxDifference(*Frames[I], Reference), 0);
      if (Frames.size() > 1) {
        const int Ms = std::stoi(Durations[I]);
        EXPECT_EQ(Frames[I]->FrameDelay(), Ms <= 10 ? 100 : Ms);
      }
    }
  }
}

TEST_F(GifReferenceTest, OptimisedRewritesShowTheSameFrames) {
  const std::vector<std::string> Pairs = Lines(Dir / "pairs.txt");
  ASSERT_GE(Pairs.size(), 3u);
  for (const std::string& Pair : Pairs) {
    SCOPED_TRACE(Pair);
    const std::string A = Pair.substr(0, Pair.find(' ')), B = Pair.substr(Pair.find(' ') + 1);
    const auto Plain = LoadFile(Dir / (A + ".gif"));
    const auto Optimised = LoadFile(Dir / (B + ".gif"));
    ASSERT_GT(Plain->FrameCount(), 1);
    ASSERT_EQ(Plain->FrameCount(), Optimised->FrameCount());
    for (int I = 1; I <= Plain->FrameCount(); ++I) {
      SCOPED_TRACE("frame " + std::to_string(I));
      const TDibGraphic& P = Plain->Frames(I);
      const TDibGraphic& O = Optimised->Frames(I);
      ASSERT_EQ(P.Width(), O.Width());
      ASSERT_EQ(P.Height(), O.Height());
      int Differing = 0;
      for (int Y = 0; Y < P.Height(); ++Y)
        for (int X = 0; X < P.Width(); ++X)
          Differing += P.GetPixelColor(X, Y) != O.GetPixelColor(X, Y);
      EXPECT_EQ(Differing, 0);
      EXPECT_EQ(P.FrameDelay(), O.FrameDelay());
    }
  }
}

TEST_F(GifReferenceTest, TheDecodeToolWritesTheFrameOfItsIndex) {
  for (int Index : {1, 3, 6}) {
    SCOPED_TRACE(Index);
    const std::string Out = Dir / ("frame" + std::to_string(Index) + ".ppm");
    ASSERT_EQ(tools::Run({IMBREL_DECODE_TOOL, Dir / "optimised.gif", "--index",
                          std::to_string(Index), "-o", Out}),
              0);
    const tools::TRgba Ours = tools::ReadPnm(tools::ReadFile(Out));
    const tools::TRgba Pillow =
        tools::ReadPnm(tools::ReadFile(Dir / ("optimised." + std::to_string(Index) + ".ppm")));
    ASSERT_EQ(Ours.Width, Pillow.Width);
    EXPECT_EQ(Ours.Pixels, Pillow.Pixels);
  }
  EXPECT_EQ(tools::Run({IMBREL_DECODE_TOOL, Dir / "optimised.gif", "--index", "7"}), 1);
}

} // namespace

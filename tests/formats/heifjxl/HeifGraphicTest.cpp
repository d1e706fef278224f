// HEIF pictures through THeifGraphic: HEIC files made by libheif's encoder
// and AVIF files made by libavif's, decoded as the libraries' own tools
// decode them; the file's rotation, mirroring and crop; colour descriptions;
// transparency; damaged files and files that claim more than they hold.

#include "formats/HeifGraphic.h"
#include "imaging/Orientation.h"
#include "platform/MemoryBudget.h"
#include "tests/formats/heifjxl/HeifJxlFixtures.h"
#include "tests/formats/hostile/HostileFixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

#define REQUIRE_TOOLS(...)                                                                          \
  for (const char* Tool : {__VA_ARGS__})                                                            \
    if (FindTool(Tool).empty()) GTEST_SKIP() << Tool << " is not installed";

// Args with "IN" and "OUT" replaced by the two paths.
std::vector<std::string> Command(std::vector<std::string> Args, const std::string& In,
                                 const std::string& Out) {
  for (std::string& A : Args)
    A = A == "IN" ? In : A == "OUT" ? Out : A;
  return Args;
}

std::unique_ptr<THeifGraphic> Decode(const TBytes& Bytes, uint32_t Background = 0) {
  auto G = std::make_unique<THeifGraphic>();
  G->BackgroundColor = Background;
  TBytesStream S(Bytes.data(), int64_t(Bytes.size()));
  G->LoadFromStream(S);
  return G;
}

// Encodes Source with Encoder (IN: a PNG of it, OUT: the file made) and
// answers the file's bytes; empty when the encoder failed.
TBytes Encode(const TScratch& Dir, const TPicture& Source, const std::vector<std::string>& Encoder,
              const std::string& Name, const TPngExtras& Extras = {}) {
  const std::string In = Dir.Write(Name + ".png", MakePng(Source, Extras));
  const std::string Out = Dir.Path(Name);
  if (!RunTool(Command(Encoder, In, Out))) return "";
  return ReadFile(Out);
}

const std::vector<std::string> kHeifEnc = {"heif-enc", "-q", "90", "IN", "-o", "OUT"};
const std::vector<std::string> kAvifEnc = {"avifenc", "-s", "10", "--min", "0", "--max", "10",
                                           "IN", "OUT"};

std::vector<std::string> With(std::vector<std::string> Encoder, std::vector<std::string> Extra) {
  Encoder.insert(Encoder.begin() + 1, Extra.begin(), Extra.end());
  return Encoder;
}

} // namespace

TEST(HeifGraphic, DecodesLikeTheLibrariesOwnTools) {
  REQUIRE_TOOLS("heif-enc", "heif-convert", "avifenc", "avifdec");
  const struct {
    const char* Name;
    TPicture Source;
    std::vector<std::string> Encoder;
    std::vector<std::string> Reference;
    int Tolerance;       // to the reference tool's decoding (avifdec converts to RGB its own way)
    int SourceTolerance; // to the picture that was encoded
  } Rows[] = {
      {"still.heic", Ramps(64, 48, 3), kHeifEnc, {"heif-convert", "IN", "OUT"}, 0, 12},
      {"alpha.heic", Ramps(64, 48, 4), kHeifEnc, {"heif-convert", "IN", "OUT"}, 0, 12},
      {"ten-bit.heic", Ramps(64, 48, 3, 16), With(kHeifEnc, {"-b", "10"}),
       {"heif-convert", "IN", "OUT"}, 1, 12},
      {"still.avif", Ramps(64, 48, 3), kAvifEnc, {"avifdec", "-d", "8", "IN", "OUT"}, 2, 12},
      {"alpha.avif", Ramps(64, 48, 4), kAvifEnc, {"avifdec", "-d", "8", "IN", "OUT"}, 2, 12},
      {"ten-bit-420.avif", Ramps(64, 48, 3), With(kAvifEnc, {"-d", "10", "-y", "420"}),
       {"avifdec", "-d", "8", "IN", "OUT"}, 5, 12},
      {"grey.avif", Ramps(64, 48, 1), With(kAvifEnc, {"-y", "400"}),
       {"avifdec", "-d", "8", "IN", "OUT"}, 2, 12},
      {"lossless.avif", Ramps(64, 48, 3), With(kAvifEnc, {"-l"}),
       {"avifdec", "-d", "8", "IN", "OUT"}, 0, 1},
  };
  TScratch Dir;
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    const TBytes File = Encode(Dir, Row.Source, Row.Encoder, Row.Name);
    ASSERT_FALSE(File.empty()) << "the encoder failed";
    ASSERT_TRUE(RunTool(Command(Row.Reference, Dir.Path(Row.Name), Dir.Path("reference.png"))));
    TPicture Reference, Source;
    ASSERT_TRUE(ReadPng(Dir.Path("reference.png"), Reference));
    ASSERT_TRUE(ReadPng(Dir.Path(std::string(Row.Name) + ".png"), Source));

    const auto G = Decode(File);
    EXPECT_EQ(G->ImageFormat(), ifTrueColor);
    const int ToReference = LargestDifference(*G, Reference);
    EXPECT_GE(ToReference, 0) << "same size";
    EXPECT_LE(ToReference, Row.Tolerance);
    EXPECT_LE(LargestDifference(*G, Source), Row.SourceTolerance);
    EXPECT_EQ(G->FrameCount(), 0);
  }
}

TEST(HeifGraphic, AppliesTheFilesRotationMirrorAndCropAsLibheifDoes) {
  REQUIRE_TOOLS("avifenc", "heif-convert");
  constexpr int kBlock = 16;
  const struct {
    const char* Name;
    std::vector<std::string> Options;
    int Width, Height;
    const char* Blocks;
  } Rows[] = {
      {"none", {}, 48, 32, kUprightBlocks[1]},
      {"quarter turn anticlockwise", {"--irot", "1"}, 32, 48, "BY/GM/RC"},
      {"half turn", {"--irot", "2"}, 48, 32, "YMC/BGR"},
      {"quarter turn clockwise", {"--irot", "3"}, 32, 48, "CR/MG/YB"},
      {"mirror, mode 0", {"--imir", "0"}, 48, 32, "CMY/RGB"},
      {"mirror, mode 1", {"--imir", "1"}, 48, 32, "BGR/YMC"},
      {"turn then mirror", {"--irot", "1", "--imir", "0"}, 32, 48, "RC/GM/BY"},
      {"crop", {"--crop", "16,0,32,32"}, 32, 32, "GB/MY"},
  };
  TScratch Dir;
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    const TBytes File = Encode(Dir, Blocks(kBlock), With(kAvifEnc, Row.Options), "turned.avif");
    ASSERT_FALSE(File.empty());
    ASSERT_TRUE(RunTool({"heif-convert", Dir.Path("turned.avif"), Dir.Path("reference.png")}));
    TPicture Reference;
    ASSERT_TRUE(ReadPng(Dir.Path("reference.png"), Reference));

    const auto G = Decode(File);
    EXPECT_EQ(G->Width(), Row.Width);
    EXPECT_EQ(G->Height(), Row.Height);
    EXPECT_EQ(ShownBlocks(*G, kBlock), Row.Blocks);
    EXPECT_EQ(LargestDifference(*G, Reference), 0);
    // The transformations are part of the picture: switching the EXIF
    // orientation off changes nothing.
    const TOrientationOff Off;
    EXPECT_EQ(ShownBlocks(*Decode(File), kBlock), Row.Blocks);
  }
}

TEST(HeifGraphic, ColourDescriptionIsTheFilesProfile) {
  REQUIRE_TOOLS("avifenc", "heif-enc");
  const std::string IccPath = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
  const TBytes Icc = ReadFile(IccPath);
  const struct {
    const char* Name;
    std::vector<std::string> Encoder;
    bool Described;
    double RedX, GreenY, WhiteX;
    TColorDescription::TTransfer Transfer;
    double Gamma;
  } Rows[] = {
      {"no colour box.heic", kHeifEnc, false, 0, 0, 0, TColorDescription::tfSRGB, 0},
      {"sRGB.avif", With(kAvifEnc, {"--cicp", "1/13/6"}), false, 0, 0, 0,
       TColorDescription::tfSRGB, 0},
      {"BT.2100 PQ.avif", With(kAvifEnc, {"--cicp", "9/16/9"}), true, 0.708, 0.797, 0.3127,
       TColorDescription::tfPQ, 0},
      {"Display P3 linear.avif", With(kAvifEnc, {"--cicp", "12/8/6"}), true, 0.680, 0.690, 0.3127,
       TColorDescription::tfLinear, 0},
      {"BT.709 gamma 2.2.avif", With(kAvifEnc, {"--cicp", "1/4/6"}), true, 0.64, 0.60, 0.3127,
       TColorDescription::tfGamma, 2.2},
  };
  TScratch Dir;
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    const TBytes File = Encode(Dir, Ramps(32, 32, 3), Row.Encoder, Row.Name);
    ASSERT_FALSE(File.empty());
    const TColorDescriptionPtr D = Decode(File)->ColorDescription();
    ASSERT_EQ(D != nullptr, Row.Described);
    if (!D) continue;
    EXPECT_TRUE(D->Icc.empty());
    EXPECT_NEAR(D->RedX, Row.RedX, 0.001);
    EXPECT_NEAR(D->GreenY, Row.GreenY, 0.001);
    EXPECT_NEAR(D->WhiteX, Row.WhiteX, 0.001);
    EXPECT_EQ(D->Transfer, Row.Transfer);
    if (Row.Transfer == TColorDescription::tfGamma) {
      EXPECT_DOUBLE_EQ(D->Gamma, Row.Gamma);
    }
  }

  if (Icc.empty()) GTEST_SKIP() << IccPath << " is not installed";
  const TBytes File =
      Encode(Dir, Ramps(32, 32, 3), With(kAvifEnc, {"--icc", IccPath}), "profile.avif");
  ASSERT_FALSE(File.empty());
  const TColorDescriptionPtr D = Decode(File)->ColorDescription();
  ASSERT_TRUE(D);
  EXPECT_EQ(TBytes(D->Icc.begin(), D->Icc.end()), Icc);
}

TEST(HeifGraphic, TransparencyIsCompositedOntoTheBackgroundColour) {
  REQUIRE_TOOLS("heif-enc", "heif-convert", "avifenc", "avifdec");
  TScratch Dir;
  const struct {
    const char* Name;
    std::vector<std::string> Encoder;
    std::vector<std::string> Reference;
    int Tolerance;
  } Rows[] = {
      {"alpha.heic", kHeifEnc, {"heif-convert", "IN", "OUT"}, 0},
      {"alpha.avif", kAvifEnc, {"avifdec", "-d", "8", "IN", "OUT"}, 2},
  };
  for (const auto& Row : Rows)
    for (const uint32_t Background : {0x000000u, 0xFFFFFFu, 0x336699u}) {
      SCOPED_TRACE(std::string(Row.Name) + " on " + std::to_string(Background));
      const TBytes File = Encode(Dir, Ramps(64, 48, 4), Row.Encoder, Row.Name);
      ASSERT_FALSE(File.empty());
      ASSERT_TRUE(RunTool(Command(Row.Reference, Dir.Path(Row.Name), Dir.Path("reference.png"))));
      TPicture Reference;
      ASSERT_TRUE(ReadPng(Dir.Path("reference.png"), Reference));
      const auto G = Decode(File, Background);
      EXPECT_LE(LargestDifference(*G, Reference, Background), Row.Tolerance + 1);
      // The left column is transparent: the background shows.
      EXPECT_LE(ColourDistance(G->GetPixelColor(0, 20), Background), 2);
    }

  // Premultiplied alpha: the colour is already scaled by alpha, and only the
  // background is added (200 of red at half alpha stays 200 on black).
  TPicture Half{64, 48, 4, 8, {}};
  for (int I = 0; I < 64 * 48; ++I)
    Half.Pixels.insert(Half.Pixels.end(), {200, 100, 50, 128});
  const TBytes Premultiplied =
      Encode(Dir, Half, With(kHeifEnc, {"--premultiplied-alpha"}), "premultiplied.heic");
  const TBytes Straight = Encode(Dir, Half, kHeifEnc, "straight.heic");
  ASSERT_FALSE(Premultiplied.empty());
  ASSERT_FALSE(Straight.empty());
  EXPECT_LE(ColourDistance(Decode(Premultiplied)->GetPixelColor(10, 10), MakeRgb(200, 100, 50)), 4);
  EXPECT_LE(ColourDistance(Decode(Premultiplied, 0xFFFFFF)->GetPixelColor(10, 10),
                           MakeRgb(255, 227, 177)),
            4);
  EXPECT_LE(ColourDistance(Decode(Straight)->GetPixelColor(10, 10), MakeRgb(100, 50, 25)), 4);
}

TEST(HeifGraphic, DamagedFilesAreRefusedNamingTheFormat) {
  REQUIRE_TOOLS("heif-enc", "avifenc");
  TScratch Dir;
  const TBytes Heic = Encode(Dir, Ramps(64, 48, 3), kHeifEnc, "whole.heic");
  const TBytes Avif = Encode(Dir, Ramps(64, 48, 3), kAvifEnc, "whole.avif");
  ASSERT_FALSE(Heic.empty());
  ASSERT_FALSE(Avif.empty());
  const struct {
    const char* Name;
    TBytes Bytes;
    const char* Message;
  } Rows[] = {
      {"empty", "", "HEIF file is not valid: no HEIF file type box"},
      {"a PNG", MakePng(Ramps(8, 8, 3)), "HEIF file is not valid: no HEIF file type box"},
      {"HEIC cut after its file type box", Heic.substr(0, 40), "HEIC file is not valid: "},
      {"HEIC cut in its boxes", Heic.substr(0, 200), "HEIC file is not valid: "},
      {"HEIC cut in its coded data", Heic.substr(0, Heic.size() - 100), "HEIC "},
      {"AVIF cut in half", Avif.substr(0, Avif.size() / 2), "AVIF "},
  };
  for (const auto& Row : Rows) {
    SCOPED_TRACE(Row.Name);
    THeifGraphic G;
    TBytesStream S(Row.Bytes.data(), int64_t(Row.Bytes.size()));
    try {
      G.LoadFromStream(S);
      ADD_FAILURE() << "decoded";
    } catch (const EHeifError& E) {
      EXPECT_THAT(E.Message(), StartsWith(Row.Message));
      // libheif's own reason follows the format's name.
      if (std::string(Row.Message).back() == ' ') {
        EXPECT_GT(E.Message().size(), std::string(Row.Message).size());
      }
    }
    EXPECT_TRUE(G.Empty());
  }
}

namespace {

using hostile::Be16;
using hostile::Be32;
using hostile::Box;
using hostile::FullBox;

std::string Item(uint16_t Id, const char* Type) {
  std::string S;
  Be16(S, Id);
  Be16(S, 0);
  return FullBox("infe", 0x02000000, S + std::string(Type, 4) + '\0');
}

std::string Size(uint32_t W, uint32_t H) {
  std::string S;
  Be32(S, W);
  Be32(S, H);
  return FullBox("ispe", 0, S);
}

const std::string kHevcConfig =
    Box("hvcC", std::string("\x01\x01\x60\0\0\0\0\0\0\0\0\0\x5A\xF0\0\xFC\xFD\xF8\xF8\0\0\x0F\0", 23));
const std::string kHevcData = std::string("\0\0\0\x10\x26\x01", 6) + std::string(10, '\xAF');

// The hvcC box and the coded data of a one-image HEIC written by heif-enc
// (all of its mdat box).
bool SplitHeic(const TBytes& File, std::string& Config, std::string& Data) {
  const auto BoxAt = [&](const char* Type) -> std::string {
    const size_t At = File.find(Type);
    if (At == std::string::npos || At < 4) return "";
    const auto* P = reinterpret_cast<const uint8_t*>(File.data() + At - 4);
    const size_t Size = size_t(P[0]) << 24 | size_t(P[1]) << 16 | size_t(P[2]) << 8 | P[3];
    return Size >= 8 && At - 4 + Size <= File.size() ? File.substr(At - 4, Size) : "";
  };
  Config = BoxAt("hvcC");
  const std::string Mdat = BoxAt("mdat");
  Data = Mdat.size() > 8 ? Mdat.substr(8) : "";
  return !Config.empty() && !Data.empty();
}

// A HEIF file whose primary item 1 is a grid of one HEVC tile (item 2,
// Config and Tile of TileW x TileH), declared DeclaredW x DeclaredH, its
// data giving the canvas as GridW x GridH.
std::string GridFile(uint32_t GridW, uint32_t GridH, uint32_t DeclaredW, uint32_t DeclaredH,
                     const std::string& Config = kHevcConfig, const std::string& Tile = kHevcData,
                     uint32_t TileW = 64, uint32_t TileH = 64) {
  std::string Ftyp = "heic";
  Be32(Ftyp, 0);
  Ftyp += "mif1heic";
  const std::string Handler = std::string(4, '\0') + "pict" + std::string(13, '\0');
  std::string Primary;
  Be16(Primary, 1);
  std::string Items;
  Be16(Items, 2);
  Items += Item(1, "grid") + Item(2, "hvc1");
  std::string Reference;
  Be16(Reference, 1); // from item 1
  Be16(Reference, 1); // one item
  Be16(Reference, 2); // item 2
  std::string Grid = std::string("\0\x01\0\0", 4); // version, 32-bit sizes, 1 x 1 tiles
  Be32(Grid, GridW);
  Be32(Grid, GridH);
  std::string Associations;
  Be32(Associations, 2);
  Be16(Associations, 1);
  Associations += std::string("\x01\x01", 2); // item 1: its size
  Be16(Associations, 2);
  Associations += std::string("\x02\x82\x03", 3); // item 2: configuration (essential), size
  const std::string Properties =
      Box("ipco", Size(DeclaredW, DeclaredH) + Config + Size(TileW, TileH)) +
      FullBox("ipma", 0, Associations);
  const auto Build = [&](uint32_t Offset) {
    std::string Location;
    Location += "\x44";
    Location += '\0';
    Be16(Location, 2);
    Be16(Location, 1); // item 1: grid data in the idat box
    Be16(Location, 1);
    Be16(Location, 0);
    Be16(Location, 1);
    Be32(Location, 0);
    Be32(Location, uint32_t(Grid.size()));
    Be16(Location, 2); // item 2: the tile in the mdat box
    Be16(Location, 0);
    Be16(Location, 0);
    Be16(Location, 1);
    Be32(Location, Offset);
    Be32(Location, uint32_t(Tile.size()));
    return Box("ftyp", Ftyp) +
           FullBox("meta", 0,
                   FullBox("hdlr", 0, Handler) + FullBox("pitm", 0, Primary) +
                       FullBox("iloc", 0x01000000, Location) + FullBox("iinf", 0, Items) +
                       FullBox("iref", 0, Box("dimg", Reference)) + Box("iprp", Properties) +
                       Box("idat", Grid));
  };
  const std::string Head = Build(uint32_t(Build(0).size() + 8));
  return Head + Box("mdat", Tile);
}

} // namespace

TEST(HeifGraphic, AGridCanvasIsHeldToTheDeclaredSize) {
  // Grids whose data claim 40000 x 40000 behind a declared 64 x 64, and
  // behind a declared 393280 x 64 (few pixels, but a side libheif's limit
  // per side would let through): refused at once, nothing allocated.
  for (const uint32_t DeclaredW : {64u, 393280u}) {
    SCOPED_TRACE(DeclaredW);
    const uint64_t Before = TMemoryBudget::Used();
    const auto Start = std::chrono::steady_clock::now();
    try {
      Decode(GridFile(40000, 40000, DeclaredW, 64));
      ADD_FAILURE() << "decoded";
    } catch (const EHeifError& E) {
      EXPECT_EQ(E.Message(), "HEIC file is not valid: its grid or overlay of 40000 x 40000 pixels "
                             "exceeds its declared size of " +
                                 std::to_string(DeclaredW) + " x 64");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(5));
    EXPECT_EQ(TMemoryBudget::Used(), Before);
  }
  // A grid that keeps to its size gets past the check to libheif, which
  // finds the tile's garbage.
  EXPECT_THROW(
      {
        try {
          Decode(GridFile(64, 64, 64, 64));
        } catch (const EHeifError& E) {
          EXPECT_THAT(E.Message(), StartsWith("HEIC picture cannot be decoded: "));
          throw;
        }
      },
      EHeifError);

  // The declared size itself is held to the pixel limit, for HEVC and AV1.
  for (const char* Codec : {"hvc1", "av01"}) {
    SCOPED_TRACE(Codec);
    EXPECT_THROW(
        {
          try {
            Decode(hostile::Heif(70000, 20000, Codec));
          } catch (const EHeifError& E) {
            EXPECT_EQ(E.Message(), PixelLimitMessage(70000, 20000));
            throw;
          }
        },
        EHeifError);
  }
}

TEST(HeifGraphic, ARealGridDecodesLikeItsTile) {
  REQUIRE_TOOLS("heif-enc");
  TScratch Dir;
  const TBytes Single = Encode(Dir, Ramps(64, 48, 3), kHeifEnc, "tile.heic");
  ASSERT_FALSE(Single.empty());
  std::string Config, Tile;
  ASSERT_TRUE(SplitHeic(Single, Config, Tile));
  const auto Alone = Decode(Single);
  const auto Gridded = Decode(GridFile(64, 48, 64, 48, Config, Tile, 64, 48));
  ASSERT_EQ(Gridded->Width(), 64);
  ASSERT_EQ(Gridded->Height(), 48);
  for (int Y = 0; Y < 48; ++Y)
    for (int X = 0; X < 64; ++X)
      ASSERT_EQ(Gridded->GetPixelColor(X, Y), Alone->GetPixelColor(X, Y)) << X << ", " << Y;
}

TEST(HeifGraphic, DecodingStaysWithinTheMemoryBudget) {
  REQUIRE_TOOLS("heif-enc");
  TScratch Dir;
  const TBytes File = Encode(Dir, Ramps(64, 48, 3), kHeifEnc, "budget.heic");
  ASSERT_FALSE(File.empty());
  const uint64_t Before = TMemoryBudget::Used();
  TMemoryBudget::SetLimit(Before + 4096);
  try {
    Decode(File);
    ADD_FAILURE() << "decoded";
  } catch (const EHeifError& E) {
    EXPECT_EQ(E.Message(), "HEIC picture of 64 x 48 pixels does not fit in the memory budget");
  }
  TMemoryBudget::SetLimit(0);
  EXPECT_EQ(TMemoryBudget::Used(), Before);

  // While it lives, the decoded picture is charged; decoding hands back the
  // rest.
  const auto G = Decode(File);
  EXPECT_GE(TMemoryBudget::Used(), Before + 64 * 48 * 3);
  EXPECT_LT(TMemoryBudget::Used(), Before + 64 * 48 * 16);
}

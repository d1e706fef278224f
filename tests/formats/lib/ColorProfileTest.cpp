// The colour descriptions the JPEG, PNG and TIFF readers keep: real profiles
// of colord-data (skipped when that folder is absent) embedded in pictures
// written here, converted as the view converts them and compared with
// lcms2's own transform of the same colours; the rules of JPEG's profile
// chunks; what the PNG reader's gamma step means for the description; and
// the decode tool's --to-srgb.

#include "formats/JpegGraphic.h"
#include "formats/PngGraphic.h"
#include "formats/TiffGraphic.h"
#include "imaging/ColorTransform.h"

#include "tests/formats/lib/LibFixtures.h"

#include <lcms2.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace {

std::vector<uint8_t> ReadProfile(const std::string& Name) {
  std::ifstream F("/usr/share/color/icc/colord/" + Name, std::ios::binary);
  return {std::istreambuf_iterator<char>(F), {}};
}

#define REQUIRE_PROFILE(Var, Name)                                                                 \
  const std::vector<uint8_t> Var = ReadProfile(Name);                                              \
  if (Var.empty()) GTEST_SKIP() << "colord-data's " << Name << " is not installed"

// Eight colours, each in an 8 x 8 block of a 64 x 8 picture (blocks survive
// JPEG compression nearly as they are).
const uint8_t kColours[8][3] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},     {200, 60, 40},
                                {30, 90, 160}, {128, 128, 128}, {250, 240, 10}, {12, 8, 4}};
constexpr int kWidth = 64, kHeight = 8;

// The blocks' colours as blue-green-red bytes.
std::vector<uint8_t> FileValues() {
  std::vector<uint8_t> Bgr;
  for (const auto& C : kColours)
    Bgr.insert(Bgr.end(), {C[2], C[1], C[0]});
  return Bgr;
}

std::vector<uint8_t> RgbRows() {
  std::vector<uint8_t> Rows;
  for (int Y = 0; Y < kHeight; ++Y)
    for (int X = 0; X < kWidth; ++X)
      Rows.insert(Rows.end(), kColours[X / 8], kColours[X / 8] + 3);
  return Rows;
}

TBytes JpegWith(const std::vector<std::vector<uint8_t>>& App2) {
  TJpegFixture F;
  F.Width = kWidth;
  F.Height = kHeight;
  F.Pixels = RgbRows();
  F.Quality = 100;
  F.App2 = App2;
  return MakeJpeg(F);
}

TBytes PngWith(const std::vector<uint8_t>& Icc, double Gamma = 0, bool Srgb = false) {
  TPngFixture F;
  F.Width = kWidth;
  F.Height = kHeight;
  F.Rows = RgbRows();
  F.Icc = Icc;
  F.Gamma = Gamma;
  F.Srgb = Srgb;
  return MakePng(F);
}

TBytes TiffWith(const std::vector<uint8_t>& Icc) {
  TTiffPage P;
  P.Width = kWidth;
  P.Height = kHeight;
  P.SamplesPerPixel = 3;
  P.Photometric = PHOTOMETRIC_RGB;
  P.Rows = RgbRows();
  P.Extra = [Icc](void* Tif) {
    if (!Icc.empty())
      TIFFSetField(static_cast<TIFF*>(Tif), TIFFTAG_ICCPROFILE, uint32_t(Icc.size()), Icc.data());
  };
  return MakeTiff({P});
}

std::unique_ptr<TDibGraphic> Load(const std::string& Format, const TBytes& Bytes) {
  if (Format == "JPEG") return LoadFrom<TJpegGraphic>(Bytes);
  if (Format == "PNG") return LoadFrom<TPngGraphic>(Bytes);
  return LoadFrom<TTiffGraphic>(Bytes);
}

// The centre pixel of each block, as blue-green-red bytes.
std::vector<uint8_t> BlockCentres(const TDibGraphic& G) {
  std::vector<uint8_t> Bgr;
  for (int B = 0; B < 8; ++B) {
    const uint32_t C = G.GetPixelColor(B * 8 + 4, 4);
    Bgr.insert(Bgr.end(), {Blue(C), Green(C), Red(C)});
  }
  return Bgr;
}

std::vector<uint8_t> LcmsToSrgb(const std::vector<uint8_t>& Profile, std::vector<uint8_t> Bgr) {
  cmsHPROFILE From = cmsOpenProfileFromMem(Profile.data(), cmsUInt32Number(Profile.size()));
  cmsHPROFILE To = cmsCreate_sRGBProfile();
  cmsHTRANSFORM T = cmsCreateTransform(From, TYPE_BGR_8, To, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
  EXPECT_NE(T, nullptr);
  if (T) cmsDoTransform(T, Bgr.data(), Bgr.data(), cmsUInt32Number(Bgr.size() / 3));
  if (T) cmsDeleteTransform(T);
  cmsCloseProfile(To);
  cmsCloseProfile(From);
  return Bgr;
}

int MaxDifference(const std::vector<uint8_t>& A, const std::vector<uint8_t>& B) {
  int Max = A.size() == B.size() ? 0 : 256;
  for (size_t I = 0; I < std::min(A.size(), B.size()); ++I)
    Max = std::max(Max, std::abs(int(A[I]) - int(B[I])));
  return Max;
}

} // namespace

// Each reader keeps its file's profile as it was written, leaves the stored
// values alone, and the converted copy is lcms2's transform of them; with
// the swapped profile, stored red is shown green.
TEST(ColorProfiles, ReadersKeepTheEmbeddedProfile) {
  REQUIRE_PROFILE(Adobe, "AdobeRGB1998.icc");
  REQUIRE_PROFILE(ProPhoto, "ProPhotoRGB.icc");
  REQUIRE_PROFILE(Swapped, "SwappedRedAndGreen.icc");
  const std::pair<const char*, const std::vector<uint8_t>*> Profiles[] = {
      {"Adobe RGB", &Adobe}, {"ProPhoto", &ProPhoto}, {"swapped", &Swapped}};
  for (const std::string Format : {"JPEG", "PNG", "TIFF"})
    for (const auto& [Name, Profile] : Profiles) {
      SCOPED_TRACE(Format + " with " + Name);
      // PNG: with gAMA 1/2.2 the reader's gamma step leaves values alone.
      const TBytes Bytes = Format == "JPEG"  ? JpegWith(IccSegments(*Profile))
                           : Format == "PNG" ? PngWith(*Profile, 1 / 2.2)
                                             : TiffWith(*Profile);
      auto G = Load(Format, Bytes);
      ASSERT_TRUE(G->ColorDescription());
      EXPECT_EQ(G->ColorDescription()->Icc, *Profile);
      EXPECT_EQ(G->ColorDescription()->Reencode, 1.0);
      const std::vector<uint8_t> Stored = BlockCentres(*G);
      if (Format != "JPEG") {
        EXPECT_EQ(Stored, FileValues());
      }
      auto Copy = std::make_unique<TDibGraphic>();
      Copy->Assign(G.get());
      ASSERT_EQ(ConvertColors(*Copy, G->ColorDescription(), *SRGBColorSpace()), crConverted);
      EXPECT_LE(MaxDifference(BlockCentres(*Copy), LcmsToSrgb(*Profile, Stored)), 2);
      if (Profile == &Swapped) {
        const uint32_t ShownRed = Copy->GetPixelColor(4, 4);
        EXPECT_GE(Green(ShownRed), 250);
        EXPECT_LE(Red(ShownRed), 5);
      }
    }
}

// The profile's chunks are joined by their numbers, whatever their order;
// a profile whose chunks do not add up is dropped and the picture shown.
TEST(ColorProfiles, JpegChunksAreJoinedByNumber) {
  REQUIRE_PROFILE(Adobe, "AdobeRGB1998.icc");
  const std::vector<std::vector<uint8_t>> InOrder = IccSegments(Adobe, 100);
  ASSERT_GE(InOrder.size(), 5u);
  auto Changed = [&](auto Change) {
    std::vector<std::vector<uint8_t>> S = InOrder;
    Change(S);
    return S;
  };
  struct TCase {
    const char* Name;
    std::vector<std::vector<uint8_t>> Segments;
    bool Kept;
  } Cases[] = {
      {"in order", InOrder, true},
      {"shuffled", Changed([](auto& S) { std::shuffle(S.begin(), S.end(), std::mt19937(7)); }),
       true},
      {"one missing", Changed([](auto& S) { S.erase(S.begin() + 2); }), false},
      {"one repeated", Changed([](auto& S) { S.insert(S.begin() + 3, S[1]); }), false},
      {"number 0", Changed([](auto& S) { S[2][12] = 0; }), false},
      {"number past the count", Changed([](auto& S) { S[2][12] = uint8_t(S.size() + 1); }), false},
      {"counts disagree", Changed([](auto& S) { S[3][13] = uint8_t(S.size() + 1); }), false},
      {"tag without its data", Changed([](auto& S) { S[0].resize(13); }), false},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    auto G = LoadFrom<TJpegGraphic>(JpegWith(C.Segments));
    EXPECT_EQ(G->Width(), kWidth);
    if (C.Kept) {
      ASSERT_TRUE(G->ColorDescription());
      EXPECT_EQ(G->ColorDescription()->Icc, Adobe);
    } else {
      EXPECT_FALSE(G->ColorDescription());
    }
  }
}

// What the PNG reader's colour chunks and its own gamma step make of the
// description: the converted copy must be the file's values through the
// file's colour space, whatever the step did to the decoded pixels.
TEST(ColorProfiles, PngDescriptionFollowsTheGammaStep) {
  REQUIRE_PROFILE(Adobe, "AdobeRGB1998.icc");
  const std::vector<uint8_t> Values = FileValues();
  // A linear-light file (gAMA 1.0) in sRGB's primaries, as lcms2 sees it.
  cmsToneCurve* Linear = cmsBuildGamma(nullptr, 1.0);
  cmsToneCurve* Curves[3] = {Linear, Linear, Linear};
  const cmsCIExyYTRIPLE Rec709 = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
  const cmsCIExyY D65 = {0.3127, 0.3290, 1};
  cmsHPROFILE LinearProfile = cmsCreateRGBProfile(&D65, &Rec709, Curves);
  cmsUInt32Number Size = 0;
  cmsSaveProfileToMem(LinearProfile, nullptr, &Size);
  std::vector<uint8_t> LinearBytes(Size);
  cmsSaveProfileToMem(LinearProfile, LinearBytes.data(), &Size);
  cmsCloseProfile(LinearProfile);
  cmsFreeToneCurve(Linear);

  struct TCase {
    const char* Name;
    TBytes File;
    bool Described;
    bool StoredAsInFile;
    const std::vector<uint8_t>* ShownAs; // the file's colour space; null: shown as decoded
  } Cases[] = {
      {"no colour chunk", PngWith({}), false, false, nullptr},
      {"sRGB chunk", PngWith({}, 0, true), false, true, nullptr},
      {"iCCP, no gAMA: the step ran", PngWith(Adobe), true, false, &Adobe},
      {"iCCP with gAMA 1/2.2: no step", PngWith(Adobe, 1 / 2.2), true, true, &Adobe},
      {"gAMA 1.0: linear light", PngWith({}, 1.0), true, false, &LinearBytes},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    auto G = LoadFrom<TPngGraphic>(C.File);
    EXPECT_EQ(bool(G->ColorDescription()), C.Described);
    EXPECT_EQ(BlockCentres(*G) == Values, C.StoredAsInFile);
    auto Copy = std::make_unique<TDibGraphic>();
    Copy->Assign(G.get());
    ConvertColors(*Copy, G->ColorDescription(), *SRGBColorSpace());
    const std::vector<uint8_t> Expected =
        C.ShownAs ? LcmsToSrgb(*C.ShownAs, Values) : BlockCentres(*G);
    EXPECT_LE(MaxDifference(BlockCentres(*Copy), Expected), 2);
  }
  // cHRM's primaries are carried over.
  TPngFixture F;
  F.Width = kWidth;
  F.Height = kHeight;
  F.Rows = RgbRows();
  F.Gamma = 1 / 2.2;
  F.Chromaticities = {0.3127, 0.3290, 0.68, 0.32, 0.265, 0.69, 0.15, 0.06};
  auto G = LoadFrom<TPngGraphic>(MakePng(F));
  ASSERT_TRUE(G->ColorDescription());
  EXPECT_NEAR(G->ColorDescription()->RedX, 0.68, 1e-4);
  EXPECT_NEAR(G->ColorDescription()->GreenY, 0.69, 1e-4);
  EXPECT_EQ(G->ColorDescription()->Transfer, TColorDescription::tfGamma);
  EXPECT_NEAR(G->ColorDescription()->Gamma, 2.2, 1e-3);
}

// imbrel-decode writes stored values, and with --to-srgb the converted
// colours; a damaged profile leaves them stored with one warning line.
TEST(ColorProfiles, DecodeToolConvertsToSrgbWhenAsked) {
  REQUIRE_PROFILE(Swapped, "SwappedRedAndGreen.icc");
  std::vector<uint8_t> Damaged = Swapped;
  Damaged.resize(Damaged.size() / 2);
  const auto Dir =
      std::filesystem::temp_directory_path() / ("imbrel-colour-" + std::to_string(::getpid()));
  std::filesystem::create_directories(Dir);
  struct TCase {
    const char* Name;
    TBytes File;
    const char* Options;
    uint8_t Red, Green;
    int WarningLines;
  } Cases[] = {
      {"stored", TiffWith(Swapped), "", 255, 0, 0},
      {"to sRGB", TiffWith(Swapped), "--to-srgb", 0, 255, 0},
      {"damaged profile", JpegWith(IccSegments(Damaged)), "--to-srgb", 255, 0, 1},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string In = (Dir / (std::string("picture.") +
                                   (C.File.rfind("\xFF\xD8", 0) == 0 ? "jpg" : "tif")))
                               .string();
    const std::string Out = (Dir / "out.ppm").string(), Err = (Dir / "err.txt").string();
    std::ofstream(In, std::ios::binary) << C.File;
    const std::string Command = std::string("'") + IMBREL_DECODE_TOOL + "' '" + In + "' -o '" +
                                Out + "' " + C.Options + " >/dev/null 2>'" + Err + "'";
    ASSERT_EQ(std::system(Command.c_str()), 0);
    const TBytes Ppm = ReadFileBytes(Out), Warnings = ReadFileBytes(Err);
    int W = 0, H = 0, Max = 0, Used = 0;
    ASSERT_EQ(std::sscanf(Ppm.c_str(), "P6 %d %d %d%n", &W, &H, &Max, &Used), 3);
    const uint8_t* First = reinterpret_cast<const uint8_t*>(Ppm.data()) + Used + 1 +
                           size_t(4 * W + 4) * 3; // the centre of the first (red) block
    EXPECT_NEAR(First[0], C.Red, 2);
    EXPECT_NEAR(First[1], C.Green, 2);
    // Every line but Qt's own note on its runtime folder.
    int Lines = 0;
    std::istringstream Text(Warnings);
    for (std::string Line; std::getline(Text, Line);)
      Lines += Line.rfind("QStandardPaths:", 0) != 0;
    EXPECT_EQ(Lines, C.WarningLines) << Warnings;
  }
  std::filesystem::remove_all(Dir);
}

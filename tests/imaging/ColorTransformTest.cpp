// Colour conversion of display copies: against lcms2's own transforms of the
// same colours, with the real profiles of colord-data (skipped when that
// folder is absent), and with damaged profiles, which must leave the pixels
// as stored and print one warning line per picture.

#include "imaging/ColorTransform.h"
#include "imaging/DibGraphic.h"
#include "platform/ByteReader.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string ColordFolder = "/usr/share/color/icc/colord/";

std::vector<uint8_t> ReadProfile(const std::string& Name) {
  std::ifstream F(ColordFolder + Name, std::ios::binary);
  return {std::istreambuf_iterator<char>(F), {}};
}

#define REQUIRE_PROFILE(Var, Name)                                                                 \
  const std::vector<uint8_t> Var = ReadProfile(Name);                                              \
  if (Var.empty()) GTEST_SKIP() << "colord-data's " << Name << " is not installed"

TColorDescriptionPtr IccDescription(const std::vector<uint8_t>& Bytes) {
  auto D = std::make_shared<TColorDescription>();
  D->Icc = Bytes;
  return D;
}

// A spread of colours as blue-green-red bytes: a 7-step cube plus greys.
std::vector<uint8_t> SampleColours() {
  std::vector<uint8_t> P;
  for (int B = 0; B < 256; B += 42)
    for (int G = 0; G < 256; G += 42)
      for (int R = 0; R < 256; R += 42)
        P.insert(P.end(), {uint8_t(B), uint8_t(G), uint8_t(R)});
  for (int V = 0; V < 256; V += 15)
    P.insert(P.end(), {uint8_t(V), uint8_t(V), uint8_t(V)});
  P.insert(P.end(), {255, 255, 255, 1, 2, 3, 200, 60, 40});
  return P;
}

// lcms2's own perceptual transform of Pixels (blue-green-red) between two
// profiles.
std::vector<uint8_t> LcmsTransform(cmsHPROFILE From, cmsHPROFILE To,
                                   const std::vector<uint8_t>& Pixels) {
  cmsHTRANSFORM T = cmsCreateTransform(From, TYPE_BGR_8, To, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
  EXPECT_NE(T, nullptr);
  std::vector<uint8_t> Out(Pixels.size());
  if (T) cmsDoTransform(T, Pixels.data(), Out.data(), cmsUInt32Number(Pixels.size() / 3));
  if (T) cmsDeleteTransform(T);
  return Out;
}

int MaxDifference(const std::vector<uint8_t>& A, const std::vector<uint8_t>& B) {
  int Max = 0;
  for (size_t I = 0; I < std::min(A.size(), B.size()); ++I)
    Max = std::max(Max, std::abs(int(A[I]) - int(B[I])));
  return A.size() == B.size() ? Max : 256;
}

// Largest per-channel difference of two 0x00RRGGBB colours.
int Distance(uint32_t A, uint32_t B) {
  int Max = 0;
  for (int Shift : {0, 8, 16})
    Max = std::max(Max, std::abs(int((A >> Shift) & 0xFF) - int((B >> Shift) & 0xFF)));
  return Max;
}

std::vector<uint8_t> SaveProfile(cmsHPROFILE P) {
  cmsUInt32Number Size = 0;
  cmsSaveProfileToMem(P, nullptr, &Size);
  std::vector<uint8_t> Bytes(Size);
  cmsSaveProfileToMem(P, Bytes.data(), &Size);
  return Bytes;
}

// A true-colour picture of the given blue-green-red pixels in one row.
std::unique_ptr<TDibGraphic> Picture(const std::vector<uint8_t>& Bgr) {
  auto G = std::make_unique<TDibGraphic>();
  G->NewImage(int(Bgr.size() / 3), 1, ifTrueColor, nullptr, 96, 96);
  std::memcpy(G->ScanLine(0), Bgr.data(), Bgr.size());
  return G;
}

std::vector<uint8_t> Row(const TDibGraphic& G) {
  return {G.ScanLine(0), G.ScanLine(0) + size_t(G.Width()) * 3};
}

class ColorTransform : public ::testing::Test {
protected:
  void SetUp() override { ClearColorCache(); }
  void TearDown() override { ClearColorCache(); }
};

} // namespace

// Our conversion of real profiles to sRGB and to a wide display space stays
// within 2 of lcms2's own transform, on both of our paths: the fixed-point
// tables of matrix-shaper pairs and the lcms2 transform they stand in for.
TEST_F(ColorTransform, MatchesLcmsForRealProfiles) {
  REQUIRE_PROFILE(Adobe, "AdobeRGB1998.icc");
  REQUIRE_PROFILE(ProPhoto, "ProPhotoRGB.icc");
  REQUIRE_PROFILE(Swapped, "SwappedRedAndGreen.icc");
  std::string Why;
  const TColorSpacePtr AdobeDisplay = ColorSpaceFromIcc(Adobe, Why);
  ASSERT_TRUE(AdobeDisplay) << Why;
  cmsHPROFILE SRGB = cmsCreate_sRGBProfile();
  cmsHPROFILE AdobeProfile = cmsOpenProfileFromMem(Adobe.data(), cmsUInt32Number(Adobe.size()));
  const std::vector<uint8_t> Colours = SampleColours();
  struct TCase {
    const char* Name;
    const std::vector<uint8_t>* From;
    bool ToAdobe;
  } Cases[] = {{"Adobe RGB to sRGB", &Adobe, false},
               {"ProPhoto to sRGB", &ProPhoto, false},
               {"swapped to sRGB", &Swapped, false},
               {"ProPhoto to Adobe RGB", &ProPhoto, true}};
  for (bool Tables : {true, false}) {
    for (const TCase& C : Cases) {
      SCOPED_TRACE(std::string(C.Name) + (Tables ? ", tables" : ", lcms2 transform"));
      ClearColorCache(Tables);
      cmsHPROFILE From = cmsOpenProfileFromMem(C.From->data(), cmsUInt32Number(C.From->size()));
      const std::vector<uint8_t> Expected =
          LcmsTransform(From, C.ToAdobe ? AdobeProfile : SRGB, Colours);
      cmsCloseProfile(From);
      auto G = Picture(Colours);
      const TColorResult R =
          ConvertColors(*G, IccDescription(*C.From), C.ToAdobe ? *AdobeDisplay : *SRGBColorSpace());
      EXPECT_EQ(R, crConverted);
      EXPECT_LE(MaxDifference(Row(*G), Expected), 2);
    }
  }
  cmsCloseProfile(AdobeProfile);
  cmsCloseProfile(SRGB);
}

// The figure the screen showed wrong: (200, 60, 40) stored in Adobe RGB.
TEST_F(ColorTransform, AdobeRgbColourLooksAsInOtherPrograms) {
  REQUIRE_PROFILE(Adobe, "AdobeRGB1998.icc");
  std::vector<uint8_t> Pixel = {40, 60, 200};
  ASSERT_EQ(ConvertBgrPixels(Pixel.data(), 1, IccDescription(Adobe), *SRGBColorSpace()),
            crConverted);
  EXPECT_NEAR(Pixel[2], 231, 2);
  EXPECT_NEAR(Pixel[1], 57, 2);
  EXPECT_NEAR(Pixel[0], 34, 2);
}

TEST_F(ColorTransform, SwappedProfileTurnsStoredRedIntoGreen) {
  REQUIRE_PROFILE(Swapped, "SwappedRedAndGreen.icc");
  auto G = Picture({0, 0, 255, 0, 255, 0}); // red, green
  ASSERT_EQ(ConvertColors(*G, IccDescription(Swapped), *SRGBColorSpace()), crConverted);
  EXPECT_LE(Distance(G->GetPixelColor(0, 0), MakeRgb(0, 255, 0)), 2);
  EXPECT_LE(Distance(G->GetPixelColor(1, 0), MakeRgb(255, 0, 0)), 2);
}

// Coded descriptions (PNG's chunks, HEIF's nclx) become profiles of their
// own: each against lcms2 with a profile built from the same numbers.
TEST_F(ColorTransform, CodedDescriptionsMatchLcms) {
  const std::vector<uint8_t> Colours = SampleColours();
  cmsHPROFILE SRGB = cmsCreate_sRGBProfile();
  struct TCase {
    const char* Name;
    TColorDescription::TTransfer Transfer;
    double Gamma;
    cmsToneCurve* Curve;
    bool WidePrimaries;
  };
  const cmsFloat64Number Bt709[5] = {1.0 / 0.45, 1.0 / 1.099, 0.099 / 1.099, 1.0 / 4.5, 0.081};
  TCase Cases[] = {
      {"gamma 1.8, wide primaries", TColorDescription::tfGamma, 1.8, cmsBuildGamma(nullptr, 1.8),
       true},
      {"linear", TColorDescription::tfLinear, 0, cmsBuildGamma(nullptr, 1.0), false},
      {"BT.709 curve", TColorDescription::tfBT709, 0,
       cmsBuildParametricToneCurve(nullptr, 4, Bt709), false},
  };
  for (TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    auto D = std::make_shared<TColorDescription>();
    D->Transfer = C.Transfer;
    D->Gamma = C.Gamma;
    if (C.WidePrimaries) { // Display P3's
      D->RedX = 0.680, D->RedY = 0.320, D->GreenX = 0.265, D->GreenY = 0.690;
      D->BlueX = 0.150, D->BlueY = 0.060;
    }
    const cmsCIExyY White = {D->WhiteX, D->WhiteY, 1};
    const cmsCIExyYTRIPLE Primaries = {
        {D->RedX, D->RedY, 1}, {D->GreenX, D->GreenY, 1}, {D->BlueX, D->BlueY, 1}};
    cmsToneCurve* Curves[3] = {C.Curve, C.Curve, C.Curve};
    cmsHPROFILE From = cmsCreateRGBProfile(&White, &Primaries, Curves);
    const std::vector<uint8_t> Expected = LcmsTransform(From, SRGB, Colours);
    cmsCloseProfile(From);
    cmsFreeToneCurve(C.Curve);
    std::vector<uint8_t> Mine = Colours;
    EXPECT_EQ(ConvertBgrPixels(Mine.data(), Mine.size() / 3, D, *SRGBColorSpace()), crConverted);
    EXPECT_LE(MaxDifference(Mine, Expected), 2);
  }
  cmsCloseProfile(SRGB);
}

// The PNG reader's gamma step stored v as v ^ Reencode: the conversion
// undoes it, so the result is the file's own values through its profile.
TEST_F(ColorTransform, ReencodedValuesAreUndoneFirst) {
  REQUIRE_PROFILE(Adobe, "AdobeRGB1998.icc");
  const std::vector<uint8_t> Stored = SampleColours();
  const double Exponent = 1 / 1.1;
  std::vector<uint8_t> Reencoded = Stored;
  for (uint8_t& V : Reencoded)
    V = uint8_t(std::lround(255 * std::pow(V / 255.0, Exponent)));
  cmsHPROFILE SRGB = cmsCreate_sRGBProfile();
  cmsHPROFILE From = cmsOpenProfileFromMem(Adobe.data(), cmsUInt32Number(Adobe.size()));
  const std::vector<uint8_t> Expected = LcmsTransform(From, SRGB, Stored);
  cmsCloseProfile(From);
  cmsCloseProfile(SRGB);
  auto D = std::make_shared<TColorDescription>();
  D->Icc = Adobe;
  D->Reencode = Exponent;
  ASSERT_EQ(ConvertBgrPixels(Reencoded.data(), Reencoded.size() / 3, D, *SRGBColorSpace()),
            crConverted);
  EXPECT_LE(MaxDifference(Reencoded, Expected), 2);
}

// sRGB to sRGB costs nothing and changes nothing, whether the picture has no
// description, a coded sRGB one or colord's sRGB profile; a picture whose
// profile is the display's own is left alone too.
TEST_F(ColorTransform, SameSpaceIsLeftAlone) {
  REQUIRE_PROFILE(SRGBBytes, "sRGB.icc");
  REQUIRE_PROFILE(Adobe, "AdobeRGB1998.icc");
  std::string Why;
  const TColorSpacePtr AdobeDisplay = ColorSpaceFromIcc(Adobe, Why);
  ASSERT_TRUE(AdobeDisplay) << Why;
  const std::vector<uint8_t> Colours = SampleColours();
  struct TCase {
    const char* Name;
    TColorDescriptionPtr From;
    const TColorSpace* To;
  } Cases[] = {{"no description", nullptr, SRGBColorSpace().get()},
               {"coded sRGB", std::make_shared<TColorDescription>(), SRGBColorSpace().get()},
               {"sRGB profile", IccDescription(SRGBBytes), SRGBColorSpace().get()},
               {"the display's own profile", IccDescription(Adobe), AdobeDisplay.get()}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    auto G = Picture(Colours);
    EXPECT_EQ(ConvertColors(*G, C.From, *C.To), crUnchanged);
    EXPECT_EQ(Row(*G), Colours);
  }
}

// Palette pictures keep their indices; the palette is converted. A grey
// profile converts a grey picture's palette as lcms2 does.
TEST_F(ColorTransform, PalettesAreConverted) {
  REQUIRE_PROFILE(Swapped, "SwappedRedAndGreen.icc");
  TLogPalette Pal{};
  Pal.palVersion = 0x300;
  Pal.palNumEntries = 16;
  for (int I = 0; I < 16; ++I)
    Pal.palPalEntry[I] = TPaletteEntry{uint8_t(I == 1 ? 255 : 17 * I), 0, 0, 0};
  TDibGraphic G;
  G.NewImage(2, 1, ifColor16, &Pal, 96, 96);
  G.SetPixelIndex(0, 0, 1);
  G.SetPixelIndex(1, 0, 15);
  ASSERT_EQ(ConvertColors(G, IccDescription(Swapped), *SRGBColorSpace()), crConverted);
  EXPECT_EQ(G.ImageFormat(), ifColor16);
  EXPECT_EQ(G.GetPixelIndex(0, 0), 1);
  EXPECT_LE(Distance(G.GetPixelColor(0, 0), MakeRgb(0, 255, 0)), 2);

  cmsToneCurve* Curve = cmsBuildGamma(nullptr, 1.8);
  cmsHPROFILE GrayProfile = cmsCreateGrayProfile(cmsD50_xyY(), Curve);
  const std::vector<uint8_t> GrayBytes = SaveProfile(GrayProfile);
  cmsHPROFILE SRGB = cmsCreate_sRGBProfile();
  cmsHTRANSFORM T =
      cmsCreateTransform(GrayProfile, TYPE_GRAY_8, SRGB, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
  ASSERT_NE(T, nullptr);
  TDibGraphic Grey;
  Grey.NewImage(256, 1, ifGray256, nullptr, 96, 96);
  for (int X = 0; X < 256; ++X)
    Grey.SetPixelIndex(X, 0, X);
  ASSERT_EQ(ConvertColors(Grey, IccDescription(GrayBytes), *SRGBColorSpace()), crConverted);
  int Worst = 0;
  for (int X = 0; X < 256; ++X) {
    const uint8_t In = uint8_t(X);
    uint8_t Out[3];
    cmsDoTransform(T, &In, Out, 1);
    const uint32_t C = Grey.GetPixelColor(X, 0);
    Worst = std::max({Worst, std::abs(int((C >> 16) & 0xFF) - Out[0]),
                      std::abs(int((C >> 8) & 0xFF) - Out[1]), std::abs(int(C & 0xFF) - Out[2])});
  }
  EXPECT_LE(Worst, 2);
  // A grey profile says nothing about a colour picture's pixels.
  auto Colour = Picture({0, 0, 255});
  testing::internal::CaptureStderr();
  EXPECT_EQ(ConvertColors(*Colour, IccDescription(GrayBytes), *SRGBColorSpace()), crRefused);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(Colour->GetPixelColor(0, 0), MakeRgb(255, 0, 0));
  cmsDeleteTransform(T);
  cmsCloseProfile(SRGB);
  cmsCloseProfile(GrayProfile);
  cmsFreeToneCurve(Curve);
}

// Damaged profiles, each refused by our own check before lcms2 sees it, with
// the reason; the picture keeps its stored values.
TEST_F(ColorTransform, DamagedProfilesAreRefusedWithReason) {
  REQUIRE_PROFILE(Adobe, "AdobeRGB1998.icc");
  auto With = [&](auto Change) {
    std::vector<uint8_t> P = Adobe;
    Change(P);
    return P;
  };
  auto Put32 = [](std::vector<uint8_t>& P, size_t At, uint32_t V) {
    P[At] = uint8_t(V >> 24), P[At + 1] = uint8_t(V >> 16), P[At + 2] = uint8_t(V >> 8);
    P[At + 3] = uint8_t(V);
  };
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
    const char* Reason;
  } Cases[] = {
      {"truncated header", std::vector<uint8_t>(Adobe.begin(), Adobe.begin() + 100), "truncated"},
      {"cut short", std::vector<uint8_t>(Adobe.begin(), Adobe.end() - 10), "only"},
      {"size field larger than the data",
       With([&](auto& P) { Put32(P, 0, uint32_t(P.size() + 1)); }), "only"},
      {"a 100 MB claim", With([&](auto& P) { Put32(P, 0, 100u << 20); }), "more than"},
      {"device link class", With([&](auto& P) { Put32(P, 12, 0x6C696E6B); }),
       "unsupported class 'link'"},
      {"CMYK colour space", With([&](auto& P) { Put32(P, 16, 0x434D594B); }),
       "unsupported colour space"},
      {"no signature", With([&](auto& P) { Put32(P, 36, 0); }), "signature"},
      {"tag outside the profile", With([&](auto& P) { Put32(P, 132 + 4, uint32_t(P.size())); }),
       "outside the profile"},
      {"tag length past the end", With([&](auto& P) { Put32(P, 132 + 8, 0xFFFFFFF0u); }),
       "outside the profile"},
      {"tag count past the end", With([&](auto& P) { Put32(P, 128, 0x10000000u); }), "tag count"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    std::string Why;
    EXPECT_FALSE(CheckIccProfile(C.Bytes.data(), C.Bytes.size(), Why));
    EXPECT_NE(Why.find(C.Reason), std::string::npos) << Why;
    auto G = Picture({40, 60, 200});
    testing::internal::CaptureStderr();
    EXPECT_EQ(ConvertColors(*G, IccDescription(C.Bytes), *SRGBColorSpace()), crRefused);
    const std::string Err = testing::internal::GetCapturedStderr();
    EXPECT_NE(Err.find(C.Reason), std::string::npos) << Err;
    EXPECT_EQ(G->GetPixelColor(0, 0), MakeRgb(200, 60, 40));
  }
  std::string Why;
  EXPECT_TRUE(CheckIccProfile(Adobe.data(), Adobe.size(), Why)) << Why;
}

// One warning line per picture: the same description converted again (the
// view's layout after the worker's, a zoom) says nothing more; another
// picture with the same damaged profile gets its own line. lcms2's own
// errors never reach the console.
TEST_F(ColorTransform, OneWarningLinePerPicture) {
  REQUIRE_PROFILE(Adobe, "AdobeRGB1998.icc");
  std::vector<uint8_t> Bad = Adobe;
  Bad[12] = 'x'; // class 'xntr'
  const TColorDescriptionPtr First = IccDescription(Bad), Second = IccDescription(Bad);
  // Passes our check but not lcms2: a tag type lcms2 does not know where the
  // colorants are expected.
  std::vector<uint8_t> LcmsBad = Adobe;
  TByteReader Tags(Adobe.data(), Adobe.size());
  Tags.Seek(128);
  const uint32_t TagCount = Tags.Be32();
  for (uint32_t I = 0; I < TagCount; ++I) {
    Tags.Skip(4); // signature
    const uint32_t Offset = Tags.Be32();
    Tags.Skip(4); // size
    ASSERT_FALSE(Tags.Failed());
    ASSERT_LE(size_t(Offset) + 4, LcmsBad.size());
    std::memset(&LcmsBad[Offset], 'Z', 4);
  }
  const TColorDescriptionPtr Third = IccDescription(LcmsBad);
  testing::internal::CaptureStderr();
  for (int I = 0; I < 3; ++I) {
    auto G = Picture({1, 2, 3});
    ConvertColors(*G, First, *SRGBColorSpace());
    ConvertColors(*G, Second, *SRGBColorSpace());
    EXPECT_EQ(ConvertColors(*G, Third, *SRGBColorSpace()), crRefused);
    EXPECT_EQ(Row(*G), (std::vector<uint8_t>{1, 2, 3}));
  }
  const std::string Err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(Err.begin(), Err.end(), '\n'), 3) << Err;
  EXPECT_EQ(Err.rfind("Imbrel: colour profile ignored", 0), 0u) << Err;
}

TEST_F(ColorTransform, DisplayProfilesMustBeRgb) {
  cmsToneCurve* Curve = cmsBuildGamma(nullptr, 2.2);
  cmsHPROFILE GrayProfile = cmsCreateGrayProfile(cmsD50_xyY(), Curve);
  std::string Why;
  EXPECT_FALSE(ColorSpaceFromIcc(SaveProfile(GrayProfile), Why));
  EXPECT_NE(Why.find("not an RGB profile"), std::string::npos) << Why;
  EXPECT_FALSE(ColorSpaceFromIcc({1, 2, 3}, Why));
  cmsCloseProfile(GrayProfile);
  cmsFreeToneCurve(Curve);
}

// The decode-ahead worker and the view convert at the same time through the
// shared cache: both get lcms2's answer.
TEST_F(ColorTransform, ConvertsFromSeveralThreads) {
  REQUIRE_PROFILE(Adobe, "AdobeRGB1998.icc");
  REQUIRE_PROFILE(ProPhoto, "ProPhotoRGB.icc");
  const std::vector<uint8_t> Colours = SampleColours();
  std::vector<uint8_t> Expected[2];
  for (int I = 0; I < 2; ++I) {
    Expected[I] = Colours;
    ConvertBgrPixels(Expected[I].data(), Colours.size() / 3, IccDescription(I ? ProPhoto : Adobe),
                     *SRGBColorSpace());
  }
  std::atomic<int> Wrong{0};
  std::vector<std::thread> Threads;
  for (int T = 0; T < 4; ++T)
    Threads.emplace_back([&, T] {
      for (int Round = 0; Round < 40; ++Round) {
        if (Round % 10 == T) ClearColorCache();
        const int Which = (Round + T) % 2;
        std::vector<uint8_t> Mine = Colours;
        ConvertBgrPixels(Mine.data(), Mine.size() / 3, IccDescription(Which ? ProPhoto : Adobe),
                         *SRGBColorSpace());
        if (Mine != Expected[Which]) ++Wrong;
      }
    });
  for (std::thread& T : Threads)
    T.join();
  EXPECT_EQ(Wrong.load(), 0);
}

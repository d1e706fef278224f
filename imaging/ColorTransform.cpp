#include "imaging/ColorTransform.h"

#include "platform/ByteReader.h"

#include <lcms2.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>

namespace {

// ---------------------------------------------------------------------------
// lcms2 context: one for the whole program, with an error handler that keeps
// the last message of the calling thread instead of printing it.

thread_local std::string tLastLcmsError;

void KeepLcmsError(cmsContext, cmsUInt32Number, const char* Text) {
  tLastLcmsError = Text ? Text : "";
}

cmsContext Lcms() {
  static const cmsContext Context = [] {
    cmsSetLogErrorHandler(KeepLcmsError); // the default context, should anything reach it
    cmsContext C = cmsCreateContext(nullptr, nullptr);
    cmsSetLogErrorHandlerTHR(C, KeepLcmsError);
    return C;
  }();
  return Context;
}

std::string LcmsReason(const char* What) {
  std::string Why = What;
  if (!tLastLcmsError.empty()) Why += " (" + tLastLcmsError + ")";
  tLastLcmsError.clear();
  return Why;
}

std::string Signature(uint32_t Sig) {
  std::string S;
  for (int Shift = 24; Shift >= 0; Shift -= 8) {
    const char C = char((Sig >> Shift) & 0xFF);
    S += (C >= 0x20 && C < 0x7F) ? C : '?';
  }
  return S;
}

// ICC header fields by their offsets.
enum : size_t {
  IccSizeOffset = 0,
  IccClassOffset = 12,
  IccColorSpaceOffset = 16,
  IccPcsOffset = 20,
  IccMagicOffset = 36,
  IccHeaderSize = 128, // the tag count follows, then 12 bytes per tag
};
constexpr uint32_t IccMagic = 0x61637370; // 'acsp'
constexpr uint32_t MaxIccTags = 1024;

} // namespace

bool CheckIccProfile(const uint8_t* Data, size_t Size, std::string& Why) {
  if (Data == nullptr || Size < IccHeaderSize + 4) {
    Why = "ICC profile: truncated (" + std::to_string(Size) + " bytes)";
    return false;
  }
  TByteReader R(Data, Size);
  const uint32_t Declared = R.Be32();
  if (Declared > MaxIccProfileSize) {
    Why = "ICC profile: claims " + std::to_string(Declared) + " bytes, more than the " +
          std::to_string(MaxIccProfileSize >> 20) + " MB accepted";
    return false;
  }
  if (Declared > Size) {
    Why = "ICC profile: its size field claims " + std::to_string(Declared) + " bytes, only " +
          std::to_string(Size) + " are there";
    return false;
  }
  if (Declared < IccHeaderSize + 4) {
    Why = "ICC profile: size field of " + std::to_string(Declared) + " bytes is too small";
    return false;
  }
  // From here on only the profile's own bytes count.
  TByteReader P(Data, Declared);
  P.Seek(IccClassOffset);
  const uint32_t Class = P.Be32();
  P.Seek(IccColorSpaceOffset);
  const uint32_t Space = P.Be32();
  P.Seek(IccPcsOffset);
  const uint32_t Pcs = P.Be32();
  P.Seek(IccMagicOffset);
  const uint32_t Magic = P.Be32();
  P.Seek(IccHeaderSize);
  const uint32_t TagCount = P.Be32();
  if (P.Failed() || Magic != IccMagic) {
    Why = "ICC profile: no 'acsp' signature";
    return false;
  }
  if (Class != cmsSigInputClass && Class != cmsSigDisplayClass && Class != cmsSigOutputClass &&
      Class != cmsSigColorSpaceClass) {
    Why = "ICC profile: unsupported class '" + Signature(Class) + "'";
    return false;
  }
  if (Space != cmsSigRgbData && Space != cmsSigGrayData) {
    Why = "ICC profile: unsupported colour space '" + Signature(Space) + "'";
    return false;
  }
  if (Pcs != cmsSigXYZData && Pcs != cmsSigLabData) {
    Why = "ICC profile: unsupported connection space '" + Signature(Pcs) + "'";
    return false;
  }
  if (TagCount == 0 || TagCount > MaxIccTags || TagCount > (Declared - IccHeaderSize - 4) / 12) {
    Why = "ICC profile: tag count " + std::to_string(TagCount) + " does not fit the profile";
    return false;
  }
  for (uint32_t I = 0; I < TagCount; ++I) {
    const uint32_t Sig = P.Be32();
    const uint32_t Offset = P.Be32();
    const uint32_t Length = P.Be32();
    if (P.Failed()) {
      Why = "ICC profile: tag table truncated";
      return false;
    }
    if (Offset < IccHeaderSize + 4 || uint64_t(Offset) + Length > Declared || Length < 8) {
      Why = "ICC profile: tag '" + Signature(Sig) + "' lies outside the profile";
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Colour spaces

class TColorSpace {
public:
  TColorSpace(std::string Key, cmsHPROFILE Profile) : Key(std::move(Key)), Profile(Profile) {
    Hash = std::hash<std::string>()(this->Key);
    Gray = cmsGetColorSpace(Profile) == cmsSigGrayData;
  }
  ~TColorSpace() { cmsCloseProfile(Profile); }
  TColorSpace(const TColorSpace&) = delete;
  TColorSpace& operator=(const TColorSpace&) = delete;

  std::string Key; // what tells spaces apart: the ICC bytes or the coded fields
  size_t Hash = 0;
  cmsHPROFILE Profile;
  bool Gray = false;
};

namespace {

const std::string SRGBKey = "srgb";

// Coded transfer curves as lcms2 tone curves (caller frees).
cmsToneCurve* TransferCurve(const TColorDescription& D) {
  cmsContext C = Lcms();
  switch (D.Transfer) {
  case TColorDescription::tfSRGB: {
    const cmsFloat64Number P[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(C, 4, P);
  }
  case TColorDescription::tfGamma: {
    const double G = std::isfinite(D.Gamma) ? std::clamp(D.Gamma, 0.1, 10.0) : 2.2;
    return cmsBuildGamma(C, G);
  }
  case TColorDescription::tfLinear:
    return cmsBuildGamma(C, 1.0);
  case TColorDescription::tfBT709: {
    const cmsFloat64Number P[5] = {1.0 / 0.45, 1.0 / 1.099, 0.099 / 1.099, 1.0 / 4.5, 0.081};
    return cmsBuildParametricToneCurve(C, 4, P);
  }
  case TColorDescription::tfPQ:
  case TColorDescription::tfHLG: {
    // HDR signals on an SDR display: the signal is mapped to linear light
    // with the reference white (203 cd/m2 for PQ, signal 0.75 for HLG) at
    // 1.0; brighter parts clip.
    std::vector<cmsFloat32Number> T(4096);
    for (size_t I = 0; I < T.size(); ++I) {
      const double E = double(I) / double(T.size() - 1);
      double L = 0;
      if (D.Transfer == TColorDescription::tfPQ) {
        const double M1 = 2610.0 / 16384, M2 = 2523.0 / 4096 * 128, C1 = 3424.0 / 4096,
                     C2 = 2413.0 / 4096 * 32, C3 = 2392.0 / 4096 * 32;
        const double Ep = std::pow(E, 1 / M2);
        const double Nits = 10000 * std::pow(std::max(Ep - C1, 0.0) / (C2 - C3 * Ep), 1 / M1);
        L = Nits / 203.0;
      } else {
        const double A = 0.17883277, B = 1 - 4 * A, Cc = 0.5 - A * std::log(4 * A);
        const double Scene = E <= 0.5 ? E * E / 3 : (std::exp((E - Cc) / A) + B) / 12;
        const double Ref = (std::exp((0.75 - Cc) / A) + B) / 12;
        L = Scene / Ref;
      }
      T[I] = cmsFloat32Number(std::clamp(L, 0.0, 1.0));
    }
    return cmsBuildTabulatedToneCurveFloat(C, cmsUInt32Number(T.size()), T.data());
  }
  }
  return cmsBuildGamma(C, 2.2);
}

bool IsPlainSRGB(const TColorDescription& D) {
  const TColorDescription S;
  return D.Icc.empty() && D.Transfer == TColorDescription::tfSRGB && D.Reencode == 1.0 &&
         D.WhiteX == S.WhiteX && D.WhiteY == S.WhiteY && D.RedX == S.RedX && D.RedY == S.RedY &&
         D.GreenX == S.GreenX && D.GreenY == S.GreenY && D.BlueX == S.BlueX &&
         D.BlueY == S.BlueY;
}

// The key naming the space of a description (without the re-encoding, which
// the converter applies on its own).
std::string SpaceKey(const TColorDescription* D) {
  if (D == nullptr) return SRGBKey;
  if (!D->Icc.empty()) {
    std::string K = "icc:";
    K.append(reinterpret_cast<const char*>(D->Icc.data()), D->Icc.size());
    return K;
  }
  TColorDescription Plain = *D;
  Plain.Reencode = 1.0;
  if (IsPlainSRGB(Plain)) return SRGBKey;
  char Text[256];
  std::snprintf(Text, sizeof Text, "par:%.6f,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f,%d,%.6f", D->WhiteX,
                D->WhiteY, D->RedX, D->RedY, D->GreenX, D->GreenY, D->BlueX, D->BlueY,
                int(D->Transfer), D->Transfer == TColorDescription::tfGamma ? D->Gamma : 0.0);
  return Text;
}

bool Chromaticity(double X, double Y) {
  return std::isfinite(X) && std::isfinite(Y) && X > 0 && X < 1 && Y > 0 && Y < 1 && X + Y <= 1.0;
}

// Opens the space a description names; null with Why when it cannot be used.
TColorSpacePtr OpenSpace(const TColorDescription& D, std::string Key, std::string& Why) {
  cmsContext C = Lcms();
  tLastLcmsError.clear();
  cmsHPROFILE Profile = nullptr;
  if (!D.Icc.empty()) {
    if (!CheckIccProfile(D.Icc.data(), D.Icc.size(), Why)) return nullptr;
    Profile = cmsOpenProfileFromMemTHR(C, D.Icc.data(), cmsUInt32Number(D.Icc.size()));
    if (Profile == nullptr) {
      Why = LcmsReason("ICC profile: lcms2 cannot open it");
      return nullptr;
    }
  } else {
    for (const auto& [X, Y] : {std::pair{D.WhiteX, D.WhiteY}, std::pair{D.RedX, D.RedY},
                              std::pair{D.GreenX, D.GreenY}, std::pair{D.BlueX, D.BlueY}})
      if (!Chromaticity(X, Y)) {
        Why = "colour description: chromaticities out of range";
        return nullptr;
      }
    const cmsCIExyY White = {D.WhiteX, D.WhiteY, 1.0};
    const cmsCIExyYTRIPLE Primaries = {
        {D.RedX, D.RedY, 1.0}, {D.GreenX, D.GreenY, 1.0}, {D.BlueX, D.BlueY, 1.0}};
    cmsToneCurve* Curve = TransferCurve(D);
    cmsToneCurve* Curves[3] = {Curve, Curve, Curve};
    Profile = Curve ? cmsCreateRGBProfileTHR(C, &White, &Primaries, Curves) : nullptr;
    if (Curve) cmsFreeToneCurve(Curve);
    if (Profile == nullptr) {
      Why = LcmsReason("colour description: lcms2 cannot build a profile from it");
      return nullptr;
    }
  }
  const cmsColorSpaceSignature Space = cmsGetColorSpace(Profile);
  if (Space != cmsSigRgbData && Space != cmsSigGrayData) {
    cmsCloseProfile(Profile);
    Why = "ICC profile: unsupported colour space";
    return nullptr;
  }
  return std::make_shared<TColorSpace>(std::move(Key), Profile);
}

// ---------------------------------------------------------------------------
// Converters

// Matrix-shaper to matrix-shaper in fixed point, the way lcms2 optimises
// such 8-bit transforms: each input value to linear light (1.14 fixed
// point), a 3 x 3 matrix, then linear light to output values through a table
// of 16385 entries. The input tables hold each value's contribution to the
// three outputs (a column of the matrix times the linear value), so a pixel
// costs three table reads, two additions and three output reads.
struct TShaperTables {
  alignas(16) int32_t In[3][256][4] = {}; // [input red, green, blue][value][output r, g, b, 0]
  std::array<std::array<uint8_t, 16385>, 3> Out{};
  const uint8_t* OutOf[3] = {}; // the output table of red, green and blue (shared when equal)

  void Bgr(uint8_t* P, size_t Count) const {
    const uint8_t *OR = OutOf[0], *OG = OutOf[1], *OB = OutOf[2];
#if defined(__SSE2__)
    const __m128i Zero = _mm_setzero_si128(), Top = _mm_set1_epi16(16384);
    for (size_t I = 0; I < Count; ++I, P += 3) {
      __m128i S = _mm_add_epi32(
          _mm_add_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(In[0][P[2]])),
                        _mm_load_si128(reinterpret_cast<const __m128i*>(In[1][P[1]]))),
          _mm_load_si128(reinterpret_cast<const __m128i*>(In[2][P[0]])));
      S = _mm_srai_epi32(S, 14);
      __m128i Q = _mm_packs_epi32(S, S);
      Q = _mm_min_epi16(_mm_max_epi16(Q, Zero), Top);
      const uint64_t Lanes = uint64_t(_mm_cvtsi128_si64(Q));
      P[2] = OR[Lanes & 0xFFFF];
      P[1] = OG[(Lanes >> 16) & 0xFFFF];
      P[0] = OB[(Lanes >> 32) & 0xFFFF];
    }
#else
    for (size_t I = 0; I < Count; ++I, P += 3) {
      const int32_t *R = In[0][P[2]], *G = In[1][P[1]], *B = In[2][P[0]];
      P[2] = OR[std::clamp((R[0] + G[0] + B[0]) >> 14, 0, 16384)];
      P[1] = OG[std::clamp((R[1] + G[1] + B[1]) >> 14, 0, 16384)];
      P[0] = OB[std::clamp((R[2] + G[2] + B[2]) >> 14, 0, 16384)];
    }
#endif
  }
};

class TConverter {
public:
  ~TConverter() {
    if (FRgb) cmsDeleteTransform(FRgb);
    if (FPalette) cmsDeleteTransform(FPalette);
  }

  bool Identity = false;
  std::unique_ptr<TShaperTables> Shaper;
  cmsHTRANSFORM FRgb = nullptr;     // BGR_8 to BGR_8, colour sources without shaper tables
  cmsHTRANSFORM FPalette = nullptr; // RGB_8 or GRAY_8 to RGB_8, for palettes
  bool GraySource = false;
  std::array<uint8_t, 256> Undo{}; // undoes the reader's re-encoding
  bool Reencoded = false;

  // Count blue-green-red pixels in place.
  void Bgr(uint8_t* P, size_t Count) const {
    // The shaper tables undo the re-encoding themselves, without rounding
    // to 8 bits in between.
    if (Reencoded && !Shaper)
      for (size_t I = 0; I < Count * 3; ++I)
        P[I] = Undo[P[I]];
    if (Shaper) {
      Shaper->Bgr(P, Count);
    } else if (FRgb) {
      cmsDoTransform(FRgb, P, P, cmsUInt32Number(Count));
    }
  }

  // Palette entries in place.
  void Palette(TLogPalette& Pal) const {
    const int N = std::min<int>(Pal.palNumEntries, 256);
    std::vector<uint8_t> Rgb(size_t(N) * 3);
    for (int I = 0; I < N; ++I) {
      const TPaletteEntry& E = Pal.palPalEntry[I];
      Rgb[size_t(I) * 3] = E.peBlue;
      Rgb[size_t(I) * 3 + 1] = E.peGreen;
      Rgb[size_t(I) * 3 + 2] = E.peRed;
    }
    if (GraySource) {
      std::vector<uint8_t> Gray(static_cast<size_t>(N)), Out(static_cast<size_t>(N) * 3);
      for (int I = 0; I < N; ++I)
        Gray[size_t(I)] = Reencoded ? Undo[Pal.palPalEntry[I].peRed] : Pal.palPalEntry[I].peRed;
      cmsDoTransform(FPalette, Gray.data(), Out.data(), cmsUInt32Number(N));
      for (int I = 0; I < N; ++I) {
        Pal.palPalEntry[I].peRed = Out[size_t(I) * 3];
        Pal.palPalEntry[I].peGreen = Out[size_t(I) * 3 + 1];
        Pal.palPalEntry[I].peBlue = Out[size_t(I) * 3 + 2];
      }
      return;
    }
    Bgr(Rgb.data(), size_t(N));
    for (int I = 0; I < N; ++I) {
      Pal.palPalEntry[I].peBlue = Rgb[size_t(I) * 3];
      Pal.palPalEntry[I].peGreen = Rgb[size_t(I) * 3 + 1];
      Pal.palPalEntry[I].peRed = Rgb[size_t(I) * 3 + 2];
    }
  }
};

using TConverterPtr = std::shared_ptr<const TConverter>;

std::atomic<bool> gShaperTables{true};

bool Invert3(const double M[9], double Out[9]) {
  const double Det = M[0] * (M[4] * M[8] - M[5] * M[7]) - M[1] * (M[3] * M[8] - M[5] * M[6]) +
                     M[2] * (M[3] * M[7] - M[4] * M[6]);
  if (!std::isfinite(Det) || std::fabs(Det) < 1e-9) return false;
  Out[0] = (M[4] * M[8] - M[5] * M[7]) / Det;
  Out[1] = (M[2] * M[7] - M[1] * M[8]) / Det;
  Out[2] = (M[1] * M[5] - M[2] * M[4]) / Det;
  Out[3] = (M[5] * M[6] - M[3] * M[8]) / Det;
  Out[4] = (M[0] * M[8] - M[2] * M[6]) / Det;
  Out[5] = (M[2] * M[3] - M[0] * M[5]) / Det;
  Out[6] = (M[3] * M[7] - M[4] * M[6]) / Det;
  Out[7] = (M[1] * M[6] - M[0] * M[7]) / Det;
  Out[8] = (M[0] * M[4] - M[1] * M[3]) / Det;
  return true;
}

// The colorant matrix (linear RGB to XYZ, columns red, green, blue) and the
// three curves of an RGB matrix-shaper profile whose perceptual intent is
// that matrix (no lookup tables for it).
bool ShaperParts(cmsHPROFILE P, bool AsInput, double M[9], cmsToneCurve* Curves[3]) {
  if (cmsGetColorSpace(P) != cmsSigRgbData || !cmsIsMatrixShaper(P)) return false;
  if (cmsIsTag(P, AsInput ? cmsSigAToB0Tag : cmsSigBToA0Tag) ||
      cmsIsTag(P, AsInput ? cmsSigDToB0Tag : cmsSigBToD0Tag))
    return false;
  const cmsTagSignature Colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                        cmsSigBlueColorantTag};
  const cmsTagSignature Trcs[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
  for (int I = 0; I < 3; ++I) {
    const auto* XYZ = static_cast<const cmsCIEXYZ*>(cmsReadTag(P, Colorants[I]));
    Curves[I] = static_cast<cmsToneCurve*>(cmsReadTag(P, Trcs[I]));
    if (XYZ == nullptr || Curves[I] == nullptr) return false;
    M[0 + I] = XYZ->X;
    M[3 + I] = XYZ->Y;
    M[6 + I] = XYZ->Z;
  }
  for (int I = 0; I < 9; ++I)
    if (!std::isfinite(M[I]) || std::fabs(M[I]) > 100) return false;
  return true;
}

std::unique_ptr<TShaperTables> BuildShaper(cmsHPROFILE Src, double Reencode, cmsHPROFILE Dst) {
  double MS[9], MD[9], MDInv[9];
  cmsToneCurve *In[3], *OutCurves[3];
  if (!ShaperParts(Src, true, MS, In) || !ShaperParts(Dst, false, MD, OutCurves)) return nullptr;
  if (!Invert3(MD, MDInv)) return nullptr;
  auto T = std::make_unique<TShaperTables>();
  int32_t Matrix[9];
  for (int R = 0; R < 3; ++R) {
    double RowWeight = 0;
    for (int C = 0; C < 3; ++C) {
      double Sum = 0;
      for (int K = 0; K < 3; ++K)
        Sum += MDInv[R * 3 + K] * MS[K * 3 + C];
      if (!std::isfinite(Sum)) return nullptr;
      RowWeight += std::fabs(Sum);
      Matrix[R * 3 + C] = int32_t(std::lround(std::clamp(Sum, -8.0, 8.0) * 16384));
    }
    // A row's three shares of at most 16384 x 16384 each must add up in 32
    // bits; matrices between real RGB spaces stay far below.
    if (RowWeight > 7.5) return nullptr;
  }
  for (int Ch = 0; Ch < 3; ++Ch)
    for (int V = 0; V < 256; ++V) {
      const double Stored = Reencode == 1.0 ? V / 255.0 : std::pow(V / 255.0, 1 / Reencode);
      const double L = cmsEvalToneCurveFloat(In[Ch], cmsFloat32Number(Stored));
      const int32_t Linear = int32_t(std::lround(std::clamp(L, 0.0, 1.0) * 16384));
      for (int Row = 0; Row < 3; ++Row) // the rounding of the sum rides on red's share
        T->In[Ch][V][Row] = Matrix[Row * 3 + Ch] * Linear + (Ch == 0 ? 8192 : 0);
    }
  for (int Ch = 0; Ch < 3; ++Ch) {
    cmsToneCurve* Reverse = cmsReverseToneCurveEx(4096, OutCurves[Ch]);
    if (Reverse == nullptr) return nullptr;
    for (int X = 0; X <= 16384; ++X) {
      const double V = cmsEvalToneCurveFloat(Reverse, cmsFloat32Number(X / 16384.0));
      T->Out[size_t(Ch)][size_t(X)] = uint8_t(std::lround(std::clamp(V, 0.0, 1.0) * 255));
    }
    cmsFreeToneCurve(Reverse);
    T->OutOf[Ch] = T->Out[size_t(Ch)].data();
    for (int Earlier = 0; Earlier < Ch; ++Earlier)
      if (T->Out[size_t(Earlier)] == T->Out[size_t(Ch)]) {
        T->OutOf[Ch] = T->OutOf[Earlier]; // equal curves share one table in the cache
        break;
      }
  }
  return T;
}

// Whether a converter changes no colour by more than one step: a grid of
// colours through it (the ends and every fifth value of each channel).
bool ActsAsIdentity(const TConverter& C) {
  std::vector<uint8_t> Row;
  for (int B = 0; B < 256; B += 5)
    for (int G = 0; G < 256; G += 5)
      for (int R = 0; R < 256; R += 5)
        Row.insert(Row.end(), {uint8_t(B), uint8_t(G), uint8_t(R)});
  const std::vector<uint8_t> Before = Row;
  C.Bgr(Row.data(), Row.size() / 3);
  for (size_t I = 0; I < Row.size(); ++I)
    if (std::abs(int(Row[I]) - int(Before[I])) > 1) return false;
  return true;
}

TConverterPtr BuildConverter(const TColorSpace& From, double Reencode, const TColorSpace& To,
                             std::string& Why) {
  auto C = std::make_shared<TConverter>();
  if (Reencode != 1.0) {
    C->Reencoded = true;
    for (int V = 0; V < 256; ++V)
      C->Undo[size_t(V)] = uint8_t(std::lround(255 * std::pow(V / 255.0, 1 / Reencode)));
  }
  if (To.Gray) {
    Why = "display profile: not an RGB profile";
    return nullptr;
  }
  const cmsUInt32Number Flags = cmsFLAGS_NOCACHE;
  tLastLcmsError.clear();
  if (From.Gray) {
    C->GraySource = true;
    C->FPalette = cmsCreateTransformTHR(Lcms(), From.Profile, TYPE_GRAY_8, To.Profile, TYPE_RGB_8,
                                        INTENT_PERCEPTUAL, Flags);
    if (C->FPalette == nullptr) {
      Why = LcmsReason("ICC profile: lcms2 cannot convert from it");
      return nullptr;
    }
    return C;
  }
  if (gShaperTables) C->Shaper = BuildShaper(From.Profile, Reencode, To.Profile);
  if (!C->Shaper) {
    C->FRgb = cmsCreateTransformTHR(Lcms(), From.Profile, TYPE_BGR_8, To.Profile, TYPE_BGR_8,
                                    INTENT_PERCEPTUAL, Flags);
    if (C->FRgb == nullptr) {
      Why = LcmsReason("ICC profile: lcms2 cannot convert from it");
      return nullptr;
    }
  }
  if (!C->Reencoded) C->Identity = ActsAsIdentity(*C);
  return C;
}

// ---------------------------------------------------------------------------
// The cache: spaces by key, converters by pair of keys, failures by key. All
// under one mutex; converting happens outside it.

struct TCacheEntry {
  size_t Hash = 0;
  std::string Key; // a space's key, or "<from>\n<reencode>\n<to>" for a converter
  TColorSpacePtr Space;
  TConverterPtr Converter;
  std::string Why; // set when the space or converter cannot be had
};

class TColorCache {
public:
  static constexpr size_t Limit = 24;

  TCacheEntry* Find(const std::string& Key, size_t Hash) {
    for (auto It = FEntries.begin(); It != FEntries.end(); ++It)
      if (It->Hash == Hash && It->Key == Key) {
        FEntries.splice(FEntries.begin(), FEntries, It); // most recent first
        return &FEntries.front();
      }
    return nullptr;
  }
  TCacheEntry& Add(TCacheEntry Entry) {
    FEntries.push_front(std::move(Entry));
    while (FEntries.size() > Limit)
      FEntries.pop_back();
    return FEntries.front();
  }
  void Clear() { FEntries.clear(); }

  std::mutex Lock;
  // Descriptions already warned about (each picture's description object is
  // its own; weak pointers do not keep pictures' descriptions alive).
  std::list<std::weak_ptr<const TColorDescription>> Warned;

private:
  std::list<TCacheEntry> FEntries;
};

TColorCache& Cache() {
  static TColorCache C;
  return C;
}

// The space of a description: from the cache or opened (outside the lock).
TColorSpacePtr SpaceOf(const TColorDescription* D, std::string& Why) {
  if (D == nullptr) return SRGBColorSpace();
  std::string Key = SpaceKey(D);
  if (Key == SRGBKey) return SRGBColorSpace();
  const size_t Hash = std::hash<std::string>()(Key);
  TColorCache& C = Cache();
  {
    std::lock_guard<std::mutex> Guard(C.Lock);
    if (TCacheEntry* E = C.Find(Key, Hash)) {
      Why = E->Why;
      return E->Space;
    }
  }
  TCacheEntry Entry;
  Entry.Space = OpenSpace(*D, Key, Entry.Why);
  Entry.Hash = Hash;
  Entry.Key = std::move(Key);
  std::lock_guard<std::mutex> Guard(C.Lock);
  TCacheEntry& E = C.Add(std::move(Entry));
  Why = E.Why;
  return E.Space;
}

TConverterPtr ConverterOf(const TColorSpace& From, double Reencode, const TColorSpace& To,
                          std::string& Why) {
  std::string Key = From.Key;
  Key += '\n' + std::to_string(Reencode) + '\n';
  Key += To.Key;
  const size_t Hash = From.Hash ^ (To.Hash * 31) ^ std::hash<double>()(Reencode);
  TColorCache& C = Cache();
  {
    std::lock_guard<std::mutex> Guard(C.Lock);
    if (TCacheEntry* E = C.Find(Key, Hash)) {
      Why = E->Why;
      return E->Converter;
    }
  }
  TCacheEntry Entry;
  Entry.Converter = BuildConverter(From, Reencode, To, Entry.Why);
  Entry.Hash = Hash;
  Entry.Key = std::move(Key);
  std::lock_guard<std::mutex> Guard(C.Lock);
  TCacheEntry& E = C.Add(std::move(Entry));
  Why = E.Why;
  return E.Converter;
}

void WarnOnce(const TColorDescriptionPtr& From, const std::string& Why) {
  TColorCache& C = Cache();
  {
    std::lock_guard<std::mutex> Guard(C.Lock);
    C.Warned.remove_if([](const std::weak_ptr<const TColorDescription>& W) { return W.expired(); });
    for (const auto& W : C.Warned)
      if (W.lock() == From) return;
    C.Warned.push_back(From);
  }
  std::fprintf(stderr, "Imbrel: colour profile ignored, picture shown unconverted: %s\n",
               Why.c_str());
}

// The converter for a picture's description to To; null when nothing is to
// be done (Result says why).
TConverterPtr Prepare(const TColorDescriptionPtr& From, const TColorSpace& To,
                      TColorResult& Result) {
  Result = crUnchanged;
  const double Reencode =
      From && std::isfinite(From->Reencode) && From->Reencode > 0.05 && From->Reencode < 20
          ? From->Reencode
          : 1.0;
  std::string Why;
  const TColorSpacePtr Space = SpaceOf(From.get(), Why);
  if (!Space) {
    Result = crRefused;
    WarnOnce(From, Why);
    return nullptr;
  }
  if (Space->Key == To.Key && Reencode == 1.0) return nullptr;
  TConverterPtr Conv = ConverterOf(*Space, Reencode, To, Why);
  if (!Conv) {
    Result = crRefused;
    WarnOnce(From, Why);
    return nullptr;
  }
  if (Conv->Identity) return nullptr;
  Result = crConverted;
  return Conv;
}

} // namespace

TColorSpacePtr SRGBColorSpace() {
  static const TColorSpacePtr Space =
      std::make_shared<TColorSpace>(SRGBKey, cmsCreate_sRGBProfileTHR(Lcms()));
  return Space;
}

bool IsSRGB(const TColorSpacePtr& Space) {
  return Space && Space->Key == SRGBKey;
}

TColorSpacePtr ColorSpaceFromIcc(const std::vector<uint8_t>& Icc, std::string& Why) {
  TColorDescription D;
  D.Icc = Icc;
  TColorSpacePtr Space = OpenSpace(D, SpaceKey(&D), Why);
  if (Space && Space->Gray) {
    Why = "display profile: not an RGB profile";
    return nullptr;
  }
  return Space;
}

TColorResult ConvertColors(TDibGraphic& Picture, const TColorDescriptionPtr& From,
                           const TColorSpace& To) {
  if (Picture.Empty()) return crUnchanged;
  TColorResult Result = crUnchanged;
  const TConverterPtr Conv = Prepare(From, To, Result);
  if (!Conv) return Result;
  if (Picture.ImageFormat() == ifTrueColor) {
    if (Conv->GraySource) {
      WarnOnce(From, "ICC profile: a grey profile on a colour picture");
      return crRefused;
    }
    const int W = Picture.Width(), H = Picture.Height();
    for (int Y = 0; Y < H; ++Y)
      Conv->Bgr(Picture.ScanLine(Y), size_t(W));
    return crConverted;
  }
  // Palette formats: the palette is converted, the indices stay. The image
  // is rebuilt with the new palette and its pixel bytes put back.
  TLogPalette Pal = *Picture.LogPalette();
  Conv->Palette(Pal);
  const size_t Bytes = size_t(Picture.BytesPerRow()) * size_t(Picture.Height());
  std::vector<uint8_t> Saved(Picture.Bits(), Picture.Bits() + Bytes);
  const TColorDescriptionPtr Description = Picture.ColorDescription();
  // The base class's NewImage: a format class's own may reset its settings.
  Picture.TDibGraphic::NewImage(Picture.Width(), Picture.Height(), Picture.ImageFormat(), &Pal,
                                Picture.XDpi(), Picture.YDpi());
  std::memcpy(Picture.Bits(), Saved.data(), Bytes);
  Picture.SetColorDescription(Description);
  return crConverted;
}

TColorResult ConvertBgrPixels(uint8_t* Pixels, size_t Count, const TColorDescriptionPtr& From,
                              const TColorSpace& To) {
  TColorResult Result = crUnchanged;
  const TConverterPtr Conv = Prepare(From, To, Result);
  if (!Conv) return Result;
  if (Conv->GraySource) {
    WarnOnce(From, "ICC profile: a grey profile on a colour picture");
    return crRefused;
  }
  Conv->Bgr(Pixels, Count);
  return crConverted;
}

void ClearColorCache(bool ShaperTables) {
  TColorCache& C = Cache();
  std::lock_guard<std::mutex> Guard(C.Lock);
  C.Clear();
  gShaperTables = ShaperTables;
}

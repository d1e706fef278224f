#pragma once
// Colour conversion of display copies with lcms2: from a picture's colour
// description (its embedded ICC profile or coded primaries and transfer
// curve; sRGB when it has none) to the display's colour space.
//
// Profiles are checked by our own parser (CheckIccProfile) before lcms2 sees
// them. Converters are built once per pair of colour spaces and kept in a
// small cache shared by all threads (the view and the decode-ahead worker).
// Pairs of matrix-shaper profiles (most embedded RGB profiles and display
// profiles) are converted by our own fixed-point tables; anything else by an
// lcms2 transform. The rendering intent is perceptual.
//
// Nothing here prints but one warning line per picture whose profile cannot
// be used (lcms2's own error messages are caught and become that warning's
// reason).

#include "imaging/DibGraphic.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A colour space opened for conversions.
class TColorSpace;
using TColorSpacePtr = std::shared_ptr<const TColorSpace>;

// Largest ICC profile accepted, in bytes.
constexpr size_t MaxIccProfileSize = 16u << 20;

// Checks an ICC profile's header and tag table without trusting any of it:
// the size field against the bytes given, the signature, a supported class
// (input, display, output or colour-space profiles), an RGB or grey colour
// space, an XYZ or Lab connection space and every tag inside the profile.
// Answers false with the reason in Why.
bool CheckIccProfile(const uint8_t* Data, size_t Size, std::string& Why);

// The built-in sRGB space; the same object on every call.
TColorSpacePtr SRGBColorSpace();

// A display's colour space from its ICC profile; null with the reason in Why
// when the profile cannot be used (not an RGB profile, damaged).
TColorSpacePtr ColorSpaceFromIcc(const std::vector<uint8_t>& Icc, std::string& Why);

// Whether Space is the built-in sRGB space.
bool IsSRGB(const TColorSpacePtr& Space);

enum TColorResult : uint8_t {
  crUnchanged, // the two spaces are the same: nothing done
  crConverted, // the pixels (or the palette) were converted
  crRefused    // the picture's description cannot be used: pixels left as stored
};

// Converts Picture's pixels (true colour) or palette (palette formats) from
// the space From describes (null: sRGB) to To, in place. A description that
// cannot be used leaves the pixels as they are, answers crRefused and prints
// one warning line to stderr, once per description object. Thread-safe.
TColorResult ConvertColors(TDibGraphic& Picture, const TColorDescriptionPtr& From,
                           const TColorSpace& To);

// As ConvertColors, for Count blue-green-red pixels in a row (tests and
// benchmarks compare against lcms2's own transform through it).
TColorResult ConvertBgrPixels(uint8_t* Pixels, size_t Count, const TColorDescriptionPtr& From,
                              const TColorSpace& To);

// Empties the converter cache. ShaperTables false makes converters built
// afterwards use lcms2's transform where our tables would serve (tests and
// benchmarks compare the two).
void ClearColorCache(bool ShaperTables = true);

// ICC profiles through our check and lcms2: the bytes as a picture's
// embedded profile (converted to sRGB, true colour and palette) and as the
// display's profile (a coded picture description converted to it). The
// bytes are copied into a buffer of exactly their size, so that any read
// past the end is caught.

#include "imaging/ColorTransform.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::vector<uint8_t> Bytes(Data, Data + Size);
  std::string Why;
  const bool Valid = CheckIccProfile(Bytes.data(), Bytes.size(), Why);
  if (!Valid && Why.empty()) std::abort(); // a refusal always says why

  auto Description = std::make_shared<TColorDescription>();
  Description->Icc = Bytes;
  uint8_t Pixels[] = {0, 0, 0, 255, 255, 255, 40, 60, 200, 1, 128, 254};
  const TColorResult Result =
      ConvertBgrPixels(Pixels, sizeof Pixels / 3, Description, *SRGBColorSpace());
  // lcms2 never sees what we refuse (no bytes at all are no profile: sRGB).
  if (!Valid && !Bytes.empty() && Result != crRefused) std::abort();

  TDibGraphic Palette;
  Palette.NewImage(4, 2, ifGray256, nullptr, 96, 96);
  ConvertColors(Palette, Description, *SRGBColorSpace());

  if (const TColorSpacePtr Display = ColorSpaceFromIcc(Bytes, Why)) {
    auto Coded = std::make_shared<TColorDescription>();
    Coded->Transfer = TColorDescription::tfGamma;
    Coded->Gamma = 1.8;
    ConvertBgrPixels(Pixels, sizeof Pixels / 3, Coded, *Display);
  }
  // The cache keeps converters of recent profiles; a run of many inputs
  // starts afresh now and then.
  static int Runs = 0;
  if (++Runs % 64 == 0) ClearColorCache();
  return 0;
}

// PCX files through TPcxGraphic, once as they are and once with the module's
// "trunc" option.

#include "fuzz/common/BmmFuzz.h"
#include "formats/PcxGraphic.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzzlimits::Apply();
  TBytesStream s(Data, static_cast<int64_t>(Size));
  TPcxGraphic g;
  try {
    g.LoadFromStream(s);
  } catch (const std::exception&) {
  }
  // The module on its own, within the pixel limit the readers apply.
  if (!bmmfuzz::Affordable(Data, Size, BMM_FORMAT_PCX, "trunc")) return 0;
  TBytesStream t(Data, static_cast<int64_t>(Size));
  BmmHeader h{};
  if (bmm_read_header("x", &t, BMM_FORMAT_PCX, &h, "trunc") == BMM_ERR_OK) {
    BmmPaletteEntry pal[256] = {};
    bmm_read_colours(&t, BMM_FORMAT_PCX, &h, pal);
    std::vector<uint8_t> px(static_cast<size_t>(bmm_image_size(h.width, h.height, h.bpp)));
    bmm_read_data(&t, BMM_FORMAT_PCX, &h, px.data());
  }
  return 0;
}

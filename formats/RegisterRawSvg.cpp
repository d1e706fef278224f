#include "formats/Formats.h"

#include "formats/RawGraphic.h"
#include "formats/SvgGraphic.h"
#include "imaging/GraphicRegistry.h"

void RegisterRawSvgFormats() {
  // Camera RAW files libraw 0.20 reads, by the extensions their makers give
  // them. X3F (Sigma) is not among them: this libraw reads none of it.
  static const char* const kRaw[][2] = {
      {"DNG", "Digital negative"},
      {"CR2", "Canon RAW"},
      {"CR3", "Canon RAW"},
      {"CRW", "Canon RAW"},
      {"NEF", "Nikon RAW"},
      {"NRW", "Nikon RAW"},
      {"ARW", "Sony RAW"},
      {"SRF", "Sony RAW"},
      {"SR2", "Sony RAW"},
      {"ORF", "Olympus RAW"},
      {"RW2", "Panasonic RAW"},
      {"RWL", "Leica RAW"},
      {"RAF", "Fujifilm RAW"},
      {"PEF", "Pentax RAW"},
      {"SRW", "Samsung RAW"},
      {"ERF", "Epson RAW"},
      {"KDC", "Kodak RAW"},
      {"DCR", "Kodak RAW"},
      {"MRW", "Minolta RAW"},
      {"3FR", "Hasselblad RAW"},
      {"FFF", "Hasselblad RAW"},
      {"IIQ", "Phase One RAW"},
      {"MOS", "Leaf RAW"},
      {"MEF", "Mamiya RAW"},
  };
  for (const auto& [Extension, Description] : kRaw)
    RegisterGraphicFormat(Extension, Description, ClassOf<TRawGraphic>());
  RegisterGraphicFormat("SVG", "Scalable vector graphics", ClassOf<TSvgGraphic>());
  RegisterGraphicFormat("SVGZ", "Scalable vector graphics (compressed)", ClassOf<TSvgGraphic>());
}

// imbrel-decode FILE [-o OUT.ppm] [--index N] [--no-orient] [--to-srgb]
// Loads FILE (image N, 1-based: the page of a multi-page file, the frame of
// an animation; image 1 of an animation holds every frame) through the format
// registry, turned upright by its stored orientation unless told otherwise,
// prints one line (format class, format name, width, height, XDpi, YDpi, frame
// count) and optionally writes the picture's colours as a binary PPM: the
// stored values, or with --to-srgb the colours converted from the picture's
// colour profile to sRGB (a profile that cannot be used leaves them stored and
// says so in one line on stderr). Exits 1 with the exception's class and message on failure. Pictures
// above the pixel limit (IMBREL_MAX_PIXELS) are refused, and so is a PPM of
// more bytes than that limit.

#include "imaging/ColorTransform.h"
#include "imaging/DibGraphic.h"
#include "formats/Formats.h"
#include "imaging/GraphicRegistry.h"
#include "platform/MemoryBudget.h"
#include "imaging/Orientation.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

int Usage() {
  std::fprintf(stderr, "usage: imbrel-decode FILE [-o OUT.ppm] [--index N] [--no-orient] [--to-srgb]\n");
  return 2;
}

void WritePpm(const TDibGraphic& G, const std::string& Name) {
  const uint64_t bytes = 3 * uint64_t(G.Width()) * uint64_t(G.Height());
  if (bytes > PixelLimit())
    throw EStreamError("PPM of " + std::to_string(bytes) + " bytes exceeds the limit of " +
                       std::to_string(PixelLimit()) + " bytes");
  G.FlushCanvas();
  TFileStream out(Name, TFileMode::fmCreate);
  const std::string header =
      "P6\n" + std::to_string(G.Width()) + " " + std::to_string(G.Height()) + "\n255\n";
  out.WriteBuffer(header.data(), int64_t(header.size()));
  std::vector<uint8_t> row(3 * size_t(G.Width()));
  const TLogPalette* pal = G.LogPalette();
  const TPixelReader read = G.PixelReader();
  for (int y = 0; y < G.Height(); ++y) {
    const uint8_t* s = G.ScanLine(y);
    for (int x = 0; x < G.Width(); ++x) {
      uint8_t* d = &row[3 * size_t(x)];
      if (G.ImageFormat() == ifTrueColor) {
        d[0] = s[3 * x + 2];
        d[1] = s[3 * x + 1];
        d[2] = s[3 * x];
      } else {
        const TPaletteEntry& e = pal->palPalEntry[read(s, x) & 0xFF];
        d[0] = e.peRed;
        d[1] = e.peGreen;
        d[2] = e.peBlue;
      }
    }
    out.WriteBuffer(row.data(), int64_t(row.size()));
  }
}

} // namespace

int main(int argc, char** argv) {
  std::string file, ppm;
  bool toSrgb = false;
  int index = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      ppm = argv[++i];
    } else if (std::strcmp(argv[i], "--index") == 0 && i + 1 < argc) {
      char* end = nullptr;
      const long v = std::strtol(argv[++i], &end, 10);
      if (!end || *end || v < 0 || v > 1000000) return Usage();
      index = int(v);
    } else if (std::strcmp(argv[i], "--to-srgb") == 0) {
      toSrgb = true;
    } else if (std::strcmp(argv[i], "--no-orient") == 0) {
      SetOrientationEnabled(false);
    } else if (file.empty() && argv[i][0] != '-') {
      file = argv[i];
    } else {
      return Usage();
    }
  }
  if (file.empty()) return Usage();

  // Offscreen unless a platform is chosen: the tool needs fonts and the
  // picture reader, never a window.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qargc = 1;
  char* qargv[] = {argv[0], nullptr};
  QGuiApplication app(qargc, qargv);

  try {
    RegisterImageFormats();
    TFileStream stream(file, TFileMode::fmOpenRead);
    std::unique_ptr<TDibGraphic> g = CreateGraphicFromStream(stream, file, index);
    std::printf("%s %s %d %d %u %u %d\n", g->ClassName().c_str(),
                ImageFormatName(g->ImageFormat()).c_str(), g->Width(), g->Height(),
                unsigned(g->XDpi()), unsigned(g->YDpi()), g->FrameCount());
    if (toSrgb) ConvertColors(*g, g->ColorDescription(), *SRGBColorSpace());
    if (!ppm.empty()) WritePpm(*g, ppm);
  } catch (const Exception& e) {
    std::printf("%s: %s\n", DemangledClassName(typeid(e)).c_str(), e.Message().c_str());
    return 1;
  } catch (const std::exception& e) {
    std::printf("%s: %s\n", DemangledClassName(typeid(e)).c_str(), e.what());
    return 1;
  }
  return 0;
}

// dng_fixtures_write FOLDER: writes the small DNG files the RAW fuzz target is
// seeded with (sensor layouts, orientations and previews of every kind).
#include "tools/dng_fixtures/DngWriter.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dng_fixtures_write FOLDER\n");
    return 2;
  }
  using dngfixture::TDng;
  using dngfixture::TPreview;
  struct TFile {
    const char* Name;
    TDng Fixture;
  };
  TPreview Jpeg{24, 16};
  TPreview JpegExif{24, 16};
  JpegExif.ExifOrientation = 6;
  TPreview Bitmap{24, 16};
  Bitmap.Kind = TPreview::pkBitmap;
  TPreview Upright{16, 24};
  Upright.Upright = true;
  const TFile Files[] = {
      {"mosaic.dng", TDng{32, 24, false, 1, {}, false}},
      {"linear_turned.dng", TDng{32, 24, true, 3, {}, false}},
      {"jpeg_preview.dng", TDng{32, 24, false, 6, {Jpeg}, false}},
      {"jpeg_exif_preview.dng", TDng{32, 24, false, 6, {JpegExif}, false}},
      {"upright_preview.dng", TDng{32, 24, false, 6, {Upright}, false}},
      {"bitmap_first.dng", TDng{32, 24, false, 8, {Bitmap, Jpeg}, true}},
      {"adobe_rgb_exif.dng", TDng{32, 24, false, 1, {Jpeg}, false, 2}},
  };
  for (const TFile& F : Files) {
    const std::string Path = std::string(argv[1]) + "/" + F.Name;
    const std::string Error = dngfixture::WriteDng(Path, F.Fixture);
    if (!Error.empty()) {
      std::fprintf(stderr, "%s: %s\n", Path.c_str(), Error.c_str());
      return 1;
    }
  }
  return 0;
}

// bmm_fixtures OUTDIR: writes small BMP, PCX, DCX and Targa files of every
// layout the bitmap module reads into OUTDIR/bmp, pcx, dcx and tga.

#include "formats/bitmap_module/Bmm.h"
#include "tools/bmm_fixtures/BmmFixtures.h"
#include "platform/Stream.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

using namespace bmmfix;

namespace {

void Save(const std::filesystem::path& file, const Bytes& b) {
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// A small picture in the module's layout for its writers.
Bytes Picture(int w, int h, int bpp) {
  Bytes px(std::size_t(Stride(w, bpp)) * h);
  for (std::size_t i = 0; i < px.size(); ++i)
    px[i] = uint8_t((i % 7 < 3) ? 0x11 * (i % 5) : i * 13);
  return px;
}

Bytes Written(int ft, int w, int h, int bpp, const char* opt) {
  BmmPaletteEntry pal[256];
  for (int i = 0; i < 256; ++i)
    pal[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)};
  const Bytes px = Picture(w, h, bpp);
  BmmHeader hdr{};
  hdr.width = w;
  hdr.height = h;
  hdr.bpp = bpp;
  TMemoryStream s;
  if (bmm_write("x", &s, ft, &hdr, pal, px.data(), opt) != 0) return {};
  return Bytes(s.Memory(), s.Memory() + s.Size());
}

Bytes Dcx(const std::vector<Bytes>& pages) {
  Bytes b;
  U32(b, 987654321);
  uint32_t at = uint32_t(4 + 4 * (pages.size() + 1));
  for (const Bytes& p : pages) {
    U32(b, at);
    at += uint32_t(p.size());
  }
  U32(b, 0);
  for (const Bytes& p : pages)
    Append(b, p);
  return b;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bmm_fixtures OUTDIR\n");
    return 2;
  }
  const std::filesystem::path out = argv[1];
  for (const char* d : {"bmp", "pcx", "dcx", "tga"})
    std::filesystem::create_directories(out / d);

  // BMP: the writer's layouts, and run-length files.
  for (int bpp : {1, 4, 8, 24})
    for (const char* opt : {"", "1.1"})
      Save(out / "bmp" / ("w" + std::to_string(bpp) + (*opt ? "_os2" : "") + ".bmp"),
           Written(0, 11, 5, bpp, opt));
  {
    const int w = 9, h = 6;
    Bytes rows(std::size_t(Stride(w, 8)) * h);
    for (std::size_t i = 0; i < rows.size(); ++i)
      rows[i] = uint8_t(i % 4 == 0 ? 7 : i);
    BmpLayout s;
    s.width = w;
    s.height = h;
    s.compression = 1;
    s.palette.resize(16, Rgb{1, 2, 3});
    s.coloursUsed = 16;
    s.data = EncodeRle8(rows.data(), w, h, Stride(w, 8));
    Save(out / "bmp" / "rle8.bmp", BmpFile(s));
    s.data = {3, 1, 0, 2, 2, 1, 0, 5, 1, 2, 3, 4, 5, 0, 0, 0, 2, 9, 0, 1};
    Save(out / "bmp" / "rle8_delta.bmp", BmpFile(s));
    s.bitCount = 4;
    s.compression = 2;
    s.data = {0, 2, 1, 0, 3, 0x12, 0, 3, 0xAB, 0xC0, 0, 0, 4, 0x56, 0, 0, 0, 1};
    Save(out / "bmp" / "rle4.bmp", BmpFile(s));
    s.array = true;
    Save(out / "bmp" / "array_rle4.bmp", BmpFile(s));
    s.array = false;
    s.cbFix = 64;
    s.compression = 0;
    s.bitCount = 8;
    s.data = rows;
    Save(out / "bmp" / "os2v2.bmp", BmpFile(s));
    s.cbFix = 40;
    s.bitCount = 16;
    s.data = Bytes(std::size_t(Stride(w, 16)) * h, 0x42);
    Save(out / "bmp" / "rgb16.bmp", BmpFile(s));
  }

  // PCX: every depth and plane layout.
  for (int bpp : {1, 4, 8, 24})
    Save(out / "pcx" / ("w" + std::to_string(bpp) + ".pcx"), Written(1, 13, 4, bpp, ""));
  {
    PcxLayout s;
    s.bitsPerPixel = 1;
    s.planes = 4;
    s.xmax = 12;
    s.ymax = 1;
    s.bytesPerLine = 2;
    s.data = {0xC3, 0x80, 0x0F, 0xC1, 0xFF, 0x08, 0x55, 0xC9, 0x11};
    Save(out / "pcx" / "planes4.pcx", PcxFile(s));
  }

  // DCX: one and three pages.
  Save(out / "dcx" / "one.dcx", Dcx({Written(1, 13, 4, 8, "")}));
  Save(out / "dcx" / "three.dcx",
       Dcx({Written(1, 5, 3, 1, ""), Written(1, 6, 2, 4, ""), Written(1, 7, 3, 24, "")}));

  // Targa: the writer's layouts, and run-length files of every depth.
  Save(out / "tga" / "w8.tga", Written(2, 9, 4, 8, ""));
  Save(out / "tga" / "w24.tga", Written(2, 9, 4, 24, "ydown"));
  Save(out / "tga" / "w16.tga", Written(2, 9, 4, 24, "16"));
  Save(out / "tga" / "w32.tga", Written(2, 9, 4, 24, "32"));
  for (int depth : {8, 16, 24, 32}) {
    const int n = depth / 8;
    const int w = 6, h = 4;
    Bytes px(std::size_t(w) * h * n);
    for (std::size_t i = 0; i < px.size(); ++i)
      px[i] = uint8_t(i / n % 3 == 0 ? 9 : i);
    TgaLayout s;
    s.imageType = depth == 8 ? 11 : 10;
    s.depth = uint8_t(depth);
    s.width = w;
    s.height = h;
    s.descriptor = depth == 24 ? 0x20 : 0;
    s.data = EncodeTgaRle(px.data(), std::size_t(w) * h, n);
    Save(out / "tga" / ("rle" + std::to_string(depth) + ".tga"), TgaFile(s));
  }
  {
    TgaLayout s;
    s.imageType = 9;
    s.depth = 8;
    s.colourMapType = 1;
    s.mapFirst = 2;
    s.mapLength = 3;
    s.mapEntrySize = 24;
    s.colourMap = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    s.width = 4;
    s.height = 2;
    s.data = {0x83, 2, 0x03, 3, 4, 2, 3};
    Save(out / "tga" / "rle_mapped.tga", TgaFile(s));
  }
  return 0;
}

#pragma once
// What the HEIF and JPEG XL tests share: a scratch folder, the encoders and
// reference decoders of the libraries (heif-enc, heif-convert, avifenc,
// avifdec, cjxl, djxl) run as programs, source pictures written with libpng
// and libjpeg, PNG reading for the references, and pixel comparisons.

#include "imaging/DibGraphic.h"

#include <cstdint>
#include <string>
#include <vector>

using TBytes = std::string;

// A folder of its own for one test, removed with everything in it.
class TScratch {
public:
  TScratch();
  ~TScratch();
  TScratch(const TScratch&) = delete;
  TScratch& operator=(const TScratch&) = delete;
  std::string Path(const std::string& Name) const { return FDir + "/" + Name; }
  std::string Write(const std::string& Name, const TBytes& Bytes) const;

private:
  std::string FDir;
};

// The program's full path when it is on PATH, else "".
std::string FindTool(const std::string& Name);
// Runs a program (looked up on PATH) with its output discarded; true when
// it exited with status 0.
bool RunTool(const std::vector<std::string>& Args);
TBytes ReadFile(const std::string& Path);

// ---- Source pictures ------------------------------------------------------------

// Pixels top-down, Channels bytes (or 16-bit big-endian pairs) per pixel:
// 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA.
struct TPicture {
  int Width = 0;
  int Height = 0;
  int Channels = 3;
  int BitDepth = 8;
  std::vector<uint8_t> Pixels;
  // Channel C of pixel (X, Y) reduced to 8 bits.
  uint8_t At(int X, int Y, int C) const;
};

// Smooth ramps that lossy codecs keep closely: red across, green down, blue
// constant, alpha (when asked) rising across from 0 to 255.
TPicture Ramps(int Width, int Height, int Channels, int BitDepth = 8);
// Three blocks across and two down, Block pixels each, coloured
//   R G B
//   C M Y
TPicture Blocks(int Block);
TPicture Solid(int Width, int Height, uint8_t Red, uint8_t Green, uint8_t Blue);

struct TPngExtras {
  double Gamma = 0;                  // gAMA when above 0
  std::vector<double> Chromaticities; // cHRM: white x, y, red x, y, green x, y, blue x, y
  TBytes Icc;                        // iCCP when not empty
};
TBytes MakePng(const TPicture& P, const TPngExtras& Extras = {});
// A baseline JPEG of an RGB picture with an EXIF block whose orientation is
// Orientation.
TBytes MakeExifJpeg(const TPicture& P, int Orientation);

// Reads a PNG of any layout as 8-bit RGBA, without gamma or colour changes;
// 16-bit samples are rounded to 8 bits. False when it cannot be read.
bool ReadPng(const std::string& Path, TPicture& Out);

// ---- Comparisons ------------------------------------------------------------------

// Reference pixel (X, Y) of an RGBA picture composited onto Background.
uint32_t CompositedAt(const TPicture& Reference, int X, int Y, uint32_t Background = 0);
// The largest difference of any channel of any pixel between the decoded
// picture and the reference composited onto Background; -1 when the sizes
// differ.
int LargestDifference(const TDibGraphic& Decoded, const TPicture& Reference,
                      uint32_t Background = 0);
int ColourDistance(uint32_t A, uint32_t B);
// The blocks of a Blocks() picture as shown, "RGB/CMY" style, probed at each
// block's centre ('?' for none of the six colours).
std::string ShownBlocks(const TDibGraphic& G, int Block);
// The shown blocks of the pattern turned by each EXIF orientation 1..8.
extern const char* const kUprightBlocks[9];

// Switches turning by the stored orientation off for one scope.
struct TOrientationOff {
  TOrientationOff();
  ~TOrientationOff();
};

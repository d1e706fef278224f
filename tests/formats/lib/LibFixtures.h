#pragma once
// Small pictures written by the tests with libjpeg, libpng and libtiff
// themselves, streams with unusual behaviour, and a reader for the RGB
// reference decodings of the shared test pictures.

#include "imaging/DibGraphic.h"
#include "platform/Stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using TBytes = std::string;

// ---- JPEG -------------------------------------------------------------------
struct TJpegFixture {
  int Width = 16;
  int Height = 16;
  int Components = 3;          // 1 grey, 3 RGB, 4 CMYK
  std::vector<uint8_t> Pixels; // top-down, Components bytes per pixel
  int Quality = 95;
  int DensityUnit = 0;
  int XDensity = 1;
  int YDensity = 1;
  bool Progressive = false;
  std::vector<std::vector<uint8_t>> App2; // APP2 segments' data, written as given
};
TBytes MakeJpeg(const TJpegFixture& F);
// The APP2 segments carrying Profile as "ICC_PROFILE" chunks of at most
// ChunkSize bytes, numbered from 1 in order.
std::vector<std::vector<uint8_t>> IccSegments(const std::vector<uint8_t>& Profile,
                                              size_t ChunkSize = 65519);

// ---- PNG --------------------------------------------------------------------
struct TPngRgb {
  uint8_t R, G, B;
};
struct TPngFixture {
  uint32_t Width = 4;
  uint32_t Height = 4;
  int BitDepth = 8;
  int ColorType = 2;         // PNG colour type
  std::vector<uint8_t> Rows; // top-down rows in PNG byte layout (16 bits big-endian)
  bool Interlaced = false;
  double Gamma = 0.0; // 0: no gAMA chunk
  bool Srgb = false;
  bool HasBackground = false; // bKGD: index for palettes, else Grey or R, G, B
  uint16_t BackIndex = 0, BackGrey = 0, BackR = 0, BackG = 0, BackB = 0;
  bool HasPhys = false;
  uint32_t PhysX = 0, PhysY = 0;
  int PhysUnit = 1;
  std::vector<TPngRgb> Palette;
  std::vector<uint8_t> PaletteAlpha; // tRNS for palettes
  std::vector<uint8_t> Icc;          // iCCP profile (none when empty)
  std::vector<double> Chromaticities; // cHRM: white x, y, red x, y, green x, y, blue x, y
};
TBytes MakePng(const TPngFixture& F);

// ---- TIFF (written by libtiff) -------------------------------------------------
struct TTiffPage {
  uint32_t Width = 4;
  uint32_t Height = 4;
  uint16_t BitsPerSample = 8;
  uint16_t SamplesPerPixel = 1;
  uint16_t Photometric = 1;
  uint16_t Compression = 1;
  uint32_t RowsPerStrip = 0;        // 0: libtiff's default
  std::vector<uint8_t> Rows;        // top-down, TIFF scanline bytes each
  std::function<void(void*)> Extra; // more fields, given the TIFF*
};
TBytes MakeTiff(const std::vector<TTiffPage>& Pages);

// ---- TIFF (built byte by byte, for files libtiff would not write) ---------------
struct TRawTag {
  uint16_t Tag;
  uint16_t Type; // 3 SHORT, 4 LONG, 5 RATIONAL (pairs of values)
  std::vector<uint32_t> Values;
};
// A little-endian TIFF with one directory holding Tags (any order), one strip
// of Data, and StripOffsets/StripByteCounts added.
TBytes RawTiff(std::vector<TRawTag> Tags, const std::vector<uint8_t>& Data);

// ---- Streams ----------------------------------------------------------------
// A read-only stream over bytes that does not expose them as memory, so that
// readers take their block-reading paths.
class TPlainStream : public TStream {
public:
  explicit TPlainStream(const TBytes& Data, int64_t FailAfter = -1)
      : FData(Data), FFailAfter(FailAfter) {}
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void*, int64_t) override { throw EStreamError("Stream write error"); }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t) override {}
  int ReadCalls = 0;
  int64_t LargestRead = 0;

private:
  const TBytes& FData;
  int64_t FFailAfter; // raise EStreamError once the position passes this, -1 never
  int64_t FPos = 0;
};

// Loads Bytes through the class's LoadFromStream with ImageIndex Index.
template <class T> std::unique_ptr<T> LoadFrom(const TBytes& Bytes, int Index = 1) {
  auto G = std::make_unique<T>();
  TBytesStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  G->SetImageIndex(Index);
  G->LoadFromStream(S);
  return G;
}

// Saves through SaveToStream and answers the bytes.
TBytes SavedBytes(TDibGraphic& G);

// ---- Reference decodings ----------------------------------------------------------
struct TRgbImage {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Rgb; // top-down
};
bool ReadReferencePng(const std::string& Path, TRgbImage& Out);
TBytes ReadFileBytes(const std::string& Path);

uint8_t Red(uint32_t C);
uint8_t Green(uint32_t C);
uint8_t Blue(uint32_t C);
// Largest per-channel difference between two 0x00RRGGBB colours.
int ColourDistance(uint32_t A, uint32_t B);
// The screen resolution an image takes for dpi 0.
uint16_t ScreenDpi();

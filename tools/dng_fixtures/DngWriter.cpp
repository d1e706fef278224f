#include "tools/dng_fixtures/DngWriter.h"

#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

namespace dngfixture {

void QuadrantRgb(int X, int Y, int W, int H, uint8_t Rgb[3]) {
  const bool Right = X >= W / 2, Bottom = Y >= H / 2;
  static constexpr uint8_t kColours[4][3] = {
      {220, 30, 30}, {30, 200, 40}, {40, 40, 210}, {235, 235, 235}};
  const int Q = (Bottom ? 2 : 0) + (Right ? 1 : 0);
  for (int c = 0; c < 3; ++c)
    Rgb[c] = kColours[Q][c];
}

void StoredPixelOf(int Orientation, int X, int Y, int StoredW, int StoredH, int& SX, int& SY) {
  switch (Orientation) {
  case 2: SX = StoredW - 1 - X; SY = Y; break;
  case 3: SX = StoredW - 1 - X; SY = StoredH - 1 - Y; break;
  case 4: SX = X; SY = StoredH - 1 - Y; break;
  case 5: SX = Y; SY = X; break;
  case 6: SX = Y; SY = StoredH - 1 - X; break;
  case 7: SX = StoredW - 1 - Y; SY = StoredH - 1 - X; break;
  case 8: SX = StoredW - 1 - Y; SY = X; break;
  default: SX = X; SY = Y; break;
  }
}

std::vector<uint8_t> PreviewPixels(const TPreview& P, int FileOrientation) {
  if (!P.Pixels.empty()) return P.Pixels;
  std::vector<uint8_t> Rgb(size_t(P.Width) * size_t(P.Height) * 3);
  const bool Turned = P.Upright && FileOrientation >= 5;
  const int StoredW = Turned ? P.Height : P.Width, StoredH = Turned ? P.Width : P.Height;
  for (int y = 0; y < P.Height; ++y)
    for (int x = 0; x < P.Width; ++x) {
      int SX = x, SY = y;
      if (P.Upright) StoredPixelOf(FileOrientation, x, y, StoredW, StoredH, SX, SY);
      QuadrantRgb(SX, SY, StoredW, StoredH, &Rgb[(size_t(y) * P.Width + x) * 3]);
    }
  return Rgb;
}

namespace {

// An APP1 EXIF payload: "Exif", two zero bytes, a little-endian TIFF header
// and one directory with the orientation tag.
std::vector<uint8_t> ExifSegment(int Orientation) {
  const uint8_t Bytes[] = {'E', 'x', 'i', 'f', 0, 0,
                           'I', 'I', 42, 0, 8, 0, 0, 0,     // header, directory at 8
                           1, 0,                            // one entry
                           0x12, 0x01, 3, 0, 1, 0, 0, 0,    // 0x0112 SHORT x 1
                           uint8_t(Orientation), 0, 0, 0,   // value
                           0, 0, 0, 0};                     // no next directory
  return std::vector<uint8_t>(std::begin(Bytes), std::end(Bytes));
}

// The sensor's value of colour C (0 red, 1 green, 2 blue) at (X, Y): the
// quadrant pattern in linear light with a gentle horizontal ramp.
uint16_t SceneValue(int X, int Y, int C, int W, int H) {
  uint8_t Rgb[3];
  QuadrantRgb(X, Y, W, H, Rgb);
  const double Linear = (Rgb[C] / 255.0) * (Rgb[C] / 255.0);
  const double Ramp = 0.85 + 0.15 * X / (W > 1 ? W - 1 : 1);
  return uint16_t(1000 + Linear * Ramp * 50000);
}

void SetPreviewDirectory(TIFF* T, const TPreview& P, int FileOrientation, std::string& Error) {
  TIFFSetField(T, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
  TIFFSetField(T, TIFFTAG_IMAGEWIDTH, uint32_t(P.Width));
  TIFFSetField(T, TIFFTAG_IMAGELENGTH, uint32_t(P.Height));
  TIFFSetField(T, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(T, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(T, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(T, TIFFTAG_ROWSPERSTRIP, uint32_t(P.Height));
  const std::vector<uint8_t> Rgb = PreviewPixels(P, FileOrientation);
  if (P.Kind == TPreview::pkJpeg) {
    // One strip holding a whole JPEG file, as cameras store previews.
    TIFFSetField(T, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
    TIFFSetField(T, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    const std::vector<uint8_t> Jpeg = EncodeJpeg(Rgb, P.Width, P.Height, P.Quality, P.ExifOrientation);
    if (TIFFWriteRawStrip(T, 0, const_cast<uint8_t*>(Jpeg.data()), tmsize_t(Jpeg.size())) < 0)
      Error = "cannot write the JPEG preview";
  } else {
    TIFFSetField(T, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(T, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    for (int y = 0; y < P.Height && Error.empty(); ++y)
      if (TIFFWriteScanline(T, const_cast<uint8_t*>(&Rgb[size_t(y) * P.Width * 3]), uint32_t(y), 0) < 0)
        Error = "cannot write the bitmap preview";
  }
}

void SetSensorDirectory(TIFF* T, const TDng& S, std::string& Error) {
  TIFFSetField(T, TIFFTAG_SUBFILETYPE, 0);
  TIFFSetField(T, TIFFTAG_IMAGEWIDTH, uint32_t(S.Width));
  TIFFSetField(T, TIFFTAG_IMAGELENGTH, uint32_t(S.Height));
  TIFFSetField(T, TIFFTAG_BITSPERSAMPLE, 16);
  const int Samples = S.LinearRaw ? 3 : 1;
  TIFFSetField(T, TIFFTAG_SAMPLESPERPIXEL, Samples);
  TIFFSetField(T, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(T, TIFFTAG_PHOTOMETRIC, S.LinearRaw ? 34892 : 32803); // LinearRaw, CFA
  TIFFSetField(T, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(T, TIFFTAG_ROWSPERSTRIP, uint32_t(S.Height));
  if (!S.LinearRaw) {
    const uint16_t Dim[2] = {2, 2};
    TIFFSetField(T, TIFFTAG_CFAREPEATPATTERNDIM, Dim);
    const uint8_t Pattern[4] = {0, 1, 1, 2}; // red green / green blue
    TIFFSetField(T, TIFFTAG_CFAPATTERN, 4, Pattern);
  }
  std::vector<uint16_t> Row(size_t(S.Width) * Samples);
  for (int y = 0; y < S.Height && Error.empty(); ++y) {
    for (int x = 0; x < S.Width; ++x) {
      if (S.LinearRaw) {
        for (int c = 0; c < 3; ++c)
          Row[size_t(x) * 3 + c] = SceneValue(x, y, c, S.Width, S.Height);
      } else {
        const int C = (y & 1) ? ((x & 1) ? 2 : 1) : ((x & 1) ? 1 : 0);
        Row[size_t(x)] = SceneValue(x, y, C, S.Width, S.Height);
      }
    }
    if (TIFFWriteScanline(T, Row.data(), uint32_t(y), 0) < 0) Error = "cannot write the sensor data";
  }
}

// The tags every DNG carries in its first directory.
void SetDngTags(TIFF* T, const TDng& S) {
  TIFFSetField(T, TIFFTAG_MAKE, "Imbrel");
  TIFFSetField(T, TIFFTAG_MODEL, "Fixture");
  TIFFSetField(T, TIFFTAG_ORIENTATION, uint16_t(S.Orientation));
  const uint8_t Version[4] = {1, 4, 0, 0}, Backward[4] = {1, 1, 0, 0};
  TIFFSetField(T, TIFFTAG_DNGVERSION, Version);
  TIFFSetField(T, TIFFTAG_DNGBACKWARDVERSION, Backward);
  TIFFSetField(T, TIFFTAG_UNIQUECAMERAMODEL, "Imbrel Fixture");
  // The camera sees linear sRGB under D65: its matrix is XYZ to linear sRGB.
  const float Matrix[9] = {3.2406f, -1.5372f, -0.4986f, -0.9689f, 1.8758f,
                           0.0415f, 0.0557f,  -0.2040f, 1.0570f};
  TIFFSetField(T, TIFFTAG_COLORMATRIX1, 9, Matrix);
  TIFFSetField(T, TIFFTAG_CALIBRATIONILLUMINANT1, 21);
  const float Neutral[3] = {1, 1, 1};
  TIFFSetField(T, TIFFTAG_ASSHOTNEUTRAL, 3, Neutral);
}

} // namespace

std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& Rgb, int W, int H, int Quality,
                                int Orientation) {
  jpeg_compress_struct C;
  jpeg_error_mgr E;
  C.err = jpeg_std_error(&E);
  jpeg_create_compress(&C);
  unsigned char* Buffer = nullptr;
  unsigned long Size = 0;
  jpeg_mem_dest(&C, &Buffer, &Size);
  C.image_width = JDIMENSION(W);
  C.image_height = JDIMENSION(H);
  C.input_components = 3;
  C.in_color_space = JCS_RGB;
  jpeg_set_defaults(&C);
  jpeg_set_quality(&C, Quality, TRUE);
  jpeg_start_compress(&C, TRUE);
  if (Orientation > 0) {
    const std::vector<uint8_t> Exif = ExifSegment(Orientation);
    jpeg_write_marker(&C, JPEG_APP0 + 1, Exif.data(), unsigned(Exif.size()));
  }
  for (int y = 0; y < H; ++y) {
    JSAMPROW Row = const_cast<uint8_t*>(&Rgb[size_t(y) * size_t(W) * 3]);
    jpeg_write_scanlines(&C, &Row, 1);
  }
  jpeg_finish_compress(&C);
  std::vector<uint8_t> Out(Buffer, Buffer + Size);
  std::free(Buffer);
  jpeg_destroy_compress(&C);
  return Out;
}

std::string WriteDng(const std::string& Path, const TDng& S) {
  TIFF* T = TIFFOpen(Path.c_str(), "w");
  if (!T) return "cannot create " + Path;
  std::string Error;
  const bool PreviewFirst = S.PreviewFirst && !S.Previews.empty();
  const size_t Subs = S.Previews.size(); // the sensor replaces the first preview there
  std::vector<uint64_t> Offsets(Subs, 0);
  // The EXIF directory goes first: the first directory points to it.
  uint64_t Exif = 0;
  if (S.ExifColorSpace > 0) {
    if (TIFFCreateEXIFDirectory(T) != 0 ||
        !TIFFSetField(T, EXIFTAG_COLORSPACE, uint16_t(S.ExifColorSpace)) ||
        !TIFFWriteCustomDirectory(T, &Exif))
      Error = "cannot write the EXIF directory";
    TIFFFreeDirectory(T);
    TIFFCreateDirectory(T);
  }
  // libtiff takes a directory's tags only before its first pixels.
  SetDngTags(T, S);
  if (Exif != 0) TIFFSetField(T, TIFFTAG_EXIFIFD, Exif);
  if (Subs > 0) TIFFSetField(T, TIFFTAG_SUBIFD, uint16_t(Subs), Offsets.data());
  if (PreviewFirst)
    SetPreviewDirectory(T, S.Previews[0], S.Orientation, Error);
  else
    SetSensorDirectory(T, S, Error);
  if (Error.empty() && !TIFFWriteDirectory(T)) Error = "cannot write the first directory";
  for (size_t i = 0; i < Subs && Error.empty(); ++i) {
    if (PreviewFirst && i == 0)
      SetSensorDirectory(T, S, Error);
    else
      SetPreviewDirectory(T, S.Previews[i], S.Orientation, Error);
    if (Error.empty() && !TIFFWriteDirectory(T)) Error = "cannot write a sub-image";
  }
  TIFFClose(T);
  if (!Error.empty()) std::remove(Path.c_str());
  return Error;
}

} // namespace dngfixture

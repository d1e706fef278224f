#pragma once
// TIFF pictures through libtiff: one image per TIFF directory (page).

#include "imaging/DibGraphic.h"

#include <cstdint>
#include <string>

// Raised for what libtiff cannot open or deliver. Most messages are the class
// name, a blank and a detail ("ETiffError TIFFOpen").
class ETiffError : public Exception {
public:
  using Exception::Exception;
};

class TTiffGraphic : public TDibGraphic {
public:
  TTiffGraphic() = default;
  // Known to the image model even before registration, so that frames of
  // this class can be made.
  TDibGraphicClass ClassType() const override { return ClassOf<TTiffGraphic>(); }

  // Compression values used when saving (and set from the file by a load).
  enum : int {
    tcNone = 0,
    tcPackbits = 1,
    tcGroup3_1D = 2,
    tcGroup3_2D = 3,
    tcGroup4 = 4,
    tcZLib = 5,
    tcJpeg = 6
  };
  // "None", "Packbits", "CCITT Group 3, 1D", ...; empty for other values.
  static std::string CompressionText(int Value);
  // Whether images of Format may be saved with Value.
  static bool CompressionAllowed(TImageFormat Format, int Value);

  int Compression() const { return FCompression; }
  // Raises EImageError "%s compression not supported with %s images" when the
  // image's format does not allow Value.
  void SetCompression(int Value);
  // Rows per strip: set by a load from the file (16 when it has none), used
  // when saving.
  uint32_t RowsPerStrip = 16;

  void Assign(const TPersistent* Source) override;
  int GetImageCount(TStream& Stream) override;
  // Decodes directory Index - 1 (Index is 1-based).
  void LoadImageFromStream(TStream& Stream, int Index) override;
  void SaveToStream(TStream& Stream) override;
  // Saves into an empty stream, else adds a directory to the TIFF in it.
  void AppendToStream(TStream& Stream) override;
  // Also resets Compression to the format's default (4 for ifBlackWhite,
  // 1 otherwise).
  void NewImage(int Width, int Height, TImageFormat Format, const TLogPalette* Palette,
                uint16_t XDpi, uint16_t YDpi) override;

private:
  void WriteDirectory(TStream& Stream, int64_t Base, const char* Mode);

  int FCompression = tcGroup4;
};

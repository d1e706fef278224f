#pragma once
// PNG pictures through libpng, into every image format of the image model.
// Transparency is composited onto a background; no image keeps an alpha
// channel.

#include "imaging/DibGraphic.h"

#include <cstdint>

// Raised for everything libpng rejects (with libpng's own message text) and
// for the reader's own checks.
class EPNGError : public Exception {
public:
  using Exception::Exception;
};

class TPngGraphic : public TDibGraphic {
public:
  TPngGraphic() = default;
  // Known to the image model even before registration, so that frames of
  // this class can be made.
  TDibGraphicClass ClassType() const override { return ClassOf<TPngGraphic>(); }

  // Decodes the PNG data that start at the stream's position; Index is
  // ignored.
  void LoadImageFromStream(TStream& Stream, int Index) override;
  void SaveToStream(TStream& Stream) override;

  // Receives the file's gamma when reading (0.5 when the file has none); the
  // gamma written when saving.
  double Gamma = 0.5;
  // Colour (0x00RRGGBB) that transparency is composited onto when the file
  // names no background, or always when ForceBackground is on. When saving,
  // the colour of the background chunk.
  uint32_t BackgroundColor = 0;
  bool ForceBackground = false;

  // Settings used only when saving.
  int CompressionLevel = 1;      // 0, 1, 2: zlib levels 1, 5, 9
  bool Interlaced = true;        // Adam7 interlacing
  bool WriteBackground = false;  // write a bKGD chunk from BackgroundColor
  bool Transparent = false;      // write a tRNS chunk for TransparentColor
  uint32_t TransparentColor = 0; // 0x00RRGGBB
  // Warnings libpng reported during the last load or save; they never stop
  // the work and are never shown.
  int WarningCount = 0;
};

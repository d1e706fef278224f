#pragma once
// DCX files: a table of page offsets followed by complete PCX files, one per
// page. A page is cut out into a memory stream and decoded as a PCX file.

#include "platform/Exception.h"
#include "formats/PcxGraphic.h"

class EDcxError : public Exception {
public:
  using Exception::Exception;
};

class TDcxGraphic : public TPcxGraphic {
public:
  // The number of pages: the non-zero entries of the offset table.
  int GetImageCount(TStream& Stream) override;
  // Decodes page Index (1-based).
  void LoadImageFromStream(TStream& Stream, int Index) override;
  // Writes a DCX file with a 4100-byte header (the magic and 1024 offset
  // slots) and this image as its one page.
  void SaveToStream(TStream& Stream) override;
  // Adds this image as a further page at the end of a DCX stream (an empty
  // stream gets a new file).
  void AppendToStream(TStream& Stream) override;

  static constexpr uint32_t kMagic = 987654321; // 0x3ADE68B1
  static constexpr int kSlots = 1024;
  static constexpr uint32_t kFirstPage = 4 + 4 * kSlots; // 4100
};

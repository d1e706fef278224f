#pragma once
// ZSoft paintbrush files (.pcx, .pcc), decoded by the bitmap module.

#include "imaging/DibGraphic.h"

class TPcxGraphic : public TDibGraphic {
public:
  // Decodes one PCX file from the stream's position; Index is ignored.
  void LoadImageFromStream(TStream& Stream, int Index) override;
  // Writes a PCX file through the bitmap module, with XDpi and YDpi in its header.
  void SaveToStream(TStream& Stream) override;
};

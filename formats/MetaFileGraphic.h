#pragma once
// Windows metafiles (.wmf) and enhanced metafiles (.emf) as true-colour
// images of the picture's size at the screen's resolution, played onto white.

#include "imaging/DibGraphic.h"

class TMetaFileGraphic : public TDibGraphic {
public:
  // Index is ignored: a metafile gives one image.
  void LoadImageFromStream(TStream& Stream, int Index) override;
  // Records an enhanced metafile of the image's size holding the image as
  // one bitmap record.
  void SaveToStream(TStream& Stream) override;
};

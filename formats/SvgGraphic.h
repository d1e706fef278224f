#pragma once
// SVG and SVGZ pictures as true-colour images of the document's natural size
// (see platform/SvgDocument.h), drawn by the platform on white, as metafiles
// are, at 96 dots per inch (the resolution SVG's units are defined at).

#include "imaging/DibGraphic.h"

class TSvgGraphic : public TDibGraphic {
public:
  TSvgGraphic() = default;
  TDibGraphicClass ClassType() const override { return ClassOf<TSvgGraphic>(); }

  // Index is ignored: a document gives one picture. Raises ESvgError
  // (platform/SvgDocument.h) for documents the platform refuses and for
  // natural sizes above the pixel limit.
  void LoadImageFromStream(TStream& Stream, int Index) override;
};

#include "formats/MetaFileGraphic.h"

#include "platform/MetaFile.h"
#include "platform/MemoryBudget.h"

#include <cstring>

void TMetaFileGraphic::LoadImageFromStream(TStream& Stream, int /*Index*/) {
  TMetafile metafile;
  metafile.LoadFromStream(Stream);
  if (!PixelsAllowed(metafile.Width(), metafile.Height()))
    throw EMetafileError(PixelLimitMessage(metafile.Width(), metafile.Height()));
  NewImage(metafile.Width(), metafile.Height(), ifTrueColor, nullptr, 0, 0);
  std::memset(Bits(), 0xFF, BitmapInfo().bmiHeader.biSizeImage);
  TCanvas* canvas = Canvas();
  if (!canvas) throw EImageError("Metafile image has no canvas");
  metafile.Draw(*canvas, TRect{0, 0, Width(), Height()});
  canvas->Flush();
}

void TMetaFileGraphic::SaveToStream(TStream& Stream) {
  TMetafile metafile;
  {
    TMetafileCanvas canvas(metafile, Width(), Height());
    FlushCanvas();
    canvas.DrawDib(0, 0, DibView());
    canvas.Finish();
  }
  metafile.SaveToStream(Stream);
}

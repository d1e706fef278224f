#include "formats/SvgGraphic.h"

#include "platform/MemoryBudget.h"
#include "platform/SvgDocument.h"

#include <climits>
#include <cstring>
#include <string>

void TSvgGraphic::LoadImageFromStream(TStream& Stream, int /*Index*/) {
  const TStreamBytes Bytes(Stream);
  TSvgDocument Document;
  Document.LoadFromMemory(Bytes.Data(), Bytes.Size());
  const int64_t W = Document.Width(), H = Document.Height();
  if (!PixelsAllowed(W, H) || W > INT_MAX || H > INT_MAX) throw ESvgError(PixelLimitMessage(W, H));
  NewImage(int(W), int(H), ifTrueColor, nullptr, 96, 96);
  // A few bytes of vector data describe a picture of any size: no rule of
  // data against size holds here. The pixel limit and the memory budget do,
  // the drawing surface (32 bits a pixel, beside the picture) included.
  const uint64_t Surface = uint64_t(W) * uint64_t(H) * 4;
  const TMemoryReservation Drawing(Surface);
  if (Surface > 0 && !Drawing)
    throw ESvgError("SVG: drawing a " + std::to_string(W) + " x " + std::to_string(H) +
                    " picture needs " + std::to_string(Surface >> 20) +
                    " MB besides the picture, more than the memory budget has left");
  // Transparent parts show the white metafiles are played onto.
  std::memset(Bits(), 0xFF, BitmapInfo().bmiHeader.biSizeImage);
  TCanvas* Canvas = this->Canvas();
  if (!Canvas) throw EImageError("SVG image has no canvas");
  Document.Draw(*Canvas, TRect{0, 0, int(W), int(H)});
  Canvas->Flush();
}

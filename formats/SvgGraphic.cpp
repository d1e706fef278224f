#include "formats/SvgGraphic.h"

#include "platform/MemoryBudget.h"
#include "platform/SvgDocument.h"

#include <climits>
#include <cstring>

void TSvgGraphic::LoadImageFromStream(TStream& Stream, int /*Index*/) {
  const TStreamBytes Bytes(Stream);
  TSvgDocument Document;
  Document.LoadFromMemory(Bytes.Data(), Bytes.Size());
  const int64_t W = Document.Width(), H = Document.Height();
  if (!PixelsAllowed(W, H) || W > INT_MAX || H > INT_MAX) throw ESvgError(PixelLimitMessage(W, H));
  NewImage(int(W), int(H), ifTrueColor, nullptr, 96, 96);
  // Transparent parts show the white metafiles are played onto.
  std::memset(Bits(), 0xFF, BitmapInfo().bmiHeader.biSizeImage);
  TCanvas* Canvas = this->Canvas();
  if (!Canvas) throw EImageError("SVG image has no canvas");
  Document.Draw(*Canvas, TRect{0, 0, int(W), int(H)});
  Canvas->Flush();
}

#include "formats/IconGraphic.h"

#include <cstring>

void TIconGraphic::LoadImageFromStream(TStream& Stream, int /*Index*/) {
  TPlatformIcon icon;
  icon.LoadFromStream(Stream);
  NewImage(icon.Width(), icon.Height(), ifTrueColor, nullptr, 0, 0);
  std::memset(Bits(), 0, size_t(Height()) * size_t(BytesPerRow()));
  TCanvas* canvas = Canvas();
  if (!canvas) throw EImageError("Icon image has no canvas");
  icon.Draw(*canvas, 0, 0);
  canvas->Flush();
}

void TIconGraphic::SaveToStream(TStream& Stream) {
  TDibView picture;
  if (!Empty()) {
    FlushCanvas();
    picture = DibView();
  }
  TPlatformIcon::CreateOpaque(kSystemIconSize, kSystemIconSize, &picture).SaveToStream(Stream);
}

void TIcon::Draw(TCanvas& Canvas, const TRect& Rect) {
  FIcon.Draw(Canvas, Rect.Left, Rect.Top);
}

void TIcon::SetHeightValue(int) {
  throw EInvalidGraphic("Cannot change the size of an icon");
}
void TIcon::SetWidthValue(int) {
  throw EInvalidGraphic("Cannot change the size of an icon");
}

void TIcon::LoadFromStream(TStream& Stream) {
  TPlatformIcon icon;
  icon.LoadFromStream(Stream);
  FIcon = icon;
  Changed();
}

void TIcon::SaveToStream(TStream& Stream) {
  FIcon.SaveToStream(Stream);
}

void TIcon::LoadFromClipboardFormat(uint16_t, const TBitmapHandle&, const TPalette*) {
  throw EInvalidGraphic("Clipboard does not support Icons");
}

void TIcon::SaveToClipboardFormat(uint16_t&, TBitmapHandle&, const TPalette*&) {
  throw EInvalidGraphic("Clipboard does not support Icons");
}

bool AssignDibToIcon(const TDibGraphic& Source, TPersistent* Dest) {
  auto* icon = dynamic_cast<TIcon*>(Dest);
  if (!icon) return false;
  TMemoryStream stream;
  if (auto* asIcon = dynamic_cast<const TIconGraphic*>(&Source)) {
    // SaveToStream only reads the image (it flushes pending canvas drawing).
    const_cast<TIconGraphic*>(asIcon)->SaveToStream(stream);
  } else {
    TIconGraphic temporary;
    temporary.Assign(&Source);
    temporary.SaveToStream(stream);
  }
  stream.SetPosition(0);
  icon->LoadFromStream(stream);
  return true;
}

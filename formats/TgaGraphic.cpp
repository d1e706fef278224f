#include "formats/TgaGraphic.h"

#include "formats/bitmap_module/BmmBridge.h"

void TTgaGraphic::LoadFromStream(TStream& Stream) {
  TMemoryStream temp;
  TStream& s = BmmRewoundStream(Stream, temp);
  s.SetPosition(0);
  ReadBmmImage(s, *this, "File.tga", "");
}

void TTgaGraphic::SaveToStream(TStream& Stream) {
  const TImageFormat f = ImageFormat();
  if (f != ifGray256 && f != ifColor256 && f != ifTrueColor)
    throw ETgaError("TARGA image must be true color or 8 bit with palette");
  WriteBmmImage(Stream, *this, "File.tga");
}

#include "formats/PcxGraphic.h"

#include "formats/bitmap_module/BmmBridge.h"

namespace {
constexpr int64_t kOffDpi = 12; // horizontal, then vertical dpi, 16 bits each
}

void TPcxGraphic::LoadImageFromStream(TStream& Stream, int) {
  TMemoryStream temp;
  TStream& s = BmmRewoundStream(Stream, temp);
  uint8_t dpi[4] = {}; // 0 where the file is too short
  s.SetPosition(kOffDpi);
  s.Read(dpi, sizeof dpi);
  s.SetPosition(0);
  ReadBmmImage(s, *this, "File.pcx", "");
  SetXDpi(static_cast<uint16_t>(dpi[0] | dpi[1] << 8));
  SetYDpi(static_cast<uint16_t>(dpi[2] | dpi[3] << 8));
}

void TPcxGraphic::SaveToStream(TStream& Stream) {
  const int64_t start = Stream.Position();
  WriteBmmImage(Stream, *this, "File.pcx");
  const int64_t end = Stream.Position();
  const uint16_t x = XDpi();
  const uint16_t y = YDpi();
  const uint8_t dpi[4] = {static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8),
                          static_cast<uint8_t>(y), static_cast<uint8_t>(y >> 8)};
  Stream.SetPosition(start + kOffDpi);
  Stream.WriteBuffer(dpi, sizeof dpi);
  Stream.SetPosition(end);
}

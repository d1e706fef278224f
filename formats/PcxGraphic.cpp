#include "formats/PcxGraphic.h"

#include "formats/bitmap_module/BmmBridge.h"
#include "platform/ByteReader.h"

#include <vector>

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
  TByteReader resolution(dpi, sizeof dpi);
  const uint16_t horizontal = resolution.Le16();
  const uint16_t vertical = resolution.Le16();
  SetXDpi(horizontal);
  SetYDpi(vertical);
}

void TPcxGraphic::SaveToStream(TStream& Stream) {
  const int64_t start = Stream.Position();
  WriteBmmImage(Stream, *this, "File.pcx");
  const int64_t end = Stream.Position();
  std::vector<uint8_t> dpi;
  TByteWriter out(dpi);
  out.Le16(XDpi());
  out.Le16(YDpi());
  Stream.SetPosition(start + kOffDpi);
  Stream.WriteBuffer(dpi.data(), static_cast<int64_t>(dpi.size()));
  Stream.SetPosition(end);
}

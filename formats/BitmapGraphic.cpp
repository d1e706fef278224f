#include "BitmapGraphic.h"

#include "BmmBridge.h"
#include "ByteOrder.h"
#include "MemoryBudget.h"

#include <cmath>
#include <vector>

namespace {

// Offsets of the horizontal and vertical resolution (pixels per metre) in a
// file with a 40-byte info header.
constexpr int64_t kOffResolution = 38;

// A resolution in pixels per metre as whole dots per inch; 0 when it does not
// fit the 16-bit field.
uint16_t DpiOf(int32_t PelsPerMeter) {
  const double dpi = std::round(PelsPerMeter * 0.0254);
  return (dpi < 0 || dpi > 65535) ? 0 : static_cast<uint16_t>(dpi);
}

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

// The platform's BMP decoder on the whole stream. It does not check the pixel
// limit itself: the bitmap module's refusal of a picture above it is passed on
// without asking this decoder, and what does reach it is bounded by the
// reader's own allocation limit. The reader leaves the pixels a damaged
// run-length picture never reaches as it found them in fresh memory; decoding
// into zeroed pixels gives those pixels palette entry 0 or black, the same on
// every decode.
TBitmapHandle DecodeWithPlatform(TStream& Stream) {
  Stream.SetPosition(0);
  const int64_t size = Stream.Size();
  const uint8_t* data = Stream.Memory();
  std::vector<uint8_t> copy;
  if (!data) {
    copy.resize(static_cast<size_t>(size));
    Stream.ReadBuffer(copy.data(), size);
    data = copy.data();
  }
  std::string error;
  TBitmapHandle bitmap =
      ReadPictureData(data, static_cast<size_t>(size), "bmp", error,
                      TPictureReadOptions{.CheckPixelLimit = false, .ZeroFill = true});
  if (!bitmap) throw EInvalidGraphic("Bitmap image is not valid");
  return bitmap;
}

} // namespace

void TBitmapGraphic::LoadImageFromStream(TStream& Stream, int) {
  TMemoryStream temp;
  TStream& s = BmmRewoundStream(Stream, temp);

  // The resolution sits at offset 38 for the common header; it is read for
  // every file. What the file does not hold counts as 0.
  uint8_t res[8] = {};
  s.SetPosition(kOffResolution);
  s.Read(res, sizeof res);
  s.SetPosition(0);

  try {
    ReadBmmImage(s, *this, "File.bmp", "inv");
  } catch (const EBmmError& e) {
    if (IsPixelLimitMessage(e.Message())) throw; // too large for any decoder
    AssignBitmapHandle(DecodeWithPlatform(s));
  } catch (const std::exception&) {
    AssignBitmapHandle(DecodeWithPlatform(s));
  }
  SetXDpi(DpiOf(static_cast<int32_t>(LoadLe32(res))));
  SetYDpi(DpiOf(static_cast<int32_t>(LoadLe32(res + 4))));
}

void TBitmapGraphic::SaveToStream(TStream& Stream) {
  if (Empty()) throw EImageError("Cannot save an empty image");
  const TBitmapInfoHeader& h = BitmapInfo().bmiHeader;
  const uint32_t colours = ImageFormat() == ifTrueColor ? 0 : h.biClrUsed;
  const uint32_t paletteBytes = 4 * colours;
  const uint64_t imageSize = uint64_t(Height()) * BytesPerRow();
  const uint64_t fileSize = 54 + paletteBytes + imageSize;

  std::vector<uint8_t> head(54 + paletteBytes, 0);
  uint8_t* p = head.data();
  Put16(p, 0x4D42); // "BM"
  Put32(p + 2, fileSize > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(fileSize));
  Put32(p + 10, 54 + paletteBytes); // offset of the pixel data
  p += 14;
  Put32(p, 40);
  Put32(p + 4, static_cast<uint32_t>(h.biWidth));
  Put32(p + 8, static_cast<uint32_t>(h.biHeight));
  Put16(p + 12, 1);
  Put16(p + 14, h.biBitCount);
  Put32(p + 16, h.biCompression);
  Put32(p + 20, imageSize > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(imageSize));
  Put32(p + 24, static_cast<uint32_t>(h.biXPelsPerMeter));
  Put32(p + 28, static_cast<uint32_t>(h.biYPelsPerMeter));
  Put32(p + 32, colours);
  Put32(p + 36, h.biClrImportant);
  p += 40;
  for (uint32_t i = 0; i < colours && i < 256; ++i, p += 4) {
    const TRgbQuad& q = BitmapInfo().bmiColors[i];
    p[0] = q.rgbBlue;
    p[1] = q.rgbGreen;
    p[2] = q.rgbRed;
    p[3] = 0;
  }
  Stream.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
  Stream.WriteBuffer(Bits(), static_cast<int64_t>(imageSize));
}

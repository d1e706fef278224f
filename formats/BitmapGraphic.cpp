#include "formats/BitmapGraphic.h"

#include "formats/bitmap_module/BmmBridge.h"
#include "platform/ByteReader.h"
#include "platform/MemoryBudget.h"

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

// The platform's BMP decoder on the whole stream. The bitmap module's refusal
// of a picture above the pixel limit is passed on without asking this decoder;
// but the module may refuse a file for its layout first (16 or 32 bits per
// pixel, bit fields) before it looks at the size, so the reader checks the
// limit too, before it takes any pixel memory. The reader leaves the pixels a
// damaged run-length picture never reaches as it found them in fresh memory;
// decoding into zeroed pixels gives those pixels palette entry 0 or black, the
// same on every decode.
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
                      TPictureReadOptions{.CheckPixelLimit = true, .ZeroFill = true});
  if (!bitmap && IsPixelLimitMessage(error)) throw EImageError(error);
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
  TByteReader resolution(res, sizeof res);
  SetXDpi(DpiOf(resolution.LeI32()));
  SetYDpi(DpiOf(resolution.LeI32()));
}

void TBitmapGraphic::SaveToStream(TStream& Stream) {
  if (Empty()) throw EImageError("Cannot save an empty image");
  const TBitmapInfoHeader& h = BitmapInfo().bmiHeader;
  const uint32_t colours = ImageFormat() == ifTrueColor ? 0 : h.biClrUsed;
  const uint32_t paletteBytes = 4 * colours;
  const uint64_t imageSize = uint64_t(Height()) * BytesPerRow();
  const uint64_t fileSize = 54 + paletteBytes + imageSize;

  std::vector<uint8_t> head;
  head.reserve(54 + paletteBytes);
  TByteWriter out(head);
  out.Le16(0x4D42); // "BM"
  out.Le32(fileSize > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(fileSize));
  out.Le32(0);                 // reserved
  out.Le32(54 + paletteBytes); // offset of the pixel data
  out.Le32(40);
  out.LeI32(h.biWidth);
  out.LeI32(h.biHeight);
  out.Le16(1);
  out.Le16(h.biBitCount);
  out.Le32(h.biCompression);
  out.Le32(imageSize > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(imageSize));
  out.LeI32(h.biXPelsPerMeter);
  out.LeI32(h.biYPelsPerMeter);
  out.Le32(colours);
  out.Le32(h.biClrImportant);
  for (uint32_t i = 0; i < colours && i < 256; ++i) {
    const TRgbQuad& q = BitmapInfo().bmiColors[i];
    out.U8(q.rgbBlue);
    out.U8(q.rgbGreen);
    out.U8(q.rgbRed);
    out.U8(0);
  }
  // A palette longer than the table is written with black entries.
  out.Zeros(54 + paletteBytes - head.size());
  Stream.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
  Stream.WriteBuffer(Bits(), static_cast<int64_t>(imageSize));
}

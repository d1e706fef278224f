#include "formats/BitmapGraphic.h"

#include "formats/bitmap_module/BmmBridge.h"
#include "platform/ByteReader.h"
#include "platform/MemoryBudget.h"

#include <cmath>
#include <cstdlib>
#include <string>
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

// Whether the pixel data of a BMP the bitmap module refused can fill a
// meaningful part of the picture its header claims; false with Error set
// when not. Headers it cannot read are the platform decoder's to judge.
bool PlatformDataCanFill(const uint8_t* Data, size_t Size, std::string& Error) {
  TByteReader in(Data, Size);
  if (in.Le16() != 0x4D42) return true; // "BM"
  in.Skip(8);
  const uint32_t offset = in.Le32();
  const uint32_t infoSize = in.Le32();
  int64_t width = 0, height = 0;
  uint32_t bits = 0, compression = 0;
  if (infoSize == 12) {
    width = in.Le16();
    height = in.Le16();
    in.Skip(2);
    bits = in.Le16();
  } else {
    width = in.LeI32();
    height = std::abs(int64_t(in.LeI32()));
    in.Skip(2);
    bits = in.Le16();
    compression = in.Le32();
  }
  if (in.Failed() || width <= 0 || height <= 0 || bits == 0 || bits > 32) return true;
  // A claim above the pixel limit is refused by the platform reader with
  // the limit's own message.
  if (!PixelsAllowed(width, height)) return true;
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  uint64_t least = 0;
  if (compression == 0 || compression == 3 || compression == 6) // plain rows, bit fields
    least = uint64_t((width * bits + 31) / 32 * 4) * uint64_t(height);
  else if (compression == 1 || compression == 2) // run-length: 255 pixels in two bytes at best
    least = pixels * 2 / 255;
  const uint64_t held = offset < Size ? Size - offset : 0;
  if (DataCanFill(held, least, pixels * 4)) return true;
  Error = ShortDataMessage("BMP", held, width, height);
  return false;
}

// The platform's BMP decoder on the whole stream, for layouts the bitmap
// module does not read. The module may refuse a file for its layout (16 or 32
// bits per pixel, bit fields) before it looks at the size, so this path checks
// on its own: files whose data cannot fill a meaningful part of their picture
// never reach the decoder, and the platform reader checks the pixel limit and
// holds its memory from the budget before it allocates. The reader leaves the
// pixels a damaged run-length picture never reaches as it found them in fresh
// memory; decoding into zeroed pixels gives those pixels palette entry 0 or
// black, the same on every decode.
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
  if (!PlatformDataCanFill(data, static_cast<size_t>(size), error)) throw EInvalidGraphic(error);
  TBitmapHandle bitmap = ReadPictureData(data, static_cast<size_t>(size), "bmp", error,
                                         TPictureReadOptions{.ZeroFill = true});
  if (!bitmap) {
    // A refusal by size or memory says why; a reader's failure keeps the
    // format's own message.
    if (IsPixelLimitMessage(error)) throw EImageError(error);
    if (error.rfind("Out of memory", 0) == 0) throw EInvalidGraphic(error);
    throw EInvalidGraphic("Bitmap image is not valid");
  }
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
    // Too large, or too short for what it claims: so for any decoder.
    if (IsPixelLimitMessage(e.Message()) || IsShortDataMessage(e.Message())) throw;
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

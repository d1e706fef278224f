#include "formats/bitmap_module/BmmBridge.h"

#include "formats/bitmap_module/Bmm.h"
#include "platform/MemoryBudget.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

int BppOfFormat(TImageFormat Format) {
  switch (Format) {
  case ifBlackWhite:
    return 1;
  case ifGray16:
  case ifColor16:
    return 4;
  case ifGray256:
  case ifColor256:
    return 8;
  case ifTrueColor:
    return 24;
  }
  throw EBmmError("Internal error: Invalid image format");
}

// What a failed reading step raises: the step's fixed text, or the module's
// reason where the refusal was the module's own choice (the fixed text would
// not say what is wrong with the file).
[[noreturn]] void StepFailed(const char* Fixed, const std::string& Reason) {
  throw EBmmError(Reason.empty() ? Fixed : Reason);
}

} // namespace

void ReadBmmImage(TStream& Stream, TDibGraphic& Image, const std::string& FileName,
                  const std::string& Options) {
  int ft = 0;
  if (bmm_guess_filetype(FileName.c_str(), &ft) != BMM_ERR_OK)
    throw EBmmError("bmm_guess_filetype failed.");

  const uint64_t held = uint64_t(std::max<int64_t>(0, Stream.Size() - Stream.Position()));
  BmmHeader hdr{};
  std::string reason;
  if (bmm_read_header(FileName.c_str(), &Stream, ft, &hdr, Options.c_str(), &reason) != BMM_ERR_OK)
    StepFailed("bmm_read_header failed.", reason);
  if (!PixelsAllowed(hdr.width, hdr.height))
    throw EBmmError(PixelLimitMessage(hdr.width, hdr.height));
  const int64_t pictureBytes = bmm_image_size(hdr.width, hdr.height, hdr.bpp);
  if (!DataCanFill(held, uint64_t(std::max<int64_t>(hdr.leastData, 0)),
                   uint64_t(std::max<int64_t>(pictureBytes, 0)))) {
    std::string format = FileName.substr(FileName.rfind('.') + 1);
    for (char& c : format)
      c = char(std::toupper(static_cast<unsigned char>(c)));
    throw EBmmError(ShortDataMessage(format, held, hdr.width, hdr.height));
  }

  TImageFormat format;
  switch (hdr.bpp) {
  case 1:
    format = ifBlackWhite;
    break;
  case 4:
    format = ifColor16;
    break;
  case 8:
    format = ifColor256;
    break;
  case 24:
    format = ifTrueColor;
    break;
  default:
    throw EBmmError("Internal error: Invalid image format");
  }

  TLogPalette logPalette{};
  if (format != ifTrueColor) {
    BmmPaletteEntry pal[256] = {};
    if (bmm_read_colours(&Stream, ft, &hdr, pal, &reason) != BMM_ERR_OK)
      StepFailed("bmm_read_header failed.", reason);
    const int count = 1 << hdr.bpp;
    logPalette.palVersion = 0x300;
    logPalette.palNumEntries = static_cast<uint16_t>(count);
    for (int i = 0; i < count; ++i)
      logPalette.palPalEntry[i] = {pal[i].r, pal[i].g, pal[i].b, 0};
  }

  Image.NewImage(hdr.width, hdr.height, format, format == ifTrueColor ? nullptr : &logPalette, 0,
                 0);
  if (bmm_read_data(&Stream, ft, &hdr, Image.Bits(), &reason) != BMM_ERR_OK)
    StepFailed("bmm_read_data failed.", reason);
}

void WriteBmmImage(TStream& Stream, const TDibGraphic& Image, const std::string& FileName) {
  int ft = 0;
  if (bmm_guess_filetype(FileName.c_str(), &ft) != BMM_ERR_OK)
    throw EBmmError("bmm_guess_filetype failed.");
  BmmHeader hdr{};
  hdr.width = Image.Width();
  hdr.height = Image.Height();
  hdr.bpp = BppOfFormat(Image.ImageFormat());
  BmmPaletteEntry pal[256] = {};
  if (Image.ImageFormat() != ifTrueColor) {
    const TLogPalette* log = Image.LogPalette();
    const int count = std::min<int>(log->palNumEntries, 256);
    for (int i = 0; i < count; ++i)
      pal[i] = {log->palPalEntry[i].peRed, log->palPalEntry[i].peGreen, log->palPalEntry[i].peBlue};
  }
  const uint8_t* bits = Image.Bits();
  if (!bits || bmm_write(FileName.c_str(), &Stream, ft, &hdr, pal, bits, "") != BMM_ERR_OK)
    throw EBmmError("bmm_write failed.");
}

TStream& BmmRewoundStream(TStream& Stream, TMemoryStream& Temp) {
  const int64_t pos = Stream.Position();
  if (pos == 0) return Stream;
  const int64_t rest = Stream.Size() - pos;
  if (rest > 0) Temp.CopyFrom(Stream, rest);
  Temp.SetPosition(0);
  return Temp;
}

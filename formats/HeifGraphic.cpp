#include "formats/HeifGraphic.h"

#include "formats/HeifBoxes.h"
#include "imaging/AlphaComposite.h"
#include "platform/MemoryBudget.h"

#include <libheif/heif.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

namespace {

// libheif's plugins are registered once for the process and stay.
void InitLibrary() {
  static const bool Ready = [] {
    heif_init(nullptr);
    return true;
  }();
  (void)Ready;
}

struct TContextFree {
  void operator()(heif_context* P) const { heif_context_free(P); }
};
struct THandleRelease {
  void operator()(heif_image_handle* P) const { heif_image_handle_release(P); }
};
struct TImageRelease {
  void operator()(heif_image* P) const { heif_image_release(P); }
};
struct TOptionsFree {
  void operator()(heif_decoding_options* P) const { heif_decoding_options_free(P); }
};
struct TNclxFree {
  void operator()(heif_color_profile_nclx* P) const { heif_nclx_color_profile_free(P); }
};

// Bytes libheif and its codecs need beside the picture while decoding, per
// pixel of the coded image: the decoded planes (up to 16 bits, 4:4:4, with
// alpha), the codec's reference picture and the interleaved RGBA result.
constexpr uint64_t kWorkingBytesPerPixel = 16;

// Codecs code whole blocks: HEVC pads a picture to its 64-pixel coding tree
// blocks (a 16 x 16 picture is coded as 64 x 64), so the codec's output may
// exceed the picture by that much before libheif crops it.
constexpr int kBlockPadding = 256;

// The format as the file's main brand names it: AVIF for AV1 files, HEIC for
// HEVC ones, HEIF for the rest.
std::string FormatName(const uint8_t* Data, size_t Size) {
  if (Size < 12) return "HEIF";
  const heif_brand2 Brand = heif_read_main_brand(Data, int(std::min<size_t>(Size, INT_MAX)));
  for (const char* Avif : {"avif", "avis"})
    if (Brand == heif_fourcc_to_brand(Avif)) return "AVIF";
  for (const char* Hevc : {"heic", "heix", "hevc", "hevx", "heim", "heis", "hevm", "hevs"})
    if (Brand == heif_fourcc_to_brand(Hevc)) return "HEIC";
  return "HEIF";
}

// libheif's message is owned by the context: it is copied before the
// context goes.
void Check(const heif_error& Error, const std::string& Format, const char* What) {
  if (Error.code == heif_error_Ok) return;
  std::string Message = Error.message ? Error.message : "unknown error";
  while (!Message.empty() && (Message.back() == '\n' || Message.back() == ' '))
    Message.pop_back();
  throw EHeifError(Format + " " + What + ": " + Message);
}

// The transfer curve of an nclx (H.273) transfer characteristic; false for
// curves the colour description cannot express.
bool TransferOf(heif_transfer_characteristics Value, TColorDescription& Out) {
  switch (Value) {
  case heif_transfer_characteristic_IEC_61966_2_1:
  case heif_transfer_characteristic_unspecified:
    Out.Transfer = TColorDescription::tfSRGB;
    return true;
  case heif_transfer_characteristic_ITU_R_BT_709_5:
  case heif_transfer_characteristic_ITU_R_BT_601_6:
  case heif_transfer_characteristic_SMPTE_240M:
  case heif_transfer_characteristic_IEC_61966_2_4:
  case heif_transfer_characteristic_ITU_R_BT_1361:
  case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
  case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit:
    Out.Transfer = TColorDescription::tfBT709;
    return true;
  case heif_transfer_characteristic_ITU_R_BT_470_6_System_M:
    Out.Transfer = TColorDescription::tfGamma;
    Out.Gamma = 2.2;
    return true;
  case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G:
    Out.Transfer = TColorDescription::tfGamma;
    Out.Gamma = 2.8;
    return true;
  case heif_transfer_characteristic_SMPTE_ST_428_1:
    Out.Transfer = TColorDescription::tfGamma;
    Out.Gamma = 2.6;
    return true;
  case heif_transfer_characteristic_linear:
    Out.Transfer = TColorDescription::tfLinear;
    return true;
  case heif_transfer_characteristic_ITU_R_BT_2100_0_PQ:
    Out.Transfer = TColorDescription::tfPQ;
    return true;
  case heif_transfer_characteristic_ITU_R_BT_2100_0_HLG:
    Out.Transfer = TColorDescription::tfHLG;
    return true;
  default:
    return false;
  }
}

// The colour description of the primary image: its ICC profile when it has
// one, else its nclx box; null for sRGB (and for descriptions this model
// cannot express, which are shown as sRGB).
TColorDescriptionPtr ColorDescriptionOf(const heif_image_handle* Handle) {
  auto Description = std::make_shared<TColorDescription>();
  const size_t IccSize = heif_image_handle_get_raw_color_profile_size(Handle);
  if (IccSize > 0) {
    Description->Icc.resize(IccSize);
    if (heif_image_handle_get_raw_color_profile(Handle, Description->Icc.data()).code ==
        heif_error_Ok)
      return Description;
    Description->Icc.clear();
  }
  heif_color_profile_nclx* Raw = nullptr;
  if (heif_image_handle_get_nclx_color_profile(Handle, &Raw).code != heif_error_Ok || !Raw)
    return nullptr;
  const std::unique_ptr<heif_color_profile_nclx, TNclxFree> Nclx(Raw);
  const bool StandardPrimaries =
      Nclx->color_primaries == heif_color_primaries_ITU_R_BT_709_5 ||
      Nclx->color_primaries == heif_color_primaries_unspecified;
  if (!TransferOf(Nclx->transfer_characteristics, *Description)) return nullptr;
  if (StandardPrimaries && Description->Transfer == TColorDescription::tfSRGB) return nullptr;
  // libheif fills in the chromaticities of the primaries it knows.
  if (!StandardPrimaries && Nclx->color_primary_white_x > 0 && Nclx->color_primary_white_y > 0) {
    Description->WhiteX = Nclx->color_primary_white_x;
    Description->WhiteY = Nclx->color_primary_white_y;
    Description->RedX = Nclx->color_primary_red_x;
    Description->RedY = Nclx->color_primary_red_y;
    Description->GreenX = Nclx->color_primary_green_x;
    Description->GreenY = Nclx->color_primary_green_y;
    Description->BlueX = Nclx->color_primary_blue_x;
    Description->BlueY = Nclx->color_primary_blue_y;
  }
  return Description;
}

// Red-green-blue bytes to the image's blue-green-red.
void CopyRgbAsBgr(const uint8_t* Rgb, int Width, uint8_t* Bgr) {
  for (int X = 0; X < Width; ++X, Rgb += 3, Bgr += 3) {
    Bgr[0] = Rgb[2];
    Bgr[1] = Rgb[1];
    Bgr[2] = Rgb[0];
  }
}

// Premultiplied RGBA onto a background: colour + background * (1 - alpha).
void CompositePremultipliedRow(const uint8_t* Rgba, int Width, uint32_t Background,
                               uint8_t* Bgr) {
  const unsigned Back[3] = {Background & 0xFF, (Background >> 8) & 0xFF,
                            (Background >> 16) & 0xFF};
  for (int X = 0; X < Width; ++X, Rgba += 4, Bgr += 3) {
    const unsigned Rest = 255 - Rgba[3];
    for (int C = 0; C < 3; ++C) {
      const unsigned V = Rgba[2 - C] + (Back[C] * Rest + 127) / 255;
      Bgr[C] = uint8_t(V > 255 ? 255 : V);
    }
  }
}

} // namespace

void THeifGraphic::LoadImageFromStream(TStream& Stream, int /*Index*/) {
  InitLibrary();
  // libheif reads from memory without a copy of its own: a memory stream's
  // bytes as they are, a file read into one buffer.
  const TStreamBytes Bytes(Stream);
  const std::string Format = FormatName(Bytes.Data(), Bytes.Size());
  if (Bytes.Size() < 12 ||
      heif_check_filetype(Bytes.Data(), int(std::min<size_t>(Bytes.Size(), INT_MAX))) ==
          heif_filetype_no)
    throw EHeifError("HEIF file is not valid: no HEIF file type box");

  const std::unique_ptr<heif_context, TContextFree> Context(heif_context_alloc());
  if (!Context) throw EHeifError(Format + " file cannot be read: out of memory");
  // Reading the boxes only records sizes, so libheif's own limit is off
  // while they are read: the pixel limit below decides with its own message.
  heif_context_set_maximum_image_size_limit(Context.get(), INT_MAX);
  Check(heif_context_read_from_memory_without_copy(Context.get(), Bytes.Data(), Bytes.Size(),
                                                   nullptr),
        Format, "file is not valid");

  heif_image_handle* RawHandle = nullptr;
  Check(heif_context_get_primary_image_handle(Context.get(), &RawHandle), Format,
        "file has no primary image");
  const std::unique_ptr<heif_image_handle, THandleRelease> Handle(RawHandle);

  // The shown size (after rotation and crop) and the coded size that the
  // codec decodes before cropping: both must stay within the pixel limit.
  const int Width = heif_image_handle_get_width(Handle.get());
  const int Height = heif_image_handle_get_height(Handle.get());
  const int CodedWidth = heif_image_handle_get_ispe_width(Handle.get());
  const int CodedHeight = heif_image_handle_get_ispe_height(Handle.get());
  if (Width <= 0 || Height <= 0)
    throw EHeifError(Format + " file is not valid: the primary image has no size");
  if (!PixelsAllowed(Width, Height)) throw EHeifError(PixelLimitMessage(Width, Height));
  if (!PixelsAllowed(CodedWidth, CodedHeight))
    throw EHeifError(PixelLimitMessage(CodedWidth, CodedHeight));

  // A grid's or an overlay's canvas is allocated from the item's own data:
  // it may not exceed the declared picture.
  const int Largest = std::max({Width, Height, CodedWidth, CodedHeight});
  const THeifCanvas Canvas = ReadHeifCanvas(Bytes.Data(), Bytes.Size());
  if (Canvas.Derived && !Canvas.Readable)
    throw EHeifError(Format + " file is not valid: the size of its grid or overlay cannot be read");
  const uint64_t CanvasPixels = uint64_t(Canvas.Width) * Canvas.Height;
  const uint64_t DeclaredPixels = uint64_t(std::max(CodedWidth, 0)) * uint64_t(std::max(CodedHeight, 0));
  if (Canvas.Derived &&
      (CanvasPixels > DeclaredPixels || std::max(Canvas.Width, Canvas.Height) > uint32_t(Largest)))
    throw EHeifError(Format + " file is not valid: its grid or overlay of " +
                     std::to_string(Canvas.Width) + " x " + std::to_string(Canvas.Height) +
                     " pixels exceeds its declared size of " + std::to_string(CodedWidth) + " x " +
                     std::to_string(CodedHeight));

  // From here on, libheif refuses any image larger than the primary one
  // (with the codec's padding to whole coding blocks): grid tiles and the
  // grid itself, alpha planes and codec output that claim more than the
  // file's declared size never get their memory.
  heif_context_set_maximum_image_size_limit(
      Context.get(), Largest < INT_MAX - kBlockPadding ? Largest + kBlockPadding : INT_MAX);

  const uint64_t CodedPixels =
      uint64_t(std::max(Width, CodedWidth)) * uint64_t(std::max(Height, CodedHeight));
  const TMemoryReservation Working(CodedPixels * kWorkingBytesPerPixel);
  if (!Working)
    throw EHeifError(Format + " picture of " + std::to_string(Width) + " x " +
                     std::to_string(Height) + " pixels does not fit in the memory budget");

  const bool HasAlpha = heif_image_handle_has_alpha_channel(Handle.get()) != 0;
  const std::unique_ptr<heif_decoding_options, TOptionsFree> Options(heif_decoding_options_alloc());
  if (!Options) throw EHeifError(Format + " picture cannot be decoded: out of memory");
  Options->ignore_transformations = 0;
  Options->convert_hdr_to_8bit = 1;
  heif_image* RawImage = nullptr;
  const heif_error Decoded = heif_decode_image(
      Handle.get(), &RawImage, heif_colorspace_RGB,
      HasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, Options.get());
  const std::unique_ptr<heif_image, TImageRelease> Image(RawImage);
  Check(Decoded, Format, "picture cannot be decoded");
  if (!Image) throw EHeifError(Format + " picture cannot be decoded: no image");

  int Stride = 0;
  const uint8_t* Plane = heif_image_get_plane_readonly(Image.get(), heif_channel_interleaved, &Stride);
  const int OutWidth = heif_image_get_width(Image.get(), heif_channel_interleaved);
  const int OutHeight = heif_image_get_height(Image.get(), heif_channel_interleaved);
  const int Channels = HasAlpha ? 4 : 3;
  if (!Plane || OutWidth <= 0 || OutHeight <= 0 ||
      heif_image_get_bits_per_pixel(Image.get(), heif_channel_interleaved) != 8 * Channels ||
      Stride < 0 || int64_t(Stride) < int64_t(OutWidth) * Channels)
    throw EHeifError(Format + " picture cannot be decoded: unexpected pixel layout");
  if (!PixelsAllowed(OutWidth, OutHeight)) throw EHeifError(PixelLimitMessage(OutWidth, OutHeight));

  NewImage(OutWidth, OutHeight, ifTrueColor, nullptr, 0, 0);
  const bool Premultiplied = HasAlpha && heif_image_is_premultiplied_alpha(Image.get()) != 0;
  for (int Y = 0; Y < OutHeight; ++Y) {
    const uint8_t* Row = Plane + ptrdiff_t(Y) * Stride;
    if (!HasAlpha)
      CopyRgbAsBgr(Row, OutWidth, ScanLine(Y));
    else if (Premultiplied)
      CompositePremultipliedRow(Row, OutWidth, BackgroundColor, ScanLine(Y));
    else
      CompositeRgbaRow(Row, OutWidth, BackgroundColor, ScanLine(Y));
  }
  SetColorDescription(ColorDescriptionOf(Handle.get()));
}

#include "formats/PngGraphic.h"

#include "platform/MemoryBudget.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <exception>
#include <vector>

namespace {

// What the libpng callbacks share with the loader: the stream, libpng's
// last error text and an exception the stream raised inside a callback.
struct TPngContext {
  TStream* Stream = nullptr;
  char Message[512] = {};
  std::exception_ptr StreamFailure;
  int Warnings = 0;
};

TPngContext& ContextOf(png_structp Png) {
  return *static_cast<TPngContext*>(png_get_error_ptr(Png));
}

// Keeps libpng's message and leaves libpng through its recovery point; the
// exception is raised once the library's frames are gone.
void PngErrorHandler(png_structp Png, png_const_charp Text) {
  std::snprintf(ContextOf(Png).Message, sizeof(TPngContext::Message), "%s", Text ? Text : "");
  png_longjmp(Png, 1);
}

// Warnings are counted and otherwise ignored: a damaged picture must not stop
// or interrupt anything.
void PngWarningHandler(png_structp Png, png_const_charp) {
  ++ContextOf(Png).Warnings;
}

// Reads the requested bytes from the stream. A stream that ends early stops
// the decoding with libpng's own read error at once (libpng asks only for
// bytes it needs, so a picture whose image data are complete still loads);
// a stream that raises ends the decoding with that exception.
void PngReadData(png_structp Png, png_bytep Data, size_t Length) {
  TPngContext& Ctx = ContextOf(Png);
  int64_t Got = 0;
  bool Failed = false;
  try {
    Got = Ctx.Stream->Read(Data, static_cast<int64_t>(Length));
  } catch (...) {
    Ctx.StreamFailure = std::current_exception();
    Failed = true;
  }
  if (Failed || Got < 0 || static_cast<size_t>(Got) < Length) png_error(Png, "Read Error");
}

void PngWriteData(png_structp Png, png_bytep Data, size_t Length) {
  TPngContext& Ctx = ContextOf(Png);
  bool Failed = false;
  try {
    Ctx.Stream->WriteBuffer(Data, static_cast<int64_t>(Length));
  } catch (...) {
    Ctx.StreamFailure = std::current_exception();
    Failed = true;
  }
  if (Failed) png_error(Png, "Write Error");
}

void PngFlush(png_structp) {}

// Runs Step, which calls into libpng, under a fresh recovery point; answers
// false when libpng left through the error handler. Step must own no object
// with a destructor: an error jumps over its frame.
template <class TStep> bool Guarded(png_structp Png, TStep&& Step) {
  if (setjmp(png_jmpbuf(Png)) != 0) return false;
  Step();
  return true;
}

[[noreturn]] void RaiseLibraryError(const TPngContext& Ctx) {
  if (Ctx.StreamFailure) std::rethrow_exception(Ctx.StreamFailure);
  throw EPNGError(Ctx.Message);
}

struct TPngReader {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  TPngReader() = default;
  TPngReader(const TPngReader&) = delete;
  TPngReader& operator=(const TPngReader&) = delete;
  ~TPngReader() {
    if (Png != nullptr) png_destroy_read_struct(&Png, Info != nullptr ? &Info : nullptr, nullptr);
  }
};

struct TPngWriter {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  TPngWriter() = default;
  TPngWriter(const TPngWriter&) = delete;
  TPngWriter& operator=(const TPngWriter&) = delete;
  ~TPngWriter() {
    if (Png != nullptr) png_destroy_write_struct(&Png, Info != nullptr ? &Info : nullptr);
  }
};

// Pixels per metre to dots per inch; 0 (the screen's) when it does not fit.
uint16_t PerMetreToDpi(png_uint_32 PerMetre) {
  const double Dpi = std::nearbyint(PerMetre * 0.0254);
  return Dpi <= 65535.0 ? static_cast<uint16_t>(Dpi) : 0;
}

TImageFormat FormatForDepthAndType(int BitDepth, int ColorType) {
  const char* const kBadType = "Invalid color type for bit depth";
  switch (BitDepth) {
  case 1:
    if (ColorType == PNG_COLOR_TYPE_GRAY || ColorType == PNG_COLOR_TYPE_PALETTE)
      return ifBlackWhite;
    throw EPNGError(kBadType);
  case 2:
  case 4:
    if (ColorType == PNG_COLOR_TYPE_GRAY) return ifGray16;
    if (ColorType == PNG_COLOR_TYPE_PALETTE) return ifColor16;
    throw EPNGError(kBadType);
  case 8:
  case 16:
    switch (ColorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return ifGray256;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return ifTrueColor;
    case PNG_COLOR_TYPE_PALETTE:
      return ifColor256;
    default:
      throw EPNGError(kBadType);
    }
  default:
    throw EPNGError("Invalid bit depth");
  }
}

// Index of the palette entry nearest to Colour (squared distance).
int NearestPaletteIndex(const TLogPalette& Palette, uint32_t Colour) {
  const int R = (Colour >> 16) & 0xFF, G = (Colour >> 8) & 0xFF, B = Colour & 0xFF;
  int Best = 0;
  long BestDistance = -1;
  for (int I = 0; I < Palette.palNumEntries && I < 256; ++I) {
    const TPaletteEntry& E = Palette.palPalEntry[I];
    const long D = long(E.peRed - R) * (E.peRed - R) + long(E.peGreen - G) * (E.peGreen - G) +
                   long(E.peBlue - B) * (E.peBlue - B);
    if (BestDistance < 0 || D < BestDistance) {
      Best = I;
      BestDistance = D;
    }
  }
  return Best;
}

// The grey level of a colour, 0 to 255.
int GreyOf(uint32_t Colour) {
  const int R = (Colour >> 16) & 0xFF, G = (Colour >> 8) & 0xFF, B = Colour & 0xFF;
  return (R * 299 + G * 587 + B * 114 + 500) / 1000;
}

// The largest ancillary chunk libpng may hold once inflated.
constexpr png_alloc_size_t MaxPngChunkBytes = 8u << 20;

// What the decoded pixels are, from the file's colour chunks and the gamma
// step the reader asked libpng for (GammaStep: png_set_gamma with the file's
// gamma FileGamma, or the 0.5 assumed without gAMA, for DisplayGamma).
// libpng's step stores each value v as v ^ (1 / (FileGamma x DisplayGamma)),
// leaving it out when that exponent is within 5 % of 1.
//  - iCCP (as libpng accepted it): the profile, with that exponent noted as
//    the re-encoding the conversion undoes first;
//  - sRGB: none (sRGB);
//  - gAMA or cHRM: primaries from cHRM (sRGB's without) and a gamma curve:
//    after the step the pixels are encoded for DisplayGamma, without it the
//    file's gamma holds (sRGB's curve for cHRM alone);
//  - nothing: none. The reader's assumed gamma 0.5 is its own choice for
//    showing such files on a DisplayGamma screen, which is how they are
//    shown now: taken as sRGB, so they cost no conversion.
TColorDescriptionPtr DescribeColors(png_structp Png, png_infop Info, bool GammaStep,
                                    double FileGamma) {
  const double Exponent = GammaStep ? 1.0 / (FileGamma * DisplayGamma) : 1.0;
  const bool Reencoded = GammaStep && std::fabs(FileGamma * DisplayGamma - 1.0) >= 0.05;
  png_charp Name = nullptr;
  int Compression = 0;
  png_bytep Profile = nullptr;
  png_uint_32 ProfileLength = 0;
  if (png_get_iCCP(Png, Info, &Name, &Compression, &Profile, &ProfileLength) != 0 &&
      Profile != nullptr && ProfileLength > 0) {
    auto D = std::make_shared<TColorDescription>();
    D->Icc.assign(Profile, Profile + ProfileLength);
    if (Reencoded) D->Reencode = Exponent;
    return D;
  }
  int Intent = 0;
  if (png_get_sRGB(Png, Info, &Intent) != 0) return nullptr;
  double FileGammaChunk = 0.0;
  const bool HasGamma = png_get_gAMA(Png, Info, &FileGammaChunk) != 0 && FileGammaChunk > 0.0;
  double WX = 0, WY = 0, RX = 0, RY = 0, GX = 0, GY = 0, BX = 0, BY = 0;
  const bool HasChromaticities =
      png_get_cHRM(Png, Info, &WX, &WY, &RX, &RY, &GX, &GY, &BX, &BY) != 0;
  if (!HasGamma && !HasChromaticities) return nullptr;
  auto D = std::make_shared<TColorDescription>();
  if (HasChromaticities) {
    D->WhiteX = WX, D->WhiteY = WY, D->RedX = RX, D->RedY = RY;
    D->GreenX = GX, D->GreenY = GY, D->BlueX = BX, D->BlueY = BY;
  }
  D->Transfer = TColorDescription::tfGamma;
  if (Reencoded)
    D->Gamma = DisplayGamma;
  else if (HasGamma)
    D->Gamma = 1.0 / FileGammaChunk;
  else if (GammaStep)
    D->Gamma = 1.0 / FileGamma;
  else
    D->Transfer = TColorDescription::tfSRGB; // cHRM alone says nothing of the curve
  return D;
}

} // namespace

void TPngGraphic::LoadImageFromStream(TStream& Stream, int /*Index*/) {
  const uint64_t DataBytes = uint64_t(std::max<int64_t>(0, Stream.Size() - Stream.Position()));
  png_byte Signature[8] = {};
  Stream.Read(Signature, sizeof(Signature));
  if (png_sig_cmp(Signature, 0, sizeof(Signature)) != 0)
    throw EPNGError("PNG file is not valid or corrupted");

  TPngContext Ctx;
  Ctx.Stream = &Stream;
  TPngReader R;
  R.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &Ctx, PngErrorHandler, PngWarningHandler);
  if (R.Png == nullptr) throw EPNGError("png_create_read_struct failed");
  R.Info = png_create_info_struct(R.Png);
  if (R.Info == nullptr) throw EPNGError("png_create_info_struct failed");
  png_structp Png = R.Png;
  png_infop Info = R.Info;

  png_uint_32 ImageWidth = 0, ImageHeight = 0;
  int BitDepth = 0, ColorType = 0, Interlace = 0;
  const bool HeaderRead = Guarded(Png, [&] {
    png_set_read_fn(Png, &Ctx, PngReadData);
    png_set_sig_bytes(Png, 8);
    // Bounds what an ancillary chunk may take once inflated (iCCP profiles).
    png_set_chunk_malloc_max(Png, MaxPngChunkBytes);
    png_read_info(Png, Info);
    png_get_IHDR(Png, Info, &ImageWidth, &ImageHeight, &BitDepth, &ColorType, &Interlace, nullptr,
                 nullptr);
  });
  WarningCount = Ctx.Warnings;
  if (!HeaderRead) RaiseLibraryError(Ctx);
  if (!PixelsAllowed(ImageWidth, ImageHeight))
    throw EPNGError(PixelLimitMessage(ImageWidth, ImageHeight));

  const TImageFormat Format = FormatForDepthAndType(BitDepth, ColorType);
  {
    // Deflate codes at best about 1032 bytes in one: a file far shorter than
    // the filtered rows it claims cannot fill a meaningful part of them.
    const int Channels = (ColorType & PNG_COLOR_MASK_PALETTE) != 0 ? 1
                         : ((ColorType & PNG_COLOR_MASK_COLOR) != 0 ? 3 : 1) +
                               ((ColorType & PNG_COLOR_MASK_ALPHA) != 0 ? 1 : 0);
    const uint64_t RowBits = uint64_t(ImageWidth) * uint64_t(Channels) * uint64_t(BitDepth);
    const uint64_t Filtered = uint64_t(ImageHeight) * (1 + (RowBits + 7) / 8);
    const uint64_t Picture =
        uint64_t(ImageWidth) * ImageHeight * uint64_t(BitsPerPixel(Format)) / 8;
    if (!DataCanFill(DataBytes, Filtered / 1032, Picture))
      throw EPNGError(ShortDataMessage("PNG", DataBytes, ImageWidth, ImageHeight));
  }
  if (Interlace != PNG_INTERLACE_NONE && Interlace != PNG_INTERLACE_ADAM7)
    throw EPNGError("Interlace type not valid");

  // The background record: the chosen colour; grey images take its grey
  // level at their own bit depth (black stays 0).
  png_color_16 Background{};
  Background.index = 0;
  Background.red = static_cast<png_uint_16>((BackgroundColor >> 16) & 0xFF);
  Background.green = static_cast<png_uint_16>((BackgroundColor >> 8) & 0xFF);
  Background.blue = static_cast<png_uint_16>(BackgroundColor & 0xFF);
  if ((ColorType & PNG_COLOR_MASK_COLOR) == 0) {
    const int Depth = BitDepth < 8 ? BitDepth : 8;
    const int Max = (1 << Depth) - 1;
    Background.gray = static_cast<png_uint_16>((GreyOf(BackgroundColor) * Max + 127) / 255);
  }

  uint16_t XRes = 0, YRes = 0;
  int Passes = 1;
  png_colorp FilePalette = nullptr;
  int FilePaletteCount = 0;
  bool HasPalette = false;
  png_size_t RowBytes = 0;
  int OutChannels = 0, OutDepth = 0;
  TColorDescriptionPtr Description;

  const bool Prepared = Guarded(Png, [&] {
    if (BitDepth == 16) {
      png_set_strip_16(Png);
      png_set_swap(Png);
    }
    if (Format == ifTrueColor) png_set_bgr(Png);

    int Intent = 0;
    bool GammaStep = false;
    if (png_get_sRGB(Png, Info, &Intent) != 0) {
      // sRGB data are shown as they are.
      png_set_sRGB(Png, Info, Intent);
    } else if (BitDepth > 2) {
      double FileGamma = 0.0;
      if (png_get_gAMA(Png, Info, &FileGamma) != 0 && FileGamma != 0.0)
        Gamma = FileGamma;
      else
        Gamma = 0.5;
      png_set_gamma(Png, DisplayGamma, Gamma);
      GammaStep = true;
    }
    Description = DescribeColors(Png, Info, GammaStep, Gamma);

    png_color_16p FileBackground = nullptr;
    if (png_get_bKGD(Png, Info, &FileBackground) == 0 || ForceBackground)
      png_set_background(Png, &Background, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    else
      png_set_background(Png, FileBackground, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);

    png_uint_32 PerMetreX = 0, PerMetreY = 0;
    int Unit = 0;
    if (png_get_pHYs(Png, Info, &PerMetreX, &PerMetreY, &Unit) != 0 &&
        Unit == PNG_RESOLUTION_METER) {
      XRes = PerMetreToDpi(PerMetreX);
      YRes = PerMetreToDpi(PerMetreY);
    }

    if (Interlace == PNG_INTERLACE_ADAM7) Passes = png_set_interlace_handling(Png);
    png_read_update_info(Png, Info);

    if ((ColorType & PNG_COLOR_MASK_PALETTE) != 0)
      HasPalette = png_get_PLTE(Png, Info, &FilePalette, &FilePaletteCount) != 0;
    RowBytes = png_get_rowbytes(Png, Info);
    OutChannels = png_get_channels(Png, Info);
    OutDepth = png_get_bit_depth(Png, Info);
  });
  WarningCount = Ctx.Warnings;
  if (!Prepared) RaiseLibraryError(Ctx);

  TLogPalette Palette;
  const TLogPalette* ImagePalette = nullptr;
  if ((ColorType & PNG_COLOR_MASK_PALETTE) != 0) {
    if (!HasPalette || FilePalette == nullptr || FilePaletteCount <= 0)
      throw EPNGError("png_get_PLTE failed");
    Palette.palVersion = 0x300;
    Palette.palNumEntries = static_cast<uint16_t>(FilePaletteCount < 256 ? FilePaletteCount : 256);
    for (int I = 0; I < Palette.palNumEntries; ++I) {
      Palette.palPalEntry[I].peRed = FilePalette[I].red;
      Palette.palPalEntry[I].peGreen = FilePalette[I].green;
      Palette.palPalEntry[I].peBlue = FilePalette[I].blue;
      Palette.palPalEntry[I].peFlags = 0;
    }
    ImagePalette = &Palette;
  }

  // libpng's rows must have the image's own layout before they are read
  // straight into it (2-bit rows are expanded pixel by pixel below).
  const int RowBits = BitDepth == 2 ? 2 : BitsPerPixel(Format);
  if (OutChannels * OutDepth != RowBits)
    throw EPNGError("Unsupported pixel layout after transformation");

  NewImage(static_cast<int>(ImageWidth), static_cast<int>(ImageHeight), Format, ImagePalette, XRes,
           YRes);
  const int W = Width();
  const int H = Height();
  if (BitDepth != 2 && RowBytes > static_cast<png_size_t>(BytesPerRow()))
    throw EPNGError("Unsupported pixel layout after transformation");

  bool RowsRead = false;
  if (BitDepth == 2) {
    std::vector<png_byte> Pixels(RowBytes * static_cast<size_t>(H));
    std::vector<png_bytep> Rows(static_cast<size_t>(H));
    for (int Y = 0; Y < H; ++Y)
      Rows[static_cast<size_t>(Y)] = Pixels.data() + RowBytes * static_cast<size_t>(Y);
    RowsRead = Guarded(Png, [&] { png_read_image(Png, Rows.data()); });
    if (RowsRead) {
      const int Scale = ColorType == PNG_COLOR_TYPE_GRAY ? 5 : 1;
      for (int Y = 0; Y < H; ++Y) {
        const png_byte* Row = Rows[static_cast<size_t>(Y)];
        for (int X = 0; X < W; ++X) {
          const int Value = (Row[X / 4] >> (6 - 2 * (X % 4))) & 3;
          SetPixelIndex(X, Y, Value * Scale);
        }
      }
    }
  } else {
    // Each row is decoded straight into the image; an interlaced file fills
    // in every row once per pass.
    RowsRead = Guarded(Png, [&] {
      for (int Pass = 0; Pass < Passes; ++Pass)
        for (int Y = 0; Y < H; ++Y) {
          if (TDecodeStopScope::Requested()) return;
          png_read_row(Png, ScanLine(Y), nullptr);
        }
    });
  }
  TDecodeStopScope::Check();
  WarningCount = Ctx.Warnings;
  if (!RowsRead) RaiseLibraryError(Ctx);
  SetColorDescription(std::move(Description));
}

void TPngGraphic::SaveToStream(TStream& Stream) {
  const TImageFormat Format = ImageFormat();
  const bool GreyFormat = Format == ifGray16 || Format == ifGray256;
  if (Transparent && GreyFormat)
    throw EPNGError("Gray scale transparent PNG images are not supported.\rUse the ifColor16 or "
                    "ifColor256 image format "
                    "instead.");
  if (Empty()) throw EPNGError("Cannot save an empty image");

  TPngContext Ctx;
  Ctx.Stream = &Stream;
  TPngWriter Wr;
  Wr.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &Ctx, PngErrorHandler, PngWarningHandler);
  if (Wr.Png == nullptr) throw EPNGError("png_create_write_struct failed");
  Wr.Info = png_create_info_struct(Wr.Png);
  if (Wr.Info == nullptr) throw EPNGError("png_create_info_struct failed");
  png_structp Png = Wr.Png;
  png_infop Info = Wr.Info;

  int BitDepth = 8;
  int ColorType = PNG_COLOR_TYPE_PALETTE;
  switch (Format) {
  case ifBlackWhite:
    BitDepth = 1;
    break;
  case ifGray16:
    BitDepth = 4;
    ColorType = PNG_COLOR_TYPE_GRAY;
    break;
  case ifGray256:
    ColorType = PNG_COLOR_TYPE_GRAY;
    break;
  case ifColor16:
    BitDepth = 4;
    break;
  case ifColor256:
    break;
  case ifTrueColor:
    ColorType = PNG_COLOR_TYPE_RGB;
    break;
  }

  const TLogPalette& Source = *LogPalette();
  std::vector<png_color> PaletteEntries;
  std::vector<png_byte> Alpha;
  if (ColorType == PNG_COLOR_TYPE_PALETTE) {
    const int Count =
        Source.palNumEntries < 1 ? 1 : (Source.palNumEntries > 256 ? 256 : Source.palNumEntries);
    PaletteEntries.resize(static_cast<size_t>(Count));
    for (int I = 0; I < Count; ++I)
      PaletteEntries[static_cast<size_t>(I)] = {
          Source.palPalEntry[I].peRed, Source.palPalEntry[I].peGreen, Source.palPalEntry[I].peBlue};
    if (Transparent) {
      Alpha.assign(static_cast<size_t>(Count), 255);
      Alpha[static_cast<size_t>(NearestPaletteIndex(Source, TransparentColor))] = 0;
    }
  }

  png_color_16 Back{};
  if (ColorType == PNG_COLOR_TYPE_PALETTE) {
    Back.index = static_cast<png_byte>(NearestPaletteIndex(Source, BackgroundColor));
  } else if (ColorType == PNG_COLOR_TYPE_GRAY) {
    Back.gray =
        static_cast<png_uint_16>((GreyOf(BackgroundColor) * ((1 << BitDepth) - 1) + 127) / 255);
  } else {
    Back.red = (BackgroundColor >> 16) & 0xFF;
    Back.green = (BackgroundColor >> 8) & 0xFF;
    Back.blue = BackgroundColor & 0xFF;
  }
  png_color_16 Trans{};
  Trans.red = (TransparentColor >> 16) & 0xFF;
  Trans.green = (TransparentColor >> 8) & 0xFF;
  Trans.blue = TransparentColor & 0xFF;

  static const int kZlibLevels[3] = {1, 5, 9};
  const int Level =
      kZlibLevels[CompressionLevel < 0 ? 0 : (CompressionLevel > 2 ? 2 : CompressionLevel)];
  const int W = Width();
  const int H = Height();

  const bool Written = Guarded(Png, [&] {
    png_set_write_fn(Png, &Ctx, PngWriteData, PngFlush);
    png_set_IHDR(Png, Info, static_cast<png_uint_32>(W), static_cast<png_uint_32>(H), BitDepth,
                 ColorType, Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (ColorType == PNG_COLOR_TYPE_PALETTE)
      png_set_PLTE(Png, Info, PaletteEntries.data(), static_cast<int>(PaletteEntries.size()));
    png_set_pHYs(Png, Info, static_cast<png_uint_32>(XPelsPerMeter()),
                 static_cast<png_uint_32>(YPelsPerMeter()), PNG_RESOLUTION_METER);
    if (Gamma > 0.0) png_set_gAMA(Png, Info, Gamma);
    if (WriteBackground) png_set_bKGD(Png, Info, &Back);
    if (Transparent) {
      if (ColorType == PNG_COLOR_TYPE_PALETTE)
        png_set_tRNS(Png, Info, Alpha.data(), static_cast<int>(Alpha.size()), nullptr);
      else
        png_set_tRNS(Png, Info, nullptr, 0, &Trans);
    }
    png_set_compression_level(Png, Level);
    png_write_info(Png, Info);
    if (ColorType == PNG_COLOR_TYPE_RGB) png_set_bgr(Png);
    const int Passes = Interlaced ? png_set_interlace_handling(Png) : 1;
    for (int Pass = 0; Pass < Passes; ++Pass)
      for (int Y = 0; Y < H; ++Y)
        png_write_row(Png, ScanLine(Y));
    png_write_end(Png, Info);
  });
  WarningCount = Ctx.Warnings;
  if (!Written) RaiseLibraryError(Ctx);
}

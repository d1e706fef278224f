#include "formats/TiffGraphic.h"

#include "platform/Memory.h"
#include "platform/MemoryBudget.h"
#include "imaging/Orientation.h"
#include "imaging/Transforms.h"

#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

// A work buffer of Count elements; null when it cannot be had, also when the
// system could not back it with memory.
template <class T> std::unique_ptr<T[]> NewBuffer(size_t Count) {
  if (Count > std::numeric_limits<size_t>::max() / sizeof(T)) return nullptr;
  if (!MemoryCanBeHad(uint64_t(Count) * sizeof(T))) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[Count]);
}

// ---- libtiff client procedures over a TStream ------------------------------

// The TIFF data as libtiff sees them: offsets count from Base, the stream
// position where the TIFF data begin (so a TIFF embedded in a larger stream
// reads as if it had been copied out first). A stream whose bytes are in
// memory is read straight from them when reading.
struct TTiffClient {
  TStream* Stream = nullptr;
  int64_t Base = 0;
  const uint8_t* Memory = nullptr; // the bytes from Base on, or null
  int64_t Size = 0;                // their count (memory reading only)
  int64_t Pos = 0;                 // the read position (memory reading only)
};

TTiffClient& ClientOf(thandle_t Handle) {
  return *static_cast<TTiffClient*>(Handle);
}

tmsize_t TiffRead(thandle_t Handle, void* Buffer, tmsize_t Count) {
  TTiffClient& C = ClientOf(Handle);
  if (Count <= 0) return 0;
  if (C.Memory != nullptr) {
    if (C.Pos >= C.Size) return 0;
    const int64_t N = std::min<int64_t>(Count, C.Size - C.Pos);
    std::memcpy(Buffer, C.Memory + C.Pos, static_cast<size_t>(N));
    C.Pos += N;
    return static_cast<tmsize_t>(N);
  }
  try {
    return static_cast<tmsize_t>(C.Stream->Read(Buffer, Count));
  } catch (...) {
    return -1;
  }
}

tmsize_t TiffWrite(thandle_t Handle, void* Buffer, tmsize_t Count) {
  TTiffClient& C = ClientOf(Handle);
  if (C.Memory != nullptr) return -1; // reading only
  try {
    C.Stream->WriteBuffer(Buffer, Count);
    return Count;
  } catch (...) {
    return -1;
  }
}

toff_t TiffSeek(thandle_t Handle, toff_t Offset, int Whence) {
  TTiffClient& C = ClientOf(Handle);
  const auto Failed = static_cast<toff_t>(-1);
  // libtiff passes relative offsets as two's complement values.
  const auto Delta = static_cast<int64_t>(Offset);
  if (C.Memory != nullptr) {
    int64_t Target;
    switch (Whence) {
    case SEEK_SET:
      Target = Delta;
      break;
    case SEEK_CUR:
      Target = C.Pos + Delta;
      break;
    case SEEK_END:
      Target = C.Size + Delta;
      break;
    default:
      return Failed;
    }
    if (Target < 0) return Failed;
    C.Pos = Target;
    return static_cast<toff_t>(Target);
  }
  try {
    int64_t Result;
    switch (Whence) {
    case SEEK_SET:
      if (Delta < 0 || Delta > INT64_MAX - C.Base) return Failed;
      Result = C.Stream->Seek(C.Base + Delta, TSeekOrigin::soBeginning);
      break;
    case SEEK_CUR:
      Result = C.Stream->Seek(Delta, TSeekOrigin::soCurrent);
      break;
    case SEEK_END:
      Result = C.Stream->Seek(Delta, TSeekOrigin::soEnd);
      break;
    default:
      return Failed;
    }
    if (Result < C.Base) return Failed;
    return static_cast<toff_t>(Result - C.Base);
  } catch (...) {
    return Failed;
  }
}

int TiffClose(thandle_t) {
  return 0;
}

toff_t TiffSize(thandle_t Handle) {
  TTiffClient& C = ClientOf(Handle);
  if (C.Memory != nullptr) return static_cast<toff_t>(C.Size);
  try {
    const int64_t Size = C.Stream->Size() - C.Base;
    return static_cast<toff_t>(Size > 0 ? Size : 0);
  } catch (...) {
    return 0;
  }
}

// No memory mapping: libtiff reads everything through TiffRead.
int TiffMap(thandle_t, void**, toff_t*) {
  return 0;
}
void TiffUnmap(thandle_t, void*, toff_t) {}

// libtiff's diagnostics are discarded; failures reach us through return
// values. The handlers answer 1 ("handled") so that nothing is printed.
int DiscardMessage(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

void DiscardGlobalMessages() {
  static std::once_flag Once;
  std::call_once(Once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
}

struct TTiffFile {
  TIFF* Tif = nullptr;
  TTiffFile() = default;
  TTiffFile(const TTiffFile&) = delete;
  TTiffFile& operator=(const TTiffFile&) = delete;
  ~TTiffFile() {
    if (Tif != nullptr) TIFFClose(Tif);
  }
};

void Open(TTiffFile& File, TTiffClient& Client, const char* Mode) {
  DiscardGlobalMessages();
  TIFFOpenOptions* Options = TIFFOpenOptionsAlloc();
  if (Options != nullptr) {
    TIFFOpenOptionsSetErrorHandlerExtR(Options, DiscardMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(Options, DiscardMessage, nullptr);
  }
  File.Tif = TIFFClientOpenExt("", Mode, &Client, TiffRead, TiffWrite, TiffSeek, TiffClose,
                               TiffSize, TiffMap, TiffUnmap, Options);
  if (Options != nullptr) TIFFOpenOptionsFree(Options);
  if (File.Tif == nullptr) throw ETiffError("ETiffError TIFFOpen");
}

// A client reading the TIFF data that start at the stream's position.
TTiffClient ReadingClient(TStream& Stream) {
  TTiffClient C;
  C.Stream = &Stream;
  C.Base = Stream.Position();
  if (const uint8_t* Bytes = Stream.Memory()) {
    const int64_t Size = Stream.Size();
    if (C.Base >= 0 && C.Base <= Size) {
      C.Memory = Bytes + C.Base;
      C.Size = Size - C.Base;
    }
  }
  if (C.Memory == nullptr) Stream.Seek(C.Base, TSeekOrigin::soBeginning);
  return C;
}

[[noreturn]] void TagError(const char* Detail, int Tag) {
  throw ETiffError(std::string("ETiffError ") + Detail + std::to_string(Tag));
}

bool IsFaxCompression(uint16_t Tag) {
  return Tag == COMPRESSION_CCITTRLE || Tag == COMPRESSION_CCITTFAX3 ||
         Tag == COMPRESSION_CCITTFAX4 || Tag == COMPRESSION_CCITTRLEW;
}

// Dots per inch from a TIFF resolution; 0 (the screen's) when it is not a
// usable 16-bit value.
uint16_t ResolutionToDpi(float Value, uint16_t Unit) {
  const double Dpi = std::nearbyint(Unit == RESUNIT_INCH ? double(Value) : double(Value) * 2.54);
  return Dpi >= 0.0 && Dpi <= 65535.0 ? static_cast<uint16_t>(Dpi) : 0;
}

} // namespace

// ---- Settings ----------------------------------------------------------------

std::string TTiffGraphic::CompressionText(int Value) {
  switch (Value) {
  case tcNone:
    return "None";
  case tcPackbits:
    return "Packbits";
  case tcGroup3_1D:
    return "CCITT Group 3, 1D";
  case tcGroup3_2D:
    return "CCITT Group 3, 2D";
  case tcGroup4:
    return "CCITT Group 4";
  case tcZLib:
    return "ZLib";
  case tcJpeg:
    return "JPEG";
  default:
    return "";
  }
}

bool TTiffGraphic::CompressionAllowed(TImageFormat Format, int Value) {
  switch (Format) {
  case ifBlackWhite:
    return Value >= tcNone && Value <= tcZLib;
  case ifGray256:
  case ifTrueColor:
    return Value == tcNone || Value == tcPackbits || Value == tcZLib || Value == tcJpeg;
  case ifGray16:
  case ifColor16:
  case ifColor256:
    return Value == tcNone || Value == tcPackbits || Value == tcZLib;
  }
  return false;
}

void TTiffGraphic::SetCompression(int Value) {
  if (!CompressionAllowed(ImageFormat(), Value)) {
    char Text[160];
    std::snprintf(Text, sizeof(Text), "%s compression not supported with %s images",
                  CompressionText(Value).c_str(), ImageFormatName(ImageFormat()).c_str());
    throw EImageError(Text);
  }
  FCompression = Value;
}

void TTiffGraphic::NewImage(int Width, int Height, TImageFormat Format, const TLogPalette* Palette,
                            uint16_t XDpi, uint16_t YDpi) {
  TDibGraphic::NewImage(Width, Height, Format, Palette, XDpi, YDpi);
  FCompression = Format == ifBlackWhite ? tcGroup4 : tcPackbits;
}

void TTiffGraphic::Assign(const TPersistent* Source) {
  TDibGraphic::Assign(Source);
  if (const auto* Tiff = dynamic_cast<const TTiffGraphic*>(Source))
    RowsPerStrip = Tiff->RowsPerStrip;
}

// ---- Reading -------------------------------------------------------------------

int TTiffGraphic::GetImageCount(TStream& Stream) {
  TTiffClient Client = ReadingClient(Stream);
  TTiffFile File;
  Open(File, Client, "r");
  TIFFSetDirectory(File.Tif, 0);
  int Count = 1;
  while (TIFFReadDirectory(File.Tif) != 0)
    ++Count;
  return Count;
}

void TTiffGraphic::LoadImageFromStream(TStream& Stream, int Index) {
  const uint64_t DataBytes = uint64_t(std::max<int64_t>(0, Stream.Size() - Stream.Position()));
  TTiffClient Client = ReadingClient(Stream);
  TTiffFile File;
  Open(File, Client, "r");
  TIFF* Tif = File.Tif;
  SetPageCount(static_cast<int>(std::clamp<tdir_t>(TIFFNumberOfDirectories(Tif), 1, INT_MAX)));
  TIFFSetDirectory(Tif, static_cast<tdir_t>(Index > 1 ? Index - 1 : 0));

  // The tags, in this order, with their defaults.
  uint32_t ImageWidth = 0, ImageLength = 0;
  if (TIFFGetField(Tif, TIFFTAG_IMAGEWIDTH, &ImageWidth) == 0)
    TagError("TIFFGetField: Tag = ", 256);
  if (TIFFGetField(Tif, TIFFTAG_IMAGELENGTH, &ImageLength) == 0)
    TagError("TIFFGetField: Tag = ", 257);
  if (!PixelsAllowed(ImageWidth, ImageLength))
    throw ETiffError(PixelLimitMessage(ImageWidth, ImageLength));
  uint16_t Photometric = PHOTOMETRIC_MINISWHITE;
  if (TIFFGetField(Tif, TIFFTAG_PHOTOMETRIC, &Photometric) == 0)
    Photometric = PHOTOMETRIC_MINISWHITE;
  uint16_t CompressionTag = 0;
  if (TIFFGetField(Tif, TIFFTAG_COMPRESSION, &CompressionTag) == 0)
    TagError("TIFFGetField: Tag = ", 259);
  const bool Fax = IsFaxCompression(CompressionTag);
  uint16_t BitsPerSample = 0;
  if (TIFFGetField(Tif, TIFFTAG_BITSPERSAMPLE, &BitsPerSample) == 0) {
    if (!Fax) TagError("TIFFGetField: Tag = ", 258);
    BitsPerSample = 1;
  }
  uint16_t Planar = 0;
  if (TIFFGetField(Tif, TIFFTAG_PLANARCONFIG, &Planar) == 0) TagError("TIFFGetField: Tag = ", 284);
  uint16_t ResolutionUnit = RESUNIT_INCH;
  if (TIFFGetField(Tif, TIFFTAG_RESOLUTIONUNIT, &ResolutionUnit) == 0)
    ResolutionUnit = RESUNIT_INCH;
  float XResolution = 0, YResolution = 0;
  const bool HasXResolution = TIFFGetField(Tif, TIFFTAG_XRESOLUTION, &XResolution) != 0;
  const bool HasYResolution = TIFFGetField(Tif, TIFFTAG_YRESOLUTION, &YResolution) != 0;
  // T4Options is optional in TIFF: without it, 1-D coding (0).
  uint32_t T4Options = 0;
  if (CompressionTag == COMPRESSION_CCITTFAX3 &&
      TIFFGetField(Tif, TIFFTAG_GROUP3OPTIONS, &T4Options) == 0)
    T4Options = 0;
  uint16_t *RedMap = nullptr, *GreenMap = nullptr, *BlueMap = nullptr;
  if (Photometric == PHOTOMETRIC_PALETTE &&
      TIFFGetField(Tif, TIFFTAG_COLORMAP, &RedMap, &GreenMap, &BlueMap) == 0)
    TagError("TIFFGetField3: Tag = ", 320);
  uint32_t FileRowsPerStrip = 0;
  const bool HasRowsPerStrip = TIFFGetField(Tif, TIFFTAG_ROWSPERSTRIP, &FileRowsPerStrip) != 0;
  // The photo's orientation. libtiff's RGBA reading would turn the picture
  // by part of it; told the picture is stored upright, every reading path
  // delivers the stored pixels and the picture is turned once, at the end.
  uint16_t Orientation = ORIENTATION_TOPLEFT;
  if (TIFFGetField(Tif, TIFFTAG_ORIENTATION, &Orientation) != 0 &&
      Orientation != ORIENTATION_TOPLEFT)
    TIFFSetField(Tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);

  const uint16_t XDpiValue = HasXResolution ? ResolutionToDpi(XResolution, ResolutionUnit) : 0;
  const uint16_t YDpiValue = HasYResolution ? ResolutionToDpi(YResolution, ResolutionUnit) : 0;

  if (CompressionTag == COMPRESSION_LZW) LzwError();

  // The reading path and the bit count.
  const bool Rgba = CompressionTag == COMPRESSION_JPEG || TIFFIsTiled(Tif) != 0 ||
                    Photometric == PHOTOMETRIC_SEPARATED || Photometric == PHOTOMETRIC_YCBCR ||
                    BitsPerSample > 8 || Planar > PLANARCONFIG_CONTIG;
  const tmsize_t ScanlineSize = TIFFScanlineSize(Tif);
  // Computed wide: a damaged file may claim 65535 bits per sample and rows
  // far wider than its pixels.
  int64_t BytesPerPixel = 1;
  if (ImageWidth > 0 && ScanlineSize > 0)
    BytesPerPixel = std::max<int64_t>(1, static_cast<int64_t>(std::nearbyint(std::min(
                                             double(ScanlineSize) / double(ImageWidth), 1e9))));
  // JPEG-compressed YCbCr rows are subsampled, so their scanline size says
  // nothing about the pixels; the RGBA path they take delivers 24-bit colour.
  const int BitCount =
      CompressionTag == COMPRESSION_JPEG && Photometric == PHOTOMETRIC_YCBCR
          ? 24
          : static_cast<int>(std::min<int64_t>(24, int64_t(BitsPerSample) * BytesPerPixel));
  if (BitCount != 1 && BitCount != 4 && BitCount != 8 && BitCount != 24)
    throw ETiffError("ETiffError Unsupported bit count: " + std::to_string(BitCount));

  if (Fax && Photometric == PHOTOMETRIC_MINISBLACK) Photometric = PHOTOMETRIC_MINISWHITE;

  // Image format, palette and inversion. Min-is-white pixels copied as they
  // are get inverted afterwards; libtiff's RGBA reading already maps them.
  TImageFormat Format = ifTrueColor;
  TLogPalette Palette;
  const TLogPalette* ImagePalette = nullptr;
  bool Invert = false;
  const bool Grey = Photometric == PHOTOMETRIC_MINISWHITE || Photometric == PHOTOMETRIC_MINISBLACK;
  if (Photometric == PHOTOMETRIC_PALETTE) {
    // A 1-bit palette image keeps its packed rows: black-and-white layout
    // with the file's two colours.
    Format = BitCount == 1 ? ifBlackWhite : (BitsPerSample <= 4 ? ifColor16 : ifColor256);
    const int Entries = BitsPerSample >= 8 ? 256 : 1 << BitsPerSample;
    bool Wide = false;
    for (int I = 0; I < Entries && !Wide; ++I)
      Wide = RedMap[I] > 255 || GreenMap[I] > 255 || BlueMap[I] > 255;
    auto Component = [Wide](uint16_t V) {
      return static_cast<uint8_t>(Wide ? uint32_t(V) * 255 / 65535 : V & 0xFF);
    };
    Palette.palVersion = 0x300;
    Palette.palNumEntries = static_cast<uint16_t>(Entries);
    for (int I = 0; I < Entries; ++I) {
      Palette.palPalEntry[I].peRed = Component(RedMap[I]);
      Palette.palPalEntry[I].peGreen = Component(GreenMap[I]);
      Palette.palPalEntry[I].peBlue = Component(BlueMap[I]);
      Palette.palPalEntry[I].peFlags = 0;
    }
    ImagePalette = &Palette;
  } else if (Grey && BitCount == 1) {
    Format = ifBlackWhite;
  } else if (Grey && BitCount == 4) {
    Format = ifGray16;
  } else if (Grey && BitCount == 8) {
    Format = ifGray256;
  }
  if (Format != ifTrueColor && Photometric == PHOTOMETRIC_MINISWHITE && !Rgba) Invert = true;

  if (ImageWidth > INT_MAX || ImageLength > INT_MAX) throw EImageError("CreateDibSection failed");
  // Strips and tiles must hold data for a meaningful part of the picture:
  // libtiff leaves what they do not reach, and the picture (with the RGBA
  // path's raster) would cost its whole size for a few bytes of file. The
  // fewest bytes each coding needs for the whole picture: none, every byte;
  // PackBits, 2 in 128; Deflate, 1 in about 1032; JPEG, a bit per 8 x 8 block
  // of each sample; the fax codings, a bit per row.
  const uint64_t Pixels = uint64_t(ImageWidth) * ImageLength;
  const uint64_t Raw = ScanlineSize > 0 ? uint64_t(ScanlineSize) * ImageLength : Pixels;
  uint64_t Least = Raw;
  switch (CompressionTag) {
  case COMPRESSION_PACKBITS:
    Least = Raw / 64;
    break;
  case COMPRESSION_ADOBE_DEFLATE:
  case COMPRESSION_DEFLATE:
    Least = Raw / 1032;
    break;
  case COMPRESSION_JPEG:
    Least = Pixels / 512;
    break;
  case COMPRESSION_CCITTRLE:
  case COMPRESSION_CCITTRLEW:
  case COMPRESSION_CCITTFAX3:
  case COMPRESSION_CCITTFAX4:
    Least = ImageLength / 8;
    break;
  default:
    break;
  }
  const uint64_t PictureBytes = Pixels * uint64_t(BitCount) / 8 + (Rgba ? Pixels * 4 : 0);
  if (!DataCanFill(DataBytes, Least, PictureBytes))
    throw ETiffError(ShortDataMessage("TIFF", DataBytes, ImageWidth, ImageLength));
  NewImage(static_cast<int>(ImageWidth), static_cast<int>(ImageLength), Format, ImagePalette,
           XDpiValue, YDpiValue);

  int Setting;
  switch (CompressionTag) {
  case COMPRESSION_NONE:
    Setting = tcNone;
    break;
  case COMPRESSION_PACKBITS:
    Setting = tcPackbits;
    break;
  case COMPRESSION_CCITTRLE:
  case COMPRESSION_CCITTRLEW:
    Setting = tcGroup3_1D;
    break;
  case COMPRESSION_CCITTFAX3:
    Setting = (T4Options & GROUP3OPT_2DENCODING) != 0 ? tcGroup3_2D : tcGroup3_1D;
    break;
  case COMPRESSION_CCITTFAX4:
    Setting = tcGroup4;
    break;
  case COMPRESSION_ADOBE_DEFLATE: // 8, what current writers use for Deflate
  case COMPRESSION_DEFLATE:
    Setting = tcZLib;
    break;
  case COMPRESSION_JPEG:
    Setting = tcJpeg;
    break;
  default: {
    char Text[64];
    std::snprintf(Text, sizeof(Text), "Unsupported compression tag, %d", int(CompressionTag));
    throw ETiffError(Text);
  }
  }
  SetCompression(Setting);
  RowsPerStrip = HasRowsPerStrip ? FileRowsPerStrip : 16;

  const int W = Width();
  const int H = Height();
  const auto RowBytes = static_cast<tmsize_t>(BytesPerRow());
  const bool ColourTriples = !Rgba && !Fax && (BytesPerPixel == 3 || BytesPerPixel == 4);
  // Rows copied as they are must fit the image's rows; pixels read as
  // triples must lie inside the file's rows.
  if (!Rgba) {
    if (ScanlineSize <= 0) throw ETiffError("ETiffError TIFFReadEncodedStrip");
    if (ColourTriples ? ScanlineSize < tmsize_t(W) * BytesPerPixel : ScanlineSize > RowBytes)
      throw ETiffError("ETiffError Unsupported bit count: " + std::to_string(BitCount));
  }

  if (Fax) {
    // Scanline by scanline; a row libtiff cannot decode stays blank.
    std::vector<uint8_t> Row(static_cast<size_t>(ScanlineSize));
    for (int Y = 0; Y < H; ++Y) {
      std::fill(Row.begin(), Row.end(), uint8_t{0});
      TIFFReadScanline(Tif, Row.data(), static_cast<uint32_t>(Y), 0);
      std::memcpy(ScanLine(Y), Row.data(), Row.size());
    }
  } else if (Rgba) {
    // The raster is held from the memory budget while it lives.
    const TMemoryReservation Held(uint64_t(Pixels) * sizeof(uint32_t));
    if (!Held) throw EImageError("Out of memory");
    std::unique_ptr<uint32_t[]> Raster = NewBuffer<uint32_t>(Pixels);
    if (!Raster) throw EImageError("Out of memory");
    if (TIFFReadRGBAImage(Tif, static_cast<uint32_t>(W), static_cast<uint32_t>(H), Raster.get(),
                          1) != 0) {
      // The raster's first row is the image's bottom row, as in the image's
      // own storage.
      for (int Bottom = 0; Bottom < H; ++Bottom) {
        const uint32_t* Src = Raster.get() + size_t(Bottom) * size_t(W);
        const int Y = H - 1 - Bottom;
        if (Format == ifTrueColor) {
          uint8_t* Dst = ScanLine(Y);
          for (int X = 0; X < W; ++X, Dst += 3) {
            const uint32_t P = Src[X];
            Dst[0] = static_cast<uint8_t>(TIFFGetB(P));
            Dst[1] = static_cast<uint8_t>(TIFFGetG(P));
            Dst[2] = static_cast<uint8_t>(TIFFGetR(P));
          }
        } else {
          for (int X = 0; X < W; ++X) {
            const uint32_t P = Src[X];
            SetPixelColor(X, Y, MakeRgb(TIFFGetR(P), TIFFGetG(P), TIFFGetB(P)));
          }
        }
      }
    } else {
      // A failing RGBA read leaves a blank image, without an error.
      std::memset(Bits(), 0, size_t(H) * size_t(BytesPerRow()));
    }
  } else {
    // Strip by strip, in libtiff's own strip layout, so that every row is
    // decoded once whatever the file says about RowsPerStrip.
    uint32_t Band = 0;
    TIFFGetFieldDefaulted(Tif, TIFFTAG_ROWSPERSTRIP, &Band);
    if (Band == 0 || Band > uint32_t(H)) Band = uint32_t(H);
    const tmsize_t StripSize = TIFFStripSize(Tif);
    if (StripSize <= 0 || StripSize / tmsize_t(Band) < ScanlineSize)
      throw ETiffError("ETiffError TIFFReadEncodedStrip");
    const TMemoryReservation Held{uint64_t(StripSize)};
    if (!Held) throw EImageError("Out of memory");
    std::unique_ptr<uint8_t[]> Strip = NewBuffer<uint8_t>(static_cast<size_t>(StripSize));
    if (!Strip) throw EImageError("Out of memory");
    for (uint32_t G = 0; G < uint32_t(H); G += Band) {
      TDecodeStopScope::Check();
      const uint32_t N = std::min(Band, uint32_t(H) - G);
      const tmsize_t Wanted = ScanlineSize * tmsize_t(N);
      const tmsize_t Got =
          TIFFReadEncodedStrip(Tif, TIFFComputeStrip(Tif, G, 0), Strip.get(), Wanted);
      if (Got == -1) throw ETiffError("ETiffError TIFFReadEncodedStrip");
      if (Got < Wanted) std::memset(Strip.get() + Got, 0, static_cast<size_t>(Wanted - Got));
      for (uint32_t R = 0; R < N; ++R) {
        const uint8_t* Src = Strip.get() + tmsize_t(R) * ScanlineSize;
        const int Y = static_cast<int>(G + R);
        if (!ColourTriples) {
          std::memcpy(ScanLine(Y), Src, static_cast<size_t>(ScanlineSize));
        } else if (Format == ifTrueColor) {
          uint8_t* Dst = ScanLine(Y);
          for (int X = 0; X < W; ++X, Src += BytesPerPixel, Dst += 3) {
            Dst[0] = Src[2];
            Dst[1] = Src[1];
            Dst[2] = Src[0];
          }
        } else {
          for (int X = 0; X < W; ++X, Src += BytesPerPixel)
            SetPixelColor(X, Y, MakeRgb(Src[0], Src[1], Src[2]));
        }
      }
    }
  }

  if (Invert) TNegativeTransform().Apply(*this);
  if (OrientationEnabled()) OrientImage(*this, Orientation);

  // The embedded ICC profile describes the stored colours; CMYK and
  // min-is-white pixels are no longer stored values once read, so their
  // profile is left out.
  uint32_t IccSize = 0;
  const void* IccData = nullptr;
  if (Photometric != PHOTOMETRIC_SEPARATED && Photometric != PHOTOMETRIC_MINISWHITE &&
      TIFFGetField(Tif, TIFFTAG_ICCPROFILE, &IccSize, &IccData) != 0 && IccData != nullptr &&
      IccSize > 0) {
    auto Description = std::make_shared<TColorDescription>();
    const auto* Bytes = static_cast<const uint8_t*>(IccData);
    Description->Icc.assign(Bytes, Bytes + IccSize);
    SetColorDescription(std::move(Description));
  }
}

// ---- Writing -------------------------------------------------------------------

void TTiffGraphic::SaveToStream(TStream& Stream) {
  WriteDirectory(Stream, Stream.Position(), "w");
}

void TTiffGraphic::AppendToStream(TStream& Stream) {
  if (Stream.Size() == 0)
    SaveToStream(Stream);
  else
    WriteDirectory(Stream, 0, "a");
}

void TTiffGraphic::WriteDirectory(TStream& Stream, int64_t Base, const char* Mode) {
  if (Empty()) throw ETiffError("ETiffError Cannot save an empty image");
  const TImageFormat Format = ImageFormat();
  const TLogPalette& Pal = *LogPalette();
  const bool FaxSetting =
      FCompression == tcGroup3_1D || FCompression == tcGroup3_2D || FCompression == tcGroup4;

  uint16_t Photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t BitsPerSample = static_cast<uint16_t>(BitsPerPixel(Format));
  uint16_t Samples = 1;
  bool InvertBits = false;
  switch (Format) {
  case ifBlackWhite: {
    auto Is = [&](int I, uint8_t V) {
      const TPaletteEntry& E = Pal.palPalEntry[I];
      return E.peRed == V && E.peGreen == V && E.peBlue == V;
    };
    if (Pal.palNumEntries >= 2 && Is(0, 0) && Is(1, 255)) {
      // Fax files are written min-is-white, as fax readers expect.
      Photometric = FaxSetting ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
      InvertBits = FaxSetting;
    } else if (Pal.palNumEntries >= 2 && Is(0, 255) && Is(1, 0)) {
      Photometric = PHOTOMETRIC_MINISWHITE;
    } else {
      Photometric = PHOTOMETRIC_PALETTE;
    }
    break;
  }
  case ifGray16:
  case ifGray256:
    Photometric = PHOTOMETRIC_MINISBLACK;
    break;
  case ifColor16:
  case ifColor256:
    Photometric = PHOTOMETRIC_PALETTE;
    break;
  case ifTrueColor:
    Photometric = PHOTOMETRIC_RGB;
    BitsPerSample = 8;
    Samples = 3;
    break;
  }

  uint16_t CompressionTag = COMPRESSION_NONE;
  uint32_t T4Options = 0;
  switch (FCompression) {
  case tcPackbits:
    CompressionTag = COMPRESSION_PACKBITS;
    break;
  case tcGroup3_1D:
    CompressionTag = COMPRESSION_CCITTFAX3;
    break;
  case tcGroup3_2D:
    CompressionTag = COMPRESSION_CCITTFAX3;
    T4Options = GROUP3OPT_2DENCODING;
    break;
  case tcGroup4:
    CompressionTag = COMPRESSION_CCITTFAX4;
    break;
  case tcZLib:
    CompressionTag = COMPRESSION_DEFLATE;
    break;
  case tcJpeg:
    CompressionTag = COMPRESSION_JPEG;
    break;
  default:
    break;
  }

  // The colour map holds 16-bit components; c * 257 maps 0..255 onto
  // 0..65535 exactly, so that reading scales every component back unchanged.
  const int MapEntries = 1 << BitsPerSample;
  std::vector<uint16_t> Red, Green, Blue;
  if (Photometric == PHOTOMETRIC_PALETTE) {
    Red.assign(size_t(MapEntries), 0);
    Green.assign(size_t(MapEntries), 0);
    Blue.assign(size_t(MapEntries), 0);
    for (int I = 0; I < MapEntries && I < Pal.palNumEntries; ++I) {
      Red[size_t(I)] = static_cast<uint16_t>(Pal.palPalEntry[I].peRed * 257);
      Green[size_t(I)] = static_cast<uint16_t>(Pal.palPalEntry[I].peGreen * 257);
      Blue[size_t(I)] = static_cast<uint16_t>(Pal.palPalEntry[I].peBlue * 257);
    }
  }

  TTiffClient Client;
  Client.Stream = &Stream;
  Client.Base = Base;
  // libtiff reads an existing header from where the stream stands.
  Stream.Seek(Base, TSeekOrigin::soBeginning);
  TTiffFile File;
  Open(File, Client, Mode);
  TIFF* Tif = File.Tif;
  const int W = Width();
  const int H = Height();
  TIFFSetField(Tif, TIFFTAG_IMAGEWIDTH, uint32_t(W));
  TIFFSetField(Tif, TIFFTAG_IMAGELENGTH, uint32_t(H));
  TIFFSetField(Tif, TIFFTAG_BITSPERSAMPLE, BitsPerSample);
  TIFFSetField(Tif, TIFFTAG_SAMPLESPERPIXEL, Samples);
  TIFFSetField(Tif, TIFFTAG_PHOTOMETRIC, Photometric);
  TIFFSetField(Tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(Tif, TIFFTAG_XRESOLUTION, float(XDpi()));
  TIFFSetField(Tif, TIFFTAG_YRESOLUTION, float(YDpi()));
  TIFFSetField(Tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  if (TIFFSetField(Tif, TIFFTAG_COMPRESSION, CompressionTag) == 0)
    throw ETiffError("ETiffError Unsupported compression tag, " + std::to_string(CompressionTag));
  if (CompressionTag == COMPRESSION_CCITTFAX3) TIFFSetField(Tif, TIFFTAG_GROUP3OPTIONS, T4Options);
  TIFFSetField(Tif, TIFFTAG_ROWSPERSTRIP, RowsPerStrip > 0 ? RowsPerStrip : 16u);
  if (Photometric == PHOTOMETRIC_PALETTE)
    TIFFSetField(Tif, TIFFTAG_COLORMAP, Red.data(), Green.data(), Blue.data());

  const tmsize_t Scanline = TIFFScanlineSize(Tif);
  if (Scanline <= 0 || Scanline > tmsize_t(BytesPerRow()))
    throw ETiffError("ETiffError TIFFScanlineSize");
  std::vector<uint8_t> Row(static_cast<size_t>(Scanline));
  for (int Y = 0; Y < H; ++Y) {
    std::memcpy(Row.data(), ScanLine(Y), Row.size());
    if (Format == ifTrueColor) SwapRgb(Row.data(), Row.size());
    if (InvertBits)
      for (uint8_t& B : Row)
        B = static_cast<uint8_t>(~B);
    if (TIFFWriteScanline(Tif, Row.data(), uint32_t(Y), 0) < 0)
      throw ETiffError("ETiffError TIFFWriteScanline");
  }
  if (TIFFWriteDirectory(Tif) == 0) throw ETiffError("ETiffError TIFFWriteDirectory");
}

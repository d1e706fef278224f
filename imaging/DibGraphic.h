#pragma once
// The image model: TDibGraphic, a device-independent bitmap in one of six
// pixel layouts with its own palette, resolution, canvas and optional frames,
// and the small abstract graphic base TGraphic it descends from.
//
// Pixels are stored bottom-up with rows padded to 4 bytes; ScanLine(0) is the
// top row of the picture (the last row in memory). Colours are 0x00RRGGBB.
//
// A format class derives from TDibGraphic and overrides LoadImageFromStream
// (or LoadFromStream), and where its format needs it GetImageCount,
// AppendToStream, SaveToStream and NewImage. It decodes by calling NewImage
// and writing rows through ScanLine. Registering it:
//     RegisterGraphicFormat("bmp", "Bitmap", ClassOf<TBmpGraphic>());

#include "platform/Bitmap.h"
#include "platform/Canvas.h"
#include "platform/Dib.h"
#include "platform/Exception.h"
#include "platform/Stream.h"
#include "platform/Timer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <vector>

class TGraphic;
class TDibGraphic;
class TRgbToPaletteConverter;

// Pixel layout of a bitmap, stored in one byte.
enum TImageFormat : uint8_t {
  ifBlackWhite = 0, // 1 bit
  ifGray16 = 1,     // 4 bits
  ifGray256 = 2,    // 8 bits
  ifColor16 = 3,    // 4 bits
  ifColor256 = 4,   // 8 bits
  ifTrueColor = 5   // 24 bits
};

// The exception of the image model, the transforms and the view.
class EImageError : public Exception {
public:
  using Exception::Exception;
};

// The framework's invalid-graphic error ("Invalid bitmap", "Unknown clipboard format, %d").
class EInvalidGraphic : public Exception {
public:
  using Exception::Exception;
};

// The framework's conversion error of Assign ("Cannot assign a %s to a %s").
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// ---------------------------------------------------------------------------
// Framework base classes.

// Something that can be assigned from another object. The default Assign asks
// Source to assign itself to this object; the default AssignTo raises
// EConvertError "Cannot assign a <source class> to a <dest class>".
class TPersistent {
public:
  virtual ~TPersistent() = default;
  virtual void Assign(const TPersistent* Source);
  virtual void AssignTo(TPersistent* Dest) const;
  // The class name of the object's dynamic type, e.g. "TJpegGraphic".
  virtual std::string ClassName() const;
};

// The abstract graphic: size, emptiness, drawing, streams and the clipboard.
// The virtual operations keep the order of the framework's graphic class.
class TGraphic : public TPersistent {
public:
  TGraphic() = default;
  ~TGraphic() override = default;

  int Width() const { return GetWidth(); }
  int Height() const { return GetHeight(); }
  bool Empty() const { return GetEmpty(); }
  void SetWidth(int Value) { SetWidthValue(Value); }
  void SetHeight(int Value) { SetHeightValue(Value); }
  bool Transparent() const { return GetTransparent(); }
  bool Modified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }

  // Notified by Changed().
  std::function<void(TGraphic* Sender)> OnChange;

  // Slots in framework order (0 AssignTo and 2 Assign come from TPersistent).
  virtual void Changed(); // slot 4: sets Modified, fires OnChange
  virtual void Draw(TCanvas& Canvas, const TRect& Rect) = 0; // slot 5
  virtual bool
  Equals(const TGraphic* Graphic) const; // slot 6: same class, both empty or same saved bytes
  virtual bool GetEmpty() const = 0;     // slot 7
  virtual int GetHeight() const = 0;     // slot 8
  virtual const TPalette* GetPalette() const { return nullptr; }    // slot 9
  virtual bool GetTransparent() const { return FTransparent; }      // slot 10
  virtual int GetWidth() const = 0;                                 // slot 11
  virtual void SetHeightValue(int Value) = 0;                       // slot 13
  virtual void SetPalette(const TPalette*) {}                       // slot 14
  virtual void SetTransparent(bool Value) { FTransparent = Value; } // slot 15
  virtual void SetWidthValue(int Value) = 0;                        // slot 16
  virtual void
  LoadFromFile(const std::string& FileName);            // slot 18: read-only stream, LoadFromStream
  virtual void SaveToFile(const std::string& FileName); // slot 19: new file, SaveToStream
  virtual void LoadFromStream(TStream& Stream) = 0;     // slot 20
  virtual void SaveToStream(TStream& Stream) = 0;       // slot 21
  virtual void LoadFromClipboardFormat(uint16_t Format, const TBitmapHandle& Data,
                                       const TPalette* Palette) = 0; // slot 22
  virtual void SaveToClipboardFormat(uint16_t& Format, TBitmapHandle& Data,
                                     const TPalette*& Palette) = 0; // slot 23

private:
  bool FTransparent = false;
  bool FModified = false;
};

// The framework bitmap: a graphic over a platform bitmap object, with a pixel
// format, a handle type and a canvas. Stands in for the framework's TBitmap.
enum TPixelFormat {
  pfDevice,
  pf1bit,
  pf4bit,
  pf8bit,
  pf15bit,
  pf16bit,
  pf24bit,
  pf32bit,
  pfCustom
};
enum TBitmapHandleType { bmDIB, bmDDB };

class TBitmap : public TGraphic {
public:
  TBitmap();
  ~TBitmap() override;

  // The bitmap object (null when empty). Setting it takes the bitmap over.
  const TBitmapHandle& Handle() const { return FHandle; }
  void SetHandle(TBitmapHandle Value);
  TPixelFormat PixelFormat() const;
  void SetPixelFormat(
      TPixelFormat Value); // rebuilds the pixels in the new depth (colours kept where possible)
  TBitmapHandleType HandleType() const;
  void SetHandleType(TBitmapHandleType Value);
  // Canvas over the bitmap's pixels (null when empty).
  TCanvas* Canvas();

  void Assign(const TPersistent* Source) override;
  void Draw(TCanvas& Canvas, const TRect& Rect) override;
  bool GetEmpty() const override;
  int GetHeight() const override;
  int GetWidth() const override;
  void SetHeightValue(int Value) override;
  void SetWidthValue(int Value) override;
  void LoadFromStream(TStream& Stream) override; // any picture Qt's reader knows
  void SaveToStream(TStream& Stream) override;   // writes a BMP file
  void LoadFromClipboardFormat(uint16_t Format, const TBitmapHandle& Data,
                               const TPalette* Palette) override;
  void SaveToClipboardFormat(uint16_t& Format, TBitmapHandle& Data,
                             const TPalette*& Palette) override;

private:
  void Resize(int Width, int Height, int BitCount);
  void FlushCanvas();

  TBitmapHandle FHandle;
  std::unique_ptr<TDibCanvas> FCanvas;
  int FBitCount = 24; // kept for an empty bitmap's pixel format
  int FWidth = 0;     // kept while the other dimension is still 0
  int FHeight = 0;
};

// The framework's clipboard object: Assign(&Clipboard) pastes its bitmap,
// Clipboard.Assign(graphic) copies a graphic to it.
class TClipboard : public TPersistent {
public:
  void Open() {}
  void Close() {}
  // Bitmap (CF_BITMAP) and palette (CF_PALETTE, none on this platform) data.
  TBitmapHandle GetBitmapData() const { return ClipboardGetBitmap(); }
  const TPalette* GetPaletteData() const { return nullptr; }
  void Assign(const TPersistent* Source) override;
};
// The application's clipboard object.
TClipboard& Clipboard();

// ---------------------------------------------------------------------------
// Class references: the virtual constructor of a TDibGraphic class.

struct TGraphicClassInfo {
  std::type_index Type;
  std::string Name;                         // e.g. "TJpegGraphic"
  std::unique_ptr<TDibGraphic> (*Create)(); // a new, empty instance
};
using TDibGraphicClass = const TGraphicClassInfo*;

namespace imaging_detail {
TDibGraphicClass RegisterClassInfo(std::type_index Type, std::unique_ptr<TDibGraphic> (*Create)());
}

// The class reference of T, e.g. ClassOf<TJpegGraphic>(). T needs a default
// constructor. The first call makes T known so that images of class T can
// create new instances of their own class (frames).
template <class T> TDibGraphicClass ClassOf() {
  static const TDibGraphicClass info = imaging_detail::RegisterClassInfo(
      std::type_index(typeid(T)),
      []() -> std::unique_ptr<TDibGraphic> { return std::make_unique<T>(); });
  return info;
}

// ---------------------------------------------------------------------------
// Colour: what the stored pixel values mean, as the picture's file says. A
// picture without a description is taken as sRGB. The pixels themselves stay
// as stored; the view converts what it shows.

struct TColorDescription {
  // Transfer curves of coded descriptions (PNG's gAMA, HEIF's nclx, JPEG XL's
  // colour encoding).
  enum TTransfer : uint8_t { tfSRGB, tfGamma, tfLinear, tfBT709, tfPQ, tfHLG };
  // An embedded ICC profile's bytes; when empty the fields below describe the
  // colour space.
  std::vector<uint8_t> Icc;
  // CIE xy chromaticities of the white point and the three primaries.
  double WhiteX = 0.3127, WhiteY = 0.3290;
  double RedX = 0.64, RedY = 0.33;
  double GreenX = 0.30, GreenY = 0.60;
  double BlueX = 0.15, BlueY = 0.06;
  TTransfer Transfer = tfSRGB;
  // tfGamma: linear light = stored value ^ Gamma (PNG's gAMA 0.45455 gives 2.2).
  double Gamma = 2.2;
  // The reader stored each of the file's values v (0 to 1) as v ^ Reencode
  // (the PNG reader's gamma step); the conversion undoes that before the
  // description above applies. 1: stored as the file has them.
  double Reencode = 1.0;
};
// Shared between a picture, its frames and its display copies; never changed
// once made.
using TColorDescriptionPtr = std::shared_ptr<const TColorDescription>;

// ---------------------------------------------------------------------------
// TDibGraphic

using TPixelReader = uint32_t (*)(const uint8_t* Row, int X);
using TPixelWriter = void (*)(uint8_t* Row, int X, uint32_t Value);
using TAfterDrawEvent = std::function<void(TDibGraphic* Graphic)>;
// Icon export of AssignTo: set by the icon format unit; writes Source as an
// icon into Stream. Answers false when it does not handle Dest.
using TIconExportHook = bool (*)(const TDibGraphic& Source, TPersistent* Dest);
void SetIconExportHook(TIconExportHook Hook);

class TDibGraphic : public TGraphic {
public:
  TDibGraphic();
  ~TDibGraphic() override;
  TDibGraphic(const TDibGraphic&) = delete;
  TDibGraphic& operator=(const TDibGraphic&) = delete;

  // The class reference of this object's class (ClassOf of its dynamic type
  // when known, else TDibGraphic's). Override only for classes never passed
  // through ClassOf. Loading all images of a stream as frames needs it: a
  // class unknown here raises EImageError there.
  virtual TDibGraphicClass ClassType() const;

  // --- TGraphic slots
  void AssignTo(TPersistent* Dest) const override;                          // slot 0
  void Assign(const TPersistent* Source) override;                          // slot 2
  void Draw(TCanvas& Canvas, const TRect& Rect) override;                   // slot 5
  bool GetEmpty() const override { return FBits == nullptr; }               // slot 7
  int GetHeight() const override { return FBitmapInfo.bmiHeader.biHeight; } // slot 8
  int GetWidth() const override { return FBitmapInfo.bmiHeader.biWidth; }   // slot 11
  void SetHeightValue(int Value) override;                                  // slot 13: raises
  void SetWidthValue(int Value) override;                                   // slot 16: raises
  void LoadFromStream(TStream& Stream) override;                            // slot 20
  void SaveToStream(TStream& Stream) override;                              // slot 21: nothing here
  void LoadFromClipboardFormat(uint16_t Format, const TBitmapHandle& Data,
                               const TPalette* Palette) override; // slot 22
  void SaveToClipboardFormat(uint16_t& Format, TBitmapHandle& Data,
                             const TPalette*& Palette) override; // slot 23

  // --- New slots
  virtual int GetImageCount(TStream& Stream);                   // slot 24: 1 here
  virtual void LoadImageFromStream(TStream& Stream, int Index); // slot 25: nothing here
  virtual void AppendToStream(TStream& Stream);                 // slot 26: raises here
  // Slot 27. Rebuilds the image empty-then-new: Palette (or null for the
  // format's default palette) is read for palette formats, XDpi/YDpi 0 take
  // the screen's. Raises EImageError "CreateDibSection failed" when the
  // storage cannot be had (the image is then empty). Pixel values are left
  // undefined (zero for freshly mapped memory).
  virtual void NewImage(int Width, int Height, TImageFormat Format, const TLogPalette* Palette,
                        uint16_t XDpi, uint16_t YDpi);

  // --- Pixels
  TImageFormat ImageFormat() const { return FImageFormat; }
  int BitCount() const { return FBitmapInfo.bmiHeader.biBitCount; }
  int BytesPerRow() const { return FBytesPerRow; }
  // Address of row Row (0 = top). No range check.
  uint8_t* ScanLine(int Row) const {
    return FBits + static_cast<ptrdiff_t>(FBitmapInfo.bmiHeader.biHeight - Row - 1) * FBytesPerRow;
  }
  // First byte of the pixel storage (the bottom row); null when empty.
  uint8_t* Bits() const { return FBits; }
  // The pixels as a DIB view for the platform's copy and stretch routines.
  TDibView DibView() const;
  const TBitmapInfo& BitmapInfo() const { return FBitmapInfo; }

  uint32_t GetPixelColor(int X, int Y) const;
  void SetPixelColor(int X, int Y, uint32_t Colour);
  int GetPixelIndex(int X, int Y) const;
  void SetPixelIndex(int X, int Y, int Index);
  // The reader and writer installed by NewImage for the format's bit count.
  TPixelReader PixelReader() const { return FPixelReader; }
  TPixelWriter PixelWriter() const { return FPixelWriter; }

  // --- Resolution (dots per inch, kept as pixels per metre)
  uint16_t XDpi() const;
  uint16_t YDpi() const;
  void SetXDpi(uint16_t Value);
  void SetYDpi(uint16_t Value);
  int XPelsPerMeter() const { return FBitmapInfo.bmiHeader.biXPelsPerMeter; }
  int YPelsPerMeter() const { return FBitmapInfo.bmiHeader.biYPelsPerMeter; }

  // --- Palette
  const TLogPalette* LogPalette() const { return &FLogPalette; }
  // The GDI palette of a palette image (null for true colour), made on first use.
  const TPalette* PaletteHandle();
  // The nearest-colour converter of a palette image (null for true colour).
  TRgbToPaletteConverter* Converter() const { return FConverter.get(); }

  // --- Canvas: drawing on it changes the pixels after Flush (see Canvas.h).
  // Null while the image is empty. NewImage and ClearImage replace it: do not
  // keep the pointer across them.
  TCanvas* Canvas() const { return FCanvas.get(); }
  // Writes pending canvas drawing into the pixels.
  void FlushCanvas() const;

  void ClearImage();
  // Takes over Source's picture without copying its pixels: size, layout,
  // palette, resolution, pixel storage and colour description. Source is left
  // empty; frames and the settings of either class stay where they are. For
  // readers that decode through another format class (a camera RAW's JPEG
  // preview).
  void TakeImage(TDibGraphic& Source);
  // Copies a platform bitmap's pixels and palette (16 and 32 bits become true colour).
  void AssignBitmapHandle(const TBitmapHandle& Bitmap);

  // --- Colour: the file's description of its colour space (null: sRGB). A
  // load starts with none; readers set it after NewImage. Assign copies it.
  const TColorDescriptionPtr& ColorDescription() const { return FColorDescription; }
  void SetColorDescription(TColorDescriptionPtr Value) { FColorDescription = std::move(Value); }

  // --- Multi-image streams and frames
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int Value) { FImageIndex = Value; }
  bool LoadAllImages() const { return FLoadAllImages; }
  void SetLoadAllImages(bool Value) { FLoadAllImages = Value; }
  int FrameCount() const { return static_cast<int>(FFrames.size()); }
  // The number of images (pages) of the file the picture was decoded from, as
  // its format class counted them while loading; 1 for single-image formats.
  int PageCount() const { return FPageCount; }
  void SetPageCount(int Value) { FPageCount = Value; }
  // Frame I, 1-based; raises EImageError "Frame %d does not exist".
  TDibGraphic& Frames(int I) const;
  // Adds a frame (taking it over).
  void AddFrame(std::unique_ptr<TDibGraphic> Frame) { FFrames.push_back(std::move(Frame)); }
  int CurrentFrame() const { return FCurrentFrame; }
  // Shows frame Value: its pixels, FrameDelay and colour description become
  // the image's, OnChange fires and pending events are processed.
  void SetCurrentFrame(int Value);
  // As SetCurrentFrame, but processes no events, so that the caller is not
  // re-entered (the view's frame timer, readers on the decode-ahead worker).
  void SelectFrame(int Value);
  // Copies Source's pixels, palette, resolution, FrameDelay and colour
  // description into this image's present storage when both have the same
  // size and format (no allocation); false, and nothing changed, otherwise.
  bool CopyPixelsFrom(const TDibGraphic& Source);

  // --- Animations. A file holding an animation (GIF, WebP) is one image:
  // its reader decodes every frame in one pass as a whole picture of the
  // animation's size (disposal and blending done) with its own FrameDelay,
  // and hands them over here. They replace the frames, the image shows
  // frame 1 and Animated() is true, which makes the view play them by
  // themselves, LoopCount times. GetImageCount stays 1: pages of a
  // multi-page file loaded as frames (LoadAllImages) are no animation.
  // Processes no events: readers run on any thread.
  void SetAnimationFrames(std::vector<std::unique_ptr<TDibGraphic>> Frames);
  bool Animated() const { return FAnimated; }
  // Set by a reader that kept only the first frame of an animation because
  // its frames did not fit (AnimationFramesFit): the picture is a still.
  bool FramesOmitted() const { return FFramesOmitted; }
  void SetFramesOmitted(bool Value) { FFramesOmitted = Value; }
  int FrameDelay() const { return FFrameDelay; }
  void SetFrameDelay(int Value) { FFrameDelay = Value; }
  bool Animate() const { return FAnimate; }
  void SetAnimate(bool Value);
  // How often an animation plays, as its file says; 0 loops for ever.
  int LoopCount() const { return FLoopCount; }
  void SetLoopCount(int Value) { FLoopCount = Value; }

  // --- Reduced decoding: a picture a reader decoded smaller than its file
  // stores it (see TReducedDecodeScope) knows the size of the whole picture.
  bool Reduced() const { return FWholeWidth > 0; }
  int WholeWidth() const { return FWholeWidth > 0 ? FWholeWidth : Width(); }
  int WholeHeight() const { return FWholeWidth > 0 ? FWholeHeight : Height(); }
  // Marks the picture as a reduced decoding of a Width x Height picture.
  void SetWholeSize(int Width, int Height);

  // Fired at the end of every Draw.
  TAfterDrawEvent OnAfterDraw;

protected:
  TImageFormat FImageFormat = ifBlackWhite;
  TBitmapInfo FBitmapInfo;
  TLogPalette FLogPalette;
  int FBytesPerRow = 0;

private:
  void FrameTimerTick();
  void AssignFromDib(const TDibGraphic* Source);
  void AssignFromOther(const TGraphic& Source);

  TPixelBuffer FStorage; // the DIB section
  uint8_t* FBits = nullptr;
  std::unique_ptr<TPalette> FPaletteHandle;
  std::unique_ptr<TDibCanvas> FCanvas;
  int FImageIndex = 1;
  bool FLoadAllImages = false;
  int FPageCount = 1;
  int FWholeWidth = 0; // 0: the picture is whole
  int FWholeHeight = 0;
  std::vector<std::unique_ptr<TDibGraphic>> FFrames;
  int FFrameDelay = 200;
  int FLoopCount = 0;
  bool FAnimated = false;
  bool FFramesOmitted = false;
  bool FAnimate = false;
  TColorDescriptionPtr FColorDescription;
  std::unique_ptr<TPlatformTimer> FFrameTimer;
  int FCurrentFrame = -1;
  TPixelReader FPixelReader = nullptr;
  TPixelWriter FPixelWriter = nullptr;
  std::unique_ptr<TRgbToPaletteConverter> FConverter;
};

// While one lives on a thread, readers that can decode a picture smaller than
// its file stores it (the JPEG reader, through libjpeg's scaled decoding) may
// do so, for a display copy that needs no more: Scale(Width, Height) answers
// the scale (above 0; 1 or more for the whole picture) a picture of that
// upright size is shown at. Such a picture is Reduced() and knows its whole
// size. Decoding ahead uses it; everything else gets whole pictures.
class TReducedDecodeScope {
public:
  using TScale = std::function<double(int Width, int Height)>;
  explicit TReducedDecodeScope(TScale Scale);
  ~TReducedDecodeScope();
  TReducedDecodeScope(const TReducedDecodeScope&) = delete;
  TReducedDecodeScope& operator=(const TReducedDecodeScope&) = delete;
  // The scale asked for on this thread; 1 when no scope lives.
  static double ScaleFor(int Width, int Height);

private:
  TScale FScale;
  const TReducedDecodeScope* FOuter;
};

// While one lives on a thread, readers that decode row by row (JPEG, PNG,
// TIFF) give up as soon as *Stop is set, with EImageError "Decoding stopped":
// decoding ahead is not finished for a program that is ending.
class TDecodeStopScope {
public:
  explicit TDecodeStopScope(const std::atomic<bool>* Stop);
  ~TDecodeStopScope();
  TDecodeStopScope(const TDecodeStopScope&) = delete;
  TDecodeStopScope& operator=(const TDecodeStopScope&) = delete;
  // Whether a scope on this thread was told to stop.
  static bool Requested();
  // Raises EImageError when Requested().
  static void Check();

private:
  const std::atomic<bool>* FOuter;
};

// ---------------------------------------------------------------------------
// Free functions of the image model.

// 1, 4, 8, 4, 8, 24; raises EImageError "Internal error: Invalid image format".
int BitsPerPixel(TImageFormat Format);
// "Black and white", "16 shades of gray", ...; empty for other values.
std::string ImageFormatName(TImageFormat Format);
// 1, 4, 8, 24 to ifBlackWhite, ifColor16, ifColor256, ifTrueColor;
// raises EImageError "Unsupported bit count".
TImageFormat FormatFromBitCount(int Count);
constexpr uint32_t MakeRgb(uint8_t Red, uint8_t Green, uint8_t Blue) {
  return (uint32_t(Red) << 16) | (uint32_t(Green) << 8) | Blue;
}
// The shared default palette of a palette format (null for ifTrueColor).
const TLogPalette* DefaultPalette(TImageFormat Format);
// The screen gamma the PNG reader uses. A constant: nothing sets another, and
// readers also run on the decode-ahead thread, where a changeable global
// would be read while the GUI thread might write it.
inline constexpr double DisplayGamma = 2.2;

// The most frames an animation keeps; the rest of its file is not read, so a
// tiny file cannot claim a million frames (each costs a picture object even
// when its pixels are few).
constexpr int MaxAnimationFrames = 10000;
// The most pixels the frames of an animation beyond its first may have
// together per byte of its file: a small file of many frames over a large
// screen cannot take memory and time out of proportion to its data. Real
// animations stay far below it (a frame that changes a few pixels still costs
// tens of bytes); the JPEG XL reader keeps to the same figure.
constexpr uint64_t AnimationPixelsPerByte = uint64_t(1) << 14;
// Whether an animation of Count frames of Width x Height pixels (BitCount
// bits each), read from FileBytes bytes, may keep them all besides the
// picture showing one of them. An animation is one picture: its (Count + 1)
// x Width x Height pixels stay within the pixel limit and their bytes within
// what the memory budget has left now; and the frames beyond the first stay
// within AnimationPixelsPerByte of the file. When not, Why (if given) tells
// the figures and the reader keeps the first frame only. At the default
// limit of one gigapixel, 60 true-colour frames of 800 x 600 (29 million
// pixels, 88 MB) play; 100 frames of 24 megapixels (2.4 gigapixels, 7.3 GB)
// show their first frame.
bool AnimationFramesFit(int64_t Width, int64_t Height, int64_t Count, uint64_t FileBytes,
                        int BitCount = 24, std::string* Why = nullptr);

// Dots per inch to pixels per metre and back, rounding to nearest, ties to even.
int DpiToPelsPerMeter(double Dpi);
int PelsPerMeterToDpi(double PelsPerMeter);

// Small shared routines.
inline int Clamp(int Value, int Low, int High) {
  if (Value < Low) Value = Low;
  if (Value > High) Value = High;
  return Value;
}
// Swaps the first and third byte of every 3-byte group of Count bytes
// (red-green-blue to blue-green-red and back); a trailing partial group is left.
void SwapRgb(uint8_t* Buffer, size_t Count);
// Truncate, then add 1 when the fraction is positive (Ceil) or subtract 1 when negative (Floor).
int Ceil(double X);
int Floor(double X);
// The unqualified class name of a type, e.g. "EImageError" for typeid(e) of an EImageError.
std::string DemangledClassName(const std::type_info& Type);
// Raises EImageError "LZW compression not supported".
[[noreturn]] void LzwError();

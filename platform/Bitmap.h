#pragma once
// A platform bitmap object: what a GDI bitmap handle stands for. It holds a
// bitmap's header, colour table and bottom-up pixel rows of any bit count
// (1, 2, 4, 8, 16, 24, 32). Bitmaps are shared through TBitmapHandle; the
// clipboard, the framework bitmap class and Qt images exchange pixels as such
// objects. Also: the screen facts, the clipboard bitmap exchange and the
// platform's picture reader (Qt's image reader).

#include "platform/Dib.h"

#include <memory>
#include <string>
#include <vector>

class QImage;

class TPlatformBitmap;
using TBitmapHandle = std::shared_ptr<TPlatformBitmap>;

// What GetObject answers for a bitmap (a DIBSECTION-like description).
struct TBitmapDescription {
  int Width = 0;
  int Height = 0;
  int WidthBytes = 0;
  int Planes = 1;
  int BitsPixel = 0;
  bool IsDibSection = false;
  TBitmapInfoHeader DibHeader; // valid when IsDibSection
};

class TPlatformBitmap {
public:
  // A bitmap of the given size and bit count, pixels 0. Colors gives the
  // colour table for 8 bits or fewer (ColorCount entries). DibSection false
  // makes a device-dependent bitmap. Answers null when the size or the bit
  // count is invalid or the memory cannot be had.
  static TBitmapHandle Create(int Width, int Height, int BitCount, const TRgbQuad* Colors = nullptr,
                              int ColorCount = 0, bool DibSection = true);
  // A bitmap compatible with the screen (32 bits per pixel, device dependent).
  static TBitmapHandle CreateCompatible(int Width, int Height);
  // A monochrome bitmap (1 plane, 1 bit per pixel, device dependent, black and white).
  static TBitmapHandle CreateMonochrome(int Width, int Height);

  TBitmapInfoHeader& Header() { return FInfo.bmiHeader; }
  const TBitmapInfoHeader& Header() const { return FInfo.bmiHeader; }
  TRgbQuad* Colors() { return FInfo.bmiColors; }
  const TRgbQuad* Colors() const { return FInfo.bmiColors; }
  int ColorCount() const;
  bool IsDibSection() const { return FDibSection; }
  int Width() const { return FInfo.bmiHeader.biWidth; }
  int Height() const { return FInfo.bmiHeader.biHeight; }
  int BitCount() const { return FInfo.bmiHeader.biBitCount; }
  int Stride() const { return FStride; }
  uint8_t* Bits() const { return FPixels.Data(); }
  // The pixels as a DIB view (16 and 32 bits are read as 5-5-5 and BGRX).
  TDibView View() const;
  // Converts into a device-dependent bitmap of the screen's depth (32 bits)
  // or back into a DIB section of its own depth. A 16-bit bitmap becomes
  // device dependent with 32 bits per pixel.
  void MakeDeviceDependent();

private:
  TPlatformBitmap() = default;

  TBitmapInfo FInfo;
  int FStride = 0;
  bool FDibSection = true;
  TPixelBuffer FPixels;
};

// GetObject: false when Bitmap is null or holds no pixels.
bool GetBitmapObject(const TPlatformBitmap* Bitmap, TBitmapDescription& Out);

// GetDIBits: fetches all rows of Bitmap in the layout Info.bmiHeader asks for
// (its width, height and bit count; compression BI_RGB) into Bits, bottom-up
// with rows padded to 4 bytes, and fills Info's colour table for 8 bits or
// fewer. Supported: the bitmap's own bit count, and 24 from 16 or 32. Answers
// false when the request cannot be met.
bool GetDIBits(const TPlatformBitmap& Bitmap, TBitmapInfo& Info, uint8_t* Bits);

// Qt images and platform bitmaps. Indexed images keep their bit count and
// colour table (2-colour images become 1 bit per pixel); others become 24 bits
// (alpha is dropped: pixels keep their colour values).
TBitmapHandle BitmapFromImage(const QImage& Image);
QImage ImageFromBitmap(const TPlatformBitmap& Bitmap);

// Screen facts: logical dots per inch of the primary screen (96 without one).
// Screens are read on the GUI thread only; other threads get what the GUI
// thread last read (96 before it read anything).
int ScreenLogPixelsX();
int ScreenLogPixelsY();
// The primary screen's size in device pixels (its logical size times its
// device pixel ratio): what a picture shown on the whole screen can use. Read
// like the resolution; 1920 x 1080 before the GUI thread read a screen.
void ScreenPixelSize(int& Width, int& Height);
// The screen is never a palette device on this platform.
bool ScreenIsPaletteDevice();

// Clipboard bitmaps through QClipboard. Clipboard format numbers as on Windows.
constexpr uint16_t CF_BITMAP = 2;
constexpr uint16_t CF_PALETTE = 9;
// The clipboard's bitmap, or null when it holds none (or there is no GUI application).
TBitmapHandle ClipboardGetBitmap();
// Puts a bitmap on the clipboard; false when there is no GUI application.
bool ClipboardSetBitmap(const TPlatformBitmap& Bitmap);

// How ReadPictureData decodes.
struct TPictureReadOptions {
  // Decode into zeroed pixels of the size and layout the reader claims, which
  // it fills in place: pixels a damaged picture never reaches are palette
  // entry 0 or black on every decode instead of whatever fresh memory held.
  bool ZeroFill = false;
};

// The platform's picture reader (Qt's image reader) on bytes in memory, no
// temporary file: Format names the decoder (a file extension without the
// dot, such as "gif" or "bmp"); an empty Format lets the reader choose from
// the bytes. Answers the picture as a bitmap, or null with Error set to the
// reader's message ("Out of memory" when the bitmap cannot be had).
// Before the reader allocates anything, a picture above the pixel limit is
// refused (with the pixel limit message) and the memory it needs (the
// reader's picture and its conversion) is held from the memory budget until
// the bitmap is made; the reader may not allocate more than that.
TBitmapHandle ReadPictureData(const uint8_t* Data, size_t Size, const std::string& Format,
                              std::string& Error, const TPictureReadOptions& Options = {});

// The formats the platform's picture reader knows (Qt's names, lower case,
// such as "bmp", "gif", "png").
std::vector<std::string> PictureReaderFormats();

// The temporary folder (QDir::tempPath()); empty when there is none.
std::string TempFolder();

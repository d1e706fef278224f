#pragma once
// TCanvas: the drawing surface handed to TGraphic::Draw and the canvas of an
// image. It wraps a QPainter on any paint device:
//
//  * Over a painter someone else owns, e.g. in a widget's paint event:
//        QPainter p(this);
//        TCanvas canvas(p);
//        graphic.Draw(canvas, Rect(0, 0, w, h));
//
//  * Over a paint device (QImage, QPixmap, ...): TCanvas canvas(image); the
//    canvas opens its own painter on the first Painter() call and ends it in
//    Flush() or in its destructor.
//
//  * Over DIB pixels (TDibCanvas, what TDibGraphic::Canvas() hands out):
//        TCanvas* c = dib.Canvas();
//        c->Painter().drawLine(...);   // first call copies the pixels into a
//                                      // top-down drawing surface
//        c->Flush();                   // writes the surface back into the DIB
//    Until Flush() the DIB's rows do not show the drawing. TDibGraphic flushes
//    its canvas itself before it copies, draws or releases its pixels (Assign,
//    Draw, the transforms, NewImage, ClearImage); ScanLine and the pixel
//    getters do not (they must stay trivial): call Flush() first.
//    Colours written into a palette DIB are mapped to the nearest entry.
//    Drawing the image of one DIB onto a DIB canvas (SetDIBitsToDevice,
//    StretchDIBits) writes straight into the pixels, without a surface.
//
// The canvas also keeps the little device state GDI calls set: stretch mode,
// brush origin, and (for palette devices, which Linux has none of, but tests
// can make one) the selected palette.

#include "platform/Dib.h"

#include <memory>

class QPainter;
class QPaintDevice;
class QImage;

// A GDI palette object: a logical palette record.
class TPalette {
public:
  explicit TPalette(const TLogPalette& Log) : FLog(Log) {}
  const TLogPalette& Log() const { return FLog; }

private:
  TLogPalette FLog;
};

// The 256-colour halftone palette (6x6x6 colour cube, greys, system colours).
std::unique_ptr<TPalette> CreateHalftonePalette();

class TCanvas {
public:
  // Over a painter owned by the caller; the painter must outlive the canvas.
  explicit TCanvas(QPainter& Painter);
  // Over a paint device owned by the caller; the canvas opens its own painter.
  explicit TCanvas(QPaintDevice& Device);
  virtual ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  // The painter to draw with (opens it if needed).
  virtual QPainter& Painter();
  // Ends drawing started through Painter() and makes it visible on the device.
  virtual void Flush();
  // True while a painter opened by the canvas itself is active.
  bool Drawing() const { return FOwnPainter != nullptr; }

  // The DIB this canvas draws on, or null. Rendering routines write straight
  // into it (after flushing any open drawing).
  virtual const TDibView* Dib() { return nullptr; }
  virtual TPaletteMapper* Mapper() { return nullptr; }

  // Device state.
  TStretchMode StretchBltMode() const { return FStretchMode; }
  TStretchMode SetStretchBltMode(TStretchMode Mode);
  void SetBrushOrg(int X, int Y) {
    FBrushOrgX = X;
    FBrushOrgY = Y;
  }
  int BrushOrgX() const { return FBrushOrgX; }
  int BrushOrgY() const { return FBrushOrgY; }

  // Raster capability "palette device". False on this platform; tests may switch it on.
  bool PaletteDevice() const { return FPaletteDevice; }
  void SetPaletteDevice(bool Value) { FPaletteDevice = Value; }
  // Selects a palette, answering the one selected before.
  const TPalette* SelectPalette(const TPalette* Palette, bool ForceBackground);
  const TPalette* SelectedPalette() const { return FPalette; }
  // Realises the selected palette; answers the number of entries mapped.
  int RealizePalette();

  // Dots per inch of the device (the screen's for DIBs).
  virtual int LogPixelsX();
  virtual int LogPixelsY();

  // Fills a rectangle with a colour 0x00RRGGBB.
  void FillRect(const TRect& R, uint32_t Colour);

protected:
  TCanvas(); // for subclasses that open their painter themselves
  // Opens FOwnPainter on Device.
  void BeginOwnPainter(QPaintDevice& Device);
  void EndOwnPainter();

  QPainter* FPainter = nullptr;          // the painter in use, borrowed or own
  std::unique_ptr<QPainter> FOwnPainter; // the canvas's own painter while drawing
  QPaintDevice* FDevice = nullptr;       // device for the own painter

private:
  TStretchMode FStretchMode = TStretchMode::smBlackOnWhite;
  int FBrushOrgX = 0;
  int FBrushOrgY = 0;
  bool FPaletteDevice = false;
  const TPalette* FPalette = nullptr;
};

// A canvas over DIB pixels. The DIB must stay valid while the canvas lives; its
// owner re-binds or destroys the canvas when the pixels go.
class TDibCanvas final : public TCanvas {
public:
  // Mapper maps colours into a palette DIB; null: nearest colour-table entry.
  explicit TDibCanvas(const TDibView& Dib, TPaletteMapper* Mapper = nullptr);
  ~TDibCanvas() override;

  QPainter& Painter() override;
  void Flush() override;
  const TDibView* Dib() override;
  TPaletteMapper* Mapper() override { return FMapper; }

private:
  TDibView FDib;
  TPaletteMapper* FMapper;
  std::unique_ptr<TNearestColorMapper> FOwnMapper;
  std::unique_ptr<QImage> FSurface; // top-down RGB32 copy of the pixels while drawing
};

// The 1:1 copy (SetDIBitsToDevice): W x H pixels of Src from (SrcX, SrcY)
// (counted from the top) to (X, Y) of the canvas.
void SetDIBitsToDevice(TCanvas& Canvas, int X, int Y, int W, int H, int SrcX, int SrcY,
                       const TDibView& Src);

// The stretched copy (StretchDIBits, SRCCOPY) in the canvas's stretch mode:
// the SrcRect part of Src onto Dest. Only the visible part (the painter's clip
// and the device) is computed.
void StretchDIBits(TCanvas& Canvas, const TRect& Dest, const TRect& SrcRect, const TDibView& Src);

// A top-down copy of DIB pixels as a QImage (RGB32, or RGB888 when AsRgb888).
QImage DibToImage(const TDibView& Src, bool AsRgb888 = false);

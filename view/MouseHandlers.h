#pragma once
// The view's exchangeable mouse handlers: dragging the picture to scroll it,
// a dotted quick-select rectangle cut out of the displayed picture, and an
// editable rubber band with eight grab handles.
//
// X and Y of MouseDown, MouseMove and MouseUp are coordinates of the view's
// inner image control, that is pixels of the view's DisplayGraphic.

#include "platform/Dib.h"
#include "view/ImageScrollBox.h"
#include "view/ViewCursors.h"

#include <cstdint>

class TMouseHandler {
public:
  explicit TMouseHandler(TImageScrollBox& View) : FView(View) {}
  virtual ~TMouseHandler() = default;
  TMouseHandler(const TMouseHandler&) = delete;
  TMouseHandler& operator=(const TMouseHandler&) = delete;

  // Called by the view when its layout or zoom changes.
  virtual void Reset() {}
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseMove(TShiftState Shift, int X, int Y);

  TImageScrollBox& View() const { return FView; }
  bool MouseIsDown() const { return FMouseDown; }

protected:
  TImageScrollBox& FView;
  bool FMouseDown = false;
};

// Dragging scrolls the picture; the open hand shows over it, the closed hand
// while a drag can scroll.
class TDragMouseHandler : public TMouseHandler {
public:
  explicit TDragMouseHandler(TImageScrollBox& View);
  ~TDragMouseHandler() override;

  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;

private:
  TCursor FSavedCursor = crDefault;
  int FStartX = 0;
  int FStartY = 0;
};

// Dragging draws a dotted xor rectangle on the view; on release the part of
// DisplayGraphic under it is cropped and reported through OnQuickSelect.
class TQuickSelectMouseHandler : public TMouseHandler {
public:
  explicit TQuickSelectMouseHandler(TImageScrollBox& View);
  ~TQuickSelectMouseHandler() override;

  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;

  // Start and end of the rectangle, in client coordinates of the view.
  int StartX() const { return FStartX; }
  int StartY() const { return FStartY; }
  int EndX() const { return FEndX; }
  int EndY() const { return FEndY; }

private:
  void DrawOutline();

  int FStartX = 0, FStartY = 0, FEndX = 0, FEndY = 0;
  bool FDrawing = false; // the "canvas" is bound between mouse-down and mouse-up
};

// Grab handles of the rubber band: 0 top-left, 1 top, 2 top-right, 3 right,
// 4 bottom-right, 5 bottom, 6 bottom-left, 7 left.
using TGrabHandle = uint8_t;
// Allowed movement: free, vertical only (x held), horizontal only (y held).
enum TBandMovement : uint8_t { bmFree = 0, bmVertical = 1, bmHorizontal = 2 };

// The sizing cursor for a handle; raises Exception "Invalid GrabHandle,
// GrabHandleToCursor" for 8 or more.
TCursor GrabHandleToCursor(int Handle);
// The movement a handle allows; raises Exception "Invalid GrabHandle,
// GrabHandleToBandMovement" for 8 or more.
TBandMovement GrabHandleToBandMovement(int Handle);

class TRubberbandMouseHandler : public TMouseHandler {
public:
  explicit TRubberbandMouseHandler(TImageScrollBox& View);
  ~TRubberbandMouseHandler() override;

  void Reset() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;

  // Pen colour of the band, 0x00BBGGRR (default navy 0x800000).
  uint32_t BandColor() const { return FBandColor; }
  void SetBandColor(uint32_t Value);
  // Colour of the gaps of a styled pen (default white).
  uint32_t BandBackground() const { return FBandBackground; }
  void SetBandBackground(uint32_t Value);
  // Pen style 0 to 4: solid, dash, dot, dash-dot, dash-dot-dot (default 2);
  // above 4 raises EImageError "Invalid Rubberband style".
  int BandStyle() const { return FBandStyle; }
  void SetBandStyle(int Value);

  bool BandVisible() const { return FBandVisible; }
  // The band's corners in picture coordinates (not ordered while dragging).
  TRect Band() const { return TRect{FX1, FY1, FX2, FY2}; }
  TBandMovement Movement() const { return FMovement; }
  TGrabHandle GrabHandle() const { return FGrabHandle; }
  // The handle under a client point of the view, or -1.
  int HitTest(int X, int Y) const;

private:
  void DrawBand();
  void EraseBand();
  void Report(const TRect& R);

  int FX1 = 0, FY1 = 0, FX2 = 0, FY2 = 0;
  bool FBandVisible = false;
  TBandMovement FMovement = bmFree;
  TGrabHandle FGrabHandle = 4;
  // Which side of each axis the grabbed corner moves: the right (bottom)
  // side, or the left (top) one.
  bool FMovesRight = true;
  bool FMovesDown = true;
  uint32_t FBandColor = 0x800000;
  uint32_t FBandBackground = 0xFFFFFF;
  int FBandStyle = 2;
};

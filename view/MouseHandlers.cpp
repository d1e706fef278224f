#include "view/MouseHandlers.h"

#include "imaging/DibGraphic.h"
#include "platform/Exception.h"
#include "imaging/Transforms.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

// ---------------------------------------------------------------------------
// TMouseHandler

void TMouseHandler::MouseDown(TMouseButton, TShiftState, int, int) {
  FMouseDown = true;
}

void TMouseHandler::MouseUp(TMouseButton, TShiftState, int, int) {
  FMouseDown = false;
}

void TMouseHandler::MouseMove(TShiftState, int, int) {}

// ---------------------------------------------------------------------------
// TDragMouseHandler

TDragMouseHandler::TDragMouseHandler(TImageScrollBox& View) : TMouseHandler(View) {
  FView.ImageControl().SetCursorNumber(crHandOpened);
}

TDragMouseHandler::~TDragMouseHandler() {
  // Freed in the middle of a drag: do not leave the closed hand behind.
  if (FMouseDown && ScreenCursor() == crHandClosed) SetScreenCursor(FSavedCursor);
}

void TDragMouseHandler::MouseDown(TMouseButton, TShiftState, int X, int Y) {
  FMouseDown = true;
  FStartX = X;
  FStartY = Y;
  FSavedCursor = ScreenCursor();
  if (FView.HorzScrollBar().IsScrollBarVisible() || FView.VertScrollBar().IsScrollBarVisible())
    SetScreenCursor(crHandClosed);
}

void TDragMouseHandler::MouseMove(TShiftState, int X, int Y) {
  if (!FMouseDown) return;
  // The start stays: the picture moves with the scroll, so the same picture
  // point stays under the cursor.
  FView.HorzScrollBar().SetPosition(FView.HorzScrollBar().Position() + FStartX - X);
  FView.VertScrollBar().SetPosition(FView.VertScrollBar().Position() + FStartY - Y);
  FView.repaint();
}

void TDragMouseHandler::MouseUp(TMouseButton, TShiftState, int, int) {
  if (!FMouseDown) return;
  if (ScreenCursor() == crHandClosed) SetScreenCursor(FSavedCursor);
  FMouseDown = false;
}

// ---------------------------------------------------------------------------
// TQuickSelectMouseHandler

TQuickSelectMouseHandler::TQuickSelectMouseHandler(TImageScrollBox& View) : TMouseHandler(View) {
  FView.ImageControl().SetCursorNumber(crDefault);
}

TQuickSelectMouseHandler::~TQuickSelectMouseHandler() {
  if (FDrawing) DrawOutline(); // freed during a drag: take the outline away
}

void TQuickSelectMouseHandler::DrawOutline() {
  FView.Overlay().XorOutline({FStartX, FStartY, FEndX, FEndY});
}

void TQuickSelectMouseHandler::MouseDown(TMouseButton, TShiftState, int X, int Y) {
  FMouseDown = true;
  FDrawing = true;
  FStartX = FEndX = FView.ImageControl().x() + X;
  FStartY = FEndY = FView.ImageControl().y() + Y;
}

void TQuickSelectMouseHandler::MouseMove(TShiftState Shift, int X, int Y) {
  if (!FMouseDown || !(Shift & ssLeft)) return;
  const int Left = FView.ImageControl().x(), Top = FView.ImageControl().y();
  const TDibGraphic& Display = FView.DisplayGraphic();
  // Clamped to the displayed picture. (Low bound applied last, so an empty
  // picture keeps the point at the picture's corner.)
  const int Px = std::max(Left, std::min(X + Left, Left + Display.Width() - 1));
  const int Py = std::max(Top, std::min(Y + Top, Top + Display.Height() - 1));
  DrawOutline();
  FEndX = Px;
  FEndY = Py;
  DrawOutline();
}

void TQuickSelectMouseHandler::MouseUp(TMouseButton, TShiftState, int X, int Y) {
  if (!FMouseDown) return;
  struct TCleanUp {
    TQuickSelectMouseHandler& H;
    ~TCleanUp() {
      H.FDrawing = false;
      H.FMouseDown = false;
    }
  } CleanUp{*this};

  DrawOutline(); // xor once more: the outline goes
  TDibGraphic& Display = FView.DisplayGraphic();
  const int W = Display.Width(), H = Display.Height();
  TRect R;
  R.Right = std::clamp(X, 0, W);
  R.Bottom = std::clamp(Y, 0, H);
  // The start lies on the picture unless the layout changed during the drag;
  // clamping keeps the crop inside the picture then.
  R.Left = std::clamp(FStartX - FView.ImageControl().x(), 0, W);
  R.Top = std::clamp(FStartY - FView.ImageControl().y(), 0, H);
  if (R.Left > R.Right) std::swap(R.Left, R.Right);
  if (R.Top > R.Bottom) std::swap(R.Top, R.Bottom);
  // Nobody to tell: the crop would be thrown away unseen.
  if (R.Right > R.Left && R.Bottom > R.Top && FView.OnQuickSelect) {
    TCropTransform Crop;
    Crop.CutTop = R.Top;
    Crop.CutLeft = R.Left;
    Crop.CutBottom = H - R.Bottom;
    Crop.CutRight = W - R.Right;
    auto Selected = std::make_unique<TDibGraphic>();
    Crop.ApplyOnDest(Display, *Selected);
    FView.OnQuickSelect(FView, *Selected, R);
  }
}

// ---------------------------------------------------------------------------
// Grab handles

TCursor GrabHandleToCursor(int Handle) {
  static constexpr TCursor Cursors[8] = {crSizeNWSE, crSizeNS, crSizeNESW, crSizeWE,
                                         crSizeNWSE, crSizeNS, crSizeNESW, crSizeWE};
  if (Handle < 0 || Handle >= 8) throw Exception("Invalid GrabHandle, GrabHandleToCursor");
  return Cursors[Handle];
}

TBandMovement GrabHandleToBandMovement(int Handle) {
  static constexpr TBandMovement Movements[8] = {bmFree, bmVertical, bmFree, bmHorizontal,
                                                 bmFree, bmVertical, bmFree, bmHorizontal};
  if (Handle < 0 || Handle >= 8) throw Exception("Invalid GrabHandle, GrabHandleToBandMovement");
  return Movements[Handle];
}

// ---------------------------------------------------------------------------
// TRubberbandMouseHandler

TRubberbandMouseHandler::TRubberbandMouseHandler(TImageScrollBox& View) : TMouseHandler(View) {
  FView.ImageControl().SetCursorNumber(crDefault);
}

TRubberbandMouseHandler::~TRubberbandMouseHandler() {
  if (FBandVisible) EraseBand();
}

void TRubberbandMouseHandler::SetBandColor(uint32_t Value) {
  FBandColor = Value;
  if (FBandVisible) DrawBand();
}

void TRubberbandMouseHandler::SetBandBackground(uint32_t Value) {
  FBandBackground = Value;
  if (FBandVisible) DrawBand();
}

void TRubberbandMouseHandler::SetBandStyle(int Value) {
  if (Value < 0 || Value > 4) throw EImageError("Invalid Rubberband style");
  FBandStyle = Value;
  if (FBandVisible) DrawBand();
}

void TRubberbandMouseHandler::DrawBand() {
  FView.Overlay().SetBand({FX1, FY1, FX2, FY2}, FBandColor, FBandBackground,
                          static_cast<TViewOverlay::TPenStyle>(FBandStyle));
  FBandVisible = true;
}

void TRubberbandMouseHandler::EraseBand() {
  // The overlay no longer draws the band, so the picture's own pixels show.
  FView.Overlay().RemoveBand();
  FBandVisible = false;
}

void TRubberbandMouseHandler::Report(const TRect& R) {
  if (FView.OnRubberbandChange) FView.OnRubberbandChange(R);
}

int TRubberbandMouseHandler::HitTest(int X, int Y) const {
  const int Px = X + FView.HorzScrollBar().Position();
  const int Py = Y + FView.VertScrollBar().Position();
  auto Near = [](int A, int B) { return std::abs(A - B) < 4; };
  auto Between = [](int V, int A, int B) { return V >= std::min(A, B) && V <= std::max(A, B); };
  int Handle = -1;
  // Each later match overrides an earlier one: corners win over edges.
  if (Near(Py, FY1) && Between(Px, FX1, FX2)) Handle = 1;
  if (Near(Py, FY2) && Between(Px, FX1, FX2)) Handle = 5;
  if (Near(Px, FX1) && Between(Py, FY1, FY2)) Handle = 7;
  if (Near(Px, FX2) && Between(Py, FY1, FY2)) Handle = 3;
  if (Near(Px, FX2) && Near(Py, FY2)) Handle = 4;
  if (Near(Px, FX1) && Near(Py, FY1)) Handle = 0;
  if (Near(Px, FX2) && Near(Py, FY1)) Handle = 2;
  if (Near(Px, FX1) && Near(Py, FY2)) Handle = 6;
  return Handle;
}

void TRubberbandMouseHandler::MouseDown(TMouseButton, TShiftState, int X, int Y) {
  if (FView.Centered()) return;
  const int Px = FView.ImageControl().x() + X;
  const int Py = FView.ImageControl().y() + Y;
  FMouseDown = true;
  const int Handle = FBandVisible ? HitTest(Px, Py) : -1;
  if (Handle >= 0) {
    FMovement = GrabHandleToBandMovement(Handle);
    FGrabHandle = static_cast<TGrabHandle>(Handle);
    // The grabbed side becomes the (x2, y2) side.
    switch (Handle) {
    case 0:
      std::swap(FX1, FX2);
      std::swap(FY1, FY2);
      break;
    case 1:
    case 2:
      std::swap(FY1, FY2);
      break;
    case 6:
    case 7:
      std::swap(FX1, FX2);
      break;
    default:
      break;
    }
    FMovesRight = !(Handle == 0 || Handle == 6 || Handle == 7);
    FMovesDown = !(Handle == 0 || Handle == 1 || Handle == 2);
  } else {
    if (FBandVisible) {
      EraseBand();
      Report(TRect{0, 0, 0, 0});
    }
    FMovement = bmFree;
    FGrabHandle = 4;
    FMovesRight = true;
    FMovesDown = true;
    FX1 = FX2 = X;
    FY1 = FY2 = Y;
  }
}

void TRubberbandMouseHandler::MouseMove(TShiftState Shift, int X, int Y) {
  int Px = FView.ImageControl().x() + X;
  int Py = FView.ImageControl().y() + Y;
  if (!FMouseDown && FBandVisible) {
    const int Handle = HitTest(Px, Py);
    FView.ImageControl().SetCursorNumber(Handle >= 0 ? GrabHandleToCursor(Handle) : crDefault);
  }
  // To picture coordinates, by the axes the current handle moves.
  const int H = FView.HorzScrollBar().Position(), V = FView.VertScrollBar().Position();
  switch (FGrabHandle) {
  case 0:
  case 2:
  case 4:
  case 6:
    Px += H;
    Py += V;
    break;
  case 1:
  case 5:
    Py += V;
    break;
  case 3:
  case 7:
    Px += H;
    break;
  default:
    break;
  }
  const TDibGraphic& Display = FView.DisplayGraphic();
  Px = std::max(0, std::min(Px, Display.Width() - 1));
  Py = std::max(0, std::min(Py, Display.Height() - 1));

  if (!FMouseDown || !(Shift & ssLeft)) return;
  if (FMovement == bmVertical) Px = FX2;
  if (FMovement == bmHorizontal) Py = FY2;
  // A moving side never passes the fixed one: a right (bottom) side stops one
  // pixel right of (below) it, a left (top) side one pixel left of (above) it,
  // so the band keeps its orientation.
  if (FMovesRight) {
    if (Px < FX1) Px = FX1 + 1;
  } else {
    if (Px > FX1) Px = std::max(0, FX1 - 1);
  }
  if (FMovesDown) {
    if (Py < FY1) Py = FY1 + 1;
  } else {
    if (Py > FY1) Py = std::max(0, FY1 - 1);
  }
  EraseBand();
  FX2 = Px;
  FY2 = Py;
  DrawBand();
  Report(TRect{std::min(FX1, FX2), std::min(FY1, FY2), std::max(FX1, FX2), std::max(FY1, FY2)});
}

void TRubberbandMouseHandler::MouseUp(TMouseButton, TShiftState, int, int) {
  if (!FMouseDown) return;
  if (FBandVisible) {
    if (FX1 > FX2) std::swap(FX1, FX2);
    if (FY1 > FY2) std::swap(FY1, FY2);
    if (FX1 == FX2 && FY1 == FY2)
      EraseBand(); // collapsed to a point: nothing left to show
    else
      DrawBand(); // same band, corners ordered
  }
  FMouseDown = false;
}

void TRubberbandMouseHandler::Reset() {
  EraseBand();
  Report(TRect{0, 0, 0, 0});
}

#pragma once
// The view's zoom arithmetic, kept apart from the widget so that it can be
// checked on its own. Ratios are worked out in long double and stored as
// float, as the view keeps its zoom percent in single precision.

#include <cstdint>

enum TZoomMode : uint8_t {
  zmOriginalSize, // 100 percent
  zmFullPage,     // the whole picture fits the client area, enlarged or reduced
  zmFitWidth,     // the picture's width fills the client width
  zmFitHeight,    // the picture's height fills the client height
  zmPercent,      // the percent set by the caller
  zmFitToPage     // as zmFullPage, but never above 100
};

// 100 x (ClientExtent / PictureExtent): the ratio is stored as float first,
// then multiplied by 100 and stored as float again. PictureExtent > 0.
float FitPercent(int ClientExtent, int PictureExtent);

// The smaller of the two fitting percents (the height's when both are equal);
// CapAt100 limits the result to 100 (zmFitToPage).
float FullPagePercent(int ClientWidth, int ClientHeight, int Width, int Height, bool CapAt100);

// The zoom rule: the percent a Width x Height picture is shown at in Mode,
// in a client area of ClientWidth x ClientHeight (for the modes that hide
// the scroll bars first, ZoomHidesScrollBars, the view's whole size);
// Percent is the caller's own, kept in zmPercent.
float ZoomPercentFor(TZoomMode Mode, float Percent, int ClientWidth, int ClientHeight, int Width,
                     int Height);
// Whether Mode hides both scroll bars before it fits the picture.
bool ZoomHidesScrollBars(TZoomMode Mode);

// Which scroll bars show around content of ContentWidth x ContentHeight in a
// view of Width x Height whose bars are Bar wide: each bar shows when it may
// and its content exceeds the client extent the other bar leaves, settled
// from "none shown".
struct TShownBars {
  bool Horizontal = false;
  bool Vertical = false;
};
TShownBars SettleScrollBars(int ContentWidth, int ContentHeight, bool MayShowHorizontal,
                            bool MayShowVertical, int Width, int Height, int Bar);

// Displayed size of one picture extent at Percent: Trunc(Extent x Percent / 100)
// in long double, at least 1.
int DisplayExtent(int Extent, float Percent);

// Whether a layout that moved the percent from Old to New reports a change:
// Old rounded to the nearest integer (ties to even) differs from New.
bool ZoomChanged(float Old, float New);

// Offset that centres a display extent in the control's outer extent; 0 when
// the display does not fit.
int CenteredOffset(int ControlExtent, int DisplayExtent);

#include "view/ZoomMath.h"

#include <cmath>

float FitPercent(int ClientExtent, int PictureExtent) {
  const float Ratio = static_cast<float>(static_cast<long double>(ClientExtent) /
                                         static_cast<long double>(PictureExtent));
  return static_cast<float>(100.0L * static_cast<long double>(Ratio));
}

float FullPagePercent(int ClientWidth, int ClientHeight, int Width, int Height, bool CapAt100) {
  const float Rx = static_cast<float>(static_cast<long double>(ClientWidth) / Width);
  const float Ry = static_cast<float>(static_cast<long double>(ClientHeight) / Height);
  float Percent = static_cast<float>(100.0L * static_cast<long double>(Rx >= Ry ? Ry : Rx));
  if (CapAt100 && Percent > 100.0f) Percent = 100.0f;
  return Percent;
}

float ZoomPercentFor(TZoomMode Mode, float Percent, int ClientWidth, int ClientHeight, int Width,
                     int Height) {
  switch (Mode) {
  case zmOriginalSize:
    return 100.0f;
  case zmFullPage:
  case zmFitToPage:
    return FullPagePercent(ClientWidth, ClientHeight, Width, Height, Mode == zmFitToPage);
  case zmFitWidth:
    return FitPercent(ClientWidth, Width);
  case zmFitHeight:
    return FitPercent(ClientHeight, Height);
  case zmPercent:
    return Percent;
  }
  return 100.0f;
}

bool ZoomHidesScrollBars(TZoomMode Mode) {
  return Mode == zmFullPage || Mode == zmFitToPage || Mode == zmFitHeight;
}

TShownBars SettleScrollBars(int ContentWidth, int ContentHeight, bool MayShowHorizontal,
                            bool MayShowVertical, int Width, int Height, int Bar) {
  // Three passes settle it: a bar that shows can make the other show, which
  // cannot take the first away again.
  TShownBars Shown;
  for (int Pass = 0; Pass < 3; ++Pass) {
    Shown.Horizontal = MayShowHorizontal && ContentWidth > Width - (Shown.Vertical ? Bar : 0);
    Shown.Vertical = MayShowVertical && ContentHeight > Height - (Shown.Horizontal ? Bar : 0);
  }
  return Shown;
}

int DisplayExtent(int Extent, float Percent) {
  const long double Scaled =
      static_cast<long double>(Extent) * (static_cast<long double>(Percent) / 100.0L);
  // Truncation toward zero; anything below one pixel (or a value that does
  // not fit an int) is clamped rather than overflowing.
  if (!(Scaled >= 1.0L)) return 1;
  if (Scaled >= 2147483647.0L) return 2147483647;
  return static_cast<int>(Scaled);
}

bool ZoomChanged(float Old, float New) {
  // nearbyint rounds with the current mode, ties to even by default.
  return static_cast<float>(std::nearbyint(static_cast<double>(Old))) != New;
}

int CenteredOffset(int ControlExtent, int DisplayExtent) {
  return DisplayExtent < ControlExtent ? (ControlExtent - DisplayExtent) / 2 : 0;
}

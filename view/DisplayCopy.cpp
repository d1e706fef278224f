#include "view/DisplayCopy.h"

#include "imaging/DibGraphic.h"
#include "imaging/GraphicRegistry.h"
#include "imaging/Transforms.h"
#include "platform/Stream.h"

std::unique_ptr<TDibGraphic> DecodePicture(const std::string& FileName, int Index) {
  TFileStream Stream(FileName, TFileMode::fmOpenRead);
  return CreateGraphicFromStream(Stream, FileName, Index);
}

bool PlannedPercent(const TDisplayPlan& Plan, int Width, int Height, float& Percent) {
  // zmFitWidth fits the client width the vertical bar leaves; the other
  // fitting modes hide both bars first, so their client area is the view.
  if (Plan.ZoomMode == zmFitWidth) return false;
  Percent = ZoomPercentFor(Plan.ZoomMode, Plan.ZoomPercent, Plan.Width, Plan.Height, Width, Height);
  return true;
}

double PlannedScale(const TDisplayPlan& Plan, int Width, int Height) {
  float Percent = 0;
  if (Width <= 0 || Height <= 0 || !PlannedPercent(Plan, Width, Height, Percent)) return 1.0;
  return Percent / 100.0;
}

void MakeDisplayCopy(TDibGraphic& Source, int Width, int Height, TDibGraphic& Dest,
                     const TColorDescriptionPtr& Description, const TColorSpace* Color,
                     TResizeTransform* Resize) {
  if (Width != Source.Width() || Height != Source.Height()) {
    TResizeTransform Own;
    TResizeTransform& R = Resize ? *Resize : Own;
    R.Width = Width;
    R.Height = Height;
    R.ApplyOnDest(Source, Dest);
  } else if (!Dest.CopyPixelsFrom(Source)) {
    Dest.Assign(&Source);
  }
  if (Color) ConvertColors(Dest, Description, *Color);
}

std::unique_ptr<TDibGraphic> MakePlannedDisplayCopy(TDibGraphic& Picture, const TDisplayPlan& Plan) {
  if (Picture.Empty() || Picture.ImageFormat() == ifBlackWhite) return nullptr;
  // A reduced decoding is laid out as the whole picture it stands for.
  const int W = Picture.WholeWidth(), H = Picture.WholeHeight();
  float Percent = 0;
  if (!PlannedPercent(Plan, W, H, Percent)) return nullptr;
  const int DW = DisplayExtent(W, Percent), DH = DisplayExtent(H, Percent);
  if (Picture.Reduced() && (DW > Picture.Width() || DH > Picture.Height())) return nullptr;
  auto Display = std::make_unique<TDibGraphic>();
  MakeDisplayCopy(Picture, DW, DH, *Display, Picture.ColorDescription(), Plan.Color.get());
  return Display;
}

#pragma once
// Pictures from files to display copies, apart from the view widget and
// free of Qt: decoding a file, the plan a display copy is made for, the zoom
// that plan gives a picture, and making the copy. The view and decoding ahead
// (on its worker thread) both come here, so a copy made ahead is the copy the
// view would make.

#include "imaging/ColorTransform.h"
#include "view/ZoomMath.h"

#include <functional>
#include <memory>
#include <string>

class TDibGraphic;
class TResizeTransform;

// What a display copy is laid out for: the view's zoom mode, its percent
// (only in zmPercent; the fitting modes work it out per picture), the
// view's outer size and the display's colour space the copy is converted to
// (null: stored values are shown). The view's own layout of a picture under
// one plan gives the same display copy as MakePlannedDisplayCopy with that
// plan.
struct TDisplayPlan {
  TZoomMode ZoomMode = zmOriginalSize;
  float ZoomPercent = 0.0f;
  int Width = 0;
  int Height = 0;
  std::shared_ptr<const TColorSpace> Color = nullptr;
  bool operator==(const TDisplayPlan&) const = default;
};

// What the view needs to know of a picture it shows by its display copy
// alone: the whole picture's size (upright) and its file's page count.
struct TPictureFacts {
  int Width = 0;
  int Height = 0;
  int PageCount = 1;
  bool operator==(const TPictureFacts&) const = default;
};

// A decoded picture and, when it could be made, its display copy for Plan.
// A display copy may also stand alone for its picture (Picture null, Facts
// telling what it stands for): decoding ahead keeps only display copies.
struct TLaidOutPicture {
  std::unique_ptr<TDibGraphic> Picture;
  std::unique_ptr<TDibGraphic> Display; // null: the view scales the picture itself
  TDisplayPlan Plan;
  TPictureFacts Facts; // of Picture, or of the picture Display stands for
};

// Brings the whole picture of a display copy shown alone: waits for it to be
// decoded elsewhere or decodes it; raises the decoder's error.
using TPictureFetch = std::function<std::unique_ptr<TDibGraphic>()>;

// The one way a picture file becomes a picture: image Index (1-based; 0 for
// every image as a frame) of FileName, opened read only and shared, decoded
// by the format registry. Runs on any thread; raises the decoder's error.
std::unique_ptr<TDibGraphic> DecodePicture(const std::string& FileName, int Index);

// The zoom percent Plan gives a Width x Height picture (the view's zoom rule,
// ZoomPercentFor, on the view's whole outer size); false for plans whose
// percent depends on the scroll bars shown (zmFitWidth).
bool PlannedPercent(const TDisplayPlan& Plan, int Width, int Height, float& Percent);
// The scale (percent / 100) a Width x Height picture is shown at under
// Plan; 1 for plans whose scale depends on more (zmFitWidth).
double PlannedScale(const TDisplayPlan& Plan, int Width, int Height);

// The one place a display copy is made, by decoding ahead, the view's own
// layout and an animation's frame changes alike: Source scaled to Width x
// Height into Dest (copied as it is at its own size, into Dest's storage
// when that fits), then converted from the colour space Description tells
// (null: sRGB) to the display's, Color, when one is set. Resize, when given,
// is the transform to scale with. The picture itself stays as decoded.
void MakeDisplayCopy(TDibGraphic& Source, int Width, int Height, TDibGraphic& Dest,
                     const TColorDescriptionPtr& Description, const TColorSpace* Color,
                     TResizeTransform* Resize = nullptr);

// The display copy the view's layout makes of Picture under Plan; null for
// pictures and plans the view lays out another way (black and white
// pictures, zmFitWidth, which depends on the scroll bars shown), and for a
// reduced decoding too small for the plan. Runs on any thread; Picture is
// only read. A reduced decoding (Picture.Reduced()) is laid out as the whole
// picture it stands for.
std::unique_ptr<TDibGraphic> MakePlannedDisplayCopy(TDibGraphic& Picture, const TDisplayPlan& Plan);

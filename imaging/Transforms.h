#pragma once
// Image transforms: resize (stretching or filtered resampling), anti-alias of
// black-and-white images into 16 greys, crop, negative. Each is configured
// through its fields and applied from a source to a destination image
// (ApplyOnDest) or in place (Apply), with optional progress reports.

#include "imaging/DibGraphic.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TImageTransform;
// Percent is 0 to 100.
using TProgressEvent = std::function<void(TImageTransform* Sender, uint8_t Percent)>;

class TImageTransform {
public:
  virtual ~TImageTransform() = default;

  // In place: ApplyOnDest into a temporary image, then assigned back.
  virtual void Apply(TDibGraphic& Graphic);
  // Rebuilds Dest from Source. Here: raises EImageError
  // "Method "ApplyOnDest" not implemented for <class> class".
  virtual void ApplyOnDest(TDibGraphic& Source, TDibGraphic& Dest);

  std::string ClassName() const;
  TProgressEvent OnProgress;

protected:
  // Starts a run: forgets the last percent and reports 0.
  void BeginProgress();
  // Reports (Current - Start) * 100 div (End - Start), clamped to 0..100,
  // when it differs from the last report. An empty range reports 100.
  void Progress(int64_t Current, int64_t Start, int64_t End);
  bool HasProgress() const { return static_cast<bool>(OnProgress); }

private:
  uint8_t FLastPercent = 255;
};

class TAntiAliasTransform : public TImageTransform {
public:
  // Only black-and-white images change.
  void Apply(TDibGraphic& Graphic) override;
  void ApplyOnDest(TDibGraphic& Source, TDibGraphic& Dest) override;
};

class TNegativeTransform : public TImageTransform {
public:
  void Apply(TDibGraphic& Graphic) override;
  void ApplyOnDest(TDibGraphic& Source, TDibGraphic& Dest) override;
};

enum TResampleFilter : uint8_t { rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell };

// The weight of a filter at distance X and its support.
float ResampleFilterWeight(TResampleFilter Filter, float X);
float ResampleFilterSupport(TResampleFilter Filter);

// One contribution list of the resampler: source pixels and their weights
// for one destination column or row.
struct TResampleContributor {
  int Pixel;
  float Weight;
};
// The contribution lists for scaling SrcSize to DstSize with a filter
// (pixel positions mirrored at the edges); one vector per destination pixel.
std::vector<std::vector<TResampleContributor>> ResampleContributions(int SrcSize, int DstSize,
                                                                     TResampleFilter Filter);

class TResizeTransform : public TImageTransform {
public:
  void ApplyOnDest(TDibGraphic& Source, TDibGraphic& Dest) override;

  int Width = 300;
  int Height = 200;
  bool Resample = false;
  bool ConvertFormat = false;
  TImageFormat TargetFormat = ifTrueColor;
  TResampleFilter Filter = rfTriangle;

private:
  void Stretch(TDibGraphic& Source, TDibGraphic& Dest);
  void Resampling(TDibGraphic& Source, TDibGraphic& Dest);
};

class TCropTransform : public TImageTransform {
public:
  // Pixels removed from each side. Negative cuts are refused.
  void ApplyOnDest(TDibGraphic& Source, TDibGraphic& Dest) override;

  int CutTop = 0;
  int CutLeft = 0;
  int CutBottom = 0;
  int CutRight = 0;
};

// The 256-entry anti-alias table: four 4-bit greys per index, most significant first.
const uint16_t* AntiAliasTable();

#pragma once
// The platform's metafile object: loads a Windows metafile (placeable or
// plain WMF) or an enhanced metafile (EMF), reports the picture's size in
// screen pixels and plays it onto a canvas or a QPainter; and records pictures
// as EMF.
// The parser is MetaFileReader.h, the player MetaFilePlayer.h.

#include "platform/Canvas.h"
#include "platform/MetaFileReader.h"
#include "platform/Stream.h"

#include <memory>

class QImage;
class QPainter;
class QRect;

class TMetafile {
public:
  TMetafile() = default;

  // Reads a metafile from the stream's current position to its end. Raises
  // EMetafileError for bytes that are not a metafile, damaged records and
  // picture sizes out of range (see MetafilePixelSize).
  void LoadFromStream(TStream& Stream);
  void LoadFromMemory(const uint8_t* Data, size_t Size);

  bool Empty() const { return !FData; }
  bool Enhanced() const { return FData && FData->Kind == TMetafileKind::Emf; }
  // The picture's size in screen pixels at the screen's resolution.
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  size_t RecordCount() const { return FData ? FData->Records.size() : 0; }

  // Plays the metafile scaled into Rect (painter coordinates).
  void Draw(QPainter& Painter, const QRect& Rect) const;
  // The same on a canvas, Rect in the canvas's coordinates.
  void Draw(TCanvas& Canvas, const TRect& Rect) const;

  // Writes the metafile's bytes as they were loaded or recorded.
  void SaveToStream(TStream& Stream) const;

private:
  friend class TMetafileCanvas;
  void SetBytes(const uint8_t* Data, size_t Size);

  std::shared_ptr<const TMetafileData> FData;
  int FWidth = 0;
  int FHeight = 0;
};

// Records drawing into a metafile of Width x Height screen pixels. Only
// bitmaps are recorded: each DrawImage becomes one StretchDIBits record of an
// enhanced metafile. Finish (or the destructor) puts the picture into the
// metafile given to the constructor.
class TMetafileCanvas {
public:
  TMetafileCanvas(TMetafile& Target, int Width, int Height);
  ~TMetafileCanvas();
  TMetafileCanvas(const TMetafileCanvas&) = delete;
  TMetafileCanvas& operator=(const TMetafileCanvas&) = delete;

  // Draws Image with its top-left corner at (X, Y), at its own size.
  void DrawImage(int X, int Y, const QImage& Image);
  // The same for DIB pixels.
  void DrawDib(int X, int Y, const TDibView& Dib);
  void Finish();

private:
  TMetafile& FTarget;
  int FWidth, FHeight;
  std::vector<uint8_t> FRecords;
  uint32_t FRecordCount = 0;
  bool FFinished = false;
};

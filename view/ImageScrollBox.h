#pragma once
// TImageScrollBox: the scrolling, zooming picture view. It keeps the loaded
// picture unscaled (Graphic) and a second copy already scaled to the shown size
// (DisplayGraphic), which an inner image control paints 1:1. Scaling happens
// when the picture, the zoom, the size or a display setting changes, never at
// paint time. Mouse input on the picture goes to an exchangeable mouse handler.
//
// Coordinates: "client" coordinates are those of the view's client area (the
// viewport, without the scroll bars); the inner image control sits in it at
// (ImageLeft - horizontal position, ImageTop - vertical position). Mouse
// events carry coordinates of the inner image control, that is pixels of
// DisplayGraphic.

#include "platform/Dib.h"
#include "view/ViewCursors.h"
#include "view/WheelNotches.h"
#include "view/DisplayCopy.h"
#include "view/ZoomMath.h"

#include <QPointF>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QScrollBar;
class QTimer;
class TDibGraphic;
class TResizeTransform;
class TAntiAliasTransform;
class TStream;
class TImageScrollBox;
class TMouseHandler;
class TColorSpace;

enum TMouseMode : uint8_t { mmDrag, mmQuickSelect, mmRubberband, mmNone };

// Mouse buttons and the shift state of mouse events (keys and held buttons).
enum TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };
enum TShiftFlag : unsigned {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32,
  ssDouble = 64
};
using TShiftState = unsigned;

using TZoomChangeEvent = std::function<void(TImageScrollBox& Sender, float Zoom)>;
using TRedrawEvent = std::function<void(TDibGraphic& Graphic)>;
// Graphic is owned by the view and freed after the event: copy it to keep it.
using TQuickSelectEvent =
    std::function<void(TImageScrollBox& Sender, TDibGraphic& Graphic, const TRect& Rect)>;
using TRubberbandChangeEvent = std::function<void(const TRect& Rect)>;
using TMouseEvent =
    std::function<void(QObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(QObject* Sender, TShiftState Shift, int X, int Y)>;
// Whole wheel notches: for zooming, away from the user positive, At the client
// point under the pointer; for stepping, towards the user positive.
using TWheelZoomEvent = std::function<void(TImageScrollBox& Sender, int Notches, QPoint At)>;
using TWheelStepEvent = std::function<void(TImageScrollBox& Sender, int Notches)>;

// One scroll bar of the view, with the framework's model: a range (the size
// of the scrolled content), a position clamped to 0..range - client extent,
// and a visible flag. The bar shows when it is visible and its range exceeds
// the client extent.
class TControlScrollBar {
public:
  int Position() const { return FPosition; }
  void SetPosition(int Value);
  int Range() const { return FRange; }
  void SetRange(int Value);
  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);
  bool Tracking() const { return FTracking; }
  void SetTracking(bool Value);
  // Whether the bar is on screen now.
  bool IsScrollBarVisible() const { return FShown; }
  // The largest position the range allows.
  int MaxPosition() const;
  QScrollBar* Bar() const { return FBar; }

private:
  friend class TImageScrollBox;
  TControlScrollBar(TImageScrollBox& Owner, Qt::Orientation Kind);
  int ClientExtent() const;

  TImageScrollBox& FOwner;
  Qt::Orientation FKind;
  QScrollBar* FBar = nullptr;
  int FRange = 0;
  int FPosition = 0;
  bool FVisible = true;
  bool FTracking = false;
  bool FShown = false;
};

// The inner image control: paints its picture (DisplayGraphic) 1:1 at its
// own top left and routes its mouse events to the view.
class TImageControl final : public QWidget {
public:
  TImageControl(TImageScrollBox& View, QWidget* Parent);
  ~TImageControl() override;
  TDibGraphic& Picture() { return *FPicture; }
  // Puts New in place of the picture and answers the one it held.
  std::unique_ptr<TDibGraphic> SwapPicture(std::unique_ptr<TDibGraphic> New);
  // The cursor number last set; crDefault for the default cursor.
  TCursor CursorNumber() const { return FCursor; }
  void SetCursorNumber(TCursor Cursor);

protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;

private:
  TImageScrollBox& FView;
  std::unique_ptr<TDibGraphic> FPicture;
  TCursor FCursor = crDefault;
};

// A transparent layer over the client area on which the mouse handlers draw
// outlines: xor outlines (drawing the same one twice removes it, as with an
// xor pen) and the rubber band. Coordinates are client coordinates.
class TViewOverlay final : public QWidget {
public:
  // Pen styles of the framework: solid, dash, dot, dash-dot, dash-dot-dot.
  enum TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot };

  struct TOutline {
    int X1, Y1, X2, Y2;
    bool operator==(const TOutline&) const = default;
  };

  TViewOverlay(TImageScrollBox& View, QWidget* Parent);
  // Toggles an xor outline through the corners (X1, Y1) and (X2, Y2): dotted,
  // inverting the pixels under the pen's gaps.
  void XorOutline(const TOutline& Outline);
  const std::vector<TOutline>& XorOutlines() const { return FXor; }
  void ClearXor();
  // The band, corners in picture coordinates: drawn shifted by minus the
  // view's scroll positions, with Colour (0x00BBGGRR) on the dashes of its pen
  // style and Background on the gaps.
  void SetBand(const TOutline& Band, uint32_t Colour, uint32_t Background, TPenStyle Style);
  void RemoveBand();
  bool HasBand() const { return FHasBand; }
  const TOutline& Band() const { return FBand; }

  // The pixels (client coordinates) the outline through the two corners
  // touches, in drawing order, each with whether the pen is "on" there for
  // Style. The outline is drawn as four line segments, each without its end
  // point, so a closed outline touches every pixel once.
  struct TPenPixel {
    int X, Y;
    bool On;
  };
  static std::vector<TPenPixel> OutlinePixels(const TOutline& Outline, TPenStyle Style);

protected:
  void paintEvent(QPaintEvent* Event) override;

private:
  TImageScrollBox& FView;
  std::vector<TOutline> FXor;
  bool FHasBand = false;
  TOutline FBand{};
  uint32_t FBandColour = 0;
  uint32_t FBandBackground = 0;
  TPenStyle FBandStyle = psDot;
};

class TImageScrollBox : public QWidget {
public:
  explicit TImageScrollBox(QWidget* Parent = nullptr);
  ~TImageScrollBox() override;
  TImageScrollBox(const TImageScrollBox&) = delete;
  TImageScrollBox& operator=(const TImageScrollBox&) = delete;

  // Loads image Index (1-based; 0 loads every image as a frame) of a file,
  // opened read only and shared. A failure passes out and leaves the current
  // picture, zoom and scroll state as they were. FileName is not changed.
  void LoadFromFile(const std::string& FileName, int Index);
  // As LoadFromFile from a stream; FileNameOrExt picks the format class.
  void LoadFromStream(TStream& Stream, const std::string& FileNameOrExt, int Index);
  // Makes an already decoded picture the Graphic, as LoadFromStream does after
  // its decoding (the main window decodes the next picture ahead).
  void LoadFromGraphic(std::unique_ptr<TDibGraphic> New);
  // As above; a display copy made for the view's present plan is shown as it
  // is instead of being scaled again. Answers the picture shown before, with
  // its display copy when that copy was laid out for the present plan (null
  // pictures when New held none: nothing changes then).
  // A display copy standing alone (New.Picture null) for the present plan is
  // shown at once; its picture is pending until CompletePicture hands it in,
  // and whatever needs it first (Graphic(): a zoom, 100 %, a transform, a
  // drag, a copy, a new layout) gets it from Fetch, under the busy cursor.
  // The answer may be such a display copy too, when the picture shown before
  // was still pending.
  TLaidOutPicture LoadFromGraphic(TLaidOutPicture New, TPictureFetch Fetch = {});
  // Hands in the whole picture of the display copy shown alone (nothing
  // happens when none is pending). Same: the picture is the one the copy was
  // made from, which stays shown; otherwise the picture is laid out anew.
  void CompletePicture(std::unique_ptr<TDibGraphic> Picture, bool Same = true);
  // Whether the display copy shown stands alone for its picture.
  bool PicturePending() const { return FPending; }

  // The plan the view lays pictures out for now.
  TDisplayPlan DisplayPlan() const;
  // Empties the picture and the file name.
  void Clear();

  // The picture shown; a pending one is fetched first (see LoadFromGraphic).
  TDibGraphic& Graphic();
  // The picture's size and page count, also while it is pending; 0 x 0 for
  // no picture.
  int PictureWidth() const;
  int PictureHeight() const;
  int PicturePageCount() const;
  bool PictureEmpty() const;
  TDibGraphic& DisplayGraphic();
  // The 16-grey copy of a black-and-white picture; empty otherwise.
  TDibGraphic& AntiAliasedGraphic() { return *FAntiAliasedGraphic; }

  TZoomMode ZoomMode() const { return FZoomMode; }
  void SetZoomMode(TZoomMode Value);
  float ZoomPercent() const { return FZoomPercent; }
  // Zooms to Value percent. A zoom whose display copy would pass the pixel
  // limit or the memory left in the budget is refused: the zoom stays, the
  // reason goes to OnZoomRefused, and the answer is false.
  bool SetZoomPercent(float Value);
  // Whether a display copy at Percent fits; Why tells the reason when not.
  bool ZoomFits(float Percent, std::string& Why) const;
  bool Centered() const { return FCentered; }
  void SetCentered(bool Value);
  bool AntiAliased() const { return FAntiAliased; }
  void SetAntiAliased(bool Value);
  // The colour space of the display the view converts display copies to
  // (sRGB to start with); null shows stored values. Setting another lays the
  // picture out again.
  const std::shared_ptr<const TColorSpace>& DisplayColorSpace() const { return FDisplayColor; }
  void SetDisplayColorSpace(std::shared_ptr<const TColorSpace> Value);
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& Value);
  TMouseMode MouseMode() const { return FMouseMode; }
  void SetMouseMode(TMouseMode Value);
  TMouseHandler* MouseHandler() const { return FMouseHandler.get(); }

  TControlScrollBar& HorzScrollBar() { return *FHorzScrollBar; }
  TControlScrollBar& VertScrollBar() { return *FVertScrollBar; }

  // Frame cycling. An animated picture (TDibGraphic::Animated) plays by
  // itself as soon as the view is given one, from its first frame: each frame
  // stays for its own FrameDelay, the animation runs LoopCount times (0: for
  // ever) and then stops on its last frame. A picture put in its place (or
  // Clear) stops it. Animate() is on while frames cycle; switching it on
  // again plays a finished animation once more. Pictures whose frames are
  // pages (index 0) cycle for ever while Animate is on, as the flag says.
  bool Animate() const { return FAnimate; }
  void SetAnimate(bool Value);
  int FrameCount() const;
  int CurrentFrame() const;
  void ShowFrame(int I);
  QTimer& FrameTimer() { return *FFrameTimer; }
  // How often the animation shown has played to its end.
  int PlaysDone() const { return FPlays; }

  // Lays the picture out again; NewImage also rebuilds the anti-aliased copy.
  // Does nothing unless the view has a parent, is not hidden and is not
  // already inside UpdateImage.
  virtual void UpdateImage(bool NewImage);

  // The client area: the view without the scroll bars that are shown.
  int ClientWidth() const;
  int ClientHeight() const;
  QWidget* Viewport() const { return FViewport; }
  TImageControl& ImageControl() const { return *FImage; }
  TViewOverlay& Overlay() const { return *FOverlay; }

  // The point of the picture (in pixels of Graphic) shown at a client point,
  // and scrolling so that a point of the picture shows at a client point, as
  // near as the scroll range allows: a zoom keeps the point under the pointer.
  QPointF PicturePointAt(QPoint Client) const;
  void ShowPicturePointAt(QPointF Point, QPoint Client);

  // Frees the mouse handler as the destruction of the view's window does;
  // MouseMode keeps its value. Runs when a shown view is given another parent.
  void DestroyWnd();

  TZoomChangeEvent OnZoomChange;
  std::function<void(TImageScrollBox& Sender, const std::string& Why)> OnZoomRefused;
  TRedrawEvent OnRedraw;
  TQuickSelectEvent OnQuickSelect;
  TRubberbandChangeEvent OnRubberbandChange;
  TMouseEvent OnImageMouseDown;
  TMouseMoveEvent OnImageMouseMove;
  TMouseEvent OnImageMouseUp;
  // The mouse wheel over the view: with Ctrl held, OnWheelZoom; otherwise a
  // picture larger than the client area scrolls (the vertical wheel scrolls
  // sideways when only the width is larger), and a picture wholly in view
  // raises OnWheelStep. Small turns add up to whole notches.
  TWheelZoomEvent OnWheelZoom;
  TWheelStepEvent OnWheelStep;

protected:
  void resizeEvent(QResizeEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
  bool event(QEvent* Event) override;

private:
  friend class TControlScrollBar;
  friend class TImageControl;

  // Puts the bars, the viewport and the inner image control in place for the
  // current flags, ranges and positions.
  void UpdateScrollBars();
  void MoveImageControl();
  void ScrollBarMoved(TControlScrollBar& Bar, int Value);
  void ComputeZoom();
  void PlaceDisplayCopy(bool BlackAndWhite);
  // Fetches a pending picture (see LoadFromGraphic).
  void EnsurePicture();
  // The display copy of Source at DW x DH (the layout's step that scales).
  void RenderDisplay(TDibGraphic& Source, int DW, int DH);
  void FrameTick();
  // Shows frame I of an animation: the display copy is made again at the
  // laid out size; zoom, scroll bars, positions and the mouse handler stay.
  void ShowAnimationFrame(int I);
  // A picture just given to the view: an animation starts from its first
  // frame, anything else stops the frame timer.
  void StartAnimation();
  void StopAnimation();
  void ImageMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  void ImageMouseMove(TShiftState Shift, int X, int Y);
  void ImageMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);

  QWidget* FViewport = nullptr;
  TImageControl* FImage = nullptr;
  TViewOverlay* FOverlay = nullptr;
  std::unique_ptr<TControlScrollBar> FHorzScrollBar;
  std::unique_ptr<TControlScrollBar> FVertScrollBar;
  std::unique_ptr<TDibGraphic> FGraphic;
  std::unique_ptr<TDibGraphic> FAntiAliasedGraphic;
  std::unique_ptr<TResizeTransform> FResizeTransform;
  std::unique_ptr<TAntiAliasTransform> FAntiAliasTransform;
  std::unique_ptr<TMouseHandler> FMouseHandler;
  TMouseMode FMouseMode = mmNone;
  TZoomMode FZoomMode = zmOriginalSize;
  float FZoomPercent = 100.0f;
  bool FAntiAliased = false;
  std::shared_ptr<const TColorSpace> FDisplayColor;
  bool FAnimate = false;
  int FPlays = 0;
  QTimer* FFrameTimer = nullptr;
  std::string FFileName;
  bool FCentered = false;
  bool FBusy = false;
  // A display copy made elsewhere for the picture being loaded, and what the
  // present display copy was laid out for.
  std::unique_ptr<TDibGraphic> FPrepared;
  std::unique_ptr<TDibGraphic> FSwappedOut; // the display copy FPrepared replaced
  const TDibGraphic* FDisplayFor = nullptr;
  const TDibGraphic* FLaidOutFor = nullptr; // the picture the last layout was made for
  TDisplayPlan FDisplayPlan;
  // A display copy shown alone: the facts of its picture, and where that
  // picture comes from.
  bool FPending = false;
  TPictureFacts FPendingFacts;
  TPictureFetch FFetch;
  // Where the layout put the inner image control, at scroll positions 0.
  int FImageLeft = 0;
  int FImageTop = 0;
  TWheelNotches FZoomNotches;
  TWheelNotches FStepNotches;
  // Scrolling by wheel: the parts of a pixel not scrolled yet.
  double FScrollRestX = 0;
  double FScrollRestY = 0;
};

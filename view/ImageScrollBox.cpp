#include "view/ImageScrollBox.h"

#include "imaging/ColorTransform.h"
#include "imaging/DibGraphic.h"
#include "imaging/GraphicRegistry.h"
#include "platform/MemoryBudget.h"
#include "view/MouseHandlers.h"
#include "platform/Stream.h"
#include "imaging/Transforms.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <utility>

namespace {

// Runs a clean-up at scope exit, also when an exception leaves the scope.
template <class F> class TFinally {
public:
  explicit TFinally(F Action) : FAction(std::move(Action)) {}
  ~TFinally() { FAction(); }
  TFinally(const TFinally&) = delete;
  TFinally& operator=(const TFinally&) = delete;

private:
  F FAction;
};

TMouseButton ButtonFrom(Qt::MouseButton Button) {
  switch (Button) {
  case Qt::RightButton:
    return mbRight;
  case Qt::MiddleButton:
    return mbMiddle;
  default:
    return mbLeft;
  }
}

TShiftState ShiftFrom(Qt::KeyboardModifiers Keys, Qt::MouseButtons Buttons) {
  TShiftState Shift = 0;
  if (Keys & Qt::ShiftModifier) Shift |= ssShift;
  if (Keys & Qt::AltModifier) Shift |= ssAlt;
  if (Keys & Qt::ControlModifier) Shift |= ssCtrl;
  if (Buttons & Qt::LeftButton) Shift |= ssLeft;
  if (Buttons & Qt::RightButton) Shift |= ssRight;
  if (Buttons & Qt::MiddleButton) Shift |= ssMiddle;
  return Shift;
}

} // namespace

// ---------------------------------------------------------------------------
// TControlScrollBar

TControlScrollBar::TControlScrollBar(TImageScrollBox& Owner, Qt::Orientation Kind)
    : FOwner(Owner), FKind(Kind) {
  FBar = new QScrollBar(Kind, &Owner);
  FBar->hide();
  FBar->setSingleStep(8);
  QObject::connect(FBar, &QScrollBar::valueChanged, &Owner,
                   [this](int Value) { FOwner.ScrollBarMoved(*this, Value); });
}

int TControlScrollBar::ClientExtent() const {
  return FKind == Qt::Horizontal ? FOwner.ClientWidth() : FOwner.ClientHeight();
}

int TControlScrollBar::MaxPosition() const {
  return FShown ? std::max(0, FRange - ClientExtent()) : 0;
}

void TControlScrollBar::SetPosition(int Value) {
  Value = std::clamp(Value, 0, MaxPosition());
  if (Value == FPosition) return;
  FPosition = Value;
  {
    const QSignalBlocker Blocker(FBar);
    FBar->setValue(Value);
  }
  FOwner.MoveImageControl();
}

void TControlScrollBar::SetRange(int Value) {
  FRange = std::max(0, Value);
  FOwner.UpdateScrollBars();
}

void TControlScrollBar::SetVisible(bool Value) {
  FVisible = Value;
  FOwner.UpdateScrollBars();
}

void TControlScrollBar::SetTracking(bool Value) {
  FTracking = Value;
  FBar->setTracking(Value);
}

// ---------------------------------------------------------------------------
// TImageControl

TImageControl::TImageControl(TImageScrollBox& View, QWidget* Parent)
    : QWidget(Parent), FView(View), FPicture(std::make_unique<TDibGraphic>()) {
  setMouseTracking(true); // mouse moves without a button reach the handler too
}

TImageControl::~TImageControl() = default;

std::unique_ptr<TDibGraphic> TImageControl::SwapPicture(std::unique_ptr<TDibGraphic> New) {
  std::swap(FPicture, New);
  return New;
}

void TImageControl::SetCursorNumber(TCursor Cursor) {
  FCursor = Cursor;
  if (Cursor == crDefault)
    unsetCursor();
  else
    setCursor(CursorFromNumber(Cursor));
}

void TImageControl::paintEvent(QPaintEvent* Event) {
  if (FPicture->Empty()) return;
  QPainter Painter(this);
  // Only the exposed part is converted and copied: the control can be far
  // larger than the view (a big picture at 100 %).
  Painter.setClipRect(Event->rect());
  TCanvas Canvas(Painter);
  // Always the picture's own size: the copy is already scaled, so this is 1:1.
  FPicture->Draw(Canvas, Rect(0, 0, FPicture->Width(), FPicture->Height()));
}

void TImageControl::mousePressEvent(QMouseEvent* Event) {
  const QPoint P = Event->position().toPoint();
  FView.ImageMouseDown(ButtonFrom(Event->button()), ShiftFrom(Event->modifiers(), Event->buttons()),
                       P.x(), P.y());
}

void TImageControl::mouseDoubleClickEvent(QMouseEvent* Event) {
  const QPoint P = Event->position().toPoint();
  FView.ImageMouseDown(ButtonFrom(Event->button()),
                       ShiftFrom(Event->modifiers(), Event->buttons()) | ssDouble, P.x(), P.y());
}

void TImageControl::mouseMoveEvent(QMouseEvent* Event) {
  const QPoint P = Event->position().toPoint();
  FView.ImageMouseMove(ShiftFrom(Event->modifiers(), Event->buttons()), P.x(), P.y());
}

void TImageControl::mouseReleaseEvent(QMouseEvent* Event) {
  const QPoint P = Event->position().toPoint();
  FView.ImageMouseUp(ButtonFrom(Event->button()), ShiftFrom(Event->modifiers(), Event->buttons()),
                     P.x(), P.y());
}

// ---------------------------------------------------------------------------
// TViewOverlay

TViewOverlay::TViewOverlay(TImageScrollBox& View, QWidget* Parent) : QWidget(Parent), FView(View) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
}

void TViewOverlay::XorOutline(const TOutline& Outline) {
  // An outline that touches no pixel changes nothing, as with a real xor pen.
  if (Outline.X1 == Outline.X2 && Outline.Y1 == Outline.Y2) return;
  const auto Found = std::find(FXor.begin(), FXor.end(), Outline);
  if (Found != FXor.end())
    FXor.erase(Found);
  else
    FXor.push_back(Outline);
  update();
}

void TViewOverlay::ClearXor() {
  if (FXor.empty()) return;
  FXor.clear();
  update();
}

void TViewOverlay::SetBand(const TOutline& Band, uint32_t Colour, uint32_t Background,
                           TPenStyle Style) {
  FHasBand = true;
  FBand = Band;
  FBandColour = Colour;
  FBandBackground = Background;
  FBandStyle = Style;
  update();
}

void TViewOverlay::RemoveBand() {
  if (!FHasBand) return;
  FHasBand = false;
  update();
}

std::vector<TViewOverlay::TPenPixel> TViewOverlay::OutlinePixels(const TOutline& O,
                                                                 TPenStyle Style) {
  // Dash patterns of the cosmetic pen styles, alternating on and off lengths.
  static const std::vector<int> Patterns[] = {
      {},                 // solid
      {18, 6},            // dash
      {3, 3},             // dot
      {9, 6, 3, 6},       // dash-dot
      {9, 3, 3, 3, 3, 3}, // dash-dot-dot
  };
  const std::vector<int>& Pattern = Patterns[Style <= psDashDotDot ? Style : psSolid];
  int PatternLength = 0;
  for (int Length : Pattern)
    PatternLength += Length;

  std::vector<TPenPixel> Pixels;
  int Step = 0; // the pattern runs on across the segments of the outline
  auto Line = [&](int X0, int Y0, int X1, int Y1) {
    // Bresenham, without the end point.
    const int Dx = std::abs(X1 - X0), Sx = X0 < X1 ? 1 : -1;
    const int Dy = -std::abs(Y1 - Y0), Sy = Y0 < Y1 ? 1 : -1;
    int Err = Dx + Dy;
    int X = X0, Y = Y0;
    while (X != X1 || Y != Y1) {
      bool On = true;
      if (PatternLength > 0) {
        int Pos = Step % PatternLength;
        for (size_t I = 0; I < Pattern.size(); ++I) {
          if (Pos < Pattern[I]) {
            On = (I % 2) == 0;
            break;
          }
          Pos -= Pattern[I];
        }
      }
      Pixels.push_back({X, Y, On});
      ++Step;
      const int E2 = 2 * Err;
      if (E2 >= Dy) {
        Err += Dy;
        X += Sx;
      }
      if (E2 <= Dx) {
        Err += Dx;
        Y += Sy;
      }
    }
  };
  Line(O.X1, O.Y1, O.X2, O.Y1);
  Line(O.X2, O.Y1, O.X2, O.Y2);
  Line(O.X2, O.Y2, O.X1, O.Y2);
  Line(O.X1, O.Y2, O.X1, O.Y1);
  return Pixels;
}

void TViewOverlay::paintEvent(QPaintEvent* Event) {
  if (FXor.empty() && !FHasBand) return;
  QPainter Painter(this);
  Painter.setClipRegion(Event->region());
  if (FHasBand) {
    const QColor On(FBandColour & 0xFF, (FBandColour >> 8) & 0xFF, (FBandColour >> 16) & 0xFF);
    const QColor Off(FBandBackground & 0xFF, (FBandBackground >> 8) & 0xFF,
                     (FBandBackground >> 16) & 0xFF);
    const int Dx = FView.HorzScrollBar().Position(), Dy = FView.VertScrollBar().Position();
    const TOutline Shifted{FBand.X1 - Dx, FBand.Y1 - Dy, FBand.X2 - Dx, FBand.Y2 - Dy};
    QPolygon OnPoints, OffPoints;
    for (const TPenPixel& P : OutlinePixels(Shifted, FBandStyle))
      (P.On ? OnPoints : OffPoints).append(QPoint(P.X, P.Y));
    Painter.setPen(On);
    Painter.drawPoints(OnPoints);
    Painter.setPen(Off);
    Painter.drawPoints(OffPoints);
  }
  if (!FXor.empty()) {
    // A black dotted pen in xor mode leaves the dots as they are and inverts
    // the gaps (the background colour, white, is xored there). Pixels drawn
    // an even number of times cancel out.
    std::map<std::pair<int, int>, int> Parity;
    for (const TOutline& O : FXor)
      for (const TPenPixel& P : OutlinePixels(O, psDot))
        if (!P.On) Parity[{P.X, P.Y}] ^= 1;
    QPolygon Points;
    for (const auto& [Point, Odd] : Parity)
      if (Odd) Points.append(QPoint(Point.first, Point.second));
    Painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    Painter.setPen(Qt::white);
    Painter.drawPoints(Points);
  }
}

// ---------------------------------------------------------------------------
// TImageScrollBox

TImageScrollBox::TImageScrollBox(QWidget* Parent) : QWidget(Parent) {
  resize(100, 100);
  FViewport = new QWidget(this);
  FImage = new TImageControl(*this, FViewport);
  FImage->hide();
  FImage->move(0, 0);
  FOverlay = new TViewOverlay(*this, FViewport);
  FOverlay->raise();
  FHorzScrollBar.reset(new TControlScrollBar(*this, Qt::Horizontal));
  FVertScrollBar.reset(new TControlScrollBar(*this, Qt::Vertical));
  FHorzScrollBar->SetTracking(true);
  FVertScrollBar->SetTracking(true);

  FGraphic = std::make_unique<TDibGraphic>();
  FAntiAliasedGraphic = std::make_unique<TDibGraphic>();
  FResizeTransform = std::make_unique<TResizeTransform>();
  FAntiAliasTransform = std::make_unique<TAntiAliasTransform>();
  FDisplayColor = SRGBColorSpace();
  FFrameTimer = new QTimer(this);
  QObject::connect(FFrameTimer, &QTimer::timeout, this, [this] { FrameTick(); });

  SetMouseMode(mmDrag);
  UpdateScrollBars();
}

TImageScrollBox::~TImageScrollBox() {
  FFrameTimer->stop();
  FMouseHandler.reset(); // handlers refer to the inner controls, which go last
}

TDibGraphic& TImageScrollBox::DisplayGraphic() {
  return FImage->Picture();
}

TDibGraphic& TImageScrollBox::Graphic() {
  EnsurePicture();
  return *FGraphic;
}

bool TImageScrollBox::PictureEmpty() const {
  return !FPending && FGraphic->Empty();
}

int TImageScrollBox::PictureWidth() const {
  return FPending ? FPendingFacts.Width : (FGraphic->Empty() ? 0 : FGraphic->Width());
}

int TImageScrollBox::PictureHeight() const {
  return FPending ? FPendingFacts.Height : (FGraphic->Empty() ? 0 : FGraphic->Height());
}

int TImageScrollBox::PicturePageCount() const {
  return FPending ? FPendingFacts.PageCount : FGraphic->PageCount();
}

void TImageScrollBox::EnsurePicture() {
  if (!FPending) return;
  TPictureFetch Fetch = std::move(FFetch);
  FFetch = nullptr;
  FPending = false;
  std::unique_ptr<TDibGraphic> Whole;
  try {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const TFinally Restore([] { QGuiApplication::restoreOverrideCursor(); });
    if (Fetch) Whole = Fetch();
    if (!Whole || Whole->Empty()) throw EImageError("The picture could not be loaded");
  } catch (...) {
    // Nothing stands for the picture any more: the view shows none.
    FGraphic = std::make_unique<TDibGraphic>();
    DisplayGraphic().ClearImage();
    FImage->hide();
    throw;
  }
  FGraphic = std::move(Whole);
  // The display copy shown was laid out for this picture and the plan it
  // records; a layout for another plan follows where one is needed.
  FDisplayFor = FGraphic.get();
  FLaidOutFor = FGraphic.get();
}

void TImageScrollBox::CompletePicture(std::unique_ptr<TDibGraphic> Picture, bool Same) {
  if (!FPending || !Picture || Picture->Empty()) return;
  FPending = false;
  FFetch = nullptr;
  FGraphic = std::move(Picture);
  if (Same && FDisplayPlan == DisplayPlan()) {
    FDisplayFor = FGraphic.get();
    FLaidOutFor = FGraphic.get();
  } else {
    UpdateImage(true);
  }
  // Animations are kept whole ahead and never wait here; one that does
  // plays from its first frame.
  if (FGraphic->Animated() && !FAnimate) StartAnimation();
}

int TImageScrollBox::ClientWidth() const {
  const int Bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  return std::max(0, width() - (FVertScrollBar && FVertScrollBar->FShown ? Bar : 0));
}

int TImageScrollBox::ClientHeight() const {
  const int Bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  return std::max(0, height() - (FHorzScrollBar && FHorzScrollBar->FShown ? Bar : 0));
}

void TImageScrollBox::UpdateScrollBars() {
  if (!FHorzScrollBar || !FVertScrollBar) return;
  TControlScrollBar& H = *FHorzScrollBar;
  TControlScrollBar& V = *FVertScrollBar;
  const int Bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const TShownBars Shown =
      SettleScrollBars(H.FRange, V.FRange, H.FVisible, V.FVisible, width(), height(), Bar);
  H.FShown = Shown.Horizontal;
  V.FShown = Shown.Vertical;
  const int CW = ClientWidth(), CH = ClientHeight();
  FViewport->setGeometry(0, 0, CW, CH);
  FOverlay->setGeometry(0, 0, CW, CH);
  for (TControlScrollBar* B : {&H, &V}) {
    const bool Horz = B == &H;
    B->FPosition = std::clamp(B->FPosition, 0, B->MaxPosition());
    const QSignalBlocker Blocker(B->FBar);
    B->FBar->setRange(0, B->MaxPosition());
    B->FBar->setPageStep(std::max(1, Horz ? CW : CH));
    B->FBar->setValue(B->FPosition);
    if (Horz)
      B->FBar->setGeometry(0, CH, CW, Bar);
    else
      B->FBar->setGeometry(CW, 0, Bar, CH);
    B->FBar->setVisible(B->FShown);
  }
  MoveImageControl();
}

void TImageScrollBox::MoveImageControl() {
  FImage->move(FImageLeft - FHorzScrollBar->FPosition, FImageTop - FVertScrollBar->FPosition);
  FOverlay->update(); // the band follows the picture
}

void TImageScrollBox::ScrollBarMoved(TControlScrollBar& Bar, int Value) {
  Bar.SetPosition(Value);
  repaint(); // a scroll repaints at once
}

void TImageScrollBox::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  UpdateScrollBars();
  if (!FBusy) UpdateImage(false);
}

bool TImageScrollBox::event(QEvent* Event) {
  // Giving a view whose window exists another parent destroys that window.
  if (Event->type() == QEvent::ParentAboutToChange && testAttribute(Qt::WA_WState_Created))
    DestroyWnd();
  return QWidget::event(Event);
}

void TImageScrollBox::DestroyWnd() {
  FMouseHandler.reset();
}

void TImageScrollBox::LoadFromFile(const std::string& FileName, int Index) {
  const bool WasAnimated = FAnimate;
  if (WasAnimated) SetAnimate(false);
  const TFinally Restore([&] {
    if (WasAnimated) SetAnimate(true);
  });
  std::unique_ptr<TDibGraphic> New = DecodePicture(FileName, Index);
  FPending = false;
  FFetch = nullptr;
  StopAnimation();
  FGraphic = std::move(New);
  UpdateImage(true);
  StartAnimation();
}

void TImageScrollBox::LoadFromStream(TStream& Stream, const std::string& FileNameOrExt, int Index) {
  std::unique_ptr<TDibGraphic> New = CreateGraphicFromStream(Stream, FileNameOrExt, Index);
  FPending = false;
  FFetch = nullptr;
  StopAnimation();
  FGraphic = std::move(New);
  UpdateImage(true);
  StartAnimation();
}

namespace {

// An animation given to the view plays from its first frame; a display copy
// made of another frame (a picture shown before and kept) is not shown.
void Rewind(TDibGraphic& Picture, std::unique_ptr<TDibGraphic>* Display) {
  if (!Picture.Animated() || Picture.CurrentFrame() == 1) return;
  Picture.SelectFrame(1);
  if (Display) Display->reset();
}

} // namespace

void TImageScrollBox::LoadFromGraphic(std::unique_ptr<TDibGraphic> New) {
  if (!New) return;
  FPending = false;
  FFetch = nullptr;
  StopAnimation();
  Rewind(*New, nullptr);
  FGraphic = std::move(New);
  UpdateImage(true);
  StartAnimation();
}

TLaidOutPicture TImageScrollBox::LoadFromGraphic(TLaidOutPicture New, TPictureFetch Fetch) {
  TLaidOutPicture Old;
  bool Alone = !New.Picture && New.Display && Fetch;
  if (!New.Picture && !Alone) return Old;
  StopAnimation();
  if (New.Picture) Rewind(*New.Picture, &New.Display);
  Old.Plan = DisplayPlan();
  if (Alone && !(New.Plan == Old.Plan)) {
    // Laid out for another plan (the view changed since): the picture
    // itself is needed for this one.
    New.Picture = Fetch();
    if (!New.Picture) return Old;
    New.Display.reset();
    Alone = false;
  }
  const bool OldDisplayFits =
      (FPending || FDisplayFor == FGraphic.get()) && FDisplayPlan == Old.Plan;
  Old.Facts = TPictureFacts{PictureWidth(), PictureHeight(), PicturePageCount()};
  if (New.Display && New.Plan == Old.Plan) FPrepared = std::move(New.Display);
  const TFinally DropPrepared([this] { FPrepared.reset(); });
  if (FPending)
    FGraphic.reset(); // a display copy alone: it goes back without a picture
  Old.Picture = std::move(FGraphic);
  if (Old.Picture && Old.Picture->Empty()) Old.Picture.reset();
  FPending = Alone;
  FPendingFacts = New.Facts;
  FFetch = Alone ? std::move(Fetch) : nullptr;
  FGraphic = Alone ? std::make_unique<TDibGraphic>() : std::move(New.Picture);
  UpdateImage(true);
  // The prepared copy went in: the one it replaced is the old picture's.
  if (FSwappedOut && OldDisplayFits) Old.Display = std::move(FSwappedOut);
  FSwappedOut.reset();
  StartAnimation();
  return Old;
}

TDisplayPlan TImageScrollBox::DisplayPlan() const {
  TDisplayPlan Plan;
  Plan.ZoomMode = FZoomMode;
  Plan.ZoomPercent = FZoomMode == zmPercent ? FZoomPercent : 0.0f;
  Plan.Width = width();
  Plan.Height = height();
  Plan.Color = FDisplayColor;
  return Plan;
}

void TImageScrollBox::Clear() {
  FPending = false;
  FFetch = nullptr;
  // The frames stay with the picture object: they must not come back.
  StopAnimation();
  FGraphic->ClearImage();
  FFileName.clear();
  UpdateImage(true);
}

void TImageScrollBox::SetZoomMode(TZoomMode Value) {
  FZoomMode = Value;
  UpdateImage(false);
}

bool TImageScrollBox::ZoomFits(float Percent, std::string& Why) const {
  const int64_t W = DisplayExtent(PictureWidth(), Percent);
  const int64_t H = DisplayExtent(PictureHeight(), Percent);
  if (!PixelsAllowed(W, H)) {
    Why = "Zoom refused: " + PixelLimitMessage(W, H);
    return false;
  }
  // The new display copy (three bytes a pixel at most) is made while the
  // old one still lives.
  const uint64_t Need = uint64_t(std::max<int64_t>(W, 0)) * uint64_t(std::max<int64_t>(H, 0)) * 3;
  if (Need > TMemoryBudget::Available()) {
    Why = "Zoom refused: the picture at this zoom needs " + std::to_string(Need >> 20) +
          " MB, only " + std::to_string(TMemoryBudget::Available() >> 20) +
          " MB of the memory budget are left";
    return false;
  }
  return true;
}

bool TImageScrollBox::SetZoomPercent(float Value) {
  // Compared in long double: a float just above 0.1 is accepted.
  if (PictureEmpty() || !(static_cast<long double>(Value) > 0.1L)) return false;
  std::string Why;
  if (Value > FZoomPercent && !ZoomFits(Value, Why)) {
    if (OnZoomRefused) OnZoomRefused(*this, Why);
    return false;
  }
  FZoomPercent = Value;
  FZoomMode = zmPercent;
  if (FMouseHandler) FMouseHandler->Reset();
  UpdateImage(false);
  return true;
}

void TImageScrollBox::SetCentered(bool Value) {
  if (Value == FCentered) return;
  FCentered = Value;
  UpdateImage(false);
}

void TImageScrollBox::SetAntiAliased(bool Value) {
  if (Value == FAntiAliased) return;
  FAntiAliased = Value;
  if (!FPending && !FGraphic->Empty() && FGraphic->ImageFormat() == ifBlackWhite)
    UpdateImage(false);
}

void TImageScrollBox::SetDisplayColorSpace(std::shared_ptr<const TColorSpace> Value) {
  if (Value == FDisplayColor) return;
  FDisplayColor = std::move(Value);
  // A display copy shown alone was made for the colour space before: its
  // picture is fetched and laid out anew.
  if (!PictureEmpty()) UpdateImage(false);
}

void TImageScrollBox::SetFileName(const std::string& Value) {
  FFileName = Value;
  if (!Value.empty()) {
    LoadFromFile(Value, 1);
  } else {
  FPending = false;
  FFetch = nullptr;
  StopAnimation();
    FGraphic->ClearImage();
    UpdateImage(true);
  }
}

void TImageScrollBox::SetMouseMode(TMouseMode Value) {
  if (Value == FMouseMode) return;
  std::unique_ptr<TMouseHandler> New;
  switch (Value) {
  case mmDrag:
    New = std::make_unique<TDragMouseHandler>(*this);
    break;
  case mmQuickSelect:
    New = std::make_unique<TQuickSelectMouseHandler>(*this);
    break;
  case mmRubberband:
    New = std::make_unique<TRubberbandMouseHandler>(*this);
    break;
  default:
    break;
  }
  FMouseHandler.reset();
  FMouseHandler = std::move(New);
  if (!FMouseHandler) FImage->SetCursorNumber(crDefault);
  FMouseMode = Value;
}

int TImageScrollBox::FrameCount() const {
  return FGraphic->FrameCount();
}

int TImageScrollBox::CurrentFrame() const {
  return FGraphic->CurrentFrame();
}

void TImageScrollBox::ShowFrame(int I) {
  FGraphic->SetCurrentFrame(I);
  UpdateImage(true);
}

void TImageScrollBox::SetAnimate(bool Value) {
  if (Value == FAnimate) return;
  FAnimate = Value;
  if (!Value || FGraphic->FrameCount() <= 1) {
    FFrameTimer->stop();
    FAnimate = false;
    return;
  }
  // An animation that has played as often as its file says plays again.
  if (FGraphic->Animated() && FGraphic->LoopCount() > 0 && FPlays >= FGraphic->LoopCount())
    FPlays = 0;
  // Room for the largest frame as shown, so that the control does not jump
  // in size.
  int W = FImage->width(), H = FImage->height();
  for (int I = 1; I <= FGraphic->FrameCount(); ++I) {
    W = std::max(W, DisplayExtent(FGraphic->Frames(I).Width(), FZoomPercent));
    H = std::max(H, DisplayExtent(FGraphic->Frames(I).Height(), FZoomPercent));
  }
  FImage->resize(W, H);
  FFrameTimer->setInterval(FGraphic->FrameDelay());
  FFrameTimer->start();
}

void TImageScrollBox::StopAnimation() {
  FFrameTimer->stop();
  FAnimate = false;
  FPlays = 0;
}

void TImageScrollBox::StartAnimation() {
  StopAnimation();
  if (FGraphic->Animated() && FGraphic->FrameCount() > 1) SetAnimate(true);
}

void TImageScrollBox::FrameTick() {
  if (FGraphic->FrameCount() < 2 || FGraphic->Empty()) return;
  FFrameTimer->stop();
  const int Current = FGraphic->CurrentFrame();
  const bool AtEnd = Current == FGraphic->FrameCount();
  if (FGraphic->Animated() && AtEnd) {
    ++FPlays;
    if (FGraphic->LoopCount() > 0 && FPlays >= FGraphic->LoopCount()) {
      FAnimate = false; // played as often as the file says: the last frame stays
      return;
    }
  }
  const TFinally Restart([this] {
    if (!FAnimate) return; // switched off meanwhile
    FFrameTimer->setInterval(FGraphic->FrameDelay());
    FFrameTimer->start();
  });
  if (FGraphic->Animated())
    ShowAnimationFrame(AtEnd ? 1 : Current + 1);
  else
    ShowFrame(AtEnd ? 1 : Current + 1);
}

void TImageScrollBox::ShowAnimationFrame(int I) {
  const int W = FGraphic->Width(), H = FGraphic->Height();
  const TImageFormat Format = FGraphic->ImageFormat();
  // No events are processed here: nothing can replace the picture meanwhile.
  FGraphic->SelectFrame(I);
  const bool SameLayout =
      FGraphic->Width() == W && FGraphic->Height() == H && FGraphic->ImageFormat() == Format;
  if (SameLayout && FLaidOutFor == FGraphic.get() && !FBusy && parentWidget() &&
      isVisibleTo(parentWidget())) {
    // Only the display copy is made again, at the size laid out: a playing
    // animation keeps its zoom, scroll position and a drag in progress.
    FBusy = true;
    const TFinally ClearBusy([this] { FBusy = false; });
    TDibGraphic* Source = FGraphic.get();
    if (Format == ifBlackWhite) {
      FAntiAliasTransform->ApplyOnDest(*FGraphic, *FAntiAliasedGraphic);
      if (FAntiAliased) Source = FAntiAliasedGraphic.get();
    }
    RenderDisplay(*Source, DisplayExtent(W, FZoomPercent), DisplayExtent(H, FZoomPercent));
    FImage->update();
    if (OnRedraw) OnRedraw(*FGraphic);
    return;
  }
  // Not laid out yet, or a frame of another size: laid out as a new picture,
  // at the same scroll position.
  const int X = FHorzScrollBar->Position(), Y = FVertScrollBar->Position();
  UpdateImage(true);
  FHorzScrollBar->SetPosition(X);
  FVertScrollBar->SetPosition(Y);
}

void TImageScrollBox::UpdateImage(bool NewImage) {
  if (NewImage) {
    FDisplayFor = nullptr; // the display copy is not this picture's yet
    FLaidOutFor = nullptr;
  }
  if (!parentWidget() || !isVisibleTo(parentWidget()) || FBusy) return;
  FBusy = true;
  const TFinally ClearBusy([this] { FBusy = false; });

  if (PictureEmpty()) {
    DisplayGraphic().ClearImage();
    FHorzScrollBar->SetVisible(false);
    FVertScrollBar->SetVisible(false);
    FImage->hide();
    return;
  }
  const bool BlackAndWhite = !FPending && FGraphic->ImageFormat() == ifBlackWhite;
  if (NewImage && !FPending) {
    if (BlackAndWhite)
      FAntiAliasTransform->ApplyOnDest(*FGraphic, *FAntiAliasedGraphic);
    else
      FAntiAliasedGraphic->ClearImage();
  }
  const float Old = FZoomPercent;
  ComputeZoom();
  const bool Changed = ZoomChanged(Old, FZoomPercent);
  if (Changed && OnZoomChange) OnZoomChange(*this, FZoomPercent);
  if (FMouseHandler && (NewImage || Changed)) FMouseHandler->Reset();
  PlaceDisplayCopy(BlackAndWhite);
  if (OnRedraw) OnRedraw(*FGraphic);
  if (FImage->isHidden()) FImage->show();
}

void TImageScrollBox::ComputeZoom() {
  if (ZoomHidesScrollBars(FZoomMode)) {
    FVertScrollBar->SetVisible(false);
    FHorzScrollBar->SetVisible(false);
  }
  FZoomPercent = ZoomPercentFor(FZoomMode, FZoomPercent, ClientWidth(), ClientHeight(),
                                PictureWidth(), PictureHeight());
}

void TImageScrollBox::PlaceDisplayCopy(bool BlackAndWhite) {
  TControlScrollBar& HB = *FHorzScrollBar;
  TControlScrollBar& VB = *FVertScrollBar;
  const int DW = DisplayExtent(PictureWidth(), FZoomPercent);
  const int DH = DisplayExtent(PictureHeight(), FZoomPercent);

  // Bars: each shows exactly when the display exceeds the client extent left
  // by the other bar.
  const int Bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const TShownBars Shown = SettleScrollBars(DW, DH, true, true, width(), height(), Bar);
  HB.FVisible = Shown.Horizontal;
  VB.FVisible = Shown.Vertical;
  HB.FRange = DW;
  VB.FRange = DH;
  UpdateScrollBars();

  const bool PreparedFits = FPrepared && FPrepared->Width() == DW && FPrepared->Height() == DH;
  // A display copy standing alone that does not fit this layout: the
  // picture itself is needed now.
  if (FPending && !PreparedFits) EnsurePicture();
  TDibGraphic& Source = BlackAndWhite && FAntiAliased && !FAntiAliasedGraphic->Empty()
                            ? *FAntiAliasedGraphic
                            : *FGraphic;
  if (PreparedFits && (FPending || &Source == FGraphic.get())) {
    // Laid out elsewhere for this very plan: shown as it is.
    FSwappedOut = FImage->SwapPicture(std::move(FPrepared));
  } else {
    RenderDisplay(Source, DW, DH);
  }
  FImage->resize(DW, DH);
  FDisplayFor = !FPending && &Source == FGraphic.get() ? FGraphic.get() : nullptr;
  FLaidOutFor = FPending ? nullptr : FGraphic.get();
  FDisplayPlan = DisplayPlan();

  HB.SetPosition(0);
  VB.SetPosition(0);
  if (FCentered) {
    if (FMouseHandler) FMouseHandler->Reset();
    FImageTop = CenteredOffset(height(), DH);
    FImageLeft = CenteredOffset(width(), DW);
  } else {
    FImageTop = 0;
    FImageLeft = 0;
  }
  MoveImageControl();
  FImage->update();
}

QPointF TImageScrollBox::PicturePointAt(QPoint Client) const {
  if (PictureEmpty()) return {};
  const int DW = DisplayExtent(PictureWidth(), FZoomPercent);
  const int DH = DisplayExtent(PictureHeight(), FZoomPercent);
  // The inner image control's left edge lies at FImageLeft - position.
  const double X = Client.x() - FImageLeft + FHorzScrollBar->Position();
  const double Y = Client.y() - FImageTop + FVertScrollBar->Position();
  return {X * PictureWidth() / DW, Y * PictureHeight() / DH};
}

void TImageScrollBox::ShowPicturePointAt(QPointF Point, QPoint Client) {
  if (PictureEmpty()) return;
  const int DW = DisplayExtent(PictureWidth(), FZoomPercent);
  const int DH = DisplayExtent(PictureHeight(), FZoomPercent);
  const double X = Point.x() * DW / PictureWidth();
  const double Y = Point.y() * DH / PictureHeight();
  FHorzScrollBar->SetPosition(static_cast<int>(std::lround(X - Client.x() + FImageLeft)));
  FVertScrollBar->SetPosition(static_cast<int>(std::lround(Y - Client.y() + FImageTop)));
  update();
}

void TImageScrollBox::wheelEvent(QWheelEvent* Event) {
  Event->accept();
  const QPoint Angle = Event->angleDelta();
  const uint64_t Time = Event->timestamp();
  if (Event->modifiers() & Qt::ControlModifier) {
    const int Notches = FZoomNotches.Add(Angle.y() != 0 ? Angle.y() : Angle.x(), Time);
    if (Notches != 0 && OnWheelZoom)
      OnWheelZoom(*this, Notches, mapFromGlobal(Event->globalPosition().toPoint()));
    return;
  }
  TControlScrollBar& H = *FHorzScrollBar;
  TControlScrollBar& V = *FVertScrollBar;
  if (H.MaxPosition() == 0 && V.MaxPosition() == 0) {
    // The whole picture is in view: the wheel steps through the pictures.
    FScrollRestX = FScrollRestY = 0;
    const int Notches = FStepNotches.Add(-Angle.y(), Time);
    if (Notches != 0 && OnWheelStep) OnWheelStep(*this, Notches);
    return;
  }
  FStepNotches.Reset();
  // Pixels to scroll: what a touchpad reports in pixels, else the system's
  // lines per notch of one scroll-bar step each.
  QPointF Pixels = Event->pixelDelta();
  if (Pixels.isNull()) {
    const double PerNotch = double(QApplication::wheelScrollLines()) * V.Bar()->singleStep();
    Pixels = QPointF(Angle) * (PerNotch / TWheelNotches::Notch);
  }
  double DX = Pixels.x();
  double DY = Pixels.y();
  // A picture only wider than the view scrolls sideways by the vertical wheel.
  if (V.MaxPosition() == 0) {
    DX += DY;
    DY = 0;
  }
  auto Scroll = [](TControlScrollBar& Bar, double Delta, double& Rest) {
    if (Bar.MaxPosition() == 0 || Delta == 0) return;
    Rest += Delta;
    const int Whole = static_cast<int>(Rest); // toward zero
    Rest -= Whole;
    // Turning the wheel away from the user shows what lies above.
    Bar.SetPosition(Bar.Position() - Whole);
  };
  Scroll(H, DX, FScrollRestX);
  Scroll(V, DY, FScrollRestY);
  update();
}

void TImageScrollBox::RenderDisplay(TDibGraphic& Source, int DW, int DH) {
  MakeDisplayCopy(Source, DW, DH, DisplayGraphic(), FGraphic->ColorDescription(),
                  FDisplayColor.get(), FResizeTransform.get());
}

void TImageScrollBox::ImageMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (FMouseHandler) FMouseHandler->MouseDown(Button, Shift, X, Y);
  if (OnImageMouseDown) OnImageMouseDown(FImage, Button, Shift, X, Y);
}

void TImageScrollBox::ImageMouseMove(TShiftState Shift, int X, int Y) {
  if (FMouseHandler) FMouseHandler->MouseMove(Shift, X, Y);
  if (OnImageMouseMove) OnImageMouseMove(FImage, Shift, X, Y);
}

void TImageScrollBox::ImageMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (FMouseHandler) FMouseHandler->MouseUp(Button, Shift, X, Y);
  if (OnImageMouseUp) OnImageMouseUp(FImage, Button, Shift, X, Y);
}

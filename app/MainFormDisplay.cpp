// Showing pictures in the main window: the row's picture (decoded ahead or
// here), fitting and zooming the view, the pages of a multi-page file and the
// status bar's texts.

#include "app/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "grid/DbAltGrid.h"
#include "imaging/DibGraphic.h"
#include "view/ImageScrollBox.h"
#include "app/MainFormAccessible.h"
#include "app/MainFormPrivate.h"

using mainform::Num;

bool TfrmMain::Autosize() const {
  return mnuAutosize->isChecked();
}

void TfrmMain::mtbPicturesAfterScroll(TmtbCustomMemTable& DataSet) {
  if (DataSet.ControlsDisabled()) return;
  if (mtbPicturesName->IsNull()) return;
  const std::string Path = mtbPicturesLocation->AsString() + mtbPicturesName->AsString();
  // Steps closer together than the pause hold decoding ahead back.
  const long long Now = QDateTime::currentMSecsSinceEpoch();
  FQuickSteps = Now - FLastStepMs < PrefetchPauseMs;
  FLastStepMs = Now;
  const int RecNo = mtbPictures->RecNo();
  FBackwards = RecNo == FLastRecNo - 1 ||
               (FLastRecNo == 1 && RecNo == mtbPictures->RecordCount() && RecNo > 2);
  FLastRecNo = RecNo;
  if (FKeyHeld && FPrefetchEnabled && !FPrefetch->Decoded(Path)) {
    // A held key moves the list at key speed: the worker decodes this row's
    // picture, and the view shows it when it is ready (PrefetchReady) unless
    // the cursor has moved on by then. Nothing waits here.
    FAwaited = Path;
    FPrefetch->Hurry(Path, imgMain->DisplayPlan());
    return;
  }
  ShowPicture(Path);
}

// Shows the file's picture: the one decoded ahead when it is this file,
// unchanged; otherwise (and after a failed decode ahead) the file is decoded
// here, failing here as well.
void TfrmMain::ShowPicture(const std::string& Path) {
  FAwaited.clear();
  ++FPictureShows;
  const int H = imgMain->HorzScrollBar().Position();
  const int V = imgMain->VertScrollBar().Position();
  try {
    std::unique_ptr<TReadyPicture> Ready;
    if (FPrefetchEnabled) Ready = FPrefetch->Take(Path, TPicturePrefetch::WaitLimit);
    if (!Ready) {
      // Decoded here: the pictures decoded ahead for other rows go first, so
      // that this decode and the worker's stay within the budget of pictures.
      if (FPrefetchEnabled) FPrefetch->Clear();
      Ready = std::make_unique<TReadyPicture>();
      Ready->Path = Path;
      StampFile(Path, Ready->Stamp); // before decoding: a later write is noticed
      Ready->Laid.Picture = DecodePicture(Path, 1);
    }
    const TFileStamp Stamp = Ready->Stamp;
    auto Old = std::make_unique<TReadyPicture>();
    // A display copy decoded ahead is shown at once; its whole picture is
    // decoded on the worker next, or here when something needs it first.
    TPictureFetch Fetch;
    if (!Ready->Laid.Picture) Fetch = [this, Path] { return FetchWhole(Path); };
    Old->Laid = imgMain->LoadFromGraphic(std::move(Ready->Laid), std::move(Fetch));
    // A whole picture asked for before is of no use now (this one's is asked
    // for after the pictures ahead, see PrefetchAim).
    if (FPrefetchEnabled) FPrefetch->DecodeWhole(std::string());
    // The picture stepped away from is the likely way back.
    if (FPrefetchEnabled) {
      if (FShownPath != Path) {
        Old->Path = FShownPath;
        Old->Stamp = FShownStamp;
      }
      FPrefetch->Keep(std::move(Old));
    }
    Old.reset();
    FShownPath = Path;
    FShownStamp = Stamp;
    FPage = 1;
    FPageCount = imgMain->PicturePageCount();
    FPagePath = Path;
    FitView();
    UpdateStatusBar();
  } catch (...) {
    // A picture that cannot be shown leaves the view empty, silently; the
    // status bar keeps the texts of the picture before, and no page panel.
    imgMain->Clear();
    FShownPath.clear();
    FPage = FPageCount = 1;
    UpdatePagePanel();
    DescribePicture();
  }
  SchedulePrefetch();
  imgMain->HorzScrollBar().SetPosition(H);
  imgMain->VertScrollBar().SetPosition(V);
}

// The whole picture of the display copy shown for Path: the worker's, waited
// for, or decoded here.
std::unique_ptr<TDibGraphic> TfrmMain::FetchWhole(const std::string& Path) {
  TFileStamp Stamp;
  std::unique_ptr<TDibGraphic> Whole = FPrefetch->TakeWhole(Path, Stamp, true);
  if (!Whole) Whole = DecodePicture(Path, 1);
  return Whole;
}

void TfrmMain::FitView() {
  const int AreaW = FFullScreen ? width() : pnlRHS->width();
  const int AreaH = FFullScreen ? height() : pnlRHS->height();
  if (Autosize()) {
    imgMain->SetMouseMode(mmQuickSelect);
  } else {
    const int Gw = imgMain->PictureWidth();
    const int Gh = imgMain->PictureHeight();
    const auto DisplayH = static_cast<long long>(std::trunc(Gh * FZoom / 100));
    const auto DisplayW = static_cast<long long>(std::trunc(Gw * FZoom / 100));
    imgMain->SetMouseMode(DisplayH >= AreaH || DisplayW >= AreaW ? mmDrag : mmQuickSelect);
  }
  imgMain->setGeometry(0, 0, pnlRHS->width(), pnlRHS->height());
  // A hidden window defers size changes until it is shown; the view lays
  // itself out with its new size now, as the start-up takes its percent.
  if (imgMain->testAttribute(Qt::WA_PendingResizeEvent)) {
    imgMain->setAttribute(Qt::WA_PendingResizeEvent, false);
    QResizeEvent Resize(imgMain->size(), QSize());
    QApplication::sendEvent(imgMain, &Resize);
  }
}

void TfrmMain::ZoomBy(int32_t Percent) {
  const int H = imgMain->HorzScrollBar().Position();
  const int V = imgMain->VertScrollBar().Position();
  const double Z = imgMain->ZoomPercent();
  const double F = Percent / 100.0;
  const double Zoom = Z + F * Z;
  // A zoom past the memory budget is refused (OnZoomRefused tells why): the
  // picture stays as it is.
  std::string Why;
  if (Percent > 0 && !imgMain->PictureEmpty() &&
      !imgMain->ZoomFits(static_cast<float>(Zoom), Why)) {
    if (imgMain->OnZoomRefused) imgMain->OnZoomRefused(*imgMain, Why);
    return;
  }
  FZoom = Zoom;
  mnuAutosize->setChecked(false);
  if (imgMain->ZoomMode() != zmPercent) imgMain->SetZoomMode(zmPercent);
  imgMain->SetZoomPercent(static_cast<float>(FZoom));
  FitView();
  imgMain->HorzScrollBar().SetPosition(static_cast<int>(std::trunc(H + F * H)));
  imgMain->VertScrollBar().SetPosition(static_cast<int>(std::trunc(V + F * V)));
  // The view reports a new percent only when it is not a whole number (it
  // compares the rounded old percent with the new one after storing the new
  // one), so the status bar would keep naming the old zoom: rewrite it here.
  UpdateStatusBar();
}

void TfrmMain::mnuAutosizeClick() {
  mnuAutosize->setChecked(!mnuAutosize->isChecked());
  if (mnuAutosize->isChecked() && imgMain->ZoomMode() != zmFullPage)
    imgMain->SetZoomMode(zmFullPage);
  FitView();
  UpdateStatusBar();
}

void TfrmMain::mnuZoom100Click() {
  FZoom = 100;
  mnuAutosize->setChecked(false);
  imgMain->SetZoomMode(zmOriginalSize);
  FitView();
}

void TfrmMain::imgMainZoomChange() {
  UpdateStatusBar();
  imgMain->SetMouseMode(Autosize() ? mmQuickSelect : mmDrag);
}

void TfrmMain::pnlRHSResize() {
  if (imgMain != nullptr) FitView();
  if (FPrefetchTimer != nullptr) SchedulePrefetch(); // pictures ahead are laid out again
}

void TfrmMain::SetPanel(int Index, const QString& Text) {
  sbMain->SetPanelText(Index, Text);
}

void TfrmMain::UpdateStatusBar() {
  const long long N = static_cast<long long>(std::trunc(imgMain->ZoomPercent()));
  SetPanel(0, Autosize() ? "Autosize (" + Num(N) + ")" : "Zoom: " + Num(N));
  UpdateSelectionCount();
  const QString Name = mtbPictures->IsEmpty() || mtbPicturesName->IsNull()
                           ? QString()
                           : QString::fromStdString(mtbPicturesName->AsString());
  if (!imgMain->PictureEmpty())
    SetPanel(2, Name + " (" + Num(imgMain->PictureWidth()) + "x" + Num(imgMain->PictureHeight()) +
                    ")");
  else
    SetPanel(2, Name);
  UpdatePagePanel();
  DescribePicture();
}

void TfrmMain::DescribePicture() {
  const bool NoRow = mtbPictures->IsEmpty() || mtbPicturesName->IsNull();
  QString Name = NoRow ? QString() : QString::fromStdString(mtbPicturesName->AsString());
  // The sizes a display copy shown alone stands for: its picture is not
  // fetched for the text.
  if (!imgMain->PictureEmpty())
    Name += " (" + Num(imgMain->PictureWidth()) + "x" + Num(imgMain->PictureHeight()) + ")";
  QString Description =
      "Zoom " + Num(static_cast<long long>(std::trunc(imgMain->ZoomPercent()))) + " %, ";
  if (NoRow)
    Description += "no pictures";
  else
    Description +=
        "picture " + Num(mtbPictures->RecNo()) + " of " + Num(mtbPictures->RecordCount());
  if (FPageCount > 1) Description += ", page " + Num(FPage) + " of " + Num(FPageCount);
  // Every picture shown is announced once, also one whose text is the text
  // before (a list of one, or a file of the same name and size).
  if (DescribeAccessibly(*imgMain, Name, Description, FPictureAnnounced != FPictureShows))
    FPictureAnnounced = FPictureShows;
}

void TfrmMain::imgMainWheelZoom(int Notches, QPoint At) {
  const QPointF Point = imgMain->PicturePointAt(At);
  for (int I = 0; I < std::abs(Notches); ++I)
    ZoomBy(Notches > 0 ? 20 : -20);
  imgMain->ShowPicturePointAt(Point, At);
}

void TfrmMain::dbgPicturesRecordsDeleted() {
  if (mtbPictures->ControlsDisabled()) return;
  if (mtbPictures->IsEmpty()) {
    // The last row went: nothing is shown.
    FAwaited.clear();
    if (FPrefetchEnabled) FPrefetch->Clear();
    imgMain->Clear();
    FShownPath.clear();
    FPage = FPageCount = 1;
    ++FPictureShows;
    UpdateStatusBar();
    return;
  }
  const std::string Path = mtbPicturesLocation->AsString() + mtbPicturesName->AsString();
  if (Path != FShownPath || !FAwaited.empty())
    ShowPicture(Path);
  else
    UpdateStatusBar(); // the picture stays; its row number and the count changed
}

// The fourth panel: "Page n of N" for a file of several pages, else hidden.
void TfrmMain::UpdatePagePanel() {
  if (FPageCount > 1) SetPanel(3, "Page " + Num(FPage) + " of " + Num(FPageCount));
  sbMain->SetPanelVisible(3, FPageCount > 1);
}

// Shows the page Delta pages on, wrapping within the file shown (which is not
// the current row's after Select All), as a row change shows a picture: in the picture's zoom mode,
// keeping the scroll positions; a page that cannot be shown leaves the view empty, silently.
void TfrmMain::StepPage(int Delta) {
  if (FPageCount < 2) return;
  FPage = ((FPage - 1 + Delta) % FPageCount + FPageCount) % FPageCount + 1;
  ++FPictureShows;
  const int H = imgMain->HorzScrollBar().Position();
  const int V = imgMain->VertScrollBar().Position();
  try {
    imgMain->LoadFromFile(FPagePath, FPage);
    // The file may have been replaced by one with fewer pages since.
    FPageCount = imgMain->Graphic().PageCount();
    FPage = std::min(FPage, FPageCount);
    FitView();
    UpdateStatusBar();
  } catch (...) {
    imgMain->Clear();
    UpdatePagePanel();
  }
  DescribePicture();
  imgMain->HorzScrollBar().SetPosition(H);
  imgMain->VertScrollBar().SetPosition(V);
}

// Panel 1. Also rewritten on its own once a key or press in the list has
// changed the selection, so the count includes the row a Shift move reached.
void TfrmMain::UpdateSelectionCount() {
  const int Selected = dbgPictures->SelectedRows().Count();
  const int Count = mtbPictures->RecordCount();
  if (Selected > 1)
    SetPanel(1, Num(Selected) + " of " + Num(Count) + " selected");
  else
    SetPanel(1, Num(mtbPictures->RecNo()) + " of " + Num(Count));
}

// Dragging the selected pictures out of the list (the application-wide message
// hook) and the About entry.

#include "app/MainForm.h"

#include "app/AboutBox.h"
#include "grid/DbAltGrid.h"
#include "platform/ui/DropFileSource.h"

#include <QCoreApplication>
#include <QMouseEvent>

bool TfrmMain::AppMessage(QObject* Target, QEvent* Event) {
  if (Event->type() != QEvent::MouseButtonPress || Target != dbgPictures) return false;
  auto* press = static_cast<QMouseEvent*>(Event);
  if (press->button() != Qt::LeftButton) return false;

  const QPoint client = dbgPictures->mapFromGlobal(press->globalPosition().toPoint());
  if (dbgPictures->MouseCoord(client.x(), client.y()).Y < 1) return false;

  // The grid has not seen this press: these are the rows selected before it.
  const int count = dbgPictures->SelectedRows().Count();

  std::unique_ptr<QMouseEvent> release;
  if (!DragDetect(dbgPictures, client, &release)) {
    // No drag: the press goes to the grid as usual, and the release that ended
    // the detection follows it, so the grid sees an ordinary click.
    if (release) QCoreApplication::postEvent(dbgPictures, release.release());
    return false;
  }

  mtbPictures->DisableControls();
  struct TEnable {
    TmtbMemTable& Table;
    ~TEnable() { Table.EnableControls(); }
  } enable{*mtbPictures};

  dropSourceImages->Files.clear();
  for (int i = 0; i < count; ++i) {
    mtbPictures->SetBookmark(dbgPictures->SelectedRows().Items(i));
    dropSourceImages->Files.push_back(mtbPicturesLocation->AsString() +
                                      mtbPicturesName->AsString());
  }
  dropSourceImages->Execute(dbgPictures);
  return true;
}

void TfrmMain::mnuAboutClick() {
  if (!AboutBox) AboutBox = std::make_unique<TAboutBox>(this);
  AboutBox->exec();
}

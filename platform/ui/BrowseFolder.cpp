#include "platform/ui/BrowseFolder.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <dirent.h>
#include <sys/stat.h>

namespace {

// Closes a folder listing on every way out.
struct TDirHandle {
  DIR* Dir;
  ~TDirHandle() {
    if (Dir != nullptr) closedir(Dir);
  }
};

// The file-system bytes of a path the tree shows. The model holds names as
// text, and a name that is not valid UTF-8 loses bytes in that form: each
// part of such a path is matched with its folder's entries as they are on
// disk (the entry whose bytes give that text).
std::string PathBytes(const QString& Path) {
  const QByteArray direct = QFile::encodeName(Path);
  struct stat st {};
  if (Path.isEmpty() || ::stat(direct.constData(), &st) == 0) return direct.toStdString();
  std::string result = "/";
  for (const QString& part : Path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    const QByteArray wanted = QFile::encodeName(part);
    std::string found;
    TDirHandle listing{::opendir(result.c_str())};
    if (listing.Dir == nullptr) return direct.toStdString();
    while (const dirent* entry = ::readdir(listing.Dir)) {
      const QByteArray name(entry->d_name);
      if (name == wanted) {
        found = name.toStdString();
        break;
      }
      if (found.empty() && QFile::decodeName(name) == part) found = name.toStdString();
    }
    if (found.empty()) return direct.toStdString();
    result.append(found).push_back('/');
  }
  if (result.size() > 1) result.pop_back();
  return result;
}

} // namespace

TBrowseFolderDialog::TBrowseFolderDialog(TBrowseFolder& Owner, QWidget* Parent)
    : QDialog(Parent), FOwner(Owner) {
  setWindowTitle(QStringLiteral("Browse for Folder"));
  setModal(true);
  resize(340, 420);

  FTitle = new QLabel(QString::fromStdString(Owner.Title), this);
  FTitle->setWordWrap(true);

  FModel = new QFileSystemModel(this);
  FModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  FModel->setReadOnly(true);
  FModel->setRootPath(QStringLiteral("/"));

  FTree = new QTreeView(this);
  FTree->setModel(FModel);
  FTree->setHeaderHidden(true);
  for (int c = 1; c < FModel->columnCount(); ++c)
    FTree->hideColumn(c);
  FTree->setAnimated(false);
  FTree->setUniformRowHeights(true);

  // The user's home folder is expanded and reachable with one click.
  const QString home = QDir::homePath();
  FHome = home;
  Reveal(home, true);
  connect(FModel, &QFileSystemModel::directoryLoaded, this, [this](const QString&) {
    Reveal(FHome, true);
    if (!FRevealPath.isEmpty()) Reveal(FRevealPath, false);
  });
  // Sorting a folder that arrived moves its rows without a new load.
  connect(FModel, &QAbstractItemModel::layoutChanged, this, [this] {
    if (!FRevealPath.isEmpty()) Reveal(FRevealPath, false);
  });
  FTree->installEventFilter(this);
  FTree->viewport()->installEventFilter(this);
  connect(FTree->verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
          [this](int) { FRevealPath.clear(); });

  FStatus = new QLabel(this);
  FStatus->setVisible((Owner.Flags & bfStatusText) != 0);

  auto* homeButton = new QPushButton(QStringLiteral("Home"), this);
  FOk = new QPushButton(QStringLiteral("OK"), this);
  FCancel = new QPushButton(QStringLiteral("Cancel"), this);
  FOk->setDefault(true);
  FOk->setEnabled(false);
  connect(homeButton, &QPushButton::clicked, this,
          [this, home] { SelectPath(home.toStdString()); });
  connect(FOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(FCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(homeButton);
  buttons->addStretch(1);
  buttons->addWidget(FOk);
  buttons->addWidget(FCancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FTitle);
  layout->addWidget(FTree, 1);
  layout->addWidget(FStatus);
  layout->addLayout(buttons);

  connect(FTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current, const QModelIndex&) { SelectionChanged(current); });
}

bool TBrowseFolderDialog::SelectPath(const std::string& Path) {
  QString p = QFile::decodeName(QByteArray::fromStdString(Path));
  if (p.isEmpty() || !QFileInfo(p).isDir()) return false;
  p = QDir::cleanPath(QFileInfo(p).absoluteFilePath());
  const QModelIndex index = FModel->index(p);
  if (!index.isValid()) return false;
  FTree->setCurrentIndex(index);
  FRevealPath = p;
  Reveal(p, false);
  return true;
}

void TBrowseFolderDialog::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  // Scrolling needs the laid-out tree: bring the selection into view once shown.
  QTimer::singleShot(0, this, [this] {
    if (!FRevealPath.isEmpty()) Reveal(FRevealPath, false);
  });
}

bool TBrowseFolderDialog::eventFilter(QObject* Watched, QEvent* Event) {
  switch (Event->type()) {
  case QEvent::MouseButtonPress:
  case QEvent::KeyPress:
  case QEvent::Wheel:
    FRevealPath.clear();
    break;
  default:
    break;
  }
  return QDialog::eventFilter(Watched, Event);
}

void TBrowseFolderDialog::Reveal(const QString& Path, bool ExpandItself) {
  const QModelIndex index = FModel->index(Path);
  if (!index.isValid()) return;
  for (QModelIndex i = index.parent(); i.isValid(); i = i.parent())
    FTree->expand(i);
  if (ExpandItself) {
    FTree->expand(index);
    return;
  }
  // After the tree has laid out the rows that just arrived.
  QTimer::singleShot(0, this, [this] {
    if (FRevealPath.isEmpty() || !FTree->currentIndex().isValid()) return;
    // Rows that arrived may still wait for the tree's delayed layout, which
    // would leave scrollTo measuring the old positions.
    FTree->doItemsLayout();
    FTree->scrollTo(FTree->currentIndex(), QAbstractItemView::PositionAtCenter);
  });
}

std::string TBrowseFolderDialog::SelectedPath() const {
  const QModelIndex index = FTree->currentIndex();
  if (!index.isValid()) return {};
  return PathBytes(FModel->filePath(index));
}

void TBrowseFolderDialog::SetOkEnabled(bool Enable) {
  FOk->setEnabled(Enable);
}
bool TBrowseFolderDialog::OkEnabled() const {
  return FOk->isEnabled();
}
void TBrowseFolderDialog::SetStatusText(const QString& Text) {
  FStatus->setText(Text);
}
QString TBrowseFolderDialog::StatusText() const {
  return FStatus->text();
}
QString TBrowseFolderDialog::TitleText() const {
  return FTitle->text();
}

void TBrowseFolderDialog::SelectionChanged(const QModelIndex& Current) {
  const std::string path = Current.isValid() ? PathBytes(FModel->filePath(Current)) : "";
  FOwner.SelectionChanged(*this, path);
}

void TBrowseFolder::SelectionChanged(TBrowseFolderDialog& Dialog, const std::string& Path) {
  // OK follows whether the item is a file-system folder; the program's
  // handler then has the last word.
  Dialog.SetOkEnabled(!Path.empty());
  if (ShowPathInStatusArea) Dialog.SetStatusText(QString::fromStdString(Path));
  if (OnSelectionChanged) OnSelectionChanged(*this, &Dialog, Path);
}

bool TBrowseFolder::Execute() {
  TBrowseFolderDialog dialog(*this, FOwner);
  FDialog = &dialog;

  // Centred horizontally over the foreground window, its top a quarter of that
  // window's height below the window's top edge.
  QWidget* fg = QApplication::activeWindow();
  if (!fg) fg = FOwner ? FOwner->window() : nullptr;
  if (fg && fg->isVisible()) {
    const QRect r = fg->frameGeometry();
    dialog.move(r.left() + (r.width() - dialog.width()) / 2, r.top() + r.height() / 4);
  } else if (QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect r = s->availableGeometry();
    dialog.move(r.left() + (r.width() - dialog.width()) / 2, r.top() + r.height() / 4);
  }

  if (!dialog.SelectPath(Directory)) dialog.SetOkEnabled(false);
  if (OnDialogShown) {
    QTimer::singleShot(0, &dialog, [this, &dialog] { OnDialogShown(dialog); });
  }
  const bool ok = dialog.exec() == QDialog::Accepted;
  const std::string chosen = dialog.SelectedPath();
  FDialog = nullptr;
  if (!ok || chosen.empty()) return false;
  Directory = chosen;
  return true;
}

void TBrowseFolder::EnableOK(QWidget* DialogHandle, bool Enable) {
  if (auto* d = dynamic_cast<TBrowseFolderDialog*>(DialogHandle)) d->SetOkEnabled(Enable);
}

void TBrowseFolder::SetStatusText(QWidget* DialogHandle, const QString& Text) {
  if (auto* d = dynamic_cast<TBrowseFolderDialog*>(DialogHandle)) d->SetStatusText(Text);
}

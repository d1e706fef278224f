// The grid's selected rows (bookmarks in the table's order) and deleting the
// current or the selected records.
#include "grid/DbAltGrid.h"

#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

#include "grid/DbAltGridAccessible.h"
#include "table/MemTable.h"

namespace {

// Undoes DisableControls also when an operation fails.
class TControlsDisabler {
public:
  explicit TControlsDisabler(TmtbCustomMemTable& table) : FTable(table) {
    FTable.DisableControls();
  }
  ~TControlsDisabler() { FTable.EnableControls(); }
  TControlsDisabler(const TControlsDisabler&) = delete;
  TControlsDisabler& operator=(const TControlsDisabler&) = delete;

private:
  TmtbCustomMemTable& FTable;
};

} // namespace

// ---------------------------------------------------------------------------
// Selected rows

TmtbCustomMemTable& TdagBookmarkList::CheckedDataSet() const {
  TmtbCustomMemTable* table = FGrid.ActiveDataSet();
  if (!table) throw EInvalidGridOperation("Cannot perform this operation on a closed dataset");
  return *table;
}

bool TdagBookmarkList::Find(const std::string& bookmark, int& index) const {
  if (FCacheValid && bookmark == FCacheBookmark) {
    index = FCacheIndex;
    return FCacheFound;
  }
  bool found = false;
  int lo = 0;
  int hi = Count() - 1;
  if (hi >= 0) {
    const TmtbCustomMemTable& table = CheckedDataSet();
    while (lo <= hi) {
      const int mid = lo + (hi - lo) / 2;
      const int order = table.CompareBookmarks(FList[static_cast<std::size_t>(mid)], bookmark);
      if (order < 0) {
        lo = mid + 1;
      } else if (order > 0) {
        hi = mid - 1;
      } else {
        lo = mid;
        found = true;
        break;
      }
    }
  }
  index = lo;
  FCacheBookmark = bookmark;
  FCacheIndex = lo;
  FCacheFound = found;
  FCacheValid = true;
  return found;
}

void TdagBookmarkList::Select(const std::string& bookmark, bool value) {
  if (bookmark.empty()) return;
  int index = 0;
  const bool found = Find(bookmark, index);
  if (value == found) return;
  if (value)
    FList.insert(FList.begin() + index, bookmark);
  else
    FList.erase(FList.begin() + index);
  Changed();
  DbAltGridAccessibleChanged(FGrid);
}

void TdagBookmarkList::Clear() {
  if (FList.empty()) return;
  FList.clear();
  Changed();
  FGrid.update();
  DbAltGridAccessibleChanged(FGrid);
}

bool TdagBookmarkList::CurrentRowSelected() const {
  const std::string bookmark = CheckedDataSet().Bookmark();
  if (bookmark.empty()) return false;
  int index = 0;
  return Find(bookmark, index);
}

void TdagBookmarkList::SetCurrentRowSelected(bool value) {
  const std::string bookmark = CheckedDataSet().Bookmark();
  Select(bookmark, value);
  FGrid.InvalidateRow(FGrid.CurrentRow());
}

void TdagBookmarkList::Delete() {
  TmtbCustomMemTable& table = CheckedDataSet();
  {
    TControlsDisabler disabler(table);
    while (!FList.empty()) {
      const std::string bookmark = FList.back();
      // A bookmark whose record is gone is dropped: going to it would leave the
      // cursor where it is and delete the wrong record.
      if (table.BookmarkValid(bookmark)) {
        table.GotoBookmark(bookmark);
        table.Delete();
      }
      FList.pop_back();
      Changed();
    }
  }
  FGrid.update();
}

void TdagBookmarkList::Resort() {
  if (FList.empty()) return;
  const TmtbCustomMemTable* table = FGrid.ActiveDataSet();
  if (!table) return;
  // Bookmarks of records that no longer exist compare equal to everything and
  // cannot be ordered; they are dropped.
  std::erase_if(FList, [&](const std::string& b) { return !table->BookmarkValid(b); });
  std::sort(FList.begin(), FList.end(), [&](const std::string& a, const std::string& b) {
    return table->CompareBookmarks(a, b) < 0;
  });
  Changed();
}

// ---------------------------------------------------------------------------
// Deleting

void TCustomDbAltGrid::DeleteRecords() {
  TmtbCustomMemTable* table = ActiveDataSet();
  if (!table || FReadOnly || table->ReadOnly() || table->IsEmpty()) return;
  if (FOptions.Contains(TDBGridOption::dgConfirmDelete)) {
    const QString text = FSelectedRows.Count() < 2 ? QStringLiteral("Delete record?")
                                                   : QStringLiteral("Delete all selected records?");
    bool ok = false;
    if (OnConfirmDelete) {
      ok = OnConfirmDelete(text);
    } else {
      QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text,
                      QMessageBox::Ok | QMessageBox::Cancel, this);
      box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
      box.button(QMessageBox::Cancel)->setText(QStringLiteral("Cancel"));
      box.setDefaultButton(QMessageBox::Ok);
      ok = box.exec() == QMessageBox::Ok;
    }
    if (!ok) return;
  }
  try {
    if (FSelectedRows.Count() == 0)
      table->Delete();
    else
      FSelectedRows.Delete();
  } catch (...) {
    if (OnRecordsDeleted) OnRecordsDeleted();
    throw;
  }
  if (OnRecordsDeleted) OnRecordsDeleted();
}

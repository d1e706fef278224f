// The table's links to the views: data sources, data links and the
// notifications the table sends them.
#include "table/MemTable.h"

#include <algorithm>

// ---------------------------------------------------------------------------
// TDataSource and TDataLink

TDataSource::TDataSource(std::string Name) : FName(std::move(Name)) {}

TDataSource::~TDataSource() {
  SetDataSet(nullptr);
  for (TDataLink* L : std::vector<TDataLink*>(FLinks))
    L->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TmtbCustomMemTable* DataSet) {
  if (DataSet == FDataSet) return;
  if (FDataSet) {
    auto& V = FDataSet->FDataSources;
    V.erase(std::remove(V.begin(), V.end(), this), V.end());
  }
  FDataSet = DataSet;
  if (FDataSet) FDataSet->FDataSources.push_back(this);
  NotifyLinksActive();
}

void TDataSource::SetEnabled(bool Value) {
  if (FEnabled == Value) return;
  FEnabled = Value;
  NotifyLinksActive();
}

TDataSetState TDataSource::State() const {
  return FEnabled && FDataSet ? FDataSet->State() : dsInactive;
}

void TDataSource::NotifyLinksActive() {
  FState = State();
  for (TDataLink* L : std::vector<TDataLink*>(FLinks))
    L->SetActive(FState != dsInactive);
  if (FDataSet) FDataSet->UpdateWindowSize();
}

void TDataSource::DataEvent(TDataEvent Event, intptr_t Info) {
  if (Event == deUpdateState) {
    const TDataSetState Old = FState;
    FState = State();
    if ((Old == dsInactive) != (FState == dsInactive)) {
      NotifyLinksActive();
      return;
    }
  }
  if (!FEnabled) return;
  for (TDataLink* L : std::vector<TDataLink*>(FLinks))
    L->DataEvent(Event, Info);
}

void TDataSource::AddLink(TDataLink* Link) {
  FLinks.push_back(Link);
}

void TDataSource::RemoveLink(TDataLink* Link) {
  FLinks.erase(std::remove(FLinks.begin(), FLinks.end(), Link), FLinks.end());
}

TDataLink::~TDataLink() {
  if (FDataSource) {
    FDataSource->RemoveLink(this);
    TDataSource* Source = FDataSource;
    FDataSource = nullptr;
    if (Source->FDataSet) Source->FDataSet->UpdateWindowSize();
  }
}

void TDataLink::SetDataSource(TDataSource* Source) {
  if (Source == FDataSource) return;
  if (FDataSource) {
    FDataSource->RemoveLink(this);
    TDataSource* Old = FDataSource;
    FDataSource = nullptr;
    SetActive(false);
    if (Old->FDataSet) Old->FDataSet->UpdateWindowSize();
  }
  FDataSource = Source;
  if (FDataSource) {
    FDataSource->AddLink(this);
    SetActive(FDataSource->State() != dsInactive);
  }
}

TmtbCustomMemTable* TDataLink::DataSet() const {
  return FDataSource ? FDataSource->DataSet() : nullptr;
}

void TDataLink::SetActive(bool Value) {
  if (FActive == Value) return;
  FActive = Value;
  FFirstRecord = 0;
  FEditing = Value && DataSet() && (DataSet()->State() == dsInsert || DataSet()->State() == dsEdit);
  if (TmtbCustomMemTable* T = DataSet()) T->UpdateWindowSize();
  if (FActive) UpdateRange();
  ActiveChanged();
}

void TDataLink::SetBufferCount(int Value) {
  Value = std::max(Value, 1);
  if (Value == FBufferCount) return;
  FBufferCount = Value;
  if (FActive) {
    if (TmtbCustomMemTable* T = DataSet()) T->UpdateWindowSize();
    UpdateRange();
  }
}

void TDataLink::UpdateRange() {
  const TmtbCustomMemTable* T = DataSet();
  if (!T) return;
  const int Count = T->WindowCount();
  const int Active = T->WindowActive();
  int First = FFirstRecord;
  if (Active >= 0) {
    if (Active < First) First = Active;
    if (Active >= First + FBufferCount) First = Active - FBufferCount + 1;
  }
  First = std::min(First, std::max(0, Count - FBufferCount));
  FFirstRecord = std::max(First, 0);
}

int TDataLink::RecordCount() const {
  const TmtbCustomMemTable* T = DataSet();
  if (!FActive || !T) return 0;
  return std::clamp(T->WindowCount() - FFirstRecord, 0, FBufferCount);
}

int TDataLink::ActiveRecord() const {
  const TmtbCustomMemTable* T = DataSet();
  if (!FActive || !T || T->WindowActive() < 0) return 0;
  return T->WindowActive() - FFirstRecord;
}

std::string TDataLink::DisplayText(int K, const TField& Field) const {
  if (!FActive || K < 0 || K >= RecordCount()) return {};
  return Field.DisplayTextOf(FFirstRecord + K);
}

TBookmark TDataLink::RecordBookmark(int K) const {
  const TmtbCustomMemTable* T = DataSet();
  if (!FActive || !T || K < 0 || K >= RecordCount()) return {};
  return T->WindowBookmark(FFirstRecord + K);
}

bool TDataLink::Editing() const {
  return FEditing;
}

void TDataLink::DataEvent(TDataEvent Event, intptr_t Info) {
  if (Event == deUpdateState) {
    const TmtbCustomMemTable* T = DataSet();
    const bool Now = FActive && T && (T->State() == dsInsert || T->State() == dsEdit);
    if (Now != FEditing) {
      FEditing = Now;
      EditingChanged();
    }
    return;
  }
  if (!FActive) return;
  switch (Event) {
  case deFieldChange:
    FieldChanged(reinterpret_cast<TField*>(Info));
    RecordChanged(reinterpret_cast<TField*>(Info));
    break;
  case deRecordChange:
    RecordChanged(reinterpret_cast<TField*>(Info));
    break;
  case deDataSetChange:
  case deLayoutChange:
    UpdateRange();
    if (Event == deDataSetChange)
      DataSetChanged();
    else
      LayoutChanged();
    break;
  case deDataSetScroll: {
    // The table's window moved by Info records; keep this link's rows on
    // the same records where possible and report how far they moved.
    const int Old = FFirstRecord;
    FFirstRecord = Old - static_cast<int>(Info);
    UpdateRange();
    DataSetScrolled(static_cast<int>(Info) + FFirstRecord - Old);
    break;
  }
  case deUpdateRecord:
    UpdateData();
    break;
  case deCheckBrowseMode:
    CheckBrowseMode();
    break;
  default:
    break;
  }
}

// ---------------------------------------------------------------------------
// Notification

void TmtbCustomMemTable::SetState(TDataSetState Value) {
  if (FState == Value) return;
  FState = Value;
  FModified = false;
  DataEvent(deUpdateState);
}

void TmtbCustomMemTable::DataEvent(TDataEvent Event, intptr_t Info) {
  if (FDisableCount > 0) {
    if (Event == deLayoutChange || (Event == deUpdateState && FState == dsInactive))
      FPendingEvent = deLayoutChange;
    return;
  }
  for (TDataSource* S : std::vector<TDataSource*>(FDataSources))
    S->DataEvent(Event, Info);
}

void TmtbCustomMemTable::DisableControls() {
  if (FDisableCount == 0) {
    FDisableState = FState;
    FPendingEvent = deDataSetChange;
  }
  ++FDisableCount;
}

void TmtbCustomMemTable::EnableControls() {
  if (FDisableCount == 0) return;
  --FDisableCount;
  if (FDisableCount > 0) return;
  if (FState != FDisableState) DataEvent(deUpdateState);
  if (FDisableState != dsInactive && FState != dsInactive) DataEvent(FPendingEvent);
}

void TmtbCustomMemTable::DoAfterScroll() {
  if (AfterScroll) AfterScroll(*this);
}

void TmtbCustomMemTable::DoBeforeScroll() {
  if (BeforeScroll) BeforeScroll(*this);
}

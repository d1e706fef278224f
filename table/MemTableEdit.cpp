// Editing: inserting a record, building its stored form, posting it into the
// store and the indexes, deleting and clearing records.
#include "table/MemTableInternal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

using namespace memtable_internal;

namespace {

constexpr int64_t MaxSequence = 0x7FFFFFCF;

// Records the selected index may collect during a bulk load before they are placed.
constexpr size_t SelectedCatchUp = 4096;

// Makes room for one more element, growing geometrically.
template <class T> void GrowFor(std::vector<T>& V) {
  if (V.size() == V.capacity()) V.reserve(std::max<size_t>(16, V.size() * 2));
}

} // namespace

// ---------------------------------------------------------------------------
// Editing

void TmtbCustomMemTable::WriteField(TField& Field, std::string_view Bytes, bool Null) {
  CheckActive();
  if (FState != dsInsert && FState != dsEdit) DatabaseError("Dataset is not in edit mode.");
  if (FReadOnly || Field.ReadOnly())
    throw EDatabaseError("Field " + Field.DisplayName() + " is read only");
  if (Field.FIndex < 0 || static_cast<size_t>(Field.FIndex) >= FImpl->Edit.size()) return;
  auto& E = FImpl->Edit[static_cast<size_t>(Field.FIndex)];
  E.Null = Null;
  E.Bytes.assign(Null ? std::string_view() : Bytes);
  FModified = true;
  DataEvent(deFieldChange, reinterpret_cast<intptr_t>(&Field));
}

void TmtbCustomMemTable::Insert() {
  CheckActive();
  CheckBrowseMode();
  DoBeforeScroll();
  TImpl& I = *FImpl;
  I.InsertPosition = I.CursorPosition;
  // The record current at Insert matters only to the insertion order, where
  // the new record goes before it; other orders place it by its key.
  I.InsertBefore = nullptr;
  if (FActive >= 0 && FSelected->BuiltIn()) {
    SettleWindow();
    I.InsertBefore = I.Window[static_cast<size_t>(FActive)].Record;
  }
  ResetEdit();
  // The new buffer takes the active record's place in the window.
  if (I.Window.empty()) {
    I.Window.push_back({nullptr, -1});
    FActive = 0;
  } else {
    I.Window.insert(I.Window.begin() + FActive, TBuffer{nullptr, -1});
    if (static_cast<int>(I.Window.size()) > FWindowSize) I.Window.pop_back();
  }
  FBof = FEof = false;
  SetState(dsInsert);
  FModified = false;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TmtbCustomMemTable::Cancel() {
  CheckActive();
  if (FState != dsInsert && FState != dsEdit) return;
  TImpl& I = *FImpl;
  ResetEdit();
  // Back to the records around the cursor, without the new buffer.
  if (FActive >= 0 && I.Window[static_cast<size_t>(FActive)].Position < 0)
    I.Window.erase(I.Window.begin() + FActive);
  SetState(dsBrowse);
  I.CursorPosition = I.InsertPosition;
  Resync(true);
  if (FSelected->Count() > 0) FBof = FEof = false;
  DoAfterScroll();
}

TmtbRecord* TmtbCustomMemTable::BuildRecord() {
  TImpl& I = *FImpl;
  // Sizes: fixed part, then out-of-line values and sort keys. A key made for
  // the same text as the record before is used again, and so is one of a
  // short text (a type) made before.
  std::vector<std::string>& Keys = I.Keys;
  // Text met before is referred to, with its keys, instead of copied.
  I.SharedIds.assign(I.Layout.size(), NotShared);
  for (size_t F = 0; F < I.Layout.size(); ++F)
    if (I.Layout[F].Shareable && !I.Edit[F].Null) I.SharedIds[F] = ShareValue(F);
  for (size_t K = 0; K < I.KeySlots.size(); ++K) {
    const auto& E = I.Edit[static_cast<size_t>(I.KeySlots[K].Field)];
    if (I.SharedIds[static_cast<size_t>(I.KeySlots[K].Field)] != NotShared) {
      Keys[K].clear();
      I.KeyValid[K] = 0;
      continue;
    }
    if (E.Null) {
      Keys[K].clear();
      I.KeyValid[K] = 0;
      continue;
    }
    if (I.KeyValid[K] && I.KeyTexts[K] == E.Bytes) continue;
    I.KeyValid[K] = 0;
    Keys[K].clear();
    auto& Short = I.ShortKeys[K];
    const bool IsShort = E.Bytes.size() <= TImpl::ShortKeyText;
    const auto Found = IsShort ? Short.find(E.Bytes) : Short.end();
    if (Found != Short.end()) {
      Keys[K] = Found->second;
    } else {
      CollatorFor(I.KeySlots[K].CaseInsensitive).AppendSortKey(E.Bytes, Keys[K]);
      if (IsShort && Short.size() < TImpl::ShortKeyCount) Short.emplace(E.Bytes, Keys[K]);
    }
    I.KeyTexts[K] = E.Bytes;
    I.KeyValid[K] = 1;
  }
  size_t Size = I.FixedSize;
  for (size_t F = 0; F < I.Layout.size(); ++F)
    if (I.Layout[F].OutOfLine && !I.Edit[F].Null && I.SharedIds[F] == NotShared) {
      if (I.Edit[F].Bytes.size() >= SharedFlag) throw EMemTableError("Record too large");
      Size += I.Edit[F].Bytes.size();
    }
  for (size_t K = 0; K < I.KeySlots.size(); ++K)
    Size += Keys[K].size();
  if (Size > 0xFFFFFFF0u) throw EMemTableError("Record too large");
  void* Memory = std::malloc(Size);
  if (!Memory) throw std::bad_alloc();
  TmtbRecord* R = new (Memory) TmtbRecord();
  R->Size = static_cast<uint32_t>(Size);
  uint8_t* D = R->Data();
  std::memset(D, 0, Size - sizeof(TmtbRecord));
  // Sort keys first: comparisons then touch the fewest cache lines.
  uint32_t Tail = I.FixedSize;
  for (size_t K = 0; K < I.KeySlots.size(); ++K) {
    uint8_t* Dir = D + I.KeyDirOffset + 8 * K;
    const uint32_t Id = I.SharedIds[static_cast<size_t>(I.KeySlots[K].Field)];
    if (Id != NotShared) {
      StoreU32(Dir, Id);
      StoreU32(Dir + 4, SharedFlag | (I.KeySlots[K].CaseInsensitive ? 1u : 0u));
      continue;
    }
    StoreU32(Dir, Tail);
    StoreU32(Dir + 4, static_cast<uint32_t>(Keys[K].size()));
    std::memcpy(R->Bytes() + Tail, Keys[K].data(), Keys[K].size());
    Tail += static_cast<uint32_t>(Keys[K].size());
  }
  for (size_t F = 0; F < I.Layout.size(); ++F) {
    const auto& L = I.Layout[F];
    const auto& E = I.Edit[F];
    if (E.Null) continue;
    D[L.Offset] = NotNull;
    if (L.OutOfLine && I.SharedIds[F] != NotShared) {
      StoreU32(D + L.Offset + 1, I.SharedIds[F]);
      StoreU32(D + L.Offset + 5, SharedFlag);
    } else if (L.OutOfLine) {
      StoreU32(D + L.Offset + 1, Tail);
      StoreU32(D + L.Offset + 5, static_cast<uint32_t>(E.Bytes.size()));
      std::memcpy(R->Bytes() + Tail, E.Bytes.data(), E.Bytes.size());
      Tail += static_cast<uint32_t>(E.Bytes.size());
    } else {
      std::memcpy(D + L.Offset + 1, E.Bytes.data(), std::min<size_t>(L.Size, E.Bytes.size()));
    }
  }
  return R;
}

// The number of the shared value equal to field F's text in the edit
// buffer, kept now if need be; NotShared when the field's values are seldom
// met again.
uint32_t TmtbCustomMemTable::ShareValue(size_t F) {
  TImpl& I = *FImpl;
  const std::string& Text = I.Edit[F].Bytes;
  TImpl::TSharing& S = I.Sharing[F];
  if (S.Last != NotShared && I.Shared[S.Last]->Text == Text) {
    ++S.Found;
    return S.Last;
  }
  if (const auto It = S.Ids.find(std::string_view(Text)); It != S.Ids.end()) {
    ++S.Found;
    return S.Last = It->second;
  }
  if (S.Closed || I.Shared.size() >= SharedFlag) return NotShared;
  auto V = std::make_unique<TImpl::TSharedValue>();
  V->Text = Text;
  const auto& L = I.Layout[F];
  if (L.KeySlot >= 0) CollatorFor(false).AppendSortKey(Text, V->Keys[0]);
  if (L.KeySlotCI >= 0) CollatorFor(true).AppendSortKey(Text, V->Keys[1]);
  const uint32_t Id = static_cast<uint32_t>(I.Shared.size());
  I.Shared.push_back(std::move(V));
  S.Ids.emplace(std::string_view(I.Shared.back()->Text), Id);
  // Values mostly new (file names): stop keeping them, look up only.
  if (++S.Added % 4096 == 0 && S.Found < S.Added) S.Closed = true;
  return S.Last = Id;
}

void TmtbCustomMemTable::Post() {
  CheckActive();
  if (FState != dsInsert && FState != dsEdit) DatabaseError("Dataset is not in edit mode.");
  WaitForIndexes();
  TImpl& I = *FImpl;
  TmtbCommon& C = *FCommon;
  TLock Guard(C.FImpl->Lock);
  DataEvent(deUpdateRecord);
  for (size_t F = 0; F < FFields.size(); ++F)
    if (FFields[F]->Required() && I.Edit[F].Null)
      throw EDatabaseError("Field '" + FFields[F]->DisplayName() + "' must have a value");
  if (C.FSequence + 1 > MaxSequence)
    throw EMemTableError("Bookmark counter is out of range. Please close and reopen table.");
  TmtbRecord* R = BuildRecord();
  R->Sequence = static_cast<int32_t>(C.FSequence);
  try {
    for (int X = 1; X < FIndexes.Count(); ++X) {
      const TmtbIndex& Index = FIndexes.Items(X);
      if (!Index.Unique() || !Index.Maintained() || Index.Count() == 0) continue;
      uint64_t Prefix = 0;
      if (!TryKeyPrefix(Index, R, Prefix)) continue; // a first value never seen: no duplicate
      const TmtbIndexStore::TLocation Where = FindLocation(Index, R, Prefix);
      const TmtbIndexStore& S = *Index.FStore;
      bool Duplicate =
          Where.Position < S.Count() && CompareRecords(Index, R, S.EntryAt(Where).Record) == 0;
      if (!Duplicate && Where.Position > 0)
        Duplicate = CompareRecords(Index, R, S.At(Where.Position - 1).Record) == 0;
      if (Duplicate) throw EMemTableError("Duplicate index value. Operation aborted.");
    }
    // Reserve room first so that nothing below fails half-way.
    GrowFor(C.FImpl->BySequence);
    if (C.FFreeSlots.empty()) GrowFor(C.FSlots);
  } catch (...) {
    std::free(R);
    throw;
  }
  if (!C.FFreeSlots.empty()) {
    R->Slot = C.FFreeSlots.back();
    C.FFreeSlots.pop_back();
    C.FSlots[static_cast<size_t>(R->Slot)] = R;
  } else {
    R->Slot = static_cast<int32_t>(C.FSlots.size());
    C.FSlots.push_back(R);
  }
  ++C.FSequence;
  C.FImpl->BySequence.push_back(R);
  ++C.FRecordCount;
  C.FImpl->RecordBytes += R->Size;
  // Every maintained index: defined ones at their key, before equal keys;
  // the built-in one at its end (or before the record current at Insert).
  // While controls are disabled a defined index whose order is a plain total
  // order only notes the record; it is placed with the others when the
  // order is next needed (see FlushIndex), which gives the same order.
  PlaceInBuiltIn(R);
  FIndexes.BuiltIn().FOrdered = true;
  const bool Defer = FDisableCount > 0 && FDeferIndexing;
  for (int X = 1; X < FIndexes.Count(); ++X) {
    TmtbIndex& Index = FIndexes.Items(X);
    if (!Index.Maintained()) {
      Index.FOrdered = false;
      continue;
    }
    if (Index.Count() == 0) Index.FOrdered = true;
    if (!Index.FOrdered) {
      BuildIndex(Index);
      continue;
    }
    if (Defer && Deferrable(Index)) {
      GrowFor(Index.FPending);
      Index.FPending.push_back(R);
      continue;
    }
    FlushIndex(Index);
    const uint32_t Label = EnsureLabel(Index, R);
    const uint64_t Prefix = Label ? LabelledPrefix(Index, R, Label) : KeyPrefix(Index, R);
    const TmtbIndexStore::TLocation Where = FindLocation(Index, R, Prefix);
    Index.FStore->InsertAt(Where, {Prefix, R});
  }
  // The selected order is kept close behind a long bulk load, a few thousand
  // records at a time, so that the first read after it has little to place.
  if (Defer && !FSelected->BuiltIn() && FSelected->FPending.size() >= SelectedCatchUp)
    FlushIndex(*FSelected);
  ResetEdit();
  // Back to browse at the cursor's unchanged position number.
  if (FActive >= 0 && I.Window[static_cast<size_t>(FActive)].Position < 0)
    I.Window.erase(I.Window.begin() + FActive);
  SetState(dsBrowse);
  I.CursorPosition = I.InsertPosition;
  Resync(true);
  FBof = FEof = false;
}

// The edit buffer emptied for the next record; value buffers keep their
// room unless they grew large (a blob).
void TmtbCustomMemTable::ResetEdit() {
  auto& Edit = FImpl->Edit;
  if (Edit.size() != FFields.size()) {
    Edit.assign(FFields.size(), {});
    return;
  }
  for (auto& E : Edit) {
    E.Null = true;
    if (E.Bytes.capacity() > 4096)
      std::string().swap(E.Bytes);
    else
      E.Bytes.clear();
  }
}

void TmtbCustomMemTable::Delete() {
  CheckActive();
  if (FState == dsInsert) {
    Cancel();
    return;
  }
  if (IsEmpty()) DatabaseError("Cannot perform this operation on an empty dataset");
  WaitForIndexes();
  DataEvent(deCheckBrowseMode);
  DoBeforeScroll();
  TImpl& I = *FImpl;
  TmtbCommon& C = *FCommon;
  {
    TLock Guard(C.FImpl->Lock);
    SettleWindow();
    TmtbRecord* R = I.Window[static_cast<size_t>(FActive)].Record;
    for (auto& Index : FIndexes.FItems) {
      const int P = PositionOf(R, *Index);
      if (P >= 0) Index->FStore->EraseAt(Index->FStore->Select(P));
    }
    C.FSlots[static_cast<size_t>(R->Slot)] = nullptr;
    C.FFreeSlots.push_back(R->Slot);
    C.FImpl->BySequence[static_cast<size_t>(R->Sequence)] = nullptr;
    --C.FRecordCount;
    C.FImpl->RecordBytes -= R->Size;
    std::free(R);
    I.Window[static_cast<size_t>(FActive)].Record = nullptr;
  }
  Resync(true);
  if (FSelected->Count() > 0) FBof = FEof = false;
  DoAfterScroll();
}

void TmtbCustomMemTable::ClearRecords() {
  CheckActive();
  DisableControls();
  try {
    TImpl& I = *FImpl;
    ResetEdit();
    if (FState == dsInsert || FState == dsEdit) SetState(dsBrowse);
    ClearWindow();
    DataEvent(deDataSetChange);
    I.CursorPosition = -1;
    FBof = FEof = true;
    FreeRecords();
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
}

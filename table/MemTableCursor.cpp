// The record window the views read, the cursor moving through the selected
// order, and bookmarks.
#include "table/MemTableInternal.h"

#include <algorithm>
#include <cstdlib>
#include <string>

using namespace memtable_internal;

// ---------------------------------------------------------------------------
// Record window

int TmtbCustomMemTable::WindowCount() const {
  return static_cast<int>(FImpl->Window.size());
}

TBookmark TmtbCustomMemTable::WindowBookmark(int BufferIndex) const {
  const TImpl& I = *FImpl;
  if (!Active() || BufferIndex < 0 || static_cast<size_t>(BufferIndex) >= I.Window.size())
    return {};
  SettleWindow();
  const TmtbRecord* R = I.Window[static_cast<size_t>(BufferIndex)].Record;
  if (!R) return {};
  std::string B(8, '\0');
  StoreU32(reinterpret_cast<uint8_t*>(B.data()), static_cast<uint32_t>(R->Sequence));
  StoreU32(reinterpret_cast<uint8_t*>(B.data()) + 4, FCommon->Generation());
  return B;
}

const TmtbRecord* TmtbCustomMemTable::RecordAt(int Position) const {
  TLock Guard(FCommon->FImpl->Lock);
  if (!FSelected->FPending.empty()) const_cast<TmtbCustomMemTable*>(this)->FlushIndex(*FSelected);
  if (Position < 0 || Position >= FSelected->FStore->Count()) return nullptr;
  return FSelected->FStore->At(Position).Record;
}

void TmtbCustomMemTable::ClearWindow() {
  FImpl->Window.clear();
  FImpl->WindowTop = -1;
  FImpl->WindowStale = false;
  FActive = -1;
}

// Places the records waiting for the selected order and reads the window's
// records that are not read yet. Called before anything reads a buffer's
// record or the selected order.
void TmtbCustomMemTable::SettleWindow() const {
  TImpl& I = *FImpl;
  if (FSelected->FPending.empty() && !I.WindowStale) return;
  TLock Guard(FCommon->FImpl->Lock);
  auto* Self = const_cast<TmtbCustomMemTable*>(this);
  if (!FSelected->FPending.empty()) Self->FlushIndex(*FSelected);
  if (!I.WindowStale) return;
  const TmtbIndexStore& S = *FSelected->FStore;
  for (TBuffer& B : I.Window)
    if (B.Position >= 0 && !B.Record) B.Record = S.At(B.Position).Record;
  I.WindowStale = false;
}

// Fills the window with the record at Position as the active buffer at index
// ActiveIndex where enough records precede it; the rest of the window is
// filled with the following records, then (at the end of the order) with
// more preceding ones.
void TmtbCustomMemTable::FillWindowAround(int Position, int ActiveIndex) {
  TImpl& I = *FImpl;
  TLock Guard(FCommon->FImpl->Lock);
  const int N = FSelected->Count();
  I.Window.clear();
  if (N == 0 || Position < 0 || Position >= N) {
    ClearWindow();
    return;
  }
  ActiveIndex = std::clamp(ActiveIndex, 0, FWindowSize - 1);
  int Top = Position - std::min(ActiveIndex, Position);
  int Count = std::min(FWindowSize, N - Top);
  if (Count < FWindowSize && Top > 0) {
    const int Extra = std::min(FWindowSize - Count, Top);
    Top -= Extra;
    Count += Extra;
  }
  I.Window.resize(static_cast<size_t>(Count));
  for (int K = 0; K < Count; ++K)
    I.Window[static_cast<size_t>(K)] = {nullptr, Top + K};
  I.WindowStale = Count > 0;
  I.WindowTop = Top;
  FActive = Position - Top;
  I.CursorPosition = Position;
}

// Re-reads the window after a change: the record at the cursor position, else
// the following, else the preceding one; the active row keeps its place.
void TmtbCustomMemTable::Resync(bool KeepRow) {
  TImpl& I = *FImpl;
  const int N = FSelected->Count();
  if (N == 0) {
    ClearWindow();
    I.CursorPosition = -1;
    FBof = FEof = true;
  } else {
    const int Position = std::clamp(I.CursorPosition, 0, N - 1);
    FillWindowAround(Position, KeepRow ? std::max(FActive, 0) : 0);
  }
  DataEvent(deDataSetChange);
}

void TmtbCustomMemTable::UpdateWindowSize() {
  int Size = 1;
  for (const TDataSource* S : FDataSources)
    if (S->FEnabled)
      for (const TDataLink* L : S->FLinks)
        if (L->FActive) Size = std::max(Size, L->FBufferCount);
  if (Size == FWindowSize) return;
  FWindowSize = Size;
  if (!Active()) return;
  TImpl& I = *FImpl;
  if (FState == dsInsert) {
    // Keep the new record's buffer; only trim a window that became too large.
    while (static_cast<int>(I.Window.size()) > FWindowSize) {
      if (FActive < static_cast<int>(I.Window.size()) - 1) {
        I.Window.pop_back();
      } else {
        I.Window.erase(I.Window.begin());
        --FActive;
        ++I.WindowTop;
      }
    }
  } else if (FActive >= 0) {
    FillWindowAround(I.Window[static_cast<size_t>(FActive)].Position, FActive);
  }
  for (const TDataSource* S : FDataSources)
    for (TDataLink* L : S->FLinks)
      if (L->FActive) L->UpdateRange();
}

// ---------------------------------------------------------------------------
// Cursor

int TmtbCustomMemTable::RecordCount() const {
  CheckActive();
  TLock Guard(FCommon->FImpl->Lock);
  return FSelected->Count();
}

bool TmtbCustomMemTable::IsEmpty() const {
  if (!Active() || FActive < 0) return true;
  return false;
}

int TmtbCustomMemTable::RecNo() const {
  if (!Active() || FActive < 0) return -1;
  // The window's positions are current even before its records are read.
  const TBuffer& B = FImpl->Window[static_cast<size_t>(FActive)];
  if (B.Position < 0) return -1;
  return B.Position + 1;
}

void TmtbCustomMemTable::SetRecNo(int Value) {
  CheckActive();
  const int Current = RecNo();
  if (Value < 1 || Value > RecordCount() || Value == Current) return;
  if (Current < 0) return;
  MoveBy(Value - Current);
}

void TmtbCustomMemTable::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode);
  if (FState == dsInsert || FState == dsEdit) {
    if (FModified) {
      Post();
    } else {
      // Drop the untouched new record without raising after-scroll.
      ResetEdit();
      SetState(dsBrowse);
      Resync(true);
    }
  }
}

void TmtbCustomMemTable::First() {
  CheckActive();
  CheckBrowseMode();
  DoBeforeScroll();
  TImpl& I = *FImpl;
  ClearWindow();
  FBof = FEof = true;
  I.CursorPosition = -1;
  if (RecordAt(0)) {
    FBof = FEof = false;
    FillWindowAround(0, 0);
  }
  FBof = true;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TmtbCustomMemTable::Last() {
  CheckActive();
  CheckBrowseMode();
  DoBeforeScroll();
  TImpl& I = *FImpl;
  ClearWindow();
  FBof = FEof = true;
  const int N = FSelected->Count();
  I.CursorPosition = N;
  if (N > 0) {
    FBof = FEof = false;
    FillWindowAround(N - 1, FWindowSize - 1);
  }
  FEof = true;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

int TmtbCustomMemTable::MoveBy(int Distance) {
  CheckActive();
  CheckBrowseMode();
  DoBeforeScroll();
  if ((Distance > 0 && FEof) || (Distance < 0 && FBof)) return 0;
  SettleWindow();
  FBof = FEof = false;
  TImpl& I = *FImpl;
  const size_t OldCount = I.Window.size();
  const int OldTop = I.WindowTop;
  int Moved = 0;
  TLock Guard(FCommon->FImpl->Lock);
  if (!I.Window.empty() && std::abs(static_cast<int64_t>(Distance)) >
                               static_cast<int64_t>(I.Window.size()) + FWindowSize) {
    // A long move: the window that stepping record by record would leave,
    // made at once. It ends at the target (moving forward) or starts there
    // (moving back); records are read when first needed.
    const int Size = static_cast<int>(I.Window.size());
    const int Current = I.Window[static_cast<size_t>(FActive)].Position;
    const int N = FSelected->Count();
    const int64_t Wanted = static_cast<int64_t>(Current) + Distance;
    const int Target = static_cast<int>(std::clamp<int64_t>(Wanted, 0, N - 1));
    const int Added =
        Distance > 0 ? Target - I.Window.back().Position : I.Window.front().Position - Target;
    const int NewSize = Size >= FWindowSize ? Size : std::min(FWindowSize, Size + Added);
    const int Top = Distance > 0 ? Target - NewSize + 1 : Target;
    I.Window.assign(static_cast<size_t>(NewSize), TBuffer{});
    for (int K = 0; K < NewSize; ++K)
      I.Window[static_cast<size_t>(K)].Position = Top + K;
    I.WindowStale = true;
    I.WindowTop = Top;
    FActive = Distance > 0 ? NewSize - 1 : 0;
    FEof = Wanted > N - 1;
    FBof = Wanted < 0;
    Moved = Target - Current;
    Distance = 0;
  }
  if (I.Window.empty()) {
    // No record buffered (an empty table): nothing to step to.
    if (Distance > 0) FEof = true;
    if (Distance < 0) FBof = true;
  }
  while (Distance > 0 && !I.Window.empty()) {
    if (FActive < static_cast<int>(I.Window.size()) - 1) {
      ++FActive;
    } else {
      const int Next = I.Window.back().Position + 1;
      const TmtbRecord* R = RecordAt(Next);
      if (!R) {
        FEof = true;
        break;
      }
      if (static_cast<int>(I.Window.size()) >= FWindowSize) {
        I.Window.erase(I.Window.begin());
        ++I.WindowTop;
      }
      I.Window.push_back({const_cast<TmtbRecord*>(R), Next});
      FActive = static_cast<int>(I.Window.size()) - 1;
    }
    --Distance;
    ++Moved;
  }
  while (Distance < 0 && !I.Window.empty()) {
    if (FActive > 0) {
      --FActive;
    } else {
      const int Prev = I.Window.front().Position - 1;
      const TmtbRecord* R = RecordAt(Prev);
      if (!R) {
        FBof = true;
        break;
      }
      if (static_cast<int>(I.Window.size()) >= FWindowSize) I.Window.pop_back();
      I.Window.insert(I.Window.begin(), {const_cast<TmtbRecord*>(R), Prev});
      I.WindowTop = Prev;
      FActive = 0;
    }
    ++Distance;
    --Moved;
  }
  if (FActive >= 0) I.CursorPosition = I.Window[static_cast<size_t>(FActive)].Position;
  if (I.Window.size() != OldCount)
    DataEvent(deDataSetChange);
  else
    DataEvent(deDataSetScroll, I.WindowTop - OldTop);
  DoAfterScroll();
  return Moved;
}

// ---------------------------------------------------------------------------
// Bookmarks

TBookmark TmtbCustomMemTable::Bookmark() const {
  if (!Active() || FActive < 0) return {};
  return WindowBookmark(FActive);
}

const TmtbRecord* TmtbCustomMemTable::FindBookmarkRecord(const TBookmark& Value) const {
  if (!Active() || Value.size() != 8) return nullptr;
  const uint8_t* P = reinterpret_cast<const uint8_t*>(Value.data());
  if (LoadU32(P + 4) != FCommon->Generation()) return nullptr;
  const uint32_t Sequence = LoadU32(P);
  const auto& BySequence = FCommon->FImpl->BySequence;
  if (Sequence >= BySequence.size()) return nullptr;
  return BySequence[Sequence];
}

bool TmtbCustomMemTable::BookmarkValid(const TBookmark& Value) const {
  TLock Guard(FCommon->FImpl->Lock);
  return FindBookmarkRecord(Value) != nullptr;
}

int TmtbCustomMemTable::CompareBookmarks(const TBookmark& A, const TBookmark& B) const {
  TLock Guard(FCommon->FImpl->Lock);
  const TmtbRecord* RA = FindBookmarkRecord(A);
  const TmtbRecord* RB = FindBookmarkRecord(B);
  if (!RA || !RB) return 0;
  if (RA == RB) return 0;
  if (FSelected->BuiltIn()) return RA->Slot < RB->Slot ? -1 : 1;
  const int C = CompareRecords(*FSelected, RA, RB);
  return C != 0 ? C : SequenceOrder(RA, RB);
}

void TmtbCustomMemTable::GotoBookmark(const TBookmark& Value) {
  if (Value.empty()) return;
  CheckActive();
  CheckBrowseMode();
  DoBeforeScroll();
  TImpl& I = *FImpl;
  {
    TLock Guard(FCommon->FImpl->Lock);
    SettleWindow();
    if (const TmtbRecord* R = FindBookmarkRecord(Value)) {
      const int Position = PositionOf(R, *FSelected);
      if (Position >= 0) I.CursorPosition = Position;
    }
    if (!RecordAt(I.CursorPosition)) DatabaseError("Record not found");
    FillWindowAround(I.CursorPosition, (FWindowSize - 1) / 2);
  }
  FBof = FEof = false;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

int TmtbCustomMemTable::CurrentRecordSlot() const {
  if (!Active() || FActive < 0) return -1;
  SettleWindow();
  const TmtbRecord* R = FImpl->Window[static_cast<size_t>(FActive)].Record;
  return R ? R->Slot : -1;
}

int64_t TmtbCustomMemTable::CurrentRecordSequence() const {
  if (!Active() || FActive < 0) return -1;
  SettleWindow();
  const TmtbRecord* R = FImpl->Window[static_cast<size_t>(FActive)].Record;
  return R ? R->Sequence : -1;
}

size_t TmtbCustomMemTable::IndexMemoryUsed() const {
  WaitForIndexes();
  size_t Sum = 0;
  for (const auto& I : FIndexes.FItems)
    Sum += I->FStore->MemoryUsed() + I->FPending.capacity() * sizeof(void*);
  return Sum;
}

// Keeping the indexes in order: the insertion order, building an index from
// the store, placing the records a bulk load collected, and doing that on
// worker threads.
#include "table/MemTableInternal.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

using namespace memtable_internal;

namespace {

constexpr uint64_t RowOrderStep = uint64_t(1) << 32;

} // namespace

// ---------------------------------------------------------------------------
// Placing records in the indexes

void TmtbCustomMemTable::PlaceInBuiltIn(TmtbRecord* R) {
  TmtbIndex& Index = FIndexes.BuiltIn();
  TmtbIndexStore& S = *Index.FStore;
  const TmtbRecord* Before = nullptr;
  if (FSelected == &Index && FImpl->InsertBefore) Before = FImpl->InsertBefore;
  if (Before) {
    int P = PositionOf(Before, Index);
    if (P >= 0) {
      const uint64_t High = Before->RowOrder;
      uint64_t Low = P > 0 ? S.At(P - 1).Prefix : 0;
      if (High - Low < 2) {
        // No room between the neighbours: renumber the whole order.
        for (int K = 0; K < S.Count(); ++K) {
          const TmtbIndexStore::TLocation Where = S.Select(K);
          TmtbIndexEntry E = S.EntryAt(Where);
          E.Record->RowOrder = (static_cast<uint64_t>(K) + 1) * RowOrderStep;
          E.Prefix = E.Record->RowOrder;
          S.ReplaceAt(Where, E);
        }
        Low = P > 0 ? S.At(P - 1).Prefix : 0;
      }
      R->RowOrder = Low + (Before->RowOrder - Low) / 2;
      S.InsertAt(S.Select(P), {R->RowOrder, R});
      return;
    }
  }
  R->RowOrder = (S.Count() > 0 ? S.Back().Prefix : 0) + RowOrderStep;
  S.InsertAt(S.End(), {R->RowOrder, R});
}

void TmtbCustomMemTable::BuildIndex(TmtbIndex& Index) {
  TmtbCommon& C = *FCommon;
  Index.FPending.clear(); // every record is taken from the store
  std::vector<TmtbRecord*> Records;
  Records.reserve(static_cast<size_t>(C.FRecordCount));
  for (TmtbRecord* R : C.FSlots)
    if (R) Records.push_back(R);
  if (Index.BuiltIn()) {
    std::sort(Records.begin(), Records.end(),
              [](auto* A, auto* B) { return A->RowOrder < B->RowOrder; });
  } else {
    std::sort(Records.begin(), Records.end(), [&](const TmtbRecord* A, const TmtbRecord* B) {
      const int Cmp = CompareRecords(Index, A, B);
      return Cmp != 0 ? Cmp < 0 : SequenceOrder(A, B) < 0;
    });
    if (Index.Unique())
      for (size_t K = 1; K < Records.size(); ++K)
        if (CompareRecords(Index, Records[K - 1], Records[K]) == 0)
          throw EMemTableError("Duplicate index value. Operation aborted.");
  }
  Index.FStore->Clear();
  ResetLabels(Index);
  for (TmtbRecord* R : Records)
    EnsureLabel(Index, R);
  TmtbIndexStore::TLocation End;
  for (TmtbRecord* R : Records) {
    Index.FStore->InsertAt(End, {KeyPrefix(Index, R), R});
    End = Index.FStore->Select(Index.FStore->Count() - 1);
    ++End.Offset;
    ++End.Position;
  }
  Index.FOrdered = !Records.empty();
}

// Whether an index may collect posted records and place them later: its
// comparison must be a total order (key, then newest first) for placing them
// together to give the order placing them one by one gives. Unique indexes
// check each record at Post against the placed ones, so they place at once.
bool TmtbCustomMemTable::Deferrable(const TmtbIndex& Index) const {
  if (Index.BuiltIn() || !Index.Maintained() || Index.Unique()) return false;
  const TmtbFieldList& List = Index.FieldList();
  for (int K = 0; K < List.Count(); ++K)
    if (List.Items(K).Options & (mtfoPartial | mtfoIgnoreNull)) return false;
  return true;
}

// Whether two records hold the same bytes (or both null) in the index's first field.
bool TmtbCustomMemTable::SameFirstValue(const TmtbIndex& Index, const TmtbRecord* A,
                                        const TmtbRecord* B) const {
  const auto& L = FImpl->Layout[static_cast<size_t>(Index.FieldList().Items(0).Field->Index())];
  const TValueRef VA = ReadRecordValue(A, L), VB = ReadRecordValue(B, L);
  if (VA.Null || VB.Null) return VA.Null == VB.Null;
  return VA.Len == VB.Len && std::memcmp(VA.P, VB.P, VA.Len) == 0;
}

// Sorts entries by the index's order. The stored prefixes often tie (names
// that all begin alike, one folder's pictures under one label), so the sort
// uses its own 64-bit summary: the deciding text field's sort-key bytes after
// the part every entry shares (behind the label when labelled).
void TmtbCustomMemTable::SortEntries(const TmtbIndex& Index, std::vector<TmtbIndexEntry>& Entries,
                                     bool Labelled) const {
  struct TItem {
    uint64_t Sort;
    TmtbIndexEntry Entry;
  };
  const TmtbFieldList& List = Index.FieldList();
  const int Decider = Labelled ? 1 : 0; // the field whose bytes the summary takes
  bool Summary = !Index.BuiltIn() && Decider < List.Count() && !Entries.empty();
  const TmtbFieldList::TItem* Item = Summary ? &List.Items(Decider) : nullptr;
  int Slot = -1;
  if (Summary) {
    Summary = IsTextType(Item->Field->DataType()) &&
              (Item->Options & (mtfoOrdinal | mtfoPartial | mtfoIgnoreNull)) == 0;
    if (Summary) {
      const auto& L = FImpl->Layout[static_cast<size_t>(Item->Field->Index())];
      Slot = (Item->Options & mtfoCaseInsensitive) ? L.KeySlotCI : L.KeySlot;
    }
  }
  size_t Shared = 0;
  if (Summary) {
    // Every value present, and the length of the key bytes they all share.
    const auto& L = FImpl->Layout[static_cast<size_t>(Item->Field->Index())];
    const std::string_view First = SortKeyOf(Entries.front().Record, Slot);
    Shared = First.size();
    for (const TmtbIndexEntry& E : Entries) {
      if (ReadRecordValue(E.Record, L).Null) {
        Summary = false;
        break;
      }
      const std::string_view Key = SortKeyOf(E.Record, Slot);
      const size_t N = std::min(Shared, Key.size());
      size_t P = 0;
      while (P < N && Key[P] == First[P])
        ++P;
      Shared = P;
    }
  }
  const std::atomic<bool>& Stop = FImpl->StopWorkers;
  const auto Less = [&](const TItem& A, const TItem& B) {
    if (A.Sort != B.Sort) return A.Sort < B.Sort;
    if (Stop.load(std::memory_order_relaxed)) throw TPlacementStopped();
    const int C = CompareRecords(Index, A.Entry.Record, B.Entry.Record);
    return C != 0 ? C < 0 : SequenceOrder(A.Entry.Record, B.Entry.Record) < 0;
  };
  std::vector<TItem> Items;
  Items.reserve(Entries.size());
  for (const TmtbIndexEntry& E : Entries) {
    uint64_t Sort = E.Prefix;
    if (Summary) {
      const std::string_view Key = SortKeyOf(E.Record, Slot).substr(Shared);
      uint64_t Bytes = PrefixOfBytes(reinterpret_cast<const uint8_t*>(Key.data()), Key.size());
      if (Item->Options & mtfoDescending) Bytes = ~Bytes;
      Sort = Labelled ? (E.Prefix & ~uint64_t(0xFFFFFFFFu)) | (Bytes >> 32) : Bytes;
    }
    Items.push_back({Sort, E});
  }
  std::sort(Items.begin(), Items.end(), Less);
  for (size_t K = 0; K < Items.size(); ++K)
    Entries[K] = Items[K].Entry;
}

// Places the records an index collected. A few go in one by one; many are
// sorted by the index's order (key, then newest first) and merged with the
// placed entries in one pass. Either way the result is the order that
// placing each record at its Post gives.
void TmtbCustomMemTable::FlushIndex(TmtbIndex& Index) {
  if (Index.FPending.empty()) return;
  TLock Guard(FCommon->FImpl->Lock);
  PlaceWaiting(Index);
}

// The work of FlushIndex without the store's lock: workers of PrepareIndexes
// run it for different indexes at once. It touches only this index and reads
// the records. When it fails (or is stopped) the records wait again.
void TmtbCustomMemTable::PlaceWaiting(TmtbIndex& Index) {
  std::vector<TmtbRecord*> Pending;
  Pending.swap(Index.FPending);
  try {
    PlaceRecords(Index, Pending);
  } catch (...) {
    Index.FPending.swap(Pending);
    throw;
  }
}

void TmtbCustomMemTable::PlaceRecords(TmtbIndex& Index, std::vector<TmtbRecord*>& Pending) {
  TmtbIndexStore& S = *Index.FStore;
  // Order labels for new first values (records of one folder arrive
  // together: a value like the one before needs no look-up).
  auto LabelsActive = [&] { return Index.FLabels && Index.FLabels->Active; };
  if (LabelsActive()) {
    // When the values changing from one record to the next already outnumber
    // the labels' room, the labels are dropped at once instead of after
    // thousands of look-ups (either way the order is the same).
    size_t Changes = 0;
    for (size_t K = 1; K < Pending.size() && Changes <= MaxLabelledValues; ++K)
      Changes += !SameFirstValue(Index, Pending[K - 1], Pending[K]);
    if (Index.FLabels->Labels.size() + Changes > MaxLabelledValues) DropLabels(Index);
  }
  if (LabelsActive()) {
    const TmtbRecord* Prev = nullptr;
    for (TmtbRecord* R : Pending) {
      if (FImpl->StopWorkers.load(std::memory_order_relaxed)) throw TPlacementStopped();
      if (!Prev || !SameFirstValue(Index, Prev, R)) EnsureLabel(Index, R);
      Prev = R;
      if (!LabelsActive()) break;
    }
  }
  if (Pending.size() * 100 < static_cast<size_t>(S.Count())) {
    for (TmtbRecord* R : Pending) {
      const uint64_t Prefix = KeyPrefix(Index, R);
      S.InsertAt(FindLocation(Index, R, Prefix), {Prefix, R});
    }
    Index.FOrdered = true;
    return;
  }
  std::vector<TmtbIndexEntry> New;
  New.reserve(Pending.size());
  const bool Labelled = LabelsActive();
  const TmtbFieldList& List = Index.FieldList();
  const TmtbRecord* Prev = nullptr;
  uint64_t PrevHigh = 0;
  for (TmtbRecord* R : Pending) {
    if (FImpl->StopWorkers.load(std::memory_order_relaxed)) throw TPlacementStopped();
    uint64_t Prefix;
    if (Labelled && Prev && SameFirstValue(Index, Prev, R)) {
      // Same first value: same label; the low half is the second field's.
      const uint64_t Low = List.Count() > 1 ? FieldPrefix(List.Items(1), R) >> 32 : 0;
      Prefix = (PrevHigh << 32) | Low;
    } else {
      Prefix = KeyPrefix(Index, R);
    }
    PrevHigh = Prefix >> 32;
    Prev = R;
    New.push_back({Prefix, R});
  }
  const auto Less = [&](const TmtbIndexEntry& A, const TmtbIndexEntry& B) {
    if (A.Prefix != B.Prefix) return A.Prefix < B.Prefix;
    if (FImpl->StopWorkers.load(std::memory_order_relaxed)) throw TPlacementStopped();
    const int C = CompareRecords(Index, A.Record, B.Record);
    return C != 0 ? C < 0 : SequenceOrder(A.Record, B.Record) < 0;
  };
  SortEntries(Index, New, Labelled);
  if (S.Count() > 0) {
    std::vector<TmtbIndexEntry> Old;
    S.CopyTo(Old);
    std::vector<TmtbIndexEntry> Merged(Old.size() + New.size());
    std::merge(Old.begin(), Old.end(), New.begin(), New.end(), Merged.begin(), Less);
    New.swap(Merged);
  }
  S.Assign(New);
  Index.FOrdered = true;
}

// ---------------------------------------------------------------------------
// Placing the other orders on worker threads

void TmtbCustomMemTable::PrepareIndexes() {
  if (!Active() || FDisableCount > 0) return;
  WaitForIndexes();
  std::vector<TmtbIndex*> Work;
  for (int X = 1; X < FIndexes.Count(); ++X) {
    TmtbIndex& Index = FIndexes.Items(X);
    if (&Index != FSelected && !Index.FPending.empty()) Work.push_back(&Index);
  }
  if (Work.empty()) return;
  TImpl& I = *FImpl;
  I.StopWorkers = false;
  // One shared list of indexes; each worker takes the next one.
  struct TQueue {
    std::vector<TmtbIndex*> Items;
    std::vector<std::promise<void>> Done;
    std::atomic<size_t> Next{0};
  };
  auto Queue = std::make_shared<TQueue>();
  Queue->Items = Work;
  Queue->Done.resize(Work.size());
  for (size_t K = 0; K < Work.size(); ++K)
    Work[K]->FReady = Queue->Done[K].get_future().share();
  const unsigned Threads =
      std::max(1u, std::min<unsigned>(std::thread::hardware_concurrency(), Work.size()));
  for (unsigned T = 0; T < Threads; ++T)
    I.Workers.emplace_back([this, Queue] {
      for (size_t K; (K = Queue->Next.fetch_add(1)) < Queue->Items.size();) {
        try {
          if (!FImpl->StopWorkers) PlaceWaiting(*Queue->Items[K]);
        } catch (...) {
          // Stopped or failed: the records wait and are placed when needed.
        }
        Queue->Done[K].set_value();
      }
    });
}

bool TmtbCustomMemTable::PreparingIndexes() const {
  for (int X = 1; X < FIndexes.Count(); ++X) {
    const auto& Ready = FIndexes.Items(X).FReady;
    if (Ready.valid() && Ready.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
      return true;
  }
  return false;
}

void TmtbCustomMemTable::WaitForIndexes() const {
  TImpl& I = *FImpl;
  if (I.Workers.empty()) return;
  for (std::thread& T : I.Workers)
    T.join();
  I.Workers.clear();
  for (int X = 1; X < FIndexes.Count(); ++X)
    FIndexes.Items(X).FReady = {};
}

void TmtbCustomMemTable::StopPreparing() {
  if (FImpl->Workers.empty()) return;
  FImpl->StopWorkers = true;
  WaitForIndexes();
  FImpl->StopWorkers = false;
}

#pragma once
// The ordered reference list behind one index: entries kept in chunks of at
// most ChunkCapacity, with a Fenwick tree over the chunk sizes, so that
// placement, removal, the record at a position and the position of a key all
// cost O(log n) comparisons plus a short move inside one chunk. Each entry
// carries a 64-bit prefix of its key, which decides most comparisons without
// touching the record.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct TmtbRecord;

struct TmtbIndexEntry {
  uint64_t Prefix = 0;
  TmtbRecord* Record = nullptr;
};

class TmtbIndexStore {
public:
  static constexpr int ChunkCapacity = 512;

  // A place in the list: chunk number and offset inside it, and the position.
  struct TLocation {
    size_t Chunk = 0;
    int Offset = 0;
    int Position = 0;
  };

  int Count() const { return FCount; }
  void Clear();

  // The entry at a position (0 <= Position < Count()).
  const TmtbIndexEntry& At(int Position) const;
  TLocation Select(int Position) const;
  const TmtbIndexEntry& EntryAt(const TLocation& Where) const {
    return FChunks[Where.Chunk]->Entries[Where.Offset];
  }

  // The first place whose entry is not Less than the sought key (Less(entry)
  // is true for entries ordered before it), as std::lower_bound.
  template <class TLess> TLocation LowerBound(const TLess& Less) const;
  // The place after the last entry, and the last entry (Count() > 0).
  TLocation End() const {
    TLocation Result;
    if (!FChunks.empty()) {
      Result.Chunk = FChunks.size() - 1;
      Result.Offset = FChunks.back()->Count;
      Result.Position = FCount;
    }
    return Result;
  }
  const TmtbIndexEntry& Back() const { return FLast.back(); }

  void InsertAt(const TLocation& Where, const TmtbIndexEntry& Entry);
  // Replaces the whole list with entries already in order.
  void Assign(const std::vector<TmtbIndexEntry>& Entries);
  // Appends every entry, in order, to Out.
  void CopyTo(std::vector<TmtbIndexEntry>& Out) const;
  void EraseAt(const TLocation& Where);
  // Overwrites the entry at a place (the order must not change).
  void ReplaceAt(const TLocation& Where, const TmtbIndexEntry& Entry);

  // Rewrites every entry in place (the order must not change).
  template <class TFn> void ForEachEntry(const TFn& Fn) {
    for (size_t C = 0; C < FChunks.size(); ++C) {
      for (int K = 0; K < FChunks[C]->Count; ++K)
        Fn(FChunks[C]->Entries[K]);
      RefreshLast(C);
    }
  }

  size_t MemoryUsed() const;

private:
  struct TChunk {
    int Count = 0;
    TmtbIndexEntry Entries[ChunkCapacity];
  };
  int PrefixCount(size_t Chunk) const; // entries before chunk Chunk
  void FenwickAdd(size_t Chunk, int Delta);
  void RebuildFenwick();
  void RefreshLast(size_t Chunk);

  std::vector<std::unique_ptr<TChunk>> FChunks;
  std::vector<TmtbIndexEntry> FLast; // last entry of each chunk, searched without touching chunks
  std::vector<int> FFenwick;         // 1-based Fenwick tree of chunk sizes
  int FCount = 0;
};

template <class TLess>
TmtbIndexStore::TLocation TmtbIndexStore::LowerBound(const TLess& Less) const {
  TLocation Result;
  if (FChunks.empty()) return Result;
  // The first chunk whose last entry is not less than the key.
  size_t Low = 0, High = FChunks.size();
  while (Low < High) {
    const size_t Mid = (Low + High) / 2;
    if (Less(FLast[Mid]))
      Low = Mid + 1;
    else
      High = Mid;
  }
  if (Low == FChunks.size()) {
    // Every entry is less: the end, which is the end of the last chunk.
    Result.Chunk = FChunks.size() - 1;
    Result.Offset = FChunks.back()->Count;
    Result.Position = FCount;
    return Result;
  }
  const TChunk& Chunk = *FChunks[Low];
  int L = 0, H = Chunk.Count - 1; // the last entry is known not to be less
  while (L < H) {
    const int M = (L + H) / 2;
    if (Less(Chunk.Entries[M]))
      L = M + 1;
    else
      H = M;
  }
  Result.Chunk = Low;
  Result.Offset = L;
  Result.Position = PrefixCount(Low) + L;
  return Result;
}

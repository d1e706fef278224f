#include "table/IndexStore.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

void TmtbIndexStore::Clear() {
  FChunks.clear();
  FChunks.shrink_to_fit();
  FLast.clear();
  FLast.shrink_to_fit();
  FFenwick.clear();
  FFenwick.shrink_to_fit();
  FCount = 0;
}

int TmtbIndexStore::PrefixCount(size_t Chunk) const {
  int Sum = 0;
  for (size_t I = Chunk; I > 0; I -= I & (~I + 1))
    Sum += FFenwick[I];
  return Sum;
}

void TmtbIndexStore::FenwickAdd(size_t Chunk, int Delta) {
  for (size_t I = Chunk + 1; I < FFenwick.size(); I += I & (~I + 1))
    FFenwick[I] += Delta;
}

void TmtbIndexStore::RebuildFenwick() {
  FFenwick.assign(FChunks.size() + 1, 0);
  for (size_t I = 1; I < FFenwick.size(); ++I) {
    FFenwick[I] += FChunks[I - 1]->Count;
    const size_t Parent = I + (I & (~I + 1));
    if (Parent < FFenwick.size()) FFenwick[Parent] += FFenwick[I];
  }
}

void TmtbIndexStore::RefreshLast(size_t Chunk) {
  FLast[Chunk] = FChunks[Chunk]->Entries[FChunks[Chunk]->Count - 1];
}

TmtbIndexStore::TLocation TmtbIndexStore::Select(int Position) const {
  if (Position < 0 || Position >= FCount) throw std::out_of_range("index position out of range");
  // Fenwick descent: the chunk holding the entry with Position entries before it.
  size_t Index = 0;
  int Remaining = Position;
  size_t Step = 1;
  while (Step * 2 < FFenwick.size())
    Step *= 2;
  for (; Step > 0; Step /= 2) {
    const size_t Next = Index + Step;
    if (Next < FFenwick.size() && FFenwick[Next] <= Remaining) {
      Index = Next;
      Remaining -= FFenwick[Next];
    }
  }
  TLocation Result;
  Result.Chunk = Index; // 0-based chunk number (Index entries' chunks lie before it)
  Result.Offset = Remaining;
  Result.Position = Position;
  return Result;
}

const TmtbIndexEntry& TmtbIndexStore::At(int Position) const {
  return EntryAt(Select(Position));
}

void TmtbIndexStore::InsertAt(const TLocation& Where, const TmtbIndexEntry& Entry) {
  if (FChunks.empty()) {
    FChunks.push_back(std::make_unique<TChunk>());
    FChunks[0]->Entries[0] = Entry;
    FChunks[0]->Count = 1;
    FLast.push_back(Entry);
    RebuildFenwick();
    FCount = 1;
    return;
  }
  size_t ChunkNo = Where.Chunk;
  int Offset = Where.Offset;
  TChunk* Chunk = FChunks[ChunkNo].get();
  if (Chunk->Count == ChunkCapacity) {
    auto Fresh = std::make_unique<TChunk>();
    if (ChunkNo + 1 == FChunks.size() && Offset == Chunk->Count) {
      // Appending at the very end: start a new chunk and leave this one full.
      Fresh->Entries[0] = Entry;
      Fresh->Count = 1;
      FChunks.push_back(std::move(Fresh));
      FLast.push_back(Entry);
      RebuildFenwick();
      ++FCount;
      return;
    }
    // Split in halves; the upper half moves to a new chunk after this one.
    const int Keep = ChunkCapacity / 2;
    const int Moved = Chunk->Count - Keep;
    std::memcpy(Fresh->Entries, Chunk->Entries + Keep,
                sizeof(TmtbIndexEntry) * static_cast<size_t>(Moved));
    Fresh->Count = Moved;
    Chunk->Count = Keep;
    FChunks.insert(FChunks.begin() + static_cast<std::ptrdiff_t>(ChunkNo) + 1, std::move(Fresh));
    FLast.insert(FLast.begin() + static_cast<std::ptrdiff_t>(ChunkNo) + 1, TmtbIndexEntry{});
    RefreshLast(ChunkNo);
    RefreshLast(ChunkNo + 1);
    if (Offset > Keep) {
      ++ChunkNo;
      Offset -= Keep;
      Chunk = FChunks[ChunkNo].get();
    }
    std::memmove(Chunk->Entries + Offset + 1, Chunk->Entries + Offset,
                 sizeof(TmtbIndexEntry) * static_cast<size_t>(Chunk->Count - Offset));
    Chunk->Entries[Offset] = Entry;
    ++Chunk->Count;
    RefreshLast(ChunkNo);
    RebuildFenwick();
    ++FCount;
    return;
  }
  std::memmove(Chunk->Entries + Offset + 1, Chunk->Entries + Offset,
               sizeof(TmtbIndexEntry) * static_cast<size_t>(Chunk->Count - Offset));
  Chunk->Entries[Offset] = Entry;
  ++Chunk->Count;
  if (Offset == Chunk->Count - 1) RefreshLast(ChunkNo);
  FenwickAdd(ChunkNo, 1);
  ++FCount;
}

void TmtbIndexStore::Assign(const std::vector<TmtbIndexEntry>& Entries) {
  Clear();
  const size_t N = Entries.size();
  const size_t Chunks = (N + ChunkCapacity - 1) / ChunkCapacity;
  FChunks.reserve(Chunks);
  FLast.reserve(Chunks);
  for (size_t Start = 0; Start < N; Start += ChunkCapacity) {
    auto Chunk = std::make_unique<TChunk>();
    const size_t Count = std::min<size_t>(ChunkCapacity, N - Start);
    std::memcpy(Chunk->Entries, Entries.data() + Start, sizeof(TmtbIndexEntry) * Count);
    Chunk->Count = static_cast<int>(Count);
    FLast.push_back(Chunk->Entries[Count - 1]);
    FChunks.push_back(std::move(Chunk));
  }
  RebuildFenwick();
  FCount = static_cast<int>(N);
}

void TmtbIndexStore::CopyTo(std::vector<TmtbIndexEntry>& Out) const {
  Out.reserve(Out.size() + static_cast<size_t>(FCount));
  for (const auto& Chunk : FChunks)
    Out.insert(Out.end(), Chunk->Entries, Chunk->Entries + Chunk->Count);
}

void TmtbIndexStore::EraseAt(const TLocation& Where) {
  TChunk* Chunk = FChunks.at(Where.Chunk).get();
  if (Where.Offset < 0 || Where.Offset >= Chunk->Count)
    throw std::out_of_range("index entry out of range");
  std::memmove(Chunk->Entries + Where.Offset, Chunk->Entries + Where.Offset + 1,
               sizeof(TmtbIndexEntry) * static_cast<size_t>(Chunk->Count - Where.Offset - 1));
  --Chunk->Count;
  --FCount;
  if (Chunk->Count == 0) {
    FChunks.erase(FChunks.begin() + static_cast<std::ptrdiff_t>(Where.Chunk));
    FLast.erase(FLast.begin() + static_cast<std::ptrdiff_t>(Where.Chunk));
    RebuildFenwick();
    return;
  }
  if (Where.Offset == Chunk->Count) RefreshLast(Where.Chunk);
  FenwickAdd(Where.Chunk, -1);
}

void TmtbIndexStore::ReplaceAt(const TLocation& Where, const TmtbIndexEntry& Entry) {
  TChunk* Chunk = FChunks.at(Where.Chunk).get();
  Chunk->Entries[Where.Offset] = Entry;
  if (Where.Offset == Chunk->Count - 1) RefreshLast(Where.Chunk);
}

size_t TmtbIndexStore::MemoryUsed() const {
  return FChunks.size() * sizeof(TChunk) + FChunks.capacity() * sizeof(void*) +
         FLast.capacity() * sizeof(TmtbIndexEntry) + FFenwick.capacity() * sizeof(int);
}

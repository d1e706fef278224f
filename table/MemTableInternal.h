// The memory table's internals, shared by its source files and included by
// nothing outside the table: the layout of a stored record, the private state
// of the table and of its record store, and small helpers for values.
#pragma once

#include "platform/Collation.h"
#include "table/IndexStore.h"
#include "table/MemTable.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

// ---------------------------------------------------------------------------
// Stored records: one allocation each. A fixed header, then the data area
// (per field a null indicator byte, 0 = null, 2 = stored, followed by the
// value), then the key directory (offset and length of each sort key), then
// the variable part holding text, bytes, blob contents and sort keys. Text is
// kept out of line so that a record costs its real length, not its field size.

struct TmtbRecord {
  int32_t PositionHint = -1; // spare (not used)
  int32_t Slot = -1;
  int32_t Sequence = -1;
  uint8_t Flags = 0;
  uint8_t UpdateStatus = 0; // always "unmodified": no change log is kept
  uint16_t Reserved = 0;
  uint64_t RowOrder = 0; // order label in the built-in insertion-order index
  uint32_t Size = 0;     // bytes of the whole allocation
  uint32_t Reserved2 = 0;

  uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(this); }
  const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(this); }
  uint8_t* Data() { return Bytes() + sizeof(TmtbRecord); }
  const uint8_t* Data() const { return Bytes() + sizeof(TmtbRecord); }
};
static_assert(sizeof(TmtbRecord) == 32);

namespace memtable_internal {

constexpr uint8_t NotNull = 2;
// Marks a length in a record as a reference to a shared value (whose number
// takes the offset's place); the lowest bit then picks the key.
constexpr uint32_t SharedFlag = 0x80000000u;
constexpr uint32_t NotShared = UINT32_MAX;

inline uint32_t LoadU32(const uint8_t* P) {
  uint32_t V;
  std::memcpy(&V, P, 4);
  return V;
}
inline void StoreU32(uint8_t* P, uint32_t V) {
  std::memcpy(P, &V, 4);
}

inline bool EqualsIgnoreCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I) {
    const unsigned char X = static_cast<unsigned char>(A[I]), Y = static_cast<unsigned char>(B[I]);
    if (std::tolower(X) != std::tolower(Y)) return false;
  }
  return true;
}

inline std::string Trim(std::string_view S) {
  size_t B = 0, E = S.size();
  while (B < E && static_cast<unsigned char>(S[B]) <= ' ')
    ++B;
  while (E > B && static_cast<unsigned char>(S[E - 1]) <= ' ')
    --E;
  return std::string(S.substr(B, E - B));
}

inline bool IsTextType(TFieldType T) {
  return T == ftString || T == ftFixedChar;
}
inline bool IsBlobType(TFieldType T) {
  return T == ftBlob || T == ftMemo || T == ftGraphic || T == ftFmtMemo || T == ftParadoxOle ||
         T == ftDBaseOle || T == ftTypedBinary;
}
inline bool IsFloatType(TFieldType T) {
  return T == ftFloat || T == ftCurrency || T == ftDate || T == ftTime || T == ftDateTime;
}

inline uint64_t PrefixOfBytes(const uint8_t* P, size_t Len) {
  uint8_t B[8] = {};
  std::memcpy(B, P, std::min<size_t>(8, Len));
  uint64_t V = 0;
  for (int I = 0; I < 8; ++I)
    V = V << 8 | B[I];
  return V;
}

// A value read in place from a record or the edit buffer.
struct TValueRef {
  bool Null = true;
  const uint8_t* P = nullptr;
  size_t Len = 0;
  std::string_view Text() const { return {reinterpret_cast<const char*>(P), Len}; }
};

} // namespace memtable_internal

struct TmtbCustomMemTable::TBuffer {
  TmtbRecord* Record = nullptr; // nullptr: the new record being inserted
  int Position = -1;
};

struct TmtbCustomMemTable::TImpl {
  // A text value kept once for the records that hold it (a folder's path, a
  // type), with its sort keys: case-sensitive, then case-insensitive (each
  // made when the field has that key slot).
  struct TSharedValue {
    std::string Text;
    std::string Keys[2];
  };
  using TSharedValues = std::vector<std::unique_ptr<TSharedValue>>;
  struct TFieldLayout {
    uint32_t Offset = 0; // of the null indicator in the data area
    uint32_t Size = 0;   // inline value bytes
    bool OutOfLine = false;
    bool Shareable = false;                // text: equal values may be kept once
    const TSharedValues* Shared = nullptr; // where shared values are kept
    int KeySlot = -1;                      // sort key of the case-sensitive collation
    int KeySlotCI = -1;                    // sort key of the case-insensitive collation
  };
  struct TKeySlot {
    int Field = 0;
    bool CaseInsensitive = false;
  };
  struct TEditValue {
    bool Null = true;
    std::string Bytes;
  };

  std::vector<TFieldLayout> Layout;
  std::vector<TKeySlot> KeySlots;
  uint32_t DataSize = 0;     // data area
  uint32_t KeyDirOffset = 0; // from the start of the data area
  uint32_t FixedSize = 0;    // header + data area + key directory

  std::vector<TBuffer> Window;
  int WindowTop = -1; // position of the first buffer's record
  // The window's positions are always current; its records are read from the
  // selected order only when first needed (buffers with Position >= 0 and no
  // record yet), so that posting many records does not re-read it each time.
  bool WindowStale = false;
  std::vector<TEditValue> Edit;
  int InsertPosition = -1;            // cursor position when the insert began
  TmtbRecord* InsertBefore = nullptr; // record current when the insert began
  int CursorPosition = -1;

  std::unique_ptr<TCollator> Collator, CollatorCI;

  // Sort keys of the record being built, one per key slot; each stays valid
  // for the text it was made from (consecutive records often share a folder).
  std::vector<std::string> Keys, KeyTexts;
  std::vector<char> KeyValid;
  static constexpr size_t ShortKeyText = 8, ShortKeyCount = 256;
  std::vector<std::unordered_map<std::string, std::string>> ShortKeys;

  // Shared values and, per field, how they are found: the value the last
  // record shared, then every value shared so far. A field whose values are
  // seldom met again stops adding to them.
  TSharedValues Shared;
  struct TSharing {
    std::unordered_map<std::string_view, uint32_t> Ids;
    uint32_t Last = UINT32_MAX;
    size_t Added = 0, Found = 0;
    bool Closed = false;
  };
  std::vector<TSharing> Sharing;
  std::vector<uint32_t> SharedIds; // of the record being built, per field

  // Workers of PrepareIndexes, and the flag that makes them give up.
  std::vector<std::thread> Workers;
  std::atomic<bool> StopWorkers{false};
};

struct TmtbCommon::TImpl {
  std::recursive_mutex Lock;
  std::vector<TmtbRecord*> BySequence; // record of each sequence number, nullptr once deleted
  size_t RecordBytes = 0;
  std::mt19937 Random{std::random_device{}()};
};

// Order labels of an index's first field: see EnsureLabel.
struct TmtbIndex::TLabels {
  bool Active = true;
  std::map<std::string, uint32_t, std::less<>>
      Labels;          // dictionary key of a value -> its order label
  std::string Scratch; // the key being looked up
};

namespace memtable_internal {

// Distinct first values an index labels at most; with more it goes back to
// plain key prefixes.
constexpr size_t MaxLabelledValues = 8192;

// Thrown inside a worker's sort when it is told to stop.
struct TPlacementStopped {};

using TLock = std::lock_guard<std::recursive_mutex>;

// The value of a field in a stored record; shared text is read from the
// table's shared values.
inline TValueRef ReadRecordValue(const TmtbRecord* R,
                                 const TmtbCustomMemTable::TImpl::TFieldLayout& L) {
  TValueRef V;
  const uint8_t* D = R->Data() + L.Offset;
  if (D[0] == 0) return V;
  V.Null = false;
  if (L.OutOfLine) {
    const uint32_t Where = LoadU32(D + 1), Len = LoadU32(D + 5);
    if (Len & SharedFlag) {
      const std::string& Text = (*L.Shared)[Where]->Text;
      V.P = reinterpret_cast<const uint8_t*>(Text.data());
      V.Len = Text.size();
    } else {
      V.P = R->Bytes() + Where;
      V.Len = Len;
    }
  } else {
    V.P = D + 1;
    V.Len = L.Size;
  }
  return V;
}

// Order of two different records with equal keys: the newer one first.
inline int SequenceOrder(const TmtbRecord* A, const TmtbRecord* B) {
  return A->Sequence > B->Sequence ? -1 : A->Sequence < B->Sequence ? 1 : 0;
}

} // namespace memtable_internal

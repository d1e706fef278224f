// Comparing records in an index's order: sort keys, the 64-bit key prefixes
// an index keeps, order labels for a text first field, and finding where a
// record stands in an index.
#include "table/MemTableInternal.h"

#include <bit>
#include <cstring>
#include <map>
#include <string>

using namespace memtable_internal;

namespace {

int Sign(int64_t V) {
  return (V > 0) - (V < 0);
}
int CompareDoubles(double A, double B) {
  return A < B ? -1 : A > B ? 1 : 0;
}

uint64_t OrderedDouble(double D) {
  if (D == 0) D = 0; // -0 and +0 are equal
  const uint64_t Bits = std::bit_cast<uint64_t>(D);
  return (Bits >> 63) ? ~Bits : Bits | (uint64_t(1) << 63);
}

constexpr uint32_t MaxLabel = 0xFFFFFFFEu;

} // namespace

// ---------------------------------------------------------------------------
// Comparison

TCollator& TmtbCustomMemTable::CollatorFor(bool CaseInsensitive) const {
  TImpl& I = *FImpl;
  auto& C = CaseInsensitive ? I.CollatorCI : I.Collator;
  if (!C || C->LocaleID() != LocaleID()) {
    try {
      C = std::make_unique<TCollator>(LocaleID(), CaseInsensitive);
    } catch (const ECollationError&) {
      throw EMemTableError("Invalid locale. " + std::to_string(LocaleID()));
    }
  }
  return *C;
}

std::string_view TmtbCustomMemTable::SortKeyOf(const TmtbRecord* R, int Slot) const {
  const uint8_t* Dir = R->Data() + FImpl->KeyDirOffset + 8 * static_cast<size_t>(Slot);
  const uint32_t Where = LoadU32(Dir), Len = LoadU32(Dir + 4);
  if (Len & SharedFlag) return FImpl->Shared[Where]->Keys[Len & 1];
  return {reinterpret_cast<const char*>(R->Bytes() + Where), Len};
}

int TmtbCustomMemTable::CompareRecords(const TmtbIndex& Index, const TmtbRecord* A,
                                       const TmtbRecord* B) const {
  const TImpl& I = *FImpl;
  const TmtbFieldList& List = Index.FieldList();
  for (int K = 0; K < List.Count(); ++K) {
    const auto& Item = List.Items(K);
    const auto& L = I.Layout[static_cast<size_t>(Item.Field->Index())];
    const TValueRef VA = ReadRecordValue(A, L);
    if ((Item.Options & mtfoIgnoreNull) && VA.Null) continue;
    const TValueRef VB = ReadRecordValue(B, L);
    int C = 0;
    if (VA.Null || VB.Null) {
      C = VA.Null && VB.Null ? 0 : VA.Null ? -1 : 1;
      if (C != 0) return C;
      continue;
    }
    const TFieldType T = Item.Field->DataType();
    if (IsTextType(T)) {
      std::string_view TA = VA.Text(), TB = VB.Text();
      const bool CI = (Item.Options & mtfoCaseInsensitive) != 0;
      bool PartialEnd = false;
      if ((Item.Options & mtfoPartial) && TA.size() < TB.size()) {
        TB = TB.substr(0, TA.size());
        PartialEnd = true;
      }
      if (Item.Options & mtfoOrdinal) {
        const size_t N = std::min(TA.size(), TB.size());
        for (size_t P = 0; P < N && C == 0; ++P) {
          unsigned char X = static_cast<unsigned char>(TA[P]),
                        Y = static_cast<unsigned char>(TB[P]);
          if (CI) {
            if (X >= 'a' && X <= 'z') X = static_cast<unsigned char>(X - 32);
            if (Y >= 'a' && Y <= 'z') Y = static_cast<unsigned char>(Y - 32);
          }
          C = X < Y ? -1 : X > Y ? 1 : 0;
        }
        if (C == 0) C = TA.size() < TB.size() ? -1 : TA.size() > TB.size() ? 1 : 0;
      } else if (PartialEnd) {
        C = CollatorFor(CI).Compare(TA, TB);
      } else {
        const int Slot = CI ? L.KeySlotCI : L.KeySlot;
        const std::string_view KA = SortKeyOf(A, Slot), KB = SortKeyOf(B, Slot);
        const int M = std::memcmp(KA.data(), KB.data(), std::min(KA.size(), KB.size()));
        C = M != 0 ? Sign(M) : KA.size() < KB.size() ? -1 : KA.size() > KB.size() ? 1 : 0;
        if (C == 0 && !CI && TA != TB) {
          // Equal under the collation: fewer hyphens and apostrophes first, then the bytes.
          const int NA = TCollator::IgnorableCount(TA), NB = TCollator::IgnorableCount(TB);
          if (NA != NB) {
            C = NA < NB ? -1 : 1;
          } else {
            const int R = std::memcmp(TA.data(), TB.data(), std::min(TA.size(), TB.size()));
            C = R != 0 ? Sign(R) : TA.size() < TB.size() ? -1 : TA.size() > TB.size() ? 1 : 0;
          }
        }
      }
      if (Item.Options & mtfoDescending) C = -C;
      if (C == 0 && PartialEnd) return 0;
    } else if (IsFloatType(T)) {
      double X, Y;
      std::memcpy(&X, VA.P, 8);
      std::memcpy(&Y, VB.P, 8);
      C = CompareDoubles(X, Y);
    } else if (T == ftBoolean) {
      int16_t X, Y;
      std::memcpy(&X, VA.P, 2);
      std::memcpy(&Y, VB.P, 2);
      C = (X != 0) - (Y != 0);
    } else if (T == ftSmallint) {
      int16_t X, Y;
      std::memcpy(&X, VA.P, 2);
      std::memcpy(&Y, VB.P, 2);
      C = Sign(int64_t(X) - Y);
    } else if (T == ftWord) {
      uint16_t X, Y;
      std::memcpy(&X, VA.P, 2);
      std::memcpy(&Y, VB.P, 2);
      C = Sign(int64_t(X) - Y);
    } else if (T == ftInteger || T == ftAutoInc) {
      int32_t X, Y;
      std::memcpy(&X, VA.P, 4);
      std::memcpy(&Y, VB.P, 4);
      C = Sign(int64_t(X) - Y);
    } else if (T == ftLargeint) {
      int64_t X, Y;
      std::memcpy(&X, VA.P, 8);
      std::memcpy(&Y, VB.P, 8);
      C = X < Y ? -1 : X > Y ? 1 : 0;
    }
    // BCD, ADT and array values compare equal.
    if (!IsTextType(T) && (Item.Options & mtfoDescending)) C = -C;
    if (C != 0) return C;
  }
  return 0;
}

// A 64-bit summary of a record's first key field, ordered like the field:
// prefix(A) < prefix(B) implies A before B; equal prefixes decide nothing.
uint64_t TmtbCustomMemTable::FieldPrefix(const TmtbFieldList::TItem& Item,
                                         const TmtbRecord* R) const {
  if (Item.Options & (mtfoIgnoreNull | mtfoPartial)) return 0;
  const auto& L = FImpl->Layout[static_cast<size_t>(Item.Field->Index())];
  const TValueRef V = ReadRecordValue(R, L);
  if (V.Null) return 0;
  const TFieldType T = Item.Field->DataType();
  uint64_t P = 0;
  if (IsTextType(T)) {
    if (Item.Options & mtfoOrdinal) {
      uint8_t B[8] = {};
      for (size_t K = 0; K < 8 && K < V.Len; ++K) {
        uint8_t X = V.P[K];
        if ((Item.Options & mtfoCaseInsensitive) && X >= 'a' && X <= 'z')
          X = static_cast<uint8_t>(X - 32);
        B[K] = X;
      }
      P = PrefixOfBytes(B, 8);
    } else {
      const std::string_view Key =
          SortKeyOf(R, (Item.Options & mtfoCaseInsensitive) ? L.KeySlotCI : L.KeySlot);
      P = PrefixOfBytes(reinterpret_cast<const uint8_t*>(Key.data()), Key.size());
    }
  } else if (IsFloatType(T)) {
    double D;
    std::memcpy(&D, V.P, 8);
    P = OrderedDouble(D);
  } else if (T == ftLargeint || T == ftInteger || T == ftAutoInc || T == ftSmallint ||
             T == ftWord) {
    int64_t X = 0;
    if (T == ftLargeint) {
      std::memcpy(&X, V.P, 8);
    } else if (T == ftInteger || T == ftAutoInc) {
      int32_t Y;
      std::memcpy(&Y, V.P, 4);
      X = Y;
    } else if (T == ftSmallint) {
      int16_t Y;
      std::memcpy(&Y, V.P, 2);
      X = Y;
    } else {
      uint16_t Y;
      std::memcpy(&Y, V.P, 2);
      X = Y;
    }
    P = static_cast<uint64_t>(X) ^ (uint64_t(1) << 63);
  } else {
    return 0; // boolean, BCD, ADT, array: decided by the full comparison
  }
  if (Item.Options & mtfoDescending) P = ~P;
  return P;
}

// ---------------------------------------------------------------------------
// Order labels of a text first field

// Whether an index's first field can carry order labels: locale-collated text
// compared whole.
static bool LabelsEligible(const TmtbIndex& Index) {
  if (Index.BuiltIn() || Index.FieldList().Count() == 0) return false;
  const auto& Item = Index.FieldList().Items(0);
  return (Item.Field->DataType() == ftString || Item.Field->DataType() == ftFixedChar) &&
         (Item.Options & (mtfoOrdinal | mtfoPartial | mtfoIgnoreNull)) == 0;
}

// The first field's value as bytes whose memcmp order is the field's order:
// the sort key (ends in its only zero byte), then for case-sensitive
// collation the number of hyphens and apostrophes and the raw text.
std::string& TmtbCustomMemTable::LabelKey(const TmtbIndex& Index, const TmtbRecord* R) const {
  const auto& Item = Index.FieldList().Items(0);
  const auto& L = FImpl->Layout[static_cast<size_t>(Item.Field->Index())];
  const bool CI = (Item.Options & mtfoCaseInsensitive) != 0;
  std::string& Key = Index.FLabels->Scratch;
  Key.assign(SortKeyOf(R, CI ? L.KeySlotCI : L.KeySlot));
  if (!CI) {
    const TValueRef V = ReadRecordValue(R, L);
    const int Count = TCollator::IgnorableCount(V.Text());
    Key.push_back(static_cast<char>(Count >> 8));
    Key.push_back(static_cast<char>(Count & 0xFF));
    Key.append(V.Text());
  }
  return Key;
}

void TmtbCustomMemTable::ResetLabels(TmtbIndex& Index) {
  if (LabelsEligible(Index)) {
    if (!Index.FLabels) Index.FLabels = std::make_unique<TmtbIndex::TLabels>();
    Index.FLabels->Active = true;
    Index.FLabels->Labels.clear();
  } else {
    Index.FLabels.reset();
  }
}

// Stops labelling: the entries go back to plain key prefixes.
void TmtbCustomMemTable::DropLabels(TmtbIndex& Index) {
  TmtbIndex::TLabels* D = Index.FLabels.get();
  if (!D || !D->Active) return;
  const auto& Item = Index.FieldList().Items(0);
  D->Active = false;
  D->Labels.clear();
  Index.FStore->ForEachEntry([&](TmtbIndexEntry& E) { E.Prefix = FieldPrefix(Item, E.Record); });
}

// Gives the record's first-field value an order label if it has none yet.
// When the labels run out of room they are spread evenly again and the
// entries' prefixes remapped; with too many distinct values the index goes
// back to plain key prefixes.
uint32_t TmtbCustomMemTable::EnsureLabel(TmtbIndex& Index, const TmtbRecord* R) {
  TmtbIndex::TLabels* D = Index.FLabels.get();
  if (!D || !D->Active) return 0;
  const auto& Item = Index.FieldList().Items(0);
  if (ReadRecordValue(R, FImpl->Layout[static_cast<size_t>(Item.Field->Index())]).Null) return 0;
  const std::string& Key = LabelKey(Index, R);
  auto It = D->Labels.find(std::string_view(Key));
  if (It != D->Labels.end()) return It->second;
  It = D->Labels.emplace(Key, 0).first;
  const uint32_t Low = It == D->Labels.begin() ? 0 : std::prev(It)->second;
  const uint32_t High = std::next(It) == D->Labels.end() ? MaxLabel + 1 : std::next(It)->second;
  if (High - Low >= 2) {
    // Values arriving in order take small steps at the ends, so that a
    // sorted run does not use up the room by halving it.
    constexpr uint32_t EndStep = 1u << 20;
    uint32_t Gap = (High - Low) / 2;
    if (Low == 0 || High == MaxLabel + 1) Gap = std::min(Gap, EndStep);
    It->second = High == MaxLabel + 1 || Low != 0 ? Low + Gap : High - Gap;
    return It->second;
  }
  const bool Descending = (Item.Options & mtfoDescending) != 0;
  auto High32 = [Descending](uint32_t Label) { return Descending ? MaxLabel + 1 - Label : Label; };
  if (D->Labels.size() > MaxLabelledValues) {
    DropLabels(Index);
    return 0;
  }
  std::map<uint32_t, uint32_t> Remap; // old high half -> new high half
  const uint64_t Step = MaxLabel / (D->Labels.size() + 1);
  uint64_t Next = Step;
  for (auto& [Key, Label] : D->Labels) {
    const uint32_t New = static_cast<uint32_t>(Next);
    if (Label != 0) Remap[High32(Label)] = High32(New);
    Label = New;
    Next += Step;
  }
  Index.FStore->ForEachEntry([&](TmtbIndexEntry& E) {
    const uint32_t Old = static_cast<uint32_t>(E.Prefix >> 32);
    const auto Found = Remap.find(Old);
    if (Found != Remap.end()) E.Prefix = (uint64_t(Found->second) << 32) | (E.Prefix & 0xFFFFFFFFu);
  });
  return It->second;
}

// ---------------------------------------------------------------------------
// Key prefixes and positions in an index

bool TmtbCustomMemTable::TryKeyPrefix(const TmtbIndex& Index, const TmtbRecord* R,
                                      uint64_t& Prefix) const {
  if (Index.BuiltIn()) {
    Prefix = R->RowOrder;
    return true;
  }
  const TmtbFieldList& List = Index.FieldList();
  if (List.Count() == 0) {
    Prefix = 0;
    return true;
  }
  const TmtbIndex::TLabels* D = Index.FLabels.get();
  if (!D || !D->Active) {
    Prefix = FieldPrefix(List.Items(0), R);
    return true;
  }
  const auto& Item = List.Items(0);
  uint32_t Label = 0;
  if (!ReadRecordValue(R, FImpl->Layout[static_cast<size_t>(Item.Field->Index())]).Null) {
    const auto Found = D->Labels.find(std::string_view(LabelKey(Index, R)));
    if (Found == D->Labels.end()) return false;
    Label = Found->second;
  }
  Prefix = LabelledPrefix(Index, R, Label);
  return true;
}

// Label of the first field in the high half (0 for null, mirrored when
// descending), the second field's prefix in the low half.
uint64_t TmtbCustomMemTable::LabelledPrefix(const TmtbIndex& Index, const TmtbRecord* R,
                                            uint32_t Label) const {
  const TmtbFieldList& List = Index.FieldList();
  uint32_t High = Label;
  if (Label != 0 && (List.Items(0).Options & mtfoDescending)) High = MaxLabel + 1 - Label;
  const uint64_t Low = List.Count() > 1 ? FieldPrefix(List.Items(1), R) >> 32 : 0;
  return (uint64_t(High) << 32) | Low;
}

uint64_t TmtbCustomMemTable::KeyPrefix(const TmtbIndex& Index, const TmtbRecord* R) const {
  uint64_t Prefix = 0;
  if (!TryKeyPrefix(Index, R, Prefix))
    throw EMemTableError("Index " + Index.Name() + " has no label for a record");
  return Prefix;
}

int TmtbCustomMemTable::PositionOf(const TmtbRecord* Record, const TmtbIndex& Index) const {
  TLock Guard(FCommon->FImpl->Lock);
  if (!Index.FPending.empty())
    const_cast<TmtbCustomMemTable*>(this)->FlushIndex(const_cast<TmtbIndex&>(Index));
  const TmtbIndexStore& S = *Index.FStore;
  if (Index.BuiltIn() || Index.Ordered()) {
    const TmtbIndexStore::TLocation Where = FindLocation(Index, Record);
    if (Where.Position < S.Count() && S.EntryAt(Where).Record == Record) return Where.Position;
  }
  // Not ordered (or not found by key): a linear scan by identity.
  for (int P = 0; P < S.Count(); ++P)
    if (S.At(P).Record == Record) return P;
  return -1;
}

TmtbIndexStore::TLocation TmtbCustomMemTable::FindLocation(const TmtbIndex& Index,
                                                           const TmtbRecord* Record) const {
  return FindLocation(Index, Record, KeyPrefix(Index, Record));
}

TmtbIndexStore::TLocation TmtbCustomMemTable::FindLocation(const TmtbIndex& Index,
                                                           const TmtbRecord* Record,
                                                           uint64_t Prefix) const {
  const TmtbIndexStore& S = *Index.FStore;
  if (Index.BuiltIn())
    return S.LowerBound([&](const TmtbIndexEntry& E) { return E.Prefix < Prefix; });
  return S.LowerBound([&](const TmtbIndexEntry& E) {
    if (E.Prefix != Prefix) return E.Prefix < Prefix;
    if (E.Record == Record) return false;
    const int C = CompareRecords(Index, E.Record, Record);
    return C != 0 ? C < 0 : SequenceOrder(E.Record, Record) < 0;
  });
}

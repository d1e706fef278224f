#include "MemTableInternal.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

using namespace memtable_internal;

namespace {

constexpr int64_t MaxSequence = 0x7FFFFFCF;
constexpr uint64_t RowOrderStep = uint64_t(1) << 32;
constexpr uint32_t MaxGeneration = 0x80000000u;

// Records the selected index may collect during a bulk load before they are placed.
constexpr size_t SelectedCatchUp = 4096;

int Sign(int64_t V) {
  return (V > 0) - (V < 0);
}
int CompareDoubles(double A, double B) {
  return A < B ? -1 : A > B ? 1 : 0;
}

bool IsSupportedType(TFieldType T) {
  switch (T) {
  case ftString:
  case ftSmallint:
  case ftInteger:
  case ftWord:
  case ftBoolean:
  case ftFloat:
  case ftCurrency:
  case ftBCD:
  case ftDate:
  case ftTime:
  case ftDateTime:
  case ftBytes:
  case ftVarBytes:
  case ftAutoInc:
  case ftBlob:
  case ftMemo:
  case ftGraphic:
  case ftFmtMemo:
  case ftParadoxOle:
  case ftDBaseOle:
  case ftTypedBinary:
  case ftFixedChar:
  case ftLargeint:
  case ftADT:
  case ftArray:
    return true;
  default:
    return false;
  }
}
bool IsIndexableType(TFieldType T) {
  switch (T) {
  case ftString:
  case ftFixedChar:
  case ftSmallint:
  case ftInteger:
  case ftWord:
  case ftBoolean:
  case ftFloat:
  case ftCurrency:
  case ftBCD:
  case ftDate:
  case ftTime:
  case ftDateTime:
  case ftAutoInc:
  case ftLargeint:
  case ftADT:
  case ftArray:
    return true;
  default:
    return false;
  }
}

// Bytes of a value held in the data area; 0 for values held out of line
// (text, bytes, blobs), whose data-area slot is an offset and a length.
uint32_t InlineSize(TFieldType T) {
  switch (T) {
  case ftSmallint:
  case ftWord:
  case ftBoolean:
    return 2;
  case ftInteger:
  case ftAutoInc:
    return 4;
  case ftFloat:
  case ftCurrency:
  case ftDate:
  case ftTime:
  case ftDateTime:
  case ftLargeint:
    return 8;
  case ftBCD:
    return 34;
  default:
    return 0;
  }
}
bool IsOutOfLine(TFieldType T) {
  return IsTextType(T) || IsBlobType(T) || T == ftBytes || T == ftVarBytes;
}

// Makes room for one more element, growing geometrically.
template <class T> void GrowFor(std::vector<T>& V) {
  if (V.size() == V.capacity()) V.reserve(std::max<size_t>(16, V.size() * 2));
}

uint64_t OrderedDouble(double D) {
  if (D == 0) D = 0; // -0 and +0 are equal
  const uint64_t Bits = std::bit_cast<uint64_t>(D);
  return (Bits >> 63) ? ~Bits : Bits | (uint64_t(1) << 63);
}

constexpr uint32_t MaxLabel = 0xFFFFFFFEu;

} // namespace

// ---------------------------------------------------------------------------
// TmtbCommon

TmtbCommon::TmtbCommon() : FImpl(std::make_unique<TImpl>()) {
  FGeneration = static_cast<uint32_t>(FImpl->Random() % (uint64_t(MaxGeneration) + 1));
}

TmtbCommon::~TmtbCommon() {
  for (TmtbRecord* R : FSlots)
    std::free(R);
}

void TmtbCommon::SetLocaleID(int Value) {
  FLocaleID = Value;
}

std::recursive_mutex& TmtbCommon::Lock() {
  return FImpl->Lock;
}

size_t TmtbCommon::MemoryUsed() const {
  return FImpl->RecordBytes + FSlots.capacity() * sizeof(void*) +
         FFreeSlots.capacity() * sizeof(int32_t) + FImpl->BySequence.capacity() * sizeof(void*);
}

// ---------------------------------------------------------------------------
// TmtbIndex, TmtbIndexes

TmtbIndex::TmtbIndex(std::string Name, std::string FieldsText, unsigned Options, bool BuiltIn)
    : FName(std::move(Name)), FFieldsText(std::move(FieldsText)), FOptions(Options),
      FBuiltIn(BuiltIn), FMaintained((Options & ixNonMaintained) == 0),
      FStore(std::make_unique<TmtbIndexStore>()) {}

TmtbIndex::~TmtbIndex() = default;

int TmtbIndex::Count() const {
  WaitReady();
  return FStore->Count() + static_cast<int>(FPending.size());
}

TmtbIndex* TmtbIndexes::Find(std::string_view Name) const {
  for (const auto& I : FItems)
    if (EqualsIgnoreCase(I->Name(), Name)) return I.get();
  return nullptr;
}

TmtbIndex* TmtbIndexes::FindByFields(std::string_view FieldsText) const {
  for (const auto& I : FItems)
    if (!I->BuiltIn() && EqualsIgnoreCase(I->FieldsText(), FieldsText)) return I.get();
  return nullptr;
}

// ---------------------------------------------------------------------------
// TmtbCustomMemTable: configuration

TmtbCustomMemTable::TmtbCustomMemTable(std::string Name)
    : FName(std::move(Name)), FCommon(std::make_unique<TmtbCommon>()),
      FImpl(std::make_unique<TImpl>()) {
  FIndexes.FItems.push_back(std::make_unique<TmtbIndex>("__MT__ROWORDER", "", 0, true));
  FSelected = FIndexes.FItems.front().get();
}

TmtbCustomMemTable::~TmtbCustomMemTable() {
  StopPreparing();
  try {
    if (Active()) Close();
  } catch (...) {
  }
  for (TDataSource* S : std::vector<TDataSource*>(FDataSources))
    S->SetDataSet(nullptr);
}

void TmtbCustomMemTable::DatabaseError(const std::string& Text) const {
  throw EDatabaseError(FName.empty() ? Text : FName + ": " + Text);
}

TField& TmtbCustomMemTable::AddField(std::string ComponentName, std::string FieldName,
                                     TFieldType DataType, int Size, TFieldKind Kind) {
  if (Active()) throw EMemTableError("Table must be closed for this operation.");
  FFields.push_back(std::make_unique<TField>(*this, std::move(ComponentName), std::move(FieldName),
                                             DataType, Size, Kind));
  FPersistentFields = true;
  FFields.back()->FIndex = static_cast<int>(FFields.size()) - 1;
  return *FFields.back();
}

void TmtbCustomMemTable::ClearFields() {
  if (Active()) throw EMemTableError("Table must be closed for this operation.");
  FFields.clear();
  FPersistentFields = false;
}

TField* TmtbCustomMemTable::FindField(std::string_view FieldName) const {
  for (const auto& F : FFields)
    if (EqualsIgnoreCase(F->FieldName(), FieldName)) return F.get();
  return nullptr;
}

TField& TmtbCustomMemTable::FieldByName(std::string_view FieldName) const {
  if (TField* F = FindField(FieldName)) return *F;
  DatabaseError("Field '" + std::string(FieldName) + "' not found");
}

std::string TmtbCustomMemTable::IndexName() const {
  if (!Active()) return FIndexName;
  return FSelected->BuiltIn() ? std::string() : FSelected->Name();
}

void TmtbCustomMemTable::SetIndexName(std::string Value) {
  if (!Active()) {
    FIndexName = std::move(Value);
    if (!FIndexName.empty()) FIndexFieldNames.clear();
    return;
  }
  TmtbIndex* Index = Value.empty() ? &FIndexes.BuiltIn() : FIndexes.Find(Value);
  if (!Index) return; // no such index: nothing changes
  SwitchIndex(Index);
}

std::string TmtbCustomMemTable::IndexFieldNames() const {
  return FIndexFieldNames;
}

void TmtbCustomMemTable::SetIndexFieldNames(std::string Value) {
  if (!Active()) {
    FIndexFieldNames = std::move(Value);
    if (!FIndexFieldNames.empty()) FIndexName.clear();
    return;
  }
  TmtbIndex* Index = Value.empty() ? &FIndexes.BuiltIn() : FIndexes.FindByFields(Value);
  if (!Index) return;
  SwitchIndex(Index);
}

int TmtbCustomMemTable::LocaleID() const {
  return FCommon->LocaleID();
}

void TmtbCustomMemTable::SetLocaleID(int Value) {
  if (Value == FCommon->LocaleID()) return;
  // Stored sort keys belong to one locale: the locale changes only while closed.
  if (Active()) throw EMemTableError("Table must be closed for this operation.");
  FCommon->SetLocaleID(Value);
}

void TmtbCustomMemTable::SetLanguageID(int Value) {
  SetLocaleID((Value & 0xFF) + SubLanguageID() * 1024 + SortID() * 65536);
}
void TmtbCustomMemTable::SetSubLanguageID(int Value) {
  SetLocaleID(LanguageID() + (Value & 0x3F) * 1024 + SortID() * 65536);
}
void TmtbCustomMemTable::SetSortID(int Value) {
  SetLocaleID(LanguageID() + SubLanguageID() * 1024 + (Value & 0xF) * 65536);
}

void TmtbCustomMemTable::SetAttachMaxCount(int Value) {
  if (Value <= 0) throw EMemTableError("Invalid argument.");
  if (Active()) throw EMemTableError("Table must be closed for this operation.");
  FAttachMaxCount = Value;
}

// ---------------------------------------------------------------------------
// Opening and closing

void TmtbCustomMemTable::SetActive(bool Value) {
  if (Value == Active()) return;
  if (Value)
    Open();
  else
    Close();
}

void TmtbCustomMemTable::ParseFieldList(TmtbIndex& Index, const std::string& FieldsText,
                                        unsigned DefOptions) {
  Index.FFieldList.Clear();
  std::vector<std::string> Pieces;
  size_t Start = 0;
  while (true) {
    const size_t Semi = FieldsText.find(';', Start);
    Pieces.push_back(
        Trim(std::string_view(FieldsText)
                 .substr(Start, Semi == std::string::npos ? std::string::npos : Semi - Start)));
    if (Semi == std::string::npos) break;
    Start = Semi + 1;
  }
  if (Pieces.size() > 1 && Pieces.back().empty()) Pieces.pop_back(); // a ";" at the very end
  for (const std::string& Piece : Pieces) {
    std::string Name = Piece;
    unsigned Options = 0;
    const size_t Colon = Piece.rfind(':');
    if (Colon != std::string::npos) {
      bool Letters = true;
      unsigned O = 0;
      for (char C : Piece.substr(Colon + 1)) {
        switch (std::toupper(static_cast<unsigned char>(C))) {
        case 'D':
          O |= mtfoDescending;
          break;
        case 'C':
          O |= mtfoCaseInsensitive;
          break;
        case 'P':
          O |= mtfoPartial;
          break;
        case 'N':
          O |= mtfoIgnoreNull;
          break;
        case 'L':
          O |= mtfoOrdinal;
          break;
        default:
          Letters = false;
          break;
        }
      }
      if (Letters) {
        Name = Trim(Piece.substr(0, Colon));
        Options = O;
      }
    }
    TField* F = FindField(Name);
    if (!F) DatabaseError("Field '" + Name + "' not found");
    if ((F->FieldKind() != fkData && F->FieldKind() != fkCalculated &&
         F->FieldKind() != fkInternalCalc) ||
        !IsIndexableType(F->DataType()))
      throw EDatabaseError("Can't index on field " + F->DisplayName());
    if (DefOptions & ixDescending) Options |= mtfoDescending;
    if (DefOptions & ixCaseInsensitive) Options |= mtfoCaseInsensitive;
    Index.FFieldList.Add(F, Options);
  }
}

void TmtbCustomMemTable::Open() {
  if (Active()) return;
  TImpl& I = *FImpl;
  try {
    // 1. The field definitions: rebuilt from persistent fields when there are any.
    if (FPersistentFields) {
      std::vector<TFieldDef> Defs;
      for (const auto& F : FFields)
        if (F->FieldKind() == fkData || F->FieldKind() == fkInternalCalc)
          Defs.push_back({F->FieldName(), F->DataType(), F->Size(), F->Required()});
      FFieldDefs = std::move(Defs);
    } else {
      if (FFieldDefs.empty()) throw EMemTableError("There must be at least one field");
    }
    if (FFieldDefs.empty()) throw EMemTableError("There must be at least one field");
    if (FFieldDefs.size() > 256) throw EMemTableError("Too many fields: at most 256 per record");
    // 2. Types.
    for (const TFieldDef& D : FFieldDefs)
      if (!IsSupportedType(D.DataType))
        throw EMemTableError("Fielddef " + D.Name + " (" + D.Name + ") Datatype " +
                             std::to_string(static_cast<int>(D.DataType)) + " not supported.");
    if (!FPersistentFields) {
      FFields.clear();
      for (const TFieldDef& D : FFieldDefs) {
        FFields.push_back(std::make_unique<TField>(*this, "", D.Name, D.DataType, D.Size));
        FFields.back()->SetRequired(D.Required);
      }
    }
    for (size_t K = 0; K < FFields.size(); ++K)
      FFields[K]->FIndex = static_cast<int>(K);
    // Only data fields hold values; other kinds keep no storage.
    // 3./5. Indexes, then the record layout with the sort keys they need.
    CreateIndexes();
    I.Layout.assign(FFields.size(), {});
    I.KeySlots.clear();
    uint32_t Offset = 0;
    for (size_t K = 0; K < FFields.size(); ++K) {
      auto& L = I.Layout[K];
      L.Offset = Offset;
      L.OutOfLine = IsOutOfLine(FFields[K]->DataType());
      L.Size = L.OutOfLine ? 8 : InlineSize(FFields[K]->DataType());
      L.Shareable = IsTextType(FFields[K]->DataType());
      L.Shared = &I.Shared;
      Offset += 1 + L.Size;
    }
    for (int X = 1; X < FIndexes.Count(); ++X) {
      const TmtbFieldList& FL = FIndexes.Items(X).FieldList();
      for (int K = 0; K < FL.Count(); ++K) {
        const auto& Item = FL.Items(K);
        if (!IsTextType(Item.Field->DataType()) || (Item.Options & mtfoOrdinal)) continue;
        auto& L = I.Layout[static_cast<size_t>(Item.Field->Index())];
        const bool CI = (Item.Options & mtfoCaseInsensitive) != 0;
        int& Slot = CI ? L.KeySlotCI : L.KeySlot;
        if (Slot < 0) {
          Slot = static_cast<int>(I.KeySlots.size());
          I.KeySlots.push_back({Item.Field->Index(), CI});
        }
      }
    }
    I.Keys.assign(I.KeySlots.size(), {});
    I.KeyTexts.assign(I.KeySlots.size(), {});
    I.KeyValid.assign(I.KeySlots.size(), 0);
    I.ShortKeys.assign(I.KeySlots.size(), {});
    I.Sharing.assign(FFields.size(), {});
    I.DataSize = Offset;
    I.KeyDirOffset = (Offset + 3) & ~3u;
    I.FixedSize = static_cast<uint32_t>(sizeof(TmtbRecord)) + I.KeyDirOffset +
                  8 * static_cast<uint32_t>(I.KeySlots.size());
    // 4. The store, empty, and the cursor before the first record.
    FreeRecords();
    ClearWindow();
    I.CursorPosition = -1;
    FBof = FEof = true;
    I.Edit.assign(FFields.size(), {});
    // 6. The selected index.
    TmtbIndex* Wanted = nullptr;
    if (!FIndexName.empty())
      Wanted = FIndexes.Find(FIndexName);
    else if (!FIndexFieldNames.empty())
      Wanted = FIndexes.FindByFields(FIndexFieldNames);
    FSelected = Wanted ? Wanted : &FIndexes.BuiltIn();
    if (!Wanted) {
      FIndexName.clear();
      FIndexFieldNames.clear();
    } else {
      FIndexName = Wanted->Name();
      FIndexFieldNames = Wanted->FieldsText();
    }
  } catch (...) {
    FIndexes.FItems.resize(1);
    FSelected = &FIndexes.BuiltIn();
    if (!FPersistentFields) FFields.clear();
    throw;
  }
  // 7. Browse state; the views become active.
  SetState(dsBrowse);
  DoAfterScroll();
}

void TmtbCustomMemTable::CreateIndexes() {
  std::vector<std::unique_ptr<TmtbIndex>> Items;
  Items.push_back(std::make_unique<TmtbIndex>("__MT__ROWORDER", "", 0, true));
  for (const TIndexDef& D : FIndexDefs) {
    if (Trim(D.Fields).empty() || D.Name.empty())
      throw EMemTableError("Missing Name or FieldNames in IndexDef!");
    auto Index = std::make_unique<TmtbIndex>(D.Name, D.Fields, D.Options, false);
    ParseFieldList(*Index, D.Fields, D.Options);
    Items.push_back(std::move(Index));
  }
  FSelected = nullptr;
  FIndexes.FItems = std::move(Items);
  FSelected = &FIndexes.BuiltIn();
  // The store is empty when the indexes are made: every index starts not
  // ordered and becomes ordered with its first placement.
}

void TmtbCustomMemTable::Close() {
  if (!Active()) return;
  TImpl& I = *FImpl;
  I.Edit.assign(FFields.size(), {});
  FModified = false;
  ClearWindow();
  I.CursorPosition = -1;
  FBof = FEof = true;
  FreeRecords();
  // The selected index's name is applied again at the next open.
  if (FSelected && !FSelected->BuiltIn()) FIndexName = FSelected->Name();
  FSelected = &FIndexes.BuiltIn();
  FIndexes.FItems.resize(1);
  FIndexes.BuiltIn().FStore->Clear();
  FIndexes.BuiltIn().FOrdered = false;
  I.Collator.reset();
  I.CollatorCI.reset();
  I.KeyValid.assign(I.KeyValid.size(), 0);
  I.ShortKeys.assign(I.ShortKeys.size(), {});
  if (!FPersistentFields) FFields.clear();
  SetState(dsInactive);
}

void TmtbCustomMemTable::FreeRecords() {
  StopPreparing();
  TmtbCommon& C = *FCommon;
  TLock Guard(C.FImpl->Lock);
  for (auto& Index : FIndexes.FItems) {
    Index->FStore->Clear();
    Index->FPending.clear();
    Index->FPending.shrink_to_fit();
    Index->FOrdered = false;
    ResetLabels(*Index);
  }
  for (TmtbRecord*& R : C.FSlots) {
    std::free(R);
    R = nullptr;
  }
  C.FSlots.clear();
  C.FSlots.shrink_to_fit();
  C.FFreeSlots.clear();
  C.FFreeSlots.shrink_to_fit();
  C.FImpl->BySequence.clear();
  C.FImpl->BySequence.shrink_to_fit();
  C.FImpl->RecordBytes = 0;
  for (auto& S : FImpl->Sharing)
    S = {};
  FImpl->Shared.clear();
  FImpl->Shared.shrink_to_fit();
  C.FRecordCount = 0;
  C.FSequence = 0;
  // A new generation, different from the previous one: old bookmarks die.
  uint32_t G;
  do {
    G = static_cast<uint32_t>(C.FImpl->Random() % (uint64_t(MaxGeneration) + 1));
  } while (G == C.FGeneration);
  C.FGeneration = G;
}

void TmtbCustomMemTable::CheckActive() const {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset");
}

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

void TmtbCustomMemTable::SwitchIndex(TmtbIndex* Index) {
  if (Index == FSelected) return;
  CheckBrowseMode();
  WaitForIndexes();
  TImpl& I = *FImpl;
  try {
    SettleWindow();
    const TmtbRecord* Current =
        FActive >= 0 ? I.Window[static_cast<size_t>(FActive)].Record : nullptr;
    if (!Index->BuiltIn() && !Index->Ordered() && Index->Count() != FCommon->FRecordCount)
      BuildIndex(*Index);
    FlushIndex(*Index);
    FSelected = Index;
    FIndexName = Index->BuiltIn() ? std::string() : Index->Name();
    FIndexFieldNames = Index->BuiltIn() ? std::string() : Index->FieldsText();
    const int N = Index->Count();
    if (I.CursorPosition >= N) I.CursorPosition = N - 1;
    if (Current) {
      const int P = PositionOf(Current, *Index);
      if (P >= 0) {
        I.CursorPosition = P;
        FillWindowAround(P, FActive);
        DataEvent(deDataSetChange);
        return;
      }
      First();
    } else {
      Resync(true);
    }
  } catch (...) {
    Close();
    throw;
  }
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

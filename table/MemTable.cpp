// The memory table: its record store and index list, its configuration
// (fields, indexes, locale), and opening and closing.
#include "table/MemTableInternal.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace memtable_internal;

namespace {

constexpr uint32_t MaxGeneration = 0x80000000u;

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

// Makes Index the selected order (SetIndexName, SetIndexFieldNames); the
// current record stays current when that order holds it. A failure closes
// the table.
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
    // Field definitions: rebuilt from the persistent fields when there are any.
    if (FPersistentFields) {
      std::vector<TFieldDef> Defs;
      for (const auto& F : FFields)
        if (F->FieldKind() == fkData || F->FieldKind() == fkInternalCalc)
          Defs.push_back({F->FieldName(), F->DataType(), F->Size(), F->Required()});
      FFieldDefs = std::move(Defs);
    }
    if (FFieldDefs.empty()) throw EMemTableError("There must be at least one field");
    if (FFieldDefs.size() > 256) throw EMemTableError("Too many fields: at most 256 per record");
    // Only types the store can hold; without persistent fields the fields are
    // made from the definitions.
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
    // Indexes first, then the record layout with a sort-key slot for each
    // collation a text index field uses.
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
    // An empty store, and the cursor before the first record.
    FreeRecords();
    ClearWindow();
    I.CursorPosition = -1;
    FBof = FEof = true;
    I.Edit.assign(FFields.size(), {});
    // Select the index named before opening, else the insertion order.
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
  // Browse state; the views become active.
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

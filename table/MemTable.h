#pragma once
// The in-memory table that holds the picture catalogue: a record store, its
// indexes (several sort orders kept at once), one cursor with a window of
// record buffers for the attached views, bookmarks and change notification.
// Used from one thread, except PrepareIndexes, which places the other orders
// on worker threads; the store's lock is re-entrant and taken by every store
// operation.

#include "platform/Exception.h"
#include "table/IndexStore.h"
#include "platform/Stream.h"

#include <cstdint>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------------------
// Errors

// Generic table and field errors. Errors raised for a named table carry the
// table's name, a colon and a blank before the text.
class EDatabaseError : public Exception {
public:
  using Exception::Exception;
};

// The table's own checks.
class EMemTableError : public EDatabaseError {
public:
  using EDatabaseError::EDatabaseError;
};

// ---------------------------------------------------------------------------
// Date and time: days since 1899-12-30 00:00 as a double; the fraction is the
// time of day. Negative values are not used by this program.

using TDateTime = double;

// Builds a date-time value; raises EDatabaseError "Invalid argument to date
// encode" for fields out of range (month 1-12, day within the month, year
// 1-9999, hour 0-23, minute and second 0-59, millisecond 0-999).
TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour = 0, int Minute = 0, int Second = 0,
                         int MilliSecond = 0);
// Splits a date-time value into its calendar fields (rounded to the millisecond).
void DecodeDateTime(TDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Minute,
                    int& Second, int& MilliSecond);

// Formats used by the date-and-time field's DisplayText: strftime patterns for
// the short date and the long time. By default they come from the LC_TIME
// locale of the environment (nl_langinfo D_FMT and T_FMT).
struct TFormatSettings {
  std::string ShortDateFormat;
  std::string LongTimeFormat;
};
const TFormatSettings& FormatSettings();
void SetFormatSettings(TFormatSettings Settings); // for tests and special uses
void ResetFormatSettings();                       // back to the environment's locale
// Short date, a blank and long time; the time is left out at 00:00:00.
std::string DateTimeDisplayText(TDateTime Value);

// ---------------------------------------------------------------------------
// Field types (numbered as the component family numbers them: the number is
// part of the "Datatype %d not supported." text).

enum TFieldType : int {
  ftUnknown = 0,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid
};

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

enum TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc
};

// Notification kinds sent to attached views. deDataSetScroll carries the number
// of records the window moved: positive when it moved towards the end (its
// rows shift up), negative towards the start, 0 when only the active row
// changed inside the window. deFieldChange and deRecordChange may carry a field.
enum TDataEvent {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode
};

// A bookmark: empty, or 8 bytes (record identity, then the store's generation).
using TBookmark = std::string;

class TmtbCustomMemTable;
class TmtbCommon;
class TCollator;
struct TmtbRecord;

// ---------------------------------------------------------------------------
// Definitions

struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;
  bool Required = false;
};

// Index options of a definition.
enum TIndexOption : unsigned {
  ixPrimary = 1,
  ixUnique = 2,
  ixDescending = 4,
  ixCaseInsensitive = 8,
  ixExpression = 16,
  ixNonMaintained = 32
};

struct TIndexDef {
  std::string Name;
  std::string Fields;   // "Name; Location", pieces may end in ":" and option letters
  unsigned Options = 0; // TIndexOption bits
};

// ---------------------------------------------------------------------------
// Fields: each field reads and writes the current record (the active buffer).

class TField {
public:
  TField(TmtbCustomMemTable& DataSet, std::string ComponentName, std::string FieldName,
         TFieldType DataType, int Size, TFieldKind Kind = fkData);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  TmtbCustomMemTable& DataSet() const { return *FDataSet; }
  const std::string& Name() const { return FName; } // component name, e.g. mtbPicturesName
  const std::string& FieldName() const { return FFieldName; } // e.g. Name
  const std::string& DisplayName() const;                     // display label, or the field name
  void SetDisplayLabel(std::string Label) { FDisplayLabel = std::move(Label); }
  TFieldType DataType() const { return FDataType; }
  TFieldKind FieldKind() const { return FFieldKind; }
  int Size() const { return FSize; }
  int Index() const { return FIndex; }       // position among the table's fields
  int FieldNo() const { return FIndex + 1; } // 1-based while the table is open
  int DisplayWidth() const;                  // characters
  void SetDisplayWidth(int Width) { FDisplayWidth = Width; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  bool Required() const { return FRequired; }
  void SetRequired(bool Value) { FRequired = Value; }
  bool IsBlob() const;

  bool IsNull() const;
  std::string AsString() const;
  void SetAsString(std::string_view Value);
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime Value);
  int64_t AsLargeInt() const;
  void SetAsLargeInt(int64_t Value);
  int AsInteger() const { return static_cast<int>(AsLargeInt()); }
  void SetAsInteger(int Value) { SetAsLargeInt(Value); }
  double AsFloat() const;
  void SetAsFloat(double Value);
  bool AsBoolean() const;
  void SetAsBoolean(bool Value);
  void Clear(); // makes the field null (a write: needs insert or edit state)

  // What a grid shows for the current record.
  std::string DisplayText() const;
  // AsString of the record at RecNo (1-based) of the current order, read
  // without moving the cursor or the record window; empty when there is no
  // such record.
  std::string AsStringAt(int RecNo) const;
  // The same for record Index of the table's record window (0-based buffer index).
  std::string DisplayTextOf(int BufferIndex) const;

private:
  friend class TmtbCustomMemTable;
  TmtbCustomMemTable* FDataSet;
  std::string FName, FFieldName, FDisplayLabel;
  TFieldType FDataType;
  TFieldKind FFieldKind;
  int FSize;
  int FIndex = -1;
  int FDisplayWidth = -1; // -1: the type's default
  bool FReadOnly = false;
  bool FRequired = false;
};

// ---------------------------------------------------------------------------
// Indexes

// Option bits of one field in a field list.
enum : unsigned {
  mtfoDescending = 1,
  mtfoCaseInsensitive = 2,
  mtfoPartial = 4,
  mtfoIgnoreNull = 8,
  mtfoOrdinal = 16
};

class TmtbFieldList {
public:
  struct TItem {
    TField* Field = nullptr;
    unsigned Options = 0;
  };
  int Count() const { return static_cast<int>(FItems.size()); }
  const TItem& Items(int I) const { return FItems.at(static_cast<size_t>(I)); }
  void Add(TField* Field, unsigned Options) { FItems.push_back({Field, Options}); }
  void Clear() { FItems.clear(); }

private:
  std::vector<TItem> FItems;
};

class TmtbIndex {
public:
  TmtbIndex(std::string Name, std::string FieldsText, unsigned Options, bool BuiltIn);
  ~TmtbIndex();
  TmtbIndex(const TmtbIndex&) = delete;
  TmtbIndex& operator=(const TmtbIndex&) = delete;

  const std::string& Name() const { return FName; }
  const std::string& FieldsText() const { return FFieldsText; }
  unsigned Options() const { return FOptions; } // TIndexOption bits
  const TmtbFieldList& FieldList() const { return FFieldList; }
  bool Ordered() const {
    WaitReady();
    return FOrdered;
  }
  bool Maintained() const { return FMaintained; }
  bool BuiltIn() const { return FBuiltIn; }
  bool Unique() const { return (FOptions & ixUnique) != 0; }
  int Count() const;         // records in the index, placed or waiting to be placed
  int PendingCount() const { // waiting to be placed
    WaitReady();
    return static_cast<int>(FPending.size());
  }

private:
  friend class TmtbCustomMemTable;
  friend class TmtbIndexes;
  std::string FName, FFieldsText;
  unsigned FOptions;
  bool FBuiltIn;
  bool FOrdered = false;
  bool FMaintained = true;
  TmtbFieldList FFieldList;
  std::unique_ptr<TmtbIndexStore> FStore;
  // Records posted while controls were disabled and not yet placed in FStore
  // (in posting order); placed together before the order is next needed.
  std::vector<TmtbRecord*> FPending;
  // Order labels of the distinct values of the first field, while there are
  // few of them: they make the entries' key prefixes decisive.
  struct TLabels;
  std::unique_ptr<TLabels> FLabels;
  // Valid while a worker thread places this index's waiting records (see
  // PrepareIndexes); readers of the index's state wait for it.
  mutable std::shared_future<void> FReady;
  void WaitReady() const {
    if (FReady.valid()) FReady.wait();
  }
};

class TmtbIndexes {
public:
  int Count() const { return static_cast<int>(FItems.size()); }
  TmtbIndex& Items(int I) const { return *FItems.at(static_cast<size_t>(I)); }
  // Looked up ignoring letter case; nullptr when there is none.
  TmtbIndex* Find(std::string_view Name) const;
  TmtbIndex* FindByFields(std::string_view FieldsText) const;
  TmtbIndex& BuiltIn() const { return *FItems.front(); }

private:
  friend class TmtbCustomMemTable;
  std::vector<std::unique_ptr<TmtbIndex>> FItems;
};

// ---------------------------------------------------------------------------
// Attached views: a data source joins a table to its views (links). A link
// asks for a number of record buffers (a grid: as many as it shows rows) and
// receives the table's notifications.

class TDataLink;

class TDataSource {
public:
  explicit TDataSource(std::string Name = "");
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  const std::string& Name() const { return FName; }
  TmtbCustomMemTable* DataSet() const { return FDataSet; }
  void SetDataSet(TmtbCustomMemTable* DataSet);
  // Switching off makes every link inactive (the links see no data); on again
  // makes them active when the table is open.
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  TDataSetState State() const; // the table's state, dsInactive when off

private:
  friend class TmtbCustomMemTable;
  friend class TDataLink;
  void DataEvent(TDataEvent Event, intptr_t Info);
  void NotifyLinksActive();
  void AddLink(TDataLink* Link);
  void RemoveLink(TDataLink* Link);

  std::string FName;
  TmtbCustomMemTable* FDataSet = nullptr;
  bool FEnabled = true;
  TDataSetState FState = dsInactive;
  std::vector<TDataLink*> FLinks;
};

class TDataLink {
public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return FDataSource; }
  void SetDataSource(TDataSource* Source);
  TmtbCustomMemTable* DataSet() const;
  // Active: attached to an enabled data source whose table is open.
  bool Active() const { return FActive; }

  // Number of record buffers this view wants (at least 1).
  int BufferCount() const { return FBufferCount; }
  void SetBufferCount(int Value);
  // Records of the window this link sees (at most BufferCount), and which of
  // them is the current record (0-based).
  int RecordCount() const;
  int ActiveRecord() const;
  // Display text and bookmark of record K (0-based) of this link's window.
  std::string DisplayText(int K, const TField& Field) const;
  TBookmark RecordBookmark(int K) const;
  bool Editing() const;

protected:
  // Notification hooks for the view.
  virtual void ActiveChanged() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  // Distance: records this link's first row moved (positive towards the end).
  virtual void DataSetScrolled(int Distance) {
    (void)Distance;
    DataSetChanged();
  }
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* Field) { (void)Field; }
  virtual void EditingChanged() {}
  virtual void UpdateData() {}
  virtual void CheckBrowseMode() {}
  virtual void FieldChanged(TField* Field) { (void)Field; }

private:
  friend class TDataSource;
  friend class TmtbCustomMemTable;
  void DataEvent(TDataEvent Event, intptr_t Info);
  void SetActive(bool Value);
  void UpdateRange();
  int FirstRecordInWindow() const { return FFirstRecord; }

  TDataSource* FDataSource = nullptr;
  bool FActive = false;
  bool FEditing = false;
  int FBufferCount = 1;
  int FFirstRecord = 0; // offset of this link's first row within the table's window
};

// ---------------------------------------------------------------------------
// The record store.

class TmtbCommon {
public:
  TmtbCommon();
  ~TmtbCommon();
  TmtbCommon(const TmtbCommon&) = delete;
  TmtbCommon& operator=(const TmtbCommon&) = delete;

  int RecordCount() const { return FRecordCount; }
  int SlotCount() const { return static_cast<int>(FSlots.size()); }
  int FreeSlotCount() const { return static_cast<int>(FFreeSlots.size()); }
  int NextSlot() const { return static_cast<int>(FSlots.size()); }
  int64_t SequenceCounter() const { return FSequence; }
  // Moves the sequence counter (for checks of its upper limit).
  void SetSequenceCounter(int64_t Value) { FSequence = Value; }
  uint32_t Generation() const { return FGeneration; }

  // Locale of the collation: LocaleID = LanguageID + SubLanguageID * 1024 + SortID * 65536.
  int LocaleID() const { return FLocaleID; }
  void SetLocaleID(int Value);

  // Bytes held by the store for its records (records, out-of-line text and
  // sort keys, slot and identity arrays); the indexes report their own.
  size_t MemoryUsed() const;

  // The store's re-entrant lock.
  std::recursive_mutex& Lock();

private:
  friend class TmtbCustomMemTable;
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
  std::vector<TmtbRecord*> FSlots;
  std::vector<int32_t> FFreeSlots;
  int64_t FSequence = 0;
  int FRecordCount = 0;
  uint32_t FGeneration = 0;
  int FLocaleID = 1024;
};

// ---------------------------------------------------------------------------
// The table.

class TmtbCustomMemTable;
using TDataSetNotifyEvent = std::function<void(TmtbCustomMemTable& DataSet)>;

class TmtbCustomMemTable {
public:
  explicit TmtbCustomMemTable(std::string Name = "");
  virtual ~TmtbCustomMemTable();
  TmtbCustomMemTable(const TmtbCustomMemTable&) = delete;
  TmtbCustomMemTable& operator=(const TmtbCustomMemTable&) = delete;

  const std::string& Name() const { return FName; }
  void SetName(std::string Value) { FName = std::move(Value); }

  // Design-time configuration.
  std::vector<TFieldDef>& FieldDefs() { return FFieldDefs; }
  std::vector<TIndexDef>& IndexDefs() { return FIndexDefs; }
  // Adds a persistent field object (the table owns it); when any exist, they
  // decide the record at open.
  TField& AddField(std::string ComponentName, std::string FieldName, TFieldType DataType,
                   int Size = 0, TFieldKind Kind = fkData);
  // Removes every field object (the table must be closed).
  void ClearFields();
  std::string IndexName() const;
  void SetIndexName(std::string Value);
  std::string IndexFieldNames() const;
  void SetIndexFieldNames(std::string Value);
  int LocaleID() const;
  void SetLocaleID(int Value);
  int LanguageID() const { return LocaleID() & 0xFF; }
  int SubLanguageID() const { return (LocaleID() >> 10) & 0x3F; }
  int SortID() const { return (LocaleID() >> 16) & 0xF; }
  void SetLanguageID(int Value);
  void SetSubLanguageID(int Value);
  void SetSortID(int Value);
  int AttachMaxCount() const { return FAttachMaxCount; }
  void SetAttachMaxCount(int Value);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }

  // Events. AfterScroll is raised by every move, also while controls are disabled.
  TDataSetNotifyEvent BeforeScroll;
  TDataSetNotifyEvent AfterScroll;

  // Lifecycle.
  bool Active() const { return FState != dsInactive; }
  void SetActive(bool Value);
  void Open();
  void Close();
  TDataSetState State() const { return FState; }

  // Fields (valid before open when persistent fields exist).
  int FieldCount() const { return static_cast<int>(FFields.size()); }
  TField& Fields(int I) const { return *FFields.at(static_cast<size_t>(I)); }
  TField* FindField(std::string_view FieldName) const;   // ignoring letter case
  TField& FieldByName(std::string_view FieldName) const; // "Field '%s' not found"

  // Editing.
  void Insert();
  void Post();
  void Cancel();
  void Delete();
  void ClearRecords();
  void CheckBrowseMode(); // ends a pending insert: posts if a field was written, drops it otherwise
  bool Modified() const { return FModified; }

  // Cursor.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int MoveBy(int Distance); // answers the number of records actually moved (signed)
  bool Bof() const { return FBof; }
  bool Eof() const { return FEof; }
  int RecNo() const;
  void SetRecNo(int Value);
  int RecordCount() const;
  bool IsEmpty() const;

  // Bookmarks.
  TBookmark Bookmark() const;
  void SetBookmark(const TBookmark& Value) { GotoBookmark(Value); }
  void GotoBookmark(const TBookmark& Value);
  bool BookmarkValid(const TBookmark& Value) const;
  int CompareBookmarks(const TBookmark& A, const TBookmark& B) const;

  // Change notification.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return FDisableCount > 0; }
  // While controls are disabled, records posted are placed in the defined
  // indexes (other than unique ones and those with the partial or ignore-null
  // option) together, when an order is next needed: the cursor, RecNo,
  // bookmarks and orders are the same as when each is placed at its Post.
  // The selected index places its collected records every few thousand.
  // On by default; off places every record at its Post.
  bool DeferIndexing() const { return FDeferIndexing; }
  void SetDeferIndexing(bool Value) { FDeferIndexing = Value; }
  // Places the records every defined index other than the selected one is
  // still waiting for, on worker threads, while the table goes on serving
  // the selected order on this thread: after a bulk load the other orders are
  // ready before they are first selected. Whatever reads or changes those
  // indexes (selecting one, Post, Delete) waits for the workers first;
  // ClearRecords and Close stop them early. The orders are the same as
  // without it. Does nothing while controls are disabled.
  void PrepareIndexes();
  // True while workers started by PrepareIndexes are still placing records.
  bool PreparingIndexes() const;
  // Waits until the workers started by PrepareIndexes have ended.
  void WaitForIndexes() const;

  // Indexes and store.
  TmtbIndexes& Indexes() { return FIndexes; }
  const TmtbIndexes& Indexes() const { return FIndexes; }
  TmtbIndex& SelectedIndex() const { return *FSelected; }
  TmtbCommon& Common() { return *FCommon; }
  const TmtbCommon& Common() const { return *FCommon; }
  // Slot and sequence number of the current record, -1 when there is none.
  int CurrentRecordSlot() const;
  int64_t CurrentRecordSequence() const;
  // Bytes held by the indexes' reference lists.
  size_t IndexMemoryUsed() const;

  // The record window (what views read).
  int WindowSize() const { return FWindowSize; } // buffers asked for by the views (at least 1)
  int WindowCount() const;                       // buffers holding a record (or the new one)
  int WindowActive() const { return FActive; }   // the current record's buffer, -1 when none
  TBookmark WindowBookmark(int BufferIndex) const;

  // A stream over a blob field of the current record; writing needs insert state.
  std::unique_ptr<TStream> CreateBlobStream(TField& Field, bool ForWrite);

  // Raises EDatabaseError "<Name>: <Text>".
  [[noreturn]] void DatabaseError(const std::string& Text) const;

  // Internal state (defined in the implementation).
  struct TBuffer;
  struct TImpl;

private:
  friend class TField;
  friend class TDataSource;
  friend class TDataLink;
  friend class TmtbBlobStream;

  void CheckActive() const;
  void DoAfterScroll();
  void DoBeforeScroll();
  void DataEvent(TDataEvent Event, intptr_t Info = 0);
  void SetState(TDataSetState Value);
  void UpdateWindowSize();
  void Resync(bool KeepRow);
  void FillWindowAround(int Position, int ActiveIndex);
  void ClearWindow();
  void SettleWindow() const;
  bool Deferrable(const TmtbIndex& Index) const;
  void FlushIndex(TmtbIndex& Index);
  void PlaceWaiting(TmtbIndex& Index);
  void PlaceRecords(TmtbIndex& Index, std::vector<TmtbRecord*>& Pending);
  void StopPreparing();
  void SortEntries(const TmtbIndex& Index, std::vector<TmtbIndexEntry>& Entries,
                   bool Labelled) const;
  bool SameFirstValue(const TmtbIndex& Index, const TmtbRecord* A, const TmtbRecord* B) const;
  void ResetEdit();
  void SwitchIndex(TmtbIndex* Index);
  void CreateIndexes();
  void BuildIndex(TmtbIndex& Index);
  void ParseFieldList(TmtbIndex& Index, const std::string& FieldsText, unsigned DefOptions);
  int PositionOf(const TmtbRecord* Record, const TmtbIndex& Index) const;
  TmtbIndexStore::TLocation FindLocation(const TmtbIndex& Index, const TmtbRecord* Record) const;
  const TmtbRecord* RecordAt(int Position) const;
  const TmtbRecord* FindBookmarkRecord(const TBookmark& Value) const;
  void FreeRecords();
  void WriteField(TField& Field, std::string_view Bytes, bool Null);
  TCollator& CollatorFor(bool CaseInsensitive) const;
  std::string_view SortKeyOf(const TmtbRecord* Record, int Slot) const;
  int CompareRecords(const TmtbIndex& Index, const TmtbRecord* A, const TmtbRecord* B) const;
  uint64_t KeyPrefix(const TmtbIndex& Index, const TmtbRecord* Record) const;
  bool TryKeyPrefix(const TmtbIndex& Index, const TmtbRecord* Record, uint64_t& Prefix) const;
  uint64_t FieldPrefix(const TmtbFieldList::TItem& Item, const TmtbRecord* Record) const;
  std::string& LabelKey(const TmtbIndex& Index, const TmtbRecord* Record) const;
  uint32_t EnsureLabel(TmtbIndex& Index, const TmtbRecord* Record); // 0: no label
  uint64_t LabelledPrefix(const TmtbIndex& Index, const TmtbRecord* Record, uint32_t Label) const;
  void ResetLabels(TmtbIndex& Index);
  void DropLabels(TmtbIndex& Index);
  TmtbIndexStore::TLocation FindLocation(const TmtbIndex& Index, const TmtbRecord* Record,
                                         uint64_t Prefix) const;
  TmtbRecord* BuildRecord();
  uint32_t ShareValue(size_t Field);
  void PlaceInBuiltIn(TmtbRecord* Record);

  std::string FName;
  std::vector<TFieldDef> FFieldDefs;
  std::vector<TIndexDef> FIndexDefs;
  std::vector<std::unique_ptr<TField>> FFields;
  bool FPersistentFields = false;
  std::string FIndexName, FIndexFieldNames;
  int FAttachMaxCount = 1;
  bool FReadOnly = false;

  std::unique_ptr<TmtbCommon> FCommon;
  TmtbIndexes FIndexes;
  TmtbIndex* FSelected = nullptr;
  std::unique_ptr<TImpl> FImpl;

  TDataSetState FState = dsInactive;
  bool FBof = true;
  bool FEof = true;
  bool FModified = false;
  int FWindowSize = 1;
  int FActive = -1;
  int FDisableCount = 0;
  bool FDeferIndexing = true;
  TDataSetState FDisableState = dsInactive;
  TDataEvent FPendingEvent = deDataSetChange;
  std::vector<TDataSource*> FDataSources;
};

// Publishes the design-time properties; nothing else.
class TmtbMemTable : public TmtbCustomMemTable {
public:
  using TmtbCustomMemTable::TmtbCustomMemTable;
};

// ---------------------------------------------------------------------------
// The picture catalogue's table: name "mtbPictures"; persistent fields
// mtbPicturesName (Name, text 256), mtbPicturesLocation (Location, text 4096),
// mtbPicturesDate (Date, date and time), mtbPicturesThumb (Thumb, blob) and
// mtbPicturesType (Type, text 7); field definitions Name, Location, Date, Thumb;
// the four indexes "mtbidxNameLocation" ("Name; Location"), "mtbidxLocationName"
// ("Location;Name"), "mtbidxDateLocationName" ("Date;Location;Name") and
// "mtbidxTypeName" ("Type;Name"); IndexName "mtbidxNameLocation"; LocaleID 1024;
// AttachMaxCount 1. The table is left closed.
void ConfigurePictureTable(TmtbCustomMemTable& Table);
std::unique_ptr<TmtbMemTable> CreatePictureTable();

// Sizes of the picture table's text fields, in bytes.
constexpr int PictureNameSize = 256;
constexpr int PictureLocationSize = 4096;
constexpr int PictureTypeSize = 7;

// Every error the table raises, with its exact text and class.

#include "tests/table/TableTestUtil.h"

#include <typeinfo>

using namespace tabletest;

namespace {

template <class E, class F> std::string MessageOf(F&& Action) {
  try {
    Action();
  } catch (const E& Error) {
    return Error.Message();
  } catch (const std::exception& Other) {
    return std::string("wrong exception: ") + typeid(Other).name() + ": " + Other.what();
  }
  return "no exception";
}

TEST(ErrorText, FieldWrites) {
  auto T = OpenPictureTable();
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { T->FieldByName("Name").SetAsString("x"); }),
            "mtbPictures: Dataset is not in edit mode.");
  T->Insert();
  T->FieldByName("Type").SetReadOnly(true);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { T->FieldByName("Type").SetAsString("x"); }),
            "Field Type is read only");
  T->FieldByName("Type").SetReadOnly(false);
  T->SetReadOnly(true);
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { T->FieldByName("Name").SetAsString("x"); }),
            "Field Name is read only");
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { T->FieldByName("Nope"); }),
            "mtbPictures: Field 'Nope' not found");
}

TEST(ErrorText, ClosedTable) {
  auto T = CreatePictureTable();
  for (auto Action :
       std::vector<std::function<void()>>{[&] { T->RecordCount(); }, [&] { T->First(); },
                                          [&] { T->MoveBy(1); }, [&] { T->Insert(); }}) {
    EXPECT_EQ(MessageOf<EDatabaseError>(Action),
              "mtbPictures: Cannot perform this operation on a closed dataset");
  }
}

TEST(ErrorText, OpeningChecks) {
  struct TCase {
    const char* What;
    std::function<void(TmtbMemTable&)> Setup;
    std::string Expected;
    bool MemTableError;
  };
  const std::vector<TCase> Cases = {
      {"no fields", [](TmtbMemTable&) {}, "There must be at least one field", true},
      {"unsupported type",
       [](TmtbMemTable& T) {
         T.FieldDefs() = {{"A", ftString, 5}, {"Cur", ftCursor, 0}};
       },
       "Fielddef Cur (Cur) Datatype 22 not supported.", true},
      {"index without fields",
       [](TmtbMemTable& T) {
         T.FieldDefs() = {{"A", ftString, 5}};
         T.IndexDefs() = {{"ix", "", 0}};
       },
       "Missing Name or FieldNames in IndexDef!", true},
      {"index on missing field",
       [](TmtbMemTable& T) {
         T.FieldDefs() = {{"A", ftString, 5}};
         T.IndexDefs() = {{"ix", "A;B", 0}};
       },
       "t: Field 'B' not found", false},
      {"empty piece inside a field list",
       [](TmtbMemTable& T) {
         T.FieldDefs() = {{"A", ftString, 5}};
         T.IndexDefs() = {{"ix", "A;;A", 0}};
       },
       "t: Field '' not found", false},
      {"index on a blob",
       [](TmtbMemTable& T) {
         T.FieldDefs() = {{"A", ftString, 5}, {"Thumb", ftBlob, 0}};
         T.IndexDefs() = {{"ix", "Thumb", 0}};
       },
       "Can't index on field Thumb", false},
  };
  for (const TCase& C : Cases) {
    TmtbMemTable T("t");
    C.Setup(T);
    if (C.MemTableError)
      EXPECT_EQ(MessageOf<EMemTableError>([&] { T.Open(); }), C.Expected) << C.What;
    else
      EXPECT_EQ(MessageOf<EDatabaseError>([&] { T.Open(); }), C.Expected) << C.What;
    EXPECT_FALSE(T.Active()) << C.What;
  }
}

TEST(ErrorText, AttachMaxCount) {
  auto T = CreatePictureTable();
  EXPECT_EQ(MessageOf<EMemTableError>([&] { T->SetAttachMaxCount(0); }), "Invalid argument.");
  EXPECT_EQ(MessageOf<EMemTableError>([&] { T->SetAttachMaxCount(-3); }), "Invalid argument.");
  T->Open();
  EXPECT_EQ(MessageOf<EMemTableError>([&] { T->SetAttachMaxCount(2); }),
            "Table must be closed for this operation.");
  EXPECT_EQ(T->AttachMaxCount(), 1);
}

TEST(ErrorText, BookmarkCounterOutOfRangeKeepsInsertState) {
  auto T = OpenPictureTable();
  AddPicture(*T, "a.jpg", "/");
  T->Common().SetSequenceCounter(0x7FFFFFCF);
  T->Insert();
  T->FieldByName("Name").SetAsString("b.jpg");
  EXPECT_EQ(MessageOf<EMemTableError>([&] { T->Post(); }),
            "Bookmark counter is out of range. Please close and reopen table.");
  EXPECT_EQ(T->State(), dsInsert);
  EXPECT_EQ(T->FieldByName("Name").AsString(), "b.jpg") << "the buffer stays intact";
  T->Cancel();
  EXPECT_EQ(T->RecordCount(), 1) << "the record entered no index";
  T->ClearRecords();
  AddPicture(*T, "c.jpg", "/"); // emptying resets the counter
  EXPECT_EQ(T->RecordCount(), 1);
}

TEST(ErrorText, DuplicateInUniqueIndex) {
  TmtbMemTable T("t");
  T.FieldDefs() = {{"A", ftString, 5}};
  T.IndexDefs() = {{"ix", "A", ixUnique}};
  T.Open();
  for (const char* V : {"x", "y"}) {
    T.Insert();
    T.FieldByName("A").SetAsString(V);
    T.Post();
  }
  T.Insert();
  T.FieldByName("A").SetAsString("x");
  EXPECT_EQ(MessageOf<EMemTableError>([&] { T.Post(); }),
            "Duplicate index value. Operation aborted.");
  EXPECT_EQ(T.State(), dsInsert);
  T.Cancel();
  EXPECT_EQ(T.RecordCount(), 2);
}

TEST(ErrorText, InvalidLocale) {
  auto T = CreatePictureTable();
  T->SetLocaleID(0x7FFF);
  T->Open();
  T->Insert();
  T->FieldByName("Name").SetAsString("a.jpg");
  EXPECT_EQ(MessageOf<EMemTableError>([&] { T->Post(); }), "Invalid locale. 32767");
  EXPECT_EQ(MessageOf<EMemTableError>([&] { T->SetLocaleID(1024); }),
            "Table must be closed for this operation.");
}

TEST(ErrorText, RecordNotFound) {
  auto T = OpenPictureTable();
  AddPicture(*T, "a.jpg", "/");
  const TBookmark B = T->Bookmark();
  T->ClearRecords();
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { T->GotoBookmark(B); }),
            "mtbPictures: Record not found");
}

TEST(ErrorText, DeleteOnEmptyTable) {
  auto T = OpenPictureTable();
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { T->Delete(); }),
            "mtbPictures: Cannot perform this operation on an empty dataset");
}

} // namespace

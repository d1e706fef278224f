// The record store and fields: configuration, values, null handling,
// emptying, slots and sequence numbers, date-time values and their text.

#include "tests/table/TableTestUtil.h"

#include <algorithm>
#include <cmath>

using namespace tabletest;

namespace {

TEST(PictureTable, Configuration) {
  auto T = CreatePictureTable();
  EXPECT_EQ(T->Name(), "mtbPictures");
  EXPECT_EQ(T->IndexName(), "mtbidxNameLocation");
  EXPECT_EQ(T->LocaleID(), 1024);
  EXPECT_EQ(T->LanguageID(), 0);
  EXPECT_EQ(T->SubLanguageID(), 1);
  EXPECT_EQ(T->SortID(), 0);
  EXPECT_EQ(T->AttachMaxCount(), 1);
  T->Open();
  struct TRow {
    const char* Component;
    const char* Field;
    TFieldType Type;
    int Size, Width;
  };
  const TRow Rows[] = {{"mtbPicturesName", "Name", ftString, 256, 20},
                       {"mtbPicturesLocation", "Location", ftString, 4096, 30},
                       {"mtbPicturesDate", "Date", ftDateTime, 0, 18},
                       {"mtbPicturesThumb", "Thumb", ftBlob, 0, 10},
                       {"mtbPicturesType", "Type", ftString, 7, 7}};
  ASSERT_EQ(T->FieldCount(), 5);
  for (int K = 0; K < 5; ++K) {
    const TField& F = T->Fields(K);
    EXPECT_EQ(F.Name(), Rows[K].Component);
    EXPECT_EQ(F.FieldName(), Rows[K].Field);
    EXPECT_EQ(F.DataType(), Rows[K].Type);
    EXPECT_EQ(F.Size(), Rows[K].Size);
    EXPECT_EQ(F.DisplayWidth(), Rows[K].Width) << Rows[K].Field;
  }
  ASSERT_EQ(T->FieldDefs().size(), 5u) << "Type joins the definitions at open";
  EXPECT_EQ(T->FieldDefs()[4].Name, "Type");
  const auto& I = T->Indexes();
  ASSERT_EQ(I.Count(), 5);
  EXPECT_EQ(I.Items(0).Name(), "__MT__ROWORDER");
  EXPECT_TRUE(I.Items(0).BuiltIn());
  const char* Names[] = {"mtbidxNameLocation", "mtbidxLocationName", "mtbidxDateLocationName",
                         "mtbidxTypeName"};
  const std::vector<std::vector<std::string>> Fields = {
      {"Name", "Location"}, {"Location", "Name"}, {"Date", "Location", "Name"}, {"Type", "Name"}};
  for (int K = 0; K < 4; ++K) {
    const TmtbIndex& X = I.Items(K + 1);
    EXPECT_EQ(X.Name(), Names[K]);
    EXPECT_TRUE(X.Maintained());
    ASSERT_EQ(X.FieldList().Count(), static_cast<int>(Fields[static_cast<size_t>(K)].size()));
    for (int F = 0; F < X.FieldList().Count(); ++F) {
      EXPECT_EQ(X.FieldList().Items(F).Field->FieldName(),
                Fields[static_cast<size_t>(K)][static_cast<size_t>(F)]);
      EXPECT_EQ(X.FieldList().Items(F).Options, 0u);
    }
  }
  EXPECT_EQ(&T->SelectedIndex(), &I.Items(1));
}

TEST(RecordStore, TextValuesAndNulls) {
  auto T = OpenPictureTable();
  T->Insert();
  EXPECT_TRUE(T->FieldByName("Name").IsNull());
  T->FieldByName("Name").SetAsString(std::string(300, 'n'));
  T->FieldByName("Location").SetAsString("");
  T->Post();
  EXPECT_EQ(T->FieldByName("Name").AsString(), std::string(256, 'n'));
  EXPECT_FALSE(T->FieldByName("Location").IsNull()) << "the empty text is a value";
  EXPECT_TRUE(T->FieldByName("Date").IsNull());
  EXPECT_EQ(T->FieldByName("Date").AsDateTime(), 0.0);
  EXPECT_TRUE(T->FieldByName("Thumb").IsNull());
  EXPECT_TRUE(T->FieldByName("Type").IsNull());
  EXPECT_EQ(T->FieldByName("Type").AsString(), "");
}

TEST(RecordStore, LongTextIsCutAtCharacterBoundary) {
  auto T = OpenPictureTable();
  // 255 ASCII bytes and a two-byte character: the character would straddle the limit.
  const std::string Name = std::string(255, 'a') + "\xc3\xa9" + "b";
  T->Insert();
  T->FieldByName("Name").SetAsString(Name);
  T->FieldByName("Type").SetAsString("jpegjpegjpeg");
  const std::string Path = "/" + std::string(4000, 'p') + "/";
  T->FieldByName("Location").SetAsString(Path);
  T->Post();
  EXPECT_EQ(T->FieldByName("Name").AsString(), std::string(255, 'a'));
  EXPECT_EQ(T->FieldByName("Type").AsString(), "jpegjpe");
  EXPECT_EQ(T->FieldByName("Location").AsString(), Path) << "whole paths fit";
}

TEST(RecordStore, EmptyingResetsSlotsSequenceAndCounts) {
  auto T = OpenPictureTable();
  for (int K = 0; K < 3; ++K)
    AddPicture(*T, "f" + std::to_string(K) + ".jpg", "/d/");
  const uint32_t Generation = T->Common().Generation();
  EXPECT_EQ(T->RecordCount(), 3);
  EXPECT_EQ(T->Common().SequenceCounter(), 3);
  T->ClearRecords();
  EXPECT_EQ(T->RecordCount(), 0);
  EXPECT_TRUE(T->IsEmpty());
  EXPECT_TRUE(T->FieldByName("Name").IsNull());
  EXPECT_NE(T->Common().Generation(), Generation);
  EXPECT_LE(T->Common().Generation(), 0x80000000u);
  AddPicture(*T, "new.jpg", "/d/");
  EXPECT_EQ(T->CurrentRecordSlot(), 0);
  EXPECT_EQ(T->CurrentRecordSequence(), 0);
}

TEST(RecordStore, FreedSlotsAreReused) {
  auto T = OpenPictureTable();
  for (int K = 0; K < 4; ++K)
    AddPicture(*T, "f" + std::to_string(K) + ".jpg", "/d/");
  T->SetRecNo(2);
  const int Slot = T->CurrentRecordSlot();
  T->Delete();
  EXPECT_EQ(T->Common().FreeSlotCount(), 1);
  AddPicture(*T, "g.jpg", "/d/");
  T->Last();
  EXPECT_EQ(T->CurrentRecordSlot(), Slot);
  EXPECT_EQ(T->CurrentRecordSequence(), 4) << "a fresh sequence number";
  EXPECT_EQ(T->Common().SlotCount(), 4);
}

TEST(RecordStore, BlobStreamRoundTrip) {
  auto T = OpenPictureTable();
  T->Insert();
  {
    auto S = T->CreateBlobStream(T->FieldByName("Thumb"), true);
    const char Bytes[] = {'\0', '\x01', '\xff', 'x'};
    S->WriteBuffer(Bytes, 4);
  }
  T->Post();
  auto S = T->CreateBlobStream(T->FieldByName("Thumb"), false);
  EXPECT_EQ(S->Size(), 4);
  char Back[4];
  S->ReadBuffer(Back, 4);
  EXPECT_EQ(std::string(Back, 4), std::string("\0\x01\xffx", 4));
}

TEST(DateTime, EncodeDecodeRoundTrip) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDateTime(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 12), 36526.5);
  struct TCase {
    int Y, Mo, D, H, Mi, S;
  };
  for (TCase C : {TCase{1980, 1, 1, 0, 0, 0}, TCase{2024, 2, 29, 23, 59, 58},
                  TCase{2107, 12, 31, 13, 5, 7}, TCase{1850, 6, 15, 6, 30, 0}}) {
    int Y, Mo, D, H, Mi, S, Ms;
    DecodeDateTime(EncodeDateTime(C.Y, C.Mo, C.D, C.H, C.Mi, C.S), Y, Mo, D, H, Mi, S, Ms);
    EXPECT_EQ(std::vector<int>({Y, Mo, D, H, Mi, S, Ms}),
              std::vector<int>({C.Y, C.Mo, C.D, C.H, C.Mi, C.S, 0}));
  }
  for (auto Bad :
       {std::vector<int>{2023, 2, 29, 0, 0, 0}, {2020, 13, 1, 0, 0, 0}, {2020, 1, 1, 24, 0, 0}}) {
    EXPECT_THROW(EncodeDateTime(Bad[0], Bad[1], Bad[2], Bad[3], Bad[4], Bad[5]), EDatabaseError);
  }
}

TEST(DateTime, DisplayTextLeavesOutMidnight) {
  SetFormatSettings({"%Y-%m-%d", "%H:%M:%S"});
  auto T = OpenPictureTable();
  AddPicture(*T, "a.jpg", "/", EncodeDateTime(2021, 3, 4, 5, 6, 7));
  EXPECT_EQ(T->FieldByName("Date").DisplayText(), "2021-03-04 05:06:07");
  AddPicture(*T, "0.jpg", "/", EncodeDateTime(2021, 3, 4));
  EXPECT_EQ(T->FieldByName("Date").DisplayText(), "2021-03-04");
  EXPECT_EQ(DateTimeDisplayText(EncodeDateTime(2021, 3, 4, 0, 0, 1)), "2021-03-04 00:00:01");
  ResetFormatSettings();
  // The environment's formats are those of the C library's LC_TIME locale.
  EXPECT_FALSE(FormatSettings().ShortDateFormat.empty());
  EXPECT_FALSE(FormatSettings().LongTimeFormat.empty());
}

TEST(DateTime, NonFiniteValuesAreRefused) {
  auto T = OpenPictureTable();
  T->Insert();
  EXPECT_THROW(T->FieldByName("Date").SetAsDateTime(std::nan("")), EDatabaseError);
  EXPECT_TRUE(T->FieldByName("Date").IsNull());
}

} // namespace

namespace {

// Texts met again (a folder's pictures, types) are kept once; texts mostly
// new (file names) stop being kept that way. Either way every record reads
// back its own values, also after deletes and after the table is emptied
// and filled again, and the orders by such fields hold.
TEST(SharedText, EveryRecordReadsBackItsOwnValues) {
  auto T = OpenPictureTable();
  T->SetIndexName("");
  struct TRow {
    std::string Name, Location, Type;
  };
  for (int Round = 0; Round < 2; ++Round) {
    std::vector<TRow> Rows;
    T->DisableControls();
    T->ClearRecords();
    for (int K = 0; K < 9000; ++K) {
      // Folders in runs, then coming back; names all different; an empty
      // text and a long folder path among them.
      TRow R{"n" + std::to_string(K * 7 + Round) + ".jpg",
             K % 500 == 0 ? std::string(3000, 'x') + "/"
                          : "/f/" + std::to_string((K / 40) % 60 + Round) + "/",
             K % 3 == 0   ? "JPG"
             : K % 3 == 1 ? "png"
                          : ""};
      AddPicture(*T, R.Name, R.Location, 40000.0, R.Type);
      Rows.push_back(R);
    }
    T->EnableControls();
    T->SetRecNo(100);
    const std::string Deleted = T->FieldByName("Name").AsString();
    T->Delete();
    std::erase_if(Rows, [&](const TRow& R) { return R.Name == Deleted; });
    std::vector<TRow> Read;
    T->DisableControls();
    for (T->First(); !T->Eof(); T->Next())
      Read.push_back({T->FieldByName("Name").AsString(), T->FieldByName("Location").AsString(),
                      T->FieldByName("Type").AsString()});
    T->EnableControls();
    // Names are all different: compare the records by name.
    const auto ByName = [](const TRow& A, const TRow& B) { return A.Name < B.Name; };
    std::sort(Rows.begin(), Rows.end(), ByName);
    std::sort(Read.begin(), Read.end(), ByName);
    ASSERT_EQ(Read.size(), Rows.size());
    for (size_t K = 0; K < Rows.size(); ++K) {
      ASSERT_EQ(Read[K].Name, Rows[K].Name) << K;
      ASSERT_EQ(Read[K].Location, Rows[K].Location) << K;
      ASSERT_EQ(Read[K].Type, Rows[K].Type) << K;
    }
    T->SetIndexName("mtbidxLocationName");
    const std::vector<std::string> Locations = Column(*T, "Location");
    // Folders of digits and slashes: the collation's order is the bytes'.
    EXPECT_TRUE(std::is_sorted(Locations.begin(), Locations.end()));
    EXPECT_EQ(Locations.back(), std::string(3000, 'x') + "/");
    T->SetIndexName("");
  }
}

} // namespace

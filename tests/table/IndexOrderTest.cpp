// Sort orders of the picture table's indexes: name order, placement among
// equal keys, switching the selected index.

#include "platform/Collation.h"
#include "tests/table/TableTestUtil.h"

#include <algorithm>
#include <cstdio>
#include <random>

using namespace tabletest;

namespace {

TEST(IndexOrder, NameOrderUnderEnglishLocale) {
  auto T = OpenPictureTable();
  for (const char* N : {"b.jpg", "A.jpg", "a.jpg", "B.jpg", "img2.jpg", "img10.jpg"})
    AddPicture(*T, N, "/p/");
  EXPECT_EQ(Column(*T, "Name"), (std::vector<std::string>{"a.jpg", "A.jpg", "b.jpg", "B.jpg",
                                                          "img10.jpg", "img2.jpg"}));
}

TEST(IndexOrder, InvalidUtf8NamesAreKeptApartAndReadBack) {
  auto T = OpenPictureTable();
  // Each of these is ill-formed UTF-8; the collation sees U+FFFD in all of them.
  const std::vector<std::string> Names = {"x\xff.jpg", "x\xfe.jpg", "x\xc3.jpg",
                                          "x\xed\xa0\x80.jpg", "x\x80.jpg"};
  for (const auto& N : Names)
    AddPicture(*T, N, "/p/");
  std::vector<std::string> Got = Column(*T, "Name");
  ASSERT_EQ(Got.size(), Names.size());
  std::vector<std::string> Sorted = Got;
  std::sort(Sorted.begin(), Sorted.end());
  std::vector<std::string> Expected = Names;
  std::sort(Expected.begin(), Expected.end());
  EXPECT_EQ(Sorted, Expected) << "every name read back byte for byte";
  // The order does not depend on posting order.
  auto T2 = OpenPictureTable();
  for (auto It = Names.rbegin(); It != Names.rend(); ++It)
    AddPicture(*T2, *It, "/p/");
  EXPECT_EQ(Column(*T2, "Name"), Got);
}

TEST(IndexOrder, SameNameDifferentFoldersAndSameDate) {
  auto T = OpenPictureTable();
  AddPicture(*T, "x.jpg", "/b/", 100.5);
  AddPicture(*T, "x.jpg", "/a/", 100.5);
  AddPicture(*T, "y.jpg", "/a/", 100.5);
  AddPicture(*T, "w.jpg", "/b/", 100.5);
  // Name order: by name, then folder.
  EXPECT_EQ(Column(*T, "Location"), (std::vector<std::string>{"/b/", "/a/", "/b/", "/a/"}));
  // Type order: same extension and name: the one posted later first.
  T->SetIndexName("mtbidxTypeName");
  T->First();
  T->Next();
  EXPECT_EQ(T->FieldByName("Name").AsString(), "x.jpg");
  EXPECT_EQ(T->FieldByName("Location").AsString(), "/a/");
  T->Next();
  EXPECT_EQ(T->FieldByName("Location").AsString(), "/b/");
  // Date order with equal dates: folder, then name.
  T->SetIndexName("mtbidxDateLocationName");
  EXPECT_EQ(Column(*T, "Name"), (std::vector<std::string>{"x.jpg", "y.jpg", "w.jpg", "x.jpg"}));
}

TEST(IndexOrder, DateOrderOldestFirstNullsFirst) {
  auto T = OpenPictureTable();
  AddPicture(*T, "new.jpg", "/a/", EncodeDateTime(2020, 5, 1, 12, 0, 0));
  AddPicture(*T, "old.jpg", "/a/", EncodeDateTime(1999, 5, 1));
  T->Insert();
  T->FieldByName("Name").SetAsString("nodate.jpg");
  T->Post();
  T->SetIndexName("mtbidxDateLocationName");
  EXPECT_EQ(Column(*T, "Name"), (std::vector<std::string>{"nodate.jpg", "old.jpg", "new.jpg"}));
}

// Posting equal keys one by one: each new record must land before all the
// earlier ones with the same key, also once the index holds more than 20.
TEST(IndexOrder, NewRecordGoesBeforeEqualKeysOnBothSidesOfTwenty) {
  auto T = OpenPictureTable();
  T->SetIndexName("mtbidxTypeName");
  AddPicture(*T, "a.jpg", "/z/", 1, "aaa"); // sorts before the equal keys
  AddPicture(*T, "z.jpg", "/z/", 1, "zzz"); // and after them
  for (int K = 0; K < 30; ++K) {
    AddPicture(*T, "same.jpg", "/f" + std::to_string(K) + "/", 1, "jpg");
    std::vector<std::string> Locations = Column(*T, "Location");
    ASSERT_EQ(Locations.size(), static_cast<size_t>(K + 3));
    for (int P = 0; P <= K; ++P)
      ASSERT_EQ(Locations[static_cast<size_t>(P + 1)], "/f" + std::to_string(K - P) + "/")
          << "after " << K + 3 << " records, place " << P + 1;
    ASSERT_EQ(Locations.front(), "/z/");
    ASSERT_EQ(Locations.back(), "/z/");
  }
}

// A large random table: every index's order equals a stable sort of the
// posting sequence, newest first among equal keys, by the same collation.
TEST(IndexOrder, RandomRecordsMatchReferenceOrder) {
  auto T = OpenPictureTable();
  TCollator C(1024);
  std::mt19937 Rng(1234);
  const std::vector<std::string> Stems = {"IMG_",  "img_",  "dsc", "DSC", "holiday photo (",
                                          "co-op", "Ärger", "b"};
  const std::vector<std::string> Folders = {"/home/u/Pictures/", "/home/u/Pictures/2019/",
                                            "/home/u/Pictures/2019 summer/", "/mnt/Photos/",
                                            "/mnt/photos/"};
  const std::vector<std::string> Types = {"jpg", "JPG", "png", "tif"};
  struct TRec {
    std::string Name, Location, Type;
    double Date;
  };
  std::vector<TRec> Posted;
  for (int K = 0; K < 600; ++K) {
    TRec R{Stems[Rng() % Stems.size()] + std::to_string(Rng() % 40),
           Folders[Rng() % Folders.size()], Types[Rng() % Types.size()],
           static_cast<double>(40000 + Rng() % 30)};
    R.Name += "." + R.Type;
    AddPicture(*T, R.Name, R.Location, R.Date, R.Type);
    Posted.push_back(R);
  }
  auto Text = [&](const std::string& A, const std::string& B) { return C.Compare(A, B); };
  struct TOrder {
    const char* Index;
    std::function<int(const TRec&, const TRec&)> Cmp;
  };
  const std::vector<TOrder> Orders = {
      {"mtbidxNameLocation",
       [&](auto& A, auto& B) {
         int c = Text(A.Name, B.Name);
         return c ? c : Text(A.Location, B.Location);
       }},
      {"mtbidxLocationName",
       [&](auto& A, auto& B) {
         int c = Text(A.Location, B.Location);
         return c ? c : Text(A.Name, B.Name);
       }},
      {"mtbidxDateLocationName",
       [&](auto& A, auto& B) {
         if (A.Date != B.Date) return A.Date < B.Date ? -1 : 1;
         int c = Text(A.Location, B.Location);
         return c ? c : Text(A.Name, B.Name);
       }},
      {"mtbidxTypeName",
       [&](auto& A, auto& B) {
         int c = Text(A.Type, B.Type);
         return c ? c : Text(A.Name, B.Name);
       }},
  };
  for (const TOrder& O : Orders) {
    std::vector<TRec> Ref(Posted.rbegin(), Posted.rend()); // newest first among equals
    std::stable_sort(Ref.begin(), Ref.end(),
                     [&](const TRec& A, const TRec& B) { return O.Cmp(A, B) < 0; });
    T->SetIndexName(O.Index);
    std::vector<std::string> Expected;
    for (const TRec& R : Ref)
      Expected.push_back(R.Name + "|" + R.Location);
    std::vector<std::string> Got;
    T->First();
    while (!T->Eof()) {
      Got.push_back(T->FieldByName("Name").AsString() + "|" +
                    T->FieldByName("Location").AsString());
      T->Next();
    }
    EXPECT_EQ(Got, Expected) << O.Index;
  }
}

// Sorted runs of new values (a folder listed in name order), thousands of
// distinct first-field values and a few repeated ones: the orders stay exact
// while the table reorganises its key summaries.
TEST(IndexOrder, SortedRunsAndManyDistinctValues) {
  auto T = OpenPictureTable();
  std::vector<std::pair<std::string, std::string>> Posted; // name, location
  auto Post = [&](const std::string& Name, const std::string& Location) {
    AddPicture(*T, Name, Location, 1, "jpg");
    Posted.emplace_back(Name, Location);
  };
  T->DisableControls();
  for (int K = 0; K < 9000; ++K) {
    char Buf[32];
    std::snprintf(Buf, sizeof Buf, "n%05d.jpg", K);
    Post(Buf, K % 3 == 0 ? "/b/" : "/a/");
  }
  for (int K = 0; K < 300; ++K) { // descending run of folders
    char Buf[32];
    std::snprintf(Buf, sizeof Buf, "/f%04d/", 300 - K);
    Post("same.jpg", Buf);
  }
  T->EnableControls();
  TCollator C(1024);
  for (const char* Index : {"mtbidxNameLocation", "mtbidxLocationName"}) {
    const bool ByName = std::string(Index) == "mtbidxNameLocation";
    std::vector<std::pair<std::string, std::string>> Ref(Posted.rbegin(), Posted.rend());
    std::stable_sort(Ref.begin(), Ref.end(), [&](const auto& A, const auto& B) {
      const int First = ByName ? C.Compare(A.first, B.first) : C.Compare(A.second, B.second);
      if (First != 0) return First < 0;
      return (ByName ? C.Compare(A.second, B.second) : C.Compare(A.first, B.first)) < 0;
    });
    T->SetIndexName(Index);
    std::vector<std::string> Got = Column(*T, "Location");
    ASSERT_EQ(Got.size(), Ref.size());
    for (size_t K = 0; K < Ref.size(); ++K)
      ASSERT_EQ(Got[K], Ref[K].second) << Index << " at " << K;
    const std::vector<std::string> Names = Column(*T, "Name");
    for (size_t K = 0; K < Ref.size(); ++K)
      ASSERT_EQ(Names[K], Ref[K].first) << Index << " at " << K;
  }
}

TEST(IndexOrder, SwitchingKeepsCurrentRecordAndRow) {
  auto T = OpenPictureTable();
  TDataSource Source;
  Source.SetDataSet(T.get());
  TRecordingLink Link;
  Link.SetBufferCount(5);
  Link.SetDataSource(&Source);
  for (int K = 0; K < 20; ++K)
    AddPicture(*T, "n" + std::to_string(10 + K) + ".jpg",
               "/f" + std::to_string(10 + (K * 7) % 20) + "/");
  T->First();
  T->MoveBy(8); // row 4 of the 5-row window
  ASSERT_EQ(Link.ActiveRecord(), 4);
  const std::string Name = T->FieldByName("Name").AsString();
  int Scrolls = 0;
  T->AfterScroll = [&](TmtbCustomMemTable&) { ++Scrolls; };
  T->SetIndexName("mtbidxLocationName");
  EXPECT_EQ(T->FieldByName("Name").AsString(), Name);
  EXPECT_EQ(Link.ActiveRecord(), 4) << "same row of the visible window";
  EXPECT_EQ(Scrolls, 0) << "no picture reload";
  EXPECT_EQ(T->IndexName(), "mtbidxLocationName");
  // Unknown or already selected names change nothing.
  Link.Events.clear();
  T->SetIndexName("noSuchIndex");
  T->SetIndexName("MTBIDXLOCATIONNAME");
  EXPECT_TRUE(Link.Events.empty());
  EXPECT_EQ(T->IndexName(), "mtbidxLocationName");
  T->SetIndexName("");
  EXPECT_EQ(T->IndexName(), "") << "the built-in order reads as empty";
}

TEST(IndexOrder, BuiltInOrderInsertsBeforeCurrentWhenSelected) {
  auto T = CreatePictureTable();
  T->SetIndexName("");
  T->Open();
  AddPicture(*T, "1.jpg", "/");
  AddPicture(*T, "2.jpg", "/");
  AddPicture(*T, "3.jpg", "/");
  // After the posts the cursor sits on position 1; the next one goes before it.
  T->Last();
  AddPicture(*T, "4.jpg", "/");
  EXPECT_EQ(Column(*T, "Name"), (std::vector<std::string>{"3.jpg", "2.jpg", "4.jpg", "1.jpg"}));
}

TEST(IndexOrder, FieldListOptions) {
  // Descending and case-insensitive definitions, and per-field option letters.
  TmtbMemTable T("t");
  T.FieldDefs() = {{"S", ftString, 20}, {"N", ftInteger, 0}};
  T.IndexDefs() = {{"byS", "S:D", 0},
                   {"byNdesc", " N ; ", ixDescending},
                   {"ci", "S", ixCaseInsensitive},
                   {"ord", "S:L", 0}};
  T.Open();
  for (auto [S, N] :
       std::vector<std::pair<const char*, int>>{{"b", 2}, {"A", 3}, {"a", 1}, {"B", 4}}) {
    T.Insert();
    T.FieldByName("S").SetAsString(S);
    T.FieldByName("N").SetAsInteger(N);
    T.Post();
  }
  T.SetIndexName("byS");
  EXPECT_EQ(Column(T, "S"), (std::vector<std::string>{"B", "b", "A", "a"}));
  T.SetIndexName("byNdesc");
  EXPECT_EQ(Column(T, "N"), (std::vector<std::string>{"4", "3", "2", "1"}));
  T.SetIndexName("ci"); // equal ignoring case: newest first
  EXPECT_EQ(Column(T, "S"), (std::vector<std::string>{"a", "A", "B", "b"}));
  T.SetIndexName("ord"); // character codes
  EXPECT_EQ(Column(T, "S"), (std::vector<std::string>{"A", "B", "a", "b"}));
}

} // namespace

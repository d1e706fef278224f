// Cursor moves, end flags, record numbers, bookmarks and the after-scroll event.

#include "tests/table/TableTestUtil.h"

using namespace tabletest;

namespace {

class CursorTest : public ::testing::Test {
protected:
  void SetUp() override {
    T = OpenPictureTable();
    T->AfterScroll = [this](TmtbCustomMemTable& Sender) {
      ++Scrolls;
      LastSender = &Sender;
      SawDisabled = Sender.ControlsDisabled();
    };
  }
  void Fill(int Count) {
    T->DisableControls();
    for (int K = 0; K < Count; ++K)
      AddPicture(*T, "p" + std::to_string(100 + K) + ".jpg", "/pics/");
    T->EnableControls();
    T->First();
    Scrolls = 0;
  }
  std::string Current() { return T->FieldByName("Name").AsString(); }

  std::unique_ptr<TmtbMemTable> T;
  int Scrolls = 0;
  TmtbCustomMemTable* LastSender = nullptr;
  bool SawDisabled = false;
};

TEST_F(CursorTest, EmptyTableFlagsAndMoves) {
  T->First();
  EXPECT_EQ(Scrolls, 1);
  EXPECT_EQ(LastSender, T.get());
  EXPECT_TRUE(T->Bof());
  EXPECT_TRUE(T->Eof());
  EXPECT_TRUE(T->IsEmpty());
  EXPECT_EQ(T->RecNo(), -1);
  EXPECT_EQ(T->Bookmark(), "");
  EXPECT_EQ(T->RecordCount(), 0);
  T->Next();
  T->Prior();
  EXPECT_EQ(Scrolls, 1) << "moves on an empty table raise no after-scroll";
  T->Last();
  EXPECT_EQ(Scrolls, 2);
  EXPECT_TRUE(T->Bof() && T->Eof());
  for (int F = 0; F < T->FieldCount(); ++F)
    EXPECT_TRUE(T->Fields(F).IsNull());
}

TEST_F(CursorTest, OneRecord) {
  Fill(1);
  T->First();
  EXPECT_TRUE(T->Bof());
  EXPECT_FALSE(T->Eof());
  EXPECT_EQ(T->RecNo(), 1);
  T->Next();
  EXPECT_TRUE(T->Eof());
  EXPECT_EQ(Scrolls, 2) << "Next on the last record still raises after-scroll";
  EXPECT_EQ(T->RecNo(), 1);
  EXPECT_EQ(Current(), "p100.jpg");
  T->Next();
  EXPECT_EQ(Scrolls, 2) << "a second Next does nothing";
}

TEST_F(CursorTest, PriorAfterFirstAndBofOnlyAfterFailedStep) {
  Fill(3);
  T->First();
  Scrolls = 0;
  T->Prior();
  EXPECT_EQ(Scrolls, 0);
  T->Next();
  EXPECT_FALSE(T->Bof());
  T->Prior();
  EXPECT_EQ(T->RecNo(), 1);
  EXPECT_FALSE(T->Bof()) << "a record reached backwards leaves Bof false";
  EXPECT_EQ(Scrolls, 2);
  T->Prior();
  EXPECT_EQ(Scrolls, 3);
  EXPECT_TRUE(T->Bof());
  EXPECT_EQ(Current(), "p100.jpg");
}

TEST_F(CursorTest, WalkAcrossWindowEdgesAndRecNo) {
  Fill(50);
  // A small window makes the moves cross its edges often.
  TDataSource Source;
  Source.SetDataSet(T.get());
  TRecordingLink Link;
  Link.SetBufferCount(7);
  Link.SetDataSource(&Source);
  T->First();
  for (int K = 1; K <= 50; ++K) {
    EXPECT_EQ(T->RecNo(), K);
    EXPECT_EQ(Current(), "p" + std::to_string(99 + K) + ".jpg");
    T->Next();
  }
  EXPECT_TRUE(T->Eof());
  T->Last();
  EXPECT_EQ(T->RecNo(), 50);
  EXPECT_EQ(T->MoveBy(-60), -49);
  EXPECT_TRUE(T->Bof());
  EXPECT_EQ(T->RecNo(), 1);
  T->SetRecNo(37);
  EXPECT_EQ(T->RecNo(), 37);
  EXPECT_EQ(Current(), "p136.jpg");
  const int Before = Scrolls;
  T->SetRecNo(37);
  T->SetRecNo(0);
  T->SetRecNo(51);
  EXPECT_EQ(Scrolls, Before) << "RecNo writes out of range or unchanged do nothing";
  T->SetRecNo(3);
  EXPECT_EQ(Current(), "p102.jpg");
}

TEST_F(CursorTest, BookmarksGoCompareAndDieWithClearRecords) {
  Fill(30);
  T->SetRecNo(5);
  const TBookmark B5 = T->Bookmark();
  T->SetRecNo(25);
  const TBookmark B25 = T->Bookmark();
  ASSERT_EQ(B5.size(), 8u);
  EXPECT_TRUE(T->BookmarkValid(B5));
  EXPECT_EQ(T->CompareBookmarks(B5, B25), -1);
  EXPECT_EQ(T->CompareBookmarks(B25, B5), 1);
  EXPECT_EQ(T->CompareBookmarks(B5, B5), 0);
  T->GotoBookmark(B5);
  EXPECT_EQ(T->RecNo(), 5);
  const int Before = Scrolls;
  T->GotoBookmark("");
  EXPECT_EQ(Scrolls, Before) << "an empty bookmark does nothing";
  T->SetIndexName("mtbidxLocationName");
  T->First();
  T->GotoBookmark(B5);
  EXPECT_EQ(Current(), "p104.jpg");
  EXPECT_EQ(T->CompareBookmarks(B5, B25), -1);

  T->ClearRecords();
  EXPECT_FALSE(T->BookmarkValid(B5));
  EXPECT_EQ(T->CompareBookmarks(B5, B25), 0);
  EXPECT_FALSE(T->BookmarkValid("short"));
  EXPECT_FALSE(T->BookmarkValid(""));
}

TEST_F(CursorTest, BookmarkUnderSuspensionMovesAndHandlerSeesDisabled) {
  Fill(10);
  T->SetRecNo(8);
  const TBookmark B = T->Bookmark();
  T->First();
  T->DisableControls();
  Scrolls = 0;
  T->SetBookmark(B);
  EXPECT_EQ(Scrolls, 1);
  EXPECT_TRUE(SawDisabled);
  EXPECT_EQ(T->RecNo(), 8);
  T->EnableControls();
  EXPECT_EQ(Scrolls, 1) << "EnableControls raises no after-scroll";
}

TEST_F(CursorTest, DeletedRecordsBookmarkIsInvalid) {
  Fill(4);
  T->SetRecNo(2);
  const TBookmark B = T->Bookmark();
  T->Delete();
  EXPECT_FALSE(T->BookmarkValid(B));
  EXPECT_EQ(T->RecNo(), 2);
  EXPECT_EQ(Current(), "p102.jpg") << "the following record becomes current";
}

TEST_F(CursorTest, AfterScrollTable) {
  // Which operations raise after-scroll, counted one by one.
  Fill(3);
  struct TCase {
    const char* What;
    std::function<void()> Run;
    int Expected;
  };
  const std::vector<TCase> Cases = {
      {"First", [&] { T->First(); }, 1},
      {"Last", [&] { T->Last(); }, 1},
      {"Next after Last", [&] { T->Next(); }, 0},
      {"Prior", [&] { T->Prior(); }, 1},
      {"Next", [&] { T->Next(); }, 1},
      {"Next past the end", [&] { T->Next(); }, 1},
      {"Next after Eof", [&] { T->Next(); }, 0},
      {"Insert", [&] { T->Insert(); }, 1},
      {"Cancel", [&] { T->Cancel(); }, 1},
      {"Insert again", [&] { T->Insert(); }, 1},
      {"Post",
       [&] {
         T->FieldByName("Name").SetAsString("zz.jpg");
         T->Post();
       },
       0},
      {"ClearRecords", [&] { T->ClearRecords(); }, 0},
      {"IndexName", [&] { T->SetIndexName("mtbidxLocationName"); }, 0},
      {"DisableControls/EnableControls",
       [&] {
         T->DisableControls();
         T->EnableControls();
       },
       0},
  };
  for (const TCase& C : Cases) {
    Scrolls = 0;
    C.Run();
    EXPECT_EQ(Scrolls, C.Expected) << C.What;
  }
  AddPicture(*T, "a.jpg", "/x/");
  Scrolls = 0;
  T->Delete();
  EXPECT_EQ(Scrolls, 1) << "Delete";
  Scrolls = 0;
  T->Close();
  T->Open();
  EXPECT_EQ(Scrolls, 1) << "Open";
}

TEST_F(CursorTest, MoveEndsUntouchedInsertAndPostsWrittenOne) {
  Fill(3);
  T->Insert();
  T->Next();
  EXPECT_EQ(T->State(), dsBrowse);
  EXPECT_EQ(T->RecordCount(), 3) << "an untouched new record is dropped";
  T->Insert();
  T->FieldByName("Name").SetAsString("a.jpg");
  EXPECT_EQ(T->RecNo(), -1) << "no position while inserting";
  EXPECT_EQ(T->Bookmark(), "");
  T->First();
  EXPECT_EQ(T->RecordCount(), 4) << "a written new record is posted by the move";
  EXPECT_EQ(Current(), "a.jpg");
}

TEST_F(CursorTest, PostKeepsPositionNumberNotRecord) {
  Fill(5); // p100 .. p104
  T->SetRecNo(3);
  EXPECT_EQ(Current(), "p102.jpg");
  AddPicture(*T, "a.jpg", "/pics/"); // sorts first
  EXPECT_EQ(T->RecNo(), 3);
  EXPECT_EQ(Current(), "p101.jpg");
}

TEST_F(CursorTest, DeleteLastAndOnly) {
  Fill(3);
  T->Last();
  T->Delete();
  EXPECT_EQ(Current(), "p101.jpg");
  EXPECT_EQ(T->RecNo(), 2);
  T->ClearRecords();
  AddPicture(*T, "only.jpg", "/x/");
  T->Delete();
  EXPECT_TRUE(T->IsEmpty());
  EXPECT_EQ(T->RecordCount(), 0);
  EXPECT_TRUE(T->Bof() && T->Eof());
}

TEST_F(CursorTest, ClosedTableMovesFail) {
  T->Close();
  EXPECT_EQ(T->RecNo(), -1);
  EXPECT_TRUE(T->IsEmpty());
  for (auto Move : {&TmtbCustomMemTable::First, &TmtbCustomMemTable::Last,
                    &TmtbCustomMemTable::Next, &TmtbCustomMemTable::Prior}) {
    try {
      (T.get()->*Move)();
      ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& E) {
      EXPECT_EQ(E.Message(), "mtbPictures: Cannot perform this operation on a closed dataset");
    }
  }
}

} // namespace

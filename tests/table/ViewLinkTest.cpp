// Attached views: record window size requests, the rows a view sees, the
// notifications it receives and their suspension.

#include "tests/table/TableTestUtil.h"

using namespace tabletest;

namespace {

using TEvent = TRecordingLink::TEvent;

class ViewLinkTest : public ::testing::Test {
protected:
  void SetUp() override {
    T = OpenPictureTable();
    for (int K = 0; K < 20; ++K)
      AddPicture(*T, "r" + std::to_string(10 + K) + ".jpg", "/d/");
    Source.SetDataSet(T.get());
    Link.SetBufferCount(4);
    Link.SetDataSource(&Source);
    T->First();
    Link.Events.clear();
  }
  std::vector<std::string> Rows() {
    std::vector<std::string> R;
    for (int K = 0; K < Link.RecordCount(); ++K)
      R.push_back(Link.DisplayText(K, T->FieldByName("Name")));
    return R;
  }

  std::unique_ptr<TmtbMemTable> T;
  TDataSource Source{"dsPictures"};
  TRecordingLink Link;
};

TEST_F(ViewLinkTest, WindowFollowsBufferRequest) {
  EXPECT_EQ(T->WindowSize(), 4);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"r10.jpg", "r11.jpg", "r12.jpg", "r13.jpg"}));
  EXPECT_EQ(Link.ActiveRecord(), 0);
  Link.SetBufferCount(6);
  EXPECT_EQ(Link.RecordCount(), 6);
  Link.SetBufferCount(2);
  EXPECT_EQ(T->WindowSize(), 2);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"r10.jpg", "r11.jpg"}));
  EXPECT_EQ(Link.RecordBookmark(0), T->Bookmark());
  EXPECT_EQ(Link.RecordBookmark(5), "");
}

TEST_F(ViewLinkTest, ScrollNotifications) {
  T->Next(); // within the window
  T->Next();
  T->Next();
  T->Next(); // crosses the edge: the window moves by one
  EXPECT_EQ(Link.Events, (std::vector<TEvent>{
                             {"scrolled", 0}, {"scrolled", 0}, {"scrolled", 0}, {"scrolled", 1}}));
  EXPECT_EQ(Link.ActiveRecord(), 3);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"r11.jpg", "r12.jpg", "r13.jpg", "r14.jpg"}));
  Link.Events.clear();
  EXPECT_EQ(T->MoveBy(-5), -4);
  EXPECT_TRUE(T->Bof());
  EXPECT_EQ(Link.Events, (std::vector<TEvent>{{"scrolled", -1}}));
  EXPECT_EQ(Link.ActiveRecord(), 0);
  Link.Events.clear();
  T->Last();
  EXPECT_EQ(Link.Events, (std::vector<TEvent>{{"changed", 0}}));
  EXPECT_EQ(Link.ActiveRecord(), 3);
  EXPECT_EQ(Rows().back(), "r29.jpg");
  Link.Events.clear();
  T->MoveBy(-6);
  EXPECT_EQ(Link.Events, (std::vector<TEvent>{{"scrolled", -3}}));
  EXPECT_EQ(Rows(), (std::vector<std::string>{"r23.jpg", "r24.jpg", "r25.jpg", "r26.jpg"}));
}

TEST_F(ViewLinkTest, GotoBookmarkCentresTheRecord) {
  T->SetRecNo(12);
  const TBookmark B = T->Bookmark();
  T->First();
  T->GotoBookmark(B);
  EXPECT_EQ(Link.ActiveRecord(), 1) << "the middle buffer of four";
  EXPECT_EQ(Rows().at(1), "r21.jpg");
}

TEST_F(ViewLinkTest, SuspensionCountsAndSingleCatchUp) {
  T->DisableControls();
  T->DisableControls();
  T->Next();
  T->Last();
  T->EnableControls();
  EXPECT_TRUE(T->ControlsDisabled());
  EXPECT_TRUE(Link.Events.empty()) << "still suspended";
  T->EnableControls();
  EXPECT_FALSE(T->ControlsDisabled());
  EXPECT_EQ(Link.Events, (std::vector<TEvent>{{"changed", 0}}));
  Link.Events.clear();
  T->EnableControls(); // unmatched: ignored
  EXPECT_FALSE(T->ControlsDisabled());
  EXPECT_TRUE(Link.Events.empty());
}

TEST_F(ViewLinkTest, StateChangeUnderSuspension) {
  // Closing and reopening under suspension: the views learn the state once.
  T->DisableControls();
  T->Close();
  T->Open();
  EXPECT_TRUE(Link.Events.empty());
  T->EnableControls();
  EXPECT_TRUE(Link.Active());
  // The state is unchanged (browse), so one pending notification, a layout change.
  EXPECT_EQ(Link.Events, (std::vector<TEvent>{{"layout", 0}}));
}

TEST_F(ViewLinkTest, ScanPattern) {
  // Data source off, suspension, emptying and posting, then on again.
  Source.SetEnabled(false);
  EXPECT_FALSE(Link.Active());
  EXPECT_EQ(T->WindowSize(), 1) << "no view asks for buffers while the source is off";
  T->DisableControls();
  T->ClearRecords();
  for (int K = 0; K < 5; ++K)
    AddPicture(*T, "s" + std::to_string(K) + ".jpg", "/s/");
  T->EnableControls();
  Source.SetEnabled(true);
  EXPECT_TRUE(Link.Active());
  T->First();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"s0.jpg", "s1.jpg", "s2.jpg", "s3.jpg"}));
  EXPECT_EQ(Link.Events, (std::vector<TEvent>{{"inactive", 0}, {"active", 0}, {"changed", 0}}));
}

TEST_F(ViewLinkTest, CloseAndOpenSwitchViews) {
  T->Close();
  EXPECT_FALSE(Link.Active());
  EXPECT_EQ(Link.RecordCount(), 0);
  T->Open();
  EXPECT_TRUE(Link.Active());
  EXPECT_EQ(Link.Events.front(), (TEvent{"inactive", 0}));
  EXPECT_EQ(Link.Events.at(1), (TEvent{"active", 0}));
}

TEST_F(ViewLinkTest, InsertShowsNewRowAndEditingChanges) {
  T->Next();
  Link.Events.clear();
  T->Insert();
  EXPECT_TRUE(Link.Editing());
  EXPECT_EQ(Link.ActiveRecord(), 1);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"r10.jpg", "", "r11.jpg", "r12.jpg"}));
  T->FieldByName("Name").SetAsString("r105.jpg");
  EXPECT_EQ(Rows().at(1), "r105.jpg");
  T->Post();
  EXPECT_FALSE(Link.Editing());
  EXPECT_EQ(Rows(), (std::vector<std::string>{"r10.jpg", "r105.jpg", "r11.jpg", "r12.jpg"}));
  EXPECT_EQ(Link.Events,
            (std::vector<TEvent>{
                {"editing", 0}, {"changed", 0}, {"record", 0}, {"editing", 0}, {"changed", 0}}));
}

} // namespace

namespace {

// The window a view sees after a move: rows, active row, Bof, Eof and RecNo.
struct TWindowState {
  std::vector<std::string> Rows;
  int Active = -1, RecNo = -1;
  bool Bof = false, Eof = false;
  bool operator==(const TWindowState&) const = default;
};

TWindowState StateOf(TmtbCustomMemTable& T, const TDataLink& Link) {
  TWindowState S;
  for (int K = 0; K < Link.RecordCount(); ++K)
    S.Rows.push_back(Link.DisplayText(K, T.FieldByName("Name")));
  S.Active = Link.ActiveRecord();
  S.RecNo = T.RecNo();
  S.Bof = T.Bof();
  S.Eof = T.Eof();
  return S;
}

} // namespace

// A long move is made at once; it must leave exactly the window, the flags
// and the count of records moved that stepping one record at a time leaves,
// also when it runs into either end and when the window is not full yet.
TEST(LongMoveTest, SameWindowAsSteppingRecordByRecord) {
  struct TCase {
    int Records, Buffers, Start;
    std::vector<int> Moves;
  };
  const TCase Cases[] = {
      {200, 7, 1, {150, -120, 60, -3, 40, -39}},
      {200, 7, 100, {500, -500, 199, -199}},  // past both ends
      {200, 1, 50, {30, -30, 149, -200}},     // a window of one row
      {12, 30, 1, {11, -11, 20}},             // fewer records than rows
      {60, 9, 30, {-25, 25, 29, 3, -58, 40}}, // active row in the middle first
  };
  for (const TCase& C : Cases) {
    auto Stepped = OpenPictureTable(), Jumped = OpenPictureTable();
    TDataSource SourceA, SourceB;
    TRecordingLink LinkA, LinkB;
    for (auto* T : {Stepped.get(), Jumped.get()})
      for (int K = 0; K < C.Records; ++K)
        AddPicture(*T, "p" + std::to_string(1000 + K) + ".jpg", "/d/");
    SourceA.SetDataSet(Stepped.get());
    SourceB.SetDataSet(Jumped.get());
    LinkA.SetBufferCount(C.Buffers);
    LinkB.SetBufferCount(C.Buffers);
    LinkA.SetDataSource(&SourceA);
    LinkB.SetDataSource(&SourceB);
    for (auto* T : {Stepped.get(), Jumped.get()}) {
      T->First();
      T->MoveBy(C.Start - 1);
    }
    for (int Move : C.Moves) {
      int SteppedMoved = 0;
      for (int K = 0; K < std::abs(Move); ++K)
        SteppedMoved += Stepped->MoveBy(Move > 0 ? 1 : -1);
      EXPECT_EQ(Jumped->MoveBy(Move), SteppedMoved) << C.Records << " records, move " << Move;
      EXPECT_EQ(StateOf(*Jumped, LinkB), StateOf(*Stepped, LinkA))
          << C.Records << " records, " << C.Buffers << " rows, move " << Move;
      EXPECT_EQ(Jumped->Bookmark(), Jumped->WindowBookmark(Jumped->WindowActive()));
      EXPECT_EQ(Jumped->FieldByName("Name").AsString(), Stepped->FieldByName("Name").AsString());
    }
    LinkA.SetDataSource(nullptr);
    LinkB.SetDataSource(nullptr);
  }
}

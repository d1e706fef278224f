// Posting while controls are disabled places records in the indexes later,
// when an order is next needed. These tests run the same random session on
// two tables, one placing every record at its Post and one deferring, and
// require every observable result to be the same: orders of all indexes,
// RecNo, the current record, bookmarks and their comparison, after-scroll
// and before-scroll calls and what an attached view is told.

#include "tests/table/TableTestUtil.h"

#include <random>

using namespace tabletest;

namespace {

struct TSession {
  std::unique_ptr<TmtbMemTable> Table = OpenPictureTable();
  TDataSource Source{"dsPictures"};
  TRecordingLink Link;
  std::vector<std::string> Log;     // what each step observed
  std::vector<TBookmark> Bookmarks; // taken along the way
  int MaxPending = 0;

  explicit TSession(bool Defer) {
    Table->SetDeferIndexing(Defer);
    Source.SetDataSet(Table.get());
    Link.SetBufferCount(5);
    Link.SetDataSource(&Source);
    Table->AfterScroll = [this](TmtbCustomMemTable& T) {
      Log.push_back("after " + std::to_string(T.RecNo()));
    };
    Table->BeforeScroll = [this](TmtbCustomMemTable&) { Log.push_back("before"); };
  }

  void NotePending() {
    for (int K = 0; K < Table->Indexes().Count(); ++K)
      MaxPending = std::max(MaxPending, Table->Indexes().Items(K).PendingCount());
  }

  // What a view and a caller can see of the cursor.
  void Observe(const std::string& Step) {
    TmtbCustomMemTable& T = *Table;
    std::string S = Step + ": recno " + std::to_string(T.RecNo()) + " count " +
                    std::to_string(T.RecordCount()) + " seq " +
                    std::to_string(T.CurrentRecordSequence()) + " bof " + std::to_string(T.Bof()) +
                    " eof " + std::to_string(T.Eof()) + " name " +
                    T.FieldByName("Name").AsString() + " window";
    for (int K = 0; K < T.WindowCount(); ++K)
      S +=
          " " + T.FieldByName("Location").DisplayTextOf(K) + T.FieldByName("Name").DisplayTextOf(K);
    S += " link";
    for (int K = 0; K < Link.RecordCount(); ++K)
      S += " " + Link.DisplayText(K, T.FieldByName("Name"));
    S += " active " + std::to_string(Link.ActiveRecord());
    Log.push_back(S);
  }
};

// Small value sets so that equal keys, names equal under the collation
// (case, hyphens) and equal dates are common.
struct TRandomPicture {
  std::string Name, Location, Type;
  TDateTime Date;
};

TRandomPicture MakePicture(std::mt19937& Rng) {
  static const char* const Names[] = {"a.jpg",     "A.jpg",     "b.jpg",     "co-op.jpg",
                                      "coop.jpg",  "co_op.jpg", "img10.jpg", "img2.jpg",
                                      "Äpfel.png", "apfel.png", "z.tif"};
  static const char* const Locations[] = {"/p/", "/p/sub/", "/q/", "/P/"};
  static const char* const Types[] = {"jpg", "JPG", "png", "tif"};
  TRandomPicture P;
  P.Name = Names[Rng() % std::size(Names)];
  P.Location = Locations[Rng() % std::size(Locations)];
  P.Type = Types[Rng() % std::size(Types)];
  P.Date = 40000.0 + static_cast<double>(Rng() % 4);
  return P;
}

const char* const IndexNames[] = {"mtbidxNameLocation", "mtbidxLocationName",
                                  "mtbidxDateLocationName", "mtbidxTypeName", ""};

// Every index's order as sequence numbers, then back to the index selected before.
std::vector<std::vector<int64_t>> AllOrders(TmtbCustomMemTable& T) {
  const std::string Selected = T.IndexName();
  std::vector<std::vector<int64_t>> Result;
  for (const char* Index : IndexNames) {
    T.SetIndexName(Index);
    std::vector<int64_t> Order;
    T.DisableControls();
    T.First();
    while (!T.Eof()) {
      Order.push_back(T.CurrentRecordSequence());
      T.Next();
    }
    T.EnableControls();
    Result.push_back(std::move(Order));
  }
  T.SetIndexName(Selected);
  return Result;
}

// One random session: a scan-like run of posts under disabled controls with
// the cursor moved, bookmarks taken and used, the index switched, records
// deleted and controls enabled between them, as timer ticks and clicks do.
void RunSession(TSession& S, unsigned Seed, int Steps) {
  std::mt19937 Rng(Seed);
  TmtbCustomMemTable& T = *S.Table;
  T.DisableControls();
  for (int Step = 0; Step < Steps; ++Step) {
    const unsigned Action = Rng() % 100;
    const std::string Name = "step " + std::to_string(Step);
    if (Action < 70) {
      const TRandomPicture P = MakePicture(Rng);
      AddPicture(T, P.Name, P.Location, P.Date, P.Type);
      S.NotePending();
      if (Rng() % 8 == 0) S.Observe(Name + " post");
      continue;
    }
    switch (Action % 10) {
    case 0:
      T.Next();
      break;
    case 1:
      T.MoveBy(static_cast<int>(Rng() % 7) - 3);
      break;
    case 2:
      Rng() % 2 ? T.First() : T.Last();
      break;
    case 3:
      T.SetRecNo(1 + static_cast<int>(Rng() % static_cast<unsigned>(std::max(T.RecordCount(), 1))));
      break;
    case 4:
      S.Bookmarks.push_back(T.Bookmark());
      break;
    case 5:
      if (!S.Bookmarks.empty() && T.BookmarkValid(S.Bookmarks[Rng() % S.Bookmarks.size()]))
        T.GotoBookmark(S.Bookmarks[Rng() % S.Bookmarks.size()]);
      break;
    case 6:
      T.SetIndexName(IndexNames[Rng() % std::size(IndexNames)]);
      break;
    case 7:
      if (!T.IsEmpty() && Rng() % 3 == 0) T.Delete();
      break;
    case 8:
      // Controls on for a moment: the view reads the window.
      T.EnableControls();
      S.Observe(Name + " enabled");
      T.DisableControls();
      break;
    default: {
      // An insert left open, then cancelled or ended by a move.
      T.Insert();
      if (Rng() % 2) {
        T.FieldByName("Name").SetAsString("open.jpg");
        S.Observe(Name + " editing");
      }
      if (Rng() % 2)
        T.Cancel();
      else
        T.Next();
      break;
    }
    }
    S.Observe(Name);
  }
  T.EnableControls();
  S.Observe("end");
}

TEST(DeferredPostTest, SameResultsAsPlacingAtEachPost) {
  for (const unsigned Seed : {1u, 2u, 3u, 17u, 2024u}) {
    SCOPED_TRACE("seed " + std::to_string(Seed));
    TSession Now(false), Later(true);
    RunSession(Now, Seed, 400);
    RunSession(Later, Seed, 400);
    EXPECT_EQ(Now.MaxPending, 0);
    EXPECT_GT(Later.MaxPending, 0) << "the session must exercise deferred placement";
    ASSERT_EQ(Now.Log.size(), Later.Log.size());
    for (size_t K = 0; K < Now.Log.size(); ++K)
      ASSERT_EQ(Now.Log[K], Later.Log[K]) << "entry " << K;
    EXPECT_EQ(Now.Link.Events, Later.Link.Events);
    // Bookmarks compare alike (taken at the same steps in both sessions).
    ASSERT_EQ(Now.Bookmarks.size(), Later.Bookmarks.size());
    for (const char* Index : IndexNames) {
      Now.Table->SetIndexName(Index);
      Later.Table->SetIndexName(Index);
      for (size_t A = 0; A < Now.Bookmarks.size(); ++A)
        for (size_t B = 0; B < Now.Bookmarks.size(); B += 3)
          ASSERT_EQ(Now.Table->CompareBookmarks(Now.Bookmarks[A], Now.Bookmarks[B]),
                    Later.Table->CompareBookmarks(Later.Bookmarks[A], Later.Bookmarks[B]));
    }
    EXPECT_EQ(AllOrders(*Now.Table), AllOrders(*Later.Table));
  }
}

// The scan's pattern: many posts under disabled controls with nothing read in
// between, then the order used. Only the selected index is placed by the
// first read; the others wait until they are selected.
TEST(DeferredPostTest, OnlyTheSelectedIndexIsPlacedWhenRead) {
  std::mt19937 Rng(7);
  std::vector<TRandomPicture> Pictures;
  for (int K = 0; K < 3000; ++K)
    Pictures.push_back(MakePicture(Rng));
  auto Fill = [&](TmtbCustomMemTable& T) {
    T.DisableControls();
    T.ClearRecords();
    for (const auto& P : Pictures)
      AddPicture(T, P.Name, P.Location, P.Date, P.Type);
    T.EnableControls();
  };
  auto Now = OpenPictureTable();
  Now->SetDeferIndexing(false);
  auto Later = OpenPictureTable();
  Fill(*Now);
  Fill(*Later);
  const TmtbIndexes& X = Later->Indexes();
  for (int K = 1; K < X.Count(); ++K)
    EXPECT_EQ(X.Items(K).PendingCount(), 3000) << X.Items(K).Name();
  EXPECT_EQ(X.BuiltIn().PendingCount(), 0) << "the insertion order is kept at each Post";
  EXPECT_EQ(Later->RecordCount(), 3000);
  EXPECT_EQ(Later->RecNo(), 1);
  EXPECT_EQ(Later->FieldByName("Name").AsString(), Now->FieldByName("Name").AsString());
  EXPECT_EQ(X.Find("mtbidxNameLocation")->PendingCount(), 0);
  EXPECT_EQ(X.Find("mtbidxDateLocationName")->PendingCount(), 3000);
  EXPECT_EQ(AllOrders(*Now), AllOrders(*Later));
  for (int K = 0; K < X.Count(); ++K)
    EXPECT_EQ(X.Items(K).PendingCount(), 0);

  // A few more posts after that go in one by one at the next read.
  Later->DisableControls();
  Now->DisableControls();
  for (int K = 0; K < 10; ++K) {
    const TRandomPicture P = MakePicture(Rng);
    AddPicture(*Now, P.Name, P.Location, P.Date, P.Type);
    AddPicture(*Later, P.Name, P.Location, P.Date, P.Type);
  }
  EXPECT_EQ(X.Find("mtbidxTypeName")->PendingCount(), 10);
  Later->EnableControls();
  Now->EnableControls();
  EXPECT_EQ(AllOrders(*Now), AllOrders(*Later));
}

// Indexes whose comparison is not a plain total order, and unique ones,
// are placed at each Post even while controls are disabled; a duplicate is
// still refused at its Post.
TEST(DeferredPostTest, UniqueAndPartialIndexesPlaceAtOnce) {
  auto T = CreatePictureTable();
  T->IndexDefs().push_back({"idxUnique", "Name;Location", ixUnique});
  T->IndexDefs().push_back({"idxPartial", "Name:P", 0});
  T->Open();
  T->DisableControls();
  AddPicture(*T, "a.jpg", "/p/");
  AddPicture(*T, "b.jpg", "/p/");
  EXPECT_EQ(T->Indexes().Find("idxUnique")->PendingCount(), 0);
  EXPECT_EQ(T->Indexes().Find("idxPartial")->PendingCount(), 0);
  EXPECT_EQ(T->Indexes().Find("mtbidxTypeName")->PendingCount(), 2);
  T->Insert();
  T->FieldByName("Name").SetAsString("a.jpg");
  T->FieldByName("Location").SetAsString("/p/");
  EXPECT_THROW(T->Post(), EMemTableError);
  T->Cancel();
  T->EnableControls();
  EXPECT_EQ(T->RecordCount(), 2);
  T->SetIndexName("mtbidxTypeName");
  EXPECT_EQ(Column(*T, "Name"), (std::vector<std::string>{"a.jpg", "b.jpg"}));
}

} // namespace

namespace {

// Names with equal keys under the collation and names that are not valid
// UTF-8 (each ill-formed sequence collates like U+FFFD, so they tie there and
// only the bytes keep them apart), in many folders.
std::vector<TRandomPicture> MixedPictures(int Count, unsigned Seed) {
  static const char* const Names[] = {
      "a.jpg",     "A.jpg",         "co-op.jpg",    "coop.jpg", "co_op.jpg",
      "img10.jpg", "img2.jpg",      "\xff.jpg",     "\xfe.jpg", "\xef\xbf\xbd.jpg",
      "a\xc3.jpg", "a\xc3\x28.jpg", "\xc0\xaf.png", "Äpfel.png"};
  static const char* const Types[] = {"jpg", "JPG", "png", "\xff"};
  std::mt19937 Rng(Seed);
  std::vector<TRandomPicture> Result;
  for (int K = 0; K < Count; ++K) {
    TRandomPicture P;
    P.Name = Names[Rng() % std::size(Names)];
    if (Rng() % 2) P.Name = std::to_string(Rng() % 50) + P.Name;
    P.Location = "/p/" + std::to_string(Rng() % 300) + (Rng() % 5 ? "/" : "\xff/");
    P.Type = Types[Rng() % std::size(Types)];
    P.Date = 40000.0 + static_cast<double>(Rng() % 20);
    Result.push_back(std::move(P));
  }
  return Result;
}

void BulkLoad(TmtbCustomMemTable& T, const std::vector<TRandomPicture>& Pictures) {
  T.DisableControls();
  T.ClearRecords();
  for (const auto& P : Pictures)
    AddPicture(T, P.Name, P.Location, P.Date, P.Type);
  T.EnableControls();
  T.First();
}

} // namespace

// A bulk load whose other orders are placed by worker threads while this
// thread reads the selected order gives the orders that placing every record
// at its Post gives; so does a load whose workers a new load stops, and posts
// and deletes made while the workers run.
TEST(DeferredPostTest, OrdersPreparedOnWorkersMatchPlacingAtEachPost) {
  const std::vector<TRandomPicture> First = MixedPictures(6000, 5), Second = MixedPictures(9000, 6);
  auto Now = OpenPictureTable();
  Now->SetDeferIndexing(false);
  auto Later = OpenPictureTable();

  // A load stopped early by the next one.
  BulkLoad(*Later, First);
  Later->PrepareIndexes();
  BulkLoad(*Later, Second);
  BulkLoad(*Now, Second);
  Later->PrepareIndexes();
  // This thread goes on with the selected order meanwhile.
  for (int K = 0; K < 50; ++K)
    Later->MoveBy(K % 2 ? 97 : -31);
  Later->WaitForIndexes();
  EXPECT_FALSE(Later->PreparingIndexes());
  for (int K = 1; K < Later->Indexes().Count(); ++K)
    EXPECT_EQ(Later->Indexes().Items(K).PendingCount(), 0) << Later->Indexes().Items(K).Name();
  EXPECT_EQ(AllOrders(*Now), AllOrders(*Later));

  // Posting and deleting right after the workers start: each waits for them.
  for (auto* T : {Now.get(), Later.get()}) {
    T->SetIndexName("mtbidxTypeName");
    BulkLoad(*T, First);
    T->PrepareIndexes();
    AddPicture(*T, "\xff.jpg", "/p/1/", 40001.0, "jpg");
    T->SetRecNo(17);
    T->Delete();
    T->PrepareIndexes(); // nothing is waiting: no worker
    EXPECT_FALSE(T->PreparingIndexes());
  }
  EXPECT_EQ(AllOrders(*Now), AllOrders(*Later));
}

// Decoding ahead on its own: which ready pictures are handed out, what a new
// aim drops, the budget, bounded waits, and files that are not regular. The
// decoder is a stand-in that makes a small picture and can be held at a gate.

#include "app/PicturePrefetch.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "imaging/DibGraphic.h"
#include "tests/app/TempTree.h"

namespace {

using namespace std::chrono_literals;

// Holds decodes of one path until opened.
struct TGate {
  std::mutex Lock;
  std::condition_variable Changed;
  std::string Held;
  bool Open = false;
  bool Waiting = false;
  void Wait(const std::string& Path) {
    std::unique_lock<std::mutex> G(Lock);
    if (Path != Held) return;
    Waiting = true;
    Changed.notify_all();
    Changed.wait(G, [&] { return Open; });
  }
  void WaitUntilHeld() {
    std::unique_lock<std::mutex> G(Lock);
    Changed.wait(G, [&] { return Waiting; });
  }
  void Release() {
    const std::lock_guard<std::mutex> G(Lock);
    Open = true;
    Changed.notify_all();
  }
};

class PicturePrefetchTest : public ::testing::Test {
protected:
  PicturePrefetchTest() {
    Prefetch = std::make_unique<TPicturePrefetch>(
        [Gate = Gate, Calls = Calls, Log = Log](const std::string& Path) {
          ++*Calls;
          {
            // Which file, and the scale a reader may decode an 8000 x 6000
            // picture at.
            const std::lock_guard<std::mutex> G(Log->Lock);
            Log->Paths.push_back(std::filesystem::path(Path).filename().string());
            Log->Scales.push_back(TReducedDecodeScope::ScaleFor(8000, 6000));
          }
          Gate->Wait(Path);
          auto G = std::make_unique<TDibGraphic>();
          // The file's size as the width: tells the decodes of two versions
          // apart. Names starting "bw" are black and white, "anim" animations.
          const std::string Name = std::filesystem::path(Path).filename().string();
          const int W = static_cast<int>(std::max<uintmax_t>(1, std::filesystem::file_size(Path)));
          G->NewImage(W, 2, Name.rfind("bw", 0) == 0 ? ifBlackWhite : ifTrueColor, nullptr, 96, 96);
          if (Name.rfind("anim", 0) == 0)
            for (int I = 0; I < 2; ++I) {
              auto F = std::make_unique<TDibGraphic>();
              F->NewImage(W, 2, ifTrueColor, nullptr, 96, 96);
              G->AddFrame(std::move(F));
            }
          // Files named "*.cut.*" are animations whose frames did not fit.
          G->SetFramesOmitted(Path.find(".cut.") != std::string::npos);
          return G;
        },
        [](TDibGraphic& Picture, const TDisplayPlan&) -> std::unique_ptr<TDibGraphic> {
          if (Picture.ImageFormat() == ifBlackWhite) return nullptr; // as the view's layout
          auto D = std::make_unique<TDibGraphic>();
          D->NewImage(Picture.Width(), 1, ifTrueColor, nullptr, 96, 96);
          return D;
        });
  }
  ~PicturePrefetchTest() override {
    Gate->Release();
    Prefetch.reset();
  }

  std::string File(const std::string& Name, const std::string& Bytes = "abc") {
    Tree.File(Name, Bytes);
    return Tree.Path(Name);
  }
  bool WaitIdle() {
    for (int i = 0; i < 1000; ++i) {
      if (Prefetch->Idle()) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  struct TLog {
    std::mutex Lock;
    std::vector<std::string> Paths;
    std::vector<double> Scales;
  };
  std::vector<std::string> Decodes() {
    const std::lock_guard<std::mutex> G(Log->Lock);
    return Log->Paths;
  }

  TTempTree Tree;
  std::shared_ptr<TLog> Log = std::make_shared<TLog>();
  std::shared_ptr<TGate> Gate = std::make_shared<TGate>();
  std::shared_ptr<std::atomic<int>> Calls = std::make_shared<std::atomic<int>>(0);
  std::unique_ptr<TPicturePrefetch> Prefetch;
  const TDisplayPlan Plan{zmFullPage, 0, 800, 600};
};

TEST_F(PicturePrefetchTest, ReadyPictureIsHandedOutOnlyWhileItsFileIsUnchanged) {
  struct TCase {
    const char* What;
    std::function<void(const std::string& Path)> Change;
    bool Handed;
  } Cases[] = {
      {"unchanged", [](const std::string&) {}, true},
      {"written again, other size",
       [](const std::string& P) { std::ofstream(P, std::ios::trunc) << "abcdef"; }, false},
      {"same size, other time",
       [](const std::string& P) {
         struct timespec Times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
         ASSERT_EQ(::utimensat(AT_FDCWD, P.c_str(), Times, 0), 0);
       },
       false},
      {"written in place, its size and modification time put back",
       [](const std::string& P) {
         struct stat St {};
         ASSERT_EQ(::stat(P.c_str(), &St), 0);
         std::this_thread::sleep_for(20ms); // a change time the clock tells apart
         std::fstream(P, std::ios::in | std::ios::out | std::ios::binary) << "xyz";
         struct timespec Times[2] = {St.st_atim, St.st_mtim};
         ASSERT_EQ(::utimensat(AT_FDCWD, P.c_str(), Times, 0), 0);
       },
       false},
      {"replaced by another file of the same size and time",
       [](const std::string& P) {
         struct stat St {};
         ASSERT_EQ(::stat(P.c_str(), &St), 0);
         const std::string Other = P + ".new";
         std::ofstream(Other) << "xyz";
         struct timespec Times[2] = {St.st_atim, St.st_mtim};
         ASSERT_EQ(::utimensat(AT_FDCWD, Other.c_str(), Times, 0), 0);
         ASSERT_EQ(::rename(Other.c_str(), P.c_str()), 0);
       },
       false},
      {"removed", [](const std::string& P) { std::filesystem::remove(P); }, false},
  };
  int Hits = 0, Stale = 0;
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.What);
    const std::string Path = File(std::string("p-") + std::to_string(&C - Cases) + ".jpg");
    Prefetch->Aim({Path}, Plan);
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(Prefetch->Decoded(Path));
    C.Change(Path);
    std::unique_ptr<TReadyPicture> Ready = Prefetch->Take(Path, 0ms);
    EXPECT_EQ(Ready != nullptr, C.Handed);
    (C.Handed ? Hits : Stale)++;
    if (Ready) {
      // Only the display copy is kept, with what it stands for.
      EXPECT_EQ(Ready->Path, Path);
      EXPECT_EQ(Ready->Laid.Picture, nullptr);
      EXPECT_EQ(Ready->Laid.Facts, (TPictureFacts{3, 2, 1}));
      ASSERT_NE(Ready->Laid.Display, nullptr);
      EXPECT_EQ(Ready->Laid.Display->Width(), 3);
      EXPECT_EQ(Ready->Laid.Plan, Plan);
    }
    EXPECT_FALSE(Prefetch->Decoded(Path)); // taken or refused: gone either way
  }
  EXPECT_EQ(Prefetch->Hits(), Hits);
  EXPECT_EQ(Prefetch->Stale(), Stale);
}

TEST_F(PicturePrefetchTest, NewAimKeepsWhatIsStillWantedAndDropsTheRest) {
  const std::string A = File("a.jpg"), B = File("b.jpg"), C = File("c.jpg");
  Prefetch->Aim({A, B}, Plan);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(*Calls, 2);
  EXPECT_EQ(Prefetch->Held(), 2);

  Prefetch->Aim({B, C}, Plan);
  ASSERT_TRUE(WaitIdle());
  EXPECT_FALSE(Prefetch->Decoded(A));
  EXPECT_TRUE(Prefetch->Decoded(B));
  EXPECT_TRUE(Prefetch->Decoded(C));
  EXPECT_EQ(*Calls, 3); // b was not decoded again
  EXPECT_EQ(Prefetch->Held(), 2);

  // Another plan: a display copy cannot be laid out again, so the pictures
  // are decoded anew for it.
  const TDisplayPlan Windowed{zmFullPage, 0, 400, 300};
  Prefetch->Aim({B, C}, Windowed);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(*Calls, 5);
  auto Ready = Prefetch->Take(C, 0ms);
  ASSERT_NE(Ready, nullptr);
  EXPECT_EQ(Ready->Laid.Plan, Windowed);

  // More paths than the budget: only the first ones are decoded.
  const std::string D = File("d.jpg");
  Prefetch->Aim({D, B, C}, Plan);
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(Prefetch->Decoded(D));
  EXPECT_TRUE(Prefetch->Decoded(B));
  EXPECT_FALSE(Prefetch->Decoded(C));
  EXPECT_LE(Prefetch->Held(), TPicturePrefetch::Budget);

  Prefetch->Clear();
  EXPECT_FALSE(Prefetch->Decoded(D));
  EXPECT_FALSE(Prefetch->Decoded(B));
  EXPECT_EQ(Prefetch->Held(), 0);
}

TEST_F(PicturePrefetchTest, DecodeInProgressIsDroppedWhenNoLongerWanted) {
  const std::string A = File("a.jpg"), B = File("b.jpg");
  Gate->Held = A;
  Prefetch->Aim({A}, Plan);
  Gate->WaitUntilHeld();
  Prefetch->Aim({B}, Plan); // the user moved on while a is decoded
  Gate->Release();
  ASSERT_TRUE(WaitIdle());
  EXPECT_FALSE(Prefetch->Decoded(A));
  EXPECT_TRUE(Prefetch->Decoded(B));
  EXPECT_EQ(Prefetch->Held(), 1);
}

TEST_F(PicturePrefetchTest, TakeWaitsForADecodeInProgressOnlySoLong) {
  const std::string A = File("a.jpg"), B = File("b.jpg");
  Gate->Held = A;
  Prefetch->Aim({A, B}, Plan);
  Gate->WaitUntilHeld();
  // b is queued behind a: the caller decodes it itself.
  EXPECT_EQ(Prefetch->Take(B, 0ms), nullptr);
  // a does not come within the wait: given up, its result is dropped later.
  EXPECT_EQ(Prefetch->Take(A, 20ms), nullptr);
  Gate->Release();
  ASSERT_TRUE(WaitIdle());
  EXPECT_FALSE(Prefetch->Decoded(A));
  EXPECT_FALSE(Prefetch->Decoded(B));
  EXPECT_EQ(*Calls, 1);

  // Aimed at again, it is decoded and handed out.
  Prefetch->Aim({B}, Plan);
  ASSERT_TRUE(WaitIdle());
  EXPECT_NE(Prefetch->Take(B, 0ms), nullptr);
}

TEST_F(PicturePrefetchTest, HurryGoesFirstAndKeepStaysWithinTheBudget) {
  const std::string A = File("a.jpg"), B = File("b.jpg"), C = File("c.jpg"), D = File("d.jpg");
  Gate->Held = A;
  Prefetch->Aim({A, B}, Plan);
  Gate->WaitUntilHeld();
  Prefetch->Hurry(C, Plan); // a held key reached c: b is not decoded any more
  Gate->Release();
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(Prefetch->Decoded(C));
  EXPECT_FALSE(Prefetch->Decoded(A));
  EXPECT_FALSE(Prefetch->Decoded(B));

  Prefetch->Aim({C, D}, Plan);
  ASSERT_TRUE(WaitIdle());
  ASSERT_EQ(Prefetch->Held(), 2);
  auto Kept = std::make_unique<TReadyPicture>();
  Kept->Path = A;
  Kept->Laid.Picture = std::make_unique<TDibGraphic>();
  Kept->Laid.Picture->NewImage(3, 2, ifTrueColor, nullptr, 96, 96);
  ASSERT_TRUE(StampFile(A, Kept->Stamp));
  Prefetch->Keep(std::move(Kept)); // no room: freed
  EXPECT_FALSE(Prefetch->Decoded(A));
  EXPECT_EQ(Prefetch->Held(), 2);

  ASSERT_NE(Prefetch->Take(D, 0ms), nullptr);
  // Room again. A picture without a display copy for the view is not kept
  // (it would be kept whole); one with a copy is kept as the copy alone and
  // handed out like a decoded one.
  auto Stepped = [&](bool WithCopy) {
    auto P = std::make_unique<TReadyPicture>();
    P->Path = A;
    P->Laid.Picture = std::make_unique<TDibGraphic>();
    P->Laid.Picture->NewImage(3, 2, ifTrueColor, nullptr, 96, 96);
    if (WithCopy) {
      P->Laid.Display = std::make_unique<TDibGraphic>();
      P->Laid.Display->NewImage(2, 1, ifTrueColor, nullptr, 96, 96);
      P->Laid.Plan = Plan;
    }
    EXPECT_TRUE(StampFile(A, P->Stamp));
    return P;
  };
  Prefetch->Keep(Stepped(false));
  EXPECT_FALSE(Prefetch->Decoded(A));
  Prefetch->Keep(Stepped(true));
  auto Back = Prefetch->Take(A, 0ms);
  ASSERT_NE(Back, nullptr);
  EXPECT_EQ(Back->Laid.Picture, nullptr);
  ASSERT_NE(Back->Laid.Display, nullptr);
  EXPECT_EQ(Back->Laid.Display->Width(), 2);
  EXPECT_EQ(Back->Laid.Facts, (TPictureFacts{3, 2, 1}));
}

TEST_F(PicturePrefetchTest, OnlyPicturesWithoutADisplayCopyOrWithFramesAreKeptWhole) {
  struct TCase {
    const char* Name;
    bool Whole;
  } Cases[] = {
      {"photo.jpg", false}, // its display copy alone
      {"bw-fax.tif", true}, // the view lays black and white out itself
      {"anim.gif", true},   // its frames are needed to play
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Path = File(C.Name);
    Prefetch->Aim({Path}, Plan);
    ASSERT_TRUE(WaitIdle());
    auto Ready = Prefetch->Take(Path, 0ms);
    ASSERT_NE(Ready, nullptr);
    EXPECT_EQ(Ready->Laid.Picture != nullptr, C.Whole);
    EXPECT_EQ(Ready->Laid.Display == nullptr, C.Whole && std::string(C.Name) != "anim.gif");
    EXPECT_EQ(Ready->Laid.Facts.Width, 3);
  }
  // Pictures ahead are decoded no larger than the plan shows them (an
  // 8000 x 6000 picture fits 800 x 600 at a tenth); the shown one whole.
  const std::vector<double> Scales = Log->Scales;
  ASSERT_EQ(Scales.size(), 3u);
  for (double S : Scales)
    EXPECT_DOUBLE_EQ(S, 0.1);
  const std::string Shown = File("shown.jpg");
  Prefetch->DecodeWhole(Shown);
  TFileStamp Stamp;
  auto Whole = Prefetch->TakeWhole(Shown, Stamp, true);
  ASSERT_NE(Whole, nullptr);
  EXPECT_EQ(Log->Scales.back(), 1.0);
}

TEST_F(PicturePrefetchTest, ShownPictureIsDecodedWholeAfterThePicturesAheadUnlessAwaited) {
  const std::string A = File("a.jpg"), B = File("b.jpg"), C = File("c.jpg"), D = File("d.jpg");
  // Asked for while b is being decoded ahead and c is queued: after both.
  Gate->Held = B;
  Prefetch->Aim({B, C}, Plan);
  Gate->WaitUntilHeld();
  Prefetch->DecodeWhole(A);
  EXPECT_FALSE(Prefetch->WholeDecoded(A));
  Gate->Release();
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(Decodes(), (std::vector<std::string>{"b.jpg", "c.jpg", "a.jpg"}));
  EXPECT_TRUE(Prefetch->WholeDecoded(A));
  TFileStamp Stamp, Now;
  EXPECT_EQ(Prefetch->TakeWhole(B, Stamp, false), nullptr); // not asked for
  auto Whole = Prefetch->TakeWhole(A, Stamp, false);
  ASSERT_NE(Whole, nullptr);
  EXPECT_EQ(Whole->Width(), 3);
  ASSERT_TRUE(StampFile(A, Now));
  EXPECT_EQ(Stamp, Now);
  EXPECT_FALSE(Prefetch->WholeDecoded(A)); // taken

  // Awaited (a zoom before it came): it goes before the pictures queued.
  const std::string E = File("e.jpg"), F = File("f.jpg");
  Gate->Open = false;
  Gate->Waiting = false;
  Gate->Held = E;
  Prefetch->Aim({E, F}, Plan);
  Gate->WaitUntilHeld();
  Prefetch->DecodeWhole(B);
  std::unique_ptr<TDibGraphic> Awaited;
  std::thread Waiter([&] { Awaited = Prefetch->TakeWhole(B, Stamp, true); });
  while (!Prefetch->WholeAwaited())
    std::this_thread::sleep_for(1ms);
  Gate->Release();
  Waiter.join();
  ASSERT_NE(Awaited, nullptr);
  ASSERT_TRUE(WaitIdle());
  const auto Order = Decodes();
  ASSERT_GE(Order.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(Order.end() - 3, Order.end()),
            (std::vector<std::string>{"e.jpg", "b.jpg", "f.jpg"}));

  // Clear drops a whole picture asked for.
  Prefetch->DecodeWhole(D);
  ASSERT_TRUE(WaitIdle());
  Prefetch->Clear();
  EXPECT_EQ(Prefetch->TakeWhole(D, Stamp, false), nullptr);
}

TEST_F(PicturePrefetchTest, AnAnimationCutToItsFirstFrameAheadIsLeftToTheForeground) {
  // Ahead, a quarter of the budget stays free: frames that did not fit there
  // may fit when the picture is asked for.
  const std::string Cut = File("a.cut.gif"), Whole = File("b.gif");
  Prefetch->Aim({Cut, Whole}, Plan);
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(*Calls, 2);
  EXPECT_EQ(Prefetch->Take(Cut, 0ms), nullptr);
  EXPECT_NE(Prefetch->Take(Whole, 0ms), nullptr);
}

TEST_F(PicturePrefetchTest, OnlyRegularFilesAreOpened) {
  const std::string Fifo = Tree.Path("pipe.jpg");
  ASSERT_EQ(::mkfifo(Fifo.c_str(), 0600), 0);
  const std::string Folder = Tree.Path("folder.jpg");
  std::filesystem::create_directories(Folder);
  Prefetch->Aim({Fifo, Folder}, Plan);
  ASSERT_TRUE(WaitIdle()); // a FIFO without a writer would block an open
  EXPECT_EQ(*Calls, 0);
  EXPECT_EQ(Prefetch->Take(Fifo, 0ms), nullptr);
  EXPECT_EQ(Prefetch->Take(Folder, 0ms), nullptr);
}

TEST_F(PicturePrefetchTest, EndsWithoutWaitingForAStuckDecode) {
  const std::string A = File("a.jpg");
  Gate->Held = A;
  Prefetch->Aim({A}, Plan);
  Gate->WaitUntilHeld();
  const auto Start = std::chrono::steady_clock::now();
  Prefetch.reset(); // the decode stays stuck until the gate opens below
  EXPECT_LT(std::chrono::steady_clock::now() - Start, 30s); // a hang guard, not a timing
  Gate->Release(); // the worker finishes alone and drops its picture
}

} // namespace

// The catalogue's file-system side: extension matching, the root rule, the
// walk's order and its guards, the command line.

#include "app/FolderWalk.h"
#include "tests/app/TempTree.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

struct TVisit {
  std::string Folder;
  std::string Name;
  std::string Extension;
  bool HasTime;
  std::time_t MTime;
};

std::vector<TVisit> Walk(const std::string& Root, TWalkOptions Options = {}) {
  std::vector<TVisit> Visits;
  WalkPictureTree(
      Root,
      [&](const TWalkPicture& P) {
        Visits.push_back(
            {P.Folder, std::string(P.Name), std::string(P.Extension), P.HasTime, P.MTime});
        return true;
      },
      Options);
  return Visits;
}

// The names of a folder in the order readdir gives them, hidden ones dropped.
std::vector<std::string> ReaddirOrder(const std::string& Folder) {
  std::vector<std::string> Names;
  DIR* D = ::opendir(Folder.c_str());
  while (const dirent* E = ::readdir(D))
    if (E->d_name[0] != '.') Names.emplace_back(E->d_name);
  ::closedir(D);
  return Names;
}

} // namespace

TEST(PictureExtensions, WholeExtensionMatchedWithoutCase) {
  const struct {
    const char* Name;
    int Index; // -1: not a picture
  } Cases[] = {
      {"PHOTO.JPG", 2},
      {"a.Tiff", 14},
      {".png", 9},
      {"x.jpeg", 3},
      {"scan.VST", 11},
      {"pic.AfI", 12},
      {"old.pcc", 7},
      {"f.dcx", 8},
      {"d.wmf", 5},
      {"e.EMF", 4},
      {"i.ico", 1},
      {"b.jpe", -1},
      {"c.jpg.bak", -1},
      {"README", -1},
      {"t.tif2", -1},
      {"jpg", -1},
      {"a.", -1},
      {"", -1},
      {"archive.tar.gz", -1},
      {"x.j\xC3\xA9g", -1},
      {"tiff.", -1},
  };
  for (const auto& C : Cases) {
    EXPECT_EQ(PictureExtensionIndex(C.Name), C.Index) << C.Name;
    EXPECT_EQ(IsPictureFileName(C.Name), C.Index >= 0) << C.Name;
  }
  EXPECT_EQ(FileExtension("a.Tiff"), ".Tiff");
  EXPECT_EQ(FileExtension("c.jpg.bak"), ".bak");
  EXPECT_EQ(FileExtension("README"), "");
}

TEST(FolderRoot, KeptWholeWithSlashAppended) {
  EXPECT_EQ(MakeRootPath("/tmp"), "/tmp/"); // not shortened to "/tm/"
  EXPECT_EQ(MakeRootPath("/tmp/"), "/tmp/");
  EXPECT_EQ(MakeRootPath("/"), "/");
  EXPECT_EQ(MakeRootPath(""), "/");
  EXPECT_EQ(MakeRootPath("/a/b c"), "/a/b c/");
}

TEST(FolderWalk, FilesBeforeSubfoldersLastFoundFirst) {
  TTempTree T;
  for (const char* F : {"s1/a.jpg", "s2/b.jpg", "s3/c.jpg", "s3/deep/d.png", "top.bmp", "top2.TGA"})
    T.File(F);
  const auto Visits = Walk(T.Root());
  ASSERT_EQ(Visits.size(), 6u);

  // The root's files first, in enumeration order.
  EXPECT_EQ(Visits[0].Folder, T.Root());
  EXPECT_EQ(Visits[1].Folder, T.Root());
  // Then the subfolders in reverse enumeration order; a folder's own files
  // come before the folders below it.
  std::vector<std::string> Subs;
  for (const auto& N : ReaddirOrder(T.Root()))
    if (N.rfind("s", 0) == 0) Subs.push_back(N);
  std::reverse(Subs.begin(), Subs.end());
  std::vector<std::string> Folders;
  for (std::size_t i = 2; i < Visits.size(); ++i)
    Folders.push_back(Visits[i].Folder);
  std::vector<std::string> Expected;
  for (const auto& S : Subs) {
    Expected.push_back(T.Root() + S + "/");
    if (S == "s3") Expected.push_back(T.Root() + "s3/deep/");
  }
  EXPECT_EQ(Folders, Expected);
}

TEST(FolderWalk, RecordsNameExtensionCaseAndTime) {
  TTempTree T;
  T.File("PHOTO.JPG", "x", 1'000'000'000);
  T.File("a.Tiff", "", 1'500'000'001);
  T.File("b.jpe");
  T.File("c.jpg.bak");
  T.File("README");
  auto Visits = Walk(T.Root());
  std::sort(Visits.begin(), Visits.end(), [](auto& A, auto& B) { return A.Name < B.Name; });
  ASSERT_EQ(Visits.size(), 2u);
  EXPECT_EQ(Visits[0].Name, "PHOTO.JPG");
  EXPECT_EQ(Visits[0].Extension, ".JPG");
  EXPECT_TRUE(Visits[0].HasTime);
  EXPECT_EQ(Visits[0].MTime, 1'000'000'000);
  EXPECT_EQ(Visits[1].Name, "a.Tiff");
  EXPECT_EQ(Visits[1].Extension, ".Tiff");
  EXPECT_EQ(Visits[1].MTime, 1'500'000'001); // seconds kept as they are

  // Without times no stat is needed, and HasTime says so.
  for (const auto& V : Walk(T.Root(), TWalkOptions{false}))
    EXPECT_FALSE(V.HasTime);
}

TEST(FolderWalk, HiddenEntriesNeitherCataloguedNorWalked) {
  TTempTree T;
  T.File(".hidden.jpg");
  T.File(".secret/inside.jpg");
  T.File("visible/.also-hidden.png");
  T.File("visible/shown.png");
  const auto Visits = Walk(T.Root());
  ASSERT_EQ(Visits.size(), 1u);
  EXPECT_EQ(Visits[0].Folder + Visits[0].Name, T.Path("visible/shown.png"));
}

TEST(FolderWalk, LinksFollowedButLoopsWalkedOnce) {
  TTempTree T;
  T.File("a/pic.jpg");
  T.File("elsewhere/far.png");
  T.Link("..", "a/up");                    // a loop back to the root
  T.Link(T.Path("a"), "a/self");           // a loop onto itself
  T.Link(T.Path("elsewhere"), "b");        // a link to a folder not otherwise reached first
  T.Link(T.Path("a/pic.jpg"), "link.jpg"); // a link to a picture is a picture
  T.Link(T.Path("missing.jpg"), "dangling.jpg");
  const auto Visits = Walk(T.Root());
  std::map<std::string, int> Count;
  for (const auto& V : Visits)
    ++Count[V.Name];
  EXPECT_EQ(Count["pic.jpg"], 1);
  EXPECT_EQ(Count["far.png"], 1); // reached through b or elsewhere, walked once
  EXPECT_EQ(Count["link.jpg"], 1);
  // A dangling link's time cannot be read: reported without a time.
  ASSERT_EQ(Count["dangling.jpg"], 1);
  for (const auto& V : Visits) {
    if (V.Name == "dangling.jpg") {
      EXPECT_FALSE(V.HasTime);
    }
  }
}

TEST(FolderWalk, StopsEarlyAndReportsIt) {
  TTempTree T;
  for (int i = 0; i < 20; ++i)
    T.File("d" + std::to_string(i) + "/p.png");
  int Seen = 0;
  EXPECT_FALSE(WalkPictureTree(T.Root(), [&](const TWalkPicture&) { return ++Seen < 3; }));
  EXPECT_EQ(Seen, 3);
  EXPECT_TRUE(TreeHasPicture(T.Root()));
}

TEST(FolderWalk, MissingOrEmptyRootsYieldNothing) {
  TTempTree T;
  T.File("notes.txt");
  T.File("deep/er/still/nothing.doc");
  T.File(".hid/x.jpg");
  EXPECT_TRUE(Walk(T.Root()).empty());
  EXPECT_FALSE(TreeHasPicture(T.Root()));
  EXPECT_FALSE(TreeHasPicture(T.Path("no-such-folder")));
  T.File("deep/er/still/five/levels.GIF");
  EXPECT_FALSE(TreeHasPicture(T.Root()));
  T.File("deep/er/still/five/levels.Jpeg");
  EXPECT_TRUE(TreeHasPicture(T.Root()));
}

TEST(FolderWalk, ExceptionFromCallbackPassesOut) {
  TTempTree T;
  T.File("a/b/c.png");
  EXPECT_THROW(
      WalkPictureTree(T.Root(), [](const TWalkPicture&) -> bool { throw std::runtime_error("x"); }),
      std::runtime_error);
}

TEST(CommandLine, SubstringTestsOnEveryArgument) {
  TTempTree T;
  T.Folder("prog/MyImages");
  T.Folder("Pics");
  const std::string Prog = T.Path("prog/");
  const std::string Pics = T.Path("Pics");
  const struct {
    std::vector<std::string> Args;
    std::string Folder;
    bool Found;
    bool Slide;
  } Cases[] = {
      {{"p"}, "", false, false},
      {{"p", "-slideshow"}, "", false, true},
      {{"p", "/slideshow"}, "", false, true},
      {{"p", "slideshow"}, "", false, true},
      {{"p", "-SlideShow"}, "", false, false},
      {{"p", "-Dir:" + Pics, "-slideshow"}, Pics, true, true},
      {{"p", "-slideshow-Dir:" + Pics}, Pics, true, true},
      {{"p", "-dir:" + Pics}, "", false, false}, // lower case: not recognised
      {{"p", "-Dir:"}, "", false, false},
      {{"p", "-Dir:" + T.Path("missing")}, T.Path("missing"), false, false},
      // The second Dir: wins the text; the found flag stays set.
      {{"p", "-Dir:" + Pics, "-Dir:" + T.Path("missing")}, T.Path("missing"), true, false},
      {{"p", "-Dir:./MyImages"}, Prog + "MyImages/", true, false},
      {{"p", "-Dir:."}, Prog, true, false},
      {{"p", "-Dir:../Pics"}, Prog + "../Pics/", true, false},
      {{"p", "x-Dir:Dir:" + Pics}, "Dir:" + Pics, false, false}, // text after the first "Dir:"
      {{"-Dir:" + Pics}, "", false, false},                      // the program name is not examined
  };
  for (const auto& C : Cases) {
    const TCommandLine L = ParseCommandLine(C.Args, Prog);
    std::string Joined;
    for (const auto& A : C.Args)
      Joined += A + " ";
    EXPECT_EQ(L.FolderText, C.Folder) << Joined;
    EXPECT_EQ(L.FolderFound, C.Found) << Joined;
    EXPECT_EQ(L.SlideShow, C.Slide) << Joined;
  }
}

TEST(CommandLine, PlainPathsAndOptionsBesideTheSubstringTests) {
  TTempTree T;
  T.File("Pics/b.png");
  T.File("Pics/notes.txt");
  T.Folder("Other");
  T.Folder("slideshow pics");
  T.Folder("Dir:x");
  const std::string Pics = T.Path("Pics/");
  const std::string Other = T.Path("Other/");
  using O = TProgramOption;
  const struct {
    std::vector<std::string> Args;
    std::string PathFolder, PathPicture;
    O Option;
    bool Found, Slide;
    std::string Unknown;
  } Cases[] = {
      {{"p", Pics}, Pics, "", O::None, false, false, ""},
      {{"p", T.Path("Pics")}, Pics, "", O::None, false, false, ""},
      {{"p", Pics + "b.png"}, Pics, "b.png", O::None, false, false, ""},
      {{"p", "Pics/b.png"}, Pics, "b.png", O::None, false, false, ""}, // from the working folder
      {{"p", "./Other/../Pics/b.png"}, Pics, "b.png", O::None, false, false, ""},
      {{"p", Pics + "notes.txt"}, "", "", O::None, false, false, ""}, // not a picture
      {{"p", Pics + "missing.png"}, "", "", O::None, false, false, ""},
      {{"p", ""}, "", "", O::None, false, false, ""},
      {{"p", Pics + "b.png", Other}, Other, "", O::None, false, false, ""}, // the last one counts
      {{"p", Other, Pics + "b.png"}, Pics, "b.png", O::None, false, false, ""},
      {{"p", Pics + "b.png", "-slideshow"}, Pics, "b.png", O::None, false, true, ""},
      {{"p", "-Dir:" + Other, Pics + "b.png"}, Pics, "b.png", O::None, true, false, ""},
      // Arguments holding "slideshow" or "Dir:" follow only their own rules.
      {{"p", T.Path("slideshow pics")}, "", "", O::None, false, true, ""},
      {{"p", T.Path("Dir:x")}, "", "", O::None, false, false, ""},
      {{"p", "--slideshow"}, "", "", O::None, false, true, ""},
      {{"p", "--Dir:" + Other}, "", "", O::None, true, false, ""},
      // Options.
      {{"p", "--help"}, "", "", O::Help, false, false, ""},
      {{"p", "--version"}, "", "", O::Version, false, false, ""},
      {{"p", "--version", "--help"}, "", "", O::Help, false, false, ""},
      {{"p", "--bogus", Pics}, Pics, "", O::Unknown, false, false, "--bogus"},
      {{"p", "--help", "--bogus", "--worse"}, "", "", O::Unknown, false, false, "--bogus"},
      {{"p", "-slideshow", "--version"}, "", "", O::Version, false, true, ""},
      {{"p", "-help"}, "", "", O::None, false, false, ""}, // one dash: not an option of this kind
      // A lone "--" ends the options: what follows is a path.
      {{"p", "--", "--help"}, "", "", O::None, false, false, ""},
      {{"p", "--", "--slideshow"}, "", "", O::None, false, true, ""},
  };
  const auto Cwd = std::filesystem::current_path();
  std::filesystem::current_path(T.Root());
  for (const auto& C : Cases) {
    const TCommandLine L = ParseCommandLine(C.Args, T.Path("prog/"));
    std::string Joined;
    for (const auto& A : C.Args)
      Joined += "[" + A + "] ";
    EXPECT_EQ(L.PathFolder, C.PathFolder) << Joined;
    EXPECT_EQ(L.PathPicture, C.PathPicture) << Joined;
    EXPECT_EQ(L.Option, C.Option) << Joined;
    EXPECT_EQ(L.UnknownOption, C.Unknown) << Joined;
    EXPECT_EQ(L.FolderFound, C.Found) << Joined;
    EXPECT_EQ(L.SlideShow, C.Slide) << Joined;
  }
  std::filesystem::current_path(Cwd);
}

// -nocolor (stored colour values shown) is a flag of its own: it names no
// path and leaves the others as they are; only its exact spelling counts.
TEST(CommandLine, NoColorIsAFlag) {
  TTempTree T;
  T.File("Pics/b.png");
  const std::string Pics = T.Path("Pics/");
  const struct {
    std::vector<std::string> Args;
    bool NoColor;
    std::string PathPicture;
    TProgramOption Option;
  } Cases[] = {
      {{"p", Pics + "b.png"}, false, "b.png", TProgramOption::None},
      {{"p", Pics + "b.png", "-nocolor"}, true, "b.png", TProgramOption::None},
      {{"p", "-nocolor", Pics + "b.png", "-noorient"}, true, "b.png", TProgramOption::None},
      {{"p", "--nocolor"}, false, "", TProgramOption::Unknown},
  };
  for (const auto& C : Cases) {
    const TCommandLine L = ParseCommandLine(C.Args, T.Path("prog/"));
    EXPECT_EQ(L.NoColor, C.NoColor) << C.Args.back();
    EXPECT_EQ(L.PathPicture, C.PathPicture) << C.Args.back();
    EXPECT_EQ(L.Option, C.Option) << C.Args.back();
  }
  EXPECT_NE(CommandLineUsage().find("-nocolor"), std::string::npos);
}

TEST(CommandLine, ProgramFolderEndsInSlashAndCanBeOverridden) {
  const std::string Own = ProgramFolder();
  ASSERT_FALSE(Own.empty());
  EXPECT_EQ(Own.back(), '/');
  EXPECT_TRUE(DirectoryExists(Own));
  SetProgramFolderOverride("/tmp");
  EXPECT_EQ(ProgramFolder(), "/tmp/");
  SetProgramFolderOverride("");
  EXPECT_EQ(ProgramFolder(), Own);
}

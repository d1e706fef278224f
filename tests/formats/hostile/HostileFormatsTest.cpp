// Hostile pictures through every reader: tiny files claiming huge pictures
// are refused before any pixel memory is taken, decoding stays within the
// process's memory budget, nothing goes through a temporary file, and the
// decode tool fails on each of them with its message and little memory.

#include "imaging/DibGraphic.h"
#include "formats/Formats.h"
#include "imaging/GraphicRegistry.h"
#include "tests/formats/hostile/HostileFixtures.h"
#include "platform/MemoryBudget.h"
#include "platform/Stream.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct TClaim {
  const char* Ext;
  std::function<std::string(uint32_t W, uint32_t H)> Make;
  const char* ErrorClass; // what the reader raises for a picture above the limit
};

const std::vector<TClaim>& Claims() {
  static const std::vector<TClaim> List = {
      {"bmp", [](uint32_t W, uint32_t H) { return hostile::Bmp(W, H, 24); }, "EBmmError"},
      {"bmp", [](uint32_t W, uint32_t H) { return hostile::Bmp(W, H, 1); }, "EBmmError"},
      {"tga", hostile::Tga, "EBmmError"},
      {"pcx", hostile::Pcx, "EBmmError"},
      {"dcx", hostile::Dcx, "EBmmError"},
      {"jpg", hostile::Jpeg, "EJpegError"},
      {"png", hostile::Png, "EPNGError"},
      {"tif", hostile::Tiff, "ETiffError"},
      {"gif", hostile::Gif, "EGifError"},
      {"webp", hostile::WebP, "EWebPError"},
      {"heic", [](uint32_t W, uint32_t H) { return hostile::Heif(W, H); }, "EHeifError"},
      {"avif", [](uint32_t W, uint32_t H) { return hostile::Heif(W, H, "av01"); }, "EHeifError"},
      {"jxl", hostile::Jxl, "EJxlError"},
      {"ico", hostile::IcoPng, "EIconError"},
      {"ico", hostile::IcoBitmapPng, "EIconError"},
      {"dng", hostile::Dng, "ERawError"},
      {"svg", hostile::Svg, "ESvgError"},
  };
  return List;
}

// Small real files of the formats whose pictures cannot be claimed huge
// (icons and metafiles have small size fields): refused under a low limit.
struct TSample {
  const char* Path; // below the source folder
  const char* ErrorClass;
};
const TSample kSamples[] = {
    {"fuzz/corpus/fuzz_ico/bits24.ico", "EIconError"},
    {"fuzz/corpus/fuzz_wmf/shapes.wmf", "EMetafileError"},
    {"fuzz/corpus/fuzz_emf/shapes.emf", "EMetafileError"},
};

std::string ReadSource(const std::string& Relative) {
  const char* Root = std::getenv("IMBREL_SOURCE");
  if (!Root) return {};
  std::ifstream In(fs::path(Root) / Relative, std::ios::binary);
  std::stringstream Out;
  Out << In.rdbuf();
  return Out.str();
}

// Decodes Bytes as a file with extension Ext; the class name and message of
// what was raised, or "" when it decoded.
std::string DecodeFailure(const std::string& Bytes, const std::string& Ext) {
  TBytesStream S(Bytes.data(), int64_t(Bytes.size()));
  try {
    CreateGraphicFromStream(S, "picture." + Ext, 1);
  } catch (const Exception& E) {
    return DemangledClassName(typeid(E)) + ": " + E.Message();
  }
  return "";
}

class HostileFormatsTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    static int Argc = 1;
    static char Name[] = "hostile";
    static char* Argv[] = {Name, nullptr};
    if (!QGuiApplication::instance()) new QGuiApplication(Argc, Argv);
    RegisterImageFormats();
  }
  void SetUp() override {
    std::string Pattern = (fs::temp_directory_path() / "imbrel-hostile-XXXXXX").string();
    ASSERT_NE(::mkdtemp(Pattern.data()), nullptr);
    Dir = Pattern;
    ::alarm(120); // a hang ends the run instead of blocking it
  }
  void TearDown() override {
    ::alarm(0);
    SetPixelLimit(0);
    TMemoryBudget::SetLimit(0);
    std::error_code Ignored;
    fs::remove_all(Dir, Ignored);
  }
  std::string Write(const std::string& Name, const std::string& Bytes) {
    const std::string P = Dir + "/" + Name;
    std::ofstream(P, std::ios::binary) << Bytes;
    return P;
  }
  std::string Dir;
};

} // namespace

TEST_F(HostileFormatsTest, HugeClaimsAreRefusedByEveryReaderBeforeTakingMemory) {
  for (const TClaim& C : Claims()) {
    const std::string Bytes = C.Make(60000, 60000);
    SCOPED_TRACE(std::string(C.Ext) + ", " + std::to_string(Bytes.size()) + " bytes");
    const uint64_t Before = TMemoryBudget::Used();
    EXPECT_EQ(DecodeFailure(Bytes, C.Ext),
              std::string(C.ErrorClass) +
                  ": Picture too large: 60000 x 60000 pixels exceeds the limit of "
                  "1000000000 pixels");
    EXPECT_EQ(TMemoryBudget::Used(), Before);
  }
  // The limit is the environment's when set: a small claim fails under a low one.
  SetPixelLimit(5000);
  for (const TClaim& C : Claims()) {
    SCOPED_TRACE(C.Ext);
    EXPECT_EQ(DecodeFailure(C.Make(100, 60), C.Ext),
              std::string(C.ErrorClass) +
                  ": Picture too large: 100 x 60 pixels exceeds the limit of 5000 pixels");
  }
}

TEST_F(HostileFormatsTest, IconsAndMetafilesFollowThePixelLimit) {
  if (!std::getenv("IMBREL_SOURCE")) GTEST_SKIP() << "no source folder";
  SetPixelLimit(16);
  for (const TSample& S : kSamples) {
    SCOPED_TRACE(S.Path);
    const std::string Bytes = ReadSource(S.Path);
    ASSERT_FALSE(Bytes.empty());
    const std::string Ext = fs::path(S.Path).extension().string().substr(1);
    const std::string Failure = DecodeFailure(Bytes, Ext);
    EXPECT_EQ(Failure.rfind(std::string(S.ErrorClass) + ": Picture too large: ", 0), 0u) << Failure;
    SetPixelLimit(0);
    EXPECT_EQ(DecodeFailure(Bytes, Ext), "") << "decodes under the default limit";
    SetPixelLimit(16);
  }
}

TEST_F(HostileFormatsTest, EveryReaderStaysWithinTheMemoryBudget) {
  // Claims under the pixel limit whose pixels do not fit in what is left of
  // the budget: the decode fails and hands every byte back.
  std::vector<std::pair<std::string, std::string>> Files;
  for (const TClaim& C : Claims())
    Files.emplace_back(C.Make(3000, 2000), C.Ext);
  if (std::getenv("IMBREL_SOURCE"))
    for (const TSample& S : kSamples)
      Files.emplace_back(ReadSource(S.Path), fs::path(S.Path).extension().string().substr(1));
  for (const auto& [Bytes, Ext] : Files) {
    SCOPED_TRACE(Ext);
    const uint64_t Before = TMemoryBudget::Used();
    TMemoryBudget::SetLimit(Before + 100); // less than any of these pictures
    EXPECT_NE(DecodeFailure(Bytes, Ext), "");
    EXPECT_EQ(TMemoryBudget::Used(), Before);
    TMemoryBudget::SetLimit(0);
  }
  // A picture that fits is charged while it lives.
  const std::string Small = hostile::Bmp(300, 200, 24);
  TBytesStream S(Small.data(), int64_t(Small.size()));
  const uint64_t Before = TMemoryBudget::Used();
  auto G = CreateGraphicFromStream(S, "small.bmp", 1);
  EXPECT_GE(TMemoryBudget::Used(), Before + 300 * 200 * 3);
  G.reset();
  EXPECT_EQ(TMemoryBudget::Used(), Before);
}

TEST_F(HostileFormatsTest, PlatformReaderRefusesClaimsAboveTheLimitAndTheBudget) {
  // Formats without a class of their own go to the platform's reader, which
  // refuses a claim above the pixel limit before decoding. (Claims as big as
  // the table's meet the reader's own allocation limit first.)
  SetPixelLimit(5000);
  EXPECT_EQ(DecodeFailure(hostile::Ppm(100, 60), "ppm"),
            "EInvalidGraphic: Picture too large: 100 x 60 pixels exceeds the limit of 5000 pixels");
  SetPixelLimit(0);
  const uint64_t Before = TMemoryBudget::Used();
  TMemoryBudget::SetLimit(Before + 100);
  EXPECT_NE(DecodeFailure(hostile::Ppm(3000, 2000), "ppm"), "");
  EXPECT_EQ(TMemoryBudget::Used(), Before);
}

TEST_F(HostileFormatsTest, PlatformReaderDecodesFromMemoryWithoutTemporaryFiles) {
  const std::string Temp = Dir + "/tmp";
  fs::create_directory(Temp);
  const char* Old = std::getenv("TMPDIR");
  const std::string Saved = Old ? Old : "";
  setenv("TMPDIR", Temp.c_str(), 1);
  // A 1 x 1 PPM from a stream, named by a bare extension and by a file name
  // that does not exist.
  const std::string Ppm = "P6\n1 1\n255\n\x10\x20\x30";
  for (const std::string& Name : std::vector<std::string>{"ppm", ".ppm", Dir + "/absent.ppm"}) {
    SCOPED_TRACE(Name);
    TMemoryStream S;
    S.WriteBuffer(Ppm.data(), int64_t(Ppm.size()));
    S.SetPosition(0);
    std::unique_ptr<TDibGraphic> G;
    EXPECT_NO_THROW(G = CreateGraphicFromStream(S, Name, 1));
    ASSERT_TRUE(G);
    EXPECT_EQ(G->Width(), 1);
    EXPECT_TRUE(fs::is_empty(Temp)) << "nothing written to the temporary folder";
  }
  if (Old)
    setenv("TMPDIR", Saved.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

namespace {

struct TRun {
  int Status = -1;
  std::string Output;
  long PeakKiB = 0;
};

// Runs the decode tool with Args and Environment added; its exit status,
// output and peak resident memory.
TRun RunDecode(const std::vector<std::string>& Args, const std::vector<std::string>& Env = {}) {
  int Pipe[2];
  if (::pipe(Pipe) != 0) return {};
  const pid_t Child = ::fork();
  if (Child == 0) {
    ::dup2(Pipe[1], 1);
    ::dup2(Pipe[1], 2);
    ::close(Pipe[0]);
    for (const std::string& E : Env)
      ::putenv(const_cast<char*>(E.c_str()));
    std::vector<char*> Argv{const_cast<char*>(IMBREL_DECODE_TOOL)};
    for (const std::string& A : Args)
      Argv.push_back(const_cast<char*>(A.c_str()));
    Argv.push_back(nullptr);
    ::execv(IMBREL_DECODE_TOOL, Argv.data());
    ::_exit(127);
  }
  ::close(Pipe[1]);
  TRun Run;
  char Buffer[4096];
  ssize_t N;
  while ((N = ::read(Pipe[0], Buffer, sizeof Buffer)) > 0)
    Run.Output.append(Buffer, size_t(N));
  ::close(Pipe[0]);
  int Status = 0;
  rusage Usage{};
  if (::wait4(Child, &Status, 0, &Usage) == Child && WIFEXITED(Status))
    Run.Status = WEXITSTATUS(Status);
  Run.PeakKiB = Usage.ru_maxrss;
  return Run;
}

} // namespace

TEST_F(HostileFormatsTest, DecodeToolFailsOnEachHostileFileWithLittleMemory) {
  std::vector<std::pair<std::string, std::string>> Cases; // file, expected output
  int N = 0;
  for (const TClaim& C : Claims())
    Cases.emplace_back(Write("claim" + std::to_string(N++) + "." + C.Ext, C.Make(60000, 60000)),
                       std::string(C.ErrorClass) + ": Picture too large: 60000 x 60000 pixels");
  const std::string Fifo = Dir + "/pipe.jpg";
  ASSERT_EQ(::mkfifo(Fifo.c_str(), 0600), 0);
  Cases.emplace_back(Fifo, "Cannot open file \"" + Fifo + "\". Not a regular file");
  const std::string Zero = Dir + "/zero.bmp";
  ASSERT_EQ(::symlink("/dev/zero", Zero.c_str()), 0);
  Cases.emplace_back(Zero, "Cannot open file \"" + Zero + "\". Not a regular file");

  // 100 MB at most. The sanitizers' own start-up memory comes on top in
  // their build: there, the bound is 20 MB above a run that fails at once.
  long LimitKiB = 100 * 1024;
#if defined(__SANITIZE_ADDRESS__)
  LimitKiB = std::max(LimitKiB, RunDecode({Fifo}).PeakKiB + 20 * 1024);
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  LimitKiB = std::max(LimitKiB, RunDecode({Fifo}).PeakKiB + 20 * 1024);
#endif
#endif
  for (const auto& [File, Expected] : Cases) {
    SCOPED_TRACE(File);
    const TRun Run = RunDecode({File, "-o", Dir + "/out.ppm"});
    EXPECT_EQ(Run.Status, 1) << Run.Output;
    EXPECT_NE(Run.Output.find(Expected), std::string::npos) << Run.Output;
    EXPECT_LE(Run.PeakKiB, LimitKiB) << "peak resident memory in KiB";
    std::printf("peak %ld KiB: %s\n", Run.PeakKiB, File.c_str());
    EXPECT_FALSE(fs::exists(Dir + "/out.ppm"));
  }
}

// Claims under the pixel limit that the data cannot fill: each reader
// refuses them by what the file holds, naming the format, and the decode
// tool does so with little memory.
struct TShortClaim {
  const char* Ext;
  std::function<std::string(uint32_t W, uint32_t H)> Make;
  const char* Failure; // the class and the format named
  uint32_t Side = 31000; // the claim: Side x Side
  // What the message says, when the reader words it its own way.
  const char* Says = nullptr;
};

const std::vector<TShortClaim>& ShortClaims() {
  static const std::vector<TShortClaim> List = {
      {"bmp", [](uint32_t W, uint32_t H) { return hostile::Bmp(W, H, 24); }, "EBmmError: BMP"},
      {"bmp", [](uint32_t W, uint32_t H) { return hostile::Bmp(W, H, 1); }, "EBmmError: BMP"},
      {"bmp", hostile::RleBmp, "EBmmError: BMP"},
      {"bmp", hostile::FallbackBmp, "EInvalidGraphic: BMP"},
      {"tga", hostile::Tga, "EBmmError: TGA"},
      {"tga", hostile::RleTga, "EBmmError: TGA"},
      {"pcx", hostile::Pcx, "EBmmError: PCX"},
      {"dcx", hostile::Dcx, "EBmmError: PCX"},
      {"jpg", hostile::Jpeg, "EJpegError: JPEG"},
      {"jpg", hostile::ProgressiveJpeg, "EJpegError: JPEG"},
      {"png", hostile::Png, "EPNGError: PNG"},
      {"tif", hostile::Tiff, "ETiffError: TIFF"},
      {"tif", [](uint32_t W, uint32_t H) { return hostile::CompressedTiff(W, H, 32773); },
       "ETiffError: TIFF"},
      {"tif", [](uint32_t W, uint32_t H) { return hostile::CompressedTiff(W, H, 8); },
       "ETiffError: TIFF"},
      {"gif", hostile::Gif, "EGifError: GIF"},
      // An animation's canvas that its one 1 x 1 frame cannot fill, and a
      // lossy still of four bytes of modes.
      {"webp", hostile::WebP, "EWebPError: WebP"},
      {"webp", hostile::WebPLossy, "EWebPError: WebP", 16383},
      // A RAW's sensor data (previews are JPEG files or whole bitmaps, see
      // the JPEG entries).
      {"dng", hostile::Dng, "ERawError: Camera RAW", 31000,
       "bytes of sensor data, too few for its 31000 x 31000 sensor picture"},
  };
  return List;
}

// What a refusal of Claim must say.
std::string ShortSays(const TShortClaim& Claim) {
  if (Claim.Says) return Claim.Says;
  const std::string Side = std::to_string(Claim.Side);
  return " bytes cannot fill a " + Side + " x " + Side + " picture";
}

TEST_F(HostileFormatsTest, ShortFilesClaimingBigPicturesAreRefusedByWhatTheyHold) {
  int N = 0;
  for (const TShortClaim& C : ShortClaims()) {
    const std::string Bytes = C.Make(C.Side, C.Side);
    SCOPED_TRACE(std::string(C.Ext) + " #" + std::to_string(N++) + ", " +
                 std::to_string(Bytes.size()) + " bytes");
    const uint64_t Before = TMemoryBudget::Used();
    const std::string Failure = DecodeFailure(Bytes, C.Ext);
    EXPECT_EQ(Failure.rfind(C.Failure, 0), 0u) << Failure;
    if (!C.Says) EXPECT_NE(Failure.find(" data too short: "), std::string::npos) << Failure;
    EXPECT_NE(Failure.find(ShortSays(C)), std::string::npos) << Failure;
    EXPECT_EQ(TMemoryBudget::Used(), Before);
  }
  // Small pictures pass whatever their data: a cut-off small file still
  // shows what it holds.
  for (const auto& [Bytes, Ext] : std::vector<std::pair<std::string, std::string>>{
           {hostile::Jpeg(600, 400), "jpg"},
           {hostile::Bmp(600, 400, 24), "bmp"},
           {hostile::RleBmp(600, 400), "bmp"},
       }) {
    SCOPED_TRACE(Ext);
    const std::string Failure = DecodeFailure(Bytes, Ext);
    EXPECT_EQ(Failure.find(" data too short: "), std::string::npos) << Failure;
  }
}

TEST_F(HostileFormatsTest, PlatformReaderChecksTheLimitAndTheBudgetBeforeItAllocates) {
  // A whole 16-bit BMP, which the bitmap module leaves to the platform's
  // reader: 300 x 200 pixels of data.
  std::string Bmp = "BM";
  hostile::Le32(Bmp, 54 + 300 * 200 * 2);
  hostile::Le32(Bmp, 0);
  hostile::Le32(Bmp, 54);
  hostile::Le32(Bmp, 40);
  hostile::Le32(Bmp, 300);
  hostile::Le32(Bmp, 200);
  hostile::Le16(Bmp, 1);
  hostile::Le16(Bmp, 16);
  for (int I = 0; I < 6; ++I)
    hostile::Le32(Bmp, 0);
  Bmp.append(300 * 200 * 2, '\x1F');
  EXPECT_EQ(DecodeFailure(Bmp, "bmp"), "");
  SetPixelLimit(50000);
  EXPECT_EQ(DecodeFailure(Bmp, "bmp"),
            "EImageError: Picture too large: 300 x 200 pixels exceeds the limit of 50000 "
            "pixels");
  SetPixelLimit(0);
  const uint64_t Before = TMemoryBudget::Used();
  TMemoryBudget::SetLimit(Before + 200 * 1024); // less than the reader's picture and its copy
  const std::string Failure = DecodeFailure(Bmp, "bmp");
  EXPECT_EQ(Failure.rfind("EInvalidGraphic: Out of memory: a 300 x 200 picture needs", 0), 0u)
      << Failure;
  EXPECT_EQ(TMemoryBudget::Used(), Before);
}

// A vector file is small for any size: a 122-byte SVG of 20000 x 20000 is
// no lie, and is drawn when the budget holds it. What holds it is the pixel
// limit and the budget, which must also cover the drawing surface beside the
// picture before either is allocated.
TEST_F(HostileFormatsTest, SvgIsHeldToTheLimitAndTheBudgetNotToItsDataSize) {
  const std::string Doc = hostile::Svg(4000, 4000);
  EXPECT_EQ(DecodeFailure(Doc, "svg"), "");
  const uint64_t Before = TMemoryBudget::Used();
  const uint64_t Picture = 4000ull * 4000 * 3;
  // Room for the picture but not for the surface it is drawn on as well.
  TMemoryBudget::SetLimit(Before + Picture + 4000ull * 4000 * 2);
  const std::string Failure = DecodeFailure(Doc, "svg");
  EXPECT_EQ(Failure.rfind("ESvgError: SVG: drawing a 4000 x 4000 picture needs 61 MB", 0), 0u)
      << Failure;
  EXPECT_EQ(TMemoryBudget::Used(), Before);
  TMemoryBudget::SetLimit(0);
  SetPixelLimit(1000000);
  EXPECT_EQ(DecodeFailure(Doc, "svg"),
            "ESvgError: Picture too large: 4000 x 4000 pixels exceeds the limit of 1000000 pixels");
  SetPixelLimit(0);
}

TEST_F(HostileFormatsTest, DecodeToolRefusesShortFilesWithLittleMemory) {
  // 150 MB at most; the sanitizers' own start-up memory comes on top in
  // their build, as above.
  long LimitKiB = 150 * 1024;
#if defined(__SANITIZE_ADDRESS__)
  LimitKiB = std::max(LimitKiB, RunDecode({"/nonexistent"}).PeakKiB + 20 * 1024);
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  LimitKiB = std::max(LimitKiB, RunDecode({"/nonexistent"}).PeakKiB + 20 * 1024);
#endif
#endif
  int N = 0;
  for (const TShortClaim& C : ShortClaims()) {
    const std::string File =
        Write("short" + std::to_string(N++) + "." + C.Ext, C.Make(C.Side, C.Side));
    SCOPED_TRACE(File);
    const TRun Run = RunDecode({File});
    EXPECT_EQ(Run.Status, 1) << Run.Output;
    EXPECT_NE(Run.Output.find(C.Failure), std::string::npos) << Run.Output;
    EXPECT_NE(Run.Output.find(ShortSays(C)), std::string::npos) << Run.Output;
    EXPECT_LE(Run.PeakKiB, LimitKiB) << "peak resident memory in KiB";
    std::printf("peak %ld KiB: %s\n", Run.PeakKiB, File.c_str());
  }
  // With a low pixel limit and a small budget the platform's reader refuses
  // before it allocates as well.
  const std::string Fallback = Write("fallback.bmp", hostile::FallbackBmp(9, 25165824));
  const TRun Run =
      RunDecode({Fallback}, {"IMBREL_MAX_PIXELS=10000000", "IMBREL_MEMORY_BUDGET=200"});
  EXPECT_EQ(Run.Status, 1) << Run.Output;
  EXPECT_LE(Run.PeakKiB, LimitKiB);
}

// A BMP the bitmap module refuses for its layout (16 bits per pixel) before it
// looks at the size goes to the platform decoder, which must refuse a claim
// above the pixel limit before decoding too: a 70-byte file once took well
// over a gigabyte and many seconds to be refused after it was decoded.
TEST_F(HostileFormatsTest, PlatformBmpDecoderRefusesClaimsAboveTheLimitFirst) {
  const std::string File = Write("deep.bmp", hostile::Bmp(9, 16000000, 16));
  const TRun Run = RunDecode({File}, {"IMBREL_MAX_PIXELS=1000000"});
  EXPECT_EQ(Run.Status, 1);
  EXPECT_NE(Run.Output.find("EImageError: Picture too large: 9 x 16000000 pixels exceeds the "
                            "limit of 1000000 pixels"),
            std::string::npos)
      << Run.Output;
  long LimitKiB = 100 * 1024;
#if defined(__SANITIZE_ADDRESS__)
  LimitKiB = 400 * 1024;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  LimitKiB = 400 * 1024;
#endif
#endif
  EXPECT_LE(Run.PeakKiB, LimitKiB) << "peak resident memory in KiB";
}

TEST_F(HostileFormatsTest, DecodeToolRefusesAPpmAboveTheLimit) {
  const std::string File = Write("small.bmp", hostile::Bmp(8, 8, 24));
  const TRun Fits = RunDecode({File, "-o", Dir + "/fits.ppm"});
  EXPECT_EQ(Fits.Status, 0) << Fits.Output;
  EXPECT_TRUE(fs::exists(Dir + "/fits.ppm"));

  // 64 pixels pass a limit of 100; their 192-byte PPM does not.
  const TRun Refused = RunDecode({File, "-o", Dir + "/big.ppm"}, {"IMBREL_MAX_PIXELS=100"});
  EXPECT_EQ(Refused.Status, 1);
  EXPECT_NE(Refused.Output.find("PPM of 192 bytes exceeds the limit of 100 bytes"),
            std::string::npos)
      << Refused.Output;
  EXPECT_FALSE(fs::exists(Dir + "/big.ppm"));
}

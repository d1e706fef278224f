// Camera RAW through TRawGraphic: DNG files written here with libtiff (a
// known scene as a colour mosaic or linear RGB, with JPEG and bitmap
// previews), compared with libraw's own tools where they are installed.

#include "formats/RawGraphic.h"
#include "imaging/Orientation.h"
#include "platform/MemoryBudget.h"
#include "tests/formats/hostile/HostileFixtures.h"
#include "tests/formats/rawsvg/RawSvgTestSupport.h"
#include "tools/dng_fixtures/DngWriter.h"

#include <gmock/gmock.h>

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

using namespace rawsvgtest;
using dngfixture::TDng;
using dngfixture::TPreview;

namespace {

struct TScreen {
  int Width = 0, Height = 0;
};
TScreen Screen() {
  TScreen S;
  ScreenPixelSize(S.Width, S.Height);
  return S;
}

// Checks that Picture shows the fixture scene upright: each quadrant's
// centre has the colour the stored scene has there once turned by
// Orientation.
void ExpectScene(const TDibGraphic& Picture, int Orientation) {
  const int W = Picture.Width(), H = Picture.Height();
  const int StoredW = Orientation >= 5 ? H : W, StoredH = Orientation >= 5 ? W : H;
  for (const auto& [FX, FY] : {std::pair{1, 1}, {3, 1}, {1, 3}, {3, 3}}) {
    const int X = W * FX / 4, Y = H * FY / 4;
    int SX = 0, SY = 0;
    dngfixture::StoredPixelOf(Orientation, X, Y, StoredW, StoredH, SX, SY);
    uint8_t Rgb[3];
    dngfixture::QuadrantRgb(SX, SY, StoredW, StoredH, Rgb);
    EXPECT_EQ(Hue(Picture.GetPixelColor(X, Y)), Hue(MakeRgb(Rgb[0], Rgb[1], Rgb[2])))
        << "at (" << X << ", " << Y << ") of " << W << " x " << H;
  }
}

class RawGraphicTest : public TScratch {
protected:
  void TearDown() override {
    SetOrientationEnabled(true);
    TMemoryBudget::SetLimit(0);
    TScratch::TearDown();
  }
  std::string WriteDng(const std::string& Name, const TDng& Fixture) {
    const std::string P = Path(Name);
    const std::string Error = dngfixture::WriteDng(P, Fixture);
    EXPECT_EQ(Error, "");
    return P;
  }
  static const TRawGraphic& Raw(const std::unique_ptr<TDibGraphic>& G) {
    const auto* R = dynamic_cast<const TRawGraphic*>(G.get());
    if (!R) throw std::runtime_error("not decoded by TRawGraphic");
    return *R;
  }
};

} // namespace

TEST(RawRegistry, CameraRawAndSvgExtensionsHaveTheirClasses) {
  for (const char* Ext : {"dng", "CR2", "cr3", "crw", "nef", "nrw", "arw", "srf", "sr2", "orf", "rw2",
                          "rwl", "raf", "pef", "srw", "erf", "kdc", "dcr", "mrw", "3fr", "fff",
                          "iiq", "mos", "mef"}) {
    const TDibGraphicClass C = GraphicClassForFile(std::string("photo.") + Ext);
    ASSERT_NE(C, nullptr) << Ext;
    EXPECT_EQ(C->Name, "TRawGraphic") << Ext;
  }
  for (const char* Ext : {"svg", "SVGZ"}) {
    const TDibGraphicClass C = GraphicClassForFile(std::string("drawing.") + Ext);
    ASSERT_NE(C, nullptr) << Ext;
    EXPECT_EQ(C->Name, "TSvgGraphic") << Ext;
  }
}

// The preview rule needs the screen's size on the decode-ahead worker too,
// where Qt's screens may not be asked: it gets what the GUI thread read last.
TEST(ScreenSize, WorkerThreadsSeeWhatTheGuiThreadLastRead) {
  const QScreen* Primary = QGuiApplication::primaryScreen();
  ASSERT_NE(Primary, nullptr);
  const TScreen Here = Screen();
  EXPECT_EQ(Here.Width, int(std::lround(Primary->size().width() * Primary->devicePixelRatio())));
  EXPECT_EQ(Here.Height, int(std::lround(Primary->size().height() * Primary->devicePixelRatio())));
  TScreen There;
  std::thread([&] { There = Screen(); }).join();
  EXPECT_EQ(There.Width, Here.Width);
  EXPECT_EQ(There.Height, Here.Height);
}

// Without a preview large enough, libraw develops the sensor's picture: the
// same pixels dcraw_emu makes with the camera's white balance (half size when
// that still fills the screen), upright by the file's orientation.
TEST_F(RawGraphicTest, DevelopsTheSensorPictureAsLibrawsOwnToolDoes) {
  const TScreen S = Screen();
  struct TRow {
    const char* Name;
    int Width, Height;
    bool Linear;
    int Orientation;
    bool Half;
  };
  const TRow Rows[] = {
      {"mosaic, upright", 96, 64, false, 1, false},
      {"mosaic, a quarter clockwise", 96, 64, false, 6, false},
      {"mosaic, a quarter anticlockwise", 90, 60, false, 8, false},
      {"mosaic, transposed", 64, 48, false, 5, false},
      {"linear RGB, half a turn", 80, 50, true, 3, false},
      // Half the sensor is still wider than the screen.
      {"mosaic, half size", 2 * S.Width + 100, 600, false, 1, true},
  };
  const std::string Tool = FindTool("dcraw_emu");
  for (const TRow& R : Rows) {
    SCOPED_TRACE(R.Name);
    const std::string File = WriteDng("sensor.dng", TDng{R.Width, R.Height, R.Linear, R.Orientation, {}, false});
    const auto G = DecodeFile(File);
    EXPECT_EQ(Raw(G).Source(), TRawGraphic::rsDeveloped);
    const int W = R.Half ? R.Width / 2 : R.Width, H = R.Half ? R.Height / 2 : R.Height;
    EXPECT_EQ(G->Width(), R.Orientation >= 5 ? H : W);
    EXPECT_EQ(G->Height(), R.Orientation >= 5 ? W : H);
    EXPECT_EQ(G->ImageFormat(), ifTrueColor);
    EXPECT_EQ(G->ColorDescription(), nullptr) << "developed pictures are sRGB";
    ExpectScene(*G, R.Orientation);
    if (Tool.empty()) continue;
    const std::string Out = Path("reference.ppm");
    const std::string Command = Tool + " -w" + (R.Half ? " -h" : "") + " -Z " + Out + " " + File;
    ASSERT_EQ(std::system(Command.c_str()), 0) << Command;
    TPpm Reference;
    ASSERT_TRUE(ReadPpm(Out, Reference));
    EXPECT_LE(MaxDifference(*G, Reference), 1);
  }
  if (Tool.empty()) GTEST_SKIP() << "dcraw_emu (libraw's tools) is not installed: compared with the scene only";
}

// The largest preview is shown when it is at least as large as the screen
// (or as the sensor's picture), turned upright exactly once.
TEST_F(RawGraphicTest, ShowsTheLargestPreviewWhenItFillsTheScreen) {
  const TScreen S = Screen();
  const int BigW = S.Width + 64, BigH = S.Width * 2 / 3 + 64; // wider than the screen
  TPreview Big{BigW, BigH};
  TPreview Small{BigW / 4, BigH / 4};
  TPreview OwnExif = Big;
  OwnExif.ExifOrientation = 6;
  TPreview Upright{BigH, BigW};
  Upright.Upright = true;
  TPreview Bitmap = Big;
  Bitmap.Kind = TPreview::pkBitmap;
  TPreview TinySensorSized{40, 30};
  struct TRow {
    const char* Name;
    TDng Fixture;
    TRawGraphic::TRawSource Source;
    int Width, Height; // shown, upright
  };
  const TRow Rows[] = {
      {"JPEG preview turned by the file", TDng{120, 80, false, 6, {Big}, false},
       TRawGraphic::rsPreview, BigH, BigW},
      {"JPEG preview with an orientation of its own", TDng{120, 80, false, 6, {OwnExif}, false},
       TRawGraphic::rsPreview, BigH, BigW},
      {"JPEG preview the camera stored upright", TDng{120, 80, false, 6, {Upright}, false},
       TRawGraphic::rsPreview, BigH, BigW},
      {"bitmap preview in the first directory", TDng{120, 80, false, 1, {Bitmap}, true},
       TRawGraphic::rsPreview, BigW, BigH},
      {"the larger of two previews", TDng{120, 80, false, 3, {Small, Big}, false},
       TRawGraphic::rsPreview, BigW, BigH},
      {"a preview smaller than screen and sensor", TDng{400, 300, false, 8, {Small}, false},
       TRawGraphic::rsDeveloped, 300, 400},
      {"a small preview as large as the sensor", TDng{40, 30, false, 1, {TinySensorSized}, false},
       TRawGraphic::rsPreview, 40, 30},
  };
  const std::string Tool = FindTool("simple_dcraw");
  for (const TRow& R : Rows) {
    SCOPED_TRACE(R.Name);
    const std::string File = WriteDng("preview.dng", R.Fixture);
    const auto G = DecodeFile(File);
    EXPECT_EQ(Raw(G).Source(), R.Source);
    EXPECT_EQ(G->Width(), R.Width);
    EXPECT_EQ(G->Height(), R.Height);
    ExpectScene(*G, R.Fixture.Orientation);
    if (R.Source != TRawGraphic::rsPreview || Tool.empty() ||
        R.Fixture.Previews.back().Kind != TPreview::pkJpeg)
      continue;
    // Stored as libraw extracts it: the very pixels of the preview it picks.
    SetOrientationEnabled(false);
    const auto Stored = DecodeFile(File);
    const std::string Command = "cd " + Dir + " && " + Tool + " -e preview.dng";
    ASSERT_EQ(std::system(Command.c_str()), 0);
    const auto Extracted = DecodeFile(Path("preview.dng.thumb.jpg"));
    SetOrientationEnabled(true);
    EXPECT_TRUE(SamePixels(*Stored, *Extracted));
  }
}

TEST_F(RawGraphicTest, OrientationOffLeavesPicturesAsStored) {
  const TScreen S = Screen();
  TPreview Big{S.Width + 64, S.Width / 2 + 32};
  TPreview OwnExif = Big;
  OwnExif.ExifOrientation = 6;
  SetOrientationEnabled(false);
  for (const TDng& Fixture : {TDng{96, 64, false, 6, {}, false}, TDng{96, 64, false, 6, {Big}, false},
                           TDng{96, 64, false, 8, {OwnExif}, false}}) {
    const auto G = DecodeFile(WriteDng("stored.dng", Fixture));
    const int W = Fixture.Previews.empty() ? Fixture.Width : Big.Width;
    const int H = Fixture.Previews.empty() ? Fixture.Height : Big.Height;
    EXPECT_EQ(G->Width(), W);
    EXPECT_EQ(G->Height(), H);
    ExpectScene(*G, 1);
  }
}

// A camera set to Adobe RGB makes its previews in Adobe RGB and says so in
// EXIF; the sensor's picture is developed into sRGB whatever the setting.
TEST_F(RawGraphicTest, PreviewsInAdobeRgbSayWhatTheirColoursMean) {
  const TScreen S = Screen();
  TPreview Big{S.Width + 64, S.Width / 2 + 32};
  struct TRow {
    const char* Name;
    TDng Fixture;
    bool AdobeRgb;
  };
  const TRow Rows[] = {
      {"preview, Adobe RGB", TDng{96, 64, false, 1, {Big}, false, 2}, true},
      {"preview, sRGB", TDng{96, 64, false, 1, {Big}, false, 1}, false},
      {"preview, nothing said", TDng{96, 64, false, 1, {Big}, false, 0}, false},
      {"developed, Adobe RGB set", TDng{96, 64, false, 1, {}, false, 2}, false},
  };
  for (const TRow& R : Rows) {
    SCOPED_TRACE(R.Name);
    const auto G = DecodeFile(WriteDng("colour.dng", R.Fixture));
    ASSERT_EQ(G->ColorDescription() != nullptr, R.AdobeRgb);
    if (!R.AdobeRgb) continue;
    const TColorDescription& D = *G->ColorDescription();
    EXPECT_TRUE(D.Icc.empty());
    EXPECT_DOUBLE_EQ(D.GreenX, 0.21);
    EXPECT_DOUBLE_EQ(D.GreenY, 0.71);
    EXPECT_DOUBLE_EQ(D.RedX, 0.64);
    EXPECT_DOUBLE_EQ(D.BlueY, 0.06);
    EXPECT_DOUBLE_EQ(D.WhiteX, 0.3127);
    EXPECT_EQ(D.Transfer, TColorDescription::tfGamma);
    EXPECT_NEAR(D.Gamma, 2.2, 0.001);
  }
}

TEST_F(RawGraphicTest, RefusesEmptyTruncatedAndForeignFilesNamingTheFormat) {
  const TScreen S = Screen();
  TPreview Big{S.Width + 64, S.Width / 2 + 32};
  const std::string Whole = ReadFile(WriteDng("whole.dng", TDng{96, 64, false, 1, {}, false}));
  ASSERT_GT(Whole.size(), 96u * 64 * 2);
  const std::string NotRaw = "P6\n2 2\n255\n" + std::string(12, '\x7f');
  struct TRow {
    const char* Name;
    std::string Bytes;
    const char* Expected;
  };
  const TRow Rows[] = {
      {"empty", "", "ERawError: Camera RAW: the file is empty"},
      {"the header cut", Whole.substr(0, 100),
       "ERawError: Camera RAW: Unsupported file format or not RAW file"},
      {"the sensor data cut", Whole.substr(0, Whole.size() / 2),
       "ERawError: Camera RAW: Unsupported file format or not RAW file"},
      {"not a RAW file", NotRaw, "ERawError: Camera RAW: Input/output error"},
  };
  for (const TRow& R : Rows) {
    SCOPED_TRACE(R.Name);
    EXPECT_EQ(DecodeFailure(R.Bytes, "dng"), R.Expected);
  }
  // A damaged preview gives way to the sensor's picture: here its JPEG data
  // lose their frame header.
  std::string Damaged = ReadFile(WriteDng("p.dng", TDng{96, 64, false, 1, {Big}, false}));
  const size_t Frame = Damaged.find("\xFF\xC0\x00\x11", Damaged.rfind("\xFF\xD8\xFF\xE0"));
  ASSERT_NE(Frame, std::string::npos);
  Damaged[Frame] = Damaged[Frame + 1] = 0;
  TBytesStream Stream(Damaged.data(), int64_t(Damaged.size()));
  TRawGraphic G;
  G.LoadFromStream(Stream);
  EXPECT_EQ(G.Source(), TRawGraphic::rsDeveloped);
  EXPECT_EQ(G.Width(), 96);
}

// A few hundred bytes claiming a sensor of hundreds of megapixels: refused
// from the claim, before libraw takes memory or time for it.
TEST_F(RawGraphicTest, TinyFileClaimingAHugeSensorIsRefusedBeforeDecoding) {
  ::alarm(60); // a hang ends the run
  for (const auto& [W, H] : {std::pair{30000u, 30000u}, {20000u, 12000u}, {4000u, 3000u}}) {
    const std::string Bytes = hostile::Dng(W, H);
    SCOPED_TRACE(std::to_string(W) + " x " + std::to_string(H) + " in " + std::to_string(Bytes.size()) + " bytes");
    const uint64_t Before = TMemoryBudget::Used();
    EXPECT_THAT(DecodeFailure(Bytes, "dng"),
                ::testing::HasSubstr("ERawError: Camera RAW: the file holds 64 bytes of sensor data, "
                                     "too few for its " + std::to_string(W) + " x " +
                                     std::to_string(H) + " sensor picture"));
    EXPECT_EQ(TMemoryBudget::Used(), Before);
  }
  ::alarm(0);
}

// Two kinds of TIFF directory crash libraw 0.20 (the fuzzer found both, each
// one changed field away from a fixture): a colour filter pattern of 36
// entries (an X-Trans mosaic) without a 6 x 6 repeat before it, stopped
// while libraw reads the tags; and a bitmap preview with a compression libraw
// does not know (0 here), which it would read as a layered bitmap three times
// over into its buffer: that preview is not read, the sensor's picture is
// developed instead.
TEST_F(RawGraphicTest, DirectoriesThatCrashLibrawAreKeptFromIt) {
  std::string Pattern36 = hostile::Dng(64, 48);
  const size_t Pattern = Pattern36.find(std::string("\x8E\x82\x01\x00\x04\x00\x00\x00", 8));
  ASSERT_NE(Pattern, std::string::npos);
  Pattern36[Pattern + 4] = 36;

  TPreview Bitmap{24, 16};
  Bitmap.Kind = TPreview::pkBitmap;
  std::string Compression0 = ReadFile(WriteDng("c0.dng", TDng{32, 24, false, 1, {Bitmap}, true}));
  const std::string Uncompressed("\x03\x01\x03\x00\x01\x00\x00\x00\x01\x00", 10);
  const size_t Compression = Compression0.find(Uncompressed); // the preview's directory comes first
  ASSERT_NE(Compression, std::string::npos);
  Compression0[Compression + 8] = 0;

  EXPECT_EQ(DecodeFailure(Pattern36, "dng"),
            "ERawError: Camera RAW: a colour filter pattern of 36 entries without its 6 x 6 repeat");
  TBytesStream Stream(Compression0.data(), int64_t(Compression0.size()));
  TRawGraphic Developed;
  Developed.LoadFromStream(Stream);
  EXPECT_EQ(Developed.Source(), TRawGraphic::rsDeveloped);
  EXPECT_EQ(Developed.Width(), 32);

  // With its 6 x 6 repeat (and 36 entries inside the file) libraw reads the
  // pattern; what it makes of this sensor data is its own business.
  const size_t Repeat =
      Pattern36.find(std::string("\x8D\x82\x03\x00\x02\x00\x00\x00\x02\x00\x02\x00", 12));
  ASSERT_NE(Repeat, std::string::npos);
  Pattern36[Repeat + 8] = Pattern36[Repeat + 10] = 6;
  Pattern36[Pattern + 8] = char(200); // the entries at offset 200, inside the file
  Pattern36[Pattern + 9] = Pattern36[Pattern + 10] = Pattern36[Pattern + 11] = 0;
  EXPECT_THAT(DecodeFailure(Pattern36, "dng"),
              ::testing::Not(::testing::HasSubstr("colour filter pattern")));
}

TEST_F(RawGraphicTest, DevelopingStaysWithinTheMemoryBudget) {
  const std::string File = WriteDng("budget.dng", TDng{400, 300, false, 1, {}, false});
  const uint64_t Before = TMemoryBudget::Used();
  // Room for the picture but not for libraw's working memory.
  TMemoryBudget::SetLimit(Before + 400 * 300 * 4);
  try {
    DecodeFile(File);
    ADD_FAILURE() << "decoded beyond the budget";
  } catch (const ERawError& E) {
    EXPECT_EQ(E.Message(), "Camera RAW: not enough memory to develop a 400 x 300 picture");
  }
  EXPECT_EQ(TMemoryBudget::Used(), Before);
  TMemoryBudget::SetLimit(0);
  EXPECT_EQ(DecodeFile(File)->Width(), 400);
}

// Decoding ahead runs on a worker thread: it sees the screen the GUI thread
// read last and makes the same picture.
TEST_F(RawGraphicTest, DecodesOnAWorkerThreadAsOnTheGuiThread) {
  const TScreen S = Screen();
  const std::string Files[] = {
      WriteDng("a.dng", TDng{120, 80, false, 6, {TPreview{S.Width + 10, S.Height / 2}}, false}),
      WriteDng("b.dng", TDng{120, 80, false, 8, {TPreview{S.Width / 2, S.Height / 3}}, false})};
  for (const std::string& File : Files) {
    const auto Here = DecodeFile(File);
    std::unique_ptr<TDibGraphic> There;
    std::string Failure;
    std::thread Worker([&] {
      try {
        There = DecodeFile(File);
      } catch (const Exception& E) {
        Failure = E.Message();
      }
    });
    Worker.join();
    ASSERT_EQ(Failure, "");
    ASSERT_TRUE(There);
    EXPECT_EQ(Raw(There).Source(), Raw(Here).Source());
    EXPECT_TRUE(SamePixels(*There, *Here));
  }
}

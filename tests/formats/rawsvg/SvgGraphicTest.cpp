// SVG through TSvgGraphic and the platform's SVG object: natural sizes,
// drawn pixels, compressed documents, hostile documents and references to
// files, on the GUI thread and off it.

#include "formats/SvgGraphic.h"
#include "platform/MemoryBudget.h"
#include "platform/SvgDocument.h"
#include "tests/formats/rawsvg/RawSvgTestSupport.h"

#include <gmock/gmock.h>
#include <zlib.h>

#include <QByteArray>

#include <unistd.h>

#include <thread>

using namespace rawsvgtest;

namespace {

const std::string kSvgOpen = "<svg xmlns=\"http://www.w3.org/2000/svg\" "
                             "xmlns:xlink=\"http://www.w3.org/1999/xlink\"";

std::unique_ptr<TSvgGraphic> LoadSvg(const std::string& Text) {
  auto G = std::make_unique<TSvgGraphic>();
  TBytesStream S(Text.data(), int64_t(Text.size()));
  G->LoadFromStream(S);
  return G;
}

std::string Gzip(const std::string& Text) {
  z_stream Z{};
  EXPECT_EQ(deflateInit2(&Z, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::string Out(deflateBound(&Z, uLong(Text.size())), '\0');
  Z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Text.data()));
  Z.avail_in = uInt(Text.size());
  Z.next_out = reinterpret_cast<Bytef*>(Out.data());
  Z.avail_out = uInt(Out.size());
  EXPECT_EQ(deflate(&Z, Z_FINISH), Z_STREAM_END);
  Out.resize(Z.total_out);
  deflateEnd(&Z);
  return Out;
}

// A 3 x 2 red PNG.
std::string RedPng() {
  std::string Rows;
  for (int y = 0; y < 2; ++y)
    Rows += std::string("\0", 1) + std::string("\xFF\x00\x00\xFF\x00\x00\xFF\x00\x00", 9);
  uLongf Size = compressBound(uLong(Rows.size()));
  std::string Packed(Size, '\0');
  compress(reinterpret_cast<Bytef*>(Packed.data()), &Size,
           reinterpret_cast<const Bytef*>(Rows.data()), uLong(Rows.size()));
  Packed.resize(Size);
  auto Chunk = [](const std::string& Type, const std::string& Data) {
    std::string C;
    for (int s : {24, 16, 8, 0})
      C += char(Data.size() >> s & 0xFF);
    const std::string Body = Type + Data;
    const uLong Crc = crc32(0, reinterpret_cast<const Bytef*>(Body.data()), uInt(Body.size()));
    C += Body;
    for (int s : {24, 16, 8, 0})
      C += char(Crc >> s & 0xFF);
    return C;
  };
  const std::string Header("\0\0\0\x03\0\0\0\x02\x08\x02\0\0\0", 13);
  return std::string("\x89PNG\r\n\x1A\n", 8) + Chunk("IHDR", Header) + Chunk("IDAT", Packed) +
         Chunk("IEND", "");
}

class SvgGraphicTest : public TScratch {
protected:
  void TearDown() override {
    SetPixelLimit(0);
    TMemoryBudget::SetLimit(0);
    TScratch::TearDown();
  }
};

} // namespace

TEST(SvgNaturalSize, FromSizeViewBoxOrDrawing) {
  struct TRow {
    const char* Name;
    std::string Attributes, Content;
    int Width, Height;
  };
  const std::string Rect = "<rect x=\"5\" y=\"5\" width=\"50\" height=\"20\"/>";
  const TRow Rows[] = {
      {"pixels", " width=\"120\" height=\"80px\"", Rect, 120, 80},
      {"inches and centimetres at 96 dpi", " width=\"2in\" height=\"1cm\"", Rect, 192, 38},
      {"millimetres and points", " width=\"50mm\" height=\"10pt\"", Rect, 189, 13},
      {"picas and ems", " width=\"2pc\" height=\"3em\"", Rect, 32, 48},
      {"viewBox only", " viewBox=\"0 0 24 12\"", Rect, 24, 12},
      {"percentages take the viewBox", " width=\"100%\" height=\"100%\" viewBox=\"0,0,300,200\"", Rect, 300, 200},
      {"width with a viewBox", " width=\"300\" viewBox=\"0 0 30 10\"", Rect, 300, 100},
      {"height with a viewBox", " height=\"50\" viewBox=\"0 0 30 10\"", Rect, 150, 50},
      {"width and the drawing's proportions", " width=\"300\"", "<rect width=\"100\" height=\"50\"/>", 300, 150},
      {"nothing: the drawing from the origin, 1024 on the long side", "", Rect, 1024, 465},
      {"nothing, tall drawing", "", "<circle cx=\"10\" cy=\"40\" r=\"10\"/>", 410, 1024},
      {"nothing and nothing drawn", "", "", 1024, 1024},
  };
  for (const TRow& R : Rows) {
    SCOPED_TRACE(R.Name);
    const auto G = LoadSvg(kSvgOpen + R.Attributes + ">" + R.Content + "</svg>");
    EXPECT_EQ(G->Width(), R.Width);
    EXPECT_EQ(G->Height(), R.Height);
    EXPECT_EQ(G->ImageFormat(), ifTrueColor);
    EXPECT_EQ(G->XDpi(), 96);
  }
}

// Shapes land where the document puts them, scaled from the viewBox,
// antialiased, on white; a compressed document draws the same.
TEST(SvgDrawing, ShapesOnWhiteScaledFromTheViewBox) {
  const std::string Text = kSvgOpen + " width=\"100\" height=\"80\" viewBox=\"0 0 50 40\">"
                           "<rect x=\"5\" y=\"5\" width=\"15\" height=\"10\" fill=\"#ff0000\"/>"
                           "<circle cx=\"35\" cy=\"20\" r=\"8\" fill=\"blue\"/>"
                           "<polygon points=\"5,35 20,35 12.5,22\" fill=\"rgb(0,160,0)\"/>"
                           "<rect x=\"30\" y=\"32\" width=\"15\" height=\"6\" fill=\"black\" "
                           "fill-opacity=\"0.5\"/>"
                           "</svg>";
  const auto G = LoadSvg(Text);
  ASSERT_EQ(G->Width(), 100);
  ASSERT_EQ(G->Height(), 80);
  EXPECT_EQ(G->GetPixelColor(20, 20), 0xFF0000u) << "rectangle, twice its size";
  EXPECT_EQ(G->GetPixelColor(70, 40), 0x0000FFu) << "circle centre";
  EXPECT_EQ(G->GetPixelColor(25, 62), 0x00A000u) << "triangle";
  EXPECT_EQ(G->GetPixelColor(1, 1), 0xFFFFFFu) << "background";
  EXPECT_EQ(G->GetPixelColor(99, 0), 0xFFFFFFu);
  const uint32_t Half = G->GetPixelColor(75, 70);
  EXPECT_NEAR(int(Half >> 16), 128, 2) << "half-transparent black over white";
  // The circle's edge blends (antialiasing): a pixel on it is neither colour.
  const uint32_t Edge = G->GetPixelColor(70, 24);
  bool Blended = false;
  for (int x = 70; x < 100 && !Blended; ++x) {
    const uint32_t C = G->GetPixelColor(x, 40);
    Blended = C != 0x0000FFu && C != 0xFFFFFFu;
  }
  EXPECT_TRUE(Blended) << std::hex << Edge;

  const auto Z = LoadSvg(Gzip(Text));
  EXPECT_TRUE(SamePixels(*G, *Z)) << "SVGZ";
}

TEST_F(SvgGraphicTest, HostileDocumentsAreRefusedNamingTheFormat) {
  std::string Laughs = "<?xml version=\"1.0\"?><!DOCTYPE svg [<!ENTITY l0 \"lol\">";
  for (int i = 1; i < 10; ++i) {
    Laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j)
      Laughs += "&l" + std::to_string(i - 1) + ";";
    Laughs += "\">";
  }
  Laughs += "]>" + kSvgOpen + " width=\"10\" height=\"10\"><text>&l9;</text></svg>";
  std::string Deep = kSvgOpen + " width=\"10\" height=\"10\">";
  for (int i = 0; i < 100000; ++i)
    Deep += "<g>";
  std::string Uses = kSvgOpen + " width=\"10\" height=\"10\"><defs><rect id=\"u0\" width=\"1\" height=\"1\"/>";
  for (int i = 1; i <= 7; ++i) {
    Uses += "<g id=\"u" + std::to_string(i) + "\">";
    for (int j = 0; j < 10; ++j)
      Uses += "<use xlink:href=\"#u" + std::to_string(i - 1) + "\"/>";
    Uses += "</g>";
  }
  Uses += "</defs><use xlink:href=\"#u7\"/></svg>";
  std::string Chain = kSvgOpen + " width=\"10\" height=\"10\"><defs><rect id=\"c0\" width=\"1\" height=\"1\"/>";
  for (int i = 1; i <= 600; ++i)
    Chain += "<g id=\"c" + std::to_string(i) + "\"><use xlink:href=\"#c" + std::to_string(i - 1) + "\"/></g>";
  Chain += "</defs><use xlink:href=\"#c600\"/></svg>";
  std::string Many = kSvgOpen + " width=\"10\" height=\"10\">";
  for (int i = 0; i < 100001; ++i)
    Many += "<g/>";
  Many += "</svg>";
  const std::string Spaces(40u << 20, ' ');
  struct TRow {
    const char* Name;
    std::string Bytes;
    const char* Expected;
  };
  const TRow Rows[] = {
      {"empty", "", "SVG: the file is empty"},
      {"entity expansion (billion laughs)", Laughs,
       "SVG: not a valid document: Entity expands to more characters than the entity expansion limit."},
      {"deep nesting", Deep, "SVG: elements nest deeper than 512 levels"},
      {"references drawing ten million elements", Uses, "SVG: the references draw more than 1000000 elements"},
      {"a chain of 600 references", Chain, "SVG: references nest deeper than 512 levels"},
      {"a reference cycle",
       kSvgOpen + " width=\"10\" height=\"10\"><g id=\"a\"><use xlink:href=\"#b\"/></g>"
                  "<g id=\"b\"><use xlink:href=\"#a\"/></g></svg>",
       "SVG: a reference refers to itself"},
      {"too many elements", Many, "SVG: the document has more than 100000 elements"},
      {"40 MiB of text", kSvgOpen + ">" + Spaces + "</svg>", "SVG: the document is larger than 32 MiB"},
      {"40 MiB inside 40 KiB of gzip", Gzip(kSvgOpen + ">" + Spaces + "</svg>"),
       "SVG: the document is larger than 32 MiB"},
      {"cut gzip data", Gzip(kSvgOpen + "/>").substr(0, 12), "SVG: the gzip data ends early"},
      {"not SVG", "<html><body/></html>", "SVG: not an SVG document"},
      {"not XML", "<svg <<", "SVG: not a valid document: "},
      {"a picture too large", kSvgOpen + " width=\"100000\" height=\"100000\"/>",
       "Picture too large: 100000 x 100000 pixels exceeds the limit of 1000000000 pixels"},
  };
  ::alarm(120); // a hang ends the run
  for (const TRow& R : Rows) {
    SCOPED_TRACE(R.Name);
    const uint64_t Before = TMemoryBudget::Used();
    EXPECT_THAT(DecodeFailure(R.Bytes, "svg"),
                ::testing::StartsWith(std::string("ESvgError: ") + R.Expected));
    EXPECT_EQ(TMemoryBudget::Used(), Before);
  }
  ::alarm(0);
}

TEST_F(SvgGraphicTest, DocumentsAndTheirImagesStayWithinTheBudget) {
  std::string Big = kSvgOpen + " width=\"10\" height=\"10\">";
  for (int i = 0; i < 20000; ++i)
    Big += "<rect width=\"1\" height=\"1\"/>";
  Big += "</svg>";
  const uint64_t Before = TMemoryBudget::Used();
  TMemoryBudget::SetLimit(Before + (64u << 20)); // less than 20000 elements are expected to take
  EXPECT_EQ(DecodeFailure(Big, "svg"), "ESvgError: SVG: not enough memory for a document of 20001 elements");
  EXPECT_EQ(TMemoryBudget::Used(), Before);
  TMemoryBudget::SetLimit(0);
  EXPECT_EQ(DecodeFailure(Big, "svg"), "");

  // An image inside the document claiming more pixels than a picture may have.
  SetPixelLimit(4);
  const std::string Png = RedPng(); // 6 pixels
  const QByteArray Base64 = QByteArray(Png.data(), qsizetype(Png.size())).toBase64();
  EXPECT_EQ(DecodeFailure(kSvgOpen + " width=\"2\" height=\"2\"><image width=\"2\" height=\"2\" "
                                     "xlink:href=\"data:image/png;base64," + Base64.toStdString() + "\"/></svg>",
                          "svg"),
            "ESvgError: SVG: its images hold more than 4 pixels");
}

// Images named by path or address are not read; images inside the document
// are drawn.
TEST_F(SvgGraphicTest, ReadsNoFileTheDocumentNames) {
  const std::string Red = Write("red.png", RedPng());
  const std::string Png = ReadFile(Red);
  const QByteArray Base64 = QByteArray(Png.data(), qsizetype(Png.size())).toBase64();
  auto ImageDocument = [](const std::string& Href) {
    return kSvgOpen + " width=\"30\" height=\"20\"><image x=\"0\" y=\"0\" width=\"30\" height=\"20\" "
                      "preserveAspectRatio=\"none\" xlink:href=\"" + Href + "\"/></svg>";
  };
  char Old[4096];
  ASSERT_NE(::getcwd(Old, sizeof Old), nullptr);
  ASSERT_EQ(::chdir(Dir.c_str()), 0); // relative names would resolve here
  for (const std::string& Href : {Red, std::string("red.png"), " " + Red, "file://" + Red,
                                  std::string("http://127.0.0.1:9/red.png")}) {
    SCOPED_TRACE(Href);
    const auto G = LoadSvg(ImageDocument(Href));
    EXPECT_EQ(G->GetPixelColor(15, 10), 0xFFFFFFu) << "nothing read";
  }
  const auto Inside = LoadSvg(ImageDocument("data:image/png;base64," + Base64.toStdString()));
  EXPECT_EQ(::chdir(Old), 0);
  EXPECT_EQ(Inside->GetPixelColor(15, 10), 0xFF0000u);
  // Dropping the reference keeps the rest of the document as it was.
  const auto Mixed = LoadSvg(kSvgOpen + " width=\"30\" height=\"20\"><rect width=\"10\" height=\"20\" "
                                        "fill=\"lime\"/><image x=\"10\" width=\"20\" height=\"20\" "
                                        "xlink:href=\"" + Red + "\"/><a xlink:href=\"https://example.org/\">"
                                        "<rect x=\"25\" width=\"5\" height=\"20\" fill=\"blue\"/></a></svg>");
  EXPECT_EQ(Mixed->GetPixelColor(5, 10), 0x00FF00u);
  EXPECT_EQ(Mixed->GetPixelColor(15, 10), 0xFFFFFFu);
  EXPECT_EQ(Mixed->GetPixelColor(27, 10), 0x0000FFu);
}

// Decoding ahead runs on a worker thread: the document is read and drawn
// there (text included) as on the GUI thread.
TEST(SvgThreads, DrawsOnAWorkerThreadAsOnTheGuiThread) {
  const std::string Text = kSvgOpen + " width=\"160\" height=\"60\"><text x=\"5\" y=\"45\" "
                                      "font-size=\"40\" fill=\"black\">Hg</text>"
                                      "<rect x=\"120\" y=\"10\" width=\"30\" height=\"30\" fill=\"red\"/></svg>";
  const auto Here = LoadSvg(Text);
  int Dark = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 110; ++x)
      Dark += (Here->GetPixelColor(x, y) & 0xFF) < 128;
  EXPECT_GT(Dark, 100) << "the text is drawn";
  std::unique_ptr<TSvgGraphic> There;
  std::string Failure;
  std::thread Worker([&] {
    try {
      There = LoadSvg(Text);
    } catch (const Exception& E) {
      Failure = E.Message();
    }
  });
  Worker.join();
  ASSERT_EQ(Failure, "");
  ASSERT_TRUE(There);
  EXPECT_TRUE(SamePixels(*Here, *There));
}

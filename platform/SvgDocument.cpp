#include "platform/SvgDocument.h"

#include "platform/MemoryBudget.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHash>
#include <QImageReader>
#include <QPainter>
#include <QRectF>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const std::string& Text) {
  throw ESvgError("SVG: " + Text);
}

// Size assumed for a document that gives none, on its long side.
constexpr double kDefaultLongSide = 1024.0;
// Memory Qt's picture of a document takes, as measured with Qt 6.4: about
// 0.5 KiB per plain element and up to 5 KiB per element with styles of its
// own, plus a few bytes per byte of text (path data).
constexpr uint64_t kBytesPerElement = 6 * 1024;
constexpr uint64_t kBytesPerTextByte = 8;
// Steps the reference analysis may take before a document counts as too
// complex to draw.
constexpr uint64_t kMaxAnalysisSteps = 20000000;

// ---- gzip (SVGZ)

bool Gzipped(const uint8_t* Data, size_t Size) {
  return Size >= 2 && Data[0] == 0x1F && Data[1] == 0x8B;
}

// The inflated text, at most TSvgDocument::kMaxBytes of it.
QByteArray Gunzip(const uint8_t* Data, size_t Size) {
  z_stream Z{};
  if (inflateInit2(&Z, 16 + MAX_WBITS) != Z_OK) Fail("cannot start decompression");
  QByteArray Out;
  constexpr size_t kChunk = 256 * 1024;
  Z.next_in = const_cast<Bytef*>(Data);
  Z.avail_in = uInt(std::min<size_t>(Size, 0x7FFFFFFF));
  int Code = Z_OK;
  while (Code != Z_STREAM_END) {
    if (size_t(Out.size()) > TSvgDocument::kMaxBytes) {
      inflateEnd(&Z);
      Fail("the document is larger than " + std::to_string(TSvgDocument::kMaxBytes >> 20) +
           " MiB");
    }
    const qsizetype Had = Out.size();
    Out.resize(Had + qsizetype(kChunk));
    Z.next_out = reinterpret_cast<Bytef*>(Out.data() + Had);
    Z.avail_out = uInt(kChunk);
    Code = inflate(&Z, Z_NO_FLUSH);
    Out.resize(Had + qsizetype(kChunk - Z.avail_out));
    if (Code == Z_BUF_ERROR && Z.avail_in == 0) break; // data ended early
    if (Code != Z_OK && Code != Z_STREAM_END) {
      inflateEnd(&Z);
      Fail("damaged gzip data");
    }
  }
  inflateEnd(&Z);
  if (Code != Z_STREAM_END) Fail("the gzip data ends early");
  return Out;
}

// ---- Lengths of the root element

// A length in pixels at 96 dots per inch; nothing for percentages (relative
// to a viewport a picture file does not have), unknown units and values that
// are not positive.
std::optional<double> ParseLength(const QString& Text) {
  const QByteArray Latin = Text.trimmed().toLatin1();
  if (Latin.isEmpty()) return std::nullopt;
  const char* Begin = Latin.constData();
  char* End = nullptr;
  const double Value = std::strtod(Begin, &End);
  if (End == Begin || !std::isfinite(Value) || Value <= 0) return std::nullopt;
  const QByteArray Unit = QByteArray(End).trimmed().toLower();
  double Scale = 0;
  if (Unit.isEmpty() || Unit == "px") Scale = 1;
  else if (Unit == "in") Scale = 96;
  else if (Unit == "cm") Scale = 96 / 2.54;
  else if (Unit == "mm") Scale = 96 / 25.4;
  else if (Unit == "q") Scale = 96 / 101.6;
  else if (Unit == "pt") Scale = 96.0 / 72;
  else if (Unit == "pc") Scale = 16;
  else if (Unit == "em") Scale = 16; // the initial font size
  else if (Unit == "ex") Scale = 8;
  else return std::nullopt;
  return Value * Scale;
}

// The viewBox attribute: min-x, min-y, width, height separated by spaces or
// commas; nothing unless all four are there and the size is positive.
std::optional<QRectF> ParseViewBox(const QString& Text) {
  QString Spaced = Text;
  Spaced.replace(QLatin1Char(','), QLatin1Char(' '));
  const QStringList Parts = Spaced.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (Parts.size() != 4) return std::nullopt;
  double V[4];
  for (int i = 0; i < 4; ++i) {
    bool Ok = false;
    V[i] = Parts[i].toDouble(&Ok);
    if (!Ok || !std::isfinite(V[i])) return std::nullopt;
  }
  if (V[2] <= 0 || V[3] <= 0) return std::nullopt;
  return QRectF(V[0], V[1], V[2], V[3]);
}

// ---- The check of a document before Qt reads it

struct TNode {
  int Parent = -1;
  int End = 0;   // one past the last element of the subtree (elements in document order)
  int Depth = 0; // nesting level, the root 0
  int Target = -1; // the element a local reference (href="#id") names
  int SubtreeDepth = 0; // deepest level inside the subtree, relative to this element
};

struct TScan {
  QString Width, Height, ViewBox; // the root element's attributes as written
  bool External = false;          // some reference names a file or an address
  uint64_t EmbeddedPixels = 0;    // pixels of the images inside the document
  size_t Elements = 0;
};

bool IsHref(const QXmlStreamAttribute& A) {
  return A.name() == QLatin1String("href");
}

// A reference to be dropped: anything but a local one (#id) and an image
// inside the document (data:).
bool IsExternalReference(const QStringView Value) {
  return !Value.startsWith(QLatin1Char('#')) && !Value.startsWith(QLatin1String("data:"));
}

// Pixels of an image given as a data: URL in base64, as its header claims
// (0 when it is not one Qt's reader knows).
uint64_t EmbeddedImagePixels(const QStringView Url) {
  const qsizetype At = Url.indexOf(QLatin1String("base64,"));
  if (At < 0) return 0;
  QByteArray Bytes = QByteArray::fromBase64(Url.mid(At + 7).toLatin1());
  QBuffer Buffer(&Bytes);
  Buffer.open(QIODevice::ReadOnly);
  QImageReader Reader(&Buffer);
  const QSize Size = Reader.size();
  if (!Size.isValid() || Size.isEmpty()) return 0;
  return uint64_t(Size.width()) * uint64_t(Size.height());
}

class TReferenceAnalysis {
public:
  explicit TReferenceAnalysis(std::vector<TNode>& Nodes) : FNodes(Nodes) {
    for (size_t i = 0; i < Nodes.size(); ++i)
      if (Nodes[i].Target >= 0) FRefs.push_back(int(i));
    FState.assign(Nodes.size(), 0);
    FCost.assign(Nodes.size(), 0);
    FDepth.assign(Nodes.size(), 0);
  }

  // Elements drawn and nesting reached from element Index, references
  // followed. Raises ESvgError for cycles and the limits.
  void Analyse(int Index, int Chain) {
    if (FState[size_t(Index)] == 2) return;
    if (FState[size_t(Index)] == 1) Fail("a reference refers to itself");
    if (Chain > TSvgDocument::kMaxDepth)
      Fail("references nest deeper than " + std::to_string(TSvgDocument::kMaxDepth) + " levels");
    FState[size_t(Index)] = 1;
    const TNode& N = FNodes[size_t(Index)];
    uint64_t Cost = uint64_t(N.End - Index);
    int Depth = N.SubtreeDepth;
    auto It = std::lower_bound(FRefs.begin(), FRefs.end(), Index);
    for (; It != FRefs.end() && *It < N.End; ++It) {
      if (++FSteps > kMaxAnalysisSteps) Fail("the references are too complex to draw");
      const TNode& R = FNodes[size_t(*It)];
      Analyse(R.Target, Chain + 1);
      Cost = std::min(Cost + FCost[size_t(R.Target)], TSvgDocument::kMaxDrawnElements + 1);
      Depth = std::max(Depth, R.Depth - N.Depth + 1 + FDepth[size_t(R.Target)]);
    }
    FCost[size_t(Index)] = Cost;
    FDepth[size_t(Index)] = Depth;
    FState[size_t(Index)] = 2;
  }
  uint64_t Cost(int Index) const { return FCost[size_t(Index)]; }
  int Depth(int Index) const { return FDepth[size_t(Index)]; }

private:
  std::vector<TNode>& FNodes;
  std::vector<int> FRefs;
  std::vector<uint8_t> FState; // 0 not seen, 1 in progress, 2 done
  std::vector<uint64_t> FCost;
  std::vector<int> FDepth;
  uint64_t FSteps = 0;
};

std::string ReaderError(const QXmlStreamReader& R) {
  return R.errorString().toStdString() + " (line " + std::to_string(R.lineNumber()) + ", column " +
         std::to_string(R.columnNumber()) + ")";
}

TScan Scan(const QByteArray& Text) {
  TScan Result;
  std::vector<TNode> Nodes;
  std::vector<int> Open;
  QHash<QString, int> Ids;
  std::vector<std::pair<int, QString>> Local; // element, id it refers to
  QXmlStreamReader R(Text);
  while (!R.atEnd()) {
    const QXmlStreamReader::TokenType Token = R.readNext();
    if (Token == QXmlStreamReader::StartElement) {
      if (Nodes.size() >= TSvgDocument::kMaxElements)
        Fail("the document has more than " + std::to_string(TSvgDocument::kMaxElements) +
             " elements");
      if (Open.size() >= size_t(TSvgDocument::kMaxDepth))
        Fail("elements nest deeper than " + std::to_string(TSvgDocument::kMaxDepth) + " levels");
      const int Index = int(Nodes.size());
      TNode Node;
      Node.Parent = Open.empty() ? -1 : Open.back();
      Node.Depth = int(Open.size());
      Nodes.push_back(Node);
      const QXmlStreamAttributes Attributes = R.attributes();
      if (Index == 0) {
        if (R.name() != QLatin1String("svg")) Fail("not an SVG document");
        Result.Width = Attributes.value(QLatin1String("width")).toString();
        Result.Height = Attributes.value(QLatin1String("height")).toString();
        Result.ViewBox = Attributes.value(QLatin1String("viewBox")).toString();
      }
      const bool Image = R.name() == QLatin1String("image");
      for (const QXmlStreamAttribute& A : Attributes) {
        if (A.name() == QLatin1String("id") && A.namespaceUri().isEmpty()) {
          Ids.insert(A.value().toString(), Index);
        } else if (IsHref(A)) {
          const QStringView Value = A.value();
          if (Value.startsWith(QLatin1Char('#')))
            Local.emplace_back(Index, Value.mid(1).toString());
          else if (IsExternalReference(Value))
            Result.External = true;
          else if (Image)
            Result.EmbeddedPixels += EmbeddedImagePixels(Value);
        }
      }
      Open.push_back(Index);
    } else if (Token == QXmlStreamReader::EndElement && !Open.empty()) {
      Nodes[size_t(Open.back())].End = int(Nodes.size());
      Open.pop_back();
    }
  }
  if (R.hasError()) Fail("not a valid document: " + ReaderError(R));
  if (Nodes.empty()) Fail("not an SVG document");
  Result.Elements = Nodes.size();

  // Deepest level under each element: children come after their parents.
  for (size_t i = Nodes.size(); i-- > 1;) {
    TNode& Parent = Nodes[size_t(Nodes[i].Parent)];
    Parent.SubtreeDepth = std::max(Parent.SubtreeDepth, Nodes[i].SubtreeDepth + 1);
  }
  for (const auto& [Element, Id] : Local) {
    const auto Found = Ids.constFind(Id);
    if (Found != Ids.constEnd()) Nodes[size_t(Element)].Target = Found.value();
  }
  TReferenceAnalysis Analysis(Nodes);
  Analysis.Analyse(0, 0);
  if (Analysis.Depth(0) > TSvgDocument::kMaxDepth)
    Fail("references nest deeper than " + std::to_string(TSvgDocument::kMaxDepth) + " levels");
  if (Analysis.Cost(0) > TSvgDocument::kMaxDrawnElements)
    Fail("the references draw more than " + std::to_string(TSvgDocument::kMaxDrawnElements) +
         " elements");
  return Result;
}

// The document again without its references to files and addresses.
QByteArray WithoutExternalReferences(const QByteArray& Text) {
  QByteArray Out;
  QXmlStreamReader R(Text);
  QXmlStreamWriter W(&Out);
  while (!R.atEnd()) {
    const QXmlStreamReader::TokenType Token = R.readNext();
    if (Token == QXmlStreamReader::StartDocument) {
      W.writeStartDocument(); // the copy is UTF-8 whatever the original was
    } else if (Token == QXmlStreamReader::StartElement) {
      W.writeStartElement(R.namespaceUri().toString(), R.name().toString());
      for (const QXmlStreamNamespaceDeclaration& N : R.namespaceDeclarations())
        W.writeNamespace(N.namespaceUri().toString(), N.prefix().toString());
      for (const QXmlStreamAttribute& A : R.attributes())
        if (!IsHref(A) || !IsExternalReference(A.value())) W.writeAttribute(A);
    } else if (Token != QXmlStreamReader::Invalid) {
      W.writeCurrentToken(R);
    }
  }
  if (R.hasError()) Fail("not a valid document: " + ReaderError(R));
  return Out;
}

} // namespace

struct TSvgDocument::TImpl {
  std::unique_ptr<QSvgRenderer> Renderer;
  TMemoryReservation Memory; // what Qt's picture of the document is expected to take
};

TSvgDocument::TSvgDocument() = default;
TSvgDocument::~TSvgDocument() = default;

void TSvgDocument::LoadFromMemory(const uint8_t* Data, size_t Size) {
  F.reset();
  FWidth = FHeight = 0;
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    Fail("drawing needs the program's graphics system");
  if (!Data || Size == 0) Fail("the file is empty");
  QByteArray Text;
  if (Gzipped(Data, Size)) {
    Text = Gunzip(Data, Size);
  } else {
    if (Size > kMaxBytes)
      Fail("the document is larger than " + std::to_string(kMaxBytes >> 20) + " MiB");
    Text = QByteArray(reinterpret_cast<const char*>(Data), qsizetype(Size));
  }
  if (size_t(Text.size()) > kMaxBytes)
    Fail("the document is larger than " + std::to_string(kMaxBytes >> 20) + " MiB");

  const TScan Facts = Scan(Text);
  if (Facts.EmbeddedPixels > PixelLimit())
    Fail("its images hold more than " + std::to_string(PixelLimit()) + " pixels");
  auto Impl = std::make_unique<TImpl>();
  const uint64_t Needed = Facts.Elements * kBytesPerElement + uint64_t(Text.size()) * kBytesPerTextByte +
                          Facts.EmbeddedPixels * 4;
  Impl->Memory = TMemoryReservation(Needed);
  if (!Impl->Memory) Fail("not enough memory for a document of " + std::to_string(Facts.Elements) + " elements");
  if (Facts.External) Text = WithoutExternalReferences(Text);

  Impl->Renderer = std::make_unique<QSvgRenderer>();
  // No animation timer: the picture is the document at its start.
  Impl->Renderer->setFramesPerSecond(0);
  QXmlStreamReader Reader(Text);
  if (!Impl->Renderer->load(&Reader) || !Impl->Renderer->isValid())
    Fail(Reader.hasError() ? "not a valid document: " + ReaderError(Reader)
                           : std::string("Qt's SVG module cannot read the document"));

  // The natural size, and the part of the drawing it shows when the document
  // gives no viewBox (then one user unit is one pixel).
  const std::optional<double> W = ParseLength(Facts.Width);
  const std::optional<double> H = ParseLength(Facts.Height);
  const std::optional<QRectF> Box = ParseViewBox(Facts.ViewBox);
  QSvgRenderer& Svg = *Impl->Renderer;
  // The drawing's extent from the origin: what Qt computes for a document
  // without a viewBox.
  auto DrawingExtent = [&Svg]() {
    Svg.setViewBox(QRectF());
    const QRectF Bounds = Svg.viewBoxF();
    if (!Bounds.isValid() || Bounds.isEmpty()) return QRectF();
    const double Left = std::min(0.0, Bounds.left()), Top = std::min(0.0, Bounds.top());
    return QRectF(QPointF(Left, Top), QPointF(std::max(Bounds.right(), Left + 1e-9),
                                              std::max(Bounds.bottom(), Top + 1e-9)));
  };
  double NaturalW, NaturalH;
  if (W && H) {
    NaturalW = *W;
    NaturalH = *H;
    if (!Box) Svg.setViewBox(QRectF(0, 0, NaturalW, NaturalH));
  } else if (W || H) {
    const QRectF Shape = Box ? *Box : DrawingExtent();
    const double Aspect = Shape.isEmpty() ? 1.0 : Shape.width() / Shape.height();
    NaturalW = W ? *W : *H * Aspect;
    NaturalH = H ? *H : *W / Aspect;
    Svg.setViewBox(Box ? *Box : QRectF(0, 0, NaturalW, NaturalH));
  } else if (Box) {
    NaturalW = Box->width();
    NaturalH = Box->height();
  } else {
    const QRectF Extent = DrawingExtent();
    if (Extent.isEmpty()) {
      NaturalW = NaturalH = kDefaultLongSide;
      Svg.setViewBox(QRectF(0, 0, NaturalW, NaturalH));
    } else {
      const double Scale = kDefaultLongSide / std::max(Extent.width(), Extent.height());
      NaturalW = Extent.width() * Scale;
      NaturalH = Extent.height() * Scale;
      Svg.setViewBox(Extent);
    }
  }
  // Rounded, at least one pixel; absurd claims stay large for the pixel limit.
  auto Pixels = [](double V) {
    return int64_t(std::clamp(std::round(V), 1.0, 1e12));
  };
  FWidth = Pixels(NaturalW);
  FHeight = Pixels(NaturalH);
  F = std::move(Impl);
}

void TSvgDocument::Draw(TCanvas& Canvas, const TRect& Rect) const {
  if (!F || Rect.IsEmpty()) return;
  QPainter& P = Canvas.Painter();
  P.save();
  P.setRenderHint(QPainter::Antialiasing, true);
  P.setRenderHint(QPainter::SmoothPixmapTransform, true);
  F->Renderer->setCurrentFrame(0);
  F->Renderer->render(&P, QRectF(Rect.Left, Rect.Top, Rect.Width(), Rect.Height()));
  P.restore();
}

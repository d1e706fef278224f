#pragma once
// The platform's SVG object: a vector picture (SVG, or SVGZ compressed with
// gzip) read by Qt's SVG module, with its natural size in pixels and drawing
// onto a canvas. The format class turns it into a true-colour image as the
// metafile class does with TMetafile.
//
// Natural size: the root element's width and height (units other than px at
// 96 dots per inch; a percentage counts as no size); else its viewBox; one of
// width and height takes the other from the viewBox's (or the drawing's)
// proportions; with neither, the drawing's extent from the origin scaled to
// 1024 pixels on its long side.
//
// Hostile documents are refused before Qt builds its picture: more than
// kMaxBytes of text (after gzip), more than kMaxElements elements, nesting
// (also through <use> references) deeper than kMaxDepth, more than
// kMaxDrawnElements elements drawn once references are expanded, reference
// cycles, and entity expansion beyond the XML reader's own limit. Images the
// document names by file or address are never read: their references are
// dropped before Qt sees the document (images inside it, as data: URLs, are
// drawn).
//
// A document is used on the thread that loaded it (Qt's renderer is a QObject
// made there) and needs the program's QGuiApplication for fonts.

#include "platform/Canvas.h"
#include "platform/Exception.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class ESvgError : public Exception {
public:
  using Exception::Exception;
};

class TSvgDocument {
public:
  static constexpr size_t kMaxBytes = size_t(32) << 20;
  static constexpr size_t kMaxElements = 100000;
  static constexpr int kMaxDepth = 512;
  static constexpr uint64_t kMaxDrawnElements = 1000000;

  TSvgDocument();
  ~TSvgDocument();
  TSvgDocument(const TSvgDocument&) = delete;
  TSvgDocument& operator=(const TSvgDocument&) = delete;

  // Reads a document from memory. Raises ESvgError ("SVG: ...") for bytes that
  // are not an SVG document, for the limits above and when the memory Qt's
  // picture of the document needs cannot be had from the budget.
  void LoadFromMemory(const uint8_t* Data, size_t Size);

  // The natural size in pixels (0 before a load). Large claims are kept as
  // they are, for the caller's pixel limit.
  int64_t Width() const { return FWidth; }
  int64_t Height() const { return FHeight; }

  // Draws the picture scaled into Rect (canvas coordinates), antialiased,
  // over what the canvas holds.
  void Draw(TCanvas& Canvas, const TRect& Rect) const;

private:
  struct TImpl;
  std::unique_ptr<TImpl> F;
  int64_t FWidth = 0;
  int64_t FHeight = 0;
};

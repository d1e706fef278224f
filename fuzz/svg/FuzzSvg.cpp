// SVG and SVGZ documents through the platform's SVG object: the checks of the
// document, Qt's reading of what passes them, and drawing into at most
// 256 x 256 pixels to keep runs fast.
#include "fuzz/common/FuzzLimits.h"
#include "platform/SvgDocument.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

// Font lookups by the names a document gives leave fontconfig's own caches
// behind, which the leak checker would report for whichever input came first.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QGuiApplication App(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzzlimits::Apply();
  try {
    TSvgDocument Document;
    Document.LoadFromMemory(Data, Size);
    const int W = int(std::min<int64_t>(Document.Width(), 256));
    const int H = int(std::min<int64_t>(Document.Height(), 256));
    QImage Target(W, H, QImage::Format_RGB32);
    Target.fill(0xFFFFFFFF);
    QPainter Painter(&Target);
    TCanvas Canvas(Painter);
    Document.Draw(Canvas, TRect{0, 0, W, H});
  } catch (const ESvgError&) {
  }
  return 0;
}

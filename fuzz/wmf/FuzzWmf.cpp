// The metafile parser and player on arbitrary bytes; inputs that parse as
// the other metafile kind are left to that kind's target. The picture is
// played into at most 256 x 256 pixels to keep runs fast.
#include "platform/MetaFile.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

// Font lookups by the names a metafile gives leave fontconfig's own caches
// behind, which the leak checker would report for whichever input came first.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QGuiApplication app(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  try {
    TMetafile m;
    m.LoadFromMemory(Data, Size);
    if (m.Enhanced() != false) return 0; // WMF files only
    QImage target(std::min(m.Width(), 256), std::min(m.Height(), 256), QImage::Format_RGB32);
    target.fill(0xFFFFFFFF);
    QPainter p(&target);
    m.Draw(p, target.rect());
  } catch (const EMetafileError&) {
  }
  return 0;
}

// The icon reader on arbitrary bytes: load, then draw onto a small image.
#include "fuzz/common/FuzzLimits.h"
#include "platform/Icon.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QGuiApplication app(*argc, *argv);
  fuzzlimits::Apply();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  try {
    TPlatformIcon icon;
    icon.LoadFromMemory(Data, Size);
    QImage target(icon.Width(), icon.Height(), QImage::Format_RGB32);
    target.fill(0);
    QPainter p(&target);
    icon.Draw(p, 0, 0);
  } catch (const EIconError&) {
  }
  return 0;
}

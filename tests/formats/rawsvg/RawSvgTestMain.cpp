// Test entry: a GUI application object (offscreen when no display), as the
// program has one: the screen's size decides the RAW previews and SVG text
// needs fonts. Then every test.
#include "formats/Formats.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QGuiApplication App(argc, argv);
  RegisterImageFormats();
  return RUN_ALL_TESTS();
}

// The main window's tests run in one program: the application object, the
// picture formats and the error box that records instead of showing.

#include <gtest/gtest.h>

#include "app/Application.h"
#include "formats/Formats.h"
#include "tests/app/MainFormFixture.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TImbrelApplication App(argc, argv);
  RegisterImageFormats();
  // Errors that reach the error box are recorded, never shown modally.
  SetExceptionHandler([](const std::string& M) { ShownErrors.push_back(M); });
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// A GUI application for the whole test run (offscreen): canvases need fonts,
// the clipboard and the screen's resolution need an application.

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

class TQtEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "imaging_tests";
    static char* argv[] = {name, nullptr};
    FApp = std::make_unique<QGuiApplication>(argc, argv);
  }
  void TearDown() override { FApp.reset(); }

private:
  std::unique_ptr<QGuiApplication> FApp;
};

const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

} // namespace

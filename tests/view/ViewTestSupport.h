#pragma once
// Shared pieces of the view tests: the application object, a tiny test
// picture format registered under the extension "tst", pictures made in
// memory, and mouse events sent the way the window system delivers them.

#include "imaging/DibGraphic.h"
#include "view/ImageScrollBox.h"
#include "platform/Stream.h"

#include <QPoint>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One image of a test picture. True-colour pixels are (x mod 256, y mod 256,
// Blue); black-and-white pixels are set where (x + y) is even.
struct TTestImage {
  int Width = 0;
  int Height = 0;
  TImageFormat Format = ifTrueColor;
  uint8_t Blue = 0;
  int Delay = 200; // frame delay in milliseconds
};

// Bytes of a test picture holding the given images.
std::string MakeTestPicture(const std::vector<TTestImage>& Images);
// A stream over MakeTestPicture's bytes.
std::unique_ptr<TMemoryStream> TestPictureStream(const std::vector<TTestImage>& Images);
// The expected colour of pixel (x, y) of a test image.
uint32_t TestPixel(const TTestImage& Image, int X, int Y);

// Processes events until Condition holds or Milliseconds pass; answers Condition().
bool WaitFor(const std::function<bool()>& Condition, int Milliseconds);

// Creates the QApplication once and registers the "tst" format.
void EnsureTestEnvironment();

// A shown top-level window holding one view at (0, 0).
class ViewFixture : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  // Resizes the view so that its client area without bars is W x H.
  void SetViewSize(int W, int H);
  // Loads a test picture into the view through the registry.
  void Load(const std::vector<TTestImage>& Images, int Index = 1);
  void Load(const TTestImage& Image) { Load(std::vector<TTestImage>{Image}); }
  int BarExtent() const;

  // Mouse events at a point of the view's client area, delivered to the inner
  // image control in its own coordinates at the moment of sending (as a
  // grabbed mouse is after the control has moved).
  void Press(QPoint ClientPos, Qt::MouseButton Button = Qt::LeftButton);
  void Move(QPoint ClientPos, Qt::MouseButtons Buttons = Qt::LeftButton);
  void Release(QPoint ClientPos, Qt::MouseButton Button = Qt::LeftButton);

  std::unique_ptr<QWidget> Window;
  TImageScrollBox* View = nullptr;
};

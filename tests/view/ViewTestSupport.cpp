#include "tests/view/ViewTestSupport.h"

#include "imaging/GraphicRegistry.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QStyle>
#include <QThread>

#include <cstring>

namespace {

// The test format: "TSTP", image count (u16), then per image width and
// height (i32), format (u8), blue (u8), delay (i32). Pixels are made up.
class TTestGraphic : public TDibGraphic {
public:
  int GetImageCount(TStream& Stream) override {
    const int64_t Start = Stream.Position();
    char Magic[4];
    uint16_t Count = 0;
    Stream.ReadBuffer(Magic, 4);
    Stream.ReadBuffer(&Count, 2);
    Stream.SetPosition(Start);
    return Count;
  }

  void LoadImageFromStream(TStream& Stream, int Index) override {
    char Magic[4];
    uint16_t Count = 0;
    Stream.ReadBuffer(Magic, 4);
    if (std::memcmp(Magic, "TSTP", 4) != 0) throw EImageError("Not a test picture");
    Stream.ReadBuffer(&Count, 2);
    if (Index < 1 || Index > Count) throw EImageError("No such test image");
    TTestImage Image;
    for (int I = 1; I <= Index; ++I) {
      int32_t W, H, Delay;
      uint8_t Format, Blue;
      Stream.ReadBuffer(&W, 4);
      Stream.ReadBuffer(&H, 4);
      Stream.ReadBuffer(&Format, 1);
      Stream.ReadBuffer(&Blue, 1);
      Stream.ReadBuffer(&Delay, 4);
      Image = TTestImage{W, H, static_cast<TImageFormat>(Format), Blue, Delay};
    }
    NewImage(Image.Width, Image.Height, Image.Format, nullptr, 0, 0);
    for (int Y = 0; Y < Image.Height; ++Y)
      for (int X = 0; X < Image.Width; ++X) {
        if (Image.Format == ifTrueColor)
          SetPixelColor(X, Y, TestPixel(Image, X, Y));
        else
          SetPixelIndex(X, Y, (X + Y) % 2 == 0 ? 1 : 0);
      }
    SetFrameDelay(Image.Delay);
  }
};

} // namespace

uint32_t TestPixel(const TTestImage& Image, int X, int Y) {
  if (Image.Format != ifTrueColor) return (X + Y) % 2 == 0 ? 0xFFFFFF : 0;
  return MakeRgb(static_cast<uint8_t>(X), static_cast<uint8_t>(Y), Image.Blue);
}

std::string MakeTestPicture(const std::vector<TTestImage>& Images) {
  std::string Bytes = "TSTP";
  auto Put = [&](const void* P, size_t N) { Bytes.append(static_cast<const char*>(P), N); };
  const uint16_t Count = static_cast<uint16_t>(Images.size());
  Put(&Count, 2);
  for (const TTestImage& I : Images) {
    const int32_t W = I.Width, H = I.Height, Delay = I.Delay;
    const uint8_t Format = I.Format, Blue = I.Blue;
    Put(&W, 4);
    Put(&H, 4);
    Put(&Format, 1);
    Put(&Blue, 1);
    Put(&Delay, 4);
  }
  return Bytes;
}

std::unique_ptr<TMemoryStream> TestPictureStream(const std::vector<TTestImage>& Images) {
  auto Stream = std::make_unique<TMemoryStream>();
  const std::string Bytes = MakeTestPicture(Images);
  Stream->WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  Stream->SetPosition(0);
  return Stream;
}

bool WaitFor(const std::function<bool()>& Condition, int Milliseconds) {
  QElapsedTimer Timer;
  Timer.start();
  while (!Condition()) {
    if (Timer.elapsed() > Milliseconds) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

void EnsureTestEnvironment() {
  static int Argc = 1;
  static char Name[] = "view_test";
  static char* Argv[] = {Name, nullptr};
  static QApplication* App = [] {
    auto* A = new QApplication(Argc, Argv); // lives until the process ends
    RegisterGraphicFormat("tst", "Test pictures", ClassOf<TTestGraphic>());
    return A;
  }();
  (void)App;
}

void ViewFixture::SetUp() {
  EnsureTestEnvironment();
  Window = std::make_unique<QWidget>();
  Window->resize(400, 400);
  View = new TImageScrollBox(Window.get());
  View->move(0, 0);
  Window->show();
  SetViewSize(200, 200);
}

void ViewFixture::TearDown() {
  Window.reset();
  while (QGuiApplication::overrideCursor())
    QGuiApplication::restoreOverrideCursor();
}

int ViewFixture::BarExtent() const {
  return View->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, View);
}

void ViewFixture::SetViewSize(int W, int H) {
  View->resize(W, H);
  QCoreApplication::processEvents();
}

void ViewFixture::Load(const std::vector<TTestImage>& Images, int Index) {
  auto Stream = TestPictureStream(Images);
  View->LoadFromStream(*Stream, "picture.tst", Index);
}

namespace {

void Send(TImageScrollBox* View, QEvent::Type Type, QPoint ClientPos, Qt::MouseButton Button,
          Qt::MouseButtons Buttons) {
  QWidget& Image = View->ImageControl();
  const QPoint Local = Image.mapFrom(View->Viewport(), ClientPos);
  const QPoint Global = Image.mapToGlobal(Local);
  QMouseEvent Event(Type, QPointF(Local), QPointF(Global), Button, Buttons, Qt::NoModifier);
  QApplication::sendEvent(&Image, &Event);
}

} // namespace

void ViewFixture::Press(QPoint ClientPos, Qt::MouseButton Button) {
  Send(View, QEvent::MouseButtonPress, ClientPos, Button, Button);
}

void ViewFixture::Move(QPoint ClientPos, Qt::MouseButtons Buttons) {
  Send(View, QEvent::MouseMove, ClientPos, Qt::NoButton, Buttons);
}

void ViewFixture::Release(QPoint ClientPos, Qt::MouseButton Button) {
  Send(View, QEvent::MouseButtonRelease, ClientPos, Button, Qt::NoButton);
}

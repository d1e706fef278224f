// viewdemo: shows one picture in a picture view filling a window.
//
//   viewdemo [--size WxH] [--mode fullpage|fittopage|original|width|height|PERCENT]
//            [--centered] [--antialiased] [--select] [--grab OUT.png] PICTURE
//
// Prints "ready" once the picture has been painted. With --grab the window is
// saved as a PNG after the first paint and the program ends.

#include "imaging/DibGraphic.h"
#include "formats/Formats.h"
#include "view/ImageScrollBox.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int Usage() {
  std::fprintf(
      stderr,
      "usage: viewdemo [--size WxH] [--mode fullpage|fittopage|original|width|height|PERCENT]\n"
      "                [--centered] [--antialiased] [--select] [--grab OUT.png] PICTURE\n");
  return 2;
}

} // namespace

int main(int Argc, char** Argv) {
  QApplication App(Argc, Argv);
  int Width = 800, Height = 600;
  std::string Mode = "fullpage", Grab, Picture;
  bool Centered = false, AntiAliased = false, Select = false;
  for (int I = 1; I < Argc; ++I) {
    const std::string A = Argv[I];
    auto Next = [&]() -> std::string { return I + 1 < Argc ? Argv[++I] : std::string(); };
    if (A == "--size") {
      if (std::sscanf(Next().c_str(), "%dx%d", &Width, &Height) != 2) return Usage();
    } else if (A == "--mode") {
      Mode = Next();
    } else if (A == "--centered") {
      Centered = true;
    } else if (A == "--antialiased") {
      AntiAliased = true;
    } else if (A == "--select") {
      Select = true;
    } else if (A == "--grab") {
      Grab = Next();
    } else if (!A.empty() && A[0] != '-') {
      Picture = A;
    } else {
      return Usage();
    }
  }
  if (Picture.empty()) return Usage();
  RegisterImageFormats();

  QWidget Window;
  Window.setWindowTitle("viewdemo");
  auto* Layout = new QVBoxLayout(&Window);
  Layout->setContentsMargins(0, 0, 0, 0);
  auto* View = new TImageScrollBox(&Window);
  Layout->addWidget(View);
  Window.resize(Width, Height);
  View->SetCentered(Centered);
  View->SetAntiAliased(AntiAliased);
  if (Select) View->SetMouseMode(mmQuickSelect);
  View->OnZoomChange = [](TImageScrollBox&, float Zoom) { std::printf("zoom %.2f\n", Zoom); };
  View->OnQuickSelect = [](TImageScrollBox&, TDibGraphic& G, const TRect& R) {
    std::printf("selected (%d, %d, %d, %d): %d x %d\n", R.Left, R.Top, R.Right, R.Bottom, G.Width(),
                G.Height());
    std::fflush(stdout);
  };
  if (Mode == "fullpage")
    View->SetZoomMode(zmFullPage);
  else if (Mode == "fittopage")
    View->SetZoomMode(zmFitToPage);
  else if (Mode == "original")
    View->SetZoomMode(zmOriginalSize);
  else if (Mode == "width")
    View->SetZoomMode(zmFitWidth);
  else if (Mode == "height")
    View->SetZoomMode(zmFitHeight);
  Window.show();
  try {
    View->LoadFromFile(Picture, 1);
    if (std::atof(Mode.c_str()) > 0)
      View->SetZoomPercent(static_cast<float>(std::atof(Mode.c_str())));
  } catch (const std::exception& E) {
    std::fprintf(stderr, "viewdemo: %s\n", E.what());
    return 1;
  }
  std::printf("picture %d x %d shown at %.2f %% as %d x %d at (%d, %d)\n", View->Graphic().Width(),
              View->Graphic().Height(), View->ZoomPercent(), View->DisplayGraphic().Width(),
              View->DisplayGraphic().Height(), View->ImageControl().x(), View->ImageControl().y());
  QTimer::singleShot(0, &Window, [&] {
    Window.repaint();
    std::printf("ready\n");
    std::fflush(stdout);
    if (!Grab.empty()) {
      const bool Saved = Window.grab().save(QString::fromStdString(Grab));
      std::printf("%s %s\n", Saved ? "saved" : "could not save", Grab.c_str());
      QApplication::exit(Saved ? 0 : 1);
    }
  });
  return App.exec();
}

// The whole path a picture takes to the screen: the bytes are written to a
// file whose extension the first byte picks, then the view loads that file through
// the registry, decodes it and lays it out at a zoom the second byte picks.

#include "formats/Formats.h"
#include "fuzz/common/FuzzLimits.h"
#include "imaging/GraphicRegistry.h"
#include "view/ImageScrollBox.h"

#include <QApplication>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

std::string GFolder;
// The extensions the first byte picks from: the registered formats and some
// the platform reader decodes.
const char* const kExtensions[] = {"BMP", "PCX", "DCX", "TGA", "ICO", "WMF", "EMF",
                                   "JPG", "PNG", "TIF", "GIF", "XPM", "PPM"};
constexpr size_t kExtensionCount = sizeof kExtensions / sizeof kExtensions[0];
TImageScrollBox* GView = nullptr;

// Removes the run's folder when the process ends.
void RemoveFolder() {
  for (const char* E : kExtensions)
    ::unlink((GFolder + "/picture." + E).c_str());
  ::rmdir(GFolder.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Never destroyed: the window must not outlive the application object at exit.
  new QApplication(*argc, *argv);
  fuzzlimits::Apply();
  RegisterImageFormats();
  // A private folder of this run's own: the file names in it are fixed.
  char Template[] = "/tmp/imbrel-fuzz-view-XXXXXX";
  if (!mkdtemp(Template)) std::abort();
  GFolder = Template;
  std::atexit(RemoveFolder);
  auto* Window = new QWidget;
  Window->resize(320, 240);
  GView = new TImageScrollBox(Window);
  GView->resize(320, 240);
  Window->show();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 2) return 0;
  const std::string Path = GFolder + "/picture." + kExtensions[Data[0] % kExtensionCount];
  const int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (Fd < 0) std::abort();
  const bool Written = ::write(Fd, Data + 2, Size - 2) == ssize_t(Size - 2);
  ::close(Fd);
  if (!Written) std::abort();
  static const TZoomMode Modes[] = {zmOriginalSize, zmFullPage, zmFitToPage, zmFitWidth,
                                    zmFitHeight};
  try {
    GView->SetZoomMode(Modes[Data[1] % 5]);
    GView->LoadFromFile(Path, 1 + (Data[1] >> 7));
    if (Data[1] & 0x40) GView->SetZoomPercent(float(Data[1] & 0x3F) * 7.0f + 1.0f);
  } catch (const Exception&) {
  }
  return 0;
}

#include "formats/Formats.h"

#include <mutex>

void RegisterImageFormats() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterBmmFormats();
    RegisterLibraryFormats();
    RegisterIconMetaFormats();
    RegisterGifWebPFormats();
    RegisterHeifJxlFormats();
    RegisterRawSvgFormats();
  });
}

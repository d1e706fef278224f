#include "formats/Formats.h"

#include "formats/FormatTable.h"

void RegisterGifWebPFormats() {
  RegisterFormatRows(TFormatGroup::GifWebP);
}

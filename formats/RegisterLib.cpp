#include "formats/Formats.h"

#include "formats/FormatTable.h"

void RegisterLibraryFormats() {
  RegisterFormatRows(TFormatGroup::Library);
}

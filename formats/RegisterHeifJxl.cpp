#include "formats/Formats.h"

#include "formats/FormatTable.h"

void RegisterHeifJxlFormats() {
  RegisterFormatRows(TFormatGroup::HeifJxl);
}

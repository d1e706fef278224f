#include "formats/Formats.h"

#include "formats/FormatTable.h"

void RegisterBmmFormats() {
  RegisterFormatRows(TFormatGroup::Bmm);
}

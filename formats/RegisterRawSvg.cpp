#include "formats/Formats.h"

#include "formats/FormatTable.h"

void RegisterRawSvgFormats() {
  RegisterFormatRows(TFormatGroup::RawSvg);
}

#include "formats/Formats.h"

#include "formats/FormatTable.h"
#include "formats/IconGraphic.h"

void RegisterIconMetaFormats() {
  RegisterFormatRows(TFormatGroup::IconMeta);
  // Images assigned to an icon graphic are written through TIconGraphic.
  SetIconExportHook(&AssignDibToIcon);
}

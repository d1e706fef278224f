#include "formats/Formats.h"

#include "imaging/GraphicRegistry.h"
#include "formats/IconGraphic.h"
#include "formats/MetaFileGraphic.h"

void RegisterIconMetaFormats() {
  RegisterGraphicFormat("ICO", "Windows icon", ClassOf<TIconGraphic>());
  RegisterGraphicFormat("WMF", "Windows meta file", ClassOf<TMetaFileGraphic>());
  RegisterGraphicFormat("EMF", "Enhanced meta file", ClassOf<TMetaFileGraphic>());
  // Images assigned to an icon graphic are written through TIconGraphic.
  SetIconExportHook(&AssignDibToIcon);
}

#include "Formats.h"

#include "GraphicRegistry.h"
#include "IconGraphic.h"
#include "MetaFileGraphic.h"

void RegisterIconMetaFormats() {
  RegisterGraphicFormat("ICO", "Windows icon", ClassOf<TIconGraphic>());
  RegisterGraphicFormat("WMF", "Windows meta file", ClassOf<TMetaFileGraphic>());
  RegisterGraphicFormat("EMF", "Enhanced meta file", ClassOf<TMetaFileGraphic>());
  // Images assigned to an icon graphic are written through TIconGraphic.
  SetIconExportHook(&AssignDibToIcon);
}

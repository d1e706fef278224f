#include "formats/Formats.h"

#include "formats/HeifGraphic.h"
#include "formats/JxlGraphic.h"
#include "imaging/GraphicRegistry.h"

void RegisterHeifJxlFormats() {
  RegisterGraphicFormat("HEIC", "HEIF image (HEVC)", ClassOf<THeifGraphic>());
  RegisterGraphicFormat("HEIF", "HEIF image", ClassOf<THeifGraphic>());
  RegisterGraphicFormat("HIF", "HEIF image", ClassOf<THeifGraphic>());
  RegisterGraphicFormat("AVIF", "AV1 image (AVIF)", ClassOf<THeifGraphic>());
  RegisterGraphicFormat("JXL", "JPEG XL", ClassOf<TJxlGraphic>());
}

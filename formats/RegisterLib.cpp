#include "formats/Formats.h"

#include "imaging/GraphicRegistry.h"
#include "formats/JpegGraphic.h"
#include "formats/PngGraphic.h"
#include "formats/TiffGraphic.h"

void RegisterLibraryFormats() {
  RegisterGraphicFormat("JPG", "JPEG", ClassOf<TJpegGraphic>());
  RegisterGraphicFormat("JPEG", "JPEG", ClassOf<TJpegGraphic>());
  RegisterGraphicFormat("PNG", "Portable Network Graphic", ClassOf<TPngGraphic>());
  RegisterGraphicFormat("TIF", "TIFF file", ClassOf<TTiffGraphic>());
  RegisterGraphicFormat("TIFF", "TIFF file", ClassOf<TTiffGraphic>());
}

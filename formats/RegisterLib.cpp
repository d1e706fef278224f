#include "Formats.h"

#include "GraphicRegistry.h"
#include "JpegGraphic.h"
#include "PngGraphic.h"
#include "TiffGraphic.h"

void RegisterLibraryFormats() {
  RegisterGraphicFormat("JPG", "JPEG", ClassOf<TJpegGraphic>());
  RegisterGraphicFormat("JPEG", "JPEG", ClassOf<TJpegGraphic>());
  RegisterGraphicFormat("PNG", "Portable Network Graphic", ClassOf<TPngGraphic>());
  RegisterGraphicFormat("TIF", "TIFF file", ClassOf<TTiffGraphic>());
  RegisterGraphicFormat("TIFF", "TIFF file", ClassOf<TTiffGraphic>());
}

#include "formats/Formats.h"

#include "formats/BitmapGraphic.h"
#include "formats/DcxGraphic.h"
#include "imaging/GraphicRegistry.h"
#include "formats/PcxGraphic.h"
#include "formats/TgaGraphic.h"

void RegisterBmmFormats() {
  RegisterGraphicFormat("BMP", "Bitmap file", ClassOf<TBitmapGraphic>());
  RegisterGraphicFormat("PCX", "ZSoft PC Paintbrush", ClassOf<TPcxGraphic>());
  RegisterGraphicFormat("PCC", "ZSoft PC Paintbrush", ClassOf<TPcxGraphic>());
  RegisterGraphicFormat("DCX", "DCX file", ClassOf<TDcxGraphic>());
  RegisterGraphicFormat("TGA", "Truevision Targa", ClassOf<TTgaGraphic>());
  RegisterGraphicFormat("VST", "Truevision Vista", ClassOf<TTgaGraphic>());
  RegisterGraphicFormat("AFI", "Truevision Targa", ClassOf<TTgaGraphic>());
}

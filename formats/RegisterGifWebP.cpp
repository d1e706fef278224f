#include "formats/Formats.h"

#include "formats/GifGraphic.h"
#include "formats/WebPGraphic.h"
#include "imaging/GraphicRegistry.h"

void RegisterGifWebPFormats() {
  RegisterGraphicFormat("GIF", "CompuServe GIF", ClassOf<TGifGraphic>());
  RegisterGraphicFormat("WEBP", "WebP", ClassOf<TWebPGraphic>());
}

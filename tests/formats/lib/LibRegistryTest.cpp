#include "formats/Formats.h"
#include "imaging/GraphicRegistry.h"
#include "formats/JpegGraphic.h"
#include "formats/PngGraphic.h"
#include "formats/TiffGraphic.h"

#include <gtest/gtest.h>

#include <strings.h>

TEST(LibraryFormats, RegistryRowsFindTheirClasses) {
  RegisterImageFormats();
  struct Row {
    const char* Name;
    TDibGraphicClass Class;
    const char* Description;
  } Rows[] = {
      {"photo.JPG", ClassOf<TJpegGraphic>(), "JPEG"},
      {"photo.jpeg", ClassOf<TJpegGraphic>(), "JPEG"},
      {"png", ClassOf<TPngGraphic>(), "Portable Network Graphic"},
      {"scan.tif", ClassOf<TTiffGraphic>(), "TIFF file"},
      {"scan.TIFF", ClassOf<TTiffGraphic>(), "TIFF file"},
  };
  const auto Registered = RegisteredGraphicFormats();
  for (const Row& R : Rows) {
    EXPECT_EQ(GraphicClassForFile(R.Name), R.Class) << R.Name;
    const std::string Ext =
        ExtractFileExt(R.Name).empty() ? R.Name : ExtractFileExt(R.Name).substr(1);
    bool Found = false;
    for (const auto& E : Registered)
      if (E.GraphicClass == R.Class && strcasecmp(E.Extension.c_str(), Ext.c_str()) == 0) {
        EXPECT_EQ(E.Description, R.Description) << R.Name;
        Found = true;
      }
    EXPECT_TRUE(Found) << R.Name;
  }
  EXPECT_NE(dynamic_cast<TTiffGraphic*>(CreateGraphicForFile("a.tiff").get()), nullptr);
}

#pragma once
// The format registry: file extensions mapped to format classes, and loading
// a picture from a stream by its file name or extension. Extensions are
// matched case-insensitively; the first registration of an extension wins.

#include "imaging/DibGraphic.h"

#include <memory>
#include <string>
#include <vector>

// Registers GraphicClass for Extension (without dot, any case). Description
// is kept for file-dialog filters.
void RegisterGraphicFormat(const std::string& Extension, const std::string& Description,
                           TDibGraphicClass GraphicClass);

// The class registered for the extension of FileName (or for FileName as a
// bare extension, such as "jpg"); null when none.
TDibGraphicClass GraphicClassForFile(const std::string& FileName);

// A new instance of the class for FileName; raises EImageError
// "Graphic files of %s format are not supported or not registered".
std::unique_ptr<TDibGraphic> CreateGraphicForFile(const std::string& FileName);

// Decodes the picture at Stream's position. With a registered class: Index 0
// loads every image as frames (LoadAllImages), any other Index that image.
// Without one, the platform's picture reader (Qt's) chosen by the extension
// decodes, from memory, the file's bytes when FileNameOrExt names a regular
// file, else the stream's remaining bytes; its picture is assigned into a new
// TDibGraphic. Unknown formats raise EInvalidGraphic.
std::unique_ptr<TDibGraphic> CreateGraphicFromStream(TStream& Stream,
                                                     const std::string& FileNameOrExt, int Index);

// A file name in the temporary folder, Prefix + N + Extension for the first N
// with no such file. Creates nothing. Raises Exception
// "QvMisc.CreateTempFile.GetTempPath failed" when there is no temporary folder.
std::string CreateTempFile(const std::string& Prefix, const std::string& Extension);

// The registry's rows in registration order (extension upper case, no dot).
struct TGraphicFormatEntry {
  std::string Extension;
  std::string Description;
  TDibGraphicClass GraphicClass;
};
std::vector<TGraphicFormatEntry> RegisteredGraphicFormats();

// The extension of a file name, dot included, in the name's letter case
// ("" when it has none): from the last dot of the last path component.
std::string ExtractFileExt(const std::string& FileName);

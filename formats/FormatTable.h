#pragma once
// The program's format table: one row per file extension a format class reads.
// The rows are written at build time from formats/PictureFormats.cmake, the
// one list of formats: the catalogue's extension tables, the desktop entry,
// the metainfo and the manual page are made from it too.

#include <span>
#include <string_view>

// The groups of format classes, each registered by its own Register...Formats
// function (formats/Formats.h). The table names a row's group by these names.
enum class TFormatGroup { Bmm, Library, IconMeta, GifWebP, HeifJxl, RawSvg };

struct TPictureFormatRow {
  std::string_view Extension;   // upper case, without the dot, as registered
  std::string_view Description; // the registry's description
  std::string_view MimeType;    // the shared MIME database's type; empty when it knows none
  TFormatGroup Group;
  bool Catalogued; // one of the fifteen the catalogue takes by default
};

// Every row, in table order: the fifteen default extensions first.
std::span<const TPictureFormatRow> PictureFormatRows();

// Registers the group's rows with the format registry, in table order.
void RegisterFormatRows(TFormatGroup Group);

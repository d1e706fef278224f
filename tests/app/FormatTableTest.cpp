// The format table and what is written from it: the registry's rows, the
// catalogue's two extension tables, the desktop entry, the metainfo and the
// manual page all say the same, and the table's MIME types are the ones the
// shared MIME database gives files of those extensions.

#include "app/FolderWalk.h"
#include "formats/FormatTable.h"
#include "formats/Formats.h"
#include "imaging/GraphicRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Lower(std::string_view Text) {
  std::string Result(Text);
  for (char& C : Result)
    C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return Result;
}

std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path);
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

// The table's MIME types, each once, in table order.
std::vector<std::string> TableMimeTypes() {
  std::vector<std::string> Types;
  for (const TPictureFormatRow& Row : PictureFormatRows())
    if (!Row.MimeType.empty() &&
        std::find(Types.begin(), Types.end(), Row.MimeType) == Types.end())
      Types.emplace_back(Row.MimeType);
  return Types;
}

} // namespace

// Every registered extension has a row and every row is registered, with the
// row's description and a class; nothing else adds rows to the registry.
TEST(FormatTable, RowsAreWhatTheRegistryRegisters) {
  RegisterImageFormats();
  std::map<std::string, std::string> Registered;
  for (const TGraphicFormatEntry& Entry : RegisteredGraphicFormats()) {
    EXPECT_TRUE(Registered.emplace(Entry.Extension, Entry.Description).second)
        << Entry.Extension << " registered twice";
    EXPECT_NE(Entry.GraphicClass, nullptr) << Entry.Extension;
  }
  std::map<std::string, std::string> Rows;
  for (const TPictureFormatRow& Row : PictureFormatRows()) {
    EXPECT_TRUE(Rows.emplace(Row.Extension, Row.Description).second) << Row.Extension;
    EXPECT_NE(GraphicClassForFile("picture." + Lower(Row.Extension)), nullptr) << Row.Extension;
  }
  EXPECT_EQ(Registered, Rows);
  // Formats the users have today are among them.
  for (const char* Ext : {"GIF", "WEBP", "HEIC", "HEIF", "AVIF", "JXL", "SVG", "DNG", "CR2",
                          "CR3", "NEF", "NRW", "ARW", "SRF", "SR2", "ORF", "RW2", "RAF", "PEF",
                          "SRW", "ERF", "KDC", "DCR", "MRW", "3FR", "IIQ", "JPE"})
    EXPECT_EQ(Rows.count(Ext), 1u) << Ext;
}

// The catalogue's default table is the table's fifteen default rows in table
// order; the whole table is every row, in table order.
TEST(FormatTable, CatalogueTablesAreTheTablesRows) {
  std::vector<std::string> Default, All;
  for (const TPictureFormatRow& Row : PictureFormatRows()) {
    const std::string Ext = "." + Lower(Row.Extension);
    All.push_back(Ext);
    if (Row.Catalogued) Default.push_back(Ext);
  }
  EXPECT_EQ(std::vector<std::string>(PictureExtensions.begin(), PictureExtensions.end()),
            Default);
  EXPECT_EQ(std::vector<std::string>(AllPictureExtensions.begin(), AllPictureExtensions.end()),
            All);
  EXPECT_EQ(Default, (std::vector<std::string>{".bmp", ".ico", ".jpg", ".jpeg", ".emf", ".wmf",
                                               ".pcx", ".pcc", ".dcx", ".png", ".tga", ".vst",
                                               ".afi", ".tif", ".tiff"}));
}

// The desktop entry starts the program on the whole table and lists every
// MIME type of the table (no folders); the metainfo lists the same types; the
// manual page names every extension.
TEST(FormatTable, DesktopEntryMetainfoAndManualPageFollowTheTable) {
  const std::vector<std::string> Types = TableMimeTypes();
  for (const char* Type : {"image/gif", "image/webp", "image/avif", "image/heic", "image/heif",
                           "image/jxl", "image/svg+xml", "image/x-canon-cr2", "image/x-nikon-nef",
                           "image/x-adobe-dng", "image/x-dcx", "image/jpeg", "image/png"})
    EXPECT_NE(std::find(Types.begin(), Types.end(), Type), Types.end()) << Type;

  const std::string Desktop = ReadFile(IMBREL_DESKTOP_ENTRY);
  ASSERT_FALSE(Desktop.empty()) << IMBREL_DESKTOP_ENTRY;
  std::smatch Match;
  ASSERT_TRUE(std::regex_search(Desktop, Match, std::regex("\nMimeType=([^\n]*)\n")));
  std::string Listed;
  for (const std::string& Type : Types)
    Listed += Type + ";";
  EXPECT_EQ(Match[1].str(), Listed);
  EXPECT_NE(Desktop.find("\nExec=TobbinsImbrel -formats:all %f\n"), std::string::npos);
  EXPECT_EQ(Desktop.find("inode/directory"), std::string::npos);

  const std::string Metainfo = ReadFile(IMBREL_METAINFO);
  ASSERT_FALSE(Metainfo.empty()) << IMBREL_METAINFO;
  std::vector<std::string> MediaTypes;
  const std::regex MediaType("<mediatype>([^<]*)</mediatype>");
  for (auto It = std::sregex_iterator(Metainfo.begin(), Metainfo.end(), MediaType);
       It != std::sregex_iterator(); ++It)
    MediaTypes.push_back((*It)[1].str());
  EXPECT_EQ(MediaTypes, Types);

  const std::string Page = ReadFile(IMBREL_MAN_SOURCE);
  ASSERT_FALSE(Page.empty()) << IMBREL_MAN_SOURCE;
  EXPECT_EQ(Page.find('@'), std::string::npos) << "a template variable left in the page";
  EXPECT_NE(Page.find("-formats:all"), std::string::npos);
  for (const std::string_view Ext : AllPictureExtensions) {
    const std::regex Listed(" \\" + std::string(Ext) + "[,. \n]");
    EXPECT_TRUE(std::regex_search(Page, Listed)) << Ext;
  }
}

// Each row's MIME type is the type the shared MIME database (with the
// program's own definitions, resources/desktop/tobbins-imbrel.mime.xml) gives
// a file of that extension, or an alias of it; a row without a type is one
// the database gives no type. Skipped without the database.
TEST(FormatTable, MimeTypesAreTheDatabasesTypesForTheExtensions) {
  const std::string Globs = ReadFile("/usr/share/mime/globs2");
  if (Globs.empty()) GTEST_SKIP() << "no shared MIME database";
  std::map<std::string, std::set<std::string>> TypesOf; // "*.ext" -> types
  std::istringstream Lines(Globs);
  for (std::string Line; std::getline(Lines, Line);) {
    // weight:type:glob[:flags]
    std::smatch M;
    if (std::regex_match(Line, M, std::regex("[0-9]+:([^:]+):\\*\\.([A-Za-z0-9]+)(:.*)?")))
      TypesOf[Lower(M[2].str())].insert(M[1].str());
  }
  const char* Source = std::getenv("IMBREL_SOURCE");
  ASSERT_NE(Source, nullptr);
  const std::string Own =
      ReadFile(std::string(Source) + "/resources/desktop/tobbins-imbrel.mime.xml");
  ASSERT_FALSE(Own.empty());
  // <mime-type type="T"> ... <glob pattern="*.ext"/>
  const std::regex Defined("<mime-type type=\"([^\"]+)\">([^]*?)</mime-type>");
  const std::regex Glob("<glob pattern=\"\\*\\.([a-z0-9]+)\"/>");
  for (auto It = std::sregex_iterator(Own.begin(), Own.end(), Defined);
       It != std::sregex_iterator(); ++It) {
    const std::string Type = (*It)[1].str(), Body = (*It)[2].str();
    for (auto G = std::sregex_iterator(Body.begin(), Body.end(), Glob);
         G != std::sregex_iterator(); ++G)
      TypesOf[(*G)[1].str()].insert(Type);
  }
  std::map<std::string, std::string> Canonical; // alias -> type
  std::istringstream Aliases(ReadFile("/usr/share/mime/aliases"));
  for (std::string Alias, Type; Aliases >> Alias >> Type;)
    Canonical[Alias] = Type;

  for (const TPictureFormatRow& Row : PictureFormatRows()) {
    const std::string Ext = Lower(Row.Extension);
    const std::set<std::string>& Types = TypesOf[Ext];
    if (Row.MimeType.empty()) {
      EXPECT_TRUE(Types.empty()) << Ext << " has a type in the database: " << *Types.begin();
      continue;
    }
    std::string Type(Row.MimeType);
    if (Canonical.count(Type)) Type = Canonical[Type];
    EXPECT_EQ(Types.count(Type), 1u) << Ext << " is not typed " << Row.MimeType;
  }
}

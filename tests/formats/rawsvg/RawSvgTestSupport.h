#pragma once
// What the RAW and SVG tests share: a scratch folder, decoding a file through
// the registry, PPM files, external tools and colour checks.

#include "imaging/DibGraphic.h"
#include "imaging/GraphicRegistry.h"
#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

namespace rawsvgtest {

namespace fs = std::filesystem;

// A folder of its own for each test.
class TScratch : public ::testing::Test {
protected:
  void SetUp() override {
    std::string Pattern = (fs::temp_directory_path() / "imbrel-rawsvg-XXXXXX").string();
    ASSERT_NE(::mkdtemp(Pattern.data()), nullptr);
    Dir = Pattern;
  }
  void TearDown() override {
    std::error_code Ignored;
    fs::remove_all(Dir, Ignored);
  }
  std::string Path(const std::string& Name) const { return Dir + "/" + Name; }
  std::string Write(const std::string& Name, const std::string& Bytes) const {
    std::ofstream(Path(Name), std::ios::binary) << Bytes;
    return Path(Name);
  }
  std::string Dir;
};

inline std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream Out;
  Out << In.rdbuf();
  return Out.str();
}

// Decodes a file through the registry, as the viewer does.
inline std::unique_ptr<TDibGraphic> DecodeFile(const std::string& Path) {
  TFileStream S(Path, TFileMode::fmOpenRead);
  return CreateGraphicFromStream(S, Path, 1);
}

// "" when Bytes decode as a file with extension Ext, else the class and
// message of what was raised.
inline std::string DecodeFailure(const std::string& Bytes, const std::string& Ext) {
  TBytesStream S(Bytes.data(), int64_t(Bytes.size()));
  try {
    CreateGraphicFromStream(S, "picture." + Ext, 1);
  } catch (const Exception& E) {
    return DemangledClassName(typeid(E)) + ": " + E.Message();
  }
  return "";
}

// A program on the PATH, or "".
inline std::string FindTool(const std::string& Name) {
  const char* Path = std::getenv("PATH");
  std::stringstream Folders(Path ? Path : "");
  std::string Folder;
  while (std::getline(Folders, Folder, ':')) {
    const fs::path Candidate = fs::path(Folder) / Name;
    if (!Folder.empty() && ::access(Candidate.c_str(), X_OK) == 0) return Candidate.string();
  }
  return "";
}

// A binary PPM (P6, maxval 255).
struct TPpm {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Rgb;
};
inline bool ReadPpm(const std::string& Path, TPpm& Out) {
  std::ifstream In(Path, std::ios::binary);
  std::string Magic;
  int Max = 0;
  In >> Magic >> Out.Width >> Out.Height >> Max;
  if (!In || Magic != "P6" || Max != 255) return false;
  In.get();
  Out.Rgb.resize(size_t(Out.Width) * size_t(Out.Height) * 3);
  In.read(reinterpret_cast<char*>(Out.Rgb.data()), std::streamsize(Out.Rgb.size()));
  return bool(In);
}

// The largest difference of any channel between the picture and the PPM
// (256 when their sizes differ).
inline int MaxDifference(const TDibGraphic& G, const TPpm& P) {
  if (G.Width() != P.Width || G.Height() != P.Height) return 256;
  int Max = 0;
  for (int y = 0; y < P.Height; ++y)
    for (int x = 0; x < P.Width; ++x) {
      const uint32_t C = G.GetPixelColor(x, y);
      const uint8_t* R = &P.Rgb[(size_t(y) * P.Width + x) * 3];
      Max = std::max({Max, std::abs(int(C >> 16 & 0xFF) - R[0]), std::abs(int(C >> 8 & 0xFF) - R[1]),
                      std::abs(int(C & 0xFF) - R[2])});
    }
  return Max;
}

// Whether two pictures have the same size, layout and pixels (row padding
// aside).
inline bool SamePixels(const TDibGraphic& A, const TDibGraphic& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height() || A.BitCount() != B.BitCount())
    return false;
  const size_t RowBytes = (size_t(A.Width()) * size_t(A.BitCount()) + 7) / 8;
  for (int y = 0; y < A.Height(); ++y)
    if (std::memcmp(A.ScanLine(y), B.ScanLine(y), RowBytes) != 0) return false;
  return true;
}

// 'r', 'g' or 'b' for a colour one channel clearly leads, 'w' for a light
// grey, '?' otherwise.
inline char Hue(uint32_t Colour) {
  const int R = Colour >> 16 & 0xFF, G = Colour >> 8 & 0xFF, B = Colour & 0xFF;
  if (R > 150 && G > 150 && B > 150) return 'w';
  if (R > G + 60 && R > B + 60) return 'r';
  if (G > R + 60 && G > B + 60) return 'g';
  if (B > R + 60 && B > G + 60) return 'b';
  return '?';
}

} // namespace rawsvgtest

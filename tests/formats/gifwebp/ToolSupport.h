#pragma once
// What the tests that compare with other decoders share: finding and running
// Debian's tools, a scratch folder, and PPM/PAM files (binary, 8 bits).

#include "imaging/DibGraphic.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tools {

// The full path of an executable on PATH; empty when there is none.
inline std::string Find(const std::string& Name) {
  const char* Path = std::getenv("PATH");
  std::stringstream Dirs(Path ? Path : "/usr/bin:/bin");
  std::string Dir;
  while (std::getline(Dirs, Dir, ':')) {
    const std::string Candidate = Dir + "/" + Name;
    if (!Dir.empty() && ::access(Candidate.c_str(), X_OK) == 0) return Candidate;
  }
  return {};
}

// Runs the program with its arguments, output discarded; its exit status
// (-1 when it did not end normally).
inline int Run(const std::vector<std::string>& Args) {
  const pid_t Child = ::fork();
  if (Child == 0) {
    const int Null = ::open("/dev/null", O_WRONLY);
    ::dup2(Null, 1);
    ::dup2(Null, 2);
    std::vector<char*> Argv;
    for (const std::string& A : Args)
      Argv.push_back(const_cast<char*>(A.c_str()));
    Argv.push_back(nullptr);
    ::execv(Argv[0], Argv.data());
    ::_exit(127);
  }
  int Status = 0;
  if (Child < 0 || ::waitpid(Child, &Status, 0) != Child || !WIFEXITED(Status)) return -1;
  return WEXITSTATUS(Status);
}

// A folder of its own for the test, removed afterwards.
class TScratch {
public:
  TScratch() {
    std::string Pattern = (std::filesystem::temp_directory_path() / "imbrel-gifwebp-XXXXXX").string();
    if (::mkdtemp(Pattern.data())) FDir = Pattern;
  }
  ~TScratch() {
    std::error_code Ignored;
    if (!FDir.empty()) std::filesystem::remove_all(FDir, Ignored);
  }
  TScratch(const TScratch&) = delete;
  TScratch& operator=(const TScratch&) = delete;
  std::string operator/(const std::string& Name) const { return FDir + "/" + Name; }
  const std::string& Dir() const { return FDir; }

private:
  std::string FDir;
};

inline std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}
inline void WriteFile(const std::string& Path, const std::string& Bytes) {
  std::ofstream(Path, std::ios::binary) << Bytes;
}

// Pixels as red, green, blue, alpha bytes, rows top first.
struct TRgba {
  int Width = 0;
  int Height = 0;
  std::vector<uint8_t> Pixels;
  const uint8_t* At(int X, int Y) const { return &Pixels[(size_t(Y) * size_t(Width) + size_t(X)) * 4]; }
};

// A P6 (opaque) or P7 RGB_ALPHA file.
inline std::string Pnm(const TRgba& P, bool Alpha) {
  std::string S = Alpha ? "P7\nWIDTH " + std::to_string(P.Width) + "\nHEIGHT " +
                              std::to_string(P.Height) +
                              "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n"
                        : "P6\n" + std::to_string(P.Width) + " " + std::to_string(P.Height) + "\n255\n";
  for (size_t I = 0; I < P.Pixels.size(); I += 4)
    S.append(reinterpret_cast<const char*>(&P.Pixels[I]), Alpha ? 4 : 3);
  return S;
}

// Reads what Pnm writes (and dwebp's and Pillow's P6 and P7 files); an empty
// picture when the file is not one.
inline TRgba ReadPnm(const std::string& Bytes) {
  TRgba P;
  std::istringstream In(Bytes);
  std::string Magic;
  In >> Magic;
  int Depth = 3;
  if (Magic == "P6") {
    int Max = 0;
    In >> P.Width >> P.Height >> Max;
    In.get();
  } else if (Magic == "P7") {
    std::string Key;
    while (In >> Key && Key != "ENDHDR") {
      if (Key == "WIDTH") In >> P.Width;
      else if (Key == "HEIGHT") In >> P.Height;
      else if (Key == "DEPTH") In >> Depth;
      else In.ignore(1 << 20, '\n');
    }
    In.get();
  } else {
    return {};
  }
  const size_t Count = size_t(P.Width) * size_t(P.Height);
  std::string Data(Count * size_t(Depth), '\0');
  In.read(Data.data(), std::streamsize(Data.size()));
  if (size_t(In.gcount()) != Data.size() || (Depth != 3 && Depth != 4)) return {};
  P.Pixels.resize(Count * 4);
  for (size_t I = 0; I < Count; ++I) {
    for (int C = 0; C < 3; ++C)
      P.Pixels[I * 4 + size_t(C)] = uint8_t(Data[I * size_t(Depth) + size_t(C)]);
    P.Pixels[I * 4 + 3] = Depth == 4 ? uint8_t(Data[I * 4 + 3]) : 255;
  }
  return P;
}

// The largest difference of a colour channel between the picture and the
// reference blended onto Background (0x00RRGGBB); 256 when the sizes differ.
inline int MaxDifference(const TDibGraphic& G, const TRgba& Reference, uint32_t Background = 0) {
  if (G.Width() != Reference.Width || G.Height() != Reference.Height) return 256;
  int Max = 0;
  for (int Y = 0; Y < G.Height(); ++Y)
    for (int X = 0; X < G.Width(); ++X) {
      const uint32_t C = G.GetPixelColor(X, Y);
      const uint8_t* R = Reference.At(X, Y);
      for (int K = 0; K < 3; ++K) {
        const int Shift = 16 - 8 * K;
        const int Back = int((Background >> Shift) & 0xFF);
        const int Want = (R[K] * R[3] + Back * (255 - R[3]) + 127) / 255;
        Max = std::max(Max, std::abs(int((C >> Shift) & 0xFF) - Want));
      }
    }
  return Max;
}

} // namespace tools

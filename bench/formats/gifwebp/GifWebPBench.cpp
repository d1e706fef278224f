// Decoding GIF and WebP from memory: the format class next to the library's
// own API decoding the same file into a buffer, in one run.
//
// GIF: every frame of a 60-frame 800 x 600 animation. The library's side is
// DGifSlurp, which decodes every frame's palette indices into buffers of its
// own; the class also maps them to colours, composites each frame onto the
// one before and keeps every frame as a whole picture. Two files: a
// full-motion animation (every frame a whole new picture, as a video turned
// into a GIF), which the required figure is for, and a sprite moving over a
// still background, optimised into small frames with transparency (as
// gifsicle and ffmpeg write them), where the library decodes only the small
// rectangles while the class still makes 60 whole pictures: shown for
// information.
//
// WebP: a 4000 x 3000 (12 MP) lossy photo, against WebPDecodeBGRInto into one
// reused buffer (the floor the glue can approach).
//
// Prints the ratios (class / library, CPU time of the medians) and the
// required lines.

#include "formats/GifGraphic.h"
#include "formats/WebPGraphic.h"

#include "bench/MedianReporter.h"

#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kGifWidth = 800, kGifHeight = 600, kGifFrames = 60;
constexpr int kWebPWidth = 4000, kWebPHeight = 3000;

int WriteToString(GifFileType* Gif, const GifByteType* Bytes, int Count) {
  static_cast<std::string*>(Gif->UserData)->append(reinterpret_cast<const char*>(Bytes), size_t(Count));
  return Count;
}

// A 256-colour table: a 6 x 7 x 6 colour cube and greys.
ColorMapObject* Palette() {
  std::vector<GifColorType> C(256);
  for (int I = 0; I < 252; ++I)
    C[size_t(I)] = {uint8_t(I / 42 * 51), uint8_t(I / 6 % 7 * 42), uint8_t(I % 6 * 51)};
  for (int I = 252; I < 256; ++I)
    C[size_t(I)] = {uint8_t((I - 252) * 85), uint8_t((I - 252) * 85), uint8_t((I - 252) * 85)};
  return GifMakeMapObject(256, C.data());
}

// Palette index of a colour in the cube, with a 2 x 2 ordered dither.
uint8_t CubeIndex(double R, double G, double B, int X, int Y) {
  static const double kDither[4] = {0.0, 0.5, 0.75, 0.25};
  const double D = kDither[(Y & 1) * 2 + (X & 1)];
  auto Level = [&](double V, int Steps) {
    return std::clamp(int(V * (Steps - 1) + D), 0, Steps - 1);
  };
  return uint8_t(Level(R, 6) * 42 + Level(G, 7) * 6 + Level(B, 6));
}

// The two animations. Full motion: the whole picture pans and changes every
// frame. Sprite: a still background, then a 160 x 120 sprite moving over it,
// each frame only the rectangle it touched with the unchanged pixels
// transparent.
std::string GifFile(bool FullMotion) {
  std::string Out;
  int Error = 0;
  GifFileType* Gif = EGifOpen(&Out, WriteToString, &Error);
  EGifSetGifVersion(Gif, true);
  ColorMapObject* Map = Palette();
  EGifPutScreenDesc(Gif, kGifWidth, kGifHeight, 8, 0, Map);
  const uint8_t Loop[3] = {1, 0, 0};
  EGifPutExtensionLeader(Gif, APPLICATION_EXT_FUNC_CODE);
  EGifPutExtensionBlock(Gif, 11, "NETSCAPE2.0");
  EGifPutExtensionBlock(Gif, 3, Loop);
  EGifPutExtensionTrailer(Gif);
  std::mt19937 Rng(3);
  std::uniform_real_distribution<double> Noise(-0.04, 0.04);
  auto Scene = [&](int X, int Y, int T) {
    const double R = 0.5 + 0.5 * std::sin((X + 7 * T) * 0.013 + Y * 0.004);
    const double G = 0.5 + 0.5 * std::sin(Y * 0.011 - T * 0.09 + std::sin(X * 0.02));
    const double B = 0.5 + 0.5 * std::cos((X - Y) * 0.007 + T * 0.05);
    return CubeIndex(R + Noise(Rng), G + Noise(Rng), B + Noise(Rng), X, Y);
  };
  std::vector<GifPixelType> Row(kGifWidth);
  for (int T = 0; T < kGifFrames; ++T) {
    int Left = 0, Top = 0, W = kGifWidth, H = kGifHeight;
    GraphicsControlBlock Gcb{DISPOSE_DO_NOT, false, 4, NO_TRANSPARENT_COLOR};
    if (!FullMotion && T > 0) {
      // The sprite's old and new places, the rest transparent.
      Left = std::min(20 + 9 * (T - 1), 20 + 9 * T);
      Top = 200 + int(80 * std::sin(T * 0.2)) - 40;
      Top = std::clamp(Top, 0, kGifHeight - 220);
      W = 160 + 9;
      H = 220;
      Gcb.TransparentColor = 255;
    }
    GifByteType Ext[4];
    EGifGCBToExtension(&Gcb, Ext);
    EGifPutExtension(Gif, GRAPHICS_EXT_FUNC_CODE, 4, Ext);
    EGifPutImageDesc(Gif, Left, Top, W, H, false, nullptr);
    const int SpriteX = 20 + 9 * T, SpriteY = 200 + int(80 * std::sin(T * 0.2));
    const int OldX = SpriteX - 9, OldY = 200 + int(80 * std::sin((T - 1) * 0.2));
    for (int Y = Top; Y < Top + H; ++Y) {
      for (int X = Left; X < Left + W; ++X) {
        const bool InSprite = X >= SpriteX && X < SpriteX + 160 && Y >= SpriteY && Y < SpriteY + 120;
        const bool WasSprite = T > 0 && X >= OldX && X < OldX + 160 && Y >= OldY && Y < OldY + 120;
        GifPixelType P;
        if (FullMotion)
          P = Scene(X, Y, T);
        else if (InSprite)
          P = CubeIndex(0.9, 0.3 + 0.002 * (Y - SpriteY), 0.2, X, Y);
        else
          P = T == 0 || WasSprite ? Scene(X, Y, 0) : 255;
        Row[size_t(X - Left)] = P;
      }
      EGifPutLine(Gif, Row.data(), W);
    }
  }
  EGifCloseFile(Gif, &Error);
  GifFreeMapObject(Map);
  return Out;
}

const std::string& FullMotionGif() {
  static const std::string F = GifFile(true);
  return F;
}
const std::string& SpriteGif() {
  static const std::string F = GifFile(false);
  return F;
}

const std::string& WebPFile() {
  static const std::string File = [] {
    std::vector<uint8_t> Rgb(size_t(kWebPWidth) * kWebPHeight * 3);
    std::mt19937 Rng(7);
    std::uniform_int_distribution<int> Noise(-6, 6);
    for (int Y = 0; Y < kWebPHeight; ++Y)
      for (int X = 0; X < kWebPWidth; ++X) {
        uint8_t* P = &Rgb[(size_t(Y) * kWebPWidth + size_t(X)) * 3];
        const double Sky = 0.5 + 0.5 * std::sin(X * 0.0015 + Y * 0.001);
        const double Hill = (Y > 1900 + 200 * std::sin(X * 0.003)) ? 0.35 : 1.0;
        const double Detail = 0.08 * std::sin(X * 0.05) * std::sin(Y * 0.043);
        const int Base = int(255 * std::clamp(Sky * Hill + Detail, 0.0, 1.0));
        P[0] = uint8_t(std::clamp(Base + Noise(Rng), 0, 255));
        P[1] = uint8_t(std::clamp(int(Base * 0.8) + 30 + Noise(Rng), 0, 255));
        P[2] = uint8_t(std::clamp(255 - Base / 2 + Noise(Rng), 0, 255));
      }
    uint8_t* Out = nullptr;
    const size_t Size = WebPEncodeRGB(Rgb.data(), kWebPWidth, kWebPHeight, kWebPWidth * 3, 80, &Out);
    std::string F(reinterpret_cast<const char*>(Out), Size);
    WebPFree(Out);
    return F;
  }();
  return File;
}

// ---- The classes

template <class T> void ClassDecode(benchmark::State& State, const std::string& File) {
  for (auto _ : State) {
    TBytesStream S(File.data(), static_cast<int64_t>(File.size()));
    T G;
    G.LoadFromStream(S);
    benchmark::DoNotOptimize(G.ScanLine(0)[0]);
  }
}
void BM_GifClass(benchmark::State& S) {
  ClassDecode<TGifGraphic>(S, FullMotionGif());
}
void BM_GifSpriteClass(benchmark::State& S) {
  ClassDecode<TGifGraphic>(S, SpriteGif());
}
void BM_WebPClass(benchmark::State& S) {
  ClassDecode<TWebPGraphic>(S, WebPFile());
}

// ---- The libraries

struct TMemoryInput {
  const std::string* Data;
  size_t Position;
};
int ReadMemory(GifFileType* Gif, GifByteType* Bytes, int Count) {
  auto* In = static_cast<TMemoryInput*>(Gif->UserData);
  const size_t N = std::min(size_t(Count), In->Data->size() - In->Position);
  std::memcpy(Bytes, In->Data->data() + In->Position, N);
  In->Position += N;
  return int(N);
}

void GifLibrary(benchmark::State& State, const std::string& File) {
  for (auto _ : State) {
    TMemoryInput In{&File, 0};
    int Error = 0;
    GifFileType* Gif = DGifOpen(&In, ReadMemory, &Error);
    if (!Gif || DGifSlurp(Gif) != GIF_OK) State.SkipWithError("giflib failed");
    if (Gif) benchmark::DoNotOptimize(Gif->SavedImages[Gif->ImageCount - 1].RasterBits[0]);
    DGifCloseFile(Gif, &Error);
  }
}
void BM_GifLibrary(benchmark::State& S) {
  GifLibrary(S, FullMotionGif());
}
void BM_GifSpriteLibrary(benchmark::State& S) {
  GifLibrary(S, SpriteGif());
}

void BM_WebPLibrary(benchmark::State& State) {
  const std::string& File = WebPFile();
  static std::vector<uint8_t> Out(size_t(kWebPWidth) * kWebPHeight * 3, 1);
  for (auto _ : State) {
    if (!WebPDecodeBGRInto(reinterpret_cast<const uint8_t*>(File.data()), File.size(), Out.data(),
                           Out.size(), kWebPWidth * 3))
      State.SkipWithError("libwebp failed");
    benchmark::DoNotOptimize(Out[0]);
  }
}

} // namespace

#define IMBREL_BENCH(Name)                                                                         \
  BENCHMARK(Name)->Unit(benchmark::kMillisecond)->MinTime(2)->Repetitions(3)->ReportAggregatesOnly(true)
IMBREL_BENCH(BM_GifLibrary);
IMBREL_BENCH(BM_GifClass);
IMBREL_BENCH(BM_GifSpriteLibrary);
IMBREL_BENCH(BM_GifSpriteClass);
IMBREL_BENCH(BM_WebPLibrary);
IMBREL_BENCH(BM_WebPClass);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Encode once, before any timing.
  std::printf("GIF full motion %zu bytes, GIF sprite %zu bytes, WebP %zu bytes\n",
              FullMotionGif().size(), SpriteGif().size(), WebPFile().size());
  TMedianReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  auto Ratio = [&](const char* Class, const char* Library) {
    if (!Reporter.MedianCpu.count(Class) || !Reporter.MedianCpu.count(Library)) return -1.0;
    std::printf("%s / %s: CPU time %.3f, real time %.3f\n", Class, Library,
                Reporter.MedianCpu[Class] / Reporter.MedianCpu[Library],
                Reporter.MedianReal[Class] / Reporter.MedianReal[Library]);
    return Reporter.MedianCpu[Class] / Reporter.MedianCpu[Library];
  };
  const double Gif = Ratio("BM_GifClass", "BM_GifLibrary");
  const double Sprite = Ratio("BM_GifSpriteClass", "BM_GifSpriteLibrary");
  const double WebP = Ratio("BM_WebPClass", "BM_WebPLibrary");
  if (Sprite > 0)
    std::printf("info: gif_sprite_decode_over_library %.3f (60 whole pictures made of small "
                "frames)\n",
                Sprite);
  if (Gif > 0)
    std::printf("required: gif_decode_over_library %.3f 1.10 %s\n", Gif, Gif <= 1.10 ? "ok" : "short");
  if (WebP > 0)
    std::printf("required: webp_decode_over_library %.3f 1.10 %s\n", WebP,
                WebP <= 1.10 ? "ok" : "short");
  benchmark::Shutdown();
  return 0;
}

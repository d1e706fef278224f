// Decoding a 6000 x 4000 photo-like picture from memory as JPEG (quality 90,
// 4:2:0), PNG (RGB, 8 bits) and TIFF (Deflate, RGB): the format class next to
// a bare loop over the same library with the same settings, decoding into one
// reused buffer (the floor the glue can approach). The ratios are printed at
// the end.

#include "formats/JpegGraphic.h"
#include "formats/PngGraphic.h"
#include "formats/TiffGraphic.h"

#include "bench/MedianReporter.h"

#include <benchmark/benchmark.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr size_t kRowBytes = size_t(kWidth) * 3;

// Smooth shading, a few hard edges and sensor-like noise, in RGB order.
const std::vector<uint8_t>& Photo() {
  static const std::vector<uint8_t> Pixels = [] {
    std::vector<uint8_t> P(kRowBytes * kHeight);
    std::mt19937 Rng(7);
    std::uniform_int_distribution<int> Noise(-6, 6);
    for (int Y = 0; Y < kHeight; ++Y) {
      uint8_t* Row = P.data() + kRowBytes * size_t(Y);
      for (int X = 0; X < kWidth; ++X) {
        const double Sky = 0.5 + 0.5 * std::sin(X * 0.0011 + Y * 0.0007);
        const double Hill = (Y > 2500 + 300 * std::sin(X * 0.002)) ? 0.35 : 1.0;
        const double Detail = 0.08 * std::sin(X * 0.05) * std::sin(Y * 0.043);
        const int Base = int(255 * std::clamp(Sky * Hill + Detail, 0.0, 1.0));
        Row[3 * X] = uint8_t(std::clamp(Base + Noise(Rng), 0, 255));
        Row[3 * X + 1] = uint8_t(std::clamp(int(Base * 0.8) + 30 + Noise(Rng), 0, 255));
        Row[3 * X + 2] = uint8_t(std::clamp(255 - Base / 2 + Noise(Rng), 0, 255));
      }
    }
    return P;
  }();
  return Pixels;
}

// ---- Encoded files ----

const std::string& JpegFile() {
  static const std::string File = [] {
    jpeg_compress_struct C{};
    jpeg_error_mgr E{};
    C.err = jpeg_std_error(&E);
    jpeg_create_compress(&C);
    unsigned char* Out = nullptr;
    unsigned long Size = 0;
    jpeg_mem_dest(&C, &Out, &Size);
    C.image_width = kWidth;
    C.image_height = kHeight;
    C.input_components = 3;
    C.in_color_space = JCS_RGB;
    jpeg_set_defaults(&C); // YCbCr with 2x2 luma sampling: 4:2:0
    jpeg_set_quality(&C, 90, TRUE);
    jpeg_start_compress(&C, TRUE);
    while (C.next_scanline < C.image_height) {
      JSAMPROW Row = const_cast<uint8_t*>(Photo().data() + kRowBytes * C.next_scanline);
      jpeg_write_scanlines(&C, &Row, 1);
    }
    jpeg_finish_compress(&C);
    std::string F(reinterpret_cast<char*>(Out), Size);
    jpeg_destroy_compress(&C);
    std::free(Out);
    return F;
  }();
  return File;
}

void AppendPng(png_structp Png, png_bytep Data, size_t Length) {
  static_cast<std::string*>(png_get_io_ptr(Png))->append(reinterpret_cast<char*>(Data), Length);
}
void NoFlush(png_structp) {}

const std::string& PngFile() {
  static const std::string File = [] {
    std::string F;
    png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop Info = png_create_info_struct(Png);
    png_set_write_fn(Png, &F, AppendPng, NoFlush);
    png_set_IHDR(Png, Info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(Png, Info);
    for (int Y = 0; Y < kHeight; ++Y)
      png_write_row(Png, Photo().data() + kRowBytes * size_t(Y));
    png_write_end(Png, Info);
    png_destroy_write_struct(&Png, &Info);
    return F;
  }();
  return File;
}

// libtiff on a read-only block of memory, without mapping (as the class).
struct TMem {
  const std::string* Data;
  uint64_t Pos = 0;
  std::string* Out = nullptr;
};
tmsize_t MemRead(thandle_t H, void* B, tmsize_t N) {
  auto* M = static_cast<TMem*>(H);
  const uint64_t Left = M->Pos < M->Data->size() ? M->Data->size() - M->Pos : 0;
  const uint64_t C = std::min<uint64_t>(Left, uint64_t(N));
  std::memcpy(B, M->Data->data() + M->Pos, C);
  M->Pos += C;
  return tmsize_t(C);
}
tmsize_t MemWrite(thandle_t H, void* B, tmsize_t N) {
  auto* M = static_cast<TMem*>(H);
  if (M->Out->size() < M->Pos + uint64_t(N)) M->Out->resize(M->Pos + uint64_t(N));
  std::memcpy(M->Out->data() + M->Pos, B, size_t(N));
  M->Pos += uint64_t(N);
  return N;
}
toff_t MemSeek(thandle_t H, toff_t Off, int Whence) {
  auto* M = static_cast<TMem*>(H);
  const uint64_t Size = M->Out ? M->Out->size() : M->Data->size();
  M->Pos = Whence == SEEK_SET ? Off : Whence == SEEK_CUR ? M->Pos + Off : Size + Off;
  return M->Pos;
}
int MemClose(thandle_t) {
  return 0;
}
toff_t MemSize(thandle_t H) {
  auto* M = static_cast<TMem*>(H);
  return M->Out ? M->Out->size() : M->Data->size();
}
int NoMap(thandle_t, void**, toff_t*) {
  return 0;
}
void NoUnmap(thandle_t, void*, toff_t) {}

const std::string& TiffFile() {
  static const std::string File = [] {
    std::string F;
    TMem M{&F, 0, &F};
    TIFF* T =
        TIFFClientOpen("", "w", &M, MemRead, MemWrite, MemSeek, MemClose, MemSize, NoMap, NoUnmap);
    TIFFSetField(T, TIFFTAG_IMAGEWIDTH, uint32_t(kWidth));
    TIFFSetField(T, TIFFTAG_IMAGELENGTH, uint32_t(kHeight));
    TIFFSetField(T, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(T, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
    TIFFSetField(T, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(T, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(T, TIFFTAG_COMPRESSION, COMPRESSION_DEFLATE);
    TIFFSetField(T, TIFFTAG_ROWSPERSTRIP, uint32_t(16));
    for (int Y = 0; Y < kHeight; ++Y)
      TIFFWriteScanline(T, const_cast<uint8_t*>(Photo().data() + kRowBytes * size_t(Y)),
                        uint32_t(Y), 0);
    TIFFClose(T);
    return F;
  }();
  return File;
}

// The reused output of the bare loops: written before timing starts.
uint8_t* BareOutput() {
  static std::vector<uint8_t> Out(kRowBytes * kHeight, 1);
  return Out.data();
}

// ---- Format classes ----

template <class T> void ClassDecode(benchmark::State& State, const std::string& File) {
  for (auto _ : State) {
    TBytesStream S(File.data(), static_cast<int64_t>(File.size()));
    T G;
    G.LoadFromStream(S);
    benchmark::DoNotOptimize(G.ScanLine(0)[0]);
  }
}

void BM_JpegClass(benchmark::State& S) {
  ClassDecode<TJpegGraphic>(S, JpegFile());
}
void BM_PngClass(benchmark::State& S) {
  ClassDecode<TPngGraphic>(S, PngFile());
}
void BM_TiffClass(benchmark::State& S) {
  ClassDecode<TTiffGraphic>(S, TiffFile());
}

// ---- Bare library loops with the classes' settings ----

void BM_JpegBare(benchmark::State& State) {
  const std::string& File = JpegFile();
  uint8_t* Out = BareOutput();
  for (auto _ : State) {
    jpeg_decompress_struct D{};
    jpeg_error_mgr E{};
    D.err = jpeg_std_error(&E);
    jpeg_create_decompress(&D);
    jpeg_mem_src(&D, reinterpret_cast<const unsigned char*>(File.data()), File.size());
    jpeg_read_header(&D, TRUE);
    D.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&D);
    while (D.output_scanline < D.output_height) {
      JSAMPROW Row = Out + kRowBytes * (kHeight - 1 - D.output_scanline);
      jpeg_read_scanlines(&D, &Row, 1);
    }
    jpeg_finish_decompress(&D);
    jpeg_destroy_decompress(&D);
    benchmark::DoNotOptimize(Out[0]);
  }
}

struct TPngIn {
  const std::string* Data;
  size_t Pos;
};
void PngRead(png_structp Png, png_bytep B, size_t N) {
  auto* In = static_cast<TPngIn*>(png_get_io_ptr(Png));
  std::memcpy(B, In->Data->data() + In->Pos, N);
  In->Pos += N;
}

void BM_PngBare(benchmark::State& State) {
  const std::string& File = PngFile();
  uint8_t* Out = BareOutput();
  for (auto _ : State) {
    TPngIn In{&File, 8};
    png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop Info = png_create_info_struct(Png);
    png_set_read_fn(Png, &In, PngRead);
    png_set_sig_bytes(Png, 8);
    png_read_info(Png, Info);
    // The class's settings for an RGB file without gamma information.
    png_set_bgr(Png);
    png_set_gamma(Png, 2.2, 0.5);
    png_color_16 Back{};
    png_set_background(Png, &Back, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    png_read_update_info(Png, Info);
    for (int Y = 0; Y < kHeight; ++Y)
      png_read_row(Png, Out + kRowBytes * size_t(kHeight - 1 - Y), nullptr);
    png_destroy_read_struct(&Png, &Info, nullptr);
    benchmark::DoNotOptimize(Out[0]);
  }
}

void BM_TiffBare(benchmark::State& State) {
  const std::string& File = TiffFile();
  uint8_t* Out = BareOutput();
  for (auto _ : State) {
    TMem M{&File, 0, nullptr};
    TIFF* T =
        TIFFClientOpen("", "r", &M, MemRead, MemWrite, MemSeek, MemClose, MemSize, NoMap, NoUnmap);
    const tmsize_t Scan = TIFFScanlineSize(T);
    uint32_t Rps = 0;
    TIFFGetFieldDefaulted(T, TIFFTAG_ROWSPERSTRIP, &Rps);
    for (uint32_t G = 0; G < uint32_t(kHeight); G += Rps) {
      const uint32_t N = std::min<uint32_t>(Rps, kHeight - G);
      TIFFReadEncodedStrip(T, TIFFComputeStrip(T, G, 0), Out + size_t(Scan) * G, Scan * N);
    }
    TIFFClose(T);
    benchmark::DoNotOptimize(Out[0]);
  }
}

} // namespace

BENCHMARK(BM_JpegBare)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_JpegClass)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PngBare)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PngClass)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_TiffBare)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_TiffClass)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Encode once, before any timing.
  std::printf("JPEG %zu bytes, PNG %zu bytes, TIFF %zu bytes\n", JpegFile().size(),
              PngFile().size(), TiffFile().size());
  BareOutput();
  TMedianReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  const struct {
    const char* Name;
    const char* Class;
    const char* Bare;
    double Limit;
  } Pairs[] = {{"JPEG", "BM_JpegClass", "BM_JpegBare", 1.10},
               {"PNG", "BM_PngClass", "BM_PngBare", 1.10},
               {"TIFF", "BM_TiffClass", "BM_TiffBare", 1.50}};
  for (const auto& P : Pairs) {
    if (Reporter.MedianCpu.count(P.Class) == 0 || Reporter.MedianCpu.count(P.Bare) == 0) continue;
    std::printf(
        "%-4s class / bare library loop: CPU time %.3f, real time %.3f (required at most %.2f)\n",
        P.Name, Reporter.MedianCpu[P.Class] / Reporter.MedianCpu[P.Bare],
        Reporter.MedianReal[P.Class] / Reporter.MedianReal[P.Bare], P.Limit);
  }
  benchmark::Shutdown();
  return 0;
}

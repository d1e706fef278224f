// A 24-megapixel camera RAW (a DNG written here: a 6000 x 4000 colour mosaic
// of 16-bit samples with a full-size JPEG preview of a photo-like picture,
// quality 90) decoded from memory by TRawGraphic, next to libraw's own API
// doing the same work into one reused buffer: open the bytes, extract the
// preview (unpack_thumb) and decode it with libjpeg (libraw hands JPEG
// previews over undecoded). Without a screen the viewer counts 1920 x 1080,
// so the preview is what both show. Developing the sensor's picture (no
// preview: half size, camera white balance, sRGB) is timed for information
// against libraw's dcraw_process and dcraw_make_mem_image.
//
// Prints `required: raw_decode_over_library <ratio> 1.10 ok|short` from the
// median CPU times of the preview path.

#include "formats/RawGraphic.h"
#include "tools/dng_fixtures/DngWriter.h"

#include "bench/MedianReporter.h"

#include <benchmark/benchmark.h>
#include <libraw/libraw.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// Smooth shading, a few hard edges and sensor-like noise, RGB rows.
std::vector<uint8_t> Photo() {
  std::vector<uint8_t> P(size_t(kWidth) * kHeight * 3);
  std::mt19937 Rng(7);
  std::uniform_int_distribution<int> Noise(-6, 6);
  for (int Y = 0; Y < kHeight; ++Y) {
    uint8_t* Row = P.data() + size_t(kWidth) * 3 * size_t(Y);
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
}

std::string MakeDng(bool WithPreview) {
  dngfixture::TDng Fixture;
  Fixture.Width = kWidth;
  Fixture.Height = kHeight;
  if (WithPreview) {
    dngfixture::TPreview Preview;
    Preview.Width = kWidth;
    Preview.Height = kHeight;
    Preview.Pixels = Photo();
    Fixture.Previews.push_back(std::move(Preview));
  }
  std::string Name = (std::filesystem::temp_directory_path() / "imbrel-raw-bench-XXXXXX").string();
  const int Fd = ::mkstemp(Name.data());
  if (Fd < 0) std::abort();
  ::close(Fd);
  const std::string Error = dngfixture::WriteDng(Name, Fixture);
  std::stringstream Bytes;
  Bytes << std::ifstream(Name, std::ios::binary).rdbuf();
  std::remove(Name.c_str());
  if (!Error.empty()) {
    std::fprintf(stderr, "%s\n", Error.c_str());
    std::abort();
  }
  return Bytes.str();
}

const std::string& PreviewDng() {
  static const std::string File = MakeDng(true);
  return File;
}
const std::string& SensorDng() {
  static const std::string File = MakeDng(false);
  return File;
}

// The reused output of libraw's loops, touched before timing starts.
uint8_t* Output() {
  static std::vector<uint8_t> Out(size_t(kWidth) * kHeight * 3, 1);
  return Out.data();
}

template <bool Preview> void BM_Class(benchmark::State& State) {
  const std::string& File = Preview ? PreviewDng() : SensorDng();
  for (auto _ : State) {
    TBytesStream S(File.data(), int64_t(File.size()));
    TRawGraphic G;
    G.LoadFromStream(S);
    if (G.Source() != (Preview ? TRawGraphic::rsPreview : TRawGraphic::rsDeveloped))
      State.SkipWithError("the class took the other path");
    benchmark::DoNotOptimize(G.ScanLine(0)[0]);
  }
}

void BM_RawPreviewClass(benchmark::State& S) {
  BM_Class<true>(S);
}
void BM_RawDevelopClass(benchmark::State& S) {
  BM_Class<false>(S);
}

void BM_RawPreviewLibrary(benchmark::State& State) {
  const std::string& File = PreviewDng();
  uint8_t* Out = Output();
  for (auto _ : State) {
    auto Raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    if (Raw->open_buffer(const_cast<char*>(File.data()), File.size()) != LIBRAW_SUCCESS ||
        Raw->unpack_thumb() != LIBRAW_SUCCESS ||
        Raw->imgdata.thumbnail.tformat != LIBRAW_THUMBNAIL_JPEG) {
      State.SkipWithError("libraw found no JPEG preview");
      break;
    }
    const libraw_thumbnail_t& T = Raw->imgdata.thumbnail;
    jpeg_decompress_struct D{};
    jpeg_error_mgr E{};
    D.err = jpeg_std_error(&E);
    jpeg_create_decompress(&D);
    jpeg_mem_src(&D, reinterpret_cast<const unsigned char*>(T.thumb), T.tlength);
    jpeg_read_header(&D, TRUE);
    D.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&D);
    const size_t RowBytes = size_t(D.output_width) * 3;
    while (D.output_scanline < D.output_height) {
      JSAMPROW Row = Out + RowBytes * (D.output_height - 1 - D.output_scanline);
      jpeg_read_scanlines(&D, &Row, 1);
    }
    jpeg_finish_decompress(&D);
    jpeg_destroy_decompress(&D);
    benchmark::DoNotOptimize(Out[0]);
  }
}

void BM_RawDevelopLibrary(benchmark::State& State) {
  const std::string& File = SensorDng();
  for (auto _ : State) {
    auto Raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    Raw->imgdata.params.half_size = 1;
    Raw->imgdata.params.use_camera_wb = 1;
    Raw->imgdata.params.output_bps = 8;
    if (Raw->open_buffer(const_cast<char*>(File.data()), File.size()) != LIBRAW_SUCCESS ||
        Raw->unpack() != LIBRAW_SUCCESS || Raw->dcraw_process() != LIBRAW_SUCCESS) {
      State.SkipWithError("libraw could not develop the file");
      break;
    }
    libraw_processed_image_t* Image = Raw->dcraw_make_mem_image();
    benchmark::DoNotOptimize(Image->data[0]);
    LibRaw::dcraw_clear_mem(Image);
  }
}

} // namespace

// The two sides of the preview path alternate, so that load on the machine
// falls on both.
BENCHMARK(BM_RawPreviewLibrary)->Unit(benchmark::kMillisecond)->MinTime(2)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_RawPreviewClass)->Unit(benchmark::kMillisecond)->MinTime(2)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_RawDevelopLibrary)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_RawDevelopClass)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(3)->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Written once, before any timing.
  std::printf("DNG with preview %zu bytes, without %zu bytes\n", PreviewDng().size(),
              SensorDng().size());
  Output();
  TMedianReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  auto Ratio = [&](const char* Ours, const char* Theirs, double& Cpu, double& Real) {
    if (!Reporter.MedianCpu.count(Ours) || !Reporter.MedianCpu.count(Theirs)) return false;
    Cpu = Reporter.MedianCpu[Ours] / Reporter.MedianCpu[Theirs];
    Real = Reporter.MedianReal[Ours] / Reporter.MedianReal[Theirs];
    return true;
  };
  double Cpu = 0, Real = 0;
  if (Ratio("BM_RawDevelopClass", "BM_RawDevelopLibrary", Cpu, Real))
    std::printf("developing (half size), class / libraw: CPU time %.3f, real time %.3f\n", Cpu, Real);
  if (Ratio("BM_RawPreviewClass", "BM_RawPreviewLibrary", Cpu, Real)) {
    std::printf("preview, class / libraw + libjpeg: CPU time %.3f, real time %.3f\n", Cpu, Real);
    std::printf("required: raw_decode_over_library %.3f 1.10 %s\n", Cpu, Cpu <= 1.10 ? "ok" : "short");
  }
  benchmark::Shutdown();
  return 0;
}

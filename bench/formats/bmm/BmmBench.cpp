// Decoding 6000 x 4000 photo-like pictures from memory: 24-bit BMP, 8-bit RLE8
// BMP, 24-bit PCX (3 planes), 24-bit run-length Targa and 32-bit raw Targa.
// For each file: our format class (a new image per decode, as the viewer
// loads), the bitmap module alone into a reused buffer, Qt's image reader for
// the BMP and Targa files, and memcpy of the decoded size. After the runs a
// table prints MB/s of decoded output and the ratios. Times are the CPU time
// of this process, which a machine shared with other work leaves comparable.

#include "formats/BitmapGraphic.h"
#include "formats/bitmap_module/Bmm.h"
#include "tools/bmm_fixtures/BmmFixtures.h"
#include "formats/PcxGraphic.h"
#include "formats/TgaGraphic.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <sys/resource.h>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace bmmfix;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

struct TestFile {
  std::string name;
  int format;           // bitmap-module format index
  const char* qtFormat; // nullptr: no Qt comparison
  Bytes bytes;
  int64_t decodedBytes = 0;
  // Qt's Targa reader refuses run-length files: it reads this uncompressed
  // file of the same picture instead (empty: the file itself).
  Bytes qtBytes = {};
};

std::vector<TestFile>& Files() {
  static std::vector<TestFile> files;
  return files;
}

Bytes Written(int ft, int bpp, const BmmPaletteEntry* pal, const Bytes& dib, const char* opt) {
  BmmHeader h{};
  h.width = kWidth;
  h.height = kHeight;
  h.bpp = bpp;
  TMemoryStream s;
  if (bmm_write("x", &s, ft, &h, pal, dib.data(), opt) != 0) std::abort();
  return Bytes(s.Memory(), s.Memory() + s.Size());
}

// The TGA 2.0 footer (no extension or developer area): Qt's Targa reader
// wants it; ours reads past it.
Bytes WithTgaFooter(Bytes b) {
  U32(b, 0);
  U32(b, 0);
  const char sig[] = "TRUEVISION-XFILE.";
  b.insert(b.end(), sig, sig + sizeof sig); // with its final 0
  return b;
}

void MakeFiles() {
  const Bytes photo = PhotoRgb(kWidth, kHeight); // top row first, BGR
  const int64_t stride24 = Stride(kWidth, 24);
  Bytes dib24(std::size_t(stride24) * kHeight, 0);
  for (int y = 0; y < kHeight; ++y)
    std::memcpy(dib24.data() + std::size_t(kHeight - 1 - y) * stride24,
                photo.data() + std::size_t(y) * kWidth * 3, std::size_t(kWidth) * 3);
  BmmPaletteEntry pal[256] = {};
  const int64_t decoded24 = stride24 * kHeight;

  Files().push_back(
      {"BMP 24-bit", BMM_FORMAT_BMP, "bmp", Written(0, 24, pal, dib24, ""), decoded24});

  // 8-bit: 3-3-2 colour cube of the photo, run-length encoded.
  for (int i = 0; i < 256; ++i)
    pal[i] = {uint8_t((i >> 5) * 255 / 7), uint8_t(((i >> 2) & 7) * 255 / 7),
              uint8_t((i & 3) * 85)};
  const int64_t stride8 = Stride(kWidth, 8);
  Bytes dib8(std::size_t(stride8) * kHeight, 0);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const uint8_t* p = dib24.data() + y * stride24 + 3 * x;
      dib8[std::size_t(y * stride8 + x)] = uint8_t((p[2] >> 5) << 5 | (p[1] >> 5) << 2 | p[0] >> 6);
    }
  BmpLayout s;
  s.width = kWidth;
  s.height = kHeight;
  s.bitCount = 8;
  s.compression = 1;
  s.coloursUsed = 256;
  for (int i = 0; i < 256; ++i)
    s.palette.push_back({pal[i].r, pal[i].g, pal[i].b});
  s.data = EncodeRle8(dib8.data(), kWidth, kHeight, stride8);
  Files().push_back({"BMP 8-bit RLE8", BMM_FORMAT_BMP, "bmp", BmpFile(s), stride8 * kHeight});

  Files().push_back(
      {"PCX 24-bit", BMM_FORMAT_PCX, nullptr, Written(1, 24, pal, dib24, ""), decoded24});

  TgaLayout t;
  t.imageType = 10;
  t.depth = 24;
  t.width = kWidth;
  t.height = kHeight;
  t.descriptor = 0x20; // photo rows top first
  t.data = EncodeTgaRle(photo.data(), std::size_t(kWidth) * kHeight, 3);
  const Bytes rle = WithTgaFooter(TgaFile(t));
  t.imageType = 2;
  t.data = photo;
  Files().push_back(
      {"TGA 24-bit RLE", BMM_FORMAT_TGA, "tga", rle, decoded24, WithTgaFooter(TgaFile(t))});

  Files().push_back({"TGA 32-bit raw", BMM_FORMAT_TGA, "tga",
                     WithTgaFooter(Written(2, 24, pal, dib24, "32")), decoded24});
}

void SetBytes(benchmark::State& state, const TestFile& f) {
  state.SetBytesProcessed(state.iterations() * f.decodedBytes);
  state.counters["file_MB"] = double(f.bytes.size()) / 1e6;
}

// Our format class, a new image per decode.
std::unique_ptr<TDibGraphic> DecodeOurs(const TestFile& f) {
  TBytesStream s(f.bytes.data(), int64_t(f.bytes.size()));
  std::unique_ptr<TDibGraphic> g;
  if (f.format == BMM_FORMAT_BMP)
    g = std::make_unique<TBitmapGraphic>();
  else if (f.format == BMM_FORMAT_PCX)
    g = std::make_unique<TPcxGraphic>();
  else
    g = std::make_unique<TTgaGraphic>();
  g->LoadFromStream(s);
  return g;
}

void BM_Ours(benchmark::State& state, std::size_t i) {
  const TestFile& f = Files()[i];
  // One decode first: as in the viewer, later images reuse the pixel storage
  // of earlier ones instead of faulting in fresh pages.
  DecodeOurs(f);
  for (auto _ : state) {
    auto g = DecodeOurs(f);
    benchmark::DoNotOptimize(g->Bits());
  }
  SetBytes(state, f);
}

// Only the image our classes decode into: NewImage of the decoded size, a new
// image each time (the share of BM_Ours that is not decoding).
void BM_NewImage(benchmark::State& state, std::size_t i) {
  const TestFile& f = Files()[i];
  const TImageFormat format =
      f.decodedBytes == Stride(kWidth, 8) * kHeight ? ifColor256 : ifTrueColor;
  for (auto _ : state) {
    TDibGraphic g;
    g.NewImage(kWidth, kHeight, format, nullptr, 0, 0);
    benchmark::DoNotOptimize(g.Bits());
  }
  SetBytes(state, f);
}

// The module's three steps into one reused buffer.
void BM_Module(benchmark::State& state, std::size_t i) {
  const TestFile& f = Files()[i];
  Bytes out(std::size_t(f.decodedBytes));
  for (auto _ : state) {
    TBytesStream s(f.bytes.data(), int64_t(f.bytes.size()));
    BmmHeader h{};
    BmmPaletteEntry pal[256] = {};
    if (bmm_read_header("x", &s, f.format, &h, "") ||
        (h.bpp != 24 && bmm_read_colours(&s, f.format, &h, pal)) ||
        bmm_read_data(&s, f.format, &h, out.data()))
      state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state, f);
}

void BM_Qt(benchmark::State& state, std::size_t i) {
  const TestFile& f = Files()[i];
  const Bytes& file = f.qtBytes.empty() ? f.bytes : f.qtBytes;
  const QByteArray bytes =
      QByteArray::fromRawData(reinterpret_cast<const char*>(file.data()), qsizetype(file.size()));
  for (auto _ : state) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, f.qtFormat);
    const QImage image = reader.read();
    if (image.isNull()) state.SkipWithError(("Qt: " + reader.errorString().toStdString()).c_str());
    benchmark::DoNotOptimize(image.constBits());
  }
  SetBytes(state, f);
}

// memcpy of the decoded size into a reused buffer.
void BM_Memcpy(benchmark::State& state, std::size_t i) {
  const TestFile& f = Files()[i];
  Bytes src(std::size_t(f.decodedBytes), 1);
  Bytes dst(std::size_t(f.decodedBytes), 0);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), dst.size());
    benchmark::ClobberMemory();
  }
  SetBytes(state, f);
}

// Keeps the console output and remembers each benchmark's time per iteration.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (!r.error_occurred && r.run_type == Run::RT_Iteration)
        Seconds[r.benchmark_name()] =
            r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
  }
  std::map<std::string, double> Seconds;
};

} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QImageReader::setAllocationLimit(0); // Qt's reader may take the whole picture
  MakeFiles();
  for (std::size_t i = 0; i < Files().size(); ++i) {
    const std::string n = Files()[i].name;
    benchmark::RegisterBenchmark(("Ours/" + n).c_str(), BM_Ours, i)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Module/" + n).c_str(), BM_Module, i)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("NewImage/" + n).c_str(), BM_NewImage, i)
        ->Unit(benchmark::kMillisecond);
    if (Files()[i].qtFormat)
      benchmark::RegisterBenchmark(("Qt/" + n).c_str(), BM_Qt, i)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Memcpy/" + n).c_str(), BM_Memcpy, i)
        ->Unit(benchmark::kMillisecond);
  }
  if (argc > 1 && std::string(argv[1]) == "--faults") {
    // Minor page faults of repeated decodes with our classes.
    for (std::size_t i = 0; i < Files().size(); ++i)
      for (int k = 0; k < 3; ++k) {
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        TBytesStream s(Files()[i].bytes.data(), int64_t(Files()[i].bytes.size()));
        TTgaGraphic g;
        if (Files()[i].format == BMM_FORMAT_TGA) g.LoadFromStream(s);
        getrusage(RUSAGE_SELF, &after);
        std::printf("%s: %ld minor faults\n", Files()[i].name.c_str(),
                    after.ru_minflt - before.ru_minflt);
      }
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\n%-16s %10s %10s %10s %10s %12s %12s %10s\n", "file", "ours MB/s", "module",
              "Qt MB/s", "memcpy", "ours/memcpy", "module/memcpy", "ours/Qt");
  for (const TestFile& f : Files()) {
    auto get = [&](const std::string& kind) {
      const auto it = reporter.Seconds.find(kind + "/" + f.name);
      return it == reporter.Seconds.end() ? 0.0 : it->second;
    };
    const double ours = get("Ours"), module = get("Module"), qt = get("Qt"), mem = get("Memcpy");
    auto mbs = [&](double s) { return s > 0 ? double(f.decodedBytes) / s / 1e6 : 0.0; };
    std::printf("%-16s %10.0f %10.0f %10.0f %10.0f %12.2f %12.2f %10s\n", f.name.c_str(), mbs(ours),
                mbs(module), mbs(qt), mbs(mem), ours > 0 ? mem / ours : 0.0,
                module > 0 ? mem / module : 0.0,
                qt > 0 && ours > 0 ? (std::to_string(qt / ours).substr(0, 5) + "x").c_str() : "-");
  }
  std::printf("(CPU time of this process; ratios: memcpy time / our time and Qt time / our time, "
              "above 1 means\n"
              " ours is faster. Qt reads an uncompressed copy of the RLE Targa, which its reader "
              "cannot decode.)\n");
  return 0;
}

// Decoding a 4000 x 3000 (12 MP) photo-like picture from memory as HEIC,
// AVIF and JPEG XL: the format class next to the library's own API decoding
// the same file into its buffer (libheif's decoded image; libjxl into one
// reused RGB buffer, on as many threads as the class uses: libjxl's
// suggestion for the size, at most one per core). Runs alternate,
// the medians are compared, and one `required:` line per format follows.
//
// The files are made once with the encoders the libraries ship (heif-enc,
// avifenc, cjxl) and kept in $TMPDIR/imbrel-bench-heifjxl/; a missing
// encoder skips its format. A plain program: imbrel's own decode and the
// library's must run in the same process, one after the other.
//   heifjxl_bench [REPETITIONS [heic|avif|jxl]...]   (all three by default)

#include "formats/HeifGraphic.h"
#include "formats/JxlGraphic.h"
#include "platform/Stream.h"

#include <jxl/decode.h>
#include <jxl/resizable_parallel_runner.h>
#include <libheif/heif.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr double kLimit = 1.10;

// Smooth shading, a few hard edges and mild sensor-like noise, as RGB rows.
std::vector<uint8_t> Photo() {
  std::vector<uint8_t> P(size_t(kWidth) * kHeight * 3);
  std::mt19937 Rng(7);
  std::uniform_int_distribution<int> Noise(-3, 3);
  for (int Y = 0; Y < kHeight; ++Y) {
    uint8_t* Row = P.data() + size_t(Y) * kWidth * 3;
    for (int X = 0; X < kWidth; ++X) {
      const double Sky = 0.5 + 0.5 * std::sin(X * 0.0016 + Y * 0.001);
      const double Hill = (Y > 1900 + 220 * std::sin(X * 0.003)) ? 0.35 : 1.0;
      const double Detail = 0.08 * std::sin(X * 0.05) * std::sin(Y * 0.043);
      const int Base = int(255 * std::clamp(Sky * Hill + Detail, 0.0, 1.0));
      Row[3 * X] = uint8_t(std::clamp(Base + Noise(Rng), 0, 255));
      Row[3 * X + 1] = uint8_t(std::clamp(int(Base * 0.8) + 30 + Noise(Rng), 0, 255));
      Row[3 * X + 2] = uint8_t(std::clamp(255 - Base / 2 + Noise(Rng), 0, 255));
    }
  }
  return P;
}

bool WritePng(const std::string& Path) {
  const std::vector<uint8_t> Pixels = Photo();
  png_image Image{};
  Image.version = PNG_IMAGE_VERSION;
  Image.width = kWidth;
  Image.height = kHeight;
  Image.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&Image, Path.c_str(), 0, Pixels.data(), 0, nullptr) != 0;
}

std::string ReadAll(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}

// The encoded file, made on first use; empty when the encoder is missing or fails.
std::string Encoded(const std::string& Name, const std::string& Command) {
  const fs::path Dir = fs::temp_directory_path() / "imbrel-bench-heifjxl";
  fs::create_directories(Dir);
  const std::string Source = (Dir / "photo.png").string();
  const std::string Target = (Dir / Name).string();
  if (!fs::exists(Target)) {
    if (!fs::exists(Source) && !WritePng(Source)) return "";
    std::printf("making %s ...\n", Target.c_str());
    std::fflush(stdout);
    std::string Line = Command;
    Line.replace(Line.find("IN"), 2, "'" + Source + "'");
    Line.replace(Line.find("OUT"), 3, "'" + Target + ".part'");
    if (std::system((Line + " >/dev/null 2>&1").c_str()) != 0) return "";
    fs::rename(Target + ".part", Target);
  }
  return ReadAll(Target);
}

double Seconds(const std::function<void()>& Work) {
  const auto Start = std::chrono::steady_clock::now();
  Work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  return V[V.size() / 2];
}

// ---- The libraries' own decoding ---------------------------------------------------

void LibheifDecode(const std::string& File) {
  heif_context* Context = heif_context_alloc();
  heif_image_handle* Handle = nullptr;
  heif_image* Image = nullptr;
  if (heif_context_read_from_memory_without_copy(Context, File.data(), File.size(), nullptr).code ==
          heif_error_Ok &&
      heif_context_get_primary_image_handle(Context, &Handle).code == heif_error_Ok &&
      heif_decode_image(Handle, &Image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr)
              .code == heif_error_Ok) {
    int Stride = 0;
    const uint8_t* Plane = heif_image_get_plane_readonly(Image, heif_channel_interleaved, &Stride);
    if (!Plane) std::abort();
  } else {
    std::fprintf(stderr, "libheif failed\n");
    std::exit(1);
  }
  heif_image_release(Image);
  heif_image_handle_release(Handle);
  heif_context_free(Context);
}

// libjxl into one reused RGB buffer; Threads 0 runs on the calling thread.
void LibjxlDecode(const std::string& File, std::vector<uint8_t>& Buffer, size_t Threads) {
  JxlDecoder* Decoder = JxlDecoderCreate(nullptr);
  void* Runner = nullptr;
  if (Threads > 0) {
    Runner = JxlResizableParallelRunnerCreate(nullptr);
    JxlResizableParallelRunnerSetThreads(Runner, Threads);
    JxlDecoderSetParallelRunner(Decoder, JxlResizableParallelRunner, Runner);
  }
  JxlDecoderSubscribeEvents(Decoder, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE);
  JxlDecoderSetInput(Decoder, reinterpret_cast<const uint8_t*>(File.data()), File.size());
  JxlDecoderCloseInput(Decoder);
  const JxlPixelFormat Format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  for (;;) {
    const JxlDecoderStatus Status = JxlDecoderProcessInput(Decoder);
    if (Status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
      size_t Size = 0;
      JxlDecoderImageOutBufferSize(Decoder, &Format, &Size);
      Buffer.resize(Size);
      JxlDecoderSetImageOutBuffer(Decoder, &Format, Buffer.data(), Buffer.size());
    } else if (Status == JXL_DEC_FULL_IMAGE || Status == JXL_DEC_SUCCESS) {
      break;
    } else if (Status != JXL_DEC_BASIC_INFO) {
      std::fprintf(stderr, "libjxl failed\n");
      std::exit(1);
    }
  }
  if (Runner) JxlResizableParallelRunnerDestroy(Runner);
  JxlDecoderDestroy(Decoder);
}

template <class TGraphic> void OurDecode(const std::string& File) {
  TGraphic G;
  TBytesStream S(File.data(), int64_t(File.size()));
  G.LoadFromStream(S);
  if (G.Width() != kWidth || G.Height() != kHeight) {
    std::fprintf(stderr, "wrong size %d x %d\n", G.Width(), G.Height());
    std::exit(1);
  }
}

struct TResult {
  const char* Figure;
  double Ours = 0, Library = 0;
};

TResult Compare(const char* Figure, int Repetitions, const std::function<void()>& Ours,
                const std::function<void()>& Library) {
  Ours();
  Library();
  std::vector<double> O, L;
  for (int I = 0; I < Repetitions; ++I) {
    L.push_back(Seconds(Library));
    O.push_back(Seconds(Ours));
  }
  TResult R{Figure, Median(O), Median(L)};
  std::printf("%-28s imbrel %8.1f ms   library %8.1f ms   ratio %.3f\n", Figure, R.Ours * 1000,
              R.Library * 1000, R.Ours / R.Library);
  std::fflush(stdout);
  return R;
}

} // namespace

int main(int argc, char** argv) {
  const int Repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const auto Wanted = [&](const char* Format) {
    if (argc <= 2) return true;
    for (int I = 2; I < argc; ++I)
      if (std::string(argv[I]) == Format) return true;
    return false;
  };
  heif_init(nullptr);
  std::vector<TResult> Results;

  const std::string Heic = Wanted("heic") ? Encoded("photo.heic", "heif-enc -q 85 IN -o OUT") : "";
  if (!Wanted("heic"))
    ;
  else if (Heic.empty())
    std::printf("HEIC: heif-enc is missing or failed; skipped\n");
  else
    Results.push_back(Compare("heic_decode_over_library", Repetitions, [&] { OurDecode<THeifGraphic>(Heic); },
                              [&] { LibheifDecode(Heic); }));

  const std::string Avif = Wanted("avif") ? Encoded("photo.avif", "avifenc -s 8 -j 2 IN OUT") : "";
  if (!Wanted("avif"))
    ;
  else if (Avif.empty())
    std::printf("AVIF: avifenc is missing or failed; skipped\n");
  else
    Results.push_back(Compare("avif_decode_over_library", Repetitions, [&] { OurDecode<THeifGraphic>(Avif); },
                              [&] { LibheifDecode(Avif); }));

  const std::string Jxl = Wanted("jxl") ? Encoded("photo.jxl", "cjxl IN OUT -d 1") : "";
  if (!Wanted("jxl")) {
  } else if (Jxl.empty()) {
    std::printf("JPEG XL: cjxl is missing or failed; skipped\n");
  } else {
    std::vector<uint8_t> Buffer;
    const size_t Threads =
        std::min<size_t>(JxlResizableParallelRunnerSuggestThreads(kWidth, kHeight),
                         std::max(1u, std::thread::hardware_concurrency()));
    std::printf("JPEG XL on %zu threads\n", Threads);
    Results.push_back(Compare("jxl_decode_over_library", Repetitions, [&] { OurDecode<TJxlGraphic>(Jxl); },
                              [&] { LibjxlDecode(Jxl, Buffer, Threads); }));
    // Why the class uses threads: the library on the calling thread against
    // the library on that many threads.
    Compare("jxl_library_1_over_n_threads", Repetitions, [&] { LibjxlDecode(Jxl, Buffer, 0); },
            [&] { LibjxlDecode(Jxl, Buffer, Threads); });
  }

  for (const TResult& R : Results) {
    const double Ratio = R.Ours / R.Library;
    std::printf("required: %s %.3f %.2f %s\n", R.Figure, Ratio, kLimit,
                Ratio <= kLimit ? "ok" : "short");
  }
  return 0;
}

// The shared test pictures (JPEG, PNG, TIFF) against their reference
// decodings. Each file has an expected outcome: it decodes to the reference,
// or to the reference changed by a named rule of ours, or it fails cleanly
// with the given message.

#include "formats/JpegGraphic.h"
#include "formats/PngGraphic.h"
#include "formats/TiffGraphic.h"

#include "tests/formats/lib/LibFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace {

enum class TOutcome {
  Match,        // equal to the reference, within the format's tolerance
  Gamma,        // the reference corrected for file gamma against display gamma 2.2
  Background,   // Gamma, except where the file's own background shows
  Error,        // fails with an exception whose message contains Detail
  Loads,        // no reference: loads without an error
  LoadsOrError, // damaged: either outcome, but cleanly
  Differs       // loads with the reference's size; values differ by the rule in Detail
};

struct TRow {
  const char* File;
  TOutcome Outcome;
  const char* Detail; // message text for Error, the rule otherwise
  int MaxDiff = -1;   // Differs: the largest channel difference the rule allows (-1: any)
};

const TRow kRows[] = {
    // JPEG: libjpeg decodes; the reference decoder uses libjpeg too.
    {"jpg/ljt_testorig.jpg", TOutcome::Match, "baseline 2x2 sampling"},
    {"jpg/ljt_testimgari.jpg", TOutcome::Match, "arithmetic coding"},
    {"jpg/ljt_monkey12.jpg", TOutcome::Error, "Unsupported JPEG data precision 12"},
    {"jpg/pil_hopper_gray.jpg", TOutcome::Match, "grey"},
    {"jpg/pil_pil_sample_cmyk.jpg", TOutcome::Error, "Unsupported color conversion request"},
    {"jpg/sail_bpp24-ycbcr.progressive.jpeg", TOutcome::Match, "progressive"},
    {"jpg/sail_bpp24-ycbcr.422.jpeg", TOutcome::Match, "4:2:2"},
    {"jpg/pil_jfif_unit_cm.jpg", TOutcome::Match, "dots per centimetre"},
    {"jpg/pil_hopper.jpg", TOutcome::Match, "baseline"},
    {"jpg/pil_truncated_jpeg.jpg", TOutcome::Loads, "data ending early: libjpeg fills the rest"},
    {"jpg/jdec_grayscale_16x24_sampling2x2.jpg", TOutcome::Match, "grey with 2x2 sampling"},
    {"jpg/jdec_non-interleaved-mcu.jpg", TOutcome::Match, "progressive, restart interval"},
    {"jpg/jdec-crash_missing-sos.jpg", TOutcome::Error, "SOS"},
    {"jpg/pil_hopper_16bit_qtables.jpg", TOutcome::Match, "16-bit quantisation tables"},
    // PNG: every file but the damaged ones has a gAMA chunk.
    {"png/pngsuite_basn0g01.png", TOutcome::Match, "1 bit: never gamma-corrected"},
    {"png/pngsuite_basn0g02.png", TOutcome::Match,
     "2 bits: value x 5 into the 16-grey palette, no gamma"},
    {"png/pngsuite_basn0g04.png", TOutcome::Gamma,
     "gamma, kept at 4 bits (libpng corrects 4-bit grey in place)"},
    {"png/pngsuite_basn0g08.png", TOutcome::Gamma, "gamma"},
    {"png/pngsuite_basn0g16.png", TOutcome::Differs,
     "16 bits stripped to 8 and gamma-corrected; the reference clips 16-bit grey at 255 (white)"},
    {"png/pngsuite_basn2c08.png", TOutcome::Gamma, "gamma"},
    {"png/pngsuite_basn2c16.png", TOutcome::Gamma, "gamma; 16 bits stripped to 8"},
    {"png/pngsuite_basn3p01.png", TOutcome::Match, "1 bit: never gamma-corrected"},
    {"png/pngsuite_basn3p02.png", TOutcome::Match, "2 bits: never gamma-corrected"},
    {"png/pngsuite_basn3p04.png", TOutcome::Gamma, "gamma on the palette"},
    {"png/pngsuite_basn3p08.png", TOutcome::Gamma, "gamma on the palette"},
    {"png/pngsuite_basn4a08.png", TOutcome::Gamma, "gamma; alpha composited onto black"},
    {"png/pngsuite_basn4a16.png", TOutcome::Gamma, "gamma; alpha composited onto black"},
    {"png/pngsuite_basn6a08.png", TOutcome::Gamma, "gamma; alpha composited onto black"},
    {"png/pngsuite_basn6a16.png", TOutcome::Gamma, "gamma; alpha composited onto black"},
    {"png/pngsuite_basi3p08.png", TOutcome::Gamma, "gamma; Adam7"},
    {"png/pngsuite_bgbn4a08.png", TOutcome::Gamma, "gamma; composited onto the file's black bKGD"},
    {"png/pngsuite_tbrn2c08.png", TOutcome::Background,
     "transparent colour shows the file's bKGD, not black"},
    {"png/pngsuite_tp1n3p08.png", TOutcome::Gamma,
     "gamma; transparent entries composited onto black"},
    {"png/pngsuite_xs1n0g01.png", TOutcome::Error, "PNG file is not valid or corrupted"},
    {"png/pngsuite_xcsn0g01.png", TOutcome::Error, "IDAT: CRC error"},
    {"png/pil_truncated_end_chunk.png", TOutcome::Loads,
     "the image data are complete; what is cut (after them) is never read"},
    // TIFF
    {"tif/libtiff_miniswhite-1c-1b.tiff", TOutcome::Match, "min-is-white inverted"},
    {"tif/libtiff_palette-1c-1b.tiff", TOutcome::Match,
     "1-bit palette as black-and-white with its colours"},
    {"tif/libtiff_palette-1c-4b.tiff", TOutcome::Differs,
     "ColorMap scaled by x 255 / 65535, truncating", 1},
    {"tif/libtiff_palette-1c-8b.tiff", TOutcome::Differs,
     "ColorMap scaled by x 255 / 65535, truncating", 1},
    {"tif/libtiff_minisblack-1c-8b.tiff", TOutcome::Match, "grey strips"},
    {"tif/libtiff_minisblack-1c-16b.tiff", TOutcome::Differs,
     "16-bit grey scaled to 8 bits by libtiff's RGBA reading; the reference clips it at 255"},
    {"tif/libtiff_rgb-3c-8b.tiff", TOutcome::Match, "RGB strips"},
    {"tif/libtiff_rgb-3c-16b.tiff", TOutcome::Differs,
     "16-bit RGB scaled to 8 bits (rounded) by libtiff's RGBA reading", 1},
    {"tif/libtiff_minisblack-2c-8b-alpha.tiff", TOutcome::Loads,
     "planar grey and alpha through RGBA"},
    {"tif/gox_bw-packbits.tiff", TOutcome::Match, "PackBits, min-is-white"},
    {"tif/gox_bw-deflate.tiff", TOutcome::Match, "Deflate, min-is-white"},
    {"tif/gox_bw-gopher_ccittGroup3.tiff", TOutcome::Match, "fax scanlines; no T4Options: 1-D"},
    {"tif/gox_bw-gopher_ccittGroup4.tiff", TOutcome::Match, "fax scanlines"},
    {"tif/gox_video-001-tile-64x64.tiff", TOutcome::Match,
     "Deflate marked with tag 8, tiled, horizontal predictor"},
    {"tif/gox_blue-purple-pink.lzwcompressed.tiff", TOutcome::Error,
     "LZW compression not supported"},
    {"tif/pil_multipage.tiff", TOutcome::Match, "first page"},
    {"tif/pil_g4-fillorder-test.tif", TOutcome::Match,
     "fax scanlines, FillOrder handled by libtiff"},
    {"tif/pil_hopper_jpg.tif", TOutcome::Match, "JPEG through RGBA"},
    {"tif/pil_tiff_strip_cmyk_jpeg.tif", TOutcome::Differs,
     "CMYK converted by libtiff's RGBA reading", 2},
    {"tif/pil_crash-0c7e0e8e11ce787078f00b5b0ca409a167f070e0.tif", TOutcome::LoadsOrError,
     "damaged"},
    {"tif/itiff-depth_flower-rgb-planar-08.tif", TOutcome::Match, "planar RGB through RGBA"},
    {"tif/itiff-depth_flower-separated-contig-08.tif", TOutcome::Differs,
     "CMYK converted by libtiff's RGBA reading", 1},
};

const char* OutcomeName(TOutcome O) {
  switch (O) {
  case TOutcome::Match:
    return "matches reference";
  case TOutcome::Gamma:
    return "reference + gamma rule";
  case TOutcome::Background:
    return "reference + gamma + bKGD rule";
  case TOutcome::Error:
    return "clean error";
  case TOutcome::Loads:
    return "loads (no reference)";
  case TOutcome::LoadsOrError:
    return "loads or clean error";
  case TOutcome::Differs:
    return "differs by rule";
  }
  return "";
}

std::unique_ptr<TDibGraphic> Decode(const std::string& File, const TBytes& Bytes) {
  std::unique_ptr<TDibGraphic> G;
  if (File.rfind("jpg/", 0) == 0)
    G = std::make_unique<TJpegGraphic>();
  else if (File.rfind("png/", 0) == 0)
    G = std::make_unique<TPngGraphic>();
  else
    G = std::make_unique<TTiffGraphic>();
  TBytesStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  G->LoadFromStream(S);
  return G;
}

// The value the gamma rule makes of reference value V (0..255): libpng maps
// it through (V/255)^(1/(file gamma x 2.2)). The reference is 8-bit, so the
// answer is a range covering V's rounding.
std::pair<int, int> GammaRange(int V, double FileGamma) {
  const double E = 1.0 / (FileGamma * 2.2);
  auto F = [E](double X) { return 255.0 * std::pow(std::clamp(X, 0.0, 255.0) / 255.0, E); };
  return {static_cast<int>(std::floor(F(V - 0.5))) - 1,
          static_cast<int>(std::ceil(F(V + 1.0))) + 1};
}

} // namespace

TEST(LibConformance, SharedPicturesDecodeAsExpected) {
  const char* Root = std::getenv("IMBREL_TESTDATA");
  if (Root == nullptr || !std::ifstream(std::string(Root) + "/MANIFEST.tsv"))
    GTEST_SKIP() << "no shared test data";
  const std::string Base = Root;

  // Every JPEG, PNG and TIFF of the manifest has a row here.
  std::ifstream Manifest(Base + "/MANIFEST.tsv");
  std::string Line;
  std::getline(Manifest, Line);
  int Listed = 0;
  while (std::getline(Manifest, Line)) {
    const std::string File = Line.substr(0, Line.find('\t'));
    if (File.rfind("jpg/", 0) != 0 && File.rfind("png/", 0) != 0 && File.rfind("tif/", 0) != 0)
      continue;
    ++Listed;
    EXPECT_TRUE(std::any_of(std::begin(kRows), std::end(kRows),
                            [&](const TRow& R) { return File == R.File; }))
        << File << " has no expected outcome";
  }
  EXPECT_EQ(Listed, static_cast<int>(std::size(kRows)));

  std::ostringstream Table;
  for (const TRow& Row : kRows) {
    SCOPED_TRACE(Row.File);
    const std::string Path = Base + "/" + Row.File;
    const TBytes Bytes = ReadFileBytes(Path);
    ASSERT_FALSE(Bytes.empty());
    std::unique_ptr<TDibGraphic> G;
    std::string Error;
    try {
      G = Decode(Row.File, Bytes);
    } catch (const Exception& E) {
      Error = E.Message();
    }
    std::string Result;
    if (Row.Outcome == TOutcome::Error) {
      EXPECT_TRUE(G == nullptr) << "loaded, expected an error";
      EXPECT_NE(Error.find(Row.Detail), std::string::npos) << Error;
      Result = G ? "loaded" : "error: " + Error;
    } else if (Row.Outcome == TOutcome::LoadsOrError) {
      Result = G ? "loaded " + std::to_string(G->Width()) + "x" + std::to_string(G->Height())
                 : "error: " + Error;
    } else {
      ASSERT_TRUE(G != nullptr) << Error;
      Result = "loaded " + std::to_string(G->Width()) + "x" + std::to_string(G->Height());
      TRgbImage Ref;
      const bool HasRef = ReadReferencePng(Base + "/ref/" + Row.File + ".png", Ref);
      if (Row.Outcome == TOutcome::Loads) {
        EXPECT_FALSE(HasRef) << "a reference exists: compare with it";
      } else {
        ASSERT_TRUE(HasRef);
        ASSERT_EQ(G->Width(), Ref.Width);
        ASSERT_EQ(G->Height(), Ref.Height);
        // JPEG data (also inside a TIFF) may differ by 2 levels between decoders.
        const int Tolerance = std::string(Row.File).find("jp") != std::string::npos ? 2 : 0;
        const double FileGamma =
            dynamic_cast<TPngGraphic*>(G.get()) ? dynamic_cast<TPngGraphic*>(G.get())->Gamma : 0;
        int MaxDiff = 0, Outside = 0;
        uint32_t BackgroundSeen = 0xFFFFFFFF;
        for (int Y = 0; Y < Ref.Height; ++Y)
          for (int X = 0; X < Ref.Width; ++X) {
            const uint8_t* P = &Ref.Rgb[(size_t(Y) * Ref.Width + X) * 3];
            const uint32_t Ours = G->GetPixelColor(X, Y);
            const uint32_t Theirs = MakeRgb(P[0], P[1], P[2]);
            MaxDiff = std::max(MaxDiff, ColourDistance(Ours, Theirs));
            bool Fits = true;
            if (Row.Outcome == TOutcome::Match) {
              Fits = ColourDistance(Ours, Theirs) <= Tolerance;
            } else if (Row.Outcome == TOutcome::Gamma || Row.Outcome == TOutcome::Background) {
              if (Row.Outcome == TOutcome::Background && Theirs == 0) {
                // Where the reference shows black transparency, ours shows one
                // colour throughout: the file's background.
                if (BackgroundSeen == 0xFFFFFFFF) BackgroundSeen = Ours;
                Fits = Ours == BackgroundSeen && Ours != 0;
              } else {
                const uint8_t O[3] = {Red(Ours), Green(Ours), Blue(Ours)};
                for (int C = 0; C < 3; ++C) {
                  auto [Lo, Hi] = GammaRange(P[C], FileGamma);
                  if (G->ImageFormat() == ifGray16) {
                    // libpng keeps the high 4 bits of the corrected value.
                    Lo = std::max(Lo, 0) / 16 * 17;
                    Hi = std::min(Hi, 255) / 16 * 17;
                  }
                  Fits = Fits && O[C] >= Lo && O[C] <= Hi;
                }
              }
            }
            if (!Fits) ++Outside;
            if (!Fits && std::getenv("CONFORMANCE_DEBUG") && Outside < 6)
              std::printf("%s (%d,%d) ours %06x ref %06x\n", Row.File, X, Y, Ours, Theirs);
          }
        if (Row.Outcome != TOutcome::Differs) {
          EXPECT_EQ(Outside, 0) << "pixels outside the rule; max diff " << MaxDiff;
        } else if (Row.MaxDiff >= 0) {
          EXPECT_LE(MaxDiff, Row.MaxDiff);
        }
        Result += ", max channel difference " + std::to_string(MaxDiff);
        if (FileGamma > 0) Result += ", file gamma " + std::to_string(FileGamma).substr(0, 6);
      }
    }
    Table << Row.File << "\t" << OutcomeName(Row.Outcome) << "\t" << Row.Detail << "\t" << Result
          << "\n";
  }
  std::printf("%s", Table.str().c_str());
}

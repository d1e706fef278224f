// The public BMP, PCX, DCX and Targa test pictures: each either decodes to its
// reference decoding pixel for pixel, fails with a clean exception, or differs
// where our decoding rules ask for another result (the reason is in the table).
// A picture that differs is pinned down all the same: either by another
// reference it must match, or by the digest of the decoding our rules give, so
// a decoder change that alters it fails here.

#include "formats/BitmapGraphic.h"
#include "formats/DcxGraphic.h"
#include "formats/PcxGraphic.h"
#include "formats/TgaGraphic.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

enum class Outcome { Match, Fails, Differs };

struct Expected {
  Outcome outcome;
  const char* why; // the rule behind a failure or a difference
  // Where the reference decoding is itself wrong: another reference our
  // decoding must match instead, except pixels of the colour SkipColour (the
  // pixels a run-length file leaves out, palette entry 0 by our rule).
  const char* altReference = nullptr;
  int64_t skipColour = -1;
  // For a difference without another reference: the digest (see Digest) of
  // the decoding, which was checked by eye against the rule in `why`.
  const char* digest = nullptr;
};

// Every BMP, PCX, DCX and Targa file of the manifest.
const std::map<std::string, Expected>& Table() {
  static const std::map<std::string, Expected> table = {
#include "tests/formats/bmm/BmmConformanceTable.inc"
  };
  return table;
}

struct Result {
  Outcome outcome = Outcome::Fails;
  std::string detail;
  std::string digest; // of the decoded picture, when it decoded
};

// FNV-1a (64 bits) over the width, the height and every pixel's 0x00RRGGBB
// colour, row by row from the top, as 16 hex digits.
std::string Digest(const TDibGraphic& g) {
  uint64_t h = 0xcbf29ce484222325ull;
  const auto mix = [&h](uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      h ^= (v >> (8 * i)) & 0xFF;
      h *= 0x100000001b3ull;
    }
  };
  mix(uint32_t(g.Width()));
  mix(uint32_t(g.Height()));
  for (int y = 0; y < g.Height(); ++y)
    for (int x = 0; x < g.Width(); ++x)
      mix(g.GetPixelColor(x, y));
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

std::unique_ptr<TDibGraphic> ClassFor(const std::string& type) {
  if (type == "bmp") return std::make_unique<TBitmapGraphic>();
  if (type == "pcx") return std::make_unique<TPcxGraphic>();
  if (type == "dcx") return std::make_unique<TDcxGraphic>();
  if (type == "tga") return std::make_unique<TTgaGraphic>();
  return nullptr;
}

Result Check(const std::string& dir, const std::string& file, const std::string& type,
             const std::string& reference, int64_t skipColour) {
  Result r;
  std::unique_ptr<TDibGraphic> g = ClassFor(type);
  try {
    TMemoryStream s;
    s.LoadFromFile(dir + "/" + file);
    g->LoadFromStream(s);
  } catch (const Exception& e) {
    r.detail = e.Message();
    return r;
  }
  r.digest = Digest(*g);
  if (reference.empty()) {
    r.outcome = Outcome::Differs;
    r.detail = "decoded, no reference";
    return r;
  }
  QImage ref(QString::fromStdString(dir + "/" + reference));
  ref = ref.convertToFormat(QImage::Format_RGB888);
  if (ref.width() != g->Width() || ref.height() != g->Height()) {
    r.outcome = Outcome::Differs;
    r.detail = "size " + std::to_string(g->Width()) + "x" + std::to_string(g->Height()) + " vs " +
               std::to_string(ref.width()) + "x" + std::to_string(ref.height());
    return r;
  }
  long differ = 0;
  long skipped = 0;
  std::string first;
  for (int y = 0; y < ref.height(); ++y) {
    const uchar* row = ref.constScanLine(y);
    for (int x = 0; x < ref.width(); ++x) {
      const uint32_t want = uint32_t(row[3 * x]) << 16 | row[3 * x + 1] << 8 | row[3 * x + 2];
      const uint32_t got = g->GetPixelColor(x, y);
      if (int64_t(got) == skipColour) {
        ++skipped;
        continue;
      }
      if (got != want && differ++ == 0) {
        std::ostringstream o;
        o << "first at (" << x << "," << y << ") ours " << std::hex << got << " ref " << want;
        first = o.str();
      }
    }
  }
  r.outcome = differ ? Outcome::Differs : Outcome::Match;
  if (differ) r.detail = std::to_string(differ) + " pixels differ, " + first;
  if (skipped) r.detail += std::to_string(skipped) + " pixels left out by the file";
  return r;
}

const char* Name(Outcome o) {
  return o == Outcome::Match ? "match" : o == Outcome::Fails ? "fails" : "differs";
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> cols;
  std::string cur;
  for (char c : line) {
    if (c == '\t') {
      cols.push_back(cur);
      cur.clear();
    } else if (c != '\r') {
      cur += c;
    }
  }
  cols.push_back(cur);
  return cols;
}

TEST(BmmConformance, PublicTestPictures) {
  const char* dirEnv = std::getenv("IMBREL_TESTDATA");
  if (!dirEnv) GTEST_SKIP() << "IMBREL_TESTDATA not set";
  const std::string dir = dirEnv;
  std::ifstream manifest(dir + "/MANIFEST.tsv");
  if (!manifest) GTEST_SKIP() << "no test pictures";
  std::string line;
  std::getline(manifest, line); // column titles
  int seen = 0;
  while (std::getline(manifest, line)) {
    const std::vector<std::string> cols = SplitTabs(line);
    if (cols.size() < 4) continue;
    const std::string& file = cols[0];
    const std::string& type = cols[1];
    if (type != "bmp" && type != "pcx" && type != "dcx" && type != "tga") continue;
    ++seen;
    const auto it = Table().find(file);
    if (it == Table().end()) {
      const Result r = Check(dir, file, type, cols[3], -1);
      ADD_FAILURE() << file << ": not in the table (" << Name(r.outcome) << " " << r.detail << ")";
      continue;
    }
    const Expected& e = it->second;
    if (e.altReference) {
      // Our decoding against the other reference must match exactly.
      const Result r = Check(dir, file, type, e.altReference, e.skipColour);
      std::printf("%-45s %-8s against %s: %s %s\n", file.c_str(), Name(e.outcome), e.altReference,
                  Name(r.outcome), r.detail.c_str());
      EXPECT_EQ(Name(r.outcome), std::string("match"))
          << file << " against " << e.altReference << ": " << r.detail;
      continue;
    }
    const Result r = Check(dir, file, type, cols[3], -1);
    std::printf("%-45s %-8s %s\n", file.c_str(), Name(r.outcome), r.detail.c_str());
    EXPECT_EQ(Name(r.outcome), std::string(Name(e.outcome)))
        << file << ": " << r.detail << " (expected because: " << e.why << ")";
    if (e.outcome == Outcome::Differs) {
      // "Differs" alone would accept any wrong decoding.
      EXPECT_TRUE(e.digest) << file << ": a difference needs a digest (ours is " << r.digest << ")";
      if (e.digest) {
        EXPECT_EQ(r.digest, e.digest) << file << ": the decoding changed (" << e.why << ")";
      }
    }
  }
  EXPECT_EQ(seen, int(Table().size()));
}

} // namespace

// Stretching: nearest-pixel and area-average scaling of one DIB into
// another, with SSE2, SSSE3 and AVX2 kernels picked at run time.
#include "platform/Dib.h"

#include "platform/DibRows.h"
#include "platform/ParallelRows.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#include <tmmintrin.h>
#endif

using namespace dib_rows;

// ---- Stretching

namespace {

// Geometry of one stretch: the destination columns and rows to compute and,
// for each, where it falls in the source. Coordinates relative to the rects.
struct TAxis {
  int SrcStart = 0; // first source pixel of the source rect
  int SrcCount = 0; // source rect size (positive)
  int DstCount = 0; // destination rect size (positive)
  bool Mirror = false;
  int First = 0; // first destination pixel computed (relative to the rect)
  int Last = 0;  // one past the last
};

// Nearest source pixel (absolute) of destination pixel i (relative).
inline int NearestSource(const TAxis& A, int i) {
  const int k = A.Mirror ? A.DstCount - 1 - i : i;
  return A.SrcStart + int(((2 * int64_t(k) + 1) * A.SrcCount) / (2 * int64_t(A.DstCount)));
}

// Area weights of one axis: for each computed destination pixel, the first
// source pixel (absolute), how many follow and their weights, summing to Total.
struct TAreaWeights {
  std::vector<int> Start, Count, Offset;
  std::vector<uint32_t> Weights;
  int MinSrc = 0, MaxSrc = 0; // source pixels touched, inclusive
  int MaxCount = 0;           // the longest list
};

TAreaWeights AreaWeights(const TAxis& A, int64_t Total) {
  TAreaWeights W;
  const int n = A.Last - A.First;
  W.Start.resize(size_t(n));
  W.Count.resize(size_t(n));
  W.Offset.resize(size_t(n));
  W.MinSrc = std::numeric_limits<int>::max();
  W.MaxSrc = std::numeric_limits<int>::min();
  const int64_t SN = A.SrcCount, DN = A.DstCount;
  for (int t = 0; t < n; ++t) {
    const int i = A.First + t;
    const int k = A.Mirror ? A.DstCount - 1 - i : i;
    // Destination pixel k covers [k*SN, (k+1)*SN) in units of 1/DN source pixels.
    const int64_t a = k * SN, b = (k + 1) * SN;
    const int64_t j0 = a / DN, j1 = (b - 1) / DN;
    W.Start[size_t(t)] = A.SrcStart + int(j0);
    W.Count[size_t(t)] = int(j1 - j0 + 1);
    W.Offset[size_t(t)] = int(W.Weights.size());
    int64_t cum = 0;
    uint32_t given = 0;
    for (int64_t j = j0; j <= j1; ++j) {
      const int64_t overlap = std::min(b, (j + 1) * DN) - std::max(a, j * DN);
      cum += overlap;
      const uint32_t upto = uint32_t((cum * Total + SN / 2) / SN);
      W.Weights.push_back(upto - given);
      given = upto;
    }
    W.MinSrc = std::min(W.MinSrc, A.SrcStart + int(j0));
    W.MaxSrc = std::max(W.MaxSrc, A.SrcStart + int(j1));
    W.MaxCount = std::max(W.MaxCount, int(j1 - j0 + 1));
  }
  return W;
}

bool SetupAxis(int SrcStart, int SrcEnd, int SrcLimit, int DstStart, int DstEnd, int ClipStart,
               int ClipEnd, TAxis& A) {
  // Source rect: normalised and required inside the source.
  if (SrcEnd < SrcStart) std::swap(SrcStart, SrcEnd);
  if (SrcStart < 0 || SrcEnd > SrcLimit || SrcEnd <= SrcStart) return false;
  A.SrcStart = SrcStart;
  A.SrcCount = SrcEnd - SrcStart;
  A.Mirror = DstEnd < DstStart;
  if (A.Mirror) std::swap(DstStart, DstEnd);
  const int64_t dn = int64_t(DstEnd) - DstStart;
  if (dn <= 0 || dn > std::numeric_limits<int32_t>::max()) return false;
  A.DstCount = int(dn);
  const int64_t first = std::max<int64_t>(0, int64_t(ClipStart) - DstStart);
  const int64_t last = std::min<int64_t>(dn, int64_t(ClipEnd) - DstStart);
  if (last <= first) return false;
  A.First = int(first);
  A.Last = int(last);
  return true;
}

void StretchNearest(const TDibView& Src, const TDibView& Dst, const TAxis& X, const TAxis& Y,
                    int DstLeft, int DstTop, TPaletteMapper* Mapper) {
  const int n = X.Last - X.First;
  std::vector<int> xs(static_cast<size_t>(n));
  int minX = std::numeric_limits<int>::max(), maxX = 0;
  for (int t = 0; t < n; ++t) {
    xs[size_t(t)] = NearestSource(X, X.First + t);
    minX = std::min(minX, xs[size_t(t)]);
    maxX = std::max(maxX, xs[size_t(t)]);
  }
  const int dx0 = DstLeft + X.First;
  const int rows = Y.Last - Y.First;
  const bool dstPalette = IsPaletteDepth(Dst.BitCount);

  if (Src.BitCount == 24 && Dst.BitCount == 24) {
    std::vector<int> offs(static_cast<size_t>(n));
    for (int t = 0; t < n; ++t)
      offs[size_t(t)] = 3 * xs[size_t(t)];
    ParallelRows(
        rows, int64_t(rows) * n,
        [&](int r0, int r1) {
          int prevSy = -1;
          uint8_t* prevRow = nullptr;
          for (int r = r0; r < r1; ++r) {
            const int sy = NearestSource(Y, Y.First + r);
            uint8_t* d = Dst.Row(DstTop + Y.First + r) + 3 * size_t(dx0);
            if (sy == prevSy) {
              std::memcpy(d, prevRow, 3 * size_t(n));
              continue;
            }
            const uint8_t* s = Src.Row(sy);
            const int* o = offs.data();
            int t = 0;
            // Four-byte moves; the fourth byte is overwritten by the next pixel.
            // Not on the last row in memory, where a fourth byte may not exist,
            // and not for the last pixel of the destination row.
            if (sy != 0) {
              for (; t + 1 < n; ++t) {
                uint32_t v;
                std::memcpy(&v, s + o[t], 4);
                std::memcpy(d, &v, 4);
                d += 3;
              }
            }
            for (; t < n; ++t) {
              const uint8_t* p = s + o[t];
              d[0] = p[0];
              d[1] = p[1];
              d[2] = p[2];
              d += 3;
            }
            prevSy = sy;
            prevRow = d - 3 * size_t(n);
          }
        },
        int64_t(1) << 24); // memory-bound: a second thread only pays off for very big outputs
    return;
  }
  const int span = maxX - minX + 1;
  if (dstPalette && IsPaletteDepth(Src.BitCount)) {
    uint8_t table[256];
    bool identity = false;
    BuildTranslation(Src, Dst, *Mapper, table, identity);
    std::vector<uint8_t> line(static_cast<size_t>(span)), out(static_cast<size_t>(n));
    for (int r = 0; r < rows; ++r) {
      const int sy = NearestSource(Y, Y.First + r);
      FetchIndexes(Src, sy, minX, span, line.data());
      for (int t = 0; t < n; ++t)
        out[size_t(t)] = table[line[size_t(xs[size_t(t)] - minX)]];
      StoreIndexes(Dst, DstTop + Y.First + r, dx0, n, out.data());
    }
    return;
  }
  std::vector<uint8_t> line(3 * size_t(span)), out(3 * size_t(n));
  TColorToIndex map{Mapper};
  for (int r = 0; r < rows; ++r) {
    const int sy = NearestSource(Y, Y.First + r);
    FetchBgr(Src, sy, minX, span, line.data());
    for (int t = 0; t < n; ++t)
      std::memcpy(&out[3 * size_t(t)], &line[3 * size_t(xs[size_t(t)] - minX)], 3);
    StoreBgr(Dst, DstTop + Y.First + r, dx0, n, out.data(), map);
  }
}

// Vertical step of the area average: Acc = (First ? 0 : Acc) + W * S over N
// bytes. Weights of one destination row sum to 256, so a sum never exceeds
// 255 * 256 and fits 16 bits.
void AccumulateRow(uint16_t* Acc, const uint8_t* S, size_t N, uint16_t W, bool First) {
  size_t i = 0;
#ifdef __SSE2__
  const __m128i vw = _mm_set1_epi16(short(W));
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= N; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(S + i));
    __m128i lo = _mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), vw);
    __m128i hi = _mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), vw);
    if (!First) {
      lo = _mm_add_epi16(lo, _mm_loadu_si128(reinterpret_cast<const __m128i*>(Acc + i)));
      hi = _mm_add_epi16(hi, _mm_loadu_si128(reinterpret_cast<const __m128i*>(Acc + i + 8)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Acc + i), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Acc + i + 8), hi);
  }
#endif
  for (; i < N; ++i)
    Acc[i] = uint16_t((First ? 0 : Acc[i]) + W * S[i]);
}

// As AccumulateRow for a source row shared by two destination rows: adds
// WA * S into A and starts B with WB * S, reading S once.
void AccumulateRow2(uint16_t* A, uint16_t* B, const uint8_t* S, size_t N, uint16_t WA, uint16_t WB,
                    bool FirstA) {
  size_t i = 0;
#ifdef __SSE2__
  const __m128i va = _mm_set1_epi16(short(WA)), vb = _mm_set1_epi16(short(WB));
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= N; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(S + i));
    const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
    __m128i alo = _mm_mullo_epi16(lo, va), ahi = _mm_mullo_epi16(hi, va);
    if (!FirstA) {
      alo = _mm_add_epi16(alo, _mm_loadu_si128(reinterpret_cast<const __m128i*>(A + i)));
      ahi = _mm_add_epi16(ahi, _mm_loadu_si128(reinterpret_cast<const __m128i*>(A + i + 8)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(A + i), alo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(A + i + 8), ahi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(B + i), _mm_mullo_epi16(lo, vb));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(B + i + 8), _mm_mullo_epi16(hi, vb));
  }
#endif
  for (; i < N; ++i) {
    A[i] = uint16_t((FirstA ? 0 : A[i]) + WA * S[i]);
    B[i] = uint16_t(WB * S[i]);
  }
}

#if defined(__x86_64__) || defined(__i386__)
// AVX2 versions of the two vertical steps: 32 source bytes per iteration.
__attribute__((target("avx2"))) void AccumulateRowAvx2(uint16_t* Acc, const uint8_t* S, size_t N,
                                                       uint16_t W, bool First) {
  size_t i = 0;
  const __m256i vw = _mm256_set1_epi16(short(W));
  for (; i + 32 <= N; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(S + i));
    __m256i lo = _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)), vw);
    __m256i hi = _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)), vw);
    if (!First) {
      lo = _mm256_add_epi16(lo, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Acc + i)));
      hi = _mm256_add_epi16(hi, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Acc + i + 16)));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Acc + i), lo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Acc + i + 16), hi);
  }
  for (; i < N; ++i)
    Acc[i] = uint16_t((First ? 0 : Acc[i]) + W * S[i]);
}

__attribute__((target("avx2"))) void AccumulateRow2Avx2(uint16_t* A, uint16_t* B, const uint8_t* S,
                                                        size_t N, uint16_t WA, uint16_t WB,
                                                        bool FirstA) {
  size_t i = 0;
  const __m256i va = _mm256_set1_epi16(short(WA)), vb = _mm256_set1_epi16(short(WB));
  for (; i + 32 <= N; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(S + i));
    const __m256i lo = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(v));
    const __m256i hi = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1));
    __m256i alo = _mm256_mullo_epi16(lo, va), ahi = _mm256_mullo_epi16(hi, va);
    if (!FirstA) {
      alo = _mm256_add_epi16(alo, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(A + i)));
      ahi = _mm256_add_epi16(ahi, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(A + i + 16)));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(A + i), alo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(A + i + 16), ahi);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(B + i), _mm256_mullo_epi16(lo, vb));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(B + i + 16), _mm256_mullo_epi16(hi, vb));
  }
  for (; i < N; ++i) {
    A[i] = uint16_t((FirstA ? 0 : A[i]) + WA * S[i]);
    B[i] = uint16_t(WB * S[i]);
  }
}

// The whole vertical step of one destination row at once: Acc = sum of
// W[j] * Rows[j] over Count rows, 32 bytes at a time with the sums kept in
// registers (Acc is written once, never read).
__attribute__((target("avx2"))) void AccumulateRowsAvx2(uint16_t* Acc, const uint8_t* const* Rows,
                                                        const uint16_t* W, int Count, size_t N) {
  size_t i = 0;
  for (; i + 32 <= N; i += 32) {
    __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
    for (int j = 0; j < Count; ++j) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Rows[j] + i));
      const __m256i w = _mm256_set1_epi16(short(W[j]));
      lo = _mm256_add_epi16(lo,
                            _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)), w));
      hi = _mm256_add_epi16(
          hi, _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)), w));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Acc + i), lo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(Acc + i + 16), hi);
  }
  for (; i < N; ++i) {
    uint16_t sum = 0;
    for (int j = 0; j < Count; ++j)
      sum = uint16_t(sum + W[j] * Rows[j][i]);
    Acc[i] = sum;
  }
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#else
bool HasAvx2() {
  return false;
}
void AccumulateRowsAvx2(uint16_t*, const uint8_t* const*, const uint16_t*, int, size_t) {}
void AccumulateRowAvx2(uint16_t* Acc, const uint8_t* S, size_t N, uint16_t W, bool First) {
  AccumulateRow(Acc, S, N, W, First);
}
void AccumulateRow2Avx2(uint16_t* A, uint16_t* B, const uint8_t* S, size_t N, uint16_t WA,
                        uint16_t WB, bool FirstA) {
  AccumulateRow2(A, B, S, N, WA, WB, FirstA);
}
#endif

// Horizontal step: for each destination pixel, the weighted sum (weights
// summing to 4096) of its source pixels in Acc (3 channels, 8 fractional
// bits), rounded to bytes. Acc has one readable element past its end.
void ReduceRow(const uint16_t* Acc, const TAreaWeights& W, int MinX, int N, uint8_t* Out) {
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128();
  const __m128i round = _mm_set1_epi32(1 << 18);
  for (int t = 0; t < N; ++t) {
    const size_t ti = size_t(t);
    const uint16_t* a = Acc + 3 * size_t(W.Start[ti] - MinX);
    const uint32_t* w = &W.Weights[size_t(W.Offset[ti])];
    __m128i sum = zero;
    for (int k = 0, c = W.Count[ti]; k < c; ++k) {
      // Four 16-bit lanes (blue, green, red, next): halved to fit signed
      // 16 bits, widened to (value, 0) pairs, multiplied by (w, 0) pairs.
      __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + 3 * k));
      v = _mm_unpacklo_epi16(_mm_srli_epi16(v, 1), zero);
      sum = _mm_add_epi32(sum, _mm_madd_epi16(v, _mm_set1_epi32(int(w[k]))));
    }
    sum = _mm_srli_epi32(_mm_add_epi32(sum, round), 19);
    alignas(16) uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sum);
    Out[3 * t] = uint8_t(lanes[0]);
    Out[3 * t + 1] = uint8_t(lanes[1]);
    Out[3 * t + 2] = uint8_t(lanes[2]);
  }
#else
  for (int t = 0; t < N; ++t) {
    const size_t ti = size_t(t);
    const uint16_t* a = Acc + 3 * size_t(W.Start[ti] - MinX);
    const uint32_t* w = &W.Weights[size_t(W.Offset[ti])];
    uint32_t b = 0, g = 0, r = 0;
    for (int k = 0, c = W.Count[ti]; k < c; ++k) {
      b += w[k] * (a[3 * k] >> 1);
      g += w[k] * (a[3 * k + 1] >> 1);
      r += w[k] * (a[3 * k + 2] >> 1);
    }
    Out[3 * t] = uint8_t((b + (1u << 18)) >> 19);
    Out[3 * t + 1] = uint8_t((g + (1u << 18)) >> 19);
    Out[3 * t + 2] = uint8_t((r + (1u << 18)) >> 19);
  }
#endif
}

#if defined(__x86_64__) || defined(__i386__)
// ReduceRow with SSSE3: two source pixels per multiply-add. W16 holds the
// horizontal weights as 16-bit values with one spare zero at the end of every
// destination pixel's list (so pairs never reach into the next list).
__attribute__((target("ssse3"))) void ReduceRowSsse3(const uint16_t* Acc, const TAreaWeights& W,
                                                     const std::vector<int16_t>& W16,
                                                     const std::vector<int>& Off16, int MinX, int N,
                                                     uint8_t* Out) {
  // Lanes b0 g0 r0 b1 g1 r1 b2 g2 (16-bit) to pairs (b0,b1) (g0,g1) (r0,r1) (0,0).
  const __m128i pairs = _mm_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1);
  const __m128i round = _mm_set1_epi32(1 << 18);
  for (int t = 0; t < N; ++t) {
    const size_t ti = size_t(t);
    const uint16_t* a = Acc + 3 * size_t(W.Start[ti] - MinX);
    const int16_t* w = &W16[size_t(Off16[ti])];
    __m128i sum = _mm_setzero_si128();
    const int c = W.Count[ti];
    for (int k = 0; k < c; k += 2) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 3 * k));
      v = _mm_shuffle_epi8(_mm_srli_epi16(v, 1), pairs);
      int32_t wp;
      std::memcpy(&wp, w + k, 4);
      sum = _mm_add_epi32(sum, _mm_madd_epi16(v, _mm_set1_epi32(wp)));
    }
    sum = _mm_srli_epi32(_mm_add_epi32(sum, round), 19);
    alignas(16) uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sum);
    Out[3 * t] = uint8_t(lanes[0]);
    Out[3 * t + 1] = uint8_t(lanes[1]);
    Out[3 * t + 2] = uint8_t(lanes[2]);
  }
}

// ReduceRowSsse3 for lists of at most 2 * Pairs source pixels, all padded to
// that length (UW, zero weights past a list's end): no per-pixel lengths or
// offsets to look up, the pairs loop unrolled, and each pixel stored with one
// 4-byte write whose spare byte the next pixel overwrites. Same sums, same
// bytes as ReduceRowSsse3. Pixels before First are left alone.
template <int Pairs>
__attribute__((target("ssse3"))) void
ReduceRowFixedSsse3(const uint16_t* Acc, const TAreaWeights& W, const int32_t* UW, int MinX,
                    int First, int N, uint8_t* Out) {
  const __m128i pairs = _mm_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1);
  const __m128i round = _mm_set1_epi32(1 << 18);
  const int* start = W.Start.data();
  for (int t = First; t < N; ++t) {
    const uint16_t* a = Acc + 3 * size_t(start[t] - MinX);
    const int32_t* w = UW + size_t(t) * Pairs;
    __m128i sum = _mm_setzero_si128();
    for (int k = 0; k < Pairs; ++k) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 6 * k));
      v = _mm_shuffle_epi8(_mm_srli_epi16(v, 1), pairs);
      sum = _mm_add_epi32(sum, _mm_madd_epi16(v, _mm_set1_epi32(w[k])));
    }
    sum = _mm_srli_epi32(_mm_add_epi32(sum, round), 19);
    sum = _mm_packus_epi16(_mm_packs_epi32(sum, sum), sum); // b g r 0 in the low bytes
    const int32_t bgr0 = _mm_cvtsi128_si32(sum);
    if (t + 1 < N) {
      std::memcpy(Out + 3 * size_t(t), &bgr0, 4);
    } else {
      std::memcpy(Out + 3 * size_t(t), &bgr0, 3);
    }
  }
}

// ReduceRowFixedSsse3 two destination pixels at a time, one in each half of
// a 256-bit register. WideW holds, for every pair of destination pixels and
// every k, the k-th weight pair of the first pixel four times and then that of
// the second pixel four times. Same sums, same bytes.
template <int Pairs>
__attribute__((target("avx2"))) void ReduceRowFixedAvx2(const uint16_t* Acc, const TAreaWeights& W,
                                                        const int32_t* UW, const int32_t* WideW,
                                                        int MinX, int N, uint8_t* Out) {
  const __m256i pairs = _mm256_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1, //
                                         0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1);
  const __m256i round = _mm256_set1_epi32(1 << 18);
  const int* start = W.Start.data();
  int t = 0;
  for (; t + 1 < N; t += 2) {
    const uint16_t* a0 = Acc + 3 * size_t(start[t] - MinX);
    const uint16_t* a1 = Acc + 3 * size_t(start[t + 1] - MinX);
    const int32_t* w = WideW + size_t(t / 2) * Pairs * 8;
    __m256i sum = _mm256_setzero_si256();
    for (int k = 0; k < Pairs; ++k) {
      __m256i v = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a0 + 6 * k))),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(a1 + 6 * k)), 1);
      v = _mm256_shuffle_epi8(_mm256_srli_epi16(v, 1), pairs);
      sum = _mm256_add_epi32(
          sum,
          _mm256_madd_epi16(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 8 * k))));
    }
    sum = _mm256_srli_epi32(_mm256_add_epi32(sum, round), 19);
    sum = _mm256_packus_epi16(_mm256_packs_epi32(sum, sum), sum); // per half: b g r 0
    const int32_t p0 = _mm256_cvtsi256_si32(sum);
    const int32_t p1 = _mm_cvtsi128_si32(_mm256_extracti128_si256(sum, 1));
    std::memcpy(Out + 3 * size_t(t), &p0, 4);
    if (t + 2 < N)
      std::memcpy(Out + 3 * size_t(t) + 3, &p1, 4);
    else
      std::memcpy(Out + 3 * size_t(t) + 3, &p1, 3);
  }
  if (t < N) ReduceRowFixedSsse3<Pairs>(Acc, W, UW, MinX, t, N, Out);
}

bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}
#else
bool HasSsse3() {
  return false;
}
#endif

void StretchArea(const TDibView& Src, const TDibView& Dst, const TAxis& X, const TAxis& Y,
                 int DstLeft, int DstTop, TPaletteMapper* Mapper) {
  // Every source pixel under a destination pixel counts by the area it
  // covers: vertical weights in 1/256, horizontal weights in 1/4096.
  const TAreaWeights wx = AreaWeights(X, 4096);
  const TAreaWeights wy = AreaWeights(Y, 256);
  const int n = X.Last - X.First;
  const int rows = Y.Last - Y.First;
  const int minX = wx.MinSrc, span = wx.MaxSrc - wx.MinSrc + 1;
  const size_t spanBytes = 3 * size_t(span);
  const int dx0 = DstLeft + X.First;
  const bool direct24 = Src.BitCount == 24;
  const bool dstPalette = IsPaletteDepth(Dst.BitCount);

  // 16-bit weight lists, each padded to an even length, for the SSSE3 path
  // (which also reads up to 8 elements from a list's first pixel: Acc is
  // padded for that).
  const bool ssse3 = HasSsse3();
  const bool avx2 = HasAvx2();
  std::vector<int16_t> w16;
  std::vector<int> off16;
  // Uniform lists for the fixed-length kernels: every list padded to the
  // longest one (as pairs of 16-bit weights), when that is at most 8 pixels.
  const int fixedPairs = ssse3 && wx.MaxCount <= 8 ? (wx.MaxCount + 1) / 2 : 0;
  std::vector<int32_t> uniform;
  if (fixedPairs > 0) {
    uniform.assign(size_t(n) * size_t(fixedPairs), 0);
    for (int t = 0; t < n; ++t) {
      // Pair k: weight 2k in the low half, weight 2k + 1 in the high half.
      for (int k = 0, c = wx.Count[size_t(t)]; k < c; ++k) {
        const uint32_t w = wx.Weights[size_t(wx.Offset[size_t(t)] + k)] & 0xFFFF;
        int32_t& pair = uniform[size_t(t) * size_t(fixedPairs) + size_t(k / 2)];
        pair = int32_t(uint32_t(pair) | (k % 2 ? w << 16 : w));
      }
    }
  } else if (ssse3) {
    off16.resize(size_t(n));
    for (int t = 0; t < n; ++t) {
      off16[size_t(t)] = int(w16.size());
      const int c = wx.Count[size_t(t)];
      for (int k = 0; k < c; ++k)
        w16.push_back(int16_t(wx.Weights[size_t(wx.Offset[size_t(t)] + k)]));
      if (c & 1) w16.push_back(0);
    }
  }

  // The same weights laid out for the two-pixel AVX2 kernel.
  std::vector<int32_t> wide;
  if (fixedPairs > 0 && avx2) {
    wide.assign(size_t(n / 2) * size_t(fixedPairs) * 8, 0);
    for (int t = 0; t + 1 < n; t += 2)
      for (int k = 0; k < fixedPairs; ++k)
        for (int h = 0; h < 2; ++h)
          std::fill_n(&wide[(size_t(t / 2) * size_t(fixedPairs) + size_t(k)) * 8 + 4 * size_t(h)],
                      4, uniform[size_t(t + h) * size_t(fixedPairs) + size_t(k)]);
  }
  auto reduceFixed = [&](const uint16_t* Acc, uint8_t* Out) {
#if defined(__x86_64__) || defined(__i386__)
    const int32_t* u = uniform.data();
    const int32_t* w2 = wide.data();
    switch (fixedPairs * (avx2 ? -1 : 1)) {
    case 1:
      ReduceRowFixedSsse3<1>(Acc, wx, u, minX, 0, n, Out);
      break;
    case 2:
      ReduceRowFixedSsse3<2>(Acc, wx, u, minX, 0, n, Out);
      break;
    case 3:
      ReduceRowFixedSsse3<3>(Acc, wx, u, minX, 0, n, Out);
      break;
    case 4:
      ReduceRowFixedSsse3<4>(Acc, wx, u, minX, 0, n, Out);
      break;
    case -1:
      ReduceRowFixedAvx2<1>(Acc, wx, u, w2, minX, n, Out);
      break;
    case -2:
      ReduceRowFixedAvx2<2>(Acc, wx, u, w2, minX, n, Out);
      break;
    case -3:
      ReduceRowFixedAvx2<3>(Acc, wx, u, w2, minX, n, Out);
      break;
    case -4:
      ReduceRowFixedAvx2<4>(Acc, wx, u, w2, minX, n, Out);
      break;
    }
#else
    (void)Acc;
    (void)Out;
#endif
  };

  auto band = [&](int r0, int r1) {
    // Padding: the kernels read 8 elements from a pair's first pixel, up to
    // 2 * fixedPairs - 1 pixels past a list's first one.
    const size_t pad = 8 + 6 * size_t(std::max(fixedPairs, 1));
    std::vector<uint16_t> acc(spanBytes + pad, 0), carry(spanBytes + pad, 0);
    std::vector<uint8_t> line(direct24 ? 0 : spanBytes);
    std::vector<uint8_t> out(3 * size_t(n));
    TColorToIndex map{Mapper};
    bool carried = false; // carry holds the first source row of row r, weighted
    auto sourceRow = [&](int sy) -> const uint8_t* {
      if (direct24) return Src.Row(sy) + 3 * size_t(minX);
      FetchBgr(Src, sy, minX, span, line.data());
      return line.data();
    };
    // Horizontal step of destination row r from acc.
    auto reduce = [&](int r) {
      uint8_t* d =
          Dst.BitCount == 24 ? Dst.Row(DstTop + Y.First + r) + 3 * size_t(dx0) : out.data();
#if defined(__x86_64__) || defined(__i386__)
      if (fixedPairs > 0)
        reduceFixed(acc.data(), d);
      else if (ssse3)
        ReduceRowSsse3(acc.data(), wx, w16, off16, minX, n, d);
      else
#endif
        ReduceRow(acc.data(), wx, minX, n, d);
      if (Dst.BitCount != 24) StoreBgr(Dst, DstTop + Y.First + r, dx0, n, out.data(), map);
    };
    std::vector<const uint8_t*> rowsOf(size_t(std::max(wy.MaxCount, 1)));
    std::vector<uint16_t> weightsOf(rowsOf.size());
    for (int r = r0; r < r1; ++r) {
      const size_t ri = size_t(r);
      const uint32_t* w = &wy.Weights[size_t(wy.Offset[ri])];
      const int count = wy.Count[ri];
      if (direct24 && avx2) {
        // Rows straight from the source: all of them in one pass.
        int used = 0;
        for (int k = 0; k < count; ++k)
          if (w[k] != 0) {
            rowsOf[used] = sourceRow(wy.Start[ri] + k);
            weightsOf[used++] = uint16_t(w[k]);
          }
        AccumulateRowsAvx2(acc.data(), rowsOf.data(), weightsOf.data(), used, spanBytes);
        reduce(r);
        continue;
      }
      bool first = true;
      int k0 = 0;
      if (carried) {
        acc.swap(carry);
        first = false;
        k0 = 1;
        carried = false;
      }
      for (int k = k0; k < count; ++k) {
        const int sy = wy.Start[ri] + k;
        // The last source row of this destination row is often the first of
        // the next one: weigh it for both with one read.
        const bool share = k == count - 1 && r + 1 < r1 && wy.Start[ri + 1] == sy &&
                           wy.Weights[size_t(wy.Offset[ri + 1])] > 0;
        if (w[k] == 0 && !share) continue;
        const uint8_t* s = sourceRow(sy);
        if (share) {
          const uint16_t next = uint16_t(wy.Weights[size_t(wy.Offset[ri + 1])]);
          if (avx2)
            AccumulateRow2Avx2(acc.data(), carry.data(), s, spanBytes, uint16_t(w[k]), next, first);
          else
            AccumulateRow2(acc.data(), carry.data(), s, spanBytes, uint16_t(w[k]), next, first);
          carried = true;
        } else if (avx2) {
          AccumulateRowAvx2(acc.data(), s, spanBytes, uint16_t(w[k]), first);
        } else {
          AccumulateRow(acc.data(), s, spanBytes, uint16_t(w[k]), first);
        }
        first = false;
      }
      if (first) std::fill(acc.begin(), acc.end(), uint16_t(0));
      reduce(r);
    }
  };
  if (dstPalette)
    band(0, rows); // the mapper is not shared between threads
  else
    ParallelRows(rows, int64_t(wy.MaxSrc - wy.MinSrc + 1) * span, band);
}

} // namespace

void DibStretch(const TDibView& Src, const TRect& SrcRect, const TDibView& Dst,
                const TRect& DstRect, TStretchMode Mode, TPaletteMapper* Mapper,
                const TRect* Clip) {
  if (Src.Empty() || Dst.Empty()) return;
  TRect clip{0, 0, Dst.Width, Dst.Height};
  if (Clip) clip = IntersectRect(clip, *Clip);
  if (clip.IsEmpty()) return;
  TAxis x, y;
  if (!SetupAxis(SrcRect.Left, SrcRect.Right, Src.Width, DstRect.Left, DstRect.Right, clip.Left,
                 clip.Right, x))
    return;
  if (!SetupAxis(SrcRect.Top, SrcRect.Bottom, Src.Height, DstRect.Top, DstRect.Bottom, clip.Top,
                 clip.Bottom, y))
    return;
  const int left = std::min(DstRect.Left, DstRect.Right);
  const int top = std::min(DstRect.Top, DstRect.Bottom);
  std::unique_ptr<TNearestColorMapper> own;
  if (IsPaletteDepth(Dst.BitCount) && !Mapper) {
    own = std::make_unique<TNearestColorMapper>(Dst.Colors, Dst.ColorCount);
    Mapper = own.get();
  }
  if (Mode == TStretchMode::smHalftone)
    StretchArea(Src, Dst, x, y, left, top, Mapper);
  else
    StretchNearest(Src, Dst, x, y, left, top, Mapper);
}

#include "converters/cascade_filter.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define QM_CASCADE_X86 1
#endif

namespace {

constexpr int Sections = TCascadeFilter::Sections;

// The kernels that keep several sections in one register run section s
// three frames behind section s - 1 rather than one: the register then
// waits on its own value of three steps ago, not of the last step, for the
// long way through a section (two roundings to single among the sums), and
// the recursion of each section sets the pace. The values do not change.
constexpr std::size_t kVectorSkew = 3;

// One wavefront step T over a block of Frames frames: section s takes frame
// T - Skew * s. Sections go from the last to the first, so each one reads
// the output of the section before it as that section left it at the
// previous step.
inline void ScalarStep(TCascadeFilter::TPairState& St, const double* Ff, const double* Fb, float* Pair,
                       std::size_t Frames, std::size_t T, std::size_t Skew) {
  for (int s = Sections - 1; s >= 0; --s) {
    if (T < Skew * s || T - Skew * s >= Frames) continue;
    const std::size_t n = T - Skew * s;
    // The last frame the section before this one has taken (it ran at step
    // T - 1 unless it has finished the block).
    const std::size_t before = s == 0 ? 0 : std::min(T - 1 - Skew * (s - 1), Frames - 1) - n;
    for (int c = 0; c < 2; ++c) {
      const int lane = s * 2 + c;
      const double x0 = s == 0 ? static_cast<double>(Pair[2 * n + c]) : St.Y[before][lane - 2];
      double f = 0.0 + Ff[0] * St.X[3][lane];
      f += Ff[1] * St.X[2][lane];
      f += Ff[2] * St.X[1][lane];
      f += Ff[3] * St.X[0][lane];
      f += Ff[4] * x0;
      double p = Fb[0] * St.Y[3][lane];
      p += Fb[1] * St.Y[2][lane];
      p += Fb[2] * St.Y[1][lane];
      double y = static_cast<double>(static_cast<float>(f)) + p;
      y += Fb[3] * St.Y[0][lane];
      y = static_cast<double>(static_cast<float>(y));
      for (int k = 3; k > 0; --k) {
        St.X[k][lane] = St.X[k - 1][lane];
        St.Y[k][lane] = St.Y[k - 1][lane];
      }
      St.X[0][lane] = x0;
      St.Y[0][lane] = y;
      if (s == Sections - 1) Pair[2 * n + c] = static_cast<float>(y);
    }
  }
}

#if QM_CASCADE_X86

// Steps [Begin, End), every section busy: one vector of two channels per
// section.
void RunSse2(TCascadeFilter::TPairState& St, const double* Ff, const double* Fb, float* Pair, std::size_t Begin,
             std::size_t End) {
  __m128d X[4][4], Y[4][4];
  for (int s = 0; s < 4; ++s)
    for (int k = 0; k < 4; ++k) {
      X[s][k] = _mm_load_pd(&St.X[k][2 * s]);
      Y[s][k] = _mm_load_pd(&St.Y[k][2 * s]);
    }
  const __m128d zero = _mm_setzero_pd();
  const __m128d a4 = _mm_set1_pd(Ff[0]), a3 = _mm_set1_pd(Ff[1]), a2 = _mm_set1_pd(Ff[2]), a1 = _mm_set1_pd(Ff[3]),
                a0 = _mm_set1_pd(Ff[4]);
  const __m128d b3 = _mm_set1_pd(Fb[0]), b2 = _mm_set1_pd(Fb[1]), b1 = _mm_set1_pd(Fb[2]), b0 = _mm_set1_pd(Fb[3]);
  for (std::size_t t = Begin; t < End; ++t) {
    const __m128d in = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(Pair + 2 * t))));
    const __m128d x0[4] = {in, Y[0][0], Y[1][0], Y[2][0]};
    for (int s = 0; s < 4; ++s) {
      __m128d f = _mm_add_pd(zero, _mm_mul_pd(a4, X[s][3]));
      f = _mm_add_pd(f, _mm_mul_pd(a3, X[s][2]));
      f = _mm_add_pd(f, _mm_mul_pd(a2, X[s][1]));
      f = _mm_add_pd(f, _mm_mul_pd(a1, X[s][0]));
      f = _mm_add_pd(f, _mm_mul_pd(a0, x0[s]));
      __m128d p = _mm_mul_pd(b3, Y[s][3]);
      p = _mm_add_pd(p, _mm_mul_pd(b2, Y[s][2]));
      p = _mm_add_pd(p, _mm_mul_pd(b1, Y[s][1]));
      __m128d y = _mm_add_pd(_mm_cvtps_pd(_mm_cvtpd_ps(f)), p);
      y = _mm_add_pd(y, _mm_mul_pd(b0, Y[s][0]));
      y = _mm_cvtps_pd(_mm_cvtpd_ps(y));
      X[s][3] = X[s][2];
      X[s][2] = X[s][1];
      X[s][1] = X[s][0];
      X[s][0] = x0[s];
      Y[s][3] = Y[s][2];
      Y[s][2] = Y[s][1];
      Y[s][1] = Y[s][0];
      Y[s][0] = y;
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(Pair + 2 * (t - 3)), _mm_castps_si128(_mm_cvtpd_ps(Y[3][0])));
  }
  for (int s = 0; s < 4; ++s)
    for (int k = 0; k < 4; ++k) {
      _mm_store_pd(&St.X[k][2 * s], X[s][k]);
      _mm_store_pd(&St.Y[k][2 * s], Y[s][k]);
    }
}

// Two sections of a pair of channels, their history 1..4 frames back, kept
// in named registers (an array would live on the stack).
struct TAvxSections {
  __m256d X1, X2, X3, X4, Y1, Y2, Y3, Y4;
};

struct TAvxCoefficients {
  __m256d A4, A3, A2, A1, A0, B3, B2, B1, B0;
};

// One step of two sections. A fused multiply-add gives the sum of the
// separate ones: the product it does not round is exact.
__attribute__((target("avx2,fma"), always_inline)) inline void AvxStep(TAvxSections& S, __m256d X0,
                                                                        const TAvxCoefficients& K) {
  __m256d f = _mm256_fmadd_pd(K.A4, S.X4, _mm256_setzero_pd());
  f = _mm256_fmadd_pd(K.A3, S.X3, f);
  f = _mm256_fmadd_pd(K.A2, S.X2, f);
  f = _mm256_fmadd_pd(K.A1, S.X1, f);
  f = _mm256_fmadd_pd(K.A0, X0, f);
  __m256d p = _mm256_mul_pd(K.B3, S.Y4);
  p = _mm256_fmadd_pd(K.B2, S.Y3, p);
  p = _mm256_fmadd_pd(K.B1, S.Y2, p);
  __m256d y = _mm256_add_pd(_mm256_cvtps_pd(_mm256_cvtpd_ps(f)), p);
  y = _mm256_fmadd_pd(K.B0, S.Y1, y);
  y = _mm256_cvtps_pd(_mm256_cvtpd_ps(y));
  S.X4 = S.X3;
  S.X3 = S.X2;
  S.X2 = S.X1;
  S.X1 = X0;
  S.Y4 = S.Y3;
  S.Y3 = S.Y2;
  S.Y2 = S.Y1;
  S.Y1 = y;
}

__attribute__((target("avx2,fma"), always_inline)) inline TAvxSections AvxLoad(const TCascadeFilter::TPairState& St,
                                                                              int V) {
  return TAvxSections{_mm256_load_pd(&St.X[0][4 * V]), _mm256_load_pd(&St.X[1][4 * V]),
                      _mm256_load_pd(&St.X[2][4 * V]), _mm256_load_pd(&St.X[3][4 * V]),
                      _mm256_load_pd(&St.Y[0][4 * V]), _mm256_load_pd(&St.Y[1][4 * V]),
                      _mm256_load_pd(&St.Y[2][4 * V]), _mm256_load_pd(&St.Y[3][4 * V])};
}

__attribute__((target("avx2,fma"), always_inline)) inline void AvxStore(TCascadeFilter::TPairState& St, int V,
                                                                         const TAvxSections& S) {
  _mm256_store_pd(&St.X[0][4 * V], S.X1);
  _mm256_store_pd(&St.X[1][4 * V], S.X2);
  _mm256_store_pd(&St.X[2][4 * V], S.X3);
  _mm256_store_pd(&St.X[3][4 * V], S.X4);
  _mm256_store_pd(&St.Y[0][4 * V], S.Y1);
  _mm256_store_pd(&St.Y[1][4 * V], S.Y2);
  _mm256_store_pd(&St.Y[2][4 * V], S.Y3);
  _mm256_store_pd(&St.Y[3][4 * V], S.Y4);
}

__attribute__((target("avx2,fma"))) void RunAvx2(TCascadeFilter::TPairState& St, const double* Ff,
                                                 const double* Fb, float* Pair, std::size_t Begin,
                                                 std::size_t End) {
  // Lanes: sections 0 and 1 in the first vector, 2 and 3 in the second, each
  // as channel 0, channel 1.
  TAvxSections lo = AvxLoad(St, 0), hi = AvxLoad(St, 1);
  const TAvxCoefficients k{_mm256_set1_pd(Ff[0]), _mm256_set1_pd(Ff[1]), _mm256_set1_pd(Ff[2]),
                           _mm256_set1_pd(Ff[3]), _mm256_set1_pd(Ff[4]), _mm256_set1_pd(Fb[0]),
                           _mm256_set1_pd(Fb[1]), _mm256_set1_pd(Fb[2]), _mm256_set1_pd(Fb[3])};
  for (std::size_t t = Begin; t < End; ++t) {
    const __m128d in = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(Pair + 2 * t))));
    // Section 0 takes the input, each later one the output the section
    // before it gave three steps ago.
    const __m256d x0lo = _mm256_permute2f128_pd(_mm256_castpd128_pd256(in), lo.Y3, 0x20);
    const __m256d x0hi = _mm256_permute2f128_pd(lo.Y3, hi.Y3, 0x21);
    AvxStep(lo, x0lo, k);
    AvxStep(hi, x0hi, k);
    const __m128 out = _mm_cvtpd_ps(_mm256_extractf128_pd(hi.Y1, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(Pair + 2 * (t - 3 * kVectorSkew)), _mm_castps_si128(out));
  }
  AvxStore(St, 0, lo);
  AvxStore(St, 1, hi);
}

// All four sections of both channels in one vector.
__attribute__((target("avx512f"))) void RunAvx512(TCascadeFilter::TPairState& St, const double* Ff,
                                                  const double* Fb, float* Pair, std::size_t Begin,
                                                  std::size_t End) {
  __m512d x1 = _mm512_load_pd(St.X[0]), x2 = _mm512_load_pd(St.X[1]), x3 = _mm512_load_pd(St.X[2]),
          x4 = _mm512_load_pd(St.X[3]);
  __m512d y1 = _mm512_load_pd(St.Y[0]), y2 = _mm512_load_pd(St.Y[1]), y3 = _mm512_load_pd(St.Y[2]),
          y4 = _mm512_load_pd(St.Y[3]);
  const __m512d zero = _mm512_setzero_pd();
  const __m512d a4 = _mm512_set1_pd(Ff[0]), a3 = _mm512_set1_pd(Ff[1]), a2 = _mm512_set1_pd(Ff[2]),
                a1 = _mm512_set1_pd(Ff[3]), a0 = _mm512_set1_pd(Ff[4]);
  const __m512d b3 = _mm512_set1_pd(Fb[0]), b2 = _mm512_set1_pd(Fb[1]), b1 = _mm512_set1_pd(Fb[2]),
                b0 = _mm512_set1_pd(Fb[3]);
  // The input into lanes 0 and 1, each section's output of three steps ago
  // one section on.
  const __m512i shift = _mm512_set_epi64(5, 4, 3, 2, 1, 0, 9, 8);
  // (The zero-masked conversions are the plain ones; these spare GCC's
  // headers a false warning.)
  for (std::size_t t = Begin; t < End; ++t) {
    const __m128d in = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(Pair + 2 * t))));
    const __m512d x0 = _mm512_permutex2var_pd(y3, shift, _mm512_castpd128_pd512(in));
    __m512d f = _mm512_fmadd_pd(a4, x4, zero);
    f = _mm512_fmadd_pd(a3, x3, f);
    f = _mm512_fmadd_pd(a2, x2, f);
    f = _mm512_fmadd_pd(a1, x1, f);
    f = _mm512_fmadd_pd(a0, x0, f);
    __m512d p = _mm512_mul_pd(b3, y4);
    p = _mm512_fmadd_pd(b2, y3, p);
    p = _mm512_fmadd_pd(b1, y2, p);
    __m512d y = _mm512_add_pd(_mm512_maskz_cvtps_pd(0xFF, _mm512_maskz_cvtpd_ps(0xFF, f)), p);
    y = _mm512_fmadd_pd(b0, y1, y);
    y = _mm512_maskz_cvtps_pd(0xFF, _mm512_maskz_cvtpd_ps(0xFF, y));
    x4 = x3;
    x3 = x2;
    x2 = x1;
    x1 = x0;
    y4 = y3;
    y3 = y2;
    y2 = y1;
    y1 = y;
    const __m128d last = _mm_castps_pd(_mm512_maskz_extractf32x4_ps(0xF, _mm512_castpd_ps(y1), 3));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(Pair + 2 * (t - 3 * kVectorSkew)),
                     _mm_castps_si128(_mm_cvtpd_ps(last)));
  }
  _mm512_store_pd(St.X[0], x1);
  _mm512_store_pd(St.X[1], x2);
  _mm512_store_pd(St.X[2], x3);
  _mm512_store_pd(St.X[3], x4);
  _mm512_store_pd(St.Y[0], y1);
  _mm512_store_pd(St.Y[1], y2);
  _mm512_store_pd(St.Y[2], y3);
  _mm512_store_pd(St.Y[3], y4);
}

#endif

}  // namespace

bool TCascadeFilter::KernelAvailable(TFilterKernel Kernel) {
  switch (Kernel) {
    case TFilterKernel::Scalar: return true;
#if QM_CASCADE_X86
    case TFilterKernel::Sse2: return true;
    case TFilterKernel::Avx2: return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case TFilterKernel::Avx512: return __builtin_cpu_supports("avx512f");
#else
    default: return false;
#endif
  }
  return false;
}

TFilterKernel TCascadeFilter::BestKernel() {
  if (KernelAvailable(TFilterKernel::Avx512)) return TFilterKernel::Avx512;
  if (KernelAvailable(TFilterKernel::Avx2)) return TFilterKernel::Avx2;
  if (KernelAvailable(TFilterKernel::Sse2)) return TFilterKernel::Sse2;
  return TFilterKernel::Scalar;
}

void TCascadeFilter::SetCoefficients(const std::array<float, 5>& A, const std::array<float, 4>& B) {
  for (int i = 0; i < 5; ++i) FeedForward[i] = A[4 - i];
  for (int i = 0; i < 4; ++i) FeedBack[i] = B[3 - i];
}

void TCascadeFilter::Reset(int Channels, std::size_t MaxFrames) {
  FChannels = std::clamp(Channels, 1, MaxChannels);
  Pairs.assign(static_cast<std::size_t>((FChannels + 1) / 2), TPairState{});
  Scratch.assign(FChannels == 2 ? 0 : 2 * std::max<std::size_t>(MaxFrames, 1), 0.0f);
  if (!KernelAvailable(Kernel)) Kernel = BestKernel();
}

void TCascadeFilter::Release() {
  Pairs = {};
  Scratch = {};
  FChannels = 0;
}

void TCascadeFilter::RunPair(TPairState& State, float* Pair, std::size_t Frames) {
  if (Frames == 0) return;
  const double* ff = FeedForward.data();
  const double* fb = FeedBack.data();
  std::size_t skew = 1;
#if QM_CASCADE_X86
  if (Kernel == TFilterKernel::Avx2 || Kernel == TFilterKernel::Avx512) skew = kVectorSkew;
#endif
  const std::size_t ramp = skew * (Sections - 1);
  // Steps ramp .. Frames - 1 keep every section busy: a vector kernel takes
  // those; the steps at either end of the block run section by section.
  std::size_t t = 0;
  for (; t < ramp; ++t) ScalarStep(State, ff, fb, Pair, Frames, t, skew);
#if QM_CASCADE_X86
  if (Frames > ramp && Kernel != TFilterKernel::Scalar) {
    if (Kernel == TFilterKernel::Avx512)
      RunAvx512(State, ff, fb, Pair, ramp, Frames);
    else if (Kernel == TFilterKernel::Avx2)
      RunAvx2(State, ff, fb, Pair, ramp, Frames);
    else
      RunSse2(State, ff, fb, Pair, ramp, Frames);
    t = Frames;
  }
#endif
  for (; t < Frames + ramp; ++t) ScalarStep(State, ff, fb, Pair, Frames, t, skew);
}

void TCascadeFilter::Run(float* Data, std::size_t Frames) {
  if (FChannels == 2) {
    RunPair(Pairs[0], Data, Frames);
    return;
  }
  const auto channels = static_cast<std::size_t>(FChannels);
  // The filter carries on from block to block, so a block longer than the
  // scratch buffer runs in pieces of it.
  const std::size_t piece = Scratch.size() / 2;
  for (std::size_t at = 0; piece > 0 && at < Frames; at += piece) {
    const std::size_t frames = std::min(piece, Frames - at);
    float* data = Data + at * channels;
    for (std::size_t p = 0; p < Pairs.size(); ++p) {
      const std::size_t c0 = 2 * p;
      const bool second = c0 + 1 < channels;
      float* pair = Scratch.data();
      for (std::size_t n = 0; n < frames; ++n) {
        pair[2 * n] = data[n * channels + c0];
        pair[2 * n + 1] = second ? data[n * channels + c0 + 1] : 0.0f;
      }
      RunPair(Pairs[p], pair, frames);
      for (std::size_t n = 0; n < frames; ++n) {
        data[n * channels + c0] = pair[2 * n];
        if (second) data[n * channels + c0 + 1] = pair[2 * n + 1];
      }
    }
  }
}

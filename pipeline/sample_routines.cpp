#include "pipeline/sample_routines.h"

#include <bit>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define QM_SAMPLE_SSE2 1
#endif

namespace {

// Round to nearest, ties to even, whatever the current rounding mode.
template <typename T>
T RoundTiesToEven(T v) {
  const T down = std::floor(v);
  const T diff = v - down;
  if (diff > T(0.5)) return down + 1;
  if (diff < T(0.5)) return down;
  return std::fmod(down, T(2)) == 0 ? down : down + 1;
}

// Values of magnitude >= 1 (biased exponent >= 127), infinities and NaN
// become exactly +1 or -1; everything else is left untouched.
void ClampInPlace(float* values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const uint32_t bits = std::bit_cast<uint32_t>(values[i]);
    if (((bits >> 23) & 0xFF) >= 127) {
      const float x = values[i];
      if (x >= 1.0f) {
        values[i] = 1.0f;
      } else if (!(x > -1.0f)) {
        values[i] = -1.0f;
      }
    }
  }
}

void ScalarByteToSingle(const uint8_t* Src, float* Dest, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) Dest[i] = static_cast<float>(Src[i]) * 0.0078125f - 1.0f;
}

void ScalarSmallIntToSingle(const int16_t* Src, float* Dest, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) Dest[i] = static_cast<float>(Src[i]) * (1.0f / 32768.0f);
}

void ScalarInt24ToSingle(const uint8_t* Src, float* Dest, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) {
    const uint8_t* p = Src + 3 * i;
    // Sign-extend from bit 23.
    const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                                           static_cast<uint32_t>(p[2]) << 24) >>
                      8;
    Dest[i] = static_cast<float>(v) * (1.0f / 8388608.0f);
  }
}

void ScalarInt32ToSingle(const int32_t* Src, float* Dest, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) Dest[i] = static_cast<float>(Src[i]) * (1.0f / 2147483648.0f);
}

void ScalarSingleToByte(const float* Src, uint8_t* Dest, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) {
    const float x = Src[i];
    if (x >= 1.0f) {
      Dest[i] = 255;
    } else if (x > -1.0f) {
      // Extended precision keeps x + 1 exact for all but the tiniest x, so a
      // small negative value lands below 128.
      Dest[i] = static_cast<uint8_t>(std::floor((static_cast<long double>(x) + 1.0L) * 128.0L));
    } else {
      Dest[i] = 0;
    }
  }
}

void ScalarSingleToSmallInt(const float* Src, int16_t* Dest, std::size_t Count) {
  // A float times 32767 is exact in double.
  for (std::size_t i = 0; i < Count; ++i)
    Dest[i] = static_cast<int16_t>(RoundTiesToEven(static_cast<double>(Src[i]) * 32767.0));
}

void ScalarSingleToInt24(const float* Src, uint8_t* Dest, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) {
    const auto v = static_cast<int32_t>(std::floor(static_cast<double>(Src[i]) * 8388607.0));
    const auto u = static_cast<uint32_t>(v);
    uint8_t* p = Dest + 3 * i;
    p[0] = static_cast<uint8_t>(u);
    p[1] = static_cast<uint8_t>(u >> 8);
    p[2] = static_cast<uint8_t>(u >> 16);
  }
}

void ScalarSingleToInt32(const float* Src, int32_t* Dest, std::size_t Count) {
  // A float times 2147483647 needs 55 bits: extended precision keeps it exact.
  for (std::size_t i = 0; i < Count; ++i)
    Dest[i] = static_cast<int32_t>(RoundTiesToEven(static_cast<long double>(Src[i]) * 2147483647.0L));
}

template <typename F>
int32_t FloatToInt32Floor(F x) {
  if (x >= F(1)) return INT32_MAX;
  if (!(x > F(-1))) return INT32_MIN;
  if (x == F(0)) return 0;
  return static_cast<int32_t>(std::floor(static_cast<long double>(x) * 2147483647.0L));
}

#if !QM_SAMPLE_SSE2
void ScalarStereoToMonoSingle(float* Buffer, std::size_t FrameCount) {
  for (std::size_t i = 0; i < FrameCount; ++i) Buffer[i] = (Buffer[2 * i] + Buffer[2 * i + 1]) / 2.0f;
}

void ScalarMonoToStereoSingle(float* Buffer, std::size_t ValueCount) {
  for (std::size_t i = ValueCount; i-- > 0;) {
    const float v = Buffer[i];
    Buffer[2 * i] = v;
    Buffer[2 * i + 1] = v;
  }
}

#endif

}  // namespace

// The vector paths below give the scalar routines' results bit for bit:
// each handles the values it can do exactly and hands any group holding
// another kind (the rare value whose result depends on extended precision,
// or a rounding mode other than to nearest) to the scalar routine.

#if QM_SAMPLE_SSE2
namespace {

// Four int32 lanes to floats times Scale: the same single rounding of the
// conversion and exact multiplication by a power of two as the scalar code.
inline void StoreScaled(float* Dest, __m128i Values, __m128 Scale) {
  _mm_storeu_ps(Dest, _mm_mul_ps(_mm_cvtepi32_ps(Values), Scale));
}

// The clamp of the float-to-integer routines on four values: >= 1 becomes 1,
// not > -1 (NaN included) becomes -1.
inline __m128 Clamp4(__m128 x) {
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 minusOne = _mm_set1_ps(-1.0f);
  const __m128 high = _mm_cmpge_ps(x, one);
  const __m128 inside = _mm_cmpgt_ps(x, minusOne);
  const __m128 kept = _mm_or_ps(_mm_and_ps(inside, x), _mm_andnot_ps(inside, minusOne));
  return _mm_or_ps(_mm_and_ps(high, one), _mm_andnot_ps(high, kept));
}

// The rounding mode is to nearest: the conversion instructions then round
// ties to even as the scalar code does.
inline bool RoundsToNearest() { return (_mm_getcsr() & 0x6000) == 0; }

// floor() of two doubles well inside the int32 range, in any rounding mode.
inline __m128i Floor2(__m128d v) {
  const __m128i t = _mm_cvttpd_epi32(v);
  const __m128d back = _mm_cvtepi32_pd(t);
  // -1 in each lane where truncation went up.
  const __m128i below = _mm_castps_si128(_mm_shuffle_ps(_mm_castpd_ps(_mm_cmplt_pd(v, back)),
                                                        _mm_castpd_ps(_mm_cmplt_pd(v, back)), _MM_SHUFFLE(3, 3, 2, 0)));
  return _mm_add_epi32(t, below);
}

}  // namespace
#endif

void ByteToSingle(const uint8_t* Src, float* Dest, std::size_t Count) {
  std::size_t i = 0;
#if QM_SAMPLE_SSE2
  const __m128 scale = _mm_set1_ps(0.0078125f);
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= Count; i += 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i));
    const __m128i lo = _mm_unpacklo_epi8(b, zero), hi = _mm_unpackhi_epi8(b, zero);
    const __m128i w[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero), _mm_unpacklo_epi16(hi, zero),
                          _mm_unpackhi_epi16(hi, zero)};
    for (int k = 0; k < 4; ++k)
      _mm_storeu_ps(Dest + i + 4 * k, _mm_sub_ps(_mm_mul_ps(_mm_cvtepi32_ps(w[k]), scale), one));
  }
#endif
  ScalarByteToSingle(Src + i, Dest + i, Count - i);
}

void SmallIntToSingle(const int16_t* Src, float* Dest, std::size_t Count) {
  std::size_t i = 0;
#if QM_SAMPLE_SSE2
  const __m128 scale = _mm_set1_ps(1.0f / 32768.0f);
  for (; i + 8 <= Count; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i));
    // Each 16-bit value into the top half of a lane, then shifted down with
    // its sign.
    StoreScaled(Dest + i, _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16), scale);
    StoreScaled(Dest + i + 4, _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16), scale);
  }
#endif
  ScalarSmallIntToSingle(Src + i, Dest + i, Count - i);
}

void Int24ToSingle(const uint8_t* Src, float* Dest, std::size_t Count) { ScalarInt24ToSingle(Src, Dest, Count); }

void Int32ToSingle(const int32_t* Src, float* Dest, std::size_t Count) {
  std::size_t i = 0;
#if QM_SAMPLE_SSE2
  const __m128 scale = _mm_set1_ps(1.0f / 2147483648.0f);
  for (; i + 4 <= Count; i += 4)
    StoreScaled(Dest + i, _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + i)), scale);
#endif
  ScalarInt32ToSingle(Src + i, Dest + i, Count - i);
}

void SingleToByte(const float* Src, uint8_t* Dest, std::size_t Count) {
  std::size_t i = 0;
#if QM_SAMPLE_SSE2
  // floor((x + 1) * 128) is 128 + floor(x * 128) whenever x + 1 is exact in
  // extended precision: for every x but negative ones under 2^-40.
  const __m128 one = _mm_set1_ps(1.0f), minusOne = _mm_set1_ps(-1.0f), zero = _mm_setzero_ps();
  const __m128 tinyNegative = _mm_set1_ps(-0x1p-40f);
  const __m128 scale = _mm_set1_ps(128.0f);
  const __m128i bias = _mm_set1_epi32(128), full = _mm_set1_epi32(255);
  for (; i + 16 <= Count; i += 16) {
    __m128i r[4];
    int unusual = 0;
    for (int k = 0; k < 4; ++k) {
      const __m128 x = _mm_loadu_ps(Src + i + 4 * k);
      unusual |= _mm_movemask_ps(_mm_and_ps(_mm_cmplt_ps(x, zero), _mm_cmpgt_ps(x, tinyNegative)));
      const __m128 y = _mm_mul_ps(x, scale);
      const __m128i t = _mm_cvttps_epi32(y);
      const __m128i f = _mm_add_epi32(_mm_add_epi32(t, _mm_castps_si128(_mm_cmplt_ps(y, _mm_cvtepi32_ps(t)))), bias);
      const __m128i high = _mm_castps_si128(_mm_cmpge_ps(x, one));
      const __m128i inside = _mm_castps_si128(_mm_cmpgt_ps(x, minusOne));
      r[k] = _mm_or_si128(_mm_and_si128(high, full), _mm_andnot_si128(high, _mm_and_si128(inside, f)));
    }
    if (unusual) {
      ScalarSingleToByte(Src + i, Dest + i, 16);
      continue;
    }
    const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(r[0], r[1]), _mm_packs_epi32(r[2], r[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dest + i), packed);
  }
#endif
  ScalarSingleToByte(Src + i, Dest + i, Count - i);
}

void SingleToSmallInt(float* Src, int16_t* Dest, std::size_t Count) {
  std::size_t i = 0;
#if QM_SAMPLE_SSE2
  if (RoundsToNearest()) {
    // A single times 32767 is exact in double.
    const __m128d scale = _mm_set1_pd(32767.0);
    for (; i + 8 <= Count; i += 8) {
      __m128i w[4];
      for (int k = 0; k < 2; ++k) {
        const __m128 x = Clamp4(_mm_loadu_ps(Src + i + 4 * k));
        _mm_storeu_ps(Src + i + 4 * k, x);
        const __m128i lo = _mm_cvtpd_epi32(_mm_mul_pd(_mm_cvtps_pd(x), scale));
        const __m128i hi = _mm_cvtpd_epi32(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), scale));
        w[2 * k] = lo;
        w[2 * k + 1] = hi;
      }
      const __m128i a = _mm_unpacklo_epi64(w[0], w[1]), b = _mm_unpacklo_epi64(w[2], w[3]);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(Dest + i), _mm_packs_epi32(a, b));
    }
  }
#endif
  ClampInPlace(Src + i, Count - i);
  ScalarSingleToSmallInt(Src + i, Dest + i, Count - i);
}

void SingleToInt24(float* Src, uint8_t* Dest, std::size_t Count) {
  std::size_t i = 0;
#if QM_SAMPLE_SSE2
  // A single times 8388607 is exact in double; floor works in any mode.
  const __m128d scale = _mm_set1_pd(8388607.0);
  for (; i + 4 <= Count; i += 4) {
    const __m128 x = Clamp4(_mm_loadu_ps(Src + i));
    _mm_storeu_ps(Src + i, x);
    const __m128i lo = Floor2(_mm_mul_pd(_mm_cvtps_pd(x), scale));
    const __m128i hi = Floor2(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), scale));
    alignas(16) int32_t v[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(v), _mm_unpacklo_epi64(lo, hi));
    uint8_t* p = Dest + 3 * i;
    for (int k = 0; k < 4; ++k) {
      const auto u = static_cast<uint32_t>(v[k]);
      p[3 * k] = static_cast<uint8_t>(u);
      p[3 * k + 1] = static_cast<uint8_t>(u >> 8);
      p[3 * k + 2] = static_cast<uint8_t>(u >> 16);
    }
  }
#endif
  ClampInPlace(Src + i, Count - i);
  ScalarSingleToInt24(Src + i, Dest + i * 3, Count - i);
}

void SingleToInt32(float* Src, int32_t* Dest, std::size_t Count) {
  std::size_t i = 0;
#if QM_SAMPLE_SSE2
  if (RoundsToNearest()) {
    // The product needs 55 bits; rounded to double it is within 2^-23 of
    // the exact value, so the nearest integer is the same unless the value
    // lies close to a half: such groups go the exact way.
    const __m128d scale = _mm_set1_pd(2147483647.0);
    const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF));
    const __m128d half = _mm_set1_pd(0.5), margin = _mm_set1_pd(0x1p-20);
    for (; i + 4 <= Count; i += 4) {
      const __m128 x = Clamp4(_mm_loadu_ps(Src + i));
      _mm_storeu_ps(Src + i, x);
      const __m128d p[2] = {_mm_mul_pd(_mm_cvtps_pd(x), scale), _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), scale)};
      __m128i n[2];
      int nearHalf = 0;
      for (int k = 0; k < 2; ++k) {
        n[k] = _mm_cvtpd_epi32(p[k]);
        const __m128d off = _mm_and_pd(_mm_sub_pd(p[k], _mm_cvtepi32_pd(n[k])), absMask);
        const __m128d distance = _mm_and_pd(_mm_sub_pd(off, half), absMask);
        nearHalf |= _mm_movemask_pd(_mm_cmplt_pd(distance, margin));
      }
      if (nearHalf) {
        ScalarSingleToInt32(Src + i, Dest + i, 4);
        continue;
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(Dest + i), _mm_unpacklo_epi64(n[0], n[1]));
    }
  }
#endif
  ClampInPlace(Src + i, Count - i);
  ScalarSingleToInt32(Src + i, Dest + i, Count - i);
}

void DoubleToInt32InPlace(void* Buffer, std::size_t ByteCount) {
  auto* bytes = static_cast<uint8_t*>(Buffer);
  const std::size_t count = ByteCount / 8;
  // Going forwards is safe: value i is written at byte 4i, below the 8i it
  // was read from.
  for (std::size_t i = 0; i < count; ++i) {
    double x;
    std::memcpy(&x, bytes + 8 * i, sizeof x);
    const int32_t v = FloatToInt32Floor(x);
    std::memcpy(bytes + 4 * i, &v, sizeof v);
  }
}

void SingleToInt32InPlace(void* Buffer, std::size_t ByteCount) {
  auto* bytes = static_cast<uint8_t*>(Buffer);
  const std::size_t count = ByteCount / 4;
  for (std::size_t i = 0; i < count; ++i) {
    float x;
    std::memcpy(&x, bytes + 4 * i, sizeof x);
    const int32_t v = FloatToInt32Floor(x);
    std::memcpy(bytes + 4 * i, &v, sizeof v);
  }
}

void StereoToMonoSingle(float* Buffer, std::size_t FrameCount) {
  std::size_t i = 0;
#if QM_SAMPLE_SSE2
  // Forwards in place: frames i .. i+3 are read before values i .. i+3 are
  // written, and later frames lie beyond them.
  const __m128 half = _mm_set1_ps(0.5f);
  for (; i + 4 <= FrameCount; i += 4) {
    const __m128 a = _mm_loadu_ps(Buffer + 2 * i), b = _mm_loadu_ps(Buffer + 2 * i + 4);
    const __m128 left = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 right = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
    // Halving is exact, as the division by 2 is.
    _mm_storeu_ps(Buffer + i, _mm_mul_ps(_mm_add_ps(left, right), half));
  }
  for (; i < FrameCount; ++i) Buffer[i] = (Buffer[2 * i] + Buffer[2 * i + 1]) / 2.0f;
#else
  ScalarStereoToMonoSingle(Buffer, FrameCount);
#endif
}

void MonoToStereoSingle(float* Buffer, std::size_t ValueCount) {
#if QM_SAMPLE_SSE2
  // Backwards in place: the values past the last whole group first, then
  // each group of four into the eight places it fills, none of them holding
  // a value still to be read.
  std::size_t i = ValueCount - ValueCount % 4;
  for (std::size_t j = ValueCount; j-- > i;) {
    const float v = Buffer[j];
    Buffer[2 * j] = v;
    Buffer[2 * j + 1] = v;
  }
  while (i >= 4) {
    i -= 4;
    const __m128 v = _mm_loadu_ps(Buffer + i);
    _mm_storeu_ps(Buffer + 2 * i + 4, _mm_unpackhi_ps(v, v));
    _mm_storeu_ps(Buffer + 2 * i, _mm_unpacklo_ps(v, v));
  }
#else
  ScalarMonoToStereoSingle(Buffer, ValueCount);
#endif
}

void DotProduct(const float* A, const float* B, float& Accumulator, std::size_t Count) {
  long double sum = Accumulator;
  for (std::size_t i = 0; i < Count; ++i) sum += static_cast<long double>(A[i]) * static_cast<long double>(B[i]);
  Accumulator = static_cast<float>(sum);
}

void FastCopy(void* Dest, const void* Src, std::size_t Bytes) {
  if (Bytes != 0) std::memcpy(Dest, Src, Bytes);
}

std::string TextBefore(char Ch, std::string_view Text) {
  const auto pos = Text.find(Ch);
  if (pos == std::string_view::npos) return {};
  return std::string(Text.substr(0, pos));
}

std::string TextAfter(char Ch, std::string_view Text) {
  const auto pos = Text.find(Ch);
  if (pos == std::string_view::npos) return {};
  return std::string(Text.substr(pos + 1));
}

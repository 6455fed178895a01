#include "pipeline/sample_routines.h"

#include <bit>
#include <cmath>
#include <cstring>

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

}  // namespace

void ByteToSingle(const uint8_t* Src, float* Dest, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) Dest[i] = static_cast<float>(Src[i]) * 0.0078125f - 1.0f;
}

void SmallIntToSingle(const int16_t* Src, float* Dest, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) Dest[i] = static_cast<float>(Src[i]) * (1.0f / 32768.0f);
}

void Int24ToSingle(const uint8_t* Src, float* Dest, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) {
    const uint8_t* p = Src + 3 * i;
    // Sign-extend from bit 23.
    const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                                           static_cast<uint32_t>(p[2]) << 24) >>
                      8;
    Dest[i] = static_cast<float>(v) * (1.0f / 8388608.0f);
  }
}

void Int32ToSingle(const int32_t* Src, float* Dest, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) Dest[i] = static_cast<float>(Src[i]) * (1.0f / 2147483648.0f);
}

void SingleToByte(const float* Src, uint8_t* Dest, std::size_t Count) {
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

void SingleToSmallInt(float* Src, int16_t* Dest, std::size_t Count) {
  ClampInPlace(Src, Count);
  // A float times 32767 is exact in double.
  for (std::size_t i = 0; i < Count; ++i)
    Dest[i] = static_cast<int16_t>(RoundTiesToEven(static_cast<double>(Src[i]) * 32767.0));
}

void SingleToInt24(float* Src, uint8_t* Dest, std::size_t Count) {
  ClampInPlace(Src, Count);
  for (std::size_t i = 0; i < Count; ++i) {
    const auto v = static_cast<int32_t>(std::floor(static_cast<double>(Src[i]) * 8388607.0));
    const auto u = static_cast<uint32_t>(v);
    uint8_t* p = Dest + 3 * i;
    p[0] = static_cast<uint8_t>(u);
    p[1] = static_cast<uint8_t>(u >> 8);
    p[2] = static_cast<uint8_t>(u >> 16);
  }
}

void SingleToInt32(float* Src, int32_t* Dest, std::size_t Count) {
  ClampInPlace(Src, Count);
  // A float times 2147483647 needs 55 bits: extended precision keeps it exact.
  for (std::size_t i = 0; i < Count; ++i)
    Dest[i] = static_cast<int32_t>(RoundTiesToEven(static_cast<long double>(Src[i]) * 2147483647.0L));
}

namespace {
template <typename F>
int32_t FloatToInt32Floor(F x) {
  if (x >= F(1)) return INT32_MAX;
  if (!(x > F(-1))) return INT32_MIN;
  if (x == F(0)) return 0;
  return static_cast<int32_t>(std::floor(static_cast<long double>(x) * 2147483647.0L));
}
}  // namespace

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
  for (std::size_t i = 0; i < FrameCount; ++i) Buffer[i] = (Buffer[2 * i] + Buffer[2 * i + 1]) / 2.0f;
}

void MonoToStereoSingle(float* Buffer, std::size_t ValueCount) {
  for (std::size_t i = ValueCount; i-- > 0;) {
    const float v = Buffer[i];
    Buffer[2 * i] = v;
    Buffer[2 * i + 1] = v;
  }
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

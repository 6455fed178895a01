// The sample rates the engine reads, resamples to and writes. A rate outside
// them is a damaged header or a mistyped setting, and buffers sized by it
// (a fifth of a second of frames per block) would run to gigabytes. The WAV
// reader, the resampler and the settings all keep to this one range.
#pragma once

#include <cstdint>

inline constexpr int kMinSampleRate = 1;
inline constexpr int kMaxSampleRate = 768000;

constexpr bool IsSupportedSampleRate(int64_t Rate) { return Rate >= kMinSampleRate && Rate <= kMaxSampleRate; }

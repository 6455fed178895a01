// Comparing decoded signals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qmtest {

// Little-endian 16-bit samples of raw bytes.
std::vector<int16_t> AsInt16(const std::vector<uint8_t>& bytes);
// The normalised correlation of the first `n` samples (1: the same shape).
double Correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, std::size_t n);

}  // namespace qmtest

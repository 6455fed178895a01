#include "tests/support/signal_measures.h"

#include <cmath>
#include <cstring>

namespace qmtest {

std::vector<int16_t> AsInt16(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> v(bytes.size() / 2);
  std::memcpy(v.data(), bytes.data(), v.size() * 2);
  return v;
}

double Correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, std::size_t n) {
  double sab = 0, saa = 0, sbb = 0;
  for (std::size_t i = 0; i < n; ++i) {
    sab += double(a[i]) * b[i];
    saa += double(a[i]) * a[i];
    sbb += double(b[i]) * b[i];
  }
  return (saa > 0 && sbb > 0) ? sab / std::sqrt(saa * sbb) : 0;
}

}  // namespace qmtest

#include "predictor.h"

#include <algorithm>
#include <cstring>

namespace ape {

namespace {

inline int32_t wrap32(int64_t v) { return int32_t(uint32_t(uint64_t(v))); }
inline int32_t wadd(int32_t a, int32_t b) { return int32_t(uint32_t(a) + uint32_t(b)); }
inline int32_t wsub(int32_t a, int32_t b) { return int32_t(uint32_t(a) - uint32_t(b)); }
inline int32_t sgn(int32_t v) { return (v > 0) - (v < 0); }
inline int16_t sat16(int32_t v) { return int16_t(std::clamp<int32_t>(v, -32768, 32767)); }
// The fixed first-order filter: x - x_prev * 31/32.
inline int32_t scaledPrevious(int32_t prev) { return int32_t(uint32_t(prev) * 31u) >> 5; }

// Room for this many pushes before a window has to be moved back.
constexpr size_t kWindowSlack = 512;

struct FilterParams {
    int order;
    int shift;
};

}  // namespace

NNFilter::NNFilter(int order, int shift, int version)
    : order_(order), shift_(shift), version_(version), coefficients_(order),
      history_(order + kWindowSlack), deltas_(order + kWindowSlack) {}

void NNFilter::reset() {
    std::fill(coefficients_.begin(), coefficients_.end(), int16_t(0));
    std::fill(history_.begin(), history_.end(), int16_t(0));
    std::fill(deltas_.begin(), deltas_.end(), int16_t(0));
    pos_ = 0;
    average_ = 0;
}

int32_t NNFilter::prediction(bool legacyRound) const {
    const int16_t* h = history_.data() + pos_;
    const int16_t* c = coefficients_.data();
    uint32_t dot = 0;
    for (int j = 0; j < order_; ++j) dot += uint32_t(int32_t(h[j]) * int32_t(c[j]));
    int32_t d = int32_t(dot);
    if (legacyRound) return wadd(d, int32_t(1u << (shift_ - 1))) >> shift_;
    return int32_t((int64_t(d) + (int64_t(1) << (shift_ - 1))) >> shift_);
}

void NNFilter::adapt(int32_t residual) {
    const int16_t* dl = deltas_.data() + pos_;
    int16_t* c = coefficients_.data();
    if (residual > 0) {
        for (int j = 0; j < order_; ++j) c[j] = int16_t(uint16_t(c[j]) + uint16_t(dl[j]));
    } else if (residual < 0) {
        for (int j = 0; j < order_; ++j) c[j] = int16_t(uint16_t(c[j]) - uint16_t(dl[j]));
    }
}

void NNFilter::push(int32_t v) {
    if (pos_ + order_ == history_.size()) {
        std::memmove(history_.data(), history_.data() + pos_, order_ * sizeof(int16_t));
        std::memmove(deltas_.data(), deltas_.data() + pos_, order_ * sizeof(int16_t));
        pos_ = 0;
    }
    size_t newest = pos_ + order_;
    history_[newest] = sat16(v);
    int64_t magnitude = v < 0 ? -int64_t(v) : int64_t(v);
    int16_t* d = deltas_.data();
    if (version_ >= 3980) {
        int32_t step = 0;
        if (v != 0) {
            if (magnitude > int64_t(average_) * 3)
                step = 32;
            else if (magnitude > int64_t(average_) * 4 / 3)
                step = 16;
            else
                step = 8;
        }
        d[newest] = int16_t(sgn(v) * step);
        average_ = wrap32(average_ + (magnitude - average_) / 16);
        d[newest - 1] >>= 1;
        d[newest - 2] >>= 1;
        d[newest - 8] >>= 1;
    } else {
        d[newest] = int16_t(sgn(v) * 4);
        d[newest - 4] >>= 1;
        d[newest - 8] >>= 1;
    }
    ++pos_;
}

int32_t NNFilter::compress(int32_t input, bool legacyRound) {
    int32_t out = wsub(input, prediction(legacyRound));
    adapt(out);
    push(input);
    return out;
}

int32_t NNFilter::decompress(int32_t input, bool legacyRound) {
    int32_t out = wadd(input, prediction(legacyRound));
    adapt(input);
    push(out);
    return out;
}

NNCascade::NNCascade(int level, int version) {
    std::vector<FilterParams> params;
    switch (level) {
    case 2000: params = {{16, 11}}; break;
    case 3000: params = {{64, 11}}; break;
    case 4000: params = {{256, 13}, {32, 10}}; break;
    case 5000: params = {{1280, 15}, {256, 13}, {16, 11}}; break;
    default: break;
    }
    for (const FilterParams& s : params) filters_.push_back(std::make_unique<NNFilter>(s.order, s.shift, version));
}

void NNCascade::reset() {
    for (auto& f : filters_) f->reset();
}

int32_t NNCascade::compress(int32_t value, bool legacyRound) {
    for (auto& f : filters_) value = f->compress(value, legacyRound);
    return value;
}

int32_t NNCascade::decompress(int32_t value, bool legacyRound) {
    for (auto it = filters_.rbegin(); it != filters_.rend(); ++it) value = (*it)->decompress(value, legacyRound);
    return value;
}

void StreamPredictor::reset() {
    *this = StreamPredictor();
    mA_[0] = 360;
    mA_[1] = 317;
    mA_[2] = -109;
    mA_[3] = 98;
}

int32_t StreamPredictor::predict(int32_t bf, bool wideSums) {
    inputsA_[0] = a_[0];
    inputsA_[1] = wsub(a_[0], a_[1]);
    inputsA_[2] = wsub(a_[1], a_[2]);
    inputsA_[3] = wsub(a_[2], a_[3]);
    inputsB_[0] = bf;
    inputsB_[1] = wsub(bf, bf_[0]);
    inputsB_[2] = wsub(bf_[0], bf_[1]);
    inputsB_[3] = wsub(bf_[1], bf_[2]);
    inputsB_[4] = wsub(bf_[2], bf_[3]);
    if (wideSums) {
        uint64_t pa = 0, pb = 0;  // unsigned only to keep absurd inputs free of overflow traps
        for (int i = 0; i < 4; ++i) pa += uint64_t(int64_t(inputsA_[i]) * mA_[i]);
        for (int i = 0; i < 5; ++i) pb += uint64_t(int64_t(inputsB_[i]) * mB_[i]);
        int64_t sum = int64_t(pa + uint64_t(int64_t(pb) >> 1));
        return wrap32(sum >> 10);
    }
    uint32_t pa = 0, pb = 0;
    for (int i = 0; i < 4; ++i) pa += uint32_t(inputsA_[i]) * uint32_t(mA_[i]);
    for (int i = 0; i < 5; ++i) pb += uint32_t(inputsB_[i]) * uint32_t(mB_[i]);
    return int32_t(pa + uint32_t(int32_t(pb) >> 1)) >> 10;
}

void StreamPredictor::adapt(int32_t residual, int32_t stageOne, int32_t bf) {
    if (residual != 0) {
        int32_t s = sgn(residual);
        for (int i = 0; i < 4; ++i) mA_[i] = wadd(mA_[i], s * sgn(inputsA_[i]));
        for (int i = 0; i < 5; ++i) mB_[i] = wadd(mB_[i], s * sgn(inputsB_[i]));
    }
    a_[3] = a_[2];
    a_[2] = a_[1];
    a_[1] = a_[0];
    a_[0] = stageOne;
    bf_[3] = bf_[2];
    bf_[2] = bf_[1];
    bf_[1] = bf_[0];
    bf_[0] = bf;
}

int32_t StreamPredictor::compress(int32_t value, int32_t cross, bool wideSums) {
    int32_t stageOne = wsub(value, scaledPrevious(lastValue_));
    lastValue_ = value;
    int32_t bf = wsub(cross, scaledPrevious(lastCross_));
    lastCross_ = cross;
    int32_t residual = wsub(stageOne, predict(bf, wideSums));
    adapt(residual, stageOne, bf);
    return residual;
}

int32_t StreamPredictor::decompress(int32_t residual, int32_t cross, bool wideSums) {
    int32_t bf = wsub(cross, scaledPrevious(lastCross_));
    lastCross_ = cross;
    int32_t stageOne = wadd(residual, predict(bf, wideSums));
    adapt(residual, stageOne, bf);
    int32_t value = wadd(stageOne, scaledPrevious(lastValue_));
    lastValue_ = value;
    return value;
}

}  // namespace ape

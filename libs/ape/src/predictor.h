// Prediction of APE frames: the fixed first-order filter, the adaptive
// offset predictor (stages 1 and 2) and the cascade of NN filters (stage 3).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace ape {

// Arithmetic choices on which decoders of the format disagree.
struct ArithmeticVariant {
    bool wideSums = false;    // stage-2 prediction sums in 64 bits instead of wrapping 32 bits
    bool legacyRound = false;  // NN rounding added in 32 bits (3.99-era encoders)
    bool operator==(const ArithmeticVariant&) const = default;
};

class NNFilter {
public:
    NNFilter(int order, int shift, int version);
    void reset();
    int32_t compress(int32_t input, bool legacyRound);
    int32_t decompress(int32_t input, bool legacyRound);

private:
    int32_t prediction(bool legacyRound) const;
    void adapt(int32_t residual);
    void push(int32_t signal);

    int order_;
    int shift_;
    int version_;
    int32_t average_ = 0;
    // Sliding windows: the live window is [pos_, pos_ + order_), newest last.
    std::vector<int16_t> coefficients_;
    std::vector<int16_t> history_;
    std::vector<int16_t> deltas_;
    size_t pos_ = 0;
};

// The NN filters of one compression level; level 1000 has none.
class NNCascade {
public:
    NNCascade(int level, int version);
    void reset();
    int32_t compress(int32_t value, bool legacyRound);
    int32_t decompress(int32_t value, bool legacyRound);

private:
    std::vector<std::unique_ptr<NNFilter>> filters_;  // in compression order
};

// Stages 1 and 2 for one coded stream with an optional cross input.
class StreamPredictor {
public:
    void reset();
    int32_t compress(int32_t value, int32_t cross, bool wideSums);
    int32_t decompress(int32_t residual, int32_t cross, bool wideSums);

private:
    int32_t predict(int32_t crossFiltered, bool wideSums);
    void adapt(int32_t residual, int32_t stageOne, int32_t crossFiltered);

    int32_t lastValue_ = 0;
    int32_t lastCross_ = 0;
    int32_t a_[4] = {};      // stage-1 values A(t-1)..A(t-4)
    int32_t bf_[4] = {};     // filtered cross input Bf(t-1)..Bf(t-4)
    int32_t inputsA_[4] = {};
    int32_t inputsB_[5] = {};
    int32_t mA_[4] = {};
    int32_t mB_[5] = {};
};

}  // namespace ape

// Compression and decompression of single APE frames (every frame starts
// from a full reset, so frames are coded independently).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "predictor.h"
#include "range_coder.h"

namespace ape {

struct StreamFormat {
    int version = 3990;
    int level = 2000;
    int bitsPerSample = 16;
    int channels = 2;
    int bytesPerBlock() const { return channels * (bitsPerSample / 8); }
};

// Frame flags ("special frames").
constexpr uint32_t kFrameSilentC1 = 1;  // mono: the whole frame is silent
constexpr uint32_t kFrameSilentC0 = 2;
constexpr uint32_t kFramePseudoStereo = 4;
constexpr uint32_t kFrameFlagsFollow = 0x80000000u;

class FrameEncoder {
public:
    explicit FrameEncoder(const StreamFormat& format);
    // Appends the frame for `blocks` blocks of interleaved WAV-layout PCM to `stream`.
    void encode(const uint8_t* pcm, size_t blocks, std::vector<uint8_t>& stream);

private:
    StreamFormat format_;
    bool wideSums_;
    StreamPredictor predictors_[2];
    NNCascade cascades_[2];
    ResidualModel models_[2];
    std::vector<int32_t> c0_, c1_;
};

class FrameDecoder {
public:
    explicit FrameDecoder(const StreamFormat& format);
    // Decodes one frame from its (un-swapped) stream bytes into `pcm`
    // (blocks × bytesPerBlock bytes). Returns 0 or an APE error code.
    int decode(const uint8_t* data, size_t size, size_t blocks, std::vector<uint8_t>& pcm);

private:
    bool decodeResiduals(RangeDecoder& rc, size_t count, int streams);
    void reconstruct(size_t blocks, uint32_t flags, int streams, const ArithmeticVariant& variant,
                     uint8_t* pcm);

    StreamFormat format_;
    std::vector<ArithmeticVariant> variants_;
    StreamPredictor predictors_[2];
    NNCascade cascades_[2];
    ResidualModel models_[2];
    std::vector<int32_t> residuals_;
};

}  // namespace ape

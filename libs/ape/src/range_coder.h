// The range coder of APE frames and the adaptive residual models built on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ape {

class RangeEncoder {
public:
    explicit RangeEncoder(std::vector<uint8_t>& out) : out_(out) {}
    // Frequency-table symbol over a total of 2^16.
    void encodeSymbol(uint32_t width, uint32_t cumulative);
    void encodeRaw(uint32_t value, int bits);  // bits <= 16
    void encodeUniform(uint32_t value, uint32_t total);  // 1 <= total <= 65536
    // Flushes the coder; also needed when nothing was coded.
    void finish();

private:
    void normalise();
    void emitPending(uint8_t head, uint8_t fill);
    std::vector<uint8_t>& out_;
    uint32_t low_ = 0;
    uint32_t range_ = 1u << 31;
    uint8_t cache_ = 0;
    uint64_t pending_ = 0;
};

class RangeDecoder {
public:
    // Starts at data[0] (the encoder's dummy byte). Reads past `size` yield
    // zero bytes and are counted; overrun() reports a frame that was cut short.
    RangeDecoder(const uint8_t* data, size_t size);
    // The symbol of the 3990 overflow model, or -1 on corrupt data.
    int decodeSymbol(const uint16_t* cumulative, const uint16_t* width);
    uint32_t decodeRaw(int bits);
    // Returns false when the coded value is not below `total`.
    bool decodeUniform(uint32_t total, uint32_t& value);
    bool overrun() const { return overrun_ > 8; }
    size_t position() const { return pos_; }

private:
    uint8_t next();
    void normalise();
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    size_t overrun_ = 0;
    uint32_t low_ = 0;
    uint32_t range_ = 0;
    uint32_t buffer_ = 0;
};

// Residual model of version 3990: an adaptive pivot from ksum, an overflow
// symbol and a uniform remainder.
struct ResidualModel {
    uint32_t ksum = 16384;
    uint32_t k = 10;  // adaptive Rice parameter, used only by versions below 3990
    void reset() {
        ksum = 16384;
        k = 10;
    }
};

void encodeResidual(RangeEncoder& rc, ResidualModel& model, int32_t value);
// Returns false on corrupt data.
bool decodeResidual(RangeDecoder& rc, ResidualModel& model, int32_t& value);
// The entropy coder of versions 3900..3989 (adaptive k); decode only.
bool decodeResidualLegacy(RangeDecoder& rc, ResidualModel& model, int32_t& value);

}  // namespace ape

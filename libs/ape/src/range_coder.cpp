#include "range_coder.h"

namespace ape {

namespace {

constexpr uint32_t kTop = 1u << 31;
constexpr uint32_t kBottom = 1u << 23;
constexpr int kSymbols = 64;
constexpr int kEscape = kSymbols - 1;

struct SymbolTable {
    uint16_t cumulative[kSymbols + 1];
    uint16_t width[kSymbols];
};

// Cumulative frequencies of symbols 0..21; from 21 on every width is 1.
constexpr SymbolTable makeTable(const uint16_t (&head)[22]) {
    SymbolTable t{};
    for (int s = 0; s < kSymbols; ++s) t.cumulative[s] = s < 22 ? head[s] : uint16_t(65472 + s);
    for (int s = 0; s < kSymbols; ++s) {
        uint32_t next = s + 1 < kSymbols ? t.cumulative[s + 1] : 65536u;
        t.width[s] = uint16_t(next - t.cumulative[s]);
    }
    t.cumulative[kSymbols] = 0;  // unused; 65536 does not fit
    return t;
}

constexpr uint16_t kHead3990[22] = {0,     19578, 36160, 48417, 56323, 60899, 63265, 64435,
                                    64971, 65232, 65351, 65416, 65447, 65466, 65476, 65482,
                                    65485, 65488, 65490, 65491, 65492, 65493};
constexpr uint16_t kHead3900[22] = {0,     14824, 28224, 39348, 47855, 53994, 58171, 60926,
                                    62682, 63786, 64463, 64878, 65126, 65276, 65365, 65419,
                                    65450, 65469, 65480, 65487, 65491, 65493};
constexpr SymbolTable kTable3990 = makeTable(kHead3990);
constexpr SymbolTable kTable3900 = makeTable(kHead3900);

inline uint32_t toUnsigned(int32_t r) {
    return r > 0 ? uint32_t(r) * 2u - 1u : uint32_t(0) - uint32_t(r) * 2u;
}

inline int32_t toSigned(uint32_t u) {
    return (u & 1) ? int32_t((u >> 1) + 1) : int32_t(0u - (u >> 1));
}

inline void updateKsum(ResidualModel& m, uint32_t u) {
    m.ksum = m.ksum + uint32_t((uint64_t(u) + 1) / 2) - ((m.ksum + 16) >> 5);
}

inline int bitLength(uint32_t v) {
    int n = 0;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

}  // namespace

void RangeEncoder::emitPending(uint8_t head, uint8_t fill) {
    out_.push_back(head);
    for (; pending_; --pending_) out_.push_back(fill);
}

void RangeEncoder::normalise() {
    while (range_ <= kBottom) {
        if (low_ < 0x7F800000u) {
            emitPending(cache_, 0xFF);
            cache_ = uint8_t(low_ >> 23);
        } else if (low_ >= kTop) {
            emitPending(uint8_t(cache_ + 1), 0x00);
            cache_ = uint8_t(low_ >> 23);
        } else {
            ++pending_;
        }
        low_ = (low_ << 8) & 0x7FFFFFFFu;
        range_ <<= 8;
    }
}

void RangeEncoder::encodeSymbol(uint32_t width, uint32_t cumulative) {
    normalise();
    uint32_t r = range_ >> 16;
    range_ = r * width;
    low_ += r * cumulative;
}

void RangeEncoder::encodeRaw(uint32_t value, int bits) {
    normalise();
    range_ >>= bits;
    low_ += range_ * value;
}

void RangeEncoder::encodeUniform(uint32_t value, uint32_t total) {
    normalise();
    uint32_t r = range_ / total;
    range_ = r;
    low_ += r * value;
}

void RangeEncoder::finish() {
    normalise();
    uint32_t t = (low_ >> 23) + 1;
    if (t > 255)
        emitPending(uint8_t(cache_ + 1), 0x00);
    else
        emitPending(cache_, 0xFF);
    out_.push_back(uint8_t(t));
    out_.push_back(0);
    out_.push_back(0);
    out_.push_back(0);
    low_ = 0;
    range_ = kTop;
    cache_ = 0;
}

RangeDecoder::RangeDecoder(const uint8_t* data, size_t size) : data_(data), size_(size) {
    next();  // the encoder's initial cache byte
    buffer_ = next();
    low_ = buffer_ >> 1;
    range_ = 1u << 7;
}

uint8_t RangeDecoder::next() {
    if (pos_ < size_) return data_[pos_++];
    ++overrun_;
    return 0;
}

void RangeDecoder::normalise() {
    while (range_ <= kBottom) {
        buffer_ = (buffer_ << 8) | next();
        low_ = (low_ << 8) | ((buffer_ >> 1) & 0xFF);
        range_ <<= 8;
    }
}

int RangeDecoder::decodeSymbol(const uint16_t* cumulative, const uint16_t* width) {
    normalise();
    uint32_t r = range_ >> 16;
    uint32_t cf = low_ / r;
    if (cf >= 65536) return -1;
    int s;
    if (cf >= 65493) {
        s = int(cf) - 65472;
    } else {
        s = 0;
        while (s + 1 < kSymbols && cumulative[s + 1] <= cf) ++s;
    }
    low_ -= r * cumulative[s];
    range_ = r * width[s];
    return s;
}

uint32_t RangeDecoder::decodeRaw(int bits) {
    normalise();
    uint32_t r = range_ >> bits;
    uint32_t x = low_ / r;
    low_ -= r * x;
    range_ = r;
    return x;
}

bool RangeDecoder::decodeUniform(uint32_t total, uint32_t& value) {
    normalise();
    uint32_t r = range_ / total;
    uint32_t x = low_ / r;
    if (x >= total) return false;
    low_ -= r * x;
    range_ = r;
    value = x;
    return true;
}

void encodeResidual(RangeEncoder& rc, ResidualModel& m, int32_t value) {
    uint32_t u = toUnsigned(value);
    uint32_t pivot = m.ksum >> 5;
    if (pivot == 0) pivot = 1;
    uint32_t overflow = u / pivot;
    uint32_t base = u - overflow * pivot;
    updateKsum(m, u);

    if (overflow < kEscape) {
        rc.encodeSymbol(kTable3990.width[overflow], kTable3990.cumulative[overflow]);
    } else {
        rc.encodeSymbol(1, kTable3990.cumulative[kEscape]);
        rc.encodeRaw((overflow >> 16) & 0xFFFF, 16);
        rc.encodeRaw(overflow & 0xFFFF, 16);
    }
    if (pivot < 65536) {
        rc.encodeUniform(base, pivot);
    } else {
        uint32_t split = 1u << (bitLength(pivot) - 16);
        rc.encodeUniform(base / split, pivot / split + 1);
        rc.encodeUniform(base % split, split);
    }
}

bool decodeResidual(RangeDecoder& rc, ResidualModel& m, int32_t& value) {
    uint32_t pivot = m.ksum >> 5;
    if (pivot == 0) pivot = 1;
    int s = rc.decodeSymbol(kTable3990.cumulative, kTable3990.width);
    if (s < 0) return false;
    uint32_t overflow = uint32_t(s);
    if (s == kEscape) {
        overflow = rc.decodeRaw(16) << 16;
        overflow |= rc.decodeRaw(16);
    }
    uint32_t base;
    if (pivot < 65536) {
        if (!rc.decodeUniform(pivot, base)) return false;
    } else {
        uint32_t split = 1u << (bitLength(pivot) - 16);
        uint32_t hi, lo;
        if (!rc.decodeUniform(pivot / split + 1, hi) || !rc.decodeUniform(split, lo)) return false;
        base = hi * split + lo;
    }
    uint32_t u = base + overflow * pivot;
    updateKsum(m, u);
    value = toSigned(u);
    return !rc.overrun();
}

bool decodeResidualLegacy(RangeDecoder& rc, ResidualModel& m, int32_t& value) {
    int s = rc.decodeSymbol(kTable3900.cumulative, kTable3900.width);
    if (s < 0) return false;
    uint32_t overflow;
    uint32_t kk;
    if (s == kEscape) {
        kk = rc.decodeRaw(5);
        overflow = 0;
    } else {
        kk = m.k > 0 ? m.k - 1 : 0;
        overflow = uint32_t(s);
    }
    uint32_t x;
    if (kk <= 16) {
        x = rc.decodeRaw(int(kk));
    } else if (kk <= 31) {
        x = rc.decodeRaw(16);
        x |= rc.decodeRaw(int(kk - 16)) << 16;
    } else {
        return false;
    }
    uint32_t u = x + (overflow << kk);
    updateKsum(m, u);
    uint32_t lower = m.k ? (1u << (m.k + 4)) : 0;
    if (m.ksum < lower)
        --m.k;
    else if (m.k < 24 && m.ksum >= (1u << (m.k + 5)))
        ++m.k;
    value = toSigned(u);
    return !rc.overrun();
}

}  // namespace ape

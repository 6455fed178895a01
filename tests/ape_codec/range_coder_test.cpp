// The range coder and residual model must invert exactly, including carries
// into bytes already waiting to be written and long runs of 0xFF bytes.
#include <random>

#include <gtest/gtest.h>

#include "range_coder.h"

namespace {

// Extreme values (all-ones raw fields, the top slot of a uniform range)
// force carries through pending 0xFF bytes.
TEST(RangeCoder, RawAndUniformRoundTrip) {
    std::mt19937 rng(99);
    for (int round = 0; round < 50; ++round) {
        std::vector<std::pair<int, uint32_t>> values;  // (bits or -total, value)
        for (int i = 0; i < 5000; ++i) {
            if (rng() % 2) {
                int bits = 1 + int(rng() % 16);
                uint32_t v = (round % 4 == 0) ? (1u << bits) - 1 : rng() & ((1u << bits) - 1);
                values.push_back({bits, v});
            } else {
                uint32_t total = 1 + rng() % 65536;
                uint32_t v = (round % 4 == 1) ? total - 1 : rng() % total;
                values.push_back({-int(total), v});
            }
        }
        std::vector<uint8_t> bytes;
        ape::RangeEncoder enc(bytes);
        for (auto [k, v] : values) {
            if (k > 0) enc.encodeRaw(v, k);
            else enc.encodeUniform(v, uint32_t(-k));
        }
        enc.finish();
        ape::RangeDecoder dec(bytes.data(), bytes.size());
        for (size_t i = 0; i < values.size(); ++i) {
            auto [k, v] = values[i];
            uint32_t got = 0;
            if (k > 0) got = dec.decodeRaw(k);
            else ASSERT_TRUE(dec.decodeUniform(uint32_t(-k), got));
            ASSERT_EQ(got, v) << "round " << round << " value " << i;
        }
        EXPECT_FALSE(dec.overrun());
    }
}

TEST(RangeCoder, ResidualsRoundTripAcrossMagnitudes) {
    std::mt19937 rng(5);
    std::vector<int32_t> values;
    // Small values, bursts that drive ksum up, the escape path and extremes.
    for (int i = 0; i < 20000; ++i) values.push_back(int32_t(rng() % 21) - 10);
    for (int i = 0; i < 5000; ++i) values.push_back(int32_t(rng()) >> (rng() % 31));
    for (int i = 0; i < 200; ++i) values.push_back(0);
    values.push_back(0x7FFFFFFF);
    values.push_back(-0x7FFFFFFF);
    for (int i = 0; i < 2000; ++i) values.push_back(int32_t(rng() % 2001) - 1000);

    std::vector<uint8_t> bytes;
    ape::RangeEncoder enc(bytes);
    ape::ResidualModel a, b;
    for (size_t i = 0; i < values.size(); ++i) ape::encodeResidual(enc, (i & 1) ? b : a, values[i]);
    enc.finish();

    ape::RangeDecoder dec(bytes.data(), bytes.size());
    ape::ResidualModel da, db;
    for (size_t i = 0; i < values.size(); ++i) {
        int32_t got = 0;
        ASSERT_TRUE(ape::decodeResidual(dec, (i & 1) ? db : da, got)) << i;
        ASSERT_EQ(got, values[i]) << i;
    }
    EXPECT_EQ(da.ksum, a.ksum);
    EXPECT_EQ(db.ksum, b.ksum);
}

TEST(RangeCoder, TruncatedInputIsReportedNotOverread) {
    std::vector<uint8_t> bytes;
    ape::RangeEncoder enc(bytes);
    ape::ResidualModel m;
    for (int i = 0; i < 4000; ++i) ape::encodeResidual(enc, m, (i * 7919) % 30001 - 15000);
    enc.finish();
    bytes.resize(bytes.size() / 2);
    ape::RangeDecoder dec(bytes.data(), bytes.size());
    ape::ResidualModel dm;
    bool failed = false;
    for (int i = 0; i < 4000 && !failed; ++i) {
        int32_t v;
        failed = !ape::decodeResidual(dec, dm, v);
    }
    EXPECT_TRUE(failed);
}

}  // namespace

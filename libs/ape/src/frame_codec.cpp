#include "frame_codec.h"

#include <algorithm>
#include <cstring>

#include "apecodec.h"
#include "checksums.h"

namespace ape {

namespace {

inline int32_t readSample(const uint8_t* p, int bits) {
    switch (bits) {
    case 8: return int32_t(p[0]) - 128;
    case 16: return int16_t(uint16_t(p[0] | p[1] << 8));
    default: return int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
    }
}

// Only the low bits are kept: some encoders feed samples outside the
// signed range (e.g. 16-bit mono read as unsigned) and rely on that.
inline void writeSample(uint8_t* p, int bits, int32_t v) {
    switch (bits) {
    case 8: p[0] = uint8_t(v + 128); break;
    case 16:
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        break;
    default:
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        break;
    }
}

inline void putBigEndian(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

inline uint32_t getBigEndian(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Mid/side: S = c1 - c0, M = c0 + S/2 (division truncating toward zero).
inline int32_t halfSide(int32_t side) { return side / 2; }

}  // namespace

FrameEncoder::FrameEncoder(const StreamFormat& format)
    : format_(format),
      // 24-bit stereo at the top level is the one case where the platform's
      // decoder sums the stage-2 prediction in 64 bits.
      wideSums_(format.bitsPerSample == 24 && format.channels == 2 && format.level == 5000),
      cascades_{NNCascade(format.level, format.version), NNCascade(format.level, format.version)} {}

void FrameEncoder::encode(const uint8_t* pcm, size_t blocks, std::vector<uint8_t>& stream) {
    const int bits = format_.bitsPerSample;
    const int sampleBytes = bits / 8;
    const size_t frameBytes = blocks * format_.bytesPerBlock();
    uint32_t crc = crc32_final(crc32_update(crc32_init(), pcm, frameBytes));

    c0_.resize(blocks);
    c1_.resize(format_.channels == 2 ? blocks : 0);
    bool c0Silent = true, c1Silent = true, same = true;
    for (size_t i = 0; i < blocks; ++i) {
        const uint8_t* p = pcm + i * format_.bytesPerBlock();
        c0_[i] = readSample(p, bits);
        c0Silent = c0Silent && c0_[i] == 0;
        if (format_.channels == 2) {
            c1_[i] = readSample(p + sampleBytes, bits);
            c1Silent = c1Silent && c1_[i] == 0;
            same = same && c0_[i] == c1_[i];
        }
    }

    // Flags only for 16-bit audio, and never for one silent channel alone,
    // which older decoders took for a wholly silent frame.
    uint32_t flags = 0;
    if (bits == 16) {
        if (format_.channels == 1 && c0Silent)
            flags = kFrameSilentC1;
        else if (format_.channels == 2 && c0Silent && c1Silent)
            flags = kFrameSilentC1 | kFrameSilentC0 | kFramePseudoStereo;
        else if (format_.channels == 2 && same)
            flags = kFramePseudoStereo;
    }
    putBigEndian(stream, (crc >> 1) | (flags ? kFrameFlagsFollow : 0));
    if (flags) putBigEndian(stream, flags);

    for (int s = 0; s < 2; ++s) {
        predictors_[s].reset();
        cascades_[s].reset();
        models_[s].reset();
    }
    RangeEncoder rc(stream);
    const bool silent = (format_.channels == 1 && (flags & kFrameSilentC1)) ||
                        (format_.channels == 2 && (flags & 3) == 3);
    if (!silent) {
        if (format_.channels == 1 || (flags & kFramePseudoStereo)) {
            for (size_t i = 0; i < blocks; ++i) {
                int32_t e = predictors_[0].compress(c0_[i], 0, wideSums_);
                encodeResidual(rc, models_[0], cascades_[0].compress(e, false));
            }
        } else {
            int32_t previousMid = 0;
            for (size_t i = 0; i < blocks; ++i) {
                int32_t side = int32_t(uint32_t(c1_[i]) - uint32_t(c0_[i]));
                int32_t mid = int32_t(uint32_t(c0_[i]) + uint32_t(halfSide(side)));
                int32_t eS = predictors_[0].compress(side, previousMid, wideSums_);
                int32_t eM = predictors_[1].compress(mid, side, wideSums_);
                encodeResidual(rc, models_[0], cascades_[0].compress(eS, false));
                encodeResidual(rc, models_[1], cascades_[1].compress(eM, false));
                previousMid = mid;
            }
        }
    }
    rc.finish();
}

FrameDecoder::FrameDecoder(const StreamFormat& format)
    : format_(format),
      cascades_{NNCascade(format.level, format.version), NNCascade(format.level, format.version)} {
    // Frames carry a CRC, so each frame is tried with the arithmetic of the
    // known encoders in turn: ours first (FFmpeg-compatible), then current
    // SDK 24-bit files, then 3.99-era files, then 32-bit sums throughout.
    // For 8/16-bit audio the sum width makes no difference.
    const bool ours = format.bitsPerSample == 24 && format.channels == 2 && format.level == 5000;
    std::vector<ArithmeticVariant> all = {{ours, false}, {true, false}, {false, true}, {false, false}};
    for (const ArithmeticVariant& v : all) {
        if (format.bitsPerSample < 24 && v.wideSums) continue;
        if (std::find(variants_.begin(), variants_.end(), v) == variants_.end()) variants_.push_back(v);
    }
}

bool FrameDecoder::decodeResiduals(RangeDecoder& rc, size_t count, int streams) {
    residuals_.resize(count);
    for (int s = 0; s < 2; ++s) models_[s].reset();
    const bool legacyEntropy = format_.version < 3990;
    for (size_t i = 0; i < count; ++i) {
        ResidualModel& m = models_[streams == 2 ? (i & 1) : 0];
        bool ok = legacyEntropy ? decodeResidualLegacy(rc, m, residuals_[i]) : decodeResidual(rc, m, residuals_[i]);
        if (!ok) return false;
    }
    return true;
}

void FrameDecoder::reconstruct(size_t blocks, uint32_t flags, int streams, const ArithmeticVariant& v,
                               uint8_t* pcm) {
    const int bits = format_.bitsPerSample;
    const int sampleBytes = bits / 8;
    const int blockBytes = format_.bytesPerBlock();
    for (int s = 0; s < 2; ++s) {
        predictors_[s].reset();
        cascades_[s].reset();
    }
    if (streams == 0) {
        for (size_t i = 0; i < blocks; ++i)
            for (int c = 0; c < format_.channels; ++c) writeSample(pcm + i * blockBytes + c * sampleBytes, bits, 0);
        return;
    }
    if (streams == 1) {
        for (size_t i = 0; i < blocks; ++i) {
            int32_t e = cascades_[0].decompress(residuals_[i], v.legacyRound);
            int32_t x = predictors_[0].decompress(e, 0, v.wideSums);
            for (int c = 0; c < format_.channels; ++c) writeSample(pcm + i * blockBytes + c * sampleBytes, bits, x);
        }
        return;
    }
    int32_t previousMid = 0;
    for (size_t i = 0; i < blocks; ++i) {
        int32_t eS = cascades_[0].decompress(residuals_[2 * i], v.legacyRound);
        int32_t side = predictors_[0].decompress(eS, previousMid, v.wideSums);
        int32_t eM = cascades_[1].decompress(residuals_[2 * i + 1], v.legacyRound);
        int32_t mid = predictors_[1].decompress(eM, side, v.wideSums);
        previousMid = mid;
        int32_t c0 = int32_t(uint32_t(mid) - uint32_t(halfSide(side)));
        int32_t c1 = int32_t(uint32_t(c0) + uint32_t(side));
        writeSample(pcm + i * blockBytes, bits, c0);
        writeSample(pcm + i * blockBytes + sampleBytes, bits, c1);
    }
    (void)flags;
}

int FrameDecoder::decode(const uint8_t* data, size_t size, size_t blocks, std::vector<uint8_t>& pcm) {
    if (size < 4) return APE_ERROR_DECOMPRESSING_FRAME;
    uint32_t storedCrc = getBigEndian(data);
    size_t offset = 4;
    uint32_t flags = 0;
    if ((storedCrc & kFrameFlagsFollow) && format_.version > 3820) {
        if (size < 8) return APE_ERROR_DECOMPRESSING_FRAME;
        flags = getBigEndian(data + 4);
        offset = 8;
    }
    int streams;
    if (format_.channels == 1)
        streams = (flags & kFrameSilentC1) ? 0 : 1;
    else if ((flags & 3) == 3)
        streams = 0;
    else
        streams = (flags & kFramePseudoStereo) ? 1 : 2;

    // Every coded value takes more than 1.7 bits, so a frame claiming more
    // values than its bytes can hold is corrupt; refusing it early also caps
    // the memory a hostile header can make us allocate.
    const size_t coded = size - offset;
    const size_t values = blocks * size_t(streams);
    if (values > coded * 5 + 16) return APE_ERROR_DECOMPRESSING_FRAME;

    RangeDecoder rc(data + offset, coded);
    if (streams && !decodeResiduals(rc, values, streams)) return APE_ERROR_DECOMPRESSING_FRAME;

    pcm.resize(blocks * format_.bytesPerBlock());
    for (const ArithmeticVariant& v : variants_) {
        reconstruct(blocks, flags, streams, v, pcm.data());
        uint32_t crc = crc32_final(crc32_update(crc32_init(), pcm.data(), pcm.size()));
        if ((crc >> 1) == (storedCrc & 0x7FFFFFFFu)) return APE_ERROR_SUCCESS;
        if (streams == 0) break;
    }
    return APE_ERROR_INVALID_CHECKSUM;
}

}  // namespace ape

#include "old_version_writer.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "checksums.h"
#include "file_header.h"
#include "file_io.h"
#include "frame_codec.h"
#include "predictor.h"
#include "range_coder.h"

namespace apetest {

namespace {

constexpr int kEscape = 63;

// Cumulative frequencies of the overflow symbol in versions 3900..3989,
// typed here rather than taken from the library so that a wrong table there
// shows up as a disagreement with FFmpeg.
constexpr uint16_t kCumulativeHead[22] = {0,     14824, 28224, 39348, 47855, 53994, 58171, 60926,
                                          62682, 63786, 64463, 64878, 65126, 65276, 65365, 65419,
                                          65450, 65469, 65480, 65487, 65491, 65493};

uint32_t cumulative(int s) { return s < 22 ? kCumulativeHead[s] : uint32_t(65472 + s); }
uint32_t width(int s) { return (s + 1 < 64 ? cumulative(s + 1) : 65536u) - cumulative(s); }

int bitLength(uint32_t v) {
    int n = 0;
    for (; v; v >>= 1) ++n;
    return n;
}

// Fields wider than 16 bits go low half first.
void encodeBits(ape::RangeEncoder& rc, uint32_t value, int bits) {
    if (bits <= 16) {
        rc.encodeRaw(value, bits);
    } else {
        rc.encodeRaw(value & 0xFFFF, 16);
        rc.encodeRaw(value >> 16, bits - 16);
    }
}

// The adaptive Rice-like coder: the value's top part (above k - 1 bits) as a
// symbol, the rest raw; a top part too large for the table escapes to an
// explicit bit count.
struct AdaptiveK {
    uint32_t k = 10;
    uint32_t ksum = 16384;

    void encode(ape::RangeEncoder& rc, int32_t r) {
        const uint32_t u = r > 0 ? uint32_t(r) * 2u - 1u : uint32_t(0) - uint32_t(r) * 2u;
        const int kk = k > 0 ? int(k) - 1 : 0;
        const uint32_t overflow = u >> kk;
        if (overflow < kEscape) {
            rc.encodeSymbol(width(int(overflow)), cumulative(int(overflow)));
            encodeBits(rc, u & ((1u << kk) - 1), kk);
        } else {
            const int bits = bitLength(u);
            if (bits > 31) throw std::invalid_argument("residual too large for the 3900-family coder");
            rc.encodeSymbol(width(kEscape), cumulative(kEscape));
            rc.encodeRaw(uint32_t(bits), 5);
            encodeBits(rc, u, bits);
        }
        ksum = ksum + uint32_t((uint64_t(u) + 1) / 2) - ((ksum + 16) >> 5);
        if (ksum < (k > 0 ? 1u << (k + 4) : 0u))
            --k;
        else if (k < 24 && ksum >= 1u << (k + 5))
            ++k;
    }
};

int32_t readSample(const uint8_t* p, int bits) {
    switch (bits) {
    case 8: return int32_t(p[0]) - 128;
    case 16: return int16_t(uint16_t(p[0] | p[1] << 8));
    default: return int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
    }
}

void putBigEndian(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

void append16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void append32(std::vector<uint8_t>& out, uint32_t v) {
    append16(out, v & 0xFFFF);
    append16(out, v >> 16);
}

std::vector<uint8_t> canonicalWavHeader(const Pcm& pcm) {
    const uint32_t align = uint32_t(pcm.channels * (pcm.bits / 8));
    const uint32_t data = uint32_t(pcm.bytes.size());
    std::vector<uint8_t> h = {'R', 'I', 'F', 'F'};
    append32(h, 36 + data);
    for (char c : std::string("WAVEfmt ")) h.push_back(uint8_t(c));
    append32(h, 16);
    append16(h, 1);
    append16(h, uint32_t(pcm.channels));
    append32(h, uint32_t(pcm.sampleRate));
    append32(h, uint32_t(pcm.sampleRate) * align);
    append16(h, align);
    append16(h, uint32_t(pcm.bits));
    for (char c : std::string("data")) h.push_back(uint8_t(c));
    append32(h, data);
    return h;
}

class OldFrameEncoder {
public:
    OldFrameEncoder(const Pcm& pcm, const OldVersionOptions& o)
        : bits_(pcm.bits), channels_(pcm.channels), wideSums_(o.wideSums), legacyRound_(o.legacyRound),
          cascades_{ape::NNCascade(o.level, o.version), ape::NNCascade(o.level, o.version)} {}

    void encode(const uint8_t* pcm, size_t blocks, std::vector<uint8_t>& stream) {
        const int sampleBytes = bits_ / 8;
        const size_t blockBytes = size_t(channels_ * sampleBytes);
        const uint32_t crc = ape::crc32_final(ape::crc32_update(ape::crc32_init(), pcm, blocks * blockBytes));
        std::vector<int32_t> c0(blocks), c1(channels_ == 2 ? blocks : 0);
        bool c0Silent = true, c1Silent = true, same = true;
        for (size_t i = 0; i < blocks; ++i) {
            c0[i] = readSample(pcm + i * blockBytes, bits_);
            c0Silent = c0Silent && c0[i] == 0;
            if (channels_ == 2) {
                c1[i] = readSample(pcm + i * blockBytes + sampleBytes, bits_);
                c1Silent = c1Silent && c1[i] == 0;
                same = same && c0[i] == c1[i];
            }
        }
        // Special frames, for 16-bit audio only; one silent channel alone is
        // coded as a normal frame.
        uint32_t flags = 0;
        if (bits_ == 16) {
            if (channels_ == 1 && c0Silent)
                flags = ape::kFrameSilentC1;
            else if (channels_ == 2 && c0Silent && c1Silent)
                flags = ape::kFrameSilentC1 | ape::kFrameSilentC0 | ape::kFramePseudoStereo;
            else if (channels_ == 2 && same)
                flags = ape::kFramePseudoStereo;
        }
        putBigEndian(stream, (crc >> 1) | (flags ? ape::kFrameFlagsFollow : 0));
        if (flags) putBigEndian(stream, flags);

        for (int s = 0; s < 2; ++s) {
            predictors_[s].reset();
            cascades_[s].reset();
            models_[s] = AdaptiveK();
        }
        ape::RangeEncoder rc(stream);
        const bool silent = channels_ == 1 ? flags != 0 : (flags & 3) == 3;
        if (!silent && (channels_ == 1 || (flags & ape::kFramePseudoStereo))) {
            for (size_t i = 0; i < blocks; ++i) {
                const int32_t e = predictors_[0].compress(c0[i], 0, wideSums_);
                models_[0].encode(rc, cascades_[0].compress(e, legacyRound_));
            }
        } else if (!silent) {
            int32_t previousMid = 0;
            for (size_t i = 0; i < blocks; ++i) {
                const int32_t side = int32_t(uint32_t(c1[i]) - uint32_t(c0[i]));
                const int32_t mid = int32_t(uint32_t(c0[i]) + uint32_t(side / 2));
                const int32_t eS = predictors_[0].compress(side, previousMid, wideSums_);
                const int32_t eM = predictors_[1].compress(mid, side, wideSums_);
                models_[0].encode(rc, cascades_[0].compress(eS, legacyRound_));
                models_[1].encode(rc, cascades_[1].compress(eM, legacyRound_));
                previousMid = mid;
            }
        }
        rc.finish();
    }

private:
    int bits_;
    int channels_;
    bool wideSums_;
    bool legacyRound_;
    ape::StreamPredictor predictors_[2];
    ape::NNCascade cascades_[2];
    AdaptiveK models_[2];
};

}  // namespace

std::vector<uint8_t> writeOldVersionApe(const Pcm& pcm, const OldVersionOptions& o) {
    if (o.version < 3950 || o.version >= 3990) throw std::invalid_argument("version outside 3950..3989");
    const size_t blockBytes = size_t(pcm.channels * (pcm.bits / 8));
    const size_t totalBlocks = pcm.bytes.size() / blockBytes;
    const bool descriptor = o.version >= 3980;
    const uint32_t blocksPerFrame = descriptor ? o.blocksPerFrame : 73728 * 4;
    if (totalBlocks == 0 || blocksPerFrame == 0) throw std::invalid_argument("nothing to write");

    // The frame stream, with each frame's position in it.
    OldFrameEncoder encoder(pcm, o);
    std::vector<uint8_t> stream;
    std::vector<uint32_t> positions;
    for (size_t first = 0; first < totalBlocks; first += blocksPerFrame) {
        positions.push_back(uint32_t(stream.size()));
        size_t blocks = std::min<size_t>(blocksPerFrame, totalBlocks - first);
        encoder.encode(pcm.bytes.data() + first * blockBytes, blocks, stream);
    }
    stream.resize((stream.size() / 4 + 1) * 4, 0);
    ape::swapWords(stream.data(), stream.size());
    const uint32_t totalFrames = uint32_t(positions.size());
    const uint32_t finalFrameBlocks = uint32_t(totalBlocks - size_t(totalFrames - 1) * blocksPerFrame);
    const std::vector<uint8_t> wavHeader = o.storeWavHeader ? canonicalWavHeader(pcm) : std::vector<uint8_t>();
    std::vector<uint8_t> wavTrailer(o.wavTrailerBytes);
    for (size_t i = 0; i < wavTrailer.size(); ++i) wavTrailer[i] = uint8_t('a' + i % 26);

    std::vector<uint8_t> file = {'M', 'A', 'C', ' '};
    append16(file, uint32_t(o.version));
    std::vector<uint8_t> seekTable;
    if (descriptor) {
        const uint32_t f0 = ape::kDescriptorBytes + ape::kHeaderBytes + totalFrames * 4 + uint32_t(wavHeader.size());
        for (uint32_t p : positions) append32(seekTable, f0 + p);
        std::vector<uint8_t> header;
        append16(header, uint32_t(o.level));
        append16(header, o.storeWavHeader ? 0 : ape::kFlagCreateWavHeader);
        append32(header, blocksPerFrame);
        append32(header, finalFrameBlocks);
        append32(header, totalFrames);
        append16(header, uint32_t(pcm.bits));
        append16(header, uint32_t(pcm.channels));
        append32(header, uint32_t(pcm.sampleRate));

        ape::Md5 md5;
        md5.update(wavHeader.data(), wavHeader.size());
        md5.update(stream.data(), stream.size());
        md5.update(wavTrailer.data(), wavTrailer.size());
        md5.update(header.data(), header.size());
        md5.update(seekTable.data(), seekTable.size());
        uint8_t digest[16];
        md5.finish(digest);

        append16(file, 0);
        append32(file, ape::kDescriptorBytes);
        append32(file, ape::kHeaderBytes);
        append32(file, uint32_t(seekTable.size()));
        append32(file, uint32_t(wavHeader.size()));
        append32(file, uint32_t(stream.size()));
        append32(file, 0);
        append32(file, uint32_t(wavTrailer.size()));
        file.insert(file.end(), digest, digest + 16);
        file.insert(file.end(), header.begin(), header.end());
        file.insert(file.end(), seekTable.begin(), seekTable.end());
        file.insert(file.end(), wavHeader.begin(), wavHeader.end());
    } else {
        constexpr uint16_t kFlagNewCrc = 2;
        const uint32_t seekEntries = totalFrames + o.spareSeekEntries;
        uint16_t flags = kFlagNewCrc;
        if (!o.storeWavHeader) flags |= ape::kFlagCreateWavHeader;
        if (pcm.bits == 8) flags |= ape::kFlagLegacy8Bit;
        if (pcm.bits == 24) flags |= ape::kFlagLegacy24Bit;
        if (o.peakLevel) flags |= ape::kFlagLegacyPeakLevel;
        if (o.spareSeekEntries) flags |= ape::kFlagLegacySeekElements;
        append16(file, uint32_t(o.level));
        append16(file, flags);
        append16(file, uint32_t(pcm.channels));
        append32(file, uint32_t(pcm.sampleRate));
        append32(file, uint32_t(wavHeader.size()));
        append32(file, uint32_t(wavTrailer.size()));
        append32(file, totalFrames);
        append32(file, finalFrameBlocks);
        if (o.peakLevel) append32(file, 0x7FFF);
        if (o.spareSeekEntries) append32(file, seekEntries);
        // Old files keep the WAV header before the seek table.
        file.insert(file.end(), wavHeader.begin(), wavHeader.end());
        const uint32_t f0 = uint32_t(file.size()) + seekEntries * 4;
        for (uint32_t p : positions) append32(file, f0 + p);
        for (uint32_t i = 0; i < o.spareSeekEntries; ++i) append32(file, 0);
    }
    file.insert(file.end(), stream.begin(), stream.end());
    file.insert(file.end(), wavTrailer.begin(), wavTrailer.end());
    return file;
}

}  // namespace apetest

#include "file_header.h"

#include <algorithm>
#include <cstring>

#include "apecodec.h"
#include "tags.h"

namespace ape {

namespace {

constexpr uint32_t kBlocksPerFrameBase = 73728;
constexpr uint64_t kMaxJunkScan = 1u << 20;

// Length of an ID3v2 tag at the start of the file (0 when there is none).
uint64_t leadingJunk(const File& file, uint64_t fileSize) {
    uint8_t h[10];
    if (fileSize < 10 || !file.readAt(0, h, 10) || std::memcmp(h, "ID3", 3) != 0) return 0;
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return 0;
    uint64_t size = 10 + (uint64_t(h[6]) << 21 | uint64_t(h[7]) << 14 | uint64_t(h[8]) << 7 | h[9]);
    if (h[5] & 0x10) size += 10;
    // Some writers pad after a tag without saying so: look for the magic.
    uint8_t window[4096];
    for (uint64_t pos = size; pos < fileSize && pos < size + kMaxJunkScan;) {
        size_t n = size_t(std::min<uint64_t>(sizeof window, fileSize - pos));
        if (n < 4 || !file.readAt(pos, window, n)) break;
        for (size_t i = 0; i + 4 <= n; ++i)
            if (std::memcmp(window + i, "MAC ", 4) == 0) return pos + i;
        pos += n - 3;
    }
    return size;
}

}  // namespace

uint32_t blocksPerFrameForLevel(int level) {
    switch (level) {
    case 4000: return kBlocksPerFrameBase * 4;
    case 5000: return kBlocksPerFrameBase * 16;
    default: return kBlocksPerFrameBase;
    }
}

void swapWords(uint8_t* data, size_t size) {
    for (size_t i = 0; i + 4 <= size; i += 4) {
        std::swap(data[i], data[i + 3]);
        std::swap(data[i + 1], data[i + 2]);
    }
}

int readFileInfo(const File& file, FileInfo& info) {
    info = FileInfo();
    if (!file.size(info.fileSize)) return APE_ERROR_IO_READ;
    const uint64_t junk = leadingJunk(file, info.fileSize);
    uint8_t d[52];
    if (junk + 32 > info.fileSize || !file.readAt(junk, d, 32)) return APE_ERROR_INVALID_INPUT_FILE;
    if (std::memcmp(d, "MAC ", 4) != 0) return APE_ERROR_INVALID_INPUT_FILE;
    const int version = getLE16(d + 4);
    if (version < kOldestVersionRead || version > kVersionWritten) return APE_ERROR_UNSUPPORTED_FILE_TYPE;

    int level, bits, channels;
    uint64_t seekTableAt, seekEntries, frameDataBytes = 0;
    bool frameDataBytesKnown = false;
    if (version >= 3980) {
        if (junk + 52 > info.fileSize || !file.readAt(junk, d, 52)) return APE_ERROR_INVALID_INPUT_FILE;
        uint32_t descriptorBytes = getLE32(d + 8);
        uint32_t headerBytes = getLE32(d + 12);
        uint32_t seekTableBytes = getLE32(d + 16);
        info.headerDataBytes = getLE32(d + 20);
        frameDataBytes = uint64_t(getLE32(d + 24)) | uint64_t(getLE32(d + 28)) << 32;
        frameDataBytesKnown = true;
        info.terminatingDataBytes = getLE32(d + 32);
        if (descriptorBytes < 52 || headerBytes < 24) return APE_ERROR_INVALID_INPUT_FILE;
        uint8_t h[24];
        uint64_t headerAt = junk + descriptorBytes;
        if (headerAt + 24 > info.fileSize || !file.readAt(headerAt, h, 24)) return APE_ERROR_INVALID_INPUT_FILE;
        level = getLE16(h);
        info.formatFlags = getLE16(h + 2);
        info.blocksPerFrame = getLE32(h + 4);
        info.finalFrameBlocks = getLE32(h + 8);
        info.totalFrames = getLE32(h + 12);
        bits = getLE16(h + 16);
        channels = getLE16(h + 18);
        info.sampleRate = getLE32(h + 20);
        seekTableAt = headerAt + headerBytes;
        seekEntries = seekTableBytes / 4;
        info.firstFrame = seekTableAt + seekTableBytes + info.headerDataBytes;
    } else {
        // The 32-byte header of versions before 3980.
        level = getLE16(d + 6);
        info.formatFlags = getLE16(d + 8);
        channels = getLE16(d + 10);
        info.sampleRate = getLE32(d + 12);
        info.headerDataBytes = getLE32(d + 16);
        info.terminatingDataBytes = getLE32(d + 20);
        info.totalFrames = getLE32(d + 24);
        info.finalFrameBlocks = getLE32(d + 28);
        uint64_t pos = junk + 32;
        if (info.formatFlags & kFlagLegacyPeakLevel) pos += 4;
        seekEntries = info.totalFrames;
        if (info.formatFlags & kFlagLegacySeekElements) {
            uint8_t n[4];
            if (pos + 4 > info.fileSize || !file.readAt(pos, n, 4)) return APE_ERROR_INVALID_INPUT_FILE;
            seekEntries = getLE32(n);
            pos += 4;
        }
        if (info.formatFlags & kFlagCreateWavHeader) info.headerDataBytes = 0;
        seekTableAt = pos + info.headerDataBytes;
        bits = (info.formatFlags & kFlagLegacy8Bit) ? 8 : (info.formatFlags & kFlagLegacy24Bit) ? 24 : 16;
        info.blocksPerFrame = kBlocksPerFrameBase * 4;  // every release from 3.95 on
        info.firstFrame = 0;                            // taken from the seek table below
    }

    if (channels > 2) return APE_ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT;
    if (channels < 1) return APE_ERROR_INVALID_INPUT_FILE;
    if (bits == 32) return APE_ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH;
    if (bits != 8 && bits != 16 && bits != 24) return APE_ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH;
    if (level % 1000 != 0 || level < 1000 || level > 5000) return APE_ERROR_INVALID_INPUT_FILE;
    const uint32_t maxBlocksPerFrame = level >= 5000 ? 10000000 : 1000000;
    if (info.totalFrames < 1 || info.blocksPerFrame < 1 || info.blocksPerFrame > maxBlocksPerFrame ||
        info.finalFrameBlocks < 1 || info.finalFrameBlocks > info.blocksPerFrame || info.sampleRate == 0)
        return APE_ERROR_INVALID_INPUT_FILE;
    if (seekEntries < info.totalFrames) return APE_ERROR_INVALID_INPUT_FILE;
    if (seekTableAt + uint64_t(info.totalFrames) * 4 > info.fileSize) return APE_ERROR_INVALID_INPUT_FILE;

    info.format.version = version;
    info.format.level = level;
    info.format.bitsPerSample = bits;
    info.format.channels = channels;

    std::vector<uint8_t> table(size_t(info.totalFrames) * 4);
    if (!file.readAt(seekTableAt, table.data(), table.size())) return APE_ERROR_IO_READ;
    info.frameStarts.resize(info.totalFrames);
    for (uint32_t i = 0; i < info.totalFrames; ++i) info.frameStarts[i] = junk + getLE32(&table[size_t(i) * 4]);
    if (version < 3980) info.firstFrame = info.frameStarts[0];

    TrailingTags tags;
    if (!readTrailingTags(file, info.fileSize, tags)) return APE_ERROR_IO_READ;
    uint64_t contentEnd = tags.contentEnd;
    if (frameDataBytesKnown) {
        info.frameDataEnd = std::min(contentEnd, info.firstFrame + frameDataBytes);
    } else {
        if (info.terminatingDataBytes > contentEnd) return APE_ERROR_INVALID_INPUT_FILE;
        info.frameDataEnd = contentEnd - info.terminatingDataBytes;
    }
    // Frames lie in order inside the frame data; anything else is damage.
    uint64_t previous = info.firstFrame;
    for (uint64_t start : info.frameStarts) {
        if (start < previous || start >= info.frameDataEnd) return APE_ERROR_INVALID_INPUT_FILE;
        previous = start;
    }
    return APE_ERROR_SUCCESS;
}

int readFrameBytes(const File& file, const FileInfo& info, uint32_t frame, std::vector<uint8_t>& bytes) {
    const uint64_t start = info.frameStarts[frame];
    const uint64_t skip = (start - info.firstFrame) % 4;
    const uint64_t wordStart = start - skip;
    uint64_t end = frame + 1 < info.totalFrames ? info.frameStarts[frame + 1] : info.frameDataEnd;
    // Whole words: the frame's last word also holds the next frame's first bytes.
    end = std::min(info.firstFrame + (end - info.firstFrame + 3) / 4 * 4, info.fileSize);
    const size_t length = size_t(end - wordStart);
    bytes.assign((length + 3) / 4 * 4, 0);
    if (!file.readAt(wordStart, bytes.data(), length)) return APE_ERROR_IO_READ;
    swapWords(bytes.data(), bytes.size());
    bytes.erase(bytes.begin(), bytes.begin() + ptrdiff_t(skip));
    return APE_ERROR_SUCCESS;
}

}  // namespace ape

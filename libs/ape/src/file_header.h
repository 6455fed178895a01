// The layout of an APE file: descriptor, header, seek table and where each
// frame's bytes lie.
#pragma once

#include <cstdint>
#include <vector>

#include "file_io.h"
#include "frame_codec.h"

namespace ape {

constexpr int kVersionWritten = 3990;
constexpr int kOldestVersionRead = 3950;
constexpr uint32_t kDescriptorBytes = 52;
constexpr uint32_t kHeaderBytes = 24;
constexpr uint16_t kFlagCreateWavHeader = 32;
constexpr uint16_t kFlagLegacy8Bit = 1;
constexpr uint16_t kFlagLegacyPeakLevel = 4;
constexpr uint16_t kFlagLegacy24Bit = 8;
constexpr uint16_t kFlagLegacySeekElements = 16;

uint32_t blocksPerFrameForLevel(int level);

struct FileInfo {
    StreamFormat format;
    uint16_t formatFlags = 0;
    uint32_t sampleRate = 0;
    uint32_t blocksPerFrame = 0;
    uint32_t finalFrameBlocks = 0;
    uint32_t totalFrames = 0;
    uint32_t headerDataBytes = 0;
    uint32_t terminatingDataBytes = 0;
    uint64_t fileSize = 0;
    uint64_t firstFrame = 0;    // absolute offset of frame 0 (F0 + junk)
    uint64_t frameDataEnd = 0;  // absolute end of the frame data
    std::vector<uint64_t> frameStarts;  // absolute offsets, one per frame
    uint64_t totalBlocks() const {
        return totalFrames ? uint64_t(totalFrames - 1) * blocksPerFrame + finalFrameBlocks : 0;
    }
    uint32_t frameBlocks(uint32_t frame) const {
        return frame + 1 == totalFrames ? finalFrameBlocks : blocksPerFrame;
    }
};

// Reads and validates everything up to the frame data. Returns 0 or an APE error code.
int readFileInfo(const File& file, FileInfo& info);

// Reads frame `frame` and restores its stream byte order.
int readFrameBytes(const File& file, const FileInfo& info, uint32_t frame, std::vector<uint8_t>& bytes);

// Writes the 32-bit word groups of a stream in file order (each group reversed).
void swapWords(uint8_t* data, size_t size);

}  // namespace ape

#include "decompressor.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "apecodec.h"

namespace ape {

int Decompressor::open(const char* path) {
    if (!path || !*path) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    if (!file_.openRead(path)) return APE_ERROR_INVALID_INPUT_FILE;
    try {
        if (int rc = readFileInfo(file_, info_)) return rc;
        decoder_ = std::make_unique<FrameDecoder>(info_.format);
    } catch (const std::bad_alloc&) {
        return APE_ERROR_INSUFFICIENT_MEMORY;
    }
    return APE_ERROR_SUCCESS;
}

int Decompressor::loadFrame(uint32_t frame) {
    if (loadedFrame_ == int64_t(frame)) return APE_ERROR_SUCCESS;
    loadedFrame_ = -1;
    try {
        if (int rc = readFrameBytes(file_, info_, frame, frameBytes_)) return rc;
        if (int rc = decoder_->decode(frameBytes_.data(), frameBytes_.size(), info_.frameBlocks(frame), pcm_))
            return rc;
    } catch (const std::bad_alloc&) {
        return APE_ERROR_INSUFFICIENT_MEMORY;
    }
    loadedFrame_ = frame;
    return APE_ERROR_SUCCESS;
}

int Decompressor::getData(uint8_t* buffer, int blocks, int& retrieved) {
    retrieved = 0;
    if (blocks < 0 || (blocks > 0 && !buffer)) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    const size_t blockBytes = size_t(info_.format.bytesPerBlock());
    const uint64_t total = info_.totalBlocks();
    while (retrieved < blocks && position_ < total) {
        uint32_t frame = uint32_t(position_ / info_.blocksPerFrame);
        if (int rc = loadFrame(frame)) return rc;
        uint64_t inFrame = position_ - uint64_t(frame) * info_.blocksPerFrame;
        size_t n = size_t(std::min<uint64_t>(info_.frameBlocks(frame) - inFrame, uint64_t(blocks - retrieved)));
        std::memcpy(buffer + size_t(retrieved) * blockBytes, pcm_.data() + inFrame * blockBytes, n * blockBytes);
        retrieved += int(n);
        position_ += n;
    }
    return APE_ERROR_SUCCESS;
}

int Decompressor::seek(int64_t block) {
    if (block < 0 || uint64_t(block) > info_.totalBlocks()) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    position_ = uint64_t(block);
    return APE_ERROR_SUCCESS;
}

int64_t Decompressor::info(int field) const {
    const auto& f = info_.format;
    const int64_t blockAlign = f.bytesPerBlock();
    const int64_t totalBlocks = int64_t(info_.totalBlocks());
    const int64_t lengthMs = int64_t(info_.totalBlocks() * 1000 / info_.sampleRate);
    switch (field) {
    case APE_INFO_FILE_VERSION: return f.version;
    case APE_INFO_COMPRESSION_LEVEL: return f.level;
    case APE_INFO_FORMAT_FLAGS: return info_.formatFlags;
    case APE_INFO_SAMPLE_RATE: return info_.sampleRate;
    case APE_INFO_BITS_PER_SAMPLE: return f.bitsPerSample;
    case APE_INFO_BYTES_PER_SAMPLE: return f.bitsPerSample / 8;
    case APE_INFO_CHANNELS: return f.channels;
    case APE_INFO_BLOCK_ALIGN: return blockAlign;
    case APE_INFO_BLOCKS_PER_FRAME: return info_.blocksPerFrame;
    case APE_INFO_FINAL_FRAME_BLOCKS: return info_.finalFrameBlocks;
    case APE_INFO_TOTAL_FRAMES: return info_.totalFrames;
    case APE_INFO_WAV_HEADER_BYTES: return (info_.formatFlags & kFlagCreateWavHeader) ? 44 : info_.headerDataBytes;
    case APE_INFO_WAV_TERMINATING_BYTES: return info_.terminatingDataBytes;
    case APE_INFO_WAV_DATA_BYTES:
    case APE_INFO_WAV_TOTAL_BYTES: return totalBlocks * blockAlign;
    case APE_INFO_APE_TOTAL_BYTES: return int64_t(info_.fileSize);
    case APE_INFO_TOTAL_BLOCKS:
    case APE_DECOMPRESS_TOTAL_BLOCKS: return totalBlocks;
    case APE_INFO_LENGTH_MS:
    case APE_DECOMPRESS_LENGTH_MS: return lengthMs;
    case APE_INFO_AVERAGE_BITRATE:
        return lengthMs > 0 ? int64_t(info_.fileSize * 8 / uint64_t(lengthMs)) : 0;
    case APE_DECOMPRESS_CURRENT_BLOCK: return int64_t(position_);
    case APE_DECOMPRESS_CURRENT_MS: return int64_t(position_ * 1000 / info_.sampleRate);
    default: return -1;
    }
}

}  // namespace ape

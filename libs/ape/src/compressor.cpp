#include "compressor.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "file_header.h"

namespace ape {

namespace {
// Extra room in the input buffer beyond one frame, handed out by LockBuffer.
constexpr size_t kInputSlack = 1 << 16;
constexpr size_t kStreamFlushBytes = 1 << 20;
constexpr uint64_t kMaxSeekOffset = 0xFFFFFFFFull;
}  // namespace

Compressor::~Compressor() { abandon(); }

void Compressor::abandon() {
    if (started_ && output_.isOpen()) {
        output_.close();
        ::unlink(path_.c_str());
    }
    scratch_.close();
    started_ = false;
}

int Compressor::start(const char* path, const APE_WAVEFORMATEX* wfe, int64_t maxAudioBytes, int level,
                      const void* headerData, int headerBytes) {
    if (started_) return APE_ERROR_BAD_PARAMETER;
    if (!path || !*path || !wfe || headerBytes < 0 || (headerBytes > 0 && !headerData))
        return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    if (wfe->wFormatTag != 1) return APE_ERROR_INVALID_INPUT_FILE;
    if (wfe->nChannels < 1 || wfe->nChannels > 2) return APE_ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT;
    if (wfe->wBitsPerSample != 8 && wfe->wBitsPerSample != 16 && wfe->wBitsPerSample != 24)
        return APE_ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH;
    if (wfe->nSamplesPerSec == 0) return APE_ERROR_INPUT_FILE_UNSUPPORTED_SAMPLE_RATE;
    if (level % 1000 != 0 || level < 1000 || level > 5000) return APE_ERROR_BAD_PARAMETER;

    format_.version = kVersionWritten;
    format_.level = level;
    format_.bitsPerSample = wfe->wBitsPerSample;
    format_.channels = wfe->nChannels;
    sampleRate_ = wfe->nSamplesPerSec;
    blocksPerFrame_ = blocksPerFrameForLevel(level);
    maxAudioBytes_ = maxAudioBytes;
    try {
        headerData_.assign(static_cast<const uint8_t*>(headerData),
                           static_cast<const uint8_t*>(headerData) + headerBytes);
        input_.assign(size_t(blocksPerFrame_) * format_.bytesPerBlock() + kInputSlack, 0);
        encoder_ = std::make_unique<FrameEncoder>(format_);
    } catch (const std::bad_alloc&) {
        return APE_ERROR_INSUFFICIENT_MEMORY;
    }
    path_ = path;
    if (!output_.create(path)) return APE_ERROR_INVALID_OUTPUT_FILE;
    started_ = true;
    if (!scratch_.createScratch(path_)) {
        abandon();
        return APE_ERROR_INVALID_OUTPUT_FILE;
    }
    return APE_ERROR_SUCCESS;
}

int Compressor::bufferBytesAvailable() const {
    if (!started_) return 0;
    return int(std::min<size_t>(input_.size() - inputFilled_, 0x7FFFFFFF));
}

uint8_t* Compressor::lockBuffer(int& bytesAvailable) {
    bytesAvailable = bufferBytesAvailable();
    if (!started_ || error_) {
        bytesAvailable = 0;
        return nullptr;
    }
    return input_.data() + inputFilled_;
}

int Compressor::unlockBuffer(int bytesAdded, bool process) {
    if (!started_) return APE_ERROR_BAD_PARAMETER;
    if (error_) return error_;
    if (bytesAdded < 0 || size_t(bytesAdded) > input_.size() - inputFilled_) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    audioBytes_ += uint64_t(bytesAdded);
    if (maxAudioBytes_ >= 0 && audioBytes_ > uint64_t(maxAudioBytes_)) {
        error_ = APE_ERROR_APE_COMPRESS_TOO_MUCH_DATA;
        abandon();
        return error_;
    }
    inputFilled_ += size_t(bytesAdded);
    if (process) return encodeBufferedFrames(false);
    return APE_ERROR_SUCCESS;
}

int Compressor::addData(const uint8_t* data, int bytes) {
    if (!started_) return APE_ERROR_BAD_PARAMETER;
    if (bytes < 0 || (bytes > 0 && !data)) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    while (bytes > 0) {
        int available = 0;
        uint8_t* dst = lockBuffer(available);
        if (!dst) return error_ ? error_ : APE_ERROR_BAD_PARAMETER;
        int n = std::min(available, bytes);
        std::memcpy(dst, data, size_t(n));
        if (int rc = unlockBuffer(n, true)) return rc;
        data += n;
        bytes -= n;
    }
    return APE_ERROR_SUCCESS;
}

int Compressor::encodeBufferedFrames(bool flushPartial) {
    const size_t blockBytes = size_t(format_.bytesPerBlock());
    const size_t frameBytes = size_t(blocksPerFrame_) * blockBytes;
    size_t consumed = 0;
    while (true) {
        size_t available = inputFilled_ - consumed;
        size_t blocks;
        if (available >= frameBytes)
            blocks = blocksPerFrame_;
        else if (flushPartial && available >= blockBytes)
            blocks = available / blockBytes;
        else
            break;
        if (streamLength_ + stream_.size() > kMaxSeekOffset) {
            error_ = APE_ERROR_INPUT_FILE_TOO_LARGE;
            abandon();
            return error_;
        }
        frameOffsets_.push_back(streamLength_ + stream_.size());
        lastFrameBlocks_ = uint32_t(blocks);
        encoder_->encode(input_.data() + consumed, blocks, stream_);
        consumed += blocks * blockBytes;
        if (stream_.size() >= kStreamFlushBytes)
            if (int rc = appendStream(false)) return rc;
    }
    if (consumed) {
        std::memmove(input_.data(), input_.data() + consumed, inputFilled_ - consumed);
        inputFilled_ -= consumed;
    }
    return APE_ERROR_SUCCESS;
}

// Stores whole words of the stream in the scratch file; `final` pads the
// stream first (to the next multiple of 4, always by at least one byte).
int Compressor::appendStream(bool final) {
    if (final) {
        uint64_t total = streamLength_ + stream_.size();
        stream_.resize(stream_.size() + size_t((total / 4 + 1) * 4 - total), 0);
    }
    size_t whole = stream_.size() / 4 * 4;
    swapWords(stream_.data(), whole);
    if (!scratch_.writeAt(scratchBytes_, stream_.data(), whole)) {
        error_ = APE_ERROR_IO_WRITE;
        abandon();
        return error_;
    }
    scratchBytes_ += whole;
    streamLength_ += whole;
    stream_.erase(stream_.begin(), stream_.begin() + ptrdiff_t(whole));
    return APE_ERROR_SUCCESS;
}

int Compressor::finish(const uint8_t* terminatingData, int terminatingBytes) {
    if (!started_) return error_ ? error_ : APE_ERROR_BAD_PARAMETER;
    if (error_) return error_;
    if (terminatingBytes < 0 || (terminatingBytes > 0 && !terminatingData)) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    auto fail = [this](int code) {
        error_ = code;
        abandon();
        return code;
    };
    if (inputFilled_ % size_t(format_.bytesPerBlock()) != 0) return fail(APE_ERROR_INVALID_INPUT_FILE);
    if (int rc = encodeBufferedFrames(true)) return rc;
    // No frame can hold zero blocks: an empty file cannot be written.
    if (frameOffsets_.empty()) return fail(APE_ERROR_INPUT_FILE_TOO_SMALL);
    if (int rc = appendStream(true)) return rc;

    const uint32_t totalFrames = uint32_t(frameOffsets_.size());
    const uint64_t seekTableBytes = uint64_t(totalFrames) * 4;
    const uint64_t f0 = kDescriptorBytes + kHeaderBytes + seekTableBytes + headerData_.size();
    if (f0 + frameOffsets_.back() > kMaxSeekOffset) return fail(APE_ERROR_INPUT_FILE_TOO_LARGE);

    uint8_t header[kHeaderBytes] = {};
    putLE16(header, uint16_t(format_.level));
    putLE16(header + 2, headerData_.empty() ? kFlagCreateWavHeader : 0);
    putLE32(header + 4, blocksPerFrame_);
    putLE32(header + 8, lastFrameBlocks_);
    putLE32(header + 12, totalFrames);
    putLE16(header + 16, uint16_t(format_.bitsPerSample));
    putLE16(header + 18, uint16_t(format_.channels));
    putLE32(header + 20, sampleRate_);
    std::vector<uint8_t> seekTable(seekTableBytes);
    for (uint32_t i = 0; i < totalFrames; ++i) putLE32(&seekTable[size_t(i) * 4], uint32_t(f0 + frameOffsets_[i]));

    // File order: descriptor, header, seek table, header data, frame data,
    // terminating data. The digest covers header data, frame data and
    // terminating data, then header and seek table.
    Md5 md5;
    uint64_t pos = kDescriptorBytes;
    if (!output_.writeAt(pos, header, sizeof header) || !output_.writeAt(pos + sizeof header, seekTable.data(), seekTable.size()))
        return fail(APE_ERROR_IO_WRITE);
    pos += sizeof header + seekTable.size();
    if (!headerData_.empty() && !output_.writeAt(pos, headerData_.data(), headerData_.size()))
        return fail(APE_ERROR_IO_WRITE);
    md5.update(headerData_.data(), headerData_.size());
    pos += headerData_.size();
    std::vector<uint8_t> copy(1 << 20);
    for (uint64_t done = 0; done < scratchBytes_;) {
        size_t n = size_t(std::min<uint64_t>(copy.size(), scratchBytes_ - done));
        if (!scratch_.readAt(done, copy.data(), n)) return fail(APE_ERROR_IO_READ);
        if (!output_.writeAt(pos + done, copy.data(), n)) return fail(APE_ERROR_IO_WRITE);
        md5.update(copy.data(), n);
        done += n;
    }
    pos += scratchBytes_;
    if (terminatingBytes > 0 && !output_.writeAt(pos, terminatingData, size_t(terminatingBytes)))
        return fail(APE_ERROR_IO_WRITE);
    md5.update(terminatingData, size_t(terminatingBytes));
    md5.update(header, sizeof header);
    md5.update(seekTable.data(), seekTable.size());

    uint8_t descriptor[kDescriptorBytes] = {'M', 'A', 'C', ' '};
    putLE16(descriptor + 4, uint16_t(kVersionWritten));
    putLE32(descriptor + 8, kDescriptorBytes);
    putLE32(descriptor + 12, kHeaderBytes);
    putLE32(descriptor + 16, uint32_t(seekTableBytes));
    putLE32(descriptor + 20, uint32_t(headerData_.size()));
    putLE32(descriptor + 24, uint32_t(scratchBytes_));
    putLE32(descriptor + 28, uint32_t(scratchBytes_ >> 32));
    putLE32(descriptor + 32, uint32_t(terminatingBytes));
    md5.finish(descriptor + 36);
    if (!output_.writeAt(0, descriptor, sizeof descriptor)) return fail(APE_ERROR_IO_WRITE);
    output_.close();
    scratch_.close();
    started_ = false;
    return APE_ERROR_SUCCESS;
}

int Compressor::kill() {
    abandon();
    return APE_ERROR_SUCCESS;
}

}  // namespace ape

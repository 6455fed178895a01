// Writes an APE file (version 3990) from PCM handed over in pieces.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "apecodec.h"
#include "checksums.h"
#include "file_io.h"
#include "frame_codec.h"

namespace ape {

class Compressor {
public:
    Compressor() = default;
    ~Compressor();  // an unfinished output file is removed

    int start(const char* path, const APE_WAVEFORMATEX* format, int64_t maxAudioBytes, int level,
              const void* headerData, int headerBytes);
    uint8_t* lockBuffer(int& bytesAvailable);
    int unlockBuffer(int bytesAdded, bool process);
    int addData(const uint8_t* data, int bytes);
    int bufferBytesAvailable() const;
    int finish(const uint8_t* terminatingData, int terminatingBytes);
    // Abandons the output: the file is removed.
    int kill();

private:
    int encodeBufferedFrames(bool flushPartial);
    int appendStream(bool final);
    void abandon();

    bool started_ = false;
    int error_ = 0;  // a failure is sticky: later calls report it again
    std::string path_;
    File output_;
    File scratch_;  // the swapped frame data until the header can be written
    StreamFormat format_;
    uint32_t sampleRate_ = 0;
    uint32_t blocksPerFrame_ = 0;
    int64_t maxAudioBytes_ = -1;
    uint64_t audioBytes_ = 0;
    std::vector<uint8_t> headerData_;
    std::unique_ptr<FrameEncoder> encoder_;

    std::vector<uint8_t> input_;  // PCM not yet coded; capacity one frame plus slack
    size_t inputFilled_ = 0;
    std::vector<uint8_t> stream_;  // coded bytes not yet swapped and stored
    uint64_t streamLength_ = 0;    // stream bytes produced so far
    uint64_t scratchBytes_ = 0;
    std::vector<uint64_t> frameOffsets_;  // stream position of every frame
    uint32_t lastFrameBlocks_ = 0;
};

}  // namespace ape

// Reads PCM from an APE file, frame by frame, with seeking.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "file_header.h"
#include "file_io.h"
#include "frame_codec.h"

namespace ape {

class Decompressor {
public:
    // Returns 0 or an APE error code.
    int open(const char* path);
    int getData(uint8_t* buffer, int blocks, int& retrieved);
    int seek(int64_t block);
    int64_t info(int field) const;

private:
    int loadFrame(uint32_t frame);

    File file_;
    FileInfo info_;
    std::unique_ptr<FrameDecoder> decoder_;
    std::vector<uint8_t> frameBytes_;
    std::vector<uint8_t> pcm_;   // the decoded frame
    int64_t loadedFrame_ = -1;
    uint64_t position_ = 0;      // next block to deliver
};

}  // namespace ape

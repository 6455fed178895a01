// A writer of APE files of the versions before 3990 (3950..3989), for tests
// only: the library writes 3990 alone and no installed tool writes older
// files, so this writer gives the decoder's older paths something to read.
// It reuses the library's range encoder, predictors and NN filters, but codes
// residuals with its own encoder of the older adaptive-k scheme; FFmpeg
// decoding its files to the source PCM is what shows both are right.
#pragma once

#include <cstdint>
#include <vector>

#include "ape_test_support.h"

namespace apetest {

struct OldVersionOptions {
    int version = 3970;  // 3950..3989; from 3980 on the descriptor layout
    int level = 2000;
    // Only files of 3980 and later carry it; older readers assume 294912.
    uint32_t blocksPerFrame = 73728 * 4;
    bool storeWavHeader = false;  // keep a 44-byte WAV header instead of format flag 32
    bool peakLevel = false;       // before 3980: the optional peak-level field
    uint32_t spareSeekEntries = 0;  // before 3980: more seek entries than frames, counted in the header
    bool wideSums = false;        // stage-2 prediction sums in 64 bits
    bool legacyRound = false;     // NN rounding added in 32 bits, as the encoders of the time did
    uint32_t wavTrailerBytes = 0;  // bytes of a stored WAV trailer after the frame data
};

// The whole file for `pcm`. Throws std::invalid_argument for what the format
// cannot hold (no blocks, a version outside 3950..3989, a residual too large
// for the older entropy coder).
std::vector<uint8_t> writeOldVersionApe(const Pcm& pcm, const OldVersionOptions& options);

}  // namespace apetest

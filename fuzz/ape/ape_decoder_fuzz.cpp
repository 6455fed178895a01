// Feeds arbitrary bytes to the APE decoder and the tag reader and writer as a file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "apecodec.h"

namespace {

// Enough to walk through many frames without letting a legitimately huge
// (e.g. long and silent) file dominate the run.
constexpr int64_t kMaxBlocksDecoded = 1 << 20;

const std::string& scratchPath() {
    static const std::string path = "/tmp/ape_decoder_fuzz." + std::to_string(::getpid()) + ".ape";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = scratchPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    APE_ID3_TAG tag;
    GetID3Tag(path.c_str(), &tag);

    int error = 0;
    APE_DECOMPRESS_HANDLE h = c_APEDecompress_CreateW(path.c_str(), &error);
    if (!h) return 0;
    const int64_t blocks = c_APEDecompress_GetInfo(h, APE_DECOMPRESS_TOTAL_BLOCKS, 0, 0);
    const int64_t align = c_APEDecompress_GetInfo(h, APE_INFO_BLOCK_ALIGN, 0, 0);
    for (int code = 1000; code <= 1018; ++code) c_APEDecompress_GetInfo(h, code, 0, 0);
    std::vector<char> buffer(size_t(align) * 4096);
    // Start in the last frame when there is one past the first, then read on from the start.
    if (size > 0 && blocks > 0) c_APEDecompress_Seek(h, int(std::min<int64_t>(blocks - 1, data[size - 1] * 1000)));
    int64_t decoded = 0;
    for (int pass = 0; pass < 2 && decoded < kMaxBlocksDecoded; ++pass) {
        int got = 0;
        while (decoded < kMaxBlocksDecoded && c_APEDecompress_GetData(h, buffer.data(), 4096, &got) == 0 && got > 0)
            decoded += got;
        c_APEDecompress_Seek(h, 0);
    }
    c_APEDecompress_Destroy(h);

    // Rewriting the tail must cope with whatever tags the file claims to have.
    TagFileSimple(path.c_str(), "a", "b", "c", "d", "e", "f", "1", size & 1, 0);
    GetID3Tag(path.c_str(), &tag);
    RemoveTag(path.c_str());
    return 0;
}

// The exported C interface; no exception leaves the library.
#include <cstring>
#include <strings.h>
#include <new>
#include <string>

#include "apecodec.h"
#include "compressor.h"
#include "decompressor.h"
#include "file_header.h"
#include "tags.h"

struct APECompressState {
    ape::Compressor compressor;
};

struct APEDecompressState {
    ape::Decompressor decompressor;
};

namespace {

template <typename F>
int guarded(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return APE_ERROR_INSUFFICIENT_MEMORY;
    } catch (...) {
        return APE_ERROR_BAD_PARAMETER;
    }
}

const char* orEmpty(const char* s) { return s ? s : ""; }

// Truncates the file to `end` and then appends `tail`, reserving the space
// first so that a full disk is found before the old tag is touched.
int rewriteTail(ape::File& file, uint64_t end, const std::vector<uint8_t>& tail) {
    if (!tail.empty() && !file.reserve(end, tail.size())) return APE_ERROR_IO_WRITE;
    if (!tail.empty() && !file.writeAt(end, tail.data(), tail.size())) return APE_ERROR_IO_WRITE;
    if (!file.truncate(end + tail.size())) return APE_ERROR_IO_WRITE;
    return APE_ERROR_SUCCESS;
}

}  // namespace

extern "C" {

APE_COMPRESS_HANDLE c_APECompress_Create(int* pErrorCode) {
    APE_COMPRESS_HANDLE h = new (std::nothrow) APECompressState;
    if (pErrorCode) *pErrorCode = h ? APE_ERROR_SUCCESS : APE_ERROR_INSUFFICIENT_MEMORY;
    return h;
}

void c_APECompress_Destroy(APE_COMPRESS_HANDLE h) { delete h; }

int c_APECompress_Start(APE_COMPRESS_HANDLE h, const char* pOutputFilename, const APE_WAVEFORMATEX* pwfeInput,
                        int nMaxAudioBytes, int nCompressionLevel, const void* pHeaderData, int nHeaderBytes) {
    if (!h) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    return guarded([&] {
        return h->compressor.start(pOutputFilename, pwfeInput, nMaxAudioBytes, nCompressionLevel, pHeaderData,
                                   nHeaderBytes);
    });
}

int c_APECompress_AddData(APE_COMPRESS_HANDLE h, unsigned char* pData, int nBytes) {
    if (!h) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    return guarded([&] { return h->compressor.addData(pData, nBytes); });
}

int c_APECompress_GetBufferBytesAvailable(APE_COMPRESS_HANDLE h) {
    return h ? h->compressor.bufferBytesAvailable() : 0;
}

unsigned char* c_APECompress_LockBuffer(APE_COMPRESS_HANDLE h, int* pBytesAvailable) {
    int available = 0;
    unsigned char* p = h ? h->compressor.lockBuffer(available) : nullptr;
    if (pBytesAvailable) *pBytesAvailable = available;
    return p;
}

int c_APECompress_UnlockBuffer(APE_COMPRESS_HANDLE h, int nBytesAdded, int bProcess) {
    if (!h) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    return guarded([&] { return h->compressor.unlockBuffer(nBytesAdded, bProcess != 0); });
}

int c_APECompress_Finish(APE_COMPRESS_HANDLE h, unsigned char* pTerminatingData, int nTerminatingBytes,
                         int nWAVTerminatingBytes) {
    if (!h) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    (void)nWAVTerminatingBytes;
    return guarded([&] { return h->compressor.finish(pTerminatingData, nTerminatingBytes); });
}

int c_APECompress_Kill(APE_COMPRESS_HANDLE h) {
    if (!h) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    return h->compressor.kill();
}

APE_DECOMPRESS_HANDLE c_APEDecompress_CreateW(const char* pFilename, int* pErrorCode) {
    APEDecompressState* h = nullptr;
    int rc = guarded([&] {
        h = new APEDecompressState;
        return h->decompressor.open(pFilename);
    });
    if (rc != APE_ERROR_SUCCESS) {
        delete h;
        h = nullptr;
    }
    if (pErrorCode) *pErrorCode = rc;
    return h;
}

void c_APEDecompress_Destroy(APE_DECOMPRESS_HANDLE h) { delete h; }

int c_APEDecompress_GetData(APE_DECOMPRESS_HANDLE h, char* pBuffer, int nBlocks, int* pBlocksRetrieved) {
    int retrieved = 0;
    int rc = h ? guarded([&] {
        return h->decompressor.getData(reinterpret_cast<uint8_t*>(pBuffer), nBlocks, retrieved);
    })
               : APE_ERROR_INVALID_FUNCTION_PARAMETER;
    if (pBlocksRetrieved) *pBlocksRetrieved = retrieved;
    return rc;
}

int c_APEDecompress_Seek(APE_DECOMPRESS_HANDLE h, int nBlockOffset) {
    if (!h) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    return h->decompressor.seek(nBlockOffset);
}

intptr_t c_APEDecompress_GetInfo(APE_DECOMPRESS_HANDLE h, int nField, intptr_t, intptr_t) {
    if (!h) return -1;
    return intptr_t(h->decompressor.info(nField));
}

int FillWaveFormatEx(APE_WAVEFORMATEX* p, int nSampleRate, int nBitsPerSample, int nChannels) {
    if (!p || nSampleRate <= 0 || nBitsPerSample <= 0 || nChannels <= 0) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    p->wFormatTag = 1;
    p->nChannels = uint16_t(nChannels);
    p->nSamplesPerSec = uint32_t(nSampleRate);
    p->wBitsPerSample = uint16_t(nBitsPerSample);
    p->nBlockAlign = uint16_t(nChannels * (nBitsPerSample / 8));
    p->nAvgBytesPerSec = p->nBlockAlign * uint32_t(nSampleRate);
    p->cbSize = 0;
    return APE_ERROR_SUCCESS;
}

int GetID3Tag(const char* pFilename, APE_ID3_TAG* pID3Tag) {
    if (!pFilename || !pID3Tag) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    return guarded([&] {
        ape::File file;
        uint64_t size = 0;
        if (!file.openRead(pFilename)) return APE_ERROR_INVALID_INPUT_FILE;
        ape::TrailingTags tags;
        if (!file.size(size) || !ape::readTrailingTags(file, size, tags)) return APE_ERROR_IO_READ;
        uint8_t block[128];
        if (tags.hasApe)
            ape::apeItemsToId3v1(tags.apeItems, block);
        else if (tags.hasId3v1)
            std::memcpy(block, tags.id3v1, 128);
        else
            return APE_ERROR_NO_TAG;
        std::memcpy(pID3Tag, block, 128);
        return APE_ERROR_SUCCESS;
    });
}

int TagFileSimple(const char* pFilename, const char* pArtist, const char* pAlbum, const char* pTitle,
                  const char* pComment, const char* pGenre, const char* pYear, const char* pTrack, int bClearFirst,
                  int bUseOldID3) {
    if (!pFilename) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    (void)bUseOldID3;
    return guarded([&] {
        ape::File file;
        uint64_t size = 0;
        if (!file.openReadWrite(pFilename)) return APE_ERROR_INVALID_INPUT_FILE;
        ape::TrailingTags tags;
        if (!file.size(size) || !ape::readTrailingTags(file, size, tags)) return APE_ERROR_IO_READ;
        const std::pair<const char*, const char*> values[] = {
            {"Artist", pArtist}, {"Album", pAlbum}, {"Title", pTitle}, {"Comment", pComment},
            {"Genre", pGenre},   {"Year", pYear},   {"Track", pTrack}};
        std::vector<ape::TagItem> items;
        if (!bClearFirst && tags.hasApe) {
            for (const ape::TagItem& old : tags.apeItems) {
                bool replaced = false;
                for (const auto& v : values) replaced = replaced || strcasecmp(old.key.c_str(), v.first) == 0;
                if (!replaced) items.push_back(old);
            }
        }
        for (const auto& v : values) items.push_back({v.first, orEmpty(v.second), 0});
        // An ID3v1 tag after the APEv2 tag would hide it from FFmpeg and
        // hold the superseded values, so the new tag replaces both.
        return rewriteTail(file, tags.contentEnd, ape::buildApeTag(items));
    });
}

int RemoveTag(const char* pFilename) {
    if (!pFilename) return APE_ERROR_INVALID_FUNCTION_PARAMETER;
    return guarded([&] {
        ape::File file;
        uint64_t size = 0;
        if (!file.openReadWrite(pFilename)) return APE_ERROR_INVALID_INPUT_FILE;
        ape::TrailingTags tags;
        if (!file.size(size) || !ape::readTrailingTags(file, size, tags)) return APE_ERROR_IO_READ;
        return rewriteTail(file, tags.contentEnd, {});
    });
}

int GetVersionNumber(void) { return ape::kVersionWritten; }

const char* c_APE_GetErrorText(int nErrorCode) {
    switch (nErrorCode) {
        case APE_ERROR_SUCCESS: return "OK";
        case APE_ERROR_IO_READ: return "I/O read error";
        case APE_ERROR_IO_WRITE: return "I/O write error";
        case APE_ERROR_INVALID_INPUT_FILE: return "invalid input file";
        case APE_ERROR_INVALID_OUTPUT_FILE: return "invalid output file";
        case APE_ERROR_INPUT_FILE_TOO_LARGE: return "input file file too large";
        case APE_ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH: return "input file unsupported bit depth";
        case APE_ERROR_INPUT_FILE_UNSUPPORTED_SAMPLE_RATE: return "input file unsupported sample rate";
        case APE_ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT: return "input file unsupported channel count";
        case APE_ERROR_INPUT_FILE_TOO_SMALL: return "input file too small";
        case APE_ERROR_INVALID_CHECKSUM: return "invalid checksum";
        case APE_ERROR_DECOMPRESSING_FRAME: return "decompressing frame";
        case APE_ERROR_INITIALIZING_UNMAC: return "initializing unmac";
        case APE_ERROR_INVALID_FUNCTION_PARAMETER: return "invalid function parameter";
        case APE_ERROR_UNSUPPORTED_FILE_TYPE: return "unsupported file type";
        case APE_ERROR_INSUFFICIENT_MEMORY: return "insufficient memory";
        case 3000: return "loading MAC.dll";
        case 3001: return "loading MACinfo.dll";
        case 3002: return "loading UnMAC.dll";
        case 4000: return "user stopped processing";
        case 4001: return "skipped...";
        case APE_ERROR_BAD_PARAMETER: return "bad parameter";
        case APE_ERROR_APE_COMPRESS_TOO_MUCH_DATA: return "APE compress too much data";
        default: return nullptr;
    }
}

}  // extern "C"

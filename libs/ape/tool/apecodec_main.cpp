// apecodec: encode WAV to APE, decode APE to WAV, or describe an APE file.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "apecodec.h"

namespace {

struct WavData {
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bits = 0;
    std::vector<uint8_t> pcm;
};

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Plain PCM RIFF/WAVE (format 1, or extensible with a PCM sub-format).
bool readWav(const char* path, WavData& wav, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + std::string(path);
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        error = "not a RIFF/WAVE file";
        return false;
    }
    bool haveFormat = false;
    size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        uint32_t size = le32(&bytes[pos + 4]);
        size_t body = pos + 8;
        size_t available = bytes.size() - body;
        if (std::memcmp(&bytes[pos], "fmt ", 4) == 0) {
            if (size < 16 || size > available) break;
            uint16_t tag = le16(&bytes[body]);
            if (tag == 0xFFFE && size >= 26) tag = le16(&bytes[body + 24]);
            if (tag != 1) {
                error = "only PCM WAV files are supported";
                return false;
            }
            wav.channels = le16(&bytes[body + 2]);
            wav.sampleRate = le32(&bytes[body + 4]);
            wav.bits = le16(&bytes[body + 14]);
            haveFormat = true;
        } else if (std::memcmp(&bytes[pos], "data", 4) == 0) {
            if (!haveFormat) break;
            size_t n = std::min<size_t>(size, available);
            wav.pcm.assign(bytes.begin() + body, bytes.begin() + body + n);
            size_t align = size_t(wav.channels) * (wav.bits / 8);
            if (align) wav.pcm.resize(wav.pcm.size() / align * align);
            return true;
        }
        if (size > available) break;
        pos = body + size + (size & 1);
    }
    error = "no PCM data found";
    return false;
}

void putLE(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> wavHeader(uint16_t channels, uint32_t rate, uint16_t bits, uint64_t dataBytes) {
    std::vector<uint8_t> h;
    uint32_t align = channels * (bits / 8);
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    putLE(h, uint32_t(36 + dataBytes), 4);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putLE(h, 16, 4);
    putLE(h, 1, 2);
    putLE(h, channels, 2);
    putLE(h, rate, 4);
    putLE(h, rate * align, 4);
    putLE(h, align, 2);
    putLE(h, bits, 2);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    putLE(h, uint32_t(dataBytes), 4);
    return h;
}

int encode(int level, const char* in, const char* out) {
    WavData wav;
    std::string error;
    if (!readWav(in, wav, error)) {
        std::fprintf(stderr, "apecodec: %s\n", error.c_str());
        return 1;
    }
    int rc = 0;
    APE_COMPRESS_HANDLE h = c_APECompress_Create(&rc);
    if (!h) {
        std::fprintf(stderr, "apecodec: error %d\n", rc);
        return 1;
    }
    APE_WAVEFORMATEX wfe;
    rc = FillWaveFormatEx(&wfe, int(wav.sampleRate), wav.bits, wav.channels);
    if (!rc) rc = c_APECompress_Start(h, out, &wfe, -1, level, nullptr, 0);
    size_t done = 0;
    while (!rc && done < wav.pcm.size()) {
        int available = 0;
        unsigned char* buffer = c_APECompress_LockBuffer(h, &available);
        if (!buffer || available <= 0) {
            rc = APE_ERROR_BAD_PARAMETER;
            break;
        }
        size_t n = std::min<size_t>(size_t(available), wav.pcm.size() - done);
        std::memcpy(buffer, wav.pcm.data() + done, n);
        rc = c_APECompress_UnlockBuffer(h, int(n), 1);
        done += n;
    }
    if (!rc) rc = c_APECompress_Finish(h, nullptr, 0, 0);
    c_APECompress_Destroy(h);
    if (rc) {
        std::fprintf(stderr, "apecodec: compression failed with error %d\n", rc);
        return 1;
    }
    return 0;
}

int decode(const char* in, const char* out) {
    int rc = 0;
    APE_DECOMPRESS_HANDLE h = c_APEDecompress_CreateW(in, &rc);
    if (!h) {
        std::fprintf(stderr, "apecodec: cannot open %s (error %d)\n", in, rc);
        return 1;
    }
    const int channels = int(c_APEDecompress_GetInfo(h, APE_INFO_CHANNELS, 0, 0));
    const int bits = int(c_APEDecompress_GetInfo(h, APE_INFO_BITS_PER_SAMPLE, 0, 0));
    const int rate = int(c_APEDecompress_GetInfo(h, APE_INFO_SAMPLE_RATE, 0, 0));
    const int align = int(c_APEDecompress_GetInfo(h, APE_INFO_BLOCK_ALIGN, 0, 0));
    const uint64_t dataBytes = uint64_t(c_APEDecompress_GetInfo(h, APE_INFO_WAV_DATA_BYTES, 0, 0));
    FILE* f = std::fopen(out, "wb");
    if (!f) {
        c_APEDecompress_Destroy(h);
        std::fprintf(stderr, "apecodec: cannot create %s\n", out);
        return 1;
    }
    std::vector<uint8_t> header = wavHeader(uint16_t(channels), uint32_t(rate), uint16_t(bits), dataBytes);
    bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
    std::vector<char> buffer(size_t(align) * 4096);
    uint64_t written = 0;
    while (ok) {
        int got = 0;
        rc = c_APEDecompress_GetData(h, buffer.data(), 4096, &got);
        if (got > 0) ok = std::fwrite(buffer.data(), size_t(align), size_t(got), f) == size_t(got);
        written += uint64_t(got) * uint64_t(align);
        if (rc || got == 0) break;
    }
    if (written & 1) ok = ok && std::fputc(0, f) != EOF;
    ok = (std::fclose(f) == 0) && ok;
    c_APEDecompress_Destroy(h);
    if (rc || !ok || written != dataBytes) {
        std::remove(out);
        std::fprintf(stderr, "apecodec: decoding failed (error %d)\n", rc);
        return 1;
    }
    return 0;
}

int info(const char* in) {
    int rc = 0;
    APE_DECOMPRESS_HANDLE h = c_APEDecompress_CreateW(in, &rc);
    if (!h) {
        std::fprintf(stderr, "apecodec: cannot open %s (error %d)\n", in, rc);
        return 1;
    }
    auto get = [h](int code) { return (long long)c_APEDecompress_GetInfo(h, code, 0, 0); };
    std::printf("version: %lld\nlevel: %lld\nsample rate: %lld\nchannels: %lld\nbits: %lld\n"
                "frames: %lld\nblocks: %lld\nlength ms: %lld\n",
                get(APE_INFO_FILE_VERSION), get(APE_INFO_COMPRESSION_LEVEL), get(APE_INFO_SAMPLE_RATE),
                get(APE_INFO_CHANNELS), get(APE_INFO_BITS_PER_SAMPLE), get(APE_INFO_TOTAL_FRAMES),
                get(APE_INFO_TOTAL_BLOCKS), get(APE_DECOMPRESS_LENGTH_MS));
    c_APEDecompress_Destroy(h);
    return 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: apecodec encode [-c 1000|2000|3000|4000|5000] IN.wav OUT.ape\n"
                 "       apecodec decode IN.ape OUT.wav\n"
                 "       apecodec info IN.ape\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    std::string command = argv[1];
    if (command == "encode") {
        int level = APE_COMPRESSION_LEVEL_NORMAL;
        int arg = 2;
        if (argc > arg + 1 && std::strcmp(argv[arg], "-c") == 0) {
            level = std::atoi(argv[arg + 1]);
            if (level % 1000 != 0 || level < 1000 || level > 5000) return usage();
            arg += 2;
        }
        if (argc != arg + 2) return usage();
        return encode(level, argv[arg], argv[arg + 1]);
    }
    if (command == "decode" && argc == 4) return decode(argv[2], argv[3]);
    if (command == "info" && argc == 3) return info(argv[2]);
    return usage();
}

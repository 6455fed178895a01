#include "ape_test_support.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace apetest {

Pcm makePcm(int bits, int channels, const std::vector<int32_t>& samples, int rate) {
    Pcm pcm;
    pcm.bits = bits;
    pcm.channels = channels;
    pcm.sampleRate = rate;
    for (int32_t s : samples) qmtest::PutSample(pcm.bytes, bits, s);
    return pcm;
}

Pcm musicLike(int bits, int channels, size_t blocks, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.02);
    const double full = double((1 << (bits - 1)) - 1);
    std::vector<int32_t> s;
    s.reserve(blocks * channels);
    for (size_t i = 0; i < blocks; ++i) {
        double t = double(i) / 44100.0;
        for (int c = 0; c < channels; ++c) {
            double v = 0.45 * std::sin(2 * M_PI * (220.0 + 110 * c) * t) + 0.25 * std::sin(2 * M_PI * 1375.0 * t + c) *
                       std::sin(2 * M_PI * 0.7 * t) + noise(rng);
            s.push_back(int32_t(std::lround(std::clamp(v, -1.0, 1.0) * full)));
        }
    }
    return makePcm(bits, channels, s);
}

Pcm whiteNoise(int bits, int channels, size_t blocks, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> d(-(1 << (bits - 1)), (1 << (bits - 1)) - 1);
    std::vector<int32_t> s(blocks * channels);
    for (auto& v : s) v = d(rng);
    return makePcm(bits, channels, s);
}

Pcm silence(int bits, int channels, size_t blocks) {
    return makePcm(bits, channels, std::vector<int32_t>(blocks * channels, 0));
}

void writeWav(const fs::path& file, const Pcm& pcm) {
    qmtest::TPcm wav;
    wav.Bits = pcm.bits;
    wav.Channels = pcm.channels;
    wav.SampleRate = pcm.sampleRate;
    wav.Bytes = pcm.bytes;
    qmtest::WriteWav(file, wav);
}

int compressFile(const fs::path& out, const Pcm& pcm, int level, size_t chunk) {
    int rc = 0;
    APE_COMPRESS_HANDLE h = c_APECompress_Create(&rc);
    if (!h) return rc;
    APE_WAVEFORMATEX wfe;
    FillWaveFormatEx(&wfe, pcm.sampleRate, pcm.bits, pcm.channels);
    rc = c_APECompress_Start(h, out.c_str(), &wfe, -1, level, nullptr, 0);
    size_t done = 0;
    while (rc == 0 && done < pcm.bytes.size()) {
        int available = 0;
        unsigned char* p = c_APECompress_LockBuffer(h, &available);
        if (!p || available <= 0) {
            rc = -1;
            break;
        }
        size_t n = std::min({size_t(available), chunk, pcm.bytes.size() - done});
        std::memcpy(p, pcm.bytes.data() + done, n);
        rc = c_APECompress_UnlockBuffer(h, int(n), 1);
        done += n;
    }
    if (rc == 0) rc = c_APECompress_Finish(h, nullptr, 0, 0);
    c_APECompress_Destroy(h);
    return rc;
}

int decompressFile(const fs::path& in, std::vector<uint8_t>& pcm, int blocksPerCall) {
    pcm.clear();
    int rc = 0;
    APE_DECOMPRESS_HANDLE h = c_APEDecompress_CreateW(in.c_str(), &rc);
    if (!h) return rc;
    const size_t align = size_t(c_APEDecompress_GetInfo(h, APE_INFO_BLOCK_ALIGN, 0, 0));
    std::vector<char> buffer(align * size_t(blocksPerCall));
    while (true) {
        int got = 0;
        rc = c_APEDecompress_GetData(h, buffer.data(), blocksPerCall, &got);
        pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + ptrdiff_t(size_t(got) * align));
        if (rc != 0 || got == 0) break;
    }
    c_APEDecompress_Destroy(h);
    return rc;
}

bool haveJmac() { return fs::exists("/usr/share/java/jmac.jar") && HaveTool("java"); }

bool ffmpegDecode(const fs::path& ape, int bits, std::vector<uint8_t>& pcm, std::string& errors) {
    const char* format = bits == 8 ? "u8" : bits == 16 ? "s16le" : "s24le";
    const TRunResult r =
        RunShell("ffmpeg -nostdin -v error -err_detect crccheck -i " + Quote(ape) + " -f " + format + " -");
    errors = r.Err;
    pcm.assign(r.Out.begin(), r.Out.end());
    return r.Ok();
}

bool jmacEncode(const fs::path& wav, const fs::path& ape, int level) {
    std::error_code ec;
    fs::remove(ape, ec);  // jmac does not overwrite
    RunShell("java -jar /usr/share/java/jmac.jar c" + std::to_string(level / 1000) + " " + Quote(wav) + " " +
             Quote(ape));
    return fs::exists(ape) && fs::file_size(ape) > 0;
}

fs::path binDir() { return fs::canonical("/proc/self/exe").parent_path(); }

}  // namespace apetest

#include "ape_test_support.h"

#include <unistd.h>

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

namespace apetest {

namespace {

void putSample(std::vector<uint8_t>& out, int bits, int32_t v) {
    if (bits == 8) {
        out.push_back(uint8_t(v + 128));
    } else {
        for (int i = 0; i < bits / 8; ++i) out.push_back(uint8_t(uint32_t(v) >> (8 * i)));
    }
}

void putLE(std::vector<uint8_t>& out, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

Pcm makePcm(int bits, int channels, const std::vector<int32_t>& samples, int rate) {
    Pcm pcm;
    pcm.bits = bits;
    pcm.channels = channels;
    pcm.sampleRate = rate;
    for (int32_t s : samples) putSample(pcm.bytes, bits, s);
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

void TempDirTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    dir_ = fs::temp_directory_path() / ("ape_codec_" + std::to_string(::getpid()) + "_" + name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
}

void TempDirTest::TearDown() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

void writeWav(const fs::path& file, const Pcm& pcm) {
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
    const uint32_t align = uint32_t(pcm.channels * (pcm.bits / 8));
    putLE(out, uint32_t(36 + pcm.bytes.size()), 4);
    for (char c : std::string("WAVEfmt ")) out.push_back(uint8_t(c));
    putLE(out, 16, 4);
    putLE(out, 1, 2);
    putLE(out, uint32_t(pcm.channels), 2);
    putLE(out, uint32_t(pcm.sampleRate), 4);
    putLE(out, uint32_t(pcm.sampleRate) * align, 4);
    putLE(out, align, 2);
    putLE(out, uint32_t(pcm.bits), 2);
    for (char c : std::string("data")) out.push_back(uint8_t(c));
    putLE(out, uint32_t(pcm.bytes.size()), 4);
    out.insert(out.end(), pcm.bytes.begin(), pcm.bytes.end());
    if (pcm.bytes.size() & 1) out.push_back(0);
    writeFile(file, out);
}

std::vector<uint8_t> readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& file, const std::vector<uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> wavPayload(const fs::path& file) {
    std::vector<uint8_t> b = readFile(file);
    size_t pos = 12;
    while (pos + 8 <= b.size()) {
        uint32_t size = uint32_t(b[pos + 4]) | uint32_t(b[pos + 5]) << 8 | uint32_t(b[pos + 6]) << 16 |
                        uint32_t(b[pos + 7]) << 24;
        if (std::memcmp(&b[pos], "data", 4) == 0) {
            size_t n = std::min<size_t>(size, b.size() - pos - 8);
            return std::vector<uint8_t>(b.begin() + ptrdiff_t(pos + 8), b.begin() + ptrdiff_t(pos + 8 + n));
        }
        pos += 8 + size + (size & 1);
    }
    return {};
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

int run(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quote(const fs::path& p) { return "'" + p.string() + "'"; }

bool haveFfmpeg() { return run("ffmpeg -version > /dev/null 2>&1") == 0; }
bool haveJmac() { return fs::exists("/usr/share/java/jmac.jar") && run("java -version > /dev/null 2>&1") == 0; }
bool haveMutagen() { return run("/usr/bin/python3 -c 'import mutagen.apev2' > /dev/null 2>&1") == 0; }

bool ffmpegDecode(const fs::path& ape, int bits, std::vector<uint8_t>& pcm, std::string& errors) {
    const char* format = bits == 8 ? "u8" : bits == 16 ? "s16le" : "s24le";
    fs::path out = ape;
    out += ".ffmpeg.raw";
    fs::path err = ape;
    err += ".ffmpeg.err";
    int rc = run("ffmpeg -nostdin -v error -err_detect crccheck -i " + quote(ape) + " -f " + format + " -y " +
                 quote(out) + " 2> " + quote(err));
    auto e = readFile(err);
    errors.assign(e.begin(), e.end());
    pcm = readFile(out);
    return rc == 0;
}

bool jmacEncode(const fs::path& wav, const fs::path& ape, int level) {
    std::error_code ec;
    fs::remove(ape, ec);  // jmac does not overwrite
    run("java -jar /usr/share/java/jmac.jar c" + std::to_string(level / 1000) + " " + quote(wav) + " " + quote(ape) +
        " > /dev/null 2>&1");
    return fs::exists(ape) && fs::file_size(ape) > 0;
}

fs::path binDir() { return fs::canonical("/proc/self/exe").parent_path(); }

}  // namespace apetest

// Builds WAV files byte by byte: the little-endian fields and chunks for
// hand-made (also deliberately broken) headers, and whole PCM files.
#pragma once

#include <cstdint>
#include <vector>

namespace qmtest {

void Put16(std::vector<uint8_t>& out, uint16_t value);
void Put24(std::vector<uint8_t>& out, uint32_t value);
void Put32(std::vector<uint8_t>& out, uint32_t value);
void PutId(std::vector<uint8_t>& out, const char* id);
// A chunk: id, size, body, as given (no pad byte, so that a test can lay
// out an odd chunk exactly as it wants).
void PutChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& body);
// The same with the pad byte that an odd body takes in a well-formed file.
void PutPaddedChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& body);

// A "fmt " body: the 16 base bytes, then `extra` as given (cbSize and what
// follows it, for extensible or compressed formats).
std::vector<uint8_t> FormatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t blockAlign, uint16_t bits,
                                const std::vector<uint8_t>& extra = {});

// RIFF/WAVE around chunks already laid out.
std::vector<uint8_t> Riff(const std::vector<uint8_t>& chunks);

// A PCM WAV file's bytes: "fmt ", then `before` (chunks already laid out),
// "data" with the samples (padded when odd), then `after`.
std::vector<uint8_t> PcmWave(uint16_t channels, uint32_t rate, uint16_t bits, const std::vector<uint8_t>& data,
                             const std::vector<uint8_t>& before = {}, const std::vector<uint8_t>& after = {});

}  // namespace qmtest

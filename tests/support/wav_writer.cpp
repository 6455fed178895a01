#include "tests/support/wav_writer.h"

namespace qmtest {

void Put16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put24(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 3; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutId(std::vector<uint8_t>& out, const char* id) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(id[i]));
}

void PutChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& body) {
  PutId(out, id);
  Put32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
}

void PutPaddedChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& body) {
  PutChunk(out, id, body);
  if (body.size() % 2 != 0) out.push_back(0);
}

std::vector<uint8_t> FormatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t blockAlign, uint16_t bits,
                                const std::vector<uint8_t>& extra) {
  std::vector<uint8_t> body;
  Put16(body, tag);
  Put16(body, channels);
  Put32(body, rate);
  Put32(body, rate * blockAlign);
  Put16(body, blockAlign);
  Put16(body, bits);
  body.insert(body.end(), extra.begin(), extra.end());
  return body;
}

std::vector<uint8_t> Riff(const std::vector<uint8_t>& chunks) {
  std::vector<uint8_t> out;
  PutId(out, "RIFF");
  Put32(out, static_cast<uint32_t>(chunks.size() + 4));
  PutId(out, "WAVE");
  out.insert(out.end(), chunks.begin(), chunks.end());
  return out;
}

std::vector<uint8_t> PcmWave(uint16_t channels, uint32_t rate, uint16_t bits, const std::vector<uint8_t>& data,
                             const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
  std::vector<uint8_t> chunks;
  PutChunk(chunks, "fmt ", FormatBody(1, channels, rate, static_cast<uint16_t>(channels * ((bits + 7) / 8)), bits));
  chunks.insert(chunks.end(), before.begin(), before.end());
  PutPaddedChunk(chunks, "data", data);
  chunks.insert(chunks.end(), after.begin(), after.end());
  return Riff(chunks);
}

}  // namespace qmtest

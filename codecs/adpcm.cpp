#include "codecs/adpcm.h"

#include "platform/byte_order.h"

#include <algorithm>
#include <cstring>

const int16_t ImaStepTable[ImaMaxStepIndex + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

const int8_t ImaIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

const int16_t MsAdaptationTable[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                       768, 614, 512, 409, 307, 230, 230, 230};

namespace {

using platform::ReadLe16s;

void WriteLe16(uint8_t* p, int16_t v) { platform::WriteLe16(p, static_cast<uint16_t>(v)); }

uint8_t ClampStepIndex(int i) { return static_cast<uint8_t>(std::clamp(i, 0, ImaMaxStepIndex)); }

// Where nibble k of channel c sits in the payload: mono runs straight on;
// stereo alternates 4-byte runs of the left and right channel.
size_t NibbleByte(size_t k, unsigned channel, unsigned channels) {
  if (channels == 1) return k >> 1;
  const size_t group = k >> 3;
  return group * 8 + channel * 4 + ((k & 7) >> 1);
}

}  // namespace

int16_t ImaExpandNibble(TImaChannelState& state, unsigned nibble) {
  const int step = ImaStepTable[state.StepIndex];
  int d = step >> 3;
  if (nibble & 4) d += step;
  if (nibble & 2) d += step >> 1;
  if (nibble & 1) d += step >> 2;
  if (nibble & 8) d = -d;
  state.Predictor = static_cast<int16_t>(std::clamp(state.Predictor + d, -32767, 32767));
  state.StepIndex = ClampStepIndex(state.StepIndex + ImaIndexTable[nibble & 15]);
  return state.Predictor;
}

unsigned ImaEncodeSample(TImaChannelState& state, int sample) {
  int diff = sample - state.Predictor;
  unsigned code = 0;
  if (diff < 0) {
    code = 8;
    diff = -diff;
  }
  const int step = ImaStepTable[state.StepIndex];
  if (diff >= step) {
    code |= 4;
    diff -= step;
  }
  if (diff >= (step >> 1)) {
    code |= 2;
    diff -= step >> 1;
  }
  if (diff >= (step >> 2)) code |= 1;
  ImaExpandNibble(state, code);
  return code;
}

size_t ImaFramesPerBlock(size_t blockAlign, unsigned channels) {
  if (channels == 1) return blockAlign > 4 ? 1 + 2 * (blockAlign - 4) : 0;
  // Stereo nibbles come in 8-byte groups (4 bytes per channel); a partial
  // group at the end of the block holds no whole frames.
  if (channels == 2) return blockAlign >= 16 ? 1 + (blockAlign - 8) / 8 * 8 : 0;
  return 0;
}

size_t DecodeImaBlock(const uint8_t* block, size_t blockAlign, unsigned channels, int16_t* out) {
  const size_t frames = ImaFramesPerBlock(blockAlign, channels);
  if (frames == 0) return 0;
  TImaChannelState state[2];
  for (unsigned c = 0; c < channels; ++c) {
    const uint8_t* h = block + 4 * c;
    if (h[2] > ImaMaxStepIndex) return 0;
    state[c].Predictor = ReadLe16s(h);
    state[c].StepIndex = h[2];
    out[c] = state[c].Predictor;
  }
  const uint8_t* payload = block + 4 * channels;
  for (unsigned c = 0; c < channels; ++c) {
    for (size_t k = 0; k + 1 < frames; ++k) {
      const uint8_t byte = payload[NibbleByte(k, c, channels)];
      const unsigned nibble = (k & 1) ? byte >> 4 : byte & 15;
      out[(k + 1) * channels + c] = ImaExpandNibble(state[c], nibble);
    }
  }
  return frames;
}

void EncodeImaBlock(const int16_t* frames, size_t blockAlign, unsigned channels, TImaChannelState* state,
                    uint8_t* block) {
  const size_t count = ImaFramesPerBlock(blockAlign, channels);
  std::memset(block, 0, blockAlign);
  if (count == 0) return;
  for (unsigned c = 0; c < channels; ++c) {
    state[c].Predictor = frames[c];
    WriteLe16(block + 4 * c, state[c].Predictor);
    block[4 * c + 2] = state[c].StepIndex;
  }
  uint8_t* payload = block + 4 * channels;
  for (unsigned c = 0; c < channels; ++c) {
    for (size_t k = 0; k + 1 < count; ++k) {
      const unsigned code = ImaEncodeSample(state[c], frames[(k + 1) * channels + c]);
      payload[NibbleByte(k, c, channels)] |= static_cast<uint8_t>((k & 1) ? code << 4 : code);
    }
  }
}

size_t MsBlockBytesNeeded(size_t samplesPerBlock, unsigned channels) {
  if (samplesPerBlock < 2 || channels < 1 || channels > 2) return 0;
  return channels == 1 ? 7 + (samplesPerBlock - 2) / 2 : 14 + (samplesPerBlock - 2);
}

size_t MsFramesPerBlock(size_t samplesPerBlock, unsigned channels) {
  if (samplesPerBlock < 2 || channels < 1 || channels > 2) return 0;
  return channels == 1 ? 2 + 2 * ((samplesPerBlock - 2) / 2) : samplesPerBlock;
}

namespace {

struct TMsChannelState {
  TMsCoefficient Coef;
  int16_t Delta = 0;
  int16_t Sample1 = 0;
  int16_t Sample2 = 0;
};

int16_t MsExpandNibble(TMsChannelState& s, unsigned nibble) {
  // Two full-scale products can reach 2^31: sum them in 64 bits.
  int64_t p = (int64_t{s.Sample1} * s.Coef.First + int64_t{s.Sample2} * s.Coef.Second) / 256;
  const int signedNibble = (nibble & 8) ? static_cast<int>(nibble) - 16 : static_cast<int>(nibble);
  p += signedNibble * s.Delta;
  p = std::clamp<int64_t>(p, -32768, 32767);
  // The adapted step is kept in 16 bits, as the format's block header holds it.
  s.Delta = static_cast<int16_t>((s.Delta * MsAdaptationTable[nibble]) / 256);
  if (s.Delta < 16) s.Delta = 16;
  s.Sample2 = s.Sample1;
  s.Sample1 = static_cast<int16_t>(p);
  return s.Sample1;
}

}  // namespace

size_t DecodeMsBlock(const uint8_t* block, size_t samplesPerBlock, unsigned channels, const TMsCoefficient* coefs,
                     unsigned numCoefs, int16_t* out) {
  const size_t frames = MsFramesPerBlock(samplesPerBlock, channels);
  if (frames == 0) return 0;
  TMsChannelState s[2];
  for (unsigned c = 0; c < channels; ++c) {
    const unsigned index = block[c];
    if (index >= numCoefs) return 0;
    s[c].Coef = coefs[index];
    s[c].Delta = ReadLe16s(block + channels + 2 * c);
    s[c].Sample1 = ReadLe16s(block + 3 * channels + 2 * c);
    s[c].Sample2 = ReadLe16s(block + 5 * channels + 2 * c);
    out[c] = s[c].Sample2;
    out[channels + c] = s[c].Sample1;
  }
  const uint8_t* payload = block + 7 * channels;
  int16_t* o = out + 2 * channels;
  if (channels == 1) {
    for (size_t i = 0; i < (frames - 2) / 2; ++i) {
      *o++ = MsExpandNibble(s[0], payload[i] >> 4);
      *o++ = MsExpandNibble(s[0], payload[i] & 15);
    }
  } else {
    for (size_t i = 0; i < frames - 2; ++i) {
      *o++ = MsExpandNibble(s[0], payload[i] >> 4);
      *o++ = MsExpandNibble(s[1], payload[i] & 15);
    }
  }
  return frames;
}

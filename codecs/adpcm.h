// IMA (DVI) ADPCM and Microsoft ADPCM blocks as WAV files store them:
// block decoding to 16-bit PCM, and IMA block encoding.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int ImaMaxStepIndex = 88;
extern const int16_t ImaStepTable[ImaMaxStepIndex + 1];
extern const int8_t ImaIndexTable[16];
extern const int16_t MsAdaptationTable[16];
constexpr unsigned MsMaxCoefficients = 32;

struct TImaChannelState {
  int16_t Predictor = 0;
  uint8_t StepIndex = 0;
};

// One IMA nibble: updates the channel and returns the new sample. The
// predictor is clamped to -32767..32767, the step index to 0..88.
int16_t ImaExpandNibble(TImaChannelState& state, unsigned nibble);

// Encodes one sample into a nibble and advances the state the way the
// decoder will, so encoder and decoder stay in step.
unsigned ImaEncodeSample(TImaChannelState& state, int sample);

// Frames one IMA block of blockAlign bytes decodes to (0 when the block
// cannot hold its channel headers; only 1 or 2 channels are laid out).
size_t ImaFramesPerBlock(size_t blockAlign, unsigned channels);

// Decodes one block into interleaved 16-bit samples. out must hold
// ImaFramesPerBlock(blockAlign, channels) frames. Returns the frames
// written, or 0 when a header's step index is outside the table.
size_t DecodeImaBlock(const uint8_t* block, size_t blockAlign, unsigned channels, int16_t* out);

// Encodes ImaFramesPerBlock(blockAlign, channels) interleaved frames into
// one block of blockAlign bytes. Each channel's header carries its first
// sample, which also becomes its predictor; step indices carry over in
// state[] from the previous block.
void EncodeImaBlock(const int16_t* frames, size_t blockAlign, unsigned channels, TImaChannelState* state,
                    uint8_t* block);

struct TMsCoefficient {
  int16_t First = 0;
  int16_t Second = 0;
};

// Bytes a Microsoft ADPCM block needs for samplesPerBlock frames.
size_t MsBlockBytesNeeded(size_t samplesPerBlock, unsigned channels);
// Frames one Microsoft ADPCM block decodes to.
size_t MsFramesPerBlock(size_t samplesPerBlock, unsigned channels);

// Decodes one block (at least MsBlockBytesNeeded bytes) into interleaved
// 16-bit samples; out must hold MsFramesPerBlock frames. Returns the
// frames written, or 0 when a coefficient index is not below numCoefs.
size_t DecodeMsBlock(const uint8_t* block, size_t samplesPerBlock, unsigned channels, const TMsCoefficient* coefs,
                     unsigned numCoefs, int16_t* out);

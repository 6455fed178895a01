#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "codecs/adpcm.h"

TEST(AdpcmTest, ImaPredictorStopsAtMinus32767) {
  TImaChannelState s;
  s.Predictor = -32000;
  s.StepIndex = 88;
  EXPECT_EQ(ImaExpandNibble(s, 15), -32767);
  EXPECT_EQ(s.StepIndex, 88);
  s.Predictor = 32000;
  EXPECT_EQ(ImaExpandNibble(s, 7), 32767);
  s.StepIndex = 0;
  ImaExpandNibble(s, 0);
  EXPECT_EQ(s.StepIndex, 0);
}

TEST(AdpcmTest, MsPredictorReachesMinus32768) {
  // Mono block: coefficient pair (256, 0), delta 2000, sample1 -32000.
  std::vector<uint8_t> block = {0, 0xD0, 0x07, 0x00, 0x83, 0x00, 0x83};
  block.resize(7 + 4, 0x88);  // nibble 8: -8 x delta
  const TMsCoefficient coefs[1] = {{256, 0}};
  std::vector<int16_t> out(MsFramesPerBlock(10, 1));
  ASSERT_EQ(DecodeMsBlock(block.data(), 10, 1, coefs, 1, out.data()), 10u);
  EXPECT_EQ(out[0], -32000);  // sample2 first
  EXPECT_EQ(out[1], -32000);
  EXPECT_EQ(out[2], -32768);
}

TEST(AdpcmTest, MsMonoBlockOf500SamplesStartsWithTheHeaderSamples) {
  const size_t spb = 500;
  std::vector<uint8_t> block(MsBlockBytesNeeded(spb, 1), 0);
  block[1] = 16;  // delta
  block[3] = 5;   // sample1
  block[5] = 9;   // sample2
  const TMsCoefficient coefs[1] = {{256, 0}};
  std::vector<int16_t> out(MsFramesPerBlock(spb, 1));
  EXPECT_EQ(DecodeMsBlock(block.data(), spb, 1, coefs, 1, out.data()), 500u);
  EXPECT_EQ(out[0], 9);
  EXPECT_EQ(out[1], 5);
  EXPECT_EQ(MsBlockBytesNeeded(spb, 1), 7u + 249u);
}

TEST(AdpcmTest, ImaBlockLayoutsAndRoundTrip) {
  EXPECT_EQ(ImaFramesPerBlock(512, 1), 1017u);
  EXPECT_EQ(ImaFramesPerBlock(1024, 2), 1017u);
  EXPECT_EQ(ImaFramesPerBlock(512, 2), 505u);
  EXPECT_EQ(ImaFramesPerBlock(8, 2), 0u);
  // A partial group of stereo nibbles holds no whole frames.
  EXPECT_EQ(ImaFramesPerBlock(516, 2), 505u);
  EXPECT_EQ(ImaFramesPerBlock(305, 2), 297u);
  EXPECT_EQ(ImaFramesPerBlock(512, 3), 0u);
  for (unsigned channels : {1u, 2u}) {
    SCOPED_TRACE(channels);
    const size_t blockAlign = 256;
    const size_t frames = ImaFramesPerBlock(blockAlign, channels);
    std::vector<int16_t> pcm(frames * channels);
    for (size_t i = 0; i < frames; ++i)
      for (unsigned c = 0; c < channels; ++c)
        pcm[i * channels + c] = static_cast<int16_t>(8000 * std::sin(0.05 * i + c));
    TImaChannelState state[2];
    state[0].StepIndex = 30;
    state[1].StepIndex = 40;
    std::vector<uint8_t> block(blockAlign);
    EncodeImaBlock(pcm.data(), blockAlign, channels, state, block.data());
    EXPECT_EQ(block[2], 30);  // header carries the step index it started with
    std::vector<int16_t> decoded(frames * channels);
    ASSERT_EQ(DecodeImaBlock(block.data(), blockAlign, channels, decoded.data()), frames);
    EXPECT_EQ(decoded[0], pcm[0]);
    double err = 0;
    for (size_t i = 0; i < pcm.size(); ++i) err = std::max(err, std::abs(double(decoded[i]) - pcm[i]));
    EXPECT_LT(err, 600);
    // The encoder's state is the decoder's state at the end of the block.
    EXPECT_EQ(state[0].Predictor, decoded[(frames - 1) * channels]);
  }
}

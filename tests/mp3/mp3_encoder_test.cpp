// The encoder adapter: the configuration record the sink fills, the be…
// calls' refusals and sizes, and the VBR header written into a closed file.
#include <gtest/gtest.h>

#include "codecs/mp3_encoder_config.h"
#include "codecs/mp3_out.h"
#include "mp3_test_support.h"

using namespace mp3test;

namespace {

TBeConfig BaseConfig(int rate, int32_t mode) {
  TBeConfig c;
  c.Set(be_config::dwConfig, kBeConfigLame);
  c.Set(be_config::dwStructVersion, kBeStructVersion);
  c.Set(be_config::dwStructSize, static_cast<int32_t>(kBeConfigSize));
  c.Set(be_config::dwSampleRate, rate);
  c.Set(be_config::nMode, mode);
  c.Set(be_config::dwBitrate, 128);
  return c;
}

// The record a sink hands the encoder for this input.
TBeConfig RecordOf(int channels, const std::function<void(TMP3Out&)>& set) {
  TTempDir dir;
  TGeneratorInput gen(channels, 44100, 16, 4410);
  TMP3Out out;
  out.SetInput(&gen);
  set(out);
  out.SetFileName((dir / "record.mp3").string());
  EXPECT_TRUE(RunToEnd(out));
  EXPECT_EQ(out.ExceptionMessage, "");
  return out.EncoderConfig();
}

// Encodes one second of a tone through the be… calls into memory.
std::vector<uint8_t> EncodeInMemory(const TBeConfig& config, int channels) {
  uint32_t samples = 0, bufferSize = 0;
  HBE_STREAM stream = nullptr;
  EXPECT_EQ(beInitStream(config.Data(), &samples, &bufferSize, &stream), kBeErrSuccessful);
  if (stream == nullptr) return {};
  std::vector<uint8_t> out, buffer(bufferSize);
  std::vector<int16_t> pcm(samples);
  int64_t frame = 0;
  for (int chunk = 0; chunk < 40; ++chunk) {
    for (std::size_t i = 0; i < pcm.size(); ++i, frame += (i % static_cast<std::size_t>(channels) == 0))
      pcm[i] = static_cast<int16_t>(8000 * std::sin(0.05 * static_cast<double>(frame)));
    uint32_t produced = 0;
    EXPECT_EQ(beEncodeChunk(stream, samples, pcm.data(), buffer.data(), &produced), kBeErrSuccessful);
    out.insert(out.end(), buffer.begin(), buffer.begin() + produced);
  }
  uint32_t produced = 0;
  EXPECT_EQ(beDeinitStream(stream, buffer.data(), &produced), kBeErrSuccessful);
  out.insert(out.end(), buffer.begin(), buffer.begin() + produced);
  EXPECT_EQ(beCloseStream(stream), kBeErrSuccessful);
  return out;
}

}  // namespace

// What the encoder does with the record shows in the files (mp3_out_test);
// here only what leaves no trace there.
TEST(Mp3EncoderConfig, TheRecordHoldsLongBoolsAsStoredAndZerosElsewhere) {
  const TBeConfig c = RecordOf(1, [](TMP3Out& o) {
    o.Mode = TMP3Mode::mmJointStereo;
    o.CRC = 5;
    o.EnableVBR = kLongTrue;
  });
  EXPECT_EQ(c.Get(be_config::dwConfig), 256);
  EXPECT_EQ(c.Get(be_config::dwStructVersion), 1);
  EXPECT_EQ(c.Get(be_config::dwStructSize), 331);
  EXPECT_EQ(c.Get(be_config::nMode), kBeModeMono);
  EXPECT_EQ(c.Get(be_config::bCRC), 5);
  EXPECT_EQ(c.Get(be_config::bEnableVBR), -1);
  EXPECT_EQ(c.Get(be_config::bWriteVBRHeader), -1);
  // The fields the record does not name, and everything after bStrictIso.
  for (std::size_t at = 32; at < 48; ++at) EXPECT_EQ(c.Data()[at], 0) << "byte " << at;
  for (std::size_t at = be_config::bStrictIso + 4; at < kBeConfigSize; ++at) EXPECT_EQ(c.Data()[at], 0) << "byte " << at;
}

TEST(Mp3EncoderConfig, InitRefusesOtherRecordsAndGivesChunkAndBufferSizes) {
  uint32_t samples = 0, bufferSize = 0;
  HBE_STREAM stream = nullptr;
  auto init = [&](const TBeConfig& c) {
    const BE_ERR result = beInitStream(c.Data(), &samples, &bufferSize, &stream);
    if (stream != nullptr) beCloseStream(stream);
    stream = nullptr;
    return result;
  };
  TBeConfig c = BaseConfig(44100, kBeModeStereo);
  c.Set(be_config::dwConfig, 0);
  EXPECT_EQ(init(c), kBeErrInvalidFormat);
  c = BaseConfig(44100, kBeModeStereo);
  c.Set(be_config::dwStructSize, 100);
  EXPECT_EQ(init(c), kBeErrInvalidFormat);
  EXPECT_EQ(init(BaseConfig(44100, 4)), kBeErrInvalidFormatParameters);
  EXPECT_EQ(init(BaseConfig(0, kBeModeStereo)), kBeErrInvalidFormatParameters);
  c = BaseConfig(44100, kBeModeStereo);
  c.Set(be_config::bEnableVBR, -1);
  c.Set(be_config::nVbrMethod, 9);
  EXPECT_EQ(init(c), kBeErrInvalidFormatParameters);
  EXPECT_EQ(beInitStream(nullptr, &samples, &bufferSize, &stream), kBeErrInvalidFormatParameters);

  // A chunk is one frame of 16-bit samples in every channel: 1152 per
  // channel for MPEG-1 rates, 576 for MPEG-2.
  for (auto [rate, mode, expected] : {std::tuple{44100, kBeModeStereo, 2304u}, std::tuple{44100, kBeModeMono, 1152u},
                                      std::tuple{22050, kBeModeJointStereo, 1152u}, std::tuple{16000, kBeModeMono, 576u}}) {
    EXPECT_EQ(init(BaseConfig(rate, mode)), kBeErrSuccessful);
    EXPECT_EQ(samples, expected) << rate;
    const uint32_t perChannel = samples / (mode == kBeModeMono ? 1 : 2);
    EXPECT_GE(bufferSize, 7200u + perChannel * 5 / 4) << "LAME's worst case for a chunk, and room for a flush";
  }
}

TEST(Mp3EncoderConfig, EncodeRefusesMoreThanAChunkAndUnknownStreams) {
  uint32_t samples = 0, bufferSize = 0, produced = 0;
  HBE_STREAM stream = nullptr;
  ASSERT_EQ(beInitStream(BaseConfig(44100, kBeModeStereo).Data(), &samples, &bufferSize, &stream), kBeErrSuccessful);
  std::vector<int16_t> pcm(2 * samples);
  std::vector<uint8_t> out(bufferSize);
  EXPECT_EQ(beEncodeChunk(stream, 2 * samples, pcm.data(), out.data(), &produced), kBeErrBufferTooSmall);
  EXPECT_EQ(beEncodeChunk(stream, samples, pcm.data(), out.data(), &produced), kBeErrSuccessful);
  EXPECT_EQ(beCloseStream(stream), kBeErrSuccessful);
  EXPECT_EQ(beEncodeChunk(nullptr, samples, pcm.data(), out.data(), &produced), kBeErrInvalidHandle);
  EXPECT_EQ(beDeinitStream(nullptr, out.data(), &produced), kBeErrInvalidHandle);
  EXPECT_EQ(beCloseStream(nullptr), kBeErrInvalidHandle);
}

TEST(Mp3EncoderConfig, TheVbrHeaderGoesOverTheFirstFrameAfterAnId3v2Tag) {
  TTempDir dir;
  TBeConfig c = BaseConfig(44100, kBeModeStereo);
  c.Set(be_config::dwBitrate, 0);
  c.Set(be_config::bEnableVBR, -1);
  c.Set(be_config::bWriteVBRHeader, -1);
  c.Set(be_config::nVbrMethod, kBeVbrMethodNew);
  c.Set(be_config::nVBRQuality, 4);
  const std::vector<uint8_t> stream = EncodeInMemory(c, 2);
  ASSERT_FALSE(stream.empty());

  // An ID3v2.3 tag of 20 bytes (its header and 10 bytes of padding).
  std::vector<uint8_t> file = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 10};
  file.resize(20, 0);
  file.insert(file.end(), stream.begin(), stream.end());
  const fs::path path = dir / "id3v2.mp3";
  WriteFile(path, file);
  ASSERT_EQ(beWriteVBRHeader(path.string().c_str()), kBeErrSuccessful);

  const auto written = ReadFile(path);
  ASSERT_EQ(written.size(), file.size());
  EXPECT_TRUE(std::equal(file.begin(), file.begin() + 20, written.begin())) << "the ID3v2 tag is untouched";
  const std::vector<uint8_t> audio(written.begin() + 20, written.end());
  const TStreamLayout s = ParseStream(audio);
  ASSERT_GT(s.Frames.size(), 2u);
  const auto xing = ParseXing(audio, s.Frames[0]);
  ASSERT_TRUE(xing);
  EXPECT_EQ(xing->Id, "Xing");
  EXPECT_EQ(xing->Frames, s.Frames.size() - 1);
  EXPECT_TRUE(std::equal(stream.begin() + static_cast<std::ptrdiff_t>(s.Frames[0].Length), stream.end(),
                         audio.begin() + static_cast<std::ptrdiff_t>(s.Frames[0].Length)))
      << "only the first frame changes";

  // The header was written once; a second call has none to write.
  EXPECT_EQ(beWriteVBRHeader(path.string().c_str()), kBeErrInvalidHandle);
}

TEST(Mp3EncoderConfig, TheVbrHeaderNeedsAVbrStreamAndAFrameToOverwrite) {
  TTempDir dir;
  const fs::path text = dir / "text.mp3";
  WriteFile(text, std::vector<uint8_t>(4000, 'x'));
  // A CBR stream leaves no header to write.
  EncodeInMemory(BaseConfig(44100, kBeModeStereo), 2);
  EXPECT_EQ(beWriteVBRHeader(text.string().c_str()), kBeErrInvalidHandle);

  TBeConfig c = BaseConfig(44100, kBeModeMono);
  c.Set(be_config::bEnableVBR, -1);
  c.Set(be_config::bWriteVBRHeader, -1);
  EncodeInMemory(c, 1);
  EXPECT_EQ(beWriteVBRHeader(text.string().c_str()), kBeErrFile);
  EXPECT_EQ(ReadFile(text), std::vector<uint8_t>(4000, 'x'));
  EncodeInMemory(c, 1);
  EXPECT_EQ(beWriteVBRHeader((dir / "missing.mp3").string().c_str()), kBeErrFile);
}

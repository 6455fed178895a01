// The media runtime layer on its own: the reader against ffmpeg's decode of
// the same files, its formats, attributes, range start and hostile bytes;
// the writer's codec list and the files it writes, read back by ffprobe.
#include <gtest/gtest.h>

#include <random>

#include "platform/media_writer.h"
#include "tests/media/media_test_support.h"

using namespace mediatest;
using media::TMediaReader;
using media::TPcmFormat;

namespace {

// Opens, selects Format on the first audio output and reads every block.
std::vector<uint8_t> DecodeAll(TMediaReader& reader, const TPcmFormat& format) {
  std::vector<uint8_t> out;
  int output = -1;
  for (int i = 0; i < reader.OutputCount(); ++i)
    if (reader.OutputIsAudio(i)) output = i;
  EXPECT_GE(output, 0);
  if (output < 0) return out;
  EXPECT_TRUE(reader.SetOutputFormat(output, format));
  const int stream = reader.StreamNumber(output);
  EXPECT_TRUE(reader.SetReadStreamSamples(stream, false));
  const uint8_t* data = nullptr;
  std::size_t size = 0;
  while (reader.GetNextSample(stream, data, size)) out.insert(out.end(), data, data + size);
  return out;
}

class MediaReaderTest : public ::testing::Test {
 protected:
  TTempDir Dir;
};

TEST_F(MediaReaderTest, DecodesMp3AndWmaAsFfmpegDoes) {
  const fs::path stereo = MakeWav(Dir, "s.wav", 44100, 2, 2.5);
  const fs::path mono = MakeWav(Dir, "m.wav", 22050, 1, 1.3);
  const std::vector<fs::path> files = {
      MakeLameMp3(Dir, "cbr.mp3", stereo, "-b 128"),
      MakeLameMp3(Dir, "vbr.mp3", stereo, "-V 2"),
      MakeLameMp3(Dir, "mono.mp3", mono, "-b 64"),
      Encode(Dir, "v2.wma", stereo, "-c:a wmav2 -b:a 128k"),
      Encode(Dir, "v1.wma", mono, "-c:a wmav1 -b:a 48k"),
  };
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    TBytes bytes(ReadFile(file));
    TMediaReader reader;
    ASSERT_TRUE(reader.OpenStream(bytes));
    int output = 0;
    while (!reader.OutputIsAudio(output)) ++output;
    const TPcmFormat own = reader.CurrentFormat(output);
    EXPECT_EQ(own.SampleRate, std::stoi(Probe(file, "sample_rate")));
    EXPECT_EQ(own.Channels, std::stoi(Probe(file, "channels")));
    EXPECT_EQ(own.BitsPerSample, 16);
    EXPECT_EQ(DecodeAll(reader, own), FfmpegDecode(file, "s16le"));
  }
}

TEST_F(MediaReaderTest, DiscreteOutputAndSpeakerConfigWidenTheFormats) {
  const fs::path file = MakeLameMp3(Dir, "a.mp3", MakeWav(Dir, "a.wav", 48000, 2, 1.0), "-b 192");
  TBytes bytes(ReadFile(file));
  TMediaReader reader;
  ASSERT_TRUE(reader.OpenStream(bytes));
  EXPECT_EQ(reader.Formats(0), (std::vector<TPcmFormat>{{2, 48000, 16}}));
  reader.SetDiscreteOutput(0, true);
  reader.SetSpeakerConfig(0, 6);
  const auto formats = reader.Formats(0);
  ASSERT_EQ(formats.size(), 6u);
  EXPECT_EQ(formats.back(), (TPcmFormat{6, 48000, 32}));
  EXPECT_FALSE(reader.SetOutputFormat(0, {8, 48000, 16}));

  // 24 bits are the top three bytes of ffmpeg's 32-bit decode; six channels
  // are the stereo mixed up by libswresample, so front left and right carry
  // the signal.
  const auto wide = DecodeAll(reader, {2, 48000, 24});
  const auto ref = FfmpegDecode(file, "s32le");
  ASSERT_EQ(wide.size() / 3, ref.size() / 4);
  for (std::size_t i = 0; i < ref.size() / 4; i += 997) ASSERT_EQ(0, std::memcmp(&wide[3 * i], &ref[4 * i + 1], 3));

  TBytes again(ReadFile(file));
  ASSERT_TRUE(reader.OpenStream(again));
  reader.SetDiscreteOutput(0, true);
  reader.SetSpeakerConfig(0, 6);
  const auto six = AsInt16(DecodeAll(reader, {6, 48000, 16}));
  ASSERT_EQ(six.size() / 6, ref.size() / 8);
  int64_t frontEnergy = 0;
  for (std::size_t f = 0; f < six.size() / 6; ++f) frontEnergy += std::abs(six[6 * f]) + std::abs(six[6 * f + 1]);
  EXPECT_GT(frontEnergy, 0);
}

TEST_F(MediaReaderTest, AttributesUnderTheirAsfNamesDurationAndBitrate) {
  const fs::path wav = MakeWav(Dir, "a.wav", 44100, 2, 3.0);
  const fs::path wma = Encode(Dir, "t.wma", wav,
                              "-c:a wmav2 -b:a 96k -metadata title=Song -metadata artist=Band -metadata album=Disc "
                              "-metadata genre=Rock -metadata WM/Year=1999 -metadata WM/Track=7 "
                              "-metadata copyright=Notice");
  TBytes bytes(ReadFile(wma));
  TMediaReader reader;
  ASSERT_TRUE(reader.OpenStream(bytes));
  EXPECT_EQ(reader.Attribute("Title"), "Song");
  EXPECT_EQ(reader.Attribute("Author"), "Band");
  EXPECT_EQ(reader.Attribute("WM/AlbumTitle"), "Disc");
  EXPECT_EQ(reader.Attribute("WM/Genre"), "Rock");
  EXPECT_EQ(reader.Attribute("WM/Year"), "1999");
  EXPECT_EQ(reader.Attribute("WM/Track"), "7");
  EXPECT_EQ(reader.Attribute("Copyright"), "Notice");
  EXPECT_EQ(reader.Attribute("WM/Composer"), std::nullopt);
  ASSERT_TRUE(reader.Duration());
  EXPECT_NEAR(static_cast<double>(*reader.Duration()) / 1e7, std::stod(ProbeFormat(wma, "duration")), 0.001);
  ASSERT_TRUE(reader.Bitrate());
  EXPECT_EQ(*reader.Bitrate(), std::stoul(Probe(wma, "bit_rate")));
}

TEST_F(MediaReaderTest, OpensFromTheStreamPositionSoLeadingBytesCanBeSkipped) {
  const fs::path mp3 = MakeLameMp3(Dir, "a.mp3", MakeWav(Dir, "a.wav", 44100, 1, 1.0), "-b 96");
  std::vector<uint8_t> data(30, 0x5A);
  const auto file = ReadFile(mp3);
  data.insert(data.end(), file.begin(), file.end());
  TBytes bytes(data);
  ASSERT_EQ(bytes.Seek(30, media::TMediaByteStream::TOrigin::Begin), 30);
  TMediaReader reader;
  ASSERT_TRUE(reader.OpenStream(bytes));
  EXPECT_EQ(DecodeAll(reader, reader.CurrentFormat(0)), FfmpegDecode(mp3, "s16le"));
}

TEST_F(MediaReaderTest, RangeStartLandsWithinTenMilliseconds) {
  const fs::path wav = MakeWav(Dir, "a.wav", 44100, 2, 6.0);
  for (const fs::path& file :
       {MakeLameMp3(Dir, "c.mp3", wav, "-b 128"), MakeLameMp3(Dir, "v.mp3", wav, "-V 2"),
        Encode(Dir, "w.wma", wav, "-c:a wmav2 -b:a 128k")}) {
    SCOPED_TRACE(file.filename().string());
    const auto full = AsInt16(FfmpegDecode(file, "s16le"));
    TBytes bytes(ReadFile(file));
    TMediaReader reader;
    ASSERT_TRUE(reader.OpenStream(bytes));
    ASSERT_TRUE(reader.SetOutputFormat(0, {2, 44100, 16}));
    ASSERT_TRUE(reader.SetReadStreamSamples(1, false));
    ASSERT_TRUE(reader.SetRange(37000000, 0));  // 3.7 s
    std::vector<uint8_t> part;
    const uint8_t* data = nullptr;
    std::size_t size = 0;
    while (part.size() < 44100 * 4 && reader.GetNextSample(1, data, size)) part.insert(part.end(), data, data + size);
    // After the decoder settles (a few frames) the samples are ffmpeg's own
    // at the asked position, give or take 441 frames.
    const long d = MatchOffset(full, AsInt16(part), 2, 163170, 441, 8192, 4000);
    EXPECT_NE(d, -1000000);
  }
}

TEST_F(MediaReaderTest, HostileBytesFailToOpenOrEnd) {
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    std::vector<uint8_t> data(static_cast<std::size_t>(random() % 20000));
    for (auto& b : data) b = static_cast<uint8_t>(random());
    if (round % 2) {
      // An MP3 frame header repeated: the reader finds frames of noise.
      for (std::size_t i = 0; i + 4 < data.size(); i += 417) {
        data[i] = 0xFF;
        data[i + 1] = 0xFB;
        data[i + 2] = 0x90;
      }
    }
    TBytes bytes(data);
    TMediaReader reader;
    if (!reader.OpenStream(bytes)) continue;
    for (int i = 0; i < reader.OutputCount(); ++i) {
      if (!reader.OutputIsAudio(i)) continue;
      const auto formats = reader.Formats(i);
      if (formats.empty() || !reader.SetOutputFormat(i, formats[0])) continue;
      if (!reader.SetReadStreamSamples(reader.StreamNumber(i), false)) continue;
      const uint8_t* p = nullptr;
      std::size_t size = 0;
      int blocks = 0;
      while (reader.GetNextSample(reader.StreamNumber(i), p, size)) ASSERT_LT(++blocks, 100000);
    }
  }
}

TEST(MediaCodecInfoTest, ListsWmaV2FormatsAndRefusesVbr) {
  media::TMediaCodecInfo info;
  ASSERT_EQ(info.CodecCount(), 1);
  EXPECT_FALSE(info.SetVbrEnabled(0, true));
  EXPECT_TRUE(info.SetVbrEnabled(0, false));
  int count = 0;
  bool has44StereoAt128 = false;
  while (auto f = info.Format(0, count)) {
    EXPECT_EQ(f->Subtype, media::kWmaAudioV2Subtype);
    EXPECT_GE(f->Bitrate, 32000u);
    EXPECT_LE(f->SampleRate, 48000);
    has44StereoAt128 |= f->SampleRate == 44100 && f->Channels == 2 && f->BitsPerSample == 16 && f->Bitrate == 128000;
    ++count;
  }
  EXPECT_EQ(count, 7 * 2 * 4 * 10);
  EXPECT_TRUE(has44StereoAt128);
  EXPECT_FALSE(info.VbrQuality(0, 0));
}

class MediaWriterTest : public ::testing::Test {
 protected:
  TTempDir Dir;
};

TEST_F(MediaWriterTest, WritesWmaV2WithAttributesThatFfmpegReads) {
  const fs::path wav = MakeWav(Dir, "in.wav", 44100, 2, 2.0, 24);
  const auto pcm = FfmpegDecode(wav, "s24le");
  const fs::path out = Dir / "out.wma";
  media::TMediaWriter writer;
  ASSERT_TRUE(writer.OpenFile(out));
  ASSERT_TRUE(writer.SetProfile({0, media::kWmaAudioV2Subtype, 2, 44100, 24, 128000}, 1, "NAAudioStream",
                                "NAAudioConnection"));
  ASSERT_TRUE(writer.InputIsAudio(0));
  ASSERT_TRUE(writer.SetInputProps(0, {2, 44100, 24}));
  const std::u16string title = u"Tïtle";
  ASSERT_TRUE(writer.SetAttribute("Title", title.data(), title.size() * 2));
  const std::u16string year = u"2001";
  ASSERT_TRUE(writer.SetAttribute("WM/Year", year.data(), year.size() * 2));
  ASSERT_EQ(writer.BeginWriting(), media::kMediaOk);
  const std::size_t block = 2 * 3 * 3528;
  int64_t time = 0;
  for (std::size_t at = 0; at < pcm.size(); at += block) {
    const std::size_t n = std::min(block, pcm.size() - at);
    time += static_cast<int64_t>(n) * 10000000 / (2 * 3 * 44100);
    ASSERT_EQ(writer.WriteSample(0, time, pcm.data() + at, n), media::kMediaOk);
  }
  ASSERT_EQ(writer.EndWriting(), media::kMediaOk);
  EXPECT_EQ(Probe(out, "codec_name"), "wmav2");
  EXPECT_EQ(Probe(out, "sample_rate"), "44100");
  EXPECT_EQ(Probe(out, "channels"), "2");
  EXPECT_EQ(ProbeTag(out, "title"), "Tïtle");
  EXPECT_EQ(ProbeTag(out, "WM/Year"), "2001");
  const auto decoded = FfmpegDecode(out, "s16le");
  const long frames = static_cast<long>(decoded.size() / 4);
  EXPECT_NEAR(frames, 88200 - 2048, 2048);
}

TEST_F(MediaWriterTest, RefusesWhatTheEncoderCannotTake) {
  media::TMediaWriter writer;
  EXPECT_FALSE(writer.OpenFile(Dir / "missing-folder" / "x.wma"));
  EXPECT_FALSE(writer.SetProfile({0, media::kWmaLosslessSubtype, 2, 44100, 16, 128000}, 1, "a", "b"));
  EXPECT_FALSE(writer.SetProfile({0, media::kWmaAudioV2Subtype, 6, 44100, 16, 128000}, 1, "a", "b"));
  EXPECT_FALSE(writer.SetProfile({0, media::kWmaAudioV2Subtype, 2, 96000, 16, 128000}, 1, "a", "b"));
  EXPECT_NE(writer.BeginWriting(), media::kMediaOk);
  uint8_t pcm[4] = {};
  EXPECT_NE(writer.WriteSample(0, 0, pcm, 4), media::kMediaOk);
}

}  // namespace

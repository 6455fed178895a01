#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>

#include "codecs/wav_in.h"
#include "codecs/wave_converter.h"
#include "pipeline/au_exception.h"
#include "pipeline/au_memory_stream.h"
#include "platform/compression_manager.h"
#include "tests/support/support.h"

using namespace qmtest;

namespace {

constexpr const char* Tone = "sine=frequency=440:sample_rate=44100:duration=0.7";

struct TOpened {
  TWavType Type;
  int Channels, Bits, Rate;
  int64_t Size;
  bool Valid;
};

TOpened Open(TWaveIn& in) {
  TOpened o;
  o.Channels = in.Channels();
  o.Bits = in.BitsPerSample();
  o.Rate = in.SampleRate();
  o.Type = in.WavType();
  o.Size = in.Size;
  o.Valid = in.Valid;
  return o;
}

// Reads bytes from a memory image through a caller stream.
std::vector<uint8_t> ReadImage(const std::vector<uint8_t>& image, TOpened* opened = nullptr) {
  TAuMemoryStream stream(image);
  TWaveIn in;
  in.SetStream(&stream);
  if (opened) *opened = Open(in);
  return ReadAll(in);
}

int32_t FloatToInt32Reference(double x) {
  if (x >= 1.0) return 2147483647;
  if (x <= -1.0) return INT32_MIN;
  if (x == 0) return 0;
  return static_cast<int32_t>(std::floor(x * 2147483647.0));
}

}  // namespace

// Integer PCM of every width comes out exactly as ffmpeg decodes it.
TEST(WaveInTest, IntegerPcmMatchesFfmpeg) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  struct Case {
    const char* codec;
    const char* raw;
    int bits;
  } cases[] = {{"pcm_u8", "u8", 8}, {"pcm_s16le", "s16le", 16}, {"pcm_s24le", "s24le", 24}, {"pcm_s32le", "s32le", 32}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codec);
    const auto file = dir / (std::string(c.codec) + ".wav");
    FfmpegGenerate(Tone, std::string("-ac 2 -c:a ") + c.codec, file);
    TWaveIn in;
    in.SetFileName(file.string());
    const TOpened o = Open(in);
    // ffmpeg writes the extensible header above 16 bits.
    EXPECT_EQ(o.Type, c.bits > 16 ? TWavType::wtExtPCM : TWavType::wtPCM);
    EXPECT_EQ(o.Bits, c.bits);
    EXPECT_EQ(o.Channels, 2);
    EXPECT_EQ(o.Rate, 44100);
    EXPECT_TRUE(o.Valid);
    EXPECT_EQ(in.TotalSamples(), 30870);
    const auto ours = ReadAll(in, 10000);
    EXPECT_EQ(ours, FfmpegDecode(file, std::string(c.raw) + " -c:a pcm_" + c.raw));
  }
}

// Float files become 32-bit integers: floor(x * 2147483647), full scale and
// beyond clamped to the integer limits.
TEST(WaveInTest, FloatFilesConvertToInt32) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  for (const char* codec : {"pcm_f32le", "pcm_f64le"}) {
    SCOPED_TRACE(codec);
    const bool single = std::string(codec) == "pcm_f32le";
    const auto file = dir / (std::string(codec) + ".wav");
    FfmpegGenerate("aevalsrc=1.5*sin(2*PI*441*t):s=44100:d=0.3", std::string("-c:a ") + codec, file);
    TWaveIn in;
    in.SetFileName(file.string());
    const TOpened o = Open(in);
    EXPECT_TRUE(o.Type == TWavType::wtIEEEFloat || o.Type == TWavType::wtExtIEEEFloat);
    EXPECT_EQ(o.Bits, 32);
    const int64_t dataBytes = 13230 * (single ? 4 : 8);
    EXPECT_EQ(o.Size, single ? dataBytes : dataBytes / 2);
    const auto ours = ReadAll(in);
    const auto raw = FfmpegDecode(file, single ? "f32le -c:a pcm_f32le" : "f64le -c:a pcm_f64le");
    const size_t n = raw.size() / (single ? 4 : 8);
    ASSERT_EQ(ours.size(), n * 4);
    int clipped = 0;
    for (size_t i = 0; i < n; ++i) {
      double x;
      if (single) {
        float f;
        std::memcpy(&f, raw.data() + 4 * i, 4);
        x = f;
      } else {
        std::memcpy(&x, raw.data() + 8 * i, 8);
      }
      int32_t got;
      std::memcpy(&got, ours.data() + 4 * i, 4);
      ASSERT_EQ(got, FloatToInt32Reference(x)) << i;
      clipped += std::abs(x) >= 1.0;
    }
    EXPECT_GT(clipped, 100);
  }
}

TEST(WaveInTest, ExtensibleSixChannels24Bit) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  const auto file = dir / "ext.wav";
  FfmpegGenerate(Tone, "-ac 6 -c:a pcm_s24le", file);
  TWaveIn in;
  in.SetFileName(file.string());
  const TOpened o = Open(in);
  EXPECT_EQ(o.Type, TWavType::wtExtPCM);
  EXPECT_EQ(o.Channels, 6);
  EXPECT_EQ(o.Bits, 24);
  in.Init();
  void* buffer = nullptr;
  uint32_t bytes = 1 << 20;
  in.GetData(buffer, bytes);
  EXPECT_EQ(bytes, 16380u);  // whole 18-byte frames of the 16384-byte buffer
  in.Flush();
  EXPECT_EQ(ReadAll(in), FfmpegDecode(file, "s24le -c:a pcm_s24le"));
}

TEST(WaveInTest, MicrosoftAdpcmMatchesFfmpeg) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  for (int channels : {1, 2}) {
    SCOPED_TRACE(channels);
    const auto file = dir / ("ms" + std::to_string(channels) + ".wav");
    FfmpegGenerate("sine=frequency=1234:sample_rate=22050:duration=1.3", "-ac " + std::to_string(channels) + " -c:a adpcm_ms",
           file);
    TWaveIn in;
    in.SetFileName(file.string());
    const TOpened o = Open(in);
    EXPECT_EQ(o.Type, TWavType::wtMSADPCM);
    EXPECT_EQ(o.Bits, 16);
    const auto ours = ReadAll(in);
    // Size comes from the "fact" frame count.
    EXPECT_EQ(static_cast<int64_t>(ours.size()), o.Size);
    EXPECT_GE(o.Size, 28665 * 2 * channels);
    auto theirs = FfmpegDecode(file, "s16le");
    // ffmpeg decodes the padding of the last block too; the fact count cuts it.
    ASSERT_GE(theirs.size(), ours.size());
    theirs.resize(ours.size());
    EXPECT_EQ(ours, theirs);
  }
}

// The IMA reconstruction is the reference one (step/8 plus step, step/2,
// step/4 by the code's bits), as sox decodes it; FFmpeg rounds
// (2 x code + 1) x step / 8 instead and lands a few units away.
TEST(WaveInTest, ImaAdpcmMatchesSoxAndIsCloseToFfmpeg) {
  QM_REQUIRE_TOOLS("ffmpeg", "sox");
  TTempDir dir;
  for (int channels : {1, 2}) {
    SCOPED_TRACE(channels);
    const auto file = dir / ("ima" + std::to_string(channels) + ".wav");
    FfmpegGenerate("sine=frequency=700:sample_rate=44100:duration=1.1", "-ac " + std::to_string(channels) + " -c:a adpcm_ima_wav",
           file);
    TWaveIn in;
    in.SetFileName(file.string());
    const TOpened o = Open(in);
    EXPECT_EQ(o.Type, TWavType::wtDVIADPCM);
    EXPECT_TRUE(o.Valid);
    const auto ours = AsInt16(ReadAll(in));
    ASSERT_EQ(ours.size(), static_cast<size_t>(o.Size / 2));
    const auto sox = AsInt16(SoxDecode(file));
    ASSERT_GE(sox.size(), ours.size());
    for (size_t i = 0; i < ours.size(); ++i) {
      // Only the clamp differs: this decoder stops at -32767, sox at -32768.
      if (ours[i] != sox[i]) {
        ASSERT_TRUE(ours[i] == -32767 && sox[i] == -32768) << i;
      }
    }
    const auto ffmpeg = AsInt16(FfmpegDecode(file, "s16le"));
    ASSERT_GE(ffmpeg.size(), ours.size());
    EXPECT_GT(Correlation(ours, ffmpeg, ours.size()), 0.999);
  }
}

TEST(WaveInTest, MpegLayer3InWaveDecodes) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  const auto file = dir / "mp3.wav";
  FfmpegGenerate("sine=frequency=440:sample_rate=44100:duration=2", "-ac 2 -c:a libmp3lame -b:a 128k -f wav", file);
  TWaveIn in;
  in.SetFileName(file.string());
  const TOpened o = Open(in);
  EXPECT_EQ(o.Type, TWavType::wtACM);
  EXPECT_TRUE(o.Valid);
  EXPECT_EQ(o.Bits, 16);
  EXPECT_EQ(o.Channels, 2);
  EXPECT_EQ(o.Rate, 44100);
  const auto ours = AsInt16(ReadAll(in));
  const auto theirs = AsInt16(FfmpegDecode(file, "s16le"));
  const long frameDiff = std::labs(static_cast<long>(ours.size() / 2) - static_cast<long>(theirs.size() / 2));
  EXPECT_LE(frameDiff, 1152);
  const size_t n = std::min(ours.size(), theirs.size());
  EXPECT_GT(Correlation(ours, theirs, n), 0.999);
  // The length is that of the decoded frames, without a tail of silence.
  EXPECT_EQ(o.Size, static_cast<int64_t>(ours.size() * 2));
}

TEST(WaveInTest, ChunkIdsMatchAnyCaseAndJunkBeforeRiffIsSkipped) {
  std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8};
  auto image = PcmWave(1, 8000, 16, data);
  std::memcpy(image.data(), "riff", 4);
  std::memcpy(image.data() + 8, "Wave", 4);
  std::memcpy(image.data() + 12, "FMT ", 4);
  std::memcpy(image.data() + 36, "DATA", 4);
  std::vector<uint8_t> junk(100 + image.size(), 0x55);
  std::copy(image.begin(), image.end(), junk.begin() + 100);
  TOpened o;
  EXPECT_EQ(ReadImage(junk, &o), data);
  EXPECT_EQ(o.Type, TWavType::wtPCM);
  EXPECT_TRUE(o.Valid);
}

TEST(WaveInTest, ChunksBetweenFormatAndDataAreReadThroughWithinTheBuffer) {
  std::vector<uint8_t> data(64, 9);
  auto build = [&](size_t listSize) {
    std::vector<uint8_t> chunks;
    PutChunk(chunks, "fmt ", FormatBody(1, 2, 44100, 4, 16));
    PutChunk(chunks, "LIST", std::vector<uint8_t>(listSize, 'x'));
    PutChunk(chunks, "data", data);
    return Riff(chunks);
  };
  TOpened o;
  EXPECT_EQ(ReadImage(build(1000), &o), data);
  EXPECT_EQ(o.Type, TWavType::wtPCM);
  EXPECT_TRUE(ReadImage(build(4100), &o).empty());
  EXPECT_EQ(o.Type, TWavType::wtUnsupported);
  EXPECT_FALSE(o.Valid);
  EXPECT_EQ(o.Size, 0);
}

// Hostile or out-of-table headers: refused with no data, never an overrun.
TEST(WaveInTest, HeadersOutsideTheTablesAreRefused) {
  auto adpcm = [](uint16_t tag, uint16_t channels, uint16_t blockAlign, uint16_t bits, std::vector<uint8_t> extra,
                  uint32_t fact, std::vector<uint8_t> data) {
    std::vector<uint8_t> chunks, f;
    PutChunk(chunks, "fmt ", FormatBody(tag, channels, 22050, blockAlign, bits, extra));
    Put32(f, fact);
    PutChunk(chunks, "fact", f);
    PutChunk(chunks, "data", data);
    return Riff(chunks);
  };
  auto msExtra = [](uint16_t samplesPerBlock, uint16_t numCoef, uint16_t storedPairs) {
    std::vector<uint8_t> e;
    Put16(e, static_cast<uint16_t>(4 + 4 * storedPairs));
    Put16(e, samplesPerBlock);
    Put16(e, numCoef);
    for (int i = 0; i < storedPairs; ++i) {
      Put16(e, 256);
      Put16(e, 0);
    }
    return e;
  };
  auto imaExtra = [](uint16_t samplesPerBlock) {
    std::vector<uint8_t> e;
    Put16(e, 2);
    Put16(e, samplesPerBlock);
    return e;
  };
  std::vector<uint8_t> imaBlock(256, 0x11);
  imaBlock[2] = 89;  // step index beyond the table
  std::vector<uint8_t> msBlock(256, 0x22);
  msBlock[0] = 7;  // coefficient index, with 7 pairs declared... but only 1 given below

  struct Case {
    const char* what;
    std::vector<uint8_t> image;
  } cases[] = {
      {"IMA step index 89", adpcm(0x11, 1, 256, 4, imaExtra(505), 505, imaBlock)},
      {"MS coefficient index not below count", adpcm(2, 1, 256, 4, msExtra(500, 1, 1), 500, msBlock)},
      {"MS more than 32 pairs", adpcm(2, 1, 256, 4, msExtra(500, 33, 33), 500, msBlock)},
      {"MS pairs beyond the chunk", adpcm(2, 1, 256, 4, msExtra(500, 7, 1), 500, msBlock)},
      {"MS samples per block beyond the block", adpcm(2, 1, 256, 4, msExtra(600, 1, 1), 600, msBlock)},
      {"IMA samples per block beyond the block", adpcm(0x11, 1, 256, 4, imaExtra(600), 600, imaBlock)},
      {"IMA block beyond the decode buffer", adpcm(0x11, 1, 8192, 4, imaExtra(16377), 100, imaBlock)},
      {"IMA three channels", adpcm(0x11, 3, 256, 4, imaExtra(100), 100, imaBlock)},
      {"MS three channels", adpcm(2, 3, 256, 4, msExtra(100, 1, 1), 100, msBlock)},
      {"fact size overflows 32 bits", adpcm(0x11, 2, 256, 4, imaExtra(249), 0x40000000, imaBlock)},
      {"zero channels", PcmWave(0, 8000, 16, std::vector<uint8_t>(64, 1))},
      {"zero bits", PcmWave(2, 8000, 0, std::vector<uint8_t>(64, 1))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TOpened o;
    EXPECT_TRUE(ReadImage(c.image, &o).empty());
    EXPECT_FALSE(o.Valid);
  }
}

// Found by fuzzing: a stereo IMA block whose payload ends in half a group.
TEST(WaveInTest, StereoImaBlockWithPartialGroupDecodesWholeGroupsOnly) {
  std::vector<uint8_t> chunks, extra, fact, block(20, 0x31);
  block[2] = block[6] = 10;
  block[3] = block[7] = 0;
  Put16(extra, 2);
  Put16(extra, 9);
  PutChunk(chunks, "fmt ", FormatBody(0x11, 2, 8000, 20, 4, extra));
  Put32(fact, 9);
  PutChunk(chunks, "fact", fact);
  PutChunk(chunks, "data", block);
  TOpened o;
  const auto got = ReadImage(Riff(chunks), &o);
  EXPECT_TRUE(o.Valid);
  EXPECT_EQ(got.size(), 9u * 4);
}

TEST(WaveInTest, RangesSeekingAndLooping) {
  std::vector<uint8_t> data;
  for (int i = 0; i < 1000; ++i) Put16(data, static_cast<uint16_t>(i));
  const auto image = PcmWave(1, 8000, 16, data);
  TAuMemoryStream stream(image);
  TWaveIn in;
  in.SetStream(&stream);
  in.StartSample = 100;
  in.EndSample = 199;
  auto got = AsInt16(ReadAll(in));
  ASSERT_EQ(got.size(), 100u);
  EXPECT_EQ(got.front(), 100);
  EXPECT_EQ(got.back(), 199);
  // The range was for one run only.
  EXPECT_EQ(in.StartSample, 0);
  EXPECT_EQ(in.EndSample, -1);
  EXPECT_EQ(AsInt16(ReadAll(in)).size(), 1000u);

  // Looping starts over without an end of data.
  in.Loop = true;
  in.Init();
  std::vector<uint8_t> looped;
  while (looped.size() < 5000) {
    void* buffer = nullptr;
    uint32_t bytes = 700;
    in.GetData(buffer, bytes);
    ASSERT_GT(bytes, 0u);
    looped.insert(looped.end(), static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + bytes);
  }
  in.Flush();
  const auto v = AsInt16(looped);
  EXPECT_EQ(v[999], 999);
  EXPECT_EQ(v[1000], 0);
}

TEST(WaveInTest, ImaSeekLandsOnTheBlockStart) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  const auto file = dir / "ima.wav";
  FfmpegGenerate("sine=frequency=300:sample_rate=22050:duration=0.5", "-ac 2 -c:a adpcm_ima_wav -block_size 512", file);
  TWaveIn in;
  in.SetFileName(file.string());
  const auto all = AsInt16(ReadAll(in));
  in.Init();
  ASSERT_TRUE(in.Seek(1000));
  void* buffer = nullptr;
  uint32_t bytes = 4;
  in.GetData(buffer, bytes);
  ASSERT_EQ(bytes, 4u);
  int16_t frame[2];
  std::memcpy(frame, buffer, 4);
  EXPECT_EQ(frame[0], all[505 * 2]);  // block 1 holds frames 505..1009
  EXPECT_EQ(frame[1], all[505 * 2 + 1]);
  in.Flush();
}

TEST(WaveInTest, FloatAndExtensibleFilesDoNotSeek) {
  std::vector<uint8_t> chunks, data(64, 0);
  PutChunk(chunks, "fmt ", FormatBody(3, 1, 8000, 4, 32));
  PutChunk(chunks, "data", data);
  TAuMemoryStream stream(Riff(chunks));
  TWaveIn in;
  in.SetStream(&stream);
  in.Init();
  EXPECT_FALSE(in.Seek(3));
  in.Flush();
}

// A caller stream that cannot seek ends IMA data with a nil buffer.
TEST(WaveInTest, UnseekableImaStreamEndsCleanly) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  const auto file = dir / "ima.wav";
  FfmpegGenerate("sine=frequency=300:sample_rate=22050:duration=0.3", "-ac 1 -c:a adpcm_ima_wav", file);
  TAuMemoryStream stream(ReadFile(file));
  TWaveIn in;
  in.Seekable = false;
  in.SetStream(&stream);
  EXPECT_EQ(in.WavType(), TWavType::wtUnsupported);
  const auto got = ReadAll(in);
  EXPECT_EQ(in.WavType(), TWavType::wtDVIADPCM);
  EXPECT_FALSE(got.empty());
}

TEST(WaveInTest, MissingFileRaisesTheSystemError) {
  TWaveIn in;
  in.SetFileName("/nonexistent/dir/x.wav");
  EXPECT_THROW(in.Channels(), EAuException);
}

namespace {

// MPEG Layer 3 data inside a WAV file (tag $55) whose header claims the
// given average byte rate; the "fact" frame count is not used for it.
std::vector<uint8_t> Mp3InWave(const std::vector<uint8_t>& mp3, uint16_t channels, uint32_t rate,
                               uint32_t bytesPerSecond) {
  std::vector<uint8_t> fmt, fact, chunks;
  Put16(fmt, 0x55);
  Put16(fmt, channels);
  Put32(fmt, rate);
  Put32(fmt, bytesPerSecond);
  Put16(fmt, 1);
  Put16(fmt, 0);
  Put16(fmt, 12);
  // The MPEG Layer 3 extra bytes: ID, flags, block size, frames per block, codec delay.
  Put16(fmt, 1);
  Put32(fmt, 2);
  Put16(fmt, 1044);
  Put16(fmt, 1);
  Put16(fmt, 1393);
  Put32(fact, 0);
  PutChunk(chunks, "fmt ", fmt);
  PutChunk(chunks, "fact", fact);
  PutChunk(chunks, "data", mp3);
  return Riff(chunks);
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

// A read that fails part-way through a file is the failure it is, never the
// end of the data, in every way the reader reads: PCM, float, both ADPCM
// kinds and the MPEG Layer 3 conversion; in the header too.
TEST(WaveInTest, ReadErrorsRaiseTheSystemErrorInEveryPath) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  const std::string eio = std::strerror(EIO);
  struct Case {
    const char* name;
    const char* options;
  } cases[] = {{"pcm", "-ac 2 -c:a pcm_s16le"},        {"float32", "-ac 2 -c:a pcm_f32le"},
               {"float64", "-ac 1 -c:a pcm_f64le"},    {"ima", "-ac 2 -c:a adpcm_ima_wav"},
               {"msadpcm", "-ac 1 -c:a adpcm_ms"},     {"mp3", "-ac 2 -c:a libmp3lame -b:a 128k -f wav"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = dir / (std::string(c.name) + ".wav");
    FfmpegGenerate("sine=frequency=440:sample_rate=44100:duration=1.5", c.options, file);
    const int64_t size = static_cast<int64_t>(fs::file_size(file));

    TWaveIn byName;
    byName.SetFileName(file.string());
    const auto whole = ReadAll(byName);
    ASSERT_FALSE(whole.empty());
    {
      // Without a failure the faulty stream is the file itself.
      auto stream = FaultyFile(file, -1);
      TWaveIn in;
      in.SetStream(stream.get());
      EXPECT_EQ(ReadAll(in), whole);
    }
    for (const int64_t failAt : {size * 6 / 10, int64_t{30}}) {
      SCOPED_TRACE(failAt);
      auto stream = FaultyFile(file, failAt);
      TWaveIn in;
      in.SetStream(stream.get());
      EXPECT_EQ(ErrorOf([&] { ReadAll(in); }), eio);
      in.Reset();
    }
    {
      // An open that failed keeps nothing open: the next query reads again.
      auto stream = FaultyFile(file, 30);
      TWaveIn in;
      in.SetStream(stream.get());
      EXPECT_EQ(ErrorOf([&] { in.Channels(); }), eio);
      EXPECT_EQ(in.OpenCount, 0);
      stream->FailAt = -1;
      EXPECT_EQ(in.Channels(), c.name == std::string("float64") || c.name == std::string("msadpcm") ? 1 : 2);
    }
  }
}

// A VBR file whose header claims 320 kbit/s: the whole data chunk is decoded,
// sample for sample what ffmpeg makes of the same MP3.
TEST(WaveInTest, VariableBitRateMpegInWaveDecodesToTheEnd) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  const auto mp3 = dir / "vbr.mp3";
  // A bare stream (no ID3 tag, no Xing frame), as WAV files carry it, so
  // that ffmpeg decodes every frame of it as the reader does.
  FfmpegGenerate("sine=frequency=440:sample_rate=44100:duration=20",
         "-ac 2 -c:a libmp3lame -q:a 7 -write_xing 0 -id3v2_version 0", mp3);
  const auto bytes = ReadFile(mp3);
  // Far below the claimed rate: the old estimate held a tenth of the frames.
  ASSERT_LT(bytes.size() * 8 / 20, 100000u);
  const auto file = dir / "vbr.wav";
  WriteFile(file, Mp3InWave(bytes, 2, 44100, 40000));
  TWaveIn in;
  in.SetFileName(file.string());
  const TOpened o = Open(in);
  EXPECT_EQ(o.Type, TWavType::wtACM);
  EXPECT_TRUE(o.Valid);
  const auto ours = ReadAll(in);
  const auto theirs = FfmpegDecode(mp3, "s16le");
  ASSERT_GE(theirs.size(), 20u * 44100 * 4);
  EXPECT_EQ(ours.size(), theirs.size());
  EXPECT_TRUE(ours == theirs);
  EXPECT_EQ(o.Size, static_cast<int64_t>(theirs.size()));
}

// A sample rate outside 1 Hz ... 768 kHz is a damaged header: the file is not
// valid and nothing of its format is taken.
TEST(WaveInTest, SampleRatesOutsideTheEngineRangeAreRefused) {
  const std::vector<uint8_t> data(64, 7);
  for (const uint32_t rate : {0u, 768001u, uint32_t{INT_MAX}, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(rate);
    TOpened o;
    EXPECT_TRUE(ReadImage(PcmWave(2, rate, 16, data), &o).empty());
    EXPECT_FALSE(o.Valid);
    EXPECT_EQ(o.Type, TWavType::wtUnsupported);
    EXPECT_EQ(o.Rate, 0);
    EXPECT_EQ(o.Channels, 0);
  }
  for (const uint32_t rate : {1u, 768000u}) {
    SCOPED_TRACE(rate);
    TOpened o;
    EXPECT_EQ(ReadImage(PcmWave(2, rate, 16, data), &o), data);
    EXPECT_TRUE(o.Valid);
    EXPECT_EQ(o.Rate, static_cast<int>(rate));
  }
}

// A conversion stopped by a full destination goes on where it stopped: the
// PCM handed out in small destinations is, byte for byte, that of one large
// destination, whether a decoded MPEG frame is split across them or not.
TEST(CompressionManagerTest, AConversionGoesOnAcrossFullDestinations) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  const auto mp3 = dir / "cbr.mp3";
  FfmpegGenerate("sine=frequency=440:sample_rate=44100:duration=2", "-ac 2 -c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0",
         mp3);
  std::vector<uint8_t> source = ReadFile(mp3);
  std::vector<uint8_t> sourceFormat, targetFormat(TWaveConverter::FormatRecordSize, 0);
  Put16(sourceFormat, 0x55);
  Put16(sourceFormat, 2);
  Put32(sourceFormat, 44100);
  Put32(sourceFormat, 16000);
  Put16(sourceFormat, 1);
  Put16(sourceFormat, 0);
  Put16(sourceFormat, 0);
  targetFormat[0] = 1;
  ASSERT_EQ(acmFormatSuggest(nullptr, sourceFormat.data(), targetFormat.data(), 129, AcmFormatSuggestWFormatTag),
            AcmNoError);
  auto convert = [&](size_t destBytes) {
    std::vector<uint8_t> pcm;
    HACMSTREAM stream = nullptr;
    EXPECT_EQ(acmStreamOpen(&stream, nullptr, sourceFormat.data(), targetFormat.data(), nullptr, 0, 0,
                            AcmStreamOpenNonRealtime),
              AcmNoError);
    size_t consumed = 0;
    for (int calls = 0; calls < 100000; ++calls) {
      std::vector<uint8_t> dest(destBytes);
      TAcmStreamHeader header;
      header.cbStruct = sizeof header;
      header.pbSrc = source.data() + consumed;
      header.cbSrcLength = static_cast<uint32_t>(source.size() - consumed);
      header.pbDst = dest.data();
      header.cbDstLength = static_cast<uint32_t>(dest.size());
      EXPECT_EQ(acmStreamPrepareHeader(stream, &header, 0), AcmNoError);
      EXPECT_EQ(acmStreamConvert(stream, &header, AcmStreamConvertBlockAlign | AcmStreamConvertEnd), AcmNoError);
      EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), AcmNoError);
      EXPECT_EQ(header.cbDstLengthUsed % 4, 0u) << "whole frames only";
      consumed += header.cbSrcLengthUsed;
      pcm.insert(pcm.end(), dest.begin(), dest.begin() + header.cbDstLengthUsed);
      if (header.cbDstLength - header.cbDstLengthUsed >= 4) break;
    }
    EXPECT_EQ(consumed, source.size());
    EXPECT_EQ(acmStreamClose(stream, 0), AcmNoError);
    return pcm;
  };
  const auto whole = convert(1 << 22);
  EXPECT_EQ(whole, FfmpegDecode(mp3, "s16le"));
  EXPECT_EQ(convert(4000), whole);      // less than one MPEG frame per destination
  EXPECT_EQ(convert(4 * 1152), whole);  // exactly one
  EXPECT_EQ(convert(4 * 1153), whole);
}

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <iostream>

#include "codecs/wav_in.h"
#include "codecs/wav_out.h"
#include "converters/audio_converter.h"
#include "converters/fast_resampler.h"
#include "pipeline/au_exception.h"
#include "tests/support/support.h"

using namespace qmtest;

namespace {

std::function<int32_t(int64_t, int)> Sine(double freq, double rate, double amplitude) {
  return [=](int64_t f, int) { return static_cast<int32_t>(std::lrint(amplitude * std::sin(2 * M_PI * freq * f / rate))); };
}

double Rms(const std::vector<int16_t>& v, size_t skip) {
  double s = 0;
  for (size_t i = skip; i < v.size(); ++i) s += double(v[i]) * v[i];
  return std::sqrt(s / double(v.size() - skip));
}

// The filter as a plain per-sample recursion over the whole signal, summing
// the feed-forward terms and then the feedback terms in extended precision
// and rounding each to single, then keeping every second frame.
std::vector<int16_t> ReferenceHalving(const std::vector<int16_t>& in, const TChebyshevCoefficients& c) {
  std::vector<float> x(in.size());
  for (size_t i = 0; i < in.size(); ++i) x[i] = in[i] * (1.0f / 32768.0f);
  for (int stage = 0; stage < 4; ++stage) {
    std::vector<float> y(x.size());
    for (size_t n = 0; n < x.size(); ++n) {
      long double ff = 0;
      for (int k = 4; k >= 0; --k) ff += (n >= size_t(k) ? (long double)c.A[k] * x[n - k] : 0.0L);
      float acc = static_cast<float>(ff);
      long double fb = acc;
      for (int k = 3; k >= 0; --k) fb += (n >= size_t(k + 1) ? (long double)c.B[k] * y[n - 1 - k] : 0.0L);
      y[n] = static_cast<float>(fb);
    }
    x = y;
  }
  std::vector<int16_t> out;
  for (size_t n = 0; n < x.size(); n += 2) {
    float v = std::clamp(x[n], -1.0f, 1.0f);
    out.push_back(static_cast<int16_t>(std::nearbyint(static_cast<double>(v) * 32767.0)));
  }
  return out;
}

// The main window's WAV path: reader, resampler, converter, writer (plain
// headers, as the window sets them); the writer's failure message, if any.
std::string RunWavChain(const fs::path& src, const fs::path& dst, uint32_t rate, int bits, int channels) {
  TWaveIn in;
  in.SetFileName(src.string());
  TFastResampler rs;
  rs.SetInput(&in);
  rs.OutSampleRate = rate;
  TAudioConverter conv;
  conv.SetInput(&rs);
  conv.OutBitsPerSample = bits;
  conv.OutChannels = channels;
  TWaveOut out;
  out.CreateNonMsHeaders = false;
  out.SetInput(&conv);
  out.SetFileName(dst.string());
  if (!RunToEnd(out)) return "did not finish";
  return out.ExceptionMessage;
}

}  // namespace

TEST(FastResamplerTest, HalvingTakesEverySecondFilteredFrame) {
  TGeneratorInput gen(2, 44100, 16, 8820 * 3 + 100);
  gen.Sample = Sine(1000, 44100, 20000);
  TFastResampler rs;
  rs.SetInput(&gen);
  rs.OutSampleRate = 22050;
  EXPECT_EQ(rs.SampleRate(), 22050);
  rs.Init();
  EXPECT_FALSE(rs.PassThrough());
  EXPECT_EQ(rs.WorkFrames(), 8820u);
  EXPECT_EQ(rs.Size, (8820 * 3 + 100) * 2);
  void* buffer = nullptr;
  uint32_t bytes = 1 << 20;
  rs.GetData(buffer, bytes);
  EXPECT_EQ(bytes, 4410u * 4);  // one block: 8820 frames in, 4410 out
  rs.Flush();
  EXPECT_EQ(ReadAll(rs).size(), (4410u * 3 + 50) * 4);
}

TEST(FastResamplerTest, DoublingRepeatsFrames) {
  TGeneratorInput gen(1, 22050, 16, 4410);
  TFastResampler rs;
  rs.SetInput(&gen);
  rs.OutSampleRate = 44100;
  rs.Init();
  EXPECT_EQ(rs.WorkFrames(), 8820u);
  rs.Flush();
  // The block's first input frame is used once, every later one twice.
  EXPECT_EQ(ReadAll(rs).size(), 8819u * 2);
}

TEST(FastResamplerTest, CutoffAndGainOfTheDesign) {
  const auto c = DesignChebyshevLowPass(0.2125L);
  double sa = 0, sb = 0;
  for (float a : c.A) sa += a;
  for (float b : c.B) sb += b;
  EXPECT_NEAR(sa / (1 - sb), 1.0, 1e-4);
  // Stable: the response to an impulse dies away.
  std::vector<double> x(400, 0.0), y(400, 0.0);
  x[0] = 1;
  for (size_t n = 0; n < x.size(); ++n) {
    double v = 0;
    for (int k = 0; k < 5; ++k) v += n >= size_t(k) ? c.A[k] * x[n - k] : 0;
    for (int k = 0; k < 4; ++k) v += n >= size_t(k + 1) ? c.B[k] * y[n - 1 - k] : 0;
    y[n] = v;
  }
  EXPECT_LT(std::abs(y.back()), 1e-6);
}

// The block-wise filter with its carried history computes what one
// recursion over the whole signal computes.
TEST(FastResamplerTest, BlocksMatchAContinuousReference) {
  const int64_t frames = 8820 * 2 + 300;
  TGeneratorInput gen(1, 44100, 16, frames);
  gen.Sample = [](int64_t f, int) { return static_cast<int32_t>((f * 7919) % 40000 - 20000); };
  std::vector<int16_t> in;
  for (int64_t f = 0; f < frames; ++f) in.push_back(static_cast<int16_t>(gen.Sample(f, 0)));
  TFastResampler rs;
  rs.SetInput(&gen);
  rs.OutSampleRate = 22050;
  const auto ours = AsInt16(ReadAll(rs, 999));
  const auto ref = ReferenceHalving(in, DesignChebyshevLowPass(0.2125L));
  // The filter runs per block of 8820; the partial last block keeps its
  // first frame too, so both select frames 0, 2, 4, ...
  ASSERT_EQ(ours.size(), ref.size());
  for (size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(ours[i], ref[i]) << i;
}

TEST(FastResamplerTest, OutputDoesNotDependOnRequestSizes) {
  auto run = [](uint32_t request) {
    TGeneratorInput gen(2, 48000, 24, 30000);
    TFastResampler rs;
    rs.SetInput(&gen);
    rs.OutSampleRate = 11025;
    return ReadAll(rs, request);
  };
  const auto a = run(16384);
  EXPECT_EQ(a, run(6 * 7));
  EXPECT_EQ(a, run(100000));
}

TEST(FastResamplerTest, EqualRatesAfterDivisionPassThrough) {
  TGeneratorInput a(2, 44100, 16, 1000), b(2, 44100, 16, 1000);
  TFastResampler rs;
  rs.SetInput(&b);
  rs.OutSampleRate = 44102;
  EXPECT_EQ(rs.SampleRate(), 44102);
  EXPECT_EQ(ReadAll(rs), ReadAll(a));
}

TEST(FastResamplerTest, ChannelLimitAndMissingInput) {
  TFastResampler rs;
  EXPECT_THROW(rs.SampleRate(), EAuException);
  EXPECT_THROW(rs.Init(), EAuException);
  TGeneratorInput eight(8, 44100, 16, 9000), nine(9, 44100, 16, 9000);
  rs.OutSampleRate = 22050;
  rs.SetInput(&eight);
  EXPECT_EQ(ReadAll(rs).size(), 4500u * 8 * 2);
  rs.SetInput(&nine);
  EXPECT_THROW(rs.Init(), EAuException);
  rs.Reset();
}

// Alias rejection: a 15 kHz tone resampled from 44100 to 22050 Hz would fold
// to 7.05 kHz; the filter must keep it at least 40 dB under a 1 kHz tone of
// the same level.
TEST(FastResamplerTest, AliasRejectionOfFifteenKilohertz) {
  auto level = [](double freq) {
    TGeneratorInput gen(1, 44100, 16, 44100 * 2);
    gen.Sample = Sine(freq, 44100, 16000);
    TFastResampler rs;
    rs.SetInput(&gen);
    rs.OutSampleRate = 22050;
    return Rms(AsInt16(ReadAll(rs)), 2205);
  };
  const double pass = level(1000), alias = level(15000);
  const double db = 20 * std::log10(pass / std::max(alias, 1e-9));
  std::cout << "[ alias rejection ] 15 kHz at 44100 -> 22050 Hz: " << db << " dB below 1 kHz\n";
  RecordProperty("alias_rejection_db", std::to_string(db));
  EXPECT_GE(db, 40.0);
  EXPECT_NEAR(pass, 16000 / std::sqrt(2.0), 16000 * 0.1);
}

// The WAV path of the main window with its default settings: 44100 Hz 16-bit
// stereo in, 22050 Hz 8-bit mono out, read back by sox.
TEST(FastResamplerTest, DefaultWavChainWritesWhatSoxReads) {
  QM_REQUIRE_TOOLS("ffmpeg", "ffprobe", "soxi");
  TTempDir dir;
  const auto src = dir / "in.wav";
  FfmpegGenerate("sine=frequency=440:sample_rate=44100:duration=1", "-ac 2 -c:a pcm_s16le", src);
  const auto dst = dir / "out.wav";
  EXPECT_EQ(RunWavChain(src, dst, 22050, 8, 1), "");
  EXPECT_EQ(SoxInfo(dst, "-r"), "22050");
  EXPECT_EQ(SoxInfo(dst, "-c"), "1");
  EXPECT_EQ(SoxInfo(dst, "-b"), "8");
  EXPECT_EQ(SoxInfo(dst, "-s"), "22050");
  EXPECT_EQ(Probe(dst, "codec_name"), "pcm_u8");
}

// The WAV path asked for the source's own rate, width and channels copies
// the samples: no value changes, full scale included, at every width.
TEST(FastResamplerTest, WavChainAtTheSourcesOwnFormatIsBitExact) {
  TTempDir dir;
  for (const int bits : {8, 16, 24, 32}) {
    for (const int channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, " << channels << " channels");
      const TPcm square = FullScaleSquare(bits, channels, 44100, 30000, 11);
      const auto src = dir / "in.wav";
      const auto dst = dir / "out.wav";
      WriteWav(src, square);
      EXPECT_EQ(RunWavChain(src, dst, 44100, bits, channels), "");
      EXPECT_EQ(WavPayload(dst), square.Bytes);
    }
  }
}

// Rates outside 1 Hz ... 768 kHz, from a damaged header or a setting such as
// wavSr=-1, are refused before any buffer is sized by them; the edges work.
TEST(FastResamplerTest, RatesOutsideTheEngineRangeAreRefused) {
  auto initError = [](TFastResampler& rs) {
    std::string message = "no error";
    try {
      rs.Init();
    } catch (const std::exception& e) {
      message = e.what();
    }
    rs.Reset();
    return message;
  };
  TGeneratorInput gen(2, 44100, 16, 1000);
  TFastResampler rs;
  rs.SetInput(&gen);
  for (const uint32_t out : {0u, 768001u, static_cast<uint32_t>(-1)}) {
    SCOPED_TRACE(out);
    rs.OutSampleRate = out;
    EXPECT_EQ(initError(rs), kMsgResamplerFormat);
  }
  for (const int in : {0, 768001, INT_MAX}) {
    SCOPED_TRACE(in);
    TGeneratorInput damaged(2, in, 16, 1000);
    rs.SetInput(&damaged);
    rs.OutSampleRate = 22050;
    EXPECT_EQ(initError(rs), kMsgResamplerFormat);
  }
  TGeneratorInput low(1, 8000, 16, 800);
  rs.SetInput(&low);
  rs.OutSampleRate = 768000;
  // The last input frame is repeated a little short of 96 times.
  EXPECT_NEAR(static_cast<double>(ReadAll(rs).size()), 76800.0 * 2, 96 * 2);
  TGeneratorInput high(1, 768000, 16, 76800);
  rs.SetInput(&high);
  rs.OutSampleRate = 8000;
  EXPECT_EQ(ReadAll(rs).size(), 800u * 2);
}

// TMP3Out end to end: PCM from a generator or a WAV file, encoded through
// the real LAME library, checked with what independent readers find in the
// file (ffprobe, ffmpeg, lame, mutagen) and with the frame headers parsed
// here.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <map>
#include <set>

#include "codecs/lame_library.h"
#include "codecs/mp3_out.h"
#include "codecs/wav_in.h"
#include "mp3_test_support.h"
#include "platform/dynamic_library.h"

using namespace mp3test;

namespace {

constexpr int kRate = 44100;

// A sine of `hz` at `amplitude` of full scale, in the width's own coding
// (8 bits unsigned).
int32_t SineSample(int bits, double amplitude, double hz, int64_t frame) {
  const double s = amplitude * std::sin(2 * M_PI * hz * static_cast<double>(frame) / kRate);
  switch (bits) {
    case 8: return 128 + static_cast<int32_t>(std::lround(s * 127));
    case 16: return static_cast<int32_t>(std::lround(s * 32767));
    case 24: return static_cast<int32_t>(std::lround(s * 8388607));
    default: return static_cast<int32_t>(std::llround(s * 2147483647.0));
  }
}

// The value a sample of that coding stands for, full scale 1.
double FullScale(int bits, int32_t v) { return bits == 8 ? (v - 128) / 128.0 : v / std::pow(2.0, bits - 1); }

// Tones, a sweep and noise: something the encoder has to work at.
int32_t Music(int64_t f, int c) {
  const double t = static_cast<double>(f) / kRate;
  const double v = 0.3 * std::sin(2 * M_PI * (220 + 40 * c) * t) + 0.2 * std::sin(2 * M_PI * (3000 + 500 * t) * t) +
                   0.05 * std::sin(2 * M_PI * 9000 * t * (1 + c));
  return static_cast<int32_t>(std::lround(v * 32767)) + static_cast<int32_t>((f * 7919 + c * 31) % 1201) - 600;
}

struct TRun {
  TRun(int channels, int bits, int64_t frames) : Gen(channels, kRate, bits, frames) { Out.SetInput(&Gen); }
  // Runs to the end; true when the run reported no failure.
  bool Write(const fs::path& file) {
    Out.SetFileName(file.string());
    return RunToEnd(Out) && Out.ExceptionMessage.empty();
  }
  TGeneratorInput Gen;
  TMP3Out Out;
};

// "codec|rate|channels|bit rate" by ffprobe.
std::string ProbeLine(const fs::path& file) {
  return CommandOutput("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels,bit_rate "
                 "-of csv=p=0:s='|' " +
                 Quote(file));
}

double MeanKbps(const TStreamLayout& s) {
  double sum = 0;
  for (std::size_t i = 1; i < s.Frames.size(); ++i) sum += s.Frames[i].Kbps;
  return s.Frames.size() > 1 ? sum / static_cast<double>(s.Frames.size() - 1) : 0;
}

}  // namespace

// ---- What the frames say --------------------------------------------------------

TEST(Mp3Out, EveryCbrRateIsWhatFfprobeAndEveryFrameSay) {
  QM_REQUIRE_TOOLS("ffprobe");
  TTempDir dir;
  for (int channels : {1, 2}) {
    for (int b = static_cast<int>(TMP3BitRate::mbrAuto); b <= static_cast<int>(TMP3BitRate::mbr320); ++b) {
      const auto rate = static_cast<TMP3BitRate>(b);
      SCOPED_TRACE(std::to_string(channels) + " channels, value " + std::to_string(b));
      TRun run(channels, 16, kRate / 2);
      run.Gen.Sample = Music;
      run.Out.BitRate = rate;
      const fs::path file = dir / "cbr.mp3";
      ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
      int kbps = MP3BitRateKbps(rate);
      // mbrAuto is LAME's own default (a compression ratio of 11); MPEG-1
      // has no 144 kbit/s, and LAME takes the rate below.
      if (rate == TMP3BitRate::mbrAuto) kbps = 64 * channels;
      if (rate == TMP3BitRate::mbr144) kbps = 128;
      EXPECT_EQ(ProbeLine(file), "mp3|44100|" + std::to_string(channels) + "|" + std::to_string(kbps * 1000));
      const TStreamLayout s = ParseStream(ReadFile(file));
      ASSERT_GT(s.Frames.size(), 10u);
      EXPECT_TRUE(std::all_of(s.Frames.begin(), s.Frames.end(), [&](const TFrame& f) {
        return f.Version == 1 && f.Kbps == kbps && f.SampleRate == kRate && f.Channels() == channels;
      }));
      EXPECT_TRUE(s.Id3v1AtEnd);
      EXPECT_EQ(s.TrailingBytes, 0u);
      EXPECT_FALSE(ParseXing(ReadFile(file), s.Frames[0])) << "a CBR file has no VBR header";
    }
  }
}

TEST(Mp3Out, FramesCarryTheChannelModeAndTheFlagsAsked) {
  QM_REQUIRE_TOOLS("ffprobe");
  TTempDir dir;
  struct TCase {
    int Channels;
    TMP3Mode Mode;
    TLongBool Crc, Copyright, Original;
    int FrameMode;
  };
  const TCase cases[] = {
      {1, TMP3Mode::mmJointStereo, 0, 0, kLongTrue, 3},  // one channel is mono whatever Mode says
      {2, TMP3Mode::mmStereo, kLongTrue, 0, 0, 0},
      {2, TMP3Mode::mmJointStereo, 0, kLongTrue, kLongTrue, 1},
      {2, TMP3Mode::mmDual, 0, 0, kLongTrue, 2},
      {2, TMP3Mode::mmMono, 7, 7, 7, 3},  // any non-zero LongBool is true
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("frame mode " + std::to_string(c.FrameMode) + ", crc " + std::to_string(c.Crc));
    TRun run(c.Channels, 16, kRate / 2);
    run.Gen.Sample = Music;
    run.Out.Mode = c.Mode;
    run.Out.CRC = c.Crc;
    run.Out.Copyright = c.Copyright;
    run.Out.Original = c.Original;
    const fs::path file = dir / "flags.mp3";
    ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    const TStreamLayout s = ParseStream(ReadFile(file));
    ASSERT_GT(s.Frames.size(), 10u);
    EXPECT_TRUE(std::all_of(s.Frames.begin(), s.Frames.end(), [&](const TFrame& f) {
      return f.ChannelMode == c.FrameMode && f.Crc == (c.Crc != 0) && f.Copyright == (c.Copyright != 0) &&
             f.Original == (c.Original != 0) && !f.Private;
    }));
    EXPECT_EQ(Probe(file, "channels"), c.FrameMode == 3 ? "1" : "2");
  }
}

TEST(Mp3Out, NoBitReservoirUnlessItIsEnabled) {
  TTempDir dir;
  for (bool reservoir : {false, true}) {
    TRun run(2, 16, kRate);
    run.Gen.Sample = Music;
    run.Out.EnableBitReservoir = reservoir;
    const fs::path file = dir / "reservoir.mp3";
    ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    const TStreamLayout s = ParseStream(ReadFile(file));
    ASSERT_GT(s.Frames.size(), 10u);
    // main_data_begin points back into earlier frames only when the
    // reservoir is used.
    const bool borrows = std::any_of(s.Frames.begin(), s.Frames.end(), [](const TFrame& f) { return f.MainDataBegin > 0; });
    EXPECT_EQ(borrows, reservoir);
  }
}

TEST(Mp3Out, VbrAndAbrStreamsHaveTheirHeaderAndTheirRates) {
  QM_REQUIRE_TOOLS("ffprobe");
  TTempDir dir;
  auto encode = [&](const char* name, TMP3Quality quality, TMP3BitRate average) {
    TRun run(2, 16, 2 * kRate);
    run.Gen.Sample = Music;
    run.Out.BitRate = TMP3BitRate::mbrAuto;
    run.Out.EnableVBR = kLongTrue;
    run.Out.VBRQuality = quality;
    run.Out.AverageBitrate = average;
    const fs::path file = dir / name;
    EXPECT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    return file;
  };
  std::map<std::string, double> mean;
  for (auto [name, quality, average] : {std::tuple{"q0.mp3", TMP3Quality::mp3ql0, TMP3BitRate::mbrAuto},
                                        std::tuple{"q9.mp3", TMP3Quality::mp3ql9, TMP3BitRate::mbrAuto},
                                        std::tuple{"abr.mp3", TMP3Quality::mp3ql0, TMP3BitRate::mbr128}}) {
    SCOPED_TRACE(name);
    const fs::path file = encode(name, quality, average);
    const auto bytes = ReadFile(file);
    const TStreamLayout s = ParseStream(bytes);
    ASSERT_GT(s.Frames.size(), 10u);
    const auto xing = ParseXing(bytes, s.Frames[0]);
    ASSERT_TRUE(xing) << "no VBR header in the first frame";
    EXPECT_EQ(xing->Id, "Xing");
    // The header counts the frames after its own, and every byte of the
    // stream (without the ID3v1 block).
    EXPECT_EQ(xing->Frames, s.Frames.size() - 1);
    EXPECT_EQ(xing->Bytes, bytes.size() - kId3v1BlockSize);
    ASSERT_TRUE(xing->HasLame);
    EXPECT_EQ(xing->LameVbrMethod, average == TMP3BitRate::mbrAuto ? 4 : 2) << "4: VBR (mtrh), 2: ABR";
    std::set<int> rates;
    for (std::size_t i = 1; i < s.Frames.size(); ++i) rates.insert(s.Frames[i].Kbps);
    EXPECT_GT(rates.size(), 2u) << "a variable rate";
    mean[name] = MeanKbps(s);
    EXPECT_EQ(Probe(file, "codec_name"), "mp3");
  }
  EXPECT_GT(mean["q0.mp3"], mean["q9.mp3"] + 50);
  EXPECT_NEAR(mean["abr.mp3"], 128, 16);
}

TEST(Mp3Out, DecodesToTheSourceLengthWithinTheEncoderDelayAndPadding) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  const bool lame = HaveTool("lame");
  for (int channels : {1, 2}) {
    SCOPED_TRACE(std::to_string(channels) + " channels");
    const int64_t frames = 100003;
    TRun vbr(channels, 16, frames);
    vbr.Gen.Sample = Music;
    vbr.Out.EnableVBR = kLongTrue;
    vbr.Out.BitRate = TMP3BitRate::mbrAuto;
    ASSERT_TRUE(vbr.Write(dir / "vbr.mp3")) << vbr.Out.ExceptionMessage;
    const auto bytes = ReadFile(dir / "vbr.mp3");
    const TStreamLayout vs = ParseStream(bytes);
    ASSERT_FALSE(vs.Frames.empty());
    const auto xing = ParseXing(bytes, vs.Frames[0]);
    ASSERT_TRUE(xing && xing->HasLame && xing->Frames);
    EXPECT_EQ(xing->Delay, 576);
    EXPECT_EQ(static_cast<int64_t>(*xing->Frames) * 1152, frames + xing->Delay + xing->Padding);
    // Decoders that read the tag give back exactly the source's frames.
    EXPECT_EQ(static_cast<int64_t>(FfmpegFloat(dir / "vbr.mp3").size()) / channels, frames);
    if (lame) {
      EXPECT_EQ(LameDecodedFrames(dir / "vbr.mp3", channels), frames);
    }

    // CBR has no tag: decoders give the delay and padding too, as much as
    // the VBR tag of the same input names.
    TRun cbr(channels, 16, frames);
    cbr.Gen.Sample = Music;
    ASSERT_TRUE(cbr.Write(dir / "cbr.mp3")) << cbr.Out.ExceptionMessage;
    const TStreamLayout cs = ParseStream(ReadFile(dir / "cbr.mp3"));
    EXPECT_EQ(cs.Frames.size(), *xing->Frames);
    const int64_t decoded = static_cast<int64_t>(FfmpegFloat(dir / "cbr.mp3").size()) / channels;
    EXPECT_EQ(decoded, frames + xing->Delay + xing->Padding);
    // lame skips the decoder's own delay of 529 frames.
    if (lame) {
      EXPECT_EQ(LameDecodedFrames(dir / "cbr.mp3", channels), decoded - 529);
    }
  }
}

TEST(Mp3Out, WritesTheFramesOfTheLameToolWithTheMatchingSwitches) {
  QM_REQUIRE_TOOLS("lame");
  TTempDir dir;
  struct TCase {
    const char* Name;
    int Channels;
    std::function<void(TMP3Out&)> Set;
    const char* Switches;
  };
  const TCase cases[] = {
      {"the application's settings", 2, [](TMP3Out&) {}, "-b 128 -m s --nores -t"},
      {"mono with CRC, copyright, a copy", 1,
       [](TMP3Out& o) {
         o.BitRate = TMP3BitRate::mbr64;
         o.CRC = kLongTrue;
         o.Copyright = kLongTrue;
         o.Original = 0;
       },
       "-b 64 -m m -p -c -o --nores -t"},
      {"joint stereo, reservoir, strict ISO", 2,
       [](TMP3Out& o) {
         o.BitRate = TMP3BitRate::mbr192;
         o.Mode = TMP3Mode::mmJointStereo;
         o.EnableBitReservoir = true;
         o.StrinctISO = true;
       },
       "-b 192 -m j --strictly-enforce-ISO -t"},
      {"VBR quality 2, at most 192", 2,
       [](TMP3Out& o) {
         o.BitRate = TMP3BitRate::mbrAuto;
         o.EnableVBR = kLongTrue;
         o.VBRQuality = TMP3Quality::mp3ql2;
         o.MaximumBitrate = TMP3BitRate::mbr192;
       },
       "-V 2 -B 192 -m s --nores"},
      {"VBR quality 5, at least 96", 2,
       [](TMP3Out& o) {
         o.BitRate = TMP3BitRate::mbr96;
         o.EnableVBR = kLongTrue;
         o.VBRQuality = TMP3Quality::mp3ql5;
       },
       "-V 5 -b 96 -m s --nores"},
      {"ABR 160", 2,
       [](TMP3Out& o) {
         o.BitRate = TMP3BitRate::mbrAuto;
         o.EnableVBR = kLongTrue;
         o.AverageBitrate = TMP3BitRate::mbr160;
       },
       "--abr 160 -m s --nores"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const fs::path wav = dir / "in.wav";
    WriteWav(wav, kRate, c.Channels, 16, kRate, Music);
    {
      TWaveIn in;
      in.SetFileName(wav.string());
      TMP3Out out;
      out.SetInput(&in);
      c.Set(out);
      out.SetFileName((dir / "ours.mp3").string());
      ASSERT_TRUE(RunToEnd(out));
      ASSERT_EQ(out.ExceptionMessage, "");
    }
    const std::string lame = "lame --quiet " + std::string(c.Switches) + " " + Quote(wav) + " " + Quote(dir / "lame.mp3");
    const TRunResult encoded = RunShell(lame);
    ASSERT_TRUE(encoded.Ok()) << lame << "\n" << encoded.Err;
    const auto ours = ReadFile(dir / "ours.mp3");
    const auto theirs = ReadFile(dir / "lame.mp3");
    ASSERT_EQ(ours.size(), theirs.size() + kId3v1BlockSize);
    // The VBR header frame records the tool's own options; the audio
    // frames after it must be the same bytes.
    std::size_t from = 0;
    if (std::string(c.Switches).find("-t") == std::string::npos) {
      const auto first = ParseFrame(theirs, 0);
      ASSERT_TRUE(first);
      from = first->Length;
      ASSERT_TRUE(ParseXing(ours, *ParseFrame(ours, 0)));
    }
    EXPECT_TRUE(std::equal(theirs.begin() + static_cast<std::ptrdiff_t>(from), theirs.end(),
                           ours.begin() + static_cast<std::ptrdiff_t>(from)));
  }
}

// ---- Sample widths and channels ---------------------------------------------------

TEST(Mp3OutWidths, EveryWidthDecodesToTheSameSine) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  const int64_t frames = kRate;
  const std::size_t margin = 4000;
  for (int channels : {1, 2}) {
    std::map<int, std::vector<double>> left;
    for (int bits : {8, 16, 24, 32}) {
      SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(bits) + " bits");
      TRun run(channels, bits, frames);
      // At 224 kbit/s and below LAME gives a lone tone back 0.4 dB weaker
      // (its own tool does the same); at 256 it is transparent.
      run.Out.BitRate = TMP3BitRate::mbr256;
      // The right channel has a tone of its own: the channels must not mix.
      run.Gen.Sample = [bits](int64_t f, int c) { return SineSample(bits, 0.5, c == 0 ? 1000 : 1500, f); };
      const fs::path file = dir / ("sine" + std::to_string(bits) + ".mp3");
      ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
      const auto pcm = FfmpegFloat(file);
      for (int c = 0; c < channels; ++c) {
        std::vector<double> source(static_cast<std::size_t>(frames));
        for (int64_t f = 0; f < frames; ++f)
          source[static_cast<std::size_t>(f)] = FullScale(bits, SineSample(bits, 0.5, c == 0 ? 1000 : 1500, f));
        const auto decoded = Channel(pcm, channels, c);
        const TMatch m = BestMatch(source, decoded, 2400, margin);
        EXPECT_GE(m.SnrDb, 40.0) << "channel " << c;
        const double level = 20 * std::log10(Rms(decoded, m.Lag + margin, m.Lag + frames - margin) /
                                              Rms(source, margin, frames - margin));
        EXPECT_LT(std::abs(level), 0.1) << "channel " << c;
        if (c == 0) left[bits] = std::vector<double>(decoded.begin() + static_cast<std::ptrdiff_t>(m.Lag), decoded.end());
      }
    }
    // The same audio from every width: each decode against the 16-bit one.
    // Eight bits carry their own quantisation noise, some 44 dB down here.
    for (auto [bits, wanted] : {std::pair{8, 35.0}, std::pair{24, 60.0}, std::pair{32, 60.0}}) {
      const std::vector<double>& a = left[16];
      const std::vector<double>& b = left[bits];
      const std::size_t n = std::min(a.size(), b.size()) - margin;
      double signal = 0, noise = 0;
      for (std::size_t i = margin; i < n; ++i) {
        signal += a[i] * a[i];
        noise += (a[i] - b[i]) * (a[i] - b[i]);
      }
      EXPECT_GE(10 * std::log10(signal / std::max(noise, 1e-30)), wanted) << bits << " bits against 16";
    }
  }
}

TEST(Mp3OutWidths, TwoChannelsInMonoModeAreTheirMean) {
  QM_REQUIRE_TOOLS("ffmpeg", "ffprobe");
  TTempDir dir;
  const int64_t frames = kRate;
  for (int bits : {16, 24}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    TRun run(2, bits, frames);
    run.Out.Mode = TMP3Mode::mmMono;
    run.Out.BitRate = TMP3BitRate::mbr256;
    run.Gen.Sample = [bits](int64_t f, int c) { return SineSample(bits, c == 0 ? 0.5 : 0.3, 1000, f); };
    ASSERT_TRUE(run.Write(dir / "folded.mp3")) << run.Out.ExceptionMessage;
    EXPECT_EQ(Probe(dir / "folded.mp3", "channels"), "1");
    const auto pcm = FfmpegFloat(dir / "folded.mp3");
    std::vector<double> mean(static_cast<std::size_t>(frames));
    for (int64_t f = 0; f < frames; ++f)
      mean[static_cast<std::size_t>(f)] =
          (FullScale(bits, SineSample(bits, 0.5, 1000, f)) + FullScale(bits, SineSample(bits, 0.3, 1000, f))) / 2;
    const std::vector<double> decoded(pcm.begin(), pcm.end());
    EXPECT_GE(BestMatch(mean, decoded, 2400, 4000).SnrDb, 40.0);
  }
}

TEST(Mp3OutFailures, MoreThanTwoChannelsAndOtherWidthsAreRefusedBeforeTheFileIsTouched) {
  TTempDir dir;
  for (int channels : {3, 6}) {
    const fs::path file = dir / ("many" + std::to_string(channels) + ".mp3");
    TRun run(channels, 16, kRate);
    EXPECT_FALSE(run.Write(file));
    EXPECT_EQ(run.Out.ExceptionMessage, kMsgMp3TooManyChannels);
    EXPECT_FALSE(fs::exists(file));
  }
  // A file already there is left as it was.
  const fs::path kept = dir / "kept.mp3";
  WriteFile(kept, {'k', 'e', 'p', 't'});
  TRun run(3, 16, kRate);
  EXPECT_FALSE(run.Write(kept));
  EXPECT_EQ(ReadFile(kept), (std::vector<uint8_t>{'k', 'e', 'p', 't'}));
  // A width the sink does not convert (a 12-bit PCM file says 12).
  TRun odd(2, 12, kRate);
  EXPECT_FALSE(odd.Write(kept));
  EXPECT_EQ(odd.Out.ExceptionMessage, "Cannot encode 12-bit samples into MP3.");
  EXPECT_EQ(ReadFile(kept), (std::vector<uint8_t>{'k', 'e', 'p', 't'}));
}

TEST(Mp3OutFailures, AFailedRunIsReportedAndLeavesNoFile) {
  TTempDir dir;
  {
    // The input fails part-way: what was encoded must not pass for the file.
    TRun run(2, 16, 10 * kRate);
    run.Gen.FailAfterFrames = kRate;
    EXPECT_FALSE(run.Write(dir / "cut.mp3"));
    EXPECT_EQ(run.Out.ExceptionMessage, "generator failed");
    EXPECT_FALSE(fs::exists(dir / "cut.mp3"));
  }
  {
    // The encoder refuses the record: its error number, and no file.
    TRun run(2, 16, kRate);
    run.Out.EnableVBR = kLongTrue;
    run.Out.VBRQuality = static_cast<TMP3Quality>(12);
    EXPECT_FALSE(run.Write(dir / "refused.mp3"));
    EXPECT_EQ(run.Out.ExceptionMessage, std::string(kMsgLameError) + std::to_string(kBeErrInvalidFormatParameters));
    EXPECT_FALSE(fs::exists(dir / "refused.mp3"));
  }
  {
    TRun run(2, 16, kRate);
    EXPECT_FALSE(run.Write(""));
    EXPECT_EQ(run.Out.ExceptionMessage, kMsgOutputFileNameNotAssigned);
  }
  if (fs::exists("/dev/full")) {
    // A full disk: the write's own error; the device itself stays.
    TRun run(2, 16, kRate);
    EXPECT_FALSE(run.Write("/dev/full"));
    EXPECT_EQ(run.Out.ExceptionMessage, std::strerror(ENOSPC));
    EXPECT_TRUE(fs::exists("/dev/full"));
  }
}

// ---- The ID3v1 block ------------------------------------------------------------

namespace {

// What mutagen finds in the file's ID3 tags, one "FRAME=text" line each.
std::string MutagenTags(const fs::path& file) {
  return CommandOutput("/usr/bin/python3 -c \"import sys, mutagen.id3\n"
                       "t = mutagen.id3.ID3(sys.argv[1])\n"
                       "for k in sorted(t.keys()): print(k.split(':')[0] + '=' + str(t[k]))\" " +
                       Quote(file) + " 2>&1");
}

bool HaveMutagen() { return HavePythonModule("mutagen.id3"); }

std::array<uint8_t, kId3v1BlockSize> LastBlock(const fs::path& file) {
  const auto bytes = ReadFile(file);
  std::array<uint8_t, kId3v1BlockSize> block{};
  if (bytes.size() >= block.size()) std::copy(bytes.end() - kId3v1BlockSize, bytes.end(), block.begin());
  return block;
}

fs::path Tagged(const TTempDir& dir, const std::string& name, const std::function<void(TId3v1Tags&)>& fill) {
  TRun run(2, 16, kRate / 4);
  TId3v1Tags tags;
  fill(tags);
  run.Out.SetId3v1Tags(tags);
  const fs::path file = dir / name;
  EXPECT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
  return file;
}

}  // namespace

TEST(Mp3OutTags, TheBlockIsId3v11WithTrackAndGenre) {
  TTempDir dir;
  const fs::path file = Tagged(dir, "full.mp3", [](TId3v1Tags& t) {
    t.SetTitle("A title of forty characters, cut at 30 !");
    t.SetArtist("\xC4rtist");  // Windows-1252
    t.SetAlbum("Album");
    t.SetYear(2005);
    t.SetComment("A comment longer than 28 bytes");
    t.SetTrack(7);
    t.SetGenreId(17);
  });
  const auto block = LastBlock(file);
  EXPECT_EQ(std::string(block.begin(), block.begin() + 33), "TAGA title of forty characters, c");
  EXPECT_EQ(std::string(block.begin() + 93, block.begin() + 97), "2005");
  EXPECT_EQ(std::string(block.begin() + 97, block.begin() + 125), "A comment longer than 28 byt");
  EXPECT_EQ(block[125], 0);
  EXPECT_EQ(block[126], 7);
  EXPECT_EQ(block[127], 17);
  QM_SKIP_UNLESS(HaveMutagen(), "mutagen for /usr/bin/python3");
  EXPECT_EQ(MutagenTags(file),
            "COMM=A comment longer than 28 byt\nTALB=Album\nTCON=Rock\nTDRC=2005\n"
            "TIT2=A title of forty characters, c\nTPE1=\xC3\x84rtist\nTRCK=7");
}

TEST(Mp3OutTags, WithoutATrackTheCommentHasAllThirtyBytes) {
  TTempDir dir;
  const fs::path file = Tagged(dir, "notrack.mp3", [](TId3v1Tags& t) {
    t.SetTitle("Title");
    t.SetComment("A comment of thirty bytes, yes");
    t.SetValue("genre", "jazz");  // a genre given by name
  });
  const auto block = LastBlock(file);
  EXPECT_EQ(std::string(block.begin() + 97, block.begin() + 127), "A comment of thirty bytes, yes");
  EXPECT_EQ(block[127], 8);
  QM_SKIP_UNLESS(HaveMutagen(), "mutagen for /usr/bin/python3");
  // mutagen takes byte 126 for a track number whatever byte 125 holds, so
  // it is asked about a comment that leaves both zero.
  const fs::path shorter = Tagged(dir, "short.mp3", [](TId3v1Tags& t) {
    t.SetTitle("Title");
    t.SetComment("Short");
    t.SetValue("genre", "jazz");
  });
  EXPECT_EQ(MutagenTags(shorter), "COMM=Short\nTCON=Jazz\nTIT2=Title");
}

TEST(Mp3OutTags, AnEmptyContainerStillWritesTheBlockWithNoGenre) {
  TTempDir dir;
  TRun run(2, 16, kRate / 4);
  ASSERT_TRUE(run.Write(dir / "empty.mp3")) << run.Out.ExceptionMessage;
  std::array<uint8_t, kId3v1BlockSize> expected{};
  std::memcpy(expected.data(), "TAG", 3);
  expected[127] = 255;
  EXPECT_EQ(LastBlock(dir / "empty.mp3"), expected);
  EXPECT_TRUE(ParseStream(ReadFile(dir / "empty.mp3")).Id3v1AtEnd);

  // A container emptied after use: no genre either.
  const fs::path cleared = Tagged(dir, "cleared.mp3", [](TId3v1Tags& t) {
    t.SetTitle("x");
    t.Clear();
  });
  EXPECT_EQ(LastBlock(cleared), expected);
}

TEST(Mp3OutTags, OnlyAFourDigitYearIsWritten) {
  TTempDir dir;
  for (auto [year, text] : {std::pair<int, std::string>{0, std::string(4, '\0')}, {999, std::string(4, '\0')},
                            {1999, "1999"}, {2005, "2005"}}) {
    SCOPED_TRACE(year);
    const fs::path file = Tagged(dir, "year.mp3", [year = year](TId3v1Tags& t) {
      t.SetTitle("t");
      t.SetYear(static_cast<uint16_t>(year));
    });
    const auto block = LastBlock(file);
    EXPECT_EQ(std::string(block.begin() + 93, block.begin() + 97), text);
  }
  // A year the container holds beyond 16 bits is not taken modulo 65536.
  const fs::path file = Tagged(dir, "big.mp3", [](TId3v1Tags& t) { t.SetValue("year", 67541); });
  const auto block = LastBlock(file);
  EXPECT_EQ(std::string(block.begin() + 93, block.begin() + 97), std::string(4, '\0'));
}

// ---- The library ------------------------------------------------------------------

TEST(Mp3OutLibrary, AHiddenLibraryFailsEveryPrepareUntilItCanBeFound) {
  QM_REQUIRE_TOOLS("ffprobe");
  // The library is never unloaded: when an earlier test of this process
  // loaded it, this test runs again in a process of its own.
  if (LameLibraryLoaded()) {
    ASSERT_EQ(std::getenv("QUELLMARK_MP3_TEST_CHILD"), nullptr) << "loaded before the test began";
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    ASSERT_FALSE(ec);
    const TRunResult child = RunShell("QUELLMARK_MP3_TEST_CHILD=1 " + Quote(self.string()) +
                                      " --gtest_filter=Mp3OutLibrary.AHiddenLibraryFailsEveryPrepareUntilItCanBeFound");
    EXPECT_EQ(child.Status, 0) << child.Out << child.Err;
    return;
  }
  TTempDir dir;
  ASSERT_EQ(::setenv(platform::kLibraryOverrideVariable, "libmp3lame.so.0=", 1), 0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    TRun run(2, 16, kRate / 4);
    EXPECT_FALSE(run.Write(dir / "hidden.mp3"));
    EXPECT_EQ(run.Out.ExceptionMessage, "libmp3lame.so.0 library could not be loaded.");
    EXPECT_FALSE(fs::exists(dir / "hidden.mp3"));
  }
  TRun run(2, 16, kRate / 4);
  ::unsetenv(platform::kLibraryOverrideVariable);
  ASSERT_TRUE(run.Write(dir / "found.mp3")) << run.Out.ExceptionMessage;
  EXPECT_EQ(Probe(dir / "found.mp3", "codec_name"), "mp3");
}

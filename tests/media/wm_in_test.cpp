// TMP3In and TWMIn on files made by lame and ffmpeg: the format and length
// they report, every decoded sample delivered (ffmpeg's own decode, none
// lost at the end), attributes in the ID3v2 container, the range start, the
// channel settings, and hostile files.
#include <gtest/gtest.h>

#include <random>

#include "codecs/wav_out.h"
#include "codecs/wm_in.h"
#include "tests/media/media_test_support.h"

using namespace mediatest;

namespace {

class WmInTest : public ::testing::Test {
 protected:
  TTempDir Dir;
};

struct TCase {
  std::string Name;
  fs::path File;
  bool Mp3;
};

TEST_F(WmInTest, ProbesAndDeliversFfmpegsDecodeOfEveryFile) {
  const fs::path stereo = MakeWav(Dir, "s.wav", 44100, 2, 3.1);
  const fs::path mono = MakeWav(Dir, "m.wav", 22050, 1, 2.05);
  const fs::path low = MakeWav(Dir, "l.wav", 8000, 1, 1.5);
  const std::vector<TCase> cases = {
      {"cbr128", MakeLameMp3(Dir, "cbr.mp3", stereo, "-b 128"), true},
      {"vbr-xing", MakeLameMp3(Dir, "vbr.mp3", stereo, "-V 2"), true},
      {"vbr-no-xing", MakeLameMp3(Dir, "vbrt.mp3", stereo, "-V 2 -t"), true},
      {"mono22050", MakeLameMp3(Dir, "mono.mp3", mono, "-b 64"), true},
      {"8khz", MakeLameMp3(Dir, "low.mp3", low, "-b 16"), true},
      {"ffmpeg-mp3", Encode(Dir, "ff.mp3", stereo, "-c:a libmp3lame -b:a 160k"), true},
      {"wmav1-mono", Encode(Dir, "v1.wma", mono, "-c:a wmav1 -b:a 48k"), false},
      {"wmav2-stereo", Encode(Dir, "v2.wma", stereo, "-c:a wmav2 -b:a 128k"), false},
      {"wmav2-mono", Encode(Dir, "v2m.wma", mono, "-c:a wmav2 -b:a 64k"), false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::unique_ptr<TWMIn> in(c.Mp3 ? new TMP3In : new TWMIn);
    in->SetFileName(c.File.string());
    (void)in->Channels();
    EXPECT_TRUE(in->Valid);
    EXPECT_EQ(in->SampleRate(), std::stoi(Probe(c.File, "sample_rate")));
    EXPECT_EQ(in->Channels(), std::stoi(Probe(c.File, "channels")));
    EXPECT_EQ(in->BitsPerSample(), 16);
    EXPECT_TRUE(in->SizeIsEstimate());
    // The reported length: the container's duration in hundredths, and for
    // an MP3 a third of a second more.
    const int64_t hundredths = std::llround(std::stod(ProbeFormat(c.File, "duration")) * 100);
    EXPECT_EQ(in->DurationHundredths(), hundredths);
    const int64_t rate = in->SampleRate();
    EXPECT_EQ(in->TotalSamples(), std::llround(hundredths / 100.0 * rate) + (c.Mp3 ? rate / 3 : 0));
    std::string probed = Probe(c.File, "bit_rate");
    if (probed == "N/A" || probed.empty()) probed = ProbeFormat(c.File, "bit_rate");
    EXPECT_EQ(in->Bitrate(), std::stoul(probed));
    EXPECT_EQ(qmtest::ReadAll(*in), FfmpegDecode(c.File, "s16le"));
  }
}

TEST_F(WmInTest, Mp3ToWavHoldsExactlyTheDecodedSamples) {
  // A VBR file without a Xing header: its container length is an estimate
  // from the first frame, so the WAV must take the length of what came.
  const fs::path mp3 = MakeLameMp3(Dir, "a.mp3", MakeWav(Dir, "a.wav", 44100, 2, 4.2), "-V 0 -t");
  TMP3In in;
  in.SetFileName(mp3.string());
  TWaveOut out;
  out.SetInput(&in);
  out.SetFileName((Dir / "out.wav").string());
  ASSERT_TRUE(RunToEnd(out));
  EXPECT_EQ(out.ExceptionMessage, "");
  EXPECT_EQ(FfmpegDecode(Dir / "out.wav", "s16le"), FfmpegDecode(mp3, "s16le"));
  EXPECT_EQ(fs::file_size(Dir / "out.wav"), 44 + FfmpegDecode(mp3, "s16le").size());
}

TEST_F(WmInTest, AttributesLandInTheId3v2Container) {
  const fs::path wav = MakeWav(Dir, "a.wav", 44100, 2, 1.0);
  const fs::path mp3 = MakeLameMp3(Dir, "t.mp3", wav, "-b 128");
  const std::string script =
      "from mutagen.id3 import ID3, TIT2, TPE1, TALB, TCON, TRCK, TDRC, TCOP\n"
      "t = ID3()\n"
      "t.add(TIT2(encoding=3, text='Ступени'))\nt.add(TPE1(encoding=3, text='Band'))\n"
      "t.add(TALB(encoding=3, text='Disc'))\nt.add(TCON(encoding=3, text='Rock'))\n"
      "t.add(TRCK(encoding=3, text='7'))\nt.add(TDRC(encoding=3, text='1999'))\n"
      "t.add(TCOP(encoding=3, text='Notice'))\n"
      "t.save('" + mp3.string() + "')\n";
  WriteFile(Dir / "tag.py", std::vector<uint8_t>(script.begin(), script.end()));
  ASSERT_EQ(qmtest::RunStatus("/usr/bin/python3 " + Quote(Dir / "tag.py")), 0);
  const fs::path wma = Encode(Dir, "t.wma", wav,
                              "-c:a wmav2 -metadata title=Ступени -metadata artist=Band -metadata album=Disc "
                              "-metadata genre=Rock -metadata WM/Track=7 -metadata WM/Year=1999 "
                              "-metadata copyright=Notice");
  for (const fs::path& file : {mp3, wma}) {
    SCOPED_TRACE(file.filename().string());
    std::unique_ptr<TWMIn> in(file == mp3 ? new TMP3In : new TWMIn);
    in->SetFileName(file.string());
    TId3v2Tags& tags = in->Id3v2Tags();
    EXPECT_EQ(tags.Title(), u"Ступени");
    EXPECT_EQ(tags.Artist(), u"Band");
    EXPECT_EQ(tags.Album(), u"Disc");
    EXPECT_EQ(tags.Genre(), u"Rock");
    EXPECT_EQ(tags.Track(), "7");
    EXPECT_EQ(tags.Year(), "1999");
    EXPECT_EQ(tags.Comment(), u"Notice");
  }
}

TEST_F(WmInTest, StartSampleLandsWithinTenMilliseconds) {
  const fs::path wav = MakeWav(Dir, "a.wav", 44100, 2, 6.0);
  for (const fs::path& file : {MakeLameMp3(Dir, "a.mp3", wav, "-b 192"), Encode(Dir, "a.wma", wav, "-c:a wmav2")}) {
    SCOPED_TRACE(file.filename().string());
    const auto full = AsInt16(FfmpegDecode(file, "s16le"));
    std::unique_ptr<TWMIn> in(file.extension() == ".mp3" ? new TMP3In : new TWMIn);
    in->SetFileName(file.string());
    const int64_t start = 2 * 44100 + 12345;
    in->StartSample = start;
    in->EndSample = start + 44099;
    const auto part = AsInt16(qmtest::ReadAll(*in));
    // The range's end is exact: one second of frames.
    EXPECT_EQ(part.size(), 44100u * 2);
    EXPECT_NE(MatchOffset(full, part, 2, start, 441, 8192, 4000), -1000000);
  }
}

TEST_F(WmInTest, ChannelSettingsSelectTheirFormats) {
  const fs::path mp3 = MakeLameMp3(Dir, "a.mp3", MakeWav(Dir, "a.wav", 48000, 2, 1.0), "-b 128");
  TMP3In in;
  in.SetFileName(mp3.string());
  EXPECT_EQ(in.Channels(), 2);
  in.SetHighPrecision(true);
  EXPECT_EQ(in.BitsPerSample(), 32);
  in.SetOutputChannels(TChannelsNumber::cn5dot1);
  EXPECT_TRUE(in.HighPrecision());
  EXPECT_EQ(in.Channels(), 6);
  EXPECT_EQ(in.BitsPerSample(), 32);
  in.SetHighPrecision(false);
  EXPECT_TRUE(in.HighPrecision());
  in.SetOutputChannels(TChannelsNumber::cnMaxAvailable);
  EXPECT_EQ(in.Channels(), 2);
  EXPECT_EQ(in.BitsPerSample(), 32);
  in.SetOutputChannels(TChannelsNumber::cnMonoOrStereo);
  in.SetHighPrecision(false);
  EXPECT_EQ(in.BitsPerSample(), 16);
  const auto pcm = qmtest::ReadAll(in);
  EXPECT_EQ(pcm, FfmpegDecode(mp3, "s16le"));
}

TEST_F(WmInTest, HostileFilesAreInvalidOrEndNeverHang) {
  std::mt19937 random(11);
  std::vector<uint8_t> noise(60000);
  for (auto& b : noise) b = static_cast<uint8_t>(random());
  const auto mp3 = ReadFile(MakeLameMp3(Dir, "a.mp3", MakeWav(Dir, "a.wav", 44100, 2, 2.0), "-b 128"));
  const auto wma = ReadFile(Encode(Dir, "a.wma", Dir / "a.wav", "-c:a wmav2"));
  // An ID3v2 header that claims a tag of 256 MB before the audio.
  std::vector<uint8_t> hugeTag = {'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
  hugeTag.insert(hugeTag.end(), mp3.begin(), mp3.end());
  // An ASF header object whose size field claims 2^62 bytes.
  std::vector<uint8_t> hugeAsf = wma;
  hugeAsf[16 + 7] = 0x40;
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"noise.mp3", noise},
      {"noise.wma", noise},
      {"truncated.mp3", std::vector<uint8_t>(mp3.begin(), mp3.begin() + static_cast<long>(mp3.size() / 3))},
      {"truncated.wma", std::vector<uint8_t>(wma.begin(), wma.begin() + static_cast<long>(wma.size() / 3))},
      {"hugetag.mp3", hugeTag},
      {"hugeheader.wma", hugeAsf},
      {"empty.wma", {}},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    WriteFile(Dir / name, bytes);
    std::unique_ptr<TWMIn> in(name.ends_with(".mp3") ? new TMP3In : new TWMIn);
    in->SetFileName((Dir / name).string());
    (void)in->Channels();
    (void)in->Bitrate();
    (void)in->Id3v2Tags();
    if (in->Valid) {
      const auto pcm = qmtest::ReadAll(*in);
      if (name.starts_with("truncated")) {
        EXPECT_GT(pcm.size(), 0u);
      }
    }
  }
}

TEST_F(WmInTest, ARunWithoutAFileNameOrAudioIsRefused) {
  TWMIn in;
  try {
    in.Init();
    ADD_FAILURE() << "a run without a file name started";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), kMsgFileNameNotAssigned);
  }
  WriteFile(Dir / "text.wma", std::vector<uint8_t>(3000, 'x'));
  in.SetFileName((Dir / "text.wma").string());
  try {
    in.Init();
    ADD_FAILURE() << "a run without audio started";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), kMsgWmNoAudio);
  }
  EXPECT_FALSE(in.Valid);
}

}  // namespace

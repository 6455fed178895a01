// Every source format converted to FLAC and to Opus through the real
// quellmark-cli: the neutral fields its container holds reach the output's
// comments (mutagen reads them back), and the audio keeps the source's own
// rate, channels and width whatever the WAV settings say; a lossless source
// gives a FLAC file of exactly its samples.
#include <gtest/gtest.h>

#include "tests/app/routing_test_support.h"

using namespace qmtest;
using routingtest::ReadTags;
using routingtest::TTags;

#if defined(QUELLMARK_CLI) && defined(APECODEC_TOOL)

namespace {

// Values the sources' containers hold; each source below says which of them
// its container has.
const TTags kSourceTags = {{"title", "Ступени"}, {"artist", "Band"}, {"album", "Disc"}, {"date", "1999"},
                           {"track", "7"},       {"genre", "Rock"},  {"comment", "Notice"}};

TTags Except(std::initializer_list<const char*> keys, TTags tags = kSourceTags) {
  for (const char* key : keys) tags.erase(key);
  return tags;
}

class StreamTagRoutingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QM_REQUIRE_TOOLS("ffmpeg", "ffprobe", "flac");
    QM_SKIP_UNLESS(HavePythonModule("mutagen"), "mutagen for /usr/bin/python3");
    FfmpegGenerate("aevalsrc=0.5*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):s=44100:d=1.5", "-ac 2 -c:a pcm_s16le", Wav);
  }

  fs::path Make(const std::string& command, const fs::path& out) {
    EXPECT_EQ(RunStatus(command), 0) << command;
    return out;
  }

  // The source to FLAC and to Opus: each output carries `tags`; the FLAC
  // file's samples are `lossless` when that is given.
  void CheckBoth(const fs::path& source, const TTags& tags, const std::string& flacStream,
                 const std::vector<uint8_t>* lossless = nullptr) {
    for (int type : {5, 6}) {
      SCOPED_TRACE("output type " + std::to_string(type));
      const auto outputs = routingtest::CliConvert(
          "--set outputType=" + std::to_string(type) + " --set wavSr=8000 --set wavCh=1 --set wavBps=8", {source});
      if (outputs.size() != 1) continue;
      const fs::path& out = outputs[0];
      if (type == 5) {
        EXPECT_EQ(out.extension(), ".flac");
        EXPECT_EQ(ProbeStream(out, "codec_name,sample_rate,channels,bits_per_raw_sample"), flacStream);
        EXPECT_EQ(RunStatus("flac -s -t " + Quote(out)), 0);
        if (lossless != nullptr) {
          EXPECT_TRUE(FfmpegDecode(out, "s16le") == *lossless);
        }
      } else {
        EXPECT_EQ(out.extension(), ".opus");
        EXPECT_EQ(ProbeStream(out, "codec_name,sample_rate,channels"), "opus|48000|2");
      }
      EXPECT_EQ(ReadTags(out), tags);
    }
  }

  TTempDir Dir;
  const fs::path Wav = Dir / "signal.wav";
};

}  // namespace

TEST_F(StreamTagRoutingTest, WavCarriesNoTagsAndKeepsItsSamples) {
  const fs::path wav = Dir / "song.wav";
  fs::copy_file(Wav, wav);
  const std::vector<uint8_t> samples = WavPayload(wav);
  CheckBoth(wav, {}, "flac|44100|2|16", &samples);
}

// The MP3 and WMA readers take the copyright as the comment.
TEST_F(StreamTagRoutingTest, Mp3GivesEveryFieldOfItsId3v2Tag) {
  QM_REQUIRE_TOOLS("lame");
  const fs::path mp3 = Make("lame --quiet -b 128 --id3v2-only --tt Ступени --ta Band --tl Disc --ty 1999 --tn 7 "
                            "--tg Rock --tv TCOP=Notice " + Quote(Wav) + " " + Quote(Dir / "song.mp3"),
                            Dir / "song.mp3");
  CheckBoth(mp3, kSourceTags, "flac|44100|2|16");
}

TEST_F(StreamTagRoutingTest, OggGivesTheFieldsOfItsComments) {
  QM_REQUIRE_TOOLS("oggenc");
  const fs::path ogg = Make("oggenc --quiet -q 3 -t Ступени -a Band -l Disc -d 1999 -N 7 -G Rock -c comment=Notice "
                            "-c replaygain_track_gain=-6.5 -o " + Quote(Dir / "song.ogg") + " " + Quote(Wav),
                            Dir / "song.ogg");
  // The Ogg source keeps no comment field; its ReplayGain goes nowhere.
  CheckBoth(ogg, Except({"comment"}), "flac|44100|2|16");
  for (const char* out : {"song.flac", "song.opus"}) {
    const std::string all = CommandOutput("/usr/bin/python3 -c \"import sys, mutagen; "
                                          "print(mutagen.File(sys.argv[1]).tags.pprint())\" " +
                                          Quote(Dir / out));
    EXPECT_EQ(all.find("replaygain"), std::string::npos) << all;
    EXPECT_EQ(all.find("REPLAYGAIN"), std::string::npos) << all;
  }
}

TEST_F(StreamTagRoutingTest, WmaGivesTheFieldsOfItsContainer) {
  const fs::path wma = Make("ffmpeg -nostdin -v error -y -i " + Quote(Wav) +
                                " -c:a wmav2 -b:a 128k -metadata title=Ступени -metadata artist=Band "
                                "-metadata album=Disc -metadata genre=Rock -metadata WM/Track=7 "
                                "-metadata WM/Year=1999 -metadata copyright=Notice " + Quote(Dir / "song.wma"),
                            Dir / "song.wma");
  CheckBoth(wma, kSourceTags, "flac|44100|2|16");
}

TEST_F(StreamTagRoutingTest, ApeGivesEveryFieldOfItsTag) {
  const fs::path ape =
      Make(Quote(APECODEC_TOOL) + " encode " + Quote(Wav) + " " + Quote(Dir / "song.ape"), Dir / "song.ape");
  const std::string script =
      "import sys\nfrom mutagen.apev2 import APEv2\nt = APEv2()\n"
      "for k, v in [('Title', 'Ступени'), ('Artist', 'Band'), ('Album', 'Disc'), ('Genre', 'Rock'),\n"
      "             ('Comment', 'Notice'), ('Year', '1999'), ('Track', '7')]:\n"
      "  t[k] = v\n"
      "t.save(sys.argv[1])\n";
  ASSERT_EQ(RunStatus("/usr/bin/python3 -c " + Quote(script) + " " + Quote(ape)), 0);
  // The library hands the tag over in the ID3v1 layout: code-page text.
  TTags tags = kSourceTags;
  tags["title"] = "???????";
  const std::vector<uint8_t> samples = WavPayload(Wav);
  CheckBoth(ape, tags, "flac|44100|2|16", &samples);
}

TEST_F(StreamTagRoutingTest, AMediaRuntimeSourceKeepsItsWidthAndItsTags) {
  // A 24-bit FLAC file read by the media runtime: 24 bits again, exactly.
  const fs::path source = Dir / "in" / "song.flac";
  fs::create_directory(Dir / "in");
  const fs::path wav24 = Dir / "s24.wav";
  FfmpegGenerate("aevalsrc=0.5*sin(2*PI*440*t)+0.0001*random(0)|0.4*sin(2*PI*660*t):s=44100:d=1.2",
                 "-ac 2 -c:a pcm_s24le", wav24);
  Make("ffmpeg -nostdin -v error -y -i " + Quote(wav24) +
           " -metadata title=Ступени -metadata artist=Band -metadata album=Disc -c:a flac " + Quote(source),
       source);
  const auto outputs = routingtest::CliConvert(
      "--set outputType=5 --set asInput=0 --set OutputDir=" + Quote(Dir.Path()), {source});
  ASSERT_EQ(outputs.size(), 1u);
  EXPECT_EQ(ProbeStream(outputs[0], "codec_name,sample_rate,channels,bits_per_raw_sample"), "flac|44100|2|24");
  EXPECT_TRUE(FfmpegDecode(outputs[0], "s24le") == WavPayload(wav24));
  EXPECT_EQ(ReadTags(outputs[0]), (TTags{{"title", "Ступени"}, {"artist", "Band"}, {"album", "Disc"}}));
}

#endif

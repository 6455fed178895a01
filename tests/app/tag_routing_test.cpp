// Every source format converted to every output type through the real
// quellmark-cli, one test per source format: each output is checked by
// ffprobe for its format, rate and channels, and by mutagen for exactly the
// tags its pair of formats carries.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/app/routing_test_support.h"

using namespace qmtest;
using routingtest::ReadTags;
using routingtest::TTags;

#if defined(QUELLMARK_CLI) && defined(APECODEC_TOOL)

namespace {

// The values every tagged source carries in its own container.
const TTags kSourceTags = {{"title", "Ступени"}, {"artist", "Band"}, {"album", "Disc"}, {"date", "1999"},
                           {"track", "7"},       {"genre", "Rock"},  {"comment", "Notice"}};

TTags Only(std::initializer_list<const char*> keys, const TTags& from = kSourceTags) {
  TTags tags;
  for (const char* key : keys) tags[key] = from.at(key);
  return tags;
}

struct TOutputCase {
  int OutputType;
  const char* Codec;
  TTags Tags;
};

class TagRoutingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QM_REQUIRE_TOOLS("ffmpeg", "ffprobe");
    QM_SKIP_UNLESS(HavePythonModule("mutagen"), "mutagen for /usr/bin/python3");
  }

  // A 16-bit stereo WAV at 44100 Hz, 1.5 seconds.
  fs::path MakeWav(const std::string& name) {
    const fs::path out = Dir / name;
    FfmpegGenerate("sine=frequency=440:sample_rate=44100:duration=1.5", "-ac 2 -c:a pcm_s16le", out);
    return out;
  }

  fs::path Run(const std::string& command, const fs::path& out) {
    EXPECT_EQ(RunStatus(command), 0) << command;
    return out;
  }

  std::vector<fs::path> Convert(int outputType, const std::vector<fs::path>& files) {
    return routingtest::CliConvert("--set outputType=" + std::to_string(outputType) +
                                       " --set wavSr=22050 --set wavCh=1 --set wavBps=8 --set Bitrate=128",
                                   files);
  }

  // One source to each output type: the format, rate and channels of the
  // output, and exactly the tags of its pair.
  void CheckRow(const fs::path& source, const std::vector<TOutputCase>& cases, const std::string& wavStream) {
    for (const TOutputCase& c : cases) {
      SCOPED_TRACE("output type " + std::to_string(c.OutputType));
      const std::vector<fs::path> outputs = Convert(c.OutputType, {source});
      if (outputs.size() != 1) continue;
      const fs::path& out = outputs[0];
      if (c.OutputType == 0) {
        EXPECT_EQ(ProbeStream(out), wavStream);
      } else {
        EXPECT_EQ(ProbeStream(out, "codec_name,sample_rate,channels"), std::string(c.Codec) + "|44100|2");
      }
      EXPECT_EQ(ReadTags(out), c.Tags);
    }
  }

  TTempDir Dir;
};

// The MP3 row: ID3v1 gets title, artist, album, comment (the copyright the
// reader takes as comment) and genre; WMA the whole container.
TEST_F(TagRoutingTest, Mp3SourceToEveryOutput) {
  QM_REQUIRE_TOOLS("lame");
  const fs::path mp3 = Run("lame --quiet -b 128 --id3v2-only --tt Ступени --ta Band --tl Disc --ty 1999 --tn 7 "
                           "--tg Rock --tv TCOP=Notice " + Quote(MakeWav("s.wav")) + " " + Quote(Dir / "song.mp3"),
                           Dir / "song.mp3");
  TTags mp3Tags = Only({"title", "artist", "album", "genre"});
  mp3Tags["comment"] = "Notice";
  // The ID3v1 block holds the code page's characters only.
  mp3Tags["title"] = "???????";
  TTags wmaTags = Only({"title", "artist", "album", "genre", "date", "track"});
  wmaTags["copyright"] = "Notice";
  CheckRow(mp3, {{0, "", {}},
                 {1, "mp3", mp3Tags},
                 {2, "vorbis", Only({"album", "artist", "title"})},
                 {3, "wmav2", wmaTags},
                 {4, "ape", Only({"artist", "album", "title", "genre"})}},
           "pcm_s16le|44100|2|16");
}

TEST_F(TagRoutingTest, OggSourceToEveryOutput) {
  QM_REQUIRE_TOOLS("oggenc");
  const fs::path ogg = Run("oggenc --quiet -q 3 -t Ступени -a Band -l Disc -d 1999 -N 7 -G Rock -c comment=Notice -o " +
                               Quote(Dir / "song.ogg") + " " + Quote(MakeWav("s.wav")),
                           Dir / "song.ogg");
  TTags mp3Tags = Only({"artist", "album"});
  mp3Tags["title"] = "???????";
  CheckRow(ogg, {{0, "", {}},
                 {1, "mp3", mp3Tags},
                 {2, "vorbis", Only({"album", "artist", "date", "genre", "title", "track"})},
                 {3, "wmav2", Only({"title", "artist", "album"})},
                 {4, "ape", Only({"artist", "album", "title"})}},
           "pcm_s16le|44100|2|16");
}

TEST_F(TagRoutingTest, WmaSourceToEveryOutput) {
  const fs::path wma = Run("ffmpeg -nostdin -v error -y -i " + Quote(MakeWav("s.wav")) +
                               " -c:a wmav2 -b:a 128k -metadata title=Ступени -metadata artist=Band "
                               "-metadata album=Disc -metadata genre=Rock -metadata WM/Track=7 "
                               "-metadata WM/Year=1999 -metadata copyright=Notice " + Quote(Dir / "song.wma"),
                           Dir / "song.wma");
  TTags mp3Tags = Only({"artist", "album", "genre"});
  mp3Tags["title"] = "???????";
  TTags wmaTags = Only({"title", "artist", "album", "genre", "date", "track"});
  wmaTags["copyright"] = "Notice";
  CheckRow(wma, {{0, "", {}},
                 {1, "mp3", mp3Tags},
                 {2, "vorbis", Only({"album", "artist", "genre", "title", "track"})},
                 {3, "wmav2", wmaTags},
                 {4, "ape", Only({"artist", "album", "title"})}},
           "pcm_s16le|44100|2|16");
}

// An APE file made by our codec's tool and tagged by mutagen.
class ApeRoutingTest : public TagRoutingTest {
 protected:
  fs::path MakeApe(const std::string& name, const std::string& year, const std::string& track) {
    const fs::path ape = Run(Quote(APECODEC_TOOL) + " encode " + Quote(MakeWav(name + ".wav")) + " " +
                                 Quote(Dir / (name + ".ape")),
                             Dir / (name + ".ape"));
    const std::string script =
        "import sys\nfrom mutagen.apev2 import APEv2\nt = APEv2()\n"
        "for k, v in [('Title', 'Ступени'), ('Artist', 'Band'), ('Album', 'Disc'), ('Genre', 'Rock'),\n"
        "             ('Comment', 'Notice'), ('Year', sys.argv[2]), ('Track', sys.argv[3])]:\n"
        "  if v: t[k] = v\n"
        "t.save(sys.argv[1])\n";
    EXPECT_EQ(RunStatus("/usr/bin/python3 -c " + Quote(script) + " " + Quote(ape) + " " + Quote(year) + " " +
                        Quote(track)),
              0);
    return ape;
  }
};

TEST_F(ApeRoutingTest, ApeSourceToEveryOutput) {
  const fs::path ape = MakeApe("song", "1999", "7");
  // The library hands the tag over in the ID3v1 layout: code-page text.
  TTags apeTags = kSourceTags;
  apeTags["title"] = "???????";
  CheckRow(ape, {{0, "", {}},
                 {1, "mp3", Only({"title", "artist", "album", "date", "track", "genre"}, apeTags)},
                 {2, "vorbis", Only({"album", "artist", "genre", "title", "track"}, apeTags)},
                 {3, "wmav2", Only({"title", "artist", "album", "date", "track", "genre"}, apeTags)},
                 {4, "ape", apeTags}},
           "pcm_s16le|44100|2|16");
}

TEST_F(TagRoutingTest, WavSourceToEveryOutputCarriesNoTags) {
  const fs::path wav = MakeWav("song.wav");
  // Only a WAV source goes through the WAV settings.
  CheckRow(wav, {{0, "", {}}, {1, "mp3", {}}, {2, "vorbis", {}}, {3, "wmav2", {}}, {4, "ape", {}}},
           "pcm_u8|22050|1|8");
}

TEST_F(ApeRoutingTest, ApeYearReachesId3v1OnlyWhenThereAndANumber) {
  QM_REQUIRE_TOOLS("oggenc");
  const fs::path noYear = MakeApe("noyear", "", "7");
  const fs::path ogg = Run("oggenc --quiet -t Later -a Other -l Third -o " + Quote(Dir / "later.ogg") + " " +
                               Quote(MakeWav("later.wav")),
                           Dir / "later.ogg");
  // The Ogg file after an APE file in the same run carries only its own
  // title, artist and album.
  const std::vector<fs::path> outputs = Convert(1, {noYear, ogg});
  ASSERT_EQ(outputs.size(), 2u);
  EXPECT_EQ(ReadTags(outputs[0]), (TTags{{"title", "???????"}, {"artist", "Band"}, {"album", "Disc"},
                                         {"track", "7"}, {"genre", "Rock"}}));
  EXPECT_EQ(ReadTags(outputs[1]), (TTags{{"title", "Later"}, {"artist", "Other"}, {"album", "Third"}}));

  // A Year that is no number stops its row before anything is written; the
  // next row still runs.
  const fs::path bad = MakeApe("bad", "late", "7");
  const TRunResult r = RunShell(Quote(QUELLMARK_CLI) + " --set outputType=1 " + Quote(bad) + " " + Quote(ogg));
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Out.find("failed: " + bad.string() + ": 'late' is not a valid integer value"), std::string::npos)
      << r.Out;
  EXPECT_EQ(r.Out.find("bad.mp3"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("done: "), std::string::npos) << r.Out;
  for (const auto& entry : fs::directory_iterator(Dir.Path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_FALSE(name.rfind("bad", 0) == 0 && entry.path().extension() == ".mp3") << name << " was written";
  }
}

TEST_F(TagRoutingTest, ProbeTagsListsWhatEachSourceContainerHolds) {
  QM_REQUIRE_TOOLS("lame", "oggenc");
  const fs::path wav = MakeWav("plain.wav");
  const fs::path mp3 = Run("lame --quiet --id3v2-only --tt Ступени --ta Band --tl Disc --ty 1999 --tn 7 --tg Rock " +
                               Quote(wav) + " " + Quote(Dir / "song.mp3"),
                           Dir / "song.mp3");
  const fs::path ogg = Run("oggenc --quiet -t Ступени -a Band -d 1999 -N 7 -c discnumber=2 -o " +
                               Quote(Dir / "song.ogg") + " " + Quote(wav),
                           Dir / "song.ogg");
  // A file the reader cannot open, after one it read: nothing of the
  // earlier file shows, and its bit rate reads 0.
  std::vector<uint8_t> noise(4000);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 7919 >> 3);
  WriteFile(Dir / "noise.mp3", noise);
  const TRunResult r = RunShell(Quote(QUELLMARK_CLI) + " --probe --tags " + Quote(mp3) + " " +
                                Quote(Dir / "noise.mp3") + " " + Quote(ogg) + " " + Quote(wav));
  EXPECT_EQ(r.Status, 0) << r.Err;
  // The lengths (rounded from what each container says) are not the point.
  std::string out;
  std::istringstream lines(r.Out);
  for (std::string line; std::getline(lines, line);) {
    const auto tab = line.find('\t');
    if (tab != std::string::npos) line.replace(tab + 1, line.find('\t', tab + 1) - tab - 1, "-");
    out += line + "\n";
  }
  const std::string expected = "song.mp3\t-\t44100 Hz\t128 kbps\t" + mp3.string() + "\n" +
                               "  TALB=Disc\n  TCON=Rock\n  TIT2=Ступени\n  TPE1=Band\n  TRCK=7\n  TYER=1999\n" +
                               "noise.mp3\t-\t0 Hz\t0 kbps\t" + (Dir / "noise.mp3").string() + "\n" +
                               "song.ogg\t-\t44100 Hz\t16 bps\t" + ogg.string() + "\n" +
                               "  artist=Band\n  date=1999\n  title=Ступени\n  tracknumber=7\n" +
                               "plain.wav\t-\t44100 Hz\t16 bps\t" + wav.string() + "\n";
  EXPECT_EQ(out, expected);

  const TRunResult alone = RunShell(Quote(QUELLMARK_CLI) + " --tags " + Quote(mp3));
  EXPECT_EQ(alone.Status, 2);
  EXPECT_NE(alone.Err.find("--tags goes with --probe"), std::string::npos) << alone.Err;
}

}  // namespace

#endif

// Runs the quellmark-cli program on generated WAV files and checks its lines,
// its exit status and the files it writes (with ffprobe).
#include <gtest/gtest.h>

#include "temp_dir.h"
#include "wav_fixture.h"

namespace {

struct TCliResult {
  int status = -1;
  std::string out;
  std::string err;
};

TCliResult RunCli(const TTempDir& dir, const std::string& args) {
  TCliResult r;
  const auto errFile = dir / "stderr.txt";
  r.out = RunCommand(Quote(QUELLMARK_CLI) + " " + args + " 2>" + Quote(errFile.string()), &r.status);
  r.err = TTempDir::ReadText(errFile);
  return r;
}

}  // namespace

TEST(Cli, ConvertsBesideTheSourceWithTheConfiguredFormat) {
  TTempDir dir;
  WriteSineWav(dir / "song.wav", 44100, 2, 16, 44100 * 2);
  WriteSineWav(dir / "Track.WAV", 8000, 1, 8, 8000);
  const auto r = RunCli(dir, "--set wavSr=44100 --set wavCh=2 --set wavBps=24 " + Quote((dir / "song.wav").string()) +
                                 " " + Quote((dir / "Track.WAV").string()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "done: " + (dir / "song.wav.wav").string() + "\ndone: " + (dir / "Track.wav.wav").string() + "\n");
  EXPECT_EQ(ProbeStream(dir / "song.wav.wav"), "pcm_s24le|44100|2|24");
  EXPECT_EQ(ProbeStream(dir / "Track.wav.wav"), "pcm_s24le|44100|2|24");
  // Progress names the file on standard error.
  EXPECT_NE(r.err.find("% - song.wav"), std::string::npos) << r.err;
}

TEST(Cli, DefaultsGiveEightBitMono22050AndImaAdpcmGoesIntoOutputDir) {
  TTempDir dir;
  WriteSineWav(dir / "in" / "a.wav", 44100, 2, 16, 44100);
  auto r = RunCli(dir, Quote((dir / "in").string()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ProbeStream(dir / "in" / "a.wav.wav"), "pcm_u8|22050|1|8");

  std::filesystem::create_directories(dir / "out");
  TTempDir::WriteText(dir / "my.ini", "[Options]\nasInput=0\nOutputDir=" + (dir / "out").string() +
                                          "\nwavFormat=1\nwavCh=2\nwavBps=16\n");
  r = RunCli(dir, "--settings " + Quote((dir / "my.ini").string()) + " --set wavSr=32000 " +
                      Quote((dir / "in" / "a.wav").string()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "done: " + (dir / "out" / "a.wav.wav").string() + "\n");
  const std::string probe = ProbeStream(dir / "out" / "a.wav.wav");
  EXPECT_EQ(probe.substr(0, probe.rfind('|')), "adpcm_ima_wav|32000|2");
}

TEST(Cli, AFailedRowPrintsItsMessageKeepsItsSourceAndTheOthersRun) {
  TTempDir dir;
  WriteSineWav(dir / "a.wav", 8000, 1, 8, 800);
  WriteSineWav(dir / "b.wav", 8000, 1, 8, 800);
  const auto r = RunCli(dir, "--set deleteSource=1 --set asInput=0 --set OutputDir=" +
                                 Quote((dir / "missing").string()) + " " + Quote((dir / "a.wav").string()));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("failed: " + (dir / "a.wav").string() + ": ", 0), 0u) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "a.wav"));

  const auto ok = RunCli(dir, "--set deleteSource=1 " + Quote((dir / "b.wav").string()));
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "b.wav"));
  EXPECT_TRUE(std::filesystem::exists(dir / "b.wav.wav"));
}

TEST(Cli, UsageErrors) {
  TTempDir dir;
  for (const std::string& args : {std::string(""), std::string("--set wavSr=fast x.wav"),
                                 std::string("--set nokey=1 x.wav"), std::string("--set x.wav"),
                                 std::string("--bogus x.wav"), "--settings " + Quote((dir / "none.ini").string()) + " x.wav"}) {
    const auto r = RunCli(dir, args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find("usage: quellmark-cli"), std::string::npos) << args;
    EXPECT_EQ(r.out, "") << args;
  }
}

// A sample rate the engine does not take is a usage error, with the text
// the settings give it; nothing is converted.
TEST(Cli, OutOfRangeSampleRateIsRefused) {
  TTempDir dir;
  WriteSineWav(dir / "a.wav", 8000, 1, 8, 800);
  for (const std::string rate : {"-1", "768001"}) {
    const auto r = RunCli(dir, "--set wavSr=" + rate + " " + Quote((dir / "a.wav").string()));
    EXPECT_EQ(r.status, 2) << rate;
    EXPECT_NE(r.err.find("'" + rate + "' is not a valid integer value"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "a.wav.wav"));
  }
}

TEST(Cli, ProbePrintsTheRowCells) {
  TTempDir dir;
  WriteSineWav(dir / "x.wav", 1000, 1, 8, 1000 * 185, 100);
  const auto r = RunCli(dir, "--probe " + Quote((dir / "x.wav").string()));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "x.wav\t3:05\t1000 Hz\t8 bps\t" + (dir / "x.wav").string() + "\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "x.wav.wav"));

  const auto missing = RunCli(dir, "--probe " + Quote((dir / "nothere.wav").string()));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("nothere.wav: No such file or directory"), std::string::npos) << missing.err;
}

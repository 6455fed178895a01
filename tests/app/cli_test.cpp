// Runs the quellmark-cli program on generated WAV files and checks its lines,
// its exit status and the files it writes (with ffprobe). Its view of the
// driver is also driven in-process, for a row that cannot be started.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>

#include "app/app_core.h"
#include "cli/cli_view.h"
#include "fifo_guard.h"
#include "pipeline/main_thread_invoker.h"
#include "tests/support/support.h"

using namespace qmtest;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct TCliResult {
  int status = -1;
  std::string out;
  std::string err;
};

TCliResult RunCli(const std::string& args) {
  const TRunResult run = RunShell(Quote(QUELLMARK_CLI) + " " + args);
  return {run.Status, run.Out, run.Err};
}

}  // namespace

TEST(Cli, ConvertsBesideTheSourceWithTheConfiguredFormat) {
  QM_REQUIRE_TOOLS("ffprobe");
  TTempDir dir;
  WriteSineWav(dir / "song.wav", 44100, 2, 16, 44100 * 2);
  WriteSineWav(dir / "Track.WAV", 8000, 1, 8, 8000);
  const auto r = RunCli("--set wavSr=44100 --set wavCh=2 --set wavBps=24 " + Quote((dir / "song.wav").string()) +
                                 " " + Quote((dir / "Track.WAV").string()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "done: " + (dir / "song.wav.wav").string() + "\ndone: " + (dir / "Track.wav.wav").string() + "\n");
  EXPECT_EQ(ProbeStream(dir / "song.wav.wav"), "pcm_s24le|44100|2|24");
  EXPECT_EQ(ProbeStream(dir / "Track.wav.wav"), "pcm_s24le|44100|2|24");
  // Progress names the file on standard error.
  EXPECT_NE(r.err.find("% - song.wav"), std::string::npos) << r.err;
}

TEST(Cli, DefaultsGiveEightBitMono22050AndImaAdpcmGoesIntoOutputDir) {
  QM_REQUIRE_TOOLS("ffprobe");
  TTempDir dir;
  WriteSineWav(dir / "in" / "a.wav", 44100, 2, 16, 44100);
  auto r = RunCli(Quote((dir / "in").string()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ProbeStream(dir / "in" / "a.wav.wav"), "pcm_u8|22050|1|8");

  std::filesystem::create_directories(dir / "out");
  WriteText(dir / "my.ini", "[Options]\nasInput=0\nOutputDir=" + (dir / "out").string() +
                                          "\nwavFormat=1\nwavCh=2\nwavBps=16\n");
  r = RunCli("--settings " + Quote((dir / "my.ini").string()) + " --set wavSr=32000 " +
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
  const auto r = RunCli("--set deleteSource=1 --set asInput=0 --set OutputDir=" +
                                 Quote((dir / "missing").string()) + " " + Quote((dir / "a.wav").string()));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("failed: " + (dir / "a.wav").string() + ": ", 0), 0u) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir / "a.wav"));

  const auto ok = RunCli("--set deleteSource=1 " + Quote((dir / "b.wav").string()));
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "b.wav"));
  EXPECT_TRUE(std::filesystem::exists(dir / "b.wav.wav"));
}

// An output whose name is taken: keep both (the done: line names the free
// name), replace, or skip (a skipped: line, no failure).
TEST(Cli, ExistingOutputKeepsBothReplacesOrSkips) {
  TTempDir dir;
  WriteSineWav(dir / "a.wav", 8000, 1, 8, 800);
  WriteText(dir / "a.wav.wav", "mine");
  const std::string a = Quote((dir / "a.wav").string());
  auto r = RunCli(a);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "done: " + (dir / "a.wav (2).wav").string() + "\n");
  r = RunCli("--set existingOutput=2 " + a);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "skipped: " + (dir / "a.wav").string() + ": " +
                       FormatMessage(kFmtOutputExists, {(dir / "a.wav.wav").string()}) + "\n");
  EXPECT_EQ(ReadText(dir / "a.wav.wav"), "mine");
  r = RunCli("--set existingOutput=1 " + a);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "done: " + (dir / "a.wav.wav").string() + "\n");
  EXPECT_NE(ReadText(dir / "a.wav.wav"), "mine");
  EXPECT_FALSE(std::filesystem::exists(dir / "a.wav (3).wav"));
}

// A skipped row is never one the lines wait for: with several files at
// once, the rows after it still print their done: lines.
TEST(Cli, ASkippedFileHoldsBackNoLaterLine) {
  TTempDir dir;
  for (const char* name : {"a.wav", "b.wav", "c.wav"}) WriteSineWav(dir / name, 8000, 1, 8, 800);
  WriteText(dir / "a.wav.wav", "mine");
  std::string args = "-j 2 --set existingOutput=2";
  for (const char* name : {"a.wav", "b.wav", "c.wav"}) args += " " + Quote((dir / name).string());
  const auto r = RunCli(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "skipped: " + (dir / "a.wav").string() + ": " +
                       FormatMessage(kFmtOutputExists, {(dir / "a.wav.wav").string()}) + "\n" +
                       "done: " + (dir / "b.wav.wav").string() + "\n" +
                       "done: " + (dir / "c.wav.wav").string() + "\n");
  EXPECT_EQ(ReadText(dir / "a.wav.wav"), "mine");
}

TEST(Cli, UsageErrors) {
  TTempDir dir;
  for (const std::string& args : {std::string(""), std::string("--set wavSr=fast x.wav"),
                                 std::string("--set nokey=1 x.wav"), std::string("--set x.wav"),
                                 std::string("--bogus x.wav"), std::string("--set WindowWidth=800 x.wav"),
                                 "--settings " + Quote((dir / "none.ini").string()) + " x.wav"}) {
    const auto r = RunCli(args);
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
    const auto r = RunCli("--set wavSr=" + rate + " " + Quote((dir / "a.wav").string()));
    EXPECT_EQ(r.status, 2) << rate;
    EXPECT_NE(r.err.find("'" + rate + "' is not a valid integer value"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "a.wav.wav"));
  }
}

// Both answer without a PATH and before anything else on the line is judged.
TEST(Cli, HelpAndVersionPrintOnStandardOutputAndSucceed) {
  TTempDir dir;
  const auto version = RunCli("--version --bogus");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("quellmark-cli ") + kAppVersion + "\n");
  // The window's caption carries the same version.
  EXPECT_EQ(std::string(kAppCaption), std::string("Quellmark Audio Converter ") + kAppVersion);
  const auto help = RunCli("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: quellmark-cli", 0), 0u) << help.out;
  for (const char* option : {"--settings", "--set", "--probe", "--list-formats", "--help", "--version"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(help.err, "");
}

TEST(Cli, ProbePrintsTheRowCells) {
  TTempDir dir;
  WriteSineWav(dir / "x.wav", 1000, 1, 8, 1000 * 185, 100);
  const auto r = RunCli("--probe " + Quote((dir / "x.wav").string()));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "x.wav\t3:05\t1000 Hz\t8 bps\t" + (dir / "x.wav").string() + "\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "x.wav.wav"));

  const auto missing = RunCli("--probe " + Quote((dir / "nothere.wav").string()));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("nothere.wav: No such file or directory"), std::string::npos) << missing.err;
}

TEST(Cli, PathsThatCannotBeListedArePrintedAndTheOthersAreConverted) {
  TTempDir dir;
  WriteSineWav(dir / "first.wav", 8000, 1, 8, 800);
  WriteSineWav(dir / "music" / "last.wav", 8000, 1, 8, 800);
  std::filesystem::create_directory_symlink(dir / "music", dir / "music" / "folder.wav");
  TFifoGuard fifo(dir / "pipe.wav");
  const auto r = RunCli(Quote((dir / "first.wav").string()) + " " + Quote((dir / "missing.wav").string()) +
                                 " " + Quote((dir / "pipe.wav").string()) + " " + Quote((dir / "music").string()));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "done: " + (dir / "first.wav.wav").string() + "\ndone: " + (dir / "music" / "last.wav.wav").string() +
                       "\n");
  std::vector<std::string> errors;
  for (const std::string& line : Lines(r.err)) {
    if (line.rfind("error: ", 0) == 0) errors.push_back(line);
  }
  EXPECT_EQ(errors, (std::vector<std::string>{"error: " + (dir / "missing.wav").string() + ": No such file or directory",
                                              "error: " + (dir / "pipe.wav").string() + ": Not a regular file"}))
      << r.err;
  EXPECT_EQ(fifo.Readers(), 0);
}

TEST(Cli, ControlCharactersInNamesAreEscapedInEveryLine) {
  TTempDir dir;
  const std::string name = "a\nb\tc\\d\x01\x7f\xc3\xa9.wav";
  const std::string shown = "a\\nb\\tc\\\\d\\x01\\x7f\xc3\xa9.wav";  // UTF-8 passes as it is
  WriteSineWav(dir / name, 8000, 1, 8, 8000);

  const auto probe = RunCli("--probe " + Quote((dir / name).string()));
  EXPECT_EQ(probe.status, 0);
  EXPECT_EQ(probe.out, shown + "\t0:01\t8000 Hz\t8 bps\t" + dir.Str() + "/" + shown + "\n");

  const auto done = RunCli(Quote((dir / name).string()));
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.out, "done: " + dir.Str() + "/" + shown + ".wav\n");
  EXPECT_TRUE(std::filesystem::exists(dir / (name + ".wav")));
  // Progress, one line per tenth, from the percentage itself.
  const auto progress = Lines(done.err);
  ASSERT_FALSE(progress.empty());
  int lastTens = -1;
  for (const std::string& line : progress) {
    const auto cut = line.find("% - ");
    ASSERT_NE(cut, std::string::npos) << line;
    EXPECT_EQ(line.substr(cut + 4), shown);
    const int percent = std::stoi(line.substr(0, cut));
    EXPECT_GT(percent / 10, lastTens) << done.err;
    lastTens = percent / 10;
  }

  const auto failed = RunCli("--set asInput=0 --set OutputDir=" + Quote((dir / "no\nfolder").string()) + " " +
                                      Quote((dir / name).string()));
  EXPECT_EQ(failed.status, 1);
  ASSERT_EQ(Lines(failed.out).size(), 1u) << failed.out;
  EXPECT_EQ(failed.out.rfind("failed: " + dir.Str() + "/" + shown + ": ", 0), 0u) << failed.out;

  const auto missing = RunCli(Quote((dir / "gone\n.wav").string()));
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "error: " + dir.Str() + "/gone\\n.wav: No such file or directory\n");
}

namespace {

// The command line's view over a real core, writing into files; after each
// row's end it can change the settings, as the window's settings dialog can
// during a run.
struct TCliViewFixture {
  struct TClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  TTempDir dir;
  std::unique_ptr<std::FILE, TClose> outFile{std::fopen((dir / "out.txt").c_str(), "w+")};
  std::unique_ptr<std::FILE, TClose> errFile{std::fopen((dir / "err.txt").c_str(), "w+")};
  std::FILE* out = outFile.get();
  std::FILE* err = errFile.get();
  struct TView : TCliView {
    using TCliView::TCliView;
    std::function<void()> AfterRow;
    void RowFinished(int index, const std::string& outputPath, const std::string& error) override {
      TCliView::RowFinished(index, outputPath, error);
      if (AfterRow) AfterRow();
    }
  } view{out, err};
  TAppCore core{view};
  TCliViewFixture() { core.Settings.jobs = 1; }

  bool RunToEnd() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (core.Driver.Running) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      MainThreadInvoker::Instance().WaitAndRun(std::chrono::milliseconds(100));
    }
    return true;
  }
  static std::string Read(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    return text;
  }
};

}  // namespace

TEST(CliView, ARowThatCannotBeStartedIsOneFailedLineAndOneFailure) {
  TCliViewFixture f;
  WriteSineWav(f.dir / "a.wav", 8000, 1, 8, 800);
  WriteSineWav(f.dir / "b.wav", 8000, 1, 8, 800);
  f.view.RowSource = [&](int index) { return f.core.Files.Row(index).Path; };
  ASSERT_EQ(f.core.DropPaths({(f.dir / "a.wav").string(), (f.dir / "b.wav").string()}), std::vector<std::string>{});
  // After a, no sink serves the output type: b fails while it is prepared.
  f.view.AfterRow = [&] { f.core.Settings.outputType = 9; };
  f.core.Driver.MStartClick();
  ASSERT_TRUE(f.RunToEnd());
  const auto out = Lines(TCliViewFixture::Read(f.out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], "done: " + (f.dir / "a.wav.wav").string());
  EXPECT_EQ(out[1].rfind("failed: " + (f.dir / "b.wav").string() + ": ", 0), 0u) << out[1];
  EXPECT_EQ(TCliViewFixture::Read(f.err).find("error:"), std::string::npos);
  EXPECT_EQ(f.view.Failures, 1);
}

TEST(Cli, ListFormatsPrintsTheCatalog) {
  TTempDir dir;
  const auto r = RunCli("--list-formats");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "WAV\t.wav\tyes\t0\t.wav\tyes\twavCh,wavSr,wavBps,wavFormat\n"
            "MP3\t.mp3\tyes\t1\t.mp3\tyes\tBitrate\n"
            "OGG\t.ogg\tyes\t2\t.ogg\tyes\toggQuality\n"
            "WMA\t.wma\tyes\t3\t.wma\tyes\tBitrate\n"
            "APE\t.ape\tyes\t4\t.ape\tyes\tapeCompression\n"
            "FLAC\t\tno\t5\t.flac\tyes\tflacLevel\n"
            "Opus\t\tno\t6\t.opus\tyes\topusBitrate\n"
            "MEDIA\t.flac,.m4a,.aac,.opus,.oga,.aif,.aiff,.aifc,.wv,.mpc,.ac3,.mp2,.au,.caf,.mka,.tta,.spx\tyes\t-1\t"
            "\tno\t\n");
  const auto help = RunCli("--help");
  EXPECT_NE(help.out.find("outputType: 0 WAV, 1 MP3, 2 OGG, 3 WMA, 4 APE, 5 FLAC, 6 Opus."), std::string::npos) << help.out;
}

TEST(Cli, ApeOutputAndInputGoThroughTheirDescriptor) {
  QM_REQUIRE_TOOLS("ffmpeg", "ffprobe");
  TTempDir dir;
  WriteSineWav(dir / "a.wav", 44100, 2, 16, 44100);
  auto r = RunCli("--set outputType=4 --set apeCompression=3000 " + Quote((dir / "a.wav").string()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "done: " + (dir / "a.ape").string() + "\n");
  EXPECT_EQ(ProbeStream(dir / "a.ape"), "ape|44100|2|0");
  // Back to WAV: an APE source is written in its own format, whatever the
  // WAV settings say, and decodes to the original samples.
  r = RunCli("--set outputType=0 " + Quote((dir / "a.ape").string()));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ProbeStream(dir / "a.wav"), "pcm_s16le|44100|2|16");
  const std::string original = RunShell("ffmpeg -v error -i " + Quote((dir / "a.ape").string()) + " -f s16le - | md5sum").Out;
  WriteSineWav(dir / "b.wav", 44100, 2, 16, 44100);
  const std::string expected = RunShell("ffmpeg -v error -i " + Quote((dir / "b.wav").string()) + " -f s16le - | md5sum").Out;
  EXPECT_EQ(original, expected);
}

TEST(Cli, FilesConvertedThreeAtOncePrintTheirLinesInTheListsOrder) {
  TTempDir dir;
  // The first file ends long after the others; the third fails alone.
  WriteSineWav(dir / "a.wav", 44100, 2, 16, 44100 * 30);
  for (const char* name : {"b.wav", "d.wav", "e.wav"}) WriteSineWav(dir / name, 8000, 1, 8, 8000);
  WriteFile(dir / "c.wav", std::vector<uint8_t>{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'});
  std::string args = "-j 3 --set outputType=1";
  for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"}) args += " " + Quote((dir / name).string());
  const auto r = RunCli(args);
  EXPECT_EQ(r.status, 1) << r.err;
  const auto out = Lines(r.out);
  ASSERT_EQ(out.size(), 5u) << r.out << r.err;
  EXPECT_EQ(out[0], "done: " + (dir / "a.mp3").string());
  EXPECT_EQ(out[1], "done: " + (dir / "b.mp3").string());
  EXPECT_EQ(out[2].rfind("failed: " + (dir / "c.wav").string() + ": ", 0), 0u) << out[2];
  EXPECT_EQ(out[3], "done: " + (dir / "d.mp3").string());
  EXPECT_EQ(out[4], "done: " + (dir / "e.mp3").string());
  // One progress line for the run, with the rows converting and the time left.
  EXPECT_NE(r.err.find(" running - "), std::string::npos) << r.err;
  for (const char* name : {"a.mp3", "b.mp3", "d.mp3", "e.mp3"}) EXPECT_GT(std::filesystem::file_size(dir / name), 0u) << name;
}

TEST(Cli, JobsNeedsANumber) {
  for (const char* args : {"-j", "-j many a.wav", "--jobs 1.5 a.wav"}) {
    const auto r = RunCli(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.out, "") << args;
  }
}

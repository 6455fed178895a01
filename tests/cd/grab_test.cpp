// The grab driver over disc images made at test time, through the real
// library and the real sinks: Get Tracks, grabs read back by FFmpeg, lame and
// mutagen, the data track, paranoia and a byte-swapped image, a machine
// without drives, the tray of an image, and quellmark-cli's --probe and
// --grab.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <sys/wait.h>
#include <sstream>

#include "app/app_core.h"
#include "converters/audio_converter.h"
#include "converters/fast_resampler.h"
#include "tests/support/main_thread_pump.h"
#include "tests/cd/cd_test_support.h"

using namespace cdtest;
using namespace qmtest;

namespace {

const TConfigHome& g_home = ConfigHome();

class TRecordingView : public TDriverView {
 public:
  void ShowProgressPanel(bool visible) override { panel = visible; }
  void SetGauge(int) override {}
  void SetTitle(const std::string&) override {}
  void SetStatus(const std::string& text) override {
    if (!text.empty()) statuses.push_back(text);
  }
  void ShowError(const std::string& message) override { errors.push_back(message); }
  void RowNotStarted(const std::string&) override {}
  void RowFinished(int index, const std::string& output, const std::string& error) override {
    finished.push_back({index, output, error});
  }
  void RestoreListPopup() override { popup = true; }
  void TrackStarted(int track) override { tracks.push_back(track); }

  struct TFinished {
    int Index;
    std::string Output;
    std::string Error;
  };
  bool panel = false;
  bool popup = false;
  std::vector<std::string> statuses;
  std::vector<std::string> errors;
  std::vector<TFinished> finished;
  std::vector<int> tracks;
};

bool Pump(const std::function<bool()>& done) { return qmtest::PumpUntil(done, std::chrono::seconds(120)); }

struct GrabFixture : ::testing::Test {
  GrabFixture() : core(view) {
    core.Settings.OutputDir = (dir.Path() / "out").string();
    fs::create_directories(dir.Path() / "out");
    // WAV output as the disc holds it.
    core.Settings.SetByName("wavSr", "44100");
    core.Settings.SetByName("wavCh", "2");
    core.Settings.SetByName("wavBps", "16");
  }
  void List(const TDiscImage& disc) {
    ASSERT_TRUE(core.Grab.UseDrive(disc.Cue.string()));
    core.Grab.MGetTracksClick();
    ASSERT_TRUE(view.errors.empty()) << view.errors.front();
  }
  void Grab() {
    view.finished.clear();
    core.Grab.MGrabStartClick();
    ASSERT_TRUE(Pump([this] { return !core.Driver.Running; }));
  }
  fs::path Out(const std::string& name) const { return dir.Path() / "out" / name; }

  TTempDir dir;
  TRecordingView view;
  TAppCore core;
};

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

TEST_F(GrabFixture, GetTracksListsEveryTrackWithItsCaptionLengthAndFormat) {
  const TDiscImage disc = MakeDisc(dir.Path());
  core.Driver.RunMode = kRunModeConvert;
  List(disc);
  ASSERT_EQ(core.Files.Count(), 4);
  std::vector<std::string> rows;
  for (int i = 0; i < core.Files.Count(); ++i) {
    const TFileRow& r = core.Files.Row(i);
    rows.push_back(r.Caption + "|" + r.Length + "|" + r.Samplerate + "|" + r.Bitrate + "|" +
                   (r.Checked ? "checked" : "unchecked") + "|" + std::to_string(r.Track));
  }
  // 317, 401, 233 and 200 sectors: 4.23 s, 5.35 s, 3.11 s, 2.67 s.
  EXPECT_EQ(Lines(rows),
            "01 - Track Title 1|0:04|44100 Hz|16 bps|checked|1\n"
            "02 - Zweite Stra\xC3\x9F" "e|0:05|44100 Hz|16 bps|checked|2\n"
            "03 - Track Title 3|0:03|44100 Hz|16 bps|checked|3\n"
            "Track 04|0:02|44100 Hz|16 bps|unchecked|4\n");
  EXPECT_EQ(core.Files.Row(1).Path, disc.Cue.string() + "#2");
  EXPECT_TRUE(view.popup) << "the list gets its popup menu back";
  EXPECT_EQ(core.Driver.RunMode, kRunModeGrab);
  EXPECT_EQ(core.Grab.DiscText().Disc.Title, "Disc Title");

  // Listing again replaces the rows; a disc without CD-Text gives numbers.
  TDiscLayout plain;
  plain.CdText = false;
  plain.DataSectors = 0;
  plain.Name = "plain";
  List(MakeDisc(dir.Path(), plain));
  ASSERT_EQ(core.Files.Count(), 3);
  EXPECT_EQ(core.Files.Row(0).Caption, "Track 01");
  EXPECT_EQ(core.Files.Row(2).Caption, "Track 03");
}

TEST(GrabCaptionTest, ATitleBecomesOneFileNameWhateverItHolds) {
  EXPECT_EQ(TGrabDriver::TrackCaption(7, ""), "Track 07");
  EXPECT_EQ(TGrabDriver::TrackCaption(12, "Mr. Blue"), "12 - Mr. Blue");
  EXPECT_EQ(TGrabDriver::TrackCaption(1, "AC/DC\ttour..."), "01 - AC_DC_tour");
  EXPECT_EQ(TGrabDriver::TrackCaption(2, "../.."), "02 - .._");
  EXPECT_EQ(TGrabDriver::TrackCaption(3, " . "), "Track 03");
  // A long title is cut on a character boundary.
  std::string longTitle;
  for (int i = 0; i < 150; ++i) longTitle += "\xC3\xA9";
  const std::string caption = TGrabDriver::TrackCaption(4, longTitle);
  EXPECT_EQ(caption.size(), 5u + 200u);
  EXPECT_EQ(caption.substr(caption.size() - 2), "\xC3\xA9");
}

struct TGrabCase {
  const char* Name;
  bool Paranoid;
  bool ByteSwapped;
};

class GrabWavTest : public GrabFixture, public ::testing::WithParamInterface<TGrabCase> {};

TEST_P(GrabWavTest, EveryAudioTrackGrabsBitExactlyToWav) {
  TDiscLayout layout;
  layout.ByteSwapped = GetParam().ByteSwapped;
  const TDiscImage disc = MakeDisc(dir.Path(), layout);
  // Verification is switched on through the source's own properties.
  core.Components.CDIn1->Paranoid = GetParam().Paranoid;
  core.Components.CDIn1->EnableJitterCorrection = GetParam().Paranoid;
  List(disc);
  Grab();
  ASSERT_EQ(view.finished.size(), 3u) << "the data track is not grabbed unless checked";
  const char* names[] = {"01 - Track Title 1.wav", ("02 - Zweite Stra\xC3\x9F" "e.wav"), "03 - Track Title 3.wav"};
  for (int t = 0; t < 3; ++t) {
    EXPECT_EQ(view.finished[t].Error, "") << t;
    EXPECT_EQ(view.finished[t].Output, Out(names[t]).string());
    EXPECT_EQ(CommandOutput("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels "
                      "-of csv=p=0 " + Quote(Out(names[t]))),
              "pcm_s16le,44100,2");
    EXPECT_TRUE(FfmpegDecode(Out(names[t]), "s16le") == disc.Tracks[t]) << names[t];
    EXPECT_EQ(core.Files.Row(t).Image, TRowImage::Done);
    EXPECT_FALSE(core.Files.Row(t).Checked);
  }
  EXPECT_EQ(view.tracks, (std::vector<int>{1, 2, 3}));
  // The status bar names the track being grabbed.
  ASSERT_FALSE(view.statuses.empty());
  EXPECT_EQ(view.statuses.front(), "Grabbing: 01 - Track Title 1");
  // The unchecked data track ends the run after track 3, and the emptied
  // progress panel stays as after a conversion whose last row is unchecked.
  EXPECT_TRUE(view.panel);
  EXPECT_FALSE(core.Driver.Running);
  EXPECT_EQ(core.Files.Row(3).Image, TRowImage::None);
}

INSTANTIATE_TEST_SUITE_P(Modes, GrabWavTest,
                         ::testing::Values(TGrabCase{"plain", false, false}, TGrabCase{"paranoid", true, false},
                                           TGrabCase{"byte_swapped", false, true},
                                           TGrabCase{"paranoid_byte_swapped", true, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(GrabFixture, ApeGrabsAreBitExactAndCarryTheCDText) {
  const TDiscImage disc = MakeDisc(dir.Path());
  core.Settings.outputType = 4;
  List(disc);
  Grab();
  ASSERT_EQ(view.finished.size(), 3u);
  const fs::path second = Out("02 - Zweite Stra\xC3\x9F" "e.ape");
  EXPECT_EQ(view.finished[1].Error, "");
  EXPECT_TRUE(FfmpegDecode(second, "s16le") == disc.Tracks[1]);
  EXPECT_TRUE(FfmpegDecode(Out("03 - Track Title 3.ape"), "s16le") == disc.Tracks[2]);
  EXPECT_EQ(CommandOutput("ffprobe -v error -show_entries format_tags=title,artist,album,track -of default=nw=1 " +
                    Quote(second)),
            "TAG:Artist=Artist 2\nTAG:Album=Disc Title\nTAG:Title=Zweite Stra\xC3\x9F" "e\nTAG:Track=2");
}

TEST_F(GrabFixture, OggAndWmaGrabsCarryTheCDText) {
  QM_REQUIRE_TOOLS("ffprobe");
  const TDiscImage disc = MakeDisc(dir.Path());
  // Every tag of the file, one "key=value" line each, keys in lower case
  // (Vorbis comments and ASF attributes spell them differently).
  auto tags = [](const fs::path& file, const char* where) {
    std::string text = CommandOutput(std::string("ffprobe -v error -show_entries ") + where +
                                     "_tags -of default=nw=1:nk=0 " + Quote(file));
    std::string lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("TAG:", 0) == 0) line.erase(0, 4);
      const std::size_t eq = line.find('=');
      for (std::size_t i = 0; i < eq && eq != std::string::npos; ++i) {
        line[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
      }
      lines += line + "\n";
    }
    return lines;
  };
  core.Settings.existingOutput = 1;
  for (int type : {2, 3}) {
    SCOPED_TRACE(type);
    core.Settings.outputType = type;
    List(disc);
    core.Files.SetChecked(0, false);
    core.Files.SetChecked(2, false);
    Grab();
    ASSERT_EQ(view.finished.size(), 1u);
    EXPECT_EQ(view.finished[0].Error, "");
    const fs::path out = view.finished[0].Output;
    EXPECT_EQ(out.filename().string(), std::string("02 - Zweite Stra\xC3\x9F" "e") + (type == 2 ? ".ogg" : ".wma"));
    const std::string found = tags(out, type == 2 ? "stream" : "format");
    // FFmpeg reports TRACKNUMBER as "track".
    const std::string track = type == 2 ? "track=2\n" : "wm/track=2\n";
    for (const std::string& want :
         {std::string("title=Zweite Stra\xC3\x9F" "e\n"), std::string("artist=Artist 2\n"),
          std::string("album=Disc Title\n"), track}) {
      EXPECT_NE(found.find(want), std::string::npos) << want << " not in " << found;
    }
  }
}

TEST_F(GrabFixture, Mp3GrabsDecodeAndCarryTheCDTextOrTheTrackNumberAlone) {
  if (qmtest::RunStatus("/usr/bin/python3 -c 'import mutagen.id3'") != 0) GTEST_SKIP() << "mutagen is not installed";
  auto tags = [](const fs::path& file) {
    return CommandOutput("/usr/bin/python3 -c \"import sys, mutagen.id3\n"
                   "t = mutagen.id3.ID3(sys.argv[1])\n"
                   "for k in sorted(t.keys()): print(k.split(':')[0] + '=' + str(t[k]))\" " +
                   Quote(file) + " 2>&1");
  };
  core.Settings.outputType = 1;
  List(MakeDisc(dir.Path()));
  // Only track 1.
  core.Files.SetChecked(1, false);
  core.Files.SetChecked(2, false);
  Grab();
  ASSERT_EQ(view.finished.size(), 1u);
  const fs::path first = Out("01 - Track Title 1.mp3");
  EXPECT_EQ(view.finished[0].Error, "");
  EXPECT_EQ(tags(first), "TALB=Disc Title\nTIT2=Track Title 1\nTPE1=Artist 1\nTRCK=1");
  const fs::path decoded = dir.Path() / "decoded.wav";
  ASSERT_EQ(qmtest::RunStatus("lame --quiet --decode " + Quote(first) + " " + Quote(decoded)), 0);
  EXPECT_EQ(CommandOutput("ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 " + Quote(decoded)),
            "44100,2");

  // A disc without CD-Text: the track number alone.
  TDiscLayout plain;
  plain.CdText = false;
  plain.Name = "plain";
  List(MakeDisc(dir.Path(), plain));
  for (int i : {0, 2}) core.Files.SetChecked(i, false);
  Grab();
  ASSERT_EQ(view.finished.size(), 1u);
  EXPECT_EQ(tags(Out("Track 02.mp3")), "TRCK=2");

  // A file converted afterwards carries none of the grabbed track's tags:
  // its ID3v1 block is empty.
  core.Settings.asInput = true;
  const fs::path wav = dir.Path() / "song.wav";
  qmtest::WriteFile(wav, qmtest::PcmWave(2, 44100, 16, std::vector<uint8_t>(44100 * 4, 0)));
  ASSERT_TRUE(core.AddPaths({wav.string()}).empty());
  core.Driver.MStartClick();
  ASSERT_TRUE(Pump([this] { return !core.Driver.Running; }));
  const std::vector<uint8_t> song = qmtest::ReadFile(dir.Path() / "song.mp3");
  ASSERT_GT(song.size(), 128u);
  const std::vector<uint8_t> block(song.end() - 128, song.end());
  EXPECT_EQ(std::string(block.begin(), block.begin() + 3), "TAG");
  EXPECT_EQ(std::count(block.begin() + 3, block.begin() + 127, 0), 124);
}

TEST_F(GrabFixture, TheDataTrackIsRefusedAndTheOthersStillGrab) {
  const TDiscImage disc = MakeDisc(dir.Path());
  List(disc);
  core.Files.SetAllChecked(false);
  core.Files.SetChecked(3, true);
  core.Files.SetChecked(2, true);
  Grab();
  ASSERT_EQ(view.finished.size(), 2u);
  EXPECT_EQ(view.finished[0].Error, "");
  EXPECT_EQ(view.finished[1].Index, 3);
  EXPECT_EQ(view.finished[1].Error, "Trying to rip a data track");
  EXPECT_EQ(core.Files.Row(3).Image, TRowImage::Failed);
  EXPECT_TRUE(core.Files.Row(3).Checked) << "a failed row stays checked";
  EXPECT_TRUE(FfmpegDecode(Out("03 - Track Title 3.wav"), "s16le") == disc.Tracks[2]);
}

TEST_F(GrabFixture, StopWhileTheSourceIsHeldStartsNoFurtherRowAndStartThenWaitsForTheStoppedRow) {
  List(MakeDisc(dir.Path()));
  TGate gate;
  gate.SetInput(core.Components.FastResampler1);
  core.Components.AudioConverter1->SetInput(&gate);
  TAuFileOut* sink = core.Routing.SinkFor(0)->Sink;
  core.Grab.MGrabStartClick();
  ASSERT_TRUE(gate.Hold.WaitUntilHeld(std::chrono::seconds(60)));
  core.Grab.MGrabStopClick();
  EXPECT_TRUE(sink->Busy) << "Stop did not wait for the row";
  EXPECT_FALSE(core.Driver.Running);
  // Start while the stopped row is still ending: the row ends first (its
  // OnDone is dropped), then the run begins at track 1 again, through the
  // gate left open.
  std::thread opener([&gate] { gate.Hold.Release(); });
  core.Grab.MGrabStartClick();
  opener.join();
  ASSERT_TRUE(Pump([this] { return !core.Driver.Running; }));
  ASSERT_EQ(view.finished.size(), 3u);
  EXPECT_EQ(view.finished[0].Index, 0);
  EXPECT_EQ(view.finished[0].Error, "");
  EXPECT_TRUE(view.errors.empty());
  core.Components.AudioConverter1->SetInput(core.Components.FastResampler1);

  // Stopped again while held: the OnDone that follows ends the run.
  for (int i = 0; i < 3; ++i) core.Files.SetChecked(i, true);
  fs::remove_all(dir.Path() / "out");
  fs::create_directories(dir.Path() / "out");
  TGate second;
  second.SetInput(core.Components.FastResampler1);
  core.Components.AudioConverter1->SetInput(&second);
  view.finished.clear();
  bool doneSeen = false;
  const TOutputDoneEvent done = sink->OnDone;
  sink->OnDone = [&](TComponent* sender) {
    done(sender);
    doneSeen = true;
  };
  core.Grab.MGrabStartClick();
  ASSERT_TRUE(second.Hold.WaitUntilHeld(std::chrono::seconds(60)));
  core.Grab.MGrabStopClick();
  second.Hold.Release();
  ASSERT_TRUE(Pump([&] { return doneSeen; }));
  sink->OnDone = done;
  EXPECT_FALSE(sink->Busy);
  EXPECT_TRUE(view.finished.empty()) << "no row was finished or started after the stop";
  EXPECT_EQ(core.Files.Row(0).Image, TRowImage::None);
  EXPECT_FALSE(fs::exists(Out("02 - Zweite Stra\xC3\x9F" "e.wav")));
  core.Components.AudioConverter1->SetInput(core.Components.FastResampler1);
}

TEST_F(GrabFixture, GrabStartWhileTheOutputTypeHasNoSinkOrTheListIsEmptyStartsNothing) {
  core.Grab.MGrabStartClick();
  EXPECT_FALSE(core.Driver.Running);
  EXPECT_EQ(core.Driver.RunMode, kRunModeGrab);
  EXPECT_TRUE(view.errors.empty());
  EXPECT_TRUE(view.finished.empty());

  List(MakeDisc(dir.Path()));
  core.Settings.outputType = 9;
  core.Grab.MGrabStartClick();
  EXPECT_FALSE(core.Driver.Running);
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_EQ(view.errors[0], "Output type 9 is not supported");
}

TEST_F(GrabFixture, AnImageHasNoTrayAndEjectLeavesItListed) {
  List(MakeDisc(dir.Path()));
  for (auto click : {&TGrabDriver::MEjectClick, &TGrabDriver::MCloseTrayClick}) {
    try {
      (core.Grab.*click)();
      ADD_FAILURE();
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), kMsgCDImageHasNoTray);
    }
  }
  core.Grab.MGetTracksClick();
  EXPECT_EQ(core.Files.Count(), 4);
}

TEST_F(GrabFixture, WithoutAnyDriveGetTracksListsNothingAndSaysSo) {
  TStderrCapture capture(dir.Path() / "stderr.txt");
  if (!core.Grab.DriveNames().empty()) GTEST_SKIP() << "this machine has a CD drive";
  WriteText(dir.Path() / "a.wav", "");
  core.Grab.MGetTracksClick();
  EXPECT_EQ(core.Files.Count(), 0);
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_EQ(view.errors[0], "No CD drive was found.");
  core.Grab.MGrabStartClick();
  EXPECT_FALSE(core.Driver.Running);
  EXPECT_TRUE(view.finished.empty());
  EXPECT_THROW(core.Grab.MEjectClick(), EAuException);
  // A name that is no drive is not taken.
  EXPECT_FALSE(core.Grab.UseDrive((dir.Path() / "missing.cue").string()));
  EXPECT_EQ(capture.Text(), "");
}

// ---- quellmark-cli ------------------------------------------------------------

struct TCli {
  int Status = -1;
  std::string Out;
  std::string Err;
};

TCli RunCli(const TTempDir& dir, const std::string& args) {
  TCli r;
  const fs::path err = dir.Path() / "cli-stderr.txt";
  const std::string command = Quote(QUELLMARK_CLI) + " " + args + " 2>" + Quote(err);
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.Out.append(buffer, n);
  const int status = ::pclose(pipe);
  r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.Err = ReadText(err);
  return r;
}

TEST(GrabCliTest, ProbeListsTheTracksAsGetTracksDoes) {
  TTempDir dir;
  const TDiscImage disc = MakeDisc(dir.Path());
  const TCli r = RunCli(dir, "--probe " + Quote(disc.Cue));
  EXPECT_EQ(r.Status, 0) << r.Err;
  const std::string cue = disc.Cue.string();
  EXPECT_EQ(r.Out, "01 - Track Title 1\t0:04\t44100 Hz\t16 bps\t" + cue + "#1\n" +
                       "02 - Zweite Stra\xC3\x9F" "e\t0:05\t44100 Hz\t16 bps\t" + cue + "#2\n" +
                       "03 - Track Title 3\t0:03\t44100 Hz\t16 bps\t" + cue + "#3\n" +
                       "Track 04\t0:02\t44100 Hz\t16 bps\t" + cue + "#4\n");
  EXPECT_EQ(r.Err, "");
  const TCli missing = RunCli(dir, "--probe " + Quote(dir.Path() / "none.cue"));
  EXPECT_EQ(missing.Status, 1);
  EXPECT_EQ(missing.Out, "");
  EXPECT_NE(missing.Err.find("error: " + (dir.Path() / "none.cue").string() + ": not a CD drive"), std::string::npos)
      << missing.Err;
}

TEST(GrabCliTest, GrabsTheListedTracksWithDoneAndFailedLines) {
  TTempDir dir;
  const TDiscImage disc = MakeDisc(dir.Path());
  const std::string out = (dir.Path() / "out").string();
  fs::create_directories(out);
  // Each grab replaces the files of the one before.
  const std::string settings = "--set OutputDir=" + Quote(out) +
                               " --set existingOutput=1 --set wavSr=44100 --set wavCh=2 --set wavBps=16 ";
  // Every audio track by default.
  TCli r = RunCli(dir, settings + "--grab " + Quote(disc.Cue));
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "done: " + out + "/01 - Track Title 1.wav\ndone: " + out + "/02 - Zweite Stra\xC3\x9F" "e.wav\n" +
                       "done: " + out + "/03 - Track Title 3.wav\n");
  EXPECT_NE(r.Err.find("% - 01 - Track Title 1"), std::string::npos) << r.Err;
  EXPECT_TRUE(FfmpegDecode(out + "/03 - Track Title 3.wav", "s16le") == disc.Tracks[2]);

  // A list with the data track and one the disc does not have.
  r = RunCli(dir, settings + "--grab " + Quote(disc.Cue) + " --tracks 2,4-4,9");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, "done: " + out + "/02 - Zweite Stra\xC3\x9F" "e.wav\nfailed: " + disc.Cue.string() +
                       "#4: Trying to rip a data track\n");
  EXPECT_NE(r.Err.find("error: " + disc.Cue.string() + ": The disc has no track 9"), std::string::npos) << r.Err;

  for (const char* bad : {"0", "1,,2", "3-1", "x", "100", "1-"}) {
    r = RunCli(dir, "--grab " + Quote(disc.Cue) + " --tracks " + Quote(bad));
    EXPECT_EQ(r.Status, 2) << bad;
    EXPECT_EQ(r.Out, "") << bad;
  }
  EXPECT_EQ(RunCli(dir, "--tracks 1 " + Quote(disc.Cue)).Status, 2);
  EXPECT_EQ(RunCli(dir, "--grab " + Quote(disc.Cue) + " " + Quote(disc.Cue)).Status, 2);
  r = RunCli(dir, "--grab " + Quote(dir.Path() / "nowhere.toc"));
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, "");
}

}  // namespace

// TCDPlayer over disc images made at test time, through the real reading
// library and the real ALSA library, playing into a file (ALSA's file plugin
// over its null device): the bytes played against the track, the volumes,
// pause and resume to the sample, stop, the table and its MSF positions, the
// errors, a drive that is gone, a device that cannot be opened, a missing
// audio library, and quellmark-cli's --play.

#include <gtest/gtest.h>

#include <cstdlib>

#include "cdaudio/alsa_library.h"
#include "cdaudio/cd_player.h"
#include "platform/dynamic_library.h"
#include "tests/cd/cd_test_support.h"

using namespace cdtest;
using qmtest::ReadFile;
using qmtest::TTempDir;

namespace {

const TConfigHome& g_home = ConfigHome();

constexpr auto kWait = std::chrono::seconds(60);

std::string PlayError(TCDPlayer& player, int track) {
  try {
    player.Play(track);
  } catch (const EAuException& e) {
    return e.what();
  }
  return "(nothing raised)";
}

struct PlayerFixture : ::testing::Test {
  PlayerFixture() : played(UseFileAudioDevice(dir.Path())), disc(MakeDisc(dir.Path())) {
    player.AudioDevice = kFileAudioDevice;
    const int drive = UseImage(in, disc.Cue);
    EXPECT_GE(drive, 0);
    player.SetCurrentDrive(drive);
    EXPECT_EQ(player.CurrentDrive(), drive);
  }
  ~PlayerFixture() override { player.Stop(); }

  // Plays Track to its end; the bytes the device got.
  std::vector<uint8_t> PlayToEnd(int track) {
    player.Play(track);
    EXPECT_TRUE(player.WaitForEnd(kWait));
    EXPECT_EQ(player.Status(), TCDStatus::cdsStopped);
    EXPECT_EQ(player.PlaybackError(), "");
    return ReadFile(played);
  }

  static constexpr int64_t kBlockFrames = TCDPlayer::kBlockSectors * CR_SECTOR_BYTES / 4;

  TTempDir dir;
  fs::path played;
  TDiscImage disc;
  // The drive list belongs to the reading library; the application adds
  // images through its ripping source, and so do these tests.
  TCDIn in;
  TCDPlayer player;
  qmtest::THoldGate gate;
};

// First in the program, before anything loads the audio library (which then
// stays loaded); a failed load is tried again at the next use, so the tests
// after it find the library.
TEST_F(PlayerFixture, AMissingAudioLibraryIsReportedAndThePlayerStaysStopped) {
  if (AlsaLibraryLoaded()) GTEST_SKIP() << "an earlier test of this run loaded the audio library";
  ::setenv(platform::kLibraryOverrideVariable, "libasound.so.2=", 1);
  const std::string error = PlayError(player, 2);
  ::unsetenv(platform::kLibraryOverrideVariable);
  EXPECT_EQ(error, "libasound.so.2 library could not be loaded.");
  EXPECT_EQ(player.Status(), TCDStatus::cdsStopped);
  // Nothing of the failed start is held: the track plays now.
  EXPECT_EQ(PlayToEnd(2), disc.Tracks[1]);
}

TEST_F(PlayerFixture, PlaysExactlyTheTrackAndScalesTheChannelsByTheVolumes) {
  EXPECT_EQ(player.LVolume(), 65535);
  EXPECT_EQ(player.RVolume(), 65535);
  EXPECT_EQ(PlayToEnd(2), disc.Tracks[1]);
  EXPECT_EQ(player.PlayedFrames(), static_cast<int64_t>(disc.Tracks[1].size() / 4));
  EXPECT_EQ(player.TrackFrames(), player.PlayedFrames());
  EXPECT_EQ(PlayToEnd(1), disc.Tracks[0]);

  player.SetLVolume(16384);
  player.SetRVolume(0);
  const std::vector<uint8_t> scaled = PlayToEnd(3);
  ASSERT_EQ(scaled.size(), disc.Tracks[2].size());
  int64_t heard = 0;
  for (std::size_t i = 0; i < scaled.size(); i += 4) {
    const auto at = [](const std::vector<uint8_t>& v, std::size_t k) {
      return static_cast<int16_t>(v[k] | (v[k + 1] << 8));
    };
    const double left = at(disc.Tracks[2], i) * 16384.0 / 65535.0;
    ASSERT_NEAR(at(scaled, i), left, 1.0) << "frame " << i / 4;
    ASSERT_EQ(at(scaled, i + 2), 0) << "frame " << i / 4;
    heard += at(scaled, i) != 0;
  }
  EXPECT_GT(heard, 0);
  // Kept for the next track.
  EXPECT_EQ(player.LVolume(), 16384);
  EXPECT_EQ(player.RVolume(), 0);
}

TEST_F(PlayerFixture, PauseAndResumeGoOnWhereThePlaybackPaused) {
  std::atomic<int> pausedAt{-1};
  player.OnBlockPlayed = [&](int64_t frames) {
    if (frames == kBlockFrames) gate.Pass();
  };
  player.OnPaused = [&](int64_t frames) { pausedAt = static_cast<int>(frames); };
  // Neither does anything while stopped.
  player.Pause();
  EXPECT_EQ(player.Status(), TCDStatus::cdsStopped);
  player.Resume();
  EXPECT_EQ(player.Status(), TCDStatus::cdsStopped);

  gate = true;
  player.Play(2);
  ASSERT_TRUE(gate.WaitUntilHeld(kWait));
  EXPECT_EQ(player.Status(), TCDStatus::cdsPlaying);
  player.Resume();
  EXPECT_EQ(player.Status(), TCDStatus::cdsPlaying);
  player.Pause();
  EXPECT_EQ(player.Status(), TCDStatus::cdsPaused);
  player.Pause();
  EXPECT_EQ(player.Status(), TCDStatus::cdsPaused);
  gate.Release();
  ASSERT_TRUE(qmtest::PumpUntil([&] { return pausedAt >= 0; }, kWait));
  // Paused after the block it was playing, and nothing more went out.
  EXPECT_EQ(pausedAt, kBlockFrames);
  EXPECT_EQ(player.PlayedFrames(), kBlockFrames);
  EXPECT_EQ(player.Status(), TCDStatus::cdsPaused);

  player.Resume();
  EXPECT_NE(player.Status(), TCDStatus::cdsPaused);
  ASSERT_TRUE(player.WaitForEnd(kWait));
  EXPECT_EQ(player.Status(), TCDStatus::cdsStopped);
  EXPECT_EQ(ReadFile(played), disc.Tracks[1]);
}

TEST_F(PlayerFixture, StopEndsTheWritingAndFreesTheDrive) {
  player.OnBlockPlayed = [&](int64_t frames) {
    if (frames == 2 * kBlockFrames) gate.Pass([&] { return player.StopRequested.load(); });
  };
  gate = true;
  player.Play(2);
  ASSERT_TRUE(gate.WaitUntilHeld(kWait));
  player.Stop();
  EXPECT_EQ(player.Status(), TCDStatus::cdsStopped);
  EXPECT_EQ(player.PlaybackError(), "");
  const std::vector<uint8_t> first = ReadFile(played);
  ASSERT_EQ(first.size(), static_cast<std::size_t>(2 * kBlockFrames * 4));
  EXPECT_TRUE(std::equal(first.begin(), first.end(), disc.Tracks[1].begin()));

  // Stopped while paused, likewise; then the drive reads for a grab.
  gate.Release();
  player.OnBlockPlayed = nullptr;
  player.Play(1);
  player.Pause();
  player.Stop();
  EXPECT_EQ(player.Status(), TCDStatus::cdsStopped);
  in.SelectTrack(2);
  EXPECT_EQ(GrabToWav(in, dir.Path() / "grab.wav"), "");
  EXPECT_EQ(qmtest::FfmpegDecode(dir.Path() / "grab.wav", "s16le"), disc.Tracks[1]);
}

TEST_F(PlayerFixture, TheTableInMSFFromTheLeadIn) {
  ASSERT_EQ(player.TrackCount(), 4);
  for (int t = 1; t <= 5; ++t) {
    EXPECT_EQ(CDPositionFrames(player.GetTrackPosition(t)), disc.Starts[t - 1] + kCDLeadInFrames) << t;
  }
  // Past the last track: the end of the disc.
  EXPECT_EQ(CDPositionFrames(player.GetTrackPosition(9)), disc.Starts[4] + kCDLeadInFrames);
  for (int t = 1; t <= 4; ++t) {
    const TCDTrackInfo info = player.TrackInfo(t);
    EXPECT_EQ(CDPositionFrames({info.Minutes, info.Seconds, info.Frames}), disc.Starts[t] - disc.Starts[t - 1]);
    EXPECT_EQ(info.DataTrack, t == 4 ? 1 : 0);
  }
  // 401 sectors: 5 seconds, 26 frames.
  EXPECT_EQ(player.TrackInfo(2).Seconds, 5);
  EXPECT_EQ(player.TrackInfo(2).Frames, 26);
  EXPECT_EQ(player.OpenCount(), 0);
}

TEST_F(PlayerFixture, RefusesTheDataTrackAndTracksOffTheTable) {
  EXPECT_EQ(PlayError(player, 4), kMsgCDPlayDataTrack);
  for (int bad : {0, 5, -3}) EXPECT_EQ(PlayError(player, bad), kMsgCDTrackOutOfRange) << bad;
  EXPECT_EQ(player.Status(), TCDStatus::cdsStopped);
  // Every error closed what it opened.
  EXPECT_EQ(player.OpenCount(), 0);
  EXPECT_EQ(PlayToEnd(3), disc.Tracks[2]);
}

TEST_F(PlayerFixture, AnAudioDeviceThatCannotBeOpenedLeavesThePlayerStopped) {
  player.AudioDevice = "quellmark_no_such_device";
  qmtest::TTempDir errDir;
  TStderrCapture capture(errDir.Path() / "stderr.txt");
  const std::string error = PlayError(player, 2);
  EXPECT_EQ(capture.Text(), "");
  EXPECT_EQ(error.rfind("Cannot open the audio device quellmark_no_such_device: ", 0), 0u) << error;
  EXPECT_GT(error.size(), std::string("Cannot open the audio device quellmark_no_such_device: ").size());
  EXPECT_EQ(player.Status(), TCDStatus::cdsStopped);
  player.AudioDevice = kFileAudioDevice;
  EXPECT_EQ(PlayToEnd(2), disc.Tracks[1]);
}

TEST_F(PlayerFixture, ADriveThatIsGoneIsNotReady) {
  // The drive index stays within the list; a value past it is ignored.
  player.SetCurrentDrive(player.DrivesCount());
  EXPECT_EQ(player.CurrentDrive(), in.CurrentDrive);
  player.SetCurrentDrive(-1);
  EXPECT_EQ(player.CurrentDrive(), in.CurrentDrive);

  fs::remove(disc.Cue);
  fs::remove(disc.Bin);
  EXPECT_EQ(player.Status(), TCDStatus::cdsNotReady);
  EXPECT_EQ(player.TrackCount(), 0);
  EXPECT_EQ(player.OpenCount(), 0);
  const TCDTrackInfo none = player.TrackInfo(2);
  EXPECT_EQ(none.Minutes + none.Seconds + none.Frames + none.DataTrack, 0);
  EXPECT_EQ(PlayError(player, 2), kMsgCDPlayerNotReady);
  EXPECT_EQ(player.Status(), TCDStatus::cdsNotReady);
  player.Pause();
  player.Stop();
  EXPECT_EQ(player.OpenCount(), 0);
}

TEST(CDPlayerTest, WithoutAnyDriveNothingIsReady) {
  TTempDir dir;
  TCDPlayer player;
  player.AudioDevice = kFileAudioDevice;
  UseFileAudioDevice(dir.Path());
  if (player.DrivesCount() > 0) GTEST_SKIP() << "this machine has a CD drive";
  player.SetCurrentDrive(0);
  EXPECT_EQ(player.CurrentDrive(), 0);
  EXPECT_EQ(player.Status(), TCDStatus::cdsNotReady);
  EXPECT_EQ(player.TrackCount(), 0);
  EXPECT_EQ(PlayError(player, 1), kMsgCDPlayerNotReady);
  EXPECT_FALSE(fs::exists(dir.Path() / "played.raw"));
}

#ifdef QUELLMARK_CLI
TEST(CDPlayerCliTest, PlaysATrackToTheEnd) {
  TTempDir dir;
  const fs::path played = UseFileAudioDevice(dir.Path());
  const TDiscImage disc = MakeDisc(dir.Path());
  const std::string cli = std::string(QUELLMARK_CLI) + " --set audioDevice=" + kFileAudioDevice;
  const qmtest::TRunResult run = qmtest::RunShell(cli + " --play " + qmtest::Quote(disc.Cue) + " 2");
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(ReadFile(played), disc.Tracks[1]);
  EXPECT_EQ(run.Out, "done: " + disc.Cue.string() + "#2\n");
  EXPECT_NE(run.Err.find("0:05 / 0:05"), std::string::npos) << run.Err;

  const qmtest::TRunResult data = qmtest::RunShell(cli + " --play " + qmtest::Quote(disc.Cue) + " 4");
  EXPECT_EQ(data.Status, 1);
  EXPECT_NE(data.Err.find(kMsgCDPlayDataTrack), std::string::npos) << data.Err;
  const qmtest::TRunResult device =
      qmtest::RunShell(std::string(QUELLMARK_CLI) + " --set audioDevice=nowhere --play " + qmtest::Quote(disc.Cue) + " 1");
  EXPECT_EQ(device.Status, 1);
  EXPECT_NE(device.Err.find("Cannot open the audio device nowhere: "), std::string::npos) << device.Err;
  const qmtest::TRunResult usage = qmtest::RunShell(std::string(QUELLMARK_CLI) + " --play " + qmtest::Quote(disc.Cue) + " x");
  EXPECT_EQ(usage.Status, 2);
  const qmtest::TRunResult missing = qmtest::RunShell(cli + " --play " + qmtest::Quote(dir.Path() / "none.cue") + " 1");
  EXPECT_EQ(missing.Status, 1);
  EXPECT_NE(missing.Err.find("not a CD drive"), std::string::npos) << missing.Err;
}
#endif

}  // namespace

// TCDIn over disc images made at test time, through the real library: the
// table, bit-exact reads in every mode (against the known PCM and against
// cd-paranoia), WAV output read back by FFmpeg, data tracks, sizes, slices,
// read errors, and a machine without any drive.

#include <gtest/gtest.h>

#include "tests/cd/cd_test_support.h"

using namespace cdtest;
using qmtest::FfmpegDecode;
using qmtest::Quote;
using qmtest::ReadAll;
using qmtest::TTempDir;

namespace {

const TConfigHome& g_home = ConfigHome();

std::vector<uint8_t> Concat(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  std::vector<uint8_t> v = a;
  v.insert(v.end(), b.begin(), b.end());
  return v;
}

// cd-paranoia's own read of a track, as PCM.
std::vector<uint8_t> ReferenceRead(const fs::path& cue, int track, const fs::path& dir) {
  const fs::path out = dir / ("reference-" + std::to_string(track) + ".wav");
  const std::string cmd = "cd-paranoia -q -d " + Quote(cue) + " -w " + std::to_string(track) + " " + Quote(out);
  const qmtest::TRunResult read = qmtest::RunShell(cmd);
  EXPECT_TRUE(read.Ok()) << cmd << "\n" << read.Err;
  return FfmpegDecode(out, "s16le");
}

TEST(CDInTest, ListsTheTableOfAnImage) {
  TTempDir dir;
  const TDiscImage disc = MakeDisc(dir.Path());
  TCDIn in;
  ASSERT_GE(UseImage(in, disc.Cue), 0);
  EXPECT_TRUE(in.MediaPresent());
  ASSERT_EQ(in.TrackCount(), 4);
  const int sectors[] = {317, 401, 233, 200};
  for (int t = 1; t <= 4; ++t) {
    const TCDTrackInfo info = in.TrackInfo(t);
    EXPECT_EQ(CDPositionFrames({info.Minutes, info.Seconds, info.Frames}), sectors[t - 1]) << t;
    EXPECT_EQ(info.DataTrack, t == 4 ? 1 : 0) << t;
  }
  // 317 sectors are 4 seconds and 17 frames.
  EXPECT_EQ(in.TrackInfo(1).Seconds, 4);
  EXPECT_EQ(in.TrackInfo(1).Frames, 17);
  for (int bad : {0, 5, -1}) {
    try {
      in.TrackInfo(bad);
      ADD_FAILURE() << bad;
    } catch (const EAuException& e) {
      EXPECT_STREQ(e.what(), kMsgCDTrackOutOfRange);
    }
  }
  EXPECT_EQ(in.GetBitsPerSample(), 16);
  EXPECT_EQ(in.GetChannels(), 2);
  EXPECT_EQ(in.GetSampleRate(), 44100);

  // The same image under another name, and through its .bin, is the same drive.
  EXPECT_EQ(in.AddDrive((dir.Path() / "." / "disc.cue").string()), in.CurrentDrive);
  EXPECT_EQ(in.AddDrive(disc.Bin.string()), in.CurrentDrive);
  EXPECT_EQ(in.DriveName(in.CurrentDrive), disc.Cue.string());
  EXPECT_EQ(in.AddDrive((dir.Path() / "missing.cue").string()), -1);
  fs::copy_file(disc.Bin, dir.Path() / "lonely.bin");
  EXPECT_EQ(in.AddDrive((dir.Path() / "lonely.bin").string()), -1);
}

TEST(CDInTest, ADataTrackThatMayBeCopiedIsStillADataTrack) {
  TTempDir dir;
  TDiscLayout layout;
  layout.DataCopyPermitted = true;
  const TDiscImage disc = MakeDisc(dir.Path(), layout);
  TCDIn in;
  ASSERT_GE(UseImage(in, disc.Cue), 0);
  ASSERT_EQ(in.TrackCount(), 4);
  EXPECT_EQ(in.TrackInfo(4).DataTrack, 1);
  in.SelectTrack(4);
  EXPECT_EQ(GrabToWav(in, dir / "data.wav"), kMsgCDDataTrack);
}

TEST(CDInTest, ReadsTheCDTextOfTheCueSheet) {
  TTempDir dir;
  const TDiscImage disc = MakeDisc(dir.Path());
  TCDIn in;
  ASSERT_GE(UseImage(in, disc.Cue), 0);
  const TCDText text = in.ReadCDText();
  EXPECT_EQ(text.Disc.Title, "Disc Title");
  EXPECT_EQ(text.Disc.Performer, "Disc Artist");
  ASSERT_GE(text.Tracks.size(), 3u);
  EXPECT_EQ(text.Tracks[0].Title, "Track Title 1");
  EXPECT_EQ(text.Tracks[1].Title, "Zweite Stra\xC3\x9F" "e");
  EXPECT_EQ(text.Tracks[2].Performer, "Artist 3");

  TDiscLayout plain;
  plain.CdText = false;
  plain.Name = "plain";
  const TDiscImage bare = MakeDisc(dir.Path(), plain);
  TCDIn other;
  ASSERT_GE(UseImage(other, bare.Cue), 0);
  const TCDText none = other.ReadCDText();
  EXPECT_EQ(none.Disc.Title, "");
  EXPECT_TRUE(none.Tracks.empty());
}

class CDInModeTest : public ::testing::TestWithParam<TReadMode> {};

TEST_P(CDInModeTest, EveryAudioTrackReadsBitExactly) {
  QM_REQUIRE_TOOLS("cd-paranoia", "ffmpeg");
  TTempDir dir;
  for (const bool swapped : {false, true}) {
    TDiscLayout layout;
    layout.ByteSwapped = swapped;
    layout.Name = swapped ? "swapped" : "disc";
    const TDiscImage disc = MakeDisc(dir.Path(), layout);
    TCDIn in;
    ApplyMode(in, GetParam());
    ASSERT_GE(UseImage(in, disc.Cue), 0);
    for (int t = 1; t <= 3; ++t) {
      in.SelectTrack(t);
      const std::vector<uint8_t> got = ReadAll(in, 4096);
      EXPECT_EQ(got.size(), disc.Tracks[t - 1].size()) << layout.Name << " track " << t;
      EXPECT_TRUE(got == disc.Tracks[t - 1]) << layout.Name << " track " << t;
      EXPECT_TRUE(got == ReferenceRead(disc.Cue, t, dir.Path())) << layout.Name << " track " << t;
    }
  }
}

TEST_P(CDInModeTest, GrabsATrackToWavThatFfmpegReadsAsTheTrack) {
  QM_REQUIRE_TOOLS("ffmpeg", "ffprobe");
  TTempDir dir;
  const TDiscImage disc = MakeDisc(dir.Path());
  TCDIn in;
  ApplyMode(in, GetParam());
  ASSERT_GE(UseImage(in, disc.Cue), 0);
  for (int t = 1; t <= 3; ++t) {
    const fs::path out = dir / ("track" + std::to_string(t) + ".wav");
    in.SelectTrack(t);
    EXPECT_EQ(GrabToWav(in, out), "");
    EXPECT_EQ(qmtest::Probe(out, "sample_rate"), "44100");
    EXPECT_EQ(qmtest::Probe(out, "channels"), "2");
    EXPECT_EQ(qmtest::Probe(out, "codec_name"), "pcm_s16le");
    // Exactly the track: not one sector of the next track, nor of silence.
    EXPECT_TRUE(FfmpegDecode(out, "s16le") == disc.Tracks[t - 1]) << t;
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, CDInModeTest, ::testing::ValuesIn(kReadModes),
                         [](const auto& info) {
                           std::string name = info.param.Name;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

TEST(CDInTest, RefusesTheDataTrackWithoutReadingIt) {
  TTempDir dir;
  const TDiscImage disc = MakeDisc(dir.Path());
  for (const TReadMode& mode : kReadModes) {
    TCDIn in;
    ApplyMode(in, mode);
    ASSERT_GE(UseImage(in, disc.Cue), 0);
    in.SelectTrack(4);
    const fs::path out = dir / "data.wav";
    EXPECT_EQ(GrabToWav(in, out), kMsgCDDataTrack) << mode.Name;
    // A range from audio into the data track is refused as well: paranoia
    // would spin on the data sectors for ever.
    in.StartTrack = 3;
    in.EndTrack = 5;
    EXPECT_EQ(GrabToWav(in, out), kMsgCDDataTrack) << mode.Name;
    // As the end track the data track only marks where track 3 ends.
    in.StartTrack = 3;
    in.EndTrack = 4;
    EXPECT_TRUE(ReadAll(in) == disc.Tracks[2]) << mode.Name;
  }
}

TEST(CDInTest, ReadsPositionsWithinTracksAndToTheEndOfTheDisc) {
  TTempDir dir;
  TDiscLayout layout;
  layout.DataSectors = 0;
  const TDiscImage disc = MakeDisc(dir.Path(), layout);
  TCDIn in;
  ASSERT_GE(UseImage(in, disc.Cue), 0);
  ASSERT_EQ(in.TrackCount(), 3);
  // Track 2 to the end of the disc: EndTrack = count + 1.
  for (const TReadMode& mode : kReadModes) {
    ApplyMode(in, mode);
    in.StartTrack = 2;
    in.EndTrack = 4;
    EXPECT_TRUE(ReadAll(in) == Concat(disc.Tracks[1], disc.Tracks[2])) << mode.Name;
  }
  ApplyMode(in, kReadModes[0]);
  // From one second and ten frames into track 1 to thirty frames into track 2.
  in.StartTrack = 1;
  in.StartPos = {0, 1, 10};
  in.EndTrack = 2;
  in.EndPos = {0, 0, 30};
  const std::vector<uint8_t> both = Concat(disc.Tracks[0], disc.Tracks[1]);
  const std::size_t from = 85 * kSectorBytes;
  const std::size_t to = disc.Tracks[0].size() + 30 * kSectorBytes;
  EXPECT_TRUE(ReadAll(in) == std::vector<uint8_t>(both.begin() + from, both.begin() + to));
  // An end before the start is no run.
  in.StartTrack = 2;
  in.StartPos = {};
  in.EndTrack = 1;
  in.EndPos = {};
  EXPECT_EQ(GrabToWav(in, dir / "reversed.wav"), kMsgCDRangeReversed);
  in.EndTrack = 5;
  EXPECT_EQ(GrabToWav(in, dir / "far.wav"), kMsgCDEndTrackOutOfRange);
  in.StartTrack = 4;
  EXPECT_EQ(GrabToWav(in, dir / "far.wav"), kMsgCDStartTrackOutOfRange);
}

TEST(CDInTest, SizeCountsTheLastSectorBeforeARunAndTheRunDuringIt) {
  TTempDir dir;
  const TDiscImage disc = MakeDisc(dir.Path());
  TCDIn in;
  ASSERT_GE(UseImage(in, disc.Cue), 0);
  in.SelectTrack(3);
  const int64_t sectors = disc.Starts[3] - disc.Starts[2];
  EXPECT_EQ(in.GetSize(), (sectors + 1) * kSectorBytes);
  EXPECT_EQ(in.GetTotalSamples(), (sectors + 1) * kSectorBytes / 4);
  EXPECT_EQ(in.GetTotalTime(), 3);
  in.Init();
  EXPECT_EQ(in.GetSize(), sectors * kSectorBytes);
  EXPECT_EQ(in.RunSize, sectors * kSectorBytes);
  EXPECT_EQ(in.Size, sectors * kSectorBytes);
  EXPECT_EQ(in.Position, 0);
  // Init while running is refused.
  EXPECT_THROW(in.Init(), EAuException);
  in.Flush();
  EXPECT_EQ(in.Size, 0);
  EXPECT_FALSE(in.Busy);
  void* buffer = nullptr;
  uint32_t bytes = 4096;
  try {
    in.GetData(buffer, bytes);
    ADD_FAILURE();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), kMsgStreamNotOpened);
  }
}

TEST(CDInTest, HandsOutSlicesOfOneSecondReads) {
  TTempDir dir;
  const TDiscImage disc = MakeDisc(dir.Path());
  TCDIn in;
  ASSERT_GE(UseImage(in, disc.Cue), 0);
  in.SelectTrack(2);
  in.Init();
  std::vector<uint32_t> slices;
  std::vector<const uint8_t*> starts;
  for (;;) {
    void* buffer = nullptr;
    uint32_t bytes = 4096;
    in.GetData(buffer, bytes);
    if (bytes == 0) break;
    slices.push_back(bytes);
    starts.push_back(static_cast<const uint8_t*>(buffer));
  }
  in.Flush();
  // 401 sectors: five reads of 75 sectors (176400 bytes: 43 slices of 4096
  // and one of 272), then one of 26 sectors (61152 bytes: 14 of 4096 and
  // one of 3808).
  std::vector<uint32_t> expected;
  for (int read = 0; read < 5; ++read) {
    expected.insert(expected.end(), 43, 4096);
    expected.push_back(272);
  }
  expected.insert(expected.end(), 14, 4096);
  expected.push_back(3808);
  EXPECT_EQ(slices, expected);
  // Each slice lies in the one read buffer, after the one before it.
  for (std::size_t i = 1; i < starts.size(); ++i) {
    if (slices[i - 1] == 4096) {
      EXPECT_EQ(starts[i], starts[i - 1] + 4096) << i;
    }
  }
}


TEST(CDInTest, MainThreadQueriesDuringARunSeeTheRun) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  const TDiscImage disc = MakeDisc(dir.Path());
  TCDIn in;
  in.Paranoid = true;
  ASSERT_GE(UseImage(in, disc.Cue), 0);
  in.SelectTrack(2);
  TGate gate;
  gate.SetInput(&in);
  TWaveOut sink;
  sink.SetInput(&gate);
  sink.SetFileName((dir / "busy.wav").string());
  bool done = false;
  sink.OnDone = [&done](TComponent*) { done = true; };
  // While the worker rips, the main thread asks about the disc: the library
  // serialises the calls, and the table stays readable.
  int progressQueries = 0;
  sink.OnProgress = [&](TComponent*) {
    EXPECT_EQ(in.TrackCount(), 4);
    in.TrackInfo(3);
    in.GetSize();
    ++progressQueries;
  };
  sink.Run();
  ASSERT_TRUE(gate.Hold.WaitUntilHeld(std::chrono::seconds(60)));
  EXPECT_TRUE(in.Busy);
  EXPECT_EQ(in.GetSize(), 401 * kSectorBytes);
  EXPECT_EQ(in.TrackCount(), 4);
  EXPECT_EQ(in.TrackInfo(2).Seconds, 5);
  gate.Hold.Release();
  while (!done) MainThreadInvoker::Instance().WaitAndRun(std::chrono::milliseconds(10));
  EXPECT_EQ(sink.ExceptionMessage, "");
  EXPECT_GT(progressQueries, 0);
  EXPECT_TRUE(FfmpegDecode(dir / "busy.wav", "s16le") == disc.Tracks[1]);
}

class CDInReadErrorTest : public ::testing::TestWithParam<TReadMode> {};

TEST_P(CDInReadErrorTest, AReadErrorFailsTheRunWithTrackAndPosition) {
  TTempDir dir;
  const TDiscImage disc = MakeDisc(dir.Path());
  // The .bin ends 200 sectors into track 2; the sheet still names track 3.
  const int keep = disc.Starts[1] + 200;
  fs::resize_file(disc.Bin, static_cast<uintmax_t>(keep) * kSectorBytes + 1000);
  // The .toc claims every track whole over a .bin that ends at the same place.
  const TDiscImage full = MakeDisc(dir.Path() / "full", TDiscLayout{});
  const fs::path toc = MakeTocWithShortData(dir.Path(), full, keep);
  for (const fs::path& image : {disc.Cue, toc}) {
    TCDIn in;
    ApplyMode(in, GetParam());
    ASSERT_GE(UseImage(in, image), 0) << image;
    in.SelectTrack(2);
    const std::string failure = GrabToWav(in, dir / "short.wav");
    EXPECT_EQ(failure, "Read error in track 2 at 00:02:50") << image;
    // Track 1 lies before the damage and still reads whole.
    in.SelectTrack(1);
    EXPECT_TRUE(ReadAll(in) == disc.Tracks[0]) << image;
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, CDInReadErrorTest, ::testing::ValuesIn(kReadModes),
                         [](const auto& info) {
                           std::string name = info.param.Name;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

TEST(CDInTest, WritesTheLibrarySettingsFileInTheApplicationDataFolder) {
  TTempDir dir;
  const TDiscImage disc = MakeDisc(dir.Path());
  TCDIn in;
  in.TrackCount();
  const fs::path ini = g_home.Path / "quellmark" / "cdr.ini";
  ASSERT_TRUE(fs::exists(ini));
  const std::string text = ReadText(ini);
  EXPECT_NE(text.find("[CD-ROM]"), std::string::npos) << text;
  EXPECT_NE(text.find("nActive=0"), std::string::npos) << text;
  EXPECT_NE(text.find("nTransportLayer=1"), std::string::npos) << text;
}

TEST(CDInTest, WithoutAnyDriveEveryOperationAnswersAndNothingIsPrinted) {
  TTempDir dir;
  TStderrCapture capture(dir / "stderr.txt");
  {
    TCDIn in;
    if (in.DriveCount() > 0) GTEST_SKIP() << "this machine has a CD drive";
    EXPECT_EQ(in.TrackCount(), -1);
    EXPECT_FALSE(in.MediaPresent());
    EXPECT_THROW(in.TrackInfo(1), EAuException);
    in.SelectTrack(1);
    EXPECT_EQ(in.GetSize(), 0);
    EXPECT_EQ(in.GetTotalTime(), 0);
    EXPECT_TRUE(in.ReadCDText().Tracks.empty());
    EXPECT_EQ(GrabToWav(in, dir / "none.wav"), kMsgCDDriveNotReady);
    try {
      in.Eject();
      ADD_FAILURE();
    } catch (const EAuException& e) {
      EXPECT_STREQ(e.what(), kMsgCDDriveNotReady);
    }
    EXPECT_THROW(in.CloseTray(), EAuException);
    // Names that are no drive: nothing found, nothing said.
    WriteText(dir / "junk.cue", "FILE \"nowhere.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 99:99:99\n");
    EXPECT_EQ(in.AddDrive((dir / "junk.cue").string()), -1);
    WriteText(dir / "junk.nrg", "not an image");
    EXPECT_EQ(in.AddDrive((dir / "junk.nrg").string()), -1);
    EXPECT_EQ(in.AddDrive("/dev/null"), -1);
    EXPECT_EQ(in.DriveCount(), 0);
  }
  EXPECT_EQ(capture.Text(), "");
}

TEST(CDInTest, AnImageHasNoTrayAndStaysReadable) {
  TTempDir dir;
  const TDiscImage disc = MakeDisc(dir.Path());
  TCDIn in;
  ASSERT_GE(UseImage(in, disc.Cue), 0);
  for (int round = 0; round < 2; ++round) {
    try {
      round == 0 ? in.Eject() : in.CloseTray();
      ADD_FAILURE();
    } catch (const EAuException& e) {
      EXPECT_STREQ(e.what(), kMsgCDImageHasNoTray);
    }
  }
  in.SelectTrack(1);
  EXPECT_TRUE(ReadAll(in) == disc.Tracks[0]);
}

TEST(CDTextBlockTest, ParsesRecordsAndIgnoresAMalformedTail) {
  std::vector<uint8_t> block;
  const auto add = [&](int track, int field, const std::string& value) {
    block.push_back(static_cast<uint8_t>(track));
    block.push_back(static_cast<uint8_t>(field));
    block.insert(block.end(), value.begin(), value.end());
    block.push_back(0);
  };
  add(0, CR_CDTEXT_TITLE, "Album");
  add(2, CR_CDTEXT_PERFORMER, "Someone");
  add(200, CR_CDTEXT_TITLE, "no such track");
  add(1, 77, "no such field");
  add(1, CR_CDTEXT_TITLE, "");
  block.push_back(3);
  block.push_back(CR_CDTEXT_TITLE);
  block.push_back('x');  // no terminator
  const TCDText text = ParseCDTextBlock(block.data(), block.size());
  EXPECT_EQ(text.Disc.Title, "Album");
  ASSERT_EQ(text.Tracks.size(), 2u);
  EXPECT_EQ(text.Tracks[1].Performer, "Someone");
  EXPECT_EQ(text.Tracks[0].Title, "");
  EXPECT_TRUE(ParseCDTextBlock(nullptr, 10).Tracks.empty());
}

TEST(CDPositionTest, ConvertsBetweenFramesAndMinutesSecondsFrames) {
  EXPECT_EQ(CDPositionFrames({2, 3, 4}), 2 * 4500 + 3 * 75 + 4);
  const TCDPosition p = CDFramesPosition(15000);
  EXPECT_EQ(p.Minutes, 3);
  EXPECT_EQ(p.Seconds, 20);
  EXPECT_EQ(p.Frames, 0);
  EXPECT_EQ(CDFramesPosition(-5).Minutes, 0);
  EXPECT_EQ(CDFramesPosition(int64_t{1} << 40).Minutes, 255);
}

}  // namespace

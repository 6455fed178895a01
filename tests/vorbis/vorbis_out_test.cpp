// TVorbisOut end to end: PCM from a generator, encoded through the real
// libraries, checked with what independent readers find in the file
// (ogginfo, ffprobe, oggdec, mutagen) and with the Ogg pages parsed here.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "codecs/vorbis_library.h"
#include "codecs/vorbis_out.h"
#include "platform/dynamic_library.h"
#include "tags/apev2_tags.h"
#include "vorbis_test_support.h"

using namespace vorbistest;

namespace {

struct TRun {
  TRun(int channels, int rate, int bits, int64_t frames) : Gen(channels, rate, bits, frames) {
    Gen.Sample = [rate](int64_t f, int c) { return Music(rate, f, c); };
    Out.SetInput(&Gen);
  }
  // Runs to the end; true when the run reported no failure.
  bool Write(const fs::path& file) {
    Out.SetFileName(file.string());
    return RunToEnd(Out) && Out.ExceptionMessage.empty();
  }
  TGeneratorInput Gen;
  TVorbisOut Out;
};

std::string ProbeLine(const fs::path& file) {
  return Capture("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels "
                 "-of csv=p=0:s='|' " +
                 Quote(file));
}

}  // namespace

// ---- What independent readers find ------------------------------------------

TEST(VorbisOut, FilesAreCleanForOgginfoFfprobeAndDecodeToTheSourceLength) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo", "ffprobe");
  TTempDir dir;
  for (int channels : {1, 2}) {
    for (int rate : {8000, 22050, 44100, 48000}) {
      SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(rate));
      // Not a whole number of input blocks or encoder blocks.
      const int64_t frames = rate + 12345;
      TRun run(channels, rate, 16, frames);
      const fs::path file = dir / "out.ogg";
      ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
      const TOgginfo info = Ogginfo(file);
      EXPECT_TRUE(info.Clean()) << info.Text;
      EXPECT_EQ(ProbeLine(file), "vorbis|" + std::to_string(rate) + "|" + std::to_string(channels));
      EXPECT_EQ(Oggdec(file, dir.Path()).size(), static_cast<std::size_t>(frames * channels));
      // Headers on pages of their own, then audio, the last page marked.
      const auto pages = ParsePages(ReadFile(file));
      ASSERT_GE(pages.size(), 3u);
      EXPECT_EQ(pages[0].Flags, 2);
      EXPECT_EQ(pages[0].Granule, 0);
      EXPECT_EQ(pages[1].Granule, 0);
      EXPECT_EQ(pages.back().Flags & 4, 4);
      EXPECT_EQ(pages.back().Granule, frames);
      EXPECT_EQ(pages[0].Serial, 0u);
    }
  }
}

TEST(VorbisOut, QualityRaisesTheNominalAndTheAverageBitrate) {
  TTempDir dir;
  int32_t lastNominal = 0;
  std::uintmax_t lastSize = 0;
  for (int q = 1; q <= 10; ++q) {
    SCOPED_TRACE("quality " + std::to_string(q));
    TRun run(2, 44100, 16, 44100 * 3);
    run.Out.Compression = static_cast<float>(q) / 10.0f;
    const fs::path file = dir / ("q" + std::to_string(q) + ".ogg");
    ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    const auto id = Identification(ParsePages(ReadFile(file)).at(0));
    EXPECT_EQ(id.Channels, 2);
    EXPECT_EQ(id.Rate, 44100);
    // Quality mode names no bounds.
    EXPECT_LE(id.Maximum, 0);
    EXPECT_LE(id.Minimum, 0);
    EXPECT_GT(id.Nominal, lastNominal);
    EXPECT_GT(fs::file_size(file), lastSize);
    lastNominal = id.Nominal;
    lastSize = fs::file_size(file);
  }
}

TEST(VorbisOut, ManagedBitratesGoToTheIdentificationHeaderAndTheStream) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo");
  TTempDir dir;
  struct TCase {
    TVorbisBitRate Nominal, Maximum, Minimum;
    int32_t HeaderMaximum, HeaderNominal, HeaderMinimum;
  };
  const TCase cases[] = {
      // The nominal rate alone: no maximum, the minimum at the nominal rate.
      {TVorbisBitRate::bitrate128, TVorbisBitRate::brAutoSelect, TVorbisBitRate::brAutoSelect, -1, 128000, 128000},
      {TVorbisBitRate::bitrate96, TVorbisBitRate::bitrate160, TVorbisBitRate::bitrate64, 160000, 96000, 64000},
      {TVorbisBitRate::bitrate192, TVorbisBitRate::bitrate192, TVorbisBitRate::bitrate192, 192000, 192000, 192000},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.HeaderNominal);
    TRun run(2, 44100, 16, 44100 * 4);
    run.Out.SetDesiredNominalBitrate(c.Nominal);
    run.Out.SetDesiredMaximumBitrate(c.Maximum);
    run.Out.SetMinimumBitrate(c.Minimum);
    const fs::path file = dir / "managed.ogg";
    ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    EXPECT_TRUE(Ogginfo(file).Clean());
    const auto id = Identification(ParsePages(ReadFile(file)).at(0));
    EXPECT_EQ(id.Maximum, c.HeaderMaximum);
    EXPECT_EQ(id.Nominal, c.HeaderNominal);
    EXPECT_EQ(id.Minimum, c.HeaderMinimum);
    // The average over four seconds stays near the nominal rate.
    const double kbps = static_cast<double>(fs::file_size(file)) * 8 / 4 / 1000;
    EXPECT_NEAR(kbps, c.HeaderNominal / 1000.0, c.HeaderNominal / 1000.0 * 0.25);
  }
}

TEST(VorbisOut, BitrateSettersKeepMinimumNominalAndMaximumInOrder) {
  using B = TVorbisBitRate;
  TVorbisOut out;
  EXPECT_EQ(out.Compression, 0.2f);
  // No maximum without a nominal rate.
  out.SetDesiredMaximumBitrate(B::bitrate192);
  EXPECT_EQ(out.DesiredMaximumBitrate(), B::brAutoSelect);
  // With the nominal rate at auto only auto is a minimum.
  out.SetMinimumBitrate(B::bitrate64);
  EXPECT_EQ(out.MinimumBitrate(), B::brAutoSelect);

  // The maximum follows the nominal rate up from auto.
  out.SetDesiredNominalBitrate(B::bitrate128);
  EXPECT_EQ(out.DesiredMaximumBitrate(), B::bitrate128);
  out.SetMinimumBitrate(B::bitrate96);
  EXPECT_EQ(out.MinimumBitrate(), B::bitrate96);
  out.SetMinimumBitrate(B::bitrate160);  // above the nominal rate: ignored
  EXPECT_EQ(out.MinimumBitrate(), B::bitrate96);
  out.SetDesiredMaximumBitrate(B::bitrate112);  // below it: ignored
  EXPECT_EQ(out.DesiredMaximumBitrate(), B::bitrate128);
  out.SetDesiredMaximumBitrate(B::brAutoSelect);
  EXPECT_EQ(out.DesiredMaximumBitrate(), B::brAutoSelect);
  out.SetDesiredMaximumBitrate(B::bitrate192);
  EXPECT_EQ(out.DesiredMaximumBitrate(), B::bitrate192);

  // A lower nominal rate takes the minimum down; a higher one the maximum up.
  out.SetDesiredNominalBitrate(B::bitrate64);
  EXPECT_EQ(out.MinimumBitrate(), B::bitrate64);
  EXPECT_EQ(out.DesiredMaximumBitrate(), B::bitrate192);
  out.SetDesiredNominalBitrate(B::bitrate256);
  EXPECT_EQ(out.DesiredMaximumBitrate(), B::bitrate256);
  EXPECT_EQ(out.MinimumBitrate(), B::bitrate64);
  // Back to auto resets the maximum.
  out.SetDesiredNominalBitrate(B::brAutoSelect);
  EXPECT_EQ(out.DesiredMaximumBitrate(), B::brAutoSelect);
  EXPECT_EQ(out.MinimumBitrate(), B::brAutoSelect);

  EXPECT_EQ(VorbisBitrateValue(B::brAutoSelect), -1);
  EXPECT_EQ(VorbisBitrateValue(B::bitrate45), 45000);
  EXPECT_EQ(VorbisBitrateValue(B::bitrate499), 499000);
}

TEST(VorbisOut, ARefusedBitrateFailsWithItsMessageAndLeavesNoFile) {
  TTempDir dir;
  // No Vorbis setup carries 499 kbit/s of 8 kHz mono.
  TRun run(1, 8000, 16, 8000);
  run.Out.SetDesiredNominalBitrate(TVorbisBitRate::bitrate499);
  EXPECT_FALSE(run.Write(dir / "refused.ogg"));
  EXPECT_EQ(run.Out.ExceptionMessage, kMsgVorbisBitrateSetupFailed);
  EXPECT_FALSE(fs::exists(dir / "refused.ogg"));
  // The records were cleared as far as they were set up: the next run works.
  run.Out.SetDesiredNominalBitrate(TVorbisBitRate::brAutoSelect);
  ASSERT_TRUE(run.Write(dir / "fine.ogg")) << run.Out.ExceptionMessage;
  EXPECT_EQ(Identification(ParsePages(ReadFile(dir / "fine.ogg")).at(0)).Rate, 8000);
}

// ---- Sample widths and channels ---------------------------------------------

TEST(VorbisOut, EveryInputWidthEncodesTheSameSine) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo");
  TTempDir dir;
  constexpr int kRate = 44100;
  const double amplitude = 0.5;
  auto sine = [&](int64_t f) { return amplitude * std::sin(2 * M_PI * 1000 * static_cast<double>(f) / kRate); };
  std::vector<double> reference(kRate);
  for (std::size_t i = 0; i < reference.size(); ++i) reference[i] = sine(static_cast<int64_t>(i));
  for (int bits : {8, 16, 24, 32}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    TRun run(1, kRate, bits, kRate);
    run.Gen.Sample = [&, bits](int64_t f, int) -> int32_t {
      const double s = sine(f);
      switch (bits) {
        case 8: return 128 + static_cast<int32_t>(std::lround(s * 127));
        case 16: return static_cast<int32_t>(std::lround(s * 32767));
        case 24: return static_cast<int32_t>(std::lround(s * 8388607));
        default: return static_cast<int32_t>(std::llround(s * 2147483647.0));
      }
    };
    run.Out.Compression = 0.5f;
    const fs::path file = dir / ("w" + std::to_string(bits) + ".ogg");
    ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    const auto pcm = Oggdec(file, dir.Path());
    ASSERT_EQ(pcm.size(), reference.size());
    std::vector<double> decoded(pcm.size());
    for (std::size_t i = 0; i < pcm.size(); ++i) decoded[i] = pcm[i] / 32768.0;
    // 8 bits carry about 48 dB of their own.
    EXPECT_GE(SnrDb(reference, decoded, 2048), 40.0);
    EXPECT_NEAR(Rms(decoded, 2048, decoded.size() - 2048), amplitude / std::sqrt(2.0), 0.01);
  }
}

TEST(VorbisOut, MoreChannelsUpToSeventeenDecodeWithTheirCount) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo", "ffprobe");
  TTempDir dir;
  for (int channels : {3, 6, 8, 17}) {
    SCOPED_TRACE(std::to_string(channels) + " channels");
    TRun run(channels, 44100, 16, 30000);
    const fs::path file = dir / "many.ogg";
    ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    EXPECT_TRUE(Ogginfo(file).Clean());
    EXPECT_EQ(Probe(file, "channels"), std::to_string(channels));
    EXPECT_EQ(Oggdec(file, dir.Path()).size(), static_cast<std::size_t>(30000 * channels));
  }
  TRun run(18, 44100, 16, 1000);
  EXPECT_FALSE(run.Write(dir / "eighteen.ogg"));
  EXPECT_EQ(run.Out.ExceptionMessage, VorbisTooManyChannelsMessage());
  EXPECT_FALSE(fs::exists(dir / "eighteen.ogg"));
}

// ---- Comments ------------------------------------------------------------------

TEST(VorbisOut, CommentsAreWrittenInKeyOrderWithoutEmptyOnesAndClearedAfterTheRun) {
  QM_SKIP_UNLESS(HavePythonModule("mutagen"), "python3-mutagen");
  TTempDir dir;
  TRun run(2, 44100, 16, 4410);
  run.Out.Comments().SetTitle(u"Заголовок");
  run.Out.Comments().SetArtist(u"Artist");
  ASSERT_TRUE(run.Write(dir / "two.ogg")) << run.Out.ExceptionMessage;
  EXPECT_EQ(MutagenComments(dir / "two.ogg"), "artist=Artist\ntitle=Заголовок");
  EXPECT_TRUE(run.Out.Comments().Empty());

  // Nothing set, then a container of another kind whose shared keys come
  // along, an empty title left out.
  ASSERT_TRUE(run.Write(dir / "none.ogg")) << run.Out.ExceptionMessage;
  EXPECT_EQ(MutagenComments(dir / "none.ogg"), "");
  TAPEv2Tags ape;
  ape.SetValue("Album", TagValue(std::u16string(u"Album")));
  ape.SetValue("Genre", TagValue(std::u16string(u"Jazz")));
  ape.SetValue("Title", TagValue(std::u16string()));
  ape.SetValue("Composer", TagValue(std::u16string(u"Not a Vorbis key")));
  run.Out.SetComments(ape);
  run.Out.Comments().SetTrack(u"3");
  run.Out.Comments().SetTrackGain(u"-6.5 dB");
  ASSERT_TRUE(run.Write(dir / "assigned.ogg")) << run.Out.ExceptionMessage;
  EXPECT_EQ(MutagenComments(dir / "assigned.ogg"),
            "album=Album\ngenre=Jazz\nreplaygain_track_gain=-6.5 dB\ntracknumber=3");
}

// ---- Appending, serials, failures ------------------------------------------

TEST(VorbisOut, AppendLeavesTheFileAndAddsASecondLogicalStream) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo");
  TTempDir dir;
  const fs::path file = dir / "chain.ogg";
  TRun first(2, 44100, 16, 20000);
  ASSERT_TRUE(first.Write(file)) << first.Out.ExceptionMessage;
  const auto before = ReadFile(file);

  TRun second(1, 22050, 16, 10000);
  second.Out.SetFileMode(TFileOutputMode::foAppend);
  EXPECT_EQ(second.Out.FileMode(), TFileOutputMode::foAppend);
  second.Out.Serial = 77;
  ASSERT_TRUE(second.Write(file)) << second.Out.ExceptionMessage;
  const auto after = ReadFile(file);
  ASSERT_GT(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));

  const TOgginfo info = Ogginfo(file);
  EXPECT_TRUE(info.Clean()) << info.Text;
  EXPECT_NE(info.Text.find("New logical stream (#2, serial: 0000004d)"), std::string::npos) << info.Text;
  const auto pages = ParsePages(after);
  std::map<uint32_t, int> eos;
  for (const auto& p : pages)
    if (p.Flags & 4) ++eos[p.Serial];
  EXPECT_EQ(eos, (std::map<uint32_t, int>{{0u, 1}, {77u, 1}}));

  // Appending where no file is creates one.
  TRun fresh(1, 22050, 16, 1000);
  fresh.Out.SetFileMode(TFileOutputMode::foAppend);
  ASSERT_TRUE(fresh.Write(dir / "new.ogg")) << fresh.Out.ExceptionMessage;
  EXPECT_TRUE(Ogginfo(dir / "new.ogg").Clean());
}

TEST(VorbisOut, AFailedAppendCutsTheFileBackAndAFailedRewriteRemovesIt) {
  TTempDir dir;
  const fs::path file = dir / "kept.ogg";
  TRun first(2, 44100, 16, 20000);
  ASSERT_TRUE(first.Write(file)) << first.Out.ExceptionMessage;
  const auto before = ReadFile(file);

  // The input fails after several pages of the new stream were written.
  TRun second(2, 44100, 16, 200000);
  second.Gen.FailAfterFrames = 100000;
  second.Out.SetFileMode(TFileOutputMode::foAppend);
  EXPECT_FALSE(second.Write(file));
  EXPECT_EQ(second.Out.ExceptionMessage, "generator failed");
  EXPECT_EQ(ReadFile(file), before);

  TRun third(2, 44100, 16, 200000);
  third.Gen.FailAfterFrames = 100000;
  EXPECT_FALSE(third.Write(dir / "gone.ogg"));
  EXPECT_FALSE(fs::exists(dir / "gone.ogg"));

  TRun nameless(2, 44100, 16, 100);
  EXPECT_FALSE(nameless.Write(fs::path()));
  EXPECT_EQ(nameless.Out.ExceptionMessage, kMsgVorbisFileNameNotAssigned);
}

// ---- The libraries -------------------------------------------------------------

TEST(VorbisLibraries, AHiddenLibraryFailsEveryRunUntilItCanBeFound) {
  // The libraries are never unloaded: when an earlier test of this process
  // loaded them, this test runs again in a process of its own.
  if (std::getenv("QUELLMARK_VORBIS_TEST_CHILD") == nullptr) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    ASSERT_FALSE(ec);
    EXPECT_EQ(vorbistest::Run("QUELLMARK_VORBIS_TEST_CHILD=1 " + Quote(self) +
                  " --gtest_filter=VorbisLibraries.AHiddenLibraryFailsEveryRunUntilItCanBeFound"),
              0);
    return;
  }
  TTempDir dir;
  // The first library missing in the order ogg, vorbis, vorbisfile,
  // vorbisenc names the message.
  const std::pair<const char*, const char*> cases[] = {
      {"libvorbisenc.so.2=;libvorbisfile.so.3=;libogg.so.0=", "libogg.so.0 library could not be loaded."},
      {"libvorbisenc.so.2=;libvorbisfile.so.3=", "libvorbisfile.so.3 library could not be loaded."},
      {"libvorbisenc.so.2=", "libvorbisenc.so.2 library could not be loaded."},
  };
  for (const auto& [hidden, message] : cases) {
    SCOPED_TRACE(hidden);
    ASSERT_EQ(::setenv(platform::kLibraryOverrideVariable, hidden, 1), 0);
    TRun run(2, 44100, 16, 4410);
    EXPECT_FALSE(run.Write(dir / "hidden.ogg"));
    EXPECT_EQ(run.Out.ExceptionMessage, message);
    EXPECT_FALSE(fs::exists(dir / "hidden.ogg"));
  }
  ::unsetenv(platform::kLibraryOverrideVariable);
  TRun run(2, 44100, 16, 4410);
  ASSERT_TRUE(run.Write(dir / "found.ogg")) << run.Out.ExceptionMessage;
  EXPECT_TRUE(LoadOgg() && LoadVorbis() && LoadVorbisFile() && LoadVorbisEnc());
}

TEST(VorbisLibraries, ConcurrentFirstUsesLoadEachLibraryOnce) {
  // Only the first use loads: run where nothing has been loaded yet.
  if (std::getenv("QUELLMARK_VORBIS_TEST_CHILD") == nullptr) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    ASSERT_FALSE(ec);
    EXPECT_EQ(vorbistest::Run("QUELLMARK_VORBIS_TEST_CHILD=1 " + Quote(self) +
                           " --gtest_filter=VorbisLibraries.ConcurrentFirstUsesLoadEachLibraryOnce"),
              0);
    return;
  }
  // A probe on the main thread and sinks on their workers, all at once.
  std::mutex m;
  std::condition_variable cv;
  bool go = false;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return go; });
      }
      try {
        if (i % 2 == 0) {
          RequireVorbisLibraries();
        } else if (!(LoadVorbisEnc() && LoadVorbisFile() && LoadVorbis() && LoadOgg())) {
          ++failures;
        }
      } catch (...) {
        ++failures;
      }
    });
  }
  {
    std::lock_guard lock(m);
    go = true;
  }
  cv.notify_all();
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_NE(OggLibrary().stream_init, nullptr);
  EXPECT_NE(VorbisFileLibrary().read, nullptr);
}

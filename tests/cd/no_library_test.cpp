// A program without the CD reading library beside it (this test is built
// into a folder of its own): it starts, creates its ripping source, and the
// CD operations report that the library could not be loaded.

#include <gtest/gtest.h>

#include "app/app_core.h"
#include "app/pipeline_set.h"
#include "tests/cd/cd_test_support.h"

using namespace cdtest;
using qmtest::TTempDir;

namespace {

const TConfigHome& g_home = ConfigHome();

TEST(CDInWithoutLibraryTest, ReportsTheLoadFailureWhenUsed) {
  TTempDir dir;
  TCDIn in;
  EXPECT_EQ(in.GetBitsPerSample(), 16);
  EXPECT_EQ(in.GetSize(), 0);
  EXPECT_EQ(in.GetTotalTime(), 0);
  for (int round = 0; round < 2; ++round) {  // a failed load is tried again
    try {
      in.TrackCount();
      ADD_FAILURE();
    } catch (const EAuException& e) {
      EXPECT_STREQ(e.what(), "libcdrip.so could not be loaded.");
    }
  }
  EXPECT_THROW(in.MediaPresent(), EAuException);
  EXPECT_THROW(in.Eject(), EAuException);
  in.SelectTrack(1);
  EXPECT_EQ(GrabToWav(in, dir / "out.wav"), "libcdrip.so could not be loaded.");
  EXPECT_EQ(LoadCDRipLibrary(), nullptr);
  // Nothing was initialised, so no settings file was written.
  EXPECT_FALSE(fs::exists(g_home.Path / "quellmark" / "cdr.ini"));
}

TEST(CDInWithoutLibraryTest, TheComponentSetHasItsCDSourceAndStillConverts) {
  TTempDir dir;
  TPipelineSet set;
  ASSERT_NE(set.CDIn1, nullptr);
  EXPECT_EQ(set.Find("CDIn1"), set.CDIn1);
  EXPECT_EQ(set.CDIn1->EnableJitterCorrection, false);
  EXPECT_EQ(set.CDIn1->MultiReadCount, 0);
  // A WAV file still converts through the set's WAV sink.
  qmtest::TGeneratorInput gen(2, 44100, 16, 44100);
  TAuFileOut* sink = nullptr;
  for (const auto& c : set.Formats())
    if (c.Sink != nullptr && c.Format->SinkName == "WaveOut1") sink = c.Sink;
  ASSERT_NE(sink, nullptr);
  sink->SetInput(&gen);
  sink->SetFileName((dir / "out.wav").string());
  ASSERT_TRUE(qmtest::RunToEnd(*sink));
  EXPECT_EQ(sink->ExceptionMessage, "");
  EXPECT_EQ(fs::file_size(dir / "out.wav"), 44u + 44100u * 4u);
  EXPECT_FALSE(fs::exists(g_home.Path / "quellmark" / "cdr.ini"));
}

class TSilentView : public TDriverView {
 public:
  void ShowProgressPanel(bool) override {}
  void SetGauge(int) override {}
  void SetTitle(const std::string&) override {}
  void SetStatus(const std::string&) override {}
  void ShowError(const std::string& message) override { errors.push_back(message); }
  std::vector<std::string> errors;
};

TEST(CDInWithoutLibraryTest, TheCDCommandsReportTheLoadFailureAndListNothing) {
  TSilentView view;
  TAppCore core(view);
  EXPECT_TRUE(core.Grab.DriveNames().empty());
  for (auto command : {&TGrabDriver::MGetTracksClick, &TGrabDriver::MEjectClick, &TGrabDriver::MCloseTrayClick}) {
    try {
      (core.Grab.*command)();
      ADD_FAILURE();
    } catch (const EAuException& e) {
      EXPECT_STREQ(e.what(), "libcdrip.so could not be loaded.");
    }
  }
  EXPECT_EQ(core.Files.Count(), 0);
  core.Grab.MGrabStartClick();
  EXPECT_FALSE(core.Driver.Running);
  EXPECT_TRUE(view.errors.empty());
}

}  // namespace

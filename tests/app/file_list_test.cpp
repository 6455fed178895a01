#include "app/file_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "tests/support/support.h"

using namespace qmtest;

namespace {

// Records which files were probed; the real sources are exercised by the
// core, window and command-line tests on generated WAV files.
class TRecordingProber : public TSourceProber {
 public:
  std::vector<std::string> probed;
  std::optional<TProbeResult> Probe(const std::filesystem::path& path, const std::string& ext) override {
    if (path.filename() == "broken.wav") throw std::runtime_error("damaged");
    if (ext == ".wma") return std::nullopt;
    probed.push_back(path.string());
    return TProbeResult{185, 44100, ext == ".wav" ? "16 bps" : "128 kbps"};
  }
};

std::vector<std::string> Captions(const TFileList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Row(i).Caption);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST(FileList, LengthTexts) {
  EXPECT_EQ(TFileList::LengthText(185), "3:05");
  EXPECT_EQ(TFileList::LengthText(3725), "62:05");
  EXPECT_EQ(TFileList::LengthText(7), "0:07");
  EXPECT_EQ(TFileList::LengthText(0), "0:00");
  EXPECT_EQ(TFileList::LengthText(60), "1:00");
}

TEST(FileList, AddFileTakesSupportedExtensionsInAnyCaseAndFillsTheRow) {
  TRecordingProber prober;
  bool subdirs = true;
  TFileList list(prober, subdirs);
  list.AddFile("/x/A.WAV");
  list.AddFile("/x/notes.txt");
  list.AddFile("/x/noext");
  list.AddFile("/x/no-reader-in-this-build.wma");
  list.AddFile("/x/A.WAV");  // listed twice
  ASSERT_EQ(list.Count(), 2);
  const TFileRow& row = list.Row(0);
  EXPECT_EQ(row.Caption, "A.WAV");
  EXPECT_EQ(row.Length, "3:05");
  EXPECT_EQ(row.Samplerate, "44100 Hz");
  EXPECT_EQ(row.Bitrate, "16 bps");
  EXPECT_EQ(row.Path, "/x/A.WAV");
  EXPECT_TRUE(row.Checked);
  EXPECT_EQ(row.Image, TRowImage::None);
}

TEST(FileList, ScanningFollowsSubdirsButCollectingAlwaysDescends) {
  TTempDir dir;
  for (const char* f : {"a.wav", "b.mp3", "skip.txt", "sub/c.ogg", "sub/deeper/d.ape"}) {
    WriteText(dir / f, "");
  }
  std::filesystem::create_directory_symlink(dir.Path(), dir / "sub" / "loop");
  std::filesystem::create_directory_symlink(dir / "sub", dir / "linked.wav");

  TRecordingProber prober;
  bool subdirs = false;
  TFileList list(prober, subdirs);
  EXPECT_EQ(list.AddPaths({dir.Str()}), std::vector<std::string>{});
  EXPECT_EQ(Captions(list), (std::vector<std::string>{"a.wav", "b.mp3"}));

  subdirs = true;
  list.Clear();
  EXPECT_EQ(list.AddPaths({dir.Str() + "/"}), std::vector<std::string>{});
  EXPECT_EQ(Captions(list), (std::vector<std::string>{"a.wav", "b.mp3", "c.ogg", "d.ape"}));
  EXPECT_EQ(list.Row(0).Path.find(dir.Str() + "/"), 0u);

  std::vector<std::string> collected;
  TFileList::CollectFolder(dir.Str(), collected);
  std::sort(collected.begin(), collected.end());
  // Unsupported files are collected too (AddFile skips them); links to
  // folders are neither followed nor collected.
  EXPECT_EQ(collected, (std::vector<std::string>{dir.Str() + "/a.wav", dir.Str() + "/b.mp3",
                                                 dir.Str() + "/skip.txt", dir.Str() + "/sub/c.ogg",
                                                 dir.Str() + "/sub/deeper/d.ape"}));
}

TEST(FileList, AFileThatFailsToProbeIsReportedByNameAndTheRestAreAdded) {
  TTempDir dir;
  for (const char* f : {"one.wav", "broken.wav", "three.wav", "folder/broken.wav", "folder/four.wav"}) {
    WriteText(dir / f, "");
  }
  TRecordingProber prober;
  bool subdirs = true;
  TFileList list(prober, subdirs);
  const auto errors = list.AddPaths({(dir / "one.wav").string(), (dir / "broken.wav").string(),
                                     (dir / "three.wav").string(), (dir / "folder").string()});
  EXPECT_EQ(errors, (std::vector<std::string>{(dir / "broken.wav").string() + ": damaged",
                                              dir.Str() + "/folder/broken.wav: damaged"}));
  EXPECT_EQ(Captions(list), (std::vector<std::string>{"four.wav", "one.wav", "three.wav"}));
}

TEST(FileList, DeleteCheckAndState) {
  TRecordingProber prober;
  bool subdirs = true;
  TFileList list(prober, subdirs);
  std::vector<int> removed;
  list.OnRowRemoved = [&](int i) { removed.push_back(i); };
  for (const char* f : {"/a.wav", "/b.wav", "/c.wav", "/d.wav"}) list.AddFile(f);
  EXPECT_EQ(list.Delete({}), 0);
  EXPECT_EQ(list.Delete({2, 0, 2, 9}), 2);
  EXPECT_EQ(removed, (std::vector<int>{2, 0}));  // last first, so indexes stay valid
  EXPECT_EQ(list.Row(0).Caption, "b.wav");
  EXPECT_EQ(list.Row(1).Caption, "d.wav");
  list.SetAllChecked(false);
  EXPECT_FALSE(list.Row(1).Checked);
  list.SetState(1, TRowImage::Failed, "boom");
  EXPECT_EQ(list.Row(1).Message, "boom");
  list.SetState(1, TRowImage::Done);
  EXPECT_EQ(list.Row(1).Message, "");
}

#include <gtest/gtest.h>

#include <cstring>

#include "pipeline/au_exception.h"
#include "pipeline/au_memory_stream.h"
#include "test_components.h"

using namespace testing_pipeline;

namespace {

// Pulls the whole run (Init .. 0 bytes .. Flush) and returns the frames.
std::vector<int16_t> PullAll(TAuInput& in, uint32_t block = 1000, std::size_t limitBytes = SIZE_MAX) {
  std::vector<int16_t> out;
  in.Init();
  std::size_t total = 0;
  for (;;) {
    void* buf = nullptr;
    uint32_t bytes = block;
    in.GetData(buf, bytes);
    if (bytes == 0) break;
    EXPECT_NE(buf, nullptr);
    const auto* p = static_cast<const int16_t*>(buf);
    out.insert(out.end(), p, p + bytes / 2);
    total += bytes;
    if (total >= limitBytes) break;
  }
  in.Flush();
  return out;
}

std::vector<int16_t> Ramp(int64_t first, int64_t frames, int channels = 2) {
  std::vector<int16_t> v;
  for (int64_t n = first; n < first + frames; ++n)
    for (int c = 0; c < channels; ++c) v.push_back(RampValue(n, c, channels));
  return v;
}

class FileSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file = dir / "ramp.raw";
    WriteRampFile(file, 1000, 2);
    source.SetFileName(file.string());
  }
  TTempDir dir;
  std::filesystem::path file;
  TRawFileIn source;
};

TEST_F(FileSourceTest, DeliversTheWholeFileThenKeepsReturningNothing) {
  source.Init();
  EXPECT_EQ(source.Size, 4000);
  EXPECT_EQ(source.FrameSize, 4);
  EXPECT_EQ(source.TotalSamples(), 1000);
  std::vector<int16_t> got;
  void* buf;
  uint32_t bytes;
  do {
    bytes = 1234;  // not a whole frame count: the source keeps to frames
    source.GetData(buf, bytes);
    EXPECT_EQ(bytes % 4, 0u);
    if (bytes) got.insert(got.end(), static_cast<int16_t*>(buf), static_cast<int16_t*>(buf) + bytes / 2);
  } while (bytes != 0);
  EXPECT_EQ(got, Ramp(0, 1000));
  EXPECT_EQ(source.Position, 4000);
  for (int i = 0; i < 2; ++i) {
    bytes = 100;
    buf = &bytes;
    source.GetData(buf, bytes);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(buf, nullptr);
  }
  source.Flush();
  EXPECT_FALSE(source.Busy);
}

TEST_F(FileSourceTest, RangeAppliesToOneRunOnly) {
  source.StartSample = 100;
  source.EndSample = 199;
  EXPECT_EQ(PullAll(source), Ramp(100, 100));
  EXPECT_EQ(source.StartSample, 0);
  EXPECT_EQ(source.EndSample, -1);
  EXPECT_EQ(PullAll(source).size(), 2000u);
}

TEST_F(FileSourceTest, EndSampleBeyondTheFileMeansToTheEnd) {
  source.StartSample = 990;
  source.EndSample = 5000;
  EXPECT_EQ(PullAll(source), Ramp(990, 10));
}

TEST_F(FileSourceTest, LoopDeliversTheRangeAgainWithoutEnding) {
  source.Loop = true;
  source.StartSample = 10;
  source.EndSample = 19;  // 10 frames, 40 bytes per pass
  source.Init();
  std::vector<int16_t> got;
  std::vector<int64_t> positions;
  for (int i = 0; i < 8; ++i) {
    void* buf;
    uint32_t bytes = 24;  // 6 frames asked each time
    source.GetData(buf, bytes);
    ASSERT_GT(bytes, 0u) << "a looping source never reports the end";
    got.insert(got.end(), static_cast<int16_t*>(buf), static_cast<int16_t*>(buf) + bytes / 2);
    positions.push_back(source.Position);
  }
  source.Flush();
  // The range repeats whole: the frames at the end of a pass are not lost
  // to the restart.
  std::vector<int16_t> expect;
  for (int pass = 0; pass < 4; ++pass) {
    auto r = Ramp(10, 10);
    expect.insert(expect.end(), r.begin(), r.end());
  }
  EXPECT_EQ(got, expect);
  EXPECT_EQ(positions, (std::vector<int64_t>{24, 40, 24, 40, 24, 40, 24, 40}));
}

TEST_F(FileSourceTest, LoopRestartsAtOnceWhenTheEndComesEmpty) {
  source.Loop = true;
  source.UnknownSize = true;  // the end shows only as an empty read
  source.StartSample = 0;
  source.Init();
  std::size_t total = 0;
  for (int i = 0; i < 5; ++i) {
    void* buf;
    uint32_t bytes = 3000;
    source.GetData(buf, bytes);
    ASSERT_GT(bytes, 0u);
    EXPECT_EQ(static_cast<int16_t*>(buf)[0], RampValue(static_cast<int64_t>(total % 4000) / 4, 0, 2));
    total += bytes;
  }
  source.Flush();
}

TEST_F(FileSourceTest, SeekWhileIdleMovesTheNextStart) {
  EXPECT_TRUE(source.Seek(500));
  EXPECT_EQ(source.StartSample, 500);
  EXPECT_FALSE(source.Seek(1001)) << "beyond the file";
  EXPECT_EQ(PullAll(source), Ramp(500, 500));
}

TEST_F(FileSourceTest, SeekWhileRunningRepositionsWithinTheRange) {
  source.StartSample = 100;
  source.Init();
  void* buf;
  uint32_t bytes = 40;
  source.GetData(buf, bytes);
  EXPECT_EQ(static_cast<int16_t*>(buf)[0], RampValue(100, 0, 2));
  ASSERT_TRUE(source.Seek(50));  // relative to StartSample
  EXPECT_EQ(source.Position, 50 * 4);
  bytes = 8;
  source.GetData(buf, bytes);
  EXPECT_EQ(static_cast<int16_t*>(buf)[0], RampValue(150, 0, 2));
  EXPECT_FALSE(source.Seek(901)) << "beyond the range";
  source.Seekable = false;
  EXPECT_FALSE(source.Seek(0));
  source.Flush();
}

TEST_F(FileSourceTest, FormatQueriesOpenTheFileAndANewNameClosesIt) {
  EXPECT_EQ(source.BitsPerSample(), 16);
  EXPECT_EQ(source.Channels(), 2);
  EXPECT_EQ(source.SampleRate(), 44100);
  EXPECT_EQ(source.OpenCount, 1);
  EXPECT_EQ(source.OpenCalls, 1);
  EXPECT_EQ(source.TotalSamples(), 1000);
  EXPECT_EQ(source.TotalTime(), 0);  // 1000 frames at 44100 Hz rounds to 0 s
  source.SetFileName(file.string());
  EXPECT_EQ(source.OpenCount, 0);
  source.Channels();
  EXPECT_EQ(source.OpenCalls, 2);
}

TEST_F(FileSourceTest, InitFailuresRaiseAndLeaveTheSourceAtItsEnd) {
  TRawFileIn unnamed;
  try {
    unnamed.Init();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), kMsgFileNameNotAssigned);
  }
  EXPECT_TRUE(unnamed.EndOfStream);

  source.Init();
  try {
    source.Init();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), kMsgComponentIsBusy);
  }
  void* buf;
  uint32_t bytes = 64;
  source.GetData(buf, bytes);
  EXPECT_EQ(bytes, 0u) << "a failed Init leaves EndOfStream set";
  source.Reset();
  EXPECT_FALSE(source.Busy);
  EXPECT_EQ(source.OpenCount, 0);

  TRawFileIn missing;
  missing.SetFileName((dir / "gone.raw").string());
  EXPECT_THROW(missing.Init(), EAuException);
}

TEST_F(FileSourceTest, AFrameWiderThanSixteenBitsOfBytesDeliversNothing) {
  TRawFileIn wide(nullptr, 65535, 44100);  // 65535 channels x 2 bytes
  wide.SetFileName(file.string());
  EXPECT_EQ(wide.TotalSamples(), 4000 / (65535 * 2));
  EXPECT_GE(wide.TotalTime(), 0);
  EXPECT_TRUE(PullAll(wide).empty());
  EXPECT_EQ(wide.FrameSize, 0);
}

TEST_F(FileSourceTest, PrefetchIsServedFirstAndCountedOnce) {
  source.Init();
  source.Prefetch(40);
  EXPECT_EQ(source.Position, 0);
  EXPECT_EQ(source.PrefetchCount, 40u);
  source.Prefetch(400);  // already holds a block: nothing
  EXPECT_EQ(source.PrefetchCount, 40u);
  std::vector<int16_t> first(10);
  bool eof = false;
  // FillBuffer takes the prefetched block, then reads on.
  std::vector<int16_t> block(30);
  EXPECT_EQ(source.FillBuffer(block.data(), 60, eof), 60u);
  EXPECT_FALSE(eof);
  EXPECT_EQ(block, Ramp(0, 15));
  EXPECT_EQ(source.Position, 60);
  std::vector<int16_t> rest(4000);
  EXPECT_EQ(source.FillBuffer(rest.data(), 8000, eof), 4000u - 60u);
  EXPECT_TRUE(eof);
  EXPECT_EQ(source.CopyData(rest.data(), 8), 0u);
  source.Flush();
}

TEST_F(FileSourceTest, CallerStreamIsReadAndRewound) {
  std::vector<int16_t> values = Ramp(0, 50);
  TAuMemoryStream stream(values.data(), values.size() * 2);
  TRawFileIn fromStream;
  fromStream.SetStream(&stream);
  EXPECT_EQ(PullAll(fromStream), values);
  EXPECT_EQ(stream.Position(), 0);
}

TEST_F(FileSourceTest, ConverterCutsAtItsSizeAndForwardsTheRun) {
  TPassThrough conv;
  conv.SetInput(&source);
  source.StartSample = 3;
  EXPECT_EQ(PullAll(conv), Ramp(3, 997));
  EXPECT_EQ(conv.InitCalls, 1);
  // Busy converter swapping its input flushes the old and inits the new.
  TRawFileIn other;
  other.SetFileName(file.string());
  conv.Init();
  conv.SetInput(&other);
  EXPECT_FALSE(source.Busy);
  EXPECT_TRUE(other.Busy);
  conv.Flush();
  EXPECT_FALSE(other.Busy);
}

TEST_F(FileSourceTest, InitOfAConverterWithoutInputFails) {
  TPassThrough conv;
  try {
    conv.Init();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), kMsgInputNotAssigned);
  }
}

}  // namespace

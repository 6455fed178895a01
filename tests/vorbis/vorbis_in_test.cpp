// TVorbisIn over files oggenc made: format, length and comments as probed,
// and the samples compared with oggdec's (the same library, the same 16-bit
// output), for whole files, ranges, seeks and streams that cannot seek;
// hostile files fail with a message.
#include <gtest/gtest.h>

#include "app/format_routing.h"
#include "app/pipeline_set.h"
#include "codecs/vorbis_in.h"
#include "pipeline/au_memory_stream.h"
#include "vorbis_test_support.h"

using namespace vorbistest;

namespace {

// Everything the source delivers from its own file.
std::vector<int16_t> Decode(TVorbisIn& in, uint32_t request = 16384) { return AsInt16(ReadAll(in, request)); }

std::vector<int16_t> Slice(const std::vector<int16_t>& pcm, int channels, int64_t from, int64_t to) {
  return std::vector<int16_t>(pcm.begin() + from * channels, pcm.begin() + to * channels);
}

// A memory stream that will not move.
class TUnseekableStream : public TAuMemoryStream {
 public:
  using TAuMemoryStream::TAuMemoryStream;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    ++Seeks;
    if (Origin == TSeekOrigin::soCurrent && Offset == 0) return TAuMemoryStream::Seek(0, Origin);
    return -1;
  }
  int Seeks = 0;
};

}  // namespace

TEST(VorbisIn, OggencFilesProbeWithTheirFormatLengthAndSixFields) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo");
  TTempDir dir;
  for (int channels : {1, 2}) {
    for (int rate : {8000, 11025, 22050, 32000, 44100, 48000}) {
      SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(rate));
      const int64_t frames = rate * 2 + 777;
      const fs::path file = dir / "in.ogg";
      Oggenc(file, rate, channels, frames, [rate](int64_t f, int c) { return Music(rate, f, c); },
             {"ARTIST=First", "Artist=Second", "artist=Последний", "ALBUM=Album", "Title=T=with equals",
              "date=2024", "GENRE=Rock", "TRACKNUMBER=3", "COMMENT=ignored", "DISCNUMBER=2"});
      TVorbisIn in;
      in.SetFileName(file.string());
      EXPECT_EQ(in.Channels(), channels);
      EXPECT_EQ(in.SampleRate(), rate);
      EXPECT_EQ(in.BitsPerSample(), 16);
      EXPECT_EQ(in.TotalSamples(), frames);
      EXPECT_EQ(in.Size, frames * 2 * channels);
      EXPECT_TRUE(in.Valid);
      TVorbisTags& tags = in.Comments();
      EXPECT_EQ(tags.Artist(), u"Последний");
      EXPECT_EQ(tags.Album(), u"Album");
      EXPECT_EQ(tags.Title(), u"T=with equals");
      EXPECT_EQ(tags.Date(), u"2024");
      EXPECT_EQ(tags.Genre(), u"Rock");
      EXPECT_EQ(tags.Track(), u"3");
      EXPECT_TRUE(tags.Disc().empty());
      EXPECT_TRUE(tags.GetValue("comment").IsNull());
    }
  }
}

TEST(VorbisIn, DecodesExactlyWhatOggdecDecodes) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo");
  TTempDir dir;
  for (int channels : {1, 2, 6}) {
    SCOPED_TRACE(std::to_string(channels) + " channels");
    const fs::path file = dir / "in.ogg";
    // 6 channels of 12 bytes a frame: 12288 bytes are a whole number of them
    // only by chance; 1 and 2 channels end in the middle of a buffer.
    const int64_t frames = 3 * 44100 + 4321;
    Oggenc(file, 44100, channels, frames, [](int64_t f, int c) { return Music(44100, f, c); }, {});
    const auto expected = Oggdec(file, dir.Path());
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(frames * channels));
    TVorbisIn in;
    in.SetFileName(file.string());
    for (uint32_t request : {16384u, 4096u, 1000u}) {
      SCOPED_TRACE(request);
      EXPECT_EQ(Decode(in, request), expected);
    }
  }
}

TEST(VorbisIn, RangesAndSeeksGiveOggdecsSamplesFromThere) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo");
  TTempDir dir;
  const fs::path file = dir / "in.ogg";
  const int64_t frames = 5 * 44100;
  Oggenc(file, 44100, 2, frames, [](int64_t f, int c) { return Music(44100, f, c); }, {});
  const auto all = Oggdec(file, dir.Path());
  ASSERT_EQ(all.size(), static_cast<std::size_t>(frames * 2));

  TVorbisIn in;
  in.SetFileName(file.string());
  for (auto [start, end] : {std::pair<int64_t, int64_t>{0, 999}, {44100, 3 * 44100 + 17}, {100001, -1},
                            {12345, frames - 1}, {frames - 3, -1}}) {
    SCOPED_TRACE(std::to_string(start) + ".." + std::to_string(end));
    in.StartSample = start;
    in.EndSample = end;
    const int64_t last = end == -1 ? frames - 1 : end;
    const auto got = Decode(in);
    EXPECT_EQ(got.size(), static_cast<std::size_t>((last - start + 1) * 2));
    EXPECT_TRUE(got == Slice(all, 2, start, last + 1));
    // Flush ends the range.
    EXPECT_EQ(in.StartSample, 0);
    EXPECT_EQ(in.EndSample, -1);
  }

  // A seek while running, relative to the range's start.
  in.StartSample = 1000;
  in.Init();
  void* buffer = nullptr;
  uint32_t bytes = 4000;
  in.GetData(buffer, bytes);
  ASSERT_EQ(bytes, 4000u);
  ASSERT_TRUE(in.Seek(2 * 44100));
  std::vector<uint8_t> rest;
  for (;;) {
    bytes = 16384;
    in.GetData(buffer, bytes);
    if (bytes == 0) break;
    rest.insert(rest.end(), static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + bytes);
  }
  in.Flush();
  EXPECT_TRUE(AsInt16(rest) == Slice(all, 2, 1000 + 2 * 44100, frames));
}

TEST(VorbisIn, AStreamThatCannotSeekIsReadToItsEnd) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo");
  TTempDir dir;
  const fs::path file = dir / "in.ogg";
  Oggenc(file, 22050, 2, 30000, [](int64_t f, int c) { return Music(22050, f, c); }, {"artist=Streamed"});
  const auto expected = Oggdec(file, dir.Path());
  TUnseekableStream stream(ReadFile(file));
  TVorbisIn in;
  in.Seekable = false;
  in.SetStream(&stream);
  EXPECT_EQ(in.SampleRate(), 22050);
  EXPECT_EQ(in.Comments().Artist(), u"Streamed");
  // The length is not known without seeking to the end.
  EXPECT_EQ(in.TotalSamples(), -1);
  EXPECT_EQ(Decode(in), expected);
  // Every seek the library tried was answered -1 before reaching the stream.
  EXPECT_EQ(stream.Seeks, 0);

  // A caller's seekable stream is rewound when the source closes.
  TAuMemoryStream memory(ReadFile(file));
  TVorbisIn fromMemory;
  fromMemory.SetStream(&memory);
  EXPECT_EQ(Decode(fromMemory), expected);
  EXPECT_EQ(memory.Position(), 0);
}

TEST(VorbisIn, HostileFilesFailWithAMessage) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo");
  TTempDir dir;
  const fs::path good = dir / "good.ogg";
  Oggenc(good, 44100, 2, 10 * 44100, [](int64_t f, int c) { return Music(44100, f, c) / 2 + ((f * 7 + c) % 9000); },
         {}, "-q 6");
  const auto bytes = ReadFile(good);
  const auto pages = ParsePages(bytes);
  ASSERT_GT(pages.size(), 10u);

  auto expectOpenFails = [&](const std::vector<uint8_t>& data, const char* what) {
    SCOPED_TRACE(what);
    const fs::path file = dir / "hostile.ogg";
    WriteFile(file, data);
    TVorbisIn in;
    in.SetFileName(file.string());
    try {
      (void)in.SampleRate();
      ADD_FAILURE() << "opened";
    } catch (const EAuException& e) {
      EXPECT_EQ(std::string(e.what()).rfind(kMsgVorbisFailedToOpenFile, 0), 0u) << e.what();
    }
    EXPECT_FALSE(in.Valid);
    EXPECT_EQ(in.OpenCount, 0);
  };
  std::vector<uint8_t> random(60000);
  uint32_t x = 12345;
  for (auto& b : random) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 24);
  expectOpenFails(random, "random bytes");
  expectOpenFails({}, "an empty file");
  std::vector<uint8_t> header(bytes);
  header[pages[1].Offset + 40] ^= 0xFF;  // the comment and setup page
  expectOpenFails(header, "a damaged header page");
  expectOpenFails(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(pages[1].Offset + 100)),
                  "cut in the headers");

  // Cut in the middle of the audio: it opens, but the run does not pass for
  // a finished one.
  const fs::path cut = dir / "cut.ogg";
  WriteFile(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() * 6 / 10)));
  TVorbisIn in;
  in.SetFileName(cut.string());
  try {
    ReadAll(in);
    ADD_FAILURE() << "a truncated file read as complete";
  } catch (const EAuException& e) {
    EXPECT_EQ(std::string(e.what()), kMsgVorbisTruncated);
  }
  in.Reset();

  // A damaged audio page is a hole: passed over, the rest decoded.
  std::vector<uint8_t> holed(bytes);
  const TPage& middle = pages[pages.size() / 2];
  holed[middle.Offset + middle.Length / 2] ^= 0x5A;
  const fs::path holedFile = dir / "holed.ogg";
  WriteFile(holedFile, holed);
  TVorbisIn reader;
  reader.SetFileName(holedFile.string());
  const auto pcm = Decode(reader);
  EXPECT_GT(pcm.size(), static_cast<std::size_t>(9 * 44100 * 2));
  EXPECT_LT(pcm.size(), static_cast<std::size_t>(10 * 44100 * 2));
}

TEST(VorbisIn, TheApplicationProbesWithASecondInstance) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo");
  TTempDir dir;
  const fs::path a = dir / "a.ogg";
  const fs::path b = dir / "b.ogg";
  Oggenc(a, 44100, 2, 44100 * 3, [](int64_t f, int c) { return Music(44100, f, c); }, {});
  Oggenc(b, 22050, 1, 22050 * 2, [](int64_t f, int c) { return Music(22050, f, c); }, {});
  TPipelineSet set;
  TFormatRouting routing(set);
  const TSourceRoute* route = routing.SourceFor(".ogg");
  ASSERT_NE(route, nullptr);
  EXPECT_EQ(route->Source->Name(), "VorbisIn1");
  ASSERT_NE(route->Probe, nullptr);
  EXPECT_NE(route->Probe, route->Source);
  ASSERT_NE(routing.SinkFor(2), nullptr);
  EXPECT_EQ(routing.SinkFor(2)->Sink->Name(), "VorbisOut1");

  // The source is reading a while b is probed.
  route->Source->SetFileName(a.string());
  route->Source->Init();
  const auto probed = routing.Probe(b, ".ogg");
  ASSERT_TRUE(probed.has_value());
  EXPECT_EQ(probed->Seconds, 2);
  EXPECT_EQ(probed->SampleRate, 22050);
  EXPECT_EQ(probed->BitrateText, "16 bps");
  // The running source kept its file and reads on to its end.
  EXPECT_EQ(route->Source->OpenCount, 1);
  std::size_t delivered = 0;
  for (;;) {
    void* buffer = nullptr;
    uint32_t bytes = 16384;
    route->Source->GetData(buffer, bytes);
    if (bytes == 0) break;
    delivered += bytes;
  }
  route->Source->Flush();
  EXPECT_EQ(delivered, static_cast<std::size_t>(44100 * 3 * 4));
}

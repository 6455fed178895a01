// Opens the bytes with the media reader from memory, widens the formats of
// every audio output, decodes the first one to its end, then starts a range
// half a second in and decodes a little more.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/media_reader.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

class TMemory : public media::TMediaByteStream {
 public:
  TMemory(const uint8_t* data, size_t size) : Data(data), Length(size) {}
  std::size_t Read(uint8_t* buffer, std::size_t count) override {
    const std::size_t n = Pos < Length ? std::min(count, Length - Pos) : 0;
    if (n) std::memcpy(buffer, Data + Pos, n);
    Pos += n;
    return n;
  }
  int64_t Seek(int64_t offset, TOrigin origin) override {
    const int64_t base = origin == TOrigin::Begin ? 0 : origin == TOrigin::Current ? static_cast<int64_t>(Pos)
                                                                                    : static_cast<int64_t>(Length);
    if (base + offset < 0) return -1;
    Pos = static_cast<std::size_t>(base + offset);
    return static_cast<int64_t>(Pos);
  }
  int64_t Size() override { return static_cast<int64_t>(Length); }

 private:
  const uint8_t* Data;
  std::size_t Length;
  std::size_t Pos = 0;
};

size_t Drain(media::TMediaReader& reader, int stream, int limit) {
  size_t total = 0;
  const uint8_t* data = nullptr;
  std::size_t size = 0;
  for (int i = 0; i < limit && reader.GetNextSample(stream, data, size); ++i) {
    if (size) total += static_cast<const volatile uint8_t*>(data)[0] + static_cast<const volatile uint8_t*>(data)[size - 1];
  }
  return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    av_log_set_level(AV_LOG_QUIET);
    return true;
  }();
  (void)quiet;
  TMemory stream(data, size);
  media::TMediaReader reader;
  if (!reader.OpenStream(stream)) return 0;
  (void)reader.Duration();
  (void)reader.Bitrate();
  (void)reader.Attribute("Author");
  (void)reader.Attribute("WM/Track");
  for (int output = 0; output < reader.OutputCount(); ++output) {
    if (!reader.OutputIsAudio(output)) continue;
    reader.SetDiscreteOutput(output, (size & 1) != 0);
    reader.SetSpeakerConfig(output, (size & 2) ? 6 : 0);
    const auto formats = reader.Formats(output);
    if (formats.empty()) continue;
    if (!reader.SetOutputFormat(output, formats[size % formats.size()])) continue;
    const int number = reader.StreamNumber(output);
    if (!reader.SetReadStreamSamples(number, false)) continue;
    Drain(reader, number, 200000);
    reader.SetRange(5000000, 0);
    Drain(reader, number, 50);
    break;
  }
  return 0;
}

// Opens the bytes as a WAV file from memory, asks for its format, reads it to
// the end, and seeks back into it and reads again.
#include <cstddef>
#include <cstdint>

#include "codecs/wav_in.h"
#include "fuzz/drain.h"
#include "pipeline/au_memory_stream.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

size_t Drain(TWaveIn& in, uint32_t request) { return DrainSource(in, request, 100000); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    av_log_set_level(AV_LOG_QUIET);
    return true;
  }();
  (void)quiet;
  TAuMemoryStream stream(data, size);
  TWaveIn in;
  in.SetStream(&stream);
  try {
    (void)in.Channels();
    (void)in.BitsPerSample();
    (void)in.SampleRate();
    (void)in.TotalSamples();
    (void)in.TotalTime();
    in.Init();
    Drain(in, size % 2 ? 16384 : 333);
    in.Seek(size % 1000);
    Drain(in, 4096);
    in.Flush();
    in.StartSample = size % 77;
    in.EndSample = size % 300;
    in.Init();
    Drain(in, 1000);
    in.Flush();
  } catch (const std::exception&) {
  }
  return 0;
}

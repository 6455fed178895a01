// Opens the bytes as an Ogg Vorbis file from memory (seekable or not, as
// the last byte says), asks for its format and comments, reads it to the
// end, and seeks back into it and reads again.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "codecs/vorbis_in.h"
#include "fuzz/drain.h"
#include "pipeline/au_memory_stream.h"

namespace {

size_t Drain(TVorbisIn& in, uint32_t request) { return DrainSource(in, request, 20000); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t control = size > 0 ? data[size - 1] : 0;
  TAuMemoryStream stream(data, size);
  TVorbisIn in;
  in.SetStream(&stream);
  in.Seekable = (control & 1) == 0;
  try {
    (void)in.Channels();
    (void)in.BitsPerSample();
    (void)in.SampleRate();
    (void)in.TotalSamples();
    (void)in.TotalTime();
    (void)in.Comments().Artist();
    if (control & 2) {
      in.StartSample = control * 17;
      in.EndSample = control * 97;
    }
    in.Init();
    Drain(in, control & 4 ? 16384 : 333);
    in.Seek(control * 131);
    Drain(in, 4096);
    in.Flush();
  } catch (const std::exception&) {
    in.Reset();
  }
  return 0;
}

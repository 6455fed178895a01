// The WAV path against the usual command-line tools on the same input, in one
// run: a 10-minute 16-bit stereo 44100 Hz file converted to 22050 Hz 8-bit
// mono (the default WAV settings) against sox doing the same conversion, and
// a plain PCM copy (reader straight into writer) against cp. The input is
// made once by sox in a temporary folder and removed at the end.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "codecs/wav_in.h"
#include "codecs/wav_out.h"
#include "converters/audio_converter.h"
#include "converters/fast_resampler.h"
#include "pipeline/main_thread_invoker.h"

namespace fs = std::filesystem;

namespace {

struct TBenchFiles {
  TBenchFiles() {
    Dir = fs::temp_directory_path() / ("quellmark-wav-bench-" + std::to_string(std::random_device{}()));
    fs::create_directories(Dir);
    Input = Dir / "input.wav";
    // Music-like content: two tones and some noise, 10 minutes.
    const std::string cmd = "sox -n -r 44100 -c 2 -b 16 '" + Input.string() +
                            "' synth 600 sine 440 sine 1500 whitenoise vol 0.3 >/dev/null 2>&1";
    Ok = std::system(cmd.c_str()) == 0 && fs::exists(Input);
  }
  ~TBenchFiles() {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  fs::path Dir, Input;
  bool Ok = false;
};

TBenchFiles& Files() {
  static TBenchFiles files;
  return files;
}

void RunSink(TAuOutput& sink) {
  bool done = false;
  sink.OnDone = [&done](TComponent*) { done = true; };
  sink.Run();
  while (!done) MainThreadInvoker::Instance().WaitAndRun(std::chrono::milliseconds(5));
}

void Shell(benchmark::State& state, const std::string& cmd) {
  if (std::system((cmd + " >/dev/null 2>&1").c_str()) != 0) state.SkipWithError(cmd.c_str());
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(fs::file_size(Files().Input)));
}

void BM_WavDefaultSettings(benchmark::State& state) {
  if (!Files().Ok) return state.SkipWithError("sox could not make the input");
  const fs::path out = Files().Dir / "ours-22050-8-mono.wav";
  for (auto _ : state) {
    TWaveIn in;
    in.SetFileName(Files().Input.string());
    TFastResampler rs;
    rs.SetInput(&in);
    rs.OutSampleRate = 22050;
    TAudioConverter conv;
    conv.SetInput(&rs);
    conv.OutBitsPerSample = 8;
    conv.OutChannels = 1;
    TWaveOut sink;
    sink.CreateNonMsHeaders = false;
    sink.SetInput(&conv);
    sink.SetFileName(out.string());
    RunSink(sink);
    if (!sink.ExceptionMessage.empty()) state.SkipWithError(sink.ExceptionMessage.c_str());
  }
  SetBytes(state);
}

void BM_SoxDefaultSettings(benchmark::State& state) {
  if (!Files().Ok) return state.SkipWithError("sox could not make the input");
  const fs::path out = Files().Dir / "sox-22050-8-mono.wav";
  for (auto _ : state)
    Shell(state, "sox '" + Files().Input.string() + "' -r 22050 -c 1 -b 8 '" + out.string() + "'");
  SetBytes(state);
}

void BM_WavPcmCopy(benchmark::State& state) {
  if (!Files().Ok) return state.SkipWithError("sox could not make the input");
  const fs::path out = Files().Dir / "ours-copy.wav";
  for (auto _ : state) {
    TWaveIn in;
    in.SetFileName(Files().Input.string());
    TWaveOut sink;
    sink.SetInput(&in);
    sink.SetFileName(out.string());
    RunSink(sink);
    if (!sink.ExceptionMessage.empty()) state.SkipWithError(sink.ExceptionMessage.c_str());
  }
  SetBytes(state);
}

void BM_CpCopy(benchmark::State& state) {
  if (!Files().Ok) return state.SkipWithError("sox could not make the input");
  const fs::path out = Files().Dir / "cp-copy.wav";
  for (auto _ : state) Shell(state, "cp '" + Files().Input.string() + "' '" + out.string() + "'");
  SetBytes(state);
}

}  // namespace

BENCHMARK(BM_WavDefaultSettings)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_SoxDefaultSettings)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_WavPcmCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_CpCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

BENCHMARK_MAIN();

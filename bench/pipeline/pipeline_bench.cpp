// The pipeline's own cost: 1 GiB of 16-bit stereo from a memory source,
// through a pass-through converter, into a sink that discards it, pulled by
// the sink's worker in the block sizes real sinks use. A plain memcpy of the
// same bytes is the yardstick.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "pipeline/au_converter.h"
#include "pipeline/au_output.h"
#include "pipeline/main_thread_invoker.h"

namespace {

constexpr int64_t kTotalBytes = int64_t(1) << 30;
constexpr uint32_t kSourceBlock = 16384;

// Hands out the same block of generated audio until kTotalBytes are out.
class TMemorySource : public TAuInput {
 public:
  TMemorySource() : block_(kSourceBlock) {
    for (std::size_t i = 0; i < block_.size(); ++i) block_[i] = static_cast<uint8_t>(i * 31);
  }
  int GetBitsPerSample() override { return 16; }
  int GetChannels() override { return 2; }
  int GetSampleRate() override { return 44100; }

 protected:
  void InitInternal() override {
    Busy = true;
    Position = 0;
    Size = kTotalBytes;
    left_ = kTotalBytes;
  }
  void FlushInternal() override { Busy = false; }
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override {
    Bytes = static_cast<uint32_t>(std::min<int64_t>({Bytes, kSourceBlock, left_}));
    left_ -= Bytes;
    Position += Bytes;
    Buffer = block_.data();
  }

 private:
  std::vector<uint8_t> block_;
  int64_t left_ = 0;
};

class TPassThrough : public TAuConverter {
 protected:
  void InitInternal() override {
    CheckInput();
    Busy = true;
    Position = 0;
    FInput->Init();
    Size = FInput->Size.load();
  }
  void FlushInternal() override {
    FInput->Flush();
    Busy = false;
  }
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override { FInput->GetData(Buffer, Bytes); }
};

class TDiscardSink : public TAuOutput {
 public:
  explicit TDiscardSink(uint32_t block) : block_(block) {}
  ~TDiscardSink() override { DestroyWorker(); }
  uint64_t checksum = 0;

 protected:
  void Prepare() override { Input()->Init(); }
  void Done() override { Input()->Flush(); }
  bool DoOutput(bool Abort) override {
    if (Abort) return false;
    if (!Active) return true;
    void* buffer = nullptr;
    uint32_t bytes = block_;
    Input()->GetData(buffer, bytes);
    if (bytes == 0) return false;
    checksum += static_cast<const uint8_t*>(buffer)[bytes - 1];  // touch the block
    return true;
  }

 private:
  uint32_t block_;
};

void BM_PipelineRun(benchmark::State& state) {
  const auto block = static_cast<uint32_t>(state.range(0));
  TMemorySource source;
  TPassThrough conv;
  conv.SetInput(&source);
  TDiscardSink sink(block);
  sink.SetInput(&conv);
  bool done = false;
  sink.OnDone = [&](TComponent*) { done = true; };
  auto& invoker = MainThreadInvoker::Instance();
  for (auto _ : state) {
    done = false;
    const auto start = std::chrono::steady_clock::now();
    sink.Run();
    while (!done) invoker.WaitAndRun(std::chrono::milliseconds(1));
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  benchmark::DoNotOptimize(sink.checksum);
  state.SetBytesProcessed(state.iterations() * kTotalBytes);
}
BENCHMARK(BM_PipelineRun)->Arg(4608)->Arg(16384)->Arg(65536)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Memcpy(benchmark::State& state) {
  const auto block = static_cast<std::size_t>(state.range(0));
  std::vector<uint8_t> src(block, 1), dst(block);
  for (auto _ : state) {
    for (int64_t moved = 0; moved < kTotalBytes; moved += static_cast<int64_t>(block)) {
      std::memcpy(dst.data(), src.data(), block);
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(state.iterations() * kTotalBytes);
}
BENCHMARK(BM_Memcpy)->Arg(4608)->Arg(16384)->Arg(65536)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

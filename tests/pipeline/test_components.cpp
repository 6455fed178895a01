#include "test_components.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "pipeline/au_exception.h"
#include "pipeline/main_thread_invoker.h"

namespace testing_pipeline {

TempDir::TempDir() {
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() / ("quellmark-test-" + std::to_string(rd()) + std::to_string(rd()));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

int16_t RampValue(int64_t frame, int channel, int channels) {
  return static_cast<int16_t>((frame * channels + channel) & 0x7FFF);
}

void WriteRampFile(const std::filesystem::path& file, int64_t frames, int channels) {
  TAuFileStream out(file, TAuFileStream::fmCreate);
  std::vector<int16_t> values(static_cast<std::size_t>(frames * channels));
  for (int64_t n = 0; n < frames; ++n)
    for (int c = 0; c < channels; ++c) values[static_cast<std::size_t>(n * channels + c)] = RampValue(n, c, channels);
  out.WriteBuffer(values.data(), values.size() * sizeof(int16_t));
}

// ---- TRawFileIn -------------------------------------------------------------

TRawFileIn::TRawFileIn(TComponent* AOwner, int Channels, int Rate)
    : TAuFileIn(AOwner), FFileChannels(Channels), FFileRate(Rate) {}

TRawFileIn::~TRawFileIn() { ReleaseSource(); }

bool TRawFileIn::OpenHeader() {
  ++OpenCalls;
  FBitsPerSample = 16;
  FChannels = FFileChannels;
  FSampleRate = FFileRate;
  Size = UnknownSize ? -1 : Stream->Size();
  return true;
}

void TRawFileIn::InitInternal() {
  if (Decoded.Capacity() != BlockBytes) Decoded.Allocate(BlockBytes);
  TAuFileIn::InitInternal();
}

void TRawFileIn::DecodeBlock() {
  const uint32_t want = BlockBytes - BlockBytes % FrameSize;
  Decoded.Filled(Stream->Read(Decoded.Data(), want));
}

bool TRawFileIn::SeekInternal(int64_t& SampleNum) {
  Decoded.Clear();
  return Stream->Seek(SampleNum * FrameSize, TSeekOrigin::soBeginning) >= 0;
}

// ---- TPassThrough -----------------------------------------------------------

void TPassThrough::InitInternal() {
  CheckInput();
  ++InitCalls;
  Busy = true;
  Position = 0;
  FInput->Init();
  Size = FInput->Size.load();
}

void TPassThrough::FlushInternal() {
  if (FInput) FInput->Flush();
  Busy = false;
}

void TPassThrough::GetDataInternal(void*& Buffer, uint32_t& Bytes) { FInput->GetData(Buffer, Bytes); }

// ---- TMemorySink ------------------------------------------------------------

void TMemorySink::Prepare() {
  ++PrepareCalls;
  errno = 0;
  NiceInPrepare = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
  if (HoldPrepare) {
    std::unique_lock lock(FHoldMutex);
    FPrepareHeld = true;
    FHoldCv.notify_all();
    while (HoldPrepare && !Thread->StopFlag) FHoldCv.wait_for(lock, std::chrono::milliseconds(5));
    FPrepareHeld = false;
  }
  if (FailPrepare) throw EAuException("prepare failed on purpose");
  Data.clear();
  Input()->Init();
}

bool TMemorySink::DoOutput(bool Abort) {
  if (Abort) {
    ++AbortCalls;
    return false;
  }
  if (!Active) return true;
  if (Hold) {
    std::unique_lock lock(FHoldMutex);
    FHeld = true;
    FHoldCv.notify_all();
    while (Hold && !Thread->StopFlag && !Thread->PauseRequested) FHoldCv.wait_for(lock, std::chrono::milliseconds(5));
    FHeld = false;
  }
  void* buffer = nullptr;
  uint32_t bytes = BlockBytes;
  Input()->GetData(buffer, bytes);
  if (bytes == 0) return false;
  const auto* p = static_cast<const uint8_t*>(buffer);
  Data.insert(Data.end(), p, p + bytes);
  ++BlocksWritten;
  return true;
}

void TMemorySink::Done() {
  ++DoneCalls;
  Input()->Flush();
  if (FailDone) throw EAuException("closing failed on purpose");
}

void TMemorySink::Release() {
  {
    std::lock_guard lock(FHoldMutex);
    Hold = false;
  }
  FHoldCv.notify_all();
}

void TMemorySink::ReleasePrepare() {
  {
    std::lock_guard lock(FHoldMutex);
    HoldPrepare = false;
  }
  FHoldCv.notify_all();
}

bool TMemorySink::WaitUntilPrepareHeld(std::chrono::milliseconds timeout) {
  std::unique_lock lock(FHoldMutex);
  return FHoldCv.wait_for(lock, timeout, [this] { return FPrepareHeld; });
}

bool TMemorySink::WaitUntilHeld(std::chrono::milliseconds timeout) {
  std::unique_lock lock(FHoldMutex);
  return FHoldCv.wait_for(lock, timeout, [this] { return FHeld; });
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto& invoker = MainThreadInvoker::Instance();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    invoker.WaitAndRun(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace testing_pipeline

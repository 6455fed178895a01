#include "tests/support/pipeline_parts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "pipeline/au_exception.h"

namespace qmtest {

TGeneratorInput::TGeneratorInput(int channels, int rate, int bits, int64_t frames)
    : FChannels(channels), FRate(rate), FBits(bits), Frames(frames) {
  AnnouncedSize = frames * channels * (bits / 8);
}

void TGeneratorInput::InitInternal() {
  Busy = true;
  Position = 0;
  Next = 0;
  Size = AnnouncedSize;
}

void TGeneratorInput::GetDataInternal(void*& buffer, uint32_t& bytes) {
  Hold.Pass(LetGo);
  const int frameBytes = FChannels * FBits / 8;
  if (FailAfterFrames >= 0 && Next >= FailAfterFrames) throw std::runtime_error("generator failed");
  const int64_t frames = std::min<int64_t>(bytes / frameBytes, Frames - Next);
  if (frames <= 0) {
    buffer = nullptr;
    bytes = 0;
    return;
  }
  Block.resize(static_cast<size_t>(frames * frameBytes));
  uint8_t* p = Block.data();
  for (int64_t f = 0; f < frames; ++f) {
    for (int c = 0; c < FChannels; ++c) {
      const auto s = static_cast<uint32_t>(Sample(Next + f, c));
      for (int b = 0; b < FBits / 8; ++b) *p++ = static_cast<uint8_t>(s >> (8 * b));
    }
  }
  Next += frames;
  Position += frames * frameBytes;
  buffer = Block.data();
  bytes = static_cast<uint32_t>(frames * frameBytes);
}

std::size_t TFaultyStream::Read(void* buffer, std::size_t count) {
  const int64_t at = Inner->Position();
  if (FailAt >= 0 && at + static_cast<int64_t>(count) > FailAt) {
    const std::size_t before = static_cast<std::size_t>(std::max<int64_t>(0, FailAt - at));
    const std::size_t got = Inner->Read(buffer, before);
    FLastError = std::strerror(EIO);
    return got;
  }
  const std::size_t got = Inner->Read(buffer, count);
  FLastError = Inner->LastError();
  return got;
}

std::size_t TFaultyStream::Write(const void* buffer, std::size_t count) {
  const std::size_t put = Inner->Write(buffer, count);
  FLastError = Inner->LastError();
  return put;
}

void TFaultyStream::Close() {
  Inner->Close();
  if (CloseErrno != 0) throw EAuException(std::strerror(CloseErrno));
}

std::unique_ptr<TFaultyStream> FaultyFile(const std::filesystem::path& file, int64_t failAt) {
  auto stream = std::make_unique<TFaultyStream>(std::make_unique<TAuFileStream>(file, TAuFileStream::fmOpenRead));
  stream->FailAt = failAt;
  return stream;
}

std::vector<uint8_t> ReadAll(TAuInput& input, uint32_t request) {
  std::vector<uint8_t> out;
  input.Init();
  for (int guard = 0; guard < 10'000'000; ++guard) {
    void* buffer = nullptr;
    uint32_t bytes = request;
    input.GetData(buffer, bytes);
    if (bytes == 0) break;
    const auto* p = static_cast<const uint8_t*>(buffer);
    out.insert(out.end(), p, p + bytes);
  }
  input.Flush();
  return out;
}

}  // namespace qmtest

#include "pipeline/decode_check.h"

#include <algorithm>

#include "platform/messages.h"

namespace {

constexpr uint32_t kCheckBlockBytes = 64 * 1024;

int64_t Frames(const TAuOutput::TInputRecord& r) {
  const int64_t frameBytes = static_cast<int64_t>(r.Channels) * (r.BitsPerSample / 8);
  return frameBytes > 0 ? r.Digest.Bytes() / frameBytes : 0;
}

}  // namespace

std::string CompareDecoded(const TAuOutput::TInputRecord& Written, const TDecodeCheck& Check,
                           const TDecodeTolerance& Tolerance) {
  const TAuOutput::TInputRecord& Decoded = Check.InputRecord();
  if (!Written.Ended) return kMsgCheckOutputEndedEarly;
  const int64_t written = Frames(Written);
  if (written > 0 && (Decoded.SampleRate <= 0 || Frames(Decoded) == 0)) return kMsgCheckOutputEmpty;
  if (Tolerance.Exact) {
    if (Decoded.Channels != Written.Channels || Decoded.BitsPerSample != Written.BitsPerSample ||
        Decoded.SampleRate != Written.SampleRate)
      return kMsgCheckFormatDiffers;
    const int64_t decoded = Frames(Decoded);
    if (decoded < written || decoded > written + Tolerance.Longer)
      return FormatMessage(kFmtCheckLengthDiffers, {static_cast<long long>(decoded), static_cast<long long>(written)});
    if (Check.HeadDigest().Bytes() != Written.Digest.Bytes() ||
        Check.HeadDigest().Value() != Written.Digest.Value() || !Check.TailIsSilent())
      return kMsgCheckSamplesDiffer;
    return {};
  }
  // A decoder may give another rate than was written (an encoder that
  // resamples): lengths are compared at the written rate.
  int64_t decoded = Frames(Decoded);
  if (Decoded.SampleRate != Written.SampleRate && Decoded.SampleRate > 0)
    decoded = static_cast<int64_t>(static_cast<double>(decoded) * Written.SampleRate / Decoded.SampleRate + 0.5);
  if (decoded < written - Tolerance.Shorter || decoded > written + Tolerance.Longer)
    return FormatMessage(kFmtCheckLengthDiffers, {static_cast<long long>(decoded), static_cast<long long>(written)});
  return {};
}

TDecodeCheck::~TDecodeCheck() { DestroyWorker(); }

void TDecodeCheck::Prepare() {
  FHead = TPcmDigest{};
  FTailSilent = true;
  FInput->Init();
  Block.resize(kCheckBlockBytes);
}

bool TDecodeCheck::DoOutput(bool Abort) {
  if (!Active) return true;
  if (Abort || InputEnded()) return false;
  const int64_t before = InputRecord().Digest.Bytes();
  const uint32_t got = ReadInput(Block.data(), static_cast<uint32_t>(Block.size()));
  uint32_t head = got;
  if (HeadBytes >= 0) head = static_cast<uint32_t>(std::clamp<int64_t>(HeadBytes - before, 0, got));
  FHead.Add(Block.data(), head);
  if (head < got) {
    const uint8_t silence = InputRecord().BitsPerSample == 8 ? 0x80 : 0x00;
    FTailSilent = FTailSilent && std::all_of(Block.begin() + head, Block.begin() + got,
                                             [silence](uint8_t b) { return b == silence; });
  }
  return !InputEnded();
}

void TDecodeCheck::Done() {
  Block = {};
  if (FInput) FInput->Flush();
}

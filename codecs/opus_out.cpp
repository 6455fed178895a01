#include "codecs/opus_out.h"

#include <algorithm>
#include <array>
#include <system_error>

#include "codecs/opus_library.h"
#include "pipeline/au_exception.h"
#include "pipeline/au_file_stream.h"
#include "pipeline/sample_routines.h"

namespace {

// For 3..8 channels: the WAV channel each stream channel takes, in the
// Vorbis order of the surround mapping (L, C, R, then the rear or side
// pairs, the LFE last).
constexpr std::array<std::array<int, 8>, 6> kWavChannelOf = {{
    {0, 2, 1},                    // L R C
    {0, 1, 2, 3},                 // quad: the same order
    {0, 2, 1, 3, 4},              // 5.0
    {0, 2, 1, 4, 5, 3},           // 5.1: L R C LFE BL BR
    {0, 2, 1, 5, 6, 4, 3},        // 6.1: L R C LFE BC SL SR
    {0, 2, 1, 6, 7, 4, 5, 3},     // 7.1: L R C LFE BL BR SL SR
}};

// Frames of interleaved samples into the stream's channel order, in place.
template <typename Sample>
void Reorder(Sample* Samples, std::size_t Frames, int Channels) {
  if (Channels < 3) return;
  const auto& wavChannel = kWavChannelOf[static_cast<std::size_t>(Channels - 3)];
  std::array<Sample, 8> frame{};
  const auto n = static_cast<std::size_t>(Channels);
  for (std::size_t f = 0; f < Frames; ++f, Samples += n) {
    std::copy(Samples, Samples + n, frame.begin());
    for (std::size_t c = 0; c < n; ++c) Samples[c] = frame[static_cast<std::size_t>(wavChannel[c])];
  }
}

}  // namespace

int TOpusOut::StreamChannel(int Channels, int Index) {
  if (Channels < 3 || Channels > MaxChannels) return Index;
  const auto& wavChannel = kWavChannelOf[static_cast<std::size_t>(Channels - 3)];
  for (int c = 0; c < Channels; ++c) {
    if (wavChannel[static_cast<std::size_t>(c)] == Index) return c;
  }
  return Index;
}

TOpusOut::TOpusOut(TComponent* AOwner) : TAuFileOut(AOwner) {}

TOpusOut::~TOpusOut() {
  // The worker may be inside Done: end it before this object's members go.
  DestroyWorker();
  ReleaseEncoder();
}

void TOpusOut::SetBitrate(int Kbps) { FBitrate = std::clamp(Kbps, MinBitrate, MaxBitrate); }

void TOpusOut::Prepare() {
  StreamError.clear();
  if (LoadOpusEncLibrary() == nullptr) throw EAuException(OpusEncLibraryLoadFailedMessage());
  if (FileName().empty()) throw EAuException(kMsgOutputFileNameNotAssigned);
  FInput->Init();
  InputChannels = FInput->Channels();
  InputBits = FInput->BitsPerSample();
  // Refused before the file is touched.
  if (InputChannels > MaxChannels) throw EAuException(kMsgOpusTooManyChannels);
  if (InputChannels < 1 || FInput->SampleRate() <= 0) throw EAuException(kMsgOpusUnsupportedFormat);
  if (InputBits != 8 && InputBits != 16 && InputBits != 24 && InputBits != 32)
    throw EAuException(FormatMessage(kFmtOpusUnsupportedWidth, {InputBits}));
  const std::size_t values = static_cast<std::size_t>(InputBlockFrames) * static_cast<std::size_t>(InputChannels);
  InputBlockBytes = static_cast<uint32_t>(values) * static_cast<uint32_t>(InputBits / 8);
  InputBlock.assign((InputBlockBytes + 3) / 4, 0);
  if (InputBits <= 16)
    ShortSamples.assign(values, 0);
  else
    FloatSamples.assign(values, 0.0f);

  Stream = std::make_unique<TAuFileStream>(TargetFileName(), TAuFileStream::fmCreate);
  CreateEncoder();
}

void TOpusOut::CreateEncoder() {
  const TOpusEncLibrary& ope = *LoadOpusEncLibrary();
  OggOpusComments* comments = ope.comments_create();
  if (comments == nullptr) throw std::bad_alloc();
  int error = OPE_OK;
  for (const auto& [name, value] : FComments.CommentFields()) {
    error = ope.comments_add(comments, name.c_str(), value.c_str());
    if (error != OPE_OK) break;
  }
  const OpusEncCallbacks callbacks = {WriteCallback, CloseCallback};
  // Family 0 carries one or two channels without a table; family 1 the
  // surround layouts.
  const int family = InputChannels <= 2 ? 0 : 1;
  if (error == OPE_OK)
    Encoder = ope.encoder_create_callbacks(&callbacks, this, comments, FInput->SampleRate(), InputChannels, family,
                                           &error);
  // The encoder keeps a copy of the comments.
  ope.comments_destroy(comments);
  if (Encoder == nullptr && error == OPE_OK) error = OPE_INTERNAL_ERROR;
  Check(error);
  Check(ope.encoder_ctl(Encoder, OPUS_SET_BITRATE(FBitrate * 1000)));
  Check(ope.encoder_ctl(Encoder, OPUS_SET_VBR(1)));
  Check(ope.encoder_ctl(Encoder, OPUS_SET_VBR_CONSTRAINT(0)));
  Check(ope.encoder_ctl(Encoder, OPUS_SET_COMPLEXITY(Complexity)));
  // The input's width tells the encoder how deep the noise floor already
  // is: no bits are spent below it.
  Check(ope.encoder_ctl(Encoder, OPUS_SET_LSB_DEPTH(std::clamp(InputBits, 8, 24))));
}

void TOpusOut::Check(int Error) const {
  if (!StreamError.empty()) throw EAuException(StreamError);
  if (Error != OPE_OK) throw EAuException(kMsgOpusEncoderError + std::string(LoadOpusEncLibrary()->strerror(Error)));
}

bool TOpusOut::EncodeStep() {
  const uint32_t frameBytes = static_cast<uint32_t>(InputChannels * (InputBits / 8));
  const uint32_t frames = ReadInput(InputBlock.data(), InputBlockBytes) / frameBytes;
  if (frames == 0) return false;
  const std::size_t values = static_cast<std::size_t>(frames) * static_cast<std::size_t>(InputChannels);
  const TOpusEncLibrary& ope = *LoadOpusEncLibrary();
  const auto* bytes = reinterpret_cast<const uint8_t*>(InputBlock.data());
  switch (InputBits) {
    case 8:
      for (std::size_t i = 0; i < values; ++i)
        ShortSamples[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[i] ^ 0x80) << 8);
      break;
    case 16:
      std::copy_n(reinterpret_cast<const int16_t*>(bytes), values, ShortSamples.begin());
      break;
    case 24:
      Int24ToSingle(bytes, FloatSamples.data(), values);
      break;
    default:
      Int32ToSingle(InputBlock.data(), FloatSamples.data(), values);
      break;
  }
  if (InputBits <= 16) {
    Reorder(ShortSamples.data(), frames, InputChannels);
    Check(ope.encoder_write(Encoder, ShortSamples.data(), static_cast<int>(frames)));
  } else {
    Reorder(FloatSamples.data(), frames, InputChannels);
    Check(ope.encoder_write_float(Encoder, FloatSamples.data(), static_cast<int>(frames)));
  }
  return !InputEnded();
}

void TOpusOut::Finish() {
  if (Encoder == nullptr || !ExceptionMessage.empty()) return;
  Check(LoadOpusEncLibrary()->encoder_drain(Encoder));
}

void TOpusOut::ReleaseEncoder() {
  if (Encoder == nullptr) return;
  // An encoder that was not drained writes nothing more: its last pages are
  // dropped with it.
  LoadOpusEncLibrary()->encoder_destroy(Encoder);
  Encoder = nullptr;
}

void TOpusOut::AfterClose() {
  ReleaseEncoder();
  FComments.Clear();
  InputBlock = {};
  ShortSamples = {};
  FloatSamples = {};
}

// The callbacks run inside the library: nothing may be thrown through it.

int TOpusOut::WriteCallback(void* User, const unsigned char* Data, int32_t Length) {
  auto* self = static_cast<TOpusOut*>(User);
  if (!self->Stream || !self->StreamError.empty()) return 1;
  try {
    self->Stream->WriteBuffer(Data, static_cast<std::size_t>(Length));
    return 0;
  } catch (const std::exception& e) {
    self->StreamError = e.what();
    return 1;
  }
}

// The stream is the base's to close.
int TOpusOut::CloseCallback(void*) { return 0; }

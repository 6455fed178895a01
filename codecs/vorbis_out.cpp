#include "codecs/vorbis_out.h"

#include <array>
#include <filesystem>
#include <system_error>

#include "pipeline/au_exception.h"
#include "pipeline/au_file_stream.h"

int VorbisBitrateValue(TVorbisBitRate Value) {
  static constexpr std::array<int, 18> bps = {-1,     24000,  32000,  45000,  48000,  56000,
                                              64000,  80000,  96000,  112000, 128000, 144000,
                                              160000, 192000, 224000, 256000, 320000, 499000};
  const auto index = static_cast<std::size_t>(Value);
  return index < bps.size() ? bps[index] : -1;
}

std::string VorbisUnsupportedWidthMessage(int Bits) {
  return "Cannot encode " + std::to_string(Bits) + "-bit samples into Ogg Vorbis.";
}

std::string VorbisTooManyChannelsMessage() {
  return "Cannot encode more than " + std::to_string(kVorbisMaxChannels) + " channels into Ogg Vorbis.";
}

TVorbisOut::TVorbisOut(TComponent* AOwner) : TAuFileOut(AOwner) {}

TVorbisOut::~TVorbisOut() {
  // The worker may be inside Done: end it before this object's members go.
  DestroyWorker();
  ClearEncoder();
}

void TVorbisOut::SetDesiredNominalBitrate(TVorbisBitRate Value) {
  FNominal = Value;
  if (Value < FMinimum) FMinimum = Value;
  if (FMaximum < FNominal) FMaximum = FNominal;
  if (FNominal == TVorbisBitRate::brAutoSelect) FMaximum = TVorbisBitRate::brAutoSelect;
}

void TVorbisOut::SetDesiredMaximumBitrate(TVorbisBitRate Value) {
  if (FNominal == TVorbisBitRate::brAutoSelect) return;
  if (Value == TVorbisBitRate::brAutoSelect || Value >= FNominal) FMaximum = Value;
}

void TVorbisOut::SetMinimumBitrate(TVorbisBitRate Value) {
  if (Value <= FNominal) FMinimum = Value;
}

void TVorbisOut::SetFileMode(TFileOutputMode Value) { FFileMode = Value; }

void TVorbisOut::Prepare() {
  TargetOpened = false;
  OriginalSize = -1;
  EndOfOggStream = false;
  RequireVorbisLibraries();
  if (FileName().empty()) throw EAuException(kMsgVorbisFileNameNotAssigned);
  FInput->Init();
  InputChannels = FInput->Channels();
  InputBits = FInput->BitsPerSample();
  // Refused before the file is touched.
  if (InputChannels > kVorbisMaxChannels) throw EAuException(VorbisTooManyChannelsMessage());
  if (InputChannels < 1 || FInput->SampleRate() <= 0) throw EAuException(kMsgVorbisUnsupportedFormat);
  if (InputBits != 8 && InputBits != 16 && InputBits != 24 && InputBits != 32)
    throw EAuException(VorbisUnsupportedWidthMessage(InputBits));
  const uint32_t frameSize = static_cast<uint32_t>(InputChannels * (InputBits / 8));
  InputBlockBytes = InputBlockFrames * frameSize;
  InputBlock.assign(InputBlockBytes, 0);
  OpenTarget();
  InitEncoder();
}

void TVorbisOut::OpenTarget() {
  std::error_code ec;
  if (FFileMode != TFileOutputMode::foRewrite && std::filesystem::exists(TargetFileName(), ec)) {
    Stream = std::make_unique<TAuFileStream>(TargetFileName(), ShareMode | TAuFileStream::fmOpenReadWrite);
    // The new logical stream follows whatever the file already holds.
    OriginalSize = Stream->Seek(0, TSeekOrigin::soEnd);
  } else {
    Stream = std::make_unique<TAuFileStream>(TargetFileName(), TAuFileStream::fmCreate);
    OriginalSize = -1;
  }
  TargetOpened = true;
}

void TVorbisOut::InitEncoder() {
  const TVorbisLibrary& vorbis = VorbisLibrary();
  const TVorbisEncLibrary& enc = VorbisEncLibrary();
  const TOggLibrary& ogg = OggLibrary();
  const int rate = FInput->SampleRate();

  vorbis.info_init(&VorbisInfo);
  InfoReady = true;
  if (FNominal != TVorbisBitRate::brAutoSelect) {
    const long nominal = VorbisBitrateValue(FNominal);
    const long maximum = VorbisBitrateValue(FMaximum);
    long minimum = VorbisBitrateValue(FMinimum);
    if (minimum < 0) minimum = nominal;
    if (enc.encode_init(&VorbisInfo, InputChannels, rate, maximum, nominal, minimum) != 0)
      throw EAuException(kMsgVorbisBitrateSetupFailed);
  } else {
    // A refused setup leaves the records unusable: the analysis would run on
    // an encoder that was never set up.
    if (enc.encode_setup_vbr(&VorbisInfo, InputChannels, rate, Compression) != 0 ||
        enc.encode_setup_init(&VorbisInfo) != 0)
      throw EAuException(kMsgVorbisQualitySetupFailed);
  }

  vorbis.comment_init(&VorbisComment);
  CommentReady = true;
  for (const auto& [name, value] : FComments.CommentFields())
    vorbis.comment_add_tag(&VorbisComment, name.c_str(), value.c_str());

  if (vorbis.analysis_init(&DspState, &VorbisInfo) != 0) throw EAuException(kMsgVorbisQualitySetupFailed);
  DspReady = true;
  vorbis.block_init(&DspState, &VorbisBlock);
  BlockReady = true;
  ogg.stream_init(&OggStream, Serial);
  StreamReady = true;

  vorbis.analysis_headerout(&DspState, &VorbisComment, &Header, &HeaderComment, &HeaderCode);
  ogg.stream_packetin(&OggStream, &Header);
  ogg.stream_packetin(&OggStream, &HeaderComment);
  ogg.stream_packetin(&OggStream, &HeaderCode);
  // The headers stand on pages of their own, before any audio.
  while (ogg.stream_flush(&OggStream, &OggPage) != 0) WritePage();
}

void TVorbisOut::WritePage() {
  Stream->WriteBuffer(OggPage.header, static_cast<std::size_t>(OggPage.header_len));
  Stream->WriteBuffer(OggPage.body, static_cast<std::size_t>(OggPage.body_len));
}

bool TVorbisOut::EncodeStep() {
  if (EndOfOggStream) return false;
  uint32_t bytes = ReadInput(InputBlock.data(), InputBlockBytes);
  bytes -= bytes % static_cast<uint32_t>(InputChannels * (InputBits / 8));
  if (bytes > 0) Analyse(bytes);
  // No more input: the encoder finishes the stream.
  if (InputEnded()) VorbisLibrary().analysis_wrote(&DspState, 0);
  WritePages();
  return !InputEnded() && !EndOfOggStream;
}

void TVorbisOut::Analyse(uint32_t Bytes) {
  const auto channels = static_cast<std::size_t>(InputChannels);
  const std::size_t width = static_cast<std::size_t>(InputBits / 8);
  const std::size_t frames = Bytes / (channels * width);
  float** buffers = VorbisLibrary().analysis_buffer(&DspState, static_cast<int>(frames));
  const uint8_t* in = InputBlock.data();
  // Every width by what it is, each to the same full scale of 1.
  switch (InputBits) {
    case 8:
      for (std::size_t f = 0; f < frames; ++f)
        for (std::size_t c = 0; c < channels; ++c, ++in) buffers[c][f] = (static_cast<int>(*in) - 128) / 128.0f;
      break;
    case 16:
      if (channels == 2) {
        // The common case, with both channels' pointers held in registers
        // rather than read again after every stored sample.
        float* left = buffers[0];
        float* right = buffers[1];
        for (std::size_t f = 0; f < frames; ++f, in += 4) {
          left[f] = static_cast<int16_t>(in[0] | (in[1] << 8)) / 32768.0f;
          right[f] = static_cast<int16_t>(in[2] | (in[3] << 8)) / 32768.0f;
        }
        break;
      }
      for (std::size_t f = 0; f < frames; ++f)
        for (std::size_t c = 0; c < channels; ++c, in += 2)
          buffers[c][f] = static_cast<int16_t>(in[0] | (in[1] << 8)) / 32768.0f;
      break;
    case 24:
      for (std::size_t f = 0; f < frames; ++f)
        for (std::size_t c = 0; c < channels; ++c, in += 3) {
          const auto v = static_cast<int32_t>((static_cast<uint32_t>(in[0]) << 8) | (static_cast<uint32_t>(in[1]) << 16) |
                                              (static_cast<uint32_t>(in[2]) << 24));
          buffers[c][f] = static_cast<float>(v >> 8) / 8388608.0f;
        }
      break;
    default:
      for (std::size_t f = 0; f < frames; ++f)
        for (std::size_t c = 0; c < channels; ++c, in += 4) {
          const auto v = static_cast<int32_t>(static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                                              (static_cast<uint32_t>(in[2]) << 16) |
                                              (static_cast<uint32_t>(in[3]) << 24));
          buffers[c][f] = static_cast<float>(static_cast<double>(v) / 2147483648.0);
        }
      break;
  }
  VorbisLibrary().analysis_wrote(&DspState, static_cast<int>(frames));
}

void TVorbisOut::WritePages() {
  const TVorbisLibrary& vorbis = VorbisLibrary();
  const TOggLibrary& ogg = OggLibrary();
  while (vorbis.analysis_blockout(&DspState, &VorbisBlock) == 1) {
    vorbis.analysis(&VorbisBlock, nullptr);
    vorbis.bitrate_addblock(&VorbisBlock);
    while (vorbis.bitrate_flushpacket(&DspState, &OggPacket) != 0) {
      ogg.stream_packetin(&OggStream, &OggPacket);
      while (!EndOfOggStream && ogg.stream_pageout(&OggStream, &OggPage) != 0) {
        WritePage();
        if (ogg.page_eos(&OggPage) != 0) EndOfOggStream = true;
      }
    }
  }
}

void TVorbisOut::ClearEncoder() {
  if (StreamReady) OggLibrary().stream_clear(&OggStream);
  if (BlockReady) VorbisLibrary().block_clear(&VorbisBlock);
  if (DspReady) VorbisLibrary().dsp_clear(&DspState);
  if (CommentReady) VorbisLibrary().comment_clear(&VorbisComment);
  if (InfoReady) VorbisLibrary().info_clear(&VorbisInfo);
  StreamReady = BlockReady = DspReady = CommentReady = InfoReady = false;
}

void TVorbisOut::DiscardTarget() {
  // A new file is removed by the base; a file appended to (written in
  // place) goes back to what it held.
  std::error_code ec;
  if (OriginalSize < 0 || !std::filesystem::is_regular_file(TargetFileName(), ec)) return;
  std::filesystem::resize_file(TargetFileName(), static_cast<std::uintmax_t>(OriginalSize), ec);
}

void TVorbisOut::AfterClose() {
  if (TargetOpened && !ExceptionMessage.empty()) DiscardTarget();
  TargetOpened = false;
  FComments.Clear();
  ClearEncoder();
  InputBlock = {};
}

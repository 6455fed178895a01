#include "codecs/mp3_out.h"

#include <array>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "codecs/lame_library.h"
#include "pipeline/au_exception.h"
#include "pipeline/au_file_stream.h"

int MP3BitRateKbps(TMP3BitRate Value) {
  static constexpr std::array<int, 16> kbps = {0,   32,  40,  48,  56,  64,  80,  96,
                                               112, 128, 144, 160, 192, 224, 256, 320};
  const auto index = static_cast<std::size_t>(Value);
  return index < kbps.size() ? kbps[index] : 0;
}

namespace {

constexpr std::size_t kTitleOffset = 3;
constexpr std::size_t kArtistOffset = 33;
constexpr std::size_t kAlbumOffset = 63;
constexpr std::size_t kYearOffset = 93;
constexpr std::size_t kCommentOffset = 97;
constexpr std::size_t kTrackOffset = 126;
constexpr std::size_t kGenreOffset = 127;
constexpr std::size_t kFieldLength = 30;
constexpr std::size_t kTrackCommentLength = 28;
// ID3v1's "no genre".
constexpr uint8_t kNoGenre = 255;

void PutText(std::array<uint8_t, kId3v1BlockSize>& block, std::size_t offset, std::size_t length,
             const std::string& text) {
  std::memcpy(block.data() + offset, text.data(), std::min(length, text.size()));
}

bool EqualIgnoringAsciiCase(const std::string& a, const char* b) {
  const std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

uint8_t GenreByte(const TId3v1Tags& tags) {
  if (tags.Empty()) return kNoGenre;
  const TagValue value = tags.GetValue("genre");
  if (value.IsNull()) return kNoGenre;
  if (value.Kind() != TagValue::TKind::Integer) {
    // A genre given as text: its number, or its name in the table.
    const std::string text = tags.GetString("genre");
    for (int id = 0; id < kId3v1GenreCount; ++id) {
      if (EqualIgnoringAsciiCase(text, kId3v1Genres[static_cast<std::size_t>(id)])) return static_cast<uint8_t>(id);
    }
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return kNoGenre;
  }
  const int64_t id = tags.GetInteger("genre");
  return id >= 0 && id < kNoGenre ? static_cast<uint8_t>(id) : kNoGenre;
}

// ID3v1.1: the comment takes 28 bytes, then a zero and the track number
// when there is one; otherwise all 30.
std::array<uint8_t, kId3v1BlockSize> MakeId3v1Block(const TId3v1Tags& tags) {
  std::array<uint8_t, kId3v1BlockSize> block{};
  std::memcpy(block.data(), "TAG", 3);
  PutText(block, kTitleOffset, kFieldLength, tags.Title());
  PutText(block, kArtistOffset, kFieldLength, tags.Artist());
  PutText(block, kAlbumOffset, kFieldLength, tags.Album());
  const int64_t year = tags.GetInteger("year");
  if (year >= 1000 && year <= 9999) PutText(block, kYearOffset, 4, std::to_string(year));
  const int64_t track = tags.GetInteger("track");
  if (track >= 1 && track <= 255) {
    PutText(block, kCommentOffset, kTrackCommentLength, tags.Comment());
    block[kTrackOffset] = static_cast<uint8_t>(track);
  } else {
    PutText(block, kCommentOffset, kFieldLength, tags.Comment());
  }
  block[kGenreOffset] = GenreByte(tags);
  return block;
}

}  // namespace

TMP3Out::TMP3Out(TComponent* AOwner) : TAuTaggedFileOut(AOwner) {
  // A library that is there is bound before the first run; one that is
  // missing is looked for again by every Prepare.
  LoadLameLibrary();
}

TMP3Out::~TMP3Out() {
  // The worker may be inside Done: end it before this object's members go.
  DestroyWorker();
  if (EncoderStream != nullptr) beCloseStream(EncoderStream);
}

void TMP3Out::FillEncoderConfig(int SampleRate, int Channels) {
  using namespace be_config;
  TBeConfig& c = FEncoderConfig;
  c.Clear();
  c.Set(dwConfig, kBeConfigLame);
  c.Set(dwStructVersion, kBeStructVersion);
  c.Set(dwStructSize, static_cast<int32_t>(kBeConfigSize));
  c.Set(dwSampleRate, SampleRate);
  c.Set(dwReSampleRate, 0);
  c.Set(nMode, Channels == 1 ? kBeModeMono : static_cast<int32_t>(Mode));
  c.Set(dwBitrate, MP3BitRateKbps(BitRate));
  c.Set(dwMaxBitrate, MP3BitRateKbps(MaximumBitrate));
  c.Set(bPrivate, 0);
  c.Set(bCRC, CRC);
  c.Set(bCopyright, Copyright);
  c.Set(bOriginal, Original);
  c.Set(bWriteVBRHeader, EnableVBR);
  c.Set(bEnableVBR, EnableVBR);
  c.Set(nVBRQuality, EnableVBR != 0 ? static_cast<int32_t>(VBRQuality) : 0);
  c.Set(dwVbrAbr_bps, MP3BitRateKbps(AverageBitrate));
  c.Set(nVbrMethod, AverageBitrate != TMP3BitRate::mbrAuto ? kBeVbrMethodAbr : kBeVbrMethodNew);
  c.Set(bNoRes, EnableBitReservoir ? 0 : -1);
  c.Set(bStrictIso, StrinctISO ? -1 : 0);
}

void TMP3Out::Prepare() {
  if (LoadLameLibrary() == nullptr) throw EAuException(LameLibraryLoadFailedMessage());
  if (FileName().empty()) throw EAuException(kMsgOutputFileNameNotAssigned);
  FInput->Init();
  InputChannels = FInput->Channels();
  InputBits = FInput->BitsPerSample();
  // Refused before the file is touched: MPEG audio has no more than two
  // channels, and the widths are the ones EncodeChunk converts.
  if (InputChannels > 2) throw EAuException(kMsgMp3TooManyChannels);
  if (InputChannels < 1) throw EAuException(kMsgMp3UnsupportedFormat);
  if (InputBits != 8 && InputBits != 16 && InputBits != 24 && InputBits != 32)
    throw EAuException(FormatMessage(kFmtMp3UnsupportedWidth, {InputBits}));
  Stream = std::make_unique<TAuFileStream>(TargetFileName(), TAuFileStream::fmCreate);

  FillEncoderConfig(FInput->SampleRate(), InputChannels);
  uint32_t chunkSamples = 0;
  const BE_ERR result = beInitStream(FEncoderConfig.Data(), &chunkSamples, &MP3BufferSize, &EncoderStream);
  if (result != kBeErrSuccessful) throw EAuException(kMsgLameError + std::to_string(result));

  EncoderChannels = FEncoderConfig.Get(be_config::nMode) == kBeModeMono ? 1 : 2;
  const uint32_t chunkFrames = chunkSamples / static_cast<uint32_t>(EncoderChannels);
  // One chunk of frames in the input's width: every step but the last
  // hands the encoder the same amount.
  PCMBufferSize = chunkFrames * static_cast<uint32_t>(InputChannels * (InputBits / 8));
  PCMBuffer.assign((PCMBufferSize + 1) / 2, 0);
  MP3Buffer.assign(MP3BufferSize, 0);
  if (InputBits == 16 && InputChannels == EncoderChannels)
    WideSamples.clear();
  else
    WideSamples.assign(static_cast<std::size_t>(chunkFrames) * static_cast<std::size_t>(EncoderChannels), 0);
}

bool TMP3Out::EncodeStep() {
  uint32_t bytes = ReadInput(PCMBuffer.data(), PCMBufferSize);
  bytes -= bytes % static_cast<uint32_t>(InputChannels * (InputBits / 8));
  if (bytes == 0) return false;
  EncodeChunk(bytes);
  return !InputEnded();
}

void TMP3Out::WriteMp3(uint32_t Bytes) {
  if (Bytes > MP3Buffer.size()) throw EAuException(kMsgLameError + std::to_string(kBeErrBufferTooSmall));
  if (Bytes > 0) Stream->WriteBuffer(MP3Buffer.data(), Bytes);
}

void TMP3Out::EncodeChunk(uint32_t Bytes) {
  const uint32_t frames = Bytes / static_cast<uint32_t>(InputChannels * (InputBits / 8));
  uint32_t produced = 0;
  BE_ERR result;
  if (WideSamples.empty()) {
    result = beEncodeChunk(EncoderStream, frames * static_cast<uint32_t>(InputChannels), PCMBuffer.data(),
                           MP3Buffer.data(), &produced);
  } else {
    const auto* in = reinterpret_cast<const uint8_t*>(PCMBuffer.data());
    const std::size_t values = static_cast<std::size_t>(frames) * static_cast<std::size_t>(InputChannels);
    int32_t* out = WideSamples.data();
    // Left-justified in 32 bits, so every width has the same full scale.
    auto sample = [&](std::size_t i) -> int32_t {
      switch (InputBits) {
        case 8: return static_cast<int32_t>(static_cast<uint32_t>(in[i] ^ 0x80) << 24);
        case 16: return static_cast<int32_t>(static_cast<uint32_t>(in[2 * i] | (in[2 * i + 1] << 8)) << 16);
        case 24:
          return static_cast<int32_t>((static_cast<uint32_t>(in[3 * i]) << 8) |
                                      (static_cast<uint32_t>(in[3 * i + 1]) << 16) |
                                      (static_cast<uint32_t>(in[3 * i + 2]) << 24));
        default:
          return static_cast<int32_t>(static_cast<uint32_t>(in[4 * i]) | (static_cast<uint32_t>(in[4 * i + 1]) << 8) |
                                      (static_cast<uint32_t>(in[4 * i + 2]) << 16) |
                                      (static_cast<uint32_t>(in[4 * i + 3]) << 24));
      }
    };
    if (InputChannels == EncoderChannels) {
      for (std::size_t i = 0; i < values; ++i) out[i] = sample(i);
    } else {
      // Two channels into a mono stream: their mean.
      for (std::size_t f = 0; f < frames; ++f)
        out[f] = static_cast<int32_t>((static_cast<int64_t>(sample(2 * f)) + sample(2 * f + 1)) / 2);
    }
    result = beEncodeChunkInt32(EncoderStream, frames * static_cast<uint32_t>(EncoderChannels), out,
                                MP3Buffer.data(), &produced);
  }
  if (result != kBeErrSuccessful) throw EAuException(kMsgLameError + std::to_string(result));
  WriteMp3(produced);
}

void TMP3Out::Finish() {
  // A run that failed (here or before) must not leave a file that passes
  // for a finished MP3: no tag, no header, and the file goes.
  if (EncoderStream == nullptr || !Stream || !ExceptionMessage.empty()) return;
  uint32_t produced = 0;
  const BE_ERR result = beDeinitStream(EncoderStream, MP3Buffer.data(), &produced);
  if (result != kBeErrSuccessful) throw EAuException(kMsgLameError + std::to_string(result));
  WriteMp3(produced);
  const auto block = MakeId3v1Block(FId3v1Tags);
  Stream->WriteBuffer(block.data(), block.size());
}

void TMP3Out::AfterClose() {
  auto failed = [this] { return !ExceptionMessage.empty(); };
  if (EncoderStream != nullptr) {
    beCloseStream(EncoderStream);
    EncoderStream = nullptr;
    if (FEncoderConfig.Get(be_config::bEnableVBR) != 0 && !FileName().empty() && !failed()) {
      const BE_ERR result = beWriteVBRHeader(TargetFileName().c_str());
      if (result != kBeErrSuccessful) ReportFailure(kMsgLameError + std::to_string(result));
    }
  }
  MP3Buffer = {};
  PCMBuffer = {};
  WideSamples = {};
}

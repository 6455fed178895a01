#include "codecs/flac_out.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "codecs/flac_library.h"
#include "pipeline/au_exception.h"
#include "pipeline/au_file_stream.h"

namespace {

// The largest rate the streamable subset of the format allows; above it the
// encoder must be told the stream is not of the subset.
constexpr int kSubsetMaxSampleRate = 655350;
// The sample number of a seek point that stands for none (the library's own
// constant is a variable of the library, not bound here).
constexpr FLAC__uint64 kSeekPointPlaceholder = ~FLAC__uint64{0};

}  // namespace

TFLACOut::TFLACOut(TComponent* AOwner) : TAuFileOut(AOwner) {}

TFLACOut::~TFLACOut() {
  // The worker may be inside Done: end it before this object's members go.
  DestroyWorker();
  ReleaseEncoder();
}

void TFLACOut::SetCompressionLevel(int Value) {
  FCompressionLevel = std::clamp(Value, MinCompressionLevel, MaxCompressionLevel);
}

void TFLACOut::Prepare() {
  StreamError.clear();
  if (LoadFlacLibrary() == nullptr) throw EAuException(FlacLibraryLoadFailedMessage());
  if (FileName().empty()) throw EAuException(kMsgOutputFileNameNotAssigned);
  FInput->Init();
  InputChannels = FInput->Channels();
  InputBits = FInput->BitsPerSample();
  // Refused before the file is touched.
  if (InputChannels > 8) throw EAuException(kMsgFlacTooManyChannels);
  if (InputChannels < 1 || FInput->SampleRate() <= 0 || static_cast<unsigned>(FInput->SampleRate()) > FLAC__MAX_SAMPLE_RATE)
    throw EAuException(kMsgFlacUnsupportedFormat);
  if (InputBits != 8 && InputBits != 16 && InputBits != 24 && InputBits != 32)
    throw EAuException(FormatMessage(kFmtFlacUnsupportedWidth, {InputBits}));
  const uint32_t frameBytes = static_cast<uint32_t>(InputChannels * (InputBits / 8));
  InputBlockBytes = InputBlockFrames * frameBytes;
  InputBlock.assign(InputBlockBytes, 0);
  Samples.assign(static_cast<std::size_t>(InputBlockFrames) * static_cast<std::size_t>(InputChannels), 0);
  const int64_t size = FInput->Size;
  const uint64_t totalFrames = size > 0 ? static_cast<uint64_t>(size) / frameBytes : 0;

  Stream = std::make_unique<TAuFileStream>(TargetFileName(), TAuFileStream::fmCreate);
  CreateMetadata(totalFrames);
  InitEncoder(totalFrames);
}

void TFLACOut::CreateMetadata(uint64_t TotalFrames) {
  const TFlacLibrary& flac = *LoadFlacLibrary();
  auto add = [&](FLAC__MetadataType type) {
    FLAC__StreamMetadata* block = flac.object_new(type);
    if (block == nullptr) throw std::bad_alloc();
    Metadata.push_back(block);
    return block;
  };
  const auto rate = static_cast<uint64_t>(FInput->SampleRate());
  // Seek points need the length; a source that cannot tell it gets none
  // rather than points that would name samples the stream never reaches.
  if (TotalFrames > 0) {
    FLAC__StreamMetadata* table = add(FLAC__METADATA_TYPE_SEEKTABLE);
    if (!flac.seektable_spaced_points(table, static_cast<uint32_t>(rate * SeekPointSeconds), TotalFrames) ||
        !flac.seektable_sort(table, true))
      throw std::bad_alloc();
  }
  FLAC__StreamMetadata* comments = add(FLAC__METADATA_TYPE_VORBIS_COMMENT);
  for (const auto& [name, value] : FComments.CommentFields()) {
    FLAC__StreamMetadata_VorbisComment_Entry entry{};
    // Names with '=' or outside printable ASCII are refused by the library:
    // such a field is left out rather than failing the file.
    if (!flac.comment_entry(&entry, name.c_str(), value.c_str())) continue;
    if (!flac.append_comment(comments, entry, false)) {
      std::free(entry.entry);
      throw std::bad_alloc();
    }
  }
  FLAC__StreamMetadata* padding = add(FLAC__METADATA_TYPE_PADDING);
  padding->length = TotalFrames > rate * LongInputSeconds ? LongInputPaddingBytes : PaddingBytes;
}

void TFLACOut::InitEncoder(uint64_t TotalFrames) {
  const TFlacLibrary& flac = *LoadFlacLibrary();
  Encoder = flac.encoder_new();
  if (Encoder == nullptr) throw std::bad_alloc();
  const int rate = FInput->SampleRate();
  flac.set_channels(Encoder, static_cast<uint32_t>(InputChannels));
  flac.set_bits_per_sample(Encoder, static_cast<uint32_t>(InputBits));
  flac.set_sample_rate(Encoder, static_cast<uint32_t>(rate));
  if (rate > kSubsetMaxSampleRate) flac.set_streamable_subset(Encoder, false);
  // Set even at the default: libFLAC before 1.4 did not start at level 5.
  flac.set_compression_level(Encoder, static_cast<uint32_t>(FCompressionLevel));
  if (TotalFrames > 0) flac.set_total_samples_estimate(Encoder, TotalFrames);
  flac.set_metadata(Encoder, Metadata.data(), static_cast<uint32_t>(Metadata.size()));
  // The header is written here, through the callbacks.
  const FLAC__StreamEncoderInitStatus status =
      flac.init_stream(Encoder, WriteCallback, SeekCallback, TellCallback, nullptr, this);
  if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    if (status == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR) RaiseEncoderError();
    throw EAuException(kMsgFlacEncoderError + std::string(flac.init_status_string[status]));
  }
}

bool TFLACOut::EncodeStep() {
  const uint32_t frameBytes = static_cast<uint32_t>(InputChannels * (InputBits / 8));
  const uint32_t frames = ReadInput(InputBlock.data(), InputBlockBytes) / frameBytes;
  if (frames == 0) return false;
  const std::size_t values = static_cast<std::size_t>(frames) * static_cast<std::size_t>(InputChannels);
  const uint8_t* in = InputBlock.data();
  FLAC__int32* out = Samples.data();
  // Right-justified at the input's own width, as the stream declares it.
  switch (InputBits) {
    case 8:
      for (std::size_t i = 0; i < values; ++i) out[i] = static_cast<FLAC__int32>(in[i]) - 128;
      break;
    case 16:
      for (std::size_t i = 0; i < values; ++i, in += 2) out[i] = static_cast<int16_t>(in[0] | (in[1] << 8));
      break;
    case 24:
      for (std::size_t i = 0; i < values; ++i, in += 3)
        out[i] = static_cast<FLAC__int32>((static_cast<uint32_t>(in[0]) << 8) | (static_cast<uint32_t>(in[1]) << 16) |
                                          (static_cast<uint32_t>(in[2]) << 24)) >>
                 8;
      break;
    default:
      for (std::size_t i = 0; i < values; ++i, in += 4)
        out[i] = static_cast<FLAC__int32>(static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                                          (static_cast<uint32_t>(in[2]) << 16) |
                                          (static_cast<uint32_t>(in[3]) << 24));
      break;
  }
  if (!LoadFlacLibrary()->process_interleaved(Encoder, Samples.data(), frames)) RaiseEncoderError();
  return !InputEnded();
}

void TFLACOut::Finish() {
  if (Encoder == nullptr || !ExceptionMessage.empty()) return;
  if (!LoadFlacLibrary()->finish(Encoder)) RaiseEncoderError();
  MarkUnreachedSeekPoints();
}

void TFLACOut::MarkUnreachedSeekPoints() {
  if (Metadata.empty() || Metadata.front()->type != FLAC__METADATA_TYPE_SEEKTABLE) return;
  // The encoder filled the points it reached in this very object. One it
  // never reached (the source's length was an estimate that ran long) still
  // names its template sample with offset 0: it becomes a placeholder, which
  // readers skip, rather than a point that sends a seek to the first frame.
  const FLAC__StreamMetadata_SeekTable& table = Metadata.front()->data.seek_table;
  // The table is the block after STREAMINFO.
  constexpr int64_t firstPoint = FLAC__STREAM_SYNC_LENGTH + FLAC__STREAM_METADATA_HEADER_LENGTH +
                                 FLAC__STREAM_METADATA_STREAMINFO_LENGTH + FLAC__STREAM_METADATA_HEADER_LENGTH;
  uint8_t placeholder[FLAC__STREAM_METADATA_SEEKPOINT_LENGTH] = {};
  std::fill_n(placeholder, 8, 0xFF);
  bool moved = false;
  for (uint32_t i = 0; i < table.num_points; ++i) {
    const FLAC__StreamMetadata_SeekPoint& point = table.points[i];
    if (point.frame_samples != 0 || point.sample_number == kSeekPointPlaceholder) continue;
    const int64_t at = firstPoint + static_cast<int64_t>(i) * FLAC__STREAM_METADATA_SEEKPOINT_LENGTH;
    if (Stream->Seek(at, TSeekOrigin::soBeginning) != at) return;
    Stream->WriteBuffer(placeholder, sizeof placeholder);
    moved = true;
  }
  if (moved) Stream->Seek(0, TSeekOrigin::soEnd);
}

void TFLACOut::RaiseEncoderError() {
  if (!StreamError.empty()) throw EAuException(StreamError);
  throw EAuException(kMsgFlacEncoderError + std::string(LoadFlacLibrary()->resolved_state_string(Encoder)));
}

void TFLACOut::ReleaseEncoder() {
  const TFlacLibrary* flac = LoadFlacLibrary();
  if (flac == nullptr) return;
  // Deleting an encoder that was not finished writes nothing more.
  if (Encoder != nullptr) flac->encoder_delete(Encoder);
  Encoder = nullptr;
  for (FLAC__StreamMetadata* block : Metadata) flac->object_delete(block);
  Metadata.clear();
}

void TFLACOut::AfterClose() {
  ReleaseEncoder();
  FComments.Clear();
  InputBlock = {};
  Samples = {};
}

// The callbacks run inside the library: nothing may be thrown through it.

FLAC__StreamEncoderWriteStatus TFLACOut::WriteCallback(const FLAC__StreamEncoder*, const FLAC__byte Buffer[],
                                                       size_t Bytes, uint32_t, uint32_t, void* Client) {
  auto* self = static_cast<TFLACOut*>(Client);
  if (!self->Stream) return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
  try {
    self->Stream->WriteBuffer(Buffer, Bytes);
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  } catch (const std::exception& e) {
    if (self->StreamError.empty()) self->StreamError = e.what();
    return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
  }
}

FLAC__StreamEncoderSeekStatus TFLACOut::SeekCallback(const FLAC__StreamEncoder*, FLAC__uint64 Offset,
                                                     void* Client) {
  auto* self = static_cast<TFLACOut*>(Client);
  if (!self->Stream) return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
  const auto target = static_cast<int64_t>(Offset);
  // A target that cannot seek (a pipe) keeps the header as first written.
  return self->Stream->Seek(target, TSeekOrigin::soBeginning) == target ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
                                                                         : FLAC__STREAM_ENCODER_SEEK_STATUS_UNSUPPORTED;
}

FLAC__StreamEncoderTellStatus TFLACOut::TellCallback(const FLAC__StreamEncoder*, FLAC__uint64* Offset,
                                                     void* Client) {
  auto* self = static_cast<TFLACOut*>(Client);
  if (!self->Stream) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
  const int64_t at = self->Stream->Position();
  if (at < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_UNSUPPORTED;
  *Offset = static_cast<FLAC__uint64>(at);
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

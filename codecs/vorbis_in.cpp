#include "codecs/vorbis_in.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string_view>

#include "pipeline/au_exception.h"
#include "pipeline/au_file_stream.h"

TVorbisIn::TVorbisIn(TComponent* AOwner) : TAuFileIn(AOwner) { Decoded.Allocate(DecodeBufferSize); }

TVorbisIn::~TVorbisIn() { ReleaseSource(); }

// ---- stream callbacks: the library's only way to the bytes -----------------

size_t TVorbisIn::ReadCallback(void* Dest, size_t Size, size_t Count, void* Source) {
  auto* self = static_cast<TVorbisIn*>(Source);
  if (Size == 0 || Count == 0 || self->Stream == nullptr) return 0;
  if (Count > std::numeric_limits<size_t>::max() / Size) Count = std::numeric_limits<size_t>::max() / Size;
  try {
    return self->Stream->ReadUpTo(Dest, Size * Count) / Size;
  } catch (...) {
    // Nothing may pass through the library; errno tells it that this is a
    // read error, not the end of the data.
    errno = EIO;
    return 0;
  }
}

int TVorbisIn::SeekCallback(void* Source, ogg_int64_t Offset, int Whence) {
  auto* self = static_cast<TVorbisIn*>(Source);
  if (!self->Seekable || self->Stream == nullptr) return -1;
  TSeekOrigin origin = TSeekOrigin::soBeginning;
  if (Whence == SEEK_CUR) origin = TSeekOrigin::soCurrent;
  if (Whence == SEEK_END) origin = TSeekOrigin::soEnd;
  try {
    // The library takes -1 as failure and anything else as success: a
    // position whose low 32 bits are all ones must not read as a failure.
    return self->Stream->Seek(Offset, origin) < 0 ? -1 : 0;
  } catch (...) {
    return -1;
  }
}

int TVorbisIn::CloseCallback(void*) {
  // The stream is the source's: it frees or rewinds it once the decoder has
  // let go of it.
  return 0;
}

long TVorbisIn::TellCallback(void* Source) {
  auto* self = static_cast<TVorbisIn*>(Source);
  if (self->Stream == nullptr) return -1;
  try {
    return static_cast<long>(self->Stream->Position());
  } catch (...) {
    return -1;
  }
}

// ---- opening and closing ----------------------------------------------------

bool TVorbisIn::OpenHeader() {
  RequireVorbisLibraries();
  const TVorbisFileLibrary& vf = VorbisFileLibrary();
  const ov_callbacks callbacks{ReadCallback, SeekCallback, CloseCallback, TellCallback};
  // On failure the library lets go of the stream without closing it.
  int result = vf.test_callbacks(this, &OggVorbisFile, nullptr, 0, callbacks);
  if (result == 0) result = vf.test_open(&OggVorbisFile);
  if (result != 0) throw EAuException(kMsgVorbisFailedToOpenFile + std::to_string(result));
  DecoderOpen = true;

  FComments.Clear();
  if (const vorbis_comment* vc = vf.comment(&OggVorbisFile, -1)) {
    for (int i = 0; i < vc->comments; ++i) {
      if (vc->user_comments[i] == nullptr) continue;
      const int length = vc->comment_lengths != nullptr ? vc->comment_lengths[i] : 0;
      FComments.ReadComment(std::string_view(vc->user_comments[i], static_cast<std::size_t>(std::max(length, 0))));
    }
  }

  const vorbis_info* info = vf.info(&OggVorbisFile, -1);
  FChannels = info != nullptr ? info->channels : 0;
  FSampleRate = info != nullptr ? static_cast<int>(info->rate) : 0;
  FBitsPerSample = 16;
  const int64_t total = vf.pcm_total(&OggVorbisFile, -1);
  const int64_t frameSize = 2 * static_cast<int64_t>(FChannels);
  if (frameSize <= 0) {
    Size = 0;
  } else if (total < 0) {
    // A stream that cannot seek has no known length.
    Size = -1;
  } else {
    // A damaged granule position may claim any length.
    const int64_t most = std::numeric_limits<int64_t>::max() / frameSize;
    Size = std::min(total, most) * frameSize;
  }
  FileBytes = Size;
  CurrentSection = -1;
  return true;
}

void TVorbisIn::CloseHeader() {
  if (!DecoderOpen) return;
  VorbisFileLibrary().clear(&OggVorbisFile);
  DecoderOpen = false;
}

TVorbisTags& TVorbisIn::Comments() {
  OpenFile();
  return FComments;
}

// ---- decoding ---------------------------------------------------------------

void TVorbisIn::InitInternal() {
  DecoderDrained = false;
  TAuFileIn::InitInternal();
}

void TVorbisIn::DecodeBlock() {
  const int frameSize = FrameSize;
  if (frameSize <= 0 || frameSize > DecodeBufferSize || !DecoderOpen || DecoderDrained) return;
  uint8_t* buffer = Decoded.Data();
  int end = 0;
  const int room = DecodeBufferSize - DecodeBufferSize % frameSize;
  // A range that ends before the end of the file is cut where it ends; one
  // that runs to the end is decoded until the decoder says it has ended.
  const int64_t fileFrames = FileBytes > 0 ? FileBytes / frameSize : 0;
  const bool rangeEndsEarly = EndSample >= 0 && EndSample < fileFrames - 1;
  const int64_t size = Size;
  while (end < room) {
    const long n = ReadDecoded(buffer + end, room - end);
    if (n == 0) {
      DecoderDrained = true;
      break;
    }
    end += static_cast<int>(n);
    if (size > 0 && Position + end >= size) break;
  }
  if (DecoderDrained || size <= 0 || Position + end < size) {
    Decoded.Filled(static_cast<std::size_t>(end));
    return;
  }
  if (rangeEndsEarly) {
    // Nothing beyond the range is delivered.
    Decoded.Filled(static_cast<std::size_t>(std::max<int64_t>(0, size - Position)));
    return;
  }
  // All the file announced is in: the decoder is asked on to its end (the
  // base passes on nothing beyond Size), so that a stream without its end
  // is noticed.
  std::array<uint8_t, 4096> rest{};
  while (ReadDecoded(rest.data(), static_cast<int>(rest.size() - rest.size() % static_cast<std::size_t>(frameSize))) > 0) {
  }
  DecoderDrained = true;
  Decoded.Filled(static_cast<std::size_t>(end));
}

long TVorbisIn::ReadDecoded(uint8_t* Dest, int Bytes) {
  const TVorbisFileLibrary& vf = VorbisFileLibrary();
  for (;;) {
    const long n = vf.read(&OggVorbisFile, reinterpret_cast<char*>(Dest), Bytes, 0, 2, 1, &CurrentSection);
    // A hole in the data is passed over, as the library means it to be; any
    // other error is a damaged file, which must not pass for a short one.
    if (n == OV_HOLE) continue;
    if (n < 0) throw EAuException(kMsgVorbisDecodeError + std::to_string(n));
    // A stream cut off before its last page ends where the cut is: a
    // truncated file, not a finished one.
    if (n == 0 && OggVorbisFile.os.e_o_s == 0) throw EAuException(kMsgVorbisTruncated);
    return n;
  }
}

bool TVorbisIn::SeekInternal(int64_t& SampleNum) {
  OpenFile();
  if (!DecoderOpen) return false;
  const int result = VorbisFileLibrary().pcm_seek(&OggVorbisFile, SampleNum);
  Decoded.Clear();
  DecoderDrained = false;
  return result == 0;
}

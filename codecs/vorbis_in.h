// TVorbisIn: the file source that decodes an Ogg Vorbis file to 16-bit PCM
// through libvorbisfile, reading the stream from its own file or a caller's
// stream through callbacks, with six comment fields in its Comments.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "codecs/vorbis_library.h"
#include "pipeline/au_input.h"
#include "tags/vorbis_tags.h"

inline constexpr const char* kMsgVorbisFailedToOpenStream = "Failed to open stream";
// Followed by the library's error number in decimal.
inline constexpr const char* kMsgVorbisFailedToOpenFile = "Failed to open an ogg file: ";
inline constexpr const char* kMsgVorbisDecodeError = "Failed to decode an ogg file: ";
inline constexpr const char* kMsgVorbisTruncated = "The ogg file is truncated: its stream ends without its last page.";

class TVorbisIn : public TAuFileIn {
 public:
  static constexpr int DecodeBufferSize = 12288;

  explicit TVorbisIn(TComponent* AOwner = nullptr);
  ~TVorbisIn() override;

  void OpenFile() override;
  void CloseFile() override;
  bool SeekInternal(int64_t& SampleNum) override;

  // Opens the file first, so the comments read from it are there.
  TVorbisTags& Comments();

 protected:
  void InitInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  static size_t ReadCallback(void* Dest, size_t Size, size_t Count, void* Source);
  static int SeekCallback(void* Source, ogg_int64_t Offset, int Whence);
  static int CloseCallback(void* Source);
  static long TellCallback(void* Source);

  // The first steps of opening: the decoder on the stream, the comments,
  // the format. Raises with the library's error number.
  void OpenDecoder();
  // The stream of our own goes when the decoder could not take it.
  void ReleaseUnopenedStream();
  // Decodes into the empty buffer until it is full, the range or the data
  // ends.
  void Refill();
  // One ov_read of decoded bytes, holes passed over; 0 at the end of the
  // data. Raises for a decoding error and for a stream without its end.
  long ReadDecoded(uint8_t* Dest, int Bytes);

  TVorbisTags FComments;
  std::array<uint8_t, DecodeBufferSize> DecodeBuffer{};
  OggVorbis_File OggVorbisFile{};
  int CurrentSection = -1;
  // What the whole file decodes to, in bytes (-1: not known).
  int64_t FileBytes = -1;
  std::unique_ptr<TStream> OwnStream;
  // The decoder has delivered its last sample. Kept apart from EndOfStream,
  // which the base sets only once the buffered bytes have gone out too.
  bool DecoderDrained = false;
};

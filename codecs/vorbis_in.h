// TVorbisIn: the file source that decodes an Ogg Vorbis file to 16-bit PCM
// through libvorbisfile, which reads the source's stream (its own file or a
// caller's) through callbacks, with six comment fields in its Comments.
#pragma once

#include <cstdint>
#include <string>

#include "codecs/vorbis_library.h"
#include "pipeline/au_input.h"
#include "tags/vorbis_tags.h"

// Followed by the library's error number in decimal.
inline constexpr const char* kMsgVorbisFailedToOpenFile = "Failed to open an ogg file: ";
inline constexpr const char* kMsgVorbisDecodeError = "Failed to decode an ogg file: ";
inline constexpr const char* kMsgVorbisTruncated = "The ogg file is truncated: its stream ends without its last page.";

class TVorbisIn : public TAuFileIn {
 public:
  static constexpr int DecodeBufferSize = 12288;

  explicit TVorbisIn(TComponent* AOwner = nullptr);
  ~TVorbisIn() override;

  bool SeekInternal(int64_t& SampleNum) override;

  // Opens the file first, so the comments read from it are there.
  TVorbisTags& Comments();

 protected:
  // The decoder on the stream, the comments, the format. Raises with the
  // library's error number.
  bool OpenHeader() override;
  void CloseHeader() override;
  // Decodes into the empty buffer until it is full, or the range or the
  // data ends.
  void DecodeBlock() override;
  void InitInternal() override;

 private:
  static size_t ReadCallback(void* Dest, size_t Size, size_t Count, void* Source);
  static int SeekCallback(void* Source, ogg_int64_t Offset, int Whence);
  static int CloseCallback(void* Source);
  static long TellCallback(void* Source);

  // One ov_read of decoded bytes, holes passed over; 0 at the end of the
  // data. Raises for a decoding error and for a stream without its end.
  long ReadDecoded(uint8_t* Dest, int Bytes);

  TVorbisTags FComments;
  OggVorbis_File OggVorbisFile{};
  // OggVorbisFile is open (the library clears it itself when opening fails).
  bool DecoderOpen = false;
  int CurrentSection = -1;
  // What the whole file decodes to, in bytes (-1: not known).
  int64_t FileBytes = -1;
  // The decoder has delivered its last sample. Kept apart from EndOfStream,
  // which the base sets only once the buffered bytes have gone out too.
  bool DecoderDrained = false;
};

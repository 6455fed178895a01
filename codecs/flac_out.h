// TFLACOut: the file sink that encodes PCM losslessly into a native FLAC
// stream through libFLAC, with the MD5 of the audio, a seek table of a point
// every ten seconds, the tags of its Comments container as the Vorbis
// comment block, and padding for later tag edits.
#pragma once

#include <FLAC/stream_encoder.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/au_output.h"
#include "tags/stream_comment_tags.h"

class TFLACOut : public TAuFileOut {
 public:
  static constexpr int MinCompressionLevel = 0;
  static constexpr int MaxCompressionLevel = 8;
  static constexpr int DefaultCompressionLevel = 5;
  // Frames taken from the input per step.
  static constexpr uint32_t InputBlockFrames = 4608;
  // The distance between two seek points.
  static constexpr int SeekPointSeconds = 10;
  // The padding block's length, and the larger one for long inputs.
  static constexpr unsigned PaddingBytes = 8192;
  static constexpr unsigned LongInputPaddingBytes = 65536;
  static constexpr int LongInputSeconds = 20 * 60;

  explicit TFLACOut(TComponent* AOwner = nullptr);
  ~TFLACOut() override;

  // The encoder's level, 0 (fastest) to 8 (smallest).
  int CompressionLevel() const { return FCompressionLevel; }
  // A level outside 0..8 is taken as the nearest one.
  void SetCompressionLevel(int Value);

  // Emptied after every run.
  TStreamCommentTags& Comments() { return FComments; }

 protected:
  void Prepare() override;
  bool EncodeStep() override;
  // Ends the stream: the last frame, then STREAMINFO (MD5, totals) and the
  // seek table rewritten in place. A failed run's encoder is dropped
  // unfinished.
  void Finish() override;
  // A failed run's file is removed; the encoder and the metadata go.
  void AfterClose() override;

 private:
  void CreateMetadata(uint64_t TotalFrames);
  void InitEncoder(uint64_t TotalFrames);
  // Seek points past the end of what was encoded become placeholders.
  void MarkUnreachedSeekPoints();
  // The library's state as the run's failure (a write error of ours first).
  [[noreturn]] void RaiseEncoderError();
  void ReleaseEncoder();

  static FLAC__StreamEncoderWriteStatus WriteCallback(const FLAC__StreamEncoder*, const FLAC__byte Buffer[],
                                                      size_t Bytes, uint32_t, uint32_t, void* Client);
  static FLAC__StreamEncoderSeekStatus SeekCallback(const FLAC__StreamEncoder*, FLAC__uint64 Offset, void* Client);
  static FLAC__StreamEncoderTellStatus TellCallback(const FLAC__StreamEncoder*, FLAC__uint64* Offset, void* Client);

  int FCompressionLevel = DefaultCompressionLevel;
  TStreamCommentTags FComments;

  FLAC__StreamEncoder* Encoder = nullptr;
  // Seek table, Vorbis comments, padding: owned here, read by the encoder
  // until it is deleted.
  std::vector<FLAC__StreamMetadata*> Metadata;
  // What a write or seek of the stream raised inside a library callback.
  std::string StreamError;

  std::vector<uint8_t> InputBlock;
  uint32_t InputBlockBytes = 0;
  std::vector<FLAC__int32> Samples;
  int InputChannels = 0;
  int InputBits = 0;
};

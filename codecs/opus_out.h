// TOpusOut: the file sink that encodes PCM into an Ogg Opus stream through
// libopusenc (unconstrained VBR at the encoder's highest complexity, any
// input rate resampled to 48 kHz by the library), with the tags of its
// Comments container in the comment header. Three to eight channels are
// written in the surround mapping, reordered from WAV's channel order to
// the Vorbis order it requires.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/au_output.h"
#include "tags/stream_comment_tags.h"

struct OggOpusEnc;

class TOpusOut : public TAuFileOut {
 public:
  // kbit/s of the whole stream.
  static constexpr int MinBitrate = 6;
  static constexpr int MaxBitrate = 512;
  static constexpr int DefaultBitrate = 128;
  static constexpr int Complexity = 10;
  static constexpr int MaxChannels = 8;
  // Frames taken from the input per step.
  static constexpr uint32_t InputBlockFrames = 4096;

  explicit TOpusOut(TComponent* AOwner = nullptr);
  ~TOpusOut() override;

  int Bitrate() const { return FBitrate; }
  // A rate outside 6..512 is taken as the nearest one.
  void SetBitrate(int Kbps);

  // Emptied after every run. It holds no ReplayGain fields: an Opus stream
  // carries its own gain, and a source's ReplayGain values do not describe
  // the decoded Opus signal.
  TStreamCommentTags& Comments() { return FComments; }

  // For input channel Index of Channels, the channel of the stream that
  // carries it (the mapping's order for 3..8 channels; the same index for
  // one and two).
  static int StreamChannel(int Channels, int Index);

 protected:
  void Prepare() override;
  bool EncodeStep() override;
  // Drains the encoder: the last packets and the final page.
  void Finish() override;
  // A failed run's file is removed; the encoder goes.
  void AfterClose() override;

 private:
  void CreateEncoder();
  // Raises the failure of a library call that returned Error (a write error
  // of ours first); does nothing for success.
  void Check(int Error) const;
  void ReleaseEncoder();

  static int WriteCallback(void* User, const unsigned char* Data, int32_t Length);
  static int CloseCallback(void* User);

  int FBitrate = DefaultBitrate;
  TStreamCommentTags FComments;

  OggOpusEnc* Encoder = nullptr;
  std::string StreamError;
  // The input's bytes as read (4-byte aligned), and the samples handed to
  // the encoder.
  std::vector<int32_t> InputBlock;
  uint32_t InputBlockBytes = 0;
  std::vector<int16_t> ShortSamples;
  std::vector<float> FloatSamples;
  int InputChannels = 0;
  int InputBits = 0;
};

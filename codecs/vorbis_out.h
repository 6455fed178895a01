// TVorbisOut: the file sink that encodes PCM into an Ogg Vorbis stream
// through libvorbis and libogg, with the tags of its Comments container as
// the stream's comment header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codecs/vorbis_library.h"
#include "pipeline/au_output.h"
#include "tags/vorbis_tags.h"

inline constexpr const char* kMsgVorbisFileNameNotAssigned = "File name is not assigned.";
inline constexpr const char* kMsgVorbisBitrateSetupFailed =
    "Vorbis codec setup with the requested bitrate failed. Try a lower bitrate.";
inline constexpr const char* kMsgVorbisQualitySetupFailed = "Vorbis codec setup with the requested quality failed.";
inline constexpr const char* kMsgVorbisUnsupportedFormat = "Cannot encode this sample format into Ogg Vorbis.";
// The most channels one stream takes here.
inline constexpr int kVorbisMaxChannels = 17;
// "Cannot encode 12-bit samples into Ogg Vorbis."
std::string VorbisUnsupportedWidthMessage(int Bits);
// "Cannot encode more than 17 channels into Ogg Vorbis."
std::string VorbisTooManyChannelsMessage();

// In increasing order, brAutoSelect lowest.
enum class TVorbisBitRate {
  brAutoSelect, bitrate24, bitrate32, bitrate45, bitrate48, bitrate56, bitrate64, bitrate80, bitrate96,
  bitrate112, bitrate128, bitrate144, bitrate160, bitrate192, bitrate224, bitrate256, bitrate320, bitrate499
};

// Bit/s the encoder is given; -1 for brAutoSelect.
int VorbisBitrateValue(TVorbisBitRate Value);

class TVorbisOut : public TAuFileOut {
 public:
  // Frames of input taken per step. The encoder moves all the input it
  // still holds down its buffers at every block it takes out, so it is given
  // little at a time.
  static constexpr uint32_t InputBlockFrames = 1024;

  explicit TVorbisOut(TComponent* AOwner = nullptr);
  ~TVorbisOut() override;

  // The quality of quality mode (-0.1 .. 1).
  float Compression = 0.2f;
  // The serial number of the logical stream.
  int Serial = 0;

  // Emptied after every run.
  TVorbisTags& Comments() { return FComments; }
  // Copies Value's values into the sink's own container.
  void SetComments(const TAuTags& Value) { FComments.Assign(&Value); }

  TVorbisBitRate DesiredNominalBitrate() const { return FNominal; }
  TVorbisBitRate DesiredMaximumBitrate() const { return FMaximum; }
  TVorbisBitRate MinimumBitrate() const { return FMinimum; }
  // Any value other than brAutoSelect selects bit-rate managed encoding; the
  // minimum follows a lower nominal value down, the maximum a higher one up,
  // and brAutoSelect resets the maximum.
  void SetDesiredNominalBitrate(TVorbisBitRate Value);
  // Taken only in managed mode, and only brAutoSelect or a value not below
  // the nominal one.
  void SetDesiredMaximumBitrate(TVorbisBitRate Value);
  // Taken only when not above the nominal value.
  void SetMinimumBitrate(TVorbisBitRate Value);

  // foAppend adds a new logical stream after what the file holds.
  void SetFileMode(TFileOutputMode Value) override;

 protected:
  void Prepare() override;
  bool EncodeStep() override;
  // The file is closed: a failed run's file is discarded, the comments and
  // the library records are cleared. The encoder is not drained, so a run
  // stopped before the input ended leaves a file without its last page.
  void AfterClose() override;

 private:
  void OpenTarget();
  void InitEncoder();
  // Converts Bytes of InputBlock (whole frames) into the encoder's buffers.
  void Analyse(uint32_t Bytes);
  // Hands every finished block to the encoder and writes the pages that
  // are full (all of them once the input has ended).
  void WritePages();
  void WritePage();
  void ClearEncoder();
  // A failed run: the file is removed when this run created it, and cut
  // back to what it held when this run appended to it.
  void DiscardTarget();

  TVorbisTags FComments;
  TVorbisBitRate FNominal = TVorbisBitRate::brAutoSelect;
  TVorbisBitRate FMaximum = TVorbisBitRate::brAutoSelect;
  TVorbisBitRate FMinimum = TVorbisBitRate::brAutoSelect;

  std::vector<uint8_t> InputBlock;
  uint32_t InputBlockBytes = 0;
  int InputChannels = 0;
  int InputBits = 0;

  ogg_stream_state OggStream{};
  ogg_page OggPage{};
  ogg_packet OggPacket{};
  vorbis_info VorbisInfo{};
  vorbis_comment VorbisComment{};
  vorbis_dsp_state DspState{};
  vorbis_block VorbisBlock{};
  ogg_packet Header{};
  ogg_packet HeaderComment{};
  ogg_packet HeaderCode{};
  bool EndOfOggStream = false;

  // Which library records this run has set up, so that Done clears those
  // and only those.
  bool InfoReady = false;
  bool CommentReady = false;
  bool DspReady = false;
  bool BlockReady = false;
  bool StreamReady = false;

  // This run created the file (-1), or appended to one of this many bytes.
  int64_t OriginalSize = -1;
  bool TargetOpened = false;
};

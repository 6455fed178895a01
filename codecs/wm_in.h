// TWMIn: the file source that decodes a Windows Media file (or any file the
// media runtime reads) to PCM, with the file's attributes in its ID3v2
// container; TMP3In: the same reader for MP3 files, whose reported length is
// a third of a second longer; TMediaIn: the same reader for the other
// formats the runtime decodes, in their own sample width. The length is the container's estimate: the
// source delivers every decoded sample up to the end of its range.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/media_reader.h"
#include "tags/au_tagged_file.h"

// A run started on a file the runtime could not open, or without a format
// that fits: refused, so that no empty output passes for a conversion.
inline constexpr const char* kMsgWmNoAudio = "The file holds no audio the media runtime can decode.";

enum class TChannelsNumber { cnMaxAvailable, cnMonoOrStereo, cn5dot1, cn7dot1 };

// The ChannelRequest of an OutputChannels value: -1 the most the stream
// offers, 0 its own layout, else that many channels.
int ChannelRequestOf(TChannelsNumber Value);

// A pipeline stream as the reader's byte stream.
class TAudioStream : public media::TMediaByteStream {
 public:
  explicit TAudioStream(TStream& Stream) : FStream(Stream) {}
  std::size_t Read(uint8_t* Buffer, std::size_t Count) override;
  int64_t Seek(int64_t Offset, TOrigin Origin) override;
  int64_t Size() override;

 private:
  TStream& FStream;
};

// The reader and what was chosen of it while the file is open (the current
// sample and how much of it went out are the base's Decoded block).
struct TWMReaderContext {
  std::unique_ptr<TAudioStream> AudioStream;
  std::unique_ptr<media::TMediaReader> Reader;
  int StreamNumber = 0;
  int OutputNumber = -1;
  bool FormatSelected = false;
  int Channels = 0;
  int SampleRate = 0;
  int BitsPerSample = 0;
  // 100 ns units.
  int64_t Duration = 0;
};

class TWMIn : public TAuTaggedFileIn {
 public:
  explicit TWMIn(TComponent* AOwner = nullptr);
  ~TWMIn() override;

  bool SeekInternal(int64_t& SampleNum) override;
  bool SizeIsEstimate() override { return true; }

  bool HighPrecision() const { return FHighPrecision; }
  void SetHighPrecision(bool Value);
  TChannelsNumber OutputChannels() const { return FOutputChannels; }
  void SetOutputChannels(TChannelsNumber Value);

  // The stream bit rate in bit/s (the attribute "Bitrate"), 0 when the file
  // does not give one. Opens the file.
  uint32_t Bitrate();
  // Opens the file first, so the attributes read from it are there.
  TId3v2Tags& Id3v2Tags();

  // The length of the whole file in hundredths of a second, as the
  // container reports it.
  int64_t DurationHundredths() const { return FDurationHundredths; }

 protected:
  // The runtime's reader over Stream, the output format and the attributes;
  // false when no reader could be created. Valid: a format was selected.
  bool OpenHeader() override;
  void CloseHeader() override;
  void DecodeBlock() override;
  void InitInternal() override;
  // The base's serving, cut at the end of a range that has one.
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
  // Frames of the whole file, as reported.
  int64_t FFileTotalSamples = 0;
  // Deliver the stream's own sample width (16, 24 or 32 bits) rather than
  // 16 bits, or the widest when HighPrecision is set.
  bool OwnWidth = false;

 private:
  bool OpenReader();
  void SelectOutputFormat(int Output, int ChannelRequest);
  void ReadAttributes();
  void Reopen();

  TWMReaderContext Context;
  int64_t FDurationHundredths = 0;
  bool FHighPrecision = false;
  TChannelsNumber FOutputChannels = TChannelsNumber::cnMonoOrStereo;
  // Bytes of the run that end the range (EndSample given); -1: to the end
  // of the data.
  int64_t RangeBytes = -1;
};

// Every other file the media runtime decodes (FLAC, AAC, Opus, AIFF,
// WavPack, ...), in its stream's own sample width, so a lossless file
// converts to WAV bit-exactly.
class TMediaIn : public TWMIn {
 public:
  explicit TMediaIn(TComponent* AOwner = nullptr) : TWMIn(AOwner) { OwnWidth = true; }
};

class TMP3In : public TWMIn {
 public:
  explicit TMP3In(TComponent* AOwner = nullptr) : TWMIn(AOwner) {}

 protected:
  bool OpenHeader() override;
};

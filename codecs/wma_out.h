// TWMAOut: the file sink that encodes PCM into a Windows Media Audio file
// through the media runtime, with the attributes of its ID3v2 container;
// TWMStreamedOut: the same encoder serving the stream over HTTP.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/media_writer.h"
#include "tags/au_tagged_file.h"

inline constexpr const char* kMsgWmaFileNameNotAssigned = "File name is not assigned.";
inline constexpr const char* kMsgWmaCannotCreateFile = "Cannot create file";
inline constexpr const char* kMsgWmaFailedToInitCodec = "Failed to init codec";
inline constexpr const char* kMsgWmaProfileRejected = "The WMA profile rejected the audio stream";
inline constexpr const char* kMsgWmaBeginWritingFailed =
    "Filed to set data writer, possible reason: required WMA codec not installed.";
// Followed by the status code as 8 hexadecimal digits.
inline constexpr const char* kMsgWmaWriteFailed = "Failed to write data: ";
inline constexpr const char* kMsgWmaOutputError = "Windows Media output error.";

// Sender, Reason (the runtime's status).
using TOutputErrorEvent = std::function<void(TComponent* Sender, uint32_t Reason)>;
using TStreamedAudioEvent = TNotifyEvent;

// What the codec format is chosen for.
struct TCodecFormatRequest {
  // bit/s, or the VBR quality in VBR mode.
  uint32_t Target = 0;
  bool Lossless = false;
  bool VBR = false;
  int Channels = 0;
  int BitsPerSample = 0;
  int SampleRate = 0;
};

// The codec format of the runtime's list for the request, or none.
std::optional<media::TMediaCodecFormat> ChooseCodecFormat(media::TMediaCodecInfo& Info,
                                                          const TCodecFormatRequest& Request);

// The writer and what Prepare set up on it.
struct TWMWriterContext {
  std::unique_ptr<media::TMediaWriter> Writer;
  int InputNumber = -1;
  uint32_t BytesPerSecond = 0;
  // 100 ns units.
  int64_t SampleTime = 0;
  bool Ready = false;
};

class TWMAOut : public TAuTaggedFileOut {
 public:
  explicit TWMAOut(TComponent* AOwner = nullptr);
  ~TWMAOut() override;

  void SetId3v2Tags(const TAuTags& Value) { FId3v2Tags.Assign(&Value); }

  uint32_t DesiredBitrate = 0;
  bool Lossless = false;
  bool VBR = false;
  uint8_t VBRQuality = 0;
  // Runs on the main thread.
  TOutputErrorEvent OnOutputError;

  // Bytes of one block: 80 ms of audio at the input's format. Set by Prepare.
  uint32_t BlockSize() const { return FBlockSize; }
  // The codec format the last Prepare chose.
  const std::optional<media::TMediaCodecFormat>& ChosenFormat() const { return FChosenFormat; }

 protected:
  void Prepare() override;
  bool EncodeStep() override;
  void Finish() override;
  void AfterClose() override;

  // The sink of the writer: a file here, the network in TWMStreamedOut.
  virtual bool OpenSink(media::TMediaWriter& Writer);
  // A status of the runtime, on the thread that noticed it.
  virtual void OnStatus(uint32_t Status);
  bool NetworkPath = false;

 private:
  void ChooseAndSetProfile();
  void SetWriterInput();
  void SetAttributes();

  std::vector<uint8_t> BlockBuffer;
  uint32_t FBlockSize = 0;
  TWMWriterContext Context;
  std::optional<media::TMediaCodecFormat> FChosenFormat;
};

class TWMStreamedOut : public TWMAOut {
 public:
  explicit TWMStreamedOut(TComponent* AOwner = nullptr);
  ~TWMStreamedOut() override;

  // 0: one client.
  uint32_t MaxClients = 0;
  // 0: a free port, which Prepare stores here.
  uint32_t Port = 0;
  // Both run on the main thread.
  TStreamedAudioEvent OnClientConnected;
  TStreamedAudioEvent OnClientDisconnected;

 protected:
  bool OpenSink(media::TMediaWriter& Writer) override;
  void OnStatus(uint32_t Status) override;
};

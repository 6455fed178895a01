// The media runtime's writer: encodes interleaved PCM into Windows Media
// Audio (wmav2) in an ASF file, or serves the ASF stream over HTTP. The
// codec formats it offers are listed by TMediaCodecInfo; a caller picks one
// and hands it to SetProfile, then sets the PCM input, the attributes, and
// writes time-stamped blocks between BeginWriting and EndWriting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/media_reader.h"

namespace media {

// A codec format: what a codec encodes, as the wave-format record of its
// media type describes it, at one bit rate.
struct TMediaCodecFormat {
  int Codec = 0;
  // The media subtype GUID, braced, upper case.
  std::string Subtype;
  int Channels = 0;
  int SampleRate = 0;
  int BitsPerSample = 0;
  // bit/s
  uint32_t Bitrate = 0;
};

// The WMA audio subtypes: the codec this writer has, and the lossless one
// that it lacks.
inline constexpr const char* kWmaAudioV2Subtype = "{00000161-0000-0010-8000-00AA00389B71}";
inline constexpr const char* kWmaLosslessSubtype = "{00000163-0000-0010-8000-00AA00389B71}";

// The profile manager's codec-information view over the audio codecs.
class TMediaCodecInfo {
 public:
  int CodecCount() const;
  // "_VBRENABLED": none of the codecs here encodes with a variable bit
  // rate, so turning it on fails; turning it off succeeds.
  bool SetVbrEnabled(int Codec, bool Value);
  // nullopt past the codec's last format.
  std::optional<TMediaCodecFormat> Format(int Codec, int Index) const;
  // "_VBRQUALITY" of a format: only VBR formats have one.
  std::optional<int> VbrQuality(int Codec, int Index) const;

 private:
  bool FVbrEnabled = false;
};

// Status codes of the writer (the runtime's HRESULT-style values).
inline constexpr uint32_t kMediaOk = 0;
inline constexpr uint32_t kMediaErrorFail = 0x80004005;
inline constexpr uint32_t kMediaErrorInvalidArgument = 0x80070057;
inline constexpr uint32_t kMediaErrorNotReady = 0xC00D001A;
// The status a sink reports to its callback when writing failed.
inline constexpr uint32_t kMediaStatusError = 0;
inline constexpr uint32_t kMediaStatusClientConnected = 37;
inline constexpr uint32_t kMediaStatusClientDisconnected = 38;

class TMediaHttpServer;

class TMediaWriter {
 public:
  // Called with a status (kMediaStatus...) on the thread that noticed it:
  // the writing thread for a write error, the server's thread for clients.
  using TStatusCallback = std::function<void(uint32_t Status)>;

  TMediaWriter();
  ~TMediaWriter();
  TMediaWriter(const TMediaWriter&) = delete;
  TMediaWriter& operator=(const TMediaWriter&) = delete;

  // The file sink: the ASF file is created at BeginWriting.
  bool OpenFile(const std::filesystem::path& Path);
  // The network sink: an HTTP server on 127.0.0.1:Port (0: any free port)
  // that serves the stream to one client at a time; another client is
  // refused with "503 Service Unavailable". Port receives the port taken.
  bool OpenNetwork(uint32_t& Port, uint32_t MaxClients);
  void SetStatusCallback(TStatusCallback Callback);

  bool SetProfile(const TMediaCodecFormat& Format, int StreamNumber, const std::string& StreamName,
                  const std::string& ConnectionName);
  int InputCount() const;
  // The input's media type is audio with a wave-format record.
  bool InputIsAudio(int Input) const;
  // PCM: 8-bit unsigned, 16, 24 (packed) or 32-bit signed.
  bool SetInputProps(int Input, const TPcmFormat& Format);
  // A text attribute of the whole file by its ASF name; Text is UTF-16 of
  // Bytes bytes (no terminator).
  bool SetAttribute(const std::string& Name, const char16_t* Text, std::size_t Bytes);

  uint32_t BeginWriting();
  // Time is the block's end in 100 ns units.
  uint32_t WriteSample(int Input, int64_t Time, const uint8_t* Data, std::size_t Bytes);
  uint32_t EndWriting();
  // Ends a network sink's server and its client.
  void Close();

  // The format given to SetProfile.
  const std::optional<TMediaCodecFormat>& Profile() const;

 private:
  struct TState;
  std::unique_ptr<TState> State;
};

}  // namespace media

// The media runtime's reader: opens a compressed audio file (MP3, WMA, and
// whatever else FFmpeg demuxes and decodes) from a byte stream, lists its
// outputs and the PCM formats each can deliver, and hands out interleaved
// PCM of the format chosen, with the file's duration, bit rate and text
// attributes under their ASF names. The calls follow a synchronous media
// reader: open, choose an output format, ask for uncompressed samples, read
// sample after sample, set the range's start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace media {

// The byte stream a reader reads (a COM-stream-like view of a pipeline
// stream). Read returns the bytes read, 0 at the end or on failure.
class TMediaByteStream {
 public:
  enum class TOrigin { Begin, Current, End };
  virtual ~TMediaByteStream() = default;
  virtual std::size_t Read(uint8_t* Buffer, std::size_t Count) = 0;
  // The new position, or -1 when the stream cannot move there.
  virtual int64_t Seek(int64_t Offset, TOrigin Origin) = 0;
  // -1 when unknown.
  virtual int64_t Size() = 0;
};

// Interleaved little-endian signed PCM: 16, 24 (packed) or 32 bits.
struct TPcmFormat {
  int Channels = 0;
  int SampleRate = 0;
  int BitsPerSample = 0;
  bool operator==(const TPcmFormat&) const = default;
};

// 100-nanosecond units per second, the unit of durations and times.
inline constexpr int64_t kMediaTimeUnitsPerSecond = 10000000;

class TMediaReader {
 public:
  TMediaReader();
  ~TMediaReader();
  TMediaReader(const TMediaReader&) = delete;
  TMediaReader& operator=(const TMediaReader&) = delete;

  // Opens the container whose first byte is at the stream's current
  // position (so a caller may skip bytes that precede it). False when the
  // bytes are no file the runtime reads; the stream must outlive the reader
  // or its Close.
  bool OpenStream(TMediaByteStream& Stream);
  void Close();
  bool IsOpen() const;

  // One output per stream of the file; only audio outputs deliver samples.
  int OutputCount() const;
  bool OutputIsAudio(int Output) const;
  // "EnableDiscreteOutput": the formats also offer 24 and 32 bits.
  void SetDiscreteOutput(int Output, bool Value);
  // "SpeakerConfig": the formats also offer this many channels (mixed up or
  // down from the stream's own); 0 = only the stream's own layout.
  void SetSpeakerConfig(int Output, int Channels);
  // The stream's own layout and rate at 16 bits.
  TPcmFormat CurrentFormat(int Output) const;
  // The width of the stream's own samples as this reader delivers it: 16,
  // 24 or 32 bits. A lossy stream has no width of its own and gives 16.
  int OwnBitsPerSample(int Output) const;
  // The formats the output can deliver under its settings, 16 bits first.
  std::vector<TPcmFormat> Formats(int Output) const;
  // False for a format not in Formats(Output).
  bool SetOutputFormat(int Output, const TPcmFormat& Format);
  // Stream numbers start at 1.
  int StreamNumber(int Output) const;
  // Uncompressed samples are the only kind this reader delivers: false for
  // Compressed, or for a stream that cannot be decoded.
  bool SetReadStreamSamples(int StreamNumber, bool Compressed);

  // Of the whole file, from the container; nullopt when it does not say.
  std::optional<int64_t> Duration() const;
  // A text attribute by its ASF name ("Author", "WM/AlbumTitle", ...);
  // nullopt when the file has none.
  std::optional<std::string> Attribute(const std::string& Name) const;
  // "Bitrate": the stream bit rate in bit/s.
  std::optional<uint32_t> Bitrate() const;

  // The next samples start at Start (100 ns units from the file's start);
  // Duration 0 means to the end. Takes effect for the next GetNextSample.
  bool SetRange(int64_t Start, int64_t Duration);
  // The next block of PCM of the stream in the chosen format: Data stays
  // valid until the next call or Close. False at the end of the data or on
  // a decoding failure that cannot be skipped.
  bool GetNextSample(int StreamNumber, const uint8_t*& Data, std::size_t& Size);

 private:
  struct TState;
  std::unique_ptr<TState> State;
};

// The ASF attribute names and the FFmpeg metadata keys they are read from
// (the first one present wins) and written to. One table serves the reader
// and the writer.
struct TAsfAttributeName {
  const char* AsfName;
  std::vector<const char*> ReadKeys;
  const char* WriteKey;
};
const std::vector<TAsfAttributeName>& AsfAttributeNames();
const TAsfAttributeName* FindAsfAttribute(const std::string& AsfName);

// FFmpeg's own log stays silent: what fails reaches the user as the
// component's message. Called by the reader and the writer.
void SilenceRuntimeLog();

}  // namespace media

#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pipeline/au_stream.h"
#include "pipeline/component.h"
#include "pipeline/decode_buffer.h"

// Messages raised by sources.
inline constexpr const char* kMsgStreamNotOpened = "The Stream is not opened";
inline constexpr const char* kMsgComponentIsBusy = "The component is Busy";
inline constexpr const char* kMsgFileNameNotAssigned = "The file name is not assigned";

// A source of interleaved little-endian PCM: 8-bit unsigned, 16/24/32-bit
// signed; a "sample" in counts and ranges is one frame.
//
// Pull contract: the caller sets Bytes to the most it can take; on return
// Buffer points into memory owned by this component (valid until its next
// GetData, Flush or destruction) and Bytes holds the count delivered, whole
// frames. Bytes = 0 means end of data until the next Init.
class TAuInput : public TComponent {
 public:
  explicit TAuInput(TComponent* AOwner = nullptr);
  ~TAuInput() override;

  virtual int GetBitsPerSample() = 0;
  virtual int GetChannels() = 0;
  virtual int GetSampleRate() = 0;
  // Whole seconds.
  virtual int GetTotalTime() { return 0; }
  // Frames.
  virtual int64_t GetTotalSamples() { return 0; }

 protected:
  // Make the source ready to deliver from the start of its range.
  virtual void InitInternal() = 0;
  // Release what InitInternal acquired.
  virtual void FlushInternal() = 0;
  // Produce the next block (see the pull contract).
  virtual void GetDataInternal(void*& Buffer, uint32_t& Bytes) = 0;

 public:
  virtual void SetFormatFlag(bool Value) { FormatFlag = Value; }
  virtual void GetData(void*& Buffer, uint32_t& Bytes);
  // Flush, swallowing any exception, then not Busy.
  virtual void Reset();
  // Reads one block ahead into PrefetchBuffer.
  virtual void Prefetch(uint32_t Bytes);
  // Called when the sink pauses / resumes.
  virtual void PauseInput() {}
  virtual void ResumeInput() {}

  // Starts a run: clears EndOfStream and calls InitInternal. An exception
  // from InitInternal leaves EndOfStream set and is raised again as
  // EAuException with the same message.
  void Init();
  // Ends a run: empties the prefetch buffer and calls FlushInternal.
  void Flush();
  void Lock() { DataLock.lock(); }
  void Unlock() { DataLock.unlock(); }
  // One GetData for Bytes, copied into Dest; returns the count (0 = end).
  uint32_t CopyData(void* Dest, uint32_t Bytes);
  // CopyData until Bytes are filled or the data ends; Eof tells which.
  uint32_t FillBuffer(void* Dest, uint32_t Bytes, bool& Eof);

  int BitsPerSample() { return GetBitsPerSample(); }
  int Channels() { return GetChannels(); }
  int SampleRate() { return GetSampleRate(); }
  int TotalTime() { return GetTotalTime(); }
  int64_t TotalSamples() { return GetTotalSamples(); }

  // Bytes delivered by GetData since the run started.
  std::atomic<int64_t> Position{0};
  // Bytes the run will deliver in all; -1 = unknown; 0 = empty or not open.
  std::atomic<int64_t> Size{0};
  // Bytes per frame, set by file sources in InitInternal.
  uint16_t FrameSize = 0;
  std::atomic<bool> Busy{false};
  // Held around every GetData, Init, Flush, Seek and Prefetch. Re-entrant: a
  // looping source flushes and inits inside GetData.
  std::recursive_mutex DataLock;
  std::atomic<bool> EndOfStream{false};
  bool FormatFlag = false;
  std::vector<uint8_t> PrefetchBuffer;
  uint32_t PrefetchCount = 0;
  uint32_t PrefetchIndex = 0;

 protected:
  // Serves a GetData from the prefetched block; false when there is none.
  bool ServeFromPrefetch(void*& Buffer, uint32_t& Bytes);

  // A looping source delivered the end of its range; the next GetData
  // starts the range again.
  bool FLoopRestartPending = false;
};

// A source that reads a stream: a caller's stream, or one it opens itself.
class TAuStreamedInput : public TAuInput {
 public:
  explicit TAuStreamedInput(TComponent* AOwner = nullptr) : TAuInput(AOwner) {}

  virtual void SetStream(TStream* Value);
  // Positions the decoder at absolute frame SampleNum; may move SampleNum to
  // the frame actually reached.
  virtual bool SeekInternal(int64_t& SampleNum) = 0;

  void GetData(void*& Buffer, uint32_t& Bytes) override;

  // Caller-owned stream (nullptr: the component opens its file itself).
  TStream* Stream = nullptr;
  bool StreamAssigned = false;
  bool Seekable = true;
  int64_t StartSample = 0;
  // -1 = to the end.
  int64_t EndSample = -1;
  bool Loop = false;

 protected:
  // Frames of the selected range after InitInternal.
  int64_t FTotalSamples = 0;

 private:
  // Back to StartSample (by seeking, or by a new run when not seekable).
  void RestartRange();
};

// A file source. It owns the protocol of opening and closing: the lock,
// OpenCount, Valid and the stream (a caller's stream, or one it opens on
// FileName itself), the range, the format queries and seeking, and the
// serving of decoded blocks. A format supplies four steps:
//   OpenHeader()   parse the header from Stream (at its start) and fill
//                  FBitsPerSample, FChannels, FSampleRate and Size (PCM
//                  bytes it will decode); false when it cannot read the file
//   CloseHeader()  free what OpenHeader set up (also after a failed one)
//   DecodeBlock()  decode the next block into Decoded (Data(), then
//                  Filled(bytes) of whole frames); nothing filled = the end
//   SeekInternal() position the decoder at a frame (and Decoded.Clear())
// A concrete source calls ReleaseSource() first thing in its destructor, so
// that a sink still pulling from it is stopped while it is whole, and its
// file is closed through its own CloseHeader.
class TAuFileIn : public TAuStreamedInput {
 public:
  explicit TAuFileIn(TComponent* AOwner = nullptr) : TAuStreamedInput(AOwner) {}
  ~TAuFileIn() override = default;

  // Opens the file (or uses Stream) and reads its header; Valid tells
  // whether the format can be delivered. Does nothing while OpenCount > 0.
  // An error leaves the file closed and Valid false, and is raised again.
  void OpenFile();
  // Closes it; a stream of its own is freed, a caller's stream is rewound.
  void CloseFile();

  int GetBitsPerSample() override;
  int GetChannels() override;
  int GetSampleRate() override;
  int GetTotalTime() override;
  int64_t GetTotalSamples() override;
  void Reset() override;
  void SetStream(TStream* Value) override;

  // Frame number relative to StartSample. While idle it only moves the start
  // of the next run.
  bool Seek(int64_t SampleNum);

  // Closes the file (a format query may have opened it) and stores the name.
  void SetFileName(const std::string& Value);
  const std::string& FileName() const { return FFileName; }
  // The name as a path, by which the file is opened.
  const std::filesystem::path& WideFileName() const { return FWideFileName; }

  // Held by OpenFile and CloseFile.
  std::recursive_mutex FileLock;
  int OpenCount = 0;
  bool Valid = false;

 protected:
  virtual bool OpenHeader() = 0;
  virtual void CloseHeader() {}
  virtual void DecodeBlock() = 0;
  // False for a format whose library opens the file by name: no stream is
  // opened for it, and a caller's stream is not used.
  virtual bool ReadsStream() const { return true; }

  void InitInternal() override;
  void FlushInternal() override;
  // Serves Decoded, calling DecodeBlock when it is used up.
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

  // NotifyRemoval, then CloseFile (errors swallowed): for destructors.
  void ReleaseSource();

  // Filled by OpenHeader.
  int FBitsPerSample = 0;
  int FSampleRate = 0;
  int FChannels = 0;
  int FTotalTime = 0;
  // The block DecodeBlock produced; emptied at every Init.
  TDecodeBuffer Decoded;

 private:
  // CloseHeader, then the stream freed or rewound.
  void ReleaseFile();

  std::string FFileName;
  std::filesystem::path FWideFileName;
  // The stream opened on FileName when no caller's stream is set.
  std::unique_ptr<TStream> FOwnStream;
};

#include "pipeline/au_input.h"

#include <cmath>
#include <cstring>

#include "pipeline/au_exception.h"
#include "pipeline/au_file_stream.h"

// ---- TAuInput ---------------------------------------------------------------

TAuInput::TAuInput(TComponent* AOwner) : TComponent(AOwner) {}

TAuInput::~TAuInput() {
  // Referring sinks and converters drop this input before it goes away.
  NotifyRemoval();
}

bool TAuInput::ServeFromPrefetch(void*& Buffer, uint32_t& Bytes) {
  if (PrefetchCount == 0) return false;
  Bytes = std::min(Bytes, PrefetchCount - PrefetchIndex);
  Buffer = PrefetchBuffer.data() + PrefetchIndex;
  PrefetchIndex += Bytes;
  Position += Bytes;
  if (PrefetchIndex >= PrefetchCount) {
    PrefetchCount = 0;
    PrefetchIndex = 0;
  }
  return true;
}

void TAuInput::GetData(void*& Buffer, uint32_t& Bytes) {
  std::lock_guard lock(DataLock);
  if (ServeFromPrefetch(Buffer, Bytes)) return;
  GetDataInternal(Buffer, Bytes);
}

void TAuInput::Init() {
  std::lock_guard lock(DataLock);
  EndOfStream = false;
  FLoopRestartPending = false;
  try {
    InitInternal();
  } catch (const std::exception& e) {
    EndOfStream = true;
    throw EAuException(e.what());
  }
}

void TAuInput::Flush() {
  std::lock_guard lock(DataLock);
  PrefetchCount = 0;
  PrefetchIndex = 0;
  FlushInternal();
}

void TAuInput::Reset() {
  try {
    Flush();
  } catch (...) {
  }
  Busy = false;
}

void TAuInput::Prefetch(uint32_t Bytes) {
  if (PrefetchCount != 0) return;
  std::lock_guard lock(DataLock);
  void* buffer = nullptr;
  uint32_t got = Bytes;
  GetData(buffer, got);
  if (buffer == nullptr) got = 0;
  if (PrefetchBuffer.size() < got) PrefetchBuffer.resize(got);
  if (got != 0) std::memcpy(PrefetchBuffer.data(), buffer, got);
  PrefetchCount = got;
  PrefetchIndex = 0;
  // Counted again when the block is served.
  Position -= got;
}

uint32_t TAuInput::CopyData(void* Dest, uint32_t Bytes) {
  void* buffer = nullptr;
  uint32_t got = Bytes;
  GetData(buffer, got);
  if (buffer == nullptr) return 0;
  std::memcpy(Dest, buffer, got);
  return got;
}

uint32_t TAuInput::FillBuffer(void* Dest, uint32_t Bytes, bool& Eof) {
  auto* dest = static_cast<uint8_t*>(Dest);
  uint32_t filled = 0;
  Eof = false;
  while (filled < Bytes) {
    const uint32_t got = CopyData(dest + filled, Bytes - filled);
    if (got == 0) {
      Eof = true;
      break;
    }
    filled += got;
  }
  return filled;
}

// ---- TAuStreamedInput -------------------------------------------------------

void TAuStreamedInput::SetStream(TStream* Value) {
  Stream = Value;
  StreamAssigned = Value != nullptr;
}

void TAuStreamedInput::RestartRange() {
  if (Seekable) {
    int64_t start = StartSample;
    SeekInternal(start);
  } else {
    Flush();
    Init();
  }
  Position = 0;
}

void TAuStreamedInput::GetData(void*& Buffer, uint32_t& Bytes) {
  std::lock_guard lock(DataLock);
  const uint32_t requested = Bytes;
  if (ServeFromPrefetch(Buffer, Bytes)) return;
  if (EndOfStream) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  if (FLoopRestartPending) {
    FLoopRestartPending = false;
    RestartRange();
  }
  // One read, counted and cut at the end of the range. A looping source
  // whose read came back empty starts the range again and reads once more.
  for (int read = 0; read < 2; ++read) {
    if (read == 1) {
      RestartRange();
      Bytes = requested;
    }
    GetDataInternal(Buffer, Bytes);
    if (Bytes == 0) {
      EndOfStream = true;
    } else {
      Position += Bytes;
      const int64_t size = Size;
      if (size > 0 && Position >= size) {
        EndOfStream = true;
        if (Position > size) {
          Bytes -= static_cast<uint32_t>(Position - size);
          Position = size;
        }
      }
    }
    if (!EndOfStream || !Loop) return;
    if (Bytes != 0) {
      // The last block of the range goes out first; the range restarts at
      // the next call, when the caller no longer holds this buffer.
      EndOfStream = false;
      FLoopRestartPending = true;
      return;
    }
    if (read == 0) EndOfStream = false;
  }
}

// ---- TAuFileIn --------------------------------------------------------------

void TAuFileIn::OpenFile() {
  std::lock_guard lock(FileLock);
  // Valid is decided when the file is opened; a later query of an open file
  // must not turn an unsupported file into a valid one.
  if (OpenCount > 0) return;
  Valid = true;
  try {
    if (ReadsStream()) {
      if (!StreamAssigned) {
        FOwnStream = std::make_unique<TAuFileStream>(WideFileName(), TAuFileStream::fmShareDenyWrite);
        Stream = FOwnStream.get();
      }
      if (Stream == nullptr) throw EAuException(kMsgStreamNotOpened);
    }
    if (!OpenHeader()) {
      // Not counted as open: the next query tries again.
      Valid = false;
      Size = 0;
      ReleaseFile();
      return;
    }
  } catch (...) {
    // Nothing stays open behind the error.
    Valid = false;
    Size = 0;
    ReleaseFile();
    throw;
  }
  ++OpenCount;
}

void TAuFileIn::CloseFile() {
  std::lock_guard lock(FileLock);
  if (OpenCount <= 0) return;
  ReleaseFile();
  OpenCount = 0;
}

void TAuFileIn::ReleaseFile() {
  CloseHeader();
  if (!ReadsStream()) return;
  if (!StreamAssigned) {
    FOwnStream.reset();
    Stream = nullptr;
  } else if (Seekable && Stream) {
    Stream->SetPosition(0);
  }
}

void TAuFileIn::ReleaseSource() {
  NotifyRemoval();
  try {
    CloseFile();
  } catch (...) {
  }
}

void TAuFileIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (!Busy) throw EAuException(kMsgStreamNotOpened);
  if (Decoded.Empty()) {
    Decoded.Clear();
    DecodeBlock();
  }
  Decoded.Serve(Buffer, Bytes, FrameSize);
}

int TAuFileIn::GetBitsPerSample() {
  OpenFile();
  return FBitsPerSample;
}

int TAuFileIn::GetChannels() {
  OpenFile();
  return FChannels;
}

int TAuFileIn::GetSampleRate() {
  OpenFile();
  return FSampleRate;
}

int64_t TAuFileIn::GetTotalSamples() {
  OpenFile();
  const int64_t frame = static_cast<int64_t>(FChannels) * FBitsPerSample / 8;
  const int64_t size = Size;
  FTotalSamples = (size > 0 && frame > 0) ? size / frame : -1;
  return FTotalSamples;
}

int TAuFileIn::GetTotalTime() {
  OpenFile();
  const int64_t bytesPerSecond = static_cast<int64_t>(FSampleRate) * FChannels * (FBitsPerSample / 8);
  if (FSampleRate == 0 || FChannels == 0 || FBitsPerSample == 0 || bytesPerSecond == 0) return 0;
  return static_cast<int>(std::llround(static_cast<double>(Size.load()) / static_cast<double>(bytesPerSecond)));
}

void TAuFileIn::InitInternal() {
  if (Busy) throw EAuException(kMsgComponentIsBusy);
  if (!StreamAssigned && FWideFileName.empty()) throw EAuException(kMsgFileNameNotAssigned);
  Busy = true;
  Position = 0;
  OpenFile();
  // A header may claim any channel count and width: a frame that does not
  // fit the 16-bit FrameSize is no format this source can deliver.
  const int64_t frame = static_cast<int64_t>(FChannels) * FBitsPerSample / 8;
  FrameSize = (frame > 0 && frame <= UINT16_MAX) ? static_cast<uint16_t>(frame) : 0;
  if (FrameSize == 0) {
    // Nothing this source could deliver: an unsupported or empty format.
    FTotalSamples = 0;
    FTotalTime = 0;
    Size = 0;
    EndOfStream = true;
    return;
  }
  FTotalSamples = Size / FrameSize;
  FTotalTime = FSampleRate > 0 ? static_cast<int>(FTotalSamples / FSampleRate) : 0;
  if (StartSample > 0) {
    Seek(0);
    Position = 0;
  }
  Decoded.Clear();
  if (StartSample <= 0 && EndSample == -1) return;
  if (EndSample > FTotalSamples) EndSample = -1;
  // Frames are numbered from 0: the last one of the file is TotalSamples - 1.
  const int64_t last = (EndSample == -1 || EndSample >= FTotalSamples) ? FTotalSamples - 1 : EndSample;
  FTotalSamples = last - StartSample + 1;
  Size = FTotalSamples * FrameSize;
}

void TAuFileIn::FlushInternal() {
  CloseFile();
  StartSample = 0;
  EndSample = -1;
  Busy = false;
}

void TAuFileIn::Reset() {
  TAuStreamedInput::Reset();
  OpenCount = 0;
}

void TAuFileIn::SetStream(TStream* Value) {
  CloseFile();
  TAuStreamedInput::SetStream(Value);
}

bool TAuFileIn::Seek(int64_t SampleNum) {
  if (!Seekable) return false;
  int64_t total = FTotalSamples;
  try {
    total = GetTotalSamples();
  } catch (const std::exception&) {
  }
  if (total != 0 && SampleNum > total) return false;
  std::lock_guard lock(DataLock);
  if (!Busy) {
    StartSample = SampleNum;
    EndSample = -1;
    return true;
  }
  PrefetchCount = 0;
  PrefetchIndex = 0;
  SampleNum += StartSample;
  bool result = false;
  try {
    result = SeekInternal(SampleNum);
  } catch (const std::exception&) {
    return false;
  }
  Position = (SampleNum - StartSample) * FrameSize;
  return result;
}

void TAuFileIn::SetFileName(const std::string& Value) {
  CloseFile();
  FFileName = Value;
  FWideFileName = std::filesystem::path(Value);
}

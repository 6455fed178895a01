#include "cdaudio/cd_player.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "cdaudio/alsa_pcm.h"
#include "pipeline/au_exception.h"
#include "platform/byte_order.h"

// What the playback thread owns while a track plays: the library's ripper
// (opened by Play) and the audio device.
struct TPlayback {
  const TCDRipLibrary* Lib = nullptr;
  TAlsaPcm Pcm;
  std::vector<uint8_t> Block;
  int32_t BlockBytes = 0;
  int64_t FirstSector = 0;
  bool RipperOpen = false;

  ~TPlayback() {
    Pcm.Close();
    if (RipperOpen) Lib->CloseRipper();
  }
};

namespace {

constexpr int kFrameBytes = TCDPlayer::kChannels * 2;

// Scales the left and right samples of a block of 16-bit stereo PCM by
// gain / 65535.
void ApplyVolume(uint8_t* Data, std::size_t Frames, uint16_t Left, uint16_t Right) {
  if (Left == 65535 && Right == 65535) return;
  const int32_t gains[2] = {Left, Right};
  for (std::size_t i = 0; i < Frames * 2; ++i) {
    uint8_t* at = Data + i * 2;
    const int32_t sample = platform::ReadLe16s(at);
    platform::WriteLe16(at, static_cast<uint16_t>(static_cast<int16_t>(sample * gains[i % 2] / 65535)));
  }
}

}  // namespace

// One nesting level of OpenDevice, closed on every way out.
class TCDPlayer::TDeviceUse {
 public:
  explicit TDeviceUse(TCDPlayer& Player) : FPlayer(Player) { FPlayer.OpenDevice(); }
  ~TDeviceUse() { FPlayer.CloseDevice(); }
  TDeviceUse(const TDeviceUse&) = delete;
  TDeviceUse& operator=(const TDeviceUse&) = delete;

 private:
  TCDPlayer& FPlayer;
};

TCDPlayer::TCDPlayer(TComponent* AOwner) : TComponent(AOwner) {}

TCDPlayer::~TCDPlayer() {
  NotifyRemoval();
  Stop();
  ForceClose();
  if (FLib != nullptr) ReleaseCDRipLibrary();
}

const TCDRipLibrary* TCDPlayer::TryLib() {
  std::lock_guard lock(FLibLock);
  // Loaded when first needed, so that the program starts without it; a
  // failed load is tried again at the next call.
  if (FLib == nullptr) FLib = AcquireCDRipLibrary();
  return FLib;
}

const TCDRipLibrary& TCDPlayer::Lib() {
  const TCDRipLibrary* lib = TryLib();
  if (lib == nullptr) throw EAuException(kMsgCDRipNotLoaded);
  return *lib;
}

int TCDPlayer::DrivesCount() {
  const TCDRipLibrary* lib = TryLib();
  return lib != nullptr ? lib->GetNumCDROM() : 0;
}

void TCDPlayer::SetCurrentDrive(int Value) {
  if (Value < 0 || Value >= DrivesCount()) return;
  FCurrentDrive = Value;
  if (FOpenCount > 0) {
    Lib().SetActiveCDROM(FCurrentDrive);
    FTable = TTable::Unknown;
  }
}

// ---- device nesting -------------------------------------------------------------

void TCDPlayer::OpenDevice() {
  const TCDRipLibrary& lib = Lib();
  if (FOpenCount == 0) {
    lib.SetActiveCDROM(FCurrentDrive);
    // The disc may have changed since the last open.
    FTable = TTable::Unknown;
  }
  ++FOpenCount;
}

void TCDPlayer::CloseDevice() {
  // Never below zero: a ForceClose inside an operation leaves the outer
  // levels nothing to close, and the next OpenDevice must select again.
  if (FOpenCount > 0) --FOpenCount;
}

void TCDPlayer::ForceClose() { FOpenCount = 0; }

// ---- queries ----------------------------------------------------------------------

bool TCDPlayer::ReadTable() {
  if (FTable == TTable::Unknown) FTable = Lib().ReadToc() == CR_OK ? TTable::Read : TTable::Missing;
  return FTable == TTable::Read;
}

TCDStatus TCDPlayer::Status() {
  {
    std::lock_guard lock(FLock);
    if (FState != TCDStatus::cdsStopped) return FState;
  }
  if (TryLib() == nullptr) return TCDStatus::cdsNotReady;
  TDeviceUse use(*this);
  return ReadTable() ? TCDStatus::cdsStopped : TCDStatus::cdsNotReady;
}

int TCDPlayer::TrackCount() {
  if (Status() == TCDStatus::cdsNotReady) {
    ForceClose();
    return 0;
  }
  TDeviceUse use(*this);
  return ReadTable() ? Lib().GetNumTocEntries() : 0;
}

TCDPosition TCDPlayer::GetTrackPosition(int Track) {
  const int count = TrackCount();
  if (count <= 0) return TCDPosition{};
  if (Track < 1) {
    ForceClose();
    throw EAuException(kMsgCDTrackOutOfRange);
  }
  TDeviceUse use(*this);
  if (!ReadTable()) return TCDPosition{};
  // Entry `count` is the lead-out: where the last track ends.
  const int64_t sector = Lib().GetTocEntry(std::min(Track, count + 1) - 1).dwStartSector;
  return CDFramesPosition(sector + kCDLeadInFrames);
}

TCDTrackInfo TCDPlayer::TrackInfo(int Track) {
  if (Status() == TCDStatus::cdsNotReady) return TCDTrackInfo{};
  TDeviceUse use(*this);
  const int count = TrackCount();
  if (Track < 1 || Track > count) {
    ForceClose();
    throw EAuException(kMsgCDTrackOutOfRange);
  }
  const TCDPosition length = CDFramesPosition(CDPositionFrames(GetTrackPosition(Track + 1)) -
                                              CDPositionFrames(GetTrackPosition(Track)));
  TCDTrackInfo info;
  info.Minutes = length.Minutes;
  info.Seconds = length.Seconds;
  info.Frames = length.Frames;
  info.DataTrack = (Lib().GetTocEntry(Track - 1).btFlag & CR_FLAG_DATA) != 0 ? 1 : 0;
  return info;
}

// ---- playing ----------------------------------------------------------------------

void TCDPlayer::Play(int Track) {
  TDeviceUse use(*this);
  const TCDRipLibrary& lib = Lib();
  if (Status() == TCDStatus::cdsNotReady) {
    ForceClose();
    throw EAuException(kMsgCDPlayerNotReady);
  }
  if (TrackInfo(Track).DataTrack != 0) {
    ForceClose();
    throw EAuException(kMsgCDPlayDataTrack);
  }
  const int64_t first = CDPositionFrames(GetTrackPosition(Track)) - kCDLeadInFrames;
  const int64_t last = CDPositionFrames(GetTrackPosition(Track + 1)) - kCDLeadInFrames;
  // One track at a time: the library has one ripper.
  Stop();

  auto playback = std::make_unique<TPlayback>();
  playback->Lib = &lib;
  // Plain reads, whatever the ripping source set up: playback keeps pace
  // with the device, and paranoia's verification would not.
  CR_CDROMPARAMS saved{};
  lib.GetCDROMParameters(&saved);
  CR_CDROMPARAMS plain = saved;
  lib.SetJitterCorrection(&plain, 0);
  lib.SetParanoidMode(&plain, 0);
  lib.SetParanoiaMode(&plain, 0);
  lib.LockCDTrayWhileRipping(&plain, 0);
  lib.SetCDROMParameters(&plain);
  playback->BlockBytes = kBlockSectors * CR_SECTOR_BYTES;
  const int rc = lib.OpenRipper(&playback->BlockBytes, static_cast<int32_t>(first), static_cast<int32_t>(last));
  lib.SetCDROMParameters(&saved);
  switch (rc) {
    case CR_OK: break;
    case CR_ERR_DATA_TRACK: throw EAuException(kMsgCDPlayDataTrack);
    case CR_ERR_RIPPER_OPEN: throw EAuException(kMsgCDReaderBusy);
    default: throw EAuException(kMsgCDPlayerNotReady);
  }
  playback->RipperOpen = true;
  playback->FirstSector = first;
  playback->BlockBytes = std::clamp<int32_t>(playback->BlockBytes, CR_SECTOR_BYTES, kBlockSectors * CR_SECTOR_BYTES);
  playback->Block.resize(static_cast<std::size_t>(playback->BlockBytes));
  // A device that cannot be opened leaves the player stopped; the ripper
  // closes with `playback`.
  playback->Pcm.Open(AudioDevice, kSampleRate, kChannels, kDeviceLatency);

  FPlayingTrack = Track;
  FPlayedFrames = 0;
  FTrackFrames = (last - first) * CR_SECTOR_BYTES / kFrameBytes;
  {
    std::lock_guard lock(FLock);
    FState = TCDStatus::cdsPlaying;
    FError.clear();
  }
  StopRequested = false;
  FThread = std::thread([this, p = std::move(playback)]() mutable { PlaybackLoop(std::move(p)); });
}

void TCDPlayer::PlaybackLoop(std::unique_ptr<TPlayback> playback) {
  std::string error;
  try {
    for (;;) {
      {
        std::unique_lock lock(FLock);
        if (FState == TCDStatus::cdsPaused && !StopRequested) {
          lock.unlock();
          playback->Pcm.Pause();
          if (OnPaused) OnPaused(FPlayedFrames);
          lock.lock();
          FChanged.wait(lock, [this] { return FState != TCDStatus::cdsPaused || StopRequested; });
          if (!StopRequested) {
            lock.unlock();
            playback->Pcm.Resume();
            continue;
          }
        }
        if (StopRequested) break;
      }
      int32_t read = 0;
      int32_t abort = 0;
      const int rc = playback->Lib->RipChunk(playback->Block.data(), &read, &abort);
      if (rc != CR_OK) {
        const TCDPosition where =
            CDFramesPosition(int64_t{playback->Lib->GetCurrentRipSector()} - playback->FirstSector);
        error = FormatMessage(kFmtCDReadError, {FPlayingTrack.load(), where.Minutes, where.Seconds, where.Frames});
        break;
      }
      if (read <= 0) {
        playback->Pcm.Drain();
        break;
      }
      const std::size_t frames = static_cast<std::size_t>(std::min(read, playback->BlockBytes)) / kFrameBytes;
      ApplyVolume(playback->Block.data(), frames, FLVolume, FRVolume);
      playback->Pcm.Write(playback->Block.data(), frames);
      FPlayedFrames += static_cast<int64_t>(frames);
      if (OnBlockPlayed) OnBlockPlayed(FPlayedFrames);
    }
  } catch (const std::exception& e) {
    error = e.what();
  }
  // The ripper and the device are free before the state says stopped, so
  // that a grab may start as soon as it does.
  playback.reset();
  {
    std::lock_guard lock(FLock);
    FState = TCDStatus::cdsStopped;
    FError = error;
  }
  FChanged.notify_all();
}

void TCDPlayer::Pause() {
  {
    std::lock_guard lock(FLock);
    if (FState != TCDStatus::cdsPlaying) return;
    FState = TCDStatus::cdsPaused;
  }
  FChanged.notify_all();
}

void TCDPlayer::Resume() {
  {
    std::lock_guard lock(FLock);
    if (FState != TCDStatus::cdsPaused) return;
    FState = TCDStatus::cdsPlaying;
  }
  FChanged.notify_all();
}

void TCDPlayer::Stop() {
  {
    std::lock_guard lock(FLock);
    StopRequested = true;
  }
  FChanged.notify_all();
  JoinPlayback();
  StopRequested = false;
}

void TCDPlayer::JoinPlayback() {
  if (FThread.joinable()) FThread.join();
}

std::string TCDPlayer::PlaybackError() const {
  std::lock_guard lock(FLock);
  return FError;
}

bool TCDPlayer::WaitForEnd(std::chrono::milliseconds Timeout) {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, Timeout, [this] { return FState == TCDStatus::cdsStopped; });
}

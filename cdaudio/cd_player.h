// TCDPlayer: plays audio CD tracks, reports the disc's track table and the
// playing state. It plays digitally: the track's sectors are read through
// the CD reading library (devices and disc images alike) and played through
// the system's audio output (ALSA) on a thread of the player's own, with the
// left and right volumes applied to the samples. A drive's analogue output
// is rarely wired to the sound card, and an image has none.
//
// Every public call is made on the main thread; the playback thread only
// reads sectors, writes the device and reports its state.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cdaudio/cd_in.h"
#include "cdaudio/cdrip_library.h"
#include "pipeline/component.h"

enum class TCDStatus { cdsNotReady = 0, cdsStopped = 1, cdsPlaying = 2, cdsPaused = 3 };

// CD addresses count the two seconds of lead-in before the first sector:
// sector 0 is 00:02:00.
inline constexpr int kCDLeadInFrames = 150;

// What a playback thread owns: the reader and the audio device.
struct TPlayback;

class TCDPlayer : public TComponent {
 public:
  explicit TCDPlayer(TComponent* AOwner = nullptr);
  ~TCDPlayer() override;

  // The drives the reading library knows: the devices found when it was
  // loaded and the disc images added since (0 without the library).
  int DrivesCount();
  // Index into the drives; values outside 0 .. DrivesCount - 1 are ignored.
  int CurrentDrive() const { return FCurrentDrive; }
  void SetCurrentDrive(int Value);

  // Left and right gain of the playback, 0 .. 65535 (full scale); kept
  // across tracks, and applied from the next block while a track plays.
  uint16_t LVolume() const { return FLVolume; }
  uint16_t RVolume() const { return FRVolume; }
  void SetLVolume(uint16_t Value) { FLVolume = Value; }
  void SetRVolume(uint16_t Value) { FRVolume = Value; }

  // The ALSA device tracks are played on.
  std::string AudioDevice = "default";

  // Drive selection, nested: the outermost open makes CurrentDrive the
  // library's active drive. OpenDevice raises the library's load failure.
  void OpenDevice();
  void CloseDevice();
  void ForceClose();
  int OpenCount() const { return FOpenCount; }

  // Playing or paused while a track is under way; otherwise not ready
  // without a disc (no library, no drive, no readable table) and stopped
  // with one. Never raises.
  TCDStatus Status();
  // Tracks on the disc, 0 without one.
  int TrackCount();
  // Where Track starts; past the last track, where the disc ends.
  TCDPosition GetTrackPosition(int Track);
  // Length and kind of Track; all zero without a disc. Raises "Track out of
  // range." for a track the disc does not have.
  TCDTrackInfo TrackInfo(int Track);

  // Starts Track from its beginning (a track under way stops first). Raises
  // "Device is not ready", "Trying to play a data track.", "Track out of
  // range.", the reading library's or the audio library's load failure, or
  // the audio device's error; the player is stopped then.
  void Play(int Track);
  // Pause while playing; Resume while paused (both do nothing otherwise).
  // Playback goes on exactly where it paused.
  void Pause();
  void Resume();
  // Ends the playback: when it returns nothing more reaches the device.
  void Stop();

  // The track under way (or played last), and how far into it the frames
  // handed to the device reach, in 44100 Hz frames.
  int PlayingTrack() const { return FPlayingTrack; }
  int64_t PlayedFrames() const { return FPlayedFrames; }
  int64_t TrackFrames() const { return FTrackFrames; }
  // Why the last playback ended early (a read or device failure); empty when
  // it played to its end or was stopped.
  std::string PlaybackError() const;
  // Waits until the playback has ended or `Timeout` passed; true when it
  // has ended (or none was under way).
  bool WaitForEnd(std::chrono::milliseconds Timeout);

  // Set by Stop until the playback thread has ended.
  std::atomic<bool> StopRequested{false};
  // Runs on the playback thread after each block was handed to the device,
  // with PlayedFrames; for progress displays and tests.
  std::function<void(int64_t)> OnBlockPlayed;
  // Runs on the playback thread when the device has paused, before it waits
  // for Resume or Stop, with PlayedFrames.
  std::function<void(int64_t)> OnPaused;

  static constexpr int kSampleRate = 44100;
  static constexpr int kChannels = 2;
  // Sectors read and played at a time: about 0.13 s, which is how soon a
  // pause or a stop takes effect.
  static constexpr int kBlockSectors = 10;
  // The device's buffer, in microseconds.
  static constexpr unsigned kDeviceLatency = 200000;

 private:
  class TDeviceUse;
  // The library, taken on first use for the player's life; nullptr (or the
  // load failure raised) when it cannot be loaded.
  const TCDRipLibrary* TryLib();
  const TCDRipLibrary& Lib();
  // Reads the drive's table once per outermost open; false without one.
  bool ReadTable();
  void JoinPlayback();
  void PlaybackLoop(std::unique_ptr<TPlayback> Playback);

  std::mutex FLibLock;
  const TCDRipLibrary* FLib = nullptr;
  int FCurrentDrive = 0;
  int FOpenCount = 0;
  enum class TTable { Unknown, Read, Missing };
  TTable FTable = TTable::Unknown;
  std::atomic<uint16_t> FLVolume{65535};
  std::atomic<uint16_t> FRVolume{65535};

  // Playback state, shared with the thread under FLock: cdsPlaying or
  // cdsPaused while a track is under way, cdsStopped otherwise.
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  TCDStatus FState = TCDStatus::cdsStopped;
  std::string FError;
  std::thread FThread;
  std::atomic<int> FPlayingTrack{0};
  std::atomic<int64_t> FPlayedFrames{0};
  std::atomic<int64_t> FTrackFrames{0};
};

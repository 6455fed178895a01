// TCDIn: the CD ripping source. It reads digital audio from a CD drive (a
// device or a disc image) through the CD reading library, 16-bit stereo PCM
// at 44100 Hz from a position in a start track to a position in an end
// track, one second (75 sectors of 2352 bytes) per library read, and answers
// track-table questions.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "cdaudio/cdrip_library.h"
#include "pipeline/au_input.h"

inline constexpr const char* kMsgCDComponentBusy = "The component is busy";
inline constexpr const char* kMsgCDDriveNotReady = "The drive is not ready";
inline constexpr const char* kMsgCDStartTrackOutOfRange = "The start track out of range";
inline constexpr const char* kMsgCDDataTrack = "Trying to rip a data track";
inline constexpr const char* kMsgCDEndTrackOutOfRange = "The end track out of range";
inline constexpr const char* kMsgCDTrackOutOfRange = "Track out of range.";
// The end position of a run before its start position.
inline constexpr const char* kMsgCDRangeReversed = "The end position lies before the start position";
// Another component of this program is reading from the library.
inline constexpr const char* kMsgCDReaderBusy = "Another CD rip is running";
// printf formats: the track, then minutes, seconds and frames into it.
inline constexpr const char* kFmtCDReadError = "Read error in track %d at %02d:%02d:%02d";
inline constexpr const char* kFmtCDUnverified = "Paranoia could not verify track %d at %02d:%02d:%02d";
// Eject and Close on a drive that has no tray, or a tray that does not move.
inline constexpr const char* kMsgCDImageHasNoTray = "A disc image has no tray.";
inline constexpr const char* kMsgCDCannotEject = "The drive cannot open its tray.";
inline constexpr const char* kMsgCDCannotCloseTray = "The drive cannot close its tray.";

// A position as minutes, seconds and frames (sectors, 75 to a second).
struct TCDPosition {
  uint8_t Minutes = 0;
  uint8_t Seconds = 0;
  uint8_t Frames = 0;
};

// A track's length and kind.
struct TCDTrackInfo {
  uint8_t Minutes = 0;
  uint8_t Seconds = 0;
  uint8_t Frames = 0;
  // 1 = data, 0 = audio.
  uint8_t DataTrack = 0;
};

// CD-Text of the disc or of one track, as UTF-8 (empty where the disc has none).
struct TCDTextEntry {
  std::string Title;
  std::string Performer;
  std::string Songwriter;
  std::string Composer;
  std::string Message;
  std::string Arranger;
  std::string Isrc;
  std::string UpcEan;
  std::string Genre;
};

struct TCDText {
  TCDTextEntry Disc;
  // Entry i is the track of table entry i (track i + 1 on most discs).
  std::vector<TCDTextEntry> Tracks;
};

// Frames of a position, and back (minutes capped at 255).
int64_t CDPositionFrames(const TCDPosition& Position);
TCDPosition CDFramesPosition(int64_t Frames);

// Reads the records of a CR_ReadCDText block; a malformed tail is ignored.
TCDText ParseCDTextBlock(const uint8_t* Data, std::size_t Size);

class TCDIn : public TAuInput {
 public:
  explicit TCDIn(TComponent* AOwner = nullptr);
  ~TCDIn() override;

  // Published; passed to the library when a run starts.
  bool EnableJitterCorrection = false;
  bool LockTray = false;
  int MultiReadCount = 0;
  bool Paranoid = false;
  int ParanoiaMode = 0;

  // Nesting count of drive selection.
  std::atomic<int> DriveSelectCount{0};
  // The drive as the library numbers them.
  int CurrentDrive = 0;
  int StartTrack = 0;
  TCDPosition StartPos;
  int EndTrack = 0;
  TCDPosition EndPos;
  // Bytes of the current run.
  std::atomic<int64_t> RunSize{0};
  // The library's jitter error count at the end of the last run.
  int JitterErrors = 0;

  static constexpr uint32_t kReadBufferBytes = 75 * CR_SECTOR_BYTES;

  int GetBitsPerSample() override { return 16; }
  int GetChannels() override { return 2; }
  int GetSampleRate() override { return 44100; }
  int64_t GetTotalSamples() override;
  int GetTotalTime() override;

  // Tracks on the disc; -1 when the table cannot be read.
  int TrackCount();
  TCDTrackInfo TrackInfo(int Track);
  bool MediaPresent();
  // While Busy the bytes of the run; otherwise what the chosen range holds,
  // counting its last sector (0 when the table or the tracks are not there).
  int64_t GetSize();

  // A run of one whole track.
  void SelectTrack(int Track);

  // The library's drives (devices found, images added).
  int DriveCount();
  std::string DriveName(int Drive);
  // Adds a device or an image file as a drive; its index, or -1.
  int AddDrive(const std::string& Name);
  // CD-Text of the current drive's disc (empty without CD-Text or a disc).
  TCDText ReadCDText();
  // Open and close the current drive's tray.
  void Eject();
  void CloseTray();

 protected:
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  // The library, taken on first use; raises the load failure.
  const TCDRipLibrary& Lib();
  void SelectDrive();
  void ReleaseDrive();
  struct TSelection;
  // First and last sector of the chosen range from the table just read;
  // false when the tracks are outside it.
  bool RangeSectors(const TCDRipLibrary& lib, int64_t& First, int64_t& Last);
  [[noreturn]] void FailRead(int Code);

  std::mutex FLibLock;
  std::atomic<const TCDRipLibrary*> FLib{nullptr};
  // One library read.
  TDecodeBuffer ReadBuffer;
  int32_t BufferSize = 0;
  // The run's first sector, and the table it was opened with, to name the
  // track and position of a read error.
  int64_t RunFirst = 0;
  std::vector<CR_TOCENTRY> RunToc;
};

// The grab driver: lists the tracks of the chosen CD drive in the file list
// (Get Tracks) and grabs the checked ones, one output file per track, over
// the conversion driver's run state. The sink reads the ripping source CDIn1
// (for WAV output through the resampler and the converter, as a WAV source);
// the end of each row is the conversion driver's OutputDone, which comes back
// here for the next row. Also plays, pauses and stops a track with the CD
// player, opens and closes the drive's tray and lists the drives for the
// settings dialog.
#pragma once

#include <string>
#include <vector>

#include "app/conversion_driver.h"
#include "app/file_list.h"
#include "app/format_routing.h"
#include "app/language_table.h"
#include "app/settings.h"
#include "cdaudio/cd_in.h"

class TPipelineSet;

// Get Tracks on a drive that cannot be read.
inline constexpr const char* kMsgNoCDDrive = "StringNoDrive";
inline constexpr const char* kMsgNoCDTracks = "StringNoTracks";
// The status bar text before the track's caption while it is grabbed.
inline constexpr const char* kMsgGrabbing = "StringGrabbing";
// A name given as a drive that cannot be opened as one.
inline constexpr const char* kMsgCDNotADrive = "not a CD drive or a disc image that can be read";
// A track number the disc does not have (command line); %d is the number.
inline constexpr const char* kFmtNoSuchTrack = "The disc has no track %d";

class TGrabDriver {
 public:
  TGrabDriver(TSettings& settings, TFileList& files, TFormatRouting& routing, TPipelineSet& components,
              TConversionDriver& driver, const TLanguageTable& language, TDriverView& view);
  TGrabDriver(const TGrabDriver&) = delete;
  TGrabDriver& operator=(const TGrabDriver&) = delete;

  // Grab menu.
  void MGetTracksClick();
  void MGrabStartClick();
  void MGrabPauseClick();
  void MGrabStopClick();
  void StartGrabItem(int index);
  // Eject CD and Close CD of the drive "driveType"; raise what the drive
  // answers (an image has no tray and stays as it is).
  void MEjectClick();
  void MCloseTrayClick();

  // The CD player over the drive "driveType", playing on "audioDevice":
  // Play raises what the player raises; PauseOrResume pauses a playing
  // track and resumes a paused one.
  void PlayTrack(int track);
  void PauseOrResumePlaying();
  void StopPlaying();

  // The drives the library knows, by index: devices found, images added.
  // Empty when the library cannot be loaded.
  std::vector<std::string> DriveNames();
  // Makes a device or a disc image the drive "driveType"; false when it
  // cannot be opened as one. Raises the library's load failure.
  bool UseDrive(const std::string& name);
  // A name that stands for a drive rather than an audio file: a disc image
  // (.cue, .toc, .nrg) or a device node.
  static bool IsDriveName(const std::string& path);

  // Fills the list with the tracks of the drive "driveType" (the list is
  // emptied first). Returns the message to show when there is nothing to
  // list (no drive, no disc, no table), else empty. Raises the library's
  // load failure.
  std::string ListTracks();

  // CD-Text of the disc last listed (empty where it has none).
  const TCDText& DiscText() const { return discText_; }
  // The drive the listed tracks come from.
  std::string ListedDrive;

  // Row i holds track i + 1 after Get Tracks: "Track 01", or "01 - Title"
  // with the disc's CD-Text; never a path separator.
  static std::string TrackCaption(int track, const std::string& title);

 private:
  // The sink of the output type, its input wired to CDIn1 for track, and
  // the tags of the track; throws when the output type has no sink.
  const TSinkRoute& PrepareTrack(int track);
  void FillTags(const TSinkRoute& sink, int track);
  void SelectDrive();

  TSettings& settings_;
  TFileList& files_;
  TFormatRouting& routing_;
  TPipelineSet& components_;
  TConversionDriver& driver_;
  const TLanguageTable& language_;
  TDriverView& view_;
  TCDText discText_;
  // Grab Stop was used: the OnDone that follows starts no further row.
  bool stopped_ = false;
};

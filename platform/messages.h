// The program's message texts, each named once, and the one formatter for
// the texts with fields. Every layer (platform, engine, app) raises its
// errors with these; a new component adds its texts here.
//
// Fields: %s (text), %d (integer), %02d (integer, zero-padded to two
// digits; any width works), %% (a percent sign).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

// ---- the formatter ------------------------------------------------------------

// One value for a field: text for %s, a number for %d.
class TMessageArg {
 public:
  TMessageArg(std::string_view Text) : FValue(Text) {}
  TMessageArg(const std::string& Text) : FValue(std::string_view(Text)) {}
  TMessageArg(const char* Text) : FValue(std::string_view(Text != nullptr ? Text : "")) {}
  TMessageArg(int Number) : FValue(static_cast<int64_t>(Number)) {}
  TMessageArg(long Number) : FValue(static_cast<int64_t>(Number)) {}
  TMessageArg(long long Number) : FValue(static_cast<int64_t>(Number)) {}
  TMessageArg(unsigned Number) : FValue(static_cast<int64_t>(Number)) {}

  // As the field wants it: a number given for %s is written in decimal, a
  // text given for %d as it is.
  std::string Text(int Width, bool ZeroPad) const;

 private:
  std::variant<std::string_view, int64_t> FValue;
};

// Fills the fields of Pattern in order. A field without a value is left
// out; values beyond the fields are ignored.
std::string FormatMessage(std::string_view Pattern, std::initializer_list<TMessageArg> Args);

// ---- platform -------------------------------------------------------------------

// %s: a codec library's file name.
inline constexpr const char* kFmtLibraryNotLoaded = "%s library could not be loaded.";
// %s: the settings file.
inline constexpr const char* kMsgIniWriteError = "Unable to write to %s";

// ---- sources and converters -----------------------------------------------------

inline constexpr const char* kMsgStreamNotOpened = "The Stream is not opened";
inline constexpr const char* kMsgComponentIsBusy = "The component is Busy";
inline constexpr const char* kMsgFileNameNotAssigned = "The file name is not assigned";
// A converter or sink run, or a converter queried, without an input.
inline constexpr const char* kMsgInputNotAssigned = "Input is not assigned";
// Raised by the audio converter for sample widths the float routines do not cover.
inline constexpr const char* kMsgUnsupportedSampleWidth = "Cannot convert this sample width.";
inline constexpr const char* kMsgResamplerFormat = "Cannot resample this audio format.";

// ---- sinks --------------------------------------------------------------------

inline constexpr const char* kMsgSinkIsBusy = "Component is Busy";
// Pause of a sink without an input.
inline constexpr const char* kMsgPauseInputNotAssigned = "Input is not assigned.";
// A file sink run without a file name.
inline constexpr const char* kMsgOutputFileNameNotAssigned = "File name is not assigned.";

// WAV
inline constexpr const char* kMsgCannotAppendToFile = "Cannot append data to this .wav file.";
inline constexpr const char* kMsgCannotAppendDifferentFormat = "Cannot append data in different audio format.";
inline constexpr const char* kMsgCannotEncode8Bit = "Cannot encode 8 bit sound into ADPCM.";
// The IMA ADPCM block layout exists for one and two channels only.
inline constexpr const char* kMsgCannotEncodeChannels = "Cannot encode more than 2 channels into ADPCM.";
// An IMA ADPCM block must hold more than its channel headers.
inline constexpr const char* kMsgBlockSizeTooSmall = "The ADPCM block size is too small.";
// Stereo IMA ADPCM blocks carry whole 8-byte groups after their headers.
inline constexpr const char* kMsgStereoBlockSize = "The ADPCM block size must be a multiple of 8 for stereo.";
// RIFF sizes are 32-bit.
inline constexpr const char* kMsgWavTooLarge = "The data does not fit in a .wav file.";

// Monkey's Audio; the library's texts for its error codes come from the
// library itself (c_APE_GetErrorText).
inline constexpr const char* kMsgMacDllError = "MACDll error: ";
// A code the library has no text for.
inline constexpr const char* kFmtMacUndefinedError = "undefined (%d)";
inline constexpr const char* kMsgErrorStartingAPECompress = "Error starting APECompress.\r\n";
inline constexpr const char* kMsgAPECompressUnlockBufferError = "APECompress.UnlockBuffer Error: ";

// MP3. The encoder's error number follows in decimal.
inline constexpr const char* kMsgLameError = "LAME Error: ";
// MPEG audio has one or two channels.
inline constexpr const char* kMsgMp3TooManyChannels = "Cannot encode more than 2 channels into MP3.";
inline constexpr const char* kMsgMp3UnsupportedFormat = "Cannot encode this sample format into MP3.";
// %d: a width other than 8, 16, 24, 32.
inline constexpr const char* kFmtMp3UnsupportedWidth = "Cannot encode %d-bit samples into MP3.";

// FLAC. The library's own text for its state follows the prefix.
inline constexpr const char* kMsgFlacEncoderError = "FLAC encoder error: ";
// A FLAC stream has one to eight channels.
inline constexpr const char* kMsgFlacTooManyChannels = "Cannot encode more than 8 channels into FLAC.";
inline constexpr const char* kMsgFlacUnsupportedFormat = "Cannot encode this sample format into FLAC.";
// %d: a width other than 8, 16, 24, 32.
inline constexpr const char* kFmtFlacUnsupportedWidth = "Cannot encode %d-bit samples into FLAC.";

// Opus. The library's own text for its error code follows the prefix.
inline constexpr const char* kMsgOpusEncoderError = "Opus encoder error: ";
// The channel mappings a player places: one or two channels, or 3..8 in the
// surround layouts.
inline constexpr const char* kMsgOpusTooManyChannels = "Cannot encode more than 8 channels into Opus.";
inline constexpr const char* kMsgOpusUnsupportedFormat = "Cannot encode this sample format into Opus.";
// %d: a width other than 8, 16, 24, 32.
inline constexpr const char* kFmtOpusUnsupportedWidth = "Cannot encode %d-bit samples into Opus.";

// ---- CD -------------------------------------------------------------------------

inline constexpr const char* kMsgCDRipNotLoaded = "libcdrip.so could not be loaded.";
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
// The track, then minutes, seconds and frames into it.
inline constexpr const char* kFmtCDReadError = "Read error in track %d at %02d:%02d:%02d";
inline constexpr const char* kFmtCDUnverified = "Paranoia could not verify track %d at %02d:%02d:%02d";
// Eject and Close on a drive that has no tray, or a tray that does not move.
inline constexpr const char* kMsgCDImageHasNoTray = "A disc image has no tray.";
inline constexpr const char* kMsgCDCannotEject = "The drive cannot open its tray.";
inline constexpr const char* kMsgCDCannotCloseTray = "The drive cannot close its tray.";

// The CD player.
inline constexpr const char* kMsgCDPlayerNotReady = "Device is not ready";
inline constexpr const char* kMsgCDPlayDataTrack = "Trying to play a data track.";
// The audio device's name, then the audio library's text for its error.
inline constexpr const char* kFmtAudioDeviceNotOpened = "Cannot open the audio device %s: %s";
inline constexpr const char* kFmtAudioDeviceFailed = "The audio device %s failed: %s";

// ---- tags -----------------------------------------------------------------------

// Source class name (or nil), destination class name.
inline constexpr const char* kFmtCannotAssign = "Cannot assign a %s to a %s";

// ---- app ------------------------------------------------------------------------

inline constexpr const char* kMsgNotARegularFile = "Not a regular file";
// A settings text that must be an integer but is not; %s is the text.
inline constexpr const char* kFmtNotValidInteger = "'%s' is not a valid integer value";
// A listed file whose format has no source in this build; %s is its extension.
inline constexpr const char* kFmtNoSourceForExt = "No reader for %s files";
// Start with an output type this build cannot write; %d is the type.
inline constexpr const char* kFmtNoOutputType = "Output type %d is not supported";
// An output that takes a free name beside a taken one, or a row skipped
// because its output exists; %s is the output's name.
inline constexpr const char* kFmtOutputWritten = "Written to %s";
inline constexpr const char* kFmtOutputExists = "Skipped: %s exists";
// The check of an output against its source before the source is deleted.
// Each ends in what became of the source.
inline constexpr const char* kMsgCheckOutputEndedEarly =
    "The conversion ended before its source did; the source was kept";
inline constexpr const char* kMsgCheckOutputEmpty = "The output holds no audio; the source was kept";
inline constexpr const char* kMsgCheckFormatDiffers =
    "The output's sample format differs from its source's; the source was kept";
// %d: the frames decoded from the output, the frames that were written.
inline constexpr const char* kFmtCheckLengthDiffers =
    "The output holds %d samples where %d were written; the source was kept";
inline constexpr const char* kMsgCheckSamplesDiffer =
    "The output's samples differ from its source's; the source was kept";
// %s: why the output could not be decoded.
inline constexpr const char* kFmtCheckUnreadable = "The output cannot be read back (%s); the source was kept";

// The list of input files: one row per file, in the order added, with the
// cells the window shows, a check box and a state image. Folder walking and
// the row texts live here so the window and the command line list files
// identically.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include "platform/messages.h"

// Skipped: not converted, its output exists (the source is kept).
enum class TRowImage { None, InProgress, Done, Failed, Skipped };

struct TFileRow {
  std::string Caption;     // "Filename": the file name without its folder
  std::string Length;      // "Length": m:ss
  std::string Samplerate;  // "Samplerate": "44100 Hz"
  std::string Bitrate;     // "Bitrate": "16 bps" or "128 kbps"
  std::string Path;        // hidden "Path": the full path
  bool Checked = true;
  TRowImage Image = TRowImage::None;
  std::string Message;  // why the row failed or was skipped, or where its output went
  // The CD track the row stands for (Get Tracks); 0 for a file.
  int Track = 0;
  // Tells rows apart while others are added or deleted around them. Rows are
  // only ever appended, so Ids rise from the first row to the last.
  std::uint64_t Id = 0;
};

// One entry of the Add Files dialog's filter.
struct TFileFilter {
  std::string Description;  // "WAV Files (*.wav)"
  std::string Patterns;     // "*.wav", several separated by ';'
};

// What probing a file reports for its row.
struct TProbeResult {
  std::int64_t Seconds = 0;
  int SampleRate = 0;
  std::string BitrateText;
};

// Opens a file with the source of its extension and reads its length, rate
// and bit rate (or bits per sample). Throws on a file the source rejects;
// nothing when this build has no source for the format (the file is skipped
// like one of an unsupported extension).
class TSourceProber {
 public:
  virtual ~TSourceProber() = default;
  // ext is the lower-cased extension with its dot, one of SupportedExtensions.
  virtual std::optional<TProbeResult> Probe(const std::filesystem::path& path, const std::string& ext) = 0;
};

class TFileList {
 public:
  // Notified after each change; index -1 means "everything changed".
  std::function<void()> OnReset;
  std::function<void(int)> OnRowAdded;
  std::function<void(int)> OnRowChanged;
  std::function<void(int)> OnRowRemoved;

  TFileList(TSourceProber& prober, const bool& subdirs) : prober_(prober), subdirs_(subdirs) {}

  // The extensions of every format of the catalog.
  static const std::vector<std::string>& SupportedExtensions();
  // The open dialog's filter: all supported files, then one entry per
  // format, with the patterns of the catalog and the descriptions of the
  // language's "OpenDialog1.Filter" (or the format's own where it has none).
  static std::vector<TFileFilter> OpenFilters(std::string_view languageFilter);
  // Lower-cased extension with its dot ("" when there is none).
  static std::string LowerExt(const std::filesystem::path& path);
  // 185 s -> "3:05", 3725 s -> "62:05", 7 s -> "0:07".
  static std::string LengthText(std::int64_t seconds);

  int Count() const { return static_cast<int>(rows_.size()); }
  const TFileRow& Row(int index) const { return rows_.at(static_cast<std::size_t>(index)); }
  // The index of the row with this Id, or -1 when it is no longer listed.
  int IndexOfId(std::uint64_t id) const;
  // The index of the first row added after the row with this Id, listed or
  // not; Count() when there is none.
  int IndexAfterId(std::uint64_t id) const;

  // Each path: a folder (also through a symbolic link) is scanned, a regular
  // file is added, anything else is not listed. A path that cannot be listed
  // (missing, not a regular file, a probe that raises) is passed over and the
  // rest are added all the same; the result holds one "<path>: <reason>" for
  // each, in the order met.
  std::vector<std::string> AddPaths(const std::vector<std::string>& paths);
  // Adds the regular files of a folder (symbolic links to them too; links to
  // folders are not followed), and of its subfolders when "subdirs" is set.
  // What cannot be listed goes into errors as in AddPaths.
  void ScanFolder(std::string folder, std::vector<std::string>& errors);
  // The same walk, always into subfolders, collecting the regular files.
  static void CollectFolder(std::string folder, std::vector<std::string>& into);
  // Throws what probing the file raises.
  void AddFile(const std::string& path);
  // Appends a row made elsewhere (a CD track); its Id is assigned here.
  void AddRow(TFileRow row);

  void Clear();
  // Removes the rows at the given indexes; returns how many were removed.
  int Delete(std::vector<int> indexes);
  void SetAllChecked(bool checked);
  void SetChecked(int index, bool checked);
  void SetState(int index, TRowImage image, std::string message = std::string());

 private:
  void Changed(int index);
  // AddFile, with what it raises put into errors under the file's path.
  void AddListedFile(const std::string& path, std::vector<std::string>& errors);

  TSourceProber& prober_;
  const bool& subdirs_;
  std::vector<TFileRow> rows_;
  std::uint64_t nextId_ = 1;
};


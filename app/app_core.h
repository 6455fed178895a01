// Everything the window and the command line share: the settings, the
// interface texts, the pipeline components, the format routing, the file list
// and the conversion and grab drivers, wired together. A view supplies what is shown.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/conversion_driver.h"
#include "app/file_list.h"
#include "app/format_routing.h"
#include "app/grab_driver.h"
#include "app/language_table.h"
#include "app/pipeline_set.h"
#include "app/settings.h"

class TAppCore {
 public:
  // Settings start from the defaults; nothing is read yet.
  explicit TAppCore(TDriverView& view);
  ~TAppCore();
  TAppCore(const TAppCore&) = delete;
  TAppCore& operator=(const TAppCore&) = delete;

  // Reads the settings from an INI file (a missing file gives defaults)
  // and applies "threadPrioriry" to the WAV sink, as at program start.
  void LoadSettings(const std::filesystem::path& file);
  // Writes every key; raises "Unable to write to %s".
  void SaveSettings(const std::filesystem::path& file) const;

  // Applies <LanguageDir>/<name>.ini to the texts; a missing file changes
  // nothing.
  void LoadLanguage(const std::string& name);

  // Adding files: RunMode becomes "convert" and the CD popup goes away.
  // Returns one message for each path that could not be listed, naming it;
  // the other paths are listed all the same (TFileList::AddPaths).
  [[nodiscard]] std::vector<std::string> AddPaths(const std::vector<std::string>& paths);
  // A drop replaces the list (when anything was dropped).
  [[nodiscard]] std::vector<std::string> DropPaths(const std::vector<std::string>& paths);
  // Add Folder after the folder was chosen: stores it in "OutputDir" (with a
  // trailing '/') and lists its whole tree.
  [[nodiscard]] std::vector<std::string> AddFolder(const std::string& folder);

  TSettings Settings;
  TLanguageTable Language;
  std::filesystem::path LanguageDir;
  // Declared in this order: the list and the driver refer to the components,
  // and the components (their sinks' worker threads) go first at destruction.
  TPipelineSet Components;
  TFormatRouting Routing;
  TFileList Files;
  TConversionDriver Driver;
  // Get Tracks, the grab run, the tray and the drive list; plugs itself into
  // Driver's Grab routes.
  TGrabDriver Grab;

 private:
  void ApplyThreadPriority();
  TDriverView& view_;
};

// The conversion driver: turns the checked rows of the file list into output
// files, one row after another. Each row is started on the main thread; the
// sink converts on its worker thread and reports back through OnProgress and
// OnDone, whose handlers start the next row. The window and the command line
// are views of the same driver.
#pragma once

#include <functional>
#include <string>

#include "app/file_list.h"
#include "app/format_routing.h"
#include "app/language_table.h"
#include "app/settings.h"
#include "pipeline/au_output.h"
#include "platform/messages.h"

// The project's version, from the build.
#ifndef QUELLMARK_VERSION
#define QUELLMARK_VERSION "1.1"
#endif
inline constexpr const char* kAppVersion = QUELLMARK_VERSION;
inline constexpr const char* kAppCaption = "Quellmark Audio Converter " QUELLMARK_VERSION;
inline constexpr const char* kRunModeConvert = "convert";
inline constexpr const char* kRunModeGrab = "grab";

// What the driver shows; the window and the command line implement it.
class TDriverView {
 public:
  virtual ~TDriverView() = default;
  virtual void ShowProgressPanel(bool visible) = 0;
  virtual void SetGauge(int percent) = 0;
  // The application title (task bar text).
  virtual void SetTitle(const std::string& title) = 0;
  virtual void SetStatus(const std::string& text) = 0;
  // The standard error box.
  virtual void ShowError(const std::string& message) = 0;
  // The running row's progress (0..100) and the caption the title shows
  // with it.
  virtual void RowProgress(int percent, const std::string& caption) {}
  // Preparing a row raised error, so it was not started; RowFinished with
  // the same error follows. The window shows it in the standard error box.
  virtual void RowNotStarted(const std::string& error) { ShowError(error); }
  // A row has ended: error is empty when its output was written. index is
  // -1 when the row was deleted while it converted.
  virtual void RowFinished(int index, const std::string& outputPath, const std::string& error) {}
  // Adding files takes the CD player's popup menu away from the list.
  virtual void RemoveListPopup() {}
  // Get Tracks gives it back.
  virtual void RestoreListPopup() {}
  // The grab driver started the row of this track (the row's index + 1).
  virtual void TrackStarted(int track) {}
};

class TConversionDriver {
 public:
  TConversionDriver(TSettings& settings, TFileList& files, TFormatRouting& routing,
                    const TLanguageTable& language, TDriverView& view);
  ~TConversionDriver();
  TConversionDriver(const TConversionDriver&) = delete;
  TConversionDriver& operator=(const TConversionDriver&) = delete;

  // Binds OnDone and OnProgress of every routed sink to this driver.
  void BindSinks();

  // Convert menu.
  void MStartClick();
  void MPauseClick();
  void MStopClick();
  // Toolbar: routed by RunMode to the Convert or the Grab menu.
  void tbConvertClick();
  void tbPauseClick();
  void tbStopClick();

  void StartItem(int index);
  // Source, wiring and tags of the current row; false when the extension has
  // no source.
  bool PrepareChain(const std::string& sourceExt);
  void Progress(TComponent* sender);
  void OutputDone(TComponent* sender);
  void EndRun();

  // The grab driver (CD) plugs in here; without it the Grab routes do nothing.
  std::function<void()> GrabStart;
  std::function<void()> GrabPause;
  std::function<void()> GrabStop;
  std::function<void(int)> StartGrabItem;

  std::string RunMode;
  bool Running = false;
  bool RunPaused = false;
  int CurrentIndex = 0;
  TAuFileOut* CurrentOutput = nullptr;
  std::string SourcePath;
  std::string SourceExt;
  std::string OutputExt;
  std::string OutputPath;

 private:
  // Steps 3.. of StartItem for a checked row; throws what preparing raises.
  void StartCheckedItem(int index);
  void HideAfterEnd();
  // Rows may be deleted, added or replaced while a row converts, also by the
  // view while it is told something: finds the converting row again by its
  // Id and moves CurrentIndex to it. False when the row is gone; CurrentIndex
  // then stands just before the first row listed after it, so the run goes
  // on there.
  bool FindCurrentRow();

  TSettings& settings_;
  TFileList& files_;
  TFormatRouting& routing_;
  const TLanguageTable& language_;
  TDriverView& view_;
  const TSinkRoute* currentSink_ = nullptr;
  std::uint64_t currentRowId_ = 0;
};

// OutputPath of a row: beside the source with asInput, else in OutputDir;
// a source already of the output's extension gets it once more, so a file is
// never written over itself.
std::string MakeOutputPath(const std::string& sourcePath, const std::string& caption,
                           const TSettings& settings, const std::string& outputExt);

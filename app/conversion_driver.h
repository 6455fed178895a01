// The conversion driver: turns the checked rows of the file list into output
// files, one row after another. Each row is started on the main thread; the
// sink converts on its worker thread and reports back through OnProgress and
// OnDone, whose handlers start the next row. The window and the command line
// are views of the same driver.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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
  // With several rows at once: a running row's own progress (0..100), by
  // its index in the list.
  virtual void RowPercent(int index, int percent) {}
  // With several rows at once: the whole run's progress (0..100), the
  // number of rows running and the estimated seconds left (-1 while unknown).
  // caption is the row that reported last.
  virtual void RunProgress(int percent, const std::string& caption, int runningRows, int secondsLeft) {}
  // A conversion row is about to be prepared and started; RowFinished
  // follows for it (also when preparing it fails).
  virtual void RowStarted(int index) {}
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

class TPipelineSet;

// The rows converted at once: "jobs" with 0 standing for one per core.
int EffectiveJobs(int jobs);

class TConversionDriver {
 public:
  TConversionDriver(TSettings& settings, TFileList& files, TFormatRouting& routing,
                    const TLanguageTable& language, TDriverView& view);
  ~TConversionDriver();
  TConversionDriver(const TConversionDriver&) = delete;
  TConversionDriver& operator=(const TConversionDriver&) = delete;

  // Binds OnDone and OnProgress of every routed sink to this driver.
  void BindSinks();
  // Stops and destroys the pipeline sets made for rows beyond the first;
  // the owner calls it before its own set goes. The driver takes no more
  // events after it.
  void ReleaseLanes();

  // Convert menu.
  void MStartClick();
  void MPauseClick();
  void MStopClick();
  // Toolbar: routed by RunMode to the Convert or the Grab menu.
  void tbConvertClick();
  void tbPauseClick();
  void tbStopClick();

  // Starts checked rows from index on until every lane is busy (one lane
  // with "jobs" 1), passing over unchecked rows.
  void StartItem(int index);
  // Source, wiring and tags of the current row on the first lane; false
  // when the extension has no source.
  bool PrepareChain(const std::string& sourceExt);
  void Progress(TComponent* sender);
  void OutputDone(TComponent* sender);
  void EndRun();

  // The rows converting now.
  int RunningRows() const { return static_cast<int>(rows_.size()); }
  // The pipeline sets made so far (1 until a run needs more).
  int Lanes() const { return static_cast<int>(lanes_.size()); }

  // The grab driver (CD) plugs in here; without it the Grab routes do nothing.
  std::function<void()> GrabStart;
  std::function<void()> GrabPause;
  std::function<void()> GrabStop;
  std::function<void(int)> StartGrabItem;

  std::string RunMode;
  bool Running = false;
  bool RunPaused = false;
  // In a conversion run these name the row started last; the grab driver
  // runs its one row through them.
  int CurrentIndex = 0;
  TAuFileOut* CurrentOutput = nullptr;
  std::string SourcePath;
  std::string SourceExt;
  std::string OutputExt;
  std::string OutputPath;

 private:
  // One pipeline set: the first is the owner's, the others the driver's.
  struct TLane {
    TFormatRouting* Routing = nullptr;
    std::unique_ptr<TPipelineSet> OwnSet;
    std::unique_ptr<TFormatRouting> OwnRouting;
    bool Busy = false;
  };
  // What a running row carries from its start to its end.
  struct TRunningRow {
    std::size_t Lane = 0;
    std::uint64_t RowId = 0;
    std::string Caption;
    std::string SourcePath;
    std::string SourceExt;
    std::string OutputExt;
    std::string OutputPath;
    const TSinkRoute* Route = nullptr;
    TAuFileOut* Output = nullptr;
    // The row's share of the run: its length in seconds (at least 1).
    double Weight = 1;
    int Percent = 0;
  };

  // Starts a checked row on a free lane; throws what preparing raises.
  void StartCheckedItem(int index, std::size_t lane);
  // A free lane, made when fewer than "jobs" exist; lanes_.size() when none.
  std::size_t FreeLane();
  void BindLane(const TFormatRouting& routing);
  void HideAfterEnd();
  // The grab driver's row: one at a time, followed by CurrentIndex.
  void GrabProgress();
  void GrabOutputDone(TComponent* sender);
  // The row's index in the list, or -1 when it was deleted.
  int IndexOf(const TRunningRow& row) const;
  TRunningRow* RowOf(const TComponent* sender);
  void ShowRunProgress(const TRunningRow& row);
  // The checked rows not yet started, from the scan position on, in seconds.
  double WaitingWeight() const;
  static double WeightOf(const TFileRow& row);

  TSettings& settings_;
  TFileList& files_;
  TFormatRouting& routing_;
  const TLanguageTable& language_;
  TDriverView& view_;
  std::vector<TLane> lanes_;
  std::vector<TRunningRow> rows_;
  std::size_t jobs_ = 1;
  // The scan goes on with the first row added after this one (0: from the
  // first row).
  std::uint64_t scannedId_ = 0;
  // The last row the scan met was unchecked.
  bool tailUnchecked_ = false;
  double finishedWeight_ = 0;
  bool stopping_ = false;
  // The gauge and the title show the whole run, not the reporting row.
  bool runDisplay_ = false;
  std::chrono::steady_clock::time_point runStart_;
};

// OutputPath of a row: beside the source with asInput, else in OutputDir;
// a source already of the output's extension gets it once more, so a file is
// never written over itself.
std::string MakeOutputPath(const std::string& sourcePath, const std::string& caption,
                           const TSettings& settings, const std::string& outputExt);

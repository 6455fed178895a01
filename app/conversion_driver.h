// The conversion driver: turns the checked rows of the file list into output
// files, up to "jobs" rows at once, each on a pipeline set of its own (one
// row after another with jobs=1; CD grabs always so). Each row is started on
// the main thread; its sink converts on its worker thread and reports back
// through OnProgress and OnDone, whose handlers check the output, delete the
// source when asked and start the next checked row on the set that freed up.
// The window and the command line are views of the same driver.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/file_list.h"
#include "app/format_routing.h"
#include "app/language_table.h"
#include "app/settings.h"
#include "pipeline/au_output.h"
#include "pipeline/decode_check.h"
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
  // A row was not converted because its output exists ("existingOutput"
  // 2); reason names the output. The source is kept.
  virtual void RowSkipped(int index, const std::string& reason) {}
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

  // The name a row's output goes under, by "existingOutput" (0 keep both,
  // 1 replace, 2 skip the row): a free name beside a taken one, the name
  // itself to be replaced, or none (Skip). Whatever the setting, a file
  // listed as a source and an output whose source this run deleted are
  // never replaced; an output of this run with the same name is replaced
  // unless the setting is 0.
  struct TOutputChoice {
    std::string Path;
    bool Replace = false;
    bool Skip = false;
  };
  TOutputChoice ChooseOutput(const std::string& wanted) const;
  // A run begins: no output of this run written yet.
  void BeginRunNames();

  // Test hook: runs when a row's output is finished and about to be
  // decoded back before its source is deleted.
  std::function<void(const std::string& output)> BeforeCheck;

  std::string RunMode;
  bool Running = false;
  bool RunPaused = false;
  // In a conversion run these name the row started last; the grab driver
  // runs its one row through them.
  int CurrentIndex = 0;
  // The sink of the running row, or the check that decodes its output.
  TAuOutput* CurrentOutput = nullptr;
  std::string SourcePath;
  std::string SourceExt;
  std::string OutputExt;
  std::string OutputPath;

 private:
  // One pipeline set: the first is the owner's, the others the driver's.
  // Check decodes the lane's outputs back, made when first needed.
  struct TLane {
    TFormatRouting* Routing = nullptr;
    std::unique_ptr<TPipelineSet> OwnSet;
    std::unique_ptr<TFormatRouting> OwnRouting;
    std::unique_ptr<TDecodeCheck> Check;
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
    // The name chosen at the start; the name the sink gave it once it ends.
    std::string OutputPath;
    const TSinkRoute* Route = nullptr;
    TAuFileOut* Sink = nullptr;
    // The sink, or the lane's check while the output is decoded back.
    TAuOutput* Output = nullptr;
    bool Checking = false;
    TAuOutput::TInputRecord Written;
    TDecodeTolerance Tolerance;
    // The row's share of the run: its length in seconds (at least 1).
    double Weight = 1;
    int Percent = 0;
    int CheckPercent = 0;
  };

  // Starts a checked row on a free lane under the chosen output name; throws
  // what preparing raises. False when the row is skipped (its output
  // exists), after telling so.
  bool StartCheckedItem(int index, std::size_t lane, const TOutputChoice& choice);
  // A free lane, made when fewer than "jobs" exist; lanes_.size() when none.
  std::size_t FreeLane();
  void BindLane(const TFormatRouting& routing);
  // Starts decoding the row's output back on its lane; false (with error
  // set) when it cannot be checked.
  bool StartCheck(TRunningRow& row, std::string& error);
  // The check's OnDone: the source goes when the output holds its audio.
  void CheckEnded(TRunningRow& row);
  // Takes the row out of the running ones, marks it and starts more rows.
  void FinishRow(TRunningRow& row, const std::string& error);
  // Normal form of a path, for telling names apart.
  static std::string NameKey(const std::string& path);
  bool IsListedSource(const std::string& path) const;
  // An output of this run under the name: written, or being written.
  bool RunOutput(const std::string& key) const;
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
  // Outputs written in this run, and those of them whose source is gone.
  std::set<std::string> runOutputs_;
  std::set<std::string> protectedOutputs_;
  // The part a stopped row left, by name, with the stamp of the file as it
  // was left: while it is unchanged, the row's next output replaces it.
  std::map<std::string, std::string> stoppedParts_;
  void RememberStoppedPart(const TAuOutput* output);
  static std::string FileStamp(const std::string& path);
};

// OutputPath of a row: beside the source with asInput, else in OutputDir;
// a source already of the output's extension gets it once more, so a file is
// never written over itself.
std::string MakeOutputPath(const std::string& sourcePath, const std::string& caption,
                           const TSettings& settings, const std::string& outputExt);

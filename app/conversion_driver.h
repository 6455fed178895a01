// The conversion driver: turns the checked rows of the file list into output
// files, one row after another. Each row is started on the main thread; the
// sink converts on its worker thread and reports back through OnProgress and
// OnDone, whose handlers start the next row. The window and the command line
// are views of the same driver.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

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
  int CurrentIndex = 0;
  // The sink of the running row, or the check that decodes its output.
  TAuOutput* CurrentOutput = nullptr;
  std::string SourcePath;
  std::string SourceExt;
  std::string OutputExt;
  std::string OutputPath;

 private:
  // Steps 3.. of StartItem for a checked row; throws what preparing raises.
  // False when the row is skipped (its output exists), after telling so.
  bool StartCheckedItem(int index);
  // The end of a conversion row that was not stopped: its output's name,
  // the check before the source is deleted, then FinishRow.
  void ConversionEnded(std::string error);
  // Starts decoding the row's output back; false (with error set) when it
  // cannot be checked.
  bool StartCheck(std::string& error);
  // The check's OnDone: the source goes when the output holds its audio.
  void CheckEnded();
  // Marks the row and goes on with the next one.
  void FinishRow(const std::string& error);
  // Normal form of a path, for telling names apart.
  static std::string NameKey(const std::string& path);
  bool IsListedSource(const std::string& path) const;
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
  // The file sink of the running row (CurrentOutput, unless it is checked).
  TAuFileOut* rowSink_ = nullptr;
  // Decodes an output back; its OnDone comes to OutputDone.
  std::unique_ptr<TDecodeCheck> check_;
  bool checking_ = false;
  TAuOutput::TInputRecord written_;
  TDecodeTolerance tolerance_;
  // Outputs written in this run, and those of them whose source is gone.
  std::set<std::string> runOutputs_;
  std::set<std::string> protectedOutputs_;
  // The part a stopped row left, by name, with the stamp of the file as it
  // was left: while it is unchanged, the row's next output replaces it.
  std::map<std::string, std::string> stoppedParts_;
  void RememberStoppedPart();
  static std::string FileStamp(const std::string& path);
};

// OutputPath of a row: beside the source with asInput, else in OutputDir;
// a source already of the output's extension gets it once more, so a file is
// never written over itself.
std::string MakeOutputPath(const std::string& sourcePath, const std::string& caption,
                           const TSettings& settings, const std::string& outputExt);

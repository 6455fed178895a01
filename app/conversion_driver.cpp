#include "app/conversion_driver.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "pipeline/au_exception.h"

namespace fs = std::filesystem;

std::string MakeOutputPath(const std::string& sourcePath, const std::string& caption,
                           const TSettings& settings, const std::string& outputExt) {
  fs::path out;
  if (settings.asInput) {
    out = fs::path(sourcePath).replace_extension(outputExt);
  } else {
    out = fs::path(settings.OutputDir) / fs::path(caption).replace_extension(outputExt);
  }
  std::string path = out.string();
  if (TFileList::LowerExt(sourcePath) == outputExt) path += outputExt;
  return path;
}

TConversionDriver::TConversionDriver(TSettings& settings, TFileList& files, TFormatRouting& routing,
                                     const TLanguageTable& language, TDriverView& view)
    : settings_(settings), files_(files), routing_(routing), language_(language), view_(view) {}

TConversionDriver::~TConversionDriver() = default;

void TConversionDriver::BindSinks() {
  for (const TSinkRoute& route : routing_.Sinks()) {
    route.Sink->OnDone = [this](TComponent* sender) { OutputDone(sender); };
    route.Sink->OnProgress = [this](TComponent* sender) { Progress(sender); };
  }
}

void TConversionDriver::MStartClick() {
  RunMode = kRunModeConvert;
  if (files_.Count() == 0) return;
  RunPaused = false;
  if (Running) {
    if (CurrentOutput != nullptr) CurrentOutput->Resume();
    return;
  }
  if (routing_.SinkFor(settings_.outputType) == nullptr) {
    view_.ShowError(FormatMessage(kFmtNoOutputType, {settings_.outputType}));
    return;
  }
  CurrentIndex = 0;
  StartItem(0);
}

void TConversionDriver::StartItem(int index) {
  // Unchecked rows are passed over in a loop rather than by recursion, so a
  // long list of them cannot exhaust the stack.
  CurrentIndex = index;
  for (;;) {
    if (CurrentIndex < 0 || CurrentIndex >= files_.Count()) {
      EndRun();
      return;
    }
    if (!files_.Row(CurrentIndex).Checked) {
      if (CurrentIndex < files_.Count() - 1) {
        ++CurrentIndex;
        continue;
      }
      EndRun();  // the progress panel stays as it is
      return;
    }
    try {
      StartCheckedItem(CurrentIndex);
      return;
    } catch (const std::exception& e) {
      // The row could not be prepared (a setting that does not convert, a
      // source that cannot be read): report it, keep it checked for a later
      // Start, and go on with the next row as after a failed conversion.
      const std::string message = e.what();
      if (FindCurrentRow()) files_.SetState(CurrentIndex, TRowImage::Failed, message);
      view_.RowNotStarted(message);
      const bool listed = FindCurrentRow();
      view_.RowFinished(listed ? CurrentIndex : -1, OutputPath, message);
      FindCurrentRow();
      if (CurrentIndex < files_.Count() - 1) {
        ++CurrentIndex;
        continue;
      }
      EndRun();
      HideAfterEnd();
      return;
    }
  }
}

void TConversionDriver::StartCheckedItem(int index) {
  // A copy, taken before the view is told anything: it may change the list.
  const TFileRow row = files_.Row(index);
  currentRowId_ = row.Id;
  Running = true;
  files_.SetState(index, TRowImage::InProgress);
  view_.ShowProgressPanel(true);
  SourcePath = row.Path;
  SourceExt = TFileList::LowerExt(SourcePath);
  OutputPath.clear();
  if (!PrepareChain(SourceExt)) {
    throw EAuException(FormatMessage(kFmtNoSourceForExt, {SourceExt}));
  }
  OutputPath = MakeOutputPath(SourcePath, row.Caption, settings_, OutputExt);
  routing_.Configure(*currentSink_, settings_, OutputPath);
  CurrentOutput = currentSink_->Sink;
  if (settings_.threadPrioriry >= kMinThreadPriority && settings_.threadPrioriry <= kMaxThreadPriority) {
    CurrentOutput->SetThreadPriority(settings_.threadPrioriry);
  }
  CurrentOutput->Run();
  // A pause asked for while the previous row was ending holds for this one.
  if (RunPaused) CurrentOutput->Pause();
}

bool TConversionDriver::PrepareChain(const std::string& sourceExt) {
  const TSourceRoute* source = routing_.SourceFor(sourceExt);
  currentSink_ = routing_.SinkFor(settings_.outputType);
  if (source == nullptr || currentSink_ == nullptr) return false;
  OutputExt = routing_.OutputExtFor(settings_.outputType);
  routing_.Connect(*currentSink_, *source, SourcePath);
  return true;
}

bool TConversionDriver::FindCurrentRow() {
  // The grab driver places CurrentIndex itself (its Stop moves it to the
  // last row on purpose); only conversion rows are followed.
  if (RunMode != kRunModeConvert || currentRowId_ == 0) return true;
  const int index = files_.IndexOfId(currentRowId_);
  if (index >= 0) {
    CurrentIndex = index;
    return true;
  }
  // Rows keep the order of their Ids, so the first row with a later Id is
  // the one that followed the converting row, whatever went with it: rows
  // above it, rows after it, or the whole list replaced by a drop.
  CurrentIndex = files_.IndexAfterId(currentRowId_) - 1;
  return false;
}

void TConversionDriver::Progress(TComponent* sender) {
  if (CurrentOutput == nullptr) return;
  const bool listed = FindCurrentRow();
  const int gauge = std::clamp(CurrentOutput->Progress(), 0, 100);
  view_.SetGauge(gauge);
  std::string caption;
  if (listed && CurrentIndex >= 0 && CurrentIndex < files_.Count()) {
    caption = files_.Row(CurrentIndex).Caption;
  } else if (RunMode == kRunModeConvert) {
    // The row was deleted: the caption it had, not its neighbour's.
    caption = fs::path(SourcePath).filename().string();
  }
  view_.SetTitle(std::to_string(gauge) + "% - " + caption);
  view_.RowProgress(gauge, caption);
  if (RunMode == kRunModeConvert) {
    view_.SetStatus(language_.Text("StringConverting") + fs::path(SourcePath).filename().string());
  }
}

void TConversionDriver::OutputDone(TComponent* sender) {
  if (sender != CurrentOutput || CurrentOutput == nullptr) return;
  const std::string error = CurrentOutput->ExceptionMessage;
  const bool listed = FindCurrentRow();
  if (CurrentOutput->LastRunStopped && error.empty()) {
    // A run that was stopped (Stop(true) lets OnDone follow) has written
    // part of its output only: it ends the run like the Stop command.
    if (listed && CurrentIndex >= 0 && CurrentIndex < files_.Count()) files_.SetState(CurrentIndex, TRowImage::None);
    EndRun();
    HideAfterEnd();
    return;
  }
  if (listed && CurrentIndex >= 0 && CurrentIndex < files_.Count()) {
    if (error.empty()) {
      files_.SetState(CurrentIndex, TRowImage::Done);
      files_.SetChecked(CurrentIndex, false);
    } else {
      // A failed row stays checked, so the next Start tries it again.
      files_.SetState(CurrentIndex, TRowImage::Failed, error);
    }
  }
  if (RunMode == kRunModeConvert && settings_.deleteSource && error.empty()) {
    // The source is the user's only copy until the output exists.
    std::error_code ec;
    if (!OutputPath.empty() && fs::exists(OutputPath, ec) &&
        !fs::equivalent(OutputPath, SourcePath, ec)) {
      fs::remove(SourcePath, ec);
    }
  }
  view_.RowFinished(listed ? CurrentIndex : -1, OutputPath, error);
  FindCurrentRow();
  if (CurrentIndex < files_.Count() - 1) {
    ++CurrentIndex;
    if (RunMode == kRunModeConvert) {
      StartItem(CurrentIndex);
    } else if (RunMode == kRunModeGrab && StartGrabItem) {
      StartGrabItem(CurrentIndex);
    }
  } else {
    EndRun();
    HideAfterEnd();
  }
}

void TConversionDriver::EndRun() {
  Running = false;
  RunPaused = false;
  view_.SetGauge(0);
  view_.SetTitle(kAppCaption);
  view_.SetStatus(std::string());
}

void TConversionDriver::HideAfterEnd() { view_.ShowProgressPanel(false); }

void TConversionDriver::MPauseClick() {
  if (Running && !RunPaused && CurrentOutput != nullptr) {
    RunPaused = true;
    CurrentOutput->Pause();
  }
}

void TConversionDriver::MStopClick() {
  if (!Running) return;
  if (CurrentOutput != nullptr) CurrentOutput->Stop(false);
  Running = false;
  RunPaused = false;
  view_.SetGauge(0);
  if (FindCurrentRow() && CurrentIndex >= 0 && CurrentIndex < files_.Count()) {
    files_.SetState(CurrentIndex, TRowImage::None);
  }
  view_.SetStatus(std::string());
  view_.ShowProgressPanel(false);
}

void TConversionDriver::tbConvertClick() {
  if (RunMode == kRunModeConvert) {
    MStartClick();
  } else if (RunMode == kRunModeGrab && GrabStart) {
    GrabStart();
  }
}

void TConversionDriver::tbPauseClick() {
  if (RunMode == kRunModeConvert) {
    MPauseClick();
  } else if (RunMode == kRunModeGrab && GrabPause) {
    GrabPause();
  }
}

void TConversionDriver::tbStopClick() {
  if (RunMode == kRunModeConvert) {
    MStopClick();
  } else if (RunMode == kRunModeGrab && GrabStop) {
    GrabStop();
  }
}

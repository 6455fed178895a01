#include "app/conversion_driver.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "app/pipeline_set.h"
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

int EffectiveJobs(int jobs) {
  if (jobs <= 0) jobs = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(jobs, 1, kMaxJobs);
}

TConversionDriver::TConversionDriver(TSettings& settings, TFileList& files, TFormatRouting& routing,
                                     const TLanguageTable& language, TDriverView& view)
    : settings_(settings), files_(files), routing_(routing), language_(language), view_(view) {
  TLane first;
  first.Routing = &routing_;
  lanes_.push_back(std::move(first));
}

TConversionDriver::~TConversionDriver() { ReleaseLanes(); }

void TConversionDriver::ReleaseLanes() {
  // Destroying a sink serves the main thread's requests while it waits for
  // its worker: from here on no event of any row reaches the driver or the
  // view, which may be going away as well.
  stopping_ = true;
  rows_.clear();
  while (lanes_.size() > 1) {
    TLane& lane = lanes_.back();
    lane.OwnRouting.reset();
    lane.OwnSet.reset();  // destroying the sinks stops them
    lanes_.pop_back();
  }
}

void TConversionDriver::BindSinks() { BindLane(routing_); }

void TConversionDriver::BindLane(const TFormatRouting& routing) {
  for (const TSinkRoute& route : routing.Sinks()) {
    route.Sink->OnDone = [this](TComponent* sender) { OutputDone(sender); };
    route.Sink->OnProgress = [this](TComponent* sender) { Progress(sender); };
  }
}

std::size_t TConversionDriver::FreeLane() {
  const std::size_t usable = std::min(lanes_.size(), jobs_);
  for (std::size_t i = 0; i < usable; ++i) {
    if (!lanes_[i].Busy) return i;
  }
  if (lanes_.size() >= jobs_) return lanes_.size();
  TLane lane;
  lane.OwnSet = std::make_unique<TPipelineSet>();
  lane.OwnRouting = std::make_unique<TFormatRouting>(*lane.OwnSet);
  lane.Routing = lane.OwnRouting.get();
  BindLane(*lane.Routing);
  lanes_.push_back(std::move(lane));
  return lanes_.size() - 1;
}

double TConversionDriver::WeightOf(const TFileRow& row) {
  // "m:ss"; a row whose length is unknown counts as one second.
  int minutes = 0;
  int seconds = 0;
  if (std::sscanf(row.Length.c_str(), "%d:%d", &minutes, &seconds) != 2) return 1;
  return std::max(1.0, minutes * 60.0 + seconds);
}

int TConversionDriver::IndexOf(const TRunningRow& row) const { return files_.IndexOfId(row.RowId); }

TConversionDriver::TRunningRow* TConversionDriver::RowOf(const TComponent* sender) {
  for (TRunningRow& row : rows_) {
    if (row.Output == sender) return &row;
  }
  return nullptr;
}

void TConversionDriver::MStartClick() {
  RunMode = kRunModeConvert;
  if (files_.Count() == 0) return;
  RunPaused = false;
  if (Running) {
    if (rows_.empty()) {
      if (CurrentOutput != nullptr) CurrentOutput->Resume();
    } else {
      for (const TRunningRow& row : rows_) row.Output->Resume();
    }
    return;
  }
  if (routing_.SinkFor(settings_.outputType) == nullptr) {
    view_.ShowError(FormatMessage(kFmtNoOutputType, {settings_.outputType}));
    return;
  }
  jobs_ = static_cast<std::size_t>(EffectiveJobs(settings_.jobs));
  // A run of one row, or with one job, shows that row as the gauge and title.
  int checked = 0;
  for (int i = 0; i < files_.Count() && checked < 2; ++i) checked += files_.Row(i).Checked ? 1 : 0;
  runDisplay_ = jobs_ > 1 && checked > 1;
  scannedId_ = 0;
  tailUnchecked_ = false;
  finishedWeight_ = 0;
  runStart_ = std::chrono::steady_clock::now();
  CurrentIndex = 0;
  StartItem(0);
}

void TConversionDriver::StartItem(int index) {
  // Unchecked rows are passed over in a loop rather than by recursion, so a
  // long list of them cannot exhaust the stack. The last row met decides how
  // a run that ends leaves the progress panel: after unchecked rows it stays
  // as it is.
  int next = index;
  while (next >= 0 && next < files_.Count()) {
    const TFileRow& row = files_.Row(next);
    if (!row.Checked) {
      scannedId_ = row.Id;
      CurrentIndex = next;
      tailUnchecked_ = true;
      ++next;
      continue;
    }
    // Two rows writing one file at once would interleave their bytes: a row
    // whose output another running row writes (or reads) waits for it, so
    // the later row still replaces the earlier one's output.
    const std::string output =
        MakeOutputPath(row.Path, row.Caption, settings_, TFormatRouting::OutputExtFor(settings_.outputType));
    const bool clash = std::any_of(rows_.begin(), rows_.end(), [&](const TRunningRow& r) {
      return r.OutputPath == output || r.SourcePath == output || r.OutputPath == row.Path;
    });
    if (clash) return;
    const std::size_t lane = FreeLane();
    if (lane >= lanes_.size()) return;  // every lane is busy
    scannedId_ = row.Id;
    CurrentIndex = next;
    tailUnchecked_ = false;
    try {
      StartCheckedItem(next, lane);
    } catch (const std::exception& e) {
      // The row could not be prepared (a setting that does not convert, a
      // source that cannot be read): report it, keep it checked for a later
      // Start, and go on with the next row as after a failed conversion.
      const std::string message = e.what();
      lanes_[lane].Busy = false;
      int at = files_.IndexOfId(scannedId_);
      if (at >= 0) files_.SetState(at, TRowImage::Failed, message);
      view_.RowNotStarted(message);
      at = files_.IndexOfId(scannedId_);
      view_.RowFinished(at, OutputPath, message);
    }
    next = files_.IndexAfterId(scannedId_);
  }
  if (!rows_.empty()) return;
  EndRun();
  if (!tailUnchecked_) HideAfterEnd();
}

void TConversionDriver::StartCheckedItem(int index, std::size_t lane) {
  // A copy, taken before the view is told anything: it may change the list.
  const TFileRow row = files_.Row(index);
  Running = true;
  files_.SetState(index, TRowImage::InProgress);
  view_.RowStarted(index);
  view_.ShowProgressPanel(true);
  SourcePath = row.Path;
  SourceExt = TFileList::LowerExt(SourcePath);
  OutputPath.clear();
  TFormatRouting& routing = *lanes_[lane].Routing;
  const TSourceRoute* source = routing.SourceFor(SourceExt);
  const TSinkRoute* sink = routing.SinkFor(settings_.outputType);
  if (source == nullptr || sink == nullptr) {
    throw EAuException(FormatMessage(kFmtNoSourceForExt, {SourceExt}));
  }
  OutputExt = routing.OutputExtFor(settings_.outputType);
  routing.Connect(*sink, *source, SourcePath);
  OutputPath = MakeOutputPath(SourcePath, row.Caption, settings_, OutputExt);
  routing.Configure(*sink, settings_, OutputPath);
  CurrentOutput = sink->Sink;
  if (settings_.threadPrioriry >= kMinThreadPriority && settings_.threadPrioriry <= kMaxThreadPriority) {
    CurrentOutput->SetThreadPriority(settings_.threadPrioriry);
  }
  CurrentOutput->Run();
  // Run has not reported yet: its events reach the main thread only after
  // this returns.
  TRunningRow running;
  running.Lane = lane;
  running.RowId = row.Id;
  running.Caption = row.Caption;
  running.SourcePath = SourcePath;
  running.SourceExt = SourceExt;
  running.OutputExt = OutputExt;
  running.OutputPath = OutputPath;
  running.Route = sink;
  running.Output = CurrentOutput;
  running.Weight = WeightOf(row);
  lanes_[lane].Busy = true;
  rows_.push_back(std::move(running));
  // A pause asked for while the previous row was ending holds for this one.
  if (RunPaused) CurrentOutput->Pause();
}

bool TConversionDriver::PrepareChain(const std::string& sourceExt) {
  const TSourceRoute* source = routing_.SourceFor(sourceExt);
  const TSinkRoute* sink = routing_.SinkFor(settings_.outputType);
  if (source == nullptr || sink == nullptr) return false;
  OutputExt = routing_.OutputExtFor(settings_.outputType);
  routing_.Connect(*sink, *source, SourcePath);
  return true;
}

double TConversionDriver::WaitingWeight() const {
  double weight = 0;
  for (int i = files_.IndexAfterId(scannedId_); i < files_.Count(); ++i) {
    if (files_.Row(i).Checked) weight += WeightOf(files_.Row(i));
  }
  return weight;
}

void TConversionDriver::Progress(TComponent* sender) {
  if (stopping_) return;
  TRunningRow* row = RowOf(sender);
  if (row == nullptr) {
    if (CurrentOutput != nullptr && sender == CurrentOutput) GrabProgress();
    return;
  }
  row->Percent = std::clamp(row->Output->Progress(), 0, 100);
  ShowRunProgress(*row);
}

void TConversionDriver::ShowRunProgress(const TRunningRow& row) {
  const std::string name = fs::path(row.SourcePath).filename().string();
  if (!runDisplay_) {
    // One row at a time: the gauge and the title are the row's.
    view_.SetGauge(row.Percent);
    view_.SetTitle(std::to_string(row.Percent) + "% - " + row.Caption);
    view_.RowProgress(row.Percent, row.Caption);
    view_.SetStatus(language_.Text("StringConverting") + name);
    return;
  }
  // Several rows: the gauge and the title show the finished part of the
  // whole run's length, each row its own percentage.
  double total = finishedWeight_ + WaitingWeight();
  double done = finishedWeight_;
  std::string names;
  for (const TRunningRow& r : rows_) {
    total += r.Weight;
    done += r.Weight * r.Percent / 100.0;
    if (!names.empty()) names += ", ";
    names += fs::path(r.SourcePath).filename().string();
  }
  const int percent = total > 0 ? std::clamp(static_cast<int>(done * 100 / total), 0, 100) : 0;
  int secondsLeft = -1;
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - runStart_).count();
  if (done > 0 && elapsed > 0) secondsLeft = static_cast<int>(elapsed * (total - done) / done + 0.5);
  view_.SetGauge(percent);
  view_.SetTitle(std::to_string(percent) + "% - " + row.Caption);
  const int index = IndexOf(row);
  if (index >= 0) view_.RowPercent(index, row.Percent);
  view_.SetStatus(language_.Text("StringConverting") + names);
  view_.RunProgress(percent, row.Caption, RunningRows(), secondsLeft);
}

void TConversionDriver::GrabProgress() {
  const int gauge = std::clamp(CurrentOutput->Progress(), 0, 100);
  view_.SetGauge(gauge);
  std::string caption;
  if (CurrentIndex >= 0 && CurrentIndex < files_.Count()) caption = files_.Row(CurrentIndex).Caption;
  view_.SetTitle(std::to_string(gauge) + "% - " + caption);
  view_.RowProgress(gauge, caption);
  if (RunMode == kRunModeConvert) {
    view_.SetStatus(language_.Text("StringConverting") + fs::path(SourcePath).filename().string());
  }
}

void TConversionDriver::OutputDone(TComponent* sender) {
  if (stopping_) return;
  TRunningRow* found = RowOf(sender);
  if (found == nullptr) {
    if (CurrentOutput != nullptr && sender == CurrentOutput) GrabOutputDone(sender);
    return;
  }
  const TRunningRow row = *found;
  rows_.erase(rows_.begin() + (found - rows_.data()));
  lanes_[row.Lane].Busy = false;
  const std::string error = row.Output->ExceptionMessage;
  int index = IndexOf(row);
  if (row.Output->LastRunStopped && error.empty()) {
    // A run that was stopped (Stop(true) lets OnDone follow) has written
    // part of its output only: it ends the run like the Stop command.
    if (index >= 0) files_.SetState(index, TRowImage::None);
    if (!rows_.empty()) MStopClick();
    EndRun();
    HideAfterEnd();
    return;
  }
  if (index >= 0) {
    if (error.empty()) {
      files_.SetState(index, TRowImage::Done);
      files_.SetChecked(index, false);
    } else {
      // A failed row stays checked, so the next Start tries it again.
      files_.SetState(index, TRowImage::Failed, error);
    }
  }
  if (settings_.deleteSource && error.empty()) {
    // The source is the user's only copy until the output exists.
    std::error_code ec;
    if (!row.OutputPath.empty() && fs::exists(row.OutputPath, ec) &&
        !fs::equivalent(row.OutputPath, row.SourcePath, ec)) {
      fs::remove(row.SourcePath, ec);
    }
  }
  finishedWeight_ += row.Weight;
  index = IndexOf(row);
  view_.RowFinished(index, row.OutputPath, error);
  if (!Running) return;  // the view stopped the run
  StartItem(files_.IndexAfterId(scannedId_));
}

void TConversionDriver::GrabOutputDone(TComponent* sender) {
  const std::string error = CurrentOutput->ExceptionMessage;
  const bool listed = CurrentIndex >= 0 && CurrentIndex < files_.Count();
  if (CurrentOutput->LastRunStopped && error.empty()) {
    if (listed) files_.SetState(CurrentIndex, TRowImage::None);
    EndRun();
    HideAfterEnd();
    return;
  }
  if (listed) {
    if (error.empty()) {
      files_.SetState(CurrentIndex, TRowImage::Done);
      files_.SetChecked(CurrentIndex, false);
    } else {
      files_.SetState(CurrentIndex, TRowImage::Failed, error);
    }
  }
  view_.RowFinished(listed ? CurrentIndex : -1, OutputPath, error);
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
  if (!Running || RunPaused) return;
  if (rows_.empty()) {
    if (CurrentOutput == nullptr) return;
    RunPaused = true;
    CurrentOutput->Pause();
    return;
  }
  RunPaused = true;
  for (const TRunningRow& row : rows_) row.Output->Pause();
}

void TConversionDriver::MStopClick() {
  if (!Running) return;
  // Stopping one row serves the main thread's requests while it waits: the
  // events of the other rows that arrive then are dropped, as theirs will be.
  stopping_ = true;
  if (rows_.empty()) {
    if (CurrentOutput != nullptr) CurrentOutput->Stop(false);
  } else {
    for (const TRunningRow& row : rows_) row.Output->Stop(false);
  }
  stopping_ = false;
  Running = false;
  RunPaused = false;
  view_.SetGauge(0);
  if (rows_.empty()) {
    if (CurrentIndex >= 0 && CurrentIndex < files_.Count()) files_.SetState(CurrentIndex, TRowImage::None);
  } else {
    const std::vector<TRunningRow> stopped = std::move(rows_);
    rows_.clear();
    for (TLane& lane : lanes_) lane.Busy = false;
    for (const TRunningRow& row : stopped) {
      const int index = IndexOf(row);
      if (index >= 0) files_.SetState(index, TRowImage::None);
    }
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

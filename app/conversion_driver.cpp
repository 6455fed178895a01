#include "app/conversion_driver.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <thread>

#include <sys/stat.h>

#include "app/pipeline_set.h"
#include "pipeline/au_exception.h"
#include "pipeline/output_names.h"

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
  // A check reads through its lane's source: it goes first.
  for (TLane& lane : lanes_) lane.Check.reset();
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
  BeginRunNames();
  StartItem(0);
}

void TConversionDriver::BeginRunNames() {
  runOutputs_.clear();
  protectedOutputs_.clear();
}

std::string TConversionDriver::NameKey(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(fs::path(path), ec);
  return (ec ? fs::path(path) : absolute).lexically_normal().string();
}

bool TConversionDriver::IsListedSource(const std::string& path) const {
  const std::string key = NameKey(path);
  const bool onDisk = output_names::ExistsOnDisk(path);
  for (int i = 0; i < files_.Count(); ++i) {
    const TFileRow& row = files_.Row(i);
    if (row.Track > 0) continue;
    if (NameKey(row.Path) == key) return true;
    // The same file under another name (a link, a folder reached twice).
    std::error_code ec;
    if (onDisk && fs::equivalent(row.Path, path, ec)) return true;
  }
  return false;
}

std::string TConversionDriver::FileStamp(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

void TConversionDriver::RememberStoppedPart(const TAuOutput* output) {
  // A check has written nothing: only a file sink leaves a part.
  const auto* sink = dynamic_cast<const TAuFileOut*>(output);
  if (sink == nullptr || sink->OutputFileName().empty()) return;
  const std::string path = sink->OutputFileName().string();
  stoppedParts_[NameKey(path)] = FileStamp(path);
}

TConversionDriver::TOutputChoice TConversionDriver::ChooseOutput(const std::string& wanted) const {
  const int mode = settings_.existingOutput >= 0 && settings_.existingOutput <= 2 ? settings_.existingOutput : 0;
  // What a stopped row of ours left under a name, untouched since.
  auto stoppedPart = [this](const std::string& key, const std::string& path) {
    const auto part = stoppedParts_.find(key);
    return part != stoppedParts_.end() && !part->second.empty() && part->second == FileStamp(path);
  };
  auto taken = [&](const fs::path& p) {
    const std::string key = NameKey(p.string());
    if (RunOutput(key) || IsListedSource(p.string())) return true;
    return output_names::ExistsOnDisk(p) && !stoppedPart(key, p.string());
  };
  auto freeName = [&] {
    const fs::path name = output_names::FreeName(wanted, taken);
    return TOutputChoice{name.string(), output_names::ExistsOnDisk(name), false};
  };
  const std::string key = NameKey(wanted);
  const bool listed = IsListedSource(wanted);
  const bool earlier = RunOutput(key);
  if (!listed && !earlier && !output_names::ExistsOnDisk(wanted)) return {wanted, mode == 1, false};
  if (listed || protectedOutputs_.count(key) != 0) {
    if (mode == 2) return {wanted, false, true};
    return freeName();
  }
  if (!earlier && stoppedPart(key, wanted)) return {wanted, true, false};
  if (earlier) {
    if (mode == 0) return freeName();
    return {wanted, true, false};
  }
  if (mode == 1) return {wanted, true, false};
  if (mode == 2) return {wanted, false, true};
  return freeName();
}

bool TConversionDriver::RunOutput(const std::string& key) const {
  if (runOutputs_.count(key) != 0) return true;
  return std::any_of(rows_.begin(), rows_.end(), [&](const TRunningRow& r) { return NameKey(r.OutputPath) == key; });
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
    // The outputs of running rows count as this run's: "keep both" gives
    // such a row a free name. Two rows writing one file at once would
    // interleave their bytes, so a row that would replace (or read) a file
    // another running row writes (or reads) waits for it, and the later row
    // still replaces the earlier one's output.
    const TOutputChoice choice = ChooseOutput(
        MakeOutputPath(row.Path, row.Caption, settings_, TFormatRouting::OutputExtFor(settings_.outputType)));
    if (!choice.Skip) {
      const std::string output = NameKey(choice.Path);
      const std::string source = NameKey(row.Path);
      const bool clash = std::any_of(rows_.begin(), rows_.end(), [&](const TRunningRow& r) {
        const std::string written = NameKey(r.OutputPath);
        return written == output || NameKey(r.SourcePath) == output || written == source;
      });
      if (clash) return;
    }
    const std::size_t lane = FreeLane();
    if (lane >= lanes_.size()) return;  // every lane is busy
    scannedId_ = row.Id;
    CurrentIndex = next;
    tailUnchecked_ = false;
    try {
      StartCheckedItem(next, lane, choice);
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

bool TConversionDriver::StartCheckedItem(int index, std::size_t lane, const TOutputChoice& choice) {
  // A copy, taken before the view is told anything: it may change the list.
  const TFileRow row = files_.Row(index);
  Running = true;
  view_.ShowProgressPanel(true);
  SourcePath = row.Path;
  SourceExt = TFileList::LowerExt(SourcePath);
  OutputPath.clear();
  TFormatRouting& routing = *lanes_[lane].Routing;
  const TSourceRoute* source = routing.SourceFor(SourceExt);
  const TSinkRoute* sink = routing.SinkFor(settings_.outputType);
  if (source != nullptr && sink != nullptr && choice.Skip) {
    // Not started: the row is told as skipped, never as started.
    OutputPath = choice.Path;
    const std::string reason = FormatMessage(kFmtOutputExists, {OutputPath});
    int at = files_.IndexOfId(row.Id);
    if (at >= 0) files_.SetState(at, TRowImage::Skipped, reason);
    at = files_.IndexOfId(row.Id);
    view_.RowSkipped(at, reason);
    return false;
  }
  files_.SetState(index, TRowImage::InProgress);
  view_.RowStarted(index);
  if (source == nullptr || sink == nullptr) {
    throw EAuException(FormatMessage(kFmtNoSourceForExt, {SourceExt}));
  }
  OutputExt = routing.OutputExtFor(settings_.outputType);
  routing.Connect(*sink, *source, SourcePath);
  OutputPath = choice.Path;
  routing.Configure(*sink, settings_, OutputPath);
  sink->Sink->ReplaceExisting = choice.Replace;
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
  running.Sink = sink->Sink;
  running.Output = CurrentOutput;
  running.Weight = WeightOf(row);
  lanes_[lane].Busy = true;
  rows_.push_back(std::move(running));
  // A pause asked for while the previous row was ending holds for this one.
  if (RunPaused) CurrentOutput->Pause();
  return true;
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
  const int percent = std::clamp(row->Output->Progress(), 0, 100);
  (row->Checking ? row->CheckPercent : row->Percent) = percent;
  ShowRunProgress(*row);
}

void TConversionDriver::ShowRunProgress(const TRunningRow& row) {
  const std::string name = fs::path(row.SourcePath).filename().string();
  // While its output is decoded back, a row shows the check's progress.
  const int shown = row.Checking ? row.CheckPercent : row.Percent;
  if (!runDisplay_) {
    // One row at a time: the gauge and the title are the row's.
    view_.SetGauge(shown);
    view_.SetTitle(std::to_string(shown) + "% - " + row.Caption);
    view_.RowProgress(shown, row.Caption);
    view_.SetStatus(language_.Text(row.Checking ? "StringChecking" : "StringConverting") + name);
    return;
  }
  // Several rows: the gauge and the title show the finished part of the
  // whole run's length, each row its own percentage. A row being checked
  // has converted all of its share.
  double total = finishedWeight_ + WaitingWeight();
  double done = finishedWeight_;
  std::string names;
  for (const TRunningRow& r : rows_) {
    total += r.Weight;
    done += r.Checking ? r.Weight : r.Weight * r.Percent / 100.0;
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
  if (index >= 0) view_.RowPercent(index, shown);
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
  if (found->Checking) {
    CheckEnded(*found);
    return;
  }
  std::string error = found->Output->ExceptionMessage;
  if (found->Output->LastRunStopped && error.empty()) {
    // A run that was stopped (Stop(true) lets OnDone follow) has written
    // part of its output only: it ends the run like the Stop command.
    const TRunningRow row = *found;
    rows_.erase(rows_.begin() + (found - rows_.data()));
    lanes_[row.Lane].Busy = false;
    RememberStoppedPart(row.Sink);
    const int index = IndexOf(row);
    if (index >= 0) files_.SetState(index, TRowImage::None);
    if (!rows_.empty()) MStopClick();
    EndRun();
    HideAfterEnd();
    return;
  }
  // The name the sink finished the output under (a free one when the
  // wanted name was taken meanwhile).
  if (found->Sink != nullptr && !found->Sink->OutputFileName().empty()) {
    found->OutputPath = found->Sink->OutputFileName().string();
    if (CurrentOutput == found->Sink) OutputPath = found->OutputPath;
    runOutputs_.insert(NameKey(found->OutputPath));
  }
  if (settings_.deleteSource && error.empty() && StartCheck(*found, error)) return;
  FinishRow(*found, error);
}

bool TConversionDriver::StartCheck(TRunningRow& row, std::string& error) {
  // The source is the user's only copy until the output is known to hold
  // its audio: decoded back with our own reader, to the end.
  std::error_code ec;
  if (row.Sink == nullptr || row.OutputPath.empty() || !fs::is_regular_file(row.OutputPath, ec)) {
    error = kMsgCheckOutputEmpty;
    return false;
  }
  if (fs::equivalent(row.OutputPath, row.SourcePath, ec)) return false;
  row.Written = row.Sink->InputRecord();
  if (!row.Written.Ended) {
    error = kMsgCheckOutputEndedEarly;
    return false;
  }
  TLane& lane = lanes_[row.Lane];
  const std::string ext = TFileList::LowerExt(row.OutputPath);
  const TSourceRoute* reader = lane.Routing->SourceFor(ext);
  if (reader == nullptr) {
    error = FormatMessage(kFmtCheckUnreadable, {FormatMessage(kFmtNoSourceForExt, {ext})});
    return false;
  }
  const TFormatDescriptor* format = row.Route != nullptr ? row.Route->Format : nullptr;
  // A format that declares nothing must decode to the very length written.
  row.Tolerance = format != nullptr && format->DecodeTolerance ? format->DecodeTolerance(*row.Sink) : TDecodeTolerance{};
  const std::string output = row.OutputPath;
  if (BeforeCheck) BeforeCheck(output);
  if (!lane.Check) {
    lane.Check = std::make_unique<TDecodeCheck>();
    lane.Check->SetName("OutputCheck" + std::to_string(row.Lane + 1));
    lane.Check->OnDone = [this](TComponent* sender) { OutputDone(sender); };
    lane.Check->OnProgress = [this](TComponent* sender) { Progress(sender); };
  }
  TDecodeCheck& check = *lane.Check;
  const bool current = CurrentOutput == row.Sink;
  try {
    reader->Source->SetFileName(output);
    check.SetInput(reader->Source);
    check.HeadBytes = row.Written.Digest.Bytes();
    row.Checking = true;
    row.CheckPercent = 0;
    row.Output = &check;
    if (current) CurrentOutput = &check;
    check.Run();
  } catch (const std::exception& e) {
    row.Checking = false;
    row.Output = row.Sink;
    if (current) CurrentOutput = row.Sink;
    error = FormatMessage(kFmtCheckUnreadable, {e.what()});
    return false;
  }
  if (!runDisplay_) view_.SetGauge(0);
  if (RunPaused) check.Pause();
  return true;
}

void TConversionDriver::CheckEnded(TRunningRow& row) {
  const TDecodeCheck& check = *lanes_[row.Lane].Check;
  row.Checking = false;
  if (CurrentOutput == row.Output) CurrentOutput = row.Sink;
  row.Output = row.Sink;
  std::string error;
  if (!check.ExceptionMessage.empty()) {
    error = FormatMessage(kFmtCheckUnreadable, {check.ExceptionMessage});
  } else if (check.LastRunStopped) {
    error = FormatMessage(kFmtCheckUnreadable, {kMsgCheckOutputEndedEarly});
  } else {
    error = CompareDecoded(row.Written, check, row.Tolerance);
  }
  if (error.empty()) {
    std::error_code ec;
    // A failure to delete is no failure of the row: the output is good.
    fs::remove(row.SourcePath, ec);
    protectedOutputs_.insert(NameKey(row.OutputPath));
  }
  FinishRow(row, error);
}

void TConversionDriver::FinishRow(TRunningRow& running, const std::string& error) {
  const TRunningRow row = running;
  rows_.erase(rows_.begin() + (&running - rows_.data()));
  lanes_[row.Lane].Busy = false;
  int index = IndexOf(row);
  if (index >= 0) {
    if (error.empty()) {
      files_.SetState(index, TRowImage::Done, FormatMessage(kFmtOutputWritten, {row.OutputPath}));
      files_.SetChecked(index, false);
    } else {
      // A failed row stays checked, so the next Start tries it again.
      files_.SetState(index, TRowImage::Failed, error);
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
    RememberStoppedPart(CurrentOutput);
    if (listed) files_.SetState(CurrentIndex, TRowImage::None);
    EndRun();
    HideAfterEnd();
    return;
  }
  const auto* sink = dynamic_cast<const TAuFileOut*>(CurrentOutput);
  if (sink != nullptr && !sink->OutputFileName().empty()) {
    OutputPath = sink->OutputFileName().string();
    runOutputs_.insert(NameKey(OutputPath));
  }
  if (listed) {
    if (error.empty()) {
      files_.SetState(CurrentIndex, TRowImage::Done, FormatMessage(kFmtOutputWritten, {OutputPath}));
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
    if (CurrentOutput != nullptr) {
      CurrentOutput->Stop(false);
      RememberStoppedPart(CurrentOutput);
    }
  } else {
    for (const TRunningRow& row : rows_) {
      row.Output->Stop(false);
      if (!row.Checking) RememberStoppedPart(row.Sink);
    }
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

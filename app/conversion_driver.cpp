#include "app/conversion_driver.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include <sys/stat.h>

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

TConversionDriver::TConversionDriver(TSettings& settings, TFileList& files, TFormatRouting& routing,
                                     const TLanguageTable& language, TDriverView& view)
    : settings_(settings), files_(files), routing_(routing), language_(language), view_(view),
      check_(std::make_unique<TDecodeCheck>()) {
  check_->SetName("OutputCheck1");
  check_->OnDone = [this](TComponent* sender) { OutputDone(sender); };
  check_->OnProgress = [this](TComponent* sender) { Progress(sender); };
}

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

void TConversionDriver::RememberStoppedPart() {
  const auto* sink = dynamic_cast<const TAuFileOut*>(CurrentOutput);
  if (sink == nullptr || checking_ || sink->OutputFileName().empty()) return;
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
    if (runOutputs_.count(key) != 0 || IsListedSource(p.string())) return true;
    return output_names::ExistsOnDisk(p) && !stoppedPart(key, p.string());
  };
  auto freeName = [&] {
    const fs::path name = output_names::FreeName(wanted, taken);
    return TOutputChoice{name.string(), output_names::ExistsOnDisk(name), false};
  };
  const std::string key = NameKey(wanted);
  const bool listed = IsListedSource(wanted);
  const bool earlier = runOutputs_.count(key) != 0;
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
      if (StartCheckedItem(CurrentIndex)) return;
      FindCurrentRow();
      if (CurrentIndex < files_.Count() - 1) {
        ++CurrentIndex;
        continue;
      }
      EndRun();
      HideAfterEnd();
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

bool TConversionDriver::StartCheckedItem(int index) {
  // A copy, taken before the view is told anything: it may change the list.
  const TFileRow row = files_.Row(index);
  currentRowId_ = row.Id;
  Running = true;
  checking_ = false;
  files_.SetState(index, TRowImage::InProgress);
  view_.ShowProgressPanel(true);
  SourcePath = row.Path;
  SourceExt = TFileList::LowerExt(SourcePath);
  OutputPath.clear();
  if (routing_.SourceFor(SourceExt) == nullptr || routing_.SinkFor(settings_.outputType) == nullptr) {
    throw EAuException(FormatMessage(kFmtNoSourceForExt, {SourceExt}));
  }
  const TOutputChoice choice =
      ChooseOutput(MakeOutputPath(SourcePath, row.Caption, settings_, TFormatRouting::OutputExtFor(settings_.outputType)));
  OutputPath = choice.Path;
  if (choice.Skip) {
    const std::string reason = FormatMessage(kFmtOutputExists, {OutputPath});
    if (FindCurrentRow()) files_.SetState(CurrentIndex, TRowImage::Skipped, reason);
    view_.RowSkipped(FindCurrentRow() ? CurrentIndex : -1, reason);
    return false;
  }
  if (!PrepareChain(SourceExt)) {
    throw EAuException(FormatMessage(kFmtNoSourceForExt, {SourceExt}));
  }
  routing_.Configure(*currentSink_, settings_, OutputPath);
  rowSink_ = currentSink_->Sink;
  rowSink_->ReplaceExisting = choice.Replace;
  CurrentOutput = rowSink_;
  if (settings_.threadPrioriry >= kMinThreadPriority && settings_.threadPrioriry <= kMaxThreadPriority) {
    CurrentOutput->SetThreadPriority(settings_.threadPrioriry);
  }
  CurrentOutput->Run();
  // A pause asked for while the previous row was ending holds for this one.
  if (RunPaused) CurrentOutput->Pause();
  return true;
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
    const char* what = checking_ ? "StringChecking" : "StringConverting";
    view_.SetStatus(language_.Text(what) + fs::path(SourcePath).filename().string());
  }
}

void TConversionDriver::OutputDone(TComponent* sender) {
  if (sender != CurrentOutput || CurrentOutput == nullptr) return;
  if (checking_) {
    CheckEnded();
    return;
  }
  const std::string error = CurrentOutput->ExceptionMessage;
  const bool listed = FindCurrentRow();
  if (CurrentOutput->LastRunStopped && error.empty()) {
    // A run that was stopped (Stop(true) lets OnDone follow) has written
    // part of its output only: it ends the run like the Stop command.
    RememberStoppedPart();
    if (listed && CurrentIndex >= 0 && CurrentIndex < files_.Count()) files_.SetState(CurrentIndex, TRowImage::None);
    EndRun();
    HideAfterEnd();
    return;
  }
  rowSink_ = dynamic_cast<TAuFileOut*>(CurrentOutput);
  ConversionEnded(error);
}

void TConversionDriver::ConversionEnded(std::string error) {
  if (rowSink_ != nullptr && !rowSink_->OutputFileName().empty()) {
    OutputPath = rowSink_->OutputFileName().string();
    runOutputs_.insert(NameKey(OutputPath));
  }
  if (RunMode == kRunModeConvert && settings_.deleteSource && error.empty()) {
    if (StartCheck(error)) return;
  }
  FinishRow(error);
}

bool TConversionDriver::StartCheck(std::string& error) {
  // The source is the user's only copy until the output is known to hold
  // its audio: decoded back with our own reader, to the end.
  std::error_code ec;
  if (rowSink_ == nullptr || OutputPath.empty() || !fs::is_regular_file(OutputPath, ec)) {
    error = kMsgCheckOutputEmpty;
    return false;
  }
  if (fs::equivalent(OutputPath, SourcePath, ec)) return false;
  written_ = rowSink_->InputRecord();
  if (!written_.Ended) {
    error = kMsgCheckOutputEndedEarly;
    return false;
  }
  const std::string ext = TFileList::LowerExt(OutputPath);
  const TSourceRoute* reader = routing_.SourceFor(ext);
  if (reader == nullptr) {
    error = FormatMessage(kFmtCheckUnreadable, {FormatMessage(kFmtNoSourceForExt, {ext})});
    return false;
  }
  const TFormatDescriptor* format = currentSink_ != nullptr ? currentSink_->Format : nullptr;
  // A format that declares nothing must decode to the very length written.
  tolerance_ = format != nullptr && format->DecodeTolerance ? format->DecodeTolerance(*rowSink_) : TDecodeTolerance{};
  if (BeforeCheck) BeforeCheck(OutputPath);
  try {
    reader->Source->SetFileName(OutputPath);
    check_->SetInput(reader->Source);
    check_->HeadBytes = written_.Digest.Bytes();
    checking_ = true;
    CurrentOutput = check_.get();
    check_->Run();
  } catch (const std::exception& e) {
    checking_ = false;
    CurrentOutput = rowSink_;
    error = FormatMessage(kFmtCheckUnreadable, {e.what()});
    return false;
  }
  view_.SetGauge(0);
  if (RunPaused) CurrentOutput->Pause();
  return true;
}

void TConversionDriver::CheckEnded() {
  checking_ = false;
  CurrentOutput = rowSink_;
  std::string error;
  if (!check_->ExceptionMessage.empty()) {
    error = FormatMessage(kFmtCheckUnreadable, {check_->ExceptionMessage});
  } else if (check_->LastRunStopped) {
    error = FormatMessage(kFmtCheckUnreadable, {kMsgCheckOutputEndedEarly});
  } else {
    error = CompareDecoded(written_, *check_, tolerance_);
  }
  if (error.empty()) {
    std::error_code ec;
    // A failure to delete is no failure of the row: the output is good.
    fs::remove(SourcePath, ec);
    protectedOutputs_.insert(NameKey(OutputPath));
  }
  FinishRow(error);
}

void TConversionDriver::FinishRow(const std::string& error) {
  const bool listed = FindCurrentRow();
  if (listed && CurrentIndex >= 0 && CurrentIndex < files_.Count()) {
    if (error.empty()) {
      files_.SetState(CurrentIndex, TRowImage::Done, FormatMessage(kFmtOutputWritten, {OutputPath}));
      files_.SetChecked(CurrentIndex, false);
    } else {
      // A failed row stays checked, so the next Start tries it again.
      files_.SetState(CurrentIndex, TRowImage::Failed, error);
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
  if (CurrentOutput != nullptr) {
    CurrentOutput->Stop(false);
    RememberStoppedPart();
  }
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

#include "cli/cli_view.h"

#include <unistd.h>

#include <algorithm>

std::string EscapeControl(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (byte < 0x20 || byte == 0x7f) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    } else {
      // Bytes of 0x80 and above pass: names are kept as the file system has
      // them, valid UTF-8 or not.
      out += c;
    }
  }
  return out;
}

TCliView::TCliView(std::FILE* out, std::FILE* err)
    : out_(out), err_(err), terminal_(::isatty(::fileno(err)) != 0) {}

void TCliView::RowProgress(int percent, const std::string& caption) {
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  const std::string shown = EscapeControl(caption);
  if (terminal_) {
    std::fprintf(err_, "\r\033[K%d%% - %s", percent, shown.c_str());
    progressShown_ = true;
  } else {
    // A log gets every tenth percent, not a hundred lines per file.
    const int tens = percent / 10;
    if (tens == lastTens_) return;
    lastTens_ = tens;
    std::fprintf(err_, "%d%% - %s\n", percent, shown.c_str());
  }
  std::fflush(err_);
}

void TCliView::RunProgress(int percent, const std::string& caption, int runningRows, int secondsLeft) {
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  std::string line = std::to_string(percent) + "% - " + EscapeControl(caption) + " - " + std::to_string(runningRows) +
                     " running";
  if (secondsLeft >= 0) line += " - " + TFileList::LengthText(secondsLeft) + " left";
  if (terminal_) {
    std::fprintf(err_, "\r\033[K%s", line.c_str());
    progressShown_ = true;
  } else {
    const int tens = percent / 10;
    if (tens == lastTens_) return;
    lastTens_ = tens;
    std::fprintf(err_, "%s\n", line.c_str());
  }
  std::fflush(err_);
}

void TCliView::PlayPosition(const std::string& position) {
  if (position.empty()) {
    ClearProgress();
    return;
  }
  if (position == lastPosition_) return;
  lastPosition_ = position;
  if (terminal_) {
    std::fprintf(err_, "\r\033[K%s", position.c_str());
    progressShown_ = true;
  } else {
    std::fprintf(err_, "%s\n", position.c_str());
  }
  std::fflush(err_);
}

void TCliView::ClearProgress() {
  if (terminal_ && progressShown_) {
    std::fprintf(err_, "\r\033[K");
    std::fflush(err_);
  }
  progressShown_ = false;
  lastPercent_ = -1;
  lastTens_ = -1;
  lastPosition_.clear();
}

void TCliView::ShowError(const std::string& message) {
  ClearProgress();
  ++Failures;
  std::fprintf(err_, "error: %s\n", EscapeControl(message).c_str());
  std::fflush(err_);
}

std::string TCliView::SourceOf(int index) const { return RowSource ? RowSource(index) : std::string(); }

void TCliView::RowStarted(int index) {
  TPending row;
  row.Index = index;
  pending_.push_back(std::move(row));
}

void TCliView::RowFinished(int index, const std::string& outputPath, const std::string& error) {
  ClearProgress();
  auto row = std::find_if(pending_.begin(), pending_.end(),
                          [index](const TPending& p) { return !p.Ended && p.Index == index; });
  if (row == pending_.end()) {
    // A row that was never announced (a CD track) prints at once.
    PrintResult(index, outputPath, error);
    return;
  }
  row->Ended = true;
  row->OutputPath = outputPath;
  row->Error = error;
  while (!pending_.empty() && pending_.front().Ended) {
    const TPending front = std::move(pending_.front());
    pending_.pop_front();
    PrintResult(front.Index, front.OutputPath, front.Error);
  }
}

void TCliView::PrintResult(int index, const std::string& outputPath, const std::string& error) {
  if (error.empty()) {
    std::fprintf(out_, "done: %s\n", EscapeControl(outputPath).c_str());
  } else {
    ++Failures;
    std::fprintf(out_, "failed: %s: %s\n", EscapeControl(SourceOf(index)).c_str(), EscapeControl(error).c_str());
  }
  std::fflush(out_);
}

void TCliView::RowSkipped(int index, const std::string& reason) {
  ClearProgress();
  std::fprintf(out_, "skipped: %s: %s\n", EscapeControl(SourceOf(index)).c_str(), EscapeControl(reason).c_str());
  std::fflush(out_);
}

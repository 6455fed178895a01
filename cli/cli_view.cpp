#include "cli/cli_view.h"

#include <cstdlib>

#include <unistd.h>

TCliView::TCliView(std::FILE* out, std::FILE* err)
    : out_(out), err_(err), terminal_(::isatty(::fileno(err)) != 0) {}

void TCliView::SetTitle(const std::string& title) {
  // The driver puts "<percent>% - <file name>" into the title while a row
  // runs and the program's caption back when the run ends.
  if (title == kAppCaption) {
    ClearProgress();
    return;
  }
  if (title == lastProgress_) return;
  lastProgress_ = title;
  if (terminal_) {
    std::fprintf(err_, "\r\033[K%s", title.c_str());
    progressShown_ = true;
  } else {
    // A log gets every tenth percent, not a hundred lines per file.
    const int tens = std::atoi(title.c_str()) / 10;
    if (tens == lastTens_) return;
    lastTens_ = tens;
    std::fprintf(err_, "%s\n", title.c_str());
  }
  std::fflush(err_);
}

void TCliView::ClearProgress() {
  if (terminal_ && progressShown_) {
    std::fprintf(err_, "\r\033[K");
    std::fflush(err_);
  }
  progressShown_ = false;
  lastProgress_.clear();
  lastTens_ = -1;
}

void TCliView::ShowError(const std::string& message) {
  ClearProgress();
  ++Failures;
  std::fprintf(err_, "error: %s\n", message.c_str());
  std::fflush(err_);
}

std::string TCliView::SourceOf(int index) const { return RowSource ? RowSource(index) : std::string(); }

void TCliView::RowFinished(int index, const std::string& outputPath, const std::string& error) {
  ClearProgress();
  if (error.empty()) {
    std::fprintf(out_, "done: %s\n", outputPath.c_str());
  } else {
    ++Failures;
    std::fprintf(out_, "failed: %s: %s\n", SourceOf(index).c_str(), error.c_str());
  }
  std::fflush(out_);
}

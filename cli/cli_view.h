// The command line's view of the conversion driver: one result line per row
// on standard output, the progress of the running row (or of the whole run,
// when several rows run at once) on standard error.
#pragma once

#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "app/conversion_driver.h"

// Text as it goes into one line of output: a newline becomes \n, a tab \t,
// a backslash \\ and any other control byte \xHH, so every file keeps to
// its own line and its tab-separated cells whatever its name holds.
std::string EscapeControl(std::string_view text);

class TCliView : public TDriverView {
 public:
  // Progress is redrawn in place when err is a terminal, else written one
  // line per change.
  TCliView(std::FILE* out, std::FILE* err);

  void ShowProgressPanel(bool visible) override {}
  void SetGauge(int percent) override {}
  void SetTitle(const std::string& title) override {}
  void SetStatus(const std::string& text) override {}
  void ShowError(const std::string& message) override;
  void RowProgress(int percent, const std::string& caption) override;
  // With several files at once: "42% - song.wav - 3 running - 1:05 left".
  void RunProgress(int percent, const std::string& caption, int runningRows, int secondsLeft) override;
  // Where a playing track is ("0:03 / 0:05"): redrawn in place on a
  // terminal, else one line whenever it changes; "" clears it.
  void PlayPosition(const std::string& position);
  // The row's failed: line says it.
  void RowNotStarted(const std::string& error) override {}
  // Result lines come in the order the rows were started, whichever ends
  // first, so a run with several files at once prints what one after
  // another prints.
  void RowStarted(int index) override;
  void RowFinished(int index, const std::string& outputPath, const std::string& error) override;
  // "skipped: SOURCE: REASON"; not a failure.
  void RowSkipped(int index, const std::string& reason) override;

  // Set by the caller before a row starts, for the failed: line.
  std::string SourceOf(int index) const;
  std::function<std::string(int)> RowSource;

  // Rows that failed and errors of no row, each counted once.
  int Failures = 0;

 private:
  void ClearProgress();
  void PrintResult(int index, const std::string& outputPath, const std::string& error);

  // Rows started and not yet printed, in start order; a row's line once it
  // has ended.
  struct TPending {
    int Index = 0;
    bool Ended = false;
    std::string OutputPath;
    std::string Error;
  };
  std::deque<TPending> pending_;

  std::FILE* out_;
  std::FILE* err_;
  bool terminal_;
  bool progressShown_ = false;
  int lastPercent_ = -1;
  int lastTens_ = -1;
  std::string lastPosition_;
};

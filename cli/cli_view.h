// The command line's view of the conversion driver: one result line per row
// on standard output, the progress of the running row on standard error.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "app/conversion_driver.h"

class TCliView : public TDriverView {
 public:
  // Progress is redrawn in place when err is a terminal, else written one
  // line per change.
  TCliView(std::FILE* out, std::FILE* err);

  void ShowProgressPanel(bool visible) override {}
  void SetGauge(int percent) override {}
  void SetTitle(const std::string& title) override;
  void SetStatus(const std::string& text) override {}
  void ShowError(const std::string& message) override;
  void RowFinished(int index, const std::string& outputPath, const std::string& error) override;

  // Set by the caller before a row starts, for the failed: line.
  std::string SourceOf(int index) const;
  std::function<std::string(int)> RowSource;

  int Failures = 0;

 private:
  void ClearProgress();

  std::FILE* out_;
  std::FILE* err_;
  bool terminal_;
  bool progressShown_ = false;
  std::string lastProgress_;
  int lastTens_ = -1;
};

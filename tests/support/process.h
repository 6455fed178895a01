// Running other programs from the tests: a command line through /bin/sh with
// its standard output and standard error caught apart (binary-safe) and its
// exit status; and the check that an independent tool is installed, which
// skips the test cleanly when it is not.
#pragma once

#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace qmtest {

struct TRunResult {
  // The exit status; 128 + the signal's number for a program killed by one;
  // -1 when the shell could not be started.
  int Status = -1;
  bool TimedOut = false;
  std::string Out;
  std::string Err;
  bool Ok() const { return Status == 0; }
};

// Runs `command` with /bin/sh -c, standard input from /dev/null. A command
// still running after `timeout` is killed with its whole process group.
TRunResult RunShell(const std::string& command, std::chrono::seconds timeout = std::chrono::seconds(600));

// The text as one shell word.
std::string Quote(std::string_view text);
inline std::string Quote(const std::filesystem::path& path) { return Quote(std::string_view(path.native())); }
inline std::string Quote(const char* text) { return Quote(std::string_view(text)); }
inline std::string Quote(const std::string& text) { return Quote(std::string_view(text)); }

// The text without the line ends and blanks at its end.
std::string TrimEnd(std::string text);
// What the command wrote to standard output, without the line end.
inline std::string CommandOutput(const std::string& command) { return TrimEnd(RunShell(command).Out); }
// The exit status of a command whose output does not matter.
inline int RunStatus(const std::string& command) { return RunShell(command).Status; }

// An executable of that name is on PATH (or at that path, for a name with a
// slash).
bool HaveTool(std::string_view name);
// /usr/bin/python3 can import the module.
bool HavePythonModule(std::string_view module);
// "" when every tool is there, else a message naming the missing ones.
std::string MissingTools(std::initializer_list<std::string_view> names);
// QUELLMARK_REQUIRE_TOOLS=1 in the environment: a missing tool fails the
// test instead of skipping it (for CI, where every tool must be installed).
bool ToolsRequired();

}  // namespace qmtest

// Skips the running test (or fails it, see ToolsRequired) when `condition`
// does not hold; `what` names what is missing. Use in a test body or SetUp.
#define QM_SKIP_UNLESS(condition, what)                                                   \
  do {                                                                                    \
    if (!(condition)) {                                                                   \
      if (::qmtest::ToolsRequired()) GTEST_FAIL() << "missing: " << (what);               \
      GTEST_SKIP() << "skipped: " << (what) << " is not installed";                       \
    }                                                                                     \
  } while (false)

// Skips the running test when one of the named programs is not on PATH.
#define QM_REQUIRE_TOOLS(...)                                                             \
  do {                                                                                    \
    const std::string qm_missing_ = ::qmtest::MissingTools({__VA_ARGS__});               \
    if (!qm_missing_.empty()) {                                                           \
      if (::qmtest::ToolsRequired()) GTEST_FAIL() << "missing: " << qm_missing_;          \
      GTEST_SKIP() << "skipped: " << qm_missing_ << " not installed";                     \
    }                                                                                     \
  } while (false)

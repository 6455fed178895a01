// quellmark-cli: lists or converts audio files with the rules and settings of
// the window, without it.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "cli/cli_view.h"
#include "pipeline/main_thread_invoker.h"
#include "platform/fp_control.h"

namespace {

constexpr const char* kUsage =
    "usage: quellmark-cli [--settings FILE] [--set KEY=VALUE]... [--probe] PATH...\n"
    "\n"
    "Lists or converts audio files as the Quellmark Audio Converter window does.\n"
    "Settings start from the defaults; --settings reads an INI file of the\n"
    "window's form (section [Options]); each --set overrides one key by its\n"
    "exact name, e.g. --set outputType=0 --set wavSr=44100 --set asInput=0\n"
    "--set OutputDir=/music/converted.\n"
    "PATH: files, or folders scanned as a drop on the window scans them.\n"
    "  --probe  print one line per file: name, length, sample rate, bit rate,\n"
    "           full path, separated by tabs, and exit\n"
    "Otherwise every file is converted; each prints 'done: OUTPUT' or\n"
    "'failed: SOURCE: MESSAGE'. Exit status: 0 all converted, 1 a file failed,\n"
    "2 usage error.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "quellmark-cli: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

struct TOptions {
  std::string settingsFile;
  std::vector<std::pair<std::string, std::string>> sets;
  bool probe = false;
  std::vector<std::string> paths;
};

}  // namespace

int main(int argc, char* argv[]) {
  platform::MaskFloatingPointExceptions();

  TOptions options;
  bool onlyPaths = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (onlyPaths) {
      options.paths.push_back(arg);
    } else if (arg == "--") {
      onlyPaths = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--probe") {
      options.probe = true;
    } else if (arg == "--settings" || arg == "--set") {
      if (i + 1 >= argc) return Usage(arg + " needs a value");
      const std::string value = argv[++i];
      if (arg == "--settings") {
        options.settingsFile = value;
      } else {
        const auto eq = value.find('=');
        if (eq == std::string::npos || eq == 0) return Usage("--set needs KEY=VALUE, not '" + value + "'");
        options.sets.emplace_back(value.substr(0, eq), value.substr(eq + 1));
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else {
      options.paths.push_back(arg);
    }
  }
  if (options.paths.empty()) return Usage("no PATH given");

  TCliView view(stdout, stderr);
  TAppCore core(view);
  view.RowSource = [&core](int index) {
    return index >= 0 && index < core.Files.Count() ? core.Files.Row(index).Path : std::string();
  };

  if (!options.settingsFile.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(options.settingsFile, ec)) {
      return Usage("no settings file " + options.settingsFile);
    }
    core.LoadSettings(options.settingsFile);
  }
  for (const auto& [key, value] : options.sets) {
    std::string problem;
    if (!core.Settings.SetByName(key, value, &problem)) {
      return Usage(problem.empty() ? "cannot set " + key + " to '" + value + "'" : "cannot set " + key + ": " + problem);
    }
  }

  for (const auto& path : options.paths) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
      std::fprintf(stderr, "error: %s: No such file or directory\n", path.c_str());
      return 1;
    }
  }
  try {
    core.DropPaths(options.paths);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    return 1;
  }

  if (options.probe) {
    for (int i = 0; i < core.Files.Count(); ++i) {
      const TFileRow& row = core.Files.Row(i);
      std::printf("%s\t%s\t%s\t%s\t%s\n", row.Caption.c_str(), row.Length.c_str(), row.Samplerate.c_str(),
                  row.Bitrate.c_str(), row.Path.c_str());
    }
    return 0;
  }

  auto& invoker = MainThreadInvoker::Instance();
  core.Driver.MStartClick();
  // The sinks' events reach this thread through the invoker; the run ends
  // when the last row's OnDone finds no next row.
  while (core.Driver.Running) invoker.WaitAndRun(std::chrono::milliseconds(100));
  return view.Failures == 0 ? 0 : 1;
}

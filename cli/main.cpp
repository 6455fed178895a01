// quellmark-cli: lists or converts audio files with the rules and settings of
// the window, without it.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "cli/cli_view.h"
#include "codecs/format_catalog.h"
#include "pipeline/main_thread_invoker.h"
#include "platform/fp_control.h"

namespace {

std::string FormatTrack(const char* pattern, int track) {
  char text[128];
  std::snprintf(text, sizeof text, pattern, track);
  return text;
}

constexpr const char* kUsage =
    "usage: quellmark-cli [--settings FILE] [--set KEY=VALUE]... [-j N] [--probe [--tags]] PATH...\n"
    "       quellmark-cli [--settings FILE] [--set KEY=VALUE]... --grab DRIVE [--tracks LIST]\n"
    "       quellmark-cli [--settings FILE] [--set KEY=VALUE]... --play DRIVE TRACK\n"
    "       quellmark-cli --list-formats | --help | --version\n"
    "\n"
    "Lists or converts audio files as the Quellmark Audio Converter window does.\n"
    "Settings start from the defaults; --settings reads an INI file of the\n"
    "window's form (section [Options]); each --set overrides one key by its\n"
    "exact name, e.g. --set outputType=0 --set wavSr=44100 --set asInput=0\n"
    "--set OutputDir=/music/converted.\n"
    "  -j N     convert N files at once (--set jobs=N; 0, the default, is one\n"
    "           per processor core); a CD is grabbed one track at a time\n"
    "PATH: files, or folders scanned as a drop on the window scans them.\n"
    "  --probe  print one line per file: name, length, sample rate, bit rate,\n"
    "           full path, separated by tabs, and exit; a PATH that is a CD\n"
    "           drive (a device, or a disc image: .cue, .toc, .nrg) prints one\n"
    "           such line per track, as Get Tracks lists them\n"
    "  --tags   with --probe: after each file's line, one line per tag its\n"
    "           format's tag container holds, indented by two blanks:\n"
    "           KEY=VALUE with the container's key (what a conversion carries)\n"
    "  --grab DRIVE  grab the audio tracks of a CD device or a disc image into\n"
    "           OutputDir, each as the configured output type\n"
    "  --tracks LIST  only these tracks, e.g. 1,3-5 (default: every audio track)\n"
    "  --play DRIVE TRACK  play one track of a CD device or a disc image on the\n"
    "           ALSA device audioDevice (default: default) to its end, or until\n"
    "           interrupted; the position goes to standard error, then\n"
    "           'done: DRIVE#TRACK' (or 'stopped: DRIVE#TRACK') to standard output\n"
    "Otherwise every file is converted; each prints 'done: OUTPUT' (the name\n"
    "the output went under), 'failed: SOURCE: MESSAGE', or, when its output\n"
    "exists and existingOutput=2, 'skipped: SOURCE: REASON'. existingOutput:\n"
    "0 keep both (a free name such as 'song (2).mp3'), 1 replace, 2 skip;\n"
    "a listed source is never replaced. A PATH that cannot be listed prints\n"
    "'error: PATH: MESSAGE' and the others go on. In every line a newline,\n"
    "a tab, a backslash and other control bytes are written \\n, \\t, \\\\, \\xHH.\n"
    "Exit status: 0 all converted, 1 a file failed, 2 usage error.\n"
    "Grabbing prints the same lines, a track's SOURCE being DRIVE#NUMBER.\n"
    "  --list-formats  print one line per format: name, extensions read, whether\n"
    "           this build reads them, output type, output extension, whether it\n"
    "           writes it, and the settings keys of the format, separated by tabs\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n";

// "0 WAV, 1 MP3, ...": the values of outputType.
std::string OutputTypes() {
  std::string text;
  for (const TFormatDescriptor* f : format_catalog::All()) {
    if (f->OutputType < 0) continue;
    if (!text.empty()) text += ", ";
    text += std::to_string(f->OutputType) + " " + f->Name;
  }
  return text;
}

void PrintUsage(std::FILE* to) {
  std::fputs(kUsage, to);
  std::fprintf(to, "outputType: %s.\n", OutputTypes().c_str());
}

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "quellmark-cli: %s\n", EscapeControl(problem).c_str());
  PrintUsage(stderr);
  return 2;
}

void ListFormats() {
  for (const TFormatDescriptor* f : format_catalog::All()) {
    std::string exts;
    for (const std::string& ext : f->InputExtensions) exts += (exts.empty() ? "" : ",") + ext;
    std::string keys;
    for (const TFormatSetting& s : f->Settings) keys += (keys.empty() ? "" : ",") + s.Key;
    std::printf("%s\t%s\t%s\t%d\t%s\t%s\t%s\n", f->Name.c_str(), exts.c_str(), f->Reads() ? "yes" : "no",
                f->OutputType, f->OutputExtension.c_str(), f->Writes() ? "yes" : "no", keys.c_str());
  }
}

struct TOptions {
  std::string settingsFile;
  std::vector<std::pair<std::string, std::string>> sets;
  bool probe = false;
  bool tags = false;
  std::string grabDrive;
  std::string trackList;
  std::string playDrive;
  int playTrack = 0;
  std::vector<std::string> paths;
};

volatile std::sig_atomic_t g_interrupted = 0;

void Interrupt(int) { g_interrupted = 1; }

// "M:SS / M:SS" of the track under way.
std::string PlayPositionText(const TCDPlayer& player) {
  return TFileList::LengthText(player.PlayedFrames() / TCDPlayer::kSampleRate) + " / " +
         TFileList::LengthText(player.TrackFrames() / TCDPlayer::kSampleRate);
}

// Plays one track to its end, or until SIGINT or SIGTERM; 0 when it played
// (or was interrupted), 1 when it could not.
int PlayTrack(TAppCore& core, TCliView& view, const std::string& drive, int track) {
  const std::string source = drive + "#" + std::to_string(track);
  TCDPlayer& player = *core.Components.CDPlayer1;
  try {
    if (!core.Grab.UseDrive(drive)) {
      view.ShowError(drive + ": " + kMsgCDNotADrive);
      return 1;
    }
    std::signal(SIGINT, Interrupt);
    std::signal(SIGTERM, Interrupt);
    core.Grab.PlayTrack(track);
  } catch (const std::exception& e) {
    view.ShowError(source + ": " + e.what());
    return 1;
  }
  bool stopped = false;
  while (!player.WaitForEnd(std::chrono::milliseconds(200))) {
    if (g_interrupted != 0) {
      player.Stop();
      stopped = true;
      break;
    }
    view.PlayPosition(PlayPositionText(player));
  }
  view.PlayPosition(PlayPositionText(player));
  const std::string error = player.PlaybackError();
  view.RowSource = [source](int) { return source; };
  if (stopped && error.empty()) {
    view.PlayPosition(std::string());
    std::printf("stopped: %s\n", EscapeControl(source).c_str());
  } else {
    view.RowFinished(0, source, error);
  }
  return error.empty() ? 0 : 1;
}

// "1,3-5" as the set of its track numbers (1..99); false when it is not of
// that form.
bool ParseTrackList(const std::string& text, std::set<int>& tracks) {
  auto number = [](const std::string& part, int& value) {
    if (part.empty() || part.size() > 2 || part.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoi(part);
    return value >= 1 && value <= 99;
  };
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string part = text.substr(at, comma - at);
    const std::size_t dash = part.find('-');
    int first = 0;
    int last = 0;
    if (dash == std::string::npos) {
      if (!number(part, first)) return false;
      last = first;
    } else if (!number(part.substr(0, dash), first) || !number(part.substr(dash + 1), last) || last < first) {
      return false;
    }
    for (int t = first; t <= last; ++t) tracks.insert(t);
    at = comma + 1;
  }
  return !tracks.empty();
}

void PrintRow(const TFileRow& row) {
  std::printf("%s\t%s\t%s\t%s\t%s\n", EscapeControl(row.Caption).c_str(), EscapeControl(row.Length).c_str(),
              EscapeControl(row.Samplerate).c_str(), EscapeControl(row.Bitrate).c_str(),
              EscapeControl(row.Path).c_str());
}

void PrintRows(const TFileList& files) {
  for (int i = 0; i < files.Count(); ++i) PrintRow(files.Row(i));
}

// Each file's line, then the tags its source's container holds.
void PrintRowsWithTags(TAppCore& core, TCliView& view) {
  for (int i = 0; i < core.Files.Count(); ++i) {
    const TFileRow& row = core.Files.Row(i);
    PrintRow(row);
    try {
      for (const auto& [key, value] : core.Routing.ProbeTags(row.Path, TFileList::LowerExt(row.Path))) {
        std::printf("  %s=%s\n", EscapeControl(key).c_str(), EscapeControl(value).c_str());
      }
    } catch (const std::exception& e) {
      view.ShowError(row.Path + ": " + e.what());
    }
  }
}

// Lists the tracks of a drive into the file list; false (the error told)
// when there are none.
bool ListDrive(TAppCore& core, TCliView& view, const std::string& drive) {
  try {
    if (!core.Grab.UseDrive(drive)) {
      view.ShowError(drive + ": " + kMsgCDNotADrive);
      return false;
    }
    const std::string message = core.Grab.ListTracks();
    if (!message.empty()) {
      view.ShowError(drive + ": " + message);
      return false;
    }
  } catch (const std::exception& e) {
    view.ShowError(drive + ": " + e.what());
    return false;
  }
  return true;
}

void RunToEnd(TAppCore& core) {
  auto& invoker = MainThreadInvoker::Instance();
  // The sinks' events reach this thread through the invoker; the run ends
  // when the last row's OnDone finds no next row.
  while (core.Driver.Running) invoker.WaitAndRun(std::chrono::milliseconds(100));
}

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
      PrintUsage(stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("quellmark-cli %s\n", kAppVersion);
      return 0;
    } else if (arg == "--list-formats") {
      ListFormats();
      return 0;
    } else if (arg == "--probe") {
      options.probe = true;
    } else if (arg == "--tags") {
      options.tags = true;
    } else if (arg == "--play") {
      if (i + 2 >= argc) return Usage("--play needs a drive and a track");
      options.playDrive = argv[++i];
      const std::string track = argv[++i];
      if (track.empty() || track.size() > 2 || track.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(track) < 1) {
        return Usage("--play needs a track number from 1 to 99, not '" + track + "'");
      }
      options.playTrack = std::stoi(track);
    } else if (arg == "--grab" || arg == "--tracks") {
      if (i + 1 >= argc) return Usage(arg + " needs a value");
      (arg == "--grab" ? options.grabDrive : options.trackList) = argv[++i];
    } else if (arg == "-j" || arg == "--jobs") {
      if (i + 1 >= argc) return Usage(arg + " needs a value");
      options.sets.emplace_back("jobs", argv[++i]);
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
  if (options.tags && !options.probe) return Usage("--tags goes with --probe");
  std::set<int> tracks;
  if (!options.playDrive.empty()) {
    if (!options.paths.empty() || !options.grabDrive.empty() || !options.trackList.empty() || options.probe) {
      return Usage("--play takes no PATH, --grab, --tracks or --probe");
    }
  } else if (!options.grabDrive.empty()) {
    if (!options.paths.empty()) return Usage("--grab takes no PATH");
    if (!options.trackList.empty() && !ParseTrackList(options.trackList, tracks)) {
      return Usage("--tracks needs a list like 1,3-5, not '" + options.trackList + "'");
    }
  } else if (!options.trackList.empty()) {
    return Usage("--tracks goes with --grab");
  } else if (options.paths.empty()) {
    return Usage("no PATH given");
  }

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

  if (!options.playDrive.empty()) return PlayTrack(core, view, options.playDrive, options.playTrack);

  if (!options.grabDrive.empty() && !options.probe) {
    if (!ListDrive(core, view, options.grabDrive)) return 1;
    if (!tracks.empty()) {
      core.Files.SetAllChecked(false);
      for (const int track : tracks) {
        if (track > core.Files.Count()) {
          view.ShowError(options.grabDrive + ": " + FormatTrack(kFmtNoSuchTrack, track));
        } else {
          core.Files.SetChecked(track - 1, true);
        }
      }
    }
    core.Grab.MGrabStartClick();
    RunToEnd(core);
    return view.Failures == 0 ? 0 : 1;
  }

  if (options.probe) {
    // Drives list their tracks; the other paths are listed as files.
    std::vector<std::string> files;
    if (!options.grabDrive.empty()) options.paths.insert(options.paths.begin(), options.grabDrive);
    for (const std::string& path : options.paths) {
      if (!TGrabDriver::IsDriveName(path)) {
        files.push_back(path);
      } else if (ListDrive(core, view, path)) {
        PrintRows(core.Files);
      }
    }
    if (!files.empty()) {
      try {
        for (const std::string& error : core.DropPaths(files)) view.ShowError(error);
      } catch (const std::exception& e) {
        view.ShowError(e.what());
      }
      if (options.tags) {
        PrintRowsWithTags(core, view);
      } else {
        PrintRows(core.Files);
      }
    }
    return view.Failures == 0 ? 0 : 1;
  }

  try {
    for (const std::string& error : core.DropPaths(options.paths)) view.ShowError(error);
  } catch (const std::exception& e) {
    view.ShowError(e.what());
    return 1;
  }
  core.Driver.MStartClick();
  RunToEnd(core);
  return view.Failures == 0 ? 0 : 1;
}

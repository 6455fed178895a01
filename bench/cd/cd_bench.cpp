// Grabs one 10-minute audio track of a disc image to WAV through our CD
// reading library, TCDIn and TWaveOut, and the same track with cd-paranoia
// (`cd-paranoia -d disc.cue -w 1 out.wav`), plain (our reads without
// paranoia; cd-paranoia -Z) and verifying (Paranoid on; cd-paranoia's full
// paranoia). Each is run RUNS times in turn (default 7) and the median
// wall-clock time is reported, with the ratio ours / cd-paranoia. The outputs
// are checked to hold the same PCM. The image is made in a temporary folder
// and removed at the end.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "cdaudio/cd_in.h"
#include "codecs/wav_out.h"
#include "pipeline/main_thread_invoker.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSectors = 600 * 75;

void MakeImage(const fs::path& dir) {
  std::ofstream bin(dir / "disc.bin", std::ios::binary);
  std::vector<int16_t> sector(1176);
  int64_t frame = 0;
  for (int s = 0; s < kSectors; ++s) {
    for (int i = 0; i < 588; ++i, ++frame) {
      const double t = static_cast<double>(frame) / 44100.0;
      const double f = 110.0 * (1 + (frame / 441000) % 7);
      const double swell = 0.6 + 0.4 * std::sin(2 * M_PI * 0.3 * t);
      sector[static_cast<std::size_t>(2 * i)] =
          static_cast<int16_t>(20000 * swell * std::sin(2 * M_PI * f * t));
      sector[static_cast<std::size_t>(2 * i + 1)] =
          static_cast<int16_t>(20000 * (1 - swell) * std::sin(2 * M_PI * 1.5 * f * t));
    }
    bin.write(reinterpret_cast<const char*>(sector.data()), 2352);
  }
  std::ofstream(dir / "disc.cue") << "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
}

double Seconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time (user + system) of this process or of its finished
// children: unlike wall-clock time it does not grow when other programs
// share the machine.
double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct TTimes {
  double Wall = 0;
  double Cpu = 0;
};

TTimes Ours(const fs::path& dir, bool verifying, const fs::path& out) {
  const double cpu = CpuSeconds(RUSAGE_SELF);
  const auto start = std::chrono::steady_clock::now();
  TCDIn in;
  in.Paranoid = verifying;
  in.CurrentDrive = in.AddDrive((dir / "disc.cue").string());
  in.SelectTrack(1);
  TWaveOut sink;
  sink.SetInput(&in);
  sink.SetFileName(out.string());
  bool done = false;
  sink.OnDone = [&done](TComponent*) { done = true; };
  sink.Run();
  while (!done) MainThreadInvoker::Instance().WaitAndRun(std::chrono::milliseconds(5));
  const TTimes elapsed{Seconds(start), CpuSeconds(RUSAGE_SELF) - cpu};
  if (!sink.ExceptionMessage.empty()) {
    std::fprintf(stderr, "our grab failed: %s\n", sink.ExceptionMessage.c_str());
    std::exit(1);
  }
  return elapsed;
}

TTimes Theirs(const fs::path& dir, bool verifying, const fs::path& out) {
  const std::string cmd = std::string("cd-paranoia -q ") + (verifying ? "" : "-Z ") + "-d '" +
                          (dir / "disc.cue").string() + "' -w 1 '" + out.string() + "' >/dev/null 2>&1";
  const double cpu = CpuSeconds(RUSAGE_CHILDREN);
  const auto start = std::chrono::steady_clock::now();
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "cd-paranoia failed: %s\n", cmd.c_str());
    std::exit(1);
  }
  return TTimes{Seconds(start), CpuSeconds(RUSAGE_CHILDREN) - cpu};
}

// The PCM of a canonical 44-byte-header WAV file.
std::vector<char> Pcm(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> data((std::istreambuf_iterator<char>(in)), {});
  if (data.size() < 44) return {};
  return std::vector<char>(data.begin() + 44, data.end());
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const fs::path dir = fs::temp_directory_path() / ("quellmark-cd-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  // The library's settings file goes to the bench folder, not the user's.
  ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  MakeImage(dir);
  std::printf("10-minute image, %d runs each, median seconds (wall-clock; processor time in brackets)\n", runs);
  std::printf("%-10s %18s %18s %16s\n", "mode", "ours", "cd-paranoia", "ratio");
  int status = 0;
  for (const bool verifying : {false, true}) {
    std::vector<double> ours, oursCpu;
    std::vector<double> theirs, theirsCpu;
    // One run of each first, unmeasured, so that the image is in the cache.
    Ours(dir, verifying, dir / "ours.wav");
    Theirs(dir, verifying, dir / "theirs.wav");
    for (int i = 0; i < runs; ++i) {
      const TTimes a = Ours(dir, verifying, dir / "ours.wav");
      const TTimes b = Theirs(dir, verifying, dir / "theirs.wav");
      ours.push_back(a.Wall);
      oursCpu.push_back(a.Cpu);
      theirs.push_back(b.Wall);
      theirsCpu.push_back(b.Cpu);
    }
    if (Pcm(dir / "ours.wav") != Pcm(dir / "theirs.wav")) {
      std::fprintf(stderr, "the two grabs differ\n");
      status = 1;
    }
    const double a = Median(ours);
    const double b = Median(theirs);
    const double ac = Median(oursCpu);
    const double bc = Median(theirsCpu);
    std::printf("%-10s %8.3f (%6.3f) %8.3f (%6.3f) %6.3f (%6.3f)\n", verifying ? "verifying" : "plain", a, ac, b, bc,
                a / b, ac / bc);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}

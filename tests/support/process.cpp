#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>

extern char** environ;

namespace qmtest {

namespace {

class TPipe {
 public:
  TPipe() {
    if (::pipe2(Fd, O_CLOEXEC) != 0) Fd[0] = Fd[1] = -1;
  }
  ~TPipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() {
    if (Fd[0] >= 0) ::close(Fd[0]);
    Fd[0] = -1;
  }
  void CloseWrite() {
    if (Fd[1] >= 0) ::close(Fd[1]);
    Fd[1] = -1;
  }
  int Fd[2];
};

}  // namespace

TRunResult RunShell(const std::string& command, std::chrono::seconds timeout) {
  TRunResult result;
  TPipe out, err;
  if (out.Fd[0] < 0 || err.Fd[0] < 0) return result;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.Fd[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err.Fd[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A group of its own, so that a timeout ends the command's children too.
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);

  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  const int spawned =
      ::posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  out.CloseWrite();
  err.CloseWrite();
  if (spawned != 0) {
    result.Err = "could not start /bin/sh";
    return result;
  }

  const auto deadline = std::chrono::steady_clock::now() + timeout;
  pollfd fds[2] = {{out.Fd[0], POLLIN, 0}, {err.Fd[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.Out, &result.Err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.TimedOut = true;
      ::kill(-pid, SIGKILL);
      break;
    }
    const int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.Status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.Status = 128 + WTERMSIG(status);
  }
  if (result.TimedOut) result.Status = -1;
  return result;
}

std::string Quote(std::string_view text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string TrimEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

namespace {

bool Executable(const std::string& file) { return ::access(file.c_str(), X_OK) == 0; }

// Tools do not come and go while the tests run: each answer is kept.
bool Cached(const std::string& key, bool (*probe)(const std::string&)) {
  static std::mutex mutex;
  static std::map<std::pair<bool (*)(const std::string&), std::string>, bool> known;
  std::lock_guard lock(mutex);
  auto it = known.find({probe, key});
  if (it == known.end()) it = known.emplace(std::make_pair(probe, key), probe(key)).first;
  return it->second;
}

bool FindOnPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return Executable(name);
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && Executable(dir + "/" + name)) return true;
  return false;
}

bool ImportsInPython(const std::string& module) {
  return RunShell("/usr/bin/python3 -c " + Quote("import " + module)).Ok();
}

}  // namespace

bool HaveTool(std::string_view name) { return Cached(std::string(name), FindOnPath); }

bool HavePythonModule(std::string_view module) {
  return HaveTool("/usr/bin/python3") && Cached(std::string(module), ImportsInPython);
}

std::string MissingTools(std::initializer_list<std::string_view> names) {
  std::string missing;
  for (const std::string_view name : names) {
    if (HaveTool(name)) continue;
    if (!missing.empty()) missing += ", ";
    missing += name;
  }
  return missing;
}

bool ToolsRequired() {
  const char* value = std::getenv("QUELLMARK_REQUIRE_TOOLS");
  return value != nullptr && std::string_view(value) == "1";
}

}  // namespace qmtest

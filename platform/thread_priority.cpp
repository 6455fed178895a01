#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace platform {

namespace {
constexpr std::array<int, 7> kNiceValues = {19, 15, 5, 0, -5, -10, -15};
}

int NiceValueForLevel(int level) {
  return kNiceValues[static_cast<std::size_t>(std::clamp(level, 0, 6))];
}

bool SetCurrentThreadPriority(int level) {
  // On Linux a nice value set by thread id applies to that thread alone.
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  return ::setpriority(PRIO_PROCESS, tid, NiceValueForLevel(level)) == 0;
}

}  // namespace platform

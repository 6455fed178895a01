#pragma once

namespace platform {

// The seven scheduling levels a worker thread can be given, lowest first.
enum class ThreadPriorityLevel : int {
  Idle = 0,
  Lowest = 1,
  Lower = 2,
  Normal = 3,
  Higher = 4,
  Highest = 5,
  TimeCritical = 6,
};

// The nice value that stands for a level (19 for idle ... -15 for time-critical).
int NiceValueForLevel(int level);

// Sets the calling thread's priority. Levels outside 0..6 are clamped. A level
// the process may not take (raising priority needs CAP_SYS_NICE) leaves the
// thread as it was; returns whether the change took effect.
bool SetCurrentThreadPriority(int level);

}  // namespace platform

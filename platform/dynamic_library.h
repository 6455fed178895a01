#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

namespace platform {

// The environment variable that redirects or hides codec libraries, read at
// every load attempt: entries "<file name>=<path>" separated by ';'. A load
// of <file name> opens <path> instead (as dlopen opens it: a bare name
// through the system search path); an empty path makes the library
// unfindable, as if it were not installed. Meant for tests and diagnostics
// (a missing library, a library without an export); a library that has
// already been loaded stays loaded whatever the variable says later.
inline constexpr const char* kLibraryOverrideVariable = "QUELLMARK_LIBRARY_OVERRIDE";

// A codec library loaded at run time by file name, its exports bound by name.
// Meant to be a process-wide object (one per library): the first successful
// Load keeps the library for the life of the process; a failed load leaves
// nothing behind and is tried again at the next use.
class DynamicLibrary {
 public:
  // Binds the exports the caller needs; returns false when one is missing.
  using Binder = std::function<bool(DynamicLibrary&)>;

  explicit DynamicLibrary(std::string fileName) : fileName_(std::move(fileName)) {}
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  // Never unloads: function pointers taken from the library stay valid.
  ~DynamicLibrary() = default;

  // Loads the library (once) and runs `bind` on it. Returns true when the
  // library is loaded and bound. Thread-safe.
  bool Load(const Binder& bind);
  bool Loaded() const { return loaded_.load(std::memory_order_acquire); }

  // The address of an export, or nullptr. Only valid while loading or loaded.
  void* Symbol(const char* name) const;

  // Convenience for binders: fn := the export `name`; false if it is missing.
  template <typename Fn>
  bool Bind(Fn& fn, const char* name) const {
    fn = reinterpret_cast<Fn>(Symbol(name));
    return fn != nullptr;
  }

  const std::string& FileName() const { return fileName_; }
  // "<file name> library could not be loaded."
  std::string LoadFailedMessage() const;
  // What dlopen/dlsym said about the last failed attempt (for diagnostics).
  std::string LastError() const;

 private:
  void* OpenFromSearchPath() const;

  std::string fileName_;
  mutable std::mutex mutex_;
  void* handle_ = nullptr;
  std::atomic<bool> loaded_{false};
  std::string lastError_;
};

// The folder of the running program, without a trailing '/'. A codec library
// is looked for there (the build tree) and in the installed layout's private
// library folder relative to it (bin/../lib/quellmark).
std::string ProgramDirectory();

}  // namespace platform

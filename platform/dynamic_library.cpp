#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/app_paths.h"
#include "platform/messages.h"

#ifndef QUELLMARK_CODECDIR_FROM_BINDIR
#define QUELLMARK_CODECDIR_FROM_BINDIR "../lib/quellmark"
#endif

namespace platform {

std::string ProgramDirectory() { return ProgramFile().parent_path().string(); }

namespace {

// What the override variable says about `fileName`: nullopt when it names
// no such library, else the path to open instead (empty: none).
std::optional<std::string> Override(const std::string& fileName) {
  const char* value = std::getenv(kLibraryOverrideVariable);
  if (value == nullptr) return std::nullopt;
  std::string_view rest(value);
  while (!rest.empty()) {
    const std::size_t end = rest.find(';');
    const std::string_view entry = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos || entry.substr(0, equals) != fileName) continue;
    return std::string(entry.substr(equals + 1));
  }
  return std::nullopt;
}

}  // namespace

void* DynamicLibrary::OpenFromSearchPath() const {
  // A bare name goes to the system search path; first try beside the program
  // (the build tree, a portable copy) and in the private library folder of an
  // installed layout, found from the program's folder so that a moved tree
  // keeps its own libraries.
  if (fileName_.find('/') == std::string::npos) {
    const std::string dir = ProgramDirectory();
    if (!dir.empty()) {
      for (const auto& candidate :
           {dir + "/" + fileName_, dir + "/" QUELLMARK_CODECDIR_FROM_BINDIR "/" + fileName_}) {
        std::error_code ec;
        if (!std::filesystem::exists(candidate, ec)) continue;
        if (void* h = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
      }
    }
  }
  return ::dlopen(fileName_.c_str(), RTLD_NOW | RTLD_LOCAL);
}

bool DynamicLibrary::Load(const Binder& bind) {
  if (loaded_.load(std::memory_order_acquire)) return true;
  std::lock_guard lock(mutex_);
  if (loaded_.load(std::memory_order_relaxed)) return true;
  const std::optional<std::string> redirected = Override(fileName_);
  if (redirected && redirected->empty()) {
    lastError_ = fileName_ + " is hidden by " + kLibraryOverrideVariable;
    return false;
  }
  handle_ = redirected ? ::dlopen(redirected->c_str(), RTLD_NOW | RTLD_LOCAL) : OpenFromSearchPath();
  if (handle_ == nullptr) {
    const char* err = ::dlerror();
    lastError_ = err ? err : "dlopen failed";
    return false;
  }
  if (bind && !bind(*this)) {
    lastError_ = "a required export is missing from " + fileName_;
    ::dlclose(handle_);
    handle_ = nullptr;
    return false;
  }
  loaded_.store(true, std::memory_order_release);
  return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return ::dlsym(handle_, name);
}

std::string DynamicLibrary::LoadFailedMessage() const { return FormatMessage(kFmtLibraryNotLoaded, {fileName_}); }

std::string DynamicLibrary::LastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

}  // namespace platform

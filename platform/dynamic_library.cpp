#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "platform/app_paths.h"

#ifndef QUELLMARK_CODECDIR_FROM_BINDIR
#define QUELLMARK_CODECDIR_FROM_BINDIR "../lib/quellmark"
#endif

namespace platform {

std::string ProgramDirectory() { return ProgramFile().parent_path().string(); }

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
  handle_ = OpenFromSearchPath();
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

std::string DynamicLibrary::LoadFailedMessage() const { return fileName_ + " library could not be loaded."; }

std::string DynamicLibrary::LastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

}  // namespace platform

// A FIFO whose readers never block: a thread keeps opening its write end and
// closing it at once, so a reader's open returns and its read sees the end.
// Code that must never open the FIFO is checked with Readers(); were it to
// open it, the test fails instead of hanging.
#pragma once

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TFifoGuard {
 public:
  explicit TFifoGuard(const std::filesystem::path& path) : path_(path) {
    std::filesystem::create_directories(path.parent_path());
    if (::mkfifo(path.c_str(), 0644) != 0) throw std::runtime_error("mkfifo failed: " + path.string());
    writer_ = std::thread([this] {
      for (;;) {
        // Blocks until a reader opens the FIFO.
        const int fd = ::open(path_.c_str(), O_WRONLY);
        if (fd < 0) return;
        const bool stopping = stopping_.load();
        ::close(fd);
        if (stopping) return;
        ++readers_;
      }
    });
  }
  ~TFifoGuard() {
    stopping_ = true;
    // Our own reader ends the writer's wait; O_NONBLOCK so it never waits
    // itself.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    writer_.join();
    if (fd >= 0) ::close(fd);
  }
  TFifoGuard(const TFifoGuard&) = delete;
  TFifoGuard& operator=(const TFifoGuard&) = delete;

  // How many times something other than the guard opened the FIFO to read.
  int Readers() const { return readers_.load(); }

 private:
  std::filesystem::path path_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> readers_{0};
  std::thread writer_;
};

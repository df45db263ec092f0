#pragma once
// Agent-image records and loader headers, as bytes, for the image-set tests.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "image/image_files.h"

namespace portflash::testing {

// An anonymous stream holding bytes, positioned at its start.
inline FileHandle Stream(const std::string& bytes) {
  FileHandle file(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  std::rewind(file.get());
  return file;
}

inline std::string Bytes(std::initializer_list<int> values) {
  return {values.begin(), values.end()};
}

// One agent-image record: type, L, payload, check byte (255 payload bytes give L = 0).
inline std::string Record(char type, const std::string& payload) {
  const std::string record = std::string{type, static_cast<char>(payload.size() + 1)} + payload;
  return record + static_cast<char>(~std::accumulate(record.begin() + 1, record.end(), 0));
}

inline std::string Product(const std::string& name) {
  return Record('P', name + '\0');
}

// A loader with the marked header listing names, then a short body.
inline std::string MarkedLoader(std::initializer_list<std::string> names) {
  std::string bytes = Bytes({0xFF, 0xFF, 0xFF, 0xFF});
  for (const std::string& name : names) bytes += "P" + Bytes({0x01}) + name + '\0';
  return bytes + Bytes({0xFF}) + "loader body";
}

#ifndef _WIN32
// Makes FIFOs for a test. An open that blocks on one (it waits for a writer) would
// hang the test: after ten seconds the guard opens each for writing, so that the
// reader goes on, and Blocked() tells the test it happened.
class FifoGuard {
 public:
  std::string Make(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (::mkfifo(path.c_str(), 0600) == 0) paths_.push_back(path);
    return path;
  }
  bool Blocked() const { return blocked_; }

 private:
  void Watch(const std::stop_token& stop) {
    for (int ticks = 0; !stop.stop_requested(); ++ticks) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (ticks < 500) continue;
      blocked_ = true;
      std::lock_guard lock(mutex_);
      for (const std::string& path : paths_) ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));
    }
  }

  std::mutex mutex_;
  std::vector<std::string> paths_;
  std::atomic<bool> blocked_{false};
  std::jthread watcher_{[this](const std::stop_token& stop) { Watch(stop); }};  // last
};
#else
// Windows has no FIFOs: the name stays a missing file.
class FifoGuard {
 public:
  std::string Make(const std::string& path) { return path; }
  bool Blocked() const { return false; }
};
#endif

}  // namespace portflash::testing

#pragma once
// In-process downloads against portflash-sim over real pseudo-terminals, and the
// checks that a download leaves the process and the port as it found them.
// Shared by the fault matrix and the endurance run.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/update_app.h"
#include "engine/download_thread.h"
#include "support/fakes.h"
#include "support/harness.h"

namespace portflash::testing {

using SteadyClock = std::chrono::steady_clock;

// What the process holds: "fd -> target" for every open descriptor, the ids of
// its threads, its resident memory.
std::set<std::string> OpenDescriptors();
std::set<int> Threads();
long ResidentKiB();
// The members of `after` that are not in `before`, one per line.
template <typename T>
std::string Added(const std::set<T>& before, const std::set<T>& after) {
  std::string text;
  for (const T& item : after)
    if (before.count(item) == 0) text += ::testing::PrintToString(item) + "\n";
  return text;
}

// A terminal device's settings as the kernel keeps them (termios2, byte for byte)
// and its exclusive-use flag, read through a descriptor of our own.
struct PortState {
  bool read = false;
  std::vector<unsigned char> termios;
  int exclusive = -1;
  bool operator==(const PortState&) const = default;
};
PortState ReadPortState(const std::string& device);

// The built-in plan for speed with its time-outs cut to firstReads reads for the
// first step and laterReads for the others (the same bytes, the same rate).
class ShortPlan {
 public:
  ShortPlan(const std::string& speed, unsigned firstReads, unsigned laterReads);
  const SyncPlan& Plan() const { return plan_; }

 private:
  std::array<SyncStep, 4> steps_{};
  SyncPlan plan_{};
};

// The application as a front end sets it up for one port: the built-in result
// texts, the given images, recorded boxes and progress.
struct LineDownload {
  struct Settings {
    std::string device{};
    std::string speed = "115200";
    bool allSignals = true;
    std::string loader{};
    std::uint32_t loaderSkip = 0;
    std::string agent{};
    const SyncPlan* plan = nullptr;  // null: the built-in plan of the speed
  };

  explicit LineDownload(const Settings& settings);
  ~LineDownload();
  LineDownload(const LineDownload&) = delete;
  LineDownload& operator=(const LineDownload&) = delete;

  // As the download page does: start the thread and keep hold of it.
  bool Start();
  // Until the thread has cleared the application's pointer (a download that
  // ended by itself) and has ended; false when the limit passed first.
  bool WaitUntilOver(std::chrono::milliseconds limit);

  MapProfile profile;
  Recorder ui;
  CUpdateApp app{profile, ui};
  std::shared_ptr<CDownloadThread> thread;
};

// An image of n bytes with no 0xFF in it, written to path.
bool WriteImage(const std::string& path, std::size_t n, std::uint8_t seed);

// Polls until pred holds or the limit has passed; pred's last answer.
bool Eventually(const std::function<bool()>& pred, std::chrono::milliseconds limit);

}  // namespace portflash::testing

#include "line_harness.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "engine/result_messages.h"

namespace portflash::testing {

namespace {

std::set<std::string> DirectoryEntries(const char* path) {
  std::set<std::string> names;
  DIR* dir = ::opendir(path);
  if (dir == nullptr) return names;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') names.insert(entry->d_name);
  }
  ::closedir(dir);
  return names;
}

}  // namespace

std::set<std::string> OpenDescriptors() {
  std::set<std::string> described;
  for (const std::string& name : DirectoryEntries("/proc/self/fd")) {
    const std::string link = "/proc/self/fd/" + name;
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    // The directory listing's own descriptor is gone by now.
    if (n <= 0) continue;
    described.insert(name + " -> " + std::string(target, static_cast<std::size_t>(n)));
  }
  return described;
}

std::set<int> Threads() {
  // ThreadSanitizer starts a thread of its own when the process creates its first
  // one: have it running before anything is counted, or it reads as a leak.
  static const bool kWarmedUp = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)kWarmedUp;
  std::set<int> ids;
  for (const std::string& name : DirectoryEntries("/proc/self/task")) ids.insert(std::stoi(name));
  return ids;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// --- ShortPlan

ShortPlan::ShortPlan(const std::string& speed, unsigned firstReads, unsigned laterReads) {
  const SyncPlan& builtIn = speed == "19200" ? g_syncPlan19200 : g_syncPlan115200;
  for (std::size_t i = 0; i < steps_.size(); ++i) {
    steps_[i] = builtIn.steps[i];
    steps_[i].timeoutMs = (i == 0 ? firstReads : laterReads) * GetReadDelay();
  }
  plan_ = SyncPlan{builtIn.rate, static_cast<std::uint32_t>(steps_.size()), steps_.data()};
}

// --- LineDownload

LineDownload::LineDownload(const Settings& settings) {
  app.SetPortName(settings.device.c_str());
  app.SetSpeed(settings.speed.c_str());
  app.SetAllSignals(settings.allSignals ? 1 : 0);
  // No profile: the resolution keeps the agent and stops at the loader, given here.
  app.SetAgentPath(settings.agent.c_str());
  app.SetLoaderPath(settings.loader.c_str());
  app.SetLoaderSkip(settings.loaderSkip);
  LoadDefaultResultMessages(app);
  app.SetProgressView(&ui);
  app.SetSyncPlanOverride(settings.plan);
  ui.Clear();
}

LineDownload::~LineDownload() {
  app.StopDownload();
  app.SetProgressView(nullptr);
}

bool LineDownload::Start() {
  if (!app.StartDownload()) return false;
  thread = app.GetDownloadThread();
  return thread != nullptr;
}

bool LineDownload::WaitUntilOver(std::chrono::milliseconds limit) {
  return Eventually([&] { return !app.IsDownloadSet() && thread && thread->HasEnded(); }, limit);
}

bool WriteImage(const std::string& path, std::size_t n, std::uint8_t seed) {
  std::string bytes(n, '\0');
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 7 + seed) % 255);
  return WriteFile(path, bytes);
}

bool Eventually(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
  const auto until = SteadyClock::now() + limit;
  for (;;) {
    if (pred()) return true;
    if (SteadyClock::now() >= until) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace portflash::testing

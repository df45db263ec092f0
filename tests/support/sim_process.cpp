#include "support/sim_process.h"

#include <signal.h>

#include <sstream>
#include <thread>

namespace portflash::testing {

SimProcess::SimProcess(const std::string& executable, const std::vector<std::string>& args) {
  ChildProcess::Options options;
  options.argv = {executable, "--report", File("report")};
  for (std::string arg : args) {
    for (auto at = arg.find("{dir}"); at != std::string::npos; at = arg.find("{dir}", at))
      arg.replace(at, 5, dir_.Path());
    options.argv.push_back(arg);
  }
  if (dir_.Path().empty() || !process_.Start(options)) return;
  // The path is the first line on stdout; stderr may speak first. A sanitized build
  // on a loaded machine may take seconds to start.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::string out;
  while ((out = process_.Stdout()).find('\n') == std::string::npos) {
    if (!process_.Running() || std::chrono::steady_clock::now() >= until) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  device_ = out.substr(0, out.find('\n'));
}

std::vector<std::string> SimProcess::Report() const {
  std::vector<std::string> lines;
  std::istringstream file(ReadFile(File("report")));
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

bool SimProcess::WaitForReport(std::size_t lines, std::chrono::milliseconds timeout) const {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (Report().size() < lines) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

int SimProcess::Stop(std::chrono::milliseconds timeout) {
  process_.Signal(SIGTERM);
  return process_.Wait(timeout);
}

}  // namespace portflash::testing

#include "support/sim_process.h"

#include <signal.h>

#include <fstream>
#include <thread>

namespace portflash::testing {

namespace {

std::string Expand(std::string arg, const std::string& dir) {
  const std::string key = "{dir}";
  for (std::size_t at = arg.find(key); at != std::string::npos; at = arg.find(key, at))
    arg.replace(at, key.size(), dir);
  return arg;
}

}  // namespace

SimProcess::SimProcess(const std::string& executable, const std::vector<std::string>& args) {
  ChildProcess::Options options;
  options.argv = {executable, "--report", File("report")};
  for (const auto& arg : args) options.argv.push_back(Expand(arg, dir_.Path()));
  if (dir_.Path().empty() || !process_.Start(options)) return;
  // The path is the first line on stdout; stderr may speak first.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    const std::string out = process_.Stdout();
    const std::size_t end = out.find('\n');
    if (end != std::string::npos) {
      device_ = out.substr(0, end);
      return;
    }
    if (!process_.Running() || std::chrono::steady_clock::now() >= until) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

SimProcess::~SimProcess() {
  if (!stopped_) Stop();
}

std::vector<std::string> SimProcess::Report() const {
  std::vector<std::string> lines;
  std::ifstream file(File("report"));
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

bool SimProcess::WaitForReport(std::size_t lines, std::chrono::milliseconds timeout) const {
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (Report().size() >= lines) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool SimProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  return process_.WaitForOutput(text, timeout);
}

int SimProcess::Stop(std::chrono::milliseconds timeout) {
  stopped_ = true;
  process_.Signal(SIGTERM);
  return process_.Wait(timeout);
}

}  // namespace portflash::testing

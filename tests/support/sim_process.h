#pragma once
// portflash-sim as a child process, for tests over real pseudo-terminals.
//
//   SimProcess sim(PORTFLASH_SIM, {"--save-agent", "{dir}/agent.out"});
//   ASSERT_TRUE(sim.Ready()) << sim.Log();
//   ... open sim.Device() and talk to it, or run portflash-cli on it ...
//   ASSERT_TRUE(sim.WaitForReport(1, 5s)) << sim.Log();
//
// "{dir}" in an argument is a temporary directory of the simulator's own (gone with
// the object). It always gets "--report {dir}/report", so that the downloads it saw
// can be waited for, and is stopped with SIGTERM when the object goes.
#include <chrono>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace portflash::testing {

class SimProcess {
 public:
  SimProcess(const std::string& executable, const std::vector<std::string>& args);
  ~SimProcess() { Stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // True once the simulator has printed its device path.
  bool Ready() const { return !device_.empty(); }
  const std::string& Device() const { return device_; }
  std::string File(const std::string& name) const { return dir_ / name; }

  // The report's lines so far ("ok loader=N agent=M", ...).
  std::vector<std::string> Report() const;
  bool WaitForReport(std::size_t lines, std::chrono::milliseconds timeout) const;
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    return process_.WaitForOutput(text, timeout);
  }
  std::string Log() { return process_.Stderr(); }
  void Signal(int number) { process_.Signal(number); }

  // Stops it with SIGTERM: its exit status, or -1 when it had to be killed.
  int Stop(std::chrono::milliseconds timeout = std::chrono::seconds(3));
  // Waits for it to end by itself; -1 (and killed) when it does not.
  int WaitForExit(std::chrono::milliseconds timeout) { return process_.Wait(timeout); }

 private:
  TempDir dir_;
  ChildProcess process_;
  std::string device_;
};

}  // namespace portflash::testing

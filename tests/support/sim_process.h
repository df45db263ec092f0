#pragma once
// portflash-sim as a child process, for tests over real pseudo-terminals.
//
//   SimProcess sim(PORTFLASH_SIM, {"--save-agent", "{dir}/agent.out"});
//   ASSERT_TRUE(sim.Ready()) << sim.Log();
//   ... open sim.Device() and talk to it, or run portflash-cli on it ...
//   ASSERT_TRUE(sim.WaitForReport(1, 5s)) << sim.Log();
//   EXPECT_EQ(sim.Report()[0], "ok loader=1000 agent=5000");
//
// "{dir}" in an argument stands for a temporary directory of the simulator's own
// (removed with the object), handy for --save-*, --expect-* and --link files.
// The simulator always gets "--report {dir}/report" so that the downloads it saw
// can be waited for. It is stopped with SIGTERM when the object goes.
#include <chrono>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace portflash::testing {

class SimProcess {
 public:
  SimProcess(const std::string& executable, const std::vector<std::string>& args);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // True once the simulator has printed its device path.
  bool Ready() const { return !device_.empty(); }
  const std::string& Device() const { return device_; }
  // A file in the simulator's temporary directory.
  std::string File(const std::string& name) const { return dir_ / name; }

  // The report's lines so far ("ok loader=N agent=M", ...).
  std::vector<std::string> Report() const;
  // True once the report holds at least `lines` lines.
  bool WaitForReport(std::size_t lines, std::chrono::milliseconds timeout) const;
  // Waits until the simulator's stdout or stderr holds text.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
  std::string Log() { return process_.Stderr(); }
  std::string Stdout() { return process_.Stdout(); }

  // Stops it with SIGTERM; its exit status, or -1 when it had to be killed.
  int Stop(std::chrono::milliseconds timeout = std::chrono::seconds(3));
  // Waits for it to end by itself; -1 when it had not (it is killed then).
  int WaitForExit(std::chrono::milliseconds timeout) { return process_.Wait(timeout); }
  bool Running() { return process_.Running(); }

 private:
  TempDir dir_;
  ChildProcess process_;
  std::string device_;
  bool stopped_ = false;
};

}  // namespace portflash::testing

#pragma once
// A child process whose stdout and stderr go to files of its own, for tests that
// drive the real executables. The destructor kills and reaps it. Not QProcess:
// its vfork-style clone runs the child in the parent's memory, where
// ThreadSanitizer then sees races that are not there.
#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/harness.h"

namespace portflash::testing {

// Neither this nor SimProcess can be copied: each owns a TempDir.
class ChildProcess {
 public:
  struct Options {
    std::vector<std::string> argv{};
    std::map<std::string, std::string> env{};  // added to (or replacing in) this one's
    std::string workDir{};                     // empty: this process's
    // Without stdinText stdin is /dev/null; with it, a pipe that gets the text and
    // stays open while this object lives (a program at a prompt waits for more).
    std::optional<std::string> stdinText{};
  };

  ~ChildProcess();

  bool Start(const Options& options);
  pid_t Pid() const { return pid_; }
  // True once stdout or stderr holds `text`; false when time ran out or the child ended.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
  void Signal(int number);
  void CloseStdin();
  // The exit status (128 + signal when killed); -1, and killed, when not ended in time.
  int Wait(std::chrono::milliseconds timeout);
  bool Running();
  std::string Stdout() const { return ReadFile(dir_ / "out"); }
  std::string Stderr() const { return ReadFile(dir_ / "err"); }
  std::chrono::milliseconds LastWaitTime() const { return lastWait_; }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  int inFd_ = -1;
  std::optional<int> status_;
  std::chrono::milliseconds lastWait_{0};
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};
// Runs a child to its end (with a time limit) and returns what it printed.
RunResult RunToEnd(const ChildProcess::Options& options,
                   std::chrono::milliseconds timeout = std::chrono::seconds(30));

// A run's status and output, for a failure message.
inline std::string Describe(const RunResult& run) {
  return "exit " + std::to_string(run.status) + "\n--- stdout\n" + run.out + "--- stderr\n" +
         run.err;
}

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
class SimProcess {
 public:
  SimProcess(const std::string& executable, const std::vector<std::string>& args);
  ~SimProcess() { Stop(); }

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

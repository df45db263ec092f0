#pragma once
// What every benchmark shares: the table row it reports, clocks, files, and child
// processes whose own CPU time and peak memory are measured.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace portflash::bench {

using SteadyClock = std::chrono::steady_clock;

inline const std::string kSim = PORTFLASH_SIM;
inline const std::string kCli = PORTFLASH_CLI;
inline const std::string kSourceDir = PORTFLASH_SOURCE_DIR;

// Bits on the wire per byte: start, 8 data, even parity, stop.
inline constexpr double kBitsPerByte = 11.0;
inline constexpr std::uint64_t kKiB = 1024;
inline constexpr std::uint64_t kMiB = 1024 * 1024;

double SecondsSince(SteadyClock::time_point start);
double ToSeconds(SteadyClock::duration duration);
// Time that `bytes` take on a line at `rate`.
double LineSeconds(std::uint64_t bytes, unsigned rate);

// One line of the table: printed on stdout as "ROW<TAB>benchmark<TAB>measured
// <TAB>reference<TAB>ratio<TAB>goal<TAB>met", for scripts/bench to collect.
struct Row {
  std::string benchmark;
  std::string measured;
  std::string reference;
  double ratio = 0;
  std::string goal;
  std::optional<bool> met;  // none for a row that only reports
};
void PrintRow(const Row& row);
// A row for a measurement that could not be made at all.
void PrintFailedRow(const std::string& benchmark, const std::string& goal, const std::string& why);
// Detail for the log, on stderr.
void Note(const std::string& text);

std::string Fixed(double value, int decimals);
std::string FormatSeconds(double seconds);    // "6.258 s", "1.23 ms"
std::string FormatSize(std::uint64_t bytes);  // "64 KiB", "1 MiB"

double Median(std::vector<double> values);
// The value below which `fraction` of the values lie (nearest rank).
double Percentile(std::vector<double> values, double fraction);

// Deterministic pseudo-random content: images without structure, every byte value.
bool WriteRandomFile(const std::string& path, std::uint64_t size, std::uint32_t seed);
bool AppendRandomBytes(const std::string& path, std::uint64_t size, std::uint32_t seed);
std::uint64_t FileSize(const std::string& path);
bool CopyFile(const std::string& from, const std::string& to);

// A sample image set made by scripts/make-sample-set (the "kvr" family).
struct SampleSet {
  std::string loader;   // DIR/loaders/kvr.ldr, with its .err beside it
  std::string agent;    // DIR/images/kvr-agent.bin
  std::string profile;  // for XDG_CONFIG_HOME
};
std::optional<SampleSet> MakeSampleSet(const std::string& dir, std::uint64_t loaderBody,
                                       std::uint64_t agentBody);

// What a child cost, from wait4: its own CPU time and peak resident memory.
struct ChildUsage {
  int status = -1;  // exit status, 128 + signal when killed
  double wallSeconds = 0;
  double cpuSeconds = 0;  // user + system
  long maxRssKiB = 0;
  long contextSwitches = 0;  // voluntary + involuntary
};

// A child process started with fork/exec, its stdout on a given descriptor (or
// a file), its stderr in a file; Wait reaps it with wait4.
class MeasuredChild {
 public:
  struct Options {
    std::vector<std::string> argv;
    std::map<std::string, std::string> env;  // added to this process's environment
    int stdoutFd = -1;                       // -1: stdoutPath
    std::string stdoutPath = "/dev/null";
    std::string stderrPath = "/dev/null";
  };
  MeasuredChild() = default;
  ~MeasuredChild();
  MeasuredChild(const MeasuredChild&) = delete;
  MeasuredChild& operator=(const MeasuredChild&) = delete;

  bool Start(const Options& options);
  pid_t Pid() const { return pid_; }
  ChildUsage Wait();
  void Signal(int number);

 private:
  pid_t pid_ = -1;
  SteadyClock::time_point started_;
};

// CPU time of the calling thread so far (user + system), in seconds.
double ThreadCpuSeconds();
// Context switches of the calling thread so far (voluntary + involuntary).
long ThreadContextSwitches();

// CPU time of a running process (all its threads), in seconds; nullopt when gone.
std::optional<double> ProcessCpuSeconds(pid_t pid);

}  // namespace portflash::bench

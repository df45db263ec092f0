#include "support/bench.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "support/child_process.h"

namespace portflash::bench {

double ToSeconds(SteadyClock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

double SecondsSince(SteadyClock::time_point start) {
  return ToSeconds(SteadyClock::now() - start);
}

double LineSeconds(std::uint64_t bytes, unsigned rate) {
  return static_cast<double>(bytes) * kBitsPerByte / static_cast<double>(rate);
}

void PrintRow(const Row& row) {
  std::cout << "ROW\t" << row.benchmark << '\t' << row.measured << '\t' << row.reference << '\t'
            << Fixed(row.ratio, 4) << '\t' << row.goal << '\t'
            << (!row.met   ? "-"
                : *row.met ? "yes"
                           : "NO")
            << std::endl;
}

void PrintFailedRow(const std::string& benchmark, const std::string& goal, const std::string& why) {
  Note(benchmark + ": not measured: " + why);
  std::cout << "ROW\t" << benchmark << "\tfailed: " << why << "\t-\t-\t" << goal << "\tNO"
            << std::endl;
}

void Note(const std::string& text) {
  std::cerr << text << std::endl;
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string FormatSeconds(double seconds) {
  if (std::fabs(seconds) < 0.1) return Fixed(seconds * 1000.0, 3) + " ms";
  return Fixed(seconds, 3) + " s";
}

std::string FormatSize(std::uint64_t bytes) {
  if (bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + " B";
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
  rank = std::clamp<std::size_t>(rank, 1, values.size());
  return values[rank - 1];
}

double Median(std::vector<double> values) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

namespace {

bool WriteRandom(const std::string& path, std::ios::openmode mode, std::uint64_t size,
                 std::uint32_t seed) {
  std::ofstream out(path, std::ios::binary | mode);
  std::mt19937_64 random(seed);
  std::vector<std::uint64_t> block(8192);
  while (out && size > 0) {
    for (auto& word : block) word = random();
    const auto take = std::min<std::uint64_t>(size, block.size() * sizeof block[0]);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(take));
    size -= take;
  }
  return static_cast<bool>(out);
}

}  // namespace

bool WriteRandomFile(const std::string& path, std::uint64_t size, std::uint32_t seed) {
  return WriteRandom(path, std::ios::trunc, size, seed);
}

bool AppendRandomBytes(const std::string& path, std::uint64_t size, std::uint32_t seed) {
  return WriteRandom(path, std::ios::app, size, seed);
}

std::uint64_t FileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

bool CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  return static_cast<bool>(in) && static_cast<bool>(out);
}

std::optional<SampleSet> MakeSampleSet(const std::string& dir, std::uint64_t loaderBody,
                                       std::uint64_t agentBody) {
  testing::ChildProcess::Options options;
  options.argv = {kSourceDir + "/scripts/make-sample-set",
                  dir,
                  "--loader-body",
                  std::to_string(loaderBody),
                  "--agent-body",
                  std::to_string(agentBody)};
  const testing::RunResult run = testing::RunToEnd(options, std::chrono::minutes(2));
  if (run.status != 0) {
    Note("make-sample-set failed (" + std::to_string(run.status) + "): " + run.err);
    return std::nullopt;
  }
  return SampleSet{dir + "/loaders/kvr.ldr", dir + "/images/kvr-agent.bin", dir + "/profile"};
}

MeasuredChild::~MeasuredChild() {
  if (pid_ > 0) {
    Signal(SIGKILL);
    Wait();
  }
}

bool MeasuredChild::Start(const Options& options) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (options.env.count(text.substr(0, text.find('='))) == 0) env.push_back(text);
  }
  for (const auto& [name, value] : options.env) env.push_back(name + "=" + value);
  std::vector<std::string> args = options.argv;
  std::vector<char*> argp, envp;
  for (auto& arg : args) argp.push_back(arg.data());
  argp.push_back(nullptr);
  for (auto& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);

  started_ = SteadyClock::now();
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    int out = options.stdoutFd >= 0
                  ? options.stdoutFd
                  : open(options.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(options.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) _exit(126);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvpe(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  return true;
}

ChildUsage MeasuredChild::Wait() {
  ChildUsage usage;
  if (pid_ <= 0) return usage;
  int status = 0;
  rusage used{};
  while (wait4(pid_, &status, 0, &used) < 0) {
    if (errno != EINTR) return usage;
  }
  pid_ = -1;
  usage.wallSeconds = SecondsSince(started_);
  usage.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  usage.cpuSeconds = static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
                     static_cast<double>(used.ru_utime.tv_usec + used.ru_stime.tv_usec) * 1e-6;
  usage.maxRssKiB = used.ru_maxrss;
  usage.contextSwitches = used.ru_nvcsw + used.ru_nivcsw;
  return usage;
}

void MeasuredChild::Signal(int number) {
  if (pid_ > 0) kill(pid_, number);
}

double ThreadCpuSeconds() {
  rusage used{};
  getrusage(RUSAGE_THREAD, &used);
  return static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
         static_cast<double>(used.ru_utime.tv_usec + used.ru_stime.tv_usec) * 1e-6;
}

long ThreadContextSwitches() {
  rusage used{};
  getrusage(RUSAGE_THREAD, &used);
  return used.ru_nvcsw + used.ru_nivcsw;
}

std::optional<double> ProcessCpuSeconds(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(file, text)) return std::nullopt;
  // The command name may hold blanks: the fields start after its closing parenthesis.
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  // Fields 3 to 13 (state ... cmajflt), then utime (14) and stime (15).
  for (int index = 3; index <= 13 && fields >> field; ++index) {
  }
  if (!(fields >> utime >> stime)) return std::nullopt;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace portflash::bench

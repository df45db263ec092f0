#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

extern char** environ;

namespace portflash::testing {

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    Wait(std::chrono::seconds(5));
  }
  CloseStdin();
}

bool ChildProcess::Start(const Options& options) {
  int inPipe[2] = {-1, -1};
  if (options.stdinText && pipe2(inPipe, O_CLOEXEC) != 0) return false;
  const std::string out = dir_ / "out", err = dir_ / "err";
  std::vector<std::string> args = options.argv, env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (options.env.count(text.substr(0, text.find('='))) == 0) env.push_back(text);
  }
  for (const auto& [name, value] : options.env) env.push_back(name + "=" + value);
  std::vector<char*> argp, envp;
  for (auto& arg : args) argp.push_back(arg.data());
  for (auto& entry : env) envp.push_back(entry.data());
  argp.push_back(nullptr);
  envp.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    dup2(inPipe[0] >= 0 ? inPipe[0] : open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600), STDOUT_FILENO);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600), STDERR_FILENO);
    // A test runner may have blocked or ignored these; the child starts clean.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGINT, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  if (inPipe[0] >= 0) {
    close(inPipe[0]);
    inFd_ = inPipe[1];
    const std::string& text = *options.stdinText;
    // A child that went already leaves the write failing; its status says why.
    if (!text.empty() && write(inFd_, text.data(), text.size()) < 0) CloseStdin();
  }
  return true;
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  const auto shown = [&] {
    return Stdout().find(text) != std::string::npos || Stderr().find(text) != std::string::npos;
  };
  return Eventually([&] { return shown() || !Running(); }, timeout) && shown();
}

void ChildProcess::Signal(int number) {
  if (pid_ > 0 && !status_) kill(pid_, number);
}

void ChildProcess::CloseStdin() {
  if (inFd_ >= 0) close(inFd_);
  inFd_ = -1;
}

bool ChildProcess::Running() {
  int raw = 0;
  if (pid_ <= 0 || status_) return false;
  if (waitpid(pid_, &raw, WNOHANG) != pid_) return true;
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return false;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  const auto start = std::chrono::steady_clock::now();
  if (!Eventually([&] { return !Running(); }, timeout)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    status_ = -1;
  }
  lastWait_ = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  return status_.value_or(-1);
}

RunResult RunToEnd(const ChildProcess::Options& options, std::chrono::milliseconds timeout) {
  ChildProcess child;
  if (!child.Start(options)) return {};
  const int status = child.Wait(timeout);
  return {status, child.Stdout(), child.Stderr()};
}

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
  Eventually(
      [&] { return !process_.Running() || process_.Stdout().find('\n') != std::string::npos; },
      std::chrono::seconds(30));
  const std::string out = process_.Stdout();
  if (out.find('\n') != std::string::npos) device_ = out.substr(0, out.find('\n'));
}

std::vector<std::string> SimProcess::Report() const {
  std::vector<std::string> lines;
  std::istringstream file(ReadFile(File("report")));
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

bool SimProcess::WaitForReport(std::size_t lines, std::chrono::milliseconds timeout) const {
  return Eventually([&] { return Report().size() >= lines; }, timeout);
}

int SimProcess::Stop(std::chrono::milliseconds timeout) {
  process_.Signal(SIGTERM);
  return process_.Wait(timeout);
}

}  // namespace portflash::testing

#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace portflash::testing {

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    Wait(std::chrono::seconds(5));
  }
  if (reader_.joinable()) reader_.join();
  CloseStdin();
}

bool ChildProcess::Start(const Options& options) {
  int outPipe[2], errPipe[2], inPipe[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return false;
  if (options.stdinText && pipe2(inPipe, O_CLOEXEC) != 0) return false;
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
    dup2(inPipe[0] >= 0 ? inPipe[0] : open("/dev/null", O_RDONLY), STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
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
  close(outPipe[1]);
  close(errPipe[1]);
  if (inPipe[0] >= 0) {
    close(inPipe[0]);
    inFd_ = inPipe[1];
    const std::string& text = *options.stdinText;
    // A child that went already leaves the write failing; its status says why.
    if (!text.empty() && write(inFd_, text.data(), text.size()) < 0) CloseStdin();
    if (!options.keepStdinOpen) CloseStdin();
  }
  reader_ = std::thread([this, out = outPipe[0], err = errPipe[0]] { Pump(out, err); });
  return true;
}

void ChildProcess::Pump(int outFd, int errFd) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      std::lock_guard lock(mutex_);
      if (got > 0) {
        (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
      changed_.notify_all();
    }
  }
  for (const pollfd& fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  std::lock_guard lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  auto found = [&] {
    return out_.find(text) != std::string::npos || err_.find(text) != std::string::npos;
  };
  changed_.wait_for(lock, timeout, [&] { return found() || ended_; });
  return found();
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
  while (Running()) {
    if (std::chrono::steady_clock::now() - start >= timeout) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      status_ = -1;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  lastWait_ = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  if (reader_.joinable()) reader_.join();
  return status_.value_or(-1);
}

std::string ChildProcess::Stdout() {
  std::lock_guard lock(mutex_);
  return out_;
}

std::string ChildProcess::Stderr() {
  std::lock_guard lock(mutex_);
  return err_;
}

RunResult RunToEnd(const ChildProcess::Options& options, std::chrono::milliseconds timeout) {
  ChildProcess child;
  if (!child.Start(options)) return {};
  const int status = child.Wait(timeout);
  return {status, child.Stdout(), child.Stderr()};
}

}  // namespace portflash::testing

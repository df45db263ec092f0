#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace portflash::testing {
namespace {

std::vector<std::string> BuildEnvironment(
    const std::map<std::string, std::optional<std::string>>& changes) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    std::string name = text.substr(0, text.find('='));
    if (changes.count(name) == 0) result.push_back(text);
  }
  for (const auto& [name, value] : changes) {
    if (value) result.push_back(name + "=" + *value);
  }
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    Wait(std::chrono::seconds(5));
  }
  if (reader_.joinable()) reader_.join();
  if (inFd_ >= 0) close(inFd_);
}

bool ChildProcess::Start(const Options& options) {
  int outPipe[2], errPipe[2], inPipe[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0) return false;
  if (pipe2(errPipe, O_CLOEXEC) != 0) return false;
  if (options.stdinText && pipe2(inPipe, O_CLOEXEC) != 0) return false;
  std::vector<std::string> args = options.argv;
  std::vector<std::string> env = BuildEnvironment(options.env);
  std::vector<char*> argp = Pointers(args);
  std::vector<char*> envp = Pointers(env);

  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    int in = inPipe[0] >= 0 ? inPipe[0] : open("/dev/null", O_RDONLY);
    dup2(in, STDIN_FILENO);
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
  outFd_ = outPipe[0];
  errFd_ = errPipe[0];
  if (inPipe[0] >= 0) {
    close(inPipe[0]);
    inFd_ = inPipe[1];
    const std::string& text = *options.stdinText;
    if (!text.empty() && write(inFd_, text.data(), text.size()) < 0) {
      // The child went already; its status says why.
    }
    if (!options.keepStdinOpen) CloseStdin();
  }
  reader_ = std::thread([this] { Pump(); });
  return true;
}

void ChildProcess::Pump() {
  char buffer[4096];
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[2] = {{outOpen ? outFd_ : -1, POLLIN, 0}, {errOpen ? errFd_ : -1, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      std::lock_guard lock(mutex_);
      if (got > 0) {
        (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        (i == 0 ? outOpen : errOpen) = false;
      }
      changed_.notify_all();
    }
  }
  close(outFd_);
  close(errFd_);
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
  if (pid_ <= 0 || status_) return false;
  int raw = 0;
  if (waitpid(pid_, &raw, WNOHANG) == pid_) {
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return false;
  }
  return true;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  auto start = std::chrono::steady_clock::now();
  auto deadline = start + timeout;
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      int raw = 0;
      waitpid(pid_, &raw, 0);
      status_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
  RunResult result;
  if (!child.Start(options)) return result;
  result.status = child.Wait(timeout);
  result.out = child.Stdout();
  result.err = child.Stderr();
  return result;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "portflash-test.XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

}  // namespace portflash::testing

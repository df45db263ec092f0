#include "support/child_process.h"

#include <signal.h>

namespace portflash::testing {

using Clock = std::chrono::steady_clock;

ChildProcess::~ChildProcess() {
  if (process_ && process_->state() != QProcess::NotRunning) {
    process_->kill();
    process_->waitForFinished(5000);
  }
}

bool ChildProcess::Start(const Options& options) {
  process_ = std::make_unique<QProcess>();
  QStringList args;
  for (std::size_t i = 1; i < options.argv.size(); ++i)
    args << QString::fromStdString(options.argv[i]);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const auto& [name, value] : options.env)
    env.insert(QString::fromStdString(name), QString::fromStdString(value));
  process_->setProcessEnvironment(env);
  process_->setWorkingDirectory(QString::fromStdString(options.workDir));
  if (!options.stdinText) process_->setStandardInputFile(QProcess::nullDevice());
  process_->start(QString::fromStdString(options.argv.at(0)), args);
  if (!process_->waitForStarted(10000)) return false;
  pid_ = static_cast<pid_t>(process_->processId());
  if (options.stdinText) {
    process_->write(options.stdinText->data(), static_cast<qint64>(options.stdinText->size()));
    process_->waitForBytesWritten(5000);
    if (!options.keepStdinOpen) process_->closeWriteChannel();
  }
  return true;
}

void ChildProcess::Collect() {
  // QProcess reads the pipes only inside its waits: take what each holds now.
  for (auto channel : {QProcess::StandardOutput, QProcess::StandardError}) {
    process_->setReadChannel(channel);
    for (int i = 0; i < 64 && process_->state() == QProcess::Running; ++i)
      if (!process_->waitForReadyRead(0)) break;
  }
  process_->setReadChannel(QProcess::StandardOutput);
  out_ += process_->readAllStandardOutput().toStdString();
  err_ += process_->readAllStandardError().toStdString();
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  const auto until = Clock::now() + timeout;
  for (;;) {
    Collect();
    if (out_.find(text) != std::string::npos || err_.find(text) != std::string::npos) return true;
    if (!Running() || Clock::now() >= until) {
      Collect();
      return out_.find(text) != std::string::npos || err_.find(text) != std::string::npos;
    }
    process_->waitForReadyRead(20);
  }
}

void ChildProcess::Signal(int number) {
  if (Running()) ::kill(Pid(), number);
}

bool ChildProcess::Running() {
  if (process_ && process_->state() != QProcess::NotRunning) process_->waitForFinished(0);
  return process_ && process_->state() != QProcess::NotRunning;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (!process_) return -1;
  const auto start = Clock::now();
  bool ended = process_->state() == QProcess::NotRunning ||
               process_->waitForFinished(static_cast<int>(timeout.count()));
  lastWait_ = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  if (!ended) {
    process_->kill();
    process_->waitForFinished(5000);
  }
  Collect();
  if (!ended) return -1;
  return process_->exitStatus() == QProcess::NormalExit ? process_->exitCode() : 128;
}

std::string ChildProcess::Stdout() {
  if (process_) Collect();
  return out_;
}

std::string ChildProcess::Stderr() {
  if (process_) Collect();
  return err_;
}

RunResult RunToEnd(const ChildProcess::Options& options, std::chrono::milliseconds timeout) {
  ChildProcess child;
  if (!child.Start(options)) return {};
  const int status = child.Wait(timeout);
  return {status, child.Stdout(), child.Stderr()};
}

}  // namespace portflash::testing

#pragma once
// Shared by the tests that run portflash-cli against portflash-sim: a fixture
// with a private profile.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace portflash::testing {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

inline const std::string kCli = PORTFLASH_CLI;
inline const std::string kSim = PORTFLASH_SIM;

inline ChildProcess::Options Command(std::vector<std::string> argv) {
  ChildProcess::Options options;
  options.argv = std::move(argv);
  return options;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Sample().Ok()) << "scripts/make-sample-set failed";
    fs::create_directories(temp_ / "config/Tarvex Corporation");
    WriteProfile("");
  }

  static const SampleSet& Sample() { return SampleSet::Get(); }

  // The sample profile plus `extra` lines, as the user's profile; no system profile.
  void WriteProfile(const std::string& extra) {
    ASSERT_TRUE(WriteFile(temp_ / "config/Tarvex Corporation/Portflash.conf",
                          ReadFile(Sample().Profile()) + "\n" + extra));
  }

  ChildProcess::Options Cli(std::vector<std::string> args,
                            const std::string& program = kCli) const {
    ChildProcess::Options options = Command({program});
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env["XDG_CONFIG_HOME"] = temp_ / "config";
    options.env["XDG_CONFIG_DIRS"] = temp_ / "no-system-config";
    options.workDir = Sample().Dir();
    return options;
  }

  RunResult RunCli(std::vector<std::string> args, std::chrono::milliseconds limit = 30s) const {
    return RunToEnd(Cli(std::move(args)), limit);
  }

  // The kvr images on `port` with the loader given, and `extra` options.
  std::vector<std::string> Download(const std::string& port,
                                    std::vector<std::string> extra = {"--yes"}) const {
    extra.insert(extra.end(), {"--port", port, "--loader", Sample().Loader(), Sample().Agent()});
    return extra;
  }

  // Runs the CLI with stdin open and nobody at it; Ctrl-C once `waitFor` shows.
  RunResult Interrupt(std::vector<std::string> args, const std::string& waitFor,
                      std::chrono::milliseconds* took = nullptr) const {
    ChildProcess::Options options = Cli(std::move(args));
    options.stdinText = "";
    options.keepStdinOpen = true;
    ChildProcess cli;
    EXPECT_TRUE(cli.Start(options));
    EXPECT_TRUE(cli.WaitForOutput(waitFor, 20s)) << waitFor;
    cli.Signal(SIGINT);
    const int status = cli.Wait(15s);
    if (took != nullptr) *took = cli.LastWaitTime();
    return {status, cli.Stdout(), cli.Stderr()};
  }

  TempDir temp_;
};

}  // namespace portflash::testing

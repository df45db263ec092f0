#pragma once
// Shared by the tests that run portflash-cli against portflash-sim: the sample
// image set, a simulator, and a fixture with a private profile.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/sim_process.h"

namespace portflash::testing {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

inline const std::string kCli = PORTFLASH_CLI;
inline const std::string kSim = PORTFLASH_SIM;
inline const std::string kSourceDir = PORTFLASH_SOURCE_DIR;

inline const std::string kPowerOff = "Please Power OFF your unit and Click OK to continue.";
inline const std::string kSuccess = "Update completed successfully";
inline const std::string kSyncFailed = "Failed to synchronise with device";
inline const std::string kWriteFailed = "Failed to write data to device";
inline const std::string kOpenFailed =
    "Unable to open the COM port\nPlease check that there are no other applications using the "
    "COM port";
inline const std::string kCancelled = "Download cancelled";

inline constexpr int kExitCancelled = 130;

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every text by which a download's outcome can show.
inline bool HasOutcome(const std::string& out) {
  for (const char* text : {"Update completed successfully", "Timeout waiting for device",
                           "Failed to write data", "Failed to synchronise", "ERROR:"}) {
    if (Contains(out, text)) return true;
  }
  return false;
}

inline ChildProcess::Options Command(std::vector<std::string> argv) {
  ChildProcess::Options options;
  options.argv = std::move(argv);
  return options;
}

// A message as a JSON string holds it: line ends as \n (the texts have no other escapes).
inline std::string JsonText(const std::string& text) {
  std::string json = "\"";
  for (char c : text) json += c == '\n' ? std::string("\\n") : std::string(1, c);
  return json + "\"";
}

inline std::string Describe(const RunResult& run) {
  return "exit " + std::to_string(run.status) + "\n--- stdout\n" + run.out + "--- stderr\n" +
         run.err;
}

// The sample image set, made once for the file by the project's own script.
class SampleSet {
 public:
  static const SampleSet& Get() {
    static SampleSet set;
    return set;
  }
  std::string Dir() const { return dir_.Path(); }
  std::string Loader(const std::string& family) const {
    return dir_ / ("loaders/" + family + ".ldr");
  }
  std::string Agent(const std::string& family) const {
    return dir_ / ("images/" + family + "-agent.bin");
  }
  std::string Profile() const { return dir_ / "profile/Tarvex Corporation/Portflash.conf"; }
  bool Ok() const { return ok_; }

 private:
  SampleSet() {
    RunResult made = RunToEnd(Command({kSourceDir + "/scripts/make-sample-set", dir_.Path()}));
    ok_ = made.status == 0 && fs::exists(Loader("kvr")) && fs::exists(Agent("kvr"));
  }
  TempDir dir_;
  bool ok_ = false;
};

// A simulated unit; "{dir}" in its arguments is a directory of its own.
class Sim : public SimProcess {
 public:
  explicit Sim(const std::vector<std::string>& args) : SimProcess(kSim, args) {}
};

inline std::string PortSettings(const std::string& device) {
  return RunToEnd(Command({"/bin/sh", "-c", "stty -g -F \"$0\"", device}), 5s).out;
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
    ChildProcess::Options options;
    options.argv = {program};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env["XDG_CONFIG_HOME"] = temp_ / "config";
    options.env["XDG_CONFIG_DIRS"] = temp_ / "no-system-config";
    options.workDir = Sample().Dir();
    return options;
  }

  RunResult RunCli(std::vector<std::string> args, std::chrono::milliseconds limit = 30s) const {
    return RunToEnd(Cli(std::move(args)), limit);
  }

  // A download of the kvr images with the loader given on the command line.
  // Without --yes the power-off request reads stdin, which is at its end here.
  RunResult Download(const Sim& sim, std::vector<std::string> extra = {}) const {
    std::vector<std::string> args = {"--port", sim.Device(), "--loader", Sample().Loader("kvr")};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("images/kvr-agent.bin");
    return RunCli(args);
  }

  TempDir temp_;
};

}  // namespace portflash::testing

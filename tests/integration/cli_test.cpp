// portflash-cli against portflash-sim over real pseudo-terminals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli_fixture.h"

namespace portflash::testing {
namespace {

// --- What the BIN file page would refuse, and usage errors: no unit needed.

TEST_F(CliTest, UsageErrorsExitWithTwoAndSayHow) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--bogus", "images/kvr-agent.bin"},
      {"--speed", "9600", "images/kvr-agent.bin"},
      {"--speed=38400", "images/kvr-agent.bin"},
      {"--cable", "rs232", "images/kvr-agent.bin"},
      {"--port"},
      {"--loader", "", "images/kvr-agent.bin"},
      {"images/kvr-agent.bin", "images/hpz-agent.bin"},
  };
  for (const auto& args : cases) {
    RunResult run = RunCli(args);
    std::string shown;
    for (const auto& arg : args) shown += "'" + arg + "' ";
    EXPECT_EQ(run.status, 2) << shown << Describe(run);
    EXPECT_TRUE(Contains(run.err, "usage: portflash-cli")) << shown << Describe(run);
    EXPECT_EQ(run.out, "") << shown;
  }
}

TEST_F(CliTest, HelpExplainsPortsLoaderAndExitStatus) {
  RunResult run = RunCli({"--help"});
  EXPECT_EQ(run.status, 0);
  for (const char* part : {"--port", "--speed", "--cable", "--loader", "--yes", "--json",
                           "--list-ports", "outcome_name", "group that owns", "\"Ports\"",
                           "/dev/ttyS<n-1>", "\"LDR Filename\"", "Exit status", "130"}) {
    EXPECT_TRUE(Contains(run.out, part)) << part;
  }
}

TEST_F(CliTest, RefusedAgentPathsShowThePageMessages) {
  fs::create_directories(temp_ / "zzz");
  fs::copy_file(Sample().Agent("kvr"), temp_ / "zzz-agent.bin");
  struct Case {
    std::string agent;
    std::vector<std::string> extra;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"", {}, "No filename given. Please enter a bin file name before continuing"},
      {"images/missing.bin",
       {},
       "Unable to find the bin file specified. Please check and try again"},
      {temp_ / "zzz", {}, "Unable to find the bin file specified. Please check and try again"},
      {temp_ / "zzz-agent.bin", {}, "No Loader file found for agent filename"},
      {"images/kvr-agent.bin",
       {"--loader", temp_ / "none.ldr"},
       "No Loader file found for agent filename"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--port", temp_ / "no-such-port", "--yes"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    args.push_back(c.agent);
    RunResult run = RunCli(args);
    EXPECT_EQ(run.status, 1) << "'" << c.agent << "' " << Describe(run);
    EXPECT_TRUE(Contains(run.out, c.message)) << "'" << c.agent << "' " << Describe(run);
    // Refused before the port is touched.
    EXPECT_FALSE(Contains(run.out, "Unable to open the COM port")) << c.agent;
    EXPECT_FALSE(Contains(run.out, kPowerOff)) << c.agent;
  }
}

TEST_F(CliTest, PortsThatAreNoSerialDeviceShowMessage121WithAReason) {
  std::string file = temp_ / "regular-file";
  ASSERT_TRUE(WriteFile(file, "not a tty\n"));
  fs::create_directories(temp_ / "a-directory");
  for (const std::string& port :
       {file, temp_ / "a-directory", temp_ / "does-not-exist", std::string("/dev/null")}) {
    RunResult run = RunCli(
        {"--port", port, "--yes", "--loader", Sample().Loader("kvr"), "images/kvr-agent.bin"});
    EXPECT_EQ(run.status, 1) << port << Describe(run);
    std::size_t at = run.out.find(kOpenFailed);
    ASSERT_NE(at, std::string::npos) << port << Describe(run);
    std::string after = run.out.substr(at + kOpenFailed.size());
    // The reason is a line of its own right under the message.
    EXPECT_TRUE(after.size() > 2 && after[0] == '\n' && after[1] != '\n') << port << Describe(run);
    EXPECT_FALSE(Contains(run.out, kPowerOff)) << port;
    EXPECT_FALSE(HasOutcome(run.out)) << port << Describe(run);
    EXPECT_EQ(ReadFile(file), "not a tty\n");
  }
}

// --- Downloads.

struct Transfer {
  std::string speed;
  std::string cable;
};

void PrintTo(const Transfer& t, std::ostream* out) {
  *out << t.speed << " bps, cable " << t.cable;
}

class CliDownloadTest : public CliTest, public ::testing::WithParamInterface<Transfer> {};

TEST_P(CliDownloadTest, UnitReceivesBothImagesAndThePortIsPutBack) {
  Sim sim({"--save-loader", "{dir}/loader.out", "--save-agent", "{dir}/agent.out"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  std::string before = PortSettings(sim.Device());
  ASSERT_FALSE(before.empty());

  RunResult run = Download(sim, {"--speed", GetParam().speed, "--cable", GetParam().cable});
  EXPECT_EQ(run.status, 0) << Describe(run) << sim.Log();
  EXPECT_TRUE(Contains(run.out, kPowerOff));
  EXPECT_TRUE(Contains(run.out, kSuccess)) << Describe(run);
  EXPECT_EQ(PortSettings(sim.Device()), before);

  // The loader goes from its skip offset, the agent whole.
  std::string loader = ReadFile(Sample().Loader("kvr"));
  std::string sentLoader = ReadFile(sim.File("loader.out"));
  ASSERT_FALSE(sentLoader.empty()) << sim.Log();
  ASSERT_LE(sentLoader.size(), loader.size());
  std::size_t skip = loader.size() - sentLoader.size();
  EXPECT_EQ(sentLoader, loader.substr(skip));
  EXPECT_TRUE(Contains(run.out, "(from byte " + std::to_string(skip) + ")")) << Describe(run);
  EXPECT_EQ(ReadFile(sim.File("agent.out")), ReadFile(Sample().Agent("kvr")));
}

INSTANTIATE_TEST_SUITE_P(SpeedsAndCables, CliDownloadTest,
                         ::testing::Values(Transfer{"115200", "txrx"}, Transfer{"19200", "all"}),
                         [](const auto& p) { return "At" + p.param.speed + "_" + p.param.cable; });

// The installed way: COM1 through the profile's "Ports", the loader through
// "LDR Filename" relative to the program's directory, Enter at the power-off request.
TEST_F(CliTest, ProfileFindsPortAndLoaderBesideTheProgram) {
  Sim sim({"--save-agent", "{dir}/agent.out"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  fs::create_directories(temp_ / "prog/loaders");
  std::string program = temp_ / "prog/portflash-cli";
  fs::copy_file(kCli, program);
  for (const char* name : {"kvr.ldr", "kvr.err", "hpz.ldr"}) {
    fs::path from = fs::path(Sample().Dir()) / "loaders" / name;
    if (fs::exists(from)) fs::copy_file(from, temp_ / ("prog/loaders/" + std::string(name)));
  }
  WriteProfile("[Ports]\nCOM1=" + sim.Device() + "\n");

  ChildProcess::Options options = Cli({"images/kvr-agent.bin"}, program);
  options.stdinText = "\n";
  options.keepStdinOpen = true;  // only the Enter may let it go on
  RunResult run = RunToEnd(options);
  EXPECT_EQ(run.status, 0) << Describe(run) << sim.Log();
  EXPECT_TRUE(Contains(run.out, "COM1 (" + sim.Device() + ")")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, temp_ / "prog/loaders/kvr.ldr")) << Describe(run);
  EXPECT_TRUE(Contains(run.err, "Press Enter")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, kSuccess));
  EXPECT_EQ(ReadFile(sim.File("agent.out")), ReadFile(Sample().Agent("kvr")));

  // Upper-case names find the lower-case entry; an unknown port name falls back to ttyS.
  fs::copy_file(Sample().Agent("kvr"), temp_ / "KVR-AGENT.BIN");
  run = RunToEnd(Cli({"--yes", "--port", "COM9", temp_ / "KVR-AGENT.BIN"}, program));
  EXPECT_EQ(run.status, 1) << Describe(run);
  EXPECT_TRUE(Contains(run.out, temp_ / "prog/loaders/kvr.ldr")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "COM9 (/dev/ttyS8)")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, kOpenFailed)) << Describe(run);
}

// --- A unit that misbehaves: each ends in its own outcome, exit status 1.

struct Misbehaviour {
  std::string name;
  std::vector<std::string> sim;
  std::string family;  // hpz has no message file: the built-in texts apply
  std::string outcome;
  std::chrono::milliseconds limit;
  bool lineStays = true;  // false: the unit takes its device away
};

void PrintTo(const Misbehaviour& m, std::ostream* out) {
  *out << m.name;
}

class CliMisbehaviourTest : public CliTest, public ::testing::WithParamInterface<Misbehaviour> {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    // kvr with a message file of the test's own, so that the texts are known here.
    fs::create_directories(temp_ / "loaders");
    fs::copy_file(Sample().Loader("kvr"), temp_ / "loaders/kvr.ldr");
    ASSERT_TRUE(WriteFile(temp_ / "loaders/kvr.err",
                          "[ErrorFile]\n13 Loader refused: board not recognised\n"));
  }
};

TEST_P(CliMisbehaviourTest, EndsWithTheRightOutcome) {
  const Misbehaviour& m = GetParam();
  Sim sim(m.sim);
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  std::string before = PortSettings(sim.Device());
  std::string loader = m.family == "kvr" ? temp_ / "loaders/kvr.ldr" : Sample().Loader(m.family);
  auto start = std::chrono::steady_clock::now();
  RunResult run = RunCli(
      {"--port", sim.Device(), "--yes", "--loader", loader, "images/" + m.family + "-agent.bin"},
      m.limit + 10s);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.status, 1) << Describe(run) << sim.Log();
  EXPECT_TRUE(Contains(run.out, m.outcome)) << Describe(run) << sim.Log();
  EXPECT_FALSE(Contains(run.out, kSuccess));
  EXPECT_LT(took, m.limit) << Describe(run);
  if (m.lineStays) {
    EXPECT_EQ(PortSettings(sim.Device()), before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Unit, CliMisbehaviourTest,
    ::testing::Values(
        // A later handshake step is not sent again: 19 silent reads, about 6 s.
        Misbehaviour{
            "WrongReplyInLaterStep", {"--wrong-reply", "2:3:0x33"}, "hpz", kSyncFailed, 12s},
        Misbehaviour{"LoaderErrorCodeFromMessageFile",
                     {"--loader-code", "13"},
                     "kvr",
                     "Loader refused: board not recognised",
                     8s},
        // Not in the message file, which replaces the built-in texts.
        Misbehaviour{"LoaderCodeMissingFromMessageFile",
                     {"--loader-code", "14"},
                     "kvr",
                     "ERROR: Unknown Result code = 000e",
                     8s},
        Misbehaviour{"AgentDiskFull", {"--agent-code", "3"}, "hpz", "ERROR: Disk full", 8s},
        Misbehaviour{
            "UnaskedByteAfterLoader", {"--unasked", "12"}, "hpz", "ERROR: Checksum error", 8s},
        Misbehaviour{"ReplyInTheMiddleOfTheAgent",
                     {"--reply-mid", "agent:1000:5"},
                     "hpz",
                     "ERROR: Unkown Transfer ID",
                     8s},
        Misbehaviour{"HangUpInTheMiddleOfTheAgent",
                     {"--hangup", "agent:1000"},
                     "hpz",
                     kWriteFailed,
                     8s,
                     false}),
    [](const auto& p) { return p.param.name; });

// The one slow case: a unit that never answers takes the first step's 60 tries.
TEST_F(CliTest, SlowSilentUnitFailsToSynchronise) {
  Sim sim({"--silent"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  RunResult run = Download(sim);
  EXPECT_EQ(run.status, 1) << Describe(run);
  EXPECT_TRUE(Contains(run.out, kSyncFailed)) << Describe(run);
}

// --- Ctrl-C: as the wizard's Cancel; no outcome, the port put back, status 130.

struct Interruption {
  std::string name;
  std::vector<std::string> sim;
  std::vector<std::string> cli;
  std::string waitFor;  // output after which the signal comes
  bool answerPowerOff;  // false: the power-off request waits for Enter
};

void PrintTo(const Interruption& c, std::ostream* out) {
  *out << c.name;
}

class CliInterruptTest : public CliTest, public ::testing::WithParamInterface<Interruption> {};

TEST_P(CliInterruptTest, CancelsAtOnce) {
  const Interruption& c = GetParam();
  Sim sim(c.sim);
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  std::string before = PortSettings(sim.Device());

  std::vector<std::string> args = {"--port", sim.Device(), "--loader", Sample().Loader("kvr")};
  if (c.answerPowerOff) args.push_back("--yes");
  args.insert(args.end(), c.cli.begin(), c.cli.end());
  args.push_back("images/kvr-agent.bin");
  ChildProcess::Options options = Cli(args);
  options.stdinText = "";
  options.keepStdinOpen = true;  // nobody presses Enter
  ChildProcess cli;
  ASSERT_TRUE(cli.Start(options));
  ASSERT_TRUE(cli.WaitForOutput(c.waitFor, 20s)) << "--- stdout\n"
                                                 << cli.Stdout() << "--- stderr\n"
                                                 << cli.Stderr() << sim.Log();
  std::this_thread::sleep_for(300ms);
  cli.Signal(SIGINT);
  int status = cli.Wait(15s);
  RunResult run{status, cli.Stdout(), cli.Stderr()};
  EXPECT_EQ(status, kExitCancelled) << Describe(run);
  // The thread ends its step first: a chunk, or the short listen after the loader.
  EXPECT_LT(cli.LastWaitTime(), 3s) << Describe(run);
  EXPECT_TRUE(Contains(run.out, kCancelled)) << Describe(run);
  EXPECT_FALSE(HasOutcome(run.out)) << Describe(run);
  EXPECT_EQ(PortSettings(sim.Device()), before);
  // Nothing goes to the unit before the request is answered.
  if (!c.answerPowerOff) {
    EXPECT_FALSE(Contains(run.err, "Please Power on your unit")) << Describe(run);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Download, CliInterruptTest,
    ::testing::Values(
        Interruption{"AtThePowerOffRequest", {}, {}, "Press Enter", false},
        Interruption{"InTheHandshake", {"--silent"}, {}, "Please Power on your unit", true},
        // Paced at 19200 bps the loader takes a few seconds.
        Interruption{"DuringTheLoader", {"--pace"}, {"--speed", "19200"}, "% Done", true},
        // The unit expects a longer loader, so it never answers this one.
        Interruption{"InTheResultWait",
                     {"--expect-loader", PORTFLASH_CLI},
                     {},
                     "Waiting for device to complete...",
                     true}),
    [](const auto& p) { return p.param.name; });

}  // namespace
}  // namespace portflash::testing

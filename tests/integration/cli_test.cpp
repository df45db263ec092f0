// portflash-cli against portflash-sim over real pseudo-terminals: what only the
// program adds to the engine (exit status, its texts and JSON report, Ctrl-C, the
// port put back), each with a private profile.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

// Failures show the JSON as JSON ("undefined": no such member).
void PrintTo(const QJsonValue& value, std::ostream* out) {
  const QByteArray json = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
  *out << (value.isUndefined() ? "undefined" : json.mid(1, json.size() - 2).toStdString());
}
void PrintTo(const QJsonObject& object, std::ostream* out) {
  PrintTo(QJsonValue(object), out);
}

namespace portflash::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::Ge;
using ::testing::HasSubstr;
using ::testing::Lt;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kCli = PORTFLASH_CLI;
const std::string kSim = PORTFLASH_SIM;

// The one JSON object on stdout; none when stdout is not that object on one line.
QJsonObject ParseJson(const std::string& text) {
  if (std::count(text.begin(), text.end(), '\n') != 1 || !text.ends_with('\n')) return {};
  return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

QJsonValue Text(const std::string& text) {
  return QString::fromStdString(text);
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Sample().Ok()) << "scripts/make-sample-set failed";
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
    args.insert(args.begin(), program);
    return {.argv = args,
            .env = {{"XDG_CONFIG_HOME", temp_ / "config"},
                    {"XDG_CONFIG_DIRS", temp_ / "no-system-config"}},
            .workDir = Sample().Dir()};
  }

  // The kvr images on `port` with the loader given, and `extra` options.
  std::vector<std::string> Download(const std::string& port,
                                    std::vector<std::string> extra = {"--yes"}) const {
    extra.insert(extra.end(), {"--port", port, "--loader", Sample().Loader(), Sample().Agent()});
    return extra;
  }

  TempDir temp_;
};

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"--bogus", "a.bin"},
                                             {"--json", "--speed", "9600", "a.bin"},
                                             {"--cable", "rs232", "a.bin"},
                                             {"a.bin", "b.bin"},
                                             {"--list-ports", "a.bin"}}) {
    const RunResult run = RunToEnd(Cli(args));
    EXPECT_EQ(run.status, 2) << args.size() << Describe(run);
    EXPECT_THAT(run.err, HasSubstr("usage: portflash-cli")) << Describe(run);
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(RunToEnd(Cli({"--help"})).status, 0);
}

// Installed: COM1 through "Ports" (listed first), the loader through "LDR Filename"
// beside the program, Enter at the power-off request; the unit gets the loader from
// its skip offset and the agent whole, undisturbed by a second program, which is
// refused with 121 and the name of the portflash-cli that streams (the lock holder,
// not the simulator that has the device open too). With --json the texts go to
// stderr and stdout holds the report alone. (Refused sets and unit codes: the
// image-set tests and below.)
TEST_F(CliTest, InstalledProgramFindsPortAndLoaderKeepsThePortAndReportsEveryFigure) {
  SimProcess sim(
      kSim, {"--pace", "--save-loader", "{dir}/loader.out", "--save-agent", "{dir}/agent.out"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const std::string program = temp_ / "prog/portflash-cli";
  const std::string installed = temp_ / "prog/loaders/kvr.ldr";
  fs::create_directories(temp_ / "prog/loaders");
  fs::copy_file(kCli, program);
  fs::copy_file(Sample().Loader(), installed);
  WriteProfile("[Ports]\nCOM1=" + sim.Device() + "\n");
  EXPECT_THAT(RunToEnd(Cli({"--list-ports"})).out, StartsWith("COM1 - " + sim.Device() + "\n"));

  ChildProcess::Options options =
      Cli({"--json", "--cable", "all", "images/kvr-agent.bin"}, program);
  options.stdinText = "\n";  // only the Enter may let it go on
  ChildProcess first;
  ASSERT_TRUE(first.Start(options));
  ASSERT_TRUE(first.WaitForOutput("% Done", 20s)) << first.Stderr();
  const RunResult second = RunToEnd(Cli(Download(sim.Device())));
  EXPECT_EQ(second.status, 1) << Describe(second);
  // The reason is the line under message 121, and the unit is never asked for.
  EXPECT_THAT(second.out, AllOf(HasSubstr(kOpenFailed + "\n" + sim.Device() +
                                          " is in use by another program (portflash-cli, process " +
                                          std::to_string(first.Pid()) + ").\n"),
                                Not(HasSubstr(kPowerOff))));
  const RunResult run{first.Wait(60s), first.Stdout(), first.Stderr()};
  EXPECT_EQ(run.status, 0) << Describe(run) << sim.Log();
  const std::string sent = ReadFile(sim.File("loader.out"));
  ASSERT_FALSE(sent.empty()) << sim.Log();
  EXPECT_THAT(ReadFile(Sample().Loader()), EndsWith(sent));
  const std::size_t skip = fs::file_size(Sample().Loader()) - sent.size();
  EXPECT_EQ(ReadFile(sim.File("agent.out")), ReadFile(Sample().Agent()));
  EXPECT_THAT(run.err, AllOf(HasSubstr("COM1 (" + sim.Device() + ")"), HasSubstr(installed),
                             HasSubstr("(from byte " + std::to_string(skip) + ")"),
                             HasSubstr("Press Enter"), HasSubstr(kPowerOff), HasSubstr(kSuccess)));
  QJsonObject json = ParseJson(run.out);
  for (const char* key : {"loader_seconds", "agent_seconds"})
    EXPECT_THAT(json.take(key).toDouble(-1), AllOf(Ge(0.0), Lt(30.0))) << key;
  EXPECT_EQ(json, (QJsonObject{{"outcome", 65535},
                               {"outcome_name", "RESULT_SUCCESS"},
                               {"unit_code", QJsonValue::Null},
                               {"outcome_text", Text(kSuccess)},
                               {"port", "COM1"},
                               {"device", Text(sim.Device())},
                               {"speed", 115200},
                               {"cable", "All Signals"},
                               {"loader", Text(installed)},
                               {"agent", "images/kvr-agent.bin"},
                               {"products", QJsonArray{"NIMBREL7010", "NIMBREL7020"}},
                               {"loader_skip", qint64(skip)},
                               {"loader_bytes_sent", qint64(sent.size())},
                               {"agent_bytes_sent", qint64(fs::file_size(Sample().Agent()))},
                               {"cancelled", false},
                               {"exit_status", 0}}))
      << run.out;
}

// The other ends: only the members that differ from a complete download. Each
// stdout must be the object alone, even where the handshake prints its dots. Ctrl-C
// is the wizard's Cancel: no outcome, the port put back, status 130. The program's
// own wait and a paced write stand for the engine's waits, which stop alike (each
// is the unit tests').
TEST_F(CliTest, JsonNamesEveryOtherEnd) {
  // Quotes, a backslash, a tab and a byte that is no UTF-8 (shown as U+FFFD).
  const std::string odd = temp_ / "kvr \"q\" \\ \t\xff.bin";
  ASSERT_TRUE(WriteFile(odd, ReadFile(Sample().Agent())));
  const std::string noPort = temp_ / "no-port";
  // A FIFO as the agent is refused as a missing file, not waited on (a blocking open
  // would wait for a writer until the run's time-out).
  const std::string fifo = temp_ / "kvr-fifo.bin";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const QJsonObject cancelled = {{"outcome", QJsonValue::Null},
                                 {"outcome_name", "CANCELLED"},
                                 {"cancelled", true},
                                 {"speed", 19200},
                                 {"outcome_text", Text(kCancelled)},
                                 {"exit_status", 130}};
  struct Case {
    std::vector<std::string> sim;   // empty: no unit, the port is noPort
    std::vector<std::string> args;  // with a unit: the options before the kvr images
    std::string cancelAt;           // Ctrl-C once this shows
    QJsonObject expected;
  };
  const std::vector<Case> cases = {
      {{"--agent-code", "13"},
       {"--yes"},
       "",
       {{"outcome", 13},
        {"outcome_name", "UNIT_CODE"},
        {"unit_code", 13},
        {"outcome_text", "ERROR: This image is for another NIMBREL model"},
        {"exit_status", 1}}},
      // Retries print dots on stdout, which must not reach the report.
      {{"--wrong-reply", "1:2:0x33"},
       {"--yes"},
       "",
       {{"outcome", 65531},
        {"outcome_name", "RESULT_SYNC_FAILED"},
        {"outcome_text", "Failed to synchronise with device"},
        {"loader_seconds", QJsonValue::Null},
        {"exit_status", 1}}},
      {{},
       {"--yes", "--port", noPort, fifo},
       "",
       {{"outcome", QJsonValue::Null},
        {"outcome_name", "REFUSED"},
        {"outcome_text", "Unable to find the bin file specified. Please check and try again"},
        {"loader", QJsonValue::Null},
        {"products", QJsonArray{}},
        {"loader_seconds", QJsonValue::Null},
        {"exit_status", 1}}},
      {{},
       {"--yes", "--port", noPort, "--loader", Sample().Loader(), odd},
       "",
       {{"outcome", 65526},
        {"outcome_name", "RESULT_OPEN_FAILED"},
        {"outcome_text", Text(kOpenFailed + "\nThe device " + noPort + " does not exist.")},
        {"agent", Text(odd)},
        {"loader_bytes_sent", 0},
        {"agent_seconds", QJsonValue::Null},
        {"exit_status", 1}}},
      // Nobody answers the power-off request.
      {{"--quiet"}, {"--speed", "19200"}, "Press Enter", cancelled},
      {{"--pace"}, {"--yes", "--speed", "19200"}, "% Done", cancelled},
  };
  for (const Case& c : cases) {
    std::optional<SimProcess> sim;
    std::vector<std::string> args = c.args;
    if (!c.sim.empty()) {
      sim.emplace(kSim, c.sim);
      ASSERT_TRUE(sim->Ready()) << sim->Log();
      args = Download(sim->Device(), c.args);
    }
    args.insert(args.begin(), "--json");
    ChildProcess::Options options = Cli(args);
    options.stdinText = "";  // open, and nobody at it
    ChildProcess cli;
    ASSERT_TRUE(cli.Start(options));
    if (!c.cancelAt.empty()) {
      EXPECT_TRUE(cli.WaitForOutput(c.cancelAt, 20s)) << c.cancelAt;
      cli.Signal(SIGINT);
    }
    const RunResult run{cli.Wait(30s), cli.Stdout(), cli.Stderr()};
    const QJsonObject json = ParseJson(run.out);
    EXPECT_EQ(run.status, c.expected["exit_status"].toInt()) << Describe(run);
    for (const QString& key : c.expected.keys())
      EXPECT_EQ(json[key], c.expected[key]) << key.toStdString() << "\n" << run.out;
    if (c.cancelAt.empty()) continue;
    EXPECT_LT(cli.LastWaitTime(), 5s);  // one read or one paced chunk, five times over
    EXPECT_THAT(run.err, AllOf(Not(HasSubstr("Update completed")), Not(HasSubstr("Timeout")),
                               Not(HasSubstr("Failed to")), Not(HasSubstr("ERROR:"))));
    // Nothing goes to the unit before the request is answered.
    if (c.cancelAt == "Press Enter") {
      EXPECT_THAT(run.err, Not(HasSubstr("Please Power on")));
    }
  }
}

}  // namespace
}  // namespace portflash::testing

// portflash-cli --json (read back with Python's json module) and --list-ports.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>

#include "cli_fixture.h"

namespace portflash::testing {
namespace {

// Each member of the one JSON object on stdout, its value re-encoded by Python
// (json.dumps: ASCII, no spaces inside arrays' separators changed), or an error.
struct ParsedJson {
  std::map<std::string, std::string> members;
  std::string error;
  const std::string& operator[](const std::string& key) const {
    static const std::string missing = "<missing>";
    auto found = members.find(key);
    return found == members.end() ? missing : found->second;
  }
};

ParsedJson ParseJson(const std::string& text) {
  ChildProcess::Options options =
      Command({"/usr/bin/env", "python3", "-c",
               "import json, sys\n"
               "report = json.loads(sys.stdin.buffer.read().decode('utf-8'))\n"
               "assert isinstance(report, dict), 'not an object'\n"
               "for key, value in report.items():\n"
               "    print(key + '\\t' + json.dumps(value, separators=(',', ':')))\n"});
  options.stdinText = text;
  RunResult run = RunToEnd(options, 20s);
  ParsedJson parsed;
  if (run.status != 0) {
    parsed.error =
        "not one JSON object (python3 exit " + std::to_string(run.status) + "):\n" + text + run.err;
    return parsed;
  }
  std::istringstream lines(run.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t tab = line.find('\t');
    if (tab != std::string::npos) parsed.members[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return parsed;
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

class CliJsonTest : public CliTest {
 protected:
  // Runs the CLI with --json; stdout must be exactly one line, the object.
  ParsedJson RunJson(std::vector<std::string> args, RunResult* run,
                     std::chrono::milliseconds limit = 30s) {
    args.insert(args.begin(), "--json");
    *run = RunCli(args, limit);
    EXPECT_EQ(std::count(run->out.begin(), run->out.end(), '\n'), 1) << Describe(*run);
    ParsedJson parsed = ParseJson(run->out);
    EXPECT_EQ(parsed.error, "");
    return parsed;
  }

  std::vector<std::string> KvrDownload(const std::string& port) const {
    return {"--yes", "--port", port, "--loader", Sample().Loader("kvr"), "images/kvr-agent.bin"};
  }
};

TEST_F(CliJsonTest, CompleteDownloadReportsEveryFigure) {
  Sim sim({"--save-loader", "{dir}/loader.out", "--save-agent", "{dir}/agent.out"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  RunResult run;
  ParsedJson json = RunJson({"--yes", "--port", sim.Device(), "--speed", "19200", "--cable", "all",
                             "--loader", Sample().Loader("kvr"), "images/kvr-agent.bin"},
                            &run);
  EXPECT_EQ(run.status, 0) << Describe(run) << sim.Log();
  // The messages still reach the user, on stderr.
  EXPECT_TRUE(Contains(run.err, kPowerOff)) << Describe(run);
  EXPECT_TRUE(Contains(run.err, kSuccess)) << Describe(run);

  EXPECT_EQ(json["outcome"], "65535");
  EXPECT_EQ(json["outcome_name"], "\"RESULT_SUCCESS\"");
  EXPECT_EQ(json["unit_code"], "null");
  EXPECT_EQ(json["outcome_text"], Quoted(kSuccess));
  EXPECT_EQ(json["port"], Quoted(sim.Device()));
  EXPECT_EQ(json["device"], Quoted(sim.Device()));
  EXPECT_EQ(json["speed"], "19200");
  EXPECT_EQ(json["cable"], "\"All Signals\"");
  EXPECT_EQ(json["loader"], Quoted(Sample().Loader("kvr")));
  EXPECT_EQ(json["agent"], "\"images/kvr-agent.bin\"");
  EXPECT_EQ(json["cancelled"], "false");
  EXPECT_EQ(json["exit_status"], "0");

  // Bytes as the unit received them; the loader from its skip offset.
  const std::size_t loaderSize = fs::file_size(Sample().Loader("kvr"));
  const std::size_t loaderSent = ReadFile(sim.File("loader.out")).size();
  ASSERT_GT(loaderSent, 0u);
  EXPECT_EQ(json["loader_skip"], std::to_string(loaderSize - loaderSent));
  EXPECT_EQ(json["loader_bytes_sent"], std::to_string(loaderSent));
  EXPECT_EQ(json["agent_bytes_sent"], std::to_string(fs::file_size(Sample().Agent("kvr"))));
  for (const char* key : {"loader_seconds", "agent_seconds"}) {
    const std::string& value = json[key];
    ASSERT_TRUE(!value.empty() && std::isdigit(static_cast<unsigned char>(value[0]))) << key;
    EXPECT_LT(std::stod(value), 30.0) << key;
  }
  // The products are those of the summary that the messages show.
  std::size_t at = run.err.find("Products: ");
  ASSERT_NE(at, std::string::npos) << Describe(run);
  std::istringstream words(run.err.substr(at + 10, run.err.find('\n', at) - at - 10));
  std::string expected = "[";
  for (std::string word; words >> word;)
    expected += (expected.size() > 1 ? "," : "") + Quoted(word);
  EXPECT_EQ(json["products"], expected + "]");
  EXPECT_NE(json["products"], "[]");
}

struct FailedRun {
  std::string name;
  std::vector<std::string> sim;
  std::string outcome;
  std::string outcomeName;
  std::string unitCode;
  std::string text;
};

void PrintTo(const FailedRun& f, std::ostream* out) {
  *out << f.name;
}

class CliJsonFailureTest : public CliJsonTest, public ::testing::WithParamInterface<FailedRun> {};

TEST_P(CliJsonFailureTest, NamesTheOutcomeAndCountsWhatWasSent) {
  const FailedRun& f = GetParam();
  Sim sim(f.sim);
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  RunResult run;
  ParsedJson json = RunJson(KvrDownload(sim.Device()), &run);
  EXPECT_EQ(run.status, 1) << Describe(run) << sim.Log();
  EXPECT_EQ(json["outcome"], f.outcome);
  EXPECT_EQ(json["outcome_name"], Quoted(f.outcomeName));
  EXPECT_EQ(json["unit_code"], f.unitCode);
  EXPECT_TRUE(Contains(json["outcome_text"], f.text)) << json["outcome_text"];
  EXPECT_EQ(json["exit_status"], "1");
  const std::string loaderSent = json["loader_bytes_sent"];
  const std::uint64_t agentSize = fs::file_size(Sample().Agent("kvr"));
  if (f.outcomeName == "RESULT_WRITE_FAILED") {
    // The unit went away 1000 bytes into the agent: some of it went, not all.
    EXPECT_GE(std::stoull(json["agent_bytes_sent"]), 1000u);
    EXPECT_LT(std::stoull(json["agent_bytes_sent"]), agentSize);
  } else {
    EXPECT_EQ(json["agent_bytes_sent"], std::to_string(agentSize));
  }
  EXPECT_NE(loaderSent, "0");
}

INSTANTIATE_TEST_SUITE_P(
    Unit, CliJsonFailureTest,
    ::testing::Values(FailedRun{"UnitCode",
                                {"--agent-code", "13"},
                                "13",
                                "UNIT_CODE",
                                "13",
                                "ERROR: This image is for another NIMBREL model"},
                      FailedRun{"HangUp",
                                {"--hangup", "agent:1000"},
                                "65532",
                                "RESULT_WRITE_FAILED",
                                "null",
                                kWriteFailed}),
    [](const auto& p) { return p.param.name; });

TEST_F(CliJsonTest, RefusalsBeforeTheDownloadReportTheirMessage) {
  RunResult run;
  // The agent file is missing: message 120, nothing resolved.
  ParsedJson json = RunJson({"--yes", "--port", temp_ / "no-port", "images/none.bin"}, &run);
  EXPECT_EQ(run.status, 1) << Describe(run);
  EXPECT_EQ(json["outcome"], "null");
  EXPECT_EQ(json["outcome_name"], "\"REFUSED\"");
  EXPECT_EQ(json["outcome_text"],
            "\"Unable to find the bin file specified. Please check and try again\"");
  EXPECT_EQ(json["loader"], "null");
  EXPECT_EQ(json["products"], "[]");
  EXPECT_EQ(json["loader_seconds"], "null");

  // The port does not open: message 121 and the reason, the image set resolved.
  const std::string port = temp_ / "no-port";
  json = RunJson(KvrDownload(port), &run);
  EXPECT_EQ(run.status, 1) << Describe(run);
  EXPECT_EQ(json["outcome"], "65526");
  EXPECT_EQ(json["outcome_name"], "\"RESULT_OPEN_FAILED\"");
  std::string text = kOpenFailed + "\nThe device " + port + " does not exist.";
  EXPECT_EQ(json["outcome_text"], JsonText(text));
  EXPECT_EQ(json["loader"], Quoted(Sample().Loader("kvr")));
  EXPECT_NE(json["products"], "[]");
  EXPECT_EQ(json["loader_bytes_sent"], "0");
  EXPECT_EQ(json["agent_seconds"], "null");
}

TEST_F(CliJsonTest, CancelIsReportedAsSuch) {
  Sim sim({"--silent"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  std::vector<std::string> args = KvrDownload(sim.Device());
  args.insert(args.begin(), "--json");
  ChildProcess cli;
  ASSERT_TRUE(cli.Start(Cli(args)));
  ASSERT_TRUE(cli.WaitForOutput("Please Power on your unit", 20s)) << cli.Stderr();
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(15s), kExitCancelled) << cli.Stderr();
  ParsedJson json = ParseJson(cli.Stdout());
  ASSERT_EQ(json.error, "");
  EXPECT_EQ(json["outcome"], "null");
  EXPECT_EQ(json["outcome_name"], "\"CANCELLED\"");
  EXPECT_EQ(json["cancelled"], "true");
  EXPECT_EQ(json["outcome_text"], Quoted(kCancelled));
  EXPECT_EQ(json["exit_status"], "130");
}

TEST_F(CliJsonTest, PathsWithAnyBytesStayValidJson) {
  // Quotes, a backslash, a tab and a byte that is no UTF-8 (taken as Latin-1).
  const std::string name = "kvr \"q\" \\ \t\xff.bin";
  ASSERT_TRUE(WriteFile(temp_ / name, ReadFile(Sample().Agent("kvr"))));
  RunResult run;
  ParsedJson json = RunJson(
      {"--yes", "--port", temp_ / "no-port", "--loader", Sample().Loader("kvr"), temp_ / name},
      &run);
  EXPECT_EQ(run.status, 1) << Describe(run);
  EXPECT_EQ(json["agent"], Quoted(temp_.Path() + "/kvr \\\"q\\\" \\\\ \\t\\u00ff.bin"));
  EXPECT_EQ(json["outcome_name"], "\"RESULT_OPEN_FAILED\"");
}

// --- --list-ports: the COM page's list.

TEST_F(CliTest, ListPortsShowsTheComNamesThenThePresentDevices) {
  WriteProfile("[Ports]\nCOM2=/dev/ttyUSB9\n");
  RunResult run = RunCli({"--list-ports"});
  ASSERT_EQ(run.status, 0) << Describe(run);
  std::vector<std::string> lines;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[0], "COM1 - /dev/ttyS0");
  EXPECT_EQ(lines[1], "COM2 - /dev/ttyUSB9");
  EXPECT_EQ(lines[2], "COM3 - /dev/ttyS2");
  EXPECT_EQ(lines[3], "COM4 - /dev/ttyS3");
  // Then the devices that are there, path first, each once, none a COM name's device.
  std::set<std::string> seen;
  for (std::size_t i = 4; i < lines.size(); ++i) {
    const std::string path = lines[i].substr(0, lines[i].find(" - "));
    struct stat info {};
    EXPECT_TRUE(stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) << lines[i];
    EXPECT_TRUE(seen.insert(path).second) << lines[i];
    EXPECT_NE(path, "/dev/ttyS0");
  }
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(RunCli({"--list-ports", "images/kvr-agent.bin"}).status, 2);
}

}  // namespace
}  // namespace portflash::testing

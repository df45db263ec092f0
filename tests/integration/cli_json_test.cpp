// portflash-cli --json, read back with Python's json module.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>

#include "cli_fixture.h"

namespace portflash::testing {
namespace {

// Each member of the one JSON object on stdout, its value as json.dumps writes it
// (ASCII, no spaces), or "error" when stdout is not one object on one line.
std::map<std::string, std::string> ParseJson(const std::string& text) {
  ChildProcess::Options options =
      Command({"/usr/bin/env", "python3", "-c",
               "import json, sys\n"
               "text = sys.stdin.buffer.read().decode('utf-8')\n"
               "assert text.count('\\n') == 1 and text.endswith('\\n')\n"
               "for key, value in json.loads(text).items():\n"
               "    print(key + '\\t' + json.dumps(value, separators=(',', ':')))\n"});
  options.stdinText = text;
  const RunResult run = RunToEnd(options, 20s);
  if (run.status != 0) return {{"error", text + run.err}};
  std::map<std::string, std::string> members;
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);)
    members[line.substr(0, line.find('\t'))] = line.substr(line.find('\t') + 1);
  return members;
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

TEST_F(CliTest, JsonReportsEveryFigureOfACompleteDownload) {
  SimProcess sim(kSim, {"--save-loader", "{dir}/loader.out"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const RunResult run =
      RunCli(Download(sim.Device(), {"--json", "--yes", "--speed", "19200", "--cable", "all"}));
  EXPECT_EQ(run.status, 0) << Describe(run) << sim.Log();
  // The messages still reach the user, on stderr.
  EXPECT_TRUE(Contains(run.err, kPowerOff) && Contains(run.err, kSuccess)) << Describe(run);
  auto json = ParseJson(run.out);
  const std::size_t loaderSent = ReadFile(sim.File("loader.out")).size();
  const std::size_t loaderSize = fs::file_size(Sample().Loader());
  ASSERT_GT(loaderSent, 0u);
  // The products are those of the summary that the messages show.
  const std::size_t at = run.err.find("Products: ");
  ASSERT_NE(at, std::string::npos) << Describe(run);
  std::istringstream words(run.err.substr(at + 10, run.err.find('\n', at) - at - 10));
  std::string products;
  for (std::string word; words >> word;) products += (products.empty() ? "" : ",") + Quoted(word);
  ASSERT_NE(products, "");
  for (std::string key : {"loader_seconds", "agent_seconds"}) {
    EXPECT_TRUE(json[key].find_first_not_of("0123456789.e-") == std::string::npos &&
                std::stod(json[key]) < 30.0)
        << key << " " << json[key];
    json.erase(key);
  }
  EXPECT_EQ(json, (std::map<std::string, std::string>{
                      {"outcome", "65535"},
                      {"outcome_name", "\"RESULT_SUCCESS\""},
                      {"unit_code", "null"},
                      {"outcome_text", Quoted(kSuccess)},
                      {"port", Quoted(sim.Device())},
                      {"device", Quoted(sim.Device())},
                      {"speed", "19200"},
                      {"cable", "\"All Signals\""},
                      {"loader", Quoted(Sample().Loader())},
                      {"agent", Quoted(Sample().Agent())},
                      {"products", "[" + products + "]"},
                      {"loader_skip", std::to_string(loaderSize - loaderSent)},
                      {"loader_bytes_sent", std::to_string(loaderSent)},
                      {"agent_bytes_sent", std::to_string(fs::file_size(Sample().Agent()))},
                      {"cancelled", "false"},
                      {"exit_status", "0"}}));
}

// The other ends: only the members that differ from a complete download.
TEST_F(CliTest, JsonNamesEveryOtherEnd) {
  // Quotes, a backslash, a tab and a byte that is no UTF-8 (taken as Latin-1).
  const std::string odd = temp_ / "kvr \"q\" \\ \t\xff.bin";
  ASSERT_TRUE(WriteFile(odd, ReadFile(Sample().Agent())));
  const std::string noPort = temp_ / "no-port";
  const std::string agentSize = std::to_string(fs::file_size(Sample().Agent()));
  struct Case {
    std::vector<std::string> sim;  // empty: no unit, the port is noPort
    std::vector<std::string> args;
    std::string cancelAt;  // Ctrl-C once this shows
    std::map<std::string, std::string> expected;
  };
  const std::vector<Case> cases = {
      {{"--agent-code", "13"},
       {},
       "",
       {{"outcome", "13"},
        {"outcome_name", "\"UNIT_CODE\""},
        {"unit_code", "13"},
        {"outcome_text", "\"ERROR: This image is for another NIMBREL model\""},
        {"agent_bytes_sent", agentSize},
        {"exit_status", "1"}}},
      {{"--hangup", "agent:1000"},
       {},
       "",
       {{"outcome", "65532"},
        {"outcome_name", "\"RESULT_WRITE_FAILED\""},
        {"unit_code", "null"},
        {"outcome_text", "\"Failed to write data to device\\nThe serial device was disconnected\""},
        {"exit_status", "1"}}},
      {{},
       {"--yes", "--port", noPort, "images/none.bin"},
       "",
       {{"outcome", "null"},
        {"outcome_name", "\"REFUSED\""},
        {"outcome_text", "\"Unable to find the bin file specified. Please check and try again\""},
        {"loader", "null"},
        {"products", "[]"},
        {"loader_seconds", "null"},
        {"exit_status", "1"}}},
      {{},
       {"--yes", "--port", noPort, "--loader", Sample().Loader(), odd},
       "",
       {{"outcome", "65526"},
        {"outcome_name", "\"RESULT_OPEN_FAILED\""},
        {"outcome_text", JsonText(kOpenFailed + "\nThe device " + noPort + " does not exist.")},
        {"agent", Quoted(temp_.Path() + "/kvr \\\"q\\\" \\\\ \\t\\u00ff.bin")},
        {"loader_bytes_sent", "0"},
        {"agent_seconds", "null"},
        {"exit_status", "1"}}},
      {{"--silent"},
       {},
       "Please Power on your unit",
       {{"outcome", "null"},
        {"outcome_name", "\"CANCELLED\""},
        {"cancelled", "true"},
        {"outcome_text", Quoted(kCancelled)},
        {"exit_status", "130"}}},
  };
  for (const Case& c : cases) {
    std::optional<SimProcess> sim;
    std::vector<std::string> args = c.args;
    if (!c.sim.empty()) {
      sim.emplace(kSim, c.sim);
      ASSERT_TRUE(sim->Ready()) << sim->Log();
      args = Download(sim->Device());
    }
    args.insert(args.begin(), "--json");
    const RunResult run = c.cancelAt.empty() ? RunCli(args) : Interrupt(args, c.cancelAt);
    auto json = ParseJson(run.out);
    EXPECT_EQ(std::to_string(run.status), c.expected.at("exit_status")) << Describe(run);
    for (const auto& [key, value] : c.expected) EXPECT_EQ(json[key], value) << key << json["error"];
    if (c.expected.at("outcome") == "65532") {  // gone 1000 bytes into the agent
      EXPECT_GE(std::stoull(json["agent_bytes_sent"]), 1000u);
      EXPECT_LT(std::stoull(json["agent_bytes_sent"]), std::stoull(agentSize));
    }
  }
}

}  // namespace
}  // namespace portflash::testing

// portflash-cli --json, read back with QJsonDocument.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <map>
#include <optional>

#include "cli_fixture.h"

namespace portflash::testing {
namespace {

// Each member of the one JSON object on stdout, its value as compact JSON, or
// "error" when stdout is not one object on one line.
std::map<std::string, std::string> ParseJson(const std::string& text) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject() ||
      std::count(text.begin(), text.end(), '\n') != 1 || !text.ends_with('\n'))
    return {{"error", text}};
  std::map<std::string, std::string> members;
  const QJsonObject object = document.object();
  for (auto it = object.begin(); it != object.end(); ++it) {
    const QByteArray value = QJsonDocument(QJsonArray{it.value()}).toJson(QJsonDocument::Compact);
    members[it.key().toStdString()] = value.mid(1, value.size() - 2).toStdString();
  }
  return members;
}

// A text as a JSON string holds it: line ends as \n (the texts have no other escapes).
std::string Quoted(const std::string& text) {
  std::string json = "\"";
  for (char c : text) json += c == '\n' ? std::string("\\n") : std::string(1, c);
  return json + "\"";
}

TEST_F(CliTest, JsonReportsEveryFigureOfACompleteDownload) {
  SimProcess sim(kSim, {"--save-loader", "{dir}/loader.out"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const RunResult run =
      RunCli(Download(sim.Device(), {"--json", "--yes", "--speed", "19200", "--cable", "all"}));
  EXPECT_EQ(run.status, 0) << Describe(run) << sim.Log();
  // The messages still reach the user, on stderr.
  EXPECT_NE(run.err.find(kPowerOff), std::string::npos) << Describe(run);
  EXPECT_NE(run.err.find(kSuccess), std::string::npos) << Describe(run);
  auto json = ParseJson(run.out);
  const std::size_t loaderSent = ReadFile(sim.File("loader.out")).size();
  const std::size_t loaderSize = fs::file_size(Sample().Loader());
  ASSERT_GT(loaderSent, 0u);
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
                      {"products", "[\"NIMBREL7010\",\"NIMBREL7020\"]"},
                      {"loader_skip", std::to_string(loaderSize - loaderSent)},
                      {"loader_bytes_sent", std::to_string(loaderSent)},
                      {"agent_bytes_sent", std::to_string(fs::file_size(Sample().Agent()))},
                      {"cancelled", "false"},
                      {"exit_status", "0"}}));
}

// The other ends: only the members that differ from a complete download. Each
// stdout must be the object alone, even where the handshake prints its dots.
TEST_F(CliTest, JsonNamesEveryOtherEnd) {
  // Quotes, a backslash, a tab and a byte that is no UTF-8 (shown as U+FFFD).
  const std::string odd = temp_ / "kvr \"q\" \\ \t\xff.bin";
  ASSERT_TRUE(WriteFile(odd, ReadFile(Sample().Agent())));
  const std::string noPort = temp_ / "no-port";
  // A FIFO as the agent is refused as a missing file, not waited on (a blocking open
  // would wait for a writer until the run's time-out).
  const std::string fifo = temp_ / "kvr-fifo.bin";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
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
      // Retries print dots on stdout, which must not reach the report.
      {{"--wrong-reply", "1:2:0x33"},
       {},
       "",
       {{"outcome", "65531"},
        {"outcome_name", "\"RESULT_SYNC_FAILED\""},
        {"outcome_text", "\"Failed to synchronise with device\""},
        {"loader_seconds", "null"},
        {"exit_status", "1"}}},
      {{},
       {"--yes", "--port", noPort, fifo},
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
        {"outcome_text", Quoted(kOpenFailed + "\nThe device " + noPort + " does not exist.")},
        {"agent", Quoted(temp_.Path() + "/kvr \\\"q\\\" \\\\ \\t\xef\xbf\xbd.bin")},
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
  }
}

}  // namespace
}  // namespace portflash::testing

#pragma once
#include <optional>
#include <string>
#include <vector>

namespace portflash::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 130;

struct CliOptions {
  std::string port = "COM1";
  std::string speed = "115200";
  bool allSignals = false;  // the "TX and RX Only" cable unless --cable all
  std::optional<std::string> loader;
  bool yes = false;
  bool help = false;
  bool listPorts = false;
  bool json = false;  // one JSON object on stdout at the end; messages go to stderr
  std::string agent;
};

struct ParseResult {
  std::optional<CliOptions> options;  // empty: a usage error
  std::string error;                  // what was wrong, for the usage message
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);

std::string UsageLine(const std::string& program);
std::string HelpText(const std::string& program);
const char* CableName(bool allSignals);

}  // namespace portflash::cli

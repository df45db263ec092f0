#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/download_thread.h"
#include "engine/result_code.h"

namespace portflash::cli {

// What a run ended with, for --json: one object that a script collects.
struct RunReport {
  enum class End { Refused, OpenFailed, Finished, Cancelled };
  End end = End::Refused;
  std::optional<ResultCode> outcome;  // Finished only
  std::string outcomeText;            // the last message shown
  int exitStatus = 1;
  std::string port;
  std::string device;
  std::string speed;
  std::string cable;
  std::optional<std::string> loader;  // once the image set was resolved
  std::uint32_t loaderSkip = 0;
  std::string agent;
  TransferRecord transfer;
  std::vector<std::string> products;
};

// "RESULT_SUCCESS", ...; "UNIT_CODE" for a byte that the unit sent.
std::string ResultCodeName(ResultCode code);

// The report as one line of JSON (UTF-8; a byte that is no UTF-8 becomes U+FFFD).
std::string FormatJson(const RunReport& report);

// "kvr hpz " -> {"kvr", "hpz"}
std::vector<std::string> SplitProductList(const char* list);

}  // namespace portflash::cli

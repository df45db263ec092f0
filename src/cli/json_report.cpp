#include "cli/json_report.h"

#include <nlohmann/json.hpp>

namespace portflash::cli {
namespace {

// Seconds to the millisecond; null for an image not sent.
nlohmann::ordered_json Seconds(const ImageTransfer& image) {
  if (!image.started) return nullptr;
  return static_cast<double>(image.milliseconds) / 1000.0;
}

std::string EndName(const RunReport& report) {
  switch (report.end) {
    case RunReport::End::Refused:
      return "REFUSED";
    case RunReport::End::OpenFailed:
      return ResultCodeName(RESULT_OPEN_FAILED);
    case RunReport::End::Cancelled:
      return "CANCELLED";
    case RunReport::End::Finished:
      break;
  }
  return report.outcome ? ResultCodeName(*report.outcome) : "REFUSED";
}

}  // namespace

std::string ResultCodeName(ResultCode code) {
  switch (code) {
    case RESULT_SUCCESS:
      return "RESULT_SUCCESS";
    case RESULT_RESULT_TIMEOUT:
      return "RESULT_RESULT_TIMEOUT";
    case RESULT_NO_FILE:
      return "RESULT_NO_FILE";
    case RESULT_WRITE_FAILED:
      return "RESULT_WRITE_FAILED";
    case RESULT_SYNC_FAILED:
      return "RESULT_SYNC_FAILED";
    case RESULT_BAD_BAUD:
      return "RESULT_BAD_BAUD";
    case RESULT_CONFIG_FAILED:
      return "RESULT_CONFIG_FAILED";
    case RESULT_NO_DATA:
      return "RESULT_NO_DATA";
    case RESULT_NO_MEMORY:
      return "RESULT_NO_MEMORY";
    case RESULT_OPEN_FAILED:
      return "RESULT_OPEN_FAILED";
    default:
      break;
  }
  return code <= 0xFF ? "UNIT_CODE" : "UNKNOWN";
}

std::string FormatJson(const RunReport& report) {
  std::optional<ResultCode> outcome = report.outcome;
  if (report.end == RunReport::End::OpenFailed) outcome = RESULT_OPEN_FAILED;
  if (report.end == RunReport::End::Refused || report.end == RunReport::End::Cancelled) {
    outcome.reset();
  }
  // A plain number: g++ -O2 wrongly warns of an uninitialised optional here.
  const long code = outcome.has_value() ? static_cast<long>(outcome.value()) : -1;
  // In the order a person reads them.
  nlohmann::ordered_json json;
  json["outcome"] = code >= 0 ? nlohmann::ordered_json(code) : nullptr;
  json["outcome_name"] = EndName(report);
  json["unit_code"] = code >= 0 && code <= 0xFF ? nlohmann::ordered_json(code) : nullptr;
  json["outcome_text"] = report.outcomeText;
  json["port"] = report.port;
  json["device"] = report.device;
  json["speed"] = report.speed.empty() ? nullptr : nlohmann::ordered_json(std::stol(report.speed));
  json["cable"] = report.cable;
  json["loader"] = report.loader ? nlohmann::ordered_json(*report.loader) : nullptr;
  json["loader_skip"] = report.loaderSkip;
  json["agent"] = report.agent;
  json["loader_bytes_sent"] = report.transfer.loader.bytesSent;
  json["agent_bytes_sent"] = report.transfer.agent.bytesSent;
  json["loader_seconds"] = Seconds(report.transfer.loader);
  json["agent_seconds"] = Seconds(report.transfer.agent);
  json["products"] = report.products;
  json["cancelled"] = report.end == RunReport::End::Cancelled;
  json["exit_status"] = report.exitStatus;
  // Paths are bytes: one that is no UTF-8 is shown with U+FFFD in its place
  // rather than making the whole report unreadable.
  return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::vector<std::string> SplitProductList(const char* list) {
  std::vector<std::string> products;
  std::string word;
  for (const char* p = list != nullptr ? list : ""; *p != '\0'; ++p) {
    if (*p == ' ') {
      if (!word.empty()) products.push_back(word);
      word.clear();
    } else {
      word += *p;
    }
  }
  if (!word.empty()) products.push_back(word);
  return products;
}

}  // namespace portflash::cli

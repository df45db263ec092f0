#include "cli/json_report.h"

#include <cstdio>

namespace portflash::cli {
namespace {

// Length of the valid UTF-8 sequence at text[i], 0 when there is none.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length = 0;
  unsigned min = 0;
  unsigned code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80, code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800, code = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000, code = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0u) != 0x80u) return 0;
    code = (code << 6) | (next & 0x3Fu);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    char escape[8];
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (std::size_t length = Utf8Length(text, i); length != 0) {
      out += text.substr(i, length);
      i += length - 1;
    } else {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    }
  }
  return out + "\"";
}

std::string Seconds(const ImageTransfer& image) {
  if (!image.started) return "null";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", static_cast<double>(image.milliseconds) / 1000.0);
  return buffer;
}

class Object {
 public:
  void Raw(const char* name, const std::string& value) {
    m_text += (m_text.empty() ? "{" : ",") + Quote(name) + ":" + value;
  }
  void String(const char* name, const std::string& value) { Raw(name, Quote(value)); }
  void Number(const char* name, std::uint64_t value) { Raw(name, std::to_string(value)); }
  std::string Close() const { return m_text + "}"; }

 private:
  std::string m_text;
};

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
  Object json;
  json.Raw("outcome", code >= 0 ? std::to_string(code) : "null");
  json.String("outcome_name", EndName(report));
  json.Raw("unit_code", code >= 0 && code <= 0xFF ? std::to_string(code) : "null");
  json.String("outcome_text", report.outcomeText);
  json.String("port", report.port);
  json.String("device", report.device);
  json.Raw("speed", report.speed.empty() ? "null" : report.speed);
  json.String("cable", report.cable);
  json.Raw("loader", report.loader ? Quote(*report.loader) : "null");
  json.Number("loader_skip", report.loaderSkip);
  json.String("agent", report.agent);
  json.Number("loader_bytes_sent", report.transfer.loader.bytesSent);
  json.Number("agent_bytes_sent", report.transfer.agent.bytesSent);
  json.Raw("loader_seconds", Seconds(report.transfer.loader));
  json.Raw("agent_seconds", Seconds(report.transfer.agent));
  std::string products = "[";
  for (const std::string& product : report.products) {
    products += (products.size() > 1 ? "," : "") + Quote(product);
  }
  json.Raw("products", products + "]");
  json.Raw("cancelled", report.end == RunReport::End::Cancelled ? "true" : "false");
  json.Number("exit_status", static_cast<std::uint64_t>(report.exitStatus));
  return json.Close();
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

#include "cli/cli_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <functional>
#include <memory>

namespace portflash::cli {
namespace {

constexpr const char* kProgram = "portflash-cli";

constexpr const char* kDescription =
    "Sends a boot loader and the agent image AGENT.BIN to a unit on a serial console\n"
    "port, as the Portflash wizard does, and reports the unit's result.\n";

constexpr const char* kFooter =
    "The loader: the agent file's name begins with a three-letter family prefix\n"
    "(kvr-agent.bin: kvr). The entry of that prefix in the profile section\n"
    "\"LDR Filename\" holds the loader's file name, relative to the directory of this\n"
    "program. Result texts for the unit's codes come from the file beside the loader\n"
    "with the extension .err, else from built-in texts.\n"
    "The profile is $XDG_CONFIG_HOME/Tarvex Corporation/Portflash.conf\n"
    "(~/.config by default), falling back to /etc/xdg/Tarvex Corporation/Portflash.conf.\n"
    "\n"
    "When asked, power the unit off, press Enter, then power it on: the transfer\n"
    "starts once the unit's boot monitor answers. Ctrl-C cancels at any time and\n"
    "puts the port's settings back.\n"
    "\n"
    "When a port cannot be opened, the line under \"Unable to open the COM port\"\n"
    "says why: the device does not exist; it is in use by another program (named\n"
    "where the system can tell); or permission is denied, with the group that owns\n"
    "the device and the command that adds you to it.\n"
    "\n"
    "With --json the object holds: outcome (the 16-bit result value; null when\n"
    "nothing was sent), outcome_name (RESULT_SUCCESS, RESULT_SYNC_FAILED, ...;\n"
    "UNIT_CODE for a byte the unit sent, that byte in unit_code; RESULT_OPEN_FAILED\n"
    "when the port did not open; REFUSED when the image set was refused; CANCELLED),\n"
    "outcome_text (the last message shown), port, device, speed, cable, loader,\n"
    "loader_skip, agent, loader_bytes_sent, agent_bytes_sent, loader_seconds and\n"
    "agent_seconds (streaming time; null for an image not sent), products (array),\n"
    "cancelled (true or false) and exit_status. Nothing else is written to stdout.\n"
    "\n"
    "Exit status:\n"
    "  0    the unit reported success\n"
    "  1    any other outcome, or the image, loader or port was refused\n"
    "  2    usage error\n"
    "  130  cancelled (Ctrl-C or SIGTERM)";

// The two forms of the command line, each after its lead-in.
std::string Forms(const std::string& program, const char* first, const char* second) {
  return first + program +
         " [--port NAME] [--speed 115200|19200] [--cable all|txrx] [--loader FILE] [--yes] "
         "[--json] AGENT.BIN\n" +
         second + program + " --list-ports\n";
}

// A usage error in this program's words, thrown from inside CLI11's parse.
struct UsageError {
  std::string message;
};

// One option. `apply` stores a value (or, for a flag, the fact) and returns
// the message for a value it refuses, else "".
struct OptionSpec {
  const char* names;  // CLI11 form: "-y,--yes"
  const char* value;  // the value's name in the help, or nullptr for a flag
  const char* help;
  std::function<std::string(CliOptions&, const std::string&)> apply;
};

const std::vector<OptionSpec>& OptionTable() {
  static const std::vector<OptionSpec> table = {
      {"--port", "NAME",
       "serial port (default COM1). COMn is the device named by the\n"
       "entry COMn of the profile section \"Ports\", or /dev/ttyS<n-1>\n"
       "when there is none (COM1 is /dev/ttyS0). A name that starts\n"
       "with / is a device path (/dev/ttyUSB0).",
       [](CliOptions& o, const std::string& v) {
         if (v.empty()) return std::string("--port needs a port name");
         o.port = v;
         return std::string();
       }},
      {"--speed", "RATE",
       "115200 (default) or 19200 bps for the transfer; the handshake\n"
       "always begins at 9600 bps.",
       [](CliOptions& o, const std::string& v) {
         if (v != "115200" && v != "19200") {
           return "--speed must be 115200 or 19200, not '" + v + "'";
         }
         o.speed = v;
         return std::string();
       }},
      {"--cable", "TYPE",
       "txrx (default): \"TX and RX Only\", no hardware handshake;\n"
       "all: \"All Signals\", with the modem lines.",
       [](CliOptions& o, const std::string& v) {
         if (v != "all" && v != "txrx") return "--cable must be all or txrx, not '" + v + "'";
         o.allSignals = v == "all";
         return std::string();
       }},
      {"--loader", "FILE",
       "use this boot loader instead of the one the profile names;\n"
       "its header, product list and .err file are read as usual.",
       [](CliOptions& o, const std::string& v) {
         if (v.empty()) return std::string("--loader needs a file name");
         o.loader = v;
         return std::string();
       }},
      {"-y,--yes", nullptr, "do not wait for Enter after the power-off request.",
       [](CliOptions& o, const std::string&) {
         o.yes = true;
         return std::string();
       }},
      {"--json", nullptr,
       "print one JSON object on stdout at the end (see below);\n"
       "the messages then go to stderr.",
       [](CliOptions& o, const std::string&) {
         o.json = true;
         return std::string();
       }},
      {"--list-ports", nullptr,
       "list the ports, one a line, the name to give --port first:\n"
       "COM1 to COM4 with the device each opens, then the serial\n"
       "devices that are present, USB adapters first, each with its\n"
       "description (\"/dev/ttyUSB0 - FT232R USB UART\").",
       [](CliOptions& o, const std::string&) {
         o.listPorts = true;
         return std::string();
       }},
  };
  return table;
}

// The usage lines first, then the description; options as "--name VALUE".
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App* app, std::string) const override {
    // As help2man reads a synopsis, for the manual page.
    return Forms(app->get_name(), "Usage: ", "   or: ") + "\n" + app->get_description() + "\n";
  }
  std::string make_description(const CLI::App*) const override { return ""; }
  // CLI11 leaves two blank lines around each group.
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    std::string text = CLI::Formatter::make_help(app, std::move(name), mode);
    for (std::size_t at; (at = text.find("\n\n\n")) != std::string::npos;) text.erase(at, 1);
    return text;
  }
  std::string make_option_name(const CLI::Option* option, bool) const override {
    return option->get_name();
  }
  std::string make_option_opts(const CLI::Option* option) const override {
    return option->get_option_text();
  }
};

void AddOption(CLI::App& app, const OptionSpec& spec, CliOptions& parsed) {
  CLI::Option* option = nullptr;
  if (spec.value == nullptr) {
    option = app.add_flag(spec.names);
    // A flag reads "true" when given bare, else the text after '='.
    option->each([&spec](const std::string& given) {
      if (given != "true") {
        const std::string names = spec.names;
        throw UsageError{"unknown option '" + names.substr(names.rfind(',') + 1) + "=" + given +
                         "'"};
      }
    });
  } else {
    option = app.add_option(spec.names);
    option->option_text(std::string(" ") + spec.value);
  }
  option->description(spec.help);
  // Applied as given, occurrence after occurrence.
  option->each([&spec, &parsed](const std::string& given) {
    std::string refusal = spec.apply(parsed, given);
    if (!refusal.empty()) throw UsageError{std::move(refusal)};
  });
}

// Every option of the command line on `app`, storing into `parsed`; the
// arguments that are no option into `positional`.
void Describe(CLI::App& app, CliOptions& parsed, std::vector<std::string>& positional) {
  app.description(kDescription);
  app.footer(kFooter);
  app.formatter(std::make_shared<HelpFormatter>());
  app.get_formatter()->column_width(18);
  app.set_help_flag("-h,--help", "show this text.");
  app.allow_extras();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  for (const OptionSpec& spec : OptionTable()) AddOption(app, spec, parsed);
  // Hidden from the option list: the usage lines show it.
  app.add_option("agent", positional)->group("");
}

// "--port: 1 required TEXT missing": CLI11 names the option first.
std::string MissingValueMessage(const CLI::ArgumentMismatch& error) {
  const std::string what = error.what();
  const std::size_t colon = what.find(':');
  if (colon == std::string::npos || what.compare(0, 2, "--") != 0) return what;
  return what.substr(0, colon) + " needs a value";
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  CliOptions options;
  std::vector<std::string> positional;
  CLI::App app("", kProgram);
  Describe(app, options, positional);
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // as CLI11 takes them
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    options.help = true;
    return {options, ""};
  } catch (const UsageError& usage) {
    return {std::nullopt, usage.message};
  } catch (const CLI::ArgumentMismatch& mismatch) {
    return {std::nullopt, MissingValueMessage(mismatch)};
  } catch (const CLI::ParseError& other) {
    return {std::nullopt, other.what()};
  }
  // CLI11 keeps the "--" that ends the options among the unknown ones.
  for (const std::string& unknown : app.remaining()) {
    if (unknown != "--") return {std::nullopt, "unknown option '" + unknown + "'"};
  }
  if (options.listPorts) {
    if (!positional.empty()) return {std::nullopt, "--list-ports takes no agent image"};
    return {options, ""};
  }
  if (positional.empty()) return {std::nullopt, "no agent image given"};
  if (positional.size() > 1) {
    return {std::nullopt, "one agent image only (also got '" + positional[1] + "')"};
  }
  options.agent = positional.front();
  return {options, ""};
}

std::string UsageLine(const std::string& program) {
  return Forms(program, "usage: ", "       ");
}

std::string HelpText(const std::string& program) {
  CliOptions unused;
  std::vector<std::string> positional;
  CLI::App app("", program);
  Describe(app, unused, positional);
  return app.help();
}

const char* CableName(bool allSignals) {
  return allSignals ? "All Signals" : "TX and RX Only";
}

}  // namespace portflash::cli

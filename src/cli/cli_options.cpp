#include "cli/cli_options.h"

#include "options/option_table.h"

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

const std::vector<options::OptionSpec<CliOptions>>& OptionTable() {
  static const std::vector<options::OptionSpec<CliOptions>> table = {
      {"Options", "--port", "NAME",
       "serial port (default COM1). COMn is the device named by the\n"
       "entry COMn of the profile section \"Ports\", or /dev/ttyS<n-1>\n"
       "when there is none (COM1 is /dev/ttyS0). A name that starts\n"
       "with / is a device path (/dev/ttyUSB0).",
       [](CliOptions& o, const std::string& v) { return !(o.port = v).empty(); },
       "--port needs a port name"},
      {"Options", "--speed", "RATE",
       "115200 (default) or 19200 bps for the transfer; the handshake\n"
       "always begins at 9600 bps.",
       [](CliOptions& o, const std::string& v) {
         return (o.speed = v) == "115200" || v == "19200";
       },
       "--speed must be 115200 or 19200, not '{}'"},
      {"Options", "--cable", "TYPE",
       "txrx (default): \"TX and RX Only\", no hardware handshake;\n"
       "all: \"All Signals\", with the modem lines.",
       [](CliOptions& o, const std::string& v) {
         return (o.allSignals = v == "all") || v == "txrx";
       },
       "--cable must be all or txrx, not '{}'"},
      {"Options", "--loader", "FILE",
       "use this boot loader instead of the one the profile names;\n"
       "its header, product list and .err file are read as usual.",
       [](CliOptions& o, const std::string& v) { return !(o.loader = v)->empty(); },
       "--loader needs a file name"},
      {"Options", "-y,--yes", nullptr, "do not wait for Enter after the power-off request.",
       [](CliOptions& o, const std::string&) { return o.yes = true; }},
      {"Options", "--json", nullptr,
       "print one JSON object on stdout at the end (see below);\n"
       "the messages then go to stderr.",
       [](CliOptions& o, const std::string&) { return o.json = true; }},
      {"Options", "--list-ports", nullptr,
       "list the ports, one a line, the name to give --port first:\n"
       "COM1 to COM4 with the device each opens, then the serial\n"
       "devices that are present, USB adapters first, each with its\n"
       "description (\"/dev/ttyUSB0 - FT232R USB UART\").",
       [](CliOptions& o, const std::string&) { return o.listPorts = true; }},
  };
  return table;
}

// The usage lines first, then the description.
class CliFormatter : public options::HelpFormatter {
 public:
  std::string make_usage(const CLI::App* app, std::string) const override {
    // As help2man reads a synopsis, for the manual page.
    return Forms(app->get_name(), "Usage: ", "   or: ") + "\n" + app->get_description() + "\n";
  }
  std::string make_description(const CLI::App*) const override { return ""; }
};

// Every option of the command line on `app`, storing into `parsed`; the
// arguments that are no option into `positional`.
void Describe(CLI::App& app, CliOptions& parsed, std::vector<std::string>& positional) {
  const options::Wording wording = {kDescription, kFooter, "show this text.", 18,
                                    [](const std::string& flag, const std::string& value) {
                                      return "unknown option '" + flag + "=" + value + "'";
                                    }};
  options::Describe(app, wording, OptionTable(), parsed, std::make_shared<CliFormatter>());
  // Hidden from the option list: the usage lines show it.
  app.add_option("agent", positional)->group("");
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  CliOptions options;
  std::vector<std::string> positional;
  CLI::App app("", kProgram);
  Describe(app, options, positional);
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // as CLI11 takes them
  std::string error;
  switch (options::Parse(app, &error, reversed)) {
    case options::Parsed::Help:
      options.help = true;
      return {options, ""};
    case options::Parsed::UsageError:
      return {std::nullopt, error};
    case options::Parsed::Run:
      break;
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

#include "cli/cli_options.h"

namespace portflash::cli {
namespace {

// Options that take a value, in both "--name VALUE" and "--name=VALUE" form.
bool TakesValue(const std::string& name) {
  return name == "--port" || name == "--speed" || name == "--cable" || name == "--loader";
}

// Stores one option's value; false with `error` set when the value is not allowed.
bool ApplyValue(CliOptions& options, const std::string& name, const std::string& value,
                std::string& error) {
  if (name == "--port") {
    if (value.empty()) {
      error = "--port needs a port name";
      return false;
    }
    options.port = value;
  } else if (name == "--speed") {
    if (value != "115200" && value != "19200") {
      error = "--speed must be 115200 or 19200, not '" + value + "'";
      return false;
    }
    options.speed = value;
  } else if (name == "--cable") {
    if (value == "all") {
      options.allSignals = true;
    } else if (value == "txrx") {
      options.allSignals = false;
    } else {
      error = "--cable must be all or txrx, not '" + value + "'";
      return false;
    }
  } else if (name == "--loader") {
    if (value.empty()) {
      error = "--loader needs a file name";
      return false;
    }
    options.loader = value;
  }
  return true;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  CliOptions options;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      continue;
    }
    if (arg == "--yes" || arg == "-y") {
      options.yes = true;
      continue;
    }
    if (arg == "--list-ports") {
      options.listPorts = true;
      continue;
    }
    if (arg == "--json") {
      options.json = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> value;
    if (std::size_t eq = arg.find('='); eq != std::string::npos && arg.starts_with("--")) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    if (!TakesValue(name)) return {std::nullopt, "unknown option '" + arg + "'"};
    if (!value) {
      if (i + 1 >= args.size()) return {std::nullopt, name + " needs a value"};
      value = args[++i];
    }
    std::string error;
    if (!ApplyValue(options, name, *value, error)) return {std::nullopt, error};
  }
  if (options.help) return {options, ""};
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
  return "usage: " + program +
         " [--port NAME] [--speed 115200|19200] [--cable all|txrx] [--loader FILE] [--yes] "
         "[--json] AGENT.BIN\n"
         "       " +
         program + " --list-ports\n";
}

std::string HelpText(const std::string& program) {
  return UsageLine(program) +
         "\n"
         "Sends a boot loader and the agent image AGENT.BIN to a unit on a serial console\n"
         "port, as the Portflash wizard does, and reports the unit's result.\n"
         "\n"
         "Options:\n"
         "  --port NAME     serial port (default COM1). COMn is the device named by the\n"
         "                  entry COMn of the profile section \"Ports\", or /dev/ttyS<n-1>\n"
         "                  when there is none (COM1 is /dev/ttyS0). A name that starts\n"
         "                  with / is a device path (/dev/ttyUSB0).\n"
         "  --speed RATE    115200 (default) or 19200 bps for the transfer; the handshake\n"
         "                  always begins at 9600 bps.\n"
         "  --cable TYPE    txrx (default): \"TX and RX Only\", no hardware handshake;\n"
         "                  all: \"All Signals\", with the modem lines.\n"
         "  --loader FILE   use this boot loader instead of the one the profile names;\n"
         "                  its header, product list and .err file are read as usual.\n"
         "  --yes           do not wait for Enter after the power-off request.\n"
         "  --json          print one JSON object on stdout at the end (see below);\n"
         "                  the messages then go to stderr.\n"
         "  --list-ports    list the ports, one a line, the name to give --port first:\n"
         "                  COM1 to COM4 with the device each opens, then the serial\n"
         "                  devices that are present, USB adapters first, each with its\n"
         "                  description (\"/dev/ttyUSB0 - FT232R USB UART\").\n"
         "  --help          show this text.\n"
         "\n"
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
         "cancelled (true or false) and exit_status.\n"
         "\n"
         "Exit status:\n"
         "  0    the unit reported success\n"
         "  1    any other outcome, or the image, loader or port was refused\n"
         "  2    usage error\n"
         "  130  cancelled (Ctrl-C or SIGTERM)\n";
}

const char* CableName(bool allSignals) {
  return allSignals ? "All Signals" : "TX and RX Only";
}

}  // namespace portflash::cli

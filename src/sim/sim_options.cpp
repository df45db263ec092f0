#include "sim/sim_options.h"

#include "options/option_table.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <vector>

namespace portflash::sim {

const char* ImageName(ImageKind kind) {
  return kind == ImageKind::Loader ? "loader" : "agent";
}

namespace {

bool ParseNumber(std::string_view text, unsigned long long max, unsigned long long* value) {
  if (text.empty() || text.front() == '-' || text.front() == '+' || text.front() == ' ')
    return false;
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(copy.c_str(), &end, 0);
  if (errno != 0 || end == copy.c_str() || *end != '\0' || parsed > max) return false;
  *value = parsed;
  return true;
}

bool ParseByte(std::string_view text, std::uint8_t* byte) {
  unsigned long long value = 0;
  if (!ParseNumber(text, 255, &value)) return false;
  *byte = static_cast<std::uint8_t>(value);
  return true;
}

std::vector<std::string_view> SplitColons(std::string_view text) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string_view::npos ? colon : colon - start));
    if (colon == std::string_view::npos) return parts;
    start = colon + 1;
  }
}

bool ParseImage(std::string_view text, ImageKind* kind) {
  if (text == "loader") {
    *kind = ImageKind::Loader;
  } else if (text == "agent") {
    *kind = ImageKind::Agent;
  } else {
    return false;
  }
  return true;
}

// IMAGE:OFFSET, or IMAGE:OFFSET:BYTE when withByte; IMAGE:end when atEnd may be set.
bool ParseTrigger(std::string_view text, bool withByte, ImageTrigger* trigger) {
  const auto parts = SplitColons(text);
  if (parts.size() != (withByte ? 3u : 2u)) return false;
  if (!withByte && parts[1] == "end") {
    trigger->atEnd = true;
    return ParseImage(parts[0], &trigger->image);
  }
  unsigned long long offset = 0;
  if (!ParseImage(parts[0], &trigger->image) ||
      !ParseNumber(parts[1], std::numeric_limits<std::size_t>::max(), &offset))
    return false;
  trigger->offset = static_cast<std::size_t>(offset);
  return !withByte || ParseByte(parts[2], &trigger->byte);
}

bool ParseBreakAnswer(std::string_view text, BreakAnswer* answer) {
  constexpr unsigned long long kMaxDelayMs = 60000;
  const auto parts = SplitColons(text);
  unsigned long long delay = 0;
  if (parts.size() != 2 || !ParseImage(parts[0], &answer->image) ||
      !ParseNumber(parts[1], kMaxDelayMs, &delay))
    return false;
  answer->delayMs = static_cast<unsigned>(delay);
  return true;
}

bool ParseWrongReply(std::string_view text, WrongReply* wrong) {
  const auto parts = SplitColons(text);
  unsigned long long stage = 0, step = 0;
  if (parts.size() != 3 || !ParseNumber(parts[0], 2, &stage) || stage < 1 ||
      !ParseNumber(parts[1], 4, &step) || step < 1 || !ParseByte(parts[2], &wrong->byte))
    return false;
  wrong->stage = static_cast<int>(stage);
  wrong->step = static_cast<int>(step);
  return true;
}

template <typename T>
bool ParseInto(std::string_view text, unsigned long long min, unsigned long long max, T* out) {
  unsigned long long value = 0;
  if (!ParseNumber(text, max, &value) || value < min) return false;
  *out = static_cast<T>(value);
  return true;
}

// Stores what parse makes of the value, if it accepts it.
template <typename T, typename Parser>
bool ParseOptional(std::optional<T>* slot, Parser parse) {
  T value{};
  if (!parse(&value)) return false;
  *slot = value;
  return true;
}

bool ApplyGarbage(SimOptions& o, std::string_view where) {
  if (where == "both") {
    o.garbageStages = o.garbageListen = true;
  } else if (where == "stages") {
    o.garbageStages = true;
  } else if (where == "listen") {
    o.garbageListen = true;
  } else {
    return false;
  }
  return true;
}

const std::vector<options::OptionSpec<SimOptions>>& OptionTable() {
  constexpr unsigned long long kMaxMs = 24ull * 3600 * 1000;
  static const std::vector<options::OptionSpec<SimOptions>> table = {
      {"Line", "--link", "PATH", "also make a symbolic link PATH to the device (removed at exit)",
       [](SimOptions& o, std::string_view v) { return !(o.linkPath = v).empty(); }},
      {"Line", "--count", "N",
       "exit 0 once N downloads have ended (answered agent,\n"
       "or a --reply-mid whose end byte has been swallowed)",
       [](SimOptions& o, std::string_view v) {
         return ParseInto(v, 1, std::numeric_limits<unsigned long>::max(), &o.count);
       }},
      {"Line", "--pace", nullptr,
       "take bytes off the line no faster than the rate set on it\n"
       "(11 bits a byte), so the PC's writes block as on a real line",
       [](SimOptions& o, std::string_view) { return o.pace = true; }},
      {"Line", "--quiet", nullptr, "no progress lines on stderr",
       [](SimOptions& o, std::string_view) { return o.quiet = true; }},
      {"Line", "--connect", "SOCKET",
       "serve a QEMU serial device instead of a pty: connect to\n"
       "its socket (-chardev socket,...,server=on,telnet=on),\n"
       "printed as the first line. The line has no rate to read:\n"
       "every byte counts as sent at the rate expected. Closing\n"
       "the connection unplugs a USB serial device.",
       [](SimOptions& o, std::string_view v) { return !(o.connectPath = v).empty(); }},

      {"Images", "--expect-loader", "FILE",
       "the loader's exact content is FILE (less --loader-skip\n"
       "leading bytes): after that many bytes the end byte 0xFF\n"
       "must follow; a different content is reported as mismatch",
       [](SimOptions& o, std::string_view v) { return !(o.expectLoader = v).empty(); }},
      {"Images", "--loader-skip", "N", "leading bytes of the loader file that the PC does not send",
       [](SimOptions& o, std::string_view v) {
         return ParseOptional(&o.loaderSkip, [v](std::size_t* skip) {
           return ParseInto(v, 0, std::numeric_limits<std::uint32_t>::max(), skip);
         });
       }},
      {"Images", "--expect-agent", "FILE",
       "the same for the agent (sent whole)\n"
       "Without an expected file an image ends at a 0xFF\n"
       "followed by --idle-ms of silence.",
       [](SimOptions& o, std::string_view v) { return !(o.expectAgent = v).empty(); }},
      {"Images", "--idle-ms", "MS", "silence that ends an image after a 0xFF (default 150)",
       [](SimOptions& o, std::string_view v) { return ParseInto(v, 1, kMaxMs, &o.idleMs); }},
      {"Images", "--save-loader", "FILE",
       "write the received loader (without its end byte) to FILE",
       [](SimOptions& o, std::string_view v) { return !(o.saveLoader = v).empty(); }},
      {"Images", "--save-agent", "FILE", "the same for the agent",
       [](SimOptions& o, std::string_view v) { return !(o.saveAgent = v).empty(); }},
      {"Images", "--report", "FILE",
       "append one line per ended download:\n"
       "  ok loader=N agent=M         both images answered\n"
       "  mismatch loader=N agent=M   answered, but an image\n"
       "                              differs from its expected file\n"
       "  reply-mid loader=N [agent=M]  see --reply-mid\n"
       "  incomplete loader=N [agent=M] a new handshake or client\n"
       "                              came in the middle\n"
       "  hung up loader=N [agent=M]  see --hangup\n"
       "N and M count the image bytes received (no end byte).",
       [](SimOptions& o, std::string_view v) { return !(o.reportPath = v).empty(); }},
      {"Images", "--trace", "FILE",
       "append one line per handshake byte received and per byte\n"
       "sent: \"<ns> in|out 0xNN\", ns on the monotonic clock\n"
       "(CLOCK_MONOTONIC), to time the PC's reactions",
       [](SimOptions& o, std::string_view v) { return !(o.tracePath = v).empty(); }},

      {"Answers", "--loader-code", "B", "answer to the loader (default 0x00)",
       [](SimOptions& o, std::string_view v) { return ParseByte(v, &o.loaderCode); }},
      {"Answers", "--agent-code", "B", "answer to the agent (default 0x16)",
       [](SimOptions& o, std::string_view v) { return ParseByte(v, &o.agentCode); }},

      {"Misbehaviours", "--silent", nullptr, "never send anything",
       [](SimOptions& o, std::string_view) { return o.silent = true; }},
      {"Misbehaviours", "--answer-after", "N",
       "in the first stage, leave the first N-1 first bytes\n"
       "unanswered and answer the N-th (default 1)",
       [](SimOptions& o, std::string_view v) {
         return ParseInto(v, 1, std::numeric_limits<unsigned>::max(), &o.answerAfter);
       }},
      {"Misbehaviours", "--answer-delay", "MS",
       "answer no first byte of the first stage before MS ms\n"
       "after the first one arrived (the technician's power-on)",
       [](SimOptions& o, std::string_view v) { return ParseInto(v, 0, kMaxMs, &o.answerDelayMs); }},
      {"Misbehaviours", "--wrong-reply", "STAGE:STEP:BYTE",
       "answer that step (stage 1 or 2, step 1 to 4) with BYTE\n"
       "instead of 0x5A, once in the simulator's life. The step\n"
       "is not passed: in step 1 the PC's next try is answered\n"
       "0x5A; a later step is not sent again by the PC, which\n"
       "then fails the handshake.",
       [](SimOptions& o, std::string_view v) {
         return ParseOptional(&o.wrongReply,
                              [v](WrongReply* wrong) { return ParseWrongReply(v, wrong); });
       }},
      {"Misbehaviours", "--unasked", "B",
       "send B about 0.2 s after answering the loader, while the\n"
       "PC listens for unasked bytes (it ends the download with B)",
       [](SimOptions& o, std::string_view v) {
         return ParseOptional(&o.unasked, [v](std::uint8_t* byte) { return ParseByte(v, byte); });
       }},
      {"Misbehaviours", "--reply-mid", "IMAGE:OFFSET:BYTE",
       "IMAGE is loader or agent: send BYTE once OFFSET bytes of\n"
       "that image have arrived (OFFSET 0: as soon as the image\n"
       "may begin) and take the image as ended; the rest the PC\n"
       "sends, up to its end byte (a 0xFF followed by --idle-ms\n"
       "of silence), is swallowed. Then wait for a new handshake.",
       [](SimOptions& o, std::string_view v) {
         return ParseOptional(
             &o.replyMid, [v](ImageTrigger* trigger) { return ParseTrigger(v, true, trigger); });
       }},
      {"Misbehaviours", "--hangup", "IMAGE:OFFSET",
       "once OFFSET bytes of that image have arrived (OFFSET end:\n"
       "once its end byte has, instead of answering), close the\n"
       "line (the client's reads return 0, its writes fail with\n"
       "EIO), print \"hung up\" on stdout and exit 0",
       [](SimOptions& o, std::string_view v) {
         return ParseOptional(
             &o.hangup, [v](ImageTrigger* trigger) { return ParseTrigger(v, false, trigger); });
       }},
      {"Misbehaviours", "--break", "IMAGE:MS",
       "where IMAGE's answer is due, send a line break instead\n"
       "(--connect only) and the answer MS ms later; what the PC\n"
       "sends meanwhile is ignored",
       [](SimOptions& o, std::string_view v) {
         return ParseOptional(&o.breakAnswer,
                              [v](BreakAnswer* answer) { return ParseBreakAnswer(v, answer); });
       }},
      {"Misbehaviours", "--banner", "TEXT",
       "send TEXT each time the simulator gets SIGUSR1, as a\n"
       "running unit prints on its console",
       [](SimOptions& o, std::string_view v) { return !(o.banner = v).empty(); }},
      {"Misbehaviours", "--garbage{both}", "[=WHERE]",
       "send 2 to 4 random bytes (never 0x5A) at these points\n"
       "(WHERE: stages, listen or both; default both):\n"
       "stages: right after the first stage's last answer. The\n"
       "  PC takes them as misses of the second stage's first\n"
       "  step and sends its first byte again; the unit ignores\n"
       "  the repeats: the download goes on. (Tolerated.)\n"
       "listen: right after the answer to the loader, during\n"
       "  the PC's listen: the PC must end the download with the\n"
       "  first of them as the outcome. (Not tolerated.)",
       ApplyGarbage, "--garbage takes stages, listen or both"},
      {"Misbehaviours", "--seed", "N",
       "seed of the random bytes (default: random); the bytes\n"
       "are logged",
       [](SimOptions& o, std::string_view v) {
         return ParseOptional(&o.seed, [v](std::uint32_t* seed) {
           return ParseInto(v, 0, std::numeric_limits<std::uint32_t>::max(), seed);
         });
       }},
  };
  return table;
}

constexpr const char* kDescription =
    R"(A simulated unit on a pseudo-terminal (or a QEMU serial device): plays the unit's
boot monitor for Portflash.

Prints the device path of the line (the pty's slave, or the socket of --connect) as
the first line on stdout, then serves download after download until SIGINT or
SIGTERM (exit status 0), or until --count downloads have ended. Progress goes to
stderr.

What the unit does, per download:
  Handshake, twice: the first byte 0x01 (plan 115200) or 0x02 (plan 19200), which
  the PC repeats until answered, then 0x05, 0x0F and 0x00; each is answered with
  0x5A. The first stage is expected at 9600 bps, the second at the plan's rate.
  Repeats of the first byte during the later steps are ignored.
  Then the loader: its bytes, the end byte 0xFF, answered with the loader code;
  then the agent: its bytes, 0xFF, answered with the agent code. Then the unit
  waits for the next handshake.
  A client opening the line while no other has it open counts as a power-on: the
  unit starts again from the handshake. So does a first byte arriving at 9600 bps
  while an image is expected.
  A byte that arrives while the line is set to another rate than the unit expects
  is ignored and logged, as a real UART would garble it. (The pty clears parity,
  so parity cannot be checked here.)
)";

constexpr const char* kFooter =
    R"(Numbers may be decimal or 0x hexadecimal; bytes are 0 to 255. Options take their
value as the next argument or after '='. Exit status: 0 when stopped by a signal,
--count or --hangup; 1 when the line or a file cannot be set up; 2 for usage errors.)";

void Describe(CLI::App& app, SimOptions& parsed) {
  const options::Wording wording = {
      kDescription, kFooter, "this text", 26,
      [](const std::string& flag, const std::string&) { return flag + " takes no value"; }};
  options::Describe(app, wording, OptionTable(), parsed);
}

}  // namespace

std::string SimHelpText() {
  CLI::App app("", "portflash-sim");
  SimOptions unused;
  Describe(app, unused);
  return app.help();
}

ParseOutcome ParseSimOptions(int argc, const char* const* argv, SimOptions* options,
                             std::string* error) {
  SimOptions parsed;
  CLI::App app("", "portflash-sim");
  Describe(app, parsed);
  switch (options::Parse(app, error, argc, argv)) {
    case options::Parsed::Help:
      return ParseOutcome::Help;
    case options::Parsed::UsageError:
      return ParseOutcome::UsageError;
    case options::Parsed::Run:
      break;
  }
  const std::vector<std::string> extras = app.remaining();
  if (!extras.empty()) {
    const std::string& first = extras.front();
    *error = first.compare(0, 2, "--") == 0 && first.size() > 2
                 ? "unknown option " + first.substr(0, first.find('='))
                 : "unexpected argument '" + first + "'";
    return ParseOutcome::UsageError;
  }
  if (parsed.loaderSkip && parsed.expectLoader.empty()) {
    *error = "--loader-skip needs --expect-loader";
    return ParseOutcome::UsageError;
  }
  if (!parsed.connectPath.empty() && (parsed.pace || !parsed.linkPath.empty())) {
    *error = std::string(parsed.pace ? "--pace" : "--link") + " needs a pty, not --connect";
    return ParseOutcome::UsageError;
  }
  if (parsed.breakAnswer && parsed.connectPath.empty()) {
    *error = "--break needs --connect: a pty carries no breaks";
    return ParseOutcome::UsageError;
  }
  *options = std::move(parsed);
  return ParseOutcome::Run;
}

}  // namespace portflash::sim

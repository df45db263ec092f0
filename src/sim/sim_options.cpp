#include "sim/sim_options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string_view>
#include <vector>

namespace portflash::sim {

const char* ImageName(ImageKind kind) {
  return kind == ImageKind::Loader ? "loader" : "agent";
}

const char* SimHelpText() {
  return R"(Usage: portflash-sim [OPTION]...
A simulated unit on a pseudo-terminal: plays the unit's boot monitor for Portflash.

Prints the device path of the line (the pty's slave) as the first line on stdout,
then serves download after download until SIGINT or SIGTERM (exit status 0), or
until --count downloads have ended. Progress goes to stderr.

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

Line:
  --link PATH             also make a symbolic link PATH to the device (removed at exit)
  --count N               exit 0 once N downloads have ended (answered agent,
                          or a --reply-mid whose end byte has been swallowed)
  --pace                  take bytes off the line no faster than the rate set on it
                          (11 bits a byte), so the PC's writes block as on a real line
  --quiet                 no progress lines on stderr

Images:
  --expect-loader FILE    the loader's exact content is FILE (less --loader-skip
                          leading bytes): after that many bytes the end byte 0xFF
                          must follow; a different content is reported as mismatch
  --loader-skip N         leading bytes of the loader file that the PC does not send
  --expect-agent FILE     the same for the agent (sent whole)
                          Without an expected file an image ends at a 0xFF
                          followed by --idle-ms of silence.
  --idle-ms MS            silence that ends an image after a 0xFF (default 150)
  --save-loader FILE      write the received loader (without its end byte) to FILE
  --save-agent FILE       the same for the agent
  --report FILE           append one line per ended download:
                            ok loader=N agent=M         both images answered
                            mismatch loader=N agent=M   answered, but an image
                                                        differs from its expected file
                            reply-mid loader=N [agent=M]  see --reply-mid
                            incomplete loader=N [agent=M] a new handshake or client
                                                        came in the middle
                            hung up loader=N [agent=M]  see --hangup
                          N and M count the image bytes received (no end byte).
  --trace FILE            append one line per handshake byte received and per byte
                          sent: "<ns> in|out 0xNN", ns on the monotonic clock
                          (CLOCK_MONOTONIC), to time the PC's reactions

Answers:
  --loader-code B         answer to the loader (default 0x00)
  --agent-code B          answer to the agent (default 0x16)

Misbehaviours:
  --silent                never send anything
  --answer-after N        in the first stage, leave the first N-1 first bytes
                          unanswered and answer the N-th (default 1)
  --answer-delay MS       answer no first byte of the first stage before MS ms
                          after the first one arrived (the technician's power-on)
  --wrong-reply STAGE:STEP:BYTE
                          answer that step (stage 1 or 2, step 1 to 4) with BYTE
                          instead of 0x5A, once in the simulator's life. The step
                          is not passed: in step 1 the PC's next try is answered
                          0x5A; a later step is not sent again by the PC, which
                          then fails the handshake.
  --unasked B             send B about 0.2 s after answering the loader, while the
                          PC listens for unasked bytes (it ends the download with B)
  --reply-mid IMAGE:OFFSET:BYTE
                          IMAGE is loader or agent: send BYTE once OFFSET bytes of
                          that image have arrived (OFFSET 0: as soon as the image
                          may begin) and take the image as ended; the rest the PC
                          sends, up to its end byte (a 0xFF followed by --idle-ms
                          of silence), is swallowed. Then wait for a new handshake.
  --hangup IMAGE:OFFSET   once OFFSET bytes of that image have arrived, close the
                          line (the client's reads return 0, its writes fail with
                          EIO), print "hung up" on stdout and exit 0
  --garbage[=WHERE]       send 2 to 4 random bytes (never 0x5A) at these points
                          (WHERE: stages, listen or both; default both):
                          stages: right after the first stage's last answer. The
                            PC takes them as misses of the second stage's first
                            step and sends its first byte again; the unit ignores
                            the repeats: the download goes on. (Tolerated.)
                          listen: right after the answer to the loader, during
                            the PC's listen: the PC must end the download with the
                            first of them as the outcome. (Not tolerated.)
  --seed N                seed of the random bytes (default: random); the bytes
                          are logged

  --help                  this text

Numbers may be decimal or 0x hexadecimal; bytes are 0 to 255. Options take their
value as the next argument or after '='. Exit status: 0 when stopped by a signal,
--count or --hangup; 1 when the line or a file cannot be set up; 2 for usage errors.
)";
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

// IMAGE:OFFSET, or IMAGE:OFFSET:BYTE when withByte.
bool ParseTrigger(std::string_view text, bool withByte, ImageTrigger* trigger) {
  const auto parts = SplitColons(text);
  if (parts.size() != (withByte ? 3u : 2u)) return false;
  unsigned long long offset = 0;
  if (!ParseImage(parts[0], &trigger->image) ||
      !ParseNumber(parts[1], std::numeric_limits<std::size_t>::max(), &offset))
    return false;
  trigger->offset = static_cast<std::size_t>(offset);
  return !withByte || ParseByte(parts[2], &trigger->byte);
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

struct OptionSpec {
  std::string_view name;
  bool takesValue;
  // Returns false when the value is not acceptable.
  std::function<bool(SimOptions&, std::string_view)> apply;
};

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

const std::vector<OptionSpec>& OptionTable() {
  constexpr unsigned long long kMaxMs = 24ull * 3600 * 1000;
  static const std::vector<OptionSpec> table = {
      {"link", true, [](SimOptions& o, std::string_view v) { return !(o.linkPath = v).empty(); }},
      {"count", true,
       [](SimOptions& o, std::string_view v) {
         return ParseInto(v, 1, std::numeric_limits<unsigned long>::max(), &o.count);
       }},
      {"pace", false, [](SimOptions& o, std::string_view) { return o.pace = true; }},
      {"quiet", false, [](SimOptions& o, std::string_view) { return o.quiet = true; }},
      {"expect-loader", true,
       [](SimOptions& o, std::string_view v) { return !(o.expectLoader = v).empty(); }},
      {"expect-agent", true,
       [](SimOptions& o, std::string_view v) { return !(o.expectAgent = v).empty(); }},
      {"loader-skip", true,
       [](SimOptions& o, std::string_view v) {
         return ParseOptional(&o.loaderSkip, [v](std::size_t* skip) {
           return ParseInto(v, 0, std::numeric_limits<std::uint32_t>::max(), skip);
         });
       }},
      {"idle-ms", true,
       [](SimOptions& o, std::string_view v) { return ParseInto(v, 1, kMaxMs, &o.idleMs); }},
      {"save-loader", true,
       [](SimOptions& o, std::string_view v) { return !(o.saveLoader = v).empty(); }},
      {"save-agent", true,
       [](SimOptions& o, std::string_view v) { return !(o.saveAgent = v).empty(); }},
      {"report", true,
       [](SimOptions& o, std::string_view v) { return !(o.reportPath = v).empty(); }},
      {"trace", true, [](SimOptions& o, std::string_view v) { return !(o.tracePath = v).empty(); }},
      {"loader-code", true,
       [](SimOptions& o, std::string_view v) { return ParseByte(v, &o.loaderCode); }},
      {"agent-code", true,
       [](SimOptions& o, std::string_view v) { return ParseByte(v, &o.agentCode); }},
      {"silent", false, [](SimOptions& o, std::string_view) { return o.silent = true; }},
      {"answer-after", true,
       [](SimOptions& o, std::string_view v) {
         return ParseInto(v, 1, std::numeric_limits<unsigned>::max(), &o.answerAfter);
       }},
      {"answer-delay", true,
       [](SimOptions& o, std::string_view v) { return ParseInto(v, 0, kMaxMs, &o.answerDelayMs); }},
      {"wrong-reply", true,
       [](SimOptions& o, std::string_view v) {
         return ParseOptional(&o.wrongReply,
                              [v](WrongReply* wrong) { return ParseWrongReply(v, wrong); });
       }},
      {"unasked", true,
       [](SimOptions& o, std::string_view v) {
         return ParseOptional(&o.unasked, [v](std::uint8_t* byte) { return ParseByte(v, byte); });
       }},
      {"reply-mid", true,
       [](SimOptions& o, std::string_view v) {
         return ParseOptional(
             &o.replyMid, [v](ImageTrigger* trigger) { return ParseTrigger(v, true, trigger); });
       }},
      {"hangup", true,
       [](SimOptions& o, std::string_view v) {
         return ParseOptional(
             &o.hangup, [v](ImageTrigger* trigger) { return ParseTrigger(v, false, trigger); });
       }},
      {"seed", true,
       [](SimOptions& o, std::string_view v) {
         return ParseOptional(&o.seed, [v](std::uint32_t* seed) {
           return ParseInto(v, 0, std::numeric_limits<std::uint32_t>::max(), seed);
         });
       }},
  };
  return table;
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

}  // namespace

ParseOutcome ParseSimOptions(int argc, const char* const* argv, SimOptions* options,
                             std::string* error) {
  SimOptions parsed;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") return ParseOutcome::Help;
    if (arg.substr(0, 2) != "--" || arg.size() == 2) {
      *error = "unexpected argument '" + std::string(arg) + "'";
      return ParseOutcome::UsageError;
    }
    arg.remove_prefix(2);
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    const bool hasInlineValue = equals != std::string_view::npos;
    const std::string_view inlineValue = hasInlineValue ? arg.substr(equals + 1) : "";
    if (name == "garbage") {
      if (!ApplyGarbage(parsed, hasInlineValue ? inlineValue : "both")) {
        *error = "--garbage takes stages, listen or both";
        return ParseOutcome::UsageError;
      }
      continue;
    }
    const OptionSpec* option = nullptr;
    for (const auto& candidate : OptionTable()) {
      if (candidate.name == name) option = &candidate;
    }
    if (option == nullptr) {
      *error = "unknown option --" + std::string(name);
      return ParseOutcome::UsageError;
    }
    std::string_view value;
    if (option->takesValue) {
      if (hasInlineValue) {
        value = inlineValue;
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        *error = "--" + std::string(name) + " needs a value";
        return ParseOutcome::UsageError;
      }
    } else if (hasInlineValue) {
      *error = "--" + std::string(name) + " takes no value";
      return ParseOutcome::UsageError;
    }
    if (!option->apply(parsed, value)) {
      *error = "bad value '" + std::string(value) + "' for --" + std::string(name);
      return ParseOutcome::UsageError;
    }
  }
  if (parsed.loaderSkip && parsed.expectLoader.empty()) {
    *error = "--loader-skip needs --expect-loader";
    return ParseOutcome::UsageError;
  }
  *options = std::move(parsed);
  return ParseOutcome::Run;
}

}  // namespace portflash::sim

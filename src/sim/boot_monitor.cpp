#include "sim/boot_monitor.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <utility>

namespace portflash::sim {

namespace {

constexpr std::uint8_t kSyncReply = 0x5A;
constexpr std::uint8_t kEndByte = 0xFF;
constexpr std::uint8_t kFirst115200 = 0x01;
constexpr std::uint8_t kFirst19200 = 0x02;
constexpr unsigned kFirstStageRate = 9600;
// The bytes of steps 2 to 4 of both stages.
constexpr std::uint8_t kLaterSteps[] = {0x05, 0x0F, 0x00};
constexpr auto kUnaskedDelay = std::chrono::milliseconds(200);

bool IsFirstByte(std::uint8_t byte) {
  return byte == kFirst115200 || byte == kFirst19200;
}

std::string Where(int stage, int step) {
  return "stage " + std::to_string(stage) + " step " + std::to_string(step);
}

}  // namespace

BootMonitor::BootMonitor(const SimOptions& options, ExpectedImage loader, ExpectedImage agent,
                         UnitLine& line, const Logger& log, const ByteTrace& trace)
    : options_(options),
      loader_(std::move(loader)),
      agent_(std::move(agent)),
      line_(line),
      log_(log),
      trace_(trace),
      random_(options.seed ? *options.seed : std::random_device{}()) {}

const ExpectedImage& BootMonitor::Expected(ImageKind kind) const {
  return kind == ImageKind::Loader ? loader_ : agent_;
}

unsigned BootMonitor::ExpectedRate() const {
  return phase_ == Phase::Handshake && stage_ == 1 ? kFirstStageRate : targetRate_;
}

void BootMonitor::OnByte(std::uint8_t byte, unsigned rate, Clock::time_point now) {
  if (hangUp_) return;
  if (options_.silent) {
    if (!silenceLogged_) log_.Line("silent: ignoring everything");
    silenceLogged_ = true;
    return;
  }
  // No image goes at 9600 bps: a first byte at that rate is a PC starting over.
  if (phase_ != Phase::Handshake && rate == kFirstStageRate && IsFirstByte(byte))
    Restart("a first byte at 9600 bps: a new handshake");
  if (phase_ == Phase::Handshake) trace_.Note("in", byte, now);
  const unsigned expected = ExpectedRate();
  // Rate 0: the line cannot tell (a socket), so any rate is taken for the right one.
  if (rate != 0 && rate != expected) {
    NoteIgnored(byte, rate, expected);
    return;
  }
  FlushIgnored();
  switch (phase_) {
    case Phase::Handshake:
      OnHandshakeByte(byte, now);
      break;
    case Phase::Image:
      OnImageByte(byte, now);
      break;
    case Phase::Swallow:
      rx_.data.push_back(byte);
      rx_.endByteAt = byte == kEndByte ? std::optional(now) : std::nullopt;
      break;
    case Phase::Held:
      if (heldIgnored_++ == 0)
        log_.Line("ignored " + HexByte(byte) + " and what follows: the answer is held back");
      break;
  }
}

void BootMonitor::OnBytes(const std::uint8_t* bytes, std::size_t count, unsigned rate,
                          Clock::time_point now) {
  std::size_t at = 0;
  while (at < count && !hangUp_) {
    const std::size_t run = PlainImageRun(count - at, rate);
    if (run == 0) {
      OnByte(bytes[at++], rate, now);
      continue;
    }
    rx_.data.insert(rx_.data.end(), bytes + at, bytes + at + run);
    at += run;
    rx_.endByteAt = !rx_.exact && rx_.data.back() == kEndByte ? std::optional(now) : std::nullopt;
    CheckTriggers();
  }
}

std::size_t BootMonitor::PlainImageRun(std::size_t count, unsigned rate) const {
  // Anything that OnByte would log, check or answer goes the slow way.
  if (options_.silent || phase_ != Phase::Image || (rate != 0 && rate != ExpectedRate()) ||
      ignored_.count != 0)
    return 0;
  std::size_t run = count;
  const std::size_t received = rx_.data.size();
  // In exact mode the byte after the image's length is the end byte: OnImageByte's.
  if (rx_.exact) run = std::min(run, Expected(rx_.kind).bytes.size() - received);
  // Stop where a trigger fires, so that CheckTriggers sees its offset.
  for (const auto& trigger : {options_.hangup, options_.replyMid}) {
    if (trigger && !trigger->atEnd && trigger->image == rx_.kind && trigger->offset > received)
      run = std::min(run, trigger->offset - received);
  }
  return run;
}

void BootMonitor::OnHandshakeByte(std::uint8_t byte, Clock::time_point now) {
  if (step_ == 1) {
    if (stage_ == 1) {
      if (!IsFirstByte(byte)) {
        log_.Line(Where(1, 1) + ": unexpected " + HexByte(byte) + ", ignored");
        return;
      }
      ++firstBytesSeen_;
      if (!firstByteAt_) firstByteAt_ = now;
      if (firstBytesSeen_ < options_.answerAfter) {
        log_.Line("first byte #" + std::to_string(firstBytesSeen_) + " left unanswered");
        return;
      }
      if (now - *firstByteAt_ < std::chrono::milliseconds(options_.answerDelayMs)) {
        if (!delayLogged_)
          log_.Line("powering on: no answer for " + std::to_string(options_.answerDelayMs) + " ms");
        delayLogged_ = true;
        return;
      }
      firstByte_ = byte;
      targetRate_ = byte == kFirst115200 ? 115200 : 19200;
    } else if (byte != firstByte_) {
      log_.Line(Where(2, 1) + ": unexpected " + HexByte(byte) + ", ignored");
      return;
    }
  } else if (byte != kLaterSteps[step_ - 2]) {
    // The PC sends its first byte again when it took something else for a miss.
    log_.Line(Where(stage_, step_) + ": " +
              (byte == firstByte_ ? "repeated first byte " + HexByte(byte)
                                  : "unexpected " + HexByte(byte)) +
              ", ignored");
    return;
  }
  Answer();
}

void BootMonitor::Answer() {
  const auto& wrong = options_.wrongReply;
  if (wrong && !wrongReplyDone_ && wrong->stage == stage_ && wrong->step == step_) {
    wrongReplyDone_ = true;
    log_.Line(Where(stage_, step_) + ": answering " + HexByte(wrong->byte) + " instead of " +
              HexByte(kSyncReply));
    Send({wrong->byte});
    return;
  }
  std::vector<std::uint8_t> out{kSyncReply};
  if (step_ < 4) {
    ++step_;
    Send(out);
    return;
  }
  log_.Line("stage " + std::to_string(stage_) + " ok at " + std::to_string(ExpectedRate()));
  if (stage_ == 1) {
    if (options_.garbageStages) {
      const auto garbage = Garbage("after the first stage");
      out.insert(out.end(), garbage.begin(), garbage.end());
    }
    Send(out);
    stage_ = 2;
    step_ = 1;
    return;
  }
  Send(out);
  StartImage(ImageKind::Loader);
}

void BootMonitor::Send(const std::vector<std::uint8_t>& bytes) {
  // Stamped and traced before the write: the PC may act on the byte before the
  // write returns, and whoever reads the trace must find the byte already there.
  const auto sending = Clock::now();
  for (const std::uint8_t byte : bytes) trace_.Note("out", byte, sending);
  line_.Send(bytes);
}

void BootMonitor::StartImage(ImageKind kind) {
  phase_ = Phase::Image;
  rx_ = Reception{};
  rx_.kind = kind;
  rx_.exact = Expected(kind).known;
  CheckTriggers();
}

void BootMonitor::OnImageByte(std::uint8_t byte, Clock::time_point now) {
  if (rx_.exact && rx_.data.size() == Expected(rx_.kind).bytes.size()) {
    if (byte == kEndByte) {
      FinishImage(now);
      return;
    }
    rx_.exact = false;
    rx_.mismatch = true;
    log_.Line(std::string(ImageName(rx_.kind)) + ": " + HexByte(byte) +
              " instead of the end byte after " + std::to_string(rx_.data.size()) +
              " bytes; now waiting for 0xFF and silence");
  }
  rx_.data.push_back(byte);
  rx_.endByteAt = !rx_.exact && byte == kEndByte ? std::optional(now) : std::nullopt;
  CheckTriggers();
}

void BootMonitor::CheckTriggers() {
  const std::size_t received = rx_.data.size();
  const auto fires = [&](const std::optional<ImageTrigger>& trigger) {
    return trigger && !trigger->atEnd && trigger->image == rx_.kind && trigger->offset == received;
  };
  if (fires(options_.hangup)) {
    log_.Line("hanging up after " + std::to_string(received) + " bytes of the " +
              ImageName(rx_.kind));
    Report("hung up" + ReportCounts());
    hangUp_ = true;
    return;
  }
  if (fires(options_.replyMid)) {
    log_.Line("answering " + HexByte(options_.replyMid->byte) + " after " +
              std::to_string(received) + " bytes of the " + ImageName(rx_.kind) +
              "; swallowing the rest up to the end byte");
    Send({options_.replyMid->byte});
    phase_ = Phase::Swallow;
    rx_.endByteAt.reset();
  }
}

void BootMonitor::OnTime(Clock::time_point now) {
  if (heldAnswerAt_ && now >= *heldAnswerAt_) {
    heldAnswerAt_.reset();
    if (heldIgnored_ > 0)
      log_.Line("ignored " + std::to_string(heldIgnored_) +
                " bytes while the answer was held back");
    heldIgnored_ = 0;
    AnswerImage(rx_.kind, now);
  }
  if (unaskedAt_ && now >= *unaskedAt_) {
    unaskedAt_.reset();
    log_.Line("sending unasked " + HexByte(*options_.unasked));
    Send({*options_.unasked});
  }
  const bool idleEnds = phase_ == Phase::Swallow || (phase_ == Phase::Image && !rx_.exact);
  if (idleEnds && rx_.endByteAt &&
      now - *rx_.endByteAt >= std::chrono::milliseconds(options_.idleMs)) {
    rx_.data.pop_back();  // the end byte
    rx_.endByteAt.reset();
    if (phase_ == Phase::Image) {
      FinishImage(now);
    } else {
      EndSwallow();
    }
  }
}

std::optional<BootMonitor::Clock::time_point> BootMonitor::NextDeadline() const {
  std::optional<Clock::time_point> next = unaskedAt_;
  if (heldAnswerAt_ && (!next || *heldAnswerAt_ < *next)) next = heldAnswerAt_;
  const bool idleEnds = phase_ == Phase::Swallow || (phase_ == Phase::Image && !rx_.exact);
  if (idleEnds && rx_.endByteAt) {
    const auto end = *rx_.endByteAt + std::chrono::milliseconds(options_.idleMs);
    if (!next || end < *next) next = end;
  }
  return next;
}

void BootMonitor::FinishImage(Clock::time_point now) {
  const ImageKind kind = rx_.kind;
  const ExpectedImage& expected = Expected(kind);
  std::string note;
  if (expected.known && (rx_.mismatch || rx_.data != expected.bytes)) {
    rx_.mismatch = true;
    const auto diff = std::mismatch(rx_.data.begin(), rx_.data.end(), expected.bytes.begin(),
                                    expected.bytes.end());
    note = ", differs from " + expected.path + " at offset " +
           std::to_string(diff.first - rx_.data.begin());
  }
  Save(kind == ImageKind::Loader ? options_.saveLoader : options_.saveAgent, rx_.data);
  log_.Line(std::string(ImageName(kind)) + " " + std::to_string(rx_.data.size()) + " bytes" + note);
  if (kind == ImageKind::Loader) {
    loaderBytes_ = rx_.data.size();
    loaderMismatch_ = rx_.mismatch;
  }
  const auto& hangup = options_.hangup;
  if (hangup && hangup->atEnd && hangup->image == kind) {
    log_.Line("hanging up instead of answering the " + std::string(ImageName(kind)));
    Report("hung up" + ReportCounts());
    hangUp_ = true;
    return;
  }
  const auto& breakAnswer = options_.breakAnswer;
  if (breakAnswer && breakAnswer->image == kind) {
    log_.Line(line_.SendBreak() ? "sent a line break instead of the answer"
                                : "this line cannot carry a break");
    phase_ = Phase::Held;
    heldAnswerAt_ = now + std::chrono::milliseconds(breakAnswer->delayMs);
    return;
  }
  AnswerImage(kind, now);
}

void BootMonitor::AnswerImage(ImageKind kind, Clock::time_point now) {
  const std::uint8_t code = kind == ImageKind::Loader ? options_.loaderCode : options_.agentCode;
  log_.Line("answered the " + std::string(ImageName(kind)) + " " + HexByte(code));
  if (kind == ImageKind::Loader) {
    std::vector<std::uint8_t> out{code};
    if (options_.garbageListen) {
      const auto garbage = Garbage("after the loader's answer");
      out.insert(out.end(), garbage.begin(), garbage.end());
    }
    Send(out);
    if (options_.unasked) unaskedAt_ = now + kUnaskedDelay;
    StartImage(ImageKind::Agent);
    return;
  }
  // Everything a test may look at is on disk before the PC hears the answer.
  Report(std::string(loaderMismatch_ || rx_.mismatch ? "mismatch" : "ok") + ReportCounts());
  ++ended_;
  Send({code});
  ResetHandshake();
}

void BootMonitor::EndSwallow() {
  log_.Line("end byte swallowed after " + std::to_string(rx_.data.size()) + " bytes of the " +
            ImageName(rx_.kind));
  Report("reply-mid" + ReportCounts());
  ++ended_;
  ResetHandshake();
}

void BootMonitor::OnBannerRequest() {
  if (options_.banner.empty()) {
    log_.Line("asked to print a banner, but none was given");
    return;
  }
  log_.Line("printing the banner");
  Send(std::vector<std::uint8_t>(options_.banner.begin(), options_.banner.end()));
}

void BootMonitor::OnPowerOn() {
  const bool fresh =
      phase_ == Phase::Handshake && stage_ == 1 && step_ == 1 && firstBytesSeen_ == 0;
  if (!fresh) Restart("a client opened the line: powered on again");
}

void BootMonitor::Restart(const std::string& why) {
  FlushIgnored();
  log_.Line(why);
  if (phase_ == Phase::Swallow) {
    EndSwallow();
    return;
  }
  if (phase_ == Phase::Image) Report("incomplete" + ReportCounts());
  ResetHandshake();
}

void BootMonitor::ResetHandshake() {
  phase_ = Phase::Handshake;
  stage_ = 1;
  step_ = 1;
  firstByte_ = 0;
  targetRate_ = 0;
  firstBytesSeen_ = 0;
  firstByteAt_.reset();
  delayLogged_ = false;
  rx_ = Reception{};
  loaderBytes_ = 0;
  loaderMismatch_ = false;
  unaskedAt_.reset();
  heldAnswerAt_.reset();
  heldIgnored_ = 0;
}

std::string BootMonitor::ReportCounts() const {
  if (rx_.kind == ImageKind::Loader) return " loader=" + std::to_string(rx_.data.size());
  return " loader=" + std::to_string(loaderBytes_) + " agent=" + std::to_string(rx_.data.size());
}

void BootMonitor::Report(const std::string& line) {
  log_.Line("report: " + line);
  if (options_.reportPath.empty()) return;
  std::FILE* file = std::fopen(options_.reportPath.c_str(), "a");
  if (file == nullptr) {
    log_.Line("cannot append to " + options_.reportPath);
    return;
  }
  std::fprintf(file, "%s\n", line.c_str());
  std::fclose(file);
}

void BootMonitor::Save(const std::string& path, const std::vector<std::uint8_t>& data) const {
  if (path.empty()) return;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!file) log_.Line("cannot write " + path);
}

std::vector<std::uint8_t> BootMonitor::Garbage(const char* where) {
  std::uniform_int_distribution<int> count(2, 4);
  // 255 values, the answer byte left out.
  std::uniform_int_distribution<int> value(0, 254);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count(random_)));
  std::string text;
  for (auto& byte : bytes) {
    const int v = value(random_);
    byte = static_cast<std::uint8_t>(v >= kSyncReply ? v + 1 : v);
    text += " " + HexByte(byte);
  }
  log_.Line(std::string("garbage ") + where + ":" + text);
  return bytes;
}

void BootMonitor::NoteIgnored(std::uint8_t byte, unsigned rate, unsigned expected) {
  if (ignored_.count > 0 && (ignored_.rate != rate || ignored_.expected != expected))
    FlushIgnored();
  if (ignored_.count == 0)
    log_.Line("ignored " + HexByte(byte) + ": line at " + std::to_string(rate) +
              " bps, the unit expects " + std::to_string(expected));
  ignored_ = {ignored_.count + 1, rate, expected};
}

void BootMonitor::FlushIgnored() {
  if (ignored_.count > 1)
    log_.Line("ignored " + std::to_string(ignored_.count) + " bytes in all at " +
              std::to_string(ignored_.rate) + " bps");
  ignored_.count = 0;
}

}  // namespace portflash::sim

#pragma once
// The unit's boot monitor as the PC sees it over the line: the two-stage handshake,
// the loader and the agent with their answers, and the misbehaviours the options ask for.
// No I/O of its own: bytes come in through OnByte, answers go out through UnitLine.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/sim_log.h"
#include "sim/sim_options.h"
#include "sim/unit_line.h"

namespace portflash::sim {

// The content an image must have, when known.
struct ExpectedImage {
  bool known = false;
  std::string path;
  std::vector<std::uint8_t> bytes;
};

class BootMonitor {
 public:
  using Clock = std::chrono::steady_clock;

  BootMonitor(const SimOptions& options, ExpectedImage loader, ExpectedImage agent, UnitLine& line,
              const Logger& log, const ByteTrace& trace);

  // One byte read off the line, with the rate the line was set to.
  void OnByte(std::uint8_t byte, unsigned rate, Clock::time_point now);
  // Bytes read off the line together: the same as OnByte for each, in order, but
  // plain image bytes are taken in runs (an unpaced line brings megabytes a second).
  void OnBytes(const std::uint8_t* bytes, std::size_t count, unsigned rate, Clock::time_point now);
  // Runs what is due: the end of an image after its silence, a delayed unasked byte.
  void OnTime(Clock::time_point now);
  // The next time OnTime has something to do.
  std::optional<Clock::time_point> NextDeadline() const;
  // A client opened the line: the technician powered the unit on.
  void OnPowerOn();
  // The unit prints its --banner.
  void OnBannerRequest();

  // Set once --hangup's offset is reached: feed no more bytes.
  bool HangUpRequested() const { return hangUp_; }
  unsigned long DownloadsEnded() const { return ended_; }

 private:
  enum class Phase { Handshake, Image, Swallow, Held };

  struct Reception {
    ImageKind kind = ImageKind::Loader;
    std::vector<std::uint8_t> data;  // in idle mode the end byte is the last one, if any
    bool exact = false;              // the length is known: the end byte must follow it
    bool mismatch = false;
    std::optional<Clock::time_point> endByteAt;  // a 0xFF that may be the end byte
  };

  unsigned ExpectedRate() const;
  void OnHandshakeByte(std::uint8_t byte, Clock::time_point now);
  void Answer();
  void Send(const std::vector<std::uint8_t>& bytes);
  void StartImage(ImageKind kind);
  void OnImageByte(std::uint8_t byte, Clock::time_point now);
  // How many of the next bytes need nothing but appending to the image.
  std::size_t PlainImageRun(std::size_t count, unsigned rate) const;
  void CheckTriggers();
  void FinishImage(Clock::time_point now);
  void AnswerImage(ImageKind kind, Clock::time_point now);
  void EndSwallow();
  void Restart(const std::string& why);
  void ResetHandshake();
  std::string ReportCounts() const;
  void Report(const std::string& line);
  void Save(const std::string& path, const std::vector<std::uint8_t>& data) const;
  std::vector<std::uint8_t> Garbage(const char* where);
  void NoteIgnored(std::uint8_t byte, unsigned rate, unsigned expected);
  void FlushIgnored();
  const ExpectedImage& Expected(ImageKind kind) const;

  const SimOptions& options_;
  ExpectedImage loader_;
  ExpectedImage agent_;
  UnitLine& line_;
  const Logger& log_;
  const ByteTrace& trace_;
  std::mt19937 random_;

  Phase phase_ = Phase::Handshake;
  int stage_ = 1;
  int step_ = 1;
  std::uint8_t firstByte_ = 0;
  unsigned targetRate_ = 0;
  unsigned firstBytesSeen_ = 0;
  std::optional<Clock::time_point> firstByteAt_;
  bool delayLogged_ = false;
  Reception rx_;
  std::size_t loaderBytes_ = 0;
  bool loaderMismatch_ = false;
  std::optional<Clock::time_point> unaskedAt_;
  std::optional<Clock::time_point> heldAnswerAt_;  // --break: the answer after the break
  unsigned long heldIgnored_ = 0;

  bool wrongReplyDone_ = false;
  bool silenceLogged_ = false;
  bool hangUp_ = false;
  unsigned long ended_ = 0;

  struct IgnoredRun {
    unsigned long count = 0;
    unsigned rate = 0;
    unsigned expected = 0;
  } ignored_;
};

}  // namespace portflash::sim

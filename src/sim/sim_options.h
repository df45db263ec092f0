#pragma once
// Command line of portflash-sim.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace portflash::sim {

enum class ImageKind { Loader, Agent };

const char* ImageName(ImageKind kind);

// Something the unit does once a given number of bytes of one image has arrived.
struct ImageTrigger {
  ImageKind image = ImageKind::Loader;
  std::size_t offset = 0;
  bool atEnd = false;     // hangup only: once the image's end byte is in, instead of its answer
  std::uint8_t byte = 0;  // reply-mid only
};

// A line break where an image's answer is due; the answer follows later.
struct BreakAnswer {
  ImageKind image = ImageKind::Loader;
  unsigned delayMs = 0;
};

struct WrongReply {
  int stage = 1;  // 1 or 2
  int step = 1;   // 1 to 4
  std::uint8_t byte = 0;
};

struct SimOptions {
  std::string linkPath;
  std::string connectPath;  // a QEMU serial device's socket instead of a pty
  unsigned long count = 0;  // 0: serve until a signal
  bool quiet = false;
  bool pace = false;
  unsigned idleMs = 150;

  // Images: exact lengths when the expected files are given.
  std::string expectLoader;
  std::string expectAgent;
  std::optional<std::size_t> loaderSkip;
  std::string saveLoader;
  std::string saveAgent;
  std::string reportPath;
  std::string tracePath;

  // Answers.
  std::uint8_t loaderCode = 0x00;
  std::uint8_t agentCode = 0x16;

  // Misbehaviours.
  bool silent = false;
  unsigned answerAfter = 1;
  unsigned answerDelayMs = 0;
  std::optional<WrongReply> wrongReply;
  std::optional<std::uint8_t> unasked;
  std::optional<ImageTrigger> replyMid;
  std::optional<ImageTrigger> hangup;
  std::optional<BreakAnswer> breakAnswer;
  std::string banner;  // printed on SIGUSR1, as a running unit prints on its console
  bool garbageStages = false;
  bool garbageListen = false;
  std::optional<std::uint32_t> seed;
};

enum class ParseOutcome { Run, Help, UsageError };

ParseOutcome ParseSimOptions(int argc, const char* const* argv, SimOptions* options,
                             std::string* error);

std::string SimHelpText();

}  // namespace portflash::sim

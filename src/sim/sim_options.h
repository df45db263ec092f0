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
  std::uint8_t byte = 0;  // reply-mid only
};

struct WrongReply {
  int stage = 1;  // 1 or 2
  int step = 1;   // 1 to 4
  std::uint8_t byte = 0;
};

struct SimOptions {
  std::string linkPath;
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
  bool garbageStages = false;
  bool garbageListen = false;
  std::optional<std::uint32_t> seed;
};

enum class ParseOutcome { Run, Help, UsageError };

ParseOutcome ParseSimOptions(int argc, const char* const* argv, SimOptions* options,
                             std::string* error);

std::string SimHelpText();

}  // namespace portflash::sim

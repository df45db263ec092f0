#pragma once
// The reference PC: a blocking descriptor on the simulator's line, a handshake
// written in the plainest way, and then a general-purpose program (cat) copying
// an image onto the line, as fast as the line takes it.
#include <termios.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/bench.h"

namespace portflash::bench {

class RawClient {
 public:
  RawClient() = default;
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Open(const std::string& device);
  // Both stages of the handshake, the second at `speed` ("115200" or "19200").
  bool Handshake(const std::string& speed);

  struct Copy {
    bool ok = false;
    int answer = -1;     // the unit's byte after the end byte, -1 for none
    double seconds = 0;  // from starting the program to hearing the answer
    ChildUsage program;  // the copying program's own cost
  };
  // Runs argv with its stdout on the line, then sends the end byte and waits for
  // the unit's answer.
  Copy CopyWith(const std::vector<std::string>& argv, int answerTimeoutMs);
  // The least that the engine's protocol asks of a sender, in this thread: the
  // file in `chunk`-byte writes on a non-blocking descriptor, each followed by one
  // look at the line (poll), and nothing else. `program` holds this thread's cost.
  Copy WriteChunks(const std::string& path, std::size_t chunk, int answerTimeoutMs);

 private:
  bool SetSpeed(speed_t speed);
  bool Write(std::uint8_t byte);
  int Read(int timeoutMs);  // the next byte, -1 for none in time
  bool Stage(std::uint8_t first);
  bool SendEndByteAndListen(int answerTimeoutMs, Copy* copy);

  int fd_ = -1;
};

}  // namespace portflash::bench

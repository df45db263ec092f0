#pragma once
#include <cstdint>

namespace portflash {

// Wall-clock time, behind a seam that tests drive.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t Seconds() = 0;       // whole seconds since the epoch
  virtual std::int64_t Milliseconds() = 0;  // wall-clock milliseconds, any origin
  virtual void Pause(int milliseconds) = 0;
};

Clock& GetClock();
void SetClock(Clock* clock);  // null puts the system clock back

}  // namespace portflash

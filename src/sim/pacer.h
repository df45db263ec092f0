#pragma once
// Takes bytes off the line no faster than a UART at the line's rate would deliver
// them (11 bits a byte: start, 8 data, parity, stop).
//
// Byte k after the schedule's anchor is due at anchor + k * 11 / rate seconds: an
// absolute schedule, so sleeping late never accumulates into a slower long-run
// rate. The schedule re-anchors when the rate changes and when the line runs dry
// (a real line gives no credit for idle time).
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace portflash::sim {

class Pacer {
 public:
  using Clock = std::chrono::steady_clock;

  // How many bytes may be taken at now with the line at rate; when none, *nextDue
  // is when the next one may.
  std::size_t Allowance(unsigned rate, Clock::time_point now, Clock::time_point* nextDue);
  // taken bytes were read; drained: fewer than allowed were there.
  void Took(std::size_t taken, bool drained);
  // Nothing is waiting on the line: the next byte starts a new schedule.
  void LineIdle() { running_ = false; }
  bool Running() const { return running_; }

 private:
  Clock::time_point DueOf(std::uint64_t byteIndex) const;

  bool running_ = false;
  Clock::time_point anchor_;
  std::uint64_t taken_ = 0;  // bytes since the anchor
  unsigned rate_ = 0;
};

}  // namespace portflash::sim

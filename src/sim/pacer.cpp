#include "sim/pacer.h"

namespace portflash::sim {

namespace {
constexpr std::uint64_t kBitsPerByte = 11;
constexpr std::uint64_t kNanosPerSecond = 1'000'000'000;
// Products of nanoseconds and rates overflow 64 bits after a few hours.
__extension__ typedef unsigned __int128 Wide;
}  // namespace

Pacer::Clock::time_point Pacer::DueOf(std::uint64_t byteIndex) const {
  // Exact integer arithmetic: no drift however long the schedule runs.
  const auto nanos =
      static_cast<std::int64_t>(Wide{byteIndex} * kBitsPerByte * kNanosPerSecond / rate_);
  return anchor_ + std::chrono::nanoseconds(nanos);
}

std::size_t Pacer::Allowance(unsigned rate, Clock::time_point now, Clock::time_point* nextDue) {
  if (rate == 0) rate = 1;
  if (!running_) {
    running_ = true;
    anchor_ = now;
    taken_ = 0;
    rate_ = rate;
  } else if (rate != rate_) {
    anchor_ = DueOf(taken_);
    taken_ = 0;
    rate_ = rate;
  }
  const auto sinceAnchor = std::chrono::duration_cast<std::chrono::nanoseconds>(now - anchor_);
  const Wide elapsed = sinceAnchor.count() > 0 ? static_cast<Wide>(sinceAnchor.count()) : 0;
  const auto due = static_cast<std::uint64_t>(elapsed * rate_ / (kBitsPerByte * kNanosPerSecond));
  if (due > taken_) return static_cast<std::size_t>(due - taken_);
  *nextDue = DueOf(taken_ + 1);
  return 0;
}

void Pacer::Took(std::size_t taken, bool drained) {
  taken_ += taken;
  if (drained) running_ = false;
}

}  // namespace portflash::sim

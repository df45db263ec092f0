#include "engine/clock.h"

#include <chrono>
#include <thread>

namespace portflash {
namespace {

class SystemClock final : public Clock {
 public:
  std::int64_t Seconds() override {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  std::int64_t Milliseconds() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  void Pause(int milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

SystemClock g_systemClock;
Clock* g_clock = &g_systemClock;

}  // namespace

Clock& GetClock() {
  return *g_clock;
}
void SetClock(Clock* clock) {
  g_clock = clock != nullptr ? clock : &g_systemClock;
}

}  // namespace portflash

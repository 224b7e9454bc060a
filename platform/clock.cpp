// platform/clock.cpp - the clock seam.
#include "platform/clock.h"

#include <cstdint>
#include <ctime>
#include <utility>

namespace bw {
namespace {

struct ClockState {
  std::function<ClockReading()> source;
  bool open = false;
};

ClockState& state() {
  static ClockState s;
  return s;
}

int64_t systemUtcSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec);
}

}  // namespace

ClockReading systemClockReading() {
  const time_t t = static_cast<time_t>(systemUtcSeconds());
  tm local{};
  ::localtime_r(&t, &local);
  return {static_cast<int64_t>(t), static_cast<int64_t>(local.tm_gmtoff), local.tm_isdst > 0};
}

void setClockSource(std::function<ClockReading()> source) { state().source = std::move(source); }

ClockReading readClock() {
  const auto& source = state().source;
  return source ? source() : systemClockReading();
}

int64_t readUtcSeconds() {
  const auto& source = state().source;
  return source ? source().utcSeconds : systemUtcSeconds();
}

void initTimerDevice() { state().open = true; }
void closeTimerDevice() { state().open = false; }
bool timerDeviceOpen() { return state().open; }

}  // namespace bw

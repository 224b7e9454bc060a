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

}  // namespace

ClockReading systemClockReading() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  time_t t = ts.tv_sec;
  tm local{};
  ::localtime_r(&t, &local);
  return {static_cast<int64_t>(ts.tv_sec), static_cast<int64_t>(local.tm_gmtoff), local.tm_isdst > 0};
}

void setClockSource(std::function<ClockReading()> source) { state().source = std::move(source); }

ClockReading readClock() {
  const auto& source = state().source;
  return source ? source() : systemClockReading();
}

int64_t readUtcSeconds() {
  const auto& source = state().source;
  if (source) return source().utcSeconds;
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec);
}

void initTimerDevice() { state().open = true; }
void closeTimerDevice() { state().open = false; }
bool timerDeviceOpen() { return state().open; }

}  // namespace bw

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
  // The zone's answer for the last second read is remembered: a parse asks
  // the time for every item it stores, mostly within one second, and the
  // zone rules take hundreds of instructions each time. The zone's state
  // (what tzset sets) is part of the key, so a new zone is read at once.
  struct Memo {
    int64_t second = INT64_MIN;
    const char* name0 = nullptr;
    const char* name1 = nullptr;
    long zone = 0;
    int daylight = 0;
    ClockReading reading;
  };
  thread_local Memo memo;
  const auto second = static_cast<int64_t>(ts.tv_sec);
  if (memo.second == second && memo.name0 == ::tzname[0] && memo.name1 == ::tzname[1] &&
      memo.zone == ::timezone && memo.daylight == ::daylight) {
    return memo.reading;
  }
  time_t t = ts.tv_sec;
  tm local{};
  ::localtime_r(&t, &local);
  const ClockReading reading{second, static_cast<int64_t>(local.tm_gmtoff), local.tm_isdst > 0};
  memo = Memo{second, ::tzname[0], ::tzname[1], ::timezone, ::daylight, reading};
  return reading;
}

void setClockSource(std::function<ClockReading()> source) { state().source = std::move(source); }

ClockReading readClock() {
  const auto& source = state().source;
  return source ? source() : systemClockReading();
}

void initTimerDevice() { state().open = true; }
void closeTimerDevice() { state().open = false; }
bool timerDeviceOpen() { return state().open; }

}  // namespace bw

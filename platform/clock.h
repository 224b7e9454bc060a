// platform/clock.h - the clock seam (the "timer device" of the time module).
//
// The clock answers the current time in UTC seconds together with the local
// zone's offset (tm_gmtoff) and whether summer time is in force (tm_isdst).
// Tests replace the source to stand the clock at any moment and in any
// zone state; initTimerDevice / closeTimerDevice open and close it, and
// pTime.CurrentTime refuses to read a closed clock.
#pragma once

#include <cstdint>
#include <functional>

namespace bw {

struct ClockReading {
  int64_t utcSeconds = 0;  // seconds since 1970-01-01 00:00:00 UTC
  int64_t gmtOffset = 0;   // local time minus UTC, in seconds (tm_gmtoff)
  bool dst = false;        // summer time in force (tm_isdst > 0)
};

// The system clock: clock_gettime(CLOCK_REALTIME) and localtime_r.
ClockReading systemClockReading();

// Replaces the clock's source; an empty function restores the system clock.
void setClockSource(std::function<ClockReading()> source);

// A reading of the current source (whether or not the device is open).
ClockReading readClock();
// Its UTC seconds alone, for timers and stamps in UTC: the system clock's
// answer without the zone's look-up.
int64_t readUtcSeconds();

// Module initialiser and finaliser: open and close the clock.
void initTimerDevice();
void closeTimerDevice();
bool timerDeviceOpen();

}  // namespace bw

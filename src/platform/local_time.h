// Wall-clock time of the machine, broken down in the local time zone (TZ).
#ifndef POSTRUNNER_PLATFORM_LOCAL_TIME_H_
#define POSTRUNNER_PLATFORM_LOCAL_TIME_H_

#include <ctime>

namespace postrunner {

struct LocalTime {
  int year = 1970;    // e.g. 2026
  int month = 1;      // 1..12
  int day = 1;        // 1..31
  int hour = 0;       // 0..23
  int minute = 0;     // 0..59
  int second = 0;     // 0..60
  int weekday = 4;    // 0 = Sunday
  long utc_offset = 0;  // seconds east of UTC
};

// Seconds since 1970-01-01 UTC, now.
[[nodiscard]] std::time_t CurrentUnixTime();

// `when` broken down in the local time zone.
[[nodiscard]] LocalTime LocalTimeAt(std::time_t when);

// `when` broken down in UTC (utc_offset 0).
[[nodiscard]] LocalTime UtcTimeAt(std::time_t when);

// The local time now.
[[nodiscard]] inline LocalTime GetLocalTime() { return LocalTimeAt(CurrentUnixTime()); }

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_LOCAL_TIME_H_

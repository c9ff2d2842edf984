#include "zip/zip_time.h"

namespace postrunner {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kLastDay2037 = 2145830400;  // 2037-12-31 00:00:00 UTC

}  // namespace

int32_t ClampedUnixTime(int64_t seconds) {
  int64_t time_of_day = ((seconds % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay;
  if (seconds < 0) return static_cast<int32_t>(time_of_day);
  if (seconds >= kLastDay2037 + kSecondsPerDay) {
    return static_cast<int32_t>(kLastDay2037 + time_of_day);
  }
  return static_cast<int32_t>(seconds);
}

uint32_t DosDateTime(const LocalTime& t) {
  int year = t.year, month = t.month, day = t.day;
  int hour = t.hour, minute = t.minute, second = t.second;
  if (year < 1980) {
    year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  } else if (year > 2107) {
    year = 2107, month = 12, day = 31, hour = 23, minute = 59, second = 58;
  }
  if (second > 59) second = 59;  // a leap second
  uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) |
                  (static_cast<uint32_t>(month) << 5) | static_cast<uint32_t>(day);
  uint32_t time = (static_cast<uint32_t>(hour) << 11) |
                  (static_cast<uint32_t>(minute) << 5) | static_cast<uint32_t>(second / 2);
  return (date << 16) | time;
}

}  // namespace postrunner

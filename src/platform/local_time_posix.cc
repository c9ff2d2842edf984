#include "platform/local_time.h"

namespace postrunner {
namespace {

[[nodiscard]] LocalTime FromTm(const struct tm& t) {
  LocalTime out;
  out.year = t.tm_year + 1900;
  out.month = t.tm_mon + 1;
  out.day = t.tm_mday;
  out.hour = t.tm_hour;
  out.minute = t.tm_min;
  out.second = t.tm_sec;
  out.weekday = t.tm_wday;
  out.utc_offset = t.tm_gmtoff;
  return out;
}

}  // namespace

std::time_t CurrentUnixTime() { return std::time(nullptr); }

LocalTime LocalTimeAt(std::time_t when) {
  struct tm t {};
  tzset();
  if (!localtime_r(&when, &t)) return LocalTime{};
  return FromTm(t);
}

LocalTime UtcTimeAt(std::time_t when) {
  struct tm t {};
  if (!gmtime_r(&when, &t)) return LocalTime{};
  return FromTm(t);
}

}  // namespace postrunner

// Time conversions of the archive headers: the DOS date-time of the local
// and central headers, and the Unix times of the extended-timestamp fields.
#ifndef POSTRUNNER_ZIP_ZIP_TIME_H_
#define POSTRUNNER_ZIP_ZIP_TIME_H_

#include <cstdint>

#include "platform/local_time.h"

namespace postrunner {

// `seconds` (since 1970-01-01 UTC) clamped to 1970-01-01 00:00:00 ..
// 2037-12-31 23:59:59; a date outside that range keeps its time of day and
// takes the nearest end's date.
[[nodiscard]] int32_t ClampedUnixTime(int64_t seconds);

// The DOS date-time of the broken-down time `t`: date in the high 16 bits,
// time (two-second steps) in the low 16. Years before 1980 give
// 1980-01-01 00:00:00, years after 2107 give 2107-12-31 23:59:58.
[[nodiscard]] uint32_t DosDateTime(const LocalTime& t);

}  // namespace postrunner

#endif  // POSTRUNNER_ZIP_ZIP_TIME_H_

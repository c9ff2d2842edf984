// The 32-bit integer result that most operations of the driver, mail, socket
// and FTP code report: TRUE (non-zero) for success, FALSE (0) for failure.
#ifndef POSTRUNNER_PLATFORM_TYPES_H_
#define POSTRUNNER_PLATFORM_TYPES_H_

#include <cstdint>

namespace postrunner {

using BOOL = int32_t;
inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_TYPES_H_

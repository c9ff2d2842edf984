// The piece size of split mail: the value of the /SplitSize: option (or
// the SplitSize preset).
#ifndef POSTRUNNER_DRIVER_SPLIT_SIZE_H_
#define POSTRUNNER_DRIVER_SPLIT_SIZE_H_

#include <cstdint>
#include <string_view>

namespace postrunner {

// The piece size that stands for "auto": pieces as big as the mail server
// takes (mail_dispatch.h).
inline constexpr int64_t kAutoPieceSize = 0;

// Reads `text`: "auto" in any case (stored as kAutoPieceSize), or a byte
// count of decimal digits with an optional K (x 1024) or M (x 1048576)
// suffix in either case, rounded down to a multiple of 3 so that the base64
// texts of consecutive pieces join into the file's. Stores the piece size
// and returns true for "auto" or a count of at least 3 bytes; false for
// anything else (no digits, other characters, a count too large).
[[nodiscard]] bool ParseSplitSize(std::string_view text, int64_t* piece_size);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_SPLIT_SIZE_H_

#include "driver/split_size.h"

#include <algorithm>

#include "platform/ascii.h"

namespace postrunner {

bool ParseSplitSize(std::string_view text, int64_t* piece_size) {
  if (EqualNoCase(text, "auto")) {
    *piece_size = kAutoPieceSize;
    return true;
  }
  int64_t unit = 1;
  if (!text.empty()) {
    char last = text.back();
    if (last == 'K' || last == 'k') unit = int64_t{1} << 10;
    if (last == 'M' || last == 'm') unit = int64_t{1} << 20;
    if (unit != 1) text.remove_suffix(1);
  }
  if (text.empty()) return false;
  // Far above any piece a mail server takes, and safe from overflow.
  constexpr int64_t kLimit = int64_t{1} << 50;
  int64_t count = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    count = count * 10 + (c - '0');
    if (count > kLimit) return false;
  }
  // Checked before multiplying: a product past 64 bits would wrap round to
  // a small size that looks valid.
  if (count > kLimit / unit) return false;
  count *= unit;
  count -= count % 3;
  if (count < 3) return false;
  *piece_size = count;
  return true;
}

}  // namespace postrunner

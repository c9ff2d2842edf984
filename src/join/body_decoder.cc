#include "join/body_decoder.h"

#include <array>

#include "platform/ascii.h"

namespace postrunner {
namespace {

constexpr uint8_t kBlank = 64;    // white space between base64 characters
constexpr uint8_t kPad = 65;      // '='
constexpr uint8_t kInvalid = 255;

constexpr std::array<uint8_t, 256> MakeBase64Table() {
  std::array<uint8_t, 256> t{};
  for (auto& v : t) v = kInvalid;
  constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<uint8_t>(i);
  t[' '] = t['\t'] = t['\r'] = t['\n'] = kBlank;
  t['='] = kPad;
  return t;
}
constexpr std::array<uint8_t, 256> kBase64 = MakeBase64Table();

class Base64Decoder : public BodyDecoder {
 public:
  explicit Base64Decoder(ByteSink* sink) : sink_(sink) {}

  [[nodiscard]] bool Text(std::string_view text) override {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t out = 0;
    char buffer[3 * 1024];
    for (size_t i = 0; i < n;) {
      if (out + 3 > sizeof buffer) {
        if (!sink_->Write(buffer, out)) return false;
        out = 0;
      }
      if (count_ == 0 && !ended_ && i + 4 <= n) {
        const uint32_t a = kBase64[p[i]], b = kBase64[p[i + 1]], c = kBase64[p[i + 2]],
                       d = kBase64[p[i + 3]];
        if ((a | b | c | d) < 64) {
          const uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
          buffer[out++] = static_cast<char>(v >> 16);
          buffer[out++] = static_cast<char>(v >> 8);
          buffer[out++] = static_cast<char>(v);
          i += 4;
          seen_ += 4;
          continue;
        }
      }
      if (!Slow(p[i++], buffer, &out)) return false;
    }
    return sink_->Write(buffer, out);
  }

  [[nodiscard]] bool LineEnd(std::string_view) override { return true; }

  // A last group of 2 or 3 characters counts only with its '=' padding:
  // without it the text was most likely cut short, so it is an error.
  [[nodiscard]] bool Finish() override {
    if (count_ != 0) return Error("the base64 text ends inside a group");
    return true;
  }

 private:
  [[nodiscard]] bool Error(const std::string& what) {
    error_ = what;
    return false;
  }

  // Writes the bytes of the group held so far (2 or 3 characters: 1 or 2 bytes).
  void Emit(char* buffer, size_t* out) {
    if (count_ >= 2) buffer[(*out)++] = static_cast<char>(bits_ >> 16);
    if (count_ >= 3) buffer[(*out)++] = static_cast<char>(bits_ >> 8);
    if (count_ == 4) buffer[(*out)++] = static_cast<char>(bits_);
    count_ = 0;
    bits_ = 0;
  }

  [[nodiscard]] bool Slow(unsigned char c, char* buffer, size_t* out) {
    const uint8_t v = kBase64[c];
    ++seen_;
    if (v == kBlank) return true;
    if (v == kPad) {
      if (ended_) return true;  // more padding after the end is harmless
      if (count_ < 2) return Error("misplaced '=' at character " + std::to_string(seen_) +
                                   " of the base64 text");
      Emit(buffer, out);
      ended_ = true;
      return true;
    }
    if (v == kInvalid) {
      return Error("invalid byte " + std::to_string(c) + " at character " +
                   std::to_string(seen_) + " of the base64 text");
    }
    if (ended_) {
      return Error("data after the end of the base64 text at character " +
                   std::to_string(seen_));
    }
    bits_ |= static_cast<uint32_t>(v) << (18 - 6 * count_);
    if (++count_ == 4) Emit(buffer, out);
    return true;
  }

  ByteSink* sink_;
  uint32_t bits_ = 0;
  int count_ = 0;      // characters of the current group
  bool ended_ = false;  // padding seen
  uint64_t seen_ = 0;  // characters read, for messages
};

// Quoted-printable: "=XX" is a byte, "=" at the end of a line joins it to the
// next, blanks at the end of a line are dropped. A malformed "=" is kept as
// it stands. Line ends are written as they arrive.
class QuotedPrintableDecoder : public BodyDecoder {
 public:
  explicit QuotedPrintableDecoder(ByteSink* sink) : sink_(sink) {}

  [[nodiscard]] bool Text(std::string_view text) override {
    std::string data;
    if (!held_.empty()) {
      data = std::move(held_) + std::string(text);
      held_.clear();
      text = data;
    }
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
      const char c = text[i];
      if (c == ' ' || c == '\t') {
        size_t run = text.find_first_not_of(" \t", i);
        if (run == std::string_view::npos) {
          if (!Hold(text.substr(i), &out)) return false;
          break;
        }
        out.append(text.substr(i, run - i));
        i = run;
      } else if (c == '=') {
        std::string_view rest = text.substr(i + 1);
        if (rest.size() >= 2 && HexDigitValue(rest[0]) >= 0 && HexDigitValue(rest[1]) >= 0) {
          out.push_back(static_cast<char>(HexDigitValue(rest[0]) * 16 + HexDigitValue(rest[1])));
          i += 3;
        } else if (rest.find_first_not_of(" \t") == std::string_view::npos ||
                   (rest.size() == 1 && HexDigitValue(rest[0]) >= 0)) {
          // Maybe a soft line break, maybe "=X" cut in two: decided later.
          if (!Hold(text.substr(i), &out)) return false;
          break;
        } else {
          out.push_back(c);
          ++i;
        }
      } else {
        out.push_back(c);
        ++i;
      }
    }
    return sink_->Write(out.data(), out.size());
  }

  [[nodiscard]] bool LineEnd(std::string_view ending) override {
    const bool soft = !held_.empty() && held_[0] == '=' &&
                      held_.find_first_not_of(" \t", 1) == std::string::npos;
    std::string out;
    if (!held_.empty() && held_[0] == '=' && !soft) out = held_;  // "=X" at a line end
    held_.clear();
    if (!soft) out.append(ending);
    return sink_->Write(out.data(), out.size());
  }

  [[nodiscard]] bool Finish() override { return LineEnd(""); }

 private:
  // Keeps a tail that the next text may change; an over-long run of blanks
  // cannot be trailing white space of any sane line and is written.
  [[nodiscard]] bool Hold(std::string_view tail, std::string* out) {
    if (tail.size() > 1024) {
      out->append(tail);
      return true;
    }
    held_ = std::string(tail);
    return true;
  }

  ByteSink* sink_;
  std::string held_;
};

class CopyDecoder : public BodyDecoder {
 public:
  explicit CopyDecoder(ByteSink* sink) : sink_(sink) {}
  [[nodiscard]]
  bool Text(std::string_view text) override { return sink_->Write(text.data(), text.size()); }
  [[nodiscard]] bool LineEnd(std::string_view ending) override {
    return sink_->Write(ending.data(), ending.size());
  }
  [[nodiscard]] bool Finish() override { return true; }

 private:
  ByteSink* sink_;
};

}  // namespace

std::unique_ptr<BodyDecoder> MakeBodyDecoder(std::string_view encoding, ByteSink* sink) {
  if (encoding == "base64") return std::make_unique<Base64Decoder>(sink);
  if (encoding == "quoted-printable") return std::make_unique<QuotedPrintableDecoder>(sink);
  if (encoding.empty() || encoding == "7bit" || encoding == "8bit" || encoding == "binary") {
    return std::make_unique<CopyDecoder>(sink);
  }
  return nullptr;
}

}  // namespace postrunner

// SmtpDataWriter sends a message text after DATA as it is produced, piece by
// piece, so that no second copy of a large message is ever built. It
// doubles the "." that begins a line (RFC 5321 section 4.5.2, so that no
// line of the text can end the data early) and ends the data with the
// end-of-data line. Output is collected into blocks of kDataBlockBytes and
// handed to a send function (the socket, or any channel over it) a block at
// a time.
#ifndef POSTRUNNER_MAIL_SMTP_DATA_WRITER_H_
#define POSTRUNNER_MAIL_SMTP_DATA_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace postrunner {

// Bytes collected before a block goes to the socket.
inline constexpr size_t kDataBlockBytes = 64 * 1024;

class SmtpDataWriter {
 public:
  // Sends all bytes of a block; false when that failed.
  using SendFunction = std::function<bool(const std::string&)>;

  // Hands the output to `send`.
  explicit SmtpDataWriter(SendFunction send);

  SmtpDataWriter(const SmtpDataWriter&) = delete;
  SmtpDataWriter& operator=(const SmtpDataWriter&) = delete;

  // Appends `text`, lines ending in CR LF. Does nothing once a send failed.
  void Write(std::string_view text);

  // Ends the last line if it is open, appends the end-of-data line "." and
  // sends what is left. Returns false when any send failed, or when the text
  // was abandoned (nothing more is sent then).
  bool Finish();

  // Stops the text short when what it is made of cannot be had: nothing
  // more is sent, not even the end-of-data line, so the server never takes
  // the message once the connection closes. `reason` says why.
  void Abandon(std::string reason);
  bool abandoned() const { return abandoned_; }
  const std::string& abandon_reason() const { return abandon_reason_; }

  // `text` without its end-of-data line when it ends in one (a composed
  // message ends in "\r\n.\r\n"; the writer adds that line itself).
  static std::string_view WithoutEndOfData(std::string_view text);

  // The size of the text `write` writes into a writer, as a server's SIZE
  // limit counts it (RFC 1870): the data as it goes on the wire, leading
  // dots doubled, without the end-of-data line. Nothing is sent.
  static uint64_t DataSize(const std::function<void(SmtpDataWriter&)>& write);

 private:
  // True when position `i` of `text`, the text being written, starts a line.
  bool StartsLine(std::string_view text, size_t i) const;
  // Appends `part` as it is, handing on each block as it fills.
  void Append(std::string_view part);
  void Flush();

  SendFunction send_;
  std::string block_;
  bool at_line_start_ = true;
  bool after_cr_ = false;
  bool failed_ = false;
  bool abandoned_ = false;
  std::string abandon_reason_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_SMTP_DATA_WRITER_H_

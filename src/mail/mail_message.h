// CQXMailMessage: the one object through which the program sends mail.
//
// The caller fills in sender, receivers, server, subject, body text and
// attachments, chooses the message type and calls SendMail; or sends the
// pieces of a split file one by one with SendPiece (piece_message.cc). The
// object composes the MIME text (mime_compose.cc), encodes attachments
// (attachment.cc, base64.h) and holds one SMTP conversation per receiver over
// a CQXBlockSock (smtp_transaction.cc); a secured conversation resumes the
// TLS session of the one before it to the same server, so a split send pays
// for one full handshake. It prints nothing but the failures
// it is asked to echo. It owns copies of everything it is
// given; one object serves one thread at a time and may be reused for
// several messages through Reset.
#ifndef POSTRUNNER_MAIL_MAIL_MESSAGE_H_
#define POSTRUNNER_MAIL_MAIL_MESSAGE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/mail_security.h"
#include "mail/mail_server.h"
#include "net/tls_session_cache.h"
#include "platform/types.h"

namespace postrunner {

// Message types: the layout of the composed message.
inline constexpr int MT_PLAIN = 0;          // text/plain body, attachments after it
inline constexpr int MT_HTML = 1;           // text/html body, attachments after it
inline constexpr int MT_INLINE = 2;         // text/html body, attachments inline
inline constexpr int MT_PARTIAL_NEXT = 3;   // second and later piece of a split file
inline constexpr int MT_PARTIAL_FIRST = 4;  // first piece of a split file

// Attachment kinds.
inline constexpr uint32_t AK_DATA = 0;   // the source was a string
inline constexpr uint32_t AK_JPEG = 1;   // unnamed image files, shown through
inline constexpr uint32_t AK_GIF = 2;    // their Content-ID
inline constexpr uint32_t AK_PNG = 3;
inline constexpr uint32_t AK_BMP = 4;
inline constexpr uint32_t AK_FILE = 99;  // any other file

// One attachment: what its part's header says and its text.
struct MailAttachment {
  uint32_t kind = AK_DATA;   // one of the AK_* kinds
  std::string name;          // the name shown; may be empty
  std::string content_type;  // the whole "Content-Type: ..." line
  std::string encoded;       // the base64 text, without line breaks
  uint64_t size = 0;         // the bytes the text stands for
};

// Bounds on the waits of an SMTP conversation. The defaults are the
// program's; tests shorten them so that a silent server costs a second.
struct SmtpWaits {
  int minimum_timeout_seconds = 30;  // floor of the time-out once connected
  int pause_milliseconds = 1000;     // pause after each receiver's conversation
};

class SmtpDataWriter;
struct FilePieces;

class CQXMailMessage {
 public:
  // An empty message: priority 3, time-out 60, type MT_PLAIN, check replies
  // on, no receivers and no attachments.
  CQXMailMessage();
  virtual ~CQXMailMessage();

  CQXMailMessage(const CQXMailMessage&) = delete;
  CQXMailMessage& operator=(const CQXMailMessage&) = delete;

  // Gives every field its default except check replies (and the waits), and
  // stores `echo_errors`: when TRUE, transmission failures are also printed.
  void Reset(BOOL echo_errors);

  // Appends a receiver; each gets its own conversation and "To: " line. A
  // receiver of several addresses separated by commas ("a@x.org,b@y.org")
  // gets one message: one RCPT per address and a "To: " line listing them
  // all; when the server refuses any of them, none gets the message.
  void AddReceiver(std::string address);
  void SetSender(std::string address);
  // The server's text and the host and port parsed from it (mail_server.h).
  void SetMailServer(MailServer server);
  void SetSubject(std::string text);
  // Appends `text` to the body text, with no separator.
  void AddBodyText(const std::string& text);
  // One of the MT_* types.
  void SetMessageType(int type);
  // Seconds each wait of a conversation may take, the wait for the greeting
  // included (raised to the floor of SmtpWaits once a conversation reaches
  // the server).
  void SetTimeout(int seconds);
  // When TRUE the replies to HELO and QUIT must be positive; when FALSE they
  // are read but not judged.
  void SetCheckReplies(BOOL check);
  void SetWaits(const SmtpWaits& waits) { waits_ = waits; }
  // TLS, AUTH and trust for every later conversation (kept by Reset). The
  // default asks for nothing: HELO, no TLS, no AUTH.
  void SetSecurity(const MailSecurity& security) { security_ = security; }
  // Whether a message over the server's SIZE limit should suggest letting
  // the file be split (kept by Reset).
  void SetSplitAdvice(bool advise) { split_advice_ = advise; }
  // The bytes of the whole file whose first piece this message carries
  // (MT_PARTIAL_FIRST): the size its joined message states.
  void SetWholeFileSize(uint64_t bytes) { whole_file_size_ = bytes; }

  // Encodes `source` (a file path when `source_is_file`, else the data
  // itself) and appends one attachment. `name` is the name to show and to
  // derive the content type from; an empty `content_type` means look it up.
  // `final_piece` is passed to the encoder. Returns the number of
  // attachments now held and sets `part_id` to "part<n>.1V02Corvuspost", or
  // returns 0 and changes nothing when the source cannot be read
  // (AttachmentError then tells why).
  int AddAttachment(const std::string& source, std::string name, std::string& part_id,
                    BOOL source_is_file, const std::string& content_type, BOOL final_piece);

  // Why the last AddAttachment returned 0: an errno value (ENOMEM when the
  // attachment did not fit in memory); 0 after a success.
  int AttachmentError() const { return attach_error_; }

  // Transmit with a scratch diagnostics text. TRUE when every receiver
  // accepted the message.
  BOOL SendMail();

  // Sends piece `number` (1 to its PieceCount) of `pieces` to every
  // receiver as one message/partial message: its subject and content type
  // from file_pieces.h, and in the first piece the enclosed header of the
  // whole file. The body text and attachments are replaced; sender,
  // receivers, server, time-out and security stay. The piece is read from
  // the file and encoded while it is sent; a piece that cannot be read in
  // full is not delivered (the conversation ends before the end of the data)
  // and standard error says why. TRUE when every receiver accepted it.
  BOOL SendPiece(const FilePieces& pieces, int64_t number);

  // Opens, ahead of the message, the conversation the next message will be
  // sent in: connected, greeted, introduced (TLS and AUTH as set), so that
  // the server's EHLO reply can shape what is sent. Stores in `*size_limit`
  // the largest message it takes (its SIZE; 0 when it names none, or with
  // HELO). FALSE, with the reason on standard error, when the conversation
  // failed before MAIL. The next conversation of SendMail or SendPiece
  // goes on from there; the connection closes with the object otherwise.
  BOOL OpenNextConversation(uint64_t* size_limit);

  // The bytes, as a server's SIZE counts them, that a message of this send
  // holds besides the base64 lines of the file (file_pieces.h,
  // Base64LinesBytes), with room for the lines made anew for each message.
  // PieceFrameBytes: at most those of any piece of `pieces` (its number and
  // count written as wide as any piece count of the file makes them).
  // WholeFrameBytes: those of the file `name` of `size` bytes sent whole as
  // the one attachment, in the layout, subject and body text set. Both
  // replace the attachments and are for a message made to measure.
  uint64_t PieceFrameBytes(const FilePieces& pieces);
  uint64_t WholeFrameBytes(const std::string& name, uint64_t size);

  // Checks sender, receivers and server, then holds one conversation per
  // receiver. Replaces `diagnostics` with the record of what went wrong, and
  // writes one line with the reason of each failure to standard error.
  // TRUE when every receiver accepted the message. The message text is
  // composed while it is sent, so a large attachment is held only once.
  BOOL Transmit(std::string& diagnostics);

  // One complete SMTP conversation delivering `text` (a composed message,
  // ending in the end-of-data line) to `receiver`. Appends to `diagnostics`
  // why it failed and writes the reason to standard error. TRUE when the
  // server accepted the message (a failure after that, at QUIT, is only
  // recorded in `diagnostics`).
  BOOL SendToReceiver(const std::string& receiver, const std::string& text,
                      std::string& diagnostics);

  // TRUE when `reply` starts with a code from 200 to 399 (a non-digit among
  // the first three characters counts as 0); FALSE when its first line
  // (before CR, LF or NUL) is shorter than three characters.
  static BOOL IsReplyOK(const std::string& reply);

  // The whole message text for receiver `receiver_index` (no "To: " line
  // when out of range): header, CR LF, body, CR LF, ".", CR LF. The body is
  // rebuilt when `build_body` is TRUE, else the last one is reused.
  std::string ComposeMessage(int receiver_index, BOOL build_body);
  // Rebuilds the header text for `receiver_index`; cleans the subject.
  void BuildHeader(int receiver_index);
  // Rebuilds the composed body.
  void BuildBody();

  // Receives consecutive pieces of a text.
  using TextSink = std::function<void(std::string_view)>;
  // Hands the body text, the one BuildBody builds, to `sink` in pieces
  // without building it. FALSE when the piece SendPiece is sending could
  // not be read in full: the text then stops short and `*problem` (when
  // given) says why.
  bool WriteBody(const TextSink& sink, std::string* problem = nullptr) const;

  int priority() const { return priority_; }
  int timeout() const { return timeout_; }
  BOOL echo_errors() const { return echo_errors_; }
  int message_type() const { return message_type_; }
  BOOL check_replies() const { return check_replies_; }
  const std::string& header_text() const { return header_text_; }
  const std::string& composed_body() const { return composed_body_; }
  const std::string& body_text() const { return body_text_; }
  const std::string& sender() const { return sender_; }
  const std::string& subject() const { return subject_; }
  const MailServer& mail_server() const { return mail_server_; }
  const std::vector<std::string>& receivers() const { return receivers_; }
  const std::vector<MailAttachment>& attachments() const { return attachments_; }

 private:
  using MessageWriter = std::function<void(SmtpDataWriter&)>;
  struct OpenSmtp;

  // Sets up piece `number` of `pieces` as the message's one attachment,
  // with its subject, in layout `type` (MT_PARTIAL_FIRST or _NEXT).
  void FramePiece(const FilePieces& pieces, int64_t number, int type);
  // The frame of the message set up with an empty text (see
  // PieceFrameBytes); empties the attachment's text.
  uint64_t FrameBytes();
  // A conversation with the server brought up to MAIL (see OpenSmtp).
  std::unique_ptr<OpenSmtp> OpenConversation(const std::string& host_name);
  // OpenConversation, and once more with a renewed token when the server
  // refused the bearer token and a renewal is set up. When the result is not
  // opened, `*reason` says why.
  std::unique_ptr<OpenSmtp> OpenRenewing(const std::string& host_name, std::string* reason);

  // Transmit's work, which may run out of memory.
  BOOL TransmitToEach(std::string& diagnostics);
  // One conversation delivering the text `write` produces to `receiver`;
  // `message_bytes` gives its size for the server's SIZE limit.
  BOOL Converse(const std::string& receiver, const MessageWriter& write,
                const std::function<uint64_t()>& message_bytes, std::string& diagnostics);
  // Writes the header text, the body and the line end after it. With
  // `stand_in`, a piece's text is replaced by one of the same length, not
  // read from its file. A piece that cannot be read abandons the text.
  void WriteMessage(SmtpDataWriter& writer, bool stand_in) const;
  // The text of the piece being sent (or, with `stand_in`, one as long,
  // not read from the file) and the two line ends after it. FALSE, with
  // the reason in `*problem` when given, when the piece cannot be read.
  bool WritePieceBody(const TextSink& sink, bool stand_in, std::string* problem) const;
  // Hands `encoded` to `sink` in lines of 80 characters, then two empty
  // lines.
  static void WriteBase64Lines(const std::string& encoded, const TextSink& sink);
  // Hands the header lines of attachment part `i`, which follow its
  // delimiter, and the empty line after them to `sink`.
  void WriteAttachmentHead(size_t i, const TextSink& sink) const;
  // The content type of the whole file a first piece starts: the one its
  // enclosed header states.
  std::string EnclosedContentType() const;

  int priority_ = 3;
  int timeout_ = 60;
  BOOL echo_errors_ = FALSE;
  int message_type_ = MT_PLAIN;
  BOOL check_replies_ = TRUE;
  std::string header_text_;
  std::string composed_body_;
  std::string body_text_;
  std::string sender_;
  std::string subject_;
  MailServer mail_server_;
  std::string boundary_;
  std::string delimiter_;
  std::string closing_delimiter_;
  std::string part_id_suffix_;
  std::vector<std::string> receivers_;
  std::vector<MailAttachment> attachments_;
  int attach_error_ = 0;  // see AttachmentError
  SmtpWaits waits_;
  MailSecurity security_;
  bool split_advice_ = false;
  uint64_t whole_file_size_ = 0;
  // The file and number of the piece SendPiece is sending; none otherwise.
  const FilePieces* pieces_ = nullptr;
  int64_t piece_number_ = 0;
  // The TLS session of the last secured conversation, which the next one
  // to the same server resumes: one full handshake per send.
  TlsSessionCache tls_sessions_;
  // The conversation OpenNextConversation opened, until one takes it.
  std::unique_ptr<OpenSmtp> next_conversation_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_MAIL_MESSAGE_H_

#include "mail/mail_message.h"

#include <utility>

namespace postrunner {

void CQXMailMessage::Reset(BOOL echo_errors) {
  priority_ = 3;
  timeout_ = 60;
  echo_errors_ = echo_errors;
  message_type_ = MT_PLAIN;
  header_text_.clear();
  composed_body_.clear();
  body_text_.clear();
  sender_.clear();
  subject_.clear();
  mail_server_ = MailServer();
  boundary_ = "---------------1V02Corvuspost";
  delimiter_ = "--" + boundary_;
  closing_delimiter_ = delimiter_ + "--";
  part_id_suffix_ = "1V02Corvuspost";
  receivers_.clear();
  attachments_.clear();
  whole_file_size_ = 0;
  pieces_ = nullptr;
  piece_number_ = 0;
}

void CQXMailMessage::AddReceiver(std::string address) {
  receivers_.push_back(std::move(address));
}

void CQXMailMessage::SetSender(std::string address) { sender_ = std::move(address); }

void CQXMailMessage::SetMailServer(MailServer server) { mail_server_ = std::move(server); }

void CQXMailMessage::SetSubject(std::string text) { subject_ = std::move(text); }

void CQXMailMessage::AddBodyText(const std::string& text) { body_text_ += text; }

void CQXMailMessage::SetMessageType(int type) { message_type_ = type; }

void CQXMailMessage::SetTimeout(int seconds) { timeout_ = seconds; }

void CQXMailMessage::SetCheckReplies(BOOL check) { check_replies_ = check; }

BOOL CQXMailMessage::SendMail() {
  std::string diagnostics;
  return Transmit(diagnostics);
}

}  // namespace postrunner

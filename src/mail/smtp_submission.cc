#include "mail/smtp_submission.h"

#include "mail/sasl.h"
#include "mail/smtp_conversation.h"
#include "mail/smtp_reply.h"
#include "net/block_sock.h"
#include "net/socket_errors.h"
#include "net/tls_socket_api.h"

namespace postrunner {
namespace {

// Seconds of silence after which a server where TLS from the first byte is
// likely is taken for one that waits for a TLS handshake.
constexpr int kSilentTlsPortSeconds = 10;

// The first digit of a reply's code ('2' for 250), or 0 for no code.
char ReplyClass(const std::string& reply) {
  return (reply.size() >= 3 && reply[0] >= '1' && reply[0] <= '5') ? reply[0] : '\0';
}

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at)) {
    text->replace(at, from.size(), to);
    at += to.size();
  }
}

}  // namespace

unsigned int DefaultSmtpPort(MailTransport transport) {
  switch (transport) {
    case MailTransport::kStartTls:
      return 587;
    case MailTransport::kTls:
      return 465;
    case MailTransport::kPlain:
      break;
  }
  return 25;
}

SmtpSubmission::SmtpSubmission(const MailSecurity& security, const MailServer& server,
                               SmtpConversation* smtp)
    : security_(security),
      server_(server.text),
      host_(server.address.host),
      port_(server.address.port),
      smtp_(smtp) {}

bool SmtpSubmission::OpenTls() {
  std::string reason;
  if (security_.transport != MailTransport::kTls || Handshake(&reason)) return true;
  // A plain greeting where a TLS record was expected.
  if (reason.find("wrong version number") != std::string::npos ||
      reason.find("packet length too long") != std::string::npos) {
    reason += "; the server speaks plain SMTP first: use /StartTLS";
  }
  return smtp_->Fail(reason);
}

bool SmtpSubmission::AwaitGreeting() {
  const bool tls_port_likely =
      security_.transport == MailTransport::kStartTls ||
      (security_.transport == MailTransport::kPlain && smtp_->HostAndPort().ends_with(":465"));
  if (!tls_port_likely) return smtp_->AwaitGreeting();
  return smtp_->AwaitGreeting(kSilentTlsPortSeconds,
                              "no greeting from " + smtp_->HostAndPort() +
                                  "; if this port speaks TLS from the first byte (465), use /TLS");
}

bool SmtpSubmission::Introduce(const std::string& client_name) {
  std::string reason;
  bool ok = Ehlo(client_name, &reason);
  if (ok && security_.transport == MailTransport::kStartTls) {
    ok = StartTls(&reason) && Ehlo(client_name, &reason);
  }
  return (ok && Authenticate(&reason)) || smtp_->Fail(reason);
}

bool SmtpSubmission::Handshake(std::string* reason) {
  CQXBlockSock* socket = smtp_->socket();
  if (smtp_->tls()->StartTls(socket->GetSocket(), host_, security_.ca_file,
                             smtp_->timeout() * 1000, reason)) {
    return true;
  }
  if (security_.ca_file.empty() && reason->starts_with("certificate verify failed") &&
      reason->find("host name mismatch") == std::string::npos) {
    *reason += "; if a private CA signed the server's certificate, give its certificate "
               "with /CAFile:PATH";
  }
  *reason = "TLS with " + server_ + " failed: " + *reason;
  return false;
}

bool SmtpSubmission::Exchange(const std::string& line, const char* shown, std::string* reply,
                              std::string* reason) {
  if (!smtp_->socket()->Send(line + "\r\n")) {
    *reason = std::string("sending ") + shown + " to " + server_ +
              " failed: " + SocketErrorReason(smtp_->socket()->GetErrorCode());
    return false;
  }
  if (smtp_->replies()->Read(smtp_->timeout(), reply)) return true;
  *reason = std::string("no reply to ") + shown + " from " + server_;
  return false;
}

bool SmtpSubmission::Ehlo(const std::string& client_name, std::string* reason) {
  std::string reply;
  if (!Exchange("EHLO " + client_name, "EHLO", &reply, reason)) return false;
  if (ParseEhloReply(reply, &extensions_)) return true;
  *reason = server_ + " refused EHLO: " + Shown(reply);
  return false;
}

bool SmtpSubmission::StartTls(std::string* reason) {
  if (!extensions_.starttls) {
    *reason = "server does not offer STARTTLS: " + server_;
    return false;
  }
  std::string reply;
  if (!Exchange("STARTTLS", "STARTTLS", &reply, reason)) return false;
  if (ReplyClass(reply) != '2') {
    *reason = server_ + " refused STARTTLS: " + Shown(reply);
    return false;
  }
  // Anything the server sent after its reply arrived unprotected and could
  // have been injected on the way; it must not be read as if it came over
  // TLS.
  if (smtp_->replies()->HasPending()) {
    *reason = server_ + " sent data after its STARTTLS reply; TLS not started";
    return false;
  }
  extensions_ = SmtpExtensions();
  return Handshake(reason);
}

bool SmtpSubmission::ChooseMechanism(SaslMechanism* mechanism, std::string* reason) const {
  if (security_.mechanism_chosen) {
    *mechanism = security_.mechanism;
    if (extensions_.OffersAuth(SaslMechanismName(*mechanism))) return true;
  } else if (extensions_.OffersAuth("PLAIN")) {
    *mechanism = SaslMechanism::kPlain;
    return true;
  } else if (extensions_.OffersAuth("LOGIN")) {
    *mechanism = SaslMechanism::kLogin;
    return true;
  }
  std::string offered;
  for (const std::string& m : extensions_.auth_mechanisms) offered += " " + m;
  *reason = server_ + " does not offer AUTH " +
            (security_.mechanism_chosen ? SaslMechanismName(*mechanism) : "PLAIN or LOGIN") +
            (offered.empty() ? std::string(" (it offers no AUTH)") : " (it offers" + offered + ")");
  // Many servers offer AUTH only once STARTTLS has protected the channel.
  if (offered.empty() && extensions_.starttls) {
    *reason += "; it offers STARTTLS and likely AUTH after it: use /StartTLS";
  }
  return false;
}

bool SmtpSubmission::Authenticate(std::string* reason) {
  if (security_.user.empty()) return true;
  // The peer is read from the connected socket: a name looked up again
  // could answer with another address than the one connected to.
  CQXBlockSock* socket = smtp_->socket();
  if (!smtp_->tls()->Secured(socket->GetSocket()) && !socket->PeerIsLoopback()) {
    *reason = "refusing to send credentials unencrypted to " + server_ +
              " (use /StartTLS or /TLS)";
    return false;
  }
  SaslMechanism mechanism;
  if (!ChooseMechanism(&mechanism, reason)) return false;
  const std::string name = SaslMechanismName(mechanism);
  const std::string shown = "AUTH " + name;
  std::string reply;
  bool answered = false;
  switch (mechanism) {
    case SaslMechanism::kPlain:
      answered = Exchange(shown + " " + SaslPlainResponse(security_.user, security_.secret),
                          shown.c_str(), &reply, reason);
      break;
    case SaslMechanism::kXoauth2:
    case SaslMechanism::kOauthBearer:
      answered = AuthenticateWithToken(mechanism, &reply, reason);
      break;
    case SaslMechanism::kLogin:
      // A reply other than a challenge ends the exchange and is judged
      // below.
      answered = Exchange(shown, shown.c_str(), &reply, reason);
      if (answered && ReplyClass(reply) == '3') {
        answered = Exchange(SaslLoginResponse(security_.user), shown.c_str(), &reply, reason);
      }
      if (answered && ReplyClass(reply) == '3') {
        answered = Exchange(SaslLoginResponse(security_.secret), shown.c_str(), &reply, reason);
      }
      break;
  }
  if (!answered) return false;
  if (ReplyClass(reply) == '2') return true;
  token_refused_ = SaslCarriesToken(mechanism) && ReplyClass(reply) == '5';
  *reason = server_ + " refused " + shown + " for " + security_.user + ": " + Shown(reply);
  return false;
}

bool SmtpSubmission::AuthenticateWithToken(SaslMechanism mechanism, std::string* reply,
                                           std::string* reason) {
  const std::string shown = std::string("AUTH ") + SaslMechanismName(mechanism);
  const std::string response =
      mechanism == SaslMechanism::kOauthBearer
          ? SaslOauthBearerResponse(security_.user, host_, port_, security_.secret)
          : SaslXoauth2Response(security_.user, security_.secret);
  if (!Exchange(shown + " " + response, shown.c_str(), reply, reason)) return false;
  if (ReplyClass(*reply) != '3') return true;
  // A refused token gets a challenge with the error details in JSON; the
  // one answer the mechanism allows ends the exchange with the final reply,
  // which names the failure.
  if (!Exchange(SaslErrorChallengeAnswer(mechanism), shown.c_str(), reply, reason)) return false;
  // A server that takes the answer as success has still refused the token.
  if (ReplyClass(*reply) == '2') {
    token_refused_ = true;
    *reason = server_ + " refused " + shown + " for " + security_.user + ": " + Shown(*reply);
    return false;
  }
  return true;
}

bool SmtpSubmission::CheckSize(const std::function<uint64_t()>& message_bytes,
                               bool suggest_split) {
  if (extensions_.size_limit == 0) return true;
  const uint64_t bytes = message_bytes();
  if (bytes <= extensions_.size_limit) return true;
  std::string reason = "the message is " + std::to_string(bytes) + " bytes, more than the " +
                       std::to_string(extensions_.size_limit) + " bytes " + server_ +
                       " accepts (SIZE)";
  if (suggest_split) reason += "; without /NoSplit the file goes in pieces";
  return smtp_->Fail(reason);
}

std::string SmtpSubmission::Shown(const std::string& reply) const {
  std::string text = reply;
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  if (!security_.secret.empty()) {
    ReplaceAll(&text, security_.secret, "***");
    ReplaceAll(&text, SaslPlainResponse(security_.user, security_.secret), "***");
    ReplaceAll(&text, SaslLoginResponse(security_.secret), "***");
    ReplaceAll(&text, SaslXoauth2Response(security_.user, security_.secret), "***");
    ReplaceAll(&text, SaslOauthBearerResponse(security_.user, host_, port_, security_.secret),
               "***");
  }
  return text + TemporaryNote(reply);
}

}  // namespace postrunner

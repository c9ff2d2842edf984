// The mail server a message goes to, as whoever read the "/Mailserver:"
// text parsed it, once: the text itself, which every reason and diagnostic
// shows, and the host and port to connect to. No layer below parses the
// text again.
#ifndef POSTRUNNER_MAIL_MAIL_SERVER_H_
#define POSTRUNNER_MAIL_MAIL_SERVER_H_

#include <string>

#include "platform/host_port.h"

namespace postrunner {

struct MailServer {
  std::string text;   // as the user wrote it; empty: no server set
  HostPort address;   // host without brackets and port; an empty host
                      // (a text that names no server) cannot be connected to
};

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_MAIL_SERVER_H_

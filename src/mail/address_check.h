// Checks of the mail addresses a run is given (receiver and sender, from the
// command line or the registry). An address goes into SMTP commands and into
// header lines exactly as it stands, so a control character in it (CR and LF
// above all) could end a command or a header early and smuggle in another:
// such an address is refused before anything is sent.
#ifndef POSTRUNNER_MAIL_ADDRESS_CHECK_H_
#define POSTRUNNER_MAIL_ADDRESS_CHECK_H_

#include <string>
#include <string_view>
#include <vector>

namespace postrunner {

// Empty when `address` holds no control character (bytes 0x00-0x1F and
// 0x7F); otherwise why it is refused, e.g.
// "holds the control character 0x0D at byte 12".
std::string AddressProblem(std::string_view address);

// The addresses of a receiver text that lists several separated by commas
// ("a@x.org,b@y.org"), each without the blanks around it; a text without a
// comma is its one address, unchanged. An empty element stays as "".
std::vector<std::string> SplitAddressList(std::string_view text);

// The addresses of `text` (SplitAddressList) joined by ", ", as a To: line
// lists them; a single address unchanged.
std::string JoinedAddressList(std::string_view text);

}  // namespace postrunner

#endif  // POSTRUNNER_MAIL_ADDRESS_CHECK_H_

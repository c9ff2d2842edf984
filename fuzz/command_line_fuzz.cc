// The command line: the input is the argument vector, arguments separated
// by NUL bytes (the one byte an argument cannot hold), after the program
// path. Every option the program knows is looked up, and the values with a
// syntax of their own are parsed: the mail server's host and port, the split
// size, the thread count, the addresses, the help and version requests.
//
// Holds: the token list is the argument vector; an option is found exactly
// when an argument from the second on starts with its name (any case), and
// its value is the rest of the first such argument; a split size is a
// multiple of 3 that cuts any file into pieces adding up to it; a thread
// count is 1..256 and spelled by its digits; a host:port gives a non-empty
// host without brackets and a port 1..65535 (the default when none is
// written); an address is refused exactly when it holds a control byte.
#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/help_text.h"
#include "driver/split_size.h"
#include "driver/thread_count.h"
#include "fuzz_support.h"
#include "mail/address_check.h"
#include "mail/file_pieces.h"
#include "platform/ascii.h"
#include "platform/host_port.h"

namespace postrunner {
namespace {

using fuzz::Shown;

constexpr const char* kOptions[] = {
    "/Receiver:", "/Sender:", "/Mailserver:", "/File:", "/Filename:", "/Dir:", "/Zip",
    "/Zip:", "/CreateOnly", "/Recurse", "/NoSplit", "/SplitSize:", "/Threads:", "/Quiet",
    "/FTPServer:", "/FTPUser:", "/FTPPassword:", "/FTPPasswordFile:", "/FTPFilename:",
    "/FTPPassiveMode", "/FTPTLS", "/CAFile:", "/SSHKey:", "/KnownHosts:", "/StartTLS", "/TLS",
    "/MailUser:", "/MailPassword:", "/MailPasswordFile:", "/MailAuth:", "/Join:", "/JoinTo:"};

std::vector<std::string> Arguments(std::string_view input) {
  std::vector<std::string> args = {"postrunner"};
  while (true) {
    size_t nul = input.find('\0');
    args.emplace_back(input.substr(0, nul));
    if (nul == std::string_view::npos) break;
    input.remove_prefix(nul + 1);
  }
  return args;
}

void CheckOption(const std::vector<std::string>& args, const std::string& name) {
  size_t first = 0;
  for (size_t i = 1; i < args.size() && first == 0; ++i) {
    if (StartsWithNoCase(args[i], name)) first = i;
  }
  FUZZ_CHECK(HasOption(name) == (first != 0), "HasOption(" + name + ")");
  const std::string expected = first != 0 ? args[first].substr(name.size()) : "";
  FUZZ_CHECK(GetOptionValue(name) == expected,
             name + " gives " + Shown(GetOptionValue(name)) + ", not " + Shown(expected));
}

void CheckSplitSize(const std::string& text) {
  int64_t piece = -1;
  if (!ParseSplitSize(text, &piece)) return;
  FUZZ_CHECK(piece >= 3 && piece % 3 == 0 && piece <= (int64_t{1} << 50),
             "split size " + std::to_string(piece) + " from " + Shown(text));
  for (int64_t size : {int64_t{0}, int64_t{1}, piece - 1, piece, piece + 1, 3 * piece + 2}) {
    const int64_t count = PieceCount(size, piece);
    const int64_t last = PieceLength(size, piece, count);
    FUZZ_CHECK(count >= 1 && (count - 1) * piece + last == size &&
                   (size == 0 ? last == 0 : last >= 1) && last <= piece &&
                   (count == 1 || PieceLength(size, piece, count - 1) == piece) &&
                   PieceLength(size, piece, count + 1) == 0,
               "pieces of " + std::to_string(size) + " at " + std::to_string(piece));
  }
}

void CheckThreads(const std::string& text) {
  unsigned threads = 0;
  if (!ParseThreadCount(text, &threads)) {
    FUZZ_CHECK(threads == 0, "a refused thread count leaves the count alone");
    return;
  }
  const size_t digits = text.find_first_not_of('0');
  FUZZ_CHECK(threads >= 1 && threads <= kMaxThreads && digits != std::string::npos &&
                 text.substr(digits) == std::to_string(threads),
             std::to_string(threads) + " threads from " + Shown(text));
}

void CheckHostPort(const std::string& text) {
  HostPort out;
  if (!ParseHostPort(text, 25, &out)) return;
  FUZZ_CHECK(!out.host.empty() && out.host.find_first_of("[]") == std::string::npos &&
                 out.port >= 1,
             "host " + Shown(out.host) + " from " + Shown(text));
  if (text.find_first_of(":[") == std::string::npos) {
    FUZZ_CHECK(out.host == text && out.port == 25, "a plain host is taken whole");
  }
  HostPort again;
  FUZZ_CHECK(ParseHostPort(text, 25, &again) && again.host == out.host && again.port == out.port,
             "host:port parsing is deterministic");
}

void CheckAddress(const std::string& address) {
  bool control = false;
  for (char c : address) {
    const unsigned char u = static_cast<unsigned char>(c);
    control = control || u < 0x20 || u == 0x7f;
  }
  FUZZ_CHECK(AddressProblem(address).empty() != control,
             "address " + Shown(address) + ": " + Shown(AddressProblem(address)));
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  const std::vector<std::string> args = Arguments(fuzz::Input(data, size));
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  FUZZ_CHECK(SetRawCommandLine(static_cast<int>(args.size()), argv.data()), "raw command line");
  FUZZ_CHECK(SplitCommandLine() == static_cast<int>(args.size()) && TokenList() == args,
             "one token per argument");
  for (const char* option : kOptions) CheckOption(args, option);

  bool help = false, version = false;
  for (size_t i = 1; i < args.size(); ++i) {
    help = help || args[i] == "--help" || args[i] == "-h";
    version = version || args[i] == "--version";
  }
  const InfoRequest request = FindInfoRequest();
  FUZZ_CHECK(request == (help      ? InfoRequest::kHelp
                         : version ? InfoRequest::kVersion
                                   : InfoRequest::kNone),
             "help and version requests are whole arguments");

  CheckSplitSize(GetOptionValue("/SplitSize:"));
  CheckThreads(GetOptionValue("/Threads:"));
  CheckHostPort(GetOptionValue("/Mailserver:"));
  CheckAddress(GetOptionValue("/Receiver:"));
  CheckAddress(GetOptionValue("/Sender:"));
  return 0;
}

#include "driver/main_flow.h"

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/archive_file.h"
#include "driver/command_line.h"
#include "driver/file_checks.h"
#include "driver/folder_walk.h"
#include "driver/ftp_options.h"
#include "driver/help_text.h"
#include "driver/ignored_arguments.h"
#include "driver/join_mode.h"
#include "driver/mail_dispatch.h"
#include "driver/mail_security_options.h"
#include "driver/mail_token.h"
#include "driver/oauth_login.h"
#include "driver/oauth_options.h"
#include "driver/presets.h"
#include "driver/split_size.h"
#include "driver/thread_count.h"
#include "driver/timeout_option.h"
#include "driver/version.h"
#include "ftp/ftp_upload.h"
#include "join/join.h"
#include "mail/address_check.h"
#include "platform/ascii.h"
#include "platform/console.h"
#include "platform/progress.h"
#include "platform/file_io.h"
#include "platform/host_port.h"
#include "platform/path.h"
#include "platform/process_setup.h"
#include "platform/secret_memory.h"
#include "platform/signal_cleanup.h"
#include "zip/archive.h"

namespace postrunner {
namespace {

constexpr const char* kRule = "====================================";
constexpr const char* kDefaultArchive = "Compressed.zip";
constexpr const char* kDefaultMailServer = "127.0.0.1";

// The driver's record of one run.
struct RunSettings {
  std::string receiver;
  std::string sender;
  std::string mail_server;
  std::string file_path;
  std::string folder_path;
  std::string archive_name;
  FtpSettings ftp;
  std::string file_to_send;
  std::string bare_name;
  bool archive_mode = false;
  bool folder_mode = false;
  bool recurse = false;
  bool create_only = false;
  bool split_allowed = true;
  int64_t piece_size = kPieceSize;
  unsigned threads = 0;  // compressing threads; 0 = one per online CPU
  int timeout_seconds = 0;  // bound on each wait of the delivery; 0 = defaults
  bool ftp_mode = false;
};

// A missing option in mail mode: `reason` (which value is missing and what
// gives it; none when a reason was printed already) on standard error, the
// message and the usage text on standard output.
int MissingOption(const char* message, const std::string& reason) {
  if (!reason.empty()) PrintReason(reason);
  PrintLine(message);
  PrintUsage();
  return kExitUsage;
}

// Refuses an address that could break out of its SMTP command or header
// line: the reason goes to standard error, then the run ends as if the
// address had not been set. Returns 0 or the exit code.
int CheckAddress(const char* role, const std::string& address, const char* unset_message) {
  const std::string problem = AddressProblem(address);
  if (problem.empty()) return 0;
  PrintReason(std::string("the ") + role + " address \"" + address + "\" " + problem);
  return MissingOption(unset_message, "");
}

// Checks each address of the receiver text, which may list several
// separated by commas. Returns 0 or the exit code.
int CheckReceivers(const std::string& receivers) {
  const std::vector<std::string> addresses = SplitAddressList(receivers);
  for (const std::string& address : addresses) {
    if (address.empty() && addresses.size() > 1) {
      PrintReason("the receiver list \"" + receivers + "\" holds an empty address");
      return MissingOption("ERROR: Set the receiver", "");
    }
    if (int code = CheckAddress("receiver", address, "ERROR: Set the receiver")) return code;
  }
  return 0;
}

// Reads /Timeout: or the Timeout preset. Returns 0 or the exit code of a
// bad value.
int ReadTimeout(RunSettings* s) {
  const std::string text = OptionOrPreset("/Timeout:", "Timeout");
  if (!HasOption("/Timeout:") && text.empty()) return 0;
  if (ParseTimeoutSeconds(text, &s->timeout_seconds)) return 0;
  PrintReason(std::string(HasOption("/Timeout:") ? "/Timeout:" : "the Timeout preset") +
              " takes a whole number of seconds from 1 to " +
              std::to_string(kMaxTimeoutSeconds));
  PrintUsage();
  return kExitUsage;
}

// Reads the delivery options (unless create only). Returns 0 or the exit
// code of a failed check.
int ReadDeliveryOptions(RunSettings* s) {
  if (int code = ReadTimeout(s)) return code;
  if (FtpRequested()) {
    s->ftp_mode = true;
    if (int code = ReadFtpOptions(&s->ftp)) return code;
    s->ftp.security.timeout_seconds = s->timeout_seconds;
    return 0;
  }
  s->receiver = OptionOrPreset("/Receiver:", "Receiver");
  if (!HasOption("/Receiver:") && s->receiver.empty()) {
    return MissingOption("ERROR: Set the receiver",
                         "no receiver: give /Receiver:ADDRESS or the registry preset Receiver");
  }
  if (int code = CheckReceivers(s->receiver)) return code;
  s->mail_server = HasOption("/Mailserver:") ? GetOptionValue("/Mailserver:")
                                             : ReadPreset("Mailserver", kDefaultMailServer);
  if (HasOption("/Sender:")) {
    s->sender = GetOptionValue("/Sender:");
  } else {
    s->sender = ReadPreset("Sender", "");
    if (s->sender.empty()) {
      return MissingOption("ERROR: Set the sender",
                           "no sender: give /Sender:ADDRESS or the registry preset Sender");
    }
  }
  return CheckAddress("sender", s->sender, "ERROR: Set the sender");
}

// Chooses the folder or the file to deliver. Returns 0 or an exit code.
int ChooseSource(RunSettings* s) {
  if (HasOption("/Dir:")) {
    PrintLine("DIR Mode");
    s->folder_path = ExpandHome(WithForwardSlashes(GetOptionValue("/Dir:")));
    if (s->folder_path.empty()) {
      return MissingOption("ERROR: Incomplete Parameter /Dir:", "/Dir: names no folder");
    }
    s->folder_mode = true;
    s->archive_mode = true;
    if (s->folder_path.back() != '/') s->folder_path += '/';
  } else if (HasOption("/File:")) {
    PrintLine("FILE Mode");
    s->file_path = ExpandHome(WithForwardSlashes(GetOptionValue("/File:")));
  } else if (HasOption("/Filename:")) {
    PrintLine("FILE Mode");
    s->file_path = ExpandHome(WithForwardSlashes(GetOptionValue("/Filename:")));
  } else {
    return MissingOption("ERROR: Set the file to send",
                         "nothing to send: give /File:PATH, /Filename:PATH or /Dir:FOLDER");
  }
  if (!s->folder_mode) s->file_to_send = s->file_path;
  return 0;
}

// Adds the file or the folder to `archive` and closes it. Returns 0 when
// the archive is complete, else the exit code; `*keep` tells whether the
// closed archive lists the entries that succeeded and so stays.
int FillArchive(const RunSettings& s, std::unique_ptr<ArchiveHandle> archive, bool* keep) {
  const int code = s.folder_mode ? kExitFolderAdd : kExitFileAdd;
  const char* failed = s.folder_mode
                           ? "ERROR: Unable to add the foldercontent into the compressed archive."
                           : "ERROR: Unable to add the file into the compressed archive.";
  bool added = true;
  ArchiveSetThreads(archive.get(), CompressingThreads(s.threads));
  if (s.folder_mode) {
    added = AddFolderToArchive(archive.get(), s.folder_path, s.recurse, "", s.archive_name,
                               s.threads);
  } else if (ArchiveResult r = ArchiveAddEntry(archive.get(), s.bare_name.c_str(),
                                               s.file_path.c_str(), 0, SourceFileName);
             r != ResultOk) {
    PrintArchiveFailure(r, ArchiveLastError(archive.get()), s.file_path, s.archive_name);
    added = false;
  }
  int close_error = 0;
  if (ArchiveResult closed = ArchiveClose(std::move(archive), &close_error); closed != ResultOk) {
    // The central directory did not reach the disk: the archive is unusable.
    PrintArchiveFailure(closed, close_error, s.archive_name, s.archive_name);
    *keep = false;
    PrintLine(failed);
    return code;
  }
  *keep = true;
  if (added) return 0;
  PrintLine(failed);
  return code;
}

// Packs the file or the folder into this run's `file`. Returns 0 or an
// exit code.
int BuildArchive(RunSettings* s, ArchiveFile* file) {
  if (!s->folder_mode && (EqualNoCase(s->file_path, s->archive_name) ||
                          SameExistingFile(s->file_path, s->archive_name))) {
    // Checked before the old archive is deleted: deleting it would delete
    // the very file to be packed.
    PrintReason("the file to pack is the archive " + s->archive_name +
                " itself: give /Zip: another name");
    PrintLine("In File and Zip Mode the filename to zip and te zipfile need to have different names");
    return kExitUsage;
  }
  s->file_to_send = s->archive_name;
  std::unique_ptr<ArchiveHandle> archive;
  if (file->Open(s->archive_name, !s->create_only)) {
    const int fd = file->descriptor();
    int error = 0;
    archive = ArchiveCreate(&fd, 0, TargetHandle, &error);
    if (!archive) PrintReason(s->archive_name + ": " + ErrnoText(error));
  }
  if (!archive) {
    file->Discard();
    PrintLine("ERROR: Unable to create the compressed archive.");
    return kExitArchiveCreate;
  }
  bool keep = false;
  int code = FillArchive(*s, std::move(archive), &keep);
  if (code != 0 && keep) file->Publish();
  return code;
}

// The mail server text, parsed here once for every layer below: the host
// and the port (by default the one of `transport`). A text that names no
// server keeps an empty host, and connecting to it fails.
MailServer ParseMailServer(const std::string& text, MailTransport transport) {
  MailServer server{text, {}};
  if (!ParseHostPort(text, static_cast<uint16_t>(DefaultSmtpPort(transport)), &server.address)) {
    server.address = HostPort{std::string(), 0};
  }
  return server;
}

// With a mail user but no ready token and a token endpoint set up, gets the
// run's token into `security` from `*tokens`, which is made here and renews
// a refused token. Returns 0 or the exit code; nothing is sent on failure
// and an archive stays.
int ObtainMailToken(const RunSettings& s, MailSecurity* security,
                    std::unique_ptr<MailTokenSource>* tokens, ArchiveFile* archive) {
  if (security->user.empty() || !security->secret.empty() || !OAuthConfigured()) return 0;
  OAuthSettings settings;
  std::string reason;
  int code = ReadOAuthSettings(security->ca_file, s.timeout_seconds, false, &settings, &reason);
  if (code == 0) {
    *tokens = std::make_unique<MailTokenSource>(settings, security->user);
    if ((*tokens)->Obtain(&security->secret, &reason)) {
      security->renewal = tokens->get();
      return 0;
    }
    code = kExitNotDelivered;
  }
  PrintReason(reason);
  if (code == kExitUsage) PrintUsage();
  PrintLine("ERROR: File " + s.bare_name + " not sent to " + s.receiver);
  if (s.archive_mode) archive->Publish();
  return code;
}

// Delivers the file (in archive mode this run's archive, read through its
// descriptor) and prints the result line. Returns the exit code.
int Deliver(const RunSettings& s, ArchiveFile* archive) {
  const std::string& target = s.ftp_mode ? s.ftp.server : s.receiver;
  const std::string path = s.archive_mode ? archive->ReadPath() : s.file_to_send;
  const std::string name = BareName(s.file_to_send);
  // A security option that cannot be honoured fails the delivery before
  // anything is sent.
  MailSecurity security;
  std::string reason;
  std::unique_ptr<MailTokenSource> tokens;
  bool secured = s.ftp_mode || ReadMailSecurity(&security, &reason);
  if (secured && !s.ftp_mode) {
    if (int code = ObtainMailToken(s, &security, &tokens, archive)) return code;
  }
  if (!secured) PrintReason(reason);
  const MailServer mail_server = ParseMailServer(s.mail_server, security.transport);
  bool delivered =
      s.ftp_mode ? SendFileByFtp(path, s.ftp.server, s.ftp.user, s.ftp.password,
                                 s.ftp.remote_name.empty() ? name : s.ftp.remote_name,
                                 s.ftp.passive ? TRUE : FALSE, s.ftp.security) != FALSE
                 : secured && SendFileByMail(path, s.sender, s.receiver, mail_server,
                                             s.split_allowed, name, security,
                                             s.piece_size, s.timeout_seconds) != 0;
  if (!delivered) {
    PrintLine("ERROR: File " + s.bare_name + " not sent to " + target);
    // The archive stays after a failed delivery.
    if (s.archive_mode) archive->Publish();
    return kExitNotDelivered;
  }
  PrintLine("File " + s.bare_name + " sent to " + target);
  // A delivered archive is deleted: it never took its real name.
  if (s.archive_mode) archive->Discard();
  return kExitOk;
}

// The archive's name: the value of /Zip:, else the default.
std::string ArchiveNameOption() {
  std::string name =
      HasOption("/Zip:") ? ExpandHome(WithForwardSlashes(GetOptionValue("/Zip:"))) : "";
  return name.empty() ? std::string(kDefaultArchive) : name;
}

// Reads the mode flags and the archive name, printing a line for each mode
// that is on. Returns 0 or the exit code of a bad value.
int ReadModeOptions(RunSettings* s) {
  if (HasOption("/NoSplit")) {
    PrintLine("Dont split ZIP files");
    s->split_allowed = false;
  }
  const std::string split_size = OptionOrPreset("/SplitSize:", "SplitSize");
  if ((HasOption("/SplitSize:") || !split_size.empty()) &&
      !ParseSplitSize(split_size, &s->piece_size)) {
    PrintReason(std::string(HasOption("/SplitSize:") ? "/SplitSize:" : "the SplitSize preset") +
                " takes auto or a byte count of at least 3, with an optional K or M suffix");
    PrintUsage();
    return kExitUsage;
  }
  if (HasOption("/Threads:") && !ParseThreadCount(GetOptionValue("/Threads:"), &s->threads)) {
    PrintReason("/Threads: takes a whole number of threads from 1 to " +
                std::to_string(kMaxThreads));
    PrintUsage();
    return kExitUsage;
  }
  if (HasOption("/CreateOnly")) {
    PrintLine("CREATE ONLY Mode");
    s->create_only = true;
  }
  if (HasOption("/Recurse")) {
    PrintLine("RECURSE Mode");
    s->recurse = true;
  }
  if (HasOption("/Zip")) {
    PrintLine("ZIP Mode");
    s->archive_mode = true;
  }
  s->archive_name = ArchiveNameOption();
  return 0;
}

// Prints the help text or the version when either is asked for; true then.
bool AnswerInfoRequest() {
  switch (FindInfoRequest()) {
    case InfoRequest::kHelp:
      PrintHelp();
      return true;
    case InfoRequest::kVersion:
      PrintVersion();
      return true;
    case InfoRequest::kNone:
      break;
  }
  return false;
}

// Readies the process and reads the command line. False when the run must
// end (with kExitUsage).
bool PrepareRun(int argc, const char* const* argv) {
  // Before anything opens a file: no file may take a standard descriptor.
  if (!OpenClosedStandardDescriptors()) {
    PrintReason("a standard descriptor is closed and /dev/null cannot be opened: " +
                ErrnoText(errno));
    return false;
  }
  if (!IgnoreWriteSignals()) PrintReason("cannot ignore SIGPIPE and SIGXFSZ: " + ErrnoText(errno));
  if (!SetRawCommandLine(argc, argv)) return false;
  if (!InstallSignalCleanup()) {
    PrintReason("cannot install the clean-up on signals: " + ErrnoText(errno));
  }
  (void)SplitCommandLine();  // the tokens are read through TokenList()
  return true;
}

// The sending side: the banner, the mode and delivery options, the archive
// and the delivery. Returns the exit code.
int RunSend() {
  EnableProgress(!HasOption("/Quiet"));
  // An archive streamed into standard output has it to itself.
  if (HasOption("/CreateOnly") && (HasOption("/Zip") || HasOption("/Dir:")) &&
      ArchiveGoesToStandardOutput(ArchiveNameOption())) {
    SendLinesToStandardError();
  }

  PrintLine(kRule);
  PrintLine(std::string("Veltrona Postrunner ") + kBannerVersion);
  PrintLine(kRule);

  RunSettings s;
  if (int code = ReadModeOptions(&s)) return code;

  if (!s.create_only) {
    if (int code = ReadDeliveryOptions(&s)) return code;
  }
  if (int code = ChooseSource(&s)) return code;
  s.bare_name = BareName(s.file_path);

  ArchiveFile archive;
  if (s.archive_mode) {
    if (int code = BuildArchive(&s, &archive)) return code;
  }
  if (s.create_only) {
    if (s.archive_mode && !archive.Publish()) {
      PrintLine("ERROR: Unable to create the compressed archive.");
      return kExitArchiveCreate;
    }
    return kExitOk;
  }
  return Deliver(s, &archive);
}

}  // namespace

int RunPostrunner(int argc, const char* const* argv) {
  if (!PrepareRun(argc, argv)) return kExitUsage;
  if (AnswerInfoRequest()) return kExitOk;
  WarnAboutIgnoredArguments();
  // A secret given on the command line or in the environment is in memory
  // from the start; one in a file makes the process non-dumpable when read.
  if ((MailSecretGiven() || FtpSecretGiven() || OAuthSecretGiven()) && !ProtectSecretMemory()) {
    PrintReason("cannot keep the secrets out of core dumps: " + ErrnoText(errno));
  }
  // The receiving side is a mode of its own: it prints only its result lines.
  if (HasOption("/Join:")) {
    return RunJoinMode();
  }
  // The first sign-in is a mode of its own: it needs no receiver or file.
  if (HasOption("/OAuthLogin")) return RunOAuthLogin();
  return RunSend();
}

}  // namespace postrunner

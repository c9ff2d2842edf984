#include "driver/help_text.h"

#include <string>

#include "driver/command_line.h"
#include "driver/version.h"
#include "platform/console.h"

namespace postrunner {
namespace {

// Kept in step with the README's option table and the manual page by an
// end-to-end test that looks for every option in all three.
constexpr const char* kHelp[] = {
    "Usage: postrunner [OPTION]...",
    "Deliver one file, or a folder packed into a ZIP archive, by mail (SMTP) or by",
    "upload (FTP, FTPS, SFTP), without asking anything; for scripts and cron jobs.",
    "",
    "Every option is one argument, recognised by a case-insensitive prefix; only",
    "the first matching argument counts. Quote values with blanks.",
    "",
    "What to send:",
    "  /File:PATH           the file to send (/Filename:PATH is read when /File: is absent)",
    "  /Dir:FOLDER          pack this folder into an archive and send that",
    "  /Recurse             with /Dir:, include sub-folders",
    "  /Zip                 pack the file into an archive before sending",
    "  /Zip:NAME            the archive's name (default Compressed.zip in the current folder)",
    "  /CreateOnly          write the archive and stop; no delivery options needed",
    "  /Threads:N           compress a folder's files on N threads, 1 to 256",
    "                       (default one per online CPU; 1 = one thread throughout)",
    "",
    "Mail (the default delivery):",
    "  /Receiver:ADDRESS    the receiver, or several separated by commas, all in one",
    "                       message (else the registry preset; required)",
    "  /Sender:ADDRESS      the sender (else the registry preset; required)",
    "  /Mailserver:HOST     SMTP server: host, host:port, [ipv6] or [ipv6]:port",
    "                       (else the registry preset, else 127.0.0.1; port 25)",
    "  /NoSplit             never cut a big file into several mails",
    "  /SplitSize:N         bytes per piece, K or M suffix (default 998001), or auto:",
    "                       as big as the server's SIZE limit takes",
    "  /Timeout:SECONDS     bound on the connect and each server reply, mail and FTP,",
    "                       1 to 86400 (default 120 for mail)",
    "  /StartTLS            upgrade to TLS after EHLO (port 587 by default)",
    "  /TLS                 TLS from the first byte (port 465 by default)",
    "  /MailUser:NAME       authenticate as NAME (only over TLS, or to loopback)",
    "  /MailPassword:SECRET the password (other local users can read command lines)",
    "  /MailPasswordFile:PATH  first line of PATH is the password (mode 0600 or stricter)",
    "  /MailAuth:MECHANISM  plain, login, xoauth2 or oauthbearer (default: plain, else login)",
    "  /CAFile:PATH         extra trusted certificates (PEM), for mail and FTP",
    "",
    "OAuth 2.0 (mail tokens fetched and refreshed by postrunner itself):",
    "  /OAuthProvider:NAME  microsoft or google: fills in endpoints and scope",
    "  /OAuthTenant:TENANT  with microsoft, the tenant (default organizations)",
    "  /OAuthTokenURL:URL   the token endpoint (https://)",
    "  /OAuthAuthURL:URL    the authorization endpoint, for /OAuthLogin",
    "  /OAuthDeviceURL:URL  the device authorization endpoint, for /OAuthLogin",
    "  /OAuthClientID:ID    the registered client's id",
    "  /OAuthClientSecretFile:PATH  the client secret (mode 0600; or",
    "                       POSTRUNNER_OAUTH_CLIENT_SECRET)",
    "  /OAuthScope:SCOPES   the scopes asked for, separated by blanks",
    "  /OAuthRefreshTokenFile:PATH  the refresh token (written by /OAuthLogin, 0600)",
    "  /OAuthGrant:GRANT    refresh_token (default) or client_credentials",
    "  /OAuthLogin          sign in once, interactively, and write the refresh token",
    "                       file; needs no receiver, sender or file",
    "",
    "Upload:",
    "  /FTPServer:SERVER    upload instead of mailing: host[:port], ftp://host[:port],",
    "                       ftps://host[:port] (implicit TLS) or sftp://host[:port]",
    "  /FTPUser:NAME        the user name (required for ftp and ftps)",
    "  /FTPPassword:SECRET  the password (other local users can read command lines)",
    "  /FTPPasswordFile:PATH  first line of PATH is the password (mode 0600 or stricter)",
    "  /FTPFilename:NAME    the remote name (default: the local file's name)",
    "  /FTPPassiveMode      passive data connections (default active)",
    "  /FTPTLS              explicit FTPS: require AUTH TLS and a protected data channel",
    "  /SSHKey:PATH         SFTP private key (passphrase from POSTRUNNER_SSH_PASSPHRASE)",
    "  /KnownHosts:PATH     SFTP host keys (default ~/.ssh/known_hosts)",
    "",
    "Receiving:",
    "  /Join:PATH           rebuild split files from the pieces in an mbox, a Maildir,",
    "                       a folder of .eml files or one .eml file; sends nothing",
    "  /Join:imaps://[USER@]HOST[:PORT]/MAILBOX  the same from an IMAP mailbox",
    "                       (imap:// demands STARTTLS; MAILBOX default INBOX); logs in",
    "                       with /MailUser:, the mail password or token, /MailAuth:",
    "                       (plain, login, xoauth2, oauthbearer) and /CAFile:",
    "  /JoinTo:FOLDER       where rebuilt files go (default: the current folder)",
    "  /JoinDelete          remove the pieces of each set written (IMAP, Maildir)",
    "",
    "Other:",
    "  /Quiet               no progress line on a terminal",
    "  -h, --help           this text",
    "  --version            the version",
    "",
    "Files and environment:",
    "  /etc/postrunner/registry.reg            machine presets (POSTRUNNER_MACHINE_REGISTRY)",
    "  ~/.config/postrunner/registry.reg       user presets (POSTRUNNER_USER_REGISTRY)",
    "  /etc/mime.types                         attachment content types (POSTRUNNER_MIME_TYPES)",
    "  Presets live under [HKEY_LOCAL_MACHINE\\Software\\Veltrona\\Dropcart] in the",
    "  machine file and [HKEY_CURRENT_USER\\Software\\Veltrona\\Dropcart] in the user",
    "  file; see postrunner(1). In values that name a file or folder, options and",
    "  presets alike, a leading ~/ stands for the home folder ($HOME).",
    "  POSTRUNNER_MAIL_PASSWORD, POSTRUNNER_FTP_PASSWORD  passwords or tokens",
    "  POSTRUNNER_SSH_PASSPHRASE                          passphrase of /SSHKey:",
    "  POSTRUNNER_OAUTH_CLIENT_SECRET                     OAuth client secret",
    "  $XDG_CACHE_HOME/postrunner (~/.cache/postrunner)   cached access tokens (0700)",
    "",
    "Exit status:",
    "  0  delivered, joined, or the archive was created (/CreateOnly)",
    "  1  a required option is missing or has a refused value, or the file and the",
    "     archive are the same",
    "  2  the archive cannot be created",
    "  3  a file of the folder cannot be added to the archive",
    "  4  the file cannot be added to the archive; /Join: cannot read its mailbox",
    "  5  the delivery failed; /Join: found an incomplete set or could not write one,",
    "     or the IMAP server refused the login or the mailbox, or a piece was cut",
    "  128+N  stopped by signal N (SIGHUP, SIGINT, SIGTERM); nothing half-made is left",
    "",
    "Examples:",
    "  postrunner /Receiver:ops@example.com /Sender:backup@example.com \\",
    "             /Mailserver:mail.example.com /StartTLS /MailUser:backup \\",
    "             /MailPasswordFile:/etc/postrunner/mail.secret /Zip /File:db.dump",
    "  postrunner /CreateOnly /Zip:/tmp/reports.zip /Dir:/srv/reports /Recurse",
    "  postrunner /FTPServer:sftp://files.example.com /FTPUser:upload \\",
    "             /SSHKey:~/.ssh/id_ed25519 /FTPFilename:in/db.zip /File:db.zip",
    "",
    "Reasons for a failure go to standard error, one line each, prefixed \"postrunner: \".",
    "Full documentation: man postrunner",
};

}  // namespace

bool IsInfoArgument(const std::string& token) {
  return token == "--help" || token == "-h" || token == "--version";
}

InfoRequest FindInfoRequest() {
  const auto& tokens = TokenList();
  bool version = false;
  for (size_t i = 1; i < tokens.size(); ++i) {
    if (tokens[i] == "--help" || tokens[i] == "-h") return InfoRequest::kHelp;
    if (tokens[i] == "--version") version = true;
  }
  return version ? InfoRequest::kVersion : InfoRequest::kNone;
}

void PrintHelp() {
  for (const char* line : kHelp) PrintLine(line);
}

void PrintVersion() { PrintLine(std::string("postrunner ") + kVersion); }

}  // namespace postrunner

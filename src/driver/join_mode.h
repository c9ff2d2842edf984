// The receiving side's options: "/Join:" (a local mailbox, or an IMAP URL),
// "/JoinTo:" and "/JoinDelete". For an IMAP mailbox the login comes from
// the mail options: the user from the URL or "/MailUser:", the password or
// token as ReadMailSecret finds it, "/MailAuth:" (plain, login, xoauth2 or
// oauthbearer), "/CAFile:" and "/Timeout:".
#ifndef POSTRUNNER_DRIVER_JOIN_MODE_H_
#define POSTRUNNER_DRIVER_JOIN_MODE_H_

namespace postrunner {

// Runs the join the options ask for (SplitCommandLine must have run).
// Returns the exit code: those of join/join.h, or 1 for an IMAP URL or
// login options that cannot be used.
[[nodiscard]] int RunJoinMode();

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_JOIN_MODE_H_

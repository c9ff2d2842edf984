#include "join/join.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "join/mailbox_files.h"
#include "join/mailbox_index.h"
#include "join/set_join.h"
#include "platform/console.h"
#include "platform/entry_guard.h"
#include "platform/file_io.h"

namespace postrunner {
namespace {

// How long a join waits for a mail delivery to release the mbox: as long as
// a mail conversation waits for its server.
constexpr int kLockWaitMs = 120 * 1000;
// Sets that wait in milliseconds instead, so that tests of a lock that is
// never released end soon.
constexpr const char* kLockWaitVariable = "POSTRUNNER_LOCK_WAIT_MS";
constexpr long kMaxLockWaitMs = 3600L * 1000;

[[nodiscard]] int LockWaitMs() {
  const char* value = std::getenv(kLockWaitVariable);
  if (value == nullptr || *value == '\0') return kLockWaitMs;
  char* end = nullptr;
  const long ms = std::strtol(value, &end, 10);
  if (*end != '\0' || ms < 0 || ms > kMaxLockWaitMs) return kLockWaitMs;
  return static_cast<int>(ms);
}

// Joins the sets and the messages sent whole in the order they were found:
// a batch of messages sent whole at a time, the sets found before each
// message first. Later batches come from scans that begin where the last
// batch ended.
void JoinAll(MailboxFiles* files, const std::string& folder, bool pieces_only,
             MailboxIndex* index, JoinOutcome* outcome) {
  std::vector<PieceSet>& sets = index->sets().sets();
  size_t next = 0;
  for (;;) {
    for (const WholeMessage& message : index->batch()) {
      for (; next < sets.size() && sets[next].found_at < message.at; ++next) {
        HandleSet(sets[next], folder, files, outcome);
      }
      if (pieces_only) continue;
      PieceSet whole;
      whole.id = message.label;
      whole.total = 1;
      whole.whole = true;
      whole.first_subject = message.subject;
      whole.pieces[1].push_back(message.ref);
      HandleSet(whole, folder, files, outcome);
    }
    if (!index->overflow()) break;
    const MailboxPosition from = index->resume();
    index->NextBatch();
    std::string reason;
    if (!index->Scan(files, from, &reason)) {
      PrintReason(reason);
      outcome->ok = false;
      break;
    }
  }
  for (; next < sets.size(); ++next) HandleSet(sets[next], folder, files, outcome);
}

// Joins the sets in `files` into `folder`; `label` names the mailbox. With
// `pieces_only`, messages sent whole are passed over.
int JoinFiles(MailboxFiles* files, const std::string& label, const std::string& folder,
              bool pieces_only, const SetWritten& written) {
  MailboxIndex index;
  std::string reason;
  if (!index.Scan(files, MailboxPosition{}, &reason)) {
    PrintReason(reason);
    return kJoinUnreadable;
  }
  for (const std::string& note : index.Notes()) PrintReason(note);
  JoinOutcome outcome;
  outcome.ok = index.refused() == 0;
  outcome.written = written;
  JoinAll(files, folder.empty() ? std::string(".") : folder, pieces_only, &index, &outcome);
  if (outcome.lines == 0 && index.refused() == 0) {
    PrintLine("No message/partial pieces found in " + label);
  }
  return outcome.ok ? kJoinOk : kJoinFailed;
}

// Removes the piece files of a set that was written; pieces in an mbox
// stay. Returns false when a piece lay in an mbox.
bool RemovePieceFiles(const PieceSet& set, const MailboxFiles& files) {
  bool all = true;
  for (const auto& [number, copies] : set.pieces) {
    for (const PieceRef& ref : copies) {
      if (ref.mbox) {
        all = false;
        continue;
      }
      if (::unlink(files.path(ref.file).c_str()) != 0 && errno != ENOENT) {
        PrintReason("cannot remove piece " + files.path(ref.file) + ": " + ErrnoText(errno));
      }
    }
  }
  return all;
}

// RunJoin's work, which may run out of memory.
int JoinMailbox(const std::string& path, const std::string& folder, bool delete_pieces) {
  std::vector<std::string> paths;
  std::string reason;
  if (!ListMailboxFiles(path, &paths, &reason)) {
    PrintReason(reason);
    return kJoinUnreadable;
  }
  // A mailbox that is one file may be an mbox that a delivery appends to.
  const bool one_file = paths.size() == 1 && paths[0] == path;
  MailboxFiles files(std::move(paths));
  if (one_file && !files.LockOnlyFile(LockWaitMs(), &reason)) {
    PrintReason(reason);
    return kJoinUnreadable;
  }
  bool mbox_kept = false;
  SetWritten written;
  if (delete_pieces) {
    written = [&](const PieceSet& set) {
      if (one_file || !RemovePieceFiles(set, files)) mbox_kept = true;
    };
  }
  const int code = JoinFiles(&files, path, folder, false, written);
  if (mbox_kept) {
    PrintReason("/JoinDelete removes pieces from a Maildir or a folder of messages only; "
                "the pieces in " + path + " stay");
  }
  return code;
}

}  // namespace

int RunJoin(const std::string& path, const std::string& folder, bool delete_pieces) {
  // A set being rebuilt when the work stops is removed as it unwinds.
  return GuardEntry(
      "join the pieces", [&] { return JoinMailbox(path, folder, delete_pieces); },
      [] { return kJoinFailed; });
}

int JoinMessageFiles(std::vector<std::string> paths, const std::string& label,
                     const std::string& folder, const SetWritten& written) {
  return GuardEntry(
      "join the pieces",
      [&] {
        MailboxFiles files(std::move(paths));
        return JoinFiles(&files, label, folder, true, written);
      },
      [] { return kJoinFailed; });
}

}  // namespace postrunner

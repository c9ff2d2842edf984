#include "join/join.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "join/mailbox_files.h"
#include "join/mailbox_index.h"
#include "join/set_join.h"
#include "platform/console.h"
#include "platform/entry_guard.h"

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
void JoinAll(MailboxFiles* files, const std::string& folder, MailboxIndex* index,
             JoinOutcome* outcome) {
  std::vector<PieceSet>& sets = index->sets().sets();
  size_t next = 0;
  for (;;) {
    for (const WholeMessage& message : index->batch()) {
      for (; next < sets.size() && sets[next].found_at < message.at; ++next) {
        HandleSet(sets[next], folder, files, outcome);
      }
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

// RunJoin's work, which may run out of memory.
int JoinMailbox(const std::string& path, const std::string& folder) {
  std::vector<std::string> paths;
  std::string reason;
  if (!ListMailboxFiles(path, &paths, &reason)) {
    PrintReason(reason);
    return kJoinUnreadable;
  }
  // A mailbox that is one file may be an mbox that a delivery appends to.
  const bool one_file = paths.size() == 1 && paths[0] == path;
  MailboxFiles files(std::move(paths));
  MailboxIndex index;
  if ((one_file && !files.LockOnlyFile(LockWaitMs(), &reason)) ||
      !index.Scan(&files, MailboxPosition{}, &reason)) {
    PrintReason(reason);
    return kJoinUnreadable;
  }
  for (const std::string& note : index.Notes()) PrintReason(note);
  JoinOutcome outcome;
  outcome.ok = index.refused() == 0;
  JoinAll(&files, folder.empty() ? std::string(".") : folder, &index, &outcome);
  if (outcome.lines == 0 && index.refused() == 0) {
    PrintLine("No message/partial pieces found in " + path);
  }
  return outcome.ok ? kJoinOk : kJoinFailed;
}

}  // namespace

int RunJoin(const std::string& path, const std::string& folder) {
  // A set being rebuilt when the work stops is removed as it unwinds.
  return GuardEntry(
      "join the pieces", [&] { return JoinMailbox(path, folder); }, [] { return kJoinFailed; });
}

}  // namespace postrunner

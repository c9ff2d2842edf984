#include "join/imap_join.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "join/imap_reply.h"
#include "join/join.h"
#include "platform/console.h"
#include "platform/entry_guard.h"
#include "platform/file_io.h"
#include "platform/scoped_fd.h"
#include "platform/signal_cleanup.h"
#include "platform/temp_file.h"

namespace postrunner {
namespace {

constexpr const char* kPieceSearch = "UID SEARCH HEADER Content-Type message/partial";
constexpr const char* kUnreadPieceSearch = "UID SEARCH UNSEEN HEADER Content-Type message/partial";
// UIDs per STORE or EXPUNGE command, which keeps its line short.
constexpr size_t kUidsPerCommand = 500;

// The private folder the pieces are fetched into, removed when it goes or
// when a signal stops the run.
class Spool {
 public:
  Spool() {
    SignalHold hold;
    if (!CreatePrivateFolder(&path_)) return;
    guard_ = std::make_unique<RemoveOnSignal>(path_);
  }
  ~Spool() {
    if (path_.empty()) return;
    if (!RemoveFlatFolder(path_)) {
      PrintReason("cannot remove the spool folder " + path_ + ": " + ErrnoText(errno));
    }
  }
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  [[nodiscard]] bool ready() const { return guard_ != nullptr && guard_->Registered(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::unique_ptr<RemoveOnSignal> guard_;
};

// The pieces found in the mailbox, in UID order, and which were unread.
struct Found {
  std::vector<uint32_t> uids;
  std::vector<uint32_t> unread;
};

[[nodiscard]] bool Search(ImapSession* session, Found* found, std::string* reason) {
  std::string all, unread;
  if (!session->Command(kPieceSearch, &all, reason) ||
      !session->Command(kUnreadPieceSearch, &unread, reason)) {
    return false;
  }
  if (!ParseSearchUids(all, &found->uids) || !ParseSearchUids(unread, &found->unread)) {
    *reason = "the IMAP server's SEARCH reply cannot be read";
    return false;
  }
  std::sort(found->uids.begin(), found->uids.end());
  found->uids.erase(std::unique(found->uids.begin(), found->uids.end()), found->uids.end());
  std::sort(found->unread.begin(), found->unread.end());
  return true;
}

// Fetches piece `uid` into `path`. A piece not fetched whole leaves no
// file.
[[nodiscard]] bool FetchPiece(ImapSession* session, uint32_t uid, const std::string& path,
                              std::string* reason) {
  bool ok;
  {
    ScopedFd fd(OpenRetry(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid()) {
      *reason = "cannot create " + path + ": " + ErrnoText(errno);
      return false;
    }
    ok = session->Fetch(uid, fd.get(), reason);
    if (ok && !fd.Reset()) {
      *reason = "cannot write " + path + ": " + ErrnoText(errno);
      ok = false;
    }
  }
  if (!ok) (void)::unlink(path.c_str());  // the spool goes as a whole anyway
  return ok;
}

// Runs "UID STORE <uids> FLAGS" for `uids`, a bounded number at a time.
[[nodiscard]] bool StoreFlags(ImapSession* session, const std::vector<uint32_t>& uids,
                              const std::string& flags, std::string* reason) {
  for (size_t at = 0; at < uids.size(); at += kUidsPerCommand) {
    const size_t end = std::min(uids.size(), at + kUidsPerCommand);
    const std::vector<uint32_t> part(uids.begin() + static_cast<ptrdiff_t>(at),
                                     uids.begin() + static_cast<ptrdiff_t>(end));
    std::string reply;
    if (!session->Command("UID STORE " + UidList(part) + " " + flags, &reply, reason)) {
      return false;
    }
  }
  return true;
}

// Removes the pieces `uids` of a set that was written.
[[nodiscard]] bool DeletePieces(ImapSession* session, const std::vector<uint32_t>& uids,
                                bool expunge, std::string* reason) {
  if (!StoreFlags(session, uids, "+FLAGS.SILENT (\\Deleted)", reason)) return false;
  for (size_t at = 0; expunge && at < uids.size(); at += kUidsPerCommand) {
    const size_t end = std::min(uids.size(), at + kUidsPerCommand);
    const std::vector<uint32_t> part(uids.begin() + static_cast<ptrdiff_t>(at),
                                     uids.begin() + static_cast<ptrdiff_t>(end));
    std::string reply;
    if (!session->Command("UID EXPUNGE " + UidList(part), &reply, reason)) return false;
  }
  return true;
}

// Whether the server offers UIDPLUS, for UID EXPUNGE.
[[nodiscard]] bool OffersUidPlus(ImapSession* session, std::string* reason, bool* offered) {
  std::string reply;
  if (!session->Command("CAPABILITY", &reply, reason)) return false;
  *offered = HasCapability(reply, "UIDPLUS");
  return true;
}

// Joins the pieces fetched into `paths`, then removes the written ones
// from the server when asked.
int JoinFetched(ImapSession* session, const ImapUrl& url, const std::vector<uint32_t>& uids,
                std::vector<std::string> paths, const std::string& folder, bool delete_pieces) {
  bool uidplus = false;
  bool deleted_ok = true;
  std::string reason;
  if (delete_pieces && !OffersUidPlus(session, &reason, &uidplus)) {
    PrintReason(reason);
    delete_pieces = false;
    deleted_ok = false;
  }
  bool marked = false;
  SetWritten written;
  if (delete_pieces) {
    written = [&](const PieceSet& set) {
      std::vector<uint32_t> set_uids;
      for (const auto& [number, copies] : set.pieces) {
        for (const PieceRef& ref : copies) set_uids.push_back(uids[ref.file]);
      }
      std::string why;
      if (DeletePieces(session, set_uids, uidplus, &why)) {
        marked = true;
      } else {
        PrintReason(why);
        deleted_ok = false;
      }
    };
  }
  const int code = JoinMessageFiles(std::move(paths), url.given, folder, written);
  if (marked && !uidplus) {
    PrintReason("the IMAP server offers no UIDPLUS: the joined pieces are marked \\Deleted "
                "but not expunged");
  }
  return deleted_ok ? code : kJoinFailed;
}

// RunImapJoin's work, which may run out of memory.
int ImapJoin(const ImapUrl& url, const ImapLogin& login, const std::string& folder,
             bool delete_pieces, ImapLoginRefusal* refusal) {
  if (!CurlLibraryReady()) {
    PrintReason(std::string("libcurl (") + kCurlLibraryName + ") cannot be loaded for IMAP");
    return kJoinFailed;
  }
  Spool spool;
  if (!spool.ready()) {
    PrintReason("cannot create a private spool folder under $TMPDIR: " + ErrnoText(errno));
    return kJoinFailed;
  }
  ImapSession session(url, login);
  Found found;
  std::string reason;
  if (!Search(&session, &found, &reason)) {
    if (refusal != nullptr && session.login_refused()) {
      *refusal = ImapLoginRefusal{true, reason};
    } else {
      PrintReason(reason);
    }
    return kJoinFailed;
  }
  std::vector<std::string> paths;
  std::vector<uint32_t> fetched;
  std::vector<uint32_t> read_now;  // unread pieces the fetch marked read
  bool all_fetched = true;
  for (uint32_t uid : found.uids) {
    const std::string path = spool.path() + "/" + std::to_string(uid) + ".eml";
    if (std::binary_search(found.unread.begin(), found.unread.end(), uid)) {
      read_now.push_back(uid);
    }
    if (!FetchPiece(&session, uid, path, &reason)) {
      PrintReason(reason);
      all_fetched = false;
      break;  // the connection is likely gone: what came whole is joined
    }
    paths.push_back(path);
    fetched.push_back(uid);
  }
  // One command for all (a flag change may cost the server a file rename).
  if (!read_now.empty() && !StoreFlags(&session, read_now, "-FLAGS.SILENT (\\Seen)", &reason)) {
    PrintReason("cannot mark the fetched pieces unread again: " + reason);
    all_fetched = false;
  }
  const int code = JoinFetched(&session, url, fetched, std::move(paths), folder,
                               delete_pieces && all_fetched);
  return all_fetched ? code : kJoinFailed;
}

}  // namespace

int RunImapJoin(const ImapUrl& url, const ImapLogin& login, const std::string& folder,
                bool delete_pieces, ImapLoginRefusal* refusal) {
  // The spool folder and a set being rebuilt are removed as the work unwinds.
  return GuardEntry(
      "join the pieces", [&] { return ImapJoin(url, login, folder, delete_pieces, refusal); },
      [] { return kJoinFailed; });
}

}  // namespace postrunner

#include "join/mailbox_index.h"

#include <cerrno>

#include "platform/file_io.h"

namespace postrunner {
namespace {

constexpr size_t kMaxLabel = 1024;
constexpr size_t kMaxSubject = 1024;

// "N thing" or "N things".
std::string Count(int n, const std::string& thing) {
  return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

}  // namespace

bool MailboxIndex::Scan(MailboxFiles* files, MailboxPosition from, std::string* reason) {
  for (uint32_t i = from.file; i < files->count(); ++i) {
    const int fd = files->Get(i, reason);
    if (fd < 0) return false;
    bool stopped = false;
    if (!ScanMailboxFile(fd, i, i == from.file ? from.offset : 0, this, &stopped)) {
      *reason = "cannot read " + files->path(i) + ": " + ErrnoText(errno);
      return false;
    }
    if (stopped) return true;
  }
  return true;
}

void MailboxIndex::Piece(const MimeValue& type, const HeaderBlock& header, const PieceRef& ref,
                         MailboxPosition at) {
  if (!pieces_) return;
  switch (sets_.Add(type.Param("id"), type.Param("number"), type.Param("total"),
                    header.Get("subject"), ref, at)) {
    case PieceFiled::kKept:
      break;
    case PieceFiled::kNoId:
      ++no_ids_;
      break;
    case PieceFiled::kLongId:
      ++long_ids_;
      break;
    case PieceFiled::kIndexFull:
      ++over_budget_;
      break;
  }
}

bool MailboxIndex::Whole(const HeaderBlock& header, const PieceRef& ref, MailboxPosition at) {
  if (overflow_) return pieces_;
  if (batch_.size() >= batch_limit_) {
    overflow_ = true;
    resume_ = at;
    return pieces_;
  }
  WholeMessage& message = batch_.emplace_back();
  message.label = header.Get("message-id").substr(0, kMaxLabel);
  if (message.label.empty()) message.label = "message at byte " + std::to_string(ref.body_begin);
  message.subject = header.Get("subject").substr(0, kMaxSubject);
  message.ref = ref;
  message.at = at;
  return true;
}

void MailboxIndex::NextBatch() {
  batch_.clear();
  pieces_ = false;
  overflow_ = false;
}

std::vector<std::string> MailboxIndex::Notes() const {
  std::vector<std::string> notes;
  if (no_ids_ > 0) {
    notes.push_back(Count(no_ids_, "message/partial piece") + " without id= passed over");
  }
  if (long_ids_ > 0) {
    notes.push_back(Count(long_ids_, "message/partial piece") + " with an id longer than " +
                    std::to_string(kMaxIdLength) + " bytes ignored");
  }
  if (over_budget_ > 0) {
    notes.push_back("the mailbox holds more pieces than one run keeps (" +
                    std::to_string(kMaxPieces) + "); " + Count(over_budget_, "piece") +
                    " ignored");
  }
  return notes;
}

}  // namespace postrunner

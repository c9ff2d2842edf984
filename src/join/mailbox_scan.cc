#include "join/mailbox_scan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <utility>

#include "join/line_reader.h"
#include "join/mime_header.h"
#include "platform/ascii.h"
#include "platform/directory_search.h"
#include "platform/file_info.h"
#include "platform/file_io.h"
#include "platform/scoped_fd.h"

namespace postrunner {
namespace {

constexpr int kMaxDepth = 64;

[[nodiscard]] bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Joined(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

[[nodiscard]] bool CannotRead(const std::string& path, int error, std::string* reason) {
  *reason = "cannot read " + path + ": " + ErrnoText(error);
  return false;
}

// Lists the folder `folder`. Returns false, with `*reason`, when it cannot.
[[nodiscard]]
bool ListByPath(const std::string& folder, std::vector<DirEntry>* entries, std::string* reason) {
  ScopedFd fd(OpenFolder(folder));
  if (fd.valid() && ListFolderAt(fd.get(), entries)) return true;
  return CannotRead(folder, errno, reason);
}

// The regular files directly in `folder` whose names do not begin with '.'.
[[nodiscard]]
bool ListMaildirFolder(const std::string& folder, std::vector<std::string>* files,
                       std::string* reason) {
  std::vector<DirEntry> entries;
  if (!ListByPath(folder, &entries, reason)) return false;
  for (const DirEntry& e : entries) {
    if ((e.attributes & kAttrArchive) && e.name[0] != '.') files->push_back(Joined(folder, e.name));
  }
  return true;
}

// Every regular *.eml file under `folder`, each folder visited once.
[[nodiscard]]
bool ListEmlTree(const std::string& folder, int depth, std::set<std::pair<dev_t, ino_t>>* seen,
                 std::vector<std::string>* files, std::string* reason) {
  std::vector<DirEntry> entries;
  if (!ListByPath(folder, &entries, reason)) return false;
  for (const DirEntry& e : entries) {
    if (e.name == "." || e.name == "..") continue;
    const std::string path = Joined(folder, e.name);
    if (e.attributes & kAttrFolder) {
      if (depth >= kMaxDepth || !seen->emplace(e.device, e.inode).second) continue;
      if (!ListEmlTree(path, depth + 1, seen, files, reason)) return false;
    } else if ((e.attributes & kAttrArchive) && e.name.size() > 4 &&
               EqualNoCase(std::string_view(e.name).substr(e.name.size() - 4), ".eml")) {
      files->push_back(path);
    }
  }
  return true;
}

// True when a message sent whole may carry a file: a multipart, or a part
// that is an attachment or has a name.
[[nodiscard]] bool MayHoldAttachments(const MimeValue& type, const HeaderBlock& header) {
  if (type.value.rfind("multipart/", 0) == 0 || !type.Param("name").empty()) return true;
  MimeValue disposition = ParseMimeValue(header.Get("content-disposition"));
  return disposition.value == "attachment" || !disposition.Param("filename").empty();
}

// One message while a file is scanned.
struct Message {
  HeaderBlock header;
  bool in_header = true;
  bool usable = true;  // false once the header passed its bound
  uint64_t begin = 0;         // its "From " line in an mbox
  uint64_t header_begin = 0;
  uint64_t body_begin = 0;
};

class FileScanner {
 public:
  FileScanner(uint32_t index, bool mbox, ScanTarget* target)
      : index_(index), mbox_(mbox), target_(target) {}

  // Runs over the lines of `reader`, which begins where a message does.
  // Returns false on a read error; sets `*stopped` when the target stopped it.
  [[nodiscard]] bool Run(LineReader* reader, bool* stopped) {
    Line line;
    int got;
    bool line_start = true;
    bool open = !mbox_;  // an mbox message opens at its "From " line
    message_.begin = message_.header_begin = reader->position();
    uint64_t blank_at = 0;
    bool last_blank = false;
    while ((got = reader->Next(&line)) > 0) {
      const bool starts = line_start;
      line_start = !line.ending.empty();
      if (mbox_ && starts && line.text.substr(0, 5) == "From ") {
        if (open && !Finish(last_blank ? blank_at : line.offset)) {
          *stopped = true;
          return true;
        }
        message_ = Message();
        message_.begin = line.offset;
        message_.header_begin = reader->position();
        open = true;
        last_blank = false;
        continue;
      }
      last_blank = starts && line.text.empty() && line_start;
      if (last_blank) blank_at = line.offset;
      if (open && message_.in_header && starts) HeaderLine(line);
    }
    if (got < 0) return false;
    *stopped = open && !Finish(mbox_ && last_blank ? blank_at : reader->position());
    return true;
  }

 private:
  // A line that begins in the header of the message at hand.
  void HeaderLine(const Line& line) {
    if (line.text.empty() && !line.ending.empty()) {
      message_.in_header = false;
      message_.body_begin = line.offset + line.ending.size();
    } else if (message_.usable && !message_.header.AddLine(line.text)) {
      message_.usable = false;
    }
  }

  // The message that began earlier ends at `end`. Returns false when the
  // target wants the scan to stop before it.
  [[nodiscard]] bool Finish(uint64_t end) {
    if (!message_.usable || message_.in_header) return true;
    const HeaderBlock& header = message_.header;
    const MailboxPosition at{index_, message_.begin};
    MimeValue type = ParseMimeValue(header.Get("content-type"));
    if (type.value == "message/partial") {
      target_->Piece(type, header,
                     PieceRef{index_, message_.body_begin, std::max(end, message_.body_begin),
                              mbox_},
                     at);
      return true;
    }
    if (!MayHoldAttachments(type, header)) return true;
    return target_->Whole(
        header, PieceRef{index_, message_.header_begin, std::max(end, message_.body_begin), mbox_},
        at);
  }

  uint32_t index_;
  bool mbox_;
  ScanTarget* target_;
  Message message_;
};

}  // namespace

bool ListMailboxFiles(const std::string& path, std::vector<std::string>* files,
                      std::string* reason) {
  files->clear();
  struct stat st;
  if (path.empty()) {
    *reason = "no mailbox given after /Join:";
    return false;
  }
  if (::stat(path.c_str(), &st) != 0) return CannotRead(path, errno, reason);
  if (S_ISREG(st.st_mode)) {
    files->push_back(path);
    return true;
  }
  if (!S_ISDIR(st.st_mode)) {
    *reason = "cannot read " + path + ": not a file or folder";
    return false;
  }
  if (IsFolder(Joined(path, "cur")) && IsFolder(Joined(path, "new"))) {
    return ListMaildirFolder(Joined(path, "cur"), files, reason) &&
           ListMaildirFolder(Joined(path, "new"), files, reason);
  }
  std::set<std::pair<dev_t, ino_t>> seen{{st.st_dev, st.st_ino}};
  return ListEmlTree(path, 0, &seen, files, reason);
}

bool ScanMailboxFile(int fd, uint32_t index, uint64_t from, ScanTarget* target, bool* stopped) {
  *stopped = false;
  FileInfo info;
  if (!FileInfoOf(fd, &info)) return false;
  char head[5] = {};
  ssize_t n = ::pread(fd, head, sizeof head, 0);
  if (n < 0) return false;
  const bool mbox = n == 5 && std::string_view(head, 5) == "From ";
  LineReader reader(fd, std::min(from, info.size), info.size);
  FileScanner scanner(index, mbox, target);
  return scanner.Run(&reader, stopped);
}

}  // namespace postrunner

#include "join/set_join.h"

#include <cstdint>
#include <string_view>
#include <vector>

#include "join/enclosed_message.h"
#include "join/encoded_text.h"
#include "join/line_reader.h"
#include "join/safe_name.h"
#include "platform/console.h"
#include "platform/file_io.h"

namespace postrunner {
namespace {

constexpr size_t kMaxIdShown = 200;

// An id as it may be printed: control bytes become '?', long ids are cut.
std::string Printable(std::string_view id) {
  std::string out(id.substr(0, kMaxIdShown));
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) c = '?';
  }
  if (id.size() > kMaxIdShown) out += "...";
  return out;
}

// Calls `on_line(text, ending)` for each stored line of a piece's body, with
// mboxrd quoting (">From ", ">>From ") undone. Returns false with `*reason`.
template <typename OnLine>
[[nodiscard]]
bool ReadPiece(const PieceRef& ref, MailboxFiles* files, std::string* reason, OnLine on_line) {
  int fd = files->Get(ref.file, reason);
  if (fd < 0) return false;
  LineReader reader(fd, ref.body_begin, ref.end);
  Line line;
  int got;
  bool starts = true;
  while ((got = reader.Next(&line)) > 0) {
    std::string_view text = line.text;
    if (ref.mbox && starts && !text.empty() && text[0] == '>') {
      size_t quotes = text.find_first_not_of('>');
      if (quotes != std::string_view::npos && text.substr(quotes, 5) == "From ") {
        text.remove_prefix(1);
      }
    }
    starts = !line.ending.empty();
    on_line(text, line.ending);
  }
  if (got < 0) *reason = "cannot read " + files->path(ref.file) + ": " + ErrnoText(errno);
  return got == 0;
}

// A hash of a piece's body that ignores how its lines end.
[[nodiscard]]
bool BodyHash(const PieceRef& ref, MailboxFiles* files, uint64_t* hash, std::string* reason) {
  uint64_t h = 14695981039346656037u;
  auto mix = [&h](std::string_view bytes) {
    for (char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211u;
  };
  bool ok = ReadPiece(ref, files, reason, [&](std::string_view text, std::string_view ending) {
    mix(text);
    if (!ending.empty()) mix("\n");
  });
  *hash = h;
  return ok;
}

// The first piece number whose copies differ, 0 when none. -1 on a read error.
[[nodiscard]]
int64_t DifferingCopies(const PieceSet& set, MailboxFiles* files, std::string* reason) {
  for (const auto& [number, copies] : set.pieces) {
    if (copies.size() < 2) continue;
    uint64_t first = 0;
    if (!BodyHash(copies[0], files, &first, reason)) return -1;
    for (size_t i = 1; i < copies.size(); ++i) {
      uint64_t other = 0;
      if (!BodyHash(copies[i], files, &other, reason)) return -1;
      if (other != first) return number;
    }
  }
  return 0;
}

// The name for a file whose enclosed header names none: from the Subject of
// piece 1 ("NAME (part 1 of N)"), else from the id.
std::string FallbackName(const PieceSet& set) {
  std::string name = SafeFileName(NameFromPartSubject(DecodeEncodedWords(set.first_subject)));
  if (name.empty()) name = SafeFileName(set.id);
  if (name.empty()) name = "joined";
  return name;
}

void Print(const std::string& line, JoinOutcome* outcome) {
  PrintLine(line);
  ++outcome->lines;
}

// Rebuilds a complete set and prints a line per file. A message sent whole
// that holds no attachment is passed over without a word.
void JoinSet(const PieceSet& set, const std::string& folder, MailboxFiles* files,
             JoinOutcome* outcome) {
  EnclosedMessage message(folder, FallbackName(set));
  std::string reason;
  for (const auto& [number, copies] : set.pieces) {
    bool ok = ReadPiece(copies[0], files, &reason,
                        [&](std::string_view text, std::string_view ending) {
                          message.Line(text, ending);
                        });
    if (!ok) {
      message.Abort(reason);
      break;
    }
  }
  const std::string pieces = std::to_string(set.total) + (set.total == 1 ? " piece" : " pieces");
  bool all_written = true;
  const std::vector<JoinedFile> files_out = message.Finish();
  for (const JoinedFile& file : files_out) {
    all_written = all_written && file.written;
    if (file.written) {
      Print("Joined " + file.name + " from " + pieces + ", " + std::to_string(file.bytes) +
                " bytes", outcome);
    } else if (!(set.whole && file.no_attachment)) {
      Print("Not joined: " + file.name + " from set " + Printable(set.id) + " (" + pieces + ")",
            outcome);
      PrintReason(file.name + ": " + file.reason);
      outcome->ok = false;
    }
  }
  if (all_written && !files_out.empty() && !set.whole && outcome->written) outcome->written(set);
}

}  // namespace

void HandleSet(const PieceSet& set, const std::string& folder, MailboxFiles* files,
               JoinOutcome* outcome) {
  const std::string id = Printable(set.id);
  if (!set.problem.empty()) {
    Print("Inconsistent set " + id + ": " + set.problem, outcome);
    outcome->ok = false;
    return;
  }
  if (!IsComplete(set)) {
    const std::string missing = MissingPieces(set);
    if (set.total != 0) {
      Print("Incomplete set " + id + ": missing pieces " + missing + " of " +
                std::to_string(set.total), outcome);
    } else {
      Print("Incomplete set " + id + ": missing " +
                (missing.empty() ? std::string("the last piece")
                                 : "pieces " + missing + " and the last piece") +
                " (no piece gives the total)", outcome);
    }
    outcome->ok = false;
    return;
  }
  std::string reason;
  int64_t differing = DifferingCopies(set, files, &reason);
  if (differing != 0) {
    Print("Inconsistent set " + id + ": " +
              (differing > 0 ? "piece " + std::to_string(differing) +
                                   " appears twice with different bodies"
                             : std::string("a piece cannot be read")), outcome);
    if (differing < 0) PrintReason(reason);
    outcome->ok = false;
    return;
  }
  JoinSet(set, folder, files, outcome);
}

}  // namespace postrunner

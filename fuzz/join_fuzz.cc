// The whole "/Join:" path: the input is a mailbox file (an mbox when it
// starts with a "From " line, else a single message), joined by RunJoin
// into an empty output folder. Both live in the process's scratch folder;
// the output folder is emptied before every input.
//
// Holds: the run ends with a join exit code other than "unreadable"; it
// creates nothing outside the output folder and no folder inside it; every
// file it leaves is one that a "Joined NAME from N pieces, B bytes" line
// announces, with exactly B bytes, and every announced file is there (a
// rebuilt file is complete or absent, never a temporary left behind).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "join/join.h"

namespace {

using postrunner::fuzz::FolderEntries;
using postrunner::fuzz::Shown;

struct Places {
  std::string mailbox, out, stdout_file;
  int saved_stdout = -1;
};

const Places& GetPlaces() {
  static const Places places = [] {
    Places p;
    const std::string& scratch = postrunner::fuzz::ScratchFolder();
    p.mailbox = scratch + "/mailbox";
    p.out = scratch + "/out";
    p.stdout_file = scratch + "/stdout";
    FUZZ_CHECK(mkdir(p.out.c_str(), 0700) == 0, "cannot make " + p.out);
    std::fflush(stdout);
    p.saved_stdout = dup(STDOUT_FILENO);
    FUZZ_CHECK(p.saved_stdout >= 0, "cannot keep standard output");
    return p;
  }();
  return places;
}

// Runs the join with standard output going to the stdout file; returns the
// exit code and the lines printed.
int RunJoinCaptured(const Places& p, std::vector<std::string>* lines) {
  std::fflush(stdout);
  const int fd = open(p.stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  FUZZ_CHECK(fd >= 0 && dup2(fd, STDOUT_FILENO) == STDOUT_FILENO, "cannot catch stdout");
  close(fd);
  const int code = postrunner::RunJoin(p.mailbox, p.out);
  std::fflush(stdout);
  dup2(p.saved_stdout, STDOUT_FILENO);
  std::string text;
  FUZZ_CHECK(postrunner::fuzz::ReadFileBytes(p.stdout_file, &text), "cannot read stdout");
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    FUZZ_CHECK(end != std::string::npos, "output ends inside a line: " + Shown(text));
    lines->push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return code;
}

// "Joined NAME from N piece(s), B bytes" -> NAME, B.
bool ParseJoinedLine(const std::string& line, std::string* name, unsigned long long* bytes) {
  if (line.rfind("Joined ", 0) != 0) return false;
  const size_t from = line.rfind(" from ");
  FUZZ_CHECK(from != std::string::npos && from >= 7, "malformed line " + Shown(line));
  *name = line.substr(7, from - 7);
  unsigned long long pieces = 0;
  int used = 0;
  const std::string rest = line.substr(from);
  const bool parsed =
      std::sscanf(rest.c_str(), " from %llu piece%*[s], %llu bytes%n", &pieces, bytes, &used) ==
          2 ||
      std::sscanf(rest.c_str(), " from %llu piece, %llu bytes%n", &pieces, bytes, &used) == 2;
  FUZZ_CHECK(parsed && static_cast<size_t>(used) == rest.size(), "malformed line " + Shown(line));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  const Places& p = GetPlaces();
  fuzz::EmptyFolder(p.out);
  FUZZ_CHECK(fuzz::WriteFileBytes(p.mailbox, fuzz::Input(data, size)), "cannot write mailbox");

  std::vector<std::string> lines;
  const int code = RunJoinCaptured(p, &lines);
  FUZZ_CHECK(code == kJoinOk || code == kJoinFailed,
             "exit code " + std::to_string(code) + " for a readable mailbox");
  FUZZ_CHECK(!lines.empty(), "a join prints at least one line");

  const std::vector<std::string> scratch = FolderEntries(fuzz::ScratchFolder());
  FUZZ_CHECK(scratch == (std::vector<std::string>{"mailbox", "out/", "stdout"}),
             "something was made outside the output folder");
  std::map<std::string, unsigned long long> announced;
  for (const std::string& line : lines) {
    std::string name;
    unsigned long long bytes = 0;
    if (!ParseJoinedLine(line, &name, &bytes)) continue;
    FUZZ_CHECK(announced.emplace(name, bytes).second, "announced twice: " + Shown(name));
  }
  const std::vector<std::string> files = FolderEntries(p.out);
  FUZZ_CHECK(files.size() == announced.size(),
             std::to_string(files.size()) + " files for " + std::to_string(announced.size()) +
                 " joined lines" + (files.empty() ? "" : ", first " + Shown(files[0])));
  for (const std::string& file : files) {
    auto found = announced.find(file);
    FUZZ_CHECK(found != announced.end(), "a file nobody announced: " + Shown(file));
    struct stat st;
    const std::string path = p.out + "/" + file;
    FUZZ_CHECK(lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode), "not a file: " + Shown(file));
    FUZZ_CHECK(static_cast<unsigned long long>(st.st_size) == found->second,
               Shown(file) + " has " + std::to_string(st.st_size) + " bytes, announced " +
                   std::to_string(found->second));
  }
  return 0;
}

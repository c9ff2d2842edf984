// OutputFile: one rebuilt file on its way into the output folder. It is a
// PendingFile (platform/pending_file.h): written under a temporary name of
// its own in that folder and renamed to its real name only once complete;
// the name chosen is the first one free of "NAME", "NAME (1)", "NAME (2)",
// ... so nothing that exists is ever replaced. A file never published is
// deleted, on every path, a signal that stops the run included.
#ifndef POSTRUNNER_JOIN_OUTPUT_FILE_H_
#define POSTRUNNER_JOIN_OUTPUT_FILE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "join/body_decoder.h"
#include "platform/pending_file.h"

namespace postrunner {

class OutputFile : public ByteSink {
 public:
  explicit OutputFile(std::string folder);
  // Deletes the temporary file unless it was published.
  ~OutputFile() override = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file. Returns false, with error(), on failure.
  bool Create();

  // Appends bytes (buffered). Returns false, with error(), once a write failed.
  bool Write(const char* data, size_t size) override;

  // Writes what is buffered, closes the file and gives it the first free
  // name made from `name` (already safe). Sets `*published` to that name.
  // Returns false, with error(), when any step fails (the file is deleted).
  bool Publish(const std::string& name, std::string* published);

  // Deletes the temporary file. Harmless when there is none. False, with
  // why in `*reason`, when it could not be deleted.
  bool Discard(std::string* reason);

  uint64_t bytes() const { return bytes_; }
  const std::string& error() const { return error_; }

 private:
  bool Flush();
  bool Fail(const std::string& what, int error_number);

  std::string folder_;
  PendingFile file_;
  std::unique_ptr<char[]> buffer_;
  size_t held_ = 0;
  uint64_t bytes_ = 0;
  std::string error_;
};

}  // namespace postrunner

#endif  // POSTRUNNER_JOIN_OUTPUT_FILE_H_

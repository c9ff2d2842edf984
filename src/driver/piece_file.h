// The temporary file of one piece of a split file. It is created afresh in
// the current folder (never an existing file, never through a link, readable
// by its owner only), registered for removal should a signal stop the run,
// attached to its message through its own descriptor (never by reopening its
// name, which others may have swapped in a shared folder), and removed when
// the piece is done, sent or not.
#ifndef POSTRUNNER_DRIVER_PIECE_FILE_H_
#define POSTRUNNER_DRIVER_PIECE_FILE_H_

#include <memory>
#include <string>

#include "platform/binary_file.h"
#include "platform/signal_cleanup.h"

namespace postrunner {

class PieceFile {
 public:
  PieceFile() = default;
  // Removes the file.
  ~PieceFile();
  PieceFile(const PieceFile&) = delete;
  PieceFile& operator=(const PieceFile&) = delete;

  // Deletes whatever lies under `name`, then creates the file. A name too
  // long for the folder is shortened at its front, keeping its
  // "_(part_k_of_n)" end; it never reaches the receiver. False, with the
  // reason printed, when the file cannot be created.
  bool Create(const std::string& name);

  // The open file, for writing the piece.
  CBinaryFile& file() { return file_; }

  // A path that reads exactly the file this object created.
  std::string ReadPath() const;

  // The name the file was created under.
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  CBinaryFile file_;
  std::unique_ptr<RemoveOnSignal> on_signal_;
};

// `name` cut at its front to at most `room` bytes, keeping the part from its
// last "_(part_" on (or, when that alone is longer, its last `room` bytes).
std::string ShortenPieceName(const std::string& name, size_t room);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_PIECE_FILE_H_

// Secrets kept in files instead of on the command line (where every local
// user can read them). A secret file holds the secret on its first line; it
// must be a regular file that neither its group nor others may read, the
// rule ssh applies to private keys, so that a file left world-readable by
// mistake is noticed instead of quietly used.
#ifndef POSTRUNNER_PLATFORM_SECRET_FILE_H_
#define POSTRUNNER_PLATFORM_SECRET_FILE_H_

#include <string>

namespace postrunner {

// Reads the first line of `path` into `*secret`, without its line end (LF or
// CR LF); an empty file gives "". Returns false, with `*secret` emptied and
// the reason in `*error`, when the file cannot be opened or read, is not a
// regular file, is readable by group or others, or its first line is longer
// than 64 KiB. The reason names the path and never holds the secret.
bool ReadSecretFile(const std::string& path, std::string* secret, std::string* error);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_SECRET_FILE_H_

// Reading a secret (a password or a bearer token) from a file, as scripts
// keep them: the first line of a file that only its owner may read; and the
// same check of a file that another library reads (an SSH private key). A
// file that grants group or others any permission is refused, the way ssh
// refuses such a private key: the secret may already be known to other users.
#ifndef POSTRUNNER_PLATFORM_SECRET_FILE_H_
#define POSTRUNNER_PLATFORM_SECRET_FILE_H_

#include <string>

namespace postrunner {

// Reads the first line of the regular file `path` (without its line end,
// CR LF or LF) into `*secret`, having made the process non-dumpable first
// (ProtectSecretMemory); the read buffers are wiped. Returns false with
// `*reason` set, naming the path but never the content, when the file cannot
// be opened or read, is not a regular file, has any group or other
// permission bit set, or holds an empty first line or one over 16 KiB.
[[nodiscard]]
bool ReadSecretFile(const std::string& path, std::string* secret, std::string* reason);

// Checks that `path` is a regular file that can be opened and grants group
// and others no permission. Returns false with `*reason` set when it is not,
// naming the file as `what` and `path` ("the SSH key file /k is accessible
// by other users (mode 0640); allow only its owner (chmod 600)").
[[nodiscard]]
bool CheckPrivateFile(const std::string& path, const std::string& what, std::string* reason);

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_SECRET_FILE_H_

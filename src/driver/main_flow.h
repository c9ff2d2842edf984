// The program's whole run: options, modes and their checks, registry
// presets, the archive step and the delivery by mail or FTP.
#ifndef POSTRUNNER_DRIVER_MAIN_FLOW_H_
#define POSTRUNNER_DRIVER_MAIN_FLOW_H_

namespace postrunner {

// Exit codes of a run.
inline constexpr int kExitOk = 0;              // delivered, or create only
inline constexpr int kExitUsage = 1;           // a required option is missing
inline constexpr int kExitArchiveCreate = 2;   // the archive cannot be created
inline constexpr int kExitFolderAdd = 3;       // a file of the folder failed
inline constexpr int kExitFileAdd = 4;         // the file could not be added
inline constexpr int kExitNotDelivered = 5;    // the delivery failed

// Runs the program on its argument vector and returns the exit code.
[[nodiscard]] int RunPostrunner(int argc, const char* const* argv);

}  // namespace postrunner

#endif  // POSTRUNNER_DRIVER_MAIN_FLOW_H_

// The state the process needs before the run opens or writes anything.
//
// A standard descriptor (0, 1 or 2) that the caller left closed would be
// given to the next file the run opens, say the archive, and every line meant
// for standard output would land in that file; /dev/null takes its place.
// SIGPIPE (the reader of standard output went away) and SIGXFSZ (a file
// reached the size limit) would end the run on the spot, leaving a
// half-written file and no reason; ignored, the write fails with EPIPE or
// EFBIG and takes the failure path of any other failed write.
#ifndef POSTRUNNER_PLATFORM_PROCESS_SETUP_H_
#define POSTRUNNER_PLATFORM_PROCESS_SETUP_H_

namespace postrunner {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Must run
// before anything opens a file. Returns false, errno set, when one of them
// stays closed.
[[nodiscard]] bool OpenClosedStandardDescriptors();

// Ignores SIGPIPE and SIGXFSZ for the rest of the run. Returns false when
// either cannot be ignored.
[[nodiscard]] bool IgnoreWriteSignals();

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_PROCESS_SETUP_H_

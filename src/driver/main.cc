// Process entry: the whole run lives in RunPostrunner. An exception that
// escapes it (no memory left outside the steps that have their own
// boundary) ends the run as an undelivered one, with the reason on standard
// error, instead of in std::terminate.
#include "driver/main_flow.h"
#include "platform/entry_guard.h"

int main(int argc, char** argv) {
  return postrunner::GuardEntry(
      "finish the run", [&] { return postrunner::RunPostrunner(argc, argv); },
      [] { return postrunner::kExitNotDelivered; });
}

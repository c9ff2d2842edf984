// Interim stub of the system socket calls.
#include "platform/socket.h"

namespace postrunner {
namespace {
class StubApi : public SocketApi {
 public:
  int Resolve(const std::string&, uint16_t, int,
              std::vector<SocketAddress>*) override { return -1; }
  int Open(int, int, int) override { return -1; }
  int SetReuseAddress(int) override { return -1; }
  int Connect(int, const SocketAddress&, int) override { return -1; }
  int Wait(int, bool, int) override { return -1; }
  ssize_t Send(int, const void*, size_t) override { return -1; }
  ssize_t Receive(int, void*, size_t) override { return -1; }
  int Close(int) override { return 0; }
};
}  // namespace

std::string NumericAddress(const SocketAddress&) { return ""; }
SocketApi& SystemSocketApi() {
  static StubApi api;
  return api;
}
}  // namespace postrunner

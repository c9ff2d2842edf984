// Interim stub: the interface compiles and links; every operation fails.
#include "net/block_sock.h"

namespace postrunner {

CQXBlockSock::CQXBlockSock() : CQXBlockSock(SystemSocketApi()) {}
CQXBlockSock::CQXBlockSock(SocketApi& api)
    : log_file_(kSocketLogName), api_(&api), socket_(&api) {}
CQXBlockSock::~CQXBlockSock() = default;
BOOL CQXBlockSock::CreateSocket(int, int) { return FALSE; }
BOOL CQXBlockSock::ConnectTo(const std::string&, unsigned int, int) {
  return FALSE;
}
std::string CQXBlockSock::ResolveHost(const std::string&) { return ""; }
BOOL CQXBlockSock::Send(const std::string&) { return FALSE; }
BOOL CQXBlockSock::Receive(std::string& text) {
  text.clear();
  return FALSE;
}
BOOL CQXBlockSock::Close() { return TRUE; }
void CQXBlockSock::SetTimeout(int seconds) { timeout_ = seconds; }
int CQXBlockSock::SetErrorCode(int code) { return error_code_ = code; }
std::string CQXBlockSock::GetErrorText() const { return "Ok"; }
void CQXBlockSock::ResetCommCounters() {}
void CQXBlockSock::EnableDebug(int on) { debug_ = on != 0; }
void CQXBlockSock::WriteLog(const char*) {}
int CQXBlockSock::WaitMs() const { return 0; }

}  // namespace postrunner

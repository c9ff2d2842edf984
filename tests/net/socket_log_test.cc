// The debug log "QXSocketLog.txt": off by default, line format, appending,
// and the lines of the operations. Each test runs in a scratch current
// directory, where the log lands.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "net/block_sock.h"
#include "net/fake_socket.h"
#include "net/loopback.h"

namespace postrunner {
namespace {

bool LogExists() { return ::access(kSocketLogName, F_OK) == 0; }

std::string ReadLog() {
  std::ifstream in(kSocketLogName, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// The message column of every line.
std::vector<std::string> Messages() {
  std::vector<std::string> out;
  std::istringstream in(ReadLog());
  std::string line;
  while (std::getline(in, line)) {
    size_t arrow = line.find(" -> ");
    out.push_back(arrow == std::string::npos ? line : line.substr(arrow + 4));
  }
  return out;
}

std::string Identity(const void* object) {
  char text[32];
  std::snprintf(text, sizeof text, "%08" PRIXPTR,
                reinterpret_cast<uintptr_t>(object));
  return text;
}

class SocketLog : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.ok()); }
  ScratchCurrentDir dir;
};

TEST_F(SocketLog, OffByDefault) {
  LoopbackListener listener;
  ASSERT_TRUE(listener.ok());
  {
    CQXBlockSock sock;
    ASSERT_TRUE(sock.ConnectTo("127.0.0.1", listener.port()));
    EXPECT_TRUE(sock.Send("HELO x\r\n"));
    sock.SetTimeout(0);
    std::string text;
    (void)sock.Receive(text);  // only the lines it logs matter
    sock.EnableDebug(0);
    sock.WriteLog("never written");
  }
  EXPECT_FALSE(LogExists());
}

TEST_F(SocketLog, LineFormat) {
  CQXBlockSock sock;
  sock.EnableDebug(1);
  sock.EnableDebug(1);  // already on: no second line
  sock.WriteLog("free text: 100%d %s");
  const std::string log = ReadLog();
  EXPECT_EQ(std::string::npos, log.find('\r'));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ('\n', log.back());
  const std::regex line(
      "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} ([0-9A-F]{8,}) -> (.*)");
  std::istringstream in(log);
  std::vector<std::string> messages;
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, line)) << text;
    EXPECT_EQ(Identity(&sock), m[1].str());
    messages.push_back(m[2].str());
  }
  EXPECT_EQ((std::vector<std::string>{
                "CQXBlockSock::EnableDebug: Debugging Enabled",
                "free text: 100%d %s"}),
            messages);
}

TEST_F(SocketLog, AppendsAndTellsObjectsApart) {
  {
    std::ofstream old(kSocketLogName, std::ios::binary);
    old << "earlier line\n";
  }
  auto first = std::make_unique<CQXBlockSock>();
  auto second = std::make_unique<CQXBlockSock>();
  first->EnableDebug(1);
  second->EnableDebug(1);
  first->WriteLog("one");
  second->WriteLog("two");
  const std::string log = ReadLog();
  EXPECT_EQ(0u, log.rfind("earlier line\n", 0));
  EXPECT_NE(std::string::npos,
            log.find(Identity(first.get()) + " -> one\n"));
  EXPECT_NE(std::string::npos,
            log.find(Identity(second.get()) + " -> two\n"));
  EXPECT_NE(Identity(first.get()), Identity(second.get()));
  second.reset();
  EXPECT_EQ("CQXBlockSock::Destructor: Completed", Messages().back());
}

TEST_F(SocketLog, UnwritableLogIsIgnored) {
  // A folder of the log's name cannot be opened as a file: lines are lost,
  // the socket goes on.
  ASSERT_EQ(0, ::mkdir(kSocketLogName, 0755));
  CQXBlockSock sock;
  sock.EnableDebug(1);
  sock.WriteLog("lost");
  EXPECT_TRUE(sock.Close());
  EXPECT_EQ(0, sock.GetErrorCode());
  ::rmdir(kSocketLogName);
}

TEST_F(SocketLog, ConversationLines) {
  FakeSocketApi api;
  api.addresses = {FakeSocketApi::Ipv4("192.0.2.1", 25)};
  CQXBlockSock sock(api);
  sock.EnableDebug(1);
  ASSERT_TRUE(sock.ConnectTo("mail.example.com", 25));
  ASSERT_TRUE(sock.ConnectTo("mail.example.com", 25));
  ASSERT_TRUE(sock.Send("HELO"));
  api.incoming = {"250 ok"};
  std::string text;
  ASSERT_TRUE(sock.Receive(text));
  EXPECT_FALSE(sock.Receive(text));  // closed by the peer
  sock.Close();
  EXPECT_FALSE(sock.Send("x"));
  EXPECT_FALSE(sock.Receive(text));
  EXPECT_EQ((std::vector<std::string>{
                "CQXBlockSock::EnableDebug: Debugging Enabled",
                "CQXBlockSock::ConnectTo: Start",
                "CQXBlockSock::CreateSocket: Start",
                "CQXBlockSock::CreateSocket: Completed",
                "CQXBlockSock::ConnectTo: Completed",
                "CQXBlockSock::ConnectTo: Start",
                "CQXBlockSock::CreateSocket: Start",
                "CQXBlockSock::CreateSocket: Closing Old Socket",
                "CQXBlockSock::Close: Start",
                "CQXBlockSock::Close: Completed",
                "CQXBlockSock::CreateSocket: Completed",
                "CQXBlockSock::ConnectTo: Completed",
                "CQXBlockSock::Send: Start",
                "CQXBlockSock::Send: starting loop",
                "CQXBlockSock::Send: Calling socket::send",
                "CQXBlockSock::Send: socket::send returned",
                "CQXBlockSock::Send: Completed",
                "CQXBlockSock::Receive: Start",
                "CQXBlockSock::Receive: Ready to Receive",
                "CQXBlockSock::Receive: Start Receiving",
                "CQXBlockSock::Receive: Ready Receiving",
                "CQXBlockSock::Receive: Block Received",
                "CQXBlockSock::Receive: Start buffering",
                "CQXBlockSock::Receive: Ready buffering",
                "CQXBlockSock::Receive: Returning TRUE",
                "CQXBlockSock::Receive: Start",
                "CQXBlockSock::Receive: Ready to Receive",
                "CQXBlockSock::Receive: Start Receiving",
                "CQXBlockSock::Receive: Ready Receiving",
                "CQXBlockSock::Receive: Returning FALSE (Length = 0)",
                "CQXBlockSock::Close: Start",
                "CQXBlockSock::Close: Completed",
                "CQXBlockSock::Send: Start",
                "CQXBlockSock::Send: Returning FALSE. (No Socket)",
                "CQXBlockSock::Receive: Start",
                "CQXBlockSock::Receive: Returning FALSE. (No Socket)"}),
            Messages());
}

TEST_F(SocketLog, FailureLines) {
  FakeSocketApi api;
  CQXBlockSock sock(api);
  sock.EnableDebug(1);
  api.resolve_error = EAI_NONAME;
  EXPECT_FALSE(sock.ConnectTo("nowhere.example", 25));
  api.resolve_error = 0;
  api.addresses = {FakeSocketApi::Ipv4("192.0.2.1", 25)};
  api.connect_errors = {ECONNREFUSED};
  EXPECT_FALSE(sock.ConnectTo("mail.example.com", 25));
  api.open_errno = EMFILE;
  EXPECT_FALSE(sock.CreateSocket());
  api.open_errno = 0;
  ASSERT_TRUE(sock.ConnectTo("mail.example.com", 25));
  api.wait_results = {0, 0};
  EXPECT_FALSE(sock.Send("x"));
  std::string text;
  EXPECT_FALSE(sock.Receive(text));
  api.receive_errno = ECONNRESET;
  EXPECT_FALSE(sock.Receive(text));

  const std::vector<std::string> all = Messages();
  auto has = [&](const std::string& message) {
    return std::find(all.begin(), all.end(), message) != all.end();
  };
  EXPECT_TRUE(has("CQXBlockSock::ConnectTo: Invalid Address: INADDR_NONE"));
  EXPECT_TRUE(has("CQXBlockSock::ConnectTo: RETURNING FALSE (ERROR 30003)"));
  EXPECT_TRUE(has("CQXBlockSock::ConnectTo: RETURNING FALSE (ERROR 10061)"));
  EXPECT_TRUE(has("CQXBlockSock::CreateSocket: Invalid Socket"));
  EXPECT_TRUE(has("CQXBlockSock::CreateSocket: RETURNING FALSE (ERROR 30002)"));
  EXPECT_TRUE(has("CQXBlockSock::Send: Returning FALSE. (TimeOut)"));
  EXPECT_TRUE(has("CQXBlockSock::Receive: Returning FALSE. (Timeout Error)"));
  EXPECT_TRUE(has("CQXBlockSock::Receive: Returning FALSE (Socket Error)"));
}

}  // namespace
}  // namespace postrunner

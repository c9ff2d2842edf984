#include "oauth/loopback_login.h"

#include <chrono>

#include "oauth/pkce.h"
#include "platform/console.h"
#include "platform/file_io.h"
#include "platform/loopback_listener.h"
#include "platform/scoped_fd.h"
#include "platform/secret_memory.h"

namespace postrunner {
namespace {

constexpr int kRequestMilliseconds = 10000;
constexpr int kStandardInput = 0;

// What a redirect (or a pasted text) said.
struct Redirect {
  bool complete = false;  // a code or an error came
  std::string code;
  std::string error;      // the error or the reason the redirect is refused
  ~Redirect() { WipeSecret(&code); }
};

// Reads the query of a redirect into `*out`. A query without a code nor an
// error (a browser asking for an icon) leaves `out->complete` false.
void ReadQuery(const std::string& query, const std::string& state, Redirect* out) {
  std::string error;
  std::string description;
  std::string got_state;
  if (QueryValue(query, "error", &error)) {
    (void)QueryValue(query, "error_description", &description);
    out->error = "the sign-in was refused: " + error + (description.empty() ? "" : ": " + description);
  } else if (!QueryValue(query, "code", &out->code) || out->code.empty()) {
    return;
  } else if (!QueryValue(query, "state", &got_state) || got_state != state) {
    WipeSecret(&out->code);
    out->error = "the redirect's state does not match this sign-in; it was not this "
                 "sign-in's answer: run postrunner /OAuthLogin again";
  }
  out->complete = true;
}

// Reads a text pasted on standard input: a redirected address (its query is
// read) or a bare code.
void ReadPasted(std::string line, const std::string& state, Redirect* out) {
  const size_t first = line.find_first_not_of(" \t\r");
  const size_t last = line.find_last_not_of(" \t\r");
  if (first == std::string::npos) return;
  line = line.substr(first, last - first + 1);
  const size_t query = line.find('?');
  if (query != std::string::npos) {
    ReadQuery(line.substr(query + 1), state, out);
  } else if (line.find('=') != std::string::npos) {
    ReadQuery(line, state, out);
  } else {
    out->code = line;
    out->complete = true;
  }
  WipeSecret(&line);
}

// Answers the browser's request on `listener`.
void TakeRequest(LoopbackListener* listener, const std::string& state, Redirect* out) {
  std::string head;
  ScopedFd connection(listener->AcceptRequest(kRequestMilliseconds, &head));
  if (!connection.valid()) return;
  // "GET /?code=...&state=... HTTP/1.1"
  const size_t space = head.find(' ');
  const size_t end = head.find(' ', space + 1);
  const std::string target = space == std::string::npos ? "" : head.substr(space + 1, end - space - 1);
  const size_t query = target.find('?');
  if (query != std::string::npos) ReadQuery(target.substr(query + 1), state, out);
  WipeSecret(&head);
  const std::string text =
      !out->complete          ? "Not found.\n"
      : out->error.empty()    ? "Signed in: postrunner has the answer. This window may be closed.\n"
                              : "The sign-in failed: " + out->error + "\n";
  SendAll(connection.get(), std::string(out->complete ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") +
                                "\r\nContent-Type: text/plain; charset=utf-8\r\nConnection: close\r\n"
                                "Content-Length: " + std::to_string(text.size()) + "\r\n\r\n" + text);
}

// Waits for the redirect on the listener or standard input. False with
// `*reason` when none came in time.
bool AwaitRedirect(LoopbackListener* listener, const std::string& state, int wait_seconds,
                   Redirect* out, std::string* reason) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(wait_seconds);
  bool input_open = true;
  std::string pending;
  while (!out->complete) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    std::vector<int> fds{listener->descriptor()};
    if (input_open) fds.push_back(kStandardInput);
    const int ready = left.count() > 0 ? WaitForReadable(fds, static_cast<int>(left.count())) : -1;
    if (ready < 0) {
      *reason = "no sign-in answer came within " + std::to_string(wait_seconds) + " seconds";
      return false;
    }
    if (ready == 0) {
      TakeRequest(listener, state, out);
      continue;
    }
    char buffer[1024];
    const ssize_t n = ReadSome(kStandardInput, buffer, sizeof buffer);
    if (n > 0) pending.append(buffer, static_cast<size_t>(n));
    if (n <= 0) input_open = false;
    for (size_t line_end; !out->complete && (line_end = pending.find('\n')) != std::string::npos;) {
      ReadPasted(pending.substr(0, line_end), state, out);
      pending.erase(0, line_end + 1);
    }
    if (n <= 0 && !out->complete && !pending.empty()) ReadPasted(pending, state, out);
    WipeBytes(buffer, sizeof buffer);
  }
  WipeSecret(&pending);
  return true;
}

// The authorization URL of this sign-in.
std::string AuthorizationUrl(const OAuthClient& client, const std::string& auth_url,
                             const std::string& extra_fields, const std::string& redirect_uri,
                             const std::string& state, const std::string& challenge) {
  FormFields fields{{"response_type", "code"},     {"client_id", client.client_id},
                    {"redirect_uri", redirect_uri}, {"state", state},
                    {"code_challenge", challenge},  {"code_challenge_method", "S256"}};
  if (!client.scope.empty()) fields.emplace_back("scope", client.scope);
  return auth_url + (auth_url.find('?') == std::string::npos ? "?" : "&") + FormEncode(fields) +
         extra_fields;
}

}  // namespace

bool LoopbackLogin(const OAuthClient& client, const std::string& auth_url,
                   const std::string& extra_fields, int wait_seconds, TokenResponse* token,
                   std::string* reason) {
  LoopbackListener listener;
  if (!listener.Open(reason)) return false;
  std::string verifier;
  std::string state;
  if (!MakeCodeVerifier(&verifier) || !RandomToken(16, &state)) {
    *reason = "the system's random number generator is not available";
    return false;
  }
  const std::string redirect_uri = "http://127.0.0.1:" + std::to_string(listener.port()) + "/";
  PrintLine("Open this address in a browser and sign in:");
  PrintLine(AuthorizationUrl(client, auth_url, extra_fields, redirect_uri, state,
                             CodeChallenge(verifier)));
  PrintLine("Waiting for the browser at " + redirect_uri +
            "; if it runs on another machine, paste the address it ends at (or the code) here:");
  Redirect redirect;
  bool ok = AwaitRedirect(&listener, state, wait_seconds, &redirect, reason);
  if (ok && !redirect.error.empty()) {
    *reason = redirect.error;
    ok = false;
  }
  if (ok) {
    FormFields grant{{"grant_type", "authorization_code"}, {"code", redirect.code},
                     {"redirect_uri", redirect_uri}, {"code_verifier", verifier}};
    ok = RequestToken(client, grant, token, reason) == TokenAnswer::kToken;
    for (auto& field : grant) WipeSecret(&field.second);
  }
  WipeSecret(&verifier);
  return ok;
}

}  // namespace postrunner

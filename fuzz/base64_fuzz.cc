// The base64 encoder of attachments and of the SASL responses, round trip:
// the input is the bytes to encode (for SASL, a user name, a NUL byte and
// the password or token). The text is decoded by the join's base64 decoder,
// in 76-character lines as the composer cuts it.
//
// Holds: the text has the announced length and only alphabet characters
// and trailing padding, and decodes back to the bytes; pieces cut at a
// multiple of three bytes encode to pieces of the whole text; appending
// and encoding a file give the same text; each SASL response decodes to the
// message its mechanism defines.
#include <string>

#include "fuzz_support.h"
#include "join/body_decoder.h"
#include "mail/base64.h"
#include "mail/sasl.h"

namespace postrunner {
namespace {

using fuzz::Shown;

class StringSink : public ByteSink {
 public:
  bool Write(const char* data, size_t size) override {
    bytes.append(data, size);
    return true;
  }
  std::string bytes;
};

std::string Decode(const std::string& text) {
  StringSink sink;
  auto decoder = MakeBodyDecoder("base64", &sink);
  for (size_t at = 0; at < text.size(); at += 76) {
    FUZZ_CHECK(decoder->Text(std::string_view(text).substr(at, 76)) && decoder->LineEnd("\r\n"),
               "the decoder refuses " + Shown(text) + ": " + decoder->error());
  }
  FUZZ_CHECK(decoder->Finish(), "the decoder refuses the end of " + Shown(text));
  return sink.bytes;
}

void CheckText(std::string_view bytes, const std::string& text) {
  FUZZ_CHECK(text.size() == EncodedBase64Length(bytes.size()), "length of " + Shown(text));
  const size_t pad = text.find('=');
  FUZZ_CHECK(pad == std::string::npos || (pad >= text.size() - 2 && text.back() == '='),
             "padding inside " + Shown(text));
  for (size_t i = 0; i < text.size() && i < pad; ++i) {
    const char c = text[i];
    FUZZ_CHECK((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   c == '+' || c == '/',
               "a character outside the alphabet in " + Shown(text));
  }
  FUZZ_CHECK(Decode(text) == bytes, "decoding " + Shown(text) + " gives other bytes");
}

void CheckSasl(std::string_view input) {
  const size_t nul = input.find('\0');
  const std::string user(input.substr(0, nul));
  const std::string secret(nul == std::string_view::npos ? "" : input.substr(nul + 1));
  FUZZ_CHECK(Decode(SaslPlainResponse(user, secret)) == std::string(1, '\0') + user + '\0' + secret,
             "PLAIN response");
  FUZZ_CHECK(Decode(SaslLoginResponse(secret)) == secret, "LOGIN response");
  FUZZ_CHECK(Decode(SaslXoauth2Response(user, secret)) ==
                 "user=" + user + "\x01" + "auth=Bearer " + secret + "\x01\x01",
             "XOAUTH2 response");
}

}  // namespace
}  // namespace postrunner

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace postrunner;
  const std::string_view bytes = fuzz::Input(data, size);
  const std::string text = EncodeBase64(bytes, TRUE);
  CheckText(bytes, text);
  FUZZ_CHECK(EncodeBase64(bytes, FALSE) == text && EncodeStringBase64(std::string(bytes), TRUE) ==
                                                       text,
             "the text depends on how it was asked for");
  std::string appended = "head";
  AppendBase64(bytes, &appended);
  FUZZ_CHECK(appended == "head" + text, "AppendBase64 appends the same text");

  const size_t cut = size == 0 ? 0 : data[0] % (size / 3 + 1) * 3;
  FUZZ_CHECK(EncodeBase64(bytes.substr(0, cut), FALSE) + EncodeBase64(bytes.substr(cut), TRUE) ==
                 text,
             "pieces cut at " + std::to_string(cut) + " do not join into the whole text");

  const std::string path = fuzz::ScratchFolder() + "/file";
  FUZZ_CHECK(fuzz::WriteFileBytes(path, bytes), "cannot write " + path);
  std::string from_file;
  FUZZ_CHECK(EncodeFileBase64(path, TRUE, &from_file) && from_file == text,
             "the file's text differs");
  CheckSasl(bytes);
  return 0;
}

// The decoders get a body in whatever pieces the mailbox reader hands out: a
// line may be cut anywhere (long lines, piece ends). Every cut must give the
// same bytes as the uncut text.
#include "join/body_decoder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace postrunner {
namespace {

class StringSink : public ByteSink {
 public:
  bool Write(const char* data, size_t size) override {
    text.append(data, size);
    return true;
  }
  std::string text;
};

struct Result {
  bool ok = true;
  std::string bytes;
  std::string error;
};

// Feeds `lines` ("\n" ends a line) to a decoder, cutting the text of line
// `cut_line` at `cut`.
Result Decode(const char* encoding, const std::vector<std::string>& lines, size_t cut_line,
              size_t cut) {
  StringSink sink;
  auto decoder = MakeBodyDecoder(encoding, &sink);
  Result r;
  for (size_t i = 0; i < lines.size() && r.ok; ++i) {
    const std::string& line = lines[i];
    if (i == cut_line && cut < line.size()) {
      r.ok = decoder->Text(line.substr(0, cut)) && decoder->Text(line.substr(cut));
    } else {
      r.ok = decoder->Text(line);
    }
    if (r.ok && i + 1 < lines.size()) r.ok = decoder->LineEnd("\n");
  }
  if (r.ok) r.ok = decoder->Finish();
  r.bytes = sink.text;
  r.error = decoder->error();
  return r;
}

struct Case {
  const char* name;
  const char* encoding;
  std::vector<std::string> lines;
  bool ok;
  std::string bytes;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class CutTest : public ::testing::TestWithParam<Case> {};

TEST_P(CutTest, EveryCutGivesTheSameResult) {
  const Case& c = GetParam();
  for (size_t line = 0; line < c.lines.size(); ++line) {
    for (size_t cut = 0; cut <= c.lines[line].size(); ++cut) {
      Result r = Decode(c.encoding, c.lines, line, cut);
      ASSERT_EQ(r.ok, c.ok) << "line " << line << " cut " << cut << ": " << r.error;
      if (c.ok) {
        ASSERT_EQ(r.bytes, c.bytes) << "line " << line << " cut " << cut;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Decoders, CutTest,
    ::testing::Values(
        Case{"Base64", "base64", {"YWJj", "ZGVm", "Zw==", "===="}, true, "abcdefg"},
        Case{"Base64Blanks", "base64", {"YW Jj ZA", " ==  "}, true, "abcd"},
        Case{"Base64NoPaddingAtAGroupEnd", "base64", {"YWJj", "ZGVm"}, true, "abcdef"},
        Case{"Base64LastGroupUnpadded", "base64", {"YWJj", "ZA"}, false, ""},
        Case{"Base64BadByte", "base64", {"YWJj", "Z*Vm"}, false, ""},
        Case{"Base64DataAfterEnd", "base64", {"Zw==", "YWJj"}, false, ""},
        Case{"Base64EndsInGroup", "base64", {"YWJjZ"}, false, ""},
        Case{"QuotedPrintable", "quoted-printable",
             {"a=3Db  ", "soft=", "break=20 ", "=C3=A9=", "", "bad=ZZ=4"},
             true, "a=b\nsoftbreak \n\xC3\xA9\nbad=ZZ=4"},
        Case{"SevenBit", "7bit", {"one", "", "two"}, true, "one\n\ntwo"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace postrunner

// The pieces of the OAuth client that must match other implementations bit
// for bit (the hash, PKCE, form encoding) and the reading of hostile
// endpoint answers.
#include <string>

#include <gtest/gtest.h>

#include "oauth/form_encoding.h"
#include "oauth/pkce.h"
#include "oauth/providers.h"
#include "oauth/sha256.h"
#include "oauth/token_response.h"

namespace postrunner {
namespace {

TEST(Sha256Test, KnownDigests) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Two blocks: the length no longer fits beside the padding of the first.
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(PkceTest, ChallengeOfTheReferenceVerifierAndFreshVerifiers) {
  // RFC 7636 appendix B.
  EXPECT_EQ(CodeChallenge("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  EXPECT_EQ(Base64Url("\xfb\xff"), "-_8");
  std::string a;
  std::string b;
  ASSERT_TRUE(MakeCodeVerifier(&a));
  ASSERT_TRUE(MakeCodeVerifier(&b));
  EXPECT_EQ(a.size(), 43u);
  EXPECT_NE(a, b);
}

TEST(FormEncodingTest, RoundTripAndMalformedEscapes) {
  const std::string value = "a b&c=d/é+%";
  const std::string form = FormEncode({{"x y", value}, {"scope", "s1 s2"}});
  EXPECT_EQ(form, "x%20y=a%20b%26c%3Dd%2F%C3%A9%2B%25&scope=s1%20s2");
  std::string got;
  EXPECT_TRUE(QueryValue(form, "x y", &got));
  EXPECT_EQ(got, value);
  EXPECT_TRUE(QueryValue("code=a+b&state=s#frag=1", "state", &got));
  EXPECT_EQ(got, "s");
  EXPECT_FALSE(QueryValue("code=abc", "state", &got));
  EXPECT_FALSE(QueryValue("code=ab%2", "code", &got));
  EXPECT_FALSE(QueryValue("code=ab%zz", "code", &got));
  // The name must match whole: "xcode" is not "code".
  EXPECT_FALSE(QueryValue("xcode=1", "code", &got));
}

TEST(TokenResponseTest, ReadsTokensAndErrorsAndRefusesTheRest) {
  TokenResponse t;
  std::string problem;
  EXPECT_EQ(ParseTokenResponse(R"({"access_token":"A","refresh_token":"R","expires_in":"3599"})",
                               200, &t, &problem),
            TokenAnswer::kToken);
  EXPECT_EQ(t.access_token, "A");
  EXPECT_EQ(t.refresh_token, "R");
  EXPECT_EQ(t.expires_in, 3599);
  EXPECT_EQ(ParseTokenResponse(R"({"access_token":"A","expires_in":59.9})", 200, &t, &problem),
            TokenAnswer::kToken);
  EXPECT_EQ(t.expires_in, 59);
  TokenResponse e;
  EXPECT_EQ(ParseTokenResponse(R"({"error":"invalid_grant","error_description":"a\nb"})", 400,
                               &e, &problem),
            TokenAnswer::kError);
  EXPECT_EQ(e.error_description, "a b");  // one line on standard error
  for (const char* body : {"", "[]", "{", R"({"access_token":""})", R"({"access_token":7})",
                           R"({"access_token":"A","expires_in":-5})",
                           R"({"access_token":"A","expires_in":-0.5})",
                           R"({"access_token":"A","expires_in":"12x"})"}) {
    TokenResponse r;
    EXPECT_EQ(ParseTokenResponse(body, 200, &r, &problem), TokenAnswer::kUnusable) << body;
  }
  // A token in an answer that is no success is not taken.
  TokenResponse r;
  EXPECT_EQ(ParseTokenResponse(R"({"access_token":"A"})", 500, &r, &problem),
            TokenAnswer::kUnusable);
  // Nesting deep enough to exhaust a recursive parser's stack is refused.
  EXPECT_EQ(ParseTokenResponse(std::string(100000, '[') + std::string(100000, ']'), 200, &r,
                               &problem),
            TokenAnswer::kUnusable);
}

TEST(ProvidersTest, ShortcutsAndTenants) {
  ProviderEndpoints p;
  ASSERT_TRUE(LookUpProvider("Microsoft", "", &p));
  EXPECT_EQ(p.token_url, "https://login.microsoftonline.com/organizations/oauth2/v2.0/token");
  EXPECT_EQ(p.scope, "https://outlook.office.com/SMTP.Send offline_access");
  EXPECT_EQ(p.imap_scope, "https://outlook.office.com/IMAP.AccessAsUser.All offline_access");
  EXPECT_FALSE(p.device_url.empty());
  ASSERT_TRUE(LookUpProvider("google", "", &p));
  EXPECT_TRUE(p.device_url.empty());
  EXPECT_EQ(p.scope, "https://mail.google.com/");
  // A tenant is part of the URL path: no way to steer it elsewhere.
  EXPECT_FALSE(LookUpProvider("microsoft", "x/../../evil", &p));
  EXPECT_FALSE(LookUpProvider("microsoft", "a?b", &p));
  EXPECT_FALSE(LookUpProvider("yahoo", "", &p));
}

}  // namespace
}  // namespace postrunner

// social/key_value_pairs_test.cpp - splitting in both forms, the OAuth
// encoding, search, the OAuth order and the two print formats.
#include "social/key_value_pairs.h"

#include <gtest/gtest.h>

#include <string>

#include "core/raise_test_support.h"

namespace bw {
namespace {

template <class Pairs>
std::string pairs(const Pairs& list) {
  std::string out;
  for (const auto& p : list) out += "(" + p.key.str() + "," + p.value.str() + ")";
  return out;
}

TEST(KeyValuePairs, SplittingInBothForms) {
  struct {
    const char *text, *oauth, *facebook;
  } cases[] = {
      {"a=1&b=2", "(a,1)(b,2)", "(a,1)(b,2)"},
      {"a=", "(a,)", "(a,)"},
      {"=v", "(,v)", "(,v)"},
      {"x&b=2", "(x,)(b,2)", "(x,)(b,2)"},  // a part without "=" has an empty value
      {"a=1&x", "(a,1)(x,)", "(a,1)(x,)"},
      {"x", "(x,)", "(x,)"},
      {"a=1&&b=&=", "(a,1)(b,)(,)", "(a,1)(b,)(,)"},
      {"a=b=c", "(a,b%3Dc)", "(a,b=c)"},
      {"a=1&", "(a,1)", "(a,1)"},
      {"", "", ""},
      {"k=a b", "(k,a%20b)", "(k,a b)"},
      {"k=5%&m=1+2", "(k,5%25)(m,1%2B2)", "(k,5%)(m,1+2)"},  // never decoded
      {"t=_.-~\xC3\xA9", "(t,_.-~%C3%A9)", "(t,_.-~\xC3\xA9)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(pairs(splitQueryString(c.text)), c.oauth);
    EXPECT_EQ(pairs(splitQueryString_facebook(c.text)), c.facebook);
  }
}

// A form answer is decoded once, key and value; a "%" that starts no
// escape stays.
TEST(KeyValuePairs, FormAnswersDecodedOnce) {
  struct {
    const char* text;
    const char* key;
    const char* value;
  } cases[] = {
      {"oauth_token=a%2Bb", "oauth_token", "a+b"},
      {"t=a%252Bb", "t", "a%2Bb"},  // once, not twice
      {"t=a+b", "t", "a b"},
      {"t%5Fx=%e2%82%AC", "t_x", "\xe2\x82\xac"},
      {"t=100%", "t", "100%"},
      {"t=%2", "t", "%2"},
      {"t=%zz%", "t", "%zz%"},
      {"t", "t", ""},
  };
  for (const auto& c : cases) {
    KeyValuePairs pairs = splitFormAnswer(c.text);
    ASSERT_EQ(pairs.size(), 1u) << c.text;
    EXPECT_EQ(pairs[0].key.view(), c.key) << c.text;
    EXPECT_EQ(pairs[0].value.view(), c.value) << c.text;
  }
  EXPECT_EQ(splitFormAnswer("a=1&b=%26&c=3").size(), 3u);
  EXPECT_EQ(findKeyValue(splitFormAnswer("a=1&b=%26&c=3"), "b").view(), "&");
}

TEST(KeyValuePairs, SearchIsCaseSensitiveAndFirstMatchWins) {
  KeyValuePairs list = splitQueryString_facebook("Key=1&key=2&key=3&empty=");
  EXPECT_EQ(findKeyValue(list, "key").view(), "2");
  EXPECT_EQ(findKeyValue(list, "Key").view(), "1");
  EXPECT_EQ(findKeyValuePair(list, "key"), &list[1]);
  EXPECT_TRUE(findKeyValue(list, "KEY").isNil());
  EXPECT_FALSE(findKeyValue(list, "empty").isNil());
  EXPECT_TRUE(findKeyValue(KeyValuePairs{}, "key").isNil());
  OauthKeyValuePairs oauth = splitQueryString("oauth_token=a b&oauth_verifier=v");
  EXPECT_EQ(findKeyValue(oauth, "oauth_token").view(), "a%20b");
}

TEST(KeyValuePairs, OauthOrderIsAscendingByBytesAndStable) {
  OauthKeyValuePairs list;
  for (const char* kv : {"b=1", "a=2", "a=1", "ab=0", "B=9", "a%=0"}) {
    OauthKeyValuePairs one = splitQueryString(kv);
    list.push_back(one.at(0));
  }
  sortOauthKeyValuePairs(list);
  // "B" before every lower-case letter; "a%" is stored as "a%25", and "%"
  // sorts before the letters.
  EXPECT_EQ(pairs(list), "(B,9)(a,1)(a,2)(a%25,0)(ab,0)(b,1)");
  EXPECT_EQ(compareOauthKeyValuePairs(list[1], list[2]), 1);
  EXPECT_EQ(compareOauthKeyValuePairs(list[2], list[1]), -1);
  EXPECT_EQ(compareOauthKeyValuePairs(list[1], list[1]), 0);
}

TEST(KeyValuePairs, PrintFormatsByteForByte) {
  OauthKeyValuePairs oauth = splitQueryString("a=1&b=x y");
  KeyValuePairs plain = splitQueryString_facebook("a=1&b=x y");
  testing::internal::CaptureStdout();
  printListOfKeyValuePairs(&oauth, true);
  printListOfKeyValuePairs(&oauth, false);
  printListOfKeyValuePairs_facebook(&plain);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "1. \"a\"=\"1\"\n2. \"b\"=\"x%20y\"\n* \"a\"=\"1\"\n* \"b\"=\"x%20y\"\n* \"a\"=\"1\"\n* \"b\"=\"x y\"\n");
  expectRaise([] { printListOfKeyValuePairs(nullptr, true); }, "NIL", "printListOfKeyValuePairs(); list=NIL");
  expectRaise([] { printListOfKeyValuePairs_facebook(nullptr); }, "NIL", "printListOfKeyValuePairs(); list=NIL");
}

}  // namespace
}  // namespace bw

// core/base64_test.cpp - base64encode: the RFC 4648 vectors, a digest's
// length and padding, high bytes, and no line breaks.
#include "core/base64.h"

#include <gtest/gtest.h>

#include <string>

#include "social/oauth_verifier_test_support.h"

namespace bw {
namespace {

Str encode(const std::string& bytes) { return base64encode(bytes.data(), static_cast<int32_t>(bytes.size())); }

TEST(Base64, RfcVectorsDigestsHighBytesAndLongInput) {
  const char* rfc[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
                          {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& c : rfc) EXPECT_EQ(encode(c[0]), c[1]) << c[0];

  Str digest = encode(std::string(20, '\xAB'));
  EXPECT_EQ(digest.length(), 28);
  EXPECT_EQ(digest.capacity(), 29);
  EXPECT_EQ(digest.view().find('='), 27u);

  std::string high;
  for (int b = 0x80; b <= 0xFF; ++b) high += static_cast<char>(b);
  EXPECT_EQ(encode("\xFF\xFE\x80"), "//6A");
  std::string back;
  ASSERT_TRUE(test::base64Decode(encode(high).str(), &back));
  EXPECT_EQ(back, high);

  Str longText = encode(std::string(10000, '\x5A'));
  EXPECT_EQ(longText.length(), 13336);
  EXPECT_EQ(longText.view().find_first_of("\r\n"), std::string_view::npos);
}

}  // namespace
}  // namespace bw

// social/facebook_address_test.cpp - typed addresses and what they name.
#include "social/facebook_address.h"

#include <gtest/gtest.h>

namespace bw {
namespace {

TEST(FacebookAddress, NamesOfTypedAddresses) {
  struct Case {
    const char* url;
    const char* name;  // NIL: none
    bool isGroup;
  } cases[] = {
      {"https://www.facebook.com/groups/Some-Group", "some-group", true},
      {"https://www.facebook.com/groups/123/", "123", true},
      {"https://www.facebook.com/SomePage?x", "somepage", false},
      {"https://www.facebook.com/Some.Page/posts/1", "some.page", false},
      {"facebook.com/abc", "abc", false},
      {"https://www.facebook.com/settings", nullptr, false},
      {"https://www.facebook.com/profile.php?id=4", nullptr, false},
      {"https://xfacebook.com/a", nullptr, false},  // the host glued to a letter
      {"https://www.facebook.com/", nullptr, false},       // an empty name
      {"https://www.facebook.com/groups/", nullptr, false},
      {"https://www.facebook.com/a#b", nullptr, false},    // would change the request
      {"https://www.facebook.com/a&b=1", nullptr, false},
      {"https://example.com/", nullptr, false},
  };
  for (const Case& c : cases) {
    FacebookAddress a = facebookAddressName(c.url);
    EXPECT_EQ(a.name.isNil(), c.name == nullptr) << c.url;
    if (c.name) {
      EXPECT_EQ(a.name.view(), c.name) << c.url;
      EXPECT_EQ(a.isGroup, c.isGroup) << c.url;
    }
  }
}

}  // namespace
}  // namespace bw

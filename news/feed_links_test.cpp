// news/feed_links_test.cpp - links resolved against the document's address
// and nested xml:base attributes, as the parsers store them.
#include "news/feed_links.h"

#include <gtest/gtest.h>

#include <string>

#include "news/feed_parse_test_support.h"

namespace bw {
namespace {

class FeedLinks : public testing_news::FeedParseTest {};

TEST_F(FeedLinks, ResolveAgainstTheAddressAndNestedBases) {
  const struct {
    const char* feedBase;
    const char* entryBase;
    const char* linkBase;
    const char* href;
    const char* want;
  } cases[] = {
      {nullptr, nullptr, nullptr, "entry1", "http://example.org/blog/entry1"},
      {nullptr, nullptr, nullptr, "../frog/froggy-frog", "http://example.org/frog/froggy-frog"},
      {nullptr, nullptr, nullptr, "/blog/2003/12/13/atom03", "http://example.org/blog/2003/12/13/atom03"},
      {nullptr, nullptr, nullptr, "//cdn.example/x.png", "http://cdn.example/x.png"},
      {nullptr, nullptr, nullptr, "?page=2", "http://example.org/blog/feed.xml?page=2"},
      {nullptr, nullptr, nullptr, "#top", "http://example.org/blog/feed.xml#top"},
      // "://" in a relative link's query does not make it absolute.
      {nullptr, nullptr, nullptr, "/go?u=http://other/x", "http://example.org/go?u=http://other/x"},
      {nullptr, nullptr, nullptr, "go?u=a://b", "http://example.org/blog/go?u=a://b"},
      // Absolute links stay as written, dot segments and all.
      {nullptr, nullptr, nullptr, "http://other/a/../b", "http://other/a/../b"},
      {nullptr, nullptr, nullptr, "mailto:a@example.org", "mailto:a@example.org"},
      {nullptr, nullptr, nullptr, "", ""},
      {nullptr, nullptr, nullptr, " entry2\n", "http://example.org/blog/entry2"},
      {nullptr, nullptr, nullptr, "  http://other/c\n ", "http://other/c"},
      {"http://a.example/x/", nullptr, nullptr, "e", "http://a.example/x/e"},
      {"http://a.example/x/", "y/", nullptr, "e", "http://a.example/x/y/e"},
      {"http://a.example/x/", "y/", "../z/", "e", "http://a.example/x/z/e"},
      {"/root/", "y/", nullptr, "e", "http://example.org/root/y/e"},
      {"http://a.example/x/", "https://b.example/", nullptr, "/e", "https://b.example/e"},
      {"http://a.example/x/", nullptr, nullptr, "http://c.example/", "http://c.example/"},
  };
  auto base = [](const char* b) { return b ? std::string(" xml:base=\"") + b + "\"" : std::string(); };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.href) + " under " + (c.feedBase ? c.feedBase : "-") + ", " +
                 (c.entryBase ? c.entryBase : "-") + ", " + (c.linkBase ? c.linkBase : "-"));
    auto doc = read("<feed" + base(c.feedBase) + "><entry" + base(c.entryBase) + "><link" + base(c.linkBase) +
                    " href=\"" + c.href + "\"/></entry></feed>");
    const webDataNode* link = doc->head()->getFirstChild()->getFirstChild();
    cEncodingUTF utf8;
    utf8.load("UTF-8");
    const Str href = link->getAttribute("href", &utf8, false);
    EXPECT_EQ(resolveFeedLink(href, *link, "http://example.org/blog/feed.xml", utf8).str(), c.want);
  }
  // Without an address to resolve against, a relative link stays as it is.
  auto doc = read("<feed><link href=\"entry1\"/></feed>");
  const webDataNode& link = *doc->head()->getFirstChild();
  cEncodingUTF utf8;
  utf8.load("UTF-8");
  EXPECT_EQ(resolveFeedLink(Str("entry1"), link, "", utf8).str(), "entry1");
  EXPECT_EQ(resolveFeedLink(Str("entry1"), link, nullptr, utf8).str(), "entry1");
  EXPECT_TRUE(resolveFeedLink(Str(), link, "http://example.org/", utf8).isNil());
}

}  // namespace
}  // namespace bw

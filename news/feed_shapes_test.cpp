// news/feed_shapes_test.cpp - the shapes real feeds give their texts, titles
// and links, each parsed and shown as a user sees it: markup written inside
// text elements, HTML the guess must know, XHTML and HTML titles, comments,
// link choice, relative permalinks and prefixed Atom elements; and the "no
// word lost" property over random HTML written three ways.
#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "news/feed_parse_test_support.h"
#include "news/html_text.h"

namespace bw::testing_news {
namespace {

class FeedShapes : public FeedParseTest {
 protected:
  struct Shown {
    std::string feedName, title, link, id, author, text;
  };
  // The feed's name and its only item as the windows show them.
  Shown shown(newsFeed* feed) {
    Shown s;
    if (!feed) return s;
    s.feedName = feed->infoName(&utf8).str();
    const int32_t head = feed->itemList->infoHeadIndex();
    if (head == 0) return s;
    newsItem* it = item(head, feed);
    newsItemBody* body = loadObject_newsItemBody(*db, it->bodyIndex);
    auto display = [&](const Str& text, int32_t format) {
      Str d = feedTextForDisplay(*feed->docFormat, &utf8, text, format, false);
      return d.isNil() ? std::string("NIL") : d.str();
    };
    s.title = display(it->title, it->titleFormat);
    s.link = it->link.str();
    s.id = it->uniqueID.str();
    s.author = body->author.isNil() ? "NIL" : display(body->author, kFormatPlainText);
    s.text = display(body->content.isNil() ? body->summary : body->content,
                     body->content.isNil() ? body->summaryFormat : body->contentFormat);
    db->unloadObject(body);
    db->unloadObject(it);
    return s;
  }
  // Parses doc as a feed of its own: the first "<title>F</title>" and
  // "urn:f" and the address get a number.
  newsFeed* parseAlone(std::string doc, bool isAtom) {
    const std::string n = std::to_string(++parsed);
    if (size_t at = doc.find("<title>F</title>"); at != std::string::npos) doc.replace(at, 16, "<title>F" + n + "</title>");
    if (size_t at = doc.find("urn:f"); at != std::string::npos) doc.replace(at, 5, "urn:f" + n);
    const std::string url = "http://example.org/feed" + n;
    return (isAtom ? atom(doc, nullptr, url.c_str()) : rss(doc, nullptr, url.c_str())).feed;
  }
  int parsed = 0;
  cEncodingUTF utf8 = [] {
    cEncodingUTF e;
    e.load("UTF-8");
    return e;
  }();
};

std::string atomDocument(const std::string& inner, const std::string& attributes = "") {
  return "<?xml version=\"1.0\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\"" + attributes +
         "><title>F</title><id>urn:f</id>" + inner + "</feed>";
}

TEST_F(FeedShapes, EachShapeShowsItsTitleLinkAndText) {
  const std::string channel = "<title>F</title><link>http://example.org/</link>";
  const struct Case {
    const char* what;
    bool atom;
    std::string doc;
    Shown want;  // a field "" is not checked, "-" is empty
  } cases[] = {
      {"unescaped HTML in a description", false,
       rssDocument(channel + "<item><title>t</title><description><p>We moved our cache to <a href=\"http://x/\">a new "
                             "host</a> today.</p></description></item>"),
       {"", "t", "", "", "", "We moved our cache to a new host today."}},
      {"text around markup", false,
       rssDocument(channel + "<item><title>t</title><description>Hello <b>big</b> world <br/>again</description></item>"),
       {"", "", "", "", "", "Hello *big* world\nagain"}},
      {"markup in content:encoded and a title", false,
       rssDocument(channel + "<item><title>A <i>b</i> c</title><content:encoded><div><p>one</p><p>two</p></div>"
                             "</content:encoded></item>",
                   " xmlns:content=\"http://purl.org/rss/1.0/modules/content/\""),
       {"", "A b c", "", "", "", "one\n\ntwo"}},
      {"an author with a name element", false,
       rssDocument(channel + "<item><title>t</title><author><name>Ann Lee</name> <email>a@x</email></author></item>"),
       {"", "", "", "", "Ann Lee a@x", ""}},
      {"\"->\" inside escaped HTML", false,
       rssDocument(channel + "<item><title>t</title><description>&lt;p&gt;Use -&gt; to chain calls&lt;/p&gt;"
                             "</description></item>"),
       {"", "", "", "", "", "Use -> to chain calls"}},
      {"\">\" in code", false,
       rssDocument(channel + "<item><title>t</title><description><![CDATA[<p>if (a > b) return a;</p>"
                             "<pre>$bar->foo</pre>]]></description></item>"),
       {"", "", "", "", "", "if (a > b) return a;\n\n$bar->foo"}},
      {"a quote mark after a blockquote", false,
       rssDocument(channel + "<item><title>t</title><description>&lt;blockquote&gt;&gt; quoted&lt;/blockquote&gt;"
                             "</description></item>"),
       {"", "", "", "", "", "> quoted"}},
      {"a lone iframe", false,
       rssDocument(channel + "<item><title>t</title><description>&lt;iframe src=\"v\"/&gt;</description></item>"),
       {"", "", "", "", "", "-"}},
      {"a stray \"<\" in plain text", false,
       rssDocument(channel + "<item><title>a &lt; b</title><description>1 &lt; 2 &amp;&amp; 3 &gt; 2</description></item>"),
       {"", "a < b", "", "", "", "1 < 2 && 3 > 2"}},
      {"comments holding anything", false,
       "<?xml version=\"1.0\"?>\n<!-- ====== -->\n<rss version=\"2.0\"><!-- = --><channel>" + channel +
           "<item><title>t</title><description>a<!--a=b--> b<!-- <p>x</p> --></description></item></channel></rss>",
       {"", "", "", "", "", "a b"}},
      {"a relative permalink guid", false,
       rssDocument(channel + "<item><title>t</title><guid isPermaLink=\"true\">/blog/post</guid></item>"),
       {"", "", "http://example.org/blog/post", "/blog/post", "", ""}},
      {"a guid that is no permalink", false,
       rssDocument(channel + "<item><title>t</title><guid isPermaLink=\"false\">post-1</guid></item>"),
       {"", "", "", "post-1", "", ""}},
      {"an XHTML entry title", true,
       atomDocument("<entry><id>e</id><title type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">Example "
                    "<b>Atom</b></div></title></entry>"),
       {"", "Example *Atom*", "", "", "", ""}},
      {"an XHTML summary", true,
       atomDocument("<entry><id>e</id><title>t</title><summary type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/"
                    "xhtml\">Sum <i>here</i></div></summary></entry>"),
       {"", "", "", "", "", "Sum here"}},
      {"HTML content holding an XHTML div", true,
       atomDocument("<entry><id>e</id><title>t</title><content type=\"html\"><div>One <em>two</em> three</div>"
                    "</content></entry>"),
       {"", "", "", "", "", "One two three"}},
      {"text/html content", true,
       atomDocument("<entry><id>e</id><title>t</title><content type=\"text/html\">&lt;p&gt;x&lt;/p&gt;</content>"
                    "</entry>"),
       {"", "", "", "", "", "x"}},
      {"a related link before the alternate one", true,
       atomDocument("<entry><id>e</id><title>t</title><link rel=\"related\" href=\"/header.webp\"/>"
                    "<link rel=\"alternate\" type=\"text/html\" href=\"/post\"/></entry>"),
       {"", "", "http://example.org/post", "", "", ""}},
      {"an alternate link typed application/xhtml+xml", true,
       atomDocument("<entry><id>e</id><title>t</title><link rel=\"enclosure\" href=\"/a.mp3\"/>"
                    "<link rel=\"alternate\" type=\"application/xhtml+xml\" href=\"/x\"/></entry>"),
       {"", "", "http://example.org/x", "", "", ""}},
      {"an entry with its own prefix", true,
       atomDocument("<p0:entry xmlns:p0=\"http://www.w3.org/2005/Atom\"><p0:id>e</p0:id><p0:title>Prefixed</p0:title>"
                    "<p0:link href=\"/p\"/></p0:entry>"),
       {"", "Prefixed", "http://example.org/p", "e", "", ""}},
      {"an XHTML feed title", true,
       "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">"
       "Example &amp; <b>Atom</b></div></title><id>urn:f</id><entry><id>e</id><title>t</title></entry></feed>",
       {"Example & *Atom*", "", "", "", "", ""}},
      {"an HTML feed title", true,
       "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title type=\"html\">Example &lt;b&gt;Atom&lt;/b&gt; feed</title>"
       "<id>urn:f</id><entry><id>e</id><title>t</title></entry></feed>",
       {"Example *Atom* feed", "", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    newsFeed* feed = parseAlone(c.doc, c.atom);
    ASSERT_TRUE(feed);
    const Shown s = shown(feed);
    for (auto [got, want] : {std::pair{s.feedName, c.want.feedName}, {s.title, c.want.title}, {s.link, c.want.link},
                             {s.id, c.want.id}, {s.author, c.want.author}, {s.text, c.want.text}}) {
      if (!want.empty()) {
        EXPECT_EQ(got, want == "-" ? "" : want);
      }
    }
  }
}

// Random HTML of inline and block elements around numbered words, written
// into a description as markup, escaped and as CDATA: every word is shown,
// in order, the same three ways.
TEST_F(FeedShapes, NoWordIsLostWhateverTheHtmlIsWrittenAs) {
  const std::regex kWord("w[0-9]+");
  std::mt19937 random(66);
  const char* elements[] = {"p", "b", "i", "a", "div", "span", "em", "strong", "blockquote", "li"};
  for (int round = 0; round < 40; ++round) {
    std::string html, words;
    int word = 0;
    std::vector<const char*> open;
    for (int step = 0; step < 30; ++step) {
      const unsigned r = random() % 4;
      if (r == 0 && open.size() < 6) {
        open.push_back(elements[random() % 10]);
        html += std::string("<") + open.back() + (open.back()[0] == 'a' ? " href=\"http://x/?a=1&amp;b=2\">" : ">");
      } else if (r == 1 && !open.empty()) {
        html += std::string("</") + open.back() + ">";
        open.pop_back();
      } else {
        const std::string w = "w" + std::to_string(word++) + (r == 2 ? " -> " : " ");
        html += w;
        words += w;
      }
    }
    while (!open.empty()) {
      html += std::string("</") + open.back() + ">";
      open.pop_back();
    }
    std::string escaped;
    for (char c : html) escaped += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
    std::vector<std::string> seen;
    for (const std::string& description : {html, escaped, "<![CDATA[" + html + "]]>"}) {
      newsFeed* feed = parseAlone(rssDocument("<title>F</title><link>http://example.org/</link><item><title>t</title>"
                                              "<description>" + description + "</description></item>"),
                                  false);
      ASSERT_TRUE(feed);
      const std::string text = shown(feed).text;
      std::string all;
      for (std::sregex_iterator w(text.begin(), text.end(), kWord), end; w != end; ++w) all += w->str() + " ";
      seen.push_back(all);
    }
    std::string want;
    for (std::sregex_iterator w(words.begin(), words.end(), kWord), end; w != end; ++w) want += w->str() + " ";
    EXPECT_EQ(seen[0], want) << html;
    EXPECT_EQ(seen[1], want) << escaped;
    EXPECT_EQ(seen[2], want) << html;
  }
}

}  // namespace
}  // namespace bw::testing_news

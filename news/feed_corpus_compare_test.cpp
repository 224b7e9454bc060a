// news/feed_corpus_compare_test.cpp - our parses held against what two other
// readers expect, on the fields both models hold: the gofeed cases against
// their JSON results, feedparser's wellformed rss and atom10 cases against
// their Expect expressions. A case lacking what our parsers make the feed's
// uniqueID from (a channel link or xml:base, a feed id or link) is known by
// its address, never refused with a report. Every mismatch is pinned, with
// the rule of ours it follows, in news/testdata/feed_corpus_*.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "core/utf8.h"
#include "news/feed_corpus_test_support.h"
#include "news/feed_merge.h"
#include "news/html_text.h"
#include "web/json_reader.h"

namespace bw::testing_news {
namespace {

// An instant as RFC 3339 in UTC; "" unset, "invalid" for the invalid date.
std::string rfc3339(bigTime t) {
  if (t == kDateUnset) return "";
  if (!isValidDate(t)) return "invalid";
  const time_t unix = static_cast<time_t>(t + 946684800);
  std::tm tm{};
  gmtime_r(&unix, &tm);
  char out[32];
  std::strftime(out, sizeof out, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return out;
}

// A Python string literal ('…' or "…", an optional u prefix) as UTF-8, or
// nothing when text is not one.
std::optional<std::string> pythonString(std::string_view text) {
  if (text.starts_with("u")) text.remove_prefix(1);
  if (text.size() < 2 || (text[0] != '\'' && text[0] != '"') || text.back() != text[0]) return std::nullopt;
  text = text.substr(1, text.size() - 2);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char e = text[++i];
    const size_t digits = e == 'x' ? 2 : e == 'u' ? 4 : e == 'U' ? 8 : 0;
    if (digits == 0) {
      out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
      continue;
    }
    const uint32_t code = static_cast<uint32_t>(std::stoul(std::string(text.substr(i + 1, digits)), nullptr, 16));
    i += digits;
    char buffer[4];
    out.append(buffer, static_cast<size_t>(convertUnicodeCharaToUTF8(static_cast<int32_t>(code), buffer)));
  }
  return out;
}

// One translated Expect clause: whose field, and the value expected.
struct Clause {
  bool entry = false;  // entries[0], else feed
  std::string field;   // "tags" means the first tag's term
  std::string value;   // a date tuple as RFC 3339
  bool shown = false;  // a text compared as both readers' texts show it
};

// The clauses of an Expect expression, or nothing when one of them names a
// field this system has no place for or has a form not translated. Names
// the two readers give one field differently are mapped to ours.
std::optional<std::vector<Clause>> translate(std::string expect) {
  static const std::regex kClause(
      R"(^(feed|entries\[0\])\['(title|language|generator|rights|copyright|subtitle|tagline|description|summary|content|link|id|guid|author|tags|published_parsed|updated_parsed)'\](\[0\]\['(?:term|value)'\])? == (.+)$)");
  static const std::regex kTuple(R"(^\((\d+), (\d+), (\d+), (\d+), (\d+), (\d+), \d+, \d+, \d+\)$)");
  std::vector<Clause> out;
  for (size_t start = 0; start <= expect.size();) {
    size_t end = expect.find(" and ", start);
    if (end == std::string::npos) end = expect.size();
    const std::string clause = expect.substr(start, end - start);
    start = end + 5;
    if (clause == "not bozo") continue;
    std::smatch m;
    if (!std::regex_match(clause, m, kClause)) return std::nullopt;
    Clause c{m[1] != "feed", m[2], "", false};
    if (!c.entry && (c.field == "tagline" || c.field == "description")) c.field = "subtitle";
    if (c.field == "copyright") c.field = "rights";
    if (c.entry && c.field == "guid") c.field = "id";
    if (c.entry && c.field == "description") c.field = "summary";
    const bool feedField = c.field == "title" || c.field == "language" || c.field == "generator" ||
                           c.field == "rights" || c.field == "subtitle";
    const bool entryField = c.field != "language" && c.field != "generator" && c.field != "rights" &&
                            c.field != "subtitle";
    const bool indexedForm = m[3].matched;
    if ((!c.entry && !feedField) || (c.entry && !entryField) ||
        indexedForm != (c.field == "tags" || c.field == "content"))
      return std::nullopt;
    c.shown = c.field == "summary" || c.field == "content" || c.field == "subtitle" || c.field == "rights";
    const std::string value = m[4];
    std::smatch t;
    if (c.field.ends_with("_parsed")) {
      if (!std::regex_match(value, t, kTuple)) return std::nullopt;
      std::tm tm{};
      tm.tm_year = std::stoi(t[1]) - 1900, tm.tm_mon = std::stoi(t[2]) - 1, tm.tm_mday = std::stoi(t[3]);
      tm.tm_hour = std::stoi(t[4]), tm.tm_min = std::stoi(t[5]), tm.tm_sec = std::stoi(t[6]);
      c.value = rfc3339(static_cast<bigTime>(timegm(&tm)) - 946684800);
    } else {
      std::optional<std::string> s = pythonString(value);
      if (!s) return std::nullopt;
      c.value = *s;
    }
    out.push_back(c);
  }
  if (out.empty()) return std::nullopt;
  return out;
}

// A shown text with its white space runs made one space, trimmed.
std::string words(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool blank = c == ' ' || c == '\n' || c == '\t' || c == '\r';
    if (blank) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The rule of ours behind each kind of mismatch: a case whose name holds
// nameHas, on field (any when empty; "link" also fits "entries[0].link"). A mismatch no rule explains is listed
// as "UNEXPLAINED" and fails the test.
struct Reason {
  const char* nameHas;
  const char* field;
  const char* why;
};
const Reason kReasons[] = {
    {"_guid_cdata", "id", "a guid is the uniqueID as written: kept, with CDATA markers and escapes"},
    {"_naked_markup", "", "HTML written unescaped is read as markup: an author gives its words"},
    {"_inline_markup", "", "XHTML and HTML feed texts are stored as the text they show, markup read"},
    {"_escaped_markup", "", "XHTML and HTML feed texts are stored as the text they show, markup read"},
    {"_xhtml_", "title", "an XHTML title is stored as its markup, shown as its text"},
    {"_base64", "", "Atom texts are stored as written; base64 is not decoded"},
    {"_cdata_escaped_markup", "", "kept texts are decoded for display, escapes inside CDATA included"},
    {"_guid_", "id", "a guid is the uniqueID as written: kept, with CDATA markers and escapes"},
    {"_illegal_char", "title", "a control character XML forbids reads as U+FFFD, not dropped"},
    {"_item_links", "link", "the first element of a name counts"},
    {"_dc_", "", "only elements without a namespace prefix are read (no Dublin Core)"},
    {"_dcterms_", "", "only elements without a namespace prefix are read (no Dublin Core)"},
    {"_map_author", "author", "the author is the name child of author alone"},
    {"feed_generator", "generator", "the generator is its text, then \",v\" and its version attribute"},
    {"_with_attributes", "parse", "only a feed element in the Atom namespace has a parser"},
    {"_body", "", "body, xhtml:body and fullitem elements have no place in an item"},
    {"_fullitem", "", "body, xhtml:body and fullitem elements have no place in an item"},
    {"itunes_core_element_uppercase", "", "XML names are compared with case: TITLE is not title"},
    {"itunes_", "", "iTunes elements have no place in a feed or an item"},
    {"media_title", "", "Media RSS elements have no place in an item"},
    {"_description_and_summary", "", "an RSS summary element has no place in an item"},
    {"_summary_and_description", "", "an RSS summary element has no place in an item"},
    {"_not_a_doctype", "parse", "an item outside a channel belongs to no feed"},
    {"entity_in_doctype", "", "entities declared in a DOCTYPE are not expanded"},
    {"_multiple_values", "", "the first element of a name counts"},
    {"/http_", "", "the corpus gives no HTTP headers: links resolve against the file's own address"},
    {"demoronize", "", "U+0080-009F in UTF-8 are control characters, not Windows-1252 punctuation"},
    {"charref_uppercase_x", "", "an XML character reference takes a lower-case x: \"&#X61;\" stays as written"},
    {"_crazy", "", "script text in a broken comment: what a browser would not show is dropped"},
    {"_nested_cdata", "", "a CDATA section ends at the first \"]]>\": the rest is text, as XML reads it"},
    {"style_font_family", "", "the other reader's sanitizer leaves the quote marks of a style it removed"},
    {"xml_malicious_comment", "", "an HTML comment runs to \"-->\", as browsers read it"},
    {"xml_declaration_unexpected_character", "title", "their title is HTML, ours the text it shows"},
    {"_unacceptable_uri", "title", "their title is HTML, ours the text it shows"},
};

std::string reasonFor(const std::string& name, const std::string& field, const std::string& ours) {
  if (field == "parse" && ours == "no parser") {
    return "a format this system does not read (RSS 0.90 and 1.0, Atom 0.3, CDF, RSS of another version)";
  }
  if (field == "parse" && (ours == "malformed" || ours.starts_with("unreadable"))) {
    return "not well-formed XML: refused, nothing stored";
  }
  for (const Reason& r : kReasons) {
    const std::string f = r.field;
    const bool fieldFits = f.empty() || field == f || field.ends_with("." + f);
    if (name.find(r.nameHas) != std::string::npos && fieldFits) return r.why;
  }
  return "UNEXPLAINED";
}

class FeedCorpusCompare : public FeedCorpusTest {
 protected:
  void SetUp() override {
    FeedCorpusTest::SetUp();
    json = std::make_unique<cJSON>(utf8, nullptr);
  }

  // Parses text; a feed refused for want of a uniqueID is a mismatch.
  Parsed parseChecked(const std::string& name, const std::string& text) {
    Parsed p = parse(text);
    if (p.outcome.ends_with("no uniqueID")) mismatch(name, "uniqueID report", "shown", "not expected");
    return p;
  }

  std::string decoded(newsFeed* feed, const std::string& text) {
    if (text == "NIL") return "";
    Str s = convertFeedText(*feed->docFormat, &utf8, Text(text), false, false);
    return s.isNil() ? "" : s.str();
  }

  void mismatch(const std::string& name, const std::string& field, const std::string& ours,
                const std::string& theirs) {
    auto clip = [](std::string s) {
      std::replace(s.begin(), s.end(), '\n', ' ');
      return s.size() > 70 ? s.substr(0, 70) + "..." : s;
    };
    found.push_back(name + " " + field + ": ours \"" + clip(ours) + "\" theirs \"" + clip(theirs) + "\" -- " +
                    reasonFor(name, field, ours));
  }

  // JSON access: a member by name, its text decoded ("" when absent).
  static webDataNode* member(const webDataNode* node, std::string_view name) {
    for (webDataNode* c = node ? node->getFirstChild() : nullptr; c; c = c->getNext()) {
      if (c->getName().view() == name) return c;
    }
    return nullptr;
  }
  std::string text(const webDataNode* node) {
    if (!node) return "";
    Str s = node->getText(&utf8, false);
    return s.isNil() ? "" : s.str();
  }
  std::vector<webDataNode*> elements(const webDataNode* array) {
    std::vector<webDataNode*> out;
    for (webDataNode* c = array ? array->getFirstChild() : nullptr; c; c = c->getNext()) out.push_back(c);
    return out;
  }

  // The item's summary (else its content) or its content as it is shown.
  std::string shownItemText(newsFeed* feed, int32_t index, bool content) {
    newsItem* it = item(index, feed);
    newsItemBody* body = loadObject_newsItemBody(*db, it->bodyIndex);
    std::string out;
    if (body) {
      const bool useContent = content || body->summary.isNil();
      Str shown = feedTextForDisplay(*feed->docFormat, &utf8, useContent ? body->content : body->summary,
                                     useContent ? body->contentFormat : body->summaryFormat, false);
      out = shown.isNil() ? "" : shown.str();
    }
    db->unloadObject(body);
    db->unloadObject(it);
    return out;
  }

  std::unique_ptr<cJSON> json;
  std::vector<std::string> found;  // this case's mismatches
};

// The fields of one item as each model gives them.
using ItemFields = std::map<std::string, std::string>;

TEST_F(FeedCorpusCompare, GofeedCasesAgreeOnTheSharedFields) {
  const std::filesystem::path base = feedCorpora() / "gofeed";
  if (!std::filesystem::exists(base)) GTEST_SKIP() << "no gofeed corpus at " << base;
  std::string lines;
  int checked = 0, passed = 0, skipped = 0;
  for (const auto& path : corpusFeeds(base)) {
    const std::string file = path.filename().string();
    if (!file.starts_with("rss_") && !file.starts_with("atom10_")) continue;
    const std::string name = "gofeed/" + std::filesystem::relative(path, base).string();
    SCOPED_TRACE(name);
    const bool atom = file.starts_with("atom10_");
    std::filesystem::path jsonPath = path;
    jsonPath.replace_extension(".json");
    const std::optional<std::string> expected = readCorpusFile(jsonPath);
    JsonParseResult j = json->parseDocument(expected->data(), static_cast<int32_t>(expected->size()));
    ASSERT_TRUE(j.root) << j.message.view();
    const webDataNode* top = j.root->head();
    found.clear();
    Parsed p = parseChecked(name, *readCorpusFile(path));
    if (!p.feed) {
      ++skipped;
      lines += name + " skipped: " + p.outcome + "\n";
      continue;
    }
    ++checked;
    // Ours.
    std::vector<ItemFields> ours, theirs;
    for (const ItemView& v : items(p.feed)) {
      ItemFields f;
      f["title"] = v.title == kMissingText ? "" : decoded(p.feed, v.title);
      f["link"] = v.link;
      f["id"] = v.uniqueID;
      f["categories"] = decoded(p.feed, v.tags);
      f["published"] = rfc3339(v.published);
      if (atom) f["updated"] = rfc3339(v.updated);
      f["author"] = decoded(p.feed, v.author);
      ours.push_back(f);
    }
    for (const webDataNode* e : elements(member(top, atom ? "entries" : "items"))) {
      ItemFields f;
      f["title"] = text(member(e, "title"));
      std::string categories;
      for (const webDataNode* c : elements(member(e, "categories"))) {
        categories += (categories.empty() ? "" : ",") + text(atom ? member(c, "term") : member(c, "value"));
      }
      f["categories"] = categories;
      if (atom) {
        for (const webDataNode* l : elements(member(e, "links"))) {
          const std::string rel = text(member(l, "rel"));
          if (rel.empty() || rel == "alternate") {
            f["link"] = text(member(l, "href"));
            break;
          }
        }
        f["id"] = text(member(e, "id"));
        f["published"] = text(member(e, "publishedParsed"));
        f["updated"] = text(member(e, "updatedParsed"));
        const std::vector<webDataNode*> authors = elements(member(e, "authors"));
        f["author"] = authors.empty() ? "" : text(member(authors[0], "name"));
      } else {
        f["link"] = text(member(e, "link"));
        f["id"] = text(member(member(e, "guid"), "value"));
        f["published"] = text(member(e, "pubDateParsed"));
        f["author"] = text(member(e, "author"));
      }
      theirs.push_back(f);
    }
    if (ours.size() != theirs.size())
      mismatch(name, "items", std::to_string(ours.size()), std::to_string(theirs.size()));
    // Field by field over all items (the stored order is by date, not the
    // document's): the sorted values must agree. An absent guid or id is
    // not compared: ours then comes from the link or title.
    for (const char* field : {"title", "link", "id", "categories", "published", "updated", "author"}) {
      std::vector<std::string> a, b;
      for (size_t i = 0; i < ours.size(); ++i) a.push_back(ours[i][field]);
      for (size_t i = 0; i < theirs.size(); ++i) b.push_back(theirs[i][field]);
      if (std::string(field) == "id" && std::all_of(b.begin(), b.end(), [](auto& s) { return s.empty(); })) continue;
      std::sort(a.begin(), a.end());
      std::sort(b.begin(), b.end());
      if (a.size() == b.size() && a != b) {
        for (size_t i = 0; i < a.size(); ++i) {
          if (a[i] != b[i]) mismatch(name, field, a[i], b[i]);
        }
      }
    }
    if (found.empty()) ++passed;
    for (const std::string& m : found) lines += m + "\n";
  }
  lines = "gofeed: checked " + std::to_string(checked) + " passed " + std::to_string(passed) + " listed " +
          std::to_string(checked - passed) + " skipped " + std::to_string(skipped) + "\n" + lines;
  EXPECT_EQ(lines.find("UNEXPLAINED"), std::string::npos);
  compareOrUpdateOutcomesIn("news/testdata", "feed_corpus_gofeed.txt", lines);
}

// Every document of the feedparser corpus whose Expect expression names
// only fields this system has a place for, folder by folder.
TEST_F(FeedCorpusCompare, FeedparserExpectationsHold) {
  const std::filesystem::path base = feedCorpora() / "feedparser";
  if (!std::filesystem::exists(base)) GTEST_SKIP() << "no feedparser corpus at " << base;
  struct Tally {
    int checked = 0, passed = 0, skipped = 0;
    std::string listed;
  };
  std::map<std::string, Tally> folders;
  for (const auto& path : corpusFeeds(base)) {
    const std::string relative = std::filesystem::relative(path, base).string();
    const std::string name = "feedparser/" + relative;
    Tally& tally = folders[std::filesystem::path(relative).parent_path().string()];
    SCOPED_TRACE(name);
    const std::string document = *readCorpusFile(path);
    const size_t at = document.find("Expect:");
    const size_t end = document.find('\n', at);
    std::string expect = at == std::string::npos ? "" : document.substr(at + 7, end - at - 7);
    expect.erase(0, expect.find_first_not_of(" \t"));
    expect.erase(expect.find_last_not_of(" \t\r") + 1);
    const std::optional<std::vector<Clause>> clauses = translate(expect);
    if (!clauses) {
      ++tally.skipped;
      continue;
    }
    found.clear();
    Parsed p = parseChecked(name, document);
    ++tally.checked;
    if (!p.feed) {
      mismatch(name, "parse", p.outcome, "a feed");
    } else {
      const std::vector<ItemView> entries = items(p.feed);
      for (const Clause& c : *clauses) {
        std::string ours;
        if (!c.entry) {
          const Str& s = c.field == "title" ? p.feed->title : c.field == "language" ? p.feed->language
                         : c.field == "generator" ? p.feed->generator : c.field == "subtitle" ? p.feed->subtitle
                                                                                                : p.feed->rights;
          ours = s.isNil() ? "" : decoded(p.feed, s.str());
        } else if (entries.size() != 1) {
          ours = "(" + std::to_string(entries.size()) + " items)";
        } else {
          const ItemView& v = entries[0];
          ours = c.field == "title" ? decoded(p.feed, v.title) : c.field == "link" ? v.link
                 : c.field == "id" ? v.uniqueID : c.field == "author" ? decoded(p.feed, v.author)
                 : c.field == "tags" ? decoded(p.feed, v.tags).substr(0, decoded(p.feed, v.tags).find(','))
                 : c.field == "summary" ? shownItemText(p.feed, v.index, false)
                 : c.field == "content" ? shownItemText(p.feed, v.index, true)
                 : c.field == "published_parsed" ? rfc3339(v.published) : rfc3339(v.updated);
        }
        std::string theirs = c.value;
        if (c.shown) {
          // Their value is sanitized HTML (or the text of a plain one): both
          // compared as the text they show, white space runs as one space.
          ours = words(ours);
          if (ours != words(theirs)) theirs = words(htmlToDisplayText(Text(theirs), false, true).str());
          else theirs = ours;
        }
        if (ours != theirs) mismatch(name, (c.entry ? "entries[0]." : "feed.") + c.field, ours, theirs);
      }
    }
    if (found.empty()) ++tally.passed;
    for (const std::string& m : found) tally.listed += m + "\n";
  }
  std::string lines;
  for (const auto& [folder, t] : folders) {
    if (t.checked == 0) continue;
    lines += "feedparser " + folder + ": checked " + std::to_string(t.checked) + " passed " +
             std::to_string(t.passed) + " listed " + std::to_string(t.checked - t.passed) + " skipped " +
             std::to_string(t.skipped) + "\n" + t.listed;
  }
  EXPECT_EQ(lines.find("UNEXPLAINED"), std::string::npos);
  compareOrUpdateOutcomesIn("news/testdata", "feed_corpus_feedparser.txt", lines);
}

}  // namespace
}  // namespace bw::testing_news

// news/feed_discovery.h - finding the RSS and Atom feeds a web page
// announces in its head, and the question that lets the user pick one.
// downloadXML's document step (feed_discovery.cpp) uses them; they stand
// apart so that tests and the fuzz target reach them without a download.
//
// Invariants:
//   1. The page is read as a browser tokenises it: tag and attribute names
//      in any letter case, any white space between them, values quoted
//      (holding ">" or "<") or not, the first of a repeated attribute;
//      comments, and the contents of script, style, title and the like, hold
//      no tags. Only tags before the body count: the search ends at the
//      first start tag that cannot stand in a head ("body", "div", ...).
//   2. A candidate is a "link" whose rel holds the token "alternate" and
//      whose type is "application/rss+xml" or "application/atom+xml"
//      (letter case ignored), with an href; its title is optional (the href
//      then labels it).
//   3. A candidate's address is absolute: its href resolved against the
//      first "base" href, itself resolved against the page's address (the
//      address after redirects). Only http and https addresses are offered;
//      a "file" page may also name "file" feeds.
//   4. Titles and addresses are UTF-8: read in the page's charset (its
//      "meta" charset, else the server's, else UTF-8 with stray bytes read
//      as Windows-1252), then their character references decoded; a C0
//      control XML forbids reads as U+FFFD (web/control_chars.h).
//   5. Nothing is read outside the text given, and nothing is printed.
//   6. The scan takes time linear in the text, whatever its tags hold: of
//      a tag's attributes only the few it reads are kept. It asks its stop
//      every few thousand tags and attributes; a stop ends it at once,
//      interrupted, with no candidates.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/str.h"

namespace bw {

struct FeedCandidate {
  Str url;    // absolute, in UTF-8
  Str title;  // in UTF-8; the href when the link has none
};

struct CandidateScan {
  std::vector<FeedCandidate> candidates;
  bool webPage = false;  // the text held an html, head or body tag: a web page, not a broken feed
  bool interrupted = false;  // the stop was asked for before the scan's end
};

// The candidates of a page, in page order. pageURL is the page's address,
// httpCharset the charset the server named for it ("" for none);
// stopRequested (none: never) is asked by invariant 6 (the add asks for
// Ctrl-C, dos::checkBreak).
CandidateScan collectFeedCandidates(std::string_view text, Text pageURL, std::string_view httpCharset,
                                    const std::function<bool()>& stopRequested = {});

// "Please choose one of the following feeds:" then "\n<n>. <title>" per
// candidate, every "%" of a title doubled so it shows as written; and the
// buttons "1|2|...|Cancel".
std::string feedChoiceQuestion(const std::vector<FeedCandidate>& candidates);
std::string feedChoiceButtons(size_t count);

}  // namespace bw

// news/feed_discovery.h - finding the RSS and Atom feeds a web page
// announces in its head, and the question that lets the user pick one.
// downloadXML's document step (feed_discovery.cpp) uses them; they stand
// apart so that tests and the fuzz target reach them without a download.
//
// Invariants:
//   1. A candidate is a "link" with type exactly "application/rss+xml" or
//      "application/atom+xml", rel exactly "alternate" and an href; its
//      title is optional (the href then labels it). Only links inside the
//      head count: the "head" of the top-level "html" element of a
//      well-formed page, or the "<link " tags before "</head>" (letter case
//      ignored) of any other page.
//   2. A candidate's address is absolute: its href resolved against the
//      page's address (the address after redirects). Only http and https
//      addresses are offered; a "file" page may also name "file" feeds.
//   3. Nothing is read outside the text given; a page without "</head>"
//      that is not well-formed yields no candidates.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/str.h"
#include "web/web_data.h"

namespace bw {

struct FeedCandidate {
  Str url;    // absolute, in UTF-8
  Str title;  // in the document's charset; the href when the link has none
};

struct CandidateScan {
  std::vector<FeedCandidate> candidates;
  bool headEnd = false;  // the text held "</head>" (pages that are not XML)
};

// The candidates of a well-formed page (document non-NIL) or of any other
// page text (document NIL), in page order. pageURL is the page's address.
CandidateScan collectFeedCandidates(const webDataRoot* document, std::string_view text, Text pageURL);

// "Please choose one of the following feeds:" then "\n<n>. <title>" per
// candidate, every "%" of a title doubled so it shows as written; and the
// buttons "1|2|...|Cancel".
std::string feedChoiceQuestion(const std::vector<FeedCandidate>& candidates);
std::string feedChoiceButtons(size_t count);

}  // namespace bw

// news/html_text.h - feed texts turned into display text: plain text tidied,
// HTML and XHTML rewritten by three matchers on the translate engine, with
// optional MUI style codes for bold, italic, underline and links.
//
// Invariants:
//   1. Entities and escapes are not touched: the caller decodes first.
//   2. Tags are rewritten from the source text alone (never the output); a
//      "<" with no ">" after it and the text after it stay as they are.
//   3. With utf8 TRUE the only no-break space trimmed at the ends is the
//      whole pair C2 A0, so no letter loses its last byte; with utf8 FALSE
//      the single byte A0 is white space. Inside the text nothing is trimmed.
//   4. The three matchers exist between initNewsTextModule and
//      endNewsTextModule; converting outside that raises "BUG".
#pragma once

#include <cstdint>

#include "core/str.h"
#include "core/translate.h"
#include "news/news_format.h"

namespace bw {

// Line feeds: a run of line feeds and carriage returns becomes one space, or
// nothing at either end of the text or beside a tag.
class fLineFeedTranslateMatcher : public fTranslateMatcher {
  BW_CLASS(fLineFeedTranslateMatcher, fTranslateMatcher)

 public:
  TranslateMatch call(Text text, int32_t position, const TranslateEntry& entry) override;
};

// Runs of spaces and tabs become one space.
class fMergeMultipleSpacesTranslateMatcher : public fTranslateMatcher {
  BW_CLASS(fMergeMultipleSpacesTranslateMatcher, fTranslateMatcher)

 public:
  TranslateMatch call(Text text, int32_t position, const TranslateEntry& entry) override;
};

// Tags: rewritten by name; the entry's word6 points to the run's state.
class fHtmlTranslateMatcher : public fTranslateMatcher {
  BW_CLASS(fHtmlTranslateMatcher, fTranslateMatcher)

 public:
  TranslateMatch call(Text text, int32_t position, const TranslateEntry& entry) override;
};

// NIL for NIL. Formats 0 to 3 consume text: format 1 (and 0 when the text
// does not look like HTML) tidies it in place (tabs to spaces, both ends
// trimmed, capacity kept) and returns it; formats 2 and 3 return
// htmlToDisplayText of it. Any other format returns NIL and leaves text as
// it was.
Str prepareTextForDisplay(Str&& text, int32_t format, bool useStyles, bool utf8);

// A new display text for the HTML text; text stays the caller's.
Str htmlToDisplayText(Text text, bool useStyles, bool utf8);

// Whether a text of unknown format looks like HTML: balanced tags, few
// slashes, few stray angle brackets.
bool looksLikeHtml(Text text);

// Every tab becomes one space.
void tabsToSpaces(Str& text);

// The trims of display text and stored links, in place (capacity kept), by
// invariant 3. NIL raises "EPU".
void trimDisplayText(Str& text, bool utf8);
// trimWhiteSpace by invariant 3: text itself when nothing is trimmed, else a
// new string of exactly the trimmed text.
Str trimNewsWhiteSpace(Str text, bool utf8);

void initNewsTextModule();
void endNewsTextModule();

}  // namespace bw

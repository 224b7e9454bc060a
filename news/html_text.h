// news/html_text.h - feed texts turned into display text: plain text tidied,
// HTML and XHTML read as a browser tokenises them and written as lines of
// text, with optional MUI style codes for bold, italic, underline and links.
//
// Invariants:
//   1. Tags are read on the markup itself; character references are decoded
//      only inside text and attribute values, so an escaped "<" stays text.
//      A "<" not followed by a letter, "/" and a letter, "!" or "?" is text;
//      so is a "<" whose tag never ends (nothing is lost).
//   2. script, style, template and noscript elements and comments give
//      nothing; inline elements give nothing between the letters they hold,
//      block elements end lines, pre keeps its lines and spaces.
//   3. With utf8 TRUE the only no-break space trimmed at the ends is the
//      whole pair C2 A0, so no letter loses its last byte; with utf8 FALSE
//      the single byte A0 is white space. Inside the text nothing is trimmed.
//   4. No display text holds a C0 control XML forbids (all but tab, line
//      feed and carriage return): each one, written or referenced, shows as
//      U+FFFD ("?" without utf8), so a feed's text never carries the
//      windows' style escape (ESC); only the style marks written here do. A
//      form feed in HTML outside pre is white space.
#pragma once

#include <cstdint>

#include "core/charset.h"
#include "core/str.h"
#include "news/news_format.h"
#include "web/web_format.h"

namespace bw {

// NIL for NIL. Formats 0 to 3 consume text: format 1 (and 0 when the text
// does not look like HTML) tidies it in place (tabs to spaces, both ends
// trimmed, capacity kept) and returns it; formats 2 and 3 return
// htmlToDisplayText of it. Any other format returns NIL and leaves text as
// it was.
Str prepareTextForDisplay(Str&& text, int32_t format, bool useStyles, bool utf8);

// A new display text for the HTML text; text stays the caller's. With utf8
// the text is UTF-8 and references decode to UTF-8; without, each byte is
// a character and references past FF give "?".
Str htmlToDisplayText(Text text, bool useStyles, bool utf8);

// A stored feed text as display text in charset (NIL: the system charset
// of the format). Markup of an XML feed (format 2, or 0 when it looks like
// HTML) is read after one level of XML decoding, so the HTML's own escapes
// reach its reader; XHTML (format 3) is stored as markup and read as it
// is; every other text is convertText's decoding, prepared by format.
Str feedTextForDisplay(webDataFormat& docFormat, const cEncoding* charset, Text text, int32_t format,
                       bool useStyles);

// Whether a text of unknown format is HTML: it holds a comment, an end tag
// or "/>" of a known HTML element, or a tag of one that stands alone (p, br,
// img, iframe, ...). ">" and stray "<" never count against it.
bool looksLikeHtml(Text text);

// Whether an RSS title, stored with the feed's escapes, is HTML: only on an
// end tag or "/>" of a known element once its escapes and CDATA sections
// are read (both are ways of writing text). A lone tag name is a title's
// words, escaped or in CDATA ("Why &lt;p&gt; tags matter").
bool titleLooksLikeHtml(Text stored);

// Every tab becomes one space.
void tabsToSpaces(Str& text);

// The trims of display text and stored links, in place (capacity kept), by
// invariant 3. NIL raises "EPU".
void trimDisplayText(Str& text, bool utf8);
// trimWhiteSpace by invariant 3: text itself when nothing is trimmed, else a
// new string of exactly the trimmed text.
Str trimNewsWhiteSpace(Str text, bool utf8);

// Kept for the module order of start-up; the reader holds no global state.
void initNewsTextModule();
void endNewsTextModule();

}  // namespace bw

// app/news_item_text.h - the two views of one news item: its text, with the
// older updates of its chain of updates below it, written into the main
// window's summary fields and the contents window; and the "Info about news
// item" window with ten read-only fields.
//
// Invariants:
//   1. Only the chain's newest update walks the chain (newest first); any
//      other update shows its own text alone. The walk keeps the indices it
//      visited: a link back to one of them, or one that loads nothing, ends
//      it with what was gathered, so a damaged chain never hangs a click.
//   2. The caller's item and body stay loaded; every older update the walk
//      loads is given back before the call returns, also when it raises.
//   3. Texts reach the gadgets in the system charset (convertFeedText), as
//      plain display text (prepareTextForDisplay with the charset's UTF-8
//      trim rule); NIL texts are shown as "".
//   4. Nothing is stored in the database.
#pragma once

#include <array>

#include "core/charset.h"
#include "core/str.h"
#include "database/soup_database.h"
#include "gui/gui_gadgets.h"
#include "gui/gui_window.h"
#include "news/news_objects.h"

namespace bw {

// The rules between the texts of a chain.
inline constexpr char kMinusRule[] = "\n------------------------------------------------------------\n";
inline constexpr char kEqualsRule[] = "\n============================================================\n";
inline constexpr char kClosingRule[] = "\n============================================================";

// A stored text of the feed converted into charset through the feed's
// document format (address: an address field, not entity-decoded); NIL for
// NIL.
Str feedDisplayText(newsFeed& feed, const cEncoding* charset, Text text, bool address);

// The item's title as the lists and requesters show it: converted, then
// prepared for display without styles.
Str newsItemDisplayTitle(cJournaledIndexedObjectSoupDatabase& db, newsItem& item, const cEncoding* charset);

// Writes the title into both title texts, the summary (or the shortened
// contents) into summaryBox and the contents into contentsBox, with the
// chain's older updates below (invariant 1). Any gadget may be NIL. TRUE
// when there are no contents to show.
bool renderNewsItemText(cJournaledIndexedObjectSoupDatabase& db, newsItem& item, newsItemBody* body,
                        const cEncoding* charset, cGuiText* summaryTitle, cGuiTextBox* summaryBox,
                        cGuiText* contentsTitle, cGuiTextBox* contentsBox);

// The ten fields of the info window, in order, with their values ("" for
// none): Title, URL, Unique ID, Published, Updated, Downloaded, Tags,
// Author, Image URL, Encoding.
inline constexpr std::array<const char*, 10> kNewsItemInfoLabels = {
    "Title", "URL", "Unique ID", "Published", "Updated", "Downloaded", "Tags", "Author", "Image URL", "Encoding"};
std::array<Str, 10> newsItemInfoFields(newsItem& item, newsItemBody* body, const cEncoding* charset);

// Opens "Info about news item", sized as the dialogs of owner are (the
// larger of 640 and half its width; 640 without owner) so that long values
// show, and waits until "OK", its close request or the application's quit
// request; closes and ends it. TRUE only for the quit request. The item's
// feed must be loaded (it is borrowed).
bool showNewsItemInfo(newsItem& item, newsItemBody* body, const cEncoding* charset, cGuiWindow* owner = nullptr);

}  // namespace bw

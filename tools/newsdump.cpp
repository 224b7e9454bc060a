// tools/newsdump.cpp - prints the news model of a database, one line per
// object (news/news_dump.h), for looking inside a database by hand and for
// golden-text tests; with --items, each item as a user sees it instead:
// title, link, published and updated dates (UTC seconds and text), author,
// summary and contents as display text, one field a line.
//
//   newsdump [--items] DB
//
// The database is copied to a private folder first and the copy is opened,
// so the file given is never written (opening replays a journal and sets the
// open mark). Every object is read at most once, so a damaged list that
// goes round ends. Exits with 1 when the copy cannot be opened; 3 when some
// of it could not be read, after a last line "newsdump: not whole: could
// not read ..." naming what (also on standard error when the output is not
// a terminal); 20 with the exception line for anything else.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/charset.h"
#include "database/soup_database.h"
#include "news/html_text.h"
#include "news/news_dump.h"
#include "news/news_load.h"
#include "platform/assigns.h"
#include "tools/copied_database.h"

namespace {

// What was read is printed, but not all of the database read.
constexpr int kNotWhole = 3;
bool gItems = false;

// One field: its name, then its text on the same line (line ends shown as
// "\\n", so one field stays one line), NIL for none.
void field(std::string& out, const char* name, const bw::Str& text) {
  out += "  ";
  out += name;
  out += ": ";
  if (text.isNil()) {
    out += "NIL";
  } else {
    for (char c : text.view()) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  out += "\n";
}

void date(std::string& out, const char* name, bw::bigTime t) {
  std::string text = std::to_string(t);
  if (t > bw::kDateInvalid) {
    bw::Str shown = bw::Str::withCapacity(64);
    bw::pTime::formatBigTime(shown, t, true, true);
    text += " (" + std::string(shown.view()) + ")";
  } else {
    text += t == bw::kDateUnset ? " (unset)" : " (invalid)";
  }
  out += "  " + std::string(name) + ": " + text + "\n";
}

// Every item of every feed as the news-item window shows its texts.
std::string shownItems(bw::cJournaledIndexedObjectSoupDatabase& db, bw::NewsModelReader& reader) {
  auto utf8 = bw::encodingFromName("UTF-8", false);
  std::string out;
  bw::newsRoot* root = reader.root();
  if (!root) return out;
  bw::LoadedUse rootUse(db, root);
  for (int32_t f : reader.members(root->feedList, "the feed list")) {
    bw::newsFeed* feed = reader.feed(f);
    if (!feed) continue;
    bw::LoadedUse feedUse(db, feed);
    out += "feed " + std::string(feed->title.view()) + " <" + std::string(feed->url.view()) + ">\n";
    for (int32_t i : reader.members(feed->itemList, "the item list of feed " + std::to_string(f))) {
      bw::newsItem* item = reader.item(i, *feed);
      if (!item) continue;
      bw::LoadedUse itemUse(db, item);
      bw::newsItemBody* body = reader.body(*item);
      bw::LoadedUse bodyUse(db, body);
      auto shown = [&](const bw::Str& text, int32_t format) {
        return feed->docFormat ? bw::feedTextForDisplay(*feed->docFormat, utf8.get(), text, format, false) : text;
      };
      out += "item " + std::to_string(i) + "\n";
      field(out, "title", shown(item->title, item->titleFormat));
      field(out, "link", item->link);
      date(out, "published", item->published);
      date(out, "updated", item->updated);
      if (body) {
        field(out, "author", shown(body->author, bw::kFormatDetect));
        field(out, "summary", shown(body->summary, body->summaryFormat));
        field(out, "contents", shown(body->content, body->contentFormat));
      }
    }
  }
  return out;
}

int dump(const std::string& folder) {
  bw::dos::assignAdd("NewsDump", folder);
  bw::cJournaledIndexedObjectSoupDatabase db(0);
  if (!bw::tools::openCopiedDatabase("newsdump", db, "NewsDump:/copy.soup")) return 1;
  bw::NewsModelReader reader(db);
  std::string text = gItems ? shownItems(db, reader) : bw::dumpNewsModel(db, reader);
  reader.noteUnreached();
  if (!reader.whole()) {
    const std::string last = "newsdump: not whole: " + reader.summary() + "\n";
    text += last;
    // Written to a file, the dump still says so on the terminal.
    if (!::isatty(STDOUT_FILENO)) std::fputs(last.c_str(), stderr);
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  db.closeQuickly();
  return reader.whole() ? 0 : kNotWhole;
}

}  // namespace

int main(int argc, char** argv) {
  gItems = argc == 3 && std::string(argv[1]) == "--items";
  if (argc != 2 && !gItems) {
    std::fputs("usage: newsdump [--items] DB\n", stderr);
    return 2;
  }
  return bw::tools::runOnCopiedDatabase("newsdump", argv[argc - 1], dump);
}

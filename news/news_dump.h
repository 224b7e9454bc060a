// news/news_dump.h - the news model of a database as text, one line per
// object: the root, then each feed of its list followed by its items, head
// to tail. tools/newsdump prints it; tests compare it with golden text.
//
// Line shapes (fields separated by one space; strings quoted with \" \\ and
// \xHH for control bytes, NIL unquoted; dates "YYYY-MM-DD HH:MM:SS" UTC,
// "unset", "invalid", or the raw number when out of the calendar's range):
//   root INDEX feedList=N twitterToken=S twitterTokenSecret=S
//     facebookAccessToken=S facebookUserID=S rootText5=S rootValue64=N
//   feed INDEX type=S title=S url=S uniqueID=S userName=S tags=S filter=S
//     disabled=B selected=B seenUpTo=D noOlderItems=B credit=N
//     downloadLength=N summaryIsContents=B notUpdates=B useDownloadDate=B
//     items=N
//   item INDEX published=D updated=D downloaded=D uniqueID=S title=S older=N
//     newest=N seen=B
// Each item's body is read as well, though no line shows it. What the walk
// could not read (NewsModelReader) is printed where it was met, on a line
// beginning "! ", and the dump goes on.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "database/soup_database.h"
#include "news/news_format.h"
#include "news/news_objects.h"

namespace bw {

// Reads the stored news model for the tools that copy or print it whole:
// the root, the feeds of its feed list, the items of each feed's item list
// and their bodies, and notes in words each thing it could not read.
//
// Invariants:
//   1. No damage makes it raise (but "MEM" and "BRK") or go round: every
//      index is read at most once in all its walks, so a list that comes
//      back to a node, or names a node of another list, ends there (noted).
//   2. A load that answers NIL or raises is noted and answers NIL; the
//      walk goes on with the next node while the node's links still read.
//   3. After the walks, noteUnreached names what the database holds that
//      no walk reached (a cut list, a feed that did not read, damaged
//      structures), so a walk that stopped early never passes for whole.
class NewsModelReader {
 public:
  explicit NewsModelReader(cJournaledIndexedObjectSoupDatabase& db) : db_(db) {}

  // The loaded root with one use; NIL for a database without one (root
  // value 0: nothing to read) or when it does not read (noted).
  newsRoot* root();
  // The nodes of list, head to tail, each index once; owner names the list
  // in notes ("the feed list", "the item list of feed 4").
  std::vector<int32_t> members(const cIndexedObjectList* list, const std::string& owner);
  // The loaded feed (one use); NIL when it does not read (noted).
  newsFeed* feed(int32_t index);
  // The loaded item of feed (one use); NIL when it does not read (noted).
  newsItem* item(int32_t index, newsFeed& feed);
  // The item's loaded body (one use); NIL when it does not read (noted).
  newsItemBody* body(const newsItem& item);
  // Notes how many stored objects the walks did not reach, or that the
  // database's structures do not check sound. Call once, after the walks.
  void noteUnreached();

  // What could not be read, one phrase each, in the order met.
  const std::vector<std::string>& notes() const { return notes_; }
  bool whole() const { return notes_.empty(); }
  // "could not read " and the notes (the first 8, then how many more).
  std::string summary() const;

 private:
  bool reach(int32_t index) { return index == 0 || reached_.insert(index).second; }
  void note(std::string what) { notes_.push_back(std::move(what)); }
  // Runs step; when it raises (but "MEM" and "BRK") notes what with the
  // reason and answers FALSE.
  template <class Step>
  bool attempt(const std::string& what, Step step);
  // The object load answers; NIL when it raises or answers NIL (noted).
  template <class T, class Load>
  T* read(const std::string& what, Load load);

  cJournaledIndexedObjectSoupDatabase& db_;
  std::unordered_set<int32_t> reached_;
  std::vector<std::string> notes_;
};

std::string dumpNewsModel(cJournaledIndexedObjectSoupDatabase& db);
// The same through reader, whose notes stand on the "! " lines.
std::string dumpNewsModel(cJournaledIndexedObjectSoupDatabase& db, NewsModelReader& reader);
// One date as the dump writes it.
std::string dumpDate(bigTime date);

}  // namespace bw

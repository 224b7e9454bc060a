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
// A list walk that meets a node twice or an object that cannot be loaded
// prints a line beginning "! " and goes on with the next list.
#pragma once

#include <string>

#include "database/soup_database.h"
#include "news/news_format.h"

namespace bw {

std::string dumpNewsModel(cJournaledIndexedObjectSoupDatabase& db);
// One date as the dump writes it.
std::string dumpDate(bigTime date);

}  // namespace bw

// tools/soupcheck/news_level.h - level 5 of the checker: the news records in
// the data area of a "database.soup" (the effective data the journal check
// derived), decoded with code of its own from the record layouts that
// news/news_format.h writes down. Run only on a soup level 4 calls sound.
//
// From the root value (header value 6; 0 is a database with no news yet,
// nothing to decode) the walk decodes the root, each feed of the root's feed
// list, each item of each feed's item list and each item's body, each by its
// own class and within its block. Findings:
//   - a record that does not decode: a version newer than its class writes
//     (a body's other than 5), a string record of an unknown version or
//     whose capacity and length do not fit, a field past the block's end, a
//     feed type other than "RSS…", "Atom", "Twitter…" or "Facebook…";
//   - a link that names no record of the kind it should (the feed list, an
//     item list, a body), or a record reached a second time;
//   - an item whose feedIndex is not the feed whose list holds it, or whose
//     duplicate link names no item;
//   - allocated records that nothing of the news model leads to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bw::soupcheck {

struct NewsLevelReport {
  std::vector<std::string> findings;
  int64_t feeds = 0;
  int64_t items = 0;
  std::vector<int64_t> undecodable;  // the indices of the records that do not decode
  bool clean() const { return findings.empty(); }
};

NewsLevelReport checkNewsLevel(const std::vector<uint8_t>& data);

}  // namespace bw::soupcheck

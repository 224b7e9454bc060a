// tools/soupcheck/soup_level.cpp - level 4: root, open mark, compaction
// positions (the blocks' and the lists' walk), usedBytes, the chain of lists
// and every list's nodes.
#include "tools/soupcheck/soup_level.h"

#include <cstdio>
#include <set>
#include <string>

#include "tools/soupcheck/soup_index.h"

namespace bw::soupcheck {

namespace {

std::string text(const char* format, long long a, long long b = 0) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, format, a, b);
  return buffer;
}

}  // namespace

SoupLevelReport checkSoupLevel(const std::vector<uint8_t>& data) {
  SoupLevelReport report;
  Area area(data);
  SoupIndex soup(area);
  if (!soup.hasArray()) {
    report.findings.push_back("soup: no index array");
    return report;
  }
  int64_t arrayPayload = static_cast<int64_t>(area.u32(soup.arrayBlock() - 8) & ~3u) - 8;
  if (soup.arraySize() < kSpecial || soup.arraySize() * 8 > arrayPayload) {
    report.findings.push_back(text("soup: index array size %lld does not fit its block", soup.arraySize()));
    return report;
  }

  auto root = static_cast<int32_t>(soup.entry(6));
  if (root != 0 && soup.dataOf(root) == 0) report.findings.push_back(text("soup: root value %lld is not allocated", root));
  int64_t mark = soup.entry(9);
  if (mark != 0 && mark != -1) report.findings.push_back(text("soup: open mark %lld is neither 0 nor -1", mark));
  for (int e : {8, 10}) {
    int64_t block = soup.entry(e);
    if (block != 0 && !soup.isUsedBlock(block)) {
      report.findings.push_back(text("soup: header value %lld names %lld, not a used block", e, block));
    }
  }

  report.usedBytesStored = soup.entry(7);
  for (int64_t index : soup.allocated()) report.usedBytesCounted += soup.capacityOf(soup.dataOf(index)) + 12;
  if (report.usedBytesCounted != report.usedBytesStored) {
    report.warnings.push_back(text("soup: usedBytes %lld, the blocks hold %lld", report.usedBytesStored,
                                   report.usedBytesCounted));
  }

  // The chain of lists, then each list's nodes.
  auto headList = static_cast<int32_t>(soup.entry(11));
  std::set<int64_t> listsSeen;
  std::set<int64_t> nodesSeen;
  int64_t prevList = 0;
  bool closed = headList == 0;
  for (int64_t l = headList; l != 0;) {
    int64_t d = soup.dataOf(l);
    if (!d || soup.capacityOf(d) < 16) {
      report.findings.push_back(text("soup: list %lld (after list %lld) is not an allocated list record", l, prevList));
      break;
    }
    if (!listsSeen.insert(l).second) {
      report.findings.push_back(text("soup: the chain of lists loops at list %lld without reaching the first", l));
      break;
    }
    ++report.lists;
    auto head = static_cast<int32_t>(area.u32(d));
    auto tail = static_cast<int32_t>(area.u32(d + 4));
    auto next = static_cast<int32_t>(area.u32(d + 8));
    auto prev = static_cast<int32_t>(area.u32(d + 12));
    if (prevList != 0 && prev != prevList) {
      report.findings.push_back(text("soup: list %lld has listPrevIndex %lld", l, prev));
    }
    int64_t last = 0;
    for (int64_t n = head; n != 0;) {
      int64_t nd = soup.dataOf(n);
      if (!nd || soup.capacityOf(nd) < 8) {
        report.findings.push_back(text("soup: node %lld of list %lld is not allocated", n, l));
        break;
      }
      if (!nodesSeen.insert(n).second) {
        report.findings.push_back(text("soup: node %lld of list %lld is reached twice (a cycle or two lists)", n, l));
        break;
      }
      ++report.nodes;
      if (static_cast<int32_t>(area.u32(nd + 4)) != last) {
        report.findings.push_back(text("soup: node %lld has prevIndex %lld", n, area.u32(nd + 4)));
      }
      last = n;
      n = static_cast<int32_t>(area.u32(nd));
    }
    if (tail != last) report.findings.push_back(text("soup: list %lld has tailIndex %lld", l, tail));
    prevList = l;
    if (next == headList) {
      auto firstPrev = static_cast<int32_t>(area.u32(soup.dataOf(headList) + 12));
      if (firstPrev != l) report.findings.push_back(text("soup: first list's listPrevIndex %lld, last list %lld", firstPrev, l));
      closed = true;
      break;
    }
    l = next;
  }
  if (!closed && report.findings.empty()) report.findings.push_back("soup: the chain of lists is not closed");
  // The list-order compaction walk stands at a list of the chain, or
  // nowhere (0, -1); a negative value below -1 is a list's complement.
  int64_t walk = soup.entry(12);
  if (walk < -1) walk = ~walk;
  if (walk != 0 && walk != -1 && !listsSeen.contains(walk)) {
    report.findings.push_back(text("soup: the compaction walk stands at %lld, no list of the chain", walk));
  }
  return report;
}

}  // namespace bw::soupcheck

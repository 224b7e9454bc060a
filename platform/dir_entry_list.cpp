// platform/dir_entry_list.cpp - the directory entry list: order, cursor,
// lookup and unique names.
#include "platform/dir_entry_list.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "core/exception.h"
#include "core/sort_strings.h"
#include "platform/time.h"
#include "platform/unique_name.h"

namespace bw {
namespace {

int32_t gUniqueNameSeed = 0;

inline unsigned char folded(char c) {
  auto u = static_cast<unsigned char>(c);
  return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 32) : u;
}

bool equalFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (folded(a[i]) != folded(b[i])) return false;
  return true;
}

bool isDirEntry(std::string_view e) { return e.empty() || e.back() == '/'; }

bool hasKind(std::string_view e, int32_t kind) {
  if (kind == 0) return true;
  return isDirEntry(e) == (kind == 2);
}

}  // namespace

int32_t compareEntryNames(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char fa = folded(a[i]), fb = folded(b[i]);
    if (fa != fb) return fa < fb ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  // Equal when folded: plain bytes decide, so case twins keep a fixed order.
  for (size_t i = 0; i < n; ++i) {
    auto ua = static_cast<unsigned char>(a[i]), ub = static_cast<unsigned char>(b[i]);
    if (ua != ub) return ua < ub ? -1 : 1;
  }
  return 0;
}

int32_t fMergeSort_DirEntries::call(const Str& a, const Str& b) {
  int32_t c = compareEntryNames(a.view(), b.view());
  return c < 0 ? 1 : (c > 0 ? -1 : 0);
}

std::unique_ptr<cDirEntryList> cDirEntryList::fromNames(StrChain names) {
  std::sort(names.begin(), names.end(),
            [](const Str& a, const Str& b) { return compareEntryNames(a.view(), b.view()) < 0; });
  names.erase(std::unique(names.begin(), names.end(),
                          [](const Str& a, const Str& b) { return a.view() == b.view(); }),
              names.end());
  auto list = make();
  list->entries_ = std::move(names);
  return list;
}

std::unique_ptr<cDirEntryList> cDirEntryList::clone() const {
  auto copy = make();
  copy->addAll(*this);
  return copy;
}

bool cDirEntryList::stepToKind(int32_t kind) {
  while (current_ >= 0 && current_ < count() && !hasKind(entries_[static_cast<size_t>(current_)].view(), kind))
    ++current_;
  if (current_ >= count()) current_ = -1;
  return current_ >= 0;
}

bool cDirEntryList::gotoFirst(int32_t any0file1dir2) {
  if (any0file1dir2 < 0 || any0file1dir2 > 2)
    raise("EMU", "cDirEntryList.gotoFirst(); any0file1dir2 <> 0 or 1 or 2");
  current_ = entries_.empty() ? -1 : 0;
  return stepToKind(any0file1dir2);
}

bool cDirEntryList::gotoNext(int32_t any0file1dir2) {
  if (any0file1dir2 < 0 || any0file1dir2 > 2)
    raise("EMU", "cDirEntryList.gotoNext(); any0file1dir2 <> 0 or 1 or 2");
  if (current_ < 0) return false;
  ++current_;
  return stepToKind(any0file1dir2);
}

Text cDirEntryList::infoName() const {
  if (current_ < 0) return Text("");
  return Text(entries_[static_cast<size_t>(current_)]);
}

bool cDirEntryList::gotoName(Text name, bool eitherKind) {
  if (entries_.empty()) return false;
  std::string_view n = name.isNil() ? std::string_view() : name.view();
  // With eitherKind the name stands for its stem as a file or a directory.
  std::string forms[2];
  int nforms = 1;
  if (eitherKind) {
    std::string_view stem = isDirEntry(n) && !n.empty() ? n.substr(0, n.size() - 1) : n;
    forms[0] = std::string(stem);
    forms[1] = std::string(stem) + "/";
    nforms = 2;
  } else {
    forms[0] = std::string(n);
  }
  auto find = [&](auto equal) {
    for (size_t i = 0; i < entries_.size(); ++i)
      for (int f = 0; f < nforms; ++f)
        if (equal(entries_[i].view(), std::string_view(forms[f]))) return static_cast<int64_t>(i);
    return int64_t{-1};
  };
  int64_t at = find([](std::string_view a, std::string_view b) { return a == b; });
  if (at < 0) at = find(equalFolded);
  current_ = at;
  return at >= 0;
}

bool cDirEntryList::remove() {
  if (current_ < 0) raise("EMU", "cDirEntryList.remove(); not on a list item");
  entries_.erase(entries_.begin() + current_);
  if (current_ >= count()) current_ = -1;
  return current_ >= 0;
}

bool cDirEntryList::add(Text name, bool atFront) {
  return addString(name.isNil() ? Str() : Str(name.view()), atFront);
}

bool cDirEntryList::addString(Str text, bool atFront) {
  std::string_view t = text.isNil() ? std::string_view() : text.view();
  size_t at = 0;
  if (!atFront) {
    // Walk while the text goes after the entry; an identical entry refuses it.
    while (at < entries_.size()) {
      int32_t c = compareEntryNames(t, entries_[at].view());
      if (c == 0) return false;
      if (c < 0) break;
      ++at;
    }
  }
  entries_.insert(entries_.begin() + static_cast<int64_t>(at), std::move(text));
  if (current_ >= static_cast<int64_t>(at)) ++current_;
  return true;
}

int32_t cDirEntryList::addAll(const cDirEntryList& other) {
  int32_t refused = 0;
  for (const Str& e : other.entries_)
    if (!add(Text(e), false)) ++refused;
  return refused;
}

int32_t cDirEntryList::sort(bool keepDuplicates) {
  fMergeSort_DirEntries order;
  mergeSortStrings(entries_, &order);
  current_ = -1;
  if (keepDuplicates) return 0;
  size_t before = entries_.size();
  entries_.erase(std::unique(entries_.begin(), entries_.end(),
                             [](const Str& a, const Str& b) { return a.view() == b.view(); }),
                 entries_.end());
  return static_cast<int32_t>(before - entries_.size());
}

Str cDirEntryList::makeUniqueName(int32_t file1dir2, Text prefix) {
  if (file1dir2 != 1 && file1dir2 != 2) raise("EMU", "cDirEntryList.makeUniqueName(); file1dir2 <> 1 or 2");
  std::string_view pre = prefix.isNil() ? std::string_view("TMP") : prefix.view();
  int32_t capacity = static_cast<int32_t>(pre.size()) + 9;
  for (int tries = 1;; ++tries) {
    if (tries >= 1000) raise("BUG", "cDirEntryList.makeUniqueName(); retry limit exceeded");
    uint32_t number = nextUniqueNumber(gUniqueNameSeed);
    char hex[16];
    std::snprintf(hex, sizeof hex, file1dir2 == 2 ? "%" PRIx32 "/" : "%" PRIx32, number);
    std::string name(pre);
    name.append(hex);
    Str candidate = Str::withCapacity(capacity, name);
    if (!gotoName(Text(candidate), true)) return candidate;
  }
}

void initMakeUniqueNameSeed() { gUniqueNameSeed = static_cast<int32_t>(pTime::CurrentTime(2)); }

void setMakeUniqueNameSeed(int32_t seed) { gUniqueNameSeed = seed; }

int32_t infoMakeUniqueNameSeed() { return gUniqueNameSeed; }

}  // namespace bw

// core/translate.cpp - the translate engine, its general-purpose matchers and
// adders, and the table join.
#include "core/translate.h"

#include <cstring>
#include <limits>
#include <string_view>

#include "core/exception.h"
#include "core/mega_list_family.h"

namespace bw {
namespace {

struct SharedInstances {
  fTranslateMatcher matcher;
  fTranslateAdder adder;
  fSimpleTranslateMatcher simple;
  fFixedTranslateMatcher fixed;
  fFixedTranslateAdder fixedAdder;
  fDummyTranslateMatcher dummy;
};
std::unique_ptr<SharedInstances> gShared;

SharedInstances& shared() {
  if (!gShared) raise("BUG", "translate engine; shared instances used before initTranslateEngine()");
  return *gShared;
}

int32_t textLength(const char* text) { return text ? static_cast<int32_t>(std::strlen(text)) : 0; }

// A searched match: position -1 when the entry has no further match.
struct Found {
  int32_t position;
  int32_t matchLength;
  int32_t replacementLength;
  Str replacement;
};

class Engine {
 public:
  Engine(std::string_view text, int32_t length, const TranslateEntry* table)
      : text_(text.substr(0, static_cast<size_t>(length))),
        searchText_(text_.substr(0, std::min(text_.find('\0'), text_.size()))),
        length_(length),
        table_(table) {}

  // The entry's next match at or after from; position -1 when there is none.
  Found search(int32_t index, int32_t from) {
    const TranslateEntry& entry = table_[index];
    int32_t candidate = from;
    if (entry.matchText) {
      size_t found = searchText_.find(entry.matchText, static_cast<size_t>(from));
      if (found == std::string_view::npos) return {-1, 0, 0, Str()};
      candidate = static_cast<int32_t>(found);
    }
    TranslateMatch m = entry.matcher->call(Text(text_), candidate, entry);
    if (m.position < 0) return {-1, 0, 0, Str()};
    // A match before the search position would be chosen again for ever.
    if (m.position < from) raise("BUG", "dynamicTranslateStr(); next match is before current position (1)");
    return {m.position, m.matchLength, m.replacementLength, std::move(m.replacement)};
  }

  Str run(bool nilIfUnchanged, int32_t start) {
    // First search: every entry from start. The list is made at the first
    // match, so a text without any costs no allocation.
    std::unique_ptr<matchList> pending;
    for (int32_t i = 0; table_[i].matcher; ++i) {
      Found f = search(i, start);
      if (f.position < 0) continue;
      if (!pending) pending = std::make_unique<matchList>(true);
      pending->add(f.position, i, f.matchLength, f.replacementLength, std::move(f.replacement));
    }
    if (!pending) {
      if (nilIfUnchanged) return Str();
      return Str::withCapacity(length_, text_);
    }
    pending->sort();

    matchList accepted(true);
    // Re-inserts start their sorted search where the last one ended; a
    // cursor on a record taken out moves to the next one.
    std::unique_ptr<matchCursor> inserter = pending->infoStart()->clone(1, 0);
    int64_t outputLength = int64_t{length_} - start;
    while (!pending->isEmpty()) {
      matchNode* r = pending->infoStart()->infoNode();
      if (r->position == -1) raise("BUG", "pString; dynamicTranslateStr(); closestMatchPos=-1");
      // A zero-length match would be found again at the same place for ever.
      if (r->matchLength < 1) raise("BUG", "dynamicTranslateStr(); zero-length match");
      const int64_t end = int64_t{r->position} + r->matchLength;
      if (end > length_) raise("BUG", "dynamicTranslateStr(); next match is before current position (2)");
      const auto searchPosition = static_cast<int32_t>(end);
      outputLength += int64_t{r->replacementLength} - r->matchLength;
      accepted.add(r->position, r->entryIndex, r->matchLength, r->replacementLength, std::move(r->replacement));
      r->replacement = Str();

      // Every entry whose pending match the accepted one reached (the
      // accepted entry first) is searched again from its end, so matches
      // never overlap.
      do {
        matchNode* f = pending->infoStart()->infoNode();
        f->replacement = Str();
        Found again = search(f->entryIndex, searchPosition);
        MegaNode* taken = pending->infoStart()->extract();
        if (again.position < 0) {
          pending->destroyNodes(taken);
        } else {
          f->position = again.position;
          f->matchLength = again.matchLength;
          f->replacementLength = again.replacementLength;
          f->replacement = std::move(again.replacement);
          if (!inserter->infoNode()) inserter = pending->infoStart()->clone(1, 0);
          inserter->sortedInsert(f);
        }
      } while (!pending->isEmpty() && pending->infoStart()->infoNode()->position < searchPosition);
    }
    if (outputLength < 0 || outputLength > std::numeric_limits<int32_t>::max()) {
      raise("MEM", "dynamicTranslateStr(); output length out of range");
    }

    Str output = Str::withCapacity(static_cast<int32_t>(outputLength));
    int32_t copyPosition = start;
    const MegaNode* pastEnd = accepted.infoPastEnd()->infoNode();
    for (MegaNode* n = accepted.infoStart()->infoNode(); n != pastEnd; n = n->nextNode()) {
      auto* a = static_cast<matchNode*>(n);
      const int32_t gap = a->position - copyPosition;
      if (gap < 0) raise("BUG", "dynamicTranslateStr(); next match is before current position (1)");
      output.append(text_.substr(static_cast<size_t>(copyPosition), static_cast<size_t>(gap)));
      if (!a->replacement.isNil()) {
        output.append(a->replacement.view());
      } else if (const TranslateEntry& entry = table_[a->entryIndex]; entry.adder) {
        entry.adder->call(Text(text_), a->position, entry, output);
      }
      copyPosition = a->position + a->matchLength;
    }
    if (copyPosition > length_) raise("BUG", "dynamicTranslateStr(); next match is before current position (2)");
    output.append(text_.substr(static_cast<size_t>(copyPosition)));
    return output;
  }

 private:
  std::string_view text_;        // the text up to length
  std::string_view searchText_;  // the text up to its first NUL
  int32_t length_;
  const TranslateEntry* table_;
};

}  // namespace

TranslateMatch fTranslateMatcher::call(Text, int32_t, const TranslateEntry&) { return {}; }

void fTranslateAdder::call(Text, int32_t, const TranslateEntry&, Str&) {}

TranslateMatch fSimpleTranslateMatcher::call(Text, int32_t position, const TranslateEntry& entry) {
  int32_t replacementLength = textLength(entry.replacementText);
  return {position, textLength(entry.matchText), replacementLength,
          Str::withCapacity(replacementLength, entry.replacementText ? entry.replacementText : "")};
}

TranslateMatch fFixedTranslateMatcher::call(Text, int32_t position, const TranslateEntry& entry) {
  return {position, textLength(entry.matchText), textLength(entry.replacementText), Str()};
}

void fFixedTranslateAdder::call(Text, int32_t, const TranslateEntry& entry, Str& output) {
  if (entry.replacementText) output.append(entry.replacementText);
}

fTranslateMatcher& sharedTranslateMatcher() { return shared().matcher; }
fTranslateAdder& sharedTranslateAdder() { return shared().adder; }
fSimpleTranslateMatcher& sharedSimpleTranslateMatcher() { return shared().simple; }
fFixedTranslateMatcher& sharedFixedTranslateMatcher() { return shared().fixed; }
fFixedTranslateAdder& sharedFixedTranslateAdder() { return shared().fixedAdder; }
fDummyTranslateMatcher& sharedDummyTranslateMatcher() { return shared().dummy; }

void initTranslateEngine() {
  if (!gShared) gShared = std::make_unique<SharedInstances>();
}

void endTranslateEngine() { gShared.reset(); }

Str dynamicTranslateStr(Text text, const TranslateEntry* table, int32_t length, bool nilIfUnchanged,
                        int32_t start) {
  if (text.isNil()) raise("EPU", "dynamicTranslateStr(); text=NIL");
  if (length == 0) length = text.nulLength();
  if (length < 0 || length > text.length()) raise("EPU", "dynamicTranslateStr(); length outside the text");
  if (start < 0 || start > length) raise("EPU", "dynamicTranslateStr(); start outside the text");
  return Engine(text.view(), length, table).run(nilIfUnchanged, start);
}

Str translateStr(Text text, const char* const* dictionary, int32_t length, bool nilIfUnchanged,
                 int32_t start) {
  size_t items = 0;
  while (dictionary[items]) ++items;
  if (items % 2 != 0) raise("EPU", "translateStr(); dictionary is not an even number of items (pairs)");
  TranslateTable table(items / 2 + 1);
  for (size_t i = 0; i < items / 2; ++i) {
    table[i].matcher = &sharedFixedTranslateMatcher();
    table[i].matchText = dictionary[2 * i];
    table[i].adder = &sharedFixedTranslateAdder();
    table[i].replacementText = dictionary[2 * i + 1];
  }
  return dynamicTranslateStr(text, table.data(), length, nilIfUnchanged, start);
}

TranslateTable joinTranslateTableList(const TranslateEntry* const* tables) {
  TranslateTable joined;
  for (size_t t = 0; tables[t]; ++t) {
    for (const TranslateEntry* e = tables[t]; e->matcher; ++e) joined.push_back(*e);
  }
  joined.emplace_back();
  return joined;
}

TranslateTable joinTranslateTables(const TranslateEntry* first, const TranslateEntry* second) {
  const TranslateEntry* list[] = {first, second, nullptr};
  return joinTranslateTableList(list);
}

}  // namespace bw

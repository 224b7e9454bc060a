// database/soup_validate.cpp - validation of the object soup and of the
// Database's lists, and the removal of objects that nothing uses.
//
// A pass runs the indexed block file's validation first (which runs the
// heap's), then checks the compaction positions; the Database's pass then
// walks the chain of lists and every list's nodes. A repair run is one outer
// transaction of passes that ends committed only with a clean check-only
// pass (see object_soup.h). Invariants of a pass:
//   1. Without repair nothing is written.
//   2. No exception leaves validate but the validation poll's stop ("BRK",
//      which the walks ask for between passes, lists and runs of nodes): one
//      raised inside is printed (when verbose) and answers valid FALSE,
//      repaired FALSE; with repair the guard discards what the run wrote
//      (a stop's too), which puts the soup into its must-close state.
//   3. Every walk ends: each keeps the set of lists or nodes it visited, and
//      a list or node met twice is treated as one that does not exist.
//   4. A repair salvages a broken chain of nodes or lists rather than cut it:
//      the walk goes on at what the lost links still reach. A node whose
//      prevIndex names an index that is gone follows the node that index
//      stood behind; walking back from the tail (through the node whose
//      nextIndex names a lost index, where the back links end there) finds
//      the rest; a chain of lists goes on at the lists the caller's model
//      names. Only what is unreachable both ways is cut off. A node met
//      behind another than its back link names, where that node links to
//      it (or the caller's model puts it in another list), is another
//      list's: the link that led to it is the damaged one.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "database/soup_block_file.h"
#include "database/soup_database.h"
#include "database/validation_report.h"

namespace bw {

namespace {

constexpr intptr_t kSeen = 1;
// Repair passes of one run before it gives up on a file that keeps changing.
constexpr int kMaxRepairPasses = 8;
// Nodes a list walk takes between two calls of the validation poll.
constexpr int64_t kNodesBetweenPolls = 512;

// Runs the steps as runValidationSteps does, except that a stop of the
// validation poll ("BRK") passes on, unprinted, once the steps' guards have
// discarded what they wrote.
template <class Steps>
void runCatching(bool verbose, ValidationResult& result, Steps steps) {
  std::optional<eException> stop;
  const bool ran = runValidationSteps(verbose, [&] {
    try {
      steps();
    } catch (const eException& e) {
      if (e.code() != "BRK") throw;
      stop = e;
    }
  });
  if (stop) throw *stop;
  if (!ran) result.valid = result.repaired = false;
}

// Keeps the index set only for a valid run whose caller asked for it.
ValidationResult finished(ValidationResult result, bool keepSet) {
  result.blocks.reset();
  if (!result.valid || !keepSet) result.indices.reset();
  return result;
}

// The lists or nodes a walk met: a bit per index, grown as indices come.
class IndexMarks {
 public:
  bool get(int32_t index) const {
    const auto at = static_cast<size_t>(index);
    return index > 0 && at < bits_.size() && bits_[at];
  }
  void set(int32_t index) {
    const auto at = static_cast<size_t>(index);
    if (at >= bits_.size()) bits_.resize(std::max(at + 1, bits_.size() * 2));
    bits_[at] = true;
  }

 private:
  std::vector<bool> bits_;
};

}  // namespace

ValidationResult cJournaledIndexedObjectSoup::validate(bool verbose, bool repair, bool keepSet) {
  if (!repair) return validatePass(verbose, false, keepSet);
  ValidationResult result;
  bool clean = false;
  runCatching(verbose, result, [&] {
    requireChangeable("validate");
    SoupTransaction outer(*file_);
    bool mended = false;
    bool stalled = false;
    for (int pass = 0;; ++pass) {
      pollValidation();
      // Only a check-only pass tells that the file is sound; its findings
      // were printed by the repair pass before it.
      ValidationResult check = validatePass(false, false, keepSet);
      if (check.valid) {
        outer.finish();
        result = std::move(check);
        result.repaired = mended;
        clean = true;
        return;
      }
      if (pass == kMaxRepairPasses || stalled) break;
      pollValidation();
      ValidationResult mend = validatePass(verbose, true, false);
      if (!mend.valid || mustClose_) break;
      mended = mended || mend.repaired;
      // A pass that mended nothing (it may have restarted the compaction
      // walk) gets one more check, and no further pass.
      stalled = !mend.repaired;
    }
    // Not mended to a sound file: the guard discards every pass.
  });
  if (!clean) result.valid = result.repaired = false;
  return finished(std::move(result), keepSet);
}

ValidationResult cJournaledIndexedObjectSoup::validatePass(bool verbose, bool repair, bool keepSet) {
  ValidationResult result;
  runCatching(verbose, result, [&] {
    requireOpen("validate");
    result = file_->validate(verbose, repair, true);
    if (repair) forgetPlacements();  // the block layers' repair may rewrite or free blocks
    if (!result.valid) return;
    std::optional<SoupTransaction> tx;
    if (repair) tx.emplace(*file_);
    bool reset = false;
    auto checkPosition = [&](const char* format, int64_t block) {
      if (block == 0 || valueInSet(*result.blocks, block) != 0) return;
      printFinding(verbose, format, static_cast<long>(block));
      if (repair) {
        reset = true;
        result.repaired = true;
      } else {
        result.valid = false;
      }
    };
    checkPosition("autoBlockToCompact %ld does not exist!\n", autoBlockToCompact_);
    checkPosition("autoDesiredBlock %ld does not exist!\n", autoDesiredBlock_);
    if (reset) {
      CompactionBlocks first = firstCompactionBlocks();
      setAutoBlockToCompact(first.blockToCompact);
      setAutoDesiredBlock(first.desiredBlock);
    }
    if (tx) tx->finish();
  });
  return finished(std::move(result), keepSet);
}

// --- the Database ------------------------------------------------------------------------

// One walk over the chain of lists and their nodes (see validate).
class ListChainCheck {
 public:
  using ListModel = cJournaledIndexedObjectSoupDatabase::ListModel;
  // Without indices (check only), the block index tells which indices exist.
  using NodeRecordCheck = cJournaledIndexedObjectSoupDatabase::NodeRecordCheck;
  ListChainCheck(cJournaledIndexedObjectSoupDatabase& db, ValidationSet* indices, bool verbose, bool repair,
                 ValidationResult& result, const ListModel* model, const NodeRecordCheck* nodeCheck = nullptr)
      : db_(db),
        indices_(indices),
        verbose_(verbose),
        repair_(repair),
        result_(result),
        model_(model),
        nodeCheck_(nodeCheck) {}

  // A finding that can be mended.
  template <class Mend>
  void mendOr(Mend mend) {
    FindingTally tally{repair_, result_.valid, result_.repaired};
    tally.mendOr(mend);
    result_.valid = tally.valid;
    result_.repaired = tally.repaired;
  }

  // Without indices, *at (when given) receives the index's data position.
  bool isIndex(int32_t index, int64_t* at = nullptr) {
    if (index <= 0) return false;
    if (indices_) return indices_->get(index) != 0;
    const int64_t position = blockOf(index);
    if (at) *at = position;
    return position != 0;
  }
  // The data position of index (0 for none). A walk that changes nothing
  // reads the index's entries a run at a time and keeps a few runs: the
  // items of one list were mostly made together, so their indices lie
  // within a few runs of each other.
  int64_t blockOf(int32_t index) {
    SoupBlockFile& file = db_.infoBlockFile();
    if (repair_) return file.infoBlockOfIndex(index, true);
    const int32_t first = index & ~(kEntryRun - 1);
    EntryRun& run = entryRuns_[static_cast<size_t>(first / kEntryRun) % entryRuns_.size()];
    if (first != run.first) {
      file.infoBlocksOfIndices(first, kEntryRun, run.positions.data());
      run.first = first;
    }
    return run.positions[static_cast<size_t>(index - first)];
  }
  bool refused(int32_t index) const { return model_ && model_->nonLists.contains(index); }
  // The links readObjectNodeHeader answers for index (whose data position
  // is at), read without being remembered; with a node check, the record's
  // first bytes are read into record_ with them.
  NodeHeader peekNodeHeader(int32_t index, int64_t at) {
    recordSize_ = 0;
    cIndexedObject* object = db_.findRegisteredObject(index);
    const bool loaded = object && object->infoUseCount() != -1 && object->infoIsNode();
    if (loaded && !nodeCheck_) {
      const auto* node = static_cast<cIndexedObjectNode*>(object);
      return {node->infoNextIndex(), node->infoPrevIndex()};
    }
    SoupBlockFile& file = db_.infoBlockFile();
    if (at == 0) return db_.readObjectNodeHeader(index);  // raises as it does
    if (nodeCheck_) {
      recordSize_ = file.readIndexBlockStart(at, record_, 8, kRecordBytes);
    } else {
      recordSize_ = 8;
      file.readBytes(at, record_, recordSize_);
    }
    if (loaded) {
      const auto* node = static_cast<cIndexedObjectNode*>(object);
      return {node->infoNextIndex(), node->infoPrevIndex()};
    }
    auto word = [&](int k) {
      return static_cast<int32_t>((uint32_t{record_[k]} << 24) | (uint32_t{record_[k + 1]} << 16) |
                                  (uint32_t{record_[k + 2]} << 8) | record_[k + 3]);
    };
    return {word(0), word(4)};
  }
  // After walkLists: whether the compaction walk stands at a list the walk
  // met (it reads it as a list), or nowhere; tells when not.
  bool compactionWalkAtAList() {
    int64_t defrag = db_.infoDefragListIndex();
    if (defrag < -1) defrag = ~defrag;
    if (defrag == 0 || defrag == -1 || (defrag <= INT32_MAX && seenLists_.get(static_cast<int32_t>(defrag)))) {
      return true;
    }
    printFinding(verbose_, "Invalid listIndex=%ld (from readDefragListIndex())\n", static_cast<long>(defrag));
    return false;
  }
  // Where a chain whose first list was refused starts again: 0 drops it.
  int32_t restartAt(int32_t refusedHead) {
    if (model_) {
      for (int32_t list : model_->lists) {
        if (list != refusedHead && isIndex(list) && !refused(list)) return list;
      }
    }
    return 0;
  }

  void walkLists(int32_t head);

 private:
  void walkNodes(cIndexedObjectList& list);
  // A node the walk may still take: an index, neither met nor a list.
  bool isFreeNode(int32_t index);
  // Where a list's walk goes on after a break behind last at dangling (0
  // when the walk ended short of the tail): the node whose back link names
  // last or a lost dangling, else the run of the list's nodes (as the model
  // tells) that starts nearest, else the earliest node the walk back from
  // the tail reaches. 0 for none.
  int32_t salvageNodes(cIndexedObjectList& list, int32_t last, int32_t dangling);
  // Whether node, met behind another than its back link names, is another
  // list's: the caller's model says so, or backLink, not walked yet, links
  // to it.
  bool belongsElsewhere(cIndexedObjectList& list, int32_t node, int32_t backLink);
  // Where the chain goes on after a break: the earliest list the walk back
  // from last (the head's listPrevIndex) reaches. 0 for none.
  int32_t salvageLists(int32_t last);
  // Where it goes on when the links on both sides of a break are lost: the
  // first list the model names that the walk has not met. 0 for none.
  int32_t unwalkedModelList() {
    if (model_) {
      for (int32_t list : model_->lists) {
        if (isIndex(list) && !seenLists_.get(list) && !seenNodes_.get(list) && !refused(list)) return list;
      }
    }
    return 0;
  }
  // The nodes whose links name an index that is gone, and the lists of the
  // chain, read once per pass at the first break.
  struct Orphans {
    // lost index, or node that does not link back -> node whose prevIndex names it
    std::unordered_map<int32_t, int32_t> after;
    std::unordered_map<int32_t, int32_t> before;  // lost index -> node whose nextIndex names it
    std::unordered_set<int32_t> lists;
    // list -> (lost index, node whose prevIndex names it), for the nodes
    // the model names as that list's
    std::unordered_map<int32_t, std::vector<std::pair<int32_t, int32_t>>> runsOf;
  };
  const Orphans& orphans();
  void closeCircle(int32_t head, int32_t last, int32_t lastWalked);
  // Changes the list's links and saves it.
  template <class Change>
  void relink(cIndexedObjectList& list, Change change) {
    cIndexedObjectList::Links links = list.links();
    change(links);
    list.setLinks(links);
    db_.saveChangesToObject(&list);
  }

  cJournaledIndexedObjectSoupDatabase& db_;
  ValidationSet* indices_;
  bool verbose_;
  bool repair_;
  ValidationResult& result_;
  const ListModel* model_;
  const NodeRecordCheck* nodeCheck_;
  static constexpr int32_t kRecordBytes = cJournaledIndexedObjectSoupDatabase::kCheckedRecordBytes;
  uint8_t record_[kRecordBytes] = {};
  // Runs of the index's entries, each in the slot its number gives.
  static constexpr int32_t kEntryRun = 64;
  struct EntryRun {
    int32_t first = -1;  // the run's first index, -1 before it is read
    std::array<int64_t, kEntryRun> positions{};
  };
  std::array<EntryRun, 4> entryRuns_{};
  int32_t recordSize_ = 0;
  IndexMarks seenLists_;
  IndexMarks seenNodes_;
  // Nodes refused as another list's: never taken again by a salvage, which
  // would hand the same node back for ever.
  std::unordered_set<int32_t> refusedNodes_;
  int32_t first_ = 0;
  std::optional<Orphans> orphans_;
  int64_t steps_ = 0;  // nodes walked, for the validation poll
};

ValidationResult cJournaledIndexedObjectSoupDatabase::validatePass(bool verbose, bool repair, bool keepSet) {
  ValidationResult result = cJournaledIndexedObjectSoup::validatePass(verbose, repair, true);
  if (!result.valid) return result;
  runCatching(verbose, result, [&] {
    std::optional<SoupTransaction> tx;
    bool autoCompact = infoAutoCompact();
    if (repair) {
      tx.emplace(infoBlockFile());
      setAutoCompact(false);
    }
    struct Restore {
      cJournaledIndexedObjectSoup& soup;
      bool on;
      ~Restore() { soup.setAutoCompact(on); }
    } restore{*this, autoCompact};

    std::optional<ListModel> model;
    if (repair && listModelSource_) model = listModelSource_(*result.indices);
    ListChainCheck chain(*this, result.indices.get(), verbose, repair, result, model ? &*model : nullptr);
    chain.walkLists(infoHeadListIndex());
    // A damaged walk position naming another object, which may be
    // destroyed later, starts the walk again.
    if (!chain.compactionWalkAtAList()) {
      if (repair) {
        compactStep(true);
      } else {
        result.valid = false;
      }
    }
    if (tx) tx->finish();
  });
  return finished(std::move(result), keepSet);
}

bool cJournaledIndexedObjectSoupDatabase::listsAgree(bool verbose) { return listsAgree(verbose, nullptr); }

bool cJournaledIndexedObjectSoupDatabase::listsAgree(bool verbose, const NodeRecordCheck& nodeCheck) {
  requireOpen("listsAgree");
  ValidationResult result;
  result.valid = true;
  // The walk reads through the whole file once and changes nothing.
  struct Windows {
    SoupBlockFile& file;
    explicit Windows(SoupBlockFile& f) : file(f) { file.readInWindows(true); }
    ~Windows() { file.readInWindows(false); }
  } windows(infoBlockFile());
  runCatching(verbose, result, [&] {
    ListChainCheck chain(*this, nullptr, verbose, false, result, nullptr, nodeCheck ? &nodeCheck : nullptr);
    chain.walkLists(infoHeadListIndex());
    if (!chain.compactionWalkAtAList()) result.valid = false;
  });
  return result.valid;
}

void ListChainCheck::walkLists(int32_t head) {
  if (head == 0) return;
  int32_t prev = 0;
  int32_t last = 0;
  int32_t lastWalked = 0;
  for (int32_t index = head;;) {
    db_.pollValidation();
    // A list met before, met as a node, or held by the model as something
    // else, is treated as no list.
    if (!isIndex(index) || seenLists_.get(index) || seenNodes_.get(index) || refused(index)) {
      printFinding(verbose_, "Invalid listIndex=%ld (prevListIndex=%ld)\n", static_cast<long>(index), static_cast<long>(prev));
      int32_t rest = repair_ && prev != 0 ? salvageLists(last) : 0;
      if (rest == 0 && repair_ && prev != 0) rest = unwalkedModelList();
      mendOr([&] {
        if (prev == 0) {
          db_.setHeadListIndex(restartAt(index));  // 0: the chain is dropped
        } else if (rest != 0) {
          cIndexedObjectList* before = loadObject_cIndexedObjectList(db_, prev);
          LoadedUse beforeUse(db_, before);
          relink(*before, [&](auto& l) { l.listNext = rest; });
        } else {
          last = 0;
        }
      });
      if (rest == 0) break;
      index = rest;
      continue;
    }
    seenLists_.set(index);
    if (indices_) indices_->set(index, cJournaledIndexedObjectSoupDatabase::kListOfChain);
    cIndexedObjectList* list = loadObject_cIndexedObjectList(db_, index);
    LoadedUse use(db_, list);
    if (nodeCheck_ && !(*nodeCheck_)(index, 0, {})) throw ValidationAbort{};
    cIndexedObjectList::Links links = list->links();
    if (prev == 0) {
      first_ = index;
      last = links.listPrev;
    } else if (links.listPrev != prev) {
      printFinding(verbose_, "Invalid list.listPrevIndex=%ld expected %ld\n", static_cast<long>(links.listPrev),
                   static_cast<long>(prev));
      mendOr([&] { relink(*list, [&](auto& l) { l.listPrev = prev; }); });
    }
    walkNodes(*list);
    prev = index;
    lastWalked = index;
    index = list->infoListNextIndex();
    if (index != head) continue;
    // Back at the head: lists the head's back link or the model still name
    // were cut off by a link that closed the circle early.
    const int32_t salvaged = repair_ ? salvageLists(last) : 0;
    const int32_t rest = salvaged != 0 || !repair_ ? salvaged : unwalkedModelList();
    if (rest == 0) break;
    printFinding(verbose_, "Invalid tail list.listNextIndex=%ld expected %ld\n", static_cast<long>(head),
                 static_cast<long>(rest));
    mendOr([&] { relink(*list, [&](auto& l) { l.listNext = rest; }); });
    index = rest;
  }
  if (lastWalked == 0 || db_.infoHeadListIndex() == 0) return;  // no list was walked, or the chain was dropped
  closeCircle(head, last, lastWalked);
}

void ListChainCheck::walkNodes(cIndexedObjectList& list) {
  int32_t p = 0;
  int32_t pPrev = 0;
  // The walk goes on at rest, linked behind p.
  auto linkOn = [&](int32_t rest) {
    if (p != 0) {
      db_.writeObjectNodeHeader(p, rest, pPrev);
    } else {
      relink(list, [&](auto& l) { l.head = rest; });
    }
  };
  for (int32_t n = list.infoHeadIndex();;) {
    if (n == 0) {
      // The walk ended short of a tail that is still there.
      int32_t tail = list.infoTailIndex();
      int32_t rest = repair_ && tail != p && isFreeNode(tail) ? salvageNodes(list, p, 0) : 0;
      if (rest == 0) break;
      printFinding(verbose_, "Invalid list.tailIndex=%ld expected %ld\n", static_cast<long>(tail), static_cast<long>(p));
      mendOr([&] { linkOn(rest); });
      n = rest;
      continue;
    }
    // A node met before, or that is a list of the chain, is treated as no
    // node; so is one that belongs elsewhere (the link that led here is the
    // damaged one).
    int64_t at = 0;
    bool lost = !isIndex(n, &at) || seenNodes_.get(n) || seenLists_.get(n);
    NodeHeader header;
    if (!lost) {
      // The check alone (no indices) passes once: it remembers no links.
      header = indices_ ? db_.readObjectNodeHeader(n) : peekNodeHeader(n, at);
      lost = header.prevIndex != p && belongsElsewhere(list, n, header.prevIndex);
    }
    if (lost) {
      printFinding(verbose_, "Invalid nodeIndex=%ld (prevNodeIndex=%ld)\n", static_cast<long>(n), static_cast<long>(p));
      refusedNodes_.insert(n);
      int32_t rest = repair_ ? salvageNodes(list, p, n) : 0;
      mendOr([&] {
        if (rest != 0) {
          linkOn(rest);
          return;
        }
        if (p != 0) db_.writeObjectNodeHeader(p, 0, pPrev);
        relink(list, [&](auto& l) {
          l.tail = p;
          if (p == 0) l.head = 0;
        });
      });
      if (rest == 0) break;
      n = rest;
      continue;
    }
    seenNodes_.set(n);
    if (++steps_ % kNodesBetweenPolls == 0) db_.pollValidation();
    // A node its caller refuses ends the walk: the lists do not agree.
    if (nodeCheck_ && !(*nodeCheck_)(list.soupIndexOrNone(), n, std::span<const uint8_t>(record_, recordSize_))) {
      printFinding(verbose_, "Invalid node record nodeIndex=%ld\n", static_cast<long>(n));
      throw ValidationAbort{};
    }
    if (header.prevIndex != p) {
      printFinding(verbose_, "Invalid nodePrevIndex=%ld expected %ld\n", static_cast<long>(header.prevIndex),
                   static_cast<long>(p));
      mendOr([&] { db_.writeObjectNodeHeader(n, header.nextIndex, p); });
    }
    pPrev = p;
    p = n;
    n = header.nextIndex;
  }
  if (list.infoTailIndex() != p) {
    printFinding(verbose_, "Invalid list.tailIndex=%ld expected %ld\n", static_cast<long>(list.infoTailIndex()),
                 static_cast<long>(p));
    mendOr([&] { relink(list, [&](auto& l) { l.tail = p; }); });
  }
}

bool ListChainCheck::belongsElsewhere(cIndexedObjectList& list, int32_t node, int32_t backLink) {
  if (model_ && model_->listOfNode) {
    const int32_t owner = model_->listOfNode(node);
    if (owner != 0 && owner != list.soupIndexOrNone()) return true;
  }
  if (backLink == 0 || !isIndex(backLink) || seenLists_.get(backLink) || seenNodes_.get(backLink)) return false;
  try {
    return db_.readObjectNodeHeader(backLink).nextIndex == node;
  } catch (const eException&) {
    return false;
  }
}

bool ListChainCheck::isFreeNode(int32_t index) {
  return isIndex(index) && !seenNodes_.get(index) && !seenLists_.get(index) && !refusedNodes_.contains(index) &&
         !orphans().lists.contains(index);
}

int32_t ListChainCheck::salvageNodes(cIndexedObjectList& list, int32_t last, int32_t dangling) {
  const Orphans& o = orphans();
  // The node that names last, or the lost dangling, as the one before it.
  for (int32_t before : {last, dangling}) {
    if (before == 0 || (before == dangling && isIndex(dangling))) continue;
    auto behind = o.after.find(before);
    if (behind != o.after.end() && isFreeNode(behind->second)) return behind->second;
  }
  // A run of the list's nodes cut off between lost ones: the one that
  // starts nearest the break (indices are handed out in order).
  if (auto runs = o.runsOf.find(list.soupIndexOrNone()); runs != o.runsOf.end()) {
    int32_t best = 0;
    int64_t bestDistance = 0;
    for (auto [lost, node] : runs->second) {
      int64_t distance = std::abs(int64_t{lost} - dangling);
      if (isFreeNode(node) && (best == 0 || distance < bestDistance)) {
        best = node;
        bestDistance = distance;
      }
    }
    if (best != 0) return best;
  }
  std::unordered_set<int32_t> back;
  int32_t earliest = 0;
  for (int32_t t = list.infoTailIndex(); isFreeNode(t) && back.insert(t).second;) {
    earliest = t;
    t = db_.readObjectNodeHeader(t).prevIndex;
    if (t != 0 && !isIndex(t)) {
      auto ahead = o.before.find(t);
      t = ahead != o.before.end() ? ahead->second : 0;
    }
  }
  return earliest;
}

int32_t ListChainCheck::salvageLists(int32_t last) {
  std::unordered_set<int32_t> back;
  int32_t earliest = 0;
  for (int32_t t = last; isIndex(t) && !seenLists_.get(t) && !seenNodes_.get(t) && !refused(t) &&
                         back.insert(t).second;) {
    earliest = t;
    cIndexedObjectList* list = loadObject_cIndexedObjectList(db_, t);
    LoadedUse use(db_, list);
    t = list->infoListPrevIndex();
  }
  return earliest;
}

const ListChainCheck::Orphans& ListChainCheck::orphans() {
  if (orphans_) return *orphans_;
  orphans_.emplace();
  Orphans& o = *orphans_;
  // The lists: those of the chain from its head and those the model names.
  if (model_) o.lists.insert(model_->lists.begin(), model_->lists.end());
  for (int32_t l = db_.infoHeadListIndex(); isIndex(l) && !refused(l) && o.lists.insert(l).second;) {
    try {
      cIndexedObjectList* list = loadObject_cIndexedObjectList(db_, l);
      LoadedUse use(db_, list);
      l = list->infoListNextIndex();
    } catch (const eException&) {
      break;
    }
  }
  std::vector<int32_t> indices;
  for (bool more = indices_->gotoFirst(); more; more = indices_->gotoNext()) {
    indices.push_back(static_cast<int32_t>(indices_->infoCurrent().key));
  }
  std::unordered_map<int32_t, NodeHeader> headers;
  for (int32_t index : indices) {
    if (o.lists.contains(index)) continue;
    try {
      headers.emplace(index, db_.readObjectNodeHeader(index));
    } catch (const eException&) {
      // too short to be a node
    }
  }
  for (auto [index, h] : headers) {
    // A back link to an index that is gone, or to a node that does not
    // link here (its header was lost with the rest of its record).
    auto linked = h.prevIndex != 0 ? headers.find(h.prevIndex) : headers.end();
    if (h.prevIndex != 0 && (!isIndex(h.prevIndex) || (linked != headers.end() && linked->second.nextIndex != index))) {
      o.after.emplace(h.prevIndex, index);
      if (model_ && model_->listOfNode) {
        if (int32_t owner = model_->listOfNode(index)) o.runsOf[owner].emplace_back(h.prevIndex, index);
      }
    }
    if (h.nextIndex != 0 && !isIndex(h.nextIndex)) o.before.emplace(h.nextIndex, index);
  }
  return o;
}

void ListChainCheck::closeCircle(int32_t head, int32_t last, int32_t lastWalked) {
  cIndexedObjectList* first = loadObject_cIndexedObjectList(db_, first_);
  LoadedUse firstUse(db_, first);
  cIndexedObjectList* tail = loadObject_cIndexedObjectList(db_, lastWalked);
  LoadedUse tailUse(db_, tail);
  if (last == lastWalked) {
    if (first->infoListPrevIndex() != last) {
      printFinding(verbose_, "Invalid head list.listPrevIndex=%ld expected %ld\n",
                   static_cast<long>(first->infoListPrevIndex()), static_cast<long>(last));
      mendOr([&] { relink(*first, [&](auto& l) { l.listPrev = last; }); });
    }
    if (tail->infoListNextIndex() != head) {
      printFinding(verbose_, "Invalid tail list.listNextIndex=%ld expected %ld\n",
                   static_cast<long>(tail->infoListNextIndex()), static_cast<long>(head));
      mendOr([&] { relink(*tail, [&](auto& l) { l.listNext = head; }); });
    }
    return;
  }
  printFinding(verbose_, "Invalid tailListIndex=%ld expected %ld\n", static_cast<long>(last), static_cast<long>(lastWalked));
  mendOr([&] {
    relink(*tail, [&](auto& l) { l.listNext = head; });
    relink(*first, [&](auto& l) { l.listPrev = lastWalked; });
  });
}

// --- unused objects ---------------------------------------------------------------------------

int64_t cJournaledIndexedObjectSoup::destroyUnusedObjects(ValidationSet& set, bool verbose) {
  requireChangeable("destroyUnusedObjects");
  SoupTransaction tx(*file_);
  std::vector<intptr_t> indices;
  for (bool more = set.gotoFirst(); more; more = set.gotoNext()) indices.push_back(set.infoCurrent().key);
  for (intptr_t index : indices) destroyObject(static_cast<int32_t>(index));
  tx.finish();
  printFinding(verbose, "%ld objects were allocated by unused\n", static_cast<long>(indices.size()));
  return static_cast<int64_t>(indices.size());
}

int64_t cJournaledIndexedObjectSoupDatabase::destroyUnusedObjects(ValidationSet& set, bool verbose) {
  requireChangeable("destroyUnusedObjects");
  SoupTransaction tx(infoBlockFile());
  int32_t head = infoHeadListIndex();
  if (head != 0) {
    int32_t stopAt = 0;
    {
      cIndexedObjectList* first = loadObject_cIndexedObjectList(*this, head);
      LoadedUse use(*this, first);
      stopAt = first->infoListPrevIndex();
    }
    ValidationSet seen;
    for (int32_t index = head; index != 0 && seen.get(index) == 0;) {
      seen.set(index, kSeen);
      cIndexedObjectList* list = loadObject_cIndexedObjectList(*this, index);
      int32_t next = list->infoListNextIndex();
      if (set.get(index) == 0) {
        unloadObject(list);
      } else {
        while (int32_t node = list->infoHeadIndex()) {
          list->remove(node);
          if (set.get(node) != 0) {
            destroyObject(node);
            set.get(node, true);
          }
        }
        printFinding(verbose, "List was allocated but unused (index=%ld)\n", static_cast<long>(index));
        unloadAndDestroyObjectList(list);
        set.get(index, true);
      }
      if (index == stopAt) break;
      index = next;
    }
  }
  int64_t count = cJournaledIndexedObjectSoup::destroyUnusedObjects(set, verbose);
  // The compaction walk may stand at an index that was destroyed (a list
  // goes through unloadAndDestroyObjectList, which moves it on; a damaged
  // defragListIndex may name any index): it starts again.
  int64_t defrag = infoDefragListIndex();
  if (defrag < -1) defrag = ~defrag;
  if (defrag > 0 && (defrag > INT32_MAX || infoBlockFile().infoBlockOfIndex(static_cast<int32_t>(defrag), true) == 0)) {
    compactStep(true);
  }
  tx.finish();
  return count;
}

}  // namespace bw

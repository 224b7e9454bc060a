// database/object_soup.h - cJournaledIndexedObjectSoup, the object store on
// top of the indexed block file: one object per index, stored as the record
// its own restore writes, with a table of the loaded objects.
//
// Index header values (entries 6..13 of the index array):
//   6 root value   7 usedBytes   8 autoBlockToCompact   9 open mark /
//   needs-repair (-1 while open, else the flag close stored)
//   10 autoDesiredBlock   11..13 extra values 1..3
//
// Invariants:
//   1. The loaded-object table exists exactly while the soup is open. It
//      owns its objects: an entry leaving it deletes the object. At most one
//      object per index is in it.
//   2. An object in the table has useCount >= 1, or -1 while registered but
//      unread. unloadObject takes the entry out when its count drops to 0.
//   3. usedBytes = the sum over all stored objects and arrays of (data
//      capacity of the block + per-block overhead), kept in value 7 by the
//      same transaction that changes a block.
//   4. Every changing operation checks the caller's input before it begins
//      its transaction, and runs inside a SoupTransaction: an exception inside
//      discards every uncommitted change of the run.
//   5. After any discard (a guard, or "TRAN" misuse below) the soup
//      reloads values 7, 8, 10 (and the
//      Database's 13), keeps its in-memory
//      needs-repair flag and is in the must-close state: loaded objects may
//      no longer match the file. Every changing operation then raises "TRAN"
//      "cJournaledIndexedObjectSoup.<method>(); changes were discarded, close
//      the database", flush writes nothing, close acts as closeQuickly (the
//      open mark stays, so the next open validates). Loads, unloads, the info
//      queries, getTime/setTime, setNeedsRepair and both closes still work.
//   6. The file time (seconds since 2000) is put back after the soup's own
//      header writes at open and close, so opening and closing do not make a
//      database look newer; committed changes do.
//   7. A record is read and written through a stream bound to its block's
//      data area: it can never overrun into a neighbouring block.
//   8. A record that does not decode (its restore raises anything but
//      "MEM", "BRK", "FULL" or "FILE") raises eRecordDamage with the
//      restore's code and message: the file is damaged, not the program.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "core/exception.h"
#include "core/number_space.h"
#include "core/object.h"
#include "core/str.h"
#include "database/block_validate.h"
#include "database/indexed_object.h"
#include "database/soup_block_file.h"
#include "database/soup_stream.h"

namespace bw {

// A stored record that does not decode (invariant 8), or links that do not
// agree met by a walk (raiseLinkDamage).
class eRecordDamage : public eException {
 public:
  using eException::eException;
};

// Links that do not agree with each other or with the records they name: a
// list or chain that comes back to a member it went through, a node of
// another list, a link naming an object of another class. The file is
// damaged, not the program: eRecordDamage with "BUG" and message.
[[noreturn]] inline void raiseLinkDamage(std::string_view message) { throw eRecordDamage("BUG", message); }

// Header value entries of the soup.
inline constexpr int32_t kSoupRootValue = 6;
inline constexpr int32_t kSoupUsedBytes = 7;
inline constexpr int32_t kSoupAutoBlockToCompact = 8;
inline constexpr int32_t kSoupOpenMark = 9;
inline constexpr int32_t kSoupAutoDesiredBlock = 10;
inline constexpr int32_t kSoupExtra1 = 11;
inline constexpr int32_t kSoupExtra2 = 12;
inline constexpr int32_t kSoupExtra3 = 13;

// Where a compaction pass starts: the first block to compact and the first
// block desired in front of it.
struct CompactionBlocks {
  int64_t blockToCompact = 0;
  int64_t desiredBlock = 0;
};

class cJournaledIndexedObjectSoup : public class_base {
  BW_CLASS(cJournaledIndexedObjectSoup, class_base)

 public:
  // The soup's `new` (commitDelay): the journaled indexed block file with pad
  // byte 0 and that commit delay. The application passes 2.
  explicit cJournaledIndexedObjectSoup(int32_t commitDelay);
  // A soup over the given block file (tests, tools).
  explicit cJournaledIndexedObjectSoup(std::unique_ptr<SoupBlockFile> file);
  cJournaledIndexedObjectSoup(const cJournaledIndexedObjectSoup&) = delete;
  cJournaledIndexedObjectSoup& operator=(const cJournaledIndexedObjectSoup&) = delete;
  // Closes an open soup (as closeQuickly while a transaction is open or in
  // the must-close state). Never throws.
  ~cJournaledIndexedObjectSoup() override;

  // --- opening and closing --------------------------------------------------------
  // failIfExists FALSE: deletes any file at path, then open. TRUE: FALSE when
  // path exists, else open, deleting path again when that fails.
  bool openNew(Text path, bool failIfExists, bool flag);
  // FALSE when the block file cannot be opened (its error text says why).
  // Sets the open mark; infoNeedsRepair then tells whether the last run
  // ended without close. A missing file is first made whole under a
  // "<file name>_New_" name beside it, closed and renamed into place (never
  // replacing one another run made meanwhile, which is opened instead).
  bool open(Text path, bool flag);
  // open of an existing file, for reading only: it is never written, its
  // time and open mark stay, and a journal an interrupted commit left is
  // replayed in memory. Changes are allowed and go with the close.
  bool openForReading(Text path);
  // Commits, stores the needs-repair flag in place of the open mark, puts the file time back,
  // closes. Acts as closeQuickly in the must-close state.
  void close();
  // Commits what waits (unless in the must-close state or the file failed),
  // discards open transactions and closes; the open mark stays.
  void closeQuickly();
  bool isOpen() const { return table_ != nullptr; }

  Str infoErrorSource();
  Str infoError();
  bool infoAutoCompact() const { return autoCompact_; }
  void setAutoCompact(bool on) { autoCompact_ = on; }

  // --- transactions -----------------------------------------------------------------
  int32_t beginTransaction();
  void finishTransaction(int32_t id);
  // Commits what waits; writes nothing in the must-close state.
  void flush();

  // --- objects ------------------------------------------------------------------------
  // Reserves an index without a record; the object enters the table (which
  // owns it) registered, useCount -1.
  void preallocateObject(cIndexedObject* object);
  // Stores a fresh object and enters it in the table with one use; returns
  // its index. On success the table owns the object (release it with
  // unloadObject); when this raises, the object stays the caller's.
  int32_t createdObject(cIndexedObject* object);
  // createdObject, then unloadObject: the object is deleted.
  int32_t createdAndUnloadObject(cIndexedObject* object);
  // Reads a registered object's record (useCount -1 becomes 1); otherwise
  // adds one use.
  void loadRegisteredObject(cIndexedObject* object);
  // The object at index with one more use. Takes object: when the index is
  // loaded already (or is 0, giving NIL) it is deleted, else it is read and
  // enters the table. "EMU" "cJournaledIndexedObjectSoup.loadObject(); no
  // object matches provided index" for an index without a record,
  // eRecordDamage for a record that does not decode.
  cIndexedObject* loadObject(int32_t index, std::unique_ptr<cIndexedObject> object);
  // Reads the record at index into object, which stays the caller's: it
  // enters no table and takes no use (a look at a stored record that leaves
  // nothing behind; a loaded object of that index is not consulted). The
  // object must not be stored or in the table. Raises as loadObject does.
  void readRecordInto(int32_t index, cIndexedObject& object);
  // Rewrites a loaded object's record, in place or in a new block of its own
  // size (see the placement rule in object_soup_objects.cpp); answers the
  // record's size.
  int32_t saveChangesToObject(cIndexedObject* object);
  // One use less; at 0 the object leaves the table and is deleted. NIL is ignored; an object not in the table is only counted down.
  void unloadObject(cIndexedObject* object);
  // unloadObject, then destroyObject of its index. NIL is ignored.
  virtual void unloadAndDestroyObject(cIndexedObject* object);
  // Frees the record at index; refuses a loaded index.
  void destroyObject(int32_t index);
  // The loaded object at index with addUses more uses; NIL for index 0, for
  // an index not loaded and for a registered, unread one.
  cIndexedObject* findLoadedObject(int32_t index, int32_t addUses) {
    cIndexedObject* object = findRegisteredObject(index);
    if (!object || object->useCount_ == -1) return nullptr;
    object->useCount_ += addUses;
    return object;
  }
  // The table's entry at index, whatever its use count; NIL for none.
  cIndexedObject* findRegisteredObject(int32_t index) {
    if (index == 0 || !table_ || !mayBeRegistered(index)) return nullptr;
    return static_cast<cIndexedObject*>(table_->get(index));
  }
  // How many objects the table holds (loaded or registered): what bounds an
  // operation's memory.
  size_t infoTableCount() const { return table_ ? table_->infoCount() : 0; }

  // --- header values ------------------------------------------------------------------
  void setRootValue(int32_t value);
  int32_t infoRootValue();
  virtual void writeExtra1(int64_t value);
  virtual void writeExtra2(int64_t value);
  virtual void writeExtra3(int64_t value);
  virtual int64_t readExtra1();
  virtual int64_t readExtra2();
  virtual int64_t readExtra3();

  // --- arrays of 32-bit elements ---------------------------------------------------------
  // An array of count elements; returns its index.
  int32_t allocArray(int32_t count, bool clear);
  void deallocArray(int32_t index);
  // Elements outside 0 .. capacity/4 - 1 raise "EMU" "...; element out of
  // range".
  int32_t readArray(int32_t index, int32_t element);
  void writeArray(int32_t index, int32_t element, int32_t value);
  // Moves the array to a block of newCount elements keeping
  // min(newCount, oldCount) of them.
  void resizeArray(int32_t index, int32_t newCount, int32_t oldCount, bool clear);

  // --- fragmentation and compaction (database/soup_compact.cpp) ------------------------
  // Per mille of the file not in use: 1000 - (usedBytes + the block file's
  // fixed overhead) x 1000 / the file's size.
  int32_t infoFragmentation();
  // stepOnly: one compactStep, then a flush when the pass has ended.
  // Otherwise a whole pass in one transaction (every list's objects placed
  // after its record in list order, then every gap closed), then a flush.
  void defragment(bool stepOnly);
  // One step of the compaction walk; restart begins a new pass.
  virtual void compactStep(bool restart);
  virtual CompactionBlocks firstCompactionBlocks();
  // The next used block after block in file order, 0 at the end.
  virtual int64_t decideNextBlockToCompact(int64_t block);
  // The next used block after block once m was done to it: the one the move
  // found before it changed the heap, else decideNextBlockToCompact (nothing
  // moved).
  int64_t nextAfterMove(int64_t block, const MovedBlock& m);
  // The block to place after lastDesired: always 0 here (no placement order).
  virtual int64_t decideNextDesiredBlock(int64_t lastDesired);
  // The first 8 data bytes of block (a handle) into out, as the move that
  // placed it last copied them, while nothing changed since; else FALSE.
  bool movedDataHead(int64_t block, uint8_t* out);
  void setAutoBlockToCompact(int64_t block);
  void setAutoDesiredBlock(int64_t block);
  int64_t infoAutoBlockToCompact() const { return autoBlockToCompact_; }
  int64_t infoAutoDesiredBlock() const { return autoDesiredBlock_; }

  // --- validation (database/soup_validate.cpp) ------------------------------------------
  // Without repair: one check-only pass (validatePass). With repair: one
  // outer transaction of repair passes, run until a check-only pass is clean
  // or a pass mends nothing more (at most 8); valid TRUE (repaired TRUE when
  // something was mended) exactly when the file it leaves passes a check-only
  // pass, else valid and repaired FALSE and the outer transaction is
  // discarded (the must-close state). Never raises, but for the stop of the
  // validation poll: its exception (a Ctrl-C's "BRK") passes on, every change
  // of the run discarded. keepSet keeps the set of indices in use of a valid
  // run.
  ValidationResult validate(bool verbose, bool repair, bool keepSet);
  // The validation poll: a check the long walks of a validation or repair
  // call now and then (each pass, each list, every few hundred nodes or
  // objects), which raises "BRK" to stop them. None by default.
  void setValidationPoll(std::function<void()> poll) { validationPoll_ = std::move(poll); }
  void pollValidation() {
    if (validationPoll_) validationPoll_();
  }
  // Destroys every index of set (in set order) and answers how many.
  virtual int64_t destroyUnusedObjects(ValidationSet& set, bool verbose);

  // --- state -------------------------------------------------------------------------------
  bool infoNeedsRepair() const { return needsRepair_; }
  void setNeedsRepair(bool needsRepair) { needsRepair_ = needsRepair; }
  int64_t getTime();
  void setTime(int64_t time);
  int64_t infoUsedBytes() const { return usedBytes_; }
  int32_t infoPerBlockOverhead() const { return perBlockOverhead_; }
  // True after a discard until the soup is closed (invariant 5).
  bool infoMustClose() const { return mustClose_; }
  SoupBlockFile& infoBlockFile() { return *file_; }

  // Raises "EMU" when the soup is not open and the must-close "TRAN" when
  // changes were discarded; every changing operation starts with it.
  void requireChangeable(const char* method) const {
    if (!table_ || mustClose_) [[unlikely]] raiseUnchangeable(method);
  }
  void requireOpen(const char* method) const {
    if (!table_) [[unlikely]] raiseUnchangeable(method);
  }

 protected:
  // The data position of a stored object's block: from its placement while
  // that holds (see notePlacement), else as infoBlockOfIndex(index, FALSE)
  // answers or raises.
  int64_t dataPositionOf(const cIndexedObject& object);
  // One pass: the block layers, then the compaction positions; with repair,
  // in a transaction of its own. Never raises.
  virtual ValidationResult validatePass(bool verbose, bool repair, bool keepSet);
  // Rereads the header values a subclass mirrors (after open and after a
  // discard). Must not throw.
  virtual void reloadHeaderMirrors() {}

 private:
  // requireChangeable's and requireOpen's raise: "EMU" when the soup is not
  // open, else the must-close "TRAN".
  [[noreturn]] void raiseUnchangeable(const char* method) const;
  // Stores the record once, into the stream unbound, and answers its size;
  // the gathered bytes wait there for writeRecord.
  int32_t measure(cIndexedObject& object);
  // createdObject's record and bookkeeping, without the table's entry.
  void storeCreated(cIndexedObject* object);
  void readRecord(cIndexedObject& object);
  // "EMU" for an object that is loaded or registered: a record read beside
  // the table must not change one.
  void requireOutsideTable(const cIndexedObject& object) const;
  // Places the bytes measure gathered into the block: "BUG" mismatch, with
  // nothing written, when they are not object's or not size bytes.
  void writeRecord(cIndexedObject& object, int64_t dataPosition, int32_t capacity, int32_t size,
                   const char* mismatch);
  void setUsedBytes(int64_t value);
  // Frees the block of index (an object or an array) with its bookkeeping.
  void freeIndexBlock(int32_t index, int64_t dataPosition);
  // Moves a compaction position naming block (a handle) on before the block
  // is freed or moved.
  void moveCompactionPositionsOff(int64_t block);
  void changesDiscarded() noexcept;
  // Where a create, load or save found object's block: its next save takes
  // the data position and capacity from there instead of reading them again.
  // A placement holds while its index is the object's, its block was not
  // moved (moveBlock ends it) and no repair ran and nothing was discarded
  // since (forgetPlacements ends them all): a stored block changes place or
  // size only so, or by its own object's save, which notes it again.
  void notePlacement(cIndexedObject& object, int64_t dataPosition, int32_t capacity) {
    object.placement_ = {dataPosition, capacity, object.soupIndex_, placementEpoch_};
  }
  bool isPlaced(const cIndexedObject& object) const {
    const cIndexedObject::Placement& p = object.placement_;
    return p.epoch == placementEpoch_ && p.index == object.soupIndex_ && p.index > 0;
  }
  // Epochs are unique in the process: no soup takes another's placement.
  void forgetPlacements();
  // The block file's move, which ends the placement of the block it moved
  // (the loaded object its index word names, which the move copied).
  MovedBlock moveBlock(int64_t block, int64_t desired);
  // Keeps what movedDataHead answers from a move.
  void noteMovedHead(const MovedBlock& m);
  void finishClose() noexcept;
  bool createFile(Text path, bool flag);
  bool openFile(Text path, bool flag, bool isNew, bool forReading = false);
  void openSteps(bool isNew);

  bool autoCompact_ = false;
  std::unique_ptr<SoupBlockFile> file_;
  cRestoreStream_any_cFile_Soup stream_;
  std::unique_ptr<cNumberSpace_cnumberspace> table_;
  // One bit per index that was put into the table since the soup opened:
  // an index without its bit holds no object, so a walk along a list whose
  // nodes are not loaded asks the table nothing. Bits are never cleared.
  std::vector<uint64_t> everRegistered_;
  void registerObject(int32_t index, cIndexedObject* object);
  bool hasRegisteredBitFor(int32_t index) const {
    return index < 0 || (static_cast<size_t>(index) >> 6) < everRegistered_.size();
  }
  bool mayBeRegistered(int32_t index) const {
    if (index < 0) return true;
    const auto word = static_cast<size_t>(index) >> 6;
    return word < everRegistered_.size() && ((everRegistered_[word] >> (index & 63)) & 1) != 0;
  }
  int64_t usedBytes_ = 0;
  int32_t perBlockOverhead_ = 12;
  int64_t autoBlockToCompact_ = 0;
  int64_t autoDesiredBlock_ = 0;
  struct MovedHead {
    int64_t block = 0;
    uint64_t changeCount = 0;
    std::array<uint8_t, 8> data{};
  };
  MovedHead movedHead_;
  uint64_t placementEpoch_ = 0;
  bool needsRepair_ = false;
  std::function<void()> validationPoll_;
  bool mustClose_ = false;
};

}  // namespace bw

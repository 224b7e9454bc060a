// core/box.h - value boxes: one value of a kind wrapped in an object, so it
// can be kept where an object is expected (GUI list entries, map data, sort
// keys of news items).
//
// Invariants:
//   1. Each kind is a class of its own derived from `box`; isOfClass(
//      box::kClassName) holds for all of them, isSameClass only for the kind.
//   2. The value field is public; users read and write it directly.
//   3. boxSTRING and boxLIST own their value. end() releases it and leaves
//      the field NIL (empty for the list); the other kinds own nothing.
//   4. end() runs its release at most once, whether called explicitly before
//      the box is deleted or not at all (the destructor then frees the value).
//   5. exchange() stores a new value and returns the old one; for the owning
//      kinds the old value passes to the caller.
//
// The makers return a box the caller owns.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/object.h"
#include "core/str.h"

namespace bw {

class box : public class_base {
  BW_CLASS(box, class_base)

 public:
  // Releases what the box owns; later calls do nothing.
  void end() {
    if (takeEndPending()) endValue();
  }

 protected:
  // What a kind releases at end(); the kinds that own nothing keep this.
  virtual void endValue() {}
};

// A pointer the box does not own.
class boxPTR : public box {
  BW_CLASS(boxPTR, box)

 public:
  explicit boxPTR(void* v = nullptr) : value(v) {}
  void* exchange(void* v);

  void* value;
};

// A pointer to an array the box does not own.
class boxARRAY : public box {
  BW_CLASS(boxARRAY, box)

 public:
  explicit boxARRAY(void* v = nullptr) : value(v) {}
  void* exchange(void* v);

  void* value;
};

// A string the box owns.
class boxSTRING : public box {
  BW_CLASS(boxSTRING, box)

 public:
  explicit boxSTRING(Str v = Str()) : value(std::move(v)) {}
  // The old string passes to the caller.
  Str exchange(Str v);

  Str value;

 protected:
  void endValue() override;
};

// A list of words the box owns.
using WordList = std::vector<intptr_t>;

class boxLIST : public box {
  BW_CLASS(boxLIST, box)

 public:
  explicit boxLIST(WordList v = WordList()) : value(std::move(v)) {}
  // The old list passes to the caller.
  WordList exchange(WordList v);

  WordList value;

 protected:
  void endValue() override;
};

// A signed 32-bit value.
class boxVALUE : public box {
  BW_CLASS(boxVALUE, box)

 public:
  explicit boxVALUE(int32_t v = 0) : value(v) {}
  int32_t exchange(int32_t v);

  int32_t value;
};

// A signed 64-bit value; high() and low() are its two 32-bit words.
class boxBIGVALUE : public box {
  BW_CLASS(boxBIGVALUE, box)

 public:
  explicit boxBIGVALUE(int64_t v = 0) : value(v) {}
  int64_t exchange(int64_t v);

  int32_t high() const { return static_cast<int32_t>(static_cast<uint64_t>(value) >> 32); }
  uint32_t low() const { return static_cast<uint32_t>(static_cast<uint64_t>(value)); }

  int64_t value;
};

std::unique_ptr<boxPTR> newBoxPTR(void* pointer);
std::unique_ptr<boxARRAY> newBoxARRAY(void* array);
// The box takes ownership of the string.
std::unique_ptr<boxSTRING> newBoxSTRING(Str string);
// The box takes ownership of the list.
std::unique_ptr<boxLIST> newBoxLIST(WordList list);
std::unique_ptr<boxVALUE> newBoxVALUE(int32_t value);
// The 64-bit value whose high word is `high` and low word is `low`.
std::unique_ptr<boxBIGVALUE> newBoxBIGVALUE(int32_t high, uint32_t low);
std::unique_ptr<boxBIGVALUE> newBoxBIGVALUE(int64_t value);

}  // namespace bw

// fuzz/fuzz_spaces.cpp - number and string spaces driven by arbitrary
// operation streams and checked against std::unordered_map: every result,
// and every full iteration (each entry exactly once), must agree.
//
// Input: byte 0 picks the string space's case mode; then each operation is
// one byte (its low 3 bits the kind) followed by a key byte or two.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/number_space.h"
#include "core/string_space.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

struct Input {
  const uint8_t* p;
  const uint8_t* end;
  uint8_t next() { return p < end ? *p++ : 0; }
  bool more() const { return p < end; }
};

// ---- number space ----------------------------------------------------------

struct NumberRun {
  bw::cNumberSpace_VALUE_cnumberspace space;
  std::unordered_map<intptr_t, intptr_t> oracle;

  void checkAll() {
    std::unordered_set<intptr_t> seen;
    for (bool on = space.gotoFirst(); on; on = space.gotoNext()) {
      auto e = space.infoCurrent();
      check(seen.insert(e.key).second);
      auto it = oracle.find(e.key);
      check(it != oracle.end() && it->second == e.data);
    }
    check(seen.size() == oracle.size() && space.infoCount() == oracle.size());
  }

  void set(intptr_t key, intptr_t value, bool keepOld) {
    auto it = oracle.find(key);
    auto r = space.set(key, value, keepOld);
    check(r.present == (it != oracle.end()));
    if (it == oracle.end()) {
      check(r.data == 0);
      oracle.emplace(key, value);
    } else {
      check(r.data == (keepOld ? value : it->second));
      if (!keepOld) it->second = value;
    }
  }

  void step(Input& in) {
    uint8_t op = in.next();
    // Small keys around zero, the 31-bit edges, and a pointer-wide one.
    auto raw = static_cast<int8_t>(in.next());
    intptr_t key = raw;
    if ((op & 0x18) == 0x08) key += 2147483647 - 127;
    if ((op & 0x18) == 0x10) key += intptr_t{1} << 40;
    auto it = oracle.find(key);
    switch (op & 7) {
      case 0:
      case 1:
        set(key, (op >> 5) + 1, op & 1);
        break;
      case 2:
        check(space.get(key) == (it == oracle.end() ? 0 : it->second));
        break;
      case 3:
        check(space.get(key, true) == (it == oracle.end() ? 0 : it->second));
        if (it != oracle.end()) oracle.erase(it);
        break;
      case 4:
        check(space.remove(key) == (it != oracle.end()));
        if (it != oracle.end()) oracle.erase(it);
        break;
      case 5:  // enough new keys to make the space grow
        for (intptr_t k = 0; k < 100 * (1 + (op >> 5)); ++k) set(1000 + 1000 * raw + k, 7, false);
        break;
      case 6:
        checkAll();
        break;
      default:  // remove entries while iterating
        for (bool on = space.gotoFirst(); on && (op >> 3) > 0; --op) {
          intptr_t k = space.infoCurrent().key;
          check(space.remove(k));
          oracle.erase(k);
          on = space.infoCurrent().data != 0;
        }
        break;
    }
  }
};

// ---- string space ----------------------------------------------------------

struct Value : bw::class_base {};

std::string fold(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

struct StringRun {
  explicit StringRun(int32_t mode) : mode(mode), space(false, mode) {
    for (auto& v : values) v = std::make_unique<Value>();
  }
  struct Stored {
    bw::class_base* data;
    std::string spelling;
  };
  int32_t mode;
  bw::cStringSpace space;
  std::unordered_map<std::string, Stored> oracle;
  std::unique_ptr<Value> values[4];

  std::string oracleKey(const std::string& k) const { return mode == bw::cStringSpace::kCaseSensitive ? k : fold(k); }
  // The oracle entry that get(key, ., ignoreCase) must find.
  Stored* lookup(const std::string& key, bool ignoreCase) {
    auto it = oracle.find(oracleKey(key));
    if (it == oracle.end()) return nullptr;
    if (mode == bw::cStringSpace::kCaseChosenPerCall && !ignoreCase && it->second.spelling != key) return nullptr;
    return &it->second;
  }

  void checkAll() {
    std::unordered_set<std::string> seen;
    for (bool on = space.gotoFirst(); on; on = space.gotoNext()) {
      auto e = space.infoCurrent();
      check(seen.insert(e.key->str()).second);
      auto it = oracle.find(oracleKey(e.key->str()));
      check(it != oracle.end() && it->second.data == e.data && it->second.spelling == e.key->str());
    }
    check(seen.size() == oracle.size());
  }

  void step(Input& in) {
    uint8_t op = in.next();
    // Keys of up to three letters from "aAb", so case variants meet often.
    std::string key;
    for (int n = (op >> 3) & 3; n > 0; --n) key += "aAb"[in.next() % 3];
    bool flag = op & 0x20;
    switch (op & 7) {
      case 0: {
        bw::class_base* v = values[op >> 6].get();
        auto r = space.set(key, v, flag);
        auto it = oracle.find(oracleKey(key));
        check(r.present == (it != oracle.end()));
        if (it == oracle.end()) {
          check(r.data == nullptr);
          oracle.emplace(oracleKey(key), Stored{v, key});
        } else {
          bool replace = !flag && (mode != bw::cStringSpace::kCaseChosenPerCall || it->second.spelling == key);
          check(r.data == (replace ? it->second.data : v));
          if (replace) it->second.data = v;
        }
        break;
      }
      case 1:
      case 2: {
        Stored* s = lookup(key, flag);
        auto e = space.get(key, false, flag);
        check(e.data == (s ? s->data : nullptr));
        check(s ? (e.key && *e.key == s->spelling) : e.key == nullptr);
        break;
      }
      case 3:
      case 4: {
        Stored* s = lookup(key, flag);
        bw::class_base* expected = s ? s->data : nullptr;
        if ((op & 7) == 3) {
          check(space.get(key, true, flag).data == expected);
        } else {
          check(space.remove(key, flag) == (expected != nullptr));
        }
        if (s) oracle.erase(oracleKey(s->spelling));
        break;
      }
      case 5:  // many keys at once, so the index grows
        for (int k = 0; k < 400; ++k) {
          std::string bulk = key + std::to_string(k);
          auto it = oracle.find(oracleKey(bulk));
          if (it != oracle.end()) continue;
          space.set(bulk, values[0].get());
          oracle.emplace(oracleKey(bulk), Stored{values[0].get(), bulk});
        }
        break;
      default:
        checkAll();
        break;
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static constexpr int32_t kModes[] = {bw::cStringSpace::kCaseSensitive, bw::cStringSpace::kCaseInsensitive,
                                       bw::cStringSpace::kCaseChosenPerCall};
  Input in{data + 1, data + size};
  NumberRun numbers;
  StringRun strings(kModes[data[0] % 3]);
  while (in.more()) {
    if (in.next() & 1) {
      numbers.step(in);
    } else {
      strings.step(in);
    }
  }
  numbers.checkAll();
  strings.checkAll();
  return 0;
}

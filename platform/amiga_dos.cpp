// platform/amiga_dos.cpp - pAmigaDos: grow-and-retry name procedures and
// path joining.
#include "platform/amiga_dos.h"

#include "core/exception.h"
#include "platform/dos_errors.h"
#include "platform/dos_procs.h"
#include "platform/native_path.h"

namespace bw::pAmigaDos {
namespace {

constexpr int32_t kFirstCapacity = 128;
constexpr int32_t kLastCapacity = 64 * 1024;

// Grow and retry for calls that fail with 120 when the name does not fit.
template <typename Fill>
Str growName(Fill fill) {
  for (int32_t capacity = kFirstCapacity; capacity <= kLastCapacity; capacity *= 2) {
    Str text = Str::withCapacity(capacity);
    if (fill(text)) return text;
    int32_t err = dos::ioErr();
    if (err != dos::kErrorLineTooLong) return Str();
  }
  return Str();
}

// Grow and retry for the current directory and program name: stop on
// success with room to spare, or on a wrong-type failure.
template <typename Fill>
Str growSafe(Fill fill) {
  for (int32_t capacity = kFirstCapacity; capacity <= kLastCapacity; capacity *= 2) {
    Str text = Str::withCapacity(capacity);
    if (fill(text)) {
      if (text.length() < capacity) return text;
      continue;
    }
    if (dos::ioErr() == dos::kErrorObjectWrongType) return Str();
  }
  return Str();
}

}  // namespace

Str strLastComponent(Text native) {
  std::string_view p = native.nulView();
  if (native.isNil()) return Str();
  return Str(p.substr(dos::filePartIndex(p)));
}

Str strPathPart(Text native) {
  std::string_view p = native.nulView();
  if (native.isNil()) return Str();
  return Str(p.substr(0, dos::pathPartIndex(p)));
}

Str strJoinPart(Text path, Text part, bool pathPartOnly) {
  std::string_view p = path.isNil() ? std::string_view() : path.nulView();
  std::string_view q = part.isNil() ? std::string_view() : part.nulView();
  Str joined = Str::withCapacity(static_cast<int32_t>(p.size() + q.size() + 2));
  joined.assign(pathPartOnly ? p.substr(0, dos::pathPartIndex(p)) : p);
  if (!dosAddPartInto(joined, q)) raise("BUG", "pAmigaDos; strJoinPart(); the allocated string was too small");
  return joined;
}

Str strNameFromLock(const dos::Lock& lock) {
  return growName([&](Str& text) { return dosNameFromLockInto(text, lock); });
}

Str strNameFromFH(dos::FileHandle& handle) {
  return growName([&](Str& text) { return dosNameFromFHInto(text, handle); });
}

Str strPathOfLockAndName(const dos::Lock& lock, Text name) {
  Str dir = strNameFromLock(lock);
  if (dir.isNil()) return Str();
  std::string_view n = name.isNil() ? std::string_view() : name.nulView();
  Str joined = Str::withCapacity(static_cast<int32_t>(dir.length() + n.size() + 2), dir.view());
  if (!dosAddPartInto(joined, n)) return Str();
  return joined;
}

Str strGetVar(Text name, uint32_t flags) {
  for (int32_t capacity = kFirstCapacity; capacity <= kLastCapacity; capacity *= 2) {
    Str text = Str::withCapacity(capacity);
    if (!dosGetVarInto(name, text, flags)) return Str();
    // IoErr holds the value's full length: retry only when it was cut.
    if (dos::ioErr() <= text.length()) {
      dos::setIoErr(0);  // the length is no error for later readers of IoErr
      return text;
    }
  }
  return Str();
}

Str strSafeGetNameOfCurrentDir() {
  return growSafe([](Str& text) { return dosCurrentDirNameInto(text); });
}

Str strSafeGetProgramName() {
  return growSafe([](Str& text) { return dosProgramNameInto(text); });
}

}  // namespace bw::pAmigaDos
